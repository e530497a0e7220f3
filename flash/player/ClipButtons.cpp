// Clips acting as buttons: a sprite given a button handler (onPress, onRelease, onReleaseOutside,
// onRollOver, onRollOut, onDragOver, onDragOut) takes the mouse where its visible shapes are, before
// what lies under it, unless a script set its `enabled` to false. The player's mouse handling then
// runs its handlers as it runs a button instance's.
#include "flash/player/Player.h"

namespace flash {

bool Player::ClipTakesMouse(const DisplayObject& object, const QTransform& toStage, QPointF point) {
    static const QString Handlers[] = {
        QStringLiteral("onPress"),    QStringLiteral("onRelease"), QStringLiteral("onReleaseOutside"),
        QStringLiteral("onRollOver"), QStringLiteral("onRollOut"), QStringLiteral("onDragOver"),
        QStringLiteral("onDragOut"),
    };
    if (!object.sprite || !interpreter.HasHandlers())
        return false;
    const ClipRef clip = SpriteClip(object.sprite);
    if (std::none_of(std::begin(Handlers), std::end(Handlers),
                     [&](const QString& name) { return interpreter.HasHandler(clip, name); }))
        return false;
    const ActionValue enabled = interpreter.Variable(clip, QStringLiteral("enabled"));
    if (!std::holds_alternative<std::monostate>(enabled) && !ActionBool(enabled))
        return false;
    return host.ListHit(object.sprite->displayList, toStage, point);
}

} // namespace flash

// The player's keyboard: keys going down and up reach the buttons waiting for them, the clips'
// key handlers and the listeners of Key; and the messages queued for the listeners of Key and Mouse.

#include "flash/player/Keys.h"
#include "flash/player/Player.h"

namespace flash {

bool Player::KeyPress(int keyCode) {
    const KeyStroke key = KeyOfButtonCode(keyCode);
    if (key.code == 0)
        return false;
    const bool found = KeyDown(key.code, key.ascii);
    KeyUp(key.code, key.ascii);
    return found;
}

bool Player::KeyDown(int code, int ascii) {
    if (code <= 0)
        return false;
    interpreter.World().keys.Press(code, ascii);
    const int buttonCode = ButtonCodeOf({code, ascii});
    const bool found = buttonCode > 0 && QueueKeyActions(buttonCode);
    if (hasClipEvents) {
        QueueClipEvents(ClipEventKeyDown, 0);
        if (buttonCode > 0)
            QueueClipEvents(ClipEventKeyPress, buttonCode);
    }
    QueueBroadcast(interpreter.World().key, QStringLiteral("onKeyDown"));
    RunScripts();
    return found;
}

void Player::KeyUp(int code, int ascii) {
    if (code <= 0)
        return;
    interpreter.World().keys.Release(code, ascii);
    if (hasClipEvents)
        QueueClipEvents(ClipEventKeyUp, 0);
    QueueBroadcast(interpreter.World().key, QStringLiteral("onKeyUp"));
    RunScripts();
}

bool Player::MouseHidden() const {
    return !interpreter.World().mouseShown;
}

void Player::QueueBroadcast(ScriptObject* broadcaster, const QString& message) {
    if (broadcaster)
        Enqueue({ClipRef::Root(), {}, {}, {}, [this, broadcaster, message](long long& budget) {
                     interpreter.Broadcast(broadcaster, message, budget);
                 }});
}

} // namespace flash

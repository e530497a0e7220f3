// The script host's answers about clips' geometry, depths and names: where a clip maps on the stage,
// the box around what it shows, hits on its shapes, the mouse, depths as scripts count them, empty
// clips made by scripts, instance names and drop targets. Walks stop MaxFindNesting levels down.
#include "flash/player/ScriptHost.h"

#include "flash/player/Geometry.h"

#include <QUrl>

namespace flash {

namespace {

// Where a sprite is placed: its entry, the list holding it, that list's timeline and how the list's
// coordinates map to the stage.
struct Location {
    DisplayObject* object = nullptr;
    DisplayList* list = nullptr;
    ClipRef parent;
    QTransform listToStage;
};

std::optional<Location> Locate(DisplayList& list, const ClipRef& owner, const QTransform& listToStage,
                               const SpriteInstance* sprite, int nesting) {
    if (nesting > MaxFindNesting)
        return std::nullopt;
    for (auto& [depth, object] : list) {
        if (object.sprite.get() == sprite)
            return Location{&object, &list, owner, listToStage};
        const QTransform inner = ToQTransform(object.matrix) * listToStage;
        std::optional<Location> found;
        if (object.sprite)
            found = Locate(object.sprite->displayList, SpriteClip(object.sprite), inner, sprite, nesting + 1);
        else if (object.button)
            found = Locate(object.button->displayList, owner, inner, sprite, nesting + 1);
        if (found)
            return found;
    }
    return std::nullopt;
}

std::optional<Location> LocateClip(DisplayList& stage, const ClipRef& clip) {
    const auto sprite = clip.sprite.lock();
    if (clip.root || !sprite)
        return std::nullopt;
    return Locate(stage, ClipRef::Root(), QTransform(), sprite.get(), 0);
}

// A display list key as scripts number depths.
int ScriptDepth(int key) {
    return key - ScriptHost::ScriptDepthBase;
}

} // namespace

std::optional<QTransform> ScriptHost::StageTransform(const ClipRef& clip) {
    if (clip.root)
        return QTransform();
    const auto at = LocateClip(state.stage, clip);
    return at ? std::optional(ToQTransform(at->object->matrix) * at->listToStage) : std::nullopt;
}

std::optional<QRectF> ScriptHost::ContentBounds(const ClipRef& clip, const QTransform& clipToSpace) {
    const DisplayList* list = ListOf(clip);
    return list ? ListBounds(*list, clipToSpace) : std::nullopt;
}

bool ScriptHost::HitsShape(const ClipRef& clip, QPointF stagePoint) {
    const DisplayList* list = ListOf(clip);
    const auto toStage = StageTransform(clip);
    return list && toStage && ListHitsShape(*list, *toStage, stagePoint, false, shapeAreas);
}

bool ScriptHost::ListHit(const DisplayList& list, const QTransform& listToStage, QPointF stagePoint) {
    return ListHitsShape(list, listToStage, stagePoint, true, shapeAreas);
}

QPointF ScriptHost::MousePosition() {
    return state.mouse;
}

std::optional<int> ScriptHost::Depth(const ClipRef& clip) {
    if (clip.root)
        return ScriptDepth(0);
    const auto at = LocateClip(state.stage, clip);
    return at ? std::optional(ScriptDepth(at->object->depth)) : std::nullopt;
}

ClipRef ScriptHost::AtDepth(const ClipRef& owner, int depth) {
    const DisplayList* list = ListOf(owner);
    const int key = depth + ScriptDepthBase;
    if (!list || key < 0 || key > 0xFFFF)
        return {};
    const auto found = list->find(std::uint16_t(key));
    if (found == list->end())
        return {};
    if (found->second.sprite)
        return SpriteClip(found->second.sprite);
    if (found->second.button)
        return ClipRef::Of(std::weak_ptr<ButtonInstance>(found->second.button));
    return {};
}

int ScriptHost::NextHighestDepth(const ClipRef& owner) {
    const DisplayList* list = ListOf(owner);
    if (!list)
        return 0;
    // Loaded levels hold the top depths of the stage; scripts do not count them.
    auto highest = list->rbegin();
    while (owner.root && highest != list->rend() && highest->first >= LevelKey(1))
        ++highest;
    if (highest == list->rend() || highest->first < ScriptDepthBase)
        return 0;
    return ScriptDepth(highest->first) + 1;
}

void ScriptHost::SwapDepths(const ClipRef& clip, int depth) {
    const auto at = LocateClip(state.stage, clip);
    const int key = depth + ScriptDepthBase;
    if (!at || key < 0 || key > 0xFFFF || at->object->depth == key)
        return;
    DisplayList& list = *at->list;
    auto moving = list.extract(at->object->depth);
    auto other = list.extract(std::uint16_t(key));
    const std::uint16_t from = moving.key();
    // Both now belong to scripts: the timeline no longer places or removes them.
    if (other) {
        other.key() = from;
        other.mapped().depth = from;
        other.mapped().duplicate = true;
        list.insert(std::move(other));
    }
    moving.key() = std::uint16_t(key);
    moving.mapped().depth = std::uint16_t(key);
    moving.mapped().duplicate = true;
    list.insert(std::move(moving));
}

const std::shared_ptr<const Character>& ScriptHost::EmptySprite() {
    if (!emptySprite) {
        Sprite sprite;
        sprite.timeline.frameCount = 1;
        sprite.timeline.frames.resize(1);
        emptySprite = std::make_shared<const Character>(std::move(sprite));
    }
    return emptySprite;
}

ClipRef ScriptHost::CreateEmpty(const ClipRef& owner, const QString& name, int depth) {
    if (depth < 0)
        return {};
    const auto& empty = EmptySprite();
    DisplayObject object;
    object.character = empty;
    return PlaceSprite(owner, std::move(object), &std::get<Sprite>(*empty), name, depth);
}

QString ScriptHost::Name(const ClipRef& clip) {
    if (clip.root)
        return {};
    const auto at = LocateClip(state.stage, clip);
    return at ? at->object->name : QString();
}

void ScriptHost::Rename(const ClipRef& clip, const QString& name) {
    if (const auto at = LocateClip(state.stage, clip))
        at->object->name = name;
}

ClipRef ScriptHost::DropTarget(const ClipRef& dragged) {
    const auto sprite = dragged.sprite.lock();
    if (!sprite || !(lastDragged == dragged))
        return {};
    // The innermost clip whose shapes are under the mouse, topmost first, outside the one dragged.
    const auto under = [&](const auto& self, const DisplayList& list, const QTransform& listToStage,
                           int nesting) -> ClipRef {
        if (nesting > MaxFindNesting)
            return {};
        for (auto it = list.rbegin(); it != list.rend(); ++it) {
            const DisplayObject& object = it->second;
            if (!object.sprite || object.sprite == sprite || !object.visible || object.clipDepth > 0)
                continue;
            const QTransform toStage = ToQTransform(object.matrix) * listToStage;
            if (const ClipRef inner = self(self, object.sprite->displayList, toStage, nesting + 1);
                inner.Valid())
                return inner;
            if (ListHitsShape(object.sprite->displayList, toStage, state.mouse, true, shapeAreas,
                              sprite.get()))
                return SpriteClip(object.sprite);
        }
        return {};
    };
    return under(under, state.stage, QTransform(), 0);
}

int ScriptHost::RequestLoad(LoadKind kind, const ClipRef& target, int level, const QString& address) {
    if (loadRequests.size() >= MaxLoadRequests || (level < 0 && !target.Valid()) || level > MaxLevel)
        return 0;
    const int number = ++loadsRequested;
    loadRequests.push_back({number, kind, level < 0 ? target : ClipRef{}, level, address});
    return number;
}

ClipRef ScriptHost::Level(int level) {
    if (level == 0)
        return ClipRef::Root();
    if (level < 0 || level > MaxLevel)
        return {};
    const auto found = state.stage.find(std::uint16_t(LevelKey(level)));
    return found != state.stage.end() && found->second.sprite ? SpriteClip(found->second.sprite) : ClipRef{};
}

std::optional<int> ScriptHost::LevelOf(const ClipRef& clip) {
    if (clip.root)
        return 0;
    const auto sprite = clip.sprite.lock();
    for (const auto& [key, object] : state.stage)
        if (key >= LevelKey(1) && sprite && object.sprite == sprite)
            return key - LevelKey(0);
    return std::nullopt;
}

QString ScriptHost::MovieUrl() {
    return state.movie->fileName.isEmpty() ? QString()
                                           : QUrl::fromLocalFile(state.movie->fileName).toString();
}

} // namespace flash

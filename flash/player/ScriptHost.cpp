#include "flash/player/ScriptHost.h"

#include "flash/media/SoundMixer.h"
#include "flash/player/Drawing.h"
#include "flash/player/Geometry.h"

#include <algorithm>
#include <cmath>

namespace flash {

namespace {

int LabelIn(const Timeline& timeline, const QString& label) {
    for (std::size_t frame = 0; frame < timeline.frames.size(); ++frame)
        for (const ControlTag& tag : timeline.frames[frame].tags)
            if (const auto* frameLabel = std::get_if<FrameLabel>(&tag))
                if (frameLabel->name.compare(label, Qt::CaseInsensitive) == 0)
                    return int(frame);
    return -1;
}

DisplayObject* FindPlacement(DisplayList& list, const SpriteInstance* sprite, int nesting) {
    if (nesting > MaxFindNesting)
        return nullptr;
    for (auto& [depth, object] : list) {
        if (object.sprite.get() == sprite)
            return &object;
        DisplayList* inner = object.sprite   ? &object.sprite->displayList
                             : object.button ? &object.button->displayList
                                             : nullptr;
        if (inner)
            if (DisplayObject* found = FindPlacement(*inner, sprite, nesting + 1))
                return found;
    }
    return nullptr;
}

// The timeline a sprite is placed on, and how that timeline's coordinates map to the stage.
struct ParentPlacement {
    ClipRef clip;
    QTransform toStage;
};

std::optional<ParentPlacement> FindParent(const DisplayList& list, const ParentPlacement& owner,
                                          const SpriteInstance* child, int nesting) {
    if (nesting > MaxFindNesting)
        return std::nullopt;
    for (const auto& [depth, object] : list) {
        if (object.sprite.get() == child)
            return owner;
        const QTransform inner = ToQTransform(object.matrix) * owner.toStage;
        std::optional<ParentPlacement> found;
        if (object.sprite)
            found = FindParent(object.sprite->displayList, {SpriteClip(object.sprite), inner}, child,
                               nesting + 1);
        else if (object.button)
            found = FindParent(object.button->displayList, {owner.clip, inner}, child, nesting + 1);
        if (found)
            return found;
    }
    return std::nullopt;
}

std::optional<ParentPlacement> ParentOf(const DisplayList& stage, const ClipRef& clip) {
    const auto sprite = clip.sprite.lock();
    return clip.root || !sprite ? std::nullopt : FindParent(stage, {ClipRef::Root(), {}}, sprite.get(), 0);
}

// Maps stage twips into the coordinates of a sprite's parent; nothing when it is not on stage or its
// parent squeezes it to nothing.
std::optional<QTransform> ParentFromStage(const DisplayList& stage, const ClipRef& clip) {
    const auto parent = ParentOf(stage, clip);
    bool invertible = false;
    const QTransform inverse = parent ? parent->toStage.inverted(&invertible) : QTransform();
    return invertible ? std::optional(inverse) : std::nullopt;
}

} // namespace

ScriptHost::ScriptHost(TimelineState& state, TimelineControl& control, TraceHandler trace, TraceHandler notes)
    : state(state), control(control), trace(std::move(trace)), notes(std::move(notes)) {}

ClipRef ScriptHost::Parent(const ClipRef& clip) {
    const auto parent = ParentOf(state.stage, clip);
    return parent ? parent->clip : ClipRef{};
}

ClipRef ScriptHost::Child(const ClipRef& clip, const QString& name) {
    const DisplayList* list = ListOf(clip);
    if (!list)
        return {};
    for (const auto& [depth, object] : *list) {
        if (object.name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (object.sprite)
            return SpriteClip(object.sprite);
        if (object.button)
            return ClipRef::Of(std::weak_ptr<ButtonInstance>(object.button));
    }
    return {};
}

int ScriptHost::CurrentFrame(const ClipRef& clip) {
    if (clip.root)
        return state.currentFrame;
    const auto sprite = clip.sprite.lock();
    return sprite ? sprite->currentFrame : 0;
}

int ScriptHost::FrameCount(const ClipRef& clip) {
    if (clip.root)
        return state.FrameCount();
    const auto sprite = clip.sprite.lock();
    return sprite ? sprite->sprite->timeline.FrameCount() : 0;
}

int ScriptHost::LabelFrame(const ClipRef& clip, const QString& label) {
    if (clip.root) {
        const Movie& movie = *state.movie;
        if (const auto found = movie.frameLabels.find(label); found != movie.frameLabels.end())
            return found->second;
        return LabelIn(movie.timeline, label);
    }
    const auto sprite = clip.sprite.lock();
    return sprite ? LabelIn(sprite->sprite->timeline, label) : -1;
}

void ScriptHost::GotoFrame(const ClipRef& clip, int frame, std::optional<bool> play) {
    if (clip.root)
        control.GotoMainFrame(frame);
    else if (const auto sprite = clip.sprite.lock())
        control.GotoSpriteFrame(*sprite, frame);
    if (play)
        SetPlaying(clip, *play);
}

void ScriptHost::SetPlaying(const ClipRef& clip, bool playing) {
    if (clip.root)
        control.SetMainPlaying(playing);
    else if (const auto sprite = clip.sprite.lock())
        sprite->playing = playing;
}

void ScriptHost::StopSounds() {
    if (state.mixer)
        state.mixer->StopAllSounds();
}

void ScriptHost::Duplicate(const ClipRef& clip, const QString& name, int depth) {
    const auto sprite = clip.sprite.lock();
    const auto owner = ParentOf(state.stage, clip);
    const DisplayObject* source = Placement(clip);
    if (!sprite || !owner || !source)
        return;
    DisplayObject copy;
    copy.characterId = source->characterId;
    copy.character = source->character;
    copy.matrix = source->matrix;
    copy.colorTransform = source->colorTransform;
    copy.blendMode = source->blendMode;
    copy.filters = source->filters;
    copy.visible = source->visible;
    copy.clipActions = source->clipActions;
    PlaceSprite(owner->clip, std::move(copy), sprite->sprite, name, depth);
}

ClipRef ScriptHost::Attach(const ClipRef& clip, const QString& linkage, const QString& name, int depth) {
    const Movie& movie = *state.movie;
    const auto exported = movie.exports.find(linkage.toLower());
    if (exported == movie.exports.end())
        return {};
    const auto found = movie.dictionary.find(exported->second);
    const Sprite* sprite =
        found == movie.dictionary.end() ? nullptr : std::get_if<Sprite>(found->second.get());
    if (!sprite)
        return {};
    DisplayObject object;
    object.characterId = exported->second;
    object.character = found->second;
    return PlaceSprite(clip, std::move(object), sprite, name, depth);
}

void ScriptHost::Remove(const ClipRef& clip) {
    const auto owner = ParentOf(state.stage, clip);
    DisplayList* list = owner ? ListOf(owner->clip) : nullptr;
    const DisplayObject* placed = Placement(clip);
    if (!list || !placed || !placed->duplicate)
        return;
    const std::uint16_t depth = placed->depth;
    control.Leave(*placed);
    list->erase(depth);
}

void ScriptHost::StartDrag(const ClipRef& clip, bool lockCenter, const std::optional<QRectF>& bounds) {
    drag = Drag{clip, {}, bounds};
    lastDragged = clip;
    if (!lockCenter) {
        // Kept at its distance from the pointer.
        const DisplayObject* object = Placement(clip);
        const auto inverse = ParentFromStage(state.stage, clip);
        if (object && inverse)
            drag->offset = QPointF(object->matrix.tx, object->matrix.ty) - inverse->map(state.mouse);
    }
    FollowMouse();
}

void ScriptHost::StopDrag() {
    drag.reset();
}

void ScriptHost::FollowMouse() {
    if (!drag)
        return;
    DisplayObject* object = Placement(drag->clip);
    const auto inverse = ParentFromStage(state.stage, drag->clip);
    if (!object || !inverse) {
        drag.reset(); // the clip has left the stage
        return;
    }
    QPointF at = inverse->map(state.mouse) + drag->offset;
    if (drag->bounds) {
        const QRectF& b = *drag->bounds;
        at.setX(std::clamp(at.x(), b.left() * TwipsPerPixel, b.right() * TwipsPerPixel));
        at.setY(std::clamp(at.y(), b.top() * TwipsPerPixel, b.bottom() * TwipsPerPixel));
    }
    object->matrix.tx = std::round(std::clamp(at.x(), -MaxPropertyValue, MaxPropertyValue));
    object->matrix.ty = std::round(std::clamp(at.y(), -MaxPropertyValue, MaxPropertyValue));
    object->scripted = true;
}

double ScriptHost::MovieBytes() {
    return double(state.movie->fileLength);
}

void ScriptHost::Trace(const QString& line) {
    if (trace)
        trace(line);
}

void ScriptHost::Note(const QString& line) {
    if (notes)
        notes(line);
}

QSizeF ScriptHost::StageSize() {
    const Rect& frame = state.movie->frameSize;
    return QSizeF(double(frame.xMax - frame.xMin) / TwipsPerPixel,
                  double(frame.yMax - frame.yMin) / TwipsPerPixel);
}

double ScriptHost::Milliseconds() {
    const double rate = state.movie->frameRate > 0 ? state.movie->frameRate : 12;
    return double(state.ticks) * 1000 / rate;
}

std::optional<double> ScriptHost::Property(const ClipRef& clip, int property) {
    const DisplayObject* object = Placement(clip);
    if (!object)
        return std::nullopt;
    const Matrix& m = object->matrix;
    switch (property) {
    case PropertyX:
        return m.tx / TwipsPerPixel;
    case PropertyY:
        return m.ty / TwipsPerPixel;
    case PropertyXScale:
        return std::hypot(m.a, m.b) * 100;
    case PropertyYScale:
        return std::hypot(m.c, m.d) * 100;
    case PropertyAlpha:
        return object->colorTransform.aMul * 100;
    case PropertyVisible:
        return object->visible ? 1 : 0;
    case PropertyRotation:
        return std::atan2(m.b, m.a) * 180 / M_PI;
    default:
        return std::nullopt;
    }
}

void ScriptHost::SetProperty(const ClipRef& clip, int property, double value) {
    DisplayObject* object = Placement(clip);
    if (!object || !std::isfinite(value))
        return;
    value = std::clamp(value, -MaxPropertyValue, MaxPropertyValue);
    Matrix& m = object->matrix;
    // Scale and rotation are set apart, keeping the angle between the axes (the skew).
    double xScale = std::hypot(m.a, m.b), yScale = std::hypot(m.c, m.d);
    double rotation = std::atan2(m.b, m.a);
    const double skew = std::atan2(-m.c, m.d) - rotation;
    switch (property) {
    case PropertyX:
        m.tx = std::round(value * TwipsPerPixel);
        break;
    case PropertyY:
        m.ty = std::round(value * TwipsPerPixel);
        break;
    case PropertyXScale:
    case PropertyYScale:
    case PropertyRotation:
        (property == PropertyXScale   ? xScale
         : property == PropertyYScale ? yScale
                                      : rotation) =
            property == PropertyRotation ? value * M_PI / 180 : value / 100;
        m.a = xScale * std::cos(rotation);
        m.b = xScale * std::sin(rotation);
        m.c = -yScale * std::sin(rotation + skew);
        m.d = yScale * std::cos(rotation + skew);
        break;
    case PropertyAlpha:
        object->colorTransform.aMul = value / 100;
        break;
    case PropertyVisible:
        object->visible = value != 0;
        break;
    default:
        return;
    }
    object->scripted = true;
}

std::shared_ptr<TextFieldState> ScriptHost::Field(const ClipRef& clip, const QString& name) {
    const DisplayList* list = ListOf(clip);
    if (!list)
        return {};
    for (const auto& [depth, object] : *list)
        if (object.field && object.name.compare(name, Qt::CaseInsensitive) == 0)
            return object.field;
    return {};
}

Drawing* ScriptHost::DrawingOf(const ClipRef& clip) {
    DisplayList* list = ListOf(clip);
    if (!list)
        return nullptr;
    auto [entry, added] = list->try_emplace(DrawingDepth);
    DisplayObject& object = entry->second;
    if (added) {
        object.depth = DrawingDepth;
        object.duplicate = true; // kept when the timeline goes back, as clips scripts make are
        object.drawing = std::make_shared<Drawing>();
    }
    if (!object.drawing)
        return nullptr;
    if (!object.drawing->changed) {
        object.drawing->changed = true;
        drawn.push_back(clip);
    }
    return object.drawing.get();
}

const Drawing* ScriptHost::DrawingIn(const DisplayList& list) {
    const auto found = list.find(DrawingDepth);
    return found == list.end() ? nullptr : found->second.drawing.get();
}

void ScriptHost::PublishDrawings() {
    for (const ClipRef& clip : drawn) {
        DisplayList* list = ListOf(clip);
        const auto found = list ? list->find(DrawingDepth) : DisplayList::iterator();
        if (!list || found == list->end() || !found->second.drawing)
            continue;
        found->second.character = found->second.drawing->Publish();
        found->second.fillBitmaps = found->second.drawing->FillBitmaps();
        found->second.drawing->changed = false;
    }
    drawn.clear();
}

DisplayObject* ScriptHost::PlacementOf(const ClipRef& clip) {
    return Placement(clip);
}

// Puts a new instance of a sprite, made by a script, at a script depth of the owner's list, in
// place of what was there; it shows its first frame and runs its load handlers.
ClipRef ScriptHost::PlaceSprite(const ClipRef& owner, DisplayObject object, const Sprite* sprite,
                                const QString& name, int depth) {
    DisplayList* list = ListOf(owner);
    const int key = depth + ScriptDepthBase;
    if (!list || key > 0xFFFF || (list->size() >= MaxListSize && !list->count(key)))
        return {};
    // A clip too deep for the stage's walks to find gets no clips inside it.
    if (!owner.root && !ParentOf(state.stage, owner)) {
        control.Warn(QStringLiteral("skipped sprites nested deeper than %1").arg(MaxSpriteNesting));
        return {};
    }
    object.depth = std::uint16_t(key);
    object.name = name;
    object.duplicate = true;
    object.sprite = state.NewSprite(sprite);
    if (const auto existing = list->find(object.depth); existing != list->end())
        control.Leave(existing->second);
    DisplayObject& placed = (*list)[object.depth] = std::move(object);
    control.StartPlacedSprite(placed);
    return SpriteClip(placed.sprite);
}

// Where a sprite is placed: its entry in its parent's display list.
DisplayObject* ScriptHost::Placement(const ClipRef& clip) {
    const auto sprite = clip.sprite.lock();
    return clip.root || !sprite ? nullptr : FindPlacement(state.stage, sprite.get(), 0);
}

DisplayList* ScriptHost::ListOf(const ClipRef& clip) const {
    if (clip.root)
        return &state.stage;
    const auto sprite = clip.sprite.lock();
    return sprite ? &sprite->displayList : nullptr;
}

} // namespace flash

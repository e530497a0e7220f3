// The Player's scripts and buttons: the interpreter's view of the timelines, the script queue, and
// the mouse.

#include "flash/player/Player.h"

#include "flash/media/SoundMixer.h"
#include "flash/player/Geometry.h"
#include "flash/swf/TagCodes.h"

#include <algorithm>
#include <cmath>

namespace flash {

namespace {

// Scripts run in one tick at most; a goto storm between frames ends here.
constexpr int MaxScriptsPerTick = 1000;
constexpr std::size_t MaxQueuedScripts = 4096;
constexpr int MaxButtonNesting = 8;
constexpr int MaxFindNesting = 64;
// Pixels, percent or degrees: far past any stage, still exact in twips.
constexpr double MaxPropertyValue = 1e7;
// Script depth 0 is this display list depth: Flash keeps the depths below it for the timeline.
constexpr int ScriptDepthBase = 16384;
// Clips a display list takes from duplicateMovieClip and attachMovie at most.
constexpr std::size_t MaxListSize = 4096;

ClipRef RootClip() {
    return ClipRef::Root();
}

ClipRef SpriteClip(const std::shared_ptr<SpriteInstance>& sprite) {
    return ClipRef::Of(std::weak_ptr(sprite));
}

int LabelIn(const Timeline& ATimeline, const QString& Label) {
    for (std::size_t frame = 0; frame < ATimeline.frames.size(); ++frame)
        for (const ControlTag& tag : ATimeline.frames[frame].tags)
            if (const auto* label = std::get_if<FrameLabel>(&tag))
                if (label->name.compare(Label, Qt::CaseInsensitive) == 0)
                    return int(frame);
    return -1;
}

} // namespace

class Player::Host : public ActionHost {
public:
    explicit Host(Player& owner) : player(owner) {}

    ClipRef Parent(const ClipRef& clip) override {
        const auto parent = ParentOf(clip);
        return parent ? parent->clip : ClipRef{};
    }

    ClipRef Child(const ClipRef& clip, const QString& name) override {
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

    int CurrentFrame(const ClipRef& clip) override {
        if (clip.root)
            return player.FCurrentFrame;
        const auto sprite = clip.sprite.lock();
        return sprite ? sprite->currentFrame : 0;
    }

    int FrameCount(const ClipRef& clip) override {
        if (clip.root)
            return player.TotalFrames();
        const auto sprite = clip.sprite.lock();
        return sprite ? sprite->sprite->timeline.FrameCount() : 0;
    }

    int LabelFrame(const ClipRef& clip, const QString& label) override {
        if (clip.root) {
            if (const auto found = player.FMovie->frameLabels.find(label);
                found != player.FMovie->frameLabels.end())
                return found->second;
            return LabelIn(player.FMovie->timeline, label);
        }
        const auto sprite = clip.sprite.lock();
        return sprite ? LabelIn(sprite->sprite->timeline, label) : -1;
    }

    void GotoFrame(const ClipRef& clip, int frame, std::optional<bool> play) override {
        if (clip.root)
            GotoMain(frame);
        else if (const auto sprite = clip.sprite.lock())
            GotoSprite(*sprite, frame);
        if (play)
            SetPlaying(clip, *play);
    }

    void SetPlaying(const ClipRef& clip, bool playing) override {
        if (clip.root) {
            if (playing)
                player.Play();
            else
                player.Stop();
        } else if (const auto sprite = clip.sprite.lock()) {
            sprite->playing = playing;
        }
    }

    void StopSounds() override {
        if (player.FMixer)
            player.FMixer->StopAllSounds();
    }

    void Duplicate(const ClipRef& clip, const QString& name, int depth) override {
        const auto sprite = clip.sprite.lock();
        const auto owner = ParentOf(clip);
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

    ClipRef Attach(const ClipRef& clip, const QString& linkage, const QString& name, int depth) override {
        const Movie& movie = *player.FMovie;
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

    void Remove(const ClipRef& clip) override {
        const auto owner = ParentOf(clip);
        DisplayList* list = owner ? ListOf(owner->clip) : nullptr;
        const DisplayObject* placed = Placement(clip);
        if (!list || !placed || !placed->duplicate)
            return;
        const std::uint16_t depth = placed->depth;
        player.StopSpriteStreams(*placed);
        list->erase(depth);
    }

    void StartDrag(const ClipRef& clip, bool lockCenter, const std::optional<QRectF>& bounds) override {
        drag = Drag{clip, {}, bounds};
        if (!lockCenter) {
            // Kept at its distance from the pointer.
            const DisplayObject* object = Placement(clip);
            const auto inverse = ParentFromStage(clip);
            if (object && inverse)
                drag->offset = QPointF(object->matrix.tx, object->matrix.ty) - inverse->map(player.FMouse);
        }
        FollowMouse();
    }

    void StopDrag() override { drag.reset(); }

    // Moves the clip being dragged to the mouse.
    void FollowMouse() {
        if (!drag)
            return;
        DisplayObject* object = Placement(drag->clip);
        const auto inverse = ParentFromStage(drag->clip);
        if (!object || !inverse) {
            drag.reset(); // the clip has left the stage
            return;
        }
        QPointF at = inverse->map(player.FMouse) + drag->offset;
        if (drag->bounds) {
            const QRectF& b = *drag->bounds;
            at.setX(std::clamp(at.x(), b.left() * TwipsPerPixel, b.right() * TwipsPerPixel));
            at.setY(std::clamp(at.y(), b.top() * TwipsPerPixel, b.bottom() * TwipsPerPixel));
        }
        object->matrix.tx = std::round(std::clamp(at.x(), -MaxPropertyValue, MaxPropertyValue));
        object->matrix.ty = std::round(std::clamp(at.y(), -MaxPropertyValue, MaxPropertyValue));
        object->scripted = true;
    }

    double MovieBytes() override { return double(player.FMovie->fileLength); }

    void Trace(const QString& line) override {
        if (player.FTrace)
            player.FTrace(line);
    }

    double Milliseconds() override {
        const double rate = player.FMovie->frameRate > 0 ? player.FMovie->frameRate : 12;
        return player.FTicks * 1000 / rate;
    }

    std::optional<double> Property(const ClipRef& clip, int property) override {
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

    void SetProperty(const ClipRef& clip, int property, double value) override {
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

private:
    // Puts a new instance of a sprite, made by a script, at a script depth of the owner's list,
    // in place of what was there; it shows its first frame and runs its load handlers.
    ClipRef PlaceSprite(const ClipRef& owner, DisplayObject object, const Sprite* sprite, const QString& name,
                        int depth) {
        DisplayList* list = ListOf(owner);
        const int key = depth + ScriptDepthBase;
        if (!list || key > 0xFFFF || (list->size() >= MaxListSize && !list->count(key)))
            return {};
        // A clip too deep for the stage's walks to find gets no clips inside it.
        if (!owner.root && !ParentOf(owner)) {
            player.Warn(
                QStringLiteral("skipped sprites nested deeper than %1").arg(Player::MaxSpriteNesting));
            return {};
        }
        object.depth = std::uint16_t(key);
        object.name = name;
        object.duplicate = true;
        object.sprite = std::make_shared<SpriteInstance>();
        object.sprite->sprite = sprite;
        if (const auto existing = list->find(object.depth); existing != list->end())
            player.StopSpriteStreams(existing->second);
        DisplayObject& placed = (*list)[object.depth] = std::move(object);
        player.AdvanceSprite(*placed.sprite, true);
        player.QueueClipEvent(placed, ClipEventLoad, 0);
        return SpriteClip(placed.sprite);
    }

    struct Drag {
        ClipRef clip;
        QPointF offset; // from the pointer, in the parent's twips
        std::optional<QRectF> bounds;
    };
    std::optional<Drag> drag;

    // Maps stage twips into the coordinates of a sprite's parent; nothing when it is not on stage or
    // its parent squeezes it to nothing.
    std::optional<QTransform> ParentFromStage(const ClipRef& clip) {
        const auto parent = ParentOf(clip);
        bool invertible = false;
        const QTransform inverse = parent ? parent->toStage.inverted(&invertible) : QTransform();
        return invertible ? std::optional(inverse) : std::nullopt;
    }

    // Where a sprite is placed: its entry in its parent's display list.
    DisplayObject* Placement(const ClipRef& clip) {
        const auto sprite = clip.sprite.lock();
        return clip.root || !sprite ? nullptr : FindPlacement(player.FStage, sprite.get(), 0);
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

    std::shared_ptr<TextFieldState> Field(const ClipRef& clip, const QString& name) override {
        const DisplayList* list = ListOf(clip);
        if (!list)
            return {};
        for (const auto& [depth, object] : *list)
            if (object.field && object.name.compare(name, Qt::CaseInsensitive) == 0)
                return object.field;
        return {};
    }

    DisplayList* ListOf(const ClipRef& clip) const {
        if (clip.root)
            return &player.FStage;
        const auto sprite = clip.sprite.lock();
        return sprite ? &sprite->displayList : nullptr;
    }

    // The timeline a sprite is placed on, and how that timeline's coordinates map to the stage.
    struct Placed {
        ClipRef clip; // the parent timeline
        QTransform toStage;
    };
    std::optional<Placed> ParentOf(const ClipRef& clip) {
        const auto sprite = clip.sprite.lock();
        return clip.root || !sprite ? std::nullopt
                                    : FindParent(player.FStage, {RootClip(), {}}, sprite.get(), 0);
    }

    std::optional<Placed> FindParent(const DisplayList& list, const Placed& owner,
                                     const SpriteInstance* child, int nesting) {
        if (nesting > MaxFindNesting)
            return std::nullopt;
        for (const auto& [depth, object] : list) {
            if (object.sprite.get() == child)
                return owner;
            const QTransform inner = ToQTransform(object.matrix) * owner.toStage;
            std::optional<Placed> found;
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

    void GotoMain(int frame) {
        frame = std::clamp(frame, 0, std::max(player.TotalFrames() - 1, 0));
        if (frame == player.FCurrentFrame)
            return;
        if (player.FMixer)
            player.FMixer->StopStream(&player.FMovie->timeline);
        player.FStreamStartFrame = -1;
        player.Seek(frame, true);
    }

    // As the main timeline seeks: backwards from the start, the frames on the way without scripts.
    void GotoSprite(SpriteInstance& sprite, int frame) {
        const Timeline& timeline = sprite.sprite->timeline;
        frame = std::clamp(frame, 0, std::max(timeline.FrameCount() - 1, 0));
        if (frame == sprite.currentFrame)
            return;
        if (frame < sprite.currentFrame) {
            for (const auto& [depth, child] : sprite.displayList)
                player.StopSpriteStreams(child);
            sprite.displayList.clear();
            if (player.FMixer)
                player.FMixer->StopStream(&sprite);
            sprite.currentFrame = -1;
        }
        while (sprite.currentFrame < frame) {
            const bool last = sprite.currentFrame + 1 == frame;
            player.FMuteScripts = !last;
            if (sprite.currentFrame >= 0)
                player.TickSprites(sprite.displayList, last);
            ++sprite.currentFrame;
            player.EnterFrame(timeline, sprite.currentFrame, sprite.displayList, &sprite, last);
        }
        player.FMuteScripts = false;
    }

    Player& player;
};

void Player::InitScripts() {
    FHost = std::make_shared<Host>(*this);
    FInterpreter = std::make_unique<ActionInterpreter>(*FHost);
    for (const auto& [id, character] : FMovie->dictionary)
        if (const auto* text = std::get_if<EditText>(character.get()); text && !text->variableName.isEmpty())
            FHasBoundTexts = true;
}

void Player::QueueScript(const OtherTag& Tag, const void* Key) {
    if (FMuteScripts || (Tag.code != tag::DoAction && Tag.code != tag::DoInitAction))
        return;
    if (FInitScripts.size() + FScripts.size() >= MaxQueuedScripts)
        return;
    if (Tag.code == tag::DoInitAction) {
        // The sprite id, then the actions; they run once, on the main timeline.
        if (Tag.data.size() < 2)
            return;
        const std::uint16_t spriteId = std::uint8_t(Tag.data[0]) | std::uint8_t(Tag.data[1]) << 8;
        if (FInitDone.insert(spriteId).second)
            FInitScripts.push_back({RootClip(), Tag.data.mid(2)});
        return;
    }
    ClipRef clip = RootClip();
    if (Key != &FMovie->timeline)
        clip = ClipRef::Of(
            const_cast<SpriteInstance*>(static_cast<const SpriteInstance*>(Key))->weak_from_this());
    FScripts.push_back({std::move(clip), Tag.data});
}

void Player::RunScripts() {
    if (FRunningScripts)
        return;
    FRunningScripts = true;
    long long budget = ActionInterpreter::StepsPerFrame;
    for (int run = 0; run < MaxScriptsPerTick && budget > 0; ++run) {
        std::deque<QueuedScript>& queue = FInitScripts.empty() ? FScripts : FInitScripts;
        if (queue.empty())
            break;
        const QueuedScript script = std::move(queue.front());
        queue.pop_front();
        if (!script.clip.Valid())
            continue;
        if (script.handler.isEmpty())
            FInterpreter->Run(script.code, script.clip, budget, FMovie->version);
        else
            FInterpreter->CallHandler(script.clip, script.handler, budget);
    }
    // What the budget cut off is dropped, as Flash drops a script it aborts.
    FInitScripts.clear();
    FScripts.clear();
    if (FHasBoundTexts)
        UpdateBoundTexts();
    FRunningScripts = false;
}

void Player::ForEachPlaced(DisplayList& List, const ClipRef& Owner, const PlacedVisit& Visit, int Nesting) {
    if (Nesting > MaxFindNesting)
        return;
    for (auto& [depth, object] : List) {
        Visit(object, Owner);
        if (object.sprite)
            ForEachPlaced(object.sprite->displayList, SpriteClip(object.sprite), Visit, Nesting + 1);
        if (object.button)
            ForEachPlaced(object.button->displayList, Owner, Visit, Nesting + 1);
    }
}

void Player::UpdateBoundTexts() {
    ForEachPlaced(
        FStage, RootClip(),
        [this](DisplayObject& object, const ClipRef& owner) {
            const auto* field = object.character ? std::get_if<EditText>(object.character.get()) : nullptr;
            if (!field || field->variableName.isEmpty())
                return;
            ActionValue value = FInterpreter->Variable(owner, field->variableName);
            if (std::holds_alternative<std::monostate>(value)) {
                // A field whose variable is not set gives the variable its text.
                value = field->initialText.value_or(QString());
                FInterpreter->SetVariable(owner, field->variableName, value);
            }
            // A new value shows; one a script set on the field itself stays until the variable changes.
            const QString shown = ActionText(value);
            if (object.field && object.field->bound != shown) {
                object.field->bound = shown;
                object.field->content = shown;
            }
        },
        0);
}

void Player::QueueClipEvent(const DisplayObject& Object, std::uint32_t Event, int KeyCode) {
    if (FMuteScripts || !Object.clipActions || !Object.sprite)
        return;
    for (const ClipAction& action : *Object.clipActions)
        if ((action.events & Event) && (Event != ClipEventKeyPress || action.keyCode == KeyCode) &&
            FScripts.size() < MaxQueuedScripts)
            FScripts.push_back({SpriteClip(Object.sprite), action.actions});
}

void Player::QueueClipEvents(std::uint32_t Event, int KeyCode) {
    ForEachPlaced(
        FStage, RootClip(),
        [&](DisplayObject& object, const ClipRef&) { QueueClipEvent(object, Event, KeyCode); }, 0);
}

void Player::QueueHandlers(const QString& Name) {
    if (!FInterpreter->HasHandlers())
        return;
    auto queue = [&](const ClipRef& clip) {
        if (FInterpreter->HasHandler(clip, Name) && FScripts.size() < MaxQueuedScripts)
            FScripts.push_back({clip, {}, Name});
    };
    queue(RootClip());
    ForEachPlaced(
        FStage, RootClip(),
        [&](DisplayObject& object, const ClipRef&) {
            if (object.sprite)
                queue(SpriteClip(object.sprite));
        },
        0);
}

bool Player::QueueKeyActions(int KeyCode) {
    bool found = false;
    ForEachPlaced(
        FStage, RootClip(),
        [&](DisplayObject& object, const ClipRef& owner) {
            if (!object.button || !object.button->button)
                return;
            for (const ButtonAction& action : object.button->button->actions)
                if (action.conditions >> 9 == KeyCode && FScripts.size() < MaxQueuedScripts) {
                    FScripts.push_back({owner, action.actions});
                    found = true;
                }
        },
        0);
    return found;
}

void Player::ShowButtonState(ButtonInstance& Instance, std::uint8_t State, bool WithSound) {
    Instance.state = State;
    for (const auto& [depth, child] : Instance.displayList)
        StopSpriteStreams(child);
    Instance.displayList.clear();
    if (!Instance.button || FButtonNesting >= MaxButtonNesting)
        return;
    ++FButtonNesting;
    for (const ButtonRecord& record : Instance.button->records) {
        if (!(record.states & State))
            continue;
        PlaceObject place;
        place.depth = record.depth;
        place.characterId = record.characterId;
        place.matrix = record.matrix;
        place.colorTransform = record.colorTransform;
        place.version = 2;
        Place(place, Instance.displayList, WithSound);
    }
    --FButtonNesting;
}

void Player::QueueButtonActions(const ButtonUnderMouse& Target, std::uint16_t Condition) {
    if (!Target.button || !Target.button->button)
        return;
    if (const ButtonSound* sound = SoundFor(*Target.button->button, Condition))
        StartEventSound(sound->soundId, sound->info);
    for (const ButtonAction& action : Target.button->button->actions)
        if ((action.conditions & Condition) && FScripts.size() < MaxQueuedScripts)
            FScripts.push_back({Target.owner, action.actions});
    // Handlers a script set on the button instance (play_btn.onRelease = function ...).
    static const std::pair<std::uint16_t, const char*> Handlers[] = {
        {IdleToOverUp, "onRollOver"},        {OverUpToIdle, "onRollOut"},
        {OverUpToOverDown, "onPress"},       {OverDownToOverUp, "onRelease"},
        {OutDownToIdle, "onReleaseOutside"}, {OverDownToOutDown, "onDragOut"},
        {OutDownToOverDown, "onDragOver"},
    };
    const ClipRef instance = ClipRef::Of(std::weak_ptr<ButtonInstance>(Target.button));
    for (const auto& [condition, name] : Handlers)
        if ((Condition & condition) && FInterpreter->HasHandler(instance, QLatin1String(name)) &&
            FScripts.size() < MaxQueuedScripts)
            FScripts.push_back({instance, {}, QLatin1String(name)});
}

Player::ButtonUnderMouse Player::FindButton(const DisplayList& List, const ClipRef& Owner,
                                            const QTransform& ToStage, QPointF Point, int Nesting) {
    if (Nesting > MaxFindNesting)
        return {};
    // The topmost first.
    for (auto it = List.rbegin(); it != List.rend(); ++it) {
        const DisplayObject& object = it->second;
        if (!object.visible || object.clipDepth > 0)
            continue;
        const QTransform transform = ToQTransform(object.matrix) * ToStage;
        if (object.button && object.button->button) {
            bool invertible = false;
            const QTransform inverse = transform.inverted(&invertible);
            if (invertible && ButtonHit(*object.button->button, *FMovie, inverse.map(Point), FHitAreas))
                return {object.button, Owner};
        }
        if (object.sprite)
            if (ButtonUnderMouse hit = FindButton(object.sprite->displayList, SpriteClip(object.sprite),
                                                  transform, Point, Nesting + 1);
                hit.button)
                return hit;
    }
    return {};
}

void Player::UpdateHover(const ButtonUnderMouse& Hit) {
    if (FHover.button == Hit.button)
        return;
    if (FHover.button && FHover.button != FPressed.button) {
        ShowButtonState(*FHover.button, ButtonRecord::Up, true);
        QueueButtonActions(FHover, OverUpToIdle);
    }
    if (Hit.button) {
        ShowButtonState(*Hit.button, ButtonRecord::Over, true);
        QueueButtonActions(Hit, IdleToOverUp);
    }
    FHover = Hit;
}

bool Player::MouseMove(double X, double Y) {
    FMouse = QPointF(X, Y);
    FHost->FollowMouse();
    const ButtonUnderMouse hit = FindButton(FStage, RootClip(), QTransform(), QPointF(X, Y), 0);
    if (FHasClipEvents)
        QueueClipEvents(ClipEventMouseMove, 0);
    QueueHandlers(QStringLiteral("onMouseMove"));
    if (FMouseDown && FPressed.button) {
        // Dragged off the button pressed, it shows its over state until it comes back.
        const bool over = hit.button == FPressed.button;
        const std::uint8_t state = over ? ButtonRecord::Down : ButtonRecord::Over;
        if (FPressed.button->state != state) {
            ShowButtonState(*FPressed.button, state, true);
            QueueButtonActions(FPressed, over ? OutDownToOverDown : OverDownToOutDown);
        }
        FHover = over ? FPressed : ButtonUnderMouse{};
    } else if (!FMouseDown) {
        UpdateHover(hit);
    }
    RunScripts();
    return hit.button != nullptr;
}

bool Player::MouseDown(double X, double Y) {
    MouseMove(X, Y);
    FMouseDown = true;
    if (FHasClipEvents)
        QueueClipEvents(ClipEventMouseDown, 0);
    QueueHandlers(QStringLiteral("onMouseDown"));
    const ButtonUnderMouse hit = FindButton(FStage, RootClip(), QTransform(), QPointF(X, Y), 0);
    if (hit.button) {
        FPressed = hit;
        FHover = hit;
        ShowButtonState(*hit.button, ButtonRecord::Down, true);
        QueueButtonActions(hit, OverUpToOverDown);
    }
    RunScripts();
    return hit.button != nullptr;
}

bool Player::MouseUp(double X, double Y) {
    FMouse = QPointF(X, Y);
    FMouseDown = false;
    if (FHasClipEvents)
        QueueClipEvents(ClipEventMouseUp, 0);
    QueueHandlers(QStringLiteral("onMouseUp"));
    const ButtonUnderMouse hit = FindButton(FStage, RootClip(), QTransform(), QPointF(X, Y), 0);
    if (FPressed.button) {
        const ButtonUnderMouse pressed = std::exchange(FPressed, {});
        if (hit.button == pressed.button) {
            ShowButtonState(*pressed.button, ButtonRecord::Over, true);
            QueueButtonActions(pressed, OverDownToOverUp);
            FHover = pressed;
        } else {
            ShowButtonState(*pressed.button, ButtonRecord::Up, true);
            QueueButtonActions(pressed, OutDownToIdle);
            FHover = {};
        }
    }
    UpdateHover(hit);
    RunScripts();
    return hit.button != nullptr;
}

} // namespace flash

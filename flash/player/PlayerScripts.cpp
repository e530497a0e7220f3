// The player's script queue, clip events and handlers, buttons, the mouse and keys.

#include "flash/player/Player.h"

#include "flash/media/SoundMixer.h"
#include "flash/player/Geometry.h"
#include "flash/player/TextFields.h"
#include "flash/player/avm2/As3Runtime.h"
#include "flash/swf/TagCodes.h"

#include <algorithm>

namespace flash {

namespace {

// Scripts run in one tick at most; a goto storm between frames ends here.
constexpr int MaxScriptsPerTick = 1000;
constexpr std::size_t MaxQueuedScripts = 4096;
constexpr int MaxButtonNesting = 8;
} // namespace

void Player::QueueScript(const OtherTag& other, const void* timelineKey) {
    if (muteScripts || (other.code != tag::DoAction && other.code != tag::DoInitAction))
        return;
    if (other.code == tag::DoInitAction) {
        // The sprite id, then the actions; they run once, on the main timeline.
        if (other.data.size() < 2)
            return;
        const std::uint16_t spriteId = std::uint8_t(other.data[0]) | std::uint8_t(other.data[1]) << 8;
        if (queued < MaxQueuedScripts && initDone.insert(spriteId).second)
            Enqueue({ClipRef::Root(), other.data.mid(2)}, InitLevel);
        return;
    }
    ClipRef clip = ClipRef::Root();
    if (timelineKey != state.MainKey())
        clip = ClipRef::Of(
            const_cast<SpriteInstance*>(static_cast<const SpriteInstance*>(timelineKey))->weak_from_this());
    Enqueue({std::move(clip), other.data});
}

void Player::Enqueue(QueuedScript script, ScriptLevel level) {
    // ActionScript 3 movies leave their ActionScript 1/2 code unrun, as Flash Player does.
    if (queued >= MaxQueuedScripts || state.movie->actionScript3)
        return;
    queues[level].push_back(std::move(script));
    ++queued;
}

void Player::RunScripts() {
    if (runningScripts)
        return;
    runningScripts = true;
    long long budget = ActionInterpreter::StepsPerFrame;
    for (int run = 0; run < MaxScriptsPerTick && budget > 0; ++run) {
        if (queued == 0) {
            if (as3 && as3->RunNext(budget))
                continue;
            break;
        }
        auto queue =
            std::find_if(queues.begin(), queues.end(), [](const auto& level) { return !level.empty(); });
        const QueuedScript script = std::move(queue->front());
        queue->pop_front();
        --queued;
        const auto sprite = script.clip.sprite.lock();
        if (!script.clip.Valid() || (sprite && sprite->gone && !script.unloading))
            continue;
        if (script.call)
            script.call(budget);
        else if (script.handler.isEmpty())
            interpreter.Run(script.code, script.clip, budget, state.movie->version);
        else
            interpreter.CallHandler(script.clip, script.handler, budget);
    }
    // What the budget cut off is dropped, as Flash drops a script it aborts.
    for (auto& level : queues)
        level.clear();
    queued = 0;
    if (as3)
        as3->DropQueued();
    if (hasBoundTexts || state.boundFields)
        UpdateBoundTexts();
    host.PublishDrawings();
    runningScripts = false;
}

void Player::ForEachPlaced(DisplayList& list, const ClipRef& owner, const PlacedVisit& visit, int nesting) {
    if (nesting > MaxFindNesting)
        return;
    for (auto& [depth, object] : list) {
        visit(object, owner);
        if (object.sprite)
            ForEachPlaced(object.sprite->displayList, SpriteClip(object.sprite), visit, nesting + 1);
        if (object.button)
            ForEachPlaced(object.button->displayList, owner, visit, nesting + 1);
    }
}

void Player::UpdateBoundTexts() {
    ForEachPlaced(
        state.stage, ClipRef::Root(),
        [this](DisplayObject& object, const ClipRef& owner) {
            const auto* field = object.character ? std::get_if<EditText>(object.character.get()) : nullptr;
            if (!field || field->variableName.isEmpty())
                return;
            ActionValue value = interpreter.Variable(owner, field->variableName);
            if (std::holds_alternative<std::monostate>(value)) {
                // A field whose variable is not set gives the variable its text.
                value = field->initialText.value_or(QString());
                interpreter.SetVariable(owner, field->variableName, value);
            }
            // A new value shows; one a script set on the field itself stays until the variable changes.
            const QString shown = ActionText(value);
            if (object.field && object.field->bound != shown) {
                object.field->bound = shown;
                if (object.field->scripted)
                    SetFieldText(*object.field, &object, shown, object.field->scripted->html,
                                 state.movie.get());
                else
                    object.field->content = shown;
            }
        },
        0);
}

void Player::QueueClipEvent(const DisplayObject& object, std::uint32_t event, int keyCode) {
    if (muteScripts || !object.clipActions || !object.sprite)
        return;
    const ScriptLevel level = event == ClipEventInitialize  ? InitializeLevel
                              : event == ClipEventConstruct ? ConstructLevel
                                                            : FrameLevel;
    for (const ClipAction& action : *object.clipActions)
        if ((action.events & event) && (event != ClipEventKeyPress || action.keyCode == keyCode))
            Enqueue({SpriteClip(object.sprite),
                     action.actions,
                     {},
                     event == ClipEventUnload ? object.sprite : nullptr},
                    level);
}

void Player::QueuePlacedEvents(const DisplayObject& object, bool construct) {
    QueueClipEvent(object, ClipEventInitialize, 0);
    QueueClipEvent(object, ClipEventConstruct, 0);
    QueueClipEvent(object, ClipEventLoad, 0);
    QueueClassEvents(object, construct);
}

void Player::QueueClassEvents(const DisplayObject& object, bool construct) {
    // The class is looked up when the constructor runs: the symbol's #initclip code, which
    // registers it, runs first in the same tick.
    if (muteScripts || !object.sprite || !exportedSprites.contains(object.sprite->sprite))
        return;
    const ClipRef clip = SpriteClip(object.sprite);
    if (construct)
        Enqueue({clip,
                 {},
                 {},
                 {},
                 [this, clip](long long& budget) {
                     const auto sprite = clip.sprite.lock();
                     if (ScriptObject* constructor = sprite ? ClassOf(*sprite) : nullptr)
                         interpreter.ConstructClip(clip, constructor, &budget);
                 }},
                ConstructLevel);
    Enqueue({clip, {}, {}, {}, [this, clip](long long& budget) {
                 const QString onLoad = QStringLiteral("onLoad");
                 if (interpreter.HasHandler(clip, onLoad))
                     interpreter.CallHandler(clip, onLoad, budget);
             }});
}

ScriptObject* Player::ClassOf(const SpriteInstance& sprite) const {
    if (!interpreter.HasRegisteredClasses() || !exportedSprites.contains(sprite.sprite))
        return nullptr;
    for (const auto& [linkage, id] : state.movie->exports)
        if (ScriptObject* constructor = interpreter.RegisteredClass(linkage)) {
            const auto found = state.movie->dictionary.find(id);
            if (found != state.movie->dictionary.end() &&
                std::get_if<Sprite>(found->second.get()) == sprite.sprite)
                return constructor;
        }
    return nullptr;
}

void Player::QueueEnterFrame() {
    const bool handlers = interpreter.HasHandlers();
    if (!hasClipEvents && !handlers)
        return;
    std::vector<const DisplayObject*> clips;
    ForEachPlaced(
        state.stage, ClipRef::Root(),
        [&](DisplayObject& object, const ClipRef&) {
            if (object.sprite)
                clips.push_back(&object);
        },
        0);
    std::stable_sort(clips.begin(), clips.end(), [](const DisplayObject* a, const DisplayObject* b) {
        return a->sprite->born > b->sprite->born;
    });
    const QString onEnterFrame = QStringLiteral("onEnterFrame");
    for (const DisplayObject* clip : clips) {
        QueueClipEvent(*clip, ClipEventEnterFrame, 0);
        if (handlers && interpreter.HasHandler(SpriteClip(clip->sprite), onEnterFrame))
            Enqueue({SpriteClip(clip->sprite), {}, onEnterFrame});
    }
    if (handlers && interpreter.HasHandler(ClipRef::Root(), onEnterFrame))
        Enqueue({ClipRef::Root(), {}, onEnterFrame});
}

void Player::QueueUnload(const DisplayObject& object, int nesting) {
    if (muteScripts || !object.sprite || nesting > MaxFindNesting)
        return;
    for (const auto& [depth, child] : object.sprite->displayList)
        QueueUnload(child, nesting + 1);
    QueueClipEvent(object, ClipEventUnload, 0);
    const ClipRef clip = SpriteClip(object.sprite);
    const QString onUnload = QStringLiteral("onUnload");
    if (interpreter.HasHandlers() && interpreter.HasHandler(clip, onUnload))
        Enqueue({clip, {}, onUnload, object.sprite});
}

void Player::QueueClipEvents(std::uint32_t event, int keyCode) {
    ForEachPlaced(
        state.stage, ClipRef::Root(),
        [&](DisplayObject& object, const ClipRef&) { QueueClipEvent(object, event, keyCode); }, 0);
}

void Player::QueueHandlers(const QString& name) {
    if (!interpreter.HasHandlers())
        return;
    auto queue = [&](const ClipRef& clip) {
        if (interpreter.HasHandler(clip, name))
            Enqueue({clip, {}, name});
    };
    queue(ClipRef::Root());
    ForEachPlaced(
        state.stage, ClipRef::Root(),
        [&](DisplayObject& object, const ClipRef&) {
            if (object.sprite)
                queue(SpriteClip(object.sprite));
        },
        0);
}

bool Player::QueueKeyActions(int keyCode) {
    bool found = false;
    ForEachPlaced(
        state.stage, ClipRef::Root(),
        [&](DisplayObject& object, const ClipRef& owner) {
            if (!object.button || !object.button->button)
                return;
            for (const ButtonAction& action : object.button->button->actions)
                if (action.conditions >> 9 == keyCode && queued < MaxQueuedScripts) {
                    Enqueue({owner, action.actions});
                    found = true;
                }
        },
        0);
    return found;
}

void Player::ShowButtonState(ButtonInstance& instance, std::uint8_t buttonState, bool withSound) {
    instance.state = buttonState;
    for (const auto& [depth, child] : instance.displayList)
        StopSpriteStreams(child);
    instance.displayList.clear();
    if (!instance.button || buttonNesting >= MaxButtonNesting)
        return;
    ++buttonNesting;
    for (const ButtonRecord& record : instance.button->records) {
        if (!(record.states & buttonState))
            continue;
        PlaceObject place;
        place.depth = record.depth;
        place.characterId = record.characterId;
        place.matrix = record.matrix;
        place.colorTransform = record.colorTransform;
        place.version = 2;
        Place(place, instance.displayList, withSound, 0);
    }
    --buttonNesting;
}

void Player::QueueButtonActions(const ButtonUnderMouse& target, std::uint16_t condition) {
    if (!target.clip && (!target.button || !target.button->button))
        return;
    if (target.button && target.button->button) {
        if (const ButtonSound* sound = SoundFor(*target.button->button, condition))
            StartEventSound(sound->soundId, sound->info, target.owner.sprite.lock().get());
        for (const ButtonAction& action : target.button->button->actions)
            if (action.conditions & condition)
                Enqueue({target.owner, action.actions});
    }
    // Handlers a script set on the button instance (play_btn.onRelease = function ...).
    static const std::pair<std::uint16_t, const char*> Handlers[] = {
        {IdleToOverUp, "onRollOver"},        {OverUpToIdle, "onRollOut"},
        {OverUpToOverDown, "onPress"},       {OverDownToOverUp, "onRelease"},
        {OutDownToIdle, "onReleaseOutside"}, {OverDownToOutDown, "onDragOut"},
        {OutDownToOverDown, "onDragOver"},
    };
    const ClipRef instance =
        target.clip ? SpriteClip(target.clip) : ClipRef::Of(std::weak_ptr<ButtonInstance>(target.button));
    for (const auto& [transition, name] : Handlers)
        if ((condition & transition) && interpreter.HasHandler(instance, QLatin1String(name)))
            Enqueue({instance, {}, QLatin1String(name)});
}

Player::ButtonUnderMouse Player::FindButton(const DisplayList& list, const ClipRef& owner,
                                            const QTransform& toStage, QPointF point, int nesting) {
    if (nesting > MaxFindNesting)
        return {};
    // The topmost first.
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        const DisplayObject& object = it->second;
        if (!object.visible || object.clipDepth > 0)
            continue;
        const QTransform transform = ToQTransform(object.matrix) * toStage;
        if (object.button && object.button->button) {
            bool invertible = false;
            const QTransform inverse = transform.inverted(&invertible);
            if (invertible && ButtonHit(*object.button->button, *state.movie, inverse.map(point), hitAreas))
                return {object.button, owner};
        }
        if (object.sprite && ClipTakesMouse(object, transform, point))
            return {nullptr, owner, object.sprite};
        if (object.sprite)
            if (ButtonUnderMouse hit = FindButton(object.sprite->displayList, SpriteClip(object.sprite),
                                                  transform, point, nesting + 1);
                hit.Found())
                return hit;
    }
    return {};
}

Player::ButtonUnderMouse Player::ButtonAt(QPointF point) {
    return FindButton(state.stage, ClipRef::Root(), QTransform(), point, 0);
}

void Player::UpdateHover(const ButtonUnderMouse& hit) {
    if (hover == hit)
        return;
    if (hover.Found() && !(hover == pressed)) {
        if (hover.button)
            ShowButtonState(*hover.button, ButtonRecord::Up, true);
        QueueButtonActions(hover, OverUpToIdle);
    }
    if (hit.Found()) {
        if (hit.button)
            ShowButtonState(*hit.button, ButtonRecord::Over, true);
        QueueButtonActions(hit, IdleToOverUp);
    }
    hover = hit;
}

bool Player::MouseMove(double x, double y) {
    state.mouse = QPointF(x, y);
    host.FollowMouse();
    const ButtonUnderMouse hit = ButtonAt(QPointF(x, y));
    if (hasClipEvents)
        QueueClipEvents(ClipEventMouseMove, 0);
    QueueHandlers(QStringLiteral("onMouseMove"));
    QueueBroadcast(interpreter.World().mouse, QStringLiteral("onMouseMove"));
    if (mouseDown && pressed.Found()) {
        // Dragged off the button pressed, it shows its over state until it comes back.
        const bool over = hit == pressed;
        const bool wasOver = pressed.button ? pressed.button->state == ButtonRecord::Down : hover == pressed;
        if (over != wasOver) {
            if (pressed.button)
                ShowButtonState(*pressed.button, over ? ButtonRecord::Down : ButtonRecord::Over, true);
            QueueButtonActions(pressed, over ? OutDownToOverDown : OverDownToOutDown);
        }
        hover = over ? pressed : ButtonUnderMouse{};
    } else if (!mouseDown) {
        UpdateHover(hit);
    }
    RunScripts();
    return hit.Found();
}

bool Player::MouseDown(double x, double y) {
    MouseMove(x, y);
    mouseDown = true;
    if (hasClipEvents)
        QueueClipEvents(ClipEventMouseDown, 0);
    QueueHandlers(QStringLiteral("onMouseDown"));
    QueueBroadcast(interpreter.World().mouse, QStringLiteral("onMouseDown"));
    const ButtonUnderMouse hit = ButtonAt(QPointF(x, y));
    if (hit.Found()) {
        pressed = hit;
        hover = hit;
        if (hit.button)
            ShowButtonState(*hit.button, ButtonRecord::Down, true);
        QueueButtonActions(hit, OverUpToOverDown);
    }
    RunScripts();
    return hit.Found();
}

bool Player::MouseUp(double x, double y) {
    state.mouse = QPointF(x, y);
    mouseDown = false;
    if (hasClipEvents)
        QueueClipEvents(ClipEventMouseUp, 0);
    QueueHandlers(QStringLiteral("onMouseUp"));
    QueueBroadcast(interpreter.World().mouse, QStringLiteral("onMouseUp"));
    const ButtonUnderMouse hit = ButtonAt(QPointF(x, y));
    if (pressed.Found()) {
        const ButtonUnderMouse released = std::exchange(pressed, {});
        if (hit == released) {
            if (released.button)
                ShowButtonState(*released.button, ButtonRecord::Over, true);
            QueueButtonActions(released, OverDownToOverUp);
            hover = released;
        } else {
            if (released.button)
                ShowButtonState(*released.button, ButtonRecord::Up, true);
            QueueButtonActions(released, OutDownToIdle);
            hover = {};
        }
    }
    UpdateHover(hit);
    RunScripts();
    return hit.Found();
}

} // namespace flash

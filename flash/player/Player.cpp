#include "flash/player/Player.h"

#include "flash/media/SoundMixer.h"
#include "flash/player/ScriptSounds.h"
#include "flash/player/avm2/As3Runtime.h"

#include <algorithm>
#include <cmath>

namespace flash {

namespace {
template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };
template <typename... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;
} // namespace

Player::Player(std::shared_ptr<const Movie> movie, SoundMixer* mixer, TraceHandler trace, TraceHandler notes)
    : state(std::move(movie), mixer), host(state, *this, std::move(trace), std::move(notes)),
      interpreter(host), as3(avm2::As3Runtime::For(state.movie, host)) {
    if (as3)
        as3->Construct(ClipRef::Root(), 0);
    for (const auto& [id, character] : state.movie->dictionary)
        if (const auto* text = std::get_if<EditText>(character.get()); text && !text->variableName.isEmpty())
            hasBoundTexts = true;
    for (const auto& [linkage, id] : state.movie->exports)
        if (const auto found = state.movie->dictionary.find(id); found != state.movie->dictionary.end())
            if (const auto* sprite = std::get_if<Sprite>(found->second.get()))
                exportedSprites.insert(sprite);
    Seek(0, true);
    RunScripts();
}

Player::~Player() {
    StopMainStream();
}

void Player::StopMainStream() {
    if (state.mixer)
        state.mixer->StopStream(state.MainKey());
    state.streamStartFrame = -1;
}

void Player::Play() {
    state.playing = true;
}

void Player::Stop() {
    state.playing = false;
    StopMainStream();
}

void Player::SetMainPlaying(bool playing) {
    if (playing)
        Play();
    else
        Stop();
}

void Player::GotoFrame(int frame) {
    StopMainStream();
    // Always from the start: sprites may have run on since, and the frame must look as played.
    state.currentFrame = -1;
    Seek(std::clamp(frame, 0, std::max(TotalFrames() - 1, 0)), false);
    RunScripts();
}

Player::TimelineCursor Player::MainCursor() {
    return {state.movie->timeline, state.stage, state.MainKey(), state.currentFrame};
}

Player::TimelineCursor Player::SpriteCursor(SpriteInstance& sprite) {
    return {sprite.sprite->timeline, sprite.displayList, &sprite, sprite.currentFrame};
}

void Player::GotoMainFrame(int frame) {
    frame = std::clamp(frame, 0, std::max(TotalFrames() - 1, 0));
    if (frame == state.currentFrame)
        return;
    StopMainStream();
    GotoTimeline(MainCursor(), frame, true);
}

void Player::GotoSpriteFrame(SpriteInstance& sprite, int frame) {
    frame = std::clamp(frame, 0, std::max(sprite.sprite->timeline.FrameCount() - 1, 0));
    if (frame == sprite.currentFrame)
        return;
    if (frame < sprite.currentFrame && state.mixer)
        state.mixer->StopStream(&sprite);
    GotoTimeline(SpriteCursor(sprite), frame, true);
}

// The sprites on stage stand still: only the timeline named moves.
void Player::GotoTimeline(const TimelineCursor& at, int frame, bool withSound) {
    if (frame < at.frame) {
        Rewind(at, frame, withSound);
        return;
    }
    while (at.frame < frame) {
        const bool last = at.frame + 1 == frame;
        ++at.frame;
        EnterFrame(at.timeline, at.frame, at.list, at.key, withSound && last, last);
    }
}

void Player::Rewind(const TimelineCursor& at, int frame, bool withSound) {
    // What the frame reached shows, by depth: the character and the frame whose tag placed it.
    std::map<std::uint16_t, std::pair<std::uint16_t, int>> reached;
    const int last = std::min(frame, int(at.timeline.frames.size()) - 1);
    for (int f = 0; f <= last; ++f)
        for (const ControlTag& tag : at.timeline.frames[std::size_t(f)].tags) {
            if (const auto* place = std::get_if<PlaceObject>(&tag); place && place->characterId) {
                const auto found = reached.find(place->depth);
                if (!place->move || found == reached.end() || found->second.first != *place->characterId)
                    reached[place->depth] = {*place->characterId, f};
            } else if (const auto* remove = std::get_if<RemoveObject>(&tag)) {
                reached.erase(remove->depth);
            }
        }
    Restoring restore{&at.list, {}};
    for (auto it = at.list.begin(); it != at.list.end();) {
        const DisplayObject& object = it->second;
        const auto found = reached.find(it->first);
        if (object.duplicate)
            ++it;
        else if (found != reached.end() && found->second == std::pair(object.characterId, object.placedFrame))
            restore.kept.insert(at.list.extract(it++));
        else
            it = Remove(at.list, it);
    }
    Restoring* outer = std::exchange(restoring, &restore);
    at.frame = -1;
    while (at.frame < frame) {
        const bool reachedFrame = at.frame + 1 == frame;
        ++at.frame;
        EnterFrame(at.timeline, at.frame, at.list, at.key, withSound && reachedFrame, reachedFrame);
    }
    restoring = outer;
    for (const auto& [depth, object] : restore.kept)
        Leave(object);
}

void Player::StartPlacedSprite(DisplayObject& placed) {
    QueuePlacedEvents(placed, false);
    AdvanceSprite(*placed.sprite, true);
    // A clip a script places is an instance of its class before the script goes on.
    if (ScriptObject* constructor = ClassOf(*placed.sprite))
        interpreter.ConstructClip(SpriteClip(placed.sprite), constructor, nullptr);
}

void Player::Tick() {
    ++state.ticks;
    ReportSoundEnds();
    // Timers due by now run first: they fell due while the last frame was shown.
    if (interpreter.HasTimers())
        Enqueue({ClipRef::Root(), {}, {}, {}, [this](long long& budget) { interpreter.RunTimers(budget); }});
    QueueEnterFrame();
    Advance();
    LoadRequestedMovies();
    RunScripts();
}

void Player::Advance() {
    const void* mainKey = state.MainKey();
    TickSprites(state.stage, true);
    if (state.playing && TotalFrames() > 1) {
        const int next = state.currentFrame + 1;
        if (next >= TotalFrames()) {
            // Looping is a goto to the first frame.
            StopMainStream();
            Rewind(MainCursor(), 0, true);
            return;
        }
        EnterFrame(state.movie->timeline, next, state.stage, mainKey, true);
        state.currentFrame = next;
    }
}

int Player::StreamFrame() const {
    if (!state.mixer || state.streamStartFrame < 0 || state.movie->frameRate <= 0)
        return -1;
    return state.streamStartFrame + int(state.mixer->StreamTime(state.MainKey()) * state.movie->frameRate);
}

void Player::Reset() {
    for (const auto& [depth, object] : state.stage)
        StopSpriteStreams(object);
    state.stage.clear();
}

void Player::Seek(int frame, bool withSound) {
    // Only the frame reached starts its sounds and scripts; the frames passed on the way are silent.
    if (frame < state.currentFrame || state.currentFrame < 0) {
        Reset();
        muteScripts = frame > 0;
        EnterFrame(state.movie->timeline, 0, state.stage, state.MainKey(), withSound && frame <= 0);
        state.currentFrame = 0;
    }
    // Each step is one tick, as in playing: sprites move on, then the next frame's tags run.
    while (state.currentFrame < frame) {
        const bool last = state.currentFrame + 1 == frame;
        muteScripts = !last;
        TickSprites(state.stage, withSound && last);
        ++state.currentFrame;
        EnterFrame(state.movie->timeline, state.currentFrame, state.stage, state.MainKey(),
                   withSound && last);
    }
    muteScripts = false;
}

void Player::EnterFrame(const Timeline& timeline, int frame, DisplayList& list, const void* timelineKey,
                        bool withSound, bool ownScripts) {
    if (frame < 0 || frame >= int(timeline.frames.size()))
        return;
    const bool isMain = timelineKey == state.MainKey();
    const SpriteInstance* sprite = isMain ? nullptr : static_cast<const SpriteInstance*>(timelineKey);
    for (const ControlTag& tag : timeline.frames[std::size_t(frame)].tags) {
        std::visit(Overloaded{
                       [&](const PlaceObject& place) { Place(place, list, withSound, frame); },
                       [&](const RemoveObject& remove) {
                           if (const auto found = list.find(remove.depth); found != list.end())
                               Remove(list, found);
                       },
                       [&](const StartSound& start) {
                           if (withSound)
                               StartEventSound(start.soundId, start.info, sprite);
                       },
                       [&](const SoundStreamHead&) {},
                       [&](const SoundStreamBlock& block) {
                           if (!withSound || !state.mixer || !timeline.streamHead)
                               return;
                           if (isMain && state.streamStartFrame < 0) {
                               state.mixer->BeginStream(timelineKey, *timeline.streamHead,
                                                        SoundScopeChain(state.stage, sprite));
                               state.streamStartFrame = frame;
                           } else if (!isMain && state.mixer->StreamTime(timelineKey) < 0) {
                               state.mixer->BeginStream(timelineKey, *timeline.streamHead,
                                                        SoundScopeChain(state.stage, sprite));
                           }
                           state.mixer->PushStreamBlock(timelineKey, frame, block.data);
                       },
                       [&](const FrameLabel&) {},
                       [&](const SetBackgroundColor& background) {
                           // Flash Player keeps the colour the movie set first, for good.
                           if (isMain && !std::exchange(state.backgroundSet, true))
                               state.background = background.color;
                       },
                       [&](const OtherTag& other) {
                           if (ownScripts)
                               QueueScript(other, timelineKey);
                       },
                   },
                   tag);
    }
    if (as3 && ownScripts && !muteScripts) {
        // A sprite's timeline key is its instance.
        auto* instance = const_cast<SpriteInstance*>(sprite);
        as3->FrameEntered(isMain ? ClipRef::Root() : ClipRef::Of(instance->weak_from_this()), frame);
    }
}

void Player::StartEventSound(std::uint16_t soundId, const SoundInfo& info, const SpriteInstance* owner) {
    if (!state.mixer)
        return;
    const auto found = state.movie->dictionary.find(soundId);
    if (found == state.movie->dictionary.end())
        return;
    if (const auto* sound = std::get_if<Sound>(found->second.get()))
        state.mixer->StartEventSound(soundId, std::shared_ptr<const Sound>(found->second, sound), info,
                                     {SoundScopeChain(state.stage, owner)});
}

void Player::ReportSoundEnds() {
    if (!state.mixer)
        return;
    const auto ends = state.mixer->TakeVoiceEnds();
    if (ends.empty())
        return;
    long long budget = ActionInterpreter::StepsPerFrame;
    for (const SoundMixer::VoiceEnd& end : ends)
        interpreter.SoundEnded(end.voice, std::floor(double(end.position) * 1000 / MixRate), end.completed,
                               budget);
    RunScripts(); // what the handlers asked for (a goto's frame scripts)
}

bool Player::MayPlaceSprite(const Sprite& sprite, std::uint16_t id) {
    if (std::find(spritesEntered.begin(), spritesEntered.end(), &sprite) != spritesEntered.end()) {
        Warn(QStringLiteral("skipped placing sprite %1 inside itself").arg(id));
        return false;
    }
    if (spritesEntered.size() >= MaxSpriteNesting) {
        Warn(QStringLiteral("skipped sprites nested deeper than %1").arg(MaxSpriteNesting));
        return false;
    }
    return true;
}

void Player::Warn(const QString& message) {
    if (!warnings.contains(message))
        warnings << message;
}

namespace {

// A kept object takes its placement from the tags again; what scripts set stays.
void ClearPlacement(DisplayObject& object) {
    if (!object.scripted) {
        object.matrix = {};
        object.colorTransform = {};
        object.visible = true;
    }
    object.ratio = 0;
    object.name.clear();
    object.clipDepth = 0;
    object.blendMode = 0;
    object.filters.reset();
}

} // namespace

void Player::Place(const PlaceObject& tag, DisplayList& list, bool withSound, int frame) {
    auto existing = list.find(tag.depth);
    bool modifies = tag.move && existing != list.end();
    if (!modifies && !tag.characterId)
        return; // nothing to place and nothing to move
    if (restoring && restoring->list == &list && !modifies && existing == list.end())
        if (const auto kept = restoring->kept.find(tag.depth); kept != restoring->kept.end() &&
                                                               kept->second.characterId == *tag.characterId &&
                                                               kept->second.placedFrame == frame) {
            // The same placement as before the goto: the object stays as it was, placed anew.
            existing = list.insert(restoring->kept.extract(kept)).position;
            ClearPlacement(existing->second);
            modifies = true;
        }
    if (tag.characterId)
        if (const auto found = state.movie->dictionary.find(*tag.characterId);
            found != state.movie->dictionary.end() && found->second)
            if (const auto* sprite = std::get_if<Sprite>(found->second.get());
                sprite && !MayPlaceSprite(*sprite, *tag.characterId))
                return;
    if (!modifies && existing != list.end())
        existing = Remove(list, existing);
    DisplayObject& object = modifies ? existing->second : list[tag.depth];
    object.depth = tag.depth;
    bool newSprite = false;

    if (tag.characterId && (!modifies || object.characterId != *tag.characterId)) {
        const auto found = state.movie->dictionary.find(*tag.characterId);
        if (modifies)
            Leave(object);
        object.characterId = *tag.characterId;
        object.character = found == state.movie->dictionary.end() ? nullptr : found->second;
        object.placedFrame = frame;
        object.sprite.reset();
        object.button.reset();
        object.field.reset();
        if (object.character)
            if (const auto* text = std::get_if<EditText>(object.character.get())) {
                object.field = std::make_shared<TextFieldState>();
                object.field->initialText = text->initialText.value_or(QString());
            }
        if (object.character)
            if (const auto* button = std::get_if<Button>(object.character.get())) {
                object.button = std::make_shared<ButtonInstance>();
                object.button->button = button;
                ShowButtonState(*object.button, ButtonRecord::Up, withSound);
            }
        if (object.character)
            if (const auto* sprite = std::get_if<Sprite>(object.character.get())) {
                object.sprite = state.NewSprite(sprite);
                newSprite = true;
                if (as3)
                    as3->Construct(SpriteClip(object.sprite), object.characterId);
            }
    }
    if (tag.matrix && !object.scripted)
        object.matrix = *tag.matrix;
    if (tag.colorTransform && !object.scripted)
        object.colorTransform = *tag.colorTransform;
    if (tag.ratio)
        object.ratio = *tag.ratio;
    if (tag.name)
        object.name = *tag.name;
    if (tag.clipDepth)
        object.clipDepth = *tag.clipDepth;
    if (tag.blendMode)
        object.blendMode = *tag.blendMode;
    if (!tag.filters.empty())
        object.filters = std::make_shared<const FilterList>(tag.filters);
    if (tag.visible)
        object.visible = *tag.visible;
    if (!modifies && object.sprite && !tag.clipActions.empty()) {
        object.clipActions = &tag.clipActions;
        hasClipEvents = true;
    }
    if (newSprite) {
        QueuePlacedEvents(object);
        // A sprite shows its first frame as soon as it is placed.
        AdvanceSprite(*object.sprite, withSound);
    }
}

DisplayList::iterator Player::Remove(DisplayList& list, DisplayList::iterator object) {
    Leave(object->second);
    return list.erase(object);
}

void Player::Leave(const DisplayObject& object) {
    QueueUnload(object, 0);
    StopSpriteStreams(object);
}

void Player::StopSpriteStreams(const DisplayObject& object) {
    // A sprite leaving the stage takes its stream sound with it (and frees its key for reuse).
    if (!object.sprite)
        return;
    object.sprite->gone = true;
    ForgetSoundScope(state, *object.sprite);
    if (state.mixer)
        state.mixer->StopStream(object.sprite.get());
    for (const auto& [depth, child] : object.sprite->displayList)
        StopSpriteStreams(child);
}

void Player::TickSprites(DisplayList& list, bool withSound) {
    for (auto& [depth, object] : list) {
        if (object.sprite)
            AdvanceSprite(*object.sprite, withSound);
        if (object.button)
            TickSprites(object.button->displayList, withSound);
    }
}

void Player::AdvanceSprite(SpriteInstance& instance, bool withSound) {
    // Deeper sprites stand still; placing them is refused already, this bounds the walk.
    if (spritesEntered.size() >= MaxSpriteNesting)
        return;
    spritesEntered.push_back(instance.sprite);
    struct Leave {
        std::vector<const Sprite*>& entered;
        ~Leave() { entered.pop_back(); }
    } leave{spritesEntered};
    const Timeline& timeline = instance.sprite->timeline;
    const int count = timeline.FrameCount();
    if (instance.currentFrame >= 0) {
        TickSprites(instance.displayList, withSound);
        if (!instance.playing || count <= 1)
            return;
    }
    const int next = instance.currentFrame + 1;
    if (next >= count && instance.currentFrame >= 0) {
        // Looping is a goto to the first frame.
        if (state.mixer)
            state.mixer->StopStream(&instance);
        Rewind(SpriteCursor(instance), 0, withSound);
        return;
    }
    instance.currentFrame = next;
    EnterFrame(timeline, next, instance.displayList, &instance, withSound);
}

} // namespace flash

#include "flash/player/Player.h"

#include "flash/media/SoundMixer.h"

#include <algorithm>

namespace flash {

namespace {
template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };
template <typename... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

// The display list a sprite nests inside, keyed for its stream sound.
const void* MainTimelineKey(const Movie& AMovie) {
    return &AMovie.timeline;
}
} // namespace

Player::Player(std::shared_ptr<const Movie> AMovie, SoundMixer* Mixer, TraceHandler Trace)
    : FMovie(std::move(AMovie)), FMixer(Mixer), FBackground(FMovie->backgroundColor),
      FTrace(std::move(Trace)) {
    InitScripts();
    Seek(0, true);
    RunScripts();
}

Player::~Player() {
    if (FMixer)
        FMixer->StopStream(MainTimelineKey(*FMovie));
}

int Player::TotalFrames() const {
    return FMovie->timeline.FrameCount();
}

void Player::Play() {
    FPlaying = true;
}

void Player::Stop() {
    FPlaying = false;
    if (FMixer)
        FMixer->StopStream(MainTimelineKey(*FMovie));
    FStreamStartFrame = -1;
}

void Player::GotoFrame(int Frame) {
    if (FMixer)
        FMixer->StopStream(MainTimelineKey(*FMovie));
    FStreamStartFrame = -1;
    // Always from the start: sprites may have run on since, and the frame must look as played.
    FCurrentFrame = -1;
    Seek(std::clamp(Frame, 0, std::max(TotalFrames() - 1, 0)), false);
    RunScripts();
}

void Player::Tick() {
    ++FTicks;
    Advance();
    if (FHasClipEvents)
        QueueClipEvents(ClipEventEnterFrame, 0);
    QueueHandlers(QStringLiteral("onEnterFrame"));
    RunScripts();
}

void Player::Advance() {
    if (FPlaying && TotalFrames() > 1) {
        const int next = FCurrentFrame + 1;
        if (next >= TotalFrames()) {
            // Looping starts the timeline over: what the first frame does not place is gone.
            if (FMixer)
                FMixer->StopStream(MainTimelineKey(*FMovie));
            FStreamStartFrame = -1;
            Reset();
            EnterFrame(FMovie->timeline, 0, FStage, MainTimelineKey(*FMovie), true);
            FCurrentFrame = 0;
            return;
        }
        TickSprites(FStage, true);
        EnterFrame(FMovie->timeline, next, FStage, MainTimelineKey(*FMovie), true);
        FCurrentFrame = next;
        return;
    }
    TickSprites(FStage, true);
}

int Player::StreamFrame() const {
    if (!FMixer || FStreamStartFrame < 0 || FMovie->frameRate <= 0)
        return -1;
    return FStreamStartFrame + int(FMixer->StreamTime(MainTimelineKey(*FMovie)) * FMovie->frameRate);
}

void Player::Reset() {
    for (const auto& [depth, object] : FStage)
        StopSpriteStreams(object);
    FStage.clear();
    FBackground = FMovie->backgroundColor;
}

void Player::Seek(int Frame, bool WithSound) {
    // Only the frame reached starts its sounds and scripts; the frames passed on the way are silent.
    if (Frame < FCurrentFrame || FCurrentFrame < 0) {
        Reset();
        FMuteScripts = Frame > 0;
        EnterFrame(FMovie->timeline, 0, FStage, MainTimelineKey(*FMovie), WithSound && Frame <= 0);
        FCurrentFrame = 0;
    }
    // Each step is one tick, as in playing: sprites move on, then the next frame's tags run.
    while (FCurrentFrame < Frame) {
        const bool last = FCurrentFrame + 1 == Frame;
        FMuteScripts = !last;
        TickSprites(FStage, WithSound && last);
        ++FCurrentFrame;
        EnterFrame(FMovie->timeline, FCurrentFrame, FStage, MainTimelineKey(*FMovie), WithSound && last);
    }
    FMuteScripts = false;
}

void Player::EnterFrame(const Timeline& ATimeline, int Frame, DisplayList& List, const void* Key,
                        bool WithSound) {
    if (Frame < 0 || Frame >= int(ATimeline.frames.size()))
        return;
    const bool isMain = Key == MainTimelineKey(*FMovie);
    for (const ControlTag& tag : ATimeline.frames[std::size_t(Frame)].tags) {
        std::visit(Overloaded{
                       [&](const PlaceObject& place) { Place(place, List, WithSound); },
                       [&](const RemoveObject& remove) {
                           if (const auto found = List.find(remove.depth); found != List.end()) {
                               StopSpriteStreams(found->second);
                               List.erase(found);
                           }
                       },
                       [&](const StartSound& start) {
                           if (WithSound)
                               StartEventSound(start.soundId, start.info);
                       },
                       [&](const SoundStreamHead&) {},
                       [&](const SoundStreamBlock& block) {
                           if (!WithSound || !FMixer || !ATimeline.streamHead)
                               return;
                           if (isMain && FStreamStartFrame < 0) {
                               FMixer->BeginStream(Key, *ATimeline.streamHead);
                               FStreamStartFrame = Frame;
                           } else if (!isMain && FMixer->StreamTime(Key) < 0) {
                               FMixer->BeginStream(Key, *ATimeline.streamHead);
                           }
                           FMixer->PushStreamBlock(Key, Frame, block.data);
                       },
                       [&](const FrameLabel&) {},
                       [&](const SetBackgroundColor& background) {
                           if (isMain)
                               FBackground = background.color;
                       },
                       [&](const OtherTag& other) { QueueScript(other, Key); },
                   },
                   tag);
    }
}

void Player::StartEventSound(std::uint16_t SoundId, const SoundInfo& Info) {
    if (!FMixer)
        return;
    const auto found = FMovie->dictionary.find(SoundId);
    if (found == FMovie->dictionary.end())
        return;
    if (const auto* sound = std::get_if<Sound>(found->second.get()))
        FMixer->StartEventSound(SoundId, std::shared_ptr<const Sound>(found->second, sound), Info);
}

bool Player::MayPlaceSprite(const Sprite& Sprite, std::uint16_t Id) {
    if (std::find(FSpritesEntered.begin(), FSpritesEntered.end(), &Sprite) != FSpritesEntered.end()) {
        Warn(QStringLiteral("skipped placing sprite %1 inside itself").arg(Id));
        return false;
    }
    if (FSpritesEntered.size() >= MaxSpriteNesting) {
        Warn(QStringLiteral("skipped sprites nested deeper than %1").arg(MaxSpriteNesting));
        return false;
    }
    return true;
}

void Player::Warn(const QString& Message) {
    if (!FWarnings.contains(Message))
        FWarnings << Message;
}

void Player::Place(const PlaceObject& Tag, DisplayList& List, bool WithSound) {
    const auto existing = List.find(Tag.depth);
    const bool modifies = Tag.move && existing != List.end();
    if (!modifies && !Tag.characterId)
        return; // nothing to place and nothing to move
    if (Tag.characterId)
        if (const auto found = FMovie->dictionary.find(*Tag.characterId);
            found != FMovie->dictionary.end() && found->second)
            if (const auto* sprite = std::get_if<Sprite>(found->second.get());
                sprite && !MayPlaceSprite(*sprite, *Tag.characterId))
                return;
    DisplayObject& object = modifies ? existing->second : List[Tag.depth];
    if (!modifies) {
        StopSpriteStreams(object);
        object = DisplayObject{};
    }
    object.depth = Tag.depth;

    if (Tag.characterId && (!modifies || object.characterId != *Tag.characterId)) {
        const auto found = FMovie->dictionary.find(*Tag.characterId);
        object.characterId = *Tag.characterId;
        object.character = found == FMovie->dictionary.end() ? nullptr : found->second;
        StopSpriteStreams(object);
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
                ShowButtonState(*object.button, ButtonRecord::Up, WithSound);
            }
        if (object.character)
            if (const auto* sprite = std::get_if<Sprite>(object.character.get())) {
                object.sprite = std::make_shared<SpriteInstance>();
                object.sprite->sprite = sprite;
                // A sprite shows its first frame as soon as it is placed.
                AdvanceSprite(*object.sprite, WithSound);
            }
    }
    if (Tag.matrix && !object.scripted)
        object.matrix = *Tag.matrix;
    if (Tag.colorTransform && !object.scripted)
        object.colorTransform = *Tag.colorTransform;
    if (Tag.ratio)
        object.ratio = *Tag.ratio;
    if (Tag.name)
        object.name = *Tag.name;
    if (Tag.clipDepth)
        object.clipDepth = *Tag.clipDepth;
    if (Tag.blendMode)
        object.blendMode = *Tag.blendMode;
    if (!Tag.filters.empty())
        object.filters = std::make_shared<const FilterList>(Tag.filters);
    if (Tag.visible)
        object.visible = *Tag.visible;
    if (!modifies && object.sprite && !Tag.clipActions.empty()) {
        object.clipActions = &Tag.clipActions;
        FHasClipEvents = true;
        QueueClipEvent(object, ClipEventLoad, 0);
    }
}

void Player::StopSpriteStreams(const DisplayObject& Object) {
    // A sprite leaving the stage takes its stream sound with it (and frees its key for reuse).
    if (!FMixer || !Object.sprite)
        return;
    FMixer->StopStream(Object.sprite.get());
    for (const auto& [depth, child] : Object.sprite->displayList)
        StopSpriteStreams(child);
}

void Player::TickSprites(DisplayList& List, bool WithSound) {
    for (auto& [depth, object] : List) {
        if (object.sprite)
            AdvanceSprite(*object.sprite, WithSound);
        if (object.button)
            TickSprites(object.button->displayList, WithSound);
    }
}

void Player::AdvanceSprite(SpriteInstance& Instance, bool WithSound) {
    // Deeper sprites stand still; placing them is refused already, this bounds the walk.
    if (FSpritesEntered.size() >= MaxSpriteNesting)
        return;
    FSpritesEntered.push_back(Instance.sprite);
    struct Leave {
        std::vector<const Sprite*>& entered;
        ~Leave() { entered.pop_back(); }
    } leave{FSpritesEntered};
    const Timeline& timeline = Instance.sprite->timeline;
    const int count = timeline.FrameCount();
    if (Instance.currentFrame >= 0) {
        TickSprites(Instance.displayList, WithSound);
        if (!Instance.playing || count <= 1)
            return;
    }
    int next = Instance.currentFrame + 1;
    if (next >= count) {
        next = 0;
        for (const auto& [depth, child] : Instance.displayList)
            StopSpriteStreams(child);
        Instance.displayList.clear();
        if (FMixer)
            FMixer->StopStream(&Instance);
    }
    Instance.currentFrame = next;
    EnterFrame(timeline, next, Instance.displayList, &Instance, WithSound);
}

bool Player::KeyPress(int KeyCode) {
    const bool found = KeyCode > 0 && QueueKeyActions(KeyCode);
    if (FHasClipEvents && KeyCode > 0) {
        QueueClipEvents(ClipEventKeyDown, 0);
        QueueClipEvents(ClipEventKeyPress, KeyCode);
    }
    RunScripts();
    return found;
}

} // namespace flash

#pragma once
// Plays a movie's timelines: the main timeline and every sprite placed on it keep their display
// lists frame by frame. Seeking replays from the start, so a frame reached by seeking shows exactly
// what playing up to it shows.

#include "flash/DisplayList.h"

#include <memory>

namespace flash {

class SoundMixer;

class Player {
public:
    // Mixer may be null: the movie then plays without sound.
    explicit Player(std::shared_ptr<const Movie> AMovie, SoundMixer* Mixer = nullptr);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    const Movie& GetMovie() const { return *FMovie; }
    int TotalFrames() const;
    int CurrentFrame() const { return FCurrentFrame; } // zero-based; -1 before the first frame
    bool Playing() const { return FPlaying; }
    // Stopping also stops the stream sound; event sounds play on, as in Flash Player.
    void Play();
    void Stop();
    // Shows frame Frame (clamped to the movie); playing goes on from there if it was playing.
    void GotoFrame(int Frame);
    // One tick of the movie's clock: the main timeline moves on (looping at its end) when playing,
    // and every sprite on stage moves on its own timeline.
    void Tick();
    const DisplayList& Stage() const { return FStage; }
    Rgba BackgroundColor() const { return FBackground; }
    // The frame the main timeline's stream sound has reached, or -1 without a playing stream.
    int StreamFrame() const;

private:
    struct TimelineState;
    // Runs the control tags of one frame of a timeline onto its display list.
    void EnterFrame(const Timeline& ATimeline, int Frame, DisplayList& List, const void* Key, bool WithSound);
    void Place(const PlaceObject& Tag, DisplayList& List, bool WithSound);
    void StopSpriteStreams(const DisplayObject& Object);
    void TickSprites(DisplayList& List, bool WithSound);
    void AdvanceSprite(SpriteInstance& Instance, bool WithSound);
    // Frame Frame of the main timeline, stepping through the frames before it when needed.
    void Seek(int Frame, bool WithSound);
    void Reset();

    std::shared_ptr<const Movie> FMovie;
    SoundMixer* FMixer;
    DisplayList FStage;
    int FCurrentFrame = -1;
    bool FPlaying = true;
    Rgba FBackground;
    int FStreamStartFrame = -1;
};

} // namespace flash

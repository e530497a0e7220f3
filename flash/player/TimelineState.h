#pragma once
// The state of a movie being played that the player and its script host share: the movie, the
// stage and the main timeline's place in it, the scripts' clock and the mouse. The player changes
// it by playing; the script host reads it, and moves placements as scripts ask (properties, drag).

#include "flash/player/DisplayList.h"
#include "flash/player/avm1/Actions.h"

#include <QPointF>
#include <map>
#include <memory>

namespace flash {

class SoundMixer;

// Sprites inside sprites (and buttons) deeper than this are not placed: real movies rarely pass a
// few dozen, and every walk over the stage recurses once a level.
constexpr std::size_t MaxSpriteNesting = 64;
// Walks that look for clips, run events, bind texts and hit-test buttons stop this many levels
// down: far past what movies nest, and each level is one recursion.
constexpr int MaxFindNesting = 64;

struct TimelineState {
    TimelineState(std::shared_ptr<const Movie> playedMovie, SoundMixer* soundMixer)
        : movie(std::move(playedMovie)), mixer(soundMixer), background(movie->backgroundColor) {}

    // The key of the main timeline's stream sound and scripts; a sprite's is its SpriteInstance. It
    // stays when a loaded movie's characters join the library (movie).
    const void* MainKey() const { return mainKey; }
    int FrameCount() const { return movie->timeline.FrameCount(); }

    std::shared_ptr<const Movie> movie;
    const void* mainKey = &movie->timeline;
    SoundMixer* mixer; // null: the movie plays without sound
    DisplayList stage;
    int currentFrame = -1; // of the main timeline, zero-based; -1 before the first frame
    bool playing = true;
    Rgba background;
    // The main timeline's first SetBackgroundColor ran: later ones are ignored.
    bool backgroundSet = false;
    int streamStartFrame = -1; // the main timeline's frame where its stream sound started; -1: none
    long long ticks = 0;       // ticks played: the scripts' clock
    QPointF mouse;             // where the mouse was last, stage twips
    std::uint64_t spritesMade = 0;
    // What scripts set on sound scopes (ScriptSounds.h), other than the defaults.
    std::map<std::uint64_t, ActionHost::SoundSettings> soundSettings;
    bool boundFields = false; // a script gave a field a variable to show

    // A new instance of a sprite, numbered in the order of creation.
    std::shared_ptr<SpriteInstance> NewSprite(const Sprite* sprite) {
        auto instance = std::make_shared<SpriteInstance>();
        instance->sprite = sprite;
        instance->born = ++spritesMade;
        return instance;
    }
};

inline ClipRef SpriteClip(const std::shared_ptr<SpriteInstance>& sprite) {
    return ClipRef::Of(std::weak_ptr(sprite));
}

} // namespace flash

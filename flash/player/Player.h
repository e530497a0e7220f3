#pragma once
// Plays a movie's timelines: the main timeline and every sprite placed on it keep their display
// lists frame by frame. Seeking replays from the start, so a frame reached by seeking shows exactly
// what playing up to it shows.
//
// Frame scripts run once a frame's display list is built, after every timeline has moved on in that
// tick, in the order the frames were entered; DoInitAction runs once per sprite id, before the
// frame scripts. A script's goto changes the display list at once; the scripts of the frame it
// reaches run after the script. Seeking (GotoFrame here, or a script's goto backwards, both replays
// from the start) runs no scripts of the frames passed on the way: only the frame reached runs its
// scripts, as entering it would.
//
// Every walk over the stage recurses once a level and is bounded: sprites are placed and advanced at
// most MaxSpriteNesting deep (a placement inside itself is skipped, with a warning); walks that find
// clips, run events, bind texts and hit-test buttons stop 64 levels down; a button shows buttons at
// most 8 deep, and its hit area looks 8 levels into its characters; the renderer draws 64 levels.
// Removal and sound stops follow the display lists, so they are bounded by the same nesting.

#include "flash/player/Buttons.h"
#include "flash/player/DisplayList.h"
#include "flash/player/avm1/Actions.h"

#include <QStringList>
#include <deque>
#include <functional>
#include <set>
#include <vector>

#include <memory>

namespace flash {

class SoundMixer;

class Player {
public:
    // Sprites inside sprites (and buttons) deeper than this are not placed: real movies rarely pass a
    // few dozen, and every walk over the stage recurses once a level.
    static constexpr std::size_t MaxSpriteNesting = 64;

    // Mixer may be null: the movie then plays without sound.
    // Trace, when set, receives every trace() line the movie's scripts print, the first frame's too.
    using TraceHandler = std::function<void(const QString&)>;
    explicit Player(std::shared_ptr<const Movie> AMovie, SoundMixer* Mixer = nullptr,
                    TraceHandler Trace = {});
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
    // What playing skipped (a sprite placed inside itself, nesting past MaxSpriteNesting), one line
    // per kind.
    const QStringList& Warnings() const { return FWarnings; }

    // The mouse at a point of the stage in twips. Buttons under it show their over state, the one
    // pressed its down state, and a release over the button pressed runs its release actions. A
    // transition that has a button sound starts it.
    // Each returns whether a button is under the point.
    bool MouseMove(double X, double Y);
    bool MouseDown(double X, double Y);
    bool MouseUp(double X, double Y);
    // A key press (a ButtonKeyCode) runs the actions of every button on stage whose condition
    // names that key; returns whether one did.
    bool KeyPress(int KeyCode);

private:
    struct TimelineState;
    class Host;
    struct ButtonUnderMouse {
        std::shared_ptr<ButtonInstance> button;
        ClipRef owner; // the timeline the button is on: its actions act there
    };
    // The whole tick (or seek) without scripts; Tick runs them after.
    void Advance();
    void InitScripts();
    void QueueScript(const OtherTag& Tag, const void* Key);
    void RunScripts();
    void ShowButtonState(ButtonInstance& Instance, std::uint8_t State, bool WithSound);
    // The actions of the transition Condition, and the event sound it starts.
    void QueueButtonActions(const ButtonUnderMouse& Target, std::uint16_t Condition);
    ButtonUnderMouse FindButton(const DisplayList& List, const ClipRef& Owner, const QTransform& ToStage,
                                QPointF Point, int Nesting);
    void UpdateHover(const ButtonUnderMouse& Hit);
    // Every object in List and the lists inside it, with the timeline it is placed on (a button's
    // characters count as placed on the button's timeline), each object before those inside it.
    using PlacedVisit = std::function<void(DisplayObject& Object, const ClipRef& Owner)>;
    void ForEachPlaced(DisplayList& List, const ClipRef& Owner, const PlacedVisit& Visit, int Nesting);
    // Queues the actions of the buttons on stage waiting for the key; whether there were any.
    bool QueueKeyActions(int KeyCode);
    // Queues the handlers of Event (with ClipEventKeyPress: of KeyCode) of every sprite on stage.
    void QueueClipEvents(std::uint32_t Event, int KeyCode);
    void QueueClipEvent(const DisplayObject& Object, std::uint32_t Event, int KeyCode);
    // Queues the handlers (onEnterFrame, onMouseDown ...) scripts set on the main timeline and sprites.
    void QueueHandlers(const QString& Name);
    // Edit texts bound to variables show what the variables hold now.
    void UpdateBoundTexts();
    // Runs the control tags of one frame of a timeline onto its display list.
    void EnterFrame(const Timeline& ATimeline, int Frame, DisplayList& List, const void* Key, bool WithSound);
    void Place(const PlaceObject& Tag, DisplayList& List, bool WithSound);
    // Whether a sprite may be placed where the timelines now being entered are: not inside itself,
    // not deeper than MaxSpriteNesting. Warns once when not.
    bool MayPlaceSprite(const Sprite& Sprite, std::uint16_t Id);
    void Warn(const QString& Message);
    // A StartSound tag's sound, or a button's: nothing for an id that is no sound.
    void StartEventSound(std::uint16_t SoundId, const SoundInfo& Info);
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

    struct QueuedScript {
        ClipRef clip;
        QByteArray code;
        QString handler = {}; // instead of code: the clip's event handler of this name
    };
    std::shared_ptr<Host> FHost; // made where Host is known

    std::unique_ptr<ActionInterpreter> FInterpreter;
    std::deque<QueuedScript> FInitScripts, FScripts;
    std::set<std::uint16_t> FInitDone;
    bool FMuteScripts = false;
    bool FRunningScripts = false;
    int FButtonNesting = 0; // buttons showing buttons: bounded against cycles
    // The sprites whose timelines are being advanced, outermost first: a placement of one of them
    // would put a sprite inside itself.
    std::vector<const Sprite*> FSpritesEntered;
    QStringList FWarnings;
    TraceHandler FTrace;
    ButtonUnderMouse FHover, FPressed;
    bool FMouseDown = false;
    HitAreaCache FHitAreas;
    bool FHasBoundTexts = false;
    bool FHasClipEvents = false; // a sprite with event handlers has been placed
    long long FTicks = 0;        // ticks played: the scripts' clock
    QPointF FMouse;              // where the mouse was last, stage twips
};

} // namespace flash

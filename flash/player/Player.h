#pragma once
// Plays a movie's timelines: the main timeline and every sprite placed on it keep their display
// lists frame by frame. Seeking replays from the start, so a frame reached by seeking shows exactly
// what playing up to it shows.
//
// A tick runs in this order: every clip on stage queues its enterFrame handlers (the clip made last
// first, the main timeline last), then the timelines move on, each queuing the scripts of the frame
// it enters in tag order; a sprite placed queues its load handlers, then enters its first frame; an
// object leaving the stage queues the unload handlers of the clips inside it, then its own. The
// queue then runs: DoInitAction (once per sprite id) first, then initialize handlers, then
// construct handlers, each clip's followed by the constructor of the class registered for its
// symbol (one a script places runs it at once), then the rest in the order queued, a class's
// onLoad after the clip's load handlers. A clip that left the stage runs only its
// unload handlers.
// A script's goto changes the display list at once and runs only the scripts of the frame it
// reaches, after the script; sprites placed on the way enter their first frame with their scripts.
// Going backwards (and looping) keeps every object that the frame reached places from the same tag,
// with its state; the rest leave and the frames are replayed. Clips scripts made stay. Seeking
// (GotoFrame here) replays from the start and runs only the scripts of the frame reached.
// In ActionScript 3 movies the classes bound to the main timeline and to sprites are constructed
// as they appear, and the frame scripts they register run after the queue above (avm2/As3Runtime).
//
// Every walk over the stage recurses once a level and is bounded: sprites are placed and advanced at
// most MaxSpriteNesting deep (a placement inside itself is skipped, with a warning); walks that find
// clips, run events, bind texts and hit-test buttons stop 64 levels down; a button shows buttons at
// most 8 deep, and its hit area looks 8 levels into its characters; the renderer draws 64 levels.
// Removal and sound stops follow the display lists, so they are bounded by the same nesting.

#include "flash/player/Buttons.h"
#include "flash/player/ClipLoading.h"
#include "flash/player/ScriptHost.h"
#include "flash/player/TimelineState.h"

#include <QStringList>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace flash {

class SoundMixer;
namespace avm2 {
class As3Runtime;
}

class Player : private TimelineControl {
public:
    static constexpr std::size_t MaxSpriteNesting = flash::MaxSpriteNesting;
    // Movies scripts load: distinct files read at most (a file loaded again is not read again), and
    // how deep loaded movies nest in clips (a movie loading itself into its own clip stops there).
    static constexpr std::size_t MaxLoadedMovies = 16;
    static constexpr int MaxLoadNesting = 8;

    // Mixer may be null: the movie then plays without sound.
    // Trace, when set, receives every trace() line the movie's scripts print, the first frame's too;
    // notes a line for each getURL, fscommand or load by URL they ask for, none of which is done.
    using TraceHandler = ScriptHost::TraceHandler;
    explicit Player(std::shared_ptr<const Movie> movie, SoundMixer* mixer = nullptr, TraceHandler trace = {},
                    TraceHandler notes = {});
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    const Movie& GetMovie() const { return *state.movie; }
    int TotalFrames() const { return state.FrameCount(); }
    int CurrentFrame() const { return state.currentFrame; } // zero-based; -1 before the first frame
    bool Playing() const { return state.playing; }
    // Stopping also stops the stream sound; event sounds play on, as in Flash Player.
    void Play();
    void Stop();
    // Shows the frame (clamped to the movie); playing goes on from there if it was playing.
    void GotoFrame(int frame);
    // One tick of the movie's clock: the main timeline moves on (looping at its end) when playing,
    // and every sprite on stage moves on its own timeline.
    void Tick();
    const DisplayList& Stage() const { return state.stage; }
    Rgba BackgroundColor() const { return state.background; }
    // The frame the main timeline's stream sound has reached, or -1 without a playing stream.
    int StreamFrame() const;
    // What playing skipped (a sprite placed inside itself, nesting past MaxSpriteNesting), one line
    // per kind.
    const QStringList& Warnings() const { return warnings; }

    // The mouse at a point of the stage in twips. Buttons under it show their over state, the one
    // pressed its down state, and a release over the button pressed runs its release actions. A
    // transition that has a button sound starts it.
    // Each returns whether a button is under the point.
    bool MouseMove(double x, double y);
    bool MouseDown(double x, double y);
    bool MouseUp(double x, double y);
    // A key press (a ButtonKeyCode) runs the actions of every button on stage whose condition
    // names that key; returns whether one did. It is the key going down and up (KeyOfButtonCode).
    bool KeyPress(int keyCode);
    // A key going down or up, by Flash's key code (Key.getCode) and the character typed
    // (Key.getAscii), as Keys.h makes them; code 0 is ignored. Down runs the key's button actions
    // and the clips' keyDown and keyPress handlers, then Key's listeners' onKeyDown, and returns
    // whether a button's action ran; up runs the keyUp handlers, then onKeyUp. Mouse input tells
    // Mouse's listeners (onMouseMove, onMouseDown, onMouseUp) after the clips' handlers.
    bool KeyDown(int code, int ascii);
    void KeyUp(int code, int ascii);
    // Whether the movie's scripts hid the mouse pointer (Mouse.hide).
    bool MouseHidden() const;

private:
    struct ButtonUnderMouse {
        std::shared_ptr<ButtonInstance> button;
        ClipRef owner; // the timeline the button is on: its actions act there
        // Or a clip acting as a button, by its handlers (onPress, onRelease ...).
        std::shared_ptr<SpriteInstance> clip = {};
        bool Found() const { return button || clip; }
        bool operator==(const ButtonUnderMouse& other) const {
            return button == other.button && clip == other.clip;
        }
    };
    struct QueuedScript {
        ClipRef clip;
        QByteArray code;
        QString handler = {}; // instead of code: the clip's event handler of this name
        // Unload handlers keep their clip, gone from the stage, until they ran.
        std::shared_ptr<SpriteInstance> unloading = {};
        // Instead of code: work of the interpreter's own (timers, listeners), on the queue's budget.
        std::function<void(long long& budget)> call = {};
    };
    // The queue runs a level only when those before it are empty.
    enum ScriptLevel { InitLevel, InitializeLevel, ConstructLevel, FrameLevel, LevelCount };
    // A timeline a goto moves: the main timeline's or a sprite's.
    struct TimelineCursor {
        const Timeline& timeline;
        DisplayList& list;
        const void* key;
        int& frame;
    };
    // Objects a goto backwards keeps, by depth, while the frames are replayed.
    struct Restoring {
        const DisplayList* list = nullptr;
        DisplayList kept;
    };

    // What scripts ask of the timelines.
    void GotoMainFrame(int frame) override;
    void GotoSpriteFrame(SpriteInstance& sprite, int frame) override;
    void SetMainPlaying(bool playing) override;
    void StartPlacedSprite(DisplayObject& placed) override;
    void Leave(const DisplayObject& object) override;
    void Warn(const QString& message) override;

    TimelineCursor MainCursor();
    TimelineCursor SpriteCursor(SpriteInstance& sprite);
    // A script's goto: forwards through the frames' tags, backwards by Rewind.
    void GotoTimeline(const TimelineCursor& at, int frame, bool withSound);
    void Rewind(const TimelineCursor& at, int frame, bool withSound);
    // Takes the object out of the list, seeing it off; the next entry.
    DisplayList::iterator Remove(DisplayList& list, DisplayList::iterator object);
    void StopSpriteStreams(const DisplayObject& object);

    // The whole tick (or seek) without scripts; Tick runs them after.
    void Advance();
    void StopMainStream();
    void QueueScript(const OtherTag& tag, const void* timelineKey);
    void Enqueue(QueuedScript script, ScriptLevel level = FrameLevel);
    void RunScripts();
    void ShowButtonState(ButtonInstance& instance, std::uint8_t buttonState, bool withSound);
    // The actions of the transition, and the event sound it starts.
    void QueueButtonActions(const ButtonUnderMouse& target, std::uint16_t condition);
    ButtonUnderMouse FindButton(const DisplayList& list, const ClipRef& owner, const QTransform& toStage,
                                QPointF point, int nesting);
    ButtonUnderMouse ButtonAt(QPointF point);
    // A sprite with button handlers, enabled, whose visible shapes are under the point (ClipButtons.cpp).
    bool ClipTakesMouse(const DisplayObject& object, const QTransform& toStage, QPointF point);
    void UpdateHover(const ButtonUnderMouse& hit);
    // Every object in the list and the lists inside it, with the timeline it is placed on (a button's
    // characters count as placed on the button's timeline), each object before those inside it.
    using PlacedVisit = std::function<void(DisplayObject& object, const ClipRef& owner)>;
    void ForEachPlaced(DisplayList& list, const ClipRef& owner, const PlacedVisit& visit, int nesting);
    // Queues the actions of the buttons on stage waiting for the key; whether there were any.
    bool QueueKeyActions(int keyCode);
    // Queues the handlers of the event (with ClipEventKeyPress: of the key) of every sprite on stage.
    void QueueClipEvents(std::uint32_t event, int keyCode);
    void QueueClipEvent(const DisplayObject& object, std::uint32_t event, int keyCode);
    // A sprite placed: its initialize, construct and load handlers.
    // Construct unset: a class the clip's symbol has (Object.registerClass) is left to the caller.
    void QueuePlacedEvents(const DisplayObject& object, bool construct = true);
    // A clip of a symbol with a class: its constructor at the construct level (when asked), then its
    // onLoad after its load handlers.
    void QueueClassEvents(const DisplayObject& object, bool construct);
    // The class registered for one of the linkage names the sprite is exported under, or null.
    ScriptObject* ClassOf(const SpriteInstance& sprite) const;
    // Every clip's enterFrame handlers, the clip made last first, the main timeline's last.
    void QueueEnterFrame();
    // The unload handlers of an object leaving and of the clips inside it, innermost first.
    void QueueUnload(const DisplayObject& object, int nesting);
    // Queues the handlers (onEnterFrame, onMouseDown ...) scripts set on the main timeline and sprites.
    void QueueHandlers(const QString& name);
    // Queues a message to the listeners of Key, Mouse or Stage.
    void QueueBroadcast(ScriptObject* broadcaster, const QString& message);
    // Edit texts bound to variables show what the variables hold now.
    void UpdateBoundTexts();
    // Runs the control tags of one frame of a timeline onto its display list; its own scripts are
    // queued when ownScripts.
    void EnterFrame(const Timeline& timeline, int frame, DisplayList& list, const void* timelineKey,
                    bool withSound, bool ownScripts = true);
    // Frame is the timeline's frame holding the tag.
    void Place(const PlaceObject& tag, DisplayList& list, bool withSound, int frame);
    // Whether a sprite may be placed where the timelines now being entered are: not inside itself,
    // not deeper than MaxSpriteNesting. Warns once when not.
    bool MayPlaceSprite(const Sprite& sprite, std::uint16_t id);
    // A StartSound tag's sound, or a button's, in the scopes of the timeline it is on (owner null: the
    // main timeline's): nothing for an id that is no sound.
    void StartEventSound(std::uint16_t soundId, const SoundInfo& info, const SpriteInstance* owner);
    // Tells the scripts which of their sounds ended since the last tick (onSoundComplete).
    void ReportSoundEnds();
    void TickSprites(DisplayList& list, bool withSound);
    void AdvanceSprite(SpriteInstance& instance, bool withSound);
    // A frame of the main timeline, stepping through the frames before it when needed.
    void Seek(int frame, bool withSound);
    void Reset();

    // Movies and variables scripts asked to load (PlayerLoads.cpp), answered after the timelines
    // moved on: the loaded movie's first frame runs, then its MovieClipLoader hears onLoadInit.
    void LoadRequestedMovies();
    // The target's placement, made for a level that holds nothing yet; null when it is gone.
    DisplayObject* LoadTarget(const ScriptHost::LoadRequest& request);
    // A loaded movie's characters, read once per file; null with the reason when it cannot be.
    const ImportedMovie* Imported(const QString& file, QString& error);
    void ReplaceContent(DisplayObject& object, const std::shared_ptr<const Character>& character);
    void LoadVariables(const ClipRef& clip, const QString& file);
    std::map<QString, ImportedMovie> loadedMovies;             // by file
    std::vector<std::shared_ptr<const Movie>> formerLibraries; // still drawn from elsewhere, kept

    TimelineState state;
    ScriptHost host;
    ActionInterpreter interpreter;
    std::array<std::deque<QueuedScript>, LevelCount> queues;
    std::size_t queued = 0;
    Restoring* restoring = nullptr;        // set while a goto backwards replays frames
    std::unique_ptr<avm2::As3Runtime> as3; // null: the movie has no ActionScript 3
    std::set<std::uint16_t> initDone;      // sprite ids whose init actions ran
    bool muteScripts = false;
    bool runningScripts = false;
    int buttonNesting = 0; // buttons showing buttons: bounded against cycles
    // The sprites whose timelines are being advanced, outermost first: a placement of one of them
    // would put a sprite inside itself.
    std::vector<const Sprite*> spritesEntered;
    QStringList warnings;
    ButtonUnderMouse hover, pressed;
    bool mouseDown = false;
    HitAreaCache hitAreas;
    bool hasBoundTexts = false;
    bool hasClipEvents = false; // a sprite with event handlers has been placed
    // The played movie's exported sprites, whose clips may have a registered class.
    std::set<const Sprite*> exportedSprites;
};

} // namespace flash

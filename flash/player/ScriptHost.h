#pragma once
// The interpreter's view of the timelines: it finds clips by name and path, reads and sets their
// placements, duplicates, attaches and removes script-made clips, drags a clip with the mouse, keeps
// what scripts draw in clips in their display lists, and passes timeline control (goto, play, stop)
// on to the player, which replays timelines as playing would. It works on the state it is given and
// keeps only the drag and the clips whose drawings changed of its own.
//
// Every walk over the stage stops MaxFindNesting levels down; placement values are clamped to
// MaxPropertyValue; a display list takes at most MaxListSize script-made clips. A clip that has left
// the stage is found nowhere, and what a script asks of it does nothing.

#include "flash/player/ClipGeometry.h"
#include "flash/player/TimelineState.h"

#include <QRectF>
#include <QTransform>
#include <functional>
#include <optional>
#include <vector>

namespace flash {

// What scripts ask of the player's timelines beyond the shared state: moving a timeline to a frame
// as a goto does, starting a sprite a script placed, and seeing off what leaves the stage.
class TimelineControl {
public:
    virtual void GotoMainFrame(int frame) = 0;
    virtual void GotoSpriteFrame(SpriteInstance& sprite, int frame) = 0;
    virtual void SetMainPlaying(bool playing) = 0;
    // A sprite a script placed shows its first frame and runs its load handlers.
    virtual void StartPlacedSprite(DisplayObject& placed) = 0;
    // An object about to leave the stage ends its stream sounds and runs its unload handlers.
    virtual void Leave(const DisplayObject& object) = 0;
    virtual void Warn(const QString& message) = 0;

protected:
    ~TimelineControl() = default;
};

class ScriptHost final : public ActionHost {
public:
    // Pixels, percent or degrees: far past any stage, still exact in twips.
    static constexpr double MaxPropertyValue = 1e7;
    // Script depth 0 is this display list depth: Flash keeps the depths below it for the timeline.
    static constexpr int ScriptDepthBase = 16384;
    // Clips a display list takes from duplicateMovieClip and attachMovie at most.
    static constexpr std::size_t MaxListSize = 4096;

    // Receives every trace() line.
    using TraceHandler = std::function<void(const QString&)>;

    // Notes receives a line for each request scripts make that is not carried out (getURL ...).
    ScriptHost(TimelineState& state, TimelineControl& control, TraceHandler trace, TraceHandler notes = {});

    ClipRef Parent(const ClipRef& clip) override;
    ClipRef Child(const ClipRef& clip, const QString& name) override;
    int CurrentFrame(const ClipRef& clip) override;
    int FrameCount(const ClipRef& clip) override;
    int LabelFrame(const ClipRef& clip, const QString& label) override;
    void GotoFrame(const ClipRef& clip, int frame, std::optional<bool> play) override;
    void SetPlaying(const ClipRef& clip, bool playing) override;
    void StopSounds() override;
    std::optional<double> Property(const ClipRef& clip, int property) override;
    void SetProperty(const ClipRef& clip, int property, double value) override;
    double Milliseconds() override;
    double MovieBytes() override;
    QSizeF StageSize() override;
    void Trace(const QString& line) override;
    void Note(const QString& line) override;
    void Duplicate(const ClipRef& clip, const QString& name, int depth) override;
    void Remove(const ClipRef& clip) override;
    ClipRef Attach(const ClipRef& clip, const QString& linkage, const QString& name, int depth) override;
    void StartDrag(const ClipRef& clip, bool lockCenter, const std::optional<QRectF>& bounds) override;
    void StopDrag() override;
    std::shared_ptr<TextFieldState> Field(const ClipRef& clip, const QString& name) override;
    // Sound objects (ScriptSounds.cpp).
    std::optional<ExportedSound> FindSound(const QString& linkage) override;
    std::uint64_t StartSound(const SoundScope& scope, std::uint16_t id, double offsetSeconds,
                             int loops) override;
    void StopSound(const SoundScope& scope, std::optional<std::uint16_t> id) override;
    std::optional<double> SoundPosition(std::uint64_t channel) override;
    SoundSettings GetSoundSettings(const SoundScope& scope) override;
    void SetSoundSettings(const SoundScope& scope, const SoundSettings& settings) override;
    // Clip geometry, depths and names (ScriptHostClips.cpp).
    std::optional<QTransform> StageTransform(const ClipRef& clip) override;
    std::optional<QRectF> ContentBounds(const ClipRef& clip, const QTransform& clipToSpace) override;
    bool HitsShape(const ClipRef& clip, QPointF stagePoint) override;
    QPointF MousePosition() override;
    std::optional<int> Depth(const ClipRef& clip) override;
    ClipRef AtDepth(const ClipRef& owner, int depth) override;
    int NextHighestDepth(const ClipRef& owner) override;
    void SwapDepths(const ClipRef& clip, int depth) override;
    ClipRef CreateEmpty(const ClipRef& owner, const QString& name, int depth) override;
    QString Name(const ClipRef& clip) override;
    void Rename(const ClipRef& clip, const QString& name) override;
    ClipRef DropTarget(const ClipRef& dragged) override;
    // Whether a stage point falls on the visible shapes of a list whose coordinates map to the stage
    // by listToStage: how a clip acting as a button takes the mouse.
    bool ListHit(const DisplayList& list, const QTransform& listToStage, QPointF stagePoint);

    // Loading (ScriptHostClips.cpp): requests wait for the player, at most MaxLoadRequests at once.
    // Levels 1 to MaxLevel sit at the top display list depths of the stage.
    static constexpr std::size_t MaxLoadRequests = 16;
    static constexpr int MaxLevel = 15;
    static constexpr int LevelKey(int level) { return 0xFFFF - MaxLevel + level; }
    struct LoadRequest {
        int number = 0;
        LoadKind kind = LoadKind::Movie;
        ClipRef target; // empty for a level
        int level = -1;
        QString address;
    };
    int RequestLoad(LoadKind kind, const ClipRef& target, int level, const QString& address) override;
    ClipRef Level(int level) override;
    std::optional<int> LevelOf(const ClipRef& clip) override;
    QString MovieUrl() override;
    std::vector<LoadRequest> TakeLoadRequests() { return std::exchange(loadRequests, {}); }
    // A sprite of one empty frame: what createEmptyMovieClip places and unloadMovie leaves.
    const std::shared_ptr<const Character>& EmptySprite();
    Drawing* DrawingOf(const ClipRef& clip) override;
    DisplayObject* PlacementOf(const ClipRef& clip) override;

    // What scripts drew is kept at this depth of the clip's list, beneath every depth a movie or a
    // script uses; a movie that places a character there replaces it.
    static constexpr std::uint16_t DrawingDepth = 0;
    // The drawing in a clip's list, or null: what it covers counts in the clip's bounds.
    static const Drawing* DrawingIn(const DisplayList& list);
    // Drawings changed since the last call show what scripts drew; run after each round of scripts.
    void PublishDrawings();
    // Text fields made and reached by scripts (ScriptTextFields.cpp).
    std::shared_ptr<TextFieldState> CreateField(const ClipRef& clip, const QString& name, int depth,
                                                const QRectF& box) override;
    DisplayObject* FieldPlacement(const TextFieldState& field) override;
    void RemoveField(const TextFieldState& field) override;
    const Movie* PlayedMovie() override { return state.movie.get(); }
    void FieldBound() override { state.boundFields = true; }

    // Bitmaps of scripts (ScriptBitmaps.cpp).
    QImage ExportedBitmap(const QString& linkage) override;
    bool AttachBitmap(const ClipRef& clip, std::shared_ptr<const ShownBitmap> shown, int depth) override;

    // Moves the clip being dragged to the mouse.
    void FollowMouse();

private:
    struct Drag {
        ClipRef clip;
        QPointF offset; // from the pointer, in the parent's twips
        std::optional<QRectF> bounds;
    };

    ClipRef PlaceSprite(const ClipRef& owner, DisplayObject object, const Sprite* sprite, const QString& name,
                        int depth);
    DisplayObject* Placement(const ClipRef& clip);
    DisplayList* ListOf(const ClipRef& clip) const;

    TimelineState& state;
    TimelineControl& control;
    TraceHandler trace, notes;
    std::optional<Drag> drag;
    ClipRef lastDragged; // keeps its _droptarget after the drag ends
    ShapeAreaCache shapeAreas;
    // What createEmptyMovieClip places: a sprite of one empty frame.
    std::shared_ptr<const Character> emptySprite;
    std::vector<LoadRequest> loadRequests;
    int loadsRequested = 0;
    std::vector<ClipRef> drawn; // clips whose drawing changed since it was last published
};

} // namespace flash

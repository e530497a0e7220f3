#pragma once
// The interpreter's view of the timelines: it finds clips by name and path, reads and sets their
// placements, duplicates, attaches and removes script-made clips, drags a clip with the mouse, and
// passes timeline control (goto, play, stop) on to the player, which replays timelines as playing
// would. It works on the state it is given and keeps only the drag of its own.
//
// Every walk over the stage stops MaxFindNesting levels down; placement values are clamped to
// MaxPropertyValue; a display list takes at most MaxListSize script-made clips. A clip that has left
// the stage is found nowhere, and what a script asks of it does nothing.

#include "flash/player/TimelineState.h"

#include <QRectF>
#include <QTransform>
#include <functional>
#include <optional>

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
};

} // namespace flash

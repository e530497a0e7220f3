#pragma once
// The shape a script draws in a clip (moveTo, lineTo, curveTo, beginFill ... endFill, lineStyle,
// clear), built as the same shape records the reader makes of a movie's own shapes, so the renderer
// draws it as it draws them: beneath the clip's children, fills even-odd, each fill under the lines
// drawn while it was open and under the fills begun after it.
//
// Coordinates come in the clip's pixels and are kept in whole twips, clamped to MaxCoordinate. A
// drawing holds at most MaxEdges edges and MaxStyles styles: drawing past them is ignored (the pen
// still moves), so a script drawing every frame without clear() cannot grow without end. Values
// that are not finite are refused by the callers.

#include "flash/swf/SwfModel.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace flash {

class ScriptBitmap;

class Drawing {
public:
    // Far past what a script draws in one clip; a full drawing copies a few MB when published.
    static constexpr std::size_t MaxEdges = std::size_t(1) << 16;
    static constexpr std::size_t MaxStyles = 4096;
    // Pixels: as far as a script may move a clip.
    static constexpr double MaxCoordinate = 1e7;

    // Pen moves and edges, in pixels. Moving starts a new outline; an open fill's outline is closed.
    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    void CurveTo(double controlX, double controlY, double x, double y);
    // Ends an open fill, then fills what is drawn from here with `fill`; none draws edges unfilled.
    void BeginFill(const std::optional<FillStyle>& fill);
    // The same with a bitmap a script made, placed by `matrix` (bitmap pixels to the clip's pixels),
    // repeated or with its edge pixels stretched beyond it, smoothed or not. The fill's bitmapId is
    // the bitmap's index in FillBitmaps().
    void BeginBitmapFill(std::shared_ptr<const ScriptBitmap> bitmap, const Matrix& matrix, bool repeat,
                         bool smooth);
    const std::vector<std::shared_ptr<const ScriptBitmap>>& FillBitmaps() const { return bitmaps; }
    // Closes the outline back to where it began and ends the fill.
    void EndFill();
    // The line for the edges drawn from here; none draws them without a line.
    void SetLineStyle(const std::optional<LineStyle>& style);
    // lineGradientStyle: the current line painted with `fill`; nothing without a line.
    void SetLineFill(const FillStyle& fill);
    // Erases everything, takes the line away and puts the pen back at the origin.
    void Clear();

    bool Empty() const { return shape.edges.empty(); }
    bool changed = false; // since last published: the script host's bookkeeping
    // What the drawing covers in twips, lines with half their width; none when nothing is drawn.
    std::optional<Rect> Bounds() const;
    // The drawing as it stands, as a character the renderer draws.
    std::shared_ptr<const Character> Publish() const;

private:
    void AddEdge(double x, double y, bool curved, double controlX, double controlY, bool lined);
    void CloseOutline();
    // The style index of a new style, or -1 when the drawing has all it may have.
    int AddLine(const LineStyle& style);

    Shape shape;
    double penX = 0, penY = 0;     // twips
    double startX = 0, startY = 0; // where the open fill's outline began
    int fill = -1, line = -1;
    std::optional<LineStyle> lineStyle;
    bool arrayDrawn = false; // the current style array has edges: a new fill starts a new array
    std::vector<std::shared_ptr<const ScriptBitmap>> bitmaps; // of the bitmap fills, each once
};

} // namespace flash

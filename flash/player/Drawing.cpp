#include "flash/player/Drawing.h"

#include <algorithm>
#include <cmath>

namespace flash {

namespace {

double ToTwips(double pixels) {
    return std::round(std::clamp(pixels, -Drawing::MaxCoordinate, Drawing::MaxCoordinate) * TwipsPerPixel);
}

// Grows a box of doubles by a point.
struct Box {
    double xMin = INFINITY, yMin = INFINITY, xMax = -INFINITY, yMax = -INFINITY;
    void Add(double x, double y, double margin) {
        xMin = std::min(xMin, x - margin);
        yMin = std::min(yMin, y - margin);
        xMax = std::max(xMax, x + margin);
        yMax = std::max(yMax, y + margin);
    }
    bool Empty() const { return xMin > xMax; }
};

// The edge's points and, for a curve, its turning points: what it covers, exactly.
void Cover(Box& box, const ShapeEdge& e, double margin) {
    box.Add(e.fromX, e.fromY, margin);
    box.Add(e.toX, e.toY, margin);
    if (!e.curved)
        return;
    const auto extreme = [](double a, double b, double c) -> std::optional<double> {
        const double denominator = a - 2 * b + c;
        if (denominator == 0)
            return std::nullopt;
        const double t = (a - b) / denominator;
        return t > 0 && t < 1 ? std::optional(t) : std::nullopt;
    };
    const auto at = [&](double t) {
        const double u = 1 - t;
        box.Add(u * u * e.fromX + 2 * u * t * e.controlX + t * t * e.toX,
                u * u * e.fromY + 2 * u * t * e.controlY + t * t * e.toY, margin);
    };
    if (const auto t = extreme(e.fromX, e.controlX, e.toX))
        at(*t);
    if (const auto t = extreme(e.fromY, e.controlY, e.toY))
        at(*t);
}

Rect ToRect(const Box& box) {
    return {std::int32_t(std::floor(box.xMin)), std::int32_t(std::ceil(box.xMax)),
            std::int32_t(std::floor(box.yMin)), std::int32_t(std::ceil(box.yMax))};
}

} // namespace

void Drawing::MoveTo(double x, double y) {
    CloseOutline();
    penX = startX = ToTwips(x);
    penY = startY = ToTwips(y);
}

void Drawing::LineTo(double x, double y) {
    AddEdge(ToTwips(x), ToTwips(y), false, 0, 0, true);
}

void Drawing::CurveTo(double controlX, double controlY, double x, double y) {
    AddEdge(ToTwips(x), ToTwips(y), true, ToTwips(controlX), ToTwips(controlY), true);
}

void Drawing::BeginFill(const std::optional<FillStyle>& style) {
    EndFill();
    if (!style || shape.fillStyles.size() + shape.lineStyles.size() >= MaxStyles)
        return;
    if (arrayDrawn) {
        // Painted above what was drawn before, lines included; the line in use moves up with it.
        shape.newStyleArrays.push_back(
            {std::uint32_t(shape.fillStyles.size()), std::uint32_t(shape.lineStyles.size())});
        arrayDrawn = false;
        if (lineStyle)
            line = AddLine(*lineStyle);
    }
    fill = int(shape.fillStyles.size());
    shape.fillStyles.push_back(*style);
    startX = penX;
    startY = penY;
}

void Drawing::BeginBitmapFill(std::shared_ptr<const ScriptBitmap> bitmap, const Matrix& matrix, bool repeat,
                              bool smooth) {
    auto known = std::find(bitmaps.begin(), bitmaps.end(), bitmap);
    const bool added = known == bitmaps.end();
    if (added)
        known = bitmaps.insert(known, std::move(bitmap));
    FillStyle style;
    style.type =
        repeat ? (smooth ? FillStyle::Type::RepeatingBitmap : FillStyle::Type::NonSmoothedRepeatingBitmap)
               : (smooth ? FillStyle::Type::ClippedBitmap : FillStyle::Type::NonSmoothedClippedBitmap);
    style.bitmapId = std::uint16_t(known - bitmaps.begin());
    // Bitmap pixels to twips, as a movie's own bitmap fills are stored.
    style.bitmapMatrix = {matrix.a * TwipsPerPixel, matrix.b * TwipsPerPixel,  matrix.c * TwipsPerPixel,
                          matrix.d * TwipsPerPixel, matrix.tx * TwipsPerPixel, matrix.ty * TwipsPerPixel};
    BeginFill(style);
    if (fill < 0 && added) // refused: the drawing has all the styles it may have
        bitmaps.pop_back();
}

void Drawing::EndFill() {
    CloseOutline();
    fill = -1;
}

void Drawing::SetLineStyle(const std::optional<LineStyle>& style) {
    lineStyle = style;
    line = style ? AddLine(*style) : -1;
}

void Drawing::SetLineFill(const FillStyle& style) {
    if (!lineStyle)
        return;
    lineStyle->fill = style;
    line = AddLine(*lineStyle);
}

void Drawing::Clear() {
    *this = Drawing();
}

int Drawing::AddLine(const LineStyle& style) {
    if (shape.fillStyles.size() + shape.lineStyles.size() >= MaxStyles)
        return -1;
    shape.lineStyles.push_back(style);
    return int(shape.lineStyles.size()) - 1;
}

void Drawing::AddEdge(double x, double y, bool curved, double controlX, double controlY, bool lined) {
    const int edgeLine = lined ? line : -1;
    if ((fill >= 0 || edgeLine >= 0) && shape.edges.size() < MaxEdges) {
        ShapeEdge& edge = shape.edges.emplace_back();
        edge.fromX = penX;
        edge.fromY = penY;
        edge.toX = x;
        edge.toY = y;
        edge.curved = curved;
        edge.controlX = controlX;
        edge.controlY = controlY;
        edge.fill1 = fill;
        edge.line = edgeLine;
        arrayDrawn = true;
    }
    penX = x;
    penY = y;
}

// A fill's outline is closed by an edge of its own that has no line.
void Drawing::CloseOutline() {
    if (fill < 0 || (penX == startX && penY == startY))
        return;
    const double x = penX, y = penY;
    AddEdge(startX, startY, false, 0, 0, false);
    penX = x;
    penY = y;
}

std::optional<Rect> Drawing::Bounds() const {
    Box box;
    for (const ShapeEdge& edge : shape.edges) {
        const bool lined = edge.line >= 0 && std::size_t(edge.line) < shape.lineStyles.size();
        Cover(box, edge, lined ? shape.lineStyles[std::size_t(edge.line)].width / 2.0 : 0);
    }
    return box.Empty() ? std::nullopt : std::optional(ToRect(box));
}

std::shared_ptr<const Character> Drawing::Publish() const {
    // A fill still open shows closed, as it will be when it ends.
    Drawing closed = *this;
    closed.CloseOutline();
    const std::optional<Rect> bounds = closed.Bounds();
    Shape published = std::move(closed.shape);
    Box edges;
    for (const ShapeEdge& edge : published.edges)
        Cover(edges, edge, 0);
    if (!edges.Empty())
        published.edgeBounds = ToRect(edges);
    published.bounds = bounds.value_or(Rect{});
    return std::make_shared<const Character>(std::move(published));
}

} // namespace flash

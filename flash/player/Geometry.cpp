#include "flash/player/Geometry.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace flash {

QTransform ToQTransform(const Matrix& m) {
    return QTransform(m.a, m.b, m.c, m.d, m.tx, m.ty);
}

bool IsIdentity(const ColorTransform& t) {
    return t == ColorTransform{};
}

ColorTransform Compose(const ColorTransform& parent, const ColorTransform& child) {
    return ColorTransform{child.rMul * parent.rMul,
                          child.gMul * parent.gMul,
                          child.bMul * parent.bMul,
                          child.aMul * parent.aMul,
                          child.rAdd * parent.rMul + parent.rAdd,
                          child.gAdd * parent.gMul + parent.gAdd,
                          child.bAdd * parent.bMul + parent.bAdd,
                          child.aAdd * parent.aMul + parent.aAdd};
}

namespace {

std::uint8_t Channel(double value, double mul, double add) {
    return std::uint8_t(std::clamp(std::lround(value * mul + add), 0L, 255L));
}

} // namespace

Rgba Apply(const ColorTransform& t, Rgba c) {
    return Rgba{Channel(c.r, t.rMul, t.rAdd), Channel(c.g, t.gMul, t.gAdd), Channel(c.b, t.bMul, t.bAdd),
                Channel(c.a, t.aMul, t.aAdd)};
}

std::uint64_t PointKey(double x, double y) {
    const auto qx = std::int32_t(std::llround(x * 64));
    const auto qy = std::int32_t(std::llround(y * 64));
    return (std::uint64_t(std::uint32_t(qx)) << 32) | std::uint32_t(qy);
}

namespace {

struct Segment {
    QPointF from, control, to;
    bool curved;
    std::uint64_t fromKey, toKey;
};

void AddSegment(QPainterPath& path, const Segment& s) {
    if (s.curved)
        path.quadTo(s.control, s.to);
    else
        path.lineTo(s.to);
}

// The area of one fill style: its edges turned so the fill lies on their right, chained end to
// start into contours. Odd-even filling gives Flash's holes and its gaps where contours overlap.
QPainterPath FillPath(const std::vector<Segment>& segments) {
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    if (segments.empty())
        return path;
    std::unordered_map<std::uint64_t, std::vector<int>> starting;
    starting.reserve(segments.size());
    for (int i = int(segments.size()) - 1; i >= 0; --i)
        starting[segments[std::size_t(i)].fromKey].push_back(i); // back() is the earliest
    std::vector<bool> used(segments.size(), false);
    auto take = [&](std::uint64_t key) -> int {
        auto found = starting.find(key);
        if (found == starting.end())
            return -1;
        std::vector<int>& list = found->second;
        while (!list.empty() && used[std::size_t(list.back())])
            list.pop_back();
        if (list.empty())
            return -1;
        const int next = list.back();
        list.pop_back();
        return next;
    };
    for (std::size_t first = 0; first < segments.size(); ++first) {
        if (used[first])
            continue;
        const Segment& start = segments[first];
        path.moveTo(start.from);
        int current = int(first);
        while (current >= 0) {
            const Segment& s = segments[std::size_t(current)];
            used[std::size_t(current)] = true;
            AddSegment(path, s);
            if (s.toKey == start.fromKey)
                break;
            current = take(s.toKey);
        }
        path.closeSubpath();
    }
    return path;
}

Segment MakeSegment(const ShapeEdge& e, bool reversed) {
    Segment s{
        QPointF(e.fromX, e.fromY), QPointF(e.controlX, e.controlY), QPointF(e.toX, e.toY), e.curved, 0, 0};
    if (reversed)
        std::swap(s.from, s.to);
    s.fromKey = PointKey(s.from.x(), s.from.y());
    s.toKey = PointKey(s.to.x(), s.to.y());
    return s;
}

bool Valid(int style, std::size_t count) {
    return style >= 0 && std::size_t(style) < count;
}

} // namespace

std::vector<QPainterPath> FillAreas(const Shape& shape) {
    const std::size_t fillCount = shape.fillStyles.size();
    std::vector<std::vector<Segment>> fillSegments(fillCount);
    for (const ShapeEdge& e : shape.edges) {
        if (e.fill0 == e.fill1)
            continue; // the same fill on both sides bounds nothing
        if (Valid(e.fill1, fillCount))
            fillSegments[std::size_t(e.fill1)].push_back(MakeSegment(e, false));
        if (Valid(e.fill0, fillCount))
            fillSegments[std::size_t(e.fill0)].push_back(MakeSegment(e, true));
    }
    std::vector<QPainterPath> areas;
    areas.reserve(fillCount);
    for (const std::vector<Segment>& segments : fillSegments)
        areas.push_back(FillPath(segments));
    return areas;
}

} // namespace flash

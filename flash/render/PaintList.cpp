#include "flash/render/PaintList.h"

#include "flash/render/Rasterizer.h"

#include <QPaintEngine>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace flash {

PaintPath::PaintPath(QPainterPath path)
    : copies(std::make_shared<std::vector<ThreadCopy>>(1, ThreadCopy{std::move(path), {}})) {}

const QPainterPath& PaintPath::Path() const {
    static const QPainterPath none;
    return copies ? copies->front().path : none;
}

void PaintPath::Share(int threads) const {
    if (!copies)
        return;
    while (int(copies->size()) < threads) {
        QPainterPath copy = copies->front().path;
        // A change makes the copy let go of the data it shared with the path.
        if (copy.elementCount() > 0)
            copy.setElementPositionAt(0, copy.elementAt(0).x, copy.elementAt(0).y);
        copies->push_back(ThreadCopy{std::move(copy), {}});
    }
}

const QPainterPath& PaintPath::Copy(int thread) const {
    return copies && std::size_t(thread) < copies->size() ? (*copies)[std::size_t(thread)].path : Path();
}

FlatPath* PaintPath::Flat(int thread) const {
    return copies && std::size_t(thread) < copies->size() ? &(*copies)[std::size_t(thread)].flat : nullptr;
}

void PaintList::Begin(int threadCount) {
    threads = std::max(1, threadCount);
    steps.clear();
}

void PaintList::Fill(const PaintPath& path, const QBrush& brush, const QTransform& toDevice, double opacity,
                     bool smooth, std::shared_ptr<const RasterPaint> raster) {
    path.Share(threads);
    steps.push_back(
        Step{Step::Kind::Fill, smooth, opacity, path, toDevice, brush, {}, {}, std::move(raster), {}, {}});
}

void PaintList::Stroke(const PaintPath& path, const QPen& pen, const QTransform& toDevice, double opacity,
                       bool smooth) {
    path.Share(threads);
    steps.push_back(Step{Step::Kind::Stroke, smooth, opacity, path, toDevice, {}, pen, {}, {}, {}, {}});
}

void PaintList::BeginGroup() {
    steps.push_back(Step{Step::Kind::BeginGroup, false, 1, {}, {}, {}, {}, {}, {}, {}, {}});
}

void PaintList::EndGroup() {
    steps.push_back(Step{Step::Kind::EndGroup, false, 1, {}, {}, {}, {}, {}, {}, {}, {}});
}

void PaintList::Image(const QImage& image, const QTransform& toDevice, double opacity, bool smooth) {
    steps.push_back(Step{Step::Kind::Image, smooth, opacity, {}, toDevice, {}, {}, image, {}, {}, {}});
}

void PaintList::Save() {
    steps.push_back(Step{Step::Kind::Save, false, 1, {}, {}, {}, {}, {}, {}, {}, {}});
}

void PaintList::Restore() {
    steps.push_back(Step{Step::Kind::Restore, false, 1, {}, {}, {}, {}, {}, {}, {}, {}});
}

void PaintList::Clip(const PaintPath& area) {
    area.Share(threads);
    steps.push_back(Step{Step::Kind::Clip, false, 1, area, {}, {}, {}, {}, {}, {}, {}});
}

void PaintList::Custom(CustomPaint paint, const QRect& bounds) {
    Step step{Step::Kind::Custom, false, 1, {}, {}, {}, {}, {}, {}, std::move(paint), bounds};
    steps.push_back(std::move(step));
}

QRectF PaintList::DeviceBox(const Step& step, int thread) {
    if (step.kind == Step::Kind::Custom)
        return QRectF(step.bounds);
    if (!step.toDevice.isAffine())
        return QRectF(-1e9, -1e9, 2e9, 2e9);
    QRectF box;
    if (step.kind == Step::Kind::Image)
        box = QRectF(step.image.rect());
    else if (step.kind == Step::Kind::Fill || step.kind == Step::Kind::Stroke)
        box = step.path.Copy(thread).controlPointRect();
    else
        return {};
    if (step.kind == Step::Kind::Stroke && !step.pen.isCosmetic()) {
        const double half = step.pen.widthF() / 2 + 1;
        box.adjust(-half, -half, half, half);
    }
    // Antialiasing, smoothing and a one-pixel pen reach at most two pixels further.
    const double reach = step.kind == Step::Kind::Stroke && step.pen.isCosmetic() ? step.pen.widthF() + 2 : 2;
    return step.toDevice.mapRect(box).adjusted(-reach, -reach, reach, reach);
}

QRect PaintList::Bounds() const {
    QRectF all;
    for (const Step& step : steps)
        if (step.kind == Step::Kind::Fill || step.kind == Step::Kind::Stroke ||
            step.kind == Step::Kind::Image || step.kind == Step::Kind::Custom)
            all |= DeviceBox(step, 0);
    return all.toAlignedRect();
}

namespace {

// The image a replay may fill without Qt: the painter's own premultiplied image, painted one to one
// and source-over, reached by whole-pixel shifts.
QImage* DirectImage(const QPainter& painter, const QTransform& shift) {
    QPaintDevice* device = painter.device();
    if (!device || device->devType() != QInternal::Image || !painter.paintEngine() ||
        painter.paintEngine()->type() != QPaintEngine::Raster)
        return nullptr;
    auto* image = static_cast<QImage*>(device);
    auto whole = [](double v) { return v == std::round(v); };
    if (image->format() != QImage::Format_ARGB32_Premultiplied || image->devicePixelRatio() != 1 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        painter.deviceTransform() != painter.transform() || shift.type() > QTransform::TxTranslate ||
        !whole(shift.dx()) || !whole(shift.dy()))
        return nullptr;
    return image;
}

} // namespace

bool PaintList::Outside(const Step& step, int thread, const QRect& window) {
    if (step.kind == Step::Kind::Custom)
        return !step.bounds.intersects(window);
    if (!step.toDevice.isAffine())
        return false;
    QRectF box;
    if (step.kind == Step::Kind::Image) {
        box = QRectF(step.image.rect());
    } else if (step.kind == Step::Kind::Fill || (step.kind == Step::Kind::Stroke && step.pen.isCosmetic())) {
        box = step.path.Copy(thread).controlPointRect();
    } else {
        return false;
    }
    // Antialiasing, smoothing and a one-pixel pen reach at most two pixels further.
    const double reach = step.kind == Step::Kind::Stroke ? step.pen.widthF() + 2 : 2;
    return !step.toDevice.mapRect(box).adjusted(-reach, -reach, reach, reach).intersects(QRectF(window));
}

std::size_t PaintList::FillGroup(std::size_t begin, QImage& image, const QRect& window, int thread) const {
    const Edges edges = antialiased ? Edges::Antialiased : Edges::Sampled;
    QRectF area;
    std::size_t end = begin + 1;
    for (; end < steps.size() && steps[end].kind != Step::Kind::EndGroup; ++end) {
        const Step& step = steps[end];
        if (step.kind != Step::Kind::Fill || !step.raster || step.opacity != 1 || !step.toDevice.isAffine())
            return begin;
        area |= DeviceBox(step, thread);
    }
    if (end == steps.size())
        return begin;
    const QRect layerArea = area.toAlignedRect() & window;
    if (!layerArea.isEmpty()) {
        QImage layer(layerArea.size(), QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        for (std::size_t i = begin + 1; i < end; ++i)
            FillPath(layer, layerArea, steps[i].path.Copy(thread), steps[i].toDevice, *steps[i].raster,
                     FillBlend::Add, edges, steps[i].path.Flat(thread));
        BlendLayer(image, layer, layerArea.topLeft() - window.topLeft());
    }
    return end + 1;
}

void PaintList::Replay(QPainter& painter, int thread, const QTransform& shift) const {
    const QTransform savedTransform = painter.transform();
    const QPainter::RenderHints savedHints = painter.renderHints();
    const double savedOpacity = painter.opacity();
    QImage* const direct = DirectImage(painter, shift);
    const Edges edges = antialiased ? Edges::Antialiased : Edges::Sampled;
    // The device pixels the image holds, in the coordinates the steps were recorded in.
    const QRect window = direct ? QRect(QPoint(int(-shift.dx()), int(-shift.dy())), direct->size()) : QRect();
    for (std::size_t index = 0; index < steps.size(); ++index) {
        const Step& step = steps[index];
        if (step.kind == Step::Kind::BeginGroup) {
            if (direct && savedOpacity == 1 && !painter.hasClipping())
                if (const std::size_t after = FillGroup(index, *direct, window, thread); after != index)
                    index = after - 1; // the group is drawn
            continue;
        }
        if (step.kind == Step::Kind::EndGroup)
            continue;
        if (direct && step.kind == Step::Kind::Fill && step.raster && savedOpacity * step.opacity == 1 &&
            step.toDevice.isAffine() && !painter.hasClipping()) {
            FillPath(*direct, window, step.path.Copy(thread), step.toDevice, *step.raster, FillBlend::Over,
                     edges, step.path.Flat(thread));
            continue;
        }
        switch (step.kind) {
        case Step::Kind::Save:
            painter.save();
            continue;
        case Step::Kind::Restore:
            painter.restore();
            continue;
        case Step::Kind::Clip:
            painter.setTransform(shift);
            painter.setRenderHint(QPainter::Antialiasing, antialiased);
            painter.setClipPath(step.path.Copy(thread), Qt::IntersectClip);
            continue;
        case Step::Kind::Custom:
            if (!direct || !Outside(step, thread, window)) {
                painter.setTransform(shift);
                painter.setOpacity(savedOpacity);
                step.custom(painter);
            }
            continue;
        case Step::Kind::Fill:
        case Step::Kind::Stroke:
        case Step::Kind::Image:
            break;
        case Step::Kind::BeginGroup:
        case Step::Kind::EndGroup:
            continue;
        }
        // Steps wholly outside the image (another band's) are passed over before Qt takes them up.
        if (direct && Outside(step, thread, window))
            continue;
        painter.setTransform(step.toDevice * shift);
        painter.setRenderHint(QPainter::Antialiasing, antialiased);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, step.smooth);
        painter.setOpacity(savedOpacity * step.opacity);
        if (step.kind == Step::Kind::Fill)
            painter.fillPath(step.path.Copy(thread), step.brush);
        else if (step.kind == Step::Kind::Stroke)
            painter.strokePath(step.path.Copy(thread), step.pen);
        else
            painter.drawImage(QPointF(0, 0), step.image);
    }
    painter.setOpacity(savedOpacity);
    painter.setRenderHints(savedHints, true);
    painter.setRenderHints(~savedHints, false);
    painter.setTransform(savedTransform);
}

} // namespace flash

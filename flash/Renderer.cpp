#include "flash/Renderer.h"

#include "flash/Bitmaps.h"
#include "flash/ShapeRenderer.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace flash {

namespace {

// Sprites inside sprites deeper than this are not drawn (a damaged or cyclic display list).
constexpr int MaxNesting = 64;
// Ratios of one morph shape kept ready (one morph placed at several depths with different ratios).
constexpr std::size_t MorphRatiosKept = 4;
constexpr double TwipsPerPixel = 20;

double MeanScale(const QTransform& t) {
    return (std::hypot(t.m11(), t.m12()) + std::hypot(t.m21(), t.m22())) / 2;
}

} // namespace

struct Renderer::Impl {
    struct ShapeEntry {
        std::shared_ptr<const Character> owner; // keeps the address from being reused
        PreparedShape prepared;
    };
    struct MorphFrame {
        std::uint16_t ratio = 0;
        Shape shape;
        PreparedShape prepared;
    };
    struct MorphEntry {
        std::shared_ptr<const Character> owner;
        std::vector<MorphFrame> frames;
        std::size_t nextReplaced = 0;
    };

    const Movie* movie = nullptr;
    BitmapCache bitmaps;
    std::unordered_map<const Character*, ShapeEntry> shapes;
    std::unordered_map<const Character*, MorphEntry> morphs;
    ShapeDrawOptions options;

    void Begin(const Movie& m, double stageScale) {
        if (movie != &m)
            Clear();
        movie = &m;
        options.stageScale = stageScale;
        if (!options.bitmaps)
            options.bitmaps = [this](std::uint16_t id) { return BitmapById(id); };
    }

    void Clear() {
        bitmaps.Clear();
        shapes.clear();
        morphs.clear();
        movie = nullptr;
    }

    QImage BitmapById(std::uint16_t id) {
        if (!movie)
            return {};
        const auto found = movie->dictionary.find(id);
        return found == movie->dictionary.end() ? QImage() : bitmaps.Get(found->second, movie->jpegTables);
    }

    std::shared_ptr<const Character> CharacterOf(const DisplayObject& object) const {
        if (object.character || !movie)
            return object.character;
        const auto found = movie->dictionary.find(object.characterId);
        return found == movie->dictionary.end() ? nullptr : found->second;
    }

    const PreparedShape& PreparedFor(const std::shared_ptr<const Character>& owner, const Shape& shape) {
        auto [entry, added] = shapes.try_emplace(owner.get());
        if (added)
            entry->second = ShapeEntry{owner, PrepareShape(shape)};
        return entry->second.prepared;
    }

    const MorphFrame& MorphAt(const std::shared_ptr<const Character>& owner, const MorphShape& morph,
                              std::uint16_t ratio) {
        MorphEntry& entry = morphs[owner.get()];
        entry.owner = owner;
        for (const MorphFrame& frame : entry.frames)
            if (frame.ratio == ratio)
                return frame;
        MorphFrame frame{ratio, InterpolateMorph(morph, ratio), {}};
        frame.prepared = PrepareShape(frame.shape);
        if (entry.frames.size() < MorphRatiosKept) {
            entry.frames.push_back(std::move(frame));
            return entry.frames.back();
        }
        MorphFrame& replaced = entry.frames[entry.nextReplaced];
        entry.nextReplaced = (entry.nextReplaced + 1) % MorphRatiosKept;
        replaced = std::move(frame);
        return replaced;
    }

    // The area an object covers as a mask, in device pixels: the fill areas of its shapes.
    void AddMaskArea(const DisplayObject& object, const QTransform& transform,
                     std::vector<QPainterPath>& pieces, int nesting) {
        const std::shared_ptr<const Character> character = CharacterOf(object);
        if (!character)
            return;
        if (const auto* shape = std::get_if<Shape>(character.get())) {
            pieces.push_back(transform.map(PreparedFor(character, *shape).area));
        } else if (const auto* morph = std::get_if<MorphShape>(character.get())) {
            pieces.push_back(transform.map(MorphAt(character, *morph, object.ratio).prepared.area));
        } else if (std::holds_alternative<Bitmap>(*character)) {
            const QImage image = bitmaps.Get(character, movie ? movie->jpegTables : QByteArray());
            if (!image.isNull()) {
                QPainterPath rect;
                rect.addRect(0, 0, image.width() * TwipsPerPixel, image.height() * TwipsPerPixel);
                pieces.push_back(transform.map(rect));
            }
        } else if (object.sprite && nesting < MaxNesting) {
            for (const auto& [depth, child] : object.sprite->displayList)
                if (child.clipDepth == 0)
                    AddMaskArea(child, ToQTransform(child.matrix) * transform, pieces, nesting + 1);
        }
    }

    QPainterPath MaskPath(const DisplayObject& object, const QTransform& transform, int nesting) {
        std::vector<QPainterPath> pieces;
        AddMaskArea(object, transform, pieces, nesting);
        if (pieces.empty())
            return {};
        QPainterPath path = std::move(pieces.front());
        for (std::size_t i = 1; i < pieces.size(); ++i)
            if (!pieces[i].isEmpty())
                path = path.isEmpty() ? pieces[i] : path.united(pieces[i]);
        return path;
    }

    void DrawBitmap(QPainter& painter, const std::shared_ptr<const Character>& character,
                    const QTransform& transform, const ColorTransform& colorTransform) {
        QImage image = bitmaps.Get(character, movie ? movie->jpegTables : QByteArray());
        if (image.isNull())
            return;
        const double savedOpacity = painter.opacity();
        if (colorTransform.rMul == 1 && colorTransform.gMul == 1 && colorTransform.bMul == 1 &&
            colorTransform.rAdd == 0 && colorTransform.gAdd == 0 && colorTransform.bAdd == 0 &&
            colorTransform.aAdd == 0 && colorTransform.aMul >= 0 && colorTransform.aMul <= 1)
            painter.setOpacity(savedOpacity * colorTransform.aMul);
        else
            image = Apply(colorTransform, image);
        painter.setTransform(QTransform::fromScale(TwipsPerPixel, TwipsPerPixel) * transform);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QPointF(0, 0), image);
        painter.setOpacity(savedOpacity);
    }

    void DrawObject(QPainter& painter, const DisplayObject& object, const QTransform& transform,
                    const ColorTransform& colorTransform, int nesting) {
        const std::shared_ptr<const Character> character = CharacterOf(object);
        if (!character)
            return;
        if (const auto* shape = std::get_if<Shape>(character.get())) {
            DrawShape(painter, *shape, PreparedFor(character, *shape), transform, colorTransform, options);
        } else if (const auto* morph = std::get_if<MorphShape>(character.get())) {
            const MorphFrame& frame = MorphAt(character, *morph, object.ratio);
            DrawShape(painter, frame.shape, frame.prepared, transform, colorTransform, options);
        } else if (std::holds_alternative<Bitmap>(*character)) {
            DrawBitmap(painter, character, transform, colorTransform);
        } else if (std::holds_alternative<Sprite>(*character) && object.sprite) {
            DrawList(painter, object.sprite->displayList, transform, colorTransform, nesting + 1);
        }
    }

    void DrawList(QPainter& painter, const DisplayList& list, const QTransform& parent,
                  const ColorTransform& parentColor, int nesting) {
        if (nesting > MaxNesting)
            return;
        struct ActiveMask {
            std::uint16_t clipDepth;
            QPainterPath area; // device pixels
        };
        std::vector<ActiveMask> masks;
        bool saved = false;
        // The clip is the intersection of every mask in force, over whatever clip the caller set.
        auto applyMasks = [&] {
            if (saved)
                painter.restore();
            saved = !masks.empty();
            if (!saved)
                return;
            painter.save();
            painter.resetTransform();
            for (const ActiveMask& mask : masks)
                painter.setClipPath(mask.area, Qt::IntersectClip);
        };
        for (const auto& [depth, object] : list) {
            if (!masks.empty()) {
                const auto expired = std::remove_if(masks.begin(), masks.end(),
                                                    [&](const ActiveMask& m) { return m.clipDepth < depth; });
                if (expired != masks.end()) {
                    masks.erase(expired, masks.end());
                    applyMasks();
                }
            }
            const QTransform transform = ToQTransform(object.matrix) * parent;
            if (object.clipDepth > 0) {
                if (object.clipDepth > depth) {
                    masks.push_back({object.clipDepth, MaskPath(object, transform, nesting)});
                    applyMasks();
                }
                continue;
            }
            if (!object.visible)
                continue;
            DrawObject(painter, object, transform, Compose(parentColor, object.colorTransform), nesting);
        }
        if (saved)
            painter.restore();
    }
};

Renderer::Renderer() : impl(std::make_unique<Impl>()) {}

Renderer::~Renderer() = default;

QTransform Renderer::StageTransform(const Rect& frameSize, QSize target) {
    const double width = frameSize.Width(), height = frameSize.Height();
    if (width <= 0 || height <= 0 || target.isEmpty())
        return QTransform::fromScale(0, 0);
    const double scale = std::min(target.width() / width, target.height() / height);
    const double offsetX = (target.width() - width * scale) / 2;
    const double offsetY = (target.height() - height * scale) / 2;
    return QTransform::fromTranslate(-frameSize.xMin, -frameSize.yMin) * QTransform::fromScale(scale, scale) *
           QTransform::fromTranslate(offsetX, offsetY);
}

void Renderer::RenderStage(QPainter& painter, const Movie& movie, const DisplayList& list, QSize target) {
    RenderStage(painter, movie, list, target, movie.backgroundColor);
}

void Renderer::RenderStage(QPainter& painter, const Movie& movie, const DisplayList& list, QSize target,
                           Rgba background) {
    painter.save();
    painter.fillRect(QRect(QPoint(0, 0), target), QColor(background.r, background.g, background.b));
    const QTransform stage = StageTransform(movie.frameSize, target);
    const QRectF frame(movie.frameSize.xMin, movie.frameSize.yMin, movie.frameSize.Width(),
                       movie.frameSize.Height());
    if (!frame.isEmpty() && !target.isEmpty()) {
        painter.setClipRect(stage.mapRect(frame), Qt::IntersectClip);
        const QTransform toDevice = stage * painter.transform();
        impl->Begin(movie, MeanScale(toDevice));
        impl->DrawList(painter, list, toDevice, ColorTransform{}, 0);
    }
    painter.restore();
}

QImage Renderer::RenderStage(const Movie& movie, const DisplayList& list, QSize target) {
    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    QPainter painter(&image);
    RenderStage(painter, movie, list, target);
    painter.end();
    return image;
}

void Renderer::RenderDisplayList(QPainter& painter, const Movie& movie, const DisplayList& list,
                                 const QTransform& toDevice, const ColorTransform& colorTransform) {
    painter.save();
    impl->Begin(movie, MeanScale(toDevice));
    impl->DrawList(painter, list, toDevice, colorTransform, 0);
    painter.restore();
}

void Renderer::ClearCaches() {
    impl->Clear();
}

} // namespace flash

#include "flash/render/Renderer.h"

#include "flash/media/VideoDecoder.h"
#include "flash/player/ClipPainting.h"
#include "flash/player/ScriptBitmap.h"
#include "flash/render/Bitmaps.h"
#include "flash/render/Effects.h"
#include "flash/render/ShapeRenderer.h"
#include "flash/render/Text.h"

#include <QPaintEngine>
#include <QPainter>
#include <QSemaphore>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <unordered_map>

namespace flash {

namespace {

// Sprites inside sprites deeper than this are not drawn (a damaged or cyclic display list).
constexpr int MaxNesting = 64;
// Decoders kept for one video stream, so that a stream placed twice at different frames does not
// decode from its key frame for each of them.
constexpr std::size_t DecodersPerVideo = 2;
// Ratios of one morph shape kept ready (one morph placed at several depths with different ratios).
constexpr std::size_t MorphRatiosKept = 4;
constexpr std::size_t BoundTextsKept = 8; // values of one bound field laid out and kept
// Pixels of offscreen layers (blend modes, filters) one frame may use; objects beyond it are drawn
// without their effects.
constexpr qint64 MaxLayerPixelsPerFrame = qint64(32) << 20;
// Where layers may reach when nothing bounds the painter's device.
constexpr int UnboundedLayerSide = 4096;
// Device pixels a filtered object's drawing is moved right in its layer.
constexpr double FilteredShiftX = 0.5;

double MeanScale(const QTransform& t) {
    return (std::hypot(t.m11(), t.m12()) + std::hypot(t.m21(), t.m22())) / 2;
}

// The stage is painted into an image of the renderer's own and handed to the caller's painter in one
// piece when that gives the same pixels: a raster painter that moves by whole device pixels, without
// clip, opacity or another composition mode.
bool PaintsOffThePainter(const QPainter& painter) {
    const QPaintEngine* engine = painter.paintEngine();
    const QTransform device = painter.deviceTransform();
    auto whole = [](double v) { return v == std::round(v); };
    return engine && engine->type() == QPaintEngine::Raster && painter.device() &&
           painter.device()->devicePixelRatio() == 1 && device.type() <= QTransform::TxTranslate &&
           whole(device.dx()) && whole(device.dy()) && !painter.hasClipping() && painter.opacity() == 1 &&
           painter.compositionMode() == QPainter::CompositionMode_SourceOver;
}

// The stage is painted in bands of rows, one for each thread of Qt's global pool (up to four), each
// thread taking the next band as soon as it is free, so that a band whose thread is kept waiting by the
// rest of the machine may fall to another. (More bands than threads would balance better but repeat
// more work for the shapes across their edges.) Even a single band is painted on a thread of the pool
// rather than the caller's: Qt's raster engine hands long runs of spans over to that pool unless the
// painting thread is one of its own, and on few cores the hand-off costs more than it gains.
constexpr int MaxBands = 4;
constexpr int MinBandHeight = 32;

int BandCount(const QRect& stageRect) {
    const int threads = QThreadPool::globalInstance()->maxThreadCount();
    return std::clamp(std::min(threads, stageRect.height() / MinBandHeight), 1, MaxBands);
}

// The target pixels a stage mapped to `stageArea` covers: its edges rounded, within the target.
QRect StageRect(const QRectF& stageArea, QSize target) {
    return QRect(QPoint(qRound(stageArea.left()), qRound(stageArea.top())),
                 QPoint(qRound(stageArea.right()) - 1, qRound(stageArea.bottom()) - 1)) &
           QRect(QPoint(0, 0), target);
}

// Replays `paint` into band `band` of `bands` bands of rows of `area`, in the image whose pixels start
// at `bits`, with thread `thread`'s copies of the paths.
void ReplayBand(const PaintList& paint, uchar* bits, qsizetype stride, QImage::Format format,
                const QRect& area, int band, int bands, int thread) {
    const int top = area.top() + area.height() * band / bands;
    const int bottom = area.top() + area.height() * (band + 1) / bands;
    if (bottom <= top)
        return;
    QImage view(bits + top * stride + area.left() * qsizetype(sizeof(QRgb)), area.width(), bottom - top,
                stride, format);
    QPainter painter(&view);
    paint.Replay(painter, thread, QTransform::fromTranslate(-area.left(), -top));
}

// BitmapData.draw of a clip: its display list painted by a renderer of its own.
void PaintClip(QImage& target, const Movie& movie, const DisplayList& list, const QTransform& listToTarget,
               const ColorTransform& color) {
    Renderer renderer;
    QPainter painter(&target);
    renderer.RenderDisplayList(painter, movie, list, listToTarget, color);
}
[[maybe_unused]] const bool clipPainterSet = (SetClipPainter(&PaintClip), true);

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
    struct TextEntry {
        std::shared_ptr<const Character> owner;
        std::optional<PreparedText> prepared; // none for characters that are not text
        // Edit text bound to variables: the latest values laid out, oldest first.
        std::vector<std::pair<QString, PreparedText>> bound;
    };
    struct MorphEntry {
        std::shared_ptr<const Character> owner;
        std::vector<MorphFrame> frames;
        std::size_t nextReplaced = 0;
    };

    const Movie* movie = nullptr;
    BitmapCache bitmaps;
    std::unordered_map<const Character*, ShapeEntry> shapes;
    std::size_t shapesPruneAt = 256; // cache size that has the unused entries dropped
    std::unordered_map<const Character*, MorphEntry> morphs;
    std::unordered_map<const Character*, TextEntry> texts;
    std::size_t textsBeforePruning = 64;
    struct VideoEntry {
        std::shared_ptr<const Character> owner;
        std::vector<std::unique_ptr<VideoDecoder>> decoders;
    };
    std::unordered_map<const Character*, VideoEntry> videos; // one decoder for each stream
    ShapeDrawOptions options;
    PaintList paint;        // the frame being drawn
    QImage frame;           // the stage painted off the caller's painter
    QRect deviceLimit;      // device pixels a layer may cover (before its filters' growth)
    qint64 layerPixels = 0; // used this frame

    void Begin(const Movie& m, double stageScale) {
        if (movie != &m)
            Clear();
        movie = &m;
        options.stageScale = stageScale;
        layerPixels = 0;
        if (!options.bitmaps)
            options.bitmaps = [this](std::uint16_t id) { return BitmapById(id); };
    }

    // The frame image at the target's size, filled with the background; false when it cannot be had.
    bool PrepareFrame(QSize target, const QColor& background) {
        if (target.isEmpty())
            return false;
        if (frame.size() != target)
            frame = QImage(target, QImage::Format_ARGB32_Premultiplied);
        if (frame.isNull())
            return false;
        frame.fill(background);
        return true;
    }

    // Replays `paint` into the stage rectangle of the frame, cut into a band of rows for each thread the
    // recording has copies of its paths for. A band is a view of its rows, so nothing outside it is
    // touched and no clip is needed.
    // Records the stage's display list, drawn by `stage` into the target pixels `stageRect`.
    void DrawStage(const Movie& m, const DisplayList& list, const QTransform& stage, const QRect& stageRect) {
        Begin(m, MeanScale(stage));
        deviceLimit = stageRect;
        DrawList(list, stage, ColorTransform{}, 0);
    }

    void PaintBands(const QRect& stageRect) {
        const int threads = paint.Threads(), bands = threads;
        uchar* const bits = frame.bits();
        const qsizetype stride = frame.bytesPerLine();
        const QImage::Format format = frame.format();
        std::atomic<int> nextBand = 0;
        auto paintBands = [&](int thread) {
            for (int band = nextBand++; band < bands; band = nextBand++)
                ReplayBand(paint, bits, stride, format, stageRect, band, bands, thread);
        };
        QSemaphore done;
        int started = 0;
        for (int thread = 0; thread < threads; ++thread) {
            // A busy pool leaves the thread's share to this one.
            if (QThreadPool::globalInstance()->tryStart([&paintBands, &done, thread] {
                    paintBands(thread);
                    done.release();
                }))
                ++started;
            else
                paintBands(thread);
        }
        done.acquire(started);
    }

    void Clear() {
        bitmaps.Clear();
        shapes.clear();
        morphs.clear();
        texts.clear();
        videos.clear();
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
        if (shapes.size() >= shapesPruneAt) {
            // Shapes scripts draw are replaced as they change: drop those only this cache still holds.
            std::erase_if(shapes, [](const auto& entry) { return entry.second.owner.use_count() == 1; });
            shapesPruneAt = std::max<std::size_t>(256, shapes.size() * 2);
        }
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

    static const QString* ContentOf(const DisplayObject& object) {
        return object.field && object.field->content ? &*object.field->content : nullptr;
    }

    // Laid out once for each content; null for characters that are not text.
    const PreparedText* TextFor(const std::shared_ptr<const Character>& owner, const QString* content) {
        if (!movie ||
            !(std::holds_alternative<StaticText>(*owner) || std::holds_alternative<EditText>(*owner)))
            return nullptr;
        if (texts.size() >= textsBeforePruning) {
            // Scripts give a field a new character for each change: drop those only this cache holds.
            std::erase_if(texts, [](const auto& entry) { return entry.second.owner.use_count() == 1; });
            textsBeforePruning = std::max<std::size_t>(64, texts.size() * 2);
        }
        auto [entry, added] = texts.try_emplace(owner.get());
        if (added)
            entry->second = TextEntry{owner, PrepareText(*owner, *movie), {}};
        if (!content || !std::holds_alternative<EditText>(*owner))
            return entry->second.prepared ? &*entry->second.prepared : nullptr;
        auto& bound = entry->second.bound;
        const auto found = std::find_if(bound.begin(), bound.end(),
                                        [&](const auto& laidOut) { return laidOut.first == *content; });
        if (found != bound.end())
            return &found->second;
        if (bound.size() >= BoundTextsKept)
            bound.erase(bound.begin());
        bound.emplace_back(*content, PrepareEditText(std::get<EditText>(*owner), *movie, content));
        return &bound.back().second;
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
        } else if (const auto* video = std::get_if<VideoStream>(character.get())) {
            QPainterPath rect;
            rect.addRect(0, 0, video->width * TwipsPerPixel, video->height * TwipsPerPixel);
            pieces.push_back(transform.map(rect));
        } else if (const PreparedText* text = TextFor(character, ContentOf(object))) {
            pieces.push_back(transform.map(text->area));
        } else if (object.sprite && nesting < MaxNesting) {
            for (const auto& [depth, child] : object.sprite->displayList)
                if (child.clipDepth == 0)
                    AddMaskArea(child, ToQTransform(child.matrix) * transform, pieces, nesting + 1);
        } else if (object.button && nesting < MaxNesting) {
            for (const auto& [depth, child] : object.button->displayList)
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

    void DrawBitmap(const std::shared_ptr<const Character>& character, const QTransform& transform,
                    const ColorTransform& colorTransform) {
        QImage image = bitmaps.Get(character, movie ? movie->jpegTables : QByteArray());
        if (image.isNull())
            return;
        double opacity = 1;
        if (colorTransform.rMul == 1 && colorTransform.gMul == 1 && colorTransform.bMul == 1 &&
            colorTransform.rAdd == 0 && colorTransform.gAdd == 0 && colorTransform.bAdd == 0 &&
            colorTransform.aAdd == 0 && colorTransform.aMul >= 0 && colorTransform.aMul <= 1)
            opacity = colorTransform.aMul;
        else
            image = Apply(colorTransform, image);
        paint.Image(image, QTransform::fromScale(TwipsPerPixel, TwipsPerPixel) * transform, opacity);
    }

    // A bitmap a script attached: drawn as a bitmap character is, on whole device pixels when its
    // snapping asks for it.
    void DrawShownBitmap(const ShownBitmap& shown, QTransform transform,
                         const ColorTransform& colorTransform) {
        if (!shown.bitmap || shown.bitmap->Disposed())
            return;
        const QTransform placed = QTransform::fromScale(TwipsPerPixel, TwipsPerPixel) * transform;
        const bool unscaled = placed.type() <= QTransform::TxTranslate;
        if (shown.snapping == ShownBitmap::Snapping::Always ||
            (shown.snapping == ShownBitmap::Snapping::Auto && unscaled))
            transform *= QTransform::fromTranslate(std::round(placed.dx()) - placed.dx(),
                                                   std::round(placed.dy()) - placed.dy());
        const QImage& image = shown.bitmap->Image();
        const bool plain = colorTransform.rMul == 1 && colorTransform.gMul == 1 && colorTransform.bMul == 1 &&
                           colorTransform.rAdd == 0 && colorTransform.gAdd == 0 && colorTransform.bAdd == 0 &&
                           colorTransform.aAdd == 0 && colorTransform.aMul >= 0 && colorTransform.aMul <= 1;
        paint.Image(plain ? image : Apply(colorTransform, image),
                    QTransform::fromScale(TwipsPerPixel, TwipsPerPixel) * transform,
                    plain ? colorTransform.aMul : 1, shown.smoothing);
    }

    // The drawing options of a shape a script drew with bitmap fills: its fills' bitmapId is an index
    // into the bitmaps its entry holds.
    ShapeDrawOptions ScriptFillOptions(const DisplayObject& object) const {
        ShapeDrawOptions scripted = options;
        scripted.bitmaps = [bitmaps = object.fillBitmaps](std::uint16_t id) {
            return id < bitmaps.size() && bitmaps[id] ? bitmaps[id]->Image() : QImage();
        };
        return scripted;
    }

    // The decoder that reached the latest frame at or before ratio; else a new one while there is
    // room, else the one least far on.
    VideoDecoder& DecoderFor(const std::shared_ptr<const Character>& character, const VideoStream& video,
                             std::uint16_t ratio) {
        VideoEntry& entry = videos[character.get()];
        entry.owner = character;
        VideoDecoder* best = nullptr;
        VideoDecoder* least = nullptr;
        for (const auto& decoder : entry.decoders) {
            const auto reached = decoder->LastFrame();
            if (reached && *reached <= ratio && (!best || *best->LastFrame() < *reached))
                best = decoder.get();
            if (!least || least->LastFrame() > reached)
                least = decoder.get();
        }
        if (best)
            return *best;
        if (entry.decoders.size() < DecodersPerVideo)
            return *entry.decoders.emplace_back(std::make_unique<VideoDecoder>(video));
        return *least;
    }

    // The stream's picture at the object's ratio, stretched over width x height pixels.
    void DrawVideo(const std::shared_ptr<const Character>& character, const VideoStream& video,
                   std::uint16_t ratio, const QTransform& transform, const ColorTransform& colorTransform) {
        QImage image = DecoderFor(character, video, ratio).FrameAt(ratio);
        if (image.isNull() || video.width == 0 || video.height == 0)
            return;
        image = Apply(colorTransform, image);
        const QTransform scale = QTransform::fromScale(video.width * TwipsPerPixel / image.width(),
                                                       video.height * TwipsPerPixel / image.height());
        paint.Image(image, scale * transform, 1, video.smoothing);
    }

    // `layered`: the object is drawn through a blend-mode layer of its own, which its children's alpha
    // and erase modes act on.
    void DrawObject(const DisplayObject& object, const QTransform& transform,
                    const ColorTransform& colorTransform, int nesting, bool layered = false) {
        if (object.bitmap) {
            DrawShownBitmap(*object.bitmap, transform, colorTransform);
            return;
        }
        const std::shared_ptr<const Character> character = CharacterOf(object);
        if (!character)
            return;
        if (const auto* shape = std::get_if<Shape>(character.get())) {
            RecordShape(paint, *shape, PreparedFor(character, *shape), transform, colorTransform,
                        object.fillBitmaps.empty() ? options : ScriptFillOptions(object));
        } else if (const auto* morph = std::get_if<MorphShape>(character.get())) {
            const MorphFrame& frame = MorphAt(character, *morph, object.ratio);
            RecordShape(paint, frame.shape, frame.prepared, transform, colorTransform, options);
        } else if (std::holds_alternative<Bitmap>(*character)) {
            DrawBitmap(character, transform, colorTransform);
        } else if (const auto* video = std::get_if<VideoStream>(character.get())) {
            DrawVideo(character, *video, object.ratio, transform, colorTransform);
        } else if (const PreparedText* text = TextFor(character, ContentOf(object))) {
            RecordText(paint, *text, transform, colorTransform);
        } else if (std::holds_alternative<Sprite>(*character) && object.sprite) {
            DrawList(object.sprite->displayList, transform, colorTransform, nesting + 1, layered);
        } else if (std::holds_alternative<Button>(*character) && object.button) {
            // The characters of the state the button shows.
            DrawList(object.button->displayList, transform, colorTransform, nesting + 1, layered);
        }
    }

    // Paints an object with a blend mode or filters into a layer of its own, now, and records the
    // layer's compositing; false when the object has no such effect or no room for a layer is left.
    // `inLayer`: the object's parent is drawn through a blend-mode layer.
    bool DrawLayer(const DisplayObject& object, const QTransform& transform, const ColorTransform& color,
                   int nesting, bool inLayer) {
        const bool filtered = object.filters && !object.filters->empty();
        const auto mode = BlendMode(object.blendMode);
        // Alpha and erase act on their parent's layer; with a parent of no layer blend mode (the stage,
        // a plain or a merely filtered clip) the object draws as normal.
        const bool blends = NeedsLayer(object.blendMode) &&
                            (inLayer || (mode != BlendMode::Alpha && mode != BlendMode::Erase));
        if ((!filtered && !blends) || layerPixels >= MaxLayerPixelsPerFrame)
            return false;
        PaintList outer = std::move(paint);
        paint = PaintList();
        paint.SetAntialiased(outer.Antialiased());
        paint.Begin(1);
        // Flash Player draws a filtered object half a device pixel further right than a plain one.
        const QTransform drawn =
            filtered ? transform * QTransform::fromTranslate(FilteredShiftX, 0) : transform;
        DrawObject(object, drawn, ColorTransform{}, nesting, blends);
        const PaintList content = std::move(paint);
        paint = std::move(outer);

        const double scale = options.stageScale * TwipsPerPixel;
        static const FilterList none;
        const FilterList& filters = filtered ? *object.filters : none;
        const QMargins grow = FilterGrowth(filters, scale);
        const QRect area = content.Bounds() & deviceLimit.marginsAdded(FilterReach(filters, scale));
        if (area.isEmpty())
            return true;
        const qint64 pixels =
            qint64(area.width() + grow.left() + grow.right()) * (area.height() + grow.top() + grow.bottom());
        if (layerPixels + pixels > MaxLayerPixelsPerFrame)
            return false;
        layerPixels += pixels;
        QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
        if (layer.isNull())
            return false;
        layer.fill(Qt::transparent);
        QPainter painter(&layer);
        content.Replay(painter, 0, QTransform::fromTranslate(-area.left(), -area.top()));
        painter.end();
        QPoint at = area.topLeft();
        ApplyFilters(filters, scale, layer, at, deviceLimit);
        // The object's colour transform acts on the filtered whole, as on one picture.
        if (!IsIdentity(color))
            layer = Apply(color, layer);
        const std::uint8_t blendMode = blends ? object.blendMode : 1;
        paint.Custom([layer, at, blendMode](QPainter& p) { Composite(p, layer, at, blendMode); },
                     QRect(at, layer.size()));
        return true;
    }

    // Records the display list into `paint`; `inLayer`: its owner is drawn through a blend-mode layer.
    void DrawList(const DisplayList& list, const QTransform& parent, const ColorTransform& parentColor,
                  int nesting, bool inLayer = false) {
        if (nesting > MaxNesting)
            return;
        struct ActiveMask {
            std::uint16_t clipDepth;
            PaintPath area; // device pixels
        };
        std::vector<ActiveMask> masks;
        bool saved = false;
        // The clip is the intersection of every mask in force, over whatever clip the caller set.
        auto applyMasks = [&] {
            if (saved)
                paint.Restore();
            saved = !masks.empty();
            if (!saved)
                return;
            paint.Save();
            for (const ActiveMask& mask : masks)
                paint.Clip(mask.area);
        };
        for (const auto& [depth, object] : list) {
            if (!masks.empty()) {
                // A copy: clang before 16 cannot capture a structured binding.
                const auto expired =
                    std::remove_if(masks.begin(), masks.end(),
                                   [&, at = depth](const ActiveMask& m) { return m.clipDepth < at; });
                if (expired != masks.end()) {
                    masks.erase(expired, masks.end());
                    applyMasks();
                }
            }
            QTransform transform = ToQTransform(object.matrix) * parent;
            if (object.cacheAsBitmap) // Flash Player draws a cached clip on whole pixels
                transform *= QTransform::fromTranslate(std::round(transform.dx()) - transform.dx(),
                                                       std::round(transform.dy()) - transform.dy());
            if (object.clipDepth > 0) {
                if (object.clipDepth > depth) {
                    // Masks ending at one depth are one mask showing what any of them covers, as the
                    // several objects of one mask layer are published; masks ending elsewhere all cut.
                    QPainterPath area = MaskPath(object, transform, nesting);
                    const auto same = std::find_if(masks.begin(), masks.end(), [&](const ActiveMask& m) {
                        return m.clipDepth == object.clipDepth;
                    });
                    if (same == masks.end())
                        masks.push_back({object.clipDepth, PaintPath(std::move(area))});
                    else
                        same->area = PaintPath(same->area.Path().united(area));
                    applyMasks();
                }
                continue;
            }
            if (!object.visible)
                continue;
            const ColorTransform color = Compose(parentColor, object.colorTransform);
            if (!DrawLayer(object, transform, color, nesting, inLayer))
                DrawObject(object, transform, color, nesting);
        }
        if (saved)
            paint.Restore();
    }
};

Renderer::Renderer() : impl(std::make_unique<Impl>()) {}

Renderer::~Renderer() = default;

QTransform Renderer::StageTransform(const Rect& frameSize, QSize target, double pixelAspect) {
    const double width = frameSize.Width(), height = frameSize.Height();
    if (width <= 0 || height <= 0 || target.isEmpty() || !(pixelAspect > 0))
        return QTransform::fromScale(0, 0);
    // Fitted as the target is seen, then squeezed into its pixels.
    const double scale = std::min(target.width() * pixelAspect / width, target.height() / height);
    const double scaleX = scale / pixelAspect;
    const double offsetX = (target.width() - width * scaleX) / 2;
    const double offsetY = (target.height() - height * scale) / 2;
    return QTransform::fromTranslate(-frameSize.xMin, -frameSize.yMin) *
           QTransform::fromScale(scaleX, scale) * QTransform::fromTranslate(offsetX, offsetY);
}

void Renderer::RenderStage(QPainter& painter, const Movie& movie, const DisplayList& list, QSize target) {
    RenderStage(painter, movie, list, target, movie.backgroundColor);
}

void Renderer::RenderStage(QPainter& painter, const Movie& movie, const DisplayList& list, QSize target,
                           Rgba background, double pixelAspect) {
    painter.save();
    const QColor backgroundColor(background.r, background.g, background.b);
    const QTransform stage = StageTransform(movie.frameSize, target, pixelAspect);
    const QRectF frame(movie.frameSize.xMin, movie.frameSize.yMin, movie.frameSize.Width(),
                       movie.frameSize.Height());
    const bool drawsStage = !frame.isEmpty() && !target.isEmpty();
    if (PaintsOffThePainter(painter) && impl->PrepareFrame(target, backgroundColor)) {
        // The clip the painter would give the stage, but as the edges of the bands.
        const QRect stageRect = drawsStage ? StageRect(stage.mapRect(frame), target) : QRect();
        impl->paint.Begin(BandCount(stageRect));
        if (!stageRect.isEmpty()) {
            impl->DrawStage(movie, list, stage, stageRect);
            impl->PaintBands(stageRect);
        }
        painter.drawImage(QPoint(0, 0), impl->frame);
    } else {
        painter.fillRect(QRect(QPoint(0, 0), target), backgroundColor);
        if (drawsStage) {
            painter.setClipRect(stage.mapRect(frame), Qt::IntersectClip);
            const QTransform toDevice = stage * painter.transform();
            impl->Begin(movie, MeanScale(toDevice));
            impl->deviceLimit = painter.deviceTransform().mapRect(stage.mapRect(frame)).toAlignedRect() &
                                QRect(0, 0, UnboundedLayerSide, UnboundedLayerSide);
            impl->paint.Begin(1);
            impl->DrawList(list, toDevice, ColorTransform{}, 0);
            impl->paint.Replay(painter);
        }
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
    const QPaintDevice* device = painter.device();
    impl->deviceLimit = device ? QRect(0, 0, device->width(), device->height())
                               : QRect(0, 0, UnboundedLayerSide, UnboundedLayerSide);
    impl->paint.Begin(1);
    impl->DrawList(list, toDevice, colorTransform, 0);
    impl->paint.Replay(painter);
    painter.restore();
}

void Renderer::SetAntialiased(bool on) {
    impl->paint.SetAntialiased(on);
}

void Renderer::ClearCaches() {
    impl->Clear();
}

std::shared_ptr<const StageRecording> Renderer::Record(const Movie& movie, const DisplayList& list,
                                                       QSize target, Rgba background, double pixelAspect,
                                                       int painters) {
    auto recording = std::make_shared<StageRecording>();
    recording->target = target;
    recording->background = QColor(background.r, background.g, background.b);
    const QTransform stage = StageTransform(movie.frameSize, target, pixelAspect);
    const QRectF frame(movie.frameSize.xMin, movie.frameSize.yMin, movie.frameSize.Width(),
                       movie.frameSize.Height());
    if (!frame.isEmpty() && !target.isEmpty())
        recording->stageRect = StageRect(stage.mapRect(frame), target);
    recording->bands = BandCount(recording->stageRect);
    impl->paint.Begin(std::max(1, painters) + 1);
    if (!recording->stageRect.isEmpty())
        impl->DrawStage(movie, list, stage, recording->stageRect);
    const bool antialiased = impl->paint.Antialiased();
    recording->paint = std::move(impl->paint);
    impl->paint = PaintList();
    impl->paint.SetAntialiased(antialiased);
    return recording;
}

void Renderer::Paint(const StageRecording& recording, QImage& image, int number) {
    if (image.size() != recording.target || image.format() != QImage::Format_ARGB32_Premultiplied)
        return;
    image.fill(recording.background);
    const QRect& area = recording.stageRect;
    if (area.isEmpty())
        return;
    // Band after band, as RenderStage paints them at once.
    for (int band = 0; band < recording.bands; ++band)
        ReplayBand(recording.paint, image.bits(), image.bytesPerLine(), image.format(), area, band,
                   recording.bands, number);
}

} // namespace flash

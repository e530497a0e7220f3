// Thousands of damaged movies (cut, flipped, with lying tag lengths and huge counts, compressed or
// not) and decompression bombs: the reader must give a movie or a clear error every time, keep the
// model consistent, and stay inside its memory limits. Run under the sanitizer build too, where any
// allocation over 1 GiB aborts.
#include "SwfWriter.h"
#include "VideoEncoder.h"
#include "flash/media/SoundMixer.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/render/Text.h"
#include "flash/swf/FilterReader.h"
#include "flash/swf/SwfReader.h"

#include <gtest/gtest.h>
#include <lzma.h>
#include <random>
#include <zlib.h>

using namespace flash;
using namespace flash::writer;

namespace {

const Rgba Red{255, 0, 0, 255}, Blue{0, 0, 255, 128};
const Matrix Turned{0.5, 0.25, -0.125, 1.25, 100, -40};

// A video stream of each codec that can be encoded here, its frames, and its placement at depth 7
// showing frame 1.
QByteArray VideoTags() {
    QByteArray tags;
    for (std::uint8_t codec : {VideoStream::SorensonH263, VideoStream::ScreenVideo}) {
        const std::vector<QByteArray> frames =
            EncodeVideoFrames(codec, {Qt::red, Qt::blue, Qt::green}, 32, 16);
        VideoStream video;
        video.numFrames = std::uint16_t(frames.size());
        video.width = 32;
        video.height = 16;
        video.codecId = codec;
        video.smoothing = codec == VideoStream::ScreenVideo;
        const std::uint16_t id = std::uint16_t(60 + codec);
        tags += DefineVideoStreamTag(id, video);
        for (std::size_t i = 0; i < frames.size(); ++i)
            tags += VideoFrameTag(id, std::uint16_t(i), frames[i]);
        PlaceObject place = Place(id, std::uint16_t(5 + codec));
        place.matrix = Turned;
        place.ratio = 1;
        tags += PlaceObjectTag(place);
    }
    return tags;
}

// Fonts of each version (DefineFont with its info), static text of both versions and edit texts.
QByteArray TextTags() {
    FontDefinition font;
    font.glyphs = {{ShapeRecords().Fill0(1).Box(0, -800, 600, 0), 'A', 700},
                   {ShapeRecords().Fill1(1).MoveTo(0, 0).CurveTo(300, -900, 600, 0).LineTo(0, 0), 'B', 650}};
    font.ascent = 900;
    font.descent = 200;
    font.kerning = {{'A', 'B', -40}};
    QByteArray tags;
    for (int version = 1; version <= 3; ++version) {
        font.version = version;
        font.id = std::uint16_t(49 + version);
        font.wideOffsets = version == 3;
        tags += DefineFontTag(font);
    }
    tags += DefineFontInfoTag(50, "Serif", {'A', 'B'}, 2, true);
    StaticText text;
    text.bounds = {0, 2000, -400, 100};
    text.matrix = Turned;
    TextRecord record;
    record.fontId = 51;
    record.color = Blue;
    record.height = 400;
    record.glyphs = {{0, 300}, {1, 280}, {0, -20}};
    text.records = {record, record};
    text.records[1].fontId = 52;
    text.records[1].y = 500;
    tags += DefineTextTag(54, text, 2);
    text.records[0].color = text.records[1].color = Red;
    tags += DefineTextTag(55, text, 1);
    EditText edit;
    edit.bounds = {0, 3000, 0, 900};
    edit.wordWrap = edit.multiline = edit.html = edit.border = edit.useOutlines = edit.hasLayout = true;
    edit.fontId = 51;
    edit.fontClass = "Embedded";
    edit.color = Red;
    edit.maxLength = 40;
    edit.align = EditText::Align::Right;
    edit.leading = 40;
    edit.variableName = "_root.field";
    edit.initialText =
        "<p>AB <font color=\"#0000FF\" size=\"40\">BA</font></p><p align=\"center\"><b>AAB</p>";
    tags += DefineEditTextTag(56, edit);
    EditText device;
    device.fontId = 50;
    device.initialText = "Device";
    return tags + DefineEditTextTag(57, device);
}

// A movie with every tag kind the reader parses, and some it keeps raw.
QByteArray EverythingMovie() {
    const std::vector<GradientRecord> records = {{0, Red}, {255, Blue}};
    LineStyle filled = Line(40, Red);
    filled.join = LineStyle::Join::Miter;
    filled.fill = GradientFill(FillStyle::Type::FocalRadialGradient, Turned, records,
                               Gradient::Spread::Reflect, Gradient::Interpolation::LinearRgb, 0.5);
    const ShapeRecords drawing = ShapeRecords()
                                     .Fill0(1)
                                     .Line(1)
                                     .Box(0, 0, 300, 200)
                                     .NewStyles({Solid(Blue), BitmapFill(20, Turned)}, {Line(10, Blue)})
                                     .Fill1(2)
                                     .Line(1)
                                     .MoveTo(-50, -50)
                                     .CurveTo(0, -100, 50, -50)
                                     .LineTo(0, 0);
    MovieBuilder movie;
    for (int version = 1; version <= 4; ++version)
        movie.Add(DefineShape(
            ShapeDefinition()
                .Version(version)
                .Id(std::uint16_t(version))
                .EdgeBounds({0, 300, 0, 200})
                .Fills({Solid(Red), GradientFill(FillStyle::Type::LinearGradient, Turned, records),
                        BitmapFill(20, Matrix{20, 0, 0, 20, 0, 0}, FillStyle::Type::RepeatingBitmap)})
                .Lines({version == 4 ? filled : Line(20, Red)})
                .Records(drawing)));
    for (int version = 1; version <= 2; ++version)
        movie.Add(DefineMorphShape(
            MorphDefinition()
                .Version(version)
                .Id(std::uint16_t(10 + version))
                .Start(ShapeRecords().Fill0(2).Line(1).Box(0, 0, 100, 100))
                .End(ShapeRecords()
                         .MoveTo(10, 10)
                         .CurveTo(50, 0, 100, 10)
                         .LineTo(100, 100)
                         .LineTo(0, 100)
                         .LineTo(10, 10))
                .Fills({Solid(Red), GradientFill(FillStyle::Type::RadialGradient, Matrix{}, records)},
                       {Solid(Blue), GradientFill(FillStyle::Type::RadialGradient, Turned, records)})
                .Lines({version == 2 ? filled : Line(20, Red)}, {version == 2 ? filled : Line(60, Blue)})));
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QByteArray jpeg = JpegBytes(image, 50);
    const QByteArray alpha = ZlibBytes(QByteArray(16, char(0x7F)));
    movie.Add(JpegTables(jpeg.left(20)))
        .Add(DefineBits(19, jpeg.mid(20)))
        .Add(DefineBitsJpeg2(20, jpeg))
        .Add(DefineBitsJpeg3(21, jpeg, alpha))
        .Add(DefineBitsJpeg4(22, jpeg, alpha, 0.25))
        .Add(DefineBitsLossless(1, 23, 3, 2, 2, ZlibBytes("\xFF\x00\x00\x00\x00\x01\x01\x00"), 1))
        .Add(DefineBitsLossless(2, 24, 5, 1, 1, ZlibBytes("\xFF\x10\x20\x30")));

    StartSound start;
    start.soundId = 30;
    start.info.inPoint = 10;
    start.info.outPoint = 1000;
    start.info.loopCount = 2;
    start.info.envelope = {{0, 100, 200}, {500, 300, 400}};
    StartSound byClass;
    byClass.className = "Snd";
    SoundStreamHead head;
    head.streamFormat = {2, 3, true, true};
    head.samplesPerBlock = 1152;
    movie.Add(DefineSound(30, SoundFormat{1, 2, true, false}, 100, QByteArray(40, 'a')))
        .Add(SoundStreamHeadTag(head, 2))
        .Add(StartSoundTag(start))
        .Add(StartSoundTag(byClass, 2))
        .Add(SoundStreamBlockTag("mp3"));

    PlaceObject full = Place(1, 1);
    full.matrix = Turned;
    full.colorTransform = ColorTransform{0.5, 1, 1, 0.25, 10, 0, -10, 0};
    full.ratio = 5;
    full.name = "clip";
    full.clipDepth = 3;
    PlaceObject three = Place(2, 2, 3);
    three.blendMode = 2;
    three.visible = true;
    three.backgroundColor = Red;
    Filter blur, colorMatrix;
    blur.blurX = blur.blurY = 4;
    colorMatrix.kind = Filter::Kind::ColorMatrix;
    colorMatrix.matrix.assign(20, 0);
    three.filters = {blur, colorMatrix};
    PlaceObject tinted = Place(3, 4, 1);
    tinted.colorTransform = ColorTransform{2, 1, 1, 1, 0, 50, 0, 0};
    const QByteArray spriteTags = PlaceObjectTag(Place(11, 1)) + SoundStreamHeadTag(head) + ShowFrame() +
                                  FrameLabelTag("inner") + RemoveObject2Tag(1) + ShowFrame();

    movie.Add(SetBackgroundColorTag(Red))
        .Add(
            DefineSprite(40, 2, spriteTags + DefineSprite(41, 1, PlaceObjectTag(Place(12, 1)) + ShowFrame())))
        .Add(TextTags())
        .Add(Tag(tag::DoAction, ActionCode().Stop().Data()))
        .Add(FrameLabelTag("start"))
        .Add(PlaceObjectTag(full))
        .Add(PlaceObjectTag(three))
        .Add(PlaceObjectTag(tinted))
        .Add(PlaceObjectTag(Place(40, 5)))
        .Add(ShowFrame())
        .Add(RemoveObjectTag(1, 1))
        .Add(RemoveObject2Tag(2))
        .Add(Tag(tag::VideoFrame, "frame"))
        .Add(VideoTags())
        .Add(ShowFrame());
    return movie.Build();
}

QByteArray OldMovie() {
    return MovieBuilder()
        .Version(5)
        .Add(DefineShape(
            ShapeDefinition().Fills({Solid(Red)}).Records(ShapeRecords().Fill1(1).Box(0, 0, 40, 40))))
        .Add(PlaceObjectTag(Place(1, 1, 1)))
        .Add(FrameLabelTag("caf\xe9"))
        .Add(ShowFrame())
        .Add(RemoveObjectTag(1, 1))
        .Add(ShowFrame())
        .Build();
}

QByteArray NestedMovie() {
    QByteArray tags = PlaceObjectTag(Place(1, 1)) + ShowFrame();
    for (int id = 14; id >= 2; --id)
        tags = DefineSprite(std::uint16_t(id), 1, tags + PlaceObjectTag(Place(std::uint16_t(id + 1), 1))) +
               ShowFrame();
    return MovieBuilder().Add(tags).Add(ShowFrame()).Build();
}

// Sprite 2 places sprite 3, which places sprite 2 and a shape: a placement cycle.
QByteArray CycleMovie() {
    const QByteArray shape = DefineShape(ShapeDefinition()
                                             .Id(1)
                                             .Fills({Solid({200, 0, 0, 255})})
                                             .Records(ShapeRecords().Fill0(1).Box(0, 0, 400, 400)));
    const QByteArray two = DefineSprite(2, 2, PlaceObjectTag(Place(3, 1)) + ShowFrame() + ShowFrame());
    const QByteArray three =
        DefineSprite(3, 1, PlaceObjectTag(Place(2, 1)) + PlaceObjectTag(Place(1, 2)) + ShowFrame());
    return MovieBuilder()
        .Add(shape)
        .Add(two)
        .Add(three)
        .Add(PlaceObjectTag(Place(2, 1)))
        .Add(ShowFrame())
        .Build();
}

// Offsets of the tag headers of an uncompressed movie, those inside sprites included.
void TagHeaders(const QByteArray& file, qsizetype at, qsizetype end, std::vector<qsizetype>& headers) {
    while (at + 2 <= end) {
        headers.push_back(at);
        const auto head = std::uint16_t(std::uint8_t(file[at]) | std::uint8_t(file[at + 1]) << 8);
        qsizetype length = head & 0x3F;
        at += 2;
        if (length == 0x3F) {
            if (at + 4 > end)
                return;
            length =
                qsizetype(std::uint8_t(file[at]) | std::uint8_t(file[at + 1]) << 8 |
                          std::uint8_t(file[at + 2]) << 16 | std::uint32_t(std::uint8_t(file[at + 3])) << 24);
            at += 4;
        }
        if (length > end - at)
            return;
        if (head >> 6 == tag::DefineSprite)
            TagHeaders(file, at + 4, at + length, headers);
        at += length;
    }
}

std::vector<qsizetype> TagHeaders(const QByteArray& file) {
    std::vector<qsizetype> headers;
    const int rectBits = 5 + 4 * (std::uint8_t(file[8]) >> 3);
    TagHeaders(file, 8 + (rectBits + 7) / 8 + 4, file.size(), headers);
    return headers;
}

const std::uint32_t LyingLengths[] = {0,     1,      2,          5,          0x3E,      0x3F,
                                      0x100, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};

class Mutator {
public:
    explicit Mutator(unsigned seed) : random(seed) {}

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    QByteArray Mutate(QByteArray bytes) {
        const int steps = Pick(1, 4);
        for (int i = 0; i < steps && bytes.size() > 8; ++i) {
            const std::vector<qsizetype> headers = TagHeaders(bytes);
            switch (Pick(0, 6)) {
            case 0: // cut anywhere
                bytes.truncate(Pick(0, int(bytes.size())));
                break;
            case 1: // a new byte anywhere
                bytes[Pick(0, int(bytes.size()) - 1)] = char(Pick(0, 255));
                break;
            case 2: // one bit, the smallest change a bit field can take
                bytes[Pick(8, int(bytes.size()) - 1)] ^= char(1 << Pick(0, 7));
                break;
            case 3: // a lying length at a tag header
                if (!headers.empty()) {
                    const qsizetype at = headers[std::size_t(Pick(0, int(headers.size()) - 1))];
                    const std::uint16_t code = std::uint8_t(bytes[at]) >> 6 | std::uint8_t(bytes[at + 1])
                                                                                  << 2;
                    const std::uint32_t length = LyingLengths[Pick(0, std::size(LyingLengths) - 1)];
                    const bool wasLong = (std::uint8_t(bytes[at]) & 0x3F) == 0x3F;
                    bytes.replace(at, wasLong ? 6 : 2,
                                  Bits().U16(std::uint32_t(code) << 6 | 0x3F).U32(length).Data());
                }
                break;
            case 4: // a huge count (style counts, gradient and envelope counts, bit sizes)
            {
                const int at = Pick(8, int(bytes.size()) - 1);
                bytes.replace(at, std::min<qsizetype>(3, bytes.size() - at), "\xFF\xFF\xFF");
                break;
            }
            case 5: // a span moved elsewhere
            {
                const int from = Pick(8, int(bytes.size()) - 1);
                const int length = Pick(1, std::min(64, int(bytes.size()) - from));
                const QByteArray span = bytes.mid(from, length);
                bytes.remove(from, length);
                bytes.insert(Pick(8, int(bytes.size())), span);
                break;
            }
            default: // a random tag between two others
                if (!headers.empty()) {
                    QByteArray body(Pick(0, 80), '\0');
                    for (char& byte : body)
                        byte = char(Pick(0, 255));
                    bytes.insert(headers[std::size_t(Pick(0, int(headers.size()) - 1))],
                                 Tag(std::uint16_t(Pick(0, 95)), body, Pick(0, 1)));
                }
                break;
            }
        }
        return bytes;
    }

private:
    std::mt19937 random;
};

// The file's own header fields, then its body compressed as asked.
QByteArray Recompress(const QByteArray& fws, Movie::Compression compression) {
    if (fws.size() < 8)
        return fws;
    const std::uint32_t length = std::uint8_t(fws[4]) | std::uint8_t(fws[5]) << 8 |
                                 std::uint8_t(fws[6]) << 16 | std::uint32_t(std::uint8_t(fws[7])) << 24;
    return MovieFile(std::uint8_t(fws[3]), length, fws.mid(8), compression);
}

struct Counts {
    std::size_t elements = 0;     // edges, styles, gradient records, control tags, frames, glyphs
    std::size_t glyphEntries = 0; // of static texts
};

void CheckShapeEdges(const std::vector<ShapeEdge>& edges, std::size_t fills, std::size_t lines) {
    for (const ShapeEdge& edge : edges) {
        ASSERT_GE(edge.fill0, -1);
        ASSERT_LT(edge.fill0, int(fills));
        ASSERT_GE(edge.fill1, -1);
        ASSERT_LT(edge.fill1, int(fills));
        ASSERT_GE(edge.line, -1);
        ASSERT_LT(edge.line, int(lines));
    }
}

std::size_t StyleElements(const std::vector<FillStyle>& fills) {
    std::size_t count = fills.size();
    for (const FillStyle& fill : fills)
        count += fill.gradient.records.size();
    return count;
}

void CheckTimeline(const Timeline& timeline, Counts& counts) {
    counts.elements += timeline.frames.size();
    for (const Frame& frame : timeline.frames)
        counts.elements += frame.tags.size();
}

// What the renderer and the timeline rely on: style indexes inside their lists, morph edges and
// styles in pairs, labels on frames that exist.
void CheckModel(const Movie& movie, Counts& counts) {
    CheckTimeline(movie.timeline, counts);
    for (const auto& [label, frame] : movie.frameLabels) {
        ASSERT_GE(frame, 0);
        ASSERT_LE(std::size_t(frame), movie.timeline.frames.size());
    }
    for (const auto& [id, character] : movie.dictionary) {
        ASSERT_TRUE(character);
        if (const auto* shape = std::get_if<Shape>(character.get())) {
            CheckShapeEdges(shape->edges, shape->fillStyles.size(), shape->lineStyles.size());
            counts.elements +=
                shape->edges.size() + StyleElements(shape->fillStyles) + shape->lineStyles.size();
        } else if (const auto* morph = std::get_if<MorphShape>(character.get())) {
            ASSERT_EQ(morph->startEdges.size(), morph->endEdges.size());
            ASSERT_EQ(morph->startFillStyles.size(), morph->endFillStyles.size());
            ASSERT_EQ(morph->startLineStyles.size(), morph->endLineStyles.size());
            CheckShapeEdges(morph->startEdges, morph->startFillStyles.size(), morph->startLineStyles.size());
            CheckShapeEdges(morph->endEdges, morph->startFillStyles.size(), morph->startLineStyles.size());
            counts.elements += 2 * morph->startEdges.size() + StyleElements(morph->startFillStyles) +
                               StyleElements(morph->endFillStyles) + 2 * morph->startLineStyles.size();
        } else if (const auto* sprite = std::get_if<Sprite>(character.get())) {
            CheckTimeline(sprite->timeline, counts);
        } else if (const auto* font = std::get_if<Font>(character.get())) {
            counts.elements += font->glyphs.size() + font->kerning.size();
            for (const Glyph& glyph : font->glyphs) {
                CheckShapeEdges(glyph.edges, 1, 0);
                counts.elements += glyph.edges.size();
            }
        } else if (const auto* text = std::get_if<StaticText>(character.get())) {
            counts.elements += text->records.size();
            // A glyph entry may be as short as one bit.
            for (const TextRecord& record : text->records)
                counts.glyphEntries += record.glyphs.size();
        }
    }
}

class QuietWarnings {
public:
    QuietWarnings()
        : previous(qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {})) {}
    ~QuietWarnings() { qInstallMessageHandler(previous); }

private:
    QtMessageHandler previous;
};

TEST(SwfFuzz, DamagedMoviesGiveAMovieOrAClearError) {
    QuietWarnings quiet;
    const std::vector<QByteArray> seeds = {EverythingMovie(), OldMovie(), NestedMovie(), CycleMovie()};
    for (const QByteArray& seed : seeds) {
        const ReadResult result = ReadMovie(seed);
        ASSERT_TRUE(result.movie) << result.error.toStdString();
        // The cycle seed is warned about, and nothing else.
        ASSERT_EQ(result.warnings.filter("inside itself").size(), result.warnings.size())
            << result.warnings.join('\n').toStdString();
    }
    Mutator mutator(20240611);
    int movies = 0, errors = 0;
    for (int round = 0; round < 3000; ++round) {
        const QByteArray& seed = seeds[std::size_t(mutator.Pick(0, int(seeds.size()) - 1))];
        QByteArray bytes;
        bool uncompressed = false;
        switch (mutator.Pick(0, 9)) {
        case 0: // damage inside the compressed data itself
            bytes = mutator.Mutate(
                Recompress(seed, mutator.Pick(0, 1) ? Movie::Compression::Zlib : Movie::Compression::Lzma));
            break;
        case 1:
            bytes = Recompress(mutator.Mutate(seed), Movie::Compression::Zlib);
            break;
        case 2:
            bytes = Recompress(mutator.Mutate(seed), Movie::Compression::Lzma);
            break;
        default:
            bytes = mutator.Mutate(seed);
            uncompressed = true;
            break;
        }
        SCOPED_TRACE(round);
        const ReadResult result = ReadMovie(bytes);
        ASSERT_NE(bool(result.movie), !result.error.isEmpty()) << result.error.toStdString();
        const ReadResult header = ReadHeaderOnly(bytes);
        if (!result.movie) {
            ++errors;
            continue;
        }
        ++movies;
        ASSERT_TRUE(header.movie) << header.error.toStdString();
        ASSERT_EQ(header.movie->frameSize, result.movie->frameSize);
        Counts counts;
        CheckModel(*result.movie, counts);
        if (HasFatalFailure())
            return;
        // Every element the model holds was paid for with at least six bits of the file.
        if (uncompressed) {
            ASSERT_LE(counts.elements * 6 + counts.glyphEntries, std::size_t(bytes.size()) * 8 + 64);
        }
        // Damaged fonts and texts still lay out.
        for (const auto& [id, character] : result.movie->dictionary)
            PrepareText(*character, *result.movie);
        // Damaged placement cycles still play and draw.
        if (&seed == &seeds.back()) {
            Player player(result.movie);
            player.Tick();
            player.Tick();
            Renderer renderer;
            renderer.RenderStage(*result.movie, player.Stage(), QSize(40, 40));
        }
    }
    // Both outcomes happen, or the mutations are too mild or too harsh to show anything.
    EXPECT_GT(movies, 300);
    EXPECT_GT(errors, 30);
}

// A zlib stream of header, then a tag claiming length, then zeros: made in pieces, so that the test
// never holds the uncompressed movie.
QByteArray ZlibBomb(std::size_t zeros) {
    QByteArray out;
    z_stream stream{};
    EXPECT_EQ(deflateInit(&stream, 1), Z_OK);
    const QByteArray head = MovieBuilder().WithoutEnd().Body() +
                            Tag(tag::DefineBinaryData, {}, true).left(2) +
                            Bits().U32(std::uint32_t(std::min<std::size_t>(zeros, 0xFFFFFFFF))).Data();
    const QByteArray chunk(1 << 20, '\0');
    std::vector<char> buffer(1 << 16);
    auto feed = [&](const QByteArray& data, int flush) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        stream.avail_in = uInt(data.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
            stream.avail_out = uInt(buffer.size());
            deflate(&stream, flush);
            out.append(buffer.data(), qsizetype(buffer.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    };
    feed(head, Z_NO_FLUSH);
    for (std::size_t done = 0; done < zeros; done += std::size_t(chunk.size()))
        feed(chunk, done + std::size_t(chunk.size()) >= zeros ? Z_FINISH : Z_NO_FLUSH);
    deflateEnd(&stream);
    return Bits().Bytes("CWS").U8(10).U32(0xFFFFFFFF).Bytes(out).Data();
}

TEST(SwfFuzz, DecompressionBombsStopAtTheLimit) {
    QuietWarnings quiet;
    // 300 MiB of zeros against the default 256 MiB.
    const ReadResult zlib = ReadMovie(ZlibBomb(std::size_t(300) << 20));
    EXPECT_FALSE(zlib.movie);
    EXPECT_EQ(zlib.error, "the movie is larger than the limit of 256 MiB uncompressed");

    // LZMA against a smaller limit, with the size unknown and with it claimed.
    const QByteArray zeros =
        MovieBuilder().Add(Tag(tag::DefineBinaryData, QByteArray(24 << 20, '\0'))).Body();
    QByteArray properties;
    const QByteArray data = LzmaRaw(zeros, properties, true);
    ReadLimits limits;
    limits.maxMovieBytes = 16 << 20;
    for (const std::uint32_t fileLength : {0xFFFFFFFFu, std::uint32_t(zeros.size() + 8), 100u}) {
        const QByteArray file = Bits()
                                    .Bytes("ZWS")
                                    .U8(13)
                                    .U32(fileLength)
                                    .U32(std::uint32_t(data.size()))
                                    .Bytes(properties)
                                    .Bytes(data)
                                    .Data();
        const ReadResult lzma = ReadMovie(file, limits);
        if (fileLength == 100) {
            // The claimed size ends decoding long before the limit: a cut movie, not an error.
            EXPECT_TRUE(lzma.movie);
            continue;
        }
        EXPECT_FALSE(lzma.movie) << fileLength;
        EXPECT_EQ(lzma.error, "the movie is larger than the limit of 16 MiB uncompressed");
    }

    // A dictionary of 4 GiB in the LZMA properties costs no more than the movie can hold.
    QByteArray small = MovieBuilder().Add(ShowFrame()).Build(Movie::Compression::Lzma);
    small.replace(13, 4, QByteArray(4, char(0xFF)));
    const ReadResult hugeDictionary = ReadMovie(small);
    ASSERT_TRUE(hugeDictionary.movie) << hugeDictionary.error.toStdString();
    EXPECT_EQ(hugeDictionary.movie->timeline.frames.size(), 1u);
}

TEST(SwfFuzz, ModelBombsStopAtTheLimit) {
    // 60 million ShowFrame tags (120 MB, a few hundred kB compressed) would need 1.4 GB of frames.
    QByteArray frames;
    for (int i = 0; i < 1 << 16; ++i)
        frames.append(ShowFrame());
    QByteArray body = MovieBuilder().Body();
    body.chop(2); // End
    const QByteArray block = frames.repeated(15);
    z_stream stream{};
    ASSERT_EQ(deflateInit(&stream, 1), Z_OK);
    QByteArray out;
    std::vector<char> buffer(1 << 16);
    auto feed = [&](const QByteArray& data, int flush) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        stream.avail_in = uInt(data.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
            stream.avail_out = uInt(buffer.size());
            deflate(&stream, flush);
            out.append(buffer.data(), qsizetype(buffer.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    };
    feed(body, Z_NO_FLUSH);
    for (int i = 0; i < 30; ++i)
        feed(block, i == 29 ? Z_FINISH : Z_NO_FLUSH);
    deflateEnd(&stream);
    const ReadResult result = ReadMovie(Bits().Bytes("CWS").U8(10).U32(0).Bytes(out).Data());
    EXPECT_FALSE(result.movie);
    EXPECT_TRUE(result.error.contains("too large to load")) << result.error.toStdString();
}

} // namespace

// Filter lists damaged at random keep their values within the bounds the renderer relies on, and an
// object drawn through filters at their largest and every blend-mode byte still gives a frame.
TEST(SwfFuzz, FiltersAndBlendModesStayBounded) {
    FilterList largest;
    for (int kind = 0; kind <= 7; ++kind) {
        Filter f;
        f.kind = Filter::Kind(kind);
        f.blurX = f.blurY = 255;
        f.passes = 15;
        f.distance = 30000;
        f.strength = 127;
        f.colors = {Red, Blue, Red};
        f.ratios = {0, 100, 255};
        f.matrixX = f.matrixY = kind == int(Filter::Kind::Convolution) ? 15 : 0;
        f.matrix.assign(kind == int(Filter::Kind::ColorMatrix) ? 20 : std::size_t(f.matrixX * f.matrixY), 1);
        largest.push_back(f);
    }
    const QByteArray bytes = FilterListBytes(largest);
    Mutator mutator(77);
    for (int round = 0; round < 2000; ++round) {
        const FilterList filters = ReadFilters(mutator.Mutate(bytes));
        ASSERT_LE(filters.size(), std::size_t(MaxFilters));
        for (const Filter& f : filters) {
            ASSERT_LE(std::max(f.blurX, f.blurY), 255);
            ASSERT_LE(f.passes, 15);
            ASSERT_LE(std::abs(f.distance), MaxGrowth);
        }
    }

    PlaceObject place = Place(1, 1, 3);
    place.filters = largest;
    MovieBuilder movie;
    movie.Stage({0, 400, 0, 400})
        .Add(DefineShape(ShapeDefinition()
                             .Id(1)
                             .Fills({Solid(Red)})
                             .Records(ShapeRecords().Fill0(1).Box(0, 0, 200, 200))));
    movie.Add(PlaceObjectTag(place));
    for (int mode = 0; mode < 256; mode += 17) {
        PlaceObject blended = Place(1, std::uint16_t(2 + mode), 3);
        blended.blendMode = std::uint8_t(mode);
        movie.Add(PlaceObjectTag(blended));
    }
    const ReadResult result = ReadMovie(movie.Add(ShowFrame()).Build());
    ASSERT_TRUE(result.movie) << result.error.toStdString();
    Player player(result.movie);
    player.GotoFrame(0);
    ASSERT_EQ(player.Stage().size(), 17u);
    Renderer renderer;
    const QImage image = renderer.RenderStage(*result.movie, player.Stage(), QSize(20, 20));
    EXPECT_EQ(image.size(), QSize(20, 20));
}

namespace {
// Frame scripts of every kind the interpreter knows, init actions, and buttons of both versions on a
// named sprite, so that damage lands in action records, button records and condition lists.
QByteArray ScriptMovie() {
    const ActionCode script = ActionCode()
                                  .ConstantPool({"a", "_root", "gotoAndPlay", "end"})
                                  .PushConstant(3)
                                  .PushInt(1)
                                  .PushConstant(1)
                                  .GetVariable()
                                  .PushConstant(2)
                                  .CallMethod()
                                  .SetTarget("/a/..")
                                  .NextFrame()
                                  .SetTarget("")
                                  .PushString("a")
                                  .SetTarget2()
                                  .PrevFrame()
                                  .PushDouble(2.5)
                                  .PushInt(3)
                                  .Op(action::Add2)
                                  .If(-20)
                                  .PushString("v")
                                  .PushBool(true)
                                  .SetVariable()
                                  .GotoLabel("end")
                                  .PushInt(2)
                                  .GotoFrame2(true, 1)
                                  .Jump(2)
                                  .StopSounds();
    // A function of x returning random(x * 2), called as a function and as a method of a, clip
    // properties, Math, the clock, a copy of a made and taken away, f as a's frame handler, a with
    // block on a, a dragged, a copy of sprite 40 attached inside a by its linkage name, and f as
    // button b's release handler.
    Bits function;
    function.String("f").U16(1).String("x").U16(18);
    const ActionCode more =
        ActionCode()
            .Op(action::DefineFunction, function.Data())
            .PushString("x") // the body, 18 bytes
            .GetVariable()
            .PushInt(2)
            .Op(action::Multiply)
            .Op(action::RandomNumber)
            .Op(action::Return)
            .PushString("a")
            .GetVariable()
            .PushString("m")
            .PushString("f")
            .GetVariable()
            .Op(action::SetMember)
            .PushInt(7)
            .PushInt(1)
            .PushString("a")
            .GetVariable()
            .PushString("m")
            .CallMethod()
            .PushInt(1)
            .PushString("f")
            .CallFunction()
            .PushString("a")
            .PushInt(10)
            .Op(action::GetTime)
            .Op(action::SetProperty)
            .PushInt(0)
            .PushString("Math")
            .GetVariable()
            .PushString("random")
            .CallMethod()
            .PushInt(3)
            .Op(action::BitLShift)
            .Op(action::TypeOf)
            .Pop()
            .PushString("a")
            .PushString("b")
            .PushInt(3)
            .Op(action::CloneSprite) // duplicateMovieClip
            .PushString("b")
            .Op(action::RemoveSprite) // removeMovieClip
            .PushString("a")
            .GetVariable()
            .PushString("onEnterFrame")
            .PushString("f")
            .GetVariable()
            .Op(action::SetMember)
            .PushString("a")
            .GetVariable()
            .Op(action::With, QByteArray("\x02\x00", 2)) // with (a) { nextFrame(); stop(); }
            .NextFrame()
            .Stop()
            .PushInt(0)
            .PushInt(0)
            .PushInt(90)
            .PushInt(90)
            .PushBool(true)
            .PushBool(false)
            .PushString("a")
            .Op(action::StartDrag) // startDrag("a", false, 0, 0, 90, 90)
            .PushInt(2)
            .PushString("c")
            .PushString("clip")
            .PushInt(3)
            .PushString("a")
            .GetVariable()
            .PushString("attachMovie")
            .CallMethod()
            .PushString("b")
            .GetVariable()
            .PushString("onRelease")
            .PushString("f")
            .GetVariable()
            .Op(action::SetMember);
    const std::vector<ButtonRecord> records = {
        {ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, Turned, {}},
        {ButtonRecord::Over | ButtonRecord::Down, 40, 2, {}, ColorTransform{0.5, 1, 1, 1, 10, 0, 0, 0}},
    };
    SoundInfo envelope;
    envelope.loopCount = 2;
    envelope.envelope = {{0, 32768, 0}, {64, 0, 32768}};
    SoundInfo stop;
    stop.syncStop = true;
    return MovieBuilder()
        .Stage({0, 4000, 0, 4000})
        .Add(DefineShape(
            ShapeDefinition().Fills({Solid(Red)}).Records(ShapeRecords().Fill0(1).Box(0, 0, 900, 900))))
        .Add(DefineSprite(
            40, 3,
            DoAction(
                ActionCode().PushInt(0).PushString("_parent").GetVariable().PushString("stop").CallMethod()) +
                ShowFrame() + ShowFrame() + ShowFrame()))
        .Add(DefineButton(5, records, ActionCode().Play().GotoFrame(1)))
        .Add(DefineButton2(6, records, {{IdleToOverUp, ActionCode().Stop()}, {OverDownToOverUp, script}}))
        .Add(DefineSound(30, SoundFormat{3, 1, true, false}, 64, QByteArray(128, 'a')))
        .Add(DefineButtonSoundTag(5, {{IdleToOverUp, 30, envelope}, {OverUpToIdle, 30, stop}}))
        .Add(DefineButtonSoundTag(6, {{OverUpToOverDown, 30, {}}, {OverDownToOverUp, 31, {}}}))
        .Add(DefineButtonCxformTag(5, ColorTransform{0.5, 1, 1.5, 1, 0, 40, -20, 0}))
        .Add(DoInitAction(40, ActionCode().Stop().Play()))
        .Add(Tag(56, QByteArray("\x01\x00\x28\x00clip\x00", 9))) // sprite 40 exported as "clip"
        .Add(PlaceObjectTag([&] {
            PlaceObject a = Place(40, 1);
            a.name = "a";
            a.clipActions = {{ClipEventLoad | ClipEventMouseDown, 0, script.Data()},
                             {ClipEventEnterFrame, 0,
                              ActionCode()
                                  .PushString("_x")
                                  .PushString("_x")
                                  .GetVariable()
                                  .Op(action::Add2)
                                  .SetVariable()
                                  .Data()},
                             {ClipEventKeyPress, 13, ActionCode().Stop().Data()}};
            return a;
        }()))
        .Add(DefineEditTextTag(41,
                               [] {
                                   EditText field; // shows the variable the script sets
                                   field.bounds = {0, 2000, 0, 400};
                                   field.variableName = "a:v";
                                   field.initialText = "x";
                                   return field;
                               }()))
        .Add(PlaceObjectTag([] {
            PlaceObject b = Place(5, 2);
            b.name = "b";
            return b;
        }()))
        .Add(PlaceObjectTag(Place(6, 3)))
        .Add(PlaceObjectTag(Place(41, 4)))
        .Add(DoAction(script))
        .Add(DoAction(more))
        .Add(ShowFrame())
        .Add(FrameLabelTag("end"))
        .Add(DoAction(ActionCode().Jump(-5)))
        .Add(ShowFrame())
        .Add(DoAction(ActionCode().GotoFrame(0).Play()))
        .Add(ShowFrame())
        .Build();
}
} // namespace

// Damaged video streams and frames decode, seek and draw without a crash.
TEST(SwfFuzz, DamagedVideoDrawsBounded) {
    QuietWarnings quiet;
    const QByteArray seed =
        MovieBuilder().Stage({0, 1000, 0, 600}).Add(VideoTags()).Add(ShowFrame()).Add(ShowFrame()).Build();
    Mutator mutator(1961);
    int drawn = 0;
    Renderer renderer;
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const ReadResult result = ReadMovie(mutator.Mutate(seed));
        if (!result.movie)
            continue;
        ++drawn;
        Player player(result.movie);
        for (int frame : {0, 1, 0}) {
            player.GotoFrame(frame);
            ASSERT_FALSE(renderer.RenderStage(*result.movie, player.Stage(), QSize(50, 30)).isNull());
        }
    }
    EXPECT_GT(drawn, 100);
}

// Damaged scripts and buttons (their sounds and colour transforms too) load, play, answer the mouse
// and seek without a crash or hang.
TEST(SwfFuzz, DamagedScriptsAndButtonsPlayBounded) {
    QuietWarnings quiet;
    const QByteArray seed = ScriptMovie();
    {
        const ReadResult result = ReadMovie(seed);
        ASSERT_TRUE(result.movie) << result.error.toStdString();
        // The cycle seed is warned about, and nothing else.
        ASSERT_EQ(result.warnings.filter("inside itself").size(), result.warnings.size())
            << result.warnings.join('\n').toStdString();
    }
    Mutator mutator(4711);
    Renderer renderer; // draws the bound text field too
    int played = 0;
    for (int round = 0; round < 800; ++round) {
        SCOPED_TRACE(round);
        const ReadResult result = ReadMovie(mutator.Mutate(seed));
        if (!result.movie)
            continue;
        ++played;
        SoundMixer mixer; // button sounds start through it
        Player player(result.movie, &mixer);
        for (int tick = 0; tick < 6; ++tick) {
            player.Tick();
            const double x = mutator.Pick(-100, 4100), y = mutator.Pick(-100, 4100);
            player.MouseMove(x, y);
            if (tick % 2 == 0) {
                player.MouseDown(x, y);
                player.MouseUp(x + mutator.Pick(0, 1) * 500, y);
            } else {
                player.KeyPress(mutator.Pick(0, 1) ? 13 : 32);
            }
            std::int16_t mix[2 * 32];
            mixer.Render(mix, 32);
        }
        player.GotoFrame(mutator.Pick(0, 3));
        ASSERT_LT(player.CurrentFrame(), std::max(player.TotalFrames(), 1));
        ASSERT_FALSE(renderer.RenderStage(*result.movie, player.Stage(), QSize(40, 40)).isNull());
    }
    EXPECT_GT(played, 150);
}

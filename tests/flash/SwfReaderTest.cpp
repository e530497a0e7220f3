// The movie reader: round trips of every record kind through the test writer, the three
// compressions, damaged input handled without losing what came before, the limits, and the real
// sample movies of this machine.
#include "flash/swf/SwfReader.h"
#include "SwfWriter.h"
#include "TestFiles.h"
#include "flash/swf/FilterReader.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

const Rgba Red{255, 0, 0, 255}, Green{0, 255, 0, 255}, Blue{0, 0, 255, 255}, Grey{128, 128, 128, 255};
const Rgba HalfRed{255, 0, 0, 128}, ClearBlue{0, 0, 255, 0};
const Matrix Turned{0.5, 0.25, -0.125, 1.25, 100, -40};

std::shared_ptr<Movie> ReadClean(const QByteArray& file) {
    const ReadResult result = ReadMovie(file);
    EXPECT_TRUE(result.movie) << result.error.toStdString();
    EXPECT_TRUE(result.warnings.isEmpty()) << result.warnings.join('\n').toStdString();
    return result.movie;
}

// A movie of one frame holding tags.
QByteArray OneFrame(const QByteArray& tags) {
    return MovieBuilder().Add(tags).Add(ShowFrame()).Build();
}

template <typename T> const T* Find(const Movie& movie, std::uint16_t id) {
    const auto it = movie.dictionary.find(id);
    return it == movie.dictionary.end() ? nullptr : std::get_if<T>(it->second.get());
}

ShapeEdge Straight(double fromX, double fromY, double toX, double toY, int fill0, int fill1, int line) {
    return {fromX, fromY, 0, 0, toX, toY, false, fill0, fill1, line};
}

ShapeEdge Curve(double fromX, double fromY, double controlX, double controlY, double toX, double toY,
                int fill0, int fill1, int line) {
    return {fromX, fromY, controlX, controlY, toX, toY, true, fill0, fill1, line};
}

bool Contains(const QStringList& lines, const char* text) {
    return std::any_of(lines.begin(), lines.end(), [&](const QString& line) { return line.contains(text); });
}

// --- Header and compression ---

struct CompressionCase {
    const char* name;
    Movie::Compression compression;
    bool lzmaEndMarker;
};

void PrintTo(const CompressionCase& c, std::ostream* out) {
    *out << c.name;
}

class SwfCompression : public testing::TestWithParam<CompressionCase> {};

TEST_P(SwfCompression, ReadsHeaderAndTagsAlike) {
    MovieBuilder builder;
    builder.Version(9)
        .Stage({-200, 11000, 100, 8100})
        .FrameRate(29.96875)
        .FrameCount(3)
        .Add(SetBackgroundColorTag(Grey))
        .Add(ShowFrame())
        .Add(FrameLabelTag("second"))
        .Add(ShowFrame());
    const QByteArray file = builder.Build(GetParam().compression, GetParam().lzmaEndMarker);
    const auto movie = ReadClean(file);
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->version, 9);
    EXPECT_EQ(movie->compression, GetParam().compression);
    EXPECT_EQ(movie->frameSize, (Rect{-200, 11000, 100, 8100}));
    EXPECT_EQ(movie->frameRate, 29.96875);
    EXPECT_EQ(movie->timeline.frameCount, 3);
    EXPECT_EQ(movie->fileLength, std::uint32_t(builder.Body().size() + 8));
    ASSERT_EQ(movie->timeline.frames.size(), 2u);
    EXPECT_EQ(movie->backgroundColor, Grey);
    EXPECT_EQ(movie->frameLabels.at("second"), 1);

    const ReadResult header = ReadHeaderOnly(file);
    ASSERT_TRUE(header.movie) << header.error.toStdString();
    EXPECT_EQ(header.movie->frameSize, movie->frameSize);
    EXPECT_EQ(header.movie->frameRate, movie->frameRate);
    EXPECT_EQ(header.movie->timeline.frameCount, 3);
    EXPECT_EQ(header.movie->fileLength, movie->fileLength);
    EXPECT_TRUE(header.movie->timeline.frames.empty());
}

INSTANTIATE_TEST_SUITE_P(, SwfCompression,
                         testing::Values(CompressionCase{"None", Movie::Compression::None, false},
                                         CompressionCase{"Zlib", Movie::Compression::Zlib, false},
                                         CompressionCase{"Lzma", Movie::Compression::Lzma, false},
                                         CompressionCase{"LzmaWithEndMarker", Movie::Compression::Lzma,
                                                         true}),
                         [](const auto& info) { return info.param.name; });

TEST(SwfHeader, FileLengthIsOnlyAHintExceptWhereLzmaStops) {
    const auto build = [](Movie::Compression compression, std::uint32_t fileLength, bool endMarker) {
        return MovieBuilder()
            .FileLength(fileLength)
            .Add(ShowFrame())
            .Add(ShowFrame())
            .Add(ShowFrame())
            .Build(compression, endMarker);
    };
    for (const auto compression : {Movie::Compression::None, Movie::Compression::Zlib}) {
        for (const std::uint32_t length : {0u, 20u, 0xFFFFFFFFu}) {
            const ReadResult result = ReadMovie(build(compression, length, false));
            ASSERT_TRUE(result.movie) << result.error.toStdString();
            EXPECT_EQ(result.movie->timeline.frames.size(), 3u) << int(compression) << " " << length;
            EXPECT_TRUE(result.warnings.isEmpty());
        }
    }
    // LZMA: a length past the limit means "unknown", and the data's end is the movie's end.
    for (const bool endMarker : {false, true}) {
        const ReadResult result = ReadMovie(build(Movie::Compression::Lzma, 0xFFFFFFFFu, endMarker));
        ASSERT_TRUE(result.movie) << result.error.toStdString();
        EXPECT_EQ(result.movie->timeline.frames.size(), 3u);
    }
    // A length too short cuts the movie where it says.
    const QByteArray body = MovieBuilder().Add(ShowFrame()).Add(ShowFrame()).Add(ShowFrame()).Body();
    const ReadResult cut =
        ReadMovie(build(Movie::Compression::Lzma, std::uint32_t(8 + body.size() - 4), false));
    ASSERT_TRUE(cut.movie) << cut.error.toStdString();
    EXPECT_EQ(cut.movie->timeline.frames.size(), 2u);
    EXPECT_TRUE(Contains(cut.warnings, "truncated"));
}

TEST(SwfHeader, RefusesWhatIsNoPlayableMovie) {
    const QByteArray good = MovieBuilder().Add(ShowFrame()).Build();
    const QByteArray body = MovieBuilder().Add(ShowFrame()).Body();
    QByteArray badLzmaProperties = MovieBuilder().Add(ShowFrame()).Build(Movie::Compression::Lzma);
    badLzmaProperties[12] = char(0xFF);
    QByteArray damagedZlib = MovieBuilder().Add(ShowFrame()).Build(Movie::Compression::Zlib);
    damagedZlib[8] = char(0x00); // the zlib header
    QByteArray cutRect = MovieFile(10, 30, Bits().UB(31, 5).UB(0, 11).Data(), Movie::Compression::None);

    const struct {
        const char* name;
        QByteArray bytes;
        const char* error;
    } cases[] = {
        {"empty", {}, "not a Flash movie"},
        {"picture", QByteArray("GIF89a\x01\x00\x01\x00", 10), "not a Flash movie"},
        {"signature cut", "CW", "truncated"},
        {"length cut", good.left(6), "truncated"},
        {"no stage", good.left(8), "truncated"},
        {"stage cut", cutRect, "truncated"},
        {"zlib damaged", damagedZlib, "compressed data is damaged"},
        {"zlib empty", MovieFile(10, 100, {}, Movie::Compression::Zlib).left(8), "truncated"},
        {"lzma header cut", MovieBuilder().Build(Movie::Compression::Lzma).left(14), "truncated"},
        {"lzma properties", badLzmaProperties, "compressed data is damaged"},
        {"stage too wide", MovieBuilder().Stage({0, 20001 * 20, 0, 400}).Build(), "larger than the limit"},
        {"stage too high", MovieBuilder().Stage({0, 400, -20000 * 20, 20}).Build(), "larger than the limit"},
        {"stage negative", MovieBuilder().Stage({400, 0, 0, 400}).Build(), "negative"},
    };
    for (const auto& c : cases) {
        const ReadResult result = ReadMovie(c.bytes);
        EXPECT_FALSE(result.movie) << c.name;
        EXPECT_TRUE(result.error.contains(c.error)) << c.name << ": " << result.error.toStdString();
        EXPECT_FALSE(ReadHeaderOnly(c.bytes).movie) << c.name;
    }
    // The largest stage allowed still reads.
    EXPECT_TRUE(ReadMovie(MovieBuilder().Stage({0, 20000 * 20, 0, 20000 * 20}).Build()).movie);
}

// --- The tag stream ---

TEST(SwfTags, LongAndShortTagHeadersReadAlike) {
    const auto movie =
        ReadClean(OneFrame(Tag(tag::SoundStreamBlock, "abc", true) + SoundStreamBlockTag("abc")));
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->timeline.frames[0].tags.size(), 2u);
    EXPECT_EQ(movie->timeline.frames[0].tags[0], ControlTag(SoundStreamBlock{"abc"}));
    EXPECT_EQ(movie->timeline.frames[0].tags[1], ControlTag(SoundStreamBlock{"abc"}));
}

TEST(SwfTags, DamagedStreamKeepsWhatCameBefore) {
    const QByteArray frames = FrameLabelTag("one") + ShowFrame() + FrameLabelTag("two") + ShowFrame();
    const QByteArray whole = MovieBuilder().Add(frames).Add(FrameLabelTag("three")).Add(ShowFrame()).Build();
    const qsizetype thirdLabel = whole.size() - 2 - 2 - 8; // End, ShowFrame, "three" label
    // Data that does not compress, so that cutting the compressed stream cuts this tag.
    QByteArray noise(3000, '\0');
    std::uint32_t seed = 1;
    for (char& byte : noise)
        byte = char((seed = seed * 1103515245 + 12345) >> 24);
    const QByteArray Noise = Tag(tag::DefineBinaryData, Bits().U16(1).U32(0).Bytes(noise).Data());

    const struct {
        const char* name;
        QByteArray bytes;
        std::size_t frames;
        const char* warning;
    } cases[] = {
        {"cut inside a tag", whole.left(thirdLabel + 4), 2, "runs past the end"},
        {"cut inside a tag header", whole.left(thirdLabel + 1), 2, "truncated"},
        {"lying length",
         MovieBuilder()
             .Add(frames)
             .Add(Tag(tag::FrameLabel, "x", true).left(2) + Bits().U32(0x7FFFFFFF).Data() + "x")
             .Build(),
         2, "runs past the end"},
        // Without End, tags after the last ShowFrame still make a frame.
        {"no End tag", MovieBuilder().WithoutEnd().Add(frames).Add(FrameLabelTag("three")).Build(), 3,
         "End tag"},
        {"zlib cut", MovieBuilder().Add(frames).Add(Noise).Build(Movie::Compression::Zlib).chopped(40), 2,
         "compressed data ends early"},
    };
    for (const auto& c : cases) {
        const ReadResult result = ReadMovie(c.bytes);
        ASSERT_TRUE(result.movie) << c.name << ": " << result.error.toStdString();
        EXPECT_EQ(result.movie->timeline.frames.size(), c.frames) << c.name;
        EXPECT_EQ(result.movie->frameLabels.at("two"), 1) << c.name;
        EXPECT_TRUE(Contains(result.warnings, c.warning))
            << c.name << ": " << result.warnings.join('\n').toStdString();
    }
}

TEST(SwfTags, UnparsedTagsAreKeptForLaterUnits) {
    const QByteArray binary = Bits().U16(9).U32(0).Bytes("blob").Data();
    const auto movie = ReadClean(MovieBuilder()
                                     .Add(Tag(tag::FileAttributes, Bits().U32(0x08).Data()))
                                     .Add(Tag(tag::DefineBinaryData, binary))
                                     .Add(Tag(200, "unknown"))
                                     .Add(Tag(tag::DoAction, ActionCode().Stop().Data()))
                                     .Add(ShowFrame())
                                     .Add(Tag(tag::VideoFrame, "frame"))
                                     .Add(ShowFrame())
                                     .Build());
    ASSERT_TRUE(movie);
    ASSERT_TRUE(Find<RawCharacter>(*movie, 9));
    EXPECT_EQ(Find<RawCharacter>(*movie, 9)->code, tag::DefineBinaryData);
    EXPECT_EQ(Find<RawCharacter>(*movie, 9)->data, binary);
    ASSERT_EQ(movie->timeline.frames.size(), 2u);
    const std::vector<ControlTag> first = {OtherTag{tag::FileAttributes, Bits().U32(0x08).Data()},
                                           OtherTag{tag::DoAction, ActionCode().Stop().Data()}};
    EXPECT_EQ(movie->timeline.frames[0].tags, first);
    EXPECT_EQ(movie->timeline.frames[1].tags, std::vector<ControlTag>{OtherTag({tag::VideoFrame, "frame"})});
}

TEST(SwfTags, FirstDefinitionOfAnIdCounts) {
    const ReadResult result = ReadMovie(OneFrame(DefineBitsJpeg2(3, "first") + DefineBitsJpeg2(3, "second")));
    ASSERT_TRUE(result.movie);
    EXPECT_EQ(Find<Bitmap>(*result.movie, 3)->data, "first");
    EXPECT_TRUE(Contains(result.warnings, "defined twice"));
}

// --- Shapes ---

struct StyleCase {
    const char* name;
    int version;
    std::vector<FillStyle> fills;
    std::vector<LineStyle> lines;
};

LineStyle Line2(std::uint16_t width, LineStyle::Cap start, LineStyle::Cap end, LineStyle::Join join,
                Rgba color) {
    LineStyle style = Line(width, color);
    style.startCap = start;
    style.endCap = end;
    style.join = join;
    return style;
}

std::vector<StyleCase> StyleCases() {
    const std::vector<GradientRecord> opaque = {{0, Red}, {128, Green}, {255, Blue}};
    const std::vector<GradientRecord> translucent = {{0, HalfRed}, {255, ClearBlue}};
    LineStyle mitred =
        Line2(60, LineStyle::Cap::None, LineStyle::Cap::Square, LineStyle::Join::Miter, HalfRed);
    mitred.miterLimit = 2.5;
    mitred.noHScale = mitred.pixelHinting = mitred.noClose = true;
    LineStyle filled =
        Line2(100, LineStyle::Cap::Square, LineStyle::Cap::None, LineStyle::Join::Bevel, Rgba{});
    filled.noVScale = true;
    filled.fill =
        GradientFill(FillStyle::Type::RadialGradient, Turned, translucent, Gradient::Spread::Repeat);
    std::vector<FillStyle> many;
    for (int i = 0; i < 300; ++i)
        many.push_back(Solid({std::uint8_t(i), std::uint8_t(i / 2), 7, std::uint8_t(255 - i / 2)}));

    return {
        {"Shape1Solid", 1, {Solid(Red), Solid(Blue)}, {Line(20, Green)}},
        {"Shape2Gradients",
         2,
         {GradientFill(FillStyle::Type::LinearGradient, Turned, opaque),
          GradientFill(FillStyle::Type::RadialGradient, Matrix{}, opaque)},
         {Line(1, Red), Line(65535, Blue)}},
        {"Shape3AlphaAndBitmaps",
         3,
         {Solid(HalfRed), BitmapFill(5, Turned, FillStyle::Type::RepeatingBitmap),
          BitmapFill(6, Matrix{20, 0, 0, 20, 0, 0}, FillStyle::Type::ClippedBitmap),
          BitmapFill(7, Matrix{}, FillStyle::Type::NonSmoothedRepeatingBitmap),
          BitmapFill(65535, Turned, FillStyle::Type::NonSmoothedClippedBitmap),
          GradientFill(FillStyle::Type::LinearGradient, Turned, translucent)},
         {Line(40, ClearBlue)}},
        {"Shape4ModesAndLineStyle2",
         4,
         {GradientFill(FillStyle::Type::FocalRadialGradient, Turned, translucent, Gradient::Spread::Reflect,
                       Gradient::Interpolation::LinearRgb, -0.5),
          GradientFill(FillStyle::Type::LinearGradient, Matrix{}, opaque, Gradient::Spread::Repeat)},
         {mitred, filled,
          Line2(20, LineStyle::Cap::Round, LineStyle::Cap::Round, LineStyle::Join::Round, Blue)}},
        {"Shape3ExtendedCounts", 3, many, std::vector<LineStyle>(256, Line(20, HalfRed))},
    };
}

void PrintTo(const StyleCase& c, std::ostream* out) {
    *out << c.name;
}

class SwfShapeStyles : public testing::TestWithParam<StyleCase> {};

TEST_P(SwfShapeStyles, RoundTrip) {
    const StyleCase& c = GetParam();
    const auto last = std::uint32_t(c.fills.size());
    const auto movie = ReadClean(OneFrame(DefineShape(
        ShapeDefinition()
            .Version(c.version)
            .Id(4)
            .Bounds({-10, 210, -10, 110})
            .Fills(c.fills)
            .Lines(c.lines)
            .Records(ShapeRecords().Fill0(last).Line(std::uint32_t(c.lines.size())).Box(0, 0, 200, 100)))));
    ASSERT_TRUE(movie);
    const Shape* shape = Find<Shape>(*movie, 4);
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->bounds, (Rect{-10, 210, -10, 110}));
    EXPECT_EQ(shape->fillStyles, c.fills);
    EXPECT_EQ(shape->lineStyles, c.lines);
    ASSERT_EQ(shape->edges.size(), 4u);
    for (const ShapeEdge& edge : shape->edges) {
        EXPECT_EQ(edge.fill0, int(last) - 1);
        EXPECT_EQ(edge.line, int(c.lines.size()) - 1);
    }
}

INSTANTIATE_TEST_SUITE_P(, SwfShapeStyles, testing::ValuesIn(StyleCases()),
                         [](const auto& info) { return info.param.name; });

TEST(SwfShape, EdgesAreAbsoluteAndStyleNumbersUniqueIndexes) {
    const std::vector<FillStyle> firstFills = {Solid(Red), Solid(Green)};
    const std::vector<FillStyle> newFills = {Solid(Blue), Solid(Grey)};
    const std::vector<LineStyle> newLines = {Line(10, Red), Line(30, Blue)};
    const ShapeRecords records = ShapeRecords()
                                     .Fill0(1)
                                     .Line(1)
                                     .MoveTo(100, 100)
                                     .LineTo(300, 100)
                                     .LineTo(300, 400)
                                     .LineTo(100, 100)
                                     .Fill1(2)
                                     .CurveTo(0, 0, 50, -70)
                                     // Numbers given with new styles count in the new arrays.
                                     .NewStyles(newFills, newLines)
                                     .Fill0(2)
                                     .Line(2)
                                     .MoveTo(-500, 20)
                                     .LineTo(-400, 20)
                                     .Fill0(0)
                                     .Fill1(1)
                                     .LineTo(-400, -65000)
                                     .Fill0(9) // out of range: no fill
                                     .LineTo(-400, 500);
    const auto movie = ReadClean(OneFrame(DefineShape(
        ShapeDefinition().Version(2).Id(1).Fills(firstFills).Lines({Line(20, Grey)}).Records(records))));
    ASSERT_TRUE(movie);
    const Shape* shape = Find<Shape>(*movie, 1);
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->fillStyles,
              (std::vector<FillStyle>{Solid(Red), Solid(Green), Solid(Blue), Solid(Grey)}));
    EXPECT_EQ(shape->lineStyles, (std::vector<LineStyle>{Line(20, Grey), Line(10, Red), Line(30, Blue)}));
    const std::vector<ShapeEdge> expected = {
        Straight(100, 100, 300, 100, 0, -1, 0),      Straight(300, 100, 300, 400, 0, -1, 0),
        Straight(300, 400, 100, 100, 0, -1, 0),      Curve(100, 100, 0, 0, 50, -70, 0, 1, 0),
        Straight(-500, 20, -400, 20, 3, -1, 2),      Straight(-400, 20, -400, -65000, -1, 2, 2),
        Straight(-400, -65000, -400, 500, -1, 2, 2),
    };
    EXPECT_EQ(shape->edges, expected);
}

TEST(SwfShape, Shape4KeepsEdgeBoundsAndWindingRule) {
    const auto movie =
        ReadClean(OneFrame(DefineShape(ShapeDefinition()
                                           .Version(4)
                                           .Id(2)
                                           .Bounds({-20, 220, -20, 220})
                                           .EdgeBounds({0, 200, 0, 200})
                                           .NonZeroWinding(true)
                                           .Fills({Solid(Red)})
                                           .Records(ShapeRecords().Fill1(1).Box(0, 0, 200, 200)))));
    ASSERT_TRUE(movie);
    const Shape* shape = Find<Shape>(*movie, 2);
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->edgeBounds, (Rect{0, 200, 0, 200}));
    EXPECT_TRUE(shape->nonZeroWinding);
}

TEST(SwfShape, DamagedShapesAreSkippedAndTheRestKept) {
    const auto shapeHead = [](std::uint16_t id) { return Bits().U16(id).RectField({0, 100, 0, 100}); };
    const auto box = [](std::uint16_t id) {
        return DefineShape(ShapeDefinition()
                               .Id(id)
                               .Fills({Solid(Red)})
                               .Records(ShapeRecords().Fill0(1).Box(0, 0, 1000, 1000)))
            .mid(2);
    };

    const struct {
        const char* name;
        QByteArray tag;
    } cases[] = {
        {"fill count beyond the tag", Tag(tag::DefineShape3, shapeHead(2).U8(0xFF).U16(0xFFFF).U8(0).Data())},
        {"line count beyond the tag", Tag(tag::DefineShape3, shapeHead(2).U8(0).U8(0xFF).U16(40000).Data())},
        {"unknown fill type", Tag(tag::DefineShape3, shapeHead(2).U8(1).U8(0x05).Bytes("xxxxxxxx").Data())},
        // No styles, then a straight edge of 17-bit deltas with nothing after it.
        {"edge cut short", Tag(tag::DefineShape, shapeHead(2).U8(0).U8(0).U8(0x00).U8(0xFF).Data())},
        {"empty", Tag(tag::DefineShape2, {})},
        {"new styles in a morph shape",
         DefineMorphShape(MorphDefinition()
                              .Id(2)
                              .Start(ShapeRecords().NewStyles({Solid(Red)}, {}).Fill0(1).LineTo(10, 10))
                              .End(ShapeRecords().LineTo(20, 20))
                              .Fills({Solid(Red)}, {Solid(Blue)}))},
    };
    for (const auto& c : cases) {
        const ReadResult result = ReadMovie(OneFrame(c.tag + Tag(tag::DefineShape, box(3))));
        ASSERT_TRUE(result.movie) << c.name;
        EXPECT_FALSE(result.movie->dictionary.count(2)) << c.name;
        EXPECT_TRUE(Find<Shape>(*result.movie, 3)) << c.name;
        EXPECT_TRUE(Contains(result.warnings, "skipped a damaged")) << c.name;
    }
}

// --- Morph shapes ---

struct MorphCase {
    const char* name;
    int version;
    std::vector<FillStyle> startFills, endFills;
    std::vector<LineStyle> startLines, endLines;
};

std::vector<MorphCase> MorphCases() {
    const std::vector<GradientRecord> from = {{0, HalfRed}, {255, Blue}};
    const std::vector<GradientRecord> to = {{40, Green}, {200, ClearBlue}};
    LineStyle filledStart =
        Line2(20, LineStyle::Cap::None, LineStyle::Cap::Square, LineStyle::Join::Miter, Rgba{});
    filledStart.miterLimit = 4;
    LineStyle filledEnd = filledStart;
    filledEnd.width = 80;
    filledStart.fill = Solid(Red);
    filledEnd.fill = Solid(HalfRed);
    return {
        {"Morph1",
         1,
         {Solid(Red), GradientFill(FillStyle::Type::LinearGradient, Matrix{}, from),
          BitmapFill(9, Matrix{}, FillStyle::Type::ClippedBitmap)},
         {Solid(HalfRed), GradientFill(FillStyle::Type::LinearGradient, Turned, to),
          BitmapFill(9, Turned, FillStyle::Type::ClippedBitmap)},
         {Line(20, Red)},
         {Line(60, ClearBlue)}},
        {"Morph2",
         2,
         {GradientFill(FillStyle::Type::FocalRadialGradient, Matrix{}, from, Gradient::Spread::Reflect,
                       Gradient::Interpolation::LinearRgb, 0.25)},
         {GradientFill(FillStyle::Type::FocalRadialGradient, Turned, to, Gradient::Spread::Reflect,
                       Gradient::Interpolation::LinearRgb, -0.75)},
         {filledStart, Line2(10, LineStyle::Cap::Round, LineStyle::Cap::None, LineStyle::Join::Bevel, Red)},
         {filledEnd, Line2(30, LineStyle::Cap::Round, LineStyle::Cap::None, LineStyle::Join::Bevel, Blue)}},
    };
}

void PrintTo(const MorphCase& c, std::ostream* out) {
    *out << c.name;
}

class SwfMorphShape : public testing::TestWithParam<MorphCase> {};

TEST_P(SwfMorphShape, PairsStylesAndEdges) {
    const MorphCase& c = GetParam();
    const auto movie = ReadClean(OneFrame(DefineMorphShape(
        MorphDefinition()
            .Version(c.version)
            .Id(3)
            .StartBounds({0, 150, 0, 100})
            .EndBounds({10, 110, 10, 120})
            .Start(ShapeRecords()
                       .Fill0(1)
                       .Line(1)
                       .MoveTo(0, 0)
                       .LineTo(100, 0)
                       .CurveTo(150, 50, 100, 100)
                       .LineTo(0, 0))
            .End(ShapeRecords().MoveTo(10, 10).CurveTo(60, 0, 110, 10).LineTo(100, 120).LineTo(10, 10))
            .Fills(c.startFills, c.endFills)
            .Lines(c.startLines, c.endLines))));
    ASSERT_TRUE(movie);
    const MorphShape* morph = Find<MorphShape>(*movie, 3);
    ASSERT_TRUE(morph);
    EXPECT_EQ(morph->startBounds, (Rect{0, 150, 0, 100}));
    EXPECT_EQ(morph->endBounds, (Rect{10, 110, 10, 120}));
    EXPECT_EQ(morph->startFillStyles, c.startFills);
    EXPECT_EQ(morph->endFillStyles, c.endFills);
    EXPECT_EQ(morph->startLineStyles, c.startLines);
    EXPECT_EQ(morph->endLineStyles, c.endLines);
    // A straight edge facing a curve becomes a curve bent at its middle.
    const std::vector<ShapeEdge> start = {Curve(0, 0, 50, 0, 100, 0, 0, -1, 0),
                                          Curve(100, 0, 150, 50, 100, 100, 0, -1, 0),
                                          Straight(100, 100, 0, 0, 0, -1, 0)};
    const std::vector<ShapeEdge> end = {Curve(10, 10, 60, 0, 110, 10, 0, -1, 0),
                                        Curve(110, 10, 105, 65, 100, 120, 0, -1, 0),
                                        Straight(100, 120, 10, 10, 0, -1, 0)};
    EXPECT_EQ(morph->startEdges, start);
    EXPECT_EQ(morph->endEdges, end);
}

INSTANTIATE_TEST_SUITE_P(, SwfMorphShape, testing::ValuesIn(MorphCases()),
                         [](const auto& info) { return info.param.name; });

TEST(SwfMorph, UnpairedEdgesAreDropped) {
    const ReadResult result = ReadMovie(OneFrame(
        DefineMorphShape(MorphDefinition()
                             .Id(3)
                             .Start(ShapeRecords().Fill0(1).LineTo(100, 0).LineTo(100, 100).LineTo(0, 0))
                             .End(ShapeRecords().LineTo(50, 0))
                             .Fills({Solid(Red)}, {Solid(Blue)}))));
    ASSERT_TRUE(result.movie);
    const MorphShape* morph = Find<MorphShape>(*result.movie, 3);
    ASSERT_TRUE(morph);
    EXPECT_EQ(morph->startEdges.size(), 1u);
    EXPECT_EQ(morph->endEdges, (std::vector<ShapeEdge>{Straight(0, 0, 50, 0, 0, -1, -1)}));
    EXPECT_TRUE(Contains(result.warnings, "3 start edges and 1 end edges"));
}

// --- Bitmaps ---

TEST(SwfBitmap, JpegBitmapsKeepTheirStreams) {
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QByteArray jpeg = JpegBytes(image);
    const QByteArray png = PngBytes(image);
    const QByteArray alpha = ZlibBytes(QByteArray(16 * 8, char(0x80)));
    const QByteArray tables("\xFF\xD8\xFF\xDB tables \xFF\xD9", 14);
    const auto movie = ReadClean(OneFrame(
        DefineBitsJpeg2(1, jpeg) + DefineBitsJpeg2(2, png) + DefineBitsJpeg3(3, jpeg, alpha) +
        DefineBitsJpeg4(4, jpeg, alpha, 0.5) + JpegTables(tables) + DefineBits(5, "jpeg without tables")));
    ASSERT_TRUE(movie);
    const Bitmap* plain = Find<Bitmap>(*movie, 1);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->kind, Bitmap::Kind::Jpeg);
    EXPECT_EQ(plain->data, jpeg);
    EXPECT_EQ(QImage::fromData(plain->data).size(), image.size());
    EXPECT_EQ(Find<Bitmap>(*movie, 2)->data, png);
    EXPECT_EQ(Find<Bitmap>(*movie, 3)->data, jpeg);
    EXPECT_EQ(Find<Bitmap>(*movie, 3)->alphaData, alpha);
    EXPECT_EQ(Find<Bitmap>(*movie, 4)->alphaData, alpha);
    EXPECT_EQ(Find<Bitmap>(*movie, 4)->deblocking, 0.5);
    EXPECT_EQ(Find<Bitmap>(*movie, 5)->data, "jpeg without tables");
    EXPECT_EQ(Find<Bitmap>(*movie, 5)->jpegTables, tables);
    EXPECT_EQ(movie->jpegTables, tables);

    // Tables that come after the bitmap still reach it.
    const auto late = ReadClean(OneFrame(DefineBits(5, "jpeg") + JpegTables(tables)));
    ASSERT_TRUE(late);
    EXPECT_EQ(Find<Bitmap>(*late, 5)->jpegTables, tables);
}

TEST(SwfBitmap, LosslessBitmapsKeepFormatAndSize) {
    const QByteArray data = ZlibBytes("pixels");
    const struct {
        int version;
        std::uint8_t format;
        std::uint16_t width, height;
        std::uint8_t colorTableSize;
    } cases[] = {
        {1, 3, 3, 2, 15}, {1, 4, 640, 1, 0}, {1, 5, 1, 480, 0}, {2, 3, 65535, 1, 255}, {2, 5, 7, 9, 0}};
    for (const auto& c : cases) {
        const auto movie = ReadClean(
            OneFrame(DefineBitsLossless(c.version, 6, c.format, c.width, c.height, data, c.colorTableSize)));
        ASSERT_TRUE(movie);
        const Bitmap* bitmap = Find<Bitmap>(*movie, 6);
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->kind, Bitmap::Kind::Lossless);
        EXPECT_EQ(bitmap->losslessFormat, c.format);
        EXPECT_EQ(bitmap->width, c.width);
        EXPECT_EQ(bitmap->height, c.height);
        EXPECT_EQ(bitmap->colorTableSize, c.colorTableSize);
        EXPECT_EQ(bitmap->hasAlpha, c.version == 2);
        EXPECT_EQ(bitmap->data, data);
    }
    const ReadResult unknownFormat = ReadMovie(OneFrame(DefineBitsLossless(1, 6, 7, 1, 1, data)));
    ASSERT_TRUE(unknownFormat.movie);
    EXPECT_FALSE(unknownFormat.movie->dictionary.count(6));
}

// --- Sounds ---

TEST(SwfSound, SoundsAndStreamsRoundTrip) {
    const SoundFormat mp3{2, 3, true, true};
    StartSound full;
    full.soundId = 11;
    full.info.syncStop = true;
    full.info.syncNoMultiple = true;
    full.info.inPoint = 441;
    full.info.outPoint = 88200;
    full.info.loopCount = 3;
    full.info.envelope = {{0, 32768, 0}, {44100, 0, 32768}};
    StartSound byClass;
    byClass.className = QStringLiteral("Beep");
    byClass.info.syncNoMultiple = true;
    SoundStreamHead adpcm;
    adpcm.playbackFormat = {0, 2, true, false};
    adpcm.streamFormat = {1, 2, true, false};
    adpcm.samplesPerBlock = 1837;
    SoundStreamHead mp3Head;
    mp3Head.playbackFormat = {0, 3, true, true};
    mp3Head.streamFormat = mp3;
    mp3Head.samplesPerBlock = 1152;
    mp3Head.latencySeek = -5;

    const auto movie =
        ReadClean(MovieBuilder()
                      .Add(DefineSound(11, mp3, 123456, "\x01\x02mp3 frames"))
                      .Add(DefineSound(12, SoundFormat{3, 0, false, false}, 4, "\x80\x81\x82\x83"))
                      .Add(SoundStreamHeadTag(adpcm))
                      .Add(StartSoundTag(full))
                      .Add(StartSoundTag(byClass, 2))
                      .Add(ShowFrame())
                      .Add(SoundStreamHeadTag(mp3Head, 2))
                      .Add(SoundStreamBlockTag("block"))
                      .Add(ShowFrame())
                      .Build());
    ASSERT_TRUE(movie);
    const Sound* sound = Find<Sound>(*movie, 11);
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->format, mp3);
    EXPECT_EQ(sound->sampleCount, 123456u);
    EXPECT_EQ(sound->data, "\x01\x02mp3 frames");
    EXPECT_EQ(Find<Sound>(*movie, 12)->format, (SoundFormat{3, 0, false, false}));
    EXPECT_EQ(Find<Sound>(*movie, 12)->format.SampleRate(), 5512);
    ASSERT_EQ(movie->timeline.frames.size(), 2u);
    EXPECT_EQ(movie->timeline.frames[0].tags, (std::vector<ControlTag>{adpcm, full, byClass}));
    EXPECT_EQ(movie->timeline.frames[1].tags, (std::vector<ControlTag>{mp3Head, SoundStreamBlock{"block"}}));
    EXPECT_EQ(movie->timeline.streamHead, mp3Head);
}

// --- Button sounds and colour transforms ---

namespace {

const std::vector<ButtonRecord> TwoStates = {{ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, Turned, {}},
                                             {ButtonRecord::Over, 2, 2, {}, {}}};

// The tag with its last `drop` bytes cut, its length telling the truth.
QByteArray Shortened(const QByteArray& tag, int drop) {
    const std::uint16_t head = std::uint8_t(tag[0]) | std::uint8_t(tag[1]) << 8;
    return Tag(head >> 6, tag.mid((head & 0x3F) == 0x3F ? 6 : 2).chopped(drop));
}

} // namespace

TEST(SwfButton, SoundsAndColorTransformCompleteTheButtonBeforeThem) {
    SoundInfo full;
    full.syncNoMultiple = true;
    full.inPoint = 441;
    full.outPoint = 88200;
    full.loopCount = 3;
    full.envelope = {{0, 32768, 0}, {44100, 0, 32768}};
    SoundInfo stop;
    stop.syncStop = true;
    // In the file's order of transitions; the sound a transition lacks is left out.
    const std::vector<ButtonSound> sounds = {{OverUpToIdle, 11, stop}, {OverUpToOverDown, 12, full}};
    const ColorTransform tint{0.5, 1, 2, 1, -255, 0, 10, 0};
    const ColorTransform own{1, 0.5, 1, 1, 0, 20, 0, 0};
    std::vector<ButtonRecord> tinted = TwoStates;
    tinted[1].colorTransform = own;

    const auto movie = ReadClean(OneFrame(DefineButton(5, TwoStates, ActionCode().Play()) +
                                          DefineButtonSoundTag(5, sounds) + DefineButtonCxformTag(5, tint) +
                                          DefineButton2(6, tinted, {}) + DefineButtonCxformTag(6, tint)));
    ASSERT_TRUE(movie);
    const Button* one = Find<Button>(*movie, 5);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->sounds, sounds);
    for (const ButtonRecord& record : one->records)
        EXPECT_EQ(record.colorTransform, tint);
    // DefineButton2 records carry their own transforms.
    const Button* two = Find<Button>(*movie, 6);
    ASSERT_TRUE(two);
    EXPECT_EQ(two->records[0].colorTransform, ColorTransform{});
    EXPECT_EQ(two->records[1].colorTransform, own);
    EXPECT_TRUE(movie->timeline.frames[0].tags.empty()) << "the tags are used up, not left to the frame";
}

TEST(SwfButton, MisplacedAndDamagedExtrasAreSkipped) {
    SoundInfo enveloped;
    enveloped.envelope = {{0, 100, 100}};
    const QByteArray sound = DefineButtonSoundTag(5, {{IdleToOverUp, 11, enveloped}});
    const QByteArray cxform = DefineButtonCxformTag(5, ColorTransform{0.5, 1, 1, 1, 0, 0, 0, 0});
    const QByteArray button = DefineButton(5, TwoStates, ActionCode());
    const QByteArray shape = DefineShape(
        ShapeDefinition().Id(5).Fills({Solid(Red)}).Records(ShapeRecords().Fill0(1).Box(0, 0, 100, 100)));
    // An envelope count of 200 with one point behind it (header, button id, two slot ids, flags).
    QByteArray lyingCount = sound;
    lyingCount[2 + 2 + 2 + 2 + 1] = char(200);
    struct Case {
        const char* name;
        QByteArray tags;
        const char* warning;
    } const cases[] = {
        {"sound before its button", sound + cxform + button, "no button defined before it"},
        {"extras for a shape", shape + sound + cxform, "no button defined before it"},
        {"extras for an unknown id", button + DefineButtonSoundTag(9, {{IdleToOverUp, 11, {}}}),
         "no button defined before it"},
        {"sound info cut", button + Shortened(sound, 3), "damaged DefineButtonSound"},
        {"a slot missing", button + Shortened(DefineButtonSoundTag(5, {}), 2), "damaged DefineButtonSound"},
        {"envelope count lies", button + lyingCount, "damaged DefineButtonSound"},
        {"no id", button + Tag(tag::DefineButtonSound, "\x05"), "damaged DefineButtonSound"},
        {"transform cut", button + Shortened(cxform, 1), "damaged DefineButtonCxform"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult result = ReadMovie(OneFrame(c.tags));
        ASSERT_TRUE(result.movie);
        EXPECT_TRUE(Contains(result.warnings, c.warning)) << result.warnings.join('\n').toStdString();
        if (const Button* read = Find<Button>(*result.movie, 5)) {
            EXPECT_TRUE(read->sounds.empty());
            EXPECT_EQ(read->records[1].colorTransform, ColorTransform{});
        }
    }
}

// --- Timelines ---

std::vector<std::pair<const char*, PlaceObject>> PlaceCases() {
    std::vector<std::pair<const char*, PlaceObject>> cases;
    cases.emplace_back("PlaceObject", Place(3, 1, 1));
    PlaceObject tinted = Place(3, 2, 1);
    tinted.matrix = Turned;
    tinted.colorTransform = ColorTransform{0.5, 1, 2, 1, -255, 0, 10, 0};
    cases.emplace_back("PlaceObjectWithColorTransform", tinted);
    PlaceObject full = Place(65535, 65535);
    full.matrix = Turned;
    full.colorTransform = ColorTransform{1, 0.25, 1, 0.5, 0, 12, -3, 255};
    full.ratio = 32768;
    full.name = QStringLiteral("Ünïcode name");
    full.clipDepth = 9;
    cases.emplace_back("PlaceObject2Everything", full);
    PlaceObject move;
    move.depth = 4;
    move.move = true;
    move.version = 2;
    move.matrix = Matrix{1, 0, 0, 1, -20, 40};
    cases.emplace_back("PlaceObject2Move", move);
    PlaceObject three = Place(8, 5, 3);
    three.blendMode = 3;
    three.visible = false;
    three.backgroundColor = HalfRed;
    // One blur filter: blur x, blur y, passes.
    Filter blur;
    blur.blurX = blur.blurY = 4;
    three.filters = {blur};
    cases.emplace_back("PlaceObject3", three);
    PlaceObject threeMove = Place(9, 6, 3);
    threeMove.move = true;
    threeMove.visible = true;
    cases.emplace_back("PlaceObject3Visible", threeMove);
    return cases;
}

TEST(SwfTimeline, PlacementsRoundTrip) {
    for (const auto& [name, place] : PlaceCases()) {
        const auto movie = ReadClean(OneFrame(PlaceObjectTag(place)));
        ASSERT_TRUE(movie) << name;
        ASSERT_EQ(movie->timeline.frames.size(), 1u) << name;
        EXPECT_EQ(movie->timeline.frames[0].tags, std::vector<ControlTag>{place}) << name;
    }
}

TEST(SwfTimeline, PlaceObject3SkipsClassNameAndToleratesMissingTailBytes) {
    // Depth 2, class "Ball", character 7, blend mode and cache-as-bitmap flags set but the tag ends
    // after the blend mode.
    const QByteArray body = Bits().U8(0x02).U8(0x08 | 0x04 | 0x02).U16(2).String("Ball").U16(7).U8(5).Data();
    const auto movie = ReadClean(OneFrame(Tag(tag::PlaceObject3, body)));
    ASSERT_TRUE(movie);
    PlaceObject expected = Place(7, 2, 3);
    expected.blendMode = 5;
    EXPECT_EQ(movie->timeline.frames[0].tags, std::vector<ControlTag>{expected});
}

TEST(SwfTimeline, FilterListsOfEveryKindAreKeptWhole) {
    // One filter of each kind, laid out field by field, then the blend mode after the list.
    Bits filters;
    filters.U8(8);
    // Drop shadow, blur, glow, bevel.
    filters.U8(0).RgbaColor(Red).U32(0x40000).U32(0x40000).U32(0).U32(0x40000).U16(0x100).U8(0x21);
    filters.U8(1).U32(0x40000).U32(0x40000).U8(0x08);
    filters.U8(2).RgbaColor(Red).U32(0x40000).U32(0x40000).U16(0x100).U8(0x21);
    filters.U8(3).RgbaColor(Red).RgbaColor(Blue).U32(1).U32(2).U32(3).U32(4).U16(5).U8(0x21);
    // Gradient glow of two colours.
    filters.U8(4).U8(2).RgbaColor(Red).RgbaColor(Blue).U8(0).U8(255).U32(1).U32(2).U32(3).U32(4).U16(5).U8(6);
    // Convolution of 3 x 2.
    filters.U8(5).U8(3).U8(2).U32(0x3F800000).U32(0);
    for (int i = 0; i < 6; ++i)
        filters.U32(0x3F800000);
    filters.RgbaColor(Red).U8(0x02);
    // Colour matrix, then a gradient bevel of one colour.
    filters.U8(6);
    for (int i = 0; i < 20; ++i)
        filters.U32(0x3F800000);
    filters.U8(7).U8(1).RgbaColor(Blue).U8(128).U32(1).U32(2).U32(3).U32(4).U16(5).U8(6);
    PlaceObject place = Place(2, 3, 3);
    place.blendMode = 12;
    const auto movie = ReadClean(OneFrame(PlaceObjectTag(place, filters.Data())));
    ASSERT_TRUE(movie);
    place.filters = ReadFilters(filters.Data());
    ASSERT_EQ(place.filters.size(), 8u);
    for (int kind = 0; kind < 8; ++kind)
        EXPECT_EQ(place.filters[std::size_t(kind)].kind, Filter::Kind(kind));
    EXPECT_EQ(movie->timeline.frames[0].tags, std::vector<ControlTag>{place});

    // A filter kind that does not exist leaves the list's length unknown: the tag is skipped.
    const ReadResult unknown = ReadMovie(OneFrame(PlaceObjectTag(place, Bits().U8(1).U8(9).U32(0).Data())));
    ASSERT_TRUE(unknown.movie);
    EXPECT_TRUE(unknown.movie->timeline.frames[0].tags.empty());
    EXPECT_TRUE(Contains(unknown.warnings, "skipped a damaged PlaceObject3"));
}

TEST(SwfTimeline, RemovalsLabelsAndBackground) {
    const auto movie = ReadClean(MovieBuilder()
                                     .Add(SetBackgroundColorTag(Blue))
                                     .Add(FrameLabelTag("intro"))
                                     .Add(ShowFrame())
                                     .Add(RemoveObjectTag(3, 7))
                                     .Add(SetBackgroundColorTag(Red))
                                     .Add(ShowFrame())
                                     .Add(FrameLabelTag("loop", true))
                                     .Add(RemoveObject2Tag(4))
                                     .Add(ShowFrame())
                                     .Add(FrameLabelTag("intro"))
                                     .Add(ShowFrame())
                                     .Build());
    ASSERT_TRUE(movie);
    const std::vector<Frame>& frames = movie->timeline.frames;
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].tags, (std::vector<ControlTag>{SetBackgroundColor{Blue}, FrameLabel{"intro"}}));
    EXPECT_EQ(frames[1].tags, (std::vector<ControlTag>{RemoveObject{3}, SetBackgroundColor{Red}}));
    EXPECT_EQ(frames[2].tags, (std::vector<ControlTag>{FrameLabel{"loop"}, RemoveObject{4}}));
    // Only the first frame sets the stage colour; the first of two equal labels counts.
    EXPECT_EQ(movie->backgroundColor, Blue);
    EXPECT_EQ(movie->frameLabels, (std::map<QString, int>{{"intro", 0}, {"loop", 2}}));
}

TEST(SwfTimeline, SpritesHaveTheirOwnTimeline) {
    SoundStreamHead head;
    head.streamFormat = {3, 1, true, false};
    head.samplesPerBlock = 441;
    const QByteArray inner = PlaceObjectTag(Place(1, 1)) + SoundStreamHeadTag(head) + ShowFrame() +
                             FrameLabelTag("inner") + RemoveObject2Tag(1) + ShowFrame();
    const auto movie = ReadClean(OneFrame(DefineSprite(5, 2, inner) + PlaceObjectTag(Place(5, 1))));
    ASSERT_TRUE(movie);
    const Sprite* sprite = Find<Sprite>(*movie, 5);
    ASSERT_TRUE(sprite);
    EXPECT_EQ(sprite->timeline.frameCount, 2);
    ASSERT_EQ(sprite->timeline.frames.size(), 2u);
    EXPECT_EQ(sprite->timeline.frames[0].tags, (std::vector<ControlTag>{Place(1, 1), head}));
    EXPECT_EQ(sprite->timeline.frames[1].tags,
              (std::vector<ControlTag>{FrameLabel{"inner"}, RemoveObject{1}}));
    EXPECT_EQ(sprite->timeline.streamHead, head);
    EXPECT_FALSE(movie->timeline.streamHead);
    EXPECT_TRUE(movie->frameLabels.empty());
}

TEST(SwfTimeline, SpriteNestingIsCapped) {
    // Sprite 1 holds sprite 2, which holds sprite 3, and so on.
    const auto nested = [](int levels) {
        QByteArray tags = ShowFrame();
        for (int id = levels; id >= 1; --id)
            tags = DefineSprite(std::uint16_t(id), 1, tags) + ShowFrame();
        return OneFrame(tags);
    };
    ReadLimits limits;
    limits.maxSpriteNesting = 3;
    const ReadResult shallow = ReadMovie(nested(5), limits);
    ASSERT_TRUE(shallow.movie);
    EXPECT_TRUE(Find<Sprite>(*shallow.movie, 3));
    EXPECT_FALSE(shallow.movie->dictionary.count(4));
    EXPECT_FALSE(shallow.movie->dictionary.count(5));
    EXPECT_TRUE(Contains(shallow.warnings, "nest deeper than 3"));

    const ReadResult deep = ReadMovie(nested(200));
    ASSERT_TRUE(deep.movie);
    EXPECT_EQ(deep.movie->dictionary.size(), std::size_t(ReadLimits().maxSpriteNesting));
}

// --- Limits ---

TEST(SwfLimits, ModelLimitsRefuseOversizedMovies) {
    ShapeRecords many = ShapeRecords().Fill0(1).MoveTo(0, 0);
    for (int i = 0; i < 3000; ++i)
        many.LineTo(i % 2 ? 0 : 100, i);
    const QByteArray file = OneFrame(DefineShape(ShapeDefinition().Fills({Solid(Red)}).Records(many)));
    ASSERT_TRUE(ReadMovie(file).movie);

    ReadLimits total;
    total.maxModelBytes = 64 * 1024;
    ReadLimits list;
    list.maxListBytes = 64 * 1024;
    ReadLimits size;
    size.maxMovieBytes = 1024;
    for (const auto& [limits, error] :
         {std::pair{total, "shapes and timelines"}, std::pair{list, "one of its lists"},
          std::pair{size, "larger than the limit of 1024 bytes"}}) {
        const ReadResult result = ReadMovie(file, limits);
        EXPECT_FALSE(result.movie);
        EXPECT_TRUE(result.error.contains(error)) << result.error.toStdString();
    }
}

// --- Files ---

TEST(SwfFile, ReadsFilesAndHeadersAlone) {
    TestDir dir;
    const QString name = dir.path("movie.swf");
    WriteWholeFile(name, MovieBuilder().FrameCount(7).Add(ShowFrame()).Build(Movie::Compression::Lzma));
    const ReadResult movie = ReadMovieFile(name);
    ASSERT_TRUE(movie.movie) << movie.error.toStdString();
    EXPECT_EQ(movie.movie->timeline.frames.size(), 1u);
    const ReadResult header = ReadHeaderOnlyFile(name);
    ASSERT_TRUE(header.movie) << header.error.toStdString();
    EXPECT_EQ(header.movie->timeline.frameCount, 7);
    EXPECT_EQ(header.movie->compression, Movie::Compression::Lzma);

    const ReadResult missing = ReadMovieFile(dir.path("absent.swf"));
    EXPECT_FALSE(missing.movie);
    EXPECT_TRUE(missing.error.startsWith("cannot open")) << missing.error.toStdString();
    ReadLimits small;
    small.maxMovieBytes = 16;
    EXPECT_TRUE(ReadMovieFile(name, small).error.contains("larger than the limit"));
}

// --- The sample movies of this machine ---

TEST(SwfSamples, EverySampleReadsWithItsStageAndFrames) {
    const QString root = QStringLiteral(VANTREL_SWF_SAMPLES_DIR);
    QFile index(root + "/INDEX.tsv");
    if (!index.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "no sample movies at " << root.toStdString();
    const QList<QByteArray> rows = index.readAll().split('\n');
    int checked = 0;
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const QList<QByteArray> fields = rows[i].split('\t');
        if (fields.size() < 4)
            continue;
        const QString sample = QString::fromUtf8(fields[0]);
        const int frame = fields[1].toInt();
        const int width = fields[2].toInt(), height = fields[3].toInt();
        SCOPED_TRACE(sample.toStdString());
        const ReadResult result = ReadMovieFile(root + "/" + sample + "/movie.swf");
        ASSERT_TRUE(result.movie) << result.error.toStdString();
        EXPECT_TRUE(result.warnings.isEmpty()) << result.warnings.join('\n').toStdString();
        const Movie& movie = *result.movie;
        EXPECT_EQ(movie.frameSize.Width(), width * 20);
        EXPECT_EQ(movie.frameSize.Height(), height * 20);
        EXPECT_EQ(QImageReader(root + "/" + sample + "/expected.png").size(), QSize(width, height));
        EXPECT_GT(movie.timeline.frameCount, frame);
        EXPECT_EQ(movie.timeline.frames.size(), movie.timeline.frameCount);
        // Every placed character of the main timeline is in the dictionary.
        for (const Frame& f : movie.timeline.frames)
            for (const ControlTag& tag : f.tags)
                if (const auto* place = std::get_if<PlaceObject>(&tag); place && place->characterId) {
                    EXPECT_TRUE(movie.dictionary.count(*place->characterId)) << *place->characterId;
                }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

} // namespace

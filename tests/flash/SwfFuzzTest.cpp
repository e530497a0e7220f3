// Thousands of damaged movies (cut, flipped, with lying tag lengths and huge counts, compressed or
// not) and decompression bombs: the reader must give a movie or a clear error every time, keep the
// model consistent, and stay inside its memory limits. Run under the sanitizer build too, where any
// allocation over 1 GiB aborts.
#include "FuzzMovies.h"
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
    const std::vector<QByteArray> seeds = {EverythingMovie(), OldMovie(), DeepNestedMovie(), CycleMovie()};
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

// Damaged ActionScript 3 code (pools, classes, method bodies and their instructions) is skipped
// whole or runs bounded: the movie plays, seeks and traces without a crash or hang.
TEST(SwfFuzz, DamagedAs3MoviesPlayBounded) {
    QuietWarnings quiet;
    const QByteArray seed = As3Movie();
    {
        const ReadResult result = ReadMovie(seed);
        ASSERT_TRUE(result.movie) << result.error.toStdString();
        ASSERT_TRUE(result.warnings.isEmpty()) << result.warnings.join('\n').toStdString();
        QStringList traces;
        Player player(result.movie, nullptr, [&](const QString& line) { traces << line; });
        for (int tick = 0; tick < 5; ++tick)
            player.Tick();
        EXPECT_EQ(player.CurrentFrame(), 3);
        EXPECT_FALSE(player.Playing());
        EXPECT_EQ(traces, QStringList({"i 0 1", "i 1 1", "i 2 1", "i 3 1", "i 4 1", "8!"}));
    }
    Mutator mutator(1313);
    int played = 0;
    for (int round = 0; round < 800; ++round) {
        SCOPED_TRACE(round);
        const ReadResult result = ReadMovie(mutator.Mutate(seed));
        if (!result.movie)
            continue;
        ++played;
        Player player(result.movie, nullptr, [](const QString&) {});
        for (int tick = 0; tick < 6; ++tick)
            player.Tick();
        player.GotoFrame(mutator.Pick(0, 3));
        player.Tick();
        ASSERT_LT(player.CurrentFrame(), std::max(player.TotalFrames(), 1));
    }
    EXPECT_GT(played, 150);
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

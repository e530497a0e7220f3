#include "BusyMovie.h"

#include "SwfWriter.h"

#include <array>
#include <cmath>

using namespace flash;
using namespace flash::writer;

namespace {
constexpr int Shapes = 150;

constexpr std::uint16_t FontId = 1000;
constexpr std::uint16_t TextId = 1001;
constexpr int TextLines = 10;

// Every fourth shape has a filter and every fourth a blend mode; the others are plain.
void AddEffects(PlaceObject& place, int id) {
    place.version = 3;
    if (id % 4 == 1) {
        Filter filter;
        filter.kind = std::array{Filter::Kind::DropShadow, Filter::Kind::Blur, Filter::Kind::Glow,
                                 Filter::Kind::Bevel}[(id / 4) % 4];
        filter.blurX = filter.blurY = 5;
        filter.distance = 4;
        filter.angle = M_PI / 4;
        filter.passes = 1;
        filter.colors = {{0, 0, 0, 160}, {255, 255, 255, 160}};
        if (filter.kind != Filter::Kind::Bevel)
            filter.colors.resize(1);
        place.filters = {filter};
    } else if (id % 4 == 3) {
        place.blendMode =
            std::array<std::uint8_t, 4>{3, 4, 8, 14}[(id / 4) % 4]; // multiply, screen, add, hardlight
    }
}

// 44.1 kHz 16-bit mono, one frame's worth of samples a block.
SoundStreamHead StreamHead() {
    SoundStreamHead head;
    head.playbackFormat.codec = 3;
    head.playbackFormat.rateCode = 3;
    head.playbackFormat.is16Bit = true;
    head.streamFormat = head.playbackFormat;
    head.samplesPerBlock = 44100 / FrameRate;
    return head;
}

// A tone that rises and falls over the movie, so that a block is never the same as the last.
QByteArray StreamBlock(int frame) {
    QByteArray samples;
    const int count = 44100 / FrameRate;
    for (int i = 0; i < count; ++i) {
        const double t = double(frame * count + i) / 44100;
        const auto value =
            std::int16_t(std::lround(8000 * std::sin(2 * M_PI * (440 + 220 * std::sin(t)) * t)));
        samples.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
    }
    return samples;
}

// A font of two glyphs (a box and a triangle) and one line of 24 of them.
void AddText(MovieBuilder& movie) {
    FontDefinition font;
    font.version = 3;
    font.id = FontId;
    font.name = "Bench";
    font.ascent = 900;
    font.descent = 200;
    constexpr int Em = 1024 * 20;
    font.glyphs = {
        {ShapeRecords().Fill0(1).Box(0, -Em, Em * 3 / 4, 0).Box(Em / 4, -Em * 3 / 4, Em / 2, -Em / 4), 'O',
         1024},
        {ShapeRecords().Fill0(1).MoveTo(0, 0).LineTo(Em / 2, -Em).CurveTo(Em, -Em, Em, 0).LineTo(0, 0), 'A',
         1024}};
    movie.Add(DefineFontTag(font));
    StaticText text;
    text.bounds = {0, 9000, -600, 100};
    TextRecord record;
    record.fontId = FontId;
    record.color = {20, 20, 120, 255};
    record.height = 480;
    for (int i = 0; i < 24; ++i)
        record.glyphs.push_back({std::uint32_t(i % 2), 360});
    text.records = {record};
    movie.Add(DefineTextTag(TextId, text, 2));
}

} // namespace

QByteArray BusyMovie(bool effects, int frames, bool streamSound) {
    MovieBuilder movie;
    movie.Stage({0, 11000, 0, 8000}).FrameRate(FrameRate);
    if (streamSound)
        movie.Add(SoundStreamHeadTag(StreamHead()));
    for (int id = 1; id <= Shapes; ++id) {
        const Rgba color{std::uint8_t(id * 37), std::uint8_t(id * 91), std::uint8_t(id * 53), 200};
        FillStyle fill =
            id % 3 == 0   ? GradientFill(FillStyle::Type::RadialGradient, Matrix{0.05, 0, 0, 0.05, 0, 0},
                                         {{0, color}, {255, {255, 255, 255, 255}}})
            : id % 3 == 1 ? GradientFill(FillStyle::Type::LinearGradient, Matrix{0.04, 0, 0, 0.04, 0, 0},
                                         {{0, color}, {128, {0, 0, 0, 255}}, {255, color}})
                          : Solid(color);
        ShapeRecords records;
        records.Fill0(1).Line(1).MoveTo(-600, 0);
        for (int step = 1; step <= 12; ++step) {
            const double angle = step * M_PI / 6;
            const double radius = step % 2 ? 900 : 500;
            records.CurveTo(std::int32_t(radius * std::cos(angle - M_PI / 12)),
                            std::int32_t(radius * std::sin(angle - M_PI / 12)),
                            std::int32_t(600 * std::cos(angle)), std::int32_t(600 * std::sin(angle)));
        }
        movie.Add(DefineShape(ShapeDefinition()
                                  .Version(3)
                                  .Id(std::uint16_t(id))
                                  .Bounds({-1000, 1000, -1000, 1000})
                                  .Fills({fill})
                                  .Lines({Line(40, {0, 0, 0, 255})})
                                  .Records(records)));
    }
    if (effects)
        AddText(movie);
    for (int frame = 0; frame < frames; ++frame) {
        if (streamSound)
            movie.Add(SoundStreamBlockTag(StreamBlock(frame)));
        for (int id = 1; id <= Shapes; ++id) {
            PlaceObject place = Place(std::uint16_t(id), std::uint16_t(id));
            if (frame > 0) {
                place.move = true;
                place.characterId.reset();
            }
            const double turn = (frame + id) * 0.1;
            const double scale = 0.5 + 0.3 * std::sin(frame * 0.2 + id);
            place.matrix = Matrix{scale * std::cos(turn),
                                  scale * std::sin(turn),
                                  -scale * std::sin(turn),
                                  scale * std::cos(turn),
                                  double((id * 613 + frame * 40) % 11000),
                                  double((id * 347 + frame * 25) % 8000)};
            if (effects)
                AddEffects(place, id);
            movie.Add(PlaceObjectTag(place));
        }
        if (effects) {
            for (int line = 0; line < TextLines; ++line) {
                PlaceObject place = Place(TextId, std::uint16_t(Shapes + 1 + line));
                if (frame > 0) {
                    place.move = true;
                    place.characterId.reset();
                }
                place.matrix =
                    Matrix{1, 0, 0, 1, double((frame * 30 + line * 500) % 3000), double(700 + line * 750)};
                movie.Add(PlaceObjectTag(place));
            }
        }
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

// Renders busy movies at 550×400 and reports the median time per frame:
// - 150 shapes of curves with solid, gradient and line styles, all moving and turning every frame;
// - the same with effects: every shape has a filter (drop shadow, blur, glow or bevel) or a blend
//   mode, and ten lines of static text in an embedded font move over them.
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/render/Effects.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>

using namespace flash;
using namespace flash::writer;

namespace {
constexpr int Shapes = 150;
constexpr int Frames = 60;

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

QByteArray BusyMovie(bool effects) {
    MovieBuilder movie;
    movie.Stage({0, 11000, 0, 8000}).FrameRate(30);
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
    for (int frame = 0; frame < Frames; ++frame) {
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

void RenderMovie(benchmark::State& State, bool effects) {
    const ReadResult read = ReadMovie(BusyMovie(effects));
    if (!read.movie) {
        State.SkipWithError("the movie did not read");
        return;
    }
    Player player(read.movie);
    Renderer renderer;
    QImage image(550, 400, QImage::Format_ARGB32_Premultiplied);
    std::vector<double> times;
    for (auto _ : State) {
        times.clear();
        for (int frame = 0; frame < Frames; ++frame) {
            const auto start = std::chrono::steady_clock::now();
            {
                QPainter painter(&image);
                renderer.RenderStage(painter, *read.movie, player.Stage(), image.size(),
                                     player.BackgroundColor());
            }
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            player.Tick();
        }
    }
    std::sort(times.begin(), times.end());
    State.counters["median_ms_per_frame"] = times[times.size() / 2];
    State.counters["max_ms_per_frame"] = times.back();
}

void BM_RenderBusyVectorMovie(benchmark::State& State) {
    RenderMovie(State, false);
}
BENCHMARK(BM_RenderBusyVectorMovie)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_RenderBusyMovieWithEffectsAndText(benchmark::State& State) {
    RenderMovie(State, true);
}
BENCHMARK(BM_RenderBusyMovieWithEffectsAndText)->Iterations(3)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

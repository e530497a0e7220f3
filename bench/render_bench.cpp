// Renders a busy vector movie at 550×400: 150 shapes of curves with solid, gradient and line styles,
// all moving and turning every frame. Reports the median time per frame.
#include "SwfWriter.h"
#include "flash/Player.h"
#include "flash/Renderer.h"
#include "flash/SwfReader.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>

using namespace flash;
using namespace flash::writer;

namespace {
constexpr int Shapes = 150;
constexpr int Frames = 60;

QByteArray BusyMovie() {
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
            movie.Add(PlaceObjectTag(place));
        }
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

void BM_RenderBusyVectorMovie(benchmark::State& State) {
    const ReadResult read = ReadMovie(BusyMovie());
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
BENCHMARK(BM_RenderBusyVectorMovie)->Iterations(3)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

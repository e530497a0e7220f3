// Renders the busy movie (BusyMovie.h) at 550×400, plain and with effects, and reports the median time
// per frame.
#include "BusyMovie.h"
#include "flash/player/Player.h"
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

namespace {
constexpr int Frames = 60;

void RenderMovie(benchmark::State& State, bool effects) {
    const ReadResult read = ReadMovie(BusyMovie(effects, Frames));
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

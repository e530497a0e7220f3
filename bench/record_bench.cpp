// Records 60 s of a tone from a private PulseAudio server with the stock recorder's defaults and
// reports how the recorded length compares with wall time, and the CPU time the recording costs.
#include "audio/WaveRecorders.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <ctime>

namespace {
constexpr int RecordSeconds = 60;

// Runs the event loop (blocking, as the program's own loop does) for a while.
void RunEventLoopFor(qint64 Milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(std::max<qint64>(Milliseconds, 0)), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until Done holds, looking every 10 ms.
template <typename Condition> void RunEventLoopUntil(Condition Done) {
    while (!Done())
        RunEventLoopFor(10);
}

bool Run(const QString& Program, const QStringList& Arguments) {
    QProcess process;
    process.start(Program, Arguments);
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

void BM_RecordSixtySecondsFromTheSoundServer(benchmark::State& State) {
    QTemporaryDir dir;
    const QString script = QStringLiteral(VANTREL_SOURCE_DIR "/scripts/pulse-test-server");
    const QString serverDir = dir.filePath("pulse");
    if (!Run(script, {"start", serverDir})) {
        State.SkipWithError("the private sound server did not start");
        return;
    }
    qputenv("PULSE_SERVER", ("unix:" + serverDir + "/native").toUtf8());
    Run("sox", {"-n", "-r", "44100", "-c", "2", dir.filePath("tone.wav"), "synth",
                QString::number(RecordSeconds + 10), "sine", "1000", "vol", "0.5"});
    QProcess player;
    player.start("paplay", {"--latency-msec=40", dir.filePath("tone.wav")});
    RunEventLoopFor(2500); // the sink's monitor starts delivering a moment after playback begins

    for (auto _ : State) {
        TStockAudioRecorder recorder;
        QElapsedTimer wall;
        qint64 activatedAt = -1;
        recorder.OnActivate = [&](TWaveAudioIO*) { activatedAt = wall.elapsed(); };
        wall.start();
        const std::clock_t cpuStart = std::clock();
        recorder.RecordToWaveFile(dir.filePath("recorded.wav"));
        RunEventLoopUntil([&] { return activatedAt >= 0; });
        RunEventLoopFor(activatedAt + RecordSeconds * 1000 - wall.elapsed());
        const qint64 stoppedAt = wall.elapsed();
        recorder.SetActive(false);
        RunEventLoopUntil([&] { return !recorder.GetActive(); });
        const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;

        const double recordedMs = (QFileInfo(dir.filePath("recorded.wav")).size() - 46) / 16.0;
        const double wallMs = double(stoppedAt - activatedAt);
        State.SetIterationTime(wallMs / 1000);
        State.counters["recorded_ms"] = recordedMs;
        State.counters["wall_ms"] = wallMs;
        State.counters["difference_ms"] = recordedMs - wallMs;
        State.counters["cpu_ms_per_audio_s"] = cpuSeconds * 1000 / (recordedMs / 1000);
    }
    player.kill();
    player.waitForFinished();
    Run(script, {"stop", serverDir});
}
BENCHMARK(BM_RecordSixtySecondsFromTheSoundServer)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Records 60 s of a 600 x 430 player area at 10 frames per second on a private X server and
// reports the frames written and dropped and the recording thread's CPU time per frame.
#include "video/scrcam.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>

namespace {
constexpr int RecordSeconds = 60;

void RunEventLoopFor(qint64 Milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(std::max<qint64>(Milliseconds, 0)), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000 + double(now.tv_nsec) / 1e6;
}

// A busy player stand-in: bars sweeping across at 30 frames per second.
class TMovingBars : public QWidget {
public:
    explicit TMovingBars(QWidget* Parent) : QWidget(Parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        connect(&FTimer, &QTimer::timeout, this, [this] {
            ++FStep;
            update();
        });
        FTimer.start(33);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        for (int i = 0; i < 12; ++i)
            painter.fillRect((FStep * 7 + i * 53) % width(), 0, 20, height(),
                             QColor::fromHsv(i * 30, 255, 230));
    }

private:
    QTimer FTimer;
    int FStep = 0;
};

class TBenchForm : public QWidget, public TCameraHost {
public:
    TBenchForm() {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        resize(660, 490);
        FPanel = new QWidget(this);
        FPanel->setGeometry(21, 21, 603, 433);
        FFlash = new TMovingBars(FPanel);
        FFlash->setGeometry(2, 2, 600, 430);
    }
    QWidget* CameraForm() const override { return const_cast<TBenchForm*>(this); }
    QWidget* CameraFlashPanel() const override { return FPanel; }
    QWidget* CameraFlash() const override { return FFlash; }

    QWidget* FPanel;
    QWidget* FFlash;
};

void BM_RecordSixtySecondsOfTheScreen(benchmark::State& State) {
    TBenchForm form;
    form.move(40, 40);
    form.show();
    RunEventLoopFor(1000);
    QTemporaryDir dir;
    for (auto _ : State) {
        TScreenCam camera(&form);
        camera.FShowMarks = 1;
        camera.FTrackRegion = 1;
        double cpuStart = 0, cpuEnd = 0;
        camera.OnRecordStart = [&](TScreenCam*) { cpuStart = ThreadCpuMs(); };
        camera.OnRecordStop = [&](TScreenCam*) { cpuEnd = ThreadCpuMs(); };
        QElapsedTimer wall;
        wall.start();
        camera.Start(form.FFlash, dir.filePath("bench.avi"));
        RunEventLoopFor(RecordSeconds * 1000);
        camera.Stop();
        camera.WaitForThreads();
        State.SetIterationTime(double(wall.elapsed()) / 1000);
        const double written = camera.FFramesWritten.load();
        State.counters["frames_written"] = written;
        State.counters["frames_dropped"] = camera.FDroppedFrames.load();
        State.counters["cpu_ms_per_frame"] = written > 0 ? (cpuEnd - cpuStart) / written : 0;
    }
}
BENCHMARK(BM_RecordSixtySecondsOfTheScreen)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
} // namespace

int main(int argc, char** argv) {
    QTemporaryDir serverDir;
    const QString script = QStringLiteral(VANTREL_SOURCE_DIR "/scripts/xvfb-test-server");
    QProcess server;
    server.start(script, {"start", serverDir.path()});
    if (!server.waitForFinished(30000) || server.exitCode() != 0) {
        fprintf(stderr, "capture_bench: the private X server did not start\n");
        return 1;
    }
    qputenv("DISPLAY", server.readAllStandardOutput().trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication application(argc, argv);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    QProcess::execute(script, {"stop", serverDir.path()});
    return result;
}

#include "app/FrameExactJob.h"

#include <QElapsedTimer>
#include <QMetaObject>

namespace {

// Progress reaches the window at most this often: it repaints its log panel for each.
constexpr qint64 ProgressIntervalMs = 100;

} // namespace

TFrameExactJob::TFrameExactJob(QObject* Context)
    : FContext(Context), FAlive(std::make_shared<TFrameExactJob*>(this)) {}

TFrameExactJob::~TFrameExactJob() {
    *FAlive = nullptr;
    FCancel = true;
    Join();
}

void TFrameExactJob::Join() {
    if (FThread.joinable())
        FThread.join();
}

void TFrameExactJob::Start(convert::ConversionOptions Options) {
    Join();
    FCancel = false;
    FRunning = true;
    std::weak_ptr<TFrameExactJob*> alive = FAlive;
    FThread = std::thread([this, alive, Options = std::move(Options)] {
        QElapsedTimer sinceReport;
        sinceReport.start();
        auto progress = [&](const convert::ConversionProgress& Progress) {
            if (sinceReport.elapsed() < ProgressIntervalMs)
                return;
            sinceReport.restart();
            QMetaObject::invokeMethod(FContext, [alive, Progress] {
                const auto job = alive.lock();
                if (job && *job && (*job)->OnProgress)
                    (*job)->OnProgress(Progress);
            });
        };
        const convert::ConversionResult result = convert::Convert(Options, progress, &FCancel);
        QMetaObject::invokeMethod(FContext, [alive, result] {
            const auto job = alive.lock();
            if (!job || !*job)
                return;
            (*job)->Join();
            (*job)->FRunning = false;
            if ((*job)->OnDone)
                (*job)->OnDone(result);
        });
    });
}

convert::Target TargetOfVideoOption(int VideoOption) {
    static constexpr convert::Target Targets[] = {
        convert::Target::NtscVcd, convert::Target::NtscDvd, convert::Target::PalVcd, convert::Target::PalDvd,
        convert::Target::Mp4,     convert::Target::Webm,    convert::Target::Gif};
    return Targets[VideoOption >= 0 && VideoOption < 7 ? VideoOption : 0];
}

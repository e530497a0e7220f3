#pragma once
// The window's frame-exact conversion: runs a conversion on a thread of its own while the window
// stays responsive, and reports its progress and its end on the window's thread.
//
// Cancelling removes the partial output (the conversion does that) and still reports the end. The
// job's end waits for the thread, so nothing runs on after the window is gone.

#include "convert/Conversion.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class TFrameExactJob {
public:
    // Reports go to Context's thread, and stop when Context goes.
    explicit TFrameExactJob(QObject* Context);
    ~TFrameExactJob();
    TFrameExactJob(const TFrameExactJob&) = delete;
    TFrameExactJob& operator=(const TFrameExactJob&) = delete;

    std::function<void(const convert::ConversionProgress&)> OnProgress;
    std::function<void(const convert::ConversionResult&)> OnDone;

    void Start(convert::ConversionOptions Options);
    void Cancel() { FCancel = true; }
    bool Running() const { return FRunning; }

private:
    void Join();

    QObject* FContext;
    std::thread FThread;
    std::atomic<bool> FCancel{false};
    bool FRunning = false;
    // Reports already posted check it, so none reaches a job that has gone.
    std::shared_ptr<TFrameExactJob*> FAlive;
};

// The window's target choice (0..3 the disc targets, 4 MP4, 5 WebM, 6 GIF) as a conversion target.
convert::Target TargetOfVideoOption(int VideoOption);

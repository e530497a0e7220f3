#include "convert/FramePipeline.h"

#include <QImage>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <new>

namespace convert {

FramePipeline::FramePipeline(EncoderProcess& encoder, QSize size, int painters)
    : encoder(encoder), size(size), painters(std::max(1, painters)) {}

FramePipeline::~FramePipeline() {
    for (const std::shared_ptr<Job>& job : queue)
        if (job)
            job->done.wait();
}

bool FramePipeline::Submit(std::shared_ptr<const flash::StageRecording> recording) {
    // Frames painting at once are consecutive submissions, so their numbers differ.
    while (painting >= painters)
        if (!SendOldest())
            return false;
    if (failed)
        return false;
    auto job = std::make_shared<Job>();
    try {
        job->bytes =
            QByteArray(qsizetype(size.width()) * size.height() * qsizetype(sizeof(QRgb)), Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        outOfMemory = failed = true;
        return false;
    }
    const int number = int(submitted++ % painters) + 1;
    auto promise = std::make_shared<std::promise<void>>();
    job->done = promise->get_future();
    // The job's bytes are only touched by the painter until `done` is set.
    uchar* const bits = reinterpret_cast<uchar*>(job->bytes.data());
    const QSize frameSize = size;
    auto paint = [recording = std::move(recording), promise, bits, frameSize, number] {
        QImage image(bits, frameSize.width(), frameSize.height(), frameSize.width() * qsizetype(sizeof(QRgb)),
                     QImage::Format_ARGB32_Premultiplied);
        flash::Renderer::Paint(*recording, image, number);
        promise->set_value();
    };
    // A caller on a thread of the pool itself could wait for its own turn there: it paints here.
    QThreadPool* const pool = QThreadPool::globalInstance();
    if (pool->contains(QThread::currentThread()))
        paint();
    else
        pool->start(std::move(paint));
    queue.push_back(std::move(job));
    ++painting;
    return true;
}

bool FramePipeline::Repeat() {
    if (failed)
        return false;
    queue.push_back(nullptr);
    return true;
}

bool FramePipeline::SendOldest() {
    std::shared_ptr<Job> job = std::move(queue.front());
    queue.pop_front();
    if (job) {
        job->done.wait();
        --painting;
        last = std::move(job->bytes);
    }
    if (!failed && !last.isNull() && !encoder.SendFrame(last))
        failed = true;
    return !failed;
}

bool FramePipeline::Flush() {
    while (!queue.empty())
        SendOldest();
    return !failed;
}

} // namespace convert

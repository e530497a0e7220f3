#include "convert/FramePipeline.h"

#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <new>
#include <utility>

namespace convert {

FramePipeline::FramePipeline(EncoderProcess& encoder, QSize size, FrameFormat format, int painters)
    : encoder(encoder), size(size), format(format), painters(std::max(1, painters)) {
    for (int i = 0; i < this->painters; ++i)
        painterState.push_back(std::make_shared<Painter>());
}

FramePipeline::~FramePipeline() {
    for (const std::shared_ptr<Job>& job : queue)
        if (job)
            job->done.wait();
}

QByteArray FramePipeline::FrameBuffer() {
    const qsizetype bytes = FrameBytes(format, size);
    try {
        QByteArray buffer;
        if (!parked.isNull() && !parked.isSharedWith(last))
            buffer = std::exchange(parked, QByteArray());
        while (buffer.isNull()) {
            QByteArray written = encoder.TakeWrittenFrame();
            if (written.isNull())
                break;
            // The frame on show may be sent again: its buffer waits until another one is sent.
            if (written.isSharedWith(last))
                parked = std::move(written);
            else if (written.size() == bytes)
                buffer = std::move(written);
        }
        if (buffer.isNull())
            buffer = QByteArray(bytes, Qt::Uninitialized);
        buffer.data(); // a buffer the encoder still holds (a repeated frame) becomes a copy of its own
        return buffer;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool FramePipeline::Submit(std::shared_ptr<const flash::StageRecording> recording) {
    // Frames painting at once are consecutive submissions, so their painters differ.
    while (painting >= painters)
        if (!SendOldest())
            return false;
    if (failed)
        return false;
    const int index = int(submitted % painters);
    const std::shared_ptr<Painter> painter = painterState[std::size_t(index)];
    if (format != FrameFormat::Bgra && painter->canvas.isNull()) {
        painter->canvas = QImage(size, QImage::Format_ARGB32_Premultiplied);
        painter->converter = std::make_unique<FrameConverter>(format, size);
    }
    auto job = std::make_shared<Job>();
    job->bytes = FrameBuffer();
    if (job->bytes.isNull() || (format != FrameFormat::Bgra && painter->canvas.isNull())) {
        outOfMemory = failed = true;
        return false;
    }
    ++submitted;
    auto promise = std::make_shared<std::promise<bool>>();
    job->done = promise->get_future();
    // The job's bytes and its painter's state are only touched by the painter until `done` is set.
    char* const bits = job->bytes.data();
    const QSize frameSize = size;
    const bool direct = format == FrameFormat::Bgra;
    auto paint = [recording = std::move(recording), promise, painter, bits, frameSize, direct, index] {
        if (direct) {
            QImage image(reinterpret_cast<uchar*>(bits), frameSize.width(), frameSize.height(),
                         frameSize.width() * qsizetype(sizeof(QRgb)), QImage::Format_ARGB32_Premultiplied);
            flash::Renderer::Paint(*recording, image, index + 1);
            promise->set_value(true);
            return;
        }
        flash::Renderer::Paint(*recording, painter->canvas, index + 1);
        promise->set_value(painter->converter->Convert(painter->canvas, bits));
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
        const bool converted = job->done.get();
        --painting;
        if (!converted)
            failed = true;
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

bool FramePipeline::SameAsLast(const flash::StageRecording& recording) {
    if (last.isNull())
        return false;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QByteArray bytes(FrameBytes(format, size), Qt::Uninitialized);
    if (image.isNull())
        return false;
    flash::Renderer::Paint(recording, image, 0);
    FrameConverter converter(format, size);
    return converter.Convert(image, bytes.data()) && bytes == last;
}

} // namespace convert

#pragma once
// Paints recorded frames on threads of Qt's global pool, several at once, while the caller plays and
// records the next ones, and hands them to the encoder in their order (a caller that is itself on a
// thread of that pool paints them on its own thread). A frame is painted straight into
// the bytes the encoder takes, so nothing is copied on the way.
//
// Fails by returning false once the encoder no longer takes frames (it ended, or the conversion was
// cancelled); frames still painting are then waited for and dropped. At most Painters() frames paint
// at once; a caller submitting more waits for the oldest, so memory stays bounded.

#include "convert/EncoderProcess.h"
#include "flash/render/Renderer.h"

#include <QByteArray>
#include <QSize>
#include <deque>
#include <future>
#include <memory>

namespace convert {

class FramePipeline {
public:
    // `painters` frames paint at once (at least one); the renderer records for that many.
    FramePipeline(EncoderProcess& encoder, QSize size, int painters);
    ~FramePipeline(); // waits for the frames still painting
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    int Painters() const { return painters; }
    // Queues a recorded frame of the pipeline's size for painting and sending.
    bool Submit(std::shared_ptr<const flash::StageRecording> recording);
    // Queues the frame submitted last once more.
    bool Repeat();
    // Sends every queued frame; afterwards nothing paints.
    bool Flush();
    // Whether Submit failed for want of memory for the frame.
    bool OutOfMemory() const { return outOfMemory; }
    // The bytes of the frame sent last (null before any); valid after Flush.
    const QByteArray& LastFrame() const { return last; }

private:
    struct Job {
        QByteArray bytes;
        std::future<void> done;
    };
    // Waits for the oldest queued frame and sends it.
    bool SendOldest();

    EncoderProcess& encoder;
    QSize size;
    int painters;
    long long submitted = 0;                // painted frames queued so far; picks each one's painter number
    std::deque<std::shared_ptr<Job>> queue; // in output order; null for a repeat of the frame before
    int painting = 0;                       // jobs in the queue
    QByteArray last;
    bool failed = false;
    bool outOfMemory = false;
};

} // namespace convert

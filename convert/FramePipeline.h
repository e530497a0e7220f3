#pragma once
// Paints recorded frames on threads of Qt's global pool, several at once, while the caller plays and
// records the next ones, converts them there to the encoder's pixel format, and hands them to the
// encoder in their order (a caller that is itself on a thread of that pool paints them on its own
// thread). Frame buffers come back from the encoder once written and are used again, and each
// painter keeps its canvas, so a conversion allocates its buffers once.
//
// Fails by returning false once the encoder no longer takes frames (it ended, or the conversion was
// cancelled) or a frame cannot be converted; frames still painting are then waited for and dropped.
// At most Painters() frames paint at once; a caller submitting more waits for the oldest, so memory
// stays bounded.

#include "convert/EncoderProcess.h"
#include "convert/FrameFormat.h"
#include "flash/render/Renderer.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <deque>
#include <future>
#include <memory>
#include <vector>

namespace convert {

class FramePipeline {
public:
    // `painters` frames paint at once (at least one); the renderer records for that many.
    FramePipeline(EncoderProcess& encoder, QSize size, FrameFormat format, int painters);
    ~FramePipeline(); // waits for the frames still painting
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    int Painters() const { return painters; }
    // Queues a recorded frame of the pipeline's size for painting and sending.
    bool Submit(std::shared_ptr<const flash::StageRecording> recording);
    // Queues the frame submitted last once more: nothing is painted or converted again.
    bool Repeat();
    // Sends every queued frame; afterwards nothing paints.
    bool Flush();
    // Whether Submit failed for want of memory for the frame.
    bool OutOfMemory() const { return outOfMemory; }
    // Whether a frame was sent and `recording`, painted and converted on this thread, gives the same
    // bytes. Only after Flush.
    bool SameAsLast(const flash::StageRecording& recording);

private:
    // What one painter keeps from frame to frame.
    struct Painter {
        QImage canvas; // for formats other than bgra, which is painted straight into the frame
        std::unique_ptr<FrameConverter> converter;
    };
    struct Job {
        QByteArray bytes;
        std::future<bool> done;
    };
    // A written frame's buffer back from the encoder, or a new one; null when memory ran out.
    QByteArray FrameBuffer();
    // Waits for the oldest queued frame and sends it.
    bool SendOldest();

    EncoderProcess& encoder;
    QSize size;
    FrameFormat format;
    int painters;
    std::vector<std::shared_ptr<Painter>> painterState;
    long long submitted = 0;                // painted frames queued so far; picks each one's painter
    std::deque<std::shared_ptr<Job>> queue; // in output order; null for a repeat of the frame before
    int painting = 0;                       // jobs in the queue
    QByteArray last;
    QByteArray parked; // a written buffer still holding the frame sent last
    bool failed = false;
    bool outOfMemory = false;
};

} // namespace convert

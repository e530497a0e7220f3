#include "flash/media/SoundOutput.h"

#include "flash/media/SoundMixer.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>

namespace flash {
namespace {

// A server that does not answer within this time counts as absent.
constexpr pa_usec_t ServerTimeout = 1500 * PA_USEC_PER_MSEC;
// What the server keeps queued: short, so that the sound follows the movie closely.
constexpr pa_usec_t TargetLatency = 50 * PA_USEC_PER_MSEC;
constexpr std::size_t FrameBytes = 4;
constexpr int OfflinePiece = 1024;

void SignalLoop(pa_threaded_mainloop* loop) {
    pa_threaded_mainloop_signal(loop, 0);
}

} // namespace

// A connection with its own event thread and one playback stream. The loop's lock guards
// everything but the failure flag.
struct SoundOutput::Connection {
    explicit Connection(SoundMixer& mixer) : mixer(mixer) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ~Connection() {
        if (loop == nullptr)
            return;
        pa_threaded_mainloop_lock(loop);
        Disarm();
        if (stream != nullptr) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
        }
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        if (context != nullptr)
            pa_context_unref(context);
        pa_threaded_mainloop_free(loop);
    }

    // Connects and starts the stream within the server timeout.
    bool Open() {
        loop = pa_threaded_mainloop_new();
        if (loop == nullptr)
            return false;
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Vantrel");
        if (context == nullptr)
            return false;
        pa_context_set_state_callback(context, &Connection::ContextChanged, this);
        if (pa_threaded_mainloop_start(loop) < 0)
            return false;
        pa_threaded_mainloop_lock(loop);
        deadline =
            pa_context_rttime_new(context, pa_rtclock_now() + ServerTimeout, &Connection::TimedOut, this);
        const bool ready = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                           Wait([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; }) &&
                           OpenStream();
        Disarm();
        pa_threaded_mainloop_unlock(loop);
        return ready;
    }

    bool OpenStream() {
        pa_sample_spec sampleFormat{};
        sampleFormat.format = PA_SAMPLE_S16LE;
        sampleFormat.rate = MixRate;
        sampleFormat.channels = 2;
        stream = pa_stream_new(context, "Flash movie", &sampleFormat, nullptr);
        if (stream == nullptr)
            return false;
        pa_stream_set_state_callback(stream, &Connection::StreamChanged, this);
        pa_stream_set_write_callback(stream, &Connection::Write, this);
        pa_buffer_attr attributes;
        std::memset(&attributes, 0xFF, sizeof(attributes)); // server defaults for all but the length
        attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(TargetLatency, &sampleFormat));
        return pa_stream_connect_playback(stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr,
                                          nullptr) >= 0 &&
               Wait([this] {
                   const pa_stream_state_t state = pa_stream_get_state(stream);
                   return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
               }) &&
               pa_stream_get_state(stream) == PA_STREAM_READY;
    }

    // Waits, locked, until Done; false when the connection failed or the time ran out first.
    bool Wait(const std::function<bool()>& done) {
        for (;;) {
            if (done())
                return true;
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || timedOut)
                return false;
            pa_threaded_mainloop_wait(loop);
        }
    }

    void Disarm() {
        if (deadline != nullptr)
            pa_threaded_mainloop_get_api(loop)->time_free(deadline);
        deadline = nullptr;
    }

    static void ContextChanged(pa_context* context, void* user) {
        auto* self = static_cast<Connection*>(user);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            self->failed = true;
        SignalLoop(self->loop);
    }

    static void StreamChanged(pa_stream* stream, void* user) {
        auto* self = static_cast<Connection*>(user);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            self->failed = true;
        SignalLoop(self->loop);
    }

    static void TimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
        auto* self = static_cast<Connection*>(user);
        self->timedOut = true;
        SignalLoop(self->loop);
    }

    // The server wants Wanted bytes more: the next part of the mix, rendered into its own buffer.
    static void Write(pa_stream* stream, std::size_t wanted, void* user) {
        auto* self = static_cast<Connection*>(user);
        while (wanted >= FrameBytes) {
            void* buffer = nullptr;
            std::size_t size = wanted;
            if (pa_stream_begin_write(stream, &buffer, &size) < 0 || buffer == nullptr)
                return;
            size = std::min(size, wanted) / FrameBytes * FrameBytes;
            if (size == 0) {
                pa_stream_cancel_write(stream);
                return;
            }
            self->mixer.Render(static_cast<std::int16_t*>(buffer), int(size / FrameBytes));
            if (pa_stream_write(stream, buffer, size, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            wanted -= size;
        }
    }

    SoundMixer& mixer;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* deadline = nullptr;
    bool timedOut = false;
    std::atomic<bool> failed = false;
};

SoundOutput::SoundOutput(SoundMixer& mixer) : mixer(mixer) {}

SoundOutput::~SoundOutput() = default;

bool SoundOutput::Start() {
    if (Running())
        return true;
    connection.reset();
    auto opened = std::make_unique<Connection>(mixer);
    if (!opened->Open())
        return false;
    connection = std::move(opened);
    return true;
}

void SoundOutput::Stop() {
    connection.reset();
}

bool SoundOutput::Running() const {
    return connection != nullptr && !connection->failed;
}

QByteArray RenderOffline(SoundMixer& mixer, double seconds) {
    const double frames = std::round(seconds * MixRate);
    if (!(frames > 0) || frames > double(MixRate) * 86400) // nothing, or not a sane length
        return {};
    QByteArray bytes(qsizetype(frames) * qsizetype(FrameBytes), Qt::Uninitialized);
    auto* out = reinterpret_cast<std::int16_t*>(bytes.data());
    for (qsizetype done = 0, total = qsizetype(frames); done < total;) {
        const int piece = int(std::min<qsizetype>(OfflinePiece, total - done));
        mixer.Render(out + done * 2, piece);
        done += piece;
    }
    return bytes;
}

} // namespace flash

#include "flash/media/SoundOutput.h"

#include "flash/media/SoundMixer.h"

#include "platform/PlaybackSink.h"
#include "platform/PulseConnection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace flash {
namespace {

// What the server keeps queued: short, so that the sound follows the movie closely.
constexpr pa_usec_t TargetLatency = 50 * PA_USEC_PER_MSEC;
constexpr std::size_t FrameBytes = 4;
constexpr int OfflinePiece = 1024;

} // namespace

// A server connection with one playback stream. The connection's lock guards everything but the
// failure flag.
struct SoundOutput::Connection {
    explicit Connection(SoundMixer& mixer) : mixer(mixer) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ~Connection() {
        if (stream == nullptr)
            return;
        TPulseConnection::TLock lock(server);
        server.Release(stream);
    }

    // Connects and starts the stream within the server timeout.
    bool Open() {
        if (!server.Connect(PulseServerTimeout))
            return false;
        TPulseConnection::TLock lock(server);
        const bool ready = OpenStream();
        server.Disarm();
        return ready;
    }

    bool OpenStream() {
        pa_sample_spec sampleFormat{};
        sampleFormat.format = PA_SAMPLE_S16LE;
        sampleFormat.rate = MixRate;
        sampleFormat.channels = 2;
        stream = pa_stream_new(server.Context(), "Flash movie", &sampleFormat, nullptr);
        if (stream == nullptr)
            return false;
        pa_stream_set_state_callback(stream, &Connection::StreamChanged, this);
        pa_stream_set_write_callback(stream, &Connection::Write, this);
        pa_buffer_attr attributes;
        std::memset(&attributes, 0xFF, sizeof(attributes)); // server defaults for all but the length
        attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(TargetLatency, &sampleFormat));
        // The sink whose monitor the program records; the server's default one unless one is named.
        const QByteArray sink = PlaybackSink().toUtf8();
        return pa_stream_connect_playback(stream, sink.isEmpty() ? nullptr : sink.constData(), &attributes,
                                          PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) >= 0 &&
               server.WaitForStream(stream);
    }

    static void StreamChanged(pa_stream* stream, void* user) {
        auto* self = static_cast<Connection*>(user);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            self->failed = true;
        self->server.Signal();
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
    std::atomic<bool> failed = false;
    // After the flag its loss sets, so that it ends first.
    TPulseConnection server{"Vantrel", [this] { failed = true; }};
    pa_stream* stream = nullptr;
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

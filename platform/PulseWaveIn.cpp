#include "platform/PulseWaveIn.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

namespace {

// A server that does not answer within this time counts as absent.
constexpr pa_usec_t ServerTimeout = 1500 * PA_USEC_PER_MSEC;
constexpr pa_usec_t FragmentTime = 20 * PA_USEC_PER_MSEC;

void SignalLoop(pa_threaded_mainloop* Loop) {
    pa_threaded_mainloop_signal(Loop, 0);
}

// A connection to the server with its own event thread. Lock() must be held for everything but
// Connect and the destructor.
class TPulseConnection {
public:
    TPulseConnection() = default;
    TPulseConnection(const TPulseConnection&) = delete;
    TPulseConnection& operator=(const TPulseConnection&) = delete;

    ~TPulseConnection() {
        if (FLoop == nullptr)
            return;
        Lock();
        Disarm();
        if (FContext != nullptr)
            pa_context_disconnect(FContext);
        Unlock();
        pa_threaded_mainloop_stop(FLoop);
        if (FContext != nullptr)
            pa_context_unref(FContext);
        pa_threaded_mainloop_free(FLoop);
    }

    // Connects within the server timeout, which goes on running until Disarm; false with the
    // server's reason in Error otherwise.
    bool Connect(QString& Error) {
        FLoop = pa_threaded_mainloop_new();
        if (FLoop == nullptr) {
            Error = QStringLiteral("Cannot create a PulseAudio event loop");
            return false;
        }
        FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), "Vantrel");
        if (FContext == nullptr || pa_threaded_mainloop_start(FLoop) < 0) {
            Error = QStringLiteral("Cannot create a PulseAudio connection");
            return false;
        }
        pa_context_set_state_callback(
            FContext, [](pa_context*, void* Loop) { SignalLoop(static_cast<pa_threaded_mainloop*>(Loop)); },
            FLoop);
        Lock();
        FDeadline = pa_context_rttime_new(FContext, pa_rtclock_now() + ServerTimeout,
                                          &TPulseConnection::TimedOut, this);
        bool connected = pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                         Wait([this] { return pa_context_get_state(FContext) == PA_CONTEXT_READY; });
        if (!connected)
            Error = LastError();
        Unlock();
        return connected;
    }

    // Waits until Done; false when the connection failed or the timeout passed first.
    bool Wait(const std::function<bool()>& Done) {
        for (;;) {
            if (Done())
                return true;
            if (!Good() || FTimedOut)
                return false;
            pa_threaded_mainloop_wait(FLoop);
        }
    }

    bool Good() const { return PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)); }

    QString LastError() const {
        if (FTimedOut && Good())
            return QString::fromUtf8(pa_strerror(PA_ERR_TIMEOUT));
        return QString::fromUtf8(pa_strerror(pa_context_errno(FContext)));
    }

    void Disarm() {
        if (FDeadline != nullptr)
            pa_threaded_mainloop_get_api(FLoop)->time_free(FDeadline);
        FDeadline = nullptr;
    }

    void Lock() { pa_threaded_mainloop_lock(FLoop); }
    void Unlock() { pa_threaded_mainloop_unlock(FLoop); }
    pa_threaded_mainloop* Loop() const { return FLoop; }
    pa_context* Context() const { return FContext; }

private:
    static void TimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* Connection) {
        auto* self = static_cast<TPulseConnection*>(Connection);
        self->FTimedOut = true;
        SignalLoop(self->FLoop);
    }

    pa_threaded_mainloop* FLoop = nullptr;
    pa_context* FContext = nullptr;
    pa_time_event* FDeadline = nullptr;
    bool FTimedOut = false;
};

struct TSource {
    std::string Name;
    QString Description;
};

struct TSourceList {
    std::vector<TSource> Sources;
    std::string DefaultName;
    bool SourcesDone = false;
    bool ServerDone = false;
    pa_threaded_mainloop* Loop = nullptr;
};

// The server's sources and its default source, connection locked; false when it did not answer.
bool ListSources(TPulseConnection& Connection, TSourceList& List) {
    List.Loop = Connection.Loop();
    pa_operation* sources = pa_context_get_source_info_list(
        Connection.Context(),
        [](pa_context*, const pa_source_info* Info, int Last, void* Data) {
            auto* list = static_cast<TSourceList*>(Data);
            if (Last != 0)
                list->SourcesDone = true;
            else
                list->Sources.push_back(
                    {Info->name, QString::fromUtf8(Info->description ? Info->description : Info->name)});
            SignalLoop(list->Loop);
        },
        &List);
    pa_operation* server = pa_context_get_server_info(
        Connection.Context(),
        [](pa_context*, const pa_server_info* Info, void* Data) {
            auto* list = static_cast<TSourceList*>(Data);
            if (Info != nullptr && Info->default_source_name != nullptr)
                list->DefaultName = Info->default_source_name;
            list->ServerDone = true;
            SignalLoop(list->Loop);
        },
        &List);
    const bool done = sources != nullptr && server != nullptr &&
                      Connection.Wait([&List] { return List.SourcesDone && List.ServerDone; });
    // Cancelled so that the callbacks cannot run after List is gone.
    for (pa_operation* operation : {sources, server}) {
        if (operation != nullptr) {
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
        }
    }
    return done;
}

// The source DeviceID names: its server name, or empty when there is no such source.
std::string SourceName(const TSourceList& List, UINT DeviceID) {
    if (DeviceID == WAVE_MAPPER) {
        if (List.Sources.empty())
            return {};
        const bool known = std::any_of(List.Sources.begin(), List.Sources.end(),
                                       [&List](const TSource& s) { return s.Name == List.DefaultName; });
        return known ? List.DefaultName : List.Sources.front().Name;
    }
    return DeviceID < List.Sources.size() ? List.Sources[DeviceID].Name : std::string();
}

pa_sample_spec SampleFormatOf(const WAVEFORMATEX& Format) {
    pa_sample_spec sampleFormat{};
    sampleFormat.format = Format.wBitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    sampleFormat.rate = Format.nSamplesPerSec;
    sampleFormat.channels = static_cast<std::uint8_t>(Format.nChannels);
    return sampleFormat;
}

// A running record stream, read with peek and drop under the connection's lock.
class TPulseCapture : public TWaveInCapture {
public:
    TPulseCapture(std::unique_ptr<TPulseConnection> Connection, pa_stream* Stream, const WAVEFORMATEX& Format)
        : FConnection(std::move(Connection)), FStream(Stream), FFrameBytes(Format.nBlockAlign),
          FSilence(Format.wBitsPerSample == 8 ? 0x80 : 0) {}

    ~TPulseCapture() override {
        FConnection->Lock();
        pa_stream_set_state_callback(FStream, nullptr, nullptr);
        pa_stream_set_read_callback(FStream, nullptr, nullptr);
        pa_stream_disconnect(FStream);
        pa_stream_unref(FStream);
        FConnection->Unlock();
    }

    int Read(void* Buffer, int Count) override {
        const std::size_t wanted = static_cast<std::size_t>(Count) / FFrameBytes * FFrameBytes;
        auto* out = static_cast<char*>(Buffer);
        std::size_t copied = 0;
        FConnection->Lock();
        while (copied == 0 && wanted > 0) {
            if (FInterrupted) {
                FInterrupted = false;
                break;
            }
            if (!FConnection->Good() || !PA_STREAM_IS_GOOD(pa_stream_get_state(FStream))) {
                FConnection->Unlock();
                return -1;
            }
            while (copied < wanted && Peek()) {
                const std::size_t take = std::min(wanted - copied, FFragmentSize - FFragmentOffset);
                if (FFragment != nullptr)
                    std::memcpy(out + copied, static_cast<const char*>(FFragment) + FFragmentOffset, take);
                else
                    std::memset(out + copied, FSilence, take); // a hole in the capture
                copied += take;
                FFragmentOffset += take;
                if (FFragmentOffset == FFragmentSize)
                    Drop();
            }
            if (copied == 0)
                pa_threaded_mainloop_wait(FConnection->Loop());
        }
        FConnection->Unlock();
        return static_cast<int>(copied);
    }

    void Interrupt() override {
        FConnection->Lock();
        FInterrupted = true;
        SignalLoop(FConnection->Loop());
        FConnection->Unlock();
    }

    void Flush() override {
        FConnection->Lock();
        while (Peek())
            Drop();
        if (pa_operation* operation = pa_stream_flush(FStream, nullptr, nullptr))
            pa_operation_unref(operation);
        FConnection->Unlock();
    }

private:
    // Makes the next captured fragment current; false when there is none yet. Locked.
    bool Peek() {
        if (FPeeked)
            return true;
        const void* data = nullptr;
        std::size_t size = 0;
        if (pa_stream_peek(FStream, &data, &size) < 0 || size == 0)
            return false;
        FPeeked = true;
        FFragment = data;
        FFragmentSize = size;
        FFragmentOffset = 0;
        return true;
    }

    void Drop() {
        if (FPeeked)
            pa_stream_drop(FStream);
        FPeeked = false;
    }

    const std::unique_ptr<TPulseConnection> FConnection;
    pa_stream* const FStream;
    const std::size_t FFrameBytes;
    const int FSilence;
    bool FInterrupted = false;
    bool FPeeked = false;
    const void* FFragment = nullptr;
    std::size_t FFragmentSize = 0;
    std::size_t FFragmentOffset = 0;
};

MMRESULT StreamFailure(int Error) {
    switch (Error) {
    case PA_ERR_NOENTITY:
        return MMSYSERR_BADDEVICEID;
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID:
        return WAVERR_BADFORMAT;
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_TIMEOUT:
        return MMSYSERR_NODRIVER;
    default:
        return MMSYSERR_ERROR;
    }
}

} // namespace

MMRESULT TPulseWaveInBackend::Failure(MMRESULT Result, const QString& Reason) {
    std::lock_guard<std::mutex> lock(FLock);
    FError = Result == MMSYSERR_NOERROR ? QString() : Reason;
    return Result;
}

QString TPulseWaveInBackend::ErrorText() {
    std::lock_guard<std::mutex> lock(FLock);
    return FError;
}

std::vector<TWaveInDeviceInfo> TPulseWaveInBackend::Devices() {
    TPulseConnection connection;
    QString error;
    if (!connection.Connect(error)) {
        Failure(MMSYSERR_NODRIVER, error);
        return {};
    }
    connection.Lock();
    TSourceList list;
    const bool listed = ListSources(connection, list);
    if (!listed)
        error = connection.LastError();
    connection.Unlock();
    if (!listed) {
        Failure(MMSYSERR_NODRIVER, error);
        return {};
    }
    std::vector<TWaveInDeviceInfo> devices;
    for (const TSource& source : list.Sources)
        devices.push_back({source.Description, source.Name == list.DefaultName});
    return devices;
}

MMRESULT TPulseWaveInBackend::Query(UINT DeviceID, const WAVEFORMATEX& Format) {
    const pa_sample_spec sampleFormat = SampleFormatOf(Format);
    if (!pa_sample_spec_valid(&sampleFormat))
        return Failure(WAVERR_BADFORMAT, {});
    TPulseConnection connection;
    QString error;
    if (!connection.Connect(error))
        return Failure(MMSYSERR_NODRIVER, error);
    connection.Lock();
    TSourceList list;
    const bool listed = ListSources(connection, list);
    if (!listed)
        error = connection.LastError();
    connection.Unlock();
    if (!listed)
        return Failure(MMSYSERR_NODRIVER, error);
    if (SourceName(list, DeviceID).empty())
        return Failure(DeviceID == WAVE_MAPPER ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID, {});
    return Failure(MMSYSERR_NOERROR, {});
}

MMRESULT TPulseWaveInBackend::Open(UINT DeviceID, const WAVEFORMATEX& Format,
                                   std::unique_ptr<TWaveInCapture>& Capture) {
    const pa_sample_spec sampleFormat = SampleFormatOf(Format);
    if (!pa_sample_spec_valid(&sampleFormat))
        return Failure(WAVERR_BADFORMAT, {});
    auto connection = std::make_unique<TPulseConnection>();
    QString error;
    if (!connection->Connect(error))
        return Failure(MMSYSERR_NODRIVER, error);

    connection->Lock();
    TSourceList list;
    if (!ListSources(*connection, list)) {
        error = connection->LastError();
        connection->Unlock();
        return Failure(MMSYSERR_NODRIVER, error);
    }
    const std::string source = SourceName(list, DeviceID);
    if (source.empty()) {
        connection->Unlock();
        return Failure(DeviceID == WAVE_MAPPER ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID, {});
    }

    pa_stream* stream = pa_stream_new(connection->Context(), "Vantrel recording", &sampleFormat, nullptr);
    if (stream == nullptr) {
        error = connection->LastError();
        const int code = pa_context_errno(connection->Context());
        connection->Unlock();
        return Failure(StreamFailure(code), error);
    }
    const auto signal = [](pa_stream*, void* Loop) { SignalLoop(static_cast<pa_threaded_mainloop*>(Loop)); };
    pa_stream_set_state_callback(stream, signal, connection->Loop());
    pa_stream_set_read_callback(
        stream,
        [](pa_stream*, std::size_t, void* Loop) { SignalLoop(static_cast<pa_threaded_mainloop*>(Loop)); },
        connection->Loop());
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xFF, sizeof(attributes)); // server defaults for everything but fragsize
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(FragmentTime, &sampleFormat));
    const bool ready =
        pa_stream_connect_record(stream, source.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY) >= 0 &&
        connection->Wait([stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        }) &&
        pa_stream_get_state(stream) == PA_STREAM_READY;
    if (!ready) {
        error = connection->LastError();
        const int code = pa_context_errno(connection->Context());
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        connection->Unlock();
        return Failure(StreamFailure(code), error);
    }
    connection->Disarm();
    connection->Unlock();
    Capture = std::make_unique<TPulseCapture>(std::move(connection), stream, Format);
    return Failure(MMSYSERR_NOERROR, {});
}

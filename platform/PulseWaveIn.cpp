#include "platform/PulseWaveIn.h"

#include "platform/PlaybackSink.h"
#include "platform/PulseConnection.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace win {

namespace {

constexpr pa_usec_t FragmentTime = 20 * PA_USEC_PER_MSEC;

struct TSource {
    std::string Name;
    QString Description;
    std::string MonitorOf; // the sink a monitor source listens to; empty for other sources
};

struct TSourceList {
    std::vector<TSource> Sources;
    std::string DefaultName;
    std::string DefaultSink;
};

// Connects and reads the server's sources and its default source; false with the reason in Error
// when the server could not be reached or did not answer.
bool ConnectAndList(TPulseConnection& Connection, TSourceList& List, QString& Error) {
    if (!Connection.Connect(PulseServerTimeout, &Error))
        return false;
    TPulseConnection::TLock lock(Connection);
    const bool listed =
        Connection.Run(pa_context_get_source_info_list(
            Connection.Context(),
            [](pa_context*, const pa_source_info* Info, int Last, void* Data) {
                if (Last == 0)
                    static_cast<TSourceList*>(Data)->Sources.push_back(
                        {Info->name, QString::fromUtf8(Info->description ? Info->description : Info->name),
                         Info->monitor_of_sink_name ? Info->monitor_of_sink_name : ""});
            },
            &List)) &&
        Connection.Run(pa_context_get_server_info(
            Connection.Context(),
            [](pa_context*, const pa_server_info* Info, void* Data) {
                auto* list = static_cast<TSourceList*>(Data);
                if (Info != nullptr && Info->default_source_name != nullptr)
                    list->DefaultName = Info->default_source_name;
                if (Info != nullptr && Info->default_sink_name != nullptr)
                    list->DefaultSink = Info->default_sink_name;
            },
            &List));
    if (!listed)
        Error = Connection.LastError();
    return listed;
}

// The monitor of the sink where the program plays; empty when that sink has none (or is gone).
std::string PlaybackMonitor(const TSourceList& List) {
    const QString named = PlaybackSink();
    const std::string sink = named.isEmpty() ? List.DefaultSink : named.toStdString();
    const auto it = std::find_if(List.Sources.begin(), List.Sources.end(),
                                 [&sink](const TSource& s) { return !sink.empty() && s.MonitorOf == sink; });
    return it == List.Sources.end() ? std::string() : it->Name;
}

// The source DeviceID names: its server name, or empty when there is no such source.
std::string SourceName(const TSourceList& List, UINT DeviceID) {
    if (DeviceID == WAVE_PLAYBACK_MONITOR)
        return PlaybackMonitor(List);
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
        FConnection->Release(FStream);
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
                FFailure = FConnection->Good() ? QStringLiteral("The sound server ended the recording: %1")
                                               : QStringLiteral("The sound server was lost: %1");
                FFailure = FFailure.arg(FConnection->LastError());
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
                FConnection->WaitForSignal();
        }
        FConnection->Unlock();
        return static_cast<int>(copied);
    }

    void Interrupt() override {
        FConnection->Lock();
        FInterrupted = true;
        FConnection->Signal();
        FConnection->Unlock();
    }

    QString FailureReason() override {
        TPulseConnection::TLock lock(*FConnection);
        return FFailure;
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
    QString FFailure;
    bool FPeeked = false;
    const void* FFragment = nullptr;
    std::size_t FFragmentSize = 0;
    std::size_t FFragmentOffset = 0;
};

// What opening a device id without a source gives: the special ids find no driver, numbers are out
// of range.
MMRESULT MissingSource(UINT DeviceID) {
    return DeviceID == WAVE_MAPPER || DeviceID == WAVE_PLAYBACK_MONITOR ? MMSYSERR_NODRIVER
                                                                        : MMSYSERR_BADDEVICEID;
}

QString MissingSourceReason(UINT DeviceID) {
    if (DeviceID != WAVE_PLAYBACK_MONITOR)
        return {};
    const QString sink = PlaybackSink();
    return sink.isEmpty() ? QStringLiteral("The default sound output has no monitor to record")
                          : QStringLiteral("The sound output \"%1\" has no monitor to record").arg(sink);
}

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
    TSourceList list;
    QString error;
    if (!ConnectAndList(connection, list, error)) {
        Failure(MMSYSERR_NODRIVER, error);
        return {};
    }
    const std::string monitor = PlaybackMonitor(list);
    std::vector<TWaveInDeviceInfo> devices;
    for (const TSource& source : list.Sources)
        devices.push_back({source.Description, source.Name == list.DefaultName, source.Name == monitor});
    return devices;
}

MMRESULT TPulseWaveInBackend::Query(UINT DeviceID, const WAVEFORMATEX& Format) {
    const pa_sample_spec sampleFormat = SampleFormatOf(Format);
    if (!pa_sample_spec_valid(&sampleFormat))
        return Failure(WAVERR_BADFORMAT, {});
    TPulseConnection connection;
    TSourceList list;
    QString error;
    if (!ConnectAndList(connection, list, error))
        return Failure(MMSYSERR_NODRIVER, error);
    if (SourceName(list, DeviceID).empty())
        return Failure(MissingSource(DeviceID), MissingSourceReason(DeviceID));
    return Failure(MMSYSERR_NOERROR, {});
}

MMRESULT TPulseWaveInBackend::Open(UINT DeviceID, const WAVEFORMATEX& Format,
                                   std::unique_ptr<TWaveInCapture>& Capture) {
    const pa_sample_spec sampleFormat = SampleFormatOf(Format);
    if (!pa_sample_spec_valid(&sampleFormat))
        return Failure(WAVERR_BADFORMAT, {});
    auto connection = std::make_unique<TPulseConnection>();
    TSourceList list;
    QString error;
    if (!ConnectAndList(*connection, list, error))
        return Failure(MMSYSERR_NODRIVER, error);
    const std::string source = SourceName(list, DeviceID);
    if (source.empty())
        return Failure(MissingSource(DeviceID), MissingSourceReason(DeviceID));

    connection->Lock();

    pa_stream* stream = pa_stream_new(connection->Context(), "Vantrel recording", &sampleFormat, nullptr);
    if (stream == nullptr) {
        error = connection->LastError();
        const int code = pa_context_errno(connection->Context());
        connection->Unlock();
        return Failure(StreamFailure(code), error);
    }
    const auto signal = [](pa_stream*, void* Connection) {
        static_cast<TPulseConnection*>(Connection)->Signal();
    };
    pa_stream_set_state_callback(stream, signal, connection.get());
    pa_stream_set_read_callback(
        stream,
        [](pa_stream*, std::size_t, void* Connection) {
            static_cast<TPulseConnection*>(Connection)->Signal();
        },
        connection.get());
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xFF, sizeof(attributes)); // server defaults for everything but fragsize
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(FragmentTime, &sampleFormat));
    const bool ready =
        pa_stream_connect_record(stream, source.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY) >= 0 &&
        connection->WaitForStream(stream);
    if (!ready) {
        error = connection->LastError();
        const int code = pa_context_errno(connection->Context());
        connection->Release(stream);
        connection->Unlock();
        return Failure(StreamFailure(code), error);
    }
    connection->Disarm();
    connection->Unlock();
    Capture = std::make_unique<TPulseCapture>(std::move(connection), stream, Format);
    return Failure(MMSYSERR_NOERROR, {});
}

} // namespace win

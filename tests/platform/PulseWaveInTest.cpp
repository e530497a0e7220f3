// Recording through a real PulseAudio server: the private test server CTest starts (PULSE_SERVER),
// and servers of the tests' own that go away.
#include "platform/PulseWaveIn.h"
#include "platform/Messages.h"
#include "platform/PlaybackSink.h"
#include "platform/WaveInService.h"

#include "PrivatePulseServer.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QProcess>
#include <QtEndian>
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

WAVEFORMATEX Pcm(DWORD Rate, WORD Bits, WORD Channels) {
    const WORD align = static_cast<WORD>(Channels * Bits / 8);
    return WAVEFORMATEX{WAVE_FORMAT_PCM, Channels, Rate, Rate * align, align, Bits, 0};
}

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 10s) {
    const auto deadline = Clock::now() + Limit;
    while (!Done()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

void PumpFor(std::chrono::milliseconds Time) {
    PumpUntil([] { return false; }, Time);
}

// A 16-bit mono WAV file of a sine tone.
QByteArray ToneFile(DWORD Rate, double Frequency, double Seconds) {
    const WAVEFORMATEX format = Pcm(Rate, 16, 1);
    const auto frames = static_cast<quint32>(Rate * Seconds);
    QByteArray bytes(44 + frames * 2, Qt::Uninitialized);
    char* p = bytes.data();
    std::memcpy(p, "RIFF", 4);
    qToLittleEndian<quint32>(36 + frames * 2, p + 4);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, p + 16);
    std::memcpy(p + 20, &format, 16);
    std::memcpy(p + 36, "data", 4);
    qToLittleEndian<quint32>(frames * 2, p + 40);
    for (quint32 i = 0; i < frames; ++i) {
        const double value = 0.5 * std::sin(2 * std::numbers::pi * Frequency * i / Rate);
        qToLittleEndian<qint16>(static_cast<qint16>(std::lround(value * 32767)), p + 44 + 2 * i);
    }
    return bytes;
}

struct TBuffer {
    explicit TBuffer(DWORD Size) : Data(Size) {
        Header.lpData = Data.data();
        Header.dwBufferLength = Size;
    }
    std::vector<char> Data;
    WAVEHDR Header{};
};

// A device recording into queued buffers, notifying a hidden window of the test thread.
class TRecording {
public:
    TRecording() {
        FWnd = AllocateHWnd([this](UINT Message, WPARAM, LPARAM lParam) {
            if (Message == MM_WIM_DATA)
                Returned.push_back(reinterpret_cast<WAVEHDR*>(lParam));
            else if (Message == MM_WIM_CLOSE)
                Closed = true;
            return LRESULT(0);
        });
    }
    ~TRecording() {
        if (Device != nullptr) {
            waveInReset(Device);
            waveInClose(Device);
        }
        DeallocateHWnd(FWnd);
    }

    MMRESULT Open(const WAVEFORMATEX& Format, UINT DeviceID = WAVE_MAPPER) {
        const MMRESULT result = waveInOpen(&Device, DeviceID, &Format, FWnd, 0, CALLBACK_WINDOW);
        if (result != MMSYSERR_NOERROR)
            Device = nullptr;
        return result;
    }

    void AddBuffers(DWORD Bytes, int Count) {
        for (int i = 0; i < Count; ++i) {
            FBuffers.push_back(std::make_unique<TBuffer>(Bytes));
            WAVEHDR* header = &FBuffers.back()->Header;
            ASSERT_EQ(waveInPrepareHeader(Device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
            ASSERT_EQ(waveInAddBuffer(Device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
    }

    MMRESULT Close() {
        const MMRESULT result = waveInClose(Device);
        if (result == MMSYSERR_NOERROR)
            Device = nullptr;
        return result;
    }

    std::uint64_t Position() {
        MMTIME time{TIME_BYTES, {}};
        EXPECT_EQ(waveInGetPosition(Device, &time, sizeof(time)), MMSYSERR_NOERROR);
        return time.u.cb;
    }

    // The 16-bit samples of the returned buffers, in order.
    std::vector<qint16> Samples() const {
        std::vector<qint16> samples;
        for (const WAVEHDR* header : Returned)
            for (DWORD i = 0; i + 1 < header->dwBytesRecorded; i += 2)
                samples.push_back(qFromLittleEndian<qint16>(header->lpData + i));
        return samples;
    }

    HWAVEIN Device = nullptr;
    std::vector<WAVEHDR*> Returned;
    bool Closed = false;

private:
    HWND FWnd = 0;
    std::vector<std::unique_ptr<TBuffer>> FBuffers;
};

class PulseWaveInTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Always the real backend, whatever an earlier test installed.
        SetWaveInBackend(std::make_shared<TPulseWaveInBackend>());
    }
    void TearDown() override { SetWaveInBackend(nullptr); }
};

TEST_F(PulseWaveInTest, RecordsWhatPlaysIntoTheDefaultSinkThroughItsMonitor) {
    const std::vector<TWaveInDeviceInfo> devices = WaveInBackend()->Devices();
    ASSERT_FALSE(devices.empty()) << WaveInBackend()->ErrorText().toStdString();
    EXPECT_EQ(waveInGetNumDevs(), devices.size());
    const auto monitor = std::find_if(devices.begin(), devices.end(), [](const auto& d) {
        return d.Name.startsWith(QStringLiteral("Monitor of"));
    });
    ASSERT_NE(monitor, devices.end());
    EXPECT_TRUE(monitor->IsDefault);

    TestDir dir;
    WriteWholeFile(dir.path("tone.wav"), ToneFile(44100, 1000, 10));
    QProcess player;
    player.start(QStringLiteral("paplay"), {dir.path("tone.wav")});
    ASSERT_TRUE(player.waitForStarted());
    std::this_thread::sleep_for(500ms);

    const WAVEFORMATEX format = Pcm(44100, 16, 1);
    constexpr DWORD bufferBytes = 22050; // 250 ms
    TRecording recording;
    ASSERT_EQ(recording.Open(format), MMSYSERR_NOERROR);
    // A monitor delivers nothing until its sink has played what it had rendered ahead before the
    // stream came (up to the sink's latency, 2 s for a null sink): wait for sound to flow first.
    recording.AddBuffers(4410, 1);
    ASSERT_EQ(waveInStart(recording.Device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return recording.Returned.size() == 1; }));
    ASSERT_EQ(waveInStop(recording.Device), MMSYSERR_NOERROR);
    const std::uint64_t before = recording.Position();
    recording.Returned.clear();

    recording.AddBuffers(bufferBytes, 12);
    const auto start = Clock::now();
    ASSERT_EQ(waveInStart(recording.Device), MMSYSERR_NOERROR);
    PumpFor(2s);
    ASSERT_EQ(waveInStop(recording.Device), MMSYSERR_NOERROR);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    player.kill();
    player.waitForFinished();

    const std::uint64_t recorded = recording.Position() - before;
    EXPECT_NEAR(static_cast<double>(recorded), seconds * format.nAvgBytesPerSec, bufferBytes);
    ASSERT_TRUE(PumpUntil([&] {
        std::uint64_t returned = 0;
        for (const WAVEHDR* header : recording.Returned)
            returned += header->dwBytesRecorded;
        return returned == recorded;
    }));

    // Loud, and a 1 kHz tone: 2000 zero crossings a second.
    const std::vector<qint16> samples = recording.Samples();
    ASSERT_GT(samples.size(), 44100u);
    double sum = 0;
    int crossings = 0;
    const std::size_t from = samples.size() / 4; // clear of the start
    for (std::size_t i = from; i < samples.size(); ++i) {
        sum += double(samples[i]) * samples[i];
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    }
    const double count = double(samples.size() - from);
    EXPECT_GT(std::sqrt(sum / count), 0.2 * 32767);
    EXPECT_NEAR(crossings / (count / 44100), 2000, 100);

    ASSERT_EQ(waveInReset(recording.Device), MMSYSERR_NOERROR);
    EXPECT_EQ(recording.Close(), MMSYSERR_NOERROR);
    EXPECT_TRUE(PumpUntil([&] { return recording.Closed; }));
}

TEST_F(PulseWaveInTest, ThePlaybackMonitorIsTheMonitorOfTheSinkWhereTheProgramPlays) {
    const QString module =
        QString::fromUtf8(RunProgram("pactl", {"load-module", "module-null-sink", "sink_name=vantrel_second",
                                               "sink_properties=device.description=Vantrel_second_sink"})
                              .trimmed());
    struct TCase {
        const char* Sink;
        QString Monitor;
    };
    for (const TCase& c :
         {TCase{"", "Monitor of Vantrel_test_sink"},
          TCase{"vantrel_second", "Monitor of Vantrel_second_sink"}, TCase{"vantrel_missing", ""}}) {
        SCOPED_TRACE(c.Sink);
        SetPlaybackSink(QString::fromLatin1(c.Sink));
        EXPECT_EQ(WaveInPlaybackMonitorName(), c.Monitor);
        const std::vector<TWaveInDeviceInfo> devices = WaveInBackend()->Devices();
        EXPECT_EQ(
            std::count_if(devices.begin(), devices.end(), [](const auto& d) { return d.IsPlaybackMonitor; }),
            c.Monitor.isEmpty() ? 0 : 1);
        const WAVEFORMATEX format = Pcm(8000, 16, 1);
        HWAVEIN device = nullptr;
        const MMRESULT opened = waveInOpen(&device, WAVE_PLAYBACK_MONITOR, &format, 0, 0, CALLBACK_NULL);
        if (c.Monitor.isEmpty()) {
            EXPECT_EQ(opened, MMSYSERR_NODRIVER);
            char16_t text[256];
            ASSERT_EQ(waveInGetErrorTextW(opened, text, 256), MMSYSERR_NOERROR);
            EXPECT_TRUE(QString::fromUtf16(text).contains(c.Sink)) << QString::fromUtf16(text).toStdString();
        } else {
            ASSERT_EQ(opened, MMSYSERR_NOERROR);
            EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
        }
    }

    // What plays into the named sink is what the device records; the default source stays.
    SetPlaybackSink(QStringLiteral("vantrel_second"));
    TestDir dir;
    WriteWholeFile(dir.path("tone.wav"), ToneFile(8000, 1000, 10));
    QProcess player;
    player.start(QStringLiteral("paplay"), {QStringLiteral("--device=vantrel_second"), dir.path("tone.wav")});
    ASSERT_TRUE(player.waitForStarted());
    TRecording recording;
    ASSERT_EQ(recording.Open(Pcm(8000, 16, 1), WAVE_PLAYBACK_MONITOR), MMSYSERR_NOERROR);
    recording.AddBuffers(1600, 40); // 100 ms each
    ASSERT_EQ(waveInStart(recording.Device), MMSYSERR_NOERROR);
    // A null sink feeds its monitor only after about two seconds.
    ASSERT_TRUE(PumpUntil([&] { return recording.Returned.size() >= 30; }));
    SetPlaybackSink({});
    player.kill();
    player.waitForFinished();
    const std::vector<qint16> samples = recording.Samples();
    double sum = 0;
    for (std::size_t i = samples.size() - 8000; i < samples.size(); ++i)
        sum += double(samples[i]) * samples[i];
    EXPECT_GT(std::sqrt(sum / 8000), 0.2 * 32767) << "the last second is the tone";
    EXPECT_EQ(RunProgram("pactl", {"get-default-source"}).trimmed(), "vantrel_sink.monitor");
    ASSERT_EQ(waveInReset(recording.Device), MMSYSERR_NOERROR);
    EXPECT_EQ(recording.Close(), MMSYSERR_NOERROR);
    RunProgram("pactl", {"unload-module", module});
}

TEST_F(PulseWaveInTest, WithoutAServerThereAreNoDevicesAndOpenSaysWhy) {
    TEnvironment server("PULSE_SERVER", "unix:/nonexistent/vantrel-no-server");
    const auto start = Clock::now();
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    const WAVEFORMATEX format = Pcm(44100, 16, 2);
    HWAVEIN device = nullptr;
    const MMRESULT result = waveInOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    EXPECT_TRUE(result == MMSYSERR_NODRIVER || result == MMSYSERR_BADDEVICEID) << result;
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY), result);
    EXPECT_LT(Clock::now() - start, 4s);

    char16_t text[256];
    ASSERT_EQ(waveInGetErrorTextW(result, text, 256), MMSYSERR_NOERROR);
    EXPECT_TRUE(QString::fromUtf16(text).contains(QStringLiteral("Connection refused")))
        << QString::fromUtf16(text).toStdString();
}

TEST_F(PulseWaveInTest, AServerThatDiesEndsTheRecordingWithAnErrorAndTheDeviceStillCloses) {
    TPrivatePulseServer server;

    const WAVEFORMATEX format = Pcm(8000, 16, 1);
    TRecording recording;
    ASSERT_EQ(recording.Open(format), MMSYSERR_NOERROR);
    recording.AddBuffers(1600, 40); // 100 ms each
    ASSERT_EQ(waveInStart(recording.Device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return recording.Returned.size() >= 2; }));

    ASSERT_GT(server.Pid(), 0);
    ASSERT_EQ(::kill(server.Pid(), SIGKILL), 0);
    // The buffer being filled comes back at once, the others stay queued until the reset.
    const std::size_t before = recording.Returned.size();
    ASSERT_TRUE(PumpUntil([&] { return recording.Returned.size() > before; }));
    PumpFor(300ms);
    const std::size_t returned = recording.Returned.size();
    EXPECT_LE(returned, before + 2); // one more may have been on its way
    PumpFor(500ms);
    EXPECT_EQ(recording.Returned.size(), returned) << "buffers still filling after the server died";

    // Every later call to go on recording says so, with the reason.
    WAVEHDR* again = recording.Returned.back();
    EXPECT_EQ(waveInAddBuffer(recording.Device, again, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInStart(recording.Device), MMSYSERR_NODRIVER);
    char16_t text[256];
    ASSERT_EQ(waveInGetErrorTextW(MMSYSERR_NODRIVER, text, 256), MMSYSERR_NOERROR);
    EXPECT_TRUE(QString::fromUtf16(text).contains(QStringLiteral("The sound server was lost")))
        << QString::fromUtf16(text).toStdString();

    ASSERT_EQ(waveInReset(recording.Device), MMSYSERR_NOERROR);
    EXPECT_TRUE(PumpUntil([&] { return recording.Returned.size() == 40; }));
    EXPECT_EQ(recording.Close(), MMSYSERR_NOERROR);
    EXPECT_TRUE(PumpUntil([&] { return recording.Closed; }));
    server.Stop();

    HWAVEIN device = nullptr;
    EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
}

} // namespace

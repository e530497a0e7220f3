#include "platform/WaveInService.h"
#include "platform/FakeWaveIn.h"
#include "platform/Messages.h"

#include "TestFiles.h"

#include <QCoreApplication>
#include <QtEndian>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace {

using namespace std::chrono_literals;

WAVEFORMATEX Pcm(DWORD Rate, WORD Bits, WORD Channels) {
    const WORD align = static_cast<WORD>(Channels * Bits / 8);
    return WAVEFORMATEX{WAVE_FORMAT_PCM, Channels, Rate, Rate * align, align, Bits, 0};
}

bool PumpUntil(const std::function<bool()>& Done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

void PumpFor(std::chrono::milliseconds Time) {
    const auto end = std::chrono::steady_clock::now() + Time;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
}

// A recording buffer with its header.
struct TBuffer {
    explicit TBuffer(DWORD Size) : Data(Size) {
        Header.lpData = Data.data();
        Header.dwBufferLength = Size;
    }
    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;

    QByteArray Recorded() const { return QByteArray(Data.data(), Header.dwBytesRecorded); }

    std::vector<char> Data;
    WAVEHDR Header{};
};

void Queue(HWAVEIN Device, TBuffer& Buffer) {
    ASSERT_EQ(waveInPrepareHeader(Device, &Buffer.Header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(Device, &Buffer.Header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
}

enum class TCallbackKind { Window, Thread };

// Where the service's notifications go: a hidden window of the test thread, or a thread of its
// own that makes its queue a little after it has started.
class TNotificationSink {
public:
    // Runs on the test thread for each window message, after it has been recorded.
    std::function<void(const MSG&)> OnMessage;

    explicit TNotificationSink(TCallbackKind Kind) : FKind(Kind) {
        if (Kind == TCallbackKind::Window) {
            FWnd = AllocateHWnd([this](UINT Message, WPARAM wParam, LPARAM lParam) {
                const MSG msg{FWnd, Message, wParam, lParam};
                Record(msg);
                if (OnMessage)
                    OnMessage(msg);
                return LRESULT(0);
            });
            return;
        }
        std::mutex idLock;
        std::condition_variable idKnown;
        FThread = std::thread([this, &idLock, &idKnown] {
            {
                std::lock_guard<std::mutex> lock(idLock);
                FThreadId = GetCurrentThreadId();
            }
            idKnown.notify_one();
            std::this_thread::sleep_for(100ms);
            MSG msg{};
            while (GetMessageW(&msg, 0, 0, 0))
                Record(msg);
        });
        std::unique_lock<std::mutex> lock(idLock);
        idKnown.wait(lock, [this] { return FThreadId != 0; });
    }

    ~TNotificationSink() {
        if (FKind == TCallbackKind::Window) {
            DeallocateHWnd(FWnd);
            return;
        }
        while (!PostThreadMessageW(FThreadId, WM_QUIT, 0, 0))
            std::this_thread::sleep_for(1ms);
        FThread.join();
    }

    DWORD Flags() const { return FKind == TCallbackKind::Window ? CALLBACK_WINDOW : CALLBACK_THREAD; }
    std::uintptr_t Callback() const { return FKind == TCallbackKind::Window ? FWnd : FThreadId; }

    std::vector<MSG> Messages() {
        std::lock_guard<std::mutex> lock(FLock);
        return FMessages;
    }
    std::size_t Count() { return Messages().size(); }
    bool WaitForCount(std::size_t Count) {
        return PumpUntil([this, Count] { return this->Count() >= Count; });
    }

private:
    void Record(const MSG& Msg) {
        std::lock_guard<std::mutex> lock(FLock);
        FMessages.push_back(Msg);
    }

    const TCallbackKind FKind;
    HWND FWnd = 0;
    std::thread FThread;
    DWORD FThreadId = 0;
    std::mutex FLock;
    std::vector<MSG> FMessages;
};

void ExpectNotification(const MSG& Msg, UINT Message, HWAVEIN Device, const WAVEHDR* Header) {
    EXPECT_EQ(Msg.message, Message);
    EXPECT_EQ(Msg.wParam, reinterpret_cast<WPARAM>(Device));
    EXPECT_EQ(Msg.lParam, reinterpret_cast<LPARAM>(Header));
}

std::string ErrorText(MMRESULT Error) {
    char16_t text[256];
    EXPECT_EQ(waveInGetErrorTextW(Error, text, 256), MMSYSERR_NOERROR);
    return QString::fromUtf16(text).toStdString();
}

class WaveInServiceTest : public ::testing::Test {
protected:
    void SetUp() override { Install({}); }
    void TearDown() override { SetWaveInBackend(nullptr); }

    void Install(TFakeWaveInSettings Settings) {
        Backend = std::make_shared<TFakeWaveInBackend>(std::move(Settings));
        SetWaveInBackend(Backend);
    }
    static TFakeWaveInSettings Fast() {
        TFakeWaveInSettings settings;
        settings.Speed = 8;
        settings.Frequency = 441.3; // repeats only after 10 s at 8000 Hz, so positions in it are unique
        return settings;
    }

    std::shared_ptr<TFakeWaveInBackend> Backend;
};

class WaveInNotificationTest : public WaveInServiceTest,
                               public ::testing::WithParamInterface<TCallbackKind> {};

TEST_P(WaveInNotificationTest, OpenEachBufferAndCloseAreNotifiedOnceInOrder) {
    Install(Fast());
    TNotificationSink sink(GetParam());
    const WAVEFORMATEX format = Pcm(8000, 16, 1);
    HWAVEIN device = nullptr;
    // For the thread, the open comes before its queue exists and has to wait for it.
    ASSERT_EQ(waveInOpen(&device, 0, &format, sink.Callback(), 0, sink.Flags()), MMSYSERR_NOERROR);
    ASSERT_NE(device, nullptr);
    TBuffer first(1600), second(1600);
    Queue(device, first);
    Queue(device, second);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(sink.WaitForCount(3));
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(sink.WaitForCount(4));
    PumpFor(50ms);

    const std::vector<MSG> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 4u);
    ExpectNotification(messages[0], MM_WIM_OPEN, device, nullptr);
    ExpectNotification(messages[1], MM_WIM_DATA, device, &first.Header);
    ExpectNotification(messages[2], MM_WIM_DATA, device, &second.Header);
    ExpectNotification(messages[3], MM_WIM_CLOSE, device, nullptr);
    for (const TBuffer* buffer : {&first, &second}) {
        EXPECT_EQ(buffer->Header.dwFlags, WHDR_DONE | WHDR_PREPARED);
        EXPECT_EQ(buffer->Header.dwBytesRecorded, 1600u);
    }
}

INSTANTIATE_TEST_SUITE_P(Callbacks, WaveInNotificationTest,
                         ::testing::Values(TCallbackKind::Window, TCallbackKind::Thread));

TEST_F(WaveInServiceTest, QueuedBuffersHoldTheSoundWithoutGapsInOrder) {
    Install(Fast());
    TNotificationSink sink(TCallbackKind::Window);
    const WAVEFORMATEX format = Pcm(8000, 16, 1);
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, 0, &format, sink.Callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    TBuffer first(16000), second(16000); // a second each
    Queue(device, first);
    Queue(device, second);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(sink.WaitForCount(3));

    const QByteArray expected = Backend->Sound(format, 0, 16000);
    ASSERT_EQ(expected.size(), 32000);
    EXPECT_TRUE(first.Recorded() + second.Recorded() == expected);
    // The tone itself: half of full scale.
    qint16 peak = 0;
    for (qsizetype i = 0; i < expected.size(); i += 2)
        peak = std::max(peak, qFromLittleEndian<qint16>(expected.constData() + i));
    EXPECT_NEAR(peak, 16383, 2);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveInServiceTest, SoundCapturedWhileNoBufferIsQueuedBecomesSilenceOfItsLength) {
    Install(Fast());
    for (const WAVEFORMATEX& format : {Pcm(8000, 16, 1), Pcm(8000, 8, 2)}) {
        SCOPED_TRACE(format.wBitsPerSample);
        const char silence = format.wBitsPerSample == 8 ? char(0x80) : 0;
        TNotificationSink sink(TCallbackKind::Window);
        HWAVEIN device = nullptr;
        ASSERT_EQ(waveInOpen(&device, 0, &format, sink.Callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
        TBuffer first(1600), second(8 * 16000); // 0.1 s, then 8 s
        Queue(device, first);
        ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
        ASSERT_TRUE(sink.WaitForCount(2));
        std::this_thread::sleep_for(150ms); // about 1.2 s of sound with no buffer queued
        Queue(device, second);
        // The count is read while the second buffer fills, before a new gap opens after it.
        std::uint64_t gap = 0;
        ASSERT_EQ(waveInGetGapBytes(device, &gap), MMSYSERR_NOERROR);
        ASSERT_TRUE(sink.WaitForCount(3));
        EXPECT_GE(gap, 8000u) << "half a second or more";
        ASSERT_LT(gap, 8 * 16000u);
        EXPECT_EQ(first.Recorded(), Backend->Sound(format, 0, 1600 / format.nBlockAlign));
        // The silence stands where the missed sound was, and the sound goes on after it in step.
        const QByteArray recorded = second.Recorded();
        EXPECT_EQ(recorded.left(qsizetype(gap)), QByteArray(qsizetype(gap), silence));
        const DWORD resumeAt = DWORD((1600 + gap) / format.nBlockAlign);
        EXPECT_TRUE(recorded.mid(qsizetype(gap)) ==
                    Backend->Sound(format, resumeAt, DWORD((recorded.size() - gap) / format.nBlockAlign)));
        MMTIME time{TIME_BYTES, {}};
        ASSERT_EQ(waveInGetPosition(device, &time, sizeof(time)), MMSYSERR_NOERROR);
        EXPECT_EQ(time.u.cb, 1600u + 8 * 16000u);
        EXPECT_EQ(waveInReset(device), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInGetGapBytes(device, &gap), MMSYSERR_INVALHANDLE);
    }
}

TEST_F(WaveInServiceTest, StopReturnsOnlyAPartlyFilledBufferAndResetReturnsTheRest) {
    TNotificationSink sink(TCallbackKind::Window); // real time
    const WAVEFORMATEX format = Pcm(8000, 16, 1);
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, 0, &format, sink.Callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    TBuffer first(16000), second(16000), third(16000);
    Queue(device, first);
    Queue(device, second);
    Queue(device, third);
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR); // nothing recorded: nothing returned
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(sink.WaitForCount(2));
    EXPECT_EQ(first.Header.dwFlags, WHDR_DONE | WHDR_PREPARED);
    EXPECT_GT(first.Header.dwBytesRecorded, 0u);
    EXPECT_LT(first.Header.dwBytesRecorded, 16000u);
    EXPECT_EQ(second.Header.dwFlags, WHDR_INQUEUE | WHDR_PREPARED);
    MMTIME time{TIME_BYTES, {}};
    ASSERT_EQ(waveInGetPosition(device, &time, sizeof(time)), MMSYSERR_NOERROR);
    EXPECT_EQ(time.u.cb, first.Header.dwBytesRecorded);

    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(sink.WaitForCount(4));
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(sink.WaitForCount(5));
    PumpFor(50ms);
    const std::vector<MSG> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 5u);
    ExpectNotification(messages[1], MM_WIM_DATA, device, &first.Header);
    ExpectNotification(messages[2], MM_WIM_DATA, device, &second.Header);
    ExpectNotification(messages[3], MM_WIM_DATA, device, &third.Header);
    for (const TBuffer* buffer : {&second, &third}) {
        EXPECT_EQ(buffer->Header.dwFlags, WHDR_DONE | WHDR_PREPARED);
        EXPECT_EQ(buffer->Header.dwBytesRecorded, 0u);
    }
}

TEST_F(WaveInServiceTest, ResetWhileRecordingReturnsThePartialBufferFirst) {
    Install(Fast());
    TNotificationSink sink(TCallbackKind::Window);
    const WAVEFORMATEX format = Pcm(8000, 16, 1);
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, 0, &format, sink.Callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    TBuffer first(160000), second(160000); // 10 s each: far from full when reset
    Queue(device, first);
    Queue(device, second);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    MMTIME time{TIME_BYTES, {}};
    ASSERT_TRUE(PumpUntil(
        [&] { return waveInGetPosition(device, &time, sizeof(time)) == MMSYSERR_NOERROR && time.u.cb > 0; }));
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(sink.WaitForCount(3));
    const std::vector<MSG> messages = sink.Messages();
    ExpectNotification(messages[1], MM_WIM_DATA, device, &first.Header);
    ExpectNotification(messages[2], MM_WIM_DATA, device, &second.Header);
    EXPECT_GT(first.Header.dwBytesRecorded, 0u);
    EXPECT_EQ(second.Header.dwBytesRecorded, 0u);
    // Recording stopped: nothing more arrives.
    PumpFor(50ms);
    EXPECT_EQ(sink.Count(), 3u);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveInServiceTest, ARecorderRequeueingItsBuffersGetsEachBackOnceInQueueOrder) {
    Install(Fast());
    TNotificationSink sink(TCallbackKind::Window);
    const WAVEFORMATEX format = Pcm(8000, 16, 1);
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, 0, &format, sink.Callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<std::unique_ptr<TBuffer>> buffers;
    std::vector<WAVEHDR*> added, returned;
    for (int i = 0; i < 4; ++i) {
        buffers.push_back(std::make_unique<TBuffer>(400)); // 25 ms
        Queue(device, *buffers.back());
        added.push_back(&buffers.back()->Header);
    }
    constexpr std::size_t total = 60;
    sink.OnMessage = [&](const MSG& Msg) {
        if (Msg.message != MM_WIM_DATA)
            return;
        auto* header = reinterpret_cast<WAVEHDR*>(Msg.lParam);
        EXPECT_EQ(header->dwBytesRecorded, 400u);
        returned.push_back(header);
        if (added.size() < total) {
            EXPECT_EQ(waveInAddBuffer(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
            added.push_back(header);
        }
    };
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return returned.size() == total; }));
    PumpFor(50ms);
    EXPECT_EQ(returned, added);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveInServiceTest, HeadersAndHandlesAreChecked) {
    const WAVEFORMATEX format = Pcm(8000, 16, 1);
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    TBuffer buffer(1600);
    EXPECT_EQ(waveInAddBuffer(device, &buffer.Header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    EXPECT_EQ(waveInPrepareHeader(device, &buffer.Header, sizeof(WAVEHDR) - 1), MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveInPrepareHeader(device, &buffer.Header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(buffer.Header.dwFlags, WHDR_PREPARED);
    buffer.Header.dwBytesRecorded = 99;
    buffer.Header.dwFlags |= WHDR_DONE;
    ASSERT_EQ(waveInAddBuffer(device, &buffer.Header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(buffer.Header.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(buffer.Header.dwBytesRecorded, 0u);
    EXPECT_EQ(waveInAddBuffer(device, &buffer.Header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(device, &buffer.Header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(device), WAVERR_STILLPLAYING);

    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(buffer.Header.dwFlags, WHDR_PREPARED | WHDR_DONE);
    ASSERT_EQ(waveInUnprepareHeader(device, &buffer.Header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(buffer.Header.dwFlags, WHDR_DONE);
    EXPECT_EQ(Backend->OpenCaptures(), 1);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(Backend->OpenCaptures(), 0);

    MMTIME time{TIME_BYTES, {}};
    for (HWAVEIN handle : {device, HWAVEIN(nullptr), reinterpret_cast<HWAVEIN>(std::uintptr_t(0x1000))}) {
        EXPECT_EQ(waveInStart(handle), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInStop(handle), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInReset(handle), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInClose(handle), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInPrepareHeader(handle, &buffer.Header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInAddBuffer(handle, &buffer.Header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInGetPosition(handle, &time, sizeof(time)), MMSYSERR_INVALHANDLE);
    }
}

TEST_F(WaveInServiceTest, OpenChecksFormatDeviceAndCallback) {
    const WAVEFORMATEX good = Pcm(44100, 16, 2);
    struct TCase {
        const char* What;
        WAVEFORMATEX Format;
    };
    WAVEFORMATEX wrongAlign = good, wrongRate = good, floating = good;
    wrongAlign.nBlockAlign = 2;
    wrongRate.nAvgBytesPerSec = 1000;
    floating.wFormatTag = 3;
    const TCase badFormats[] = {
        {"float", floating},         {"3 channels", Pcm(44100, 16, 3)}, {"24 bits", Pcm(44100, 24, 2)},
        {"500 Hz", Pcm(500, 16, 2)}, {"384 kHz", Pcm(384000, 16, 2)},   {"block align", wrongAlign},
        {"byte rate", wrongRate},
    };
    for (const TCase& c : badFormats) {
        HWAVEIN device = nullptr;
        EXPECT_EQ(waveInOpen(nullptr, 0, &c.Format, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT) << c.What;
        EXPECT_EQ(waveInOpen(&device, 0, &c.Format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT) << c.What;
    }

    auto sentinel = reinterpret_cast<HWAVEIN>(std::uintptr_t(0x5EED));
    HWAVEIN device = sentinel;
    for (const WAVEFORMATEX& format : {Pcm(8000, 8, 1), Pcm(22050, 8, 2), Pcm(48000, 16, 1), good})
        EXPECT_EQ(waveInOpen(&device, 0, &format, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(device, sentinel);
    EXPECT_EQ(Backend->Opens(), 0);

    EXPECT_EQ(waveInOpen(&device, 1, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&device, 1, &good, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&device, 0, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(nullptr, 0, &good, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&device, 0, &good, 12345, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&device, 0, &good, 0, 0, 0x00030000), MMSYSERR_INVALFLAG); // a function callback
    EXPECT_EQ(Backend->Opens(), 0);

    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &good, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(Backend->Opens(), 1);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveInServiceTest, ScriptedBackendFailuresAreReturnedWithTheirReason) {
    struct TCase {
        const char* Call;
        MMRESULT TFakeWaveInSettings::*Result;
        std::function<MMRESULT(HWAVEIN)> Run;
    };
    static const WAVEFORMATEX format = Pcm(8000, 16, 1);
    const TCase cases[] = {
        {"query", &TFakeWaveInSettings::QueryResult,
         [](HWAVEIN) { return waveInOpen(nullptr, 0, &format, 0, 0, WAVE_FORMAT_QUERY); }},
        {"open", &TFakeWaveInSettings::OpenResult,
         [](HWAVEIN) {
             HWAVEIN device = nullptr;
             return waveInOpen(&device, 0, &format, 0, 0, CALLBACK_NULL);
         }},
        {"start", &TFakeWaveInSettings::StartResult, waveInStart},
        {"reset", &TFakeWaveInSettings::ResetResult, waveInReset},
        {"close", &TFakeWaveInSettings::CloseResult, waveInClose},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Call);
        HWAVEIN device = nullptr;
        ASSERT_EQ(waveInOpen(&device, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        TFakeWaveInSettings settings;
        settings.*c.Result = MMSYSERR_ALLOCATED;
        settings.FailureReason = QStringLiteral("held by %1").arg(c.Call);
        Backend->SetSettings(settings);
        EXPECT_EQ(c.Run(device), MMSYSERR_ALLOCATED);
        EXPECT_EQ(ErrorText(MMSYSERR_ALLOCATED),
                  std::string("The specified device is already in use. (held by ") + c.Call + ")");
        Backend->SetSettings({});
        EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    }
    // A later failure of the code without a reason drops the old one.
    TFakeWaveInSettings settings;
    settings.OpenResult = MMSYSERR_ALLOCATED;
    Backend->SetSettings(settings);
    HWAVEIN device = nullptr;
    EXPECT_EQ(waveInOpen(&device, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(ErrorText(MMSYSERR_ALLOCATED), "The specified device is already in use.");
}

TEST_F(WaveInServiceTest, ErrorTextsAreTheStandardOnes) {
    const std::pair<MMRESULT, const char*> texts[] = {
        {MMSYSERR_BADDEVICEID, "The specified device identifier is out of range."},
        {MMSYSERR_ALLOCATED, "The specified device is already in use."},
        {MMSYSERR_INVALHANDLE, "The specified device handle is invalid."},
        {MMSYSERR_NODRIVER, "There is no driver installed on your system."},
        {WAVERR_BADFORMAT, "Unsupported wave format."},
    };
    for (const auto& [error, text] : texts)
        EXPECT_EQ(ErrorText(error), text) << error;
    for (MMRESULT error : {0u, 1u, 3u, 7u, 8u, 9u, 10u, 11u, 33u, 34u, 35u})
        EXPECT_FALSE(ErrorText(error).empty()) << error;

    char16_t text[10];
    EXPECT_EQ(waveInGetErrorTextW(12, text, 10), MMSYSERR_BADERRNUM);
    EXPECT_EQ(waveInGetErrorTextW(36, text, 10), MMSYSERR_BADERRNUM);
    EXPECT_EQ(waveInGetErrorTextW(WAVERR_BADFORMAT, nullptr, 10), MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveInGetErrorTextW(WAVERR_BADFORMAT, text, 10), MMSYSERR_NOERROR);
    EXPECT_EQ(QString::fromUtf16(text).toStdString(), "Unsupport"); // 9 characters and the end mark
}

TEST_F(WaveInServiceTest, PositionIsGivenInTheUnitAskedFor) {
    Install(Fast());
    TNotificationSink sink(TCallbackKind::Window);
    const WAVEFORMATEX format = Pcm(8000, 16, 2);
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, 0, &format, sink.Callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    TBuffer buffer(32000); // one second
    Queue(device, buffer);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(sink.WaitForCount(2));
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);

    const struct {
        UINT Asked, Given;
        DWORD Value;
    } cases[] = {{TIME_BYTES, TIME_BYTES, 32000},
                 {TIME_MS, TIME_MS, 1000},
                 {TIME_SAMPLES, TIME_SAMPLES, 8000},
                 {TIME_SMPTE, TIME_BYTES, 32000}};
    for (const auto& c : cases) {
        MMTIME time{c.Asked, {}};
        ASSERT_EQ(waveInGetPosition(device, &time, sizeof(time)), MMSYSERR_NOERROR);
        EXPECT_EQ(time.wType, c.Given);
        EXPECT_EQ(time.u.cb, c.Value) << c.Asked;
    }
    MMTIME time{TIME_BYTES, {}};
    EXPECT_EQ(waveInGetPosition(device, &time, sizeof(time) - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInGetPosition(device, nullptr, sizeof(time)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveInServiceTest, CapabilitiesComeFromTheBackendsDevices) {
    TFakeWaveInSettings settings;
    const QString longName = QStringLiteral("A recording device with a very long name");
    settings.Devices = {QStringLiteral("Line in"), longName};
    settings.DefaultDevice = 1;
    Install(settings);
    EXPECT_EQ(waveInGetNumDevs(), 2u);

    WAVEINCAPSW caps{};
    ASSERT_EQ(waveInGetDevCapsW(0, &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_EQ(QString::fromUtf16(caps.szPname).toStdString(), "Line in");
    EXPECT_EQ(caps.dwFormats, 0xFFFu);
    EXPECT_EQ(caps.wChannels, 2);
    for (UINT id : {1u, WAVE_MAPPER}) {
        std::memset(&caps, 0xFF, sizeof(caps));
        ASSERT_EQ(waveInGetDevCapsW(id, &caps, sizeof(caps)), MMSYSERR_NOERROR);
        EXPECT_EQ(caps.szPname[31], 0);
        EXPECT_EQ(QString::fromUtf16(caps.szPname).toStdString(), longName.left(31).toStdString());
    }
    EXPECT_EQ(waveInGetDevCapsW(2, &caps, sizeof(caps)), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInGetDevCapsW(0, nullptr, sizeof(caps)), MMSYSERR_INVALPARAM);

    settings.Devices.clear();
    Install(settings);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(waveInGetDevCapsW(WAVE_MAPPER, &caps, sizeof(caps)), MMSYSERR_BADDEVICEID);
    HWAVEIN device = nullptr;
    const WAVEFORMATEX format = Pcm(8000, 16, 1);
    EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
}

QByteArray WaveFile(const WAVEFORMATEX& Format, const QByteArray& Frames) {
    QByteArray bytes("RIFF____WAVEfmt ");
    auto append32 = [&bytes](quint32 Value) {
        char le[4];
        qToLittleEndian(Value, le);
        bytes.append(le, 4);
    };
    append32(16);
    bytes.append(reinterpret_cast<const char*>(&Format), 16);
    bytes.append("LIST");
    append32(3); // an odd chunk to skip, with its pad byte
    bytes.append("abc", 4);
    bytes.append("data");
    append32(static_cast<quint32>(Frames.size()));
    bytes.append(Frames);
    qToLittleEndian<quint32>(static_cast<quint32>(bytes.size() - 8), bytes.data() + 4);
    return bytes;
}

TEST_F(WaveInServiceTest, AWaveFileIsPlayedInALoopInItsOwnFormatOnly) {
    TestDir dir;
    const WAVEFORMATEX format = Pcm(8000, 8, 1);
    QByteArray frames;
    for (int i = 0; i < 1000; ++i)
        frames.append(static_cast<char>(i % 251));
    WriteWholeFile(dir.path("sound.wav"), WaveFile(format, frames));
    TFakeWaveInSettings settings = Fast();
    settings.WaveFile = dir.path("sound.wav");
    Install(settings);

    TNotificationSink sink(TCallbackKind::Window);
    HWAVEIN device = nullptr;
    const WAVEFORMATEX stereo = Pcm(8000, 8, 2);
    EXPECT_EQ(waveInOpen(&device, 0, &stereo, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    ASSERT_EQ(waveInOpen(&device, 0, &format, sink.Callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    TBuffer buffer(2500);
    Queue(device, buffer);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(sink.WaitForCount(2));
    EXPECT_TRUE(buffer.Recorded() == frames + frames + frames.left(500));
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);

    settings.WaveFile = dir.path("missing.wav");
    Install(settings);
    EXPECT_EQ(waveInOpen(&device, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ERROR);
    EXPECT_NE(ErrorText(MMSYSERR_ERROR).find("missing.wav"), std::string::npos);
}

} // namespace

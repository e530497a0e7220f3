// Recording on the fake wave-in backend: the device's queue and notifications, and the recorder's
// WAVE file from the first block to the close notification.
#include "FileSizeLimit.h"
#include "TestFiles.h"
#include "WaveFixtures.h"
#include "audio/WaveRecorders.h"
#include "platform/Dialogs.h"
#include "platform/FakeWaveIn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <thread>

using namespace win; // the platform layer's Windows-style names

namespace {
// Fake settings with a few changes from the defaults.
TFakeWaveInSettings With(const std::function<void(TFakeWaveInSettings&)>& Change) {
    TFakeWaveInSettings settings;
    Change(settings);
    return settings;
}

class WaveRecording : public ::testing::Test {
protected:
    void SetUp() override { UseFake({}); }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
        SetWaveInBackend(nullptr);
    }

    void UseFake(TFakeWaveInSettings Settings) {
        Fake = std::make_shared<TFakeWaveInBackend>(std::move(Settings));
        SetWaveInBackend(Fake);
    }
    void CatchMessageBoxes() {
        SetMessageBoxHook([this](const QString& Text, const QString& Caption, UINT) {
            Boxes.push_back(Caption + ": " + Text);
            return IDOK;
        });
    }
    // The tone the fake device records, as bytes of the default format.
    QByteArray ExpectedAudio(DWORD Bytes) const {
        return Fake->Sound(PCMFormat(Mono16bit8000Hz), 0, Bytes / 2);
    }
    static bool IsFree(const QString& FileName) {
        try {
            TFileStream probe(FileName, fmOpenRead | fmShareDenyWrite);
            return true;
        } catch (const EFOpenError&) {
            return false;
        }
    }

    std::shared_ptr<TFakeWaveInBackend> Fake;
    QStringList Boxes;
    TestDir Dir;
};
} // namespace

TEST_F(WaveRecording, DefaultRecordingMakesTheWaveFileStepByStep) {
    UseFake(With([](TFakeWaveInSettings& s) { s.Speed = 4; })); // a buffer is 250 ms of real time
    const QString name = Dir.path("rec.wav");
    TStockAudioRecorder recorder;
    int activated = 0;
    int lastLevel = -2;
    recorder.OnActivate = [&](TWaveAudioIO*) { ++activated; };
    recorder.OnLevel = [&](TWaveAudioIO*, int Level) { lastLevel = Level; };
    bool completeAtDeactivate = false;
    recorder.OnDeactivate = [&](TWaveAudioIO*) {
        const QByteArray file = ReadWholeFile(name);
        completeAtDeactivate = IsFree(name) && file.size() >= 46 &&
                               ReadLittleEndian32(file, 42) == std::uint32_t(file.size() - 46) &&
                               ReadLittleEndian32(file, 4) == std::uint32_t(file.size() - 8);
    };

    ASSERT_TRUE(recorder.RecordToWaveFile(name));
    EXPECT_TRUE(recorder.GetActive());
    recorder.SetActive(true); // already recording: nothing happens
    ASSERT_TRUE(PumpUntil([&] { return ReadWholeFile(name).size() >= 46 + 2 * 16000; }));
    EXPECT_EQ(activated, 1);
    EXPECT_GT(lastLevel, 40); // the tone is at half scale

    const QByteArray midway = ReadWholeFile(name);
    EXPECT_EQ(ReadLittleEndian32(midway, 4), 0u);
    EXPECT_EQ(ReadLittleEndian32(midway, 42), 0u);
    EXPECT_EQ((midway.size() - 46) % 16000, 0); // whole buffers so far
    EXPECT_FALSE(IsFree(name));

    recorder.SetActive(false);
    EXPECT_TRUE(recorder.GetActive()); // closing until the notification arrives
    ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); }));
    EXPECT_TRUE(completeAtDeactivate);
    EXPECT_EQ(lastLevel, 0);

    const QByteArray file = ReadWholeFile(name);
    const DWORD audioBytes = DWORD(file.size() - 46);
    EXPECT_EQ(file.left(46).toHex(),
              (QByteArray("RIFF") + LittleEndian32(38 + audioBytes) + "WAVEfmt " + LittleEndian32(18) +
               QByteArray::fromHex("01000100401f0000803e000002001000") + QByteArray(2, '\0') + "data" +
               LittleEndian32(audioBytes))
                  .toHex());
    EXPECT_EQ(file.mid(46), ExpectedAudio(audioBytes)); // every block, in order, no gap
}

TEST_F(WaveRecording, StopRightAfterStartStillAppendsThePartialBuffer) {
    const QString name = Dir.path("short.wav");
    TStockAudioRecorder recorder;
    bool activated = false;
    recorder.OnActivate = [&](TWaveAudioIO*) { activated = true; };
    ASSERT_TRUE(recorder.RecordToWaveFile(name));
    ASSERT_TRUE(PumpUntil([&] { return activated; }));
    PumpFor(150); // a part of the first one-second buffer
    recorder.SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); }));
    const QByteArray file = ReadWholeFile(name);
    const DWORD audioBytes = DWORD(file.size() - 46);
    EXPECT_GT(audioBytes, 0u);
    EXPECT_LT(audioBytes, 16000u);
    EXPECT_EQ(ReadLittleEndian32(file, 42), audioBytes);
    EXPECT_EQ(file.mid(46), ExpectedAudio(audioBytes));
}

TEST_F(WaveRecording, StopBeforeTheOpenNotificationLeavesAnEmptyFinishedWave) {
    const QString name = Dir.path("none.wav");
    TStockAudioRecorder recorder;
    ASSERT_TRUE(recorder.RecordToWaveFile(name));
    recorder.SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); }));
    const QByteArray file = ReadWholeFile(name);
    ASSERT_EQ(file.size(), 46);
    EXPECT_EQ(ReadLittleEndian32(file, 4), 38u);
    EXPECT_TRUE(Boxes.isEmpty());
}

TEST_F(WaveRecording, DestroyingARecordingRecorderFinishesTheFile) {
    UseFake(With([](TFakeWaveInSettings& s) { s.Speed = 4; }));
    for (bool async : {false, true}) {
        SCOPED_TRACE(async ? "callback thread" : "callback window");
        const QString name = Dir.path(async ? "destroyed-thread.wav" : "destroyed-window.wav");
        {
            TStockAudioRecorder recorder;
            recorder.SetAsync(async);
            ASSERT_TRUE(recorder.RecordToWaveFile(name));
            ASSERT_TRUE(PumpUntil([&] { return ReadWholeFile(name).size() > 46; }));
        }
        EXPECT_TRUE(IsFree(name));
        const QByteArray file = ReadWholeFile(name);
        EXPECT_EQ(ReadLittleEndian32(file, 42), std::uint32_t(file.size() - 46));
        EXPECT_EQ(file.mid(46), ExpectedAudio(DWORD(file.size() - 46)));
    }
}

TEST_F(WaveRecording, BothNotificationStylesRecordTheSameBytes) {
    UseFake(With([](TFakeWaveInSettings& s) { s.Speed = 2; }));
    for (bool async : {false, true}) {
        SCOPED_TRACE(async ? "callback thread" : "callback window");
        const QString name = Dir.path(async ? "thread.wav" : "window.wav");
        TStockAudioRecorder recorder;
        recorder.SetAsync(async);
        // Enough buffers queued that a busy machine never leaves the device without one.
        recorder.SetBufferLength(100);
        recorder.SetBufferCount(6);
        std::atomic<int> blocks = 0;
        recorder.OnLevel = [&](TWaveAudioIO*, int) { ++blocks; };
        ASSERT_TRUE(recorder.RecordToWaveFile(name));
        ASSERT_TRUE(PumpUntil([&] { return blocks >= 12; }));
        recorder.SetActive(false);
        ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); }));
        const QByteArray file = ReadWholeFile(name);
        ASSERT_GE(file.size(), 46 + 10 * 1600);
        EXPECT_EQ(file.mid(46), ExpectedAudio(DWORD(file.size() - 46)));
    }
}

TEST_F(WaveRecording, ARefusedFormatLeavesAClosedEmptyWave) {
    UseFake(With([](TFakeWaveInSettings& s) { s.QueryResult = WAVERR_BADFORMAT; }));
    const QString name = Dir.path("refused.wav");
    TStockAudioRecorder recorder;
    try {
        recorder.RecordToWaveFile(name);
        FAIL() << "no error";
    } catch (const EWaveAudioSysError& error) {
        EXPECT_EQ(error.Message(), "Unsupported wave format.");
    }
    EXPECT_FALSE(recorder.GetActive());
    EXPECT_EQ(recorder.GetLastError(), WAVERR_BADFORMAT);
    const QByteArray file = ReadWholeFile(name);
    ASSERT_EQ(file.size(), 46);
    EXPECT_EQ(ReadLittleEndian32(file, 4), 38u);
    EXPECT_EQ(ReadLittleEndian32(file, 42), 0u);
    EXPECT_TRUE(IsFree(name));
}

TEST_F(WaveRecording, ARefusedOpenReturnsFalseAndTheStartThenNeedsAStock) {
    UseFake(With([](TFakeWaveInSettings& s) { s.OpenResult = MMSYSERR_ALLOCATED; }));
    const QString name = Dir.path("busy.wav");
    TStockAudioRecorder recorder;
    EXPECT_FALSE(recorder.RecordToWaveFile(name));
    EXPECT_FALSE(recorder.GetActive());
    EXPECT_EQ(ReadWholeFile(name).size(), 46);
    EXPECT_TRUE(IsFree(name));
    try {
        recorder.SetActive(true);
        FAIL() << "no error";
    } catch (const EWaveAudioInvalidOperation& error) {
        EXPECT_EQ(error.Message(), "Stock property is not assigned");
    }
}

TEST_F(WaveRecording, WithoutAStockNothingIsCreated) {
    TStockAudioRecorder recorder;
    EXPECT_THROW(recorder.SetActive(true), EWaveAudioInvalidOperation);
    EXPECT_EQ(Fake->Opens(), 0);

    struct TMemoryStorage : TCustomWaveStorage {
        TMemoryStream Stream;
        TStream* GetWaveStream(int) override { return &Stream; }
        void WaveStreamChanged(int) override {}
    };
    auto storage = std::make_unique<TMemoryStorage>();
    recorder.SetStock(storage.get());
    recorder.SetActive(true);
    EXPECT_TRUE(recorder.GetActive());
    recorder.SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); }));
    EXPECT_GE(storage->Stream.GetSize(), 46);
    storage.reset();
    EXPECT_EQ(recorder.GetStock(), nullptr);
    EXPECT_THROW(recorder.SetActive(true), EWaveAudioInvalidOperation);
}

TEST_F(WaveRecording, AFileHeldByOneRecorderCannotBeRecordedByAnother) {
    const QString name = Dir.path("shared.wav");
    WriteWholeFile(name, QByteArray(5000, 'x'));
    TStockAudioRecorder first;
    ASSERT_TRUE(first.RecordToWaveFile(name));
    EXPECT_EQ(ReadWholeFile(name).size(), 46); // the old content is replaced from its first byte
    TStockAudioRecorder second;
    EXPECT_THROW(second.RecordToWaveFile(name), EFCreateError);
    EXPECT_FALSE(second.GetActive());
    first.SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return !first.GetActive(); }));
    EXPECT_EQ(ReadLittleEndian32(ReadWholeFile(name), 4) + 8, std::uint32_t(ReadWholeFile(name).size()));
}

TEST_F(WaveRecording, DeviceStateRules) {
    TWaveAudioIn device;
    device.SetBufferCount(0);
    int activated = 0, deactivated = 0, levels = 0;
    device.OnActivate = [&](TWaveAudioIO*) { ++activated; };
    device.OnDeactivate = [&](TWaveAudioIO*) { ++deactivated; };
    device.OnLevel = [&](TWaveAudioIO*, int) { ++levels; };
    device.SetActive(true);
    ASSERT_TRUE(PumpUntil([&] { return activated == 1; }));
    EXPECT_THROW(device.SetPCMFormat(Mono8Bit8000Hz), EWaveAudioInvalidOperation);
    device.SetPCMFormat(Mono16bit8000Hz); // the same value is fine
    device.SetAsync(true);
    EXPECT_FALSE(device.GetAsync()); // not while active
    PumpFor(100);
    EXPECT_EQ(levels, 0); // no buffers, no blocks
    device.SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return !device.GetActive(); }));
    EXPECT_EQ(deactivated, 1);
    EXPECT_EQ(levels, 1); // the closing level 0
}

TEST_F(WaveRecording, PausedBeforeOpeningRecordsNothingUntilResumed) {
    UseFake(With([](TFakeWaveInSettings& s) { s.Speed = 8; }));
    TWaveAudioIn device;
    device.SetBufferLength(100);
    int activated = 0, paused = 0, resumed = 0;
    std::atomic<int> blocks = 0;
    device.OnActivate = [&](TWaveAudioIO*) { ++activated; };
    device.OnPause = [&](TWaveAudioIO*) { ++paused; };
    device.OnResume = [&](TWaveAudioIO*) { ++resumed; };
    device.OnData = [&](TWaveAudioIO*, const void*, DWORD) { ++blocks; };
    device.SetPaused(true);
    EXPECT_EQ(paused, 1);
    device.SetActive(true);
    ASSERT_TRUE(PumpUntil([&] { return activated == 1; }));
    PumpFor(200);
    EXPECT_EQ(blocks, 0);
    device.SetPaused(false);
    EXPECT_EQ(resumed, 1);
    ASSERT_TRUE(PumpUntil([&] { return blocks >= 3; }));
}

TEST_F(WaveRecording, AReceiverMayKeepTheBlock) {
    UseFake(With([](TFakeWaveInSettings& s) { s.Speed = 8; }));
    struct TKeeper : TWaveAudioIn {
        std::vector<void*> Kept;
        ~TKeeper() override {
            Shutdown();
            for (void* block : Kept)
                std::free(block);
        }
        void ProcessData(void* Buffer, DWORD, bool& FreeIt) override {
            Kept.push_back(Buffer);
            FreeIt = false;
        }
    } device;
    device.SetBufferLength(50);
    device.SetActive(true);
    ASSERT_TRUE(PumpUntil([&] { return device.Kept.size() >= 4; }));
    // Every block handed over is a different one: the device never reuses a kept block.
    std::vector<void*> kept = device.Kept;
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(std::unique(kept.begin(), kept.end()), kept.end());
}

TEST_F(WaveRecording, RefusedStartAndResetAndHandlerErrorsAreSurvived) {
    CatchMessageBoxes();
    UseFake(With([](TFakeWaveInSettings& s) {
        s.StartResult = MMSYSERR_ERROR;
        s.ResetResult = MMSYSERR_NOTSUPPORTED;
    }));
    TWaveAudioIn device;
    bool activated = false;
    device.OnActivate = [&](TWaveAudioIO*) { activated = true; };
    device.SetActive(true);
    ASSERT_TRUE(PumpUntil([&] { return activated && !Boxes.isEmpty(); }));
    EXPECT_TRUE(Boxes.front().startsWith("Application Error: ")) << Boxes.front().toStdString();
    EXPECT_TRUE(device.GetPaused()); // open, but not recording
    EXPECT_TRUE(device.GetActive());

    int errors = 0;
    device.OnError = [&](TWaveAudioIO*) { ++errors; };
    device.SetActive(false); // the reset is refused: the device stays open
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(device.GetLastError(), MMSYSERR_NOTSUPPORTED);
    EXPECT_TRUE(device.GetActive());

    Fake->SetSettings(With([](TFakeWaveInSettings& s) { s.Speed = 8; }));
    device.OnError = nullptr;
    Boxes.clear();
    device.SetBufferLength(50);
    int blocks = 0;
    device.OnLevel = [&](TWaveAudioIO*, int) {
        if (++blocks == 2)
            throw EWaveAudioInvalidOperation("handler failed");
    };
    device.SetPaused(false);
    ASSERT_TRUE(PumpUntil([&] { return blocks >= 5; })); // the device went on after the error
    EXPECT_EQ(Boxes, QStringList{"Application Error: handler failed"});
    device.OnLevel = nullptr;
    device.SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return !device.GetActive(); }));
}

TEST_F(WaveRecording, ARestartFromTheDeactivateEventRecordsAgain) {
    UseFake(With([](TFakeWaveInSettings& s) { s.Speed = 8; }));
    for (bool async : {false, true}) {
        SCOPED_TRACE(async ? "callback thread" : "callback window");
        const QString first = Dir.path(async ? "first-thread.wav" : "first-window.wav");
        const QString second = Dir.path(async ? "second-thread.wav" : "second-window.wav");
        TStockAudioRecorder recorder;
        recorder.SetAsync(async);
        recorder.SetBufferLength(100);
        std::atomic<int> deactivated = 0;
        std::atomic<bool> restarted = false;
        recorder.OnDeactivate = [&](TWaveAudioIO*) {
            // The callback thread that runs this is the one the new recording replaces.
            if (++deactivated == 1)
                restarted = recorder.RecordToWaveFile(second);
        };
        ASSERT_TRUE(recorder.RecordToWaveFile(first));
        ASSERT_TRUE(PumpUntil([&] { return ReadWholeFile(first).size() > 46; }));
        recorder.SetActive(false);
        ASSERT_TRUE(PumpUntil([&] { return restarted && ReadWholeFile(second).size() > 46 + 3200; }));
        EXPECT_TRUE(recorder.GetActive());
        recorder.SetActive(false);
        ASSERT_TRUE(PumpUntil([&] { return deactivated == 2; }));
        EXPECT_FALSE(recorder.GetActive());
        for (const QString& name : {first, second}) {
            const QByteArray file = ReadWholeFile(name);
            EXPECT_EQ(ReadLittleEndian32(file, 42), std::uint32_t(file.size() - 46)) << name.toStdString();
        }
    }
}

TEST_F(WaveRecording, SoundMissedWhileTheNotificationsWaitIsKeptAsSilenceOfItsLength) {
    TStockAudioRecorder recorder; // real time: two buffers of 100 ms
    recorder.SetBufferLength(100);
    const QString name = Dir.path("stalled.wav");
    ASSERT_TRUE(recorder.RecordToWaveFile(name));
    ASSERT_TRUE(PumpUntil([&] { return ReadWholeFile(name).size() > 46; }));
    // The notifications wait meanwhile, so the device runs out of buffers for about 400 ms.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_TRUE(PumpUntil([&] { return ReadWholeFile(name).size() > 46 + 16000; })); // a second
    recorder.SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); }));

    const DWORD gapBytes = recorder.GetGapTime() * 16;
    EXPECT_GT(gapBytes, 4800u);
    const QByteArray audio = ReadWholeFile(name).mid(46);
    const QByteArray expected = ExpectedAudio(DWORD(audio.size()));
    // The tone with silence in place of what was missed: every byte is the tone's at its place, or
    // a zero of the silence (the tone's own zero bytes hide a few of those).
    qsizetype silenced = 0;
    for (qsizetype i = 0; i < audio.size(); ++i) {
        if (audio[i] != expected[i]) {
            ASSERT_EQ(audio[i], 0) << "at byte " << i;
            ++silenced;
        }
    }
    EXPECT_LE(silenced, qsizetype(gapBytes) + 16);
    EXPECT_GE(silenced, qsizetype(gapBytes) * 9 / 10);
}

// A file stream that behaves as a disk with Free bytes left for it.
class TFullDiskStream : public TFileStream {
public:
    TFullDiskStream(const QString& FileName, std::int64_t Free)
        : TFileStream(FileName, fmCreate), FFree(Free) {}
    std::int32_t Write(const void* Buffer, std::int32_t Count) override {
        const std::int64_t room = std::max<std::int64_t>(0, FFree - GetPosition());
        if (room >= Count)
            return TFileStream::Write(Buffer, Count);
        // As the system does: what fits is written, and the write after it fails.
        const std::int32_t written = room > 0 ? TFileStream::Write(Buffer, std::int32_t(room)) : 0;
        errno = ENOSPC;
        if (written > 0)
            return written;
        throw EWriteError(QStringLiteral("Stream write error: %1").arg(SysErrorMessage(ENOSPC)));
    }

private:
    std::int64_t FFree;
};

TEST_F(WaveRecording, AFullDiskStopsTheRecordingWithTheSystemsReasonAndTheFile) {
    UseFake(With([](TFakeWaveInSettings& s) { s.Speed = 2; }));
    constexpr std::int64_t room = 46 + 4 * 1600 + 700;
    struct TCase {
        const char* Name;
        int Error;
        bool SizeLimit; // else a stream that acts as a full disk
    };
    for (const TCase& c : {TCase{"limit.wav", EFBIG, true}, TCase{"full.wav", ENOSPC, false}}) {
        SCOPED_TRACE(c.Name);
        const QString name = Dir.path(c.Name);
        TStockAudioRecorder recorder;
        recorder.SetBufferLength(100);
        recorder.SetBufferCount(4); // a busy machine never leaves the device without one
        QStringList errors;
        recorder.OnError = [&](TWaveAudioIO* Sender) { errors << Sender->LastErrorText(); };
        {
            std::optional<TFileSizeLimit> limit;
            if (c.SizeLimit) {
                limit.emplace(room);
                ASSERT_TRUE(recorder.RecordToWaveFile(name));
            } else {
                ASSERT_TRUE(recorder.RecordToStream(new TFullDiskStream(name, room), 1));
            }
            ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); })) << "it stops by itself";
        }
        ASSERT_EQ(errors.size(), 1) << errors.join(" | ").toStdString();
        EXPECT_TRUE(recorder.RecordingFailed());
        EXPECT_TRUE(errors[0].contains(SysErrorMessage(c.Error))) << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains(name)) << errors[0].toStdString();
        EXPECT_TRUE(errors[0].startsWith("The sound recording")) << errors[0].toStdString();

        // What fitted is a finished WAVE of the sound up to there.
        const QByteArray file = ReadWholeFile(name);
        EXPECT_EQ(file.size(), room);
        EXPECT_EQ(ReadLittleEndian32(file, 4), std::uint32_t(file.size() - 8));
        EXPECT_EQ(ReadLittleEndian32(file, 42), std::uint32_t(file.size() - 46));
        EXPECT_EQ(file.mid(46), ExpectedAudio(DWORD(file.size() - 46)));
        EXPECT_TRUE(IsFree(name));
    }
}

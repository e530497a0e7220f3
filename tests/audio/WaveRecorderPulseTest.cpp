// A whole recording on the private PulseAudio server: a tone plays into the test sink, the recorder
// records that sink's monitor while another source stays the system's default, and its WAV file
// holds the tone; a server that dies during a recording ends it with the reason.
#include "PrivatePulseServer.h"
#include "TestFiles.h"
#include "WaveFixtures.h"
#include "audio/WaveMixer.h"
#include "audio/WaveRecorders.h"

#include <QProcess>
#include <cmath>
#include <gtest/gtest.h>
#include <signal.h>

namespace {
double RootMeanSquare(const QByteArray& Samples16) {
    double sum = 0;
    const int count = int(Samples16.size() / 2);
    for (int i = 0; i < count; ++i) {
        const double sample = std::int16_t(ReadLittleEndian16(Samples16, i * 2));
        sum += sample * sample;
    }
    return count ? std::sqrt(sum / count) : 0;
}
} // namespace

TEST(PulseRecording, ToneIntoTheSinkEndsUpInTheWaveFile) {
    TestDir dir;
    // Another source is the system's default, and stays so: the recorder records the monitor of the
    // sink where the program plays without it.
    const QString module = QString::fromUtf8(
        RunProgram("pactl", {"load-module", "module-null-source", "source_name=vantrel_other"}).trimmed());
    RunProgram("pactl", {"set-default-source", "vantrel_other"});
    {
        TAudioMixer mixer;
        EXPECT_EQ(SelectWaveOutputLine(mixer), "Monitor of Vantrel_test_sink");
    }

    RunProgram("sox", {"-n", "-r", "44100", "-c", "2", dir.path("tone.wav"), "synth", "8", "sine", "1000",
                       "vol", "0.5"});
    QProcess player;
    // A short latency makes the sink render in small steps, so its monitor delivers in step too.
    player.start("paplay", {"--latency-msec=40", dir.path("tone.wav")});
    ASSERT_TRUE(player.waitForStarted());
    // As when a movie plays before its conversion starts: a null sink that has just woken up feeds its
    // monitor only after about two seconds.
    PumpFor(2500);

    const QString name = dir.path("recorded.wav");
    TStockAudioRecorder recorder;
    recorder.SetDeviceID(WAVE_PLAYBACK_MONITOR);
    QElapsedTimer clock;
    qint64 activatedAt = -1;
    recorder.OnActivate = [&](TWaveAudioIO*) { activatedAt = clock.elapsed(); };
    clock.start();
    ASSERT_TRUE(recorder.RecordToWaveFile(name));
    ASSERT_TRUE(PumpUntil([&] { return activatedAt >= 0; }));
    PumpFor(2300);
    const qint64 stoppedAt = clock.elapsed();
    recorder.SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); }));
    player.kill();
    player.waitForFinished();
    EXPECT_EQ(RunProgram("pactl", {"get-default-source"}).trimmed(), "vantrel_other");
    RunProgram("pactl", {"unload-module", module});

    const QByteArray file = ReadWholeFile(name);
    ASSERT_GT(file.size(), 46);
    const DWORD audioBytes = DWORD(file.size() - 46);
    EXPECT_EQ(file.left(46).toHex(),
              (QByteArray("RIFF") + LittleEndian32(38 + audioBytes) + "WAVEfmt " + LittleEndian32(18) +
               QByteArray::fromHex("01000100401f0000803e0000020010000000") + "data" +
               LittleEndian32(audioBytes))
                  .toHex());
    const double recordedMs = audioBytes / 16.0;
    EXPECT_NEAR(recordedMs, double(stoppedAt - activatedAt), 100);
    // A half-scale tone averaged to mono is far above silence (a few units at most).
    EXPECT_GT(RootMeanSquare(file.mid(46)), 3000);
}

TEST(PulseRecording, AServerThatDiesStopsTheRecordingAndSaysWhy) {
    TPrivatePulseServer server;
    ASSERT_GT(server.Pid(), 0);
    TestDir dir;
    const QString name = dir.path("cut.wav");
    TStockAudioRecorder recorder;
    recorder.SetBufferLength(100);
    QStringList errors;
    recorder.OnError = [&](TWaveAudioIO* Sender) { errors << Sender->LastErrorText(); };
    ASSERT_TRUE(recorder.RecordToWaveFile(name));
    ASSERT_TRUE(PumpUntil([&] { return ReadWholeFile(name).size() > 46 + 3200; }));

    ASSERT_EQ(::kill(server.Pid(), SIGKILL), 0);
    ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); })) << "it stops by itself";
    ASSERT_EQ(errors.size(), 1) << errors.join(" | ").toStdString();
    EXPECT_TRUE(recorder.RecordingFailed());
    EXPECT_TRUE(errors[0].startsWith("The sound recording \"" + name + "\" stopped: "))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("The sound server was lost")) << errors[0].toStdString();

    // What was recorded is kept as a finished WAVE.
    const QByteArray file = ReadWholeFile(name);
    EXPECT_GT(file.size(), 46 + 3200);
    EXPECT_EQ(ReadLittleEndian32(file, 4), std::uint32_t(file.size() - 8));
    EXPECT_EQ(ReadLittleEndian32(file, 42), std::uint32_t(file.size() - 46));
}

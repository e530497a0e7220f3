// The recording mixer on a private PulseAudio server (started by CTest): the sound card's output is
// its null sink's monitor, which the search must find and name without touching the default source.
#include "TestFiles.h"
#include "audio/WaveMixer.h"
#include "platform/PlaybackSink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

namespace {

const QString TestMonitor = QStringLiteral("Monitor of Vantrel_test_sink");

QString Pactl(const QStringList& Arguments) {
    QProcess process;
    process.start(QStringLiteral("pactl"), Arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        ADD_FAILURE() << "pactl " << Arguments.join(' ').toStdString() << ": "
                      << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString DefaultSource() {
    return Pactl({QStringLiteral("get-default-source")});
}

// A server module loaded for the life of the object.
class TLoadedModule {
public:
    explicit TLoadedModule(const QStringList& Arguments) {
        bool ok = false;
        const int index = Pactl(QStringList{QStringLiteral("load-module")} + Arguments).toInt(&ok);
        if (ok)
            FIndex = index;
    }
    TLoadedModule(const TLoadedModule&) = delete;
    TLoadedModule& operator=(const TLoadedModule&) = delete;
    ~TLoadedModule() {
        if (FIndex)
            Pactl({QStringLiteral("unload-module"), QString::number(*FIndex)});
    }

private:
    std::optional<int> FIndex;
};

// A plain source that is no monitor and no microphone.
TLoadedModule NullSource(const QString& Name) {
    return TLoadedModule({QStringLiteral("module-null-source"), QStringLiteral("source_name=") + Name,
                          QStringLiteral("description=") + Name});
}

// A source whose properties say microphone (it records the test sink's monitor).
TLoadedModule MicrophoneSource(const QString& Name) {
    return TLoadedModule(
        {QStringLiteral("module-remap-source"), QStringLiteral("source_name=") + Name,
         QStringLiteral("master=vantrel_sink.monitor"),
         QStringLiteral("source_properties='device.description=%1 device.form_factor=microphone'")
             .arg(Name)});
}

int LineNamed(TAudioMixer& Mixer, const QString& Name) {
    for (int i = 0; i < Mixer.LineCount(); ++i)
        if (Mixer.Lines(i)->LineName() == Name)
            return i;
    return -1;
}

class WaveMixerPulse : public ::testing::Test {
protected:
    void SetUp() override {
        SetMixerBackend(nullptr);
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            << "run through ctest, which starts the server";
        ASSERT_EQ(DefaultSource(), QStringLiteral("vantrel_sink.monitor"));
    }
    void TearDown() override {
        Pactl({QStringLiteral("set-default-source"), QStringLiteral("vantrel_sink.monitor")});
    }
};

TEST_F(WaveMixerPulse, WaveOutputLineIsFoundAndNamedLeavingTheDefaultSource) {
    TLoadedModule microphone = MicrophoneSource(QStringLiteral("vantrel_mic"));
    TLoadedModule plain = NullSource(QStringLiteral("vantrel_plain"));
    Pactl({QStringLiteral("set-default-source"), QStringLiteral("vantrel_plain")});

    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerCount(), 1u);
    EXPECT_EQ(mixer.MixerName(), QStringLiteral("PulseAudio sound server"));
    EXPECT_EQ(mixer.DestinationCount(), 1);
    EXPECT_EQ(mixer.DestinationName(), QStringLiteral("Recording"));
    EXPECT_EQ(mixer.Destination()->KindIndex(), 7);
    EXPECT_EQ(mixer.Destination()->ControlSet(), TMixerControlSet().set(mcSelect));
    EXPECT_EQ(mixer.Destination()->Controls()[mcSelect].cMultipleItems, mixer.LineCount());

    const int monitor = LineNamed(mixer, TestMonitor);
    const int mic = LineNamed(mixer, QStringLiteral("vantrel_mic"));
    const int other = LineNamed(mixer, QStringLiteral("vantrel_plain"));
    ASSERT_GE(monitor, 0);
    ASSERT_GE(mic, 0);
    ASSERT_GE(other, 0);
    EXPECT_EQ(mixer.Lines(monitor)->KindIndex(), 17);
    EXPECT_EQ(mixer.Lines(mic)->KindIndex(), 12);
    EXPECT_EQ(mixer.Lines(other)->KindIndex(), 9);
    EXPECT_EQ(mixer.Lines(monitor)->ControlSet(), TMixerControlSet().set(mcVolume).set(mcMute));
    // The list control reports the server's default source.
    EXPECT_EQ(mixer.Destination()->FindSourceItem(other, mcSelect), other);

    EXPECT_EQ(SelectWaveOutputLine(mixer), TestMonitor);
    EXPECT_EQ(DefaultSource(), QStringLiteral("vantrel_plain"));
}

TEST_F(WaveMixerPulse, SearchNamesTheMonitorOfTheSinkWhereTheProgramPlays) {
    // Listed after the test sink, so a search that keeps the last monitor names this one.
    TLoadedModule second({QStringLiteral("module-null-sink"), QStringLiteral("sink_name=vantrel_second"),
                          QStringLiteral("sink_properties=device.description=Vantrel_second_sink")});
    TAudioMixer mixer;
    ASSERT_GE(LineNamed(mixer, QStringLiteral("Monitor of Vantrel_second_sink")), 0);
    EXPECT_EQ(SelectWaveOutputLine(mixer), TestMonitor) << "the default sink plays";
    SetPlaybackSink(QStringLiteral("vantrel_second"));
    const QString named = SelectWaveOutputLine(mixer);
    SetPlaybackSink({});
    EXPECT_EQ(named, QStringLiteral("Monitor of Vantrel_second_sink"));
    EXPECT_EQ(DefaultSource(), QStringLiteral("vantrel_sink.monitor"));
}

TEST_F(WaveMixerPulse, ServerChangesArriveAsNotices) {
    TAudioMixer mixer;
    std::vector<TAudioMixerLine*> lineNotices;
    std::vector<std::pair<TAudioMixerLine*, TMixerControlType>> controlNotices;
    mixer.OnLineChange = [&](TAudioMixer*, TAudioMixerLine* Line) { lineNotices.push_back(Line); };
    mixer.OnControlChange = [&](TAudioMixer*, TAudioMixerLine* Line, TMixerControlType Type) {
        controlNotices.emplace_back(Line, Type);
    };

    TLoadedModule plain = NullSource(QStringLiteral("vantrel_plain"));
    ASSERT_TRUE(PumpUntil([&] { return !lineNotices.empty(); }));
    EXPECT_EQ(lineNotices.front(), mixer.Destination()); // a source came

    // One server change may bring several notices, some late; each step waits for its own.
    const auto noticed = [&](TAudioMixerLine* Line, TMixerControlType Type) {
        return PumpUntil([&] {
            return std::find(controlNotices.begin(), controlNotices.end(), std::make_pair(Line, Type)) !=
                   controlNotices.end();
        });
    };
    controlNotices.clear();
    Pactl({QStringLiteral("set-default-source"), QStringLiteral("vantrel_plain")});
    EXPECT_TRUE(noticed(mixer.Destination(), mcSelect));

    const int monitor = LineNamed(mixer, TestMonitor);
    ASSERT_GE(monitor, 0);
    controlNotices.clear();
    Pactl({QStringLiteral("set-source-mute"), QStringLiteral("vantrel_sink.monitor"), QStringLiteral("1")});
    const bool muteNoticed = noticed(mixer.Lines(monitor), mcMute);
    Pactl({QStringLiteral("set-source-mute"), QStringLiteral("vantrel_sink.monitor"), QStringLiteral("0")});
    EXPECT_TRUE(muteNoticed);
}

TEST_F(WaveMixerPulse, WithoutAServerThereIsNoDevice) {
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/vantrel-no-server");
    {
        TAudioMixer mixer;
        EXPECT_EQ(mixer.MixerCount(), 0u);
        EXPECT_EQ(mixer.LineCount(), 0);
        EXPECT_EQ(mixer.Handle(), nullptr);
        EXPECT_TRUE(SelectWaveOutputLine(mixer).isEmpty());
    }
    qputenv("PULSE_SERVER", server);
    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerCount(), 1u);
    EXPECT_GE(mixer.LineCount(), 1);
}

} // namespace

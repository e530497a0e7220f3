// The recording mixer over the scripted mixer backend: device and destination choice, switching the
// destination to a source, the search for the line of the program's sound, change notices, and the
// mixer service's checks of its requests.
#include "audio/WaveMixer.h"
#include "TestFiles.h"
#include "platform/FakeMixer.h"
#include "platform/FakeWaveIn.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstring>
#include <gtest/gtest.h>

using namespace win; // the platform layer's Windows-style names

namespace {

const std::vector<TFakeMixerLine> SoundCardLines = {
    {QStringLiteral("Microphone"), MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
    {QStringLiteral("Line In"), MIXERLINE_COMPONENTTYPE_SRC_LINE},
    {QStringLiteral("Stereo Mix"), MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},
};

TMixerModel SoundCard(const QString& Name = QStringLiteral("Sound card"), bool Mux = true, bool Mix = false) {
    return TFakeMixerBackend::Device(Name,
                                     {TFakeMixerBackend::RecordingDestination(SoundCardLines, 0, Mux, Mix)});
}

class WaveMixer : public ::testing::Test {
protected:
    void TearDown() override { SetMixerBackend(nullptr); }

    TFakeMixerBackend& Install(std::vector<TMixerModel> Devices) {
        FBackend = std::make_shared<TFakeMixerBackend>(std::move(Devices));
        SetMixerBackend(FBackend);
        return *FBackend;
    }

    std::shared_ptr<TFakeMixerBackend> FBackend;
};

TEST_F(WaveMixer, WithoutDevicesEverythingIsEmpty) {
    Install({});
    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerCount(), 0u);
    EXPECT_EQ(mixer.DestinationCount(), 0);
    EXPECT_EQ(mixer.LineCount(), 0);
    EXPECT_EQ(mixer.Handle(), nullptr);
    EXPECT_EQ(mixer.LastError(), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(mixer.Destination()->LastError(), MMSYSERR_INVALHANDLE);
    EXPECT_TRUE(mixer.MixerName().isEmpty());
    EXPECT_TRUE(mixer.DestinationName().isEmpty());
    QStringList names{QStringLiteral("kept")};
    EXPECT_EQ(mixer.GetMixerNames(names), 0);
    EXPECT_EQ(mixer.GetDestinationNames(names), 0);
    EXPECT_EQ(names, QStringList{QStringLiteral("kept")});
    EXPECT_TRUE(SelectWaveOutputLine(mixer).isEmpty());
    try {
        mixer.Lines(0);
        FAIL() << "no exception";
    } catch (const EListError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("List index out of bounds (0)"));
    }
    mixer.Destination()->SelectSource(0);
    EXPECT_EQ(mixer.Destination()->LastError(), MIXERR_INVALCONTROL);
}

TEST_F(WaveMixer, ReadsTheLinesAndControlsOfTheDestination) {
    Install({SoundCard()});
    TAudioMixer mixer;
    EXPECT_EQ(mixer.LastError(), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer.MixerName(), QStringLiteral("Sound card"));
    EXPECT_EQ(mixer.DestinationCount(), 1);
    EXPECT_EQ(mixer.DestinationName(), QStringLiteral("Recording"));
    ASSERT_EQ(mixer.LineCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(mixer.Lines(i)->LineName(), SoundCardLines[std::size_t(i)].Name);
        EXPECT_EQ(mixer.Lines(i)->Index(), i);
        EXPECT_TRUE(mixer.Lines(i)->ControlSet().none());
    }
    EXPECT_THROW(mixer.Lines(3), EListError);
    EXPECT_THROW(mixer.Lines(-1), EListError);

    const TAudioMixerLine& destination = *mixer.Destination();
    EXPECT_EQ(destination.ControlSet(), TMixerControlSet().set(mcSelect));
    EXPECT_EQ(destination.Controls()[mcSelect].dwControlType, MIXERCONTROL_CONTROLTYPE_MUX);
    EXPECT_EQ(destination.Controls()[mcSelect].cMultipleItems, 3u);
    for (TMixerControlType absent : {mcVolume, mcMute, mcMix}) {
        const MIXERCONTROLW zero{};
        EXPECT_EQ(std::memcmp(&destination.Controls()[absent], &zero, sizeof(zero)), 0) << absent;
    }
}

TEST_F(WaveMixer, KindIndexFollowsTheComponentType) {
    const std::vector<std::pair<DWORD, int>> cases = {
        {MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED, 9},
        {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 12},
        {MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 17},
        {MIXERLINE_COMPONENTTYPE_SRC_ANALOG, 19},
        {MIXERLINE_COMPONENTTYPE_DST_VOICEIN, 8},
        {MIXERLINE_COMPONENTTYPE_SRC_LAST + 1, 0},
        {0x0009, 0},
        {0x0FFF, 0},
    };
    std::vector<TFakeMixerLine> lines;
    for (const auto& [type, kind] : cases)
        lines.push_back({QStringLiteral("Line %1").arg(type, 0, 16), type});
    Install({TFakeMixerBackend::Device(QStringLiteral("Card"),
                                       {TFakeMixerBackend::RecordingDestination(lines, 0)})});
    TAudioMixer mixer;
    EXPECT_EQ(mixer.Destination()->KindIndex(), 7); // DST_WAVEIN
    ASSERT_EQ(mixer.LineCount(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(mixer.Lines(int(i))->KindIndex(), cases[i].second) << std::hex << cases[i].first;
}

TEST_F(WaveMixer, SearchNamesTheLineOfTheProgramsSoundAndSwitchesNothing) {
    struct Case {
        const char* Name;
        std::vector<TFakeMixerLine> Lines;
        int PlaybackMonitor; // the wave-in device (here in the order of the lines) of the program's sound
        QString Kept;
    };
    const DWORD out = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    const DWORD mic = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    const std::vector<TFakeMixerLine> two = {{"Monitor A", out}, {"Mic", mic}, {"Monitor B", out}};
    const std::vector<Case> cases = {
        {"one", SoundCardLines, -1, QStringLiteral("Stereo Mix")},
        {"two, playing to the first", two, 0, "Monitor A"},
        {"two, playing to the second", two, 2, "Monitor B"},
        {"two, playing elsewhere", two, -1, "Monitor B"},
        {"two, the device is no output's", two, 1, "Monitor B"},
        {"none", {{"Mic", mic}}, 0, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeMixerBackend& backend = Install(
            {TFakeMixerBackend::Device("Card", {TFakeMixerBackend::RecordingDestination(c.Lines, -1)})});
        TFakeWaveInSettings recording;
        recording.Devices.clear();
        for (const TFakeMixerLine& line : c.Lines)
            recording.Devices.push_back(line.Name);
        recording.PlaybackMonitor = c.PlaybackMonitor;
        SetWaveInBackend(std::make_shared<TFakeWaveInBackend>(recording));
        TAudioMixer mixer;
        EXPECT_EQ(SelectWaveOutputLine(mixer), c.Kept);
        EXPECT_TRUE(backend.Sets().empty()) << "the recording source was switched";
        SetWaveInBackend(nullptr);
    }
}

TEST_F(WaveMixer, DestinationWithBothListsSwitchesThroughTheMultiSelectOne) {
    TFakeMixerBackend& backend = Install({SoundCard(QStringLiteral("Card"), true, true)});
    TAudioMixer mixer;
    EXPECT_EQ(mixer.Destination()->ControlSet(), TMixerControlSet().set(mcSelect).set(mcMix));
    mixer.Destination()->SelectSource(2);
    EXPECT_EQ(mixer.Destination()->LastError(), MMSYSERR_NOERROR);
    ASSERT_EQ(backend.Sets().size(), 1u);
    EXPECT_EQ(backend.Sets()[0].ControlID, 2u); // the MIXER
    EXPECT_EQ(backend.Sets()[0].Values, (std::vector<LONG>{0, 0, 1}));
}

TEST_F(WaveMixer, SourceSwitchFailuresLeaveTheirCodes) {
    TFakeMixerBackend& backend = Install({SoundCard()});
    backend.Change(0, [](TMixerModel& Model) {
        Model.Destinations[0].Line.Controls[0].Items[1].Name = QStringLiteral("Something else");
    });
    TAudioMixer mixer;
    // Found: the code of the search stays, as the caller only looks at the index.
    EXPECT_EQ(mixer.Destination()->FindSourceItem(2, mcSelect), 2);
    EXPECT_EQ(mixer.Destination()->LastError(), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixer.Destination()->FindSourceItem(1, mcSelect), -1);
    EXPECT_EQ(mixer.Destination()->FindSourceItem(1, mcMix), -1);
    EXPECT_EQ(mixer.Destination()->LastError(), MIXERR_INVALCONTROL);

    mixer.Destination()->SelectSource(1);
    EXPECT_EQ(mixer.Destination()->LastError(), MMSYSERR_INVALPARAM);
    EXPECT_TRUE(backend.Sets().empty());

    backend.SetSetResult(MMSYSERR_NODRIVER);
    mixer.Destination()->SelectSource(0);
    EXPECT_EQ(mixer.Destination()->LastError(), MMSYSERR_NODRIVER);
    mixer.Lines(0)->SelectSource(0); // a source line has no list to switch
    EXPECT_EQ(mixer.Lines(0)->LastError(), MIXERR_INVALCONTROL);
}

TEST_F(WaveMixer, LongNamesAreCutAlikeInLinesAndListItems) {
    const QString longName(70, QLatin1Char('n'));
    Install({TFakeMixerBackend::Device(
        QString(40, QLatin1Char('d')),
        {TFakeMixerBackend::RecordingDestination({{longName + "1", MIXERLINE_COMPONENTTYPE_SRC_LINE},
                                                  {longName + "2", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT}},
                                                 0)})});
    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerName(), QString(31, QLatin1Char('d')));
    EXPECT_EQ(mixer.Lines(1)->LineName(), longName.left(63));
    EXPECT_EQ(QString::fromUtf16(mixer.Lines(1)->LineInfo().szShortName), longName.left(15));
    // Both lines now have the same name: the first matching item is the one switched to.
    EXPECT_EQ(mixer.Destination()->FindSourceItem(1, mcSelect), 0);
}

TEST_F(WaveMixer, MixerIdChangesOnlyToAnotherExistingDevice) {
    Install({SoundCard(QStringLiteral("First")), SoundCard(QStringLiteral("Second"))});
    TAudioMixer mixer;
    const HMIXER first = mixer.Handle();
    for (UINT id : {0u, 2u, 0xFFFFu, 0x10001u}) {
        mixer.SetMixerID(id);
        EXPECT_EQ(mixer.MixerID(), 0u) << id;
        EXPECT_EQ(mixer.Handle(), first) << id; // not reopened
    }
    mixer.SetMixerID(1);
    EXPECT_EQ(mixer.MixerID(), 1u);
    EXPECT_EQ(mixer.MixerName(), QStringLiteral("Second"));
    EXPECT_NE(mixer.Handle(), first);
    EXPECT_EQ(mixer.LineCount(), 3);
}

TEST_F(WaveMixer, DestinationIdOutOfRangeFallsBackToTheFirst) {
    TMixerModel card = SoundCard();
    TMixerDestinationModel second = TFakeMixerBackend::RecordingDestination(
        {{QStringLiteral("Only"), MIXERLINE_COMPONENTTYPE_SRC_ANALOG}}, 0, true, false, 1);
    second.Line.Name = QStringLiteral("Voice");
    card.Destinations.push_back(second);
    Install({card});
    TAudioMixer mixer;
    const HMIXER handle = mixer.Handle();
    EXPECT_EQ(mixer.DestinationCount(), 2);
    QStringList names;
    EXPECT_EQ(mixer.GetDestinationNames(names), 2);
    EXPECT_EQ(names, (QStringList{QStringLiteral("Recording"), QStringLiteral("Voice")}));

    mixer.SetDestinationID(5);
    EXPECT_EQ(mixer.DestinationID(), 0u);
    EXPECT_EQ(mixer.LineCount(), 3);

    mixer.SetDestinationName(QStringLiteral("vOICE"));
    EXPECT_EQ(mixer.DestinationID(), 1u);
    EXPECT_EQ(mixer.DestinationName(), QStringLiteral("Voice"));
    EXPECT_EQ(mixer.Handle(), handle); // the device stays open
    ASSERT_EQ(mixer.LineCount(), 1);
    EXPECT_EQ(mixer.Lines(0)->LineName(), QStringLiteral("Only"));
    EXPECT_EQ(mixer.Lines(0)->LineInfo().dwDestination, 1u);
}

TEST_F(WaveMixer, MixerNameMatchesWithoutRegardToCase) {
    Install({SoundCard(QStringLiteral("Alpha")), SoundCard(QStringLiteral("Beta"))});
    TAudioMixer mixer;
    QStringList names;
    EXPECT_EQ(mixer.GetMixerNames(names), 2);
    EXPECT_EQ(names, (QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta")}));
    mixer.SetMixerName(QStringLiteral("Gamma"));
    EXPECT_EQ(mixer.MixerID(), 0u);
    mixer.SetMixerName(QStringLiteral("bETA"));
    EXPECT_EQ(mixer.MixerID(), 1u);
    EXPECT_EQ(mixer.MixerName(), QStringLiteral("Beta"));
    mixer.SetMixerName(QStringLiteral("ALPHA"));
    EXPECT_EQ(mixer.MixerID(), 0u);
}

class WaveMixerNotices : public WaveMixer {
protected:
    struct Notice {
        TAudioMixerLine* Line;
        int ControlType; // -1 for a line notice
        bool operator==(const Notice&) const = default;
    };

    void Listen(TAudioMixer& Mixer) {
        Mixer.OnLineChange = [this, &Mixer](TAudioMixer* Sender, TAudioMixerLine* Line) {
            EXPECT_EQ(Sender, &Mixer);
            FNotices.push_back({Line, -1});
        };
        Mixer.OnControlChange = [this, &Mixer](TAudioMixer* Sender, TAudioMixerLine* Line,
                                               TMixerControlType Type) {
            EXPECT_EQ(Sender, &Mixer);
            FNotices.push_back({Line, Type});
        };
    }

    std::vector<Notice> FNotices;
};

TEST_F(WaveMixerNotices, ChangesOfTheDeviceReachTheEvents) {
    TFakeMixerBackend& backend = Install({SoundCard()});
    TAudioMixer mixer;
    Listen(mixer);

    mixer.Destination()->SelectSource(2);
    ASSERT_TRUE(PumpUntil([&] { return !FNotices.empty(); }));
    EXPECT_EQ(FNotices, (std::vector<Notice>{{mixer.Destination(), mcSelect}}));

    FNotices.clear();
    backend.Change(0, [](TMixerModel& Model) {
        Model.Destinations[0].Sources[1].Name = QStringLiteral("Line");
        Model.Destinations[0].Line.Controls[0].Items[1].Name = QStringLiteral("Line");
    });
    ASSERT_TRUE(PumpUntil([&] { return FNotices.size() >= 2; }));
    // The renamed line, and the list whose item text changed with it.
    EXPECT_EQ(FNotices, (std::vector<Notice>{{mixer.Lines(1), -1}, {mixer.Destination(), mcSelect}}));

    FNotices.clear();
    backend.Change(0, [](TMixerModel& Model) { Model.Destinations[0].Sources.pop_back(); });
    ASSERT_TRUE(PumpUntil([&] { return !FNotices.empty(); }));
    EXPECT_EQ(FNotices.front(), (Notice{mixer.Destination(), -1}));
}

TEST_F(WaveMixerNotices, ControlIdSharedWithASourceGoesToTheDestination) {
    TMixerModel card = SoundCard();
    TMixerControlModel volume;
    volume.Id = card.Destinations[0].Line.Controls[0].Id; // the MUX's id
    volume.Type = MIXERCONTROL_CONTROLTYPE_VOLUME;
    volume.Maximum = 0xFFFF;
    volume.Values = {0x8000};
    card.Destinations[0].Sources[1].Controls.push_back(volume);
    TFakeMixerBackend& backend = Install({card});
    TAudioMixer mixer;
    Listen(mixer);
    ASSERT_TRUE(mixer.Lines(1)->ControlSet().test(mcVolume));

    backend.Change(0, [](TMixerModel& Model) { Model.Destinations[0].Sources[1].Controls[0].Values = {1}; });
    ASSERT_TRUE(PumpUntil([&] { return !FNotices.empty(); }));
    EXPECT_EQ(FNotices, (std::vector<Notice>{{mixer.Destination(), mcSelect}}));
}

TEST_F(WaveMixerNotices, NoticesOfOtherHandlesAndMessagesAreNotEvents) {
    Install({SoundCard()});
    TAudioMixer mixer;
    Listen(mixer);
    const WPARAM other = WPARAM(mixer.Handle()) + 1;
    EXPECT_EQ(
        mixer.MixerWndProc(MM_MIXM_LINE_CHANGE, other, LPARAM(mixer.Destination()->LineInfo().dwLineID)), 0);
    EXPECT_EQ(mixer.MixerWndProc(MM_MIXM_CONTROL_CHANGE, other, 1), 0);
    EXPECT_EQ(mixer.MixerWndProc(MM_MIXM_LINE_CHANGE, WPARAM(mixer.Handle()), 0x7777), 0); // unknown line
    mixer.MixerWndProc(WM_USER, WPARAM(mixer.Handle()), 1);
    EXPECT_TRUE(FNotices.empty());
    EXPECT_EQ(mixer.MixerWndProc(MM_MIXM_LINE_CHANGE, WPARAM(mixer.Handle()),
                                 LPARAM(mixer.Lines(2)->LineInfo().dwLineID)),
              0);
    EXPECT_EQ(FNotices, (std::vector<Notice>{{mixer.Lines(2), -1}}));
}

// The service's own checks, which the components never trip over.
TEST_F(WaveMixer, ServiceRejectsMalformedRequests) {
    Install({SoundCard()});
    HMIXER handle = reinterpret_cast<HMIXER>(1);
    EXPECT_EQ(mixerOpen(&handle, 0, 0, 0, 0x00030000), MMSYSERR_INVALFLAG); // a callback function
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(mixerOpen(&handle, 0, 12345, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM); // no such window
    EXPECT_EQ(mixerOpen(&handle, 1, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    ASSERT_EQ(mixerOpen(&handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);

    MIXERLINEW line{};
    line.cbStruct = sizeof(line);
    line.dwSource = 3;
    EXPECT_EQ(mixerGetLineInfoW(handle, &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE),
              MIXERR_INVALLINE);
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    ASSERT_EQ(mixerGetLineInfoW(handle, &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE), 0u);
    EXPECT_EQ(line.dwSource, 2u);
    EXPECT_EQ(line.fdwLine & MIXERLINE_LINEF_SOURCE, MIXERLINE_LINEF_SOURCE);
    EXPECT_EQ(mixerGetLineInfoW(handle, &line, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOTSUPPORTED); // by id
    EXPECT_EQ(mixerGetLineInfoW(handle, &line, MIXER_OBJECTF_HMIXER | 0x100), MMSYSERR_INVALFLAG);
    line.cbStruct = sizeof(line) - 1;
    EXPECT_EQ(mixerGetLineInfoW(handle, &line, MIXER_OBJECTF_HMIXER), MMSYSERR_INVALPARAM);

    std::vector<LONG> values{0, 1, 1};
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof(details);
    details.dwControlID = 1;
    details.cChannels = 1;
    details.cMultipleItems = 3;
    details.cbDetails = sizeof(LONG);
    details.paDetails = values.data();
    const DWORD set = MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE;
    EXPECT_EQ(mixerSetControlDetails(handle, &details, set),
              MIXERR_INVALVALUE); // two in a single-select list
    values = {0, 0, 0};
    EXPECT_EQ(mixerSetControlDetails(handle, &details, set), MIXERR_INVALVALUE);
    values = {0, 7, 0};
    details.cMultipleItems = 2;
    EXPECT_EQ(mixerSetControlDetails(handle, &details, set), MMSYSERR_INVALPARAM);
    details.cMultipleItems = 3;
    details.dwControlID = 99;
    EXPECT_EQ(mixerSetControlDetails(handle, &details, set), MIXERR_INVALCONTROL);
    details.dwControlID = 1;
    EXPECT_EQ(mixerSetControlDetails(handle, &details, set), MMSYSERR_NOERROR);
    EXPECT_EQ(FBackend->Sets().back().Values, (std::vector<LONG>{0, 1, 0}));
    values = {-1, -1, -1};
    EXPECT_EQ(mixerGetControlDetailsW(handle, &details, MIXER_OBJECTF_HMIXER), MMSYSERR_NOERROR);
    EXPECT_EQ(values, (std::vector<LONG>{0, 1, 0}));

    EXPECT_EQ(mixerClose(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mixerGetLineInfoW(handle, &line, MIXER_OBJECTF_HMIXER), MMSYSERR_INVALHANDLE);
}

} // namespace

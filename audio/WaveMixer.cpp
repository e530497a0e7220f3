#include "audio/WaveMixer.h"

#include "platform/WaveInService.h"

using namespace win; // the platform layer's Windows-style names

namespace {

constexpr DWORD ControlTypeCodes[] = {MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLTYPE_MUTE,
                                      MIXERCONTROL_CONTROLTYPE_MUX, MIXERCONTROL_CONTROLTYPE_MIXER};
constexpr TMixerControlType ControlTypes[] = {mcVolume, mcMute, mcSelect, mcMix};

constexpr int KindWaveOut = 17;

// A wide name record up to its first NUL, at most Capacity characters.
QString NameText(const char16_t* Text, std::size_t Capacity) {
    std::size_t length = 0;
    while (length < Capacity && Text[length] != u'\0')
        ++length;
    return QString::fromUtf16(Text, qsizetype(length));
}

} // namespace

// --- TAudioMixerLine ---

TAudioMixerLine::TAudioMixerLine(TAudioMixer* Mixer, int Index) : FMixer(Mixer) {
    ReadLineInfo(Index);
}

void TAudioMixerLine::ReadLineInfo(int Index) {
    FIndex = Index;
    FLineInfo = MIXERLINEW{};
    FLineInfo.cbStruct = sizeof(MIXERLINEW);
    FLineInfo.dwDestination = FMixer->FDestinationID;
    DWORD flags = MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION;
    if (Index >= 0) {
        FLineInfo.dwSource = DWORD(Index);
        flags = MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE;
    }
    FLastError = mixerGetLineInfoW(FMixer->FHandle, &FLineInfo, flags);
    FControlSet.reset();
    for (MIXERCONTROLW& control : FControls)
        control = MIXERCONTROLW{};
    if (FLastError != MMSYSERR_NOERROR)
        return;
    for (TMixerControlType type : ControlTypes)
        if (ReadControl(type, FControls[type]))
            FControlSet.set(type);
        else
            FControls[type] = MIXERCONTROLW{};
}

bool TAudioMixerLine::ReadControl(TMixerControlType ControlType, MIXERCONTROLW& Control) {
    Control = MIXERCONTROLW{};
    MIXERLINECONTROLSW controls{};
    controls.cbStruct = sizeof(controls);
    controls.dwLineID = FLineInfo.dwLineID;
    controls.dwControlType = ControlTypeCodes[ControlType];
    controls.cControls = 1;
    controls.cbmxctrl = sizeof(MIXERCONTROLW);
    controls.pamxctrl = &Control;
    return mixerGetLineControlsW(FMixer->FHandle, &controls,
                                 MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) == MMSYSERR_NOERROR;
}

bool TAudioMixerLine::FindControl(DWORD ControlID, TMixerControlType& ControlType) {
    bool found = false;
    for (TMixerControlType type : ControlTypes)
        if (FControlSet.test(type) && FControls[type].dwControlID == ControlID) {
            ControlType = type;
            found = true;
        }
    return found;
}

int TAudioMixerLine::FindSourceItem(int SourceIndex, TMixerControlType ControlType) {
    if (!FControlSet.test(ControlType)) {
        FLastError = MIXERR_INVALCONTROL;
        return -1;
    }
    const DWORD count = FControls[ControlType].cMultipleItems;
    std::vector<MIXERCONTROLDETAILS_LISTTEXTW> items(count, MIXERCONTROLDETAILS_LISTTEXTW{});
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof(details);
    details.dwControlID = FControls[ControlType].dwControlID;
    details.cChannels = 1;
    details.cMultipleItems = count;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXTW);
    details.paDetails = items.data();
    FLastError = mixerGetControlDetailsW(FMixer->FHandle, &details,
                                         MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_LISTTEXT);
    if (FLastError != MMSYSERR_NOERROR)
        return -1;
    // Kept even when an item matches: callers look at the result, not at this code.
    FLastError = MMSYSERR_INVALPARAM;
    const QString sourceName = FMixer->Lines(SourceIndex)->LineName();
    for (DWORD i = 0; i < count; ++i)
        if (NameText(items[i].szName, MIXER_LONG_NAME_CHARS) == sourceName)
            return int(i);
    return -1;
}

void TAudioMixerLine::SelectSource(int SourceIndex) {
    TMixerControlType listType = mcMix;
    if (!FControlSet.test(mcMix)) {
        if (!FControlSet.test(mcSelect)) {
            FLastError = MIXERR_INVALCONTROL;
            return;
        }
        listType = mcSelect;
    }
    const int item = FindSourceItem(SourceIndex, listType);
    if (item < 0) {
        FLastError = MMSYSERR_INVALPARAM;
        return;
    }
    const DWORD count = FControls[listType].cMultipleItems;
    std::vector<DWORD> values(count, 0);
    values[std::size_t(item)] = 1;
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof(details);
    details.dwControlID = FControls[listType].dwControlID;
    details.cChannels = 1;
    details.cMultipleItems = count;
    details.cbDetails = sizeof(DWORD);
    details.paDetails = values.data();
    FLastError = mixerSetControlDetails(FMixer->FHandle, &details,
                                        MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
}

QString TAudioMixerLine::LineName() const {
    return NameText(FLineInfo.szName, MIXER_LONG_NAME_CHARS);
}

int TAudioMixerLine::KindIndex() const {
    const DWORD type = FLineInfo.dwComponentType;
    if (type <= MIXERLINE_COMPONENTTYPE_DST_LAST)
        return int(type - MIXERLINE_COMPONENTTYPE_DST_FIRST);
    if (type >= MIXERLINE_COMPONENTTYPE_SRC_FIRST && type <= MIXERLINE_COMPONENTTYPE_SRC_LAST)
        return int(MIXERLINE_COMPONENTTYPE_DST_LAST - MIXERLINE_COMPONENTTYPE_DST_FIRST + 1 + type -
                   MIXERLINE_COMPONENTTYPE_SRC_FIRST);
    return 0;
}

// --- TAudioMixer ---

TAudioMixer::TAudioMixer(TComponent* AOwner) : TComponent(AOwner) {
    FWindow = AllocateHWnd(
        [this](UINT Message, WPARAM wParam, LPARAM lParam) { return MixerWndProc(Message, wParam, lParam); });
    // No device is open yet, so this first reading fails and leaves the line empty.
    FDestination = std::make_unique<TAudioMixerLine>(this, -1);
    Reopen(false);
}

TAudioMixer::~TAudioMixer() {
    ClearLines();
    FDestination.reset();
    if (FHandle)
        mixerClose(FHandle);
    FHandle = nullptr;
    DeallocateHWnd(FWindow);
}

UINT TAudioMixer::MixerCount() const {
    return mixerGetNumDevs();
}

WORD TAudioMixer::DestinationCount() const {
    return WORD(FCaps.cDestinations);
}

WORD TAudioMixer::LineCount() const {
    return WORD(FDestination->LineInfo().cConnections);
}

TAudioMixerLine* TAudioMixer::Lines(int Index) const {
    if (Index < 0 || std::size_t(Index) >= FLines.size())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(Index));
    return FLines[std::size_t(Index)].get();
}

int TAudioMixer::GetMixerNames(QStringList& Names) const {
    const UINT count = mixerGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIXERCAPSW caps{};
        mixerGetDevCapsW(id, &caps, sizeof(caps));
        Names.append(NameText(caps.szPname, MAXPNAMELEN));
    }
    return int(count);
}

int TAudioMixer::GetDestinationNames(QStringList& Names) const {
    const WORD count = DestinationCount();
    for (WORD destination = 0; destination < count; ++destination) {
        MIXERLINEW line{};
        line.cbStruct = sizeof(line);
        line.dwDestination = destination;
        mixerGetLineInfoW(FHandle, &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION);
        Names.append(NameText(line.szName, MIXER_LONG_NAME_CHARS));
    }
    return count;
}

void TAudioMixer::SetMixerID(UINT Value) {
    if (Value != FMixerID && Value < WORD(mixerGetNumDevs())) {
        FMixerID = Value;
        Reopen(false);
    }
}

void TAudioMixer::SetDestinationID(UINT Value) {
    if (Value != FDestinationID) {
        FDestinationID = Value;
        Reopen(true);
    }
}

QString TAudioMixer::MixerName() const {
    return NameText(FCaps.szPname, MAXPNAMELEN);
}

void TAudioMixer::SetMixerName(const QString& Value) {
    if (Value == MixerName())
        return;
    QStringList names;
    GetMixerNames(names);
    for (qsizetype i = 0; i < names.size(); ++i)
        if (names[i].compare(Value, Qt::CaseInsensitive) == 0) {
            SetMixerID(UINT(i));
            return;
        }
}

QString TAudioMixer::DestinationName() const {
    return FDestination->LineName();
}

void TAudioMixer::SetDestinationName(const QString& Value) {
    if (Value == DestinationName())
        return;
    QStringList names;
    GetDestinationNames(names);
    for (qsizetype i = 0; i < names.size(); ++i)
        if (names[i].compare(Value, Qt::CaseInsensitive) == 0) {
            SetDestinationID(UINT(i));
            return;
        }
}

void TAudioMixer::Reopen(bool KeepDevice) {
    ClearLines();
    if (!KeepDevice) {
        if (FHandle)
            mixerClose(FHandle);
        FHandle = nullptr;
        FCaps = MIXERCAPSW{};
        mixerGetDevCapsW(FMixerID, &FCaps, sizeof(FCaps));
        FLastError = mixerOpen(&FHandle, FMixerID, FWindow, 0, CALLBACK_WINDOW);
    }
    if (FDestinationID >= WORD(FCaps.cDestinations))
        FDestinationID = 0;
    FDestination->ReadLineInfo(-1);
    BuildLines();
}

void TAudioMixer::ClearLines() {
    while (!FLines.empty())
        FLines.pop_back();
}

void TAudioMixer::BuildLines() {
    const WORD count = LineCount();
    for (WORD i = 0; i < count; ++i)
        FLines.push_back(std::make_unique<TAudioMixerLine>(this, i));
}

LRESULT TAudioMixer::MixerWndProc(UINT Message, WPARAM wParam, LPARAM lParam) {
    // Notices of an earlier handle can still be queued after a reopen.
    const bool ours = FHandle && wParam == WPARAM(FHandle);
    if (Message == MM_MIXM_LINE_CHANGE) {
        if (!ours)
            return 0;
        const DWORD lineId = DWORD(lParam);
        if (FDestination->LineInfo().dwLineID == lineId) {
            DoLineChange(FDestination.get());
        } else {
            for (const auto& line : FLines)
                if (line->LineInfo().dwLineID == lineId) {
                    DoLineChange(line.get());
                    break;
                }
        }
        return 0;
    }
    if (Message == MM_MIXM_CONTROL_CHANGE) {
        if (!ours)
            return 0;
        const DWORD controlId = DWORD(lParam);
        TMixerControlType type = mcVolume;
        if (FDestination->FindControl(controlId, type)) {
            DoControlChange(FDestination.get(), type);
        } else {
            for (const auto& line : FLines)
                if (line->FindControl(controlId, type)) {
                    DoControlChange(line.get(), type);
                    break;
                }
        }
        return 0;
    }
    return DefWindowProcW(FWindow, Message, wParam, lParam);
}

void TAudioMixer::DoLineChange(TAudioMixerLine* Line) {
    if (OnLineChange)
        OnLineChange(this, Line);
}

void TAudioMixer::DoControlChange(TAudioMixerLine* Line, TMixerControlType ControlType) {
    if (OnControlChange)
        OnControlChange(this, Line, ControlType);
}

QString SelectWaveOutputLine(TAudioMixer& Mixer) {
    QStringList outputs;
    for (int i = 0; i < Mixer.LineCount(); ++i)
        if (Mixer.Lines(i)->KindIndex() == KindWaveOut)
            outputs << Mixer.Lines(i)->LineName();
    if (outputs.size() > 1) {
        // A line's name is the device's, cut to the mixer's length.
        const QString playing = WaveInPlaybackMonitorName().left(MIXER_LONG_NAME_CHARS - 1);
        if (!playing.isEmpty() && outputs.contains(playing))
            return playing;
    }
    return outputs.isEmpty() ? QString() : outputs.back();
}

#pragma once
// The recording mixer: the lines that feed one destination of a mixer device (the sound server's
// sources feeding its recording destination), their controls, switching the destination to a
// source, and notices of changes made elsewhere.

#include "platform/Classes.h"
#include "platform/Messages.h"
#include "platform/MixerService.h"
#include "platform/SysUtils.h"

#include <QString>
#include <QStringList>
#include <bitset>
#include <functional>
#include <memory>
#include <vector>

using namespace win; // the platform layer's Windows-style names

// An index outside a list.
class EListError : public Exception {
    using Exception::Exception;
};

enum TMixerControlType { mcVolume, mcMute, mcSelect, mcMix };
// A set of TMixerControlType values: bit n for value n.
using TMixerControlSet = std::bitset<mcMix + 1>;

class TAudioMixer;
class TAudioMixerLine;

using TMixerLineChangeEvent = std::function<void(TAudioMixer* Sender, TAudioMixerLine* Line)>;
using TMixerControlChangeEvent =
    std::function<void(TAudioMixer* Sender, TAudioMixerLine* Line, TMixerControlType ControlType)>;

class TAudioMixerLine {
public:
    // Index -1 is the mixer's destination line, others its source lines.
    TAudioMixerLine(TAudioMixer* Mixer, int Index);
    TAudioMixerLine(const TAudioMixerLine&) = delete;
    TAudioMixerLine& operator=(const TAudioMixerLine&) = delete;

    void ReadLineInfo(int Index);
    bool ReadControl(TMixerControlType ControlType, MIXERCONTROLW& Control);
    // The type of the control with that id among the line's controls; the last match wins.
    bool FindControl(DWORD ControlID, TMixerControlType& ControlType);
    // The item of the list control ControlType that names source line SourceIndex, or -1.
    int FindSourceItem(int SourceIndex, TMixerControlType ControlType);
    // Switches this destination line to source line SourceIndex.
    void SelectSource(int SourceIndex);

    QString LineName() const;
    // The component type's position in DST_FIRST..DST_LAST followed by SRC_FIRST..SRC_LAST; 0 when
    // unknown.
    int KindIndex() const;

    int Index() const { return FIndex; }
    TAudioMixer* Mixer() const { return FMixer; }
    MMRESULT LastError() const { return FLastError; }
    const TMixerControlSet& ControlSet() const { return FControlSet; }
    const MIXERLINEW& LineInfo() const { return FLineInfo; }
    // Indexed by TMixerControlType; the records of types not in ControlSet are zero.
    const MIXERCONTROLW* Controls() const { return FControls; }

private:
    int FIndex = -1;
    TAudioMixer* FMixer;
    MIXERLINEW FLineInfo{};
    MMRESULT FLastError = MMSYSERR_NOERROR;
    TMixerControlSet FControlSet;
    MIXERCONTROLW FControls[mcMix + 1]{};
};

class TAudioMixer : public TComponent {
public:
    explicit TAudioMixer(TComponent* AOwner = nullptr);
    ~TAudioMixer() override;
    QString ClassName() const override { return QStringLiteral("TAudioMixer"); }

    UINT MixerCount() const;
    WORD DestinationCount() const;
    WORD LineCount() const;
    // Raises EListError for an index outside 0..LineCount()-1.
    TAudioMixerLine* Lines(int Index) const;
    TAudioMixerLine* Destination() const { return FDestination.get(); }

    // Append the names of all devices / of the open device's destinations; return how many.
    int GetMixerNames(QStringList& Names) const;
    int GetDestinationNames(QStringList& Names) const;

    UINT MixerID() const { return FMixerID; }
    void SetMixerID(UINT Value);
    UINT DestinationID() const { return FDestinationID; }
    void SetDestinationID(UINT Value);
    QString MixerName() const;
    void SetMixerName(const QString& Value);
    QString DestinationName() const;
    void SetDestinationName(const QString& Value);
    HMIXER Handle() const { return FHandle; }
    const MIXERCAPSW& Caps() const { return FCaps; }
    MMRESULT LastError() const { return FLastError; }

    TMixerLineChangeEvent OnLineChange;
    TMixerControlChangeEvent OnControlChange;

    // The procedure of the mixer's notification window.
    LRESULT MixerWndProc(UINT Message, WPARAM wParam, LPARAM lParam);

protected:
    virtual void DoLineChange(TAudioMixerLine* Line);
    virtual void DoControlChange(TAudioMixerLine* Line, TMixerControlType ControlType);

private:
    friend class TAudioMixerLine;

    void Reopen(bool KeepDevice);
    void ClearLines();
    void BuildLines();

    HMIXER FHandle = nullptr;
    UINT FMixerID = 0;
    MIXERCAPSW FCaps{};
    UINT FDestinationID = 0;
    std::vector<std::unique_ptr<TAudioMixerLine>> FLines;
    std::unique_ptr<TAudioMixerLine> FDestination;
    MMRESULT FLastError = MMSYSERR_NOERROR;
    HWND FWindow = 0;
};

// The name of the wave-output line (a sound card's output) that carries the program's own sound: the
// one the wave-in device WAVE_PLAYBACK_MONITOR records, else the last one; empty when there is none.
// It switches nothing: the system's recording source stays as the user set it.
QString SelectWaveOutputLine(TAudioMixer& Mixer);

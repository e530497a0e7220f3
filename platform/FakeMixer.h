#pragma once
// A scripted mixer backend for tests: devices are models the test builds and edits; what callers set
// is recorded and applied to the model, and every change is reported to the watchers. Reading an
// unknown device is MMSYSERR_BADDEVICEID; Change and Model expect a device that exists. A set result
// chosen by the test (SetSetResult) fails the later sets, which are still recorded.

#include "platform/MixerService.h"

#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace win {

struct TFakeMixerLine {
    QString Name;
    DWORD ComponentType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
};

struct TFakeMixerSet {
    UINT DeviceID;
    DWORD ControlID;
    std::vector<LONG> Values;
};

class TFakeMixerBackend : public TMixerBackend {
public:
    explicit TFakeMixerBackend(std::vector<TMixerModel> Devices = {});

    // A recording destination over Lines whose list controls (a MUX and/or a MIXER) have Selected
    // set (-1: none). Ids with Number n: line 0xFFFF0000 + n, sources (n << 16) + 0x1000 + i,
    // MUX (n << 16) + 1, MIXER (n << 16) + 2.
    static TMixerDestinationModel RecordingDestination(const std::vector<TFakeMixerLine>& Lines, int Selected,
                                                       bool Mux = true, bool Mix = false, DWORD Number = 0);
    static TMixerModel Device(const QString& Name, std::vector<TMixerDestinationModel> Destinations);

    // Edits a device (as the server would change) and tells the watchers.
    void Change(UINT DeviceID, const std::function<void(TMixerModel&)>& Edit);
    TMixerModel Model(UINT DeviceID) const;
    std::vector<TFakeMixerSet> Sets() const;
    // The result of later SetControl calls (0 = apply).
    void SetSetResult(MMRESULT Result);

    UINT DeviceCount() override;
    MMRESULT ReadModel(UINT DeviceID, TMixerModel& Model) override;
    MMRESULT SetControl(UINT DeviceID, const TMixerLineModel& Line, const TMixerControlModel& Control,
                        const std::vector<LONG>& Values) override;
    std::unique_ptr<TMixerWatch> Watch(UINT DeviceID, std::function<void()> Changed) override;

private:
    class TFakeWatch;
    void Notify(UINT DeviceID);

    mutable std::mutex FLock;
    std::vector<TMixerModel> FDevices;
    std::vector<TFakeMixerSet> FSets;
    MMRESULT FSetResult = MMSYSERR_NOERROR;
    std::mutex FWatchLock;
    std::vector<TFakeWatch*> FWatches;
};

} // namespace win

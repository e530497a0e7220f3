#pragma once
// The mixer backend for a PulseAudio server: device 0 is the server, whose recording destination
// lists the server's sources (each with volume and mute) and whose list control picks the default
// source. Every call makes its own short connection, so a server that comes, goes or changes
// (PULSE_SERVER) is seen at the next call; a server is never started on demand. Without a server, or
// when it does not answer within a few seconds, there is no device (DeviceCount 0, ReadModel
// MMSYSERR_BADDEVICEID, SetControl MMSYSERR_NODRIVER, Watch null).

#include "platform/MixerService.h"

#include <QString>
#include <map>
#include <mutex>

namespace win {

class TPulseMixerBackend : public TMixerBackend {
public:
    UINT DeviceCount() override;
    MMRESULT ReadModel(UINT DeviceID, TMixerModel& Model) override;
    // Volume and mute of a source, or the default source through the list control.
    MMRESULT SetControl(UINT DeviceID, const TMixerLineModel& Line, const TMixerControlModel& Control,
                        const std::vector<LONG>& Values) override;
    // Watches sources and the server (the default source) over a connection of its own.
    std::unique_ptr<TMixerWatch> Watch(UINT DeviceID, std::function<void()> Changed) override;

private:
    // Ids by the server's names, kept for the backend's life, so they stay the same while a mixer is
    // open however the server's sources come and go.
    DWORD Id(std::map<QString, DWORD>& Ids, const QString& Key);

    std::mutex FLock;
    std::map<QString, DWORD> FLineIds;
    std::map<QString, DWORD> FControlIds;
    DWORD FNextLineId = 0x1000;
    DWORD FNextControlId = 0x10;
};

} // namespace win

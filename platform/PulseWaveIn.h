#pragma once
// The recording backend for a PulseAudio server: its sources are the devices, WAVE_MAPPER is the
// server's default source and WAVE_PLAYBACK_MONITOR the monitor of the sink the program plays to
// (PlaybackSink, else the server's default sink). A capture whose server goes away or ends the
// stream fails with that reason. Every call makes its own connection, so a server that
// comes, goes or changes (PULSE_SERVER) is seen at the next call; a server is never started on demand.

#include "platform/WaveInService.h"

#include <mutex>

namespace win {

class TPulseWaveInBackend : public TWaveInBackend {
public:
    // Server sources by description; empty when no server can be reached (ErrorText says why).
    std::vector<TWaveInDeviceInfo> Devices() override;
    MMRESULT Query(UINT DeviceID, const WAVEFORMATEX& Format) override;
    // A record stream of the source in Format with fragments of about 20 ms, running from now on.
    MMRESULT Open(UINT DeviceID, const WAVEFORMATEX& Format,
                  std::unique_ptr<TWaveInCapture>& Capture) override;
    QString ErrorText() override;

private:
    MMRESULT Failure(MMRESULT Result, const QString& Reason);

    std::mutex FLock;
    QString FError;
};

} // namespace win

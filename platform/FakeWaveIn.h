#pragma once
// A recording backend without a sound server, for tests: it produces a deterministic tone or the
// frames of a WAV file at a chosen speed, and fails where it is told to.

#include "platform/WaveInService.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace win {

struct TFakeWaveInSettings {
    std::vector<QString> Devices{QStringLiteral("Fake recording device")};
    std::size_t DefaultDevice = 0;
    // The device that listens to the program's own sound (WAVE_PLAYBACK_MONITOR); -1 for none.
    int PlaybackMonitor = -1;

    // The tone: frame n holds round(Amplitude * full scale * sin(2 pi Frequency n / rate)) on every
    // channel (8-bit samples around 128), so equal formats always give equal bytes.
    double Frequency = 440.0;
    double Amplitude = 0.5;
    // When set, the sound is this PCM WAV file instead, played in a loop. Only the file's own format
    // can be opened (anything else is WAVERR_BADFORMAT); an unreadable file fails with
    // MMSYSERR_ERROR.
    QString WaveFile;

    // How fast sound is produced: 1.0 real time, 4.0 four times faster. The sound clock of a device
    // runs only while it records: each start goes on with the frame after the last one read.
    double Speed = 1.0;

    // Results of the calls (0 = accept), and the reason reported for them through ErrorText.
    MMRESULT QueryResult = MMSYSERR_NOERROR;
    MMRESULT OpenResult = MMSYSERR_NOERROR;
    MMRESULT StartResult = MMSYSERR_NOERROR;
    MMRESULT ResetResult = MMSYSERR_NOERROR;
    MMRESULT CloseResult = MMSYSERR_NOERROR;
    QString FailureReason;
};

class TFakeWaveInBackend : public TWaveInBackend {
public:
    explicit TFakeWaveInBackend(TFakeWaveInSettings Settings = {});
    ~TFakeWaveInBackend() override;

    TFakeWaveInSettings Settings() const;
    // Applies to later calls; open devices keep the sound and speed they were opened with.
    void SetSettings(TFakeWaveInSettings Settings);

    // FrameCount frames of the sound in Format from frame FirstFrame on, as a device opened now
    // would produce them; empty when the sound cannot be had in Format.
    QByteArray Sound(const WAVEFORMATEX& Format, std::uint64_t FirstFrame, std::uint32_t FrameCount) const;

    // Counters over the backend's life.
    std::uint64_t BytesProduced() const;
    int Opens() const;
    // Captures not yet destroyed by a close.
    int OpenCaptures() const;

    std::vector<TWaveInDeviceInfo> Devices() override;
    MMRESULT Query(UINT DeviceID, const WAVEFORMATEX& Format) override;
    MMRESULT Open(UINT DeviceID, const WAVEFORMATEX& Format,
                  std::unique_ptr<TWaveInCapture>& Capture) override;
    MMRESULT StartResult() override;
    MMRESULT ResetResult() override;
    MMRESULT CloseResult() override;
    QString ErrorText() override;

    struct TSound;
    struct TCounters;

private:
    MMRESULT Scripted(MMRESULT Result);
    MMRESULT Check(UINT DeviceID, const WAVEFORMATEX& Format);

    mutable std::mutex FLock;
    TFakeWaveInSettings FSettings;
    std::shared_ptr<const TSound> FSound;
    QString FError;
    std::shared_ptr<TCounters> FCounters;
};

} // namespace win

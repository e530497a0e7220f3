#include "platform/FakeWaveIn.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <numbers>

namespace win {

struct TFakeWaveInBackend::TCounters {
    std::atomic<std::uint64_t> BytesProduced{0};
    std::atomic<int> Opens{0};
    std::atomic<int> OpenCaptures{0};
};

// What a device plays: the tone, or the frames of a WAV file.
struct TFakeWaveInBackend::TSound {
    double Frequency = 0;
    double Amplitude = 0;
    bool FromFile = false;
    WAVEFORMATEX FileFormat{};
    QByteArray FileFrames;
    QString Error; // why the file cannot be played

    bool CanPlay(const WAVEFORMATEX& Format) const {
        if (!FromFile)
            return true;
        return Error.isEmpty() && Format.nChannels == FileFormat.nChannels &&
               Format.nSamplesPerSec == FileFormat.nSamplesPerSec &&
               Format.wBitsPerSample == FileFormat.wBitsPerSample;
    }

    // Format has been checked with CanPlay.
    void Frames(const WAVEFORMATEX& Format, std::uint64_t First, std::uint32_t Count, char* Out) const {
        const std::size_t frameBytes = Format.nBlockAlign;
        if (FromFile) {
            const std::uint64_t fileFrameCount = FileFrames.size() / frameBytes;
            for (std::uint32_t i = 0; i < Count; ++i) {
                const std::uint64_t frame = (First + i) % fileFrameCount;
                std::memcpy(Out + i * frameBytes, FileFrames.constData() + frame * frameBytes, frameBytes);
            }
            return;
        }
        const double amplitude = std::clamp(Amplitude, 0.0, 1.0);
        for (std::uint32_t i = 0; i < Count; ++i) {
            const double cycles = static_cast<double>(First + i) * Frequency / Format.nSamplesPerSec;
            const double value = amplitude * std::sin(2 * std::numbers::pi * (cycles - std::floor(cycles)));
            char* frame = Out + i * frameBytes;
            for (int channel = 0; channel < Format.nChannels; ++channel) {
                if (Format.wBitsPerSample == 8) {
                    frame[channel] = static_cast<char>(128 + std::lround(value * 127));
                } else {
                    const auto sample = static_cast<std::int16_t>(std::lround(value * 32767));
                    frame[2 * channel] = static_cast<char>(sample & 0xFF);
                    frame[2 * channel + 1] = static_cast<char>((sample >> 8) & 0xFF);
                }
            }
        }
    }
};

namespace {

std::uint32_t ReadLE32(const char* P) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(P[0])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(P[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(P[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(P[3])) << 24;
}

std::uint16_t ReadLE16(const char* P) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(P[0]) | static_cast<std::uint8_t>(P[1]) << 8);
}

// Reads the format and sound of a RIFF WAVE file, or says why it cannot.
QString ReadWaveFile(const QString& FileName, WAVEFORMATEX& Format, QByteArray& Frames) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot read %1: %2").arg(FileName, file.errorString());
    const QByteArray bytes = file.readAll();
    const QString notWave = QStringLiteral("%1 is not a PCM WAV file").arg(FileName);
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return notWave;
    bool haveFormat = false;
    qsizetype position = 12;
    while (position + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(position, 4);
        const qsizetype size = ReadLE32(bytes.constData() + position + 4);
        const qsizetype data = position + 8;
        const qsizetype available = std::min<qsizetype>(size, bytes.size() - data);
        if (id == "fmt ") {
            if (available < 16)
                return notWave;
            const char* p = bytes.constData() + data;
            Format = WAVEFORMATEX{ReadLE16(p),
                                  ReadLE16(p + 2),
                                  ReadLE32(p + 4),
                                  ReadLE32(p + 8),
                                  ReadLE16(p + 12),
                                  ReadLE16(p + 14),
                                  0};
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat || CheckWaveInFormat(Format) != MMSYSERR_NOERROR)
                return notWave;
            // A truncated last frame is left out.
            Frames = bytes.mid(data, available - available % Format.nBlockAlign);
            return Frames.isEmpty() ? QStringLiteral("%1 holds no sound").arg(FileName) : QString();
        }
        position = data + size + (size & 1); // chunks are padded to even sizes
    }
    return notWave;
}

std::shared_ptr<const TFakeWaveInBackend::TSound> MakeSound(const TFakeWaveInSettings& Settings) {
    auto sound = std::make_shared<TFakeWaveInBackend::TSound>();
    sound->Frequency = Settings.Frequency;
    sound->Amplitude = Settings.Amplitude;
    if (!Settings.WaveFile.isEmpty()) {
        sound->FromFile = true;
        sound->Error = ReadWaveFile(Settings.WaveFile, sound->FileFormat, sound->FileFrames);
    }
    return sound;
}

class TFakeCapture : public TWaveInCapture {
public:
    using Clock = std::chrono::steady_clock;

    TFakeCapture(std::shared_ptr<const TFakeWaveInBackend::TSound> Sound, const WAVEFORMATEX& Format,
                 double Speed, std::shared_ptr<TFakeWaveInBackend::TCounters> Counters)
        : FSound(std::move(Sound)), FFormat(Format), FFramesPerSecond(Format.nSamplesPerSec * Speed),
          FCounters(std::move(Counters)), FOrigin(Clock::now()) {
        ++FCounters->OpenCaptures;
    }
    ~TFakeCapture() override { --FCounters->OpenCaptures; }

    int Read(void* Buffer, int Count) override {
        const std::uint64_t wanted = Count / FFormat.nBlockAlign;
        if (wanted == 0)
            return 0;
        // About 10 ms of sound per read, as a sound server delivers it.
        const std::uint64_t least = std::clamp<std::uint64_t>(FFormat.nSamplesPerSec / 100, 1, wanted);
        std::unique_lock<std::mutex> lock(FLock);
        std::uint64_t available = 0;
        for (;;) {
            if (FInterrupted) {
                FInterrupted = false;
                return 0;
            }
            available = ProducedFrames() - FFramesRead;
            if (available >= least)
                break;
            const std::chrono::duration<double> missing((least - available) / FFramesPerSecond);
            FWake.wait_for(lock, std::chrono::duration_cast<Clock::duration>(missing) +
                                     std::chrono::microseconds(100));
        }
        const auto frames = static_cast<std::uint32_t>(std::min(available, wanted));
        FSound->Frames(FFormat, FFramesRead, frames, static_cast<char*>(Buffer));
        FFramesRead += frames;
        const int bytes = static_cast<int>(frames * FFormat.nBlockAlign);
        FCounters->BytesProduced += bytes;
        return bytes;
    }

    void Interrupt() override {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FInterrupted = true;
        }
        FWake.notify_all();
    }

    void Flush() override {
        // The clock restarts from the next frame: what played while stopped never existed.
        std::lock_guard<std::mutex> lock(FLock);
        FOrigin = Clock::now();
        FFramesAtOrigin = FFramesRead;
    }

private:
    std::uint64_t ProducedFrames() const {
        const std::chrono::duration<double> elapsed = Clock::now() - FOrigin;
        return FFramesAtOrigin + static_cast<std::uint64_t>(elapsed.count() * FFramesPerSecond);
    }

    const std::shared_ptr<const TFakeWaveInBackend::TSound> FSound;
    const WAVEFORMATEX FFormat;
    const double FFramesPerSecond;
    const std::shared_ptr<TFakeWaveInBackend::TCounters> FCounters;

    std::mutex FLock;
    std::condition_variable FWake;
    Clock::time_point FOrigin;
    std::uint64_t FFramesAtOrigin = 0;
    std::uint64_t FFramesRead = 0;
    bool FInterrupted = false;
};

} // namespace

TFakeWaveInBackend::TFakeWaveInBackend(TFakeWaveInSettings Settings)
    : FCounters(std::make_shared<TCounters>()) {
    SetSettings(std::move(Settings));
}

TFakeWaveInBackend::~TFakeWaveInBackend() = default;

TFakeWaveInSettings TFakeWaveInBackend::Settings() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FSettings;
}

void TFakeWaveInBackend::SetSettings(TFakeWaveInSettings Settings) {
    auto sound = MakeSound(Settings);
    std::lock_guard<std::mutex> lock(FLock);
    FSettings = std::move(Settings);
    FSound = std::move(sound);
}

QByteArray TFakeWaveInBackend::Sound(const WAVEFORMATEX& Format, std::uint64_t FirstFrame,
                                     std::uint32_t FrameCount) const {
    std::shared_ptr<const TSound> sound;
    {
        std::lock_guard<std::mutex> lock(FLock);
        sound = FSound;
    }
    if (CheckWaveInFormat(Format) != MMSYSERR_NOERROR || !sound->CanPlay(Format))
        return {};
    QByteArray bytes(static_cast<qsizetype>(FrameCount) * Format.nBlockAlign, Qt::Uninitialized);
    sound->Frames(Format, FirstFrame, FrameCount, bytes.data());
    return bytes;
}

std::uint64_t TFakeWaveInBackend::BytesProduced() const {
    return FCounters->BytesProduced;
}

int TFakeWaveInBackend::Opens() const {
    return FCounters->Opens;
}

int TFakeWaveInBackend::OpenCaptures() const {
    return FCounters->OpenCaptures;
}

std::vector<TWaveInDeviceInfo> TFakeWaveInBackend::Devices() {
    std::lock_guard<std::mutex> lock(FLock);
    std::vector<TWaveInDeviceInfo> devices;
    for (std::size_t i = 0; i < FSettings.Devices.size(); ++i)
        devices.push_back(
            {FSettings.Devices[i], i == FSettings.DefaultDevice, int(i) == FSettings.PlaybackMonitor});
    return devices;
}

MMRESULT TFakeWaveInBackend::Scripted(MMRESULT Result) {
    std::lock_guard<std::mutex> lock(FLock);
    FError = Result == MMSYSERR_NOERROR ? QString() : FSettings.FailureReason;
    return Result;
}

MMRESULT TFakeWaveInBackend::Check(UINT DeviceID, const WAVEFORMATEX& Format) {
    std::lock_guard<std::mutex> lock(FLock);
    FError.clear();
    if (FSettings.Devices.empty())
        return MMSYSERR_NODRIVER;
    if (DeviceID == WAVE_PLAYBACK_MONITOR &&
        (FSettings.PlaybackMonitor < 0 || std::size_t(FSettings.PlaybackMonitor) >= FSettings.Devices.size()))
        return MMSYSERR_NODRIVER;
    if (DeviceID != WAVE_MAPPER && DeviceID != WAVE_PLAYBACK_MONITOR && DeviceID >= FSettings.Devices.size())
        return MMSYSERR_BADDEVICEID;
    if (FSound->FromFile && !FSound->Error.isEmpty()) {
        FError = FSound->Error;
        return MMSYSERR_ERROR;
    }
    return FSound->CanPlay(Format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

MMRESULT TFakeWaveInBackend::Query(UINT DeviceID, const WAVEFORMATEX& Format) {
    if (const MMRESULT result = Scripted(Settings().QueryResult))
        return result;
    return Check(DeviceID, Format);
}

MMRESULT TFakeWaveInBackend::Open(UINT DeviceID, const WAVEFORMATEX& Format,
                                  std::unique_ptr<TWaveInCapture>& Capture) {
    if (const MMRESULT result = Scripted(Settings().OpenResult))
        return result;
    if (const MMRESULT result = Check(DeviceID, Format))
        return result;
    std::shared_ptr<const TSound> sound;
    double speed;
    {
        std::lock_guard<std::mutex> lock(FLock);
        sound = FSound;
        speed = FSettings.Speed > 0 ? FSettings.Speed : 1.0;
    }
    Capture = std::make_unique<TFakeCapture>(std::move(sound), Format, speed, FCounters);
    ++FCounters->Opens;
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveInBackend::StartResult() {
    return Scripted(Settings().StartResult);
}

MMRESULT TFakeWaveInBackend::ResetResult() {
    return Scripted(Settings().ResetResult);
}

MMRESULT TFakeWaveInBackend::CloseResult() {
    return Scripted(Settings().CloseResult);
}

QString TFakeWaveInBackend::ErrorText() {
    std::lock_guard<std::mutex> lock(FLock);
    return FError;
}

} // namespace win

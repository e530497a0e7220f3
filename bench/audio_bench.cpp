// Figures for the audio data layer: the per-buffer level on the notification path, and appending
// capture buffers to a WAVE file.
#include "audio/WaveStorage.h"
#include "platform/Streams.h"

#include <QDir>
#include <QFile>
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace {
WAVEFORMATEX Format(TPCMFormat PCMFormat) {
    WAVEFORMATEX format{};
    PCMFormatToWaveFormat(format, PCMFormat);
    return format;
}

std::vector<std::int16_t> Tone(std::size_t Samples) {
    std::vector<std::int16_t> tone(Samples);
    for (std::size_t i = 0; i < Samples; ++i)
        tone[i] = std::int16_t(20000 * std::sin(double(i) * 0.3));
    return tone;
}
} // namespace

// One second of the recorder's default format, as one capture buffer.
void BM_PeakLevelOfOneSecond(benchmark::State& State) {
    const WAVEFORMATEX format = Format(TPCMFormat(State.range(0)));
    const std::vector<std::int16_t> tone = Tone(format.nAvgBytesPerSec / 2);
    for (auto _ : State)
        benchmark::DoNotOptimize(GetPeakLevel(tone.data(), DWORD(tone.size() * 2), format));
    State.SetBytesProcessed(std::int64_t(State.iterations()) * format.nAvgBytesPerSec);
}
BENCHMARK(BM_PeakLevelOfOneSecond)->Arg(Mono16bit8000Hz)->Arg(Stereo16bit48000Hz);

// A one-minute recording of one-second buffers written to a file and finished.
void BM_RecordOneMinuteToFile(benchmark::State& State) {
    const WAVEFORMATEX format = Format(Mono16bit8000Hz);
    const std::vector<std::int16_t> buffer = Tone(format.nAvgBytesPerSec / 2);
    const QString name = QDir::tempPath() + "/vantrel_bench.wav";
    for (auto _ : State) {
        TWaveStreamAdapter adapter(new TFileStream(name, fmCreate), 1);
        adapter.BeginWrite(format);
        for (int second = 0; second < 60; ++second)
            adapter.Write(buffer.data(), std::int32_t(buffer.size() * 2));
        adapter.EndWrite();
    }
    State.SetBytesProcessed(std::int64_t(State.iterations()) * 60 * format.nAvgBytesPerSec);
    QFile::remove(name);
}
BENCHMARK(BM_RecordOneMinuteToFile)->Unit(benchmark::kMillisecond);

// Reversing one minute of CD-quality audio held in memory.
void BM_ReverseOneMinuteInMemory(benchmark::State& State) {
    const WAVEFORMATEX format = Format(Stereo16bit44100Hz);
    const std::vector<std::int16_t> audio = Tone(std::size_t(format.nAvgBytesPerSec) * 60 / 2);
    TMemoryStream stream;
    TWaveStreamAdapter adapter(&stream, 0);
    adapter.BeginWrite(format);
    adapter.Write(audio.data(), std::int32_t(audio.size() * 2));
    adapter.EndWrite();
    for (auto _ : State)
        benchmark::DoNotOptimize(adapter.Reverse());
    State.SetBytesProcessed(std::int64_t(State.iterations()) * std::int64_t(audio.size() * 2));
}
BENCHMARK(BM_ReverseOneMinuteInMemory)->Unit(benchmark::kMillisecond);

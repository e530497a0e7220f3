// A WAVE file read and edited in memory: each of the eight edit bytes picks an edit (low nibble)
// and its amount (high nibble). A second reader of the same bytes is the other side of the edits
// that take a source; the file edited is never its own source.
#include "fuzz/FuzzTargets.h"

#include "audio/WaveStorage.h"
#include "audio/WaveUtils.h"
#include "platform/Streams.h"

using namespace win; // the platform layer's Windows-style names

namespace fuzz {
namespace {

std::unique_ptr<TMemoryStream> StreamOf(const QByteArray& bytes) {
    auto stream = std::make_unique<TMemoryStream>();
    stream->Write(bytes.constData(), std::int32_t(bytes.size()));
    stream->SetPosition(0);
    return stream;
}

constexpr TPCMFormat Formats[] = {Mono8Bit8000Hz, Stereo16bit22050Hz, Mono16bit44100Hz, Stereo16bit48000Hz};

void ReadAll(TWaveStreamAdapter& wave) {
    if (wave.BeginRead()) {
        char buffer[97];
        while (wave.Read(buffer, sizeof buffer) > 0) {
        }
        wave.EndRead();
    }
    void* data = nullptr;
    if (wave.AcquireData(data, false)) {
        if (const WAVEFORMATEX* format = wave.WaveFormat())
            (void)GetPeakLevel(data, wave.DataSize(), *format);
        wave.ReleaseData(data, false);
    }
}

} // namespace

int WaveEdit(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const QByteArray edits = input.Bytes(8);
    const QByteArray file = input.Rest();
    TWaveStreamAdapter wave(StreamOf(file).release(), 1);
    TWaveStreamAdapter other(StreamOf(file).release(), 1);
    if (!wave.Valid())
        return 0;
    (void)wave.Length();
    for (const char edit : edits) {
        const DWORD amount = std::uint8_t(edit) >> 4;
        switch (edit & 15) {
        case 0:
            wave.Reverse();
            break;
        case 1:
            wave.ChangeVolume(std::int32_t(amount * 20));
            break;
        case 2:
            wave.InsertSilence(amount, amount * 3);
            break;
        case 3: {
            WAVEFORMATEX format{};
            PCMFormatToWaveFormat(format, Formats[amount & 3]);
            wave.ConvertTo(format);
            break;
        }
        case 4:
            wave.Crop(amount, amount * 7);
            break;
        case 5:
            wave.Delete(amount, amount * 5);
            break;
        case 6:
            wave.DeleteHead(amount);
            break;
        case 7:
            wave.DeleteTail(amount);
            break;
        case 8:
            wave.TrimToData();
            break;
        case 9:
            wave.CopyFrom(other, amount, amount * 11);
            break;
        case 10:
            wave.Insert(amount, other);
            break;
        case 11:
            wave.Concatenate({&other, &other}, amount);
            break;
        case 12:
            wave.Mix({&other, &other});
            break;
        case 13:
            (void)wave.SameContentAs(other);
            break;
        case 14: {
            TMemoryStream copy;
            wave.SaveToStream(copy);
            copy.SetPosition(0);
            other.LoadFromStream(copy);
            break;
        }
        default:
            ReadAll(wave);
            break;
        }
    }
    ReadAll(wave);
    return 0;
}

} // namespace fuzz

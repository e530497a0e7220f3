// Seed inputs for every target, written with the tests' own writers: the damage tests' movies (every
// kind of tag the reader parses, scripts (ActionScript 3 too) and buttons, sounds, video, nested sprites and
// placement cycles), WAVE files of several layouts, AVI recordings of every depth, and encoder output as
// ffmpeg prints it. The fuzzers start from these and mutate them.
#include "fuzz/FuzzTargets.h"

#include "FuzzMovies.h"
#include "SwfWriter.h"
#include "WaveFixtures.h"
#include "platform/DIB.h"
#include "platform/Vfw.h"

using namespace win; // the platform layer's Windows-style names

namespace fuzz {
namespace {

using namespace flash::writer;

// A small WAVE layout: the format record, then the data.
QByteArray PlainWave(TPCMFormat format, const QByteArray& audio) {
    return WaveFile(PCMFormat(format), audio);
}

// The AVI target's layout: flags, raw code, key-frame interval, rate and scale, the header, the
// colour table with its length, then frames (step, slack, a pattern of up to 16 bytes).
QByteArray AviRecording(std::uint8_t flags, int width, int height, int bits, int frames) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = WORD(bits);
    header.biSizeImage = DibStride(width, WORD(bits)) * DWORD(height);
    const DWORD colours = DibColorCount(WORD(bits));
    QByteArray table;
    for (DWORD i = 0; i < colours; ++i)
        table += QByteArray::fromRawData(i % 2 ? "\x00\x60\xF8\x00" : "\xF8\x20\x00\x00", 4);
    Bits bytes;
    bytes.U8(flags).U32(MakeFourCC('C', 'R', 'A', 'M')).U8(3).U16(25).U16(1);
    bytes.Bytes(QByteArray(reinterpret_cast<const char*>(&header), sizeof header));
    bytes.U16(std::uint32_t(table.size())).Bytes(table);
    for (int frame = 0; frame < frames; ++frame)
        bytes.U8(frame == 2 ? 3 : 1)
            .U8(0)
            .Bytes(QByteArray::fromRawData("\x11\x22\x33\x44\x55\x66\x77\x88", 8));
    return bytes.Data();
}

} // namespace

std::vector<QByteArray> SwfReaderSeeds() {
    return {EverythingMovie(),
            EverythingMovie(flash::Movie::Compression::Zlib),
            EverythingMovie(flash::Movie::Compression::Lzma),
            ShapesMovie(),
            TextMovie(),
            SoundMovie(),
            ScriptMovie(),
            As3Movie(),
            ObjectsMovie(),
            ClipsMovie(),
            DrawingMovie(),
            BitmapMovie(),
            TextFieldsMovie(),
            TimersMovie(),
            RegisteredClassMovie(),
            OldMovie(),
            DeepNestedMovie(),
            CycleMovie(),
            SelfPlacingMovie()};
}

std::vector<QByteArray> SwfPlayerSeeds() {
    // Clicks over the stage, keys and seeks.
    const QByteArray events("\x14\x00\x36\x02\x42\xC3\x28\x83", 8);
    std::vector<QByteArray> seeds;
    for (const QByteArray& movie :
         {EverythingMovie(), ShapesMovie(), TextMovie(), SoundMovie(), ScriptMovie(), As3Movie(),
          ObjectsMovie(), ClipsMovie(), DrawingMovie(), BitmapMovie(), TextFieldsMovie(), TimersMovie(),
          RegisteredClassMovie(), DeepNestedMovie(), CycleMovie(), SelfPlacingMovie()})
        seeds.push_back(events + movie);
    return seeds;
}

std::vector<QByteArray> WaveEditSeeds() {
    const QByteArray edits("\x10\x31\x22\x84\x09\x1A\x3B\x1C", 8);
    const WAVEFORMATEX stereo = PCMFormat(Stereo16bit22050Hz);
    WAVEFORMATEX extra = PCMFormat(Mono16bit8000Hz);
    extra.cbSize = 3;
    return {
        edits + PlainWave(Mono16bit8000Hz, Samples({0, 1000, -1000, 32767, -32768, 5})),
        edits + PlainWave(Mono8Bit8000Hz, "abcdefg"),
        edits + Riff(Chunk("fmt ", FormatBody(stereo, 16)) + Chunk("fact", LittleEndian32(2)) +
                     Chunk("LIST", "INFOISFTxx") + Chunk("data", Samples({1, 2, 3, 4, 5, 6, 7, 8}))),
        QByteArray("\x0E\x0F\x12\x03\x06\x07\x0B\x0C", 8) +
            Riff(Chunk("LIST", "INFO") + Chunk("fmt ", FormatBody(stereo)) +
                 Chunk("data", Samples({9, 8, 7, 6}))),
        edits + Riff(Chunk("fmt ", FormatBody(extra, 21)) + Chunk("data", Samples({1, -2, 3, -4}))),
    };
}

std::vector<QByteArray> AviWriterSeeds() {
    std::vector<QByteArray> seeds;
    for (const int bits : {1, 4, 8, 16, 24, 32})
        seeds.push_back(AviRecording(bits == 8 ? 0x14 : 0x00, 13 + bits % 5, 7 + bits % 3, bits, 4));
    return seeds;
}

std::vector<QByteArray> EncoderProgressSeeds() {
    return {
        QByteArray("\x80movie.swf\0", 11) +
            "frame=   52 fps= 25 q=2.0 size=     512kB time=00:00:02.08 bitrate=2016.4kbits/s speed=1x\r",
        QByteArray("\x02"
                   "a\0",
                   3) +
            "size=N/A time=00:00:01.00 bitrate=N/A\r" +
            "frame= 100 fps=0.0 q=-0.0 Lsize=  1234kiB time=00:00:04.00 bitrate= 1.2kbits/s\n",
        QByteArray("\xFF\0", 2) + "[mpeg @ 0x55] buffer underflow i=1 bufi=0 size=1234\n",
    };
}

} // namespace fuzz

#pragma once
// The fuzz targets' entry functions, one for each unit that takes outside bytes, and the seed inputs
// each starts from. The same functions run under libFuzzer (one program a target) and in the test
// that replays the inputs the fuzzers once crashed on.
//
// An entry function takes any bytes and returns 0. It fails only by crashing: a sanitizer report, or
// an abort with a line on standard error when a unit breaks a promise the harness checks. Inputs are
// bounded by the harness (frames played, pixels drawn, edits made), so one input runs in well under a
// second.

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

using EntryFunction = int (*)(const std::uint8_t* data, std::size_t size);

// The movie reader on a whole file.
int SwfReader(const std::uint8_t* data, std::size_t size);
// Eight bytes of mouse, key and seek events, then a movie: read, played a few frames with those
// events (scripts, buttons and sounds included) and drawn small.
int SwfPlayer(const std::uint8_t* data, std::size_t size);
// Eight bytes of edit choices, then a WAVE file: read back and edited in memory.
int WaveEdit(const std::uint8_t* data, std::size_t size);
// An AVI recording described by the bytes: compressor, rates, a frame format (header and colour
// table as they are given) and frames at chosen positions.
int AviWriter(const std::uint8_t* data, std::size_t size);
// One byte of read-buffer size, then encoder output: passed through a pipe as the main window reads
// it, and turned into the progress caption.
int EncoderProgress(const std::uint8_t* data, std::size_t size);

struct Target {
    const char* name;
    EntryFunction entry;
    std::vector<QByteArray> (*seeds)();
};

// Every target, by the name its program and folders carry.
const std::vector<Target>& Targets();

// Seed inputs written by the test writers.
std::vector<QByteArray> SwfReaderSeeds();
std::vector<QByteArray> SwfPlayerSeeds();
std::vector<QByteArray> WaveEditSeeds();
std::vector<QByteArray> AviWriterSeeds();
std::vector<QByteArray> EncoderProgressSeeds();

// Aborts with Message on standard error when Condition is false: a broken promise is a finding.
void Check(bool Condition, const char* Message);

// A QGuiApplication on the offscreen platform, made on first use unless the program has one.
void EnsureGuiApplication();

// Reads fixed-size fields from the front of an input; past the end every field reads as zero.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    std::uint8_t U8() { return position < size ? data[position++] : 0; }
    std::uint16_t U16() { return std::uint16_t(U8() | U8() << 8); }
    std::uint32_t U32() { return U16() | std::uint32_t(U16()) << 16; }
    // Up to count bytes, fewer when the input ends.
    QByteArray Bytes(std::size_t count);
    QByteArray Rest() { return Bytes(size - std::min(position, size)); }
    std::size_t Left() const { return size - std::min(position, size); }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

} // namespace fuzz

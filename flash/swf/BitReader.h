#pragma once
// Reads the fields of a movie file from a byte range: little-endian whole bytes and big-endian bit
// fields. Reading past the end never fails on the spot: it yields zeros and sets a sticky flag, so a
// parser reads a whole record and checks once. The reader does not own the bytes.

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace flash {

class BitReader {
public:
    BitReader() = default;
    BitReader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    // Whole-byte fields start at the next byte boundary.
    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    std::int16_t S16();
    double Fixed8() { return S16() / 256.0; }  // signed 8.8
    double UFixed8() { return U16() / 256.0; } // unsigned 8.8
    double Fixed16() { return std::int32_t(U32()) / 65536.0; }

    // Bit fields, most significant bit first; 0 to 32 bits.
    std::uint32_t UB(int bits);
    std::int32_t SB(int bits);
    double FB(int bits) { return SB(bits) / 65536.0; } // signed 16.16
    void Align();

    // The next count bytes: copied, skipped, or as a reader of their own (this reader moves past
    // them). Asking for more than is left takes nothing and sets the overrun flag.
    QByteArray Bytes(std::size_t count);
    QByteArray Rest() { return Bytes(Remaining()); }
    void Skip(std::size_t count);
    BitReader Sub(std::size_t count);
    // A string up to its terminating zero (consumed, not returned); overrun when there is none.
    QByteArray CString();

    std::size_t Position() const { return pos; } // whole bytes consumed, counting a started one
    std::size_t Remaining() const;               // whole bytes left after the current one
    std::size_t RemainingBits() const { return (size - pos) * 8 - bitPos; }
    const std::uint8_t* Current() const { return data + pos; }
    bool Overrun() const { return overrun; }
    void MarkOverrun();

private:
    bool Take(std::size_t count); // aligns, then checks that count whole bytes are left

    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0; // byte holding the next bit
    int bitPos = 0;      // bits of data[pos] already read
    bool overrun = false;
};

} // namespace flash

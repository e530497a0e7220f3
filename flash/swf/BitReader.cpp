#include "flash/swf/BitReader.h"

#include <algorithm>
#include <cstring>

namespace flash {

std::size_t BitReader::Remaining() const {
    const std::size_t used = pos + (bitPos > 0 ? 1 : 0);
    return used < size ? size - used : 0;
}

void BitReader::Align() {
    if (bitPos > 0) {
        bitPos = 0;
        ++pos;
    }
}

void BitReader::MarkOverrun() {
    overrun = true;
    pos = size;
    bitPos = 0;
}

bool BitReader::Take(std::size_t count) {
    Align();
    if (count > size - pos) {
        MarkOverrun();
        return false;
    }
    return true;
}

std::uint8_t BitReader::U8() {
    if (!Take(1))
        return 0;
    return data[pos++];
}

std::uint16_t BitReader::U16() {
    if (!Take(2))
        return 0;
    const std::uint16_t value = std::uint16_t(data[pos] | data[pos + 1] << 8);
    pos += 2;
    return value;
}

std::uint32_t BitReader::U32() {
    if (!Take(4))
        return 0;
    const std::uint32_t value = std::uint32_t(data[pos]) | std::uint32_t(data[pos + 1]) << 8 |
                                std::uint32_t(data[pos + 2]) << 16 | std::uint32_t(data[pos + 3]) << 24;
    pos += 4;
    return value;
}

std::int16_t BitReader::S16() {
    return std::int16_t(U16());
}

std::uint32_t BitReader::UB(int bits) {
    if (bits <= 0)
        return 0;
    if (std::size_t(bits) > RemainingBits()) {
        MarkOverrun();
        return 0;
    }
    std::uint64_t value = 0;
    while (bits > 0) {
        const int available = 8 - bitPos;
        const int take = std::min(available, bits);
        const std::uint32_t chunk = (data[pos] >> (available - take)) & ((1u << take) - 1);
        value = value << take | chunk;
        bits -= take;
        bitPos += take;
        if (bitPos == 8) {
            bitPos = 0;
            ++pos;
        }
    }
    return std::uint32_t(value);
}

std::int32_t BitReader::SB(int bits) {
    if (bits <= 0)
        return 0;
    const std::uint32_t raw = UB(bits);
    if (bits >= 32)
        return std::int32_t(raw);
    const std::uint32_t sign = 1u << (bits - 1);
    return std::int32_t(std::int64_t(raw ^ sign) - std::int64_t(sign));
}

QByteArray BitReader::Bytes(std::size_t count) {
    if (!Take(count))
        return {};
    QByteArray bytes(reinterpret_cast<const char*>(data + pos), qsizetype(count));
    pos += count;
    return bytes;
}

void BitReader::Skip(std::size_t count) {
    if (Take(count))
        pos += count;
}

BitReader BitReader::Sub(std::size_t count) {
    if (!Take(count))
        return {};
    BitReader sub(data + pos, count);
    pos += count;
    return sub;
}

QByteArray BitReader::CString() {
    Align();
    if (pos >= size) {
        MarkOverrun();
        return {};
    }
    const std::uint8_t* start = data + pos;
    const void* zero = std::memchr(start, 0, size - pos);
    if (zero == nullptr) {
        MarkOverrun();
        return {};
    }
    const std::size_t length = std::size_t(static_cast<const std::uint8_t*>(zero) - start);
    QByteArray text(reinterpret_cast<const char*>(start), qsizetype(length));
    pos += length + 1;
    return text;
}

} // namespace flash

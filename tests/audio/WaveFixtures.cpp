#include "WaveFixtures.h"

#include <cstring>

WAVEFORMATEX PCMFormat(TPCMFormat Format) {
    WAVEFORMATEX format{};
    PCMFormatToWaveFormat(format, Format);
    return format;
}

QByteArray LittleEndian32(std::uint32_t Value) {
    const char bytes[4] = {char(Value), char(Value >> 8), char(Value >> 16), char(Value >> 24)};
    return QByteArray(bytes, 4);
}

std::uint32_t ReadLittleEndian32(const QByteArray& Bytes, int Offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | std::uint8_t(Bytes.at(Offset + i));
    return value;
}

std::uint16_t ReadLittleEndian16(const QByteArray& Bytes, int Offset) {
    return std::uint16_t(std::uint8_t(Bytes.at(Offset)) | std::uint8_t(Bytes.at(Offset + 1)) << 8);
}

QByteArray Chunk(const char* Id, const QByteArray& Body, std::optional<std::uint32_t> Size) {
    QByteArray chunk(Id, 4);
    chunk += LittleEndian32(Size.value_or(std::uint32_t(Body.size())));
    chunk += Body;
    if (Body.size() % 2)
        chunk += '\0';
    return chunk;
}

QByteArray Riff(const QByteArray& Chunks, const char* FormType, std::optional<std::uint32_t> Size) {
    const QByteArray body = QByteArray(FormType, 4) + Chunks;
    return QByteArray("RIFF", 4) + LittleEndian32(Size.value_or(std::uint32_t(body.size()))) + body;
}

QByteArray FormatBody(const WAVEFORMATEX& Format, int Size) {
    QByteArray record(reinterpret_cast<const char*>(&Format), sizeof(Format));
    record.resize(Size, '\0');
    return record;
}

QByteArray WaveFile(const WAVEFORMATEX& Format, const QByteArray& Audio) {
    return Riff(Chunk("fmt ", FormatBody(Format)) + Chunk("data", Audio));
}

std::unique_ptr<TMemoryStream> MemoryStreamOf(const QByteArray& Bytes) {
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(Bytes.constData(), std::int32_t(Bytes.size()));
    stream->SetPosition(0);
    return stream;
}

QByteArray ContentOf(TStream& Stream) {
    QByteArray bytes(qsizetype(Stream.GetSize()), '\0');
    const std::int64_t position = Stream.GetPosition();
    Stream.SetPosition(0);
    Stream.ReadBuffer(bytes.data(), std::int32_t(bytes.size()));
    Stream.SetPosition(position);
    return bytes;
}

QByteArray Samples(std::initializer_list<std::int16_t> Values) {
    QByteArray bytes;
    for (std::int16_t value : Values)
        bytes += QByteArray(reinterpret_cast<const char*>(&value), 2);
    return bytes;
}

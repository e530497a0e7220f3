#pragma once
// Builders for WAVE test data: chunks with chosen (or lying) sizes, format records, memory streams.

#include "audio/WaveUtils.h"
#include "platform/Streams.h"

#include <QByteArray>
#include <memory>
#include <optional>

using namespace win; // the platform layer's Windows-style names

WAVEFORMATEX PCMFormat(TPCMFormat Format);

QByteArray LittleEndian32(std::uint32_t Value);
std::uint32_t ReadLittleEndian32(const QByteArray& Bytes, int Offset);
std::uint16_t ReadLittleEndian16(const QByteArray& Bytes, int Offset);

// A chunk: id, size (the body's unless overridden), body and a pad byte for an odd body.
QByteArray Chunk(const char* Id, const QByteArray& Body, std::optional<std::uint32_t> Size = {});
// A RIFF chunk of the given form type around Chunks.
QByteArray Riff(const QByteArray& Chunks, const char* FormType = "WAVE",
                std::optional<std::uint32_t> Size = {});
// The first Size bytes of a format record (default: the whole 18 bytes).
QByteArray FormatBody(const WAVEFORMATEX& Format, int Size = 18);
// A plain WAVE of Format holding Audio, as the writer lays it out.
QByteArray WaveFile(const WAVEFORMATEX& Format, const QByteArray& Audio);

std::unique_ptr<TMemoryStream> MemoryStreamOf(const QByteArray& Bytes);
QByteArray ContentOf(TStream& Stream);

// 16-bit samples as bytes.
QByteArray Samples(std::initializer_list<std::int16_t> Values);

#pragma once
// Decompression of a movie's body: zlib (CWS) and LZMA (ZWS). Internal to the reader.
// Never throws: damaged or cut-short data gives what was decoded with a status, and output past
// maxOutput is TooLarge (or, with stopWhenFull, simply where decoding stops).

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace flash::reader {

struct Decoded {
    enum class Status { Complete, Truncated, Damaged, TooLarge };
    Status status = Status::Complete;
    QByteArray data;
};

// A zlib stream, its output grown from the size hint.
Decoded Inflate(const std::uint8_t* input, std::size_t inputSize, std::size_t hint, std::size_t maxOutput,
                bool stopWhenFull);

// The 5 property bytes of an LZMA stream and its data, decoded up to the uncompressed size when it
// is known (an end marker there is allowed, not needed) or else up to an end marker. The dictionary
// is never made larger than the output can be, which bounds the decoder's memory whatever the
// properties claim.
Decoded Unlzma(const std::uint8_t* properties, const std::uint8_t* input, std::size_t inputSize,
               std::optional<std::uint64_t> knownSize, std::size_t maxOutput, bool stopWhenFull);

} // namespace flash::reader

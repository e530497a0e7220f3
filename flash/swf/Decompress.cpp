#include "flash/swf/Decompress.h"

#include <algorithm>
#include <cstdlib>
#include <lzma.h>
#include <zlib.h>

namespace flash::reader {

namespace {

constexpr std::size_t MiB = std::size_t(1) << 20;

// Output grows from the size hint in doublings, so a lying hint costs nothing. With stopWhenFull the
// first maxOutput bytes are all that is wanted; otherwise more than maxOutput is TooLarge.
class OutputBuffer {
public:
    OutputBuffer(std::size_t hint, std::size_t maxOutput, bool stopWhenFull)
        : maxOutput(maxOutput), stopWhenFull(stopWhenFull) {
        const std::size_t limit = stopWhenFull ? maxOutput : maxOutput + 1;
        data.resize(qsizetype(std::min(std::clamp<std::size_t>(hint, 4096, 16 * MiB), limit)));
    }

    // Room for the next output; false when the limit is reached.
    bool Grow() {
        if (produced < std::size_t(data.size()))
            return true;
        const std::size_t limit = stopWhenFull ? maxOutput : maxOutput + 1;
        if (produced >= limit)
            return false;
        data.resize(qsizetype(std::min(std::max<std::size_t>(std::size_t(data.size()) * 2, 4096), limit)));
        return true;
    }
    std::uint8_t* Next() { return reinterpret_cast<std::uint8_t*>(data.data()) + produced; }
    std::size_t Free() const { return std::min<std::size_t>(std::size_t(data.size()) - produced, UINT_MAX); }
    bool Full() const { return produced >= maxOutput; }
    bool Over() const { return produced > maxOutput; }

    QByteArray Take() {
        data.truncate(qsizetype(std::min(produced, maxOutput)));
        return std::move(data);
    }

    std::size_t produced = 0;

private:
    QByteArray data;
    std::size_t maxOutput;
    bool stopWhenFull;
};

} // namespace

Decoded Inflate(const std::uint8_t* input, std::size_t inputSize, std::size_t hint, std::size_t maxOutput,
                bool stopWhenFull) {
    Decoded result;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        result.status = Decoded::Status::Damaged;
        return result;
    }
    OutputBuffer output(hint, maxOutput, stopWhenFull);
    std::size_t consumed = 0;
    for (;;) {
        if (stopWhenFull && output.Full())
            break;
        if (!output.Grow()) {
            result.status = Decoded::Status::TooLarge;
            break;
        }
        if (stream.avail_in == 0 && consumed < inputSize) {
            const std::size_t chunk = std::min<std::size_t>(inputSize - consumed, UINT_MAX);
            stream.next_in = const_cast<Bytef*>(input + consumed); // zlib's interface is not const
            stream.avail_in = uInt(chunk);
            consumed += chunk;
        }
        stream.next_out = output.Next();
        stream.avail_out = uInt(output.Free());
        const uInt before = stream.avail_out;
        const int rc = inflate(&stream, Z_NO_FLUSH);
        output.produced += before - stream.avail_out;
        if (output.Over()) {
            result.status = Decoded::Status::TooLarge;
            break;
        }
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_BUF_ERROR && stream.avail_in == 0 && consumed == inputSize) {
            result.status = Decoded::Status::Truncated;
            break;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            result.status = Decoded::Status::Damaged;
            break;
        }
    }
    inflateEnd(&stream);
    result.data = output.Take();
    return result;
}

// The 5 property bytes of an LZMA stream and its data, decoded up to the uncompressed size when it
// is known (an end marker there is allowed, not needed) or else up to an end marker. The dictionary
// is never made larger than the output can be, which bounds the decoder's memory whatever the
// properties claim.
Decoded Unlzma(const std::uint8_t* properties, const std::uint8_t* input, std::size_t inputSize,
               std::optional<std::uint64_t> knownSize, std::size_t maxOutput, bool stopWhenFull) {
    Decoded result;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, properties, 5) != LZMA_OK) {
        result.status = Decoded::Status::Damaged;
        return result;
    }
    auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
    std::uint64_t bound = maxOutput;
    if (knownSize)
        bound = std::min<std::uint64_t>(bound, *knownSize);
    options->dict_size =
        std::uint32_t(std::min<std::uint64_t>(options->dict_size, std::max<std::uint64_t>(bound, 4096)));
    const std::uint64_t size = knownSize ? *knownSize : UINT64_MAX;
    filters[0].id = LZMA_FILTER_LZMA1EXT;
    options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options->ext_size_low = std::uint32_t(size);
    options->ext_size_high = std::uint32_t(size >> 32);

    lzma_stream stream = LZMA_STREAM_INIT;
    const lzma_ret init = lzma_raw_decoder(&stream, filters);
    free(options); // allocated by liblzma with malloc, as no allocator was given
    if (init != LZMA_OK) {
        result.status = Decoded::Status::Damaged;
        return result;
    }
    OutputBuffer output(knownSize ? *knownSize : 0, maxOutput, stopWhenFull);
    stream.next_in = input;
    stream.avail_in = inputSize;
    for (;;) {
        if (stopWhenFull && output.Full())
            break;
        if (!output.Grow()) {
            result.status = Decoded::Status::TooLarge;
            break;
        }
        stream.next_out = output.Next();
        stream.avail_out = output.Free();
        const std::size_t before = stream.avail_out;
        const lzma_ret rc = lzma_code(&stream, LZMA_FINISH);
        output.produced += before - stream.avail_out;
        if (output.Over()) {
            result.status = Decoded::Status::TooLarge;
            break;
        }
        if (rc == LZMA_STREAM_END)
            break;
        if (rc == LZMA_BUF_ERROR) {
            result.status = Decoded::Status::Truncated;
            break;
        }
        if (rc != LZMA_OK) {
            result.status = Decoded::Status::Damaged;
            break;
        }
    }
    lzma_end(&stream);
    result.data = output.Take();
    return result;
}

} // namespace flash::reader

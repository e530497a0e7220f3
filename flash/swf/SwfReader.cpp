#include "flash/swf/SwfReader.h"

#include "flash/swf/BitReader.h"
#include "flash/swf/FilterReader.h"
#include "flash/swf/TagCodes.h"
#include "flash/swf/TextEncoding.h"

#include <QDebug>
#include <QFile>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <lzma.h>
#include <optional>
#include <set>
#include <zlib.h>

namespace flash {
namespace {

struct TagInfo {
    std::uint16_t code;
    const char* name;
    // Parsed into the dictionary or a frame; kept raw in the dictionary; kept raw in a frame.
    enum Use { Character, Control, Raw, Other } use;
};

constexpr TagInfo Tags[] = {
    {tag::End, "End", TagInfo::Control},
    {tag::ShowFrame, "ShowFrame", TagInfo::Control},
    {tag::DefineShape, "DefineShape", TagInfo::Character},
    {tag::PlaceObject, "PlaceObject", TagInfo::Control},
    {tag::RemoveObject, "RemoveObject", TagInfo::Control},
    {tag::DefineBits, "DefineBits", TagInfo::Character},
    {tag::DefineButton, "DefineButton", TagInfo::Character},
    {tag::JpegTables, "JPEGTables", TagInfo::Control},
    {tag::SetBackgroundColor, "SetBackgroundColor", TagInfo::Control},
    {tag::DefineFont, "DefineFont", TagInfo::Character},
    {tag::DefineText, "DefineText", TagInfo::Character},
    {tag::DoAction, "DoAction", TagInfo::Other},
    {tag::DefineFontInfo, "DefineFontInfo", TagInfo::Other},
    {tag::DefineSound, "DefineSound", TagInfo::Character},
    {tag::StartSound, "StartSound", TagInfo::Control},
    {tag::DefineButtonSound, "DefineButtonSound", TagInfo::Other},
    {tag::SoundStreamHead, "SoundStreamHead", TagInfo::Control},
    {tag::SoundStreamBlock, "SoundStreamBlock", TagInfo::Control},
    {tag::DefineBitsLossless, "DefineBitsLossless", TagInfo::Character},
    {tag::DefineBitsJpeg2, "DefineBitsJPEG2", TagInfo::Character},
    {tag::DefineShape2, "DefineShape2", TagInfo::Character},
    {tag::DefineButtonCxform, "DefineButtonCxform", TagInfo::Other},
    {tag::Protect, "Protect", TagInfo::Other},
    {tag::PlaceObject2, "PlaceObject2", TagInfo::Control},
    {tag::RemoveObject2, "RemoveObject2", TagInfo::Control},
    {tag::DefineShape3, "DefineShape3", TagInfo::Character},
    {tag::DefineText2, "DefineText2", TagInfo::Character},
    {tag::DefineButton2, "DefineButton2", TagInfo::Character},
    {tag::DefineBitsJpeg3, "DefineBitsJPEG3", TagInfo::Character},
    {tag::DefineBitsLossless2, "DefineBitsLossless2", TagInfo::Character},
    {tag::DefineEditText, "DefineEditText", TagInfo::Character},
    {tag::DefineSprite, "DefineSprite", TagInfo::Character},
    {tag::FrameLabel, "FrameLabel", TagInfo::Control},
    {tag::SoundStreamHead2, "SoundStreamHead2", TagInfo::Control},
    {tag::DefineMorphShape, "DefineMorphShape", TagInfo::Character},
    {tag::DefineFont2, "DefineFont2", TagInfo::Character},
    {tag::ExportAssets, "ExportAssets", TagInfo::Other},
    {tag::ImportAssets, "ImportAssets", TagInfo::Other},
    {tag::EnableDebugger, "EnableDebugger", TagInfo::Other},
    {tag::DoInitAction, "DoInitAction", TagInfo::Other},
    {tag::DefineVideoStream, "DefineVideoStream", TagInfo::Character},
    {tag::VideoFrame, "VideoFrame", TagInfo::Other},
    {tag::DefineFontInfo2, "DefineFontInfo2", TagInfo::Other},
    {tag::EnableDebugger2, "EnableDebugger2", TagInfo::Other},
    {tag::ScriptLimits, "ScriptLimits", TagInfo::Other},
    {tag::SetTabIndex, "SetTabIndex", TagInfo::Other},
    {tag::FileAttributes, "FileAttributes", TagInfo::Other},
    {tag::PlaceObject3, "PlaceObject3", TagInfo::Control},
    {tag::ImportAssets2, "ImportAssets2", TagInfo::Other},
    {tag::DoAbcDefine, "DoABCDefine", TagInfo::Other},
    {tag::DefineFontAlignZones, "DefineFontAlignZones", TagInfo::Other},
    {tag::CsmTextSettings, "CSMTextSettings", TagInfo::Other},
    {tag::DefineFont3, "DefineFont3", TagInfo::Character},
    {tag::SymbolClass, "SymbolClass", TagInfo::Other},
    {tag::Metadata, "Metadata", TagInfo::Other},
    {tag::DefineScalingGrid, "DefineScalingGrid", TagInfo::Other},
    {tag::DoAbc, "DoABC", TagInfo::Other},
    {tag::DefineShape4, "DefineShape4", TagInfo::Character},
    {tag::DefineMorphShape2, "DefineMorphShape2", TagInfo::Character},
    {tag::DefineSceneAndFrameLabelData, "DefineSceneAndFrameLabelData", TagInfo::Other},
    {tag::DefineBinaryData, "DefineBinaryData", TagInfo::Raw},
    {tag::DefineFontName, "DefineFontName", TagInfo::Other},
    {tag::StartSound2, "StartSound2", TagInfo::Control},
    {tag::DefineBitsJpeg4, "DefineBitsJPEG4", TagInfo::Character},
    {tag::DefineFont4, "DefineFont4", TagInfo::Raw},
    {tag::EnableTelemetry, "EnableTelemetry", TagInfo::Other},
};

const TagInfo* FindTag(std::uint16_t code) {
    for (const TagInfo& info : Tags)
        if (info.code == code)
            return &info;
    return nullptr;
}

QString TagName(std::uint16_t code) {
    const TagInfo* info = FindTag(code);
    return info ? QString::fromLatin1(info->name) : QStringLiteral("tag %1").arg(code);
}

constexpr std::size_t HeaderBytes = 8;
// RECT (at most 17 bytes), frame rate and frame count.
constexpr std::size_t MaxHeaderBodyBytes = 21;
constexpr std::size_t MiB = std::size_t(1) << 20;

QString SizeText(std::size_t bytes) {
    return bytes >= MiB && bytes % MiB == 0 ? QStringLiteral("%1 MiB").arg(bytes / MiB)
                                            : QStringLiteral("%1 bytes").arg(bytes);
}

// Smallest encodings, so that a count can be checked against the bytes left before anything is
// allocated for it.
constexpr std::size_t MinFillStyleBytes = 3;      // type, empty matrix, empty gradient
constexpr std::size_t MinLineStyleBytes = 5;      // width and an RGB colour
constexpr std::size_t MinMorphFillStyleBytes = 4; // type, two empty matrices, empty gradient
constexpr std::size_t MinMorphLineStyleBytes = 10;

// --- Decompression ---

struct Decoded {
    enum class Status { Complete, Truncated, Damaged, TooLarge };
    Status status = Status::Complete;
    QByteArray data;
};

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

// --- Field readers ---

Rect ReadRect(BitReader& r) {
    r.Align();
    const int bits = int(r.UB(5));
    Rect rect;
    rect.xMin = r.SB(bits);
    rect.xMax = r.SB(bits);
    rect.yMin = r.SB(bits);
    rect.yMax = r.SB(bits);
    r.Align();
    return rect;
}

Rgba ReadRgb(BitReader& r) {
    Rgba color;
    color.r = r.U8();
    color.g = r.U8();
    color.b = r.U8();
    return color;
}

Rgba ReadRgba(BitReader& r) {
    Rgba color = ReadRgb(r);
    color.a = r.U8();
    return color;
}

Matrix ReadMatrix(BitReader& r) {
    r.Align();
    Matrix m;
    if (r.UB(1)) {
        const int bits = int(r.UB(5));
        m.a = r.FB(bits);
        m.d = r.FB(bits);
    }
    if (r.UB(1)) {
        const int bits = int(r.UB(5));
        m.b = r.FB(bits);
        m.c = r.FB(bits);
    }
    const int bits = int(r.UB(5));
    m.tx = r.SB(bits);
    m.ty = r.SB(bits);
    r.Align();
    return m;
}

ColorTransform ReadColorTransform(BitReader& r, bool withAlpha) {
    r.Align();
    const bool hasAdd = r.UB(1);
    const bool hasMul = r.UB(1);
    const int bits = int(r.UB(4));
    ColorTransform t;
    if (hasMul) {
        t.rMul = r.SB(bits) / 256.0;
        t.gMul = r.SB(bits) / 256.0;
        t.bMul = r.SB(bits) / 256.0;
        if (withAlpha)
            t.aMul = r.SB(bits) / 256.0;
    }
    if (hasAdd) {
        t.rAdd = r.SB(bits);
        t.gAdd = r.SB(bits);
        t.bAdd = r.SB(bits);
        if (withAlpha)
            t.aAdd = r.SB(bits);
    }
    r.Align();
    return t;
}

LineStyle::Cap CapOf(std::uint32_t value) {
    return value <= 2 ? LineStyle::Cap(value) : LineStyle::Cap::Round;
}

LineStyle::Join JoinOf(std::uint32_t value) {
    return value <= 2 ? LineStyle::Join(value) : LineStyle::Join::Round;
}

// The byte before gradient records: the spread and interpolation modes and the count. The modes
// are documented for DefineShape4 only, but Flash Player honours them in every shape version, and
// authoring tools do write them there.
int ReadGradientHead(BitReader& r, Gradient& gradient) {
    const std::uint8_t head = r.U8();
    const int spread = head >> 6;
    gradient.spread = spread <= 2 ? Gradient::Spread(spread) : Gradient::Spread::Pad;
    gradient.interpolation =
        ((head >> 4) & 3) == 1 ? Gradient::Interpolation::LinearRgb : Gradient::Interpolation::Rgb;
    return head & 0x0F;
}

// The caps, join, scale flags and miter limit of a LineStyle2 (shapes and morph shapes alike);
// returns whether a fill style follows.
bool ReadLineStyle2Flags(BitReader& r, LineStyle& style) {
    style.startCap = CapOf(r.UB(2));
    style.join = JoinOf(r.UB(2));
    const bool hasFill = r.UB(1);
    style.noHScale = r.UB(1);
    style.noVScale = r.UB(1);
    style.pixelHinting = r.UB(1);
    r.UB(5);
    style.noClose = r.UB(1);
    style.endCap = CapOf(r.UB(2));
    if (style.join == LineStyle::Join::Miter)
        style.miterLimit = r.UFixed8();
    return hasFill;
}

// Edges made while reading one SHAPE: style numbers of the group in force, resolved to indexes of
// the shape's whole style lists.
struct StyleGroup {
    std::size_t fillBase = 0, fillCount = 0;
    std::size_t lineBase = 0, lineCount = 0;
    int Fill(std::uint32_t number) const {
        return number == 0 || number > fillCount ? -1 : int(fillBase + number - 1);
    }
    int Line(std::uint32_t number) const {
        return number == 0 || number > lineCount ? -1 : int(lineBase + number - 1);
    }
};

void MakeCurve(ShapeEdge& edge) {
    edge.controlX = (edge.fromX + edge.toX) / 2;
    edge.controlY = (edge.fromY + edge.toY) / 2;
    edge.curved = true;
}

// --- The tag parser ---

class Parser {
public:
    Parser(Movie& movie, const ReadLimits& limits, QStringList& warnings)
        : movie(movie), limits(limits), warnings(warnings) {}

    void ReadTimeline(BitReader r, Timeline& timeline, int nesting);
    void Finish();

    void Warn(const QString& kind, const QString& message) {
        if (!warned.insert(kind).second)
            return;
        warnings.append(message);
        qWarning().noquote() << "flash:" << message;
    }

    QString fatal;

private:
    bool Room(std::size_t current, std::size_t extra, std::size_t elementSize);
    template <typename T> bool Push(std::vector<T>& list, T&& value) {
        if (!Room(list.size(), 1, sizeof(T)))
            return false;
        list.push_back(std::move(value));
        return true;
    }
    QString Text(const QByteArray& raw) const { return DecodeText(raw, movie.version); }
    void Define(std::uint16_t id, std::shared_ptr<Character> character);

    void ReadTag(std::uint16_t code, BitReader& r, Timeline& timeline, Frame& frame, int nesting);
    bool ReadCharacter(std::uint16_t code, BitReader& r, int nesting);
    bool ReadControl(std::uint16_t code, BitReader& r, Timeline& timeline, Frame& frame);

    bool ReadFillStyle(BitReader& r, int shapeVersion, FillStyle& style);
    bool ReadLineStyle(BitReader& r, int shapeVersion, LineStyle& style);
    bool ReadFillStyles(BitReader& r, int shapeVersion, std::vector<FillStyle>& styles, std::size_t& count);
    bool ReadLineStyles(BitReader& r, int shapeVersion, std::vector<LineStyle>& styles, std::size_t& count);
    bool ReadShapeRecords(BitReader& r, int shapeVersion, Shape* withNewStyles, StyleGroup group,
                          std::vector<ShapeEdge>& edges);
    bool ReadShape(BitReader& r, int version, std::uint16_t id);
    bool ReadMorphFillStyle(BitReader& r, FillStyle& start, FillStyle& end);
    bool ReadMorphLineStyle(BitReader& r, int version, LineStyle& start, LineStyle& end);
    bool ReadMorphShape(BitReader& r, int version, std::uint16_t id);
    bool ReadSoundInfo(BitReader& r, SoundInfo& info);
    bool ReadPlaceObject(BitReader& r, int version, PlaceObject& place);
    bool ReadClipActions(BitReader& r, std::vector<ClipAction>& actions);
    QString FontName(QByteArray raw) const;
    bool ReadGlyphs(const BitReader& table, const std::vector<std::size_t>& offsets, std::size_t end,
                    Font& font);
    bool ReadFontLayout(BitReader& r, Font& font);
    bool ReadFont(BitReader& r, int version, std::uint16_t id);
    bool ReadFontInfo(BitReader& r, std::uint16_t code);
    bool ReadText(BitReader& r, int version, std::uint16_t id);
    bool ReadEditText(BitReader& r, std::uint16_t id);
    bool ReadVideoStream(BitReader& r, std::uint16_t id);
    bool AttachVideoFrame(BitReader r);
    // The body after the character id; nothing when the records are damaged. Actions past damaged
    // condition records are left out.
    std::optional<Button> ReadButton(int version, BitReader& r);
    bool ReadButtonRecords(int version, BitReader& r, std::vector<ButtonRecord>& out);
    void ReadConditionActions(BitReader& r, std::vector<ButtonAction>& out);
    // DefineButtonSound's body after the button id: four sound ids, each followed by its sound info
    // unless it is 0; nothing when damaged.
    std::optional<std::vector<ButtonSound>> ReadButtonSounds(BitReader& r);
    bool ReadButtonExtra(std::uint16_t code, BitReader& r);
    bool ReadExports(BitReader& r);

    Movie& movie;
    const ReadLimits& limits;
    QStringList& warnings;
    std::set<QString> warned;
    std::size_t modelBytes = 0;
    std::vector<std::shared_ptr<Character>> bitmapsWithoutTables;
    // Video streams take their frames from VideoFrame tags that follow them.
    std::map<std::uint16_t, std::shared_ptr<Character>> videoStreams;
    // Buttons take their sounds and colour transform from tags that follow them.
    std::map<std::uint16_t, std::shared_ptr<Character>> buttons;
};

bool Parser::Room(std::size_t current, std::size_t extra, std::size_t elementSize) {
    if (!fatal.isEmpty())
        return false;
    const std::size_t maxElements = limits.maxListBytes / elementSize;
    if (current > maxElements || extra > maxElements - current) {
        fatal = QStringLiteral("the movie is too large to load: one of its lists needs more than %1")
                    .arg(SizeText(limits.maxListBytes));
        return false;
    }
    const std::size_t bytes = extra * elementSize;
    if (bytes > limits.maxModelBytes - std::min(modelBytes, limits.maxModelBytes)) {
        fatal = QStringLiteral("the movie is too large to load: its shapes and timelines need more than %1")
                    .arg(SizeText(limits.maxModelBytes));
        return false;
    }
    modelBytes += bytes;
    return true;
}

void Parser::Define(std::uint16_t id, std::shared_ptr<Character> character) {
    if (movie.dictionary.count(id)) {
        Warn(QStringLiteral("duplicate id"),
             QStringLiteral("character %1 is defined twice; the first definition counts").arg(id));
        return;
    }
    movie.dictionary.emplace(id, std::move(character));
}

void Parser::ReadTimeline(BitReader r, Timeline& timeline, int nesting) {
    Frame frame;
    for (;;) {
        if (!fatal.isEmpty())
            return;
        if (r.Remaining() == 0) {
            Warn(QStringLiteral("truncated"),
                 QStringLiteral("the movie is truncated: a tag list ends without an End tag"));
            break;
        }
        if (r.Remaining() < 2) {
            Warn(QStringLiteral("truncated"), QStringLiteral("the movie is truncated inside a tag header"));
            break;
        }
        const std::uint16_t head = r.U16();
        const std::uint16_t code = head >> 6;
        std::size_t length = head & 0x3F;
        if (length == 0x3F) {
            if (r.Remaining() < 4) {
                Warn(QStringLiteral("truncated"),
                     QStringLiteral("the movie is truncated inside a tag header"));
                break;
            }
            length = r.U32();
        }
        if (length > r.Remaining()) {
            Warn(QStringLiteral("truncated"),
                 QStringLiteral("the movie is truncated: a %1 tag of %2 bytes runs past the end (%3 left); "
                                "reading stops there")
                     .arg(TagName(code))
                     .arg(length)
                     .arg(r.Remaining()));
            break;
        }
        BitReader body = r.Sub(length);
        if (code == tag::End)
            break;
        if (code == tag::ShowFrame) {
            if (!Push(timeline.frames, std::move(frame)))
                return;
            frame = {};
            continue;
        }
        ReadTag(code, body, timeline, frame, nesting);
    }
    if (!frame.tags.empty())
        Push(timeline.frames, std::move(frame));
}

void Parser::ReadTag(std::uint16_t code, BitReader& r, Timeline& timeline, Frame& frame, int nesting) {
    const TagInfo* info = FindTag(code);
    if (info == nullptr)
        return;
    // What a reader refuses is skipped with a warning, unless the whole movie has failed.
    auto skipIfDamaged = [&](bool read, const char* message = "skipped a damaged %1 tag") {
        if (!read && fatal.isEmpty())
            Warn(QStringLiteral("damaged %1").arg(code), QString::fromLatin1(message).arg(TagName(code)));
    };
    if (info->use == TagInfo::Character || info->use == TagInfo::Raw) {
        skipIfDamaged(ReadCharacter(code, r, nesting));
        return;
    }
    if (code == tag::JpegTables) {
        if (movie.jpegTables.isEmpty())
            movie.jpegTables = r.Rest();
        return;
    }
    if (code == tag::DefineFontInfo || code == tag::DefineFontInfo2) {
        skipIfDamaged(ReadFontInfo(r, code), "skipped a %1 tag that is damaged or names no font");
        return;
    }
    if (code == tag::VideoFrame && AttachVideoFrame(r))
        return;
    if (code == tag::ExportAssets) {
        skipIfDamaged(ReadExports(r));
        return;
    }
    if (code == tag::DefineButtonSound || code == tag::DefineButtonCxform) {
        skipIfDamaged(ReadButtonExtra(code, r));
        return;
    }
    if (info->use == TagInfo::Other) {
        Push(frame.tags, ControlTag(OtherTag{code, r.Rest()}));
        return;
    }
    skipIfDamaged(ReadControl(code, r, timeline, frame));
}

bool Parser::ReadCharacter(std::uint16_t code, BitReader& r, int nesting) {
    if (r.Remaining() < 2)
        return false;
    const BitReader whole = r;
    const std::uint16_t id = r.U16();
    if (FindTag(code)->use == TagInfo::Raw) {
        Define(id, std::make_shared<Character>(RawCharacter{code, BitReader(whole).Rest()}));
        return true;
    }
    switch (code) {
    case tag::DefineShape:
        return ReadShape(r, 1, id);
    case tag::DefineShape2:
        return ReadShape(r, 2, id);
    case tag::DefineShape3:
        return ReadShape(r, 3, id);
    case tag::DefineShape4:
        return ReadShape(r, 4, id);
    case tag::DefineMorphShape:
        return ReadMorphShape(r, 1, id);
    case tag::DefineMorphShape2:
        return ReadMorphShape(r, 2, id);
    case tag::DefineBits: {
        Bitmap bitmap;
        bitmap.kind = Bitmap::Kind::Jpeg;
        bitmap.data = r.Rest();
        bitmap.jpegTables = movie.jpegTables;
        auto character = std::make_shared<Character>(std::move(bitmap));
        if (movie.jpegTables.isEmpty())
            bitmapsWithoutTables.push_back(character);
        Define(id, std::move(character));
        return true;
    }
    case tag::DefineBitsJpeg2:
    case tag::DefineBitsJpeg3:
    case tag::DefineBitsJpeg4: {
        Bitmap bitmap;
        bitmap.kind = Bitmap::Kind::Jpeg;
        std::size_t imageBytes = r.Remaining();
        if (code != tag::DefineBitsJpeg2)
            imageBytes = r.U32();
        if (code == tag::DefineBitsJpeg4)
            bitmap.deblocking = r.UFixed8();
        if (r.Overrun() || imageBytes > r.Remaining())
            return false;
        bitmap.data = r.Bytes(imageBytes);
        bitmap.alphaData = r.Rest();
        Define(id, std::make_shared<Character>(std::move(bitmap)));
        return true;
    }
    case tag::DefineBitsLossless:
    case tag::DefineBitsLossless2: {
        Bitmap bitmap;
        bitmap.kind = Bitmap::Kind::Lossless;
        bitmap.losslessFormat = r.U8();
        bitmap.width = r.U16();
        bitmap.height = r.U16();
        if (bitmap.losslessFormat == 3)
            bitmap.colorTableSize = r.U8();
        bitmap.hasAlpha = code == tag::DefineBitsLossless2;
        if (r.Overrun() || bitmap.losslessFormat < 3 || bitmap.losslessFormat > 5)
            return false;
        bitmap.data = r.Rest();
        Define(id, std::make_shared<Character>(std::move(bitmap)));
        return true;
    }
    case tag::DefineSound: {
        Sound sound;
        const std::uint8_t format = r.U8();
        sound.format.codec = format >> 4;
        sound.format.rateCode = (format >> 2) & 3;
        sound.format.is16Bit = format & 2;
        sound.format.stereo = format & 1;
        sound.sampleCount = r.U32();
        if (r.Overrun())
            return false;
        sound.data = r.Rest();
        Define(id, std::make_shared<Character>(std::move(sound)));
        return true;
    }
    case tag::DefineFont:
        return ReadFont(r, 1, id);
    case tag::DefineFont2:
        return ReadFont(r, 2, id);
    case tag::DefineFont3:
        return ReadFont(r, 3, id);
    case tag::DefineText:
        return ReadText(r, 1, id);
    case tag::DefineText2:
        return ReadText(r, 2, id);
    case tag::DefineEditText:
        return ReadEditText(r, id);
    case tag::DefineVideoStream:
        return ReadVideoStream(r, id);
    case tag::DefineButton:
    case tag::DefineButton2: {
        std::optional<Button> button = ReadButton(code == tag::DefineButton ? 1 : 2, r);
        if (!button)
            return false;
        auto character = std::make_shared<Character>(std::move(*button));
        if (!movie.dictionary.count(id))
            buttons.emplace(id, character);
        Define(id, std::move(character));
        return true;
    }
    case tag::DefineSprite: {
        if (nesting >= limits.maxSpriteNesting) {
            Warn(QStringLiteral("nesting"),
                 QStringLiteral("skipped sprite %1: sprites nest deeper than %2 levels")
                     .arg(id)
                     .arg(limits.maxSpriteNesting));
            return true;
        }
        Sprite sprite;
        sprite.timeline.frameCount = r.U16();
        if (r.Overrun())
            return false;
        ReadTimeline(r.Sub(r.Remaining()), sprite.timeline, nesting + 1);
        if (!fatal.isEmpty())
            return false;
        Define(id, std::make_shared<Character>(std::move(sprite)));
        return true;
    }
    default:
        return false;
    }
}

bool Parser::ReadControl(std::uint16_t code, BitReader& r, Timeline& timeline, Frame& frame) {
    ControlTag tag;
    switch (code) {
    case tag::PlaceObject:
    case tag::PlaceObject2:
    case tag::PlaceObject3: {
        PlaceObject place;
        if (!ReadPlaceObject(r, code == tag::PlaceObject ? 1 : code == tag::PlaceObject2 ? 2 : 3, place))
            return false;
        tag = std::move(place);
        break;
    }
    case tag::RemoveObject:
    case tag::RemoveObject2: {
        if (code == tag::RemoveObject)
            r.U16(); // the character id; the depth alone says what goes
        RemoveObject remove;
        remove.depth = r.U16();
        if (r.Overrun())
            return false;
        tag = remove;
        break;
    }
    case tag::StartSound:
    case tag::StartSound2: {
        StartSound start;
        if (code == tag::StartSound)
            start.soundId = r.U16();
        else
            start.className = Text(r.CString());
        if (!ReadSoundInfo(r, start.info))
            return false;
        tag = std::move(start);
        break;
    }
    case tag::SoundStreamHead:
    case tag::SoundStreamHead2: {
        SoundStreamHead head;
        const std::uint8_t playback = r.U8();
        const std::uint8_t stream = r.U8();
        head.playbackFormat.rateCode = (playback >> 2) & 3;
        head.playbackFormat.is16Bit = playback & 2;
        head.playbackFormat.stereo = playback & 1;
        head.streamFormat.codec = stream >> 4;
        head.streamFormat.rateCode = (stream >> 2) & 3;
        head.streamFormat.is16Bit = stream & 2;
        head.streamFormat.stereo = stream & 1;
        head.samplesPerBlock = r.U16();
        if (r.Overrun())
            return false;
        // Some encoders leave the MP3 seek out.
        if (head.streamFormat.codec == 2 && r.Remaining() >= 2)
            head.latencySeek = r.S16();
        timeline.streamHead = head;
        tag = head;
        break;
    }
    case tag::SoundStreamBlock:
        tag = SoundStreamBlock{r.Rest()};
        break;
    case tag::FrameLabel: {
        FrameLabel label;
        label.name = Text(r.CString());
        if (r.Overrun())
            return false;
        if (&timeline == &movie.timeline)
            movie.frameLabels.emplace(label.name, int(timeline.frames.size()));
        tag = std::move(label);
        break;
    }
    case tag::SetBackgroundColor: {
        SetBackgroundColor background;
        background.color = ReadRgb(r);
        if (r.Overrun())
            return false;
        if (&timeline == &movie.timeline && timeline.frames.empty())
            movie.backgroundColor = background.color;
        tag = background;
        break;
    }
    default:
        return true;
    }
    Push(frame.tags, std::move(tag));
    return true;
}

bool Parser::ReadSoundInfo(BitReader& r, SoundInfo& info) {
    const std::uint8_t flags = r.U8();
    info.syncStop = flags & 0x20;
    info.syncNoMultiple = flags & 0x10;
    if (flags & 0x01)
        info.inPoint = r.U32();
    if (flags & 0x02)
        info.outPoint = r.U32();
    if (flags & 0x04)
        info.loopCount = r.U16();
    if (flags & 0x08) {
        const std::size_t count = r.U8();
        if (r.Overrun() || count * 8 > r.Remaining() || !Room(0, count, sizeof(SoundEnvelopePoint)))
            return false;
        info.envelope.resize(count);
        for (SoundEnvelopePoint& point : info.envelope) {
            point.position44 = r.U32();
            point.leftLevel = r.U16();
            point.rightLevel = r.U16();
        }
    }
    return !r.Overrun();
}

// Linkage names scripts attach characters by; the first name given wins.
bool Parser::ReadExports(BitReader& r) {
    const std::size_t count = r.U16();
    for (std::size_t i = 0; i < count && !r.Overrun(); ++i) {
        const std::uint16_t id = r.U16();
        const QString name = Text(r.CString()).toLower();
        if (r.Overrun())
            return false;
        if (!Room(movie.exports.size(), 1, sizeof(std::uint16_t) + sizeof(QString) + name.size() * 2))
            return false;
        movie.exports.try_emplace(name, id);
    }
    return !r.Overrun();
}

bool Parser::ReadPlaceObject(BitReader& r, int version, PlaceObject& place) {
    place.version = version;
    if (version == 1) {
        place.characterId = r.U16();
        place.depth = r.U16();
        place.matrix = ReadMatrix(r);
        if (r.Remaining() > 0)
            place.colorTransform = ReadColorTransform(r, false);
        return !r.Overrun();
    }
    const std::uint8_t flags = r.U8();
    const std::uint8_t flags3 = version == 3 ? r.U8() : 0;
    place.move = flags & 0x01;
    place.depth = r.U16();
    const bool hasCharacter = flags & 0x02;
    if (flags3 & 0x08)
        r.CString(); // the ActionScript 3 class to make; nothing here runs scripts
    if (hasCharacter)
        place.characterId = r.U16();
    if (flags & 0x04)
        place.matrix = ReadMatrix(r);
    if (flags & 0x08)
        place.colorTransform = ReadColorTransform(r, true);
    if (flags & 0x10)
        place.ratio = r.U16();
    if (flags & 0x20)
        place.name = Text(r.CString());
    if (flags & 0x40)
        place.clipDepth = r.U16();
    if (flags3 & 0x01) {
        if (!ReadFilters(r, place.filters))
            return false;
    }
    if (r.Overrun())
        return false;
    // Encoders are known to end the tag before the last optional bytes.
    if ((flags3 & 0x02) && r.Remaining() >= 1)
        place.blendMode = r.U8();
    if ((flags3 & 0x04) && r.Remaining() >= 1)
        r.U8(); // cache as bitmap
    if ((flags3 & 0x20) && r.Remaining() >= 1)
        place.visible = r.U8() != 0;
    if ((flags3 & 0x40) && r.Remaining() >= 4)
        place.backgroundColor = ReadRgba(r);
    if ((flags & 0x80) && !ReadClipActions(r, place.clipActions)) {
        // The placement stands; its handlers are lost.
        place.clipActions.clear();
        Warn(QStringLiteral("clip actions"), QStringLiteral("damaged clip event handlers were skipped"));
    }
    return fatal.isEmpty();
}

// The handlers up to a zero event field; a list cut short by the tag's end keeps what came whole.
bool Parser::ReadClipActions(BitReader& r, std::vector<ClipAction>& actions) {
    const std::size_t flagBytes = movie.version >= 6 ? 4 : 2;
    auto events = [&] { return flagBytes == 4 ? r.U32() : std::uint32_t(r.U16()); };
    r.U16();  // reserved
    events(); // every event handled, which the records say again
    while (r.Remaining() >= flagBytes) {
        ClipAction action;
        action.events = events();
        if (action.events == 0)
            break;
        std::size_t size = r.U32();
        if ((action.events & ClipEventKeyPress) && size > 0) {
            action.keyCode = r.U8();
            --size;
        }
        if (r.Overrun() || size > r.Remaining())
            return false;
        action.actions = r.Bytes(size);
        if (!Room(actions.size(), 1, sizeof(ClipAction) + size))
            return false;
        actions.push_back(std::move(action));
    }
    return !r.Overrun();
}

// --- Shapes ---

bool Parser::ReadFillStyle(BitReader& r, int shapeVersion, FillStyle& style) {
    const std::uint8_t type = r.U8();
    if (type == 0x00) {
        style.type = FillStyle::Type::Solid;
        style.color = shapeVersion >= 3 ? ReadRgba(r) : ReadRgb(r);
    } else if (FillStyle::IsGradient(FillStyle::Type(type))) {
        style.type = FillStyle::Type(type);
        style.gradient.matrix = ReadMatrix(r);
        const int count = ReadGradientHead(r, style.gradient);
        if (!Room(0, std::size_t(count), sizeof(GradientRecord)))
            return false;
        style.gradient.records.resize(std::size_t(count));
        for (GradientRecord& record : style.gradient.records) {
            record.ratio = r.U8();
            record.color = shapeVersion >= 3 ? ReadRgba(r) : ReadRgb(r);
        }
        if (type == 0x13)
            style.gradient.focalPoint = r.Fixed8();
    } else if (FillStyle::IsBitmapFill(FillStyle::Type(type))) {
        style.type = FillStyle::Type(type);
        style.bitmapId = r.U16();
        style.bitmapMatrix = ReadMatrix(r);
    } else {
        return false;
    }
    return !r.Overrun();
}

bool Parser::ReadLineStyle(BitReader& r, int shapeVersion, LineStyle& style) {
    style.width = r.U16();
    if (shapeVersion < 4) {
        style.color = shapeVersion >= 3 ? ReadRgba(r) : ReadRgb(r);
        return !r.Overrun();
    }
    const bool hasFill = ReadLineStyle2Flags(r, style);
    if (hasFill) {
        FillStyle fill;
        if (!ReadFillStyle(r, 4, fill))
            return false;
        style.fill = std::move(fill);
    } else {
        style.color = ReadRgba(r);
    }
    return !r.Overrun();
}

bool Parser::ReadFillStyles(BitReader& r, int shapeVersion, std::vector<FillStyle>& styles,
                            std::size_t& count) {
    count = r.U8();
    if (count == 0xFF && shapeVersion >= 2)
        count = r.U16();
    if (r.Overrun() || count > r.Remaining() / MinFillStyleBytes ||
        !Room(styles.size(), count, sizeof(FillStyle)))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        FillStyle style;
        if (!ReadFillStyle(r, shapeVersion, style))
            return false;
        styles.push_back(std::move(style));
    }
    return true;
}

bool Parser::ReadLineStyles(BitReader& r, int shapeVersion, std::vector<LineStyle>& styles,
                            std::size_t& count) {
    count = r.U8();
    if (count == 0xFF)
        count = r.U16();
    if (r.Overrun() || count > r.Remaining() / MinLineStyleBytes ||
        !Room(styles.size(), count, sizeof(LineStyle)))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        LineStyle style;
        if (!ReadLineStyle(r, shapeVersion, style))
            return false;
        styles.push_back(std::move(style));
    }
    return true;
}

// The records of one SHAPE, from its NumFillBits/NumLineBits on, into edges with absolute twip
// coordinates. withNewStyles is the shape that takes new style arrays (null where records may not
// bring any, as in morph shapes).
bool Parser::ReadShapeRecords(BitReader& r, int shapeVersion, Shape* withNewStyles, StyleGroup group,
                              std::vector<ShapeEdge>& edges) {
    r.Align();
    int fillBits = int(r.UB(4));
    int lineBits = int(r.UB(4));
    std::int64_t x = 0, y = 0;
    std::uint32_t fill0 = 0, fill1 = 0, line = 0;
    for (;;) {
        // A shape that ends with its tag, without the end record, is complete all the same.
        if (r.RemainingBits() < 6)
            return !r.Overrun();
        if (r.UB(1) == 0) {
            const std::uint32_t flags = r.UB(5);
            if (flags == 0)
                return !r.Overrun();
            if (flags & 0x01) {
                const int bits = int(r.UB(5));
                x = r.SB(bits);
                y = r.SB(bits);
            }
            if (flags & 0x02)
                fill0 = r.UB(fillBits);
            if (flags & 0x04)
                fill1 = r.UB(fillBits);
            if (flags & 0x08)
                line = r.UB(lineBits);
            if (flags & 0x10) {
                if (withNewStyles == nullptr)
                    return false;
                // Numbers given in this same record already refer to the new arrays.
                group.fillBase = withNewStyles->fillStyles.size();
                group.lineBase = withNewStyles->lineStyles.size();
                // Each style array paints its fills and lines above the earlier arrays.
                withNewStyles->newStyleArrays.push_back(
                    {std::uint32_t(group.fillBase), std::uint32_t(group.lineBase)});
                if (!ReadFillStyles(r, shapeVersion, withNewStyles->fillStyles, group.fillCount) ||
                    !ReadLineStyles(r, shapeVersion, withNewStyles->lineStyles, group.lineCount))
                    return false;
                fillBits = int(r.UB(4));
                lineBits = int(r.UB(4));
                if (!(flags & 0x02))
                    fill0 = 0;
                if (!(flags & 0x04))
                    fill1 = 0;
                if (!(flags & 0x08))
                    line = 0;
            }
            if (r.Overrun())
                return false;
            continue;
        }
        ShapeEdge edge;
        edge.fromX = double(x);
        edge.fromY = double(y);
        const bool straight = r.UB(1);
        const int bits = int(r.UB(4)) + 2;
        if (straight) {
            std::int64_t dx = 0, dy = 0;
            if (r.UB(1)) {
                dx = r.SB(bits);
                dy = r.SB(bits);
            } else if (r.UB(1)) {
                dy = r.SB(bits);
            } else {
                dx = r.SB(bits);
            }
            x += dx;
            y += dy;
        } else {
            x += r.SB(bits);
            y += r.SB(bits);
            edge.controlX = double(x);
            edge.controlY = double(y);
            x += r.SB(bits);
            y += r.SB(bits);
            edge.curved = true;
        }
        if (r.Overrun())
            return false;
        edge.toX = double(x);
        edge.toY = double(y);
        edge.fill0 = group.Fill(fill0);
        edge.fill1 = group.Fill(fill1);
        edge.line = group.Line(line);
        if (!Push(edges, std::move(edge)))
            return false;
    }
}

bool Parser::ReadShape(BitReader& r, int version, std::uint16_t id) {
    Shape shape;
    shape.bounds = ReadRect(r);
    if (version >= 4) {
        shape.edgeBounds = ReadRect(r);
        shape.nonZeroWinding = r.U8() & 0x04;
    }
    StyleGroup group;
    if (!ReadFillStyles(r, version, shape.fillStyles, group.fillCount) ||
        !ReadLineStyles(r, version, shape.lineStyles, group.lineCount))
        return false;
    if (!ReadShapeRecords(r, version, &shape, group, shape.edges))
        return false;
    Define(id, std::make_shared<Character>(std::move(shape)));
    return true;
}

bool Parser::ReadMorphFillStyle(BitReader& r, FillStyle& start, FillStyle& end) {
    const std::uint8_t type = r.U8();
    if (type == 0x00) {
        start.color = ReadRgba(r);
        end.color = ReadRgba(r);
    } else if (FillStyle::IsGradient(FillStyle::Type(type))) {
        start.gradient.matrix = ReadMatrix(r);
        end.gradient.matrix = ReadMatrix(r);
        const int count = ReadGradientHead(r, start.gradient);
        end.gradient.spread = start.gradient.spread;
        end.gradient.interpolation = start.gradient.interpolation;
        if (!Room(0, std::size_t(count) * 2, sizeof(GradientRecord)))
            return false;
        start.gradient.records.resize(std::size_t(count));
        end.gradient.records.resize(std::size_t(count));
        for (int i = 0; i < count; ++i) {
            start.gradient.records[i].ratio = r.U8();
            start.gradient.records[i].color = ReadRgba(r);
            end.gradient.records[i].ratio = r.U8();
            end.gradient.records[i].color = ReadRgba(r);
        }
        if (type == 0x13) {
            start.gradient.focalPoint = r.Fixed8();
            end.gradient.focalPoint = r.Fixed8();
        }
    } else if (FillStyle::IsBitmapFill(FillStyle::Type(type))) {
        start.bitmapId = end.bitmapId = r.U16();
        start.bitmapMatrix = ReadMatrix(r);
        end.bitmapMatrix = ReadMatrix(r);
    } else {
        return false;
    }
    start.type = end.type = FillStyle::Type(type);
    return !r.Overrun();
}

bool Parser::ReadMorphLineStyle(BitReader& r, int version, LineStyle& start, LineStyle& end) {
    start.width = r.U16();
    end.width = r.U16();
    if (version < 2) {
        start.color = ReadRgba(r);
        end.color = ReadRgba(r);
        return !r.Overrun();
    }
    const bool hasFill = ReadLineStyle2Flags(r, start);
    const std::uint16_t endWidth = end.width;
    end = start;
    end.width = endWidth;
    if (hasFill) {
        FillStyle startFill, endFill;
        if (!ReadMorphFillStyle(r, startFill, endFill))
            return false;
        start.fill = std::move(startFill);
        end.fill = std::move(endFill);
    } else {
        start.color = ReadRgba(r);
        end.color = ReadRgba(r);
    }
    return !r.Overrun();
}

bool Parser::ReadMorphShape(BitReader& r, int version, std::uint16_t id) {
    MorphShape morph;
    morph.startBounds = ReadRect(r);
    morph.endBounds = ReadRect(r);
    if (version >= 2) {
        ReadRect(r); // edge bounds, start and end
        ReadRect(r);
        r.U8(); // stroke scaling flags
    }
    const std::size_t offset = r.U32();
    if (r.Overrun() || offset > r.Remaining())
        return false;
    // The end edges sit at the offset; the start edges fill the space before them.
    BitReader startPart = offset > 0 ? r.Sub(offset) : r;
    BitReader endPart = offset > 0 ? r : BitReader();

    std::size_t count = startPart.U8();
    if (count == 0xFF)
        count = startPart.U16();
    if (startPart.Overrun() || count > startPart.Remaining() / MinMorphFillStyleBytes ||
        !Room(0, count * 2, sizeof(FillStyle)))
        return false;
    morph.startFillStyles.resize(count);
    morph.endFillStyles.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        if (!ReadMorphFillStyle(startPart, morph.startFillStyles[i], morph.endFillStyles[i]))
            return false;

    count = startPart.U8();
    if (count == 0xFF)
        count = startPart.U16();
    if (startPart.Overrun() || count > startPart.Remaining() / MinMorphLineStyleBytes ||
        !Room(0, count * 2, sizeof(LineStyle)))
        return false;
    morph.startLineStyles.resize(count);
    morph.endLineStyles.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        if (!ReadMorphLineStyle(startPart, version, morph.startLineStyles[i], morph.endLineStyles[i]))
            return false;

    StyleGroup group;
    group.fillCount = morph.startFillStyles.size();
    group.lineCount = morph.startLineStyles.size();
    if (!ReadShapeRecords(startPart, 3, nullptr, group, morph.startEdges))
        return false;
    if (offset == 0)
        endPart = startPart;
    if (!ReadShapeRecords(endPart, 3, nullptr, StyleGroup(), morph.endEdges))
        return false;

    if (morph.startEdges.size() != morph.endEdges.size()) {
        Warn(QStringLiteral("morph edges"),
             QStringLiteral(
                 "morph shape %1 has %2 start edges and %3 end edges; the unpaired ones are dropped")
                 .arg(id)
                 .arg(morph.startEdges.size())
                 .arg(morph.endEdges.size()));
        const std::size_t paired = std::min(morph.startEdges.size(), morph.endEdges.size());
        morph.startEdges.resize(paired);
        morph.endEdges.resize(paired);
    }
    for (std::size_t i = 0; i < morph.startEdges.size(); ++i) {
        ShapeEdge& start = morph.startEdges[i];
        ShapeEdge& end = morph.endEdges[i];
        end.fill0 = start.fill0;
        end.fill1 = start.fill1;
        end.line = start.line;
        if (start.curved && !end.curved)
            MakeCurve(end);
        else if (end.curved && !start.curved)
            MakeCurve(start);
    }
    Define(id, std::make_shared<Character>(std::move(morph)));
    return true;
}

// --- Fonts and text ---

// Font names may carry their terminating zero inside the length.
QString Parser::FontName(QByteArray raw) const {
    while (raw.endsWith('\0'))
        raw.chop(1);
    return Text(raw);
}

// Glyph i's outline lies between offsets[i] and the next offset (or `end`), counted from the start of
// `table`. A glyph whose range overlaps the one before or runs past the end stays empty, so a lying
// offset table costs no more reading than the tag holds.
bool Parser::ReadGlyphs(const BitReader& table, const std::vector<std::size_t>& offsets, std::size_t end,
                        Font& font) {
    if (!Room(0, offsets.size(), sizeof(Glyph)))
        return false;
    font.glyphs.resize(offsets.size());
    end = std::min(end, table.Remaining());
    std::size_t done = 0;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const std::size_t from = offsets[i];
        const std::size_t to = i + 1 < offsets.size() ? std::min(offsets[i + 1], end) : end;
        if (from < done || from >= to)
            continue;
        done = to;
        BitReader glyph(table.Current() + from, to - from);
        StyleGroup group;
        group.fillCount = 1;
        if (!ReadShapeRecords(glyph, 1, nullptr, group, font.glyphs[i].edges)) {
            font.glyphs[i].edges.clear();
            if (!fatal.isEmpty())
                return false;
        }
    }
    return true;
}

// The code table and layout of DefineFont2/3 after the glyphs; a layout cut short is dropped.
bool Parser::ReadFontLayout(BitReader& r, Font& font) {
    for (Glyph& glyph : font.glyphs)
        glyph.code = font.wideCodes ? r.U16() : r.U8();
    if (r.Overrun())
        return false;
    if (!font.hasLayout)
        return true;
    font.ascent = std::int16_t(r.U16());
    font.descent = std::int16_t(r.U16());
    font.leading = r.S16();
    for (Glyph& glyph : font.glyphs)
        glyph.advance = r.S16();
    for (std::size_t i = 0; i < font.glyphs.size() && !r.Overrun(); ++i)
        ReadRect(r); // glyph bounds; the outlines say as much
    const std::size_t pairs = r.U16();
    const std::size_t pairBytes = font.wideCodes ? 6 : 4;
    if (r.Overrun() || pairs > r.Remaining() / pairBytes || !Room(0, pairs, sizeof(KerningPair))) {
        font.kerning.clear();
        font.hasLayout = !r.Overrun();
        return fatal.isEmpty();
    }
    font.kerning.resize(pairs);
    for (KerningPair& pair : font.kerning) {
        pair.left = font.wideCodes ? r.U16() : r.U8();
        pair.right = font.wideCodes ? r.U16() : r.U8();
        pair.adjustment = r.S16();
    }
    return true;
}

bool Parser::ReadFont(BitReader& r, int version, std::uint16_t id) {
    Font font;
    font.version = version;
    std::size_t count = 0;
    bool wideOffsets = false;
    if (version == 1) {
        count = BitReader(r).U16() / 2; // the first offset points past the offset table
    } else {
        const std::uint8_t flags = r.U8();
        font.hasLayout = flags & 0x80;
        font.shiftJis = flags & 0x40;
        font.smallText = flags & 0x20;
        font.ansi = flags & 0x10;
        wideOffsets = flags & 0x08;
        font.wideCodes = flags & 0x04;
        font.italic = flags & 0x02;
        font.bold = flags & 0x01;
        r.U8(); // language
        font.name = FontName(r.Bytes(r.U8()));
        count = r.U16();
    }
    if (r.Overrun())
        return false;
    const BitReader table = r; // offsets count from the start of the offset table
    const std::size_t offsetBytes = wideOffsets ? 4 : 2;
    if (count > r.Remaining() / offsetBytes || !Room(0, count, sizeof(std::size_t)))
        return false;
    std::vector<std::size_t> offsets(count);
    for (std::size_t& offset : offsets)
        offset = wideOffsets ? r.U32() : r.U16();
    std::size_t glyphEnd = table.Remaining();
    if (version >= 2 && r.Remaining() >= offsetBytes)
        glyphEnd = wideOffsets ? r.U32() : r.U16(); // where the code table starts
    if (r.Overrun() || !ReadGlyphs(table, offsets, glyphEnd, font))
        return false;
    if (version >= 2) {
        BitReader rest = table;
        if (glyphEnd > rest.Remaining())
            return false;
        rest.Skip(glyphEnd);
        if (!ReadFontLayout(rest, font))
            return false;
    }
    Define(id, std::make_shared<Character>(std::move(font)));
    return true;
}

// DefineFontInfo 1 and 2: the name, style and code table of a DefineFont defined before.
bool Parser::ReadFontInfo(BitReader& r, std::uint16_t code) {
    const std::uint16_t id = r.U16();
    const QByteArray name = r.Bytes(r.U8());
    const std::uint8_t flags = r.U8();
    if (code == tag::DefineFontInfo2)
        r.U8(); // language
    const auto found = movie.dictionary.find(id);
    if (r.Overrun() || found == movie.dictionary.end() || !std::holds_alternative<Font>(*found->second))
        return false;
    Font font = std::get<Font>(*found->second);
    font.name = FontName(name);
    font.smallText = flags & 0x20;
    font.shiftJis = flags & 0x10;
    font.ansi = flags & 0x08;
    font.italic = flags & 0x04;
    font.bold = flags & 0x02;
    font.wideCodes = code == tag::DefineFontInfo2 || (flags & 0x01);
    for (Glyph& glyph : font.glyphs)
        glyph.code = font.wideCodes ? r.U16() : r.U8();
    if (r.Overrun())
        return false;
    found->second = std::make_shared<Character>(std::move(font));
    return true;
}

bool Parser::ReadText(BitReader& r, int version, std::uint16_t id) {
    StaticText text;
    text.bounds = ReadRect(r);
    text.matrix = ReadMatrix(r);
    const int glyphBits = r.U8();
    const int advanceBits = r.U8();
    // Entries of no bits would let a few bytes claim thousands of glyphs.
    if (r.Overrun() || glyphBits > 32 || advanceBits > 32 || glyphBits + advanceBits == 0)
        return false;
    TextRecord state;
    // Records end with a zero byte, or with the tag.
    for (std::uint8_t flags = r.U8(); !r.Overrun() && flags != 0; flags = r.U8()) {
        if (flags & 0x08)
            state.fontId = r.U16();
        if (flags & 0x04)
            state.color = version >= 2 ? ReadRgba(r) : ReadRgb(r);
        if (flags & 0x01)
            state.x = r.S16();
        if (flags & 0x02)
            state.y = r.S16();
        if (flags & 0x08)
            state.height = r.U16();
        const std::size_t count = r.U8();
        if (r.Overrun() || count * std::size_t(glyphBits + advanceBits) > r.RemainingBits() ||
            !Room(0, count, sizeof(GlyphEntry)))
            return false;
        TextRecord record = state;
        record.glyphs.resize(count);
        for (GlyphEntry& glyph : record.glyphs) {
            glyph.index = r.UB(glyphBits);
            glyph.advance = r.SB(advanceBits);
            state.x += glyph.advance;
        }
        r.Align();
        if (!Push(text.records, std::move(record)))
            return false;
    }
    Define(id, std::make_shared<Character>(std::move(text)));
    return true;
}

bool Parser::ReadEditText(BitReader& r, std::uint16_t id) {
    EditText text;
    text.bounds = ReadRect(r);
    const std::uint8_t flags = r.U8();
    const std::uint8_t flags2 = r.U8();
    text.wordWrap = flags & 0x40;
    text.multiline = flags & 0x20;
    text.password = flags & 0x10;
    text.readOnly = flags & 0x08;
    text.autoSize = flags2 & 0x40;
    text.hasLayout = flags2 & 0x20;
    text.noSelect = flags2 & 0x10;
    text.border = flags2 & 0x08;
    text.wasStatic = flags2 & 0x04;
    text.html = flags2 & 0x02;
    text.useOutlines = flags2 & 0x01;
    if (flags & 0x01)
        text.fontId = r.U16();
    if (flags2 & 0x80)
        text.fontClass = Text(r.CString());
    if (flags & 0x01 || flags2 & 0x80)
        text.height = r.U16();
    if (flags & 0x04)
        text.color = ReadRgba(r);
    if (flags & 0x02)
        text.maxLength = r.U16();
    if (text.hasLayout) {
        text.align = EditText::Align(std::min<int>(r.U8(), 3));
        text.leftMargin = r.U16();
        text.rightMargin = r.U16();
        text.indent = r.U16();
        text.leading = r.S16();
    }
    text.variableName = Text(r.CString());
    if (flags & 0x80)
        text.initialText = Text(r.CString());
    if (r.Overrun())
        return false;
    Define(id, std::make_shared<Character>(std::move(text)));
    return true;
}

bool Parser::ReadVideoStream(BitReader& r, std::uint16_t id) {
    VideoStream video;
    video.numFrames = r.U16();
    video.width = r.U16();
    video.height = r.U16();
    const std::uint8_t flags = r.U8();
    video.deblocking = (flags >> 1) & 7;
    video.smoothing = flags & 1;
    video.codecId = r.U8();
    if (r.Overrun())
        return false;
    auto character = std::make_shared<Character>(std::move(video));
    if (!movie.dictionary.count(id))
        videoStreams.emplace(id, character);
    Define(id, std::move(character));
    return true;
}

// A VideoFrame of a stream defined before goes into that stream; false leaves the tag to the frame.
bool Parser::AttachVideoFrame(BitReader r) {
    const std::uint16_t streamId = r.U16();
    const std::uint16_t frameNum = r.U16();
    const auto found = videoStreams.find(streamId);
    if (r.Overrun() || found == videoStreams.end())
        return false;
    auto& frames = std::get<VideoStream>(*found->second).frames;
    if (!frames.count(frameNum) && Room(frames.size(), 1, sizeof(QByteArray) * 4))
        frames.emplace(frameNum, r.Rest());
    return true;
}

// --- Buttons ---

bool Parser::ReadButtonRecords(int version, BitReader& r, std::vector<ButtonRecord>& out) {
    for (;;) {
        const std::uint8_t flags = r.U8();
        if (r.Overrun())
            return false;
        if (flags == 0)
            return true;
        ButtonRecord record;
        record.states = flags & 0x0F;
        record.characterId = r.U16();
        record.depth = r.U16();
        record.matrix = ReadMatrix(r);
        if (version == 2) {
            record.colorTransform = ReadColorTransform(r, true);
            FilterList filters; // buttons draw their characters plainly
            if ((flags & 0x10) && !ReadFilters(r, filters))
                return false;
            if (flags & 0x20)
                r.U8(); // blend mode: buttons draw normally
        }
        if (r.Overrun() || !Room(0, 1, sizeof(ButtonRecord)))
            return false;
        out.push_back(record);
    }
}

void Parser::ReadConditionActions(BitReader& r, std::vector<ButtonAction>& out) {
    while (r.Remaining() >= 4) {
        const std::size_t size = r.U16();
        ButtonAction action;
        action.conditions = r.U16();
        if (size != 0 && (size < 4 || size - 4 > r.Remaining()))
            return; // a lying size: what came before stays
        if (!Room(0, 1, sizeof(ButtonAction)))
            return;
        action.actions = size == 0 ? r.Rest() : r.Bytes(size - 4);
        out.push_back(std::move(action));
        if (size == 0)
            return;
    }
}

std::optional<Button> Parser::ReadButton(int version, BitReader& r) {
    Button button;
    button.version = version;
    if (version == 1) {
        if (!ReadButtonRecords(1, r, button.records))
            return std::nullopt;
        button.actions.push_back({OverDownToOverUp, r.Rest()});
        return button;
    }
    button.trackAsMenu = r.U8() & 0x01;
    const std::size_t actionOffset = r.U16();
    if (r.Overrun())
        return std::nullopt;
    // The offset counts from its own field; 0 means no actions.
    if (actionOffset != 0 && (actionOffset < 2 || actionOffset - 2 > r.Remaining()))
        return std::nullopt;
    BitReader records = actionOffset == 0 ? r.Sub(r.Remaining()) : r.Sub(actionOffset - 2);
    if (!ReadButtonRecords(2, records, button.records))
        return std::nullopt;
    if (actionOffset != 0)
        ReadConditionActions(r, button.actions);
    return button;
}

std::optional<std::vector<ButtonSound>> Parser::ReadButtonSounds(BitReader& r) {
    // The file's order of the four transitions.
    static constexpr std::uint16_t Transitions[] = {OverUpToIdle, IdleToOverUp, OverUpToOverDown,
                                                    OverDownToOverUp};
    std::vector<ButtonSound> sounds;
    for (const std::uint16_t transition : Transitions) {
        ButtonSound sound;
        sound.transition = transition;
        sound.soundId = r.U16();
        if (r.Overrun())
            return std::nullopt;
        if (sound.soundId == 0)
            continue;
        if (!ReadSoundInfo(r, sound.info))
            return std::nullopt;
        sounds.push_back(std::move(sound));
    }
    return sounds;
}

// DefineButtonSound or DefineButtonCxform for a button defined before it; a tag naming anything else
// is skipped, as the button it would complete is not there to play.
bool Parser::ReadButtonExtra(std::uint16_t code, BitReader& r) {
    const std::uint16_t id = r.U16();
    if (r.Overrun())
        return false;
    const auto found = buttons.find(id);
    if (found == buttons.end()) {
        Warn(QStringLiteral("no button %1").arg(code),
             QStringLiteral("skipped a %1 tag for character %2, which is no button defined before it")
                 .arg(TagName(code))
                 .arg(id));
        return true;
    }
    Button& button = std::get<Button>(*found->second);
    if (code == tag::DefineButtonSound) {
        std::optional<std::vector<ButtonSound>> sounds = ReadButtonSounds(r);
        if (!sounds)
            return false;
        button.sounds = std::move(*sounds);
        return true;
    }
    // DefineButton2 records carry their own transforms.
    if (button.version != 1)
        return true;
    const ColorTransform transform = ReadColorTransform(r, false);
    if (r.Overrun())
        return false;
    for (ButtonRecord& record : button.records)
        record.colorTransform = transform;
    return true;
}

void Parser::Finish() {
    for (const std::shared_ptr<Character>& character : bitmapsWithoutTables)
        std::get<Bitmap>(*character).jpegTables = movie.jpegTables;
}

// --- The header ---

bool IsSignature(const QByteArray& bytes, qsizetype length) {
    static const char* const Signatures[] = {"FWS", "CWS", "ZWS"};
    for (const char* signature : Signatures)
        if (length > 0 && bytes.left(length) == QByteArray(signature, length))
            return true;
    return false;
}

ReadResult Fail(const QString& error) {
    ReadResult result;
    result.error = error;
    return result;
}

ReadResult Read(const QByteArray& fileBytes, const ReadLimits& limits, bool headerOnly) {
    if (!IsSignature(fileBytes, std::min<qsizetype>(fileBytes.size(), 3)))
        return Fail(QStringLiteral("not a Flash movie (it does not start with FWS, CWS or ZWS)"));
    if (fileBytes.size() < qsizetype(HeaderBytes))
        return Fail(QStringLiteral("truncated: the file ends inside the movie header"));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(fileBytes.constData());
    const std::size_t size = std::size_t(fileBytes.size());

    auto movie = std::make_shared<Movie>();
    ReadResult result;
    movie->version = bytes[3];
    movie->fileLength = BitReader(bytes + 4, 4).U32();
    const std::size_t maxBody = limits.maxMovieBytes > HeaderBytes ? limits.maxMovieBytes - HeaderBytes : 0;
    const std::size_t wanted = headerOnly ? std::min(MaxHeaderBodyBytes, maxBody) : maxBody;
    const std::size_t hint = movie->fileLength > HeaderBytes ? movie->fileLength - HeaderBytes : 0;

    Decoded decoded;
    const std::uint8_t* body = bytes + HeaderBytes;
    std::size_t bodySize = size - HeaderBytes;
    switch (bytes[0]) {
    case 'F':
        movie->compression = Movie::Compression::None;
        if (!headerOnly && bodySize > maxBody)
            decoded.status = Decoded::Status::TooLarge;
        break;
    case 'C':
        movie->compression = Movie::Compression::Zlib;
        decoded = Inflate(body, bodySize, hint, wanted, headerOnly);
        break;
    default: {
        movie->compression = Movie::Compression::Lzma;
        // Compressed length (not needed: the data runs to the end of the file), then 5 property bytes.
        constexpr std::size_t LzmaHead = 4 + 5;
        if (bodySize < LzmaHead)
            return Fail(QStringLiteral("truncated: the file ends inside the movie header"));
        std::optional<std::uint64_t> knownSize;
        if (hint > 0 && hint <= maxBody)
            knownSize = hint;
        decoded = Unlzma(body + 4, body + LzmaHead, bodySize - LzmaHead, knownSize, wanted, headerOnly);
        break;
    }
    }
    if (decoded.status == Decoded::Status::TooLarge)
        return Fail(QStringLiteral("the movie is larger than the limit of %1 uncompressed")
                        .arg(SizeText(limits.maxMovieBytes)));
    if (movie->compression != Movie::Compression::None) {
        body = reinterpret_cast<const std::uint8_t*>(decoded.data.constData());
        bodySize = std::size_t(decoded.data.size());
    }

    BitReader r(body, bodySize);
    movie->frameSize = ReadRect(r);
    movie->frameRate = r.U16() / 256.0;
    movie->timeline.frameCount = r.U16();
    if (r.Overrun())
        return Fail(decoded.status == Decoded::Status::Damaged
                        ? QStringLiteral("compressed data is damaged")
                        : QStringLiteral("truncated: the file ends inside the movie header"));
    const Rect& stage = movie->frameSize;
    if (stage.Width() < 0 || stage.Height() < 0)
        return Fail(QStringLiteral("the stage size is negative (%1 × %2 twips)")
                        .arg(stage.Width())
                        .arg(stage.Height()));
    if (stage.Width() > limits.maxStagePixels * 20 || stage.Height() > limits.maxStagePixels * 20)
        return Fail(QStringLiteral("the stage (%1 × %2 pixels) is larger than the limit of %3 × %3")
                        .arg(stage.Width() / TwipsPerPixel)
                        .arg(stage.Height() / TwipsPerPixel)
                        .arg(limits.maxStagePixels));
    if (headerOnly) {
        result.movie = std::move(movie);
        return result;
    }

    Parser parser(*movie, limits, result.warnings);
    if (decoded.status == Decoded::Status::Truncated)
        parser.Warn(QStringLiteral("compressed"),
                    QStringLiteral("compressed data ends early after %1 bytes").arg(bodySize));
    else if (decoded.status == Decoded::Status::Damaged)
        parser.Warn(QStringLiteral("compressed"),
                    QStringLiteral("compressed data is damaged after %1 bytes; reading what came before")
                        .arg(bodySize));
    parser.ReadTimeline(r.Sub(r.Remaining()), movie->timeline, 0);
    if (!parser.fatal.isEmpty())
        return Fail(parser.fatal);
    parser.Finish();
    result.movie = std::move(movie);
    return result;
}

ReadResult ReadFile(const QString& fileName, const ReadLimits& limits, bool headerOnly) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(QStringLiteral("cannot open %1: %2").arg(fileName, file.errorString()));
    if (!headerOnly && file.size() > qint64(limits.maxMovieBytes))
        return Fail(QStringLiteral("%1 is larger than the limit of %2")
                        .arg(fileName, SizeText(limits.maxMovieBytes)));
    // The header needs a few hundred bytes even when compressed.
    const QByteArray bytes = headerOnly ? file.read(64 * 1024) : file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Fail(QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString()));
    return Read(bytes, limits, headerOnly);
}

} // namespace

ReadResult ReadMovie(const QByteArray& fileBytes, const ReadLimits& limits) {
    return Read(fileBytes, limits, false);
}

ReadResult ReadMovieFile(const QString& fileName, const ReadLimits& limits) {
    return ReadFile(fileName, limits, false);
}

ReadResult ReadHeaderOnly(const QByteArray& fileBytes, const ReadLimits& limits) {
    return Read(fileBytes, limits, true);
}

ReadResult ReadHeaderOnlyFile(const QString& fileName, const ReadLimits& limits) {
    return ReadFile(fileName, limits, true);
}

} // namespace flash

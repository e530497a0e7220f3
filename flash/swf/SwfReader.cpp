// Reading a movie: decompression, the header, the tag stream and the character tags parsed in
// place (bitmaps, sounds, sprites, video streams). Shapes, text, control tags and buttons have
// files of their own; ReaderContext.h shares the parser between them.

#include "flash/swf/SwfReader.h"

#include "flash/swf/AbcReader.h"
#include "flash/swf/Decompress.h"
#include "flash/swf/ReaderContext.h"
#include "flash/swf/SpriteCycles.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>
#include <set>

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

constexpr std::size_t HeaderBytes = 8;
// RECT (at most 17 bytes), frame rate and frame count.
constexpr std::size_t MaxHeaderBodyBytes = 21;
constexpr std::size_t MiB = std::size_t(1) << 20;

QString SizeText(std::size_t bytes) {
    return bytes >= MiB && bytes % MiB == 0 ? QStringLiteral("%1 MiB").arg(bytes / MiB)
                                            : QStringLiteral("%1 bytes").arg(bytes);
}

} // namespace

namespace reader {

QString TagName(std::uint16_t code) {
    const TagInfo* info = FindTag(code);
    return info ? QString::fromLatin1(info->name) : QStringLiteral("tag %1").arg(code);
}

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
    if (code == tag::DoAbc || code == tag::DoAbcDefine) {
        ReadAbcBlock(code, r);
        return;
    }
    if (code == tag::FileAttributes) { // read here, and kept below as it stands
        constexpr std::uint8_t ActionScript3Flag = 0x08;
        BitReader flags = r;
        movie.actionScript3 = movie.version >= 9 && flags.Remaining() > 0 && (flags.U8() & ActionScript3Flag);
    }
    if (code == tag::SymbolClass) {
        skipIfDamaged(abc::ReadSymbolClass(r.Rest(), movie.symbolClasses));
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

// A damaged block is left out whole; the timelines play on without its scripts.
void Parser::ReadAbcBlock(std::uint16_t code, BitReader& r) {
    const QByteArray body = r.Rest();
    // What a byte of a block becomes in the model, about: code and strings are kept as they are,
    // pool entries and traits grow some fold.
    constexpr std::size_t ModelBytesPerByte = 8;
    if (!Room(0, std::size_t(body.size()), ModelBytesPerByte))
        return;
    abc::AbcReadResult read = code == tag::DoAbc ? abc::ReadDoAbc(body) : abc::ReadAbc(body);
    if (!read.file) {
        Warn(QStringLiteral("damaged %1").arg(code),
             QStringLiteral("skipped a damaged %1 block: %2").arg(TagName(code), read.error));
        return;
    }
    Push(movie.abcFiles, std::make_shared<const abc::AbcFile>(std::move(*read.file)));
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

void Parser::Finish() {
    for (const std::shared_ptr<Character>& character : bitmapsWithoutTables)
        std::get<Bitmap>(*character).jpegTables = movie.jpegTables;
}

} // namespace reader

namespace {

using reader::Decoded;
using reader::Inflate;
using reader::Parser;
using reader::ReadRect;
using reader::Unlzma;

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
    if (stage.Width() > limits.maxStagePixels * TwipsPerPixel ||
        stage.Height() > limits.maxStagePixels * TwipsPerPixel)
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
    result.warnings += SpriteCycleWarnings(*movie);
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
    ReadResult read = Read(bytes, limits, headerOnly);
    if (read.movie)
        read.movie->fileName = QFileInfo(fileName).absoluteFilePath();
    return read;
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

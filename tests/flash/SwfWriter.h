#pragma once
// A small movie-file writer for tests: bit fields, records, tags and whole movies (FWS, CWS, ZWS).
// Styles, placements and sounds are given as the model's own types, so a test can write a value and
// compare it with what the reader gives back. Values must be representable in the file: matrix
// scales in steps of 1/65536, colour transform factors in steps of 1/256, translations and
// coordinates in whole twips.
//
//     const QByteArray movie = MovieBuilder()
//         .Stage({0, 4000, 0, 3000})
//         .Add(DefineShape(ShapeDefinition().Id(1).Fills({Solid({255, 0, 0})})
//                              .Records(ShapeRecords().Fill0(1).Box(0, 0, 200, 200))))
//         .Add(PlaceObjectTag(Place(1, 1)))
//         .Add(ShowFrame())
//         .Build(flash::Movie::Compression::Zlib);

#include "flash/render/Effects.h"
#include "flash/swf/ActionCodes.h"
#include "flash/swf/SwfModel.h"
#include "flash/swf/TagCodes.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace flash::writer {

// Little-endian bytes and big-endian bit fields. A byte field first pads the current byte.
class Bits {
public:
    Bits& U8(std::uint32_t value);
    Bits& U16(std::uint32_t value);
    Bits& U32(std::uint32_t value);
    Bits& S16(std::int32_t value) { return U16(std::uint32_t(value) & 0xFFFF); }
    Bits& Fixed8(double value); // signed 8.8
    Bits& Bytes(const QByteArray& bytes);
    Bits& String(const QString& text); // UTF-8 with its terminating zero

    Bits& UB(std::uint32_t value, int bits);
    Bits& SB(std::int64_t value, int bits);
    Bits& FB(double value, int bits) { return SB(FixedBits(value), bits); }
    Bits& Align() {
        bitPos = 0;
        return *this;
    }

    Bits& RgbColor(const Rgba& color);
    Bits& RgbaColor(const Rgba& color);
    Bits& RectField(const Rect& rect);
    Bits& MatrixField(const Matrix& matrix);
    Bits& ColorTransformField(const ColorTransform& transform, bool withAlpha);

    const QByteArray& Data() const { return bytes; }
    qsizetype Size() const { return bytes.size(); }

    // Bits an SB or UB field needs for value (0 for 0).
    static int SignedBits(std::int64_t value);
    static int UnsignedBits(std::uint64_t value);
    static std::int64_t FixedBits(double value); // 16.16

private:
    QByteArray bytes;
    int bitPos = 0; // bits used in the last byte; 0 when a new byte starts
};

// --- Shapes ---

FillStyle Solid(const Rgba& color);
FillStyle GradientFill(FillStyle::Type type, const Matrix& matrix, std::vector<GradientRecord> records,
                       Gradient::Spread spread = Gradient::Spread::Pad,
                       Gradient::Interpolation interpolation = Gradient::Interpolation::Rgb,
                       double focalPoint = 0);
FillStyle BitmapFill(std::uint16_t bitmapId, const Matrix& matrix,
                     FillStyle::Type type = FillStyle::Type::ClippedBitmap);
LineStyle Line(std::uint16_t width, const Rgba& color);

// The drawing records of a shape. Coordinates are absolute twips; the writer stores the deltas and
// picks the shortest edge form. Style numbers are as the file stores them: 1-based within the style
// arrays in force (the shape's own, or the latest NewStyles), 0 for none. Settings made between two
// edges go into one style-change record, in the file's field order.
class ShapeRecords {
public:
    ShapeRecords& MoveTo(std::int32_t x, std::int32_t y);
    ShapeRecords& Fill0(std::uint32_t number);
    ShapeRecords& Fill1(std::uint32_t number);
    ShapeRecords& Line(std::uint32_t number);
    ShapeRecords& NewStyles(std::vector<FillStyle> fills, std::vector<LineStyle> lines);
    ShapeRecords& LineTo(std::int32_t x, std::int32_t y);
    ShapeRecords& CurveTo(std::int32_t controlX, std::int32_t controlY, std::int32_t x, std::int32_t y);
    // A closed rectangle drawn clockwise from (x0, y0).
    ShapeRecords& Box(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1);

    // NumFillBits, NumLineBits, the records and the end record. fillCount and lineCount are the sizes
    // of the style arrays written before the records.
    void Write(Bits& out, int shapeVersion, std::size_t fillCount, std::size_t lineCount) const;

private:
    struct StyleChange {
        std::optional<std::pair<std::int32_t, std::int32_t>> move;
        std::optional<std::uint32_t> fill0, fill1, line;
        std::optional<std::pair<std::vector<FillStyle>, std::vector<LineStyle>>> newStyles;
    };
    struct Edge {
        bool curved = false;
        std::int32_t controlX = 0, controlY = 0, x = 0, y = 0;
    };
    StyleChange& Change();

    std::vector<std::variant<StyleChange, Edge>> records;
};

struct ShapeDefinition {
    int version = 1; // DefineShape 1..4
    std::uint16_t id = 1;
    Rect bounds{0, 2000, 0, 2000};
    Rect edgeBounds; // DefineShape4
    bool nonZeroWinding = false;
    std::vector<FillStyle> fills;
    std::vector<LineStyle> lines;
    ShapeRecords records;

    ShapeDefinition& Version(int value) { return version = value, *this; }
    ShapeDefinition& Id(std::uint16_t value) { return id = value, *this; }
    ShapeDefinition& Bounds(const Rect& value) { return bounds = value, *this; }
    ShapeDefinition& EdgeBounds(const Rect& value) { return edgeBounds = value, *this; }
    ShapeDefinition& NonZeroWinding(bool value) { return nonZeroWinding = value, *this; }
    ShapeDefinition& Fills(std::vector<FillStyle> value) { return fills = std::move(value), *this; }
    ShapeDefinition& Lines(std::vector<LineStyle> value) { return lines = std::move(value), *this; }
    ShapeDefinition& Records(ShapeRecords value) { return records = std::move(value), *this; }
};

// Styles come in start/end pairs (same counts, same types); the end records only move and draw.
struct MorphDefinition {
    int version = 1; // DefineMorphShape 1 or 2
    std::uint16_t id = 1;
    Rect startBounds{0, 2000, 0, 2000}, endBounds{0, 2000, 0, 2000};
    std::vector<FillStyle> startFills, endFills;
    std::vector<LineStyle> startLines, endLines;
    ShapeRecords start, end;

    MorphDefinition& Version(int value) { return version = value, *this; }
    MorphDefinition& Id(std::uint16_t value) { return id = value, *this; }
    MorphDefinition& StartBounds(const Rect& value) { return startBounds = value, *this; }
    MorphDefinition& EndBounds(const Rect& value) { return endBounds = value, *this; }
    MorphDefinition& Fills(std::vector<FillStyle> startValue, std::vector<FillStyle> endValue) {
        startFills = std::move(startValue);
        endFills = std::move(endValue);
        return *this;
    }
    MorphDefinition& Lines(std::vector<LineStyle> startValue, std::vector<LineStyle> endValue) {
        startLines = std::move(startValue);
        endLines = std::move(endValue);
        return *this;
    }
    MorphDefinition& Start(ShapeRecords value) { return start = std::move(value), *this; }
    MorphDefinition& End(ShapeRecords value) { return end = std::move(value), *this; }
};

void WriteFillStyle(Bits& out, const FillStyle& style, int shapeVersion);
void WriteLineStyle(Bits& out, const LineStyle& style, int shapeVersion);

// --- Tags ---

QByteArray Tag(std::uint16_t code, const QByteArray& body, bool longHeader = false);
QByteArray End();
QByteArray ShowFrame();

QByteArray DefineShape(const ShapeDefinition& shape);
QByteArray DefineMorphShape(const MorphDefinition& morph);

QByteArray JpegTables(const QByteArray& tables);
QByteArray DefineBits(std::uint16_t id, const QByteArray& jpeg);
QByteArray DefineBitsJpeg2(std::uint16_t id, const QByteArray& image);
QByteArray DefineBitsJpeg3(std::uint16_t id, const QByteArray& image, const QByteArray& alphaZlib);
QByteArray DefineBitsJpeg4(std::uint16_t id, const QByteArray& image, const QByteArray& alphaZlib,
                           double deblocking);
// version 1 or 2; colorTableSize (entries - 1) is written for format 3 only.
QByteArray DefineBitsLossless(int version, std::uint16_t id, std::uint8_t format, std::uint16_t width,
                              std::uint16_t height, const QByteArray& zlibData,
                              std::uint8_t colorTableSize = 0);

QByteArray DefineSound(std::uint16_t id, const SoundFormat& format, std::uint32_t sampleCount,
                       const QByteArray& data);
// StartSound with start.soundId, or StartSound2 with start.className when version is 2.
QByteArray StartSoundTag(const StartSound& start, int version = 1);
QByteArray SoundStreamHeadTag(const SoundStreamHead& head, int version = 1);
QByteArray SoundStreamBlockTag(const QByteArray& data);

// tags: the sprite's control tags; the End tag is added.
QByteArray DefineSprite(std::uint16_t id, std::uint16_t frameCount, const QByteArray& tags);

// By place.version. PlaceObject writes characterId, depth, matrix (identity when absent) and the
// colour transform when given. rawFilters, when given, is written as the filter list in place of
// place.filters (for damaged lists).
QByteArray PlaceObjectTag(const PlaceObject& place, const std::optional<QByteArray>& rawFilters = {});
// DefineVideoStream from its fields (the frames go into VideoFrame tags).
QByteArray DefineVideoStreamTag(std::uint16_t id, const VideoStream& video);
QByteArray VideoFrameTag(std::uint16_t streamId, std::uint16_t frameNumber, const QByteArray& data);
PlaceObject Place(std::uint16_t characterId, std::uint16_t depth, int version = 2);
QByteArray RemoveObjectTag(std::uint16_t depth, std::uint16_t characterId);
QByteArray RemoveObject2Tag(std::uint16_t depth);
QByteArray FrameLabelTag(const QString& name, bool namedAnchor = false);
QByteArray SetBackgroundColorTag(const Rgba& color);
// The filter list of PlaceObject3 (count and records) for PlaceObject::filters.
QByteArray FilterListBytes(const FilterList& filters);

// --- Fonts and text ---

struct GlyphDefinition {
    ShapeRecords outline; // style 1 is the glyph's fill
    std::uint16_t code = 0;
    std::int16_t advance = 0;
};

struct FontDefinition {
    int version = 2; // DefineFont 1, 2 or 3 (DefineFont writes outlines only)
    std::uint16_t id = 1;
    QString name;
    bool bold = false, italic = false, wideOffsets = false, wideCodes = true, hasLayout = true;
    std::int16_t ascent = 0, descent = 0, leading = 0;
    std::vector<GlyphDefinition> glyphs;
    std::vector<KerningPair> kerning;
};

QByteArray DefineFontTag(const FontDefinition& font);
// DefineFontInfo (version 1, wide codes) or DefineFontInfo2 for a DefineFont.
QByteArray DefineFontInfoTag(std::uint16_t fontId, const QString& name,
                             const std::vector<std::uint16_t>& codes, int version = 1, bool bold = false,
                             bool italic = false);
// DefineText (version 1, RGB colours) or DefineText2; every record states its font, colour and position.
QByteArray DefineTextTag(std::uint16_t id, const StaticText& text, int version = 1);
// Flags that have a field follow from whether the field is set.
QByteArray DefineEditTextTag(std::uint16_t id, const EditText& text);

// --- Data helpers ---

QByteArray JpegBytes(const QImage& image, int quality = 90);
QByteArray PngBytes(const QImage& image);
QByteArray ZlibBytes(const QByteArray& raw);

// --- Movies ---

class MovieBuilder {
public:
    MovieBuilder& Version(int version);
    MovieBuilder& Stage(const Rect& twips);
    MovieBuilder& FrameRate(double framesPerSecond); // stored as 8.8
    // Without it, the frame count is the number of top-level ShowFrame tags added.
    MovieBuilder& FrameCount(std::uint16_t count);
    // FileLength to write in place of the true one.
    MovieBuilder& FileLength(std::uint32_t length);
    MovieBuilder& WithoutEnd();
    MovieBuilder& Add(const QByteArray& tags);

    // The bytes after the 8-byte header: RECT, rate, count, tags.
    QByteArray Body() const;
    // With Lzma, lzmaEndMarker adds the optional end marker after the data.
    QByteArray Build(Movie::Compression compression = Movie::Compression::None,
                     bool lzmaEndMarker = false) const;

private:
    int version = 10;
    Rect stage{0, 11000, 0, 8000};
    double frameRate = 24;
    std::optional<std::uint16_t> frameCount;
    std::optional<std::uint32_t> fileLength;
    bool withEnd = true;
    int showFrames = 0;
    QByteArray tags;
};

// A whole file from its header fields and body, compressed as asked.
QByteArray MovieFile(std::uint8_t version, std::uint32_t fileLength, const QByteArray& body,
                     Movie::Compression compression, bool lzmaEndMarker = false);
// Raw LZMA data (no header) and its 5 property bytes.
QByteArray LzmaRaw(const QByteArray& data, QByteArray& properties, bool endMarker);

// --- Actions and buttons ---

// Action records for DoAction, DoInitAction and buttons; Data() ends them with ActionEnd.
class ActionCode {
public:
    // A record; codes from 0x80 on carry the payload with its length.
    ActionCode& Op(action::Code code, const QByteArray& payload = {});
    ActionCode& Stop() { return Op(action::Stop); }
    ActionCode& Play() { return Op(action::Play); }
    ActionCode& NextFrame() { return Op(action::NextFrame); }
    ActionCode& PrevFrame() { return Op(action::PrevFrame); }
    ActionCode& StopSounds() { return Op(action::StopSounds); }
    ActionCode& GotoFrame(std::uint16_t frame); // zero-based
    ActionCode& GotoLabel(const QString& label);
    ActionCode& SetTarget(const QString& path);
    ActionCode& SetTarget2() { return Op(action::SetTarget2); }
    ActionCode& GotoFrame2(bool play, std::optional<std::uint16_t> sceneBias = std::nullopt);
    ActionCode& ConstantPool(const QStringList& strings);
    ActionCode& PushString(const QString& text);
    ActionCode& PushInt(std::int32_t value);
    ActionCode& PushDouble(double value);
    ActionCode& PushConstant(std::uint16_t index); // the 8-bit form below 256
    ActionCode& PushBool(bool value);
    ActionCode& Pop() { return Op(action::Pop); }
    ActionCode& GetVariable() { return Op(action::GetVariable); }
    ActionCode& SetVariable() { return Op(action::SetVariable); }
    ActionCode& GetMember() { return Op(action::GetMember); }
    ActionCode& CallMethod() { return Op(action::CallMethod); }
    ActionCode& CallFunction() { return Op(action::CallFunction); }
    ActionCode& Jump(std::int16_t offset) { return Op(action::Jump, Bits().S16(offset).Data()); }
    ActionCode& If(std::int16_t offset) { return Op(action::If, Bits().S16(offset).Data()); }
    // Records written elsewhere (e.g. by the script assembler), appended as they are.
    ActionCode& Records(const QByteArray& records) {
        bytes.append(records);
        return *this;
    }

    // Bytes written so far, without the end.
    qsizetype Size() const { return bytes.size(); }
    QByteArray Data() const { return bytes + QByteArray(1, '\0'); }

private:
    QByteArray bytes;
};

QByteArray DoAction(const ActionCode& code);
QByteArray DoInitAction(std::uint16_t spriteId, const ActionCode& code);
// DefineButton: records (matrix, no colour transform) and one action list run on release.
QByteArray DefineButton(std::uint16_t id, const std::vector<ButtonRecord>& records,
                        const ActionCode& actions);
// DefineButton2: records with colour transforms, and a list of actions for each set of conditions.
QByteArray DefineButton2(std::uint16_t id, const std::vector<ButtonRecord>& records,
                         const std::vector<std::pair<std::uint16_t, ActionCode>>& actions,
                         bool trackAsMenu = false);
// DefineButtonSound: the four transitions in the file's order, sound 0 for those not given.
QByteArray DefineButtonSoundTag(std::uint16_t buttonId, const std::vector<ButtonSound>& sounds);
// DefineButtonCxform: a colour transform without alpha.
QByteArray DefineButtonCxformTag(std::uint16_t buttonId, const ColorTransform& transform);

} // namespace flash::writer

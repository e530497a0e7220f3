#pragma once
// What a movie file holds, as plain values: the header, the dictionary of characters and the
// timelines of control tags. The reader (SwfReader) makes it; the timeline, renderer and sound
// units read it. Coordinates are in twips (1/20 pixel) unless a name says otherwise.

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace flash {

// Twips in one pixel: every coordinate of the file counts in twips.
constexpr double TwipsPerPixel = 20.0;

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

struct Rect {
    std::int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    std::int32_t Width() const { return xMax - xMin; }
    std::int32_t Height() const { return yMax - yMin; }
    bool operator==(const Rect&) const = default;
};

// x' = a*x + c*y + tx, y' = b*x + d*y + ty (translation in twips).
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1;
    double tx = 0, ty = 0;
    bool operator==(const Matrix&) const = default;
};

// channel' = channel * mul + add, for r, g, b, a on the 0..255 scale.
struct ColorTransform {
    double rMul = 1, gMul = 1, bMul = 1, aMul = 1;
    double rAdd = 0, gAdd = 0, bAdd = 0, aAdd = 0;
    bool operator==(const ColorTransform&) const = default;
};

// --- Shapes ---

struct GradientRecord {
    std::uint8_t ratio = 0;
    Rgba color;
    bool operator==(const GradientRecord&) const = default;
};

struct Gradient {
    enum class Spread : std::uint8_t { Pad, Reflect, Repeat };
    enum class Interpolation : std::uint8_t { Rgb, LinearRgb };
    Matrix matrix; // maps the gradient square (-16384..16384 twips) onto the shape
    Spread spread = Spread::Pad;
    Interpolation interpolation = Interpolation::Rgb;
    std::vector<GradientRecord> records;
    double focalPoint = 0; // -1..1, focal radial gradients only
    bool operator==(const Gradient&) const = default;
};

struct FillStyle {
    enum class Type : std::uint8_t {
        Solid = 0x00,
        LinearGradient = 0x10,
        RadialGradient = 0x12,
        FocalRadialGradient = 0x13,
        RepeatingBitmap = 0x40,
        ClippedBitmap = 0x41,
        NonSmoothedRepeatingBitmap = 0x42,
        NonSmoothedClippedBitmap = 0x43,
    };
    // Also asked of a raw type byte before it is known to be a valid type.
    static constexpr bool IsGradient(Type type) {
        return type == Type::LinearGradient || type == Type::RadialGradient ||
               type == Type::FocalRadialGradient;
    }
    static constexpr bool IsBitmapFill(Type type) {
        return type >= Type::RepeatingBitmap && type <= Type::NonSmoothedClippedBitmap;
    }
    Type type = Type::Solid;
    Rgba color;
    Gradient gradient;
    std::uint16_t bitmapId = 0;
    Matrix bitmapMatrix; // maps bitmap pixels onto the shape (in twips)
    bool operator==(const FillStyle&) const = default;
};

struct LineStyle {
    enum class Cap : std::uint8_t { Round, None, Square };
    enum class Join : std::uint8_t { Round, Bevel, Miter };
    std::uint16_t width = 0; // twips
    Rgba color;
    Cap startCap = Cap::Round;
    Cap endCap = Cap::Round;
    Join join = Join::Round;
    double miterLimit = 3;
    bool noHScale = false, noVScale = false, pixelHinting = false, noClose = false;
    std::optional<FillStyle> fill; // a line painted with a fill (LineStyle2)
    bool operator==(const LineStyle&) const = default;
};

// One edge of a shape. Style numbers index the shape's FillStyles / LineStyles (0-based), -1 for
// none; a shape's new style arrays are appended to those lists, so numbers stay unique.
struct ShapeEdge {
    double fromX = 0, fromY = 0;
    double controlX = 0, controlY = 0; // curved edges only
    double toX = 0, toY = 0;
    bool curved = false;
    int fill0 = -1; // fill on the left of the direction of travel
    int fill1 = -1; // fill on the right
    int line = -1;
    bool operator==(const ShapeEdge&) const = default;
};

struct Shape {
    Rect bounds;
    Rect edgeBounds; // DefineShape4: bounds without line widths
    std::vector<FillStyle> fillStyles;
    std::vector<LineStyle> lineStyles;
    std::vector<ShapeEdge> edges; // in record order; a new path starts where from != previous to
    bool nonZeroWinding = false;  // DefineShape4: fill with the non-zero winding rule, not even-odd
    // Each style array that a NewStyles record adds after the first: the index of its first fill
    // style and first line style. Empty when the shape has one array. The renderer paints each
    // array's fills, then its lines, under the next array's.
    struct StyleArrayStart {
        std::uint32_t firstFill = 0, firstLine = 0;
    };
    std::vector<StyleArrayStart> newStyleArrays;
};

// A morph shape: start and end edges pair up one to one (a straight edge facing a curve is given
// as a curve with its control point in the middle), and every style has a start and an end.
struct MorphShape {
    Rect startBounds, endBounds;
    std::vector<FillStyle> startFillStyles, endFillStyles;
    std::vector<LineStyle> startLineStyles, endLineStyles;
    std::vector<ShapeEdge> startEdges, endEdges;
};

// --- Bitmaps ---

struct Bitmap {
    enum class Kind : std::uint8_t { Jpeg, Lossless };
    Kind kind = Kind::Jpeg;
    QByteArray data;       // JPEG (or PNG/GIF for DefineBitsJPEG2..4) stream, or zlib data for lossless
    QByteArray jpegTables; // DefineBits: the shared JPEGTables
    QByteArray alphaData;  // DefineBitsJPEG3/4: zlib-compressed alpha plane
    double deblocking = 0; // DefineBitsJPEG4
    // Lossless: format 3 (8-bit colour-mapped), 4 (15-bit RGB), 5 (32-bit); alpha for Lossless2.
    std::uint8_t losslessFormat = 0;
    std::uint16_t width = 0, height = 0;
    std::uint16_t colorTableSize = 0; // entries - 1, as stored
    bool hasAlpha = false;
};

// --- Sounds ---

struct SoundFormat {
    // 0 uncompressed native-endian, 1 ADPCM, 2 MP3, 3 uncompressed little-endian, 4 Nellymoser
    // 16 kHz, 5 Nellymoser 8 kHz, 6 Nellymoser, 7 G.711 A-law, 8 G.711 mu-law, 10 AAC, 11 Speex.
    std::uint8_t codec = 0;
    std::uint8_t rateCode = 0; // 0 5512.5 Hz, 1 11025, 2 22050, 3 44100
    bool is16Bit = true;
    bool stereo = false;
    // 5512.5 Hz is played as 5512 Hz.
    int SampleRate() const {
        static constexpr int Rates[] = {5512, 11025, 22050, 44100};
        return Rates[rateCode & 3];
    }
    bool operator==(const SoundFormat&) const = default;
};

struct Sound {
    SoundFormat format;
    std::uint32_t sampleCount = 0;
    QByteArray data; // MP3 data starts with SeekSamples (SI16) as stored in the tag
};

struct SoundEnvelopePoint {
    std::uint32_t position44 = 0;                // in 44.1 kHz samples
    std::uint16_t leftLevel = 0, rightLevel = 0; // 0..32768
    bool operator==(const SoundEnvelopePoint&) const = default;
};

struct SoundInfo {
    bool syncStop = false;
    bool syncNoMultiple = false;
    std::optional<std::uint32_t> inPoint, outPoint; // in 44.1 kHz samples
    std::uint16_t loopCount = 1;
    std::vector<SoundEnvelopePoint> envelope;
    bool operator==(const SoundInfo&) const = default;
};

struct SoundStreamHead {
    SoundFormat playbackFormat;
    SoundFormat streamFormat;
    std::uint16_t samplesPerBlock = 0;
    std::int16_t latencySeek = 0; // MP3 only
    bool operator==(const SoundStreamHead&) const = default;
};

} // namespace flash

// Uses the colours above; PlaceObject below holds its filters.
#include "flash/swf/FilterModel.h"

namespace flash {

// --- Timeline ---

// The events a placed sprite's handlers (onClipEvent) answer, as the bits of a 32-bit event field
// read low byte first; movies before version 6 store the low 16 bits only.
enum ClipEvent : std::uint32_t {
    ClipEventLoad = 0x01,
    ClipEventEnterFrame = 0x02,
    ClipEventUnload = 0x04,
    ClipEventMouseMove = 0x08,
    ClipEventMouseDown = 0x10,
    ClipEventMouseUp = 0x20,
    ClipEventKeyDown = 0x40,
    ClipEventKeyUp = 0x80,
    ClipEventInitialize = 0x200,
    ClipEventKeyPress = 0x20000,
    ClipEventConstruct = 0x40000,
};

struct ClipAction {
    std::uint32_t events = 0; // ClipEvent bits
    std::uint8_t keyCode = 0; // with ClipEventKeyPress: the key, as button key conditions name it
    QByteArray actions;       // action records up to and including ActionEnd
    bool operator==(const ClipAction&) const = default;
};

struct PlaceObject {
    std::uint16_t depth = 0;
    bool move = false; // modifies the character already at depth
    std::optional<std::uint16_t> characterId;
    std::optional<Matrix> matrix;
    std::optional<ColorTransform> colorTransform;
    std::optional<std::uint16_t> ratio;
    std::optional<QString> name;
    std::optional<std::uint16_t> clipDepth;
    std::optional<std::uint8_t> blendMode; // PlaceObject3
    std::optional<bool> visible;           // PlaceObject3
    std::optional<Rgba> backgroundColor;   // PlaceObject3 opaque background
    FilterList filters;                    // PlaceObject3
    std::vector<ClipAction> clipActions;   // PlaceObject 2 and 3, for sprites
    int version = 1;                       // 1, 2 or 3
    bool operator==(const PlaceObject&) const = default;
};

struct RemoveObject {
    std::uint16_t depth = 0;
    bool operator==(const RemoveObject&) const = default;
};

struct StartSound {
    std::uint16_t soundId = 0;
    QString className; // StartSound2
    SoundInfo info;
    bool operator==(const StartSound&) const = default;
};

struct SoundStreamBlock {
    QByteArray data;
    bool operator==(const SoundStreamBlock&) const = default;
};

struct FrameLabel {
    QString name;
    bool operator==(const FrameLabel&) const = default;
};

struct SetBackgroundColor {
    Rgba color;
    bool operator==(const SetBackgroundColor&) const = default;
};

// A tag the timeline does not use directly but a later unit may (actions, buttons, video frames).
struct OtherTag {
    std::uint16_t code = 0;
    QByteArray data;
    bool operator==(const OtherTag&) const = default;
};

using ControlTag = std::variant<PlaceObject, RemoveObject, StartSound, SoundStreamHead, SoundStreamBlock,
                                FrameLabel, SetBackgroundColor, OtherTag>;

// The control tags of one frame, in file order (the ShowFrame that ends it is implied).
struct Frame {
    std::vector<ControlTag> tags;
};

struct Timeline {
    std::uint16_t frameCount = 0; // as declared in the header or DefineSprite
    std::vector<Frame> frames;    // as many as the file holds (not padded to frameCount)
    std::optional<SoundStreamHead> streamHead;

    // The frames it plays: as declared, or as many as the file holds when it holds more.
    int FrameCount() const { return std::max<int>(frameCount, int(frames.size())); }
};

struct Sprite {
    Timeline timeline;
};

// A character type the reader keeps as raw bytes for units that come later (fonts, text, buttons,
// video, binary data).
struct RawCharacter {
    std::uint16_t code = 0;
    QByteArray data;
};

} // namespace flash

// Character kinds of their own units; they use the types above, so they are included here, not
// on their own.
#include "flash/swf/AbcModel.h"
#include "flash/swf/ButtonModel.h"
#include "flash/swf/TextModel.h"
#include "flash/swf/VideoModel.h"

namespace flash {

using Character = std::variant<Shape, MorphShape, Bitmap, Sound, Sprite, RawCharacter, Font, StaticText,
                               EditText, Button, VideoStream>;

struct Movie {
    enum class Compression : std::uint8_t { None, Zlib, Lzma };
    std::uint8_t version = 0;
    Compression compression = Compression::None;
    std::uint32_t fileLength = 0; // as declared in the header (uncompressed size, header included)
    Rect frameSize;
    double frameRate = 0; // frames per second (8.8 fixed in the file)
    Rgba backgroundColor{255, 255, 255, 255};
    std::map<std::uint16_t, std::shared_ptr<const Character>> dictionary;
    Timeline timeline;
    std::map<QString, int> frameLabels;       // zero-based frame of each label of the main timeline
    std::map<QString, std::uint16_t> exports; // ExportAssets: character by linkage name, lower case
    // ActionScript 3: the code blocks whole, in file order, and the class each SymbolClass binds to
    // a character id (0: the main timeline's document class).
    std::vector<std::shared_ptr<const abc::AbcFile>> abcFiles;
    std::map<std::uint16_t, QString> symbolClasses;
    // FileAttributes marks the movie as ActionScript 3 (SWF 9 on): Flash Player then runs none of
    // its ActionScript 1/2 (DoAction, clip and button actions).
    bool actionScript3 = false;
    QByteArray jpegTables;
    // The file it was read from, absolute; empty for a movie read from memory. Movies it loads are
    // looked for next to it.
    QString fileName;
};

} // namespace flash

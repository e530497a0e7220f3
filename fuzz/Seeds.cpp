// Seed inputs for every target, written with the tests' own writers: small movies that between them
// hold every kind of tag the reader parses, WAVE files of several layouts, AVI recordings of every
// depth, and encoder output as ffmpeg prints it. The fuzzers start from these and mutate them.
#include "fuzz/FuzzTargets.h"

#include "SwfWriter.h"
#include "WaveFixtures.h"
#include "platform/DIB.h"
#include "platform/Vfw.h"

#include <QImage>
#include <cstring>

using namespace win; // the platform layer's Windows-style names

namespace fuzz {
namespace {

using namespace flash;
using namespace flash::writer;

const Rgba Red{255, 0, 0, 255}, Blue{0, 0, 255, 128};
const Matrix Turned{0.5, 0.25, -0.125, 1.25, 100, -40};

// Shapes of every version with solid, gradient and bitmap fills, a morph, a bitmap of each kind,
// filters and blend modes, over two frames.
QByteArray ShapesMovie(Movie::Compression compression = Movie::Compression::None) {
    const std::vector<GradientRecord> records = {{0, Red}, {255, Blue}};
    LineStyle styled = Line(40, Red);
    styled.join = LineStyle::Join::Miter;
    styled.fill = GradientFill(FillStyle::Type::FocalRadialGradient, Turned, records,
                               Gradient::Spread::Reflect, Gradient::Interpolation::LinearRgb, 0.5);
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 3000}).Add(SetBackgroundColorTag(Blue));
    for (int version = 1; version <= 4; ++version)
        movie.Add(DefineShape(
            ShapeDefinition()
                .Version(version)
                .Id(std::uint16_t(version))
                .EdgeBounds({0, 300, 0, 200})
                .Fills({Solid(Red), GradientFill(FillStyle::Type::LinearGradient, Turned, records),
                        BitmapFill(20, Matrix{20, 0, 0, 20, 0, 0}, FillStyle::Type::RepeatingBitmap)})
                .Lines({version == 4 ? styled : Line(20, Red)})
                .Records(ShapeRecords()
                             .Fill0(1)
                             .Line(1)
                             .Box(0, 0, 1300, 1200)
                             .NewStyles({Solid(Blue), BitmapFill(21, Turned)}, {Line(10, Blue)})
                             .Fill1(2)
                             .MoveTo(-50, -50)
                             .CurveTo(0, -100, 50, -50)
                             .LineTo(0, 0))));
    movie.Add(DefineMorphShape(MorphDefinition()
                                   .Version(2)
                                   .Id(11)
                                   .Start(ShapeRecords().Fill0(1).Line(1).Box(0, 0, 900, 900))
                                   .End(ShapeRecords()
                                            .MoveTo(10, 10)
                                            .CurveTo(500, 0, 900, 10)
                                            .LineTo(900, 900)
                                            .LineTo(0, 900)
                                            .LineTo(10, 10))
                                   .Fills({GradientFill(FillStyle::Type::RadialGradient, Matrix{}, records)},
                                          {GradientFill(FillStyle::Type::RadialGradient, Turned, records)})
                                   .Lines({styled}, {Line(60, Blue)})));
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QByteArray jpeg = JpegBytes(image, 50);
    const QByteArray alpha = ZlibBytes(QByteArray(16, char(0x7F)));
    movie.Add(JpegTables(jpeg.left(20)))
        .Add(DefineBits(19, jpeg.mid(20)))
        .Add(DefineBitsJpeg2(20, jpeg))
        .Add(DefineBitsJpeg3(21, jpeg, alpha))
        .Add(DefineBitsJpeg4(22, jpeg, alpha, 0.25))
        .Add(DefineBitsLossless(1, 23, 3, 2, 2, ZlibBytes("\xFF\x00\x00\x00\x00\x01\x01\x00"), 1))
        .Add(DefineBitsLossless(2, 24, 5, 1, 1, ZlibBytes("\xFF\x10\x20\x30")));
    PlaceObject filtered = Place(2, 2, 3);
    filtered.blendMode = 3;
    Filter blur, glow;
    blur.blurX = blur.blurY = 4;
    glow.kind = Filter::Kind::Glow;
    glow.colors = {Red};
    filtered.filters = {blur, glow};
    PlaceObject masked = Place(1, 1);
    masked.clipDepth = 3;
    PlaceObject morph = Place(11, 4);
    morph.matrix = Turned;
    morph.ratio = 30000;
    movie.Add(PlaceObjectTag(masked))
        .Add(PlaceObjectTag(filtered))
        .Add(PlaceObjectTag(morph))
        .Add(ShowFrame())
        .Add(RemoveObject2Tag(1))
        .Add(PlaceObjectTag(Place(4, 5)))
        .Add(ShowFrame());
    return movie.Build(compression);
}

// Fonts of each version, static text and edit text, one of them bound to a variable.
QByteArray TextMovie() {
    FontDefinition font;
    font.glyphs = {{ShapeRecords().Fill0(1).Box(0, -800, 600, 0), 'A', 700},
                   {ShapeRecords().Fill1(1).MoveTo(0, 0).CurveTo(300, -900, 600, 0).LineTo(0, 0), 'B', 650}};
    font.ascent = 900;
    font.descent = 200;
    font.kerning = {{'A', 'B', -40}};
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 2000});
    for (int version = 1; version <= 3; ++version) {
        font.version = version;
        font.id = std::uint16_t(49 + version);
        font.wideOffsets = version == 3;
        movie.Add(DefineFontTag(font));
    }
    movie.Add(DefineFontInfoTag(50, "Serif", {'A', 'B'}, 2, true));
    StaticText text;
    text.bounds = {0, 2000, -400, 100};
    text.matrix = Turned;
    TextRecord record;
    record.fontId = 51;
    record.color = Blue;
    record.height = 400;
    record.glyphs = {{0, 300}, {1, 280}, {0, -20}};
    text.records = {record};
    EditText edit;
    edit.bounds = {0, 3000, 0, 900};
    edit.wordWrap = edit.multiline = edit.html = edit.border = edit.useOutlines = edit.hasLayout = true;
    edit.fontId = 51;
    edit.color = Red;
    edit.maxLength = 40;
    edit.variableName = "field";
    edit.initialText =
        "<p>AB <font color=\"#0000FF\" size=\"40\">BA</font></p><p align=\"center\"><b>AAB</p>";
    EditText device;
    device.fontId = 50;
    device.initialText = "Device";
    return movie.Add(DefineTextTag(54, text, 2))
        .Add(DefineEditTextTag(56, edit))
        .Add(DefineEditTextTag(57, device))
        .Add(PlaceObjectTag(Place(54, 1)))
        .Add(PlaceObjectTag(Place(56, 2)))
        .Add(PlaceObjectTag(Place(57, 3)))
        .Add(DoAction(ActionCode().PushString("field").PushString("<b>BA</b>").SetVariable()))
        .Add(ShowFrame())
        .Build();
}

// An event sound started with an envelope and a stream sound of uncompressed blocks.
QByteArray SoundMovie() {
    StartSound start;
    start.soundId = 30;
    start.info.inPoint = 10;
    start.info.outPoint = 1000;
    start.info.loopCount = 2;
    start.info.envelope = {{0, 100, 200}, {500, 300, 400}};
    SoundStreamHead head;
    head.streamFormat = {3, 1, true, false};
    head.samplesPerBlock = 16;
    const QByteArray block(32, char(0x40));
    return MovieBuilder()
        .Add(DefineSound(30, SoundFormat{3, 2, true, true}, 32, QByteArray(128, 'a')))
        .Add(SoundStreamHeadTag(head, 2))
        .Add(StartSoundTag(start))
        .Add(SoundStreamBlockTag(block))
        .Add(ShowFrame())
        .Add(SoundStreamBlockTag(block))
        .Add(ShowFrame())
        .Build();
}

// Frame scripts, a function, clip events, init actions, an exported sprite attached by name, and
// buttons of both versions with their sounds, keys and colour transform.
QByteArray ScriptMovie() {
    const ActionCode script = ActionCode()
                                  .ConstantPool({"a", "_root", "gotoAndPlay", "end"})
                                  .PushConstant(3)
                                  .PushInt(1)
                                  .PushConstant(1)
                                  .GetVariable()
                                  .PushConstant(2)
                                  .CallMethod()
                                  .SetTarget("/a")
                                  .NextFrame()
                                  .SetTarget("")
                                  .PushDouble(2.5)
                                  .PushInt(3)
                                  .Op(action::Add2)
                                  .If(2)
                                  .PrevFrame()
                                  .PushString("v")
                                  .PushBool(true)
                                  .SetVariable()
                                  .GotoLabel("end");
    Bits function;
    function.String("f").U16(1).String("x").U16(7);
    const ActionCode more = ActionCode()
                                .Op(action::DefineFunction, function.Data())
                                .PushString("x") // the body, 7 bytes: return x
                                .GetVariable()
                                .Op(action::Return)
                                .PushInt(4)
                                .PushInt(1)
                                .PushString("f")
                                .CallFunction()
                                .Op(action::Trace)
                                .PushString("a")
                                .PushString("b")
                                .PushInt(3)
                                .Op(action::CloneSprite)
                                .PushInt(2)
                                .PushString("c")
                                .PushString("clip")
                                .PushInt(3)
                                .PushString("a")
                                .GetVariable()
                                .PushString("attachMovie")
                                .CallMethod()
                                .Pop();
    const std::vector<ButtonRecord> records = {
        {ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, Turned, {}},
        {ButtonRecord::Over | ButtonRecord::Down, 40, 2, {}, ColorTransform{0.5, 1, 1, 1, 10, 0, 0, 0}},
    };
    SoundInfo loops;
    loops.loopCount = 2;
    PlaceObject a = Place(40, 1);
    a.name = "a";
    a.clipActions = {{ClipEventLoad | ClipEventMouseDown, 0, script.Data()},
                     {ClipEventEnterFrame, 0, ActionCode().PushString("_x").PushInt(5).SetVariable().Data()},
                     {ClipEventKeyPress, 13, ActionCode().Stop().Data()}};
    PlaceObject button = Place(5, 2);
    button.name = "b";
    return MovieBuilder()
        .Stage({0, 4000, 0, 4000})
        .Add(DefineShape(
            ShapeDefinition().Fills({Solid(Red)}).Records(ShapeRecords().Fill0(1).Box(0, 0, 1400, 1400))))
        .Add(DefineSprite(
            40, 3,
            DoAction(
                ActionCode().PushInt(0).PushString("_parent").GetVariable().PushString("stop").CallMethod()) +
                PlaceObjectTag(Place(1, 1)) + ShowFrame() + ShowFrame() + ShowFrame()))
        .Add(DefineButton(5, records, ActionCode().Play().GotoFrame(1)))
        .Add(DefineButton2(
            6, records,
            {{IdleToOverUp, ActionCode().Stop()}, {OverDownToOverUp, script}, {0x1A00, ActionCode().Play()}}))
        .Add(DefineSound(30, SoundFormat{3, 1, true, false}, 64, QByteArray(128, 'a')))
        .Add(DefineButtonSoundTag(5, {{IdleToOverUp, 30, loops}}))
        .Add(DefineButtonCxformTag(5, ColorTransform{0.5, 1, 1.5, 1, 0, 40, -20, 0}))
        .Add(DoInitAction(40, ActionCode().Stop().Play()))
        .Add(Tag(56, QByteArray("\x01\x00\x28\x00clip\x00", 9))) // sprite 40 exported as "clip"
        .Add(PlaceObjectTag(a))
        .Add(PlaceObjectTag(button))
        .Add(PlaceObjectTag(Place(6, 3)))
        .Add(DoAction(script))
        .Add(DoAction(more))
        .Add(ShowFrame())
        .Add(FrameLabelTag("end"))
        .Add(ShowFrame())
        .Add(DoAction(ActionCode().GotoFrame(0).Play()))
        .Add(ShowFrame())
        .Build();
}

// Sprites inside sprites, one of them placing itself.
QByteArray NestedMovie() {
    const QByteArray inner = PlaceObjectTag(Place(1, 1)) + ShowFrame() + RemoveObject2Tag(1) + ShowFrame();
    return MovieBuilder()
        .Version(5)
        .Add(DefineShape(
            ShapeDefinition().Fills({Solid(Red)}).Records(ShapeRecords().Fill1(1).Box(0, 0, 40, 40))))
        .Add(DefineSprite(2, 2, inner))
        .Add(DefineSprite(3, 1, PlaceObjectTag(Place(2, 1)) + PlaceObjectTag(Place(3, 2)) + ShowFrame()))
        .Add(PlaceObjectTag(Place(3, 1)))
        .Add(ShowFrame())
        .Build();
}

// A small WAVE layout: the format record, then the data.
QByteArray PlainWave(TPCMFormat format, const QByteArray& audio) {
    return WaveFile(PCMFormat(format), audio);
}

// The AVI target's layout: flags, raw code, key-frame interval, rate and scale, the header, the
// colour table with its length, then frames (step, slack, a pattern of up to 16 bytes).
QByteArray AviRecording(std::uint8_t flags, int width, int height, int bits, int frames) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = WORD(bits);
    header.biSizeImage = DibStride(width, WORD(bits)) * DWORD(height);
    const DWORD colours = DibColorCount(WORD(bits));
    QByteArray table;
    for (DWORD i = 0; i < colours; ++i)
        table += QByteArray::fromRawData(i % 2 ? "\x00\x60\xF8\x00" : "\xF8\x20\x00\x00", 4);
    Bits bytes;
    bytes.U8(flags).U32(MakeFourCC('C', 'R', 'A', 'M')).U8(3).U16(25).U16(1);
    bytes.Bytes(QByteArray(reinterpret_cast<const char*>(&header), sizeof header));
    bytes.U16(std::uint32_t(table.size())).Bytes(table);
    for (int frame = 0; frame < frames; ++frame)
        bytes.U8(frame == 2 ? 3 : 1)
            .U8(0)
            .Bytes(QByteArray::fromRawData("\x11\x22\x33\x44\x55\x66\x77\x88", 8));
    return bytes.Data();
}

} // namespace

std::vector<QByteArray> SwfReaderSeeds() {
    return {ShapesMovie(),
            ShapesMovie(Movie::Compression::Zlib),
            ShapesMovie(Movie::Compression::Lzma),
            TextMovie(),
            SoundMovie(),
            ScriptMovie(),
            NestedMovie()};
}

std::vector<QByteArray> SwfPlayerSeeds() {
    // Clicks over the stage, keys and seeks.
    const QByteArray events("\x14\x00\x36\x02\x42\xC3\x28\x83", 8);
    std::vector<QByteArray> seeds;
    for (const QByteArray& movie : {ShapesMovie(), TextMovie(), SoundMovie(), ScriptMovie(), NestedMovie()})
        seeds.push_back(events + movie);
    return seeds;
}

std::vector<QByteArray> WaveEditSeeds() {
    const QByteArray edits("\x10\x31\x22\x84\x09\x1A\x3B\x1C", 8);
    const WAVEFORMATEX stereo = PCMFormat(Stereo16bit22050Hz);
    WAVEFORMATEX extra = PCMFormat(Mono16bit8000Hz);
    extra.cbSize = 3;
    return {
        edits + PlainWave(Mono16bit8000Hz, Samples({0, 1000, -1000, 32767, -32768, 5})),
        edits + PlainWave(Mono8Bit8000Hz, "abcdefg"),
        edits + Riff(Chunk("fmt ", FormatBody(stereo, 16)) + Chunk("fact", LittleEndian32(2)) +
                     Chunk("LIST", "INFOISFTxx") + Chunk("data", Samples({1, 2, 3, 4, 5, 6, 7, 8}))),
        QByteArray("\x0E\x0F\x12\x03\x06\x07\x0B\x0C", 8) +
            Riff(Chunk("LIST", "INFO") + Chunk("fmt ", FormatBody(stereo)) +
                 Chunk("data", Samples({9, 8, 7, 6}))),
        edits + Riff(Chunk("fmt ", FormatBody(extra, 21)) + Chunk("data", Samples({1, -2, 3, -4}))),
    };
}

std::vector<QByteArray> AviWriterSeeds() {
    std::vector<QByteArray> seeds;
    for (const int bits : {1, 4, 8, 16, 24, 32})
        seeds.push_back(AviRecording(bits == 8 ? 0x14 : 0x00, 13 + bits % 5, 7 + bits % 3, bits, 4));
    return seeds;
}

std::vector<QByteArray> EncoderProgressSeeds() {
    return {
        QByteArray("\x80movie.swf\0", 11) +
            "frame=   52 fps= 25 q=2.0 size=     512kB time=00:00:02.08 bitrate=2016.4kbits/s speed=1x\r",
        QByteArray("\x02"
                   "a\0",
                   3) +
            "size=N/A time=00:00:01.00 bitrate=N/A\r" +
            "frame= 100 fps=0.0 q=-0.0 Lsize=  1234kiB time=00:00:04.00 bitrate= 1.2kbits/s\n",
        QByteArray("\xFF\0", 2) + "[mpeg @ 0x55] buffer underflow i=1 bufi=0 size=1234\n",
    };
}

} // namespace fuzz

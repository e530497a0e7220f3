#include "FuzzMovies.h"

#include "AbcWriter.h"
#include "ScriptAssembler.h"
#include "VideoEncoder.h"

namespace flash::writer {
namespace {

const Rgba Red{255, 0, 0, 255}, Blue{0, 0, 255, 128};
const Matrix Turned{0.5, 0.25, -0.125, 1.25, 100, -40};

// Sound 30 started from sample 10 to 1000, twice, with a two-point envelope.
StartSound EnvelopedStart() {
    StartSound start;
    start.soundId = 30;
    start.info.inPoint = 10;
    start.info.outPoint = 1000;
    start.info.loopCount = 2;
    start.info.envelope = {{0, 100, 200}, {500, 300, 400}};
    return start;
}

} // namespace

QByteArray ShapeTags() {
    const std::vector<GradientRecord> records = {{0, Red}, {255, Blue}};
    LineStyle filled = Line(40, Red);
    filled.join = LineStyle::Join::Miter;
    filled.fill = GradientFill(FillStyle::Type::FocalRadialGradient, Turned, records,
                               Gradient::Spread::Reflect, Gradient::Interpolation::LinearRgb, 0.5);
    const ShapeRecords drawing = ShapeRecords()
                                     .Fill0(1)
                                     .Line(1)
                                     .Box(0, 0, 300, 200)
                                     .NewStyles({Solid(Blue), BitmapFill(20, Turned)}, {Line(10, Blue)})
                                     .Fill1(2)
                                     .Line(1)
                                     .MoveTo(-50, -50)
                                     .CurveTo(0, -100, 50, -50)
                                     .LineTo(0, 0);
    QByteArray tags;
    for (int version = 1; version <= 4; ++version)
        tags += DefineShape(
            ShapeDefinition()
                .Version(version)
                .Id(std::uint16_t(version))
                .EdgeBounds({0, 300, 0, 200})
                .Fills({Solid(Red), GradientFill(FillStyle::Type::LinearGradient, Turned, records),
                        BitmapFill(20, Matrix{20, 0, 0, 20, 0, 0}, FillStyle::Type::RepeatingBitmap)})
                .Lines({version == 4 ? filled : Line(20, Red)})
                .Records(drawing));
    for (int version = 1; version <= 2; ++version)
        tags += DefineMorphShape(
            MorphDefinition()
                .Version(version)
                .Id(std::uint16_t(10 + version))
                .Start(ShapeRecords().Fill0(2).Line(1).Box(0, 0, 100, 100))
                .End(ShapeRecords()
                         .MoveTo(10, 10)
                         .CurveTo(50, 0, 100, 10)
                         .LineTo(100, 100)
                         .LineTo(0, 100)
                         .LineTo(10, 10))
                .Fills({Solid(Red), GradientFill(FillStyle::Type::RadialGradient, Matrix{}, records)},
                       {Solid(Blue), GradientFill(FillStyle::Type::RadialGradient, Turned, records)})
                .Lines({version == 2 ? filled : Line(20, Red)}, {version == 2 ? filled : Line(60, Blue)}));
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QByteArray jpeg = JpegBytes(image, 50);
    const QByteArray alpha = ZlibBytes(QByteArray(16, char(0x7F)));
    return tags + JpegTables(jpeg.left(20)) + DefineBits(19, jpeg.mid(20)) + DefineBitsJpeg2(20, jpeg) +
           DefineBitsJpeg3(21, jpeg, alpha) + DefineBitsJpeg4(22, jpeg, alpha, 0.25) +
           DefineBitsLossless(1, 23, 3, 2, 2, ZlibBytes("\xFF\x00\x00\x00\x00\x01\x01\x00"), 1) +
           DefineBitsLossless(2, 24, 5, 1, 1, ZlibBytes("\xFF\x10\x20\x30"));
}

QByteArray TextTags() {
    FontDefinition font;
    font.glyphs = {{ShapeRecords().Fill0(1).Box(0, -800, 600, 0), 'A', 700},
                   {ShapeRecords().Fill1(1).MoveTo(0, 0).CurveTo(300, -900, 600, 0).LineTo(0, 0), 'B', 650}};
    font.ascent = 900;
    font.descent = 200;
    font.kerning = {{'A', 'B', -40}};
    QByteArray tags;
    for (int version = 1; version <= 3; ++version) {
        font.version = version;
        font.id = std::uint16_t(49 + version);
        font.wideOffsets = version == 3;
        tags += DefineFontTag(font);
    }
    tags += DefineFontInfoTag(50, "Serif", {'A', 'B'}, 2, true);
    StaticText text;
    text.bounds = {0, 2000, -400, 100};
    text.matrix = Turned;
    TextRecord record;
    record.fontId = 51;
    record.color = Blue;
    record.height = 400;
    record.glyphs = {{0, 300}, {1, 280}, {0, -20}};
    text.records = {record, record};
    text.records[1].fontId = 52;
    text.records[1].y = 500;
    tags += DefineTextTag(54, text, 2);
    text.records[0].color = text.records[1].color = Red;
    tags += DefineTextTag(55, text, 1);
    EditText edit;
    edit.bounds = {0, 3000, 0, 900};
    edit.wordWrap = edit.multiline = edit.html = edit.border = edit.useOutlines = edit.hasLayout = true;
    edit.fontId = 51;
    edit.fontClass = "Embedded";
    edit.color = Red;
    edit.maxLength = 40;
    edit.align = EditText::Align::Right;
    edit.leading = 40;
    edit.variableName = "_root.field";
    edit.initialText =
        "<p>AB <font color=\"#0000FF\" size=\"40\">BA</font></p><p align=\"center\"><b>AAB</p>";
    tags += DefineEditTextTag(56, edit);
    EditText device;
    device.fontId = 50;
    device.initialText = "Device";
    return tags + DefineEditTextTag(57, device);
}

QByteArray VideoTags() {
    QByteArray tags;
    for (std::uint8_t codec : {VideoStream::SorensonH263, VideoStream::ScreenVideo}) {
        const std::vector<QByteArray> frames =
            EncodeVideoFrames(codec, {Qt::red, Qt::blue, Qt::green}, 32, 16);
        VideoStream video;
        video.numFrames = std::uint16_t(frames.size());
        video.width = 32;
        video.height = 16;
        video.codecId = codec;
        video.smoothing = codec == VideoStream::ScreenVideo;
        const std::uint16_t id = std::uint16_t(60 + codec);
        tags += DefineVideoStreamTag(id, video);
        for (std::size_t i = 0; i < frames.size(); ++i)
            tags += VideoFrameTag(id, std::uint16_t(i), frames[i]);
        PlaceObject place = Place(id, std::uint16_t(5 + codec));
        place.matrix = Turned;
        place.ratio = 1;
        tags += PlaceObjectTag(place);
    }
    return tags;
}

QByteArray EverythingMovie(Movie::Compression compression) {
    StartSound byClass;
    byClass.className = "Snd";
    SoundStreamHead head;
    head.streamFormat = {2, 3, true, true};
    head.samplesPerBlock = 1152;
    MovieBuilder movie;
    movie.Add(ShapeTags())
        .Add(DefineSound(30, SoundFormat{1, 2, true, false}, 100, QByteArray(40, 'a')))
        .Add(SoundStreamHeadTag(head, 2))
        .Add(StartSoundTag(EnvelopedStart()))
        .Add(StartSoundTag(byClass, 2))
        .Add(SoundStreamBlockTag("mp3"));

    PlaceObject full = Place(1, 1);
    full.matrix = Turned;
    full.colorTransform = ColorTransform{0.5, 1, 1, 0.25, 10, 0, -10, 0};
    full.ratio = 5;
    full.name = "clip";
    full.clipDepth = 3;
    PlaceObject three = Place(2, 2, 3);
    three.blendMode = 2;
    three.visible = true;
    three.backgroundColor = Red;
    Filter blur, colorMatrix;
    blur.blurX = blur.blurY = 4;
    colorMatrix.kind = Filter::Kind::ColorMatrix;
    colorMatrix.matrix.assign(20, 0);
    three.filters = {blur, colorMatrix};
    PlaceObject tinted = Place(3, 4, 1);
    tinted.colorTransform = ColorTransform{2, 1, 1, 1, 0, 50, 0, 0};
    const QByteArray spriteTags = PlaceObjectTag(Place(11, 1)) + SoundStreamHeadTag(head) + ShowFrame() +
                                  FrameLabelTag("inner") + RemoveObject2Tag(1) + ShowFrame();

    movie.Add(SetBackgroundColorTag(Red))
        .Add(
            DefineSprite(40, 2, spriteTags + DefineSprite(41, 1, PlaceObjectTag(Place(12, 1)) + ShowFrame())))
        .Add(TextTags())
        .Add(Tag(tag::DoAction, ActionCode().Stop().Data()))
        .Add(FrameLabelTag("start"))
        .Add(PlaceObjectTag(full))
        .Add(PlaceObjectTag(three))
        .Add(PlaceObjectTag(tinted))
        .Add(PlaceObjectTag(Place(40, 5)))
        .Add(ShowFrame())
        .Add(RemoveObjectTag(1, 1))
        .Add(RemoveObject2Tag(2))
        .Add(Tag(tag::VideoFrame, "frame"))
        .Add(VideoTags())
        .Add(ShowFrame());
    return movie.Build(compression);
}

QByteArray ShapesMovie() {
    PlaceObject masked = Place(1, 1);
    masked.clipDepth = 3;
    PlaceObject filtered = Place(2, 2, 3);
    filtered.blendMode = 3;
    Filter blur, glow;
    blur.blurX = blur.blurY = 4;
    glow.kind = Filter::Kind::Glow;
    glow.colors = {Red};
    filtered.filters = {blur, glow};
    PlaceObject morph = Place(12, 4);
    morph.matrix = Turned;
    morph.ratio = 30000;
    return MovieBuilder()
        .Stage({0, 4000, 0, 3000})
        .Add(SetBackgroundColorTag(Blue))
        .Add(ShapeTags())
        .Add(PlaceObjectTag(masked))
        .Add(PlaceObjectTag(filtered))
        .Add(PlaceObjectTag(morph))
        .Add(ShowFrame())
        .Add(RemoveObject2Tag(1))
        .Add(PlaceObjectTag(Place(4, 5)))
        .Add(ShowFrame())
        .Build();
}

QByteArray TextMovie() {
    return MovieBuilder()
        .Stage({0, 4000, 0, 2000})
        .Add(TextTags())
        .Add(PlaceObjectTag(Place(54, 1)))
        .Add(PlaceObjectTag(Place(56, 2)))
        .Add(PlaceObjectTag(Place(57, 3)))
        .Add(DoAction(ActionCode().PushString("field").PushString("<b>BA</b>").SetVariable()))
        .Add(ShowFrame())
        .Build();
}

QByteArray SoundMovie() {
    SoundStreamHead head;
    head.streamFormat = {3, 1, true, false};
    head.samplesPerBlock = 16;
    const QByteArray block(32, char(0x40));
    // s = new Sound(this); s.attachSound("beep"); s.setVolume(50); s.setPan(-20); s.start(0.0001, 2);
    // s.onSoundComplete = function () { s.stop("beep"); }
    const QByteArray script =
        Assemble(
            "'s' 'this' GetVariable 1 'Sound' NewObject SetVariable 'beep' 1 's' GetVariable 'attachSound' "
            "CallMethod Pop 50 1 's' GetVariable 'setVolume' CallMethod Pop -20 1 's' GetVariable 'setPan' "
            "CallMethod Pop 2 0.0001 2 's' GetVariable 'start' CallMethod Pop 's' GetVariable "
            "'onSoundComplete'") +
        DefineFunction("", {}, Assemble("'beep' 1 's' GetVariable 'stop' CallMethod Pop")) +
        Assemble("SetMember");
    return MovieBuilder()
        .Add(DefineSound(30, SoundFormat{3, 2, true, true}, 32, QByteArray(128, 'a')))
        .Add(Tag(56, Bits().U16(1).U16(30).String("beep").Data()))
        .Add(SoundStreamHeadTag(head, 2))
        .Add(StartSoundTag(EnvelopedStart()))
        .Add(Tag(12, script + QByteArray(1, '\0')))
        .Add(SoundStreamBlockTag(block))
        .Add(ShowFrame())
        .Add(SoundStreamBlockTag(block))
        .Add(ShowFrame())
        .Build();
}

QByteArray ScriptMovie() {
    const ActionCode script = ActionCode()
                                  .ConstantPool({"a", "_root", "gotoAndPlay", "end"})
                                  .PushConstant(3)
                                  .PushInt(1)
                                  .PushConstant(1)
                                  .GetVariable()
                                  .PushConstant(2)
                                  .CallMethod()
                                  .SetTarget("/a/..")
                                  .NextFrame()
                                  .SetTarget("")
                                  .PushString("a")
                                  .SetTarget2()
                                  .PrevFrame()
                                  .PushDouble(2.5)
                                  .PushInt(3)
                                  .Op(action::Add2)
                                  .If(-20)
                                  .PushString("v")
                                  .PushBool(true)
                                  .SetVariable()
                                  .GotoLabel("end")
                                  .PushInt(2)
                                  .GotoFrame2(true, 1)
                                  .Jump(2)
                                  .StopSounds();
    // A function of x returning random(x * 2), called as a function (its result traced) and as a
    // method of a, clip properties, Math, the clock, a copy of a made and taken away, f as a's frame
    // handler, a with block on a, a dragged, a copy of sprite 40 attached inside a by its linkage
    // name, and f as button b's release handler.
    Bits function;
    function.String("f").U16(1).String("x").U16(18);
    const ActionCode more =
        ActionCode()
            .Op(action::DefineFunction, function.Data())
            .PushString("x") // the body, 18 bytes
            .GetVariable()
            .PushInt(2)
            .Op(action::Multiply)
            .Op(action::RandomNumber)
            .Op(action::Return)
            .PushString("a")
            .GetVariable()
            .PushString("m")
            .PushString("f")
            .GetVariable()
            .Op(action::SetMember)
            .PushInt(7)
            .PushInt(1)
            .PushString("a")
            .GetVariable()
            .PushString("m")
            .CallMethod()
            .PushInt(1)
            .PushString("f")
            .CallFunction()
            .Op(action::Trace)
            .PushString("a")
            .PushInt(10)
            .Op(action::GetTime)
            .Op(action::SetProperty)
            .PushInt(0)
            .PushString("Math")
            .GetVariable()
            .PushString("random")
            .CallMethod()
            .PushInt(3)
            .Op(action::BitLShift)
            .Op(action::TypeOf)
            .Pop()
            .PushString("a")
            .PushString("b")
            .PushInt(3)
            .Op(action::CloneSprite) // duplicateMovieClip
            .PushString("b")
            .Op(action::RemoveSprite) // removeMovieClip
            .PushString("a")
            .GetVariable()
            .PushString("onEnterFrame")
            .PushString("f")
            .GetVariable()
            .Op(action::SetMember)
            .PushString("a")
            .GetVariable()
            .Op(action::With, QByteArray("\x02\x00", 2)) // with (a) { nextFrame(); stop(); }
            .NextFrame()
            .Stop()
            .PushInt(0)
            .PushInt(0)
            .PushInt(90)
            .PushInt(90)
            .PushBool(true)
            .PushBool(false)
            .PushString("a")
            .Op(action::StartDrag) // startDrag("a", false, 0, 0, 90, 90)
            .PushInt(2)
            .PushString("c")
            .PushString("clip")
            .PushInt(3)
            .PushString("a")
            .GetVariable()
            .PushString("attachMovie")
            .CallMethod()
            .PushString("b")
            .GetVariable()
            .PushString("onRelease")
            .PushString("f")
            .GetVariable()
            .Op(action::SetMember);
    const std::vector<ButtonRecord> records = {
        {ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, Turned, {}},
        {ButtonRecord::Over | ButtonRecord::Down, 40, 2, {}, ColorTransform{0.5, 1, 1, 1, 10, 0, 0, 0}},
    };
    const std::uint16_t enterKeyPress = 13 << 9;
    SoundInfo envelope;
    envelope.loopCount = 2;
    envelope.envelope = {{0, 32768, 0}, {64, 0, 32768}};
    SoundInfo stop;
    stop.syncStop = true;
    PlaceObject a = Place(40, 1);
    a.name = "a";
    a.clipActions = {
        {ClipEventLoad | ClipEventMouseDown, 0, script.Data()},
        {ClipEventEnterFrame, 0,
         ActionCode().PushString("_x").PushString("_x").GetVariable().Op(action::Add2).SetVariable().Data()},
        {ClipEventKeyPress, 13, ActionCode().Stop().Data()}};
    EditText field; // shows the variable the script sets
    field.bounds = {0, 2000, 0, 400};
    field.variableName = "a:v";
    field.initialText = "x";
    PlaceObject b = Place(5, 2);
    b.name = "b";
    return MovieBuilder()
        .Stage({0, 4000, 0, 4000})
        .Add(DefineShape(
            ShapeDefinition().Fills({Solid(Red)}).Records(ShapeRecords().Fill0(1).Box(0, 0, 900, 900))))
        .Add(DefineSprite(
            40, 3,
            DoAction(
                ActionCode().PushInt(0).PushString("_parent").GetVariable().PushString("stop").CallMethod()) +
                PlaceObjectTag(Place(1, 1)) + ShowFrame() + ShowFrame() + ShowFrame()))
        .Add(DefineButton(5, records, ActionCode().Play().GotoFrame(1)))
        .Add(DefineButton2(6, records,
                           {{IdleToOverUp, ActionCode().Stop()},
                            {OverDownToOverUp, script},
                            {enterKeyPress, ActionCode().Play()}}))
        .Add(DefineSound(30, SoundFormat{3, 1, true, false}, 64, QByteArray(128, 'a')))
        .Add(DefineButtonSoundTag(5, {{IdleToOverUp, 30, envelope}, {OverUpToIdle, 30, stop}}))
        .Add(DefineButtonSoundTag(6, {{OverUpToOverDown, 30, {}}, {OverDownToOverUp, 31, {}}}))
        .Add(DefineButtonCxformTag(5, ColorTransform{0.5, 1, 1.5, 1, 0, 40, -20, 0}))
        .Add(DoInitAction(40, ActionCode().Stop().Play()))
        .Add(Tag(56, QByteArray("\x01\x00\x28\x00"
                                "clip\x00",
                                9))) // sprite 40 exported as "clip"
        .Add(PlaceObjectTag(a))
        .Add(DefineEditTextTag(41, field))
        .Add(PlaceObjectTag(b))
        .Add(PlaceObjectTag(Place(6, 3)))
        .Add(PlaceObjectTag(Place(41, 4)))
        .Add(DoAction(script))
        .Add(DoAction(more))
        .Add(ShowFrame())
        .Add(FrameLabelTag("end"))
        .Add(DoAction(ActionCode().Jump(-5)))
        .Add(ShowFrame())
        .Add(DoAction(ActionCode().GotoFrame(0).Play()))
        .Add(ShowFrame())
        .Build();
}
// Classes as the ActionScript 2 compiler writes them, in _global:
//   Assemble(x) { this.x = x }  A.prototype.get = function () { return this.x }
//   B(x) extends A { super(x * 2) }  B.prototype.get = function () { return "B" + super.get() }
//   C(x) extends B { super(x + 1) }
//   interface I, implemented by A; A.prototype.toString = function () { return "A:" + this.x }
QByteArray ClassesScript() {
    const QByteArray aConstructor = Assemble("'this' GetVariable 'x' 'x' GetVariable SetMember");
    const QByteArray aGet = Assemble("'this' GetVariable 'x' GetMember Return");
    const QByteArray aText = Assemble("'A:' 'this' GetVariable 'x' GetMember Add2 Return");
    const QByteArray bConstructor =
        Assemble("'x' GetVariable 2 Multiply 1 'super' GetVariable undefined CallMethod Pop");
    const QByteArray bGet = Assemble("'B' 0 'super' GetVariable 'get' CallMethod Add2 Return");
    const QByteArray cConstructor =
        Assemble("'x' GetVariable 1 Add2 1 'super' GetVariable undefined CallMethod Pop");
    return Assemble("'_global' GetVariable 'A'") + DefineFunction("", {"x"}, aConstructor) +
           Assemble("SetMember") + Assemble("'_global' GetVariable 'B'") +
           DefineFunction("", {"x"}, bConstructor) + Assemble("SetMember") +
           Assemble("'_global' GetVariable 'C'") + DefineFunction("", {"x"}, cConstructor) +
           Assemble("SetMember") + Assemble("'_global' GetVariable 'I'") + DefineFunction("", {}, {}) +
           Assemble("SetMember") +
           Assemble("'B' GetVariable 'A' GetVariable Extends 'C' GetVariable 'B' GetVariable Extends") +
           Assemble("'A' GetVariable 'prototype' GetMember 'get'") + DefineFunction("", {}, aGet) +
           Assemble("SetMember") + Assemble("'A' GetVariable 'prototype' GetMember 'toString'") +
           DefineFunction("", {}, aText) + Assemble("SetMember") +
           Assemble("'B' GetVariable 'prototype' GetMember 'get'") + DefineFunction("", {}, bGet) +
           Assemble("SetMember") + Assemble("'I' GetVariable 1 'A' GetVariable ImplementsOp");
}

QByteArray DrawingMovie() {
    const QByteArray script = Assemble(
        "3 100 2 '_root' GetVariable 'lineStyle' CallMethod Pop "
        "50 255 2 '_root' GetVariable 'beginFill' CallMethod Pop "
        "10 10 2 '_root' GetVariable 'moveTo' CallMethod Pop 90 10 2 '_root' GetVariable 'lineTo' CallMethod "
        "Pop "
        "10 90 90 90 4 '_root' GetVariable 'curveTo' CallMethod Pop 0 '_root' GetVariable 'endFill' "
        "CallMethod Pop "
        "'matrixType' 'box' 'w' 40 'h' 40 'r' 1 4 InitObject 0 255 3 InitArray 100 50 2 InitArray "
        "16711680 255 2 InitArray 'radial' 5 'clip' GetVariable 'beginGradientFill' CallMethod Pop "
        "40 0 2 'clip' GetVariable 'lineTo' CallMethod Pop 0 40 2 'clip' GetVariable 'lineTo' CallMethod Pop "
        "'clip' GetVariable 'filters' 2 8 8 255 4 'flash' GetVariable 'filters' GetMember 'GlowFilter' "
        "NewMethod "
        "3 0 2 'flash' GetVariable 'filters' GetMember 'BlurFilter' NewMethod 2 InitArray SetMember "
        "'clip' GetVariable 'blendMode' 'screen' SetMember "
        "'clip' GetVariable 'transform' GetMember 'matrix' 5 5 0 0.5 0.5 2 6 'flash' GetVariable 'geom' "
        "GetMember 'Matrix' NewMethod SetMember 'clip' GetVariable 'filters' GetMember Trace");
    PlaceObject placed = Place(2, 1);
    placed.name = QStringLiteral("clip");
    return MovieBuilder()
        .Version(8)
        .Add(DefineSprite(2, 1, ShowFrame()))
        .Add(PlaceObjectTag(placed))
        .Add(Tag(12, script + QByteArray(1, '\0')))
        .Add(ShowFrame())
        .Add(DoAction(ActionCode().Records(Assemble("0 '_root' GetVariable 'clear' CallMethod Pop"))))
        .Add(ShowFrame())
        .Build();
}

QByteArray BitmapMovie() {
    const auto make = [](const QString& args, int count) {
        return QStringLiteral("%1 %2 'flash' GetVariable 'display' GetMember 'BitmapData' NewMethod ")
            .arg(args)
            .arg(count);
    };
    const auto geom = [](const QString& name, const QString& args, int count) {
        return QStringLiteral("%1 %2 'flash' GetVariable 'geom' GetMember '%3' NewMethod ")
            .arg(args)
            .arg(count)
            .arg(name);
    };
    const QByteArray first = Assemble(
        "'a' " + make("1e9 1e9", 2) +
        "SetVariable 'a' GetVariable 'width' GetMember Trace "
        "'b' " +
        make("'x' false 3 -5", 4) +
        "SetVariable 'b' GetVariable 'height' GetMember Trace "
        "'c' " +
        make("2164260863 true 3 3", 4) +
        "SetVariable "
        "-1e12 1e12 2 'c' GetVariable 'getPixel32' CallMethod Trace "
        "5 1 'x' 3 'c' GetVariable 'setPixel32' CallMethod Pop "
        "4278190335 " +
        geom("Rectangle", "2e9 2e9 -1e9 -1e9", 4) + "2 'c' GetVariable 'fillRect' CallMethod Pop " +
        geom("Point", "-1e9 1e9", 2) + geom("Rectangle", "1e10 1e10 0 -1e9", 4) +
        "'c' GetVariable 3 'c' GetVariable 'copyPixels' CallMethod Pop "
        "true " +
        geom("Point", "5 -1e9", 2) + "'c' GetVariable " + geom("Point", "1 1", 2) +
        "'c' GetVariable 'rect' GetMember 'c' GetVariable 6 'c' GetVariable 'copyPixels' CallMethod Pop " +
        geom("Matrix", "1e9 1e9 0 0 0 0", 6) +
        "'c' GetVariable 2 'c' GetVariable 'draw' CallMethod Pop "
        "'_root' GetVariable 1 'c' GetVariable 'draw' CallMethod Pop "
        "1e9 'c' GetVariable 2 '_root' GetVariable 'attachBitmap' CallMethod Pop "
        "-1 'c' GetVariable 2 '_root' GetVariable 'attachBitmap' CallMethod Pop "
        "true 'always' 3 'c' GetVariable 4 '_root' GetVariable 'attachBitmap' CallMethod Pop "
        "4 'a' GetVariable 2 '_root' GetVariable 'attachBitmap' CallMethod Pop "
        "true false " +
        geom("Matrix", "0 0 1e-9 0 0 1e9", 6) +
        "'c' GetVariable 4 '_root' GetVariable 'beginBitmapFill' CallMethod Pop "
        "0 0 2 '_root' GetVariable 'moveTo' CallMethod Pop 1e6 0 2 '_root' GetVariable 'lineTo' CallMethod "
        "Pop "
        "1e6 1e6 2 '_root' GetVariable 'lineTo' CallMethod Pop "
        "'a' GetVariable 1 '_root' GetVariable 'beginBitmapFill' CallMethod Pop "
        "10 10 2 '_root' GetVariable 'lineTo' CallMethod Pop 0 '_root' GetVariable 'endFill' CallMethod Pop "
        "'d' 0 'c' GetVariable 'clone' CallMethod SetVariable 0 'c' GetVariable 'dispose' CallMethod Pop "
        "0 0 2 'c' GetVariable 'getPixel' CallMethod Trace 0 0 2 'd' GetVariable 'getPixel32' CallMethod "
        "Trace "
        "'_root' GetVariable 'cacheAsBitmap' true SetMember");
    const QByteArray second = Assemble(
        "0 'c' GetVariable 'dispose' CallMethod Pop 16711680 1 1 3 'd' GetVariable 'setPixel' CallMethod Pop "
        "'pic' 1 'flash' GetVariable 'display' GetMember 'BitmapData' GetMember 'loadBitmap' CallMethod "
        "Trace");
    return MovieBuilder()
        .Version(8)
        .Add(DoAction(ActionCode().Records(first)))
        .Add(ShowFrame())
        .Add(DoAction(ActionCode().Records(second)))
        .Add(ShowFrame())
        .Build();
}

// Objects, arrays, strings and the classes at work: a literal walked by for..in, an array sorted,
// joined and spliced, a string split, instances made, their methods and super called, an instance
// cast and tested, a member deleted; each result traced.
QByteArray ObjectsMovie() {
    const QByteArray compare =
        DefineFunction("", {"x", "y"}, Assemble("'x' GetVariable 'y' GetVariable Subtract Return"));
    const QByteArray script =
        ClassesScript() + Assemble("'a' 1 'b' 'x' 'c' 3 2 1 3 InitArray 3 InitObject store:1") +
        ForIn(Assemble("r:0 Trace")) + Assemble("r:1 'c' GetMember store:2 Pop") + compare +
        Assemble(
            "1 r:2 'sort' CallMethod Trace 16 1 r:2 'sort' CallMethod Pop 'y' 'x' 1 1 4 r:2 'splice' "
            "CallMethod Trace r:2 Trace ',' 1 'a,b,,c' 'split' CallMethod 'length' GetMember Trace "
            "2 1 'C' NewObject store:3 Pop 0 r:3 'get' CallMethod Trace r:3 Trace 'A' GetVariable r:3 CastOp "
            "'I' GetVariable InstanceOf Trace r:1 'b' Delete Trace r:1 TypeOf Trace 16 1 255 1 'Math' "
            "GetVariable 'sqrt' CallMethod 'toString' CallMethod Trace 'x' '1e3' 2 'parseFloat' CallFunction "
            "Trace");
    return MovieBuilder()
        .Version(8)
        .Add(Tag(12, script + QByteArray(1, '\0')))
        .Add(ShowFrame())
        .Add(DoAction(
            ActionCode().PushString("_global").GetVariable().PushString("A").GetMember().Op(action::Trace)))
        .Add(ShowFrame())
        .Build();
}

QByteArray ClipsMovie() {
    const auto handler = [](const char* member, const char* body) {
        return Assemble(QStringLiteral("'a' GetVariable '%1'").arg(QLatin1String(member))) +
               DefineFunction("", {}, Assemble(QLatin1String(body))) + Assemble("SetMember");
    };
    const QByteArray script =
        handler("onPress",
                "true 1 'this' GetVariable 'startDrag' CallMethod Pop 'this' GetVariable '_droptarget' "
                "GetMember Trace") +
        handler("onRollOver", "'this' GetVariable '_xmouse' GetMember Trace 0 'stopDrag' CallFunction Pop") +
        Assemble("0 'a' GetVariable 'getBounds' CallMethod 'xMax' GetMember Trace "
                 "true 30 30 3 'a' GetVariable 'hitTest' CallMethod Trace "
                 "'x' 5 'y' 5 2 InitObject store:1 Pop r:1 1 'a' GetVariable 'localToGlobal' CallMethod Pop "
                 "'a' GetVariable '_width' 80 SetMember 'a' GetVariable '_name' 'b' SetMember "
                 "3 'e' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod store:2 Pop "
                 "'b' GetVariable 1 r:2 'swapDepths' CallMethod Pop "
                 "0 '_root' GetVariable 'getNextHighestDepth' CallMethod Trace "
                 "'l' 0 'MovieClipLoader' NewObject SetVariable "
                 "'e' 'x.swf' 2 'l' GetVariable 'loadClip' CallMethod Trace "
                 "1 'y.swf' 2 'loadMovieNum' CallFunction Pop '_level1' GetVariable Trace "
                 "'_url' GetVariable Trace");
    return MovieBuilder()
        .Version(8)
        .Stage({0, 4000, 0, 4000})
        .Add(DefineShape(ShapeDefinition()
                             .Id(1)
                             .Bounds({0, 1000, 0, 1000})
                             .Fills({Solid(Red)})
                             .Records(ShapeRecords().Fill0(1).Box(0, 0, 1000, 1000))))
        .Add(DefineSprite(2, 1, PlaceObjectTag(Place(1, 1)) + ShowFrame()))
        .Add(PlaceObjectTag([] {
            PlaceObject place = Place(2, 1);
            place.name = QStringLiteral("a");
            place.matrix = Turned;
            return place;
        }()))
        .Add(Tag(12, script + QByteArray(1, '\0')))
        .Add(ShowFrame())
        .Add(ShowFrame())
        .Build();
}

QByteArray TimersMovie() {
    const QByteArray traceTime = DefineFunction("", {}, Assemble("GetTime Trace"));
    const QByteArray method = DefineFunction(
        "", {"a"}, Assemble("'a' GetVariable Trace 37 1 'Key' GetVariable 'isDown' CallMethod Trace"));
    const QByteArray clear = DefineFunction("", {}, Assemble("1 1 'clearInterval' CallFunction Pop"));
    const QByteArray onKey =
        DefineFunction("", {}, Assemble("0 'Key' GetVariable 'getCode' CallMethod Trace"));
    const QByteArray onMouse =
        DefineFunction("", {}, Assemble("0 'Mouse' GetVariable 'hide' CallMethod Trace"));
    const QByteArray script =
        Assemble("50") + traceTime +
        Assemble("2 'setInterval' CallFunction Pop 'o' 0 InitObject SetVariable") +
        Assemble("'o' GetVariable 'f'") + method + Assemble("SetMember") +
        Assemble("'x' 120 'f' 'o' GetVariable 4 'setInterval' CallFunction Pop 300") + clear +
        Assemble("2 'setTimeout' CallFunction Pop 'o' GetVariable 'onKeyDown'") + onKey +
        Assemble("SetMember 'o' GetVariable 'onMouseDown'") + onMouse +
        Assemble("SetMember 'o' GetVariable 1 'Key' GetVariable 'addListener' CallMethod Pop "
                 "'o' GetVariable 1 'Mouse' GetVariable 'addListener' CallMethod Pop "
                 "0 'Date' NewObject Trace 'Stage' GetVariable 'width' GetMember Trace "
                 "'http://example.com/a.swf' '_root'");
    ActionCode code;
    code.Records(script)
        .Stop()
        .Op(action::GetUrl2, QByteArray(1, char(0x40)))
        .Op(action::GetUrl, Bits().String("http://example.com/").String("_blank").Data())
        .Op(action::GetUrl, Bits().String("FSCommand:quit").String("").Data());
    return MovieBuilder().Version(8).Add(DoAction(code)).Add(ShowFrame()).Add(ShowFrame()).Build();
}

QByteArray RegisteredClassMovie() {
    const QByteArray constructor = DefineFunction(
        "", {},
        Assemble("0 'super' GetVariable '' CallMethod Pop 'this' GetVariable '_name' GetMember Trace"));
    const QByteArray onEnterFrame = DefineFunction(
        "", {}, Assemble("'this' GetVariable '_x' 'this' GetVariable '_x' GetMember 1 Add2 SetMember"));
    const QByteArray init =
        Assemble("'_global' GetVariable 'Ball'") + constructor +
        Assemble("SetMember 'Ball' GetVariable 'MovieClip' GetVariable Extends "
                 "'Ball' GetVariable 'prototype' GetMember 'onEnterFrame'") +
        onEnterFrame +
        Assemble("SetMember 'Ball' GetVariable 'Ball' 2 'Object' GetVariable 'registerClass' CallMethod Pop");
    const QByteArray watcher =
        DefineFunction("", {"p", "old", "new"}, Assemble("'new' GetVariable 2 Multiply Return"));
    const QByteArray script =
        Assemble("'o' 0 InitObject SetVariable") + watcher +
        Assemble("'x' 2 'o' GetVariable 'watch' CallMethod Pop 'o' GetVariable 'x' 21 SetMember "
                 "'o' GetVariable 'x' GetMember Trace "
                 "5 'b2' 'Ball' 3 '_root' GetVariable 'attachMovie' CallMethod Pop "
                 "'x' 1 'o' GetVariable 'unwatch' CallMethod Trace");
    Bits exports;
    exports.U16(1).U16(2).String("Ball");
    PlaceObject placed = Place(2, 1);
    placed.name = QStringLiteral("b1");
    return MovieBuilder()
        .Version(8)
        .Add(DefineShape(
            ShapeDefinition().Fills({Solid(Red)}).Records(ShapeRecords().Fill1(1).Box(0, 0, 40, 40))))
        .Add(DefineSprite(2, 1, PlaceObjectTag(Place(1, 1)) + ShowFrame()))
        .Add(Tag(56, exports.Data()))
        .Add(DoInitAction(2, ActionCode().Records(init)))
        .Add(PlaceObjectTag(placed))
        .Add(DoAction(ActionCode().Records(script).Stop()))
        .Add(ShowFrame())
        .Add(ShowFrame())
        .Build();
}

QByteArray OldMovie() {
    return MovieBuilder()
        .Version(5)
        .Add(DefineShape(
            ShapeDefinition().Fills({Solid(Red)}).Records(ShapeRecords().Fill1(1).Box(0, 0, 40, 40))))
        .Add(PlaceObjectTag(Place(1, 1, 1)))
        .Add(FrameLabelTag("caf\xe9"))
        .Add(ShowFrame())
        .Add(RemoveObjectTag(1, 1))
        .Add(ShowFrame())
        .Build();
}

QByteArray As3Movie() {
    namespace op = abc::op;
    AbcBuilder abc;
    const std::uint32_t trace = abc.Name("trace"), ball = abc.Name("ball");
    // i = 0; while (i < 5) { trace("i", i, currentFrame); i++ } ball.x = 30; ball.alpha = 0.5;
    AbcCode first = abc.Script();
    first.PushByte(0).SetLocal(1).Mark(1).GetLocal(1).PushByte(5).Branch(op::IfNotLessThan, 2);
    first.FindPropStrict(trace).PushString(abc.String("i")).GetLocal(1);
    first.GetLocal(0).GetProperty(abc.Name("currentFrame")).CallPropVoid(trace, 3);
    first.Op(op::IncLocalI).U30(1).Branch(op::Jump, 1).Mark(2);
    first.GetLex(ball).PushByte(30).SetProperty(abc.Name("x"));
    first.GetLex(ball).Op(op::PushDouble).U30(abc.Double(0.5)).SetProperty(abc.Name("alpha"));
    // SoundMixer.stopAll(); new URLRequest("x"); trace(totalFrames * 2 + "!")
    AbcCode second = abc.Script();
    second.GetLex(abc.Name("SoundMixer", "flash.media")).CallPropVoid(abc.Name("stopAll"), 0);
    second.FindPropStrict(abc.Name("URLRequest", "flash.net")).PushString(abc.String("x"));
    second.Op(op::ConstructProp).U30(abc.Name("URLRequest", "flash.net")).U30(1).Op(op::Pop);
    second.FindPropStrict(trace)
        .GetLocal(0)
        .GetProperty(abc.Name("totalFrames"))
        .PushByte(2)
        .Op(op::Multiply);
    second.PushString(abc.String("!")).Op(op::Add).CallPropVoid(trace, 1);
    AbcCode third = abc.Script();
    third.FindPropStrict(abc.Name("gotoAndPlay")).PushString(abc.String("last"));
    third.CallPropVoid(abc.Name("gotoAndPlay"), 1);
    AbcCode last = abc.Script();
    last.FindPropStrict(abc.Name("stop")).CallPropVoid(abc.Name("stop"), 0);
    abc.TimelineClass(QStringLiteral("Main"), {{0, first}, {1, second}, {2, third}, {3, last}});
    AbcCode ballStop = abc.Script();
    ballStop.FindPropStrict(abc.Name("stop")).CallPropVoid(abc.Name("stop"), 0);
    abc.TimelineClass(QStringLiteral("Ball"), {{1, ballStop}});

    const QByteArray box = DefineShape(
        ShapeDefinition().Id(1).Fills({Solid(Red)}).Records(ShapeRecords().Fill1(1).Box(0, 0, 400, 400)));
    PlaceObject named = Place(5, 2);
    named.name = QStringLiteral("ball");
    return MovieBuilder()
        .Add(DoAbcTag(abc.Data(), QStringLiteral("frame1")))
        .Add(box)
        .Add(DefineSprite(5, 3, PlaceObjectTag(Place(1, 1)) + ShowFrame() + ShowFrame() + ShowFrame()))
        .Add(SymbolClassTag({{0, "Main"}, {5, "Ball"}}))
        .Add(PlaceObjectTag(named))
        .Add(ShowFrame())
        .Add(ShowFrame())
        .Add(ShowFrame())
        .Add(FrameLabelTag("last"))
        .Add(ShowFrame())
        .Build();
}

QByteArray DeepNestedMovie() {
    QByteArray tags = PlaceObjectTag(Place(1, 1)) + ShowFrame();
    for (int id = 14; id >= 2; --id)
        tags = DefineSprite(std::uint16_t(id), 1, tags + PlaceObjectTag(Place(std::uint16_t(id + 1), 1))) +
               ShowFrame();
    return MovieBuilder().Add(tags).Add(ShowFrame()).Build();
}

QByteArray CycleMovie() {
    const QByteArray shape = DefineShape(ShapeDefinition()
                                             .Id(1)
                                             .Fills({Solid({200, 0, 0, 255})})
                                             .Records(ShapeRecords().Fill0(1).Box(0, 0, 400, 400)));
    const QByteArray two = DefineSprite(2, 2, PlaceObjectTag(Place(3, 1)) + ShowFrame() + ShowFrame());
    const QByteArray three =
        DefineSprite(3, 1, PlaceObjectTag(Place(2, 1)) + PlaceObjectTag(Place(1, 2)) + ShowFrame());
    return MovieBuilder()
        .Add(shape)
        .Add(two)
        .Add(three)
        .Add(PlaceObjectTag(Place(2, 1)))
        .Add(ShowFrame())
        .Build();
}

QByteArray SelfPlacingMovie() {
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

QByteArray TextFieldsMovie() {
    // t = createTextField("t", 1, 5, 5, 60, 20); t.html = true; t.htmlText = ...;
    // t.setTextFormat(0, 1, new TextFormat("Arial", 14)); trace(t.getTextFormat(0).size);
    // t.autoSize = "left"; t.border = t.background = true; t.textColor = 255; trace(t.htmlText);
    // t.replaceSel("e\rf"); t.scroll = 2; t.hscroll = 3
    const QByteArray script = Assemble(
        "20 60 5 5 1 't' 6 '_root' GetVariable 'createTextField' CallMethod store:1 Pop "
        "r:1 'html' true SetMember "
        "r:1 'htmlText' '<p align=\"center\"><b>a</b><font size=\"20\" "
        "color=\"#ff0000\">b&amp;c</font></p><li>d</li>' "
        "SetMember "
        "14 'Arial' 2 'TextFormat' NewObject 1 0 3 r:1 'setTextFormat' CallMethod Pop "
        "0 1 r:1 'getTextFormat' CallMethod 'size' GetMember Trace "
        "r:1 'autoSize' 'left' SetMember r:1 'border' true SetMember r:1 'background' true SetMember "
        "r:1 'textColor' 255 SetMember r:1 'htmlText' GetMember Trace "
        "'e\rf' 1 r:1 'replaceSel' CallMethod Pop r:1 'scroll' 2 SetMember r:1 'hscroll' 3 SetMember");
    return MovieBuilder()
        .Version(8)
        .Add(Tag(12, script + QByteArray(1, '\0')))
        .Add(ShowFrame())
        .Add(ShowFrame())
        .Build();
}

} // namespace flash::writer

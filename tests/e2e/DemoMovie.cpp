#include "DemoMovie.h"

#include "SwfWriter.h"

#include <cmath>

using namespace flash;
using namespace flash::writer;

namespace {
constexpr int Twips = 20;
constexpr int BoxSize = 120;
constexpr int FrameCount = 48;

QByteArray Box(std::uint16_t Id, const Rgba& Color) {
    return DefineShape(ShapeDefinition()
                           .Id(Id)
                           .Bounds({0, BoxSize * Twips, 0, BoxSize * Twips})
                           .Fills({Solid(Color)})
                           .Records(ShapeRecords().Fill1(1).Box(0, 0, BoxSize * Twips, BoxSize * Twips)));
}

Matrix At(int X, int Y) {
    Matrix matrix;
    matrix.tx = X * Twips;
    matrix.ty = Y * Twips;
    return matrix;
}

PlaceObject Placed(std::uint16_t Id, std::uint16_t Depth, int X, int Y, bool Move) {
    PlaceObject place = Place(Id, Depth);
    place.move = Move;
    if (Move)
        place.characterId.reset();
    place.matrix = At(X, Y);
    return place;
}

// One second of the tone, looped by the sound's own loop count.
QByteArray Tone() {
    QByteArray samples;
    const int count = 44100;
    for (int i = 0; i < count; ++i) {
        const auto value = std::int16_t(std::lround(12000 * std::sin(2 * M_PI * 1000 * i / 44100.0)));
        samples.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
    }
    SoundFormat format;
    format.codec = 3; // uncompressed little-endian
    format.rateCode = 3;
    format.is16Bit = true;
    format.stereo = false;
    return DefineSound(10, format, std::uint32_t(count), samples);
}
} // namespace

QByteArray MakeDemoMovie() {
    MovieBuilder movie;
    movie.Stage({0, 550 * Twips, 0, 400 * Twips}).FrameRate(12).FrameCount(FrameCount);
    movie.Add(SetBackgroundColorTag({255, 255, 255, 255}));
    movie.Add(Box(1, {230, 20, 20, 255}));
    movie.Add(Box(2, {20, 200, 40, 255}));
    movie.Add(Box(3, {30, 40, 220, 255}));
    movie.Add(Tone());
    StartSound start;
    start.soundId = 10;
    start.info.syncNoMultiple = true; // the loop back to frame 0 does not start it twice
    start.info.loopCount = 65535;
    movie.Add(StartSoundTag(start));
    for (int frame = 0; frame < FrameCount; ++frame) {
        const bool move = frame > 0;
        movie.Add(PlaceObjectTag(Placed(1, 1, 10 + frame * 6, 30, move)));
        movie.Add(PlaceObjectTag(Placed(2, 2, 400, 10 + frame * 5, move)));
        movie.Add(PlaceObjectTag(Placed(3, 3, 60 + frame * 3, 200 + frame, move)));
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

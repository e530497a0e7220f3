#pragma once
// The benchmarks' busy movie at 550 x 400 and 30 frames a second: 150 shapes of curves with solid,
// gradient and line styles, all moving and turning every frame; with effects, every fourth shape has a
// filter (drop shadow, blur, glow or bevel) and every fourth a blend mode, and ten lines of static text
// in an embedded font move over them; with stream sound, a tone in one block a frame.

#include <QByteArray>

constexpr int FrameRate = 30;

QByteArray BusyMovie(bool effects, int frames, bool streamSound = false);

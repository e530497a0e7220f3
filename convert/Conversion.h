#pragma once
// Frame-exact conversion: plays a movie headless on a virtual clock, renders every output frame at
// the output size (frame k shows the movie at time k / rate), mixes the sound from the same clock, and
// streams both to the encoder. Nothing is held whole: frames and sound go to the encoder as they are
// made.
//
// Length: one pass of the main timeline by default, ending when its last frame has been shown or a
// script stopped it (after the last scheduled input), plus the tail of any sound still playing (at
// most MaxSoundTailSeconds); a movie that never ends is cut at MaxDefaultSeconds with a note. A
// duration, a frame count or a number of passes sets the length exactly.
//
// The output is written under a temporary name in the output's folder and renamed when complete, so
// a failed or cancelled conversion never leaves a file under the final name. Every failure comes back
// as a message naming the file and what is wrong.

#include "convert/Targets.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace convert {

// Frames per second as a ratio, so that 29.97 is exactly 30000/1001.
struct FrameRate {
    int numerator = 25;
    int denominator = 1;
    double Value() const { return double(numerator) / denominator; }
    // 29.97, 23.976 and 59.94 become their exact NTSC ratios; other rates keep three decimals.
    static FrameRate FromDouble(double fps);
};

// A mouse click (press and release) at a stage point in pixels, or a key press, at a time. A key is
// held until `until`, or, without it, for one frame of the movie (scripts that poll Key.isDown on
// each frame see it once); KeyUp is its release, made by the conversion.
struct ScheduledInput {
    enum class Kind { Click, Key, KeyUp };
    Kind kind = Kind::Click;
    double seconds = 0;
    double x = 0, y = 0; // Click
    int keyCode = 0;     // Key: Flash's key code (flash/player/Keys.h)
    int ascii = 0;       // Key: the character it types
    std::optional<double> until;
};

struct ConversionOptions {
    QString input;
    QString output;
    Target target = Target::Mp4;
    std::optional<QSize> size;
    std::optional<FrameRate> frameRate;
    enum class Length { OnePass, Duration, Frames, Loops };
    Length length = Length::OnePass;
    double duration = 0;  // Length::Duration, seconds
    long long frames = 0; // Length::Frames
    int loops = 1;        // Length::Loops
    bool sound = true;
    std::vector<ScheduledInput> inputs;
    // Receives every trace() line of the movie's scripts, and a line for each getURL, fscommand or
    // load by URL they ask for (none is carried out).
    std::function<void(const QString&)> trace, notes;
    QString encoder = QStringLiteral("ffmpeg");
};

struct ConversionProgress {
    long long frame = 0;          // frames written
    long long expectedFrames = 0; // best guess of the total
    double speed = 0;             // seconds of output per second of work
    double secondsLeft = -1;      // -1 while unknown
};

struct ConversionResult {
    bool ok = false;
    long long frames = 0;
    double seconds = 0; // length of the output
    QString error;      // when !ok: what went wrong, naming the file
    QStringList notes;  // things worth saying about a complete output
};

constexpr double MaxSoundTailSeconds = 60;
constexpr double MaxDefaultSeconds = 2 * 60 * 60;
// The largest picture side the encoders are given.
constexpr int MaxOutputSide = 8192;
constexpr double MaxFrameRate = 120;

// Checks the options against the movie before anything is written; an empty string when they hold.
QString CheckOptions(const ConversionOptions& options);

// Runs the conversion. progress, when set, is called after every frame; cancel, when set and true,
// stops the conversion (the partial output is removed, the encoder ended).
ConversionResult Convert(const ConversionOptions& options,
                         const std::function<void(const ConversionProgress&)>& progress = {},
                         const std::atomic<bool>* cancel = nullptr);

} // namespace convert

#pragma once
// What each output target of a frame-exact conversion is: its name, how a file name points to it, the
// picture it takes (fixed size and rate for the disc targets, free for the others), the sound rate, and
// the encoder arguments that write it.
//
// The disc targets are written with the encoder's own presets (-target), so their streams and
// multiplex are exactly what that preset gives; they are shown at 4:3.

#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>

namespace convert {

enum class Target { NtscVcd, NtscDvd, PalVcd, PalDvd, Mp4, Webm, Gif, Png, Wav };

struct TargetInfo {
    Target target;
    const char* name;      // as --target takes it
    const char* extension; // with the dot; png outputs are patterns
    QSize fixedSize;       // empty: any size
    int rateNumerator = 0; // fixed frame rate, or 0: any rate
    int rateDenominator = 1;
    int soundRate = 0; // 0: no sound stream
    bool hasVideo = true;
    bool evenSize = false;    // the codec takes even sizes only
    double displayAspect = 0; // width over height as shown; 0: square pixels
};

const TargetInfo& Info(Target target);
std::optional<Target> TargetByName(const QString& name);
// The target a file name asks for by its extension (or a %d pattern for png); none for .mpg, whose
// target is ambiguous, and for unknown extensions.
std::optional<Target> TargetForFile(const QString& fileName);
// "ntsc-vcd, ntsc-dvd, ..." for messages.
QString TargetNames();
// Whether a png output name is a frame pattern: one %d or %0Nd.
bool IsFramePattern(const QString& fileName);

// Encoder arguments after the inputs: codecs, rates and the container, ending with the output file.
// frameRate is the output's frames per second as a rational for the free-rate targets.
QStringList OutputArguments(Target target, const QString& outputFile);

} // namespace convert

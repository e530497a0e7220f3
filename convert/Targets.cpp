#include "convert/Targets.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <array>

namespace convert {

namespace {

constexpr int CdRate = 44100;
constexpr int DvdRate = 48000;
constexpr double Tv = 4.0 / 3.0;

const std::array<TargetInfo, 9> Targets{{
    {Target::NtscVcd, "ntsc-vcd", ".mpg", QSize(352, 240), 30000, 1001, CdRate, true, false, Tv},
    {Target::NtscDvd, "ntsc-dvd", ".mpg", QSize(720, 480), 30000, 1001, DvdRate, true, false, Tv},
    {Target::PalVcd, "pal-vcd", ".mpg", QSize(352, 288), 25, 1, CdRate, true, false, Tv},
    {Target::PalDvd, "pal-dvd", ".mpg", QSize(720, 576), 25, 1, DvdRate, true, false, Tv},
    {Target::Mp4, "mp4", ".mp4", QSize(), 0, 1, DvdRate, true, true, 0},
    {Target::Webm, "webm", ".webm", QSize(), 0, 1, DvdRate, true, true, 0},
    {Target::Gif, "gif", ".gif", QSize(), 0, 1, 0, true, false, 0},
    {Target::Png, "png", ".png", QSize(), 0, 1, 0, true, false, 0},
    {Target::Wav, "wav", ".wav", QSize(), 0, 1, DvdRate, false, false, 0},
}};

} // namespace

const TargetInfo& Info(Target target) {
    return Targets[std::size_t(target)];
}

std::optional<Target> TargetByName(const QString& name) {
    for (const TargetInfo& info : Targets)
        if (name.compare(QLatin1String(info.name), Qt::CaseInsensitive) == 0)
            return info.target;
    return std::nullopt;
}

bool IsFramePattern(const QString& fileName) {
    static const QRegularExpression pattern(QStringLiteral("%0?\\d*d"));
    return QFileInfo(fileName).fileName().count(pattern) == 1;
}

std::optional<Target> TargetForFile(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return IsFramePattern(fileName) ? std::optional(Target::Png) : std::nullopt;
    for (const Target target : {Target::Mp4, Target::Webm, Target::Gif, Target::Wav})
        if (QLatin1String(Info(target).extension).mid(1) == suffix)
            return target;
    return std::nullopt;
}

QString TargetNames() {
    QStringList names;
    for (const TargetInfo& info : Targets)
        names << QLatin1String(info.name);
    return names.join(QLatin1String(", "));
}

QStringList OutputArguments(Target target, const QString& outputFile) {
    QStringList args;
    switch (target) {
    case Target::NtscVcd:
    case Target::NtscDvd:
    case Target::PalVcd:
    case Target::PalDvd:
        args << "-target" << QLatin1String(Info(target).name) << "-aspect"
             << "4:3";
        break;
    case Target::Mp4:
        // The fastest preset keeps a conversion well ahead of real time; the lower CRF gives back what
        // it loses in quality (on a busy cartoon about the SSIM of veryfast at 18, with larger files).
        args << "-c:v"
             << "libx264"
             << "-preset"
             << "ultrafast"
             << "-crf"
             << "16"
             << "-pix_fmt"
             << "yuv420p"
             << "-c:a"
             << "aac"
             << "-b:a"
             << "192k"
             << "-ar" << QString::number(DvdRate) << "-movflags"
             << "+faststart"
             << "-f"
             << "mp4";
        break;
    case Target::Webm:
        args << "-c:v"
             << "libvpx-vp9"
             << "-crf"
             << "32"
             << "-b:v"
             << "0"
             << "-deadline"
             << "realtime"
             << "-cpu-used"
             << "8"
             << "-row-mt"
             << "1"
             << "-pix_fmt"
             << "yuv420p"
             << "-c:a"
             << "libopus"
             << "-b:a"
             << "128k"
             << "-ar" << QString::number(DvdRate) << "-f"
             << "webm";
        break;
    case Target::Gif:
        args << "-f"
             << "gif";
        break;
    case Target::Png:
        args << "-c:v"
             << "png"
             << "-start_number"
             << "0"
             << "-f"
             << "image2";
        break;
    case Target::Wav:
        args << "-c:a"
             << "pcm_s16le"
             << "-ar" << QString::number(Info(target).soundRate) << "-ac"
             << "2"
             << "-f"
             << "wav";
        break;
    }
    args << outputFile;
    return args;
}

} // namespace convert

#include "VideoFixtures.h"

#include "TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>

TStandInForm::TStandInForm(QSize FlashSize) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    resize(FlashSize.width() + 60, FlashSize.height() + 60);
    FPanel = new QWidget(this);
    FPanel->setGeometry(21, 21, FlashSize.width() + 3, FlashSize.height() + 3);
    FFlash = new QWidget(FPanel);
    FFlash->setGeometry(2, 2, FlashSize.width(), FlashSize.height());
}

TAviInfo ProbeAvi(const QString& FileName) {
    const QByteArray json =
        RunProgram(QStringLiteral("ffprobe"), {"-v", "error", "-show_streams", "-of", "json", FileName});
    TAviInfo info;
    for (const QJsonValue& value : QJsonDocument::fromJson(json).object().value("streams").toArray()) {
        const QJsonObject stream = value.toObject();
        if (stream.value("codec_type").toString() == "audio") {
            ++info.AudioStreams;
            continue;
        }
        if (stream.value("codec_type").toString() != "video")
            continue;
        ++info.VideoStreams;
        info.Codec = stream.value("codec_name").toString();
        info.Width = stream.value("width").toInt();
        info.Height = stream.value("height").toInt();
        info.FrameRate = stream.value("r_frame_rate").toString();
        // The header's length: every position, the empty ones included.
        info.Frames = stream.value("nb_frames").toString().toInt();
    }
    return info;
}

std::vector<QImage> DecodeFrames(const QString& FileName) {
    const TAviInfo info = ProbeAvi(FileName);
    const QByteArray raw =
        RunProgram(QStringLiteral("ffmpeg"), {"-v", "error", "-i", FileName, "-vsync", "cfr", "-f",
                                              "rawvideo", "-pix_fmt", "rgb24", "-"});
    std::vector<QImage> frames;
    const qsizetype frameBytes = qsizetype{info.Width} * info.Height * 3;
    for (qsizetype offset = 0; frameBytes > 0 && offset + frameBytes <= raw.size(); offset += frameBytes) {
        QImage frame(info.Width, info.Height, QImage::Format_RGB888);
        for (int y = 0; y < info.Height; ++y)
            std::memcpy(frame.scanLine(y), raw.constData() + offset + qsizetype{y} * info.Width * 3,
                        static_cast<size_t>(info.Width) * 3);
        frames.push_back(frame);
    }
    return frames;
}

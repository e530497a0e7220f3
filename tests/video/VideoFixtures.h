#pragma once
// Shared pieces of the video tests: a stand-in main window with the player's panel and control, and
// reading recorded AVI files back with ffprobe and ffmpeg.

#include "video/scrcam.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

// A window with a panel at (21, 21) holding a "player" widget inset by 2 pixels, as the main window
// holds the player control.
class TStandInForm : public QWidget, public TCameraHost {
public:
    explicit TStandInForm(QSize FlashSize = {160, 120});

    QWidget* CameraForm() const override { return const_cast<TStandInForm*>(this); }
    QWidget* CameraFlashPanel() const override { return FPanel; }
    QWidget* CameraFlash() const override { return FFlash; }

    QWidget* FPanel;
    QWidget* FFlash;
};

struct TAviInfo {
    QString Codec;
    int Width = 0;
    int Height = 0;
    QString FrameRate;
    int Frames = 0;
    int VideoStreams = 0;
    int AudioStreams = 0;
};

// What ffprobe reads of the file; Frames counts every frame position, empty ones included.
TAviInfo ProbeAvi(const QString& FileName);
// Every frame position of the file decoded to RGB images (an empty position repeats the frame
// before it, as players show it).
std::vector<QImage> DecodeFrames(const QString& FileName);

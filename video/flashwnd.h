#pragma once
// The window that marks the screen region being recorded: four corner brackets just outside the
// player's rectangle, on top of everything, never taking focus or mouse input. The brackets are
// filled with the palette's highlight colour.

#include "platform/MMSystem.h"

#include <QRect>
#include <QRegion>
#include <QWidget>

using namespace win; // the platform layer's Windows-style names

class TFlashingWnd : public QWidget {
public:
    // A hidden window owned by Owner (freed with it), placed over FlashScreenRect, the player's
    // rectangle on the screen.
    TFlashingWnd(QWidget* Owner, const QRect& FlashScreenRect);
    ~TFlashingWnd() override;

    // Places the window 8 pixels around the capture rectangle (X, Y, W, H; screen coordinates)
    // and shapes it to the four brackets.
    void FitToRegion(int X, int Y, int W, int H);
    // Takes a colour reference (0x00BBGGRR) and leaves the brackets as they are.
    void SetMarkColor(DWORD Color);

    // The rectangle last fitted, right and bottom inclusive (left, top, right, bottom).
    struct TCaptureRect {
        int left = 0, top = 0, right = 0, bottom = 0;
    };
    TCaptureRect CaptureRect() const { return FCaptureRect; }
    // The shape last handed to the window, in window coordinates; empty before the first fit.
    QRegion Region() const { return FRegion; }

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    TCaptureRect FCaptureRect;
    QRegion FRegion;
};

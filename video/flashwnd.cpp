#include "video/flashwnd.h"

#include <QPainter>

#include <algorithm>
#include <utility>

namespace {

constexpr int Margin = 8;

// A top-level of its owner that no window manager decorates, moves or focuses, and that lets every
// click through to what lies beneath.
constexpr Qt::WindowFlags MarkFlags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                      Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                                      Qt::X11BypassWindowManagerHint;

// The stretch, along a side of Size pixels, cut out of the margin between the two brackets' arms:
// [24, Size - 11) while that is not empty. Below that (Size 35 or less) the arms would close into a
// full frame, so each arm then reaches a third of the hole's length past the hole's edge and the
// cut takes the middle: four L shapes remain, however small, and none reaches into the hole.
std::pair<int, int> CutBetweenArms(int Size) {
    if (Size - 11 > 24)
        return {24, Size - 11};
    const int hole = Size + 1;
    const int reach = hole / 3;
    return {Margin + reach, Margin + hole - reach};
}

// The window's shape for a W x H capture rectangle, in window coordinates: the margin ring, the
// hole one pixel wider and taller than the rectangle, without the stretches between the arms.
QRegion BracketShape(int W, int H) {
    const QRect outer(0, 0, W + 2 * Margin, H + 2 * Margin);
    const QRect hole(QPoint(Margin, Margin), QPoint(W + Margin, H + Margin)); // (8, 8) - (W + 9, H + 9)
    const auto [cutTop, cutBottom] = CutBetweenArms(H);
    const auto [cutLeft, cutRight] = CutBetweenArms(W);
    const QRect rows(0, cutTop, outer.width(), cutBottom - cutTop);
    const QRect columns(cutLeft, 0, cutRight - cutLeft, outer.height());
    return QRegion(outer).subtracted(hole).subtracted(rows).subtracted(columns);
}

} // namespace

TFlashingWnd::TFlashingWnd(QWidget* Owner, const QRect& FlashScreenRect) : QWidget(Owner, MarkFlags) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(FlashScreenRect);
}

TFlashingWnd::~TFlashingWnd() = default;

void TFlashingWnd::FitToRegion(int X, int Y, int W, int H) {
    const int width = std::max(W, 0);
    const int height = std::max(H, 0);
    setGeometry(X - Margin, Y - Margin, width + 2 * Margin, height + 2 * Margin);
    FCaptureRect = {X, Y, X + W - 1, Y + H - 1};
    FRegion = BracketShape(width, height);
    setMask(FRegion);
    // Unmanaged, it stays on top only by being raised again after others were.
    if (isVisible())
        raise();
}

void TFlashingWnd::SetMarkColor(DWORD) {}

// Painted, since an unpainted window shows whatever was beneath or the theme's background: the
// highlight colour is the desktop's own mark for a selection and follows the user's theme.
void TFlashingWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Highlight));
}

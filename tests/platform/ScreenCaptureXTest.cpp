// The real screen backend on a private X server (one 24-bit screen, no window manager).
#include "platform/ScreenCapture.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace win; // the platform layer's Windows-style names

namespace {

class ScreenCaptureXTest : public testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs the X server the test environment starts";
        SetScreenBackend(nullptr);
    }

    // Processes events until Done() holds or a few seconds have passed.
    static bool WaitFor(const std::function<bool()>& Done) {
        QElapsedTimer timer;
        timer.start();
        while (!Done()) {
            if (timer.elapsed() > 5000)
                return false;
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        return true;
    }

    // An unmanaged window filled with Color, shown at Geometry and painted.
    static std::unique_ptr<QWidget> ShowPatch(const QRect& Geometry, QColor Color) {
        auto patch = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint |
                                                            Qt::X11BypassWindowManagerHint);
        QPalette palette = patch->palette();
        palette.setColor(QPalette::Window, Color);
        patch->setPalette(palette);
        patch->setAutoFillBackground(true);
        patch->setGeometry(Geometry);
        patch->show();
        return patch;
    }

    static bool MovePointer(QPoint To) {
        return QProcess::execute(
                   QStringLiteral("xdotool"),
                   {QStringLiteral("mousemove"), QString::number(To.x()), QString::number(To.y())}) == 0;
    }

    static bool HasXdotool() { return !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty(); }
};

bool AllPixelsAre(const QImage& Image, QRgb Color) {
    for (int y = 0; y < Image.height(); ++y)
        for (int x = 0; x < Image.width(); ++x)
            if (Image.pixel(x, y) != Color)
                return false;
    return true;
}

TEST_F(ScreenCaptureXTest, TwentyFourBitScreenHasThirtyTwoBitPixels) {
    EXPECT_EQ(GetScreenBitsPerPixel(), 32);
}

TEST_F(ScreenCaptureXTest, CopiesAWindowsColourOnAnyThread) {
    const QRgb color = qRgb(0x12, 0x80, 0xE0);
    const QRect place(300, 200, 120, 80);
    const auto patch = ShowPatch(place, QColor(color));
    ASSERT_TRUE(WaitFor([&] { return AllPixelsAre(CopyScreenRect(place.x(), place.y(), 120, 80), color); }))
        << "the window never showed its colour";
    const QImage copy = CopyScreenRect(place.x(), place.y(), 120, 80);
    EXPECT_EQ(copy.format(), QImage::Format_RGB32);
    EXPECT_EQ(copy.size(), QSize(120, 80));

    // A recording thread reads while the main thread keeps handling the toolkit's events.
    std::atomic<int> matches{0};
    std::atomic<bool> finished{false};
    std::thread recorder([&] {
        for (int i = 0; i < 20; ++i) {
            matches += AllPixelsAre(CopyScreenRect(place.x(), place.y(), 120, 80), color);
            QPoint point;
            GetCursorPos(&point);
            GetCursorHotspot(&point);
        }
        finished = true;
    });
    WaitFor([&] { return finished.load(); });
    recorder.join();
    EXPECT_EQ(matches.load(), 20);
}

TEST_F(ScreenCaptureXTest, PartsOffTheScreenAreBlack) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const QRgb color = qRgb(0xE0, 0x40, 0x20);
    // A window in the screen's bottom-right corner; the copy starts 20 pixels inside it.
    const auto patch = ShowPatch(QRect(screen.width() - 40, screen.height() - 30, 40, 30), QColor(color));
    const int x = screen.width() - 20, y = screen.height() - 20;
    ASSERT_TRUE(WaitFor([&] { return AllPixelsAre(CopyScreenRect(x, y, 20, 20), color); }));

    const QImage copy = CopyScreenRect(x, y, 60, 50);
    ASSERT_EQ(copy.size(), QSize(60, 50));
    for (int row = 0; row < copy.height(); ++row)
        for (int column = 0; column < copy.width(); ++column)
            ASSERT_EQ(copy.pixel(column, row), column < 20 && row < 20 ? color : qRgb(0, 0, 0))
                << column << "," << row;
    EXPECT_TRUE(AllPixelsAre(CopyScreenRect(-100, -100, 30, 30), qRgb(0, 0, 0)));
}

TEST_F(ScreenCaptureXTest, PointerPositionFollowsTheMouse) {
    if (!HasXdotool())
        GTEST_SKIP() << "xdotool is not installed";
    for (const QPoint target : {QPoint(123, 456), QPoint(789, 321)}) {
        ASSERT_TRUE(MovePointer(target));
        QPoint position;
        EXPECT_TRUE(WaitFor([&] { return GetCursorPos(&position) && position == target; }))
            << "at " << position.x() << "," << position.y();
    }
}

TEST_F(ScreenCaptureXTest, HotspotIsTheCurrentCursors) {
    if (!HasXdotool())
        GTEST_SKIP() << "xdotool is not installed";
    QPoint hotspot;
    EXPECT_TRUE(GetCursorHotspot(&hotspot)) << "the server's own cursor";

    // A window with a cursor of a known hot spot, and the pointer over it.
    const auto patch = ShowPatch(QRect(500, 500, 100, 100), Qt::white);
    QBitmap shape(16, 16);
    shape.fill(Qt::color1);
    patch->setCursor(QCursor(shape, shape, 5, 9));
    ASSERT_TRUE(WaitFor(
        [&] { return patch->isVisible() && AllPixelsAre(CopyScreenRect(540, 540, 4, 4), 0xFFFFFFFFu); }));
    ASSERT_TRUE(MovePointer(QPoint(550, 550)));
    EXPECT_TRUE(WaitFor([&] { return GetCursorHotspot(&hotspot) && hotspot == QPoint(5, 9); }))
        << "got " << hotspot.x() << "," << hotspot.y();
}

} // namespace

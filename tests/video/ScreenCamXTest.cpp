// A real recording on a private X server: a window shows an animation, the camera records its
// player area for 5 s, and the AVI file is read back with ffprobe and ffmpeg.
#include "TestFiles.h"
#include "VideoFixtures.h"

#include "video/flashwnd.h"
#include "video/scrcam.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>

namespace {

// Colours the animation steps through, one per second.
const QColor Steps[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0),
                        QColor(0, 255, 255)};

// The player's stand-in: its left half shows the colour of the current second, its right half
// stays grey.
class TAnimation : public QWidget {
public:
    explicit TAnimation(QWidget* Parent) : QWidget(Parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        connect(&FTimer, &QTimer::timeout, this, [this] { update(); });
        FTimer.start(20);
        FClock.start();
    }
    int Step() const { return static_cast<int>(FClock.elapsed() / 1000) % 5; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(128, 128, 128));
        painter.fillRect(QRect(0, 0, width() / 2, height()), Steps[Step()]);
    }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
};

bool Near(const QColor& A, const QColor& B) {
    return std::abs(A.red() - B.red()) < 40 && std::abs(A.green() - B.green()) < 40 &&
           std::abs(A.blue() - B.blue()) < 40;
}

} // namespace

TEST(ScreenCamXTest, RecordsTheAnimationWithThePointerAndWithoutTheMarks) {
    TStandInForm form(QSize(240, 180));
    delete form.FFlash;
    form.FFlash = new TAnimation(form.FPanel);
    form.FFlash->setGeometry(2, 2, 240, 180);
    form.move(200, 150);
    form.show();
    ASSERT_TRUE(PumpUntil([&] { return form.isVisible() && form.FFlash->isVisible(); }));
    PumpFor(500);
    const QRect area(200 + 21 + 2, 150 + 21 + 2, 240, 180);

    TScreenCam camera(&form);
    ASSERT_EQ(camera.FlashScreenRect(), area);
    EXPECT_EQ(camera.FCaptureBits, 32);
    camera.FShowMarks = 1;
    camera.FTrackRegion = 1;
    // The pointer rests on the right (grey) half.
    const QPoint pointer(area.x() + 180, area.y() + 90);
    QCursor::setPos(pointer);
    PumpFor(200);

    TestDir dir;
    const QString file = dir.path("clip.avi");
    // Start when the animation's second has just begun, so that frame n shows step n / 10.
    auto* animation = static_cast<TAnimation*>(form.FFlash);
    const int first = animation->Step();
    ASSERT_TRUE(PumpUntil([&] { return animation->Step() != first; }, 3000));
    camera.Start(form.FFlash, file);
    PumpFor(5000);
    EXPECT_TRUE(camera.FMarkWindow->isVisible());
    camera.Stop();
    camera.WaitForThreads();
    EXPECT_EQ(camera.FStatus.load(), 2);
    const int startStep = (first + 1) % 5;
    // The arrow is drawn with its corner at the pointer less the current cursor's hot spot.
    QPoint hotspot;
    GetCursorHotspot(&hotspot);
    const QPoint tip = pointer - area.topLeft() - hotspot + camera.FCursorHandle->Hotspot;

    const TAviInfo info = ProbeAvi(file);
    EXPECT_EQ(info.VideoStreams, 1);
    EXPECT_EQ(info.Codec, "msvideo1");
    EXPECT_EQ(info.FrameRate, "10/1");
    EXPECT_EQ(info.Width, 240);
    EXPECT_EQ(info.Height, 180);
    // About 50 positions: the thread's start-up takes a little of the 5 s on a busy machine. Dropped
    // frames (a busy machine's) are counted by the benchmark, not here.
    EXPECT_GE(info.Frames, 44);
    EXPECT_LE(info.Frames, 52);

    const std::vector<QImage> frames = DecodeFrames(file);
    ASSERT_GE(frames.size(), 44u);
    for (size_t n = 0; n < frames.size(); ++n) {
        const QImage& frame = frames[n];
        SCOPED_TRACE(testing::Message() << "frame " << n);
        // Away from the second's edges the left half shows that second's colour (a dropped position
        // repeats an earlier frame of the same second).
        if (n % 10 >= 4 && n % 10 <= 7 && n < 50) {
            EXPECT_TRUE(Near(frame.pixelColor(60, 90), Steps[(startStep + n / 10) % 5]))
                << frame.pixelColor(60, 90).name().toStdString();
        }
        // The right half is grey but for the arrow at the pointer: a black tip, white inside.
        EXPECT_TRUE(Near(frame.pixelColor(220, 20), QColor(128, 128, 128)));
        int black = 0, white = 0;
        for (int y = tip.y(); y < tip.y() + 16; ++y)
            for (int x = tip.x(); x < tip.x() + 10; ++x) {
                black += qGray(frame.pixel(x, y)) < 60;
                white += qGray(frame.pixel(x, y)) > 200;
            }
        EXPECT_GE(black, 10) << "the arrow's outline below and right of its tip";
        EXPECT_GE(white, 10) << "the arrow's fill";
        // The marks lie outside the area: every border pixel is the animation's own.
        for (int x = 0; x < 240; x += 3)
            for (int y : {0, 179})
                ASSERT_TRUE(
                    x >= 120 ? Near(frame.pixelColor(x, y), QColor(128, 128, 128))
                             : std::any_of(std::begin(Steps), std::end(Steps),
                                           [&](const QColor& c) { return Near(frame.pixelColor(x, y), c); }))
                    << "at " << x << "," << y;
    }
}

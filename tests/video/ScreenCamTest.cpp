// The camera against a fake screen: frame blocks, the frame schedule, the grabber's pointer, and
// whole recordings into real AVI files.
#include "TestFiles.h"
#include "VideoFixtures.h"

#include "platform/Dialogs.h"
#include "platform/Vfw.h"
#include "video/flashwnd.h"
#include "video/scrcam.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QStringList>
#include <cstring>
#include <mutex>

using namespace win; // the platform layer's Windows-style names

namespace {

// Collects the message boxes raised meanwhile instead of showing them.
class TMessageBoxRecorder {
public:
    TMessageBoxRecorder() {
        SetMessageBoxHook([this](const QString& Text, const QString& Caption, UINT Type) {
            std::lock_guard<std::mutex> lock(FLock);
            FBoxes << QStringLiteral("%1|%2|%3").arg(Text, Caption).arg(Type, 0, 16);
            return IDOK;
        });
    }
    ~TMessageBoxRecorder() { SetMessageBoxHook(nullptr); }
    QStringList Boxes() {
        std::lock_guard<std::mutex> lock(FLock);
        return FBoxes;
    }

private:
    std::mutex FLock;
    QStringList FBoxes;
};

// A fake 24-bit screen whose player area (once the stand-in form is placed at (100, 50)) is red on
// its left half and blue on its right half.
class ScreenCamTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form.move(100, 50);
        QImage screen(800, 600, QImage::Format_RGB32);
        screen.fill(Qt::darkGray);
        const QRect area(100 + 21 + 2, 50 + 21 + 2, 160, 120);
        QPainter painter(&screen);
        painter.fillRect(area.adjusted(0, 0, -80, 0), QColor(255, 0, 0));
        painter.fillRect(area.adjusted(80, 0, 0, 0), QColor(0, 0, 255));
        painter.end();
        Screen = std::make_shared<TFakeScreen>(screen, 32);
        Screen->SetPointer({0, 0});
        Screen->SetHotspot(QPoint(0, 0));
        SetScreenBackend(Screen);
    }
    void TearDown() override { SetScreenBackend(nullptr); }

    TStandInForm Form;
    std::shared_ptr<TFakeScreen> Screen;
    TestDir Dir;
};

QRgb PixelOf(const void* Frame, int X, int Y) {
    const auto& header = *static_cast<const BITMAPINFOHEADER*>(Frame);
    EXPECT_EQ(header.biBitCount, 32);
    const auto* rows = static_cast<const BYTE*>(Frame) + header.biSize;
    const BYTE* pixel = rows + (header.biHeight - 1 - Y) * DibStride(header.biWidth, 32) + X * 4;
    return qRgb(pixel[2], pixel[1], pixel[0]);
}

} // namespace

TEST(FrameScheduleTest, FramesFollowTheirStartTimes) {
    struct TCase {
        int LastWritten; // -1: nothing written yet
        DWORD Elapsed;
        LONG Number;
        bool Write;
        LONG Dropped;
    };
    const TCase cases[] = {
        {-1, 0, 0, true, 0},    // the first pass is frame 0, always written
        {-1, 3, 0, true, 0},    // ...also when it starts a little late
        {0, 49, 0, false, 0},   // a position is never written twice
        {0, 100, 1, true, 0},   // on time
        {1, 150, 2, true, 0},   // 1.5 rounds to the even 2
        {2, 250, 2, false, 0},  // 2.5 rounds to 2 again: nothing written, nothing dropped
        {1, 320, 3, true, 1},   // one position skipped
        {1, 1049, 10, true, 8}, // a long stall
    };
    for (const TCase& c : cases) {
        TFrameSchedule schedule(100);
        if (c.LastWritten >= 0)
            schedule.Written(c.LastWritten);
        const TFrameSchedule::TPass pass = schedule.Plan(c.Elapsed);
        EXPECT_EQ(pass.FrameNumber, c.Number) << "at " << c.Elapsed;
        EXPECT_EQ(pass.Write, c.Write) << "at " << c.Elapsed;
        EXPECT_EQ(pass.Dropped, c.Dropped) << "at " << c.Elapsed;
    }
}

TEST(FrameBlockTest, PackedLayoutAtEachDepth) {
    struct TCase {
        int Width;
        int Bits;
        DWORD Stride;
        DWORD Colors;
    };
    const TCase cases[] = {
        {7, 8, 8, 256}, {7, 16, 16, 0}, {7, 24, 24, 0}, {7, 32, 28, 0},
        {1, 24, 4, 0},  {1, 32, 4, 0},  {5, 4, 4, 16},
    };
    for (const TCase& c : cases) {
        QImage bitmap(c.Width, 3, QImage::Format_RGB32);
        bitmap.fill(QColor(0, 255, 0));
        HGLOBAL block = MakePackedDIB(bitmap, c.Bits);
        ASSERT_NE(block, nullptr);
        auto* frame = static_cast<BYTE*>(GlobalLock(block));
        const auto& header = *reinterpret_cast<const BITMAPINFOHEADER*>(frame);
        SCOPED_TRACE(testing::Message() << c.Width << " pixels at " << c.Bits << " bits");
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biWidth, c.Width);
        EXPECT_EQ(header.biHeight, 3) << "bottom-up rows";
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, c.Bits);
        EXPECT_EQ(header.biCompression, BI_RGB);
        EXPECT_EQ(header.biSizeImage, c.Stride * 3);
        EXPECT_EQ(header.biClrUsed, c.Colors);
        EXPECT_EQ(GlobalSize(block), 40 + 4 * c.Colors + c.Stride * 3);
        if (c.Bits == 8) {
            // The pixel's index points at a green entry of the table.
            const BYTE index = frame[40 + 4 * 256];
            const auto* entry = frame + 40 + 4 * index;
            EXPECT_EQ(entry[1], 255);
            EXPECT_EQ(entry[0], 0);
            EXPECT_EQ(entry[2], 0);
        }
        if (c.Bits == 24) {
            EXPECT_EQ(frame[40 + 1], 255) << "green of the first pixel";
        }
        void* locked = frame;
        ReleaseFrame(locked);
        EXPECT_EQ(locked, nullptr);
        EXPECT_EQ(GlobalHandle(frame), nullptr) << "released";
    }
}

TEST(FrameBlockTest, UnknownDepthReportsTheMissingBitsAndStillGivesAFrame) {
    TMessageBoxRecorder boxes;
    QImage bitmap(4, 4, QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    HGLOBAL block = MakePackedDIB(bitmap, 12);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(boxes.Boxes(), QStringList{"Error retrieving bitmap bits|Error|0"});
    void* frame = GlobalLock(block);
    ReleaseFrame(frame);
}

TEST(VideoServicesTest, VersionCheckNeedsOnePointTen) {
    EXPECT_TRUE(VideoServicesUsable(0x010A0000));
    EXPECT_TRUE(VideoServicesUsable(0x010AFFFF));
    EXPECT_TRUE(VideoServicesUsable(0x02000000));
    EXPECT_FALSE(VideoServicesUsable(0x0109FFFF));
    EXPECT_FALSE(VideoServicesUsable(0));
    EXPECT_TRUE(VideoServicesUsable(VideoForWindowsVersion())) << "the service here passes its own check";
}

TEST_F(ScreenCamTest, GrabsThePlayerAreaWithTheArrowAtThePointer) {
    TScreenCam camera(&Form);
    EXPECT_EQ(camera.FlashScreenRect(), QRect(123, 73, 160, 120));
    Screen->SetPointer({123 + 40, 73 + 60});
    Screen->SetHotspot(QPoint(0, 0));
    void* frame = camera.GrabFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(PixelOf(frame, 10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(PixelOf(frame, 150, 110), qRgb(0, 0, 255));
    // The arrow's tip is black outline at the pointer; inside it there is white fill.
    EXPECT_EQ(PixelOf(frame, 40, 60), qRgb(0, 0, 0));
    bool white = false;
    for (int y = 60; y < 75; ++y)
        white = white || PixelOf(frame, 42, y) == qRgb(255, 255, 255);
    EXPECT_TRUE(white) << "the arrow's fill";
    ReleaseFrame(frame);

    // The current cursor's hot spot moves the drawn arrow up and left.
    Screen->SetHotspot(QPoint(5, 5));
    frame = camera.GrabFrame();
    EXPECT_EQ(PixelOf(frame, 35, 55), qRgb(0, 0, 0)) << "the tip moved";
    EXPECT_EQ(PixelOf(frame, 40, 55), qRgb(255, 0, 0)) << "beside the tip, nothing drawn";
    ReleaseFrame(frame);

    // Without the cursor switch, or with the pointer away, the frame is the screen alone.
    camera.FDrawCursor = 0;
    frame = camera.GrabFrame();
    EXPECT_EQ(PixelOf(frame, 35, 55), qRgb(255, 0, 0));
    ReleaseFrame(frame);
    camera.FDrawCursor = 1;
    Screen->SetPointer({10, 10});
    frame = camera.GrabFrame();
    for (int y = 0; y < 120; y += 7)
        for (int x = 0; x < 160; x += 7)
            ASSERT_EQ(PixelOf(frame, x, y), x < 80 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    ReleaseFrame(frame);

    // The rectangle is taken afresh at every grab.
    Form.move(110, 50);
    EXPECT_EQ(camera.FlashScreenRect(), QRect(133, 73, 160, 120));
    frame = camera.GrabFrame();
    EXPECT_EQ(PixelOf(frame, 150, 60), qRgb(0x80, 0x80, 0x80)) << "the screen right of the old area";
    ReleaseFrame(frame);
}

TEST_F(ScreenCamTest, StoppedBeforeTheFirstPassGivesAStreamWithoutFrames) {
    TScreenCam camera(&Form);
    QStringList calls;
    camera.OnRecordStart = [&](TScreenCam*) { calls << "start"; };
    camera.OnRecordStop = [&](TScreenCam*) { calls << "stop"; };
    camera.OnRecordError = [&](TScreenCam*) { calls << "error"; };
    const QString file = Dir.path("empty.avi");
    EXPECT_EQ(camera.RecordToFile(nullptr, file), 1);
    EXPECT_EQ(calls, (QStringList{"start", "stop"}));
    EXPECT_EQ(camera.FStatus.load(), 2);
    EXPECT_EQ(camera.FFramesWritten.load(), 0);
    EXPECT_EQ(camera.FWidth.load(), 160);
    const TAviInfo info = ProbeAvi(file);
    EXPECT_EQ(info.VideoStreams, 1);
    EXPECT_EQ(info.Frames, 0);
}

TEST_F(ScreenCamTest, RecordsUntilStoppedAndTheFileKeepsRealTime) {
    TScreenCam camera(&Form);
    int progress = 0;
    camera.OnRecordProgress = [&](TScreenCam*) { ++progress; };
    const QString file = Dir.path("clip.avi");
    camera.Start(Form.FFlash, file);
    camera.Start(Form.FFlash, file); // a second start while recording does nothing
    EXPECT_TRUE(camera.FRecording.load());
    PumpFor(1500);
    ASSERT_EQ(camera.FStatus.load(), 1);
    EXPECT_TRUE(camera.FMarkWindow->isVisible()) << "marks shown while recording";
    camera.Stop();
    ASSERT_TRUE(PumpUntil([&] { return camera.FThread.load() == nullptr; }));
    camera.WaitForThreads();
    EXPECT_FALSE(camera.FRecording.load());
    EXPECT_FALSE(camera.FMarkWindow->isVisible()) << "marks hidden afterwards";
    EXPECT_EQ(camera.FStatus.load(), 2);
    EXPECT_GE(progress, 2);

    const TAviInfo info = ProbeAvi(file);
    EXPECT_EQ(info.Codec, "msvideo1");
    EXPECT_EQ(info.FrameRate, "10/1");
    EXPECT_EQ(info.Width, 160);
    EXPECT_EQ(info.Height, 120);
    // About 15 positions; the thread's start-up takes a share of the time on a loaded machine.
    EXPECT_GE(info.Frames, 8);
    EXPECT_LE(info.Frames, 17);
    // Every position up to the last frame is in the file, the dropped ones as empty frames.
    EXPECT_EQ(info.Frames, camera.FCurrentFrame.load() + 1);
    EXPECT_EQ(camera.FFramesWritten.load() + camera.FDroppedFrames.load(), camera.FCurrentFrame.load() + 1);
    const std::vector<QImage> frames = DecodeFrames(file);
    ASSERT_FALSE(frames.empty());
    const QColor left = frames.back().pixelColor(20, 60);
    const QColor right = frames.back().pixelColor(140, 60);
    EXPECT_GT(left.red(), 200);
    EXPECT_LT(left.blue(), 60);
    EXPECT_GT(right.blue(), 200);
    EXPECT_LT(right.red(), 60);
}

TEST_F(ScreenCamTest, AviFailureEndsTheRecordingWithItsMessage) {
    TMessageBoxRecorder boxes;
    TScreenCam camera(&Form);
    bool error = false;
    camera.OnRecordError = [&](TScreenCam*) { error = true; };
    camera.Start(Form.FFlash, Dir.path("missing-folder/clip.avi"));
    ASSERT_TRUE(PumpUntil([&] { return camera.FThread.load() == nullptr; }));
    camera.WaitForThreads();
    EXPECT_TRUE(error);
    EXPECT_EQ(camera.FStatus.load(), 3);
    EXPECT_FALSE(camera.FRecording.load()) << "the next Start works";
    EXPECT_EQ(boxes.Boxes(), QStringList{"Error Creating AVI file|Error|30"});

    camera.Start(Form.FFlash, Dir.path("clip.avi"));
    EXPECT_TRUE(camera.FRecording.load());
    camera.Stop();
    camera.WaitForThreads();
    EXPECT_EQ(camera.FStatus.load(), 2);
}

TEST_F(ScreenCamTest, UnknownCompressorFailsAtTheCompressedStream) {
    TMessageBoxRecorder boxes;
    TScreenCam camera(&Form);
    camera.FCodecFourCC = MakeFourCC('X', 'Y', 'Z', '0');
    camera.FRecording = 1;
    EXPECT_EQ(camera.RecordToFile(nullptr, Dir.path("clip.avi")), 0);
    EXPECT_EQ(camera.FStatus.load(), 3);
    EXPECT_EQ(boxes.Boxes(), QStringList{"Error Creating AVI file|Error|30"});
}

TEST_F(ScreenCamTest, DestroyingTheCameraWhileRecordingCompletesTheFile) {
    const QString file = Dir.path("clip.avi");
    {
        TScreenCam camera(&Form);
        camera.Start(Form.FFlash, file);
        PumpFor(700);
    }
    const TAviInfo info = ProbeAvi(file);
    EXPECT_EQ(info.VideoStreams, 1);
    EXPECT_NEAR(info.Frames, 7, 2);
}

TEST_F(ScreenCamTest, StopOnAnIdleCameraLeavesItIdle) {
    TScreenCam camera(&Form);
    camera.Stop();
    EXPECT_FALSE(camera.FRecording.load());
    EXPECT_EQ(camera.FThread.load(), nullptr);
    EXPECT_EQ(camera.FStatus.load(), 0);
    EXPECT_FALSE(camera.FMarkWindow->isVisible());
}

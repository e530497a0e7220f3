// The player control as the main window uses it: loading, playing by itself, pausing, seeking, and
// passing the mouse and keys on to the movie's buttons.
#include "SwfWriter.h"
#include "TestFiles.h"
#include "app/ShockwaveFlashObjects.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {
// A 10-frame movie at 30 fps on a 200×100 px stage: frame n shows a red square at x = 10·n px on
// white, so the frame shown can be read off the picture.
QByteArray CountingMovie() {
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 2000}).FrameRate(30);
    movie.Add(SetBackgroundColorTag({255, 255, 255, 255}));
    movie.Add(DefineShape(ShapeDefinition()
                              .Id(1)
                              .Bounds({0, 400, 0, 400})
                              .Fills({Solid({255, 0, 0, 255})})
                              .Records(ShapeRecords().Fill0(1).Box(0, 0, 400, 400))));
    for (int frame = 0; frame < 10; ++frame) {
        PlaceObject place = Place(1, 1);
        place.move = frame > 0;
        if (frame > 0)
            place.characterId.reset();
        place.matrix = Matrix{1, 0, 0, 1, double(frame * 200), 0};
        movie.Add(PlaceObjectTag(place));
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

// The frame shown, read from the red square's left edge (or -1 when none is seen).
int FrameShown(TShockwaveFlash& Control) {
    const QImage image = Control.Snapshot();
    for (int x = 0; x < image.width(); ++x) {
        const QRgb pixel = image.pixel(x, 10);
        if (qRed(pixel) > 200 && qGreen(pixel) < 60)
            return x / 10;
    }
    return -1;
}

class ShockwaveFlash : public ::testing::Test {
protected:
    void SetUp() override {
        Control.resize(200, 100);
        WriteWholeFile(Dir.path("count.swf"), CountingMovie());
    }
    TestDir Dir;
    TShockwaveFlash Control;
};
} // namespace

TEST_F(ShockwaveFlash, LoadingIsDoneWhenTheMovieIsSetAndPlaysByItself) {
    EXPECT_TRUE(Control.GetMovie().isEmpty());
    EXPECT_EQ(Control.TotalFrames(), 0);
    Control.SetMovie(Dir.path("count.swf"));
    EXPECT_EQ(Control.GetMovie(), Dir.path("count.swf"));
    EXPECT_EQ(Control.TotalFrames(), 10); // at once
    EXPECT_EQ(Control.GetPlaying(), -1);
    EXPECT_EQ(Control.FrameNum(), 0);
    EXPECT_EQ(FrameShown(Control), 0);
    // It plays and loops at its end without being told.
    ASSERT_TRUE(PumpUntil([&] { return Control.FrameNum() >= 5; }, 3000));
    ASSERT_TRUE(PumpUntil([&] { return Control.FrameNum() < 3; }, 3000));
}

TEST_F(ShockwaveFlash, StopPausesAndGotoFrameShowsThatFrame) {
    Control.SetMovie(Dir.path("count.swf"));
    Control.SetPlaying(0);
    EXPECT_EQ(Control.GetPlaying(), 0);
    Control.GotoFrame(7);
    EXPECT_EQ(Control.FrameNum(), 7);
    EXPECT_EQ(FrameShown(Control), 7);
    PumpFor(200);
    EXPECT_EQ(Control.FrameNum(), 7); // paused stays put
    Control.GotoFrame(2);
    EXPECT_EQ(FrameShown(Control), 2);
    Control.SetPlaying(-1);
    EXPECT_EQ(Control.GetPlaying(), -1);
    ASSERT_TRUE(PumpUntil([&] { return Control.FrameNum() > 3; }, 3000));
    Control.Stop();
    const int stoppedAt = Control.FrameNum();
    PumpFor(150);
    EXPECT_EQ(Control.FrameNum(), stoppedAt);
    Control.Play();
    ASSERT_TRUE(PumpUntil([&] { return Control.FrameNum() != stoppedAt; }, 3000));
}

TEST_F(ShockwaveFlash, PlaybackKeepsRealTime) {
    Control.SetMovie(Dir.path("count.swf"));
    Control.Stop();
    Control.GotoFrame(0);
    Control.Play();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(PumpUntil([&] { return Control.FrameNum() >= 9; }, 3000));
    // Nine frames at 30 fps take 300 ms; the clock does not drift late.
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LE(clock.elapsed(), 700);
}

TEST_F(ShockwaveFlash, AnUnusableFileLeavesNoMovie) {
    struct Case {
        const char* Name;
        QByteArray Bytes;
    };
    const Case cases[] = {
        {"empty.swf", QByteArray()},
        {"text.swf", QByteArray("just some text")},
        {"truncated.swf", CountingMovie().left(12)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteWholeFile(Dir.path(c.Name), c.Bytes);
        Control.SetMovie(Dir.path(c.Name));
        EXPECT_EQ(Control.TotalFrames(), 0);
        EXPECT_FALSE(Control.LoadError().isEmpty());
        Control.Play(); // harmless without a movie
        Control.GotoFrame(3);
        EXPECT_EQ(Control.FrameNum(), 0);
    }
    Control.SetMovie(Dir.path("missing.swf"));
    EXPECT_EQ(Control.TotalFrames(), 0);
    Control.SetMovie(Dir.path("count.swf")); // a good one after bad ones
    EXPECT_EQ(Control.TotalFrames(), 10);
}

TEST_F(ShockwaveFlash, TotalFramesIsTheHeadersCountNotTheFramesPresent) {
    // The counting movie holds 10 frames; only its header's count changes.
    for (const int declared : {24, 4}) {
        SCOPED_TRACE(declared);
        QByteArray movie = CountingMovie();
        ASSERT_TRUE(movie.startsWith("FWS"));
        // The count follows the stage rectangle (5 bits of field size, then 4 fields) and the rate.
        const int fieldBits = quint8(movie[8]) >> 3;
        const int count = 8 + (5 + 4 * fieldBits + 7) / 8 + 2;
        ASSERT_EQ(quint8(movie[count]), 10);
        movie[count] = char(declared & 0xFF);
        movie[count + 1] = char(declared >> 8);
        WriteWholeFile(Dir.path("declared.swf"), movie);
        Control.SetMovie(Dir.path("declared.swf"));
        EXPECT_EQ(Control.TotalFrames(), declared);
    }
}

TEST_F(ShockwaveFlash, AStreamSoundMovieStillPlaysWithoutASoundServer) {
    // 20 frames at 20 fps, each with a block of PCM stream sound; the test programs reach no server.
    SoundFormat format;
    format.codec = 3;
    format.rateCode = 1; // 11025 Hz
    format.is16Bit = true;
    SoundStreamHead head;
    head.playbackFormat = format;
    head.streamFormat = format;
    head.samplesPerBlock = 551;
    MovieBuilder movie;
    movie.Stage({0, 2000, 0, 2000}).FrameRate(20);
    movie.Add(SoundStreamHeadTag(head));
    for (int frame = 0; frame < 20; ++frame) {
        movie.Add(SoundStreamBlockTag(QByteArray(551 * 2, '\x10')));
        movie.Add(ShowFrame());
    }
    WriteWholeFile(Dir.path("stream.swf"), movie.Build());
    Control.SetMovie(Dir.path("stream.swf"));
    ASSERT_EQ(Control.TotalFrames(), 20);
    ASSERT_TRUE(PumpUntil([&] { return Control.FrameNum() >= 10; }, 3000));
}

// A movie that waits at its first frame on a button (red, green under the mouse) whose release plays
// it: a click in the control starts it.
TEST_F(ShockwaveFlash, AClickOnAPlayButtonStartsTheMovie) {
    const std::vector<ButtonRecord> records = {{ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, {}, {}},
                                               {ButtonRecord::Over | ButtonRecord::Down, 2, 1, {}, {}}};
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 2000}).FrameRate(30);
    movie.Add(SetBackgroundColorTag({255, 255, 255, 255}));
    for (const auto& [id, color] : {std::pair{1, Rgba{255, 0, 0, 255}}, std::pair{2, Rgba{0, 255, 0, 255}}})
        movie.Add(DefineShape(ShapeDefinition()
                                  .Id(std::uint16_t(id))
                                  .Bounds({0, 1000, 0, 1000})
                                  .Fills({Solid(color)})
                                  .Records(ShapeRecords().Fill0(1).Box(0, 0, 1000, 1000))));
    movie.Add(DefineButton2(5, records, {{OverDownToOverUp, ActionCode().Play()}}));
    PlaceObject place = Place(5, 1);
    place.matrix = Matrix{1, 0, 0, 1, 1000, 500}; // pixels 50..100 across, 25..75 down
    movie.Add(PlaceObjectTag(place)).Add(DoAction(ActionCode().Stop())).Add(ShowFrame());
    for (int frame = 1; frame < 10; ++frame)
        movie.Add(ShowFrame());
    WriteWholeFile(Dir.path("button.swf"), movie.Build());
    Control.SetMovie(Dir.path("button.swf"));
    ASSERT_EQ(Control.TotalFrames(), 10);
    EXPECT_EQ(Control.GetPlaying(), 0);
    EXPECT_EQ(Control.Snapshot().pixel(75, 50), qRgb(255, 0, 0));

    auto send = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held) {
        const QPointF at(75, 50);
        QMouseEvent event(type, at, Control.mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&Control, &event);
    };
    send(QEvent::MouseMove, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(Control.Snapshot().pixel(75, 50), qRgb(0, 255, 0));
    send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(Control.GetPlaying(), 0);
    send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(Control.GetPlaying(), -1);
    ASSERT_TRUE(PumpUntil([&] { return Control.FrameNum() >= 3; }, 3000));
}

// A movie that waits at its first frame on a button whose Enter key plays it and Escape stops it.
TEST_F(ShockwaveFlash, AKeyPressReachesTheButtonsWaitingForIt) {
    const std::vector<ButtonRecord> records = {{ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, {}, {}}};
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 2000}).FrameRate(30);
    movie.Add(DefineShape(ShapeDefinition()
                              .Id(1)
                              .Fills({Solid({255, 0, 0, 255})})
                              .Records(ShapeRecords().Fill0(1).Box(0, 0, 1000, 1000))));
    movie.Add(DefineButton2(
        5, records,
        {{std::uint16_t(19 << 9), ActionCode().Stop()}, {std::uint16_t(13 << 9), ActionCode().Play()}}));
    movie.Add(PlaceObjectTag(Place(5, 1))).Add(DoAction(ActionCode().Stop())).Add(ShowFrame());
    for (int frame = 1; frame < 10; ++frame)
        movie.Add(ShowFrame());
    WriteWholeFile(Dir.path("keys.swf"), movie.Build());
    Control.SetMovie(Dir.path("keys.swf"));
    ASSERT_EQ(Control.GetPlaying(), 0);

    auto press = [&](Qt::Key key, const QString& text, QEvent::Type type = QEvent::KeyPress) {
        QKeyEvent event(type, key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(&Control, &event);
        return event.isAccepted();
    };
    EXPECT_FALSE(press(Qt::Key_Print, {})); // no key code: left to the window
    EXPECT_TRUE(press(Qt::Key_Return, QStringLiteral("\r")));
    EXPECT_TRUE(press(Qt::Key_Return, QStringLiteral("\r"), QEvent::KeyRelease)); // the movie hears it too
    EXPECT_EQ(Control.GetPlaying(), -1);
    EXPECT_TRUE(press(Qt::Key_Escape, QStringLiteral("\x1b")));
    EXPECT_EQ(Control.GetPlaying(), 0);
}

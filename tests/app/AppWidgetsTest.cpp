// The format dialog as the main window runs it, the seek bar with the handlers that tie it to the
// player, and the anchored placement of the main window's components.
#include "SwfWriter.h"
#include "TestFiles.h"
#include "app/AnchorLayout.h"
#include "app/OptionUnit.h"
#include "app/RadioGroup.h"
#include "app/ShockwaveFlashObjects.h"
#include "app/TbarB.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <set>

using namespace flash::writer;

namespace {
// --- The format dialog ---

void PressKey(QWidget& Window, int Key) {
    QWidget* target = QApplication::focusWidget();
    if (!target || target->window() != &Window)
        target = &Window;
    QKeyEvent press(QEvent::KeyPress, Key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

// Runs the dialog as the main window does; Answer acts on it once it is up. A dialog left open is
// closed after a while, so a fault fails the test instead of hanging it.
bool RunAnswered(TOptionDlg& Dialog, int& Audio, int& Video, int& Method,
                 const std::function<void(TOptionDlg&)>& Answer) {
    QTimer::singleShot(0, &Dialog, [&] { Answer(Dialog); });
    QTimer::singleShot(5000, &Dialog, [&] {
        if (Dialog.isVisible()) {
            ADD_FAILURE() << "the dialog stayed open";
            Dialog.done(-1);
        }
    });
    return RunOptionDialog(Dialog, Audio, Video, Method);
}

// Each button's (column, row), read off where the layout put it.
std::vector<std::pair<int, int>> Cells(const TRadioGroup& Group) {
    std::set<int> xs, ys;
    for (int i = 0; i < Group.Items().size(); ++i) {
        xs.insert(Group.Button(i)->x());
        ys.insert(Group.Button(i)->y());
    }
    const auto rank = [](const std::set<int>& Values, int Value) {
        return int(std::distance(Values.begin(), Values.find(Value)));
    };
    std::vector<std::pair<int, int>> cells;
    for (int i = 0; i < Group.Items().size(); ++i)
        cells.emplace_back(rank(xs, Group.Button(i)->x()), rank(ys, Group.Button(i)->y()));
    return cells;
}

TEST(OptionDialog, ClosingWithOkTakesTheChoiceAndAnyOtherCloseKeepsTheOptions) {
    struct Case {
        const char* Name;
        std::function<void(TOptionDlg&)> Close;
        bool Taken;
    };
    const Case cases[] = {
        {"OK button", [](TOptionDlg& D) { D.OKBtn->click(); }, true},
        // Enter from a radio button, where no push button has the focus to make it the default.
        {"Enter",
         [](TOptionDlg& D) {
             D.VideoRadioGroup->Button(3)->setFocus();
             PressKey(D, Qt::Key_Return);
         },
         true},
        {"keypad Enter", [](TOptionDlg& D) { PressKey(D, Qt::Key_Enter); }, true},
        {"Cancel button", [](TOptionDlg& D) { D.CancelBtn->click(); }, false},
        {"Escape", [](TOptionDlg& D) { PressKey(D, Qt::Key_Escape); }, false},
        {"close box", [](TOptionDlg& D) { D.close(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TOptionDlg dialog;
        int audio = 0, video = 0, method = 0;
        const bool ok = RunAnswered(dialog, audio, video, method, [&](TOptionDlg& D) {
            D.AudioRadioGroup->Button(1)->click();  // "No Audio"
            D.VideoRadioGroup->Button(3)->click();  // "PAL-DVD"
            D.MethodRadioGroup->Button(1)->click(); // "Frame-exact"
            c.Close(D);
        });
        EXPECT_EQ(ok, c.Taken);
        EXPECT_EQ(audio, c.Taken ? 1 : 0);
        EXPECT_EQ(video, c.Taken ? 3 : 0);
        EXPECT_EQ(method, c.Taken ? 1 : 0);

        // The next opening shows the options as they are, not what was last clicked.
        int shownAudio = -1, shownVideo = -1, shownMethod = -1;
        RunAnswered(dialog, audio, video, method, [&](TOptionDlg& D) {
            shownAudio = D.AudioRadioGroup->ItemIndex();
            shownVideo = D.VideoRadioGroup->ItemIndex();
            shownMethod = D.MethodRadioGroup->ItemIndex();
            PressKey(D, Qt::Key_Escape);
        });
        EXPECT_EQ(shownAudio, audio);
        EXPECT_EQ(shownVideo, video);
        EXPECT_EQ(shownMethod, method);
    }
}

TEST(OptionDialog, ShowsTheDesignedWindow) {
    TOptionDlg dialog;
    EXPECT_EQ(dialog.AudioRadioGroup->ItemIndex(), 0);
    EXPECT_EQ(dialog.VideoRadioGroup->ItemIndex(), 0);
    dialog.show();
    QCoreApplication::processEvents();

    EXPECT_EQ(dialog.windowTitle(), "Options");
    const double scale = dialog.screen()->logicalDotsPerInch() / 96;
    const QSize client(int(std::lround(294 * scale)), int(std::lround(306 * scale)));
    EXPECT_EQ(dialog.size(), client);
    EXPECT_EQ(dialog.minimumSize(), client);
    EXPECT_EQ(dialog.maximumSize(), client);
    const QPoint offCentre = dialog.frameGeometry().center() - dialog.screen()->geometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);

    // Items fill a column before the next one: the disc targets in the first, the files in the second.
    using Cells_ = std::vector<std::pair<int, int>>;
    EXPECT_EQ(Cells(*dialog.AudioRadioGroup), (Cells_{{0, 0}, {1, 0}}));
    EXPECT_EQ(Cells(*dialog.VideoRadioGroup),
              (Cells_{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}, {1, 2}}));
    EXPECT_EQ(dialog.VideoRadioGroup->Items(),
              QStringList({"NTSC-VCD", "NTSC-DVD", "PAL-VCD", "PAL-DVD", "MP4", "WebM", "GIF"}));
    EXPECT_EQ(Cells(*dialog.MethodRadioGroup), (Cells_{{0, 0}, {0, 1}}));
    EXPECT_EQ(dialog.MethodRadioGroup->ItemIndex(), 0);
    for (const TRadioGroup* group : {dialog.AudioRadioGroup, dialog.VideoRadioGroup, dialog.MethodRadioGroup})
        for (int i = 0; i < group->Items().size(); ++i)
            EXPECT_TRUE(group->rect().contains(group->Button(i)->geometry()))
                << group->Button(i)->text().toStdString();

    // Tab order: OK, Cancel, the audio group, the video group, the method group.
    std::vector<QWidget*> expected = {dialog.OKBtn, dialog.CancelBtn};
    for (const TRadioGroup* group : {dialog.AudioRadioGroup, dialog.VideoRadioGroup, dialog.MethodRadioGroup})
        for (int i = 0; i < group->Items().size(); ++i)
            expected.push_back(group->Button(i));
    std::vector<QWidget*> chain;
    for (QWidget* w = dialog.OKBtn; chain.size() < expected.size(); w = w->nextInFocusChain())
        if (w->focusPolicy() != Qt::NoFocus)
            chain.push_back(w);
    EXPECT_EQ(chain, expected);
}

TEST(RadioGroup, SelectionIsClampedAndCanBeCleared) {
    TRadioGroup group("Video", {"a", "b", "c", "d", "e"}, 2);
    EXPECT_EQ(group.ItemIndex(), -1);
    group.SetItemIndex(2);
    EXPECT_EQ(group.ItemIndex(), 2);
    group.SetItemIndex(9);
    EXPECT_EQ(group.ItemIndex(), 4);
    group.SetItemIndex(-1);
    EXPECT_EQ(group.ItemIndex(), -1);
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(group.Button(i)->isChecked());
    group.Button(1)->click();
    EXPECT_EQ(group.ItemIndex(), 1);
    // Five items in two columns: three in the first, two in the second.
    group.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(Cells(group), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}}));
}

// --- The seek bar ---

// Sends a mouse event at Fraction of the bar's width, half-way down.
void Mouse(TMbar& Bar, QEvent::Type Type, double Fraction, Qt::MouseButton Button = Qt::LeftButton) {
    const QPointF local(Fraction * Bar.width(), Bar.height() / 2.0);
    const bool move = Type == QEvent::MouseMove;
    const Qt::MouseButtons held =
        Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Button);
    QMouseEvent event(Type, local, Bar.mapToGlobal(local), move ? Qt::NoButton : Button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(&Bar, &event);
}

void Click(TMbar& Bar, double Fraction) {
    Mouse(Bar, QEvent::MouseButtonPress, Fraction);
    Mouse(Bar, QEvent::MouseButtonRelease, Fraction);
}

// Empty frames at 30 fps; the player's frame number tells where it is.
QByteArray BlankMovie(int Frames) {
    MovieBuilder movie;
    movie.Stage({0, 2000, 0, 2000}).FrameRate(30);
    movie.Add(SetBackgroundColorTag({255, 255, 255, 255}));
    for (int frame = 0; frame < Frames; ++frame)
        movie.Add(ShowFrame());
    return movie.Build();
}

class SeekBar : public ::testing::Test {
protected:
    void SetUp() override {
        Bar.resize(500, 27);
        Bar.show();
        ConnectSeekBar(Bar, Flash, WasPlaying);
    }
    // Loads a movie as "Open SWF" does; it starts playing by itself.
    void Load(int Frames) {
        WriteWholeFile(Dir.path("movie.swf"), BlankMovie(Frames));
        Flash.SetMovie(Dir.path("movie.swf"));
        ASSERT_EQ(Flash.TotalFrames(), Frames);
        Bar.SetMax(Flash.TotalFrames());
        Bar.SetPosition(0);
    }
    TestDir Dir;
    TShockwaveFlash Flash;
    TMbar Bar;
    bool WasPlaying = false;
};

TEST_F(SeekBar, ButtonEventsComeBeforeThePressAndAfterTheRelease) {
    struct Entry {
        const char* Event;
        int Position;
        bool SliderDown;
    };
    std::vector<Entry> log;
    const auto record = [&](const char* Event) {
        log.push_back({Event, Bar.GetPosition(), Bar.isSliderDown()});
    };
    Bar.OnLeftButtonDown = [&](TMbar*, QMouseEvent*) { record("down"); };
    Bar.OnChange = [&](TMbar*) { record("change"); };
    Bar.OnLeftButtonUp = [&](TMbar*, QMouseEvent*) { record("up"); };

    Mouse(Bar, QEvent::MouseButtonPress, 0.8);
    Mouse(Bar, QEvent::MouseMove, 0.5);
    Mouse(Bar, QEvent::MouseButtonRelease, 0.5);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_STREQ(log[0].Event, "down");
    EXPECT_EQ(log[0].Position, 0); // not moved yet
    EXPECT_FALSE(log[0].SliderDown);
    EXPECT_STREQ(log[1].Event, "change");
    EXPECT_NEAR(log[1].Position, 80, 4);
    EXPECT_STREQ(log[2].Event, "change");
    EXPECT_NEAR(log[2].Position, 50, 4);
    EXPECT_STREQ(log[3].Event, "up");
    EXPECT_EQ(log[3].Position, log[2].Position);
    EXPECT_FALSE(log[3].SliderDown); // the bar has let go already

    // Other buttons report nothing; a double click is two presses and two releases.
    log.clear();
    Mouse(Bar, QEvent::MouseButtonPress, 0.5, Qt::RightButton);
    Mouse(Bar, QEvent::MouseButtonRelease, 0.5, Qt::RightButton);
    EXPECT_TRUE(log.empty());
    Click(Bar, 0.5);
    Mouse(Bar, QEvent::MouseButtonDblClick, 0.5);
    Mouse(Bar, QEvent::MouseButtonRelease, 0.5);
    std::vector<std::string> events;
    for (const Entry& e : log)
        events.push_back(e.Event);
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up", "down", "up"}));
}

TEST_F(SeekBar, ProgramMovesFireOnChangeOnlyForANewPosition) {
    int changes = 0;
    Bar.OnChange = [&](TMbar*) { ++changes; };
    Bar.SetPosition(5);
    EXPECT_EQ(changes, 1);
    Bar.SetPosition(5);
    EXPECT_EQ(changes, 1);
}

TEST_F(SeekBar, AClickPutsTheThumbUnderThePointer) {
    struct Case {
        int Max;
        double Fraction;
        int Expected;
        int Tolerance;
    };
    const Case cases[] = {
        {100, 0.05, 5, 4}, {100, 0.5, 50, 4}, {100, 0.95, 95, 4}, {1, 0.1, 0, 0}, {1, 0.9, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Max << " at " << c.Fraction);
        Bar.SetMax(c.Max);
        Bar.SetPosition(c.Max - c.Expected); // somewhere else first
        Click(Bar, c.Fraction);
        EXPECT_NEAR(Bar.GetPosition(), c.Expected, c.Tolerance);
    }
}

TEST_F(SeekBar, DraggingShowsTheFramesAndTheReleaseResumesOnlyAPlayingMovie) {
    for (const bool playing : {false, true}) {
        SCOPED_TRACE(playing ? "playing" : "stopped");
        Load(20);
        Flash.SetPlaying(playing ? -1 : 0);

        Mouse(Bar, QEvent::MouseButtonPress, 0.3);
        EXPECT_EQ(WasPlaying, playing);
        EXPECT_EQ(Flash.GetPlaying(), 0);
        EXPECT_GT(Bar.GetPosition(), 0);
        EXPECT_EQ(Flash.FrameNum(), Bar.GetPosition());
        PumpFor(150);
        EXPECT_EQ(Flash.FrameNum(), Bar.GetPosition()); // paused while held

        Mouse(Bar, QEvent::MouseMove, 0.5);
        const int released = Bar.GetPosition();
        EXPECT_GT(released, 3);
        EXPECT_EQ(Flash.FrameNum(), released);
        Mouse(Bar, QEvent::MouseButtonRelease, 0.5);

        EXPECT_EQ(Flash.GetPlaying(), playing ? -1 : 0);
        EXPECT_EQ(Flash.FrameNum(), released);
        if (playing) {
            EXPECT_TRUE(PumpUntil([&] { return Flash.FrameNum() > released; }, 3000));
        } else {
            PumpFor(150);
            EXPECT_EQ(Flash.FrameNum(), released);
        }
    }
}

TEST_F(SeekBar, ThePositionSeeksOnlyWhileTheMovieIsPaused) {
    Load(20);
    Bar.SetPosition(7); // as the timer does during playback
    EXPECT_EQ(Flash.GetPlaying(), -1);
    EXPECT_EQ(Flash.FrameNum(), 0);

    Flash.SetPlaying(0);
    Bar.SetPosition(12);
    EXPECT_EQ(Flash.FrameNum(), 12);
    EXPECT_EQ(Flash.GetPlaying(), 0);
}

TEST_F(SeekBar, WithoutAMovieTheThumbMovesAndThePlayerIsLeftAlone) {
    WriteWholeFile(Dir.path("bad.swf"), "not a movie");
    for (const QString& movie : {QString(), Dir.path("bad.swf")}) {
        SCOPED_TRACE(movie.toStdString());
        Flash.SetMovie(movie);
        Bar.SetPosition(0);
        WasPlaying = true;
        Mouse(Bar, QEvent::MouseButtonPress, 0.6);
        EXPECT_TRUE(WasPlaying); // the press handler did nothing
        Mouse(Bar, QEvent::MouseMove, 0.7);
        Mouse(Bar, QEvent::MouseButtonRelease, 0.7);
        EXPECT_NEAR(Bar.GetPosition(), 70, 4);
        EXPECT_EQ(Flash.GetMovie(), movie);
        EXPECT_EQ(Flash.TotalFrames(), 0);
    }
}

TEST_F(SeekBar, AOneFrameMovieGivesTheRangeZeroToOne) {
    Load(1);
    EXPECT_EQ(Bar.GetMin(), 0);
    EXPECT_EQ(Bar.GetMax(), 1);
    Flash.SetPlaying(0);
    // The end of the bar is one past the last frame; the player stays on its only frame.
    Click(Bar, 0.95);
    EXPECT_EQ(Bar.GetPosition(), 1);
    EXPECT_EQ(Flash.FrameNum(), 0);
    Click(Bar, 0.05);
    EXPECT_EQ(Bar.GetPosition(), 0);
    EXPECT_EQ(Flash.FrameNum(), 0);
    EXPECT_EQ(Flash.GetPlaying(), 0);
}
// --- Anchored placement ---

TEST(AnchorLayout, StretchesMovesOrKeepsEachWidgetByItsAnchors) {
    const TAnchorLayout layout(QSize(600, 500));
    const QRect design(20, 30, 100, 40);
    const Qt::Edges all = Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge;
    struct Case {
        Qt::Edges Anchors;
        QSize Size;
        QRect Expected;
    };
    const Case cases[] = {
        {all, QSize(600, 500), design},
        {all, QSize(650, 480), QRect(20, 30, 150, 20)},
        {Qt::LeftEdge | Qt::TopEdge, QSize(650, 480), design},
        {Qt::RightEdge | Qt::BottomEdge, QSize(650, 480), QRect(70, 10, 100, 40)},
        {Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge, QSize(650, 480), QRect(20, 10, 150, 40)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(layout.Place(design, c.Anchors, c.Size), c.Expected) << int(c.Anchors);

    QWidget window;
    auto* child = new QWidget(&window);
    TAnchorLayout placed(QSize(600, 500));
    placed.Add(child, design, Qt::RightEdge | Qt::BottomEdge);
    EXPECT_EQ(child->geometry(), design);
    placed.Apply(QSize(650, 480));
    EXPECT_EQ(child->geometry(), QRect(70, 10, 100, 40));
}

} // namespace

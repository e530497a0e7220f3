// The main window's workflow in-process: dialogs and message boxes answered by the test, sound from
// the fake recording device, the screen from a fake screen, and a stand-in encoder.
#include "FileSizeLimit.h"
#include "SwfWriter.h"
#include "TestFiles.h"

#include "app/OptionUnit.h"
#include "app/RadioGroup.h"
#include "app/ShockwaveFlashObjects.h"
#include "app/TbarB.h"
#include "app/VantrelUnit.h"
#include "audio/WaveRecorders.h"
#include "platform/Clock.h"
#include "platform/FakeWaveIn.h"
#include "platform/ScreenCapture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QRegularExpression>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

using namespace win; // the platform layer's Windows-style names

using namespace flash::writer;

// The window's state, as the tests read and set it.
class TVantrelFormProbe {
public:
    explicit TVantrelFormProbe(TVantrelForm& Form) : F(Form) {}
    auto& AppFolder() { return F.FAppFolder; }
    auto& AudioOption() { return F.FAudioOption; }
    auto& Flash() { return F.FFlash; }
    auto& MovieFile() { return F.FMovieFile; }
    auto& OutputFile() { return F.FOutputFile; }
    auto& ReadBufferSize() { return F.FReadBufferSize; }
    auto& RecordLineName() { return F.FRecordLineName; }
    auto& Recorder() { return F.FRecorder; }
    auto& ScreenCam() { return F.FScreenCam; }
    auto& SeekBar() { return F.FSeekBar; }
    auto& SoundSettingsCommand() { return F.FSoundSettingsCommand; }
    auto& TempAudioFile() { return F.FTempAudioFile; }
    auto& TempVideoFile() { return F.FTempVideoFile; }
    auto& TimerBusy() { return F.FTimerBusy; }
    auto& VideoOption() { return F.FVideoOption; }
    auto& RecorderCloseTimeoutMs() { return F.FRecorderCloseTimeoutMs; }
    const TEncoderProcess& Encoder() { return F.FEncoder; }

private:
    TVantrelForm& F;
};

namespace {

QByteArray SmallMovie() {
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 3000}).FrameRate(12).FrameCount(24);
    movie.Add(DefineShape(ShapeDefinition()
                              .Id(1)
                              .Fills({Solid({200, 30, 30, 255})})
                              .Records(ShapeRecords().Fill1(1).Box(0, 0, 1000, 1000))));
    for (int frame = 0; frame < 24; ++frame) {
        flash::PlaceObject place = Place(1, 1);
        place.move = frame > 0;
        if (place.move)
            place.characterId.reset();
        place.matrix = flash::Matrix{1, 0, 0, 1, double(frame * 100), 0};
        movie.Add(PlaceObjectTag(place));
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

struct TBox {
    QString Text;
    QString Caption;
    UINT Type;
};

class VantrelFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(Dir.path("tmp"));
        QDir().mkpath(Dir.path("app"));
        QDir().mkpath(Dir.path("out"));
        qputenv("TMPDIR", Dir.path("tmp").toUtf8());
        // Settings are this test's own, never the user's.
        qputenv("XDG_CONFIG_HOME", Dir.path("config").toUtf8());
        qputenv("VANTREL_FAKE_ENCODER", "succeed");
        qputenv("VANTREL_FAKE_ENCODER_ARGS", Dir.path("args.txt").toUtf8());
        QFile::link(QStringLiteral(VANTREL_FAKE_ENCODER), Dir.path("app/ffmpeg"));
        WriteWholeFile(Dir.path("movie.swf"), SmallMovie());

        TFakeWaveInSettings sound;
        sound.Frequency = 1000;
        WaveIn = std::make_shared<TFakeWaveInBackend>(sound);
        SetWaveInBackend(WaveIn);
        QImage screen(1600, 1200, QImage::Format_RGB32);
        screen.fill(QColor(40, 90, 200));
        SetScreenBackend(std::make_shared<TFakeScreen>(screen, 32));
        SetMessageBoxHook([this](const QString& Text, const QString& Caption, UINT Type) {
            Boxes.push_back({Text, Caption, Type});
            if (OnBox)
                OnBox();
            if (Answers.empty())
                return (Type & 0x0F) == MB_YESNO ? IDYES : IDOK;
            const int answer = Answers.front();
            Answers.pop_front();
            return answer;
        });
        SetFileDialogHook([this](const TFileDialogRequest& Request) {
            Requests.push_back(Request);
            if (Chosen.empty())
                return QString();
            const QString chosen = Chosen.front();
            Chosen.pop_front();
            return chosen;
        });

        MakeForm();
    }

    // A new window, as the program makes it at start.
    void MakeForm() {
        Form = std::make_unique<TVantrelForm>();
        State().AppFolder() = Dir.path("app") + "/";
        State().SoundSettingsCommand().clear();
        Form->SetOptionDialog(&Options);
        Form->show();
    }

    void TearDown() override {
        Form.reset();
        SetMessageBoxHook(nullptr);
        SetFileDialogHook(nullptr);
        SetScreenBackend(nullptr);
        SetWaveInBackend(nullptr);
        qunsetenv("TMPDIR");
        qunsetenv("XDG_CONFIG_HOME");
    }

    void OpenMovie(const QString& FileName) {
        Chosen.push_back(FileName);
        Form->OpenButton->click();
    }

    // Start Convert into Output, record a while, Stop Convert.
    void Record(const QString& Output, int Milliseconds = 600) {
        Chosen.push_back(Output);
        Form->StartButton->click();
        ASSERT_EQ(Form->StartButton->text(), "Stop Convert");
        PumpFor(Milliseconds);
        Form->StartButton->click();
    }

    bool WaitForBox(const QString& Text, int TimeoutMs = 20000) {
        return PumpUntil(
            [&] {
                for (const TBox& box : Boxes)
                    if (box.Text == Text)
                        return true;
                return false;
            },
            TimeoutMs);
    }

    TVantrelFormProbe State() const { return TVantrelFormProbe(*Form); }

    bool Idle() const {
        return Form->StartButton->text() == "Start Convert" && Form->OpenButton->isEnabled() &&
               Form->CloseButton->isEnabled() && Form->OptionButton->isEnabled() &&
               Form->AudioButton->isEnabled() && Form->LogPanel->isHidden();
    }

    TestDir Dir;
    std::shared_ptr<TFakeWaveInBackend> WaveIn;
    std::vector<TBox> Boxes;
    std::deque<int> Answers;
    std::function<void()> OnBox;
    std::deque<QString> Chosen;
    std::vector<TFileDialogRequest> Requests;
    TOptionDlg Options;
    std::unique_ptr<TVantrelForm> Form;
};

QStringList ArgumentsSeen(const QString& FileName) {
    QStringList lines = QString::fromUtf8(ReadWholeFile(FileName)).split('\n');
    lines.removeLast();
    return lines;
}

} // namespace

TEST_F(VantrelFormTest, StartsIdleWithTheDesignedComponents) {
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(Form->Timer.isActive());
    EXPECT_EQ(Form->Timer.interval(), 100);
    EXPECT_EQ(State().ReadBufferSize(), 1024);
    EXPECT_EQ(State().Flash()->parentWidget(), Form->FlashPanel);
    EXPECT_EQ(State().Flash()->geometry(),
              QRect(2, 2, Form->FlashPanel->width() - 3, Form->FlashPanel->height() - 3));
    ASSERT_NE(State().SeekBar(), nullptr);
    EXPECT_EQ(State().SeekBar()->parentWidget(), Form->BarPanel);
    EXPECT_EQ(State().AudioOption(), 0);
    EXPECT_EQ(State().VideoOption(), 0);

    // The player and the seek bar follow their panels.
    Form->resize(Form->width() + 100, Form->height() + 60);
    EXPECT_EQ(State().Flash()->geometry(),
              QRect(2, 2, Form->FlashPanel->width() - 3, Form->FlashPanel->height() - 3));
    EXPECT_EQ(State().SeekBar()->width(), Form->BarPanel->width());
}

TEST_F(VantrelFormTest, OpeningChecksTheExtensionAndTheMovie) {
    // Cancelled: nothing happens.
    Form->OpenButton->click();
    EXPECT_TRUE(Boxes.empty());
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Kind, TFileDialogKind::Open);
    EXPECT_EQ(Requests[0].Filter, "Flash SWF Files (*.swf)|*.swf|All Files (*.*)|*.*");

    WriteWholeFile(Dir.path("movie.swf.txt"), SmallMovie());
    OpenMovie(Dir.path("movie.swf.txt"));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Please select a \".swf\" file.");
    EXPECT_EQ(Boxes[0].Type, MB_OK | MB_ICONINFORMATION);

    WriteWholeFile(Dir.path("broken.swf"), "FWS\x0a not a movie");
    OpenMovie(Dir.path("broken.swf"));
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, "Can't open this \".swf\" file.");
    EXPECT_TRUE(State().MovieFile().isEmpty());
    EXPECT_FALSE(Form->MovieLoaded());
    EXPECT_FALSE(Form->Timer.isActive());

    // An upper-case extension is a movie too.
    WriteWholeFile(Dir.path("MOVIE.SWF"), SmallMovie());
    OpenMovie(Dir.path("MOVIE.SWF"));
    EXPECT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(State().MovieFile(), Dir.path("MOVIE.SWF"));
    EXPECT_EQ(State().SeekBar()->GetMax(), 24);
    EXPECT_EQ(State().SeekBar()->GetPosition(), 0);
    EXPECT_TRUE(Form->Timer.isActive());
    EXPECT_EQ(State().Flash()->GetPlaying(), -1) << "a loaded movie plays by itself";

    // A failed open afterwards keeps the movie file name of the last good one.
    OpenMovie(Dir.path("broken.swf"));
    EXPECT_EQ(State().MovieFile(), Dir.path("MOVIE.SWF"));
}

TEST_F(VantrelFormTest, AMovieNamedOnTheCommandLineGetsTheOpenButtonsChecks) {
    WriteWholeFile(Dir.path("movie.txt"), SmallMovie());
    WriteWholeFile(Dir.path("broken.swf"), "FWS\x0a not a movie");
    struct Case {
        QString File;
        QString Box; // empty: opened
    };
    for (const Case& c : {Case{"movie.txt", "Please select a \".swf\" file."},
                          Case{"missing.swf", "Can't open this \".swf\" file."},
                          Case{"broken.swf", "Can't open this \".swf\" file."}, Case{"movie.swf", ""}}) {
        SCOPED_TRACE(c.File.toStdString());
        Boxes.clear();
        Form->OpenMovieFile(Dir.path(c.File));
        if (c.Box.isEmpty()) {
            EXPECT_TRUE(Boxes.empty());
            EXPECT_EQ(State().MovieFile(), Dir.path(c.File));
            EXPECT_TRUE(Form->MovieLoaded());
            EXPECT_TRUE(Form->Timer.isActive());
        } else {
            ASSERT_EQ(Boxes.size(), 1u);
            EXPECT_EQ(Boxes[0].Text, c.Box);
            EXPECT_FALSE(Form->MovieLoaded());
        }
    }
    EXPECT_TRUE(Requests.empty()) << "no file dialog is shown";
}

TEST_F(VantrelFormTest, StartIsRefusedWithoutMovieOrEncoderOrOverwrite) {
    Form->StartButton->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Please select a \".swf\" file.");

    OpenMovie(Dir.path("movie.swf"));
    QFile::remove(Dir.path("app/ffmpeg"));
    WriteWholeFile(Dir.path("app/ffmpeg"), "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(Dir.path("app/ffmpeg"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Form->StartButton->click();
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, "Deocder files missed, software need re-install.");
    EXPECT_EQ(Boxes[1].Type, MB_OK | MB_ICONERROR);
    EXPECT_TRUE(Requests.size() == 1u) << "no save dialog";
    EXPECT_TRUE(Idle());

    QFile::remove(Dir.path("app/ffmpeg"));
    QFile::link(QStringLiteral(VANTREL_FAKE_ENCODER), Dir.path("app/ffmpeg"));
    WriteWholeFile(Dir.path("out/clip.avi"), "old");
    Chosen.push_back(Dir.path("out/clip.avi"));
    Answers.push_back(IDNO);
    Form->StartButton->click();
    ASSERT_EQ(Boxes.size(), 3u);
    EXPECT_EQ(Boxes[2].Text, QStringLiteral("The AVI File \"%1\" exists, do you want to overwrite it?")
                                 .arg(Dir.path("out/clip.avi")));
    EXPECT_EQ(Boxes[2].Type & 0x0F, MB_YESNO);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(State().ScreenCam()->FRecording.load());
    EXPECT_TRUE(State().OutputFile().isEmpty());
}

TEST_F(VantrelFormTest, ConversionRecordsEncodesReportsAndCleansUp) {
    OpenMovie(Dir.path("movie.swf"));
    const QString output = Dir.path("out/my \"clip\" one.avi");
    Chosen.push_back(output);
    Form->StartButton->click();
    // Recording: busy controls, log panel hidden, files named after the output.
    EXPECT_EQ(Form->StartButton->text(), "Stop Convert");
    EXPECT_FALSE(Form->OpenButton->isEnabled());
    EXPECT_FALSE(Form->CloseButton->isEnabled());
    EXPECT_TRUE(Form->LogPanel->isHidden());
    // ... in a folder of the conversion's own, that only its owner may enter.
    const QString folder = QFileInfo(State().TempVideoFile()).absolutePath();
    EXPECT_EQ(QFileInfo(folder).absolutePath(), Dir.path("tmp"));
    EXPECT_TRUE(QFileInfo(folder).fileName().startsWith("vantrel-"));
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, QFileDevice::Permissions());
    EXPECT_EQ(State().TempVideoFile(), folder + "/my \"clip\" one.avi");
    EXPECT_EQ(State().TempAudioFile(), folder + "/my \"clip\" one.wav");
    EXPECT_TRUE(State().ScreenCam()->FRecording.load());
    EXPECT_TRUE(State().Recorder()->GetActive());
    EXPECT_EQ(State().Flash()->cursor().shape(), Qt::BlankCursor);
    EXPECT_EQ(State().Flash()->GetPlaying(), -1);
    PumpFor(800);

    // A tick that comes while a message box of another tick is open returns at once.
    bool nestedTickChecked = false;
    OnBox = [&] {
        if (!State().TimerBusy())
            return;
        Form->TimerTimer();
        nestedTickChecked = State().TimerBusy();
    };
    Form->StartButton->click();
    EXPECT_EQ(State().Flash()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(State().Flash()->GetPlaying(), 0);
    EXPECT_FALSE(Form->LogPanel->isHidden());
    ASSERT_TRUE(WaitForBox(QStringLiteral("Convert to \"%1\" successfully.").arg(output)));
    EXPECT_TRUE(nestedTickChecked);

    // The encoder got the recorded files whole, names with blanks and quotes included.
    EXPECT_EQ(ArgumentsSeen(Dir.path("args.txt")),
              (QStringList{Dir.path("app/ffmpeg"), "-y", "-i", folder + "/my \"clip\" one.wav", "-i",
                           folder + "/my \"clip\" one.avi", "-target", "ntsc-vcd", output}));
    EXPECT_FALSE(QFile::exists(State().TempVideoFile()));
    EXPECT_FALSE(QFile::exists(State().TempAudioFile()));
    EXPECT_FALSE(QFileInfo::exists(folder)) << "the private folder goes with the files";
    EXPECT_TRUE(State().OutputFile().isEmpty());
    EXPECT_TRUE(Idle());
    EXPECT_EQ(State().Encoder().Info().hProcess, 0u) << "the ended encoder is forgotten";

    // The seek bar follows playback again.
    State().Flash()->Play();
    PumpFor(600);
    EXPECT_TRUE(Form->Timer.isActive());
    EXPECT_NEAR(State().SeekBar()->GetPosition(), State().Flash()->FrameNum(), 2);
}

TEST_F(VantrelFormTest, RecordedFilesAreCompleteWhenTheEncoderStarts) {
    qputenv("VANTREL_FAKE_ENCODER", "slow");
    OpenMovie(Dir.path("movie.swf"));
    Record(Dir.path("out/clip.avi"));
    ASSERT_NE(State().Encoder().Info().hProcess, 0u);
    EXPECT_FALSE(State().ScreenCam()->ThreadRunning());
    EXPECT_FALSE(State().Recorder()->GetActive());
    // Both files are whole: the AVI has its index, the WAV its sizes.
    const QByteArray avi = ReadWholeFile(State().TempVideoFile());
    EXPECT_TRUE(avi.contains("idx1"));
    const QByteArray wav = ReadWholeFile(State().TempAudioFile());
    ASSERT_GT(wav.size(), 44);
    const quint32 riffSize =
        quint8(wav[4]) | quint8(wav[5]) << 8 | quint8(wav[6]) << 16 | quint32(quint8(wav[7])) << 24;
    EXPECT_EQ(riffSize, quint32(wav.size() - 8));

    // Progress: the latest size the encoder reports, after its start caption.
    ASSERT_TRUE(PumpUntil([&] { return Form->LogPanel->text().startsWith("Converting"); }));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Converting \"%1\" \\.\\.\\. \\d+[.,]\\d\\d KB$")
                                       .arg(QRegularExpression::escape(Dir.path("movie.swf"))))
                    .match(Form->LogPanel->text())
                    .hasMatch())
        << Form->LogPanel->text().toStdString();

    // Stop Convert again restarts the encoder.
    const DWORD firstEncoder = State().Encoder().Info().dwProcessId;
    Form->StartButton->click();
    EXPECT_NE(State().Encoder().Info().dwProcessId, firstEncoder);
    EXPECT_NE(kill(pid_t(firstEncoder), 0), 0) << "the first encoder is gone";

    // Closing the window ends the encoder and removes the temporary files.
    const DWORD encoder = State().Encoder().Info().dwProcessId;
    const QString video = State().TempVideoFile(), audio = State().TempAudioFile();
    Form.reset();
    EXPECT_NE(kill(pid_t(encoder), 0), 0);
    EXPECT_FALSE(QFile::exists(video));
    EXPECT_FALSE(QFile::exists(audio));
}

TEST_F(VantrelFormTest, FailedEncodingIsReportedAndAnEmptyOutputRemoved) {
    OpenMovie(Dir.path("movie.swf"));
    const QString cantConvert = QStringLiteral("Can't convert \"%1\".").arg(Dir.path("movie.swf"));
    qputenv("VANTREL_FAKE_ENCODER", "empty-fail");
    Record(Dir.path("out/clip.avi"));
    // Under the message, the encoder's last error line (its progress lines are passed over).
    ASSERT_TRUE(WaitForBox(cantConvert + "\nError writing trailer of " + Dir.path("out/clip.avi") +
                           ": No space left on device"))
        << (Boxes.empty() ? std::string() : Boxes.back().Text.toStdString());
    EXPECT_EQ(Boxes.back().Type, MB_OK | MB_ICONWARNING);
    EXPECT_FALSE(QFile::exists(Dir.path("out/clip.avi")));
    EXPECT_FALSE(QFile::exists(State().TempVideoFile()));
    EXPECT_TRUE(Idle());

    // An old output that the failed encoder never replaced is no success.
    Boxes.clear();
    qputenv("VANTREL_FAKE_ENCODER", "keep-fail");
    WriteWholeFile(Dir.path("out/clip.avi"), "an older video");
    Record(Dir.path("out/clip.avi"));
    ASSERT_TRUE(WaitForBox(cantConvert + "\nConversion failed!"));
    EXPECT_EQ(ReadWholeFile(Dir.path("out/clip.avi")), "an older video");
    for (const TBox& box : Boxes)
        EXPECT_FALSE(box.Text.startsWith("Convert to"));
}

TEST_F(VantrelFormTest, AnOutputPlaceThatCannotBeWrittenIsRefusedBeforeRecording) {
    OpenMovie(Dir.path("movie.swf"));
    WriteWholeFile(Dir.path("a file"), "");
    struct Case {
        QString Output;
        QString Reason;
    };
    const Case cases[] = {
        {Dir.path("missing/clip.avi"), "No such file or directory"},
        {Dir.path("a file/clip.avi"), "Not a directory"},
        {Dir.path("out"), "Is a directory"},
        // Read-only even for the superuser.
        {"/proc/clip.avi", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Output.toStdString());
        Boxes.clear();
        Chosen.push_back(c.Output);
        Answers.push_back(IDYES); // an existing place is to be overwritten
        Form->StartButton->click();
        ASSERT_FALSE(Boxes.empty());
        const TBox& box = Boxes.back();
        EXPECT_TRUE(box.Text.startsWith(QStringLiteral("Can't save to \"%1\".\n").arg(c.Output)))
            << box.Text.toStdString();
        EXPECT_TRUE(box.Text.endsWith(c.Reason)) << box.Text.toStdString();
        EXPECT_EQ(box.Type, MB_OK | MB_ICONERROR);
        EXPECT_TRUE(Idle());
        EXPECT_FALSE(State().ScreenCam()->FRecording.load());
        EXPECT_FALSE(State().Recorder()->GetActive());
        EXPECT_EQ(QDir(Dir.path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList())
            << "no recording folder made";
    }
    EXPECT_EQ(QDir(Dir.path("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList())
        << "the check leaves nothing behind";
}

TEST_F(VantrelFormTest, AnOutputInTheTemporaryFolderNamedLikeTheRecordingsConverts) {
    // The output itself, and a file of another program, lie where the recordings used to go.
    WriteWholeFile(Dir.path("tmp/clip.wav"), "not ours");
    OpenMovie(Dir.path("movie.swf"));
    const QString output = Dir.path("tmp/clip.avi");
    Record(output, 300);
    ASSERT_TRUE(WaitForBox(QStringLiteral("Convert to \"%1\" successfully.").arg(output)));
    const QStringList arguments = ArgumentsSeen(Dir.path("args.txt"));
    EXPECT_EQ(arguments.count(output), 1) << "the output is no input";
    EXPECT_NE(State().TempAudioFile(), State().TempVideoFile());
    EXPECT_EQ(ReadWholeFile(Dir.path("tmp/clip.wav")), "not ours");
    EXPECT_EQ(QDir(Dir.path("tmp")).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(VantrelFormTest, ATemporaryFolderThatCannotBeMadeLeavesTheWindowIdle) {
    // The temporary folder is a file: nothing can be made in it.
    QDir(Dir.path("tmp")).removeRecursively();
    WriteWholeFile(Dir.path("tmp"), "");
    OpenMovie(Dir.path("movie.swf"));
    Chosen.push_back(Dir.path("out/clip.avi"));
    Form->StartButton->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Boxes[0].Text.startsWith(
        QStringLiteral("Can't create temp file \"%1\".").arg(Dir.path("tmp/vantrel-XXXXXX"))))
        << Boxes[0].Text.toStdString();
    EXPECT_EQ(Boxes[0].Type & 0xF0, MB_ICONERROR);
    EXPECT_TRUE(Idle()) << "the controls are back";
    EXPECT_FALSE(State().ScreenCam()->FRecording.load());
    EXPECT_FALSE(State().Recorder()->GetActive());
}

TEST_F(VantrelFormTest, AnEncoderThatCannotStartKeepsTheRecordingsAndSaysWhere) {
    // By the time the recording stops, the encoder cannot run, or is gone.
    const std::vector<std::function<void()>> breaks{
        [&] {
            QFile::remove(Dir.path("app/ffmpeg"));
            WriteWholeFile(Dir.path("app/ffmpeg"), QByteArray("\x7F"
                                                              "ELF") +
                                                       QByteArray(60, '\0'));
            QFile::setPermissions(Dir.path("app/ffmpeg"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        },
        [&] { QFile::remove(Dir.path("app/ffmpeg")); },
    };
    OpenMovie(Dir.path("movie.swf"));
    for (const auto& breakEncoder : breaks) {
        Chosen.push_back(Dir.path("out/clip.avi"));
        Form->StartButton->click();
        PumpFor(500);
        const QString folder = QFileInfo(State().TempVideoFile()).absolutePath();
        breakEncoder();
        Form->StartButton->click();
        ASSERT_TRUE(WaitForBox(
            QStringLiteral("Can't start convert process.\nThe recordings are kept in \"%1\".").arg(folder)));
        EXPECT_TRUE(Idle());
        EXPECT_TRUE(QFileInfo::exists(folder + "/clip.avi"));
        EXPECT_TRUE(QFileInfo::exists(folder + "/clip.wav"));
        QFile::remove(Dir.path("app/ffmpeg"));
        QFile::link(QStringLiteral(VANTREL_FAKE_ENCODER), Dir.path("app/ffmpeg"));
    }
}

TEST_F(VantrelFormTest, ThePlayerKeepsItsSizeWhileRecording) {
    OpenMovie(Dir.path("movie.swf"));
    const QSize window = Form->size();
    const QSize player = State().Flash()->size();
    Chosen.push_back(Dir.path("out/clip.avi"));
    Form->StartButton->click();
    PumpFor(200);
    Form->resize(window + QSize(100, 60));
    PumpFor(100);
    EXPECT_EQ(Form->size(), window);
    Form->showMaximized();
    PumpFor(200);
    EXPECT_EQ(State().Flash()->size(), player);
    // A window manager that resizes the window anyway still leaves the player alone.
    Form->setFixedSize(window - QSize(50, 40));
    PumpFor(100);
    EXPECT_EQ(State().Flash()->size(), player);
    Form->setFixedSize(window);
    Form->showNormal();

    Form->StartButton->click();
    ASSERT_TRUE(WaitForBox(QStringLiteral("Convert to \"%1\" successfully.").arg(Dir.path("out/clip.avi"))));
    Form->resize(window + QSize(100, 60));
    PumpFor(100);
    EXPECT_EQ(Form->size(), window + QSize(100, 60)) << "resizable again";
    EXPECT_EQ(State().Flash()->size(), player + QSize(100, 60));
}

// A click as the window system delivers it: press and release at the widget's centre.
void Click(QWidget* Widget) {
    const QPointF centre = QRectF(Widget->rect()).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, centre, Widget->mapToGlobal(centre), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(Widget, &event);
    }
}

TEST_F(VantrelFormTest, ASoundRecordingThatNeverClosesFailsTheConversionAndTheWindowGoesBackToIdle) {
    OpenMovie(Dir.path("movie.swf"));
    Chosen.push_back(Dir.path("out/clip.avi"));
    Form->StartButton->click();
    PumpFor(400);
    const QString audio = State().TempAudioFile();
    // The sound server is gone: the device neither stops nor closes.
    const TFakeWaveInSettings working = WaveIn->Settings();
    TFakeWaveInSettings gone = working;
    gone.ResetResult = gone.CloseResult = MMSYSERR_ERROR;
    gone.FailureReason = QStringLiteral("Connection terminated");
    WaveIn->SetSettings(gone);
    State().RecorderCloseTimeoutMs() = 1500;

    // While the stop waits, a message box takes clicks and the main window none.
    QPushButton box(QStringLiteral("OK"));
    box.show();
    int boxClicks = 0, stopClicks = 0;
    QObject::connect(&box, &QPushButton::clicked, [&] { ++boxClicks; });
    QObject::connect(Form->StartButton, &QPushButton::clicked, [&] { ++stopClicks; });
    QTimer::singleShot(500, [&] {
        Click(&box);
        Click(Form->StartButton);
    });
    Form->StartButton->click();
    EXPECT_EQ(boxClicks, 1);
    EXPECT_EQ(stopClicks, 1) << "only the click that stopped";

    ASSERT_FALSE(Boxes.empty());
    const QString expected =
        QStringLiteral("Can't convert \"%1\".\nThe sound recording \"%2\" did not finish.\n")
            .arg(Dir.path("movie.swf"), audio) +
        QStringLiteral("The sound recording \"%1\" stopped: ").arg(audio) +
        State().Recorder()->GetErrorText(MMSYSERR_ERROR);
    EXPECT_EQ(Boxes.back().Text.toStdString(), expected.toStdString());
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(QFile::exists(Dir.path("args.txt"))) << "no encoder on an unfinished file";
    EXPECT_EQ(QDir(Dir.path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList())
        << "no leftovers";

    // The next conversion records and converts again.
    WaveIn->SetSettings(working);
    Record(Dir.path("out/clip.avi"));
    ASSERT_TRUE(WaitForBox(QStringLiteral("Convert to \"%1\" successfully.").arg(Dir.path("out/clip.avi"))));
}

TEST_F(VantrelFormTest, TheProgramRecordsTheMonitorOfItsOwnSinkWhenThereIsOne) {
    OpenMovie(Dir.path("movie.swf"));
    TFakeWaveInSettings sound = WaveIn->Settings();
    sound.Devices = {QStringLiteral("Microphone"), QStringLiteral("Monitor of Speakers")};
    sound.DefaultDevice = 0;
    // Without a monitor, the system's recording source; with one, that monitor.
    for (const int monitor : {-1, 1}) {
        SCOPED_TRACE(monitor);
        sound.PlaybackMonitor = monitor;
        WaveIn->SetSettings(sound);
        Boxes.clear();
        const QString output = Dir.path(QStringLiteral("out/source%1.avi").arg(monitor));
        Chosen.push_back(output);
        Form->StartButton->click();
        EXPECT_TRUE(State().Recorder()->GetActive());
        EXPECT_EQ(State().Recorder()->GetDeviceID(), monitor < 0 ? WAVE_MAPPER : WAVE_PLAYBACK_MONITOR);
        PumpFor(400);
        Form->StartButton->click();
        ASSERT_TRUE(WaitForBox(QStringLiteral("Convert to \"%1\" successfully.").arg(output)));
    }
}

TEST_F(VantrelFormTest, ASoundRecordingThatCannotStartEndsTheConversionAtOnce) {
    OpenMovie(Dir.path("movie.swf"));
    const TFakeWaveInSettings working = WaveIn->Settings();
    // The device refuses the format (an error raised) or the open (a false result).
    for (const bool refuseQuery : {true, false}) {
        SCOPED_TRACE(refuseQuery);
        TFakeWaveInSettings gone = working;
        (refuseQuery ? gone.QueryResult : gone.OpenResult) = MMSYSERR_ERROR;
        gone.FailureReason = QStringLiteral("Connection refused");
        WaveIn->SetSettings(gone);
        Boxes.clear();
        Chosen.push_back(Dir.path("out/clip.avi"));
        Form->StartButton->click();
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_TRUE(Boxes[0].Text.startsWith(
            QStringLiteral("Can't convert \"%1\".\nThe sound recording \"").arg(Dir.path("movie.swf"))))
            << Boxes[0].Text.toStdString();
        EXPECT_TRUE(Boxes[0].Text.contains("\" could not start.\n")) << Boxes[0].Text.toStdString();
        EXPECT_TRUE(Boxes[0].Text.contains("Connection refused")) << Boxes[0].Text.toStdString();
        EXPECT_TRUE(Idle());
        EXPECT_FALSE(State().ScreenCam()->ThreadRunning());
        EXPECT_EQ(QDir(Dir.path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList())
            << "no leftovers";
    }
    EXPECT_FALSE(QFile::exists(Dir.path("args.txt"))) << "no encoder ran";
}

TEST_F(VantrelFormTest, ASoundDeviceFailingWhileRecordingIsNoSuccessAndTheRecordingsAreKept) {
    // The device opens, then refuses to start: the sound file stays empty.
    TFakeWaveInSettings failing = WaveIn->Settings();
    failing.StartResult = MMSYSERR_ERROR;
    failing.FailureReason = QStringLiteral("Connection terminated");
    WaveIn->SetSettings(failing);
    OpenMovie(Dir.path("movie.swf"));
    Chosen.push_back(Dir.path("out/clip.avi"));
    Form->StartButton->click();
    const QString folder = QFileInfo(State().TempVideoFile()).absolutePath();
    PumpFor(400);
    Form->StartButton->click();
    ASSERT_FALSE(Boxes.empty());
    const QString text = Boxes.back().Text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Can't convert \"%1\".\nThe sound recording \"%2/clip.wav\" ")
                                    .arg(Dir.path("movie.swf"), folder)))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Connection terminated")) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("\nThe recordings are kept in \"%1\".").arg(folder)));
    for (const TBox& box : Boxes)
        EXPECT_FALSE(box.Text.startsWith("Convert to"));
    EXPECT_FALSE(QFile::exists(Dir.path("args.txt"))) << "no encoder ran";
    EXPECT_TRUE(QFileInfo::exists(folder + "/clip.avi"));
    EXPECT_TRUE(QFileInfo::exists(folder + "/clip.wav"));
    EXPECT_TRUE(Idle());
}

TEST_F(VantrelFormTest, AFullDiskWhileRecordingStopsTheConversionWithTheSystemsReason) {
    OpenMovie(Dir.path("movie.swf"));
    Chosen.push_back(Dir.path("out/clip.avi"));
    QString folder;
    {
        // The video's key frames pass this within a second; the sound takes several.
        const TFileSizeLimit limit(40 * 1024);
        Form->StartButton->click();
        folder = QFileInfo(State().TempVideoFile()).absolutePath();
        ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 20000)) << "the conversion stops by itself";
    }
    ASSERT_FALSE(Boxes.empty());
    const QString text = Boxes.back().Text;
    EXPECT_TRUE(
        text.startsWith(QStringLiteral("Can't convert \"%1\".\nThe video recording \"%2/clip.avi\" stopped: "
                                       "File too large\n")
                            .arg(Dir.path("movie.swf"), folder)))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("\nThe recordings are kept in \"%1\".").arg(folder)));
    for (const TBox& box : Boxes)
        EXPECT_FALSE(box.Text.startsWith("Convert to"));
    EXPECT_FALSE(QFile::exists(Dir.path("args.txt"))) << "no encoder ran";
    EXPECT_TRUE(QFileInfo::exists(folder + "/clip.avi"));
    EXPECT_TRUE(QFileInfo::exists(folder + "/clip.wav"));
    EXPECT_FALSE(State().Recorder()->GetActive());
}

TEST_F(VantrelFormTest, ARecordingGoneMissingEndsTheConversionInsteadOfStayingStopped) {
    OpenMovie(Dir.path("movie.swf"));
    Chosen.push_back(Dir.path("out/clip.avi"));
    Form->StartButton->click();
    PumpFor(300);
    const QString video = State().TempVideoFile();
    ASSERT_TRUE(QFile::remove(video));
    Form->StartButton->click();
    ASSERT_FALSE(Boxes.empty());
    EXPECT_EQ(Boxes.back().Text.toStdString(),
              QStringLiteral("Can't convert \"%1\".\nThe recording \"%2\" is missing.")
                  .arg(Dir.path("movie.swf"), video)
                  .toStdString());
    EXPECT_TRUE(Idle()) << "Open, Format and Close work again";
    EXPECT_EQ(QDir(Dir.path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList())
        << "no leftovers";
}

TEST_F(VantrelFormTest, FormatChoicesShapeTheEncoderRun) {
    OpenMovie(Dir.path("movie.swf"));
    QTimer::singleShot(0, [&] {
        Options.AudioRadioGroup->SetItemIndex(1);
        Options.VideoRadioGroup->SetItemIndex(3);
        Options.OKBtn->click();
    });
    Form->OptionButton->click();
    EXPECT_EQ(State().AudioOption(), 1);
    EXPECT_EQ(State().VideoOption(), 3);
    Record(Dir.path("out/clip.avi"));
    ASSERT_TRUE(WaitForBox(QStringLiteral("Convert to \"%1\" successfully.").arg(Dir.path("out/clip.avi"))));
    const QStringList arguments = ArgumentsSeen(Dir.path("args.txt"));
    EXPECT_EQ(arguments.count("-i"), 1) << "the recorded sound is left out";
    EXPECT_EQ(arguments.mid(arguments.size() - 3, 2), (QStringList{"-target", "pal-dvd"}));
    EXPECT_FALSE(QFile::exists(State().TempAudioFile())) << "the WAV file is still removed";
}

TEST_F(VantrelFormTest, AudioGuidanceNamesTheRecordingLineThenOpensTheSettings) {
    State().SoundSettingsCommand() = QStringLiteral("touch \"%1\"").arg(Dir.path("settings opened"));
    State().RecordLineName() = QStringLiteral("Stereo Mix");
    Form->AudioButton->click();
    ASSERT_EQ(Boxes.size(), 1u);
    const QString text = Boxes[0].Text;
    EXPECT_TRUE(
        text.startsWith("For Windows Vista or Windows 7 users:\r\n" + QString(47, '-') + "\r\nThis program"));
    EXPECT_TRUE(text.contains("\"show disabled devices.\"\r\n"));
    EXPECT_TRUE(text.endsWith("sound your computer makes.\r\n\r\nFor Windows XP Users:\r\n" +
                              QString(27, '-') +
                              "\r\nIf you want record the audio of SWF, you must select \"Stereo Mix\" in "
                              "next dialog. Note: if the "
                              "\"Stereo Mix\" can't work, you must try another line one by one."));
    EXPECT_EQ(Boxes[0].Type, MB_OK | MB_ICONINFORMATION);
    EXPECT_TRUE(PumpUntil([&] { return QFile::exists(Dir.path("settings opened")); }));

    State().RecordLineName().clear();
    State().SoundSettingsCommand() = QStringLiteral("/nonexistent/settings-tool");
    Form->AudioButton->click();
    EXPECT_TRUE(
        Boxes[1].Text.endsWith("\r\nIf you want record the audio of SWF, you must try to select different "
                               "line in next dialog one by one."));
}

TEST_F(VantrelFormTest, RightButtonPressesReachNoWindow) {
    struct TCounter : QObject {
        int Presses = 0;
        bool eventFilter(QObject*, QEvent* Event) override {
            Presses += Event->type() == QEvent::MouseButtonPress || Event->type() == QEvent::ContextMenu;
            return false;
        }
    } counter;
    State().Flash()->installEventFilter(&counter);
    const QPointF point(10, 10);
    QMouseEvent right(QEvent::MouseButtonPress, point, State().Flash()->mapToGlobal(point), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(State().Flash(), &right);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(10, 10),
                           State().Flash()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(State().Flash(), &menu);
    EXPECT_EQ(counter.Presses, 0);
    QMouseEvent left(QEvent::MouseButtonPress, point, State().Flash()->mapToGlobal(point), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(State().Flash(), &left);
    EXPECT_EQ(counter.Presses, 1) << "other buttons pass";
}

TEST_F(VantrelFormTest, FoldersFormatAndSizeSurviveARestart) {
    QDir().mkpath(Dir.path("movies"));
    WriteWholeFile(Dir.path("movies/a.swf"), SmallMovie());
    OpenMovie(Dir.path("movies/a.swf"));
    QTimer::singleShot(0, [&] {
        Options.VideoRadioGroup->SetItemIndex(5);
        Options.MethodRadioGroup->SetItemIndex(1);
        Options.OKBtn->click();
    });
    Form->OptionButton->click();
    // The output's folder counts once chosen, even when the overwrite is declined.
    WriteWholeFile(Dir.path("out/clip.webm"), "old");
    Chosen.push_back(Dir.path("out/clip.webm"));
    Answers.push_back(IDNO);
    Form->StartButton->click();
    ASSERT_TRUE(Idle());
    Form->resize(700, 610);
    Form.reset();

    MakeForm();
    EXPECT_EQ(State().VideoOption(), 5);
    EXPECT_EQ(Form->size(), QSize(700, 610));
    Requests.clear();
    Form->OpenButton->click();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].InitialDir, Dir.path("movies"));
    // The method shows in the Format dialog as it was left.
    QTimer::singleShot(0, [&] {
        EXPECT_EQ(Options.MethodRadioGroup->ItemIndex(), 1);
        Options.CancelBtn->click();
    });
    Form->OptionButton->click();
    OpenMovie(Dir.path("movie.swf"));
    Form->StartButton->click(); // cancelled save dialog
    EXPECT_EQ(Requests.back().Kind, TFileDialogKind::Save);
    EXPECT_EQ(Requests.back().InitialDir, Dir.path("out"));
}

TEST_F(VantrelFormTest, ADamagedSettingsFileIsIgnored) {
    Form.reset();
    struct Case {
        const char* Name;
        QByteArray Text;
    };
    for (const Case& c :
         {Case{"garbage", QByteArray("\x00\xff[[[=\n\x01\x02=\xfe", 11)},
          Case{"out of range", "[format]\nvideo=99\naudio=-1\nmethod=x\n[window]\nsize=@Size(-5 0)\n"
                               "[folders]\nopen=/no/such/folder\n"}}) {
        SCOPED_TRACE(c.Name);
        QDir().mkpath(Dir.path("config/vantrel"));
        WriteWholeFile(Dir.path("config/vantrel/vantrel.conf"), c.Text);
        MakeForm();
        EXPECT_EQ(State().AudioOption(), 0);
        EXPECT_EQ(State().VideoOption(), 0);
        EXPECT_GT(Form->width(), 320);
        Requests.clear();
        Form->OpenButton->click();
        ASSERT_EQ(Requests.size(), 1u);
        EXPECT_TRUE(Requests[0].InitialDir.isEmpty());
        Form.reset();
    }
    // The damaged file was replaced by a good one.
    MakeForm();
    QTimer::singleShot(0, [&] {
        Options.VideoRadioGroup->SetItemIndex(2);
        Options.OKBtn->click();
    });
    Form->OptionButton->click();
    Form.reset();
    MakeForm();
    EXPECT_EQ(State().VideoOption(), 2);
}

TEST_F(VantrelFormTest, AMovieDroppedOnTheIdleWindowIsOpened) {
    const auto drop = [&](const QList<QUrl>& Urls) {
        QMimeData data;
        data.setUrls(Urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Form.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Form.get(), &dropped);
        return true;
    };
    WriteWholeFile(Dir.path("movie.txt"), SmallMovie());
    EXPECT_FALSE(drop({QUrl("https://example.org/movie.swf")}));
    EXPECT_FALSE(
        drop({QUrl::fromLocalFile(Dir.path("movie.swf")), QUrl::fromLocalFile(Dir.path("movie.txt"))}));
    EXPECT_TRUE(drop({QUrl::fromLocalFile(Dir.path("movie.txt"))}));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Please select a \".swf\" file.");
    EXPECT_TRUE(drop({QUrl::fromLocalFile(Dir.path("movie.swf"))}));
    EXPECT_EQ(State().MovieFile(), Dir.path("movie.swf"));
    EXPECT_EQ(Boxes.size(), 1u);

    // While converting, nothing is taken.
    WriteWholeFile(Dir.path("other.swf"), SmallMovie());
    Chosen.push_back(Dir.path("out/clip.avi"));
    Form->StartButton->click();
    ASSERT_EQ(Form->StartButton->text(), "Stop Convert");
    EXPECT_FALSE(drop({QUrl::fromLocalFile(Dir.path("other.swf"))}));
    EXPECT_EQ(State().MovieFile(), Dir.path("movie.swf"));
    Form->StartButton->click();
    ASSERT_TRUE(WaitForBox(QStringLiteral("Convert to \"%1\" successfully.").arg(Dir.path("out/clip.avi"))));
}

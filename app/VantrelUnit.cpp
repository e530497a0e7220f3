#include "app/VantrelUnit.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/EncoderRunner.h"
#include "app/FrameExactJob.h"
#include "app/OptionUnit.h"
#include "app/Settings.h"
#include "app/ShockwaveFlashObjects.h"
#include "app/TbarB.h"
#include "audio/WaveMixer.h"
#include "audio/WaveRecorders.h"
#include "platform/Clock.h"
#include "platform/SysUtils.h"
#include "platform/WaveInService.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QMimeData>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>

using namespace win; // the platform layer's Windows-style names

namespace {
constexpr double DesignDotsPerInch = 120.0;
const QSize DesignClientSize(643, 557);
// A remembered window size is never taken below this.
const QSize MinRestoredSize(320, 240);
const QString StartConvertCaption = QStringLiteral("Start Convert");
const QString StopConvertCaption = QStringLiteral("Stop Convert");
const QString SelectMovieText = QStringLiteral("Please select a \".swf\" file.");

// The one local file a drag carries, else nothing: a drop opens it as Open SWF would.
QString DroppedFile(const QMimeData* Data) {
    if (!Data || !Data->hasUrls() || Data->urls().size() != 1 || !Data->urls().front().isLocalFile())
        return {};
    return Data->urls().front().toLocalFile();
}

// How often a stop looks whether the camera's thread has ended.
constexpr int RecordingCheckMs = 20;
// How much of the encoder's latest output is kept for its last error line.
constexpr int EncoderOutputKept = 4096;

void PumpMessages() {
    QCoreApplication::processEvents();
}

void Inform(QWidget* Owner, const QString& Text) {
    MessageBoxW(Owner, Text, QStringLiteral("Information"), MB_OK | MB_ICONINFORMATION);
}

bool FileExists(const QString& FileName) {
    return !FileName.isEmpty() && QFileInfo::exists(FileName);
}

void DeleteIfExists(const QString& FileName) {
    if (FileExists(FileName))
        QFile::remove(FileName);
}

// The guidance for choosing the sound card's output as the recording source.
QString AudioGuidance(const QString& RecordLineName) {
    const QString crlf = QStringLiteral("\r\n");
    const QStringList firstBlock = {
        QStringLiteral("For Windows Vista or Windows 7 users:"),
        QString(47, QLatin1Char('-')),
        QStringLiteral(
            "This program need enable Wave Out recording in Windows. If this program can't record the "
            "audio of the SWF files, you may be aware of a simple setting that allows you to record any "
            "sound playing through your computer's sound card."),
        QString(),
        QStringLiteral("All you have to do is:"),
        QString(),
        QStringLiteral(
            "1. Select your sound properties through the control panel or the sound icon in your system "
            "tray."),
        QStringLiteral("2. Click on the properties tab."),
        QStringLiteral("3. Check the recording box."),
        QStringLiteral(
            "4. Make sure Wave Out Mix is selected (It's sometimes called stereo mix, or mono mix)."),
        QStringLiteral("5. Now you should be able to set Wave Out as your default for recordings."),
        QString(),
        QStringLiteral("If you don't see an option for Wave Out Mix, please enable it:"),
        QString(),
        QStringLiteral("1. Select sound from the control panel."),
        QStringLiteral("2. Select the recording tab."),
        QStringLiteral("3. Right click on the background of the tab and choose \"show disabled devices.\""),
        QStringLiteral("4. Right click on Wave Out Mix and click enable."),
        QStringLiteral(
            "5. Now it should work the same way as Wave Out Mix in Windows XP, allowing you to record any "
            "sound your computer makes."),
    };
    QString message;
    for (const QString& line : firstBlock)
        message += line + crlf;
    message += crlf;
    message += QStringLiteral("For Windows XP Users:") + crlf + QString(27, QLatin1Char('-')) + crlf;
    if (!RecordLineName.isEmpty())
        message += QStringLiteral(
                       "If you want record the audio of SWF, you must select \"%1\" in next dialog. Note: "
                       "if the \"%1\" can't work, you must try another line one by one.")
                       .arg(RecordLineName);
    else
        message += QStringLiteral("If you want record the audio of SWF, you must try to select different "
                                  "line in next dialog one by one.");
    return message;
}

QString ErrorText(const std::exception& Error) {
    const auto* exception = dynamic_cast<const Exception*>(&Error);
    return exception ? exception->Message() : QString::fromLocal8Bit(Error.what());
}

// Drops the keyboard and mouse input and the close requests aimed at one window or a widget inside
// it, for as long as it lives. Other windows, message boxes among them, get theirs.
class TWindowInputBlock : public QObject {
public:
    explicit TWindowInputBlock(QWidget* Window) : FWindow(Window) { qApp->installEventFilter(this); }
    ~TWindowInputBlock() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        switch (Event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::Close:
            break;
        default:
            return false;
        }
        if (Watched == static_cast<QObject*>(FWindow->windowHandle()))
            return true;
        const auto* widget = qobject_cast<QWidget*>(Watched);
        return widget && widget->window() == FWindow;
    }

private:
    QWidget* FWindow;
};

// Drops right-button presses before any window sees them.
class TRightButtonFilter : public QObject {
protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        switch (Event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent*>(Event)->button() == Qt::RightButton)
                return true;
            break;
        case QEvent::ContextMenu:
            return static_cast<QContextMenuEvent*>(Event)->reason() == QContextMenuEvent::Mouse;
        default:
            break;
        }
        return QObject::eventFilter(Watched, Event);
    }
};
} // namespace

void ShowException(const std::exception& Error) {
    QString text = ErrorText(Error);
    if (!text.isEmpty() && text.back().isLetterOrNumber())
        text += QLatin1Char('.');
    MessageBoxW(nullptr, text, QCoreApplication::applicationName(), MB_OK | MB_ICONERROR);
}

void InstallRightButtonFilter() {
    static TRightButtonFilter* filter = nullptr;
    if (!filter && qApp) {
        filter = new TRightButtonFilter;
        filter->setParent(qApp);
        qApp->installEventFilter(filter);
    }
}

// ---------------------------------------------------------------------------------------------
// Life of the window

TVantrelForm::TVantrelForm(QWidget* Parent) : QWidget(Parent) {
    BuildLayout();
    FormCreate();
}

TVantrelForm::~TVantrelForm() {
    FormDestroy();
}

void TVantrelForm::BuildLayout() {
    setWindowTitle(QStringLiteral("Vantrel (https://vantrel.example.org)"));
    setAcceptDrops(true);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double scale = screen ? screen->logicalDotsPerInchY() / DesignDotsPerInch : 1.0;
    const auto scaled = [scale](int Value) { return static_cast<int>(Value * scale + 0.5); };
    const auto scaledRect = [&](int Left, int Top, int Width, int Height) {
        return QRect(scaled(Left), scaled(Top), scaled(Width), scaled(Height));
    };
    resize(scaled(DesignClientSize.width()), scaled(DesignClientSize.height()));
    move(0, 0);
    setAutoFillBackground(true);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(scaled(14));
    setFont(tahoma);

    FlashPanel = new QFrame(this);
    FlashPanel->setObjectName(QStringLiteral("FlashPanel"));
    FlashPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FlashPanel->setAutoFillBackground(true);
    QPalette panelPalette = FlashPanel->palette();
    panelPalette.setColor(QPalette::Window, QColor(0xCF, 0xCF, 0xCF));
    FlashPanel->setPalette(panelPalette);

    BarPanel = new QFrame(this);
    BarPanel->setObjectName(QStringLiteral("BarPanel"));
    auto* barLayout = new QHBoxLayout(BarPanel);
    barLayout->setContentsMargins(0, 0, 0, 0);

    const auto button = [this](const QString& Name, const QString& Caption) {
        auto* made = new QPushButton(Caption, this);
        made->setObjectName(Name);
        return made;
    };
    OpenButton = button(QStringLiteral("OpenButton"), QStringLiteral("Open SWF"));
    StartButton = button(QStringLiteral("StartButton"), StartConvertCaption);
    AudioButton = button(QStringLiteral("AudioButton"), QStringLiteral("Audio"));
    OptionButton = button(QStringLiteral("OptionButton"), QStringLiteral("Format"));
    CloseButton = button(QStringLiteral("CloseButton"), QStringLiteral("Close"));

    LogPanel = new QLabel(this);
    LogPanel->setObjectName(QStringLiteral("LogPanel"));
    LogPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    LogPanel->setAlignment(Qt::AlignCenter);
    LogPanel->setWordWrap(true);
    LogPanel->setAutoFillBackground(true);
    LogPanel->hide();

    const Qt::Edges all = Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge;
    FLayout = TAnchorLayout(QSize(scaled(DesignClientSize.width()), scaled(DesignClientSize.height())));
    FLayout.Add(FlashPanel, scaledRect(21, 21, 601, 431), all);
    FLayout.Add(BarPanel, scaledRect(21, 460, 599, 38), Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge);
    FLayout.Add(OpenButton, scaledRect(21, 511, 106, 33), Qt::LeftEdge | Qt::BottomEdge);
    FLayout.Add(StartButton, scaledRect(135, 511, 170, 33), Qt::RightEdge | Qt::BottomEdge);
    FLayout.Add(AudioButton, scaledRect(313, 511, 98, 33), Qt::RightEdge | Qt::BottomEdge);
    FLayout.Add(OptionButton, scaledRect(418, 511, 99, 33), Qt::RightEdge | Qt::BottomEdge);
    FLayout.Add(CloseButton, scaledRect(524, 511, 98, 33), Qt::RightEdge | Qt::BottomEdge);
    // The log panel starts at its design place; afterwards it is centred, never anchored.
    LogPanel->setGeometry(scaledRect(186, 188, 304, 54));
    setTabOrder(OpenButton, StartButton);
    setTabOrder(StartButton, AudioButton);
    setTabOrder(AudioButton, OptionButton);
    setTabOrder(OptionButton, CloseButton);

    OpenDialog.DefaultExt = QStringLiteral(".swf");
    OpenDialog.Filter = QStringLiteral("Flash SWF Files (*.swf)|*.swf|All Files (*.*)|*.*");
    SaveDialog.DefaultExt = QStringLiteral(".avi");
    SaveDialog.Filter = QStringLiteral("AVI Video Files (*.avi)|*.avi");
    Timer.setInterval(100);

    connect(OpenButton, &QPushButton::clicked, this, [this] { Guarded([this] { OpenButtonClick(); }); });
    connect(StartButton, &QPushButton::clicked, this, [this] { Guarded([this] { StartButtonClick(); }); });
    connect(AudioButton, &QPushButton::clicked, this, [this] { Guarded([this] { AudioButtonClick(); }); });
    connect(OptionButton, &QPushButton::clicked, this, [this] { Guarded([this] { OptionButtonClick(); }); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { Guarded([this] { CloseButtonClick(); }); });
    connect(&Timer, &QTimer::timeout, this, [this] { Guarded([this] { TimerTimer(); }); });
}

void TVantrelForm::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    FLayout.Apply(size());
    // The player keeps a 2-pixel inset at the top and left of its panel.
    if (FFlash)
        FFlash->setGeometry(2, 2, FlashPanel->width() - 3, FlashPanel->height() - 3);
}

void TVantrelForm::FormCreate() {
    FFlash = new TShockwaveFlash(FlashPanel);
    FFlash->setObjectName(QStringLiteral("Flash"));
    FFlash->setGeometry(2, 2, FlashPanel->width() - 3, FlashPanel->height() - 3);
    FFlash->setVisible(true);

    FAudioOption = 0;
    FVideoOption = 0;
    FOutputFile.clear();
    FMovieFile.clear();
    FTempVideoFile.clear();
    FTempAudioFile.clear();
    FRecordLineName.clear();
    FTimerBusy = false;
    FReadBufferSize = 1024;

    FMixer = std::make_unique<TAudioMixer>();
    MakeRecorder();
    FAppFolder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    RestoreSettings();
    FindRecordingLine();
    FScreenCam = std::make_unique<TScreenCam>(this);
    FScreenCam->OnRecordProgress = [this](TScreenCam* Sender) { CameraProgress(Sender); };
    // Called on the recording thread.
    FScreenCam->OnRecordError = [this](TScreenCam* Sender) {
        const QString failure = Sender->RecordFailure();
        QMetaObject::invokeMethod(
            this,
            [this, failure] {
                if (FVideoFailure.isEmpty())
                    FVideoFailure =
                        failure.isEmpty()
                            ? QStringLiteral("The video recording \"%1\" failed.").arg(FTempVideoFile)
                            : QStringLiteral("The video recording \"%1\" stopped: %2")
                                  .arg(FTempVideoFile, failure);
                RecordingFailed();
            },
            Qt::QueuedConnection);
    };
    InstallRightButtonFilter();
    try {
        FSeekBar = new TMbar(BarPanel);
        ConnectSeekBar(*FSeekBar, *FFlash, FWasPlaying);
        BarPanel->layout()->addWidget(FSeekBar);
        FSeekBar->show();
    } catch (...) {
        // The window works on without a seek bar.
    }
}

void TVantrelForm::FormDestroy() {
    if (FDestroyed)
        return;
    FDestroyed = true;
    Timer.stop();
    RememberSettings();
    FFrameExact.reset(); // cancels a frame-exact conversion and waits for it
    FMixer.reset();
    FRecorder.reset();
    FEncoder.Terminate();
    FScreenCam.reset();
    DeleteTemporaryFiles();
    FEncoder.Reset();
    delete FFlash;
    FFlash = nullptr;
}

void TVantrelForm::CameraProgress(TScreenCam*) {}

QWidget* TVantrelForm::CameraFlash() const {
    return FFlash;
}

bool TVantrelForm::FindRecordingLine() {
    FRecordLineName = SelectWaveOutputLine(*FMixer);
    return true;
}

bool TVantrelForm::MovieLoaded() const {
    return FFlash && !FFlash->GetMovie().isEmpty() && FFlash->TotalFrames() != 0;
}

void TVantrelForm::Guarded(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}

// ---------------------------------------------------------------------------------------------
// Buttons

void TVantrelForm::OpenButtonClick() {
    OpenDialog.InitialDir = FOpenFolder;
    if (!OpenDialog.Execute(this))
        return;
    OpenMovie(OpenDialog.FileName);
}

void TVantrelForm::OpenMovieFile(const QString& FileName) {
    Guarded([this, FileName] { OpenMovie(FileName); });
}

void TVantrelForm::OpenMovie(const QString& chosen) {
    if (QStringLiteral(".") + QFileInfo(chosen).suffix().toUpper() != QStringLiteral(".SWF") ||
        QFileInfo(chosen).suffix().isEmpty()) {
        Inform(this, SelectMovieText);
        FFlash->Stop();
        return;
    }
    FFlash->Stop();
    FFlash->GotoFrame(-1);
    FFlash->Stop();
    int totalFrames = 0;
    try {
        FFlash->SetMovie(chosen);
        totalFrames = FFlash->TotalFrames();
    } catch (const std::exception&) {
        totalFrames = 0;
    }
    if (totalFrames == 0) {
        Inform(this, QStringLiteral("Can't open this \".swf\" file."));
        return;
    }
    FMovieFile = chosen;
    FOpenFolder = QFileInfo(chosen).absolutePath();
    RememberSettings();
    if (FSeekBar) {
        FSeekBar->SetMax(totalFrames);
        FSeekBar->SetPosition(0);
    }
    Timer.start();
}

void TVantrelForm::StartButtonClick() {
    if (!MovieLoaded()) {
        Inform(this, SelectMovieText);
        return;
    }
    // Stopping always stops: an encoder gone missing meanwhile is reported when it cannot start.
    if (StartButton->text() != StartConvertCaption) {
        StopSteps();
        return;
    }
    if (!EncoderFilesPresent(FAppFolder)) {
        MessageBoxW(this, QStringLiteral("Deocder files missed, software need re-install."),
                    QStringLiteral("Error"), MB_OK | MB_ICONERROR);
        return;
    }
    StartSteps();
}

void TVantrelForm::StartSteps() {
    SaveDialog.InitialDir = FSaveFolder;
    if (!SaveDialog.Execute(this))
        return;
    const QString chosen = SaveDialog.FileName;
    FSaveFolder = QFileInfo(chosen).absolutePath();
    RememberSettings();
    if (QFileInfo::exists(chosen) &&
        MessageBoxW(this,
                    QStringLiteral("The AVI File \"%1\" exists, do you want to overwrite it?").arg(chosen),
                    QStringLiteral("Confirm"), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    // A place the encoder cannot write to is found now, not after the whole recording.
    if (const QString problem = OutputLocationProblem(chosen); !problem.isEmpty()) {
        MessageBoxW(this, QStringLiteral("Can't save to \"%1\".").arg(chosen) + QLatin1Char('\n') + problem,
                    QStringLiteral("Error"), MB_OK | MB_ICONERROR);
        return;
    }
    QCursor::setPos(mapToGlobal(StartButton->geometry().topLeft() +
                                QPoint(StartButton->width() / 2, StartButton->height() / 2)));
    SetUIState(false, true);
    FOutputFile = chosen;
    if (FMethodOption == 1) {
        StartFrameExact();
        return;
    }
    // The recordings go into a folder of this conversion's own: their names can then never be the
    // output's, each other's, or another running copy's.
    QString problem;
    if (!MakeTempFolder(problem)) {
        MessageBoxW(this, problem, QStringLiteral("Error"), MB_OK | MB_ICONERROR);
        FOutputFile.clear();
        SetUIState(true, true);
        return;
    }
    const QFileInfo chosenInfo(chosen);
    const QString base =
        chosenInfo.suffix().isEmpty() ? chosenInfo.fileName() : chosenInfo.completeBaseName();
    FTempVideoFile = MakeTempFileName(FTempFolder + QLatin1Char('/') + base + QStringLiteral(".avi"));
    FTempAudioFile = MakeTempFileName(FTempFolder + QLatin1Char('/') + base + QStringLiteral(".wav"));
    HoldPlayerSize(true);
    FScreenCam->FShowMarks = 1;
    FScreenCam->FTrackRegion = 1;
    FScreenCam->Start(FFlash, FTempVideoFile);
    QString soundProblem;
    FSoundFailure.clear();
    FVideoFailure.clear();
    // The program's own sound: the monitor of the sink its player plays to, when the sound server
    // has one; else the system's recording source.
    FRecorder->SetDeviceID(WaveInPlaybackMonitorName().isEmpty() ? WAVE_MAPPER : WAVE_PLAYBACK_MONITOR);
    try {
        if (!FRecorder->RecordToWaveFile(FTempAudioFile))
            soundProblem = FRecorder->LastErrorText();
    } catch (const std::exception& error) {
        soundProblem = ErrorText(error);
    }
    if (!soundProblem.isEmpty()) {
        // Without its sound the recording is no conversion: what was started is undone.
        FScreenCam->Stop();
        WaitForRecordings();
        HoldPlayerSize(false);
        AbandonConversion(QStringLiteral("The sound recording \"%1\" could not start.").arg(FTempAudioFile) +
                          QLatin1Char('\n') + soundProblem);
        return;
    }
    FFlash->setCursor(Qt::BlankCursor);
    FFlash->Play();
    Timer.start();
}

void TVantrelForm::StartFrameExact() {
    convert::ConversionOptions options;
    options.input = FMovieFile;
    options.output = FOutputFile;
    options.target = TargetOfVideoOption(FVideoOption);
    options.sound = FAudioOption == 0;
    options.encoder = FAppFolder + QStringLiteral("ffmpeg");
    if (!FFrameExact) {
        FFrameExact = std::make_unique<TFrameExactJob>(this);
        FFrameExact->OnProgress = [this](const convert::ConversionProgress& Progress) {
            const int percent =
                Progress.expectedFrames > 0
                    ? int(std::min<long long>(100, Progress.frame * 100 / Progress.expectedFrames))
                    : 0;
            LogPanel->setText(QStringLiteral("Converting \"%1\" ... %2% (%3\u00D7 real time)")
                                  .arg(FMovieFile)
                                  .arg(percent)
                                  .arg(Progress.speed, 0, 'f', 1));
            CentreLogPanel(true);
        };
        FFrameExact->OnDone = [this](const convert::ConversionResult& Result) {
            FrameExactDone(Result.ok, Result.error);
        };
    }
    SetUIState(false, false);
    LogPanel->setText(StartCaption(FOutputFile));
    CentreLogPanel(true);
    FFrameExact->Start(options);
}

void TVantrelForm::FrameExactDone(bool Ok, const QString& Error) {
    LogPanel->hide();
    if (Ok)
        Inform(this, QStringLiteral("Convert to \"%1\" successfully.").arg(FOutputFile));
    else if (!Error.endsWith(QLatin1String(": cancelled")))
        MessageBoxW(this,
                    QStringLiteral("Can't convert \"%1\".").arg(FMovieFile) + QStringLiteral("\n") + Error,
                    QStringLiteral("Warning"), MB_OK | MB_ICONWARNING);
    FOutputFile.clear();
    SetUIState(true, false);
}

void TVantrelForm::StopSteps() {
    if (FFrameExact && FFrameExact->Running()) {
        FFrameExact->Cancel(); // the end is reported when the partial output is gone
        return;
    }
    FScreenCam->Stop();
    try {
        FRecorder->SetActive(false);
    } catch (const std::exception& error) {
        FSoundFailure = ErrorText(error);
    }
    FFlash->Stop();
    FFlash->setCursor(Qt::ArrowCursor);
    const bool soundFinished = WaitForRecordings();
    HoldPlayerSize(false);
    if (FOutputFile.isEmpty())
        return;
    LogRecording();
    if (!soundFinished) {
        // A device that never closed is given up, so the next conversion gets a working one.
        MakeRecorder();
        QString reason = QStringLiteral("The sound recording \"%1\" did not finish.").arg(FTempAudioFile);
        if (!FSoundFailure.isEmpty())
            reason += QLatin1Char('\n') + SoundFailureText();
        AbandonConversion(reason);
        return;
    }
    if ((!FSoundFailure.isEmpty() || !FVideoFailure.isEmpty()) && FileExists(FTempVideoFile) &&
        FileExists(FTempAudioFile)) {
        // A recording is cut short: no video made from it is a success. What was recorded stays
        // for the user.
        QStringList reasons;
        if (!FVideoFailure.isEmpty())
            reasons << FVideoFailure;
        if (!FSoundFailure.isEmpty())
            reasons << SoundFailureText();
        const QString text = QStringLiteral("Can't convert \"%1\".").arg(FMovieFile) + QLatin1Char('\n') +
                             reasons.join(QLatin1Char('\n')) + QLatin1Char('\n') +
                             QStringLiteral("The recordings are kept in \"%1\".").arg(FTempFolder);
        FTempFolder.clear();
        FTempAudioFile.clear();
        FTempVideoFile.clear();
        FOutputFile.clear();
        SetUIState(true, false);
        MessageBoxW(this, text, QStringLiteral("Warning"), MB_OK | MB_ICONWARNING);
        return;
    }
    for (const QString& recording : {FTempVideoFile, FTempAudioFile})
        if (!FileExists(recording)) {
            AbandonConversion(QStringLiteral("The recording \"%1\" is missing.").arg(recording));
            return;
        }
    const TEncoderJob job = {FAppFolder,  FTempAudioFile, FTempVideoFile,
                             FOutputFile, FAudioOption,   FVideoOption};
    StartEncoder(::EncoderCommandLine(job), EncoderArguments(job));
}

void TVantrelForm::AbandonConversion(const QString& Reason) {
    DeleteTemporaryFiles();
    FOutputFile.clear();
    SetUIState(true, false);
    MessageBoxW(this, QStringLiteral("Can't convert \"%1\".").arg(FMovieFile) + QLatin1Char('\n') + Reason,
                QStringLiteral("Warning"), MB_OK | MB_ICONWARNING);
}

QString TVantrelForm::SoundFailureText() const {
    // The recorder's own reports name the recording already.
    if (FSoundFailure.contains(FTempAudioFile))
        return FSoundFailure;
    return QStringLiteral("The sound recording \"%1\" failed: %2").arg(FTempAudioFile, FSoundFailure);
}

void TVantrelForm::RecordingFailed() {
    if (!FOutputFile.isEmpty() && FScreenCam->FRecording.load())
        StopSteps();
}

void TVantrelForm::LogRecording() const {
    // What the recordings lost or had filled in, for the user's log (standard error).
    std::fprintf(
        stderr,
        "Recorded %ld video frames (%ld dropped) and the sound (%lu ms of gaps filled with silence).\n",
        long(FScreenCam->FFramesWritten.load()), long(FScreenCam->FDroppedFrames.load()),
        static_cast<unsigned long>(FRecorder->GetGapTime()));
}

void TVantrelForm::MakeRecorder() {
    FRecorder = std::make_unique<TStockAudioRecorder>();
    // A failing sound device is remembered for the end of the conversion, not raised in between.
    FRecorder->OnError = [this](TWaveAudioIO* Sender) {
        if (FSoundFailure.isEmpty())
            FSoundFailure = Sender->LastErrorText();
        QMetaObject::invokeMethod(this, &TVantrelForm::RecordingFailed, Qt::QueuedConnection);
    };
    FRecorder->OnDeactivate = [this](TWaveAudioIO*) {
        if (FWaitLoop)
            FWaitLoop->quit();
    };
}

void TVantrelForm::HoldPlayerSize(bool Hold) {
    if (Hold == FSizeHeld)
        return;
    FSizeHeld = Hold;
    for (QWidget* widget : {static_cast<QWidget*>(this), static_cast<QWidget*>(FFlash)}) {
        if (Hold) {
            widget->setFixedSize(widget->size());
        } else {
            widget->setMinimumSize(0, 0);
            widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        }
    }
}

bool TVantrelForm::WaitForRecordings() {
    // The main window takes no clicks or keys meanwhile; message boxes shown by the recordings do.
    const TWindowInputBlock block(this);
    ServeEventsUntil([this] { return !FScreenCam->ThreadRunning(); }, -1);
    FScreenCam->WaitForThreads(); // the threads have ended: this only joins them
    return ServeEventsUntil([this] { return !FRecorder->GetActive(); }, FRecorderCloseTimeoutMs);
}

bool TVantrelForm::ServeEventsUntil(const std::function<bool()>& Done, int TimeoutMs) {
    if (Done())
        return true;
    QEventLoop loop;
    QTimer check;
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (Done())
            loop.quit();
    });
    check.start(RecordingCheckMs);
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (TimeoutMs >= 0)
        deadline.start(TimeoutMs);
    QEventLoop* const outer = std::exchange(FWaitLoop, &loop);
    while (!Done() && (TimeoutMs < 0 || deadline.isActive()))
        loop.exec();
    FWaitLoop = outer;
    return Done();
}

void TVantrelForm::AudioButtonClick() {
    MessageBoxW(this, AudioGuidance(FRecordLineName), QStringLiteral("Information"),
                MB_OK | MB_ICONINFORMATION);
    if (!FSoundSettingsCommand.isEmpty())
        WinExec(FSoundSettingsCommand, SW_SHOWNORMAL);
}

void TVantrelForm::OptionButtonClick() {
    if (FOptionDlg && RunOptionDialog(*FOptionDlg, FAudioOption, FVideoOption, FMethodOption))
        RememberSettings();
}

void TVantrelForm::RestoreSettings() {
    FSettingsFile = TWindowSettings::DefaultFileName();
    const TWindowSettings settings = TWindowSettings::Load(FSettingsFile);
    FOpenFolder = settings.OpenFolder;
    FSaveFolder = settings.SaveFolder;
    FAudioOption = settings.AudioOption;
    FVideoOption = settings.VideoOption;
    FMethodOption = settings.MethodOption;
    if (settings.WindowSize.isValid()) {
        // A size remembered on a larger screen still fits this one.
        QSize size = settings.WindowSize.expandedTo(MinRestoredSize);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            size = size.boundedTo(screen->availableSize());
        resize(size);
    }
}

void TVantrelForm::RememberSettings() const {
    TWindowSettings settings;
    settings.OpenFolder = FOpenFolder;
    settings.SaveFolder = FSaveFolder;
    settings.AudioOption = FAudioOption;
    settings.VideoOption = FVideoOption;
    settings.MethodOption = FMethodOption;
    settings.WindowSize = size();
    settings.Save(FSettingsFile);
}

void TVantrelForm::dragEnterEvent(QDragEnterEvent* Event) {
    if (OpenButton->isEnabled() && !DroppedFile(Event->mimeData()).isEmpty())
        Event->acceptProposedAction();
}

void TVantrelForm::dropEvent(QDropEvent* Event) {
    const QString file = DroppedFile(Event->mimeData());
    if (!OpenButton->isEnabled() || file.isEmpty())
        return;
    Event->acceptProposedAction();
    OpenMovieFile(file);
}

void TVantrelForm::CloseButtonClick() {
    close();
}

void TVantrelForm::SetUIState(bool Idle, bool NoLogPanel) {
    OpenButton->setEnabled(Idle);
    CloseButton->setEnabled(Idle);
    OptionButton->setEnabled(Idle);
    AudioButton->setEnabled(Idle);
    if (Idle) {
        StartButton->setText(StartConvertCaption);
        LogPanel->hide();
    } else {
        StartButton->setText(StopConvertCaption);
        if (!NoLogPanel) {
            CentreLogPanel(false);
            LogPanel->show();
            LogPanel->raise();
        }
    }
    PumpMessages();
}

void TVantrelForm::CentreLogPanel(bool OnlyWhereChanged) {
    // The window's outer size, frame included; the panel sits one panel height above the centre.
    const QSize outer = frameGeometry().size();
    const int top = (outer.height() - LogPanel->height()) / 2 - LogPanel->height();
    const int left = (outer.width() - LogPanel->width()) / 2;
    if (!OnlyWhereChanged) {
        LogPanel->move(left, top);
        return;
    }
    if (LogPanel->y() != top)
        LogPanel->move(LogPanel->x(), top);
    if (LogPanel->x() != left)
        LogPanel->move(left, LogPanel->y());
}

// ---------------------------------------------------------------------------------------------
// Timer and encoder

void TVantrelForm::TimerTimer() {
    if (FTimerBusy)
        return;
    FTimerBusy = true;
    PumpMessages();
    if (MovieLoaded() && FSeekBar)
        FSeekBar->SetPosition(FFlash->FrameNum());
    PumpMessages();
    struct TClearBusy {
        bool& Busy;
        ~TClearBusy() { Busy = false; }
    } clearBusy{FTimerBusy};

    const QString text = ReadEncoderOutput(FEncoder.OutputRead(), FReadBufferSize);
    if (text.isEmpty())
        if (const std::optional<DWORD> exitCode = FEncoder.ExitCode())
            CompleteConversion(*exitCode);
    if (text.isEmpty())
        return;
    // The tail is kept for the last error line of a failed run.
    FEncoderOutput = (FEncoderOutput + text).right(EncoderOutputKept);
    if (LogPanel->isHidden()) {
        SetUIState(false, false);
        PumpMessages();
    }
    if (!LogPanel->isHidden()) {
        if (const std::optional<QString> caption = ProgressCaption(text, FMovieFile))
            LogPanel->setText(*caption);
        CentreLogPanel(true);
    }
}

void TVantrelForm::CompleteConversion(DWORD ExitCode) {
    Timer.stop();
    FEncoder.Terminate();
    // The ended encoder is forgotten, so later ticks do not take it for a fresh ending.
    FEncoder.Reset();
    if (!LogPanel->isHidden() && FOutputFile.isEmpty()) {
        SetUIState(true, false);
    } else if (!LogPanel->isHidden()) {
        if (FileExists(FOutputFile) && GetFileSizeOf(FOutputFile) == 0)
            QFile::remove(FOutputFile);
        LogPanel->hide();
        // Success needs the encoder's own word as well as a file: an old output it never replaced
        // is no result.
        if (ExitCode == 0 && FileExists(FOutputFile))
            Inform(this, QStringLiteral("Convert to \"%1\" successfully.").arg(FOutputFile));
        else {
            QString text = QStringLiteral("Can't convert \"%1\".").arg(FMovieFile);
            if (const QString reason = LastEncoderErrorLine(FEncoderOutput); !reason.isEmpty())
                text += QLatin1Char('\n') + reason;
            MessageBoxW(this, text, QStringLiteral("Warning"), MB_OK | MB_ICONWARNING);
        }
        DeleteTemporaryFiles();
        FOutputFile.clear();
        SetUIState(true, false);
    }
    // The seek bar follows playback again.
    if (MovieLoaded())
        Timer.start();
}

void TVantrelForm::StartEncoder(const QString& CommandLine, const QStringList& Arguments) {
    LogPanel->setText(StartCaption(FOutputFile));
    FEncoder.Terminate();
    if (LogPanel->isHidden()) {
        SetUIState(false, false);
        PumpMessages();
    }
    FEncoderOutput.clear();
    if (FEncoder.Start(CommandLine, Arguments)) {
        Timer.start();
        return;
    }
    // The recordings stay for the user, and the message says where; the window is ready again.
    QString text = QStringLiteral("Can't start convert process.");
    if (!FTempFolder.isEmpty() && QFileInfo::exists(FTempFolder)) {
        text += QStringLiteral("\nThe recordings are kept in \"%1\".").arg(FTempFolder);
        FTempFolder.clear();
        FTempAudioFile.clear();
        FTempVideoFile.clear();
    }
    FOutputFile.clear();
    SetUIState(true, false);
    MessageBoxW(this, text, QStringLiteral("Error"), MB_OK | MB_ICONERROR);
}

void TVantrelForm::DeleteTemporaryFiles() {
    DeleteIfExists(FTempAudioFile);
    DeleteIfExists(FTempVideoFile);
    // Only when empty: a recording kept for the user stays where the message said.
    if (!FTempFolder.isEmpty() && QDir().rmdir(FTempFolder))
        FTempFolder.clear();
}

bool TVantrelForm::MakeTempFolder(QString& Problem) {
    const QString pattern = GetTempDirectory() + QStringLiteral("vantrel-XXXXXX");
    QByteArray name = QFile::encodeName(pattern);
    if (!::mkdtemp(name.data())) {
        Problem = QStringLiteral("Can't create temp file \"%1\".").arg(pattern) + QLatin1Char('\n') +
                  QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    FTempFolder = QFile::decodeName(name);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Files

QString TVantrelForm::GetTempDirectory() {
    QString folder = QDir::tempPath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString TVantrelForm::MakeTempFileName(const QString& Name) const {
    QString name = Name.contains(QLatin1Char('/')) ? Name : GetTempDirectory() + Name;
    if (!QFileInfo::exists(name))
        return name;
    if (!name.contains(QLatin1Char('*'))) {
        const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot > slash)
            name = name.left(dot) + QStringLiteral("*.") + name.mid(dot + 1);
        else
            name += QStringLiteral("*.");
    }
    const DWORD start = GetTickCount();
    for (DWORD counter = start;; ++counter) {
        if (counter - start > 10000) {
            QString shown = name;
            shown.replace(shown.indexOf(QLatin1Char('*')), 1, QStringLiteral("{UniqueID}"));
            throw Exception(QStringLiteral("Can't create temp file \"%1\".").arg(shown));
        }
        QString candidate = name;
        candidate.replace(candidate.indexOf(QLatin1Char('*')), 1,
                          QStringLiteral("%1").arg(counter, 8, 16, QLatin1Char('0')).toUpper());
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

qint64 TVantrelForm::GetFileSizeOf(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, file.errorString()));
    return file.size();
}

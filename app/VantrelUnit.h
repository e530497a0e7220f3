#pragma once
// The main window: the player in its panel, the seek bar under it, the buttons, and the conversion
// workflow behind them (open a movie, record its picture and sound, run the encoder, report).
// Every conversion ends in a message and an idle window. An output place that cannot be written
// is refused before recording. A sound recording that cannot start or does not close within 10 s
// of the stop, or a recording gone missing, ends the conversion without the encoder, and the
// recordings are removed; a sound device that fails while recording ends it too, but the
// recordings are kept and the message says where. While a stop waits for the recordings, the
// window takes no input, but message boxes do. A movie can also come from the command line or be
// dropped on the idle window, with the Open button's checks. The last folders, the Format choices
// and the window's size are remembered between runs (app/Settings.h).

#include "app/AnchorLayout.h"
#include "app/EncoderRunner.h"
#include "platform/Dialogs.h"
#include "platform/Processes.h"
#include "video/scrcam.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

using namespace win; // the platform layer's Windows-style names

class QEventLoop;
class QFrame;
class TAudioMixer;
class TFrameExactJob;
class TMbar;
class TOptionDlg;
class TShockwaveFlash;
class TStockAudioRecorder;

class TVantrelForm : public QWidget, public TCameraHost {
public:
    explicit TVantrelForm(QWidget* Parent = nullptr);
    ~TVantrelForm() override;

    // The format dialog, made by the program entry right after this window.
    void SetOptionDialog(TOptionDlg* Dialog) { FOptionDlg = Dialog; }

    // Handlers of the designed components.
    void OpenButtonClick();
    void StartButtonClick();
    void AudioButtonClick();
    void OptionButtonClick();
    void CloseButtonClick();
    void TimerTimer();

    bool MovieLoaded() const;
    // Opens a movie named outside the window (the command line) with the Open button's checks and
    // messages; an error is shown, never thrown.
    void OpenMovieFile(const QString& FileName);

    QWidget* CameraForm() const override { return const_cast<TVantrelForm*>(this); }
    QWidget* CameraFlashPanel() const override { return FlashPanel; }
    QWidget* CameraFlash() const override;

    // Designed components.
    QFrame* FlashPanel;
    QFrame* BarPanel;
    QPushButton* OpenButton;
    QPushButton* StartButton;
    QPushButton* AudioButton;
    QPushButton* OptionButton;
    QPushButton* CloseButton;
    QLabel* LogPanel;
    TOpenDialog OpenDialog;
    TSaveDialog SaveDialog;
    QTimer Timer;

protected:
    void resizeEvent(QResizeEvent* Event) override;
    // A .swf dropped on the idle window is opened; nothing is taken while converting.
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    // Tests read and set the window's state through this.
    friend class TVantrelFormProbe;

    void FormCreate();
    void FormDestroy();
    void CameraProgress(TScreenCam* Sender);
    void BuildLayout();
    void SetUIState(bool Idle, bool NoLogPanel);
    // The Open button's work once a file is chosen: the extension and the movie are checked.
    void OpenMovie(const QString& FileName);
    void StartSteps();
    void StopSteps();
    // The frame-exact method: the movie converted frame by frame on a worker thread.
    void StartFrameExact();
    void FrameExactDone(bool Ok, const QString& Error);
    void CompleteConversion(DWORD ExitCode);
    void CentreLogPanel(bool OnlyWhereChanged);
    // While recording, the window cannot be resized or maximised, and the player keeps its size
    // even if a window manager resizes the window anyway: every frame has the starting size.
    void HoldPlayerSize(bool Hold);
    void StartEncoder(const QString& CommandLine, const QStringList& Arguments);
    // Lets the recordings finish their files: the camera's thread ends, the recorder's close is
    // handled. Events are served meanwhile, and the window takes no input. False when the sound
    // recording did not close within FRecorderCloseTimeoutMs: its file is unfinished.
    bool WaitForRecordings();
    // Serves events until Done() holds, at most TimeoutMs (no limit when negative), without spinning:
    // it wakes for events and every few milliseconds to look. Gives Done() at the end.
    bool ServeEventsUntil(const std::function<bool()>& Done, int TimeoutMs);
    // A recording that cannot become a video: the leftovers go, the window is idle again, and the
    // message says why.
    void AbandonConversion(const QString& Reason);
    // A fresh recorder: its errors are kept for the end of the conversion, its close wakes a stop.
    void MakeRecorder();
    void LogRecording() const;
    QString SoundFailureText() const;
    // A recording stopped by itself (a full disk, a lost device): the conversion stops at once.
    void RecordingFailed();
    void DeleteTemporaryFiles();
    // A private folder for this conversion's recordings; false with a message when there is none.
    bool MakeTempFolder(QString& Problem);
    bool FindRecordingLine();
    // The remembered folders, format choices and window size (app/Settings.h).
    void RestoreSettings();
    void RememberSettings() const;
    // A free name in the temporary folder for Name (a file name or a full name).
    QString MakeTempFileName(const QString& Name) const;
    static QString GetTempDirectory();
    // The file's size in bytes; raises an error when it cannot be opened.
    static qint64 GetFileSizeOf(const QString& FileName);
    // Runs a handler; an error escaping it is shown by the application's error box.
    void Guarded(const std::function<void()>& Handler);

    TMbar* FSeekBar = nullptr;
    std::unique_ptr<TScreenCam> FScreenCam;
    bool FWasPlaying = false;
    QString FTempVideoFile;
    QString FTempAudioFile;
    QString FTempFolder; // this conversion's own, mode 0700, removed with the files
    QString FRecordLineName;
    QString FAppFolder;
    QString FMovieFile;
    QString FSettingsFile;
    QString FOpenFolder; // where the last movie was opened from
    QString FSaveFolder; // where the last output was saved
    QString FOutputFile;
    TEncoderProcess FEncoder;
    QString FEncoderOutput; // the latest output of the running encoder
    int FReadBufferSize = 1024;
    bool FTimerBusy = false;
    int FAudioOption = 0;
    int FVideoOption = 0;
    int FMethodOption = 0; // 0 screen recording, 1 frame-exact
    std::unique_ptr<TFrameExactJob> FFrameExact;
    std::unique_ptr<TAudioMixer> FMixer;
    std::unique_ptr<TStockAudioRecorder> FRecorder;
    TShockwaveFlash* FFlash = nullptr;
    TOptionDlg* FOptionDlg = nullptr;
    // What the "Audio" button starts after its message: the system's sound settings.
    QString FSoundSettingsCommand = QStringLiteral("pavucontrol --tab=4");
    TAnchorLayout FLayout{QSize()}; // the designed components but the log panel, which is centred
    bool FSizeHeld = false;
    // How long a stop waits for the sound recording's close.
    int FRecorderCloseTimeoutMs = 10000;
    QString FSoundFailure;           // the first error of this conversion's sound recording
    QString FVideoFailure;           // why this conversion's video recording stopped by itself
    QEventLoop* FWaitLoop = nullptr; // the wait in progress, woken by the recorder's close
    bool FDestroyed = false;
};

// Shows an error that escaped an event handler as the application does: an error box titled with
// the application's title, its text ending in a full stop when it ends in a letter or digit.
void ShowException(const std::exception& Error);
// Drops every right-button press of the application, so no window (the player included) shows a
// context menu.
void InstallRightButtonFilter();

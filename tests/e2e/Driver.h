#pragma once
// Drives the real program in a real window on an X server with xdotool, as a user would: starts it,
// clicks its buttons, answers its dialogs, and reads the messages it shows (each message box is
// also written to its standard error).

#include <QProcess>
#include <QString>
#include <QStringList>

// A private X server and sound server in Folder, stopped when this goes. Once Start succeeds, the
// environment (DISPLAY, PULSE_SERVER) points at them and Qt in this process draws offscreen.
class TPrivateServers {
public:
    explicit TPrivateServers(const QString& Folder) : FFolder(Folder) {}
    ~TPrivateServers();
    TPrivateServers(const TPrivateServers&) = delete;
    TPrivateServers& operator=(const TPrivateServers&) = delete;
    bool Start();

private:
    QString FFolder;
};

// One run of the program.
class TProgramRun {
public:
    TProgramRun() = default;
    ~TProgramRun();

    // Starts Program with the design's layout at 120 dots per inch, so that component positions are
    // the designed ones, and TemporaryFolder as its temporary folder; true once its main window is
    // on the screen. Arguments go on its command line.
    bool Start(const QString& Program, const QString& TemporaryFolder, const QStringList& Arguments = {});
    // True once a message box with exactly this text has been shown; it is then answered with
    // Return.
    bool WaitForMessage(const QString& Caption, const QString& Text, int TimeoutMs);
    QString Output() const { return FOutput; }
    qint64 ProcessId() const { return FProcess.processId(); }
    // Ends the program if it still runs.
    void Kill();

    // Clicks at a point of the main window's client area (design coordinates).
    void Click(int X, int Y, int Button = 1);
    // Opens a movie through "Open SWF".
    bool OpenMovie(const QString& FileName);
    // Sets the "Format" dialog's choices (the method: screen recording, or frame-exact) and presses OK.
    bool ChooseFormat(bool IncludeAudio, int VideoIndex, bool FrameExact = false);
    // "Start Convert", the output chosen in the save dialog, recording for Milliseconds, "Stop
    // Convert"; true when the program reported the conversion's success.
    bool Convert(const QString& Output, int Milliseconds, QString* Failure);
    // "Start Convert" with the frame-exact method, the output chosen; true when the program reported
    // the conversion's success (no "Stop Convert": the conversion ends by itself).
    bool ConvertFrameExact(const QString& Output, QString* Failure);
    // Visible top-level windows.
    QStringList VisibleWindows() const;
    // "Start Convert", the output chosen, recording for Milliseconds, "Stop Convert"; returns at once.
    bool StartAndStop(const QString& Output, int Milliseconds);
    // Asks the main window to close, as its close box does.
    void CloseMainWindow();
    // True once the program has ended.
    bool WaitForEnd(int TimeoutMs);
    // Process ids of the program's running children named Name.
    QList<qint64> Children(const QString& Name) const;

private:
    void Pump(int Milliseconds);
    QString WaitForWindow(const QString& NamePattern, int TimeoutMs) const;
    bool AnswerFileDialog(const QString& NamePattern, const QString& FileName);

    QProcess FProcess;
    QString FOutput;
    QString FMainWindow;
};

// Runs xdotool with Arguments; its standard output, or an empty string when it failed.
QString Xdotool(const QStringList& Arguments);

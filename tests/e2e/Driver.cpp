#include "Driver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPoint>
#include <QThread>

#include <X11/Xlib.h>

namespace {
// Designed centres of the main window's buttons (client coordinates at 120 dots per inch).
const QPoint OpenButtonCentre(21 + 53, 511 + 16);
const QPoint StartButtonCentre(135 + 85, 511 + 16);
const QPoint OptionButtonCentre(418 + 49, 511 + 16);
} // namespace

QString Xdotool(const QStringList& Arguments) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), Arguments);
    if (!xdotool.waitForFinished(30000) || xdotool.exitCode() != 0)
        return {};
    return QString::fromUtf8(xdotool.readAllStandardOutput()).trimmed();
}

namespace {
bool RunServerScript(const QString& Script, const QStringList& Arguments, QString* Output = nullptr) {
    QProcess process;
    process.start(QStringLiteral(VANTREL_SOURCE_DIR "/scripts/") + Script, Arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return false;
    if (Output)
        *Output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return true;
}
} // namespace

bool TPrivateServers::Start() {
    QString display, sound;
    if (!RunServerScript("xvfb-test-server", {"start", FFolder + "/xvfb"}, &display) ||
        !RunServerScript("pulse-test-server", {"start", FFolder + "/pulse"}, &sound))
        return false;
    qputenv("DISPLAY", display.toUtf8());
    qputenv("PULSE_SERVER", sound.toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}

TPrivateServers::~TPrivateServers() {
    RunServerScript("xvfb-test-server", {"stop", FFolder + "/xvfb"});
    RunServerScript("pulse-test-server", {"stop", FFolder + "/pulse"});
}

TProgramRun::~TProgramRun() {
    Kill();
}

void TProgramRun::Kill() {
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

void TProgramRun::Pump(int Milliseconds) {
    QElapsedTimer timer;
    timer.start();
    do {
        FProcess.waitForReadyRead(std::max<qint64>(1, std::min<qint64>(50, Milliseconds - timer.elapsed())));
        FOutput += QString::fromUtf8(FProcess.readAllStandardError());
        QCoreApplication::processEvents();
    } while (timer.elapsed() < Milliseconds);
}

bool TProgramRun::Start(const QString& Program, const QString& TemporaryFolder,
                        const QStringList& Arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), TemporaryFolder);
    // Every run starts from the design, never from what an earlier run remembered.
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), TemporaryFolder + QStringLiteral("/config"));
    environment.insert(QStringLiteral("QT_FONT_DPI"), QStringLiteral("120"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    FProcess.setProcessEnvironment(environment);
    FProcess.start(Program, Arguments);
    if (!FProcess.waitForStarted(10000))
        return false;
    FMainWindow = WaitForWindow(QStringLiteral("^Vantrel"), 20000);
    Pump(500);
    return !FMainWindow.isEmpty();
}

QString TProgramRun::WaitForWindow(const QString& NamePattern, int TimeoutMs) const {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < TimeoutMs) {
        const QString found = Xdotool({"search", "--onlyvisible", "--name", NamePattern});
        if (!found.isEmpty())
            return found.split('\n').last();
        QThread::msleep(100);
    }
    return {};
}

QStringList TProgramRun::VisibleWindows() const {
    return Xdotool({"search", "--onlyvisible", "--name", "."}).split('\n', Qt::SkipEmptyParts);
}

void TProgramRun::Click(int X, int Y, int Button) {
    Xdotool({"mousemove", "--window", FMainWindow, QString::number(X), QString::number(Y), "click",
             QString::number(Button)});
    Pump(300);
}

bool TProgramRun::AnswerFileDialog(const QString& NamePattern, const QString& FileName) {
    const QString dialog = WaitForWindow(NamePattern, 10000);
    if (dialog.isEmpty())
        return false;
    Pump(300);
    Xdotool({"windowfocus", "--sync", dialog});
    // The file name field has the focus; a full name there goes straight to that file.
    Xdotool({"key", "--clearmodifiers", "ctrl+a"});
    Xdotool({"type", "--delay", "5", FileName});
    Xdotool({"key", "Return"});
    Pump(500);
    return true;
}

bool TProgramRun::WaitForMessage(const QString& Caption, const QString& Text, int TimeoutMs) {
    const QString line = Caption + QStringLiteral(": ") + Text;
    QElapsedTimer timer;
    timer.start();
    while (!FOutput.contains(line)) {
        if (timer.elapsed() > TimeoutMs || FProcess.state() == QProcess::NotRunning)
            return false;
        Pump(100);
    }
    const QString box = WaitForWindow(QStringLiteral("^") + Caption + QStringLiteral("$"), 5000);
    if (!box.isEmpty()) {
        Xdotool({"windowfocus", "--sync", box});
        Xdotool({"key", "Return"});
    }
    Pump(300);
    return true;
}

bool TProgramRun::OpenMovie(const QString& FileName) {
    Click(OpenButtonCentre.x(), OpenButtonCentre.y());
    return AnswerFileDialog(QStringLiteral("^Open"), FileName);
}

bool TProgramRun::ChooseFormat(bool IncludeAudio, int VideoIndex, bool FrameExact) {
    Click(OptionButtonCentre.x(), OptionButtonCentre.y());
    const QString dialog = WaitForWindow(QStringLiteral("^Options$"), 10000);
    if (dialog.isEmpty())
        return false;
    Pump(300);
    Xdotool({"windowfocus", "--sync", dialog});
    // Focus order: OK, Cancel, the audio group's choice, the video group's choice, the method's.
    // Arrow keys move the choice within a group; the video group's items fill two columns of four,
    // top to bottom, the method's one column.
    Xdotool({"key", "Tab", "Tab"});
    Xdotool({"key", IncludeAudio ? "Left" : "Right"});
    Xdotool({"key", "Tab"});
    Xdotool({"key", "Left", "Up", "Up", "Up"}); // NTSC-VCD
    if (VideoIndex >= 4)
        Xdotool({"key", "Right"});
    for (int row = 0; row < VideoIndex % 4; ++row)
        Xdotool({"key", "Down"});
    Xdotool({"key", "Tab"});
    Xdotool({"key", FrameExact ? "Down" : "Up"});
    Xdotool({"key", "Return"});
    Pump(300);
    return WaitForWindow(QStringLiteral("^Options$"), 300).isEmpty();
}

bool TProgramRun::StartAndStop(const QString& Output, int Milliseconds) {
    Click(StartButtonCentre.x(), StartButtonCentre.y());
    if (!AnswerFileDialog(QStringLiteral("^Save"), Output))
        return false;
    Pump(Milliseconds);
    // No pumping after this click: the caller watches what follows at once.
    Xdotool({"mousemove", "--window", FMainWindow, QString::number(StartButtonCentre.x()),
             QString::number(StartButtonCentre.y()), "click", "1"});
    return true;
}

bool TProgramRun::ConvertFrameExact(const QString& Output, QString* Failure) {
    Click(StartButtonCentre.x(), StartButtonCentre.y());
    if (!AnswerFileDialog(QStringLiteral("^Save"), Output)) {
        *Failure = QStringLiteral("no save dialog");
        return false;
    }
    if (!WaitForMessage(QStringLiteral("Information"),
                        QStringLiteral("Convert to \"%1\" successfully.").arg(Output), 180000)) {
        *Failure = QStringLiteral("no success message; the program said:\n") + FOutput;
        return false;
    }
    return true;
}

bool TProgramRun::Convert(const QString& Output, int Milliseconds, QString* Failure) {
    if (!StartAndStop(Output, Milliseconds)) {
        *Failure = QStringLiteral("no save dialog");
        return false;
    }
    if (!WaitForMessage(QStringLiteral("Information"),
                        QStringLiteral("Convert to \"%1\" successfully.").arg(Output), 180000)) {
        *Failure = QStringLiteral("no success message; the program said:\n") + FOutput;
        return false;
    }
    return true;
}

void TProgramRun::CloseMainWindow() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = FMainWindow.toULong();
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XCloseDisplay(display);
}

bool TProgramRun::WaitForEnd(int TimeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (FProcess.state() != QProcess::NotRunning) {
        if (timer.elapsed() > TimeoutMs)
            return false;
        Pump(50);
    }
    return true;
}

QList<qint64> TProgramRun::Children(const QString& Name) const {
    QList<qint64> children;
    const qint64 parent = FProcess.processId();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (name) state ppid ...
        const QString line = QString::fromUtf8(stat.readAll());
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QStringList rest = line.mid(close + 2).split(' ');
        if (line.mid(open + 1, close - open - 1) == Name && rest.size() > 1 && rest[0] != "Z" &&
            rest[1].toLongLong() == parent)
            children << entry.toLongLong();
    }
    return children;
}

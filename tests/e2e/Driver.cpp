#include "Driver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPoint>
#include <QThread>

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

bool TProgramRun::Start(const QString& Program, const QString& TemporaryFolder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), TemporaryFolder);
    environment.insert(QStringLiteral("QT_FONT_DPI"), QStringLiteral("120"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    FProcess.setProcessEnvironment(environment);
    FProcess.start(Program, {});
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

bool TProgramRun::ChooseFormat(bool IncludeAudio, int VideoIndex) {
    Click(OptionButtonCentre.x(), OptionButtonCentre.y());
    const QString dialog = WaitForWindow(QStringLiteral("^Options$"), 10000);
    if (dialog.isEmpty())
        return false;
    Pump(300);
    Xdotool({"windowfocus", "--sync", dialog});
    // Focus order: OK, Cancel, the audio group's choice, the video group's choice. Arrow keys move
    // the choice within a group, whose items fill two columns top to bottom.
    Xdotool({"key", "Tab", "Tab"});
    Xdotool({"key", IncludeAudio ? "Left" : "Right"});
    Xdotool({"key", "Tab"});
    Xdotool({"key", "Left", "Up"}); // NTSC-VCD
    if (VideoIndex >= 2)
        Xdotool({"key", "Right"});
    if (VideoIndex % 2 == 1)
        Xdotool({"key", "Down"});
    Xdotool({"key", "Return"});
    Pump(300);
    return WaitForWindow(QStringLiteral("^Options$"), 300).isEmpty();
}

bool TProgramRun::Convert(const QString& Output, int Milliseconds, QString* Failure) {
    Click(StartButtonCentre.x(), StartButtonCentre.y());
    if (!AnswerFileDialog(QStringLiteral("^Save"), Output)) {
        *Failure = QStringLiteral("no save dialog");
        return false;
    }
    Pump(Milliseconds);
    Click(StartButtonCentre.x(), StartButtonCentre.y());
    if (!WaitForMessage(QStringLiteral("Information"),
                        QStringLiteral("Convert to \"%1\" successfully.").arg(Output), 180000)) {
        *Failure = QStringLiteral("no success message; the program said:\n") + FOutput;
        return false;
    }
    return true;
}

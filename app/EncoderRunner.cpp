#include "app/EncoderRunner.h"

#include "convert/Targets.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <limits>
#include <unistd.h>
#include <vector>

namespace {

const QString EncoderName = QStringLiteral("ffmpeg");

QString VideoTarget(int VideoOption) {
    switch (VideoOption) {
    case 0:
        return QStringLiteral("ntsc-vcd");
    case 1:
        return QStringLiteral("ntsc-dvd");
    case 2:
        return QStringLiteral("pal-vcd");
    case 3:
        return QStringLiteral("pal-dvd");
    default:
        return {};
    }
}

// MP4, WebM and GIF: the codecs and container the frame-exact conversion writes them with; a GIF of a
// recording gets a palette made for it in the same pass.
QStringList FileTargetArguments(int VideoOption) {
    const std::optional<convert::Target> target = VideoOption == 4   ? std::optional(convert::Target::Mp4)
                                                  : VideoOption == 5 ? std::optional(convert::Target::Webm)
                                                  : VideoOption == 6 ? std::optional(convert::Target::Gif)
                                                                     : std::nullopt;
    if (!target)
        return {};
    QStringList arguments = convert::OutputArguments(*target, QString());
    arguments.removeLast(); // the output's place
    if (*target == convert::Target::Gif)
        arguments =
            QStringList{
                QStringLiteral("-vf"),
                QStringLiteral("split[frames][copy];[copy]palettegen[palette];[frames][palette]paletteuse")} +
            arguments;
    return arguments;
}

QString Quoted(const QString& Text) {
    return QLatin1Char('"') + Text + QLatin1Char('"');
}

// Blanks and control characters at both ends go, as they do in the encoder's padded figures.
QString TrimControls(const QString& Text) {
    qsizetype first = 0;
    qsizetype last = Text.size();
    while (first < last && Text[first].unicode() <= u' ')
        ++first;
    while (last > first && Text[last - 1].unicode() <= u' ')
        --last;
    return Text.mid(first, last - first);
}

// "512kb" (or "512kib", as newer encoders write it) as a byte count; nothing when it is no positive
// kilobyte figure.
std::optional<qint64> KilobytesToBytes(const QString& Size) {
    qsizetype suffix = 0;
    if (Size.endsWith(QLatin1String("kib")))
        suffix = 3;
    else if (Size.endsWith(QLatin1String("kb")))
        suffix = 2;
    else
        return std::nullopt;
    bool ok = false;
    const qint64 kilobytes = Size.left(Size.size() - suffix).toLongLong(&ok, 10);
    if (!ok || kilobytes <= 0 || kilobytes > std::numeric_limits<qint64>::max() / 1024)
        return std::nullopt;
    return kilobytes * 1024;
}

QString TwoDecimals(double Value) {
    QLocale locale = QLocale::system();
    // "%.2f" knows no thousands separators.
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(Value, 'f', 2);
}

} // namespace

bool FileHasSignature(const QString& FileName, qint64 Offset, const QByteArray& Bytes) {
    QFile file(FileName);
    if (Offset < 0 || !file.open(QIODevice::ReadOnly) || !file.seek(Offset))
        return false;
    return file.read(Bytes.size()) == Bytes;
}

bool EncoderFilesPresent(const QString& AppFolder) {
    const QString program = AppFolder + EncoderName;
    const QFileInfo info(program);
    return info.isFile() && info.isExecutable() &&
           FileHasSignature(program, 0,
                            QByteArray("\x7F"
                                       "ELF",
                                       4));
}

QStringList EncoderArguments(const TEncoderJob& Job) {
    QStringList arguments{Job.AppFolder + EncoderName, QStringLiteral("-y")};
    if (Job.AudioOption == 0)
        arguments << QStringLiteral("-i") << Job.TempAudioFile;
    arguments << QStringLiteral("-i") << Job.TempVideoFile;
    const QString target = VideoTarget(Job.VideoOption);
    if (!target.isEmpty())
        arguments << QStringLiteral("-target") << target;
    arguments << FileTargetArguments(Job.VideoOption) << Job.OutputFile;
    return arguments;
}

QString EncoderCommandLine(const TEncoderJob& Job) {
    QString line = Quoted(Job.AppFolder + EncoderName) + QStringLiteral(" -y");
    if (Job.AudioOption == 0)
        line += QStringLiteral(" -i ") + Quoted(Job.TempAudioFile);
    line += QStringLiteral(" -i ") + Quoted(Job.TempVideoFile);
    const QString target = VideoTarget(Job.VideoOption);
    if (!target.isEmpty())
        line += QStringLiteral(" -target ") + target;
    for (const QString& argument : FileTargetArguments(Job.VideoOption))
        line += QLatin1Char(' ') + argument;
    return line + QLatin1Char(' ') + Quoted(Job.OutputFile);
}

int PosFrom(const QString& Sub, const QString& Text, int Start) {
    if (Start < 1 || Sub.isEmpty())
        return 0;
    const qsizetype index = Text.indexOf(Sub, Start - 1);
    return index < 0 ? 0 : static_cast<int>(index + 1);
}

QString FormatSize(qint64 Bytes) {
    if (Bytes >= 1000000)
        return TwoDecimals(static_cast<double>(Bytes) / 1000000) + QStringLiteral(" MB");
    if (Bytes >= 1000)
        return TwoDecimals(static_cast<double>(Bytes) / 1000) + QStringLiteral(" KB");
    return QString::number(Bytes) + QStringLiteral(" Bytes");
}

QString StartCaption(const QString& OutputFile) {
    return QStringLiteral("Start to convert ") + Quoted(OutputFile) + QStringLiteral(" ...");
}

std::optional<QString> ProgressCaption(const QString& Text, const QString& MovieFile) {
    const int p = PosFrom(QStringLiteral("size="), Text, 1);
    const int q = PosFrom(QStringLiteral("time="), Text, p);
    if (p <= 0 || q <= p)
        return std::nullopt;
    QString size = TrimControls(Text.mid(p + 4, q - p - 5).toLower());
    if (const std::optional<qint64> bytes = KilobytesToBytes(size))
        size = FormatSize(*bytes);
    return QStringLiteral("Converting ") + Quoted(MovieFile) + QStringLiteral(" ... ") + size;
}

QString ReadEncoderOutput(HANDLE Pipe, int ReadBufferSize) {
    QString text;
    const DWORD waiting = GetFileSize(Pipe, nullptr);
    if (waiting == 0 || waiting == INVALID_FILE_SIZE || ReadBufferSize <= 0)
        return text;
    std::vector<char> buffer(static_cast<size_t>(ReadBufferSize));
    const DWORD wanted = static_cast<DWORD>(ReadBufferSize);
    DWORD got = 0;
    // ReadFile never waits, so a last read on an emptied pipe ends the loop with 0 bytes.
    do {
        if (!ReadFile(Pipe, buffer.data(), wanted, &got, nullptr))
            break;
        if (got > 0)
            text = QString::fromLocal8Bit(buffer.data(), got);
    } while (got == wanted);
    return text;
}

QString OutputLocationProblem(const QString& OutputFile) {
    const QFileInfo output(OutputFile);
    const auto systemText = [](int Error) { return QString::fromLocal8Bit(std::strerror(Error)); };
    // A file made and removed at once is the only sure test: permissions say nothing of a
    // read-only mount, nor of what the superuser may do.
    QByteArray probe = QFile::encodeName(output.absolutePath() + QStringLiteral("/.vantrel-XXXXXX"));
    const int descriptor = ::mkstemp(probe.data());
    if (descriptor < 0)
        return systemText(errno);
    ::close(descriptor);
    ::unlink(probe.constData());
    if (output.exists() && (output.isDir() || ::access(QFile::encodeName(OutputFile).constData(), W_OK) != 0))
        return systemText(output.isDir() ? EISDIR : errno);
    return {};
}

QString LastEncoderErrorLine(const QString& Output) {
    const QStringList lines =
        Output.split(QRegularExpression(QStringLiteral("[\\r\\n]")), Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString trimmed = line->trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith(QLatin1String("frame=")) &&
            !trimmed.startsWith(QLatin1String("size=")))
            return trimmed;
    }
    return {};
}

bool TEncoderProcess::Start(const QString& CommandLine, const QStringList& Arguments) {
    Reset();
    SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    CreatePipe(&FOutputRead, &FOutputWrite, &security, 0);
    CreatePipe(&FInputRead, &FInputWrite, &security, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(STARTUPINFOW);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = FInputRead;
    startup.hStdOutput = FOutputWrite;
    startup.hStdError = FOutputWrite;
    if (!CreateProcessW(QString(), CommandLine, &security, &security, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        QString(), &startup, &FInfo, &Arguments)) {
        Reset();
        return false;
    }
    // Our copies of the child's ends would keep the pipe open after it ends.
    CloseHandle(FOutputWrite);
    CloseHandle(FInputRead);
    FOutputWrite = FInputRead = 0;
    return true;
}

void TEncoderProcess::Reset() {
    for (HANDLE* handle :
         {&FOutputRead, &FOutputWrite, &FInputRead, &FInputWrite, &FInfo.hProcess, &FInfo.hThread}) {
        if (*handle)
            CloseHandle(*handle);
        *handle = 0;
    }
    FInfo = {};
}

std::optional<DWORD> TEncoderProcess::ExitCode() const {
    DWORD exitCode = 0;
    if (!FInfo.hProcess || !GetExitCodeProcess(FInfo.hProcess, &exitCode) || exitCode == STILL_ACTIVE)
        return std::nullopt;
    return exitCode;
}

void TEncoderProcess::Terminate() {
    DWORD exitCode = 0;
    if (FInfo.hProcess && GetExitCodeProcess(FInfo.hProcess, &exitCode) && exitCode == STILL_ACTIVE)
        TerminateProcess(FInfo.hProcess, 0);
}

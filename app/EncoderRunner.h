#pragma once
// The encoder runner's pieces that need no window: the installation test, the encoder's command
// line, the running encoder's handles, reading its output pipe and turning that output into the
// progress caption.

#include "platform/Processes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

using namespace win; // the platform layer's Windows-style names

// True when the file holds Bytes at byte Offset; any error or a file too short gives false.
bool FileHasSignature(const QString& FileName, qint64 Offset, const QByteArray& Bytes);

// The encoder is installed: AppFolder (which ends in a separator) holds "ffmpeg", an executable
// ELF program file (the build links it to the system's ffmpeg).
bool EncoderFilesPresent(const QString& AppFolder);

struct TEncoderJob {
    QString AppFolder; // ends in a separator
    QString TempAudioFile;
    QString TempVideoFile;
    QString OutputFile;
    int AudioOption = 0; // 0: include the audio
    int VideoOption = 0; // 0..3: NTSC-VCD, NTSC-DVD, PAL-VCD, PAL-DVD; 4..6: MP4, WebM, GIF
};

// The encoder's argument vector, program first; names stay whole whatever they contain.
QStringList EncoderArguments(const TEncoderJob& Job);
// The same as one command line with every name in double quotes (nothing inside them escaped).
QString EncoderCommandLine(const TEncoderJob& Job);

// 1-based position of Sub in Text at or after position Start, 0 when there is none (also for
// Start < 1 or an empty Sub).
int PosFrom(const QString& Sub, const QString& Text, int Start);

// A byte count for display with decimal units: "1.26 MB", "921.60 KB", "999 Bytes", two decimals
// with the user's decimal separator.
QString FormatSize(qint64 Bytes);

// "Start to convert "<output>" ..."
QString StartCaption(const QString& OutputFile);

// The caption for a chunk of encoder output that holds "size=" followed later by "time=":
// "Converting "<movie>" ... <size>", a size in kB (or KiB) shown through FormatSize. Nothing when
// the caption is to stay as it is.
std::optional<QString> ProgressCaption(const QString& Text, const QString& MovieFile);

// The encoder output waiting in the pipe, never waiting for more: the last non-empty chunk of at
// most ReadBufferSize bytes read, decoded from the local 8-bit encoding; empty when nothing is
// waiting or the handle is no pipe.
QString ReadEncoderOutput(HANDLE Pipe, int ReadBufferSize);

// Why the encoder could not write OutputFile, found before anything is recorded: its folder is
// missing or cannot take a new file (read-only, no permission), or the file exists and cannot be
// replaced. The text is the system's own; empty when the place is fine. A disk that fills up later
// is not foreseen.
QString OutputLocationProblem(const QString& OutputFile);

// The encoder's last error line in its Output (lines end in CR or LF): the last non-blank line that
// is no progress line; empty when there is none.
QString LastEncoderErrorLine(const QString& Output);

// One encoder run: the pipe its standard output and error come back through, the pipe to its
// standard input, and its process record. Reset forgets the encoder: every handle is closed, and a
// process still running is left to run (Terminate ends it). Destroying forgets it too.
class TEncoderProcess {
public:
    TEncoderProcess() = default;
    TEncoderProcess(const TEncoderProcess&) = delete;
    TEncoderProcess& operator=(const TEncoderProcess&) = delete;
    ~TEncoderProcess() { Reset(); }

    // Forgets any earlier run, then starts the encoder; false (and nothing kept) when it cannot start.
    bool Start(const QString& CommandLine, const QStringList& Arguments);
    void Reset();
    // True from a successful Start until Reset, also after the process has ended.
    bool Started() const { return FInfo.hProcess != 0; }
    // The exit code once the process has ended; nothing while it runs or when none was started.
    std::optional<DWORD> ExitCode() const;
    // Ends a process still running (exit code 0); nothing happens when there is none.
    void Terminate();
    HANDLE OutputRead() const { return FOutputRead; }
    const PROCESS_INFORMATION& Info() const { return FInfo; }

private:
    HANDLE FOutputRead = 0, FOutputWrite = 0, FInputRead = 0, FInputWrite = 0;
    PROCESS_INFORMATION FInfo{};
};

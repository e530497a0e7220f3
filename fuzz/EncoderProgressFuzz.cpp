// Encoder output as the main window reads it: written into a pipe, read back in chunks of the
// size the first byte picks (0 included), and the last chunk turned into the progress caption for
// a movie named by the bytes up to the first zero.
#include "fuzz/FuzzTargets.h"

#include "app/EncoderRunner.h"

#include <cstring>

namespace fuzz {

int EncoderProgress(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const int bufferSize = input.U8() * 8;
    // Below the pipe's smallest capacity, so that writing never waits for a reader.
    const QByteArray rest = input.Rest().left(4096);
    const qsizetype zero = rest.indexOf('\0');
    const QString movie = QString::fromLocal8Bit(rest.left(std::max<qsizetype>(zero, 0)));
    const QByteArray output = rest.mid(zero + 1);

    HANDLE read = 0, write = 0;
    Check(CreatePipe(&read, &write, nullptr, 0), "a pipe");
    DWORD written = 0;
    Check(output.isEmpty() || WriteFile(write, output.constData(), DWORD(output.size()), &written, nullptr),
          "the output fits the pipe");
    const QString text = ReadEncoderOutput(read, bufferSize);
    Check(bufferSize > 0 || text.isEmpty(), "no read without a buffer");
    CloseHandle(read);
    CloseHandle(write);

    if (const std::optional<QString> caption = ProgressCaption(text, movie))
        Check(caption->startsWith(QStringLiteral("Converting \"") + movie + QStringLiteral("\" ... ")),
              "the caption names the movie");
    // Any byte count, negative and huge ones included.
    qint64 count = 0;
    std::memcpy(&count, output.leftJustified(sizeof count, '\0').constData(), sizeof count);
    (void)FormatSize(count);
    return 0;
}

} // namespace fuzz

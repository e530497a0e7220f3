#include "platform/Streams.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace win {

// The messages name the file by its full path.
EFOpenError::EFOpenError(const QString& FileName, const QString& Reason)
    : EStreamError(
          QStringLiteral("Cannot open file \"%1\". %2").arg(QFileInfo(FileName).absoluteFilePath(), Reason)) {
}

EFCreateError::EFCreateError(const QString& FileName, const QString& Reason)
    : EStreamError(QStringLiteral("Cannot create file \"%1\". %2")
                       .arg(QFileInfo(FileName).absoluteFilePath(), Reason)) {}

std::int64_t TStream::GetSize() {
    const std::int64_t position = Seek(0, soCurrent);
    const std::int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TStream::ReadBuffer(void* Buffer, std::int32_t Count) {
    if (Count != 0 && Read(Buffer, Count) != Count)
        throw EReadError(QStringLiteral("Stream read error"));
}

void TStream::WriteBuffer(const void* Buffer, std::int32_t Count) {
    if (Count != 0 && Write(Buffer, Count) != Count)
        throw EWriteError(QStringLiteral("Stream write error"));
}

std::int64_t TStream::CopyFrom(TStream& Source, std::int64_t Count) {
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.GetSize();
    }
    constexpr std::int64_t ChunkSize = 64 * 1024;
    std::vector<char> chunk(std::size_t(std::min(Count, ChunkSize)));
    for (std::int64_t left = Count; left > 0;) {
        const auto n = std::int32_t(std::min(left, ChunkSize));
        Source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        left -= n;
    }
    return Count;
}

// --- THandleStream ---

namespace {
[[noreturn]] void RaiseStreamError(const char* what) {
    throw EStreamError(QStringLiteral("%1: %2").arg(QLatin1String(what), SysErrorMessage(errno)));
}
} // namespace

std::int32_t THandleStream::Read(void* Buffer, std::int32_t Count) {
    std::int32_t done = 0;
    while (done < Count) {
        const ssize_t n = ::read(FHandle, static_cast<char*>(Buffer) + done, std::size_t(Count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EReadError(QStringLiteral("Stream read error: %1").arg(SysErrorMessage(errno)));
        if (n == 0)
            break;
        done += std::int32_t(n);
    }
    return done;
}

std::int32_t THandleStream::Write(const void* Buffer, std::int32_t Count) {
    std::int32_t done = 0;
    while (done < Count) {
        const ssize_t n =
            ::write(FHandle, static_cast<const char*>(Buffer) + done, std::size_t(Count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // Report what did reach the file; the caller's next write raises the error.
            if (done > 0)
                break;
            throw EWriteError(QStringLiteral("Stream write error: %1").arg(SysErrorMessage(errno)));
        }
        done += std::int32_t(n);
    }
    return done;
}

std::int64_t THandleStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
    const int whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(FHandle, off_t(Offset), whence);
    if (position < 0)
        RaiseStreamError("Stream seek error");
    return position;
}

void THandleStream::SetSize(std::int64_t NewSize) {
    if (NewSize < 0 || ::ftruncate(FHandle, off_t(NewSize)) != 0)
        RaiseStreamError("Cannot change the file size");
    if (GetPosition() > NewSize)
        SetPosition(NewSize);
}

// --- TFileStream ---

namespace {
int LockFor(std::uint16_t Mode) {
    const std::uint16_t share = Mode & 0x00F0;
    const bool create = (Mode & 0xFF00) == fmCreate;
    const bool writing = create || (Mode & 0x0003) != fmOpenRead;
    if (share == fmShareExclusive || (create && share == 0))
        return LOCK_EX;
    if (share == fmShareDenyWrite)
        return writing ? LOCK_EX : LOCK_SH;
    return 0;
}

QString InUseReason() {
    return QStringLiteral("The file is in use by another program.");
}
} // namespace

TFileStream::TFileStream(const QString& FileName, std::uint16_t Mode)
    : THandleStream(-1), FFileName(FileName) {
    const QByteArray path = QFile::encodeName(FileName);
    const bool create = (Mode & 0xFF00) == fmCreate;
    int flags = O_CLOEXEC;
    if (create)
        flags |= O_RDWR | O_CREAT;
    else
        flags |= (Mode & 0x0003) == fmOpenWrite       ? O_WRONLY
                 : (Mode & 0x0003) == fmOpenReadWrite ? O_RDWR
                                                      : O_RDONLY;

    FHandle = ::open(path.constData(), flags, 0666);
    if (FHandle < 0) {
        const QString reason = SysErrorMessage(errno);
        if (create)
            throw EFCreateError(FileName, reason);
        throw EFOpenError(FileName, reason);
    }
    if (const int lock = LockFor(Mode); lock != 0 && ::flock(FHandle, lock | LOCK_NB) != 0) {
        const QString reason = errno == EWOULDBLOCK ? InUseReason() : SysErrorMessage(errno);
        ::close(FHandle);
        FHandle = -1;
        if (create)
            throw EFCreateError(FileName, reason);
        throw EFOpenError(FileName, reason);
    }
    if (create && ::ftruncate(FHandle, 0) != 0) {
        const QString reason = SysErrorMessage(errno);
        ::close(FHandle);
        FHandle = -1;
        throw EFCreateError(FileName, reason);
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0)
        ::close(FHandle);
}

// --- TCustomMemoryStream ---

std::int32_t TCustomMemoryStream::Read(void* Buffer, std::int32_t Count) {
    if (Count <= 0 || FPosition >= FSize)
        return 0;
    const auto n = std::int32_t(std::min<std::int64_t>(Count, FSize - FPosition));
    std::memcpy(Buffer, static_cast<const char*>(FMemory) + FPosition, std::size_t(n));
    FPosition += n;
    return n;
}

std::int64_t TCustomMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
    const std::int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : FSize;
    const std::int64_t position = base + Offset;
    if (position < 0)
        throw EStreamError(QStringLiteral("Stream seek error: negative position"));
    FPosition = position;
    return FPosition;
}

void TCustomMemoryStream::SetPointer(void* Memory, std::int64_t Size) {
    FMemory = Memory;
    FSize = Size;
}

// --- TMemoryStream ---

TMemoryStream::~TMemoryStream() {
    std::free(FMemory);
}

void TMemoryStream::Reserve(std::int64_t Capacity) {
    if (Capacity <= FCapacity)
        return;
    std::int64_t grown = std::max<std::int64_t>(Capacity, FCapacity + FCapacity / 2);
    grown = (grown + 0xFFF) & ~std::int64_t{0xFFF};
    void* memory = std::realloc(FMemory, std::size_t(grown));
    if (!memory)
        throw std::bad_alloc();
    FMemory = memory;
    FCapacity = grown;
}

std::int32_t TMemoryStream::Write(const void* Buffer, std::int32_t Count) {
    if (Count <= 0)
        return 0;
    const std::int64_t end = FPosition + Count;
    if (end > FSize) {
        Reserve(end);
        if (FPosition > FSize)
            std::memset(static_cast<char*>(FMemory) + FSize, 0, std::size_t(FPosition - FSize));
        FSize = end;
    }
    // memmove: callers may write bytes taken from this stream's own memory.
    std::memmove(static_cast<char*>(FMemory) + FPosition, Buffer, std::size_t(Count));
    FPosition = end;
    return Count;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
    if (NewSize < 0)
        throw EStreamError(QStringLiteral("Stream size cannot be negative"));
    if (NewSize > FSize) {
        Reserve(NewSize);
        std::memset(static_cast<char*>(FMemory) + FSize, 0, std::size_t(NewSize - FSize));
    }
    FSize = NewSize;
    FPosition = std::min(FPosition, FSize);
}

} // namespace win

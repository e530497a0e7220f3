#pragma once
// Byte streams: the abstract stream, a file stream with advisory sharing locks, and a memory stream
// whose memory can be addressed directly.

#include "platform/SysUtils.h"

#include <QString>
#include <cstdint>

namespace win {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class EStreamError : public Exception {
    using Exception::Exception;
};
class EReadError : public EStreamError {
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
    using EStreamError::EStreamError;
};
// "Cannot open file "%s". %s"
class EFOpenError : public EStreamError {
public:
    EFOpenError(const QString& FileName, const QString& Reason);
};
// "Cannot create file "%s". %s"
class EFCreateError : public EStreamError {
public:
    EFCreateError(const QString& FileName, const QString& Reason);
};

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Transfers up to Count bytes at the current position and returns how many moved.
    virtual std::int32_t Read(void* Buffer, std::int32_t Count) = 0;
    virtual std::int32_t Write(const void* Buffer, std::int32_t Count) = 0;
    // Returns the new position.
    virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;
    // Truncates or extends (with zero bytes); the position is kept, clamped to the new size.
    virtual void SetSize(std::int64_t NewSize) = 0;
    virtual std::int64_t GetSize();

    std::int64_t GetPosition() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t Position) { Seek(Position, soBeginning); }

    // Like Read and Write, but anything short of Count raises EReadError or EWriteError.
    void ReadBuffer(void* Buffer, std::int32_t Count);
    void WriteBuffer(const void* Buffer, std::int32_t Count);

    // Copies Count bytes from Source's position; Count 0 copies the whole of Source from its start.
    std::int64_t CopyFrom(TStream& Source, std::int64_t Count);
};

// File open modes: one access mode or'ed with one sharing mode. Sharing is enforced between
// cooperating programs with advisory locks: exclusive and deny-write writers take an exclusive lock,
// deny-write readers a shared one.
constexpr std::uint16_t fmCreate = 0xFF00;
constexpr std::uint16_t fmOpenRead = 0x0000;
constexpr std::uint16_t fmOpenWrite = 0x0001;
constexpr std::uint16_t fmOpenReadWrite = 0x0002;
constexpr std::uint16_t fmShareExclusive = 0x0010;
constexpr std::uint16_t fmShareDenyWrite = 0x0020;
constexpr std::uint16_t fmShareDenyNone = 0x0040;

class THandleStream : public TStream {
public:
    explicit THandleStream(int Handle) : FHandle(Handle) {}
    int GetHandle() const { return FHandle; }

    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
    void SetSize(std::int64_t NewSize) override;

protected:
    int FHandle;
};

class TFileStream : public THandleStream {
public:
    // fmCreate creates the file or empties an existing one (only once the lock is held, so a file
    // another program is writing is never cut short). Raises EFOpenError or EFCreateError.
    TFileStream(const QString& FileName, std::uint16_t Mode);
    ~TFileStream() override;
    const QString& GetFileName() const { return FFileName; }

private:
    QString FFileName;
};

// A stream over one block of memory.
class TCustomMemoryStream : public TStream {
public:
    void* Memory() const { return FMemory; }

    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
    std::int64_t GetSize() override { return FSize; }

protected:
    void SetPointer(void* Memory, std::int64_t Size);

    void* FMemory = nullptr;
    std::int64_t FSize = 0;
    std::int64_t FPosition = 0;
};

// A growable memory stream that owns its memory.
class TMemoryStream : public TCustomMemoryStream {
public:
    ~TMemoryStream() override;

    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    void SetSize(std::int64_t NewSize) override;
    void Clear() { SetSize(0); }

private:
    void Reserve(std::int64_t Capacity);

    std::int64_t FCapacity = 0;
};

} // namespace win

#include "audio/WaveRecorders.h"

#include "platform/Streams.h"

#include <cerrno>
#include <exception>

using namespace win; // the platform layer's Windows-style names

TStockAudioRecorder::TStockAudioRecorder(TComponent* AOwner) : TWaveAudioIn(AOwner) {}

TStockAudioRecorder::~TStockAudioRecorder() {
    // Runs while the overrides below still exist, so the close notification finishes the file.
    Shutdown();
    ForceRelease();
    FStreamAdapter.reset();
    SetStock(nullptr);
}

void TStockAudioRecorder::SetStock(TCustomWaveStorage* Value) {
    if (Value == FStock)
        return;
    if (FStock)
        FStock->RemoveFreeNotification(this);
    FStock = Value;
    if (FStock)
        FStock->FreeNotification(this);
}

void TStockAudioRecorder::Notification(TComponent* AComponent, TOperation Operation) {
    TWaveAudioIn::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FStock)
        SetStock(nullptr);
}

bool TStockAudioRecorder::RecordToWaveFile(const QString& FileName) {
    return RecordToStream(new TFileStream(FileName, fmCreate), 1);
}

bool TStockAudioRecorder::RecordToStream(TStream* Stream, std::uint8_t Ownership) {
    if (GetActive()) {
        // The earlier recording's file is finished by its own adapter before a new one is attached.
        SetActive(false);
        Sleep(0);
        WaitWhileClosing();
    }
    FStreamAdapter = std::make_unique<TWaveStreamAdapter>(Stream, Ownership);
    FFailure.clear();
    bool opened = false;
    try {
        opened = InternalOpen();
    } catch (...) {
        FStreamAdapter.reset();
        throw;
    }
    if (!opened)
        FStreamAdapter.reset(); // finishes the empty WAVE and closes an owned stream
    return opened;
}

bool TStockAudioRecorder::RecordToStock(int Index) {
    if (!FStock)
        throw EWaveAudioInvalidOperation(QStringLiteral("Stock property is not assigned"));
    return RecordToStream(FStock->GetWaveStream(Index), 0);
}

bool TStockAudioRecorder::StopRecording() {
    return InternalClose();
}

void TStockAudioRecorder::SetActive(bool Value) {
    if (Value == GetActive())
        return;
    if (Value)
        RecordToStock(0);
    else
        StopRecording();
}

void TStockAudioRecorder::GetWaveFormat(WAVEFORMATEX*& pWaveFormat, bool& FreeIt) {
    TWaveAudioIn::GetWaveFormat(pWaveFormat, FreeIt);
    // The WAVE gets exactly the format the device is opened with, before the device is asked.
    if (pWaveFormat && FStreamAdapter)
        FStreamAdapter->BeginWrite(*pWaveFormat);
}

void TStockAudioRecorder::ProcessData(void* Buffer, DWORD ABufferSize, bool&) {
    if (!FStreamAdapter) {
        CheckResult(MMSYSERR_ERROR);
        return;
    }
    if (!FFailure.isEmpty())
        return; // the recording is stopping and has been reported once
    errno = 0;
    if (FStreamAdapter->Write(Buffer, std::int32_t(ABufferSize)) == std::int32_t(ABufferSize))
        return;
    // The stream layer leaves the system's reason in errno (a full disk: ENOSPC).
    const int error = errno;
    if (FFailure.isEmpty())
        FFailure = QStringLiteral("%1 stopped: cannot write the file: %2")
                       .arg(RecordingName(),
                            error != 0 ? SysErrorMessage(error) : QStringLiteral("the write was cut short"));
    CheckResult(MMSYSERR_ERROR);
}

bool TStockAudioRecorder::Recording() {
    return GetActive() && HandleAllocated() && !Opening() && !Closing() && FStreamAdapter;
}

QString TStockAudioRecorder::RecordingName() const {
    const auto* file = FStreamAdapter ? dynamic_cast<const TFileStream*>(FStreamAdapter->Stream()) : nullptr;
    return file != nullptr ? QStringLiteral("The sound recording \"%1\"").arg(file->GetFileName())
                           : QStringLiteral("The sound recording");
}

QString TStockAudioRecorder::LastErrorText() {
    return FFailure.isEmpty() ? TWaveAudioIn::LastErrorText() : FFailure;
}

void TStockAudioRecorder::DoWaveInClose() {
    std::exception_ptr failure;
    try {
        if (FStreamAdapter)
            FStreamAdapter->EndWrite();
    } catch (...) {
        failure = std::current_exception();
    }
    FStreamAdapter.reset(); // closes an owned file
    TWaveAudioIn::DoWaveInClose();
    if (failure)
        std::rethrow_exception(failure);
}

void TStockAudioRecorder::DoError() {
    std::exception_ptr failure;
    if (Recording() && !FStopping) {
        // Nothing more reaches the file: stop, so the close finishes it with what it holds. The
        // close's own errors are reported as they are.
        if (FFailure.isEmpty())
            FFailure = QStringLiteral("%1 stopped: %2").arg(RecordingName(), TWaveAudioIn::LastErrorText());
        const MMRESULT error = GetLastError();
        FStopping = true;
        InternalClose();
        FStopping = false;
        SetLastError(error);
    } else if (!GetActive() && FStreamAdapter) {
        // A refused open: leave a finished, closed, empty WAVE behind.
        try {
            FStreamAdapter->EndWrite();
        } catch (...) {
            failure = std::current_exception();
        }
        FStreamAdapter.reset();
    }
    TWaveAudioIn::DoError();
    if (failure)
        std::rethrow_exception(failure);
}

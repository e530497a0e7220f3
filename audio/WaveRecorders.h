#pragma once
// The stock audio recorder: the wave input device writing what it records into a WAVE file, a
// stream, or a stream handed out by a wave storage component. A recording that fails on the way (the
// sound device is lost, the file cannot be written) is stopped, its file finished with what was
// recorded, and the failure reported through OnError (or raised) with a sentence that names the
// sound recording, the file and the reason (LastErrorText).

#include "audio/WaveIn.h"
#include "audio/WaveStorage.h"

#include <memory>

class TStockAudioRecorder : public TWaveAudioIn {
public:
    explicit TStockAudioRecorder(TComponent* AOwner = nullptr);
    // Finishes and closes a recording in progress before the recorder goes.
    ~TStockAudioRecorder() override;
    QString ClassName() const override { return QStringLiteral("TStockAudioRecorder"); }

    TCustomWaveStorage* GetStock() const { return FStock; }
    void SetStock(TCustomWaveStorage* Value);

    // Creates (or replaces) the file and records into it; the file is held exclusively until the
    // recording's close notification has finished it. Raises EFCreateError when it cannot be made.
    bool RecordToWaveFile(const QString& FileName);
    // Ownership 1: the recorder destroys Stream when the recording ends.
    virtual bool RecordToStream(TStream* Stream, std::uint8_t Ownership);
    bool RecordToStock(int Index);
    bool StopRecording();

    void SetActive(bool Value) override;
    void DoWaveInClose() override;
    // After a recording failed on the way: why, naming the recording; the platform's text otherwise.
    QString LastErrorText() override;
    // Whether the recording in progress or the last one failed on the way.
    bool RecordingFailed() const { return !FFailure.isEmpty(); }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    void GetWaveFormat(WAVEFORMATEX*& pWaveFormat, bool& FreeIt) override;
    void DoError() override;
    void ProcessData(void* Buffer, DWORD ABufferSize, bool& FreeIt) override;

private:
    // Open and not changing state: an error now ends a recording under way.
    bool Recording();
    QString RecordingName() const;

    std::unique_ptr<TWaveStreamAdapter> FStreamAdapter;
    QString FFailure;
    bool FStopping = false; // stopping after an error
    TCustomWaveStorage* FStock = nullptr;
};

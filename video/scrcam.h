#pragma once
// The screen camera: records the player's screen area into an AVI file on a thread of its own,
// a frame every period, placed in the stream by the time it was taken, while a mark window shows
// the recorded region.

#include "platform/DIB.h"
#include "platform/GlobalMemory.h"
#include "platform/MMSystem.h"
#include "platform/ScreenCapture.h"

#include <QPointer>
#include <QRect>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

using namespace win; // the platform layer's Windows-style names

class QWidget;
namespace win {
class TWaitableThread;
}
class TFlashingWnd;
class TScreenCam;
class TRecordAVIThread;

// What the camera reads of the main window at every grab: the window, the panel that holds the
// player and the player control inside it.
class TCameraHost {
public:
    virtual ~TCameraHost() = default;
    virtual QWidget* CameraForm() const = 0;
    virtual QWidget* CameraFlashPanel() const = 0;
    virtual QWidget* CameraFlash() const = 0;
};

using TNotifyEvent = std::function<void(TScreenCam* Sender)>;

// Where each pass of the recording loop puts its frame: the frame number is the pass's start time
// over the period, rounded half to even; a number past the last written one is written and the
// numbers skipped on the way are counted as dropped; a number already written is not written again.
class TFrameSchedule {
public:
    explicit TFrameSchedule(DWORD FramePeriod) : FFramePeriod(FramePeriod) {}

    struct TPass {
        LONG FrameNumber;
        bool Write;
        LONG Dropped;
    };
    // The pass that starts Elapsed ms after the loop started.
    TPass Plan(DWORD Elapsed) const;
    // Frame Number was written.
    void Written(LONG Number) {
        FLastWritten = Number;
        FAnyWritten = true;
    }

private:
    DWORD FFramePeriod;
    LONG FLastWritten = 0;
    bool FAnyWritten = false;
};

class TScreenCam {
public:
    explicit TScreenCam(TCameraHost* OwnerForm);
    // Stops a recording still running and waits for its thread (serving its hand-offs to the main
    // thread meanwhile), so the AVI file is complete afterwards.
    ~TScreenCam();
    TScreenCam(const TScreenCam&) = delete;
    TScreenCam& operator=(const TScreenCam&) = delete;

    // Starts recording the player's screen area into FileName, unless a recording is wanted already.
    void Start(QWidget* Flash, const QString& FileName);
    // Asks the recording to end; returns at once.
    void Stop();
    // True while a recording thread of this camera has not ended.
    bool ThreadRunning() const;
    // Waits, serving the main thread's events, until every recording thread has ended.
    void WaitForThreads();

    // The whole of one recording; runs on the recording thread. 1 when it ran and ended without an
    // AVI error, 0 when it failed.
    int RecordToFile(QWidget* Flash, const QString& FileName);
    // A new locked frame block of the player's area as it is on the screen now, or null.
    void* GrabFrame();
    void SignalMarkColor(bool Capturing);
    // The player's rectangle on the screen, computed afresh from the main window.
    QRect FlashScreenRect() const;

    TCameraHost* FOwnerForm;
    int FCaptureBits;
    FOURCC FCodecFourCC;
    std::atomic<BYTE> FRecording{0};
    std::atomic<DWORD> FStartTime{0};
    std::atomic<double> FActualInterval{0};
    std::atomic<LONG> FDroppedFrames{0};
    std::atomic<LONG> FCurrentFrame{0};
    std::atomic<LONG> FFramesWritten{0};
    std::atomic<LONG> FWidth{0};
    std::atomic<LONG> FHeight{0};
    TNotifyEvent OnRecordProgress;
    TNotifyEvent OnRecordStart;
    TNotifyEvent OnRecordStop;
    TNotifyEvent OnRecordError;
    // Why the last recording could not write its file, in the system's words; empty when it could.
    QString RecordFailure() const;
    std::atomic<TRecordAVIThread*> FThread{nullptr};
    int FFrameRate = 10;
    int FFramePeriod = 100;
    int FKeyFrameInterval = 5;
    int FCodecQuality = 6550;
    BYTE FDrawCursor = 1;
    QPointer<TFlashingWnd> FMarkWindow;
    BYTE FShowMarks = 1;
    const TCursorImage* FCursorHandle;
    BYTE FTrackRegion = 0;
    std::atomic<short> FStatus{0};

private:
    friend class TRecordAVIThread;
    void RecordThreadTerminated(TRecordAVIThread* Thread);
    void DoNotify(const TNotifyEvent& Event);
    // Runs Step on the main thread, waiting for it, when a recording is still wanted.
    void SynchronizeWhileRecording(const std::function<void()>& Step);
    void ReapEndedThreads();

    std::vector<std::unique_ptr<TRecordAVIThread>> FThreads;
    mutable std::mutex FFailureLock; // the failure is set on the recording thread
    QString FRecordFailure;
};

// True when the video services' version (major in the high byte of the high word) is 1.10 or later.
bool VideoServicesUsable(DWORD Version);

// Converts Bitmap into a new (unlocked) packed frame block at Bits bits per pixel; null when there
// is no memory for it.
HGLOBAL MakePackedDIB(const QImage& Bitmap, int Bits);
// Gives a locked frame block back and sets Frame to null; a null Frame is left alone.
void ReleaseFrame(void*& Frame);

// One recording: runs the camera's RecordToFile once, then the camera's termination handler on the
// main thread.
class TRecordAVIThread {
public:
    TRecordAVIThread(TScreenCam* Camera, const QString& FileName, QWidget* Flash);
    ~TRecordAVIThread();
    TRecordAVIThread(const TRecordAVIThread&) = delete;
    TRecordAVIThread& operator=(const TRecordAVIThread&) = delete;

    // Starts the body; made suspended so that the camera can note the thread first.
    void Resume();
    bool Ended() const;
    // Waits for the end while serving the main thread's events.
    void WaitForEnd();

    TScreenCam* FCamera;
    QString FFileName;
    QWidget* FFlash;
    DWORD FMarkColor = 0;
    QRect FRegionRect;

private:
    void Execute();

    std::unique_ptr<win::TWaitableThread> FRunner;
};

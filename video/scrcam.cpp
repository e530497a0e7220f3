#include "video/scrcam.h"

#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/MessagePump.h"
#include "platform/Messages.h"
#include "platform/Vfw.h"
#include "platform/Waitable.h"
#include "video/flashwnd.h"

#include <QWidget>
#include <cmath>
#include <cstring>
#include <limits>

using namespace win; // the platform layer's Windows-style names

namespace {
constexpr DWORD CapturingMarkColor = 0x00B4FFFF;
constexpr DWORD IdleMarkColor = 0x0050FF00;
constexpr DWORD OldestVideoServices = 0x010A;
constexpr DWORD ProgressInterval = 500;

// Everything one recording holds of the AVI file service; released in the service's order.
struct TAVIHandles {
    PAVIFILE File = nullptr;
    PAVISTREAM Raw = nullptr;
    PAVISTREAM Compressed = nullptr;
    AVICOMPRESSOPTIONS Options{};
    AVICOMPRESSOPTIONS* OptionsList[1] = {&Options};

    void Release() {
        AVISaveOptionsFree(1, OptionsList);
        if (File)
            AVIFileRelease(File);
        if (Raw)
            AVIStreamRelease(Raw);
        if (Compressed)
            AVIStreamRelease(Compressed);
        File = nullptr;
        Raw = Compressed = nullptr;
    }
};

const BITMAPINFOHEADER& FrameHeader(const void* Frame) {
    return *static_cast<const BITMAPINFOHEADER*>(Frame);
}

BYTE* FramePixels(void* Frame) {
    const BITMAPINFOHEADER& header = FrameHeader(Frame);
    return static_cast<BYTE*>(Frame) + header.biSize + 4 * header.biClrUsed;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Frame schedule

TFrameSchedule::TPass TFrameSchedule::Plan(DWORD Elapsed) const {
    // nearbyint rounds halves to even in the default rounding mode.
    const double exact = static_cast<double>(Elapsed) / static_cast<double>(FFramePeriod ? FFramePeriod : 1);
    const auto number = static_cast<LONG>(std::nearbyint(exact));
    const LONG skipped = number - FLastWritten - 1;
    // Frame 0 is written by the first pass only: a position is never written twice.
    const bool write = FAnyWritten ? number > FLastWritten : number >= 0;
    return {number, write, skipped > 0 ? skipped : 0};
}

bool VideoServicesUsable(DWORD Version) {
    return (Version >> 16) >= OldestVideoServices;
}

// ---------------------------------------------------------------------------------------------
// Recording thread

TRecordAVIThread::TRecordAVIThread(TScreenCam* Camera, const QString& FileName, QWidget* Flash)
    : FCamera(Camera), FFileName(FileName), FFlash(Flash) {}

TRecordAVIThread::~TRecordAVIThread() = default;

void TRecordAVIThread::Resume() {
    if (!FRunner)
        FRunner = std::make_unique<TWaitableThread>([this] { Execute(); });
}

bool TRecordAVIThread::Ended() const {
    return !FRunner || const_cast<TWaitableThread&>(*FRunner).WaitForSignal(0);
}

void TRecordAVIThread::WaitForEnd() {
    if (!FRunner)
        return;
    // A quit request must not end the wait early (the AVI file is not complete yet); it is passed
    // on once the thread has ended.
    bool quitAsked = false;
    while (MsgWaitForSingleObjectPumping(FRunner.get(), INFINITE) == WAIT_QUIT)
        quitAsked = true;
    FRunner->Join();
    if (quitAsked)
        PostQuitMessage();
}

void TRecordAVIThread::Execute() {
    FCamera->RecordToFile(FFlash, FFileName);
    Synchronize([this] { FCamera->RecordThreadTerminated(this); });
}

// ---------------------------------------------------------------------------------------------
// Camera

TScreenCam::TScreenCam(TCameraHost* OwnerForm)
    : FOwnerForm(OwnerForm), FCaptureBits(GetScreenBitsPerPixel()),
      FCodecFourCC(MakeFourCC('M', 'S', 'V', 'C')), FCursorHandle(&ArrowCursor()) {
    FMarkWindow = new TFlashingWnd(OwnerForm ? OwnerForm->CameraForm() : nullptr, FlashScreenRect());
}

TScreenCam::~TScreenCam() {
    Stop();
    WaitForThreads();
    // Without an owner window nobody else frees the marks.
    if (FMarkWindow && !FMarkWindow->parent())
        delete FMarkWindow;
}

void TScreenCam::Start(QWidget* Flash, const QString& FileName) {
    if (FRecording.load())
        return;
    ReapEndedThreads();
    auto thread = std::make_unique<TRecordAVIThread>(this, FileName, Flash);
    TRecordAVIThread* started = thread.get();
    FThreads.push_back(std::move(thread));
    FThread = started;
    FRecording = 1;
    started->Resume();
}

void TScreenCam::Stop() {
    FRecording = 0;
}

bool TScreenCam::ThreadRunning() const {
    for (const auto& thread : FThreads)
        if (!thread->Ended())
            return true;
    return false;
}

void TScreenCam::WaitForThreads() {
    for (const auto& thread : FThreads)
        thread->WaitForEnd();
    FThreads.clear();
}

void TScreenCam::ReapEndedThreads() {
    std::erase_if(FThreads, [](const std::unique_ptr<TRecordAVIThread>& thread) {
        if (!thread->Ended())
            return false;
        thread->WaitForEnd();
        return true;
    });
}

void TScreenCam::RecordThreadTerminated(TRecordAVIThread*) {
    FRecording = 0;
    FThread = nullptr;
}

QString TScreenCam::RecordFailure() const {
    const std::lock_guard<std::mutex> lock(FFailureLock);
    return FRecordFailure;
}

void TScreenCam::DoNotify(const TNotifyEvent& Event) {
    if (Event)
        Event(this);
}

void TScreenCam::SynchronizeWhileRecording(const std::function<void()>& Step) {
    Synchronize([this, &Step] {
        if (FRecording.load())
            Step();
    });
}

QRect TScreenCam::FlashScreenRect() const {
    if (!FOwnerForm)
        return {};
    const QWidget* form = FOwnerForm->CameraForm();
    const QWidget* panel = FOwnerForm->CameraFlashPanel();
    const QWidget* flash = FOwnerForm->CameraFlash();
    if (!form || !panel || !flash)
        return {};
    // The window's geometry is its client area on the screen.
    const QPoint client = form->geometry().topLeft();
    return {client.x() + flash->x() + panel->x(), client.y() + flash->y() + panel->y(), flash->width(),
            flash->height()};
}

void TScreenCam::SignalMarkColor(bool Capturing) {
    TRecordAVIThread* thread = FThread.load();
    if (!thread)
        return;
    thread->FMarkColor = Capturing ? CapturingMarkColor : IdleMarkColor;
    SynchronizeWhileRecording([this, thread] {
        if (FMarkWindow)
            FMarkWindow->SetMarkColor(thread->FMarkColor);
    });
}

void* TScreenCam::GrabFrame() {
    const QRect area = FlashScreenRect();
    TRecordAVIThread* thread = FThread.load();
    if (FShowMarks && thread) {
        if (FTrackRegion) {
            thread->FRegionRect = area;
            SynchronizeWhileRecording([this, thread] {
                if (FMarkWindow) {
                    const QRect& region = thread->FRegionRect;
                    FMarkWindow->FitToRegion(region.x(), region.y(), region.width(), region.height());
                }
            });
        }
        SignalMarkColor(true);
    }

    QImage bitmap = CopyScreenRect(area.x(), area.y(), area.width(), area.height());
    if (bitmap.isNull() && !area.isEmpty()) {
        // An unreadable screen gives a black frame, so the file keeps its timing.
        bitmap = QImage(area.size(), QImage::Format_RGB32);
        bitmap.fill(Qt::black);
    }

    QPoint pointer;
    GetCursorPos(&pointer);
    pointer -= area.topLeft();
    if (FDrawCursor && !bitmap.isNull()) {
        QPoint hotspot;
        if (GetCursorHotspot(&hotspot))
            pointer -= hotspot;
        if (FCursorHandle)
            DrawIcon(bitmap, pointer.x(), pointer.y(), *FCursorHandle);
    }

    void* frame = GlobalLock(MakePackedDIB(bitmap, FCaptureBits));
    if (!frame) {
        MessageBoxW(nullptr, QStringLiteral("Error capturing a frame!"), QStringLiteral("Error"),
                    MB_OK | MB_ICONWARNING);
        return nullptr;
    }
    if (FShowMarks && FThread.load())
        SignalMarkColor(false);
    return frame;
}

HGLOBAL MakePackedDIB(const QImage& Bitmap, int Bits) {
    const LONG width = Bitmap.width();
    const LONG height = Bitmap.height();
    const auto bits = static_cast<WORD>(Bits);
    const DWORD colors = DibColorCount(bits);
    const std::uint64_t imageSize =
        std::uint64_t{DibStride(width, bits)} * static_cast<std::uint64_t>(height);
    const std::uint64_t total = sizeof(BITMAPINFOHEADER) + 4 * std::uint64_t{colors} + imageSize;
    if (total > std::numeric_limits<DWORD>::max())
        return nullptr;
    HGLOBAL block = GlobalAlloc(GHND, static_cast<std::size_t>(total));
    if (!block)
        return nullptr;
    auto* info = static_cast<BITMAPINFO*>(GlobalLock(block));
    BITMAPINFOHEADER& header = info->bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(imageSize);
    header.biClrUsed = colors;

    BYTE* pixels = reinterpret_cast<BYTE*>(info) + sizeof(BITMAPINFOHEADER) + 4 * colors;
    if (height > 0 && GetDIBits(Bitmap, 0, static_cast<UINT>(height), pixels, info) == 0)
        MessageBoxW(nullptr, QStringLiteral("Error retrieving bitmap bits"), QStringLiteral("Error"), MB_OK);
    // The conversion may have changed it.
    header.biClrUsed = colors;
    GlobalUnlock(block);
    return block;
}

void ReleaseFrame(void*& Frame) {
    if (!Frame)
        return;
    HGLOBAL block = GlobalHandle(Frame);
    GlobalUnlock(block);
    GlobalFree(block);
    Frame = nullptr;
}

int TScreenCam::RecordToFile(QWidget*, const QString& FileName) {
    const QRect area = FlashScreenRect();
    FWidth = area.width();
    FHeight = area.height();
    {
        const std::lock_guard<std::mutex> lock(FFailureLock);
        FRecordFailure.clear();
    }

    if (!VideoServicesUsable(VideoForWindowsVersion())) {
        MessageBoxW(nullptr, QStringLiteral("Failure: Video for Windows version too old!"),
                    QStringLiteral("Error"), MB_OK | MB_ICONERROR);
        DoNotify(OnRecordError);
        return 0;
    }

    void* frame = GrabFrame();
    if (FShowMarks)
        Synchronize([this, area] {
            if (FMarkWindow) {
                FMarkWindow->FitToRegion(area.x(), area.y(), area.width(), area.height());
                FMarkWindow->show();
            }
        });
    FStatus = 1;

    TAVIHandles avi;
    HRESULT result = AVIERR_OK;
    AVIFileInit();
    const QByteArray localName = FileName.toLocal8Bit();
    // Without a first frame there is no format to give the stream.
    result = frame ? AVIFileOpenA(&avi.File, localName.constData(), OF_WRITE | OF_CREATE, nullptr)
                   : AVIERR_BADFORMAT;
    if (result == AVIERR_OK) {
        const BITMAPINFOHEADER& header = FrameHeader(frame);
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = static_cast<DWORD>(FFrameRate);
        info.dwSuggestedBufferSize = header.biSizeImage;
        info.rcFrame = {0, 0, header.biWidth, header.biHeight};
        result = AVIFileCreateStreamA(avi.File, &avi.Raw, &info);
    }
    if (result == AVIERR_OK) {
        avi.Options.fccType = streamtypeVIDEO;
        avi.Options.fccHandler = FCodecFourCC;
        avi.Options.dwKeyFrameEvery = static_cast<DWORD>(FKeyFrameInterval);
        avi.Options.dwQuality = static_cast<DWORD>(FCodecQuality);
        avi.Options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
        result = AVIMakeCompressedStream(&avi.Compressed, avi.Raw, &avi.Options, nullptr);
    }
    if (result == AVIERR_OK) {
        const BITMAPINFOHEADER& header = FrameHeader(frame);
        result = AVIStreamSetFormat(avi.Compressed, 0, frame,
                                    static_cast<LONG>(header.biSize + 4 * header.biClrUsed));
    }
    if (result == AVIERR_OK) {
        ReleaseFrame(frame);
        const DWORD slice = FFramePeriod / 10 ? static_cast<DWORD>(FFramePeriod / 10) : 1;
        const auto period = static_cast<DWORD>(FFramePeriod);
        DoNotify(OnRecordStart);
        TFrameSchedule schedule(period);
        DWORD lastWrittenTime = 0;
        DWORD lastProgressTime = 0;
        FFramesWritten = 0;
        FActualInterval = 0;
        FStartTime = timeGetTime();
        FDroppedFrames = 0;

        while (FRecording.load()) {
            const DWORD elapsed = timeGetTime() - FStartTime;
            frame = GrabFrame();
            const TFrameSchedule::TPass pass = schedule.Plan(elapsed);
            FCurrentFrame = pass.FrameNumber;
            FDroppedFrames += pass.Dropped;
            if (frame && pass.Write) {
                const BITMAPINFOHEADER& header = FrameHeader(frame);
                result = AVIStreamWrite(avi.Compressed, pass.FrameNumber, 1, FramePixels(frame),
                                        static_cast<LONG>(header.biSizeImage), 0, nullptr, nullptr);
                if (result != AVIERR_OK) {
                    const std::lock_guard<std::mutex> lock(FFailureLock);
                    FRecordFailure = AVIStreamWriteFailure(avi.Compressed);
                    break;
                }
                ++FFramesWritten;
                FActualInterval = static_cast<double>(elapsed - lastWrittenTime);
                lastWrittenTime = elapsed;
                schedule.Written(pass.FrameNumber);
            }
            ReleaseFrame(frame);

            if (elapsed - lastProgressTime > ProgressInterval) {
                lastProgressTime = elapsed;
                DoNotify(OnRecordProgress);
            }

            // The wait is measured from the time of this pass's frame rather than from when the
            // pass began, so the small overshoots of every sleep do not add up into a dropped frame
            // every few seconds.
            const long long spent = static_cast<long long>(timeGetTime() - FStartTime) -
                                    static_cast<long long>(pass.FrameNumber) * period;
            if (static_cast<long long>(period) > spent) {
                const auto rest = static_cast<DWORD>(static_cast<long long>(period) - spent);
                bool stopped = false;
                for (DWORD i = 0; i < rest / slice && !stopped; ++i) {
                    Sleep(slice);
                    stopped = !FRecording.load();
                }
                if (FRecording.load())
                    Sleep(rest % slice);
            }
        }
        DoNotify(OnRecordStop);
    }

    if (FShowMarks)
        Synchronize([this] {
            if (FMarkWindow)
                FMarkWindow->hide();
        });
    avi.Release();
    ReleaseFrame(frame);
    AVIFileExit();

    FStatus = 2;
    if (result == AVIERR_OK)
        return 1;
    FStatus = 3;
    DoNotify(OnRecordError);
    MessageBoxW(nullptr, QStringLiteral("Error Creating AVI file"), QStringLiteral("Error"),
                MB_OK | MB_ICONWARNING);
    return 0;
}

#include "app/ShockwaveFlashObjects.h"

#include "flash/media/SoundMixer.h"
#include "flash/media/SoundOutput.h"
#include "flash/player/Keys.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

TShockwaveFlash::TShockwaveFlash(QWidget* Parent)
    : QWidget(Parent), FMixer(std::make_unique<flash::SoundMixer>()),
      FSoundOutput(std::make_unique<flash::SoundOutput>(*FMixer)),
      FRenderer(std::make_unique<flash::Renderer>()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true); // buttons show their over state without a press
    setFocusPolicy(Qt::ClickFocus);
    FFrameTimer.setSingleShot(true);
    FFrameTimer.setTimerType(Qt::PreciseTimer);
    connect(&FFrameTimer, &QTimer::timeout, this, [this] { FrameDue(); });
}

TShockwaveFlash::~TShockwaveFlash() {
    FFrameTimer.stop();
    FSoundOutput->Stop();
    FPlayer.reset();
}

void TShockwaveFlash::SetMovie(const QString& FileName) {
    FFrameTimer.stop();
    FPlayer.reset();
    FMixer->StopAllSounds();
    FMovie = FileName;
    FLoadError.clear();
    if (FileName.isEmpty()) {
        update();
        return;
    }
    const flash::ReadResult result = flash::ReadMovieFile(FileName);
    if (!result.movie) {
        FLoadError = result.error;
        update();
        return;
    }
    FPlayer = std::make_unique<flash::Player>(result.movie, FMixer.get());
    // Without a sound server the movie plays on, silently.
    if (!FSoundOutput->Running())
        FSoundOutput->Start();
    StartClock();
    update();
}

int TShockwaveFlash::TotalFrames() const {
    // The header's count, as the stand-alone player reports it, whatever the file holds.
    return FPlayer ? FPlayer->GetMovie().timeline.frameCount : 0;
}

int TShockwaveFlash::FrameNum() const {
    return FPlayer ? std::max(FPlayer->CurrentFrame(), 0) : 0;
}

std::int16_t TShockwaveFlash::GetPlaying() const {
    return FPlayer && FPlayer->Playing() ? -1 : 0;
}

void TShockwaveFlash::SetPlaying(std::int16_t Value) {
    if (Value != 0)
        Play();
    else
        Stop();
}

void TShockwaveFlash::Play() {
    if (!FPlayer)
        return;
    if (!FPlayer->Playing()) {
        FPlayer->Play();
        StartClock();
    }
}

void TShockwaveFlash::Stop() {
    if (FPlayer)
        FPlayer->Stop();
}

void TShockwaveFlash::GotoFrame(int Frame) {
    if (!FPlayer)
        return;
    FPlayer->GotoFrame(Frame);
    if (FPlayer->Playing())
        StartClock();
    update();
}

QImage TShockwaveFlash::Snapshot() {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    render(&painter);
    return image;
}

void TShockwaveFlash::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!FPlayer) {
        painter.fillRect(rect(), palette().window());
        return;
    }
    FRenderer->RenderStage(painter, FPlayer->GetMovie(), FPlayer->Stage(), size(),
                           FPlayer->BackgroundColor());
}

// --- The mouse ---

void TShockwaveFlash::mouseMoveEvent(QMouseEvent* Event) {
    ForwardMouse(Event, MouseAction::Move);
}

void TShockwaveFlash::mousePressEvent(QMouseEvent* Event) {
    ForwardMouse(Event, MouseAction::Press);
}

void TShockwaveFlash::mouseReleaseEvent(QMouseEvent* Event) {
    ForwardMouse(Event, MouseAction::Release);
}

void TShockwaveFlash::ForwardMouse(QMouseEvent* Event, MouseAction Action) {
    if (!FPlayer)
        return;
    // Buttons answer the left button only; other buttons still move the pointer over them.
    if (Action != MouseAction::Move && Event->button() != Qt::LeftButton)
        return;
    bool invertible = false;
    const QTransform toStage =
        flash::Renderer::StageTransform(FPlayer->GetMovie().frameSize, size()).inverted(&invertible);
    if (!invertible)
        return;
    const QPointF point = toStage.map(Event->position());
    bool overButton = false;
    switch (Action) {
    case MouseAction::Move:
        overButton = FPlayer->MouseMove(point.x(), point.y());
        break;
    case MouseAction::Press:
        overButton = FPlayer->MouseDown(point.x(), point.y());
        break;
    case MouseAction::Release:
        overButton = FPlayer->MouseUp(point.x(), point.y());
        break;
    }
    if (FPlayer->MouseHidden()) // the movie hid the pointer (Mouse.hide)
        setCursor(Qt::BlankCursor);
    else if (overButton)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
    Event->accept();
    AfterInput();
}

void TShockwaveFlash::AfterInput() {
    // A button's action may have started the movie.
    if (FPlayer->Playing() && !FFrameTimer.isActive())
        StartClock();
    update();
}

// --- The keyboard ---

// Keys go down and up as Flash Player reports them; a key held repeats its key down, as there.
void TShockwaveFlash::keyPressEvent(QKeyEvent* Event) {
    const flash::KeyStroke key =
        flash::KeyFromQt(Event->key(), Event->text(), Event->modifiers().testFlag(Qt::KeypadModifier));
    if (!FPlayer || key.code == 0) {
        QWidget::keyPressEvent(Event);
        return;
    }
    FPlayer->KeyDown(key.code, key.ascii);
    Event->accept();
    AfterInput();
}

void TShockwaveFlash::keyReleaseEvent(QKeyEvent* Event) {
    const flash::KeyStroke key =
        flash::KeyFromQt(Event->key(), Event->text(), Event->modifiers().testFlag(Qt::KeypadModifier));
    if (!FPlayer || key.code == 0) {
        QWidget::keyReleaseEvent(Event);
        return;
    }
    if (!Event->isAutoRepeat())
        FPlayer->KeyUp(key.code, key.ascii);
    Event->accept();
    AfterInput();
}

// --- The movie's clock ---

void TShockwaveFlash::StartClock() {
    FClockStart = Clock::now();
    FTicksDone = 0;
    ScheduleNextFrame();
}

void TShockwaveFlash::ScheduleNextFrame() {
    if (!FPlayer)
        return;
    const double rate = FPlayer->GetMovie().frameRate > 0 ? FPlayer->GetMovie().frameRate : 12;
    const auto due = FClockStart + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>((FTicksDone + 1) / rate));
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
    FFrameTimer.start(std::max<int>(int(wait.count()), 0));
}

void TShockwaveFlash::FrameDue() {
    if (!FPlayer)
        return;
    const double rate = FPlayer->GetMovie().frameRate > 0 ? FPlayer->GetMovie().frameRate : 12;
    const double elapsed = std::chrono::duration<double>(Clock::now() - FClockStart).count();
    const long long dueTicks = std::llround(std::floor(elapsed * rate));
    if (dueTicks > FTicksDone) {
        // Every frame due on the clock is run; only the last is shown, so a late frame is skipped
        // rather than queued and playback keeps real time.
        long long ticks = dueTicks - FTicksDone;
        // A stream sound that has got ahead of the pictures pulls them along: frames are skipped
        // rather than letting the sound run ahead. Without sound output the clock alone rules.
        if (const int streamFrame = FPlayer->StreamFrame();
            streamFrame >= 0 && FPlayer->Playing() && FSoundOutput->Running())
            ticks = std::max<long long>(ticks, std::min(streamFrame - FPlayer->CurrentFrame(), 8));
        for (long long i = 0; i < ticks; ++i)
            FPlayer->Tick();
        FTicksDone = dueTicks;
        update();
    }
    ScheduleNextFrame();
}

#pragma once
// The player control of the main window: a widget that loads a movie, plays it at its frame rate on
// a steady clock, shows the current frame scaled into the widget, and plays its sound.

#include <QString>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <memory>

namespace flash {
class Player;
class Renderer;
class SoundMixer;
class SoundOutput;
struct Movie;
} // namespace flash

class TShockwaveFlash : public QWidget {
public:
    explicit TShockwaveFlash(QWidget* Parent = nullptr);
    ~TShockwaveFlash() override;

    // Setting the movie loads the file before returning; a loaded movie starts playing by itself
    // and loops. A file that cannot be used leaves no movie: TotalFrames is then 0, and
    // LoadError() says why.
    QString GetMovie() const { return FMovie; }
    void SetMovie(const QString& FileName);
    QString LoadError() const { return FLoadError; }

    // The frame count the movie's header declares (0 without a movie), also when the file holds
    // fewer or more frames; playback still shows every frame the file holds.
    int TotalFrames() const;
    int FrameNum() const; // zero-based
    // -1 while playing, 0 while stopped.
    std::int16_t GetPlaying() const;
    void SetPlaying(std::int16_t Value);
    void Play();
    void Stop();
    // Shows frame Frame (zero-based), also while paused.
    void GotoFrame(int Frame);

    // The frame as shown, at the widget's size.
    QImage Snapshot();

protected:
    void paintEvent(QPaintEvent* Event) override;
    // The mouse reaches the movie's buttons at the point of the stage under it.
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    // Clicked into, the control takes the keys: a key press reaches the buttons waiting for that key.
    // Tab and Shift+Tab still move the focus on, as everywhere in the window.
    void keyPressEvent(QKeyEvent* Event) override;
    void keyReleaseEvent(QKeyEvent* Event) override;

private:
    using Clock = std::chrono::steady_clock;
    void StartClock();
    void ScheduleNextFrame();
    void FrameDue();
    enum class MouseAction { Move, Press, Release };
    void ForwardMouse(QMouseEvent* Event, MouseAction Action);
    // After the movie answered the mouse or a key: its actions may have started it.
    void AfterInput();

    QString FMovie;
    QString FLoadError;
    std::unique_ptr<flash::SoundMixer> FMixer;
    std::unique_ptr<flash::SoundOutput> FSoundOutput;
    std::unique_ptr<flash::Renderer> FRenderer;
    std::unique_ptr<flash::Player> FPlayer;
    QTimer FFrameTimer;
    Clock::time_point FClockStart;
    long long FTicksDone = 0;
};

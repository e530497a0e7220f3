#pragma once
// The frame seek bar under the player: a horizontal slider that reports left-button presses and
// releases around its own handling of them, and the main window's handlers that pause the movie
// while the bar is pressed, seek while it is paused and resume afterwards.

#include <QSlider>
#include <functional>

class QMouseEvent;
class TShockwaveFlash;

class TMbar;
using TMbarNotifyEvent = std::function<void(TMbar* Sender)>;
using TMbarButtonEvent = std::function<void(TMbar* Sender, QMouseEvent* Message)>;

class TMbar : public QSlider {
public:
    explicit TMbar(QWidget* Parent = nullptr);

    int GetMax() const { return maximum(); }
    void SetMax(int Value) { setMaximum(Value); }
    int GetMin() const { return minimum(); }
    void SetMin(int Value) { setMinimum(Value); }
    int GetPosition() const { return value(); }
    void SetPosition(int Value) { setValue(Value); }

    // Whenever the position changes, by the user or the program; setting the same position is no
    // change.
    TMbarNotifyEvent OnChange;
    // Before the bar handles a left-button press (a double click's second press included).
    TMbarButtonEvent OnLeftButtonDown;
    // After the bar has handled a left-button release.
    TMbarButtonEvent OnLeftButtonUp;

protected:
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;

    void DoChange();
    void DoLeftButtonDown(QMouseEvent* Message);
    void DoLeftButtonUp(QMouseEvent* Message);
};

// The main window's handlers. Each does nothing unless the player has a movie loaded (a movie is set
// and it has frames).
// The bar moved: a paused player shows the frame at the bar's position; a playing one is left alone.
void SeekBarChange(TMbar& Bar, TShockwaveFlash& Flash);
// The bar is pressed: remembers whether the player was playing, and pauses it.
void SeekBarMouseDown(TShockwaveFlash& Flash, bool& WasPlaying);
// The bar is released: the player plays again if it was playing at the press.
void SeekBarMouseUp(TShockwaveFlash& Flash, bool WasPlaying);

// Wires the three handlers to Bar's events. Flash and WasPlaying must outlive Bar.
void ConnectSeekBar(TMbar& Bar, TShockwaveFlash& Flash, bool& WasPlaying);

#include "app/TbarB.h"

#include "app/ShockwaveFlashObjects.h"

#include <QApplication>
#include <QMouseEvent>
#include <QProxyStyle>

namespace {
// A left press anywhere on the groove puts the thumb under the pointer and drags it from there: with
// one frame per page step, paging towards the click would crawl through a long movie.
class TJumpToClickStyle : public QProxyStyle {
public:
    TJumpToClickStyle() : QProxyStyle(QApplication::style()->name()) {}

    int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget,
                  QStyleHintReturn* ReturnData) const override {
        if (Hint == SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(Hint, Option, Widget, ReturnData);
    }
};

bool MovieLoaded(const TShockwaveFlash& Flash) {
    return !Flash.GetMovie().isEmpty() && Flash.TotalFrames() != 0;
}
} // namespace

TMbar::TMbar(QWidget* Parent) : QSlider(Qt::Horizontal, Parent) {
    auto* style = new TJumpToClickStyle;
    style->setParent(this);
    setStyle(style);
    setTickInterval(1);
    setGeometry(-3, 356, 500, 27);
    setSingleStep(1);
    setRange(0, 100);
    setPageStep(1);
    setValue(0);
    setTickPosition(NoTicks);
    // It fills its panel in both directions when laid out, as an aligned-to-client bar does.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    connect(this, &QSlider::valueChanged, this, [this] { DoChange(); });
}

void TMbar::mousePressEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton)
        DoLeftButtonDown(Event);
    QSlider::mousePressEvent(Event);
}

void TMbar::mouseReleaseEvent(QMouseEvent* Event) {
    QSlider::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton)
        DoLeftButtonUp(Event);
}

void TMbar::DoChange() {
    if (OnChange)
        OnChange(this);
}

void TMbar::DoLeftButtonDown(QMouseEvent* Message) {
    if (OnLeftButtonDown)
        OnLeftButtonDown(this, Message);
}

void TMbar::DoLeftButtonUp(QMouseEvent* Message) {
    if (OnLeftButtonUp)
        OnLeftButtonUp(this, Message);
}

void SeekBarChange(TMbar& Bar, TShockwaveFlash& Flash) {
    if (!MovieLoaded(Flash))
        return;
    if (Flash.GetPlaying() == 0)
        Flash.GotoFrame(Bar.GetPosition());
}

void SeekBarMouseDown(TShockwaveFlash& Flash, bool& WasPlaying) {
    if (!MovieLoaded(Flash))
        return;
    WasPlaying = Flash.GetPlaying() != 0;
    Flash.SetPlaying(0);
}

void SeekBarMouseUp(TShockwaveFlash& Flash, bool WasPlaying) {
    if (!MovieLoaded(Flash))
        return;
    Flash.SetPlaying(WasPlaying ? -1 : 0);
}

void ConnectSeekBar(TMbar& Bar, TShockwaveFlash& Flash, bool& WasPlaying) {
    Bar.OnChange = [&Flash](TMbar* Sender) { SeekBarChange(*Sender, Flash); };
    Bar.OnLeftButtonDown = [&Flash, &WasPlaying](TMbar*, QMouseEvent*) {
        SeekBarMouseDown(Flash, WasPlaying);
    };
    Bar.OnLeftButtonUp = [&Flash, &WasPlaying](TMbar*, QMouseEvent*) { SeekBarMouseUp(Flash, WasPlaying); };
}

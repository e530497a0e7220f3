#pragma once
// The "Format" dialog: whether the converted file carries sound, which target the encoder makes (the
// four disc targets, then MP4, WebM and GIF), and how the movie is converted (by recording the window,
// or frame by frame). It only holds the choice while it is open; the main window keeps the options.

#include <QDialog>

class QPushButton;
class TRadioGroup;

class TOptionDlg : public QDialog {
public:
    explicit TOptionDlg(QWidget* Parent = nullptr);

    void setVisible(bool Visible) override;

    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    // 0 "Include Audio", 1 "No Audio".
    TRadioGroup* AudioRadioGroup;
    // 0 "NTSC-VCD", 1 "NTSC-DVD", 2 "PAL-VCD", 3 "PAL-DVD", 4 "MP4", 5 "WebM", 6 "GIF".
    TRadioGroup* VideoRadioGroup;
    // 0 screen recording, 1 frame-exact.
    TRadioGroup* MethodRadioGroup;

private:
    // A rectangle of the 96 dpi design at the screen's resolution.
    QRect Scaled(int Left, int Top, int Width, int Height) const;
    void CenterOnScreen();

    double FScale;
};

// The main window's "Format" button: shows the dialog with the current options selected and, when it
// is closed with OK, takes the selection over; any other close keeps them. True on OK.
bool RunOptionDialog(TOptionDlg& Dialog, int& AudioOption, int& VideoOption, int& MethodOption);
// The same for callers that keep no method: the method shown is screen recording.
bool RunOptionDialog(TOptionDlg& Dialog, int& AudioOption, int& VideoOption);

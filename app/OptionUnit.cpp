#include "app/OptionUnit.h"

#include "app/RadioGroup.h"

#include <QPushButton>
#include <QScreen>
#include <cmath>

TOptionDlg::TOptionDlg(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      FScale(screen() ? screen()->logicalDotsPerInch() / 96.0 : 1.0) {
    setWindowTitle(QStringLiteral("Options"));
    setFixedSize(Scaled(0, 0, 294, 306).size());

    // Creation order is the tab order.
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setGeometry(Scaled(122, 272, 75, 25));
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setGeometry(Scaled(203, 272, 75, 25));
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    AudioRadioGroup = new TRadioGroup(QStringLiteral("Audio"),
                                      {QStringLiteral("Include Audio"), QStringLiteral("No Audio")}, 2, this);
    AudioRadioGroup->setGeometry(Scaled(16, 12, 262, 45));
    AudioRadioGroup->SetItemIndex(0);

    VideoRadioGroup = new TRadioGroup(QStringLiteral("Video"),
                                      {QStringLiteral("NTSC-VCD"), QStringLiteral("NTSC-DVD"),
                                       QStringLiteral("PAL-VCD"), QStringLiteral("PAL-DVD"),
                                       QStringLiteral("MP4"), QStringLiteral("WebM"), QStringLiteral("GIF")},
                                      2, this);
    VideoRadioGroup->setGeometry(Scaled(16, 70, 262, 118));
    VideoRadioGroup->SetItemIndex(0);

    MethodRadioGroup = new TRadioGroup(QStringLiteral("Method"),
                                       {QStringLiteral("Screen recording (as the window shows it)"),
                                        QStringLiteral("Frame-exact (faster than real time)")},
                                       1, this);
    MethodRadioGroup->setGeometry(Scaled(16, 198, 262, 62));
    MethodRadioGroup->SetItemIndex(0);
}

void TOptionDlg::setVisible(bool Visible) {
    // Placed before showing, so the dialog's own placement over its parent does not apply. The
    // native window is made first: the frame's size counts where the platform knows it by then.
    if (Visible && !isVisible()) {
        create();
        CenterOnScreen();
        // Each opening starts at OK, first in the tab order, whatever had the focus last time.
        OKBtn->setFocus();
    }
    QDialog::setVisible(Visible);
}

QRect TOptionDlg::Scaled(int Left, int Top, int Width, int Height) const {
    const auto scale = [this](int Value) { return int(std::lround(Value * FScale)); };
    return {scale(Left), scale(Top), scale(Width), scale(Height)};
}

void TOptionDlg::CenterOnScreen() {
    if (!screen())
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen()->geometry().center());
    move(frame.topLeft());
}

bool RunOptionDialog(TOptionDlg& Dialog, int& AudioOption, int& VideoOption, int& MethodOption) {
    Dialog.AudioRadioGroup->SetItemIndex(AudioOption);
    Dialog.VideoRadioGroup->SetItemIndex(VideoOption);
    Dialog.MethodRadioGroup->SetItemIndex(MethodOption);
    if (Dialog.exec() != QDialog::Accepted)
        return false;
    AudioOption = Dialog.AudioRadioGroup->ItemIndex();
    VideoOption = Dialog.VideoRadioGroup->ItemIndex();
    MethodOption = Dialog.MethodRadioGroup->ItemIndex();
    return true;
}

bool RunOptionDialog(TOptionDlg& Dialog, int& AudioOption, int& VideoOption) {
    int method = 0;
    return RunOptionDialog(Dialog, AudioOption, VideoOption, method);
}

#pragma once
// Modal message boxes under the platform's names. Boxes asked for on another thread are shown by the
// main thread while the asking thread waits. Tests install a hook that answers instead.

#include "platform/MMSystem.h"

#include <QString>
#include <functional>
class QWidget;

namespace win {

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_TASKMODAL = 0x00002000;

constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows Text in a box titled Caption with the buttons and icon of Type; returns the button pressed.
int MessageBoxW(QWidget* Owner, const QString& Text, const QString& Caption, UINT Type);

using TMessageBoxHook = std::function<int(const QString& Text, const QString& Caption, UINT Type)>;
// While set, every message box goes to the hook (on the asking thread) instead of the screen.
void SetMessageBoxHook(TMessageBoxHook Hook);

// File dialogs: Qt's own dialogs (the same on every desktop), with the filter written as
// "Description|pattern|Description|pattern".
enum class TFileDialogKind { Open, Save };

struct TFileDialogRequest {
    TFileDialogKind Kind;
    QString Filter;
    int FilterIndex; // 1-based
    QString DefaultExt;
    QString InitialDir; // empty: the dialog's own choice
};
// While set, every file dialog goes to the hook instead of the screen: it returns the chosen file's
// full name, or an empty string for a cancelled dialog.
using TFileDialogHook = std::function<QString(const TFileDialogRequest& Request)>;
void SetFileDialogHook(TFileDialogHook Hook);

class TFileDialog {
public:
    explicit TFileDialog(TFileDialogKind Kind) : FKind(Kind) {}

    QString DefaultExt; // with its dot: ".swf"
    QString Filter;
    int FilterIndex = 1;
    QString InitialDir; // where the dialog opens; empty: the dialog's own choice
    QString FileName;   // the chosen file's full name after a confirmed Execute

    // Shows the dialog modally; true when the user chose a file. A save dialog does not ask about
    // an existing file itself: the caller decides that.
    bool Execute(QWidget* Owner);

private:
    TFileDialogKind FKind;
};

class TOpenDialog : public TFileDialog {
public:
    TOpenDialog() : TFileDialog(TFileDialogKind::Open) {}
};
class TSaveDialog : public TFileDialog {
public:
    TSaveDialog() : TFileDialog(TFileDialogKind::Save) {}
};

} // namespace win

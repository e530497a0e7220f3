#include "platform/Dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <mutex>

namespace {
std::mutex HookLock;
TMessageBoxHook Hook;

int ShowOnThisThread(QWidget* Owner, const QString& Text, const QString& Caption, UINT Type) {
    QMessageBox box(Owner);
    box.setWindowTitle(Caption);
    box.setText(Text);
    switch (Type & 0xF0) {
    case MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    if ((Type & 0x0F) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // Task-modal boxes block every window of the program, like an application-modal box.
    box.setWindowModality(Owner && !(Type & MB_TASKMODAL) ? Qt::WindowModal : Qt::ApplicationModal);
    const int pressed = box.exec();
    return pressed == QMessageBox::Yes ? IDYES : pressed == QMessageBox::No ? IDNO : IDOK;
}
} // namespace

int MessageBoxW(QWidget* Owner, const QString& Text, const QString& Caption, UINT Type) {
    {
        std::lock_guard<std::mutex> lock(HookLock);
        if (Hook)
            return Hook(Text, Caption, Type);
    }
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!application) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(Caption), qUtf8Printable(Text));
        return (Type & 0x0F) == MB_YESNO ? IDNO : IDOK;
    }
    if (QThread::currentThread() == application->thread())
        return ShowOnThisThread(Owner, Text, Caption, Type);
    int result = IDOK;
    QMetaObject::invokeMethod(
        application, [&] { result = ShowOnThisThread(Owner, Text, Caption, Type); },
        Qt::BlockingQueuedConnection);
    return result;
}

void SetMessageBoxHook(TMessageBoxHook NewHook) {
    std::lock_guard<std::mutex> lock(HookLock);
    Hook = std::move(NewHook);
}

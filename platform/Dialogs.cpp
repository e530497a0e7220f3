#include "platform/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <mutex>

namespace win {

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
    TMessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(HookLock);
        hook = Hook;
    }
    // The hook may raise boxes itself, so it runs without the lock.
    if (hook)
        return hook(Text, Caption, Type);
    // Every message the user sees also goes to standard error, for logs and scripted runs.
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(Caption), qUtf8Printable(Text));
    std::fflush(stderr);
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!application) {
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

namespace {
std::mutex FileDialogHookLock;
TFileDialogHook FileDialogHook;

// "Flash (*.swf)|*.swf|All (*.*)|*.*" → {"Flash (*.swf)", "All (*.*)"}: the descriptions already
// name their patterns in the form Qt reads.
QStringList QtNameFilters(const QString& Filter) {
    const QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << QStringLiteral("%1 (%2)").arg(parts[i].section(QLatin1String(" ("), 0, 0), patterns);
    }
    return filters;
}
} // namespace

void SetFileDialogHook(TFileDialogHook NewHook) {
    std::lock_guard<std::mutex> lock(FileDialogHookLock);
    FileDialogHook = std::move(NewHook);
}

bool TFileDialog::Execute(QWidget* Owner) {
    TFileDialogHook hook;
    {
        std::lock_guard<std::mutex> lock(FileDialogHookLock);
        hook = FileDialogHook;
    }
    QString chosen;
    if (hook) {
        chosen = hook({FKind, Filter, FilterIndex, DefaultExt, InitialDir});
    } else {
        QFileDialog dialog(Owner);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        const bool open = FKind == TFileDialogKind::Open;
        dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        const QStringList filters = QtNameFilters(Filter);
        dialog.setNameFilters(filters);
        if (FilterIndex >= 1 && FilterIndex <= filters.size())
            dialog.selectNameFilter(filters[FilterIndex - 1]);
        QString suffix = DefaultExt;
        if (suffix.startsWith(QLatin1Char('.')))
            suffix.remove(0, 1);
        dialog.setDefaultSuffix(suffix);
        if (!InitialDir.isEmpty())
            dialog.setDirectory(InitialDir);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().constFirst();
    }
    if (chosen.isEmpty())
        return false;
    FileName = QFileInfo(chosen).absoluteFilePath();
    return true;
}

} // namespace win

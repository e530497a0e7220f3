// Program entry: the application, its main window and the format dialog, then the event loop.
#include "app/OptionUnit.h"
#include "app/VantrelUnit.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    TVantrelForm form;
    TOptionDlg optionDialog;
    form.SetOptionDialog(&optionDialog);
    form.show();
    return QApplication::exec();
}

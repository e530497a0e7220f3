// Program entry: the application, its main window and the format dialog, then the event loop.
//   vantrel [MOVIE.swf]
// A movie named on the command line is opened once the window shows, with the Open button's checks
// and messages. --help and --version print and exit; a wrong option exits with status 2.
#include "app/OptionUnit.h"
#include "app/VantrelUnit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Turns a Flash movie into a video for a disc or a file, in a window."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("movie"), QStringLiteral("The .swf file to open."),
                                 QStringLiteral("[MOVIE.swf]"));
    if (!parser.parse(QApplication::arguments()) || parser.positionalArguments().size() > 1) {
        const QString problem =
            parser.errorText().isEmpty() ? QStringLiteral("give at most one movie file") : parser.errorText();
        std::fprintf(stderr, "vantrel: %s (see --help)\n", qUtf8Printable(problem));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("vantrel %s\n", VANTREL_VERSION);
        return 0;
    }

    TVantrelForm form;
    TOptionDlg optionDialog;
    form.SetOptionDialog(&optionDialog);
    form.show();
    if (!parser.positionalArguments().isEmpty()) {
        const QString movie = parser.positionalArguments().front();
        QTimer::singleShot(0, &form, [&form, movie] { form.OpenMovieFile(movie); });
    }
    return QApplication::exec();
}

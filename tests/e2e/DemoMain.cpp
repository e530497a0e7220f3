// make demo: converts the generated demo movie to PAL-DVD in the real window on a private X server
// and sound server, and says where the result is.
#include "DemoMovie.h"
#include "Driver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    const QString demoFolder =
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("demo")).absolutePath();
    QTemporaryDir servers;
    TPrivateServers privateServers(servers.path());
    if (!privateServers.Start()) {
        std::fprintf(stderr, "demo: the private X or sound server did not start\n");
        return 1;
    }
    int result = 1;
    {
        QCoreApplication application(argc, argv);
        QDir().mkpath(demoFolder);
        const QString movie = demoFolder + QStringLiteral("/moving-boxes.swf");
        const QString output = demoFolder + QStringLiteral("/moving-boxes-pal-dvd.avi");
        QFile::remove(output);
        QFile file(movie);
        if (file.open(QIODevice::WriteOnly))
            file.write(MakeDemoMovie());
        file.close();

        TProgramRun program;
        QString failure;
        if (!program.Start(QStringLiteral(VANTREL_PROGRAM), servers.path()))
            failure = QStringLiteral("the program did not start");
        else if (!program.OpenMovie(movie))
            failure = QStringLiteral("the movie did not open");
        else if (!program.ChooseFormat(true, 3))
            failure = QStringLiteral("the format dialog did not take the choice");
        else if (program.Convert(output, 5000, &failure))
            result = 0;
        program.Kill();
        if (result == 0)
            std::printf("demo: converted %s\n      into %s (PAL-DVD, with sound)\n", qPrintable(movie),
                        qPrintable(output));
        else
            std::fprintf(stderr, "demo: %s\n", qPrintable(failure));
    }
    return result;
}

// Writes the seed corpus of every target: FOLDER/<target>/seed-<n>. Files already there (what the
// fuzzers added) are kept.
#include "fuzz/FuzzTargets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QDir root(QFile::decodeName(argv[1]));
    for (const fuzz::Target& target : fuzz::Targets()) {
        const QString folder = root.filePath(QString::fromLatin1(target.name));
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(folder));
            return 1;
        }
        int number = 0;
        for (const QByteArray& seed : target.seeds()) {
            QFile file(QDir(folder).filePath(QStringLiteral("seed-%1").arg(number++)));
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(seed) != seed.size()) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
                return 1;
            }
        }
    }
    return 0;
}

// The fuzz targets' seeds and the inputs that once crashed them (each kept with its fix) run through
// the targets' own entry functions. A crash or a broken promise aborts this program.
#include "flash/swf/SwfReader.h"
#include "fuzz/FuzzTargets.h"

#include "TestFiles.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

class QuietMessages {
public:
    QuietMessages()
        : previous(qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {})) {}
    ~QuietMessages() { qInstallMessageHandler(previous); }

private:
    QtMessageHandler previous;
};

int RunInput(const fuzz::Target& target, const QByteArray& input) {
    return target.entry(reinterpret_cast<const std::uint8_t*>(input.constData()), std::size_t(input.size()));
}

} // namespace

TEST(FuzzReplay, SeedsRunCleanAndMoviesRead) {
    QuietMessages quiet;
    for (const fuzz::Target& target : fuzz::Targets()) {
        SCOPED_TRACE(target.name);
        const std::vector<QByteArray> seeds = target.seeds();
        EXPECT_GE(seeds.size(), 3u);
        for (const QByteArray& seed : seeds)
            EXPECT_EQ(RunInput(target, seed), 0);
    }
    // A seed the reader refuses or cuts would leave the fuzzer less to explore; the sprites placed
    // inside themselves (the placement cycles) are meant.
    for (const QByteArray& movie : fuzz::SwfReaderSeeds()) {
        const flash::ReadResult result = flash::ReadMovie(movie);
        EXPECT_TRUE(result.movie) << result.error.toStdString();
        EXPECT_EQ(result.warnings.filter("inside itself").size(), result.warnings.size())
            << result.warnings.join('\n').toStdString();
    }
}

TEST(FuzzReplay, InputsThatOnceCrashedRunClean) {
    QuietMessages quiet;
    const QDir root(QStringLiteral(VANTREL_FUZZ_REGRESSIONS));
    for (const fuzz::Target& target : fuzz::Targets()) {
        const QDir folder(root.filePath(QString::fromLatin1(target.name)));
        for (const QString& name : folder.entryList(QDir::Files, QDir::Name)) {
            SCOPED_TRACE(std::string(target.name) + "/" + name.toStdString());
            EXPECT_EQ(RunInput(target, ReadWholeFile(folder.filePath(name))), 0);
        }
    }
}

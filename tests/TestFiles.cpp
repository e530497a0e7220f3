#include "TestFiles.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

TestDir::TestDir() {
    EXPECT_TRUE(dir.isValid());
}

QString TestDir::path(const QString& name) const {
    return dir.filePath(name);
}

QByteArray ReadWholeFile(const QString& fileName) {
    QFile file(fileName);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << fileName.toStdString();
    return file.readAll();
}

void WriteWholeFile(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << fileName.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray RunProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return {};
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << program.toStdString() << ": "
                                     << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

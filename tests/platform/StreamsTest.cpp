#include "platform/Streams.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace win; // the platform layer's Windows-style names

TEST(MemoryStream, GrowsReadsSeeksAndExposesItsMemory) {
    TMemoryStream stream;
    stream.WriteBuffer("hello", 5);
    EXPECT_EQ(stream.GetSize(), 5);
    EXPECT_EQ(QByteArray(static_cast<const char*>(stream.Memory()), 5), "hello");

    stream.SetPosition(8); // writing past the end fills the hole with zeros
    stream.WriteBuffer("!", 1);
    EXPECT_EQ(QByteArray(static_cast<const char*>(stream.Memory()), 9), QByteArray("hello\0\0\0!", 9));

    char buffer[4];
    stream.Seek(-3, soEnd);
    EXPECT_EQ(stream.Read(buffer, 4), 3);
    EXPECT_EQ(stream.Read(buffer, 4), 0);
    EXPECT_THROW(stream.ReadBuffer(buffer, 1), EReadError);
    EXPECT_THROW(stream.Seek(-100, soCurrent), EStreamError);

    stream.SetSize(2);
    EXPECT_EQ(stream.GetPosition(), 2);
    stream.SetSize(4);
    EXPECT_EQ(QByteArray(static_cast<const char*>(stream.Memory()), 4), QByteArray("he\0\0", 4));
}

TEST(MemoryStream, CopyFromTakesACountOrTheWholeSource) {
    TMemoryStream source;
    source.WriteBuffer("0123456789", 10);
    source.SetPosition(4);
    TMemoryStream target;
    EXPECT_EQ(target.CopyFrom(source, 3), 3);
    EXPECT_EQ(QByteArray(static_cast<const char*>(target.Memory()), 3), "456");
    EXPECT_EQ(target.CopyFrom(source, 0), 10); // whole source, from its start
    EXPECT_EQ(target.GetSize(), 13);
    source.SetPosition(8);
    EXPECT_THROW(target.CopyFrom(source, 5), EReadError);
}

TEST(FileStream, CreatesReadsAndReportsErrorsWithTheFileName) {
    TestDir dir;
    const QString name = dir.path("odd name ü's [1].bin");
    {
        TFileStream file(name, fmCreate);
        file.WriteBuffer("abcdef", 6);
        file.SetSize(4);
        EXPECT_EQ(file.GetSize(), 4);
    }
    EXPECT_EQ(ReadWholeFile(name), "abcd");
    {
        TFileStream file(name, fmOpenRead | fmShareDenyWrite);
        char buffer[8];
        EXPECT_EQ(file.Read(buffer, 8), 4);
        EXPECT_THROW(file.WriteBuffer("x", 1), EWriteError);
    }
    try {
        TFileStream missing(dir.path("missing"), fmOpenRead);
        FAIL() << "no error";
    } catch (const EFOpenError& error) {
        EXPECT_EQ(
            error.Message(),
            QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(dir.path("missing")));
    }
    EXPECT_THROW(TFileStream(dir.path("none/x"), fmCreate), EFCreateError);
}

TEST(FileStream, AWriterKeepsOthersOutAndItsContentSafe) {
    TestDir dir;
    const QString name = dir.path("recording.wav");
    TFileStream writer(name, fmCreate);
    writer.WriteBuffer("recorded", 8);

    EXPECT_THROW(TFileStream(name, fmCreate), EFCreateError);
    EXPECT_THROW(TFileStream(name, fmOpenRead | fmShareDenyWrite), EFOpenError);
    EXPECT_EQ(ReadWholeFile(name), "recorded"); // the refused creation did not empty it
    {
        TFileStream unlocked(name, fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(unlocked.GetSize(), 8);
    }
    try {
        TFileStream second(name, fmCreate);
    } catch (const EFCreateError& error) {
        EXPECT_TRUE(error.Message().contains("in use")) << error.what();
    }
}

TEST(FileStream, ReadersShareButKeepWritersOut) {
    TestDir dir;
    const QString name = dir.path("shared");
    WriteWholeFile(name, "data");
    TFileStream first(name, fmOpenRead | fmShareDenyWrite);
    TFileStream second(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(name, fmCreate), EFCreateError);
    EXPECT_THROW(TFileStream(name, fmOpenReadWrite | fmShareExclusive), EFOpenError);
}

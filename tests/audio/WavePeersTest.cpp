// Other programs must read the WAVE files we write, and we must read theirs.
#include "TestFiles.h"
#include "WaveFixtures.h"
#include "audio/WaveStorage.h"

#include <QStringList>
#include <cmath>
#include <gtest/gtest.h>

namespace {
QByteArray Sine(const WAVEFORMATEX& Format, int Frames) {
    QByteArray audio;
    for (int frame = 0; frame < Frames; ++frame) {
        const double value = std::sin(2 * M_PI * 440 * frame / Format.nSamplesPerSec);
        for (int channel = 0; channel < Format.nChannels; ++channel) {
            if (Format.wBitsPerSample == 8)
                audio += char(std::uint8_t(128 + std::lround(100 * value)));
            else
                audio += Samples({std::int16_t(std::lround(20000 * value))});
        }
    }
    return audio;
}

// Key=value lines of ffprobe's or sox's output.
QMap<QString, QString> Fields(const QByteArray& Output) {
    QMap<QString, QString> fields;
    for (const QString& line : QString::fromUtf8(Output).split('\n', Qt::SkipEmptyParts)) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            fields[line.left(equals).trimmed()] = line.mid(equals + 1).trimmed();
    }
    return fields;
}
} // namespace

TEST(WavePeers, FfprobeAndSoxReadWhatWeWrite) {
    TestDir dir;
    struct Case {
        TPCMFormat Format;
        const char* Codec;
        int Frames;
    };
    const Case cases[] = {
        {Mono16bit8000Hz, "pcm_s16le", 8000},
        {Stereo16bit44100Hz, "pcm_s16le", 22050},
        {Mono8bit22050Hz, "pcm_u8", 11025},
        {Stereo8bit11025Hz, "pcm_u8", 11025},
    };
    for (const Case& c : cases) {
        const WAVEFORMATEX format = PCMFormat(c.Format);
        const QString name = dir.path(QStringLiteral("ours%1.wav").arg(int(c.Format)));
        SCOPED_TRACE(name.toStdString());
        {
            TWaveStreamAdapter adapter(new TFileStream(name, fmCreate), 1);
            ASSERT_TRUE(adapter.BeginWrite(format));
            const QByteArray audio = Sine(format, c.Frames);
            ASSERT_EQ(adapter.Write(audio.constData(), std::int32_t(audio.size())), audio.size());
            ASSERT_TRUE(adapter.EndWrite());
        }
        const double seconds = double(c.Frames) / format.nSamplesPerSec;

        const auto probe = Fields(RunProgram("ffprobe", {"-v", "error", "-show_entries",
                                                         "stream=codec_name,sample_rate,channels,duration",
                                                         "-of", "default=noprint_wrappers=1", name}));
        EXPECT_EQ(probe["codec_name"], c.Codec);
        EXPECT_EQ(probe["sample_rate"].toUInt(), format.nSamplesPerSec);
        EXPECT_EQ(probe["channels"].toUInt(), format.nChannels);
        EXPECT_NEAR(probe["duration"].toDouble(), seconds, 0.001);

        const QStringList sox =
            QString::fromUtf8(RunProgram("soxi", {"-r", name}) + RunProgram("soxi", {"-c", name}) +
                              RunProgram("soxi", {"-b", name}) + RunProgram("soxi", {"-s", name}))
                .split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(sox.size(), 4);
        EXPECT_EQ(sox[0].toUInt(), format.nSamplesPerSec);
        EXPECT_EQ(sox[1].toUInt(), format.nChannels);
        EXPECT_EQ(sox[2].toUInt(), format.wBitsPerSample);
        EXPECT_EQ(sox[3].toInt(), c.Frames);
    }
}

TEST(WavePeers, WeReadWhatSoxAndFfmpegWrite) {
    TestDir dir;
    struct Case {
        const char* Name;
        QString Program;
        QStringList Arguments; // the output file name follows
        WORD Tag, Channels, Bits;
        DWORD Rate;
        QStringList RawArguments; // how ffmpeg dumps the audio bytes unchanged
    };
    const QStringList tone = {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i", "sine=f=440:d=0.3"};
    const Case cases[] = {
        {"sox 16-bit stereo",
         "sox",
         {"-n", "-r", "11025", "-c", "2", "-b", "16"},
         1,
         2,
         16,
         11025,
         {"-f", "s16le"}},
        {"sox 8-bit mono",
         "sox",
         {"-n", "-r", "8000", "-c", "1", "-b", "8", "-e", "unsigned"},
         1,
         1,
         8,
         8000,
         {"-f", "u8"}},
        {"sox a-law with a fact chunk",
         "sox",
         {"-n", "-r", "8000", "-c", "1", "-e", "a-law"},
         6,
         1,
         8,
         8000,
         {"-f", "alaw"}},
        {"ffmpeg with a LIST chunk",
         "ffmpeg",
         tone + QStringList{"-ar", "22050", "-ac", "1", "-c:a", "pcm_s16le"},
         1,
         1,
         16,
         22050,
         {"-f", "s16le"}},
        {"ffmpeg 8-bit stereo",
         "ffmpeg",
         tone + QStringList{"-ar", "8000", "-ac", "2", "-c:a", "pcm_u8"},
         1,
         2,
         8,
         8000,
         {"-f", "u8"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString name = dir.path(QString::fromLatin1(c.Name).replace(' ', '_') + ".wav");
        QStringList arguments = c.Arguments;
        if (c.Program == "sox")
            arguments << name << "synth"
                      << "0.3"
                      << "sine"
                      << "440";
        else
            arguments << name;
        RunProgram(c.Program, arguments);

        TWaveStreamAdapter adapter(new TFileStream(name, fmOpenRead), 1);
        ASSERT_TRUE(adapter.Valid());
        const WAVEFORMATEX* format = adapter.WaveFormat();
        EXPECT_EQ(format->wFormatTag, c.Tag);
        EXPECT_EQ(format->nChannels, c.Channels);
        EXPECT_EQ(format->wBitsPerSample, c.Bits);
        EXPECT_EQ(format->nSamplesPerSec, c.Rate);
        EXPECT_NEAR(adapter.Length(), 300, 1);

        const QByteArray raw = RunProgram(
            "ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-i", name, "-c:a", "copy"} +
                          c.RawArguments + QStringList{"-"});
        void* data = nullptr;
        ASSERT_TRUE(adapter.AcquireData(data, false));
        EXPECT_EQ(QByteArray(static_cast<const char*>(data), int(adapter.DataSize())), raw);
        adapter.ReleaseData(data, false);
    }
}

// The table of targets and the small helpers the harnesses share.
#include "fuzz/FuzzTargets.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = {
        {"swf_reader", SwfReader, SwfReaderSeeds},
        {"swf_player", SwfPlayer, SwfPlayerSeeds},
        {"wave_edit", WaveEdit, WaveEditSeeds},
        {"avi_writer", AviWriter, AviWriterSeeds},
        {"encoder_progress", EncoderProgress, EncoderProgressSeeds},
    };
    return targets;
}

void Check(bool Condition, const char* Message) {
    if (Condition)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", Message);
    std::abort();
}

void EnsureGuiApplication() {
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vantrel-fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
}

QByteArray Input::Bytes(std::size_t count) {
    count = std::min(count, Left());
    const QByteArray bytes(reinterpret_cast<const char*>(data + position), qsizetype(count));
    position += count;
    return bytes;
}

} // namespace fuzz

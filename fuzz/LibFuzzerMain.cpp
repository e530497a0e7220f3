// libFuzzer's entry points for one target, whose entry function the build names in
// VANTREL_FUZZ_ENTRY. Qt's and the video library's messages are silenced: a damaged input makes
// many, and only crashes are findings.
#include "fuzz/FuzzTargets.h"

#include <QtGlobal>

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return VANTREL_FUZZ_ENTRY(data, size);
}

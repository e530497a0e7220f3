#include "platform/PlaybackSink.h"

#include <mutex>

namespace {

struct TPlaybackSink {
    std::mutex Lock;
    QString Name;
};

TPlaybackSink& Setting() {
    static auto* setting = new TPlaybackSink;
    return *setting;
}

} // namespace

QString PlaybackSink() {
    TPlaybackSink& setting = Setting();
    std::lock_guard<std::mutex> lock(setting.Lock);
    return setting.Name;
}

void SetPlaybackSink(const QString& Name) {
    TPlaybackSink& setting = Setting();
    std::lock_guard<std::mutex> lock(setting.Lock);
    setting.Name = Name;
}

#include "app/Settings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {

constexpr int AudioOptions = 2, VideoOptions = 7, MethodOptions = 2;
constexpr int MaxWindowSide = 16384;

// Index Key when it is a whole number below Count, else 0.
int Choice(const QSettings& Settings, const char* Key, int Count) {
    bool ok = false;
    const int value = Settings.value(QLatin1String(Key)).toInt(&ok);
    return ok && value >= 0 && value < Count ? value : 0;
}

// Key when it names a folder that exists.
QString Folder(const QSettings& Settings, const char* Key) {
    const QString folder = Settings.value(QLatin1String(Key)).toString();
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

} // namespace

QString TWindowSettings::DefaultFileName() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/vantrel/vantrel.conf");
}

TWindowSettings TWindowSettings::Load(const QString& FileName) {
    TWindowSettings loaded;
    const QSettings settings(FileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return loaded;
    loaded.OpenFolder = Folder(settings, "folders/open");
    loaded.SaveFolder = Folder(settings, "folders/save");
    loaded.AudioOption = Choice(settings, "format/audio", AudioOptions);
    loaded.VideoOption = Choice(settings, "format/video", VideoOptions);
    loaded.MethodOption = Choice(settings, "format/method", MethodOptions);
    const QSize size = settings.value(QStringLiteral("window/size")).toSize();
    if (size.width() > 0 && size.height() > 0 && size.width() <= MaxWindowSide &&
        size.height() <= MaxWindowSide)
        loaded.WindowSize = size;
    return loaded;
}

void TWindowSettings::Save(const QString& FileName) const {
    QSettings settings(FileName, QSettings::IniFormat);
    // A damaged file is replaced, not merged into.
    settings.clear();
    settings.setValue(QStringLiteral("folders/open"), OpenFolder);
    settings.setValue(QStringLiteral("folders/save"), SaveFolder);
    settings.setValue(QStringLiteral("format/audio"), AudioOption);
    settings.setValue(QStringLiteral("format/video"), VideoOption);
    settings.setValue(QStringLiteral("format/method"), MethodOption);
    if (WindowSize.isValid())
        settings.setValue(QStringLiteral("window/size"), WindowSize);
}

#pragma once
// What the window remembers between runs: the last folders for opening and saving, the Format
// dialog's choices and the window's size, in an INI file under the user's configuration folder
// ($XDG_CONFIG_HOME/vantrel/vantrel.conf). A damaged or unreadable file, or a value out of range,
// counts as not remembered: the defaults apply, never an error. Saving is best effort.
#include <QSize>
#include <QString>

struct TWindowSettings {
    QString OpenFolder; // empty: not remembered
    QString SaveFolder;
    int AudioOption = 0; // the Format dialog's indices
    int VideoOption = 0;
    int MethodOption = 0;
    QSize WindowSize; // invalid: not remembered

    // The user's settings file.
    static QString DefaultFileName();
    // What FileName remembers; defaults for anything missing, damaged or out of range.
    static TWindowSettings Load(const QString& FileName);
    void Save(const QString& FileName) const;
};

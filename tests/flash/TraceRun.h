#pragma once
// The trace tests' fixture: a movie whose first frame runs a script, played, and the trace() lines
// it prints; a table of scripts with the lines each must print; and a session that keeps the player
// for tests that go on playing. A movie that does not read gives one line saying so, so a broken
// fixture fails every check rather than passing an empty one.

#include "flash/player/Player.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace flash::tracing {

// A script: assembly text (ScriptAssembler.h) or the records it assembles to.
struct Script {
    QByteArray code;
    Script(QByteArray records) : code(std::move(records)) {}
    Script(const QString& source);
    Script(const char* source) : Script(QString::fromUtf8(source)) {}
};

// How the movie around the script is made and how long it plays.
struct TraceOptions {
    int version = 10;
    int stageTwips = 4000; // a square stage
    QByteArray before;     // tags on the first frame ahead of the script (definitions, placements)
    int frames = 1;        // frames the movie has; the script is on the first
    int ticks = 0;         // frames played after the first
};

// Assembly text for scripts built piece by piece: object.method(args), its result left on the stack
// (each argument is text pushing one value); object.name read; object.name = value.
QString Call(const QString& object, const QString& method, QStringList args);
QString Get(const QString& object, const QString& name);
QString Set(const QString& object, const QString& name, const QString& value);

QByteArray TraceMovie(const Script& script, const TraceOptions& options = {});
// The lines a movie prints: its first frame, then `ticks` more.
QStringList TracedMovie(const QByteArray& movie, int ticks = 0);
QStringList Traced(const Script& script, const TraceOptions& options = {});

struct Case {
    const char* name;
    Script script;
    QStringList lines;
};
void Check(const std::vector<Case>& cases, const TraceOptions& options = {});

// A player kept with the lines it printed.
struct TraceSession {
    QStringList lines;
    std::unique_ptr<Player> player;

    explicit TraceSession(const QByteArray& movie);
    // Plays until `frames` frames were shown, the first one counting.
    void Play(int frames);
    // The lines printed since the last call.
    QStringList Take();
};

} // namespace flash::tracing

#include "TraceRun.h"

#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <utility>

namespace flash::tracing {

using namespace flash::writer;

Script::Script(const QString& source) : code(Assemble(source)) {}

QByteArray TraceMovie(const Script& script, const TraceOptions& options) {
    MovieBuilder builder;
    builder.Version(options.version)
        .Stage({0, options.stageTwips, 0, options.stageTwips})
        .Add(options.before)
        .Add(Tag(12, script.code + QByteArray(1, '\0')));
    for (int frame = 0; frame < options.frames; ++frame)
        builder.Add(ShowFrame());
    return builder.Build();
}

QString Call(const QString& object, const QString& method, QStringList args) {
    std::reverse(args.begin(), args.end());
    return QStringLiteral("%1 %2 %3 '%4' CallMethod ")
        .arg(args.join(u' '))
        .arg(args.size())
        .arg(object, method);
}

QString Get(const QString& object, const QString& name) {
    return QStringLiteral("%1 '%2' GetMember ").arg(object, name);
}

QString Set(const QString& object, const QString& name, const QString& value) {
    return QStringLiteral("%1 '%2' %3 SetMember ").arg(object, name, value);
}

QStringList TracedMovie(const QByteArray& movie, int ticks) {
    TraceSession session(movie);
    if (!session.player)
        return {QStringLiteral("(movie does not read)")};
    session.Play(ticks + 1);
    return session.Take();
}

QStringList Traced(const Script& script, const TraceOptions& options) {
    return TracedMovie(TraceMovie(script, options), options.ticks);
}

void Check(const std::vector<Case>& cases, const TraceOptions& options) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Traced(c.script, options), c.lines);
    }
}

TraceSession::TraceSession(const QByteArray& movie) {
    if (const auto read = ReadBack(movie))
        player = std::make_unique<Player>(read, nullptr, [this](const QString& line) { lines << line; });
}

void TraceSession::Play(int frames) {
    for (int shown = 1; shown < frames && player; ++shown)
        player->Tick();
}

QStringList TraceSession::Take() {
    return std::exchange(lines, {});
}

} // namespace flash::tracing

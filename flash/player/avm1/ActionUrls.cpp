// getURL and fscommand, and loads by address (GetURL, GetURL2). Nothing here opens a window or runs
// a command: each is noted as one line instead (ActionHost::Note, apart from the trace() lines,
// which stay as Flash Player prints them), so --trace shows what a movie asked for:
//     getURL: <url> <window>           fscommand: <command> <arguments>
// Loads into a level or a clip (loadMovie, loadVariables, unloadMovie) go to the loader
// (ClipLoads.cpp), which reads files next to the movie only and traces why it refused the rest.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Activation.h"
#include "flash/swf/TextEncoding.h"

namespace flash {

namespace {

// GetURL2's flags, as Flash writes them.
constexpr std::uint8_t LoadTarget = 0x40;    // the target is a clip: loadMovie, loadVariables
constexpr std::uint8_t LoadVariables = 0x80; // variables, not a movie

QString Line(const QString& call, const QString& url, const QString& target) {
    QString line = call + QStringLiteral(": ") + url;
    if (!target.isEmpty()) {
        line += QLatin1Char(' ');
        line += target;
    }
    return line.left(ActionInterpreter::MaxString);
}

} // namespace

void ActionInterpreter::GetUrl(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const QString url = DecodeText(r.CString(), act.version);
    const QString target = DecodeText(r.CString(), act.version);
    if (!r.Overrun())
        RequestUrl(url, target, 0, act.target);
}

// The URL and the target come off the stack; the flags say what kind of request it is.
void ActionInterpreter::GetUrl2(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const std::uint8_t flags = r.U8();
    const QString target = Text(Pop(act));
    const QString url = Text(Pop(act));
    RequestUrl(url, target, flags, act.target);
}

void ActionInterpreter::RequestUrl(const QString& url, const QString& target, std::uint8_t flags,
                                   const ClipRef& base) {
    static const QString FsCommand = QStringLiteral("FSCommand:");
    if (url.startsWith(FsCommand, Qt::CaseInsensitive)) {
        host.Note(Line(QStringLiteral("fscommand"), url.mid(FsCommand.size()), target));
        return;
    }
    const auto level = LevelIndex(target);
    if (!level && !(flags & (LoadTarget | LoadVariables))) {
        host.Note(Line(QStringLiteral("getURL"), url, target));
        return;
    }
    const auto kind = url.isEmpty()             ? ActionHost::LoadKind::Unload
                      : (flags & LoadVariables) ? ActionHost::LoadKind::Variables
                                                : ActionHost::LoadKind::Movie;
    if (level)
        RequestLoad(kind, double(*level), url);
    else
        RequestLoad(kind, target, url, nullptr, base);
}

} // namespace flash

// getURL and fscommand, and loads by address (GetURL, GetURL2). Nothing here opens a window, runs a
// command or reaches the network: each is noted as one line instead (ActionHost::Note, apart from
// the trace() lines, which stay as Flash Player prints them), so --trace shows what a movie asked for:
//     getURL: <url> <window>           fscommand: <command> <arguments>
//     loadMovie: <url> <target> (refused)    loadVariables: <url> <target> (refused)
// A load by URL (an address with a scheme, "http:", "file:" ..., or starting "//") is refused; a load
// of a file named without a scheme and unloadMovie are left as they were (skipped).
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Activation.h"
#include "flash/swf/TextEncoding.h"

#include <QRegularExpression>

namespace flash {

namespace {

// GetURL2's flags, as Flash writes them.
constexpr std::uint8_t LoadTarget = 0x40;    // the target is a clip: loadMovie, loadVariables
constexpr std::uint8_t LoadVariables = 0x80; // variables, not a movie

bool IsUrl(const QString& address) {
    static const QRegularExpression Scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return address.startsWith(QStringLiteral("//")) || Scheme.match(address).hasMatch();
}

bool IsLevel(const QString& target) {
    return target.startsWith(QStringLiteral("_level"), Qt::CaseInsensitive);
}

QString Line(const QString& call, const QString& url, const QString& target, bool refused = false) {
    QString line = call + QStringLiteral(": ") + url;
    if (!target.isEmpty()) {
        line += QLatin1Char(' ');
        line += target;
    }
    if (refused)
        line += QStringLiteral(" (refused)");
    return line.left(ActionInterpreter::MaxString);
}

// One request: the line it leaves in the trace, or nothing for what is left to others.
std::optional<QString> Note(const QString& url, const QString& target, bool toClip, bool variables) {
    static const QString FsCommand = QStringLiteral("FSCommand:");
    if (url.startsWith(FsCommand, Qt::CaseInsensitive))
        return Line(QStringLiteral("fscommand"), url.mid(FsCommand.size()), target);
    const bool load = toClip || variables || IsLevel(target);
    if (!load)
        return Line(QStringLiteral("getURL"), url, target);
    if (url.isEmpty() || !IsUrl(url))
        return std::nullopt; // unloading, or a file beside the movie
    return Line(variables ? QStringLiteral("loadVariables") : QStringLiteral("loadMovie"), url, target, true);
}

} // namespace

void ActionInterpreter::GetUrl(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const QString url = DecodeText(r.CString(), act.version);
    const QString target = DecodeText(r.CString(), act.version);
    if (!r.Overrun())
        RequestUrl(url, target, 0);
}

// The URL and the target come off the stack; the flags say what kind of request it is.
void ActionInterpreter::GetUrl2(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const std::uint8_t flags = r.U8();
    const QString target = Text(Pop(act));
    const QString url = Text(Pop(act));
    RequestUrl(url, target, flags);
}

void ActionInterpreter::RequestUrl(const QString& url, const QString& target, std::uint8_t flags) {
    if (const auto line = Note(url, target, flags & LoadTarget, flags & LoadVariables))
        host.Note(*line);
}

} // namespace flash

// The String built-in: String() and new String(), String.fromCharCode, and the methods strings
// share (charAt, charCodeAt, indexOf, lastIndexOf, substr, substring, slice, split, toUpperCase,
// toLowerCase, concat, toString, valueOf). Positions count UTF-16 units, as Flash's do; results
// stay within the interpreter's string limit.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace flash {

namespace {

QString SelfText(NativeCall& call) {
    return call.vm.Text(call.self);
}

bool Absent(const ActionValue& value) {
    return std::holds_alternative<std::monostate>(value);
}

// An integer argument; NaN counts as 0.
double Integer(NativeCall& call, std::size_t index) {
    const double number = std::trunc(call.vm.Number(call.Arg(index)));
    return std::isnan(number) ? 0 : number;
}

// A position clamped to 0 .. size, negative ones counting from the end when fromEnd.
qsizetype Clamp(double position, qsizetype size, bool fromEnd) {
    if (fromEnd && position < 0)
        position += double(size);
    return qsizetype(std::clamp(position, 0.0, double(size)));
}

ActionValue Bounded(QString text) {
    text.truncate(ActionInterpreter::MaxString);
    return text;
}

// String(value) converts; new String(value) wraps the text in an object.
ActionValue StringConstructor(NativeCall& call) {
    const QString text = call.args.empty() ? QString() : call.vm.Text(call.args[0]);
    if (ScriptObject* made = call.SelfObject(); call.constructing && made) {
        made->kind = ScriptObject::Kind::Boxed;
        made->primitive = text;
        return made;
    }
    return text;
}

ActionValue FromCharCode(NativeCall& call) {
    QString text;
    for (const ActionValue& code : call.args) {
        const double number = call.vm.Number(code);
        if (std::isfinite(number))
            text += QChar(char16_t(std::uint32_t(std::trunc(number)) & 0xFFFF));
    }
    return Bounded(text);
}

ActionValue CharAt(NativeCall& call) {
    const QString text = SelfText(call);
    const double index = Integer(call, 0);
    return index >= 0 && index < double(text.size()) ? QString(text[qsizetype(index)]) : QString();
}

ActionValue CharCodeAt(NativeCall& call) {
    const QString text = SelfText(call);
    const double index = Integer(call, 0);
    return index >= 0 && index < double(text.size()) ? double(text[qsizetype(index)].unicode())
                                                     : std::numeric_limits<double>::quiet_NaN();
}

ActionValue IndexOf(NativeCall& call) {
    const QString text = SelfText(call);
    const qsizetype from = Absent(call.Arg(1)) ? 0 : Clamp(Integer(call, 1), text.size(), false);
    return double(text.indexOf(call.vm.Text(call.Arg(0)), from));
}

ActionValue LastIndexOf(NativeCall& call) {
    const QString text = SelfText(call);
    const qsizetype from = Absent(call.Arg(1)) ? text.size() : Clamp(Integer(call, 1), text.size(), false);
    return double(text.lastIndexOf(call.vm.Text(call.Arg(0)), from));
}

// substr(start, length): start may count from the end.
ActionValue Substr(NativeCall& call) {
    const QString text = SelfText(call);
    const qsizetype start = Clamp(Integer(call, 0), text.size(), true);
    const double length = Absent(call.Arg(1)) ? double(text.size()) : Integer(call, 1);
    return length <= 0 ? QString() : text.mid(start, qsizetype(std::min(length, double(text.size()))));
}

// substring(start, end): negatives are 0, and the two swap when start is past end.
ActionValue Substring(NativeCall& call) {
    const QString text = SelfText(call);
    qsizetype start = Clamp(Integer(call, 0), text.size(), false);
    qsizetype end = Absent(call.Arg(1)) ? text.size() : Clamp(Integer(call, 1), text.size(), false);
    if (start > end)
        std::swap(start, end);
    return text.mid(start, end - start);
}

// slice(start, end): both may count from the end.
ActionValue Slice(NativeCall& call) {
    const QString text = SelfText(call);
    const qsizetype start = Clamp(Integer(call, 0), text.size(), true);
    const qsizetype end = Absent(call.Arg(1)) ? text.size() : Clamp(Integer(call, 1), text.size(), true);
    return start >= end ? QString() : text.mid(start, end - start);
}

// split(delimiter, limit): no delimiter gives the whole text, an empty one each character.
ActionValue Split(NativeCall& call) {
    const QString text = SelfText(call);
    std::vector<ActionValue> parts;
    if (Absent(call.Arg(0))) {
        parts.push_back(text);
    } else {
        const QString delimiter = call.vm.Text(call.Arg(0));
        const QStringList pieces =
            delimiter.isEmpty() ? text.split(QString(), Qt::SkipEmptyParts) : text.split(delimiter);
        for (const QString& piece : pieces)
            parts.push_back(piece);
    }
    if (!Absent(call.Arg(1))) {
        const double limit = Integer(call, 1);
        if (limit >= 0 && limit < double(parts.size()))
            parts.resize(std::size_t(limit));
    }
    call.vm.PayFor(parts.size());
    ScriptObject* array = call.vm.NewArray(std::move(parts));
    return array ? ActionValue(array) : ActionValue{};
}

ActionValue ToUpperCase(NativeCall& call) {
    return Bounded(SelfText(call).toUpper());
}

ActionValue ToLowerCase(NativeCall& call) {
    return Bounded(SelfText(call).toLower());
}

ActionValue Concat(NativeCall& call) {
    QString text = SelfText(call);
    for (const ActionValue& value : call.args)
        text += call.vm.Text(value);
    return Bounded(text);
}

ActionValue ValueOf(NativeCall& call) {
    return SelfText(call);
}

} // namespace

void SetUpStringBuiltins(ActionInterpreter& vm) {
    ScriptObject* prototype = vm.Protos().string;
    DefineMethods(vm, prototype,
                  {{"charAt", CharAt},
                   {"charCodeAt", CharCodeAt},
                   {"indexOf", IndexOf},
                   {"lastIndexOf", LastIndexOf},
                   {"substr", Substr},
                   {"substring", Substring},
                   {"slice", Slice},
                   {"split", Split},
                   {"toUpperCase", ToUpperCase},
                   {"toLowerCase", ToLowerCase},
                   {"concat", Concat},
                   {"toString", ValueOf},
                   {"valueOf", ValueOf}});
    ScriptObject* constructor = vm.NewNative(StringConstructor, prototype);
    DefineMethods(vm, constructor, {{"fromCharCode", FromCharCode}});
    vm.Define(vm.Global(), QStringLiteral("String"), constructor);
}

} // namespace flash

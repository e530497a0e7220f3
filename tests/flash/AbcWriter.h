#pragma once
// A small ABC (ActionScript 3 code) writer for tests: method bodies instruction by instruction,
// the pools filled as names and constants are asked for, classes made the way Flash authoring
// tools make timeline classes, and the DoABC and SymbolClass tags that carry them.
//
//     AbcBuilder abc;
//     AbcCode stop = abc.Script().FindPropStrict(abc.Name("stop")).CallPropVoid(abc.Name("stop"), 0);
//     abc.TimelineClass("Main", {{2, stop}});          // frame 3 stops the timeline
//     movie.Add(DoAbcTag(abc.Data())).Add(SymbolClassTag({{0, "Main"}}));

#include "flash/swf/AbcOpcodes.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace flash::writer {

// The format's variable-length integers (u30, u32 and s32 alike).
QByteArray AbcU32(std::uint32_t value);

// A method body's code. Branches name a label that Mark places before or after them.
class AbcCode {
public:
    AbcCode& Op(abc::op::Code code);
    AbcCode& U8(std::uint8_t value);
    AbcCode& U30(std::uint32_t value);
    AbcCode& Bytes(const QByteArray& bytes);
    // A conditional branch or jump to the label.
    AbcCode& Branch(abc::op::Code code, int label);
    AbcCode& Mark(int label);

    // getlocal0, pushscope: what every method starts with.
    AbcCode& Enter() { return Op(abc::op::GetLocal0).Op(abc::op::PushScope); }
    AbcCode& PushByte(std::int8_t value) { return Op(abc::op::PushByte).U8(std::uint8_t(value)); }
    AbcCode& PushString(std::uint32_t index) { return Op(abc::op::PushString).U30(index); }
    AbcCode& GetLocal(std::uint32_t index) { return Op(abc::op::GetLocal).U30(index); }
    AbcCode& SetLocal(std::uint32_t index) { return Op(abc::op::SetLocal).U30(index); }
    AbcCode& FindPropStrict(std::uint32_t name) { return Op(abc::op::FindPropStrict).U30(name); }
    AbcCode& GetLex(std::uint32_t name) { return Op(abc::op::GetLex).U30(name); }
    AbcCode& GetProperty(std::uint32_t name) { return Op(abc::op::GetProperty).U30(name); }
    AbcCode& SetProperty(std::uint32_t name) { return Op(abc::op::SetProperty).U30(name); }
    AbcCode& CallProperty(std::uint32_t name, std::uint32_t argc) {
        return Op(abc::op::CallProperty).U30(name).U30(argc);
    }
    AbcCode& CallPropVoid(std::uint32_t name, std::uint32_t argc) {
        return Op(abc::op::CallPropVoid).U30(name).U30(argc);
    }
    AbcCode& ReturnVoid() { return Op(abc::op::ReturnVoid); }

    // The code with its branches resolved; a ReturnVoid is added when the code does not end in a return.
    QByteArray Data() const;

private:
    QByteArray bytes;
    std::map<int, std::size_t> labels;
    std::vector<std::pair<std::size_t, int>> fixups; // offset field position, label
};

class AbcBuilder {
public:
    // Pool entries, each made once; the index to use in code.
    std::uint32_t String(const QString& text);
    std::uint32_t Int(std::int32_t value);
    std::uint32_t Double(double value);
    std::uint32_t PackageNamespace(const QString& package);
    // A QName in a package (the public namespace of the top level by default).
    std::uint32_t Name(const QString& name, const QString& package = QString());

    // A method of paramCount parameters and its body; the method's index.
    std::uint32_t Method(const AbcCode& code, std::uint32_t paramCount = 0, std::uint32_t localCount = 0);
    // A body beginning with Enter(), for scripts to append to.
    AbcCode Script() const { return AbcCode().Enter(); }

    struct MethodTrait {
        QString name;
        std::uint32_t method = 0;
    };
    // A class whose constructor is init; its instance traits are the methods given.
    void Class(const QString& name, const QString& superName, const QString& superPackage, std::uint32_t init,
               const std::vector<MethodTrait>& methods);
    // A timeline class as authoring tools write one: a subclass of flash.display.MovieClip (or of
    // base) whose constructor calls super() and then addFrameScript(frame, frameN ...) for each
    // zero-based frame given. Frame scripts have locals 1 to 7 to use.
    void TimelineClass(const QString& name, const std::vector<std::pair<int, AbcCode>>& frameScripts,
                       const QString& base = QStringLiteral("MovieClip"),
                       const QString& basePackage = QStringLiteral("flash.display"));

    QByteArray Data() const;

private:
    struct ClassEntry {
        std::uint32_t name = 0, superName = 0, init = 0;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> methods; // trait name, method
    };
    std::vector<QString> strings;
    std::vector<std::int32_t> ints;
    std::vector<double> doubles;
    std::vector<std::uint32_t> namespaces;                      // package namespaces by string index
    std::vector<std::pair<std::uint32_t, std::uint32_t>> names; // namespace, string
    struct MethodEntry {
        std::uint32_t paramCount = 0, localCount = 0;
        QByteArray code;
    };
    std::vector<MethodEntry> methods;
    std::vector<ClassEntry> classes;
};

// DoABC: flags (1 lazy), a name, the code.
QByteArray DoAbcTag(const QByteArray& abc, const QString& name = QString(), bool lazy = true);
// DoABCDefine: the code alone.
QByteArray DoAbcDefineTag(const QByteArray& abc);
QByteArray SymbolClassTag(const std::vector<std::pair<std::uint16_t, QString>>& classes);

} // namespace flash::writer

#include "AbcWriter.h"

#include "SwfWriter.h"

#include <cstring>

namespace flash::writer {

namespace {
// Locals a frame script may use: `this` and a few of its own.
constexpr std::uint32_t FrameScriptLocals = 8;
} // namespace

QByteArray AbcU32(std::uint32_t value) {
    QByteArray out;
    do {
        std::uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value)
            byte |= 0x80;
        out.append(char(byte));
    } while (value);
    return out;
}

namespace {

QByteArray U16Bytes(std::uint16_t value) {
    return QByteArray(1, char(value & 0xFF)) + QByteArray(1, char(value >> 8));
}

QByteArray StringBytes(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return AbcU32(std::uint32_t(utf8.size())) + utf8;
}

} // namespace

AbcCode& AbcCode::Op(abc::op::Code code) {
    bytes.append(char(code));
    return *this;
}

AbcCode& AbcCode::U8(std::uint8_t value) {
    bytes.append(char(value));
    return *this;
}

AbcCode& AbcCode::U30(std::uint32_t value) {
    bytes.append(AbcU32(value));
    return *this;
}

AbcCode& AbcCode::Bytes(const QByteArray& more) {
    bytes.append(more);
    return *this;
}

AbcCode& AbcCode::Branch(abc::op::Code code, int label) {
    Op(code);
    fixups.emplace_back(std::size_t(bytes.size()), label);
    bytes.append(3, '\0');
    return *this;
}

AbcCode& AbcCode::Mark(int label) {
    labels[label] = std::size_t(bytes.size());
    return *this;
}

QByteArray AbcCode::Data() const {
    QByteArray out = bytes;
    for (const auto& [position, label] : fixups) {
        // Offsets count from the end of the offset field.
        const auto offset = std::int32_t(labels.at(label)) - std::int32_t(position + 3);
        out[qsizetype(position)] = char(offset & 0xFF);
        out[qsizetype(position + 1)] = char((offset >> 8) & 0xFF);
        out[qsizetype(position + 2)] = char((offset >> 16) & 0xFF);
    }
    const bool returns = !out.isEmpty() && (std::uint8_t(out.back()) == abc::op::ReturnVoid ||
                                            std::uint8_t(out.back()) == abc::op::ReturnValue);
    if (!returns)
        out.append(char(abc::op::ReturnVoid));
    return out;
}

std::uint32_t AbcBuilder::String(const QString& text) {
    for (std::size_t i = 0; i < strings.size(); ++i)
        if (strings[i] == text)
            return std::uint32_t(i + 1);
    strings.push_back(text);
    return std::uint32_t(strings.size());
}

std::uint32_t AbcBuilder::Int(std::int32_t value) {
    ints.push_back(value);
    return std::uint32_t(ints.size());
}

std::uint32_t AbcBuilder::Double(double value) {
    doubles.push_back(value);
    return std::uint32_t(doubles.size());
}

std::uint32_t AbcBuilder::PackageNamespace(const QString& package) {
    const std::uint32_t name = String(package);
    for (std::size_t i = 0; i < namespaces.size(); ++i)
        if (namespaces[i] == name)
            return std::uint32_t(i + 1);
    namespaces.push_back(name);
    return std::uint32_t(namespaces.size());
}

std::uint32_t AbcBuilder::Name(const QString& name, const QString& package) {
    const std::pair entry{PackageNamespace(package), String(name)};
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == entry)
            return std::uint32_t(i + 1);
    names.push_back(entry);
    return std::uint32_t(names.size());
}

std::uint32_t AbcBuilder::Method(const AbcCode& code, std::uint32_t paramCount, std::uint32_t localCount) {
    methods.push_back({paramCount, std::max(localCount, paramCount + 1), code.Data()});
    return std::uint32_t(methods.size() - 1);
}

void AbcBuilder::Class(const QString& name, const QString& superName, const QString& superPackage,
                       std::uint32_t init, const std::vector<MethodTrait>& traits) {
    ClassEntry entry{Name(name), superName.isEmpty() ? 0 : Name(superName, superPackage), init, {}};
    for (const MethodTrait& trait : traits)
        entry.methods.emplace_back(Name(trait.name), trait.method);
    classes.push_back(std::move(entry));
}

void AbcBuilder::TimelineClass(const QString& name, const std::vector<std::pair<int, AbcCode>>& frameScripts,
                               const QString& base, const QString& basePackage) {
    std::vector<MethodTrait> traits;
    AbcCode init = AbcCode().Enter().Op(abc::op::GetLocal0).Op(abc::op::ConstructSuper).U30(0);
    init.Op(abc::op::GetLocal0);
    for (const auto& [frame, code] : frameScripts) {
        const QString method = QStringLiteral("frame%1").arg(frame + 1);
        traits.push_back({method, Method(code, 0, FrameScriptLocals)});
        init.Op(abc::op::PushShort)
            .U30(std::uint32_t(frame))
            .Op(abc::op::GetLocal0)
            .GetProperty(Name(method));
    }
    init.CallPropVoid(Name(QStringLiteral("addFrameScript")), std::uint32_t(frameScripts.size() * 2));
    Class(name, base, basePackage, Method(init), traits);
}

QByteArray AbcBuilder::Data() const {
    QByteArray out = U16Bytes(16) + U16Bytes(46);
    auto count = [](std::size_t entries) { return AbcU32(entries ? std::uint32_t(entries + 1) : 0); };
    out += count(ints.size());
    for (const std::int32_t value : ints)
        out += AbcU32(std::uint32_t(value));
    out += AbcU32(0); // uints
    out += count(doubles.size());
    for (const double value : doubles) {
        char raw[8];
        std::memcpy(raw, &value, 8);
        out += QByteArray(raw, 8);
    }
    out += count(strings.size());
    for (const QString& text : strings)
        out += StringBytes(text);
    out += count(namespaces.size());
    for (const std::uint32_t name : namespaces)
        out += QByteArray(1, char(0x16)) + AbcU32(name);
    out += AbcU32(0); // namespace sets
    out += count(names.size());
    for (const auto& [ns, name] : names)
        out += QByteArray(1, char(0x07)) + AbcU32(ns) + AbcU32(name);

    // Every method, then an empty one for the class and script initialisers.
    const auto empty = std::uint32_t(methods.size());
    out += AbcU32(empty + 1);
    for (std::size_t i = 0; i <= methods.size(); ++i) {
        const std::uint32_t params = i < methods.size() ? methods[i].paramCount : 0;
        out += AbcU32(params) + AbcU32(0);
        for (std::uint32_t p = 0; p < params; ++p)
            out += AbcU32(0);
        out += AbcU32(0) + QByteArray(1, '\0');
    }
    out += AbcU32(0); // metadata
    out += AbcU32(std::uint32_t(classes.size()));
    for (const ClassEntry& cls : classes) {
        out += AbcU32(cls.name) + AbcU32(cls.superName) + QByteArray(1, char(0x01)) + AbcU32(0) +
               AbcU32(cls.init);
        out += AbcU32(std::uint32_t(cls.methods.size()));
        for (const auto& [name, method] : cls.methods)
            out += AbcU32(name) + QByteArray(1, char(0x01)) + AbcU32(0) + AbcU32(method);
    }
    for (std::size_t i = 0; i < classes.size(); ++i)
        out += AbcU32(empty) + AbcU32(0);
    out += AbcU32(1) + AbcU32(empty) + AbcU32(std::uint32_t(classes.size()));
    for (std::size_t i = 0; i < classes.size(); ++i)
        out += AbcU32(classes[i].name) + QByteArray(1, char(0x04)) + AbcU32(0) + AbcU32(std::uint32_t(i));
    out += AbcU32(empty + 1);
    for (std::size_t i = 0; i <= methods.size(); ++i) {
        const QByteArray code = i < methods.size() ? methods[i].code : AbcCode().Data();
        const std::uint32_t locals = i < methods.size() ? methods[i].localCount : 1;
        out += AbcU32(std::uint32_t(i)) + AbcU32(16) + AbcU32(locals) + AbcU32(0) + AbcU32(16);
        out += AbcU32(std::uint32_t(code.size())) + code + AbcU32(0) + AbcU32(0);
    }
    return out;
}

QByteArray DoAbcTag(const QByteArray& abc, const QString& name, bool lazy) {
    return Tag(tag::DoAbc, Bits().U32(lazy ? 1 : 0).String(name).Data() + abc, true);
}

QByteArray DoAbcDefineTag(const QByteArray& abc) {
    return Tag(tag::DoAbcDefine, abc, true);
}

QByteArray SymbolClassTag(const std::vector<std::pair<std::uint16_t, QString>>& classes) {
    Bits body;
    body.U16(std::uint32_t(classes.size()));
    for (const auto& [id, name] : classes)
        body.U16(id).String(name);
    return Tag(tag::SymbolClass, body.Data());
}

} // namespace flash::writer

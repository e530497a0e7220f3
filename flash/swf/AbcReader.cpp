// Reading ABC blocks: the variable-length integers of the format, the pools, then the method,
// metadata, class, script and body lists, each index checked against its list once all are read.

#include "flash/swf/AbcReader.h"

#include <QtEndian>
#include <cstring>

namespace flash::abc {

namespace {

// The format's fields: little-endian bytes and variable-length integers of up to five bytes. A read
// past the end or a bad field sets the error once and yields zeros, so a list is read and checked once.
class AbcBytes {
public:
    explicit AbcBytes(const QByteArray& data) : data(data) {}

    bool Ok() const { return error.isEmpty(); }
    std::size_t Remaining() const { return std::size_t(data.size()) - pos; }
    void Fail(const QString& what) {
        if (error.isEmpty())
            error = what;
    }

    std::uint8_t U8() {
        if (!Take(1))
            return 0;
        return std::uint8_t(data[qsizetype(pos++)]);
    }
    std::uint16_t U16() {
        const std::uint16_t low = U8();
        return std::uint16_t(low | U8() << 8);
    }
    // Seven bits a byte, low first; the fifth byte holds the last four bits.
    std::uint32_t U32() {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            const std::uint8_t byte = U8();
            value |= std::uint32_t(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return value;
        }
        return value;
    }
    std::int32_t S32() { return std::int32_t(U32()); }
    std::uint32_t U30() {
        const std::uint32_t value = U32();
        if (value >> 30)
            Fail(QStringLiteral("a 30-bit field holds %1").arg(value));
        return value;
    }
    double D64() {
        if (!Take(8))
            return 0;
        const quint64 bits = qFromLittleEndian<quint64>(data.constData() + pos);
        pos += 8;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    QByteArray Bytes(std::size_t count) {
        if (!Take(count))
            return {};
        const QByteArray bytes = data.mid(qsizetype(pos), qsizetype(count));
        pos += count;
        return bytes;
    }
    // A count of entries that take at least minBytes each: more than the bytes left is damage.
    std::size_t Count(const char* what, std::size_t minBytes = 1) {
        const std::size_t count = U30();
        if (Ok() && (count > MaxEntries || count > Remaining() / minBytes))
            Fail(QStringLiteral("%1 count %2 runs past the block").arg(QLatin1String(what)).arg(count));
        return Ok() ? count : 0;
    }
    // A pool's count includes the implied entry 0, so a count of 0 or 1 means no entries stored.
    std::size_t PoolCount(const char* what, std::size_t minBytes) {
        const std::size_t count = U30();
        const std::size_t stored = count > 0 ? count - 1 : 0;
        if (Ok() && (stored > MaxEntries || stored > Remaining() / minBytes))
            Fail(QStringLiteral("%1 pool of %2 runs past the block").arg(QLatin1String(what)).arg(count));
        return Ok() ? stored : 0;
    }

    QString error;

private:
    bool Take(std::size_t count) {
        if (!Ok())
            return false;
        if (count > Remaining()) {
            Fail(QStringLiteral("the block ends early"));
            return false;
        }
        return true;
    }

    const QByteArray& data;
    std::size_t pos = 0;
};

void ReadPool(AbcBytes& in, ConstantPool& pool) {
    pool.ints.assign(1, 0);
    for (std::size_t i = in.PoolCount("int", 1); i > 0 && in.Ok(); --i)
        pool.ints.push_back(in.S32());
    pool.uints.assign(1, 0);
    for (std::size_t i = in.PoolCount("uint", 1); i > 0 && in.Ok(); --i)
        pool.uints.push_back(in.U32());
    pool.doubles.assign(1, qQNaN());
    for (std::size_t i = in.PoolCount("double", 8); i > 0 && in.Ok(); --i)
        pool.doubles.push_back(in.D64());
    pool.strings.assign(1, QString());
    for (std::size_t i = in.PoolCount("string", 1); i > 0 && in.Ok(); --i) {
        const std::size_t size = in.U30();
        pool.strings.push_back(QString::fromUtf8(in.Bytes(size)));
    }
    pool.namespaces.assign(1, Namespace{});
    for (std::size_t i = in.PoolCount("namespace", 2); i > 0 && in.Ok(); --i) {
        Namespace ns;
        ns.kind = in.U8();
        ns.name = in.U30();
        pool.namespaces.push_back(ns);
    }
    pool.nsSets.assign(1, {});
    for (std::size_t i = in.PoolCount("namespace set", 1); i > 0 && in.Ok(); --i) {
        std::vector<std::uint32_t> set(in.Count("namespace set"));
        for (std::uint32_t& ns : set)
            ns = in.U30();
        pool.nsSets.push_back(std::move(set));
    }
    pool.multinames.assign(1, Multiname{});
    for (std::size_t i = in.PoolCount("multiname", 1); i > 0 && in.Ok(); --i) {
        Multiname m;
        m.kind = in.U8();
        switch (m.kind) {
        case Multiname::QName:
        case Multiname::QNameA:
            m.ns = in.U30();
            m.name = in.U30();
            break;
        case Multiname::RTQName:
        case Multiname::RTQNameA:
            m.name = in.U30();
            break;
        case Multiname::RTQNameL:
        case Multiname::RTQNameLA:
            break;
        case Multiname::Multi:
        case Multiname::MultiA:
            m.name = in.U30();
            m.nsSet = in.U30();
            break;
        case Multiname::MultiL:
        case Multiname::MultiLA:
            m.nsSet = in.U30();
            break;
        case Multiname::TypeName:
            m.base = in.U30();
            m.params.resize(in.Count("type parameter"));
            for (std::uint32_t& param : m.params)
                param = in.U30();
            break;
        default:
            in.Fail(QStringLiteral("unknown multiname kind %1").arg(m.kind));
        }
        pool.multinames.push_back(std::move(m));
    }
}

void ReadTraits(AbcBytes& in, std::vector<Trait>& traits) {
    traits.resize(in.Count("trait", 3));
    for (Trait& trait : traits) {
        trait.name = in.U30();
        const std::uint8_t kind = in.U8();
        if ((kind & 0x0F) > Trait::Const)
            in.Fail(QStringLiteral("unknown trait kind %1").arg(kind & 0x0F));
        trait.kind = Trait::Kind(kind & 0x0F);
        trait.attributes = kind >> 4;
        trait.slotId = in.U30();
        switch (trait.kind) {
        case Trait::Slot:
        case Trait::Const:
            trait.typeName = in.U30();
            trait.value.index = in.U30();
            if (trait.value.index != 0)
                trait.value.kind = in.U8();
            break;
        default:
            trait.index = in.U30();
        }
        if (trait.attributes & Trait::HasMetadata) {
            trait.metadata.resize(in.Count("trait metadata"));
            for (std::uint32_t& entry : trait.metadata)
                entry = in.U30();
        }
        if (!in.Ok())
            return;
    }
}

void ReadMethods(AbcBytes& in, std::vector<Method>& methods) {
    methods.resize(in.Count("method", 4));
    for (Method& method : methods) {
        method.paramTypes.resize(in.Count("parameter"));
        method.returnType = in.U30();
        for (std::uint32_t& type : method.paramTypes)
            type = in.U30();
        method.name = in.U30();
        method.flags = in.U8();
        if (method.flags & Method::HasOptional) {
            method.optional.resize(in.Count("optional parameter", 2));
            if (method.optional.size() > method.paramTypes.size())
                in.Fail(QStringLiteral("a method has more optional parameters than parameters"));
            for (ConstantValue& value : method.optional) {
                value.index = in.U30();
                value.kind = in.U8();
            }
        }
        if (method.flags & Method::HasParamNames) {
            method.paramNames.resize(method.paramTypes.size());
            for (std::uint32_t& name : method.paramNames)
                name = in.U30();
        }
        if (!in.Ok())
            return;
    }
}

void ReadBodies(AbcBytes& in, AbcFile& file) {
    file.bodies.resize(in.Count("method body", 7));
    for (MethodBody& body : file.bodies) {
        body.method = in.U30();
        body.maxStack = in.U30();
        body.localCount = in.U30();
        body.initScopeDepth = in.U30();
        body.maxScopeDepth = in.U30();
        const std::size_t length = in.U30();
        body.code = in.Bytes(length);
        body.exceptions.resize(in.Count("exception", 5));
        for (ExceptionHandler& handler : body.exceptions) {
            handler.from = in.U30();
            handler.to = in.U30();
            handler.target = in.U30();
            handler.type = in.U30();
            handler.varName = in.U30();
        }
        ReadTraits(in, body.traits);
        if (!in.Ok())
            return;
    }
}

// Every index the model holds names an entry of its list; the first that does not is the error.
class Checker {
public:
    explicit Checker(AbcFile& file) : file(file) {}

    QString error;

    void Check(std::uint32_t index, std::size_t size, const char* what) {
        if (index >= size && error.isEmpty())
            error = QStringLiteral("%1 %2 is out of range (%3 entries)")
                        .arg(QLatin1String(what))
                        .arg(index)
                        .arg(size);
    }
    void String(std::uint32_t index) { Check(index, file.pool.strings.size(), "string"); }
    void Name(std::uint32_t index) { Check(index, file.pool.multinames.size(), "multiname"); }
    void MethodIndex(std::uint32_t index) { Check(index, file.methods.size(), "method"); }

    void Value(const ConstantValue& value) {
        const ConstantPool& pool = file.pool;
        switch (value.kind) {
        case ConstantValue::Int:
            return Check(value.index, pool.ints.size(), "int");
        case ConstantValue::UInt:
            return Check(value.index, pool.uints.size(), "uint");
        case ConstantValue::Double:
            return Check(value.index, pool.doubles.size(), "double");
        case ConstantValue::Utf8:
            return String(value.index);
        case ConstantValue::True:
        case ConstantValue::False:
        case ConstantValue::Null:
        case ConstantValue::Undefined:
            return;
        default:
            return Check(value.index, pool.namespaces.size(), "namespace");
        }
    }

    void Traits(const std::vector<Trait>& traits) {
        for (const Trait& trait : traits) {
            Name(trait.name);
            switch (trait.kind) {
            case Trait::Slot:
            case Trait::Const:
                Name(trait.typeName);
                if (trait.value.index != 0)
                    Value(trait.value);
                break;
            case Trait::Class:
                Check(trait.index, file.classes.size(), "class");
                break;
            default:
                MethodIndex(trait.index);
            }
            for (const std::uint32_t entry : trait.metadata)
                Check(entry, file.metadata.size(), "metadata");
        }
    }

    void Pool() {
        const ConstantPool& pool = file.pool;
        for (const Namespace& ns : pool.namespaces)
            String(ns.name);
        for (const auto& set : pool.nsSets)
            for (const std::uint32_t ns : set)
                Check(ns, pool.namespaces.size(), "namespace");
        for (const Multiname& m : pool.multinames) {
            String(m.name);
            Check(m.ns, pool.namespaces.size(), "namespace");
            Check(m.nsSet, pool.nsSets.size(), "namespace set");
            if (m.kind != Multiname::TypeName)
                continue;
            Name(m.base);
            // A generic's base is a plain name, so names never refer in a circle.
            if (error.isEmpty() && pool.multinames[m.base].kind == Multiname::TypeName)
                error = QStringLiteral("a generic type names a generic type as its base");
            for (const std::uint32_t param : m.params)
                Name(param);
        }
    }

    void All() {
        Pool();
        for (const Method& method : file.methods) {
            Name(method.returnType);
            for (const std::uint32_t type : method.paramTypes)
                Name(type);
            String(method.name);
            for (const ConstantValue& value : method.optional)
                Value(value);
            for (const std::uint32_t name : method.paramNames)
                String(name);
        }
        for (const Metadata& entry : file.metadata) {
            String(entry.name);
            for (const auto& [key, value] : entry.items) {
                String(key);
                String(value);
            }
        }
        for (const Instance& instance : file.instances) {
            Name(instance.name);
            Name(instance.superName);
            if (instance.flags & Instance::ProtectedNs)
                Check(instance.protectedNs, file.pool.namespaces.size(), "namespace");
            for (const std::uint32_t name : instance.interfaces)
                Name(name);
            MethodIndex(instance.init);
            Traits(instance.traits);
        }
        for (const Class& cls : file.classes) {
            MethodIndex(cls.init);
            Traits(cls.traits);
        }
        for (const Script& script : file.scripts) {
            MethodIndex(script.init);
            Traits(script.traits);
        }
        for (std::size_t i = 0; i < file.bodies.size() && error.isEmpty(); ++i) {
            const MethodBody& body = file.bodies[i];
            MethodIndex(body.method);
            if (!error.isEmpty())
                break;
            Method& method = file.methods[body.method];
            if (method.body >= 0)
                error = QStringLiteral("method %1 has two bodies").arg(body.method);
            method.body = int(i);
            const auto length = std::uint32_t(body.code.size());
            for (const ExceptionHandler& handler : body.exceptions) {
                if ((handler.from > handler.to || handler.to > length || handler.target >= length) &&
                    error.isEmpty())
                    error = QStringLiteral("an exception handler of method %1 lies outside its code")
                                .arg(body.method);
                Name(handler.type);
                Name(handler.varName);
            }
            Traits(body.traits);
        }
    }

private:
    AbcFile& file;
};

} // namespace

AbcReadResult ReadAbc(const QByteArray& data) {
    AbcBytes in(data);
    AbcFile file;
    file.minorVersion = in.U16();
    file.majorVersion = in.U16();
    ReadPool(in, file.pool);
    ReadMethods(in, file.methods);
    file.metadata.resize(in.Count("metadata", 2));
    for (Metadata& entry : file.metadata) {
        entry.name = in.U30();
        entry.items.resize(in.Count("metadata item", 2));
        // All keys come first, then all values.
        for (auto& item : entry.items)
            item.first = in.U30();
        for (auto& item : entry.items)
            item.second = in.U30();
        if (!in.Ok())
            break;
    }
    file.instances.resize(in.Count("class", 5));
    for (Instance& instance : file.instances) {
        instance.name = in.U30();
        instance.superName = in.U30();
        instance.flags = in.U8();
        if (instance.flags & Instance::ProtectedNs)
            instance.protectedNs = in.U30();
        instance.interfaces.resize(in.Count("interface"));
        for (std::uint32_t& name : instance.interfaces)
            name = in.U30();
        instance.init = in.U30();
        ReadTraits(in, instance.traits);
        if (!in.Ok())
            break;
    }
    file.classes.resize(file.instances.size());
    for (Class& cls : file.classes) {
        cls.init = in.U30();
        ReadTraits(in, cls.traits);
        if (!in.Ok())
            break;
    }
    file.scripts.resize(in.Count("script", 2));
    for (Script& script : file.scripts) {
        script.init = in.U30();
        ReadTraits(in, script.traits);
        if (!in.Ok())
            break;
    }
    ReadBodies(in, file);
    if (!in.Ok())
        return {std::nullopt, in.error};
    Checker checker(file);
    checker.All();
    if (!checker.error.isEmpty())
        return {std::nullopt, checker.error};
    return {std::move(file), {}};
}

AbcReadResult ReadDoAbc(const QByteArray& body) {
    if (body.size() < 5)
        return {std::nullopt, QStringLiteral("the tag ends before its code")};
    const bool lazy = std::uint8_t(body[0]) & 1;
    const qsizetype end = body.indexOf('\0', 4);
    if (end < 0)
        return {std::nullopt, QStringLiteral("the block's name has no end")};
    AbcReadResult result = ReadAbc(body.mid(end + 1));
    if (result.file) {
        result.file->name = QString::fromUtf8(body.mid(4, end - 4));
        result.file->lazy = lazy;
    }
    return result;
}

bool ReadSymbolClass(const QByteArray& body, std::map<std::uint16_t, QString>& classes) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(body.constData());
    const auto size = std::size_t(body.size());
    if (size < 2)
        return false;
    const std::size_t count = bytes[0] | bytes[1] << 8;
    std::size_t pos = 2;
    for (std::size_t i = 0; i < count; ++i) {
        if (size - pos < 3)
            return false;
        const std::uint16_t id = std::uint16_t(bytes[pos] | bytes[pos + 1] << 8);
        pos += 2;
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(bytes + pos, 0, size - pos));
        if (!end)
            return false;
        classes.try_emplace(id, QString::fromUtf8(body.mid(qsizetype(pos), end - (bytes + pos))));
        pos = std::size_t(end - bytes) + 1;
    }
    return true;
}

} // namespace flash::abc

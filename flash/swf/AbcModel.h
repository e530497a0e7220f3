#pragma once
// One ActionScript 3 code block (an ABC file, as DoABC carries it) as plain values: the constant
// pools, method signatures, metadata, classes with their instance side, scripts and method bodies.
// The reader (AbcReader) makes it and has checked every index it holds: a pool index, method,
// class or metadata number always names an entry of its list, so users index without checks.
// Entry 0 of each pool is the implied default ("any" name, 0, NaN, no namespace).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace flash::abc {

struct Namespace {
    enum Kind : std::uint8_t {
        Private = 0x05,
        Plain = 0x08,
        Package = 0x16,
        PackageInternal = 0x17,
        Protected = 0x18,
        Explicit = 0x19,
        StaticProtected = 0x1A,
    };
    std::uint8_t kind = 0;
    std::uint32_t name = 0; // string index
};

struct Multiname {
    enum Kind : std::uint8_t {
        QName = 0x07,
        QNameA = 0x0D,
        RTQName = 0x0F,
        RTQNameA = 0x10,
        RTQNameL = 0x11,
        RTQNameLA = 0x12,
        Multi = 0x09,
        MultiA = 0x0E,
        MultiL = 0x1B,
        MultiLA = 0x1C,
        TypeName = 0x1D, // a generic type applied: Vector.<T>
    };
    std::uint8_t kind = QName;         // entry 0: any name
    std::uint32_t ns = 0;              // QName
    std::uint32_t name = 0;            // string index: QName, RTQName, Multi
    std::uint32_t nsSet = 0;           // Multi, MultiL
    std::uint32_t base = 0;            // TypeName: the generic type's multiname
    std::vector<std::uint32_t> params; // TypeName: multinames

    // The name comes from the stack at run time (and the namespace, for RTQNameL).
    bool RuntimeName() const {
        return kind == RTQNameL || kind == RTQNameLA || kind == MultiL || kind == MultiLA;
    }
    bool RuntimeNamespace() const {
        return kind == RTQName || kind == RTQNameA || kind == RTQNameL || kind == RTQNameLA;
    }
};

struct ConstantPool {
    std::vector<std::int32_t> ints;
    std::vector<std::uint32_t> uints;
    std::vector<double> doubles;
    std::vector<QString> strings;
    std::vector<Namespace> namespaces;
    std::vector<std::vector<std::uint32_t>> nsSets; // namespace indexes
    std::vector<Multiname> multinames;
};

// A default parameter value or a slot's initial value: a pool index read by its kind.
struct ConstantValue {
    enum Kind : std::uint8_t {
        Int = 0x03,
        UInt = 0x04,
        Double = 0x06,
        Utf8 = 0x01,
        True = 0x0B,
        False = 0x0A,
        Null = 0x0C,
        Undefined = 0x00,
        // Namespace kinds (0x08, 0x16 ...) name a namespace index.
    };
    std::uint32_t index = 0;
    std::uint8_t kind = 0;
};

struct Method {
    enum Flag : std::uint8_t {
        NeedArguments = 0x01,
        NeedActivation = 0x02,
        NeedRest = 0x04,
        HasOptional = 0x08,
        SetDxns = 0x40,
        HasParamNames = 0x80,
    };
    std::vector<std::uint32_t> paramTypes; // multinames, 0 for any
    std::uint32_t returnType = 0;
    std::uint32_t name = 0; // string index
    std::uint8_t flags = 0;
    std::vector<ConstantValue> optional;
    std::vector<std::uint32_t> paramNames; // string indexes
    int body = -1;                         // index into AbcFile::bodies, -1 for a native or abstract method
};

struct Metadata {
    std::uint32_t name = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> items; // key and value string indexes
};

struct Trait {
    enum Kind : std::uint8_t {
        Slot = 0,
        Method = 1,
        Getter = 2,
        Setter = 3,
        Class = 4,
        Function = 5,
        Const = 6
    };
    enum Attribute : std::uint8_t { Final = 0x1, Override = 0x2, HasMetadata = 0x4 };
    std::uint32_t name = 0; // a QName multiname
    Kind kind = Slot;
    std::uint8_t attributes = 0;
    std::uint32_t slotId = 0; // slot id, or dispatch id for methods
    // Slot, Const: the type and the initial value; Class: the class; Method, Getter, Setter,
    // Function: the method.
    std::uint32_t typeName = 0;
    ConstantValue value;
    std::uint32_t index = 0;
    std::vector<std::uint32_t> metadata;
};

// The instance side of a class: its name, its base class and the constructor (iinit).
struct Instance {
    enum Flag : std::uint8_t { Sealed = 0x01, FinalClass = 0x02, Interface = 0x04, ProtectedNs = 0x08 };
    std::uint32_t name = 0;      // multiname
    std::uint32_t superName = 0; // multiname, 0 for none
    std::uint8_t flags = 0;
    std::uint32_t protectedNs = 0;
    std::vector<std::uint32_t> interfaces; // multinames
    std::uint32_t init = 0;                // method
    std::vector<Trait> traits;
};

// The class side: the static initializer and static traits. Classes pair with instances by index.
struct Class {
    std::uint32_t init = 0; // method
    std::vector<Trait> traits;
};

struct Script {
    std::uint32_t init = 0; // method
    std::vector<Trait> traits;
};

struct ExceptionHandler {
    std::uint32_t from = 0, to = 0, target = 0; // code offsets, inside the body's code
    std::uint32_t type = 0, varName = 0;        // multinames
};

struct MethodBody {
    std::uint32_t method = 0;
    std::uint32_t maxStack = 0, localCount = 0, initScopeDepth = 0, maxScopeDepth = 0;
    QByteArray code;
    std::vector<ExceptionHandler> exceptions;
    std::vector<Trait> traits; // an activation's slots
};

struct AbcFile {
    std::uint16_t minorVersion = 0, majorVersion = 0;
    QString name;      // DoABC's name for the block; empty for DoABCDefine
    bool lazy = false; // DoABC's flag: initialise only when first used
    ConstantPool pool;
    std::vector<Method> methods;
    std::vector<Metadata> metadata;
    std::vector<Instance> instances;
    std::vector<Class> classes; // as many as instances
    std::vector<Script> scripts;
    std::vector<MethodBody> bodies;

    const QString& String(std::uint32_t index) const { return pool.strings[index]; }
    // A multiname's own name ("" when it comes from the stack or stands for any name).
    const QString& NameOf(std::uint32_t multiname) const;
    // "package.Name" (or "Name" in the top-level package) of a QName; its own name otherwise.
    QString QualifiedName(std::uint32_t multiname) const;
};

inline const QString& AbcFile::NameOf(std::uint32_t multiname) const {
    const Multiname& m = pool.multinames[multiname];
    return m.kind == Multiname::TypeName ? NameOf(m.base) : String(m.name);
}

inline QString AbcFile::QualifiedName(std::uint32_t multiname) const {
    const Multiname& m = pool.multinames[multiname];
    if (m.kind != Multiname::QName && m.kind != Multiname::QNameA)
        return NameOf(multiname);
    const QString& package = String(pool.namespaces[m.ns].name);
    return package.isEmpty() ? String(m.name) : package + QLatin1Char('.') + String(m.name);
}

} // namespace flash::abc

#include "flash/player/avm2/As3Runtime.h"

#include "flash/swf/TagCodes.h"

#include <QStringList>
#include <algorithm>
#include <climits>
#include <cmath>

namespace flash::avm2 {

namespace {

struct BuiltinName {
    const char* name;
    Builtin which;
};
constexpr BuiltinName ClipMethods[] = {
    {"stop", Builtin::Stop},
    {"play", Builtin::Play},
    {"gotoAndPlay", Builtin::GotoAndPlay},
    {"gotoAndStop", Builtin::GotoAndStop},
    {"nextFrame", Builtin::NextFrame},
    {"prevFrame", Builtin::PrevFrame},
    {"addFrameScript", Builtin::AddFrameScript},
};

// Placement properties by their ActionScript 3 names; `scale` converts to the host's units
// (alpha and scales are fractions here, percent there).
struct PlacementName {
    const char* name;
    int property;
    double scale;
};
constexpr PlacementName Placements[] = {
    {"x", PropertyX, 1},
    {"y", PropertyY, 1},
    {"scaleX", PropertyXScale, 100},
    {"scaleY", PropertyYScale, 100},
    {"alpha", PropertyAlpha, 100},
    {"visible", PropertyVisible, 1},
    {"rotation", PropertyRotation, 1},
};

const PlacementName* FindPlacement(const QString& name) {
    for (const PlacementName& entry : Placements)
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

std::optional<Builtin> FindClipMethod(const QString& name) {
    for (const BuiltinName& entry : ClipMethods)
        if (name == QLatin1String(entry.name))
            return entry.which;
    return std::nullopt;
}

// DefineSceneAndFrameLabelData's variable-length integers, as ABC stores them.
std::uint32_t EncodedU32(const QByteArray& data, qsizetype& pos, bool& ok) {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        if (pos >= data.size()) {
            ok = false;
            return 0;
        }
        const auto byte = std::uint8_t(data[pos++]);
        value |= std::uint32_t(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            break;
    }
    return value;
}

} // namespace

std::unique_ptr<As3Runtime> As3Runtime::For(std::shared_ptr<const Movie> movie, ActionHost& host) {
    if (movie->abcFiles.empty())
        return nullptr;
    return std::make_unique<As3Runtime>(std::move(movie), host);
}

As3Runtime::As3Runtime(std::shared_ptr<const Movie> playedMovie, ActionHost& host)
    : movie(std::move(playedMovie)), host(host), interpreter(*this) {
    // The first definition of a name counts, as the player loads blocks in order.
    for (const auto& file : movie->abcFiles)
        for (std::size_t i = 0; i < file->instances.size(); ++i) {
            const ClassRef cls{file.get(), int(i)};
            classes.try_emplace(file->QualifiedName(file->instances[i].name), cls);
            shortNames.try_emplace(file->NameOf(file->instances[i].name), cls);
        }
    ReadScenes();
}

void As3Runtime::ReadScenes() {
    for (const Frame& frame : movie->timeline.frames)
        for (const ControlTag& tag : frame.tags) {
            const auto* other = std::get_if<OtherTag>(&tag);
            if (!other || other->code != tag::DefineSceneAndFrameLabelData)
                continue;
            qsizetype pos = 0;
            bool ok = true;
            const std::uint32_t count = EncodedU32(other->data, pos, ok);
            std::vector<Scene> read;
            for (std::uint32_t i = 0; ok && i < count && pos < other->data.size(); ++i) {
                Scene scene;
                scene.offset = int(std::min<std::uint32_t>(EncodedU32(other->data, pos, ok), INT_MAX));
                const qsizetype end = other->data.indexOf('\0', pos);
                if (end < 0)
                    break;
                scene.name = QString::fromUtf8(other->data.mid(pos, end - pos));
                pos = end + 1;
                read.push_back(std::move(scene));
            }
            std::sort(read.begin(), read.end(),
                      [](const Scene& a, const Scene& b) { return a.offset < b.offset; });
            scenes = std::move(read);
            return;
        }
}

void As3Runtime::Construct(const ClipRef& clip, std::uint16_t characterId) {
    if (queue.size() < MaxQueued && movie->symbolClasses.count(characterId))
        queue.push_back({clip, -1, characterId});
}

void As3Runtime::FrameEntered(const ClipRef& clip, int frame) {
    if (queue.size() < MaxQueued)
        queue.push_back({clip, frame, 0});
}

bool As3Runtime::RunNext(long long& budget) {
    if (queue.empty())
        return false;
    const Job job = std::move(queue.front());
    queue.pop_front();
    if (!job.clip.Valid())
        return true;
    if (job.frame >= 0) {
        ClipObject* object = Object(job.clip, false);
        if (!object)
            return true;
        const auto found = object->frameScripts.find(job.frame);
        if (found != object->frameScripts.end()) {
            const Value script = found->second; // the script may replace its own entry
            interpreter.Call(script, {}, budget);
        }
        return true;
    }
    const ClassRef cls = FindClass(movie->symbolClasses.at(job.character));
    ClipObject* object = cls ? Object(job.clip, true) : nullptr;
    if (!object)
        return true;
    *object = ClipObject{job.clip, cls, {}, {}};
    const abc::Instance& instance = cls.file->instances[std::size_t(cls.instance)];
    interpreter.Call(MethodClosure{cls.file, instance.init, job.clip, cls.instance}, {}, budget);
    return true;
}

As3Runtime::ClassRef As3Runtime::FindClass(const QString& qualifiedName) const {
    if (const auto found = classes.find(qualifiedName); found != classes.end())
        return found->second;
    return {};
}

As3Runtime::ClassRef As3Runtime::BaseOf(ClassRef cls) const {
    const abc::Instance& instance = cls.file->instances[std::size_t(cls.instance)];
    if (instance.superName == 0)
        return {};
    if (const ClassRef base = FindClass(cls.file->QualifiedName(instance.superName)))
        return base;
    // A name given with a set of namespaces: found by its own name.
    const abc::Multiname& name = cls.file->pool.multinames[instance.superName];
    if (name.kind == abc::Multiname::QName || name.kind == abc::Multiname::QNameA)
        return {};
    const auto found = shortNames.find(cls.file->NameOf(instance.superName));
    return found == shortNames.end() ? ClassRef{} : found->second;
}

const abc::Trait* As3Runtime::FindTrait(ClassRef cls, const QString& name, ClassRef* holder) const {
    for (int level = 0; cls && level < MaxClassDepth; ++level, cls = BaseOf(cls)) {
        for (const abc::Trait& trait : cls.file->instances[std::size_t(cls.instance)].traits)
            if (cls.file->NameOf(trait.name) == name) {
                *holder = cls;
                return &trait;
            }
    }
    return nullptr;
}

As3Runtime::ClipObject* As3Runtime::Object(const ClipRef& clip, bool create) {
    const auto sprite = clip.sprite.lock();
    const void* key = clip.root ? static_cast<const void*>(movie.get()) : sprite.get();
    if (!key)
        return nullptr;
    auto found = objects.find(key);
    // A sprite that has left the stage may have left its address to a new one.
    if (found != objects.end() && !clip.root && found->second.clip.sprite.lock() != sprite) {
        objects.erase(found);
        found = objects.end();
    }
    if (found != objects.end())
        return &found->second;
    if (!create)
        return nullptr;
    if (objects.size() >= MaxObjects)
        std::erase_if(objects, [](const auto& entry) { return !entry.second.clip.Valid(); });
    if (objects.size() >= MaxObjects)
        return nullptr;
    return &objects.emplace(key, ClipObject{clip, {}, {}, {}}).first->second;
}

Value As3Runtime::Get(const Value& object, const QString& name) {
    if (const auto* clip = std::get_if<ClipRef>(&object))
        return ClipProperty(*clip, name);
    if (std::holds_alternative<GlobalObject>(object)) {
        if (name == QLatin1String("trace"))
            return BoundBuiltin{Builtin::Trace, {}};
        return Opaque{QStringLiteral("[class %1]").arg(name)};
    }
    if (const auto* text = std::get_if<QString>(&object); text && name == QLatin1String("length"))
        return double(text->size());
    if (std::holds_alternative<Opaque>(object))
        return Opaque{QStringLiteral("[object Object]")};
    return {};
}

void As3Runtime::Set(const Value& object, const QString& name, const Value& value) {
    const auto* clip = std::get_if<ClipRef>(&object);
    if (!clip || SetClipProperty(*clip, name, value))
        return;
    ClipObject* state = Object(*clip, true);
    if (state && (state->fields.size() < MaxFields || state->fields.count(name)))
        state->fields[name] = value;
}

bool As3Runtime::Has(const Value& object, const QString& name) {
    if (std::holds_alternative<GlobalObject>(object))
        return true;
    const auto* clip = std::get_if<ClipRef>(&object);
    if (!clip)
        return false;
    if (const ClipObject* state = Object(*clip, false)) {
        if (state->fields.count(name))
            return true;
        ClassRef holder;
        if (state->cls && FindTrait(state->cls, name, &holder))
            return true;
    }
    return FindClipMethod(name) || FindPlacement(name) || name == QLatin1String("currentFrame") ||
           name == QLatin1String("totalFrames") || host.Child(*clip, name).Valid();
}

Value As3Runtime::ClipProperty(const ClipRef& clip, const QString& name) {
    if (ClipObject* state = Object(clip, false)) {
        if (const auto found = state->fields.find(name); found != state->fields.end())
            return found->second;
        ClassRef holder;
        if (const abc::Trait* trait = state->cls ? FindTrait(state->cls, name, &holder) : nullptr;
            trait && trait->kind == abc::Trait::Method)
            return MethodClosure{holder.file, trait->index, clip, holder.instance};
    }
    if (const auto method = FindClipMethod(name))
        return BoundBuiltin{*method, clip};
    if (name == QLatin1String("currentFrame")) {
        const int frame = host.CurrentFrame(clip);
        int offset = 0;
        if (clip.root)
            for (const Scene& scene : scenes)
                if (scene.offset <= frame)
                    offset = scene.offset;
        return double(frame - offset + 1);
    }
    if (name == QLatin1String("totalFrames"))
        return double(host.FrameCount(clip));
    if (name == QLatin1String("root"))
        return ClipRef::Root();
    if (name == QLatin1String("parent")) {
        const ClipRef parent = host.Parent(clip);
        return parent.Valid() ? Value(parent) : Value(nullptr);
    }
    if (const PlacementName* placement = FindPlacement(name)) {
        const auto value = host.Property(clip, placement->property);
        if (!value)
            return placement->property == PropertyVisible ? Value(true) : Value(0.0);
        if (placement->property == PropertyVisible)
            return *value != 0;
        return *value / placement->scale;
    }
    if (const ClipRef child = host.Child(clip, name); child.Valid())
        return child;
    return {};
}

bool As3Runtime::SetClipProperty(const ClipRef& clip, const QString& name, const Value& value) {
    const PlacementName* placement = FindPlacement(name);
    if (!placement)
        return false;
    const double number =
        placement->property == PropertyVisible ? double(ValueBool(value)) : ValueNumber(value);
    if (std::isfinite(number))
        host.SetProperty(clip, placement->property, number * placement->scale);
    return true;
}

Value As3Runtime::SuperMethod(const abc::AbcFile& file, int owner, const ClipRef& self, const QString& name) {
    ClassRef holder;
    if (const abc::Trait* trait = FindTrait(BaseOf({&file, owner}), name, &holder);
        trait && trait->kind == abc::Trait::Method)
        return MethodClosure{holder.file, trait->index, self, holder.instance};
    if (const auto method = FindClipMethod(name))
        return BoundBuiltin{*method, self};
    return {};
}

std::optional<MethodClosure> As3Runtime::SuperConstructor(const abc::AbcFile& file, int owner,
                                                          const ClipRef& self) {
    if (owner < 0)
        return std::nullopt;
    const ClassRef base = BaseOf({&file, owner});
    if (!base)
        return std::nullopt; // a player class (MovieClip, Sprite): nothing of its own runs
    return MethodClosure{base.file, base.file->instances[std::size_t(base.instance)].init, self,
                         base.instance};
}

QString As3Runtime::ClipText(const ClipRef& clip) {
    const ClipObject* state = Object(clip, false);
    if (!state || !state->cls)
        return QStringLiteral("[object MovieClip]");
    const abc::AbcFile& file = *state->cls.file;
    return QStringLiteral("[object %1]")
        .arg(file.NameOf(file.instances[std::size_t(state->cls.instance)].name));
}

int As3Runtime::FrameOf(const ClipRef& clip, const Value& frame, const Value& scene) {
    int offset = 0;
    if (clip.root && !scenes.empty()) {
        if (const auto* name = std::get_if<QString>(&scene)) {
            const auto found = std::find_if(scenes.begin(), scenes.end(),
                                            [&](const Scene& entry) { return entry.name == *name; });
            if (found == scenes.end())
                return -1;
            offset = found->offset;
        } else {
            // Numbers count within the scene playing.
            const int current = host.CurrentFrame(clip);
            for (const Scene& entry : scenes)
                if (entry.offset <= current)
                    offset = entry.offset;
        }
    }
    if (const auto* label = std::get_if<QString>(&frame)) {
        const int found = host.LabelFrame(clip, *label);
        if (found >= 0)
            return found;
        bool ok = false;
        const int number = label->toInt(&ok);
        return ok && number >= 1 ? offset + number - 1 : -1;
    }
    const double number = ValueNumber(frame);
    if (!std::isfinite(number) || number < 1)
        return -1;
    return int(std::min(number - 1 + offset, double(INT_MAX)));
}

Value As3Runtime::CallBuiltin(const BoundBuiltin& builtin, const std::vector<Value>& args) {
    const ClipRef& self = builtin.self;
    const Value first = args.empty() ? Value{} : args[0];
    switch (builtin.which) {
    case Builtin::Trace: {
        QStringList parts;
        for (const Value& arg : args) {
            const auto* clip = std::get_if<ClipRef>(&arg);
            parts << (clip ? ClipText(*clip) : ValueText(arg));
        }
        host.Trace(parts.join(QLatin1Char(' ')));
        return {};
    }
    case Builtin::Stop:
    case Builtin::Play:
        host.SetPlaying(self, builtin.which == Builtin::Play);
        return {};
    case Builtin::GotoAndPlay:
    case Builtin::GotoAndStop: {
        const int frame = FrameOf(self, first, args.size() > 1 ? args[1] : Value{});
        if (frame >= 0)
            host.GotoFrame(self, frame, builtin.which == Builtin::GotoAndPlay);
        return {};
    }
    case Builtin::NextFrame:
    case Builtin::PrevFrame: {
        const int frame = host.CurrentFrame(self) + (builtin.which == Builtin::NextFrame ? 1 : -1);
        if (frame >= 0 && frame < host.FrameCount(self))
            host.GotoFrame(self, frame, false);
        else
            host.SetPlaying(self, false);
        return {};
    }
    case Builtin::AddFrameScript: {
        ClipObject* state = Object(self, true);
        const int frames = host.FrameCount(self);
        for (std::size_t i = 0; state && i + 1 < args.size(); i += 2) {
            const double frame = ValueNumber(args[i]);
            if (!(frame >= 0 && frame < frames))
                continue;
            if (std::holds_alternative<MethodClosure>(args[i + 1]))
                state->frameScripts[int(frame)] = args[i + 1];
            else
                state->frameScripts.erase(int(frame));
        }
        return {};
    }
    }
    return {};
}

} // namespace flash::avm2

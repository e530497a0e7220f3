// The interpreter's names: target paths, the variables each timeline keeps (bounded in number and
// reused when their clip leaves the stage), and the properties that read like variables (_x ...).
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <QStringList>
#include <cmath>

namespace flash {

namespace {

// The property a member name ("_x", "_ALPHA") stands for.
std::optional<int> PropertyIndex(const QString& name) {
    static const std::pair<const char*, int> Names[] = {
        {"_x", PropertyX},
        {"_y", PropertyY},
        {"_xscale", PropertyXScale},
        {"_yscale", PropertyYScale},
        {"_currentframe", PropertyCurrentFrame},
        {"_totalframes", PropertyTotalFrames},
        {"_alpha", PropertyAlpha},
        {"_visible", PropertyVisible},
        {"_rotation", PropertyRotation},
        {"_framesloaded", PropertyFramesLoaded},
        {"_width", PropertyWidth},
        {"_height", PropertyHeight},
        {"_target", PropertyTarget},
        {"_name", PropertyName},
        {"_droptarget", PropertyDropTarget},
        {"_xmouse", PropertyXMouse},
        {"_ymouse", PropertyYMouse},
        {"_url", PropertyUrl},
    };
    if (!name.startsWith(u'_'))
        return std::nullopt;
    for (const auto& [text, index] : Names)
        if (name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0)
            return index;
    return std::nullopt;
}

} // namespace

ClipRef ActionInterpreter::Resolve(const ClipRef& base, const QString& path) {
    if (path.isEmpty())
        return base;
    ClipRef clip = path.startsWith(u'/') ? ClipRef::Root() : base;
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QStringList names = part == QStringLiteral("..") ? QStringList{part} : part.split(u'.');
        for (const QString& name : names) {
            if (!clip.Valid())
                return {};
            if (name.isEmpty() || name == QStringLiteral("this"))
                continue;
            if (name == QStringLiteral("..") || name == QStringLiteral("_parent"))
                clip = host.Parent(clip);
            else if (name == QStringLiteral("_root") || name == QStringLiteral("_level0"))
                clip = ClipRef::Root();
            else if (const auto level = LevelIndex(name))
                clip = host.Level(*level);
            else
                clip = host.Child(clip, name);
        }
    }
    return clip.Valid() ? clip : ClipRef{};
}

ActionValue ActionInterpreter::Member(const ClipRef& clip, const QString& name, ScriptObject** owner) {
    if (!clip.Valid())
        return {};
    if (name.compare(QLatin1String("__proto__"), Qt::CaseInsensitive) == 0) {
        ScriptObject* proto = ClipPrototype(clip);
        return proto ? ActionValue(proto) : ActionValue{};
    }
    if (const auto property = PropertyIndex(name))
        return GetClipProperty(clip, *property);
    if (auto effect = ClipEffectMember(*this, clip, name))
        return *effect;
    if (const auto* values = VariablesOf(clip, false))
        if (const ActionValue* found = values->Find(name))
            return *found;
    const ClipRef found = Resolve(clip, name);
    if (found.Valid())
        return found;
    if (auto field = host.Field(clip, name))
        return TextFieldRef{field};
    return ClipChainMember(clip, name, owner);
}

ScriptObject* ActionInterpreter::ClipPrototype(const ClipRef& clip) {
    const ClipVariables* entry = EntryOf(clip, false);
    if (entry && entry->proto)
        return entry->proto;
    // A button instance is no MovieClip: what MovieClip.prototype holds does not reach it.
    const bool button = !clip.root && clip.sprite.expired();
    return button ? nullptr : protos.movieClip;
}

void ActionInterpreter::SetClipPrototype(const ClipRef& clip, ScriptObject* proto) {
    if (!clip.Valid() || !proto)
        return;
    if (variables.size() >= MaxVariables)
        DropGoneClips();
    // Entries are bounded as variables are: past the limit a clip keeps MovieClip's prototype.
    if (ClipVariables* entry = EntryOf(clip, variables.size() < MaxVariables)) {
        entry->proto = proto;
        hasHandlers = true; // its handlers may come from the prototype
    }
}

ActionValue ActionInterpreter::ClipChainMember(const ClipRef& clip, const QString& name,
                                               ScriptObject** owner) {
    return ChainMember(ClipPrototype(clip), name, clip, owner);
}

void ActionInterpreter::DropGoneClips() {
    for (auto it = variables.begin(); it != variables.end();) {
        if (it->second.clip.Valid()) {
            ++it;
            continue;
        }
        variableCount -= it->second.values.Size();
        it = variables.erase(it);
    }
}

PropertyMap* ActionInterpreter::VariablesOf(const ClipRef& clip, bool create) {
    ClipVariables* entry = EntryOf(clip, create);
    return entry ? &entry->values : nullptr;
}

ActionInterpreter::ClipVariables* ActionInterpreter::EntryOf(const ClipRef& clip, bool create) {
    if (!clip.Valid())
        return nullptr;
    const void* key = clip.root               ? nullptr
                      : clip.sprite.expired() ? static_cast<const void*>(clip.button.lock().get())
                                              : static_cast<const void*>(clip.sprite.lock().get());
    auto found = variables.find(key);
    if (found != variables.end() && !(found->second.clip == clip)) {
        // The sprite at this address left the stage; a new one has its own variables.
        variableCount -= found->second.values.Size();
        found->second.clip = clip;
        found->second.values = PropertyMap();
        found->second.proto = nullptr;
    }
    if (found == variables.end()) {
        if (!create)
            return nullptr;
        found = variables.emplace(key, ClipVariables{clip, {}}).first;
    }
    return &found->second;
}

std::pair<ClipRef, QString> ActionInterpreter::SplitVariablePath(const ClipRef& base, const QString& path) {
    qsizetype split = path.lastIndexOf(u':');
    if (split < 0)
        split = path.lastIndexOf(u'.');
    if (split < 0)
        return {base, path};
    return {Resolve(base, path.left(split)), path.mid(split + 1)};
}

ActionValue ActionInterpreter::GetClipProperty(const ClipRef& clip, int property) {
    if (!clip.Valid())
        return {};
    if (auto value = ClipGeometryProperty(clip, property))
        return *value;
    switch (property) {
    case PropertyCurrentFrame:
        return double(host.CurrentFrame(clip) + 1);
    case PropertyTotalFrames:
    case PropertyFramesLoaded:
        return double(host.FrameCount(clip));
    case PropertyVisible:
        if (const auto value = host.Property(clip, property))
            return *value != 0;
        return {};
    default:
        if (const auto value = host.Property(clip, property))
            return *value;
        return {};
    }
}

void ActionInterpreter::SetClipProperty(const ClipRef& clip, int property, const ActionValue& value) {
    if (!clip.Valid() || SetClipGeometryProperty(clip, property, value))
        return;
    if (property == PropertyVisible) {
        host.SetProperty(clip, property, ActionBool(value) ? 1 : 0);
        return;
    }
    const double number = ActionNumber(value);
    if (std::isfinite(number))
        host.SetProperty(clip, property, number);
}

ActionValue ActionInterpreter::Variable(const ClipRef& base, const QString& path) {
    const auto [clip, name] = SplitVariablePath(base, path);
    if (const auto property = PropertyIndex(name))
        return GetClipProperty(clip, *property);
    if (const auto* values = VariablesOf(clip, false))
        if (const ActionValue* found = values->Find(name))
            return *found;
    return {};
}

void ActionInterpreter::SetVariable(const ClipRef& base, const QString& path, ActionValue value) {
    const auto [clip, name] = SplitVariablePath(base, path);
    if (name.isEmpty())
        return;
    if (const auto property = PropertyIndex(name)) {
        SetClipProperty(clip, *property, value);
        return;
    }
    if (SetClipEffectMember(*this, clip, name, value))
        return;
    // Make room from clips that have left the stage before refusing a new name.
    if (variableCount >= MaxVariables)
        DropGoneClips();
    auto* values = VariablesOf(clip, variableCount < MaxVariables);
    if (!values)
        return;
    if (auto* const* function = std::get_if<ScriptObject*>(&value);
        function && *function && (*function)->Callable() && name.startsWith(u"on", Qt::CaseInsensitive))
        hasHandlers = true;
    const QString key = name.left(MaxString);
    if (!values->Find(key) && variableCount >= MaxVariables)
        return;
    bool added = false;
    values->Set(key, std::move(value), &added);
    variableCount += added;
}

bool ActionInterpreter::RemoveVariable(const ClipRef& clip, const QString& name) {
    PropertyMap* values = VariablesOf(clip, false);
    if (!values || !values->Remove(name))
        return false;
    --variableCount;
    return true;
}

} // namespace flash

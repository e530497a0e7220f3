#include "flash/player/avm1/Actions.h"

#include "flash/swf/BitReader.h"
#include "flash/swf/TextEncoding.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace flash {

double ActionNumber(const ActionValue& value) {
    if (const auto* number = std::get_if<double>(&value))
        return *number;
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag ? 1 : 0;
    if (const auto* text = std::get_if<QString>(&value)) {
        bool ok = false;
        const double number = text->trimmed().toDouble(&ok);
        return ok ? number : std::numeric_limits<double>::quiet_NaN();
    }
    if (std::holds_alternative<std::nullptr_t>(value))
        return 0;
    return std::numeric_limits<double>::quiet_NaN();
}

QString ActionText(const ActionValue& value) {
    if (const auto* text = std::get_if<QString>(&value))
        return *text;
    if (const auto* number = std::get_if<double>(&value)) {
        if (std::isnan(*number))
            return QStringLiteral("NaN");
        if (std::isinf(*number))
            return *number > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
        if (*number == std::trunc(*number) && std::abs(*number) < 1e15)
            return QString::number(static_cast<long long>(*number));
        return QString::number(*number, 'g', 15);
    }
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag ? QStringLiteral("true") : QStringLiteral("false");
    if (std::holds_alternative<std::nullptr_t>(value))
        return QStringLiteral("null");
    if (std::holds_alternative<ClipRef>(value))
        return QStringLiteral("[clip]");
    if (std::holds_alternative<std::shared_ptr<const ScriptFunction>>(value))
        return QStringLiteral("[type Function]");
    if (std::holds_alternative<BuiltinObject>(value) || std::holds_alternative<TextFieldRef>(value))
        return QStringLiteral("[object Object]");
    return {};
}

QString TraceText(const ActionValue& value) {
    if (std::holds_alternative<std::monostate>(value))
        return QStringLiteral("undefined");
    return ActionText(value);
}

bool ActionBool(const ActionValue& value) {
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag;
    if (const auto* text = std::get_if<QString>(&value))
        return !text->isEmpty();
    if (std::holds_alternative<ClipRef>(value) ||
        std::holds_alternative<std::shared_ptr<const ScriptFunction>>(value) ||
        std::holds_alternative<BuiltinObject>(value) || std::holds_alternative<TextFieldRef>(value))
        return true;
    const double number = ActionNumber(value);
    return number != 0 && !std::isnan(number);
}

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
    };
    if (!name.startsWith(u'_'))
        return std::nullopt;
    for (const auto& [text, index] : Names)
        if (name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0)
            return index;
    return std::nullopt;
}

// A frame number from a pushed value: numbers count from 1; strings are labels or numbers.
std::optional<int> FrameIndex(double number) {
    if (std::isnan(number) || number < -1e9 || number > 1e9)
        return std::nullopt;
    return int(number) - 1;
}

} // namespace

bool ClipRef::operator==(const ClipRef& other) const {
    if (root || other.root)
        return root == other.root;
    return !sprite.owner_before(other.sprite) && !other.sprite.owner_before(sprite) &&
           !button.owner_before(other.button) && !other.button.owner_before(button) &&
           Valid() == other.Valid();
}

std::optional<ActionRecord> DecodeAction(const QByteArray& code, std::size_t offset) {
    if (offset >= std::size_t(code.size()))
        return std::nullopt;
    BitReader r(reinterpret_cast<const std::uint8_t*>(code.constData()) + offset, code.size() - offset);
    ActionRecord record;
    record.code = r.U8();
    record.offset = offset;
    if (record.code >= 0x80) {
        const std::size_t length = r.U16();
        const std::uint8_t* start = r.Current();
        r.Skip(length);
        if (r.Overrun())
            return std::nullopt;
        record.payload = QByteArrayView(start, qsizetype(length));
    }
    if (r.Overrun())
        return std::nullopt;
    record.next = offset + r.Position();
    return record;
}

std::vector<ActionRecord> ParseActions(const QByteArray& code) {
    std::vector<ActionRecord> records;
    std::size_t offset = 0;
    while (const auto record = DecodeAction(code, offset)) {
        if (record->code == 0)
            break;
        offset = record->next;
        records.push_back(*record);
    }
    return records;
}

struct ActionInterpreter::Frame {
    Frame(const QByteArray& code, std::size_t begin, std::size_t end, const ClipRef& self,
          const ClipRef& timeline, int version)
        : code(code), pc(begin), begin(begin), end(end), self(self), target(timeline), home(timeline),
          version(version) {}

    const QByteArray& code;
    std::size_t pc = 0;
    std::size_t begin = 0, end = 0; // the code this frame runs; a jump out of it ends the frame
    ClipRef self;                   // what "this" is
    ClipRef target;                 // the timeline that timeline control and variables act on
    ClipRef home;                   // where SetTarget with no path goes back to
    std::vector<ActionValue> stack;
    std::shared_ptr<const std::vector<QString>> constants;
    int version = 0;
    bool done = false;
    std::map<QString, ActionValue>* locals = nullptr; // in a function: its local variables
    ActionValue* registers = nullptr;
    std::size_t registerCount = 0;
    ActionValue result; // what Return gave
    struct WithBlock {
        std::size_t begin, end; // the block, in code offsets
        ClipRef outer;          // the target before it
    };
    std::vector<WithBlock> withBlocks; // innermost last
};

ActionValue ActionInterpreter::Bounded(QString text) {
    if (text.size() > MaxString)
        text.truncate(MaxString);
    return text;
}

void ActionInterpreter::Run(const QByteArray& code, const ClipRef& self, long long& budget, int swfVersion) {
    Frame f(code, 0, std::size_t(code.size()), self, self, swfVersion);
    f.registers = registers;
    f.registerCount = std::size(registers);
    long long* outer = std::exchange(this->budget, &budget);
    Execute(f);
    this->budget = outer;
}

void ActionInterpreter::Execute(Frame& f) {
    const int outerVersion = std::exchange(runningVersion, f.version);
    ExecuteRecords(f);
    runningVersion = outerVersion;
}

void ActionInterpreter::ExecuteRecords(Frame& f) {
    while (!f.done && *budget > 0) {
        // Leaving a with block, by its end or a jump, gives back the target it replaced.
        while (!f.withBlocks.empty() &&
               (f.pc < f.withBlocks.back().begin || f.pc >= f.withBlocks.back().end)) {
            f.target = f.withBlocks.back().outer;
            f.withBlocks.pop_back();
        }
        const auto record = DecodeAction(f.code, f.pc);
        if (!record || record->code == 0 || record->next > f.end)
            return;
        --*budget;
        f.pc = record->next;
        Step(f, *record);
        if (f.pc < f.begin || f.pc > f.end)
            return; // a jump out of the code ends it
    }
}

void ActionInterpreter::DefineFunction(Frame& f, const ActionRecord& record) {
    BitReader r(reinterpret_cast<const std::uint8_t*>(record.payload.data()), record.payload.size());
    auto function = std::make_shared<ScriptFunction>();
    const QString name = DecodeText(r.CString(), f.version);
    const std::size_t params = r.U16();
    const bool two = record.code == 0x8E;
    if (two) {
        function->hasRegisters = true;
        function->registerCount = r.U8();
        function->preload = r.U8();
        function->preloadGlobal = r.U8();
    }
    for (std::size_t i = 0; i < params && !r.Overrun() && r.Remaining() > 0; ++i) {
        function->paramRegisters.push_back(two ? r.U8() : 0);
        function->params.push_back(DecodeText(r.CString(), f.version).toLower());
    }
    const std::size_t size = r.U16();
    if (r.Overrun() || f.pc + size > f.end) {
        f.done = true; // the body runs past the code
        return;
    }
    function->code = f.code;
    function->begin = f.pc;
    function->end = f.pc + size;
    function->scope = f.target;
    function->constants = f.constants;
    function->version = f.version;
    f.pc += size; // the body is not run here
    if (name.isEmpty())
        Push(f, std::shared_ptr<const ScriptFunction>(std::move(function)));
    else if (f.locals)
        (*f.locals)[name.toLower()] = std::shared_ptr<const ScriptFunction>(std::move(function));
    else
        SetVariable(f.target, name, std::shared_ptr<const ScriptFunction>(std::move(function)));
}

ActionValue ActionInterpreter::Call(const ScriptFunction& function, const ClipRef& self,
                                    const std::vector<ActionValue>& args) {
    if (callDepth >= MaxCallDepth || !budget)
        return {};
    std::map<QString, ActionValue> locals;
    std::vector<ActionValue> ownRegisters(function.hasRegisters ? function.registerCount : 0);
    Frame g(function.code, function.begin, function.end, self.Valid() ? self : function.scope, function.scope,
            function.version);
    g.constants = function.constants;
    g.locals = &locals;
    g.registers = function.hasRegisters ? ownRegisters.data() : registers;
    g.registerCount = function.hasRegisters ? ownRegisters.size() : std::size(registers);
    if (function.hasRegisters) {
        // this, arguments, super, _root, _parent, _global take registers from 1 on, as flagged.
        std::size_t next = 1;
        auto preload = [&](bool flagged, const ActionValue& value) {
            if (flagged && next < ownRegisters.size())
                ownRegisters[next++] = value;
        };
        preload(function.preload & 0x01, g.self);
        preload(function.preload & 0x04, ActionValue{});
        preload(function.preload & 0x10, ActionValue{});
        preload(function.preload & 0x40, ClipRef::Root());
        preload(function.preload & 0x80, host.Parent(function.scope));
        preload(function.preloadGlobal & 0x01, ActionValue{});
    }
    for (std::size_t i = 0; i < function.params.size(); ++i) {
        const ActionValue value = i < args.size() ? args[i] : ActionValue{};
        const std::uint8_t reg = function.paramRegisters[i];
        if (reg != 0 && reg < ownRegisters.size())
            ownRegisters[reg] = value;
        else if (reg == 0 && locals.size() < MaxVariables)
            locals[function.params[i]] = value;
    }
    ++callDepth;
    Execute(g);
    --callDepth;
    return g.result;
}

void ActionInterpreter::Step(Frame& f, const ActionRecord& record) {
    if (StepControl(f, record) || StepStack(f, record) || StepOperator(f, record.code) ||
        StepStringAndBits(f, record.code))
        return;
    StepObjects(f, record);
}

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
            else
                clip = host.Child(clip, name);
        }
    }
    return clip.Valid() ? clip : ClipRef{};
}

void ActionInterpreter::GotoValue(Frame& f, const ClipRef& clip, const ActionValue& frame, bool play,
                                  int bias) {
    ClipRef where = clip;
    std::optional<int> index;
    if (const auto* text = std::get_if<QString>(&frame)) {
        QString label = *text;
        // "path:frame" names a frame of another clip.
        if (const qsizetype colon = label.lastIndexOf(u':'); colon >= 0) {
            where = Resolve(f.target, label.left(colon));
            label = label.mid(colon + 1);
        }
        bool isNumber = false;
        const double number = label.toDouble(&isNumber);
        if (isNumber)
            index = FrameIndex(number);
        else if (where.Valid())
            if (const int found = host.LabelFrame(where, label); found >= 0)
                index = found;
    } else {
        index = FrameIndex(ActionNumber(frame));
    }
    if (!index || !where.Valid())
        return;
    host.GotoFrame(where, *index + bias, play);
}

ActionValue ActionInterpreter::CallClipMethod(Frame& f, const ClipRef& clip, const QString& name,
                                              const std::vector<ActionValue>& args) {
    if (!clip.Valid())
        return {};
    const QString method = name.toLower();
    // Everything is loaded from the start: what preloaders wait for is there.
    if (method == QStringLiteral("getbytesloaded") || method == QStringLiteral("getbytestotal"))
        return host.MovieBytes();
    if (method == QStringLiteral("play"))
        host.SetPlaying(clip, true);
    else if (method == QStringLiteral("stop"))
        host.SetPlaying(clip, false);
    else if (method == QStringLiteral("nextframe"))
        host.GotoFrame(clip, host.CurrentFrame(clip) + 1, false);
    else if (method == QStringLiteral("prevframe"))
        host.GotoFrame(clip, std::max(host.CurrentFrame(clip) - 1, 0), false);
    else if ((method == QStringLiteral("gotoandplay") || method == QStringLiteral("gotoandstop")) &&
             !args.empty())
        // With a scene and a frame, the frame is the last argument.
        GotoValue(f, clip, args.back(), method == QStringLiteral("gotoandplay"), 0);
    else if (method == QStringLiteral("stopallsounds"))
        host.StopSounds();
    else if (method == QStringLiteral("duplicatemovieclip") && args.size() >= 2)
        Duplicate(clip, args[0], args[1]);
    else if (method == QStringLiteral("removemovieclip"))
        host.Remove(clip);
    else if (method == QStringLiteral("attachmovie") && args.size() >= 3) {
        const double depth = ActionNumber(args[2]);
        if (std::isfinite(depth) && depth >= 0 && depth < 65536)
            if (const ClipRef attached =
                    host.Attach(clip, ActionText(args[0]), ActionText(args[1]).left(MaxString), int(depth));
                attached.Valid())
                return attached;
    } else if (method == QStringLiteral("startdrag"))
        host.StartDrag(clip, !args.empty() && ActionBool(args[0]),
                       args.size() >= 5 ? DragBounds(args[1], args[2], args[3], args[4]) : std::nullopt);
    else if (method == QStringLiteral("stopdrag"))
        host.StopDrag();
    return {};
}

std::optional<QRectF> ActionInterpreter::DragBounds(const ActionValue& left, const ActionValue& top,
                                                    const ActionValue& right, const ActionValue& bottom) {
    const double l = ActionNumber(left), t = ActionNumber(top), r = ActionNumber(right),
                 b = ActionNumber(bottom);
    if (!std::isfinite(l) || !std::isfinite(t) || !std::isfinite(r) || !std::isfinite(b))
        return std::nullopt;
    return QRectF(QPointF(std::min(l, r), std::min(t, b)), QPointF(std::max(l, r), std::max(t, b)));
}

void ActionInterpreter::Duplicate(const ClipRef& clip, const ActionValue& name, const ActionValue& depth) {
    const double number = ActionNumber(depth);
    if (clip.Valid() && std::isfinite(number) && number >= 0 && number < 65536)
        host.Duplicate(clip, ActionText(name).left(MaxString), int(number));
}

ActionValue ActionInterpreter::Member(const ClipRef& clip, const QString& name) {
    if (!clip.Valid())
        return {};
    if (const auto property = PropertyIndex(name))
        return GetClipProperty(clip, *property);
    if (const auto* values = VariablesOf(clip, false))
        if (const auto found = values->find(name.toLower()); found != values->end())
            return found->second;
    const ClipRef found = Resolve(clip, name);
    if (found.Valid())
        return found;
    if (auto field = host.Field(clip, name))
        return TextFieldRef{field};
    return {};
}

std::map<QString, ActionValue>* ActionInterpreter::VariablesOf(const ClipRef& clip, bool create) {
    if (!clip.Valid())
        return nullptr;
    const void* key = clip.root               ? nullptr
                      : clip.sprite.expired() ? static_cast<const void*>(clip.button.lock().get())
                                              : static_cast<const void*>(clip.sprite.lock().get());
    auto found = variables.find(key);
    if (found != variables.end() && !(found->second.clip == clip)) {
        // The sprite at this address left the stage; a new one has its own variables.
        variableCount -= found->second.values.size();
        found->second = ClipVariables{clip, {}};
    }
    if (found == variables.end()) {
        if (!create)
            return nullptr;
        found = variables.emplace(key, ClipVariables{clip, {}}).first;
    }
    return &found->second.values;
}

std::pair<ClipRef, QString> ActionInterpreter::SplitVariablePath(const ClipRef& base, const QString& path) {
    qsizetype split = path.lastIndexOf(u':');
    if (split < 0)
        split = path.lastIndexOf(u'.');
    if (split < 0)
        return {base, path.toLower()};
    return {Resolve(base, path.left(split)), path.mid(split + 1).toLower()};
}

ActionValue ActionInterpreter::GetClipProperty(const ClipRef& clip, int property) {
    if (!clip.Valid())
        return {};
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
    if (!clip.Valid())
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
        if (const auto found = values->find(name); found != values->end())
            return found->second;
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
    if (variableCount >= MaxVariables) {
        // Make room from clips that have left the stage before refusing a new name.
        for (auto it = variables.begin(); it != variables.end();) {
            if (it->second.clip.Valid()) {
                ++it;
                continue;
            }
            variableCount -= it->second.values.size();
            it = variables.erase(it);
        }
    }
    auto* values = VariablesOf(clip, variableCount < MaxVariables);
    if (!values)
        return;
    if (std::holds_alternative<std::shared_ptr<const ScriptFunction>>(value) && name.startsWith(u"on"))
        hasHandlers = true;
    auto [entry, added] = values->try_emplace(name.left(MaxString));
    if (added && variableCount >= MaxVariables) {
        values->erase(entry);
        return;
    }
    variableCount += added;
    entry->second = std::move(value);
}

// An edit text's text (or htmlText: the same here, shown as the field's HTML setting says).
ActionValue ActionInterpreter::FieldMember(const TextFieldRef& ref, const QString& name) {
    const auto field = ref.field.lock();
    if (!field || (name.compare(u"text", Qt::CaseInsensitive) != 0 &&
                   name.compare(u"htmlText", Qt::CaseInsensitive) != 0))
        return {};
    return field->content.value_or(field->initialText);
}

void ActionInterpreter::SetFieldMember(const TextFieldRef& ref, const QString& name,
                                       const ActionValue& value) {
    const auto field = ref.field.lock();
    if (field && (name.compare(u"text", Qt::CaseInsensitive) == 0 ||
                  name.compare(u"htmlText", Qt::CaseInsensitive) == 0))
        field->content = ActionText(value).left(MaxString);
}

bool ActionInterpreter::HasHandler(const ClipRef& clip, const QString& name) {
    const auto* values = hasHandlers ? VariablesOf(clip, false) : nullptr;
    if (!values)
        return false;
    const auto found = values->find(name.toLower());
    return found != values->end() &&
           std::holds_alternative<std::shared_ptr<const ScriptFunction>>(found->second);
}

void ActionInterpreter::CallHandler(const ClipRef& clip, const QString& name, long long& budget) {
    const ActionValue handler = Variable(clip, name);
    const auto* function = std::get_if<std::shared_ptr<const ScriptFunction>>(&handler);
    if (!function)
        return;
    long long* outer = std::exchange(this->budget, &budget);
    Call(**function, clip, {});
    this->budget = outer;
}

ActionValue ActionInterpreter::GetVariable(Frame& f, const QString& name) {
    if (name == QStringLiteral("_root") || name == QStringLiteral("_level0"))
        return ClipRef::Root();
    if (name == QStringLiteral("this"))
        return f.self;
    if (f.locals)
        if (const auto found = f.locals->find(name.toLower()); found != f.locals->end())
            return found->second;
    if (ActionValue value = Variable(f.target, name); !std::holds_alternative<std::monostate>(value))
        return value;
    if (name == QStringLiteral("Math"))
        return BuiltinObject::Math;
    // A clip path, or an instance name on the current timeline, of a clip or an edit text.
    const ClipRef clip = Resolve(f.target, name);
    if (clip.Valid())
        return clip;
    const auto [parent, last] = SplitVariablePath(f.target, name);
    if (auto field = parent.Valid() ? host.Field(parent, last) : nullptr)
        return TextFieldRef{field};
    return {};
}

void ActionInterpreter::Push(Frame& f, ActionValue value) {
    if (f.stack.size() < MaxStack)
        f.stack.push_back(std::move(value));
}

ActionValue ActionInterpreter::Pop(Frame& f) {
    if (f.stack.empty())
        return {};
    ActionValue value = std::move(f.stack.back());
    f.stack.pop_back();
    return value;
}

void ActionInterpreter::PushValues(Frame& f, QByteArrayView payload) {
    BitReader r(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size());
    while (r.Remaining() > 0 && !r.Overrun()) {
        const std::uint8_t type = r.U8();
        ActionValue value;
        switch (type) {
        case 0:
            value = Bounded(DecodeText(r.CString(), f.version));
            break;
        case 1: {
            const std::uint32_t bits = r.U32();
            float number;
            std::memcpy(&number, &bits, sizeof number);
            value = double(number);
            break;
        }
        case 2:
            value = nullptr;
            break;
        case 3:
            break;
        case 4: {
            const std::uint8_t index = r.U8();
            if (index < f.registerCount)
                value = f.registers[index];
            break;
        }
        case 5:
            value = r.U8() != 0;
            break;
        case 6: { // the two 32-bit halves come high half first
            const std::uint64_t high = r.U32(), low = r.U32();
            const std::uint64_t bits = (high << 32) | low;
            double number;
            std::memcpy(&number, &bits, sizeof number);
            value = number;
            break;
        }
        case 7:
            value = double(std::int32_t(r.U32()));
            break;
        case 8:
        case 9: {
            const std::size_t index = type == 8 ? r.U8() : r.U16();
            if (f.constants && index < f.constants->size())
                value = (*f.constants)[index];
            break;
        }
        default:
            return; // an unknown type: its length is unknown too
        }
        if (r.Overrun())
            return;
        Push(f, std::move(value));
    }
}

// Timeline control and jumps.
bool ActionInterpreter::StepControl(Frame& f, const ActionRecord& record) {
    BitReader r(reinterpret_cast<const std::uint8_t*>(record.payload.data()), record.payload.size());
    switch (record.code) {
    case 0x04: // NextFrame
        if (f.target.Valid())
            host.GotoFrame(f.target, host.CurrentFrame(f.target) + 1, false);
        return true;
    case 0x05: // PrevFrame
        if (f.target.Valid())
            host.GotoFrame(f.target, std::max(host.CurrentFrame(f.target) - 1, 0), false);
        return true;
    case 0x06: // Play
        if (f.target.Valid())
            host.SetPlaying(f.target, true);
        return true;
    case 0x07: // Stop
        if (f.target.Valid())
            host.SetPlaying(f.target, false);
        return true;
    case 0x09: // StopSounds
        host.StopSounds();
        return true;
    case 0x81: { // GotoFrame
        const int frame = r.U16();
        if (!r.Overrun() && f.target.Valid())
            host.GotoFrame(f.target, frame, std::nullopt);
        return true;
    }
    case 0x8C: { // GotoLabel
        const QString label = DecodeText(r.CString(), f.version);
        if (!r.Overrun() && f.target.Valid())
            if (const int frame = host.LabelFrame(f.target, label); frame >= 0)
                host.GotoFrame(f.target, frame, std::nullopt);
        return true;
    }
    case 0x9F: { // GotoFrame2
        const std::uint8_t flags = r.U8();
        const int bias = (flags & 0x02) ? r.U16() : 0;
        GotoValue(f, f.target, Pop(f), flags & 0x01, r.Overrun() ? 0 : bias);
        return true;
    }
    case 0x8B: { // SetTarget
        const QString path = DecodeText(r.CString(), f.version);
        f.target = path.isEmpty() ? f.home : Resolve(f.home, path);
        return true;
    }
    case 0x20: { // SetTarget2
        const ActionValue value = Pop(f);
        if (const auto* clip = std::get_if<ClipRef>(&value))
            f.target = *clip;
        else {
            const QString path = ActionText(value);
            f.target = path.isEmpty() ? f.home : Resolve(f.home, path);
        }
        return true;
    }
    case 0x99:   // Jump
    case 0x9D: { // If
        const std::int16_t offset = r.S16();
        if (r.Overrun())
            return true;
        if (record.code == 0x9D && !ActionBool(Pop(f)))
            return true;
        const long long to = static_cast<long long>(record.next) + offset;
        if (to < static_cast<long long>(f.begin) || to > static_cast<long long>(f.end))
            f.done = true;
        else
            f.pc = std::size_t(to);
        return true;
    }
    case 0x8A: // WaitForFrame: every frame is loaded, nothing is skipped
        return true;
    case 0x8D: // WaitForFrame2
        Pop(f);
        return true;
    default:
        return false;
    }
}

// Pushes, pops, the constant pool, registers and variables.
bool ActionInterpreter::StepStack(Frame& f, const ActionRecord& record) {
    BitReader r(reinterpret_cast<const std::uint8_t*>(record.payload.data()), record.payload.size());
    switch (record.code) {
    case 0x96: // Push
        PushValues(f, record.payload);
        return true;
    case 0x88: { // ConstantPool
        const std::size_t count = r.U16();
        auto pool = std::make_shared<std::vector<QString>>();
        // Every string takes at least its zero byte, so the payload bounds the pool.
        for (std::size_t i = 0; i < count && r.Remaining() > 0; ++i) {
            const QByteArray text = r.CString();
            if (r.Overrun())
                break;
            pool->push_back(DecodeText(text, f.version));
        }
        f.constants = std::move(pool);
        return true;
    }
    case 0x17: // Pop
        Pop(f);
        return true;
    case 0x4C: { // PushDuplicate
        const ActionValue top = f.stack.empty() ? ActionValue{} : f.stack.back();
        Push(f, top);
        return true;
    }
    case 0x4D: // StackSwap
        if (f.stack.size() >= 2)
            std::swap(f.stack[f.stack.size() - 1], f.stack[f.stack.size() - 2]);
        return true;
    case 0x87: { // StoreRegister
        const std::uint8_t index = r.U8();
        if (!r.Overrun() && !f.stack.empty() && index < f.registerCount)
            f.registers[index] = f.stack.back();
        return true;
    }
    case 0x1C: { // GetVariable
        const QString name = ActionText(Pop(f));
        Push(f, GetVariable(f, name));
        return true;
    }
    case 0x1D:   // SetVariable
    case 0x3C: { // DefineLocal: in a function, a local variable
        ActionValue value = Pop(f);
        const QString name = ActionText(Pop(f));
        if (f.locals && (record.code == 0x3C || f.locals->count(name.toLower()))) {
            if (f.locals->size() < MaxVariables || f.locals->count(name.toLower()))
                (*f.locals)[name.toLower().left(MaxString)] = std::move(value);
        } else {
            SetVariable(f.target, name, std::move(value));
        }
        return true;
    }
    case 0x41: { // DefineLocal2
        const QString name = ActionText(Pop(f)).toLower().left(MaxString);
        if (f.locals && f.locals->size() < MaxVariables)
            f.locals->try_emplace(name);
        return true;
    }
    default:
        return false;
    }
}

// Clips as objects: members, method and function calls; the rest is consumed without effect.
bool ActionInterpreter::StepObjects(Frame& f, const ActionRecord& record) {
    auto popArgs = [&] {
        const double count = ActionNumber(Pop(f));
        std::vector<ActionValue> args;
        const std::size_t n = std::isnan(count) || count < 0
                                  ? 0
                                  : std::min<std::size_t>(std::size_t(std::min(count, 1e6)), f.stack.size());
        for (std::size_t i = 0; i < n; ++i)
            args.push_back(Pop(f));
        return args;
    };
    switch (record.code) {
    case 0x22: { // GetProperty: a target path and a property number
        const double property = ActionNumber(Pop(f));
        const QString path = ActionText(Pop(f));
        const ClipRef clip = path.isEmpty() ? f.target : Resolve(f.target, path);
        Push(f, std::isfinite(property) ? GetClipProperty(clip, int(property)) : ActionValue{});
        return true;
    }
    case 0x23: { // SetProperty
        const ActionValue value = Pop(f);
        const double property = ActionNumber(Pop(f));
        const QString path = ActionText(Pop(f));
        const ClipRef clip = path.isEmpty() ? f.target : Resolve(f.target, path);
        if (std::isfinite(property))
            SetClipProperty(clip, int(property), value);
        return true;
    }
    case 0x4E: { // GetMember
        const QString name = ActionText(Pop(f));
        const ActionValue object = Pop(f);
        if (const auto* clip = std::get_if<ClipRef>(&object))
            Push(f, Member(*clip, name));
        else if (const auto* field = std::get_if<TextFieldRef>(&object))
            Push(f, FieldMember(*field, name));
        else if (std::holds_alternative<BuiltinObject>(object))
            Push(f, MathMember(name));
        else
            Push(f, {});
        return true;
    }
    case 0x4F: { // SetMember: on a clip, one of its variables or properties; on a field, its text
        ActionValue value = Pop(f);
        const QString name = ActionText(Pop(f));
        const ActionValue object = Pop(f);
        if (const auto* clip = std::get_if<ClipRef>(&object);
            clip && !name.contains(u'.') && !name.contains(u':'))
            SetVariable(*clip, name, std::move(value));
        else if (const auto* field = std::get_if<TextFieldRef>(&object))
            SetFieldMember(*field, name, value);
        return true;
    }
    case 0x52: { // CallMethod: a function kept in a clip's variable, or one of the clip's own
        const QString name = ActionText(Pop(f));
        const ActionValue object = Pop(f);
        const std::vector<ActionValue> args = popArgs();
        if (std::holds_alternative<BuiltinObject>(object)) {
            Push(f, CallMath(name, args));
            return true;
        }
        const auto* clip = std::get_if<ClipRef>(&object);
        ActionValue member = name.isEmpty() ? object : clip ? Member(*clip, name) : ActionValue{};
        if (const auto* function = std::get_if<std::shared_ptr<const ScriptFunction>>(&member)) {
            Push(f, Call(**function, clip ? *clip : ClipRef{}, args));
            return true;
        }
        if (clip)
            Push(f, CallClipMethod(f, *clip, name, args));
        else
            Push(f, {});
        return true;
    }
    case 0x3D: { // CallFunction: a function the scripts defined, else a global form on the target
        const QString name = ActionText(Pop(f));
        const std::vector<ActionValue> args = popArgs();
        const ActionValue value = GetVariable(f, name);
        if (const auto* function = std::get_if<std::shared_ptr<const ScriptFunction>>(&value)) {
            Push(f, Call(**function, ClipRef{}, args));
            return true;
        }
        Push(f, CallClipMethod(f, f.target, name, args));
        return true;
    }
    case 0x3E: // Return
        f.result = Pop(f);
        f.done = true;
        return true;
    case 0x9B: // DefineFunction
    case 0x8E: // DefineFunction2
        DefineFunction(f, record);
        return true;
    case 0x3A: // Delete
    case 0x3B: // Delete2
    case 0x9E: // Call
        Pop(f);
        if (record.code == 0x3A)
            Push(f, {});
        return true;
    case 0x26: // Trace
        host.Trace(TraceText(Pop(f)));
        return true;
    case 0x24: { // CloneSprite: duplicateMovieClip(source, name, depth)
        const ActionValue depth = Pop(f), name = Pop(f);
        const QString source = ActionText(Pop(f));
        Duplicate(Resolve(f.target, source), name, depth);
        return true;
    }
    case 0x25: { // RemoveSprite
        const ClipRef clip = Resolve(f.target, ActionText(Pop(f)));
        if (clip.Valid() && !clip.root)
            host.Remove(clip);
        return true;
    }
    case 0x27: { // StartDrag: target, lock centre, constrain, then the bounds when constrained
        const ClipRef clip = Resolve(f.target, ActionText(Pop(f)));
        const bool lockCenter = ActionBool(Pop(f));
        std::optional<QRectF> bounds;
        if (ActionBool(Pop(f))) {
            const ActionValue bottom = Pop(f), right = Pop(f), top = Pop(f), left = Pop(f);
            bounds = DragBounds(left, top, right, bottom);
        }
        if (clip.Valid() && !clip.root)
            host.StartDrag(clip, lockCenter, bounds);
        return true;
    }
    case 0x28: // EndDrag
        host.StopDrag();
        return true;
    case 0x9A: // GetURL2
        Pop(f), Pop(f);
        return true;
    case 0x94: { // With: its block acts on the clip given
        const ActionValue object = Pop(f);
        BitReader r(reinterpret_cast<const std::uint8_t*>(record.payload.data()), record.payload.size());
        const std::size_t size = r.U16();
        if (r.Overrun() || f.withBlocks.size() >= MaxWithDepth)
            return true; // the block runs in place
        f.withBlocks.push_back({f.pc, std::min(f.pc + size, f.end), f.target});
        if (const auto* clip = std::get_if<ClipRef>(&object); clip && clip->Valid())
            f.target = *clip;
        return true;
    }
    default:
        return false; // anything else is skipped
    }
}

} // namespace flash

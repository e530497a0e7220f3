// Text fields as scripts see them, whether a movie placed them or createTextField made them: their
// properties (text, htmlText, textColor, background, border, autoSize, wordWrap, type, variable,
// maxChars, textWidth, scroll, _x, _width ...), TextField.prototype's methods (setTextFormat,
// getTextFormat, setNewTextFormat, getNewTextFormat, replaceText, replaceSel, removeTextField,
// getDepth) and the TextFormat object. No field takes keys, so restrict and maxChars are only kept
// and read back. A field that has left the stage reads as undefined and ignores what is set.
// Formats live in the field (flash/player/TextFields), not in the heap: a TextFormat is copied in
// and out, so a field keeps no script object alive. Text stays within the interpreter's string limit.
#include "flash/player/avm1/Actions.h"

#include "flash/player/ScriptHost.h"
#include "flash/player/TextFields.h"
#include "flash/player/avm1/Native.h"

#include <algorithm>
#include <cmath>

namespace flash {

namespace {

bool Is(const QString& name, const char* text) {
    return name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0;
}

bool Absent(const ActionValue& value) {
    return std::holds_alternative<std::monostate>(value) || std::holds_alternative<std::nullptr_t>(value);
}

// A field's state, its placement and its scripted part.
struct FieldAccess {
    std::shared_ptr<TextFieldState> field;
    DisplayObject* placement = nullptr;
    ScriptedField* scripted = nullptr;
    std::shared_ptr<ScriptedField> reading; // what a field no script changed shows, read without keeping
    const Movie* movie = nullptr;           // whose fonts measure the field
};

// To change a field, its scripted part is made and kept; to read one, a field no script changed is
// read as it shows, and stays drawn as the movie made it.
FieldAccess Access(ActionInterpreter& vm, const ActionValue& value, bool changing) {
    const auto* ref = std::get_if<TextFieldRef>(&value);
    FieldAccess access;
    access.field = ref ? ref->field.lock() : nullptr;
    if (!access.field)
        return {};
    access.placement = vm.Host().FieldPlacement(*access.field);
    access.movie = vm.Host().PlayedMovie();
    if (changing || access.field->scripted) {
        access.scripted = Scripted(*access.field, access.placement, vm.Host().PlayedMovie());
        return access;
    }
    TextFieldState copy = *access.field;
    if (Scripted(copy, access.placement, vm.Host().PlayedMovie()))
        access.reading = copy.scripted;
    access.scripted = access.reading.get();
    return access;
}

std::optional<double> FiniteNumber(ActionInterpreter& vm, const ActionValue& value) {
    if (Absent(value))
        return std::nullopt;
    const double number = vm.Number(value);
    return std::isfinite(number) ? std::optional(number) : std::nullopt;
}

// --- TextFormat ---

constexpr const char* FormatNames[] = {"font",        "size",          "color",   "bold",        "italic",
                                       "underline",   "url",           "target",  "align",       "leftMargin",
                                       "rightMargin", "indent",        "leading", "blockIndent", "bullet",
                                       "kerning",     "letterSpacing", "tabStops"};

// new TextFormat(font, size, color, bold, italic, underline, url, target, align, leftMargin,
// rightMargin, indent, leading): what is not given is null.
ActionValue TextFormatConstructor(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    if (!call.constructing || !self)
        return {};
    for (std::size_t i = 0; i < std::size(FormatNames); ++i) {
        const ActionValue& given = i < 13 ? call.Arg(i) : ActionValue{};
        call.vm.SetMember(self, QLatin1String(FormatNames[i]),
                          std::holds_alternative<std::monostate>(given) ? ActionValue(nullptr) : given);
    }
    return self;
}

FormatChange ReadFormat(ActionInterpreter& vm, const ActionValue& object) {
    FormatChange change;
    if (!std::holds_alternative<ScriptObject*>(object))
        return change;
    const auto member = [&](const char* name) { return vm.GetMember(object, QLatin1String(name)); };
    const auto number = [&](const char* name) { return FiniteNumber(vm, member(name)); };
    const auto flag = [&](const char* name) -> std::optional<bool> {
        const ActionValue value = member(name);
        return Absent(value) ? std::nullopt : std::optional(ActionBool(value));
    };
    const auto text = [&](const char* name) -> std::optional<QString> {
        const ActionValue value = member(name);
        return Absent(value) ? std::nullopt
                             : std::optional(vm.Text(value).left(ActionInterpreter::MaxString));
    };
    const auto pixels = [&](const char* name, double low) -> std::optional<int> {
        const auto value = number(name);
        return value ? std::optional(int(std::clamp(std::trunc(*value), low, 720.0))) : std::nullopt;
    };
    change.font = text("font");
    change.size = pixels("size", 1);
    if (const auto color = number("color"))
        change.color = std::uint32_t(ActionInt32(*color)) & 0xFFFFFF;
    change.bold = flag("bold");
    change.italic = flag("italic");
    change.underline = flag("underline");
    change.url = text("url");
    change.target = text("target");
    if (const auto align = text("align"))
        change.align = AlignByName(*align);
    change.leftMargin = pixels("leftMargin", 0);
    change.rightMargin = pixels("rightMargin", 0);
    change.indent = pixels("indent", -720);
    change.leading = pixels("leading", -360);
    change.bullet = flag("bullet");
    return change;
}

// A new TextFormat holding the values, null for those unset.
ActionValue MakeFormat(ActionInterpreter& vm, const FormatChange& format) {
    ScriptObject* object = vm.Protos().textFormat ? vm.NewObject() : nullptr;
    if (!object)
        return {};
    object->proto = vm.Protos().textFormat;
    const auto put = [&](const char* name, const auto& value, auto convert) {
        vm.SetMember(object, QLatin1String(name), value ? convert(*value) : ActionValue(nullptr));
    };
    const auto asIs = [](const auto& value) { return ActionValue(value); };
    const auto asNumber = [](auto value) { return ActionValue(double(value)); };
    put("font", format.font, asIs);
    put("size", format.size, asNumber);
    put("color", format.color, asNumber);
    put("bold", format.bold, asIs);
    put("italic", format.italic, asIs);
    put("underline", format.underline, asIs);
    put("url", format.url, asIs);
    put("target", format.target, asIs);
    put("align", format.align, [](EditText::Align align) { return ActionValue(AlignName(align)); });
    put("leftMargin", format.leftMargin, asNumber);
    put("rightMargin", format.rightMargin, asNumber);
    put("indent", format.indent, asNumber);
    put("leading", format.leading, asNumber);
    put("bullet", format.bullet, asIs);
    vm.SetMember(object, QStringLiteral("blockIndent"), 0.0);
    vm.SetMember(object, QStringLiteral("kerning"), false);
    vm.SetMember(object, QStringLiteral("letterSpacing"), 0.0);
    vm.SetMember(object, QStringLiteral("tabStops"), ActionValue(nullptr));
    return object;
}

// --- TextField.prototype ---

// Arguments as numbers, converted before the field is reached: a script's valueOf may take it away.
std::vector<double> Numbers(NativeCall& call, std::size_t count) {
    std::vector<double> numbers;
    for (std::size_t i = 0; i < std::min(count, call.args.size()); ++i)
        numbers.push_back(call.vm.Number(call.args[i]));
    return numbers;
}

// A character position as the methods take it: clamped, NaN as 0.
qsizetype Position(double number, qsizetype length) {
    return std::isnan(number) ? 0 : qsizetype(std::clamp(std::trunc(number), 0.0, double(length)));
}

// setTextFormat(format), (index, format), (begin, end, format).
ActionValue SetTextFormat(NativeCall& call) {
    if (call.args.empty())
        return {};
    const FormatChange change = ReadFormat(call.vm, call.args.back());
    const std::vector<double> numbers = Numbers(call, call.args.size() - 1);
    const FieldAccess at = Access(call.vm, call.self, true);
    if (!at.scripted)
        return {};
    FormattedText& text = at.scripted->text;
    const qsizetype length = text.Length();
    qsizetype begin = 0, end = length;
    if (numbers.size() == 1) {
        begin = Position(numbers[0], length);
        end = begin + 1;
    } else if (numbers.size() >= 2) {
        begin = Position(numbers[0], length);
        end = std::max(begin, Position(numbers[1], length));
    }
    text.Apply(change, begin, end);
    Publish(*at.field, at.placement, at.movie);
    return {};
}

// getTextFormat(), (index), (begin, end).
ActionValue GetTextFormat(NativeCall& call) {
    const std::vector<double> numbers = Numbers(call, 2);
    const FieldAccess at = Access(call.vm, call.self, false);
    if (!at.scripted)
        return {};
    const FormattedText& text = at.scripted->text;
    const qsizetype length = text.Length();
    qsizetype begin = 0, end = length;
    if (numbers.size() == 1) {
        begin = Position(numbers[0], length);
        end = std::min(length, begin + 1);
    } else if (numbers.size() >= 2) {
        begin = Position(numbers[0], length);
        end = std::max(begin, Position(numbers[1], length));
    }
    return MakeFormat(call.vm, text.FormatOf(begin, end, at.scripted->newFormat));
}

ActionValue SetNewTextFormat(NativeCall& call) {
    const FormatChange change = ReadFormat(call.vm, call.Arg(0));
    const FieldAccess at = Access(call.vm, call.self, true);
    if (at.scripted) {
        change.ApplyTo(at.scripted->newFormat, false);
        change.ApplyTo(at.scripted->newFormat, true);
    }
    return {};
}

ActionValue GetNewTextFormat(NativeCall& call) {
    const FieldAccess at = Access(call.vm, call.self, false);
    return at.scripted ? MakeFormat(call.vm, FormatChange::All(at.scripted->newFormat)) : ActionValue{};
}

// replaceText(begin, end, text): the new text takes the format of the first character it replaces.
ActionValue ReplaceText(NativeCall& call) {
    if (call.args.size() < 3)
        return {};
    const std::vector<double> numbers = Numbers(call, 2);
    const QString added = call.vm.Text(call.args[2]).left(ActionInterpreter::MaxString);
    const FieldAccess at = Access(call.vm, call.self, true);
    if (!at.scripted)
        return {};
    FormattedText& text = at.scripted->text;
    const qsizetype length = text.Length();
    const qsizetype begin = Position(numbers[0], length);
    const qsizetype end = std::max(begin, Position(numbers[1], length));
    const CharFormat format = begin < length ? text.FormatAt(begin, at.scripted->newFormat)
                              : begin > 0    ? text.FormatAt(begin - 1, at.scripted->newFormat)
                                             : at.scripted->newFormat;
    text.Replace(begin, end, added, format);
    Publish(*at.field, at.placement, at.movie);
    return {};
}

// replaceSel(text): a field no user typed in has its selection empty at the end of its text, so the
// text is added there, in the format new text takes; it is not read as HTML.
ActionValue ReplaceSel(NativeCall& call) {
    if (call.args.empty())
        return {};
    const QString added = call.vm.Text(call.args[0]).left(ActionInterpreter::MaxString);
    const FieldAccess at = Access(call.vm, call.self, true);
    if (!at.scripted)
        return {};
    FormattedText& text = at.scripted->text;
    text.Replace(text.Length(), text.Length(), added, at.scripted->newFormat);
    Publish(*at.field, at.placement, at.movie);
    return {};
}

ActionValue RemoveTextField(NativeCall& call) {
    if (const auto* ref = std::get_if<TextFieldRef>(&call.self))
        if (const auto field = ref->field.lock())
            call.vm.Host().RemoveField(*field);
    return {};
}

ActionValue GetDepth(NativeCall& call) {
    const FieldAccess at = Access(call.vm, call.self, false);
    return at.placement ? ActionValue(double(int(at.placement->depth) - ScriptHost::ScriptDepthBase))
                        : ActionValue{};
}

ActionValue TextFieldConstructor(NativeCall&) {
    return {};
}

// --- Properties ---

QString AutoSizeName(ScriptedField::AutoSize size) {
    switch (size) {
    case ScriptedField::AutoSize::Left:
        return QStringLiteral("left");
    case ScriptedField::AutoSize::Center:
        return QStringLiteral("center");
    case ScriptedField::AutoSize::Right:
        return QStringLiteral("right");
    case ScriptedField::AutoSize::None:
        break;
    }
    return QStringLiteral("none");
}

double Scale(const Matrix& m, bool vertical) {
    return vertical ? std::hypot(m.c, m.d) : std::hypot(m.a, m.b);
}

std::optional<ActionValue> ReadProperty(const FieldAccess& at, const QString& name) {
    const ScriptedField& f = *at.scripted;
    const DisplayObject* p = at.placement;
    if (Is(name, "text"))
        return f.text.Plain();
    if (Is(name, "htmlText"))
        return f.html ? f.text.Html(f.newFormat) : f.text.Plain();
    if (Is(name, "html"))
        return f.html;
    if (Is(name, "length"))
        return double(f.text.Length());
    if (Is(name, "textColor"))
        return double(f.text.FormatAt(0, f.newFormat).color);
    if (Is(name, "background"))
        return f.background;
    if (Is(name, "backgroundColor"))
        return double(f.backgroundColor);
    if (Is(name, "border"))
        return f.border;
    if (Is(name, "borderColor"))
        return double(f.borderColor);
    if (Is(name, "autoSize"))
        return AutoSizeName(f.autoSize);
    if (Is(name, "wordWrap"))
        return f.look.wordWrap;
    if (Is(name, "multiline"))
        return f.look.multiline;
    if (Is(name, "selectable"))
        return !f.look.noSelect;
    if (Is(name, "embedFonts"))
        return f.look.useOutlines;
    if (Is(name, "password"))
        return f.look.password;
    if (Is(name, "type"))
        return f.look.readOnly ? QStringLiteral("dynamic") : QStringLiteral("input");
    if (Is(name, "variable"))
        return f.look.variableName.isEmpty() ? ActionValue(nullptr) : ActionValue(f.look.variableName);
    if (Is(name, "maxChars"))
        return f.look.maxLength && *f.look.maxLength ? ActionValue(double(*f.look.maxLength))
                                                     : ActionValue(nullptr);
    if (Is(name, "restrict"))
        return f.restrict.isEmpty() ? ActionValue(nullptr) : ActionValue(f.restrict);
    if (Is(name, "textWidth"))
        return TextSize(f, at.movie).width();
    if (Is(name, "textHeight"))
        return TextSize(f, at.movie).height();
    // Scrolling is kept within the text whenever the field changes.
    if (Is(name, "scroll") || Is(name, "hscroll"))
        return double(Is(name, "scroll") ? f.scroll : f.hscroll);
    if (Is(name, "maxscroll") || Is(name, "bottomScroll") || Is(name, "maxhscroll")) {
        const FieldLines lines = LinesOf(f, at.movie);
        if (Is(name, "maxscroll"))
            return double(lines.maxScroll);
        return double(Is(name, "maxhscroll") ? lines.maxHScroll : lines.bottom);
    }
    if (!p)
        return std::nullopt;
    if (Is(name, "_x"))
        return p->matrix.tx / TwipsPerPixel;
    if (Is(name, "_y"))
        return p->matrix.ty / TwipsPerPixel;
    if (Is(name, "_width"))
        return f.look.bounds.Width() / TwipsPerPixel * Scale(p->matrix, false);
    if (Is(name, "_height"))
        return f.look.bounds.Height() / TwipsPerPixel * Scale(p->matrix, true);
    if (Is(name, "_xscale"))
        return Scale(p->matrix, false) * 100;
    if (Is(name, "_yscale"))
        return Scale(p->matrix, true) * 100;
    if (Is(name, "_alpha"))
        return p->colorTransform.aMul * 100;
    if (Is(name, "_visible"))
        return p->visible;
    if (Is(name, "_name"))
        return p->name;
    return std::nullopt;
}

// Sets a property; whether the field's look changed and must be shown anew.
bool WriteProperty(ActionInterpreter& vm, const FieldAccess& at, const QString& name,
                   const ActionValue& value) {
    ScriptedField& f = *at.scripted;
    DisplayObject* p = at.placement;
    const auto pixels = [&]() -> std::optional<double> {
        const auto number = FiniteNumber(vm, value);
        return number ? std::optional(
                            std::clamp(*number, -ScriptHost::MaxPropertyValue, ScriptHost::MaxPropertyValue))
                      : std::nullopt;
    };
    const auto color = [&] { return std::uint32_t(ActionInt32(vm.Number(value))) & 0xFFFFFF; };
    if (Is(name, "text") || Is(name, "htmlText")) {
        const QString text = vm.Text(value).left(ActionInterpreter::MaxString);
        const bool html = Is(name, "htmlText") && f.html;
        if (html)
            f.text.SetHtml(text, f.newFormat);
        else
            f.text.Replace(0, f.text.Length(), text, f.newFormat);
    } else if (Is(name, "html")) {
        f.html = ActionBool(value);
        return false;
    } else if (Is(name, "textColor")) {
        FormatChange change;
        change.color = color();
        f.text.Apply(change, 0, f.text.Length());
        f.newFormat.color = *change.color;
    } else if (Is(name, "background")) {
        f.background = ActionBool(value);
    } else if (Is(name, "backgroundColor")) {
        f.backgroundColor = color();
    } else if (Is(name, "border")) {
        f.border = ActionBool(value);
    } else if (Is(name, "borderColor")) {
        f.borderColor = color();
    } else if (Is(name, "autoSize")) {
        const QString size = std::holds_alternative<bool>(value) ? (std::get<bool>(value) ? "left" : "none")
                                                                 : vm.Text(value).toLower();
        f.autoSize = size == QLatin1String("left")     ? ScriptedField::AutoSize::Left
                     : size == QLatin1String("center") ? ScriptedField::AutoSize::Center
                     : size == QLatin1String("right")  ? ScriptedField::AutoSize::Right
                                                       : ScriptedField::AutoSize::None;
    } else if (Is(name, "wordWrap")) {
        f.look.wordWrap = ActionBool(value);
    } else if (Is(name, "multiline")) {
        f.look.multiline = ActionBool(value);
    } else if (Is(name, "selectable")) {
        f.look.noSelect = !ActionBool(value);
        return false;
    } else if (Is(name, "embedFonts")) {
        f.look.useOutlines = ActionBool(value);
    } else if (Is(name, "password")) {
        f.look.password = ActionBool(value);
    } else if (Is(name, "type")) {
        const QString type = vm.Text(value).toLower();
        if (type == QLatin1String("input") || type == QLatin1String("dynamic"))
            f.look.readOnly = type == QLatin1String("dynamic");
        return false;
    } else if (Is(name, "variable")) {
        f.look.variableName = Absent(value) ? QString() : vm.Text(value).left(ActionInterpreter::MaxString);
        if (!f.look.variableName.isEmpty())
            vm.Host().FieldBound();
        at.field->bound.reset();
    } else if (Is(name, "maxChars")) {
        const auto number = FiniteNumber(vm, value);
        f.look.maxLength =
            number && *number >= 1 ? std::optional(std::uint16_t(std::min(*number, 65535.0))) : std::nullopt;
        return false;
    } else if (Is(name, "restrict")) {
        f.restrict = Absent(value) ? QString() : vm.Text(value).left(ActionInterpreter::MaxString);
        return false;
    } else if (Is(name, "scroll") || Is(name, "hscroll")) {
        // Kept within the text: past the last page or the widest line goes to it; NaN does nothing.
        const auto number = FiniteNumber(vm, value);
        if (!number)
            return false;
        const FieldLines lines = LinesOf(f, at.movie);
        const double wanted = std::trunc(*number);
        if (Is(name, "scroll"))
            f.scroll = int(std::clamp(wanted, 1.0, double(lines.maxScroll)));
        else
            f.hscroll = int(std::clamp(wanted, 0.0, double(lines.maxHScroll)));
    } else if (Is(name, "_width") || Is(name, "_height")) {
        // A field's box changes size; its text keeps its size.
        const auto number = pixels();
        const bool vertical = Is(name, "_height");
        const double scale = p ? Scale(p->matrix, vertical) : 1;
        if (!number || *number < 0 || scale <= 0)
            return false;
        Rect& b = f.look.bounds;
        const std::int32_t twips = std::int32_t(std::lround(*number / scale * TwipsPerPixel));
        (vertical ? b.yMax : b.xMax) = (vertical ? b.yMin : b.xMin) + twips;
    } else {
        return false;
    }
    return true;
}

// Sets a property of the field's placement; false when the name is none of them.
bool WritePlacement(ActionInterpreter& vm, DisplayObject* p, const QString& name, const ActionValue& value) {
    const bool x = Is(name, "_x"), y = Is(name, "_y"), alpha = Is(name, "_alpha"),
               visible = Is(name, "_visible");
    if (!x && !y && !alpha && !visible && !Is(name, "_name"))
        return false;
    if (!p)
        return true;
    const auto number = FiniteNumber(vm, value);
    const double clamped =
        number ? std::clamp(*number, -ScriptHost::MaxPropertyValue, ScriptHost::MaxPropertyValue) : 0;
    if ((x || y) && number)
        (x ? p->matrix.tx : p->matrix.ty) = std::int32_t(std::lround(clamped * TwipsPerPixel));
    else if (alpha && number)
        p->colorTransform.aMul = clamped / 100;
    else if (visible)
        p->visible = ActionBool(value);
    else if (!x && !y && !alpha)
        p->name = vm.Text(value).left(ActionInterpreter::MaxString);
    // The timeline no longer moves or tints it.
    p->scripted = p->scripted || x || y || alpha || visible;
    return true;
}

} // namespace

ActionValue ActionInterpreter::FieldMember(const TextFieldRef& ref, const QString& name,
                                           ScriptObject** owner) {
    const auto field = ref.field.lock();
    if (!field)
        return {};
    // A field no script has formatted gives its text as set, without reading its HTML.
    if (!field->scripted && Is(name, "text")) {
        const DisplayObject* placement = host.FieldPlacement(*field);
        const auto* text =
            placement && placement->character ? std::get_if<EditText>(placement->character.get()) : nullptr;
        if (!text || !text->html)
            return field->content.value_or(field->initialText);
    }
    const FieldAccess at = Access(*this, ActionValue(ref), false);
    if (at.scripted)
        if (auto value = ReadProperty(at, name))
            return *value;
    return protos.textField ? ObjectMember(*protos.textField, name, owner) : ActionValue{};
}

void ActionInterpreter::SetFieldMember(const TextFieldRef& ref, const QString& name,
                                       const ActionValue& given) {
    // Converted before the field is reached: a script's toString or valueOf may take it away.
    ActionValue value = given;
    if (std::holds_alternative<ScriptObject*>(given)) {
        static const char* const Texts[] = {"text",     "htmlText", "autoSize", "type",
                                            "variable", "restrict", "_name"};
        static const char* const Numbers[] = {"textColor", "backgroundColor", "borderColor", "_width",
                                              "_height",   "maxChars",        "_x",          "_y",
                                              "_alpha",    "scroll",          "hscroll"};
        const auto named = [&](const auto& names) {
            return std::any_of(std::begin(names), std::end(names),
                               [&](const char* n) { return Is(name, n); });
        };
        if (named(Texts))
            value = Text(given);
        else if (named(Numbers))
            value = Number(given);
    }
    const auto field = ref.field.lock();
    if (!field)
        return;
    // Text set on a field no script has formatted shows as the field's own settings say.
    if (!field->scripted && (Is(name, "text") || Is(name, "htmlText"))) {
        field->content = ActionText(value).left(MaxString);
        return;
    }
    if (WritePlacement(*this, host.FieldPlacement(*field), name, value))
        return;
    const FieldAccess at = Access(*this, ActionValue(ref), true);
    if (at.scripted && WriteProperty(*this, at, name, value))
        Publish(*at.field, at.placement, at.movie);
}

ActionValue CreateTextField(ActionInterpreter& vm, const ClipRef& clip,
                            const std::vector<ActionValue>& args) {
    if (args.size() < 6)
        return {};
    const auto number = [&](std::size_t i) {
        const double value = vm.Number(args[i]);
        return std::isfinite(value)
                   ? std::clamp(value, -ScriptHost::MaxPropertyValue, ScriptHost::MaxPropertyValue)
                   : 0.0;
    };
    const double depth = vm.Number(args[1]);
    if (!std::isfinite(depth) || depth < -ScriptHost::ScriptDepthBase || depth > 0xFFFF)
        return {};
    const auto field = vm.Host().CreateField(clip, vm.Text(args[0]).left(ActionInterpreter::MaxString),
                                             int(depth), QRectF(number(2), number(3), number(4), number(5)));
    // Flash Player returns the field to movies from version 8 on.
    if (!field || vm.RunningVersion() < 8)
        return {};
    return TextFieldRef{field};
}

void SetUpTextBuiltins(ActionInterpreter& vm) {
    ScriptObject* fieldPrototype = vm.NewObject();
    DefineMethods(vm, fieldPrototype,
                  {{"setTextFormat", SetTextFormat},
                   {"getTextFormat", GetTextFormat},
                   {"setNewTextFormat", SetNewTextFormat},
                   {"getNewTextFormat", GetNewTextFormat},
                   {"replaceText", ReplaceText},
                   {"replaceSel", ReplaceSel},
                   {"removeTextField", RemoveTextField},
                   {"getDepth", GetDepth}});
    vm.Define(vm.Global(), QStringLiteral("TextField"), vm.NewNative(TextFieldConstructor, fieldPrototype));
    ScriptObject* formatPrototype = vm.NewObject();
    vm.Define(vm.Global(), QStringLiteral("TextFormat"),
              vm.NewNative(TextFormatConstructor, formatPrototype));
    vm.Protos().textField = fieldPrototype;
    vm.Protos().textFormat = formatPrototype;
}

} // namespace flash

// The Array built-in: the constructor, push, pop, shift, unshift, slice, splice, concat, join,
// reverse, sort and sortOn with their options, and toString. Arrays stay within MaxArrayLength and
// the heap; work over many elements is paid from the script's steps. Sorting is a merge sort, so
// a comparison function that contradicts itself still ends with every element in place.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <functional>

namespace flash {

namespace {

// Array.sort's options, as Flash numbers them.
enum SortOption : int {
    CaseInsensitive = 1,
    Descending = 2,
    UniqueSort = 4,
    ReturnIndexedArray = 8,
    Numeric = 16,
};

ScriptObject* AsArray(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object && *object && (*object)->kind == ScriptObject::Kind::Array ? *object : nullptr;
}

ActionValue Made(ScriptObject* object) {
    return object ? ActionValue(object) : ActionValue{};
}

// A position given to slice and splice: negative counts from the end; within 0 .. size.
std::size_t Position(const ActionValue& value, std::size_t size, std::size_t absent) {
    if (std::holds_alternative<std::monostate>(value))
        return absent;
    const double number = std::trunc(ActionNumber(value));
    if (std::isnan(number))
        return 0;
    if (number < 0)
        return std::size_t(std::max(0.0, double(size) + number));
    return std::size_t(std::min(number, double(size)));
}

// Adds values at a position, within the length limit and the heap.
bool Insert(ActionInterpreter& vm, ScriptObject& array, std::size_t at,
            const std::vector<ActionValue>& values) {
    if (array.elements.size() + values.size() > ActionInterpreter::MaxArrayLength)
        return false;
    std::size_t cells = 0;
    for (const ActionValue& value : values)
        cells += ObjectHeap::Cells(value);
    if (!vm.Heap().ChargeCells(cells))
        return false;
    vm.PayFor(array.elements.size() - at + values.size());
    array.elements.insert(array.elements.begin() + std::ptrdiff_t(at), values.begin(), values.end());
    return true;
}

std::vector<ActionValue> Take(ActionInterpreter& vm, ScriptObject& array, std::size_t at, std::size_t count) {
    const auto first = array.elements.begin() + std::ptrdiff_t(at);
    std::vector<ActionValue> taken(first, first + std::ptrdiff_t(count));
    for (const ActionValue& value : taken)
        vm.Heap().Release(ObjectHeap::Cells(value));
    vm.PayFor(array.elements.size() - at);
    array.elements.erase(first, first + std::ptrdiff_t(count));
    return taken;
}

ActionValue ArrayConstructor(NativeCall& call) {
    // A single number is a length; anything else is the elements.
    if (call.args.size() == 1 && std::holds_alternative<double>(call.args[0])) {
        const double length = call.vm.Number(call.args[0]);
        if (!(length >= 0 && length <= double(ActionInterpreter::MaxArrayLength)))
            return Made(call.vm.NewArray());
        call.vm.PayFor(std::size_t(length));
        return Made(call.vm.NewArray(std::vector<ActionValue>(std::size_t(length))));
    }
    return Made(call.vm.NewArray(call.args));
}

ActionValue Push(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array)
        return {};
    Insert(call.vm, *array, array->elements.size(), call.args);
    return double(array->elements.size());
}

ActionValue Unshift(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array)
        return {};
    Insert(call.vm, *array, 0, call.args);
    return double(array->elements.size());
}

ActionValue Pop(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array || array->elements.empty())
        return {};
    return Take(call.vm, *array, array->elements.size() - 1, 1).front();
}

ActionValue Shift(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array || array->elements.empty())
        return {};
    return Take(call.vm, *array, 0, 1).front();
}

ActionValue Slice(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array)
        return {};
    const std::size_t size = array->elements.size();
    const std::size_t from = Position(call.Arg(0), size, 0), to = Position(call.Arg(1), size, size);
    if (from >= to)
        return Made(call.vm.NewArray());
    call.vm.PayFor(to - from);
    return Made(call.vm.NewArray(
        {array->elements.begin() + std::ptrdiff_t(from), array->elements.begin() + std::ptrdiff_t(to)}));
}

// splice(start, deleteCount, values...): the elements taken out.
ActionValue Splice(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array || call.args.empty())
        return {};
    const std::size_t size = array->elements.size();
    const std::size_t from = Position(call.Arg(0), size, 0);
    std::size_t count = size - from;
    if (call.args.size() > 1) {
        const double asked = std::trunc(ActionNumber(call.args[1]));
        count = std::isnan(asked) || asked < 0 ? 0 : std::size_t(std::min(asked, double(count)));
    }
    std::vector<ActionValue> removed = Take(call.vm, *array, from, count);
    if (call.args.size() > 2)
        Insert(call.vm, *array, from, {call.args.begin() + 2, call.args.end()});
    return Made(call.vm.NewArray(std::move(removed)));
}

// concat(values...): arrays given add their elements, anything else itself.
ActionValue Concat(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array)
        return {};
    std::vector<ActionValue> joined = array->elements;
    for (const ActionValue& value : call.args) {
        if (const ScriptObject* other = AsArray(value))
            joined.insert(joined.end(), other->elements.begin(), other->elements.end());
        else
            joined.push_back(value);
        if (joined.size() > ActionInterpreter::MaxArrayLength)
            return {};
    }
    call.vm.PayFor(joined.size());
    return Made(call.vm.NewArray(std::move(joined)));
}

QString Join(NativeCall& call, const ScriptObject& array, const QString& separator) {
    QString joined;
    call.vm.PayFor(array.elements.size());
    for (std::size_t i = 0; i < array.elements.size() && joined.size() <= ActionInterpreter::MaxString; ++i) {
        if (i > 0)
            joined += separator;
        const ActionValue& element = array.elements[i];
        joined += std::holds_alternative<std::monostate>(element) ? QStringLiteral("undefined")
                                                                  : call.vm.Text(element);
    }
    return joined.left(ActionInterpreter::MaxString);
}

ActionValue JoinMethod(NativeCall& call) {
    const ScriptObject* array = AsArray(call.self);
    if (!array)
        return {};
    const ActionValue& separator = call.Arg(0);
    return Join(call, *array,
                std::holds_alternative<std::monostate>(separator) ? QStringLiteral(",")
                                                                  : call.vm.Text(separator));
}

ActionValue ToString(NativeCall& call) {
    const ScriptObject* array = AsArray(call.self);
    return array ? ActionValue(Join(call, *array, QStringLiteral(","))) : ActionValue{};
}

ActionValue Reverse(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array)
        return {};
    call.vm.PayFor(array->elements.size());
    std::reverse(array->elements.begin(), array->elements.end());
    return array;
}

// A stable merge sort of positions; any answers of compare leave a permutation.
void MergeSort(std::vector<std::size_t>& items, const std::function<int(std::size_t, std::size_t)>& compare) {
    const std::size_t n = items.size();
    std::vector<std::size_t> merged(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t low = 0; low < n; low += 2 * width) {
            const std::size_t middle = std::min(low + width, n), high = std::min(low + 2 * width, n);
            std::size_t i = low, j = middle, k = low;
            while (i < middle && j < high)
                merged[k++] = compare(items[j], items[i]) < 0 ? items[j++] : items[i++];
            while (i < middle)
                merged[k++] = items[i++];
            while (j < high)
                merged[k++] = items[j++];
        }
        items.swap(merged);
    }
}

int Sign(double number) {
    return number < 0 ? -1 : number > 0 ? 1 : 0;
}

// Sorts by keys per element (one per field for sortOn), or by a script's comparison function.
ActionValue Sort(NativeCall& call, ScriptObject& array, const std::vector<std::vector<ActionValue>>& keys,
                 const ActionValue& function, int options) {
    // The comparison function may change the array: the sort works on a copy.
    const std::vector<ActionValue> items = array.elements;
    const std::size_t n = items.size();
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    std::size_t log = 1;
    while ((std::size_t(1) << log) < n)
        ++log;
    call.vm.PayFor(n * log);
    const bool numeric = options & Numeric, caseless = options & CaseInsensitive;
    const auto compareKeys = [&](const ActionValue& a, const ActionValue& b) {
        if (numeric) {
            const double x = ActionNumber(a), y = ActionNumber(b);
            return std::isnan(x) || std::isnan(y) ? int(std::isnan(x)) - int(std::isnan(y)) : Sign(x - y);
        }
        return Sign(ActionText(a).compare(ActionText(b), caseless ? Qt::CaseInsensitive : Qt::CaseSensitive));
    };
    const auto compare = [&](std::size_t a, std::size_t b) {
        int result = 0;
        if (!keys.empty()) {
            for (std::size_t field = 0; field < keys[a].size() && result == 0; ++field)
                result = compareKeys(keys[a][field], keys[b][field]);
        } else {
            result = Sign(call.vm.Number(call.vm.CallValue(function, ActionValue{}, {items[a], items[b]})));
        }
        return options & Descending ? -result : result;
    };
    MergeSort(order, compare);
    if (options & UniqueSort)
        for (std::size_t i = 1; i < n; ++i)
            if (compare(order[i - 1], order[i]) == 0)
                return 0.0;
    if (options & ReturnIndexedArray) {
        std::vector<ActionValue> indices;
        for (std::size_t index : order)
            indices.push_back(double(index));
        return Made(call.vm.NewArray(std::move(indices)));
    }
    std::vector<ActionValue> sorted;
    sorted.reserve(n);
    for (std::size_t index : order)
        sorted.push_back(items[index]);
    array.elements = std::move(sorted);
    return &array;
}

// sort(), sort(options), sort(compareFunction[, options]).
ActionValue SortMethod(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array)
        return {};
    ActionValue function;
    int options = 0;
    if (auto* const* object = std::get_if<ScriptObject*>(&call.Arg(0));
        object && *object && (*object)->Callable()) {
        function = call.Arg(0);
        options = int(ActionNumber(call.Arg(1)));
    } else if (!call.args.empty()) {
        const double number = ActionNumber(call.Arg(0));
        options = std::isfinite(number) ? int(number) : 0;
    }
    std::vector<std::vector<ActionValue>> keys;
    if (std::holds_alternative<std::monostate>(function))
        for (const ActionValue& element : array->elements)
            keys.push_back({options & Numeric ? ActionValue(call.vm.Number(element))
                                              : ActionValue(std::holds_alternative<std::monostate>(element)
                                                                ? QStringLiteral("undefined")
                                                                : call.vm.Text(element))});
    return Sort(call, *array, keys, function, options);
}

// sortOn(field or [fields], options): elements compared by their fields, the first deciding first.
ActionValue SortOn(NativeCall& call) {
    ScriptObject* array = AsArray(call.self);
    if (!array)
        return {};
    QStringList fields;
    if (const ScriptObject* names = AsArray(call.Arg(0)))
        for (const ActionValue& name : names->elements)
            fields.push_back(ActionText(name));
    else
        fields.push_back(ActionText(call.Arg(0)));
    const double number = ActionNumber(call.Arg(1));
    const int options = std::isfinite(number) ? int(number) : 0;
    std::vector<std::vector<ActionValue>> keys;
    for (const ActionValue& element : array->elements) {
        std::vector<ActionValue>& key = keys.emplace_back();
        for (const QString& field : fields) {
            const ActionValue value = call.vm.GetMember(element, field);
            key.push_back(options & Numeric ? ActionValue(call.vm.Number(value))
                                            : ActionValue(call.vm.Text(value)));
        }
    }
    return Sort(call, *array, keys, ActionValue{}, options);
}

} // namespace

void SetUpArrayBuiltins(ActionInterpreter& vm) {
    ScriptObject* prototype = vm.Protos().array;
    DefineMethods(vm, prototype,
                  {{"push", Push},
                   {"pop", Pop},
                   {"shift", Shift},
                   {"unshift", Unshift},
                   {"slice", Slice},
                   {"splice", Splice},
                   {"concat", Concat},
                   {"join", JoinMethod},
                   {"reverse", Reverse},
                   {"sort", SortMethod},
                   {"sortOn", SortOn},
                   {"toString", ToString}});
    ScriptObject* constructor = vm.NewNative(ArrayConstructor, prototype);
    for (const auto& [name, value] : {std::pair{"CASEINSENSITIVE", CaseInsensitive},
                                      {"DESCENDING", Descending},
                                      {"UNIQUESORT", UniqueSort},
                                      {"RETURNINDEXEDARRAY", ReturnIndexedArray},
                                      {"NUMERIC", Numeric}})
        vm.Define(constructor, QLatin1String(name), double(value), DontEnum | DontDelete | ReadOnly);
    vm.Define(vm.Global(), QStringLiteral("Array"), constructor);
}

} // namespace flash

// Script objects' properties and the heap: allocation within the cell limit, and mark and sweep.
#include "flash/player/avm1/ScriptObject.h"

#include <algorithm>

namespace flash {

const ActionValue* PropertyMap::Find(const QString& name) const {
    const auto found = entries.find(name);
    return found == entries.end() ? nullptr : &found->second.value;
}

const PropertyMap::Entry* PropertyMap::FindEntry(const QString& name) const {
    const auto found = entries.find(name);
    return found == entries.end() ? nullptr : &found->second;
}

bool PropertyMap::Set(const QString& name, ActionValue value, bool* added, std::uint8_t flags) {
    auto [entry, isNew] = entries.try_emplace(name);
    if (added)
        *added = isNew;
    if (isNew) {
        entry->second.order = nextOrder++;
        entry->second.flags = flags;
    } else if (entry->second.flags & ReadOnly) {
        return false;
    }
    entry->second.value = std::move(value);
    return true;
}

bool PropertyMap::Remove(const QString& name) {
    const auto found = entries.find(name);
    if (found == entries.end() || (found->second.flags & DontDelete))
        return false;
    entries.erase(found);
    return true;
}

bool PropertyMap::ChangeFlags(const QString* name, std::uint8_t set, std::uint8_t clear) {
    if (!name) {
        for (auto& [key, entry] : entries)
            entry.flags = std::uint8_t((entry.flags & ~clear) | set);
        return true;
    }
    const auto found = entries.find(*name);
    if (found == entries.end())
        return false;
    found->second.flags = std::uint8_t((found->second.flags & ~clear) | set);
    return true;
}

std::vector<QString> PropertyMap::Names(bool enumerable) const {
    std::vector<std::pair<std::uint64_t, const QString*>> ordered;
    ordered.reserve(entries.size());
    for (const auto& [name, entry] : entries)
        if (!enumerable || !(entry.flags & DontEnum))
            ordered.emplace_back(entry.order, &name);
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<QString> names;
    names.reserve(ordered.size());
    for (const auto& [order, name] : ordered)
        names.push_back(*name);
    return names;
}

std::size_t ObjectHeap::Cells(const ActionValue& value) {
    // A string costs by its length: a cell is about the size of 32 characters.
    if (const auto* text = std::get_if<QString>(&value))
        return 1 + std::size_t(text->size()) / 32;
    return 1;
}

bool ObjectHeap::ChargeCells(std::size_t count) {
    if (cells + count > MaxCells)
        return false;
    cells += count;
    return true;
}

bool ObjectHeap::Charge(const ActionValue& value) {
    return ChargeCells(Cells(value));
}

ScriptObject* ObjectHeap::New(ScriptObject::Kind kind, ScriptObject* proto) {
    if (!ChargeCells(ObjectCells))
        return nullptr;
    auto object = std::make_unique<ScriptObject>();
    object->kind = kind;
    object->proto = proto;
    objects.push_back(std::move(object));
    ++madeSinceCollect;
    return objects.back().get();
}

void ObjectHeap::Collect(const std::function<void(const Mark&)>& markRoots) {
    // An explicit work list: long prototype chains and nested arrays do not deepen the C++ stack.
    std::vector<ScriptObject*> pending;
    const Mark mark = [&pending](const ActionValue& value) {
        if (auto* const* object = std::get_if<ScriptObject*>(&value);
            object && *object && !(*object)->marked) {
            (*object)->marked = true;
            pending.push_back(*object);
        }
    };
    markRoots(mark);
    while (!pending.empty()) {
        ScriptObject* object = pending.back();
        pending.pop_back();
        mark(object->proto);
        mark(object->home);
        mark(object->primitive);
        for (ScriptObject* implemented : object->interfaces)
            mark(implemented);
        for (const ActionValue& element : object->elements)
            mark(element);
        object->properties.ForEachValue(mark);
        for (const Watchpoint& watch : object->watchpoints) {
            mark(watch.callback);
            mark(watch.userData);
        }
    }
    // Sweep, and count what stays exactly.
    cells = 0;
    std::erase_if(objects, [](const std::unique_ptr<ScriptObject>& object) { return !object->marked; });
    for (const auto& object : objects) {
        object->marked = false;
        cells += ObjectCells;
        for (const ActionValue& element : object->elements)
            cells += Cells(element);
        object->properties.ForEachValue([this](const ActionValue& value) { cells += Cells(value) + 1; });
        cells += object->watchpoints.size() * WatchpointCells;
    }
    madeSinceCollect = 0;
}

} // namespace flash

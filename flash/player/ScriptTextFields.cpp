// The script host's text fields: createTextField places a new edit text at a script depth of a clip,
// a field is found on stage by its state (a walk bounded by MaxFindNesting), and removeTextField takes
// away one a script made. A display list takes at most MaxListSize script-made objects.
#include "flash/player/ScriptHost.h"
#include "flash/player/TextFields.h"

#include <cmath>

namespace flash {

namespace {

struct FieldSpot {
    DisplayList* list = nullptr;
    DisplayList::iterator object;
};

std::optional<FieldSpot> FindField(DisplayList& list, const TextFieldState& field, int nesting) {
    if (nesting > MaxFindNesting)
        return std::nullopt;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->second.field.get() == &field)
            return FieldSpot{&list, it};
        DisplayList* inner = it->second.sprite   ? &it->second.sprite->displayList
                             : it->second.button ? &it->second.button->displayList
                                                 : nullptr;
        if (inner)
            if (auto found = FindField(*inner, field, nesting + 1))
                return found;
    }
    return std::nullopt;
}

std::int32_t Twips(double pixels) {
    return std::int32_t(std::lround(
        std::clamp(pixels, -ScriptHost::MaxPropertyValue, ScriptHost::MaxPropertyValue) * TwipsPerPixel));
}

} // namespace

std::shared_ptr<TextFieldState> ScriptHost::CreateField(const ClipRef& clip, const QString& name, int depth,
                                                        const QRectF& box) {
    DisplayList* list = ListOf(clip);
    const int key = depth + ScriptDepthBase;
    if (!list || key < 0 || key > 0xFFFF || (list->size() >= MaxListSize && !list->count(key)))
        return {};
    // A clip too deep for the stage's walks to find gets nothing inside it.
    if (!clip.root && !Placement(clip))
        return {};
    auto field = std::make_shared<TextFieldState>();
    field->scripted = std::make_shared<ScriptedField>();
    EditText& look = field->scripted->look;
    look.bounds = {0, std::max(0, Twips(box.width())), 0, std::max(0, Twips(box.height()))};
    look.readOnly = true; // "dynamic"
    DisplayObject object;
    object.depth = std::uint16_t(key);
    object.name = name;
    object.duplicate = true;
    object.scripted = true;
    object.matrix.tx = Twips(box.x());
    object.matrix.ty = Twips(box.y());
    object.field = field;
    if (const auto existing = list->find(object.depth); existing != list->end())
        control.Leave(existing->second);
    DisplayObject& placed = (*list)[object.depth] = std::move(object);
    Publish(*field, &placed, state.movie.get());
    return field;
}

DisplayObject* ScriptHost::FieldPlacement(const TextFieldState& field) {
    const auto spot = FindField(state.stage, field, 0);
    return spot ? &spot->object->second : nullptr;
}

void ScriptHost::RemoveField(const TextFieldState& field) {
    const auto spot = FindField(state.stage, field, 0);
    if (!spot || !spot->object->second.duplicate)
        return;
    control.Leave(spot->object->second);
    spot->list->erase(spot->object);
}

} // namespace flash

// The interpreter's timeline control and jumps: frames, targets, with blocks and branches.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Activation.h"
#include "flash/swf/TextEncoding.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace flash {

namespace {

// A frame number from a pushed value: numbers count from 1, wrapping as 32-bit integers do, and a
// frame before the first is no frame; strings are labels or numbers.
std::optional<int> FrameIndex(double number) {
    const std::int32_t index = std::int32_t(std::uint32_t(ActionInt32(number)) - 1);
    if (index < 0)
        return std::nullopt;
    return index;
}

} // namespace

void ActionInterpreter::MoveFrame(const ClipRef& clip, int delta) {
    if (clip.Valid())
        host.GotoFrame(clip, std::max(host.CurrentFrame(clip) + delta, 0), false);
}

void ActionInterpreter::SetPlaying(const ClipRef& clip, bool playing) {
    if (clip.Valid())
        host.SetPlaying(clip, playing);
}

void ActionInterpreter::GotoFrame(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const int frame = r.U16();
    // A frame past the end is no frame to this form.
    if (!r.Overrun() && act.target.Valid() && frame < host.FrameCount(act.target))
        host.GotoFrame(act.target, frame, std::nullopt);
}

void ActionInterpreter::GotoLabel(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const QString label = DecodeText(r.CString(), act.version);
    if (!r.Overrun() && act.target.Valid())
        if (const int frame = host.LabelFrame(act.target, label); frame >= 0)
            host.GotoFrame(act.target, frame, std::nullopt);
}

void ActionInterpreter::GotoFrame2(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const std::uint8_t flags = r.U8();
    const int bias = (flags & 0x02) ? r.U16() : 0;
    GotoValue(act, act.target, Pop(act), flags & 0x01, r.Overrun() ? 0 : bias);
}

void ActionInterpreter::GotoValue(Activation& act, const ClipRef& clip, const ActionValue& frame, bool play,
                                  int bias) {
    ClipRef where = clip;
    std::optional<int> index;
    // Numbers (and what converts like them) count frames; anything else is read as its text.
    const bool numeric = std::holds_alternative<double>(frame) || std::holds_alternative<bool>(frame) ||
                         std::holds_alternative<std::monostate>(frame) ||
                         std::holds_alternative<std::nullptr_t>(frame);
    if (!numeric) {
        QString label = Text(frame); // an object names its frame through its own toString
        // "path:frame" names a frame of another clip.
        if (const qsizetype colon = label.lastIndexOf(u':'); colon >= 0) {
            where = Resolve(act.target, label.left(colon));
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
    host.GotoFrame(where, int(std::min<long long>(*index + bias, INT_MAX)), play);
}

void ActionInterpreter::SetTarget(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    SetTargetPath(act, DecodeText(r.CString(), act.version));
}

void ActionInterpreter::SetTarget2(Activation& act) {
    const ActionValue value = Pop(act);
    if (const auto* clip = std::get_if<ClipRef>(&value))
        act.target = *clip;
    else
        SetTargetPath(act, ActionText(value));
}

void ActionInterpreter::SetTargetPath(Activation& act, const QString& path) {
    act.target = path.isEmpty() ? act.home : Resolve(act.home, path);
}

void ActionInterpreter::Branch(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const std::int16_t offset = r.S16();
    if (r.Overrun())
        return;
    if (record.code == action::If && !ActionBool(Pop(act)))
        return;
    const long long to = static_cast<long long>(record.next) + offset;
    if (to < static_cast<long long>(act.begin) || to > static_cast<long long>(act.end))
        act.done = true;
    else
        act.pc = std::size_t(to);
}

// Its block acts on the clip given; past MaxWithDepth the block runs in place.
void ActionInterpreter::With(Activation& act, const ActionRecord& record) {
    const ActionValue object = Pop(act);
    BitReader r = record.Fields();
    const std::size_t size = r.U16();
    if (r.Overrun() || act.withBlocks.size() >= MaxWithDepth)
        return;
    act.withBlocks.push_back({act.pc, std::min(act.pc + size, act.end), act.target});
    if (const auto* clip = std::get_if<ClipRef>(&object); clip && clip->Valid())
        act.target = *clip;
}

} // namespace flash

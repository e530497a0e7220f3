#include "flash/swf/ActionRecords.h"

namespace flash {

std::optional<ActionRecord> DecodeAction(const QByteArray& code, std::size_t offset) {
    if (offset >= std::size_t(code.size()))
        return std::nullopt;
    BitReader r(reinterpret_cast<const std::uint8_t*>(code.constData()) + offset, code.size() - offset);
    ActionRecord record;
    record.code = action::Code(r.U8());
    record.offset = offset;
    if (action::HasPayload(record.code)) {
        const std::size_t length = r.U16();
        const std::uint8_t* start = r.Current();
        r.Skip(length);
        if (r.Overrun())
            return std::nullopt;
        record.payload = QByteArrayView(start, qsizetype(length));
    }
    record.next = offset + r.Position();
    return record;
}

std::vector<ActionRecord> ParseActions(const QByteArray& code) {
    std::vector<ActionRecord> records;
    std::size_t offset = 0;
    while (const auto record = DecodeAction(code, offset)) {
        if (record->code == action::End)
            break;
        offset = record->next;
        records.push_back(*record);
    }
    return records;
}

} // namespace flash

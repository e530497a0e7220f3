#pragma once
// Action records as scripts store them (DoAction, DoInitAction, button and clip actions): each a code
// and, for codes from 0x80 on, a payload with its 16-bit length. Decoding never reads past the code
// given: a record whose length runs past the end is damage, and decoding stops there. Payloads are
// views into the code decoded, which must outlive them.

#include "flash/swf/ActionCodes.h"
#include "flash/swf/BitReader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <cstddef>
#include <optional>
#include <vector>

namespace flash {

struct ActionRecord {
    action::Code code = action::End;
    std::size_t offset = 0; // of the record's code byte
    std::size_t next = 0;   // offset of the record after it
    QByteArrayView payload; // empty for codes without one

    // A reader over the payload, for the record's fields.
    BitReader Fields() const {
        return BitReader(reinterpret_cast<const std::uint8_t*>(payload.data()), std::size_t(payload.size()));
    }
};

// The record at offset, or nothing when the offset or the record runs past the end of the code.
std::optional<ActionRecord> DecodeAction(const QByteArray& code, std::size_t offset);
// The records in order up to ActionEnd, the end of the code, or the first damaged record.
std::vector<ActionRecord> ParseActions(const QByteArray& code);

} // namespace flash

#pragma once
// Reads ActionScript 3 code blocks (the ABC format of DoABC and DoABCDefine) and SymbolClass tags
// into plain values (AbcModel.h).
//
// A block is read whole or not at all: every count and length is checked against the bytes left,
// every index against the list it names, and a block that fails any check gives an error (one
// line naming what was damaged) and no model. Lists hold at most MaxEntries entries, so a block's
// model stays within a small multiple of its size; strings are UTF-8 as the format stores them.

#include "flash/swf/AbcModel.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>

namespace flash::abc {

// Far past what compilers emit (a large movie has a few thousand methods and strings); one entry
// takes at least a byte, so this bounds a damaged block's lists before the bytes run out.
constexpr std::size_t MaxEntries = std::size_t(1) << 20;

struct AbcReadResult {
    std::optional<AbcFile> file; // none when damaged
    QString error;
};

// The ABC data alone (DoABCDefine's body).
AbcReadResult ReadAbc(const QByteArray& data);
// DoABC's body: flags (bit 0: lazy initialise), a name, then the ABC data.
AbcReadResult ReadDoAbc(const QByteArray& body);

// SymbolClass: the class bound to each character id (0: the document class). False when damaged;
// what came whole before the damage is kept. The first binding of an id counts.
bool ReadSymbolClass(const QByteArray& body, std::map<std::uint16_t, QString>& classes);

} // namespace flash::abc

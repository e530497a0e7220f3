#pragma once
// Reads PlaceObject3's filter lists.
//
// Limits: at most MaxFilters filters per object are kept; blur sizes are capped at 255 pixels and
// passes at 15 as Flash does; offsets at MaxGrowth pixels; convolution matrices past 15 x 15 are read
// but kept empty.

#include "flash/swf/SwfModel.h"

#include <QByteArray>

namespace flash {

class BitReader;

// Reads a filter list (count byte and records) at r. False when a record has an unknown kind or runs
// past the end: the list's length is then unknown. `filters` holds the records read before.
bool ReadFilters(BitReader& r, FilterList& filters);

// The same from bytes holding a list; filters after a damaged record are dropped.
FilterList ReadFilters(const QByteArray& bytes);

} // namespace flash

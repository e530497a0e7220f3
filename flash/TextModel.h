#pragma once
// Included by flash/SwfModel.h, whose types it uses; include that header, not this one.
// Fonts and text characters: DefineFont 1-3 with their glyph shapes and layout, static text
// (DefineText 1 and 2) and edit text (DefineEditText).

namespace flash {

struct Font {};
struct StaticText {};
struct EditText {};

} // namespace flash

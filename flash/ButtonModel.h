#pragma once
// Included by flash/SwfModel.h, whose types it uses; include that header, not this one.
// Buttons (DefineButton 1 and 2): the characters of each state and the actions of each transition.

namespace flash {

struct Button {};

} // namespace flash

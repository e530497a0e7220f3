#pragma once
// Sound scopes for the player and its scripts: every timeline's sounds play in the scope of its clip
// and in those of the clips around it, up to the main timeline's; the levels scripts set on a scope
// (volume, pan, transform) reach the mix for what plays in it now and later. A scope ends with its
// clip. Finding a clip's scopes walks the stage once, MaxFindNesting levels deep at most.

#include "flash/player/TimelineState.h"

#include <cstdint>
#include <vector>

namespace flash {

struct SoundLevels;

// The main timeline's scope; a sprite's is its number of creation (from 1).
constexpr std::uint64_t RootSoundScope = 0;

// The scopes a timeline's sounds play in, its own first; sprite null is the main timeline.
std::vector<std::uint64_t> SoundScopeChain(const DisplayList& stage, const SpriteInstance* sprite);
// The mix levels of what scripts set.
SoundLevels LevelsOf(const ActionHost::SoundSettings& settings);
// A sprite leaving the stage takes its scope's settings with it.
void ForgetSoundScope(TimelineState& state, const SpriteInstance& sprite);

} // namespace flash

#pragma once
// What is on stage at one moment: the characters placed at each depth of a timeline, with their
// placement, and for sprites their own timeline's state. The timeline (Player) builds it; the
// renderer draws it.

#include "flash/SwfModel.h"

#include <map>
#include <memory>

namespace flash {

struct SpriteInstance;

struct DisplayObject {
    std::uint16_t depth = 0;
    std::uint16_t characterId = 0;
    std::shared_ptr<const Character> character;
    Matrix matrix;
    ColorTransform colorTransform;
    std::uint16_t ratio = 0; // morph shapes: 0 start .. 65535 end
    QString name;
    std::uint16_t clipDepth = 0; // non-zero: a mask for the depths above it up to clipDepth
    std::uint8_t blendMode = 0;  // 0 or 1 normal
    bool visible = true;
    std::shared_ptr<SpriteInstance> sprite; // set when the character is a sprite
};

// By depth, drawn from the lowest depth up.
using DisplayList = std::map<std::uint16_t, DisplayObject>;

struct SpriteInstance {
    const Sprite* sprite = nullptr;
    int currentFrame = -1; // zero-based; -1 before the first frame was entered
    bool playing = true;
    DisplayList displayList;
};

} // namespace flash

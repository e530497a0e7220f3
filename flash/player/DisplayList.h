#pragma once
// What is on stage at one moment: the characters placed at each depth of a timeline, with their
// placement, and for sprites their own timeline's state. The timeline (Player) builds it; the
// renderer draws it.

#include "flash/swf/SwfModel.h"

#include <map>
#include <memory>
#include <vector>

namespace flash {

struct SpriteInstance;
struct ButtonInstance;
class Drawing;
class ScriptBitmap;
struct ShownBitmap;   // flash/player/ScriptBitmap.h
struct ScriptedField; // flash/player/TextFields.h

// What an edit text shows when scripts have set it, directly (field.text) or through its variable.
struct TextFieldState {
    QString initialText;
    std::optional<QString> content; // none: the initial text
    std::optional<QString> bound;   // the variable's value last shown
    // Set once a script made the field, formatted it or changed its look: then its placement shows
    // an edit text made from this, and content is that text's HTML.
    std::shared_ptr<ScriptedField> scripted;
};

struct DisplayObject {
    std::uint16_t depth = 0;
    std::uint16_t characterId = 0;
    std::shared_ptr<const Character> character;
    Matrix matrix;
    ColorTransform colorTransform;
    std::uint16_t ratio = 0; // morph shapes: 0 start .. 65535 end
    QString name;
    std::uint16_t clipDepth = 0;               // non-zero: a mask for the depths above it up to clipDepth
    std::uint8_t blendMode = 0;                // 0 or 1 normal
    std::shared_ptr<const FilterList> filters; // PlaceObject3 filters; null or empty for none
    bool visible = true;
    bool scripted = false;  // a script set its placement: the timeline no longer moves or tints it
    bool duplicate = false; // made by duplicateMovieClip or attachMovie: a script may remove it
    // The frame of its timeline whose tag created it; a goto keeps an object only where the frame
    // reached has the same character from the same tag. -1 for what scripts made.
    int placedFrame = -1;
    std::shared_ptr<SpriteInstance> sprite; // set when the character is a sprite
    std::shared_ptr<ButtonInstance> button; // set when the character is a button
    // A sprite's event handlers, in the movie's placement tag (the player keeps the movie); or null.
    const std::vector<ClipAction>* clipActions = nullptr;
    std::shared_ptr<TextFieldState> field; // set when the character is edit text
    // Set on the entry holding what scripts drew in the clip; its character is the drawing as last
    // published.
    std::shared_ptr<Drawing> drawing;
    // The drawing's bitmap fills paint these bitmaps, by their fills' bitmapId.
    std::vector<std::shared_ptr<const ScriptBitmap>> fillBitmaps;
    // Set on an entry attachBitmap placed: the bitmap it shows, in place of a character.
    std::shared_ptr<const ShownBitmap> bitmap;
    // A script set cacheAsBitmap: the object is drawn on whole device pixels.
    bool cacheAsBitmap = false;
};

// By depth, drawn from the lowest depth up.
using DisplayList = std::map<std::uint16_t, DisplayObject>;

// Shared, so that a script can hold on to a sprite and find it gone.
struct SpriteInstance : std::enable_shared_from_this<SpriteInstance> {
    const Sprite* sprite = nullptr;
    std::uint64_t born = 0; // order of creation: clips made later run their enterFrame first
    bool gone = false;      // left the stage: only its unload handlers still run
    int currentFrame = -1;  // zero-based; -1 before the first frame was entered
    bool playing = true;
    DisplayList displayList;
};

struct ButtonInstance {
    const Button* button = nullptr;
    std::uint8_t state = ButtonRecord::Up; // the one state shown: Up, Over or Down
    DisplayList displayList;               // the characters of that state
};

} // namespace flash

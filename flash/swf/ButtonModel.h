#pragma once
// Included by flash/SwfModel.h, whose types it uses; include that header, not this one.
// Buttons (DefineButton 1 and 2): the characters of each state, the actions of each transition, and
// the sounds and colour transform that DefineButtonSound and DefineButtonCxform add.

namespace flash {

struct ButtonRecord {
    enum StateFlag : std::uint8_t { Up = 0x01, Over = 0x02, Down = 0x04, HitTest = 0x08 };
    std::uint8_t states = 0; // StateFlag bits
    std::uint16_t characterId = 0;
    std::uint16_t depth = 0;
    Matrix matrix;
    ColorTransform colorTransform; // DefineButton2, or DefineButtonCxform for a DefineButton
};

// The transitions that run a list of actions, as the low bits of a DefineButton2 condition field.
enum ButtonCondition : std::uint16_t {
    IdleToOverUp = 0x0001,
    OverUpToIdle = 0x0002,
    OverUpToOverDown = 0x0004, // press
    OverDownToOverUp = 0x0008, // release inside
    OverDownToOutDown = 0x0010,
    OutDownToOverDown = 0x0020,
    OutDownToIdle = 0x0040, // release outside
    IdleToOverDown = 0x0080,
    OverDownToIdle = 0x0100,
};

struct ButtonAction {
    std::uint16_t conditions = 0; // ButtonCondition bits; bits 9..15 hold a key code
    QByteArray actions;           // action records up to and including ActionEnd
};

// An event sound a transition starts, as a StartSound tag would start it.
struct ButtonSound {
    std::uint16_t transition = 0; // one of IdleToOverUp, OverUpToIdle, OverUpToOverDown, OverDownToOverUp
    std::uint16_t soundId = 0;
    SoundInfo info;
    bool operator==(const ButtonSound&) const = default;
};

struct Button {
    int version = 1; // 1 DefineButton, 2 DefineButton2
    std::vector<ButtonRecord> records;
    std::vector<ButtonAction> actions; // DefineButton: one list, run on release inside
    std::vector<ButtonSound> sounds;   // DefineButtonSound; transitions without a sound are left out
    bool trackAsMenu = false;
};

} // namespace flash

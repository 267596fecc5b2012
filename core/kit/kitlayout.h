// The keyboard layout of a drum kit by role: the built-in demo kit is laid
// out by it, and imported kits are mapped onto it. Plain C++ (no Qt), so the
// kit generator shares it.
#pragma once

#include <cstdint>

namespace rimbal {

enum class DrumRole : std::uint8_t {
    None,
    Kick,
    Snare,
    Rim,
    Clap,
    HatClosed,
    HatPedal,
    HatOpen,
    TomHigh,
    TomMid,
    TomLow,
    Crash,
    Ride,
    RideBell,
    Cowbell,
    Tambourine,
    Shaker,
};

// One key of the layout: the role it plays and, for an open hi-hat, the role
// whose key silences it.
struct LayoutKey {
    std::uint16_t key;  // Windows virtual-key code
    DrumRole role;
    DrumRole stopRole = DrumRole::None;
};

inline constexpr std::uint16_t kVkSpace = 0x20, kVkSemicolon = 0xBA, kVkComma = 0xBC, kVkPeriod = 0xBE,
                               kVkSlash = 0xBF;

// In key list order. A press ends at the first line that plays, so the lines
// that a key silences come before the line that key plays. Within a role the
// first key is the main one.
inline constexpr LayoutKey kKitLayout[] = {
    {'Q', DrumRole::HatOpen, DrumRole::HatClosed},
    {'W', DrumRole::HatOpen, DrumRole::HatPedal},
    {'A', DrumRole::HatClosed},
    {'Z', DrumRole::HatPedal},
    {kVkSpace, DrumRole::Kick},
    {'B', DrumRole::Kick},
    {'F', DrumRole::Snare},
    {'J', DrumRole::Snare},
    {'D', DrumRole::Snare},
    {'K', DrumRole::Snare},
    {'S', DrumRole::Rim},
    {'L', DrumRole::Rim},
    {'G', DrumRole::Clap},
    {'H', DrumRole::Clap},
    {'U', DrumRole::TomHigh},
    {'I', DrumRole::TomMid},
    {'O', DrumRole::TomLow},
    {'P', DrumRole::Crash},
    {kVkPeriod, DrumRole::Crash},
    {'M', DrumRole::Ride},
    {kVkSlash, DrumRole::Ride},
    {kVkComma, DrumRole::RideBell},
    {'N', DrumRole::Cowbell},
    {'E', DrumRole::Tambourine},
    {'R', DrumRole::Shaker},
};

// Keys the layout leaves free, in the order other instruments take them:
// the letters between the hands first, then the number row, the remaining
// punctuation and the keypad.
inline constexpr std::uint16_t kSpareKeys[] = {
    'Y',  'T',  'X',  'C',  'V',  kVkSemicolon, '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8',  '9',  '0',
    0xDE, 0xDB, 0xDD, 0xDC, 0xBD, 0xBB,         0xC0, 0x67, 0x68, 0x69, 0x64, 0x65, 0x66, 0x61, 0x62, 0x63,
    0x60, 0x6E, 0x6F, 0x6A, 0x6D, 0x6B,
};

}  // namespace rimbal

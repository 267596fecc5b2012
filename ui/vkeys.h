// Translation of a key event to the Windows virtual-key code of the same
// physical key, the code that key lists and sequences store.
#pragma once

#include <cstdint>

class QKeyEvent;

namespace rimbal {

// From the X11/evdev scan code where the platform reports one, else from the Qt key.
std::uint16_t VirtualKeyOf(const QKeyEvent& event);
std::uint16_t VirtualKeyFromScanCode(unsigned nativeScanCode);
std::uint16_t VirtualKeyFromQtKey(int qtKey, bool keypad);

}  // namespace rimbal

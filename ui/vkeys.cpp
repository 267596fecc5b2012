// Translating Qt key events to Windows virtual-key codes of the same physical
// key.
#include "vkeys.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <array>

namespace rimbal {

std::uint16_t VirtualKeyFromScanCode(unsigned code) {
    // X11 keycodes are evdev codes + 8; this is the US layout's physical map.
    static const std::array<std::uint16_t, 136> kEvdev = [] {
        std::array<std::uint16_t, 136> t{};
        const char* row1 = "1234567890";
        for (int i = 0; i < 10; ++i) t[static_cast<std::size_t>(2 + i)] = static_cast<std::uint16_t>(row1[i]);
        const char* q = "QWERTYUIOP";
        for (int i = 0; i < 10; ++i) t[static_cast<std::size_t>(16 + i)] = static_cast<std::uint16_t>(q[i]);
        const char* a = "ASDFGHJKL";
        for (int i = 0; i < 9; ++i) t[static_cast<std::size_t>(30 + i)] = static_cast<std::uint16_t>(a[i]);
        const char* z = "ZXCVBNM";
        for (int i = 0; i < 7; ++i) t[static_cast<std::size_t>(44 + i)] = static_cast<std::uint16_t>(z[i]);
        struct P { int evdev; std::uint16_t vk; };
        const P pairs[] = {
            {1, 0x1B},   {12, 0xBD},  {13, 0xBB},  {14, 0x08},  {15, 0x09},  {26, 0xDB},  {27, 0xDD},
            {28, 0x0D},  {29, 0x11},  {39, 0xBA},  {40, 0xDE},  {41, 0xC0},  {42, 0x10},  {43, 0xDC},
            {51, 0xBC},  {52, 0xBE},  {53, 0xBF},  {54, 0x10},  {55, 0x6A},  {56, 0x12},  {57, 0x20},
            {58, 0x14},  {59, 0x70},  {60, 0x71},  {61, 0x72},  {62, 0x73},  {63, 0x74},  {64, 0x75},
            {65, 0x76},  {66, 0x77},  {67, 0x78},  {68, 0x79},  {69, 0x90},  {70, 0x91},  {71, 0x67},
            {72, 0x68},  {73, 0x69},  {74, 0x6D},  {75, 0x64},  {76, 0x65},  {77, 0x66},  {78, 0x6B},
            {79, 0x61},  {80, 0x62},  {81, 0x63},  {82, 0x60},  {83, 0x6E},  {86, 0xE2},  {87, 0x7A},
            {88, 0x7B},  {96, 0x0D},  {97, 0x11},  {98, 0x6F},  {99, 0x2C},  {100, 0x12}, {102, 0x24},
            {103, 0x26}, {104, 0x21}, {105, 0x25}, {106, 0x27}, {107, 0x23}, {108, 0x28}, {109, 0x22},
            {110, 0x2D}, {111, 0x2E}, {119, 0x13}, {121, 0x6C}, {125, 0x5B}, {126, 0x5C}, {127, 0x5D},
        };
        for (const P& p : pairs) t[static_cast<std::size_t>(p.evdev)] = p.vk;
        return t;
    }();
    if (code < 8 || code - 8 >= kEvdev.size()) return 0;
    return kEvdev[code - 8];
}

std::uint16_t VirtualKeyFromQtKey(int key, bool keypad) {
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<std::uint16_t>(0x60 + (key - Qt::Key_0));
        switch (key) {
        case Qt::Key_Asterisk: return 0x6A;
        case Qt::Key_Plus: return 0x6B;
        case Qt::Key_Minus: return 0x6D;
        case Qt::Key_Period: case Qt::Key_Comma: return 0x6E;
        case Qt::Key_Slash: return 0x6F;
        case Qt::Key_Enter: return 0x0D;
        // Num Lock off: the keypad gives the editing keys, as on Windows.
        case Qt::Key_Clear: return 0x0C;
        default: break;
        }
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<std::uint16_t>('A' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<std::uint16_t>('0' + (key - Qt::Key_0));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<std::uint16_t>(0x70 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return: case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: case Qt::Key_AltGr: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Meta: case Qt::Key_Super_L: return 0x5B;
    case Qt::Key_Super_R: return 0x5C;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    // US layout punctuation, shifted or not.
    case Qt::Key_Semicolon: case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal: case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma: case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus: case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period: case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash: case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash: case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return 0xDE;
    default: return 0;
    }
}

std::uint16_t VirtualKeyOf(const QKeyEvent& event) {
    // The keypad's meaning depends on Num Lock, which the Qt key reflects.
    if (QGuiApplication::platformName() == QLatin1String("xcb") && !(event.modifiers() & Qt::KeypadModifier)) {
        if (const std::uint16_t vk = VirtualKeyFromScanCode(event.nativeScanCode())) return vk;
    }
    return VirtualKeyFromQtKey(event.key(), event.modifiers() & Qt::KeypadModifier);
}

}  // namespace rimbal

// GDI+ colours: one 32-bit ARGB value (alpha in the high byte, blue in the
// low byte). A COLORREF keeps red in its low byte, so COLORREF values must go
// through FromCOLORREF / SetFromCOLORREF rather than the ARGB constructor.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>

#include "morvik/win32/windows.h"

namespace Gdiplus {

using ARGB = DWORD;

class MORVIK_API Color {
public:
    enum : ARGB {
        Transparent = 0x00FFFFFFu,
        Black = 0xFF000000u,
        White = 0xFFFFFFFFu,
        Red = 0xFFFF0000u,
        Green = 0xFF008000u,
        Lime = 0xFF00FF00u,
        Blue = 0xFF0000FFu,
        Yellow = 0xFFFFFF00u,
        Gray = 0xFF808080u,
        LightGray = 0xFFD3D3D3u,
        DarkGray = 0xFFA9A9A9u,
    };
    enum : int {
        AlphaShift = 24,
        RedShift = 16,
        GreenShift = 8,
        BlueShift = 0,
    };
    enum : ARGB {
        AlphaMask = 0xFF000000u,
        RedMask = 0x00FF0000u,
        GreenMask = 0x0000FF00u,
        BlueMask = 0x000000FFu,
    };

    // Opaque black, as in GDI+.
    constexpr Color() : m_argb(Black) {}
    constexpr Color(BYTE r, BYTE g, BYTE b) : m_argb(MakeARGB(255, r, g, b)) {}
    constexpr Color(BYTE a, BYTE r, BYTE g, BYTE b) : m_argb(MakeARGB(a, r, g, b)) {}
    constexpr explicit Color(ARGB argb) : m_argb(argb) {}

    static constexpr ARGB MakeARGB(BYTE a, BYTE r, BYTE g, BYTE b) {
        return (static_cast<ARGB>(a) << AlphaShift) | (static_cast<ARGB>(r) << RedShift) |
               (static_cast<ARGB>(g) << GreenShift) | (static_cast<ARGB>(b) << BlueShift);
    }
    // An opaque colour from a COLORREF (red in the low byte); the COLORREF's
    // high byte is ignored.
    static constexpr Color FromCOLORREF(COLORREF rgb) {
        return Color(255, static_cast<BYTE>(rgb & 0xFF), static_cast<BYTE>((rgb >> 8) & 0xFF),
                     static_cast<BYTE>((rgb >> 16) & 0xFF));
    }

    constexpr BYTE GetA() const { return static_cast<BYTE>(m_argb >> AlphaShift); }
    constexpr BYTE GetR() const { return static_cast<BYTE>(m_argb >> RedShift); }
    constexpr BYTE GetG() const { return static_cast<BYTE>(m_argb >> GreenShift); }
    constexpr BYTE GetB() const { return static_cast<BYTE>(m_argb >> BlueShift); }
    constexpr BYTE GetAlpha() const { return GetA(); }
    constexpr BYTE GetRed() const { return GetR(); }
    constexpr BYTE GetGreen() const { return GetG(); }
    constexpr BYTE GetBlue() const { return GetB(); }
    constexpr ARGB GetValue() const { return m_argb; }
    void SetValue(ARGB argb) { m_argb = argb; }
    void SetFromCOLORREF(COLORREF rgb) { m_argb = FromCOLORREF(rgb).m_argb; }
    // The colour as a COLORREF; alpha is dropped.
    constexpr COLORREF ToCOLORREF() const { return RGB(GetR(), GetG(), GetB()); }

    constexpr bool operator==(const Color& o) const { return m_argb == o.m_argb; }
    constexpr bool operator!=(const Color& o) const { return m_argb != o.m_argb; }

private:
    ARGB m_argb;
};

}  // namespace Gdiplus

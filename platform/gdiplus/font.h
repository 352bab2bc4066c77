// GDI+ fonts: families of installed outline fonts, fonts of a family at a
// size and style, and the string formats that GraphicsPath::AddString lays
// text out with.
//
// A family is found by its name as installed, case-insensitively; a name
// that no installed font carries gives an unavailable family whose status is
// FontFamilyNotFound (no other family is substituted). A family can give a
// bold or italic style it lacks by synthesis (bold widened, italic slanted),
// but not a regular or upright style when it has only bold or slanted
// faces: that style is FontStyleNotFound.
//
// Families, fonts and formats are small values; copies are independent. All
// of them may be used from several threads at once.
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <memory>

#include "morvik/gdiplus/bitmap.h"
#include "morvik/gdiplus/gdiplus_types.h"

namespace Gdiplus {

namespace fonts {
struct Family;
}

class FontCollection;

constexpr int LF_FACESIZE = 32;

enum FontStyle {
    FontStyleRegular = 0,
    FontStyleBold = 1,
    FontStyleItalic = 2,
    FontStyleBoldItalic = 3,
    // Accepted and kept, but AddString draws no underline or strikeout.
    FontStyleUnderline = 4,
    FontStyleStrikeout = 8,
};

class MORVIK_API FontFamily {
public:
    // An unavailable family.
    FontFamily();
    explicit FontFamily(const WCHAR* name, const FontCollection* fontCollection = nullptr);
    FontFamily(const FontFamily& other);
    FontFamily& operator=(const FontFamily& other);
    ~FontFamily();

    FontFamily* Clone() const;
    BOOL IsAvailable() const;
    BOOL IsStyleAvailable(INT style) const;
    // The family's name as installed; empty for an unavailable family.
    Status GetFamilyName(WCHAR name[LF_FACESIZE], WORD language = 0) const;
    // Design metrics of the face of that style, in font units: the em, the
    // cell above and below the baseline, and the distance between lines.
    // 0 when the family or style is not available.
    uint16_t GetEmHeight(INT style) const;
    uint16_t GetCellAscent(INT style) const;
    uint16_t GetCellDescent(INT style) const;
    uint16_t GetLineSpacing(INT style) const;
    // The status of construction or of the last failing call, then Ok.
    Status GetLastStatus() const;

private:
    friend class Font;
    friend class GraphicsPath;
    std::shared_ptr<const fonts::Family> m_family;
    mutable Status m_lastStatus = FontFamilyNotFound;
};

class MORVIK_API Font {
public:
    Font(const FontFamily* family, REAL emSize, INT style = FontStyleRegular, Unit unit = UnitPoint);
    Font(const WCHAR* familyName, REAL emSize, INT style = FontStyleRegular, Unit unit = UnitPoint,
         const FontCollection* fontCollection = nullptr);

    Font* Clone() const;
    // Available when the family is installed, it has the style and the size
    // is a positive finite number.
    BOOL IsAvailable() const;
    Status GetFamily(FontFamily* family) const;
    REAL GetSize() const { return m_size; }
    INT GetStyle() const { return m_style; }
    Unit GetUnit() const { return m_unit; }
    // The line spacing in pixels at dpi dots per inch (world, display and
    // pixel sizes are taken as pixels).
    REAL GetHeight(REAL dpi) const;
    Status GetLastStatus() const;

private:
    FontFamily m_family;
    REAL m_size = 0;
    INT m_style = FontStyleRegular;
    Unit m_unit = UnitPoint;
    Status m_status = Ok;
    mutable Status m_lastStatus = Ok;
};

enum StringAlignment {
    StringAlignmentNear = 0,
    StringAlignmentCenter = 1,
    StringAlignmentFar = 2,
};

// The flags AddString honours; the others are kept as set.
enum StringFormatFlags {
    StringFormatFlagsNoFitBlackBox = 0x4,
    // Trailing blanks count in the width that alignment uses.
    StringFormatFlagsMeasureTrailingSpaces = 0x800,
    // Lines are not wrapped to the layout rectangle's width.
    StringFormatFlagsNoWrap = 0x1000,
    StringFormatFlagsLineLimit = 0x2000,
    StringFormatFlagsNoClip = 0x4000,
};

class MORVIK_API StringFormat {
public:
    explicit StringFormat(INT formatFlags = 0, WORD language = 0);
    StringFormat(const StringFormat& format) = default;
    StringFormat& operator=(const StringFormat& format) = default;

    // GDI+'s two stock formats. The default format leaves a sixth of the em
    // free before and after each line; the typographic one starts lines at
    // the layout origin and sets NoFitBlackBox, LineLimit and NoClip.
    static const StringFormat* GenericDefault();
    static const StringFormat* GenericTypographic();

    StringFormat* Clone() const;
    Status SetFormatFlags(INT flags);
    INT GetFormatFlags() const { return m_flags; }
    // Horizontal placement of each line (Near: left).
    Status SetAlignment(StringAlignment align);
    StringAlignment GetAlignment() const { return m_align; }
    // Vertical placement of the block of lines (Near: top).
    Status SetLineAlignment(StringAlignment align);
    StringAlignment GetLineAlignment() const { return m_lineAlign; }
    Status GetLastStatus() const;

private:
    friend class GraphicsPath;
    INT m_flags = 0;
    StringAlignment m_align = StringAlignmentNear;
    StringAlignment m_lineAlign = StringAlignmentNear;
    bool m_typographic = false;
    mutable Status m_lastStatus = Ok;
};

}  // namespace Gdiplus

#include "morvik/afx/macros_restore.inc"

// The font engine under the GDI+ and GDI font stand-ins: installed families
// found through fontconfig, outline faces loaded with FreeType, and glyph
// outlines in font units.
//
// A family is found only under its own name (case-insensitively, against
// every family name a font file carries): fontconfig's substitution of
// another family is never taken, so a face that is not installed is
// reported missing.
//
// Thread safety: every function here may be called from any thread. Each
// FreeType face is used under its own mutex (FreeType faces are not
// thread-safe); the library and the registries are used under one mutex of
// their own. Families, faces and glyphs, once handed out, are immutable and
// live until the process ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "morvik/win32/windows.h"

namespace Gdiplus::fonts {

// The design metrics of a face, in font units.
struct Metrics {
    int emHeight = 2048;
    // The cell above and below the baseline (the Windows ascent and descent
    // of the face), and the distance between two baselines.
    int cellAscent = 0;
    int cellDescent = 0;
    int lineSpacing = 0;
};

// One glyph in font units, y up, origin on the baseline at the pen, with the
// synthesised style of its face applied. Its outline is a list of closed
// figures in GDI+ point types: 0 start, 1 line, 3 cubic Bezier (quadratic
// pieces are raised to cubics exactly), the close flag on each figure's last
// point.
struct Glyph {
    // Index of the glyph in the face; 0 when the face lacks the character
    // (such a glyph has no outline, only the advance of the missing glyph).
    uint32_t index = 0;
    double advance = 0;
    std::vector<double> xy;  // x0, y0, x1, y1, ...
    std::vector<BYTE> types;
    bool HasOutline() const { return !types.empty(); }
};

// An outline face in one style: a font file with, when the family has no
// face of the requested weight or slant, bold and oblique synthesised from
// its regular face.
class Face {
public:
    virtual ~Face() = default;
    const Metrics& GetMetrics() const { return m_metrics; }
    bool Emboldened() const { return m_bold; }
    bool Slanted() const { return m_oblique; }
    // The glyphs of count characters, and the kerning (font units) between
    // each and the one before it (0 for the first). One lock for the run.
    virtual void GlyphRun(const char32_t* chars, size_t count, const Glyph** glyphs, double* kernBefore) = 0;

protected:
    Face(const Metrics& m, bool bold, bool oblique) : m_metrics(m), m_bold(bold), m_oblique(oblique) {}
    Metrics m_metrics;
    bool m_bold;
    bool m_oblique;
};

// An installed family and its faces.
struct Family;

// The family of that name, or null when none is installed.
std::shared_ptr<const Family> FindFamily(const std::wstring& name);
// The family's own name (as installed).
std::wstring FamilyName(const Family& family);
// The face for a style (bit 0 bold, bit 1 italic; other bits are ignored).
// A face of the weight and slant asked for is taken when installed; a bold
// or italic style that the family lacks is synthesised from a lighter or
// upright face; a regular or upright style cannot be made from a bold or
// slanted face, and null is returned then (or when a face fails to load).
Face* FaceFor(const Family& family, int style);

// The face used where some face must serve whatever was asked for (GDI
// device contexts): "DejaVu Sans", or the first installed family. Null
// only when no outline font is installed at all.
Face* DefaultFace(int style);

// Code points of a wide string, with UTF-16 surrogate pairs joined.
std::u32string ToCodePoints(const wchar_t* s, size_t length);

}  // namespace Gdiplus::fonts

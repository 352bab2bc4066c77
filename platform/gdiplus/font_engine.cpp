#include "morvik/gdiplus/font_engine.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>

#include "morvik/gdiplus/gdiplus_types.h"

namespace Gdiplus::fonts {

namespace {

// One font file of a family, as fontconfig lists it.
struct Candidate {
    std::string file;
    int index = 0;
    int weight = FC_WEIGHT_REGULAR;
    int slant = FC_SLANT_ROMAN;
    int width = FC_WIDTH_NORMAL;
};

// Shear of a synthesised oblique (FreeType's own slant, about 12 degrees).
constexpr double kObliqueShear = 0x0366A / 65536.0;

std::string FoldCase(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

bool IsBold(const Candidate& c) { return c.weight >= FC_WEIGHT_DEMIBOLD; }
bool IsSlanted(const Candidate& c) { return c.slant != FC_SLANT_ROMAN; }

// A FreeType face and the mutex that every use of it takes.
struct FtFace {
    FT_Face face = nullptr;
    std::mutex mutex;
    // Tricky fonts need their hinting program: they are loaded at a size of
    // one pixel per font unit in 26.6 instead of unscaled.
    bool tricky = false;
};

// Collects FreeType's decomposition of an outline as GDI+ figures.
struct OutlineSink {
    std::vector<double>* xy;
    std::vector<BYTE>* types;
    double unit;  // font units per outline unit
    double lastX = 0, lastY = 0;
    size_t figureStart = 0;
    bool open = false;

    void Point(double x, double y, BYTE type) {
        xy->push_back(x);
        xy->push_back(y);
        types->push_back(type);
        lastX = x;
        lastY = y;
    }
    // Ends the open figure. A figure of fewer than two points is dropped; a
    // closing line back to the start point is left to the close flag.
    void Close() {
        if (!open) return;
        open = false;
        size_t n = types->size();
        if (n > figureStart + 1 && (*types)[n - 1] == PathPointTypeLine && (*xy)[2 * n - 2] == (*xy)[2 * figureStart] &&
            (*xy)[2 * n - 1] == (*xy)[2 * figureStart + 1]) {
            types->pop_back();
            xy->resize(xy->size() - 2);
            --n;
        }
        if (n < figureStart + 2) {
            types->resize(figureStart);
            xy->resize(2 * figureStart);
            return;
        }
        (*types)[n - 1] |= PathPointTypeCloseSubpath;
    }

    static OutlineSink& Of(void* user) { return *static_cast<OutlineSink*>(user); }
    static int MoveTo(const FT_Vector* to, void* user) {
        OutlineSink& s = Of(user);
        s.Close();
        s.figureStart = s.types->size();
        s.open = true;
        s.Point(to->x * s.unit, to->y * s.unit, PathPointTypeStart);
        return 0;
    }
    static int LineTo(const FT_Vector* to, void* user) {
        OutlineSink& s = Of(user);
        s.Point(to->x * s.unit, to->y * s.unit, PathPointTypeLine);
        return 0;
    }
    // A quadratic piece p0 q p2 is the cubic p0, p0 + 2/3 (q - p0),
    // p2 + 2/3 (q - p2), p2: the same curve with the same parameter.
    static int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
        OutlineSink& s = Of(user);
        const double qx = control->x * s.unit, qy = control->y * s.unit;
        const double x2 = to->x * s.unit, y2 = to->y * s.unit;
        const double x0 = s.lastX, y0 = s.lastY;
        s.Point(x0 + 2.0 / 3.0 * (qx - x0), y0 + 2.0 / 3.0 * (qy - y0), PathPointTypeBezier);
        s.Point(x2 + 2.0 / 3.0 * (qx - x2), y2 + 2.0 / 3.0 * (qy - y2), PathPointTypeBezier);
        s.Point(x2, y2, PathPointTypeBezier);
        return 0;
    }
    static int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
        OutlineSink& s = Of(user);
        s.Point(c1->x * s.unit, c1->y * s.unit, PathPointTypeBezier);
        s.Point(c2->x * s.unit, c2->y * s.unit, PathPointTypeBezier);
        s.Point(to->x * s.unit, to->y * s.unit, PathPointTypeBezier);
        return 0;
    }
};

Metrics ReadMetrics(FT_Face face) {
    Metrics m;
    m.emHeight = face->units_per_EM > 0 ? face->units_per_EM : 2048;
    m.cellAscent = face->ascender;
    m.cellDescent = -face->descender;
    m.lineSpacing = face->height;
    const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 != nullptr && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        // The Windows cell, and the line gap the horizontal header asks for
        // beyond it (GDI's external leading).
        m.cellAscent = os2->usWinAscent;
        m.cellDescent = os2->usWinDescent;
        int gap = 0;
        if (hhea != nullptr) {
            gap = std::max(0, hhea->Line_Gap - ((m.cellAscent + m.cellDescent) - (hhea->Ascender - hhea->Descender)));
        }
        m.lineSpacing = m.cellAscent + m.cellDescent + gap;
    }
    if (m.lineSpacing <= 0) m.lineSpacing = m.cellAscent + m.cellDescent;
    if (m.lineSpacing <= 0) m.lineSpacing = m.emHeight;
    return m;
}

class FtStyledFace final : public Face {
public:
    FtStyledFace(std::shared_ptr<FtFace> ft, const Metrics& m, bool bold, bool oblique)
        : Face(m, bold, oblique), m_ft(std::move(ft)) {}

    void GlyphRun(const char32_t* chars, size_t count, const Glyph** glyphs, double* kernBefore) override {
        std::lock_guard<std::mutex> lock(m_ft->mutex);
        const bool kerning = FT_HAS_KERNING(m_ft->face);
        for (size_t i = 0; i < count; ++i) {
            glyphs[i] = &GlyphLocked(chars[i]);
            kernBefore[i] = 0;
            if (kerning && i > 0 && glyphs[i - 1]->index != 0 && glyphs[i]->index != 0) {
                FT_Vector k{};
                if (FT_Get_Kerning(m_ft->face, glyphs[i - 1]->index, glyphs[i]->index, FT_KERNING_UNSCALED, &k) == 0) {
                    kernBefore[i] = static_cast<double>(k.x);
                }
            }
        }
    }

private:
    const Glyph& GlyphLocked(char32_t ch) {
        auto hit = m_byChar.find(ch);
        if (hit != m_byChar.end()) return *hit->second;
        const FT_UInt index = ch <= 0x10FFFF ? FT_Get_Char_Index(m_ft->face, ch) : 0;
        auto it = m_byIndex.find(index);
        if (it == m_byIndex.end()) it = m_byIndex.emplace(index, Load(index)).first;
        // Characters the face lacks are not remembered one by one: any
        // number of them share the missing glyph without growing the cache.
        if (index != 0) m_byChar.emplace(ch, it->second.get());
        return *it->second;
    }

    std::unique_ptr<Glyph> Load(FT_UInt index) {
        auto g = std::make_unique<Glyph>();
        g->index = index;
        FT_Face face = m_ft->face;
        const FT_Int32 flags = m_ft->tricky ? FT_LOAD_NO_BITMAP : FT_LOAD_NO_SCALE;
        if (FT_Load_Glyph(face, index, flags) != 0) return g;
        const double unit = m_ft->tricky ? 1.0 / 64.0 : 1.0;
        FT_GlyphSlot slot = face->glyph;
        g->advance = slot->advance.x * unit;
        // The missing glyph keeps its advance but draws nothing.
        if (index == 0 || slot->format != FT_GLYPH_FORMAT_OUTLINE) return g;
        if (m_bold) {
            // Strokes grow by a 24th of the em, as in FreeType's own
            // emboldening, but across only: the letters keep their height.
            const FT_Pos strength = static_cast<FT_Pos>(GetMetrics().emHeight / (24.0 * unit));
            FT_Outline_EmboldenXY(&slot->outline, strength, 0);
            g->advance += strength * unit;
        }
        static const FT_Outline_Funcs funcs = {&OutlineSink::MoveTo, &OutlineSink::LineTo, &OutlineSink::ConicTo,
                                               &OutlineSink::CubicTo, 0, 0};
        OutlineSink sink{&g->xy, &g->types, unit};
        if (FT_Outline_Decompose(&slot->outline, &funcs, &sink) != 0) {
            g->xy.clear();
            g->types.clear();
            return g;
        }
        sink.Close();
        if (m_oblique) {
            for (size_t i = 0; i + 1 < g->xy.size(); i += 2) g->xy[i] += kObliqueShear * g->xy[i + 1];
        }
        return g;
    }

    std::shared_ptr<FtFace> m_ft;
    // Guarded by m_ft->mutex. Glyphs are never changed once stored.
    std::unordered_map<char32_t, const Glyph*> m_byChar;
    std::unordered_map<uint32_t, std::unique_ptr<Glyph>> m_byIndex;
};

// Everything shared: the FreeType library, the catalogue of installed
// families, the open files and the styled faces.
class Registry {
public:
    static Registry& Instance() {
        static Registry registry;
        return registry;
    }

    std::shared_ptr<const Family> Find(const std::string& foldedName) {
        std::lock_guard<std::mutex> lock(m_mutex);
        LoadCatalogue();
        auto it = m_families.find(foldedName);
        return it != m_families.end() ? it->second : nullptr;
    }

    std::shared_ptr<const Family> First() {
        std::lock_guard<std::mutex> lock(m_mutex);
        LoadCatalogue();
        return m_families.empty() ? nullptr : m_families.begin()->second;
    }

    Face* Styled(const Candidate& c, bool bold, bool oblique) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto key = std::make_tuple(c.file, c.index, bold, oblique);
        auto it = m_styled.find(key);
        if (it != m_styled.end()) return it->second.get();
        std::shared_ptr<FtFace> ft = OpenLocked(c);
        if (!ft) return nullptr;
        auto face = std::make_unique<FtStyledFace>(ft, ReadMetrics(ft->face), bold, oblique);
        Face* raw = face.get();
        m_styled.emplace(key, std::move(face));
        return raw;
    }

    ~Registry() {
        m_styled.clear();
        for (auto& [key, ft] : m_files) {
            if (ft && ft->face) FT_Done_Face(ft->face);
        }
        m_files.clear();
        if (m_library) FT_Done_FreeType(m_library);
    }

private:
    Registry() = default;

    void LoadCatalogue();
    std::shared_ptr<FtFace> OpenLocked(const Candidate& c);

    std::mutex m_mutex;
    bool m_catalogueLoaded = false;
    FT_Library m_library = nullptr;
    std::map<std::string, std::shared_ptr<const Family>> m_families;
    std::map<std::pair<std::string, int>, std::shared_ptr<FtFace>> m_files;
    std::map<std::tuple<std::string, int, bool, bool>, std::unique_ptr<Face>> m_styled;
};

}  // namespace

struct Family {
    std::wstring name;
    std::vector<Candidate> faces;
};

namespace {

void Registry::LoadCatalogue() {
    if (m_catalogueLoaded) return;
    m_catalogueLoaded = true;
    // A configuration of our own, read once and dropped again: only the list
    // of installed fonts is needed, and nothing of fontconfig stays alive in
    // the process on our account.
    FcConfig* config = FcInitLoadConfigAndFonts();
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects =
        FcObjectSetBuild(FC_FAMILY, FC_WEIGHT, FC_SLANT, FC_WIDTH, FC_FILE, FC_INDEX, FC_OUTLINE, nullptr);
    FcFontSet* set = (config && pattern && objects) ? FcFontList(config, pattern, objects) : nullptr;
    std::map<std::string, std::shared_ptr<Family>> families;
    for (int i = 0; set != nullptr && i < set->nfont; ++i) {
        FcPattern* p = set->fonts[i];
        FcBool outline = FcFalse;
        FcChar8* file = nullptr;
        if (FcPatternGetBool(p, FC_OUTLINE, 0, &outline) != FcResultMatch || !outline) continue;
        if (FcPatternGetString(p, FC_FILE, 0, &file) != FcResultMatch || file == nullptr) continue;
        Candidate c;
        c.file = reinterpret_cast<const char*>(file);
        double d = 0;
        int v = 0;
        if (FcPatternGetInteger(p, FC_INDEX, 0, &v) == FcResultMatch) c.index = v;
        if (FcPatternGetInteger(p, FC_WEIGHT, 0, &v) == FcResultMatch) c.weight = v;
        else if (FcPatternGetDouble(p, FC_WEIGHT, 0, &d) == FcResultMatch) c.weight = static_cast<int>(d);
        if (FcPatternGetInteger(p, FC_SLANT, 0, &v) == FcResultMatch) c.slant = v;
        if (FcPatternGetInteger(p, FC_WIDTH, 0, &v) == FcResultMatch) c.width = v;
        else if (FcPatternGetDouble(p, FC_WIDTH, 0, &d) == FcResultMatch) c.width = static_cast<int>(d);
        FcChar8* name = nullptr;
        for (int n = 0; FcPatternGetString(p, FC_FAMILY, n, &name) == FcResultMatch; ++n) {
            const std::string family = reinterpret_cast<const char*>(name);
            auto& entry = families[FoldCase(family)];
            if (!entry) {
                entry = std::make_shared<Family>();
                entry->name = Utf8ToWide(family);
            }
            entry->faces.push_back(c);
        }
    }
    if (set) FcFontSetDestroy(set);
    if (objects) FcObjectSetDestroy(objects);
    if (pattern) FcPatternDestroy(pattern);
    if (config) FcConfigDestroy(config);
    for (auto& [key, family] : families) {
        // A stable order, so that equal candidates always resolve alike.
        std::sort(family->faces.begin(), family->faces.end(), [](const Candidate& a, const Candidate& b) {
            return std::tie(a.file, a.index) < std::tie(b.file, b.index);
        });
        m_families.emplace(key, family);
    }
}

std::shared_ptr<FtFace> Registry::OpenLocked(const Candidate& c) {
    const auto key = std::make_pair(c.file, c.index);
    auto it = m_files.find(key);
    if (it != m_files.end()) return it->second;
    if (!m_library && FT_Init_FreeType(&m_library) != 0) {
        m_library = nullptr;
        return nullptr;
    }
    auto ft = std::make_shared<FtFace>();
    if (FT_New_Face(m_library, c.file.c_str(), c.index, &ft->face) != 0) {
        ft->face = nullptr;
    } else if (!FT_IS_SCALABLE(ft->face) || ft->face->units_per_EM == 0) {
        FT_Done_Face(ft->face);
        ft->face = nullptr;
    } else if (FT_IS_TRICKY(ft->face)) {
        ft->tricky = FT_Set_Char_Size(ft->face, 0, static_cast<FT_F26Dot6>(ft->face->units_per_EM) * 64, 72, 72) == 0;
    }
    if (!ft->face) ft.reset();
    // A file that fails to load is remembered as failing.
    m_files.emplace(key, ft);
    return ft;
}

}  // namespace

std::shared_ptr<const Family> FindFamily(const std::wstring& name) {
    if (name.empty()) return nullptr;
    return Registry::Instance().Find(FoldCase(WideToUtf8(name)));
}

std::wstring FamilyName(const Family& family) { return family.name; }

Face* FaceFor(const Family& family, int style) {
    const bool wantBold = (style & 1) != 0;
    const bool wantItalic = (style & 2) != 0;
    const Candidate* best = nullptr;
    long bestScore = LONG_MAX;
    for (const Candidate& c : family.faces) {
        // Weight and slant can be added by synthesis, never taken away.
        if ((!wantBold && IsBold(c)) || (!wantItalic && IsSlanted(c))) continue;
        long score = std::abs(c.weight - (wantBold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR));
        score += 2L * std::abs(c.width - FC_WIDTH_NORMAL);
        if (wantBold && !IsBold(c)) score += 100000;
        if (wantItalic) score += IsSlanted(c) ? std::abs(c.slant - FC_SLANT_ITALIC) : 100000;
        if (score < bestScore) {
            bestScore = score;
            best = &c;
        }
    }
    if (best == nullptr) return nullptr;
    return Registry::Instance().Styled(*best, wantBold && !IsBold(*best), wantItalic && !IsSlanted(*best));
}

Face* DefaultFace(int style) {
    std::shared_ptr<const Family> family = FindFamily(L"DejaVu Sans");
    if (!family) family = Registry::Instance().First();
    if (!family) return nullptr;
    Face* face = FaceFor(*family, style);
    return face != nullptr ? face : FaceFor(*family, 0);
}

std::u32string ToCodePoints(const wchar_t* s, size_t length) {
    std::u32string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length) {
            const char32_t low = static_cast<char32_t>(s[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace Gdiplus::fonts

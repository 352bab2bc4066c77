// Barcode pieces around the symbol: the closed frame around the bars, the
// hatch of a two-dimensional code filled module by module, and the readable
// text in an SHX font.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/core/polyline.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/text/fonts.h"
#include "morvik/win32/windows.h"

namespace {

// The em size of the readable text is its character size over this.
constexpr double kEmPerWidth = 0.458;
// Sizes beyond this (millimetres) are no text: they would leave the range
// of the points' floats.
constexpr double kMaxExtent = 1e6;

double FiniteOr0(double v) { return std::isfinite(v) ? v : 0.0; }

}  // namespace

// ---- frame -------------------------------------------------------------------------------------

void CFonts::AddBarcodeFrame() {
    const CODEBAR_PAR& p = parCodebar;
    if (p.bFrame == 0 || m_arrChars.empty() || m_arrChars[0] == nullptr) return;
    const float margins[4] = {p.fFrameLeft, p.fFrameTop, p.fFrameRight, p.fFrameBottom};
    for (const float m : margins)
        if (!(m >= 0.0f) || !std::isfinite(m)) return;
    // Codes drawn as separate modules have no frame.
    if (p.bPointModule != 0 || p.bCircleModule != 0 || p.bRectModule != 0) return;
    FONTSCHAR* ch = m_arrChars[0];
    const size_t bars = std::min(static_cast<size_t>(std::max(0, m_barcodeSize)), ch->points.size());
    // A symbol without bars has nothing to frame.
    if (bars == 0) return;
    Gdiplus::RectF r;
    if (p.bShowText != 0) {
        r = CalculateRectangle(std::vector<tagPOINTF>(ch->points.begin(), ch->points.begin() + static_cast<long>(bars)));
    } else {
        GetRectangle(r);
    }
    const float x = r.X - p.fFrameLeft, y = r.Y + p.fFrameTop;
    const float w = r.Width + p.fFrameLeft + p.fFrameRight, h = r.Height + p.fFrameTop + p.fFrameBottom;
    const tagPOINTF corners[5] = {{x, y}, {x + w, y}, {x + w, y - h}, {x, y - h}, {x, y}};
    const uint8_t types[5] = {0, 1, 1, 1, 1};
    ch->points.insert(ch->points.begin(), std::begin(corners), std::end(corners));
    ch->types.insert(ch->types.begin(), std::begin(types), std::end(types));
    m_barcodeSize += 5;
    InvalidateGeometry();
}

// ---- module fill -------------------------------------------------------------------------------

bool CFonts::WantsModuleFill(const FILLED_PARS& fillPar) const {
    if (nFontType != FONT_TYPE_CODEBAR || !parCodebar.Is2DCode()) return false;
    if (parCodebar.bPointModule != 1 && parCodebar.bCircleModule != 1 && parCodebar.bRectModule != 1) return false;
    const SHAPE_FILLER_PARAM* last = nullptr;
    for (const SHAPE_FILLER_PARAM& set : fillPar.fillParams)
        if (set.bEnable != 0) last = &set;
    return last != nullptr && last->nFillType == 0;
}

void CFonts::FillModules(CFilledShape* fill, const FILLED_PARS& fillPar) {
    // Rings laid over all modules at once would run across the gaps
    // between them: each module is filled on its own and the hatches are
    // gathered in the text's fill shape.
    CFilledShape one;
    one.SetNoRedraw(1);
    one.SetDocView(m_pDoc, m_pView);
    one.SetParam(fillPar);
    for (CBaseShape* outline : fill->GetChildren()) {
        auto* poly = dynamic_cast<CPolyLine*>(outline);
        if (poly == nullptr) continue;
        one.FreeShapeList(1);
        auto* copy = new CPolyLine();
        copy->SetCaption(L"font_fill_shape");
        copy->SetDocView(m_pDoc, m_pView);
        copy->arrPoint = poly->arrPoint;
        copy->ClosePloyLine();
        copy->SetPen(poly->GetPenIndex());
        one.GetChildren().push_back(copy);
        one.SetNoRedraw(1);
        one.DoFill(1);
        for (int s = 0; s < FILLED_PARS::kSetCount; ++s) {
            Gdiplus::GraphicsPath* from = one.GetFillPathOf(s);
            Gdiplus::GraphicsPath* to = fill->GetFillPathOf(s);
            if (from != nullptr && to != nullptr && from->GetPointCount() > 0) to->AddPath(from, FALSE);
        }
    }
    one.FreeShapeList(1);
    one.DeleteFill(true);
    fill->InvalidateGeometry();
}

// ---- readable text in an SHX font -------------------------------------------------------------

bool CFonts::CodeTextShxPath(const CString& text, Gdiplus::GraphicsPath& path) {
    const CString name = parCodebar.strTextFont;
    if (name.IsEmpty()) return false;
    const double em = parCodebar.dTextWidth / kEmPerWidth;
    if (!(em > 1e-6) || !(em < kMaxExtent)) return false;
    // Only a file that is there is tried: a TrueType face name must not
    // make the reader complain about a missing font.
    const std::wstring file = CShxShapeReader::GetFontFolder() + std::wstring(name.GetString()) + L".shx";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::path(WidePathToUtf8(file.c_str())), ec)) return false;

    // The single-line character reader scales to the text's height and
    // names the font whose Chinese shapes it centres: it reads the readable
    // text's for the duration.
    struct Swap {
        CFonts& t;
        double height;
        CString fontName;
        ~Swap() {
            t.parFonts.dHeight = height;
            t.m_strFontName = fontName;
        }
    } swap{*this, parFonts.dHeight, m_strFontName};
    parFonts.dHeight = em;
    m_strFontName = name;
    if (!LoadShxFonts(name)) return false;

    const bool vertical = parFonts.bVertical != 0;
    const double space = std::clamp(FiniteOr0(parCodebar.dTextSpace), -kMaxExtent, kMaxExtent);
    const std::wstring all(text.GetString(), static_cast<size_t>(text.GetLength()));
    double lineX = 0, lineY = 0;  // path units, y down: where the line starts
    size_t begin = 0;
    while (begin <= all.size()) {
        size_t end = all.find(L'\n', begin);
        if (end == std::wstring::npos) end = all.size();
        const std::wstring line = all.substr(begin, end - begin);
        const CString cline(line.c_str());
        double penX = lineX, penY = lineY;
        for (size_t i = 0; i < line.size(); ++i) {
            const wchar_t c = line[i];
            if (c == L'\r') continue;
            // A character below 128 that the font lacks comes from the
            // default font, at the default font's cell, as a Chinese
            // font's missing Latin letters do.
            const int sample = m_shxInfo.nSample;
            if (c < 0x80 && c != 0 && m_shxFont.readCharShape(m_shxRecords, static_cast<int>(c), 0) != 0)
                m_shxInfo.nSample = 1;
            CShxShapeReader::FreeObjects(m_shxRecords);
            // The cell's top at the pen: the shape's baseline one em lower.
            FONTSCHAR* ch = ShxCharAt(c, penX, 0.0);
            m_shxInfo.nSample = sample;
            if (c > 0x7F)
                for (tagPOINTF& q : ch->points) q.x = static_cast<float>(penX + 2.0 * (q.x - penX));
            const size_t n = std::min(ch->points.size(), ch->types.size());
            if (n > 0) {
                std::vector<Gdiplus::PointF> pts(n);
                for (size_t k = 0; k < n; ++k)
                    pts[k] = Gdiplus::PointF(ch->points[k].x, static_cast<Gdiplus::REAL>(penY + em - ch->points[k].y));
                Gdiplus::GraphicsPath one(pts.data(), ch->types.data(), static_cast<INT>(n));
                path.AddPath(&one, FALSE);
            }
            Gdiplus::RectF box;
            GetArrayRectF(ch->points, box);
            delete ch;
            // Blanks that follow are stepped over with the character.
            const int blanks = std::max(0, FindSpace(cline, static_cast<int>(i)));
            const double step = (1.0 + blanks) * ((vertical ? box.Height : box.Width) + space);
            if (vertical) {
                penY += step;
            } else {
                penX += step;
            }
            i += static_cast<size_t>(blanks);
        }
        if (vertical) {
            lineX += em;
        } else {
            lineY += em;
        }
        if (end == all.size()) break;
        begin = end + 1;
    }
    return path.GetPointCount() > 0;
}

// Dot-matrix text: every character is drawn with the text's face at 10
// pixels into a cell of 16 x 16 pixels, and each lit pixel becomes one dot
// (a point that starts a figure of its own). Text on an arc is laid out
// straight and then bent onto the circle line by line.
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "morvik/core/runlog.h"
#include "morvik/gdiplus/font.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/text/fonts.h"

namespace {

constexpr int kCell = 16;
constexpr float kCellEm = 10.0f;
// One pixel of the cell in drawing units per unit of height.
constexpr double kDotPitch = 0.108;

double Finite0(double v) { return std::isfinite(v) ? v : 0.0; }

// The lit pixels (row, column) of each character, drawn once per layout.
class DotCells {
public:
    explicit DotCells(const std::wstring& face) {
        for (const std::wstring& name : {face, std::wstring(L"Arial")}) {
            m_family = Gdiplus::FontFamily(name.c_str());
            if (m_family.IsAvailable()) return;
        }
    }

    const std::vector<std::pair<int, int>>& Of(wchar_t c) {
        auto it = m_cells.find(c);
        if (it != m_cells.end()) return it->second;
        std::vector<std::pair<int, int>>& lit = m_cells[c];
        Gdiplus::GraphicsPath path;
        // A face that cannot draw leaves the character without dots.
        if (path.AddString(&c, 1, &m_family, Gdiplus::FontStyleRegular, kCellEm, Gdiplus::PointF(0, 0), nullptr) !=
                Gdiplus::Ok ||
            path.GetPointCount() == 0)
            return lit;
        path.Flatten(nullptr, 0.05f);
        // A pixel is lit when its centre lies inside the glyph; ink beyond
        // the cell is cut off.
        for (int r = 0; r < kCell; ++r)
            for (int col = 0; col < kCell; ++col)
                if (path.IsVisible(col + 0.5f, r + 0.5f)) lit.emplace_back(r, col);
        return lit;
    }

private:
    Gdiplus::FontFamily m_family;
    std::map<wchar_t, std::vector<std::pair<int, int>>> m_cells;
};

}  // namespace

bool CFonts::SetMatricPoint(const CString& text, const CString& fontName) {
    FreeAll(true);
    if (text.IsEmpty()) return true;
    const bool arc = parFonts.bPathText != 0;
    if (arc && !ArcUsable()) {
        RunLog::Instance(nullptr)->Write(L"Text on an arc refused: the radius must be above 0");
        return false;
    }
    const double h = Finite0(parFonts.dHeight);
    const double wf = Finite0(parFonts.dWidthRatio);
    const double pitchX = wf / kNaturalWidth * h * kDotPitch;
    const double charSpace = Finite0(parFonts.dCharSpace);
    const double charWidth = Finite0(parFonts.dFixCharWidth);
    const double lineStep = Finite0(parFonts.dLineSpace) + h;
    const bool vertical = parFonts.bVertical != 0;
    const int mode = parFonts.nFixWidthMode;
    if (arc) {
        if (bFilled != 0) DeleteFillHeld();
        m_arrPtBackup.clear();
    }

    DotCells cells(std::wstring(fontName.GetString(), static_cast<size_t>(fontName.GetLength())));
    // The pen in the frame with y down.
    const double x0 = fontspos.x, y0 = -static_cast<double>(fontspos.y);
    double penX = x0, penY = y0;
    for (const std::wstring& line : SplitTextLines(std::wstring(text.GetString(), text.GetLength()))) {
        double runX = 0.0, runY = 0.0;
        for (const wchar_t c : line) {
            auto* ch = new FONTSCHAR();
            ch->text = CString(c);
            m_arrChars.push_back(ch);
            for (const auto& [r, col] : cells.Of(c)) {
                const double x = pitchX * col + penX + (vertical ? 0.0 : runX);
                const double y = (r * h - 1.0) * kDotPitch + penY + (vertical ? runY : 0.0);
                ch->points.push_back({static_cast<float>(x), static_cast<float>(-y)});
                ch->types.push_back(0);
            }
            double& pen = vertical ? penY : penX;
            if (mode == 1) {
                const Gdiplus::RectF box = CalculateRectangle(ch->points);
                runX += box.Width;
                runY += box.Height;
                pen += charWidth;
            } else if (mode == 2) {
                pen += charWidth;
            } else {
                // Wide characters take 1.8 times the room of Latin ones.
                runX += h * wf / 100.0 * (c < 0x80 ? 1.0 : 1.8);
                runY += h;
                pen += charSpace;
            }
        }
        if (arc) SingleFt2PathFont(static_cast<int>(line.size()));
        if (vertical) {
            penX += lineStep + 1.0;
            penY = y0;
        } else {
            penY += lineStep + 1.0;
            penX = x0;
        }
    }
    InvalidateGeometry();
    return true;
}

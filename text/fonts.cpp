// The text shape: construction, saved properties, the central setter, fills.
#include "morvik/text/fonts.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>

#include "morvik/afx/message_box.h"
#include "morvik/compose/filledshape.h"
#include "morvik/core/polyline.h"
#include "morvik/core/morvik.h"
#include "morvik/core/runlog.h"
#include "morvik/core/srifile.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/lang.h"
#include "morvik/text/mycodebar.h"

IMPLEMENT_SERIAL(CFonts, CBaseShape, 9)

namespace {

RunLog* Log() { return RunLog::Instance(nullptr); }

void DestroyFill(CFilledShape* fill, bool freeChildren) {
    if (fill == nullptr) return;
    if (freeChildren) fill->FreeMembersBeforeDelete();
    delete fill;
}

// The same saved settings: the saved bytes of the two records compare.
template <class R>
std::vector<uint8_t> SavedBytes(R record) {
    SriFile out;
    record.Save(false, &out);
    return out.GetWrittenBytes();
}

// The pen colour aside: an empty fill's colour only follows the text's pen.
// Equal fields save equal bytes, so the bytes are only written out when a
// field differs: one that is not saved may, and then the bytes decide.
bool SameSetButColour(const SHAPE_FILLER_PARAM& a, SHAPE_FILLER_PARAM b) {
    b.cPenColor = a.cPenColor;
    return a == b || SavedBytes(a) == SavedBytes(b);
}

// The fill shape saves bDelUngroup and the four sets beside the record.
bool SameFillParsButColour(const FILLED_PARS& a, FILLED_PARS b) {
    if (a.bDelUngroup != b.bDelUngroup) return false;
    for (int s = 0; s < FILLED_PARS::kSetCount; ++s) b.fillParams[s].cPenColor = a.fillParams[s].cPenColor;
    if (a == b) return true;
    if (SavedBytes(a) != SavedBytes(b)) return false;
    for (int s = 0; s < FILLED_PARS::kSetCount; ++s)
        if (!SameSetButColour(a.fillParams[s], b.fillParams[s])) return false;
    return true;
}

bool HoldsNothing(CFilledShape* fill) {
    if (!fill->GetChildren().empty()) return false;
    for (int s = 0; s < FILLED_PARS::kSetCount; ++s) {
        Gdiplus::GraphicsPath* path = fill->GetFillPathOf(s);
        if (path != nullptr && path->GetPointCount() != 0) return false;
    }
    return true;
}

}  // namespace

// Everything a failed layout must give back, and where the text stood
// before it, so that the new layout can be put in the old one's place.
struct CFonts::LayoutSnapshot {
    CString text, fontName;
    std::wstring wstrFontName;
    int fontType = FONT_TYPE_TRUETYPE, matric = 0, record = 0, barcodeSize = 0;
    FONTS_PAR fonts;
    CODEBAR_PAR codebar, codebarInit;
    VARTEXT_PAR vartext;
    CString typeName;
    std::vector<FONTSCHAR*> chars, backup;
    std::vector<CFilledShape*> fills;
    std::vector<tagPOINTF> frame;
    double initH = 0.0, initW = 0.0;
    tagPOINTF pos{0.0f, 0.0f};
    // The place of the old layout.
    Gdiplus::RectF oldRect;
    tagPOINTF oldRef{0.0f, 0.0f};
    bool hadOutline = false;
    // The "BrowalliaIT9" shift of a "1" that the new text loses.
    double oneShift = 0.0;
    // What an undo that takes the whole layout back needs besides.
    std::vector<tagPOINTF> ptBackup;
    std::vector<float> barPos;
    int refill = 0, filled = 0;
    FILLED_PARS fill;
    double widthZoom = 1.0, heightZoom = 1.0, charRate = 1.0;
    tagPOINTF centre{0.0f, 0.0f};
    double rad = 0.0;
    int baseAngle = 0, angleScope = 0, invert = 0, alignTop = 0, inside = 0;
};

// A layout replaced by SetFonts, whole, and the points of the characters
// the replacing layout left.
struct CFonts::ReplacedLayout {
    LayoutSnapshot old;
    std::vector<std::vector<tagPOINTF>> after;
    size_t cost = 0;  // points held
};

// ---- construction -----------------------------------------------------------------------

CFonts::CFonts() {
    InitShape(SHAPE_FONTS, "IDS_TYPENAME_TEXT", ShapeCounterOf(SHAPE_FONTS));
    m_hLayoutEvent = CreateEventW(nullptr, FALSE, TRUE, nullptr);
}

CFonts::~CFonts() {
    m_arrFrame.clear();
    FreeAll(true);
    FreeReplacedFills();
    FreeReplacedLayouts();
    ReleaseBarcodeInstance();
    if (m_hLayoutEvent != nullptr) {
        CloseHandle(m_hLayoutEvent);
        m_hLayoutEvent = nullptr;
    }
}

void CFonts::FreeCharList(std::vector<FONTSCHAR*>& list) {
    for (FONTSCHAR* ch : list) delete ch;
    list.clear();
}

void CFonts::FreeAll(bool freeFills) {
    FreeCharList(m_arrChars);
    // A fill shape's outlines are the text's own copies: freeing the fill
    // without them would leak every outline polyline it holds.
    for (CFilledShape* fill : m_arrFills) DestroyFill(fill, true);
    (void)freeFills;
    m_arrFills.clear();
    FreeCharList(m_arrCharsBackup);
    FreeCodeBarSquare();
    InvalidateGeometry();
}

void CFonts::SetPathFontPara(int baseAngle, int angleScope, int invert, int alignTop, int inside) {
    if (!m_bArcChangePending) {
        GetPathFontPara(m_arcOfLayout[0], m_arcOfLayout[1], m_arcOfLayout[2], m_arcOfLayout[3], m_arcOfLayout[4]);
        m_bArcChangePending = true;
    }
    iBaseAngle = baseAngle;
    iAngleScope = angleScope;
    bInvert = invert;
    bAlignTop = alignTop;
    bIsInside = inside;
}

void CFonts::GetPathFontPara(int& baseAngle, int& angleScope, int& invert, int& alignTop, int& inside) const {
    baseAngle = iBaseAngle;
    angleScope = iAngleScope;
    invert = bInvert;
    alignTop = bAlignTop;
    inside = bIsInside;
}

// ---- saved properties -----------------------------------------------------------------------

void CFonts::AddAllProp(bool all) {
    CBaseShape::AddAllProp(all);
    AddProp("fInitStrHeight", &fInitStrHeight);
    AddProp("fInitStrWidth", &fInitStrWidth);
    AddProp("temp4P", &m_prop4P);
    AddProp("bFilled", &bFilled);
    AddProp("strText", &m_wstrText);
    AddProp("strFontName", &m_wstrFontName);
    AddProp("nFontType", &nFontType);
    AddProp("fCharWidthTransRate", &fCharWidthTransRate);
    AddProp("fHeightZoom", &fHeightZoom);
    AddProp("fWidthZoom", &fWidthZoom);
    AddProp("dRad", &dRad);
    AddProp("iBaseAngle", &iBaseAngle);
    AddProp("iAngleScope", &iAngleScope);
    AddProp("bInvert", &bInvert);
    AddProp("bAlignTop", &bAlignTop);
    AddProp("bIsInside", &bIsInside);
    AddProp("m_bOutTxt", &m_bOutTxt);
    AddProp("m_bOutTm", &m_bOutTm);
    AddProp("m_bMkFlag", &m_bMkFlag);
    AddProp("m_bTimingReset", &m_bTimingReset);
    AddProp("m_tmReset", &m_tmReset);
    AddProp("m_barcodeSize", &m_barcodeSize);
    AddProp("strOutName", &m_wstrOutName);
    AddProp("bMatric", &bMatric);
    AddProp("ptCenter", &ptCenter);
    AddProp("ShapeModify", &m_propModify);
    AddProp("FONTSCHAR", &m_propChars);
    AddProp("arrPointf_FONTSCHAR", &m_propCharPoints);
    AddProp("arrDevPointF_FONTSCHAR", &m_propCharDevPoints);
    AddProp("arrType_FONTSCHAR", &m_propCharTypes);
    AddProp("fontspos", &fontspos);
    if (all || bFilled != 0) {
        AddProp("shape_filler_param", &m_propFillSets);
        AddProp("parFill", &parFill);
        AddProp("VParFillParams", &m_propVParFill);
    }
    AddProp("parVarText", &parVarText);
    AddProp("TextElement", &m_propElements);
    AddProp("parCodebar", &parCodebar);
    AddProp("parCodebarInit", &parCodebarInit);
    AddProp("parFonts", &parFonts);
}

void CFonts::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    parCodebar.UpdatePropsValue();
    parCodebarInit.UpdatePropsValue();
    m_wstrFontName.assign(m_strFontName.GetString(), static_cast<size_t>(m_strFontName.GetLength()));
    m_wstrText.assign(m_strText.GetString(), static_cast<size_t>(m_strText.GetLength()));
    m_wstrOutName.assign(m_strOutName.GetString(), static_cast<size_t>(m_strOutName.GetLength()));
    m_prop4P.assign(1, m_arrFrame);
    m_propModify = m_arrModify;
    m_propChars.clear();
    m_propCharPoints.clear();
    m_propCharDevPoints.clear();
    m_propCharTypes.clear();
    m_propFillSets.clear();
    m_propChars.reserve(m_arrChars.size());
    m_propCharPoints.reserve(m_arrChars.size());
    m_propCharDevPoints.reserve(m_arrChars.size());
    m_propCharTypes.reserve(m_arrChars.size());
    for (FONTSCHAR* ch : m_arrChars) {
        if (ch == nullptr) continue;
        // The character record saves only its text; its points and types
        // go into the lists beside it.
        m_propChars.emplace_back();
        m_propChars.back().text = ch->text;
        m_propChars.back().strName = ch->strName;
        m_propCharPoints.push_back(ch->points);
        m_propCharDevPoints.emplace_back();
        m_propCharTypes.push_back(ch->types);
    }
    if (!m_arrFills.empty() && m_arrFills[0] != nullptr) {
        const FILLED_PARS first = m_arrFills[0]->GetFillParam();
        m_propFillSets.insert(m_propFillSets.end(), std::begin(first.fillParams), std::end(first.fillParams));
        if (nFontType == FONT_TYPE_CODEBAR && m_arrFills.size() == 2 && m_arrFills[1] != nullptr) {
            const FILLED_PARS second = m_arrFills[1]->GetFillParam();
            m_propFillSets.insert(m_propFillSets.end(), std::begin(second.fillParams), std::end(second.fillParams));
        }
    }
    m_propVParFill.assign(std::begin(parFill.fillParams), std::end(parFill.fillParams));
    m_propElements.clear();
    for (const auto& e : parVarText.arrElements)
        if (e != nullptr) m_propElements.emplace_back(*e);
}

void CFonts::RestoreAfterRead(std::vector<CFilledShape*>& savedFills) {
    m_strFontName = CString(m_wstrFontName.c_str());
    m_strText = CString(m_wstrText.c_str());
    m_strOutName = CString(m_wstrOutName.c_str());
    parCodebar.strTextFont = CString(parCodebar.wstrTextFont.c_str());
    parCodebar.strCustomText = CString(parCodebar.wstrCustomText.c_str());
    parCodebarInit.strTextFont = CString(parCodebarInit.wstrTextFont.c_str());
    parCodebarInit.strCustomText = CString(parCodebarInit.wstrCustomText.c_str());
    m_arrFrame = m_prop4P.empty() ? std::vector<tagPOINTF>() : m_prop4P.front();
    // A frame is four finite points or nothing.
    if (m_arrFrame.size() != 4 ||
        !std::all_of(m_arrFrame.begin(), m_arrFrame.end(),
                     [](const tagPOINTF& p) { return std::isfinite(p.x) && std::isfinite(p.y); }))
        m_arrFrame.clear();
    m_arrModify = m_propModify;
    parVarText.arrElements.clear();
    for (const TEXT_ELEMENT_REC& rec : m_propElements) parVarText.arrElements.push_back(rec.Make());

    FreeAll(true);
    for (size_t i = 0; i < m_propChars.size(); ++i) {
        auto* ch = new FONTSCHAR(m_propChars[i]);
        if (i < m_propCharPoints.size()) ch->points = m_propCharPoints[i];
        if (i < m_propCharTypes.size()) ch->types = m_propCharTypes[i];
        // Points and types go together or not at all, and a character with
        // a point that is not finite (a damaged file) keeps neither: such a
        // point must never reach the marking.
        const bool finite = std::all_of(ch->points.begin(), ch->points.end(),
                                        [](const tagPOINTF& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
        if (ch->types.size() != ch->points.size() || !finite) {
            ch->points.clear();
            ch->types.clear();
        }
        m_arrChars.push_back(ch);
    }
    // A text saved with the older frame keeps its place at its next edit.
    AdoptOldFrame();
    auto takeSets = [this](CFilledShape* fill, size_t from) {
        if (m_propFillSets.size() < from + FILLED_PARS::kSetCount) return;
        FILLED_PARS par = fill->GetFillParam();
        for (int s = 0; s < FILLED_PARS::kSetCount; ++s) par.fillParams[s] = m_propFillSets[from + static_cast<size_t>(s)];
        fill->SaveParamToCFG(par);
        fill->bParamGiven = 1;
    };
    if (nFontType == FONT_TYPE_TRUETYPE) m_arrFills.reserve(m_arrChars.size());
    for (size_t i = 0; i < m_arrChars.size() && nFontType == FONT_TYPE_TRUETYPE; ++i) {
        auto* fill = new CFilledShape();
        fill->SetNoRedraw(1);
        fill->SetDocView(m_pDoc, m_pView);
        fill->SetCaption(m_arrChars[i]->text);
        fill->SaveParamToCFG(LoadedCharFill(i, m_propFillSets));
        if (m_propFillSets.size() > i && m_propFillSets.size() >= FILLED_PARS::kSetCount) fill->bParamGiven = 1;
        m_arrFills.push_back(fill);
    }
    if (nFontType == FONT_TYPE_CODEBAR) {
        auto* bars = new CFilledShape();
        bars->SetNoRedraw(1);
        bars->SetDocView(m_pDoc, m_pView);
        takeSets(bars, 0);
        m_arrFills.push_back(bars);
        auto* text = new CFilledShape();
        text->SetNoRedraw(1);
        text->SetDocView(m_pDoc, m_pView);
        text->SaveParamToCFG(parCodebar.parTextFill);
        takeSets(text, FILLED_PARS::kSetCount);
        m_arrFills.push_back(text);
    }
    const size_t own = std::min<size_t>(m_propVParFill.size(), FILLED_PARS::kSetCount);
    for (size_t s = 0; s < own; ++s) parFill.fillParams[s] = m_propVParFill[s];
    // Saved fill shapes replace the created ones in order; any beyond
    // those are not ours to keep and are destroyed.
    for (size_t i = 0; i < savedFills.size(); ++i) {
        CFilledShape* saved = savedFills[i];
        if (saved == nullptr) continue;
        if (i < m_arrFills.size()) {
            DestroyFill(m_arrFills[i], true);
            saved->bParamGiven = 1;
            saved->SetDocView(m_pDoc, m_pView);
            m_arrFills[i] = saved;
        } else {
            DestroyFill(saved, true);
        }
    }
    savedFills.clear();
    // A filled text whose fill shapes came back empty (no outlines and no
    // hatch were saved or adopted) has its fill built again from its
    // outlines, so that it marks as the text saved. A fill that came back
    // stays as it was saved.
    bool hatched = false;
    for (CFilledShape* fill : m_arrFills) {
        if (fill == nullptr) continue;
        if (!fill->GetChildren().empty()) hatched = true;
        for (int set = 0; set < FILLED_PARS::kSetCount; ++set)
            if (fill->GetFillPathOf(set) != nullptr && fill->GetFillPathOf(set)->GetPointCount() > 0) hatched = true;
    }
    if (!hatched && (bFilled != 0 || (nFontType == FONT_TYPE_CODEBAR && parCodebar.bShowText != 0 && parCodebar.bTextFill != 0)))
        RefillAfterLayout();
    InvalidateGeometry();
}

// ---- pen, document, children ------------------------------------------------------------------

int CFonts::SetPen(unsigned char pen) {
    const ShapeGuard guard(this);
    SetPenIndex(pen);
    parCodebar.nTextPen = pen;
    if (bFilled != 0) {
        const COLORREF colour = GetPenColor(-1);
        for (SHAPE_FILLER_PARAM& set : parFill.fillParams) {
            set.nPenNum = pen;
            set.cPenColor = static_cast<int32_t>(colour);
        }
    }
    // A fill shape marks its hatch with the pens of its own sets: they
    // follow the text's, or the hatch would keep the old pen.
    for (CFilledShape* fill : m_arrFills) {
        if (fill == nullptr) continue;
        fill->SetPen(pen);
        if (bFilled != 0) fill->SetHatchPen(pen, GetPenColor(-1));
    }
    return 0;
}

void CFonts::SetDocView(CBaseDoc* doc, CBaseView* view) {
    CBaseShape::SetDocView(doc, view);
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->SetDocView(doc, view);
}

FILLED_PARS CFonts::LoadedCharFill(size_t index, const std::vector<SHAPE_FILLER_PARAM>& savedSets) {
    FILLED_PARS par;
    if (savedSets.size() > index && savedSets.size() >= FILLED_PARS::kSetCount)
        for (int s = 0; s < FILLED_PARS::kSetCount; ++s) par.fillParams[s] = savedSets[static_cast<size_t>(s)];
    return par;
}

size_t CFonts::CharFillsToSave() {
    // Only a TrueType text makes one fill per character on loading.
    if (nFontType != FONT_TYPE_TRUETYPE || m_arrFills.size() != m_arrChars.size()) return m_arrFills.size();
    // The sets the load hands to the first four fills: those of the first
    // fill, which the text saves itself when filled (and always in the
    // extended form), or none (an unfilled text in the plain form).
    std::vector<SHAPE_FILLER_PARAM> firstSets;
    if (!m_arrFills.empty() && m_arrFills[0] != nullptr) {
        const FILLED_PARS first = m_arrFills[0]->GetFillParam();
        firstSets.assign(std::begin(first.fillParams), std::end(first.fillParams));
    }
    const std::vector<SHAPE_FILLER_PARAM> none;
    size_t count = 0;
    for (size_t i = 0; i < m_arrFills.size(); ++i) {
        CFilledShape* fill = m_arrFills[i];
        FONTSCHAR* ch = m_arrChars[i];
        // An empty fill's pen follows the text's and decides nothing.
        bool remade = fill != nullptr && ch != nullptr && HoldsNothing(fill) && fill->GetCaption() == ch->text &&
                      fill->IsVisible() && !fill->IsReverseOrder() &&
                      fill->GetLinkedIDs().empty() && !fill->GetLinkFlag() && fill->GetMirrorFlag() == 0 &&
                      !fill->IsZoomAntiX() && !fill->IsZoomAntiY() && !fill->IsAntiPath();
        if (remade) {
            const FILLED_PARS par = fill->GetFillParam();
            remade = SameFillParsButColour(par, LoadedCharFill(i, firstSets)) &&
                     (bFilled != 0 || i >= FILLED_PARS::kSetCount ||
                      SameFillParsButColour(par, LoadedCharFill(i, none)));
        }
        if (!remade) count = i + 1;
    }
    return count;
}

void CFonts::SaveShapeChild(CBaseShape* parent, std::list<CBaseShape*>& out) {
    // A character's fill goes into the file only when the load could not
    // make it again from the text's own record: it has outlines or hatch,
    // or settings of its own. The load matches saved fills to characters by
    // their order, so every fill up to the last such one is saved; a long
    // unfilled text saves none.
    const size_t count = CharFillsToSave();
    for (size_t i = 0; i < count; ++i)
        if (m_arrFills[i] != nullptr) m_arrFills[i]->SaveShapeChild(this, out);
    CBaseShape::SaveShapeChild(parent, out);
}

// ---- fills ---------------------------------------------------------------------------------

void CFonts::AddFillOutlines(CFilledShape* fill, int index, enuPtType part, unsigned char pen) {
    std::vector<std::vector<tagPOINTF>> lines;
    CharFigures(index, part, lines);
    for (std::vector<tagPOINTF>& line : lines) {
        if (line.size() < 2) continue;
        auto* poly = new CPolyLine();
        poly->SetCaption(L"font_fill_shape");
        poly->SetDocView(m_pDoc, m_pView);
        poly->arrPoint = std::move(line);
        poly->ClosePloyLine();
        poly->SetPen(pen);
        fill->GetChildren().push_back(poly);
    }
}

namespace {

bool IsFillOutline(CBaseShape* shape) {
    return shape != nullptr && shape->GetCaption().CompareNoCase(L"font_fill_shape") == 0;
}

}  // namespace

void CFonts::RememberFill(size_t j, CFilledShape* fill) {
    if (fill == nullptr) return;
    if (m_fillIds.size() <= j) m_fillIds.resize(j + 1);
    FillIdentity& known = m_fillIds[j];
    known.id = fill->GetBaseID();
    known.caption = fill->GetCaption();
    known.par = fill->GetFillParam();
    // The outlines it holds now, then any remembered beyond them: a shorter
    // text in between does not forget the identities of a longer one.
    std::vector<GUID> ids;
    for (CBaseShape* child : fill->GetChildren())
        if (IsFillOutline(child)) ids.push_back(child->GetBaseID());
    if (ids.empty()) return;
    if (known.outlines.size() > ids.size()) ids.insert(ids.end(), known.outlines.begin() + static_cast<std::ptrdiff_t>(ids.size()), known.outlines.end());
    known.outlines = std::move(ids);
}

void CFonts::ReuseOutlineIds(size_t j, CFilledShape* fill) {
    if (fill == nullptr) return;
    if (j < m_fillIds.size()) {
        const std::vector<GUID>& ids = m_fillIds[j].outlines;
        size_t k = 0;
        for (CBaseShape* child : fill->GetChildren())
            if (IsFillOutline(child) && k < ids.size()) child->SetBaseID(ids[k++]);
    }
    RememberFill(j, fill);
}

void CFonts::AdoptFillIdentity(size_t j, CFilledShape* fill) {
    if (fill == nullptr || j >= m_fillIds.size()) return;
    const FillIdentity& known = m_fillIds[j];
    fill->SetBaseID(known.id);
    fill->SetCaption(known.caption);
    fill->SaveParamToCFG(known.par);
}

namespace {

// Two fill records alike in every saved field. The record's own save holds
// only its switches: its hatch sets and the ungroup switch are saved by the
// fill shape, and a fill kept for an undo must match in those too.
bool SameFill(const FILLED_PARS& a, const FILLED_PARS& b) {
    FILLED_PARS x = a, y = b;
    SriFile fa, fb;
    x.Save(true, &fa);
    y.Save(true, &fb);
    if (fa.GetWrittenBytes() != fb.GetWrittenBytes() || a.bDelUngroup != b.bDelUngroup) return false;
    for (int s = 0; s < FILLED_PARS::kSetCount; ++s) {
        SHAPE_FILLER_PARAM sa = a.fillParams[s], sb = b.fillParams[s];
        SriFile ga, gb;
        sa.Save(true, &ga);
        sb.Save(true, &gb);
        if (ga.GetWrittenBytes() != gb.GetWrittenBytes()) return false;
    }
    return true;
}

// Characters that stand where they stood, but for the rounding of a
// transform and its inverse.
bool SamePoints(const std::vector<std::vector<tagPOINTF>>& a, const std::vector<std::vector<tagPOINTF>>& b) {
    if (a.size() != b.size()) return false;
    auto near = [](float x, float y) { return std::fabs(x - y) <= 1e-4f * (1.0f + std::fabs(y)); };
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        for (size_t k = 0; k < a[i].size(); ++k)
            if (!near(a[i][k].x, b[i][k].x) || !near(a[i][k].y, b[i][k].y)) return false;
    }
    return true;
}

// How many replaced fills (and layouts) a text keeps for its undo: always
// the last 16, and older ones, up to 256, while all it keeps holds at most
// two million points. A small text then comes back exactly through a long
// editing session; a large one cannot fill the memory.
constexpr size_t kKeptFills = 16;
constexpr size_t kKeptFillsMost = 256;
constexpr size_t kKeptPoints = 2000000;

template <class List, class CostOf>
bool OverKeptBudget(const List& kept, CostOf cost) {
    if (kept.size() >= kKeptFillsMost) return true;
    if (kept.size() < kKeptFills) return false;
    size_t total = 0;
    for (const auto& k : kept) total += cost(k);
    return total > kKeptPoints;
}

size_t PointsOf(const std::vector<std::vector<tagPOINTF>>& points) {
    size_t n = 0;
    for (const auto& p : points) n += p.size();
    return n;
}

// The points a kept fill shape holds: its hatch paths and its children.
size_t PointsOf(const std::vector<CFilledShape*>& fills) {
    size_t n = 0;
    for (CFilledShape* fill : fills) {
        if (fill == nullptr) continue;
        for (int i = 0; i < 4; ++i)
            if (Gdiplus::GraphicsPath* path = fill->GetFillPathOf(i)) n += static_cast<size_t>(path->GetPointCount());
        for (CBaseShape* child : fill->GetChildren()) {
            auto* line = dynamic_cast<CPolyLine*>(child);
            n += line != nullptr ? line->arrPoint.size() : 1;
        }
    }
    return n;
}

size_t PointsOf(const std::vector<FONTSCHAR*>& chars) {
    size_t n = 0;
    for (const FONTSCHAR* ch : chars)
        if (ch != nullptr) n += ch->points.size();
    return n;
}

}  // namespace

std::vector<std::vector<tagPOINTF>> CFonts::CharPoints() const {
    std::vector<std::vector<tagPOINTF>> out;
    for (const FONTSCHAR* ch : m_arrChars) out.push_back(ch != nullptr ? ch->points : std::vector<tagPOINTF>());
    return out;
}

void CFonts::CopyShapeState(CBaseShape* from, CBaseShape* to) {
    if (from == nullptr || to == nullptr) return;
    // The flip state and switches a shape saves besides its geometry.
    if (from->IsZoomAntiX() != to->IsZoomAntiX()) to->CBaseShape::Zoom({0, 0}, -1.0, 1.0);
    if (from->IsZoomAntiY() != to->IsZoomAntiY()) to->CBaseShape::Zoom({0, 0}, 1.0, -1.0);
    if (from->IsAntiPath() != to->IsAntiPath()) to->SetPathState();
    to->SetMirrorFlag(from->GetMirrorFlag());
    to->SetReverseOrder(from->IsReverseOrder());
    to->SetLinkFlag(from->GetLinkFlag());
    to->GetLinkedIDs() = from->GetLinkedIDs();
    to->SetVisible(from->IsVisible());
}

void CFonts::CopyFillState(CFilledShape* from, CFilledShape* to) {
    if (from == nullptr || to == nullptr) return;
    CopyShapeState(from, to);
    std::vector<CBaseShape*>& a = from->GetChildren();
    std::vector<CBaseShape*>& b = to->GetChildren();
    for (size_t k = 0, n = 0; k < a.size() && n < b.size(); ++k)
        if (a[k] != nullptr) CopyShapeState(a[k], b[n++]);
}

std::vector<CFilledShape*> CFonts::CopyFills(const std::vector<CFilledShape*>& fills) {
    std::vector<CFilledShape*> out;
    for (CFilledShape* fill : fills) {
        auto* copy = fill != nullptr ? static_cast<CFilledShape*>(fill->Clone()) : nullptr;
        if (copy != nullptr) {
            copy->SetBaseID(fill->GetBaseID());
            copy->SetCaption(fill->GetCaption());
            CopyFillState(fill, copy);
            std::vector<CBaseShape*>& from = fill->GetChildren();
            std::vector<CBaseShape*>& to = copy->GetChildren();
            for (size_t k = 0, n = 0; k < from.size() && n < to.size(); ++k)
                if (from[k] != nullptr) to[n++]->SetBaseID(from[k]->GetBaseID());
        }
        out.push_back(copy);
    }
    return out;
}

void CFonts::KeepReplacedFill() {
    // A fill, or the empty fill shapes of a text without one: their
    // parameters and identities are not those a new fill would give them.
    m_lastKept = 0;
    bool any = false;
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr && (!fill->GetChildren().empty() || bFilled == 0)) any = true;
    // A filled text without fill shapes (an SHX text) holds its fill in its
    // switch and parameters alone: they are what an undo gives back.
    if (m_arrFills.empty() && bFilled != 0) any = true;
    if (!any) return;
    ReplacedFill kept;
    kept.fills = CopyFills(m_arrFills);
    kept.points = CharPoints();
    kept.filled = bFilled;
    kept.par = parFill;
    PushReplacedFill(std::move(kept));
    m_lastKept = m_replacedFills.back().serial;
}

void CFonts::PushReplacedFill(ReplacedFill kept) {
    kept.serial = ++m_keptSerial;
    kept.cost = PointsOf(kept.fills) + PointsOf(kept.points);
    m_replacedFills.push_back(std::move(kept));
    while (OverKeptBudget(m_replacedFills, [](const ReplacedFill& k) { return k.cost; })) {
        for (CFilledShape* fill : m_replacedFills.front().fills) DestroyFill(fill, true);
        m_replacedFills.erase(m_replacedFills.begin());
    }
}

void CFonts::KeepLaidOutFill(std::vector<CFilledShape*>& fills, const std::vector<FONTSCHAR*>& chars) {
    bool any = false;
    for (CFilledShape* fill : fills)
        if (fill != nullptr && !fill->GetChildren().empty()) any = true;
    if (!any) return;
    ReplacedFill kept;
    kept.fills = fills;
    std::fill(fills.begin(), fills.end(), nullptr);
    for (const FONTSCHAR* ch : chars) kept.points.push_back(ch != nullptr ? ch->points : std::vector<tagPOINTF>());
    kept.filled = bFilled;
    kept.par = parFill;
    PushReplacedFill(std::move(kept));
}

void CFonts::FreeReplacedFills() {
    for (ReplacedFill& kept : m_replacedFills)
        for (CFilledShape* fill : kept.fills) DestroyFill(fill, true);
    m_replacedFills.clear();
}

void CFonts::KeepReplacedLayout(LayoutSnapshot& s) {
    auto kept = std::make_unique<ReplacedLayout>();
    kept->old = s;
    kept->old.chars.swap(s.chars);
    kept->old.backup.swap(s.backup);
    kept->old.fills.swap(s.fills);
    // The points after the new layout are added later: as many as before.
    kept->cost = 2 * PointsOf(kept->old.chars) + PointsOf(kept->old.backup) + PointsOf(kept->old.fills);
    m_replacedLayouts.push_back(std::move(kept));
    while (OverKeptBudget(m_replacedLayouts, [](const std::unique_ptr<ReplacedLayout>& l) { return l->cost; })) {
        FreeLayoutParts(m_replacedLayouts.front()->old);
        m_replacedLayouts.erase(m_replacedLayouts.begin());
    }
}

void CFonts::FreeLayoutParts(LayoutSnapshot& s) {
    for (FONTSCHAR* ch : s.chars) delete ch;
    for (FONTSCHAR* ch : s.backup) delete ch;
    for (CFilledShape* fill : s.fills) DestroyFill(fill, true);
    s.chars.clear();
    s.backup.clear();
    s.fills.clear();
}

void CFonts::FreeReplacedLayouts() {
    for (auto& kept : m_replacedLayouts) FreeLayoutParts(kept->old);
    m_replacedLayouts.clear();
}

namespace {

// Two records alike in every saved field.
// v takes want's value when the two differ only by rounding.
template <class T>
void SnapWithinRounding(T& v, T want) {
    if (std::fabs(v - want) <= 1e-6 * (1.0 + std::fabs(want))) v = want;
}

template <class R>
bool SameRecord(const R& a, const R& b) {
    R x = a, y = b;
    SriFile fa, fb;
    x.Save(true, &fa);
    y.Save(true, &fb);
    return fa.GetWrittenBytes() == fb.GetWrittenBytes();
}

}  // namespace

bool CFonts::RestoreReplacedLayout(const CString& text, int fontType, const CString& fontName,
                                   const FONTS_PAR* fonts, const CODEBAR_PAR* codebar) {
    const std::vector<std::vector<tagPOINTF>> now = CharPoints();
    // Points alone do not tell two kept layouts apart when a change left
    // the outlines as they were (a barcode turned inverse): the records
    // asked for must be those the kept layout held.
    // The sizes within rounding: a transform and its inverse in float
    // leave the last bits of a ratio computed from them.
    auto sameRecords = [&](const LayoutSnapshot& o) {
        if (fonts != nullptr) {
            FONTS_PAR asked = *fonts;
            for (auto [a, b] : {std::pair{&asked.dHeight, o.fonts.dHeight}, {&asked.dWidthRatio, o.fonts.dWidthRatio},
                                {&asked.dScaleX, o.fonts.dScaleX}, {&asked.dScaleY, o.fonts.dScaleY},
                                {&asked.dCharSpace, o.fonts.dCharSpace}, {&asked.dLineSpace, o.fonts.dLineSpace}})
                SnapWithinRounding(*a, b);
            SnapWithinRounding(asked.fSpacing, o.fonts.fSpacing);
            if (!SameRecord(o.fonts, asked)) return false;
        }
        if (codebar == nullptr) return true;
        CODEBAR_PAR asked = *codebar;
        asked.nCodeType = o.codebar.nCodeType;
        SnapWithinRounding(asked.fBarHeight, o.codebar.fBarHeight);
        SnapWithinRounding(asked.fModuleWidth, o.codebar.fModuleWidth);
        for (auto [a, b] : {std::pair{&asked.dTextHeight, o.codebar.dTextHeight},
                            {&asked.dTextWidth, o.codebar.dTextWidth}, {&asked.dTextOffsetX, o.codebar.dTextOffsetX},
                            {&asked.dTextOffsetY, o.codebar.dTextOffsetY}})
            SnapWithinRounding(*a, b);
        for (auto [a, b] : {std::pair{&asked.fFrameLeft, o.codebar.fFrameLeft}, {&asked.fFrameTop, o.codebar.fFrameTop},
                            {&asked.fFrameRight, o.codebar.fFrameRight},
                            {&asked.fFrameBottom, o.codebar.fFrameBottom}})
            SnapWithinRounding(*a, b);
        return SameRecord(o.codebar, asked);
    };
    auto match = m_replacedLayouts.rbegin();
    for (; match != m_replacedLayouts.rend(); ++match) {
        const LayoutSnapshot& o = (*match)->old;
        if (o.text == text && o.fontType == fontType && o.fontName == fontName && SamePoints((*match)->after, now) &&
            sameRecords(o))
            break;
    }
    if (match == m_replacedLayouts.rend()) return false;
    std::unique_ptr<ReplacedLayout> kept = std::move(*match);
    m_replacedLayouts.erase(std::next(match).base());
    LayoutSnapshot& s = kept->old;
    // The identities of the fills that go stay known, as a new layout
    // would keep them for the next.
    for (size_t j = 0; j < m_arrFills.size(); ++j) RememberFill(j, m_arrFills[j]);
    PutBackLayout(s);
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->SetDocView(m_pDoc, m_pView);
    m_arrPtBackup = s.ptBackup;
    m_arrBarPos = s.barPos;
    m_bRefillAfterLayout = s.refill;
    bFilled = s.filled;
    parFill = s.fill;
    fWidthZoom = s.widthZoom;
    fHeightZoom = s.heightZoom;
    fCharWidthTransRate = s.charRate;
    ptCenter = s.centre;
    dRad = s.rad;
    SetPathFontPara(s.baseAngle, s.angleScope, s.invert, s.alignTop, s.inside);
    m_bArcChangePending = false;
    m_bRecord = 1;
    InvalidateGeometry();
    return true;
}

bool CFonts::RestoreReplacedFill(const FILLED_PARS& fillPar, bool filled) {
    // The latest fill kept for these characters, parameters and state.
    const std::vector<std::vector<tagPOINTF>> now = CharPoints();
    auto match = m_replacedFills.rbegin();
    for (; match != m_replacedFills.rend(); ++match) {
        if (match->fills.size() == m_arrFills.size() && (match->filled != 0) == filled &&
            SamePoints(match->points, now) && SameFill(match->par, fillPar))
            break;
    }
    if (match == m_replacedFills.rend()) return false;
    ReplacedFill& kept = *match;
    for (size_t j = 0; j < m_arrFills.size(); ++j) {
        DestroyFill(m_arrFills[j], true);
        m_arrFills[j] = kept.fills[j];
        if (m_arrFills[j] != nullptr) m_arrFills[j]->SetDocView(m_pDoc, m_pView);
    }
    bFilled = kept.filled;
    parFill = kept.par;
    m_bRefillAfterLayout = 0;
    m_replacedFills.erase(std::next(match).base());
    m_lastKept = 0;
    InvalidateGeometry();
    return true;
}

CFonts::HeldFill::~HeldFill() {
    for (CFilledShape* fill : fills) DestroyFill(fill, true);
}

std::unique_ptr<CFonts::HeldFill> CFonts::TakeDeletedFill() {
    if (bFilled != 0 || m_lastKept == 0 || m_replacedFills.empty() || m_replacedFills.back().serial != m_lastKept)
        return nullptr;
    ReplacedFill& kept = m_replacedFills.back();
    auto held = std::make_unique<HeldFill>();
    held->fills.swap(kept.fills);
    held->points.swap(kept.points);
    held->filled = kept.filled;
    held->par = kept.par;
    m_replacedFills.pop_back();
    m_lastKept = 0;
    return held;
}

bool CFonts::PutBackFill(std::unique_ptr<HeldFill>& held) {
    if (held == nullptr || held->fills.size() != m_arrFills.size() || !SamePoints(held->points, CharPoints()))
        return false;
    for (size_t j = 0; j < m_arrFills.size(); ++j) {
        DestroyFill(m_arrFills[j], true);
        m_arrFills[j] = held->fills[j];
        held->fills[j] = nullptr;
        if (m_arrFills[j] != nullptr) m_arrFills[j]->SetDocView(m_pDoc, m_pView);
    }
    bFilled = held->filled;
    parFill = held->par;
    m_bRefillAfterLayout = 0;
    m_lastKept = 0;
    held.reset();
    InvalidateGeometry();
    return true;
}

std::vector<CFonts*> CFonts::LinkedTexts() {
    std::vector<CFonts*> out;
    if (m_pDoc == nullptr) return out;
    // A copy: the linked texts' own work may touch the list.
    const std::vector<GUID> ids = GetLinkedIDs();
    for (const GUID& id : ids) {
        auto* text = dynamic_cast<CFonts*>(m_pDoc->GetShapeByUUID(id));
        if (text != nullptr && text != this && std::find(out.begin(), out.end(), text) == out.end())
            out.push_back(text);
    }
    return out;
}

namespace {

// The texts whose fill from before the running SetFill (and the SetFill of
// the texts it reaches) is noted: a text that the links reach twice keeps
// the fill it had before the first.
thread_local int g_fillDepth = 0;
thread_local std::vector<const CFonts*> g_fillNoted;

struct FillScope {
    FillScope() { ++g_fillDepth; }
    ~FillScope() {
        if (--g_fillDepth == 0) g_fillNoted.clear();
    }
};

}  // namespace

void CFonts::NoteFillBefore() {
    if (g_fillDepth > 0) {
        if (std::find(g_fillNoted.begin(), g_fillNoted.end(), this) != g_fillNoted.end()) return;
        g_fillNoted.push_back(this);
    }
    m_fillBeforePar = parFill;
    m_fillBeforeFilled = bFilled;
    m_fillBeforeKnown = true;
}

void CFonts::GetFillBefore(FILLED_PARS& fillPar, int& filled) const {
    fillPar = m_fillBeforeKnown ? m_fillBeforePar : parFill;
    filled = m_fillBeforeKnown ? m_fillBeforeFilled : bFilled;
}

void CFonts::SetFill(FILLED_PARS& fillPar, bool textOnly) {
    const ShapeGuard guard(this);
    SetFillHeld(fillPar, textOnly);
}

void CFonts::SetFillHeld(FILLED_PARS& fillPar, bool textOnly) {
    const FillScope scope;
    NoteFillBefore();
    // The texts whose SetFill runs on this thread: texts linked to each
    // other (A to B and B to A) reach each one once instead of recursing
    // without end.
    thread_local std::vector<const CFonts*> filling;
    if (m_pDoc != nullptr) {
        filling.push_back(this);
        struct Pop {
            std::vector<const CFonts*>& list;
            ~Pop() { list.pop_back(); }
        } pop{filling};
        for (CFonts* text : LinkedTexts())
            if (std::find(filling.begin(), filling.end(), text) == filling.end()) text->SetFill(fillPar, textOnly);
    }
    FillOwn(fillPar, textOnly);
}

void CFonts::FillOwn(FILLED_PARS& fillPar, bool textOnly) {
    // What this fill replaces stays at hand for an undo.
    KeepReplacedFill();
    for (const SHAPE_FILLER_PARAM& set : fillPar.fillParams) {
        if (set.bEnable != 0 && set.nFillType != 0 && set.bWholeConsider != 0) {
            SetFill2(fillPar, textOnly);
            return;
        }
    }
    Log()->Write(L"CFonts::SetFill SetFill");
    const bool textFill = parCodebar.bTextFill != 0;
    const size_t count = m_arrFills.size();
    for (size_t j = 0; j < count; ++j) {
        CFilledShape* fill = m_arrFills[j];
        if (fill == nullptr) continue;
        RememberFill(j, fill);
        fill->FreeShapeList(parVarText.bEnable);
        if (!textFill) {
            fill->SetParam(fillPar);
            AddFillOutlines(fill, static_cast<int>(j), PT_ALL, GetPenIndex());
            ReuseOutlineIds(j, fill);
            fill->SetNoRedraw(1);
            if (WantsModuleFill(fillPar)) {
                FillModules(fill, fillPar);
            } else {
                fill->DoFill(1);
            }
        } else if (j == 0) {
            if (!textOnly) {
                fill->SetParam(fillPar);
                AddFillOutlines(fill, 0, PT_BAR, GetPenIndex());
                ReuseOutlineIds(0, fill);
                fill->SetNoRedraw(1);
                fill->DoFill(1);
            }
            if (count > 1 && m_arrFills[1] != nullptr) {
                CFilledShape* text = m_arrFills[1];
                RememberFill(1, text);
                text->FreeShapeList(1);
                text->SetParam(fillPar);
                AddFillOutlines(text, 0, PT_TEXT, static_cast<unsigned char>(parCodebar.nTextPen));
                ReuseOutlineIds(1, text);
                text->SetNoRedraw(1);
                text->DoFill(1);
            }
            break;
        }
    }
    bFilled = textOnly ? 0 : 1;
    parFill = fillPar;
    m_bRefillAfterLayout = 0;
    InvalidateGeometry();
}

void CFonts::SetFill2(FILLED_PARS& fillPar, bool textOnly) {
    NoteFillBefore();
    Log()->Write(L"CFonts::SetFill SetFill2");
    if (nFontType == FONT_TYPE_MATRIX) return;
    const bool textFill = parCodebar.bTextFill != 0;
    for (size_t j = 0; j < m_arrFills.size(); ++j) {
        CFilledShape* fill = m_arrFills[j];
        if (fill == nullptr) continue;
        RememberFill(j, fill);
        fill->FreeShapeList(1);
        fill->SetParam(fillPar);
    }
    // The whole text goes into the first fill shape as one set of outlines.
    if (!m_arrFills.empty() && m_arrFills[0] != nullptr) {
        for (size_t i = 0; i < m_arrChars.size(); ++i) {
            if (!textFill) {
                AddFillOutlines(m_arrFills[0], static_cast<int>(i), PT_ALL, GetPenIndex());
            } else if (!textOnly) {
                AddFillOutlines(m_arrFills[0], static_cast<int>(i), PT_BAR, GetPenIndex());
            }
        }
        if (textFill && m_arrFills.size() == 2 && m_arrFills[1] != nullptr)
            for (size_t i = 0; i < m_arrChars.size(); ++i)
                AddFillOutlines(m_arrFills[1], static_cast<int>(i), PT_TEXT,
                                static_cast<unsigned char>(parCodebar.nTextPen));
        for (size_t j = 0; j < m_arrFills.size() && j < 2; ++j) ReuseOutlineIds(j, m_arrFills[j]);
        if (!m_arrFills[0]->GetChildren().empty()) {
            m_arrFills[0]->SetNoRedraw(1);
            m_arrFills[0]->DoFill(1);
        }
        if (m_arrFills.size() > 1 && m_arrFills[1] != nullptr && !m_arrFills[1]->GetChildren().empty()) {
            m_arrFills[1]->SetParam(fillPar);
            m_arrFills[1]->SetNoRedraw(1);
            m_arrFills[1]->DoFill(1);
        }
    }
    bFilled = textOnly ? 0 : 1;
    parFill = fillPar;
    m_bRefillAfterLayout = 0;
    InvalidateGeometry();
}

void CFonts::DeleteFill() {
    const ShapeGuard guard(this);
    DeleteFillHeld();
}

void CFonts::DeleteFillHeld() {
    NoteFillBefore();
    KeepReplacedFill();
    bFilled = 0;
    for (size_t j = 0; j < m_arrFills.size(); ++j) RememberFill(j, m_arrFills[j]);
    if (parCodebar.bTextFill != 0 && m_arrFills.size() == 2) {
        if (m_arrFills[0] != nullptr) m_arrFills[0]->DeleteFill(false);
    } else {
        for (CFilledShape* fill : m_arrFills)
            if (fill != nullptr) fill->DeleteFill(true);
    }
    InvalidateGeometry();
}

// ---- the central setter ------------------------------------------------------------------------

void CFonts::SaveLayoutState(LayoutSnapshot& s) {
    s.text = m_strText;
    s.fontName = m_strFontName;
    s.wstrFontName = m_wstrFontName;
    s.fontType = nFontType;
    s.matric = bMatric;
    s.record = m_bRecord;
    s.barcodeSize = m_barcodeSize;
    s.fonts = parFonts;
    s.codebar = parCodebar;
    s.codebarInit = parCodebarInit;
    s.vartext = parVarText;
    s.typeName = GetTypeName();
    s.frame = m_arrFrame;
    s.initH = fInitStrHeight;
    s.initW = fInitStrWidth;
    s.pos = fontspos;
    s.ptBackup = m_arrPtBackup;
    s.barPos = m_arrBarPos;
    s.refill = m_bRefillAfterLayout;
    s.filled = bFilled;
    s.fill = parFill;
    s.widthZoom = fWidthZoom;
    s.heightZoom = fHeightZoom;
    s.charRate = fCharWidthTransRate;
    s.centre = ptCenter;
    s.rad = dRad;
    GetPathFontPara(s.baseAngle, s.angleScope, s.invert, s.alignTop, s.inside);
    if (m_bArcChangePending) {
        const int* a = m_arcOfLayout;
        std::tie(s.baseAngle, s.angleScope, s.invert, s.alignTop, s.inside) = std::tie(a[0], a[1], a[2], a[3], a[4]);
    }
}

void CFonts::TakeTextParams(const CString& text, int fontType, const CString& fontName, const FONTS_PAR& fonts,
                            const CODEBAR_PAR& codebar) {
    m_strText = text;
    m_strFontName = fontName;
    m_wstrFontName.assign(fontName.GetString(), static_cast<size_t>(fontName.GetLength()));
    parFonts = fonts;
    parCodebar = codebar;
    nFontType = fontType;
}

void CFonts::TakeLayoutParams(const CString& text, int fontType, const CString& fontName, const FONTS_PAR& fonts,
                              const CODEBAR_PAR& codebar, VARTEXT_PAR& vartext) {
    TakeTextParams(text, fontType, fontName, fonts, codebar);
    parVarText = GetCloneElements() && vartext.arrElements.size() >= 2 ? vartext.Clone() : vartext;
    if (fontType == FONT_TYPE_CODEBAR) m_arrBarPos.clear();
}

void CFonts::SetAsideOldLayout(LayoutSnapshot& s) {
    GetRectangle(s.oldRect);
    s.oldRef = fontspos;
    s.hadOutline = !m_arrChars.empty() && m_arrChars[0] != nullptr && !m_arrChars[0]->points.empty();
    if (s.hadOutline) s.oldRef = GetPosRefPoint(s.fonts.nRefPos);
    // The old layout is kept aside until the new one stands.
    s.chars.swap(m_arrChars);
    s.fills.swap(m_arrFills);
    s.backup.swap(m_arrCharsBackup);
    m_bRecord = 0;
    bMatric = 0;
}

bool CFonts::LayOutByType(const CString& text, int fontType, CString& fontName, [[maybe_unused]] FONTS_PAR& fonts,
                          [[maybe_unused]] CODEBAR_PAR& codebar) {
    TakeArcLayoutSize();
    switch (fontType) {
        case FONT_TYPE_CODEBAR: {
            // The symbol is encoded once, by the build itself: data or
            // parameters it refuses fail quietly here (the reason goes to
            // the run log), with the one message of an interactive call in
            // SetFonts.
            if (!SetCodebarPoints(false)) {
                Log()->WriteFormat(L"SetFonts !IsValidBarcode type:%d fontname:%s", fontType,
                                   static_cast<const wchar_t*>(fontName));
                return false;
            }
            m_strTypeName = CLang::Instance()->GetString("IDS_TYPENAME_CODEBAR");
            AddBarcodeFrame();
            InitRefPoint();
            return true;
        }
        case FONT_TYPE_MATRIX:
            nFontType = FONT_TYPE_MATRIX;
            bMatric = 1;
            if (!SetMatricPoint(text, fontName)) return false;
            InitRefPoint();
            DoSlope(GetPosRefPoint(parFonts.nRefPos), parFonts.dSlantAngle * M_PI / 180.0, 0);
            return true;
        case FONT_TYPE_SHX:
            m_strTypeName = CLang::Instance()->GetString("IDS_TYPENAME_TEXT");
            if (SetSinglelinePoint(text, fontName)) {
                InitRefPoint();
                DoSlope(GetPosRefPoint(parFonts.nRefPos), parFonts.dSlantAngle * M_PI / 180.0, 0);
                return true;
            }
            // Without its SHX fonts the text is laid out in TrueType, as a
            // new text is, and stays a TrueType text.
            Log()->Write(L"SetFonts SetSinglelinePoint fail");
            nFontType = FONT_TYPE_TRUETYPE;
            [[fallthrough]];
        default: {
            m_strTypeName = CLang::Instance()->GetString("IDS_TYPENAME_TEXT");
            if (!SetFontsPoint(text, fontName, false)) {
                Log()->WriteFormat(L"SetFonts SetFontsPoint fail fontname:%s", static_cast<const wchar_t*>(fontName));
                return false;
            }
            InitRefPoint();
            m_bRecord = 0;
            const double sy = parFonts.dHeight / kEmSize;
            const double sx = sy * parFonts.dWidthRatio / kNaturalWidth;
            DoZoom(GetPosRefPoint(parFonts.nRefPos), sx, sy);
            if (parFonts.dSlantAngle == 90.0) parFonts.dSlantAngle = 89.9;
            DoSlope(GetPosRefPoint(parFonts.nRefPos), parFonts.dSlantAngle * M_PI / 180.0, 0);
            return true;
        }
    }
}

void CFonts::RestoreLayoutState(LayoutSnapshot& s) {
    // The text stays as it was: outlines, parameters and recording.
    m_arcShown.active = false;
    PutBackLayout(s);
    m_bRecord = s.record;
    InvalidateGeometry();
}

void CFonts::PutBackLayout(LayoutSnapshot& s) {
    FreeAll(true);
    m_arrChars.swap(s.chars);
    m_arrFills.swap(s.fills);
    m_arrCharsBackup.swap(s.backup);
    m_arrFrame = s.frame;
    fInitStrHeight = s.initH;
    fInitStrWidth = s.initW;
    fontspos = s.pos;
    bMatric = s.matric;
    m_barcodeSize = s.barcodeSize;
    m_strTypeName = s.typeName;
    RestoreLayoutParams(s);
}

void CFonts::RestoreLayoutParams(const LayoutSnapshot& s) {
    m_strText = s.text;
    m_strFontName = s.fontName;
    m_wstrFontName = s.wstrFontName;
    nFontType = s.fontType;
    parFonts = s.fonts;
    parCodebar = s.codebar;
    parCodebarInit = s.codebarInit;
    parVarText = s.vartext;
}

int CFonts::IsValidBarcode(CString& text, int fontType, CString& fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar) {
    LayoutSnapshot saved;
    SaveLayoutState(saved);
    TakeTextParams(text, fontType, fontName, fonts, codebar);
    int result = 0;
    if (fontType == FONT_TYPE_CODEBAR) {
        parCodebarInit = parCodebar;
        CMyCodebar* wrapper = GetCodebarInstance();
        const int id = wrapper != nullptr ? wrapper->LookupCode(fontName, parCodebar.nCodeType) : -1;
        if (id == -1) {
            Log()->WriteFormat(L"IsValidBarcode nCodeType = %d", -1);
        } else {
            parCodebar.nCodeType = id;
            const int32_t rc = GenerateCodebar();
            if (rc == 0) {
                result = 1;
            } else {
                Log()->WriteFormat(L"IsValidBarcode nCodeType = %ld", static_cast<long>(rc));
            }
        }
    }
    if (result == 0) RestoreLayoutParams(saved);
    return result;
}

void CFonts::DropOldLayout(LayoutSnapshot& s) {
    // The new layout stands: the old one goes, fill outlines included. The
    // new fill shapes take the places (and identities) of the old ones.
    for (size_t j = 0; j < s.fills.size(); ++j) RememberFill(j, s.fills[j]);
    for (size_t j = 0; j < m_arrFills.size(); ++j) AdoptFillIdentity(j, m_arrFills[j]);
    // A variable text lays out anew for every mark: only other texts keep
    // the layout they replace, fills included, for the undo of the change.
    if (parVarText.bEnable == 0) {
        KeepReplacedLayout(s);
        return;
    }
    KeepLaidOutFill(s.fills, s.chars);
    FreeLayoutParts(s);
}

void CFonts::RefillAfterLayout() {
    // The fill follows the new outlines of this text only: a linked text
    // gets its own layout, and its refill, from its own SetFonts. Reaching
    // it from here would hatch its old outlines anew and overwrite a fill of
    // its own, which the undo of this layout could not give back.
    if (bFilled != 0) {
        Log()->Write(parVarText.bEnable != 0 ? L"SetFonts 变量文本 SetFill" : L"SetFonts 非变量文本 SetFill");
        FillOwn(parFill, false);
    } else if (parCodebar.bShowText != 0 && parCodebar.bTextFill != 0) {
        FillOwn(parFill, true);
    }
}

void CFonts::ReplayModificationsAfterLayout() {
    if (parFonts.bPathText != 0) return;
    for (const SHAPE_MODIFY& m : m_arrModify) {
        switch (m.cmd) {
            case 100: MoveHeld(static_cast<float>(m.par1), static_cast<float>(m.par2)); break;
            case 101: SlopeHeld(m.refPoint, m.par1, m.par2); break;
            case 102: RotateHeld(m.par1, m.refPoint); break;
            case 104: MirrorHeld(m.refPoint, 1); break;
            case 105: MirrorHeld(m.refPoint, 2); break;
            case 106: MirrorHeld(m.refPoint, 3); break;
            default: break;
        }
    }
    // A barcode measures its next zoom from its frame as it stands: a
    // replayed slant has changed the frame the layout measured upright.
    const bool slanted =
        std::any_of(m_arrModify.begin(), m_arrModify.end(), [](const SHAPE_MODIFY& m) { return m.cmd == 101; });
    if (nFontType == FONT_TYPE_CODEBAR && slanted && m_arrFrame.size() >= 4) {
        const double h = GetFakeHeight(), w = GetFakeWidth();
        if (h > 0 && w > 0) {
            fInitStrHeight = h;
            fInitStrWidth = w;
        }
    }
}

void CFonts::KeepPlaceOfOldLayout(const LayoutSnapshot& s) {
    const bool hasText = !m_strText.IsEmpty();
    // This face's texts keep their bottom edge, not their reference point.
    const bool browallia = m_strFontName == CString(L"BrowalliaIT9");
    Gdiplus::RectF newRect;
    GetRectangle(newRect);
    tagPOINTF oldRef = s.oldRef;
    tagPOINTF newRef = oldRef;
    if (hasText && !m_arrFrame.empty()) newRef = GetPosRefPoint(parFonts.nRefPos);
    // A two-dimensional code keeps its centre when its size changes.
    if (nFontType == FONT_TYPE_CODEBAR && parCodebar.Is2DCode() && s.hadOutline && hasText) {
        oldRef = {s.oldRect.X + s.oldRect.Width / 2, s.oldRect.Y - s.oldRect.Height / 2};
        newRef = {newRect.X + newRect.Width / 2, newRect.Y - newRect.Height / 2};
    }
    double dx = static_cast<double>(oldRef.x) - newRef.x;
    double dy = static_cast<double>(oldRef.y) - newRef.y;
    if (browallia) {
        dy = (static_cast<double>(oldRef.y) - s.oldRect.Height) - (static_cast<double>(newRef.y) - newRect.Height);
        const double gained = BrowalliaOneShift(s.text, m_strText, true);
        dy -= gained != 0.0 ? gained : s.oneShift;
    }
    if (!hasText) dx = dy = 0.0;
    if (parFonts.bPathText == 0) {
        if (dx != 0.0 || dy != 0.0) MoveHeld(static_cast<float>(dx), static_cast<float>(dy));
    } else if (nFontType == FONT_TYPE_TRUETYPE) {
        ResetAttachPt();
        GiveBackArcShownSize();
        if (m_bRefillAfterLayout != 0) FillOwn(parFill, false);
    } else {
        ReStoreSinglePt();
        GiveBackArcShownSize();
    }
}

void CFonts::FinishLayout(int noRefresh, bool interactive, LayoutAfter* after) {
    m_bRecord = 1;
    m_bArcChangePending = false;
    InvalidateGeometry();
    if (noRefresh == 0) {
        // The view and the document hear of it once the text is free: a
        // layout for a piece holds the event inside GetMarkData.
        RepaintViewWhenReleased();
        if (interactive && m_pDoc != nullptr) {
            if (after != nullptr) {
                after->notify = true;
            } else {
                CBaseDoc* doc = m_pDoc;
                WhenReleased([doc, this] { doc->OnShapeParamChanged(this, 0); }, this);
            }
        }
        if (parVarText.bEnable != 0) m_bVarBusy = 0;
    }
    // The zoom ratios stay as they were: they are the user's, saved with
    // the text, and a layout that reset them could not be undone.
}

int CFonts::SetFonts(CString text, int fontType, CString fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar,
                     VARTEXT_PAR& vartext, int noRefresh, int useVarText, bool interactive) {
    // The text's event is held for the whole change; the operator's message
    // and the document's notice come after it is given back.
    LayoutAfter after;
    int done = 0;
    {
        const ShapeGuard guard(this);
        done = SetFontsHeld(text, fontType, fontName, fonts, codebar, vartext, noRefresh, useVarText, interactive, &after);
    }
    if (after.message != nullptr) AfxMessageBox(CLang::Instance()->GetString(after.message).GetString(), MB_OK);
    if (after.notify && m_pDoc != nullptr) m_pDoc->OnShapeParamChanged(this, 0);
    return done;
}

int CFonts::SetFontsHeld(CString text, int fontType, CString fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar,
                         VARTEXT_PAR& vartext, int noRefresh, int useVarText, bool interactive, LayoutAfter* after) {
    auto ask = [after](const char* key) {
        if (after != nullptr) {
            after->message = key;
        } else {
            WhenReleased([key] { AfxMessageBox(CLang::Instance()->GetString(key).GetString(), MB_OK); });
        }
    };
    // A wait that fails leaves the event alone: it was never taken.
    if (WaitForSingleObject(m_hLayoutEvent, INFINITE) != WAIT_OBJECT_0) return 0;

    LayoutSnapshot saved;
    SaveLayoutState(saved);
    Log()->WriteFormat(L"SetFonts %s", static_cast<const wchar_t*>(text));
    // A variable text lays out the current values of its elements.
    if (vartext.bEnable != 0 && useVarText != 0) text = vartext.GetText(!interactive);

    // Numbers no layout can use are refused before anything changes.
    if (const wchar_t* bad = fontType == FONT_TYPE_CODEBAR ? nullptr : UnusableLayoutNumber(fonts)) {
        Log()->WriteFormat(L"SetFonts refused: unusable %s", bad);
        m_bCodeRefused = fontType == 2;
        SetEvent(m_hLayoutEvent);
        if (interactive) ask("MSG_PARAMETER_INCORRECT");
        return 0;
    }
    if (fontName == CString(L"BrowalliaIT9")) saved.oneShift = BrowalliaOneShift(m_strText, text, false);

    TakeLayoutParams(text, fontType, fontName, fonts, codebar, vartext);
    SetAsideOldLayout(saved);

    const bool laidOut = LayOutByType(text, fontType, fontName, fonts, codebar);
    // Whatever the numbers, no point that is not finite gets out.
    const bool finite = !laidOut || OutlinesFinite();
    if (!laidOut || !finite) {
        if (!finite) Log()->Write(L"SetFonts refused: the layout is not finite");
        RestoreLayoutState(saved);
        m_bCodeRefused = fontType == 2;
        SetEvent(m_hLayoutEvent);
        if ((fontType == FONT_TYPE_CODEBAR || !finite) && interactive) ask(finite ? "IDS_INVALID_BAR" : "MSG_PARAMETER_INCORRECT");
        return 0;
    }
    DropOldLayout(saved);
    m_bCodeRefused = false;
    RefillAfterLayout();
    ReplayModificationsAfterLayout();
    FitVariableTextWidth();
    KeepPlaceOfOldLayout(saved);
    FinishLayout(noRefresh, interactive, after);
    if (parVarText.bEnable == 0 && !m_replacedLayouts.empty()) m_replacedLayouts.back()->after = CharPoints();
    SetEvent(m_hLayoutEvent);
    return 1;
}

void CFonts::GetFonts(CString& text, int& fontType, CString& fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar,
                      VARTEXT_PAR& vartext) {
    // Marking a variable text lays it out anew: its content is read under
    // its event.
    const ShapeGuard guard(this);
    GetFontsHeld(text, fontType, fontName, fonts, codebar, vartext);
}

void CFonts::GetFontsHeld(CString& text, int& fontType, CString& fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar,
                          VARTEXT_PAR& vartext) {
    text = m_strText;
    fontName = m_strFontName;
    fontType = nFontType;
    fonts = parFonts;
    codebar = parCodebar;
    // A barcode's type is the one its font name stands for (its own when
    // the name stands for none). Any other text keeps the type it holds:
    // parameters read and set back unchanged change nothing.
    if (nFontType == FONT_TYPE_CODEBAR) {
        CMyCodebar* wrapper = GetCodebarInstance();
        const int id = wrapper != nullptr ? wrapper->LookupCode(m_strFontName, parCodebar.nCodeType) : -1;
        if (id >= 0) codebar.nCodeType = id;
    }
    vartext = parVarText;
}


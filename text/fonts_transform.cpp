// Transforms of the text shape, their recording as modifications and the
// replay after a new layout, the reference point of the frame, the size
// ratios, Clone and flattening.
#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "morvik/compose/filledshape.h"
#include "morvik/core/geometry.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/text/fonts.h"

namespace {

template <class F>
void ForEachPoint(std::vector<FONTSCHAR*>& chars, F f) {
    for (FONTSCHAR* ch : chars)
        if (ch != nullptr)
            for (tagPOINTF& p : ch->points) p = f(p);
}

}  // namespace

namespace {

bool SamePoint(tagPOINTF a, tagPOINTF b) { return a.x == b.x && a.y == b.y; }

// Whether modification b takes back modification a, so that the two
// together leave every point where it was. A zoom record is not replayed
// and is handled with its companion by Zoom.
bool Cancels(const SHAPE_MODIFY& a, const SHAPE_MODIFY& b) {
    if (a.cmd != b.cmd) return false;
    switch (a.cmd) {
        case 100: {
            // A move back by a difference of two positions in float (the
            // undo of a dialog's move) may differ from the move in its last
            // bits: it still takes it back.
            auto opposite = [](double x, double y) { return std::fabs(x + y) <= 1e-6 * (1.0 + std::fabs(x)); };
            return opposite(a.par1, b.par1) && opposite(a.par2, b.par2);
        }
        case 101:
            // A shear along one axis is undone by its opposite; one along
            // both is not (the pair scales).
            return SamePoint(a.refPoint, b.refPoint) && a.par1 == -b.par1 && a.par2 == -b.par2 &&
                   (a.par1 == 0.0 || a.par2 == 0.0);
        case 102:
            return SamePoint(a.refPoint, b.refPoint) &&
                   (a.par1 == -b.par1 || (std::fabs(a.par1) == 180.0 && std::fabs(b.par1) == 180.0));
        case 104:
        case 105:
        case 106:
            return SamePoint(a.refPoint, b.refPoint);
        default:
            return false;
    }
}

}  // namespace

void CFonts::Record(int cmd, double par1, double par2, tagPOINTF ref) {
    if (m_bRecord == 0) return;
    // A move by nothing changes nothing to replay.
    if (cmd == 100 && par1 == 0.0 && par2 == 0.0) return;
    SHAPE_MODIFY m;
    m.cmd = cmd;
    m.par1 = par1;
    m.par2 = par2;
    m.refPoint = ref;
    // A modification that takes back the last one (the undo of an edit,
    // or the second of two flips) removes it instead of adding to it: the
    // list keeps the net modifications and stays as long as they are.
    if (!m_arrModify.empty() && Cancels(m_arrModify.back(), m)) {
        m_arrModify.pop_back();
        return;
    }
    m_arrModify.push_back(m);
}

void CFonts::KeepRatios(const RatiosAt& was) {
    const size_t now = m_arrModify.size();
    if (now > was.index) {
        m_ratioStack.push_back(was);
        return;
    }
    if (now == was.index) return;
    // The record at index now was taken back: so are the ratios it changed.
    while (!m_ratioStack.empty() && m_ratioStack.back().index > now) m_ratioStack.pop_back();
    if (!m_ratioStack.empty() && m_ratioStack.back().index == now) {
        const RatiosAt& kept = m_ratioStack.back();
        fWidthZoom = kept.width;
        fHeightZoom = kept.height;
        fInitStrWidth = kept.initW;
        fInitStrHeight = kept.initH;
        m_ratioStack.pop_back();
    }
}

// Records a zoom with its companion for a change of sign; a zoom that takes
// back the last recorded one (same point, inverse factors, the same
// companion) removes it instead.
void CFonts::RecordZoom(double sx, double sy, tagPOINTF centre) {
    if (m_bRecord == 0) return;
    int companion = 0;
    if (sx < 0 && sy < 0) {
        companion = 102;
    } else if (sx > 0 && sy < 0) {
        companion = 105;
    } else if (sx < 0 && sy > 0) {
        companion = 104;
    }
    const size_t n = m_arrModify.size();
    const size_t k = companion != 0 ? 2 : 1;
    if (n >= k) {
        const SHAPE_MODIFY& z = m_arrModify[n - k];
        const bool inverse = z.cmd == 103 && SamePoint(z.refPoint, centre) && std::fabs(z.par1 * sx - 1.0) < 1e-9 &&
                             std::fabs(z.par2 * sy - 1.0) < 1e-9;
        const bool sameCompanion = companion == 0 || (m_arrModify[n - 1].cmd == companion &&
                                                      SamePoint(m_arrModify[n - 1].refPoint, centre));
        if (inverse && sameCompanion) {
            m_arrModify.resize(n - k);
            return;
        }
    }
    SHAPE_MODIFY m;
    m.cmd = 103;
    m.par1 = sx;
    m.par2 = sy;
    m.refPoint = centre;
    m_arrModify.push_back(m);
    if (companion != 0) {
        m.cmd = companion;
        m.par1 = companion == 102 ? 180.0 : 0.0;
        m.par2 = 0.0;
        m_arrModify.push_back(m);
    }
}

namespace {

// A transform with a number that is not finite would turn every point of
// the text into one that is not either: such a call changes nothing.
bool Finite(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

namespace {

// Whether every point of the text, its frame, its position and its fills
// stays within float under the map: a transform whose numbers are finite
// can still overflow (a zoom by 1e30), and then changes nothing.
bool TextTakesMap(CFonts& text, const AffineMap& map, tagPOINTF position) {
    for (FONTSCHAR* ch : text.GetChars())
        if (ch != nullptr && !geom::MapsFinite(map, ch->points)) return false;
    if (!geom::MapsFinite(map, text.GetFrame()) || !geom::MapsFinite(map, std::vector<tagPOINTF>{position}))
        return false;
    for (CFilledShape* fill : text.GetFills())
        if (fill != nullptr && !fill->TakesMap(map)) return false;
    return true;
}

}  // namespace

// ---- the five transforms ----------------------------------------------------------------------

int CFonts::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    return MoveHeld(dx, dy);
}

int CFonts::MoveHeld(float dx, float dy) {
    if (!Finite({dx, dy}) || !TextTakesMap(*this, AffineMap::Move(dx, dy), fontspos)) return kRefused;
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->Move(dx, dy);
    ForEachPoint(m_arrChars, [&](tagPOINTF p) { return tagPOINTF{p.x + dx, p.y + dy}; });
    for (tagPOINTF& p : m_arrFrame) p = {p.x + dx, p.y + dy};
    if (m_bRecord != 0) {
        fontspos = {fontspos.x + dx, fontspos.y + dy};
        Record(100, dx, dy, {0, 0});
    }
    return CBaseShape::Move(dx, dy);
}

int CFonts::MoveAtt(float dx, float dy) {
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->Move(dx, dy);
    ForEachPoint(m_arrChars, [&](tagPOINTF p) { return tagPOINTF{p.x + dx, p.y + dy}; });
    InvalidateGeometry();
    return 0;
}

int CFonts::Rotate(double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    return RotateHeld(angle, centre);
}

int CFonts::RotateHeld(double angle, tagPOINTF centre) {
    if (!Finite({angle, centre.x, centre.y}) || !TextTakesMap(*this, AffineMap::Rotate(angle, centre), fontspos))
        return kRefused;
    Record(102, angle, 0, centre);
    RotateAtt(angle, centre);
    for (tagPOINTF& p : m_arrFrame) p = PointfRotate(p, centre, angle);
    CBaseShape::Rotate(angle, centre);
    return 0;
}

int CFonts::RotateAtt(double angle, tagPOINTF centre) {
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->Rotate(angle, centre);
    ForEachPoint(m_arrChars, [&](tagPOINTF p) { return PointfRotate(p, centre, angle); });
    InvalidateGeometry();
    return 0;
}

int CFonts::Slope(tagPOINTF centre, double a, double b) {
    const ShapeGuard guard(this);
    return SlopeHeld(centre, a, b);
}

int CFonts::SlopeHeld(tagPOINTF centre, double a, double b) {
    if (!Finite({a, b, centre.x, centre.y, std::tan(a), std::tan(b)}) ||
        !TextTakesMap(*this, AffineMap::Slope(a, b, centre), fontspos))
        return kRefused;
    if (a == 0.0 && b == 0.0) return 0;
    DoSlope(centre, a, b);
    if (m_bRecord != 0) {
        const RatiosAt was = RatiosNow();
        Record(101, a, b, centre);
        CalculateHeightAndWidthRate(1.0, 1.0);
        KeepRatios(was);
    }
    CBaseShape::Slope(centre, a, b);
    return 0;
}

int CFonts::DoSlope(tagPOINTF centre, double a, double b) {
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->Slope(centre, a, b);
    ForEachPoint(m_arrChars, [&](tagPOINTF p) { return PointfSlope(p, a, b, centre); });
    for (tagPOINTF& p : m_arrFrame) p = PointfSlope(p, a, b, centre);
    InvalidateGeometry();
    return 0;
}

int CFonts::Zoom(tagPOINTF centre, double sx, double sy) {
    const ShapeGuard guard(this);
    return ZoomHeld(centre, sx, sy);
}

int CFonts::ZoomHeld(tagPOINTF centre, double sx, double sy) {
    if (!Finite({sx, sy, centre.x, centre.y}) || !TextTakesMap(*this, AffineMap::Zoom(sx, sy, centre), fontspos))
        return kRefused;
    // A zoomed fill is hatched anew: the hatch from before stays at hand
    // for the zoom that takes this one back.
    if (m_bRecord != 0) KeepReplacedFill();
    DoZoom(centre, sx, sy);
    if (m_bRecord != 0) {
        const RatiosAt was = RatiosNow();
        RecordZoom(sx, sy, centre);
        CalculateHeightAndWidthRate(sx, sy);
        KeepRatios(was);
        fontspos = PointfZoom(fontspos, sx, sy, centre);
        if (m_arrModify.size() < was.index) {
            FILLED_PARS par = parFill;
            RestoreReplacedFill(par, bFilled != 0);
        }
    }
    CBaseShape::Zoom(centre, sx, sy);
    Gdiplus::RectF r;
    GetRectangle(r);
    return 0;
}

int CFonts::DoZoom(tagPOINTF centre, double sx, double sy) {
    if (bFilled != 0) {
        for (CFilledShape* fill : m_arrFills)
            if (fill != nullptr) fill->Zoom(centre, sx, sy);
    } else if (parCodebar.bTextFill != 0 && m_arrFills.size() == 2 && m_arrFills[1] != nullptr) {
        m_arrFills[1]->Zoom(centre, sx, sy);
    }
    ForEachPoint(m_arrChars, [&](tagPOINTF p) { return PointfZoom(p, sx, sy, centre); });
    for (tagPOINTF& p : m_arrFrame) p = PointfZoom(p, sx, sy, centre);
    // The accumulated scale factors are the user's zooms: the layout's own
    // scale to the character size (made with recording off) is not one.
    if (m_bRecord != 0) {
        parFonts.dScaleX *= sx;
        parFonts.dScaleY *= sy;
    }
    InvalidateGeometry();
    return 0;
}

int CFonts::Mirror(tagPOINTF centre, int mode) {
    const ShapeGuard guard(this);
    return MirrorHeld(centre, mode);
}

int CFonts::MirrorHeld(tagPOINTF centre, int mode) {
    if (!Finite({centre.x, centre.y}) ||
        (mode >= 1 && mode <= 3 && !TextTakesMap(*this, AffineMap::Mirror(mode, centre), fontspos)))
        return kRefused;
    Record(mode == 2 ? 105 : mode == 3 ? 106 : 104, 0, 0, centre);
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->Mirror(centre, mode);
    if (mode >= 1 && mode <= 3) {
        ForEachPoint(m_arrChars, [&](tagPOINTF p) { return PointfMirror(p, centre, mode); });
        if (!m_arrChars.empty())
            for (tagPOINTF& p : m_arrFrame) p = PointfMirror(p, centre, mode);
    }
    CBaseShape::Mirror(centre, mode);
    Gdiplus::RectF r;
    GetRectangle(r);
    return 0;
}

// ---- reference point and ratios -------------------------------------------------------------

tagPOINTF CFonts::GetPosRefPoint(int pos) {
    if (m_arrFrame.size() >= 4) {
        const tagPOINTF d{m_arrFrame[2].x - m_arrFrame[3].x, m_arrFrame[2].y - m_arrFrame[3].y};
        if (pos == 0) return {m_arrFrame[0].x - d.x / 2, m_arrFrame[0].y - d.y / 2};
        if (pos == 1) return m_arrFrame[3];
        return {m_arrFrame[1].x - d.x / 2, m_arrFrame[1].y - d.y / 2};
    }
    Gdiplus::RectF r;
    GetRectangle(r);
    return {r.X, r.Y};
}

void CFonts::CalculateHeightAndWidthRate(double rx, double ry) {
    const double h = GetFakeHeight();
    const double w = GetFakeWidth();
    const double h0 = parFonts.dHeight;
    // The fixed width of a variable text follows the zoom along the axis
    // the font record names, so that the next layout keeps the width the
    // text was zoomed to (a mirroring zoom keeps its sign in the recorded
    // mirror, not in the width).
    if (nFontType != FONT_TYPE_CODEBAR && !parVarText.arrElements.empty() && parVarText.arrElements[0] != nullptr) {
        const double r = std::fabs(parFonts.bVarWidthByY != 0 ? ry : rx);
        float& width = parVarText.arrElements[0]->advPar.fCharWidth;
        const double scaled = width * r;
        if (std::isfinite(scaled) && r > 0 && std::fabs(scaled) <= 1e6) width = static_cast<float>(scaled);
    }
    // A text without extent keeps its ratios: nothing divides by zero.
    if (!(fInitStrWidth > 0) || !(fInitStrHeight > 0) || !(h > 0) || !(w > 0)) return;
    fWidthZoom = w / fInitStrWidth;
    fHeightZoom = h / fInitStrHeight;
    if (nFontType == FONT_TYPE_CODEBAR) {
        parCodebar.fBarHeight = static_cast<float>(parCodebar.fBarHeight * fHeightZoom);
        parCodebar.fModuleWidth = static_cast<float>(parCodebar.fModuleWidth * fWidthZoom);
        // The frame margins and the readable text follow the symbol.
        for (float* m : {&parCodebar.fFrameLeft, &parCodebar.fFrameTop, &parCodebar.fFrameRight,
                         &parCodebar.fFrameBottom})
            *m = static_cast<float>(*m * fWidthZoom);
        parCodebar.dTextHeight *= fHeightZoom;
        parCodebar.dTextOffsetY *= fHeightZoom;
        parCodebar.dTextWidth *= fWidthZoom;
        parCodebar.dTextOffsetX *= fWidthZoom;
        fInitStrWidth = w;
        fInitStrHeight = h;
        return;
    }
    if (nFontType == FONT_TYPE_SHX || nFontType == FONT_TYPE_MATRIX) {
        parFonts.dHeight = std::fabs(parFonts.dHeight * fHeightZoom);
        parFonts.dWidthRatio = parFonts.dWidthRatio * fWidthZoom / fHeightZoom;
    } else {
        parFonts.dHeight = std::fabs(kEmSize * fHeightZoom);
        parFonts.dWidthRatio = kNaturalWidth * fWidthZoom / fHeightZoom;
    }
    if (h0 != 0) parFonts.fSpacing = static_cast<float>(parFonts.dHeight / h0 * parFonts.fSpacing);
    if (nFontType == FONT_TYPE_SHX || nFontType == FONT_TYPE_MATRIX) {
        fInitStrWidth = w;
        fInitStrHeight = h;
    }
}

// ---- replay of the modification list ------------------------------------------------------------

void CFonts::ReplayModifications() {
    // The points move alone (no new records): zooms are in the new layout
    // already, every other modification is made again in its order.
    const std::vector<SHAPE_MODIFY> list = m_arrModify;
    for (const SHAPE_MODIFY& m : list) {
        switch (m.cmd) {
            // The frame goes with the characters, as in the transform that
            // was recorded.
            case 100: {
                const float dx = static_cast<float>(m.par1), dy = static_cast<float>(m.par2);
                MoveAtt(dx, dy);
                for (tagPOINTF& p : m_arrFrame) p = {p.x + dx, p.y + dy};
                break;
            }
            case 101: SlopeHeld(m.refPoint, m.par1, m.par2); break;
            case 102:
                RotateAtt(m.par1, m.refPoint);
                for (tagPOINTF& p : m_arrFrame) p = PointfRotate(p, m.refPoint, m.par1);
                break;
            // The layout was made at the size from before the zooms: each
            // is made again, its sign by the companion record behind it.
            case 103:
                if (m_arcShown.active) DoZoom(m.refPoint, std::fabs(m.par1), std::fabs(m.par2));
                break;
            case 104: MirrorHeld(m.refPoint, 1); break;
            case 105: MirrorHeld(m.refPoint, 2); break;
            case 106: MirrorHeld(m.refPoint, 3); break;
            default: break;
        }
    }
    FreeCharList(m_arrCharsBackup);
}

void CFonts::ModifiedFrameScale(double& width, double& height) const {
    // The linear part of the modifications, one after the other:
    // [[a, b], [c, d]] applied to column vectors (x, y).
    double a = 1, b = 0, c = 0, d = 1;
    auto then = [&](double m00, double m01, double m10, double m11) {
        const double na = m00 * a + m01 * c, nb = m00 * b + m01 * d;
        const double nc = m10 * a + m11 * c, nd = m10 * b + m11 * d;
        a = na, b = nb, c = nc, d = nd;
    };
    for (const SHAPE_MODIFY& m : m_arrModify) {
        switch (m.cmd) {
            case 101: then(1, -std::tan(m.par1), -std::tan(m.par2), 1); break;
            case 102: {
                const double r = m.par1 * M_PI / 180.0;
                then(std::cos(r), -std::sin(r), std::sin(r), std::cos(r));
                break;
            }
            case 103: then(std::fabs(m.par1), 0, 0, std::fabs(m.par2)); break;
            case 104: then(-1, 0, 0, 1); break;
            case 105: then(1, 0, 0, -1); break;
            case 106: then(-1, 0, 0, -1); break;
            default: break;
        }
    }
    // The frame's horizontal line runs along x; its height is measured
    // across that line (the frame's area over its width).
    width = std::hypot(a, c);
    height = width > 0 ? std::fabs(a * d - b * c) / width : 0.0;
}

void CFonts::TakeArcLayoutSize() {
    m_arcShown.active = false;
    // Barcodes are never bent onto a circle.
    if (parFonts.bPathText == 0 || nFontType == FONT_TYPE_CODEBAR) return;
    double wz = 1, hz = 1;
    ModifiedFrameScale(wz, hz);
    // A list that flattened the frame cannot be taken back: such a text is
    // laid out at the size it shows.
    if (!(wz > 0) || !(hz > 0) || !std::isfinite(wz) || !std::isfinite(hz)) return;
    m_arcShown = {true, parFonts.dHeight, parFonts.dWidthRatio, parFonts.fSpacing};
    // The zooms and slants made the height and width factor what they are
    // (CalculateHeightAndWidthRate): height times the frame's height scale,
    // width factor times the width scale over the height scale.
    parFonts.dHeight /= hz;
    parFonts.dWidthRatio *= hz / wz;
    parFonts.fSpacing = static_cast<float>(parFonts.fSpacing / hz);
}

void CFonts::GiveBackArcShownSize() {
    if (!m_arcShown.active) return;
    m_arcShown.active = false;
    parFonts.dHeight = m_arcShown.height;
    parFonts.dWidthRatio = m_arcShown.widthRatio;
    parFonts.fSpacing = m_arcShown.spacing;
    // Single-line and dot-matrix texts measure their zooms from the frame
    // as it stands, which the replay has made again.
    if (nFontType == FONT_TYPE_SHX || nFontType == FONT_TYPE_MATRIX) {
        fInitStrHeight = GetFakeHeight();
        fInitStrWidth = GetFakeWidth();
    }
}

void CFonts::ReStoreSinglePt() {
    size_t k = 0;
    for (FONTSCHAR* ch : m_arrChars) {
        if (ch == nullptr) continue;
        for (tagPOINTF& p : ch->points) {
            if (k >= m_arrPtBackup.size()) break;
            p = m_arrPtBackup[k++];
        }
    }
    ReplayModifications();
}

void CFonts::ResetAttachPt() {
    for (size_t i = 0; i < m_arrCharsBackup.size() && i < m_arrChars.size(); ++i) {
        const FONTSCHAR* b = m_arrCharsBackup[i];
        FONTSCHAR* ch = m_arrChars[i];
        if (b == nullptr || ch == nullptr) continue;
        for (size_t j = 0; j < b->points.size() && j < ch->points.size(); ++j) ch->points[j] = b->points[j];
    }
    ReplayModifications();
}

// ---- copies -----------------------------------------------------------------------------------

CBaseShape* CFonts::Clone() {
    auto* copy = new CFonts();
    copy->SetDocView(m_pDoc, m_pView);
    static_cast<TextParams&>(*copy) = *this;
    static_cast<TextLayoutFields&>(*copy) = *this;
    // A copy owns its elements: marking it must not move the original.
    copy->parVarText = parVarText.Clone();
    for (FONTSCHAR* ch : m_arrChars)
        if (ch != nullptr) copy->m_arrChars.push_back(ch->Clone());
    // Every fill shape is copied: a barcode has two for its one character
    // (the bars' and the readable text's), and a copy without them would
    // mark its readable text with the bars.
    // A fill keeps its caption (its character's): the save tells the
    // fills a load makes again by it, and a copy saves as its source does.
    for (CFilledShape* fill : m_arrFills) {
        if (fill == nullptr) continue;
        fill->SetDocView(m_pDoc, m_pView);
        auto* twin = static_cast<CFilledShape*>(fill->Clone());
        twin->SetCaption(fill->GetCaption());
        CopyFillState(fill, twin);
        copy->m_arrFills.push_back(twin);
    }
    copy->SetVisible(IsVisible());
    copy->m_strTypeName = m_strTypeName;
    Gdiplus::RectF r;
    copy->GetRectangle(r);
    copy->KeepMarkingOf(*this);
    return copy;
}

// ---- flattening ---------------------------------------------------------------------------------

bool CFonts::CharPath(const FONTSCHAR* ch, size_t from, size_t to, Gdiplus::GraphicsPath& path) {
    path.Reset();
    if (ch == nullptr) return false;
    to = std::min({to, ch->points.size(), ch->types.size()});
    if (from >= to) return false;
    std::vector<Gdiplus::PointF> pts;
    pts.reserve(to - from);
    for (size_t i = from; i < to; ++i) pts.emplace_back(ch->points[i].x, ch->points[i].y);
    path = Gdiplus::GraphicsPath(pts.data(), ch->types.data() + from, static_cast<INT>(pts.size()));
    return path.GetPointCount() > 0;
}

namespace {

// The figures of a flattened path as polylines, closed figures ending on
// their first point again.
std::vector<std::vector<tagPOINTF>> Figures(const Gdiplus::GraphicsPath& path) {
    std::vector<std::vector<tagPOINTF>> out;
    const auto& pts = path.PathPoints();
    const auto& types = path.PathTypes();
    for (size_t i = 0; i < pts.size(); ++i) {
        if ((types[i] & 0x07) == 0 || out.empty()) out.emplace_back();
        out.back().push_back({pts[i].X, pts[i].Y});
        if ((types[i] & 0x80) != 0 && !out.back().empty()) out.back().push_back(out.back().front());
    }
    return out;
}

// A character without curves (a TrueType layout stores its outlines
// flattened already) appended as Figures would give it after a flattening,
// which leaves such a path point for point: a figure starts at a start
// point or after a closed one, and a closed figure ends on its first point
// again. False, with nothing appended, when the character has a curve.
bool AppendFlatFigures(const FONTSCHAR& ch, std::vector<tagPOINTF>& out) {
    const size_t n = std::min(ch.points.size(), ch.types.size());
    for (size_t i = 0; i < n; ++i)
        if ((ch.types[i] & 0x07) == 3) return false;
    size_t front = out.size();
    bool newFigure = true;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t t = ch.types[i];
        if (newFigure || (t & 0x07) == 0) front = out.size();
        out.push_back(ch.points[i]);
        if ((t & 0x80) != 0) out.push_back(out[front]);
        newFigure = (t & 0x80) != 0;
    }
    return true;
}

}  // namespace

bool CFonts::CharFigures(int index, enuPtType part, std::vector<std::vector<tagPOINTF>>& figs) {
    figs.clear();
    if (index < 0 || static_cast<size_t>(index) >= m_arrChars.size()) return false;
    FONTSCHAR* ch = m_arrChars[static_cast<size_t>(index)];
    if (ch == nullptr || ch->points.empty()) return false;
    const size_t bars = static_cast<size_t>(std::max(0, m_barcodeSize));
    size_t from = 0, to = ch->points.size();
    if (part == PT_TEXT) {
        from = bars;
    } else if (part == PT_BAR) {
        to = std::min(bars, to);
    } else if (parCodebar.bPointModule != 0) {
        from = bars;
    }
    Gdiplus::GraphicsPath path;
    if (CharPath(ch, from, to, path)) {
        path.Flatten(nullptr, GetSmoothRatio());
        figs = Figures(path);
    }
    return true;
}

int CFonts::GetCharFlattenPathArrays(int index, std::vector<std::vector<tagPOINTF>>& out, int& count, float,
                                     enuPtType part) {
    std::vector<std::vector<tagPOINTF>> figs;
    if (!CharFigures(index, part, figs)) return 0;
    const int n = static_cast<int>(figs.size());
    if (count == -1) {
        count = n;
        return 0;
    }
    if (count != n) {
        count = n;
        return -1;
    }
    for (auto& f : figs) out.push_back(std::move(f));
    return 0;
}

int CFonts::GetFlattenPathPoints(std::vector<tagPOINTF>& out, float) {
    for (FONTSCHAR* ch : m_arrChars) {
        if (ch == nullptr) continue;
        if (nFontType == FONT_TYPE_MATRIX) {
            out.insert(out.end(), ch->points.begin(), ch->points.end());
            continue;
        }
        if (AppendFlatFigures(*ch, out)) continue;
        Gdiplus::GraphicsPath path;
        if (!CharPath(ch, 0, ch->points.size(), path)) continue;
        path.Flatten(nullptr, GetSmoothRatio());
        for (const auto& f : Figures(path)) out.insert(out.end(), f.begin(), f.end());
    }
    return 0;
}

int CFonts::GetFlattenPathFirstPoint(tagPOINTF& out) {
    out = {0, 0};
    if (!m_arrChars.empty() && m_arrChars[0] != nullptr && !m_arrChars[0]->points.empty())
        out = m_arrChars[0]->points.front();
    return 0;
}

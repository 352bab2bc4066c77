// Blocks of the DXF reader: each block is read once, at its first INSERT,
// into records relative to its base point; every INSERT then appends copies
// of those records with the placement that all the INSERTs around it
// compose to.
#include <algorithm>
#include <cmath>

#include "morvik/import/dxf_reader.h"

namespace {

// The most blocks placed inside one another.
constexpr size_t kMaxBlockDepth = 32;

constexpr double kPi = 3.14159265358979323846;

// An angle in degrees brought to [0, 360).
double Normalized(double deg) {
    if (!std::isfinite(deg)) return 0.0;
    double r = std::fmod(deg, 360.0);
    if (r < 0.0) r += 360.0;
    return r >= 360.0 ? 0.0 : r;
}

// Cosine and sine of an angle in degrees, exact for the quarter turns.
void CosSin(double deg, double& c, double& s) {
    const double r = Normalized(deg);
    if (r == 0.0) {
        c = 1.0, s = 0.0;
    } else if (r == 90.0) {
        c = 0.0, s = 1.0;
    } else if (r == 180.0) {
        c = -1.0, s = 0.0;
    } else if (r == 270.0) {
        c = 0.0, s = -1.0;
    } else {
        c = std::cos(r * kPi / 180.0);
        s = std::sin(r * kPi / 180.0);
    }
}

Gdiplus::PointF Shifted(const Gdiplus::PointF& p, float x, float y) {
    return {DxfCoord(double{x} + p.X), DxfCoord(double{y} + p.Y)};
}

// Moves a record's points by (x, y); the result is how many points it has.
template <class Rec>
auto Shift(Rec& r, float x, float y) -> decltype(r.arrPoint.size()) {
    for (Gdiplus::PointF& p : r.arrPoint) p = Shifted(p, x, y);
    return r.arrPoint.size();
}
size_t Shift(tagPolyline& r, float x, float y) {
    for (tagPolyPoint& v : r.arrVertex) {
        v.x = DxfCoord(double{x} + v.x);
        v.y = DxfCoord(double{y} + v.y);
    }
    return r.arrVertex.size();
}
size_t Shift(tagArc& r, float x, float y) {
    r.ptCenter = Shifted(r.ptCenter, x, y);
    return 1;
}
size_t Shift(tagEllipse& r, float x, float y) {
    r.ptCenter = Shifted(r.ptCenter, x, y);
    r.ptMajorEnd = Shifted(r.ptMajorEnd, x, y);
    return 2;
}
size_t Shift(tagDxfPt& r, float x, float y) {
    r.ptPos = Shifted(r.ptPos, x, y);
    return 1;
}
size_t Shift(tagText& r, float x, float y) {
    r.ptFirst = Shifted(r.ptFirst, x, y);
    r.ptSecond = Shifted(r.ptSecond, x, y);
    return 2;
}
size_t Shift(tagMText& r, float x, float y) {
    r.ptInsert = Shifted(r.ptInsert, x, y);
    return 1;
}
size_t Shift(tagDimention&, float, float) { return 0; }

// Appends a copy of a block's record, placed: its coordinates are relative to
// the block's base point, which lands on the placement's base point. False
// (nothing appended) when reserve refuses the record's size.
template <class Rec, class Reserve>
bool Place(const Rec& from, std::vector<Rec>& into, const tagZoomRotate& placement, Reserve reserve) {
    Rec rec = from;
    if (!reserve(1 + static_cast<int64_t>(Shift(rec, placement.ptBase.X, placement.ptBase.Y)))) return false;
    rec.zoomRotate = placement;
    into.push_back(std::move(rec));
    return true;
}

}  // namespace

CParserDxfFile::Placement CParserDxfFile::Placement::After(const Placement& in) const {
    Placement r;
    // The inner base point, carried by this placement.
    double c = 0, s = 0;
    CosSin(pre, c, s);
    const double x = sx * (c * in.tx - s * in.ty);
    const double y = sy * (s * in.tx + c * in.ty);
    CosSin(rot, c, s);
    r.tx = tx + c * x - s * y;
    r.ty = ty + s * x + c * y;
    r.sz = sz * in.sz;

    // R(rot) S R(pre) R(in.rot) S' R(in.pre): the middle S R(psi) S' becomes
    // R(alpha) S'' R(beta), exactly where a quarter turn or a uniform scale
    // lets the turn pass through the scaling, by the singular value
    // decomposition otherwise.
    const double psi = Normalized(pre + in.rot);
    double alpha = 0.0, beta = 0.0;
    if (psi == 0.0 || psi == 180.0) {
        alpha = psi;
        r.sx = sx * in.sx;
        r.sy = sy * in.sy;
    } else if (psi == 90.0 || psi == 270.0) {
        alpha = psi;
        r.sx = sy * in.sx;
        r.sy = sx * in.sy;
    } else if (sx == sy) {
        alpha = psi;
        r.sx = sx * in.sx;
        r.sy = sx * in.sy;
    } else if (sx == -sy) {
        alpha = -psi;
        r.sx = sx * in.sx;
        r.sy = -sx * in.sy;
    } else {
        CosSin(psi, c, s);
        const double m00 = sx * c * in.sx, m01 = -sx * s * in.sy, m10 = sy * s * in.sx, m11 = sy * c * in.sy;
        const double e = (m00 + m11) / 2, f = (m00 - m11) / 2, g = (m10 + m01) / 2, h = (m10 - m01) / 2;
        const double q = std::hypot(e, h), w = std::hypot(f, g);
        const double a1 = std::atan2(g, f), a2 = std::atan2(h, e);
        r.sx = q + w;
        r.sy = q - w;
        alpha = (a2 + a1) / 2 * 180.0 / kPi;
        beta = (a2 - a1) / 2 * 180.0 / kPi;
    }
    r.rot = Normalized(rot + alpha);
    r.pre = Normalized(beta + in.pre);
    return r;
}

void CParserDxfFile::SwapLists(BlockDef& def) {
    m_vecLine.swap(def.lines);
    m_vecArc.swap(def.arcs);
    m_vecEllipse.swap(def.ellipses);
    m_vecPoint.swap(def.points);
    m_vecMText.swap(def.mtexts);
    m_vecText.swap(def.texts);
    m_vecSolid.swap(def.solids);
    m_vecDim.swap(def.dims);
    m_vecPolyline.swap(def.polylines);
}

const CParserDxfFile::BlockDef* CParserDxfFile::FindBlock(const std::wstring& name, const MYFILE* image) {
    if (m_pSharedBlocks) {
        // A piece of a large file: every block was read before it started.
        const auto shared = m_pSharedBlocks->find(name);
        return shared == m_pSharedBlocks->end() ? nullptr : &shared->second;
    }
    const auto known = m_mapBlockDef.find(name);
    if (known != m_mapBlockDef.end()) return &known->second;
    const auto at = m_mapBlockPos.find(name);
    if (at == m_mapBlockPos.end() || at->second < 0 || at->second > image->nSize) return nullptr;
    BlockDef& def = m_mapBlockDef[name];
    // The block's entities are read into its own lists; its INSERTs are
    // noted, not placed. The drawing's lists come back whatever happens.
    struct Reading {
        CParserDxfFile* self;
        BlockDef& def;
        BlockDef* outer;
        Reading(CParserDxfFile* s, BlockDef& d) : self(s), def(d), outer(s->m_pReadingBlock) {
            self->SwapLists(def);
            self->m_pReadingBlock = &def;
        }
        ~Reading() {
            self->SwapLists(def);
            self->m_pReadingBlock = outer;
        }
        Reading(const Reading&) = delete;
        Reading& operator=(const Reading&) = delete;
    } reading(this, def);
    MYFILE file = *image;
    file.nPos = static_cast<int>(at->second);
    Gdiplus::PointF origin(0.0f, 0.0f);
    ParserBlock(&file, true, tagZoomRotate{}, origin);
    return &def;
}

void CParserDxfFile::PlaceBlock(const std::wstring& name, const Placement& place, const MYFILE* image) {
    if (m_bPlacementLimitReached) return;
    // A block that places itself, directly or through others, places
    // nothing the second time; nor does a nesting deeper than any drawing
    // needs.
    if (std::find(m_vecOpenBlocks.begin(), m_vecOpenBlocks.end(), name) != m_vecOpenBlocks.end() ||
        m_vecOpenBlocks.size() >= kMaxBlockDepth) {
        return;
    }
    const BlockDef* def = FindBlock(name, image);
    if (!def) return;

    tagZoomRotate placement;
    placement.dRotateAngle = place.rot;
    placement.ptBase = Gdiplus::PointF(DxfCoord(place.tx), DxfCoord(place.ty));
    placement.dScaleX = place.sx;
    placement.dScaleY = place.sy;
    placement.dScaleZ = place.sz;
    placement.dPreRotateAngle = place.pre;

    // Every placement counts, so that blocks placing empty blocks many times
    // over are bounded as well.
    const auto reserve = [this](int64_t n) { return ReservePlacement(n); };
    bool ok = reserve(1);
    m_vecOpenBlocks.push_back(name);
    for (size_t i = 0; ok && i < def->order.size(); ++i) {
        const uint32_t k = def->order[i].second;
        switch (def->order[i].first) {
        case RecordKind::Line: ok = Place(def->lines[k], m_vecLine, placement, reserve); break;
        case RecordKind::Arc: ok = Place(def->arcs[k], m_vecArc, placement, reserve); break;
        case RecordKind::Ellipse: ok = Place(def->ellipses[k], m_vecEllipse, placement, reserve); break;
        case RecordKind::Point: ok = Place(def->points[k], m_vecPoint, placement, reserve); break;
        case RecordKind::MText: ok = Place(def->mtexts[k], m_vecMText, placement, reserve); break;
        case RecordKind::Text: ok = Place(def->texts[k], m_vecText, placement, reserve); break;
        case RecordKind::Solid: ok = Place(def->solids[k], m_vecSolid, placement, reserve); break;
        case RecordKind::Dim: ok = Place(def->dims[k], m_vecDim, placement, reserve); break;
        case RecordKind::Polyline: ok = Place(def->polylines[k], m_vecPolyline, placement, reserve); break;
        case RecordKind::Insert: {
            const NestedInsert& inner = def->inserts[k];
            PlaceBlock(inner.name, place.After(inner.place), image);
            ok = !m_bPlacementLimitReached;
            break;
        }
        }
    }
    m_vecOpenBlocks.pop_back();
    // Logged once the file is read (see ParserDxf).
    if (!ok) m_bPlacementLimitReached = true;
}

bool CParserDxfFile::ReservePlacement(int64_t count) {
    const int64_t before = m_pPlaced->fetch_add(count);
    if (before > m_nPlacementLimit - count) {
        m_pPlaced->fetch_sub(count);
        return false;
    }
    m_nPlacedHere += count;
    return true;
}

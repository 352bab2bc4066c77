// Long random runs of every kind of edit on polylines, curves (closed,
// self-touching, with zero-length segments), ellipses, a polygon, a spiral
// and linked shapes: all edits are undone and redone through the editing
// history, and the saved document is compared with the one at the start and
// at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "morvik/core/bezier.h"
#include "morvik/core/polyline.h"
#include "morvik/core/shapelist.h"
#include "morvik/core/srifile.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/sribase.h"
#include "morvik/history/editing_core.h"
#include "history/saved_compare.h"
#include "history/text_desk.h"
#include "morvik/history/undo_polygon.h"
#include "morvik/history/undo_records.h"
#include "morvik/history/undo_records_param.h"
#include "morvik/history/undo_records_transform.h"
#include "morvik/import/dxf_records.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/polygon.h"
#include "morvik/shapes/screwline.h"

namespace {

using history_test::Bytes;
using history_test::SavedCompare;

// ---- the document and its shapes ---------------------------------------------------------------

using Segment = BEZIER_4POINTF_DRAW;

using testsupport::Cubic;
using testsupport::Line;

// The text history's document (its records go to its history, it flips
// about the origin), saving its shape list as it stands.
struct Desk : history_test::Desk {
    template <class T>
    T* Add(T* shape) {
        AddShape(shape);
        shape->SetDocView(this, &view);
        shape->SetPickDistance(1.0);
        return shape;
    }
    Bytes Save() { return testsupport::SavedList(GetShapeList()); }
};

struct Shapes {
    CPolyLine* open = nullptr;    // linked to ring
    CPolyLine* ring = nullptr;
    CBezierCurve* arcs = nullptr;   // closed: lines and a half circle
    CBezierCurve* eight = nullptr;  // closed figure eight with a segment of no length
    CBezierCurve* wave = nullptr;   // open cubics
    CEllipseArc* drawn = nullptr;
    CEllipseArc* dxf = nullptr;
    CPolygon* polygon = nullptr;
    CScrewLine* spiral = nullptr;
    std::vector<CBaseShape*> all;
    std::vector<CBezierCurve*> curves;
    std::vector<CPolyLine*> polylines;
    std::vector<CEllipseArc*> ellipses;
};

SCREW_PAR SpiralPar(float gap) {
    SCREW_PAR p;
    p.m_fMinRadius = 2.0f;
    p.m_fMinGap = p.m_fMaxGap = gap;
    return p;
}

Shapes Build(Desk& d) {
    Shapes s;
    s.open = d.Add(new CPolyLine());
    s.open->arrPoint = {{-40, 30}, {-30, 35}, {-20, 30}, {-10, 38}, {-5, 30}};
    s.ring = d.Add(new CPolyLine());
    s.ring->arrPoint = {{20, 30}, {35, 30}, {35, 45}, {20, 45}, {20, 30}};
    s.ring->bClosed = 1;
    s.open->SetLinkFlag(true);
    s.open->GetLinkedIDs() = {s.ring->GetBaseID()};

    s.arcs = d.Add(new CBezierCurve());
    s.arcs->arrSegment = {Line({-40, -10}, {-20, -10}), Line({-20, -10}, {-20, 0})};
    EXPECT_TRUE(CBezierCurve::AppendArcThrough3Points(s.arcs->arrSegment, {-20, 0}, {-30, 10}, {-40, 0}));
    s.arcs->arrSegment.push_back(Line({-40, 0}, {-40, -10}));
    s.arcs->bClosed = 1;

    s.eight = d.Add(new CBezierCurve());
    s.eight->arrSegment = {Line({0, 0}, {10, 0}),   Line({10, 0}, {10, 10}),  Line({10, 10}, {10, 10}),
                           Line({10, 10}, {0, 0}),  Line({0, 0}, {-10, 0}),   Line({-10, 0}, {-10, -10}),
                           Line({-10, -10}, {0, 0})};
    s.eight->bClosed = 1;

    s.wave = d.Add(new CBezierCurve());
    s.wave->arrSegment = {Cubic({10, -30}, {12, -20}, {18, -20}, {20, -30}),
                          Cubic({20, -30}, {22, -40}, {28, -40}, {30, -30}),
                          Cubic({30, -30}, {32, -20}, {38, -20}, {40, -30})};

    s.drawn = d.Add(new CEllipseArc());
    EXPECT_EQ(s.drawn->InitArcPath(Gdiplus::RectF(-45, -50, 20, 12), false), 0);
    s.drawn->SetArcDegree(0, 360);
    s.dxf = d.Add(new CEllipseArc());
    tagEllipse rec;
    rec.ptCenter = Gdiplus::PointF(40, 10);
    rec.ptMajorEnd = Gdiplus::PointF(40, 18);
    // No product of the zoom factors below turns this ratio into a circle,
    // whose axis direction nothing would remember.
    rec.fRatio = 0.3f;
    rec.fStartParam = 0.5f;
    rec.fEndParam = 3.5f;
    EXPECT_EQ(s.dxf->ProcessDxf(rec), 1);
    // Cut once from its values, as every later cut will be.
    s.dxf->SetArcDegree(s.dxf->startDeg, s.dxf->endDeg);

    s.polygon = d.Add(new CPolygon());
    s.polygon->InitPolygon(Gdiplus::RectF(-10, 50, 16, 12), 5);
    s.spiral = d.Add(new CScrewLine());
    Gdiplus::RectF box(0, -40, 16, 10);
    s.spiral->SetParam(SpiralPar(0.5f), &box);

    s.curves = {s.arcs, s.eight, s.wave};
    s.polylines = {s.open, s.ring};
    s.ellipses = {s.drawn, s.dxf};
    for (CBaseShape* shape : d.GetShapeList()) s.all.push_back(shape);
    return s;
}

// ---- random edits ---------------------------------------------------------------------------------

class Editor {
public:
    Editor(Desk& d, Shapes& s, unsigned seed, bool exact = false) : m_d(d), m_s(s), m_rng(seed), m_exact(exact) {}

    // One random edit; transforms only with `transforms`. An exact editor
    // edits polylines and moves and resizes path shapes, often several at
    // once, by steps that float arithmetic makes exactly.
    void Any(bool transforms) {
        if (m_exact) {
            if (Int(0, 2) == 0) {
                PolylineEdit();
            } else {
                ExactTransform();
            }
            return;
        }
        const int kinds = transforms ? 12 : 6;
        switch (Int(0, kinds - 1)) {
            case 0:
            case 1:
                CurveEdit();
                break;
            case 2:
                PolylineEdit();
                break;
            case 3:
                EllipseEdit();
                break;
            case 4:
                PolygonDrag();
                break;
            case 5:
                SpiralChange();
                break;
            default:
                Transform();
                break;
        }
    }

private:
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(m_rng); }
    // A multiple of 1/8 between lo and hi: sums of these stay exact.
    float Eighth(int lo, int hi) { return static_cast<float>(Int(8 * lo, 8 * hi)) / 8.0f; }
    template <class T>
    T* Pick(const std::vector<T*>& v) {
        return v[static_cast<size_t>(Int(0, static_cast<int>(v.size()) - 1))];
    }
    static tagPOINTF On(const Segment& s, double t) {
        const double u = 1 - t;
        auto f = [&](float a, float b, float c, float e) {
            return u * u * u * a + 3 * u * u * t * b + 3 * u * t * t * c + t * t * t * e;
        };
        return {static_cast<float>(f(s.p1.x, s.p2.x, s.p3.x, s.p4.x)),
                static_cast<float>(f(s.p1.y, s.p2.y, s.p3.y, s.p4.y))};
    }

    // The node editor of a curve: nodes, handles, inserting, deleting,
    // segment kinds and segment drags.
    void CurveEdit() {
        CBezierCurve* c = Pick(m_s.curves);
        const int n = static_cast<int>(c->arrSegment.size());
        if (n == 0) return;
        const int seg = Int(0, n - 1);
        const tagPOINTF mid = On(c->arrSegment[static_cast<size_t>(seg)], 0.5);
        switch (Int(0, 7)) {
            case 0: {
                const int node = Int(0, n);
                const tagPOINTF at = node < n ? c->arrSegment[static_cast<size_t>(node)].p1 : c->arrSegment.back().p4;
                c->SetEditType(0);
                c->ModifyEditPoint(node, {at.x + Eighth(-2, 2), at.y + Eighth(-2, 2)});
                break;
            }
            case 1:
                c->SetEditType(1);
                c->ModifyEditPoint(Int(0, 2 * n - 1), {mid.x + Eighth(-3, 3), mid.y + Eighth(-3, 3)});
                break;
            case 2:
                c->InsertPoint(seg, mid, 1, 1);
                break;
            case 3:
                if (n > 4) c->DeletePoint({Int(0, n)});
                break;
            case 4:
                c->arrClickPoint = {mid};
                c->ModifyToLine(true);
                break;
            case 5:
                c->arrClickPoint = {mid};
                c->ModifyToBezier(true);
                break;
            case 6:
                c->arrClickPoint = {mid};
                c->ModifyToArc(true);
                break;
            default: {
                std::vector<tagPOINTF> io{mid};
                const int hit = c->GetEditCurve(io);
                if (hit < 1) break;
                double dx = Eighth(-2, 2);
                double dy = Eighth(-2, 2);
                c->CalculateDragLine(hit, io[0], dx, dy);
                c->ModifyEditLine(hit, {static_cast<float>(io[0].x + dx), static_cast<float>(io[0].y + dy)});
                break;
            }
        }
    }

    void PolylineEdit() {
        CPolyLine* p = Pick(m_s.polylines);
        const int n = static_cast<int>(p->arrPoint.size());
        const tagPOINTF at = p->arrPoint[static_cast<size_t>(Int(0, n - 1))];
        switch (Int(0, 5)) {
            case 0:
                p->InsertPoint(Int(1, n - 1), {at.x + Eighth(-3, 3), at.y + Eighth(-3, 3)});
                break;
            case 1:
                if (n > 4) p->RemovePoint(Int(0, n - 1));
                break;
            case 2:
                if (n > 5) {
                    int picked[2] = {Int(0, n - 1), Int(0, n - 1)};
                    p->RemovePoint_Mutli(picked, 2);
                }
                break;
            case 3:
                p->ModifyEditPoint(Int(0, n - 1), {at.x + Eighth(-2, 2), at.y + Eighth(-2, 2)}, false);
                break;
            case 4:
                if (n > 1) p->ModifyEditLine(Int(1, n - 1), Eighth(-2, 2), Eighth(-2, 2));
                break;
            default:
                if (p->bClosed == 0) p->MergerEditPoint(false, &m_d);
                break;
        }
    }

    // Arc angles and path direction, replayed in the unflipped frame as the
    // editor does them.
    void EllipseEdit() {
        CEllipseArc* e = Pick(m_s.ellipses);
        const tagPOINTF centre{0, 0};
        const std::vector<GUID> ids{e->GetBaseID()};
        if (Int(0, 1) == 0) {
            double first = 0, second = 0;
            e->GetArcDegree(first, second);
            const double a = Int(0, 23) * 15.0;
            const double b = Int(0, 3) == 0 ? a + 360.0 : Int(0, 23) * 15.0;
            CUND_Base::ReplayFlipNeutral(e, centre, CUND_Base::FlipOrder::AntiXAntiYMirror,
                                         [&](CBaseShape* s) { s->SetArcDegree(a, b); });
            m_d.core.AddUndoItem(new CUND_Arc(new stArcUndo{ids, a, b, first, second}));
        } else {
            CUND_Base::ReplayFlipNeutral(e, centre, CUND_Base::FlipOrder::AntiXAntiYMirror, [](CBaseShape* s) {
                s->SetPathState();
                s->SortPath();
            });
            m_d.core.AddUndoItem(new CUND_SortPath(new stSortPathUndo{ids}));
        }
    }

    void PolygonDrag() {
        CPolygon* p = m_s.polygon;
        const int vertex = Int(0, 2 * p->GetBorder() - 1);
        const double factor = Int(0, 1) == 0 ? 2.0 : 0.5;
        const double turn = Int(-4, 4) / 64.0;
        p->DoDrag(vertex, factor, turn);
        m_d.core.AddUndoItem(new CUND_PolygonDrag(new stPolygonDrag{{p->GetBaseID()}, vertex, factor, turn}));
    }

    void SpiralChange() {
        SCREW_PAR before;
        m_s.spiral->GetParam(before);
        SCREW_PAR after = SpiralPar(Int(2, 6) / 8.0f);
        after.m_nDir = static_cast<uint32_t>(Int(0, 1));
        m_s.spiral->SetParam(after, nullptr);
        m_s.spiral->GetParam(after);
        m_d.core.AddUndoItem(new CUND_SetScrew(new stSetScrewUndo{before, after, m_s.spiral}));
    }

    // Whole-shape transforms of one shape (with its linked shapes) or of a
    // few, as the editor applies and records them.
    void Transform() {
        std::vector<CBaseShape*> shapes{Pick(m_s.all)};
        if (Int(0, 3) == 0) shapes.push_back(Pick(m_s.all));
        if (shapes.size() == 2 && shapes[0] == shapes[1]) shapes.pop_back();
        std::vector<GUID> ids;
        for (CBaseShape* s : shapes) ids.push_back(s->GetBaseID());
        const bool linked = shapes.size() == 1 && shapes[0]->GetLinkFlag();
        const tagPOINTF at{Eighth(-20, 20), Eighth(-20, 20)};
        // A curve's arc spans stay arcs only through transforms that keep
        // circles: others make them plain cubics, which their undo does not
        // turn back into arcs.
        bool curve = false;
        for (CBaseShape* s : shapes) curve = curve || dynamic_cast<CBezierCurve*>(s) != nullptr;
        int kind = Int(0, 4);
        if (curve && kind == 3) kind = 1;
        switch (kind) {
            case 0: {
                const float dx = Eighth(-10, 10), dy = Eighth(-10, 10);
                for (CBaseShape* s : shapes) s->Move(dx, dy);
                if (linked) m_s.ring->Move(dx, dy);
                m_d.core.AddUndoItem(new CUND_Move(new stMoveUndo{ids, dx, dy}));
                break;
            }
            case 1: {
                const double angle = Real(-180, 180);
                for (CBaseShape* s : shapes) s->Rotate(angle, at);
                m_d.core.AddUndoItem(new CUND_Rotate(new stRotateUndo{ids, at, angle}));
                break;
            }
            case 2: {
                const float factors[] = {-2.0f, -1.0f, -0.5f, 0.5f, 0.8f, 1.25f, 2.0f};
                const float sx = factors[Int(0, 6)];
                const float sy = curve ? sx : factors[Int(0, 6)];
                Gdiplus::RectF main, other;
                if (linked) {
                    shapes[0]->GetRectangle(main);
                    m_s.ring->GetRectangle(other);
                }
                for (CBaseShape* s : shapes) s->Zoom(at, sx, sy);
                if (linked) m_s.ring->Zoom({other.X - main.X + at.x, other.Y - main.Y + at.y}, sx, sy);
                m_d.core.AddUndoItem(new CUND_Resize(new stResizeUndo{ids, at, sx, sy}));
                break;
            }
            case 3: {
                const double a = Real(-0.3, 0.3), b = Int(0, 1) == 0 ? 0.0 : Real(-0.3, 0.3);
                for (CBaseShape* s : shapes) s->Slope(at, a, b);
                m_d.core.AddUndoItem(new CUND_Slope(new stSlopeUndo{ids, at, a, b}));
                break;
            }
            default: {
                // The flag names the axes a shape is flipped in: each
                // mirror flips its axis in the flag.
                const int axis = Int(1, 3);
                for (CBaseShape* s : shapes) {
                    s->Mirror(at, axis);
                    s->SetMirrorFlag(s->GetMirrorFlag() ^ axis);
                }
                m_d.core.AddUndoItem(new CUND_Mirror(new stMirrorUndo{ids, at, axis}));
                break;
            }
        }
    }

    // The points that hold a polyline's or a curve's geometry.
    static std::vector<tagPOINTF> PathPoints(CBaseShape* s) {
        if (auto* p = dynamic_cast<CPolyLine*>(s)) return p->arrPoint;
        std::vector<tagPOINTF> out;
        if (auto* c = dynamic_cast<CBezierCurve*>(s))
            for (const Segment& g : c->arrSegment) out.insert(out.end(), {g.p1, g.p2, g.p3, g.p4});
        return out;
    }
    // Whether the map takes every point of s, in exact arithmetic, to a
    // multiple of 1/64 within 4096 of the origin: then float holds the
    // result exactly, and the map and its inverse are exact.
    static bool StaysOnGrid(CBaseShape* s, const std::function<std::pair<double, double>(double, double)>& map) {
        for (const tagPOINTF& p : PathPoints(s)) {
            const auto [x, y] = map(p.x, p.y);
            for (double v : {x, y})
                if (std::fabs(v) > 4096 || v * 64 != std::floor(v * 64)) return false;
        }
        return true;
    }

    // Moves by eighths and resizes by powers of two (and -1) about points
    // of eighths, of one to three of the polylines and line-and-cubic
    // curves, made only when every point stays on a grid that float holds
    // exactly: each inverse is exact in float too.
    void ExactTransform() {
        const std::vector<CBaseShape*> paths{m_s.open, m_s.ring, m_s.eight, m_s.wave};
        std::vector<CBaseShape*> shapes;
        for (int n = Int(1, 3); n > 0; --n) {
            CBaseShape* s = Pick(paths);
            if (std::find(shapes.begin(), shapes.end(), s) == shapes.end()) shapes.push_back(s);
        }
        std::vector<GUID> ids;
        for (CBaseShape* s : shapes) ids.push_back(s->GetBaseID());
        // Shapes linked to the one shape edited follow it.
        const bool linked = shapes.size() == 1 && shapes[0]->GetLinkFlag();
        if (Int(0, 2) == 0) {
            const float dx = Eighth(-10, 10), dy = Eighth(-10, 10);
            auto map = [&](double x, double y) { return std::pair<double, double>(x + dx, y + dy); };
            for (CBaseShape* s : shapes)
                if (!StaysOnGrid(s, map) || (linked && !StaysOnGrid(m_s.ring, map))) return;
            for (CBaseShape* s : shapes) s->Move(dx, dy);
            if (linked) m_s.ring->Move(dx, dy);
            m_d.core.AddUndoItem(new CUND_Move(new stMoveUndo{ids, dx, dy}));
            return;
        }
        const float factors[] = {2.0f, 0.5f, -1.0f, -2.0f, 4.0f, 0.25f};
        const float sx = factors[Int(0, 5)];
        const float sy = Int(0, 1) == 0 ? sx : factors[Int(0, 5)];
        const tagPOINTF at{Eighth(-20, 20), Eighth(-20, 20)};
        Gdiplus::RectF main, other;
        if (linked) {
            shapes[0]->GetRectangle(main);
            m_s.ring->GetRectangle(other);
        }
        const tagPOINTF ringAt{other.X - main.X + at.x, other.Y - main.Y + at.y};
        auto zoomAbout = [&](tagPOINTF c) {
            return [=](double x, double y) {
                return std::pair<double, double>(c.x + (x - c.x) * sx, c.y + (y - c.y) * sy);
            };
        };
        for (CBaseShape* s : shapes)
            if (!StaysOnGrid(s, zoomAbout(at)) || (linked && !StaysOnGrid(m_s.ring, zoomAbout(ringAt)))) return;
        for (CBaseShape* s : shapes) s->Zoom(at, sx, sy);
        if (linked) m_s.ring->Zoom(ringAt, sx, sy);
        m_d.core.AddUndoItem(new CUND_Resize(new stResizeUndo{ids, at, sx, sy}));
    }

    Desk& m_d;
    Shapes& m_s;
    std::mt19937 m_rng;
    bool m_exact = false;
};

// Runs `edits` random edits, then undoes and redoes all of them twice,
// comparing the saved document with the start (after undo) and the end
// (after redo): byte for byte, or within tol when tol is above 0.
void RandomRun(unsigned seed, int edits, bool transforms, double tol, bool exact = false) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    Desk d;
    Shapes s = Build(d);
    const Bytes start = d.Save();
    Editor editor(d, s, seed, exact);
    for (int i = 0; i < edits; ++i) editor.Any(transforms);
    const Bytes end = d.Save();
    ASSERT_GT(d.core.m_nUndoPos, edits / 2);
    auto expectSame = [&](const Bytes& want, const char* when) {
        const Bytes got = d.Save();
        if (tol <= 0.0) {
            SavedCompare cmp(0.0);
            cmp.Lists(got, want);
            EXPECT_TRUE(got == want) << when << ": " << cmp.where;
            return;
        }
        SavedCompare cmp(tol);
        EXPECT_TRUE(cmp.Lists(got, want)) << when << ": " << cmp.where;
    };
    for (int cycle = 0; cycle < 2; ++cycle) {
        while (d.core.IsAbleToUndo()) d.core.OnEditUndo();
        expectSame(start, "after undoing all");
        while (d.core.IsAbleToRedo()) d.core.OnEditRedo();
        expectSame(end, "after redoing all");
    }
}

TEST(UndoRandom, NodeAndParameterEditsComeBackByteForByte) {
    for (unsigned seed : {1u, 2u, 3u}) RandomRun(seed, 300, false, 0.0);
}

TEST(UndoRandom, EditsAndTransformsComeBackWithinRounding) {
    for (unsigned seed : {11u, 12u, 13u}) RandomRun(seed, 300, true, 2e-4);
}

// Resizes of several path shapes at once by exact factors, moves and
// polyline edits: undone, the document comes back byte for byte.
// MORVIK_UNDO_SEEDS=first,count runs other seeds.
TEST(UndoRandom, ExactResizesOfSeveralShapesComeBackByteForByte) {
    unsigned first = 1, count = 100;
    if (const char* env = std::getenv("MORVIK_UNDO_SEEDS")) std::sscanf(env, "%u,%u", &first, &count);
    for (unsigned seed = first; seed < first + count; ++seed) RandomRun(seed, 120, true, 0.0, true);
}

}  // namespace

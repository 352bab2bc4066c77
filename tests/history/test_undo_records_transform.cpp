// Replays of the whole-shape transform records on real polylines and on a
// spy that logs what it is asked to do.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "morvik/compose/combine.h"
#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/polyline.h"
#include "morvik/core/srifile.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_records_transform.h"
#include "platform/picture_files.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/picture.h"
#include "support/shape_support.h"

namespace {

using Log = std::vector<std::string>;

// A shape that logs slants, flips and arc changes.
class Spy : public CBaseShape {
public:
    int Slope(tagPOINTF p, double a, double b) override {
        log.push_back("S" + Num(p.x) + "," + Num(p.y) + ":" + Num(a) + "," + Num(b));
        return CBaseShape::Slope(p, a, b);
    }
    int Mirror(tagPOINTF p, int mode) override {
        log.push_back("M" + std::to_string(mode));
        return CBaseShape::Mirror(p, mode);
    }
    int SetArcDegree(double a, double b) override {
        log.push_back("A" + Num(a) + "," + Num(b));
        return 0;
    }
    Log log;

private:
    static std::string Num(double v) { return std::to_string(static_cast<int>(std::lround(v))); }
};

struct Desk {
    CBaseDoc doc;
    CBaseView view{&doc};
    CCore core{&doc, &view};
    template <class T>
    T* Add(T* shape) {
        doc.AddShape(shape);
        return shape;
    }
};

CPolyLine* Line(std::vector<tagPOINTF> pts) { return testsupport::Poly(std::move(pts)); }

void ExpectPoints(const CPolyLine* p, const std::vector<tagPOINTF>& want) {
    testsupport::ExpectPoints(p->arrPoint, want);
}

TEST(TransformRecords, MoveTakesLinkedShapesAndSelectionFrameAlongOnlyForOneShape) {
    Desk d;
    CPolyLine* main = d.Add(Line({{0, 0}, {1, 1}}));
    CPolyLine* linked = d.Add(Line({{5, 5}}));
    CPolyLine* other = d.Add(Line({{9, 9}}));
    main->SetLinkFlag(true);
    main->GetLinkedIDs() = {linked->GetBaseID(), GUID{7, 0, 0, {}}};  // the second is gone
    d.doc.SetSelectRect(Gdiplus::RectF(3, 4, 10, 20));
    d.core.m_vecLastShapeIDs = {other->GetBaseID()};

    CUND_Move one(new stMoveUndo{{main->GetBaseID()}, 2.0f, -1.0f});
    EXPECT_EQ(one.GetKind(), 6);
    EXPECT_EQ(one.OnEditUndo(&d.core), 1);
    ExpectPoints(main, {{-2, 1}, {-1, 2}});
    ExpectPoints(linked, {{3, 6}});
    Gdiplus::RectF frame;
    d.doc.GetSelectRect(frame);
    EXPECT_FLOAT_EQ(frame.X, 1.0f);
    EXPECT_FLOAT_EQ(frame.Y, 5.0f);
    EXPECT_FLOAT_EQ(frame.Width, 10.0f);
    EXPECT_EQ(d.core.m_vecLastShapeIDs.size(), 1u);  // undo leaves the last touched shapes
    EXPECT_EQ(d.core.m_vecLastShapeIDs[0], other->GetBaseID());

    one.OnEditRedo(&d.core);
    ExpectPoints(main, {{0, 0}, {1, 1}});
    ExpectPoints(linked, {{5, 5}});
    EXPECT_EQ(d.core.m_vecLastShapeIDs, std::vector<GUID>{main->GetBaseID()});

    // With two shapes in the record the linked shape stays put.
    CUND_Move two(new stMoveUndo{{main->GetBaseID(), other->GetBaseID()}, 1.0f, 0.0f});
    two.OnEditUndo(&d.core);
    ExpectPoints(main, {{-1, 0}, {0, 1}});
    ExpectPoints(other, {{8, 9}});
    ExpectPoints(linked, {{5, 5}});
    EXPECT_GT(d.view.GetInvalidateCount(), 0);
}

TEST(TransformRecords, AlignMovesEachShapeByItsOwnDeltaAndSurvivesShortLists) {
    Desk d;
    CPolyLine* a = d.Add(Line({{0, 0}}));
    CPolyLine* b = d.Add(Line({{0, 0}}));
    CPolyLine* c = d.Add(Line({{0, 0}}));
    CUND_Align rec(new stAlignUndo{{a->GetBaseID(), GUID{1, 2, 3, {}}, b->GetBaseID(), c->GetBaseID()},
                                   {1, 50, 2, 99},
                                   {3, 50, 4}});  // no dy for c
    rec.OnEditRedo(&d.core);
    ExpectPoints(a, {{1, 3}});
    ExpectPoints(b, {{2, 4}});
    ExpectPoints(c, {{0, 0}});
    EXPECT_EQ(d.core.m_vecLastShapeIDs.size(), 4u);
    rec.OnEditUndo(&d.core);
    ExpectPoints(a, {{0, 0}});
    ExpectPoints(b, {{0, 0}});
}

TEST(TransformRecords, RotateAndSlopeApplyTheInverseOnUndo) {
    Desk d;
    CPolyLine* p = d.Add(Line({{1, 0}, {0, 2}}));  // (0, 1) and (2, 2) after a quarter turn about (1, 1)
    CUND_Rotate rot(new stRotateUndo{{p->GetBaseID()}, {1, 1}, 90.0});
    rot.OnEditUndo(&d.core);
    ExpectPoints(p, {{0, 1}, {2, 2}});
    rot.OnEditRedo(&d.core);
    ExpectPoints(p, {{1, 0}, {0, 2}});

    Spy* s = d.Add(new Spy());
    CUND_Slope slope(new stSlopeUndo{{s->GetBaseID()}, {3, 4}, 0.0, -2.0});
    slope.OnEditUndo(&d.core);
    slope.OnEditRedo(&d.core);
    EXPECT_EQ(s->log, (Log{"S3,4:0,2", "S3,4:0,-2"}));

    // Both angles at once: the slant also scales by 1 - tan a tan b, which
    // undo takes back with it. Tangents 0.5 and 0.75 scale by 5/8; 1.2 and
    // 1.5 by -4/5, a half turn as well. A picture in the same record cannot
    // follow such a slant: it refuses it both ways and is not scaled or
    // turned by the undo either.
    const std::vector<uint8_t> bmp =
        picture_files::Bmp24(5, 3, [](int x, int y) { return (x + y) % 2 ? 0xffffffu : 0u; }, 10000);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("morvik_slope_undo_" + std::to_string(getpid()) + ".bmp")).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
    auto saved = [](CBaseShape& shape) { return testsupport::SavedShape(shape); };
    for (const double tb : {0.75, 1.5}) {
        const double a = std::atan(tb == 0.75 ? 0.5 : 1.2);
        const double b = std::atan(tb);
        CPolyLine* q = d.Add(Line({{10, 0}, {3, 4}, {-2, 7}}));
        CPicture* pic = d.Add(new CPicture());
        pic->SetFilename(CString(std::wstring(path.begin(), path.end()).c_str()));
        ASSERT_EQ(pic->InitPicture(), 1);
        pic->Move(2.5f, -1.5f);
        const std::vector<uint8_t> picture = saved(*pic);
        q->Slope({3, 4}, a, b);
        EXPECT_EQ(pic->Slope({3, 4}, a, b), CBaseShape::kRefused);
        CUND_Slope both(new stSlopeUndo{{pic->GetBaseID(), q->GetBaseID()}, {3, 4}, a, b});
        both.OnEditUndo(&d.core);
        ExpectPoints(q, {{10, 0}, {3, 4}, {-2, 7}});
        EXPECT_FALSE(q->IsZoomAntiX() || q->IsZoomAntiY());
        EXPECT_EQ(saved(*pic), picture);
        both.OnEditRedo(&d.core);
        both.OnEditUndo(&d.core);
        ExpectPoints(q, {{10, 0}, {3, 4}, {-2, 7}});
        EXPECT_EQ(saved(*pic), picture);

        // A group or compound holding such a picture refuses the slant
        // whole, and its undo changes nothing either.
        for (CBaseShape* box : {static_cast<CBaseShape*>(new CGroupShape()), static_cast<CBaseShape*>(new CCombineShape())}) {
            d.Add(box);
            box->GetChildren() = {Line({{1, 2}, {6, -3}}), pic->Clone()};
            auto savedAll = [&saved](CBaseShape& shape) {
                std::vector<uint8_t> bytes = saved(shape);
                for (CBaseShape* member : shape.GetChildren()) {
                    const std::vector<uint8_t> more = saved(*member);
                    bytes.insert(bytes.end(), more.begin(), more.end());
                }
                return bytes;
            };
            const std::vector<uint8_t> before = savedAll(*box);
            EXPECT_EQ(box->Slope({3, 4}, a, b), CBaseShape::kRefused);
            EXPECT_EQ(savedAll(*box), before);
            CUND_Slope whole(new stSlopeUndo{{box->GetBaseID()}, {3, 4}, a, b});
            whole.OnEditUndo(&d.core);
            whole.OnEditRedo(&d.core);
            whole.OnEditUndo(&d.core);
            EXPECT_EQ(savedAll(*box), before);
        }
    }
    std::remove(path.c_str());
}

TEST(TransformRecords, ResizeInvertsItsFactorsAndScalesLinkedShapesAboutTheirOwnPoint) {
    Desk d;
    CPolyLine* main = d.Add(Line({{0, 0}, {4, 2}}));     // rectangle X 0, Y 2
    CPolyLine* linked = d.Add(Line({{10, 10}, {14, 12}}));  // rectangle X 10, Y 12
    main->SetLinkFlag(true);
    main->GetLinkedIDs() = {linked->GetBaseID()};
    CUND_Resize rec(new stResizeUndo{{main->GetBaseID()}, {0, 0}, 2.0f, 2.0f});
    EXPECT_EQ(rec.OnEditUndo(&d.core), 1);
    ExpectPoints(main, {{0, 0}, {2, 1}});
    // Reference point shifted by the offset of the rectangles: (10, 10).
    ExpectPoints(linked, {{10, 10}, {12, 11}});
    rec.OnEditRedo(&d.core);
    ExpectPoints(main, {{0, 0}, {4, 2}});
    ExpectPoints(linked, {{10, 10}, {14, 12}});

    // A factor of zero cannot be taken back: the record leaves the shape.
    CUND_Resize flat(new stResizeUndo{{main->GetBaseID()}, {0, 0}, 0.0f, 1.0f});
    flat.OnEditUndo(&d.core);
    ExpectPoints(main, {{0, 0}, {4, 2}});
    flat.OnEditRedo(&d.core);
    ExpectPoints(main, {{0, 0}, {4, 2}});

    // Shapes held directly are scaled whether or not the document lists them.
    CPolyLine loose;
    loose.arrPoint = {{2, 2}};
    stResizeShapesUndo held{{&loose}, {0, 0}, 2.0f, 4.0f};
    {
        CUNDO_Resize direct(&held);
        direct.OnEditUndo(&d.core);
    }  // the payload is only forgotten
    ExpectPoints(&loose, {{1, 0.5f}});
    EXPECT_EQ(held.shapes.size(), 1u);
}

TEST(TransformRecords, FlippingResizeOfLinkedShapesIsUndoneAboutTheOriginalPoints) {
    for (const auto& f : {std::pair{-2.0f, 1.5f}, std::pair{0.5f, -3.0f}, std::pair{-1.0f, -1.0f}}) {
        SCOPED_TRACE(testing::Message() << f.first << ", " << f.second);
        Desk d;
        const std::vector<tagPOINTF> mainAt{{0, 0}, {4, 2}};
        const std::vector<tagPOINTF> linkedAt{{10, 10}, {11, 13}, {16, 12}};
        CPolyLine* main = d.Add(Line(mainAt));
        CPolyLine* linked = d.Add(Line(linkedAt));
        main->SetLinkFlag(true);
        main->GetLinkedIDs() = {linked->GetBaseID()};
        // The resize as the editor makes it: the linked shape about the
        // reference point shifted by the offset of the rectangles before.
        const tagPOINTF ref{1, 1};
        Gdiplus::RectF m, l;
        main->GetRectangle(m);
        linked->GetRectangle(l);
        main->Zoom(ref, f.first, f.second);
        linked->Zoom({l.X - m.X + ref.x, l.Y - m.Y + ref.y}, f.first, f.second);
        const std::vector<tagPOINTF> mainResized = main->arrPoint;
        const std::vector<tagPOINTF> linkedResized = linked->arrPoint;

        CUND_Resize rec(new stResizeUndo{{main->GetBaseID()}, ref, f.first, f.second});
        for (int cycle = 0; cycle < 2; ++cycle) {
            rec.OnEditUndo(&d.core);
            ExpectPoints(main, mainAt);
            ExpectPoints(linked, linkedAt);
            rec.OnEditRedo(&d.core);
            ExpectPoints(main, mainResized);
            ExpectPoints(linked, linkedResized);
        }
    }
}

// A curve's box is measured on its flattened path: the undo must scale it
// back about the point the resize used, not one worked out from the boxes
// after it. Oracle: the curve's saved bytes before the resize.
TEST(TransformRecords, ResizeLinkedToACurveIsUndoneToTheSavedBytes) {
    for (const auto& [withLine, sx, sy] : {std::tuple{true, 4.0f, -1.0f}, std::tuple{false, 2.0f, 0.5f}}) {
        SCOPED_TRACE(testing::Message() << sx << ", " << sy);
        Desk d;
        auto* curve = d.Add(new CBezierCurve());
        if (withLine) curve->arrSegment.push_back(testsupport::Line({-38.5f, 1.25f}, {26.5f, 47.5f}));
        curve->arrSegment.push_back(
            testsupport::Cubic({26.5f, 47.5f}, {-10.0f, -18.75f}, {-9.75f, -19.75f}, {38.0f, -19.25f}));
        CPolyLine* main = d.Add(Line({{-8.25f, 47.5f}, {-45.0f, -47.25f}}));
        main->SetLinkFlag(true);
        main->GetLinkedIDs() = {curve->GetBaseID()};
        for (CBaseShape* shape : {static_cast<CBaseShape*>(curve), static_cast<CBaseShape*>(main)})
            shape->SetDocView(&d.doc, &d.view);
        auto saved = [](CBaseShape& shape) { return testsupport::SavedShape(shape, true); };
        const std::vector<uint8_t> before = saved(*curve);
        const tagPOINTF ref{40.5f, -2.25f};
        Gdiplus::RectF m, l;
        main->GetRectangle(m);
        curve->GetRectangle(l);
        main->Zoom(ref, sx, sy);
        curve->Zoom({l.X - m.X + ref.x, l.Y - m.Y + ref.y}, sx, sy);
        CUND_Resize rec(new stResizeUndo{{main->GetBaseID()}, ref, sx, sy});
        rec.OnEditUndo(&d.core);
        EXPECT_TRUE(saved(*curve) == before);
    }
}

TEST(TransformRecords, MirrorUndoRestoresTheFlagRedoPutsItBack) {
    Desk d;
    Spy* zero = d.Add(new Spy());
    Spy* three = d.Add(new Spy());
    three->SetMirrorFlag(3);
    CUND_Mirror rec(new stMirrorUndo{{zero->GetBaseID(), three->GetBaseID()}, {0, 0}, 1});
    rec.OnEditUndo(&d.core);
    // The flag after the mirror, with the mirror's axis taken back off.
    EXPECT_EQ(zero->GetMirrorFlag(), 1);
    EXPECT_EQ(three->GetMirrorFlag(), 2);
    EXPECT_EQ(d.core.m_vecLastShapeIDs.size(), 2u);
    // Redo gives back the flags the shapes had after the mirror, so the
    // flag keeps matching the geometry however often it is replayed.
    rec.OnEditRedo(&d.core);
    EXPECT_EQ(zero->GetMirrorFlag(), 0);
    EXPECT_EQ(three->GetMirrorFlag(), 3);
    rec.OnEditUndo(&d.core);
    EXPECT_EQ(zero->GetMirrorFlag(), 1);
    rec.OnEditRedo(&d.core);
    EXPECT_EQ(zero->GetMirrorFlag(), 0);
    EXPECT_EQ(zero->log, (Log{"M1", "M1", "M1", "M1"}));
    EXPECT_EQ(CUND_Mirror::UndoneMirrorFlag(1, 2), 3);

    CPolyLine* p = d.Add(Line({{1, 5}}));
    CUND_Mirror geo(new stMirrorUndo{{p->GetBaseID()}, {3, 0}, 1});
    geo.OnEditRedo(&d.core);
    ExpectPoints(p, {{5, 5}});
    stMirrorShapesUndo held{{p}, {3, 0}, 1};
    CUNDO_Mirror direct(&held);
    direct.OnEditUndo(&d.core);
    ExpectPoints(p, {{1, 5}});
}

TEST(TransformRecords, ArcChangeAfterAMirrorUndoneAndRedoneLandsOnTheMirroredEllipse) {
    Desk d;
    auto* e = d.Add(new CEllipseArc());
    ASSERT_EQ(e->InitArcPath(Gdiplus::RectF(0, 0, 20, 10), false), 0);
    // The editor's mirror: the geometry flips and the flag says so.
    e->SetMirrorFlag(1);
    e->Mirror({-5, 0}, 1);
    CUND_Mirror mirror(new stMirrorUndo{{e->GetBaseID()}, {-5, 0}, 1});
    mirror.OnEditUndo(&d.core);
    mirror.OnEditRedo(&d.core);
    EXPECT_EQ(e->GetMirrorFlag(), 1);
    // The arc is cut in the ellipse's unflipped frame: where the mirrored
    // arc of the unmirrored ellipse lies.
    CUND_Arc arc(new stArcUndo{{e->GetBaseID()}, 30, 120, 0, 360});
    arc.OnEditRedo(&d.core);
    CEllipseArc want;
    ASSERT_EQ(want.InitArcPath(Gdiplus::RectF(0, 0, 20, 10), false), 0);
    want.SetArcDegree(30, 120);
    want.Mirror({-5, 0}, 1);
    ASSERT_EQ(e->arcPoints.size(), want.arcPoints.size());
    for (size_t i = 0; i < want.arcPoints.size(); ++i) {
        EXPECT_NEAR(e->arcPoints[i].x, want.arcPoints[i].x, 1e-3) << i;
        EXPECT_NEAR(e->arcPoints[i].y, want.arcPoints[i].y, 1e-3) << i;
    }
}

TEST(TransformRecords, ArcAndPathDirectionAreReplayedWithoutFlips) {
    Desk d;
    d.doc.SetSelectRect(Gdiplus::RectF(0, 0, 0, 0));
    Spy* s = d.Add(new Spy());
    s->SetMirrorFlag(1);
    CUND_Arc arc(new stArcUndo{{s->GetBaseID()}, 30, 60, 10, 20});
    arc.OnEditUndo(&d.core);
    arc.OnEditRedo(&d.core);
    EXPECT_EQ(s->log, (Log{"M1", "A10,20", "M1", "M1", "A30,60", "M1"}));

    CPolyLine* p = d.Add(Line({{0, 0}, {1, 0}, {2, 3}}));
    CUND_SortPath rev(new stSortPathUndo{{p->GetBaseID(), GUID{9, 9, 9, {}}}});
    rev.OnEditUndo(&d.core);
    ExpectPoints(p, {{2, 3}, {1, 0}, {0, 0}});
    EXPECT_TRUE(p->IsAntiPath());
    rev.OnEditRedo(&d.core);
    ExpectPoints(p, {{0, 0}, {1, 0}, {2, 3}});
    EXPECT_FALSE(p->IsAntiPath());
}

TEST(TransformRecords, EmptyRecordsAndMissingCoreDoNothing) {
    CUND_Move move;
    CUND_Resize resize;
    CUND_Arc arc;
    EXPECT_EQ(move.OnEditUndo(nullptr), 1);
    EXPECT_EQ(resize.OnEditRedo(nullptr), 1);
    EXPECT_EQ(arc.OnEditUndo(nullptr), 1);
    CUND_Rotate rot(new stRotateUndo{{GUID{1, 0, 0, {}}}, {0, 0}, 5});
    EXPECT_EQ(rot.OnEditUndo(nullptr), 1);
}

}  // namespace

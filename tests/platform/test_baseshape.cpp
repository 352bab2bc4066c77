// The base shape: identity, numbering, lock, copies, persistence of the base
// part, and the static point functions every transform relies on.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <thread>
#include <vector>

#include "morvik/core/srifile.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/baseshape.h"
#include "morvik/halder/lang.h"
#include "support/shape_support.h"

namespace {

using testsupport::Dist;

class CTestShape : public CBaseShape {
public:
    static CShapeCounter& Counter() {
        static CShapeCounter c;
        return c;
    }
    CTestShape() { InitShape(SHAPE_POLYLINE, "IDS_TYPENAME_POLYLINE", Counter()); }
    int nRebuilds = 0;
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) override {
        LockShape();
        if (GetShapeView() == nullptr || m_markCache.IsEmpty() || GetDataForce()) {
            SetGetDataForce(false);
            ++nRebuilds;
            m_markCache.Clear();
            tagPathData pd;
            pd.nPenIndex = GetPenIndex();
            pd.arrPolylines.push_back({{0, 0}, {1, 1}});
            m_markCache.arrPaths.push_back(pd);
        }
        out = m_markCache;
        UnlockShape();
        return true;
    }
};

}  // namespace

TEST(BaseShape, CaptionsNumberPerClassAndStayUniqueAcrossThreads) {
    CTestShape::Counter().Reset();
    CTestShape first;
    CTestShape second;
    EXPECT_EQ(std::wstring(first.GetCaption()), L"Polyline1");
    EXPECT_EQ(std::wstring(second.GetCaption()), L"Polyline2");

    constexpr int kThreads = 8, kEach = 500;
    std::vector<std::vector<int>> numbers(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&numbers, t] {
            for (int i = 0; i < kEach; ++i) {
                CTestShape s;
                numbers[t].push_back(s.GetCountNum());
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<int> all;
    for (auto& v : numbers) all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(*all.begin(), 3);
    EXPECT_EQ(*all.rbegin(), 2 + kThreads * kEach);
}

TEST(BaseShape, CopyGetsItsOwnSignalledEventAndEmptyCache) {
    CTestShape a;
    tagMarkDataPar out;
    ASSERT_TRUE(a.GetMarkData(out, nullptr));
    ASSERT_FALSE(a.GetMarkCache().IsEmpty());
    a.SetPen(9), a.SetSmoothRatio(0.3f), a.SetMirrorFlag(2), a.SetReverseOrder(true), a.SetVisible(false);

    CTestShape b(a);
    EXPECT_TRUE(b.GetPenIndex() == 9 && b.GetSmoothRatio() == 0.3f && b.GetMirrorFlag() == 2 && b.IsReverseOrder() &&
                !b.IsVisible());
    EXPECT_NE(a.GetMarkEvent(), b.GetMarkEvent());
    EXPECT_TRUE(b.GetMarkCache().IsEmpty());
    EXPECT_EQ(b.GetBaseID(), a.GetBaseID());

    // Holding a's lock must not block b.
    ASSERT_EQ(WaitForSingleObject(a.GetMarkEvent(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b.GetMarkEvent(), 0), WAIT_OBJECT_0);
    SetEvent(a.GetMarkEvent());
    SetEvent(b.GetMarkEvent());
}

TEST(BaseShape, MarkCacheIsReusedOnlyWithViewAndWithoutForce) {
    CTestShape s;
    tagMarkDataPar out;
    s.GetMarkData(out, nullptr);
    s.GetMarkData(out, nullptr);
    EXPECT_EQ(s.nRebuilds, 2) << "a shape without a view rebuilds every time";

    CBaseView view;
    s.SetDocView(nullptr, &view);
    s.GetMarkData(out, nullptr);
    EXPECT_EQ(s.nRebuilds, 2);
    s.SetGetDataForce(true);
    s.GetMarkData(out, nullptr);
    EXPECT_EQ(s.nRebuilds, 3);
    s.GetMarkData(out, nullptr);
    EXPECT_EQ(s.nRebuilds, 3);
    // A transform marks the geometry stale.
    s.Move(1.0f, 0.0f);
    s.GetMarkData(out, nullptr);
    EXPECT_EQ(s.nRebuilds, 4);
}

TEST(BaseShape, BasePartRoundTripsCaptionAndIdentity) {
    CTestShape s;
    s.SetCaption(L"Nozzle \u4E2D\U0001F600");
    GUID parent;
    CoCreateGuid(&parent);
    s.SetParentBaseID(parent);
    s.SetPen(17);

    const testsupport::Bytes bytes = testsupport::SavedShape(s, true);
    CBaseShape back;
    SriFile in(bytes.data(), static_cast<uint32_t>(bytes.size()));
    back.Read(true, &in);
    EXPECT_EQ(in.GetState(), 0);
    EXPECT_EQ(back.m_wstrCaption, L"Nozzle \u4E2D\U0001F600");
    EXPECT_EQ(back.GetBaseID(), s.GetBaseID());
    EXPECT_EQ(back.GetParentBaseID(), parent);
    EXPECT_EQ(back.GetPenIndex(), 17);
}

TEST(BaseShape, GuidsAreDistinct) {
    CBaseShape a, b;
    EXPECT_NE(a.GetBaseID(), b.GetBaseID());
    EXPECT_NE(a.GetBaseID(), GUID_NULL);
}

TEST(BaseShapeStatics, RotateScaleAndMirrorKnownPoints) {
    tagPOINTF c{1, 1};
    tagPOINTF r = CBaseShape::PointfRotate({2, 1}, c, 90.0);
    EXPECT_NEAR(r.x, 1.0, 1e-6);
    EXPECT_NEAR(r.y, 2.0, 1e-6) << "positive angles turn counter-clockwise with y up";
    tagPOINTF z = CBaseShape::PointfZoom({3, 5}, 2.0, -1.0, c);
    EXPECT_FLOAT_EQ(z.x, 5.0f);
    EXPECT_FLOAT_EQ(z.y, -3.0f);
    EXPECT_EQ(CBaseShape::PointfMirror({3, 5}, c, 1), (tagPOINTF{-1, 5}));
    EXPECT_EQ(CBaseShape::PointfMirror({3, 5}, c, 2), (tagPOINTF{3, -3}));
    EXPECT_EQ(CBaseShape::PointfMirror({3, 5}, c, 3), (tagPOINTF{-1, -3}));
    EXPECT_EQ(CBaseShape::PointfMirror({3, 5}, c, 7), (tagPOINTF{3, 5}));
}

TEST(BaseShapeStatics, AngleIsDirectionOfSecondPointInZeroTo360) {
    EXPECT_NEAR(CBaseShape::Angle2P({0, 0}, {1, 0}), 0.0, 1e-9);
    EXPECT_NEAR(CBaseShape::Angle2P({0, 0}, {0, 1}), 90.0, 1e-9);
    EXPECT_NEAR(CBaseShape::Angle2P({0, 0}, {-1, 0}), 180.0, 1e-9);
    EXPECT_NEAR(CBaseShape::Angle2P({0, 0}, {0, -1}), 270.0, 1e-9);
    EXPECT_NEAR(CBaseShape::Angle2P({1, 1}, {0, 0}), 225.0, 1e-9);
    CBaseShape s;
    EXPECT_NEAR(s.GetAngleFrom2Point({1, 1}, {0, 0}), 45.0, 1e-9);
}

// The rectangle and the ellipse stand a leaning left side upright with
// Slope(c, (90 - a2)·pi/180, 0), where a2 is the side's direction from its
// lower end; the reverse slant puts it back.
TEST(BaseShapeStatics, SlantByComplementOfSideDirectionStandsItUpright) {
    for (double lean : {60.0, 80.0, 95.0, 120.0, 260.0}) {
        tagPOINTF p0{2, -3};
        double rad = lean * M_PI / 180.0;
        tagPOINTF p1{static_cast<float>(p0.x + 10 * std::cos(rad)), static_cast<float>(p0.y + 10 * std::sin(rad))};
        tagPOINTF c{0.5f, 0.25f};
        double a2 = CBaseShape::Angle2P(p0, p1);
        double a = (90.0 - a2) * M_PI / 180.0;
        tagPOINTF q0 = CBaseShape::PointfSlope(p0, a, 0.0, c);
        tagPOINTF q1 = CBaseShape::PointfSlope(p1, a, 0.0, c);
        EXPECT_NEAR(q0.x, q1.x, 1e-4) << "lean " << lean;
        EXPECT_NEAR(q0.y, p0.y, 1e-6);
        double back = (a2 - 90.0) * M_PI / 180.0;
        EXPECT_LT(Dist(CBaseShape::PointfSlope(q1, back, 0.0, c), p1), 1e-4);
    }
    // The fixed point does not move; y shifts with x against tan(b).
    EXPECT_EQ(CBaseShape::PointfSlope({3, 4}, 0.3, 0.2, {3, 4}), (tagPOINTF{3, 4}));
    tagPOINTF q = CBaseShape::PointfSlope({1, 0}, 0.0, M_PI / 4, {0, 0});
    EXPECT_NEAR(q.y, -1.0, 1e-6);
}

TEST(BaseShapeStatics, RectangleAndCircleHelpers) {
    Gdiplus::RectF r = CBaseShape::CalculateRectangle({{1, 2}, {-3, 5}, {4, -1}});
    EXPECT_FLOAT_EQ(r.X, -3);
    EXPECT_FLOAT_EQ(r.Y, 5) << "Y is the top edge";
    EXPECT_FLOAT_EQ(r.Width, 7);
    EXPECT_FLOAT_EQ(r.Height, 6);
    EXPECT_EQ(CBaseShape::CenterPoint(r), (tagPOINTF{0.5f, 2.0f}));
    Gdiplus::RectF empty = CBaseShape::CalculateRectangle({});
    EXPECT_EQ(empty.Width, 0);

    tagPOINTF centre;
    double radius = 0;
    ASSERT_TRUE(CBaseShape::GetCircleParamerFrom3P({7, 2}, {2, 7}, {-3, 2}, centre, radius));
    EXPECT_NEAR(centre.x, 2, 1e-5);
    EXPECT_NEAR(centre.y, 2, 1e-5);
    EXPECT_NEAR(radius, 5, 1e-5);
    EXPECT_FALSE(CBaseShape::GetCircleParamerFrom3P({0, 0}, {1, 1}, {2, 2}, centre, radius));
    EXPECT_FALSE(CBaseShape::GetCircleParamerFrom3P({1, 1}, {1, 1}, {2, 5}, centre, radius));
    EXPECT_DOUBLE_EQ(CBaseShape::GetSlope({0, 0}, {2, 1}), 0.5);
    EXPECT_TRUE(std::isinf(CBaseShape::GetSlope({1, 0}, {1, 3})));
}

TEST(BaseDoc, OwnsRemovedShapesAndFindsByGuid) {
    auto* doc = new CBaseDoc;
    auto* a = new CTestShape;
    auto* b = new CTestShape;
    doc->AddShape(a);
    doc->AddShape(b);
    EXPECT_EQ(doc->GetShapeByUUID(b->GetBaseID()), b);
    EXPECT_TRUE(doc->DeleteSelShapeByUUID(b->GetBaseID()));
    EXPECT_EQ(doc->GetShapeByUUID(b->GetBaseID()), nullptr);
    EXPECT_FALSE(doc->DeleteSelShapeByUUID(b->GetBaseID()));
    // The removed shape is still alive: a snapshot can bring it back.
    doc->RestoreShapeList({b, a});
    EXPECT_EQ(doc->GetShapeList().front(), b);
    delete doc;  // frees both exactly once (LeakSanitizer checks)
}

TEST(BaseDoc, FreesTheMembersOfItsContainersEachOnce) {
    struct Counted : CTestShape {
        explicit Counted(int& gone) : m_gone(gone) {}
        ~Counted() override { ++m_gone; }
        int& m_gone;
    };
    int gone = 0;
    {
        CBaseDoc doc;
        auto* group = new Counted(gone);
        auto* nested = new Counted(gone);
        auto* a = new Counted(gone);
        auto* b = new Counted(gone);
        nested->GetChildren() = {b};
        group->GetChildren() = {a, nested, a};
        doc.AddShape(group);
        // An ungrouped member is listed on its own while its old group is
        // kept for the undo.
        doc.RestoreShapeList({a, nested});
        doc.AddShape(a);
    }
    EXPECT_EQ(gone, 4);
}

TEST(BaseView, MapsMillimetresToDeviceAndBack) {
    CBaseView view;
    view.SetZoom(10.0f);
    view.SetOrigin({-5.0f, 5.0f});
    view.SetClientSize(100, 50);
    CPoint d;
    view.LP2DP({0.0f, 0.0f}, d);
    EXPECT_EQ(d.x, 50);
    EXPECT_EQ(d.y, 50);
    tagPOINTF back;
    view.DP2LP(CPoint(50, 50), back);
    EXPECT_NEAR(back.x, 0.0f, 1e-6);
    EXPECT_NEAR(back.y, 0.0f, 1e-6);
    Gdiplus::RectF vis;
    view.GetClientRectF(vis);
    EXPECT_FLOAT_EQ(vis.Width, 10.0f);
    EXPECT_FLOAT_EQ(vis.Height, 5.0f);
    EXPECT_FLOAT_EQ(vis.Y, 5.0f);
}

TEST(Lang, EveryTypeNameHasEnglishText) {
    CLang* lang = CLang::Instance();
    EXPECT_EQ(std::wstring(lang->GetString("IDS_TYPENAME_POLYLINE")), L"Polyline");
    EXPECT_EQ(std::wstring(lang->GetString("NO_SUCH_KEY")), L"NO_SUCH_KEY");
    lang->SetString("IDS_TYPENAME_POINT", L"Punkt");
    EXPECT_EQ(std::wstring(lang->GetString("IDS_TYPENAME_POINT")), L"Punkt");
    lang->ResetToDefaults();
    EXPECT_EQ(std::wstring(lang->GetString("IDS_TYPENAME_POINT")), L"Point");
}

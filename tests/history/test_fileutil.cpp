// CFileUtil: moving shapes between vectors and lists without losing or
// double-freeing them, loading and saving shape-list files, and the
// rectangle around a set of shapes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <list>
#include <string>
#include <unistd.h>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/core/polyline.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/fileutil.h"
#include "morvik/win32/windows.h"
#include "support/shape_support.h"

namespace {

using testsupport::Poly;

void FreeAll(std::vector<CBaseShape*>& shapes) {
    for (CBaseShape* s : shapes) {
        if (s == nullptr) continue;
        s->FreeShapePtr();
        delete s;
    }
    shapes.clear();
}

std::wstring TempPath(const std::string& name) {
    return Utf8ToWide(
        (std::filesystem::temp_directory_path() / ("morvik_fileutil_" + std::to_string(getpid()) + "_" + name))
            .string());
}

}  // namespace

TEST(FileUtil, VectorsAndListsHandOverShapesWithoutDanglingPointers) {
    CDocParam param;
    CPolyLine* a = Poly({{0, 0}, {1, 0}});
    CPolyLine* b = Poly({{0, 1}, {1, 1}});
    std::vector<CBaseShape*> shapes{&param, a, nullptr, b};
    CFileUtil::ShapeList list{a};
    EXPECT_TRUE(CFileUtil::VecToPList(shapes, list));
    EXPECT_EQ(list, (CFileUtil::ShapeList{a, a, b}));

    // The vector's own shapes are freed (ASan would report a leak otherwise);
    // the shapes the list still holds survive and come back.
    std::vector<CBaseShape*> mine{Poly({{5, 5}, {6, 6}}), a, Poly({{7, 7}, {8, 8}})};
    CFileUtil::ShapeList doc{a, b};
    EXPECT_TRUE(CFileUtil::PListToVec(doc, mine));
    EXPECT_EQ(mine, (std::vector<CBaseShape*>{a, b}));
    EXPECT_EQ(a->arrPoint.size(), 2u);

    // An empty list empties the vector, freeing a pointer listed twice once.
    CPolyLine* twice = Poly({{0, 0}, {2, 2}});
    std::vector<CBaseShape*> doubled{twice, twice};
    CFileUtil::ShapeList none;
    EXPECT_TRUE(CFileUtil::PListToVec(none, doubled));
    EXPECT_TRUE(doubled.empty());
    delete a;
    delete b;
}

TEST(FileUtil, GroupsAndTheirMembersAreFreedExactlyOnce) {
    // After an ungroup the list holds the members while the vector still
    // holds their old group: the group goes, the members come back alive.
    auto* group = new CGroupShape();
    CPolyLine* a = Poly({{0, 0}, {1, 0}});
    CPolyLine* b = Poly({{0, 1}, {1, 1}});
    group->GetChildren() = {a, b};
    std::vector<CBaseShape*> shapes{group};
    CFileUtil::ShapeList ungrouped{a, b};
    EXPECT_TRUE(CFileUtil::PListToVec(ungrouped, shapes));
    ASSERT_EQ(shapes, (std::vector<CBaseShape*>{a, b}));
    EXPECT_EQ(a->arrPoint.size(), 2u);  // ASan: no use after free
    EXPECT_EQ(b->arrPoint.size(), 2u);

    // A group listed beside one of its members, inside a nested group: every
    // shape is freed once (ASan reports a double free or a leak otherwise).
    auto* outer = new CGroupShape();
    auto* inner = new CGroupShape();
    CPolyLine* c = Poly({{0, 2}, {1, 2}});
    inner->GetChildren() = {c, b};
    outer->GetChildren() = {inner, a};
    std::vector<CBaseShape*> mixed{b, outer, c, a};
    CFileUtil::ShapeList none;
    EXPECT_TRUE(CFileUtil::PListToVec(none, mixed));
    EXPECT_TRUE(mixed.empty());
}

TEST(FileUtil, SaveAndLoadKeepParamGroupsAndReportFailures) {
    CDocParam param;
    param.m_arrEntries.resize(2);
    param.m_arrEntries[0].strText = L"lot";
    param.m_arrEntries[1].strText = L"42";
    auto* group = new CGroupShape();
    group->GetChildren() = {Poly({{0, 0}, {2, 0}}), Poly({{0, 3}, {2, 3}})};
    std::vector<CBaseShape*> shapes{Poly({{9, 9}, {10, 10}}), group};
    const std::wstring path = TempPath("doc.orzx");
    ASSERT_TRUE(CFileUtil::SaveOrz(path.c_str(), &param, shapes));

    std::vector<CBaseShape*> loaded{Poly({{1, 1}, {2, 2}})};  // freed by the load
    ASSERT_TRUE(CFileUtil::LoadOrz(path.c_str(), loaded));
    ASSERT_EQ(loaded.size(), 3u);
    ASSERT_EQ(loaded[0]->GetShapeKind(), SHAPE_DOCPARAM);
    auto* readParam = static_cast<CDocParam*>(loaded[0]);
    ASSERT_EQ(readParam->m_arrEntries.size(), 2u);
    EXPECT_EQ(readParam->m_arrEntries[1].strText, CString(L"42"));
    EXPECT_EQ(loaded[1]->GetCaption(), shapes[0]->GetCaption());
    ASSERT_EQ(loaded[2]->GetShapeKind(), SHAPE_GROUP);
    EXPECT_EQ(loaded[2]->GetChildren().size(), 2u);

    // Without a parameter record only the shapes are written.
    ASSERT_TRUE(CFileUtil::SaveOrz(path.c_str(), nullptr, shapes));
    ASSERT_TRUE(CFileUtil::LoadOrz(path.c_str(), loaded));
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0]->GetShapeKind(), SHAPE_POLYLINE);

    // Another ending only empties the vector; a missing or unwritable file is
    // a failure, not a silent success.
    EXPECT_TRUE(CFileUtil::LoadOrz(TempPath("doc.txt").c_str(), loaded));
    EXPECT_TRUE(loaded.empty());
    loaded.push_back(Poly({{1, 1}, {2, 2}}));
    EXPECT_FALSE(CFileUtil::LoadOrz(TempPath("absent.orz").c_str(), loaded));
    EXPECT_TRUE(loaded.empty());
    EXPECT_FALSE(CFileUtil::SaveOrz(L"/nonexistent-dir/doc.orzx", nullptr, shapes));

    std::filesystem::remove(std::filesystem::path(WideToUtf8(path)));
    FreeAll(shapes);
}

TEST(FileUtil, EnclosingRectangleOfShapes) {
    std::vector<CBaseShape*> shapes;
    Gdiplus::RectF rect(1, 2, 3, 4);
    CFileUtil::CalcShapesRectf(shapes, rect);
    EXPECT_EQ(rect.X, 1.0f);
    EXPECT_EQ(rect.Height, 4.0f);

    // A null first entry is skipped rather than dereferenced.
    shapes = {nullptr, Poly({{1, 1}, {3, 4}}), nullptr, Poly({{2, -2}, {6, 0}})};
    CFileUtil::CalcShapesRectf(shapes, rect);
    EXPECT_NEAR(rect.X, 1.0f, 1e-6f);
    EXPECT_NEAR(rect.Y, 4.0f, 1e-6f);  // the top edge
    EXPECT_NEAR(rect.Width, 5.0f, 1e-6f);
    EXPECT_NEAR(rect.Height, 6.0f, 1e-6f);
    FreeAll(shapes);
}

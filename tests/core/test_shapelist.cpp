// Shape-list files: the byte layout, adoption of children by their parents,
// damaged and hostile input, and round trips of every shape kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "morvik/compose/combine.h"
#include "morvik/compose/filledshape.h"
#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/core/shapelist.h"
#include "morvik/core/srifile.h"
#include "morvik/halder/basedoc.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/controls.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/picture.h"
#include "morvik/shapes/polygon.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/shapes/screwline.h"
#include "morvik/text/fonts.h"
#include "support/every_kind.h"
#include "support/shape_support.h"
#include "text/text_test_util.h"
#include "morvik/win32/windows.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Owns the shapes of a list the way a host does: containers free their
// members first.
struct ShapeList {
    std::list<CBaseShape*> shapes;
    ShapeList() = default;
    ShapeList(std::initializer_list<CBaseShape*> init) : shapes(init) {}
    ~ShapeList() {
        for (CBaseShape* s : shapes) {
            s->FreeShapePtr();
            delete s;
        }
    }
    ShapeList(const ShapeList&) = delete;
    ShapeList& operator=(const ShapeList&) = delete;
};

using sri::PutU32;

using testsupport::Poly;

std::vector<tagPOINTF> Flat(CBaseShape* s) {
    return testsupport::Flattened(*s, 0.01f);
}

void ExpectSamePoints(const std::vector<tagPOINTF>& a, const std::vector<tagPOINTF>& b, const std::wstring& what) {
    ASSERT_EQ(a.size(), b.size()) << std::string(what.begin(), what.end());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(a[i].x, b[i].x, 1e-4f) << i;
        EXPECT_NEAR(a[i].y, b[i].y, 1e-4f) << i;
    }
}

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("morvik_shapelist_" + std::to_string(getpid()) + "_" + name))
        .string();
}

std::wstring Wide(const std::string& s) { return Utf8ToWide(s); }

}  // namespace

TEST(ShapeListFile, LayoutHeaderAndUnknownKinds) {
    // An empty list: the extended header and a zero count, and nothing back.
    ShapeList empty;
    const Bytes bytes = testsupport::SavedList(empty.shapes);
    EXPECT_EQ(bytes, (Bytes{0x3C, 0, 0, 0, 0, 0, 0, 0}));
    ShapeList back;
    EXPECT_TRUE(testsupport::LoadList(bytes, back.shapes));
    EXPECT_TRUE(back.shapes.empty());

    // Any other header reads nothing.
    Bytes bad = bytes;
    bad[0] = 13;
    ShapeList none;
    EXPECT_FALSE(testsupport::LoadList(bad, none.shapes));
    EXPECT_TRUE(none.shapes.empty());

    // A record of an unknown kind (2), carrying a key no base shape knows,
    // comes back as a plain base shape and the record after it stays aligned.
    struct Foreign : CBaseShape {
        std::vector<tagPOINTF> extra{{1, 2}, {3, 4}};
        void AddAllProp(bool extended) override {
            CBaseShape::AddAllProp(extended);
            AddProp("foreignPoints", &extra);
        }
    };
    SriFile file;
    file.WriteLong(12);
    file.WriteLong(2);
    file.WriteLong(2);
    Foreign foreign;
    foreign.SetCaption(L"Alien");
    foreign.Save(false, &file);
    CPolyLine* after = Poly({{5, 5}, {6, 7}});
    after->SetCaption(L"After");
    file.WriteLong(SHAPE_POLYLINE);
    after->UpdatePropsValue();
    after->Save(false, &file);
    delete after;

    ShapeList mixed;
    EXPECT_TRUE(testsupport::LoadList(file.GetWrittenBytes(), mixed.shapes, true));
    ASSERT_EQ(mixed.shapes.size(), 2u);
    EXPECT_EQ(mixed.shapes.front()->GetShapeKind(), SHAPE_NONE);
    EXPECT_EQ(mixed.shapes.front()->GetCaption(), CString(L"Alien"));
    ASSERT_EQ(mixed.shapes.back()->GetShapeKind(), SHAPE_POLYLINE);
    EXPECT_EQ(mixed.shapes.back()->GetCaption(), CString(L"After"));
    ExpectSamePoints(static_cast<CPolyLine*>(mixed.shapes.back())->arrPoint, {{5, 5}, {6, 7}}, L"after");
}

TEST(ShapeListFile, ContainersAdoptTheirChildrenByGuid) {
    // Built as SaveShapeChild lists them: children before their parents.
    auto* group = new CGroupShape();
    CPolyLine* a = Poly({{0, 0}, {1, 0}});
    CPolyLine* b = Poly({{0, 1}, {1, 1}});
    group->GetChildren() = {a, b};
    auto* combine = new CCombineShape();
    CPolyLine* c = Poly({{0, 2}, {1, 2}});
    combine->GetChildren() = {c};
    CPolyLine* loose = Poly({{9, 9}, {8, 8}});
    ShapeList doc{group, combine, loose};
    std::list<CBaseShape*> records;
    for (CBaseShape* s : doc.shapes) s->SaveShapeChild(nullptr, records);
    ASSERT_EQ(records.size(), 6u);
    const Bytes bytes = testsupport::SavedList(records);

    ShapeList back;
    ASSERT_TRUE(testsupport::LoadList(bytes, back.shapes));
    ASSERT_EQ(back.shapes.size(), 3u);
    auto it = back.shapes.begin();
    ASSERT_EQ((*it)->GetShapeKind(), SHAPE_GROUP);
    std::vector<CBaseShape*>& kids = (*it)->GetChildren();
    ASSERT_EQ(kids.size(), 2u);
    EXPECT_EQ(kids[0]->GetCaption(), a->GetCaption());
    EXPECT_EQ(kids[1]->GetCaption(), b->GetCaption());
    Gdiplus::RectF r = testsupport::RectOf(**it);
    EXPECT_NEAR(r.Width, 1.0f, 1e-5f);
    EXPECT_NEAR(r.Height, 1.0f, 1e-5f);
    ++it;
    ASSERT_EQ((*it)->GetShapeKind(), SHAPE_COMBINE);
    ASSERT_EQ((*it)->GetChildren().size(), 1u);
    EXPECT_EQ((*it)->GetChildren()[0]->GetCaption(), c->GetCaption());
    ++it;
    EXPECT_EQ((*it)->GetCaption(), loose->GetCaption());

    // A container without a GUID adopts nothing, though the top-level shapes
    // carry the same (null) parent GUID.
    auto* nameless = new CGroupShape();
    nameless->SetBaseID(GUID{});
    ShapeList tops{Poly({{0, 0}, {1, 0}}), Poly({{0, 0}, {0, 1}}), nameless};
    std::list<CBaseShape*> flat;
    for (CBaseShape* s : tops.shapes) s->SaveShapeChild(nullptr, flat);
    ShapeList read;
    ASSERT_TRUE(testsupport::LoadList(testsupport::SavedList(flat), read.shapes));
    ASSERT_EQ(read.shapes.size(), 3u);
    EXPECT_TRUE(read.shapes.back()->GetChildren().empty());
}

// Random forests of nested groups, compound shapes, fill shapes and polylines
// come back
// with every member under its parent in its place, whatever the nesting;
// shapes already in the caller's list are adopted as well, and a shape whose
// parent never comes stays at the top.
TEST(ShapeListFile, RandomNestingsComeBackWhole) {
    // The structure as captions: a shape and its members' structures.
    std::function<std::wstring(CBaseShape*)> describe = [&describe](CBaseShape* s) {
        std::wstring out = std::wstring(s->GetCaption().GetString()) + L"(";
        for (CBaseShape* m : s->GetChildren()) out += describe(m) + L",";
        return out + L")";
    };
    std::srand(7);
    for (int round = 0; round < 20; ++round) {
        int leaves = 0;
        std::function<CBaseShape*(int)> build = [&](int depth) -> CBaseShape* {
            const int pick = depth > 3 ? 0 : std::rand() % 4;
            if (pick == 0) return Poly({{float(++leaves), 0}, {0, float(leaves)}});
            // Fill shapes too, nested in groups and in other fills.
            CBaseShape* box = pick == 1   ? static_cast<CBaseShape*>(new CGroupShape())
                              : pick == 2 ? static_cast<CBaseShape*>(new CCombineShape())
                                          : new CFilledShape();
            for (int n = std::rand() % 4; n >= 0; --n) box->GetChildren().push_back(build(depth + 1));
            return box;
        };
        ShapeList doc;
        for (int n = 1 + std::rand() % 5; n > 0; --n) doc.shapes.push_back(build(0));
        std::vector<std::wstring> want;
        for (CBaseShape* s : doc.shapes) want.push_back(describe(s));
        std::list<CBaseShape*> records;
        for (CBaseShape* s : doc.shapes) s->SaveShapeChild(nullptr, records);
        // The first record held back: it goes into the list before the read.
        CBaseShape* first = records.front();
        records.pop_front();
        ShapeList back;
        if (first->GetShapeKind() == SHAPE_POLYLINE) {
            back.shapes.push_back(first->Clone());
            back.shapes.back()->SetCaption(first->GetCaption());
            back.shapes.back()->SetParentBaseID(first->GetParentBaseID());
        } else {
            records.push_front(first);  // a container's record, kept in the file
        }
        // An orphan whose parent is nowhere in the file.
        CPolyLine* orphan = Poly({{0, 0}, {5, 5}});
        GUID nowhere{};
        nowhere.Data1 = 0xFEEDu;
        orphan->SetParentBaseID(nowhere);
        records.push_front(orphan);
        const Bytes bytes = testsupport::SavedList(records);
        const std::wstring orphanName = orphan->GetCaption().GetString();
        delete orphan;
        ASSERT_TRUE(testsupport::LoadList(bytes, back.shapes)) << round;
        std::vector<std::wstring> got;
        for (CBaseShape* s : back.shapes) got.push_back(describe(s));
        ASSERT_FALSE(got.empty());
        // The orphan is the only shape besides the top-level ones.
        std::vector<std::wstring> tops;
        for (const std::wstring& g : got)
            if (g.rfind(orphanName + L"(", 0) != 0) tops.push_back(g);
        EXPECT_EQ(tops, want) << round;
        EXPECT_EQ(got.size(), want.size() + 1) << round;
    }
}

// ---- texts and their fills ---------------------------------------------------

// The records of a shape list: the kind of each, from the file's own layout
// (header, count, then kind and a length-prefixed property block).
std::vector<int32_t> RecordKinds(const Bytes& bytes) {
    std::vector<int32_t> kinds;
    auto get = [&bytes](size_t at) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(bytes.at(at + i)) << (8 * i);
        return v;
    };
    const uint32_t count = get(4);
    size_t at = 8;
    for (uint32_t r = 0; r < count; ++r) {
        kinds.push_back(static_cast<int32_t>(get(at)));
        at += 8 + get(at + 4);
    }
    return kinds;
}

// The list a host saves: the text's children before it.
Bytes SaveText(CFonts* text) {
    std::list<CBaseShape*> records;
    text->SaveShapeChild(nullptr, records);
    return testsupport::SavedList(records);
}

// What the writer made before: one fill record for every character.
Bytes SaveTextWithEveryFill(CFonts* text) {
    std::list<CBaseShape*> records;
    for (CFilledShape* fill : text->GetFills()) fill->SaveShapeChild(text, records);
    text->CBaseShape::SaveShapeChild(nullptr, records);
    return testsupport::SavedList(records);
}

void ExpectSameMarks(CFonts* a, CFonts* b) {
    tagMarkDataPar ma, mb;
    ASSERT_TRUE(a->GetMarkData(ma, nullptr));
    ASSERT_TRUE(b->GetMarkData(mb, nullptr));
    for (auto [pa, pb] : {std::pair{&ma.arrPaths, &mb.arrPaths}, std::pair{&ma.arrPaths2, &mb.arrPaths2}}) {
        ASSERT_EQ(pa->size(), pb->size());
        for (size_t i = 0; i < pa->size(); ++i) {
            EXPECT_EQ((*pa)[i].nPenIndex, (*pb)[i].nPenIndex);
            ASSERT_EQ((*pa)[i].arrPolylines.size(), (*pb)[i].arrPolylines.size()) << i;
            for (size_t k = 0; k < (*pa)[i].arrPolylines.size(); ++k) {
                const auto& la = (*pa)[i].arrPolylines[k];
                const auto& lb = (*pb)[i].arrPolylines[k];
                ASSERT_EQ(la.size(), lb.size());
                for (size_t j = 0; j < la.size(); ++j) {
                    EXPECT_EQ(la[j].x, lb[j].x);
                    EXPECT_EQ(la[j].y, lb[j].y);
                }
            }
        }
    }
}

// A text saves a fill record only for the characters whose fill the load
// cannot make again; either way a reload marks exactly like the original
// and saves the same bytes again, and files with a record per character
// still load with every fill where it was.
TEST(ShapeListFile, TextsSaveFillsOnlyWhereACharacterHasOneOfItsOwn) {
    text_test::TempRunLog log("shapelist-text");
    FILLED_PARS hatch = testsupport::Hatch(0.3);
    hatch.fillParams[0].nPenNum = 2;
    struct Case {
        const wchar_t* text;
        bool filled;
        unsigned char pen;
        // A fill given settings of its own, or -1; -2 fills the text as a
        // whole, -3 with no set enabled.
        int ownSettingsAt;
        size_t fillRecords;
    };
    const Case cases[] = {
        {L"Hello, long world", false, 0, -1, 0},
        {L"Hello, long world", false, 5, -1, 0},
        {L"Hello, long world", false, 0, 6, 7},
        {L"O8 i", true, 3, -1, 4},  // a fill per character, the space's included
        {L"O8 i", true, 3, -2, 1},  // the whole text in the first fill
        {L"O8 i", true, 0, -3, 4},  // outlines without hatch
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.filled << " pen " << int(c.pen) << " own " << c.ownSettingsAt);
        auto* text = new CFonts();
        ShapeList keep{text};
        text->InitFontsPath({3, 4}, CString(c.text), CString(L"DejaVu Sans"), false);
        if (c.filled) {
            FILLED_PARS par = hatch;
            par.fillParams[0].bWholeConsider = c.ownSettingsAt == -2 ? 1 : 0;
            par.fillParams[0].bEnable = c.ownSettingsAt == -3 ? 0 : 1;
            text->SetFill(par, false);
        }
        text->SetPen(c.pen);
        if (c.ownSettingsAt >= 0) {
            FILLED_PARS own;
            own.fillParams[1].bEnable = 1;
            own.fillParams[1].fAngle = 45;
            text->GetFills().at(static_cast<size_t>(c.ownSettingsAt))->SaveParamToCFG(own);
        }
        const size_t chars = text->GetChars().size();
        ASSERT_EQ(text->GetFills().size(), chars);

        const Bytes bytes = SaveText(text);
        std::vector<int32_t> kinds = RecordKinds(bytes);
        ASSERT_FALSE(kinds.empty());
        EXPECT_EQ(kinds.back(), SHAPE_FONTS);
        // Fill records, each after the outlines it holds.
        EXPECT_EQ(static_cast<size_t>(std::count(kinds.begin(), kinds.end(), SHAPE_FILLED)), c.fillRecords);

        ShapeList back;
        ASSERT_TRUE(testsupport::LoadList(bytes, back.shapes));
        ASSERT_EQ(back.shapes.size(), 1u);
        auto* loaded = dynamic_cast<CFonts*>(back.shapes.front());
        ASSERT_NE(loaded, nullptr);
        ASSERT_EQ(loaded->GetFills().size(), chars);
        for (size_t i = 0; i < chars; ++i) {
            CFilledShape* was = text->GetFills()[i];
            CFilledShape* now = loaded->GetFills()[i];
            const FILLED_PARS pw = was->GetFillParam(), pn = now->GetFillParam();
            for (int s = 0; s < 4; ++s) {
                EXPECT_EQ(pn.fillParams[s].bEnable, pw.fillParams[s].bEnable) << i;
                EXPECT_EQ(pn.fillParams[s].fAngle, pw.fillParams[s].fAngle) << i;
                EXPECT_EQ(pn.fillParams[s].nFillType, pw.fillParams[s].nFillType) << i;
            }
        }
        ExpectSameMarks(text, loaded);
        EXPECT_EQ(SaveText(loaded), bytes);

        // The form with a fill record for every character.
        const Bytes old = SaveTextWithEveryFill(text);
        kinds = RecordKinds(old);
        ASSERT_EQ(static_cast<size_t>(std::count(kinds.begin(), kinds.end(), SHAPE_FILLED)), chars);
        ShapeList oldBack;
        ASSERT_TRUE(testsupport::LoadList(old, oldBack.shapes));
        ASSERT_EQ(oldBack.shapes.size(), 1u);
        auto* fromOld = dynamic_cast<CFonts*>(oldBack.shapes.front());
        ASSERT_EQ(fromOld->GetFills().size(), chars);
        ExpectSameMarks(text, fromOld);  // the hatch of every fill included
    }
}

TEST(ShapeListFile, DamagedInputKeepsOnlyCompleteShapes) {
    // A spiral line is built on a polyline and takes a polyline number too.
    ShapeList doc{Poly({{0, 0}, {1, 0}, {1, 1}}), new CCircle(), Poly({{2, 2}, {3, 3}}), new CScrewLine(),
                  new CPoints()};
    static_cast<CCircle*>(*std::next(doc.shapes.begin()))->InitCircle(5, 5, 0, 2);
    std::vector<std::wstring> captions;
    for (CBaseShape* s : doc.shapes) captions.push_back(s->GetCaption().GetString());
    const Bytes bytes = testsupport::SavedList(doc.shapes);

    // Where each record ends: the size of a file of the first k shapes.
    std::vector<size_t> ends;
    {
        std::list<CBaseShape*> prefix;
        for (CBaseShape* s : doc.shapes) {
            prefix.push_back(s);
            ends.push_back(testsupport::SavedList(prefix).size());
        }
    }
    ASSERT_EQ(ends.back(), bytes.size());

    for (size_t len = 0; len < bytes.size(); ++len) {
        const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(len));
        const int polylinesBefore = ShapeCounterOf(SHAPE_POLYLINE).Peek();
        ShapeList back;
        EXPECT_FALSE(testsupport::LoadList(cut, back.shapes)) << len;
        size_t complete = 0;
        while (complete < ends.size() && ends[complete] <= len) ++complete;
        ASSERT_EQ(back.shapes.size(), complete) << len;
        size_t i = 0;
        int polylinesKept = 0;
        for (CBaseShape* s : back.shapes) {
            EXPECT_EQ(std::wstring(s->GetCaption().GetString()), captions[i++]) << len;
            polylinesKept += s->GetShapeKind() == SHAPE_POLYLINE || s->GetShapeKind() == SHAPE_SCREWLINE ? 1 : 0;
        }
        // A shape dropped half-read gives back its running number.
        EXPECT_EQ(ShapeCounterOf(SHAPE_POLYLINE).Peek(), polylinesBefore + polylinesKept) << len;
    }

    // A group whose record is cut leaves its children at the top level.
    auto* group = new CGroupShape();
    group->GetChildren() = {Poly({{0, 0}, {1, 0}}), Poly({{0, 1}, {1, 1}})};
    ShapeList owner{group};
    std::list<CBaseShape*> records;
    group->SaveShapeChild(nullptr, records);
    Bytes grouped = testsupport::SavedList(records);
    grouped.resize(grouped.size() - 1);
    ShapeList partial;
    EXPECT_FALSE(testsupport::LoadList(grouped, partial.shapes));
    ASSERT_EQ(partial.shapes.size(), 2u);
    for (CBaseShape* s : partial.shapes) EXPECT_EQ(s->GetShapeKind(), SHAPE_POLYLINE);

    // A huge count over a few bytes, a negative count, a broken record
    // length: no crash, no allocation spree, nothing invented.
    Bytes hostile{60, 0, 0, 0};
    PutU32(hostile, 0x7FFFFFFF);
    PutU32(hostile, SHAPE_GROUP);
    PutU32(hostile, 0xFFFFFFF0);
    ShapeList h1;
    EXPECT_FALSE(testsupport::LoadList(hostile, h1.shapes));
    EXPECT_TRUE(h1.shapes.empty());
    Bytes negative{12, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    ShapeList h2;
    EXPECT_FALSE(testsupport::LoadList(negative, h2.shapes));
    EXPECT_TRUE(h2.shapes.empty());

    // Null arguments do nothing.
    CVonnSriShapeList nowhere(nullptr);
    EXPECT_FALSE(nowhere.LoadList(L"x.orz"));
    std::list<CBaseShape*> list;
    EXPECT_FALSE(CVonnSriShapeList(&list).LoadFileFromMem(nullptr, 10, true));
    EXPECT_TRUE(list.empty());
}

TEST(ShapeListFile, EveryKindRoundTripsThroughAFile) {
    testsupport::TempDir dir("morvik-list");
    ShapeList doc;
    for (const testsupport::ShapeKind& kind : testsupport::EveryKind(dir))
        if (kind.name.find("text") == std::string::npos && kind.name != "barcode" && kind.name != "fill")
            doc.shapes.push_back(kind.make());

    CDocParam param;
    param.m_arrEntries.resize(1);
    param.m_arrEntries[0].strText = L"serial";

    std::list<CBaseShape*> records{&param};
    for (CBaseShape* s : doc.shapes) s->SaveShapeChild(nullptr, records);
    const std::string path = TempPath("all.orzx");
    CVonnSriShapeList writer(&records);
    ASSERT_TRUE(writer.SaveList(Wide(path).c_str()));

    ShapeList back;
    CVonnSriShapeList reader(&back.shapes);
    ASSERT_TRUE(reader.LoadList(Wide(path).c_str()));
    ASSERT_EQ(back.shapes.size(), doc.shapes.size() + 1);
    auto it = back.shapes.begin();
    ASSERT_EQ((*it)->GetShapeKind(), SHAPE_DOCPARAM);
    auto* readParam = static_cast<CDocParam*>(*it);
    ASSERT_EQ(readParam->m_arrEntries.size(), 1u);
    EXPECT_EQ(readParam->m_arrEntries[0].strText, CString(L"serial"));
    ++it;
    for (CBaseShape* original : doc.shapes) {
        CBaseShape* copy = *it++;
        const std::wstring name = original->GetCaption().GetString();
        ASSERT_EQ(copy->GetShapeKind(), original->GetShapeKind()) << std::string(name.begin(), name.end());
        EXPECT_EQ(copy->GetCaption(), original->GetCaption());
        EXPECT_EQ(copy->GetChildren().size(), original->GetChildren().size());
        ExpectSamePoints(Flat(copy), Flat(original), name);
        Gdiplus::RectF a, b;
        original->GetRectangle(a);
        copy->GetRectangle(b);
        EXPECT_NEAR(a.X, b.X, 1e-4f) << std::string(name.begin(), name.end());
        EXPECT_NEAR(a.Y, b.Y, 1e-4f);
        EXPECT_NEAR(a.Width, b.Width, 1e-4f);
        EXPECT_NEAR(a.Height, b.Height, 1e-4f);
    }
    // Known geometry survives, not just agreement: the closed zigzag and
    // the circle of radius 5.5 about (3.5, -4.25).
    std::vector<tagPOINTF> zigzag = Flat(*std::next(back.shapes.begin(), 2));
    ASSERT_EQ(zigzag.size(), 5u);
    EXPECT_NEAR(zigzag[1].x, 7.25f, 1e-6f);
    for (const tagPOINTF& p : Flat(*std::next(back.shapes.begin(), 5))) {
        EXPECT_NEAR(std::hypot(p.x - 3.5, p.y + 4.25), 5.5, 0.01);
    }
    std::remove(path.c_str());
}

TEST(ShapeListFile, PathEndingsAndTheHeaderDecideTheForm) {
    ShapeList doc{Poly({{0, 0}, {4, 3}})};
    const std::string plainPath = TempPath("p.ORZ");
    {
        SriFile file(Wide(plainPath).c_str(), true);
        CVonnSriShapeList writer(&doc.shapes);
        writer.Save(false, &file);
        ASSERT_TRUE(file.Close());
    }
    // ".ORZ" matches without case; the plain file under an "orzx" name reads
    // the same, since the header says which form it is.
    const std::string extPath = TempPath("p.orzx");
    std::filesystem::copy_file(plainPath, extPath, std::filesystem::copy_options::overwrite_existing);
    for (const std::string& p : {plainPath, extPath}) {
        ShapeList back;
        CVonnSriShapeList reader(&back.shapes);
        EXPECT_TRUE(reader.LoadList(Wide(p).c_str())) << p;
        ASSERT_EQ(back.shapes.size(), 1u) << p;
        ExpectSamePoints(static_cast<CPolyLine*>(back.shapes.front())->arrPoint, {{0, 0}, {4, 3}}, L"line");
    }
    // Other endings are ignored, and so is a missing file.
    const std::string other = TempPath("p.orz.bak");
    std::filesystem::copy_file(plainPath, other, std::filesystem::copy_options::overwrite_existing);
    for (const std::string& p : {other, TempPath("missing.orz")}) {
        ShapeList back;
        CVonnSriShapeList reader(&back.shapes);
        EXPECT_FALSE(reader.LoadList(Wide(p).c_str())) << p;
        EXPECT_TRUE(back.shapes.empty());
    }
    // A file that cannot be created is reported.
    CVonnSriShapeList writer(&doc.shapes);
    EXPECT_FALSE(writer.SaveList(L"/nonexistent-dir/x.orzx"));
    for (const std::string& p : {plainPath, extPath, other}) std::remove(p.c_str());
}

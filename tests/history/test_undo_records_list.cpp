// Records that swap the document's shape list, add or remove shapes, or
// replay stored parameters through a shape's setter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "morvik/core/params.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/undo_records_list.h"
#include "morvik/history/undo_records_param.h"
#include "history_test_util.h"
#include "morvik/shapes/picture.h"
#include "morvik/shapes/screwline.h"

namespace {

class DocSpy : public CBaseDoc {
public:
    void OnShapeListChanged() override { log.push_back("list"); }
    void OnShapeParamChanged(CBaseShape* s, int) override { log.push_back("param:" + Name(s)); }
    void OnFillUndone(CBaseShape* s) override { log.push_back("fillundone:" + Name(s)); }
    std::string Name(CBaseShape* s) const { return s == nullptr ? "null" : CStringA(s->GetCaption()).GetString(); }
    Journal log;
};

class FrameSpy : public CBaseFrame {
public:
    FrameSpy() { CBaseFrame::SetMainFrame(this); }
    ~FrameSpy() override { CBaseFrame::SetMainFrame(nullptr); }
    BOOL RefreshPanels(BOOL all) override {
        refreshed += all ? 1 : 0;
        return TRUE;
    }
    int refreshed = 0;
};

// A shape that counts refills.
class FillSpy : public KindShape {
public:
    using KindShape::KindShape;
    void FillShape(const FILLED_PARS&) override { ++fills; }
    int fills = 0;
};

// A text stand-in that sums the moves it is asked for.
class Mover : public KindShape {
public:
    Mover() : KindShape(SHAPE_FONTS) {}
    int Move(float dx, float dy) override {
        moved.x += dx;
        moved.y += dy;
        ++moves;
        return 1;
    }
    tagPOINTF moved{0, 0};
    int moves = 0;
};

struct Desk {
    DocSpy doc;
    CBaseView view{&doc};
    CCore core{&doc, &view};
    KindShape* Add(CAD_SHAPE_TYPE kind = SHAPE_POLYLINE, const wchar_t* name = L"s") {
        auto* s = new KindShape(kind);
        s->SetCaption(name);
        doc.AddShape(s);
        return s;
    }
    ShapeListSnapshot List() { return doc.GetShapeList(); }
};

TEST(ListRecords, SnapshotSwapsAlternateBetweenTheSameObjects) {
    Desk d;
    KindShape *a = d.Add(), *b = d.Add(), *c = d.Add();
    ShapeListSnapshot before = d.List();
    d.doc.DeleteSelShapeByUUID(b->GetBaseID());  // the deletion itself
    auto* rec = new CUND_Delete(new stListSwapUndo{before, d.List()});
    d.core.AddUndoItem(rec);
    d.core.OnEditUndo();
    EXPECT_EQ(d.List(), (ShapeListSnapshot{a, b, c}));
    d.core.OnEditRedo();
    EXPECT_EQ(d.List(), (ShapeListSnapshot{a, c}));
    d.core.OnEditUndo();
    EXPECT_EQ(d.List(), (ShapeListSnapshot{a, b, c}));

    // Destroy, then the destructor: the payload is freed once.
    auto* del = new CUND_Delete(new stListSwapUndo{before, before});
    del->Destroy();
    EXPECT_TRUE(del->m_pData->before.empty() && del->m_pData->after.empty());
    delete del;
    auto* drag = new CUND_DragDrop(new stDragDropUndo{before, before, {}, {}});
    drag->Destroy();
    EXPECT_EQ(drag->m_pData, nullptr);
    EXPECT_EQ(drag->OnEditUndo(&d.core), 1);  // nothing left to replay
    delete drag;
    auto* arr = new CUND_Array(new stListSwapExUndo{before, before, {nullptr}, 5});
    arr->Destroy();
    delete arr;
}

TEST(ListRecords, ClosingStepsDifferByRecord) {
    Desk d;
    FrameSpy frame;
    KindShape *a = d.Add(), *b = d.Add();
    ShapeListSnapshot ab{a, b}, ba{b, a};

    CUND_DragDrop drag(new stDragDropUndo{ab, ba, {b}, {}});
    const int invalidated = d.view.GetInvalidateCount();
    drag.OnEditUndo(&d.core);
    EXPECT_EQ(d.List(), ab);
    EXPECT_EQ(b->IsSelected(), 1);
    EXPECT_EQ(a->IsSelected(), 0);
    EXPECT_EQ(frame.refreshed, 1);
    EXPECT_EQ(d.view.GetInvalidateCount(), invalidated);  // no invalidation

    CUND_BestPath best(new stListSwapUndo{ab, ba});
    best.OnEditRedo(&d.core);
    EXPECT_EQ(d.List(), ba);
    EXPECT_EQ(frame.refreshed, 2);

    CUND_Array arr(new stListSwapExUndo{ab, ba, {}, 0});
    arr.OnEditUndo(&d.core);
    EXPECT_EQ(d.doc.log, Journal{"list"});

    CUND_Group group(new stListSwapExUndo{ab, ba, {}, 0});
    EXPECT_EQ(group.m_nVectorFile, 0);
    group.SetVectorFile();
    EXPECT_EQ(group.m_nVectorFile, 1);
    const int before = d.view.GetInvalidateCount();
    group.OnEditRedo(&d.core);
    EXPECT_EQ(d.view.GetInvalidateCount(), before + 2);  // invalidate, then redraw now
    group.OnEditUndo(&d.core);
    EXPECT_EQ(d.view.GetInvalidateCount(), before + 3);
}

TEST(ListRecords, CreationAndPasteTakeShapesOffAndAppendThemAgain) {
    Desk d;
    KindShape* old = d.Add();
    KindShape* made = d.Add();
    CUND_Create create(made);
    create.OnEditUndo(&d.core);
    EXPECT_EQ(d.List(), (ShapeListSnapshot{old}));
    EXPECT_FALSE(made->GetCaption().IsEmpty());  // still alive
    create.OnEditRedo(&d.core);
    create.OnEditRedo(&d.core);  // a second redo does not list it twice
    EXPECT_EQ(d.List(), (ShapeListSnapshot{old, made}));
    EXPECT_EQ(d.core.m_vecLastShapeIDs, std::vector<GUID>{made->GetBaseID()});

    KindShape *p1 = d.Add(), *p2 = d.Add(), *p3 = d.Add();
    CUND_Paste paste(new std::vector<CBaseShape*>{p1, p2, p3});
    paste.OnEditUndo(&d.core);
    EXPECT_EQ(d.List(), (ShapeListSnapshot{old, made}));
    KindShape* later = d.Add();
    paste.OnEditRedo(&d.core);
    EXPECT_EQ(d.List(), (ShapeListSnapshot{old, made, later, p1, p2, p3}));
}

TEST(ListRecords, MemberGoesBackIntoGroupsAndCompoundsOnly) {
    Desk d;
    // The document frees the members of its containers.
    KindShape* group = d.Add(SHAPE_GROUP);
    auto* kept = new KindShape;
    auto* member = new KindShape;
    group->GetChildren() = {kept};
    CUND_UnEditPointDelShapeFromCombine rec(new stCombineMemberUndo{group, member});
    rec.OnEditUndo(&d.core);
    rec.OnEditUndo(&d.core);  // never listed twice
    EXPECT_EQ(group->GetChildren(), (std::vector<CBaseShape*>{kept, member}));
    rec.OnEditRedo(&d.core);
    EXPECT_EQ(group->GetChildren(), std::vector<CBaseShape*>{kept});

    KindShape* compound = d.Add(SHAPE_COMBINE);
    CUND_UnEditPointDelShapeFromCombine rec2(new stCombineMemberUndo{compound, member});
    rec2.OnEditUndo(&d.core);
    EXPECT_EQ(compound->GetChildren(), std::vector<CBaseShape*>{member});

    KindShape* plain = d.Add(SHAPE_RECTANGLE);
    CUND_UnEditPointDelShapeFromCombine rec3(new stCombineMemberUndo{plain, member});
    const int before = d.view.GetInvalidateCount();
    rec3.OnEditUndo(&d.core);
    EXPECT_TRUE(plain->GetChildren().empty());
    EXPECT_EQ(d.view.GetInvalidateCount(), before + 1);
}

TEST(ListRecords, UngroupRefillsNonTextShapes) {
    Desk d;
    auto* shape = new FillSpy(SHAPE_POLYLINE);
    auto* text = new FillSpy(SHAPE_FONTS);
    d.doc.AddShape(shape);
    d.doc.AddShape(text);
    CUND_Ungroup rec(new stUngroupUndo{{shape, text}, {}, {shape, text, nullptr}});
    rec.OnEditRedo(&d.core);
    EXPECT_TRUE(d.List().empty());
    rec.OnEditUndo(&d.core);
    EXPECT_EQ(d.List().size(), 2u);
    EXPECT_EQ(shape->fills, 1);
    EXPECT_EQ(text->fills, 0);
}

struct OwnedThing : CObject {
    explicit OwnedThing(bool& gone) : m_gone(gone) {}
    ~OwnedThing() override { m_gone = true; }
    bool& m_gone;
};

TEST(ListRecords, RecordsReleaseOnlyWhatTheDocumentDoesNotOwn) {
    bool gone = false;
    { CUND_OpenORZ open(new stOpenORZUndo{{}, {}, {}, new OwnedThing(gone)}); }
    EXPECT_TRUE(gone);

    Desk d;
    KindShape* before = d.Add(SHAPE_POLYLINE, L"old");
    auto* line = new KindShape(SHAPE_SCREWLINE);
    line->SetCaption(L"spiral");
    d.doc.AddShape(line);
    {
        // The spiral line is in the document's list: the document frees it.
        CUND_Screw screw(new stScrewUndo{{before}, {line}, before, line});
        screw.OnEditUndo(&d.core);
        screw.OnEditRedo(&d.core);
        EXPECT_EQ(d.doc.log, (Journal{"list", "param:old", "list", "param:spiral"}));
    }
    EXPECT_EQ(d.List(), ShapeListSnapshot{line});
    // One that never reached a snapshot is the record's to release (the
    // leak checker would report it otherwise).
    { CUND_Screw screw(new stScrewUndo{{}, {}, nullptr, new KindShape(SHAPE_SCREWLINE)}); }

    // Several fills at once: unlisted filled shapes are released once even
    // when two entries name the same one; listed ones stay with the document.
    auto* loose = new KindShape(SHAPE_FILLED);
    auto* payload = new stMultiFillUndo;
    payload->vecFill = {new stFillUndo, new stFillUndo, new stFillUndo, nullptr};
    payload->vecFill[0]->pFilled = loose;
    payload->vecFill[1]->pFilled = loose;
    payload->vecFill[2]->pFilled = line;
    payload->vecFill[2]->after = {line};
    payload->vecText = {new stFontFillUndo};
    payload->vecRefill = {new stSetFillUndo};
    { CUND_MutliFill multi(payload); }
    EXPECT_EQ(line->GetShapeKind(), SHAPE_SCREWLINE);  // still alive
}

TEST(ParamRecords, FillRecordsSwapListsAndNotify) {
    Desk d;
    KindShape* a = d.Add(SHAPE_POLYLINE, L"a");
    KindShape* filled = d.Add(SHAPE_FILLED, L"fill");
    stFillUndo* p = new stFillUndo;
    p->before = {a};
    p->after = {a, filled};
    p->pFilled = filled;
    CUND_Fill fill(p);
    EXPECT_EQ(fill.GetKind(), 18);
    fill.OnEditUndo(&d.core);
    EXPECT_EQ(d.List(), ShapeListSnapshot{a});
    fill.OnEditRedo(&d.core);
    EXPECT_EQ(d.List(), (ShapeListSnapshot{a, filled}));
    EXPECT_EQ(d.doc.log, (Journal{"list", "fillundone:fill", "list", "param:fill"}));

    CUND_MutliFill empty;
    EXPECT_EQ(empty.OnEditUndo(&d.core), 1);
    EXPECT_EQ(empty.OnEditRedo(&d.core), 1);
    EXPECT_EQ(empty.GetKind(), 34);
}

TEST(ParamRecords, TextContentMovesOnlyWhenItsFirstStringStayed) {
    HostScope hs;
    Desk d;
    HWND first = reinterpret_cast<HWND>(0x31);
    d.doc.m_hNotifyWnd[0] = first;
    auto* text = new Mover();
    auto* second = new Mover();
    d.doc.AddShape(text);
    d.doc.AddShape(second);
    auto make = [&](const wchar_t* oldFirst) {
        auto* p = new stFontsUndo;
        p->ids = {text->GetBaseID(), second->GetBaseID()};
        p->strOldFirst = oldFirst;
        p->strNewFirst = L"ABC";
        p->ptOld = {1, 2};
        p->ptNew = {4, 6};
        return p;
    };

    CUND_Fonts same(make(L"ABC"));
    EXPECT_EQ(same.GetKind(), 28);
    same.OnEditUndo(&d.core);
    EXPECT_FLOAT_EQ(text->moved.x, -3.0f);
    EXPECT_FLOAT_EQ(text->moved.y, -4.0f);
    same.OnEditRedo(&d.core);
    EXPECT_FLOAT_EQ(text->moved.x, 0.0f);
    EXPECT_FLOAT_EQ(text->moved.y, 0.0f);
    EXPECT_EQ(text->moves, 2);
    EXPECT_EQ(second->moves, 0);  // only the first GUID is used
    EXPECT_EQ(d.core.m_vecLastShapeIDs.size(), 2u);
    auto sent = hs.host->Messages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].wnd, first);
    EXPECT_EQ(sent[0].lParam, reinterpret_cast<LPARAM>(text));

    CUND_Fonts changed(make(L"XYZ"));
    changed.OnEditUndo(&d.core);
    EXPECT_EQ(text->moves, 2);

    CUND_Fonts none(new stFontsUndo);
    EXPECT_EQ(none.OnEditUndo(&d.core), 1);
}

TEST(ParamRecords, PictureParametersComeBackAndMissingShapesAreReported) {
    HostScope hs;
    Desk d;
    HWND w0 = reinterpret_cast<HWND>(0x41), w1 = reinterpret_cast<HWND>(0x42);
    d.doc.m_hNotifyWnd[0] = w0;
    d.doc.m_hNotifyWnd[1] = w1;
    auto* pic = new CPicture();
    d.doc.AddShape(pic);
    auto* p = new stPictureUndo;
    p->ids = {GUID{3, 3, 3, {}}, pic->GetBaseID()};
    p->parOld.nDpiX = 150;
    p->parNew.nDpiX = 600;
    CUND_Picture rec(p);
    EXPECT_EQ(rec.GetKind(), 0);

    EXPECT_EQ(rec.OnEditUndo(&d.core), 0);
    PICTURE_PAR now;
    pic->GetPicture(now);
    EXPECT_EQ(now.nDpiX, 150);
    auto boxes = hs.host->MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"Can't found shape by id");
    auto sent = hs.host->Messages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].wnd, w0);
    EXPECT_EQ(sent[1].wnd, w1);
    EXPECT_EQ(sent[1].wParam, 1u);

    hs.host->ClearRecords();
    const int painted = d.view.GetInvalidateCount();
    EXPECT_EQ(rec.OnEditRedo(&d.core), 0);
    pic->GetPicture(now);
    EXPECT_EQ(now.nDpiX, 600);
    sent = hs.host->Messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].wnd, w0);
    EXPECT_EQ(sent[0].wParam, 0u);
    EXPECT_EQ(d.view.GetInvalidateCount(), painted);
}

TEST(ParamRecords, SpiralParametersComeBack) {
    HostScope hs;
    Desk d;
    auto* screw = new CScrewLine();
    screw->SetCaption(L"spiral");
    d.doc.AddShape(screw);
    auto* p = new stSetScrewUndo;
    p->parOld.m_fMinGap = 0.25f;
    p->parOld.m_nOutCount = 2;
    p->parNew.m_fMinGap = 0.75f;
    p->pScrew = screw;
    CUND_SetScrew rec(p);
    rec.OnEditUndo(&d.core);
    SCREW_PAR now;
    screw->GetParam(now);
    EXPECT_FLOAT_EQ(now.m_fMinGap, 0.25f);
    EXPECT_EQ(now.m_nOutCount, 2u);
    rec.OnEditRedo(&d.core);
    screw->GetParam(now);
    EXPECT_FLOAT_EQ(now.m_fMinGap, 0.75f);
    EXPECT_EQ(d.doc.log, (Journal{"list", "param:spiral", "list", "param:spiral"}));
}

}  // namespace

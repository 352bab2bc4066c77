// The editing core: the undo list and its cursor, record ownership, shape
// lookup by GUID, taking shapes out, and the operation log.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>

#include "morvik/halder/basedoc.h"
#include "history_test_util.h"

namespace {

TEST(EditingCore, CursorFollowsUndoRedoAndAddingDropsTheRedoTail) {
    HostScope hs;
    Journal j;
    CCore core(nullptr, nullptr);
    auto* a = new SpyRecord(j, "A");
    auto* c = new SpyRecord(j, "C");
    int cursorDepth = -1;
    c->onReplay = [&](CCore*) { cursorDepth = hs.host->WaitCursorDepth(); };
    for (CUND_Base* r : {static_cast<CUND_Base*>(a), static_cast<CUND_Base*>(new SpyRecord(j, "B")),
                         static_cast<CUND_Base*>(c)}) {
        core.AddUndoItem(r);
    }
    EXPECT_EQ(core.IsAbleToRedo(), 0);
    core.OnEditUndo();
    core.OnEditUndo();
    core.OnEditRedo();
    core.OnEditUndo();
    // Undo still counts its record as done; redo counts it done already.
    EXPECT_EQ(j, (Journal{"C.undo@3", "B.undo@2", "B.redo@2", "B.undo@2"}));
    EXPECT_EQ(cursorDepth, 1);
    EXPECT_EQ(core.IsAbleToRedo(), 1);

    j.clear();
    auto* d = new SpyRecord(j, "D");
    core.AddUndoItem(d);
    EXPECT_EQ(j, (Journal{"C.delete", "B.delete"}));  // last first, no Destroy
    EXPECT_EQ(core.m_vecUndo, (std::vector<CUND_Base*>{a, d}));
    EXPECT_EQ(core.m_nUndoPos, 2);
    EXPECT_EQ(core.m_nUndoCount, 2);

    j.clear();
    core.OnEditRedo();
    for (int i = 0; i < 3; ++i) core.OnEditUndo();
    EXPECT_EQ(j, (Journal{"D.undo@2", "A.undo@1"}));
    EXPECT_EQ(core.IsAbleToUndo(), 0);
    EXPECT_EQ(hs.host->WaitCursorDepth(), 0);
}

// Every record the host adds tells the document it changed; a host that
// overrides the flag hears each one, and undo or redo alone add nothing.
TEST(EditingCore, AddingARecordMarksTheDocumentModified) {
    struct Doc : CBaseDoc {
        int calls = 0;
        void SetModifiedFlag(BOOL modified) override {
            ++calls;
            CBaseDoc::SetModifiedFlag(modified);
        }
    } doc;
    HostScope hs;
    Journal j;
    CCore core(&doc, nullptr);
    EXPECT_FALSE(doc.IsModified());
    core.AddUndoItem(nullptr);
    EXPECT_EQ(doc.calls, 0);
    core.AddUndoItem(new SpyRecord(j, "A"));
    EXPECT_TRUE(doc.IsModified());
    doc.CBaseDoc::SetModifiedFlag(FALSE);  // the host saved
    core.OnEditUndo();
    core.OnEditRedo();
    EXPECT_FALSE(doc.IsModified());
    core.AddUndoItem(new SpyRecord(j, "B"));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.calls, 2);
}

TEST(EditingCore, EveryRecordIsReleasedOnceWhateverItsState) {
    Journal j;
    {
        CCore core(nullptr, nullptr);
        core.AddUndoItem(new SpyRecord(j, "A"));
        core.AddUndoItem(new SpyRecord(j, "B"));
        core.OnEditUndo();
        j.clear();
    }
    EXPECT_EQ(j, (Journal{"A.Destroy", "A.delete", "B.Destroy", "B.delete"}));

    j.clear();
    CCore core(nullptr, nullptr);
    core.AddUndoItem(new SpyRecord(j, "X"));
    core.ClearUndoInfo(-7);
    EXPECT_EQ(core.m_nUndoCount + core.m_nUndoPos, 0);
    CBaseDoc doc;  // a document without a history destroys what it is handed
    doc.AddUndo(new SpyRecord(j, "Y"));
    EXPECT_EQ(j, (Journal{"X.Destroy", "X.delete", "Y.Destroy", "Y.delete"}));
}

TEST(EditingCore, RefusesWhatWouldBreakTheHistory) {
    Journal j;
    CCore core(nullptr, nullptr);
    core.AddUndoItem(nullptr);
    auto* a = new SpyRecord(j, "A");
    core.AddUndoItem(a);
    core.AddUndoItem(a);
    EXPECT_EQ(core.m_nUndoCount, 1);

    // Records made, steps taken or the history cleared during a replay.
    a->onReplay = [&](CCore* c) {
        c->AddUndoItem(new SpyRecord(j, "E"));
        c->OnEditRedo();
        c->ClearUndoInfo(0);
    };
    core.OnEditUndo();
    EXPECT_EQ(j, (Journal{"A.undo@1", "E.Destroy", "E.delete"}));
    EXPECT_EQ(core.m_nUndoPos, 0);
    EXPECT_EQ(core.m_nUndoCount, 1);

    // A cursor the host pushed out of range.
    a->onReplay = nullptr;
    core.m_nUndoPos = 99;
    core.OnEditUndo();
    EXPECT_EQ(core.m_nUndoPos, 0);
}

TEST(EditingCore, FindsTopLevelShapesAndCompoundMembersButNotGroupMembers) {
    CBaseDoc doc;
    CCore core(&doc, nullptr);
    auto add = [&](CAD_SHAPE_TYPE kind, CBaseShape* owner = nullptr, bool parts = false) {
        auto* s = new KindShape(kind);
        owner ? doc.AdoptShape(s) : doc.AddShape(s);
        if (owner) (parts ? owner->GetParts() : owner->GetChildren()).push_back(s);
        return s;
    };
    KindShape* compound = add(SHAPE_COMBINE);
    KindShape* group = add(SHAPE_GROUP);
    for (KindShape* s : {add(SHAPE_CIRCLE), compound, add(SHAPE_POLYLINE, compound),
                         add(SHAPE_POLYLINE, compound, true)}) {
        EXPECT_EQ(core.GetShapeBaseID(s->GetBaseID()), s);
    }
    EXPECT_EQ(core.GetShapeBaseID(add(SHAPE_POLYLINE, group)->GetBaseID()), nullptr);
    EXPECT_EQ(core.GetShapeBaseID(GUID{}), nullptr);
}

TEST(EditingCore, RemovingTakesOnlyTheFirstMatchOffTheList) {
    CBaseDoc doc;
    CCore core(&doc, nullptr);
    auto* p = new KindShape();
    auto* copyOfP = new KindShape(*p);  // a copy keeps the GUID
    doc.AddShape(p);
    doc.AddShape(copyOfP);
    core.ReMoveShape(p->GetBaseID());
    core.ReMoveShape(GUID{});
    EXPECT_EQ(doc.GetShapeList(), (std::list<CBaseShape*>{copyOfP}));
}

TEST(EditingCore, LogAppendsAnsiLinesInTheWorkingDirectory) {
    char old[PATH_MAX], dir[] = "/tmp/history-log-XXXXXX";
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chdir(dir), 0);
    const UINT acp = GetACP();
    SetACP(936);
    CCore core(nullptr, nullptr);
    EXPECT_EQ(core.WriteLogString(L"a"), 1);
    EXPECT_EQ(core.WriteLogString(L"\x4e2d 100%s"), 1);
    std::ifstream in("RedazOrarTmp.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "a\n\xd6\xd0 100%s\n");
    SetACP(acp);
    std::remove("RedazOrarTmp.log");
    EXPECT_EQ(chdir(old), 0);
    rmdir(dir);

    core.m_strLogFile = L"no-such-folder/x.log";
    EXPECT_EQ(core.WriteLogString(L"lost"), 0);
}

}  // namespace

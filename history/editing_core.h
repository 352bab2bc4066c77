// CCore: the editing history of one open document. An ordered list of undo
// records with a cursor between the records that can be undone and those
// that can be redone, the host's Undo and Redo steps, a one-line operation
// log, and the shape services every undo record uses.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdio>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/afx/ctime.h"
#include "morvik/win32/windows.h"

class CBaseDoc;
class CBaseView;
class CBaseShape;
class CUND_Base;

class MORVIK_API CCore {
public:
    // Neither the document nor the view is owned.
    CCore(CBaseDoc* doc, CBaseView* view);
    // Every record, in list order: Destroy, then delete.
    virtual ~CCore();
    CCore(const CCore&) = delete;
    CCore& operator=(const CCore&) = delete;

    // Takes ownership of the record. The records that could still be redone
    // are deleted first (last one first); the new record becomes the last
    // done one. A null record, one the core already holds, and one handed in
    // while a record is being replayed are not added (the last is destroyed:
    // a replay that recorded itself would tear the history apart).
    void AddUndoItem(CUND_Base* record);
    // Undoes the record before the cursor; during its undo the cursor still
    // counts it as done.
    void OnEditUndo();
    // Redoes the record at the cursor; during its redo the cursor already
    // counts it as done.
    void OnEditRedo();
    int IsAbleToUndo();
    int IsAbleToRedo();
    void EnableUndo(int flag);
    // Releases every record (Destroy, then delete); count and cursor become 0.
    void ClearUndoInfo(LONG ignored);
    void AddUndoObjIndex(std::vector<int>& indexes);
    // Appends the line (in the ANSI code page) and a line end to the log:
    // to m_pLogFile when that is open, otherwise to the file m_strLogFile,
    // opened and closed again. 1 on success, 0 when nothing could be written.
    int WriteLogString(CString line);
    // The document's top-level shape with that GUID, else the first member
    // of a top-level compound shape with it; members of groups are not
    // searched. Null when none.
    CBaseShape* GetShapeBaseID(GUID id);
    // Takes the first top-level shape with that GUID off the document's list;
    // the shape itself stays alive (the document owns it), so a record may
    // put the same object back.
    void ReMoveShape(GUID id);
    void OpenLog() {}
    void CloseLog() {}

    CBaseDoc* m_pDoc;
    CBaseView* m_pView;
    int m_bEnableUndo = 0;
    // GUIDs of the shapes the last replayed record touched (some records
    // write it); kept for the host.
    std::vector<GUID> m_vecLastShapeIDs;
    // A bare name: the log lies in the process's working directory.
    CString m_strLogFile;
    FILE* m_pLogFile = nullptr;
    std::vector<CUND_Base*> m_vecUndo;
    std::vector<std::vector<int>> m_vecUndoObjIndex;
    int m_nUndoCount = 0;
    // Records 0 .. m_nUndoPos-1 are done, the rest were undone.
    int m_nUndoPos = 0;

    // When the library was loaded; kept for the host.
    static CTime m_tmLastOperate;

private:
    // Brings count and cursor back in range of the list, which the host can
    // reach directly.
    void SyncCursor();
    bool m_bReplaying = false;
};

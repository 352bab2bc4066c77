#include "morvik/history/editing_core.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include "morvik/afx/cotaskmem.h"
#include "morvik/core/text_utils.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/baseshape.h"
#include "morvik/history/undo_base.h"
#include "morvik/host/host_services.h"

CTime CCore::m_tmLastOperate = CTime::GetCurrentTime();

namespace {

// The application's wait cursor for the length of one Undo or Redo step,
// ended however the step ends.
class WaitCursorScope {
public:
    WaitCursorScope() : m_host(HostServicesPtr()) { m_host->BeginWaitCursor(); }
    ~WaitCursorScope() { m_host->EndWaitCursor(); }
    WaitCursorScope(const WaitCursorScope&) = delete;
    WaitCursorScope& operator=(const WaitCursorScope&) = delete;

private:
    std::shared_ptr<IHostServices> m_host;
};

class ReplayScope {
public:
    explicit ReplayScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~ReplayScope() { m_flag = false; }
    ReplayScope(const ReplayScope&) = delete;
    ReplayScope& operator=(const ReplayScope&) = delete;

private:
    bool& m_flag;
};

void ReleaseRecord(CUND_Base* record) {
    if (record != nullptr) {
        record->Destroy();
        delete record;
    }
}

}  // namespace

CCore::CCore(CBaseDoc* doc, CBaseView* view) : m_pDoc(doc), m_pView(view), m_strLogFile(L"RedazOrarTmp.log") {}

CCore::~CCore() {
    for (CUND_Base* record : m_vecUndo) {
        ReleaseRecord(record);
    }
    m_vecUndo.clear();
    CloseLog();
}

void CCore::SyncCursor() {
    m_nUndoCount = static_cast<int>(m_vecUndo.size());
    m_nUndoPos = std::clamp(m_nUndoPos, 0, m_nUndoCount);
}

void CCore::AddUndoItem(CUND_Base* record) {
    if (record == nullptr) {
        return;
    }
    if (m_bReplaying) {
        // The record being replayed still sits in the list and the cursor
        // moves once the replay returns; a record made meanwhile has no
        // consistent place.
        ReleaseRecord(record);
        return;
    }
    // The caller gave up ownership when it handed the record over; one the
    // list already holds must not be held (and later freed) twice.
    if (std::find(m_vecUndo.begin(), m_vecUndo.end(), record) != m_vecUndo.end()) {
        return;
    }
    SyncCursor();
    for (int i = m_nUndoCount - 1; i >= m_nUndoPos; --i) {
        CUND_Base* dropped = m_vecUndo[static_cast<size_t>(i)];
        m_vecUndo.erase(m_vecUndo.begin() + i);
        delete dropped;
    }
    m_vecUndo.push_back(record);
    m_nUndoPos = m_nUndoPos + 1;
    m_nUndoCount = m_nUndoPos;
    if (m_pDoc != nullptr) {
        m_pDoc->SetModifiedFlag(TRUE);
    }
}

void CCore::OnEditUndo() {
    WaitCursorScope wait;
    if (m_bReplaying) {
        return;
    }
    SyncCursor();
    if (m_nUndoPos > 0) {
        CUND_Base* record = m_vecUndo[static_cast<size_t>(m_nUndoPos - 1)];
        if (record != nullptr) {
            ReplayScope replay(m_bReplaying);
            record->OnEditUndo(this);
        }
        --m_nUndoPos;
    }
}

void CCore::OnEditRedo() {
    WaitCursorScope wait;
    if (m_bReplaying) {
        return;
    }
    SyncCursor();
    if (m_nUndoPos < m_nUndoCount) {
        ++m_nUndoPos;
        CUND_Base* record = m_vecUndo[static_cast<size_t>(m_nUndoPos - 1)];
        if (record != nullptr) {
            ReplayScope replay(m_bReplaying);
            record->OnEditRedo(this);
        }
    }
}

int CCore::IsAbleToUndo() { return m_nUndoPos > 0 ? 1 : 0; }

int CCore::IsAbleToRedo() { return m_nUndoPos < m_nUndoCount ? 1 : 0; }

void CCore::EnableUndo(int flag) { m_bEnableUndo = flag; }

void CCore::ClearUndoInfo(LONG) {
    if (m_bReplaying) {
        return;
    }
    // Taken out of the list first, so a record that reaches back into the
    // core while it is released finds an empty history.
    std::vector<CUND_Base*> records;
    records.swap(m_vecUndo);
    m_nUndoCount = 0;
    m_nUndoPos = 0;
    for (CUND_Base* record : records) {
        ReleaseRecord(record);
    }
}

void CCore::AddUndoObjIndex(std::vector<int>& indexes) { m_vecUndoObjIndex.push_back(indexes); }

int CCore::WriteLogString(CString line) {
    char* text = nullptr;
    if (UnicodeToAnsiCoTask(line.GetString(), &text) != S_OK || text == nullptr) {
        CoTaskMemFree(text);
        return 0;
    }
    std::unique_ptr<char, void (*)(void*)> textOwner(text, CoTaskMemFree);

    FILE* file = m_pLogFile;
    const bool ownFile = file == nullptr;
    if (ownFile) {
        const std::string path = WideToMultiByteString(m_strLogFile, CP_UTF8);
        if (path.empty()) {
            return 0;
        }
        file = std::fopen(path.c_str(), "a");
        if (file == nullptr) {
            return 0;
        }
    }
    std::fseek(file, 0, SEEK_END);
    bool ok = std::fprintf(file, "%s\n", text) >= 0;
    if (ownFile) {
        ok = (std::fclose(file) == 0) && ok;
    } else {
        ok = (std::fflush(file) == 0) && ok;
    }
    return ok ? 1 : 0;
}

CBaseShape* CCore::GetShapeBaseID(GUID id) {
    if (m_pDoc == nullptr) {
        return nullptr;
    }
    std::list<CBaseShape*>& shapes = m_pDoc->GetShapeList();
    for (CBaseShape* shape : shapes) {
        if (shape != nullptr && shape->GetBaseID() == id) {
            return shape;
        }
    }
    for (CBaseShape* shape : shapes) {
        if (shape == nullptr || shape->GetShapeKind() != SHAPE_COMBINE) {
            continue;
        }
        for (auto* members : {&shape->GetChildren(), &shape->GetParts()}) {
            for (CBaseShape* member : *members) {
                if (member != nullptr && member->GetBaseID() == id) {
                    return member;
                }
            }
        }
    }
    return nullptr;
}

void CCore::ReMoveShape(GUID id) {
    if (m_pDoc == nullptr) {
        return;
    }
    std::list<CBaseShape*>& shapes = m_pDoc->GetShapeList();
    auto it = std::find_if(shapes.begin(), shapes.end(),
                           [&](CBaseShape* s) { return s != nullptr && s->GetBaseID() == id; });
    if (it == shapes.end()) {
        return;
    }
    const auto index = std::distance(shapes.begin(), it);
    CBaseShape* const shape = *it;
    // The document's own removal takes the first shape with the GUID off the
    // list itself; taking the node off here as well would remove a second
    // shape that shares the GUID (a copy keeps its original's identity).
    m_pDoc->DeleteSelShapeByUUID(id);
    if (static_cast<size_t>(index) < shapes.size()) {
        auto same = std::next(shapes.begin(), index);
        if (*same == shape) {
            shapes.erase(same);
        }
    }
}

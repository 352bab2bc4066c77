// Doubles for the history tests: a record that writes what happens to it
// into a journal, and a shape of any kind that logs its flips.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "morvik/halder/baseshape.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_base.h"
#include "morvik/host/recording_host.h"
#include "support/shape_support.h"

using Journal = std::vector<std::string>;

class SpyRecord : public CUND_Base {
public:
    SpyRecord(Journal& j, std::string name) : m_j(j), m_name(std::move(name)) {}
    ~SpyRecord() override { m_j.push_back(m_name + ".delete"); }
    void Destroy() override { m_j.push_back(m_name + ".Destroy"); }
    // Notes the cursor as the record sees it during its replay.
    int OnEditUndo(CCore* core) override { return Replay(core, ".undo@"); }
    int OnEditRedo(CCore* core) override { return Replay(core, ".redo@"); }
    std::function<void(CCore*)> onReplay;

private:
    int Replay(CCore* core, const char* what) {
        m_j.push_back(m_name + what + std::to_string(core->m_nUndoPos));
        if (onReplay) onReplay(core);
        return 1;
    }
    Journal& m_j;
    std::string m_name;
};

class KindShape : public CBaseShape {
public:
    explicit KindShape(CAD_SHAPE_TYPE kind = SHAPE_POLYLINE) { m_nKind = kind; }
    int Mirror(tagPOINTF c, int mode) override {
        log.push_back("M" + std::to_string(mode) + At(c));
        return CBaseShape::Mirror(c, mode);
    }
    int Zoom(tagPOINTF c, double sx, double sy) override {
        log.push_back("Z" + std::to_string(int(sx)) + "," + std::to_string(int(sy)) + At(c));
        return CBaseShape::Zoom(c, sx, sy);
    }
    Journal log;

private:
    static std::string At(tagPOINTF c) { return "@" + std::to_string(int(c.x)) + "," + std::to_string(int(c.y)); }
};

using testsupport::HostScope;

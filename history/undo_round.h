// The undo record of a change of a rectangle's corner values.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/history/undo_base.h"

// What the corner edit changed: the rectangles it touched and their four
// corner values after and before it.
struct MORVIK_API stRoundUndo {
    std::vector<GUID> ids;
    int nNewRound[4] = {0, 0, 0, 0};
    int nOldRound[4] = {0, 0, 0, 0};
};

class MORVIK_API CUND_Round : public CUND_Base {
public:
    CUND_Round() = default;
    // Takes ownership of the payload.
    explicit CUND_Round(stRoundUndo* data) : m_pData(data) {}
    ~CUND_Round() override;

    LONG GetKind() override { return UND_KIND_ROUND; }
    // Each rectangle gets its old (undo) or new (redo) corner values back,
    // built in its unflipped, unreversed frame; then the first panel window
    // hears about the last rectangle handled and the view is invalidated.
    // A record without payload does nothing. Both return 1.
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

    stRoundUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, const int* values);
};

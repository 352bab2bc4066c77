#include "morvik/history/undo_records_transform.h"

#include <cmath>

#include "morvik/halder/basedoc.h"
#include "morvik/halder/baseshape.h"
#include "morvik/history/editing_core.h"

namespace {

// A scale factor that can be applied and taken back again without the
// inverse blowing the geometry up.
constexpr double kMinFactor = 1e-7;
bool Invertible(double f) { return std::isfinite(f) && std::fabs(f) > kMinFactor; }

CBaseDoc* DocOf(CCore* core) { return core != nullptr ? core->m_pDoc : nullptr; }

}  // namespace

// ---- CUND_Move ---------------------------------------------------------------

CUND_Move::~CUND_Move() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Move::Replay(CCore* core, float dx, float dy) {
    for (const GUID& id : m_pData->ids) {
        CBaseShape* shape = FindShape(core, id);
        if (shape == nullptr) {
            continue;
        }
        shape->Move(dx, dy);
        // Linked shapes follow only a move of one shape on its own.
        if (m_pData->ids.size() == 1) {
            for (CBaseShape* linked : LinkedShapes(core, shape)) {
                linked->Move(dx, dy);
            }
        }
    }
    if (CBaseDoc* doc = DocOf(core)) {
        Gdiplus::RectF frame;
        doc->GetSelectRect(frame);
        frame.X += dx;
        frame.Y += dy;
        doc->SetSelectRect(frame);
    }
    InvalidateView(core);
}

int CUND_Move::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, -m_pData->dx, -m_pData->dy);
    }
    return 1;
}

int CUND_Move::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        SetLastTouched(core, m_pData->ids);
        Replay(core, m_pData->dx, m_pData->dy);
    }
    return 1;
}

// ---- CUND_Align --------------------------------------------------------------

CUND_Align::~CUND_Align() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Align::Replay(CCore* core, bool undo) {
    const size_t n = m_pData->ids.size();
    for (size_t i = 0; i < n; ++i) {
        if (i >= m_pData->vecDx.size() || i >= m_pData->vecDy.size()) {
            break;
        }
        CBaseShape* shape = FindShape(core, m_pData->ids[i]);
        if (shape == nullptr) {
            continue;
        }
        const float dx = m_pData->vecDx[i];
        const float dy = m_pData->vecDy[i];
        shape->Move(undo ? -dx : dx, undo ? -dy : dy);
    }
    InvalidateView(core);
}

int CUND_Align::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_Align::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        SetLastTouched(core, m_pData->ids);
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_Rotate -------------------------------------------------------------

CUND_Rotate::~CUND_Rotate() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Rotate::Replay(CCore* core, double angle) {
    for (const GUID& id : m_pData->ids) {
        if (CBaseShape* shape = FindShape(core, id)) {
            shape->Rotate(angle, m_pData->ptCenter);
        }
    }
    InvalidateView(core);
}

int CUND_Rotate::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, -m_pData->dAngle);
    }
    return 1;
}

int CUND_Rotate::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, m_pData->dAngle);
    }
    return 1;
}

// ---- CUND_Resize -------------------------------------------------------------

CUND_Resize::~CUND_Resize() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Resize::Replay(CCore* core, bool undo) {
    const double sx = m_pData->sx;
    const double sy = m_pData->sy;
    // A zero factor flattened the shapes for good: there is nothing to
    // scale back, and its inverse would destroy them.
    if (Invertible(sx) && Invertible(sy)) {
        const double fx = undo ? 1.0 / sx : sx;
        const double fy = undo ? 1.0 / sy : sy;
        const tagPOINTF ref = m_pData->ptRef;
        for (const GUID& id : m_pData->ids) {
            CBaseShape* shape = FindShape(core, id);
            if (shape == nullptr) {
                continue;
            }
            if (m_pData->ids.size() != 1) {
                shape->Zoom(ref, fx, fy);
                continue;
            }
            // Every rectangle is read before the main shape is scaled.
            Gdiplus::RectF mainRect;
            shape->GetRectangle(mainRect);
            const std::vector<CBaseShape*> linked = LinkedShapes(core, shape);
            std::vector<tagPOINTF> linkedRefs;
            linkedRefs.reserve(linked.size());
            for (CBaseShape* other : linked) {
                Gdiplus::RectF r;
                other->GetRectangle(r);
                linkedRefs.push_back(LinkedReference(*other, mainRect, r, undo));
            }
            shape->Zoom(ref, fx, fy);
            for (size_t i = 0; i < linked.size(); ++i) {
                linked[i]->Zoom(linkedRefs[i], fx, fy);
            }
        }
    }
    InvalidateView(core);
}

tagPOINTF CUND_Resize::LinkedReference(const CBaseShape& shape, const Gdiplus::RectF& main,
                                        const Gdiplus::RectF& linked, bool undo) {
    const GUID id = shape.GetBaseID();
    for (const auto& [known, point] : m_linkedRefs) {
        if (known == id) {
            return point;
        }
    }
    // Before the resize (a redo) the point is the reference shifted by the
    // offset between the rectangles. After it (an undo) a flipped axis has
    // swapped the edges of both rectangles about their own fixed points:
    // the offset of the far edges, measured now, is the one from before.
    const tagPOINTF ref = m_pData->ptRef;
    double x = static_cast<double>(linked.X) - main.X + ref.x;
    double y = static_cast<double>(linked.Y) - main.Y + ref.y;
    if (undo && m_pData->sx < 0) {
        x += static_cast<double>(linked.Width) - main.Width;
    }
    if (undo && m_pData->sy < 0) {
        y += static_cast<double>(main.Height) - linked.Height;
    }
    tagPOINTF point{static_cast<float>(x), static_cast<float>(y)};
    // The rectangles after the resize give that point only within their
    // rounding (a curve's box is measured on its flattened path): the point
    // the linked shape was last zoomed about, with these very factors and
    // where the rectangles put it, is the one the resize used.
    tagPOINTF last;
    double lx = 0.0, ly = 0.0;
    const double near = 1e-3 * (1.0 + std::fabs(linked.Width) + std::fabs(linked.Height));
    if (undo && shape.GetLastZoom(last, lx, ly) && lx == static_cast<double>(m_pData->sx) &&
        ly == static_cast<double>(m_pData->sy) && std::fabs(last.x - x) <= near && std::fabs(last.y - y) <= near) {
        point = last;
    }
    m_linkedRefs.emplace_back(id, point);
    return point;
}

int CUND_Resize::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_Resize::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        SetLastTouched(core, m_pData->ids);
        Replay(core, false);
    }
    return 1;
}

// ---- CUNDO_Resize ------------------------------------------------------------

void CUNDO_Resize::Replay(CCore* core, bool undo) {
    const double sx = m_pData->sx;
    const double sy = m_pData->sy;
    if (Invertible(sx) && Invertible(sy)) {
        for (CBaseShape* shape : m_pData->shapes) {
            if (shape != nullptr) {
                shape->Zoom(m_pData->ptRef, undo ? 1.0 / sx : sx, undo ? 1.0 / sy : sy);
            }
        }
    }
    InvalidateView(core);
}

int CUNDO_Resize::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUNDO_Resize::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_Slope --------------------------------------------------------------

CUND_Slope::~CUND_Slope() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Slope::Replay(CCore* core, bool undo) {
    const double a = m_pData->a;
    const double b = m_pData->b;
    const tagPOINTF base = m_pData->ptBase;
    // Slanting back by (-a, -b) leaves the shapes scaled by this about the
    // point; undo scales by its inverse.
    const double shrink = 1.0 - std::tan(a) * std::tan(b);
    if (undo && !Invertible(shrink)) {
        InvalidateView(core);
        return;
    }
    for (const GUID& id : m_pData->ids) {
        CBaseShape* shape = FindShape(core, id);
        if (shape == nullptr) {
            continue;
        }
        if (!undo) {
            shape->Slope(base, a, b);
            continue;
        }
        // A shape that does not take the slant back was never slanted (a
        // picture that cannot follow it): the scale is not its to undo.
        if (shape->Slope(base, -a, -b) == CBaseShape::kRefused || shrink == 1.0) {
            continue;
        }
        // A negative scale is a half turn: done as a mirror on both axes,
        // which leaves the shape's flip state alone, as the slant did.
        const double grow = 1.0 / std::fabs(shrink);
        shape->Zoom(base, grow, grow);
        if (shrink < 0) {
            shape->Mirror(base, 3);
        }
    }
    InvalidateView(core);
}

int CUND_Slope::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_Slope::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_Mirror -------------------------------------------------------------

CUND_Mirror::~CUND_Mirror() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Mirror::Replay(CCore* core, bool undo) {
    const std::vector<GUID>& ids = m_pData->ids;
    const bool firstUndo = undo && m_flagsAfter.size() != ids.size();
    if (firstUndo) {
        m_flagsAfter.assign(ids.size(), -1);
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        CBaseShape* shape = FindShape(core, ids[i]);
        if (shape == nullptr) {
            continue;
        }
        if (undo) {
            if (firstUndo) {
                m_flagsAfter[i] = shape->GetMirrorFlag();
            }
            shape->SetMirrorFlag(UndoneMirrorFlag(shape->GetMirrorFlag(), m_pData->nAxis));
        } else if (i < m_flagsAfter.size() && m_flagsAfter[i] >= 0) {
            shape->SetMirrorFlag(m_flagsAfter[i]);
        }
        shape->Mirror(m_pData->ptCenter, m_pData->nAxis);
    }
    InvalidateView(core);
}

int CUND_Mirror::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        SetLastTouched(core, m_pData->ids);
        Replay(core, true);
    }
    return 1;
}

int CUND_Mirror::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}

// ---- CUNDO_Mirror ------------------------------------------------------------

void CUNDO_Mirror::Replay(CCore* core) {
    for (CBaseShape* shape : m_pData->shapes) {
        if (shape != nullptr) {
            shape->Mirror(m_pData->ptCenter, m_pData->nAxis);
        }
    }
    InvalidateView(core);
}

int CUNDO_Mirror::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core);
    }
    return 1;
}

int CUNDO_Mirror::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core);
    }
    return 1;
}

// ---- CUND_Arc ----------------------------------------------------------------

CUND_Arc::~CUND_Arc() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Arc::Replay(CCore* core, double first, double second) {
    const tagPOINTF centre = MirrorCenterOf(core);
    for (const GUID& id : m_pData->ids) {
        // Arc angles are kept in the shape's unflipped frame.
        ReplayFlipNeutral(FindShape(core, id), centre, FlipOrder::AntiXAntiYMirror, [&](CBaseShape* shape) {
            shape->SetArcDegree(first, second);
            shape->InvalidateGeometry();
        });
    }
    InvalidateView(core);
}

int CUND_Arc::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, m_pData->dOldFirst, m_pData->dOldSecond);
    }
    return 1;
}

int CUND_Arc::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        SetLastTouched(core, m_pData->ids);
        Replay(core, m_pData->dNewFirst, m_pData->dNewSecond);
    }
    return 1;
}

// ---- CUND_SortPath -----------------------------------------------------------

CUND_SortPath::~CUND_SortPath() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_SortPath::Replay(CCore* core) {
    const tagPOINTF centre = MirrorCenterOf(core);
    for (const GUID& id : m_pData->ids) {
        ReplayFlipNeutral(FindShape(core, id), centre, FlipOrder::AntiXAntiYMirror, [](CBaseShape* shape) {
            shape->SetPathState();
            shape->SortPath();
            shape->InvalidateGeometry();
        });
    }
    InvalidateView(core);
}

int CUND_SortPath::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core);
    }
    return 1;
}

int CUND_SortPath::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core);
    }
    return 1;
}

#include "morvik/compose/overlay.h"

#include <memory>
#include <new>

#include <polyclipping/clipper.hpp>

#include "morvik/afx/message_box.h"
#include "morvik/compose/combine.h"
#include "morvik/compose/filledshape.h"
#include "morvik/compose/filler.h"
#include "morvik/compose/group.h"
#include "morvik/core/polyline.h"
#include "morvik/halder/lang.h"
#include "morvik/shapes/screwline.h"
#include "morvik/text/fonts.h"

namespace {

// Flattening tolerances: subjects at the usual display smoothness, the clip
// shape and text pieces finer, so that the cut follows the other outline.
constexpr float kSubjectTolerance = 0.25f;
constexpr float kFineTolerance = 0.1f;

// Shapes made while collecting (leaves listed from line-mode groups, the
// polylines of converted texts); they are freed whatever way the call ends.
class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { shape_container::FreeMembers(m_shapes); }
    std::vector<CBaseShape*>& List() { return m_shapes; }
    void Keep(CBaseShape* shape) {
        if (shape != nullptr) m_shapes.push_back(shape);
    }

private:
    std::vector<CBaseShape*> m_shapes;
};

// The shapes a selected shape stands for: the leaves of a group (a fill
// shape is a group too), the children of a compound shape, else itself.
// The fill that the result takes over: the last fill shape or text among
// the subjects decides it (an unfilled text clears it).
struct FillMark {
    bool filled = false;
    FILLED_PARS par;
};

void Collect(CBaseShape* shape, std::vector<CBaseShape*>& out, Scratch& scratch, FillMark* mark = nullptr) {
    if (shape == nullptr) return;
    const CAD_SHAPE_TYPE kind = shape->GetShapeKind();
    if (kind == SHAPE_FILLED && mark != nullptr) {
        mark->filled = true;
        mark->par = shape->GetFillParam();
    }
    if (kind == SHAPE_FONTS && mark != nullptr) {
        if (auto* text = dynamic_cast<CFonts*>(shape)) {
            mark->filled = text->bFilled != 0;
            if (mark->filled) mark->par = text->parFill;
        }
    }
    if (kind == SHAPE_GROUP || kind == SHAPE_FILLED) {
        if (auto* group = dynamic_cast<CGroupShape*>(shape)) {
            std::vector<CBaseShape*> leaves;
            group->GetBasicShapeList2(leaves, scratch.List());
            for (CBaseShape* leaf : leaves)
                if (leaf != nullptr) out.push_back(leaf);
            return;
        }
    } else if (kind == SHAPE_COMBINE && dynamic_cast<CCombineShape*>(shape) != nullptr) {
        for (CBaseShape* child : shape->GetChildren())
            if (child != nullptr) out.push_back(child);
        return;
    }
    out.push_back(shape);
}

bool ToClipper(const std::vector<tagPOINTF>& pts, ClipperLib::Path& path) {
    path.clear();
    path.reserve(pts.size());
    for (const tagPOINTF& p : pts) {
        ClipperLib::IntPoint ip;
        // One point that is not a number or lies far outside any drawing
        // spoils the whole outline; it is left out rather than clamped.
        if (!ToClipperCoord(p.x, ip.X) || !ToClipperCoord(p.y, ip.Y)) {
            path.clear();
            return false;
        }
        path.push_back(ip);
    }
    return !path.empty();
}

// Adds one flattened outline; reports whether Clipper took it.
bool AddOutline(ClipperLib::Clipper& clipper, const std::vector<tagPOINTF>& pts, ClipperLib::PolyType type) {
    ClipperLib::Path path;
    if (!ToClipper(pts, path)) return false;
    try {
        return clipper.AddPath(path, type, true);
    } catch (const ClipperLib::clipperException&) {
        return false;
    }
}

// Turns one collected shape into closed Clipper paths of the given type and
// returns how many were added.
int AddShape(ClipperLib::Clipper& clipper, CBaseShape* shape, ClipperLib::PolyType type, float tolerance) {
    int added = 0;
    const CAD_SHAPE_TYPE kind = shape->GetShapeKind();
    if (kind == SHAPE_FONTS) {
        // A text contributes the outlines of its polyline conversion.
        CBaseShape* converted = shape->ToPolyLine();
        if (converted == nullptr) return 0;
        Scratch scratch;
        scratch.Keep(converted);
        std::vector<CBaseShape*> pieces;
        Collect(converted, pieces, scratch);
        for (CBaseShape* piece : pieces) {
            std::vector<tagPOINTF> pts;
            piece->GetFlattenPathPoints(pts, kFineTolerance);
            if (AddOutline(clipper, pts, type)) ++added;
        }
        return added;
    }
    std::vector<tagPOINTF> pts;
    if (kind == SHAPE_SCREWLINE) {
        auto* screw = dynamic_cast<CScrewLine*>(shape);
        if (screw == nullptr) return 0;
        screw->GetFlattenPathPointsFill(pts);
    } else if (IsFillProductCaption(shape->GetCaption())) {
        // Border rings and hatch made by a fill are not outlines of their own.
        return 0;
    } else {
        shape->GetFlattenPathPoints(pts, tolerance);
    }
    return AddOutline(clipper, pts, type) ? 1 : 0;
}

// Frees a container with its members, for results abandoned half built.
struct FreeWithMembers {
    void operator()(CBaseShape* shape) const {
        shape->FreeShapePtr();
        delete shape;
    }
};

ClipperLib::ClipType ClipTypeOf(int operation) {
    switch (operation) {
        case kOverlayDifference:
            return ClipperLib::ctDifference;
        case kOverlayIntersection:
            return ClipperLib::ctIntersection;
        default:
            return ClipperLib::ctUnion;
    }
}

CBaseShape* Overlay(std::vector<CBaseShape*>* subjects, CBaseShape* other, int operation) {
    ClipperLib::Clipper clipper;

    Scratch subjectScratch;
    std::vector<CBaseShape*> subjectShapes;
    FillMark mark;
    if (subjects != nullptr)
        for (CBaseShape* shape : *subjects) Collect(shape, subjectShapes, subjectScratch, &mark);
    // A plain union gives outlines only.
    if (operation == kOverlayUnion) mark.filled = false;
    for (CBaseShape* shape : subjectShapes) AddShape(clipper, shape, ClipperLib::ptSubject, kSubjectTolerance);

    Scratch clipScratch;
    std::vector<CBaseShape*> clipShapes;
    Collect(other, clipShapes, clipScratch);
    int clipPaths = 0;
    for (CBaseShape* shape : clipShapes) clipPaths += AddShape(clipper, shape, ClipperLib::ptClip, kFineTolerance);

    if (clipPaths == 0) {
        AfxMessageBox(CLang::Instance()->GetString("IDS_SELECT_ERR").GetString(), MB_OK);
        return nullptr;
    }

    ClipperLib::Paths solution;
    try {
        if (!clipper.Execute(ClipTypeOf(operation), solution, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd))
            return nullptr;
    } catch (const ClipperLib::clipperException&) {
        return nullptr;
    }

    std::unique_ptr<CGroupShape, FreeWithMembers> group(new CGroupShape());
    for (const ClipperLib::Path& path : solution) {
        if (path.size() <= 1) continue;
        auto poly = std::make_unique<CPolyLine>();
        poly->arrPoint.reserve(path.size() + 1);
        for (const ClipperLib::IntPoint& ip : path) {
            poly->arrPoint.push_back({static_cast<float>(static_cast<double>(ip.X) / kClipperScale),
                                      static_cast<float>(static_cast<double>(ip.Y) / kClipperScale)});
        }
        poly->ClosePloyLine();
        Gdiplus::RectF rect;
        poly->GetRectangle(rect);
        group->GetChildren().push_back(poly.release());
    }
    if (group->GetChildren().empty()) return nullptr;
    Gdiplus::RectF rect;
    group->GetRectangle(rect);
    if (!mark.filled) return group.release();
    std::unique_ptr<CFilledShape, FreeWithMembers> fill(new CFilledShape());
    fill->GetChildren().push_back(group.release());
    fill->SetParam(mark.par);
    fill->DoFill(0);
    return fill.release();
}

}  // namespace

extern "C" CBaseShape* DoExecuteShapeOverlay(std::vector<CBaseShape*>* subjects, CBaseShape* other, int operation) {
    // Nothing may escape to the host: a failure of any kind returns none.
    try {
        return Overlay(subjects, other, operation);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

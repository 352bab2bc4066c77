#include "morvik/history/fileutil.h"

#include <unordered_set>

#include "morvik/core/shapelist.h"
#include "morvik/core/geometry.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/baseshape.h"

void CFileUtil::DeleteShapes(std::vector<CBaseShape*>& shapes, const ShapeList* keep) {
    // What the list holds stays, with the members of its containers; so does
    // a member an ungroup handed to the list while its old container goes.
    std::unordered_set<CBaseShape*> spared;
    if (keep != nullptr) {
        const std::vector<CBaseShape*> kept = ShapesWithMembers({keep->begin(), keep->end()});
        spared.insert(kept.begin(), kept.end());
    }
    // Everything else goes, each pointer exactly once: a member may be listed
    // beside its container, or nowhere but in it.
    const std::vector<CBaseShape*> doomed = ShapesWithMembers(shapes, &spared);
    shapes.clear();
    // Containers do not free their members in their destructors, so each
    // shape is deleted on its own; the member lists are emptied first so that
    // no container ever points at a freed member.
    for (CBaseShape* shape : doomed) shape->GetChildren().clear();
    for (CBaseShape* shape : doomed) delete shape;
}

bool CFileUtil::VecToPList(const std::vector<CBaseShape*>& shapes, ShapeList& list) {
    for (CBaseShape* shape : shapes) {
        if (shape != nullptr && shape->GetShapeKind() != SHAPE_DOCPARAM) list.push_back(shape);
    }
    return true;
}

bool CFileUtil::PListToVec(ShapeList& list, std::vector<CBaseShape*>& shapes) {
    DeleteShapes(shapes, &list);
    shapes.assign(list.begin(), list.end());
    return true;
}

bool CFileUtil::LoadOrz(const wchar_t* path, std::vector<CBaseShape*>& shapes) {
    DeleteShapes(shapes, nullptr);
    bool extended = false;
    if (!CVonnSriShapeList::IsShapeListPath(path, extended)) return true;
    ShapeList loaded;
    CVonnSriShapeList reader(&loaded);
    const bool ok = reader.LoadList(path);
    shapes.assign(loaded.begin(), loaded.end());
    return ok;
}

bool CFileUtil::SaveOrz(const wchar_t* path, CDocParam* param, const std::vector<CBaseShape*>& shapes) {
    ShapeList records;
    if (param != nullptr) records.push_back(param);
    for (CBaseShape* shape : shapes) {
        if (shape != nullptr) shape->SaveShapeChild(nullptr, records);
    }
    CVonnSriShapeList writer(&records);
    return writer.SaveList(path);
}

void CFileUtil::CalcShapesRectf(std::vector<CBaseShape*>& shapes, Gdiplus::RectF& rect) {
    bool have = false;
    Gdiplus::RectF acc;
    for (CBaseShape* shape : shapes) {
        if (shape == nullptr) continue;
        Gdiplus::RectF r;
        shape->GetRectangle(r);
        if (!have) {
            acc = r;
            have = true;
        } else {
            UnionRectF(acc, acc, r);
        }
    }
    if (have) rect = acc;
}

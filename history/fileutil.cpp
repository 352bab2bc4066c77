#include "history/fileutil.h"

#include <unordered_set>

#include "core/shapelist.h"
#include "core/geometry.h"
#include "halder/basedoc.h"
#include "halder/baseshape.h"

void CFileUtil::DeleteShapes(std::vector<CBaseShape*>& shapes, const ShapeList* keep) {
    std::unordered_set<CBaseShape*> spared;
    if (keep != nullptr) spared.insert(keep->begin(), keep->end());
    std::unordered_set<CBaseShape*> deleted;
    for (CBaseShape* shape : shapes) {
        // A shape the list still holds would be handed back dangling, and a
        // pointer listed twice must not be freed twice.
        if (shape == nullptr || spared.count(shape) != 0 || !deleted.insert(shape).second) continue;
        // Containers do not free their members in their destructors.
        shape->FreeShapePtr();
        delete shape;
    }
    shapes.clear();
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

// CFileUtil: static helpers the host uses around documents and shape-list
// files: moving shapes between a vector and the document's shape list,
// loading and saving a shape-list file into or from a vector, and the
// rectangle that encloses a set of shapes.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <list>
#include <vector>

#include "morvik/gdiplus/gdiplus_types.h"

class CBaseShape;
class CDocParam;

class MORVIK_API CFileUtil {
public:
    // The document's list of top-level shapes.
    using ShapeList = std::list<CBaseShape*>;

    CFileUtil() = default;
    ~CFileUtil() = default;

    // Appends to the list, in vector order, every non-null shape that is not
    // a document-parameter record. The list is not emptied first.
    static bool VecToPList(const std::vector<CBaseShape*>& shapes, ShapeList& list);
    // Deletes every shape the vector holds, then fills it with the list's
    // shapes in order (the pointers; the list keeps them too). A shape held
    // by both is kept.
    static bool PListToVec(ShapeList& list, std::vector<CBaseShape*>& shapes);
    // Deletes the vector's shapes, then reads the file into it (a document-
    // parameter record in the file comes back like any shape). A path that
    // ends in neither ".orz" nor "orzx" only empties the vector and gives
    // true. False when the file cannot be read or is damaged; the shapes read
    // before the damage are still handed over.
    static bool LoadOrz(const wchar_t* path, std::vector<CBaseShape*>& shapes);
    // Writes param (when not null) and then every shape with its children
    // before it, in the extended form. The shapes stay the caller's. False
    // when the file could not be written completely.
    static bool SaveOrz(const wchar_t* path, CDocParam* param, const std::vector<CBaseShape*>& shapes);
    // The union of the shapes' rectangles (null entries skipped); rect is left
    // as it was when there is no shape.
    static void CalcShapesRectf(std::vector<CBaseShape*>& shapes, Gdiplus::RectF& rect);

private:
    // Deletes the vector's shapes and their containers' members, each
    // exactly once, except what the keep list holds (with its containers'
    // members), and empties the vector.
    static void DeleteShapes(std::vector<CBaseShape*>& shapes, const ShapeList* keep);
};

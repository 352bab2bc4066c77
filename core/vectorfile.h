// LoadVectorFileCore: the import entry of the library. The file's extension,
// compared without case, picks the reader; the reader fills a new group that
// the caller owns.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/import/ai.h"

class CBaseShape;
class CGroupShape;

// Reads the vector file at path into a new group in *out and returns true on
// success.
//   ".dxf"                      the DXF reader; on failure (a missing,
//                               unreadable or refused file) *out still holds
//                               the (possibly partly filled) group
//   ".plt", ".svg"              the group's static readers; false (and *out
//                               null) when they give no group
//   ".ai"                       Illustrator paths become polylines and Bezier
//                               curves; a drawing larger than 3 units both
//                               ways is scaled from points to millimetres
//                               about its bottom-left corner; false, *out
//                               untouched, when the file has no path
//   ".gbr", ".cs", ".gbx", ".274x", ".di", ".gbl", ".gbo", ".gbs", ".gko",
//   ".gtl", ".gto", ".gts"      Gerber; on failure *out still holds the
//                               (possibly partly filled) group
//   anything else               false, *out untouched
// With center set, a group in *out is moved so that the centre of its
// rectangle lies on the origin. The caller frees the group with FreeShapePtr
// and delete. A null path or out gives false.
extern "C" MORVIK_API bool LoadVectorFileCore(const wchar_t* path, CBaseShape** out, bool center);

// Builds the Illustrator shapes from the reader's segment records into the
// group and scales them as LoadVectorFileCore does; false when there are no
// records (nothing is added then).
bool BuildAiShapes(const std::vector<tagAIPT>& records, CGroupShape* group);

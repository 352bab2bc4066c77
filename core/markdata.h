// The mark data of one shape: flattened, pen-tagged polylines in millimetres
// that the marking loop sends to the scanner.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <vector>

#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/halder/halder_types.h"

// One group of marking paths drawn with one pen.
struct MORVIK_API tagPathData {
    int32_t nPenIndex = 0;  // 0 to 255: the pen of the host's pen table
    // How many times the marking loop marks this group: a hatch set's mark
    // count; 1 for outlines and every other group.
    int32_t nReserved = 1;
    std::vector<std::vector<tagPOINTF>> arrPolylines;  // millimetres, y up
};

// What GetMarkData hands the caller: outlines and other paths in arrPaths,
// hatch lines in arrPaths2 (doc/host.md shows the marking loop).
struct MORVIK_API tagMarkDataPar {
    // Set by the caller of GetMarkData: a variable text keeps its values.
    uint8_t bFlag = 0;
    // A filled text: 0 when its hatch goes before its outlines.
    int32_t nReserved1 = 1;
    // The shape's bounding rectangle after a successful GetMarkData (Y is the top edge).
    Gdiplus::RectF rect;
    std::vector<tagPathData> arrPaths;
    // A fill shape: 0 when its hatch goes before its outlines.
    int32_t nReserved2 = 1;
    std::vector<tagPathData> arrPaths2;

    // Empties both path lists; the flag, the ints and the rectangle stay.
    void Clear() {
        arrPaths.clear();
        arrPaths2.clear();
    }
    bool IsEmpty() const { return arrPaths.empty() && arrPaths2.empty(); }
};

class CBaseShape;

// The guard every shape's GetMarkData ends through. The shape's event is
// taken before the guard is bound; whichever ending runs releases it, and if
// none runs (an early return, an exception) the destructor does, so a shape is
// never left locked.
class MORVIK_API MarkDataLock {
public:
    MarkDataLock(CBaseShape* shape, tagMarkDataPar* record);
    ~MarkDataLock();
    MarkDataLock(const MarkDataLock&) = delete;
    MarkDataLock& operator=(const MarkDataLock&) = delete;

    // Rectangle ending: on success the shape's rectangle goes into its cache
    // and then into the caller's record.
    bool Finish(bool ok);
    // Copy ending: the caller's record becomes a full copy of the cache.
    bool Leave(bool ok);
    // On success the rectangle goes into the cache; then a full copy.
    bool LeaveWithRect(bool ok);

private:
    void Release();
    CBaseShape* m_shape;
    tagMarkDataPar* m_record;
    bool m_released = false;
};

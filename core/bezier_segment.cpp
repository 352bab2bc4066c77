#include "morvik/core/bezier_segment.h"

BEZIER_4POINTF& BEZIER_4POINTF::operator=(const BEZIER_4POINTF_DRAW& seg) {
    static_cast<BEZIER_4POINTF_DRAW&>(*this) = seg;
    return *this;
}

void BEZIER_4POINTF::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("SmoothType", &SmoothType);
    AddProp("LineType", &LineType);
    AddProp("p1", &p1);
    AddProp("p2", &p2);
    AddProp("p3", &p3);
    AddProp("p4", &p4);
    // The whole block of four device points, so a saved curve gives back
    // every word of every segment.
    AddProp("dev4P", static_cast<void*>(dev4P), static_cast<int>(sizeof(dev4P)));
    AddProp("ArcCenterPoint", &ArcCenterPoint);
    AddProp("ArcEndPoint", &ArcEndPoint);
    AddProp("ArcStartPoint", &ArcStartPoint);
}

// The curve's segment is 24 four-byte words; stored files and the drawing
// cache rely on that layout.
static_assert(sizeof(BEZIER_4POINTF_DRAW) == 24 * 4, "a Bezier segment is 24 words");

// Plain value types shared by the base library and every shape.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

// A point in drawing units (millimetres), y growing upward.
struct MORVIK_API tagPOINTF {
    float x = 0.0f;
    float y = 0.0f;
};
inline bool operator==(const tagPOINTF& a, const tagPOINTF& b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(const tagPOINTF& a, const tagPOINTF& b) { return !(a == b); }

using PointfList = std::vector<tagPOINTF>;

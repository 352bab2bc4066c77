// The shape overlay: selected shapes combined with one other shape by a
// polygon boolean operation, the result handed back as a new shape.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/halder/baseshape.h"

// The operations of DoExecuteShapeOverlay. Any value other than these three
// is a union that keeps the fill of filled inputs.
constexpr int kOverlayUnion = 1;         // union; the result is never filled
constexpr int kOverlayDifference = 2;    // subjects minus other
constexpr int kOverlayIntersection = 3;  // subjects within other

// Combines the outlines of subjects with those of other under even-odd
// filling and returns a new group of closed polylines, owned by the caller.
// Neither subjects nor other is changed or taken over. Returns null when
// other gives no outline (after telling the user "IDS_SELECT_ERR") and,
// without a message, when the result is empty or the inputs cannot be
// processed.
extern "C" MORVIK_API CBaseShape* DoExecuteShapeOverlay(std::vector<CBaseShape*>* subjects, CBaseShape* other, int operation);

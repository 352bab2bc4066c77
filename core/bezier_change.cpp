// The change records of the curve's node editor: what one edit took out of
// the segment list and put into it, each segment with its index, and the
// replay of such a record for undo and redo.
//
// A record is the difference between the segment list when the edit began
// and the list when it was handed over, so whatever steps the edit took, the
// record names exactly the segments that changed and where they stood. The
// replay puts them back at those indices: a closed ring, a curve whose ends
// meet, a self-touching curve or one with zero-length segments comes back
// segment for segment, which matching segments by their ends cannot do.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "morvik/core/bezier.h"
#include "morvik/core/geometry.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/undo_records.h"

namespace {

using Segment = BEZIER_4POINTF_DRAW;
using Segments = std::vector<BEZIER_4POINTF_DRAW>;

// Two points closer than this are one node.
constexpr double kSameNode = 0.001;
// The difference search gives up beyond this many changed segments and
// records the whole changed stretch instead (still exact, only larger).
constexpr int kMaxDiffEdits = 1000;

bool SamePoint(tagPOINTF a, tagPOINTF b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The same segment, bit for bit, in everything but the drawing cache.
bool SameSegment(const Segment& a, const Segment& b) {
    return SamePoint(a.p1, b.p1) && SamePoint(a.p2, b.p2) && SamePoint(a.p3, b.p3) && SamePoint(a.p4, b.p4) &&
           a.LineType == b.LineType && a.SmoothType == b.SmoothType && SamePoint(a.ArcStartPoint, b.ArcStartPoint) &&
           SamePoint(a.ArcEndPoint, b.ArcEndPoint) && SamePoint(a.ArcCenterPoint, b.ArcCenterPoint);
}

bool Near(tagPOINTF a, tagPOINTF b) { return PointDistance(a.x, a.y, b.x, b.y) < kSameNode; }

// The shortest edit script from a[lo, aHi) to b[lo, bHi) (Myers' greedy
// search): the indices of a that go and of b that come, both ascending.
// False when more than kMaxDiffEdits edits would be needed.
bool ShortestEdit(const Segments& a, const Segments& b, int lo, int aHi, int bHi, std::vector<int>& gone,
                  std::vector<int>& come) {
    const int n = aHi - lo;
    const int m = bHi - lo;
    const int maxD = std::min(n + m, kMaxDiffEdits);
    // trace[d] holds the furthest x on every diagonal k in [-d, d] after d
    // edits, stored at k + d.
    std::vector<std::vector<int>> trace;
    std::vector<int> v(1, 0);
    auto furthest = [&](const std::vector<int>& row, int d, int k) { return row[static_cast<size_t>(k + d)]; };
    for (int d = 0; d <= maxD; ++d) {
        std::vector<int> next(static_cast<size_t>(2 * d + 1), 0);
        for (int k = -d; k <= d; k += 2) {
            int x = 0;
            if (d == 0) {
                x = 0;
            } else if (k == -d || (k != d && furthest(v, d - 1, k - 1) < furthest(v, d - 1, k + 1))) {
                x = furthest(v, d - 1, k + 1);  // an insertion
            } else {
                x = furthest(v, d - 1, k - 1) + 1;  // a deletion
            }
            int y = x - k;
            while (x < n && y < m && SameSegment(a[lo + x], b[lo + y])) {
                ++x;
                ++y;
            }
            next[static_cast<size_t>(k + d)] = x;
            if (x >= n && y >= m) {
                trace.push_back(std::move(next));
                // Walk back through the rows to collect the edits.
                int cx = n;
                int cy = m;
                for (int e = d; e > 0; --e) {
                    const std::vector<int>& prev = trace[static_cast<size_t>(e - 1)];
                    const int ck = cx - cy;
                    const bool insertion =
                        ck == -e || (ck != e && furthest(prev, e - 1, ck - 1) < furthest(prev, e - 1, ck + 1));
                    const int pk = insertion ? ck + 1 : ck - 1;
                    const int px = furthest(prev, e - 1, pk);
                    const int py = px - pk;
                    if (insertion) {
                        come.push_back(lo + py);
                    } else {
                        gone.push_back(lo + px);
                    }
                    cx = px;
                    cy = py;
                }
                std::reverse(gone.begin(), gone.end());
                std::reverse(come.begin(), come.end());
                return true;
            }
        }
        trace.push_back(next);
        v = std::move(next);
    }
    return false;
}

// Takes the segments at the given ascending indices out of list.
void EraseAt(Segments& list, const std::vector<int>& at) {
    for (auto it = at.rbegin(); it != at.rend(); ++it) {
        list.erase(list.begin() + *it);
    }
}

// Puts segment i of put at index at[i] (ascending: each is its final place).
void InsertAt(Segments& list, const Segments& put, const std::vector<int>& at) {
    for (size_t i = 0; i < put.size(); ++i) {
        list.insert(list.begin() + at[i], put[i]);
    }
}

// The indexed form of a record applies when every index is in order and the
// segments to take out are where the record says.
bool IndexedReplayFits(const Segments& list, const Segments& takeOut, const std::vector<int>& takeAt,
                       const Segments& putBack, const std::vector<int>& putAt) {
    if (takeAt.size() != takeOut.size() || putAt.size() != putBack.size()) {
        return false;
    }
    for (size_t i = 0; i < takeAt.size(); ++i) {
        const int at = takeAt[i];
        if (at < 0 || static_cast<size_t>(at) >= list.size() || (i > 0 && at <= takeAt[i - 1]) ||
            !CBezierCurve::CompareBezierCurve(list[static_cast<size_t>(at)], takeOut[i])) {
            return false;
        }
    }
    const size_t left = list.size() - takeAt.size();
    for (size_t i = 0; i < putAt.size(); ++i) {
        // Inserted in ascending order, entry i may land at most at the end
        // of what is there by then.
        const int at = putAt[i];
        if (at < 0 || static_cast<size_t>(at) > left + i || (i > 0 && at <= putAt[i - 1])) {
            return false;
        }
    }
    return true;
}

}  // namespace

void CBezierCurve::BeginChange(stBezierCurve& change) {
    change.id = GetBaseID();
    m_editBase = arrSegment;
    m_editBaseClosed = bClosed;
}

void CBezierCurve::HandOverChange(stBezierCurve& change) {
    // The record is the difference to the list as the edit found it: the
    // common head and tail stay out of it, the rest is the shortest edit.
    const Segments& a = m_editBase;
    const Segments& b = arrSegment;
    int lo = 0;
    while (static_cast<size_t>(lo) < a.size() && static_cast<size_t>(lo) < b.size() &&
           SameSegment(a[static_cast<size_t>(lo)], b[static_cast<size_t>(lo)])) {
        ++lo;
    }
    int aHi = static_cast<int>(a.size());
    int bHi = static_cast<int>(b.size());
    while (aHi > lo && bHi > lo && SameSegment(a[static_cast<size_t>(aHi - 1)], b[static_cast<size_t>(bHi - 1)])) {
        --aHi;
        --bHi;
    }
    std::vector<int> gone;
    std::vector<int> come;
    if (!ShortestEdit(a, b, lo, aHi, bHi, gone, come)) {
        gone.clear();
        come.clear();
        for (int i = lo; i < aHi; ++i) {
            gone.push_back(i);
        }
        for (int i = lo; i < bHi; ++i) {
            come.push_back(i);
        }
    }
    change.removed.clear();
    change.added.clear();
    for (int i : gone) {
        change.removed.push_back(a[static_cast<size_t>(i)]);
    }
    for (int i : come) {
        change.added.push_back(b[static_cast<size_t>(i)]);
    }
    change.removedAt = std::move(gone);
    change.addedAt = std::move(come);
    change.nClosedBefore = m_editBaseClosed;
    change.nClosedAfter = bClosed;
    Segments().swap(m_editBase);

    CBaseDoc* doc = GetShapeDoc();
    // An edit that changed nothing leaves no step to undo.
    if (doc == nullptr || (change.removed.empty() && change.added.empty() && bClosed == m_editBaseClosed)) {
        return;
    }
    doc->AddUndo(new CUND_BezierChangeCurve(new std::vector<stBezierCurve>{std::move(change)}));
}

void CBezierCurve::ChangeCurve(stBezierCurve change, int mode) {
    const ShapeGuard guard(this);
    if (mode != 0 && mode != 1) {
        return;
    }
    const bool undo = mode == 1;
    const Segments& takeOut = undo ? change.added : change.removed;
    const Segments& putBack = undo ? change.removed : change.added;
    const std::vector<int>& takeAt = undo ? change.addedAt : change.removedAt;
    const std::vector<int>& putAt = undo ? change.removedAt : change.addedAt;
    const int closed = undo ? change.nClosedBefore : change.nClosedAfter;

    if (IndexedReplayFits(arrSegment, takeOut, takeAt, putBack, putAt)) {
        EraseAt(arrSegment, takeAt);
        InsertAt(arrSegment, putBack, putAt);
        if (closed == 0 || closed == 1) {
            bClosed = closed;
        }
        InvalidateGeometry();
        return;
    }

    // A record without indices (or one the curve no longer matches): each
    // segment taken out is the first equal one, and each one put back goes
    // after the segment whose end meets its start.
    for (const Segment& s : takeOut) {
        for (size_t j = 0; j < arrSegment.size(); ++j) {
            if (CompareBezierCurve(arrSegment[j], s)) {
                arrSegment.erase(arrSegment.begin() + static_cast<std::ptrdiff_t>(j));
                break;
            }
        }
    }
    Segments chain;
    OrderCurve(putBack, chain);
    for (const Segment& s : chain) {
        size_t at = 0;
        for (size_t j = 0; j < arrSegment.size(); ++j) {
            if (Near(arrSegment[j].p4, s.p1)) {
                at = j + 1;
                break;
            }
        }
        arrSegment.insert(arrSegment.begin() + static_cast<std::ptrdiff_t>(at), s);
    }
    InvalidateGeometry();
}

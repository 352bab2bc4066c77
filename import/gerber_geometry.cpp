#include "morvik/import/gerber_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "morvik/core/geometry.h"
#include "morvik/core/number_text.h"
#include "morvik/core/polyline.h"
#include "morvik/core/runlog.h"
#include "morvik/win32/windows.h"

namespace gerber_detail {

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

namespace {

// The lines still to be written for the file being read on this thread, and
// how many were left out. Outside a file every line is written.
thread_local int t_diagnosticsLeft = -1;
thread_local long long t_diagnosticsDropped = 0;

}  // namespace

void BeginDiagnostics() {
    t_diagnosticsLeft = kMaxDiagnostics;
    t_diagnosticsDropped = 0;
}

void EndDiagnostics() {
    if (t_diagnosticsDropped > 0) {
        RunLog::Instance(nullptr)->WriteFormat(L"Gerber: %lld more lines of this file not logged",
                                               t_diagnosticsDropped);
    }
    t_diagnosticsLeft = -1;
    t_diagnosticsDropped = 0;
}

void Console(const std::string& text) {
    if (t_diagnosticsLeft == 0) {
        ++t_diagnosticsDropped;
        return;
    }
    if (t_diagnosticsLeft > 0) {
        --t_diagnosticsLeft;
    }
    RunLog::Instance(nullptr)->Write((L"Gerber: " + Utf8ToWide(text)).c_str());
}
void Console(const std::string& text, const std::string& value) { Console(text + value); }
void Console(const std::string& text, long long value) { Console(text + std::to_string(value)); }

namespace {

// Gerber numbers may follow blanks and tabs only.
size_t SkipBlanks(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    return i;
}

}  // namespace

double ParseDouble(std::string_view text) {
    size_t i = SkipBlanks(text);
    double value = 0.0;
    // The sign of an overflowing number still counts: it is refused later as
    // out of range rather than taken as 0.
    return ScanDecimalOrOverflow(text, i, value) == DecimalScan::kNone ? 0.0 : value;
}

double ParseCoordinateDigits(std::string_view text) {
    size_t i = SkipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr int64_t kLimit = 1000000000000000000LL;
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = v <= (kLimit - 9) / 10 ? v * 10 + (text[i] - '0') : kLimit;
    return static_cast<double>(negative ? -v : v);
}

long ParseLong(std::string_view text) {
    size_t i = SkipBlanks(text);
    int32_t value = 0;
    return ScanInt32(text, i, value) ? value : 0;
}

void ArcPoints(tagPOINTF centre, double r, double startDeg, double sweepDeg, double flatness, Ring& out) {
    r = std::fabs(r);
    const double sweep = sweepDeg * kPi / 180.0;
    const double start = startDeg * kPi / 180.0;
    // The points are floats: a chord closer to the arc than their own
    // rounding at this distance from the origin adds points, not shape
    // (a huge circle would otherwise give tens of thousands of points that
    // every later merge has to work through).
    const auto far = static_cast<float>(std::max(std::fabs(centre.x), std::fabs(centre.y)) + r);
    if (std::isfinite(far)) {
        flatness = std::max(flatness, 4.0 * (std::nextafter(far, HUGE_VALF) - far));
    }
    int n = 1;
    if (r > flatness) {
        const double step = 2.0 * std::acos(1.0 - flatness / r);
        if (step > 0.0) {
            const double count = std::ceil(std::fabs(sweep) / step);
            n = static_cast<int>(std::clamp(count, 1.0, static_cast<double>(kMaxArcPoints)));
        }
    }
    // Never coarser than a quarter turn per step, so small arcs keep their shape.
    n = std::max(n, static_cast<int>(std::ceil(std::fabs(sweepDeg) / 90.0)));
    for (int k = 0; k <= n; ++k) {
        const double a = start + sweep * k / n;
        out.push_back({static_cast<float>(centre.x + r * std::cos(a)), static_cast<float>(centre.y + r * std::sin(a))});
    }
}

bool HasArea(CBaseShape* shape) {
    if (shape == nullptr) {
        return false;
    }
    switch (shape->GetShapeKind()) {
        case SHAPE_POINTS:
            return false;
        case SHAPE_POLYLINE: {
            auto* line = dynamic_cast<CPolyLine*>(shape);
            return line != nullptr && line->bClosed != 0 && line->arrPoint.size() >= 3;
        }
        case SHAPE_COMBINE:
        case SHAPE_GROUP:
            for (CBaseShape* child : shape->GetChildren()) {
                if (HasArea(child)) {
                    return true;
                }
            }
            return false;
        default:
            return true;
    }
}

void CollectRings(CBaseShape* shape, double flatness, std::vector<Ring>& rings) {
    if (shape == nullptr) {
        return;
    }
    const CAD_SHAPE_TYPE kind = shape->GetShapeKind();
    if (kind == SHAPE_COMBINE || kind == SHAPE_GROUP) {
        for (CBaseShape* child : shape->GetChildren()) {
            CollectRings(child, flatness, rings);
        }
        return;
    }
    Ring ring;
    shape->GetFlattenPathPoints(ring, kind == SHAPE_POLYLINE ? 0.01f : static_cast<float>(flatness));
    if (ring.size() >= 3) {
        rings.push_back(std::move(ring));
    }
}

ClipperLib::Path ToClipper(const Ring& ring) {
    ClipperLib::Path path;
    path.reserve(ring.size());
    for (const tagPOINTF& p : ring) {
        if (!geom::Finite(p)) {
            return {};
        }
        const ClipperLib::IntPoint q(static_cast<ClipperLib::cInt>(RoundHalfAway(p.x * kClipperScale)),
                                     static_cast<ClipperLib::cInt>(RoundHalfAway(p.y * kClipperScale)));
        if (path.empty() || !(path.back() == q)) {
            path.push_back(q);
        }
    }
    if (path.size() < 3) {
        return {};
    }
    return path;
}

ClipperLib::Paths Execute(ClipperLib::Clipper& clipper, ClipperLib::ClipType type, ClipperLib::PolyFillType subjectFill,
                          ClipperLib::PolyFillType clipFill) {
    // Plain paths, not a tree: building the tree costs a containment test
    // per joined edge, which grows out of all proportion when many edges
    // coincide (a clear flash over the same dark one).
    ClipperLib::Paths out;
    try {
        if (!clipper.Execute(type, out, subjectFill, clipFill)) {
            out.clear();
        }
    } catch (const ClipperLib::clipperException&) {
        out.clear();
    }
    return out;
}

namespace {

// Adds closed paths; false when Clipper refuses them (coordinates out of its
// range).
bool AddClosed(ClipperLib::Clipper& clipper, const ClipperLib::Paths& paths, ClipperLib::PolyType type) {
    try {
        for (const ClipperLib::Path& path : paths) {
            if (path.size() >= 3) {
                clipper.AddPath(path, type, true);
            }
        }
    } catch (const ClipperLib::clipperException&) {
        return false;
    }
    return true;
}

}  // namespace

ClipperLib::Paths ShapeRegion(CBaseShape* shape, double flatness) {
    std::vector<Ring> rings;
    CollectRings(shape, flatness, rings);
    ClipperLib::Paths paths;
    for (const Ring& ring : rings) {
        ClipperLib::Path path = ToClipper(ring);
        if (!path.empty()) {
            paths.push_back(std::move(path));
        }
    }
    if (paths.empty()) {
        return {};
    }
    const CAD_SHAPE_TYPE kind = shape->GetShapeKind();
    const ClipperLib::PolyFillType fill =
        (kind == SHAPE_COMBINE || kind == SHAPE_GROUP) ? ClipperLib::pftEvenOdd : ClipperLib::pftNonZero;
    ClipperLib::Clipper clipper;
    if (!AddClosed(clipper, paths, ClipperLib::ptSubject)) {
        return {};
    }
    return Execute(clipper, ClipperLib::ctUnion, fill, fill);
}

ClipperLib::Paths UnionRings(const std::vector<Ring>& rings, ClipperLib::PolyFillType fill) {
    ClipperLib::Paths paths;
    for (const Ring& ring : rings) {
        ClipperLib::Path path = ToClipper(ring);
        if (path.empty()) {
            continue;
        }
        // Every ring counts as an area of its own: turned counter-clockwise,
        // overlapping rings add up under the non-zero rule instead of
        // cancelling.
        if (fill == ClipperLib::pftNonZero && !ClipperLib::Orientation(path)) {
            ClipperLib::ReversePath(path);
        }
        paths.push_back(std::move(path));
    }
    if (paths.empty()) {
        return {};
    }
    ClipperLib::Clipper clipper;
    if (!AddClosed(clipper, paths, ClipperLib::ptSubject)) {
        return {};
    }
    return Execute(clipper, ClipperLib::ctUnion, fill, fill);
}

void PathsToPolyLines(const ClipperLib::Paths& paths, std::vector<CBaseShape*>& out) {
    for (const ClipperLib::Path& path : paths) {
        if (path.size() < 3) {
            continue;
        }
        auto* line = new CPolyLine;
        line->arrPoint.reserve(path.size() + 1);
        for (const ClipperLib::IntPoint& q : path) {
            line->arrPoint.push_back({static_cast<float>(static_cast<double>(q.X) / kClipperScale),
                                      static_cast<float>(static_cast<double>(q.Y) / kClipperScale)});
        }
        line->ClosePloyLine();
        out.push_back(line);
    }
}

}  // namespace gerber_detail

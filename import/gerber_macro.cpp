// Aperture macros: the arithmetic of macro bodies ($n variables, + - x /
// and parentheses) and the area of each primitive, turned about the origin
// by its rotation.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "morvik/core/polyline.h"
#include "morvik/import/gerber_geometry.h"

namespace gerber_detail {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Deeper nesting than this is a damaged file, not a formula.
constexpr int kMaxNesting = 64;
constexpr int kMaxVariable = 9999;
constexpr long kMaxMoireRings = 1000;
constexpr long kMaxOutlinePoints = 100000;
constexpr long kMaxPolygonVertices = 1000;

// A recursive-descent reader of one expression.
class ExpressionReader {
public:
    ExpressionReader(std::string_view text, const MacroVariables& vars) : text_(text), vars_(vars) {}

    bool Read(double& value) {
        value = Sum(0);
        Blanks();
        return ok_ && pos_ == text_.size() && std::isfinite(value);
    }

private:
    void Blanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) {
            ++pos_;
        }
    }
    bool Take(char c) {
        Blanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    double Fail() {
        ok_ = false;
        return 0.0;
    }

    double Sum(int depth) {
        double value = Product(depth);
        while (ok_) {
            if (Take('+')) {
                value += Product(depth);
            } else if (Take('-')) {
                value -= Product(depth);
            } else {
                break;
            }
        }
        return value;
    }
    double Product(int depth) {
        double value = Factor(depth);
        while (ok_) {
            if (Take('x') || Take('X')) {
                value *= Factor(depth);
            } else if (Take('/')) {
                value /= Factor(depth);
            } else {
                break;
            }
        }
        return value;
    }
    double Factor(int depth) {
        if (depth > kMaxNesting) {
            return Fail();
        }
        if (Take('-')) {
            return -Factor(depth + 1);
        }
        if (Take('+')) {
            return Factor(depth + 1);
        }
        if (Take('(')) {
            const double value = Sum(depth + 1);
            return Take(')') ? value : Fail();
        }
        if (Take('$')) {
            int index = 0;
            if (!ReadIndex(index)) {
                return Fail();
            }
            const auto it = vars_.find(index);
            return it == vars_.end() ? 0.0 : it->second;  // unset variables are 0
        }
        const size_t start = pos_;
        while (pos_ < text_.size() && ((text_[pos_] >= '0' && text_[pos_] <= '9') || text_[pos_] == '.')) {
            ++pos_;
        }
        double value = 0.0;
        const auto res = std::from_chars(text_.data() + start, text_.data() + pos_, value);
        if (start == pos_ || res.ec != std::errc() || res.ptr != text_.data() + pos_) {
            return Fail();
        }
        return value;
    }
    bool ReadIndex(int& index) {
        const size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            if (pos_ - start >= 4) {
                return false;
            }
            index = index * 10 + (text_[pos_] - '0');
            ++pos_;
        }
        return pos_ > start && index >= 1 && index <= kMaxVariable;
    }

    std::string_view text_;
    const MacroVariables& vars_;
    size_t pos_ = 0;
    bool ok_ = true;
};

bool Usable(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxApertureSize; }

// A rectangle of w x h centred on (cx, cy), turned by angleDeg about that centre.
Ring Box(double cx, double cy, double w, double h, double angleDeg) {
    const double a = angleDeg * kPi / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    Ring ring;
    for (const auto& [u, v] : {std::pair{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}}) {
        const double x = u * w;
        const double y = v * h;
        ring.push_back({static_cast<float>(cx + x * c - y * s), static_cast<float>(cy + x * s + y * c)});
    }
    return ring;
}

Ring Disc(double cx, double cy, double diameter, double flatness) {
    Ring ring;
    ArcPoints({static_cast<float>(cx), static_cast<float>(cy)}, diameter / 2.0, 0.0, 360.0, flatness, ring);
    ring.pop_back();  // the closing point repeats the first
    return ring;
}

// The area of dark rings less clear ones, in millimetres: the rings are
// scaled and turned about the origin first.
ClipperLib::Paths Area(std::vector<Ring> dark, std::vector<Ring> clear, double scale, double angleDeg) {
    const double a = angleDeg * kPi / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    ClipperLib::Clipper clipper;
    for (auto* rings : {&dark, &clear}) {
        for (Ring& ring : *rings) {
            for (tagPOINTF& p : ring) {
                const double x = p.x * scale;
                const double y = p.y * scale;
                p = {static_cast<float>(x * c - y * s), static_cast<float>(x * s + y * c)};
            }
            ClipperLib::Path path = ToClipper(ring);
            if (path.empty()) {
                continue;
            }
            if (!ClipperLib::Orientation(path)) {
                ClipperLib::ReversePath(path);
            }
            try {
                clipper.AddPath(path, rings == &dark ? ClipperLib::ptSubject : ClipperLib::ptClip, true);
            } catch (const ClipperLib::clipperException&) {
                return {};
            }
        }
    }
    return Execute(clipper, ClipperLib::ctDifference, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
}

}  // namespace

bool EvalMacroExpression(std::string_view text, const MacroVariables& vars, double& value) {
    ExpressionReader reader(text, vars);
    return reader.Read(value);
}

bool MacroPrimitiveRegion(const std::vector<double>& v, double scale, double flatness, MacroRegion& out) {
    if (v.empty() || !std::all_of(v.begin(), v.end(), Usable)) {
        return false;
    }
    const auto at = [&](size_t i) { return i < v.size() ? v[i] : 0.0; };
    const auto given = [&](size_t count) { return v.size() >= count; };
    // Arcs are flattened in file units, so the tolerance is too.
    const double tol = flatness / scale;
    const int code = static_cast<int>(v[0]);
    std::vector<Ring> dark;
    std::vector<Ring> clear;
    double rotation = 0.0;
    out.dark = at(1) >= 0.5;
    switch (code) {
        case 1:  // circle: exposure, diameter, centre, rotation
            if (!given(5) || !(at(2) > 0.0)) return false;
            dark.push_back(Disc(at(3), at(4), at(2), tol));
            rotation = at(5);
            break;
        case 2:
        case 20: {  // vector line: exposure, width, start, end, rotation
            if (!given(7) || !(at(2) > 0.0)) return false;
            const double dx = at(5) - at(3);
            const double dy = at(6) - at(4);
            const double length = std::hypot(dx, dy);
            if (!(length > 0.0)) return false;
            dark.push_back(Box((at(3) + at(5)) / 2.0, (at(4) + at(6)) / 2.0, length, at(2),
                               std::atan2(dy, dx) * 180.0 / kPi));
            rotation = at(7);
            break;
        }
        case 21:  // centre line: exposure, width, height, centre, rotation
        case 22:  // lower-left line: exposure, width, height, lower-left corner, rotation
            if (!given(6) || !(at(2) > 0.0) || !(at(3) > 0.0)) return false;
            dark.push_back(Box(at(4) + (code == 22 ? at(2) / 2.0 : 0.0), at(5) + (code == 22 ? at(3) / 2.0 : 0.0),
                               at(2), at(3), 0.0));
            rotation = at(6);
            break;
        case 4: {  // outline: exposure, n, n + 1 points (the last repeats the first), rotation
            const double n = at(2);
            if (!(n >= 1.0) || n > kMaxOutlinePoints) return false;
            const size_t points = static_cast<size_t>(n) + 1;
            Ring ring;
            for (size_t k = 0; k < points && 4 + 2 * k < v.size(); ++k) {
                ring.push_back({static_cast<float>(v[3 + 2 * k]), static_cast<float>(v[4 + 2 * k])});
            }
            if (ring.size() < 3) return false;
            dark.push_back(std::move(ring));
            rotation = at(3 + 2 * points);
            break;
        }
        case 5: {  // polygon: exposure, vertices, centre, diameter, rotation
            const double n = at(2);
            if (!given(6) || !(n >= 3.0) || n > kMaxPolygonVertices || !(at(5) > 0.0)) return false;
            const int count = static_cast<int>(n);
            Ring ring;
            for (int k = 0; k < count; ++k) {
                const double a = 2.0 * kPi * k / count;
                ring.push_back({static_cast<float>(at(3) + at(5) / 2.0 * std::cos(a)),
                                static_cast<float>(at(4) + at(5) / 2.0 * std::sin(a))});
            }
            dark.push_back(std::move(ring));
            rotation = at(6);
            break;
        }
        case 6: {  // moire: centre, outer diameter, ring thickness, gap, rings, cross thickness and length, rotation
            if (!given(9)) return false;
            out.dark = true;
            const double cx = at(1);
            const double cy = at(2);
            const double thickness = at(4);
            const long rings = std::clamp(static_cast<long>(at(6)), 0L, kMaxMoireRings);
            for (long k = 0; k < rings; ++k) {
                const double d = at(3) - 2.0 * k * (thickness + at(5));
                if (!(d > 0.0) || !(thickness > 0.0)) break;
                // Each ring is its own area: a disc with the next one's inside cut out.
                std::vector<Ring> ringDark{Disc(cx, cy, d, tol)};
                std::vector<Ring> ringClear;
                if (d - 2.0 * thickness > 0.0) ringClear.push_back(Disc(cx, cy, d - 2.0 * thickness, tol));
                const ClipperLib::Paths r = Area(std::move(ringDark), std::move(ringClear), scale, at(9));
                out.paths.insert(out.paths.end(), r.begin(), r.end());
            }
            if (at(7) > 0.0 && at(8) > 0.0) {
                dark.push_back(Box(cx, cy, at(8), at(7), 0.0));
                dark.push_back(Box(cx, cy, at(7), at(8), 0.0));
            }
            rotation = at(9);
            // The rings and the cross overlap: one union of all.
            const ClipperLib::Paths cross = Area(std::move(dark), {}, scale, rotation);
            out.paths.insert(out.paths.end(), cross.begin(), cross.end());
            ClipperLib::Clipper clipper;
            try {
                clipper.AddPaths(out.paths, ClipperLib::ptSubject, true);
            } catch (const ClipperLib::clipperException&) {
                return false;
            }
            out.paths = Execute(clipper, ClipperLib::ctUnion, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
            return !out.paths.empty();
        }
        case 7: {  // thermal: centre, outer and inner diameter, gap, rotation
            if (!given(6)) return false;
            out.dark = true;
            const double cx = at(1);
            const double cy = at(2);
            const double outer = at(3);
            const double inner = at(4);
            const double gap = at(5);
            if (!(outer > 0.0) || !(inner >= 0.0) || !(inner < outer) || !(gap >= 0.0)) return false;
            dark.push_back(Disc(cx, cy, outer, tol));
            if (inner > 0.0) clear.push_back(Disc(cx, cy, inner, tol));
            if (gap > 0.0) {
                clear.push_back(Box(cx, cy, outer * 2.0, gap, 0.0));
                clear.push_back(Box(cx, cy, gap, outer * 2.0, 0.0));
            }
            rotation = at(6);
            break;
        }
        default:  // comments and unknown primitives have no area
            return false;
    }
    out.paths = Area(std::move(dark), std::move(clear), scale, rotation);
    return !out.paths.empty();
}

}  // namespace gerber_detail

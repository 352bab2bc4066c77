#include "morvik/gdi/cairo_canvas.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct Pt {
    double x;
    double y;
};

Pt operator+(Pt a, Pt b) { return {a.x + b.x, a.y + b.y}; }
Pt operator-(Pt a, Pt b) { return {a.x - b.x, a.y - b.y}; }
Pt operator*(Pt a, double k) { return {a.x * k, a.y * k}; }
Pt Mid(Pt a, Pt b) { return {(a.x + b.x) / 2, (a.y + b.y) / 2}; }
bool Same(Pt a, Pt b) { return a.x == b.x && a.y == b.y; }

Pt ToPt(const Gdiplus::PointF& p) { return {p.X, p.Y}; }

constexpr double kKappa = 0.5522847498307936;  // quarter circle as one cubic
constexpr int kMaxSide = 32767;
constexpr long long kMaxPixels = 1LL << 28;
// Curves are flattened only where they may be visible; this bounds the work.
constexpr int kMaxCurveDepth = 20;
constexpr double kFlatness = 0.25;

struct Box {
    double x0, y0, x1, y1;
    bool Contains(Pt p) const { return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1; }
};

// One step of a path: Move and Line use p[0]; Curve uses p[0] and p[1] as
// control points and p[2] as the end; Close uses nothing.
struct Seg {
    enum Kind { Move, Line, Curve, Close };
    Kind kind;
    Pt p[3];
};
using Geometry = std::vector<Seg>;

void Move(Geometry& g, Pt p) { g.push_back({Seg::Move, {p, {}, {}}}); }
void Line(Geometry& g, Pt p) { g.push_back({Seg::Line, {p, {}, {}}}); }
void Curve(Geometry& g, Pt a, Pt b, Pt c) { g.push_back({Seg::Curve, {a, b, c}}); }
void Close(Geometry& g) { g.push_back({Seg::Close, {{}, {}, {}}}); }

int PointCount(Seg::Kind k) { return k == Seg::Curve ? 3 : (k == Seg::Close ? 0 : 1); }

Geometry PolylineGeometry(const Gdiplus::PointF* pts, size_t n, bool closed) {
    Geometry g;
    if (pts == nullptr || n == 0) return g;
    Move(g, ToPt(pts[0]));
    for (size_t i = 1; i < n; ++i) Line(g, ToPt(pts[i]));
    if (closed) Close(g);
    return g;
}

// Complete segments only: points left over after the last full cubic are
// not drawn.
Geometry BezierGeometry(const Gdiplus::PointF* pts, size_t n) {
    Geometry g;
    if (pts == nullptr || n < 4) return g;
    Move(g, ToPt(pts[0]));
    for (size_t i = 1; i + 2 < n; i += 3) Curve(g, ToPt(pts[i]), ToPt(pts[i + 1]), ToPt(pts[i + 2]));
    return g;
}

// Reads GDI+ point types leniently: a figure starts at a start point or at
// whatever follows a closed figure; a Bezier run that does not complete a
// segment and unknown kinds are drawn as lines.
Geometry PathGeometry(const Gdiplus::PointF* pts, const BYTE* types, size_t n) {
    Geometry g;
    if (pts == nullptr || types == nullptr) return g;
    bool open = false;
    for (size_t i = 0; i < n; ++i) {
        const int kind = types[i] & Gdiplus::PathPointTypePathTypeMask;
        if (kind == Gdiplus::PathPointTypeStart || !open) {
            Move(g, ToPt(pts[i]));
            open = true;
        } else if (kind == Gdiplus::PathPointTypeBezier && i + 2 < n &&
                   (types[i + 1] & Gdiplus::PathPointTypePathTypeMask) == Gdiplus::PathPointTypeBezier &&
                   (types[i + 2] & Gdiplus::PathPointTypePathTypeMask) == Gdiplus::PathPointTypeBezier) {
            Curve(g, ToPt(pts[i]), ToPt(pts[i + 1]), ToPt(pts[i + 2]));
            i += 2;
        } else {
            Line(g, ToPt(pts[i]));
        }
        if (types[i] & Gdiplus::PathPointTypeCloseSubpath) {
            Close(g);
            open = false;
        }
    }
    return g;
}

Geometry RectGeometry(const Gdiplus::RectF& r) {
    Geometry g;
    const double x0 = r.X, y0 = r.Y, x1 = static_cast<double>(r.X) + r.Width, y1 = static_cast<double>(r.Y) + r.Height;
    Move(g, {x0, y0});
    Line(g, {x1, y0});
    Line(g, {x1, y1});
    Line(g, {x0, y1});
    Close(g);
    return g;
}

void AddEllipse(Geometry& g, double cx, double cy, double rx, double ry) {
    const double kx = kKappa * rx, ky = kKappa * ry;
    Move(g, {cx + rx, cy});
    Curve(g, {cx + rx, cy + ky}, {cx + kx, cy + ry}, {cx, cy + ry});
    Curve(g, {cx - kx, cy + ry}, {cx - rx, cy + ky}, {cx - rx, cy});
    Curve(g, {cx - rx, cy - ky}, {cx - kx, cy - ry}, {cx, cy - ry});
    Curve(g, {cx + kx, cy - ry}, {cx + rx, cy - ky}, {cx + rx, cy});
    Close(g);
}

Geometry EllipseGeometry(const Gdiplus::RectF& r) {
    Geometry g;
    AddEllipse(g, r.X + r.Width / 2.0, r.Y + r.Height / 2.0, r.Width / 2.0, r.Height / 2.0);
    return g;
}

bool AllFinite(const Geometry& g) {
    for (const Seg& s : g) {
        for (int i = 0; i < PointCount(s.kind); ++i) {
            if (!std::isfinite(s.p[i].x) || !std::isfinite(s.p[i].y)) return false;
        }
    }
    return true;
}

bool AllInside(const Geometry& g, const Box& box) {
    for (const Seg& s : g) {
        for (int i = 0; i < PointCount(s.kind); ++i) {
            if (!box.Contains(s.p[i])) return false;
        }
    }
    return true;
}

void Offset(Geometry& g, double d) {
    for (Seg& s : g) {
        for (int i = 0; i < PointCount(s.kind); ++i) s.p[i] = s.p[i] + Pt{d, d};
    }
}

// ---- geometry far outside the surface -------------------------------------
// cairo keeps coordinates in 24.8 fixed point, so points beyond a few
// million pixels would wrap around. Such geometry is flattened and clipped
// to a box around the surface first; what lies inside the surface is drawn
// as before.

bool Flat(Pt a, Pt b, Pt c, Pt d) {
    const Pt ad = d - a;
    const double len = std::hypot(ad.x, ad.y);
    if (len < 1e-9) return std::hypot(b.x - a.x, b.y - a.y) <= kFlatness && std::hypot(c.x - a.x, c.y - a.y) <= kFlatness;
    const double db = std::fabs((b.x - a.x) * ad.y - (b.y - a.y) * ad.x) / len;
    const double dc = std::fabs((c.x - a.x) * ad.y - (c.y - a.y) * ad.x) / len;
    return db <= kFlatness && dc <= kFlatness;
}

// A curve whose control points all lie on one side of the box is replaced
// by its chord: both stay within the convex hull, which misses the box.
void FlattenCurve(Pt a, Pt b, Pt c, Pt d, const Box& box, std::vector<Pt>& out, int depth) {
    const double minx = std::min({a.x, b.x, c.x, d.x}), maxx = std::max({a.x, b.x, c.x, d.x});
    const double miny = std::min({a.y, b.y, c.y, d.y}), maxy = std::max({a.y, b.y, c.y, d.y});
    if (maxx < box.x0 || minx > box.x1 || maxy < box.y0 || miny > box.y1 || depth >= kMaxCurveDepth ||
        Flat(a, b, c, d)) {
        out.push_back(d);
        return;
    }
    const Pt ab = Mid(a, b), bc = Mid(b, c), cd = Mid(c, d);
    const Pt abc = Mid(ab, bc), bcd = Mid(bc, cd);
    const Pt m = Mid(abc, bcd);
    FlattenCurve(a, ab, abc, m, box, out, depth + 1);
    FlattenCurve(m, bcd, cd, d, box, out, depth + 1);
}

struct Figure {
    std::vector<Pt> pts;
    bool closed = false;
};

std::vector<Figure> FlattenGeometry(const Geometry& g, const Box& box) {
    std::vector<Figure> figs;
    bool open = false;
    Pt cur{0, 0};
    for (const Seg& s : g) {
        switch (s.kind) {
            case Seg::Move:
                figs.push_back({{s.p[0]}, false});
                cur = s.p[0];
                open = true;
                break;
            case Seg::Line:
                if (!open) figs.push_back({{cur}, false});
                open = true;
                figs.back().pts.push_back(s.p[0]);
                cur = s.p[0];
                break;
            case Seg::Curve:
                if (!open) figs.push_back({{cur}, false});
                open = true;
                FlattenCurve(cur, s.p[0], s.p[1], s.p[2], box, figs.back().pts, 0);
                cur = s.p[2];
                break;
            case Seg::Close:
                if (open) {
                    figs.back().closed = true;
                    cur = figs.back().pts.front();
                }
                open = false;
                break;
        }
    }
    return figs;
}

// Liang-Barsky: the part [t0, t1] of a-b inside the box, if any.
bool ClipSegment(Pt a, Pt b, const Box& box, double& t0, double& t1) {
    t0 = 0;
    t1 = 1;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x - box.x0, box.x1 - a.x, a.y - box.y0, box.y1 - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0) {
            if (r > t1) return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0) return false;
            t1 = std::min(t1, r);
        }
    }
    return t0 <= t1;
}

Geometry ClipForStroke(const Geometry& g, const Box& box) {
    Geometry out;
    for (Figure& f : FlattenGeometry(g, box)) {
        if (f.closed && f.pts.size() > 1) f.pts.push_back(f.pts.front());
        bool joined = false;
        for (size_t i = 1; i < f.pts.size(); ++i) {
            double t0, t1;
            const Pt a = f.pts[i - 1], b = f.pts[i];
            if (!ClipSegment(a, b, box, t0, t1)) {
                joined = false;
                continue;
            }
            if (!joined || t0 > 0) Move(out, a + (b - a) * t0);
            Line(out, a + (b - a) * t1);
            joined = t1 >= 1;
        }
    }
    return out;
}

// Sutherland-Hodgman against one edge of the box: keep where
// sign * (coord - limit) <= 0.
std::vector<Pt> ClipPolygonEdge(const std::vector<Pt>& in, bool useX, double limit, double sign) {
    std::vector<Pt> out;
    if (in.empty()) return out;
    auto inside = [&](Pt p) { return sign * ((useX ? p.x : p.y) - limit) <= 0; };
    Pt prev = in.back();
    bool prevIn = inside(prev);
    for (Pt cur : in) {
        const bool curIn = inside(cur);
        if (curIn != prevIn) {
            const double pc = useX ? prev.x : prev.y, cc = useX ? cur.x : cur.y;
            const double t = (limit - pc) / (cc - pc);
            out.push_back(prev + (cur - prev) * t);
        }
        if (curIn) out.push_back(cur);
        prev = cur;
        prevIn = curIn;
    }
    return out;
}

Geometry ClipForFill(const Geometry& g, const Box& box) {
    Geometry out;
    for (Figure& f : FlattenGeometry(g, box)) {
        std::vector<Pt> poly = std::move(f.pts);
        poly = ClipPolygonEdge(poly, true, box.x0, -1);
        poly = ClipPolygonEdge(poly, true, box.x1, 1);
        poly = ClipPolygonEdge(poly, false, box.y0, -1);
        poly = ClipPolygonEdge(poly, false, box.y1, 1);
        if (poly.size() < 3) continue;
        Move(out, poly[0]);
        for (size_t i = 1; i < poly.size(); ++i) Line(out, poly[i]);
        Close(out);
    }
    return out;
}

// ---- line caps --------------------------------------------------------------

struct CapPlace {
    Pt anchor;
    Pt dir;  // unit vector pointing out of the line
};

// The ends of every open figure, with their outward tangents.
void FindEnds(const Geometry& g, std::vector<std::pair<CapPlace, CapPlace>>& ends) {
    std::vector<Pt> seq;
    auto flush = [&](bool closed) {
        if (!closed && seq.size() >= 2) {
            size_t i = 1;
            while (i < seq.size() && Same(seq[i], seq[0])) ++i;
            size_t j = seq.size() - 1;
            while (j > 0 && Same(seq[j - 1], seq.back())) --j;
            if (i < seq.size() && j > 0) {
                Pt ds = seq[0] - seq[i];
                Pt de = seq.back() - seq[j - 1];
                const double ls = std::hypot(ds.x, ds.y), le = std::hypot(de.x, de.y);
                if (ls > 0 && le > 0 && std::isfinite(ls) && std::isfinite(le)) {
                    ends.push_back({{seq[0], ds * (1 / ls)}, {seq.back(), de * (1 / le)}});
                }
            }
        }
        seq.clear();
    };
    for (const Seg& s : g) {
        switch (s.kind) {
            case Seg::Move:
                flush(false);
                seq.push_back(s.p[0]);
                break;
            case Seg::Line:
                seq.push_back(s.p[0]);
                break;
            case Seg::Curve:
                seq.insert(seq.end(), {s.p[0], s.p[1], s.p[2]});
                break;
            case Seg::Close:
                flush(true);
                break;
        }
    }
    flush(false);
}

bool SimpleCap(Gdiplus::LineCap k) {
    return k == Gdiplus::LineCapFlat || k == Gdiplus::LineCapSquare || k == Gdiplus::LineCapRound;
}

double SaneFactor(float v) { return std::isfinite(v) ? std::clamp(static_cast<double>(v), 0.0, 1000.0) : 0.0; }

// One job of a primitive: a geometry stroked with the pen or filled.
struct Job {
    Geometry geometry;
    bool stroke = false;
    bool dashed = false;
    bool winding = false;
};

void Polygon(Geometry& g, std::initializer_list<Pt> pts) {
    bool first = true;
    for (Pt p : pts) {
        if (first) Move(g, p); else Line(g, p);
        first = false;
    }
    Close(g);
}

// The decoration at one end that cairo's own caps cannot draw.
void AddCapJob(const CanvasCap& cap, const CapPlace& at, double w, double maxSize, std::vector<Job>& jobs) {
    const Pt d = at.dir;
    const Pt n{-d.y, d.x};
    const Pt a = at.anchor;
    const double h = w / 2;
    const double anchor = std::min(std::max(w, 2.0), maxSize);
    Job job;
    Geometry& g = job.geometry;
    switch (cap.kind) {
        case Gdiplus::LineCapSquare:
            Polygon(g, {a + n * h, a + n * h + d * h, a - n * h + d * h, a - n * h});
            break;
        case Gdiplus::LineCapRound:
            AddEllipse(g, a.x, a.y, h, h);
            break;
        case Gdiplus::LineCapTriangle:
            Polygon(g, {a + n * h, a + d * h, a - n * h});
            break;
        case Gdiplus::LineCapSquareAnchor:
            Polygon(g, {a + (n + d) * anchor, a + (d - n) * anchor, a - (n + d) * anchor, a + (n - d) * anchor});
            break;
        case Gdiplus::LineCapRoundAnchor:
            AddEllipse(g, a.x, a.y, anchor, anchor);
            break;
        case Gdiplus::LineCapDiamondAnchor: {
            const double r = anchor * 1.25;
            Polygon(g, {a + d * r, a + n * r, a - d * r, a - n * r});
            break;
        }
        case Gdiplus::LineCapArrowAnchor:
        case Gdiplus::LineCapCustom: {
            double len, width, inset;
            if (cap.kind == Gdiplus::LineCapArrowAnchor) {
                len = width = 2 * anchor;
                inset = 0;
            } else {
                len = std::min(SaneFactor(cap.arrowHeight) * w, maxSize);
                width = std::min(SaneFactor(cap.arrowWidth) * w, maxSize);
                inset = std::isfinite(cap.arrowInset) ? std::clamp(cap.arrowInset * w, -maxSize, maxSize) : 0.0;
            }
            if (len <= 0 && width <= 0) return;
            const Pt base = a - d * len;
            if (inset != 0) {
                Polygon(g, {a, base + n * (width / 2), base + d * inset, base - n * (width / 2)});
            } else {
                Polygon(g, {a, base + n * (width / 2), base - n * (width / 2)});
            }
            job.stroke = cap.kind == Gdiplus::LineCapCustom && !cap.arrowFilled;
            break;
        }
        default:
            return;
    }
    jobs.push_back(std::move(job));
}

void EmitPath(cairo_t* cr, const Geometry& g) {
    cairo_new_path(cr);
    for (const Seg& s : g) {
        switch (s.kind) {
            case Seg::Move: cairo_move_to(cr, s.p[0].x, s.p[0].y); break;
            case Seg::Line: cairo_line_to(cr, s.p[0].x, s.p[0].y); break;
            case Seg::Curve:
                cairo_curve_to(cr, s.p[0].x, s.p[0].y, s.p[1].x, s.p[1].y, s.p[2].x, s.p[2].y);
                break;
            case Seg::Close: cairo_close_path(cr); break;
        }
    }
}

struct StrokeStyle {
    double width = 1;
    cairo_line_cap_t cap = CAIRO_LINE_CAP_BUTT;
    std::vector<double> dashes;
};

void ApplyStroke(cairo_t* cr, const StrokeStyle& s) {
    cairo_set_line_width(cr, s.width);
    cairo_set_line_cap(cr, s.cap);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, 10.0);
    cairo_set_dash(cr, s.dashes.empty() ? nullptr : s.dashes.data(), static_cast<int>(s.dashes.size()), 0);
}

void RunJobs(cairo_t* cr, const std::vector<Job>& jobs, const StrokeStyle& style) {
    for (const Job& job : jobs) {
        EmitPath(cr, job.geometry);
        if (job.stroke) {
            ApplyStroke(cr, style);
            if (!job.dashed) cairo_set_dash(cr, nullptr, 0, 0);
            cairo_stroke(cr);
        } else {
            cairo_set_fill_rule(cr, job.winding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
            cairo_fill(cr);
        }
    }
}

void SetSource(cairo_t* cr, uint32_t argb) {
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                          ((argb >> 24) & 0xFF) / 255.0);
}

uint32_t Premultiply(uint32_t argb) {
    const uint32_t a = argb >> 24;
    auto ch = [a](uint32_t c) { return (c * a + 127) / 255; };
    return (a << 24) | (ch((argb >> 16) & 0xFF) << 16) | (ch((argb >> 8) & 0xFF) << 8) | ch(argb & 0xFF);
}

uint32_t Unpremultiply(uint32_t px) {
    const uint32_t a = px >> 24;
    if (a == 0) return 0;
    if (a == 255) return px;
    auto ch = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
    return (a << 24) | (ch((px >> 16) & 0xFF) << 16) | (ch((px >> 8) & 0xFF) << 8) | ch(px & 0xFF);
}

// GDI's raster operations have no cairo operator: the primitive is drawn
// into a coverage mask without antialiasing, and every covered pixel becomes
// the operation of the pen colour and the pixel.
void Composite(cairo_surface_t* surface, cairo_t* cr, int width, int height, const std::vector<Job>& jobs,
               const StrokeStyle& style, uint32_t argb, int rop) {
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    cairo_save(cr);
    for (const Job& job : jobs) {
        EmitPath(cr, job.geometry);
        double a, b, c, d;
        if (job.stroke) {
            ApplyStroke(cr, style);
            if (!job.dashed) cairo_set_dash(cr, nullptr, 0, 0);
            cairo_stroke_extents(cr, &a, &b, &c, &d);
        } else {
            cairo_set_fill_rule(cr, job.winding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
            cairo_fill_extents(cr, &a, &b, &c, &d);
        }
        if (c > a && d > b) {
            x0 = std::min(x0, a);
            y0 = std::min(y0, b);
            x1 = std::max(x1, c);
            y1 = std::max(y1, d);
        }
    }
    cairo_new_path(cr);
    cairo_restore(cr);
    if (!(x1 > x0 && y1 > y0)) return;
    const int ix0 = static_cast<int>(std::max(0.0, std::floor(x0)));
    const int iy0 = static_cast<int>(std::max(0.0, std::floor(y0)));
    const int ix1 = static_cast<int>(std::min<double>(width, std::ceil(x1)));
    const int iy1 = static_cast<int>(std::min<double>(height, std::ceil(y1)));
    if (ix1 <= ix0 || iy1 <= iy0) return;

    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, ix1 - ix0, iy1 - iy0);
    if (cairo_surface_status(mask) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(mask);
        return;
    }
    cairo_t* mcr = cairo_create(mask);
    cairo_translate(mcr, -ix0, -iy0);
    cairo_set_antialias(mcr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(mcr, 0, 0, 0, 1);
    RunJobs(mcr, jobs, style);
    cairo_destroy(mcr);
    cairo_surface_flush(mask);
    cairo_surface_flush(surface);

    const unsigned char* mdata = cairo_image_surface_get_data(mask);
    const int mstride = cairo_image_surface_get_stride(mask);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    if (mdata != nullptr && data != nullptr) {
        for (int y = iy0; y < iy1; ++y) {
            const unsigned char* mrow = mdata + static_cast<size_t>(y - iy0) * mstride;
            unsigned char* row = data + static_cast<size_t>(y) * stride;
            for (int x = ix0; x < ix1; ++x) {
                if (mrow[x - ix0] < 128) continue;
                uint32_t px;
                std::memcpy(&px, row + static_cast<size_t>(x) * 4, 4);
                px = 0xFF000000u | ApplyRop2(rop, argb & 0x00FFFFFFu, Unpremultiply(px) & 0x00FFFFFFu);
                std::memcpy(row + static_cast<size_t>(x) * 4, &px, 4);
            }
        }
    }
    cairo_surface_mark_dirty_rectangle(surface, ix0, iy0, ix1 - ix0, iy1 - iy0);
    cairo_surface_destroy(mask);
}

// What a primitive draws on.
struct Target {
    cairo_surface_t* surface;
    cairo_t* cr;
    int width;
    int height;
};

void Stroke(const Target& t, const CanvasPen& pen, Geometry geometry) {
    if (t.cr == nullptr || pen.rop2 == R2_NOP || geometry.empty() || !AllFinite(geometry)) return;
    // Integer coordinates are pixel centres for strokes.
    Offset(geometry, 0.5);

    const double extent = 2.0 * (t.width + t.height);
    const double pad = 65536.0 + extent;
    const Box box{-pad, -pad, t.width + pad, t.height + pad};
    // A pen thinner than a pixel still draws one pixel, as GDI+ does.
    double w = std::isfinite(pen.width) ? std::max(1.0, static_cast<double>(pen.width)) : 1.0;
    w = std::min(w, extent + 2);

    StrokeStyle style;
    style.width = w;
    const bool solid = pen.dash == Gdiplus::DashStyleSolid;
    // cairo puts one cap on both ends (and on every dash); anything else is
    // drawn as a decoration on a flat end.
    const bool cairoCaps = solid && pen.startCap.kind == pen.endCap.kind && SimpleCap(pen.startCap.kind);
    if (cairoCaps) {
        // A one-pixel line covers both of its end pixels, as in GDI+.
        style.cap = pen.startCap.kind == Gdiplus::LineCapRound                ? CAIRO_LINE_CAP_ROUND
                    : pen.startCap.kind == Gdiplus::LineCapSquare || w <= 1.0 ? CAIRO_LINE_CAP_SQUARE
                                                                              : CAIRO_LINE_CAP_BUTT;
    }
    switch (pen.dash) {
        case Gdiplus::DashStyleDash: style.dashes = {3 * w, w}; break;
        case Gdiplus::DashStyleDot: style.dashes = {w, w}; break;
        case Gdiplus::DashStyleDashDot: style.dashes = {3 * w, w, w, w}; break;
        case Gdiplus::DashStyleDashDotDot: style.dashes = {3 * w, w, w, w, w, w}; break;
        default: break;
    }

    std::vector<Job> jobs(1);
    if (!cairoCaps) {
        std::vector<std::pair<CapPlace, CapPlace>> ends;
        FindEnds(geometry, ends);
        for (const auto& [start, end] : ends) {
            if (box.Contains(start.anchor)) AddCapJob(pen.startCap, start, w, pad / 4, jobs);
            if (box.Contains(end.anchor)) AddCapJob(pen.endCap, end, w, pad / 4, jobs);
        }
    }
    jobs[0].stroke = true;
    jobs[0].dashed = !solid;
    jobs[0].geometry = AllInside(geometry, box) ? std::move(geometry) : ClipForStroke(geometry, box);

    cairo_save(t.cr);
    cairo_set_antialias(t.cr, pen.antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    if (pen.rop2 == R2_COPYPEN) {
        SetSource(t.cr, pen.argb);
        RunJobs(t.cr, jobs, style);
    } else {
        Composite(t.surface, t.cr, t.width, t.height, jobs, style, pen.argb, pen.rop2);
    }
    cairo_new_path(t.cr);
    cairo_restore(t.cr);
}

void Fill(const Target& t, const CanvasBrush& brush, Geometry geometry, bool winding) {
    if (t.cr == nullptr || brush.rop2 == R2_NOP || geometry.empty() || !AllFinite(geometry)) return;
    const double pad = 65536.0 + 2.0 * (t.width + t.height);
    const Box box{-pad, -pad, t.width + pad, t.height + pad};
    std::vector<Job> jobs(1);
    jobs[0].winding = winding;
    jobs[0].geometry = AllInside(geometry, box) ? std::move(geometry) : ClipForFill(geometry, box);

    cairo_save(t.cr);
    cairo_set_antialias(t.cr, brush.antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    if (brush.rop2 == R2_COPYPEN) {
        SetSource(t.cr, brush.argb);
        RunJobs(t.cr, jobs, StrokeStyle());
    } else {
        Composite(t.surface, t.cr, t.width, t.height, jobs, StrokeStyle(), brush.argb, brush.rop2);
    }
    cairo_new_path(t.cr);
    cairo_restore(t.cr);
}

}  // namespace

CairoCanvas::CairoCanvas(int width, int height) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide ||
        static_cast<long long>(width) * height > kMaxPixels) {
        return;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    cairo_t* cr = cairo_create(surface);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return;
    }
    m_surface = surface;
    m_cr = cr;
    m_width = width;
    m_height = height;
    Clear(0xFFFFFFFFu);
}

CairoCanvas::~CairoCanvas() {
    if (m_cr != nullptr) cairo_destroy(m_cr);
    if (m_surface != nullptr) cairo_surface_destroy(m_surface);
}

void CairoCanvas::DrawLine(const CanvasPen& pen, const Gdiplus::PointF& a, const Gdiplus::PointF& b) {
    const Gdiplus::PointF pts[2] = {a, b};
    Stroke({m_surface, m_cr, m_width, m_height}, pen, PolylineGeometry(pts, 2, false));
}

void CairoCanvas::DrawPolyline(const CanvasPen& pen, const Gdiplus::PointF* points, size_t count, bool closed) {
    Stroke({m_surface, m_cr, m_width, m_height}, pen, PolylineGeometry(points, count, closed));
}

void CairoCanvas::DrawBeziers(const CanvasPen& pen, const Gdiplus::PointF* points, size_t count) {
    Stroke({m_surface, m_cr, m_width, m_height}, pen, BezierGeometry(points, count));
}

void CairoCanvas::DrawPath(const CanvasPen& pen, const Gdiplus::PointF* points, const BYTE* types, size_t count) {
    Stroke({m_surface, m_cr, m_width, m_height}, pen, PathGeometry(points, types, count));
}

void CairoCanvas::DrawRectangle(const CanvasPen& pen, const Gdiplus::RectF& rect) {
    Stroke({m_surface, m_cr, m_width, m_height}, pen, RectGeometry(rect));
}

void CairoCanvas::DrawEllipse(const CanvasPen& pen, const Gdiplus::RectF& rect) {
    Stroke({m_surface, m_cr, m_width, m_height}, pen, EllipseGeometry(rect));
}

void CairoCanvas::FillPath(const CanvasBrush& brush, const Gdiplus::PointF* points, const BYTE* types, size_t count,
                           Gdiplus::FillMode mode) {
    Fill({m_surface, m_cr, m_width, m_height}, brush, PathGeometry(points, types, count), mode == Gdiplus::FillModeWinding);
}

void CairoCanvas::FillRectangle(const CanvasBrush& brush, const Gdiplus::RectF& rect) {
    Fill({m_surface, m_cr, m_width, m_height}, brush, RectGeometry(rect), true);
}

void CairoCanvas::FillEllipse(const CanvasBrush& brush, const Gdiplus::RectF& rect) {
    Fill({m_surface, m_cr, m_width, m_height}, brush, EllipseGeometry(rect), true);
}

void CairoCanvas::DrawImage(const CanvasImage& image, const Gdiplus::PointF* dst, bool smooth) {
    if (m_cr == nullptr || dst == nullptr || image.argb == nullptr || image.width <= 0 || image.height <= 0 ||
        image.width > kMaxSide || image.height > kMaxSide) {
        return;
    }
    constexpr double kFar = 1e9;
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(dst[i].X) || !std::isfinite(dst[i].Y) || std::fabs(dst[i].X) > kFar ||
            std::fabs(dst[i].Y) > kFar) {
            return;
        }
    }
    // Image pixels to device units, and back for the pattern.
    const double w = image.width, h = image.height;
    cairo_matrix_t toDevice;
    cairo_matrix_init(&toDevice, (dst[1].X - dst[0].X) / w, (dst[1].Y - dst[0].Y) / w, (dst[2].X - dst[0].X) / h,
                      (dst[2].Y - dst[0].Y) / h, dst[0].X, dst[0].Y);
    cairo_matrix_t toImage = toDevice;
    if (cairo_matrix_invert(&toImage) != CAIRO_STATUS_SUCCESS) return;

    // The parallelogram, clipped near the surface so far-off corners stay
    // representable.
    const Pt p0 = ToPt(dst[0]), p1 = ToPt(dst[1]), p2 = ToPt(dst[2]);
    Geometry g;
    Move(g, p0);
    Line(g, p1);
    Line(g, p1 + p2 - p0);
    Line(g, p2);
    Close(g);
    const double pad = 16.0;
    const Box box{-pad, -pad, m_width + pad, m_height + pad};
    if (!AllInside(g, box)) g = ClipForFill(g, box);
    if (g.empty()) return;

    cairo_surface_t* src = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height);
    if (cairo_surface_status(src) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(src);
        return;
    }
    cairo_surface_flush(src);
    unsigned char* data = cairo_image_surface_get_data(src);
    const int stride = cairo_image_surface_get_stride(src);
    if (data == nullptr) {
        cairo_surface_destroy(src);
        return;
    }
    for (int y = 0; y < image.height; ++y) {
        const uint32_t* in = image.argb + static_cast<size_t>(y) * static_cast<size_t>(image.width);
        unsigned char* row = data + static_cast<size_t>(y) * stride;
        for (int x = 0; x < image.width; ++x) {
            const uint32_t px = Premultiply(in[x]);
            std::memcpy(row + static_cast<size_t>(x) * 4, &px, 4);
        }
    }
    cairo_surface_mark_dirty(src);

    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(src);
    cairo_pattern_set_matrix(pattern, &toImage);
    cairo_pattern_set_filter(pattern, smooth ? CAIRO_FILTER_GOOD : CAIRO_FILTER_NEAREST);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_save(m_cr);
    cairo_set_antialias(m_cr, smooth ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    EmitPath(m_cr, g);
    cairo_set_source(m_cr, pattern);
    cairo_fill(m_cr);
    cairo_restore(m_cr);
    cairo_pattern_destroy(pattern);
    cairo_surface_destroy(src);
}

void CairoCanvas::SetPixel(int x, int y, uint32_t argb) {
    if (m_surface == nullptr || x < 0 || y < 0 || x >= m_width || y >= m_height) return;
    cairo_surface_flush(m_surface);
    unsigned char* data = cairo_image_surface_get_data(m_surface);
    if (data == nullptr) return;
    const uint32_t px = Premultiply(argb);
    std::memcpy(data + static_cast<size_t>(y) * cairo_image_surface_get_stride(m_surface) + static_cast<size_t>(x) * 4,
                &px, 4);
    cairo_surface_mark_dirty_rectangle(m_surface, x, y, 1, 1);
}

void CairoCanvas::Clear(uint32_t argb) {
    if (m_cr == nullptr) return;
    cairo_save(m_cr);
    cairo_set_operator(m_cr, CAIRO_OPERATOR_SOURCE);
    SetSource(m_cr, argb);
    cairo_paint(m_cr);
    cairo_restore(m_cr);
}

uint32_t CairoCanvas::GetPixel(int x, int y) const {
    if (m_surface == nullptr || x < 0 || y < 0 || x >= m_width || y >= m_height) return 0;
    cairo_surface_flush(m_surface);
    const unsigned char* data = cairo_image_surface_get_data(m_surface);
    if (data == nullptr) return 0;
    uint32_t px;
    std::memcpy(&px,
                data + static_cast<size_t>(y) * cairo_image_surface_get_stride(m_surface) + static_cast<size_t>(x) * 4,
                4);
    return Unpremultiply(px);
}

bool CairoCanvas::WriteToPng(const std::string& path) const {
    if (m_surface == nullptr || path.empty()) return false;
    cairo_surface_flush(m_surface);
    return cairo_surface_write_to_png(m_surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

bool CairoCanvas::ReadPng(const std::string& path, int& width, int& height, std::vector<uint32_t>& pixels) {
    width = 0;
    height = 0;
    pixels.clear();
    if (path.empty()) return false;
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(png) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(png);
        return false;
    }
    // Whatever format the file decoded to, read it through an ARGB32 copy.
    const int w = cairo_image_surface_get_width(png);
    const int h = cairo_image_surface_get_height(png);
    cairo_surface_t* argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    bool ok = cairo_surface_status(argb) == CAIRO_STATUS_SUCCESS;
    if (ok) {
        cairo_t* cr = cairo_create(argb);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, png, 0, 0);
        cairo_paint(cr);
        ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(cr);
    }
    if (ok) {
        cairo_surface_flush(argb);
        const unsigned char* data = cairo_image_surface_get_data(argb);
        const int stride = cairo_image_surface_get_stride(argb);
        ok = data != nullptr;
        if (ok) {
            pixels.resize(static_cast<size_t>(w) * h);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    uint32_t px;
                    std::memcpy(&px, data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
                    pixels[static_cast<size_t>(y) * w + x] = Unpremultiply(px);
                }
            }
            width = w;
            height = h;
        }
    }
    cairo_surface_destroy(argb);
    cairo_surface_destroy(png);
    return ok;
}

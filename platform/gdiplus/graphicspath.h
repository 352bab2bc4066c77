// GDI+ paths: figures of lines and cubic Bezier segments, with the GDI+
// point types (0 start, 1 line, 3 Bezier, 0x20 marker, 0x80 close), arcs and
// ellipses as Bezier chains, flattening, bounds and hit tests, and an
// iterator over sub-paths, markers and runs of one point type.
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/gdiplus/matrix.h"

namespace Gdiplus {

class Pen;
class Graphics;
class FontFamily;
class StringFormat;

// The width of a pen in world units. Defined with the pen; the path engine
// only needs this one number from it.
float GdiplusPenWidth(const Pen* pen);

// The default flatness of Flatten: the largest distance allowed between a
// curve and the polyline that replaces it.
constexpr REAL FlatnessDefault = 0.25f;

// A copy of a path's points and types. Owns its arrays.
class MORVIK_API PathData {
public:
    PathData() = default;
    ~PathData() { Free(); }
    PathData(const PathData&) = delete;
    PathData& operator=(const PathData&) = delete;

    INT Count = 0;
    PointF* Points = nullptr;
    BYTE* Types = nullptr;

    // Releases the arrays (GetPathData calls it before refilling).
    void Free() {
        delete[] Points;
        delete[] Types;
        Points = nullptr;
        Types = nullptr;
        Count = 0;
    }
};

class MORVIK_API GraphicsPath {
public:
    explicit GraphicsPath(FillMode fillMode = FillModeAlternate);
    // A path from raw points and types. Malformed type sequences are repaired:
    // the first point of every figure becomes a start point, unknown kinds and
    // Bezier runs that do not complete a segment become lines.
    GraphicsPath(const PointF* points, const BYTE* types, INT count, FillMode fillMode = FillModeAlternate);
    GraphicsPath(const Point* points, const BYTE* types, INT count, FillMode fillMode = FillModeAlternate);

    GraphicsPath(const GraphicsPath&) = default;
    GraphicsPath& operator=(const GraphicsPath&) = default;
    GraphicsPath(GraphicsPath&&) noexcept = default;
    GraphicsPath& operator=(GraphicsPath&&) noexcept = default;

    GraphicsPath* Clone() const;

    Status Reset();
    FillMode GetFillMode() const { return m_fillMode; }
    Status SetFillMode(FillMode fillMode);

    INT GetPointCount() const { return static_cast<INT>(m_points.size()); }
    // Copy up to count points or types; InsufficientBuffer when count is
    // smaller than the point count (nothing is copied then).
    Status GetPathPoints(PointF* points, INT count) const;
    Status GetPathPoints(Point* points, INT count) const;
    Status GetPathTypes(BYTE* types, INT count) const;
    Status GetPathData(PathData* pathData) const;
    Status GetLastPoint(PointF* lastPoint) const;

    // Direct read access for the drawing side (no copy).
    const std::vector<PointF>& PathPoints() const { return m_points; }
    const std::vector<BYTE>& PathTypes() const { return m_types; }

    // The next Add starts a new figure.
    Status StartFigure();
    // Closes the current figure; the next Add starts a new one.
    Status CloseFigure();
    Status CloseAllFigures();
    // Marks the last point as the end of a marker section.
    Status SetMarker();
    Status ClearMarkers();
    // Reverses the order of the points (and so of the figures).
    Status Reverse();

    // Lines and Bezier chains join the current figure when it is open: the
    // new start point is connected by a line unless it equals the last point.
    Status AddLine(const PointF& pt1, const PointF& pt2);
    Status AddLine(REAL x1, REAL y1, REAL x2, REAL y2);
    Status AddLine(const Point& pt1, const Point& pt2);
    Status AddLine(INT x1, INT y1, INT x2, INT y2);
    Status AddLines(const PointF* points, INT count);
    Status AddLines(const Point* points, INT count);
    Status AddBezier(const PointF& pt1, const PointF& pt2, const PointF& pt3, const PointF& pt4);
    Status AddBezier(REAL x1, REAL y1, REAL x2, REAL y2, REAL x3, REAL y3, REAL x4, REAL y4);
    Status AddBezier(const Point& pt1, const Point& pt2, const Point& pt3, const Point& pt4);
    // count = 3k + 1 with k >= 1.
    Status AddBeziers(const PointF* points, INT count);
    Status AddBeziers(const Point* points, INT count);
    // The arc of the ellipse inscribed in the rectangle (Y its smaller y
    // edge), from startAngle by sweepAngle degrees, angles measured from +x
    // toward +y as seen from the ellipse's centre. Sweeps beyond +-360 are
    // cut to a full turn. At most four Bezier segments of at most 90 degrees.
    Status AddArc(const RectF& rect, REAL startAngle, REAL sweepAngle);
    Status AddArc(REAL x, REAL y, REAL width, REAL height, REAL startAngle, REAL sweepAngle);
    Status AddArc(const Rect& rect, REAL startAngle, REAL sweepAngle);
    Status AddArc(INT x, INT y, INT width, INT height, REAL startAngle, REAL sweepAngle);

    // Closed figures of their own.
    Status AddRectangle(const RectF& rect);
    Status AddRectangle(const Rect& rect);
    Status AddRectangles(const RectF* rects, INT count);
    Status AddRectangles(const Rect* rects, INT count);
    // Four Bezier segments starting at the end of the horizontal axis with
    // the larger x and running toward +y.
    Status AddEllipse(const RectF& rect);
    Status AddEllipse(REAL x, REAL y, REAL width, REAL height);
    Status AddEllipse(const Rect& rect);
    Status AddEllipse(INT x, INT y, INT width, INT height);
    Status AddPie(const RectF& rect, REAL startAngle, REAL sweepAngle);
    Status AddPie(REAL x, REAL y, REAL width, REAL height, REAL startAngle, REAL sweepAngle);
    // count >= 3.
    Status AddPolygon(const PointF* points, INT count);
    Status AddPolygon(const Point* points, INT count);
    // Appends the figures of another path; with connect, its first figure
    // continues this path's last figure when that one is open.
    Status AddPath(const GraphicsPath* addingPath, BOOL connect);

    // The outlines of a string as closed figures, in the family's face of
    // the style (FontStyle bits) with an em of emSize world units (y down),
    // laid out as GDI+ lays it out from the origin or in the layout
    // rectangle: each line's cell starts at the top of the block, its
    // baseline the face's cell ascent below; lines follow one another at the
    // face's line spacing and break at "\r\n", "\n" and "\r"; the format
    // (null: the default format) places lines across (Near, Center, Far: to
    // the right of, centred on, to the left of the origin, or within the
    // rectangle's width) and the block of lines down (the same against the
    // origin or within the rectangle's height), and a rectangle of positive
    // width wraps lines at blanks unless NoWrap is set. Advances include
    // the face's kerning pairs. Quadratic outline pieces become cubic
    // Bezier segments of the same curve. Blanks, control characters and
    // characters the face lacks add no figure (the latter keep the missing
    // glyph's advance). Lines are never clipped to the rectangle.
    // InvalidParameter for a null string or family, a length below -1 (-1:
    // up to the terminating zero), or an em size that is not a positive
    // number; FontFamilyNotFound for an unavailable family and
    // FontStyleNotFound for a style the family cannot give. A failure adds
    // nothing.
    Status AddString(const WCHAR* string, INT length, const FontFamily* family, INT style, REAL emSize,
                     const PointF& origin, const StringFormat* format);
    Status AddString(const WCHAR* string, INT length, const FontFamily* family, INT style, REAL emSize,
                     const RectF& layoutRect, const StringFormat* format);
    Status AddString(const WCHAR* string, INT length, const FontFamily* family, INT style, REAL emSize,
                     const Point& origin, const StringFormat* format);
    Status AddString(const WCHAR* string, INT length, const FontFamily* family, INT style, REAL emSize,
                     const Rect& layoutRect, const StringFormat* format);

    // A null matrix changes nothing.
    Status Transform(const Matrix* matrix);
    // Transforms by the matrix (if any), then replaces every Bezier segment
    // by a polyline within flatness of the curve. Line points, close flags
    // and markers stay on their points. A flatness that is not a number or
    // negative is InvalidParameter; a very small one is raised to a floor.
    Status Flatten(const Matrix* matrix = nullptr, REAL flatness = FlatnessDefault);

    // The tight bounds of the curves (not of their control points), after the
    // matrix; with a pen (or width), grown by half its width on every side.
    // An empty path gives the empty rectangle at the origin.
    Status GetBounds(RectF* bounds, const Matrix* matrix = nullptr, const Pen* pen = nullptr) const;
    Status GetBounds(RectF* bounds, const Matrix* matrix, REAL penWidth) const;
    Status GetBounds(Rect* bounds, const Matrix* matrix = nullptr, const Pen* pen = nullptr) const;

    // Whether the point lies inside the filled path (every figure closed),
    // under the fill mode. The graphics argument is not used: coordinates
    // are world coordinates.
    BOOL IsVisible(REAL x, REAL y, const Graphics* g = nullptr) const;
    BOOL IsVisible(const PointF& point, const Graphics* g = nullptr) const;
    BOOL IsVisible(INT x, INT y, const Graphics* g = nullptr) const;
    // Whether the point lies within half the pen width of the outline (closed
    // figures include their closing side). A width of 0 is a hairline of one
    // unit. A null pen answers FALSE.
    BOOL IsOutlineVisible(REAL x, REAL y, const Pen* pen, const Graphics* g = nullptr) const;
    BOOL IsOutlineVisible(const PointF& point, const Pen* pen, const Graphics* g = nullptr) const;
    BOOL IsOutlineVisible(REAL x, REAL y, REAL penWidth) const;

    // The status of the last failing call, then Ok again.
    Status GetLastStatus() const;

private:
    friend class GraphicsPathIterator;

    Status SetStatus(Status s) const;
    // Begins a new figure at p, or joins the open one (line to p unless p is
    // the last point).
    void MoveOrJoin(const PointF& p);
    void AppendArc(double x, double y, double w, double h, double start, double sweep, bool join);
    void Sanitize();

    std::vector<PointF> m_points;
    std::vector<BYTE> m_types;
    FillMode m_fillMode = FillModeAlternate;
    // True when the next Add must start a new figure.
    bool m_newFigure = true;
    mutable Status m_lastStatus = Ok;
};

// Walks a snapshot of a path taken at construction.
namespace detail {

// The most points one arc gives: a start and three per quarter turn.
constexpr int kMaxArcPoints = 13;

// The Bezier points of the arc that AddArc adds for the ellipse in the box
// (x, y, w, h) from start over sweep degrees, into out (room for
// kMaxArcPoints); returns how many. Arcs built by the hundred thousand take
// them without a path.
int ArcBezierPoints(double x, double y, double w, double h, double start, double sweep, PointF* out);

}  // namespace detail

class MORVIK_API GraphicsPathIterator {
public:
    explicit GraphicsPathIterator(const GraphicsPath* path);

    // The next figure: its first and last index and whether it is closed;
    // returns its point count, 0 after the last one.
    INT NextSubpath(INT* startIndex, INT* endIndex, BOOL* isClosed);
    // The same, copying the figure into path (which is reset first).
    INT NextSubpath(GraphicsPath* path, BOOL* isClosed);
    // Within the figure last returned by NextSubpath: the next run of
    // segments of one kind (its first index is the point the run starts
    // from); returns the run's point count, 0 at the figure's end.
    INT NextPathType(BYTE* pathType, INT* startIndex, INT* endIndex);
    // The next section ending at a marker (or at the path's end); returns its
    // point count, 0 after the last one.
    INT NextMarker(INT* startIndex, INT* endIndex);
    INT NextMarker(GraphicsPath* path);

    INT GetCount() const { return static_cast<INT>(m_points.size()); }
    INT GetSubpathCount() const;
    BOOL HasCurve() const;
    void Rewind();

    // Copies up to count points and types from the start; returns how many.
    INT Enumerate(PointF* points, BYTE* types, INT count);
    // Copies the points and types of [startIndex, endIndex]; returns how many
    // (0 for an invalid range).
    INT CopyData(PointF* points, BYTE* types, INT startIndex, INT endIndex);

private:
    std::vector<PointF> m_points;
    std::vector<BYTE> m_types;
    INT m_subpathPos = 0;
    INT m_markerPos = 0;
    // The figure last returned by NextSubpath and the position of
    // NextPathType within it.
    INT m_figStart = 0;
    INT m_figEnd = -1;
    INT m_typePos = 0;
};

}  // namespace Gdiplus

#include "morvik/afx/macros_restore.inc"

// Sample host: the shape library and the calibration library used the way an
// editor and its marking loop use them.
//
// It lays out one shape of every kind on a page of 4 x 4 cells, attached to a
// document and a view, and writes into the output folder:
//   picture.png, drawing.svg, drawing.dxf
//                 inputs it makes itself and reads back through the library
//   field.ucf     the calibration file of a mildly distorted scanner field
//   shapes.png    the page drawn through the cairo canvas
//   markdata.txt  every shape's pen-tagged polylines, in marking order
//   shapes.nc     the G-code export
//   shapes.xml    the XML export
//   galvo.txt     the mark data corrected through field.ucf: galvanometer
//                 values (0 to 65535) per pen
// It exits non-zero when any of them is missing or empty.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "morvik/afx/cobject.h"
#include <calib/calib.h>
#include "morvik/compose/combine.h"
#include "morvik/compose/filledshape.h"
#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/markdata.h"
#include "morvik/core/morvik.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/core/vectorfile.h"
#include "demo_parts.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/records.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/picture.h"
#include "morvik/shapes/polygon.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/shapes/screwline.h"

namespace {

namespace fs = std::filesystem;

// ---- the page -------------------------------------------------------------------
//
// Sixteen cells of 40 mm centred on the origin, which is the middle of the
// scan field. Every shape is built around the origin and then placed.

constexpr int kColumns = 4;
constexpr int kRows = 4;
constexpr float kCell = 40.0f;
constexpr float kMargin = 4.0f;
constexpr float kPageWidth = kColumns * kCell;
constexpr float kPageHeight = kRows * kCell;
constexpr float kPixelsPerMm = 6.0f;

// The centre of cell i, counted left to right and top to bottom.
tagPOINTF CellCentre(int i) {
    return {-kPageWidth / 2 + (static_cast<float>(i % kColumns) + 0.5f) * kCell,
            kPageHeight / 2 - (static_cast<float>(i / kColumns) + 0.5f) * kCell};
}

// A shape rectangle's centre (its Y is the top edge).
tagPOINTF CentreOf(const Gdiplus::RectF& r) { return {r.X + r.Width / 2, r.Y - r.Height / 2}; }

// Shrinks the shape (never enlarges it) to fit inside a cell's margins and
// moves its centre onto the cell's centre.
void PlaceInCell(CBaseShape* shape, int cell) {
    Gdiplus::RectF r;
    shape->GetRectangle(r);
    const float room = kCell - 2 * kMargin;
    const float scale = std::min({1.0f, room / std::max(r.Width, 1e-3f), room / std::max(r.Height, 1e-3f)});
    if (scale < 1.0f) {
        shape->Zoom(CentreOf(r), scale, scale);
        shape->GetRectangle(r);
    }
    const tagPOINTF from = CentreOf(r), to = CellCentre(cell);
    shape->Move(to.x - from.x, to.y - from.y);
}

// ---- the basic shapes -----------------------------------------------------------

CPolyLine* MakePolyline(const std::vector<tagPOINTF>& pts, bool closed, unsigned char pen) {
    auto* p = new CPolyLine;
    p->arrPoint = pts;
    if (closed) p->ClosePloyLine();
    p->SetPen(pen);
    return p;
}

BEZIER_4POINTF_DRAW Segment(int type, tagPOINTF a, tagPOINTF b, tagPOINTF c, tagPOINTF d) {
    BEZIER_4POINTF_DRAW s;
    s.LineType = type;
    s.p1 = a;
    s.p2 = b;
    s.p3 = c;
    s.p4 = d;
    return s;
}

// A slot outline: a straight edge, a cubic bulge and a half-circle arc back.
CBezierCurve* MakeSlotCurve(unsigned char pen) {
    auto* c = new CBezierCurve;
    c->arrSegment.push_back(Segment(1, {-8, -6}, {-8, -6}, {6, -6}, {6, -6}));
    c->arrSegment.push_back(Segment(0, {6, -6}, {12, -2}, {12, 4}, {6, 6}));
    c->arrSegment.push_back(Segment(1, {6, 6}, {6, 6}, {-8, 6}, {-8, 6}));
    CBezierCurve::AppendArcThrough3Points(c->arrSegment, {-8, 6}, {-14, 0}, {-8, -6});
    c->bClosed = 1;
    c->SetPen(pen);
    return c;
}

CBaseShape* MakeCircle() {
    auto* c = new CCircle;
    c->InitCircle(0.0f, 0.0f, 0.0f, 14.0f);
    c->SetPen(1);
    return c;
}

// An ellipse cut to the arc from 30 to 300 degrees: a pie, closed through
// the centre.
CBaseShape* MakeEllipseArc() {
    auto* e = new CEllipseArc;
    e->InitArcPath(Gdiplus::RectF(-16.0f, -10.0f, 32.0f, 20.0f), false);  // Y: the lower edge here
    e->SetArcDegree(30.0, 300.0);
    e->SetPen(2);
    return e;
}

CBaseShape* MakeRoundedRectangle() {
    auto* r = new CRectangle;
    r->InitRectangle(Gdiplus::RectF(-15.0f, 10.0f, 30.0f, 20.0f));
    r->SetRound(40, 40, 40, 40);
    r->SetPen(3);
    return r;
}

// A regular pentagon whose inner ring is pulled in: a five-pointed star.
CBaseShape* MakeStar() {
    auto* star = new CPolygon;
    star->InitPolygon(Gdiplus::RectF(-14.0f, 14.0f, 28.0f, 28.0f), 5);
    star->DoDrag(1, 0.47, 0.0);
    star->SetPen(4);
    return star;
}

CBaseShape* MakeSpiral() {
    auto* spiral = new CScrewLine;
    SCREW_PAR par;
    par.m_fMinRadius = 2.0f;
    par.m_fMinGap = par.m_fMaxGap = 1.2f;
    Gdiplus::RectF field(-14.0f, 14.0f, 28.0f, 28.0f);
    spiral->SetParam(par, &field);
    spiral->SetPen(5);
    return spiral;
}

// A group of the plain kinds: a zigzag polyline, a curve and three points.
CBaseShape* MakeGroup() {
    auto* group = new CGroupShape;
    std::vector<CBaseShape*>& children = group->GetChildren();
    children.push_back(MakePolyline({{-14, 14}, {-9, 8}, {-4, 14}, {1, 8}, {6, 14}, {11, 8}}, false, 0));
    children.push_back(MakeSlotCurve(6));
    for (float x : {-8.0f, 0.0f, 8.0f}) {
        auto* point = new CPoints;
        point->InitPoint({x, -12.0f});
        point->SetPen(7);
        children.push_back(point);
    }
    return group;
}

// A compound shape: the two outlines of a triangular frame, one object.
CBaseShape* MakeCompound() {
    auto* compound = new CCombineShape;
    compound->GetChildren().push_back(MakePolyline({{-15, -12}, {15, -12}, {0, 14}}, true, 1));
    compound->GetChildren().push_back(MakePolyline({{-7, -7}, {7, -7}, {0, 5}}, true, 1));
    compound->SetPen(1);
    return compound;
}

// Fills the shape's children with one hatch set.
void Fill(CFilledShape* fill, const SHAPE_FILLER_PARAM& set) {
    FILLED_PARS par;
    par.fillParams[0] = set;
    par.fillParams[0].bEnable = 1;
    fill->FillShape(par);
}

// A square with a round hole, cross-hatched at 45 degrees: no hatch line
// crosses the hole.
CBaseShape* MakeLineFill() {
    auto* fill = new CFilledShape;
    fill->GetChildren().push_back(MakePolyline({{-14, -14}, {14, -14}, {14, 14}, {-14, 14}}, true, 2));
    auto* hole = new CCircle;
    hole->InitCircle(0.0f, 0.0f, 0.0f, 8.0f);
    hole->SetPen(2);
    fill->GetChildren().push_back(hole);
    SHAPE_FILLER_PARAM set;
    set.nFillType = 3;  // separate lines
    set.fLineSpacing = 1.0;
    set.fAngle = 45.0;
    set.bCrossFill = 1;
    set.nPenNum = 8;
    Fill(fill, set);
    return fill;
}

// An ellipse filled with rings offset inward.
CBaseShape* MakeConcentricFill() {
    auto* fill = new CFilledShape;
    auto* ellipse = new CEllipseArc;
    ellipse->InitArcPath(Gdiplus::RectF(-15.0f, -11.0f, 30.0f, 22.0f), false);
    ellipse->SetPen(3);
    fill->GetChildren().push_back(ellipse);
    SHAPE_FILLER_PARAM set;
    set.nFillType = 0;  // concentric
    set.fLineSpacing = 1.5;
    set.nPenNum = 9;
    Fill(fill, set);
    return fill;
}

// ---- inputs the demo makes and reads back ------------------------------------------

// A 64 x 64 shaded ball on white, drawn through the platform's raster canvas.
bool WriteSamplePicture(const std::string& path) {
    constexpr int kSize = 64;
    CMemoryDC dc(kSize, kSize);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const double dx = (x - 31.5) / 30.0, dy = (y - 31.5) / 30.0, r2 = dx * dx + dy * dy;
            if (r2 > 1.0) continue;
            // Light from the upper left.
            const double light = std::clamp(0.55 * (-dx - dy) / std::sqrt(2.0) + 0.7 * std::sqrt(1.0 - r2), 0.0, 1.0);
            const auto v = static_cast<BYTE>(30 + 200 * light);
            dc.SetPixel(x, y, RGB(v, v, v));
        }
    }
    return dc.WriteToPng(path);
}

CBaseShape* MakePicture(const std::string& file) {
    auto* pic = new CPicture;
    pic->SetFilename(CString(Utf8ToWide(file).c_str()));
    if (pic->InitPicture() != 1) {
        delete pic;
        return nullptr;
    }
    PICTURE_PAR par;
    pic->GetPicture(par);
    par.bBinary = 1;  // marked as dithered dots
    pic->SetPicture(par);
    pic->SetPen(10);
    return pic;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

// A frame, a circle and a closed path with a cubic side, in SVG user units
// (millimetres to the reader; SVG's y grows downward).
bool WriteSampleSvg(const std::string& path) {
    return WriteText(path,
                     "<?xml version=\"1.0\"?>\n"
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"30\" height=\"24\">\n"
                     "  <rect x=\"0\" y=\"0\" width=\"30\" height=\"24\"/>\n"
                     "  <circle cx=\"9\" cy=\"12\" r=\"6\"/>\n"
                     "  <path d=\"M 18 4 L 27 4 C 27 12 22 20 18 20 Z\"/>\n"
                     "</svg>\n");
}

// Two layers: an outline with one bulged (half-circle) side, and a circle
// and an arc.
bool WriteSampleDxf(const std::string& path) {
    std::string dxf;
    const auto pairs = [&dxf](std::initializer_list<std::pair<int, const char*>> list) {
        for (const auto& [code, value] : list) dxf += std::to_string(code) + "\n" + value + "\n";
    };
    pairs({{0, "SECTION"}, {2, "ENTITIES"}});
    pairs({{0, "LWPOLYLINE"}, {8, "OUTLINE"}, {90, "4"}, {70, "1"}, {10, "0"}, {20, "0"}, {10, "24"}, {20, "0"},
           {42, "1"}, {10, "24"}, {20, "16"}, {10, "0"}, {20, "16"}});
    pairs({{0, "CIRCLE"}, {8, "HOLES"}, {10, "8"}, {20, "8"}, {40, "4"}});
    pairs({{0, "ARC"}, {8, "HOLES"}, {10, "24"}, {20, "8"}, {40, "4"}, {50, "90"}, {51, "270"}});
    pairs({{0, "ENDSEC"}, {0, "EOF"}});
    return WriteText(path, dxf);
}

// Reads a vector file through the library's import entry, centred on the origin.
CBaseShape* Import(const std::string& path) {
    CBaseShape* shape = nullptr;
    const std::wstring wide = Utf8ToWide(path);
    if (!LoadVectorFileCore(wide.c_str(), &shape, true)) return nullptr;
    return shape;
}

// ---- the document ------------------------------------------------------------------

// Builds the shapes into their cells; false when an input could not
// be made or read back.
bool BuildPage(CBaseDoc& doc, CBaseView& view, const std::string& dir) {
    const std::string picture = dir + "/picture.png", svg = dir + "/drawing.svg", dxf = dir + "/drawing.dxf";
    if (!WriteSamplePicture(picture) || !WriteSampleSvg(svg) || !WriteSampleDxf(dxf)) return false;
    CBaseShape* const shapes[] = {
        MakeCircle(),   MakeEllipseArc(), MakeRoundedRectangle(), MakeStar(),
        MakeSpiral(),   MakePicture(picture), MakeGroup(),        MakeCompound(),
        MakeLineFill(), MakeConcentricFill(), Import(svg),        Import(dxf),
    };
    bool all = true;
    int cell = 0;
    for (CBaseShape* s : shapes) {
        if (s == nullptr) {
            all = false;
            ++cell;
            continue;
        }
        doc.AddShape(s);
        s->SetDocView(&doc, &view);
        PlaceInCell(s, cell++);
    }
    std::vector<CBaseShape*> more = MakeDemoBarcodes();
    for (CBaseShape* s : MakeDemoTexts()) more.push_back(s);
    for (CBaseShape* s : more) {
        doc.AddShape(s);
        s->SetDocView(&doc, &view);
        PlaceInCell(s, cell++);
    }
    return all;
}

// Containers leave their children to their owner: free them before the
// document deletes the top-level shapes.
void FreeChildren(CBaseDoc& doc) {
    for (CBaseShape* s : doc.GetShapeList()) s->FreeShapePtr();
}

// ---- marking ---------------------------------------------------------------------------

// What the marking loop sends for one shape: its paths in marking order.
struct MarkedShape {
    std::string caption;
    bool ok = false;
    Gdiplus::RectF rect;
    std::vector<tagPathData> paths;
};

// Asks every shape for its mark data as a marking loop does (prepare, get,
// clean up) and puts outlines and hatch in the order the shape asks for.
std::vector<MarkedShape> CollectMarkData(CBaseDoc& doc) {
    std::vector<MarkedShape> out;
    tagMarkCtlData ctl;
    int index = 0;
    for (CBaseShape* s : doc.GetShapeList()) {
        s->PrepareBeforeMark(ctl, index);
        tagMarkDataPar data;
        MarkedShape m;
        m.ok = s->GetMarkData(data, &ctl);
        s->CleanupAfterMark(index, index + 1, ctl);
        ++index;
        m.caption = WideToUtf8(std::wstring(s->GetCaption().GetString()));
        m.rect = data.rect;
        // nReserved2: outlines (arrPaths) before the hatch (arrPaths2) or after it.
        std::vector<tagPathData>& first = data.nReserved2 != 0 ? data.arrPaths : data.arrPaths2;
        std::vector<tagPathData>& second = data.nReserved2 != 0 ? data.arrPaths2 : data.arrPaths;
        m.paths = first;
        m.paths.insert(m.paths.end(), second.begin(), second.end());
        out.push_back(std::move(m));
    }
    return out;
}

bool WriteMarkData(const std::vector<MarkedShape>& shapes, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    for (const MarkedShape& s : shapes) {
        std::fprintf(f, "shape %s ok=%d rect=(%.3f %.3f %.3f %.3f)\n", s.caption.c_str(), s.ok ? 1 : 0, s.rect.X,
                     s.rect.Y, s.rect.Width, s.rect.Height);
        for (const tagPathData& pd : s.paths) {
            std::fprintf(f, "  pen %d: %zu polyline(s)\n", pd.nPenIndex, pd.arrPolylines.size());
            for (const auto& line : pd.arrPolylines) {
                std::fprintf(f, "   ");
                for (const tagPOINTF& p : line) std::fprintf(f, " (%.3f %.3f)", p.x, p.y);
                std::fprintf(f, "\n");
            }
        }
    }
    return std::fclose(f) == 0;
}

// ---- the scan field -----------------------------------------------------------------------

// A position on the scan field in millimetres.
struct FieldMm {
    double x;
    double y;
};

double Distance(FieldMm a, FieldMm b) { return std::hypot(a.x - b.x, a.y - b.y); }

// Where the scanner of this demo really puts a mark that it is commanded to
// put at c: a slight barrel, a shear and an offset; under a millimetre
// anywhere on the page.
FieldMm FieldDistortion(FieldMm c) {
    const double barrel = 1.0 + 6e-7 * (c.x * c.x + c.y * c.y);
    return {c.x * barrel + 0.003 * c.y + 0.15, c.y * barrel - 0.1};
}

constexpr double kWorkSize = 180.0;  // field of the lens, mm
constexpr double kValSize = 160.0;   // the measured calibration pattern, mm

// The galvanometer command in millimetres from the field centre.
FieldMm CommandMm(const double galvo[2]) {
    const double unitsPerMm = 65535.0 / kWorkSize;
    return {(galvo[0] - 32768.0) / unitsPerMm, (galvo[1] - 32768.0) / unitsPerMm};
}

// An n x n lattice over the pattern, top row first, as the four numbers per
// point (nominal x, y, measured x, y) that the calibration file takes; each
// point is measured where `landing` says the scanner puts it.
template <class Landing>
std::vector<double> MeasurePattern(int n, Landing landing) {
    std::vector<double> out;
    const double half = kValSize / 2, step = kValSize / (n - 1);
    for (int row = 0; row < n; ++row) {
        for (int col = 0; col < n; ++col) {
            const FieldMm nominal{-half + col * step, half - row * step};
            const FieldMm m = landing(nominal);
            out.insert(out.end(), {nominal.x, nominal.y, m.x, m.y});
        }
    }
    return out;
}

// A calibration run, written through calib's own functions: the 3 x 3
// pattern marked without correction and measured, then a 9 x 9 pattern
// marked through that first correction and measured again.
bool WriteFieldFile(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    CalibParam rec;
    rec.WorkSize = kWorkSize;
    rec.ValSize = kValSize;
    const std::vector<double> coarse = MeasurePattern(3, FieldDistortion);
    rec.Grid[0].GridSize = 3;
    rec.Grid[0].Points.clear();
    for (size_t i = 0; i < coarse.size(); i += 4)
        rec.Grid[0].Points.push_back({coarse[i], coarse[i + 1], coarse[i + 2], coarse[i + 3]});
    if (!saveUcf(&wide, &rec) || !InitCalib(&wide, &rec)) return false;

    const std::vector<double> fine = MeasurePattern(9, [&rec](FieldMm nominal) {
        double galvo[2] = {0.0, 0.0};
        CalibPoint(&rec, nominal.x, nominal.y, galvo);
        return FieldDistortion(CommandMm(galvo));
    });
    return setCalibPnts(&wide, 2, fine.data());  // slot 2 holds the 9 x 9 grid
}

struct GalvoSummary {
    size_t points = 0;
    size_t failed = 0;
    double worstBefore = 0.0;  // mm a mark would land off without correction
    double worstAfter = 0.0;   // and with it
};

// What the marking loop does last: every point through the field correction,
// the galvanometer values written per pen.
bool WriteGalvo(const std::vector<MarkedShape>& shapes, const std::string& ucf, const std::string& path,
                GalvoSummary& sum) {
    CalibParam rec;
    const std::wstring wide = Utf8ToWide(ucf);
    if (!InitCalib(&wide, &rec)) return false;

    std::map<int, std::vector<std::vector<std::pair<int, int>>>> byPen;
    for (const MarkedShape& s : shapes) {
        for (const tagPathData& pd : s.paths) {
            for (const auto& line : pd.arrPolylines) {
                std::vector<std::pair<int, int>>& out = byPen[pd.nPenIndex].emplace_back();
                for (const tagPOINTF& p : line) {
                    double galvo[2] = {0.0, 0.0};
                    if (!CalibPoint(&rec, p.x, p.y, galvo)) ++sum.failed;
                    out.emplace_back(static_cast<int>(std::lround(galvo[0])), static_cast<int>(std::lround(galvo[1])));
                    ++sum.points;
                    // Where the mark lands, with and without the correction.
                    const FieldMm nominal{p.x, p.y};
                    sum.worstBefore = std::max(sum.worstBefore, Distance(FieldDistortion(nominal), nominal));
                    sum.worstAfter = std::max(sum.worstAfter, Distance(FieldDistortion(CommandMm(galvo)), nominal));
                }
            }
        }
    }
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    std::fprintf(f, "# galvanometer values (x y, 0 to 65535) corrected through %s\n", ucf.c_str());
    for (const auto& [pen, lines] : byPen) {
        std::fprintf(f, "pen %d: %zu polyline(s)\n", pen, lines.size());
        for (const auto& line : lines) {
            std::fprintf(f, "  %zu:", line.size());
            for (const auto& [x, y] : line) std::fprintf(f, " %d,%d", x, y);
            std::fprintf(f, "\n");
        }
    }
    return std::fclose(f) == 0;
}

// ---- exports and the picture of the page --------------------------------------------------

bool WriteGCode(CBaseDoc& doc, const std::string& path) {
    GCodeContext ctx;
    ctx.file.open(path, std::ios::binary);
    if (!ctx.file) return false;
    ctx.bGCode = 1;
    // Nowhere yet: the first move of the job is always written.
    ctx.fLastX = ctx.fLastY = ctx.fLastZ = std::numeric_limits<float>::quiet_NaN();
    ctx.WriteLine(L"G21\nG90\n");
    for (CBaseShape* s : doc.GetShapeList()) s->ExportGCodeToBuff(ctx);
    ctx.WriteLine(L"M2\n");
    ctx.file.close();
    return !ctx.file.fail();
}

bool WriteXml(CBaseDoc& doc, const std::string& path) {
    tagXmlBuff buff;
    buff.file.open(path, std::ios::binary);
    if (!buff.file) return false;
    buff.WriteToFile(L"<?xml version=\"1.0\"?>\r\n<Document>\r\n");
    for (CBaseShape* s : doc.GetShapeList()) {
        s->ExportXmlToBuff(buff);
        buff.WriteToFile(L"\r\n");
    }
    buff.WriteToFile(L"</Document>\r\n");
    buff.file.close();
    return !buff.file.fail();
}

// Draws the page as an editor's view does: every shape through the full
// Draw on one graphics, in its own pen colour. (The short Draw(dc, ...) is a
// convenience that not every kind has: the compound shape does not.)
bool WritePng(CBaseDoc& doc, CBaseView& view, const std::string& path) {
    const CSize size = view.GetClientSize();
    CMemoryDC dc(size.cx, size.cy);
    Gdiplus::Graphics g(&dc);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    for (CBaseShape* s : doc.GetShapeList()) s->Draw(&dc, &g, s->GetPenColor(-1), 0, 0, 0, 0, 0.0f, 0.0f);
    return dc.WriteToPng(path);
}

void PrintShapeClasses() {
    std::printf("shape classes:");
    for (const CRuntimeClass* rc : CRuntimeClass::AllClasses()) {
        if (rc->m_wSchema != AFX_NO_SCHEMA && rc->IsDerivedFrom(RUNTIME_CLASS(CBaseShape))) {
            std::printf(" %s", rc->m_lpszClassName);
        }
    }
    std::printf("\n");
}

bool NonEmptyFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && fs::file_size(path, ec) > 0 && !ec;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "demo-output";
    std::error_code ec;
    fs::create_directories(dir, ec);

    std::printf("Morvik %s\n", MorvikVersion());
    PrintShapeClasses();

    CBaseDoc doc;
    CBaseView view(&doc);
    view.SetZoom(kPixelsPerMm);
    view.SetOrigin({-kPageWidth / 2, kPageHeight / 2});  // the page's top-left corner
    view.SetClientSize(static_cast<int>(kPageWidth * kPixelsPerMm), static_cast<int>(kPageHeight * kPixelsPerMm));
    bool built = BuildPage(doc, view, dir);
    std::printf("page: %zu shapes in %d x %d cells of %.0f mm%s\n", doc.GetShapeList().size(), kColumns, kRows,
                kCell, built ? "" : " (some inputs could not be made or read)");

    const std::vector<MarkedShape> marked = CollectMarkData(doc);
    size_t polylines = 0;
    for (const MarkedShape& m : marked)
        for (const tagPathData& pd : m.paths) polylines += pd.arrPolylines.size();

    bool all = built;
    all = WriteMarkData(marked, dir + "/markdata.txt") && all;
    all = DemoVarText(dir) && all;
    all = WriteGCode(doc, dir + "/shapes.nc") && all;
    all = WriteXml(doc, dir + "/shapes.xml") && all;
    all = WritePng(doc, view, dir + "/shapes.png") && all;
    const std::string ucf = dir + "/field.ucf";
    GalvoSummary galvo;
    all = WriteFieldFile(ucf) && WriteGalvo(marked, ucf, dir + "/galvo.txt", galvo) && galvo.failed == 0 && all;
    FreeChildren(doc);

    std::printf("mark data: %zu polylines; field correction of %zu points (%zu failed): a mark lands up to "
                "%.3f mm off uncorrected, %.3f mm corrected\n",
                polylines, galvo.points, galvo.failed, galvo.worstBefore, galvo.worstAfter);
    for (const char* name : {"picture.png", "drawing.svg", "drawing.dxf", "field.ucf", "shapes.png", "markdata.txt",
                             "shapes.nc", "shapes.xml", "galvo.txt"}) {
        const std::string path = dir + "/" + name;
        const bool ok = NonEmptyFile(path);
        std::printf("%s %s\n", ok ? "wrote" : "missing or empty:", path.c_str());
        all = all && ok;
    }
    return all ? 0 : 1;
}

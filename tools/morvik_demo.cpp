// Sample host: uses the shape library as an editor and marking loop would.
// It builds a small document, attaches it to a document and a view, asks
// every shape for its mark data, and writes next to each other:
//   markdata.txt  the pen-tagged polylines the scanner would draw
//   shapes.nc     the G-code export
//   shapes.xml    the XML export
//   shapes.png    the document drawn through the cairo canvas
#include <sys/stat.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "afx/cobject.h"
#include "core/bezier.h"
#include "core/exportsink.h"
#include "core/markdata.h"
#include "core/morvik.h"
#include "core/points.h"
#include "core/polyline.h"
#include "gdi/dc.h"
#include "halder/basedoc.h"
#include "halder/records.h"

namespace {

CPolyLine* MakePolyline(const std::vector<tagPOINTF>& pts, bool closed, unsigned char pen) {
    auto* p = new CPolyLine;
    p->arrPoint = pts;
    if (closed) {
        p->ClosePloyLine();
    }
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
CBezierCurve* MakeCurve() {
    auto* c = new CBezierCurve;
    c->arrSegment.push_back(Segment(1, {8, 8}, {8, 8}, {24, 8}, {24, 8}));
    c->arrSegment.push_back(Segment(0, {24, 8}, {30, 12}, {30, 20}, {24, 24}));
    c->arrSegment.push_back(Segment(1, {24, 24}, {24, 24}, {8, 24}, {8, 24}));
    CBezierCurve::AppendArcThrough3Points(c->arrSegment, {8, 24}, {0, 16}, {8, 8});
    c->bClosed = 1;
    c->SetPen(2);
    return c;
}

void BuildDocument(CBaseDoc& doc) {
    doc.AddShape(MakePolyline({{0, 0}, {50, 0}, {50, 40}, {0, 40}}, true, 0));
    doc.AddShape(MakePolyline({{34, 10}, {38, 30}, {42, 10}, {46, 30}}, false, 1));
    doc.AddShape(MakeCurve());
    for (tagPOINTF p : {tagPOINTF{36, 34}, tagPOINTF{40, 34}, tagPOINTF{44, 34}}) {
        auto* pt = new CPoints;
        pt->InitPoint(p);
        pt->SetPen(3);
        doc.AddShape(pt);
    }
}

bool WriteMarkData(CBaseDoc& doc, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    tagMarkCtlData ctl;
    for (CBaseShape* s : doc.GetShapeList()) {
        s->PrepareBeforeMark(ctl, 0);
        tagMarkDataPar data;
        bool ok = s->GetMarkData(data, &ctl);
        s->CleanupAfterMark(0, 1, ctl);
        std::string caption = WideToUtf8(std::wstring(s->GetCaption().GetString()));
        std::fprintf(f, "shape %s ok=%d rect=(%.3f %.3f %.3f %.3f)\n", caption.c_str(), ok ? 1 : 0, data.rect.X,
                     data.rect.Y, data.rect.Width, data.rect.Height);
        for (const tagPathData& pd : data.arrPaths) {
            std::fprintf(f, "  pen %d: %zu polyline(s)\n", pd.nPenIndex, pd.arrPolylines.size());
            for (const auto& line : pd.arrPolylines) {
                std::fprintf(f, "   ");
                for (const tagPOINTF& p : line) {
                    std::fprintf(f, " (%.3f %.3f)", p.x, p.y);
                }
                std::fprintf(f, "\n");
            }
        }
    }
    std::fclose(f);
    return true;
}

bool WriteGCode(CBaseDoc& doc, const std::string& path) {
    GCodeContext ctx;
    ctx.file.open(path, std::ios::binary);
    if (!ctx.file) {
        return false;
    }
    ctx.bGCode = 1;
    // Nowhere yet: the first move of the job is always written.
    ctx.fLastX = ctx.fLastY = ctx.fLastZ = std::numeric_limits<float>::quiet_NaN();
    ctx.WriteLine(L"G21\nG90\n");
    for (CBaseShape* s : doc.GetShapeList()) {
        s->ExportGCodeToBuff(ctx);
    }
    ctx.WriteLine(L"M2\n");
    return static_cast<bool>(ctx.file);
}

bool WriteXml(CBaseDoc& doc, const std::string& path) {
    tagXmlBuff buff;
    buff.file.open(path, std::ios::binary);
    if (!buff.file) {
        return false;
    }
    buff.WriteToFile(L"<?xml version=\"1.0\"?>\r\n<Document>\r\n");
    for (CBaseShape* s : doc.GetShapeList()) {
        s->ExportXmlToBuff(buff);
        buff.WriteToFile(L"\r\n");
    }
    buff.WriteToFile(L"</Document>\r\n");
    return static_cast<bool>(buff.file);
}

bool WritePng(CBaseDoc& doc, CBaseView& view, const std::string& path) {
    CSize size = view.GetClientSize();
    CMemoryDC dc(size.cx, size.cy);
    for (CBaseShape* s : doc.GetShapeList()) {
        s->Draw(&dc, 0, 0, 0, 0);
    }
    return dc.WriteToPng(path);
}

}  // namespace

int main(int argc, char** argv) {
    std::string outDir = argc > 1 ? argv[1] : "demo-output";
    mkdir(outDir.c_str(), 0777);

    std::printf("Morvik %s\n", MorvikVersion());
    std::printf("shape classes:");
    for (const CRuntimeClass* rc : CRuntimeClass::AllClasses()) {
        if (rc->m_wSchema != AFX_NO_SCHEMA && rc->IsDerivedFrom(RUNTIME_CLASS(CBaseShape))) {
            std::printf(" %s", rc->m_lpszClassName);
        }
    }
    std::printf("\n");

    CBaseDoc doc;
    CBaseView view(&doc);
    view.SetZoom(8.0f);  // pixels per millimetre
    view.SetOrigin({-5.0f, 45.0f});
    view.SetClientSize(480, 400);
    BuildDocument(doc);
    for (CBaseShape* s : doc.GetShapeList()) {
        s->SetDocView(&doc, &view);
    }

    struct Output {
        const char* name;
        bool ok;
    };
    Output outputs[] = {
        {"markdata.txt", WriteMarkData(doc, outDir + "/markdata.txt")},
        {"shapes.nc", WriteGCode(doc, outDir + "/shapes.nc")},
        {"shapes.xml", WriteXml(doc, outDir + "/shapes.xml")},
        {"shapes.png", WritePng(doc, view, outDir + "/shapes.png")},
    };
    bool all = true;
    for (const Output& o : outputs) {
        std::printf("%s %s/%s\n", o.ok ? "wrote" : "FAILED", outDir.c_str(), o.name);
        all = all && o.ok;
    }
    return all ? 0 : 1;
}

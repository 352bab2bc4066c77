// One shape of every kind, built on data without symmetry (points off the
// axes, unequal sides, turns off the quarter turns), for the properties that
// every kind must hold. The text kinds need "DejaVu Sans" and a run log.
#ifndef TESTS_SUPPORT_EVERY_KIND_H
#define TESTS_SUPPORT_EVERY_KIND_H

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "morvik/compose/combine.h"
#include "morvik/compose/filledshape.h"
#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/morvik.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/core/srifile.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/controls.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/picture.h"
#include "morvik/shapes/polygon.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/shapes/screwline.h"
#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"
#include "support/temp_dir.h"

namespace testsupport {

struct ShapeKind {
    std::string name;
    std::function<CBaseShape*()> make;
};

inline CPolyLine* PolyOf(std::vector<tagPOINTF> pts, bool closed) {
    auto* p = new CPolyLine();
    p->arrPoint = std::move(pts);
    if (closed) p->ClosePloyLine();
    return p;
}

// A 3 x 2 grey 24-bit BMP at 254 dpi (0.1 mm a pixel), its rows padded.
inline std::string AsymmetricBmp(const TempDir& dir) {
    std::vector<uint8_t> b{'B', 'M'};
    for (uint32_t v : {78u, 0u, 54u, 40u, 3u, 2u, 0x180001u, 0u, 24u, 10000u, 10000u, 0u, 0u})
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    for (int row = 0; row < 2; ++row) {
        for (int i = 0; i < 3; ++i) b.insert(b.end(), 3, uint8_t(row * 3 + i == 1 ? 250 : 20 * (row * 3 + i)));
        b.insert(b.end(), 3, 0);  // each row padded to four bytes
    }
    const std::string path = dir.File("every.bmp");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
}

inline CFonts* TextOf(const wchar_t* text, int type, const CString& face, bool filled) {
    auto* t = new CFonts();
    FONTS_PAR fonts;
    fonts.dHeight = 4.5;
    CODEBAR_PAR codebar;
    codebar.nCodeType = 20;  // Code 128
    VARTEXT_PAR var;
    t->fontspos = {2.5f, -1.25f};
    t->SetFonts(CString(text), type, face, fonts, codebar, var, 1, 0, false);
    if (filled) {
        FILLED_PARS fill;
        fill.fillParams[0].nFillType = 3;
        fill.fillParams[0].fLineSpacing = 0.4;
        fill.fillParams[0].fAngle = 17;
        fill.fillParams[0].nPenNum = 5;
        t->SetFill(fill, false);
    }
    return t;
}

// Every kind of shape a document holds. The picture's file lives in dir.
inline std::vector<ShapeKind> EveryKind(const TempDir& dir) {
    const std::vector<tagPOINTF> zigzag{{0.5f, 1.0f}, {7.25f, -3.0f}, {12.0f, 4.5f}, {2.0f, 6.0f}};
    const std::string bmp = AsymmetricBmp(dir);
    auto circle = [](float x, float y, float r) {
        auto* c = new CCircle();
        c->InitCircle(x, y, 0, r);
        return c;
    };
    return {
        {"polyline", [=] { return PolyOf(zigzag, false); }},
        {"closed polyline", [=] { return PolyOf(zigzag, true); }},
        {"curve", [] {
             auto* c = new CBezierCurve();
             BEZIER_4POINTF_DRAW line;
             line.p1 = line.p2 = {-4.0f, 1.0f};
             line.p3 = line.p4 = {1.0f, 0.5f};
             line.LineType = 1;
             c->arrSegment.push_back(line);
             CBezierCurve::AppendArcThrough3Points(c->arrSegment, {1.0f, 0.5f}, {3.0f, 3.5f}, {6.0f, 1.0f});
             return c;
         }},
        {"point", [] { auto* p = new CPoints(); p->InitPoint({3.25f, -1.5f}); return p; }},
        {"circle", [=] { return circle(3.5f, -4.25f, 5.5f); }},
        {"ellipse arc", [] {
             auto* e = new CEllipseArc();
             e->InitArcPath(Gdiplus::RectF(1.0f, 7.0f, 13.0f, 5.0f), false);
             e->SetArcDegree(20.0, 250.0);
             return e;
         }},
        {"rounded rectangle", [] {
             auto* r = new CRectangle();
             r->InitRectangle(Gdiplus::RectF(1.0f, 9.0f, 8.0f, 6.0f));
             r->SetRound(20, 0, 40, 0);
             return r;
         }},
        {"polygon", [] {
             auto* p = new CPolygon();
             p->InitPolygon(Gdiplus::RectF(0.5f, 10.0f, 10.0f, 7.0f), 5);
             p->Rotate(31.0, tagPOINTF{5.0f, 5.0f});
             return p;
         }},
        {"spiral", [] {
             auto* s = new CScrewLine();
             SCREW_PAR par;
             par.m_fMinRadius = 0.7f;
             par.m_fMinGap = 0.9f;
             Gdiplus::RectF rect(1.0f, 9.0f, 11.0f, 7.0f);
             s->SetParam(par, &rect);
             return s;
         }},
        {"picture", [=] {
             auto* p = new CPicture();
             p->SetFilename(CString(std::wstring(bmp.begin(), bmp.end()).c_str()));
             p->InitPicture();
             p->Move(2.0f, 3.5f);
             return p;
         }},
        {"timer", [] { auto* c = new CDelayedTimer(); c->InitDelayTimer({1.5f, 2.0f}); return c; }},
        {"input", [] { auto* c = new CInput(); c->InitInput({2.5f, -1.0f}); return c; }},
        {"output", [] { auto* c = new COutput(); c->InitOutput({3.0f, 3.5f}); return c; }},
        {"encoder", [] { auto* c = new CEncoderDistance(); c->InitDelayTimer({4.0f, -4.5f}); return c; }},
        {"axis", [] { auto* c = new CExeAxi(); c->InitExeAxiPoint({-5.0f, 5.5f}); return c; }},
        {"text", [] { return TextOf(L"Ag", FONT_TYPE_TRUETYPE, L"DejaVu Sans", false); }},
        {"filled text", [] { return TextOf(L"Og", FONT_TYPE_TRUETYPE, L"DejaVu Sans", true); }},
        {"barcode", [] { return TextOf(L"A1b", FONT_TYPE_CODEBAR, GetCodebarInstance()->GetTypeName(20), false); }},
        {"group", [=] {
             auto* g = new CGroupShape();
             g->GetChildren() = {PolyOf(zigzag, false), circle(-2.0f, 3.0f, 1.5f)};
             return g;
         }},
        {"combine", [=] {
             auto* g = new CCombineShape();
             g->GetChildren() = {PolyOf(zigzag, true), PolyOf({{-3.0f, -1.0f}, {-1.0f, -2.5f}}, false)};
             return g;
         }},
        {"fill", [=] {
             auto* f = new CFilledShape();
             f->GetChildren().push_back(PolyOf(zigzag, true));
             FILLED_PARS par;
             par.fillParams[0].nFillType = 3;
             par.fillParams[0].fLineSpacing = 0.7;
             par.fillParams[0].fAngle = 23;
             par.fillParams[0].nPenNum = 7;
             f->FillShape(par);
             f->DoFill(0);
             return f;
         }},
    };
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_EVERY_KIND_H

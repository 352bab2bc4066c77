// Conversion of the text shape into path shapes, its basic shapes and
// flattened polylines, and its XML and G-code export.
#include <memory>

#include "morvik/compose/combine.h"
#include "morvik/compose/filledshape.h"
#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/polyline.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/text/fonts.h"

namespace {

BEZIER_4POINTF_DRAW Straight(tagPOINTF a, tagPOINTF b) {
    BEZIER_4POINTF_DRAW s;
    s.LineType = 1;
    s.p1 = s.p2 = a;
    s.p3 = s.p4 = b;
    return s;
}

BEZIER_4POINTF_DRAW Cubic(tagPOINTF a, tagPOINTF b, tagPOINTF c, tagPOINTF d) {
    BEZIER_4POINTF_DRAW s;
    s.LineType = 0;
    s.p1 = a;
    s.p2 = b;
    s.p3 = c;
    s.p4 = d;
    return s;
}

CBezierCurve* NewCurve() {
    auto* c = new CBezierCurve();
    c->SetCaption(L"font_bezier_shape");
    return c;
}

void Finish(CBezierCurve* curve, CCombineShape* into, bool closed) {
    if (closed) curve->bClosed = 1;
    Gdiplus::RectF r;
    curve->GetRectangle(r);
    into->GetChildren().push_back(curve);
}

// The hatch of a fill shape as a group of polylines, or null when it has
// none.
CBaseShape* HatchGroup(CFilledShape* fill) {
    if (fill == nullptr) return nullptr;
    CGroupShape* group = fill->GetEdge();
    if (group == nullptr) group = new CGroupShape();
    fill->PathToShape(group);
    if (group->GetChildren().empty()) {
        delete group;
        return nullptr;
    }
    Gdiplus::RectF r;
    group->GetRectangle(r);
    return group;
}

}  // namespace

CBaseShape* CFonts::ToBezier() {
    auto* out = new CCombineShape();
    out->SetCaption(GetCaption());
    out->SetDocView(m_pDoc, m_pView);
    for (size_t k = 0; k < m_arrChars.size(); ++k) {
        FONTSCHAR* ch = m_arrChars[k];
        if (ch == nullptr || ch->points.empty()) continue;
        Gdiplus::GraphicsPath path;
        if (!CharPath(ch, 0, ch->points.size(), path)) continue;
        const auto& pts = path.PathPoints();
        const auto& types = path.PathTypes();
        auto at = [&](size_t i) { return tagPOINTF{pts[i].X, pts[i].Y}; };
        CBezierCurve* curve = NewCurve();
        tagPOINTF first{0, 0};
        int controls = 0;
        for (size_t i = 0; i < pts.size(); ++i) {
            const BYTE t = types[i];
            switch (t) {
                case 0:
                    if (!curve->arrSegment.empty()) {
                        Finish(curve, out, nFontType == FONT_TYPE_TRUETYPE);
                        curve = NewCurve();
                    }
                    first = at(i);
                    controls = 0;
                    break;
                case 1: curve->arrSegment.push_back(Straight(at(i - 1), at(i))); break;
                case 3:
                    if (++controls % 3 == 0 && i >= 3) curve->arrSegment.push_back(Cubic(at(i - 3), at(i - 2), at(i - 1), at(i)));
                    break;
                case 0x81:
                case 0xA1:
                    curve->arrSegment.push_back(Straight(at(i - 1), at(i)));
                    curve->arrSegment.push_back(Straight(at(i), first));
                    break;
                case 0x83:
                case 0xA3:
                    if (++controls % 3 == 0 && i >= 3) curve->arrSegment.push_back(Cubic(at(i - 3), at(i - 2), at(i - 1), at(i)));
                    curve->arrSegment.push_back(Straight(at(i), first));
                    break;
                default: break;
            }
        }
        if (curve->arrSegment.empty()) {
            delete curve;
        } else {
            Finish(curve, out, nFontType == FONT_TYPE_TRUETYPE);
        }
        if (nFontType != FONT_TYPE_SHX && nFontType != FONT_TYPE_MATRIX && k < m_arrFills.size())
            if (CBaseShape* hatch = HatchGroup(m_arrFills[k])) out->GetChildren().push_back(hatch);
    }
    if (parCodebar.bTextFill != 0 && m_arrFills.size() == 2)
        if (CBaseShape* hatch = HatchGroup(m_arrFills[1])) out->GetChildren().push_back(hatch);
    // The outlines mark with the text's pen, as the polylines of ToPolyLine do.
    for (CBaseShape* child : out->GetChildren())
        if (child->GetShapeKind() == SHAPE_BEZIER) child->SetPen(GetPenIndex());
    Gdiplus::RectF r;
    out->GetRectangle(r);
    out->KeepMarkingOf(*this);
    return out;
}

CBaseShape* CFonts::ToPolyLine() {
    auto* out = new CCombineShape();
    for (size_t k = 0; k < m_arrChars.size(); ++k) {
        std::vector<std::vector<tagPOINTF>> lines;
        CharFigures(static_cast<int>(k), PT_ALL, lines);
        for (std::vector<tagPOINTF>& line : lines) {
            auto* poly = new CPolyLine();
            poly->arrPoint = std::move(line);
            poly->bClosed = 1;
            poly->SetPen(GetPenIndex());
            Gdiplus::RectF r;
            poly->GetRectangle(r);
            out->GetChildren().push_back(poly);
        }
    }
    Gdiplus::RectF r;
    out->GetRectangle(r);
    out->KeepMarkingOf(*this);
    return out;
}

void CFonts::GetBasicShapeList(std::vector<CBaseShape*>& out) {
    std::unique_ptr<CBaseShape> converted(ToBezier());
    if (!converted) return;
    // The converted shapes go to the caller; the compound shell goes.
    for (CBaseShape* child : converted->GetChildren())
        if (child != nullptr) out.push_back(child);
    converted->GetChildren().clear();
}

int CFonts::GetFlattenPathArrays(std::vector<std::vector<tagPOINTF>>& out, float) {
    if (m_arrChars.empty()) return -1;
    for (size_t k = 0; k < m_arrChars.size(); ++k) {
        std::vector<std::vector<tagPOINTF>> lines;
        CharFigures(static_cast<int>(k), PT_ALL, lines);
        for (auto& l : lines) out.push_back(std::move(l));
    }
    return 0;
}

int CFonts::ExportXmlToBuff(tagXmlBuff& buff) {
    CString line;
    const std::wstring name = XmlEscape(std::wstring(GetCaption().GetString()));
    const std::wstring text = XmlEscape(std::wstring(m_strText.GetString()));
    const std::wstring face = XmlEscape(std::wstring(m_strFontName.GetString()));
    line.Format(L"<Fonts Name=\"%s\" Text=\"%s\" FonstType=\"%s\" x=\"%.3f\" y=\"%.3f\" >", name.c_str(), text.c_str(),
                face.c_str(), static_cast<double>(fontspos.x), static_cast<double>(fontspos.y));
    buff.WriteToFile(line);
    line.Format(L"<list nSize=\"%d\" >", static_cast<int>(m_arrChars.size()));
    buff.WriteToFile(line);
    for (FONTSCHAR* ch : m_arrChars)
        if (ch != nullptr) ExportCharXmlToBuff(ch, buff);
    buff.WriteToFile(L"</list>");
    buff.WriteToFile(L"<FourPoint>");
    for (const tagPOINTF& p : m_arrFrame) {
        line.Format(L"<P x=\"%.3f\" y=\"%.3f\" />", static_cast<double>(p.x), static_cast<double>(p.y));
        buff.WriteToFile(line);
    }
    buff.WriteToFile(L"</FourPoint>");
    buff.WriteToFile(L"</Fonts>");
    return 0;
}

int CFonts::ExportCharXmlToBuff(FONTSCHAR* ch, tagXmlBuff& buff) {
    if (ch == nullptr) return 1;
    CString line;
    line.Format(L"<Point nSize=\"%d\" >", static_cast<int>(ch->points.size()));
    buff.WriteToFile(line);
    for (const tagPOINTF& p : ch->points) {
        line.Format(L"<P x=\"%.3f\" y=\"%.3f\" />", static_cast<double>(p.x), static_cast<double>(p.y));
        buff.WriteToFile(line);
    }
    buff.WriteToFile(L"</Point>");
    line.Format(L"<Type nSize=\"%d\" >", static_cast<int>(ch->types.size()));
    buff.WriteToFile(line);
    for (uint8_t t : ch->types) {
        line.Format(L"<T data=\"%d\" />", static_cast<int>(t));
        buff.WriteToFile(line);
    }
    buff.WriteToFile(L"</Type>");
    return 1;
}

int CFonts::ExportGCodeToBuff(GCodeContext& ctx) {
    for (FONTSCHAR* ch : m_arrChars) {
        Gdiplus::GraphicsPath path;
        if (!CharPath(ch, 0, ch != nullptr ? ch->points.size() : 0, path)) continue;
        path.Flatten(nullptr, GetSmoothRatio());
        const auto& pts = path.PathPoints();
        const auto& types = path.PathTypes();
        size_t start = 0;
        for (size_t i = 0; i < pts.size(); ++i) {
            if ((types[i] & 0x07) == 0) {
                start = i;
                ctx.MoveTo(pts[i].X, pts[i].Y, 0.0f);
            } else {
                ctx.LineTo(pts[i].X, pts[i].Y, 0.0f);
            }
            if ((types[i] & 0x80) != 0) ctx.LineTo(pts[start].X, pts[start].Y, 0.0f);
        }
    }
    return 0;
}

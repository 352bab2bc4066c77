#include "morvik/core/vectorfile.h"

#include <cwctype>
#include <string>

#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/polyline.h"
#include "morvik/import/dxf_builder.h"
#include "morvik/import/gerber.h"
#include "morvik/win32/windows.h"

namespace {

enum class Reader { None, Dxf, Plt, Svg, Ai, Gerber };

bool EndsWithNoCase(const std::wstring& text, const wchar_t* tail) {
    const std::wstring t(tail);
    if (text.size() < t.size()) return false;
    const size_t offset = text.size() - t.size();
    for (size_t i = 0; i < t.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(text[offset + i])) != std::towlower(static_cast<wint_t>(t[i]))) {
            return false;
        }
    }
    return true;
}

Reader ReaderForPath(const std::wstring& path) {
    if (EndsWithNoCase(path, L".dxf")) return Reader::Dxf;
    if (EndsWithNoCase(path, L".plt")) return Reader::Plt;
    if (EndsWithNoCase(path, L".svg")) return Reader::Svg;
    if (EndsWithNoCase(path, L".ai")) return Reader::Ai;
    static const wchar_t* const kGerberTails[] = {L".gbr", L".cs",  L".gbx", L".274x", L".di",  L".gbl",
                                                  L".gbo", L".gbs", L".gko", L".gtl",  L".gto", L".gts"};
    for (const wchar_t* tail : kGerberTails) {
        if (EndsWithNoCase(path, tail)) return Reader::Gerber;
    }
    return Reader::None;
}

// Illustrator coordinates are points; 2.834 of them make a millimetre.
constexpr double kPointsPerMm = 2.834;
// Drawings this small (in either direction) are taken to be in millimetres
// already.
constexpr float kMinScaledSize = 3.0f;

double PointsToMmFactor(float size) {
    const float scaled = static_cast<float>(size / kPointsPerMm);
    return static_cast<double>(scaled) / size;
}

}  // namespace

bool BuildAiShapes(const std::vector<tagAIPT>& records, CGroupShape* group) {
    if (records.empty() || group == nullptr) return false;
    std::vector<CBaseShape*>& children = group->GetChildren();
    CPolyLine* polyline = nullptr;
    CBezierCurve* curve = nullptr;
    int mode = 0;  // 1 the current shape is a polyline, 2 a curve
    for (const tagAIPT& rec : records) {
        if (rec.bStart != 0 && rec.cType == 'L') {
            polyline = new CPolyLine();
            children.push_back(polyline);
            mode = 1;
        } else if (rec.bStart != 0 && rec.cType == 'c') {
            curve = new CBezierCurve();
            curve->bClosed = 1;
            children.push_back(curve);
            mode = 2;
        }
        if (mode == 1 && rec.cType == 'L') {
            polyline->arrPoint.push_back(rec.p0);
            polyline->arrPoint.push_back(rec.p1);
            polyline->InvalidateGeometry();
        } else if (mode == 2 && rec.cType == 'c') {
            BEZIER_4POINTF_DRAW seg;
            seg.p1 = rec.p0;
            seg.p2 = rec.p1;
            seg.p3 = rec.p2;
            seg.p4 = rec.p3;
            curve->arrSegment.push_back(seg);
            curve->InvalidateGeometry();
        }
    }
    group->InvalidateGeometry();

    // Measured afresh: the stored rectangle of a group just filled is stale.
    Gdiplus::RectF rect;
    group->GetRectangle(rect);
    if (rect.Width > kMinScaledSize && rect.Height > kMinScaledSize) {
        const double sx = PointsToMmFactor(rect.Width);
        const double sy = PointsToMmFactor(rect.Height);
        if (sx != 1.0 || sy != 1.0) {
            group->Zoom(tagPOINTF{rect.X, rect.Y - rect.Height}, sx, sy);
        }
    }
    return true;
}

extern "C" bool LoadVectorFileCore(const wchar_t* path, CBaseShape** out, bool center) {
    if (path == nullptr || out == nullptr) return false;
    const std::wstring widePath(path);
    // Narrow paths are UTF-8 on this platform, whatever the ANSI code page.
    const std::string narrowPath = WidePathToUtf8(path);
    bool result = false;

    switch (ReaderForPath(widePath)) {
        case Reader::None:
            return false;
        case Reader::Dxf: {
            auto* group = new CGroupShape();
            *out = group;
            std::string pathCopy = narrowPath;
            // The builder joins its worker threads before it goes away. A
            // file that is missing, unreadable or refused, or whose blocks
            // pass the placement limit, fails; the (captioned, possibly
            // partly filled) group stays the caller's.
            CDrawDxfEntity builder;
            builder.InitPara(pathCopy.data(), group, false, true);
            result = builder.FileWasRead();
            break;
        }
        case Reader::Plt:
            *out = CGroupShape::ParserPltFile(CString(path));
            result = *out != nullptr;
            break;
        case Reader::Svg:
            *out = CGroupShape::ParserSvgFile(CString(path));
            result = *out != nullptr;
            break;
        case Reader::Ai: {
            CParserAIFile parser;
            std::string pathCopy = narrowPath;
            parser.ParseAI(pathCopy.data());
            std::vector<tagAIPT> records;
            parser.GetAiPoint(records);
            if (records.empty()) return false;
            auto* group = new CGroupShape();
            *out = group;
            result = BuildAiShapes(records, group);
            break;
        }
        case Reader::Gerber: {
            CParseGerber parser;
            auto* group = new CGroupShape();
            *out = group;
            int lineCount = 0;
            result = parser.ParseFile(narrowPath.c_str(), group, lineCount);
            break;
        }
    }

    if (center && *out != nullptr) {
        Gdiplus::RectF rect;
        (*out)->GetRectangle(rect);
        (*out)->Move(-(rect.X + rect.Width / 2), rect.Height / 2 - rect.Y);
    }
    return result;
}

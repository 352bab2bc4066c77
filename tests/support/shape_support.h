// Helpers shared by the tests of the shape library: a view at a given zoom,
// the state of a shape's mark event, a shape's rectangle, outline, exports
// and saved bytes, builders of polylines, curve segments and hatch
// parameters, a recording host, distances, the ANSI code page for one test,
// saved records split into their fields, checks that no number in a saved
// record or an exported text is NaN or infinite, and the transforms every
// shape must refuse such numbers in.
#ifndef TESTS_SUPPORT_SHAPE_SUPPORT_H
#define TESTS_SUPPORT_SHAPE_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "morvik/core/bezier_segment.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/markdata.h"
#include "morvik/core/params.h"
#include "morvik/core/polyline.h"
#include "morvik/core/shapelist.h"
#include "morvik/core/srifile.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/baseshape.h"
#include "morvik/halder/sribase.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "support/temp_dir.h"
#include "morvik/win32/windows.h"

namespace testsupport {

// A document and a view whose device point of (x, y) is (x * zoom, -y * zoom).
struct ViewAt {
    CBaseDoc doc;
    CBaseView view{&doc};
    explicit ViewAt(float zoom = 1.0f) {
        view.SetZoom(zoom);
        view.SetOrigin({0.0f, 0.0f});
    }
};

// True when nobody holds the shape's mark event.
inline bool Unlocked(CBaseShape& shape) {
    if (WaitForSingleObject(shape.GetMarkEvent(), 0) != WAIT_OBJECT_0) return false;
    SetEvent(shape.GetMarkEvent());
    return true;
}

// The shape's XML export as text.
inline std::string ExportXml(CBaseShape& shape) {
    TempDir tmp("morvik-xml");
    const std::string path = tmp.File("shape.xml");
    {
        tagXmlBuff buff;
        buff.file.open(path, std::ios::binary);
        shape.ExportXmlToBuff(buff);
    }
    return ReadAll(path);
}

// The shape's rectangle.
inline Gdiplus::RectF RectOf(CBaseShape& shape) {
    Gdiplus::RectF r;
    shape.GetRectangle(r);
    return r;
}

// The points one by one, each within tol.
inline void ExpectPoints(const std::vector<tagPOINTF>& got, const std::vector<tagPOINTF>& want, float tol = 1e-4f) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].x, want[i].x, tol) << "point " << i;
        EXPECT_NEAR(got[i].y, want[i].y, tol) << "point " << i;
    }
}

// A new polyline through the points.
inline CPolyLine* Poly(std::vector<tagPOINTF> pts) {
    auto* p = new CPolyLine();
    p->arrPoint = std::move(pts);
    return p;
}

// A curve segment on the four points; type 1 is a line, 2 a piece of an arc.
inline BEZIER_4POINTF_DRAW Cubic(tagPOINTF a, tagPOINTF b, tagPOINTF c, tagPOINTF d, int type = 0) {
    BEZIER_4POINTF_DRAW s;
    s.p1 = a, s.p2 = b, s.p3 = c, s.p4 = d, s.LineType = type;
    return s;
}
// A line segment, its handles on its ends.
inline BEZIER_4POINTF_DRAW Line(tagPOINTF a, tagPOINTF b) { return Cubic(a, a, b, b, 1); }

// The shape's outline flattened to within tol.
inline std::vector<tagPOINTF> Flattened(CBaseShape& shape, float tol) {
    std::vector<tagPOINTF> pts;
    shape.GetFlattenPathPoints(pts, tol);
    return pts;
}

// The rectangle is (x, y, w, h) within tol.
inline void ExpectRect(const Gdiplus::RectF& r, double x, double y, double w, double h, double tol = 1e-4) {
    EXPECT_NEAR(r.X, x, tol);
    EXPECT_NEAR(r.Y, y, tol);
    EXPECT_NEAR(r.Width, w, tol);
    EXPECT_NEAR(r.Height, h, tol);
}

// Frees a shape as the library does: what it owns, then itself.
struct FreeShape {
    void operator()(CBaseShape* s) const {
        if (s == nullptr) return;
        s->FreeShapePtr();
        delete s;
    }
};
using ShapePtr = std::unique_ptr<CBaseShape, FreeShape>;

// A recording host installed for the scope; the texts of its message boxes.
struct HostScope {
    HostScope() { SetHost(host); }
    ~HostScope() { SetHost(nullptr); }
    std::vector<std::wstring> Texts() const {
        std::vector<std::wstring> out;
        for (const RecordedMessageBox& box : host->MessageBoxes()) out.push_back(box.text);
        return out;
    }
    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
};

// Fill parameters whose first set hatches (type 3 draws parallel lines).
inline FILLED_PARS Hatch(double spacing, double angle = 0, int type = 3, int cross = 0) {
    FILLED_PARS p;
    p.fillParams[0].nFillType = type;
    p.fillParams[0].fLineSpacing = spacing;
    p.fillParams[0].fAngle = angle;
    p.fillParams[0].bCrossFill = cross;
    return p;
}

// The text filled with par, as its fill dialog fills it.
template <class Text>
void FillWith(Text& text, FILLED_PARS par) {
    text.SetFill(par, false);
}

// The point (x, y) lies inside the outlines under the even-odd rule.
inline bool InsideEvenOdd(const std::vector<std::vector<tagPOINTF>>& outlines, double x, double y) {
    bool in = false;
    for (const auto& p : outlines)
        for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
            if ((p[i].y > y) != (p[j].y > y) && x < (p[j].x - p[i].x) * (y - p[i].y) / (p[j].y - p[i].y) + p[i].x)
                in = !in;
    return in;
}

inline double Dist(tagPOINTF a, tagPOINTF b) { return std::hypot(double(a.x) - b.x, double(a.y) - b.y); }

// Distance from p to the nearest segment of the polyline.
inline double DistToPolyline(tagPOINTF p, const std::vector<tagPOINTF>& line) {
    double best = 1e300;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        const double ax = line[i].x, ay = line[i].y, bx = line[i + 1].x - ax, by = line[i + 1].y - ay;
        const double l2 = bx * bx + by * by;
        const double t = l2 > 0 ? std::clamp(((p.x - ax) * bx + (p.y - ay) * by) / l2, 0.0, 1.0) : 0.0;
        best = std::min(best, std::hypot(p.x - (ax + t * bx), p.y - (ay + t * by)));
    }
    return best;
}

// Switches the ANSI code page for one test and puts the old one back.
class AnsiCodePage {
public:
    explicit AnsiCodePage(UINT cp) : m_old(GetACP()) { EXPECT_TRUE(SetACP(cp)); }
    ~AnsiCodePage() { SetACP(m_old); }
    AnsiCodePage(const AnsiCodePage&) = delete;
    AnsiCodePage& operator=(const AnsiCodePage&) = delete;

private:
    UINT m_old;
};

// ---- saved records -------------------------------------------------------

using Bytes = std::vector<uint8_t>;

template <class R>
Bytes SaveOf(R& record) {
    SriFile out;
    record.Save(false, &out);
    EXPECT_TRUE(out.IsGood());
    return out.GetWrittenBytes();
}

// A shape's saved record, its saved fields brought up to date first.
inline Bytes SavedShape(CBaseShape& shape, bool extended = false) {
    shape.UpdatePropsValue();
    SriFile out;
    shape.Save(extended, &out);
    EXPECT_TRUE(out.IsGood());
    return out.GetWrittenBytes();
}

// A shape list as a shape-list file holds it.
inline Bytes SavedList(std::list<CBaseShape*>& shapes, bool extended = true) {
    SriFile file;
    CVonnSriShapeList(&shapes).Save(extended, &file);
    return file.GetWrittenBytes();
}

// The shapes of a saved shape list appended to into; false when refused.
inline bool LoadList(const Bytes& bytes, std::list<CBaseShape*>& into, bool extended = true) {
    return CVonnSriShapeList(&into).LoadFileFromMem(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<uint32_t>(bytes.size()), extended);
}

template <class R>
void ReadFrom(R& record, const Bytes& bytes) {
    SriFile in(bytes.data(), bytes.size());
    record.Read(false, &in);
    EXPECT_TRUE(in.IsGood());
    EXPECT_EQ(in.Remaining(), 0u);
}

struct SavedField {
    std::string key;
    uint8_t tag = 0;
    Bytes payload;
};

// Splits a saved record into its fields, checking the framing on the way.
inline std::vector<SavedField> Decode(const Bytes& rec) {
    std::vector<SavedField> fields;
    sri::Reader in{rec.data(), rec.size(), 0};
    uint32_t length = 0, keyLength = 0, payloadLength = 0;
    EXPECT_TRUE(in.GetU32(length) && length == in.Left()) << "bad record length";
    const uint8_t *key, *tag, *payload;
    while (in.GetU32(keyLength) && (key = in.Take(keyLength)) && (tag = in.Take(1)) && in.GetU32(payloadLength) &&
           (payload = in.Take(payloadLength)))
        fields.push_back({std::string(key, key + keyLength), *tag, Bytes(payload, payload + payloadLength)});
    EXPECT_TRUE(in.AtEnd()) << "broken field framing";
    return fields;
}

// The record of the given fields, framed as a save frames it.
inline Bytes Encode(const std::vector<SavedField>& fields) {
    Bytes body;
    for (const SavedField& f : fields) {
        sri::PutU32(body, uint32_t(f.key.size()));
        body.insert(body.end(), f.key.begin(), f.key.end());
        body.push_back(f.tag);
        sri::PutU32(body, uint32_t(f.payload.size()));
        body.insert(body.end(), f.payload.begin(), f.payload.end());
    }
    Bytes out;
    sri::PutU32(out, uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// Every float and double of a saved record, read by its type tag alone
// (points, rectangles, nested records and vectors of them included).
inline bool SavedFinite(const Bytes& rec) {
    std::function<bool(sri::Reader&, uint8_t, int)> scan = [&](sri::Reader& in, uint8_t type, int depth) {
        if (depth > 0) {
            uint32_t n = 0;
            if (!in.GetU32(n)) return false;
            for (uint32_t i = 0; i < n; ++i)
                if (!scan(in, type, depth - 1)) return false;
            return true;
        }
        if (type == sri::kRecord) {
            uint32_t length = 0;
            const uint8_t* body = nullptr;
            return in.GetU32(length) && (body = in.Take(length)) && SavedFinite(Bytes(body, body + length));
        }
        if (type == sri::kDouble) {
            double d = 0;
            return in.GetDouble(d) && std::isfinite(d);
        }
        const int floats = type == sri::kFloat ? 1 : type == sri::kPointF || type == sri::kGdiPointF ? 2 : 4;
        for (int i = 0; i < floats; ++i) {
            float f = 0;
            if (!in.GetFloat(f) || !std::isfinite(f)) return false;
        }
        return true;
    };
    for (const SavedField& f : Decode(rec)) {
        const uint8_t type = f.tag & 0x3f;
        if (type != sri::kFloat && type != sri::kDouble && type != sri::kPointF && type != sri::kGdiPointF &&
            type != sri::kRectF && type != sri::kRecord)
            continue;
        sri::Reader in{f.payload.data(), f.payload.size(), 0};
        if (!scan(in, type, f.tag >> 6)) return false;
    }
    return true;
}

// No "nan" or "inf" in an exported text, in any case.
inline bool TextFinite(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text.find("nan") == std::string::npos && text.find("inf") == std::string::npos;
}

// The lines of the shape's G-code (or, gcode 0, HPGL) export.
inline std::vector<std::wstring> ExportedLines(CBaseShape& shape, unsigned char gcode = 1) {
    GCodeContext ctx;
    ctx.bGCode = gcode;
    ctx.bToList = 1;
    shape.ExportGCodeToBuff(ctx);
    return ctx.lines;
}

// Every number a shape hands on is finite: its mark data and their
// rectangle, its rectangle, its saved record, and its XML, G-code and HPGL.
inline void ExpectHandsOnFinite(CBaseShape& s, const std::string& what) {
    tagMarkDataPar md;
    s.SetGetDataForce(true);
    s.GetMarkData(md, nullptr);
    for (const auto* list : {&md.arrPaths, &md.arrPaths2})
        for (const tagPathData& path : *list)
            for (const auto& line : path.arrPolylines)
                for (const tagPOINTF& p : line)
                    ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << what << ": mark data";
    Gdiplus::RectF box;
    s.GetRectangle(box);
    for (float v : {box.X, box.Y, box.Width, box.Height, md.rect.X, md.rect.Y, md.rect.Width, md.rect.Height})
        ASSERT_TRUE(std::isfinite(v)) << what << ": rectangle";
    s.UpdatePropsValue();
    EXPECT_TRUE(SavedFinite(SaveOf(s))) << what << ": saved record";
    EXPECT_TRUE(TextFinite(ExportXml(s))) << what << ": XML";
    for (unsigned char gcode : {1, 0}) {
        for (const std::wstring& line : ExportedLines(s, gcode))
            EXPECT_TRUE(TextFinite(std::string(line.begin(), line.end()))) << what << (gcode ? ": G-code" : ": HPGL");
    }
}

// ---- numbers that are no coordinates ----------------------------------------

// A call that takes a number, and the finite value from which it must be
// refused too (its result overflows float); NaN and the infinities always are.
template <class S>
struct NumberCall {
    const char* name;
    std::function<int(S&, double)> call;
    double refusedFrom = INFINITY;
};

// The transforms every shape has, with the number in each argument in turn.
template <class S>
std::vector<NumberCall<S>> TransformNumberCalls() {
    auto f = [](double v) { return static_cast<float>(v); };
    return {
        {"move x", [=](S& s, double v) { return s.Move(f(v), 0); }},
        {"move y", [=](S& s, double v) { return s.Move(0.5f, f(v)); }},
        {"rotate", [](S& s, double v) { return s.Rotate(v, {3, -7}); }},
        {"rotate cx", [=](S& s, double v) { return s.Rotate(33, {f(v), -7}); }},
        {"rotate cy", [=](S& s, double v) { return s.Rotate(33, {3, f(v)}); }},
        {"zoom sx", [](S& s, double v) { return s.Zoom({-1e9f, -1e9f}, v, 1.3); }, 1e30},
        {"zoom sy", [](S& s, double v) { return s.Zoom({-1e9f, -1e9f}, 0.7, v); }, 1e30},
        {"zoom fx", [=](S& s, double v) { return s.Zoom({f(v), 2}, 1.5, 0.8); }},
        {"zoom fy", [=](S& s, double v) { return s.Zoom({2, f(v)}, 1.5, 0.8); }},
        {"slope a", [](S& s, double v) { return s.Slope({4, 7}, v, 0.1); }},
        {"slope b", [](S& s, double v) { return s.Slope({4, 7}, 0.2, v); }},
        {"slope fx", [=](S& s, double v) { return s.Slope({f(v), 7}, 0.2, 0.1); }},
        {"mirror x", [=](S& s, double v) { return s.Mirror({f(v), 7}, 1); }},
        {"mirror y", [=](S& s, double v) { return s.Mirror({7, f(v)}, 2); }},
        {"mirror xy", [=](S& s, double v) { return s.Mirror({f(v), f(v)}, 3); }},
    };
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_SHAPE_SUPPORT_H

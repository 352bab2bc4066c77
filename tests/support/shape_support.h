// Helpers shared by the tests of the shape library: a view at a given zoom,
// the state of a shape's mark event, the XML export as text, a recording
// host, distances, the ANSI code page for one test, and saved records split
// into their fields, and checks that no number in a saved record or an
// exported text is NaN or infinite.
#ifndef TESTS_SUPPORT_SHAPE_SUPPORT_H
#define TESTS_SUPPORT_SHAPE_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "morvik/core/exportsink.h"
#include "morvik/core/markdata.h"
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
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
        GCodeContext ctx;
        ctx.bGCode = gcode;
        ctx.bToList = 1;
        s.ExportGCodeToBuff(ctx);
        for (const std::wstring& line : ctx.lines)
            EXPECT_TRUE(TextFinite(std::string(line.begin(), line.end()))) << what << (gcode ? ": G-code" : ": HPGL");
    }
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_SHAPE_SUPPORT_H

// Group-pair reading, the entity readers of the DXF reader, block
// placement, spline sampling and the cleaning of formatted text.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <cwchar>
#include <cwctype>
#include <cstdint>
#include <string_view>
#include <utility>

#include "morvik/core/number_text.h"
#include "morvik/import/dxf_reader.h"

namespace {

// The image from the cursor on; false at the end.
bool RestOf(const MYFILE* file, std::string_view& rest) {
    if (!file || !file->pBuffer || file->nPos < 0 || file->nPos >= file->nSize) return false;
    rest = std::string_view(file->pBuffer + file->nPos, static_cast<size_t>(file->nSize - file->nPos));
    return true;
}

// One whole line at the cursor, newline included; false at the end.
bool ReadWholeLine(MYFILE* file, std::string_view& line) {
    std::string_view image;
    if (!RestOf(file, image)) return false;
    const char* start = image.data();
    const size_t rest = image.size();
    // Most lines are a few bytes long: looked through eight bytes at a time
    // before the library search, whose call costs more than such a line.
    size_t near = 0;
    // (The flag below marks the first newline exactly only in little-endian
    // order; elsewhere the bytes are looked at one by one.)
    const size_t wordSpan = std::endian::native == std::endian::little ? 32 : 0;
    for (; near + 8 <= rest && near < wordSpan; near += 8) {
        uint64_t word;
        std::memcpy(&word, start + near, 8);
        const uint64_t x = word ^ 0x0A0A0A0A0A0A0A0AULL;  // a newline becomes a zero byte
        const uint64_t zero = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
        if (zero != 0) {
            // The lowest flagged byte is the first zero (little-endian order).
            const size_t k = near + static_cast<size_t>(std::countr_zero(zero)) / 8;
            file->nPos += static_cast<int>(k + 1);
            line = std::string_view(start, k + 1);
            return true;
        }
    }
    if (near + 8 > rest || wordSpan == 0) {
        for (; near < rest && near < 32; ++near) {
            if (start[near] == '\n') {
                file->nPos += static_cast<int>(near + 1);
                line = std::string_view(start, near + 1);
                return true;
            }
        }
    }
    const void* nl = near < rest ? std::memchr(start + near, '\n', rest - near) : nullptr;
    const size_t length = nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) + 1 : rest;
    file->nPos += static_cast<int>(length);
    line = std::string_view(start, length);
    return true;
}

// True when text[k] starts a line end ("\n" or "\r\n") or the text ends
// there; k then moves past the line end.
bool PassLineEnd(std::string_view text, size_t& k) {
    if (k == text.size()) return true;
    if (text[k] == '\n') return ++k, true;
    if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') return k += 2, true;
    return false;
}

// Group 230, the z of the extrusion direction: -1 means the entity is drawn
// from below, so that x in its object coordinates runs the other way in the
// drawing (the only tilt of the object plane that stays in the drawing
// plane).
bool FromBelow(double extrusionZ) { return std::fabs(extrusionZ + 1.0) <= 0.0001; }

// A group code or integer value: leading blanks, a sign, digits; held
// within the 32-bit range; 0 when there is none.
int ParseInt(std::string_view s) {
    int32_t v = 0;
    return ReadLeadingInt32(s, v) ? v : 0;
}

// A real value: leading blanks, then a decimal number in the C locale; 0 when
// there is none or it is too large for a double.
double ParseDouble(std::string_view s) {
    double v = 0.0;
    return ReadLeadingDecimal(s, v) ? v : 0.0;
}

std::string Narrow(const CString& text) {
    std::string out;
    for (const wchar_t c : std::wstring_view(text.GetString(), static_cast<size_t>(text.GetLength()))) {
        if (c <= 0 || c > 0x7F) break;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

// Reads pairs up to the code 0 whose value is "SEQEND" and leaves the cursor
// before that value.
void SkipToSeqend(MYFILE* file) {
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        const int before = file->nPos;
        ReadGroupValue(file, value, false);
        if (code == 0 && value == L"SEQEND") {
            file->nPos = before;
            return;
        }
    }
}

// Splines of a higher degree are taken as their control polygon.
constexpr int kMaxSplineDegree = 32;

const std::map<std::wstring, std::wstring>& FontFaceTable() {
    static const std::map<std::wstring, std::wstring> table = {
        {L"@FangSong", L"@\u4EFF\u5B8B"},        {L"SimHei", L"\u9ED1\u4F53"},
        {L"KaiTi", L"\u6977\u4F53"},             {L"SimSun", L"\u5B8B\u4F53"},
        {L"Microsoft YaHei", L"\u5FAE\u8F6F\u96C5\u9ED1"}, {L"NSimSun", L"\u65B0\u5B8B\u4F53"},
    };
    return table;
}

}  // namespace

// ---- group pairs -------------------------------------------------------------

int ReadDxfLine(char* buffer, int max, MYFILE* file) {
    if (!buffer || max <= 0) return 0;
    int copied = 0;
    if (file && file->pBuffer && file->nPos >= 0) {
        while (copied < max - 1 && file->nPos < file->nSize) {
            const char c = file->pBuffer[file->nPos++];
            buffer[copied++] = c;
            if (c == '\n') break;
        }
    }
    buffer[copied] = 0;
    return copied;
}

bool ReadGroupCode(MYFILE* file, int& code) {
    // A code as programs write it, blanks, digits and the line end, is read
    // in one pass; anything else goes the general way.
    std::string_view rest;
    if (RestOf(file, rest)) {
        size_t k = 0;
        while (k < rest.size() && rest[k] == ' ') ++k;
        const size_t first = k;
        int v = 0;
        for (; k < rest.size() && k - first < 9 && rest[k] >= '0' && rest[k] <= '9'; ++k) v = v * 10 + (rest[k] - '0');
        if (k > first && PassLineEnd(rest, k)) {
            file->nPos += static_cast<int>(k);
            code = v;
            return true;
        }
    }
    std::string_view line;
    if (!ReadWholeLine(file, line)) return false;
    code = ParseInt(line);
    return true;
}

bool ReadGroupValue(MYFILE* file, CString& value, bool utf8) {
    std::string_view line;
    if (!ReadWholeLine(file, line)) {
        value = L"";
        return true;
    }
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // The value is a C string: an embedded 0 ends it.
    const size_t nul = line.find('\0');
    if (nul != std::string_view::npos) line = line.substr(0, nul);
    // Most values (names, markers, handles) are plain ASCII, which every code
    // page and UTF-8 map one to one.
    if (std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        // Written into the value's own buffer: a reader reuses one value
        // for every pair, so most pairs need no new memory.
        const int length = static_cast<int>(line.size());
        wchar_t* out = value.GetBuffer(length);
        std::copy(line.begin(), line.end(), out);
        value.ReleaseBuffer(length);
        return true;
    }
    const std::string text(line);
    value = utf8 ? CString(Utf8ToWide(text)) : CString(AnsiToWide(text));
    return true;
}

void SkipGroupValue(MYFILE* file) {
    std::string_view line;
    ReadWholeLine(file, line);
}

bool ReadGroupDouble(MYFILE* file, double& value) {
    // Blanks, a number and the line end are read in one pass (a number
    // never runs past a line end); anything else goes the general way.
    std::string_view rest;
    if (RestOf(file, rest)) {
        size_t k = 0;
        while (k < rest.size() && rest[k] == ' ') ++k;
        double v = 0.0;
        if (ScanDecimalOrOverflow(rest, k, v) == DecimalScan::kNumber && PassLineEnd(rest, k)) {
            file->nPos += static_cast<int>(k);
            value = v;
            return true;
        }
    }
    std::string_view line;
    value = ReadWholeLine(file, line) ? ParseDouble(line) : 0.0;
    return true;
}

void ReadGroupInt(MYFILE* file, int& value) { (void)ReadGroupCode(file, value); }

bool ReadGroupPair(MYFILE* file, int& code, CString& value, bool utf8) {
    if (!ReadGroupCode(file, code)) return false;
    return ReadGroupValue(file, value, utf8);
}

int DxfToInt(const CString& text) { return ParseInt(Narrow(text)); }
double DxfToDouble(const CString& text) { return ParseDouble(Narrow(text)); }

float DxfCoord(double v) {
    if (std::isnan(v)) return 0.0f;
    return static_cast<float>(std::clamp(v, -1e30, 1e30));
}

// ---- entities ----------------------------------------------------------------

// The groups every reader handles the same way: 8 layer, 60 visibility and
// 67 space. True when the code was one of them (its value is then read).
#define DXF_COMMON_GROUPS(rec)                            \
    case 8:                                               \
        ReadGroupValue(file, value, m_bUtf8);             \
        (rec).strLayer = value.GetString();               \
        break;                                            \
    case 60:                                              \
        ReadGroupValue(file, value, false);               \
        if (DxfToInt(value) == 1) visible = false;        \
        break;                                            \
    case 67:                                              \
        ReadGroupValue(file, value, false);               \
        modelSpace = DxfToInt(value) == 0;                \
        break;

void CParserDxfFile::ParserEntity(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& name,
                                  CString& blockName, const Gdiplus::PointF* base) {
    Gdiplus::PointF b = base ? *base : Gdiplus::PointF(0.0f, 0.0f);
    // Compared as views: the lengths differ for most names, which settles
    // those comparisons at once.
    const std::wstring_view n(name.GetString(), static_cast<size_t>(name.GetLength()));
    if (n == L"ARC" || n == L"CIRCLE")
        ParserArc(file, modelSpace, placement, blockName, b);
    else if (n == L"DIMENSION")
        ParserDimension(file, modelSpace, placement, blockName, b);
    else if (n == L"ELLIPSE")
        ParserEllipse(file, modelSpace, placement, blockName, b);
    else if (n == L"INSERT") {
        // Every block must be recorded before one is looked up.
        if (m_pBlocksThread) WaitForSingleObject(m_pBlocksThread, INFINITE);
        ParserInsert(file, modelSpace, placement, blockName, b);
    } else if (n == L"LEADER")
        ParserLeader(file, modelSpace, placement, blockName, b);
    else if (n == L"LINE")
        ParserLine(file, modelSpace, placement, blockName, b);
    else if (n == L"LWPOLYLINE")
        ParserLWPolyline(file, modelSpace, placement, blockName, b);
    else if (n == L"MTEXT")
        ParserMText(file, modelSpace, placement, blockName, b);
    else if (n == L"POINT")
        ParserPoint(file, modelSpace, placement, blockName, b);
    else if (n == L"POLYLINE")
        ParserPolyline(file, modelSpace, placement, blockName, b);
    else if (n == L"SOLID")
        ParserSolid(file, modelSpace, placement, blockName, b);
    else if (n == L"SPLINE")
        ParserSpline(file, modelSpace, placement, blockName, b);
    else if (n == L"TEXT" || n == L"ATTDEF")
        ParserText(file, modelSpace, placement, blockName, b);
    else {
        int code = 0;
        while (ReadGroupCode(file, code) && code != 0) SkipGroupValue(file);
    }
}

void CParserDxfFile::ParserArc(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                               Gdiplus::PointF& base) {
    tagArc rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    bool mirrored = false;
    double cx = 0.0, cy = 0.0, d = 0.0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0: {
            // An arc drawn from below (extrusion towards -z) is mirrored in x;
            // the mirror applies to the arc's own coordinates, before a block
            // offset is added.
            rec.ptCenter = Gdiplus::PointF(DxfCoord(mirrored ? base.X - cx : base.X + cx),
                                           DxfCoord(base.Y + cy));
            if (mirrored) rec.bCounterClockwise = 0;
            if (!Keeps(modelSpace, visible)) return;
            // The sweep is judged on the file's angles: a mirrored circle's 0
            // and 360 both fold to 180, and it is still a whole turn.
            const bool sweeps = std::fabs(rec.dEndAngle - rec.dStartAngle) > 0.001;
            if (!rec.bCounterClockwise) {
                for (double* a : {&rec.dStartAngle, &rec.dEndAngle}) *a = *a > 180.0 ? 540.0 - *a : 180.0 - *a;
            }
            if (sweeps) m_vecArc.push_back(std::move(rec));
            return;
        }
        case 10: ReadGroupDouble(file, cx); break;
        case 20: ReadGroupDouble(file, cy); break;
        case 40: ReadGroupDouble(file, rec.dRadius); break;
        case 50: ReadGroupDouble(file, rec.dStartAngle); break;
        case 51: ReadGroupDouble(file, rec.dEndAngle); break;
        case 230:
            ReadGroupDouble(file, d);
            mirrored = FromBelow(d);
            break;
        DXF_COMMON_GROUPS(rec)
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserCircle(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                  Gdiplus::PointF& base) {
    ParserArc(file, modelSpace, placement, blockName, base);
}

void CParserDxfFile::ParserDimension(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                     Gdiplus::PointF& /*base*/) {
    tagDimention rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0: {
            if (!Keeps(modelSpace, visible) || rec.strType.empty()) return;
            const int type = DxfToInt(CString(rec.strType));
            if (type >= 0 && type <= 127) m_vecDim.push_back(std::move(rec));
            return;
        }
        case 2:
            ReadGroupValue(file, value, m_bUtf8);
            rec.strBlock = value.GetString();
            break;
        case 70:
            ReadGroupValue(file, value, false);
            rec.strType = value.GetString();
            break;
        case 60:
            ReadGroupValue(file, value, false);
            if (DxfToInt(value) == 1) visible = false;
            break;
        case 67:
            ReadGroupValue(file, value, false);
            modelSpace = DxfToInt(value) == 0;
            break;
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserEllipse(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                   Gdiplus::PointF& base) {
    tagEllipse rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    double cx = 0, cy = 0, ax = 0, ay = 0, d = 0;
    bool mirrored = false;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            rec.ptCenter = Gdiplus::PointF(DxfCoord(base.X + cx), DxfCoord(base.Y + cy));
            rec.ptMajorEnd = Gdiplus::PointF(DxfCoord(base.X + cx + ax), DxfCoord(base.Y + cy + ay));
            if (mirrored) {
                // Centre and axis are drawing coordinates, but the parameters
                // turn about -z: the arc from s to e is the one from -e to -s
                // turning about +z.
                const float start = rec.fStartParam;
                rec.fStartParam = -rec.fEndParam;
                rec.fEndParam = -start;
            }
            if (Keeps(modelSpace, visible)) m_vecEllipse.push_back(std::move(rec));
            return;
        case 230: ReadGroupDouble(file, d); mirrored = FromBelow(d); break;
        case 10: ReadGroupDouble(file, cx); break;
        case 20: ReadGroupDouble(file, cy); break;
        case 11: ReadGroupDouble(file, ax); break;
        case 21: ReadGroupDouble(file, ay); break;
        case 40: ReadGroupDouble(file, d); rec.fRatio = DxfCoord(d); break;
        case 41: ReadGroupDouble(file, d); rec.fStartParam = DxfCoord(d); break;
        case 42: ReadGroupDouble(file, d); rec.fEndParam = DxfCoord(d); break;
        DXF_COMMON_GROUPS(rec)
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserInsert(MYFILE* file, bool modelSpace, tagZoomRotate /*placement*/,
                                  CString& /*blockName*/, Gdiplus::PointF& base) {
    std::wstring name;
    bool visible = true;
    bool mirrored = false;
    double x = 0, y = 0, angle = 0, sx = 1, sy = 1, sz = 1, d = 0;
    int code = 0;
    CString value;
    tagDxfEntityHead unused;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0: {
            if (!Keeps(modelSpace, visible)) return;
            // The block's records, relative to its base point, are scaled,
            // turned and moved to the insertion point; from below, all of
            // that is mirrored in x. The base point the caller hands in is
            // where this INSERT's coordinates start (inside a block: minus
            // that block's base point).
            Placement place;
            place.rot = mirrored ? -angle : angle;
            place.sx = mirrored ? -sx : sx;
            place.sy = sy;
            place.sz = sz;
            place.tx = base.X + (mirrored ? -x : x);
            place.ty = base.Y + y;
            if (m_pReadingBlock) {
                m_pReadingBlock->inserts.push_back({name, place});
                return;
            }
            PlaceBlock(name, place, file);
            return;
        }
        case 2:
            ReadGroupValue(file, value, m_bUtf8);
            name = value.GetString();
            break;
        case 10: ReadGroupDouble(file, x); break;
        case 20: ReadGroupDouble(file, y); break;
        case 41: ReadGroupDouble(file, sx); break;
        case 42: ReadGroupDouble(file, sy); break;
        case 43: ReadGroupDouble(file, sz); break;
        case 50: ReadGroupDouble(file, angle); break;
        case 230: ReadGroupDouble(file, d); mirrored = FromBelow(d); break;
        DXF_COMMON_GROUPS(unused)
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserBlock(MYFILE* file, bool modelSpace, tagZoomRotate placement, Gdiplus::PointF& base) {
    CString blockName;
    double bx = 0, by = 0;
    int code = 0;
    CString value;
    bool header = true;
    while (header) {
        if (!ReadGroupCode(file, code)) return;
        switch (code) {
        case 0: header = false; break;
        case 2: ReadGroupValue(file, blockName, m_bUtf8); break;
        case 10: ReadGroupDouble(file, bx); break;
        case 20: ReadGroupDouble(file, by); break;
        case 100:
            ReadGroupValue(file, value, false);
            if (value == L"AcDbBlockEnd") return;
            break;
        default: SkipGroupValue(file); break;
        }
    }
    const Gdiplus::PointF entityBase(DxfCoord(base.X - bx), DxfCoord(base.Y - by));
    CString name;
    while (file->nPos < file->nSize) {
        ReadGroupValue(file, name, false);
        // A block without its end stops at the end of its section.
        if (name == L"ENDBLK" || name == L"ENDSEC" || name == L"EOF") return;
        // The block's own order of records, across kinds, is kept so that
        // every placement appends them as the file lists them.
        const size_t before[] = {m_vecLine.size(), m_vecArc.size(), m_vecEllipse.size(), m_vecPoint.size(),
                                 m_vecMText.size(), m_vecText.size(), m_vecSolid.size(), m_vecDim.size(),
                                 m_vecPolyline.size(), m_pReadingBlock ? m_pReadingBlock->inserts.size() : 0};
        ParserEntity(file, modelSpace, placement, name, blockName, &entityBase);
        if (!m_pReadingBlock) continue;
        const size_t after[] = {m_vecLine.size(), m_vecArc.size(), m_vecEllipse.size(), m_vecPoint.size(),
                                m_vecMText.size(), m_vecText.size(), m_vecSolid.size(), m_vecDim.size(),
                                m_vecPolyline.size(), m_pReadingBlock->inserts.size()};
        for (size_t k = 0; k < std::size(after); ++k) {
            for (size_t i = before[k]; i < after[k]; ++i)
                m_pReadingBlock->order.emplace_back(static_cast<RecordKind>(k), static_cast<uint32_t>(i));
        }
    }
}

void CParserDxfFile::ParserLeader(MYFILE* file, bool, tagZoomRotate, CString&, Gdiplus::PointF&) {
    int code = 0;
    while (ReadGroupCode(file, code) && code != 0) SkipGroupValue(file);
}

void CParserDxfFile::ParserLine(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                Gdiplus::PointF& base) {
    tagLine rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    rec.arrPoint.reserve(2);
    bool visible = true;
    double x0 = 0, x1 = 0, y = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            if (Keeps(modelSpace, visible)) m_vecLine.push_back(std::move(rec));
            return;
        case 10: ReadGroupDouble(file, x0); break;
        case 11: ReadGroupDouble(file, x1); break;
        case 20:
        case 21:
            ReadGroupDouble(file, y);
            rec.arrPoint.emplace_back(DxfCoord(base.X + (code == 20 ? x0 : x1)),
                                      DxfCoord(base.Y + y));
            break;
        DXF_COMMON_GROUPS(rec)
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserLWPolyline(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                      Gdiplus::PointF& base) {
    tagPolyline rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    bool mirrored = false;
    int flags = 0;
    tagPolyPoint vertex;
    // The vertices' x as the file gives them: the extrusion that says which
    // way x runs comes after them. One list per thread serves every
    // polyline.
    thread_local std::vector<double> xs;
    if (xs.capacity() > (1u << 16)) std::vector<double>().swap(xs);
    xs.clear();
    bool pending = false;
    double d = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            if (!Keeps(modelSpace, visible)) return;
            if (pending) rec.arrVertex.push_back(vertex);
            // Mirrored, an arc that turned counter-clockwise turns clockwise.
            for (size_t i = 0; i < rec.arrVertex.size(); ++i) {
                rec.arrVertex[i].x = DxfCoord(base.X + (mirrored ? -xs[i] : xs[i]));
                if (mirrored) rec.arrVertex[i].dBulge = -rec.arrVertex[i].dBulge;
            }
            // Bit value 1 closes the outline (128, the line-type generation
            // flag, may be set beside it).
            if ((flags & 1) && !rec.arrVertex.empty()) rec.arrVertex.push_back(rec.arrVertex.front());
            m_vecPolyline.push_back(std::move(rec));
            return;
        case 70: ReadGroupValue(file, value, false); flags = DxfToInt(value); break;
        case 90: {
            // The vertex count, a hint for the room the vertices need (held
            // small: the vertices that follow decide).
            int count = 0;
            ReadGroupInt(file, count);
            if (rec.arrVertex.empty() && count > 0) rec.arrVertex.reserve(std::min(count, 4096) + 1);
            break;
        }
        case 230: ReadGroupDouble(file, d); mirrored = FromBelow(d); break;
        case 10:
            if (pending) rec.arrVertex.push_back(vertex);
            ReadGroupDouble(file, d);
            vertex = tagPolyPoint();
            xs.push_back(d);
            pending = true;
            break;
        case 20:
            ReadGroupDouble(file, d);
            vertex.y = DxfCoord(base.Y + d);
            vertex.dBulge = 0.0;
            break;
        case 42:
            ReadGroupDouble(file, d);
            vertex.dBulge = std::fabs(d) >= 0.0001 ? d : 0.0;
            break;
        DXF_COMMON_GROUPS(rec)
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserPolyline(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                    Gdiplus::PointF& base) {
    tagDxfEntityHead rec;
    bool visible = true;
    int flags = 0;
    bool mirrored = false;
    double d = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0: {
            const int before = file->nPos;
            CString name;
            ReadGroupValue(file, name, false);
            if (!Keeps(modelSpace, visible)) {
                if (name == L"SEQEND")
                    file->nPos = before;
                else
                    SkipToSeqend(file);
                return;
            }
            if (name == L"VERTEX") {
                CString layer(rec.strLayer);
                // Flag 64: a polyface mesh, whose vertices are drawing
                // coordinates and whose face records are no vertices.
                if (flags & 64)
                    ParserPolyface(file, placement, layer, blockName, base);
                else
                    ParserVertex(file, modelSpace, placement, (flags & 1) != 0, layer, blockName, base, mirrored);
            } else {
                // Not a vertex list: no record, and the name is the next entity.
                file->nPos = before;
            }
            return;
        }
        case 70:
            ReadGroupValue(file, value, false);
            flags = DxfToInt(value);
            break;
        case 230: ReadGroupDouble(file, d); mirrored = FromBelow(d); break;
        case 100:
            ReadGroupValue(file, value, false);
            if (value == L"AcDb3dPolyline") {
                SkipToSeqend(file);
                return;
            }
            break;
        DXF_COMMON_GROUPS(rec)
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserVertex(MYFILE* file, bool, tagZoomRotate placement, bool closed, CString& layer,
                                  CString& blockName, Gdiplus::PointF& base, bool mirrored) {
    tagPolyline rec;
    rec.strBlockName = blockName.GetString();
    rec.strLayer = layer.GetString();
    rec.zoomRotate = placement;
    tagPolyPoint vertex;
    double d = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0: {
            rec.arrVertex.push_back(vertex);
            vertex = tagPolyPoint();
            const int before = file->nPos;
            ReadGroupValue(file, value, false);
            if (value == L"VERTEX") break;
            // SEQEND ends the list; any other entity means it was missing.
            rec.bClosed = closed;
            m_vecPolyline.push_back(std::move(rec));
            file->nPos = before;
            return;
        }
        case 10: ReadGroupDouble(file, d); vertex.x = DxfCoord(base.X + (mirrored ? -d : d)); break;
        case 20:
            ReadGroupDouble(file, d);
            vertex.y = DxfCoord(base.Y + d);
            vertex.dBulge = 0.0;
            break;
        case 42:
            ReadGroupDouble(file, d);
            vertex.dBulge = std::fabs(d) >= 0.0001 ? (mirrored ? -d : d) : 0.0;
            break;
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserPolyface(MYFILE* file, tagZoomRotate placement, CString& layer, CString& blockName,
                                    Gdiplus::PointF& base) {
    // Mesh vertices come first (flag 64), then face records (flag 128
    // without 64) naming up to four vertices by number from 1; a negative
    // number hides the edge that starts at that vertex.
    std::vector<Gdiplus::PointF> vertices;
    std::vector<std::array<int, 4>> faces;
    int flags = 0;
    double x = 0, y = 0;
    std::array<int, 4> index{};
    bool hasIndex = false;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0: {
            if (hasIndex && !(flags & 64))
                faces.push_back(index);
            else
                vertices.emplace_back(DxfCoord(base.X + x), DxfCoord(base.Y + y));
            flags = 0;
            x = y = 0;
            index = {};
            hasIndex = false;
            const int before = file->nPos;
            ReadGroupValue(file, value, false);
            if (value == L"VERTEX") break;
            file->nPos = before;
            AppendFaceEdges(vertices, faces, placement, layer, blockName);
            return;
        }
        case 10: ReadGroupDouble(file, x); break;
        case 20: ReadGroupDouble(file, y); break;
        case 70: ReadGroupValue(file, value, false); flags = DxfToInt(value); break;
        case 71:
        case 72:
        case 73:
        case 74:
            ReadGroupValue(file, value, false);
            index[static_cast<size_t>(code - 71)] = DxfToInt(value);
            hasIndex = true;
            break;
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::AppendFaceEdges(const std::vector<Gdiplus::PointF>& vertices,
                                     const std::vector<std::array<int, 4>>& faces, const tagZoomRotate& placement,
                                     const CString& layer, const CString& blockName) {
    tagPolyline chain;
    chain.zoomRotate = placement;
    chain.strLayer = layer.GetString();
    chain.strBlockName = blockName.GetString();
    const auto add = [&chain, &vertices](size_t i) {
        tagPolyPoint v;
        v.x = vertices[i].X;
        v.y = vertices[i].Y;
        chain.arrVertex.push_back(v);
    };
    const auto flush = [this, &chain](bool closed) {
        if (chain.arrVertex.size() >= 2) {
            chain.bClosed = closed;
            m_vecPolyline.push_back(chain);
        }
        chain.arrVertex.clear();
    };
    // An edge two faces share is drawn once.
    std::set<std::pair<size_t, size_t>> drawn;
    for (const std::array<int, 4>& face : faces) {
        size_t corner[4];
        bool visible[4];
        size_t n = 0;
        bool valid = true;
        for (const int number : face) {
            if (number == 0) continue;
            const int64_t i = std::llabs(static_cast<int64_t>(number)) - 1;
            if (i >= static_cast<int64_t>(vertices.size())) valid = false;
            corner[n] = static_cast<size_t>(i);
            visible[n++] = number > 0;
        }
        if (!valid || n < 2) continue;
        // Which of the face's edges are drawn here.
        bool fresh[4];
        size_t freshCount = 0;
        for (size_t k = 0; k < n; ++k) {
            const size_t a = corner[k], b = corner[(k + 1) % n];
            fresh[k] = visible[k] && a != b && drawn.insert({std::min(a, b), std::max(a, b)}).second;
            freshCount += fresh[k];
        }
        if (freshCount == n && n >= 3) {
            for (size_t k = 0; k < n; ++k) add(corner[k]);
            flush(true);
            continue;
        }
        // Runs of drawn edges, starting after an edge that is not drawn.
        size_t start = n;
        for (size_t k = 0; k < n && start == n; ++k)
            if (fresh[k] && !fresh[(k + n - 1) % n]) start = k;
        if (start == n) continue;
        for (size_t j = 0; j < n; ++j) {
            const size_t k = (start + j) % n;
            if (!fresh[k]) {
                flush(false);
                continue;
            }
            if (chain.arrVertex.empty()) add(corner[k]);
            add(corner[(k + 1) % n]);
        }
        flush(false);
    }
}

void CParserDxfFile::ParserSolid(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                 Gdiplus::PointF& base) {
    tagSolid rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    bool mirrored = false;
    double x = 0, d = 0;
    // The corners' x as the file gives them (the extrusion comes after them),
    // in outline order.
    std::vector<double> xs;
    CString code, value;
    while (file->nPos < file->nSize) {
        ReadGroupValue(file, code, false);
        code.Trim();
        if (code == L"0") {
            if (!Keeps(modelSpace, visible) || rec.arrPoint.empty()) return;
            for (size_t i = 0; i < rec.arrPoint.size(); ++i)
                rec.arrPoint[i].X = DxfCoord(base.X + (mirrored ? -xs[i] : xs[i]));
            rec.arrPoint.push_back(rec.arrPoint.front());
            m_vecSolid.push_back(std::move(rec));
            return;
        }
        if (code == L"10" || code == L"11" || code == L"12" || code == L"13") {
            ReadGroupDouble(file, x);
        } else if (code == L"20" || code == L"21" || code == L"22" || code == L"23") {
            ReadGroupDouble(file, d);
            const Gdiplus::PointF corner(0.0f, DxfCoord(base.Y + d));
            if (code == L"23" && rec.arrPoint.size() >= 3) {
                rec.arrPoint.insert(rec.arrPoint.end() - 1, corner);
                xs.insert(xs.end() - 1, x);
            } else {
                rec.arrPoint.push_back(corner);
                xs.push_back(x);
            }
        } else if (code == L"230") {
            ReadGroupValue(file, value, false);
            rec.nExtrusionZ = DxfToInt(value);
            mirrored = FromBelow(DxfToDouble(value));
        } else if (code == L"8") {
            ReadGroupValue(file, value, m_bUtf8);
            rec.strLayer = value.GetString();
        } else if (code == L"60") {
            ReadGroupValue(file, value, false);
            if (DxfToInt(value) == 1) visible = false;
        } else if (code == L"67") {
            ReadGroupValue(file, value, false);
            modelSpace = DxfToInt(value) == 0;
        } else {
            ReadGroupValue(file, value, false);
        }
    }
}

void CParserDxfFile::ParserPoint(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                 Gdiplus::PointF& base) {
    tagDxfPt rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    double x = 0, y = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            rec.ptPos = Gdiplus::PointF(DxfCoord(base.X + x), DxfCoord(base.Y + y));
            if (Keeps(modelSpace, visible)) m_vecPoint.push_back(std::move(rec));
            return;
        case 10: ReadGroupDouble(file, x); break;
        case 20: ReadGroupDouble(file, y); break;
        DXF_COMMON_GROUPS(rec)
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserText(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                Gdiplus::PointF& base) {
    tagText rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    bool hasSecond = false;
    // An ATTDEF justifies vertically by group 74; its group 73 is a field
    // length.
    bool attdef = false;
    int16_t just73 = 0, just74 = 0;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0, d = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            if (!Keeps(modelSpace, visible) || rec.strText.empty()) return;
            rec.nVertJust = attdef ? just74 : just73;
            if (rec.bMirrored) {
                x1 = -x1;
                x2 = -x2;
            }
            rec.ptFirst = Gdiplus::PointF(DxfCoord(base.X + x1), DxfCoord(base.Y + y1));
            // The second point is where a justified text is anchored and what
            // it turns about; a text without one turns about its first point.
            rec.ptSecond = hasSecond
                               ? Gdiplus::PointF(DxfCoord(base.X + x2), DxfCoord(base.Y + y2))
                               : rec.ptFirst;
            m_vecText.push_back(std::move(rec));
            return;
        case 230: ReadGroupDouble(file, d); rec.bMirrored = FromBelow(d); break;
        case 10: ReadGroupDouble(file, x1); break;
        case 20: ReadGroupDouble(file, y1); break;
        case 11: ReadGroupDouble(file, x2); hasSecond = true; break;
        case 21: ReadGroupDouble(file, y2); hasSecond = true; break;
        case 40: ReadGroupDouble(file, d); rec.fHeight = DxfCoord(d); break;
        case 50: ReadGroupDouble(file, d); rec.fRotate = DxfCoord(d); break;
        case 71: ReadGroupValue(file, value, false); rec.nGenFlags = static_cast<int16_t>(DxfToInt(value)); break;
        case 72: ReadGroupValue(file, value, false); rec.nHorzJust = static_cast<int16_t>(DxfToInt(value)); break;
        case 73: ReadGroupValue(file, value, false); just73 = static_cast<int16_t>(DxfToInt(value)); break;
        case 74:
            ReadGroupValue(file, value, false);
            just74 = static_cast<int16_t>(DxfToInt(value));
            attdef = true;
            break;
        case 100:
            ReadGroupValue(file, value, false);
            if (value == L"AcDbAttributeDefinition") attdef = true;
            break;
        case 41: ReadGroupDouble(file, d); rec.fWidthFactor = DxfCoord(d); break;
        case 51: ReadGroupDouble(file, d); rec.fOblique = DxfCoord(d); break;
        case 1:
            ReadGroupValue(file, value, m_bUtf8);
            rec.strText = value.GetString();
            break;
        DXF_COMMON_GROUPS(rec)
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserMText(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                 Gdiplus::PointF& base) {
    tagMText rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    double x = 0, y = 0, d = 0;
    float dirX = 1.0f;
    CString text;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            if (!Keeps(modelSpace, visible)) return;
            rec.ptInsert = Gdiplus::PointF(DxfCoord(base.X + x), DxfCoord(base.Y + y));
            m_vecMText.push_back(std::move(rec));
            return;
        case 10: ReadGroupDouble(file, x); break;
        case 20: ReadGroupDouble(file, y); break;
        case 40: ReadGroupDouble(file, d); rec.fHeight = DxfCoord(d); break;
        case 41: ReadGroupDouble(file, d); rec.fRefWidth = DxfCoord(d); break;
        case 71: ReadGroupValue(file, value, false); rec.nAttach = static_cast<int16_t>(DxfToInt(value)); break;
        case 72: ReadGroupValue(file, value, false); rec.nDirection = static_cast<int16_t>(DxfToInt(value)); break;
        case 3:
            ReadGroupValue(file, value, m_bUtf8);
            text += value;
            break;
        case 1:
            ReadGroupValue(file, value, m_bUtf8);
            text += value;
            ParserFormatedMtext(text, rec);
            break;
        case 11: ReadGroupDouble(file, d); dirX = DxfCoord(d); break;
        case 21: {
            ReadGroupDouble(file, d);
            const float dy = DxfCoord(d);
            // The direction should be a unit vector; clamping keeps a sloppy
            // one from giving NaN.
            const float sx = std::clamp(dirX, -1.0f, 1.0f), sy = std::clamp(dy, -1.0f, 1.0f);
            constexpr float kPi = 3.1415926f;
            if (dirX >= 0 && dy >= 0) rec.fRotate = std::asin(sy) / kPi * 180.0f;
            if (dirX >= 0 && dy <= 0) rec.fRotate = -std::acos(sx) / kPi * 180.0f;
            if (dirX <= 0 && dy >= 0) rec.fRotate = std::acos(sx) / kPi * 180.0f;
            if (dirX <= 0 && dy <= 0) rec.fRotate = -std::acos(sx) / kPi * 180.0f;
            break;
        }
        DXF_COMMON_GROUPS(rec)
        default: SkipGroupValue(file); break;
        }
    }
}

void CParserDxfFile::ParserSpline(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                  Gdiplus::PointF& base) {
    tagDxfEntityHead rec;
    bool visible = true;
    int flags = 0, degree = 3, knotCount = -1, controlCount = -1;
    std::vector<double> knots;
    std::vector<tagPolyPoint> controls;
    bool current = false;  // the last group 10 started a kept control point
    // Fit points (up to the count of group 74 when it is given) and the end
    // tangents.
    int fitCount = -1;
    std::vector<Gdiplus::PointF> fit;
    bool fitCurrent = false;
    Gdiplus::PointF tangents[2];
    bool hasTangent[2] = {false, false};
    double d = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            if (!Keeps(modelSpace, visible)) return;
            if (controls.size() < 2 && fit.size() >= 2) {
                // Only fit points: the curve runs through them.
                ParserFitPointsToLine(placement, fit, hasTangent[0] ? &tangents[0] : nullptr,
                                      hasTangent[1] ? &tangents[1] : nullptr, CString(rec.strLayer),
                                      (flags & 1) != 0, blockName);
                return;
            }
            ParserNURBSToLine(placement, degree, static_cast<int>(controls.size()), static_cast<int>(knots.size()),
                              controls.data(), knots.data(), CString(rec.strLayer), (flags & 1) != 0, blockName);
            return;
        case 74: ReadGroupValue(file, value, false); fitCount = DxfToInt(value); break;
        case 11:
            ReadGroupDouble(file, d);
            fitCurrent = fitCount < 0 || static_cast<int64_t>(fit.size()) < fitCount;
            if (fitCurrent) fit.emplace_back(DxfCoord(base.X + d), 0.0f);
            break;
        case 21:
            ReadGroupDouble(file, d);
            if (fitCurrent) fit.back().Y = DxfCoord(base.Y + d);
            break;
        case 12:
        case 13:
            ReadGroupDouble(file, d);
            tangents[code - 12].X = DxfCoord(d);
            hasTangent[code - 12] = true;
            break;
        case 22:
        case 23:
            ReadGroupDouble(file, d);
            tangents[code - 22].Y = DxfCoord(d);
            hasTangent[code - 22] = true;
            break;
        case 70: ReadGroupValue(file, value, false); flags = DxfToInt(value); break;
        case 71: ReadGroupValue(file, value, false); degree = DxfToInt(value); break;
        case 72: ReadGroupValue(file, value, false); knotCount = DxfToInt(value); break;
        case 73: ReadGroupValue(file, value, false); controlCount = DxfToInt(value); break;
        case 40:
            ReadGroupDouble(file, d);
            if (static_cast<int64_t>(knots.size()) < knotCount) knots.push_back(d);
            break;
        case 10:
            ReadGroupDouble(file, d);
            current = static_cast<int64_t>(controls.size()) < controlCount;
            if (current) {
                controls.emplace_back();
                controls.back().x = DxfCoord(base.X + d);
            }
            break;
        case 20:
            ReadGroupDouble(file, d);
            if (current) controls.back().y = DxfCoord(base.Y + d);
            break;
        case 41:
            ReadGroupDouble(file, d);
            if (current) controls.back().dWeight = d;
            break;
        DXF_COMMON_GROUPS(rec)
        default: SkipGroupValue(file); break;
        }
    }
}

// ---- splines -----------------------------------------------------------------

int CParserDxfFile::WhichInterval(double t, const double* knots, int knotCount, int start) {
    for (int i = std::max(start, 0);; ++i) {
        if (i > knotCount - 1) return knotCount - 1;
        if (knots[i] > t) return i - 1;
    }
}

tagPolyPoint CParserDxfFile::DeBoor(int level, int degree, int interval, double t, const double* knots,
                                    const tagPolyPoint* controls) {
    // The recursion D(k, i) = a D(k-1, i) + (1 - a) D(k-1, i-1) evaluated level
    // by level: the caller guarantees that controls[interval - level ..
    // interval] and knots[interval - level .. interval + degree] exist.
    if (level <= 0) return controls[interval];
    std::vector<double> x(static_cast<size_t>(level) + 1), y(x.size()), w(x.size());
    for (int j = 0; j <= level; ++j) {
        const tagPolyPoint& c = controls[interval - level + j];
        x[static_cast<size_t>(j)] = c.x;
        y[static_cast<size_t>(j)] = c.y;
        w[static_cast<size_t>(j)] = c.dWeight;
    }
    for (int k = 1; k <= level; ++k) {
        for (int j = level; j >= k; --j) {
            const int i = interval - level + j;
            const double den = knots[i + degree + 1 - k] - knots[i];
            const double a = den == 0.0 ? 0.0 : (t - knots[i]) / den;
            const size_t s = static_cast<size_t>(j);
            x[s] = a * x[s] + (1 - a) * x[s - 1];
            y[s] = a * y[s] + (1 - a) * y[s - 1];
            w[s] = a * w[s] + (1 - a) * w[s - 1];
        }
    }
    tagPolyPoint p;
    p.x = DxfCoord(x.back());
    p.y = DxfCoord(y.back());
    p.dWeight = w.back();
    return p;
}

void CParserDxfFile::ParserNURBSToLine(tagZoomRotate placement, int degree, int controlCount, int knotCount,
                                       const tagPolyPoint* controls, const double* knots, CString layer,
                                       bool closed, CString blockName) {
    tagPolyline rec;
    rec.zoomRotate = placement;
    rec.strBlockName = blockName.GetString();
    rec.strLayer = layer.GetString();
    rec.bClosed = closed;
    const int p = degree, n = controlCount, m = knotCount;
    const bool valid = controls && knots && p >= 1 && p <= kMaxSplineDegree && n >= p + 1 && m >= n + p + 1 &&
                       knots[n] > knots[p];
    if (!valid) {
        // Too few knots or control points for the degree: the control
        // polygon is the best the data allow.
        if (!controls || n < 2) return;
        for (int i = 0; i < n; ++i) {
            tagPolyPoint v = controls[i];
            v.dBulge = 0.0;
            rec.arrVertex.push_back(v);
        }
        m_vecPolyline.push_back(std::move(rec));
        return;
    }
    const double step = (knots[n] - knots[p]) / (3.0 * m);
    int interval = 1;
    // Bounded as well by the count of steps, in case the step is lost in
    // the rounding of large knot values.
    const int64_t maxSamples = 3 * static_cast<int64_t>(m) + 2;
    int64_t count = 0;
    // t is computed from the step count, so that rounding does not add a
    // sample just below the end.
    for (double t = knots[p]; t < knots[n] && count < maxSamples; ++count, t = knots[p] + count * step) {
        interval = std::clamp(WhichInterval(t, knots, m, interval), p, n - 1);
        rec.arrVertex.push_back(DeBoor(p, p, interval, t, knots, controls));
        rec.arrVertex.back().dBulge = 0.0;
    }
    rec.arrVertex.push_back(DeBoor(p, p, n - 1, knots[n], knots, controls));
    rec.arrVertex.back().dBulge = 0.0;
    m_vecPolyline.push_back(std::move(rec));
}

namespace {

// The curve's points and second derivatives, two coordinates at once.
using Vec2 = std::array<double, 2>;

// Solves the tridiagonal system sub[i] x[i-1] + diag[i] x[i] + sup[i] x[i+1]
// = rhs[i] (sub[0] and sup[n-1] unused) in place of rhs. The systems of the
// cubic are diagonally dominant, so no pivoting is needed.
void SolveTridiagonal(const std::vector<double>& sub, std::vector<double> diag, const std::vector<double>& sup,
                      std::vector<Vec2>& rhs) {
    const size_t n = diag.size();
    for (size_t i = 1; i < n; ++i) {
        const double f = sub[i] / diag[i - 1];
        diag[i] -= f * sup[i - 1];
        for (int k = 0; k < 2; ++k) rhs[i][k] -= f * rhs[i - 1][k];
    }
    for (int k = 0; k < 2; ++k) rhs[n - 1][k] /= diag[n - 1];
    for (size_t i = n - 1; i-- > 0;) {
        for (int k = 0; k < 2; ++k) rhs[i][k] = (rhs[i][k] - sup[i] * rhs[i + 1][k]) / diag[i];
    }
}

// The same for a cyclic system (sub[0] couples x[n-1] into the first row,
// sup[n-1] x[0] into the last), n >= 3, by the Sherman-Morrison correction.
void SolveCyclic(const std::vector<double>& sub, const std::vector<double>& diag, const std::vector<double>& sup,
                 std::vector<Vec2>& rhs) {
    const size_t n = diag.size();
    const double alpha = sup[n - 1], beta = sub[0], gamma = -diag[0];
    std::vector<double> d = diag;
    d[0] -= gamma;
    d[n - 1] -= alpha * beta / gamma;
    SolveTridiagonal(sub, d, sup, rhs);
    std::vector<Vec2> z(n, Vec2{0.0, 0.0});
    z[0] = {gamma, gamma};
    z[n - 1] = {alpha, alpha};
    SolveTridiagonal(sub, d, sup, z);
    for (int k = 0; k < 2; ++k) {
        const double f = (rhs[0][k] + beta * rhs[n - 1][k] / gamma) / (1.0 + z[0][k] + beta * z[n - 1][k] / gamma);
        for (size_t i = 0; i < n; ++i) rhs[i][k] -= f * z[i][k];
    }
}

// How far a sampled span may stray from the curve, in drawing units, and the
// most samples one span gets.
constexpr double kFitTolerance = 0.001;
constexpr int kMaxSpanSamples = 64;

}  // namespace

void CParserDxfFile::ParserFitPointsToLine(tagZoomRotate placement, const std::vector<Gdiplus::PointF>& fit,
                                           const Gdiplus::PointF* startTangent, const Gdiplus::PointF* endTangent,
                                           CString layer, bool closed, CString blockName) {
    // Repeated points (and, closed, a last point on the first) add nothing.
    std::vector<Vec2> p;
    for (const Gdiplus::PointF& f : fit) {
        const Vec2 v{f.X, f.Y};
        if (p.empty() || v != p.back()) p.push_back(v);
    }
    if (closed && p.size() > 1 && p.back() == p.front()) p.pop_back();
    if (p.size() < 2) return;
    // A closed curve through fewer than three points is the open one, closed
    // by a straight edge.
    const bool periodic = closed && p.size() >= 3;
    const size_t count = p.size();
    const size_t spans = periodic ? count : count - 1;
    const auto next = [&](size_t i) { return periodic ? (i + 1) % count : i + 1; };

    // Chord lengths are the parameter steps; d[i] is the chord's direction.
    std::vector<double> h(spans);
    std::vector<Vec2> d(spans);
    for (size_t i = 0; i < spans; ++i) {
        const Vec2& a = p[i];
        const Vec2& b = p[next(i)];
        h[i] = std::hypot(b[0] - a[0], b[1] - a[1]);
        if (!(h[i] > 0.0) || !std::isfinite(h[i])) return;
        d[i] = {(b[0] - a[0]) / h[i], (b[1] - a[1]) / h[i]};
    }
    // The tangents the file gives are directions; with chord-length
    // parameters the curve runs at unit speed, so they are taken as unit
    // vectors.
    const auto unit = [](const Gdiplus::PointF* t, Vec2& out) {
        if (!t) return false;
        const double length = std::hypot(double{t->X}, double{t->Y});
        if (!(length > 0.0) || !std::isfinite(length)) return false;
        out = {t->X / length, t->Y / length};
        return true;
    };

    // Second derivatives m[i] at the points: continuity of the first
    // derivative at every inner point, and at the ends either the given
    // tangent or no bending.
    std::vector<double> sub(count, 0.0), diag(count, 1.0), sup(count, 0.0);
    std::vector<Vec2> m(count, Vec2{0.0, 0.0});
    for (size_t i = 0; i < count; ++i) {
        const bool inner = periodic || (i > 0 && i + 1 < count);
        if (!inner) continue;
        const size_t before = periodic ? (i + spans - 1) % spans : i - 1;
        sub[i] = h[before];
        diag[i] = 2.0 * (h[before] + h[i]);
        sup[i] = h[i];
        for (int k = 0; k < 2; ++k) m[i][k] = 6.0 * (d[i][k] - d[before][k]);
    }
    if (!periodic) {
        Vec2 t;
        if (unit(startTangent, t)) {
            diag[0] = 2.0 * h[0];
            sup[0] = h[0];
            for (int k = 0; k < 2; ++k) m[0][k] = 6.0 * (d[0][k] - t[k]);
        }
        if (unit(endTangent, t)) {
            const size_t last = count - 1;
            sub[last] = h[last - 1];
            diag[last] = 2.0 * h[last - 1];
            for (int k = 0; k < 2; ++k) m[last][k] = 6.0 * (t[k] - d[last - 1][k]);
        }
        SolveTridiagonal(sub, diag, sup, m);
    } else {
        SolveCyclic(sub, diag, sup, m);
    }

    tagPolyline rec;
    rec.zoomRotate = placement;
    rec.strBlockName = blockName.GetString();
    rec.strLayer = layer.GetString();
    // A closed curve ends on its first point, which the builder adds.
    rec.bClosed = periodic;
    const auto add = [&rec](double x, double y) {
        tagPolyPoint v;
        v.x = DxfCoord(x);
        v.y = DxfCoord(y);
        rec.arrVertex.push_back(v);
    };
    for (size_t i = 0; i < spans; ++i) {
        const Vec2 &a = p[i], &b = p[next(i)], &ma = m[i], &mb = m[next(i)];
        // Chord error of n samples: (h / n)^2 / 8 times the largest bending.
        const double bend = std::max(std::hypot(ma[0], ma[1]), std::hypot(mb[0], mb[1]));
        const double wanted = std::ceil(h[i] * std::sqrt(bend / (8.0 * kFitTolerance)));
        const int samples = std::isfinite(wanted) ? static_cast<int>(std::clamp(wanted, 1.0, double{kMaxSpanSamples}))
                                                  : kMaxSpanSamples;
        for (int k = 0; k < samples; ++k) {
            const double u = static_cast<double>(k) / samples, w = 1.0 - u;
            const double hh = h[i] * h[i] / 6.0;
            add(w * a[0] + u * b[0] + ((w * w * w - w) * ma[0] + (u * u * u - u) * mb[0]) * hh,
                w * a[1] + u * b[1] + ((w * w * w - w) * ma[1] + (u * u * u - u) * mb[1]) * hh);
        }
    }
    if (!periodic) add(p.back()[0], p.back()[1]);
    m_vecPolyline.push_back(std::move(rec));
}

// ---- formatted text ----------------------------------------------------------

void CParserDxfFile::GetFontName(const CString& formatted, CString& face) {
    int at = formatted.Find(L"\\f");
    if (at < 0) at = formatted.Find(L"\\F");
    // The face name ends at the first "|" after the font code.
    const int bar = at < 0 ? -1 : formatted.Find(L'|', at + 2);
    if (at < 0 || bar < 0) {
        face = L"Arial";
        return;
    }
    const std::wstring name = formatted.Mid(at + 2, bar - at - 2).GetString();
    const auto& table = FontFaceTable();
    const auto it = table.find(name);
    if (it != table.end())
        face = it->second.c_str();
    else if (name.size() > 1 && name[0] == L'@')
        face = name.substr(1).c_str();
    else
        face = name.c_str();
}

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r'; }
bool IsLineEnd(wchar_t c) { return c == L'\n' || c == L'\r' || c == 0x2028 || c == 0x2029; }

// A matcher gives the length of the match that starts at i, 0 for none.
using Matcher = size_t (*)(const std::wstring&, size_t);

// Replaces every match, left to right, without overlaps.
void ReplaceAll(std::wstring& text, Matcher match, const wchar_t* replacement) {
    std::wstring out;
    bool changed = false;
    for (size_t i = 0; i < text.size();) {
        const size_t length = match(text, i);
        if (length) {
            out += replacement;
            i += length;
            changed = true;
        } else {
            out.push_back(text[i++]);
        }
    }
    if (changed) text.swap(out);
}

bool HasPrefix(const std::wstring& t, size_t i, const wchar_t* prefix) {
    return t.compare(i, std::wcslen(prefix), prefix) == 0;
}

// prefix, one or more non-blanks, the first ';' after them.
size_t PrefixNonBlanksSemicolon(const std::wstring& t, size_t i, const wchar_t* prefix) {
    if (!HasPrefix(t, i, prefix)) return 0;
    const size_t start = i + std::wcslen(prefix);
    for (size_t k = start; k < t.size() && !IsSpace(t[k]); ++k)
        if (t[k] == L';' && k > start) return k + 1 - i;
    return 0;
}

// prefix, anything on the same line, the first ';'.
size_t PrefixAnythingSemicolon(const std::wstring& t, size_t i, size_t prefixLength) {
    for (size_t k = i + prefixLength; k < t.size() && !IsLineEnd(t[k]); ++k)
        if (t[k] == L';') return k + 1 - i;
    return 0;
}

// prefix and digits (at least one; at most maxDigits), then the terminator
// when one is given.
size_t PrefixDigits(const std::wstring& t, size_t i, const wchar_t* prefix, size_t maxDigits, wchar_t terminator) {
    if (!HasPrefix(t, i, prefix)) return 0;
    size_t k = i + std::wcslen(prefix);
    const size_t start = k;
    while (k < t.size() && k - start < maxDigits && IsDigit(t[k])) ++k;
    if (k == start) return 0;
    if (terminator) {
        if (k >= t.size() || t[k] != terminator) return 0;
        ++k;
    }
    return k - i;
}

constexpr size_t kMany = static_cast<size_t>(-1);

// The formatting codes, in the order they are removed.
const Matcher kFormatCodes[] = {
    // tab stops
    [](const std::wstring& t, size_t i) { return PrefixNonBlanksSemicolon(t, i, L"\\pt"); },
    // font changes ("\|" counts as well)
    [](const std::wstring& t, size_t i) -> size_t {
        if (i + 1 >= t.size() || t[i] != L'\\' || (t[i + 1] != L'f' && t[i + 1] != L'F' && t[i + 1] != L'|')) return 0;
        return PrefixAnythingSemicolon(t, i, 2);
    },
    // colour changes
    [](const std::wstring& t, size_t i) { return PrefixDigits(t, i, L"\\C", kMany, L';'); },
    // colour, italic, bold and pitch settings
    [](const std::wstring& t, size_t i) { return PrefixDigits(t, i, L"|c", kMany, 0); },
    [](const std::wstring& t, size_t i) { return PrefixDigits(t, i, L"|i", 1, 0); },
    [](const std::wstring& t, size_t i) { return PrefixDigits(t, i, L"|b", 1, 0); },
    [](const std::wstring& t, size_t i) { return PrefixDigits(t, i, L"|p", kMany, 0); },
    // tracking: \T digits . digits ;
    [](const std::wstring& t, size_t i) -> size_t {
        const size_t whole = PrefixDigits(t, i, L"\\T", kMany, L'.');
        if (!whole) return 0;
        size_t k = i + whole;
        const size_t start = k;
        while (k < t.size() && IsDigit(t[k])) ++k;
        if (k == start || k >= t.size() || t[k] != L';') return 0;
        return k + 1 - i;
    },
    // height and width changes
    [](const std::wstring& t, size_t i) { return PrefixNonBlanksSemicolon(t, i, L"\\H"); },
    [](const std::wstring& t, size_t i) { return PrefixNonBlanksSemicolon(t, i, L"\\W"); },
    // alignment
    [](const std::wstring& t, size_t i) { return PrefixDigits(t, i, L"\\A", 1, L';'); },
    // paragraph indents
    [](const std::wstring& t, size_t i) -> size_t {
        return HasPrefix(t, i, L"\\pi") ? PrefixAnythingSemicolon(t, i, 3) : 0;
    },
};

}  // namespace

bool CParserDxfFile::ParserFormatedMtext(CString& text, tagMText& record) {
    CString face;
    GetFontName(text, face);
    record.strFace = face.GetString();

    CString work = text;
    work.Replace(L"\\\\", L"\\");
    for (const wchar_t* code : {L"\\pxqd;", L"\\pxqc;", L"\\pqc;", L"\\Q1;"}) work.Replace(code, L"");

    const std::wstring in = work.GetString();
    std::wstring out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        const wchar_t c = in[i];
        if (c == L'\\' && i + 1 < in.size() && (in[i + 1] == L'{' || in[i + 1] == L'}')) {
            out.push_back(in[i + 1]);
            i += 2;
        } else if (c == L'\\' && i + 2 < in.size() && in[i + 1] == L'U' && in[i + 2] == L'+') {
            unsigned unit = 0;
            size_t k = i + 3;
            for (int digits = 0; digits < 4 && k < in.size() && std::iswxdigit(static_cast<wint_t>(in[k])) &&
                                 in[k] < 0x80;
                 ++digits, ++k) {
                const wchar_t h = in[k];
                unit = unit * 16 + static_cast<unsigned>(h <= L'9' ? h - L'0' : (h | 0x20) - L'a' + 10);
            }
            // A pair of surrogate escapes is one character.
            if (unit >= 0xDC00 && unit <= 0xDFFF && !out.empty() && out.back() >= 0xD800 && out.back() <= 0xDBFF)
                out.back() = static_cast<wchar_t>(0x10000 + ((out.back() - 0xD800) << 10) + (unit - 0xDC00));
            else
                out.push_back(static_cast<wchar_t>(unit));
            i = std::min(i + 7, in.size());
        } else if (c == L'{' || c == L'}') {
            ++i;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    CString cleaned(out);
    cleaned.Replace(L"\\~", L" ");

    std::wstring result = cleaned.GetString();
    ReplaceAll(
        result, [](const std::wstring& t, size_t i) -> size_t { return HasPrefix(t, i, L"\\P") ? 2 : 0; }, L"\r\n");
    for (const Matcher match : kFormatCodes) ReplaceAll(result, match, L"");
    record.strText = result;
    return true;
}

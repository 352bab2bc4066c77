// Group-pair reading, the entity readers of the DXF reader, block
// placement, spline sampling and the cleaning of formatted text.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <cwchar>
#include <cwctype>
#include <string_view>

#include "import/dxf_reader.h"

namespace {

// One whole line at the cursor, newline included; false at the end.
bool ReadWholeLine(MYFILE* file, std::string_view& line) {
    if (!file || !file->pBuffer || file->nPos < 0 || file->nPos >= file->nSize) return false;
    const char* start = file->pBuffer + file->nPos;
    const size_t rest = static_cast<size_t>(file->nSize - file->nPos);
    const void* nl = std::memchr(start, '\n', rest);
    const size_t length = nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) + 1 : rest;
    file->nPos += static_cast<int>(length);
    line = std::string_view(start, length);
    return true;
}

// Coordinates are stored as floats: absurd values are held to a range that
// stays finite through a block's offsets and a placement's scaling.
float Coord(double v) {
    if (std::isnan(v)) return 0.0f;
    return static_cast<float>(std::clamp(v, -1e30, 1e30));
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

int ParseInt(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

double ParseDouble(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) return 0.0;
    double v = 0.0;
    const auto r = std::from_chars(s.data() + i, s.data() + s.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(v)) return 0.0;
    return negative ? -v : v;
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

// The most blocks read inside one another.
constexpr size_t kMaxBlockDepth = 32;
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
    const std::string text(line);
    value = utf8 ? CString(Utf8ToWide(text)) : CString(AnsiToWide(text));
    return true;
}

bool ReadGroupDouble(MYFILE* file, double& value) {
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
    if (name == L"ARC" || name == L"CIRCLE")
        ParserArc(file, modelSpace, placement, blockName, b);
    else if (name == L"DIMENSION")
        ParserDimension(file, modelSpace, placement, blockName, b);
    else if (name == L"ELLIPSE")
        ParserEllipse(file, modelSpace, placement, blockName, b);
    else if (name == L"INSERT") {
        // Every block must be recorded before one is looked up.
        if (m_pBlocksThread) WaitForSingleObject(m_pBlocksThread, INFINITE);
        ParserInsert(file, modelSpace, placement, blockName, b);
    } else if (name == L"LEADER")
        ParserLeader(file, modelSpace, placement, blockName, b);
    else if (name == L"LINE")
        ParserLine(file, modelSpace, placement, blockName, b);
    else if (name == L"LWPOLYLINE")
        ParserLWPolyline(file, modelSpace, placement, blockName, b);
    else if (name == L"MTEXT")
        ParserMText(file, modelSpace, placement, blockName, b);
    else if (name == L"POINT")
        ParserPoint(file, modelSpace, placement, blockName, b);
    else if (name == L"POLYLINE")
        ParserPolyline(file, modelSpace, placement, blockName, b);
    else if (name == L"SOLID")
        ParserSolid(file, modelSpace, placement, blockName, b);
    else if (name == L"SPLINE")
        ParserSpline(file, modelSpace, placement, blockName, b);
    else if (name == L"TEXT" || name == L"ATTDEF")
        ParserText(file, modelSpace, placement, blockName, b);
    else {
        int code = 0;
        CString value;
        while (ReadGroupCode(file, code) && code != 0) ReadGroupValue(file, value, false);
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
            rec.ptCenter = Gdiplus::PointF(Coord(mirrored ? base.X - cx : base.X + cx),
                                           Coord(base.Y + cy));
            if (mirrored) rec.bCounterClockwise = 0;
            if (!Keeps(modelSpace, visible)) return;
            if (!rec.bCounterClockwise) {
                for (double* a : {&rec.dStartAngle, &rec.dEndAngle}) *a = *a > 180.0 ? 540.0 - *a : 180.0 - *a;
            }
            if (std::fabs(rec.dEndAngle - rec.dStartAngle) > 0.001) m_vecArc.push_back(rec);
            return;
        }
        case 10: ReadGroupDouble(file, cx); break;
        case 20: ReadGroupDouble(file, cy); break;
        case 40: ReadGroupDouble(file, rec.dRadius); break;
        case 50: ReadGroupDouble(file, rec.dStartAngle); break;
        case 51: ReadGroupDouble(file, rec.dEndAngle); break;
        case 230:
            ReadGroupDouble(file, d);
            mirrored = std::fabs(d + 1.0) <= 0.0001;
            break;
        DXF_COMMON_GROUPS(rec)
        default: ReadGroupValue(file, value, false); break;
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
            if (type >= 0 && type <= 127) m_vecDim.push_back(rec);
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
        default: ReadGroupValue(file, value, false); break;
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
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            rec.ptCenter = Gdiplus::PointF(Coord(base.X + cx), Coord(base.Y + cy));
            rec.ptMajorEnd = Gdiplus::PointF(Coord(base.X + cx + ax), Coord(base.Y + cy + ay));
            if (Keeps(modelSpace, visible)) m_vecEllipse.push_back(rec);
            return;
        case 10: ReadGroupDouble(file, cx); break;
        case 20: ReadGroupDouble(file, cy); break;
        case 11: ReadGroupDouble(file, ax); break;
        case 21: ReadGroupDouble(file, ay); break;
        case 40: ReadGroupDouble(file, d); rec.fRatio = Coord(d); break;
        case 41: ReadGroupDouble(file, d); rec.fStartParam = Coord(d); break;
        case 42: ReadGroupDouble(file, d); rec.fEndParam = Coord(d); break;
        DXF_COMMON_GROUPS(rec)
        default: ReadGroupValue(file, value, false); break;
        }
    }
}

void CParserDxfFile::ParserInsert(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& /*blockName*/,
                                  Gdiplus::PointF& base) {
    Gdiplus::PointF insertBase = base;
    std::wstring name;
    bool visible = true;
    double d = 0;
    int code = 0;
    CString value;
    tagDxfEntityHead unused;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0: {
            if (!Keeps(modelSpace, visible)) return;
            const auto it = m_mapBlockPos.find(name);
            if (it == m_mapBlockPos.end()) return;
            const int64_t pos = it->second;
            // A block that places itself, too deep a nesting or a drawing that
            // has already re-read its blocks far more often than any real
            // drawing does: the placement yields nothing.
            if (std::find(m_vecOpenBlocks.begin(), m_vecOpenBlocks.end(), name) != m_vecOpenBlocks.end() ||
                m_vecOpenBlocks.size() >= kMaxBlockDepth || m_nBlockBudget <= 0 || pos < 0 || pos > file->nSize) {
return;
            }
            const int saved = file->nPos;
            file->nPos = static_cast<int>(pos);
            m_vecOpenBlocks.push_back(name);
            ParserBlock(file, modelSpace, placement, insertBase);
            m_vecOpenBlocks.pop_back();
            m_nBlockBudget -= std::max(0, file->nPos - static_cast<int>(pos));
            file->nPos = saved;
            return;
        }
        case 2:
            ReadGroupValue(file, value, m_bUtf8);
            name = value.GetString();
            break;
        case 10: ReadGroupDouble(file, d); insertBase.X = Coord(insertBase.X + d); break;
        case 20: ReadGroupDouble(file, d); insertBase.Y = Coord(insertBase.Y + d); break;
        case 41: ReadGroupDouble(file, placement.dScaleX); placement.ptBase = insertBase; break;
        case 42: ReadGroupDouble(file, placement.dScaleY); placement.ptBase = insertBase; break;
        case 50: ReadGroupDouble(file, placement.dRotateAngle); placement.ptBase = insertBase; break;
        case 43: ReadGroupDouble(file, placement.dScaleZ); break;
        DXF_COMMON_GROUPS(unused)
        default: ReadGroupValue(file, value, false); break;
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
        default: ReadGroupValue(file, value, false); break;
        }
    }
    const Gdiplus::PointF entityBase(Coord(base.X - bx), Coord(base.Y - by));
    CString name;
    while (file->nPos < file->nSize) {
        ReadGroupValue(file, name, false);
        // A block without its end stops at the end of its section.
        if (name == L"ENDBLK" || name == L"ENDSEC" || name == L"EOF") return;
        ParserEntity(file, modelSpace, placement, name, blockName, &entityBase);
    }
}

void CParserDxfFile::ParserLeader(MYFILE* file, bool, tagZoomRotate, CString&, Gdiplus::PointF&) {
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code) && code != 0) ReadGroupValue(file, value, false);
}

void CParserDxfFile::ParserLine(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                Gdiplus::PointF& base) {
    tagLine rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    double x0 = 0, x1 = 0, y = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            if (Keeps(modelSpace, visible)) m_vecLine.push_back(rec);
            return;
        case 10: ReadGroupDouble(file, x0); break;
        case 11: ReadGroupDouble(file, x1); break;
        case 20:
        case 21:
            ReadGroupDouble(file, y);
            rec.arrPoint.emplace_back(Coord(base.X + (code == 20 ? x0 : x1)),
                                      Coord(base.Y + y));
            break;
        DXF_COMMON_GROUPS(rec)
        default: ReadGroupValue(file, value, false); break;
        }
    }
}

void CParserDxfFile::ParserLWPolyline(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                      Gdiplus::PointF& base) {
    tagPolyline rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    int flags = 0;
    tagPolyPoint vertex;
    bool pending = false;
    double d = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            if (!Keeps(modelSpace, visible)) return;
            if (pending) rec.arrVertex.push_back(vertex);
            // Bit value 1 closes the outline (128, the line-type generation
            // flag, may be set beside it).
            if ((flags & 1) && !rec.arrVertex.empty()) rec.arrVertex.push_back(rec.arrVertex.front());
            m_vecPolyline.push_back(rec);
            return;
        case 70: ReadGroupValue(file, value, false); flags = DxfToInt(value); break;
        case 10:
            if (pending) rec.arrVertex.push_back(vertex);
            ReadGroupDouble(file, d);
            vertex = tagPolyPoint();
            vertex.x = Coord(base.X + d);
            pending = true;
            break;
        case 20:
            ReadGroupDouble(file, d);
            vertex.y = Coord(base.Y + d);
            vertex.dBulge = 0.0;
            break;
        case 42:
            ReadGroupDouble(file, d);
            vertex.dBulge = std::fabs(d) >= 0.0001 ? d : 0.0;
            break;
        DXF_COMMON_GROUPS(rec)
        default: ReadGroupValue(file, value, false); break;
        }
    }
}

void CParserDxfFile::ParserPolyline(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                    Gdiplus::PointF& base) {
    tagDxfEntityHead rec;
    bool visible = true;
    bool closed = false;
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
                ParserVertex(file, modelSpace, placement, closed, layer, blockName, base);
            } else {
                // Not a vertex list: no record, and the name is the next entity.
                file->nPos = before;
            }
            return;
        }
        case 70:
            ReadGroupValue(file, value, false);
            closed = (DxfToInt(value) & 1) != 0;
            break;
        case 100:
            ReadGroupValue(file, value, false);
            if (value == L"AcDb3dPolyline") {
                SkipToSeqend(file);
                return;
            }
            break;
        DXF_COMMON_GROUPS(rec)
        default: ReadGroupValue(file, value, false); break;
        }
    }
}

void CParserDxfFile::ParserVertex(MYFILE* file, bool, tagZoomRotate placement, bool closed, CString& layer,
                                  CString& blockName, Gdiplus::PointF& base) {
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
            m_vecPolyline.push_back(rec);
            file->nPos = before;
            return;
        }
        case 10: ReadGroupDouble(file, d); vertex.x = Coord(base.X + d); break;
        case 20:
            ReadGroupDouble(file, d);
            vertex.y = Coord(base.Y + d);
            vertex.dBulge = 0.0;
            break;
        case 42:
            ReadGroupDouble(file, d);
            vertex.dBulge = std::fabs(d) >= 0.0001 ? d : 0.0;
            break;
        default: ReadGroupValue(file, value, false); break;
        }
    }
}

void CParserDxfFile::ParserSolid(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                                 Gdiplus::PointF& base) {
    tagSolid rec;
    rec.strBlockName = blockName.GetString();
    rec.zoomRotate = placement;
    bool visible = true;
    double x = 0, d = 0;
    Gdiplus::PointF first;
    CString code, value;
    while (file->nPos < file->nSize) {
        ReadGroupValue(file, code, false);
        code.Trim();
        if (code == L"0") {
            if (!Keeps(modelSpace, visible) || rec.arrPoint.empty()) return;
            rec.arrPoint.push_back(first);
            m_vecSolid.push_back(rec);
            return;
        }
        if (code == L"10" || code == L"11" || code == L"12" || code == L"13") {
            ReadGroupDouble(file, x);
        } else if (code == L"20" || code == L"21" || code == L"22" || code == L"23") {
            ReadGroupDouble(file, d);
            const Gdiplus::PointF corner(Coord(base.X + x), Coord(base.Y + d));
            if (rec.arrPoint.empty()) first = corner;
            if (code == L"23" && rec.arrPoint.size() >= 3)
                rec.arrPoint.insert(rec.arrPoint.end() - 1, corner);
            else
                rec.arrPoint.push_back(corner);
        } else if (code == L"230") {
            ReadGroupValue(file, value, false);
            rec.nExtrusionZ = DxfToInt(value);
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
            rec.ptPos = Gdiplus::PointF(Coord(base.X + x), Coord(base.Y + y));
            if (Keeps(modelSpace, visible)) m_vecPoint.push_back(rec);
            return;
        case 10: ReadGroupDouble(file, x); break;
        case 20: ReadGroupDouble(file, y); break;
        DXF_COMMON_GROUPS(rec)
        default: ReadGroupValue(file, value, false); break;
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
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0, d = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            if (!Keeps(modelSpace, visible) || rec.strText.empty()) return;
            rec.ptFirst = Gdiplus::PointF(Coord(base.X + x1), Coord(base.Y + y1));
            // The second point is where a justified text is anchored and what
            // it turns about; a text without one turns about its first point.
            rec.ptSecond = hasSecond
                               ? Gdiplus::PointF(Coord(base.X + x2), Coord(base.Y + y2))
                               : rec.ptFirst;
            m_vecText.push_back(rec);
            return;
        case 10: ReadGroupDouble(file, x1); break;
        case 20: ReadGroupDouble(file, y1); break;
        case 11: ReadGroupDouble(file, x2); hasSecond = true; break;
        case 21: ReadGroupDouble(file, y2); hasSecond = true; break;
        case 40: ReadGroupDouble(file, d); rec.fHeight = Coord(d); break;
        case 50: ReadGroupDouble(file, d); rec.fRotate = Coord(d); break;
        case 71: ReadGroupValue(file, value, false); rec.nGenFlags = static_cast<int16_t>(DxfToInt(value)); break;
        case 72: ReadGroupValue(file, value, false); rec.nHorzJust = static_cast<int16_t>(DxfToInt(value)); break;
        case 1:
            ReadGroupValue(file, value, m_bUtf8);
            rec.strText = value.GetString();
            break;
        DXF_COMMON_GROUPS(rec)
        default: ReadGroupValue(file, value, false); break;
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
            rec.ptInsert = Gdiplus::PointF(Coord(base.X + x), Coord(base.Y + y));
            m_vecMText.push_back(rec);
            return;
        case 10: ReadGroupDouble(file, x); break;
        case 20: ReadGroupDouble(file, y); break;
        case 40: ReadGroupDouble(file, d); rec.fHeight = Coord(d); break;
        case 41: ReadGroupDouble(file, d); rec.fRefWidth = Coord(d); break;
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
        case 11: ReadGroupDouble(file, d); dirX = Coord(d); break;
        case 21: {
            ReadGroupDouble(file, d);
            const float dy = Coord(d);
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
        default: ReadGroupValue(file, value, false); break;
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
    double d = 0;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            if (!Keeps(modelSpace, visible)) return;
            ParserNURBSToLine(placement, degree, static_cast<int>(controls.size()), static_cast<int>(knots.size()),
                              controls.data(), knots.data(), CString(rec.strLayer), (flags & 1) != 0, blockName);
            return;
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
                controls.back().x = Coord(base.X + d);
            }
            break;
        case 20:
            ReadGroupDouble(file, d);
            if (current) controls.back().y = Coord(base.Y + d);
            break;
        case 41:
            ReadGroupDouble(file, d);
            if (current) controls.back().dWeight = d;
            break;
        DXF_COMMON_GROUPS(rec)
        default: ReadGroupValue(file, value, false); break;
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
    p.x = Coord(x.back());
    p.y = Coord(y.back());
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
        m_vecPolyline.push_back(rec);
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
    m_vecPolyline.push_back(rec);
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

// The reading side of the Gerber reader: the line loop, the RS-274D data
// blocks, their interpretation into shapes (moves, draws, arcs, flashes,
// regions) and the final merge of all areas.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "afx/message_box.h"
#include "compose/combine.h"
#include "compose/group.h"
#include "core/points.h"
#include "core/polyline.h"
#include "core/text_utils.h"
#include "host/host_services.h"
#include "import/gerber.h"
#include "import/gerber_geometry.h"

using namespace gerber_detail;

namespace {

constexpr double kPi = 3.1415927;
constexpr double kMinStroke = 0.0001;
// Arcs whose radius is below this are drawn as straight lines.
constexpr double kMinArcRadius = 1e-6;

bool ReadWholeFile(const std::string& path, std::string& text) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    text.clear();
    char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    return !failed;
}

bool IsInterpolation(int g) {
    switch (g) {
        case 0: case 1: case 2: case 3: case 10: case 11: case 12: case 20: case 21: case 30: case 31:
            return true;
        default:
            return false;
    }
}
bool IsClockwise(int g) { return g == 2 || g == 20 || g == 21; }
bool IsCounterClockwise(int g) { return g == 3 || g == 30 || g == 31; }

double AngleDeg(tagPOINTF from, tagPOINTF to) {
    return std::atan2(static_cast<double>(to.y) - from.y, static_cast<double>(to.x) - from.x) * 180.0 / kPi;
}
double Distance(tagPOINTF a, tagPOINTF b) {
    return std::hypot(static_cast<double>(a.x) - b.x, static_cast<double>(a.y) - b.y);
}

// The signed sweep from a0 to a1 (degrees) in the given direction, in
// (0, 360] counter-clockwise and [-360, 0) clockwise; equal angles make a
// full turn unless fullTurn is off (single-quadrant arcs), when they make 0.
double Sweep(double a0, double a1, bool counterClockwise, bool fullTurn) {
    double s = std::fmod(a1 - a0, 360.0);
    if (counterClockwise) {
        if (s < 0) s += 360.0;
        if (s < 1e-9) s = fullTurn ? 360.0 : 0.0;
    } else {
        if (s > 0) s -= 360.0;
        if (s > -1e-9) s = fullTurn ? -360.0 : 0.0;
    }
    return s;
}

void AppendPoint(std::vector<tagPOINTF>& pts, tagPOINTF p) {
    if (pts.empty() || std::fabs(pts.back().x - p.x) > 1e-6f || std::fabs(pts.back().y - p.y) > 1e-6f) {
        pts.push_back(p);
    }
}

}  // namespace

// ---- reading ---------------------------------------------------------------------------

bool CParseGerber::ParseFile(const char* path, CGroupShape* group, int& lineCount) {
    lineCount = 0;
    if (path == nullptr || group == nullptr) {
        return false;
    }
    ResetState();
    const float smooth = group->GetSmoothRatio();
    m_flatness = std::isfinite(smooth) && smooth > 0.0f ? std::max(static_cast<double>(smooth), 1e-4) : 0.01;

    const std::string fullPath(path);
    const size_t slash = fullPath.find_last_of("/\\");
    const std::string fileName = slash == std::string::npos ? fullPath : fullPath.substr(slash + 1);
    group->SetCaption(Utf8ToCString(fileName.c_str()));

    std::string text;
    if (!ReadWholeFile(fullPath, text)) {
        AfxMessageBox(L"文件打开失败");
        return false;
    }
    const std::vector<std::string> lines = SplitByDelimiters(text, "\r\n");
    text.clear();
    lineCount = static_cast<int>(lines.size());

    int polarity = LAYER_DARK;
    for (const std::string& line : lines) {
        ProcessLine(line, false, polarity);
    }
    if (m_bCollectingMacro) {
        // The file ended inside a macro: keep what was collected.
        FinishMacro();
    }

    if (m_vApertures.empty() && m_mapApertureShapes.empty()) {
        ReadApertureFile();
    }

    m_mapMacros.clear();
    const size_t first = group->GetChildren().size();
    InterpretLayers();
    for (GerberShapePtr& shape : m_result) {
        group->GetChildren().push_back(shape.release());
    }
    m_result.clear();
    MergeShapes(group, first);
    group->InvalidateGeometry();

    m_mapApertureShapes.clear();
    m_outline.reset();
    m_flash.reset();
    Console("line count:", lineCount);
    return true;
}

void CParseGerber::ResetState() {
    m_format = GerberFormat();
    m_nAxisSelect = 0;
    m_nUnit = 0;
    m_nMirrorA = 0;
    m_nMirrorB = 0;
    m_strImageName.clear();
    m_nReserved1 = 0;
    m_nReserved2 = 0;
    m_nImagePolarity = 0;
    m_vApertures.clear();
    m_vLayers.clear();
    m_stepRepeat = GerberStepRepeat();
    m_mapMacros.clear();
    m_mapApertureShapes.clear();
    m_bInch = false;
    m_result.clear();
    m_path.clear();
    m_bCollectingMacro = false;
    m_macroName.clear();
    m_macroBody.clear();
}

void CParseGerber::ProcessLine(std::string line, bool paramsOnly, int& polarity) {
    for (;;) {
        if (m_bCollectingMacro) {
            // Macro primitives run on until the closing "%".
            const size_t close = line.find('%');
            m_macroBody += line.substr(0, close);
            if (close == std::string::npos) {
                return;
            }
            FinishMacro();
            line.erase(0, close + 1);
            continue;
        }
        TrimSpaces(line);
        if (line.empty()) {
            return;
        }
        if (IsGerberPara(line)) {
            const size_t close = line.find('%', 1);
            const std::string group = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            ProcessParameterGroup(group, close != std::string::npos, polarity);
            if (close == std::string::npos) {
                return;
            }
            line.erase(0, close + 1);
            continue;
        }
        if (paramsOnly) {
            return;
        }
        // Several "*"-terminated data blocks may share a line.
        size_t start = 0;
        while (start < line.size()) {
            const size_t star = line.find('*', start);
            std::string block = line.substr(start, star == std::string::npos ? std::string::npos : star - start + 1);
            TrimSpaces(block);
            if (!block.empty()) {
                DateBlockRs274dAnalyst(block, polarity);
            }
            if (star == std::string::npos) {
                break;
            }
            start = star + 1;
        }
        return;
    }
}

void CParseGerber::ProcessParameterGroup(std::string group, bool closed, int& polarity) {
    TrimSpaces(group);
    if (group.empty()) {
        return;
    }
    if (group.compare(0, 2, "AM") == 0) {
        if (!DataBlockAnalyst(group, polarity) && closed) {
            FinishMacro();
        }
        return;
    }
    // One "%" group may hold several blocks ("%FSLAX24Y24*MOIN*%").
    size_t start = 0;
    while (start < group.size()) {
        const size_t star = group.find('*', start);
        std::string block = group.substr(start, star == std::string::npos ? std::string::npos : star - start + 1);
        TrimSpaces(block);
        if (!block.empty() && block != "*") {
            DataBlockAnalyst(block, polarity);
        }
        if (star == std::string::npos) {
            break;
        }
        start = star + 1;
    }
}

void CParseGerber::ReadApertureFile() {
    if (AfxMessageBox(L"这是一个RS-274D格式文件,请加载额外的光圈定义文件", MB_OKCANCEL) != IDOK) {
        return;
    }
    std::wstring chosen;
    if (!Host().FileDialog(true, L"ALL Files (*.*)|*.*|", chosen)) {
        return;
    }
    std::string text;
    if (!ReadWholeFile(WideToMultiByteString(CString(chosen.c_str()), CP_UTF8), text)) {
        AfxMessageBox(L"文件打开失败");
        return;
    }
    int polarity = m_vLayers.empty() ? static_cast<int>(LAYER_DARK) : m_vLayers.back().nPolarity;
    for (const std::string& line : SplitByDelimiters(text, "\r\n")) {
        ProcessLine(line, true, polarity);
    }
    if (m_bCollectingMacro) {
        FinishMacro();
    }
}

// ---- data blocks -------------------------------------------------------------------

void CParseGerber::DateBlockRs274dAnalyst(const std::string& line, int polarity) {
    static const std::string kStarts = "DGIJMXY";
    if (line.empty() || kStarts.find(line[0]) == std::string::npos) {
        Console("There is something wrong:", line);
        return;
    }
    Rs274dCodePara block;
    block.strBlock = line;
    block.nPolarity = polarity;
    // The text of a field runs up to the first of the letters that may follow it.
    const auto field = [&](size_t& i, const char* stops) {
        const size_t end = line.find_first_of(stops, i + 1);
        const size_t stop = end == std::string::npos ? line.size() : end;
        std::string text = line.substr(i + 1, stop - i - 1);
        TrimSpaces(text);
        i = stop;
        return text;
    };
    size_t i = 0;
    while (i < line.size()) {
        switch (line[i]) {
            case 'G': {
                // One digit, or two when the second one is a digit.
                const bool two = i + 2 < line.size() && line[i + 2] >= '0' && line[i + 2] <= '9';
                const size_t digits = std::min<size_t>(two ? 2 : 1, line.size() - i - 1);
                block.nGCode = static_cast<int>(ParseLong(line.substr(i + 1, digits)));
                if (block.nGCode == 4) {
                    return;  // a comment
                }
                i += 1 + digits;
                break;
            }
            case 'X':
                block.strX = field(i, "YIJD*");
                break;
            case 'Y':
                block.strY = field(i, "IJD*");
                break;
            case 'I':
                block.strI = field(i, "JD*");
                break;
            case 'J':
                block.strJ = field(i, "D*");
                break;
            case 'D':
                block.nDCode = static_cast<int>(ParseLong(field(i, "*")));
                break;
            case 'M':
                block.nMCode = static_cast<int>(ParseLong(field(i, "*")));
                break;
            case '*':
                GerberLayeCheck();
                m_vLayers.back().vContent.push_back(std::move(block));
                return;
            default:
                ++i;
        }
    }
    Console("The Function code is wrong");
}

bool CParseGerber::CalcRectangle(tagPOINTF start, tagPOINTF end, bool extend, double& angleA, double& angleB,
                                 double width, double /*flatness*/, std::vector<tagPOINTF>& points) {
    double length = Distance(start, end);
    if (!(length >= kMinStroke)) {
        return false;
    }
    const double a = AngleDeg(start, end);
    angleA = a + 90.0;
    angleB = a + 90.0;
    double x0 = start.x;
    if (extend) {
        x0 -= width / 2.0;
        length += width;
    }
    const double top = start.y + width / 2.0;
    const double bottom = start.y - width / 2.0;
    const tagPOINTF corners[4] = {{static_cast<float>(x0), static_cast<float>(top)},
                                  {static_cast<float>(x0 + length), static_cast<float>(top)},
                                  {static_cast<float>(x0 + length), static_cast<float>(bottom)},
                                  {static_cast<float>(x0), static_cast<float>(bottom)}};
    for (const tagPOINTF& c : corners) {
        points.push_back(CBaseShape::PointfRotate(c, start, a));
    }
    points.push_back(points[points.size() - 4]);
    return true;
}

// ---- interpretation ------------------------------------------------------------------

void CParseGerber::InterpretLayers() {
    m_pos = {0.0f, 0.0f};
    m_bIncremental = m_format.nNotation == 1;
    m_bSingleQuadrant = false;
    m_nGModal = -1;
    m_nDModal = -1;
    m_nKind = kNoAperture;
    m_nSavedKind = kNoAperture;
    m_bRegion = false;
    m_outline.reset();
    m_outlineRings.clear();
    m_apertureWidth = 0.0;
    auto* point = new CPoints;
    point->InitPoint({0.0f, 0.0f});
    m_flash.reset(point);
    m_lastX.clear();
    m_lastY.clear();
    m_path.clear();

    for (const GerberLayer& layer : m_vLayers) {
        Console("Iter_L->LayerName:", layer.strName);
        Console("Iter_L->LayerPolarity:", layer.nPolarity);
        for (const Rs274dCodePara& block : layer.vContent) {
            InterpretBlock(block);
        }
        FlushPath();
    }
    FlushPath();
}

bool CParseGerber::Coordinate(const std::string& text, bool xAxis, double& value) const {
    const int integer = xAxis ? m_format.nXInteger : m_format.nYInteger;
    const int decimal = xAxis ? m_format.nXDecimal : m_format.nYDecimal;
    double scale = 1.0;
    if (m_format.nZeroSuppression == 1) {
        const auto digits = std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        scale = std::pow(10.0, integer - static_cast<double>(digits));
    } else {
        scale = std::pow(10.0, -decimal);
    }
    value = static_cast<double>(ParseLong(text)) * scale;
    if (m_bInch) {
        value *= 25.4;
    }
    return std::isfinite(value) && std::fabs(value) <= kMaxCoordinate;
}

void CParseGerber::InterpretBlock(const Rs274dCodePara& block) {
    const int g = block.nGCode;
    switch (g) {
        case 90: m_bIncremental = false; break;
        case 91: m_bIncremental = true; break;
        case 70: m_bInch = true; break;
        case 71: m_bInch = false; break;
        case 74: m_bSingleQuadrant = true; break;
        case 75: m_bSingleQuadrant = false; break;
        case 36:
            FlushPath();
            if (!m_bRegion) {
                m_nSavedKind = m_nKind;
            }
            m_nKind = kNoAperture;
            m_bRegion = true;
            break;
        case 37:
            if (m_bRegion) {
                m_nKind = m_nSavedKind;
                m_bRegion = false;
            }
            FlushPath();
            break;
        default:
            break;
    }
    if (IsInterpolation(g)) {
        m_nGModal = g;
        if (g <= 3 && block.nDCode < 0) {
            return;
        }
    }
    if (block.nDCode >= 10) {
        SelectAperture(block.nDCode);
        return;
    }
    const bool hasCoordinates =
        !block.strX.empty() || !block.strY.empty() || !block.strI.empty() || !block.strJ.empty();
    int op = block.nDCode;
    if (op < 0) {
        // Only the operations D01 to D03 carry over to a block that gives
        // coordinates alone; a block without coordinates does nothing.
        if (!hasCoordinates) {
            return;
        }
        op = m_nDModal;
    } else if (op > 3) {
        return;
    } else if (op != 0) {
        m_nDModal = op;
    }
    if (op < 0) {
        return;
    }

    // The target. In absolute notation an absent coordinate keeps the last
    // one written; in incremental notation it means no change.
    double x = 0.0;
    double y = 0.0;
    double i = 0.0;
    double j = 0.0;
    if (!block.strX.empty()) m_lastX = block.strX;
    if (!block.strY.empty()) m_lastY = block.strY;
    const std::string& xText = m_bIncremental ? block.strX : m_lastX;
    const std::string& yText = m_bIncremental ? block.strY : m_lastY;
    if (!Coordinate(xText, true, x) || !Coordinate(yText, false, y) || !Coordinate(block.strI, true, i) ||
        !Coordinate(block.strJ, false, j)) {
        Console("Coordinate out of range:", block.strBlock);
        return;
    }
    tagPOINTF target{static_cast<float>(x), static_cast<float>(y)};
    if (m_bIncremental) {
        target = {static_cast<float>(m_pos.x + x), static_cast<float>(m_pos.y + y)};
        if (std::fabs(target.x) > kMaxCoordinate || std::fabs(target.y) > kMaxCoordinate) {
            Console("Coordinate out of range:", block.strBlock);
            return;
        }
    }

    // A change of polarity ends the open path: its shapes take one polarity.
    if (!m_path.empty() && block.nPolarity != m_pathPolarity) {
        FlushPath();
    }
    m_nPolarity = block.nPolarity;

    switch (op) {
        case 0:
            FlushPath();
            m_pos = {0.0f, 0.0f};
            break;
        case 2:
            FlushPath();
            m_pos = target;
            break;
        case 3:
            FlushPath();
            Flash(target, block.nPolarity);
            m_pos = target;
            break;
        case 1:
            Draw(target, i, j);
            m_pos = target;
            break;
        default:
            break;
    }
}

void CParseGerber::SelectAperture(int dcode) {
    const auto it = m_mapApertureShapes.find(dcode);
    if (it == m_mapApertureShapes.end()) {
        return;
    }
    GerberShapePtr outline(it->second.outline->Clone());
    GerberShapePtr flash(it->second.flash->Clone());
    if (!outline || !flash) {
        return;
    }
    // Strokes of one path share one aperture; a region contour is not cut.
    if (!m_bRegion) {
        FlushPath();
    }
    m_outline = std::move(outline);
    m_flash = std::move(flash);
    m_apertureWidth = it->second.rect.Width;
    m_outlineRings.clear();
    CollectRings(m_outline.get(), m_flatness, m_outlineRings);
    if (m_bRegion) {
        m_nSavedKind = it->second.kind;
    } else {
        m_nKind = it->second.kind;
    }
}

void CParseGerber::Flash(tagPOINTF at, int polarity) {
    if (!m_flash) {
        return;
    }
    CBaseShape* shape = m_flash->Clone();
    if (shape == nullptr) {
        return;
    }
    shape->Move(at.x, at.y);
    AddResult(shape, polarity);
}

CParseGerber::Outline& CParseGerber::OpenOutline(bool area) {
    if (m_path.empty()) {
        m_pathIsArea = area;
        m_pathHasStroke = false;
        m_pathPolarity = m_nPolarity;
    }
    m_path.emplace_back();
    return m_path.back();
}

void CParseGerber::AddCap(tagPOINTF at, double angleDeg) {
    // Rectangles stay square to the axes; other apertures turn with the stroke.
    const double turn = m_nKind == AP_RECTANGLE ? 0.0 : angleDeg;
    for (const Ring& ring : m_outlineRings) {
        Outline& cap = OpenOutline(true);
        cap.points.reserve(ring.size());
        for (const tagPOINTF& p : ring) {
            const tagPOINTF q = turn != 0.0 ? CBaseShape::PointfRotate(p, {0.0f, 0.0f}, turn) : p;
            cap.points.push_back({q.x + at.x, q.y + at.y});
        }
    }
}

void CParseGerber::Draw(tagPOINTF target, double i, double j) {
    const bool cw = IsClockwise(m_nGModal);
    const bool ccw = IsCounterClockwise(m_nGModal);
    double sweep = 0.0;
    tagPOINTF centre{};
    bool arc = false;
    if (cw || ccw) {
        if (m_bSingleQuadrant) {
            // I and J are distances without sign: the centre is the one of
            // the four candidates that gives an arc of at most 90 degrees
            // with the ends at the most equal distances from it.
            double best = -1.0;
            for (int k = 0; k < 4; ++k) {
                const tagPOINTF c{static_cast<float>(m_pos.x + ((k & 1) ? -1 : 1) * std::fabs(i)),
                                  static_cast<float>(m_pos.y + ((k & 2) ? -1 : 1) * std::fabs(j))};
                const double s = Sweep(AngleDeg(c, m_pos), AngleDeg(c, target), ccw, false);
                if (std::fabs(s) > 90.0 + 1e-6) {
                    continue;
                }
                const double err = std::fabs(Distance(c, m_pos) - Distance(c, target));
                if (best < 0.0 || err < best) {
                    best = err;
                    centre = c;
                    sweep = s;
                }
            }
            arc = best >= 0.0 && sweep != 0.0;
        } else {
            centre = {static_cast<float>(m_pos.x + i), static_cast<float>(m_pos.y + j)};
            sweep = Sweep(AngleDeg(centre, m_pos), AngleDeg(centre, target), ccw, true);
            arc = true;
        }
        if (arc && Distance(centre, m_pos) < kMinArcRadius) {
            arc = false;
        }
    }

    if (m_bRegion || m_nKind == kNoAperture) {
        // Contour points: one outline that grows with every draw.
        if (m_path.empty()) {
            OpenOutline(m_bRegion).points.push_back(m_pos);
        }
        std::vector<tagPOINTF>& pts = m_path.back().points;
        if (arc) {
            Ring arcPts;
            ArcPoints(centre, Distance(centre, m_pos), AngleDeg(centre, m_pos), sweep, m_flatness, arcPts);
            for (const tagPOINTF& p : arcPts) {
                AppendPoint(pts, p);
            }
        }
        AppendPoint(pts, target);
        return;
    }

    if (arc) {
        DrawArc(target, centre, sweep);
        return;
    }
    std::vector<tagPOINTF> stroke;
    double angleA = 0.0;
    double angleB = 0.0;
    const bool extend = m_nKind == AP_RECTANGLE;
    if (!CalcRectangle(m_pos, target, extend, angleA, angleB, m_apertureWidth, m_flatness, stroke)) {
        return;
    }
    const double angle = angleA - 90.0;
    if (!extend && !m_pathHasStroke) {
        AddCap(m_pos, angle);
    }
    OpenOutline(true).points = std::move(stroke);
    if (!extend) {
        AddCap(target, angle);
    }
    m_pathHasStroke = true;
}

void CParseGerber::DrawArc(tagPOINTF target, tagPOINTF centre, double sweepDeg) {
    const double r = Distance(centre, m_pos);
    const double half = m_apertureWidth / 2.0;
    const double start = AngleDeg(centre, m_pos);
    const double angle = AngleDeg(m_pos, target);
    if (!m_pathHasStroke) {
        AddCap(m_pos, angle);
    }
    // The band swept by the aperture, in pieces of at most 90 degrees so
    // that each piece is a simple ring: outer arc forward, inner arc back.
    const int pieces = std::max(1, static_cast<int>(std::ceil(std::fabs(sweepDeg) / 90.0)));
    for (int k = 0; k < pieces; ++k) {
        const double a0 = start + sweepDeg * k / pieces;
        const double s = sweepDeg / pieces;
        Outline& band = OpenOutline(true);
        ArcPoints(centre, r + half, a0, s, m_flatness, band.points);
        if (r - half > 1e-9) {
            ArcPoints(centre, r - half, a0 + s, -s, m_flatness, band.points);
        } else {
            band.points.push_back(centre);
        }
    }
    AddCap(target, angle);
    m_pathHasStroke = true;
}

void CParseGerber::FlushPath() {
    if (m_path.empty()) {
        return;
    }
    CBaseShape* shape = nullptr;
    if (m_path.size() == 1) {
        auto* line = new CPolyLine;
        line->arrPoint = std::move(m_path.front().points);
        if (m_pathIsArea && line->arrPoint.size() >= 3) {
            const tagPOINTF& a = line->arrPoint.front();
            const tagPOINTF& b = line->arrPoint.back();
            if (a.x == b.x && a.y == b.y) {
                line->bClosed = 1;
            } else {
                line->ClosePloyLine();
            }
        }
        if (line->arrPoint.size() >= 2) {
            shape = line;
        } else {
            delete line;  // a lone point is no path
        }
    } else {
        std::vector<Ring> rings;
        rings.reserve(m_path.size());
        for (Outline& o : m_path) {
            rings.push_back(std::move(o.points));
        }
        std::vector<CBaseShape*> lines;
        PathsToPolyLines(UnionRings(rings), lines);
        if (!lines.empty()) {
            auto* combined = new CCombineShape;
            combined->GetChildren() = std::move(lines);
            combined->InvalidateGeometry();
            shape = combined;
        }
    }
    if (shape != nullptr) {
        AddResult(shape, m_pathPolarity);
    }
    m_path.clear();
    m_pathHasStroke = false;
}

void CParseGerber::AddResult(CBaseShape* shape, int polarity) {
    if (polarity == LAYER_CLEAR) {
        shape->SetSubPolyType(1);
    }
    m_result.emplace_back(shape);
}

// ---- merging -------------------------------------------------------------------------

void CParseGerber::MergeShapes(CGroupShape* group, size_t first) {
    std::vector<CBaseShape*>& children = group->GetChildren();
    std::vector<CBaseShape*> areas;
    std::vector<CBaseShape*> others;
    for (size_t k = first; k < children.size(); ++k) {
        (HasArea(children[k]) ? areas : others).push_back(children[k]);
    }
    // A single shape is the result as it is; points and open lines have no
    // area to merge and stay as they are.
    if (areas.size() < 2) {
        return;
    }

    // Dark shapes are added to the result so far, clear ones cut out of it,
    // in file order: each run of dark shapes followed by clear ones is one
    // clipping step.
    ClipperLib::Paths result;
    ClipperLib::Paths subjects;
    ClipperLib::Paths clips;
    const auto run = [&]() {
        if (subjects.empty() && clips.empty()) {
            return;
        }
        ClipperLib::Clipper clipper;
        try {
            clipper.AddPaths(result, ClipperLib::ptSubject, true);
            clipper.AddPaths(subjects, ClipperLib::ptSubject, true);
            clipper.AddPaths(clips, ClipperLib::ptClip, true);
            result = Execute(clipper, ClipperLib::ctDifference, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        } catch (const ClipperLib::clipperException&) {
            // Coordinates that Clipper cannot take: the step is skipped.
        }
        subjects.clear();
        clips.clear();
    };
    for (size_t k = 0; k < areas.size(); ++k) {
        const bool clear = areas[k]->GetSubPolyType() == 1;
        if (!clear && !clips.empty()) {
            run();
        }
        const ClipperLib::Paths region = ShapeRegion(areas[k], m_flatness);
        (clear ? clips : subjects).insert((clear ? clips : subjects).end(), region.begin(), region.end());
    }
    run();
    if (result.empty()) {
        return;
    }

    std::vector<CBaseShape*> merged;
    PathsToPolyLines(result, merged);
    children.resize(first);
    children.insert(children.end(), merged.begin(), merged.end());
    children.insert(children.end(), others.begin(), others.end());
    // The merged shapes are no children any more: nothing else holds them.
    for (CBaseShape* shape : areas) {
        GerberShapeDeleter()(shape);
    }
}

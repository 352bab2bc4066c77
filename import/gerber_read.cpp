// The reading side of the Gerber reader: the line loop, the RS-274D data
// blocks, their interpretation into shapes (moves, draws, arcs, flashes,
// regions) and the final merge of all areas.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "morvik/afx/message_box.h"
#include "morvik/compose/combine.h"
#include "morvik/compose/group.h"
#include "morvik/core/points.h"
#include "morvik/core/geometry.h"
#include "morvik/core/polyline.h"
#include "morvik/core/runlog.h"
#include "morvik/core/text_utils.h"
#include "morvik/host/host_services.h"
#include "morvik/import/gerber.h"
#include "morvik/import/gerber_geometry.h"

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

// 10 to the power e, from a table for the exponents that formats use.
double PowerOfTen(int e) {
    static const auto kTable = [] {
        std::array<double, 41> t{};
        for (int k = 0; k < 41; ++k) {
            t[k] = std::pow(10.0, k - 20);
        }
        return t;
    }();
    return e >= -20 && e <= 20 ? kTable[e + 20] : std::pow(10.0, e);
}

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Calls visit for every non-empty line (split at carriage returns and line
// feeds) and returns how many there were.
template <typename Visit>
int ForEachLine(std::string_view text, Visit visit) {
    int count = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > pos) {
            ++count;
            visit(text.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return count;
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

// The area moved by (dx, dy) millimetres.
ClipperLib::Paths Translated(const ClipperLib::Paths& area, double dx, double dy) {
    const auto ix = static_cast<ClipperLib::cInt>(RoundHalfAway(dx * kClipperScale));
    const auto iy = static_cast<ClipperLib::cInt>(RoundHalfAway(dy * kClipperScale));
    ClipperLib::Paths out(area);
    for (ClipperLib::Path& path : out) {
        for (ClipperLib::IntPoint& p : path) {
            p.X += ix;
            p.Y += iy;
        }
    }
    return out;
}

// A data block as a Gerber writer makes it: code letters, numbers and the
// closing "*", with at least one digit.
bool IsWellFormedBlock(std::string_view block) {
    static constexpr std::string_view kAllowed = "0123456789+-. \tGXYIJDM";
    if (block.empty() || block.back() != '*') {
        return false;
    }
    block.remove_suffix(1);
    bool digit = false;
    for (char c : block) {
        if (kAllowed.find(c) == std::string_view::npos) {
            return false;
        }
        digit = digit || (c >= '0' && c <= '9');
    }
    return digit;
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
    // About one data block per "*".
    m_blockEstimate = static_cast<size_t>(std::count(text.begin(), text.end(), '*'));
    int polarity = LAYER_DARK;
    BeginDiagnostics();
    lineCount = ForEachLine(text, [&](std::string_view line) { ProcessLine(line, false, polarity); });
    if (m_bCollectingMacro) {
        // The file ended inside a macro: keep what was collected.
        FinishMacro();
    }
    if (!m_bRecognised) {
        // Nothing in it is Gerber (an empty file, or one of another kind):
        // a failure, not an empty image, and no aperture file is asked for.
        Console("no Gerber data in the file, line count:", lineCount);
        EndDiagnostics();
        ResetState();
        m_flash = nullptr;
        m_pointFlash.reset();
        return false;
    }

    if (!m_bApertureDefined) {
        ReadApertureFile();
    }

    m_mapMacros.clear();
    m_mapMacroText.clear();
    InterpretLayers();
    BuildResult(group);
    m_result.clear();
    group->InvalidateGeometry();

    m_apertureCache.clear();
    m_mapApertureShapes.clear();
    m_flash = nullptr;
    m_pointFlash.reset();
    Console("line count:", lineCount);
    EndDiagnostics();
    return !m_bRepeatRefused;
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
    m_mapMacroText.clear();
    m_mapApertureShapes.clear();
    m_vStepRepeats.clear();
    m_nCurrentStepRepeat = -1;
    m_bApertureDefined = false;
    m_bRecognised = false;
    m_bInch = false;
    m_result.clear();
    m_apertureCache.clear();
    m_path.clear();
    m_bCollectingMacro = false;
    m_macroName.clear();
    m_macroBody.clear();
}

void CParseGerber::ProcessLine(std::string_view line, bool paramsOnly, int& polarity) {
    for (;;) {
        if (m_bCollectingMacro) {
            // Macro primitives run on until the closing "%".
            const size_t close = line.find('%');
            m_macroBody += line.substr(0, close);
            if (close == std::string_view::npos) {
                return;
            }
            FinishMacro();
            line.remove_prefix(close + 1);
            continue;
        }
        line = Trimmed(line);
        if (line.empty()) {
            return;
        }
        if (line.front() == '%') {
            const size_t close = line.find('%', 1);
            ProcessParameterGroup(std::string(line.substr(1, close == std::string_view::npos ? close : close - 1)),
                                  close != std::string_view::npos, polarity);
            if (close == std::string_view::npos) {
                return;
            }
            line.remove_prefix(close + 1);
            continue;
        }
        if (paramsOnly) {
            return;
        }
        // Several "*"-terminated data blocks may share a line.
        while (!line.empty()) {
            const size_t star = line.find('*');
            const std::string_view block = Trimmed(line.substr(0, star == std::string_view::npos ? star : star + 1));
            if (!block.empty()) {
                ParseDataBlock(block, polarity);
            }
            if (star == std::string_view::npos) {
                break;
            }
            line.remove_prefix(star + 1);
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
    ForEachLine(text, [&](std::string_view line) { ProcessLine(line, true, polarity); });
    if (m_bCollectingMacro) {
        FinishMacro();
    }
}

// ---- data blocks -------------------------------------------------------------------

void CParseGerber::DateBlockRs274dAnalyst(const std::string& line, int polarity) { ParseDataBlock(line, polarity); }

void CParseGerber::ParseDataBlock(std::string_view line, int polarity) {
    static constexpr std::string_view kStarts = "DGIJMXY";
    if (line.empty() || kStarts.find(line[0]) == std::string_view::npos) {
        Console("There is something wrong:", std::string(line));
        return;
    }
    Rs274dCodePara block;
    block.strBlock = std::string(line);
    block.nPolarity = polarity;
    block.nStepRepeat = m_nCurrentStepRepeat;
    // A field runs to the next letter or "*", so fields may come in any
    // order (I and J before X and Y).
    const auto field = [&](size_t& i) {
        size_t stop = i + 1;
        while (stop < line.size() && line[stop] != '*' && !(line[stop] >= 'A' && line[stop] <= 'Z')) {
            ++stop;
        }
        const std::string_view text = Trimmed(line.substr(i + 1, stop - i - 1));
        i = stop;
        return text;
    };
    // G codes ahead of the block's last one ("G75G03X...") each apply on
    // their own, in order.
    std::vector<int> leading;
    size_t i = 0;
    while (i < line.size()) {
        switch (line[i]) {
            case 'G': {
                // One digit, or two when the second one is a digit.
                const bool two = i + 2 < line.size() && line[i + 2] >= '0' && line[i + 2] <= '9';
                const size_t digits = std::min<size_t>(two ? 2 : 1, line.size() - i - 1);
                const int g = static_cast<int>(ParseLong(line.substr(i + 1, digits)));
                if (g == 4) {
                    // A comment; one in the written form counts as Gerber.
                    m_bRecognised = m_bRecognised || (i == 0 && line.substr(0, 3) == "G04" && line.back() == '*');
                    return;
                }
                if (block.nGCode >= 0) {
                    leading.push_back(block.nGCode);
                }
                block.nGCode = g;
                i += 1 + digits;
                break;
            }
            case 'X':
                block.strX = field(i);
                break;
            case 'Y':
                block.strY = field(i);
                break;
            case 'I':
                block.strI = field(i);
                break;
            case 'J':
                block.strJ = field(i);
                break;
            case 'D':
                block.nDCode = static_cast<int>(ParseLong(field(i)));
                break;
            case 'M':
                block.nMCode = static_cast<int>(ParseLong(field(i)));
                break;
            case '*': {
                GerberLayeCheck();
                std::vector<Rs274dCodePara>& content = m_vLayers.back().vContent;
                if (content.capacity() == 0 && m_vLayers.size() == 1) {
                    content.reserve(m_blockEstimate);  // most files have one layer
                }
                for (int g : leading) {
                    Rs274dCodePara alone;
                    alone.nGCode = g;
                    alone.strBlock = block.strBlock;
                    alone.nPolarity = polarity;
                    alone.nStepRepeat = block.nStepRepeat;
                    content.push_back(std::move(alone));
                }
                m_bRecognised = m_bRecognised || IsWellFormedBlock(line.substr(0, i + 1));
                content.push_back(std::move(block));
                return;
            }
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
    m_aperture = nullptr;
    m_apertureWidth = 0.0;
    auto* point = new CPoints;
    point->InitPoint({0.0f, 0.0f});
    m_pointFlash.reset(point);
    m_flash = point;
    m_lastX.clear();
    m_lastY.clear();
    m_path.clear();
    m_nActiveStepRepeat = -1;
    m_srCopies = 0;
    m_bRepeatRefused = false;

    for (const GerberLayer& layer : m_vLayers) {
        Console("Iter_L->LayerName:", layer.strName);
        Console("Iter_L->LayerPolarity:", layer.nPolarity);
        for (const Rs274dCodePara& block : layer.vContent) {
            if (block.nStepRepeat != m_nActiveStepRepeat) {
                RepeatBlock();
                if (block.nStepRepeat >= 0 && static_cast<size_t>(block.nStepRepeat) < m_vStepRepeats.size()) {
                    FlushPath();
                    m_nActiveStepRepeat = block.nStepRepeat;
                    m_srFirst = m_result.size();
                }
            }
            InterpretBlock(block);
        }
        FlushPath();
        RepeatBlock();
    }
    FlushPath();
}

void CParseGerber::RepeatBlock() {
    if (m_nActiveStepRepeat < 0) {
        return;
    }
    FlushPath();
    GerberStepRepeat sr = m_vStepRepeats[static_cast<size_t>(m_nActiveStepRepeat)];
    m_nActiveStepRepeat = -1;
    // Copies without a step land on the first one and change nothing.
    const auto still = [](double step) { return std::fabs(step) * kClipperScale < 0.5; };
    if (still(sr.dI)) {
        sr.nX = 1;
    }
    if (still(sr.dJ)) {
        sr.nY = 1;
    }
    const size_t last = m_result.size();
    const size_t count = last - m_srFirst;
    const size_t copies = count * (static_cast<size_t>(sr.nX) * static_cast<size_t>(sr.nY) - 1);
    if (count == 0) {
        return;
    }
    if (m_srCopies + copies > m_nMaxRepeatedShapes) {
        // Not a silent cut: the block stays single, the run log says so
        // (whatever the limit on the file's other diagnostics) and the file
        // does not load as a success.
        m_bRepeatRefused = true;
        RunLog::Instance(nullptr)->WriteFormat(L"Gerber: step and repeat of %u shapes %d x %d refused (more than %u)",
                                              static_cast<unsigned>(count), sr.nX, sr.nY,
                                              static_cast<unsigned>(m_nMaxRepeatedShapes));
        return;
    }
    m_srCopies += copies;
    m_result.reserve(last + copies);
    for (int iy = 0; iy < sr.nY; ++iy) {
        for (int ix = 0; ix < sr.nX; ++ix) {
            if (ix == 0 && iy == 0) {
                continue;
            }
            for (size_t k = m_srFirst; k < last; ++k) {
                m_result.push_back(Copy(m_result[k], ix * sr.dI, iy * sr.dJ));
            }
        }
    }
}

CParseGerber::ResultItem CParseGerber::Copy(const ResultItem& item, double dx, double dy) {
    ResultItem copy;
    if (item.shape) {
        copy.shape.reset(item.shape->Clone());
        if (copy.shape) {
            copy.shape->Move(static_cast<float>(dx), static_cast<float>(dy));
        }
    }
    copy.prototype = item.prototype;
    copy.offset = {static_cast<float>(item.offset.x + dx), static_cast<float>(item.offset.y + dy)};
    copy.points.reserve(item.points.size());
    for (const tagPOINTF& p : item.points) {
        copy.points.push_back({static_cast<float>(p.x + dx), static_cast<float>(p.y + dy)});
    }
    copy.closed = item.closed;
    copy.area = Translated(item.area, dx, dy);
    copy.normal = item.normal;
    copy.simple = item.simple;
    copy.hasArea = item.hasArea;
    copy.clear = item.clear;
    return copy;
}

bool CParseGerber::Coordinate(const std::string& text, bool xAxis, double& value) const {
    const int integer = xAxis ? m_format.nXInteger : m_format.nYInteger;
    const int decimal = xAxis ? m_format.nXDecimal : m_format.nYDecimal;
    int exponent = -decimal;
    if (m_format.nZeroSuppression == 1) {
        const auto digits = std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        exponent = integer - static_cast<int>(std::min<std::ptrdiff_t>(digits, 1000));
    }
    value = ParseCoordinateDigits(text) * PowerOfTen(exponent);
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
    const bool hasCoordinates =
        !block.strX.empty() || !block.strY.empty() || !block.strI.empty() || !block.strJ.empty();
    if (IsInterpolation(g)) {
        m_nGModal = g;
        // Only a block with nothing but the code just sets the mode; with
        // coordinates it draws with the modal D code below.
        if (block.nDCode < 0 && !hasCoordinates) {
            return;
        }
    }
    if (block.nDCode >= 10) {
        SelectAperture(block.nDCode);
        return;
    }
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
    if (it == m_mapApertureShapes.end() || !it->second.outline || !it->second.flash) {
        return;
    }
    // Strokes of one path share one aperture; a region contour is not cut.
    if (!m_bRegion) {
        FlushPath();
    }
    // The templates stay as they are while the layers are interpreted.
    auto cached = m_apertureCache.find(dcode);
    if (cached == m_apertureCache.end()) {
        ApertureCache cache;
        cache.flashHasArea = HasArea(it->second.flash.get());
        if (cache.flashHasArea) {
            cache.flashArea = ShapeRegion(it->second.flash.get(), m_flatness);
        }
        CollectRings(it->second.outline.get(), m_flatness, cache.outlineRings);
        cached = m_apertureCache.emplace(dcode, std::move(cache)).first;
    }
    m_flash = it->second.flash.get();
    m_aperture = &cached->second;
    m_apertureWidth = it->second.rect.Width;
    if (m_bRegion) {
        m_nSavedKind = it->second.kind;
    } else {
        m_nKind = it->second.kind;
    }
}

void CParseGerber::Flash(tagPOINTF at, int polarity) {
    if (m_flash == nullptr) {
        return;
    }
    ResultItem item;
    item.clear = polarity == LAYER_CLEAR;
    if (m_aperture != nullptr && m_aperture->flashHasArea) {
        item.prototype = m_flash;
        item.offset = at;
        item.area = Translated(m_aperture->flashArea, at.x, at.y);
        item.hasArea = true;
    } else {
        item.shape.reset(m_flash->Clone());
        if (!item.shape) {
            return;
        }
        item.shape->Move(at.x, at.y);
    }
    m_result.push_back(std::move(item));
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
    if (m_aperture == nullptr) {
        return;
    }
    for (const Ring& ring : m_aperture->outlineRings) {
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
    if (m_nKind == AP_CIRCLE) {
        // A round aperture sweeps a stadium: the band with a half disc at
        // each end, as one simple ring.
        if (Distance(m_pos, target) >= kMinStroke) {
            Ring& ring = OpenOutline(true).points;
            const double a = AngleDeg(m_pos, target);
            const double r = m_apertureWidth / 2.0;
            ArcPoints(m_pos, r, a + 90.0, 180.0, m_flatness, ring);
            ArcPoints(target, r, a - 90.0, 180.0, m_flatness, ring);
            m_pathHasStroke = true;
        }
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
    ResultItem item;
    item.clear = m_pathPolarity == LAYER_CLEAR;
    if (m_path.size() == 1) {
        item.points = std::move(m_path.front().points);
        if (m_pathIsArea && item.points.size() >= 3) {
            const tagPOINTF& a = item.points.front();
            const tagPOINTF& b = item.points.back();
            if (a.x != b.x || a.y != b.y) {
                item.points.push_back(a);
            }
            item.closed = true;
            item.hasArea = true;
            // A contour as written may cross itself: the merge works out its
            // area on its own.
            ClipperLib::Path ring = ToClipper(item.points);
            if (!ring.empty()) {
                item.area.push_back(std::move(ring));
            }
            item.normal = false;
            item.simple = false;
        }
        if (item.points.size() < 2) {
            item.points.clear();  // a lone point is no path
        }
    } else {
        // Strokes and the ends the aperture puts on them: simple rings that
        // the merge unites with everything else.
        for (const Outline& o : m_path) {
            ClipperLib::Path ring = ToClipper(o.points);
            const double area = ring.empty() ? 0.0 : ClipperLib::Area(ring);
            if (area < 0) {
                ClipperLib::ReversePath(ring);
            }
            if (area != 0) {
                item.area.push_back(std::move(ring));
            }
        }
        item.normal = item.area.size() <= 1;
        item.hasArea = !item.area.empty();
    }
    m_path.clear();
    m_pathHasStroke = false;
    if (item.hasArea || !item.points.empty()) {
        m_result.push_back(std::move(item));
    }
}

CBaseShape* CParseGerber::MakeShape(ResultItem& item) {
    CBaseShape* shape = nullptr;
    if (item.shape) {
        shape = item.shape.release();
    } else if (item.prototype != nullptr) {
        shape = item.prototype->Clone();
        if (shape != nullptr) {
            shape->Move(item.offset.x, item.offset.y);
        }
    } else if (!item.points.empty()) {
        auto* line = new CPolyLine;
        line->arrPoint = item.points;
        line->bClosed = item.closed ? 1 : 0;
        shape = line;
    } else {
        std::vector<CBaseShape*> lines;
        ClipperLib::Clipper clipper;
        try {
            clipper.AddPaths(item.area, ClipperLib::ptSubject, true);
        } catch (const ClipperLib::clipperException&) {
            return nullptr;
        }
        PathsToPolyLines(Execute(clipper, ClipperLib::ctUnion, ClipperLib::pftNonZero, ClipperLib::pftNonZero), lines);
        if (lines.empty()) {
            return nullptr;
        }
        auto* combined = new CCombineShape;
        combined->GetChildren() = std::move(lines);
        combined->InvalidateGeometry();
        shape = combined;
    }
    if (shape != nullptr && item.clear) {
        shape->SetSubPolyType(1);
    }
    return shape;
}


// ---- merging -------------------------------------------------------------------------

void CParseGerber::BuildResult(CGroupShape* group) {
    std::vector<CBaseShape*>& children = group->GetChildren();
    std::vector<MergeItem> areas;
    for (const ResultItem& item : m_result) {
        if (item.hasArea) {
            areas.push_back({&item.area, item.clear, item.normal, item.simple});
        }
    }
    // A single area stays the shape it is; so does everything when the
    // merge leaves nothing.
    ClipperLib::Paths merged;
    if (areas.size() >= 2) {
        merged = MergeAreas(areas);
    }
    if (!merged.empty()) {
        PathsToPolyLines(merged, children);
    }
    // Points and open lines have no area to merge and follow as they are.
    for (ResultItem& item : m_result) {
        if (merged.empty() || !item.hasArea) {
            if (CBaseShape* shape = MakeShape(item)) {
                children.push_back(shape);
            }
        }
    }
}

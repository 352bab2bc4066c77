// The parameter side of the Gerber reader: the "%" blocks (format, units,
// image and layer settings, step and repeat), aperture macros and aperture
// definitions with the template shapes that flashes and strokes copy.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "morvik/compose/combine.h"
#include "morvik/compose/group.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/import/gerber.h"
#include "morvik/import/gerber_geometry.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/polygon.h"
#include "morvik/shapes/rectangle.h"

using namespace gerber_detail;

namespace {

constexpr double kPi = 3.14159265358979323846;
// A hole or second size under this counts as not given.
constexpr double kMissing = 0.001;
// Obround ends are flattened this finely.
constexpr double kObroundFlatness = 0.005;
// Step and repeat counts beyond this mean a damaged file.
constexpr int kMaxRepeatCount = 1000;

char At(const std::string& s, size_t i) { return i < s.size() ? s[i] : '\0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool StartsWith(const std::string& s, size_t pos, const char* text) {
    const std::string t(text);
    return s.size() >= pos + t.size() && s.compare(pos, t.size(), t) == 0;
}

// A size that a shape can be built from.
bool UsableSize(double v) { return std::isfinite(v) && v > 0.0 && v <= kMaxApertureSize; }

// A regular polygon with circumscribed diameter d about centre, vertex 0 at
// rotationDeg counter-clockwise from +x. The polygon shape lays vertex 0
// straight up and stretches its vertices to the width of the rectangle it is
// given, so it gets the polygon's own width and is turned afterwards.
CPolygon* RegularPolygon(tagPOINTF centre, double d, int n, double rotationDeg) {
    if (n < 3 || n > CPolygon::kMaxBorder || !UsableSize(d)) {
        return nullptr;
    }
    const double r = d / 2.0;
    double minX = 0.0;
    double maxX = 0.0;
    for (int k = 0; k < n; ++k) {
        const double x = r * std::cos(k * 2.0 * kPi / n + kPi / 2.0);
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
    }
    const double width = maxX - minX;
    auto* polygon = new CPolygon;
    polygon->InitPolygon(Gdiplus::RectF(static_cast<float>(centre.x - width / 2.0), static_cast<float>(centre.y + r),
                                        static_cast<float>(width), static_cast<float>(d)),
                         n);
    if (polygon->GetBorder() != n) {
        delete polygon;
        return nullptr;
    }
    const double turn = std::remainder(rotationDeg - 90.0, 360.0);
    if (std::fabs(turn) > 1e-9) {
        polygon->Rotate(turn, centre);
    }
    return polygon;
}

CCircle* FullCircle(tagPOINTF centre, double radius) {
    auto* circle = new CCircle;
    circle->startDeg = 0.0;
    circle->endDeg = 360.0;
    circle->InitCircle(centre.x, centre.y, 0.0f, static_cast<float>(radius));
    return circle;
}

CRectangle* Rectangle(double x, double top, double w, double h) {
    auto* rect = new CRectangle;
    rect->InitRectangle(Gdiplus::RectF(static_cast<float>(x), static_cast<float>(top), static_cast<float>(w),
                                       static_cast<float>(h)));
    rect->SortPath();
    return rect;
}

// A closed stadium of w x h centred on the origin: straight sides along the
// longer axis and half circles of half the shorter side at the ends.
CPolyLine* Obround(double w, double h) {
    auto* line = new CPolyLine;
    Ring& pts = line->arrPoint;
    if (w >= h) {
        const double r = h / 2.0;
        const double c = w / 2.0 - r;
        ArcPoints({static_cast<float>(c), 0.0f}, r, -90.0, 180.0, kObroundFlatness, pts);
        ArcPoints({static_cast<float>(-c), 0.0f}, r, 90.0, 180.0, kObroundFlatness, pts);
    } else {
        const double r = w / 2.0;
        const double c = h / 2.0 - r;
        ArcPoints({0.0f, static_cast<float>(c)}, r, 0.0, 180.0, kObroundFlatness, pts);
        ArcPoints({0.0f, static_cast<float>(-c)}, r, 180.0, 180.0, kObroundFlatness, pts);
    }
    line->ClosePloyLine();
    return line;
}

// Reads "value X value X ..." up to "*" into the list.
std::vector<double> ModifierValues(const std::string& text) {
    std::vector<double> values;
    const std::string body = text.substr(0, text.find('*'));
    size_t start = 0;
    while (start <= body.size()) {
        const size_t x = body.find('X', start);
        const std::string piece = body.substr(start, x == std::string::npos ? std::string::npos : x - start);
        values.push_back(ParseDouble(piece));
        if (x == std::string::npos) {
            break;
        }
        start = x + 1;
    }
    return values;
}

double ValueAt(const std::vector<double>& v, size_t i) { return i < v.size() ? v[i] : 0.0; }

// The closed ring of an ellipse of w x h about the origin, within flatness
// of the true curve.
Ring EllipseRing(double w, double h, double flatness) {
    const double r = std::max(w, h) / 2.0;
    Ring ring;
    ArcPoints({0.0f, 0.0f}, r, 0.0, 360.0, flatness, ring);
    ring.pop_back();  // the closing point repeats the first
    for (tagPOINTF& p : ring) {
        p = {static_cast<float>(p.x * (w / 2.0) / r), static_cast<float>(p.y * (h / 2.0) / r)};
    }
    return ring;
}

}  // namespace

void GerberShapeDeleter::operator()(CBaseShape* shape) const {
    if (shape != nullptr) {
        shape->FreeShapePtr();
        delete shape;
    }
}

CParseGerber::CParseGerber() = default;
CParseGerber::~CParseGerber() = default;

// ---- text utilities ------------------------------------------------------------

bool CParseGerber::IsGerberPara(const std::string& line) { return !line.empty() && line[0] == '%'; }

void CParseGerber::TrimSpaces(std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    size_t b = 0;
    while (b < text.size() && blank(text[b])) {
        ++b;
    }
    size_t e = text.size();
    while (e > b && blank(text[e - 1])) {
        --e;
    }
    text = text.substr(b, e - b);
}

std::vector<std::string> CParseGerber::SplitByDelimiters(const std::string& text, const std::string& delimiters) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of(delimiters, start);
        const size_t stop = end == std::string::npos ? text.size() : end;
        if (stop > start) {
            pieces.push_back(text.substr(start, stop - start));
        }
        start = stop + 1;
    }
    return pieces;
}

// ---- dispatch ----------------------------------------------------------------------

bool CParseGerber::DataBlockAnalyst(const std::string& block, int& polarity) {
    if (block.size() < 2) {
        return true;
    }
    const std::string code = block.substr(0, 2);
    static const char* const kKnownCodes[] = {"FS", "AS", "MI", "MO", "IN", "IP", "LN", "LP", "SR", "AD", "AM", "IF",
                                              "IJ", "IO", "IR", "KO", "OF", "PF", "SM", "TF", "TA", "TO", "TD"};
    for (const char* known : kKnownCodes) {
        m_bRecognised = m_bRecognised || code == known;
    }
    if (code == "FS") {
        GerberFormatStamentAnalyst(block);
    } else if (code == "AS") {
        GerberAxisSelectAnalyst(block);
    } else if (code == "MI") {
        GerberMirrorImageAnalyst(block);
    } else if (code == "MO") {
        GerberModeAnalyst(block);
    } else if (code == "IN") {
        GerberImageNameAnalyst(block);
    } else if (code == "IP") {
        GerberIpParameterAnalyst(block);
    } else if (code == "LN") {
        GerberLayerNameAnalyst(block);
    } else if (code == "LP") {
        GerberLayerPolarityAnalyst(block);
        polarity = m_vLayers.back().nPolarity;
    } else if (code == "SR") {
        GerberStepAndRepeatAnalyst(block);
    } else if (code == "AD") {
        GerberAperturesAnalyst(block);
    } else if (code == "AM") {
        StartMacro(block);
        return false;
    }
    // IF, IJ, IO, IR, KO, OF, PF, SM and every other code: read and ignored.
    return true;
}

// ---- parameter analysers ---------------------------------------------------------

void CParseGerber::GerberFormatStamentAnalyst(const std::string& block) {
    switch (At(block, 2)) {
        case 'L':
            m_format.nZeroSuppression = 0;
            break;
        case 'T':
            m_format.nZeroSuppression = 1;
            break;
        default:
            Console("导零错误");
    }
    switch (At(block, 3)) {
        case 'A':
            m_format.nNotation = 0;
            break;
        case 'I':
            m_format.nNotation = 1;
            break;
        default:
            Console("坐标错误");
    }
    size_t i = 4;
    while (i < block.size() && block[i] != '*') {
        const char c = block[i];
        if ((c == 'X' || c == 'Y') && IsDigit(At(block, i + 1)) && IsDigit(At(block, i + 2))) {
            const int integer = block[i + 1] - '0';
            const int decimal = block[i + 2] - '0';
            if (c == 'X') {
                m_format.nXInteger = integer;
                m_format.nXDecimal = decimal;
            } else {
                m_format.nYInteger = integer;
                m_format.nYDecimal = decimal;
            }
            i += 3;
            continue;
        }
        if ((c == 'N' || c == 'G' || c == 'D' || c == 'M') && IsDigit(At(block, i + 1))) {
            const int digits = block[i + 1] - '0';
            (c == 'N' ? m_format.nNDigits : c == 'G' ? m_format.nGDigits : c == 'D' ? m_format.nDDigits
                                                                                    : m_format.nMDigits) = digits;
            i += 2;
            continue;
        }
        Console("格式参数错误");
        ++i;
    }
}

void CParseGerber::GerberAxisSelectAnalyst(const std::string& block) {
    if (StartsWith(block, 2, "AX")) {
        m_nAxisSelect = 0;
    } else if (StartsWith(block, 4, "BY")) {
        m_nAxisSelect = 0;
    } else {
        m_nAxisSelect = 1;
    }
}

void CParseGerber::GerberMirrorImageAnalyst(const std::string& block) {
    const auto flag = [](char c, int old) { return c == '0' ? 0 : c == '1' ? 1 : old; };
    if (At(block, 2) == 'A') {
        m_nMirrorA = flag(At(block, 3), m_nMirrorA);
        if (At(block, 4) == 'B') {
            m_nMirrorB = flag(At(block, 5), m_nMirrorB);
        } else if (At(block, 4) == '*') {
            m_nMirrorB = 2;
        }
    } else if (At(block, 2) == 'B') {
        m_nMirrorA = 2;
        m_nMirrorB = flag(At(block, 3), m_nMirrorB);
    }
}

void CParseGerber::GerberModeAnalyst(const std::string& block) {
    if (StartsWith(block, 2, "IN")) {
        m_nUnit = 1;
        m_bInch = true;
    } else if (StartsWith(block, 2, "MM")) {
        m_nUnit = 0;
        m_bInch = false;
    }
}

void CParseGerber::GerberImageNameAnalyst(const std::string& block) {
    m_strImageName = block.size() > 3 ? block.substr(2, block.size() - 3) : std::string();
    Console("GerberFile.ImageName :", m_strImageName);
}

void CParseGerber::GerberIpParameterAnalyst(const std::string& block) {
    if (At(block, 2) == 'D' || StartsWith(block, 2, "POS")) {
        m_nImagePolarity = 0;
    } else if (At(block, 2) == 'C' || StartsWith(block, 2, "NEG")) {
        m_nImagePolarity = 1;
    } else {
        Console("IpParemeter is wrong");
    }
}

void CParseGerber::GerberLayerNameAnalyst(const std::string& block) {
    GerberLayer layer;
    layer.strName = block.size() > 3 ? block.substr(2, block.size() - 3) : std::string();
    m_vLayers.push_back(std::move(layer));
}

void CParseGerber::GerberLayerPolarityAnalyst(const std::string& block) {
    GerberLayeCheck();
    // The stored layer changes, not a copy of it.
    if (At(block, 2) == 'C') {
        m_vLayers.back().nPolarity = LAYER_CLEAR;
    } else if (At(block, 2) == 'D') {
        m_vLayers.back().nPolarity = LAYER_DARK;
    }
}

void CParseGerber::GerberStepAndRepeatAnalyst(const std::string& block) {
    // Whatever comes next is outside the block that was open.
    m_nCurrentStepRepeat = -1;
    if (At(block, 2) == '*' || block.size() <= 2) {
        m_stepRepeat.bOn = false;
        return;
    }
    m_stepRepeat.bOn = true;
    size_t i = 2;
    while (i < block.size() && block[i] != '*') {
        const char c = block[i];
        if ((c == 'X' || c == 'Y') && IsDigit(At(block, i + 1))) {
            // Panels may repeat ten times or more: every digit counts.
            int count = 0;
            for (++i; i < block.size() && IsDigit(block[i]); ++i) {
                count = std::min(count * 10 + (block[i] - '0'), kMaxRepeatCount + 1);
            }
            (c == 'X' ? m_stepRepeat.nX : m_stepRepeat.nY) = count;
        } else if (c == 'I' || c == 'J') {
            const size_t end = block.find_first_of(c == 'I' ? "J*" : "*", i + 1);
            const std::string number = block.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
            (c == 'I' ? m_stepRepeat.dI : m_stepRepeat.dJ) = ParseDouble(number);
            i = end == std::string::npos ? block.size() : end;
        } else {
            ++i;
        }
    }
    GerberStepRepeat sr = m_stepRepeat;
    sr.dI = Size(sr.dI);
    sr.dJ = Size(sr.dJ);
    const auto reach = [](double step, int count) { return std::isfinite(step) && std::fabs(step) * count <= kMaxCoordinate; };
    const bool usable = sr.nX >= 1 && sr.nY >= 1 && sr.nX <= kMaxRepeatCount && sr.nY <= kMaxRepeatCount &&
                        reach(sr.dI, sr.nX) && reach(sr.dJ, sr.nY);
    if (!usable) {
        Console("Step and repeat is wrong:", block);
    } else if (sr.nX * sr.nY > 1) {
        m_vStepRepeats.push_back(sr);
        m_nCurrentStepRepeat = static_cast<int>(m_vStepRepeats.size()) - 1;
    }
}

void CParseGerber::GerberLayeCheck() {
    if (m_vLayers.empty()) {
        GerberLayer layer;
        layer.strName = "New Layer";
        m_vLayers.push_back(std::move(layer));
    }
}

CParseGerber::GerberLayer CParseGerber::GetCurLayer() {
    GerberLayeCheck();
    return m_vLayers.back();
}

// ---- aperture macros -------------------------------------------------------------

void CParseGerber::StartMacro(const std::string& block) {
    // The name runs to the first "*" (the whole rest without one); the
    // primitives follow it, up to the closing "%".
    const size_t star = block.find('*', 2);
    m_macroName = block.substr(2, star == std::string::npos ? std::string::npos : star - 2);
    TrimSpaces(m_macroName);
    m_macroBody = star == std::string::npos ? std::string() : block.substr(star + 1);
    m_bCollectingMacro = true;
}

void CParseGerber::FinishMacro() {
    m_bCollectingMacro = false;
    MacroText& macro = m_mapMacroText[m_macroName];
    macro.statements.clear();
    macro.inch = m_bInch;
    for (std::string statement : SplitByDelimiters(m_macroBody, "*")) {
        TrimSpaces(statement);
        if (!statement.empty()) {
            macro.statements.push_back(std::move(statement));
        }
    }
    m_macroBody.clear();
}

namespace {

// Evaluates one primitive statement: its code, then every field after a ",".
// False for comments (code 0) and for fields that do not evaluate.
bool EvaluatePrimitive(const std::string& statement, const MacroVariables& vars, std::vector<double>& values) {
    values.clear();
    const size_t comma = statement.find(',');
    const long code = ParseLong(statement.substr(0, comma));
    if (code == 0 || comma == std::string::npos) {
        return false;
    }
    values.push_back(static_cast<double>(code));
    size_t start = comma + 1;
    for (;;) {
        const size_t next = statement.find(',', start);
        const std::string_view field = std::string_view(statement).substr(
            start, next == std::string::npos ? std::string::npos : next - start);
        double value = 0.0;
        if (!EvalMacroExpression(field, vars, value)) {
            return false;
        }
        values.push_back(value);
        if (next == std::string::npos) {
            return true;
        }
        start = next + 1;
    }
}

// "$n=expression": sets variable n. False when the statement is no assignment.
bool Assign(const std::string& statement, MacroVariables& vars) {
    const size_t eq = statement.find('=');
    if (statement.empty() || statement[0] != '$' || eq == std::string::npos) {
        return false;
    }
    const long index = ParseLong(statement.substr(1, eq - 1));
    double value = 0.0;
    if (index >= 1 && index <= 9999 && EvalMacroExpression(std::string_view(statement).substr(eq + 1), vars, value)) {
        vars[static_cast<int>(index)] = value;
    }
    return true;
}

// Applies one primitive's area to the area so far: added when dark, cut out
// when clear.
void Apply(ClipperLib::Paths& area, const ClipperLib::Paths& primitive, bool dark) {
    ClipperLib::Clipper clipper;
    try {
        clipper.AddPaths(area, ClipperLib::ptSubject, true);
        clipper.AddPaths(primitive, ClipperLib::ptClip, true);
    } catch (const ClipperLib::clipperException&) {
        return;
    }
    area = Execute(clipper, dark ? ClipperLib::ctUnion : ClipperLib::ctDifference, ClipperLib::pftNonZero,
                   ClipperLib::pftNonZero);
}

// A closed polyline for a single ring, else a compound shape of them.
CBaseShape* AreaShape(const ClipperLib::Paths& area) {
    std::vector<CBaseShape*> lines;
    PathsToPolyLines(area, lines);
    if (lines.size() == 1) {
        return lines.front();
    }
    auto* combined = new CCombineShape;
    combined->GetChildren() = std::move(lines);
    combined->InvalidateGeometry();
    return combined;
}

}  // namespace

void CParseGerber::GerberAMAnalyst(const std::string& name, const std::string& primitive) {
    std::vector<double> values;
    MacroRegion region;
    if (!EvaluatePrimitive(primitive, {}, values) ||
        !MacroPrimitiveRegion(values, m_bInch ? 25.4 : 1.0, m_flatness, region)) {
        return;
    }
    CBaseShape* shape = AreaShape(region.paths);
    if (!region.dark) {
        shape->SetSubPolyType(1);
    }
    m_mapMacros[name].emplace_back(shape);
}

bool CParseGerber::MacroArea(const std::string& name, const std::vector<double>& modifiers,
                             ClipperLib::Paths& area) const {
    area.clear();
    const auto text = m_mapMacroText.find(name);
    if (text == m_mapMacroText.end()) {
        // Primitives added one by one, without a macro body.
        const auto shapes = m_mapMacros.find(name);
        if (shapes == m_mapMacros.end()) {
            return false;
        }
        for (const GerberShapePtr& shape : shapes->second) {
            Apply(area, ShapeRegion(shape.get(), m_flatness), shape->GetSubPolyType() != 1);
        }
        return !area.empty();
    }
    // The aperture's modifiers are $1, $2, ...
    MacroVariables vars;
    for (size_t k = 0; k < modifiers.size(); ++k) {
        vars[static_cast<int>(k) + 1] = modifiers[k];
    }
    const double scale = text->second.inch ? 25.4 : 1.0;
    std::vector<double> values;
    for (const std::string& statement : text->second.statements) {
        if (Assign(statement, vars)) {
            continue;
        }
        MacroRegion region;
        if (EvaluatePrimitive(statement, vars, values) && MacroPrimitiveRegion(values, scale, m_flatness, region)) {
            Apply(area, region.paths, region.dark);
        }
    }
    return !area.empty();
}

// ---- aperture definitions ----------------------------------------------------------

void CParseGerber::GerberAperturesAnalyst(const std::string& block) {
    if (At(block, 2) != 'D' || !IsDigit(At(block, 3))) {
        return;
    }
    m_bApertureDefined = true;
    size_t i = 3;
    int dcode = 0;
    while (i < block.size() && i < 8 && IsDigit(block[i])) {
        dcode = dcode * 10 + (block[i] - '0');
        ++i;
    }
    if (i >= block.size() || block[i] == '*') {
        return;
    }
    const size_t comma = block.find(',', i);
    const size_t nameEnd = comma != std::string::npos ? comma : block.find('*', i);
    std::string name = block.substr(i, nameEnd == std::string::npos ? std::string::npos : nameEnd - i);
    TrimSpaces(name);
    const std::string modifiers = comma == std::string::npos ? std::string() : block.substr(comma + 1);

    GerberApertureShape shape;
    std::vector<Ring> outlineRings;
    Ring hole;
    if (name == "C" || name == "R" || name == "O" || name == "P") {
        if (comma == std::string::npos) {
            return;
        }
        const std::vector<double> v = ModifierValues(modifiers);
        GerberAperture ap;
        ap.nDCode = dcode;
        if (name == "C") {
            ap.nKind = AP_CIRCLE;
            ap.circleDiameter = ValueAt(v, 0);
            ap.circleHoleWidth = ValueAt(v, 1);
            ap.circleHoleHeight = ValueAt(v, 2);
        } else if (name == "R" || name == "O") {
            ap.nKind = name == "R" ? AP_RECTANGLE : AP_OBROUND;
            (name == "R" ? ap.rectWidth : ap.obroundWidth) = ValueAt(v, 0);
            (name == "R" ? ap.rectHeight : ap.obroundHeight) = ValueAt(v, 1);
            (name == "R" ? ap.rectHoleWidth : ap.obroundHoleWidth) = ValueAt(v, 2);
            (name == "R" ? ap.rectHoleHeight : ap.obroundHoleHeight) = ValueAt(v, 3);
        } else {
            ap.nKind = AP_POLYGON;
            ap.polygonDiameter = ValueAt(v, 0);
            // The vertex count is read as an integer.
            const double n = ValueAt(v, 1);
            ap.polygonVertices = std::isfinite(n) ? static_cast<int>(std::clamp(n, -1.0, 1.0e6)) : 0;
            ap.polygonRotation = ValueAt(v, 2);
            ap.polygonHoleWidth = ValueAt(v, 3);
            ap.polygonHoleHeight = ValueAt(v, 4);
        }
        m_vApertures.push_back(ap);
        if (!BuildTemplate(ap, shape, outlineRings, hole)) {
            return;
        }
    } else if (!BuildMacroTemplate(name, modifiers, shape)) {
        return;
    }
    // What flashes and strokes need of the aperture, worked out once: the
    // rings of the simple outlines come straight from their sizes.
    ApertureCache cache;
    cache.flashHasArea = HasArea(shape.flash.get());
    if (outlineRings.empty()) {
        CollectRings(shape.outline.get(), m_flatness, outlineRings);
    }
    if (cache.flashHasArea) {
        if (outlineRings.empty() || shape.kind == AP_MACRO) {
            cache.flashArea = ShapeRegion(shape.flash.get(), m_flatness);
        } else {
            std::vector<Ring> rings = outlineRings;
            if (!hole.empty()) {
                rings.push_back(hole);
            }
            cache.flashArea = UnionRings(rings, hole.empty() ? ClipperLib::pftNonZero : ClipperLib::pftEvenOdd);
        }
    }
    cache.outlineRings = std::move(outlineRings);
    m_apertureCache[dcode] = std::move(cache);
    m_mapApertureShapes[dcode] = std::move(shape);
}

bool CParseGerber::BuildTemplate(const GerberAperture& ap, GerberApertureShape& out,
                                 std::vector<std::vector<tagPOINTF>>& rings, std::vector<tagPOINTF>& hole) {
    double holeW = 0.0;
    double holeH = 0.0;
    GerberShapePtr outline;
    switch (ap.nKind) {
        case AP_RECTANGLE:
        case AP_OBROUND: {
            const bool rect = ap.nKind == AP_RECTANGLE;
            const double w = Size(rect ? ap.rectWidth : ap.obroundWidth);
            double h = Size(rect ? ap.rectHeight : ap.obroundHeight);
            if (!(h >= kMissing)) {
                h = w;
            }
            if (!UsableSize(w) || !UsableSize(h)) {
                return false;
            }
            if (rect) {
                outline.reset(Rectangle(-w / 2.0, h / 2.0, w, h));
                const auto hw = static_cast<float>(w / 2.0);
                const auto hh = static_cast<float>(h / 2.0);
                rings.push_back({{-hw, -hh}, {hw, -hh}, {hw, hh}, {-hw, hh}});
            } else {
                auto* line = Obround(w, h);
                rings.push_back(line->arrPoint);
                outline.reset(line);
            }
            holeW = Size(rect ? ap.rectHoleWidth : ap.obroundHoleWidth);
            holeH = Size(rect ? ap.rectHoleHeight : ap.obroundHoleHeight);
            break;
        }
        case AP_CIRCLE: {
            const double d = Size(ap.circleDiameter);
            if (!UsableSize(d)) {
                return false;
            }
            outline.reset(FullCircle({0.0f, 0.0f}, d / 2.0));
            rings.push_back(EllipseRing(d, d, m_flatness));
            holeW = Size(ap.circleHoleWidth);
            holeH = Size(ap.circleHoleHeight);
            break;
        }
        case AP_POLYGON: {
            const double rotation = std::isfinite(ap.polygonRotation) ? ap.polygonRotation : 0.0;
            outline.reset(RegularPolygon({0.0f, 0.0f}, Size(ap.polygonDiameter), ap.polygonVertices, rotation));
            if (!outline) {
                return false;
            }
            holeW = Size(ap.polygonHoleWidth);
            holeH = Size(ap.polygonHoleHeight);
            break;
        }
        default:
            return false;
    }

    out.kind = ap.nKind;
    if (!(holeH >= kMissing)) {
        holeH = holeW;
    }
    if (holeW > kMissing && UsableSize(holeW) && UsableSize(holeH)) {
        std::vector<tagPOINTF>& holeRing = hole;
        GerberShapePtr copy(outline->Clone());
        auto* hole = new CEllipseArc;
        if (!copy || hole->InitArcPath(Gdiplus::RectF(static_cast<float>(-holeW / 2.0), static_cast<float>(-holeH / 2.0),
                                                      static_cast<float>(holeW), static_cast<float>(holeH)),
                                       false) != 0) {
            delete hole;
            return false;
        }
        auto* combined = new CCombineShape;
        combined->GetChildren().push_back(copy.release());
        combined->GetChildren().push_back(hole);
        out.flash.reset(combined);
        holeRing = EllipseRing(holeW, holeH, m_flatness);
    } else {
        out.flash.reset(outline->Clone());
    }
    if (!out.flash) {
        return false;
    }
    outline->GetRectangle(out.rect);
    out.outline = std::move(outline);
    return true;
}

bool CParseGerber::BuildMacroTemplate(const std::string& name, const std::string& modifiers, GerberApertureShape& out) {
    const std::vector<double> v = modifiers.empty() ? std::vector<double>() : ModifierValues(modifiers);
    ClipperLib::Paths area;
    if (!MacroArea(name, v, area)) {
        return false;
    }
    GerberShapePtr outline(AreaShape(area));
    // A macro without variables takes no modifiers; a second one, when
    // given and not 0, turns it.
    const auto text = m_mapMacroText.find(name);
    const bool variables =
        text != m_mapMacroText.end() &&
        std::any_of(text->second.statements.begin(), text->second.statements.end(),
                    [](const std::string& st) { return st.find('$') != std::string::npos; });
    if (!variables && v.size() >= 2 && std::isfinite(v[1]) && v[1] != 0.0) {
        outline->Rotate(v[1], tagPOINTF{0.0f, 0.0f});
    }
    out.kind = AP_MACRO;
    out.flash.reset(outline->Clone());
    if (!out.flash) {
        return false;
    }
    outline->GetRectangle(out.rect);
    out.outline = std::move(outline);
    return true;
}

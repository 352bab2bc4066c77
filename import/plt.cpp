#include "morvik/import/plt.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>

#include "morvik/compose/group.h"
#include "morvik/core/number_text.h"
#include "morvik/win32/windows.h"

CParsePlt* CParsePlt::m_pInstance = nullptr;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The number at the start of a text as the plotter's integer reading takes
// it: leading blanks, a sign and the digits up to the first other character
// (so decimals are cut off); 0 when there are no digits. Values beyond the
// 32-bit range are held at its ends.
int32_t ReadInteger(std::string_view text) {
    int32_t value = 0;
    return ReadLeadingInt32(text, value) ? value : 0;
}

// Splits the parameter text of a command into number texts. A separator is a
// comma with any blanks around it, or a run of blanks: "40, 40" and "40 40"
// are two numbers. Two commas in a row leave an empty text between them,
// which reads as 0. A separator at the end adds nothing.
std::vector<std::string_view> SplitNumbers(std::string_view text) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (true) {
        const size_t start = i;
        while (i < text.size() && text[i] != ',' && !IsBlank(text[i])) ++i;
        out.push_back(text.substr(start, i - start));
        if (i >= text.size()) break;
        while (i < text.size() && IsBlank(text[i])) ++i;
        if (i < text.size() && text[i] == ',') {
            ++i;
            while (i < text.size() && IsBlank(text[i])) ++i;
        }
        if (i >= text.size()) break;
    }
    return out;
}

// Whether a command is plotter text: mnemonics of two capitals, each with
// its numbers only, and at least one the plotter reads (IN, PU, PD, PA or
// SP). A file without one such command is not a plot.
bool IsPlotterCommand(std::string_view text) {
    const auto numeric = [](char c) {
        return (c >= '0' && c <= '9') || c == ',' || c == '-' || c == '+' || c == '.' || IsBlank(c);
    };
    const auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool known = false;
    if (i == text.size()) return false;
    while (i < text.size()) {
        if (i + 1 >= text.size() || !capital(text[i]) || !capital(text[i + 1])) return false;
        const std::string_view name = text.substr(i, 2);
        known = known || name == "IN" || name == "PU" || name == "PD" || name == "PA" || name == "SP";
        i += 2;
        while (i < text.size() && numeric(text[i])) ++i;
    }
    return known;
}

// Follows the pen through the commands of one plot and collects the lines
// it draws.
class PltLineCollector {
public:
    explicit PltLineCollector(std::vector<tagPLTLINE>& out) : m_out(out) {}

    void Command(const char* text, int digitPos);
    void Finish() { Emit(); }

private:
    // Hands over the current line when the pen drew on it, and starts an
    // empty one with the same pen.
    void Emit();

    std::vector<tagPLTLINE>& m_out;
    PreviewParam m_cur;
    // After PU the pen only travels: a move replaces the start point of the
    // next line instead of being drawn. Until the first PU the pen draws, so
    // a plot of bare PA moves still comes out as lines.
    bool m_bPenUp = false;
    // The current line holds at least one point reached with the pen down.
    bool m_bDrawn = false;
};

void PltLineCollector::Emit() {
    if (m_bDrawn && !m_cur.arrPoint.empty()) {
        tagPLTLINE line;
        line.nPen = m_cur.nPen;
        line.arrPoint = std::move(m_cur.arrPoint);
        m_out.push_back(std::move(line));
    }
    m_cur.arrPoint.clear();
    m_bDrawn = false;
}

void PltLineCollector::Command(const char* text, int digitPos) {
    const bool hasPU = std::strstr(text, "PU") != nullptr;
    const bool hasPD = std::strstr(text, "PD") != nullptr;
    const bool hasPA = std::strstr(text, "PA") != nullptr;
    const bool hasSP = std::strstr(text, "SP") != nullptr;

    if (hasPU) {
        // A pen-up position alone is no line: it is dropped here, and a new
        // one comes with this command's coordinates.
        Emit();
        m_bPenUp = true;
    } else if (hasPD) {
        m_bPenUp = false;
    }
    if (!hasPU && !hasPD && !hasPA && !hasSP) return;
    if (digitPos < 0) return;

    const std::vector<std::string_view> numbers = SplitNumbers(std::string_view(text + digitPos));
    if (hasSP) {
        if (numbers.size() != 1) return;
        const int32_t n = ReadInteger(numbers[0]);
        const int32_t pen = n > 0 ? n - 1 : n;
        // Pens are numbered 0 to 255; another selection is not one the
        // library can hold and changes nothing.
        if (pen < 0 || pen > 255) return;
        // A line drawn so far belongs to the old pen; a pen-up start point
        // stays where it is and starts the new pen's line.
        if (m_bDrawn) Emit();
        m_cur.nPen = static_cast<uint8_t>(pen);
        return;
    }
    for (size_t i = 0; i + 1 < numbers.size(); i += 2) {
        const tagPOINTF p{static_cast<float>(ReadInteger(numbers[i]) * CParsePlt::kUnitMM),
                          static_cast<float>(ReadInteger(numbers[i + 1]) * CParsePlt::kUnitMM)};
        if (m_bPenUp) {
            m_cur.arrPoint.assign(1, p);
        } else {
            m_cur.arrPoint.push_back(p);
            m_bDrawn = true;
        }
    }
}

// A reader left behind by a failed import goes with the library.
struct PltUnload {
    ~PltUnload() { CParsePlt::DestroyInstance(); }
} g_pltUnload;

}  // namespace

CParsePlt* CParsePlt::GetInstance() {
    if (!m_pInstance) m_pInstance = new CParsePlt();
    return m_pInstance;
}

void CParsePlt::Clear() {
    delete m_pInstance;
    m_pInstance = nullptr;
}

void CParsePlt::DestroyInstance() { Clear(); }

int CParsePlt::DigitalPos(const char* text) {
    if (!text) return -1;
    for (int i = 0; text[i]; ++i) {
        if ((text[i] >= '0' && text[i] <= '9') || text[i] == '-') return i;
        if (i == std::numeric_limits<int>::max() - 1) break;
    }
    return -1;
}

int CParsePlt::DigitalPos(wchar_t* text) {
    if (!text) return -1;
    for (int i = 0; text[i]; ++i) {
        if ((text[i] >= L'0' && text[i] <= L'9') || text[i] == L'-') return i;
        if (i == std::numeric_limits<int>::max() - 1) break;
    }
    return -1;
}

std::vector<tagPLTLINE> CParsePlt::ParsePltText(const char* data, size_t size) {
    std::vector<tagPLTLINE> lines;
    if (!data) return lines;
    PltLineCollector collector(lines);
    std::string command;
    size_t start = 0;
    bool recognised = false;
    while (start <= size) {
        const void* semi = size > start ? std::memchr(data + start, ';', size - start) : nullptr;
        const size_t end = semi ? static_cast<size_t>(static_cast<const char*>(semi) - data) : size;
        command.assign(data + start, end - start);
        recognised = recognised || IsPlotterCommand(command.c_str());
        collector.Command(command.c_str(), DigitalPos(command.c_str()));
        start = end + 1;
    }
    collector.Finish();
    if (!recognised) lines.clear();
    return lines;
}

bool CParsePlt::ParserPltFile(const CString& path, CGroupShape* group) {
    if (!group) return false;
    std::vector<tagPLTLINE>& target = group->vLines;
    // The same file read again into a group that already holds its lines
    // needs no second reading; a group without lines is always read into, so
    // a file that drew nothing never reports success.
    if (!m_strPath.IsEmpty() && m_strPath.CompareNoCase(path.GetString()) == 0 && !target.empty()) return true;

    group->bImpFromPlt = true;
    std::ifstream in(WidePathToUtf8(path.GetString()), std::ios::in | std::ios::binary);
    if (!in) return false;

    const size_t before = target.size();
    PltLineCollector collector(target);
    std::string command;
    bool recognised = false;
    while (std::getline(in, command, ';')) {
        recognised = recognised || IsPlotterCommand(command.c_str());
        collector.Command(command.c_str(), DigitalPos(command.c_str()));
    }
    collector.Finish();
    m_strPath = path;
    if (!recognised) {
        // Not a plot (random bytes, a file of another kind): whatever the
        // pen commands found in it drew is no drawing.
        target.resize(before);
        return false;
    }
    if (target.size() != before) group->InvalidateGeometry();
    return !target.empty();
}

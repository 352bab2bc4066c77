#include "morvik/import/ai.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "morvik/core/number_text.h"
#include "morvik/core/text_utils.h"

namespace {

constexpr int32_t kLineBuffer = 1024;
// A lineto closer than this to the current point in both axes adds nothing.
constexpr float kSamePoint = 0.0001f;

// The number at the start of a token, as the C library's decimal reading
// takes it but always with a '.' decimal point: leading blanks, an optional
// sign, then the longest number. Text that is not a number, and values that
// are not finite or do not fit a float, read as 0.
float ReadNumber(const std::string& token) {
    double value = 0.0;
    if (!ReadLeadingDecimal(std::string_view(token), value) ||
        std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max()))
        return 0.0f;
    return static_cast<float>(value);
}

bool IsOperator(const std::string& token, char lower) {
    return token.size() == 1 && (token[0] == lower || token[0] == lower - 'a' + 'A');
}

// Opens a narrow (UTF-8) path for binary reading.
bool OpenBinary(std::ifstream& in, const char* path) {
    if (!path) return false;
    in.open(path, std::ios::in | std::ios::binary);
    return static_cast<bool>(in);
}

// The tokens of a line: the runs of text between blanks, without the line's end.
std::vector<std::string> Tokens(char* line) {
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == '\n')) line[--n] = '\0';
    std::vector<std::string> tokens;
    SplitByChar(tokens, line, " ");
    return tokens;
}

}  // namespace

CParserAIFile::CParserAIFile() = default;

CParserAIFile::~CParserAIFile() = default;

void CParserAIFile::GetAiPoint(std::vector<tagAIPT>& out) { out = m_arrAiPoint; }

bool CParserAIFile::ReadLine(std::ifstream& in, char* buffer, int32_t size) {
    if (!buffer || size < 2) return false;
    int32_t stored = 0;
    buffer[0] = '\0';
    while (stored < size - 1) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) {
            // A last line without a line end still counts.
            return stored > 0;
        }
        buffer[stored++] = static_cast<char>(c);
        buffer[stored] = '\0';
        if (c == '\r' || c == '\n') return true;
    }
    return true;
}

tagPOINTF CParserAIFile::FtcProcess(std::vector<std::string>& tokens) {
    tagPOINTF p;
    if (tokens.size() > 0) p.x = ReadNumber(tokens[0]);
    if (tokens.size() > 1) p.y = ReadNumber(tokens[1]);
    return p;
}

void CParserAIFile::ParseTokens(std::vector<std::string>& tokens, bool lastTokenMoves) {
    const size_t n = tokens.size();
    const auto append = [this](tagPOINTF c1, tagPOINTF c2, tagPOINTF end) {
        tagAIPT seg;
        seg.p0 = m_ptCurrent;
        seg.p1 = c1;
        seg.p2 = c2;
        seg.p3 = end;
        seg.bStart = m_bNewPath ? 1 : 0;
        seg.cType = 'c';
        m_arrAiPoint.push_back(seg);
        m_bNewPath = false;
        m_ptCurrent = end;
    };
    const auto point = [&tokens](size_t i) { return tagPOINTF{ReadNumber(tokens[i]), ReadNumber(tokens[i + 1])}; };

    if (lastTokenMoves && n > 0 && tokens[n - 1] == "m") {
        m_ptCurrent = FtcProcess(tokens);
        m_bNewPath = true;
    } else if (n == 3 && tokens[2] == "m") {
        m_ptCurrent = point(0);
        m_bNewPath = true;
    } else if (n == 3 && IsOperator(tokens[2], 'l')) {
        const tagPOINTF p = point(0);
        if (std::fabs(p.x - m_ptCurrent.x) < kSamePoint && std::fabs(p.y - m_ptCurrent.y) < kSamePoint) return;
        append(p, p, p);
    } else if (n == 7 && IsOperator(tokens[6], 'c')) {
        append(point(0), point(2), point(4));
    } else if (n == 5 && IsOperator(tokens[4], 'v')) {
        append(m_ptCurrent, point(0), point(2));
    } else if (n == 5 && IsOperator(tokens[4], 'y')) {
        const tagPOINTF end = point(2);
        append(point(0), end, end);
    }
    // Anything else (closing, filling, painting, state) draws nothing here.
}

void CParserAIFile::ParseAI(char* path) {
    std::ifstream in;
    if (!OpenBinary(in, path)) return;
    m_ptCurrent = tagPOINTF{};
    m_bNewPath = false;
    bool header = true;
    char line[kLineBuffer];
    while (ReadLine(in, line, kLineBuffer)) {
        if (std::strstr(line, "%%")) {
            if (std::strstr(line, "%%EndSetup")) header = false;
            continue;
        }
        if (header) continue;
        std::vector<std::string> tokens = Tokens(line);
        ParseTokens(tokens, false);
    }
}

void CParserAIFile::ParseAI2(char* path) {
    std::ifstream in;
    if (!OpenBinary(in, path)) return;
    m_ptCurrent = tagPOINTF{};
    m_bNewPath = false;
    char line[kLineBuffer];
    while (ReadLine(in, line, kLineBuffer)) {
        if (std::strstr(line, "%%")) continue;
        std::vector<std::string> tokens = Tokens(line);
        ParseTokens(tokens, true);
    }
}

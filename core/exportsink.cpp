#include "morvik/core/exportsink.h"

#include <cstdint>
#include <string_view>

#include "morvik/afx/cstring.h"
#include "morvik/core/geometry.h"
#include "morvik/core/text_utils.h"

namespace {

int WriteAnsi(std::ofstream& file, const wchar_t* line) {
    if (line == nullptr) {
        return 0;
    }
    std::string bytes = WideToMultiByteString(CString(line), CP_ACP);
    if (!bytes.empty()) {
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return 0;
}

constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";
// A start of file longer than this is written as it is: no declaration is
// that long.
constexpr size_t kLongestHead = 4096;

bool StartsWithDeclaration(const std::string& bytes) {
    return bytes.compare(0, 5, "<?xml") == 0 && bytes.size() > 5 &&
           (bytes[5] == ' ' || bytes[5] == '\t' || bytes[5] == '\r' || bytes[5] == '\n' || bytes[5] == '?');
}

// The declaration at the start of bytes made to name UTF-8.
void DeclareUtf8(std::string& bytes) {
    const size_t end = bytes.find("?>");
    if (end == std::string::npos) return;
    const size_t enc = bytes.find("encoding", 5);
    if (enc != std::string::npos && enc < end) {
        // Replace the quoted value after "encoding =".
        size_t q = bytes.find_first_of("\"'", enc);
        if (q == std::string::npos || q > end) return;
        const size_t close = bytes.find(bytes[q], q + 1);
        if (close == std::string::npos || close > end) return;
        bytes.replace(q + 1, close - q - 1, "UTF-8");
        return;
    }
    // Encoding goes right after the version, before any standalone.
    size_t at = end;
    const size_t ver = bytes.find("version", 5);
    if (ver != std::string::npos && ver < end) {
        const size_t q = bytes.find_first_of("\"'", ver);
        const size_t close = q == std::string::npos ? std::string::npos : bytes.find(bytes[q], q + 1);
        if (close != std::string::npos && close < end) at = close + 1;
    }
    bytes.insert(at, " encoding=\"UTF-8\"");
}

}  // namespace

int tagXmlBuff::WriteToFile(const wchar_t* line) {
    if (line == nullptr) return 0;
    std::string bytes = WideToMultiByteString(CString(line), CP_UTF8);
    if (bytes.empty()) return 0;
    if (m_pastHead) {
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return 0;
    }
    // The start of the file is held until it is a whole declaration (made
    // to name UTF-8) or cannot become one; a byte-order mark may come first.
    m_head += bytes;
    const size_t start = m_head.compare(0, 3, kUtf8Bom) == 0 ? 3 : 0;
    std::string rest = m_head.substr(start);
    const bool maybe = rest.size() <= 5 ? std::string_view("<?xml").substr(0, rest.size()) == rest
                                        : StartsWithDeclaration(rest) && m_head.size() <= kLongestHead;
    const bool whole = maybe && rest.size() > 5 && rest.find("?>") != std::string::npos;
    if (maybe && !whole) return 0;
    if (whole) {
        DeclareUtf8(rest);
        m_head.replace(start, std::string::npos, rest);
    }
    file.write(m_head.data(), static_cast<std::streamsize>(m_head.size()));
    m_head.clear();
    m_pastHead = true;
    return 0;
}

tagXmlBuff::~tagXmlBuff() {
    if (!m_head.empty() && file.is_open()) file.write(m_head.data(), static_cast<std::streamsize>(m_head.size()));
}

int GCodeContext::WriteToFile(const wchar_t* line) { return WriteAnsi(file, line); }

int GCodeContext::WriteLine(const wchar_t* line) {
    if (bToList) {
        lines.emplace_back(line != nullptr ? line : L"");
        return 0;
    }
    return WriteToFile(line);
}

bool GCodeContext::SameAsLast(float x, float y, float z) {
    if (x == fLastX && y == fLastY && z == fLastZ) {
        return true;
    }
    fLastX = x;
    fLastY = y;
    fLastZ = z;
    return false;
}

int GCodeContext::MoveTo(float x, float y, float z) {
    if (SameAsLast(x, y, z)) {
        return 0;
    }
    CString line;
    if (bGCode) {
        line.Format(L"G00 X%.3f Y%.3f Z%.3f \n", x, y, z);
    } else {
        line.Format(L"LT;\nPU%.0f %.0f;\n", RoundHalfAway(x * 40.0), RoundHalfAway(y * 40.0));
    }
    return WriteLine(line);
}

int GCodeContext::LineTo(float x, float y, float z) {
    if (SameAsLast(x, y, z)) {
        return 0;
    }
    CString line;
    if (bGCode) {
        line.Format(L"G01 X%.3f Y%.3f Z%.3f \n", x, y, z);
    } else {
        line.Format(L"PD%.0f %.0f;\n", RoundHalfAway(x * 40.0), RoundHalfAway(y * 40.0));
    }
    return WriteLine(line);
}

std::wstring XmlEscape(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
            case L'&':
                out += L"&amp;";
                break;
            case L'<':
                out += L"&lt;";
                break;
            case L'>':
                out += L"&gt;";
                break;
            case L'"':
                out += L"&quot;";
                break;
            // A parser turns a line end or tab inside an attribute into a
            // blank: as character references they come back as they were.
            case L'\n':
                out += L"&#10;";
                break;
            case L'\r':
                out += L"&#13;";
                break;
            case L'\t':
                out += L"&#9;";
                break;
            default: {
                const auto u = static_cast<uint32_t>(c);
                const bool allowed = u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u < 0xD800) ||
                                     (u >= 0xE000 && u < 0xFFFE) || (u >= 0x10000 && u <= 0x10FFFF);
                out += allowed ? c : L'?';
            }
        }
    }
    return out;
}

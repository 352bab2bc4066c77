#include "core/exportsink.h"

#include "afx/cstring.h"
#include "core/geometry.h"
#include "core/text_utils.h"

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

}  // namespace

int tagXmlBuff::WriteToFile(const wchar_t* line) { return WriteAnsi(file, line); }

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
            default:
                out += c;
        }
    }
    return out;
}

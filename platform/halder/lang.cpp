#include "morvik/halder/lang.h"

#include <mutex>

namespace {

const std::map<std::string, std::wstring, std::less<>>& EnglishTable() {
    static const std::map<std::string, std::wstring, std::less<>> table = {
        {"IDS_TYPENAME_POLYLINE", L"Polyline"},
        {"IDS_TYPENAME_CIRCLE", L"Circle"},
        {"IDS_TYPENAME_ELLIPSEARC", L"Ellipse"},
        {"IDS_TYPENAME_RECTANGLE", L"Rectangle"},
        {"IDS_TYPENAME_BEZIER", L"Curve"},
        {"IDS_TYPENAME_POLYGON", L"Polygon"},
        {"IDS_TYPENAME_POINT", L"Point"},
        {"IDS_TYPENAME_DELAYEDTIMER", L"Delay"},
        {"IDS_TYPENAME_GROUP", L"Group"},
        {"IDS_TYPENAME_COMBINE", L"Combined"},
        {"IDS_TYPENAME_TEXT", L"Text"},
        {"IDS_TYPENAME_CODEBAR", L"Barcode"},
        {"IDS_TYPENAME_PICTURE", L"Picture"},
        {"IDS_TYPENAME_FILLED", L"Fill"},
        {"IDS_TYPENAME_SCREWLINE", L"Spiral"},
        {"IDS_TYPENAME_INPUT", L"Input"},
        {"IDS_TYPENAME_OUTPUT", L"Output"},
        {"IDC_STATIC_MVDST", L"Move distance"},
        {"ID_DRAW_EXTAXI", L"Axis move"},
        {"IDS_COPY", L"Copy of "},
        {"IDS_PEN_ID", L"Pen"},
        {"IDS_PEN_SWITCH", L"Enabled"},
        {"IDS_SWITCH_ON", L"On"},
        {"IDS_SWITCH_OFF", L"Off"},
        {"IDS_NAME", L"Name"},
        {"IDC_STATIC_MACHINE_COUNT", L"Mark count"},
        {"IDC_STATIC_RUN_SPEED", L"Speed (mm/s)"},
        {"IDS_LASER_POWER", L"Power (%)"},
        {"IDS_CURRENT", L"Current (A)"},
        {"IDC_STATIC_LASER_HZ", L"Frequency (kHz)"},
        {"IDC_STATIC_ZKB", L"Duty ratio (%)"},
        {"IDC_STATIC_OPEN_DELAY", L"Laser on delay (us)"},
        {"IDC_STATIC_SHUT_DELAY", L"Laser off delay (us)"},
        {"IDC_STATIC_END_DELAY", L"End delay (us)"},
        {"IDC_STATIC_CORNER_DELAY", L"Corner delay (us)"},
        {"IDC_STATIC_STEP_DELAY", L"Step delay (us)"},
        {"IDS_STEP_MARK", L"Step length (mm)"},
        {"IDS_CREATE_SPIRAL_ERR", L"The spiral cannot be created: its rectangle is too small."},
        {"IDS_DRAW_SPIRAL_ERR", L"The spiral cannot be drawn: it has no rectangle and no points."},
        {"IDS_DXF_AREADY_OPENED", L"The DXF file cannot be opened (is it open in another program?)."},
        {"IDS_UNSUPPORT_DXF_UNICODE_FORMAT", L"DXF files in UTF-16 are not supported."},
        {"IDS_OPEN_DXFONT_ERR", L"Cannot open the font file: "},
        {"IDS_OPEN_SHX", L"No SHX font could be loaded."},
        {"IDS_EAR_CODE", L"Ear tag code"},
        {"IDS_ERR_BAR_TYPE", L"Unknown barcode type."},
        {"IDS_INVALID_BAR", L"The barcode cannot be built from this text."},
        {"IDS_FONTS_NOT_SUPPORT", L"This combination is not supported by the barcode type."},
        {"IDS_FONTS_NO_TEXT", L"The barcode has no text."},
        {"IDS_FONTS_OTHER_ERROR", L"Barcode error: "},
        {"IDS_FONTS_WRONG_TEXT", L"Invalid character '%c' at position %d."},
        {"IDS_FONTS_WRONG_TEXT_LEN", L"The text is too long: at most %d characters."},
        {"IDS_PICTYPE_ERR", L"The picture file cannot be decoded."},
        {"IDS_GET_PICFILE_ERROR", L"The picture's pixels cannot be read."},
        {"IDS_SELECT_ERR", L"Select the shapes to overlay first."},
        {"MSG_NO_MEMORY_DISPALYED", L"Not enough memory to show the picture."},
        {"MSG_PARAMETER_INCORRECT", L"The parameters are not correct."},
    };
    return table;
}

}  // namespace

CLang* CLang::Instance() {
    static CLang instance;
    return &instance;
}

CLang::CLang() : m_table(EnglishTable()) {}

CString CLang::GetString(const char* key) const {
    if (key == nullptr) {
        return CString();
    }
    std::shared_lock lock(m_lock);
    auto it = m_table.find(std::string_view(key));
    if (it == m_table.end()) {
        return CString(key);
    }
    return CString(it->second.c_str());
}

CString CLang::GetString(const CString& key) const {
    return GetString(WideToUtf8(std::wstring(static_cast<const wchar_t*>(key))).c_str());
}

void CLang::SetString(const std::string& key, const std::wstring& text) {
    std::unique_lock lock(m_lock);
    m_table[key] = text;
    m_generation.fetch_add(1, std::memory_order_acq_rel);
}

void CLang::ResetToDefaults() {
    std::unique_lock lock(m_lock);
    m_table = EnglishTable();
    m_generation.fetch_add(1, std::memory_order_acq_rel);
}

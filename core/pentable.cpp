#include "morvik/core/pentable.h"

namespace {

// Header and width of each column kind. A header is either a language key or
// a literal that is shown as it stands.
struct ColumnInfo {
    const char* langKey;
    const wchar_t* literal;
    int width;
};

constexpr int kColumnKinds = 27;
constexpr int kUnnamedWidth = 80;

constexpr ColumnInfo kColumns[kColumnKinds] = {
    {"IDS_PEN_ID", nullptr, 40},
    {"IDS_PEN_SWITCH", nullptr, 40},
    {"IDS_NAME", nullptr, 80},
    {"IDC_STATIC_MACHINE_COUNT", nullptr, 100},
    {"IDC_STATIC_RUN_SPEED", nullptr, 100},
    {"IDS_LASER_POWER", nullptr, 60},
    {nullptr, L"功率生效时间(us)", 40},
    {"IDS_CURRENT", nullptr, 40},
    {"IDC_STATIC_LASER_HZ", nullptr, 80},
    {"IDC_STATIC_ZKB", nullptr, 100},
    {"IDC_STATIC_OPEN_DELAY", nullptr, 100},
    {"IDC_STATIC_SHUT_DELAY", nullptr, 100},
    {"IDC_STATIC_END_DELAY", nullptr, 100},
    {"IDC_STATIC_CORNER_DELAY", nullptr, 100},
    {"IDS_STEP_MARK", nullptr, 100},
    {"IDC_STATIC_STEP_DELAY", nullptr, 100},
    {nullptr, nullptr, kUnnamedWidth},
    {nullptr, nullptr, kUnnamedWidth},
    {nullptr, nullptr, kUnnamedWidth},
    {nullptr, nullptr, kUnnamedWidth},
    {nullptr, nullptr, kUnnamedWidth},
    {nullptr, nullptr, kUnnamedWidth},
    {nullptr, nullptr, kUnnamedWidth},
    {nullptr, nullptr, kUnnamedWidth},
    {nullptr, L"拐角延时是否可变", 100},
    {nullptr, L"Mopa脉宽", 100},
    {nullptr, L"使能电压输出", 100},
};

// The table entry of a kind, or null for values outside the table (negative
// values included).
const ColumnInfo* ColumnOf(PenParType type) {
    const int index = static_cast<int>(type);
    if (index < 0 || index >= kColumnKinds) return nullptr;
    return &kColumns[index];
}

CString IntCell(int value) {
    CString s;
    s.Format(L"%d", value);
    return s;
}

CString FloatCell(float value) {
    CString s;
    s.Format(L"%0.2f", static_cast<double>(value));
    return s;
}

}  // namespace

unsigned int PenParsInfo::GetLabelCount() { return kColumnKinds; }

CString PenParsInfo::GetLabelName(const PenParType& type, CLang* /*lang*/) {
    const ColumnInfo* column = ColumnOf(type);
    if (column == nullptr) return CString();
    if (column->langKey != nullptr) return CLang::Instance()->GetString(column->langKey);
    if (column->literal != nullptr) return CString(column->literal);
    return CString();
}

void PenParsInfo::SetType(const PenParType& type) {
    m_eType = type;
    const ColumnInfo* column = ColumnOf(type);
    m_nWidth = column != nullptr ? column->width : kUnnamedWidth;
}

CString PenParsInfo::GetValue(const tagPenPar& pen, int row) const {
    switch (m_eType) {
        case PEN_PAR_ID:
            return IntCell(row);
        case PEN_PAR_SWITCH:
            // Only 1 counts as on; any other value shows as off.
            return CLang::Instance()->GetString(pen.nSwitch == 1 ? "IDS_SWITCH_ON" : "IDS_SWITCH_OFF");
        case PEN_PAR_NAME:
            return pen.strName;
        case PEN_PAR_MARK_COUNT:
            return IntCell(pen.nMarkCount);
        case PEN_PAR_RUN_SPEED:
            return IntCell(pen.nRunSpeed);
        case PEN_PAR_LASER_POWER:
            return IntCell(pen.nLaserPower);
        case PEN_PAR_POWER_EFFECT_TIME:
            return IntCell(pen.nPowerEffectTime);
        case PEN_PAR_CURRENT:
            return FloatCell(pen.fCurrent);
        case PEN_PAR_LASER_FREQUENCY:
            return FloatCell(pen.fLaserFrequency);
        case PEN_PAR_DUTY_RATIO:
            return FloatCell(pen.fDutyRatio);
        case PEN_PAR_OPEN_DELAY:
            return IntCell(pen.nOpenDelay);
        case PEN_PAR_SHUT_DELAY:
            return IntCell(pen.nShutDelay);
        case PEN_PAR_END_DELAY:
            return IntCell(pen.nEndDelay);
        case PEN_PAR_CORNER_DELAY:
            return IntCell(pen.nCornerDelay);
        case PEN_PAR_STEP_LENGTH:
            return FloatCell(pen.fStepLength);
        case PEN_PAR_STEP_DELAY:
            return IntCell(pen.nStepDelay);
        case PEN_PAR_CORNER_DELAY_VARIABLE:
            return CString(pen.bCornerDelayVariable != 0 ? L"是" : L"否");
        case PEN_PAR_MOPA_PULSE_WIDTH:
            return IntCell(pen.nMopaPulseWidth);
        case PEN_PAR_VOLTAGE_OUTPUT:
            return IntCell(pen.bVoltageOutput);
    }
    return CString();
}

CString PenParsInfo::GetDescription(CLang* lang) const { return GetLabelName(m_eType, lang); }

// The pen table's columns: header, width and cell text of every kind.
#include <gtest/gtest.h>

#include "morvik/core/pentable.h"

namespace {

PenParsInfo Column(int type) {
    PenParsInfo info;
    info.SetType(static_cast<PenParType>(type));
    return info;
}

}  // namespace

TEST(PenParsInfo, WidthsAndCellsOfEveryKind) {
    tagPenPar pen;
    pen.strName = L"Steel";
    pen.nMarkCount = 3, pen.nRunSpeed = 1200, pen.nLaserPower = 75, pen.nPowerEffectTime = 11;
    pen.fCurrent = 1.5f, pen.fLaserFrequency = 20000.0f, pen.fDutyRatio = 12.25f, pen.nMopaPulseWidth = 200;
    pen.nOpenDelay = -40, pen.nShutDelay = 90, pen.nEndDelay = 110, pen.nCornerDelay = 130;
    pen.nStepDelay = 150, pen.fStepLength = 0.75f, pen.bVoltageOutput = 7;
    const struct {
        int type, width;
        const wchar_t* cell;
    } columns[] = {
        {0, 40, L"41"},     {2, 80, L"Steel"},   {3, 100, L"3"},     {4, 100, L"1200"},  {5, 60, L"75"},
        {6, 40, L"11"},     {7, 40, L"1.50"},    {8, 80, L"20000.00"}, {9, 100, L"12.25"}, {10, 100, L"-40"},
        {11, 100, L"90"},   {12, 100, L"110"},   {13, 100, L"130"},  {14, 100, L"0.75"}, {15, 100, L"150"},
        {25, 100, L"200"},  {26, 100, L"7"},
        // Kinds that name no parameter.
        {16, 80, L""},      {19, 80, L""},       {23, 80, L""},      {27, 80, L""},      {-1, 80, L""},
    };
    ASSERT_EQ(PenParsInfo::GetLabelCount(), 27u);
    for (const auto& c : columns) {
        const PenParsInfo info = Column(c.type);
        EXPECT_EQ(info.GetWidth(), c.width) << c.type;
        EXPECT_EQ(info.GetValue(pen, 41), CString(c.cell)) << c.type;
    }
    EXPECT_EQ(Column(19).GetDescription(nullptr), CString());
}

TEST(PenParsInfo, SwitchAndCornerFlagTexts) {
    CLang* lang = CLang::Instance();
    tagPenPar pen;
    for (int value : {1, 0, 2, -1}) {
        pen.nSwitch = value;
        EXPECT_EQ(Column(1).GetValue(pen, 0), lang->GetString(value == 1 ? "IDS_SWITCH_ON" : "IDS_SWITCH_OFF"));
    }
    pen.bCornerDelayVariable = 0;
    EXPECT_EQ(Column(24).GetValue(pen, 0), CString(L"\u5426"));
    pen.bCornerDelayVariable = 255;
    EXPECT_EQ(Column(24).GetValue(pen, 0), CString(L"\u662F"));
}

TEST(PenParsInfo, HeadersFollowTheLanguageSingletonOrStandLiterally) {
    CLang* lang = CLang::Instance();
    lang->SetString("IDS_PEN_ID", L"Stift");
    lang->SetString("IDC_STATIC_LASER_HZ", L"Frequenz");
    EXPECT_EQ(Column(0).GetDescription(nullptr), CString(L"Stift"));
    EXPECT_EQ(PenParsInfo::GetLabelName(PEN_PAR_LASER_FREQUENCY, nullptr), CString(L"Frequenz"));
    lang->ResetToDefaults();

    EXPECT_EQ(Column(6).GetDescription(nullptr), CString(L"\u529F\u7387\u751F\u6548\u65F6\u95F4(us)"));
    EXPECT_EQ(Column(24).GetDescription(nullptr), CString(L"\u62D0\u89D2\u5EF6\u65F6\u662F\u5426\u53EF\u53D8"));
    EXPECT_EQ(Column(25).GetDescription(nullptr), CString(L"Mopa\u8109\u5BBD"));
    EXPECT_EQ(Column(26).GetDescription(nullptr), CString(L"\u4F7F\u80FD\u7535\u538B\u8F93\u51FA"));
}

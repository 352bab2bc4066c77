// Variable texts through the marking calls: serial numbers, dates, times and
// file lines piece by piece, the split into fixed texts, the repeat question,
// the mark data per pen and the undo of a text's parameters.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <memory>
#include <thread>

#include "morvik/compose/filledshape.h"
#include "morvik/compose/group.h"
#include "morvik/core/shapelist.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/textelement.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_records_param.h"
#include "morvik/host/recording_host.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "morvik/text/fonts.h"
#include "morvik/text/markrecord.h"
#include "text/text_test_util.h"
#include "morvik/text/vartext.h"
#include "support/shape_support.h"

namespace {

struct Desk {
    CBaseDoc doc;
    CBaseView view{&doc};

    CFonts* Text(const wchar_t* content, const wchar_t* caption = nullptr) {
        auto* t = new CFonts();
        t->SetDocView(&doc, &view);
        t->InitFontsPath({0, 0}, CString(content), CString(L"DejaVu Sans"), false);
        if (caption != nullptr) t->SetCaption(CString(caption));
        doc.AddShape(t);
        return t;
    }
    // A text made of the given elements, laid out with their values.
    CFonts* VarText(std::vector<std::shared_ptr<TEXT_ELEMENT>> elements) {
        CFonts* t = Text(L"x");
        VARTEXT_PAR v;
        v.bEnable = 1;
        v.arrElements = std::move(elements);
        TextContent c(t);
        EXPECT_EQ(t->SetFonts(c.text, c.type, c.face, c.fonts, c.codebar, v, 0, 1, false), 1);
        return t;
    }
};

std::shared_ptr<TEXT_SN_PAR> Serial(int64_t start, int64_t step, int width) {
    auto sn = std::make_shared<TEXT_SN_PAR>();
    sn->nStart = sn->nCurrent = start;
    sn->nStep = step;
    sn->nWidth = width;
    return sn;
}

SPLITRULE Rule(const wchar_t* name, int pos = 1, int total = 1, int mode = 0) {
    SPLITRULE rule;
    rule.strName = name;
    rule.iPos = pos;
    rule.iTotal = total;
    rule.iMode = mode;
    return rule;
}

std::shared_ptr<TEXT_ELEMENT> Fixed(const wchar_t* text) {
    auto e = std::make_shared<TEXT_ELEMENT>();
    e->m_strText = text;
    return e;
}

// The record of a text dialog that gives the text these elements and
// changes nothing else; the old elements are copies of the text's own.
stFontsUndo* NewElements(CFonts* t, std::vector<std::shared_ptr<TEXT_ELEMENT>> elements) {
    auto* p = new stFontsUndo;
    p->ids = {t->GetBaseID()};
    t->GetFonts(p->strOldFirst, p->nOldType, p->strOldSecond, p->fontsOld, p->codebarOld, p->varOld);
    p->varOld = p->varOld.Clone();
    p->strNewFirst = p->strOldFirst;
    p->strNewSecond = p->strOldSecond;
    p->nNewType = p->nOldType;
    p->fontsNew = p->fontsOld;
    p->codebarNew = p->codebarOld;
    p->varNew.bEnable = 1;
    p->varNew.arrElements = std::move(elements);
    return p;
}

class VarTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetVarTextClock([this] { return m_now; });
        CFonts::ResetFirstRotation();
        m_saved = SetHost(m_host);
    }
    void TearDown() override {
        SetHost(m_saved);
        SetVarTextClock(nullptr);
    }
    // Marks one piece; the text that was marked.
    CString Mark(CFonts* t, tagMarkCtlData* ctl = nullptr, bool* ok = nullptr) {
        tagMarkDataPar out;
        const CString before = t->parVarText.bEnable ? t->parVarText.GetText(false) : t->GetText();
        const bool res = t->GetMarkData(out, ctl);
        if (ok != nullptr) *ok = res;
        return before;
    }

    text_test::TempRunLog m_log{"vartext"};
    testsupport::TempDir m_dir{"morvik-vartext"};
    CTime m_now{CTime(2024, 2, 28, 23, 0, 0)};
    std::shared_ptr<RecordingHost> m_host = std::make_shared<RecordingHost>();
    std::shared_ptr<IHostServices> m_saved;
};

TEST_F(VarTextTest, SerialNumberAdvancesByItsStepAndResetsByItsRule) {
    Desk d;
    auto sn = Serial(5, 3, 3);
    sn->nEnd = 12;
    CFonts* t = d.VarText({Fixed(L"N"), sn});
    t->PrepareBeforeMark({}, 0);
    EXPECT_EQ(t->GetText(), CString(L"N005"));
    EXPECT_EQ(Mark(t), CString(L"N005"));
    EXPECT_EQ(t->GetText(), CString(L"N008"));
    EXPECT_EQ(Mark(t), CString(L"N008"));
    EXPECT_EQ(Mark(t), CString(L"N011"));
    // Past the limit it starts again.
    EXPECT_EQ(t->GetText(), CString(L"N005"));
    // Without wrapping, the last number is marked and the next piece fails.
    sn->bLoop = 0;
    sn->nCurrent = 11;
    bool ok = false;
    EXPECT_EQ(Mark(t, nullptr, &ok), CString(L"N011"));
    EXPECT_TRUE(ok);
    Mark(t, nullptr, &ok);
    EXPECT_FALSE(ok);

    // The control value 30 moves it right after the rebuild, and only then.
    sn->bLoop = 1;
    sn->ResetTo(5);
    tagMarkCtlData early;
    early.nPass = 30;
    Mark(t, &early);
    EXPECT_EQ(t->GetText(), CString(L"N008"));
    EXPECT_EQ(sn->nCurrent, 8);

    // A pass of which only one piece was marked leaves it one step on.
    t->PrepareBeforeMark({}, 0);
    Mark(t);
    Mark(t);
    tagMarkCtlData sync;
    sync.bNoRedraw = 1;
    t->CleanupAfterMark(0, 1, sync);
    EXPECT_EQ(t->GetText(), CString(L"N011"));
    t->CleanupAfterMark(3, 3, sync);
    EXPECT_EQ(t->GetText(), CString(L"N011"));
    // Counted through the wrap as single moves would go, however many.
    TEXT_SN_PAR counted;
    counted.CopyAll(*sn);
    counted.nCurrent = 5;
    counted.SetArrayMaxSn();
    for (int i = 0; i < 7; ++i) counted.GotoNext();
    const int64_t walked = counted.nCurrent;
    counted.SyncAfterMark(7);
    EXPECT_EQ(counted.nCurrent, walked);
    counted.SyncAfterMark(2147483647);
    EXPECT_TRUE(counted.nCurrent == 5 || counted.nCurrent == 8 || counted.nCurrent == 11);

    // Daily reset at 06:00: the first piece after it starts from the start.
    sn->nResetMode = 1;
    sn->tmReset = CTime(2000, 1, 1, 6, 0, 0);
    EXPECT_EQ(Mark(t), CString(L"N011"));
    m_now = CTime(2024, 2, 29, 6, 0, 1);
    Mark(t);
    EXPECT_EQ(t->GetText(), CString(L"N008"));  // 005 was marked
}

TEST_F(VarTextTest, DatesTimesAndFileLinesComeFromTheirSources) {
    Desk d;
    auto date = std::make_shared<TEXT_DATE_PAR>();
    date->nDayOffset = 2;
    auto time = std::make_shared<TEXT_TIME_PAR>();
    time->strFormat = L"%H%M";
    CFonts* t = d.VarText({date, Fixed(L" "), time});
    EXPECT_EQ(t->GetText(), CString(L"2024-03-01 2300"));
    m_now = CTime(2024, 12, 31, 7, 5, 0);
    EXPECT_EQ(Mark(t), CString(L"2025-01-02 0705"));

    const std::string path = m_dir.File("lines.txt");
    std::ofstream(path, std::ios::binary) << "first\r\nsecond\nthird";
    auto lines = std::make_shared<TEXTTXT_PAR>();
    lines->strFile = CString(path.c_str());
    CFonts* f = d.VarText({Fixed(L"#"), lines});
    // A file line is taken before its piece is built.
    for (const wchar_t* line : {L"#first", L"#second", L"#third"}) {
        Mark(f);
        EXPECT_EQ(f->GetText(), CString(line));
    }
    bool ok = true;
    Mark(f, nullptr, &ok);
    EXPECT_FALSE(ok);
    lines->ResetTo(1);
    Mark(f);
    EXPECT_EQ(f->GetText(), CString(L"#second"));

    // A serial number, a date or a time makes a text serial, whatever else
    // it holds; the answer's mark-self flag is the deciding element's.
    auto clock = std::make_shared<TEXT_TIME_PAR>();
    clock->advPar.bMkSelf = 0;  // the others keep the default 1
    auto day = std::make_shared<TEXT_DATE_PAR>();
    auto sn = Serial(1, 1, 0);
    const struct {
        std::vector<std::shared_ptr<TEXT_ELEMENT>> elements;
        int serial, markSelf;
    } rows[] = {{{Fixed(L"T"), clock, Fixed(L"x")}, 1, 0}, {{day}, 1, 1}, {{Fixed(L"S"), sn}, 1, 1},
                {{Fixed(L"#"), lines}, 0, 1}, {{Fixed(L"a"), Fixed(L"b")}, 0, 1}};
    for (const auto& row : rows) {
        int markSelf = -1;
        EXPECT_EQ(CProcessVarTxt::Instance()->IsSerialVar(d.VarText(row.elements), markSelf), row.serial);
        EXPECT_EQ(markSelf, row.markSelf) << row.serial;
    }
}

TEST_F(VarTextTest, SplitRulesFillTheFixedTextsAfterTheVariableText) {
    CProcessVarTxt* p = CProcessVarTxt::Instance();
    // The source split at ';' (mode 1) or by characters (mode 0), and the
    // rule's position, length and appending mode, in the order they are set.
    const struct {
        const wchar_t* source;
        int split, pos, total, mode;
        const wchar_t* want;
    } rules[] = {
        {L"A;B;C", 1, 1, 1, 0, L"A"},     {L"A;B;C", 1, 2, 1, 0, L"B"},  {L"A;B;C", 1, 3, 1, 0, L""},
        {L"A;B;C", 1, 0, 1, 0, L""},      {L"ABCDEF", 0, 2, 3, 0, L"BCD"}, {L"ABCDEF", 0, 2, 3, 1, L"XBCD"},
        {L"ABCDEF", 0, 5, 9, 0, L"EF"},   {L"ABCDEF", 0, -5, 9, 0, L""}, {L"ABCDEF", 0, 0, 9, 0, L""},
        {L"ABCDEF", 0, 7, 9, 0, L""},     {L"ABCDEF", 0, 99, 9, 0, L""},
    };
    for (const auto& row : rules) {
        SCOPED_TRACE(testing::Message() << row.pos << " of " << std::wstring(row.source));
        p->SetSource(CString(row.source), row.split);
        CString fixed(L"X");
        SPLITRULE rule = Rule(L"", row.pos, row.total, row.mode);
        EXPECT_EQ(p->GetTxtByRule(fixed, rule), CString(row.want));
    }

    Desk d;
    CFonts* before = d.Text(L"b", L"Lot");
    auto sn = Serial(1234, 1, 0);
    sn->advPar.bSplit = 1;
    sn->advPar.vecSplitRule = {Rule(L"Lot", 1, 2), Rule(L"Day", 3, 2)};
    CFonts* var = d.VarText({sn});
    CFonts* lot = d.Text(L"l", L"Lot");
    CFonts* day = d.Text(L"d", L"Day");
    auto other = Serial(7, 1, 0);
    other->advPar.bSplit = 0;
    d.VarText({other});
    CFonts* after = d.Text(L"a", L"Lot");
    EXPECT_EQ(p->IsVarTxtAdv(d.doc.GetShapeList()), 1);
    EXPECT_EQ(p->Position(d.doc.GetShapeList(), var), 1);
    EXPECT_EQ(p->Position(d.doc.GetShapeList(), lot), -1);

    Mark(var);
    EXPECT_EQ(lot->GetText(), CString(L"12"));
    EXPECT_EQ(day->GetText(), CString(L"34"));
    EXPECT_EQ(before->GetText(), CString(L"b"));
    EXPECT_EQ(after->GetText(), CString(L"a"));

    // Not marked itself: laid out as one blank, the text kept.
    sn->advPar.bMkSelf = 0;
    p->SetMkSelfTxt(d.doc.GetShapeList());
    EXPECT_EQ(var->GetChars().size(), 1u);
    EXPECT_EQ(var->GetText(), CString(L"1235"));
    tagMarkDataPar out;
    EXPECT_TRUE(var->GetMarkData(out, nullptr));
    EXPECT_TRUE(out.arrPaths.empty());
    int markSelf = -1;
    EXPECT_EQ(p->IsSerialVar(var, markSelf), 1);
    EXPECT_EQ(markSelf, 0);

    // Reset and save reach the texts' own elements through the copies.
    CResetVarTxt::Instance()->ResetVarValue(d.doc.GetShapeList(), 40);
    EXPECT_EQ(sn->nCurrent, 40);
    EXPECT_EQ(other->nCurrent, 40);
    CResetVarTxt::Instance()->SaveVarCurValue(d.doc.GetShapeList());
    EXPECT_EQ(sn->nStart, 40);
}

TEST_F(VarTextTest, AppendingRuleKeepsTheFixedTextsOwnTextFromPieceToPiece) {
    Desk d;
    auto sn = Serial(1234, 1, 0);
    sn->advPar.bSplit = 1;
    sn->advPar.vecSplitRule.push_back(Rule(L"Lot", 3, 2, 1));
    CFonts* var = d.VarText({sn});
    CFonts* lot = d.Text(L"X", L"Lot");
    for (const wchar_t* expected : {L"X34", L"X35", L"X36"}) {
        Mark(var);
        EXPECT_EQ(lot->GetText(), CString(expected));
    }
    // What the user types in between is the text the pieces follow.
    TextContent c(lot);
    ASSERT_EQ(c.Apply(lot, CString(L"Y"), 1, false), 1);
    Mark(var);
    EXPECT_EQ(lot->GetText(), CString(L"Y37"));
    Mark(var);
    EXPECT_EQ(lot->GetText(), CString(L"Y38"));
    // A copy of the filled text follows the same text.
    auto* twin = static_cast<CFonts*>(lot->Clone());
    twin->SetCaption(CString(L"Lot"));
    d.doc.AddShape(twin);
    Mark(var);
    EXPECT_EQ(twin->GetText(), CString(L"Y39"));
}

TEST_F(VarTextTest, LinkedTextTakesItsParentsValueWithoutMovingTheSource) {
    Desk d;
    auto source = std::make_shared<TEXT_TCPIP_PAR>();
    CFonts* parent = d.VarText({Fixed(L"#"), source});
    // A linked copy and another linked text, each with elements of its own.
    auto* shared = static_cast<CFonts*>(parent->Clone());
    CFonts* own = d.VarText({Fixed(L"#"), std::make_shared<TEXT_TCPIP_PAR>()});
    for (CFonts* child : {shared, own}) {
        child->SetLinkFlag(true);
        child->SetParentBaseID(parent->GetBaseID());
    }
    d.doc.AddShape(shared);
    for (const wchar_t* t : {L"A", L"B", L"C"}) source->Receive(CString(t));
    for (const wchar_t* expected : {L"#A", L"#B"}) {
        Mark(parent);
        Mark(shared);
        Mark(own);
        EXPECT_EQ(parent->GetText(), CString(expected));
        EXPECT_EQ(shared->GetText(), CString(expected));
        EXPECT_EQ(own->GetText(), CString(expected));
    }
}

TEST_F(VarTextTest, RepeatedTextAsksTheHostAndHonoursTheAnswer) {
    Desk d;
    CFonts* t = d.Text(L"R1");
    CString path(m_dir.File("repeat.txt").c_str());
    t->SetTxtOutPara(1, 0, 1, 0, CTime(), path);
    t->PrepareBeforeMark({}, 0);
    tagMarkDataPar out;
    EXPECT_TRUE(t->GetMarkData(out, nullptr));
    EXPECT_TRUE(m_host->MessageBoxes().empty());

    m_host->QueueMessageBoxAnswer(IDCANCEL);
    EXPECT_TRUE(t->GetMarkData(out, nullptr));  // from the cache, recorded again
    m_host->QueueMessageBoxAnswer(IDOK);
    EXPECT_FALSE(t->GetMarkData(out, nullptr));
    const auto boxes = m_host->MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, L"重复标刻提示");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OKCANCEL | MB_TOPMOST));

    // Loaded from the file on the next pass; a group hands the data out
    // but reports the refusal.
    CGroupShape group;
    d.doc.GetShapeList().remove(t);
    group.GetChildren().push_back(t);
    group.SetDocView(&d.doc, &d.view);
    t->PrepareBeforeMark({}, 0);
    tagMarkDataPar all;
    m_host->QueueMessageBoxAnswer(IDOK);
    EXPECT_FALSE(group.GetMarkData(all, nullptr));
    EXPECT_FALSE(all.arrPaths.empty());
    m_host->QueueMessageBoxAnswer(IDCANCEL);
    EXPECT_TRUE(group.GetMarkData(all, nullptr));
    group.GetChildren().clear();

    // A host without a user answers with the default button: stop.
    SetHost(nullptr);
    EXPECT_FALSE(t->GetMarkData(out, nullptr));
    SetHost(m_host);
}

TEST_F(VarTextTest, MarkDataPerPenAndTurningHatch) {
    Desk d;
    CFonts* plain = d.Text(L"HI");
    plain->SetPen(3);
    tagMarkDataPar out;
    ASSERT_TRUE(plain->GetMarkData(out, nullptr));
    ASSERT_EQ(out.arrPaths.size(), 1u);
    EXPECT_EQ(out.arrPaths[0].nPenIndex, 3);
    EXPECT_EQ(out.arrPaths[0].arrPolylines.size(), 2u);  // H and I, one outline each
    EXPECT_TRUE(out.arrPaths2.empty());
    // Its outline lies on the glyphs: every point inside the text's rectangle.
    Gdiplus::RectF r = testsupport::RectOf(*plain);
    for (const auto& line : out.arrPaths[0].arrPolylines)
        for (const tagPOINTF& p : line) {
            EXPECT_GE(p.x, r.X - 1e-3);
            EXPECT_LE(p.x, r.X + r.Width + 1e-3);
        }

    // Per character: an empty line gives no group and takes no character.
    CFonts* lines = d.Text(L"AB\r\n\r\nC");
    lines->SetPen(4);
    std::vector<std::vector<CBaseShape*>> groups;
    ASSERT_TRUE(lines->ConvertToShapeList(groups));
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].size(), 2u);
    EXPECT_EQ(groups[1].size(), 1u);
    for (auto& g : groups)
        for (CBaseShape* s : g) delete s;
    std::vector<std::vector<tagMarkDataPar>> chars;
    ASSERT_TRUE(lines->GetCharsMarkData(chars, false));
    ASSERT_EQ(chars.size(), 1u);
    ASSERT_EQ(chars[0].size(), 3u);
    EXPECT_EQ(chars[0][2].arrPaths.at(0).nPenIndex, 4);
    EXPECT_LT(chars[0][2].rect.Y, chars[0][0].rect.Y);  // C on the line below

    CFonts* filled = d.Text(L"O");
    FILLED_PARS fill;
    fill.bOutLine = 0;
    fill.fillParams[0].bEnable = 1;
    fill.fillParams[0].nFillType = 3;
    fill.fillParams[0].fLineSpacing = 0.5;
    fill.fillParams[0].nPenNum = 5;
    fill.fillParams[0].m_fill_rotate = 1;
    fill.fillParams[0].m_fRotateAngle = 10.0;
    fill.fillParams[0].fAngle = 355.0;
    filled->SetFill(fill, false);
    double angles[3];
    for (double& a : angles) {
        tagMarkDataPar data;
        ASSERT_TRUE(filled->GetMarkData(data, nullptr));
        ASSERT_FALSE(data.arrPaths2.empty());
        EXPECT_EQ(data.arrPaths2[0].nPenIndex, 5);
        EXPECT_TRUE(data.arrPaths.empty());
        // Hatch lines of one set run parallel at the set's angle.
        const auto& line = data.arrPaths2[0].arrPolylines.front();
        ASSERT_GE(line.size(), 2u);
        a = std::fmod(std::atan2(line.back().y - line.front().y, line.back().x - line.front().x) * 180 / M_PI + 360,
                      180.0);
        EXPECT_NEAR(std::fmod(filled->parFill.fillParams[0].fAngle, 180.0), a, 0.5);
    }
    EXPECT_NEAR(filled->parFill.fillParams[0].fAngle, 15.0, 1e-9);  // 355, 5, 15
    EXPECT_NEAR(std::fabs(std::remainder(angles[1] - angles[0], 180.0)), 10.0, 0.5);
}

TEST_F(VarTextTest, ParameterUndoOfATextRestoresItExactly) {
    Desk d;
    CCore core{&d.doc, &d.view};
    auto sn = Serial(10, 1, 0);
    CFonts* t = d.VarText({Fixed(L"S"), sn});
    stFontsUndo* p = NewElements(t, {Fixed(L"T"), Serial(500, 5, 0)});
    p->fontsNew.dHeight = 4.0;
    CUND_Fonts rec(p);

    rec.OnEditRedo(&core);
    EXPECT_EQ(t->GetText(), CString(L"T500"));
    Mark(t);
    EXPECT_EQ(t->GetText(), CString(L"T505"));
    // The content comes back; its serial number goes on past the numbers
    // marked (500), in its own steps.
    rec.OnEditUndo(&core);
    EXPECT_EQ(t->GetText(), CString(L"S501"));
    EXPECT_NEAR(t->parFonts.dHeight, 10.0, 1e-9);
    Mark(t);
    Mark(t);
    rec.OnEditRedo(&core);
    EXPECT_EQ(t->GetText(), CString(L"T507"));
    rec.OnEditUndo(&core);
    EXPECT_EQ(t->GetText(), CString(L"S503"));
    // Without a number marked in between, undo and redo restore exactly.
    rec.OnEditRedo(&core);
    rec.OnEditUndo(&core);
    EXPECT_EQ(t->GetText(), CString(L"S503"));

    // A fill change of the text comes back with its parameters.
    FILLED_PARS before = t->parFill;
    FILLED_PARS after;
    after.fillParams[0].bEnable = 1;
    after.fillParams[0].nFillType = 3;
    after.fillParams[0].fLineSpacing = 0.7;
    auto* f = new stSetFillUndo;
    f->pShape = t;
    f->parOld = before;
    f->parNew = after;
    CUND_SetFill fillRec(f);
    fillRec.OnEditRedo(&core);
    EXPECT_EQ(t->bFilled, 1);
    EXPECT_NEAR(t->parFill.fillParams[0].fLineSpacing, 0.7, 1e-12);
    fillRec.OnEditUndo(&core);
    EXPECT_NEAR(t->parFill.fillParams[0].fLineSpacing, before.fillParams[0].fLineSpacing, 1e-12);
    EXPECT_EQ(t->parFill.fillParams[0].bEnable, before.fillParams[0].bEnable);
}

TEST_F(VarTextTest, SavedVariableTextReadsBackWithItsElements) {
    Desk d;
    auto sn = Serial(77, 4, 5);
    sn->advPar.bSplit = 1;
    sn->advPar.vecSplitRule.push_back(Rule(L"Lot"));
    auto date = std::make_shared<TEXT_TIME_PAR>();
    date->strFormat = L"%M";
    CFonts* t = d.VarText({Fixed(L"P"), sn, date});
    Mark(t);
    std::list<CBaseShape*> records;
    t->SaveShapeChild(nullptr, records);
    const std::wstring file = m_dir.WPath("v.orzx");
    ASSERT_TRUE(CVonnSriShapeList(&records).SaveList(file.c_str()));
    std::list<CBaseShape*> back;
    ASSERT_TRUE(CVonnSriShapeList(&back).LoadList(file.c_str()));
    ASSERT_EQ(back.size(), 1u);
    std::unique_ptr<CFonts> read(dynamic_cast<CFonts*>(back.front()));
    ASSERT_TRUE(read);
    const auto& elements = read->parVarText.arrElements;
    ASSERT_EQ(elements.size(), 3u);
    EXPECT_EQ(read->parVarText.GetText(false), CString(L"P0008100"));
    auto* readSn = dynamic_cast<TEXT_SN_PAR*>(elements[1].get());
    ASSERT_NE(readSn, nullptr);
    EXPECT_EQ(readSn->nStep, 4);
    EXPECT_EQ(readSn->advPar.bSplit, 1);
    // The rule keeps the name that picks its fixed texts.
    ASSERT_EQ(readSn->advPar.vecSplitRule.size(), 1u);
    EXPECT_EQ(SPLITRULE(readSn->advPar.vecSplitRule[0]).strName, CString(L"Lot"));
    read->FreeShapePtr();
}

TEST_F(VarTextTest, FillShapeMovesItsVariableTextChildOn) {
    Desk d;
    auto sn = Serial(1, 1, 0);
    CFonts* t = d.VarText({sn});
    d.doc.GetShapeList().remove(t);
    CFilledShape fill;
    fill.SetDocView(&d.doc, &d.view);
    fill.GetChildren().push_back(t);
    FILLED_PARS par;
    par.fillParams[0].bEnable = 1;
    par.fillParams[0].nFillType = 3;
    par.fillParams[0].fLineSpacing = 0.5;
    fill.SetParam(par);
    fill.DoFill(0);
    tagMarkDataPar out;
    EXPECT_TRUE(fill.GetMarkData(out, nullptr));
    EXPECT_FALSE(out.arrPaths2.empty());
    EXPECT_EQ(t->GetText(), CString(L"2"));
    EXPECT_TRUE(fill.GetMarkData(out, nullptr));
    EXPECT_EQ(t->GetText(), CString(L"3"));
    fill.GetChildren().clear();
}

}  // namespace

// A text whose element-cloning flag is set takes its own copies of two or
// more elements: marking it moves its serial number, not the caller's.
TEST_F(VarTextTest, ElementCloningFlagGivesTheTextItsOwnElements) {
    Desk d;
    for (bool clone : {false, true}) {
        CFonts* t = d.Text(L"x");
        t->SetCloneElements(clone);
        VARTEXT_PAR v;
        v.bEnable = 1;
        auto sn = Serial(7, 1, 0);
        v.arrElements = {Fixed(L"N"), sn};
        TextContent c(t);
        ASSERT_EQ(t->SetFonts(c.text, c.type, c.face, c.fonts, c.codebar, v, 0, 1, false), 1);
        EXPECT_EQ(t->parVarText.arrElements[1] == sn, !clone);
        EXPECT_EQ(t->GetText(), CString(L"N7"));
    }
}

// ---- the marking loop: what is drawn is what the history records ------------------------------

namespace {

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The outline polylines of mark data, in order, moved so that the first
// point is the origin: which string is drawn does not depend on where.
std::vector<std::vector<tagPOINTF>> Outlines(const tagMarkDataPar& data) {
    std::vector<std::vector<tagPOINTF>> lines;
    for (const tagPathData& d : data.arrPaths)
        for (const auto& l : d.arrPolylines) lines.push_back(l);
    if (lines.empty() || lines[0].empty()) return lines;
    const tagPOINTF o = lines[0][0];
    for (auto& l : lines)
        for (tagPOINTF& p : l) p = {p.x - o.x, p.y - o.y};
    return lines;
}

class MarkingLoop : public VarTextTest {
protected:
    void SetUp() override {
        VarTextTest::SetUp();
        m_history = m_dir.File("history.txt");
    }
    // A variable text that records its pieces in the test's history file.
    CFonts* Recorded(std::vector<std::shared_ptr<TEXT_ELEMENT>> elements) {
        CFonts* t = m_desk.VarText(std::move(elements));
        CString path(m_history.c_str());
        t->SetTxtOutPara(1, 0, 0, 0, CTime(), path);
        return t;
    }
    // Marks one piece and checks that it draws the expected string (the
    // outlines of a fresh text of that string) and that the history's new
    // last line is that string. False when the piece was refused; then
    // nothing may have been recorded.
    bool Piece(CFonts* t, const std::string& expected, tagMarkCtlData* ctl = nullptr) {
        const size_t before = FileLines(m_history).size();
        tagMarkDataPar out;
        const bool ok = t->GetMarkData(out, ctl);
        const auto lines = FileLines(m_history);
        if (!ok) {
            EXPECT_EQ(lines.size(), before) << "a refused piece was recorded";
            return false;
        }
        EXPECT_EQ(lines.size(), before + 1);
        if (lines.size() == before + 1) {
            EXPECT_EQ(lines.back(), expected);
        }
        ExpectDrawn(out, expected);
        return ok;
    }
    // The mark data draw the string: the outlines of a fresh text of it.
    void ExpectDrawn(const tagMarkDataPar& out, const std::string& expected) {
        CFonts* fresh = m_desk.VarText({Fixed(CString(expected.c_str()))});
        tagMarkDataPar want;
        EXPECT_TRUE(fresh->GetMarkData(want, nullptr));
        // The document keeps it until the end; out of the list it is no
        // longer one of the texts a reset or a split reaches.
        m_desk.doc.GetShapeList().remove(fresh);
        const auto got = Outlines(out), exp = Outlines(want);
        EXPECT_EQ(got.size(), exp.size()) << "drawn is not " << expected;
        for (size_t i = 0; i < got.size() && i < exp.size(); ++i) {
            EXPECT_EQ(got[i].size(), exp[i].size()) << expected;
            for (size_t k = 0; k < got[i].size() && k < exp[i].size(); ++k) {
                EXPECT_NEAR(got[i][k].x, exp[i][k].x, 1e-3) << expected;
                EXPECT_NEAR(got[i][k].y, exp[i][k].y, 1e-3) << expected;
            }
        }
    }
    std::vector<std::string> History() const { return FileLines(m_history); }

    Desk m_desk;
    std::string m_history;
};

}  // namespace

// Serial numbers with dates and times, the early serial, a reset mid-run
// and an exhausted number: every piece draws what the history records.
TEST_F(MarkingLoop, SerialsTimesAndResetsDrawWhatIsRecorded) {
    // A clock that ticks on every reading, as a real one does across a
    // piece; the test moves it between pieces too.
    int64_t base = CTime(2024, 3, 1, 9, 0, 0).GetTime();
    int ticks = 0;
    SetVarTextClock([&] { return CTime(base + (ticks++ % 2)); });
    auto sn = Serial(1, 1, 3);
    auto time = std::make_shared<TEXT_TIME_PAR>();
    CFonts* t = Recorded({Fixed(L"T"), sn, Fixed(L" "), time});
    t->PrepareBeforeMark({}, 0);
    base = CTime(2024, 3, 1, 10, 0, 0).GetTime();
    for (const char* want : {"T001 10:00:0", "T002 10:02:0"}) {
        ticks = 0;
        tagMarkDataPar out;
        // Either reading of the ticking clock; drawn and recorded must agree.
        const auto lines = History();
        ASSERT_TRUE(t->GetMarkData(out, nullptr));
        const std::string line = History().back();
        EXPECT_EQ(line.substr(0, 12), want);
        EXPECT_EQ(History().size(), lines.size() + 1);
        // Replay the piece's string through the checker's oracle.
        ExpectDrawn(out, line);
        base = CTime(2024, 3, 1, 10, 2, 1).GetTime();
    }
    SetVarTextClock([this] { return m_now; });

    // Early serial: each piece draws and records the number it moves from.
    sn->ResetTo(1);
    tagMarkCtlData early;
    early.nPass = 30;
    m_now = CTime(2024, 3, 1, 11, 0, 0);
    for (const char* want : {"T001 11:00:00", "T002 11:00:00", "T003 11:00:00"}) EXPECT_TRUE(Piece(t, want, &early));

    // A reset mid-run: the next piece draws and records the new value.
    CResetVarTxt::Instance()->ResetVarValue(m_desk.doc.GetShapeList(), 500);
    EXPECT_TRUE(Piece(t, "T500 11:00:00"));
    EXPECT_TRUE(Piece(t, "T501 11:00:00"));

    // Exhausted without wrap: the last value is marked once, then refused.
    sn->bLoop = 0;
    sn->nEnd = 504;
    sn->nStep = 2;
    EXPECT_TRUE(Piece(t, "T502 11:00:00"));
    EXPECT_TRUE(Piece(t, "T504 11:00:00"));
    EXPECT_FALSE(Piece(t, ""));
    EXPECT_FALSE(Piece(t, ""));
    const size_t recorded = History().size();
    std::vector<std::vector<tagMarkDataPar>> chars;
    EXPECT_FALSE(t->GetCharsMarkData(chars, false));
    EXPECT_EQ(History().size(), recorded);
    // Step 0 and a start beyond a (negative) limit refuse the first piece.
    auto zero = Serial(7, 0, 0);
    CFonts* z = Recorded({zero});
    EXPECT_FALSE(Piece(z, ""));
    auto beyond = Serial(5, 1, 0);
    beyond->nEnd = -3;
    beyond->bLoop = 0;
    CFonts* b = Recorded({beyond});
    EXPECT_FALSE(Piece(b, ""));
    // Huge numbers stay exact to the last one.
    auto huge = Serial(INT64_MAX - 1, 1, 0);
    huge->nEnd = INT64_MAX;
    huge->bLoop = 0;
    CFonts* h = Recorded({huge});
    h->PrepareBeforeMark({}, 0);
    EXPECT_TRUE(Piece(h, std::to_string(INT64_MAX - 1)));
    EXPECT_TRUE(Piece(h, std::to_string(INT64_MAX)));
    EXPECT_FALSE(Piece(h, ""));
}

// A pass of five pieces of which three were marked: every element that
// moves comes back to the fourth piece; a file rewritten between passes
// is read again, and its lines may end in CR alone.
TEST_F(MarkingLoop, PartialPassesSyncEveryElementAndFilesAreReadAgain) {
    const std::string file = m_dir.Write("lines.txt", "A1\rA2\rA3\rA4\rA5\rA6\rA7");
    auto lines = std::make_shared<TEXTTXT_PAR>();
    lines->strFile = CString(file.c_str());
    auto live = std::make_shared<TEXT_TCPIP_PAR>();
    for (const wchar_t* v : {L"a", L"b", L"c", L"d", L"e", L"f"}) live->Receive(CString(v));
    CFonts* t = Recorded({Fixed(L"N"), Serial(1, 1, 0), Fixed(L":"), lines, live});
    tagMarkCtlData sync;
    sync.bNoRedraw = 1;
    t->PrepareBeforeMark({}, 0);
    for (const char* want : {"N1:A1a", "N2:A2b", "N3:A3c", "N4:A4d", "N5:A5e"}) EXPECT_TRUE(Piece(t, want));
    t->CleanupAfterMark(0, 3, sync);
    t->PrepareBeforeMark({}, 0);
    EXPECT_TRUE(Piece(t, "N4:A4d"));
    EXPECT_TRUE(Piece(t, "N5:A5e"));
    t->CleanupAfterMark(0, 2, sync);

    // Rewritten between passes, with mixed line ends.
    m_dir.Write("lines.txt", "B1\r\nB2\nB3\rB4\rB5\r\nB6\n");
    t->PrepareBeforeMark({}, 0);
    EXPECT_TRUE(Piece(t, "N6:B6f"));
    // The source has nothing more: refused, nothing recorded.
    EXPECT_FALSE(Piece(t, ""));
    // A file that is gone refuses the piece too.
    std::filesystem::remove(file);
    live->Receive(CString(L"g"));
    lines->ResetTo(0);
    EXPECT_FALSE(Piece(t, ""));
    EXPECT_EQ(History().size(), 8u);
}

// Keyboard, SQL and file-list elements are fed by the host like the live
// sources; without a value the piece is refused instead of marking a stale
// one. A saved document makes them live again on reading.
TEST_F(MarkingLoop, FedElementsRefuseAPieceWithoutAValue) {
    auto keyboard = std::make_shared<TEXT_KEYBOARD_PAR>();
    keyboard->m_strText = L"stale";
    auto sql = std::make_shared<TEXT_SQL_PAR>();
    auto files = std::make_shared<TEXT_FILES_PAR>();
    CFonts* t = Recorded({keyboard, Fixed(L"-"), sql, files});
    t->PrepareBeforeMark({}, 0);
    EXPECT_FALSE(Piece(t, ""));
    keyboard->Receive(CString(L"K1"));
    sql->Receive(CString(L"S1"));
    EXPECT_FALSE(Piece(t, ""));  // the file list has nothing yet
    files->Receive(CString(L"F1"));
    EXPECT_TRUE(Piece(t, "K1-S1F1"));
    EXPECT_FALSE(Piece(t, ""));
    // Per character the same: no value, no piece; fed, the piece is recorded.
    std::vector<std::vector<tagMarkDataPar>> chars;
    keyboard->Receive(CString(L"K2"));
    sql->Receive(CString(L"S2"));
    EXPECT_FALSE(t->GetCharsMarkData(chars, false));
    files->Receive(CString(L"F2"));
    EXPECT_TRUE(t->GetCharsMarkData(chars, false));
    EXPECT_EQ(History().back(), "K2-S2F2");
    // An element of a fed kind that no source can feed refuses too.
    CFonts* plain = Recorded({std::make_shared<TEXT_ELEMENT>(TEXT_KIND_SQL)});
    EXPECT_FALSE(Piece(plain, ""));
    for (int kind : {TEXT_KIND_KEYBOARD, TEXT_KIND_SQL, TEXT_KIND_FILES}) {
        TEXT_ELEMENT e(kind);
        EXPECT_NE(dynamic_cast<TEXT_LIVE_PAR*>(TEXT_ELEMENT_REC(e).Make().get()), nullptr) << kind;
    }
}

// The daily reset of a serial number survives a save and reload; the
// history's daily clear comes before the repeat question.
TEST_F(MarkingLoop, DailyResetsSurviveReloadAndClearBeforeTheRepeatQuestion) {
    m_now = CTime(2024, 3, 1, 16, 0, 0);
    auto sn = Serial(1, 1, 0);
    sn->nResetMode = 1;
    sn->tmReset = CTime(2000, 1, 1, 6, 0, 0);
    CFonts* t = Recorded({Fixed(L"Q"), sn});
    t->PrepareBeforeMark({}, 0);
    for (const char* want : {"Q1", "Q2", "Q3"}) EXPECT_TRUE(Piece(t, want));
    std::list<CBaseShape*> records;
    t->SaveShapeChild(nullptr, records);
    const std::wstring saved = m_dir.WPath("daily.orzx");
    ASSERT_TRUE(CVonnSriShapeList(&records).SaveList(saved.c_str()));
    // Reopened the next morning after the reset time.
    m_now = CTime(2024, 3, 2, 7, 0, 0);
    std::list<CBaseShape*> back;
    ASSERT_TRUE(CVonnSriShapeList(&back).LoadList(saved.c_str()));
    ASSERT_EQ(back.size(), 1u);
    auto* read = dynamic_cast<CFonts*>(back.front());
    ASSERT_NE(read, nullptr);
    read->SetDocView(&m_desk.doc, &m_desk.view);
    m_desk.doc.AddShape(read);
    read->PrepareBeforeMark({}, 0);
    EXPECT_TRUE(Piece(read, "Q1"));
    EXPECT_TRUE(Piece(read, "Q2"));

    // The history clears at 06:00; the first repeat after it is no repeat.
    CFonts* r = m_desk.Text(L"R1");
    CString path(m_history.c_str());
    r->SetTxtOutPara(1, 0, 1, 1, CTime(2000, 1, 1, 6, 0, 0), path);
    r->PrepareBeforeMark({}, 0);
    EXPECT_TRUE(Piece(r, "R1"));
    m_now = CTime(2024, 3, 3, 6, 0, 1);
    m_host->QueueMessageBoxAnswer(IDOK);
    tagMarkDataPar out;
    EXPECT_TRUE(r->GetMarkData(out, nullptr));
    EXPECT_TRUE(m_host->MessageBoxes().empty());
    EXPECT_EQ(History(), std::vector<std::string>{"R1"});
}

// Undo of a content change mid-run restores the content but never issues a
// serial number again; a copy of a text moves its own elements.
TEST_F(MarkingLoop, UndoNeverReissuesAndCopiesOwnTheirElements) {
    CCore core{&m_desk.doc, &m_desk.view};
    CFonts* t = Recorded({Fixed(L"S"), Serial(10, 1, 0)});
    t->PrepareBeforeMark({}, 0);
    EXPECT_TRUE(Piece(t, "S10"));
    EXPECT_TRUE(Piece(t, "S11"));
    CUND_Fonts rec(NewElements(t, {Fixed(L"T"), Serial(12, 5, 0)}));
    rec.OnEditRedo(&core);
    EXPECT_TRUE(Piece(t, "T12"));
    EXPECT_TRUE(Piece(t, "T17"));
    rec.OnEditUndo(&core);
    EXPECT_EQ(t->GetText(), CString(L"S18"));
    EXPECT_TRUE(Piece(t, "S18"));
    rec.OnEditRedo(&core);
    EXPECT_TRUE(Piece(t, "T23"));
    EXPECT_EQ(History(), (std::vector<std::string>{"S10", "S11", "T12", "T17", "S18", "T23"}));

    auto* copy = static_cast<CFonts*>(t->Clone());
    m_desk.doc.AddShape(copy);
    copy->PrepareBeforeMark({}, 0);
    EXPECT_TRUE(Piece(copy, "T28"));
    EXPECT_TRUE(Piece(copy, "T33"));
    EXPECT_EQ(t->parVarText.GetText(false), CString(L"T28"));
    EXPECT_TRUE(Piece(t, "T28"));
}

// Two marking threads on texts of one document, both recording into one
// history file: each text records exactly its own numbers, whole.
TEST_F(MarkingLoop, TwoMarkingThreadsOnOneDocument) {
    auto first = Serial(1000, 1, 0);
    first->advPar.bSplit = 1;
    CFonts* a = Recorded({Fixed(L"A"), first});
    CFonts* b = Recorded({Fixed(L"B"), Serial(5000, 1, 0)});
    constexpr int kPieces = 40;
    auto run = [](CFonts* t) {
        t->PrepareBeforeMark({}, 0);
        for (int i = 0; i < kPieces; ++i) {
            tagMarkDataPar out;
            EXPECT_TRUE(t->GetMarkData(out, nullptr));
        }
        tagMarkCtlData sync;
        sync.bNoRedraw = 1;
        t->CleanupAfterMark(0, kPieces, sync);
    };
    std::thread ta(run, a), tb(run, b);
    ta.join();
    tb.join();
    std::vector<std::string> wantA, wantB, gotA, gotB;
    for (int i = 0; i < kPieces; ++i) {
        wantA.push_back("A" + std::to_string(1000 + i));
        wantB.push_back("B" + std::to_string(5000 + i));
    }
    for (const std::string& line : History()) (line[0] == 'A' ? gotA : gotB).push_back(line);
    EXPECT_EQ(gotA, wantA);
    EXPECT_EQ(gotB, wantB);
}

// ---- what the history and the run log cannot take -------------------------------------------

TEST_F(VarTextTest, HistoryUnderAFileSizeLimitMarksNothingUnrecorded) {
    Desk d;
    auto sn = Serial(0, 1, 3);
    CFonts* t = d.VarText({Fixed(L"SN"), sn});
    const std::string history = m_dir.File("history.txt");
    CString name(history.c_str());
    t->SetTxtOutPara(1, 0, 0, 0, CTime(), name);
    // Room for two records ("SN000\r\n" is 7 bytes) and part of a third.
    const int code = testsupport::RunWithFileSizeLimit(16, [&] {
        t->PrepareBeforeMark({}, 0);
        int result = 0;
        for (int piece = 0; piece < 5; ++piece) {
            tagMarkDataPar out;
            if (t->GetMarkData(out, nullptr)) result |= 1 << piece;
        }
        for (const auto& box : m_host->MessageBoxes())
            if (box.text.find(L"history of marked texts") != std::wstring::npos) result |= 32;
        if (sn->nCurrent == 2) result |= 64;
        return result;
    });
    // Pieces 0 and 1 marked; the rest refused with a message, the serial
    // left at the first one not recorded.
    EXPECT_EQ(code, 1 | 2 | 32 | 64);
    std::ifstream in(history, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "SN000\r\nSN001\r\n");
}

TEST_F(VarTextTest, RunLogOnAPipeNobodyReadsCostsAPassLittle) {
    Desk d;
    CFonts* t = d.VarText({Fixed(L"P"), Serial(0, 1, 3)});
    CString name(m_dir.File("pipe-history.txt").c_str());
    t->SetTxtOutPara(1, 0, 0, 0, CTime(), name);
    const auto pass = [&] {
        const auto start = std::chrono::steady_clock::now();
        t->PrepareBeforeMark({}, 0);
        for (int piece = 0; piece < 5; ++piece) {
            tagMarkDataPar out;
            EXPECT_TRUE(t->GetMarkData(out, nullptr));
        }
        return std::chrono::steady_clock::now() - start;
    };
    const auto regular = pass();
    RunLog* log = RunLog::Instance(nullptr);
    log->SetClock([](SYSTEMTIME* st) {
        *st = SYSTEMTIME{};
        st->wYear = 2026;
        st->wMonth = 1;
        st->wDay = 12;
    });
    const std::filesystem::path day = m_log.Dir() / "20260112";
    std::filesystem::create_directories(day);
    ASSERT_EQ(mkfifo((day / "run.log").c_str(), 0600), 0);
    // Held open and filled up, never read: one byte more would wait for ever.
    const int fd = open((day / "run.log").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    const std::string chunk(4096, 'x');
    while (write(fd, chunk.data(), chunk.size()) > 0) {
    }
    const uint64_t dropped = RunLog::GetDroppedLines();
    const auto piped = pass();
    log->SetClock(nullptr);
    close(fd);
    EXPECT_LT(piped, regular + std::chrono::milliseconds(100));
    EXPECT_GT(RunLog::GetDroppedLines(), dropped);
}

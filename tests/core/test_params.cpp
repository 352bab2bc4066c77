#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "morvik/core/morvikparam.h"
#include "morvik/core/params.h"
#include "morvik/core/srifile.h"
#include "support/shape_support.h"

namespace {

using testsupport::Bytes;
using testsupport::Decode;
using testsupport::Encode;
using testsupport::ReadFrom;
using testsupport::SavedField;
using testsupport::SaveOf;

// The value(s) of a scalar payload: points give two, strings and vectors
// their element count.
std::vector<double> Values(uint8_t tag, const Bytes& p) {
    sri::Reader in{p.data(), p.size(), 0};
    uint64_t u = 0;
    float f = 0, g = 0;
    double d = 0;
    switch (tag) {
        case sri::kBool:
        case sri::kUInt8: return {double(p.at(0))};
        case sri::kInt32: in.GetLE(u, 4); return {double(int32_t(uint32_t(u)))};
        case sri::kUInt32:
        case sri::kWString:
        case sri::kRecord + sri::kVectorStep: in.GetLE(u, 4); return {double(u)};
        case sri::kFloat: in.GetFloat(f); return {f};
        case sri::kDouble: in.GetDouble(d); return {d};
        case sri::kPointF: in.GetFloat(f), in.GetFloat(g); return {f, g};
    }
    ADD_FAILURE() << "unexpected tag " << int(tag);
    return {};
}

// A saved record rewritten so that every scalar field holds a value of its
// own: each payload byte of field i becomes 1 + i + 31 * pass (bools 0 or 1
// by pass, so neighbouring passes differ in every field); strings and lists
// stay as they were. values receives the values in key order.
Bytes Distinct(const Bytes& rec, int pass, std::vector<double>* values) {
    std::vector<SavedField> fields;
    for (SavedField f : Decode(rec)) {
        const size_t i = values->size();
        const bool scalar = f.tag != sri::kWString && f.tag < sri::kVectorStep;
        for (uint8_t& b : f.payload)
            if (scalar) b = f.tag == sri::kBool ? uint8_t(pass % 2) : uint8_t(1 + i + 31 * pass);
        for (double v : Values(f.tag, f.payload)) values->push_back(v);
        fields.push_back(std::move(f));
    }
    return Encode(fields);
}

struct FieldSpec {
    const char* key;
    uint8_t tag;
    double def;  // default; a point's x and y both take it
};

struct RecordSpec {
    std::string name;
    std::vector<FieldSpec> fields;
    std::function<Bytes()> saveDefault;
    // Reads a stream into a fresh record and saves it again, as read, as
    // copy-constructed and as assigned.
    std::function<std::vector<Bytes>(const Bytes&)> readBack;
};

template <class R>
RecordSpec Spec(std::string name, std::vector<FieldSpec> fields) {
    auto save = [] {
        R r;
        return SaveOf(r);
    };
    auto readBack = [](const Bytes& bytes) {
        R r;
        ReadFrom(r, bytes);
        R copied(r), assigned;
        assigned = r;
        return std::vector<Bytes>{SaveOf(r), SaveOf(copied), SaveOf(assigned)};
    };
    return {std::move(name), std::move(fields), save, readBack};
}

using namespace sri;

const std::vector<FieldSpec> kFillerFields = {
    {"nFillType", kInt32, 0}, {"nExecuteType", kInt32, 0}, {"nIndex", kInt32, 0}, {"bEnable", kInt32, 0},
    {"bRoundInvert", kInt32, 0}, {"fLineSpacing", kDouble, 0.06}, {"fMargin", kDouble, 0},
    {"bWholeConsider", kInt32, 1}, {"bAlongBorder", kInt32, 0}, {"bCrossFill", kInt32, 0},
    {"bQuickFill", kInt32, 0}, {"fAngle", kDouble, 0}, {"nFillMarkCount", kUInt32, 1}, {"nPenNum", kInt32, 0},
    {"cPenColor", kInt32, 0}, {"nCircularCount", kUInt32, 0}, {"fCircularGap", kDouble, 0.5},
    {"fInnerSpacing", kDouble, 0}, {"bArrangeEqually", kInt32, 1}, {"fStartPreserve", kDouble, 0},
    {"fEndPreserve", kDouble, 0}, {"m_fill_rotate", kInt32, 0}, {"m_fRotateAngle", kDouble, 0},
    {"m_fMaxSpacing", kDouble, 0.06}, {"m_nWidth", kFloat, 6}, {"m_fRateSpacing", kDouble, 0.006},
    {"m_fstrFillGraduallyActualRange", kFloat, 6}, {"m_bEnableFillGradually", kBool, 0},
};

// The hatch set's fields in the order of its keys, read by name: a key bound
// to the wrong field shows up here even where the two share a default.
std::vector<double> FillerValues(const SHAPE_FILLER_PARAM& p) {
    return {double(p.nFillType), double(p.nExecuteType), double(p.nIndex), double(p.bEnable),
            double(p.bRoundInvert), p.fLineSpacing, p.fMargin, double(p.bWholeConsider),
            double(p.bAlongBorder), double(p.bCrossFill), double(p.bQuickFill), p.fAngle,
            double(p.nFillMarkCount), double(p.nPenNum), double(p.cPenColor), double(p.nCircularCount),
            p.fCircularGap, p.fInnerSpacing, double(p.bArrangeEqually), p.fStartPreserve,
            p.fEndPreserve, double(p.m_fill_rotate), p.m_fRotateAngle, p.m_fMaxSpacing,
            double(p.m_nWidth), p.m_fRateSpacing, double(p.m_fstrFillGraduallyActualRange),
            double(p.m_bEnableFillGradually)};
}

const std::vector<FieldSpec> kRectFields = {
    {"ARRAY_PAR_RECT_bEnabled", kBool, 1}, {"ARRAY_PAR_RECT_iDirection", kInt32, 1},
    {"ARRAY_PAR_RECT_iPathType", kInt32, 1}, {"ARRAY_PAR_RECT_nCountX", kUInt32, 2},
    {"ARRAY_PAR_RECT_nCountY", kUInt32, 2}, {"ARRAY_PAR_RECT_fDistenceX", kFloat, 10},
    {"ARRAY_PAR_RECT_fDistenceY", kFloat, 10}, {"ARRAY_PAR_RECT_iDirectionBase", kInt32, 1},
};
const std::vector<FieldSpec> kCircleFields = {
    {"ARRAY_PAR_CIRCLE_iDirection", kInt32, 1}, {"ARRAY_PAR_CIRCLE_nCount", kUInt32, 2},
    {"ARRAY_PAR_CIRCLE_fRadis", kFloat, 10}, {"ARRAY_PAR_CIRCLE_fStartAngle", kFloat, 90},
    {"ARRAY_PAR_CIRCLE_fSweepAngle", kFloat, 90}, {"ARRAY_PAR_CIRCLE_iRotateType", kInt32, 1},
};

std::vector<RecordSpec> AllRecords() {
    std::vector<FieldSpec> arrayFields = kRectFields;
    arrayFields.insert(arrayFields.end(), kCircleFields.begin(), kCircleFields.end());
    return {
        Spec<FILLED_PARS>("FILLED_PARS",
                          {{"bOutLine", kUInt8, 1}, {"bOutLineFirst", kInt32, 1}, {"bKeepSeperate", kInt32, 0}}),
        Spec<SHAPE_FILLER_PARAM>("SHAPE_FILLER_PARAM", kFillerFields),
        Spec<SCREW_PAR>("SCREW_PAR", {{"m_nType", kUInt32, 0}, {"m_nDir", kUInt32, 0}, {"m_fMinRadius", kFloat, 3},
                                      {"m_fMinGap", kFloat, 0.5}, {"m_fMaxGap", kFloat, 0.5},
                                      {"m_fGapStep", kFloat, 0.1f}, {"m_nOutCount", kUInt32, 1},
                                      {"m_nInCount", kUInt32, 1}, {"m_nPenNum", kInt32, 0},
                                      {"m_bEnable", kInt32, 0}, {"m_nLoopCount", kInt32, 0}}),
        Spec<SPLITRULE>("SPLITRULE",
                        {{"iPos", kInt32, 1}, {"iTotal", kInt32, 1}, {"SplitRuleWstrName", kWString, 0},
                         {"iMode", kInt32, 0}, {"wstrName", kWString, 0}}),
        Spec<tagVarAdv>("tagVarAdv",
                        {{"bSpliltStr", kInt32, 0}, {"bSplit", kInt32, 0}, {"bMkSelf", kInt32, 1},
                         {"bFixWidth", kInt32, 0}, {"fCharWidth", kFloat, 10},
                         {"vecSplitRule", kRecord + kVectorStep, 0}}),
        Spec<ARRAY_PAR_RECT>("ARRAY_PAR_RECT", kRectFields),
        Spec<ARRAY_PAR_CIRCLE>("ARRAY_PAR_CIRCLE", kCircleFields),
        Spec<ARRAY_PAR>("ARRAY_PAR", arrayFields),
        Spec<ARRAY_PAR_SPCIAL>(
            "ARRAY_PAR_SPCIAL",
            {{"ARRAY_PAR_SPCIAL_RECT_iDirection", kInt32, 1}, {"ARRAY_PAR_SPCIAL_RECT_iPathType", kInt32, 1},
             {"ARRAY_PAR_SPCIAL_RECT_nCountX", kUInt32, 2}, {"ARRAY_PAR_SPCIAL_RECT_nCountY", kUInt32, 2},
             {"ARRAY_PAR_SPCIAL_RECT_fDistenceX", kFloat, 10}, {"ARRAY_PAR_SPCIAL_RECT_fDistenceY", kFloat, 10},
             {"ARRAY_PAR_SPCIAL_RECT_bGapDistance", kBool, 0}, {"ARRAY_PAR_SPCIAL_RECT_fGapDistanceX", kFloat, 0},
             {"ARRAY_PAR_SPCIAL_RECT_fGapDistanceY", kFloat, 0},
             {"ARRAY_PAR_SPCIAL_RECT_bSerialArrayMode", kBool, 0}}),
        Spec<SHAPE_MODIFY>("SHAPE_MODIFY",
                           {{"cmd", kInt32, 103}, {"par1", kDouble, 0}, {"par2", kDouble, 0}, {"refPoint", kPointF, 0}}),
    };
}

// The keys, their types and their order are what files written by other
// builds hold; the saved defaults come with them.
TEST(ParamRecords, SavedKeysTypesOrderAndDefaults) {
    for (const RecordSpec& spec : AllRecords()) {
        SCOPED_TRACE(spec.name);
        const std::vector<SavedField> saved = Decode(spec.saveDefault());
        ASSERT_EQ(saved.size(), spec.fields.size());
        for (size_t i = 0; i < saved.size(); ++i) {
            const FieldSpec& want = spec.fields[i];
            SCOPED_TRACE(want.key);
            EXPECT_EQ(saved[i].key, want.key);
            EXPECT_EQ(int(saved[i].tag), int(want.tag));
            for (double v : Values(saved[i].tag, saved[i].payload)) EXPECT_FLOAT_EQ(float(v), float(want.def));
        }
    }
}

// A record with a value of its own under every key reads in and saves back
// byte for byte, also through a copy and an assignment: a key bound to a
// field another key already holds, or a field a copy forgets, changes bytes.
TEST(ParamRecords, EveryKeyRoundTripsThroughReadCopyAndAssignment) {
    for (const RecordSpec& spec : AllRecords()) {
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(spec.name + " pass " + std::to_string(pass));
            std::vector<double> unused;
            const Bytes stream = Distinct(spec.saveDefault(), pass, &unused);
            for (const Bytes& saved : spec.readBack(stream)) EXPECT_EQ(saved, stream);
        }
    }
    std::vector<double> want;
    SHAPE_FILLER_PARAM set;
    ReadFrom(set, Distinct(SaveOf(set), 0, &want));
    EXPECT_EQ(FillerValues(set), want);
}

TEST(ParamRecords, FillSetsAndUnsavedFields) {
    FILLED_PARS src;
    for (int i = 0; i < FILLED_PARS::kSetCount; ++i) {
        EXPECT_EQ(src.fillParams[i].nIndex, i);
        EXPECT_EQ(src.fillParams[i].nPenNum, 0);
        EXPECT_EQ(src.fillParams[i].bEnable, i == 0 ? 1 : 0);
    }
    EXPECT_EQ(src.bDelUngroup, 1);

    // Each set its own values; a copy of the fill keeps every set apart.
    std::vector<double> want[FILLED_PARS::kSetCount];
    for (int i = 0; i < FILLED_PARS::kSetCount; ++i)
        ReadFrom(src.fillParams[i], Distinct(SaveOf(src.fillParams[i]), i, &want[i]));
    src.bDelUngroup = 0;
    FILLED_PARS copied(src);
    FILLED_PARS assigned;
    assigned = src;
    for (const FILLED_PARS* f : {&copied, &assigned}) {
        EXPECT_EQ(f->bDelUngroup, 0);
        for (int i = 0; i < FILLED_PARS::kSetCount; ++i) EXPECT_EQ(FillerValues(f->fillParams[i]), want[i]);
    }

    ARRAY_PAR array;
    EXPECT_EQ(array.nReserved, 0);
    array.nReserved = 7;
    EXPECT_EQ(ARRAY_PAR(array).nReserved, 7);
}

TEST(SplitRule, NameFallsBackToSavedCopyAndBothKeysHoldIt) {
    SPLITRULE readOnly;
    readOnly.wstrName = L"Lot";
    SPLITRULE assigned;
    assigned = readOnly;
    EXPECT_EQ(SPLITRULE(readOnly).strName, L"Lot");
    EXPECT_EQ(assigned.strName, L"Lot");

    SPLITRULE named;
    named.strName = L"Work";
    named.wstrName = L"Saved";
    EXPECT_EQ(SPLITRULE(named).strName, L"Work");

    SPLITRULE rule;
    rule.wstrName = L"Serial \u00e9\U0001F600";
    const Bytes saved = SaveOf(rule);
    const auto fields = Decode(saved);
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(fields[2].payload, fields[4].payload);  // one string under two keys

    SPLITRULE back;
    ReadFrom(back, saved);
    EXPECT_EQ(back.wstrName, rule.wstrName);
    EXPECT_EQ(SPLITRULE(back).strName, rule.wstrName.c_str());
}

TEST(VarAdv, AssignmentReplacesRulesAndRoundTrips) {
    auto rule = [](int pos, const wchar_t* name) {
        SPLITRULE r;
        r.iPos = pos;
        r.wstrName = name;
        return r;
    };
    tagVarAdv two, three;
    two.vecSplitRule = {rule(1, L"a"), rule(2, L"b")};
    three.vecSplitRule = {rule(7, L"x"), rule(8, L"y"), rule(9, L"z")};
    three = two;
    ASSERT_EQ(three.vecSplitRule.size(), 2u);
    EXPECT_EQ(three.vecSplitRule[1].iPos, 2);
    EXPECT_EQ(three.vecSplitRule[1].strName, L"b");  // restored by the rule's copy

    tagVarAdv& alias = three;
    three = alias;  // a self-assignment keeps the rules
    EXPECT_EQ(three.vecSplitRule.size(), 2u);

    tagVarAdv src;
    src.vecSplitRule = {rule(4, L"Part"), rule(5, L"")};
    src.vecSplitRule[1].iMode = 1;
    tagVarAdv back;
    back.vecSplitRule = {rule(1, L"stale")};
    ReadFrom(back, SaveOf(src));
    ASSERT_EQ(back.vecSplitRule.size(), 2u);
    EXPECT_EQ(back.vecSplitRule[0].wstrName, L"Part");
    EXPECT_EQ(back.vecSplitRule[1].iMode, 1);
}

TEST(MorvikParam, OneInstanceWithTheRecordsDefaults) {
    CMorvikParam* p = CMorvikParam::Instance();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, CMorvikParam::Instance());
    const CMorvikParam fresh;
    EXPECT_TRUE(fresh.m_strText.IsEmpty());
    EXPECT_EQ(fresh.m_parFill.fillParams[3].nIndex, 3);
    EXPECT_FLOAT_EQ(fresh.m_parScrew.m_fMinRadius, 3.f);
}

}  // namespace

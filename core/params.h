// Parameter records shared by shapes and the host.
//
// Each record is persistent through SriBase: AddAllProp registers its fields
// by key, and the keys, their types and their order are the saved form that
// files written by other builds rely on. Field order in memory and order of
// registration differ in places; both are deliberate.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <string>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/halder/halder_types.h"
#include "morvik/halder/sribase.h"

// One hatch set of a fill.
struct MORVIK_API SHAPE_FILLER_PARAM : public SriBase {
    int32_t nFillType = 0;
    int32_t nExecuteType = 0;
    int32_t nIndex = 0;  // the hatch path this set fills; the owner sets it
    int32_t bEnable = 0;
    int32_t bRoundInvert = 0;
    double fLineSpacing = 0.06;
    double fMargin = 0.0;
    int32_t m_fill_rotate = 0;
    double m_fRotateAngle = 0.0;
    double m_fMaxSpacing = 0.06;
    float m_nWidth = 6.0f;
    double m_fRateSpacing = 0.006;
    float m_fstrFillGraduallyActualRange = 6.0f;
    bool m_bEnableFillGradually = false;
    int32_t bWholeConsider = 1;
    int32_t bAlongBorder = 0;
    int32_t bCrossFill = 0;
    int32_t bQuickFill = 0;
    double fAngle = 0.0;  // degrees
    uint32_t nFillMarkCount = 1;
    int32_t nPenNum = 0;
    int32_t cPenColor = 0;
    uint32_t nCircularCount = 0;
    double fCircularGap = 0.5;
    double fInnerSpacing = 0.0;
    int32_t bArrangeEqually = 1;
    double fStartPreserve = 0.0;
    double fEndPreserve = 0.0;

    SHAPE_FILLER_PARAM() = default;
    SHAPE_FILLER_PARAM(const SHAPE_FILLER_PARAM&) = default;
    SHAPE_FILLER_PARAM& operator=(const SHAPE_FILLER_PARAM&) = default;
    bool operator==(const SHAPE_FILLER_PARAM&) const = default;
    ~SHAPE_FILLER_PARAM() override = default;

    void AddAllProp(bool extended) override;
};

// The fill of a shape: outline switches and four hatch sets, of which only
// the first is enabled by default. The sets are saved by their owners.
struct MORVIK_API FILLED_PARS : public SriBase {
    static constexpr int kSetCount = 4;

    uint8_t bOutLine = 1;  // low bit: the fill keeps the outline
    int32_t bOutLineFirst = 1;
    int32_t bKeepSeperate = 0;
    int32_t bDelUngroup = 1;  // saved by the fill shape, not here
    SHAPE_FILLER_PARAM fillParams[kSetCount];

    FILLED_PARS();
    FILLED_PARS(const FILLED_PARS&) = default;
    FILLED_PARS& operator=(const FILLED_PARS&) = default;
    bool operator==(const FILLED_PARS&) const = default;
    ~FILLED_PARS() override = default;

    void AddAllProp(bool extended) override;
};

// Parameters of a spiral line.
struct MORVIK_API SCREW_PAR : public SriBase {
    uint32_t m_nType = 0;
    uint32_t m_nDir = 0;
    float m_fMinRadius = 3.0f;
    float m_fMinGap = 0.5f;
    float m_fMaxGap = 0.5f;
    float m_fGapStep = 0.1f;
    uint32_t m_nOutCount = 1;
    uint32_t m_nInCount = 1;
    int32_t m_nPenNum = 0;
    int32_t m_bEnable = 0;
    int32_t m_nLoopCount = 0;

    SCREW_PAR() = default;
    SCREW_PAR(const SCREW_PAR&) = default;
    SCREW_PAR& operator=(const SCREW_PAR&) = default;
    ~SCREW_PAR() override = default;

    void AddAllProp(bool extended) override;
};

// One rule for splitting a variable text into fixed texts. The name is kept
// twice: strName for work (not saved) and wstrName, the saved copy, which a
// copy falls back to when strName is empty (as after a read).
struct MORVIK_API SPLITRULE : public SriBase {
    int32_t iPos = 1;
    int32_t iTotal = 1;
    CString strName;
    std::wstring wstrName;
    int32_t iMode = 0;

    SPLITRULE() = default;
    SPLITRULE(const SPLITRULE& src);
    SPLITRULE& operator=(const SPLITRULE& src);
    ~SPLITRULE() override = default;

    void Copy(const SPLITRULE& src);
    // Registers wstrName twice, under "SplitRuleWstrName" and "wstrName".
    // The working name goes into the saved one first, and a read brings it
    // back from there.
    void AddAllProp(bool extended) override;
    void Read(bool extended, SriFile* file) override;
};

// Advanced options of a variable-text element.
struct MORVIK_API tagVarAdv : public SriBase {
    int32_t bSplit = 0;
    int32_t bMkSelf = 1;
    int32_t bFixWidth = 0;
    float fCharWidth = 10.0f;
    int32_t bSpliltStr = 0;
    std::vector<SPLITRULE> vecSplitRule;

    tagVarAdv() = default;
    tagVarAdv(const tagVarAdv&) = default;
    tagVarAdv& operator=(const tagVarAdv&) = default;
    ~tagVarAdv() override = default;

    void AddAllProp(bool extended) override;
};

// Rectangular array copy.
struct MORVIK_API ARRAY_PAR_RECT : public SriBase {
    bool bEnabled = true;
    int32_t iDirection = 1;
    int32_t iPathType = 1;
    uint32_t nCountX = 2;
    uint32_t nCountY = 2;
    float fDistenceX = 10.0f;
    float fDistenceY = 10.0f;
    int32_t iDirectionBase = 1;

    ARRAY_PAR_RECT() = default;
    ARRAY_PAR_RECT(const ARRAY_PAR_RECT&) = default;
    ARRAY_PAR_RECT& operator=(const ARRAY_PAR_RECT&) = default;
    ~ARRAY_PAR_RECT() override = default;

    void AddAllProp(bool extended) override;
    // Registers this record's fields, under its own keys, in owner's registry
    // (the owner's AddAllProp calls it).
    void AddPropsTo(SriBase& owner);
};

// Circular array copy.
struct MORVIK_API ARRAY_PAR_CIRCLE : public SriBase {
    int32_t iDirection = 1;
    uint32_t nCount = 2;
    float fRadis = 10.0f;
    float fStartAngle = 90.0f;
    float fSweepAngle = 90.0f;
    int32_t iRotateType = 1;

    ARRAY_PAR_CIRCLE() = default;
    ARRAY_PAR_CIRCLE(const ARRAY_PAR_CIRCLE&) = default;
    ARRAY_PAR_CIRCLE& operator=(const ARRAY_PAR_CIRCLE&) = default;
    ~ARRAY_PAR_CIRCLE() override = default;

    void AddAllProp(bool extended) override;
    void AddPropsTo(SriBase& owner);
};

// Rectangular and circular array copy together. The members' keys carry
// their record's prefix, so this record saves both members' fields side by
// side under the very keys the members save on their own.
struct MORVIK_API ARRAY_PAR : public SriBase {
    int32_t nReserved = 0;  // not saved
    ARRAY_PAR_RECT parRect;
    ARRAY_PAR_CIRCLE parCircle;

    ARRAY_PAR() = default;
    ARRAY_PAR(const ARRAY_PAR&) = default;
    ARRAY_PAR& operator=(const ARRAY_PAR&) = default;
    ~ARRAY_PAR() override = default;

    void AddAllProp(bool extended) override;
};

// Special rectangular array copy.
struct MORVIK_API ARRAY_PAR_SPCIAL : public SriBase {
    int32_t iDirection = 1;
    int32_t iPathType = 1;
    uint32_t nCountX = 2;
    uint32_t nCountY = 2;
    float fDistenceX = 10.0f;
    float fDistenceY = 10.0f;
    bool bGapDistance = false;
    float fGapDistanceX = 0.0f;
    float fGapDistanceY = 0.0f;
    bool bSerialArrayMode = false;

    ARRAY_PAR_SPCIAL() = default;
    ARRAY_PAR_SPCIAL(const ARRAY_PAR_SPCIAL&) = default;
    ARRAY_PAR_SPCIAL& operator=(const ARRAY_PAR_SPCIAL&) = default;
    ~ARRAY_PAR_SPCIAL() override = default;

    void AddAllProp(bool extended) override;
};

// One recorded geometric modification of a shape.
struct MORVIK_API SHAPE_MODIFY : public SriBase {
    enum : int32_t {
        kMove = 100,
        kSlope = 101,
        kRotate = 102,
        kZoom = 103,
        kMirrorX = 104,
        kMirrorY = 105,
        kMirrorXY = 106,
    };

    int32_t cmd = kZoom;
    double par1 = 0.0;
    double par2 = 0.0;
    tagPOINTF refPoint{};

    SHAPE_MODIFY() = default;
    SHAPE_MODIFY(const SHAPE_MODIFY&) = default;
    SHAPE_MODIFY& operator=(const SHAPE_MODIFY&) = default;
    ~SHAPE_MODIFY() override = default;

    void AddAllProp(bool extended) override;
};

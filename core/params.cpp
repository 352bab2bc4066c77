#include "morvik/core/params.h"

// ---- SHAPE_FILLER_PARAM ----------------------------------------------------

SHAPE_FILLER_PARAM::SHAPE_FILLER_PARAM(const SHAPE_FILLER_PARAM& src) : SriBase(src) { Copy(src); }

SHAPE_FILLER_PARAM& SHAPE_FILLER_PARAM::operator=(const SHAPE_FILLER_PARAM& src) {
    Copy(src);
    return *this;
}

void SHAPE_FILLER_PARAM::Copy(const SHAPE_FILLER_PARAM& src) {
    nFillType = src.nFillType;
    nExecuteType = src.nExecuteType;
    nIndex = src.nIndex;
    bEnable = src.bEnable;
    bRoundInvert = src.bRoundInvert;
    fLineSpacing = src.fLineSpacing;
    fMargin = src.fMargin;
    m_fill_rotate = src.m_fill_rotate;
    m_fRotateAngle = src.m_fRotateAngle;
    m_fMaxSpacing = src.m_fMaxSpacing;
    m_nWidth = src.m_nWidth;
    m_fRateSpacing = src.m_fRateSpacing;
    m_fstrFillGraduallyActualRange = src.m_fstrFillGraduallyActualRange;
    m_bEnableFillGradually = src.m_bEnableFillGradually;
    bWholeConsider = src.bWholeConsider;
    bAlongBorder = src.bAlongBorder;
    bCrossFill = src.bCrossFill;
    bQuickFill = src.bQuickFill;
    fAngle = src.fAngle;
    nFillMarkCount = src.nFillMarkCount;
    nPenNum = src.nPenNum;
    cPenColor = src.cPenColor;
    nCircularCount = src.nCircularCount;
    fCircularGap = src.fCircularGap;
    fInnerSpacing = src.fInnerSpacing;
    bArrangeEqually = src.bArrangeEqually;
    fStartPreserve = src.fStartPreserve;
    fEndPreserve = src.fEndPreserve;
}

void SHAPE_FILLER_PARAM::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    // The saved order differs from the field order; files depend on it.
    AddProp("nFillType", &nFillType);
    AddProp("nExecuteType", &nExecuteType);
    AddProp("nIndex", &nIndex);
    AddProp("bEnable", &bEnable);
    AddProp("bRoundInvert", &bRoundInvert);
    AddProp("fLineSpacing", &fLineSpacing);
    AddProp("fMargin", &fMargin);
    AddProp("bWholeConsider", &bWholeConsider);
    AddProp("bAlongBorder", &bAlongBorder);
    AddProp("bCrossFill", &bCrossFill);
    AddProp("bQuickFill", &bQuickFill);
    AddProp("fAngle", &fAngle);
    AddProp("nFillMarkCount", &nFillMarkCount);
    AddProp("nPenNum", &nPenNum);
    AddProp("cPenColor", &cPenColor);
    AddProp("nCircularCount", &nCircularCount);
    AddProp("fCircularGap", &fCircularGap);
    AddProp("fInnerSpacing", &fInnerSpacing);
    AddProp("bArrangeEqually", &bArrangeEqually);
    AddProp("fStartPreserve", &fStartPreserve);
    AddProp("fEndPreserve", &fEndPreserve);
    AddProp("m_fill_rotate", &m_fill_rotate);
    AddProp("m_fRotateAngle", &m_fRotateAngle);
    AddProp("m_fMaxSpacing", &m_fMaxSpacing);
    AddProp("m_nWidth", &m_nWidth);
    AddProp("m_fRateSpacing", &m_fRateSpacing);
    AddProp("m_fstrFillGraduallyActualRange", &m_fstrFillGraduallyActualRange);
    AddProp("m_bEnableFillGradually", &m_bEnableFillGradually);
}

// ---- FILLED_PARS -------------------------------------------------------------

FILLED_PARS::FILLED_PARS() {
    for (int i = 0; i < kSetCount; ++i) {
        fillParams[i].nIndex = i;
        fillParams[i].nPenNum = 0;
        fillParams[i].bEnable = i == 0 ? 1 : 0;
    }
}

FILLED_PARS::FILLED_PARS(const FILLED_PARS& src) : SriBase(src) { Copy(src); }

FILLED_PARS& FILLED_PARS::operator=(const FILLED_PARS& src) {
    Copy(src);
    return *this;
}

void FILLED_PARS::Copy(const FILLED_PARS& src) {
    for (int i = 0; i < kSetCount; ++i) fillParams[i] = src.fillParams[i];
    bOutLine = src.bOutLine;
    bOutLineFirst = src.bOutLineFirst;
    bKeepSeperate = src.bKeepSeperate;
    bDelUngroup = src.bDelUngroup;
}

void FILLED_PARS::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("bOutLine", &bOutLine);
    AddProp("bOutLineFirst", &bOutLineFirst);
    AddProp("bKeepSeperate", &bKeepSeperate);
}

// ---- SCREW_PAR ---------------------------------------------------------------

SCREW_PAR::SCREW_PAR(const SCREW_PAR& src) : SriBase(src) { Copy(src); }

SCREW_PAR& SCREW_PAR::operator=(const SCREW_PAR& src) {
    Copy(src);
    return *this;
}

void SCREW_PAR::Copy(const SCREW_PAR& src) {
    m_nType = src.m_nType;
    m_nDir = src.m_nDir;
    m_fMinRadius = src.m_fMinRadius;
    m_fMinGap = src.m_fMinGap;
    m_fMaxGap = src.m_fMaxGap;
    m_fGapStep = src.m_fGapStep;
    m_nOutCount = src.m_nOutCount;
    m_nInCount = src.m_nInCount;
    m_nPenNum = src.m_nPenNum;
    m_bEnable = src.m_bEnable;
    m_nLoopCount = src.m_nLoopCount;
}

// SCREW_PAR, SPLITRULE and tagVarAdv do not start with the base's
// registration: whatever the base might register would shift their saved form.
void SCREW_PAR::AddAllProp(bool) {
    AddProp("m_nType", &m_nType);
    AddProp("m_nDir", &m_nDir);
    AddProp("m_fMinRadius", &m_fMinRadius);
    AddProp("m_fMinGap", &m_fMinGap);
    AddProp("m_fMaxGap", &m_fMaxGap);
    AddProp("m_fGapStep", &m_fGapStep);
    AddProp("m_nOutCount", &m_nOutCount);
    AddProp("m_nInCount", &m_nInCount);
    AddProp("m_nPenNum", &m_nPenNum);
    AddProp("m_bEnable", &m_bEnable);
    AddProp("m_nLoopCount", &m_nLoopCount);
}

// ---- SPLITRULE ---------------------------------------------------------------

SPLITRULE::SPLITRULE(const SPLITRULE& src) : SriBase(src) { Copy(src); }

SPLITRULE& SPLITRULE::operator=(const SPLITRULE& src) {
    Copy(src);
    return *this;
}

void SPLITRULE::Copy(const SPLITRULE& src) {
    iPos = src.iPos;
    iTotal = src.iTotal;
    iMode = src.iMode;
    strName = src.strName;
    wstrName = src.wstrName;
    // A rule read from a file has only its saved name: the copy restores the
    // working one from it.
    if (strName.IsEmpty() && !wstrName.empty()) strName = wstrName;
}

void SPLITRULE::AddAllProp(bool) {
    if (!strName.IsEmpty()) wstrName = strName.GetString();
    AddProp("iPos", &iPos);
    AddProp("iTotal", &iTotal);
    AddProp("SplitRuleWstrName", &wstrName);
    AddProp("iMode", &iMode);
    AddProp("wstrName", &wstrName);
}

void SPLITRULE::Read(bool extended, SriFile* file) {
    SriBase::Read(extended, file);
    strName = wstrName.c_str();
}

// ---- tagVarAdv ---------------------------------------------------------------

tagVarAdv::tagVarAdv(const tagVarAdv& src) : SriBase(src) { Copy(src); }

tagVarAdv& tagVarAdv::operator=(const tagVarAdv& src) {
    Copy(src);
    return *this;
}

void tagVarAdv::Copy(const tagVarAdv& src) {
    // Emptying the list first would lose the rules of a self-copy.
    if (&src == this) return;
    bSplit = src.bSplit;
    bMkSelf = src.bMkSelf;
    bFixWidth = src.bFixWidth;
    fCharWidth = src.fCharWidth;
    bSpliltStr = src.bSpliltStr;
    vecSplitRule.clear();
    vecSplitRule.reserve(src.vecSplitRule.size());
    for (const SPLITRULE& rule : src.vecSplitRule) vecSplitRule.push_back(rule);
}

void tagVarAdv::AddAllProp(bool) {
    AddProp("bSpliltStr", &bSpliltStr);
    AddProp("bSplit", &bSplit);
    AddProp("bMkSelf", &bMkSelf);
    AddProp("bFixWidth", &bFixWidth);
    AddProp("fCharWidth", &fCharWidth);
    AddProp("vecSplitRule", &vecSplitRule);
}

// ---- ARRAY_PAR_RECT ----------------------------------------------------------

ARRAY_PAR_RECT::ARRAY_PAR_RECT(const ARRAY_PAR_RECT& src) : SriBase(src) { Copy(src); }

ARRAY_PAR_RECT& ARRAY_PAR_RECT::operator=(const ARRAY_PAR_RECT& src) { return Copy(src); }

ARRAY_PAR_RECT& ARRAY_PAR_RECT::Copy(const ARRAY_PAR_RECT& src) {
    bEnabled = src.bEnabled;
    iDirection = src.iDirection;
    iPathType = src.iPathType;
    nCountX = src.nCountX;
    nCountY = src.nCountY;
    fDistenceX = src.fDistenceX;
    fDistenceY = src.fDistenceY;
    iDirectionBase = src.iDirectionBase;
    return *this;
}

void ARRAY_PAR_RECT::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddPropsTo(*this);
}

void ARRAY_PAR_RECT::AddPropsTo(SriBase& owner) {
    owner.AddProp("ARRAY_PAR_RECT_bEnabled", &bEnabled);
    owner.AddProp("ARRAY_PAR_RECT_iDirection", &iDirection);
    owner.AddProp("ARRAY_PAR_RECT_iPathType", &iPathType);
    owner.AddProp("ARRAY_PAR_RECT_nCountX", &nCountX);
    owner.AddProp("ARRAY_PAR_RECT_nCountY", &nCountY);
    owner.AddProp("ARRAY_PAR_RECT_fDistenceX", &fDistenceX);
    owner.AddProp("ARRAY_PAR_RECT_fDistenceY", &fDistenceY);
    owner.AddProp("ARRAY_PAR_RECT_iDirectionBase", &iDirectionBase);
}

// ---- ARRAY_PAR_CIRCLE --------------------------------------------------------

ARRAY_PAR_CIRCLE::ARRAY_PAR_CIRCLE(const ARRAY_PAR_CIRCLE& src) : SriBase(src) { *this = src; }

ARRAY_PAR_CIRCLE& ARRAY_PAR_CIRCLE::operator=(const ARRAY_PAR_CIRCLE& src) {
    iDirection = src.iDirection;
    nCount = src.nCount;
    fRadis = src.fRadis;
    fStartAngle = src.fStartAngle;
    fSweepAngle = src.fSweepAngle;
    iRotateType = src.iRotateType;
    return *this;
}

void ARRAY_PAR_CIRCLE::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddPropsTo(*this);
}

void ARRAY_PAR_CIRCLE::AddPropsTo(SriBase& owner) {
    owner.AddProp("ARRAY_PAR_CIRCLE_iDirection", &iDirection);
    owner.AddProp("ARRAY_PAR_CIRCLE_nCount", &nCount);
    owner.AddProp("ARRAY_PAR_CIRCLE_fRadis", &fRadis);
    owner.AddProp("ARRAY_PAR_CIRCLE_fStartAngle", &fStartAngle);
    owner.AddProp("ARRAY_PAR_CIRCLE_fSweepAngle", &fSweepAngle);
    owner.AddProp("ARRAY_PAR_CIRCLE_iRotateType", &iRotateType);
}

// ---- ARRAY_PAR ---------------------------------------------------------------

ARRAY_PAR::ARRAY_PAR(const ARRAY_PAR& src)
    : SriBase(src), nReserved(src.nReserved), parRect(src.parRect), parCircle(src.parCircle) {}

ARRAY_PAR& ARRAY_PAR::operator=(const ARRAY_PAR& src) {
    nReserved = src.nReserved;
    parRect = src.parRect;
    parCircle = src.parCircle;
    return *this;
}

// Without this the record would save as empty and lose both members.
void ARRAY_PAR::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    parRect.AddPropsTo(*this);
    parCircle.AddPropsTo(*this);
}

// ---- ARRAY_PAR_SPCIAL --------------------------------------------------------

ARRAY_PAR_SPCIAL::ARRAY_PAR_SPCIAL(const ARRAY_PAR_SPCIAL& src) : SriBase(src) { *this = src; }

ARRAY_PAR_SPCIAL& ARRAY_PAR_SPCIAL::operator=(const ARRAY_PAR_SPCIAL& src) {
    iDirection = src.iDirection;
    iPathType = src.iPathType;
    nCountX = src.nCountX;
    nCountY = src.nCountY;
    fDistenceX = src.fDistenceX;
    fDistenceY = src.fDistenceY;
    bGapDistance = src.bGapDistance;
    fGapDistanceX = src.fGapDistanceX;
    fGapDistanceY = src.fGapDistanceY;
    bSerialArrayMode = src.bSerialArrayMode;
    return *this;
}

void ARRAY_PAR_SPCIAL::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("ARRAY_PAR_SPCIAL_RECT_iDirection", &iDirection);
    AddProp("ARRAY_PAR_SPCIAL_RECT_iPathType", &iPathType);
    AddProp("ARRAY_PAR_SPCIAL_RECT_nCountX", &nCountX);
    AddProp("ARRAY_PAR_SPCIAL_RECT_nCountY", &nCountY);
    AddProp("ARRAY_PAR_SPCIAL_RECT_fDistenceX", &fDistenceX);
    AddProp("ARRAY_PAR_SPCIAL_RECT_fDistenceY", &fDistenceY);
    AddProp("ARRAY_PAR_SPCIAL_RECT_bGapDistance", &bGapDistance);
    AddProp("ARRAY_PAR_SPCIAL_RECT_fGapDistanceX", &fGapDistanceX);
    AddProp("ARRAY_PAR_SPCIAL_RECT_fGapDistanceY", &fGapDistanceY);
    AddProp("ARRAY_PAR_SPCIAL_RECT_bSerialArrayMode", &bSerialArrayMode);
}

// ---- SHAPE_MODIFY ------------------------------------------------------------

SHAPE_MODIFY::SHAPE_MODIFY(const SHAPE_MODIFY& src)
    : SriBase(src), cmd(src.cmd), par1(src.par1), par2(src.par2), refPoint(src.refPoint) {}

SHAPE_MODIFY& SHAPE_MODIFY::operator=(const SHAPE_MODIFY& src) {
    cmd = src.cmd;
    par1 = src.par1;
    par2 = src.par2;
    refPoint = src.refPoint;
    return *this;
}

void SHAPE_MODIFY::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("cmd", &cmd);
    AddProp("par1", &par1);
    AddProp("par2", &par2);
    AddProp("refPoint", &refPoint);
}

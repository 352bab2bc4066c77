#include "morvik/core/params.h"

// ---- SHAPE_FILLER_PARAM ----------------------------------------------------

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

void FILLED_PARS::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("bOutLine", &bOutLine);
    AddProp("bOutLineFirst", &bOutLineFirst);
    AddProp("bKeepSeperate", &bKeepSeperate);
}

// ---- SCREW_PAR ---------------------------------------------------------------

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

void tagVarAdv::AddAllProp(bool) {
    AddProp("bSpliltStr", &bSpliltStr);
    AddProp("bSplit", &bSplit);
    AddProp("bMkSelf", &bMkSelf);
    AddProp("bFixWidth", &bFixWidth);
    AddProp("fCharWidth", &fCharWidth);
    AddProp("vecSplitRule", &vecSplitRule);
}

// ---- ARRAY_PAR_RECT ----------------------------------------------------------

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

// Without this the record would save as empty and lose both members.
void ARRAY_PAR::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    parRect.AddPropsTo(*this);
    parCircle.AddPropsTo(*this);
}

// ---- ARRAY_PAR_SPCIAL --------------------------------------------------------

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

void SHAPE_MODIFY::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("cmd", &cmd);
    AddProp("par1", &par1);
    AddProp("par2", &par2);
    AddProp("refPoint", &refPoint);
}

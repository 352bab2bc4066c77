#include "morvik/halder/records.h"

#include "morvik/halder/textelement.h"

void FONTS_PAR::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("wstrFontName", &wstrFontName);
    AddProp("dHeight", &dHeight);
    AddProp("dWidthRatio", &dWidthRatio);
    AddProp("dCharSpace", &dCharSpace);
    AddProp("dLineSpace", &dLineSpace);
    AddProp("bPathText", &bPathText);
    AddProp("dPathValue1", &dPathValue1);
    AddProp("dPathValue2", &dPathValue2);
    AddProp("bBold", &bBold);
    AddProp("bItalic", &bItalic);
    AddProp("bEqualPitch", &bEqualPitch);
    AddProp("bVertical", &bVertical);
    AddProp("nAlign", &nAlign);
    AddProp("nFixWidthMode", &nFixWidthMode);
    AddProp("dFixCharWidth", &dFixCharWidth);
    AddProp("dSlantAngle", &dSlantAngle);
    AddProp("nRefPos", &nRefPos);
    AddProp("fSpacing", &fSpacing);
    AddProp("bVarWidthByY", &bVarWidthByY);
    AddProp("dScaleX", &dScaleX);
    AddProp("dScaleY", &dScaleY);
}

void CODEBAR_PAR::UpdatePropsValue() {
    wstrCustomText.assign(strCustomText.GetString(), static_cast<size_t>(strCustomText.GetLength()));
    wstrTextFont.assign(strTextFont.GetString(), static_cast<size_t>(strTextFont.GetLength()));
}

void CODEBAR_PAR::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("fBarHeight", &fBarHeight);
    AddProp("fModuleWidth", &fModuleWidth);
    AddProp("bShowText", &bShowText);
    AddProp("wstrTextFont", &wstrTextFont);
    AddProp("nCodeType", &nCodeType);
    AddProp("wstrCustomText", &wstrCustomText);
    AddProp("parTextFill", &parTextFill);
    AddProp("nTextPen", &nTextPen);
    AddProp("bTextFill", &bTextFill);
    AddProp("bPointModule", &bPointModule);
    AddProp("dTextHeight", &dTextHeight);
    AddProp("dTextWidth", &dTextWidth);
    AddProp("dTextOffsetX", &dTextOffsetX);
    AddProp("dTextOffsetY", &dTextOffsetY);
    AddProp("dTextSpace", &dTextSpace);
    AddProp("bCustomText", &bCustomText);
    AddProp("bInverse", &bInverse);
    AddProp("nCodePage", &nCodePage);
    AddProp("n2DVersion", &n2DVersion);
    AddProp("n2DECLevel", &n2DECLevel);
    AddProp("nPDF417Rows", &nPDF417Rows);
    AddProp("nPDF417Cols", &nPDF417Cols);
    AddProp("bCircleModule", &bCircleModule);
    AddProp("bRectModule", &bRectModule);
    AddProp("nModuleWidthPct", &nModuleWidthPct);
    AddProp("nModuleHeightPct", &nModuleHeightPct);
    AddProp("bFixSize", &bFixSize);
    AddProp("fFixWidth", &fFixWidth);
    AddProp("fFixHeight", &fFixHeight);
    AddProp("bLogo", &bLogo);
    AddProp("fLogoRatio", &fLogoRatio);
    AddProp("bFrame", &bFrame);
    AddProp("fFrameLeft", &fFrameLeft);
    AddProp("fFrameTop", &fFrameTop);
    AddProp("fFrameRight", &fFrameRight);
    AddProp("fFrameBottom", &fFrameBottom);
    // FILLED_PARS leaves its hatch sets to its owner.
    static const char* const kSetKeys[FILLED_PARS::kSetCount] = {"parTextFillSet0", "parTextFillSet1",
                                                                 "parTextFillSet2", "parTextFillSet3"};
    for (int i = 0; i < FILLED_PARS::kSetCount; ++i) AddProp(kSetKeys[i], &parTextFill.fillParams[i]);
}

bool CODEBAR_PAR::Is2DCode() const {
    switch (nCodeType) {
        case 55: case 58: case 71: case 92: case 116: case 124: case 125: case 126: case 127: case 128: return true;
        default: return false;
    }
}

CString CODEBAR_PAR::GetRatio() const { return CString(); }

void VARTEXT_PAR::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("bEnable", &bEnable);
}

CString VARTEXT_PAR::GetText(bool) const {
    CString text;
    for (const auto& e : arrElements)
        if (e != nullptr) text += e->GetText();
    return text;
}

void VARTEXT_PAR::ResetVarTxt(int value) {
    for (const auto& e : arrElements)
        if (e != nullptr) e->ResetTo(value);
}

void VARTEXT_PAR::SaveCurVar() {
    for (const auto& e : arrElements)
        if (e != nullptr) e->SaveCurrent();
}

VARTEXT_PAR VARTEXT_PAR::Clone() const {
    VARTEXT_PAR copy;
    copy.bEnable = bEnable;
    for (const auto& e : arrElements) copy.arrElements.push_back(e != nullptr ? e->CloneElement() : nullptr);
    return copy;
}

// The path read back goes to the field that a save takes it from, so that a
// record read and saved again keeps it whoever reads it.
void PICTURE_PAR::Read(bool extended, SriFile* file) {
    SriBase::Read(extended, file);
    strFileName = wstrFileName.c_str();
}

void PICTURE_PAR::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    wstrFileName = static_cast<const wchar_t*>(strFileName);
    AddProp("wstrFileName", &wstrFileName);
    AddProp("nDpiX", &nDpiX);
    AddProp("nDpiY", &nDpiY);
    AddProp("bUseDpi", &bUseDpi);
    AddProp("dBrightness", &dBrightness);
    AddProp("dContrast", &dContrast);
    AddProp("bBinary", &bBinary);
    AddProp("byThreshold", &byThreshold);
    AddProp("bNegative", &bNegative);
    AddProp("bReinit", &bReinit);
    AddProp("bGray", &bGray);
    AddProp("bRebuildScreen", &bRebuildScreen);
    AddProp("dInvRatioX", &dInvRatioX);
    AddProp("dInvRatioY", &dInvRatioY);
    AddProp("bFixWidth", &bFixWidth);
    AddProp("bFixHeight", &bFixHeight);
    AddProp("fFixWidth", &fFixWidth);
    AddProp("fFixHeight", &fFixHeight);
    AddProp("nAnchor", &nAnchor);
    AddProp("ptAnchor", &ptAnchor);
    AddProp("bBidirection", &bBidirection);
    AddProp("bRowScan", &bRowScan);
    AddProp("bDotStep", &bDotStep);
    AddProp("nDotStep", &nDotStep);
    AddProp("byHalfLine", &byHalfLine);
}

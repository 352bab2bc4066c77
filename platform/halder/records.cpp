#include "halder/records.h"

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
}

void CODEBAR_PAR::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("fBarHeight", &fBarHeight);
    AddProp("fModuleWidth", &fModuleWidth);
    AddProp("bShowText", &bShowText);
    AddProp("wstrTextFont", &wstrTextFont);
    AddProp("nCodeType", &nCodeType);
}

void VARTEXT_PAR::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("bEnable", &bEnable);
}

void PICTURE_PAR::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("bReinit", &bReinit);
}

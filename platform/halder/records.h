// The base library's parameter records that shapes and the host pass around.
// They carry the fields the library reads so far.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "afx/cstring.h"
#include "halder/sribase.h"

// One laser pen: the parameter set a shape's pen index selects.
struct tagPenPar {
    int nSwitch = 1;
    CString strName;
    int nMarkCount = 1;
    int nRunSpeed = 500;
    int nLaserPower = 50;
    int nPowerEffectTime = 0;
    float fCurrent = 0.0f;
    float fLaserFrequency = 20.0f;
    float fDutyRatio = 50.0f;
    int nMopaPulseWidth = 0;
    int nOpenDelay = 0;
    int nShutDelay = 0;
    int nEndDelay = 0;
    int nCornerDelay = 0;
    int nStepDelay = 0;
    float fStepLength = 0.01f;
    uint8_t bCornerDelayVariable = 0;
    int bVoltageOutput = 0;
};

// The marking-control record the host passes to the marking virtuals.
struct tagMarkCtlData {
    int nPass = 0;
    int nPieceIndex = 0;
    int nPieceCount = 0;
    int nFlags = 0;
    int bNoRedraw = 0;
    int nReserved = 0;
};

// The marking card's parameters of the active document.
struct tagCardPar {
    int bRedrawOff = 0;
    int nRedrawLimit = -1;
};

// Text and font parameters of a text shape and of the default parameters.
struct FONTS_PAR : public SriBase {
    std::wstring wstrFontName = L"DejaVu Sans";
    double dHeight = 10.0;
    double dWidthRatio = 1.0;
    double dCharSpace = 0.0;
    double dLineSpace = 0.0;
    int bPathText = 0;
    double dPathValue1 = 0.0;
    double dPathValue2 = 0.0;
    void AddAllProp(bool extended) override;
};

// Barcode parameters of a text shape.
struct CODEBAR_PAR : public SriBase {
    float fBarHeight = 10.0f;
    float fModuleWidth = 0.3f;
    int bShowText = 1;
    std::wstring wstrTextFont;
    int nCodeType = 0;
    void AddAllProp(bool extended) override;
};

// Variable-text parameters of a text shape.
struct VARTEXT_PAR : public SriBase {
    int bEnable = 0;
    void AddAllProp(bool extended) override;
};

// Parameters of a picture shape.
struct PICTURE_PAR : public SriBase {
    int bReinit = 0;
    void AddAllProp(bool extended) override;
};

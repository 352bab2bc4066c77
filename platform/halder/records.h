// The base library's parameter records that shapes and the host pass around.
// They carry the fields the library reads so far.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/core/params.h"
#include "morvik/halder/sribase.h"

// One laser pen: the parameter set a shape's pen index selects.
struct MORVIK_API tagPenPar {
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
struct MORVIK_API tagMarkCtlData {
    int nPass = 0;
    int nPieceIndex = 0;
    int nPieceCount = 0;
    int nFlags = 0;
    int bNoRedraw = 0;
    int nReserved = 0;
};

// The marking card's parameters of the active document.
struct MORVIK_API tagCardPar {
    int bRedrawOff = 0;
    int nRedrawLimit = -1;
};

// Text and font parameters of a text shape and of the default parameters.
struct MORVIK_API FONTS_PAR : public SriBase {
    std::wstring wstrFontName = L"DejaVu Sans";
    // Character height in millimetres and width factor (45.8 keeps the
    // face's own proportions).
    double dHeight = 10.0;
    double dWidthRatio = 45.8;
    double dCharSpace = 0.0;
    double dLineSpace = 0.0;
    // The text follows a curve (path text), with the path-text values.
    int bPathText = 0;
    double dPathValue1 = 0.0;
    double dPathValue2 = 0.0;
    int bBold = 0;
    int bItalic = 0;
    // Every character takes the pitch of the widest glyph.
    int bEqualPitch = 0;
    int bVertical = 0;
    // 0 left, 1 centre, 2 right.
    int nAlign = 0;
    // Fixed character width: 0 off, 1 add the width, 2 fixed width.
    int nFixWidthMode = 0;
    double dFixCharWidth = 1.0;
    // Slant of the characters in degrees.
    double dSlantAngle = 0.0;
    // The point of the frame the text keeps in place: 0 its top-left
    // corner, 1 its top centre, 2 its top-right corner.
    int nRefPos = 0;
    // A spacing value that scales with the height.
    float fSpacing = 0.0f;
    // The variable text's character width follows the y factor.
    int bVarWidthByY = 0;
    // Accumulated scale factors.
    double dScaleX = 1.0;
    double dScaleY = 1.0;
    void AddAllProp(bool extended) override;
};

// Barcode parameters of a text shape.
struct MORVIK_API CODEBAR_PAR : public SriBase {
    float fBarHeight = 10.0f;
    float fModuleWidth = 0.3f;
    int bShowText = 1;
    int nCodeType = 0;
    // The readable text's font (an SHX file name without extension or a
    // TrueType face) and the template that rewrites the text.
    CString strTextFont;
    CString strCustomText;
    // Their saved copies (UpdatePropsValue brings them in step; the owner
    // restores the texts from them after a read).
    std::wstring wstrTextFont;
    std::wstring wstrCustomText;
    // The fill of the readable text, its four hatch sets saved with it.
    FILLED_PARS parTextFill;
    // The readable text's pen, whether its fill is on, and whether the
    // modules of a two-dimensional code are points.
    int nTextPen = 0;
    int bTextFill = 0;
    int bPointModule = 0;
    // The readable text: its height, its character size (the em size is
    // dTextWidth / 0.458), its extra shift and the space after each
    // character (millimetres), and whether strCustomText rewrites it.
    double dTextHeight = 2.0;
    double dTextWidth = 1.0;
    double dTextOffsetX = 0.0;
    double dTextOffsetY = 0.0;
    double dTextSpace = 0.0;
    int bCustomText = 0;
    // Light modules are drawn instead of dark ones, with a border ring.
    int bInverse = 0;
    // Code page of two-dimensional data, and the engine's version (or size),
    // error-correction level and PDF417 rows and columns.
    int nCodePage = 0;
    int16_t n2DVersion = 0;
    int16_t n2DECLevel = 0;
    int16_t nPDF417Rows = 0;
    int16_t nPDF417Cols = 0;
    // Module shapes of a two-dimensional code besides points, and the drawn
    // size of a module in percent of the module pitch.
    int16_t bCircleModule = 0;
    int16_t bRectModule = 0;
    int nModuleWidthPct = 100;
    int nModuleHeightPct = 100;
    // Scale the finished symbol to a fixed size (millimetres).
    int bFixSize = 0;
    float fFixWidth = 10.0f;
    float fFixHeight = 10.0f;
    // A free logo area in the middle of a two-dimensional code, as a share
    // of its width and height.
    uint8_t bLogo = 0;
    float fLogoRatio = 0.2f;
    // A closed frame around the bars, this far outside them on each side
    // (millimetres); a negative margin, or a code drawn as separate
    // modules, has no frame.
    int bFrame = 0;
    float fFrameLeft = 0.0f;
    float fFrameTop = 0.0f;
    float fFrameRight = 0.0f;
    float fFrameBottom = 0.0f;

    // Whether the symbology nCodeType is two-dimensional (module matrix).
    bool Is2DCode() const;
    // The bar ratio text handed to the engine for a linear code; empty lets
    // the engine take the symbology's own ratio.
    CString GetRatio() const;

    // Copies the two texts into their saved copies.
    void UpdatePropsValue();
    void AddAllProp(bool extended) override;
};

struct TEXT_ELEMENT;

// Variable-text parameters of a text shape: the switch and the elements.
// A copy shares the elements with its source (both see every move of a
// serial number, and the last owner frees them); Clone makes its own.
struct MORVIK_API VARTEXT_PAR : public SriBase {
    int bEnable = 0;
    std::vector<std::shared_ptr<TEXT_ELEMENT>> arrElements;

    // The current values of the elements, in order. The flag asks for the
    // text as it will be marked; every element gives its current value.
    CString GetText(bool forMark) const;
    // Every element back to the value given, or its current value kept as
    // the one it starts from.
    void ResetVarTxt(int value);
    void SaveCurVar();
    VARTEXT_PAR Clone() const;
    void AddAllProp(bool extended) override;
};

// Parameters of a picture shape: where the image comes from, how its
// marking bitmap is sized and processed, how the dots are scanned, and the
// fixed size and anchor it is placed at when it is reloaded.
struct MORVIK_API PICTURE_PAR : public SriBase {
    // The image file; wstrFileName is its saved copy (AddAllProp brings it
    // in step, Read restores strFileName from it).
    CString strFileName;
    std::wstring wstrFileName;
    // Marking resolution in dots per inch; with bUseDpi the marking bitmap
    // is sized from them, otherwise it keeps the picture's pixel size.
    int nDpiX = 300;
    int nDpiY = 300;
    int bUseDpi = 0;
    // Grey processing: + dBrightness * 255, and (g - 128) * dContrast.
    double dBrightness = 0.0;
    double dContrast = 0.0;
    // Black and white by error diffusion above the threshold.
    int bBinary = 0;
    uint8_t byThreshold = 128;
    int bNegative = 0;
    // Reload the image (and re-place it) before the next marking bitmap.
    int bReinit = 0;
    // Show the screen image in grey.
    int bGray = 0;
    // The screen image must be built again (size or processing changed).
    int bRebuildScreen = 1;
    // Picture size at the stored resolution over its size on the work area.
    double dInvRatioX = 1.0;
    double dInvRatioY = 1.0;
    // Fixed size in millimetres applied on reload.
    int bFixWidth = 0;
    int bFixHeight = 0;
    float fFixWidth = 0.0f;
    float fFixHeight = 0.0f;
    // The reference point (0 bottom-left, 1 left middle, 2 top-left, 3 top
    // middle, 4 top-right, 5 right middle, 6 bottom-right, 7 bottom middle,
    // 8 centre) placed on ptAnchor on reload.
    int nAnchor = 8;
    tagPOINTF ptAnchor{};
    // Scanning: every other line backwards; by rows (else by columns);
    // every nDotStep-th line and dot; dots half a line lower.
    int bBidirection = 0;
    int bRowScan = 1;
    int bDotStep = 0;
    int nDotStep = 1;
    uint8_t byHalfLine = 0;
    void AddAllProp(bool extended) override;
    void Read(bool extended, SriFile* file) override;
};

#include "codebar/codebar.h"

// Placeholder bodies: the engine is not wired to the encoder yet.
extern "C" {

HRESULT BCAlloc(tag_BarCode** handle) {
    if (handle != nullptr) *handle = nullptr;
    return E_FAIL;
}
HRESULT BCFree(tag_BarCode*) { return E_FAIL; }
int BCGetBCCount() { return 0; }
const wchar_t* const* BCGetBCListW() { return nullptr; }
HRESULT BCSetFormatW(tag_BarCode*, const wchar_t*) { return E_FAIL; }
HRESULT BCSetBCType(tag_BarCode*, int) { return E_FAIL; }
int BCGetBCType(tag_BarCode*) { return 0; }
HRESULT BCSetModWidthW(tag_BarCode*, const wchar_t*) { return E_FAIL; }
HRESULT BCSetNotchHeight(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSetRatioW(tag_BarCode*, const wchar_t*) { return E_FAIL; }
HRESULT BCSetCodePage(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSet_QR_ECLevel(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSet_QR_Version(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSet_DM_Size(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSet_HanXin_Version(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSet_HanXin_ECLevel(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSet_PDF417_Columns(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSet_PDF417_Rows(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSet_PDF417_ECLevel(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSet_Aztec_AppendActive(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCSetTextW(tag_BarCode*, const wchar_t*, int) { return E_FAIL; }
const wchar_t* BCGetTextW(tag_BarCode*) { return nullptr; }
HRESULT BCCheck(tag_BarCode*) { return E_FAIL; }
HRESULT BCCreate(tag_BarCode*) { return E_FAIL; }
int BCGetInvalidDataPos(tag_BarCode*) { return -1; }
int BCGetMaxLenOfData(int) { return 0; }
int BCGet2DCompositeComponent(tag_BarCode*) { return 0; }
int BCGet_CompSym_ErrorInCC(tag_BarCode*) { return 0; }
HRESULT BCGetErrorTextW(HRESULT, wchar_t* buffer, int size) {
    if (buffer != nullptr && size > 0) buffer[0] = 0;
    return S_OK;
}
HRESULT BCSetCBData(tag_BarCode*, void*) { return E_FAIL; }
HRESULT BCSetFuncDrawBar(tag_BarCode*, BCDrawBarFunc) { return E_FAIL; }
HRESULT BCDrawCB(tag_BarCode*, HDC, RECT*) { return E_FAIL; }
HRESULT BCSetPrintText(tag_BarCode*, int, int) { return E_FAIL; }
HRESULT BCSetFontHeight(tag_BarCode*, int) { return E_FAIL; }
HRESULT BCGetSymbolSize(tag_BarCode*, int*, int*) { return E_FAIL; }

}  // extern "C"

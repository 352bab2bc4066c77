// The barcode engine: a C-style interface of BC functions over zint.
//
// A caller allocates a handle (BCAlloc), sets it up (symbology, module width,
// bar height, options, text), validates (BCCheck) and encodes (BCCreate), then
// has the symbol drawn through a bar callback (BCDrawCB). Every function that
// takes a handle returns S_OK (0) or an error code; BCGetErrorTextW describes
// a code. A null handle gives BCERR_NULL_POINTER. A handle is not locked inside: one
// handle serves one thread at a time (the wrapper CMyCodebar keeps a lock per
// handle).
//
// Symbology ids (BCSetBCType):
//   3 ITF 2 of 5 (interleaved)   7 Code 2 of 5 (industrial)   8 Code 39
//   10 EAN-8   13 EAN-13   16 EAN 128 (GS1-128)   18 Codabar   20 Code 128 (auto)
//   25 Code 93   34 UPC-A   37 UPC-E   55 PDF417   58 QR Code   59 / 60 / 61
//   Code 128 with the subset forced to A / B / C   71 Data Matrix   92 Aztec
//   116 Han Xin   125 Grid Matrix   126 Micro QR Code   127 rMQR
//   124 and 128 are accepted as types (any text passes the check and the
//   encoding) but draw nothing: their modules are built by the caller.
// Code 128 (59, 60, 61) and EAN 128 (16) are encoded here, not by zint; EAN
// 128 takes the subset of BCSetFormatW ("A", "B" or "C"; "" chooses freely).
// BCSetBCType keeps the format only when it was set since the previous
// BCSetBCType, BCSetTextW, BCCheck or BCCreate, and clears it otherwise: a
// build that sets the format and then the type (or the type and then the
// format) gets its subset, and a later build on the same handle that sets no
// format never inherits it.
//
// Data: the wide text set by BCSetTextW. Code 39 takes digits, capital
// letters, space and - . $ / + %; Code 93 and EAN 128 ASCII; Code 128 auto
// Latin-1; Code 128 A the characters 0..95, B 32..127, C digits (an odd last
// digit is encoded in subset B); ITF and Code 25 digits (ITF puts a 0 before
// an odd count). 2D codes take the text converted to the code page of
// BCSetCodePage (0 = the process ANSI code page, 65001 = UTF-8), as bytes
// (a character the code page lacks is refused). Their capacity is the
// encoder's: it depends on the kind of data, the version and the level.
// EAN 128 data may be written with its application identifiers in
// parentheses, "(01)09501101530003(10)AB": the parentheses are not encoded,
// and a separator (FNC1) follows every field of variable length that another
// field follows. EAN-13, EAN-8, UPC-A and UPC-E take their data with or
// without the check digit (12 or 13, 7 or 8, 11 or 12, 6 to 8 digits;
// UPC-E's 7th digit, when given, is the number system 0 or 1); a given check
// digit is replaced by the computed one. Codabar data starts and ends with
// one of A, B, C, D.
//
// Numbers of the 2D setters (value out of range: the automatic choice):
//   QR Code       BCSet_QR_ECLevel 0..3 = L, M, Q, H (zint option_1 1..4);
//                 BCSet_QR_Version 1..40 (0 = smallest that fits).
//   Data Matrix   BCSet_DM_Size 0 = smallest square; 1..24 square sizes 10x10,
//                 12x12, 14x14, 16x16, 18x18, 20x20, 22x22, 24x24, 26x26, 32x32,
//                 36x36, 40x40, 44x44, 48x48, 52x52, 64x64, 72x72, 80x80,
//                 88x88, 96x96, 104x104, 120x120, 132x132, 144x144; 25..30
//                 rectangles 8x18, 8x32, 12x26, 12x36, 16x36, 16x48; 31..48
//                 the rectangular extensions (DMRE) in zint's order.
//   Han Xin       BCSet_HanXin_Version 1..84 (0 = smallest);
//                 BCSet_HanXin_ECLevel 0..3 = L1..L4 (zint option_1 1..4).
//   PDF417        BCSet_PDF417_Columns 1..30 data columns (0 = automatic);
//                 BCSet_PDF417_Rows 3..90 (0 = automatic);
//                 BCSet_PDF417_ECLevel 0..8 (other values: automatic).
//   Aztec         BCSet_Aztec_AppendActive is accepted and has no effect (a
//                 single symbol is never part of a structured append).
//
// Drawing (BCDrawCB): the callback gets one call per bar (linear codes) or
// per dark module (2D codes), in millimetres, origin at the top left of the
// symbol without quiet zone, y growing downward:
//   - linear codes: x and w from the module width, y = 0, h = the notch
//     height (BCSetNotchHeight, in mm; at least 1). The bars of EAN and UPC
//     that are not guard bars (nor, for UPC-A, the bars of the first and last
//     digit) are 5 modules shorter, or a quarter shorter when 5 modules would
//     take more than that;
//   - 2D codes: x = column x module width, y = row x h, w = module width and
//     h = module width, except PDF417, whose h is 3 module widths;
//   - modules come column by column within a row, rows from the top.
// The RECT of BCDrawCB and the device context are not used (there is no
// device); a null RECT is accepted. The engine draws no text: BCSetPrintText
// and BCSetFontHeight are accepted and have no effect.
// The bar ratio (BCSetRatioW) is accepted and not used: the symbologies keep
// their standard fixed wide-to-narrow ratios.
#pragma once

#include <cstdint>

#include "morvik/win32/windows.h"

struct tag_BarCode;
struct HDC__;
using HDC = HDC__*;

// Error codes the callers tell apart.
constexpr HRESULT BCERR_INVALID_DATA = static_cast<HRESULT>(0x8007000Du);
constexpr HRESULT BCERR_WRONG_LENGTH = static_cast<HRESULT>(0x80090004u);
constexpr HRESULT BCERR_NOT_SUPPORTED = static_cast<HRESULT>(0x80070032u);
// Other failures: BCERR_NULL_POINTER (null handle or argument), E_OUTOFMEMORY,
// E_INVALIDARG (unknown symbology), BCERR_NOT_CREATED (drawing before a
// successful BCCreate) and E_FAIL (the encoder refused the data otherwise).
constexpr HRESULT BCERR_NOT_CREATED = static_cast<HRESULT>(0x8007139Fu);
constexpr HRESULT BCERR_NULL_POINTER = static_cast<HRESULT>(0x80004003u);

// The bar callback: context of BCSetCBData, a value to ignore (0), then x, y,
// width and height of one bar or module. Its result is ignored.
using BCDrawBarFunc = LONG (*)(void* context, DWORD reserved, double x, double y, double width, double height);

extern "C" {

HRESULT BCAlloc(tag_BarCode** handle);
HRESULT BCFree(tag_BarCode* handle);

// Size of the symbology id space (ids 0 .. count - 1) and the engine's name of
// each id (an empty text for ids it does not offer). The array lives as long
// as the process.
int BCGetBCCount();
const wchar_t* const* BCGetBCListW();

HRESULT BCSetFormatW(tag_BarCode* handle, const wchar_t* format);
// An unknown id is refused (E_INVALIDARG), and nothing builds until a
// known one is set.
HRESULT BCSetBCType(tag_BarCode* handle, int type);
int BCGetBCType(tag_BarCode* handle);
// Module width in thousandths of a millimetre, as a decimal text ("250.00").
// A width that is no positive number up to a metre is refused, and BCCheck
// and BCCreate fail (E_INVALIDARG) until a valid width is set.
HRESULT BCSetModWidthW(tag_BarCode* handle, const wchar_t* width);
// Bar height of linear codes in millimetres.
HRESULT BCSetNotchHeight(tag_BarCode* handle, int height);
HRESULT BCSetRatioW(tag_BarCode* handle, const wchar_t* ratio);
// An unknown code page is refused, and 2D codes fail (E_INVALIDARG) until a
// known one is set.
HRESULT BCSetCodePage(tag_BarCode* handle, int codePage);
HRESULT BCSet_QR_ECLevel(tag_BarCode* handle, int level);
HRESULT BCSet_QR_Version(tag_BarCode* handle, int version);
HRESULT BCSet_DM_Size(tag_BarCode* handle, int size);
HRESULT BCSet_HanXin_Version(tag_BarCode* handle, int version);
HRESULT BCSet_HanXin_ECLevel(tag_BarCode* handle, int level);
HRESULT BCSet_PDF417_Columns(tag_BarCode* handle, int columns);
HRESULT BCSet_PDF417_Rows(tag_BarCode* handle, int rows);
HRESULT BCSet_PDF417_ECLevel(tag_BarCode* handle, int level);
HRESULT BCSet_Aztec_AppendActive(tag_BarCode* handle, int active);

// The data; length in characters (a negative length: up to the terminator).
// An empty text leaves the handle without data (BCGetTextW gives null).
HRESULT BCSetTextW(tag_BarCode* handle, const wchar_t* text, int length);
// The data as the handle holds it, or null when it holds none. Valid until
// the next BCSetTextW or BCFree.
const wchar_t* BCGetTextW(tag_BarCode* handle);
// Validates the data against the symbology: BCERR_INVALID_DATA (see
// BCGetInvalidDataPos) or BCERR_WRONG_LENGTH (see BCGetMaxLenOfData).
HRESULT BCCheck(tag_BarCode* handle);
// Validates and encodes; after S_OK the symbol can be drawn.
HRESULT BCCreate(tag_BarCode* handle);
// Zero-based position of the first character the last check refused, or -1.
int BCGetInvalidDataPos(tag_BarCode* handle);
// Longest data of a symbology in characters (0 when there is no fixed limit
// or the id is unknown). For 2D codes: the capacity of the largest symbol in
// digits, the densest kind of data.
int BCGetMaxLenOfData(int type);
// Longest data of the handle's symbology and options, in characters: for
// 2D codes the longest leading part of the current data that the chosen
// version and error-correction level hold (data of the same kind), for
// linear codes BCGetMaxLenOfData. 0 when there is no handle.
int BCGetMaxLenOfText(tag_BarCode* handle);
// Why the last BCCheck or BCCreate failed, when the error code alone does
// not say it (the lengths a symbology takes, a setting that was refused);
// null otherwise. Valid until the next check or encoding.
const wchar_t* BCGetErrorDetailW(tag_BarCode* handle);
// The data as the last encoded symbol holds it, for the human-readable
// line: EAN-13, EAN-8, UPC-A and UPC-E with the computed check digit
// (UPC-E as number system, six digits and check digit), ITF with the zero
// that pads an odd count; other symbologies the data as set. Null before
// a successful BCCreate.
const wchar_t* BCGetReadableTextW(tag_BarCode* handle);
// Composite symbols are not offered: both give 0.
int BCGet2DCompositeComponent(tag_BarCode* handle);
int BCGet_CompSym_ErrorInCC(tag_BarCode* handle);
// A terminated description of an error code in at most size characters
// (terminator included); false-free: an unknown code gets a generic text.
HRESULT BCGetErrorTextW(HRESULT code, wchar_t* buffer, int size);

HRESULT BCSetCBData(tag_BarCode* handle, void* context);
HRESULT BCSetFuncDrawBar(tag_BarCode* handle, BCDrawBarFunc callback);
HRESULT BCDrawCB(tag_BarCode* handle, HDC dc, RECT* rect);
HRESULT BCSetPrintText(tag_BarCode* handle, int show, int above);
HRESULT BCSetFontHeight(tag_BarCode* handle, int height);

// The size of the last encoded symbol in modules (columns, rows), light edge
// modules included; 0 and 0 when nothing is encoded. For linear codes rows is
// 1.
HRESULT BCGetSymbolSize(tag_BarCode* handle, int* columns, int* rows);

}  // extern "C"

// The add-in that encodes the one symbology the barcode engine lacks. The
// symbology itself is not available on this platform: the stand-in answers
// every request with null (no outline), and the caller reports that the code
// cannot be built. Tests and hosts that have an encoder can install one
// (SetTolcodeOutlineSource).
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <vector>

#include "morvik/afx/carray.h"

// Symbologies the add-in knows by number; only this one is asked for.
enum Symbology : int {
    SymbologyTolcode = 86,
};

// One dark module: its left x and top y in thirds of a module (3 per module).
struct MORVIK_API FBarcodeModule {
    int32_t left = 0;
    int32_t top = 0;
    int32_t reserved[2] = {0, 0};
};

// The add-in's outline of one symbol: its size in modules and its dark
// modules. Created with new by the source, freed by FreeBarcode_Tolcode.
struct MORVIK_API FBarcode {
    int32_t nRows = 0;
    int32_t nCols = 0;
    CArray<FBarcodeModule> arrModules;
};

// Outline of text (ANSI code page) in the given symbology, error-correction
// level and two encoder-defined values; null when the symbol cannot be built.
FBarcode* GetBarcodeOutline_Tolcode(const char* text, Symbology symbology, int ecLevel, int param1, int param2);
// Frees an outline of GetBarcodeOutline_Tolcode; null is ignored.
void FreeBarcode_Tolcode(FBarcode* outline);

// Where outlines come from: null (the default) means the symbology is not
// available. The source must allocate its result with new. Returns the
// previous source.
using TolcodeOutlineFunc = FBarcode* (*)(const char* text, Symbology symbology, int ecLevel, int param1, int param2);
TolcodeOutlineFunc SetTolcodeOutlineSource(TolcodeOutlineFunc source);

// The dark modules of an outline as a grid of nRows x nCols bytes, row by
// row (1 dark, 0 light): the module of element (left, top) is at index
// nCols * (top / 3) + left / 3. Elements outside the grid are ignored. False
// (grid emptied) for a null outline, a size of 0 or below, or a grid above
// 4096 x 4096 modules.
bool TolcodeModuleGrid(const FBarcode* outline, std::vector<uint8_t>& grid);

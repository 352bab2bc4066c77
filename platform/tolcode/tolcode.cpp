#include "morvik/tolcode/tolcode.h"

#include <atomic>

namespace {
std::atomic<TolcodeOutlineFunc> g_source{nullptr};
}  // namespace

FBarcode* GetBarcodeOutline_Tolcode(const char* text, Symbology symbology, int ecLevel, int param1, int param2) {
    TolcodeOutlineFunc source = g_source.load();
    if (source == nullptr || text == nullptr) {
        return nullptr;
    }
    return source(text, symbology, ecLevel, param1, param2);
}

void FreeBarcode_Tolcode(FBarcode* outline) { delete outline; }

TolcodeOutlineFunc SetTolcodeOutlineSource(TolcodeOutlineFunc source) { return g_source.exchange(source); }

bool TolcodeModuleGrid(const FBarcode* outline, std::vector<uint8_t>& grid) {
    grid.clear();
    constexpr int32_t kMaxSide = 4096;
    if (outline == nullptr || outline->nRows <= 0 || outline->nCols <= 0 || outline->nRows > kMaxSide ||
        outline->nCols > kMaxSide) {
        return false;
    }
    const int32_t cols = outline->nCols;
    const int32_t rows = outline->nRows;
    grid.assign(static_cast<size_t>(cols) * static_cast<size_t>(rows), 0);
    for (intptr_t i = 0; i < outline->arrModules.GetSize(); ++i) {
        const FBarcodeModule& m = outline->arrModules.GetAt(i);
        if (m.left < 0 || m.top < 0) {
            continue;
        }
        const int32_t col = m.left / 3;
        const int32_t row = m.top / 3;
        if (col < cols && row < rows) {
            grid[static_cast<size_t>(cols) * static_cast<size_t>(row) + static_cast<size_t>(col)] = 1;
        }
    }
    return true;
}

#include "morvik/shapes/dib.h"

#include <cstring>
#include <memory>
#include <new>

#include "morvik/gdi/dc.h"

namespace {

// Pictures larger than this many bytes of pixels are refused.
constexpr uint64_t kMaxDibBytes = uint64_t{1} << 30;

int TableSize(int bpp) { return bpp == 1 ? 2 : (bpp == 4 ? 16 : (bpp == 8 ? 256 : 0)); }

}  // namespace

CDIB::CDIB() = default;

CDIB::CDIB(HGLOBAL packedDib) {
    const SIZE_T size = GlobalSize(packedDib);
    if (size < sizeof(BITMAPINFOHEADER)) return;
    const BYTE* block = static_cast<const BYTE*>(GlobalLock(packedDib));
    if (block == nullptr) return;

    BITMAPINFOHEADER header;
    std::memcpy(&header, block, sizeof header);
    const int bpp = header.biBitCount;
    const bool supported =
        header.biSize >= sizeof(BITMAPINFOHEADER) && header.biSize <= size && header.biCompression == BI_RGB &&
        header.biPlanes == 1 && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24) && header.biWidth > 0 &&
        header.biHeight != 0 && header.biHeight != INT32_MIN && header.biWidth <= Gdiplus::kMaxImageSide &&
        header.biHeight <= Gdiplus::kMaxImageSide && header.biHeight >= -Gdiplus::kMaxImageSide;
    if (supported) {
        const int width = header.biWidth;
        const int height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
        const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
        const uint64_t pixels = stride * static_cast<uint64_t>(height);
        const int tableSize = TableSize(bpp);
        // The block holds biClrUsed entries when that is set; the copy always
        // has the full table, padded with black.
        const int stored = header.biClrUsed != 0 && header.biClrUsed < static_cast<DWORD>(tableSize)
                               ? static_cast<int>(header.biClrUsed)
                               : tableSize;
        const uint64_t needed = header.biSize + static_cast<uint64_t>(stored) * sizeof(RGBQUAD) + pixels;
        if (pixels <= kMaxDibBytes && needed <= size) {
            try {
                m_image.assign(sizeof(BITMAPINFOHEADER) + static_cast<size_t>(tableSize) * sizeof(RGBQUAD) +
                                   static_cast<size_t>(pixels),
                               0);
                m_rows.resize(static_cast<size_t>(height));
            } catch (const std::bad_alloc&) {
                m_image.clear();
                m_rows.clear();
            }
            if (!m_image.empty()) {
                BYTE* image = m_image.data();
                const BYTE* table = block + header.biSize;
                header.biSize = sizeof(BITMAPINFOHEADER);
                header.biClrUsed = static_cast<DWORD>(tableSize);
                std::memcpy(image, &header, sizeof header);
                std::memcpy(image + sizeof header, table, static_cast<size_t>(stored) * sizeof(RGBQUAD));
                const BYTE* bits = table + static_cast<size_t>(stored) * sizeof(RGBQUAD);
                BYTE* ownBits = image + sizeof header + static_cast<size_t>(tableSize) * sizeof(RGBQUAD);
                std::memcpy(ownBits, bits, static_cast<size_t>(pixels));
                m_pHeader = reinterpret_cast<BITMAPINFOHEADER*>(image);
                m_pColors = tableSize > 0 ? reinterpret_cast<RGBQUAD*>(image + sizeof header) : nullptr;
                m_pBits = ownBits;
                m_nWidth = width;
                m_nHeight = height;
                m_nStride = static_cast<int>(stride);
                m_nBitsPerPixel = bpp;
                m_nColors = tableSize;
                const bool bottomUp = header.biHeight > 0;
                for (int i = 0; i < height; ++i) {
                    const int row = bottomUp ? height - 1 - i : i;
                    m_rows[static_cast<size_t>(i)] = ownBits + static_cast<size_t>(row) * stride;
                }
            }
        }
    }
    GlobalUnlock(packedDib);
}

CDIB::~CDIB() { Clear(); }

void CDIB::Clear() {
    m_image.clear();
    m_rows.clear();
    m_pHeader = nullptr;
    m_pColors = nullptr;
    m_pBits = nullptr;
    m_nWidth = m_nHeight = m_nStride = m_nBitsPerPixel = m_nColors = 0;
}

const BYTE* CDIB::GetRow(int i) const {
    if (i < 0 || i >= m_nHeight) return nullptr;
    return m_rows[static_cast<size_t>(i)];
}

CBitmap* CDIB::MakeBitmap(CDC* dc) const {
    if (!IsValid()) return nullptr;
    const HDC hdc = dc != nullptr ? dc->GetSafeHdc() : nullptr;
    const HBITMAP ddb = CreateDIBitmap(hdc, m_pHeader, CBM_INIT, m_pBits,
                                       reinterpret_cast<const BITMAPINFO*>(m_image.data()), DIB_RGB_COLORS);
    if (ddb == nullptr) return nullptr;
    BITMAP bm{};
    std::unique_ptr<CBitmap> copy;
    if (GetObject(ddb, static_cast<int>(sizeof bm), &bm) != 0) {
        try {
            std::vector<BYTE> bits(static_cast<size_t>(bm.bmWidthBytes) * static_cast<size_t>(bm.bmHeight));
            GetBitmapBits(ddb, static_cast<LONG>(bits.size()), bits.data());
            bm.bmBits = nullptr;
            copy = std::make_unique<CBitmap>();
            if (copy->CreateBitmapIndirect(&bm)) {
                copy->SetBitmapBits(static_cast<DWORD>(bits.size()), bits.data());
            } else {
                copy.reset();
            }
        } catch (const std::bad_alloc&) {
            copy.reset();
        }
    }
    DeleteObject(ddb);
    return copy.release();
}

// CDIB: one device-independent bitmap copied out of a packed DIB (the
// header, its colour table and the pixel rows in one global memory block,
// as the clipboard hands them over), and turned into a device-dependent
// bitmap for a picture.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/com/hglobal.h"
#include "morvik/gdiplus/bitmap.h"
#include "morvik/win32/windows.h"

class CDC;

class MORVIK_API CDIB {
public:
    // An empty bitmap.
    CDIB();
    // Copies the packed DIB behind the handle (locked while it is read).
    // Refused, leaving the object empty: compressed pixels, 15 or more bits
    // per pixel other than 24, depths other than 1, 4, 8 and 24, and blocks
    // too short for what their header announces.
    explicit CDIB(HGLOBAL packedDib);
    virtual ~CDIB();
    CDIB(const CDIB&) = delete;
    CDIB& operator=(const CDIB&) = delete;

    bool IsValid() const { return !m_image.empty(); }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    int GetStride() const { return m_nStride; }
    int GetBitsPerPixel() const { return m_nBitsPerPixel; }
    const BITMAPINFOHEADER* GetHeader() const { return m_pHeader; }
    // 2 entries for 1 bit per pixel, 16 for 4, 256 for 8, none otherwise.
    const RGBQUAD* GetColors() const { return m_pColors; }
    int GetColorCount() const { return m_nColors; }
    // Row i of the picture from the top; null outside it.
    const BYTE* GetRow(int i) const;

    // A device-dependent copy for the device context (null: the screen's),
    // owned by the caller; null when the bitmap is empty or memory runs
    // out.
    CBitmap* MakeBitmap(CDC* dc) const;

private:
    void Clear();

    // The header (40 bytes), the colour table and the pixel rows.
    std::vector<BYTE> m_image;
    BITMAPINFOHEADER* m_pHeader = nullptr;
    RGBQUAD* m_pColors = nullptr;
    BYTE* m_pBits = nullptr;
    // Row i points at row height - 1 - i of the bottom-up pixels.
    std::vector<BYTE*> m_rows;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nStride = 0;
    int m_nBitsPerPixel = 0;
    int m_nColors = 0;
};

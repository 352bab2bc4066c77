// Raster images: GDI+'s Image and Bitmap (decoded from BMP, PNG, JPEG, GIF
// and TIFF data, locked for direct pixel access, drawn by Graphics::DrawImage),
// and under them the GDI bitmaps that a Bitmap turns into and comes from
// (HBITMAP, BITMAP, device-independent bitmaps, the display's device
// context).
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "morvik/com/stream.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/color.h"
#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/win32/windows.h"

// ============================================================================
// GDI bitmaps
// ============================================================================

struct HBITMAP__;
using HBITMAP = HBITMAP__*;
struct HPALETTE__;
using HPALETTE = HPALETTE__*;

struct MORVIK_API BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

struct MORVIK_API BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");

struct MORVIK_API RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

// The header followed by its colour table; bmiColors has as many entries as
// the header's colour count asks for (the declared one is the first).
struct MORVIK_API BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
constexpr DWORD CBM_INIT = 0x04;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;

constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// The size of the headless display that CreateDCW(L"DISPLAY") stands for.
// It shows nothing: what is copied from it is black.
constexpr int kDisplayWidth = 1920;
constexpr int kDisplayHeight = 1080;

// The bytes of one row of a device-dependent bitmap: whole 16-bit words.
constexpr LONG DdbRowBytes(LONG width, int bitsPerPixel) {
    return static_cast<LONG>(((static_cast<int64_t>(width) * bitsPerPixel + 15) / 16) * 2);
}
// The bytes of one row of a device-independent bitmap: whole 32-bit words.
constexpr LONG DibRowBytes(LONG width, int bitsPerPixel) {
    return static_cast<LONG>(((static_cast<int64_t>(width) * bitsPerPixel + 31) / 32) * 4);
}

// A device-dependent bitmap of the description: 1, 4, 8, 16, 24 or 32 bits
// per pixel, one plane, rows of bmWidthBytes (even, at least a whole row)
// taken from bmBits when it is not null (bmWidthBytes * bmHeight bytes are
// read from it, as in Win32), zero otherwise. Null for any other
// description, sides beyond 65535 pixels, or beyond 2^30 bytes.
HBITMAP CreateBitmapIndirect(const BITMAP* bitmap);
// A black 32-bit bitmap of the size; null for a size below 1 or too large.
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height);
// A 32-bit device-dependent bitmap of the DIB's size. With CBM_INIT its
// pixels come from bits, laid out as the header says (1, 4, 8, 16, 24 or 32
// bits per pixel, uncompressed, rows bottom-up for a positive height) with
// the colour table of info (biClrUsed entries, or the full table of the bit
// depth when 0). Null for a compressed or unsupported DIB.
HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* header, DWORD init, const void* bits, const BITMAPINFO* info,
                       UINT usage);
// Fills a BITMAP (bmBits points at the pixel rows of a bitmap made by
// Bitmap::GetHBITMAP, bottom-up, valid until the bitmap is deleted; null for
// the others). Returns the bytes written, sizeof(BITMAP) for a null buffer,
// 0 for an unknown handle or a buffer too small.
int GetObject(HBITMAP bitmap, int bufferSize, void* buffer);
// Copies up to count bytes of the bitmap's rows, top row first; returns the
// bytes copied (0 for an unknown handle).
LONG GetBitmapBits(HBITMAP bitmap, LONG count, void* bits);
// Replaces up to count bytes of the rows, top row first; returns the bytes
// taken.
LONG SetBitmapBits(HBITMAP bitmap, DWORD count, const void* bits);
BOOL DeleteObject(HBITMAP bitmap);

// The display's device context (only "DISPLAY" is known) and memory device
// contexts that bitmaps are selected into.
HDC CreateDCW(const wchar_t* driver, const wchar_t* device, const wchar_t* output, const void* initData);
HDC CreateCompatibleDC(HDC hdc);
// Only device contexts made by the two functions above can be deleted.
BOOL DeleteDC(HDC hdc);
// Selects the bitmap into a memory device context; returns the bitmap
// selected before (null at first).
HBITMAP SelectObject(HDC hdc, HBITMAP bitmap);
int GetDeviceCaps(HDC hdc, int index);
// SRCCOPY, BLACKNESS and WHITENESS into the bitmap of a memory device
// context, from another memory device context or from the display.
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, DWORD rop);

// MFC's bitmap object: owns its HBITMAP and deletes it with itself.
class MORVIK_API CBitmap {
public:
    CBitmap() = default;
    ~CBitmap();
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;

    BOOL CreateBitmapIndirect(const BITMAP* bitmap);
    BOOL Attach(HBITMAP bitmap);
    HBITMAP Detach();
    BOOL DeleteObject();
    int GetBitmap(BITMAP* bitmap) const;
    DWORD GetBitmapBits(DWORD count, void* bits) const;
    DWORD SetBitmapBits(DWORD count, const void* bits);
    HBITMAP GetSafeHandle() const { return m_hObject; }
    operator HBITMAP() const { return m_hObject; }

    HBITMAP m_hObject = nullptr;
};

// ============================================================================
// GDI+ images
// ============================================================================

namespace Gdiplus {

using PixelFormat = INT;

constexpr PixelFormat PixelFormatIndexed = 0x00010000;
constexpr PixelFormat PixelFormatGDI = 0x00020000;
constexpr PixelFormat PixelFormatAlpha = 0x00040000;
constexpr PixelFormat PixelFormatPAlpha = 0x00080000;
constexpr PixelFormat PixelFormatExtended = 0x00100000;
constexpr PixelFormat PixelFormatCanonical = 0x00200000;
constexpr PixelFormat PixelFormatUndefined = 0;
constexpr PixelFormat PixelFormatDontCare = 0;
constexpr PixelFormat PixelFormat1bppIndexed = 1 | (1 << 8) | PixelFormatIndexed | PixelFormatGDI;
constexpr PixelFormat PixelFormat4bppIndexed = 2 | (4 << 8) | PixelFormatIndexed | PixelFormatGDI;
constexpr PixelFormat PixelFormat8bppIndexed = 3 | (8 << 8) | PixelFormatIndexed | PixelFormatGDI;
constexpr PixelFormat PixelFormat16bppGrayScale = 4 | (16 << 8) | PixelFormatExtended;
constexpr PixelFormat PixelFormat16bppRGB555 = 5 | (16 << 8) | PixelFormatGDI;
constexpr PixelFormat PixelFormat16bppRGB565 = 6 | (16 << 8) | PixelFormatGDI;
constexpr PixelFormat PixelFormat16bppARGB1555 = 7 | (16 << 8) | PixelFormatAlpha | PixelFormatGDI;
constexpr PixelFormat PixelFormat24bppRGB = 8 | (24 << 8) | PixelFormatGDI;
constexpr PixelFormat PixelFormat32bppRGB = 9 | (32 << 8) | PixelFormatGDI;
constexpr PixelFormat PixelFormat32bppARGB = 10 | (32 << 8) | PixelFormatAlpha | PixelFormatGDI | PixelFormatCanonical;
constexpr PixelFormat PixelFormat32bppPARGB = 11 | (32 << 8) | PixelFormatAlpha | PixelFormatPAlpha | PixelFormatGDI;
constexpr PixelFormat PixelFormat48bppRGB = 12 | (48 << 8) | PixelFormatExtended;
constexpr PixelFormat PixelFormat64bppARGB =
    13 | (64 << 8) | PixelFormatAlpha | PixelFormatCanonical | PixelFormatExtended;
constexpr PixelFormat PixelFormat64bppPARGB =
    14 | (64 << 8) | PixelFormatAlpha | PixelFormatPAlpha | PixelFormatExtended;

constexpr UINT GetPixelFormatSize(PixelFormat format) { return (static_cast<UINT>(format) >> 8) & 0xFF; }
constexpr bool IsIndexedPixelFormat(PixelFormat format) { return (format & PixelFormatIndexed) != 0; }
constexpr bool IsAlphaPixelFormat(PixelFormat format) { return (format & PixelFormatAlpha) != 0; }
// The formats these images store: 1, 4 and 8 bits indexed, 24-bit RGB,
// 32-bit RGB and 32-bit ARGB. Every operation refuses the others.
bool IsStoredPixelFormat(PixelFormat format);

enum ImageLockMode {
    ImageLockModeRead = 1,
    ImageLockModeWrite = 2,
    ImageLockModeUserInputBuf = 4,
};

struct MORVIK_API BitmapData {
    UINT Width = 0;
    UINT Height = 0;
    INT Stride = 0;
    ::Gdiplus::PixelFormat PixelFormat = 0;
    void* Scan0 = nullptr;
    UINT_PTR Reserved = 0;
};

enum PaletteFlags {
    PaletteFlagsHasAlpha = 0x0001,
    PaletteFlagsGrayScale = 0x0002,
    PaletteFlagsHalftone = 0x0004,
};

// A palette in GDI+'s layout: Count entries follow the two words, in a
// buffer of GetPaletteSize() bytes (the declared entry is the first).
struct MORVIK_API ColorPalette {
    UINT Flags;
    UINT Count;
    ARGB Entries[1];
};

enum RotateFlipType {
    RotateNoneFlipNone = 0,
    Rotate90FlipNone = 1,
    Rotate180FlipNone = 2,
    Rotate270FlipNone = 3,
    RotateNoneFlipX = 4,
    Rotate90FlipX = 5,
    Rotate180FlipX = 6,
    Rotate270FlipX = 7,
    RotateNoneFlipY = Rotate180FlipX,
    Rotate90FlipY = Rotate270FlipX,
    Rotate180FlipY = RotateNoneFlipX,
    Rotate270FlipY = Rotate90FlipX,
    RotateNoneFlipXY = Rotate180FlipNone,
    Rotate90FlipXY = Rotate270FlipNone,
    Rotate180FlipXY = RotateNoneFlipNone,
    Rotate270FlipXY = Rotate90FlipNone,
};

enum Unit : int {
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};

// Limits of every image: sides up to 65535 pixels and at most 2^30 bytes of
// pixels; images decoded from data at most 2^26 pixels. Larger requests fail
// with OutOfMemory.
constexpr INT kMaxImageSide = 65535;
constexpr size_t kMaxImageBytes = size_t{1} << 30;
constexpr uint64_t kMaxDecodedPixels = uint64_t{1} << 26;
// The resolution of an image whose data names none, in dots per inch.
constexpr REAL kDefaultImageDpi = 96.0f;

class MORVIK_API Image {
public:
    virtual ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // 0 for an image that failed to come into being.
    UINT GetWidth() const;
    UINT GetHeight() const;
    PixelFormat GetPixelFormat() const;
    REAL GetHorizontalResolution() const;
    REAL GetVerticalResolution() const;
    // The status of the last failing call (construction included), then Ok
    // again.
    Status GetLastStatus() const;

    // Bytes a ColorPalette of this image's palette takes (the two words and
    // at least one entry).
    INT GetPaletteSize() const;
    // size is the buffer's size in bytes; a buffer too small fails with
    // InsufficientBuffer.
    Status GetPalette(ColorPalette* palette, INT size) const;
    // Indexed images only; the palette keeps at most the format's number of
    // entries and pads with opaque black. Not while the bits are locked.
    Status SetPalette(const ColorPalette* palette);

    // Not while the bits are locked (WrongState).
    Status RotateFlip(RotateFlipType type);
    // A full copy (null when the image is not valid or memory runs out).
    Image* Clone() const;

protected:
    Image();

    // The pixels: rows top to bottom, Stride bytes apart (a multiple of 4),
    // each in the layout of the format (24-bit: B, G, R; 32-bit: B, G, R,
    // A; indexed: palette indices, high bits first).
    struct Pixels {
        INT width = 0;
        INT height = 0;
        PixelFormat format = PixelFormatUndefined;
        INT stride = 0;
        std::vector<uint8_t> data;
        std::vector<ARGB> palette;
        UINT paletteFlags = 0;
        REAL dpiX = kDefaultImageDpi;
        REAL dpiY = kDefaultImageDpi;
    };

    Status SetStatus(Status s) const;
    bool Valid() const { return m_px.width > 0; }

    Pixels m_px;
    // While its bits are locked an image does not change shape or palette.
    bool m_locked = false;
    mutable Status m_lastStatus = Ok;

    friend struct ImageAccess;
    friend class Graphics;
};

class MORVIK_API Bitmap : public Image {
public:
    // A new image of the size and format; ARGB pixels start transparent,
    // others black; an indexed image starts with a grey ramp palette (black
    // and white for 1 bit). Failures leave an image of width 0 and the
    // status: InvalidParameter for a size below 1 or an unstored format,
    // OutOfMemory beyond the limits.
    Bitmap(INT width, INT height, PixelFormat format = PixelFormat32bppARGB);
    // Decodes the stream's bytes from its current position to its end.
    // BMP, PNG, JPEG, GIF (its first frame) and TIFF (its first page) are
    // known; anything else, or data that does not decode (a cut file
    // included), gives InvalidParameter and width 0. Grey PNG, JPEG and TIFF
    // pictures become 8-bit indexed with a grey palette, colour pictures
    // 24-bit RGB, pictures with transparency 32-bit ARGB, 16-bit channels
    // keep their high byte; the resolution is the file's own (BMP, PNG pHYs,
    // JPEG JFIF, TIFF) or 96 dpi.
    explicit Bitmap(IStream* stream, BOOL useIcm = FALSE);
    // Decodes a file (UTF-8 on disk); a file that cannot be read gives
    // GenericError.
    explicit Bitmap(const WCHAR* filename, BOOL useIcm = FALSE);
    // From a GDI bitmap: 32 bits become 32-bit RGB, 24 bits 24-bit RGB, 16
    // bits (5-5-5) 32-bit RGB, 8, 4 and 1 bits the indexed formats with a
    // grey ramp (the palette handle is not used). 96 dpi.
    Bitmap(HBITMAP bitmap, HPALETTE palette);
    ~Bitmap() override;

    static Bitmap* FromFile(const WCHAR* filename, BOOL useIcm = FALSE);
    static Bitmap* FromStream(IStream* stream, BOOL useIcm = FALSE);
    static Bitmap* FromHBITMAP(HBITMAP bitmap, HPALETTE palette);

    // A copy of the rectangle in the format: any stored format converts to
    // 24-bit RGB, 32-bit RGB and 32-bit ARGB; an indexed format only to
    // itself. Null for a rectangle outside the image or another format.
    Bitmap* Clone(const Rect& rect, PixelFormat format) const;
    Bitmap* Clone(INT x, INT y, INT width, INT height, PixelFormat format) const;
    Bitmap* Clone() const;

    // Locks a rectangle (null for the whole image) in a format for direct
    // access; one lock at a time (WrongState otherwise). The image's own
    // format gives its own memory; another (as for Clone) gives a converted
    // copy that UnlockBits writes back when the lock was for writing.
    // ImageLockModeUserInputBuf is not supported.
    Status LockBits(const Rect* rect, UINT flags, PixelFormat format, BitmapData* data);
    Status UnlockBits(BitmapData* data);

    Status GetPixel(INT x, INT y, Color* color) const;
    // Not for indexed images (InvalidParameter), as in GDI+.
    Status SetPixel(INT x, INT y, const Color& color);
    // Both values above 0.
    Status SetResolution(REAL dpiX, REAL dpiY);
    // A new GDI bitmap of 32 bits per pixel with rows bottom-up, the pixels
    // laid over the background colour; the caller deletes it.
    Status GetHBITMAP(const Color& background, HBITMAP* out) const;

private:
    Bitmap();
    void Decode(const uint8_t* data, size_t size);

    struct Lock;
    std::unique_ptr<Lock> m_lock;

    friend struct ImageAccess;
};

}  // namespace Gdiplus

#include "morvik/afx/macros_restore.inc"

#include "morvik/gdiplus/bitmap.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <new>
#include <unordered_map>

#include "morvik/gdi/cairo_canvas.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/image_decode.h"

// ============================================================================
// GDI bitmaps
// ============================================================================

namespace {

constexpr size_t kMaxGdiBytes = size_t{1} << 30;

struct GdiBitmap {
    LONG width = 0;
    LONG height = 0;
    LONG widthBytes = 0;
    WORD bitsPixel = 0;
    // A DIB section (made by Bitmap::GetHBITMAP) keeps its rows bottom-up and
    // shows them through GetObject; the others keep them top-down.
    bool bottomUp = false;
    std::vector<uint8_t> bits;

    uint8_t* Row(LONG y) {
        const LONG stored = bottomUp ? height - 1 - y : y;
        return bits.data() + static_cast<size_t>(stored) * static_cast<size_t>(widthBytes);
    }
};

// Handles are numbers never reused, looked up on every call, so a deleted
// or made-up handle fails instead of touching freed memory.
struct BitmapTable {
    std::mutex mutex;
    uintptr_t next = 0x20000;
    std::unordered_map<uintptr_t, std::shared_ptr<GdiBitmap>> live;
};

BitmapTable& Bitmaps() {
    static BitmapTable table;
    return table;
}

HBITMAP Register(std::shared_ptr<GdiBitmap> bmp) {
    BitmapTable& t = Bitmaps();
    std::lock_guard<std::mutex> lock(t.mutex);
    const uintptr_t id = t.next++;
    t.live.emplace(id, std::move(bmp));
    return reinterpret_cast<HBITMAP>(id);
}

std::shared_ptr<GdiBitmap> FindBitmap(HBITMAP h) {
    BitmapTable& t = Bitmaps();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.live.find(reinterpret_cast<uintptr_t>(h));
    return it == t.live.end() ? nullptr : it->second;
}

bool KnownDepth(int bpp) { return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32; }

// A zeroed bitmap; null when the size is refused or memory runs out.
std::shared_ptr<GdiBitmap> NewGdiBitmap(LONG width, LONG height, int bpp, LONG widthBytes, bool bottomUp) {
    if (width < 1 || height < 1 || width > Gdiplus::kMaxImageSide || height > Gdiplus::kMaxImageSide ||
        !KnownDepth(bpp) || widthBytes < DdbRowBytes(width, bpp)) {
        return nullptr;
    }
    const uint64_t bytes = static_cast<uint64_t>(widthBytes) * static_cast<uint64_t>(height);
    if (bytes > kMaxGdiBytes) return nullptr;
    auto bmp = std::shared_ptr<GdiBitmap>(new (std::nothrow) GdiBitmap());
    if (!bmp) return nullptr;
    bmp->width = width;
    bmp->height = height;
    bmp->widthBytes = widthBytes;
    bmp->bitsPixel = static_cast<WORD>(bpp);
    bmp->bottomUp = bottomUp;
    try {
        bmp->bits.assign(static_cast<size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return bmp;
}

void PutBgrx(uint8_t* p, BYTE r, BYTE g, BYTE b) {
    p[0] = b;
    p[1] = g;
    p[2] = r;
    p[3] = 0;
}

// One device context made here, with the bitmap selected into it.
struct OwnedDc {
    std::unique_ptr<CDC> dc;
    bool display = false;
    HBITMAP selected = nullptr;
};

struct DcTable {
    std::mutex mutex;
    std::unordered_map<HDC, OwnedDc> live;
};

DcTable& Dcs() {
    static DcTable table;
    return table;
}

// What GetDeviceCaps of the display reports; nothing draws on it.
RecordingCanvas& DisplayCanvas() {
    static RecordingCanvas canvas(kDisplayWidth, kDisplayHeight);
    return canvas;
}

}  // namespace

HBITMAP CreateBitmapIndirect(const BITMAP* bm) {
    if (bm == nullptr || bm->bmPlanes != 1 || bm->bmWidthBytes % 2 != 0) return nullptr;
    auto bmp = NewGdiBitmap(bm->bmWidth, bm->bmHeight, bm->bmBitsPixel, bm->bmWidthBytes, false);
    if (!bmp) return nullptr;
    if (bm->bmBits != nullptr) std::memcpy(bmp->bits.data(), bm->bmBits, bmp->bits.size());
    return Register(std::move(bmp));
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
    auto bmp = NewGdiBitmap(width, height, 32, DdbRowBytes(width, 32), false);
    return bmp ? Register(std::move(bmp)) : nullptr;
}

HBITMAP CreateDIBitmap(HDC, const BITMAPINFOHEADER* header, DWORD init, const void* bits, const BITMAPINFO* info,
                       UINT usage) {
    if (header == nullptr || header->biSize < sizeof(BITMAPINFOHEADER) || header->biWidth < 1 ||
        header->biHeight == 0 || header->biHeight == INT32_MIN) {
        return nullptr;
    }
    const LONG width = header->biWidth;
    const LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    auto bmp = NewGdiBitmap(width, height, 32, DdbRowBytes(width, 32), false);
    if (!bmp) return nullptr;
    if ((init & CBM_INIT) != 0) {
        const BITMAPINFOHEADER& h = info != nullptr ? info->bmiHeader : *header;
        const int bpp = h.biBitCount;
        if (bits == nullptr || h.biCompression != BI_RGB || header->biCompression != BI_RGB ||
            usage != DIB_RGB_COLORS || !KnownDepth(bpp) || h.biWidth != header->biWidth ||
            h.biHeight != header->biHeight) {
            return nullptr;
        }
        const size_t maxColors = bpp <= 8 ? (size_t{1} << bpp) : 0;
        const size_t colors = bpp <= 8 ? (h.biClrUsed != 0 ? std::min<size_t>(h.biClrUsed, maxColors) : maxColors) : 0;
        if (colors > 0 && info == nullptr) return nullptr;
        const RGBQUAD* table =
            colors > 0 ? reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const uint8_t*>(info) + h.biSize) : nullptr;
        const size_t stride = static_cast<size_t>(DibRowBytes(width, bpp));
        const bool bottomUp = header->biHeight > 0;
        const uint8_t* src = static_cast<const uint8_t*>(bits);
        for (LONG y = 0; y < height; ++y) {
            const uint8_t* in = src + stride * static_cast<size_t>(bottomUp ? height - 1 - y : y);
            uint8_t* out = bmp->Row(y);
            for (LONG x = 0; x < width; ++x) {
                uint8_t* px = out + static_cast<size_t>(x) * 4;
                if (bpp <= 8) {
                    const size_t bit = static_cast<size_t>(x) * bpp;
                    const unsigned index = (in[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                    if (index < colors) {
                        PutBgrx(px, table[index].rgbRed, table[index].rgbGreen, table[index].rgbBlue);
                    } else {
                        PutBgrx(px, 0, 0, 0);
                    }
                } else if (bpp == 16) {
                    const unsigned v = in[x * 2] | (in[x * 2 + 1] << 8);
                    auto five = [](unsigned c) { return static_cast<BYTE>((c << 3) | (c >> 2)); };
                    PutBgrx(px, five((v >> 10) & 31), five((v >> 5) & 31), five(v & 31));
                } else {
                    const uint8_t* p = in + static_cast<size_t>(x) * (bpp / 8);
                    PutBgrx(px, p[2], p[1], p[0]);
                }
            }
        }
    }
    return Register(std::move(bmp));
}

int GetObject(HBITMAP bitmap, int bufferSize, void* buffer) {
    auto bmp = FindBitmap(bitmap);
    if (!bmp) return 0;
    if (buffer == nullptr) return static_cast<int>(sizeof(BITMAP));
    if (bufferSize < static_cast<int>(sizeof(BITMAP))) return 0;
    BITMAP bm{};
    bm.bmType = 0;
    bm.bmWidth = bmp->width;
    bm.bmHeight = bmp->height;
    bm.bmWidthBytes = bmp->widthBytes;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = bmp->bitsPixel;
    bm.bmBits = bmp->bottomUp ? bmp->bits.data() : nullptr;
    std::memcpy(buffer, &bm, sizeof bm);
    return static_cast<int>(sizeof(BITMAP));
}

LONG GetBitmapBits(HBITMAP bitmap, LONG count, void* bits) {
    auto bmp = FindBitmap(bitmap);
    if (!bmp || bits == nullptr || count <= 0) return 0;
    const size_t want = std::min<size_t>(static_cast<size_t>(count), bmp->bits.size());
    const size_t row = static_cast<size_t>(bmp->widthBytes);
    uint8_t* out = static_cast<uint8_t*>(bits);
    for (size_t done = 0, y = 0; done < want; ++y) {
        const size_t n = std::min(row, want - done);
        std::memcpy(out + done, bmp->Row(static_cast<LONG>(y)), n);
        done += n;
    }
    return static_cast<LONG>(want);
}

LONG SetBitmapBits(HBITMAP bitmap, DWORD count, const void* bits) {
    auto bmp = FindBitmap(bitmap);
    if (!bmp || bits == nullptr) return 0;
    const size_t want = std::min<size_t>(count, bmp->bits.size());
    const size_t row = static_cast<size_t>(bmp->widthBytes);
    const uint8_t* in = static_cast<const uint8_t*>(bits);
    for (size_t done = 0, y = 0; done < want; ++y) {
        const size_t n = std::min(row, want - done);
        std::memcpy(bmp->Row(static_cast<LONG>(y)), in + done, n);
        done += n;
    }
    return static_cast<LONG>(want);
}

BOOL DeleteObject(HBITMAP bitmap) {
    std::shared_ptr<GdiBitmap> doomed;
    BitmapTable& t = Bitmaps();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.live.find(reinterpret_cast<uintptr_t>(bitmap));
    if (it == t.live.end()) return FALSE;
    doomed = std::move(it->second);
    t.live.erase(it);
    return TRUE;
}

HDC CreateDCW(const wchar_t* driver, const wchar_t*, const wchar_t*, const void*) {
    if (driver == nullptr) return nullptr;
    std::wstring name(driver);
    std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towupper(c); });
    if (name != L"DISPLAY") return nullptr;
    OwnedDc owned;
    owned.dc = std::make_unique<CDC>(&DisplayCanvas());
    owned.display = true;
    const HDC h = owned.dc->GetSafeHdc();
    DcTable& t = Dcs();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.live.emplace(h, std::move(owned));
    return h;
}

HDC CreateCompatibleDC(HDC) {
    OwnedDc owned;
    owned.dc = std::make_unique<CDC>();
    const HDC h = owned.dc->GetSafeHdc();
    DcTable& t = Dcs();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.live.emplace(h, std::move(owned));
    return h;
}

BOOL DeleteDC(HDC hdc) {
    OwnedDc doomed;
    DcTable& t = Dcs();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.live.find(hdc);
    if (it == t.live.end()) return FALSE;
    doomed = std::move(it->second);
    t.live.erase(it);
    return TRUE;
}

HBITMAP SelectObject(HDC hdc, HBITMAP bitmap) {
    if (bitmap == nullptr || !FindBitmap(bitmap)) return nullptr;
    DcTable& t = Dcs();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.live.find(hdc);
    if (it == t.live.end() || it->second.display) return nullptr;
    const HBITMAP previous = it->second.selected;
    it->second.selected = bitmap;
    return previous;
}

int GetDeviceCaps(HDC hdc, int index) {
    CDC* dc = CDC::FromHandle(hdc);
    return dc != nullptr ? dc->GetDeviceCaps(index) : 0;
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, DWORD rop) {
    if (rop != SRCCOPY && rop != BLACKNESS && rop != WHITENESS) return FALSE;
    HBITMAP destBitmap = nullptr;
    HBITMAP sourceBitmap = nullptr;
    bool fromDisplay = false;
    {
        DcTable& t = Dcs();
        std::lock_guard<std::mutex> lock(t.mutex);
        auto d = t.live.find(dest);
        if (d == t.live.end()) return FALSE;
        destBitmap = d->second.selected;
        if (rop == SRCCOPY) {
            auto s = t.live.find(source);
            if (s == t.live.end()) return FALSE;
            fromDisplay = s->second.display;
            sourceBitmap = s->second.selected;
        }
    }
    auto dst = FindBitmap(destBitmap);
    if (!dst) return TRUE;  // nothing to draw into (the display shows nothing)
    auto src = fromDisplay ? nullptr : FindBitmap(sourceBitmap);
    if (rop == SRCCOPY && !fromDisplay && (!src || src->bitsPixel != dst->bitsPixel)) return FALSE;
    const int bytes = dst->bitsPixel / 8;
    if (bytes == 0) return FALSE;
    // Clip the destination rectangle to both bitmaps.
    for (int row = 0; row < height; ++row) {
        const int dy = y + row;
        const int syy = sy + row;
        if (dy < 0 || dy >= dst->height) continue;
        for (int col = 0; col < width; ++col) {
            const int dx = x + col;
            const int sxx = sx + col;
            if (dx < 0 || dx >= dst->width) continue;
            uint8_t* out = dst->Row(dy) + static_cast<size_t>(dx) * bytes;
            if (rop == WHITENESS) {
                std::memset(out, 0xFF, static_cast<size_t>(bytes));
            } else if (rop == BLACKNESS || fromDisplay) {
                std::memset(out, 0, static_cast<size_t>(bytes));
            } else if (syy >= 0 && syy < src->height && sxx >= 0 && sxx < src->width) {
                std::memcpy(out, src->Row(syy) + static_cast<size_t>(sxx) * bytes, static_cast<size_t>(bytes));
            }
        }
    }
    return TRUE;
}

CBitmap::~CBitmap() { DeleteObject(); }

BOOL CBitmap::CreateBitmapIndirect(const BITMAP* bitmap) {
    if (m_hObject != nullptr) return FALSE;
    m_hObject = ::CreateBitmapIndirect(bitmap);
    return m_hObject != nullptr ? TRUE : FALSE;
}

BOOL CBitmap::Attach(HBITMAP bitmap) {
    if (m_hObject != nullptr || bitmap == nullptr) return FALSE;
    m_hObject = bitmap;
    return TRUE;
}

HBITMAP CBitmap::Detach() {
    HBITMAP h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CBitmap::DeleteObject() {
    if (m_hObject == nullptr) return FALSE;
    const BOOL ok = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return ok;
}

int CBitmap::GetBitmap(BITMAP* bitmap) const {
    return ::GetObject(m_hObject, static_cast<int>(sizeof(BITMAP)), bitmap);
}

DWORD CBitmap::GetBitmapBits(DWORD count, void* bits) const {
    const LONG n = static_cast<LONG>(std::min<DWORD>(count, static_cast<DWORD>(LONG_MAX)));
    return static_cast<DWORD>(::GetBitmapBits(m_hObject, n, bits));
}

DWORD CBitmap::SetBitmapBits(DWORD count, const void* bits) {
    return static_cast<DWORD>(::SetBitmapBits(m_hObject, count, bits));
}

// ============================================================================
// GDI+ images
// ============================================================================

namespace Gdiplus {

namespace {

INT StrideOf(INT width, PixelFormat format) {
    return static_cast<INT>(((static_cast<int64_t>(width) * GetPixelFormatSize(format) + 31) / 32) * 4);
}

// A raw pixel: a palette index, or the bytes of the pixel as a little-endian
// number (24-bit: B | G << 8 | R << 16).
uint32_t GetRaw(const uint8_t* row, INT x, PixelFormat format) {
    switch (format) {
        case PixelFormat1bppIndexed: return (row[x / 8] >> (7 - x % 8)) & 1u;
        case PixelFormat4bppIndexed: return (x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2]) & 0x0Fu;
        case PixelFormat8bppIndexed: return row[x];
        case PixelFormat24bppRGB: {
            const uint8_t* p = row + static_cast<size_t>(x) * 3;
            return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
        }
        default: {
            uint32_t v;
            std::memcpy(&v, row + static_cast<size_t>(x) * 4, 4);
            return v;
        }
    }
}

void SetRaw(uint8_t* row, INT x, PixelFormat format, uint32_t v) {
    switch (format) {
        case PixelFormat1bppIndexed: {
            const uint8_t bit = static_cast<uint8_t>(0x80u >> (x % 8));
            row[x / 8] = static_cast<uint8_t>((v & 1) ? (row[x / 8] | bit) : (row[x / 8] & ~bit));
            break;
        }
        case PixelFormat4bppIndexed: {
            uint8_t& b = row[x / 2];
            b = static_cast<uint8_t>(x % 2 == 0 ? ((b & 0x0F) | ((v & 0x0F) << 4)) : ((b & 0xF0) | (v & 0x0F)));
            break;
        }
        case PixelFormat8bppIndexed: row[x] = static_cast<uint8_t>(v); break;
        case PixelFormat24bppRGB: {
            uint8_t* p = row + static_cast<size_t>(x) * 3;
            p[0] = static_cast<uint8_t>(v);
            p[1] = static_cast<uint8_t>(v >> 8);
            p[2] = static_cast<uint8_t>(v >> 16);
            break;
        }
        default: std::memcpy(row + static_cast<size_t>(x) * 4, &v, 4); break;
    }
}

ARGB RawToArgb(uint32_t raw, PixelFormat format, const std::vector<ARGB>& palette) {
    if (IsIndexedPixelFormat(format)) return raw < palette.size() ? palette[raw] : Color::Black;
    if (format == PixelFormat32bppARGB) return raw;
    return 0xFF000000u | (raw & 0x00FFFFFFu);
}

BYTE NearestIndex(const std::vector<ARGB>& palette, ARGB c) {
    size_t best = 0;
    long long bestDist = LLONG_MAX;
    for (size_t i = 0; i < palette.size(); ++i) {
        long long d = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const long long a = static_cast<long long>((c >> shift) & 0xFF);
            const long long b = static_cast<long long>((palette[i] >> shift) & 0xFF);
            d += (a - b) * (a - b);
        }
        if (d < bestDist) {
            bestDist = d;
            best = i;
            if (d == 0) break;
        }
    }
    return static_cast<BYTE>(best);
}

// ARGB into a raw pixel of the format; indexed formats take the nearest
// palette colour (remembered in the cache, which may be null).
uint32_t ArgbToRaw(ARGB c, PixelFormat format, const std::vector<ARGB>& palette,
                   std::unordered_map<ARGB, BYTE>* cache) {
    if (IsIndexedPixelFormat(format)) {
        if (cache != nullptr) {
            auto it = cache->find(c);
            if (it != cache->end()) return it->second;
        }
        const BYTE index = NearestIndex(palette, c);
        if (cache != nullptr) cache->emplace(c, index);
        return index;
    }
    if (format == PixelFormat32bppARGB) return c;
    if (format == PixelFormat32bppRGB) return 0xFF000000u | (c & 0x00FFFFFFu);
    return c & 0x00FFFFFFu;
}

std::vector<ARGB> GreyRamp(size_t count) {
    std::vector<ARGB> ramp(count);
    for (size_t i = 0; i < count; ++i) {
        const BYTE v = static_cast<BYTE>(count > 1 ? (i * 255) / (count - 1) : 0);
        ramp[i] = Color::MakeARGB(255, v, v, v);
    }
    return ramp;
}

bool Finite(REAL v) { return std::isfinite(v); }

}  // namespace

bool IsStoredPixelFormat(PixelFormat format) {
    return format == PixelFormat1bppIndexed || format == PixelFormat4bppIndexed || format == PixelFormat8bppIndexed ||
           format == PixelFormat24bppRGB || format == PixelFormat32bppRGB || format == PixelFormat32bppARGB;
}

// Pixel access shared by the images, the canvas over an image and Graphics.
struct ImageAccess {
    using Pixels = Image::Pixels;

    static Pixels& Of(Image& image) { return image.m_px; }
    static const Pixels& Of(const Image& image) { return image.m_px; }

    static Status Allocate(Pixels& px, INT width, INT height, PixelFormat format) {
        px = Pixels();
        if (width < 1 || height < 1 || !IsStoredPixelFormat(format)) return InvalidParameter;
        if (width > kMaxImageSide || height > kMaxImageSide) return OutOfMemory;
        const INT stride = StrideOf(width, format);
        const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
        if (bytes > kMaxImageBytes) return OutOfMemory;
        try {
            px.data.assign(static_cast<size_t>(bytes), 0);
            if (IsIndexedPixelFormat(format)) {
                px.palette = GreyRamp(size_t{1} << GetPixelFormatSize(format));
                px.paletteFlags = PaletteFlagsGrayScale;
            }
        } catch (const std::bad_alloc&) {
            px = Pixels();
            return OutOfMemory;
        }
        px.width = width;
        px.height = height;
        px.format = format;
        px.stride = stride;
        return Ok;
    }

    static const uint8_t* Row(const Pixels& px, INT y) {
        return px.data.data() + static_cast<size_t>(y) * static_cast<size_t>(px.stride);
    }
    static uint8_t* Row(Pixels& px, INT y) {
        return px.data.data() + static_cast<size_t>(y) * static_cast<size_t>(px.stride);
    }

    static ARGB Get(const Pixels& px, INT x, INT y) {
        return RawToArgb(GetRaw(Row(px, y), x, px.format), px.format, px.palette);
    }

    // The rectangle as straight ARGB, rows top to bottom.
    static std::vector<uint32_t> ReadArgb(const Pixels& px, INT x0, INT y0, INT w, INT h) {
        std::vector<uint32_t> out(static_cast<size_t>(w) * static_cast<size_t>(h));
        for (INT y = 0; y < h; ++y) {
            const uint8_t* row = Row(px, y0 + y);
            uint32_t* o = out.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
            for (INT x = 0; x < w; ++x) o[x] = RawToArgb(GetRaw(row, x0 + x, px.format), px.format, px.palette);
        }
        return out;
    }

    // A copy of a rectangle in a format (see Bitmap::Clone).
    static Status CopyRect(const Pixels& src, INT x0, INT y0, INT w, INT h, PixelFormat format, Pixels& out) {
        if (IsIndexedPixelFormat(format) && format != src.format) return InvalidParameter;
        if (Status s = Allocate(out, w, h, format); s != Ok) return s;
        out.dpiX = src.dpiX;
        out.dpiY = src.dpiY;
        if (format == src.format) {
            out.palette = src.palette;
            out.paletteFlags = src.paletteFlags;
            for (INT y = 0; y < h; ++y) {
                const uint8_t* in = Row(src, y0 + y);
                uint8_t* o = Row(out, y);
                for (INT x = 0; x < w; ++x) SetRaw(o, x, format, GetRaw(in, x0 + x, format));
            }
            return Ok;
        }
        for (INT y = 0; y < h; ++y) {
            const uint8_t* in = Row(src, y0 + y);
            uint8_t* o = Row(out, y);
            for (INT x = 0; x < w; ++x) {
                const ARGB c = RawToArgb(GetRaw(in, x0 + x, src.format), src.format, src.palette);
                SetRaw(o, x, format, ArgbToRaw(c, format, out.palette, nullptr));
            }
        }
        return Ok;
    }

    static Status Decode(Pixels& px, const uint8_t* data, size_t size) {
        px = Pixels();
        decode::Picture picture;
        if (Status s = decode::DecodePicture(data, size, picture); s != Ok) return s;
        if (picture.format == PixelFormat8bppIndexed) {
            try {
                px.palette = GreyRamp(256);
            } catch (const std::bad_alloc&) {
                return OutOfMemory;
            }
            px.paletteFlags = PaletteFlagsGrayScale;
        }
        px.width = picture.width;
        px.height = picture.height;
        px.format = picture.format;
        px.stride = picture.stride;
        px.data = std::move(picture.data);
        px.dpiX = picture.dpiX;
        px.dpiY = picture.dpiY;
        return Ok;
    }
};

// ---- Image -----------------------------------------------------------------

Image::Image() = default;
Image::~Image() = default;

Status Image::SetStatus(Status s) const {
    if (s != Ok) m_lastStatus = s;
    return s;
}

UINT Image::GetWidth() const { return static_cast<UINT>(m_px.width); }
UINT Image::GetHeight() const { return static_cast<UINT>(m_px.height); }
PixelFormat Image::GetPixelFormat() const { return m_px.format; }
REAL Image::GetHorizontalResolution() const { return m_px.dpiX; }
REAL Image::GetVerticalResolution() const { return m_px.dpiY; }

Status Image::GetLastStatus() const {
    const Status s = m_lastStatus;
    m_lastStatus = Ok;
    return s;
}

INT Image::GetPaletteSize() const {
    const size_t entries = std::max<size_t>(1, m_px.palette.size());
    return static_cast<INT>(sizeof(ColorPalette) + (entries - 1) * sizeof(ARGB));
}

Status Image::GetPalette(ColorPalette* palette, INT size) const {
    if (palette == nullptr) return SetStatus(InvalidParameter);
    if (size < GetPaletteSize()) return SetStatus(InsufficientBuffer);
    // Written through the byte layout: the entries run past the declared one.
    uint8_t* out = reinterpret_cast<uint8_t*>(palette);
    const UINT flags = m_px.paletteFlags;
    const UINT count = static_cast<UINT>(m_px.palette.size());
    std::memcpy(out + offsetof(ColorPalette, Flags), &flags, sizeof flags);
    std::memcpy(out + offsetof(ColorPalette, Count), &count, sizeof count);
    if (count > 0) std::memcpy(out + offsetof(ColorPalette, Entries), m_px.palette.data(), count * sizeof(ARGB));
    return Ok;
}

Status Image::SetPalette(const ColorPalette* palette) {
    if (palette == nullptr || !Valid() || !IsIndexedPixelFormat(m_px.format)) return SetStatus(InvalidParameter);
    if (m_locked) return SetStatus(WrongState);
    const uint8_t* in = reinterpret_cast<const uint8_t*>(palette);
    UINT flags, count;
    std::memcpy(&flags, in + offsetof(ColorPalette, Flags), sizeof flags);
    std::memcpy(&count, in + offsetof(ColorPalette, Count), sizeof count);
    const size_t room = size_t{1} << GetPixelFormatSize(m_px.format);
    std::vector<ARGB> entries(room, Color::Black);
    const size_t take = std::min<size_t>(count, room);
    if (take > 0) std::memcpy(entries.data(), in + offsetof(ColorPalette, Entries), take * sizeof(ARGB));
    m_px.palette = std::move(entries);
    m_px.paletteFlags = flags;
    return Ok;
}

Status Image::RotateFlip(RotateFlipType type) {
    if (!Valid()) return SetStatus(InvalidParameter);
    if (type < RotateNoneFlipNone || type > Rotate270FlipX) return SetStatus(InvalidParameter);
    if (m_locked) return SetStatus(WrongState);
    const int turns = type & 3;  // quarter turns clockwise
    const bool flipX = type >= RotateNoneFlipX;
    const INT w = m_px.width, h = m_px.height;
    const INT nw = (turns % 2 == 0) ? w : h;
    const INT nh = (turns % 2 == 0) ? h : w;
    Pixels out;
    if (Status s = ImageAccess::Allocate(out, nw, nh, m_px.format); s != Ok) return SetStatus(s);
    out.palette = m_px.palette;
    out.paletteFlags = m_px.paletteFlags;
    out.dpiX = turns % 2 == 0 ? m_px.dpiX : m_px.dpiY;
    out.dpiY = turns % 2 == 0 ? m_px.dpiY : m_px.dpiX;
    for (INT y = 0; y < nh; ++y) {
        uint8_t* row = ImageAccess::Row(out, y);
        for (INT x = 0; x < nw; ++x) {
            // The flip comes after the turn: undo it first.
            const INT fx = flipX ? nw - 1 - x : x;
            INT sx = fx, sy = y;
            switch (turns) {
                case 1: sx = y, sy = h - 1 - fx; break;
                case 2: sx = w - 1 - fx, sy = h - 1 - y; break;
                case 3: sx = w - 1 - y, sy = fx; break;
                default: break;
            }
            SetRaw(row, x, m_px.format, GetRaw(ImageAccess::Row(m_px, sy), sx, m_px.format));
        }
    }
    m_px = std::move(out);
    return Ok;
}

Image* Image::Clone() const {
    Bitmap* copy = new (std::nothrow) Bitmap(1, 1, PixelFormat32bppARGB);
    if (copy == nullptr) return nullptr;
    if (!Valid() ||
        ImageAccess::CopyRect(m_px, 0, 0, m_px.width, m_px.height, m_px.format, ImageAccess::Of(*copy)) != Ok) {
        delete copy;
        return nullptr;
    }
    return copy;
}

// ---- Bitmap ----------------------------------------------------------------

struct Bitmap::Lock {
    Rect rect;
    UINT flags = 0;
    PixelFormat format = PixelFormatUndefined;
    bool direct = false;
    std::vector<uint8_t> buffer;
    INT stride = 0;
};

Bitmap::Bitmap() = default;
Bitmap::~Bitmap() = default;

Bitmap::Bitmap(INT width, INT height, PixelFormat format) {
    SetStatus(ImageAccess::Allocate(m_px, width, height, format));
}

void Bitmap::Decode(const uint8_t* data, size_t size) { SetStatus(ImageAccess::Decode(m_px, data, size)); }

Bitmap::Bitmap(IStream* stream, BOOL) {
    if (stream == nullptr) {
        SetStatus(InvalidParameter);
        return;
    }
    std::vector<uint8_t> bytes;
    try {
        uint8_t chunk[65536];
        for (;;) {
            ULONG got = 0;
            const HRESULT hr = stream->Read(chunk, sizeof chunk, &got);
            if (hr < 0) break;
            bytes.insert(bytes.end(), chunk, chunk + got);
            if (bytes.size() > static_cast<size_t>(INT_MAX)) {
                SetStatus(OutOfMemory);
                return;
            }
            if (got < sizeof chunk) break;
        }
    } catch (const std::bad_alloc&) {
        SetStatus(OutOfMemory);
        return;
    }
    Decode(bytes.data(), bytes.size());
}

Bitmap::Bitmap(const WCHAR* filename, BOOL) {
    HANDLE file = filename != nullptr
                      ? CreateFileW(filename, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                      : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        SetStatus(GenericError);
        return;
    }
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size > static_cast<DWORD>(INT_MAX)) {
        CloseHandle(file);
        SetStatus(size == INVALID_FILE_SIZE ? GenericError : OutOfMemory);
        return;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        CloseHandle(file);
        SetStatus(OutOfMemory);
        return;
    }
    DWORD read = 0;
    const BOOL ok = size == 0 || ReadFile(file, bytes.data(), size, &read, nullptr);
    CloseHandle(file);
    if (!ok || read != size) {
        SetStatus(GenericError);
        return;
    }
    Decode(bytes.data(), bytes.size());
}

Bitmap::Bitmap(HBITMAP bitmap, HPALETTE) {
    auto src = FindBitmap(bitmap);
    if (!src) {
        SetStatus(InvalidParameter);
        return;
    }
    const int bpp = src->bitsPixel;
    const PixelFormat format = bpp == 1    ? PixelFormat1bppIndexed
                               : bpp == 4  ? PixelFormat4bppIndexed
                               : bpp == 8  ? PixelFormat8bppIndexed
                               : bpp == 24 ? PixelFormat24bppRGB
                                           : PixelFormat32bppRGB;
    if (Status s = ImageAccess::Allocate(m_px, src->width, src->height, format); s != Ok) {
        SetStatus(s);
        return;
    }
    for (INT y = 0; y < m_px.height; ++y) {
        const uint8_t* in = src->Row(y);
        uint8_t* out = ImageAccess::Row(m_px, y);
        if (bpp == 16) {
            auto five = [](unsigned c) { return static_cast<BYTE>((c << 3) | (c >> 2)); };
            for (INT x = 0; x < m_px.width; ++x) {
                const unsigned v = in[x * 2] | (in[x * 2 + 1] << 8);
                SetRaw(out, x, format, Color::MakeARGB(255, five((v >> 10) & 31), five((v >> 5) & 31), five(v & 31)));
            }
        } else {
            // Same layout row by row; the stored row may be shorter than ours.
            std::memcpy(out, in, static_cast<size_t>(std::min<LONG>(src->widthBytes, m_px.stride)));
            if (format == PixelFormat32bppRGB) {
                for (INT x = 0; x < m_px.width; ++x) out[static_cast<size_t>(x) * 4 + 3] = 0xFF;
            }
        }
    }
}

Bitmap* Bitmap::FromFile(const WCHAR* filename, BOOL useIcm) { return new (std::nothrow) Bitmap(filename, useIcm); }
Bitmap* Bitmap::FromStream(IStream* stream, BOOL useIcm) { return new (std::nothrow) Bitmap(stream, useIcm); }
Bitmap* Bitmap::FromHBITMAP(HBITMAP bitmap, HPALETTE palette) { return new (std::nothrow) Bitmap(bitmap, palette); }

Bitmap* Bitmap::Clone(const Rect& rect, PixelFormat format) const {
    return Clone(rect.X, rect.Y, rect.Width, rect.Height, format);
}

Bitmap* Bitmap::Clone(INT x, INT y, INT width, INT height, PixelFormat format) const {
    if (!Valid() || x < 0 || y < 0 || width < 1 || height < 1 || width > m_px.width - x || height > m_px.height - y) {
        SetStatus(InvalidParameter);
        return nullptr;
    }
    Bitmap* copy = new (std::nothrow) Bitmap();
    if (copy == nullptr) {
        SetStatus(OutOfMemory);
        return nullptr;
    }
    if (Status s = ImageAccess::CopyRect(m_px, x, y, width, height, format, copy->m_px); s != Ok) {
        delete copy;
        SetStatus(s);
        return nullptr;
    }
    return copy;
}

Bitmap* Bitmap::Clone() const { return Valid() ? Clone(0, 0, m_px.width, m_px.height, m_px.format) : nullptr; }

Status Bitmap::LockBits(const Rect* rect, UINT flags, PixelFormat format, BitmapData* data) {
    if (data == nullptr || !Valid()) return SetStatus(InvalidParameter);
    if (m_lock) return SetStatus(WrongState);
    if ((flags & ImageLockModeUserInputBuf) != 0) return SetStatus(NotImplemented);
    if ((flags & (ImageLockModeRead | ImageLockModeWrite)) == 0) return SetStatus(InvalidParameter);
    const Rect r = rect != nullptr ? *rect : Rect(0, 0, m_px.width, m_px.height);
    if (r.X < 0 || r.Y < 0 || r.Width < 1 || r.Height < 1 || r.Width > m_px.width - r.X ||
        r.Height > m_px.height - r.Y) {
        return SetStatus(InvalidParameter);
    }
    if (!IsStoredPixelFormat(format) || (IsIndexedPixelFormat(format) && format != m_px.format)) {
        return SetStatus(InvalidParameter);
    }
    auto lock = std::unique_ptr<Lock>(new (std::nothrow) Lock());
    if (!lock) return SetStatus(OutOfMemory);
    lock->rect = r;
    lock->flags = flags;
    lock->format = format;
    // Sub-byte formats share bytes between pixels: a rectangle that starts
    // inside a byte goes through a copy.
    const size_t bitOffset = static_cast<size_t>(r.X) * GetPixelFormatSize(format);
    lock->direct = format == m_px.format && bitOffset % 8 == 0;
    if (lock->direct) {
        lock->stride = m_px.stride;
        data->Scan0 = ImageAccess::Row(m_px, r.Y) + bitOffset / 8;
    } else {
        lock->stride = StrideOf(r.Width, format);
        try {
            lock->buffer.assign(static_cast<size_t>(lock->stride) * static_cast<size_t>(r.Height), 0);
        } catch (const std::bad_alloc&) {
            return SetStatus(OutOfMemory);
        }
        if ((flags & ImageLockModeRead) != 0) {
            for (INT y = 0; y < r.Height; ++y) {
                const uint8_t* in = ImageAccess::Row(m_px, r.Y + y);
                uint8_t* out = lock->buffer.data() + static_cast<size_t>(y) * lock->stride;
                for (INT x = 0; x < r.Width; ++x) {
                    const uint32_t raw = GetRaw(in, r.X + x, m_px.format);
                    SetRaw(out, x, format,
                           format == m_px.format
                               ? raw
                               : ArgbToRaw(RawToArgb(raw, m_px.format, m_px.palette), format, m_px.palette, nullptr));
                }
            }
        }
        data->Scan0 = lock->buffer.data();
    }
    data->Width = static_cast<UINT>(r.Width);
    data->Height = static_cast<UINT>(r.Height);
    data->Stride = lock->stride;
    data->PixelFormat = format;
    data->Reserved = 0;
    m_lock = std::move(lock);
    m_locked = true;
    return Ok;
}

Status Bitmap::UnlockBits(BitmapData* data) {
    if (data == nullptr) return SetStatus(InvalidParameter);
    if (!m_lock) return SetStatus(WrongState);
    const Lock& l = *m_lock;
    if (!l.direct && (l.flags & ImageLockModeWrite) != 0) {
        std::unordered_map<ARGB, BYTE> cache;
        for (INT y = 0; y < l.rect.Height; ++y) {
            const uint8_t* in = l.buffer.data() + static_cast<size_t>(y) * l.stride;
            uint8_t* out = ImageAccess::Row(m_px, l.rect.Y + y);
            for (INT x = 0; x < l.rect.Width; ++x) {
                const uint32_t raw = GetRaw(in, x, l.format);
                SetRaw(out, l.rect.X + x, m_px.format,
                       l.format == m_px.format
                           ? raw
                           : ArgbToRaw(RawToArgb(raw, l.format, m_px.palette), m_px.format, m_px.palette, &cache));
            }
        }
    }
    m_lock.reset();
    m_locked = false;
    data->Scan0 = nullptr;
    return Ok;
}

Status Bitmap::GetPixel(INT x, INT y, Color* color) const {
    if (color == nullptr || !Valid() || x < 0 || y < 0 || x >= m_px.width || y >= m_px.height) {
        return SetStatus(InvalidParameter);
    }
    *color = Color(ImageAccess::Get(m_px, x, y));
    return Ok;
}

Status Bitmap::SetPixel(INT x, INT y, const Color& color) {
    if (!Valid() || IsIndexedPixelFormat(m_px.format) || x < 0 || y < 0 || x >= m_px.width || y >= m_px.height) {
        return SetStatus(InvalidParameter);
    }
    SetRaw(ImageAccess::Row(m_px, y), x, m_px.format, ArgbToRaw(color.GetValue(), m_px.format, m_px.palette, nullptr));
    return Ok;
}

Status Bitmap::SetResolution(REAL dpiX, REAL dpiY) {
    if (!(dpiX > 0) || !(dpiY > 0) || !Finite(dpiX) || !Finite(dpiY)) return SetStatus(InvalidParameter);
    m_px.dpiX = dpiX;
    m_px.dpiY = dpiY;
    return Ok;
}

Status Bitmap::GetHBITMAP(const Color& background, HBITMAP* out) const {
    if (out == nullptr || !Valid()) return SetStatus(InvalidParameter);
    *out = nullptr;
    auto bmp = NewGdiBitmap(m_px.width, m_px.height, 32, DibRowBytes(m_px.width, 32), true);
    if (!bmp) return SetStatus(OutOfMemory);
    const ARGB bg = background.GetValue();
    for (INT y = 0; y < m_px.height; ++y) {
        uint8_t* row = bmp->Row(y);
        for (INT x = 0; x < m_px.width; ++x) {
            const ARGB c = ImageAccess::Get(m_px, x, y);
            const unsigned a = c >> 24;
            auto mix = [a](unsigned fg, unsigned b) { return static_cast<BYTE>((fg * a + b * (255 - a) + 127) / 255); };
            uint8_t* p = row + static_cast<size_t>(x) * 4;
            p[0] = mix(c & 0xFF, bg & 0xFF);
            p[1] = mix((c >> 8) & 0xFF, (bg >> 8) & 0xFF);
            p[2] = mix((c >> 16) & 0xFF, (bg >> 16) & 0xFF);
            p[3] = 0xFF;
        }
    }
    *out = Register(std::move(bmp));
    return Ok;
}

// ---- drawing into an image ---------------------------------------------------

namespace {

double Clamp255(double v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Premultiplied colour sums in double.
struct Accum {
    double a = 0, r = 0, g = 0, b = 0;
    void Add(ARGB c, double weight) {
        const double alpha = (c >> 24) * weight;
        a += alpha;
        r += ((c >> 16) & 0xFF) * alpha;
        g += ((c >> 8) & 0xFF) * alpha;
        b += (c & 0xFF) * alpha;
    }
    // Back to straight ARGB, the sums divided by the total weight.
    ARGB Result(double total) const {
        if (total <= 0 || a <= 0) return 0;
        const double alpha = Clamp255(a / total);
        auto ch = [this](double v) { return static_cast<BYTE>(Clamp255(v / a) + 0.5); };
        return Color::MakeARGB(static_cast<BYTE>(alpha + 0.5), ch(r), ch(g), ch(b));
    }
};

ARGB SourceOver(ARGB src, ARGB dst) {
    const unsigned sa = src >> 24;
    if (sa == 255) return src;
    if (sa == 0) return dst;
    const double s = sa / 255.0, d = (dst >> 24) / 255.0 * (1 - s);
    const double out = s + d;
    if (out <= 0) return 0;
    auto ch = [&](int shift) {
        const double v = (((src >> shift) & 0xFF) * s + ((dst >> shift) & 0xFF) * d) / out;
        return static_cast<BYTE>(Clamp255(v) + 0.5);
    };
    return Color::MakeARGB(static_cast<BYTE>(Clamp255(out * 255) + 0.5), ch(16), ch(8), ch(0));
}

// The canvas of a Graphics that draws into an image.
class ImageCanvas : public ICanvas {
public:
    using Pixels = ImageAccess::Pixels;
    explicit ImageCanvas(Image* image) : m_px(ImageAccess::Of(*image)) {}

    int Width() const override { return m_px.width; }
    int Height() const override { return m_px.height; }

    void DrawLine(const CanvasPen& pen, const PointF& a, const PointF& b) override {
        ViaCairo([&](ICanvas& c) { c.DrawLine(pen, a, b); });
    }
    void DrawPolyline(const CanvasPen& pen, const PointF* points, size_t count, bool closed) override {
        ViaCairo([&](ICanvas& c) { c.DrawPolyline(pen, points, count, closed); });
    }
    void DrawBeziers(const CanvasPen& pen, const PointF* points, size_t count) override {
        ViaCairo([&](ICanvas& c) { c.DrawBeziers(pen, points, count); });
    }
    void DrawPath(const CanvasPen& pen, const PointF* points, const BYTE* types, size_t count) override {
        ViaCairo([&](ICanvas& c) { c.DrawPath(pen, points, types, count); });
    }
    void DrawRectangle(const CanvasPen& pen, const RectF& rect) override {
        ViaCairo([&](ICanvas& c) { c.DrawRectangle(pen, rect); });
    }
    void DrawEllipse(const CanvasPen& pen, const RectF& rect) override {
        ViaCairo([&](ICanvas& c) { c.DrawEllipse(pen, rect); });
    }
    void FillPath(const CanvasBrush& brush, const PointF* points, const BYTE* types, size_t count,
                  FillMode mode) override {
        ViaCairo([&](ICanvas& c) { c.FillPath(brush, points, types, count, mode); });
    }
    void FillRectangle(const CanvasBrush& brush, const RectF& rect) override {
        ViaCairo([&](ICanvas& c) { c.FillRectangle(brush, rect); });
    }
    void FillEllipse(const CanvasBrush& brush, const RectF& rect) override {
        ViaCairo([&](ICanvas& c) { c.FillEllipse(brush, rect); });
    }

    void SetPixel(int x, int y, uint32_t argb) override {
        if (x < 0 || y < 0 || x >= m_px.width || y >= m_px.height) return;
        Put(x, y, argb);
    }

    void Clear(uint32_t argb) override {
        for (INT y = 0; y < m_px.height; ++y) {
            for (INT x = 0; x < m_px.width; ++x) Put(x, y, argb);
        }
    }

    void DrawImage(const CanvasImage& image, const PointF* dst, bool smooth) override {
        if (dst == nullptr || image.argb == nullptr || image.width <= 0 || image.height <= 0) return;
        const double w = image.width, h = image.height;
        const double ox = dst[0].X, oy = dst[0].Y;
        // Image pixels to device: p = o + u * ex + v * ey.
        const double exx = (dst[1].X - ox) / w, exy = (dst[1].Y - oy) / w;
        const double eyx = (dst[2].X - ox) / h, eyy = (dst[2].Y - oy) / h;
        const double det = exx * eyy - exy * eyx;
        if (!std::isfinite(det) || std::fabs(det) < 1e-12 || !std::isfinite(ox) || !std::isfinite(oy)) return;
        // Device to image.
        const double dudx = eyy / det, dudy = -eyx / det, dvdx = -exy / det, dvdy = exx / det;
        // Image pixels per device pixel along each image axis.
        const double footU = std::max(1.0, std::fabs(dudx) + std::fabs(dudy));
        const double footV = std::max(1.0, std::fabs(dvdx) + std::fabs(dvdy));

        double minX = ox, maxX = ox, minY = oy, maxY = oy;
        const double cx[3] = {ox + exx * w, ox + eyx * h, ox + exx * w + eyx * h};
        const double cy[3] = {oy + exy * w, oy + eyy * h, oy + exy * w + eyy * h};
        for (int i = 0; i < 3; ++i) {
            minX = std::min(minX, cx[i]);
            maxX = std::max(maxX, cx[i]);
            minY = std::min(minY, cy[i]);
            maxY = std::max(maxY, cy[i]);
        }
        const INT x0 = static_cast<INT>(std::clamp(std::floor(minX), 0.0, static_cast<double>(m_px.width)));
        const INT x1 = static_cast<INT>(std::clamp(std::ceil(maxX), 0.0, static_cast<double>(m_px.width)));
        const INT y0 = static_cast<INT>(std::clamp(std::floor(minY), 0.0, static_cast<double>(m_px.height)));
        const INT y1 = static_cast<INT>(std::clamp(std::ceil(maxY), 0.0, static_cast<double>(m_px.height)));

        auto at = [&](INT u, INT v) {
            u = std::clamp(u, 0, image.width - 1);
            v = std::clamp(v, 0, image.height - 1);
            return image.argb[static_cast<size_t>(v) * static_cast<size_t>(image.width) + static_cast<size_t>(u)];
        };
        for (INT y = y0; y < y1; ++y) {
            for (INT x = x0; x < x1; ++x) {
                const double qx = x + 0.5 - ox, qy = y + 0.5 - oy;
                const double u = qx * dudx + qy * dudy;
                const double v = qx * dvdx + qy * dvdy;
                if (!(u >= 0 && u < w && v >= 0 && v < h)) continue;
                ARGB c;
                if (!smooth) {
                    c = at(static_cast<INT>(u), static_cast<INT>(v));
                } else if (footU > 1.0 || footV > 1.0) {
                    // Shrinking: the average of the image area under the
                    // device pixel, each image pixel weighted by its overlap.
                    const double u0 = std::max(0.0, u - footU / 2), u1 = std::min(w, u + footU / 2);
                    const double v0 = std::max(0.0, v - footV / 2), v1 = std::min(h, v + footV / 2);
                    Accum acc;
                    double total = 0;
                    for (INT j = static_cast<INT>(v0); j < v1; ++j) {
                        const double wy = std::min<double>(j + 1, v1) - std::max<double>(j, v0);
                        if (wy <= 0) continue;
                        for (INT i = static_cast<INT>(u0); i < u1; ++i) {
                            const double wx = std::min<double>(i + 1, u1) - std::max<double>(i, u0);
                            if (wx <= 0) continue;
                            acc.Add(at(i, j), wx * wy);
                            total += wx * wy;
                        }
                    }
                    c = acc.Result(total);
                } else {
                    // Bilinear between the four nearest pixel centres.
                    const double fu = u - 0.5, fv = v - 0.5;
                    const INT iu = static_cast<INT>(std::floor(fu)), iv = static_cast<INT>(std::floor(fv));
                    const double tu = fu - iu, tv = fv - iv;
                    Accum acc;
                    acc.Add(at(iu, iv), (1 - tu) * (1 - tv));
                    acc.Add(at(iu + 1, iv), tu * (1 - tv));
                    acc.Add(at(iu, iv + 1), (1 - tu) * tv);
                    acc.Add(at(iu + 1, iv + 1), tu * tv);
                    c = acc.Result(1.0);
                }
                Put(x, y, SourceOver(c, ImageAccess::Get(m_px, x, y)));
            }
        }
    }

private:
    void Put(INT x, INT y, ARGB c) {
        SetRaw(ImageAccess::Row(m_px, y), x, m_px.format, ArgbToRaw(c, m_px.format, m_px.palette, &m_cache));
    }

    // Vector drawing goes through cairo: the image is copied onto a cairo
    // surface, drawn on, and copied back.
    template <class F>
    void ViaCairo(F draw) {
        CairoCanvas canvas(m_px.width, m_px.height);
        if (!canvas.IsValid()) return;
        canvas.Clear(0);
        std::vector<uint32_t> pixels = ImageAccess::ReadArgb(m_px, 0, 0, m_px.width, m_px.height);
        const PointF corners[3] = {PointF(0, 0), PointF(static_cast<REAL>(m_px.width), 0),
                                   PointF(0, static_cast<REAL>(m_px.height))};
        canvas.DrawImage(CanvasImage{m_px.width, m_px.height, pixels.data()}, corners, false);
        draw(canvas);
        for (INT y = 0; y < m_px.height; ++y) {
            for (INT x = 0; x < m_px.width; ++x) {
                const uint32_t c = canvas.GetPixel(x, y);
                if (c != pixels[static_cast<size_t>(y) * static_cast<size_t>(m_px.width) + static_cast<size_t>(x)]) {
                    Put(x, y, c);
                }
            }
        }
    }

    Pixels& m_px;
    std::unordered_map<ARGB, BYTE> m_cache;
};

}  // namespace

Graphics::Graphics(Image* image) {
    if (image != nullptr && image->Valid()) {
        m_ownCanvas = std::make_unique<ImageCanvas>(image);
        m_canvas = m_ownCanvas.get();
    } else {
        m_lastStatus = InvalidParameter;
    }
}

Graphics::~Graphics() = default;

Graphics* Graphics::FromImage(Image* image) { return new Graphics(image); }

Status Graphics::DrawImageCore(Image* image, const RectF& src, const PointF* dst) {
    if (image == nullptr || m_canvas == nullptr || !image->Valid() || dst == nullptr) {
        return SetStatus(InvalidParameter);
    }
    if (!Finite(src.X) || !Finite(src.Y) || !Finite(src.Width) || !Finite(src.Height) || !(src.Width > 0) ||
        !(src.Height > 0)) {
        return SetStatus(InvalidParameter);
    }
    for (int i = 0; i < 3; ++i) {
        if (!Finite(dst[i].X) || !Finite(dst[i].Y)) return SetStatus(InvalidParameter);
    }
    const Image::Pixels& px = image->m_px;
    // The whole pixels the source rectangle touches inside the image.
    const double sx0 = std::max<double>(src.X, 0.0), sy0 = std::max<double>(src.Y, 0.0);
    const double sx1 = std::min<double>(static_cast<double>(src.X) + src.Width, px.width);
    const double sy1 = std::min<double>(static_cast<double>(src.Y) + src.Height, px.height);
    if (!(sx1 > sx0 && sy1 > sy0)) return Ok;
    const INT ix0 = static_cast<INT>(std::floor(sx0)), iy0 = static_cast<INT>(std::floor(sy0));
    const INT ix1 = static_cast<INT>(std::ceil(sx1)), iy1 = static_cast<INT>(std::ceil(sy1));
    // Source pixels to world units, then to device units.
    auto place = [&](double u, double v) {
        const double fu = (u - src.X) / src.Width, fv = (v - src.Y) / src.Height;
        const PointF p(static_cast<REAL>(dst[0].X + fu * (dst[1].X - dst[0].X) + fv * (dst[2].X - dst[0].X)),
                       static_cast<REAL>(dst[0].Y + fu * (dst[1].Y - dst[0].Y) + fv * (dst[2].Y - dst[0].Y)));
        return Map(p);
    };
    const PointF device[3] = {place(ix0, iy0), place(ix1, iy0), place(ix0, iy1)};
    try {
        std::vector<uint32_t> pixels = ImageAccess::ReadArgb(px, ix0, iy0, ix1 - ix0, iy1 - iy0);
        m_canvas->DrawImage(CanvasImage{ix1 - ix0, iy1 - iy0, pixels.data()}, device,
                            m_interpolation != InterpolationModeNearestNeighbor);
    } catch (const std::bad_alloc&) {
        return SetStatus(OutOfMemory);
    }
    return Ok;
}

Status Graphics::DrawImage(Image* image, const RectF& rect) {
    if (image == nullptr) return SetStatus(InvalidParameter);
    const PointF dst[3] = {PointF(rect.X, rect.Y), PointF(rect.X + rect.Width, rect.Y),
                           PointF(rect.X, rect.Y + rect.Height)};
    return DrawImageCore(image,
                         RectF(0, 0, static_cast<REAL>(image->GetWidth()), static_cast<REAL>(image->GetHeight())), dst);
}

Status Graphics::DrawImage(Image* image, REAL x, REAL y, REAL width, REAL height) {
    return DrawImage(image, RectF(x, y, width, height));
}

Status Graphics::DrawImage(Image* image, const Rect& rect) {
    return DrawImage(image, RectF(static_cast<REAL>(rect.X), static_cast<REAL>(rect.Y), static_cast<REAL>(rect.Width),
                                  static_cast<REAL>(rect.Height)));
}

Status Graphics::DrawImage(Image* image, INT x, INT y, INT width, INT height) {
    return DrawImage(image, Rect(x, y, width, height));
}

Status Graphics::DrawImage(Image* image, const PointF* destPoints, INT count) {
    if (image == nullptr || destPoints == nullptr) return SetStatus(InvalidParameter);
    if (count != 3) return SetStatus(count == 4 ? NotImplemented : InvalidParameter);
    return DrawImageCore(
        image, RectF(0, 0, static_cast<REAL>(image->GetWidth()), static_cast<REAL>(image->GetHeight())), destPoints);
}

Status Graphics::DrawImage(Image* image, const RectF& destRect, REAL srcx, REAL srcy, REAL srcwidth, REAL srcheight,
                           Unit srcUnit) {
    if (srcUnit != UnitPixel) return SetStatus(NotImplemented);
    const PointF dst[3] = {PointF(destRect.X, destRect.Y), PointF(destRect.X + destRect.Width, destRect.Y),
                           PointF(destRect.X, destRect.Y + destRect.Height)};
    return DrawImageCore(image, RectF(srcx, srcy, srcwidth, srcheight), dst);
}

Status Graphics::DrawImage(Image* image, const Rect& destRect, INT srcx, INT srcy, INT srcwidth, INT srcheight,
                           Unit srcUnit) {
    return DrawImage(image,
                     RectF(static_cast<REAL>(destRect.X), static_cast<REAL>(destRect.Y),
                           static_cast<REAL>(destRect.Width), static_cast<REAL>(destRect.Height)),
                     static_cast<REAL>(srcx), static_cast<REAL>(srcy), static_cast<REAL>(srcwidth),
                     static_cast<REAL>(srcheight), srcUnit);
}

}  // namespace Gdiplus

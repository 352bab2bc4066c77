// Our own BMP reader: the core (12-byte), info (40), v2/v3 (52/56), v4 (108)
// and v5 (124) headers; 1, 4, 8, 16, 24 and 32 bits per pixel; rows
// bottom-up or top-down; RLE4, RLE8 and bit fields. Every read is checked
// against the file's end.
#include <algorithm>
#include <bit>

#include "morvik/gdiplus/image_decode.h"

namespace Gdiplus::decode {
namespace {

constexpr DWORD kAlphaBitfields = 6;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One colour channel of a bit-field pixel, widened to 8 bits by repeating
// its bits (5 bits c become c << 3 | c >> 2) or cut to its high 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (m != 0) {
            shift = std::countr_zero(m);
            bits = std::bit_width(m >> shift);
        }
    }
    // fallback is what an absent channel reads as.
    uint8_t Get(uint32_t pixel, uint8_t fallback) const {
        if (bits == 0) return fallback;
        const uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
        uint32_t wide = 0;
        int filled = 0;
        for (; filled < 8; filled += bits) wide = (wide << bits) | v;
        return static_cast<uint8_t>(wide >> (filled - 8));
    }
};

struct Header {
    int64_t width = 0;
    int64_t height = 0;  // positive: rows bottom-up
    int bpp = 0;
    DWORD compression = BI_RGB;
    uint32_t sizeImage = 0;
    uint32_t colorsUsed = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool haveMasks = false;
    size_t paletteAt = 0;
    size_t paletteEntryBytes = 4;
};

// Reads the headers; false for a form or a combination that is not a BMP.
bool ReadHeader(const uint8_t* d, size_t n, Header& h, Picture& out) {
    if (n < 14 + 12) return false;
    const uint32_t headerSize = Le32(d + 14);
    const uint8_t* ih = d + 14;
    if (headerSize == 12) {
        h.width = Le16(ih + 4);
        h.height = Le16(ih + 6);
        if (Le16(ih + 8) != 1) return false;
        h.bpp = Le16(ih + 10);
        h.paletteEntryBytes = 3;
        h.paletteAt = 14 + 12;
        return h.bpp == 1 || h.bpp == 4 || h.bpp == 8 || h.bpp == 24;
    }
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) {
        return false;
    }
    if (n < 14 + static_cast<size_t>(headerSize)) return false;
    h.width = static_cast<int32_t>(Le32(ih + 4));
    h.height = static_cast<int32_t>(Le32(ih + 8));
    if (Le16(ih + 12) != 1) return false;
    h.bpp = Le16(ih + 14);
    h.compression = Le32(ih + 16);
    h.sizeImage = Le32(ih + 20);
    const int32_t ppmX = static_cast<int32_t>(Le32(ih + 24)), ppmY = static_cast<int32_t>(Le32(ih + 28));
    if (ppmX > 0 && ppmY > 0) out.SetDpiFromPerMetre(ppmX, ppmY);
    h.colorsUsed = Le32(ih + 32);
    h.paletteAt = 14 + static_cast<size_t>(headerSize);

    switch (h.compression) {
        case BI_RGB:
            if (h.bpp != 1 && h.bpp != 4 && h.bpp != 8 && h.bpp != 16 && h.bpp != 24 && h.bpp != 32) return false;
            break;
        case BI_RLE8:
            if (h.bpp != 8) return false;
            break;
        case BI_RLE4:
            if (h.bpp != 4) return false;
            break;
        case BI_BITFIELDS:
        case kAlphaBitfields: {
            if (h.bpp != 16 && h.bpp != 32) return false;
            const size_t count = h.compression == kAlphaBitfields ? 4 : 3;
            // The info header keeps its masks after itself; the later
            // headers hold them (and the alpha mask from 56 bytes on).
            const uint8_t* m = ih + 40;
            if (headerSize == 40) {
                if (n < h.paletteAt + count * 4) return false;
                h.paletteAt += count * 4;
            }
            const size_t have = headerSize == 40 ? count : (headerSize >= 56 ? 4 : 3);
            for (size_t i = 0; i < have; ++i) h.masks[i] = Le32(m + 4 * i);
            h.haveMasks = true;
            break;
        }
        default: return false;
    }
    // Compressed rows only run bottom-up.
    if (h.height < 0 && (h.compression == BI_RLE8 || h.compression == BI_RLE4)) return false;
    return true;
}

// The colour table: as many entries as the header asks for (or the full
// table of the depth), as far as the file holds them before its pixels.
std::vector<uint32_t> ReadPalette(const uint8_t* d, size_t pixelsAt, const Header& h) {
    std::vector<uint32_t> palette;
    if (h.bpp > 8) return palette;
    size_t count = size_t{1} << h.bpp;
    if (h.colorsUsed != 0 && h.colorsUsed < count) count = h.colorsUsed;
    if (pixelsAt > h.paletteAt) count = std::min(count, (pixelsAt - h.paletteAt) / h.paletteEntryBytes);
    else count = 0;
    palette.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = d + h.paletteAt + i * h.paletteEntryBytes;
        palette[i] = e[0] | (e[1] << 8) | (static_cast<uint32_t>(e[2]) << 16);
    }
    return palette;
}

// Writes a pixel given as B | G << 8 | R << 16 | A << 24.
void Put(Picture& out, INT x, INT y, uint32_t bgra) {
    uint8_t* p = out.Row(y) + static_cast<size_t>(x) * (out.format == PixelFormat32bppARGB ? 4 : 3);
    p[0] = static_cast<uint8_t>(bgra);
    p[1] = static_cast<uint8_t>(bgra >> 8);
    p[2] = static_cast<uint8_t>(bgra >> 16);
    if (out.format == PixelFormat32bppARGB) p[3] = static_cast<uint8_t>(bgra >> 24);
}

uint32_t FromPalette(const std::vector<uint32_t>& palette, uint32_t index) {
    return index < palette.size() ? palette[index] : 0;
}

Status DecodeRows(const uint8_t* d, size_t n, size_t at, const Header& h, const std::vector<uint32_t>& palette,
                  Picture& out) {
    const INT w = out.width, rows = out.height;
    const size_t rowBytes = static_cast<size_t>(((h.width * h.bpp + 31) / 32) * 4);
    // Every row the header announces must be there.
    if (at > n || rowBytes * static_cast<size_t>(rows) > n - at) return InvalidParameter;

    uint32_t masks[4] = {0x7C00, 0x03E0, 0x001F, 0};
    if (h.bpp == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0xFF00;
        masks[2] = 0xFF;
    }
    if (h.haveMasks) std::copy(h.masks, h.masks + 4, masks);
    const Channel r(masks[0]), g(masks[1]), b(masks[2]), a(masks[3]);

    for (INT row = 0; row < rows; ++row) {
        const uint8_t* in = d + at + static_cast<size_t>(row) * rowBytes;
        const INT y = h.height > 0 ? rows - 1 - row : row;
        for (INT x = 0; x < w; ++x) {
            uint32_t c;
            switch (h.bpp) {
                case 1: c = FromPalette(palette, (in[x / 8] >> (7 - x % 8)) & 1u); break;
                case 4: c = FromPalette(palette, (in[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0Fu); break;
                case 8: c = FromPalette(palette, in[x]); break;
                case 24: {
                    const uint8_t* p = in + static_cast<size_t>(x) * 3;
                    c = p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
                    break;
                }
                default: {
                    const uint32_t v = h.bpp == 16 ? Le16(in + static_cast<size_t>(x) * 2)
                                                   : Le32(in + static_cast<size_t>(x) * 4);
                    c = b.Get(v, 0) | (g.Get(v, 0) << 8) | (r.Get(v, 0) << 16) |
                        (static_cast<uint32_t>(a.Get(v, 255)) << 24);
                    break;
                }
            }
            Put(out, x, y, c);
        }
    }
    return Ok;
}

// RLE8 and RLE4: runs of one index (RLE4: two alternating indices),
// absolute runs, end of line, delta moves and end of picture. Pixels the
// data never reaches keep the first palette colour; data that ends before
// the last row fails.
Status DecodeRle(const uint8_t* d, size_t n, size_t at, const Header& h, const std::vector<uint32_t>& palette,
                 Picture& out) {
    if (at >= n) return InvalidParameter;
    size_t end = n;
    if (h.sizeImage != 0 && h.sizeImage <= n - at) end = at + h.sizeImage;
    const int64_t w = out.width, rows = out.height;
    const uint32_t background = FromPalette(palette, 0);
    for (INT y = 0; y < out.height; ++y)
        for (INT x = 0; x < out.width; ++x) Put(out, x, y, background);

    const bool four = h.compression == BI_RLE4;
    int64_t x = 0, row = 0;
    auto put = [&](uint32_t index) {
        if (x < w && row < rows) Put(out, static_cast<INT>(x), static_cast<INT>(rows - 1 - row), FromPalette(palette, index));
        x = std::min(x + 1, w);
    };
    size_t p = at;
    while (row < rows) {
        if (end - p < 2) return InvalidParameter;
        const uint8_t count = d[p], value = d[p + 1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(four ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
        } else if (value == 0) {
            x = 0;
            ++row;
        } else if (value == 1) {
            return Ok;
        } else if (value == 2) {
            if (end - p < 2) return InvalidParameter;
            x = std::min(x + d[p], w);
            row += d[p + 1];
            p += 2;
        } else {
            const size_t bytes = four ? (value + 1u) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t{1};
            if (end - p < padded) return InvalidParameter;
            for (int i = 0; i < value; ++i) {
                put(four ? (i % 2 == 0 ? d[p + i / 2] >> 4 : d[p + i / 2] & 0x0F) : d[p + i]);
            }
            p += padded;
        }
    }
    return Ok;
}

}  // namespace

Status DecodeBmp(const uint8_t* d, size_t n, Picture& out) {
    Header h;
    if (!ReadHeader(d, n, h, out)) return InvalidParameter;
    if (h.height == INT32_MIN) return InvalidParameter;
    const int64_t height = h.height < 0 ? -h.height : h.height;
    if (Status s = CheckSize(h.width, height); s != Ok) return s;
    const size_t at = Le32(d + 10);
    if (at < h.paletteAt || at > n) return InvalidParameter;
    const std::vector<uint32_t> palette = ReadPalette(d, at, h);

    const bool alpha = h.haveMasks && h.masks[3] != 0;
    if (Status s = out.Allocate(h.width, height, alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB); s != Ok) {
        return s;
    }
    const Status s = h.compression == BI_RLE8 || h.compression == BI_RLE4 ? DecodeRle(d, n, at, h, palette, out)
                                                                           : DecodeRows(d, n, at, h, palette, out);
    if (s != Ok || !alpha) return s;
    // Writers that fill the alpha bits with zeros mean an opaque picture.
    for (INT y = 0; y < out.height; ++y) {
        const uint8_t* row = out.Row(y);
        for (INT x = 0; x < out.width; ++x)
            if (row[static_cast<size_t>(x) * 4 + 3] != 0) return Ok;
    }
    for (INT y = 0; y < out.height; ++y) {
        uint8_t* row = out.Row(y);
        for (INT x = 0; x < out.width; ++x) row[static_cast<size_t>(x) * 4 + 3] = 0xFF;
    }
    return Ok;
}

}  // namespace Gdiplus::decode

// Picture files written the way other programs write them: PNG, JPEG, GIF
// and TIFF through libpng, libjpeg-turbo, giflib and libtiff, BMP byte by
// byte in any header form.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

// jpeglib.h needs FILE declared first.
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "morvik/com/hglobal.h"
#include "morvik/com/stream.h"
#include "morvik/gdiplus/gdiplus.h"

namespace picture_files {

using Bytes = std::vector<uint8_t>;

// PNG from rows packed as PNG keeps them (16-bit samples big-endian).
inline Bytes Png(int w, int h, int colorType, int depth, const Bytes& packed, bool interlace = false,
                 const std::vector<png_color>& palette = {}, const Bytes& trns = {}, png_uint_32 ppm = 0,
                 png_uint_32 ppmY = 0) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, size_t n) {
            auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, w, h, depth, colorType, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!trns.empty()) png_set_tRNS(png, info, trns.data(), static_cast<int>(trns.size()), nullptr);
    if (ppm != 0) png_set_pHYs(png, info, ppm, ppmY != 0 ? ppmY : ppm, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_bytep> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) rows[y] = const_cast<png_bytep>(packed.data()) + y * rowBytes;
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// JPEG of grey, RGB or CMYK samples.
inline Bytes Jpeg(int w, int h, J_COLOR_SPACE space, const Bytes& pixels, bool progressive = false, int dpi = 0,
                  int dpiY = 0) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = space == JCS_GRAYSCALE ? 1 : (space == JCS_CMYK ? 4 : 3);
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    if (dpi != 0) {
        c.density_unit = 1;
        c.X_density = static_cast<UINT16>(dpi);
        c.Y_density = static_cast<UINT16>(dpiY != 0 ? dpiY : dpi);
    }
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(pixels.data()) + c.next_scanline * w * c.input_components;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// GIF of palette indices on a screen of its own size.
inline Bytes Gif(int w, int h, const std::vector<GifColorType>& colours, const Bytes& indices, int transparent,
                 bool interlace) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out,
                                [](GifFileType* g, const GifByteType* data, int n) {
                                    auto* o = static_cast<Bytes*>(g->UserData);
                                    o->insert(o->end(), data, data + n);
                                    return n;
                                },
                                &error);
    int bits = 1;
    while ((1 << bits) < static_cast<int>(colours.size())) ++bits;
    ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
    std::copy(colours.begin(), colours.end(), map->Colors);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, w, h, bits, 0, map);
    if (transparent >= 0) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, transparent};
        GifByteType ext[4];
        const size_t len = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext);
    }
    EGifPutImageDesc(gif, 0, 0, w, h, interlace, nullptr);
    // An interlaced frame sends its rows in four passes.
    std::vector<int> order;
    const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < (interlace ? 4 : 1); ++pass)
        for (int y = interlace ? starts[pass] : 0; y < h; y += interlace ? steps[pass] : 1) order.push_back(y);
    for (int y : order) EGifPutLine(gif, const_cast<GifPixelType*>(indices.data()) + y * w, w);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

// TIFF of 8-bit grey or RGB samples in one strip (LZW by default), written
// through libtiff into memory; with a resolution in dots per inch when one
// is given, and with a fourth sample of associated (premultiplied) or
// unassociated alpha after RGB.
inline Bytes Tiff(int w, int h, int samples, const Bytes& pixels, uint16_t compression = COMPRESSION_LZW,
                  float dpiX = 0, float dpiY = 0, uint16_t alpha = EXTRASAMPLE_UNASSALPHA) {
    struct Mem {
        Bytes data;
        size_t pos = 0;
    } mem;
    auto rw = [](thandle_t, void*, tmsize_t) -> tmsize_t { return 0; };
    TIFF* tif = TIFFClientOpen(
        "mem", "w", &mem, rw,
        [](thandle_t hd, void* buf, tmsize_t n) -> tmsize_t {
            auto* m = static_cast<Mem*>(hd);
            if (m->data.size() < m->pos + n) m->data.resize(m->pos + n);
            std::memcpy(m->data.data() + m->pos, buf, n);
            m->pos += n;
            return n;
        },
        [](thandle_t hd, toff_t off, int whence) -> toff_t {
            auto* m = static_cast<Mem*>(hd);
            m->pos = (whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->data.size()) + off;
            return m->pos;
        },
        [](thandle_t) { return 0; }, [](thandle_t hd) -> toff_t { return static_cast<Mem*>(hd)->data.size(); },
        [](thandle_t, void**, toff_t*) { return 0; }, [](thandle_t, void*, toff_t) {});
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    if (samples == 4) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    if (dpiX > 0) {
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpiX);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpiY);
    }
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
    for (int y = 0; y < h; ++y) TIFFWriteScanline(tif, const_cast<uint8_t*>(pixels.data()) + y * w * samples, y, 0);
    TIFFClose(tif);
    return mem.data;
}

// A BMP: the file header, an info header of headerSize bytes (12 is the
// core header) whose masks (v2 and later) are the given ones, the masks
// after a 40-byte header when there are any, the palette (B, G, R as
// 0xRRGGBB; 3 bytes an entry after a core header) and the pixel bytes.
inline Bytes Bmp(uint32_t headerSize, int32_t width, int32_t height, int bpp, uint32_t compression,
                 const std::vector<uint32_t>& palette, const Bytes& pixels, const std::vector<uint32_t>& masks = {},
                 int32_t ppm = 0, int32_t ppmY = 0) {
    Bytes out;
    auto put = [&out](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const bool core = headerSize == 12;
    const size_t maskBytes = headerSize == 40 ? masks.size() * 4 : 0;
    const uint32_t offset = static_cast<uint32_t>(14 + headerSize + maskBytes + palette.size() * (core ? 3 : 4));
    out = {'B', 'M'};
    put(offset + static_cast<uint32_t>(pixels.size()), 4);
    put(0, 4);
    put(offset, 4);
    put(headerSize, 4);
    if (core) {
        put(width, 2);
        put(height, 2);
        put(1, 2);
        put(bpp, 2);
    } else {
        for (uint32_t v : {static_cast<uint32_t>(width), static_cast<uint32_t>(height)}) put(v, 4);
        put(1, 2);
        put(bpp, 2);
        for (uint32_t v : {compression, static_cast<uint32_t>(pixels.size()), static_cast<uint32_t>(ppm),
                           static_cast<uint32_t>(ppmY != 0 ? ppmY : ppm), static_cast<uint32_t>(palette.size()), 0u})
            put(v, 4);
        for (uint32_t i = 40; i < headerSize; i += 4) put((i - 40) / 4 < masks.size() ? masks[(i - 40) / 4] : 0, 4);
        if (headerSize == 40)
            for (uint32_t m : masks) put(m, 4);
    }
    for (uint32_t c : palette) put(c, core ? 3 : 4);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

// Rows of raw pixel values (palette indices or little-endian values of
// bpp bits) padded to 4 bytes, in file order.
inline Bytes BmpRows(int w, int h, int bpp, bool bottomUp, const std::function<uint32_t(int, int)>& raw) {
    const size_t rowBytes = ((static_cast<size_t>(w) * bpp + 31) / 32) * 4;
    Bytes out(rowBytes * h, 0);
    for (int r = 0; r < h; ++r) {
        uint8_t* row = out.data() + r * rowBytes;
        const int y = bottomUp ? h - 1 - r : r;
        for (int x = 0; x < w; ++x) {
            const uint32_t v = raw(x, y);
            if (bpp < 8) {
                row[x * bpp / 8] |= static_cast<uint8_t>(v << (8 - bpp - (x * bpp) % 8));
            } else {
                for (int i = 0; i < bpp / 8; ++i) row[x * bpp / 8 + i] = static_cast<uint8_t>(v >> (8 * i));
            }
        }
    }
    return out;
}

// A 24-bit bottom-up BMP with an info header.
inline Bytes Bmp24(int w, int h, const std::function<uint32_t(int, int)>& rgb, int32_t ppm = 0, int32_t ppmY = 0) {
    return Bmp(40, w, h, 24, 0, {}, BmpRows(w, h, 24, true, rgb), {}, ppm, ppmY);
}

// Decodes the bytes the way a picture arrives: a global-memory block read
// through a stream.
inline std::unique_ptr<Gdiplus::Bitmap> DecodeBytes(const Bytes& bytes) {
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!bytes.empty()) {
        std::memcpy(GlobalLock(mem), bytes.data(), bytes.size());
        GlobalUnlock(mem);
    }
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(mem, TRUE, &stream) != S_OK) return nullptr;
    std::unique_ptr<Gdiplus::Bitmap> bmp(Gdiplus::Bitmap::FromStream(stream));
    stream->Release();
    return bmp;
}

// The header of a bottom-up (height > 0) or top-down DIB, uncompressed.
inline BITMAPINFOHEADER DibHeader(int width, int height, int bits) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bits);
    return h;
}

// A packed DIB as the clipboard holds it: the header, then the given bytes.
inline HGLOBAL Dib(const BITMAPINFOHEADER& h, const Bytes& rest) {
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, sizeof h + rest.size());
    uint8_t* p = static_cast<uint8_t*>(GlobalLock(mem));
    std::memcpy(p, &h, sizeof h);
    std::copy(rest.begin(), rest.end(), p + sizeof h);
    GlobalUnlock(mem);
    return mem;
}

}  // namespace picture_files

// PNG through libpng: every bit depth and colour type, interlaced or not;
// 16-bit channels keep their high byte.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "morvik/gdiplus/image_decode.h"

namespace Gdiplus::decode {
namespace {

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void PngRead(png_structp png, png_bytep out, size_t count) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > src->size - src->pos) png_error(png, "truncated");
    std::memcpy(out, src->data + src->pos, count);
    src->pos += count;
}

// libpng must not return from its error handler: it jumps back to the
// setjmp of ReadPngHeader or ReadPngRows. Warnings are not printed.
[[noreturn]] void PngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarn(png_structp, png_const_charp) {}

struct PngLayout {
    png_uint_32 width;
    png_uint_32 height;
    int channels;
    size_t rowBytes;
    png_uint_32 ppmX;
    png_uint_32 ppmY;
};

// The two functions below are the only frames libpng jumps to. They hold
// no object with a destructor and change no local after setjmp.

// Reads the header and sets up the transforms into 8-bit grey, B, G, R or
// B, G, R, A.
bool ReadPngHeader(png_structp png, png_infop info, PngLayout* layout) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, color = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &color, nullptr, nullptr, nullptr);
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (depth == 16) png_set_strip_16(png);
    if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (color == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (trns) png_set_tRNS_to_alpha(png);
    if (color == PNG_COLOR_TYPE_GRAY_ALPHA || (color == PNG_COLOR_TYPE_GRAY && trns)) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->width = w;
    layout->height = h;
    layout->channels = png_get_channels(png, info);
    layout->rowBytes = png_get_rowbytes(png, info);
    int unit = 0;
    if (png_get_pHYs(png, info, &layout->ppmX, &layout->ppmY, &unit) == 0 || unit != PNG_RESOLUTION_METER) {
        layout->ppmX = layout->ppmY = 0;
    }
    return true;
}

bool ReadPngRows(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

}  // namespace

Status DecodePng(const uint8_t* data, size_t size, Picture& out) {
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngWarn);
    if (reader.png == nullptr) return OutOfMemory;
    reader.info = png_create_info_struct(reader.png);
    if (reader.info == nullptr) return OutOfMemory;
    // Our own limits apply after the header; text and profile chunks stay
    // small.
    png_set_user_limits(reader.png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_chunk_malloc_max(reader.png, 8u << 20);
    PngSource source{data, size, 0};
    png_set_read_fn(reader.png, &source, PngRead);

    PngLayout layout{};
    if (!ReadPngHeader(reader.png, reader.info, &layout)) return InvalidParameter;
    if (Status s = CheckSize(layout.width, layout.height); s != Ok) return s;
    const PixelFormat format = layout.channels == 1   ? PixelFormat8bppIndexed
                               : layout.channels == 3 ? PixelFormat24bppRGB
                               : layout.channels == 4 ? PixelFormat32bppARGB
                                                      : PixelFormatUndefined;
    if (format == PixelFormatUndefined || layout.rowBytes != size_t{layout.width} * layout.channels) {
        return InvalidParameter;
    }
    if (Status s = out.Allocate(layout.width, layout.height, format); s != Ok) return s;
    std::vector<png_bytep> rows(static_cast<size_t>(out.height));
    for (INT y = 0; y < out.height; ++y) rows[static_cast<size_t>(y)] = out.Row(y);
    if (!ReadPngRows(reader.png, rows.data())) return InvalidParameter;
    if (layout.ppmX > 0 && layout.ppmY > 0) out.SetDpiFromPerMetre(layout.ppmX, layout.ppmY);
    return Ok;
}

}  // namespace Gdiplus::decode

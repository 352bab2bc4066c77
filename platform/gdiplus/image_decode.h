// Decoding picture files into the pixels of a Gdiplus::Bitmap: PNG, JPEG,
// GIF and TIFF through the libraries made for them, BMP through our own
// bounded reader. Every decoder checks the limits of decoded images before
// it allocates, and every error of a file or a library ends in a status,
// never in an abort, an exit or a jump across our frames.
#pragma once

#include "morvik/afx/morvik_api.h"
#include "morvik/afx/macros_save.inc"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "morvik/gdiplus/bitmap.h"

namespace Gdiplus::decode {

// Decoded pixels, rows top to bottom in the layout of an image of the
// format: grey pictures 8-bit indexed (the indices are the grey values),
// colour pictures 24-bit RGB (B, G, R), pictures with transparency 32-bit
// ARGB (B, G, R, A, straight alpha).
struct Picture {
    INT width = 0;
    INT height = 0;
    PixelFormat format = PixelFormatUndefined;
    INT stride = 0;
    std::vector<uint8_t> data;
    REAL dpiX = kDefaultImageDpi;
    REAL dpiY = kDefaultImageDpi;

    // Zeroed rows for the size and format (one of the three above); fails
    // as CheckSize does. Throws std::bad_alloc when memory runs out.
    Status Allocate(int64_t width, int64_t height, PixelFormat format);
    uint8_t* Row(INT y) { return data.data() + static_cast<size_t>(y) * static_cast<size_t>(stride); }
    // Takes a resolution in dots per inch when it is plausible.
    MORVIK_API void SetDpi(double x, double y);
    // From pixels per metre, as BMP and PNG give it.
    void SetDpiFromPerMetre(double x, double y) { SetDpi(x * 0.0254, y * 0.0254); }
};

// InvalidParameter for an empty side, OutOfMemory beyond the limits of
// decoded images (kMaxImageSide, kMaxDecodedPixels).
Status CheckSize(int64_t width, int64_t height);

Status DecodeBmp(const uint8_t* data, size_t size, Picture& out);
Status DecodePng(const uint8_t* data, size_t size, Picture& out);
Status DecodeJpeg(const uint8_t* data, size_t size, Picture& out);
Status DecodeGif(const uint8_t* data, size_t size, Picture& out);
Status DecodeTiff(const uint8_t* data, size_t size, Picture& out);

// Recognises the format by its signature and decodes; InvalidParameter for
// data of no known format or data that does not decode, OutOfMemory beyond
// the limits or when memory runs out. out is left empty on failure.
Status DecodePicture(const uint8_t* data, size_t size, Picture& out);

}  // namespace Gdiplus::decode

#include "morvik/afx/macros_restore.inc"

#include "morvik/gdiplus/image_decode.h"

#include <cstring>
#include <new>

namespace Gdiplus::decode {

Status CheckSize(int64_t width, int64_t height) {
    if (width < 1 || height < 1) return InvalidParameter;
    if (width > kMaxImageSide || height > kMaxImageSide ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxDecodedPixels) {
        return OutOfMemory;
    }
    return Ok;
}

Status Picture::Allocate(int64_t w, int64_t h, PixelFormat f) {
    if (Status s = CheckSize(w, h); s != Ok) return s;
    if (f != PixelFormat8bppIndexed && f != PixelFormat24bppRGB && f != PixelFormat32bppARGB) return InvalidParameter;
    width = static_cast<INT>(w);
    height = static_cast<INT>(h);
    format = f;
    stride = static_cast<INT>(((w * GetPixelFormatSize(f) + 31) / 32) * 4);
    data.assign(static_cast<size_t>(stride) * static_cast<size_t>(height), 0);
    return Ok;
}

void Picture::SetDpi(double x, double y) {
    auto sane = [](double v) { return v >= 1.0 && v <= 1e6; };
    if (sane(x) && sane(y)) {
        dpiX = static_cast<REAL>(x);
        dpiY = static_cast<REAL>(y);
    }
}

Status DecodePicture(const uint8_t* d, size_t n, Picture& out) {
    out = Picture();
    if (d == nullptr) return InvalidParameter;
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Status (*decoder)(const uint8_t*, size_t, Picture&) = nullptr;
    if (n >= 8 && std::memcmp(d, kPng, 8) == 0) {
        decoder = DecodePng;
    } else if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) {
        decoder = DecodeJpeg;
    } else if (n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) {
        decoder = DecodeGif;
    } else if (n >= 4 && (std::memcmp(d, "II*\0", 4) == 0 || std::memcmp(d, "MM\0*", 4) == 0 ||
                          std::memcmp(d, "II+\0", 4) == 0 || std::memcmp(d, "MM\0+", 4) == 0)) {
        decoder = DecodeTiff;
    } else if (n >= 2 && d[0] == 'B' && d[1] == 'M') {
        decoder = DecodeBmp;
    } else {
        return InvalidParameter;
    }
    Status s;
    try {
        s = decoder(d, n, out);
    } catch (const std::bad_alloc&) {
        s = OutOfMemory;
    }
    if (s != Ok) out = Picture();
    return s;
}

}  // namespace Gdiplus::decode

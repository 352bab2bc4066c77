// TIFF through libtiff: the first page, in any photometric interpretation
// and compression libtiff's RGBA interface reads.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "morvik/gdiplus/image_decode.h"

namespace Gdiplus::decode {
namespace {

// libtiff's buffers for one strip or tile stay below this.
constexpr tmsize_t kMaxTiffAlloc = tmsize_t{256} << 20;

struct TiffSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

tmsize_t TiffRead(thandle_t h, void* out, tmsize_t count) {
    auto* src = static_cast<TiffSource*>(h);
    if (count <= 0 || src->pos >= src->size) return 0;
    const size_t n = std::min(static_cast<size_t>(count), src->size - src->pos);
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t TiffSeek(thandle_t h, toff_t offset, int whence) {
    auto* src = static_cast<TiffSource*>(h);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = src->pos;
    else if (whence == SEEK_END) base = src->size;
    else if (whence != SEEK_SET) return static_cast<toff_t>(-1);
    if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
    // Positions past the end are allowed; reads there return nothing.
    src->pos = static_cast<size_t>(std::min<uint64_t>(base + offset, SIZE_MAX));
    return base + offset;
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t h) { return static_cast<TiffSource*>(h)->size; }
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}
// Errors and warnings are not printed: a failing read reports itself.
int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct RgbaEnd {
    TIFFRGBAImage* img;
    ~RgbaEnd() { TIFFRGBAImageEnd(img); }
};

TIFF* OpenTiff(TiffSource& source) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAlloc);
    TIFFOpenOptionsSetErrorHandlerExtR(options, TiffQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
    TIFF* tif = TIFFClientOpenExt("picture", "rm", &source, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize,
                                  TiffMap, TiffUnmap, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

}  // namespace

Status DecodeTiff(const uint8_t* data, size_t size, Picture& out) {
    TiffSource source{data, size, 0};
    std::unique_ptr<TIFF, TiffCloser> tif(OpenTiff(source));
    if (!tif) return InvalidParameter;
    char message[1024];
    TIFFRGBAImage img;
    if (TIFFRGBAImageOK(tif.get(), message) == 0 || TIFFRGBAImageBegin(&img, tif.get(), 1, message) == 0) {
        return InvalidParameter;
    }
    RgbaEnd end{&img};
    if (Status s = CheckSize(img.width, img.height); s != Ok) return s;
    const bool alpha = img.alpha == EXTRASAMPLE_ASSOCALPHA || img.alpha == EXTRASAMPLE_UNASSALPHA;
    const bool grey = !alpha && (img.photometric == PHOTOMETRIC_MINISBLACK || img.photometric == PHOTOMETRIC_MINISWHITE);
    const PixelFormat format = alpha ? PixelFormat32bppARGB : (grey ? PixelFormat8bppIndexed : PixelFormat24bppRGB);
    if (Status s = out.Allocate(img.width, img.height, format); s != Ok) return s;

    std::vector<uint32_t> raster(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    img.req_orientation = ORIENTATION_TOPLEFT;
    if (TIFFRGBAImageGet(&img, raster.data(), img.width, img.height) == 0) return InvalidParameter;
    for (INT y = 0; y < out.height; ++y) {
        const uint32_t* in = raster.data() + static_cast<size_t>(y) * static_cast<size_t>(out.width);
        uint8_t* o = out.Row(y);
        for (INT x = 0; x < out.width; ++x) {
            const uint32_t c = in[x];
            const unsigned r = TIFFGetR(c), g = TIFFGetG(c), b = TIFFGetB(c), a = TIFFGetA(c);
            if (grey) {
                o[x] = static_cast<uint8_t>(r);
            } else if (!alpha) {
                uint8_t* p = o + static_cast<size_t>(x) * 3;
                p[0] = static_cast<uint8_t>(b);
                p[1] = static_cast<uint8_t>(g);
                p[2] = static_cast<uint8_t>(r);
            } else {
                // libtiff hands alpha over premultiplied.
                auto straight = [a](unsigned v) { return static_cast<uint8_t>(a == 0 ? 0 : std::min(255u, (v * 255 + a / 2) / a)); };
                uint8_t* p = o + static_cast<size_t>(x) * 4;
                p[0] = straight(b);
                p[1] = straight(g);
                p[2] = straight(r);
                p[3] = static_cast<uint8_t>(a);
            }
        }
    }
    float resX = 0, resY = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &resX) != 0 &&
        TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &resY) != 0 && (unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER)) {
        const double k = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        out.SetDpi(resX * k, resY * k);
    }
    return Ok;
}

}  // namespace Gdiplus::decode

// GIF through giflib: the first frame on the logical screen, with its
// transparent colour.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "morvik/gdiplus/image_decode.h"

namespace Gdiplus::decode {
namespace {

struct GifSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int GifRead(GifFileType* gif, GifByteType* out, int count) {
    auto* src = static_cast<GifSource*>(gif->UserData);
    const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), src->size - src->pos);
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

// Skips extensions up to the first image, keeping the transparent colour
// of a graphic control block; false at the end of the file or on an error.
bool FindFirstImage(GifFileType* gif, int& transparent) {
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) return DGifGetImageDesc(gif) != GIF_ERROR;
        if (type != EXTENSION_RECORD_TYPE) return false;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
            GraphicsControlBlock gcb;
            if (DGifExtensionToGCB(block[0], block + 1, &gcb) != GIF_ERROR) transparent = gcb.TransparentColor;
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
        }
    }
}

}  // namespace

Status DecodeGif(const uint8_t* data, size_t size, Picture& out) {
    GifSource source{data, size, 0};
    int error = 0;
    GifPtr gif(DGifOpen(&source, GifRead, &error));
    if (!gif) return InvalidParameter;
    int transparent = NO_TRANSPARENT_COLOR;
    if (!FindFirstImage(gif.get(), transparent)) return InvalidParameter;
    const GifImageDesc& frame = gif->Image;
    if (Status s = CheckSize(frame.Width, frame.Height); s != Ok) return s;
    const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (map == nullptr || map->Colors == nullptr) return InvalidParameter;

    // A screen of no size is the frame's own.
    const int64_t screenW = gif->SWidth > 0 ? gif->SWidth : int64_t{frame.Left} + frame.Width;
    const int64_t screenH = gif->SHeight > 0 ? gif->SHeight : int64_t{frame.Top} + frame.Height;
    const bool covers = frame.Left == 0 && frame.Top == 0 && frame.Width >= screenW && frame.Height >= screenH;
    const bool alpha = transparent != NO_TRANSPARENT_COLOR || !covers;
    if (Status s = out.Allocate(screenW, screenH, alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB); s != Ok) {
        return s;
    }
    const size_t bytes = alpha ? 4 : 3;
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    // Interlaced frames come in four passes: every 8th row from 0, every
    // 8th from 4, every 4th from 2, every 2nd from 1.
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? kStart[pass] : 0, step = frame.Interlace ? kStep[pass] : 1;
        for (int row = start; row < frame.Height; row += step) {
            if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) return InvalidParameter;
            const int64_t y = int64_t{frame.Top} + row;
            if (y >= out.height) continue;
            uint8_t* o = out.Row(static_cast<INT>(y));
            for (int i = 0; i < frame.Width; ++i) {
                const int64_t x = int64_t{frame.Left} + i;
                if (x >= out.width) break;
                const int index = line[static_cast<size_t>(i)];
                if (index == transparent) continue;
                uint8_t* p = o + static_cast<size_t>(x) * bytes;
                if (index < map->ColorCount) {
                    const GifColorType& c = map->Colors[index];
                    p[0] = c.Blue;
                    p[1] = c.Green;
                    p[2] = c.Red;
                }
                if (alpha) p[3] = 0xFF;
            }
        }
    }
    return Ok;
}

}  // namespace Gdiplus::decode

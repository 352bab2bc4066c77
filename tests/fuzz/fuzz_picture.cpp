// Feeds arbitrary bytes to the picture decoder the way a picture file reaches
// it (global memory, a stream, Bitmap), and to the packed-DIB reader. Whatever
// decodes is converted and processed as a picture would be.
#include <cstdint>
#include <cstring>
#include <memory>

#include "morvik/com/hglobal.h"
#include "morvik/com/stream.h"
#include "morvik/gdiplus/gdiplus.h"
#include "morvik/host/host_services.h"
#include "morvik/shapes/dib.h"
#include "morvik/shapes/picture.h"

namespace {

// Message boxes would go to standard error on every input: answer quietly.
class QuietHost : public HeadlessHost {
public:
    int MessageBox(HWND, const std::wstring&, const std::wstring&, UINT type) override {
        return DefaultMessageBoxAnswer(type);
    }
};

HGLOBAL Copy(const uint8_t* data, size_t size) {
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, size);
    if (mem != nullptr && size > 0) {
        std::memcpy(GlobalLock(mem), data, size);
        GlobalUnlock(mem);
    }
    return mem;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (SetHost(std::make_shared<QuietHost>()), true);
    (void)quiet;

    HGLOBAL mem = Copy(data, size);
    if (mem == nullptr) return 0;
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(mem, TRUE, &stream) != S_OK) {
        GlobalFree(mem);
        return 0;
    }
    std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromStream(stream));
    stream->Release();
    if (bitmap && bitmap->GetWidth() > 0 && bitmap->GetWidth() * bitmap->GetHeight() <= 256 * 256) {
        Gdiplus::BitmapData locked;
        if (bitmap->LockBits(nullptr, Gdiplus::ImageLockModeRead, Gdiplus::PixelFormat32bppARGB, &locked) ==
            Gdiplus::Ok) {
            bitmap->UnlockBits(&locked);
        }
        CPicture picture;
        std::unique_ptr<Gdiplus::Bitmap> small(picture.ResizeBitmap(bitmap.get(), 16, 16, 300, 300, true));
        Gdiplus::Bitmap* grey = nullptr;
        picture.ToGray(bitmap.get(), &grey);
        Gdiplus::Bitmap* bw = nullptr;
        picture.Binaryzation(grey, &bw, 128);
        if (grey != bitmap.get()) delete grey;
        delete bw;
    }

    // The same bytes as a packed DIB, as the clipboard would hand them over.
    HGLOBAL dibMem = Copy(data, size);
    if (dibMem != nullptr) {
        CDIB dib(dibMem);
        if (dib.IsValid() && dib.GetWidth() * dib.GetHeight() <= 256 * 256) {
            std::unique_ptr<CBitmap> ddb(dib.MakeBitmap(nullptr));
        }
        GlobalFree(dibMem);
    }
    return 0;
}

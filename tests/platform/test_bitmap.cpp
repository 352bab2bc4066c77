// Raster images: decoding through a global-memory stream, pixel locks and
// format conversions, turning and flipping, drawing images into images and
// onto both canvases, and the GDI bitmaps that pictures are saved through.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "morvik/com/hglobal.h"
#include "morvik/com/stream.h"
#include "morvik/gdi/cairo_canvas.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/gdiplus/gdiplus.h"
#include "platform/picture_files.h"

using namespace Gdiplus;

namespace {

using picture_files::DecodeBytes;

// Encodes rows of channels (1, 3 or 4 per pixel) as PNG or JPEG, or of
// 3 channels as BMP.
std::vector<uint8_t> Encode(const std::string& kind, int w, int h, int channels, const std::vector<uint8_t>& pixels) {
    if (kind == "png") {
        const int type = channels == 1 ? PNG_COLOR_TYPE_GRAY : (channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA);
        return picture_files::Png(w, h, type, 8, pixels);
    }
    if (kind == "jpg") return picture_files::Jpeg(w, h, channels == 1 ? JCS_GRAYSCALE : JCS_RGB, pixels);
    return picture_files::Bmp24(w, h, [&](int x, int y) {
        const uint8_t* p = &pixels[(static_cast<size_t>(y) * w + x) * 3];
        return static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
    });
}

ARGB PixelAt(Bitmap& b, int x, int y) {
    Color c;
    EXPECT_EQ(b.GetPixel(x, y, &c), Ok);
    return c.GetValue();
}

// A w x h 32-bit image whose pixel (x, y) is opaque with red x * 40, green
// y * 40 and blue 7.
std::unique_ptr<Bitmap> Ramp(int w, int h, PixelFormat format = PixelFormat32bppARGB) {
    auto b = std::make_unique<Bitmap>(w, h, format);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b->SetPixel(x, y, Color(255, x * 40, y * 40, 7));
    return b;
}

}  // namespace

TEST(Bitmap, DecodesPngBmpAndJpegThroughAStream) {
    // 3 x 2 colour picture: odd width catches row padding mistakes.
    const std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    for (const char* kind : {"png", "bmp"}) {
        auto b = DecodeBytes(Encode(kind, 3, 2, 3, rgb));
        ASSERT_EQ(b->GetWidth(), 3u) << kind;
        EXPECT_EQ(b->GetPixelFormat(), PixelFormat24bppRGB);
        EXPECT_EQ(PixelAt(*b, 0, 0), 0xFFFF0000u);
        EXPECT_EQ(PixelAt(*b, 2, 0), 0xFF0000FFu);
        EXPECT_EQ(PixelAt(*b, 1, 1), 0xFF28323Cu);
        EXPECT_FLOAT_EQ(b->GetHorizontalResolution(), 96.0f);
    }
    // Grey becomes 8-bit indexed over a grey palette, transparency 32-bit ARGB.
    auto grey = DecodeBytes(Encode("png", 2, 1, 1, {0, 200}));
    EXPECT_EQ(grey->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_EQ(PixelAt(*grey, 1, 0), 0xFFC8C8C8u);
    auto alpha = DecodeBytes(Encode("png", 1, 1, 4, {1, 2, 3, 4}));
    EXPECT_EQ(alpha->GetPixelFormat(), PixelFormat32bppARGB);
    EXPECT_EQ(PixelAt(*alpha, 0, 0), 0x04010203u);
    std::vector<uint8_t> flat(16 * 16 * 3, 128);
    auto jpeg = DecodeBytes(Encode("jpg", 16, 16, 3, flat));
    ASSERT_EQ(jpeg->GetWidth(), 16u);
    EXPECT_NEAR(static_cast<int>(PixelAt(*jpeg, 5, 5) & 0xFF), 128, 3);
}

TEST(Bitmap, TakesTheResolutionTheFileNames) {
    // 11811 pixels per metre is 300 dots per inch, 5906 is 150; each axis
    // has its own.
    const std::vector<uint8_t> grey(4, 9);
    const std::vector<std::vector<uint8_t>> files = {
        picture_files::Bmp24(2, 2, [](int, int) { return 0x090909u; }, 11811, 5906),
        picture_files::Png(2, 2, PNG_COLOR_TYPE_GRAY, 8, grey, false, {}, {}, 11811, 5906),
        picture_files::Jpeg(2, 2, JCS_GRAYSCALE, grey, false, 300, 150),
        picture_files::Tiff(2, 2, 1, grey, COMPRESSION_NONE, 300, 150),
    };
    for (const auto& file : files) {
        auto b = DecodeBytes(file);
        EXPECT_NEAR(b->GetHorizontalResolution(), 300.0, 0.01);
        EXPECT_NEAR(b->GetVerticalResolution(), 150.0, 0.02);
    }
}

TEST(Bitmap, RefusesDataThatIsNoPicture) {
    const std::vector<uint8_t> png = Encode("png", 4, 4, 3, std::vector<uint8_t>(48, 77));
    std::vector<std::vector<uint8_t>> bad = {
        {},
        {'B', 'M'},
        std::vector<uint8_t>(png.begin(), png.begin() + png.size() / 2),
        std::vector<uint8_t>(300, 0xAB),
        // A TGA header: a format this platform does not read.
        {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 1, 2, 3},
    };
    // A BMP that claims 100000 x 100000 pixels.
    std::vector<uint8_t> huge = Encode("bmp", 1, 1, 3, {1, 2, 3});
    const int32_t side = 100000;
    std::memcpy(&huge[18], &side, 4);
    std::memcpy(&huge[22], &side, 4);
    bad.push_back(huge);
    // A BMP whose last row is missing.
    std::vector<uint8_t> cut = Encode("bmp", 4, 4, 3, std::vector<uint8_t>(48, 5));
    cut.resize(cut.size() - 4);
    bad.push_back(cut);
    for (const auto& bytes : bad) {
        auto b = DecodeBytes(bytes);
        EXPECT_EQ(b->GetWidth(), 0u);
        EXPECT_NE(b->GetLastStatus(), Ok);
        Color c;
        EXPECT_NE(b->GetPixel(0, 0, &c), Ok);
        BitmapData data;
        EXPECT_NE(b->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data), Ok);
    }
    Bitmap missing(L"/nonexistent/picture.png");
    EXPECT_EQ(missing.GetWidth(), 0u);
    EXPECT_EQ(missing.GetLastStatus(), GenericError);
}

TEST(Bitmap, LocksConvertAndWriteBack) {
    auto b = Ramp(3, 2, PixelFormat24bppRGB);
    BitmapData data;
    // Own format: the image's memory, sub-rectangles included.
    const Rect second(1, 1, 2, 1);
    ASSERT_EQ(b->LockBits(&second, ImageLockModeRead | ImageLockModeWrite, PixelFormat24bppRGB, &data), Ok);
    EXPECT_EQ(data.Width, 2u);
    uint8_t* p = static_cast<uint8_t*>(data.Scan0);
    EXPECT_EQ(p[2], 40);  // red of (1, 1)
    p[0] = 99;            // blue of (1, 1)
    BitmapData again;
    EXPECT_EQ(b->LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &again), WrongState);
    EXPECT_EQ(b->RotateFlip(Rotate90FlipNone), WrongState);
    ASSERT_EQ(b->UnlockBits(&data), Ok);
    EXPECT_EQ(PixelAt(*b, 1, 1) & 0xFF, 99u);

    // Another format: a converted copy, written back on unlock.
    ASSERT_EQ(b->LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &data), Ok);
    EXPECT_EQ(data.Stride, 12);
    ARGB* row1 = reinterpret_cast<ARGB*>(static_cast<uint8_t*>(data.Scan0) + data.Stride);
    EXPECT_EQ(row1[2], 0xFF502807u);
    row1[2] = 0xFF010203u;
    ASSERT_EQ(b->UnlockBits(&data), Ok);
    EXPECT_EQ(PixelAt(*b, 2, 1), 0xFF010203u);

    // Indexed images lock only as themselves; a 1-bit rectangle that starts
    // inside a byte is copied, and its writes land on the right pixels.
    Bitmap bits(10, 1, PixelFormat1bppIndexed);
    EXPECT_NE(bits.LockBits(nullptr, ImageLockModeRead, PixelFormat8bppIndexed, &data), Ok);
    const Rect tail(3, 0, 4, 1);
    ASSERT_EQ(bits.LockBits(&tail, ImageLockModeWrite, PixelFormat1bppIndexed, &data), Ok);
    static_cast<uint8_t*>(data.Scan0)[0] = 0xA0;  // pixels 3 and 5 white
    bits.UnlockBits(&data);
    for (int x = 0; x < 10; ++x) EXPECT_EQ(PixelAt(bits, x, 0), x == 3 || x == 5 ? 0xFFFFFFFFu : 0xFF000000u) << x;
}

TEST(Bitmap, ClonesTurnsAndFlips) {
    auto b = Ramp(3, 2);
    b->SetResolution(300, 150);
    std::unique_ptr<Bitmap> part(b->Clone(Rect(1, 0, 2, 2), PixelFormat24bppRGB));
    ASSERT_TRUE(part);
    EXPECT_EQ(part->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(PixelAt(*part, 1, 1), PixelAt(*b, 2, 1));
    EXPECT_FLOAT_EQ(part->GetHorizontalResolution(), 300.0f);
    EXPECT_EQ(b->Clone(Rect(2, 0, 2, 2), PixelFormat24bppRGB), nullptr);
    EXPECT_EQ(b->Clone(Rect(0, 0, 1, 1), PixelFormat8bppIndexed), nullptr);

    // Source pixel (x, y) and where each turn puts it in a 3 x 2 image.
    struct Case {
        RotateFlipType type;
        int w, h;
        int x, y;  // where source (2, 0) goes
    };
    const Case cases[] = {{RotateNoneFlipY, 3, 2, 2, 1},
                          {RotateNoneFlipX, 3, 2, 0, 0},
                          {Rotate90FlipNone, 2, 3, 1, 2},
                          {Rotate180FlipNone, 3, 2, 0, 1},
                          {Rotate270FlipNone, 2, 3, 0, 0}};
    for (const Case& c : cases) {
        std::unique_ptr<Bitmap> t(b->Clone());
        ASSERT_EQ(t->RotateFlip(c.type), Ok);
        ASSERT_EQ(t->GetWidth(), static_cast<UINT>(c.w)) << c.type;
        EXPECT_EQ(PixelAt(*t, c.x, c.y), PixelAt(*b, 2, 0)) << c.type;
        if (c.w == 2) {
            EXPECT_FLOAT_EQ(t->GetHorizontalResolution(), 150.0f);
        }
    }
}

TEST(Bitmap, DrawsImagesIntoImages) {
    // Halving averages each 2 x 2 block exactly.
    Bitmap src(4, 2, PixelFormat24bppRGB);
    const int values[8] = {0, 100, 200, 40, 10, 30, 60, 80};
    for (int i = 0; i < 8; ++i) src.SetPixel(i % 4, i / 4, Color(values[i], values[i], values[i]));
    Bitmap half(2, 1, PixelFormat24bppRGB);
    {
        Graphics g(&half);
        ASSERT_EQ(g.DrawImage(&src, Rect(0, 0, 2, 1), 0, 0, 4, 2, UnitPixel), Ok);
    }
    EXPECT_EQ(PixelAt(half, 0, 0) & 0xFF, 35u);  // (0 + 100 + 10 + 30) / 4
    EXPECT_EQ(PixelAt(half, 1, 0) & 0xFF, 95u);  // (200 + 40 + 60 + 80) / 4

    // The same size copies exactly; nearest neighbour enlarges by repeating.
    Bitmap same(4, 2, PixelFormat32bppARGB);
    Graphics(&same).DrawImage(&src, Rect(0, 0, 4, 2));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(PixelAt(same, i % 4, i / 4), PixelAt(src, i % 4, i / 4));
    Bitmap big(8, 4, PixelFormat24bppRGB);
    {
        Graphics g(&big);
        g.SetInterpolationMode(InterpolationModeNearestNeighbor);
        g.DrawImage(&src, Rect(0, 0, 8, 4));
    }
    EXPECT_EQ(PixelAt(big, 5, 3), PixelAt(src, 2, 1));

    // An indexed target takes the nearest colour of its own palette.
    Bitmap grey(4, 2, PixelFormat8bppIndexed);
    Graphics(&grey).DrawImage(&src, Rect(0, 0, 4, 2));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(PixelAt(grey, i % 4, i / 4), PixelAt(src, i % 4, i / 4));

    // Vector drawing reaches the pixels too.
    Bitmap canvas(5, 5, PixelFormat24bppRGB);
    SolidBrush white(Color(255, 255, 255));
    Graphics(&canvas).FillRectangle(&white, 1, 1, 2, 2);
    EXPECT_EQ(PixelAt(canvas, 2, 2), 0xFFFFFFFFu);
    EXPECT_EQ(PixelAt(canvas, 4, 4), 0xFF000000u);
    EXPECT_EQ(Graphics(static_cast<Image*>(nullptr)).DrawImage(&src, Rect(0, 0, 1, 1)), InvalidParameter);
}

TEST(Bitmap, CanvasesRecordAndPaintImages) {
    auto b = Ramp(2, 2);
    RecordingCanvas rec;
    Graphics g(&rec);
    g.TranslateTransform(10, 20);
    ASSERT_EQ(g.DrawImage(b.get(), RectF(0, 0, 8, 6)), Ok);
    ASSERT_EQ(rec.Count(), 1u);
    const CanvasRecord r = rec.At(0);
    EXPECT_EQ(r.op, CanvasOp::Image);
    EXPECT_EQ(r.imageWidth, 2);
    ASSERT_EQ(r.points.size(), 3u);
    EXPECT_FLOAT_EQ(r.points[1].X, 18.0f);
    EXPECT_FLOAT_EQ(r.points[2].Y, 26.0f);
    EXPECT_EQ((*r.imagePixels)[3], PixelAt(*b, 1, 1));
    EXPECT_NE(rec.Dump().find("image 2x2 smooth (10,20) (18,20) (10,26)"), std::string::npos);

    // Replayed on cairo, nearest neighbour: each source pixel fills a block.
    CairoCanvas pixels(40, 40);
    RecordingCanvas sharp;
    {
        Graphics s(&sharp);
        s.SetInterpolationMode(InterpolationModeNearestNeighbor);
        s.DrawImage(b.get(), RectF(10, 10, 20, 20));
    }
    sharp.Replay(pixels);
    EXPECT_EQ(pixels.GetPixel(12, 12), PixelAt(*b, 0, 0));
    EXPECT_EQ(pixels.GetPixel(27, 12), PixelAt(*b, 1, 0));
    EXPECT_EQ(pixels.GetPixel(27, 27), PixelAt(*b, 1, 1));
    EXPECT_EQ(pixels.GetPixel(5, 5), 0xFFFFFFFFu);
    // Turned a quarter: the top-left pixel lands at the top right.
    CairoCanvas turned(40, 40);
    const PointF quarter[3] = {PointF(30, 10), PointF(30, 30), PointF(10, 10)};
    Graphics t(&turned);
    t.SetInterpolationMode(InterpolationModeNearestNeighbor);
    t.DrawImage(b.get(), quarter, 3);
    EXPECT_EQ(turned.GetPixel(27, 12), PixelAt(*b, 0, 0));
    EXPECT_EQ(turned.GetPixel(12, 12), PixelAt(*b, 0, 1));
}

TEST(Bitmap, GoesThroughGdiBitmapsBothWays) {
    auto b = Ramp(3, 2, PixelFormat24bppRGB);
    HBITMAP dib = nullptr;
    ASSERT_EQ(b->GetHBITMAP(Color(255, 255, 255, 255), &dib), Ok);
    BITMAP bm{};
    ASSERT_EQ(GetObject(dib, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmBitsPixel, 32);
    EXPECT_EQ(bm.bmWidthBytes, 12);
    // Rows bottom-up: the first stored row is the picture's last.
    const uint8_t* stored = static_cast<const uint8_t*>(bm.bmBits);
    EXPECT_EQ(stored[2], 0);   // red of (0, 1)
    EXPECT_EQ(stored[1], 40);  // green of (0, 1)

    // What a saved picture does: the rows as a device-dependent bitmap,
    // read back and flipped.
    std::vector<uint8_t> saved(stored, stored + 24);
    DeleteObject(dib);
    BITMAP desc{0, 3, 2, 12, 1, 32, saved.data()};
    HBITMAP ddb = CreateBitmapIndirect(&desc);
    ASSERT_NE(ddb, nullptr);
    Bitmap back(ddb, nullptr);
    EXPECT_EQ(back.GetPixelFormat(), PixelFormat32bppRGB);
    back.RotateFlip(RotateNoneFlipY);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelAt(back, x, y), PixelAt(*b, x, y));
    EXPECT_TRUE(DeleteObject(ddb));
    EXPECT_FALSE(DeleteObject(ddb));
    EXPECT_EQ(GetObject(ddb, sizeof bm, &bm), 0);

    // Descriptions that do not add up are refused.
    BITMAP odd{0, 3, 2, 11, 1, 32, nullptr};
    EXPECT_EQ(CreateBitmapIndirect(&odd), nullptr);
    BITMAP deep{0, 3, 2, 12, 1, 12, nullptr};
    EXPECT_EQ(CreateBitmapIndirect(&deep), nullptr);

    // A semi-transparent pixel is laid over the background.
    Bitmap glass(1, 1);
    glass.SetPixel(0, 0, Color(128, 0, 0, 0));
    glass.GetHBITMAP(Color(255, 255, 255, 255), &dib);
    GetObject(dib, sizeof bm, &bm);
    EXPECT_EQ(static_cast<const uint8_t*>(bm.bmBits)[0], 127);
    DeleteObject(dib);
}

TEST(Bitmap, ReadsDibsAndCopiesFromTheDisplay) {
    // A 2 x 2 bottom-up DIB of 8 bits with a two-colour table.
    std::vector<uint8_t> dib(sizeof(BITMAPINFOHEADER) + 2 * 4 + 2 * 4, 0);
    BITMAPINFOHEADER h = picture_files::DibHeader(2, 2, 8);
    h.biClrUsed = 2;
    std::memcpy(dib.data(), &h, sizeof h);
    const uint8_t table[8] = {0, 0, 255, 0, 255, 0, 0, 0};  // red, blue
    std::memcpy(dib.data() + sizeof h, table, 8);
    uint8_t* rows = dib.data() + sizeof h + 8;
    rows[0] = 1;  // bottom row: blue, red
    rows[4] = 0;  // top row: red, blue
    rows[5] = 1;
    HBITMAP ddb =
        CreateDIBitmap(nullptr, &h, CBM_INIT, rows, reinterpret_cast<BITMAPINFO*>(dib.data()), DIB_RGB_COLORS);
    ASSERT_NE(ddb, nullptr);
    Bitmap b(ddb, nullptr);
    EXPECT_EQ(PixelAt(b, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(b, 1, 0), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(b, 0, 1), 0xFF0000FFu);
    DeleteObject(ddb);
    h.biCompression = BI_RLE8;
    EXPECT_EQ(CreateDIBitmap(nullptr, &h, CBM_INIT, rows, reinterpret_cast<BITMAPINFO*>(dib.data()), DIB_RGB_COLORS),
              nullptr);

    HDC screen = CreateDCW(L"display", nullptr, nullptr, nullptr);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, HORZRES), kDisplayWidth);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP copy = CreateCompatibleBitmap(screen, 4, 4);
    SelectObject(memory, copy);
    EXPECT_TRUE(BitBlt(memory, 0, 0, 4, 4, nullptr, 0, 0, WHITENESS));
    EXPECT_TRUE(BitBlt(memory, 1, 1, 10, 10, screen, 0, 0, SRCCOPY));
    Bitmap shot(copy, nullptr);
    EXPECT_EQ(PixelAt(shot, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(PixelAt(shot, 3, 3), 0xFF000000u);
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_TRUE(DeleteDC(screen));
    EXPECT_FALSE(DeleteDC(screen));
    DeleteObject(copy);
}

TEST(GlobalMemory, StreamsReadAndFreeTheirBlock) {
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, 5);
    ASSERT_NE(mem, nullptr);
    std::memcpy(GlobalLock(mem), "abcde", 5);
    EXPECT_FALSE(GlobalUnlock(mem));
    EXPECT_FALSE(GlobalUnlock(mem));  // not locked any more
    EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);

    IStream* s = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(mem, TRUE, &s), S_OK);
    char buf[8] = {};
    ULONG got = 0;
    EXPECT_EQ(s->Read(buf, 3, &got), S_OK);
    EXPECT_EQ(s->Read(buf, 8, &got), S_FALSE);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buf, 2), "de");
    LARGE_INTEGER back{-10};
    EXPECT_NE(s->Seek(back, STREAM_SEEK_CUR, nullptr), S_OK);
    LARGE_INTEGER one{1};
    ULARGE_INTEGER pos{};
    EXPECT_EQ(s->Seek(one, STREAM_SEEK_SET, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 1u);
    STATSTG st;
    EXPECT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 5u);
    s->Release();
    // The stream freed its block: the handle is dead now.
    EXPECT_EQ(GlobalSize(mem), 0u);
    EXPECT_EQ(GlobalFree(mem), mem);
    EXPECT_NE(CreateStreamOnHGlobal(mem, TRUE, &s), S_OK);
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, kMaxGlobalBlock + 1), nullptr);
}

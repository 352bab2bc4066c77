// The picture shape: loading and placing image files, the grey, dithering
// and negative steps, the dot scan of the mark data, transforms, drawing,
// saving without the image file, and the DIB and screen helpers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "morvik/core/geometry.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/lang.h"
#include "morvik/host/recording_host.h"
#include "platform/picture_files.h"
#include "support/shape_support.h"
#include "morvik/shapes/dib.h"
#include "morvik/core/bezier.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/controls.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/picture.h"
#include "morvik/shapes/polygon.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/shapes/screwline.h"

using Gdiplus::Bitmap;

namespace {

using picture_files::Dib;
using picture_files::DibHeader;
using testsupport::HostScope;
using testsupport::RectOf;
using testsupport::SavedShape;
using testsupport::Unlocked;
using testsupport::ViewAt;

// A BMP file of grey levels at a resolution given in pixels per metre.
struct PictureFile {
    std::string path;
    PictureFile(int w, int h, const std::function<int(int, int)>& grey, int32_t ppm = 10000, int32_t ppmY = 0) {
        static int serial = 0;
        path = (std::filesystem::temp_directory_path() /
                ("morvik_picture_" + std::to_string(getpid()) + "_" + std::to_string(serial++) + ".bmp"))
                   .string();
        const std::vector<uint8_t> bytes = picture_files::Bmp24(
            w, h, [&](int x, int y) { return static_cast<uint32_t>(grey(x, y)) * 0x010101u; }, ppm, ppmY);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ~PictureFile() { std::remove(path.c_str()); }
    CString Wide() const { return CString(Utf8ToWide(path).c_str()); }
};

// Loads the file into a new picture (254 dpi by default: 0.1 mm a pixel).
std::unique_ptr<CPicture> Load(const PictureFile& file) {
    auto pic = std::make_unique<CPicture>();
    pic->SetFilename(file.Wide());
    EXPECT_EQ(pic->InitPicture(), 1);
    return pic;
}

bool Near(tagPOINTF a, tagPOINTF b, float tol = 1e-4f) {
    return std::fabs(a.x - b.x) < tol && std::fabs(a.y - b.y) < tol;
}

std::vector<tagPOINTF> Dots(CPicture& pic) {
    tagMarkDataPar out;
    if (!pic.GetMarkData(out, nullptr)) return {};
    EXPECT_EQ(out.arrPaths.size(), 1u);
    return out.arrPaths[0].arrPolylines.at(0);
}

// The dot of pixel (col, row) of a picture whose top-left is (x0, y0) and
// whose pixels are 0.1 mm.
tagPOINTF DotOf(float x0, float y0, int col, int row) { return {x0 + col * 0.1f + 0.025f, y0 - row * 0.1f + 0.025f}; }

std::unique_ptr<Bitmap> Grey(int w, int h, const std::function<int(int, int)>& grey) {
    auto b = std::make_unique<Bitmap>(w, h, Gdiplus::PixelFormat24bppRGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const BYTE v = static_cast<BYTE>(grey(x, y));
            b->SetPixel(x, y, Gdiplus::Color(v, v, v));
        }
    return b;
}

int GreyAt(Bitmap* b, int x, int y) {
    Gdiplus::Color c;
    b->GetPixel(x, y, &c);
    return c.GetR();
}

// The dots one by one, each within tol of the one wanted.
void ExpectDots(const std::vector<tagPOINTF>& got, const std::vector<tagPOINTF>& want, float tol = 1e-4f) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(Near(got[i], want[i], tol))
            << i << ": " << got[i].x << "," << got[i].y << " want " << want[i].x << "," << want[i].y;
}

std::unique_ptr<CPicture> ReadBack(const std::vector<uint8_t>& bytes) {
    auto back = std::make_unique<CPicture>();
    SriFile in(bytes.data(), bytes.size());
    back->Read(false, &in);
    back->SetCaption(back->m_wstrCaption.c_str());
    back->RestoreAfterRead();
    return back;
}

}  // namespace

TEST(Picture, LoadsAndPlacesFromTheFilesResolution) {
    PictureFile file(100, 50, [](int, int) { return 0; });
    auto pic = Load(file);
    EXPECT_EQ(pic->GetShapeKind(), SHAPE_PICTURE);
    EXPECT_EQ(std::wstring(pic->GetCaption().GetString()),
              Utf8ToWide(std::filesystem::path(file.path).filename().string()));
    // 100 x 50 pixels at 254 dpi: 10 x 5 mm centred on the origin.
    EXPECT_NEAR(pic->rectfPic.X, -5.0f, 1e-4);
    EXPECT_NEAR(pic->rectfPic.Y, 2.5f, 1e-4);
    EXPECT_NEAR(pic->rectfPic.Width, 10.0f, 1e-4);
    EXPECT_TRUE(Near(pic->cornerPointf[0], {-5, -2.5f}));
    EXPECT_TRUE(Near(pic->cornerPointf[2], {5, 2.5f}));
    EXPECT_NEAR(RectOf(*pic).Height, 5.0f, 1e-4);
    // Inside, or within the pick distance (5 pixels at 10 pixels a mm).
    ViewAt at(10);
    pic->SetDocView(&at.doc, &at.view);
    EXPECT_EQ(pic->IsMe({4.9f, -2.4f}), 1);
    EXPECT_EQ(pic->IsMe({5.1f, 0.0f}), 1);
    EXPECT_EQ(pic->IsMe({8.0f, 0.0f}), 0);

    // Each side from its own resolution: 10000 and 7000 pixels a metre;
    // and a marking bitmap from two different ones.
    PictureFile uneven(100, 50, [](int, int) { return 0; }, 10000, 7000);
    auto other = Load(uneven);
    const double width = 100 / 10000.0 * 1000, height = 50 / 7000.0 * 1000;
    EXPECT_NEAR(other->rectfPic.Width, width, 1e-3);
    EXPECT_NEAR(other->rectfPic.Height, height, 1e-3);
    PICTURE_PAR par;
    other->GetPicture(par);
    par.bUseDpi = 1;
    par.nDpiX = 200;
    par.nDpiY = 90;
    other->SetPicture(par);
    std::unique_ptr<Bitmap> net(other->GetNetDotBmp());
    ASSERT_TRUE(net);
    EXPECT_EQ(net->GetWidth(), static_cast<UINT>(width * 200 / 25.4));
    EXPECT_EQ(net->GetHeight(), static_cast<UINT>(height * 90 / 25.4));
}

TEST(Picture, FilesThatDoNotDecodeLeaveThePreviousImage) {
    HostScope scope;
    PictureFile good(4, 4, [](int, int) { return 0; });
    auto pic = Load(good);
    Bitmap* before = pic->GetBitmap();
    const std::string garbage = good.path + ".bad";
    std::ofstream(garbage, std::ios::binary) << "BM this is not a bitmap at all";
    // A JPEG whose Huffman data once made the decoder abort the process.
    const std::string regression = std::string(MORVIK_TEST_DATA) + "/picture-jpeg-huffman.jpg";
    for (const std::string& path : {garbage, regression, std::string("/nonexistent/none.png")}) {
        pic->SetFilename(CString(Utf8ToWide(path).c_str()));
        EXPECT_EQ(pic->InitPicture(), 0);
        EXPECT_EQ(pic->GetBitmap(), before);
    }
    std::remove(garbage.c_str());
    const auto texts = scope.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], CLang::Instance()->GetString("IDS_PICTYPE_ERR").GetString());
    EXPECT_EQ(texts[1], texts[0]);
}

TEST(Picture, GreyFollowsBrightnessAndContrast) {
    CPicture pic;
    auto src = std::make_unique<Bitmap>(5, 1, Gdiplus::PixelFormat32bppARGB);
    src->SetPixel(0, 0, Gdiplus::Color(255, 255, 255, 255));
    src->SetPixel(1, 0, Gdiplus::Color(255, 100, 100, 100));
    src->SetPixel(2, 0, Gdiplus::Color(255, 250, 250, 250));
    src->SetPixel(3, 0, Gdiplus::Color(255, 255, 0, 0));
    src->SetPixel(4, 0, Gdiplus::Color(0, 0, 0, 0));  // transparent
    Bitmap* grey = nullptr;
    pic.ToGray(src.get(), &grey);
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey->GetPixelFormat(), Gdiplus::PixelFormat8bppIndexed);
    EXPECT_EQ(GreyAt(grey, 0, 0), 255);  // white stays white: no dot
    EXPECT_EQ(GreyAt(grey, 1, 0), 100);
    EXPECT_EQ(GreyAt(grey, 3, 0), 76);   // 0.299 * 255
    EXPECT_EQ(GreyAt(grey, 4, 0), 255);  // what shows through is white
    delete grey;

    PICTURE_PAR par;
    par.dContrast = 0.5;
    par.dBrightness = 0.1;
    pic.SetPicture(par);
    pic.ToGray(src.get(), &grey);
    EXPECT_EQ(GreyAt(grey, 1, 0), 111);  // 100 - 14 + 25.5
    EXPECT_EQ(GreyAt(grey, 2, 0), 255);  // past white
    delete grey;
    par.dBrightness = -2;
    pic.SetPicture(par);
    pic.ToGray(src.get(), &grey);
    EXPECT_EQ(GreyAt(grey, 0, 0), 0);
    delete grey;

    // Formats it does not convert come back as they are.
    Bitmap mono(2, 2, Gdiplus::PixelFormat1bppIndexed);
    pic.ToGray(&mono, &grey);
    EXPECT_EQ(grey, &mono);
}

TEST(Picture, DitheringAndNegative) {
    CPicture pic;
    auto mid = Grey(20, 20, [](int, int) { return 128; });
    Bitmap* bw = nullptr;
    pic.Binaryzation(mid.get(), &bw, 255);
    ASSERT_NE(bw, nullptr);
    int white = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) white += GreyAt(bw, x, y) == 255;
    EXPECT_EQ(white, 0);
    delete bw;
    // Half grey comes out about half white, evenly spread.
    pic.Binaryzation(mid.get(), &bw, 127);
    white = 0;
    int whiteTop = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const int v = GreyAt(bw, x, y);
            ASSERT_TRUE(v == 0 || v == 255);
            white += v == 255;
            whiteTop += v == 255 && y < 10;
        }
    EXPECT_NEAR(white, 200, 20);
    EXPECT_NEAR(whiteTop, 100, 15);
    delete bw;
    // Uneven grey against error diffusion done here from the kernel's
    // rows (0 0 x 7 5 / 3 5 7 5 3 / 1 3 5 3 1, in 48ths) on a byte copy.
    std::mt19937 random(7);
    std::vector<int> values(23 * 17);
    for (int& v : values) v = static_cast<int>(random() % 256);
    auto noisy = Grey(23, 17, [&](int x, int y) { return values[y * 23 + x]; });
    const int kernel[3][5] = {{0, 0, 0, 7, 5}, {3, 5, 7, 5, 3}, {1, 3, 5, 3, 1}};
    for (const int threshold : {127, 90}) {
        std::vector<int> work = values, want(values.size());
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 23; ++x) {
                const int v = work[y * 23 + x];
                want[y * 23 + x] = v > threshold ? 255 : 0;
                const int error = v > threshold ? v - 255 : v;
                for (int ky = 0; ky < 3; ++ky)
                    for (int kx = 0; kx < 5; ++kx) {
                        const int nx = x + kx - 2, ny = y + ky;
                        if (kernel[ky][kx] == 0 || nx < 0 || nx >= 23 || ny >= 17) continue;
                        int& n = work[ny * 23 + nx];
                        n = std::clamp(n + error * kernel[ky][kx] / 48, 0, 255);
                    }
            }
        pic.Binaryzation(noisy.get(), &bw, static_cast<BYTE>(threshold));
        ASSERT_NE(bw, nullptr);
        int differ = 0;
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 23; ++x) differ += GreyAt(bw, x, y) != want[y * 23 + x];
        EXPECT_EQ(differ, 0) << threshold;
        delete bw;
    }
    auto light = Grey(8, 8, [](int, int) { return 250; });
    pic.Binaryzation(light.get(), &bw, 127);
    white = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) white += GreyAt(bw, x, y) == 255;
    EXPECT_GE(white, 60);
    delete bw;

    auto ramp = Grey(3, 1, [](int x, int) { return x * 100; });
    Bitmap* grey = nullptr;
    pic.ToGray(ramp.get(), &grey);
    Bitmap* neg = nullptr;
    pic.ImageNegative(grey, &neg);
    EXPECT_EQ(GreyAt(neg, 0, 0), 255);
    EXPECT_EQ(GreyAt(neg, 2, 0), 55);
    delete neg;
    delete grey;
    Bitmap colour(1, 1, Gdiplus::PixelFormat24bppRGB);
    colour.SetPixel(0, 0, Gdiplus::Color(10, 20, 30));
    pic.ImageNegative(&colour, &neg);
    Gdiplus::Color c;
    neg->GetPixel(0, 0, &c);
    EXPECT_EQ(c.GetValue(), Gdiplus::Color(245, 235, 225).GetValue());
    delete neg;
}

TEST(Picture, DotsFollowTheScanOrder) {
    // 3 x 2 pixels, all dark but (1, 0): the picture spans x -0.15..0.15 and
    // y -0.1..0.1.
    PictureFile file(3, 2, [](int x, int y) { return x == 1 && y == 0 ? 255 : 0; });
    auto pic = Load(file);
    const float x0 = -0.15f, y0 = 0.1f;
    PICTURE_PAR par;
    pic->GetPicture(par);
    par.bRowScan = 1;
    par.bBidirection = 1;
    pic->SetPicture(par);
    ExpectDots(Dots(*pic), {DotOf(x0, y0, 0, 0), DotOf(x0, y0, 2, 0), DotOf(x0, y0, 2, 1), DotOf(x0, y0, 1, 1),
                            DotOf(x0, y0, 0, 1)});

    par.bRowScan = 0;
    par.bBidirection = 0;
    par.byHalfLine = 1;
    pic->SetPicture(par);
    ExpectDots(Dots(*pic), {DotOf(x0, y0, 0, 1), DotOf(x0, y0, 0, 2), DotOf(x0, y0, 1, 2), DotOf(x0, y0, 2, 1),
                            DotOf(x0, y0, 2, 2)});

    // Every second line and dot; the lines visited still alternate.
    PictureFile wide(5, 3, [](int, int) { return 0; });
    auto stepped = Load(wide);
    stepped->GetPicture(par);
    par.bDotStep = 1;
    par.nDotStep = 2;
    par.bBidirection = 1;
    stepped->SetPicture(par);
    const float wx0 = -0.25f, wy0 = 0.15f;
    ExpectDots(Dots(*stepped), {DotOf(wx0, wy0, 0, 0), DotOf(wx0, wy0, 2, 0), DotOf(wx0, wy0, 4, 0),
                                DotOf(wx0, wy0, 4, 2), DotOf(wx0, wy0, 2, 2), DotOf(wx0, wy0, 0, 2)});
}

TEST(Picture, MarkDataOfWhiteAndOfTurnedPictures) {
    PictureFile whiteFile(4, 4, [](int, int) { return 255; });
    auto blank = Load(whiteFile);
    tagMarkDataPar out;
    out.arrPaths.resize(2);
    EXPECT_FALSE(blank->GetMarkData(out, nullptr));
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_TRUE(Unlocked(*blank));

    // A turned picture marks turned, inside its outline.
    PictureFile file(4, 2, [](int x, int) { return x == 3 ? 0 : 255; });
    auto pic = Load(file);
    pic->SetPen(7);
    const std::vector<tagPOINTF> flat = Dots(*pic);
    pic->Rotate(90, {1.0f, 1.0f});
    tagMarkDataPar data;
    ASSERT_TRUE(pic->GetMarkData(data, nullptr));
    EXPECT_EQ(data.arrPaths[0].nPenIndex, 7);
    std::vector<tagPOINTF> want;
    for (const tagPOINTF& p : flat) want.push_back(CBaseShape::PointfRotate(p, {1.0f, 1.0f}, 90));
    ExpectDots(data.arrPaths[0].arrPolylines[0], want, 1e-3f);
    const Gdiplus::RectF bounds = RectOf(*pic);
    EXPECT_NEAR(data.rect.Width, bounds.Width, 1e-5);
    EXPECT_NEAR(bounds.Width, 0.2f, 1e-4);  // turned: the height is across
}

TEST(Picture, MarkDataIsRebuiltAfterEveryChange) {
    ViewAt at(10);
    PictureFile file(2, 2, [](int, int) { return 0; });
    auto pic = Load(file);
    pic->SetDocView(&at.doc, &at.view);
    const std::vector<tagPOINTF> first = Dots(*pic);
    ASSERT_EQ(first.size(), 4u);
    pic->Move(1.0f, 0.0f);
    std::vector<tagPOINTF> moved = Dots(*pic);
    EXPECT_NEAR(moved[0].x, first[0].x + 1.0f, 1e-5);
    pic->Zoom({0, 0}, 2, 2);
    moved = Dots(*pic);
    EXPECT_NEAR(moved[0].x, (first[0].x - 0.025f + 1.0f) * 2 + 0.05f, 1e-4);
    PICTURE_PAR par;
    pic->GetPicture(par);
    par.bNegative = 1;  // now every pixel is white
    pic->SetPicture(par);
    tagMarkDataPar out;
    EXPECT_FALSE(pic->GetMarkData(out, nullptr));
    EXPECT_TRUE(Unlocked(*pic));
}

TEST(Picture, TurnsKeepCornersAndDrawingTogether) {
    PictureFile file(40, 20, [](int, int) { return 0; });
    auto pic = Load(file);
    const float start = pic->fRotateAngle;
    const tagPOINTF centres[4] = {{10, 0}, {0, 5}, {-3, -3}, {7, 1}};
    for (const tagPOINTF& c : centres) {
        pic->Rotate(90, c);
        EXPECT_LT(pic->fRotateAngle, 360.0f);
        EXPECT_GE(pic->fRotateAngle, 0.0f);
    }
    EXPECT_NEAR(pic->fRotateAngle, start, 1e-3);

    // After turns about different centres the outline is where the turns
    // put it, and rectfPic turned about the pivot gives the same outline.
    auto other = Load(file);
    tagPOINTF expect[4];
    std::copy(std::begin(other->cornerPointf), std::end(other->cornerPointf), expect);
    other->Rotate(30, {10, 0});
    other->Rotate(45, {0, 5});
    for (tagPOINTF& p : expect) p = CBaseShape::PointfRotate(CBaseShape::PointfRotate(p, {10, 0}, 30), {0, 5}, 45);
    const Gdiplus::RectF& r = other->rectfPic;
    const tagPOINTF unturned[4] = {
        {r.X, r.Y - r.Height}, {r.X, r.Y}, {r.X + r.Width, r.Y}, {r.X + r.Width, r.Y - r.Height}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(Near(other->cornerPointf[i], expect[i], 1e-3f)) << i;
        EXPECT_TRUE(
            Near(CBaseShape::PointfRotate(unturned[i], other->rotatePointf, -other->fRotateAngle), expect[i], 1e-3f))
            << i;
    }

    // Drawn: the image's top-left, top-right and bottom-left corners land on
    // the outline's; a move preview outlines the shifted corners.
    ViewAt at(10);
    other->SetDocView(&at.doc, &at.view);
    RecordingCanvas canvas(400, 400);
    CDC dc(&canvas);
    other->Draw(&dc, nullptr, RGB(255, 0, 0), 0, 0, 0, 0, 5.0f, 0.0f);
    const auto records = canvas.Records();
    ASSERT_EQ(records.size(), 2u);
    ASSERT_EQ(records[0].op, CanvasOp::Image);
    const int order[3] = {1, 2, 0};
    for (int i = 0; i < 3; ++i) {
        Gdiplus::PointF dev;
        at.view.LP2DP(10, other->cornerPointf[order[i]], dev, 0);
        EXPECT_NEAR(records[0].points[i].X, dev.X + 5.0f, 1e-2);
        EXPECT_NEAR(records[0].points[i].Y, dev.Y, 1e-2);
    }
    EXPECT_EQ(records[1].op, CanvasOp::Polygon);
    EXPECT_EQ(records[1].pen.argb, 0xFFFF0000u);
}

TEST(Picture, ZoomFollowsTheResolution) {
    PictureFile file(100, 50, [](int, int) { return 0; });
    auto pic = Load(file);
    PICTURE_PAR par;
    pic->GetPicture(par);
    par.nDpiX = par.nDpiY = 254;
    pic->SetPicture(par);
    pic->GetDisplayBmp();
    pic->GetPicture(par);
    ASSERT_EQ(par.bRebuildScreen, 0);
    pic->Zoom({pic->rectfPic.X, pic->rectfPic.Y}, 2, 2);
    EXPECT_NEAR(pic->rectfPic.Width, 20.0f, 1e-4);
    EXPECT_NEAR(pic->rectfPic.X, -5.0f, 1e-4);
    EXPECT_TRUE(Near(pic->cornerPointf[0], {-5, -7.5f}));
    pic->GetPicture(par);
    EXPECT_EQ(par.bRebuildScreen, 1);
    // The bitmap keeps its pixels, so its resolution halves.
    EXPECT_EQ(par.nDpiX, 127);
    EXPECT_NEAR(par.dInvRatioX, 0.5, 1e-6);
    // With the resolution switch the marking bitmap is sized from it.
    par.bUseDpi = 1;
    par.nDpiX = par.nDpiY = 127;
    pic->SetPicture(par);
    std::unique_ptr<Bitmap> net(pic->GetNetDotBmp());
    EXPECT_EQ(net->GetWidth(), 100u);
    EXPECT_EQ(net->GetPixelFormat(), Gdiplus::PixelFormat8bppIndexed);
}

TEST(Picture, SavedPicturesComeBackWithoutTheirFile) {
    HostScope scope;
    std::vector<uint8_t> bytes;
    std::unique_ptr<CPicture> pic;
    {
        PictureFile file(5, 3, [](int x, int y) { return x * 50 + y; });
        pic = Load(file);
    }
    pic->SetCaption(L"Logo");
    pic->Rotate(30, {2, 2});
    bytes = SavedShape(*pic);
    EXPECT_EQ(pic->bmWidthBytes * pic->bmHeight, static_cast<int32_t>(pic->bmBits.size()));
    const auto backRead = ReadBack(bytes);
    CPicture& back = *backRead;
    EXPECT_TRUE(scope.Texts().empty());
    EXPECT_STREQ(back.GetCaption().GetString(), L"Logo");
    ASSERT_NE(back.GetBitmap(), nullptr);
    ASSERT_EQ(back.GetBitmap()->GetWidth(), 5u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(GreyAt(back.GetBitmap(), x, y), x * 50 + y) << x << "," << y;
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(Near(back.cornerPointf[i], pic->cornerPointf[i]));
    EXPECT_NEAR(back.fRotateAngle, pic->fRotateAngle, 1e-4);
    EXPECT_EQ(Dots(back).size(), Dots(*pic).size());

    // Pixels shorter than their description are refused, not read past.
    CPicture damaged;
    SriFile again(bytes.data(), bytes.size());
    damaged.Read(false, &again);
    damaged.bmBits.resize(damaged.bmBits.size() / 2);
    damaged.RestoreAfterRead();
    EXPECT_EQ(damaged.GetBitmap(), nullptr);
    ASSERT_EQ(scope.Texts().size(), 1u);
    EXPECT_EQ(scope.Texts()[0], CLang::Instance()->GetString("IDS_PICTYPE_ERR").GetString());
    tagMarkDataPar none;
    EXPECT_FALSE(damaged.GetMarkData(none, nullptr));
}

TEST(Picture, ClonesKeepTheImageWhenTheFileIsGone) {
    std::unique_ptr<CPicture> pic;
    {
        PictureFile file(6, 4, [](int, int) { return 30; });
        pic = Load(file);
    }
    pic->SetPen(3);
    pic->Move(2, 1);
    std::unique_ptr<CBaseShape> copy(pic->Clone());
    auto* clone = dynamic_cast<CPicture*>(copy.get());
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(std::wstring(clone->GetCaption().GetString()), std::wstring(L"Copy of ") + pic->GetCaption().GetString());
    ASSERT_NE(clone->GetBitmap(), nullptr);
    EXPECT_NE(clone->GetBitmap(), pic->GetBitmap());
    EXPECT_EQ(clone->GetPenIndex(), 3);
    EXPECT_TRUE(Near(clone->cornerPointf[1], pic->cornerPointf[1]));
    EXPECT_EQ(Dots(*clone).size(), 24u);
}

TEST(Picture, ResizesKeepAspectAndRefuseEmptySizes) {
    HostScope scope;
    CPicture pic;
    auto src = Grey(400, 100, [](int x, int) { return x < 200 ? 0 : 255; });
    std::unique_ptr<Bitmap> fit(pic.ResizeBitmap(src.get(), 100, 50, 300, 600, true));
    ASSERT_TRUE(fit);
    EXPECT_EQ(fit->GetWidth(), 200u);  // the smaller ratio, 2, for both sides
    EXPECT_EQ(fit->GetHeight(), 50u);
    EXPECT_FLOAT_EQ(fit->GetVerticalResolution(), 600.0f);
    EXPECT_EQ(GreyAt(fit.get(), 10, 10), 0);
    EXPECT_EQ(GreyAt(fit.get(), 190, 10), 255);
    EXPECT_EQ(pic.ResizeBitmap(src.get(), 0, 10, 300, 300, false), nullptr);
    ASSERT_EQ(scope.Texts().size(), 1u);
    EXPECT_EQ(scope.Texts()[0], std::wstring(CLang::Instance()->GetString("MSG_PARAMETER_INCORRECT").GetString()));

    // An indexed picture keeps its own colours.
    Bitmap indexed(4, 4, Gdiplus::PixelFormat8bppIndexed);
    std::vector<uint8_t> buffer(static_cast<size_t>(indexed.GetPaletteSize()));
    auto* palette = reinterpret_cast<Gdiplus::ColorPalette*>(buffer.data());
    indexed.GetPalette(palette, static_cast<INT>(buffer.size()));
    const Gdiplus::ARGB red = 0xFFFF0000u;
    std::memcpy(buffer.data() + offsetof(Gdiplus::ColorPalette, Entries), &red, 4);  // index 0
    indexed.SetPalette(palette);
    std::unique_ptr<Bitmap> twice(pic.ResizeBitmap(&indexed, 8, 8, 96, 96, false));
    Gdiplus::Color c;
    twice->GetPixel(5, 5, &c);
    EXPECT_EQ(c.GetValue(), red);
}

TEST(Picture, ReinitReloadsAtTheFixedSizeAndAnchor) {
    PictureFile file(100, 50, [](int, int) { return 0; });
    auto pic = Load(file);
    pic->Move(30, 30);
    PICTURE_PAR par;
    pic->GetPicture(par);
    par.bReinit = 1;
    par.bFixWidth = 1;
    par.fFixWidth = 20;
    par.nAnchor = 0;
    par.ptAnchor = {5, 5};
    pic->SetPicture(par);
    std::unique_ptr<Bitmap> net(pic->GetNetDotBmp());
    ASSERT_TRUE(net);
    EXPECT_NEAR(pic->rectfPic.Width, 20.0f, 1e-4);
    EXPECT_NEAR(pic->rectfPic.Height, 5.0f, 1e-4);
    EXPECT_TRUE(Near(pic->cornerPointf[0], {5, 5}));
    EXPECT_TRUE(Unlocked(*pic));
}

TEST(Picture, ClipboardDibsAndScreenCopies) {
    HostScope scope;
    // A packed 3 x 1 DIB of 4 bits with two colours stored.
    BITMAPINFOHEADER h = DibHeader(3, 1, 4);
    h.biClrUsed = 2;
    h.biXPelsPerMeter = 10000;
    h.biYPelsPerMeter = 5000;
    // The colour table, then pixel 0 white, pixel 1 black, pixel 2 white.
    HGLOBAL mem = Dib(h, {0, 0, 0, 0, 255, 255, 255, 0, 0x10, 0x10, 0, 0});
    CDIB dib(mem);
    ASSERT_TRUE(dib.IsValid());
    EXPECT_EQ(dib.GetColorCount(), 16);
    CPicture pic;
    ASSERT_EQ(pic.InitBmp(mem, 0), 1);
    EXPECT_EQ(pic.GetBitmap()->GetPixelFormat(), Gdiplus::PixelFormat24bppRGB);
    EXPECT_EQ(GreyAt(pic.GetBitmap(), 0, 0), 255);
    EXPECT_EQ(GreyAt(pic.GetBitmap(), 1, 0), 0);
    EXPECT_EQ(GreyAt(pic.GetBitmap(), 2, 0), 255);
    EXPECT_NEAR(pic.rectfPic.Width, 0.3f, 1e-4);
    EXPECT_NEAR(pic.rectfPic.Height, 0.2f, 1e-4);
    // The block claims more rows than it holds.
    uint8_t* p = static_cast<uint8_t*>(GlobalLock(mem));
    h.biHeight = 50;
    std::memcpy(p, &h, sizeof h);
    GlobalUnlock(mem);
    EXPECT_FALSE(CDIB(mem).IsValid());
    EXPECT_EQ(pic.InitBmp(mem, 0), 0);
    EXPECT_EQ(scope.Texts().size(), 1u);
    GlobalFree(mem);

    RECT past{kDisplayWidth - 20, kDisplayHeight - 80, kDisplayWidth + 100, kDisplayHeight + 100};
    HBITMAP shot = pic.CopyScreenToBitmap(&past);
    ASSERT_NE(shot, nullptr);
    BITMAP bm{};
    GetObject(shot, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 20);
    EXPECT_EQ(bm.bmHeight, 80);
    DeleteObject(shot);
    RECT empty{10, 10, 10, 40};
    EXPECT_EQ(pic.CopyScreenToBitmap(&empty), nullptr);
}

// Clipboard pictures of 24 bits whose rows are padded to four bytes, stored
// bottom-up and top-down: every pixel comes back where it was written.
TEST(Picture, ClipboardDibsWithPaddedRowsKeepEveryPixel) {
    HostScope scope;
    const auto colour = [](int x, int y) {
        return std::array<int, 3>{17 + 31 * x + 5 * y, 240 - 29 * y - 3 * x, 30 + 7 * x * y + 5 * x + 3 * y};
    };
    for (const int width : {3, 5}) {
        for (const int height : {7, -7}) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
            const int rows = std::abs(height), stride = (width * 3 + 3) / 4 * 4;
            std::vector<uint8_t> pixels(static_cast<size_t>(stride * rows), 0xEE);  // the padding too
            for (int y = 0; y < rows; ++y) {
                uint8_t* row = pixels.data() + static_cast<size_t>(stride * (height > 0 ? rows - 1 - y : y));
                for (int x = 0; x < width; ++x)
                    for (int k = 0; k < 3; ++k) row[x * 3 + k] = static_cast<uint8_t>(colour(x, y)[2 - k]);  // B G R
            }
            HGLOBAL mem = Dib(DibHeader(width, height, 24), pixels);
            CPicture pic;
            ASSERT_EQ(pic.InitBmp(mem, 0), 1);
            GlobalFree(mem);
            Bitmap* b = pic.GetBitmap();
            ASSERT_EQ(b->GetWidth(), static_cast<UINT>(width));
            ASSERT_EQ(b->GetHeight(), static_cast<UINT>(rows));
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < width; ++x) {
                    Gdiplus::Color c;
                    b->GetPixel(x, y, &c);
                    EXPECT_EQ((std::array<int, 3>{c.GetR(), c.GetG(), c.GetB()}), colour(x, y)) << x << "," << y;
                }
        }
    }
}

// Mirrors, negative zooms and slants that keep the picture a rectangle move
// every marked dot as the transform moves a point; other slants are refused.
TEST(Picture, MirrorsAndSlantsMoveEveryDotAsAPoint) {
    // Three dark pixels of an uneven 6 x 3 image; 0.1 mm pixels.
    const std::vector<std::pair<int, int>> dark = {{1, 0}, {4, 2}, {5, 1}};
    PictureFile file(6, 3, [&](int x, int y) {
        return std::find(dark.begin(), dark.end(), std::make_pair(x, y)) != dark.end() ? 0 : 255;
    });
    const tagPOINTF f{0.37f, -1.21f};
    using Map = std::function<tagPOINTF(tagPOINTF)>;
    struct Row {
        const char* name;
        double turn;  // degrees, about (2, 1), before the transform
        std::function<int(CPicture&)> apply;
        Map point;  // what the transform does to a point; null: refused
    };
    const Row rows[] = {
        {"mirror x", 0, [&](CPicture& p) { return p.Mirror(f, 1); },
         [&](tagPOINTF p) { return tagPOINTF{2 * f.x - p.x, p.y}; }},
        {"mirror y turned", 33, [&](CPicture& p) { return p.Mirror(f, 2); },
         [&](tagPOINTF p) { return tagPOINTF{p.x, 2 * f.y - p.y}; }},
        {"mirror both turned", 250, [&](CPicture& p) { return p.Mirror(f, 3); },
         [&](tagPOINTF p) { return tagPOINTF{2 * f.x - p.x, 2 * f.y - p.y}; }},
        {"zoom -1.5, 0.7", 0, [&](CPicture& p) { return p.Zoom(f, -1.5, 0.7) + 1; },
         [&](tagPOINTF p) { return tagPOINTF{f.x - 1.5f * (p.x - f.x), f.y + 0.7f * (p.y - f.y)}; }},
        {"zoom 0.8, -2.5", 0, [&](CPicture& p) { return p.Zoom(f, 0.8, -2.5) + 1; },
         [&](tagPOINTF p) { return tagPOINTF{f.x + 0.8f * (p.x - f.x), f.y - 2.5f * (p.y - f.y)}; }},
        {"zoom -1.3, 1.3 turned", 71, [&](CPicture& p) { return p.Zoom(f, -1.3, 1.3) + 1; },
         [&](tagPOINTF p) { return tagPOINTF{f.x - 1.3f * (p.x - f.x), f.y + 1.3f * (p.y - f.y)}; }},
        // x + (y - fy) tan a with y - (x - fx) tan a: a turn with a scale.
        {"slant a, -a turned", 20, [&](CPicture& p) { return p.Slope(f, 0.3, -0.3); },
         [&](tagPOINTF p) { return CBaseShape::PointfSlope(p, 0.3, -0.3, f); }},
        // Symmetric: the picture's diagonals are its axes, one reversed.
        {"slant a, a turned 45", 45, [&](CPicture& p) { return p.Slope(f, std::atan(2.0), std::atan(2.0)); },
         [&](tagPOINTF p) { return CBaseShape::PointfSlope(p, std::atan(2.0), std::atan(2.0), f); }},
        {"slant x", 0, [&](CPicture& p) { return p.Slope(f, 0.3, 0); }, nullptr},
        {"slant y turned", 45, [&](CPicture& p) { return p.Slope(f, 0, -0.2); }, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto pic = Load(file);
        const tagPOINTF pivot{2, 1};
        if (row.turn != 0) pic->Rotate(row.turn, pivot);
        // The dots of the untransformed picture from the scan formula
        // (rows first), turned as the picture was.
        std::vector<tagPOINTF> expect;
        for (int r = 0; r < 3; ++r)
            for (int col = 0; col < 6; ++col)
                if (std::find(dark.begin(), dark.end(), std::make_pair(col, r)) != dark.end()) {
                    tagPOINTF d = DotOf(-0.3f, 0.15f, col, r);
                    if (row.turn != 0) d = CBaseShape::PointfRotate(d, pivot, row.turn);
                    expect.push_back(row.point ? row.point(d) : d);
                }
        const std::vector<uint8_t> before = SavedShape(*pic);
        const int result = row.apply(*pic);
        EXPECT_EQ(result, row.point ? 1 : CBaseShape::kRefused);
        if (!row.point) {
            EXPECT_EQ(SavedShape(*pic), before);
        }
        const std::vector<tagPOINTF> dots = Dots(*pic);
        ExpectDots(dots, expect, 2e-4f);
        // The outline is where the transform puts the corners, and a read
        // back picture marks the same.
        auto back = ReadBack(SavedShape(*pic));
        EXPECT_EQ(back->IsMirrored(), pic->IsMirrored());
        ExpectDots(Dots(*back), dots);
    }
}

// A picture read from a file saves the bytes it was read from.
TEST(Picture, ReadBackPicturesSaveTheSameBytes) {
    PictureFile file(5, 3, [](int x, int y) { return (x * 40 + y * 70) % 256; });
    std::mt19937 random(20261209);
    std::uniform_real_distribution<float> offset(-80.0f, 80.0f);
    std::uniform_real_distribution<double> angle(-400.0, 400.0);
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        auto pic = Load(file);
        for (int step = 0; step < 3; ++step) {
            pic->Move(offset(random), offset(random));
            if (i % 2 == 1) pic->Rotate(angle(random), {offset(random), offset(random)});
        }
        if (i % 5 == 2) pic->Mirror({offset(random), 0.7f}, 1 + i % 3);
        if (i % 3 == 0) pic->GetDisplayBmp();  // drawn before the save
        const std::vector<uint8_t> first = SavedShape(*pic);
        auto back = ReadBack(first);
        EXPECT_EQ(SavedShape(*back), first);
        EXPECT_NE(back->GetDisplayBmp(), nullptr);  // and it has its screen image
    }
    // A file whose pivot is not the picture's centre (the last turn's
    // centre) is brought to the centre of its corners; the corners stay.
    auto pic = Load(file);
    pic->Rotate(40, {3, 2});
    pic->rotatePointf = {3, 2};
    auto back = ReadBack(SavedShape(*pic));
    const tagPOINTF centre{(pic->cornerPointf[0].x + pic->cornerPointf[2].x) / 2,
                           (pic->cornerPointf[0].y + pic->cornerPointf[2].y) / 2};
    EXPECT_TRUE(Near(back->rotatePointf, centre));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(Near(back->cornerPointf[i], pic->cornerPointf[i])) << i;
}

// NaN, infinities, FLT_MAX and 1e30 in every transform and in the
// parameters: a call that cannot give finite numbers changes nothing, and
// nothing that is not finite reaches the dots, the rectangle or the file.
TEST(Picture, UnusableNumbersAreRefusedWhole) {
    PictureFile file(6, 3, [](int x, int y) { return (x + 2 * y) % 3 == 0 ? 0 : 255; });
    const float inf = std::numeric_limits<float>::infinity();
    const float values[] = {std::numeric_limits<float>::quiet_NaN(), inf, -inf, FLT_MAX, -FLT_MAX, 1e30f};
    // The transforms come first: a refused one answers kRefused, a refused
    // setting 0.
    using Call = std::function<int(CPicture&, float)>;
    auto setting = [](std::function<void(PICTURE_PAR&, float)> set) {
        return [set](CPicture& p, float v) {
            PICTURE_PAR par;
            p.GetPicture(par);
            set(par, v);
            return p.SetPicture(par);
        };
    };
    const std::pair<const char*, Call> calls[] = {
        {"move x", [](CPicture& p, float v) { return p.Move(v, 0.3f); }},
        {"move y", [](CPicture& p, float v) { return p.Move(0.2f, v); }},
        {"rotate", [](CPicture& p, float v) { return p.Rotate(v, {1.1f, 2.3f}); }},
        {"rotate about x", [](CPicture& p, float v) { return p.Rotate(37, {v, 1}); }},
        {"rotate about y", [](CPicture& p, float v) { return p.Rotate(37, {1, v}); }},
        {"zoom x", [](CPicture& p, float v) { return p.Zoom({0.5f, 0.2f}, v, 1.3); }},
        {"zoom y", [](CPicture& p, float v) { return p.Zoom({0.5f, 0.2f}, -0.7, v); }},
        {"zoom about", [](CPicture& p, float v) { return p.Zoom({v, 0.1f}, 1.3, -1.3); }},
        {"slant", [](CPicture& p, float v) { return p.Slope({0.5f, 0.2f}, v, -v); }},
        {"slant about", [](CPicture& p, float v) { return p.Slope({0.4f, v}, 0.3, -0.3); }},
        {"mirror about x", [](CPicture& p, float v) { return p.Mirror({v, 0.4f}, 1); }},
        {"mirror about y", [](CPicture& p, float v) { return p.Mirror({0.3f, v}, 3); }},
        {"brightness", setting([](PICTURE_PAR& par, float v) { par.dBrightness = v; })},
        {"contrast", setting([](PICTURE_PAR& par, float v) { par.dContrast = v; })},
        {"ratio", setting([](PICTURE_PAR& par, float v) { par.dInvRatioY = v; })},
        {"fixed width", setting([](PICTURE_PAR& par, float v) {
             par.bReinit = par.bFixWidth = 1;
             par.fFixWidth = v;
         })},
        {"anchor", setting([](PICTURE_PAR& par, float v) {
             par.bReinit = 1;
             par.ptAnchor = {0.5f, v};
         })},
    };
    auto finitePicture = [](const CPicture& p) {
        const PICTURE_PAR& par = p.PICTUREPAR;
        return geom::Finite(p.rectfPic) && std::isfinite(p.fRotateAngle) && geom::Finite(p.rotatePointf) &&
               std::all_of(std::begin(p.cornerPointf), std::end(p.cornerPointf),
                           [](tagPOINTF c) { return geom::Finite(c); }) &&
               geom::AllFinite(par.dBrightness, par.dContrast, par.dInvRatioX, par.dInvRatioY, par.fFixWidth,
                               par.fFixHeight, par.ptAnchor.x, par.ptAnchor.y);
    };
    constexpr size_t kTransforms = 12;
    for (size_t i = 0; i < std::size(calls); ++i) {
        const auto& [name, call] = calls[i];
        for (const float v : values) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(v));
            auto pic = Load(file);
            pic->Rotate(25, {1, -1});
            pic->Move(3.3f, 0.7f);
            const std::vector<uint8_t> before = SavedShape(*pic);
            const int result = call(*pic, v);
            if (!std::isfinite(v)) {
                EXPECT_EQ(result, i < kTransforms ? CBaseShape::kRefused : 0);
                EXPECT_EQ(SavedShape(*pic), before);
            }
            ASSERT_TRUE(finitePicture(*pic));
            EXPECT_TRUE(geom::Finite(RectOf(*pic)));
            // Every dot finite, and where the corners put its pixel: a
            // quarter pixel right of and above the pixel's top-left corner.
            tagMarkDataPar out;
            if (pic->GetMarkData(out, nullptr)) {
                EXPECT_TRUE(geom::Finite(out.rect));
                const tagPOINTF bl = pic->cornerPointf[0], tl = pic->cornerPointf[1], tr = pic->cornerPointf[2];
                // Far out, float keeps fewer digits of a dot.
                const double size = std::max(geom::Dist(tl, tr), geom::Dist(tl, bl)) +
                                    10 * std::max({std::fabs(tl.x), std::fabs(tl.y), 1.0f});
                // The dots of the dark pixels in scan order; where brightness
                // or contrast changed which pixels are dark, each dot still
                // lies on some pixel's place.
                const std::vector<tagPOINTF>& dots = out.arrPaths.at(0).arrPolylines.at(0);
                std::vector<tagPOINTF> expect, every;
                for (int row = 0; row < 3; ++row)
                    for (int col = 0; col < 6; ++col) {
                        const double u = (col + 0.25) / 6, w = (row - 0.25) / 3;
                        every.push_back({static_cast<float>(tl.x + u * (tr.x - tl.x) + w * (bl.x - tl.x)),
                                         static_cast<float>(tl.y + u * (tr.y - tl.y) + w * (bl.y - tl.y))});
                        if ((col + 2 * row) % 3 == 0) expect.push_back(every.back());
                    }
                const bool same = dots.size() == expect.size();
                ASSERT_LE(dots.size(), every.size());
                for (size_t i = 0; i < dots.size(); ++i) {
                    ASSERT_TRUE(geom::Finite(dots[i]));
                    double nearest = geom::Dist(dots[i], same ? expect[i] : every[0]);
                    for (const tagPOINTF& e : every)
                        if (!same) nearest = std::min(nearest, geom::Dist(dots[i], e));
                    EXPECT_LE(nearest, 1e-5 * size) << i;
                }
            }
            EXPECT_TRUE(finitePicture(*ReadBack(SavedShape(*pic))));
        }
    }
}

// One answer for a refused transform across the kinds: NaN, an infinity, a
// fixed point or centre that is not finite, or a second zoom by 1e30 that
// would leave float answers kRefused and changes no saved byte; a sound
// transform never answers kRefused.
TEST(EveryKind, RefusedTransformAnswersKRefusedAndChangesNoByte) {
    HostScope host;
    PictureFile file(6, 3, [](int x, int y) { return (x * 3 + y) % 4 == 0 ? 0 : 255; });
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    using Make = std::function<std::unique_ptr<CBaseShape>()>;
    // The second member marks a kind whose anchor follows only moves and
    // mirrors.
    const std::tuple<const char*, Make, bool> kinds[] = {
        {"picture", [&] { std::unique_ptr<CBaseShape> p = Load(file); p->Rotate(17, {0.4f, -0.2f}); return p; }, false},
        {"circle", [] { auto c = std::make_unique<CCircle>(); c->InitCircle(3.5f, -1, 0, 2.25f);
                        return std::unique_ptr<CBaseShape>(std::move(c)); }, false},
        {"ellipse", [] { auto e = std::make_unique<CEllipseArc>(); e->InitArcPath(Gdiplus::RectF(-2, 1, 7, 3), false);
                         return std::unique_ptr<CBaseShape>(std::move(e)); }, false},
        {"rectangle", [] { auto r = std::make_unique<CRectangle>(); r->InitRectangle({-1.5f, 4, 6, 2.5f});
                           return std::unique_ptr<CBaseShape>(std::move(r)); }, false},
        {"polygon", [] { auto p = std::make_unique<CPolygon>(); p->InitPolygon({0.5f, 3, 5, 4}, 5);
                         return std::unique_ptr<CBaseShape>(std::move(p)); }, false},
        {"polyline", [] { auto l = std::make_unique<CPolyLine>(); l->arrPoint = {{0.5f, 1}, {7.25f, -3}, {2, 6}};
                          return std::unique_ptr<CBaseShape>(std::move(l)); }, false},
        {"point", [] { auto p = std::make_unique<CPoints>(); p->InitPoint({3.25f, -1.5f});
                       return std::unique_ptr<CBaseShape>(std::move(p)); }, false},
        {"curve", [] { auto c = std::make_unique<CBezierCurve>();
                       CBezierCurve::AppendArcThrough3Points(c->arrSegment, {1, 0.5f}, {3, 3.5f}, {6, 1});
                       return std::unique_ptr<CBaseShape>(std::move(c)); }, false},
        {"spiral", [] { auto s = std::make_unique<CScrewLine>(); SCREW_PAR par; par.m_fMinRadius = 0.7f;
                        par.m_fMinGap = 0.9f; Gdiplus::RectF rect(1, 9, 11, 7); s->SetParam(par, &rect);
                        s->WaitForLoopPath(); return std::unique_ptr<CBaseShape>(std::move(s)); }, false},
        {"input", [] { auto i = std::make_unique<CInput>(); i->InitInput({0.25f, 1});
                       return std::unique_ptr<CBaseShape>(std::move(i)); }, true},
    };
    using Op = std::function<int(CBaseShape&)>;
    // The third member: the call moves the anchor of a control.
    const std::tuple<const char*, Op, bool> refused[] = {
        {"move nan", [&](CBaseShape& s) { return s.Move(nan, 1); }, true},
        {"move +inf", [&](CBaseShape& s) { return s.Move(0.5f, inf); }, true},
        {"rotate nan", [&](CBaseShape& s) { return s.Rotate(nan, {1, 2}); }, false},
        {"rotate about inf", [&](CBaseShape& s) { return s.Rotate(41, {inf, 2}); }, false},
        {"zoom nan", [&](CBaseShape& s) { return s.Zoom({1, -2}, 1.3, nan); }, false},
        {"zoom about -inf", [&](CBaseShape& s) { return s.Zoom({-inf, 0.5f}, 1.7, 0.6); }, false},
        {"zoom 1e30 twice", [&](CBaseShape& s) { return s.Zoom({0.3f, -1}, 1e30, 1e30); }, false},
        {"slope inf", [&](CBaseShape& s) { return s.Slope({1, 2}, inf, 0.2); }, false},
        {"slope about nan", [&](CBaseShape& s) { return s.Slope({1, nan}, 0.3, -0.3); }, false},
        {"mirror about nan", [&](CBaseShape& s) { return s.Mirror({nan, 2}, 1); }, true},
        {"mirror about inf", [&](CBaseShape& s) { return s.Mirror({0.5f, inf}, 3); }, true},
    };
    for (const auto& [kind, make, anchorOnly] : kinds) {
        for (const auto& [name, op, movesAnchor] : refused) {
            if (anchorOnly && !movesAnchor) continue;
            SCOPED_TRACE(std::string(kind) + ": " + name);
            std::unique_ptr<CBaseShape> shape = make();
            if (std::string(name) == "zoom 1e30 twice") op(*shape);
            const std::vector<uint8_t> before = SavedShape(*shape);
            EXPECT_EQ(op(*shape), CBaseShape::kRefused);
            EXPECT_EQ(SavedShape(*shape), before);
        }
        SCOPED_TRACE(kind);
        std::unique_ptr<CBaseShape> shape = make();
        std::vector<uint8_t> before = SavedShape(*shape);
        EXPECT_NE(shape->Move(1.5f, -0.75f), CBaseShape::kRefused);
        EXPECT_NE(shape->Mirror({0.4f, 1.1f}, 2), CBaseShape::kRefused);
        EXPECT_NE(SavedShape(*shape), before);
        if (anchorOnly) continue;
        before = SavedShape(*shape);
        EXPECT_NE(shape->Rotate(23, {1, 2}), CBaseShape::kRefused);
        EXPECT_NE(shape->Zoom({0.3f, -1}, 1.7, 0.6), CBaseShape::kRefused);
        EXPECT_NE(shape->Slope({0.3f, -1}, 0.3, -0.3), CBaseShape::kRefused);
        EXPECT_NE(SavedShape(*shape), before);
    }
}

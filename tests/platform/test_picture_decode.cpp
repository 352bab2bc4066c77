// Decoding pictures in every format from files written the way other
// programs write them, and clean failures for cut and hostile files.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/picture_files.h"

using namespace Gdiplus;
using picture_files::Bytes;
using picture_files::DecodeBytes;

namespace {

ARGB Rgb(int r, int g, int b, int a = 255) {
    return Color::MakeARGB(static_cast<BYTE>(a), static_cast<BYTE>(r), static_cast<BYTE>(g), static_cast<BYTE>(b));
}

// Distinct colours on the pixels of small pictures.
int R(int x, int y) { return (x * 37 + y * 11) & 0xFF; }
int G(int x, int y) { return (x * 5 + y * 71 + 9) & 0xFF; }
int B(int x, int y) { return (x * x * 13 + y * 3 + 200) & 0xFF; }
ARGB Pattern(int x, int y) { return Rgb(R(x, y), G(x, y), B(x, y)); }

// Channel bytes of a picture, per pixel.
Bytes Samples(int w, int h, const std::function<Bytes(int, int)>& pixel) {
    Bytes out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bytes p = pixel(x, y);
            out.insert(out.end(), p.begin(), p.end());
        }
    return out;
}

// A file, what it decodes to, and how close the pixels must come (JPEG
// only at the given points, away from the edges of its flat blocks).
struct Expect {
    std::string name;
    Bytes file;
    PixelFormat format;
    int width, height;
    std::function<ARGB(int, int)> pixel;
    int tolerance = 0;
    std::vector<std::pair<int, int>> points = {};
};

void Check(const Expect& e) {
    SCOPED_TRACE(e.name);
    auto b = DecodeBytes(e.file);
    ASSERT_TRUE(b);
    ASSERT_EQ(b->GetLastStatus(), Ok);
    ASSERT_EQ(b->GetWidth(), static_cast<UINT>(e.width));
    ASSERT_EQ(b->GetHeight(), static_cast<UINT>(e.height));
    EXPECT_EQ(b->GetPixelFormat(), e.format);
    auto compare = [&](int x, int y) {
        Color c;
        ASSERT_EQ(b->GetPixel(x, y, &c), Ok);
        const ARGB got = c.GetValue(), want = e.pixel(x, y);
        for (int shift = 0; shift < 32; shift += 8) {
            EXPECT_NEAR(static_cast<int>((got >> shift) & 0xFF), static_cast<int>((want >> shift) & 0xFF), e.tolerance)
                << "pixel " << x << "," << y << " bits " << shift;
        }
    };
    if (e.points.empty()) {
        for (int y = 0; y < e.height; ++y)
            for (int x = 0; x < e.width; ++x) compare(x, y);
    } else {
        for (auto [x, y] : e.points) compare(x, y);
    }
}

// Bits c of n widened to 8 by repetition, as GDI reads 5-5-5 and 5-6-5.
int Widen(int c, int n) { return n == 5 ? (c << 3 | c >> 2) : (c << 2 | c >> 4); }

std::vector<Expect> BmpForms() {
    using picture_files::Bmp;
    using picture_files::BmpRows;
    const int w = 5, h = 3;
    std::vector<Expect> out;
    auto add = [&](uint32_t header, bool topDown, int bpp, uint32_t compression, std::vector<uint32_t> palette,
                   std::vector<uint32_t> masks, std::function<uint32_t(int, int)> raw, PixelFormat format,
                   std::function<ARGB(int, int)> pixel) {
        const std::string name = "bmp " + std::to_string(header) + "/" + std::to_string(bpp) + "/" +
                                 std::to_string(compression) + (topDown ? " top-down" : "");
        out.push_back({name, Bmp(header, w, topDown ? -h : h, bpp, compression, palette, BmpRows(w, h, bpp, !topDown, raw), masks),
                       format, w, h, pixel});
    };
    for (uint32_t header : {12u, 40u, 52u, 56u, 108u, 124u}) {
        for (bool topDown : {false, true}) {
            if (header == 12 && topDown) continue;  // the core header's height has no sign
            for (int bpp : {1, 4, 8}) {
                const int n = std::min(1 << bpp, 16);
                std::vector<uint32_t> palette;
                for (int i = 0; i < n; ++i) palette.push_back(static_cast<uint32_t>(Rgb(i * 16, 255 - i * 9, i * i)) & 0xFFFFFF);
                auto index = [n](int x, int y) { return static_cast<uint32_t>((x * 3 + y * 5) % n); };
                add(header, topDown, bpp, BI_RGB, palette, {}, index, PixelFormat24bppRGB,
                    [=](int x, int y) { return 0xFF000000u | palette[index(x, y)]; });
            }
            add(header, topDown, 24, BI_RGB, {}, {}, [](int x, int y) { return Pattern(x, y) & 0xFFFFFF; },
                PixelFormat24bppRGB, Pattern);
            if (header == 12) continue;
            // 5-5-5, and 5-6-5 through bit fields.
            auto c5 = [](int x, int y, int k) { return (x * 7 + y * k + k) % 32; };
            add(header, topDown, 16, BI_RGB, {}, {},
                [=](int x, int y) { return static_cast<uint32_t>(c5(x, y, 1) << 10 | c5(x, y, 9) << 5 | c5(x, y, 3)); },
                PixelFormat24bppRGB,
                [=](int x, int y) { return Rgb(Widen(c5(x, y, 1), 5), Widen(c5(x, y, 9), 5), Widen(c5(x, y, 3), 5)); });
            add(header, topDown, 16, BI_BITFIELDS, {}, {0xF800, 0x07E0, 0x001F},
                [=](int x, int y) { return static_cast<uint32_t>(c5(x, y, 1) << 11 | (c5(x, y, 9) * 2 + 1) << 5 | c5(x, y, 3)); },
                PixelFormat24bppRGB, [=](int x, int y) {
                    return Rgb(Widen(c5(x, y, 1), 5), Widen(c5(x, y, 9) * 2 + 1, 6), Widen(c5(x, y, 3), 5));
                });
            // 32 bits: the fourth byte means nothing without an alpha mask.
            add(header, topDown, 32, BI_RGB, {}, {}, [](int x, int y) { return 0xAB000000u | (Pattern(x, y) & 0xFFFFFF); },
                PixelFormat24bppRGB, Pattern);
            if (header >= 56) {
                auto alpha = [](int x, int y) { return (x * 50 + y * 30 + 1) & 0xFF; };
                add(header, topDown, 32, BI_BITFIELDS, {}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u},
                    [=](int x, int y) { return static_cast<uint32_t>(alpha(x, y)) << 24 | (Pattern(x, y) & 0xFFFFFF); },
                    PixelFormat32bppARGB, [=](int x, int y) { return Rgb(R(x, y), G(x, y), B(x, y), alpha(x, y)); });
            } else {
                // Red in the low byte: the masks decide, not the habit.
                add(header, topDown, 32, BI_BITFIELDS, {}, {0xFF, 0xFF00, 0xFF0000},
                    [](int x, int y) { return static_cast<uint32_t>(B(x, y) << 16 | G(x, y) << 8 | R(x, y)); },
                    PixelFormat24bppRGB, Pattern);
            }
        }
    }
    return out;
}

// Run-length pictures with runs, absolute runs, line ends, a delta move
// and the end mark; what the data skips shows the first palette colour.
std::vector<Expect> BmpRle() {
    const std::vector<uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x808080};
    auto colour = [palette](int i) { return 0xFF000000u | palette[static_cast<size_t>(i)]; };
    // 6 x 3, the first row of data at the bottom.
    const Bytes rle8 = {3, 1, 0, 3, 2, 3, 4, 0, 0, 0,  // bottom row: 1 1 1 2 3 4
                        2, 5, 0, 2, 2, 1,              // 5 5, then two right and one up
                        2, 6, 0, 1};                   // 6 6 at x 4 and 5, end
    const int rows8[3][6] = {{0, 0, 0, 0, 6, 6}, {5, 5, 0, 0, 0, 0}, {1, 1, 1, 2, 3, 4}};
    // 7 x 2 with two-index runs and an odd absolute run.
    const Bytes rle4 = {4, 0x12, 0, 3, 0x34, 0x50, 0, 0, 7, 0x67, 0, 1};
    const int rows4[2][7] = {{6, 7, 6, 7, 6, 7, 6}, {1, 2, 1, 2, 3, 4, 5}};
    using picture_files::Bmp;
    return {
        {"bmp rle8", Bmp(40, 6, 3, 8, BI_RLE8, palette, rle8), PixelFormat24bppRGB, 6, 3,
         [=](int x, int y) { return colour(rows8[y][x]); }},
        {"bmp rle4", Bmp(40, 7, 2, 4, BI_RLE4, palette, rle4), PixelFormat24bppRGB, 7, 2,
         [=](int x, int y) { return colour(rows4[y][x]); }},
    };
}

// 32 x 32 in four flat quadrants of 16 pixels (whole blocks of subsampled
// colour), compared at the quadrant centres.
const std::vector<std::pair<int, int>> kQuadrantCentres = {{8, 8}, {24, 8}, {8, 24}, {24, 24}};
int Quadrant(int x, int y) { return x / 16 + 2 * (y / 16); }

std::vector<Expect> Jpegs() {
    using picture_files::Jpeg;
    const int rgb[4][3] = {{200, 30, 40}, {20, 180, 60}, {30, 60, 200}, {128, 128, 128}};
    const Bytes colour = Samples(32, 32, [&](int x, int y) {
        const int* c = rgb[Quadrant(x, y)];
        return Bytes{static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[2])};
    });
    auto colourAt = [rgb](int x, int y) {
        const int* c = rgb[Quadrant(x, y)];
        return Rgb(c[0], c[1], c[2]);
    };
    const int grey[4] = {30, 90, 160, 230};
    // CMYK inks stored inverted, as Photoshop writes them behind its Adobe
    // marker: red comes out as C * K / 255.
    const int inks[4][4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {255, 255, 255, 128}, {200, 100, 50, 200}};
    const Bytes cmyk = Samples(32, 32, [&](int x, int y) {
        const int* k = inks[Quadrant(x, y)];
        return Bytes{static_cast<uint8_t>(k[0]), static_cast<uint8_t>(k[1]), static_cast<uint8_t>(k[2]),
                     static_cast<uint8_t>(k[3])};
    });
    return {
        {"jpeg baseline", Jpeg(32, 32, JCS_RGB, colour), PixelFormat24bppRGB, 32, 32, colourAt, 6, kQuadrantCentres},
        {"jpeg progressive", Jpeg(32, 32, JCS_RGB, colour, true), PixelFormat24bppRGB, 32, 32, colourAt, 6,
         kQuadrantCentres},
        {"jpeg grey",
         Jpeg(32, 32, JCS_GRAYSCALE, Samples(32, 32, [&](int x, int y) { return Bytes{static_cast<uint8_t>(grey[Quadrant(x, y)])}; })),
         PixelFormat8bppIndexed, 32, 32,
         [grey](int x, int y) {
             const int v = grey[Quadrant(x, y)];
             return Rgb(v, v, v);
         },
         3, kQuadrantCentres},
        {"jpeg cmyk", Jpeg(32, 32, JCS_CMYK, cmyk), PixelFormat24bppRGB, 32, 32,
         [inks](int x, int y) {
             const int* k = inks[Quadrant(x, y)];
             return Rgb(k[0] * k[3] / 255, k[1] * k[3] / 255, k[2] * k[3] / 255);
         },
         6, kQuadrantCentres},
    };
}

std::vector<Expect> PngGifTiff() {
    using picture_files::Png;
    auto rgb = [](int x, int y) {
        return Bytes{static_cast<uint8_t>(R(x, y)), static_cast<uint8_t>(G(x, y)), static_cast<uint8_t>(B(x, y))};
    };
    auto greyOf = [](int x, int y) { return Rgb(R(x, y), R(x, y), R(x, y)); };
    auto alpha = [](int x, int y) { return (x * 60 + y * 20) & 0xFF; };
    // Two bits a pixel, packed high bits first: 5 pixels take 2 bytes.
    Bytes grey2;
    for (int y = 0; y < 2; ++y) {
        uint16_t row = 0;
        for (int x = 0; x < 5; ++x) row |= static_cast<uint16_t>(((x + y) % 4) << (14 - 2 * x));
        grey2.insert(grey2.end(), {static_cast<uint8_t>(row >> 8), static_cast<uint8_t>(row)});
    }
    const std::vector<png_color> palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 8, 7}, {200, 100, 0}, {1, 2, 3}};
    const Bytes trns = {0, 128, 255};
    auto index = [](int x, int y) { return (x + 2 * y) % 6; };
    // Two indices a byte.
    Bytes indices4;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; x += 2)
            indices4.push_back(static_cast<uint8_t>(index(x, y) << 4 | (x + 1 < 5 ? index(x + 1, y) : 0)));
    auto paletteAt = [palette, trns, index](int x, int y) {
        const size_t i = static_cast<size_t>(index(x, y));
        return Rgb(palette[i].red, palette[i].green, palette[i].blue, i < trns.size() ? trns[i] : 255);
    };
    // 16-bit samples keep their high byte.
    const Bytes rgb16 = Samples(3, 2, [&](int x, int y) {
        return Bytes{static_cast<uint8_t>(R(x, y)), 0xFF, static_cast<uint8_t>(G(x, y)), 0x80, static_cast<uint8_t>(B(x, y)), 0x01};
    });
    const std::vector<GifColorType> gifColours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255},
                                                  {10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {1, 1, 1}};
    auto gifAt = [gifColours](int i) { return Rgb(gifColours[i].Red, gifColours[i].Green, gifColours[i].Blue); };
    const Bytes gifSmall = Samples(5, 3, [](int x, int y) { return Bytes{static_cast<uint8_t>((x + y) % 4)}; });
    const Bytes gifTall = Samples(4, 10, [](int x, int y) { return Bytes{static_cast<uint8_t>((x + y * 3) % 8)}; });
    const Bytes grey = Samples(5, 3, [](int x, int y) { return Bytes{static_cast<uint8_t>(R(x, y))}; });
    auto tiffAlpha = [](int x, int y) { return 128 + (x * 29 + y * 41) % 128; };
    return {
        {"png grey", Png(5, 3, PNG_COLOR_TYPE_GRAY, 8, grey), PixelFormat8bppIndexed, 5, 3, greyOf},
        {"png grey 2 bits", Png(5, 2, PNG_COLOR_TYPE_GRAY, 2, grey2), PixelFormat8bppIndexed, 5, 2,
         [](int x, int y) { return Rgb((x + y) % 4 * 85, (x + y) % 4 * 85, (x + y) % 4 * 85); }},
        {"png grey and alpha",
         Png(5, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 8,
             Samples(5, 3, [&](int x, int y) { return Bytes{static_cast<uint8_t>(R(x, y)), static_cast<uint8_t>(alpha(x, y))}; })),
         PixelFormat32bppARGB, 5, 3, [=](int x, int y) { return Rgb(R(x, y), R(x, y), R(x, y), alpha(x, y)); }},
        {"png palette with transparency", Png(5, 3, PNG_COLOR_TYPE_PALETTE, 4, indices4, false, palette, trns),
         PixelFormat32bppARGB, 5, 3, paletteAt},
        {"png palette",
         Png(5, 3, PNG_COLOR_TYPE_PALETTE, 8, Samples(5, 3, [&](int x, int y) { return Bytes{static_cast<uint8_t>(index(x, y))}; }),
             false, palette),
         PixelFormat24bppRGB, 5, 3, [=](int x, int y) { return paletteAt(x, y) | 0xFF000000u; }},
        {"png 16 bits", Png(3, 2, PNG_COLOR_TYPE_RGB, 16, rgb16), PixelFormat24bppRGB, 3, 2, Pattern},
        {"png interlaced", Png(11, 9, PNG_COLOR_TYPE_RGB, 8, Samples(11, 9, rgb), true), PixelFormat24bppRGB, 11, 9,
         Pattern},
        {"gif transparent", picture_files::Gif(5, 3, gifColours, gifSmall, 3, false), PixelFormat32bppARGB, 5, 3,
         [=](int x, int y) { return (x + y) % 4 == 3 ? 0u : gifAt((x + y) % 4); }},
        {"gif interlaced", picture_files::Gif(4, 10, gifColours, gifTall, -1, true), PixelFormat24bppRGB, 4, 10,
         [=](int x, int y) { return gifAt((x + y * 3) % 8); }},
        {"tiff rgb", picture_files::Tiff(5, 3, 3, Samples(5, 3, rgb)), PixelFormat24bppRGB, 5, 3, Pattern},
        {"tiff grey", picture_files::Tiff(5, 3, 1, grey), PixelFormat8bppIndexed, 5, 3, greyOf},
        // Associated alpha is stored premultiplied and comes out straight;
        // unassociated alpha comes out as stored. Alpha of 128 and above
        // keeps the rounding within 2.
        {"tiff premultiplied alpha",
         picture_files::Tiff(5, 3, 4, Samples(5, 3, [&](int x, int y) {
             const int a = tiffAlpha(x, y);
             auto pre = [a](int v) { return static_cast<uint8_t>((v * a + 127) / 255); };
             return Bytes{pre(R(x, y)), pre(G(x, y)), pre(B(x, y)), static_cast<uint8_t>(a)};
         }), COMPRESSION_LZW, 0, 0, EXTRASAMPLE_ASSOCALPHA),
         PixelFormat32bppARGB, 5, 3, [=](int x, int y) { return Rgb(R(x, y), G(x, y), B(x, y), tiffAlpha(x, y)); }, 2},
        {"tiff straight alpha",
         picture_files::Tiff(5, 3, 4, Samples(5, 3, [&](int x, int y) {
             return Bytes{static_cast<uint8_t>(R(x, y)), static_cast<uint8_t>(G(x, y)), static_cast<uint8_t>(B(x, y)),
                          static_cast<uint8_t>(tiffAlpha(x, y))};
         })),
         PixelFormat32bppARGB, 5, 3, [=](int x, int y) { return Rgb(R(x, y), G(x, y), B(x, y), tiffAlpha(x, y)); }, 2},
    };
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(PictureDecode, EveryFormatGivesItsPixels) {
    for (auto cases : {PngGifTiff(), Jpegs(), BmpForms(), BmpRle()})
        for (const Expect& e : cases) Check(e);
}

TEST(PictureDecode, CutAndHostileFilesFailCleanly) {
    std::vector<std::pair<std::string, Bytes>> bad;
    for (auto cases : {PngGifTiff(), Jpegs(), BmpRle()}) {
        for (const Expect& e : cases) bad.push_back({e.name + " cut", Bytes(e.file.begin(), e.file.begin() + e.file.size() / 2)});
    }
    // JPEGs whose half ends inside the coded data (libjpeg would fill the
    // rest with grey).
    const Bytes noisy = Samples(32, 32, [](int x, int y) {
        return Bytes{static_cast<uint8_t>(R(x, y)), static_cast<uint8_t>(G(x, y)), static_cast<uint8_t>(B(x, y))};
    });
    for (bool progressive : {false, true}) {
        const Bytes file = picture_files::Jpeg(32, 32, JCS_RGB, noisy, progressive);
        bad.push_back({"jpeg noise cut", Bytes(file.begin(), file.begin() + file.size() / 2)});
    }
    // A JPEG whose Huffman data once made a decoder read memory it never
    // wrote, and abort.
    const std::string regress = std::string(MORVIK_TEST_DATA) + "/picture-jpeg-huffman.jpg";
    const Bytes regression = ReadFile(regress);
    ASSERT_EQ(regression.size(), 588u);
    bad.push_back({"jpeg huffman", regression});
    using picture_files::Bmp;
    const std::vector<uint32_t> two = {0, 0xFFFFFF};
    bad.push_back({"bmp rle top-down", Bmp(40, 2, -1, 8, BI_RLE8, two, {2, 1, 0, 1})});
    bad.push_back({"bmp rle without its end", Bmp(40, 2, 2, 8, BI_RLE8, two, {2, 1, 0, 0})});
    // Absolute runs of 5 indices with 2 bytes of them in the picture data:
    // what follows the data (the rest of the run and an end mark) is no
    // part of the picture.
    for (const auto& [bpp, compression] : {std::pair{8, BI_RLE8}, std::pair{4, BI_RLE4}}) {
        Bytes file = Bmp(40, 6, 2, bpp, compression, two, {0, 5, 1, 0});
        file.insert(file.end(), {1, 0, 1, 0, 0, 1, 0, 0});
        bad.push_back({"bmp rle absolute run past the data " + std::to_string(bpp), file});
    }
    bad.push_back({"bmp 24 bits of bit fields", Bmp(40, 1, 1, 24, BI_BITFIELDS, {}, {1, 2, 3, 0}, {0xFF, 0xFF00, 0xFF0000})});
    bad.push_back({"bmp of no width", Bmp(40, 0, 1, 24, BI_RGB, {}, {1, 2, 3, 0})});
    bad.push_back({"bmp of an unknown header", Bmp(64, 1, 1, 24, BI_RGB, {}, {1, 2, 3, 0})});
    for (const auto& [name, bytes] : bad) {
        SCOPED_TRACE(name);
        auto b = DecodeBytes(bytes);
        ASSERT_TRUE(b);
        EXPECT_EQ(b->GetWidth(), 0u);
        EXPECT_EQ(b->GetLastStatus(), InvalidParameter);
    }
    const std::wstring path(regress.begin(), regress.end());
    std::unique_ptr<Bitmap> fromFile(Bitmap::FromFile(path.c_str()));
    EXPECT_EQ(fromFile->GetWidth(), 0u);
}

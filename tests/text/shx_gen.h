// A small generator of SHX fonts for tests, fuzz seeds and benchmarks: shape
// files, big fonts and Unicode fonts, built in memory from shapes written
// with the helpers below (one helper per drawing command), and written to
// files when needed. Header only, standard library only.
#ifndef TESTS_TEXT_SHX_GEN_H
#define TESTS_TEXT_SHX_GEN_H

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

namespace shxgen {

enum Kind { kShapes = 1, kBigFont = 2, kUnifont = 3 };

// Drawing codes of one shape, joined with +.
using Codes = std::vector<uint8_t>;

inline Codes operator+(Codes a, const Codes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline uint8_t B(int v) { return static_cast<uint8_t>(v & 0xFF); }

inline Codes PenDown() { return {1}; }
inline Codes PenUp() { return {2}; }
inline Codes Divide(int n) { return {3, B(n)}; }
inline Codes Multiply(int n) { return {4, B(n)}; }
inline Codes Push() { return {5}; }
inline Codes Pop() { return {6}; }
// A sub-shape reference: one byte in shape files, two (high first) in big
// and Unicode fonts.
inline Codes Sub(int code, Kind kind) {
    if (kind == kShapes) return {7, B(code)};
    return {7, B(code >> 8), B(code)};
}
inline Codes Move(int dx, int dy) { return {8, B(dx), B(dy)}; }
inline Codes Moves(std::initializer_list<std::pair<int, int>> steps) {
    Codes c{9};
    for (const auto& [dx, dy] : steps) c.insert(c.end(), {B(dx), B(dy)});
    return c + Codes{0, 0};
}
// The octant byte: start octant and count, negative for clockwise.
inline uint8_t Octants(int start, int count, bool clockwise) {
    const int b = (start & 7) << 4 | (count & 7);
    return B(clockwise ? -b : b);
}
inline Codes OctantArc(int radius, int start, int count, bool clockwise) {
    return {10, B(radius), Octants(start, count, clockwise)};
}
inline Codes FractionArc(int startOffset, int endOffset, int radius, int start, int count, bool clockwise) {
    return {11, B(startOffset), B(endOffset), B(radius >> 8), B(radius), Octants(start, count, clockwise)};
}
inline Codes BulgeArc(int dx, int dy, int bulge) { return {12, B(dx), B(dy), B(bulge)}; }
inline Codes BulgeArcs(std::initializer_list<std::tuple<int, int, int>> arcs) {
    Codes c{13};
    for (const auto& [dx, dy, b] : arcs) c.insert(c.end(), {B(dx), B(dy), B(b)});
    return c + Codes{0, 0};
}
inline Codes Skip() { return {14}; }
// A vector of length 1 to 15 in direction 0 to 15.
inline Codes Vec(int length, int direction) { return {B((length & 15) << 4 | (direction & 15))}; }

class Font {
public:
    explicit Font(Kind kind) : kind_(kind) {}
    Kind kind() const { return kind_; }

    // A shape: its name, the codes and the closing 0.
    Font& Add(int code, const Codes& codes, const std::string& name = "") {
        std::string bytes = name;
        bytes += '\0';
        bytes.append(codes.begin(), codes.end());
        bytes += '\0';
        shapes_.emplace_back(code, bytes);
        return *this;
    }
    // A shape whose bytes are given whole (name and closing 0 included).
    Font& AddRaw(int code, const std::string& bytes) {
        shapes_.emplace_back(code, bytes);
        return *this;
    }

    std::string Bytes() const {
        std::string out;
        switch (kind_) {
            case kShapes:
                out = "AutoCAD-86 shapes 1.0\r\n\x1A";
                U16(out, 1);
                U16(out, 255);
                U16(out, shapes_.size());
                for (const auto& [code, bytes] : shapes_) {
                    U16(out, code);
                    U16(out, bytes.size());
                }
                for (const auto& s : shapes_) out += s.second;
                break;
            case kBigFont: {
                out = "AutoCAD-86 bigfont 1.0\r\n\x1A";
                U16(out, 8);
                U16(out, shapes_.size());
                U16(out, 1);
                out.append("\x81\x00\xFE\x00", 4);  // one escape range
                size_t offset = out.size() + 8 * shapes_.size();
                for (const auto& [code, bytes] : shapes_) {
                    U16(out, code);
                    U16(out, bytes.size());
                    U32(out, offset);
                    offset += bytes.size();
                }
                for (const auto& s : shapes_) out += s.second;
                break;
            }
            case kUnifont: {
                out = "AutoCAD-86 unifont 1.0\r\n\x1A";
                U32(out, shapes_.size());
                const std::string info("GEN\0\x08\x02\x00\x00", 8);
                U16(out, info.size());
                out += info;
                for (const auto& [code, bytes] : shapes_) {
                    U16(out, code);
                    U16(out, bytes.size());
                    out += bytes;
                }
                break;
            }
        }
        return out;
    }

    void Write(const std::string& path) const { std::ofstream(path, std::ios::binary) << Bytes(); }

private:
    static void U16(std::string& s, size_t v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>((v >> 8) & 0xFF);
    }
    static void U32(std::string& s, size_t v) {
        U16(s, v & 0xFFFF);
        U16(s, (v >> 16) & 0xFFFF);
    }

    Kind kind_;
    std::vector<std::pair<int, std::string>> shapes_;
};

// The characters a font is measured with.
inline const std::wstring& LatinSample() {
    static const std::wstring s = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
    return s;
}

// Every character of the Latin sample with the same codes.
inline Font& AddLatinSample(Font& font, const Codes& codes) {
    for (wchar_t c : LatinSample()) font.Add(static_cast<int>(c), codes);
    return font;
}

// A font for volume work: every printable ASCII character with its own mix
// of vectors, octant and bulge arcs, a fractional arc and a sub-shape
// (a serif shape of its own), in a cell 20 units wide and 28 high.
inline Font StrokeFont(Kind kind) {
    Font font(kind);
    const int serif = kind == kShapes ? 0xF0 : 0x7F00;
    font.Add(serif, Vec(2, 0) + PenUp() + Vec(1, 8) + PenDown(), "serif");
    for (int c = 0x21; c < 0x7F; ++c) {
        const int v = c % 7;
        Codes codes = PenDown() + Vec(14, 4) + Push() + Vec(10 - v, 0) + Pop() + PenUp() + Move(0, -7) + PenDown();
        codes = codes + OctantArc(3 + v % 3, 2, 4 + v % 4, c % 2 == 0) + BulgeArc(5, -3, 40 + 10 * v);
        codes = codes + FractionArc(60, 90, 2, 0, 3, false) + PenUp() + Move(0, -6) + PenDown() + Sub(serif, kind);
        font.Add(c, codes + PenUp() + Move(20, 0));
    }
    font.Add(0x20, PenUp() + Move(20, 0));
    return font;
}

}  // namespace shxgen

#endif  // TESTS_TEXT_SHX_GEN_H

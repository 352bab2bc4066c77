// Reading SHX fonts: the three file layouts and the shape interpreter.
#include "morvik/text/shxreader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "morvik/afx/message_box.h"
#include "morvik/halder/baseshape.h"
#include "morvik/halder/lang.h"
#include "morvik/win32/windows.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// A font bigger than this is no font: real big fonts are a few megabytes.
constexpr long kMaxFileSize = 64L << 20;
// Sub-shapes nest this deep at most; deeper (a shape that refers to itself,
// or a ring of shapes) the character is refused.
constexpr int kMaxDepth = 10;
// Commands one character may run, sub-shapes included: real characters run
// a few hundred; sub-shapes that fan out must not run without end.
constexpr long kMaxCommands = 200000;
// Scales beyond this come only from hostile files.
constexpr double kMaxScale = 1e6;
// Positions stored at most on the stack.
constexpr int kStackDepth = 9;

// Vector displacements by direction, in units of the length (before the
// doubling of half steps: these are already doubled).
constexpr int kDirX[16] = {2, 2, 2, 1, 0, -1, -2, -2, -2, -2, -2, -1, 0, 1, 2, 2};
constexpr int kDirY[16] = {0, 1, 2, 2, 2, 2, 2, 1, 0, -1, -2, -2, -2, -2, -2, -1};

std::mutex& FolderLock() {
    static std::mutex lock;
    return lock;
}

std::wstring& Folder() {
    static std::wstring folder = L"font/";
    return folder;
}

double Rad(double deg) { return deg * kPi / 180.0; }

// The angle of p seen from c in degrees, as the bulge arcs take it.
double AngleOf(double px, double py, double cx, double cy, double r) {
    const double a = std::acos(std::clamp((px - cx) / r, -1.0, 1.0)) * 180.0 / kPi;
    return py < cy ? -a : a;
}

}  // namespace

std::wstring CShxShapeReader::GetFontFolder() {
    std::lock_guard<std::mutex> lock(FolderLock());
    return Folder();
}

void CShxShapeReader::SetFontFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> lock(FolderLock());
    Folder() = folder.empty() ? std::wstring(L"font/") : folder;
    if (Folder().back() != L'/') Folder() += L'/';
}

void CShxShapeReader::FreeObjects(std::vector<dxfObject*>& list) {
    for (dxfObject* o : list) delete o;
    list.clear();
}

void CShxShapeReader::Clear() {
    m_font.reset();
    m_nShapes = 0;
    m_nKind = 0;
}

// ---- loading ------------------------------------------------------------------------------------

namespace {

// Loaded fonts by path, shared by every reader that loads the same bytes:
// a document's texts each hold two readers, and big fonts run to megabytes.
std::mutex& CacheLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, std::weak_ptr<const CShxShapeReader::FontData>>& Cache() {
    static auto* cache = new std::map<std::string, std::weak_ptr<const CShxShapeReader::FontData>>;
    return *cache;
}

}  // namespace

bool CShxShapeReader::BuildIndex(FontData& font, size_t t) {
    const size_t n = font.fileSize;
    const uint8_t* img = font.image.data();
    // Little-endian integers that lie wholly inside the file.
    auto fits = [n](size_t pos, size_t len) { return pos <= n && len <= n - pos; };
    auto u16 = [img](size_t pos) { return static_cast<uint32_t>(img[pos] | (img[pos + 1] << 8)); };
    auto u32 = [&u16](size_t pos) { return u16(pos) | (u16(pos + 2) << 16); };
    // An entry whose bytes leave the file is kept as a bad entry (length 0).
    auto add = [&font, &fits](uint32_t code, size_t offset, size_t length) {
        Entry e;
        e.code = static_cast<int32_t>(code);
        if (fits(offset, length)) {
            e.offset = static_cast<int32_t>(offset);
            e.length = static_cast<int32_t>(length);
        }
        font.index.push_back(e);
    };
    if (!fits(t + 1, 6)) return false;
    if (font.kind == kShapeFile) {
        const size_t count = u16(t + 5);
        size_t offset = t + 7 + 4 * count;
        for (size_t k = 0; k < count && fits(t + 7 + 4 * k, 4); ++k) {
            const size_t length = u16(t + 9 + 4 * k);
            add(u16(t + 7 + 4 * k), offset, length);
            offset += length;
        }
    } else if (font.kind == kBigFont) {
        const size_t count = u16(t + 3);
        const size_t base = t + 7 + 4 * static_cast<size_t>(u16(t + 5));
        for (size_t k = 0; k < count && fits(base + 8 * k, 8); ++k) {
            const size_t at = base + 8 * k;
            add(u16(at), u32(at + 4), u16(at + 2));
        }
    } else {
        const uint32_t count = u32(t + 1);
        size_t at = t + 7 + u16(t + 5);
        for (uint32_t k = 0; k < count && fits(at, 4); ++k) {
            const size_t length = u16(at + 2);
            add(u16(at), at + 4, length);
            if (!fits(at + 4, length)) break;
            at += 4 + length;
        }
    }
    return true;
}

int CShxShapeReader::in(const wchar_t* path) {
    m_bLoaded = 0;
    m_strPath = CString(path != nullptr ? path : L"");
    const std::string key = path != nullptr ? WidePathToUtf8(path) : std::string();
    FILE* f = path != nullptr ? std::fopen(key.c_str(), "rb") : nullptr;
    if (f == nullptr) {
        // A text's layout opens its font with the text's event held: the
        // message waits until it is given back.
        const CString msg = CLang::Instance()->GetString("IDS_OPEN_DXFONT_ERR") + m_strPath;
        CBaseShape::WhenReleased([msg] { AfxMessageBox(msg.GetString(), MB_OK); });
        return -1;
    }
    Clear();
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size < 0 || size > kMaxFileSize || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return -1;
    }
    auto font = std::make_shared<FontData>();
    font->image.assign(static_cast<size_t>(size) + 256, 0);
    // A short read keeps what came.
    font->fileSize = std::fread(font->image.data(), 1, static_cast<size_t>(size), f);
    std::fclose(f);
    const size_t n = font->fileSize;
    uint8_t* img = font->image.data();

    size_t t = 0;
    for (size_t i = 2; i < n && t == 0; ++i)
        if (img[i - 2] == 13 && img[i - 1] == 10 && img[i] == 26) t = i;
    if (t == 0) return -1;
    img[t] = 0;
    for (size_t i = 0; i < t; ++i)
        if (img[i] >= 'A' && img[i] <= 'Z') img[i] = static_cast<uint8_t>(img[i] - 'A' + 'a');
    const char* header = reinterpret_cast<const char*>(img);
    if (std::strstr(header, "shape") != nullptr)
        font->kind = kShapeFile;
    else if (std::strstr(header, "bigfont") != nullptr)
        font->kind = kBigFont;
    else if (std::strstr(header, "unifont") != nullptr)
        font->kind = kUnicodeFont;
    if (font->kind == 0) return -1;

    {
        // The same bytes loaded before (and still held by a reader) are
        // shared; other bytes at the same path replace them.
        std::lock_guard<std::mutex> lock(CacheLock());
        std::shared_ptr<const FontData> known = Cache()[key].lock();
        if (known && known->fileSize == n && known->image == font->image) {
            m_font = known;
        } else {
            if (!BuildIndex(*font, t)) return -1;
            Cache()[key] = font;
            m_font = font;
        }
    }
    m_nKind = m_font->kind;
    m_nShapes = static_cast<int32_t>(m_font->index.size());
    m_bLoaded = 1;
    return 0;
}

// ---- reading a shape ----------------------------------------------------------------------------

int CShxShapeReader::readCharShape(std::vector<dxfObject*>& out, int code, int index) {
    m_bPenDown = 1;
    m_nDepth = 0;
    if (m_bLoaded == 0) {
        CBaseShape::WhenReleased([] { AfxMessageBox(CLang::Instance()->GetString("IDS_OPEN_SHX").GetString(), MB_OK); });
        return -1;
    }
    FreeObjects(out);
    m_pos = Point{};
    m_dScale = 1.0;
    m_nBudget = kMaxCommands;
    const int result = readAShape(out, code, index);
    if (result != 0) FreeObjects(out);
    return result;
}

int CShxShapeReader::FindEntry(int code) const {
    const std::vector<Entry>& index = m_font->index;
    for (size_t k = 0; k < index.size(); ++k)
        if (index[k].code == code) return static_cast<int>(k);
    return -1;
}

int CShxShapeReader::readAShape(std::vector<dxfObject*>& out, int code, int index) {
    if (code == 0) return -1;
    int k = FindEntry(code);
    if (k < 0 && m_strPath.Find(L"CJB.shx") >= 0) k = m_nShapes - 1;
    if (index != 0) k = index;
    if (k < 0 || k >= m_nShapes) return -1;
    return Interpret(out, k, 0) ? 0 : -1;
}

void CShxShapeReader::AddLine(std::vector<dxfObject*>& out, Point from, Point to) {
    auto* line = new dxfLine();
    line->x1 = from.x;
    line->y1 = from.y;
    line->x2 = to.x;
    line->y2 = to.y;
    out.push_back(line);
}

void CShxShapeReader::AddArc(std::vector<dxfObject*>& out, Point c, double r, double a0, double a1,
                             bool clockwise) {
    auto* arc = new dxfArc();
    arc->cx = c.x;
    arc->cy = c.y;
    arc->radius = r;
    arc->startAngle = a0;
    arc->endAngle = a1;
    arc->direction = clockwise ? 1 : 0;
    out.push_back(arc);
}

bool CShxShapeReader::calcCircleCenter(double x1, double y1, double x2, double y2, signed char bulge, double& cx,
                                       double& cy, double& r) {
    const double dx = x2 - x1, dy = y2 - y1;
    const double d = std::hypot(dx, dy);
    if (bulge == 0 || !(d > 0)) return false;
    // At most a half circle: -128 is read as -127.
    const double h = std::min(std::abs(static_cast<int>(bulge)), 127) / 127.0 / 2.0;
    r = d * (4 * h * h + 1) / (8 * h);
    const double off = std::sqrt(std::max(0.0, r * r - d * d / 4));
    // Unit normal to the left of the direction from the first point.
    const double nx = -dy / d, ny = dx / d;
    const double side = bulge > 0 ? 1.0 : -1.0;
    cx = (x1 + x2) / 2 + side * off * nx;
    cy = (y1 + y2) / 2 + side * off * ny;
    return true;
}

bool CShxShapeReader::Interpret(std::vector<dxfObject*>& out, int k, int depth) {
    if (depth >= kMaxDepth) return false;
    const Entry& e = m_font->index[static_cast<size_t>(k)];
    const uint8_t* p = m_font->image.data() + e.offset;
    const uint8_t* const end = p + e.length;
    // The name, up to its 0 byte.
    while (p < end && *p != 0) ++p;
    if (p == end) return false;
    ++p;

    bool truncated = false;
    auto byte = [&]() -> int {
        if (p >= end) {
            truncated = true;
            return 0;
        }
        return *p++;
    };
    auto sbyte = [&]() -> int { return static_cast<signed char>(static_cast<uint8_t>(byte())); };
    auto moveBy = [&](double dx, double dy, bool draw) {
        const Point to{m_pos.x + dx * m_dScale, m_pos.y + dy * m_dScale};
        if (draw && m_bPenDown != 0) AddLine(out, m_pos, to);
        m_pos = to;
    };
    // An arc of radius r (already scaled and doubled) that starts at the
    // position at angle a0 and ends at a1.
    auto arcBy = [&](double r, double a0, double a1, bool clockwise) {
        const Point c{m_pos.x - r * std::cos(Rad(a0)), m_pos.y - r * std::sin(Rad(a0))};
        if (m_bPenDown != 0 && r > 0) AddArc(out, c, r, a0, a1, clockwise);
        m_pos = Point{c.x + r * std::cos(Rad(a1)), c.y + r * std::sin(Rad(a1))};
    };
    auto bulgeBy = [&](int dx, int dy, int bulge) {
        const Point to{m_pos.x + 2 * dx * m_dScale, m_pos.y + 2 * dy * m_dScale};
        double cx = 0, cy = 0, r = 0;
        if (bulge == 0) {
            if (m_bPenDown != 0) AddLine(out, m_pos, to);
        } else if (calcCircleCenter(m_pos.x, m_pos.y, to.x, to.y, static_cast<signed char>(bulge), cx, cy, r)) {
            if (m_bPenDown != 0)
                AddArc(out, Point{cx, cy}, r, AngleOf(m_pos.x, m_pos.y, cx, cy, r), AngleOf(to.x, to.y, cx, cy, r),
                       bulge < 0);
        }
        m_pos = to;
    };

    bool skip = false;
    while (p < end) {
        if (--m_nBudget < 0) return false;
        const int c = *p++;
        if (c == 0) break;
        if (c == 1 || c == 2) {
            // Pen changes happen even under a skip, which then waits for
            // the next command.
            m_bPenDown = c == 1 ? 1 : 0;
            continue;
        }
        const bool run = !skip;
        skip = false;
        switch (c) {
            case 3: {
                const int n = byte();
                if (run && n != 0) m_dScale /= n;
                break;
            }
            case 4: {
                const int n = byte();
                if (run && m_dScale * n <= kMaxScale) m_dScale *= n;
                break;
            }
            case 5:
                if (run && m_nDepth < kStackDepth) m_stack[m_nDepth++] = m_pos;
                break;
            case 6:
                if (run && m_nDepth > 0) m_pos = m_stack[--m_nDepth];
                break;
            case 7: {
                int sub = byte();
                if (m_nKind != kShapeFile) sub = (sub << 8) | byte();
                if (truncated) return false;
                if (run) {
                    const int j = FindEntry(sub);
                    if (j >= 0 && !Interpret(out, j, depth + 1)) return false;
                }
                break;
            }
            case 8: {
                const int dx = sbyte(), dy = sbyte();
                if (run && !truncated) moveBy(2.0 * dx, 2.0 * dy, true);
                break;
            }
            case 9:
                while (!truncated) {
                    const int dx = sbyte(), dy = sbyte();
                    if (truncated || (dx == 0 && dy == 0)) break;
                    if (run) moveBy(2.0 * dx, 2.0 * dy, true);
                    if (--m_nBudget < 0) return false;
                }
                break;
            case 10: {
                const int radius = byte(), b = sbyte();
                if (!run || truncated) break;
                const int octant = std::abs(b);
                const int s = (octant >> 4) & 7, n = octant & 7;
                const double a0 = 45.0 * s, a1 = b < 0 ? 45.0 * (s - n) : 45.0 * (s + n);
                arcBy(2.0 * radius * m_dScale, a0, a1, b < 0);
                break;
            }
            case 11: {
                const int so = byte(), eo = byte(), hi = byte(), lo = byte(), b = sbyte();
                if (!run || truncated) break;
                const int octant = std::abs(b);
                const int s = (octant >> 4) & 7, n = octant & 7, e1 = eo > 0 ? 1 : 0;
                const double a0 = 45.0 * s + so * 45.0 / 256.0;
                const double a1 = b < 0 ? 45.0 * (s - n + e1) - eo * 45.0 / 256.0
                                        : 45.0 * (s + n - e1) + eo * 45.0 / 256.0;
                arcBy(2.0 * (256 * hi + lo) * m_dScale, a0, a1, b < 0);
                break;
            }
            case 12: {
                const int dx = sbyte(), dy = sbyte(), bulge = sbyte();
                if (run && !truncated) bulgeBy(dx, dy, bulge);
                break;
            }
            case 13:
                while (!truncated) {
                    const int dx = sbyte(), dy = sbyte();
                    if (truncated || (dx == 0 && dy == 0)) break;
                    const int bulge = sbyte();
                    if (run && !truncated) bulgeBy(dx, dy, bulge);
                    if (--m_nBudget < 0) return false;
                }
                break;
            case 14:
                skip = run;
                break;
            case 15:
                break;
            default: {
                const int length = c >> 4, dir = c & 15;
                if (run) moveBy(1.0 * kDirX[dir] * length, 1.0 * kDirY[dir] * length, true);
                break;
            }
        }
        if (truncated) return false;
    }
    return true;
}

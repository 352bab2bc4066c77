#include "morvik/shapes/picture.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <cmath>
#include <memory>
#include <new>

#include "morvik/afx/message_box.h"
#include "morvik/core/geometry.h"
#include "morvik/core/runlog.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/lang.h"
#include "morvik/shapes/dib.h"

IMPLEMENT_SERIAL(CPicture, CBaseShape, 2)

using Gdiplus::Bitmap;
using Gdiplus::BitmapData;
using Gdiplus::PixelFormat;

namespace {

constexpr double kMmPerInch = 25.4;
// Image files beyond this size are not read.
constexpr DWORD kMaxPictureFileBytes = 512u << 20;
// How far the picture's size may stray from its bitmap's size at the stored
// resolution before the screen image is rebuilt.
constexpr double kSizeTolerance = 0.001;

// Messages and repaints wait until the thread holds no shape's event: a
// picture is loaded and processed with its event held.
void ShowMessage(const char* key) {
    CBaseShape::WhenReleased([key] { AfxMessageBox(CLang::Instance()->GetString(key).GetString()); });
}

void ShowResizeMemoryError() {
    CBaseShape::WhenReleased([] { AfxMessageBox(L"ResizeBitmap\u5185\u5b58\u51fa\u9519\uff01\uff01"); });
}

using geom::Finite;

// The angle brought into [0, 360).
float Normalize360(double angle) {
    double a = std::fmod(angle, 360.0);
    if (a < 0) a += 360.0;
    float f = static_cast<float>(a);
    if (f >= 360.0f) f = 0.0f;
    return f;
}

// Pixels of a side of mm millimetres at dpi dots per inch; 0 when there is
// nothing sensible, INT_MAX when absurdly many.
int DpiPixels(double mm, int dpi) {
    const double v = mm * dpi / kMmPerInch;
    if (!std::isfinite(v) || v < 0) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(v);
}

void SetGreyPalette(Bitmap* bitmap) {
    std::vector<uint8_t> buffer(sizeof(Gdiplus::ColorPalette) + 255 * sizeof(Gdiplus::ARGB));
    const UINT flags = Gdiplus::PaletteFlagsGrayScale;
    const UINT count = 256;
    std::memcpy(buffer.data() + offsetof(Gdiplus::ColorPalette, Flags), &flags, sizeof flags);
    std::memcpy(buffer.data() + offsetof(Gdiplus::ColorPalette, Count), &count, sizeof count);
    for (UINT i = 0; i < 256; ++i) {
        const Gdiplus::ARGB c =
            Gdiplus::Color::MakeARGB(255, static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i));
        std::memcpy(buffer.data() + offsetof(Gdiplus::ColorPalette, Entries) + i * sizeof c, &c, sizeof c);
    }
    bitmap->SetPalette(reinterpret_cast<const Gdiplus::ColorPalette*>(buffer.data()));
}

std::vector<Gdiplus::ARGB> PaletteOf(const Bitmap* bitmap) {
    const INT size = bitmap->GetPaletteSize();
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    std::vector<Gdiplus::ARGB> entries;
    if (bitmap->GetPalette(reinterpret_cast<Gdiplus::ColorPalette*>(buffer.data()), size) != Gdiplus::Ok) {
        return entries;
    }
    UINT count = 0;
    std::memcpy(&count, buffer.data() + offsetof(Gdiplus::ColorPalette, Count), sizeof count);
    entries.resize(count);
    if (count > 0) {
        std::memcpy(entries.data(), buffer.data() + offsetof(Gdiplus::ColorPalette, Entries),
                    count * sizeof(Gdiplus::ARGB));
    }
    return entries;
}

bool IsGreyRamp(const std::vector<Gdiplus::ARGB>& palette) {
    if (palette.size() != 256) return false;
    for (size_t i = 0; i < 256; ++i) {
        if ((palette[i] & 0x00FFFFFFu) != (i | (i << 8) | (i << 16))) return false;
    }
    return true;
}

// A new 8-bit indexed bitmap with the grey ramp, at the source's
// resolution; null when memory runs out.
std::unique_ptr<Bitmap> NewGreyBitmap(Bitmap* like) {
    std::unique_ptr<Bitmap> out(new (std::nothrow) Bitmap(
        static_cast<INT>(like->GetWidth()), static_cast<INT>(like->GetHeight()), Gdiplus::PixelFormat8bppIndexed));
    if (!out || out->GetWidth() == 0) return nullptr;
    out->SetResolution(like->GetHorizontalResolution(), like->GetVerticalResolution());
    SetGreyPalette(out.get());
    return out;
}

// Whether every real number of the parameters is finite.
bool FiniteParameters(const PICTURE_PAR& par) {
    return geom::AllFinite(par.dBrightness, par.dContrast, par.dInvRatioX, par.dInvRatioY, par.fFixWidth,
                           par.fFixHeight, par.ptAnchor.x, par.ptAnchor.y);
}

// A bitmap that did not come into being (null or of no size) is none.
std::unique_ptr<Bitmap> Usable(Bitmap* bitmap) {
    std::unique_ptr<Bitmap> owned(bitmap);
    if (owned && (owned->GetWidth() == 0 || owned->GetHeight() == 0)) owned.reset();
    return owned;
}

// The colour channels of a pixel laid over white: what a transparent part
// of a picture shows.
void OverWhite(Gdiplus::ARGB c, int& r, int& g, int& b) {
    const int a = static_cast<int>(c >> 24);
    auto mix = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
    r = mix(static_cast<int>((c >> 16) & 0xFF));
    g = mix(static_cast<int>((c >> 8) & 0xFF));
    b = mix(static_cast<int>(c & 0xFF));
}

// The luminance weighted 0.299, 0.587, 0.114, exact for grey pixels.
double Luminance(int r, int g, int b) { return (299.0 * r + 587.0 * g + 114.0 * b) / 1000.0; }

// Grey values of every pixel, rows top to bottom; false when the pixels
// cannot be read.
bool ReadGrey(Bitmap* source, std::vector<BYTE>& grey) {
    const INT w = static_cast<INT>(source->GetWidth()), h = static_cast<INT>(source->GetHeight());
    BitmapData data;
    if (source->LockBits(nullptr, Gdiplus::ImageLockModeRead, Gdiplus::PixelFormat32bppARGB, &data) != Gdiplus::Ok) {
        return false;
    }
    grey.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (INT y = 0; y < h; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(data.Scan0) + static_cast<size_t>(y) * data.Stride;
        for (INT x = 0; x < w; ++x) {
            Gdiplus::ARGB c;
            std::memcpy(&c, row + static_cast<size_t>(x) * 4, 4);
            int r, g, b;
            OverWhite(c, r, g, b);
            grey[static_cast<size_t>(y) * w + x] = static_cast<BYTE>(Luminance(r, g, b));
        }
    }
    source->UnlockBits(&data);
    return true;
}

// Writes grey values into an 8-bit indexed bitmap of the same size.
bool WriteGrey(Bitmap* target, const std::vector<BYTE>& grey) {
    const INT w = static_cast<INT>(target->GetWidth()), h = static_cast<INT>(target->GetHeight());
    BitmapData data;
    if (target->LockBits(nullptr, Gdiplus::ImageLockModeWrite, Gdiplus::PixelFormat8bppIndexed, &data) != Gdiplus::Ok) {
        return false;
    }
    for (INT y = 0; y < h; ++y) {
        std::memcpy(static_cast<uint8_t*>(data.Scan0) + static_cast<size_t>(y) * data.Stride,
                    grey.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w));
    }
    target->UnlockBits(&data);
    return true;
}

// Runs one processing step on the current bitmap, which it replaces (the
// old one is deleted unless the step handed it back).
template <class Step>
void Apply(std::unique_ptr<Bitmap>& current, Step step) {
    if (!current) return;
    Bitmap* next = nullptr;
    step(current.get(), &next);
    if (next != current.get()) current.reset(next);
}

}  // namespace

CPicture::CPicture() { InitShape(SHAPE_PICTURE, "IDS_TYPENAME_PICTURE", ShapeCounterOf(SHAPE_PICTURE)); }

CPicture::~CPicture() = default;

void CPicture::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("rectfPic", &rectfPic);
    AddProp("fRotateAngle", &fRotateAngle);
    AddProp("4Pointf", &arr4Pointf);
    AddProp("rotatePointf", &rotatePointf);
    AddProp("bmWidthBytes", &bmWidthBytes);
    AddProp("bmWidth", &bmWidth);
    AddProp("bmType", &bmType);
    AddProp("bmPlanes", &bmPlanes);
    AddProp("bmHeight", &bmHeight);
    AddProp("bmBitsPixel", &bmBitsPixel);
    AddProp("bmBits", &bmBits);
    AddProp("PICTUREPAR", &PICTUREPAR);
}

CBaseShape* CPicture::Clone() {
    auto* copy = new CPicture();
    CString caption = CLang::Instance()->GetString("IDS_COPY");
    caption += GetCaption();
    copy->SetCaption(caption);
    copy->PICTUREPAR = PICTUREPAR;
    // The decoded image itself is copied: the file it came from may be gone
    // (a picture read from a shape file never needs it).
    if (m_pBitmap) copy->m_pBitmap.reset(m_pBitmap->Clone());
    static_cast<PictureFields&>(*copy) = *this;
    copy->SetVisible(IsVisible());
    copy->KeepMarkingOf(*this);
    return copy;
}

// ---- geometry ---------------------------------------------------------------

CPicture::Placement CPicture::GetPlacement() const { return *this; }

bool CPicture::SetPlacement(const Placement& place) {
    const bool finite = Finite(place.rectfPic) && std::isfinite(place.fRotateAngle) && Finite(place.rotatePointf) &&
                        std::all_of(std::begin(place.cornerPointf), std::end(place.cornerPointf),
                                    [](const tagPOINTF& p) { return Finite(p); });
    if (!finite) return false;
    static_cast<PictureFields&>(*this) = place;
    return true;
}

void CPicture::PlaceCorners(Placement& place) {
    const Gdiplus::RectF& r = place.rectfPic;
    const float left = r.X, right = r.X + r.Width, top = r.Y, bottom = r.Y - r.Height;
    // A mirrored image stands upside down in its rectangle.
    const float imageTop = place.m_bMirrored ? bottom : top;
    const float imageBottom = place.m_bMirrored ? top : bottom;
    place.cornerPointf[0] = {left, imageBottom};
    place.cornerPointf[1] = {left, imageTop};
    place.cornerPointf[2] = {right, imageTop};
    place.cornerPointf[3] = {right, imageBottom};
    if (place.fRotateAngle == 0.0f) return;
    const AffineMap turn = AffineMap::Rotate(-place.fRotateAngle, place.rotatePointf);
    if (!geom::MapsFinite(turn, place.cornerPointf)) {
        // Past the float range: nothing a caller may take.
        for (tagPOINTF& p : place.cornerPointf) p = {NAN, NAN};
        return;
    }
    for (tagPOINTF& p : place.cornerPointf) p = PointfRotate(p, place.rotatePointf, -place.fRotateAngle);
}

void CPicture::Recentre(Placement& place) {
    // Drawing and the dots turn the rectangle about the pivot by the whole
    // angle; that only matches the corners when the pivot is the picture's
    // centre, whatever centres the rotations had.
    const tagPOINTF c = GetMidPointF(place.cornerPointf[0], place.cornerPointf[2]);
    place.rotatePointf = c;
    place.rectfPic.X = c.x - place.rectfPic.Width / 2;
    place.rectfPic.Y = c.y + place.rectfPic.Height / 2;
}

void CPicture::MirrorPlacement(Placement& place, tagPOINTF fixed, int mode) {
    const AffineMap flip = AffineMap::Mirror(mode, fixed);
    if (!geom::MapsFinite(flip, place.cornerPointf) ||
        !geom::MapsFinite(flip, std::vector<tagPOINTF>{place.rotatePointf})) {
        place.rotatePointf = {NAN, NAN};
        return;
    }
    for (tagPOINTF& p : place.cornerPointf) p = PointfMirror(p, fixed, mode);
    place.rotatePointf = PointfMirror(place.rotatePointf, fixed, mode);
    place.rectfPic.X = place.rotatePointf.x - place.rectfPic.Width / 2;
    place.rectfPic.Y = place.rotatePointf.y + place.rectfPic.Height / 2;
    // The angle is stored negated. Flipping x turns an image laid at phi into
    // one laid at 180 - phi and upside down; flipping y into -phi, upside
    // down; both is a half turn.
    const double angle = place.fRotateAngle;
    switch (mode) {
        case 1: place.fRotateAngle = Normalize360(-angle - 180.0); break;
        case 2: place.fRotateAngle = Normalize360(-angle); break;
        default: place.fRotateAngle = Normalize360(angle - 180.0); break;
    }
    if (mode != 3) place.m_bMirrored = !place.m_bMirrored;
}

void CPicture::CornersFromRect() {
    Placement place = GetPlacement();
    PlaceCorners(place);
    if (SetPlacement(place)) return;
    // The corners cannot be placed in float: the unturned rectangle stands.
    place.fRotateAngle = 0.0f;
    PlaceCorners(place);
    SetPlacement(place);
}

int CPicture::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    return MoveHeld(dx, dy);
}

int CPicture::MoveHeld(float dx, float dy) {
    if (!std::isfinite(dx) || !std::isfinite(dy)) return kRefused;
    Placement place = GetPlacement();
    place.rectfPic.X += dx;
    place.rectfPic.Y += dy;
    place.rotatePointf.x += dx;
    place.rotatePointf.y += dy;
    for (tagPOINTF& p : place.cornerPointf) {
        p.x += dx;
        p.y += dy;
    }
    if (!SetPlacement(place)) return kRefused;
    CBaseShape::Move(dx, dy);
    return 0;
}

int CPicture::Rotate(double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    if (!std::isfinite(angle) || !Finite(centre)) return kRefused;
    // The same turn within one revolution: the stored angle is a float, and
    // a huge angle rounded to float is another angle than the corners took.
    angle = std::fmod(angle, 360.0);
    Placement place = GetPlacement();
    if (!geom::MapsFinite(AffineMap::Rotate(angle, centre), place.cornerPointf)) return kRefused;
    place.fRotateAngle = Normalize360(static_cast<double>(static_cast<float>(360.0 - angle)) + place.fRotateAngle);
    place.rotatePointf = centre;
    for (tagPOINTF& p : place.cornerPointf) p = PointfRotate(p, centre, angle);
    Recentre(place);
    if (!SetPlacement(place)) return kRefused;
    CBaseShape::Rotate(angle, centre);
    return 0;
}

bool CPicture::ZoomedPlacement(tagPOINTF fixed, double sx, double sy, Placement& place) const {
    if (!std::isfinite(sx) || !std::isfinite(sy) || !Finite(fixed)) return false;
    // The size follows the factors' magnitudes; a negative factor then
    // mirrors the picture about the fixed point, which is what a zoom by it
    // does to every point.
    const double ax = std::fabs(sx), ay = std::fabs(sy);
    place = GetPlacement();
    const tagPOINTF topLeft{place.rectfPic.X, place.rectfPic.Y};
    const tagPOINTF bottomRight{place.rectfPic.X + place.rectfPic.Width, place.rectfPic.Y - place.rectfPic.Height};
    if (!geom::MapsFinite(AffineMap::Zoom(ax, ay, fixed),
                          std::vector<tagPOINTF>{place.rotatePointf, topLeft, bottomRight})) {
        return false;
    }
    place.rotatePointf = PointfZoom(place.rotatePointf, ax, ay, fixed);
    NormalizeRectF(place.rectfPic, PointfZoom(topLeft, ax, ay, fixed), PointfZoom(bottomRight, ax, ay, fixed));
    PlaceCorners(place);
    const int mode = (sx < 0 ? 1 : 0) | (sy < 0 ? 2 : 0);
    if (mode != 0) MirrorPlacement(place, fixed, mode);
    return std::all_of(std::begin(place.cornerPointf), std::end(place.cornerPointf),
                       [](tagPOINTF p) { return Finite(p); }) &&
           Finite(place.rotatePointf);
}

int CPicture::Zoom(tagPOINTF fixed, double sx, double sy) {
    const ShapeGuard guard(this);
    return ZoomHeld(fixed, sx, sy);
}

int CPicture::ZoomHeld(tagPOINTF fixed, double sx, double sy) {
    Placement place;
    if (!ZoomedPlacement(fixed, sx, sy, place) || !SetPlacement(place)) return kRefused;
    CheckLineWidthHeld();
    InvalidateGeometry();
    return 0;
}

bool CPicture::SlantedPlacement(const AffineMap& slant, Placement& place, double& lu, double& lv) const {
    place = GetPlacement();
    // The picture's own axes before and after: it can follow the slant only
    // when they stay at right angles.
    const double phi = -static_cast<double>(place.fRotateAngle) * M_PI / 180.0;
    const double ux = std::cos(phi), uy = std::sin(phi);
    const double mux = slant.xx * ux + slant.xy * uy, muy = slant.yx * ux + slant.yy * uy;
    const double mvx = slant.xx * -uy + slant.xy * ux, mvy = slant.yx * -uy + slant.yy * ux;
    lu = std::hypot(mux, muy);
    lv = std::hypot(mvx, mvy);
    if (!(lu > 0) || !(lv > 0) || std::fabs(mux * mvx + muy * mvy) > 1e-9 * lu * lv) return false;
    if (!geom::MapsFinite(slant, place.cornerPointf) ||
        !geom::MapsFinite(slant, std::vector<tagPOINTF>{place.rotatePointf}) ||
        !geom::FitsFloat(place.rectfPic.Width * lu) || !geom::FitsFloat(place.rectfPic.Height * lv)) {
        return false;
    }
    for (tagPOINTF& p : place.cornerPointf) p = slant.Apply(p);
    place.rotatePointf = slant.Apply(place.rotatePointf);
    place.rectfPic.Width = static_cast<float>(place.rectfPic.Width * lu);
    place.rectfPic.Height = static_cast<float>(place.rectfPic.Height * lv);
    place.rectfPic.X = place.rotatePointf.x - place.rectfPic.Width / 2;
    place.rectfPic.Y = place.rotatePointf.y + place.rectfPic.Height / 2;
    place.fRotateAngle = Normalize360(-std::atan2(muy, mux) * 180.0 / M_PI);
    if (slant.xx * slant.yy - slant.xy * slant.yx < 0) place.m_bMirrored = !place.m_bMirrored;
    return true;
}

bool CPicture::TakesSlant(tagPOINTF fixed, double a, double b) const {
    if (!geom::AllFinite(a, b) || !Finite(fixed)) return false;
    const AffineMap slant = AffineMap::Slope(a, b, fixed);
    if (slant.xy == 0.0 && slant.yx == 0.0) return true;
    Placement place;
    double lu = 0, lv = 0;
    return SlantedPlacement(slant, place, lu, lv);
}

int CPicture::Slope(tagPOINTF fixed, double a, double b) {
    const ShapeGuard guard(this);
    if (!geom::AllFinite(a, b) || !Finite(fixed)) return kRefused;
    const AffineMap slant = AffineMap::Slope(a, b, fixed);
    if (slant.xy == 0.0 && slant.yx == 0.0) return 1;
    Placement place;
    double lu = 0, lv = 0;
    if (!SlantedPlacement(slant, place, lu, lv)) {
        RunLog::Instance(nullptr)->Write(L"A picture cannot be slanted out of its rectangle: the slant is refused");
        return kRefused;
    }
    if (!SetPlacement(place)) return kRefused;
    if (std::fabs(lu - 1) > 1e-12 || std::fabs(lv - 1) > 1e-12) CheckLineWidthHeld();
    CBaseShape::Slope(fixed, a, b);
    return 1;
}

int CPicture::Mirror(tagPOINTF fixed, int mode) {
    const ShapeGuard guard(this);
    if (mode < 1 || mode > 3) return 0;
    if (!Finite(fixed)) return kRefused;
    Placement place = GetPlacement();
    MirrorPlacement(place, fixed, mode);
    if (!SetPlacement(place)) return kRefused;
    CBaseShape::Mirror(fixed, mode);
    return 1;
}
int CPicture::IsInRect(Gdiplus::RectF& rect) {
    for (const tagPOINTF& p : cornerPointf) {
        if (!PtInRectFBorder(p.x, p.y, rect, false)) return 0;
    }
    return 1;
}

bool CPicture::IsPtInPolygon(tagPOINTF point) const {
    bool inside = false;
    for (int i = 0; i < 4; ++i) {
        const tagPOINTF& a = cornerPointf[i];
        const tagPOINTF& b = cornerPointf[(i + 1) % 4];
        if (a.y == b.y) continue;
        if ((point.y >= std::min(a.y, b.y)) && (point.y < std::max(a.y, b.y))) {
            const double x = a.x + (static_cast<double>(point.y) - a.y) * (static_cast<double>(b.x) - a.x) /
                                       (static_cast<double>(b.y) - a.y);
            if (x > point.x) inside = !inside;
        }
    }
    return inside;
}

float CPicture::ViewZoom() const {
    if (m_pView != nullptr) {
        const float zoom = m_pView->GetZoom();
        if (std::isfinite(zoom) && zoom > 0.0f) return zoom;
    }
    return 1.0f;
}

bool CPicture::IsPtOnline(tagPOINTF point) const {
    const double tolerance = GetPickDistance() / ViewZoom();
    for (int i = 0; i < 4; ++i) {
        const tagPOINTF& a = cornerPointf[i];
        const tagPOINTF& b = cornerPointf[(i + 1) % 4];
        const double detour = std::hypot(static_cast<double>(point.x) - a.x, static_cast<double>(point.y) - a.y) +
                              std::hypot(static_cast<double>(point.x) - b.x, static_cast<double>(point.y) - b.y) -
                              std::hypot(static_cast<double>(b.x) - a.x, static_cast<double>(b.y) - a.y);
        if (detour <= tolerance) return true;
    }
    return false;
}

int CPicture::IsMe(tagPOINTF point) { return IsPtInPolygon(point) || IsPtOnline(point) ? 1 : 0; }

int CPicture::IsInClientRectF() {
    if (m_pView == nullptr) return 1;
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    // The corners' extent: a turned picture reaches beyond rectfPic.
    const Gdiplus::RectF r =
        CalculateRectangle(std::vector<tagPOINTF>(std::begin(cornerPointf), std::end(cornerPointf)));
    if (PtInRectFBorder(r.X, r.Y, client, false) && PtInRectFBorder(r.X + r.Width, r.Y - r.Height, client, false)) {
        return 1;
    }
    return RectsIntersect(r, client) ? 1 : 0;
}

int CPicture::GetRectangle(Gdiplus::RectF& rect) {
    rect = CalculateRectangle(std::vector<tagPOINTF>(std::begin(cornerPointf), std::end(cornerPointf)));
    SetShapeRect(rect);
    SetRectValid(true);
    return 1;
}

bool CPicture::GetOutLinePath(std::vector<tagPathData>& paths) { return GetOutRectPath(paths); }

int CPicture::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float) {
    points.insert(points.end(), std::begin(cornerPointf), std::end(cornerPointf));
    return 0;
}

int CPicture::GetFlattenPathFirstPoint(tagPOINTF& point) {
    // The image's own top-left corner: the rectangle's bottom-left when mirrored.
    const tagPOINTF corner{rectfPic.X, m_bMirrored ? rectfPic.Y - rectfPic.Height : rectfPic.Y};
    point = PointfRotate(corner, rotatePointf, -fRotateAngle);
    return 1;
}

int CPicture::IsSelectedForRect(Gdiplus::RectF& rect) { return IsIntersectRect(rect) != 0 ? 1 : 0; }

// ---- drawing ----------------------------------------------------------------

int CPicture::DrawOnCorners(Gdiplus::Graphics& g, Bitmap* bitmap, const tagPOINTF corners[4], int mode, float dx,
                            float dy) {
    if (bitmap == nullptr || m_pView == nullptr) return 0;
    const float zoom = m_pView->GetZoom();
    Gdiplus::PointF dev[4];
    for (int i = 0; i < 4; ++i) {
        m_pView->LP2DP(zoom, corners[i], dev[i], mode);
        dev[i].X += dx;
        dev[i].Y += dy;
    }
    // The image's top-left, top-right and bottom-left corners.
    const Gdiplus::PointF place[3] = {dev[1], dev[2], dev[0]};
    if (g.DrawImage(bitmap, place, 3) == Gdiplus::OutOfMemory) {
        ShowMessage("MSG_NO_MEMORY_DISPALYED");
        return 0;
    }
    return 1;
}

int CPicture::Draw(CDC* dc, int mode, int a, int b, int c) {
    if (dc == nullptr) return 0;
    Gdiplus::Graphics g(dc);
    return Draw(dc, &g, GetPenColor(-1), mode, a, b, c, 0.0f, 0.0f);
}

int CPicture::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int mode, int, int, int, float dx, float dy) {
    if (m_pView == nullptr || (g == nullptr && dc == nullptr)) return 0;
    std::unique_ptr<Gdiplus::Graphics> own;
    if (g == nullptr) {
        own = std::make_unique<Gdiplus::Graphics>(dc);
        g = own.get();
    }
    // A move preview shifts the image with its outline, turned or not.
    DrawOnCorners(*g, GetDisplayBmp(), cornerPointf, mode, dx, dy);
    if (dx != 0.0f || dy != 0.0f) {
        const float zoom = m_pView->GetZoom();
        Gdiplus::PointF dev[4];
        for (int i = 0; i < 4; ++i) {
            m_pView->LP2DP(zoom, cornerPointf[i], dev[i], mode);
            dev[i].X += dx;
            dev[i].Y += dy;
        }
        Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
        g->DrawPolygon(&pen, dev, 4);
    }
    return 0;
}

int CPicture::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>&, DWORD, int, float dx, float dy) {
    Bitmap* screen = GetDisplayBmp();
    if (g == nullptr || screen == nullptr) return 0;
    const Gdiplus::PointF place[3] = {Gdiplus::PointF(cornerPointf[1].x + dx, cornerPointf[1].y + dy),
                                      Gdiplus::PointF(cornerPointf[2].x + dx, cornerPointf[2].y + dy),
                                      Gdiplus::PointF(cornerPointf[0].x + dx, cornerPointf[0].y + dy)};
    if (g->DrawImage(screen, place, 3) == Gdiplus::OutOfMemory) ShowMessage("MSG_NO_MEMORY_DISPALYED");
    return 0;
}

int CPicture::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    if (dc == nullptr || m_pView == nullptr || !std::isfinite(angle) || !Finite(centre)) return 0;
    tagPOINTF turned[4];
    for (int i = 0; i < 4; ++i) turned[i] = PointfRotate(cornerPointf[i], centre, angle);
    Gdiplus::Graphics g(dc);
    DrawOnCorners(g, m_pBitmap.get(), turned, 0, 0.0f, 0.0f);
    Gdiplus::PointF dev[4];
    for (int i = 0; i < 4; ++i) m_pView->LP2DP(m_pView->GetZoom(), turned[i], dev[i], 0);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    g.DrawPolygon(&pen, dev, 4);
    return 0;
}

int CPicture::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    // The picture as Zoom would leave it.
    Placement place;
    if (dc == nullptr || m_pView == nullptr || !ZoomedPlacement(base, sx, sy, place)) return 0;
    const tagPOINTF* placed = place.cornerPointf;
    Gdiplus::Graphics g(dc);
    DrawOnCorners(g, m_pBitmap.get(), placed, 0, 0.0f, 0.0f);
    Gdiplus::PointF dev[4];
    for (int i = 0; i < 4; ++i) {
        m_pView->LP2DP(m_pView->GetZoom(), PointfZoom(cornerPointf[i], sx, sy, base), dev[i], 0);
    }
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    g.DrawPolygon(&pen, dev, 4);
    return 0;
}

// ---- loading ----------------------------------------------------------------

int CPicture::LoadPicFromFile(Bitmap*& bitmap, const wchar_t* path) {
    if (path == nullptr) return 0;
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return 0;
    DWORD high = 0;
    const DWORD length = GetFileSize(file, &high);
    if (length == INVALID_FILE_SIZE || high != 0 || length > kMaxPictureFileBytes) {
        CloseHandle(file);
        return 0;
    }
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, length);
    if (memory == nullptr) {
        CloseHandle(file);
        return 0;
    }
    void* bytes = GlobalLock(memory);
    if (bytes == nullptr) {
        GlobalFree(memory);
        CloseHandle(file);
        return 0;
    }
    // A read that fails leaves the rest of the block zero; the decoder
    // decides what that is worth.
    DWORD read = 0;
    ReadFile(file, bytes, length, &read, nullptr);
    GlobalUnlock(memory);
    CloseHandle(file);

    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(memory, TRUE, &stream) != S_OK || stream == nullptr) {
        GlobalFree(memory);
        return 0;
    }
    bitmap = Bitmap::FromStream(stream);
    stream->Release();
    return 1;
}

void CPicture::AdoptBitmap(std::unique_ptr<Bitmap> bitmap) { m_pBitmap = std::move(bitmap); }

void CPicture::LoadORZCaculateRect() {
    if (m_pBitmap == nullptr || m_nKeepRect != 0) return;
    double dpiX = m_pBitmap->GetHorizontalResolution(), dpiY = m_pBitmap->GetVerticalResolution();
    if (!(dpiX > 0) || !std::isfinite(dpiX)) dpiX = Gdiplus::kDefaultImageDpi;
    if (!(dpiY > 0) || !std::isfinite(dpiY)) dpiY = Gdiplus::kDefaultImageDpi;
    const float width = static_cast<float>(m_pBitmap->GetWidth() * kMmPerInch / dpiX);
    const float height = static_cast<float>(m_pBitmap->GetHeight() * kMmPerInch / dpiY);
    rectfPic = Gdiplus::RectF(-width / 2, height / 2, width, height);
}

int CPicture::InitPicture() {
    Bitmap* raw = nullptr;
    const int ok = LoadPicFromFile(raw, PICTUREPAR.strFileName.GetString());
    std::unique_ptr<Bitmap> loaded = Usable(raw);
    if (ok == 0 || !loaded) {
        ShowMessage("IDS_PICTYPE_ERR");
        return 0;
    }
    BitmapData data;
    if (loaded->LockBits(nullptr, Gdiplus::ImageLockModeRead, loaded->GetPixelFormat(), &data) != Gdiplus::Ok) {
        ShowMessage("IDS_GET_PICFILE_ERROR");
        return 0;
    }
    loaded->UnlockBits(&data);
    AdoptBitmap(std::move(loaded));
    LoadORZCaculateRect();
    rotatePointf = CenterPoint(rectfPic);
    CornersFromRect();
    // Also reached from building the net-dot bitmap, with the event held.
    m_bScreenStale = true;
    const PICTURE_PAR par = PICTUREPAR;
    KeepPicture(par);
    RepaintViewWhenReleased();
    return 1;
}

int CPicture::InitBmp(void* handle, int) {
    CDIB dib(static_cast<HGLOBAL>(handle));
    if (!dib.IsValid()) {
        ShowMessage("IDS_PICTYPE_ERR");
        return 0;
    }
    std::unique_ptr<CBitmap> ddb(dib.MakeBitmap(nullptr));
    std::unique_ptr<Bitmap> bitmap = Usable(ddb ? Bitmap::FromHBITMAP(ddb->GetSafeHandle(), nullptr) : nullptr);
    if (!bitmap) {
        ShowMessage(ddb ? "IDS_PICTYPE_ERR" : "IDS_GET_PICFILE_ERROR");
        return 0;
    }
    std::unique_ptr<Bitmap> rgb(bitmap->Clone(0, 0, static_cast<INT>(bitmap->GetWidth()),
                                              static_cast<INT>(bitmap->GetHeight()), Gdiplus::PixelFormat24bppRGB));
    if (!rgb) {
        ShowMessage("IDS_GET_PICFILE_ERROR");
        return 0;
    }
    // The DIB's own resolution places it, when it names one.
    const BITMAPINFOHEADER* header = dib.GetHeader();
    if (header->biXPelsPerMeter > 0 && header->biYPelsPerMeter > 0) {
        rgb->SetResolution(static_cast<Gdiplus::REAL>(header->biXPelsPerMeter * 0.0254),
                           static_cast<Gdiplus::REAL>(header->biYPelsPerMeter * 0.0254));
    }
    AdoptBitmap(std::move(rgb));
    LoadORZCaculateRect();
    rotatePointf = CenterPoint(rectfPic);
    CornersFromRect();
    m_bScreenStale = true;
    SetPicture(PICTUREPAR);
    return 1;
}

int CPicture::InitPictureFromOrz() {
    if (PICTUREPAR.bReinit == 0) {
        // The saved pixels must hold what their description announces.
        const bool plausible = bmWidth >= 1 && bmHeight >= 1 && bmWidth <= Gdiplus::kMaxImageSide &&
                               bmHeight <= Gdiplus::kMaxImageSide && bmPlanes == 1 &&
                               (bmBitsPixel == 1 || bmBitsPixel == 4 || bmBitsPixel == 8 || bmBitsPixel == 16 ||
                                bmBitsPixel == 24 || bmBitsPixel == 32) &&
                               bmWidthBytes >= DdbRowBytes(bmWidth, bmBitsPixel) && bmWidthBytes % 2 == 0 &&
                               static_cast<uint64_t>(bmWidthBytes) * static_cast<uint64_t>(bmHeight) <= bmBits.size();
        if (!plausible) {
            ShowMessage("IDS_PICTYPE_ERR");
            return 0;
        }
        BITMAP bm{};
        bm.bmType = bmType;
        bm.bmWidth = bmWidth;
        bm.bmHeight = bmHeight;
        bm.bmWidthBytes = bmWidthBytes;
        bm.bmPlanes = static_cast<WORD>(bmPlanes);
        bm.bmBitsPixel = static_cast<WORD>(bmBitsPixel);
        bm.bmBits = bmBits.data();
        const HBITMAP handle = CreateBitmapIndirect(&bm);
        if (handle == nullptr) {
            ShowMessage("IDS_PICTYPE_ERR");
            return 0;
        }
        std::unique_ptr<Bitmap> bitmap = Usable(Bitmap::FromHBITMAP(handle, nullptr));
        DeleteObject(handle);
        if (!bitmap) {
            ShowMessage("IDS_PICTYPE_ERR");
            return 0;
        }
        // The saved rows run bottom-up.
        bitmap->RotateFlip(Gdiplus::RotateNoneFlipY);
        const PixelFormat format = bitmap->GetPixelFormat();
        if (format != Gdiplus::PixelFormat24bppRGB && format != Gdiplus::PixelFormat8bppIndexed) {
            bitmap.reset(bitmap->Clone(0, 0, static_cast<INT>(bitmap->GetWidth()),
                                       static_cast<INT>(bitmap->GetHeight()), Gdiplus::PixelFormat24bppRGB));
        }
        if (!bitmap) {
            ShowMessage("IDS_GET_PICFILE_ERROR");
            return 0;
        }
        AdoptBitmap(std::move(bitmap));
    } else {
        if (InitPicture() == 0) return 0;
        const ShapeGuard guard(this);
        ApplyFixedSizeAndAnchor();
    }
    m_bScreenStale = true;
    SetPicture(PICTUREPAR);
    return 1;
}

void CPicture::RestoreAfterRead() {
    PICTUREPAR.strFileName = PICTUREPAR.wstrFileName.c_str();
    if (!FiniteParameters(PICTUREPAR)) {
        // What a damaged file holds in place of a number takes its default.
        const PICTURE_PAR defaults;
        auto keep = [](auto& v, auto fallback) {
            if (!std::isfinite(v)) v = fallback;
        };
        keep(PICTUREPAR.dBrightness, defaults.dBrightness);
        keep(PICTUREPAR.dContrast, defaults.dContrast);
        keep(PICTUREPAR.dInvRatioX, defaults.dInvRatioX);
        keep(PICTUREPAR.dInvRatioY, defaults.dInvRatioY);
        keep(PICTUREPAR.fFixWidth, defaults.fFixWidth);
        keep(PICTUREPAR.fFixHeight, defaults.fFixHeight);
        keep(PICTUREPAR.ptAnchor.x, defaults.ptAnchor.x);
        keep(PICTUREPAR.ptAnchor.y, defaults.ptAnchor.y);
    }
    if (!std::isfinite(fRotateAngle)) fRotateAngle = 0.0f;
    fRotateAngle = Normalize360(fRotateAngle);
    if (!std::isfinite(rectfPic.X) || !std::isfinite(rectfPic.Y) || !std::isfinite(rectfPic.Width) ||
        !std::isfinite(rectfPic.Height)) {
        rectfPic = Gdiplus::RectF();
    }
    const bool savedCorners =
        arr4Pointf.size() == 1 && arr4Pointf[0].size() == 4 &&
        std::all_of(arr4Pointf[0].begin(), arr4Pointf[0].end(), [](const tagPOINTF& p) { return Finite(p); });
    Placement place = GetPlacement();
    if (savedCorners) {
        std::copy(arr4Pointf[0].begin(), arr4Pointf[0].end(), std::begin(place.cornerPointf));
        // The image's top edge runs clockwise of its left edge unless it
        // was mirrored.
        const tagPOINTF& bl = place.cornerPointf[0];
        const tagPOINTF& tl = place.cornerPointf[1];
        const tagPOINTF& tr = place.cornerPointf[2];
        const double cross = (static_cast<double>(tr.x) - tl.x) * (static_cast<double>(bl.y) - tl.y) -
                             (static_cast<double>(tr.y) - tl.y) * (static_cast<double>(bl.x) - tl.x);
        place.m_bMirrored = cross > 0;
        // A pivot saved at the picture's centre is kept as saved, so that
        // the picture saves the same bytes again; one left elsewhere (by
        // turns about other centres) is brought to the centre.
        const tagPOINTF centre = GetMidPointF(place.cornerPointf[0], place.cornerPointf[2]);
        const double tolerance = 1e-4 + 1e-6 * std::max(std::fabs(centre.x), std::fabs(centre.y));
        const bool keep = Finite(place.rotatePointf) && geom::Dist(place.rotatePointf, centre) <= tolerance &&
                          geom::Dist(CenterPoint(place.rectfPic), place.rotatePointf) <= tolerance;
        if (!keep) Recentre(place);
    } else {
        place.rotatePointf = CenterPoint(place.rectfPic);
        place.m_bMirrored = false;
        PlaceCorners(place);
    }
    if (!SetPlacement(place)) {
        // Numbers past the float range: the picture comes back unplaced.
        rectfPic = Gdiplus::RectF();
        fRotateAngle = 0.0f;
        rotatePointf = {};
        m_bMirrored = false;
        CornersFromRect();
    }
    m_nKeepRect = 1;
    InitPictureFromOrz();
    m_nKeepRect = 0;
    InvalidateGeometry();
}

// ---- parameters -------------------------------------------------------------

int CPicture::SetPicture(PICTURE_PAR par) {
    // A number that is not finite would be kept and saved: the parameters
    // are refused whole.
    if (!FiniteParameters(par)) return 0;
    {
        // Released before the view is asked to repaint.
        const ShapeGuard guard(this);
        KeepPicture(par);
    }
    if (m_pView != nullptr) m_pView->Invalidate();
    return 1;
}

void CPicture::KeepPicture(const PICTURE_PAR& par) {
    const PICTURE_PAR& old = PICTUREPAR;
    const bool screenChanged = par.nDpiX != old.nDpiX || par.nDpiY != old.nDpiY || par.bUseDpi != old.bUseDpi ||
                               par.dBrightness != old.dBrightness || par.dContrast != old.dContrast ||
                               par.bBinary != old.bBinary || par.byThreshold != old.byThreshold ||
                               par.bNegative != old.bNegative || par.bGray != old.bGray;
    PICTUREPAR = par;
    if (screenChanged) PICTUREPAR.bRebuildScreen = 1;
    InvalidateGeometry();
}

void CPicture::GetPicture(PICTURE_PAR& par) { par = PICTUREPAR; }

void CPicture::SetFilename(const CString& path) {
    PICTUREPAR.strFileName = path;
    const std::wstring full(path.GetString());
    const size_t cut = full.find_last_of(L"\\/");
    SetCaption(CString((cut == std::wstring::npos ? full : full.substr(cut + 1)).c_str()));
}

CString CPicture::GetFilename() { return PICTUREPAR.strFileName; }

int CPicture::CheckLineWidth() {
    const ShapeGuard guard(this);
    return CheckLineWidthHeld();
}

int CPicture::CheckLineWidthHeld() {
    if (m_pBitmap == nullptr) return 0;
    PICTURE_PAR par = PICTUREPAR;
    if (par.nDpiX > 0 && par.nDpiY > 0) {
        // The bitmap's size in millimetres at the stored resolution.
        const double sizeX = m_pBitmap->GetWidth() / static_cast<double>(par.nDpiX) * kMmPerInch;
        const double sizeY = m_pBitmap->GetHeight() / static_cast<double>(par.nDpiY) * kMmPerInch;
        const double ratioX = rectfPic.Width / sizeX, ratioY = rectfPic.Height / sizeY;
        if (std::isfinite(ratioX) && std::isfinite(ratioY) && ratioX > 0 && ratioY > 0) {
            if (std::fabs(ratioX - 1) > kSizeTolerance || std::fabs(ratioY - 1) > kSizeTolerance) {
                par.bRebuildScreen = 1;
            }
            const double invX = 1 / ratioX, invY = 1 / ratioY;
            if (par.bUseDpi == 0) {
                // The stored resolution becomes what the bitmap has at the
                // picture's size: the ratio was taken at the stored one.
                auto follow = [](int dpi, double inv) {
                    const double v = dpi * inv;
                    return v >= 1 && v < INT_MAX ? static_cast<int>(v) : dpi;
                };
                par.nDpiX = follow(par.nDpiX, invX);
                par.nDpiY = follow(par.nDpiY, invY);
            }
            par.dInvRatioX = invX;
            par.dInvRatioY = invY;
        }
    }
    if (FiniteParameters(par)) {
        KeepPicture(par);
        RepaintViewWhenReleased();
    }
    return 0;
}

// ---- image processing ---------------------------------------------------------

BYTE CPicture::ToByte(int value) { return static_cast<BYTE>(std::clamp(value, 0, 255)); }

Bitmap* CPicture::ResizeBitmap(Bitmap* source, int width, int height, int dpiX, int dpiY, bool keepAspect) {
    if (source == nullptr || source->GetWidth() == 0 || source->GetHeight() == 0) return nullptr;
    std::unique_ptr<Bitmap> clone(source->Clone());
    if (!clone) {
        ShowResizeMemoryError();
        return nullptr;
    }
    const double W = clone->GetWidth(), H = clone->GetHeight();
    if (keepAspect && width > 0 && height > 0) {
        const double r = std::min(W / width, H / height);
        auto side = [](double v) { return v >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(v); };
        width = side(W / r);
        height = side(H / r);
    }
    if (width < 1 || height < 1) {
        ShowMessage("MSG_PARAMETER_INCORRECT");
        return nullptr;
    }
    std::unique_ptr<Bitmap> out = Usable(new (std::nothrow) Bitmap(width, height, clone->GetPixelFormat()));
    if (!out) {
        ShowResizeMemoryError();
        return nullptr;
    }
    // An indexed copy needs its source's colours: drawing picks the nearest
    // palette entry of every pixel.
    if (Gdiplus::IsIndexedPixelFormat(clone->GetPixelFormat())) {
        const INT size = clone->GetPaletteSize();
        std::vector<uint8_t> palette(static_cast<size_t>(size));
        if (clone->GetPalette(reinterpret_cast<Gdiplus::ColorPalette*>(palette.data()), size) == Gdiplus::Ok) {
            out->SetPalette(reinterpret_cast<const Gdiplus::ColorPalette*>(palette.data()));
        }
    }
    out->SetResolution(static_cast<Gdiplus::REAL>(dpiX), static_cast<Gdiplus::REAL>(dpiY));
    Gdiplus::Status status;
    {
        Gdiplus::Graphics g(out.get());
        status = g.DrawImage(clone.get(), Gdiplus::Rect(0, 0, width, height), 0, 0, static_cast<INT>(W),
                             static_cast<INT>(H), Gdiplus::UnitPixel);
    }
    if (status == Gdiplus::OutOfMemory) {
        ShowResizeMemoryError();
        return nullptr;
    }
    return out.release();
}

void CPicture::ToGray(Bitmap* source, Bitmap** result) {
    if (result == nullptr) return;
    *result = source;
    if (source == nullptr) return;
    const PixelFormat format = source->GetPixelFormat();
    if (format != Gdiplus::PixelFormat8bppIndexed && format != Gdiplus::PixelFormat24bppRGB &&
        format != Gdiplus::PixelFormat32bppARGB) {
        return;
    }
    std::unique_ptr<Bitmap> out = NewGreyBitmap(source);
    BitmapData in;
    if (!out ||
        source->LockBits(nullptr, Gdiplus::ImageLockModeRead, Gdiplus::PixelFormat32bppARGB, &in) != Gdiplus::Ok) {
        *result = nullptr;
        return;
    }
    const double contrast = std::isfinite(PICTUREPAR.dContrast) ? PICTUREPAR.dContrast : 0.0;
    const double brightness = std::isfinite(PICTUREPAR.dBrightness) ? PICTUREPAR.dBrightness : 0.0;
    const INT w = static_cast<INT>(source->GetWidth()), h = static_cast<INT>(source->GetHeight());
    std::vector<BYTE> grey(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (INT y = 0; y < h; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(in.Scan0) + static_cast<size_t>(y) * in.Stride;
        for (INT x = 0; x < w; ++x) {
            Gdiplus::ARGB c;
            std::memcpy(&c, row + static_cast<size_t>(x) * 4, 4);
            int r, gr, b;
            OverWhite(c, r, gr, b);
            double g = Luminance(r, gr, b);
            g = g + (g - 128.0) * contrast;
            g = g + 255.0 * brightness;
            BYTE v;
            if (g > 255.0) {
                v = 255;
            } else if (!(g > 0.0)) {
                v = 0;
            } else {
                v = ToByte(static_cast<int>(g));
            }
            grey[static_cast<size_t>(y) * w + x] = v;
        }
    }
    source->UnlockBits(&in);
    *result = WriteGrey(out.get(), grey) ? out.release() : nullptr;
}

void CPicture::Binaryzation(Bitmap* source, Bitmap** result, BYTE threshold) {
    if (result == nullptr) return;
    *result = nullptr;
    if (source == nullptr) return;
    std::vector<BYTE> grey;
    if (!ReadGrey(source, grey)) return;
    const INT w = static_cast<INT>(source->GetWidth()), h = static_cast<INT>(source->GetHeight());
    // Jarvis, Judice and Ninke: the error goes to the next two pixels of the
    // row and to five pixels of each of the next two rows, in 48ths. The
    // working copy holds bytes: what spills past black or white is cut off.
    struct Tap {
        int dx, dy, weight;
    };
    static constexpr Tap kTaps[] = {{1, 0, 7}, {2, 0, 5},  {-2, 1, 3}, {-1, 1, 5}, {0, 1, 7}, {1, 1, 5},
                                    {2, 1, 3}, {-2, 2, 1}, {-1, 2, 3}, {0, 2, 5},  {1, 2, 3}, {2, 2, 1}};
    std::vector<BYTE> out(grey.size());
    for (INT y = 0; y < h; ++y) {
        for (INT x = 0; x < w; ++x) {
            const size_t at = static_cast<size_t>(y) * w + x;
            const int value = grey[at];
            int error;
            if (value > threshold) {
                out[at] = 255;
                error = value - 255;
            } else {
                out[at] = 0;
                error = value;
            }
            if (error == 0) continue;
            for (const Tap& t : kTaps) {
                const INT nx = x + t.dx, ny = y + t.dy;
                if (nx < 0 || nx >= w || ny >= h) continue;
                BYTE& n = grey[static_cast<size_t>(ny) * w + nx];
                n = ToByte(n + error * t.weight / 48);
            }
        }
    }
    std::unique_ptr<Bitmap> bw = NewGreyBitmap(source);
    if (bw && WriteGrey(bw.get(), out)) *result = bw.release();
}

void CPicture::ImageNegative(Bitmap* source, Bitmap** result) {
    if (result == nullptr) return;
    *result = source;
    if (source == nullptr) return;
    const PixelFormat format = source->GetPixelFormat();
    const INT w = static_cast<INT>(source->GetWidth()), h = static_cast<INT>(source->GetHeight());
    if (format == Gdiplus::PixelFormat8bppIndexed) {
        const std::vector<Gdiplus::ARGB> palette = PaletteOf(source);
        std::unique_ptr<Bitmap> out(source->Clone(0, 0, w, h, format));
        if (!out) {
            *result = nullptr;
            return;
        }
        if (IsGreyRamp(palette)) {
            // Grey values: v becomes 255 - v.
            BitmapData data;
            if (out->LockBits(nullptr, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite, format, &data) ==
                Gdiplus::Ok) {
                for (INT y = 0; y < h; ++y) {
                    uint8_t* row = static_cast<uint8_t*>(data.Scan0) + static_cast<size_t>(y) * data.Stride;
                    for (INT x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(255 - row[x]);
                }
                out->UnlockBits(&data);
            }
            SetGreyPalette(out.get());
        } else {
            // A colour palette: its colours are inverted, the indices stay.
            std::vector<uint8_t> buffer(static_cast<size_t>(out->GetPaletteSize()));
            out->GetPalette(reinterpret_cast<Gdiplus::ColorPalette*>(buffer.data()), static_cast<INT>(buffer.size()));
            for (size_t i = 0; i < palette.size(); ++i) {
                const Gdiplus::ARGB c = palette[i] ^ 0x00FFFFFFu;
                std::memcpy(buffer.data() + offsetof(Gdiplus::ColorPalette, Entries) + i * sizeof c, &c, sizeof c);
            }
            out->SetPalette(reinterpret_cast<const Gdiplus::ColorPalette*>(buffer.data()));
        }
        *result = out.release();
        return;
    }
    if (format != Gdiplus::PixelFormat24bppRGB && format != Gdiplus::PixelFormat32bppARGB &&
        format != Gdiplus::PixelFormat32bppRGB) {
        return;
    }
    std::unique_ptr<Bitmap> out(source->Clone(0, 0, w, h, format));
    BitmapData data;
    if (!out || out->LockBits(nullptr, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite, format, &data) !=
                    Gdiplus::Ok) {
        *result = nullptr;
        return;
    }
    const int bytes = format == Gdiplus::PixelFormat24bppRGB ? 3 : 4;
    for (INT y = 0; y < h; ++y) {
        uint8_t* row = static_cast<uint8_t*>(data.Scan0) + static_cast<size_t>(y) * data.Stride;
        for (INT x = 0; x < w; ++x) {
            uint8_t* p = row + static_cast<size_t>(x) * bytes;
            // Blue, green and red; alpha stays.
            for (int ch = 0; ch < 3; ++ch) p[ch] = static_cast<uint8_t>(255 - p[ch]);
        }
    }
    out->UnlockBits(&data);
    *result = out.release();
}

std::unique_ptr<Bitmap> CPicture::BuildProcessed(bool forMarking) {
    if (m_pBitmap == nullptr) return nullptr;
    const PICTURE_PAR& par = PICTUREPAR;
    int width = static_cast<int>(m_pBitmap->GetWidth());
    int height = static_cast<int>(m_pBitmap->GetHeight());
    if (par.bUseDpi != 0) {
        width = DpiPixels(rectfPic.Width, par.nDpiX);
        height = DpiPixels(rectfPic.Height, par.nDpiY);
    }
    std::unique_ptr<Bitmap> current(ResizeBitmap(m_pBitmap.get(), width, height, par.nDpiX, par.nDpiY, false));
    if (forMarking || par.bGray != 0 || par.bBinary != 0) {
        Apply(current, [this](Bitmap* s, Bitmap** r) { ToGray(s, r); });
    }
    if (par.bBinary != 0) {
        const BYTE threshold = par.byThreshold;
        Apply(current, [this, threshold](Bitmap* s, Bitmap** r) { Binaryzation(s, r, threshold); });
    }
    if (par.bNegative != 0) {
        Apply(current, [this](Bitmap* s, Bitmap** r) { ImageNegative(s, r); });
    }
    return current;
}

void CPicture::ApplyFixedSizeAndAnchor() {
    const PICTURE_PAR& par = PICTUREPAR;
    double sx = 1.0, sy = 1.0;
    if (par.bFixWidth != 0 && par.fFixWidth > 0 && rectfPic.Width > 0 && std::isfinite(par.fFixWidth)) {
        sx = par.fFixWidth / rectfPic.Width;
    }
    if (par.bFixHeight != 0 && par.fFixHeight > 0 && rectfPic.Height > 0 && std::isfinite(par.fFixHeight)) {
        sy = par.fFixHeight / rectfPic.Height;
    }
    if (sx != 1.0 || sy != 1.0) ZoomHeld({rectfPic.X, rectfPic.Y}, sx, sy);

    const Gdiplus::RectF& r = rectfPic;
    const float left = r.X, right = r.X + r.Width, top = r.Y, bottom = r.Y - r.Height;
    const float midX = r.X + r.Width / 2, midY = r.Y - r.Height / 2;
    tagPOINTF ref{midX, midY};
    switch (par.nAnchor) {
        case 0: ref = {left, bottom}; break;
        case 1: ref = {left, midY}; break;
        case 2: ref = {left, top}; break;
        case 3: ref = {midX, top}; break;
        case 4: ref = {right, top}; break;
        case 5: ref = {right, midY}; break;
        case 6: ref = {right, bottom}; break;
        case 7: ref = {midX, bottom}; break;
        default: break;
    }
    if (Finite(par.ptAnchor)) MoveHeld(par.ptAnchor.x - ref.x, par.ptAnchor.y - ref.y);
    if (m_pView != nullptr && m_pView->GetDocument() != nullptr) {
        Gdiplus::RectF bounds;
        GetRectangle(bounds);
        CBaseDoc* doc = m_pView->GetDocument();
        WhenReleased([doc, bounds] { doc->InvalidateRectF(bounds); });
    }
}

Bitmap* CPicture::GetNetDotBmp() {
    LockShape();
    Bitmap* result = nullptr;
    try {
        if (PICTUREPAR.bReinit != 0 && InitPicture() != 0) ApplyFixedSizeAndAnchor();
        result = BuildProcessed(true).release();
    } catch (const std::bad_alloc&) {
        result = nullptr;
    }
    UnlockShape();
    return result;
}

Bitmap* CPicture::GetDisplayBmp() {
    LockShape();
    if (PICTUREPAR.bRebuildScreen != 0 || m_bScreenStale) {
        std::unique_ptr<Bitmap> fresh;
        try {
            fresh = BuildProcessed(false);
        } catch (const std::bad_alloc&) {
            fresh.reset();
        }
        m_pScreenBitmap = std::move(fresh);
        // Cleared even when the build failed: its message is not repeated
        // on every repaint.
        PICTUREPAR.bRebuildScreen = 0;
        m_bScreenStale = false;
    }
    Bitmap* screen = m_pScreenBitmap.get();
    UnlockShape();
    return screen;
}

// ---- mark data -----------------------------------------------------------------

void CPicture::GetMarkBitmapPoint32(std::vector<tagPOINTF>& points) {
    std::unique_ptr<Bitmap> dots(GetNetDotBmp());
    if (!dots || dots->GetWidth() == 0 || dots->GetHeight() == 0) return;
    const INT W = static_cast<INT>(dots->GetWidth()), H = static_cast<INT>(dots->GetHeight());
    std::vector<BYTE> grey;
    if (dots->GetPixelFormat() == Gdiplus::PixelFormat8bppIndexed) {
        BitmapData data;
        if (dots->LockBits(nullptr, Gdiplus::ImageLockModeRead, Gdiplus::PixelFormat8bppIndexed, &data) !=
            Gdiplus::Ok) {
            return;
        }
        grey.resize(static_cast<size_t>(W) * static_cast<size_t>(H));
        for (INT y = 0; y < H; ++y) {
            std::memcpy(grey.data() + static_cast<size_t>(y) * W,
                        static_cast<const uint8_t*>(data.Scan0) + static_cast<size_t>(y) * data.Stride,
                        static_cast<size_t>(W));
        }
        dots->UnlockBits(&data);
    } else if (!ReadGrey(dots.get(), grey)) {
        return;
    }
    dots.reset();

    const PICTURE_PAR& par = PICTUREPAR;
    const double px = static_cast<double>(rectfPic.Width) / W;
    const double py = static_cast<double>(rectfPic.Height) / H;
    const double x0 = rectfPic.X, y0 = rectfPic.Y;
    const INT step = par.bDotStep != 0 && par.nDotStep > 0 ? par.nDotStep : 1;
    const bool rows = par.bRowScan != 0;
    const INT lines = rows ? H : W;
    const INT along = rows ? W : H;
    // The positions of one line; every other line runs them backwards. The
    // lines are counted as visited, so a step above 1 still alternates.
    std::vector<INT> forward;
    for (INT i = 0; i < along; i += step) forward.push_back(i);
    const bool turn = fRotateAngle != 0.0f;
    INT visited = 0;
    for (INT line = 0; line < lines; line += step, ++visited) {
        const bool backwards = par.bBidirection != 0 && visited % 2 == 1;
        for (size_t k = 0; k < forward.size(); ++k) {
            const INT pos = backwards ? forward[forward.size() - 1 - k] : forward[k];
            const INT row = rows ? line : pos;
            const INT col = rows ? pos : line;
            if (grey[static_cast<size_t>(row) * W + col] == 255) continue;
            const INT rowUsed = par.byHalfLine != 0 ? row + 1 : row;
            const double x = x0 + col * px + px / 4;
            double y = y0 - rowUsed * py + py / 4;
            // A mirrored image stands upside down in its rectangle.
            if (m_bMirrored) y = 2 * y0 - rectfPic.Height - y;
            if (!geom::FitsFloat(x) || !geom::FitsFloat(y)) {
                points.clear();
                return;
            }
            tagPOINTF p{static_cast<float>(x), static_cast<float>(y)};
            // The dots follow the picture's rotation, as its outline does.
            if (turn) p = PointfRotate(p, rotatePointf, -fRotateAngle);
            if (!Finite(p)) {
                // Past the float range: no dot rather than a wild one.
                points.clear();
                return;
            }
            points.push_back(p);
        }
    }
}

bool CPicture::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    LockShape();
    if (m_pView != nullptr && !m_markCache.IsEmpty() && !GetDataForce()) {
        out = m_markCache;
        UnlockShape();
        return true;
    }
    SetGetDataForce(false);
    tagMarkDataPar header;
    header.bFlag = out.bFlag;
    header.nReserved1 = out.nReserved1;
    header.rect = out.rect;
    header.nReserved2 = out.nReserved2;
    UnlockShape();

    // Building the net-dot bitmap takes the event itself.
    std::vector<tagPOINTF> dots;
    try {
        GetMarkBitmapPoint32(dots);
    } catch (const std::bad_alloc&) {
        dots.clear();
    }

    LockShape();
    MarkDataLock lock(this, &out);
    m_markCache = header;
    if (dots.empty()) return lock.Leave(false);
    tagPathData path;
    path.nPenIndex = GetPenIndex();
    path.arrPolylines.push_back(std::move(dots));
    m_markCache.arrPaths.push_back(std::move(path));
    return lock.LeaveWithRect(true);
}

// ---- saving -------------------------------------------------------------------

void CPicture::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    arr4Pointf.assign(1, std::vector<tagPOINTF>(std::begin(cornerPointf), std::end(cornerPointf)));
    bmBits.clear();
    bmWidthBytes = bmWidth = bmType = bmHeight = 0;
    bmPlanes = bmBitsPixel = 0;
    m_bitmapInfo = BITMAP{};
    if (m_pBitmap == nullptr) return;
    HBITMAP handle = nullptr;
    if (m_pBitmap->GetHBITMAP(Gdiplus::Color(255, 255, 255, 255), &handle) != Gdiplus::Ok || handle == nullptr) {
        return;
    }
    if (GetObject(handle, static_cast<int>(sizeof m_bitmapInfo), &m_bitmapInfo) != 0 &&
        m_bitmapInfo.bmBits != nullptr) {
        // Whole rows, padding included: what a reader hands back to
        // CreateBitmapIndirect.
        const size_t bytes =
            static_cast<size_t>(m_bitmapInfo.bmWidthBytes) * static_cast<size_t>(m_bitmapInfo.bmHeight);
        const BYTE* pixels = static_cast<const BYTE*>(m_bitmapInfo.bmBits);
        bmBits.assign(pixels, pixels + bytes);
        bmWidth = m_bitmapInfo.bmWidth;
        bmHeight = m_bitmapInfo.bmHeight;
        bmType = m_bitmapInfo.bmType;
        bmWidthBytes = m_bitmapInfo.bmWidthBytes;
        bmPlanes = m_bitmapInfo.bmPlanes;
        bmBitsPixel = m_bitmapInfo.bmBitsPixel;
    }
    DeleteObject(handle);
    m_bitmapInfo.bmBits = nullptr;
}

// ---- screen copies --------------------------------------------------------------

HBITMAP CPicture::CopyScreenToBitmap(RECT* rect) {
    if (rect == nullptr || rect->right <= rect->left || rect->bottom <= rect->top) return nullptr;
    HDC screen = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    if (screen == nullptr) return nullptr;
    const int left = std::max<LONG>(rect->left, 0);
    const int top = std::max<LONG>(rect->top, 0);
    const int right = std::min<LONG>(rect->right, GetDeviceCaps(screen, HORZRES));
    const int bottom = std::min<LONG>(rect->bottom, GetDeviceCaps(screen, VERTRES));
    HBITMAP copy = nullptr;
    if (right > left && bottom > top) {
        HDC memory = CreateCompatibleDC(screen);
        copy = CreateCompatibleBitmap(screen, right - left, bottom - top);
        if (memory != nullptr && copy != nullptr) {
            HBITMAP previous = SelectObject(memory, copy);
            BitBlt(memory, 0, 0, right - left, bottom - top, screen, left, top, SRCCOPY);
            if (previous != nullptr) SelectObject(memory, previous);
        }
        if (memory != nullptr) DeleteDC(memory);
    }
    DeleteDC(screen);
    return copy;
}

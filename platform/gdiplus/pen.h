// GDI+ pens and brushes. A pen is a colour, a width in world units (0 draws
// one device pixel whatever the transform), a dash style and its line caps,
// of which the arrow caps mark the direction of a path.
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include <memory>

#include "morvik/gdiplus/color.h"
#include "morvik/gdiplus/gdiplus_types.h"

namespace Gdiplus {

enum DashStyle {
    DashStyleSolid = 0,
    DashStyleDash = 1,
    DashStyleDot = 2,
    DashStyleDashDot = 3,
    DashStyleDashDotDot = 4,
    DashStyleCustom = 5,
};

enum DashCap {
    DashCapFlat = 0,
    DashCapRound = 2,
    DashCapTriangle = 3,
};

enum LineCap {
    LineCapFlat = 0,
    LineCapSquare = 1,
    LineCapRound = 2,
    LineCapTriangle = 3,
    LineCapNoAnchor = 0x10,
    LineCapSquareAnchor = 0x11,
    LineCapRoundAnchor = 0x12,
    LineCapDiamondAnchor = 0x13,
    LineCapArrowAnchor = 0x14,
    LineCapCustom = 0xFF,
    LineCapAnchorMask = 0xF0,
};

enum LineJoin {
    LineJoinMiter = 0,
    LineJoinBevel = 1,
    LineJoinRound = 2,
    LineJoinMiterClipped = 3,
};

enum CustomLineCapType {
    CustomLineCapTypeDefault = 0,
    CustomLineCapTypeAdjustableArrow = 1,
};

enum BrushType {
    BrushTypeSolidColor = 0,
    BrushTypeHatchFill = 1,
    BrushTypeTextureFill = 2,
    BrushTypePathGradient = 3,
    BrushTypeLinearGradient = 4,
};

// A line cap drawn at the end of an open figure. Only arrow caps are built:
// the base class stands for a cap of its base kind.
class MORVIK_API CustomLineCap {
public:
    explicit CustomLineCap(LineCap baseCap = LineCapFlat) : m_baseCap(baseCap) {}
    virtual ~CustomLineCap() = default;
    virtual CustomLineCap* Clone() const { return new CustomLineCap(*this); }
    virtual CustomLineCapType GetType() const { return CustomLineCapTypeDefault; }
    LineCap GetBaseCap() const { return m_baseCap; }
    Status SetBaseCap(LineCap cap);
    Status GetLastStatus() const { return Ok; }

protected:
    CustomLineCap(const CustomLineCap&) = default;
    CustomLineCap& operator=(const CustomLineCap&) = default;

private:
    LineCap m_baseCap;
};

// An arrow head: height along the line and width across it, both in
// multiples of the pen width; filled or outlined.
class MORVIK_API AdjustableArrowCap : public CustomLineCap {
public:
    AdjustableArrowCap(REAL height, REAL width, BOOL isFilled = TRUE);
    CustomLineCap* Clone() const override { return new AdjustableArrowCap(*this); }
    CustomLineCapType GetType() const override { return CustomLineCapTypeAdjustableArrow; }
    Status SetHeight(REAL height);
    REAL GetHeight() const { return m_height; }
    Status SetWidth(REAL width);
    REAL GetWidth() const { return m_width; }
    Status SetMiddleInset(REAL inset);
    REAL GetMiddleInset() const { return m_middleInset; }
    Status SetFillState(BOOL isFilled);
    BOOL IsFilled() const { return m_filled ? TRUE : FALSE; }

protected:
    AdjustableArrowCap(const AdjustableArrowCap&) = default;

private:
    REAL m_height;
    REAL m_width;
    REAL m_middleInset = 0;
    bool m_filled;
};

class MORVIK_API Brush {
public:
    virtual ~Brush() = default;
    virtual Brush* Clone() const = 0;
    virtual BrushType GetType() const = 0;
    // The colour a flat fill of this brush uses.
    virtual Color FillColor() const = 0;
    Status GetLastStatus() const { return Ok; }

protected:
    Brush() = default;
    Brush(const Brush&) = default;
    Brush& operator=(const Brush&) = default;
};

class MORVIK_API SolidBrush : public Brush {
public:
    explicit SolidBrush(const Color& color) : m_color(color) {}
    Brush* Clone() const override { return new SolidBrush(*this); }
    BrushType GetType() const override { return BrushTypeSolidColor; }
    Color FillColor() const override { return m_color; }
    Status GetColor(Color* color) const;
    Status SetColor(const Color& color);

private:
    SolidBrush(const SolidBrush&) = default;
    Color m_color;
};

class MORVIK_API Pen {
public:
    explicit Pen(const Color& color, REAL width = 1.0f);
    // The pen takes the brush's fill colour.
    explicit Pen(const Brush* brush, REAL width = 1.0f);
    ~Pen();
    Pen(const Pen&) = delete;
    Pen& operator=(const Pen&) = delete;

    Pen* Clone() const;

    // Negative or non-finite widths are refused (InvalidParameter).
    Status SetWidth(REAL width);
    REAL GetWidth() const { return m_width; }
    Status SetColor(const Color& color);
    Status GetColor(Color* color) const;
    Color GetColorValue() const { return m_color; }
    Status SetBrush(const Brush* brush);

    Status SetDashStyle(DashStyle style);
    DashStyle GetDashStyle() const { return m_dash; }
    Status SetDashCap(DashCap cap);
    DashCap GetDashCap() const { return m_dashCap; }

    Status SetStartCap(LineCap cap);
    Status SetEndCap(LineCap cap);
    Status SetLineCap(LineCap startCap, LineCap endCap, DashCap dashCap);
    LineCap GetStartCap() const { return m_startCap; }
    LineCap GetEndCap() const { return m_endCap; }
    // The pen keeps its own copy of the cap; a null cap is refused.
    Status SetCustomStartCap(const CustomLineCap* cap);
    Status SetCustomEndCap(const CustomLineCap* cap);
    // The pen's own copy, or null when the cap is not custom.
    const CustomLineCap* CustomStartCap() const { return m_customStart.get(); }
    const CustomLineCap* CustomEndCap() const { return m_customEnd.get(); }

    Status SetLineJoin(LineJoin join);
    LineJoin GetLineJoin() const { return m_join; }

    // The status of the last failing call, then Ok again.
    Status GetLastStatus() const;

private:
    Status SetStatus(Status s) const;

    Color m_color;
    REAL m_width;
    DashStyle m_dash = DashStyleSolid;
    DashCap m_dashCap = DashCapFlat;
    LineCap m_startCap = LineCapFlat;
    LineCap m_endCap = LineCapFlat;
    LineJoin m_join = LineJoinMiter;
    std::unique_ptr<CustomLineCap> m_customStart;
    std::unique_ptr<CustomLineCap> m_customEnd;
    mutable Status m_lastStatus = Ok;
};

}  // namespace Gdiplus

#include "morvik/afx/macros_restore.inc"

#include "morvik/gdiplus/pen.h"

#include <cmath>

namespace Gdiplus {

namespace {

bool ValidLength(REAL v) { return std::isfinite(v) && v >= 0; }

bool ValidLineCap(LineCap cap) {
    switch (cap) {
        case LineCapFlat:
        case LineCapSquare:
        case LineCapRound:
        case LineCapTriangle:
        case LineCapNoAnchor:
        case LineCapSquareAnchor:
        case LineCapRoundAnchor:
        case LineCapDiamondAnchor:
        case LineCapArrowAnchor:
            return true;
        default:
            return false;
    }
}

}  // namespace

float GdiplusPenWidth(const Pen* pen) { return pen != nullptr ? pen->GetWidth() : 0.0f; }

// ---- caps -------------------------------------------------------------------

Status CustomLineCap::SetBaseCap(LineCap cap) {
    if (!ValidLineCap(cap)) return InvalidParameter;
    m_baseCap = cap;
    return Ok;
}

AdjustableArrowCap::AdjustableArrowCap(REAL height, REAL width, BOOL isFilled)
    : CustomLineCap(LineCapTriangle),
      m_height(ValidLength(height) ? height : 0),
      m_width(ValidLength(width) ? width : 0),
      m_filled(isFilled != FALSE) {}

Status AdjustableArrowCap::SetHeight(REAL height) {
    if (!ValidLength(height)) return InvalidParameter;
    m_height = height;
    return Ok;
}

Status AdjustableArrowCap::SetWidth(REAL width) {
    if (!ValidLength(width)) return InvalidParameter;
    m_width = width;
    return Ok;
}

Status AdjustableArrowCap::SetMiddleInset(REAL inset) {
    if (!std::isfinite(inset)) return InvalidParameter;
    m_middleInset = inset;
    return Ok;
}

Status AdjustableArrowCap::SetFillState(BOOL isFilled) {
    m_filled = isFilled != FALSE;
    return Ok;
}

// ---- brushes ----------------------------------------------------------------

Status SolidBrush::GetColor(Color* color) const {
    if (color == nullptr) return InvalidParameter;
    *color = m_color;
    return Ok;
}

Status SolidBrush::SetColor(const Color& color) {
    m_color = color;
    return Ok;
}

// ---- pens -------------------------------------------------------------------

Pen::Pen(const Color& color, REAL width) : m_color(color), m_width(1.0f) {
    if (ValidLength(width)) {
        m_width = width;
    } else {
        SetStatus(InvalidParameter);
    }
}

Pen::Pen(const Brush* brush, REAL width) : Pen(brush != nullptr ? brush->FillColor() : Color(), width) {
    if (brush == nullptr) SetStatus(InvalidParameter);
}

Pen::~Pen() = default;

Pen* Pen::Clone() const {
    Pen* copy = new Pen(m_color, m_width);
    copy->m_dash = m_dash;
    copy->m_dashCap = m_dashCap;
    copy->m_startCap = m_startCap;
    copy->m_endCap = m_endCap;
    copy->m_join = m_join;
    if (m_customStart) copy->m_customStart.reset(m_customStart->Clone());
    if (m_customEnd) copy->m_customEnd.reset(m_customEnd->Clone());
    return copy;
}

Status Pen::SetWidth(REAL width) {
    if (!ValidLength(width)) return SetStatus(InvalidParameter);
    m_width = width;
    return Ok;
}

Status Pen::SetColor(const Color& color) {
    m_color = color;
    return Ok;
}

Status Pen::GetColor(Color* color) const {
    if (color == nullptr) return SetStatus(InvalidParameter);
    *color = m_color;
    return Ok;
}

Status Pen::SetBrush(const Brush* brush) {
    if (brush == nullptr) return SetStatus(InvalidParameter);
    m_color = brush->FillColor();
    return Ok;
}

Status Pen::SetDashStyle(DashStyle style) {
    // Custom dash patterns are not kept, so a custom style is refused rather
    // than drawn as something else.
    if (style < DashStyleSolid || style > DashStyleDashDotDot) return SetStatus(InvalidParameter);
    m_dash = style;
    return Ok;
}

Status Pen::SetDashCap(DashCap cap) {
    if (cap != DashCapFlat && cap != DashCapRound && cap != DashCapTriangle) return SetStatus(InvalidParameter);
    m_dashCap = cap;
    return Ok;
}

Status Pen::SetStartCap(LineCap cap) {
    if (!ValidLineCap(cap)) return SetStatus(InvalidParameter);
    m_startCap = cap;
    m_customStart.reset();
    return Ok;
}

Status Pen::SetEndCap(LineCap cap) {
    if (!ValidLineCap(cap)) return SetStatus(InvalidParameter);
    m_endCap = cap;
    m_customEnd.reset();
    return Ok;
}

Status Pen::SetLineCap(LineCap startCap, LineCap endCap, DashCap dashCap) {
    if (!ValidLineCap(startCap) || !ValidLineCap(endCap)) return SetStatus(InvalidParameter);
    Status s = SetDashCap(dashCap);
    if (s != Ok) return s;
    SetStartCap(startCap);
    SetEndCap(endCap);
    return Ok;
}

Status Pen::SetCustomStartCap(const CustomLineCap* cap) {
    if (cap == nullptr) return SetStatus(InvalidParameter);
    m_customStart.reset(cap->Clone());
    m_startCap = LineCapCustom;
    return Ok;
}

Status Pen::SetCustomEndCap(const CustomLineCap* cap) {
    if (cap == nullptr) return SetStatus(InvalidParameter);
    m_customEnd.reset(cap->Clone());
    m_endCap = LineCapCustom;
    return Ok;
}

Status Pen::SetLineJoin(LineJoin join) {
    if (join < LineJoinMiter || join > LineJoinMiterClipped) return SetStatus(InvalidParameter);
    m_join = join;
    return Ok;
}

Status Pen::GetLastStatus() const {
    Status s = m_lastStatus;
    m_lastStatus = Ok;
    return s;
}

Status Pen::SetStatus(Status s) const {
    if (s != Ok) m_lastStatus = s;
    return s;
}

}  // namespace Gdiplus

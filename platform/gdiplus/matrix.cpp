#include "morvik/gdiplus/matrix.h"

#include <cmath>
#include <cstdint>

#include "morvik/gdiplus/angles.h"

namespace Gdiplus {

namespace {

using detail::CosSinDeg;
using detail::kPi;

// r = a * b for row-vector affine matrices (a applied first).
void Mul(const double* a, const double* b, double* r) {
    double t[6];
    t[0] = a[0] * b[0] + a[1] * b[2];
    t[1] = a[0] * b[1] + a[1] * b[3];
    t[2] = a[2] * b[0] + a[3] * b[2];
    t[3] = a[2] * b[1] + a[3] * b[3];
    t[4] = a[4] * b[0] + a[5] * b[2] + b[4];
    t[5] = a[4] * b[1] + a[5] * b[3] + b[5];
    for (int i = 0; i < 6; ++i) {
        r[i] = t[i];
    }
}

bool Near(double a, double b) {
    const double scale = std::fmax(1.0, std::fmax(std::fabs(a), std::fabs(b)));
    return std::fabs(a - b) <= 1e-6 * scale;
}

}  // namespace

Matrix::Matrix() : m_{1, 0, 0, 1, 0, 0} {}

Matrix::Matrix(REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy) : m_{m11, m12, m21, m22, dx, dy} {}

Matrix::Matrix(const RectF& rect, const PointF* dstplg) : m_{1, 0, 0, 1, 0, 0} {
    if (dstplg == nullptr || rect.Width == 0 || rect.Height == 0 || !std::isfinite(rect.Width) ||
        !std::isfinite(rect.Height)) {
        m_lastStatus = InvalidParameter;
        return;
    }
    const double w = rect.Width;
    const double h = rect.Height;
    m_[0] = (static_cast<double>(dstplg[1].X) - dstplg[0].X) / w;
    m_[1] = (static_cast<double>(dstplg[1].Y) - dstplg[0].Y) / w;
    m_[2] = (static_cast<double>(dstplg[2].X) - dstplg[0].X) / h;
    m_[3] = (static_cast<double>(dstplg[2].Y) - dstplg[0].Y) / h;
    m_[4] = dstplg[0].X - rect.X * m_[0] - rect.Y * m_[2];
    m_[5] = dstplg[0].Y - rect.X * m_[1] - rect.Y * m_[3];
}

Matrix* Matrix::Clone() const { return new Matrix(*this); }

Status Matrix::SetStatus(Status s) const {
    if (s != Ok) {
        m_lastStatus = s;
    }
    return s;
}

Status Matrix::GetLastStatus() const {
    const Status s = m_lastStatus;
    m_lastStatus = Ok;
    return s;
}

Status Matrix::GetElements(REAL* m) const {
    if (m == nullptr) {
        return SetStatus(InvalidParameter);
    }
    for (int i = 0; i < 6; ++i) {
        m[i] = static_cast<REAL>(m_[i]);
    }
    return Ok;
}

Status Matrix::SetElements(REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy) {
    m_[0] = m11;
    m_[1] = m12;
    m_[2] = m21;
    m_[3] = m22;
    m_[4] = dx;
    m_[5] = dy;
    return Ok;
}

REAL Matrix::OffsetX() const { return static_cast<REAL>(m_[4]); }
REAL Matrix::OffsetY() const { return static_cast<REAL>(m_[5]); }

Status Matrix::Reset() {
    const double id[6] = {1, 0, 0, 1, 0, 0};
    for (int i = 0; i < 6; ++i) {
        m_[i] = id[i];
    }
    return Ok;
}

void Matrix::Combine(const double* op, MatrixOrder order) {
    if (order == MatrixOrderAppend) {
        Mul(m_, op, m_);
    } else {
        Mul(op, m_, m_);
    }
}

Status Matrix::Multiply(const Matrix* matrix, MatrixOrder order) {
    if (matrix == nullptr || (order != MatrixOrderPrepend && order != MatrixOrderAppend)) {
        return SetStatus(InvalidParameter);
    }
    const Matrix copy = *matrix;  // the argument may be this matrix
    Combine(copy.m_, order);
    return Ok;
}

Status Matrix::Translate(REAL offsetX, REAL offsetY, MatrixOrder order) {
    if (order != MatrixOrderPrepend && order != MatrixOrderAppend) {
        return SetStatus(InvalidParameter);
    }
    const double op[6] = {1, 0, 0, 1, offsetX, offsetY};
    Combine(op, order);
    return Ok;
}

Status Matrix::Scale(REAL scaleX, REAL scaleY, MatrixOrder order) {
    if (order != MatrixOrderPrepend && order != MatrixOrderAppend) {
        return SetStatus(InvalidParameter);
    }
    const double op[6] = {scaleX, 0, 0, scaleY, 0, 0};
    Combine(op, order);
    return Ok;
}

Status Matrix::Rotate(REAL angle, MatrixOrder order) {
    if (order != MatrixOrderPrepend && order != MatrixOrderAppend) {
        return SetStatus(InvalidParameter);
    }
    double c = 0;
    double s = 0;
    CosSinDeg(angle, c, s);
    const double op[6] = {c, s, -s, c, 0, 0};
    Combine(op, order);
    return Ok;
}

Status Matrix::RotateAt(REAL angle, const PointF& center, MatrixOrder order) {
    if (order != MatrixOrderPrepend && order != MatrixOrderAppend) {
        return SetStatus(InvalidParameter);
    }
    double c = 0;
    double s = 0;
    CosSinDeg(angle, c, s);
    const double cx = center.X;
    const double cy = center.Y;
    // Move the centre to the origin, turn, move back.
    const double op[6] = {c, s, -s, c, cx - cx * c + cy * s, cy - cx * s - cy * c};
    Combine(op, order);
    return Ok;
}

Status Matrix::Shear(REAL shearX, REAL shearY, MatrixOrder order) {
    if (order != MatrixOrderPrepend && order != MatrixOrderAppend) {
        return SetStatus(InvalidParameter);
    }
    const double op[6] = {1, shearY, shearX, 1, 0, 0};
    Combine(op, order);
    return Ok;
}

BOOL Matrix::IsInvertible() const {
    const double det = m_[0] * m_[3] - m_[1] * m_[2];
    if (!(det != 0.0) || !std::isfinite(det)) {
        return FALSE;
    }
    for (double v : m_) {
        if (!std::isfinite(v / det)) {
            return FALSE;
        }
    }
    return TRUE;
}

Status Matrix::Invert() {
    if (!IsInvertible()) {
        return SetStatus(InvalidParameter);
    }
    const double det = m_[0] * m_[3] - m_[1] * m_[2];
    const double i11 = m_[3] / det;
    const double i12 = -m_[1] / det;
    const double i21 = -m_[2] / det;
    const double i22 = m_[0] / det;
    const double dx = -(m_[4] * i11 + m_[5] * i21);
    const double dy = -(m_[4] * i12 + m_[5] * i22);
    m_[0] = i11;
    m_[1] = i12;
    m_[2] = i21;
    m_[3] = i22;
    m_[4] = dx;
    m_[5] = dy;
    return Ok;
}

Status Matrix::TransformPoints(PointF* pts, INT count) const {
    if (count < 0 || (pts == nullptr && count > 0)) {
        return SetStatus(InvalidParameter);
    }
    for (INT i = 0; i < count; ++i) {
        double x = 0;
        double y = 0;
        Apply(pts[i].X, pts[i].Y, x, y);
        pts[i].X = static_cast<REAL>(x);
        pts[i].Y = static_cast<REAL>(y);
    }
    return Ok;
}

Status Matrix::TransformPoints(Point* pts, INT count) const {
    if (count < 0 || (pts == nullptr && count > 0)) {
        return SetStatus(InvalidParameter);
    }
    for (INT i = 0; i < count; ++i) {
        double x = 0;
        double y = 0;
        Apply(pts[i].X, pts[i].Y, x, y);
        // Out-of-range results are clamped rather than converted with
        // undefined behaviour.
        auto toInt = [](double v) {
            v = std::round(v);
            if (std::isnan(v)) {
                return INT{0};
            }
            if (v <= -2147483648.0) {
                return INT32_MIN;
            }
            if (v >= 2147483647.0) {
                return INT32_MAX;
            }
            return static_cast<INT>(v);
        };
        pts[i].X = toInt(x);
        pts[i].Y = toInt(y);
    }
    return Ok;
}

Status Matrix::TransformVectors(PointF* pts, INT count) const {
    if (count < 0 || (pts == nullptr && count > 0)) {
        return SetStatus(InvalidParameter);
    }
    for (INT i = 0; i < count; ++i) {
        const double x = pts[i].X;
        const double y = pts[i].Y;
        pts[i].X = static_cast<REAL>(m_[0] * x + m_[2] * y);
        pts[i].Y = static_cast<REAL>(m_[1] * x + m_[3] * y);
    }
    return Ok;
}

BOOL Matrix::IsIdentity() const {
    const double id[6] = {1, 0, 0, 1, 0, 0};
    for (int i = 0; i < 6; ++i) {
        if (!Near(m_[i], id[i])) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL Matrix::Equals(const Matrix* matrix) const {
    if (matrix == nullptr) {
        return FALSE;
    }
    for (int i = 0; i < 6; ++i) {
        if (!Near(m_[i], matrix->m_[i])) {
            return FALSE;
        }
    }
    return TRUE;
}

}  // namespace Gdiplus

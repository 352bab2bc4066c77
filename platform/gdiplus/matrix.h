// A 2x3 affine matrix with the GDI+ conventions: points are row vectors,
// p' = p * M, so x' = m11*x + m21*y + dx and y' = m12*x + m22*y + dy.
// "Prepend" applies the new operation before the current matrix, "append"
// after it.
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include "morvik/gdiplus/gdiplus_types.h"

namespace Gdiplus {

enum MatrixOrder {
    MatrixOrderPrepend = 0,
    MatrixOrderAppend = 1,
};

class MORVIK_API Matrix {
public:
    // Identity.
    Matrix();
    Matrix(REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy);
    // Maps rect onto the parallelogram whose upper-left, upper-right and
    // lower-left corners are dstplg[0], dstplg[1] and dstplg[2]. A null
    // parallelogram or an empty rectangle leaves the identity and records
    // InvalidParameter as the last status.
    Matrix(const RectF& rect, const PointF* dstplg);

    Matrix(const Matrix&) = default;
    Matrix& operator=(const Matrix&) = default;

    Matrix* Clone() const;

    // m receives m11, m12, m21, m22, dx, dy.
    Status GetElements(REAL* m) const;
    Status SetElements(REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy);
    REAL OffsetX() const;
    REAL OffsetY() const;

    Status Reset();
    Status Multiply(const Matrix* matrix, MatrixOrder order = MatrixOrderPrepend);
    Status Translate(REAL offsetX, REAL offsetY, MatrixOrder order = MatrixOrderPrepend);
    Status Scale(REAL scaleX, REAL scaleY, MatrixOrder order = MatrixOrderPrepend);
    // Angles in degrees; positive turns +x toward +y.
    Status Rotate(REAL angle, MatrixOrder order = MatrixOrderPrepend);
    Status RotateAt(REAL angle, const PointF& center, MatrixOrder order = MatrixOrderPrepend);
    Status Shear(REAL shearX, REAL shearY, MatrixOrder order = MatrixOrderPrepend);
    // Fails with InvalidParameter (matrix unchanged) when singular.
    Status Invert();

    Status TransformPoints(PointF* pts, INT count = 1) const;
    // Integer points are rounded to the nearest after transforming.
    Status TransformPoints(Point* pts, INT count = 1) const;
    // Like TransformPoints without the translation.
    Status TransformVectors(PointF* pts, INT count = 1) const;

    BOOL IsInvertible() const;
    BOOL IsIdentity() const;
    BOOL Equals(const Matrix* matrix) const;

    // The status of the last failing call, then Ok again.
    Status GetLastStatus() const;

    // Double-precision access for the path engine.
    void Apply(double x, double y, double& ox, double& oy) const {
        ox = m_[0] * x + m_[2] * y + m_[4];
        oy = m_[1] * x + m_[3] * y + m_[5];
    }

private:
    void Combine(const double* op, MatrixOrder order);
    Status SetStatus(Status s) const;

    // m11, m12, m21, m22, dx, dy: kept in double so chains of operations do
    // not accumulate float rounding.
    double m_[6];
    mutable Status m_lastStatus = Ok;
};

}  // namespace Gdiplus

#include "morvik/afx/macros_restore.inc"

// The exported functions: argument checks, temporary records for the
// functions that work on a file alone, and the two small computations that
// live here (equal-spacing pairs, manual parameters).
#include "calib_internal.h"

#include <cfloat>
#include <cmath>
#include <memory>

namespace {

using namespace calib;

// No exception may cross the C interface; the only ones possible come from
// allocation.
template <class F>
bool Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return false;
    }
}

bool ValidSlot(int slot) noexcept { return slot >= 0 && slot < kSlotCount; }

// Finite and within single precision, which the file keeps reals in.
bool FitsFloat(double v) noexcept { return std::isfinite(v) && std::fabs(v) <= FLT_MAX; }

// Truncation toward zero to six decimals.
double Trunc6(double v) noexcept { return std::trunc(v * 1000000.0) / 1000000.0; }

void ApplyEqualPairs(CalibGrid& g, int axis, int count, const double* pairs) {
    std::vector<double>& N = axis == 0 ? g.XT : g.YT;
    std::vector<double>& M = axis == 0 ? g.XA : g.YA;
    std::vector<double>& R = axis == 0 ? g.XR : g.YR;
    for (int i = 0; i < count; ++i) {
        const auto u = static_cast<std::size_t>(i);
        const double a = pairs[2 * u], b = pairs[2 * u + 1];
        double oldN = a, oldM = b;
        if (u < N.size()) {
            oldN = N[u];
            N[u] = a;
        } else {
            N.push_back(a);
        }
        if (u < M.size()) {
            oldM = M[u];
            M[u] = b;
        } else {
            M.push_back(b);
        }
        if (u < R.size()) {
            // Only a new measurement of a line that stays where it was
            // rescales that line's factor.
            if (std::fabs(oldN - a) < 7e-08 && std::fabs(oldM - b) > 7e-08) {
                if (std::fabs(a) < 0.001)
                    R[u] = 1.0;
                else if (std::fabs(b) > 7e-08)
                    R[u] = R[u] * a / b;
            }
        } else {
            R.push_back(1.0);
        }
    }
    // The file keeps LineCount lines; a table set longer than that would lose
    // its new lines on the next save.
    if (g.LineCount < count) g.LineCount = count;
}

// Loads the file into a copy of the caller's record, lets `then` finish it
// (with the caller's caltype) and hands it over; a file that is no UCF, or
// an allocation failing half way, leaves the caller's record as it was.
template <class Then>
bool LoadRecord(const std::wstring& path, CalibParam& param, Then&& then) noexcept {
    return Guarded([&] {
        auto rec = std::make_unique<CalibParam>(param);
        if (LoadUcf(path, *rec, false) != UcfLoad::Loaded) return false;
        then(*rec, param.caltype);
        RefreshGridIndex(*rec);
        param = std::move(*rec);  // the vectors keep their storage, and the index with it
        return true;
    });
}

}  // namespace

CALIB_API bool InitCalib(const std::wstring* path, CalibParam* param) {
    if (!path || !param) return false;
    return LoadRecord(*path, *param, [](CalibParam& rec, int kept) {
        rec.caltype = kept;
        if (kept == 2) ComputeCalibCoefs(rec);
    });
}

CALIB_API bool loadUcf(const std::wstring* path, CalibParam* param) {
    if (!path || !param) return false;
    return LoadRecord(*path, *param, [](CalibParam&, int) {});
}

CALIB_API bool saveUcf(const std::wstring* path, const CalibParam* param) {
    if (!path || !param) return false;
    return Guarded([&] { return SaveUcf(*path, *param); });
}

CALIB_API bool getCalibCoefFromFile(const std::wstring* path, CalibParam* param) {
    if (!path || !param) return false;
    return LoadRecord(*path, *param, [](CalibParam& rec, int) { ComputeCalibCoefs(rec); });
}

CALIB_API bool getCalibCoefs(CalibParam* param) {
    if (!param) return false;
    ComputeCalibCoefs(*param);
    RefreshGridIndex(*param);
    return true;
}

CALIB_API bool CalibPoint(const CalibParam* param, double x, double y, double* out) {
    if (!param || !out) return false;
    return param->caltype == 1 ? CalibPointManual(*param, x, y, out) : CalibPointByGrid(*param, x, y, out);
}

CALIB_API bool preCalibPoint(const CalibParam* param, double x, double y, double* out) {
    if (!param || !out) return false;
    return PreCalibScale(*param, x, y, out);
}

CALIB_API bool getCalibPnts(const std::wstring* path, int slot, double* out) {
    if (!path || !out || !ValidSlot(slot)) return false;
    return Guarded([&] {
        const auto rec = std::make_unique<CalibParam>();
        if (LoadUcf(*path, *rec, true) == UcfLoad::Refused) return false;
        const std::size_t n = static_cast<std::size_t>(SlotGridSize(slot)) * SlotGridSize(slot);
        const std::vector<CalibGridPoint>& pts = rec->Grid[slot].Points;
        if (pts.size() < n) return false;
        for (std::size_t i = 0; i < n; ++i) {
            out[4 * i] = pts[i].NomX;
            out[4 * i + 1] = pts[i].NomY;
            out[4 * i + 2] = pts[i].MeasX;
            out[4 * i + 3] = pts[i].MeasY;
        }
        return true;
    });
}

CALIB_API bool setCalibPnts(const std::wstring* path, int slot, const double* points) {
    if (!path || !points || !ValidSlot(slot)) return false;
    const int f = SlotGridSize(slot);
    const std::size_t n = static_cast<std::size_t>(f) * f;
    // A point that is not finite would be saved as "nan" and end the grid
    // when the file is read again; one beyond single precision, which every
    // other real of the file keeps to, is no measurement of a field.
    for (std::size_t i = 0; i < 4 * n; ++i)
        if (!FitsFloat(points[i])) return false;
    return Guarded([&] {
        const auto rec = std::make_unique<CalibParam>();
        // A new file is made where there is none; any other file that is
        // not a calibration is left alone.
        if (LoadUcf(*path, *rec, true) == UcfLoad::Refused) return false;
        std::vector<CalibGridPoint>& pts = rec->Grid[slot].Points;
        pts.clear();
        pts.reserve(n);
        for (std::size_t i = 0; i < n; ++i)
            pts.push_back({points[4 * i], points[4 * i + 1], points[4 * i + 2], points[4 * i + 3]});
        rec->order = f;
        return SaveUcf(*path, *rec);
    });
}

CALIB_API bool getEqualPnts(const std::wstring* path, int axis, int* count, double* out) {
    if (!path || !count) return false;
    const int wanted = *count;
    if (wanted < 0 || (wanted > 0 && !out)) return false;
    return Guarded([&] {
        const auto rec = std::make_unique<CalibParam>();
        if (LoadUcf(*path, *rec, true) == UcfLoad::Refused) {
            *count = 0;
            return false;
        }
        const CalibGrid& g = rec->Grid[0];
        const std::vector<double>& N = axis == 0 ? g.XT : g.YT;
        const std::vector<double>& M = axis == 0 ? g.XA : g.YA;
        if (N.empty()) {
            *count = 0;
            return false;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(wanted); ++i) {
            const bool inside = i < N.size() && i < M.size();
            out[2 * i] = inside ? N[i] : -5000.0;
            out[2 * i + 1] = inside ? M[i] : -5000.0;
        }
        return true;
    });
}

CALIB_API bool setEqualPnts(const std::wstring* path, int axis, int count, const double* pairs) {
    if (!path || count < 0 || count > kMaxLineCount || (count > 0 && !pairs)) return false;
    for (int i = 0; i < 2 * count; ++i)
        if (!FitsFloat(pairs[i])) return false;
    return Guarded([&] {
        const auto rec = std::make_unique<CalibParam>();
        if (LoadUcf(*path, *rec, true) == UcfLoad::Refused) return false;
        // The tables are stored with the 3 x 3 grid and read back only with
        // a complete one: without it the pairs could not be kept.
        if (rec->Grid[0].Points.size() != 9) return false;
        CalibGrid& g = rec->Grid[0];
        ApplyEqualPairs(g, axis, count, pairs);
        // The tables are saved in single precision: a factor scaled out of
        // that range would come back as the reader's default.
        for (const std::vector<double>* t : {&g.XT, &g.XA, &g.XR, &g.YT, &g.YA, &g.YR})
            for (double v : *t)
                if (!FitsFloat(v)) return false;
        return SaveUcf(*path, *rec);
    });
}

CALIB_API bool getRecManParas(const double* measured, const double* current, double* out) {
    if (!measured || !current || !out) return false;
    const double* m = measured;
    const double* c = current;
    if (m[4] == 0.0 || m[7] == 0.0) return false;
    double r[8];
    r[0] = m[0] * c[0] / m[4];
    r[1] = m[1] * c[1] / m[7];
    r[2] = c[2] - (m[5] + m[3] - 2.0 * m[4]) * c[8] * c[8] / (2.0 * m[4] * m[7] * m[7]);
    r[3] = c[3] - (m[8] + m[6] - 2.0 * m[7]) * c[8] * c[8] / (2.0 * m[7] * m[4] * m[4]);
    if (m[2] == 90.0) {
        r[4] = c[4];
    } else {
        const double t = std::tan(m[2] * 3.14159 / 180.0);
        if (t == 0.0) return false;
        r[4] = c[4] - 1.0 / t;
    }
    r[5] = c[5];
    r[6] = c[6] + (m[3] - m[5]) / (2.0 * m[7]);
    r[7] = c[7] + (m[6] - m[8]) / (2.0 * m[4]);
    for (double v : r)
        if (!std::isfinite(v)) return false;
    for (int i = 0; i < 8; ++i) out[i] = Trunc6(r[i]);
    return true;
}

CALIB_API bool getBasePara(const std::wstring* path, double* workSize, double* valSize, double* tagSize,
                           int* lineCount) {
    if (!path || !workSize || !valSize || !tagSize || !lineCount) return false;
    return Guarded([&] {
        const auto rec = std::make_unique<CalibParam>();
        // A missing or empty file holds no base parameters, and a file that
        // is no calibration none either: the defaults are not handed out as
        // if read.
        if (LoadUcf(*path, *rec, false) != UcfLoad::Loaded) return false;
        *workSize = rec->WorkSize;
        *valSize = rec->ValSize;
        *tagSize = rec->TagSize;
        *lineCount = rec->Grid[0].LineCount;
        return true;
    });
}

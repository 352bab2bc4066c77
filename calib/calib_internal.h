// Internal interfaces of libcalib; nothing here is exported.
#ifndef CALIB_CALIB_INTERNAL_H
#define CALIB_CALIB_INTERNAL_H

#include "calib.h"

#include <string>

namespace calib {

inline constexpr int kSlotCount = 7;

// Equal-spacing tables longer than this are refused: a table cannot hold more
// lines than the galvanometer has steps.
inline constexpr int kMaxLineCount = 65536;

// Points per row and column of grid slot `slot` (0 to 6).
int SlotGridSize(int slot) noexcept;

struct Point2 {
    double x;
    double y;
};

// File (ucf_file.cpp). Only a UCF file, a text file with at least one of
// the sections the format knows, is read into the record (and fitted).
enum class UcfLoad {
    Loaded,   // the record holds the file
    Absent,   // no file or an empty one
    Refused   // a path that does not convert, a folder, a file that cannot be read or is no UCF
};
// With `absentAsEmpty` a missing or empty file loads as an empty document,
// whose defaults then apply (the functions that work on a file alone build
// a new file that way); otherwise, and always for Refused, the record is
// left exactly as it was.
UcfLoad LoadUcf(const std::wstring& path, CalibParam& param, bool absentAsEmpty);
bool SaveUcf(const std::wstring& path, const CalibParam& param);

// Appends one stamped line to the day's run log beside the host executable
// (calib_log.cpp); a log that cannot be written loses the line.
void LogLine(const std::string& text) noexcept;

// Fit of the 3 x 3 grid (calib_fit.cpp).
void ComputeCalibCoefs(CalibParam& param) noexcept;
double LineSkewAngle(Point2 a0, Point2 a1, Point2 b0, Point2 b1) noexcept;

// Correction (calib_correct.cpp).
Point2 ApplyFieldModel(const CalibGrid& grid, double x, double y) noexcept;
bool CalibPointByGrid(const CalibParam& param, double x, double y, double* out) noexcept;
bool CalibPointManual(const CalibParam& param, double x, double y, double* out) noexcept;
bool PreCalibScale(const CalibParam& param, double x, double y, double* out) noexcept;
// Rebuilds the cell-search index of every slot.
void RefreshGridIndex(CalibParam& param) noexcept;

}  // namespace calib

#endif  // CALIB_CALIB_INTERNAL_H

// libcalib: galvanometer field calibration.
//
// The host owns a CalibParam record, constructs it with the defaults below,
// sets its correction mode, axis options and manual parameters, and hands it
// to the exported functions by pointer. InitCalib (or loadUcf) fills the grid
// slots and the fitted coefficients from a UCF file before CalibPoint and
// preCalibPoint are used. The functions that take only a path work on the
// file alone and never touch a caller's record.
//
// Every export has C linkage and an undecorated name, returns true on
// success and false for a null pointer or a slot index outside 0 to 6. No
// exception leaves the library; it starts no threads, takes no locks and
// prints nothing. CalibPoint and preCalibPoint only read the record and
// allocate nothing, so several threads may correct points with one record
// while nobody changes it.
//
// This header is C++: the record holds standard containers and paths are
// passed as std::wstring (converted to UTF-8 to open the file).
#ifndef CALIB_CALIB_H
#define CALIB_CALIB_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#define CALIB_API extern "C" __attribute__((visibility("default")))

// One measured grid point: where the mark should be (nominal) and where it
// was measured, in working millimetres with y growing upward.
struct CalibGridPoint {
    double NomX = 0.0;
    double NomY = 0.0;
    double MeasX = 0.0;
    double MeasY = 0.0;
};

// The library's own summary of a rectilinear slot (every row shares one
// NomY, every column one NomX, both in order): its lines, where to start
// looking for a point's cell, and each cell's offset prepared for the pattern
// size. Read only; copies of an index share it.
struct CalibLattice;

// Lets the point correction find a point's cell without scanning every cell
// and take the cell's prepared offset. The library fills it whenever it loads
// or fits a record (InitCalib, loadUcf, getCalibCoefFromFile,
// getCalibCoefs). With a default (cleared) index, or one whose slot has other
// points since (a copied record has), CalibPoint scans every cell; after a
// change of the pattern size it works each offset out from the cell's
// corners; the result is the same either way. CalibPoint compares the
// corners of the cell it finds with those the index was prepared from, so a
// point edited in place counts at once. The search itself follows the
// pattern's lines as they were: a host that moves a nominal position in
// place, other than of the cell a point falls in, refits (getCalibCoefs) or
// clears the index before it corrects points again.
struct CalibGridIndex {
    const CalibGridPoint* points = nullptr;  // Points.data() when it was built
    std::size_t count = 0;                   // Points.size() when it was built
    int size = 0;                            // GridSize when it was built
    int rectilinear = 0;                     // 1: the slot has a lattice
    std::shared_ptr<const CalibLattice> lattice;
};

// One grid slot. Slot i holds a grid of 3, 5, 9, 17, 33, 65 or 25 points per
// row and column (i = 0 to 6); loading a file sets GridSize accordingly.
struct CalibGrid {
    int GridSize = 3;
    int grid = 0;  // slot 0 only: 1 applies the equal-spacing tables
    std::vector<CalibGridPoint> Points;  // row-major, top row (greatest NomY) first
    double AxisXL = 50.0, AxisXR = 50.0, AxisYT = 50.0, AxisYB = 50.0;
    double OX = 0.0, OY = 0.0;
    double SXL = 1.0, SXR = 1.0, SX = 1.0;
    double SYT = 1.0, SYB = 1.0, SY = 1.0;
    double TXL = 0.0, TXR = 0.0, TYT = 0.0, TYB = 0.0;
    double PLX = 0.0, PLY = 0.0;
    double Y2XAngle = 1.57079632679489661923;
    double k[20] = {};
    double s[8] = {};
    int LineCount = 21;
    std::vector<double> XT, YT;  // equal-spacing tables: nominal line positions
    std::vector<double> XA, YA;  // measured positions of those lines
    std::vector<double> XR, YR;  // correction factor per line
    CalibGridIndex Index;        // kept by the library, see CalibGridIndex

    // Frees the points and the six tables.
    void Reset() {
        std::vector<CalibGridPoint>().swap(Points);
        std::vector<double>().swap(XT);
        std::vector<double>().swap(YT);
        std::vector<double>().swap(XA);
        std::vector<double>().swap(YA);
        std::vector<double>().swap(XR);
        std::vector<double>().swap(YR);
        Index = CalibGridIndex{};
    }
    // Copies every field, the vectors by value.
    void Assign(const CalibGrid& other) {
        if (this != &other) *this = other;
    }
};

// The host's calibration record. Fields named Reserved* are kept for the
// host and never used by the library.
struct CalibParam {
    int caltype = 2;  // 1: manual correction; else grid correction (2 also refits in InitCalib)
    int nStack = 0;
    double WorkSize = 100.0;  // field size in mm that maps onto the 16-bit range
    double ValSize = 80.0;    // size of the measured calibration pattern in mm
    double Reserved0 = 35.0;
    double TagSize = 4.0;
    int SwapXY = 0, InvertX = 0, InvertY = 0;
    int order = 3;  // largest grid size that takes part in the grid correction
    double Reserved1[5] = {};
    // barrel x, barrel y, parallelogram x, parallelogram y, trapezoid x,
    // trapezoid y, scale x (percent), scale y (percent)
    double ManualPara[8] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 100.0, 100.0};
    unsigned char Reserved2 = 0;
    std::wstring Reserved3;
    double ManualParaInit[8] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 100.0, 100.0};
    int TableOn = 0;  // 1 applies the manual factor tables
    int Reserved4 = 21;
    std::vector<double> TableXPos, TableYPos;
    std::vector<double> Reserved5, Reserved6;
    std::vector<double> TableXFactor, TableYFactor;
    CalibGrid Grid[7];
};

// Loads the file into the record, keeping the record's caltype; refits when
// that caltype is 2. False, and the record as it was, as for loadUcf.
CALIB_API bool InitCalib(const std::wstring* path, CalibParam* param);
// Reads the file into the record and fits; keys the file lacks take the
// file defaults. False, and the record exactly as it was, when the path holds
// no UCF file: nothing there, an empty file, a folder, a file that cannot be
// read, a binary file or text without one of the format's sections.
CALIB_API bool loadUcf(const std::wstring* path, CalibParam* param);
// Writes the record to the file; false when the file cannot be written.
CALIB_API bool saveUcf(const std::wstring* path, const CalibParam* param);
// loadUcf followed by a fit; false as for loadUcf.
CALIB_API bool getCalibCoefFromFile(const std::wstring* path, CalibParam* param);
// Fits the 3 x 3 grid of the record as it stands.
CALIB_API bool getCalibCoefs(CalibParam* param);
// Maps (x, y) in working mm to galvanometer units 0 to 65535 in out[0],
// out[1]. False (and the field centre) when the record gives no finite result.
CALIB_API bool CalibPoint(const CalibParam* param, double x, double y, double* out);
// The millimetre pre-correction of (x, y) with the 3 x 3 grid.
CALIB_API bool preCalibPoint(const CalibParam* param, double x, double y, double* out);
// The functions below work on the file alone. A missing or empty file reads
// as one that holds only defaults; any other file that is no UCF fails them
// and is never written.
//
// Copies the f*f points of grid slot `slot` (four doubles each, row-major);
// false when the file's grid is incomplete.
CALIB_API bool getCalibPnts(const std::wstring* path, int slot, double* out);
// Replaces the points of grid slot `slot` in the file by f*f points (four
// doubles each) and sets the file's order to f; makes the file where there
// is none. False, and the file unchanged, when a value is not finite in
// single precision.
CALIB_API bool setCalibPnts(const std::wstring* path, int slot, const double* points);
// Writes *count (nominal, measured) pairs of the x (axis 0) or y table of the
// file's 3 x 3 grid; pairs past the table's end are (-5000, -5000). False and
// *count = 0 when the table is empty.
CALIB_API bool getEqualPnts(const std::wstring* path, int axis, int* count, double* out);
// Applies `count` (nominal, measured) pairs to the x (axis 0) or y table of
// the file's 3 x 3 grid. False, and the file unchanged, when the file holds
// no complete 3 x 3 grid, which the tables belong to, or when a pair or a
// factor it gives is not finite in single precision, which the file keeps.
CALIB_API bool setEqualPnts(const std::wstring* path, int axis, int count, const double* pairs);
// New manual parameters from nine measurements and the eight current
// parameters plus the pattern size; false when the measurements give no
// finite answer.
CALIB_API bool getRecManParas(const double* measured, const double* current, double* out);
// WorkSize, ValSize, TagSize and the 3 x 3 grid's LineCount of the file;
// false for a missing or empty file, which holds none of them.
CALIB_API bool getBasePara(const std::wstring* path, double* workSize, double* valSize,
                           double* tagSize, int* lineCount);

#endif  // CALIB_CALIB_H

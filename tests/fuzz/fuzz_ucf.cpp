// Fuzzes the UCF reader through the exports that read a file, and checks
// three properties on whatever it reads: a refused file leaves the record
// alone, the lattice cell search agrees with the linear scan, and a saved
// record reads back to the same file after one round of rounding.
#include "calib.h"
#include "tests/fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using fuzzsupport::Check;
using fuzzsupport::MemFile;

void CompareSearches(const CalibParam& rec) {
    CalibParam scan = rec;
    for (CalibGrid& g : scan.Grid) g.Index = CalibGridIndex{};
    scan.order = rec.order;
    const double fixed[] = {0.0, -0.0, 1.0, -40.0, 40.0, 50.0, -1e300, 1e-300, 12.5};
    const auto probe = [&](double x, double y) {
        double a[2], b[2];
        const bool ra = CalibPoint(&rec, x, y, a);
        const bool rb = CalibPoint(&scan, x, y, b);
        Check(ra == rb && a[0] == b[0] && a[1] == b[1]);
        Check(a[0] >= 0.0 && a[0] <= 65535.0 && a[1] >= 0.0 && a[1] <= 65535.0);
    };
    for (double x : fixed)
        for (double y : fixed) probe(x, y);
    // Points on the grids' own lines and corners, where cells meet.
    for (int slot = 1; slot < 7; ++slot) {
        const auto& pts = rec.Grid[slot].Points;
        for (std::size_t i = 0; i < pts.size() && i < 64; ++i) {
            probe(pts[i].NomX, pts[i].NomY);
            probe(pts[i].NomX, pts[pts.size() - 1 - i].NomY);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemFile input("ucf-in");
    static fuzzsupport::SavedFile output("out.ucf");
    input.Put(data, size);
    const std::wstring& in = input.Path();

    // A refused file leaves the record as it was.
    CalibParam rec;
    rec.WorkSize = 123.0;
    if (!loadUcf(&in, &rec)) {
        Check(rec.WorkSize == 123.0 && rec.caltype == 2 && rec.Grid[0].Points.empty());
        rec.WorkSize = 100.0;
    }
    CompareSearches(rec);
    CalibParam manual = rec;
    manual.caltype = 1;
    double out[2];
    CalibPoint(&manual, 10.0, -20.0, out);
    preCalibPoint(&rec, 10.0, -20.0, out);

    static double points[4 * 65 * 65];
    for (int slot = 0; slot < 7; ++slot) getCalibPnts(&in, slot, points);
    for (int axis = 0; axis < 2; ++axis) {
        int count = 40;
        double pairs[80];
        getEqualPnts(&in, axis, &count, pairs);
    }
    double w, v, t;
    int lines;
    getBasePara(&in, &w, &v, &t, &lines);

    // Save, read back, save again: from the second save on the file is fixed.
    const std::wstring& out1 = output.Path();
    Check(saveUcf(&out1, &rec));
    CalibParam second;
    Check(loadUcf(&out1, &second));
    Check(saveUcf(&out1, &second));
    const std::string text2 = output.Get();
    CalibParam third;
    Check(loadUcf(&out1, &third));
    Check(saveUcf(&out1, &third));
    Check(output.Get() == text2);

    // And the writers that work on a file alone.
    const double pairs[6] = {-40.0, -40.5, 0.0, 0.25, 40.0, 40.5};
    setEqualPnts(&out1, static_cast<int>(size & 1), 3, pairs);
    return 0;
}

// Shared helpers of the calibration tests: temporary files, UCF text and
// generated grids.
#ifndef TESTS_CALIB_CALIB_TEST_UTIL_H
#define TESTS_CALIB_CALIB_TEST_UTIL_H

#include "calib.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace calibtest {

namespace fs = std::filesystem;

using testsupport::TempDir;

inline void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

inline std::string ReadText(const fs::path& p) { return testsupport::ReadAll(p); }

// Value of "key=" in section "[section]" of a written file, or "<none>".
inline std::string FileValue(const std::string& text, const std::string& section, const std::string& key) {
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            current = line.substr(1, line.size() - 2);
        } else if (current == section && line.compare(0, key.size() + 1, key + "=") == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return "<none>";
}

struct Vec2 {
    double x;
    double y;
};

// An f x f lattice over [-size/2, size/2], top row first, each point measured
// where `measure` says.
inline std::vector<CalibGridPoint> Lattice(int f, double size, const std::function<Vec2(Vec2)>& measure) {
    std::vector<CalibGridPoint> pts;
    const double step = size / (f - 1);
    for (int r = 0; r < f; ++r) {
        for (int c = 0; c < f; ++c) {
            const Vec2 nom{-size / 2 + c * step, size / 2 - r * step};
            const Vec2 m = measure(nom);
            pts.push_back({nom.x, nom.y, m.x, m.y});
        }
    }
    return pts;
}

inline Vec2 Exact(Vec2 p) { return p; }

// CalibPoint as a galvanometer command in millimetres (centre removed).
inline Vec2 CommandMm(const CalibParam& rec, double x, double y) {
    double out[2] = {0, 0};
    CalibPoint(&rec, x, y, out);
    const double s = 65535.0 / rec.WorkSize;
    return {(out[0] - 32768.0) / s, (out[1] - 32768.0) / s};
}

}  // namespace calibtest

#endif  // TESTS_CALIB_CALIB_TEST_UTIL_H

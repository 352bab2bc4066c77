// Every writer that owns its file, with the file system as the oracle: a save
// that fails part way (a file-size limit) or is killed at a random moment
// leaves either the old file or the new one, whole, and no stray file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "calib/calib.h"
#include "morvik/core/morvik.h"
#include "morvik/core/polyline.h"
#include "morvik/core/shapelist.h"
#include "morvik/history/fileutil.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& p) { return testsupport::ReadAll(p); }

// Two contents per writer: version 0 and version 1, both far beyond the
// file-size limit of the failing save.
struct Writer {
    const char* name;
    std::function<bool(const fs::path&)> prepare;  // a base file the writer builds on (may do nothing)
    std::function<bool(const fs::path&, int version)> save;
};

// A polyline whose points depend on the version: x off the axes, y not a
// multiple of x.
struct Shapes {
    std::list<CBaseShape*> list;
    explicit Shapes(int version, int points = 20000) {
        auto* p = new CPolyLine();
        for (int i = 0; i < points; ++i)
            p->arrPoint.push_back({static_cast<float>(i) * 0.37f + version, static_cast<float>(i % 97) * 1.3f - version});
        list.push_back(p);
    }
    ~Shapes() {
        for (CBaseShape* s : list) delete s;
    }
    Shapes(const Shapes&) = delete;
    Shapes& operator=(const Shapes&) = delete;
};

// One list per version, made once: a shape's caption and GUID are its own,
// so the same list always saves the same bytes.
std::list<CBaseShape*>& ListOf(int version) {
    static Shapes lists[2] = {Shapes(0), Shapes(1)};
    return lists[version].list;
}

std::string RawVersion(int version) {
    std::string data(150000, '\0');
    std::mt19937 rng(77u + static_cast<unsigned>(version));
    for (char& c : data) c = static_cast<char>(rng());
    return data;
}

std::vector<double> GridPoints(int f, int version) {
    std::vector<double> pts;
    for (int r = 0; r < f; ++r)
        for (int c = 0; c < f; ++c) {
            const double x = -50.0 + 100.0 * c / (f - 1), y = 50.0 - 100.0 * r / (f - 1);
            pts.insert(pts.end(), {x, y, x + 0.013 * (version + 1) * (c % 5), y - 0.021 * (version + 1) * (r % 3)});
        }
    return pts;
}

CalibParam Record(int version) {
    CalibParam p;
    p.WorkSize = 110.0 + version;
    const int f[] = {3, 5, 9, 17, 33, 65};
    for (int slot = 0; slot < 6; ++slot) {
        const std::vector<double> v = GridPoints(f[slot], version);
        for (size_t i = 0; i < v.size(); i += 4) p.Grid[slot].Points.push_back({v[i], v[i + 1], v[i + 2], v[i + 3]});
    }
    return p;
}

bool SaveSmallUcf(const fs::path& path) {
    CalibParam p;
    const std::vector<double> v = GridPoints(3, 0);
    for (size_t i = 0; i < v.size(); i += 4) p.Grid[0].Points.push_back({v[i], v[i + 1], v[i + 2], v[i + 3]});
    const std::wstring w = path.wstring();
    return saveUcf(&w, &p);
}

const std::vector<Writer>& Writers() {
    static const std::vector<Writer> writers = {
        {"WriteFileA", nullptr,
         [](const fs::path& p, int v) {
             std::string d = RawVersion(v);
             return WriteFileA(p.string().c_str(), d.data(), static_cast<DWORD>(d.size()));
         }},
        {"WriteFileW", nullptr,
         [](const fs::path& p, int v) {
             std::string d = RawVersion(v);
             return WriteFileW(p.wstring().c_str(), d.data(), static_cast<DWORD>(d.size()));
         }},
        {"SaveList", nullptr,
         [](const fs::path& p, int v) {
             CVonnSriShapeList writer(&ListOf(v));
             return writer.SaveList(p.wstring().c_str());
         }},
        {"SaveOrz", nullptr,
         [](const fs::path& p, int v) {
             const std::list<CBaseShape*>& list = ListOf(v);
             return CFileUtil::SaveOrz(p.wstring().c_str(), nullptr, {list.begin(), list.end()});
         }},
        {"saveUcf", nullptr,
         [](const fs::path& p, int v) {
             const CalibParam rec = Record(v);
             const std::wstring w = p.wstring();
             return saveUcf(&w, &rec);
         }},
        {"setCalibPnts", SaveSmallUcf,
         [](const fs::path& p, int v) {
             const std::vector<double> pts = GridPoints(65, v);
             const std::wstring w = p.wstring();
             return setCalibPnts(&w, 5, pts.data());
         }},
        {"setEqualPnts", SaveSmallUcf,
         [](const fs::path& p, int v) {
             // Positions differ between the versions, so no factor is rescaled
             // and each version always writes the same bytes.
             std::vector<double> pairs;
             for (int i = 0; i < 3000; ++i) pairs.insert(pairs.end(), {i * 0.03 + v * 0.011, i * 0.03 + 0.002});
             const std::wstring w = p.wstring();
             return setEqualPnts(&w, 0, 3000, pairs.data());
         }},
    };
    return writers;
}

// The bytes each version leaves, saved with no limit in a folder of their own.
std::string Reference(const Writer& w, const fs::path& dir, std::initializer_list<int> versions) {
    const fs::path p = dir / "reference";
    fs::remove(p);
    if (w.prepare) {
        EXPECT_TRUE(w.prepare(p));
    }
    for (int v : versions) EXPECT_TRUE(w.save(p, v)) << w.name;
    return Bytes(p);
}

size_t EntriesIn(const fs::path& dir) { return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {})); }

}  // namespace

TEST(SafeSave, SaveFailingPartWayKeepsTheOldBytes) {
    for (const Writer& w : Writers()) {
        testsupport::TempDir tmp("morvik-safesave");
        const fs::path dir = tmp.Path("d");
        fs::create_directory(dir);
        const fs::path target = dir / "target.dat";
        if (w.prepare) {
            ASSERT_TRUE(w.prepare(target)) << w.name;
        }
        ASSERT_TRUE(w.save(target, 0)) << w.name;
        const std::string old = Bytes(target);
        ASSERT_GT(old.size(), 24534u) << w.name;
        // The new version is written past the limit: the save reports failure.
        const int code = testsupport::RunWithFileSizeLimit(24534, [&] { return w.save(target, 1) ? 1 : 0; });
        EXPECT_EQ(code, 0) << w.name;
        EXPECT_TRUE(Bytes(target) == old) << w.name;
        EXPECT_EQ(EntriesIn(dir), 1u) << w.name << ": the temporary file is removed";
        // The same save without the limit replaces the file.
        ASSERT_TRUE(w.save(target, 1)) << w.name;
        EXPECT_TRUE(Bytes(target) == Reference(w, tmp.Path(""), {0, 1})) << w.name;
        EXPECT_FALSE(Bytes(target) == old) << w.name;
    }
}

TEST(SafeSave, KilledSaveLeavesTheOldOrTheNewFileWhole) {
    std::mt19937 rng(20261210);
    for (const Writer& w : Writers()) {
        testsupport::TempDir tmp("morvik-safekill");
        const fs::path target = tmp.Path("target.dat");
        if (w.prepare) {
            ASSERT_TRUE(w.prepare(target));
        }
        // A few rounds first: a writer that reads the file before it writes
        // it settles to the same bytes for each version.
        for (int i = 0; i < 2; ++i) ASSERT_TRUE(w.save(target, 1) && w.save(target, 0)) << w.name;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(w.save(target, 1));
        const std::string v1 = Bytes(target);
        ASSERT_TRUE(w.save(target, 0));
        const std::string v0 = Bytes(target);
        ASSERT_NE(v0, v1) << w.name;
        // Kills fall anywhere in the first three saves of the child.
        const auto perSave =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start) / 2;
        const auto window = static_cast<unsigned>(3 * perSave.count() + 1000);
        int sawNew = 0;
        for (int round = 0; round < 30; ++round) {
            // The child saves the two versions in turn until it is killed.
            const bool reaped = testsupport::KillDuring(
                [&] {
                    for (int v = 1;; v ^= 1) w.save(target, v);
                },
                static_cast<int>(rng() % window));
            ASSERT_TRUE(reaped);
            const std::string now = Bytes(target);
            ASSERT_TRUE(now == v0 || now == v1) << w.name << " round " << round << ": " << now.size() << " bytes";
            sawNew += now == v1 ? 1 : 0;
            // Back to version 0 for the next round.
            if (now == v1) {
                ASSERT_TRUE(w.save(target, 0));
            }
        }
        RecordProperty(std::string(w.name) + "_new", sawNew);
    }
}

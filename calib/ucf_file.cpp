// Reading and writing a calibration record as a UCF file.
#include "calib_internal.h"
#include "ucf_text.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace calib {

namespace {

const char kCoefs[] = "CalCoefs";

std::string SectionName(int gridSize) { return "Cal" + FormatInt(gridSize); }
std::string Key(const char* stem, long long i) { return stem + FormatInt(i); }

// "x y x y": exactly four numbers, separated by runs of blanks and tabs;
// anything else is no point.
bool ParsePoint(std::string_view text, CalibGridPoint& p) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    double v[4];
    int n = 0;
    std::size_t pos = 0;
    for (;;) {
        while (pos < text.size() && blank(text[pos])) ++pos;
        if (pos == text.size()) break;
        std::size_t end = pos;
        while (end < text.size() && !blank(text[end])) ++end;
        if (n == 4 || !ParseDouble(text.substr(pos, end - pos), v[n])) return false;
        ++n;
        pos = end;
    }
    if (n != 4) return false;
    p = {v[0], v[1], v[2], v[3]};
    return true;
}

// The points of a slot's section, up to the first that is missing or bad.
std::vector<CalibGridPoint> ReadPoints(const UcfIniReader& doc, const std::string& sec, std::size_t full) {
    std::vector<CalibGridPoint> points;
    for (std::size_t i = 0; i < full; ++i) {
        const std::string_view* v = doc.Find(sec, Key("PNT", static_cast<long long>(i)));
        CalibGridPoint pt;
        if (!v || !ParsePoint(*v, pt)) break;
        points.push_back(pt);
    }
    return points;
}

void ReadSlotFields(const UcfIniReader& doc, const std::string& sec, double valSize, CalibGrid& g) {
    const float half = static_cast<float>(valSize / 2.0);
    g.grid = doc.GetInt(sec, "grid", 0);
    g.AxisXL = doc.GetFloat(sec, "AxisXL", half);
    g.AxisXR = doc.GetFloat(sec, "AxisXR", half);
    g.AxisYT = doc.GetFloat(sec, "AxisYT", half);
    g.AxisYB = doc.GetFloat(sec, "AxisYB", half);
    g.TXL = doc.GetFloat(sec, "TXL", 1.0f);
    g.TXR = doc.GetFloat(sec, "TXR", 1.0f);
    g.TYT = doc.GetFloat(sec, "TYT", 1.0f);
    g.TYB = doc.GetFloat(sec, "TYB", 1.0f);
    g.SXL = doc.GetFloat(sec, "SXL", 1.0f);
    g.SXR = doc.GetFloat(sec, "SXR", 1.0f);
    g.SYT = doc.GetFloat(sec, "SYT", 1.0f);
    g.SYB = doc.GetFloat(sec, "SYB", 1.0f);
    g.OX = doc.GetFloat(sec, "OX", 0.0f);
    g.OY = doc.GetFloat(sec, "OY", 0.0f);
    g.PLX = doc.GetFloat(sec, "PLX", 0.0f);
    g.PLY = doc.GetFloat(sec, "PLY", 0.0f);
    g.Y2XAngle = doc.GetFloat(sec, "Y2XAngle", static_cast<float>(std::numbers::pi / 2));
    for (int i = 0; i < 20; ++i) g.k[i] = doc.GetFloat(sec, Key("k", i), 1.0f);
    for (int i = 0; i < 8; ++i) g.s[i] = doc.GetFloat(sec, Key("s", i), 0.0f);
}

void ReadTables(const UcfIniReader& doc, const std::string& sec, double workSize, CalibGrid& g) {
    g.XT.clear();
    g.YT.clear();
    g.XA.clear();
    g.YA.clear();
    g.XR.clear();
    g.YR.clear();
    int lines = doc.GetInt(sec, "LineCount", 0);
    if (lines > kMaxLineCount) lines = 0;
    g.LineCount = lines;
    if (lines <= 1) return;
    for (int i = 0; i < lines; ++i) {
        const auto even = static_cast<float>(i * workSize / (lines - 1) - workSize / 2.0);
        g.XT.push_back(doc.GetFloat(sec, Key("XT", i), even));
        g.YT.push_back(doc.GetFloat(sec, Key("YT", i), even));
        g.XA.push_back(doc.GetFloat(sec, Key("XA", i), -100000.0f));
        g.YA.push_back(doc.GetFloat(sec, Key("YA", i), -100000.0f));
        g.XR.push_back(doc.GetFloat(sec, Key("XR", i), 1.0f));
        g.YR.push_back(doc.GetFloat(sec, Key("YR", i), 1.0f));
    }
}

void WriteSlot(UcfIniWriter& w, int slot, const CalibGrid& g) {
    // The section follows the slot, not the record's GridSize, so that two
    // slots can never write into one section.
    const int f = SlotGridSize(slot);
    const std::string sec = SectionName(f);
    const std::size_t n = std::min(g.Points.size(), static_cast<std::size_t>(f) * f);
    for (std::size_t i = 0; i < n; ++i) {
        const CalibGridPoint& p = g.Points[i];
        w.SetString(sec, Key("PNT", static_cast<long long>(i)),
                    FormatFixed5(p.NomX) + ' ' + FormatFixed5(p.NomY) + ' ' + FormatFixed5(p.MeasX) + ' ' +
                        FormatFixed5(p.MeasY));
    }
    w.SetInt(sec, "order", f);
    w.SetInt(sec, "grid", g.grid);
    w.SetFloat(sec, "AxisXL", g.AxisXL);
    w.SetFloat(sec, "AxisXR", g.AxisXR);
    w.SetFloat(sec, "AxisYT", g.AxisYT);
    w.SetFloat(sec, "AxisYB", g.AxisYB);
    w.SetFloat(sec, "SXL", g.SXL);
    w.SetFloat(sec, "SXR", g.SXR);
    w.SetFloat(sec, "SYT", g.SYT);
    w.SetFloat(sec, "SYB", g.SYB);
    w.SetFloat(sec, "TXL", g.TXL);
    w.SetFloat(sec, "TXR", g.TXR);
    w.SetFloat(sec, "TYT", g.TYT);
    w.SetFloat(sec, "TYB", g.TYB);
    w.SetFloat(sec, "PLX", g.PLX);
    w.SetFloat(sec, "PLY", g.PLY);
    w.SetFloat(sec, "Y2XAngle", g.Y2XAngle);
    w.SetFloat(sec, "OX", g.OX);
    w.SetFloat(sec, "OY", g.OY);
    for (int i = 0; i < 20; ++i) w.SetFloat(sec, Key("k", i), g.k[i]);
    for (int i = 0; i < 8; ++i) w.SetFloat(sec, Key("s", i), g.s[i]);
    w.SetInt(sec, "LineCount", g.LineCount);
    // Each table is written as far as it goes; a shorter companion table
    // leaves its keys out, and the reader's defaults fill them.
    const std::size_t lines = g.LineCount > 0 ? static_cast<std::size_t>(g.LineCount) : 0;
    const auto writeAxis = [&](const char* t, const char* a, const char* r, const std::vector<double>& T,
                               const std::vector<double>& A, const std::vector<double>& R) {
        for (std::size_t i = 0; i < std::min(T.size(), lines); ++i) {
            const auto li = static_cast<long long>(i);
            w.SetFloat(sec, Key(t, li), T[i]);
            if (i < A.size()) w.SetFloat(sec, Key(a, li), A[i]);
            if (i < R.size()) w.SetFloat(sec, Key(r, li), R[i]);
        }
    };
    writeAxis("XT", "XA", "XR", g.XT, g.XA, g.XR);
    writeAxis("YT", "YA", "YR", g.YT, g.YA, g.YR);
}

}  // namespace

int SlotGridSize(int slot) noexcept {
    static constexpr int kSizes[kSlotCount] = {3, 5, 9, 17, 33, 65, 25};
    return slot >= 0 && slot < kSlotCount ? kSizes[slot] : 0;
}

UcfLoad LoadUcf(const std::wstring& path, CalibParam& p, bool absentAsEmpty) {
    UcfIniReader doc;
    std::string utf8;
    if (!WideToUtf8(path, utf8)) return UcfLoad::Refused;
    UcfLoad result = UcfLoad::Loaded;
    switch (doc.Load(utf8)) {
    case UcfIniReader::Source::Unusable:
        return UcfLoad::Refused;
    case UcfIniReader::Source::Absent:
        if (!absentAsEmpty) return UcfLoad::Absent;
        result = UcfLoad::Absent;
        break;
    case UcfIniReader::Source::Text: {
        bool known = doc.HasSection(kCoefs);
        for (int slot = 0; slot < kSlotCount && !known; ++slot) known = doc.HasSection(SectionName(SlotGridSize(slot)));
        // Text without one section of the format is some other file: taking
        // its defaults would wipe a calibration for nothing.
        if (!known) return UcfLoad::Refused;
        break;
    }
    }

    // The writer always writes "CalCoefs" (last, after every slot) and
    // every point of each slot it writes: a file without them was cut short
    // or damaged, and loading it would put defaults and empty grids in
    // place of the calibration. Checked whole before the record changes.
    std::vector<CalibGridPoint> points[kSlotCount];
    if (result == UcfLoad::Loaded && !doc.HasSection(kCoefs)) {
        LogLine("loadUcf refused " + utf8 + ": no section \"CalCoefs\"");
        return UcfLoad::Refused;
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const int f = SlotGridSize(slot);
        const std::size_t full = static_cast<std::size_t>(f) * f;
        const std::string sec = SectionName(f);
        if (!doc.HasSection(sec)) continue;
        points[slot] = ReadPoints(doc, sec, full);
        if (points[slot].size() != full) {
            LogLine("loadUcf refused " + utf8 + ": section \"" + sec + "\" holds " +
                    FormatInt(static_cast<long long>(points[slot].size())) + " of " +
                    FormatInt(static_cast<long long>(full)) + " points");
            return UcfLoad::Refused;
        }
    }

    p.WorkSize = doc.GetFloat(kCoefs, "WorkSize", 120.0f);
    p.ValSize = doc.GetFloat(kCoefs, "ValSize", 100.0f);
    p.TagSize = doc.GetFloat(kCoefs, "TagSize", 4.0f);
    p.caltype = doc.GetInt(kCoefs, "caltype", 1);
    p.order = doc.GetInt(kCoefs, "order", 3);
    p.nStack = doc.GetInt(kCoefs, "nStack", 0);

    for (int slot = 0; slot < kSlotCount; ++slot) {
        CalibGrid& g = p.Grid[slot];
        const int f = SlotGridSize(slot);
        g.GridSize = f;
        g.Points = std::move(points[slot]);
        // A slot the file does not hold keeps the other fields it had.
        if (g.Points.empty()) continue;
        const std::string sec = SectionName(f);
        ReadSlotFields(doc, sec, p.ValSize, g);
        if (slot == 0) ReadTables(doc, sec, p.WorkSize, g);
    }
    ComputeCalibCoefs(p);
    return result;
}

bool SaveUcf(const std::wstring& path, const CalibParam& p) {
    std::string utf8;
    if (!WideToUtf8(path, utf8)) return false;
    // A slot the file cannot hold whole would make the whole file unreadable.
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const std::size_t n = p.Grid[slot].Points.size();
        const std::size_t full = static_cast<std::size_t>(SlotGridSize(slot)) * SlotGridSize(slot);
        if (n != 0 && n < full) {
            LogLine("saveUcf refused " + utf8 + ": slot " + FormatInt(slot) + " holds " +
                    FormatInt(static_cast<long long>(n)) + " of " + FormatInt(static_cast<long long>(full)) + " points");
            return false;
        }
    }
    UcfIniWriter w;
    w.SetFloat(kCoefs, "WorkSize", p.WorkSize);
    w.SetFloat(kCoefs, "ValSize", p.ValSize);
    w.SetFloat(kCoefs, "TagSize", p.TagSize);
    w.SetInt(kCoefs, "caltype", p.caltype);
    w.SetInt(kCoefs, "order", p.order);
    w.SetInt(kCoefs, "nStack", p.nStack);
    for (int slot = 0; slot < kSlotCount; ++slot)
        if (!p.Grid[slot].Points.empty()) WriteSlot(w, slot, p.Grid[slot]);
    return WriteWholeFile(utf8, w.Text());
}

}  // namespace calib

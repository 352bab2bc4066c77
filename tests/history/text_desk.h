// A document for the text history tests: it hands the shapes' records to
// its history, saves its shape list to bytes, reads a saved list back and
// collects the mark data of all its shapes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <cmath>
#include <string>
#include <vector>

#include "morvik/core/markdata.h"
#include "morvik/core/shapelist.h"
#include "morvik/core/srifile.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/records.h"
#include "morvik/history/editing_core.h"
#include "history/saved_compare.h"
#include "support/shape_support.h"
#include "morvik/history/undo_records_param.h"
#include "morvik/text/fonts.h"
#include "text/shx_gen.h"
#include "morvik/text/shxreader.h"
#include "text/text_test_util.h"

namespace history_test {

// The mark data of a whole document: per shape its pen groups and points,
// as one list of numbers (pens and counts are numbers too).
using Marks = std::vector<double>;

struct Desk : CBaseDoc {
    CBaseView view{this};
    CCore core{this, &view};
    Desk() {
        view.SetZoom(4.0f);
        view.SetOrigin({-60, 60});
        view.SetClientSize(480, 480);
    }
    void AddUndo(CUND_Base* record) override { core.AddUndoItem(record); }
    void GetMirrorCenter(tagPOINTF& centre) override { centre = {0, 0}; }
    // As a shape-list file holds the document: every shape with its
    // children before it.
    Bytes Save() {
        std::list<CBaseShape*> all;
        for (CBaseShape* s : GetShapeList()) s->SaveShapeChild(nullptr, all);
        return testsupport::SavedList(all);
    }
    // Where each shape's part of the last Mark begins.
    std::vector<size_t> starts;
    // The shape whose part of the last Mark holds entry i.
    int ShapeAt(size_t i) const {
        int n = -1;
        for (size_t k = 0; k < starts.size() && starts[k] <= i; ++k) n = static_cast<int>(k);
        return n;
    }
    // The shapes of a saved list appended to this document.
    void Load(const Bytes& bytes) {
        SriFile file(bytes.data(), bytes.size());
        std::list<CBaseShape*> shapes;
        CVonnSriShapeList reader(&shapes);
        reader.Read(true, &file);
        for (CBaseShape* s : shapes) {
            AddShape(s);
            s->SetDocView(this, &view);
        }
    }
    Marks Mark() {
        Marks out;
        starts.clear();
        for (CBaseShape* shape : GetShapeList()) {
            starts.push_back(out.size());
            tagMarkDataPar par;
            tagMarkCtlData ctl;
            out.push_back(shape->GetMarkData(par, &ctl) ? 1 : 0);
            for (const auto* list : {&par.arrPaths, &par.arrPaths2}) {
                out.push_back(static_cast<double>(list->size()));
                for (const tagPathData& path : *list) {
                    out.push_back(path.nPenIndex);
                    out.push_back(static_cast<double>(path.arrPolylines.size()));
                    for (const auto& line : path.arrPolylines) {
                        out.push_back(static_cast<double>(line.size()));
                        for (const tagPOINTF& p : line) {
                            out.push_back(p.x);
                            out.push_back(p.y);
                        }
                    }
                }
            }
        }
        return out;
    }
};

// Mark data in its parts: per shape its result and two path lists; per
// path its pen and polylines. False when the list is not of that form.
struct MarkShape {
    double ok = 0;
    std::vector<std::pair<double, std::vector<std::vector<tagPOINTF>>>> paths[2];
};
inline bool SplitMarks(const Marks& m, std::vector<MarkShape>& out) {
    size_t i = 0;
    auto take = [&](double& v) {
        if (i >= m.size()) return false;
        v = m[i++];
        return true;
    };
    while (i < m.size()) {
        MarkShape shape;
        double n = 0;
        if (!take(shape.ok)) return false;
        for (auto& list : shape.paths) {
            if (!take(n)) return false;
            for (size_t k = 0; k < static_cast<size_t>(n); ++k) {
                double pen = 0, lines = 0;
                if (!take(pen) || !take(lines)) return false;
                std::vector<std::vector<tagPOINTF>> polylines(static_cast<size_t>(lines));
                for (auto& line : polylines) {
                    double points = 0;
                    if (!take(points)) return false;
                    line.resize(static_cast<size_t>(points));
                    for (tagPOINTF& p : line) {
                        double x = 0, y = 0;
                        if (!take(x) || !take(y)) return false;
                        p = {static_cast<float>(x), static_cast<float>(y)};
                    }
                }
                list.emplace_back(pen, std::move(polylines));
            }
        }
        out.push_back(std::move(shape));
    }
    return true;
}

// The distance of p from the polyline.
inline double DistanceTo(const tagPOINTF& p, const std::vector<tagPOINTF>& line) {
    double best = 1e300;
    for (size_t i = 0; i < line.size(); ++i) {
        const tagPOINTF& a = line[i];
        const tagPOINTF& b = line[i + 1 < line.size() ? i + 1 : i];
        const double dx = b.x - a.x, dy = b.y - a.y, len = dx * dx + dy * dy;
        double t = len > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        best = std::min(best, std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y));
    }
    return best;
}

// Whether two flattenings are the same curve, run the same way: the same
// ends, and every point of each within dist of the other.
inline bool SameCurve(const std::vector<tagPOINTF>& a, const std::vector<tagPOINTF>& b, double dist) {
    if (a.empty() || b.empty()) return a.size() == b.size();
    auto near = [dist](const tagPOINTF& p, const tagPOINTF& q) { return std::hypot(p.x - q.x, p.y - q.y) <= dist; };
    if (!near(a.front(), b.front()) || !near(a.back(), b.back())) return false;
    for (const tagPOINTF& p : a)
        if (DistanceTo(p, b) > dist) return false;
    for (const tagPOINTF& p : b)
        if (DistanceTo(p, a) > dist) return false;
    return true;
}

// Where two mark data lists first differ, or empty when they agree within
// tol (counts and pens exactly). A curve flattened anew after a round trip
// of transforms may be sampled at other points of the same curve (a
// subdivision decided by the last bits of a coordinate): where the lists
// differ only so, every polyline running the same way between the same
// ends within 0.02 mm of the other (what flattening leaves between
// a curve and its chords), they agree.
// With resampled false they must agree point for point (within tol).
inline std::string MarksDiffer(const Marks& got, const Marks& want, double tol, bool resampled = true) {
    std::string exact;
    for (size_t i = 0; i < got.size() && i < want.size() && exact.empty(); ++i)
        if (std::fabs(got[i] - want[i]) > tol * (1.0 + std::fabs(want[i])))
            exact = "entry " + std::to_string(i) + ": " + std::to_string(got[i]) + " vs " + std::to_string(want[i]);
    if (exact.empty() && got.size() != want.size())
        exact = "entry " + std::to_string(std::min(got.size(), want.size())) + ": length " +
                std::to_string(got.size()) + " vs " + std::to_string(want.size());
    if (exact.empty() || !resampled) return exact;
    std::vector<MarkShape> a, b;
    if (!SplitMarks(got, a) || !SplitMarks(want, b) || a.size() != b.size()) return exact;
    for (size_t s = 0; s < a.size(); ++s) {
        if (a[s].ok != b[s].ok) return exact;
        for (int l = 0; l < 2; ++l) {
            const auto &pa = a[s].paths[l], &pb = b[s].paths[l];
            if (pa.size() != pb.size()) return exact;
            for (size_t k = 0; k < pa.size(); ++k) {
                if (pa[k].first != pb[k].first || pa[k].second.size() != pb[k].second.size()) return exact;
                for (size_t j = 0; j < pa[k].second.size(); ++j)
                    if (!SameCurve(pa[k].second[j], pb[k].second[j], 0.02)) return exact;
            }
        }
    }
    return {};
}

// Undoes every recorded edit and redoes them, twice over: after each undo
// the mark data must be that from before the undone edit (marks[i] is the
// mark data with i edits made), after undoing all the saved document must be
// start, after redoing all end. Empty when all holds; else what failed, the
// first undo whose mark data differ told by describe(edit index, where).
// With saved (the saved document with i edits made) and exact, every undo
// and redo of an edit i that exact(i) names is checked strictly: the saved
// fields within 1e-5 and the mark data point for point (within 2e-4: an
// earlier inverse transform in float leaves its rounding). Other steps keep
// the check above (a transform and its inverse in float may sample a curve
// elsewhere).
inline std::string UndoAndRedoAll(Desk& d, const std::vector<Marks>& marks, const Bytes& start, const Bytes& end,
                                  const std::function<std::string(size_t, const std::string&)>& describe,
                                  const std::vector<Bytes>* saved = nullptr,
                                  const std::function<bool(size_t)>& exact = nullptr) {
    std::string failed;
    auto same = [&](const Bytes& want, const char* when) {
        SavedCompare cmp(2e-4);
        if (!cmp.Lists(d.Save(), want)) failed += std::string(when) + ": " + cmp.where + "\n";
    };
    int cycle = 0;
    // What differs after the step of edit `edit` that left `at` edits made
    // (the saved fields are compared in the first cycle: saving takes long).
    auto differs = [&](size_t at, size_t edit) {
        const bool strict = saved != nullptr && exact && exact(edit);
        std::string diff = MarksDiffer(d.Mark(), marks[at], strict ? 2e-4 : 2e-3, !strict);
        if (diff.empty() && strict && cycle == 0 && !(*saved)[at].empty()) {
            SavedCompare cmp(1e-5);
            if (!cmp.Lists(d.Save(), (*saved)[at])) diff = "saved " + cmp.where;
        }
        return diff;
    };
    for (; cycle < 2; ++cycle) {
        while (d.core.IsAbleToUndo()) {
            d.core.OnEditUndo();
            const size_t at = static_cast<size_t>(d.core.m_nUndoPos);
            const std::string diff = differs(at, at);
            if (!diff.empty()) return failed + describe(at, diff);
        }
        same(start, "after undoing all");
        while (d.core.IsAbleToRedo()) {
            d.core.OnEditRedo();
            const size_t at = static_cast<size_t>(d.core.m_nUndoPos);
            const bool checked = saved != nullptr && exact && exact(at - 1);
            const std::string diff = checked ? differs(at, at - 1) : std::string();
            if (!diff.empty()) return failed + "redo: " + describe(at - 1, diff);
        }
        same(end, "after redoing all");
    }
    return failed;
}

// The record of the text dialog opened on t: the old values and position
// are the text's own, the new values start as a copy of them.
inline stFontsUndo* DialogRecord(CFonts* t) {
    auto* p = new stFontsUndo;
    p->ids = {t->GetBaseID()};
    t->GetFonts(p->strOldFirst, p->nOldType, p->strOldSecond, p->fontsOld, p->codebarOld, p->varOld);
    p->ptOld = t->fontspos;
    p->strNewFirst = p->strOldFirst;
    p->strNewSecond = p->strOldSecond;
    p->nNewType = p->nOldType;
    p->fontsNew = p->fontsOld;
    p->codebarNew = p->codebarOld;
    return p;
}

// The record's new values set on the text as the dialog sets them; 1 when
// the text took them.
inline int SetNewValues(CFonts* t, const stFontsUndo& p, VARTEXT_PAR var = VARTEXT_PAR()) {
    FONTS_PAR fonts = p.fontsNew;
    CODEBAR_PAR codebar = p.codebarNew;
    return t->SetFonts(p.strNewFirst, p.nNewType, p.strNewSecond, fonts, codebar, var, 0, 1, false);
}

// The fixture of the text editing tests: a run log of its own and a
// generated single-line font "Simtxt" in its font folder.
class TextDeskTest : public ::testing::Test {
protected:
    explicit TextDeskTest(const char* logName) : m_log(logName) {}
    void SetUp() override {
        std::filesystem::create_directories(m_log.Dir() / "font");
        shxgen::StrokeFont(shxgen::kShapes).Write((m_log.Dir() / "font" / "Simtxt.shx").string());
        CShxShapeReader::SetFontFolder((m_log.Dir() / "font").wstring());
    }
    void TearDown() override { CShxShapeReader::SetFontFolder(L""); }
    text_test::TempRunLog m_log;
};

}  // namespace history_test

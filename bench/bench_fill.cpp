// The hatch of a fill shape over 10,000 closed contours (5,000 random
// polygons, each with a hole) at 0.05 mm spacing with a cross fill, for each
// line kind, next to the same scan lines clipped by Clipper's open-path
// clipping (even-odd) in the same run. Each run prints the time ratio and
// both segment counts; the target is ours at no more than half of Clipper's
// time, with counts within 0.5%.
#include <benchmark/benchmark.h>

#include <polyclipping/clipper.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/compose/filler.h"
#include "morvik/core/polyline.h"
#include "morvik/core/runlog.h"
#include "morvik/host/recording_host.h"

namespace {

constexpr double kSpacing = 0.05;
constexpr int kColumns = 100;
constexpr int kRows = 50;
constexpr float kCell = 2.0f;

using Outline = std::vector<tagPOINTF>;

// A random star-like polygon in each cell with a smaller one inside as its hole.
std::vector<Outline> MakeContours() {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> jitter(0.75f, 1.0f);
    std::vector<Outline> out;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const float cx = c * kCell + kCell / 2, cy = r * kCell + kCell / 2;
            const int n = 7 + static_cast<int>(rng() % 6);
            Outline outer, hole;
            for (int i = 0; i < n; ++i) {
                const double a = 2 * M_PI * i / n;
                const float ro = 0.95f * jitter(rng), ri = 0.35f * jitter(rng);
                outer.push_back({cx + ro * static_cast<float>(std::cos(a)), cy + ro * static_cast<float>(std::sin(a))});
                hole.push_back({cx + ri * static_cast<float>(std::cos(a)), cy + ri * static_cast<float>(std::sin(a))});
            }
            out.push_back(outer);
            out.push_back(hole);
        }
    }
    return out;
}

const std::vector<Outline>& Contours() {
    static const std::vector<Outline> contours = MakeContours();
    return contours;
}

std::unique_ptr<CFilledShape> MakeFill(int kind) {
    auto fill = std::make_unique<CFilledShape>();
    for (const Outline& o : Contours()) {
        auto* p = new CPolyLine();
        p->arrPoint = o;
        p->ClosePloyLine();
        fill->GetChildren().push_back(p);
    }
    FILLED_PARS par;
    SHAPE_FILLER_PARAM& s = par.fillParams[0];
    s.nFillType = kind;
    s.fLineSpacing = kSpacing;
    s.bArrangeEqually = 0;
    s.fStartPreserve = kSpacing / 2;
    s.bCrossFill = 1;
    fill->SaveParamToCFG(par);
    return fill;
}

// Scan segments of a hatch: pieces along the hatch direction (horizontal
// or vertical), whatever the kind joins them with.
size_t CountScanSegments(const Gdiplus::GraphicsPath& path) {
    const auto& pts = path.PathPoints();
    const auto& types = path.PathTypes();
    size_t n = 0;
    for (size_t i = 1; i < pts.size(); ++i) {
        if ((types[i] & 0x07) == 0) continue;
        const float dx = std::fabs(pts[i].X - pts[i - 1].X), dy = std::fabs(pts[i].Y - pts[i - 1].Y);
        if ((dy < 1e-5f && dx > 1e-4f) || (dx < 1e-5f && dy > 1e-4f)) ++n;
    }
    return n;
}

// The same scan lines (both directions) clipped by Clipper against all
// contours at once.
size_t ClipperHatch() {
    constexpr double scale = 100000.0;
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    ClipperLib::Paths clip;
    for (const Outline& o : Contours()) {
        ClipperLib::Path p;
        for (const tagPOINTF& q : o) {
            p.push_back({static_cast<ClipperLib::cInt>(std::llround(q.x * scale)),
                         static_cast<ClipperLib::cInt>(std::llround(q.y * scale))});
            minX = std::min(minX, q.x), maxX = std::max(maxX, q.x);
            minY = std::min(minY, q.y), maxY = std::max(maxY, q.y);
        }
        clip.push_back(std::move(p));
    }
    size_t segments = 0;
    for (int dir = 0; dir < 2; ++dir) {
        ClipperLib::Clipper c;
        c.AddPaths(clip, ClipperLib::ptClip, true);
        const double lo = dir == 0 ? minY : minX, hi = dir == 0 ? maxY : maxX;
        const double a0 = (dir == 0 ? minX : minY) - 1, a1 = (dir == 0 ? maxX : maxY) + 1;
        for (double v = lo + kSpacing / 2; v <= hi; v += kSpacing) {
            ClipperLib::Path line(2);
            const auto iv = static_cast<ClipperLib::cInt>(std::llround(v * scale));
            const auto i0 = static_cast<ClipperLib::cInt>(std::llround(a0 * scale));
            const auto i1 = static_cast<ClipperLib::cInt>(std::llround(a1 * scale));
            line[0] = dir == 0 ? ClipperLib::IntPoint(i0, iv) : ClipperLib::IntPoint(iv, i0);
            line[1] = dir == 0 ? ClipperLib::IntPoint(i1, iv) : ClipperLib::IntPoint(iv, i1);
            c.AddPath(line, ClipperLib::ptSubject, false);
        }
        ClipperLib::PolyTree tree;
        c.Execute(ClipperLib::ctIntersection, tree, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd);
        ClipperLib::Paths open;
        ClipperLib::OpenPathsFromPolyTree(tree, open);
        segments += open.size();
    }
    return segments;
}

void BM_FillAgainstClipper(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    RunLog::Instance(nullptr)->SetLogFolder(CString(L"/tmp/"));
    std::unique_ptr<CFilledShape> fill = MakeFill(kind);
    double ours = 0, theirs = 0;
    size_t ourCount = 0, theirCount = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        fill->DoFill(0);
        auto t1 = std::chrono::steady_clock::now();
        theirCount = ClipperHatch();
        auto t2 = std::chrono::steady_clock::now();
        ours += std::chrono::duration<double>(t1 - t0).count();
        theirs += std::chrono::duration<double>(t2 - t1).count();
        ourCount = CountScanSegments(*fill->GetFillPathOf(0));
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    const double diff = theirCount ? std::fabs(static_cast<double>(ourCount) - theirCount) / theirCount : 1.0;
    state.counters["ours_s"] = ours / state.iterations();
    state.counters["clipper_s"] = theirs / state.iterations();
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
    state.counters["ours_segments"] = static_cast<double>(ourCount);
    state.counters["clipper_segments"] = static_cast<double>(theirCount);
    std::printf("kind %d: ours %.3f s, Clipper %.3f s, ratio %.2f (target <= 0.5); segments %zu vs %zu (%.3f%%, target < 0.5%%)\n",
                kind, ours / state.iterations(), theirs / state.iterations(), theirs > 0 ? ours / theirs : 0.0, ourCount,
                theirCount, diff * 100);
    fill->FreeShapePtr();
}
BENCHMARK(BM_FillAgainstClipper)->DenseRange(1, 4)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The slow-fill question of the concentric fill on an outline of 1,000,000
// vertices (a circle of radius 200 mm with a random radial roughness of
// 0.05 mm), whose first offset alone runs for many minutes. The host answers
// No; the run prints when the question came (target: about 15 s after the
// start, never much later) and how long the fill took to end after the
// answer (target: a few seconds).
size_t CountFigures(const Gdiplus::GraphicsPath& path) {
    size_t n = 0;
    for (uint8_t t : path.PathTypes())
        if ((t & 0x07) == 0) ++n;
    return n;
}

class TimedHost : public RecordingHost {
public:
    std::chrono::steady_clock::time_point asked;
    int MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) override {
        asked = std::chrono::steady_clock::now();
        return RecordingHost::MessageBox(owner, text, caption, type);
    }
};

void BM_ConcentricQuestionOnAMillionVertices(benchmark::State& state) {
    RunLog::Instance(nullptr)->SetLogFolder(CString(L"/tmp/"));
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> rough(-0.05f, 0.05f);
    constexpr int kVertices = 1000000;
    auto* outline = new CPolyLine();
    outline->arrPoint.reserve(kVertices + 1);
    for (int i = 0; i < kVertices; ++i) {
        const double a = 2 * M_PI * i / kVertices;
        const float r = 200.0f + rough(rng);
        outline->arrPoint.push_back({r * static_cast<float>(std::cos(a)), r * static_cast<float>(std::sin(a))});
    }
    outline->ClosePloyLine();
    std::unique_ptr<CFilledShape> fill(new CFilledShape());
    fill->GetChildren().push_back(outline);
    FILLED_PARS par;
    par.fillParams[0].nFillType = 0;
    par.fillParams[0].fLineSpacing = 0.1;
    fill->SaveParamToCFG(par);
    auto host = std::make_shared<TimedHost>();
    std::shared_ptr<IHostServices> previous = SetHost(host);
    double question = 0, after = 0;
    size_t rings = 0;
    for (auto _ : state) {
        host->ClearRecords();
        host->QueueMessageBoxAnswer(IDNO);
        CFillRunner::SetSlowFillAsk(1);
        const auto t0 = std::chrono::steady_clock::now();
        fill->DoFill(0);
        const auto t1 = std::chrono::steady_clock::now();
        const bool asked = !host->MessageBoxes().empty();
        question = asked ? std::chrono::duration<double>(host->asked - t0).count() : -1;
        after = asked ? std::chrono::duration<double>(t1 - host->asked).count() : -1;
        // Rings finished before the answer: none when the question came
        // inside the first Clipper step.
        rings = CountFigures(*fill->GetFillPathOf(0));
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["question_s"] = question;
    state.counters["end_after_no_s"] = after;
    state.counters["rings"] = static_cast<double>(rings);
    std::printf("concentric fill, %d vertices: question after %.2f s (target about 15), fill ended %.3f s after No, "
                "%zu rings done\n",
                kVertices, question, after, rings);
    SetHost(previous);
    fill->FreeShapePtr();
}
BENCHMARK(BM_ConcentricQuestionOnAMillionVertices)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The concentric fill of a smooth outline (a five-petalled curve of radius
// 10 +- 1.5 mm) at 0.4 mm spacing, about 20 rings, from 10,000 and from
// 100,000 vertices. Each ring is simplified within the fill's flattening
// tolerance before the next offset, so the time grows about with the vertex
// count: the run prints the ratio of the two times (target at most 15).
double ConcentricSeconds(int vertices, size_t& rings) {
    auto* outline = new CPolyLine();
    outline->arrPoint.reserve(static_cast<size_t>(vertices) + 1);
    for (int i = 0; i < vertices; ++i) {
        const double a = 2 * M_PI * i / vertices;
        const double r = 10.0 + 1.5 * std::sin(5 * a);
        outline->arrPoint.push_back({static_cast<float>(3 + r * std::cos(a)), static_cast<float>(-2 + r * std::sin(a))});
    }
    outline->ClosePloyLine();
    std::unique_ptr<CFilledShape> fill(new CFilledShape());
    fill->GetChildren().push_back(outline);
    FILLED_PARS par;
    par.fillParams[0].nFillType = 0;
    par.fillParams[0].fLineSpacing = 0.4;
    fill->SaveParamToCFG(par);
    const auto t0 = std::chrono::steady_clock::now();
    fill->DoFill(0);
    const auto t1 = std::chrono::steady_clock::now();
    rings = CountFigures(*fill->GetFillPathOf(0));
    fill->FreeShapePtr();
    return std::chrono::duration<double>(t1 - t0).count();
}

void BM_ConcentricNearLinearInVertices(benchmark::State& state) {
    RunLog::Instance(nullptr)->SetLogFolder(CString(L"/tmp/"));
    double small = 0, large = 0;
    size_t smallRings = 0, largeRings = 0;
    for (auto _ : state) {
        small = ConcentricSeconds(10000, smallRings);
        large = ConcentricSeconds(100000, largeRings);
        state.SetIterationTime(small + large);
    }
    const double ratio = small > 0 ? large / small : 0;
    state.counters["s_10k"] = small;
    state.counters["s_100k"] = large;
    state.counters["ratio"] = ratio;
    std::printf("concentric fill: 10,000 vertices %.3f s (%zu rings), 100,000 vertices %.3f s (%zu rings), "
                "ratio %.1f (target <= 15)\n",
                small, smallRings, large, largeRings, ratio);
}
BENCHMARK(BM_ConcentricNearLinearInVertices)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Hatch filling of a disc 100 mm across at 0.05 mm spacing: the line fill
// of each kind (about 2,000 scan lines, one region), a cross fill, and the
// concentric fill both ways: the exact rings of a lone circle and the
// ring-by-ring Clipper offsets of the same disc as a polyline. Each run
// starts from the prepared shape and ends with the hatch path.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "morvik/compose/filler.h"
#include "morvik/core/polyline.h"
#include "morvik/core/runlog.h"
#include "morvik/shapes/circle.h"

namespace {

constexpr float kRadius = 50.0f;
constexpr double kSpacing = 0.05;

// A fill shape holding one shape to fill.
class Site : public CFillSite {
public:
    explicit Site(CBaseShape* filled) { shape.GetChildren().push_back(filled); }
    ~Site() override {
        for (CBaseShape* c : shape.GetChildren()) delete c;
    }
    CBaseShape* GetFillShape() override { return &shape; }
    Gdiplus::GraphicsPath* GetHatchPath(int index) override { return index >= 0 && index < 4 ? &paths[index] : nullptr; }
    bool IsNoRedraw() override { return false; }
    void GetBasicShapeList(std::vector<CBaseShape*>& out, std::vector<CBaseShape*>&) override {
        out.assign(shape.GetChildren().begin(), shape.GetChildren().begin() + 1);
    }
    int GetSourceIndex(CBaseShape*) override { return 0; }

    CBaseShape shape;
    Gdiplus::GraphicsPath paths[4];
};

CBaseShape* Circle() {
    auto* c = new CCircle();
    c->InitCircle(0, 0, 0, kRadius);
    return c;
}

// The disc as a closed polyline of 720 points.
CBaseShape* DiscPolyline() {
    auto* p = new CPolyLine();
    for (int i = 0; i < 720; ++i) {
        const double a = 2 * M_PI * i / 720;
        p->arrPoint.push_back({kRadius * static_cast<float>(std::cos(a)), kRadius * static_cast<float>(std::sin(a))});
    }
    p->ClosePloyLine();
    return p;
}

void BM_LineFill(benchmark::State& state) {
    Site site(Circle());
    SHAPE_FILLER_PARAM set;
    set.nFillType = static_cast<int32_t>(state.range(0));
    set.fLineSpacing = kSpacing;
    set.fAngle = 30;
    set.bCrossFill = static_cast<int32_t>(state.range(1));
    CFillRunner runner(site);
    size_t points = 0;
    for (auto _ : state) {
        site.paths[0].Reset();
        std::vector<CBaseShape*> shapes = site.shape.GetChildren();
        runner.DoFillLiner(set, shapes);
        points = static_cast<size_t>(site.paths[0].GetPointCount());
        benchmark::DoNotOptimize(points);
    }
    state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_LineFill)
    ->ArgNames({"kind", "cross"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Args({4, 0})
    ->Args({3, 1})
    ->Unit(benchmark::kMillisecond);

void BM_ConcentricFill(benchmark::State& state) {
    Site site(state.range(0) == 0 ? Circle() : DiscPolyline());
    SHAPE_FILLER_PARAM set;
    set.nFillType = 0;
    set.fLineSpacing = kSpacing;
    CFillRunner runner(site);
    size_t points = 0;
    for (auto _ : state) {
        runner.DoFillCircular(set);
        points = static_cast<size_t>(site.paths[0].GetPointCount());
        benchmark::DoNotOptimize(points);
    }
    state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_ConcentricFill)->ArgName("clipper")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The fills log a line or two per run; keep them out of the way.
    char tmpl[] = "/tmp/morvik-bench-hatch-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    RunLog::Instance(nullptr)->SetLogFolder(CString((dir + "/").c_str()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}

// The polygon's outline from a file whose modification list is enormous (a
// damaged or hostile file): reading it, then its bounding rectangle, which
// every redraw asks for. The list is folded on reading and the vertices are
// replayed through one map, so neither grows with the list.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "morvik/core/srifile.h"
#include "morvik/shapes/polygon.h"

namespace {

// A 1000-sided polygon saved with `entries` moves in its list.
std::vector<uint8_t> SavedPolygon(int entries) {
    CPolygon p;
    p.InitPolygon(Gdiplus::RectF(0, 10, 10, 10), 1000);
    SHAPE_MODIFY step;
    step.cmd = SHAPE_MODIFY::kMove;
    for (int k = 0; k < entries; ++k) {
        step.par1 = k % 2 == 0 ? 0.25 : -0.25;
        p.vModify.push_back(step);
    }
    p.UpdatePropsValue();
    SriFile out;
    p.Save(false, &out);
    return out.GetWrittenBytes();
}

void BM_ReadHugeListAndGetRectangle(benchmark::State& state) {
    const std::vector<uint8_t> bytes = SavedPolygon(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        SriFile in(bytes.data(), bytes.size());
        CPolygon p;
        p.Read(false, &in);
        p.RestoreAfterRead();
        Gdiplus::RectF r;
        p.GetRectangle(r);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_ReadHugeListAndGetRectangle)->Arg(1000)->Arg(45000)->Unit(benchmark::kMillisecond);

void BM_GetRectangleOfReadPolygon(benchmark::State& state) {
    const std::vector<uint8_t> bytes = SavedPolygon(45000);
    SriFile in(bytes.data(), bytes.size());
    CPolygon p;
    p.Read(false, &in);
    p.RestoreAfterRead();
    for (auto _ : state) {
        Gdiplus::RectF r;
        p.GetRectangle(r);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_GetRectangleOfReadPolygon)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

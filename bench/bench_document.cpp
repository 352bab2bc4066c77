// The document's shape list at 100,000 shapes: adding them one by one,
// restoring a snapshot of the list (what every list undo and redo does), and
// undoing and redoing a list swap through the editing history. Each run
// reports, besides its total time, the time per shape ("per_shape").
#include <benchmark/benchmark.h>

#include <list>
#include <memory>
#include <vector>

#include "morvik/core/polyline.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_records_list.h"

namespace {

constexpr int kShapes = 100000;

std::vector<CBaseShape*> MakeShapes(int n) {
    std::vector<CBaseShape*> shapes;
    shapes.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        auto* line = new CPolyLine();
        line->arrPoint = {{static_cast<float>(i), 0.0f}, {static_cast<float>(i), 1.0f}};
        shapes.push_back(line);
    }
    return shapes;
}

void PerShape(benchmark::State& state, int shapesPerIteration) {
    state.counters["per_shape"] = benchmark::Counter(static_cast<double>(shapesPerIteration),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

// A document filled with kShapes shapes, the list in that order.
struct FilledDoc {
    CBaseDoc doc;
    std::list<CBaseShape*> order;
    FilledDoc() {
        for (CBaseShape* s : MakeShapes(kShapes)) {
            doc.AddShape(s);
        }
        order = doc.GetShapeList();
    }
};

void BM_AddShapes(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto doc = std::make_unique<CBaseDoc>();
        const std::vector<CBaseShape*> shapes = MakeShapes(kShapes);
        state.ResumeTiming();
        for (CBaseShape* s : shapes) {
            doc->AddShape(s);
        }
        benchmark::DoNotOptimize(doc->GetShapeList().size());
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    PerShape(state, kShapes);
}
BENCHMARK(BM_AddShapes)->Unit(benchmark::kMillisecond);

void BM_RestoreShapeList(benchmark::State& state) {
    FilledDoc filled;
    const std::list<CBaseShape*> reversed(filled.order.rbegin(), filled.order.rend());
    bool flip = false;
    for (auto _ : state) {
        filled.doc.RestoreShapeList(flip ? filled.order : reversed);
        flip = !flip;
        benchmark::DoNotOptimize(filled.doc.GetShapeList().front());
    }
    PerShape(state, kShapes);
}
BENCHMARK(BM_RestoreShapeList)->Unit(benchmark::kMillisecond);

// A deletion of every other shape, undone and redone: two list swaps per
// iteration.
void BM_UndoRedoListSwap(benchmark::State& state) {
    FilledDoc filled;
    CBaseView view(&filled.doc);
    CCore core(&filled.doc, &view);
    auto* payload = new stListSwapUndo;
    payload->before = filled.order;
    bool keep = true;
    for (CBaseShape* s : filled.order) {
        if (keep) {
            payload->after.push_back(s);
        }
        keep = !keep;
    }
    filled.doc.RestoreShapeList(payload->after);
    core.AddUndoItem(new CUND_Delete(payload));
    for (auto _ : state) {
        core.OnEditUndo();
        core.OnEditRedo();
        benchmark::DoNotOptimize(filled.doc.GetShapeList().size());
    }
    PerShape(state, 2 * kShapes);
}
BENCHMARK(BM_UndoRedoListSwap)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

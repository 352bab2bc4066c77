// Flattening of 100,000 random cubic Bezier segments by the GDI+ path
// engine, against cairo's own flattening of the same curves at the same
// tolerance (cairo_copy_path_flat). Each run starts from the prepared curves
// and ends with the flattened point list, so both sides pay for copying the
// path in and the polyline out. After the runs the program prints, per
// tolerance, the ratio of times and of point counts (ours / cairo; below 1
// is better for us).
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "morvik/gdiplus/gdiplus.h"

namespace {

constexpr int kCurves = 100000;

struct Curves {
    std::vector<Gdiplus::PointF> pts;  // four per curve
    Curves() {
        std::mt19937 rng(20240611);
        // Curves of typical drawing size, in coordinates cairo's fixed point holds.
        std::uniform_real_distribution<float> origin(0.0f, 1000.0f);
        std::uniform_real_distribution<float> offset(-60.0f, 60.0f);
        pts.reserve(kCurves * 4);
        for (int i = 0; i < kCurves; ++i) {
            const float x = origin(rng);
            const float y = origin(rng);
            for (int k = 0; k < 4; ++k) {
                pts.emplace_back(x + offset(rng), y + offset(rng));
            }
        }
    }
};

const Curves& TheCurves() {
    static const Curves c;
    return c;
}

// Every curve is a figure of its own.
const Gdiplus::GraphicsPath& OurPath() {
    static const Gdiplus::GraphicsPath path = [] {
        Gdiplus::GraphicsPath p;
        const auto& c = TheCurves().pts;
        for (int i = 0; i < kCurves; ++i) {
            p.StartFigure();
            p.AddBeziers(&c[static_cast<size_t>(i) * 4], 4);
        }
        return p;
    }();
    return path;
}

struct Cairo {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    cairo_path_t* curves = nullptr;
    Cairo() {
        surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 16, 16);
        cr = cairo_create(surface);
        const auto& c = TheCurves().pts;
        for (int i = 0; i < kCurves; ++i) {
            const Gdiplus::PointF* q = &c[static_cast<size_t>(i) * 4];
            cairo_move_to(cr, q[0].X, q[0].Y);
            cairo_curve_to(cr, q[1].X, q[1].Y, q[2].X, q[2].Y, q[3].X, q[3].Y);
        }
        curves = cairo_copy_path(cr);
        cairo_new_path(cr);
    }
    ~Cairo() {
        cairo_path_destroy(curves);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
};

Cairo& TheCairo() {
    static Cairo c;
    return c;
}

std::map<std::string, double> g_points;

void BM_OurFlatten(benchmark::State& state) {
    const float tol = static_cast<float>(state.range(0)) / 10000.0f;
    const Gdiplus::GraphicsPath& src = OurPath();
    long points = 0;
    for (auto _ : state) {
        Gdiplus::GraphicsPath p = src;
        p.Flatten(nullptr, tol);
        points = p.GetPointCount();
        benchmark::DoNotOptimize(p.PathPoints().data());
    }
    state.counters["points"] = static_cast<double>(points);
    g_points["BM_OurFlatten/" + std::to_string(state.range(0))] = static_cast<double>(points);
}

void BM_CairoFlatten(benchmark::State& state) {
    const double tol = static_cast<double>(state.range(0)) / 10000.0;
    Cairo& c = TheCairo();
    cairo_set_tolerance(c.cr, tol);
    long points = 0;
    for (auto _ : state) {
        cairo_new_path(c.cr);
        cairo_append_path(c.cr, c.curves);
        cairo_path_t* flat = cairo_copy_path_flat(c.cr);
        points = 0;
        for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
            if (flat->data[i].header.type != CAIRO_PATH_CLOSE_PATH) {
                ++points;
            }
        }
        benchmark::DoNotOptimize(flat->data);
        cairo_path_destroy(flat);
    }
    cairo_new_path(c.cr);
    state.counters["points"] = static_cast<double>(points);
    g_points["BM_CairoFlatten/" + std::to_string(state.range(0))] = static_cast<double>(points);
}

// Tolerances in units of 1/10000: 0.25 and 0.01.
BENCHMARK(BM_OurFlatten)->Arg(2500)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CairoFlatten)->Arg(2500)->Arg(100)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration for the closing comparison.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
                times[r.benchmark_name()] = r.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* arg : {"2500", "100"}) {
        const std::string ours = std::string("BM_OurFlatten/") + arg;
        const std::string cairo = std::string("BM_CairoFlatten/") + arg;
        if (!reporter.times.count(ours) || !reporter.times.count(cairo) || reporter.times[cairo] <= 0 ||
            g_points[cairo] <= 0) {
            continue;
        }
        std::printf("flatness %.4f: time ours/cairo %.3f, points ours/cairo %.3f (%.0f vs %.0f)\n",
                    std::stod(arg) / 10000.0, reporter.times[ours] / reporter.times[cairo],
                    g_points[ours] / g_points[cairo], g_points[ours], g_points[cairo]);
    }
    benchmark::Shutdown();
    return 0;
}

// Importing vector files. DXF: a generated drawing of about 50 MB, written as
// CAD programs write it (three-column group codes, CR LF, handles and
// subclass markers): lines, arcs and polylines, and 10,000 inserts of a block
// that places another block four times. Read alone and imported whole (read
// and built into shapes), in small mode (one thread) and in large mode
// (worker threads). Every benchmark of this program that counts bytes gets
// its rate printed in MB/s at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "morvik/compose/group.h"
#include "morvik/core/runlog.h"
#include "morvik/import/dxf_builder.h"
#include "morvik/import/dxf_reader.h"

namespace {

constexpr size_t kTargetBytes = 50u << 20;
constexpr int kInserts = 10000;

// Pairs as CAD programs write them.
class Writer {
public:
    void Pair(int code, const char* value) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%3d\r\n", code);
        text += buf;
        text += value;
        text += "\r\n";
    }
    void Pair(int code, const std::string& value) { Pair(code, value.c_str()); }
    void Number(int code, double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.6f", v);
        Pair(code, buf);
    }
    void Head(const char* name, const char* subclass, const char* layer) {
        Pair(0, name);
        char handle[16];
        std::snprintf(handle, sizeof handle, "%X", ++handle_);
        Pair(5, handle);
        Pair(330, "1F");
        Pair(100, "AcDbEntity");
        Pair(8, layer);
        Pair(100, subclass);
    }
    void Line(const char* layer, double x0, double y0, double x1, double y1) {
        Head("LINE", "AcDbLine", layer);
        Number(10, x0), Number(20, y0), Number(30, 0);
        Number(11, x1), Number(21, y1), Number(31, 0);
    }
    void Arc(const char* layer, double x, double y, double r, double a0, double a1) {
        Head("ARC", "AcDbCircle", layer);
        Number(10, x), Number(20, y), Number(30, 0), Number(40, r);
        Pair(100, "AcDbArc");
        Number(50, a0), Number(51, a1);
    }
    void Polyline(const char* layer, double x, double y, int vertices) {
        Head("LWPOLYLINE", "AcDbPolyline", layer);
        Pair(90, std::to_string(vertices));
        Pair(70, "1");
        Number(43, 0);
        for (int i = 0; i < vertices; ++i) {
            Number(10, x + (i % 2) * 3.0 + i * 0.5), Number(20, y + (i / 2) * 2.0);
            if (i % 3 == 1) Number(42, 0.25);
        }
    }
    std::string text;

private:
    unsigned handle_ = 0x100;
};

// A small deterministic random source.
struct Lcg {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    double Next(double scale) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(s >> 11) / 9007199254740992.0 * scale;
    }
};

std::string MakeDrawing() {
    Writer w;
    Lcg rng;
    w.Pair(0, "SECTION"), w.Pair(2, "HEADER");
    w.Pair(9, "$ACADVER"), w.Pair(1, "AC1018");
    w.Pair(9, "$INSUNITS"), w.Pair(70, "4");
    w.Pair(0, "ENDSEC");
    w.Pair(0, "SECTION"), w.Pair(2, "BLOCKS");
    // CELL: a few entities; PART: four cells and a ring around them.
    w.Pair(0, "BLOCK"), w.Pair(8, "0"), w.Pair(2, "CELL"), w.Pair(70, "0");
    w.Number(10, 0), w.Number(20, 0), w.Number(30, 0), w.Pair(3, "CELL");
    w.Line("CELL", 0, 0, 2, 0), w.Line("CELL", 2, 0, 2, 2), w.Arc("CELL", 1, 1, 0.8, 0, 270);
    w.Polyline("CELL", 0.2, 0.2, 6);
    w.Pair(0, "ENDBLK"), w.Pair(8, "0");
    w.Pair(0, "BLOCK"), w.Pair(8, "0"), w.Pair(2, "PART"), w.Pair(70, "0");
    w.Number(10, 0), w.Number(20, 0), w.Number(30, 0), w.Pair(3, "PART");
    for (int i = 0; i < 4; ++i) {
        w.Head("INSERT", "AcDbBlockReference", "PART");
        w.Pair(2, "CELL");
        w.Number(10, (i % 2) * 3.0), w.Number(20, (i / 2) * 3.0), w.Number(30, 0);
        w.Number(50, i * 90.0);
    }
    w.Arc("PART", 2.5, 2.5, 4.0, 0, 360);
    w.Pair(0, "ENDBLK"), w.Pair(8, "0");
    w.Pair(0, "ENDSEC");

    w.Pair(0, "SECTION"), w.Pair(2, "ENTITIES");
    for (int i = 0; i < kInserts; ++i) {
        w.Head("INSERT", "AcDbBlockReference", "PARTS");
        w.Pair(2, "PART");
        w.Number(10, rng.Next(1000)), w.Number(20, rng.Next(1000)), w.Number(30, 0);
        w.Number(41, 0.5 + rng.Next(1)), w.Number(42, 0.5 + rng.Next(1)), w.Number(50, rng.Next(360));
    }
    const char* layers[] = {"OUTLINE", "DETAIL", "HOLES", ""};
    for (int i = 0; w.text.size() < kTargetBytes - 4096; ++i) {
        const char* layer = layers[i % 4];
        const double x = rng.Next(1000), y = rng.Next(1000);
        switch (i % 4) {
        case 0:
        case 1: w.Line(layer, x, y, x + rng.Next(50), y + rng.Next(50)); break;
        case 2: w.Arc(layer, x, y, 1 + rng.Next(20), rng.Next(360), rng.Next(360)); break;
        default: w.Polyline(layer, x, y, 4 + i % 9); break;
        }
    }
    w.Pair(0, "ENDSEC");
    w.Pair(0, "EOF");
    return w.text;
}

// The drawing, written to a temporary file on first use.
std::string g_drawing;

const std::string& DrawingPath() {
    if (g_drawing.empty()) {
        char tmpl[] = "/tmp/morvik-bench-import-XXXXXX";
        const int fd = mkstemp(tmpl);
        if (fd < 0) std::abort();
        close(fd);
        const std::string p = std::string(tmpl) + ".dxf";
        std::ofstream(p, std::ios::binary) << MakeDrawing();
        std::remove(tmpl);
        g_drawing = p;
    }
    return g_drawing;
}

long FileSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return static_cast<long>(in.tellg());
}

CParserDxfFile::ReadMode ModeOf(const benchmark::State& state) {
    return state.range(0) ? CParserDxfFile::ReadMode::Large : CParserDxfFile::ReadMode::Small;
}

void BM_DxfRead(benchmark::State& state) {
    const std::string& path = DrawingPath();
    size_t lines = 0;
    for (auto _ : state) {
        auto reader = std::make_unique<CParserDxfFile>();
        reader->SetReadMode(ModeOf(state));
        if (reader->ParserDxf(path.c_str()) != 1) state.SkipWithError("the drawing was not read");
        state.PauseTiming();
        std::vector<tagLine> out;
        reader->GetVecLine(out);
        lines = out.size();
        reader.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FileSize(path));
    state.counters["lines"] = static_cast<double>(lines);
}

void BM_DxfImport(benchmark::State& state) {
    std::string path = DrawingPath();
    size_t shapes = 0;
    for (auto _ : state) {
        auto* group = new CGroupShape();
        {
            CDrawDxfEntity builder;
            builder.SetReadMode(ModeOf(state));
            builder.InitPara(path.data(), group, false, false);
            if (!builder.FileWasRead()) state.SkipWithError("the drawing was not read");
        }
        state.PauseTiming();
        std::vector<CBaseShape*> leaves;
        group->GetShapeListByTextName(leaves);
        shapes = leaves.size();
        group->FreeShapePtr();
        delete group;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FileSize(path));
    state.counters["shapes"] = static_cast<double>(shapes);
}

BENCHMARK(BM_DxfRead)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DxfImport)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Keeps each run's rate in bytes per second, to print them together.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end() && !run.error_occurred) rates[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    char tmpl[] = "/tmp/morvik-bench-import-log-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    RunLog::Instance(nullptr)->SetLogFolder(CString((dir + "/").c_str()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    for (const auto& [name, rate] : reporter.rates) std::printf("%-40s %8.1f MB/s\n", name.c_str(), rate / 1e6);
    // The DXF targets: 50 MB/s in small mode, faster in large mode.
    for (const char* kind : {"BM_DxfRead", "BM_DxfImport"}) {
        const auto small = reporter.rates.find(std::string(kind) + "/large:0/iterations:3/real_time");
        const auto large = reporter.rates.find(std::string(kind) + "/large:1/iterations:3/real_time");
        if (small == reporter.rates.end() || large == reporter.rates.end()) continue;
        std::printf("%s: small mode %s 50 MB/s; large mode %s than small mode\n", kind,
                    small->second >= 50e6 ? "meets" : "DOES NOT meet",
                    large->second > small->second ? "faster" : "NOT faster");
    }
    if (!g_drawing.empty()) std::remove(g_drawing.c_str());
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}

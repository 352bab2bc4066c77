// Layout and flattening of 10,000 characters of mixed Latin text in DejaVu
// Sans at a height of 5 mm, through the text shape (InitFontsPath, then
// GetFlattenPathPoints), against cairo's cairo_text_path plus
// cairo_copy_path_flat of the same lines in the same face. Both sides
// flatten to within 0.01 mm: the text shape flattens in its layout units
// (10 per em), so its tolerance there is 0.01 mm times 10 / 5; cairo works in
// device units of 0.01 mm with outlines unhinted. After the runs the
// program prints the ratio of times and of point counts (ours / cairo;
// below 1 is better for us).
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "morvik/core/markdata.h"
#include "morvik/compose/filledshape.h"
#include "morvik/core/shapelist.h"
#include "morvik/core/srifile.h"
#include "tests/text/shx_gen.h"
#include "morvik/text/fonts.h"
#include "morvik/text/shxreader.h"

namespace {

constexpr int kLines = 100;
constexpr int kPerLine = 100;
constexpr double kHeight = 5.0;      // mm
constexpr double kFlatness = 0.01;   // mm
constexpr double kDeviceScale = 100; // cairo device units per mm

// Words of letters, digits and punctuation in lines of kPerLine characters.
const std::vector<std::wstring>& Lines() {
    static const std::vector<std::wstring> lines = [] {
        const std::wstring letters = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        const std::wstring punct = L".,;:-!?()'/";
        std::mt19937 rng(20240611);
        std::vector<std::wstring> out;
        for (int l = 0; l < kLines; ++l) {
            std::wstring line;
            while (static_cast<int>(line.size()) < kPerLine) {
                if (!line.empty()) line += L' ';
                const int n = 2 + static_cast<int>(rng() % 8);
                for (int k = 0; k < n; ++k) line += letters[rng() % letters.size()];
                if (rng() % 4 == 0) line += punct[rng() % punct.size()];
            }
            line.resize(kPerLine);
            if (line.back() == L' ') line.back() = L'x';
            out.push_back(line);
        }
        return out;
    }();
    return lines;
}

double g_ourPoints = 0, g_cairoPoints = 0;

void BM_TextShape(benchmark::State& state) {
    std::wstring text;
    for (const std::wstring& line : Lines()) text += line + L"\n";
    text.pop_back();
    CFonts shape;
    shape.parFonts.dHeight = kHeight;
    shape.parFonts.dWidthRatio = CFonts::kNaturalWidth;
    shape.SetSmoothRatio(static_cast<float>(kFlatness * CFonts::kEmSize / kHeight));
    const CString str(text);
    std::vector<tagPOINTF> points;
    for (auto _ : state) {
        shape.InitFontsPath({0, 0}, str, CString(L"DejaVu Sans"), false);
        points.clear();
        shape.GetFlattenPathPoints(points, static_cast<float>(kFlatness));
        benchmark::DoNotOptimize(points.data());
    }
    g_ourPoints = static_cast<double>(points.size());
    state.counters["points"] = g_ourPoints;
    state.counters["chars"] = static_cast<double>(shape.GetChars().size());
}

void BM_Cairo(benchmark::State& state) {
    std::vector<std::string> lines;
    for (const std::wstring& line : Lines()) lines.emplace_back(line.begin(), line.end());  // ASCII
    // An unbounded surface: on a bounded one cairo_text_path drops the
    // glyphs that fall outside the surface.
    cairo_surface_t* surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, nullptr);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, kDeviceScale, kDeviceScale);
    cairo_set_tolerance(cr, kFlatness * kDeviceScale);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kHeight);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    long points = 0;
    for (auto _ : state) {
        cairo_new_path(cr);
        for (size_t l = 0; l < lines.size(); ++l) {
            cairo_move_to(cr, 0, kHeight * static_cast<double>(l + 1));
            cairo_text_path(cr, lines[l].c_str());
        }
        cairo_path_t* flat = cairo_copy_path_flat(cr);
        points = 0;
        for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
            if (flat->data[i].header.type != CAIRO_PATH_CLOSE_PATH) ++points;
        }
        benchmark::DoNotOptimize(flat->data);
        cairo_path_destroy(flat);
    }
    cairo_font_options_destroy(options);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    g_cairoPoints = static_cast<double>(points);
    state.counters["points"] = g_cairoPoints;
}

// The same 10,000 characters in a generated single-line (SHX) font whose
// characters mix vectors, arcs and a sub-shape: layout, arcs flattened to
// 0.005 mm, and the points read back.
double g_shxPoints = 0;

void BM_ShxText(benchmark::State& state) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "morvik-bench-shx";
    std::filesystem::create_directories(dir);
    shxgen::StrokeFont(shxgen::kShapes).Write((dir / "Simtxt.shx").string());
    shxgen::StrokeFont(shxgen::kUnifont).Write((dir / "Bench.shx").string());
    CShxShapeReader::SetFontFolder(dir.wstring());
    std::wstring text;
    for (const std::wstring& line : Lines()) text += line + L"\n";
    text.pop_back();
    CFonts shape;
    shape.nFontType = 1;
    shape.parFonts.dHeight = kHeight;
    shape.parFonts.dWidthRatio = 100.0;
    const CString str(text);
    std::vector<tagPOINTF> points;
    for (auto _ : state) {
        shape.InitFontsPath({0, 0}, str, CString(L"Bench"), false);
        points.clear();
        shape.GetFlattenPathPoints(points, static_cast<float>(kFlatness));
        benchmark::DoNotOptimize(points.data());
    }
    g_shxPoints = static_cast<double>(points.size());
    state.counters["points"] = g_shxPoints;
    state.counters["chars"] = static_cast<double>(shape.GetChars().size());
    state.counters["type"] = shape.GetFontType();
    CShxShapeReader::SetFontFolder(L"");
    std::filesystem::remove_all(dir);
}

// ---- long texts -----------------------------------------------------------------------------
// A text of n characters of the same lines (100 per line) saved to and read
// back from a shape list in memory, as a host saves a document (the disk is
// not what is measured). Fresh memory is what a save of a long text costs
// most: on a machine where the first touch of a page is slow, the times
// follow the size of the file. Targets:
// 100,000 characters save and load in under a second each. The last case
// lays out, marks and saves a text of 1 MB (1,000,000 characters) and
// reports how much memory each phase took per outline point.

std::wstring LongText(size_t n) {
    std::wstring text;
    while (text.size() < n) {
        for (const std::wstring& line : Lines()) {
            text += line + L"\n";
            if (text.size() >= n) break;
        }
    }
    text.resize(n);
    return text;
}

std::unique_ptr<CFonts> LaidOut(size_t n) {
    auto shape = std::make_unique<CFonts>();
    shape->parFonts.dHeight = kHeight;
    shape->parFonts.dWidthRatio = CFonts::kNaturalWidth;
    shape->InitFontsPath({0, 0}, CString(LongText(n)), CString(L"DejaVu Sans"), false);
    return shape;
}

// Saves the text's records, as a host saves a document, into a memory
// stream (the disk is not what is measured).
void SaveText(CFonts& shape, SriFile& file) {
    std::list<CBaseShape*> records;
    shape.SaveShapeChild(nullptr, records);
    CVonnSriShapeList writer(&records);
    writer.Save(true, &file);
}

std::vector<uint8_t> SavedBytes(CFonts& shape) {
    SriFile file;
    SaveText(shape, file);
    return file.GetWrittenBytes();
}

void FreeList(std::list<CBaseShape*>& shapes) {
    for (CBaseShape* s : shapes) {
        s->FreeShapePtr();
        delete s;
    }
    shapes.clear();
}

struct LongTextTimes {
    double saveMs = 0, loadMs = 0, bytesPerChar = 0;
};
std::map<long, LongTextTimes> g_longText;

void BM_LongTextSave(benchmark::State& state) {
    const auto n = static_cast<size_t>(state.range(0));
    std::unique_ptr<CFonts> shape = LaidOut(n);
    size_t bytes = 0;
    for (auto _ : state) {
        SriFile file;
        SaveText(*shape, file);
        bytes = file.GetWrittenBytes().size();
        benchmark::DoNotOptimize(bytes);
    }
    g_longText[state.range(0)].bytesPerChar = static_cast<double>(bytes) / static_cast<double>(n);
    state.counters["bytes/char"] = g_longText[state.range(0)].bytesPerChar;
}

void BM_LongTextLoad(benchmark::State& state) {
    const auto n = static_cast<size_t>(state.range(0));
    const std::vector<uint8_t> bytes = SavedBytes(*LaidOut(n));
    size_t chars = 0;
    for (auto _ : state) {
        std::list<CBaseShape*> shapes;
        CVonnSriShapeList reader(&shapes);
        reader.LoadFileFromMem(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), true);
        state.PauseTiming();
        chars = shapes.size() == 1 ? static_cast<CFonts*>(shapes.front())->GetChars().size() : 0;
        FreeList(shapes);
        state.ResumeTiming();
    }
    state.counters["chars"] = static_cast<double>(chars);
}

// Files written before held a fill record for every character; they load
// in time linear in their (much larger) size.
void BM_LongTextLoadEveryFillForm(benchmark::State& state) {
    const auto n = static_cast<size_t>(state.range(0));
    std::unique_ptr<CFonts> shape = LaidOut(n);
    std::list<CBaseShape*> records;
    for (CFilledShape* fill : shape->GetFills()) fill->SaveShapeChild(shape.get(), records);
    shape->CBaseShape::SaveShapeChild(nullptr, records);
    SriFile file;
    CVonnSriShapeList writer(&records);
    writer.Save(true, &file);
    const std::vector<uint8_t>& bytes = file.GetWrittenBytes();
    for (auto _ : state) {
        std::list<CBaseShape*> shapes;
        CVonnSriShapeList reader(&shapes);
        reader.LoadFileFromMem(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), true);
        state.PauseTiming();
        FreeList(shapes);
        state.ResumeTiming();
    }
    state.counters["bytes/char"] = static_cast<double>(bytes.size()) / static_cast<double>(n);
    state.counters["us/char"] = benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Resident memory of the process in bytes.
double ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

void BM_MegabyteText(benchmark::State& state) {
    for (auto _ : state) {
        const double before = ResidentBytes();
        std::unique_ptr<CFonts> shape = LaidOut(1000000);
        const double laidOut = ResidentBytes();
        size_t points = 0;
        for (FONTSCHAR* ch : shape->GetChars())
            if (ch != nullptr) points += ch->points.size();
        tagMarkDataPar mark;
        shape->GetMarkData(mark, nullptr);
        const double marked = ResidentBytes();
        SriFile file;
        SaveText(*shape, file);
        const size_t bytes = file.GetWrittenBytes().size();
        const double saved = ResidentBytes();
        const double p = static_cast<double>(std::max<size_t>(points, 1));
        state.counters["points"] = static_cast<double>(points);
        state.counters["layout B/pt"] = (laidOut - before) / p;
        state.counters["mark B/pt"] = (marked - laidOut) / p;
        state.counters["save B/pt"] = (saved - marked) / p;
        state.counters["file B/pt"] = static_cast<double>(bytes) / p;
    }
}

BENCHMARK(BM_LongTextSave)->Arg(4000)->Arg(16000)->Arg(32000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongTextLoad)->Arg(4000)->Arg(16000)->Arg(32000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongTextLoadEveryFillForm)->Arg(4000)->Arg(16000)->Arg(32000)->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MegabyteText)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_TextShape)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShxText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cairo)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration for the closing comparison.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    double ours = 0, cairo = 0, shx = 0;
    void ReportRuns(const std::vector<Run>& runs) override {
        // A single run, or the median of repetitions.
        for (const Run& r : runs) {
            const bool single = r.run_type == Run::RT_Iteration && r.iterations > 0 && r.repetitions <= 1;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (!single && !median) continue;
            if (r.run_name.function_name == "BM_TextShape") ours = r.GetAdjustedRealTime();
            if (r.run_name.function_name == "BM_Cairo") cairo = r.GetAdjustedRealTime();
            if (r.run_name.function_name == "BM_ShxText") shx = r.GetAdjustedRealTime();
            // Long texts: milliseconds per save and per load by length.
            if (r.run_name.function_name == "BM_LongTextSave")
                g_longText[std::stol(r.run_name.args)].saveMs = r.GetAdjustedRealTime();
            if (r.run_name.function_name == "BM_LongTextLoad")
                g_longText[std::stol(r.run_name.args)].loadMs = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (reporter.ours > 0 && reporter.cairo > 0 && g_cairoPoints > 0) {
        std::printf("%d characters: time ours/cairo %.3f, points ours/cairo %.3f (%.0f vs %.0f)\n", kLines * kPerLine,
                    reporter.ours / reporter.cairo, g_ourPoints / g_cairoPoints, g_ourPoints, g_cairoPoints);
    }
    if (reporter.shx > 0) {
        // Times are in milliseconds.
        std::printf("SHX, %d characters: %.0f points in %.2f ms, %.3g points per second\n", kLines * kPerLine,
                    g_shxPoints, reporter.shx, g_shxPoints / reporter.shx * 1000.0);
    }
    for (const auto& [chars, t] : g_longText) {
        std::printf("long text, %ld characters: save %.3f s, load %.3f s, %.0f bytes per character\n", chars,
                    t.saveMs / 1000.0, t.loadMs / 1000.0, t.bytesPerChar);
    }
    benchmark::Shutdown();
    return 0;
}

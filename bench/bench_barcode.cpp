// 1,000 QR codes (version 10, error-correction level M) of distinct serial
// texts, built into outlines by the text shape (SetFonts on one barcode
// text), against zint's own ZBarcode_Encode_and_Buffer_Vector of the same
// data. After the runs the program prints the ratio of times (ours / zint;
// the target is at most 1: one encoding per code).
#include <benchmark/benchmark.h>
#include <zint.h>

#include <cstdio>
#include <string>
#include <vector>

#include "morvik/core/morvik.h"
#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"

namespace {

constexpr int kCodes = 1000;
constexpr int kQrCode = 58;
constexpr int kVersion = 10;
constexpr int kLevelM = 1;  // 0..3 = L, M, Q, H

const std::vector<std::string>& Texts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> out;
        for (int i = 0; i < kCodes; ++i) {
            char buf[128];
            std::snprintf(buf, sizeof buf, "MORVIK-LOT-2026-12-09/SERIAL-%06d/PART-4711-0815/LINE-3/STATION-7", i);
            out.emplace_back(buf);
        }
        return out;
    }();
    return texts;
}

double g_points = 0;

void BM_TextShape(benchmark::State& state) {
    std::vector<CString> texts;
    for (const std::string& t : Texts()) texts.emplace_back(std::wstring(t.begin(), t.end()).c_str());
    CFonts shape;
    FONTS_PAR fonts;
    CODEBAR_PAR codebar;
    VARTEXT_PAR var;
    codebar.nCodeType = kQrCode;
    codebar.n2DVersion = kVersion;
    codebar.n2DECLevel = kLevelM;
    codebar.bShowText = 0;
    codebar.fModuleWidth = 0.3f;
    const CString name = GetCodebarInstance()->GetTypeName(kQrCode);
    for (auto _ : state) {
        for (const CString& text : texts) {
            if (shape.SetFonts(text, 2, name, fonts, codebar, var, 1, 0, false) != 1) {
                state.SkipWithError("SetFonts failed");
                return;
            }
        }
    }
    g_points = shape.GetChars().empty() ? 0 : static_cast<double>(shape.GetChars()[0]->points.size());
    state.counters["points_last"] = g_points;
}

void BM_ZintVector(benchmark::State& state) {
    const std::vector<std::string>& texts = Texts();
    for (auto _ : state) {
        for (const std::string& text : texts) {
            zint_symbol* symbol = ZBarcode_Create();
            symbol->symbology = BARCODE_QRCODE;
            symbol->option_1 = kLevelM + 1;
            symbol->option_2 = kVersion;
            const int rc = ZBarcode_Encode_and_Buffer_Vector(
                symbol, reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()), 0);
            if (rc >= ZINT_ERROR) {
                ZBarcode_Delete(symbol);
                state.SkipWithError("zint failed");
                return;
            }
            benchmark::DoNotOptimize(symbol->vector);
            ZBarcode_Delete(symbol);
        }
    }
}

BENCHMARK(BM_TextShape)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZintVector)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration for the closing comparison.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    double ours = 0, zint = 0;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const bool single = r.run_type == Run::RT_Iteration && r.iterations > 0 && r.repetitions <= 1;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (!single && !median) continue;
            if (r.run_name.function_name == "BM_TextShape") ours = r.GetAdjustedRealTime();
            if (r.run_name.function_name == "BM_ZintVector") zint = r.GetAdjustedRealTime();
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
    if (reporter.ours > 0 && reporter.zint > 0)
        std::printf("%d QR codes (version %d, level M): time ours/zint %.3f\n", kCodes, kVersion,
                    reporter.ours / reporter.zint);
    benchmark::Shutdown();
    return 0;
}

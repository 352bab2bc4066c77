// Reading a generated 10 MB Gerber board: tracks with bends, arcs, pads of
// every standard aperture and of macros with variables (rounded rectangles,
// thermals, rotated bars), copper areas with arc corners and clear holes,
// filled zones with long outlines, and long bus tracks that join many of
// them into large areas. The rate is reported as MB/s of file text; the
// target is at least 5 MB/s.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "morvik/compose/group.h"
#include "morvik/import/gerber.h"

namespace {

constexpr size_t kTargetBytes = 10u << 20;
// Coordinates in micrometres (format 3.6 in millimetres). The board is laid
// out in cells of 6 mm; each cell holds one footprint or routing pattern, and
// every eighth row of cells is crossed by a long bus track that joins the
// patterns it passes into one large area.
constexpr long kCell = 6000000;
constexpr long kColumns = 120;

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}
    void Text(const char* text) { out_ += text; }
    void Code(char letter, long value) {
        out_ += letter;
        out_ += std::to_string(value);
    }
    void Block(long x, long y, int d) {
        Code('X', x);
        Code('Y', y);
        Code('D', d);
        out_ += "*\n";
    }
    void Arc(const char* g, long x, long y, long i, long j) {
        out_ += g;
        Code('X', x);
        Code('Y', y);
        Code('I', i);
        Code('J', j);
        out_ += "D01*\n";
    }
    void Select(int d) {
        if (d == current_) return;
        Code('D', d);
        out_ += "*\n";
        current_ = d;
    }

private:
    std::string& out_;
    int current_ = -1;
};

std::string GenerateBoard() {
    std::mt19937 rng(14);
    const auto uniform = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
    std::string g =
        "G04 generated board*\n%FSLAX36Y36*%\n%MOMM*%\n%LPD*%\n"
        "%AMROUNDRECT*0 corner radius $1, size $2 x $3*\n"
        "21,1,$2-$1x2,$3,0,0,0*21,1,$2,$3-$1x2,0,0,0*\n"
        "1,1,$1x2,$2/2-$1,$3/2-$1*1,1,$1x2,-($2/2-$1),$3/2-$1*\n"
        "1,1,$1x2,$2/2-$1,-($3/2-$1)*1,1,$1x2,-($2/2-$1),-($3/2-$1)*%\n"
        "%AMTHERMAL*7,0,0,$1,$2,$3,45*%\n"
        "%AMBAR*$4=$3*20,1,$1,-$2/2,0,$2/2,0,$4*%\n"
        "%ADD10C,0.2*%\n%ADD11C,0.4*%\n%ADD12R,1.2X0.6*%\n%ADD13O,1.4X0.6*%\n%ADD14C,1.0X0.5*%\n"
        "%ADD15ROUNDRECT,0.1X0.8X0.4*%\n%ADD16THERMAL,1.6X1.0X0.3*%\n%ADD17BAR,0.25X1.2X30*%\n"
        "%ADD18P,1.2X6X15*%\n%ADD19R,0.3X0.3*%\n";
    g.reserve(kTargetBytes + 4096);
    Writer w(g);
    for (long cell = 0; g.size() < kTargetBytes; ++cell) {
        const long x0 = (cell % kColumns) * kCell + 500000;
        const long y0 = (cell / kColumns) * kCell + 500000;
        switch (uniform(0, 6)) {
            case 0: {  // a chip: two rows of pads with a short track from each
                w.Select(static_cast<int>(uniform(0, 1) ? 12 : 15));
                for (long k = 0; k < 8; ++k) {
                    w.Block(x0 + k * 600000, y0 + 1000000, 3);
                    w.Block(x0 + k * 600000, y0 + 4000000, 3);
                }
                w.Select(10);
                for (long k = 0; k < 8; ++k) {
                    w.Block(x0 + k * 600000, y0 + 1000000, 2);
                    w.Block(x0 + k * 600000, y0 + 200000, 1);
                }
                break;
            }
            case 1: {  // a bundle of parallel tracks with 45 degree bends
                w.Select(10);
                w.Text("G01*\n");
                for (long k = 0; k < 6; ++k) {
                    const long y = y0 + k * 700000;
                    w.Block(x0, y, 2);
                    w.Block(x0 + 1500000 + k * 100000, y, 1);
                    w.Block(x0 + 2500000 + k * 100000, y + 400000, 1);
                    w.Block(x0 + 4800000, y + 400000, 1);
                }
                break;
            }
            case 2: {  // rounded tracks: arcs between straight runs
                w.Select(11);
                for (long k = 0; k < 4; ++k) {
                    const long y = y0 + k * 1200000;
                    const long r = 300000 + k * 50000;
                    w.Block(x0, y, 2);
                    w.Block(x0 + 2000000, y, 1);
                    w.Arc("G75*\nG03", x0 + 2000000 + r, y + r, 0, r);
                    w.Text("G01*\n");
                    w.Block(x0 + 2000000 + r, y + 800000, 1);
                }
                break;
            }
            case 3: {  // a copper area with an arc corner and clear holes in it
                const long wd = uniform(3000000, 5000000);
                const long ht = uniform(3000000, 5000000);
                const long r = 800000;
                w.Text("G36*\n");
                w.Block(x0, y0, 2);
                w.Text("G01");
                w.Block(x0 + wd, y0, 1);
                w.Block(x0 + wd, y0 + ht - r, 1);
                w.Arc("G75*\nG03", x0 + wd - r, y0 + ht, -r, 0);
                w.Text("G01");
                w.Block(x0, y0 + ht, 1);
                w.Block(x0, y0, 1);
                w.Text("G37*\n%LPC*%\n");
                w.Select(11);
                w.Block(x0 + 1000000, y0 + 1000000, 3);
                w.Block(x0 + 2000000, y0 + 1000000, 3);
                w.Text("%LPD*%\n");
                w.Select(16);
                w.Block(x0 + 1500000, y0 + 2200000, 3);
                break;
            }
            case 4: {  // through-hole pads of every kind
                static const int kPads[] = {13, 14, 16, 17, 18};
                for (long k = 0; k < 10; ++k) {
                    w.Select(kPads[uniform(0, 4)]);
                    w.Block(x0 + (k % 5) * 1100000, y0 + (k / 5) * 2500000 + 800000, 3);
                }
                break;
            }
            case 5: {  // a filled zone: a long outline of short steps, as zone fills come
                w.Text("G36*\n");
                w.Block(x0, y0, 2);
                w.Text("G01*\n");
                const long side = 5000000;
                const long step = side / 20;
                for (int edge = 0; edge < 4; ++edge) {
                    for (long k = 1; k <= 20; ++k) {
                        const long along = k * step;
                        const long notch = (k % 2) ? 100000 : 0;
                        long x = x0;
                        long y = y0;
                        switch (edge) {
                            case 0: x += along; y += notch; break;
                            case 1: x += side - notch; y += along; break;
                            case 2: x += side - along; y += side - notch; break;
                            default: x += notch; y += side - along; break;
                        }
                        w.Block(x, y, 1);
                    }
                }
                w.Text("G37*\n");
                break;
            }
            default: {  // vias joined by short square-ended tracks
                for (long k = 0; k < 6; ++k) {
                    const long x = x0 + (k % 3) * 1700000;
                    const long y = y0 + (k / 3) * 2500000 + 500000;
                    w.Select(14);
                    w.Block(x, y, 3);
                    w.Select(19);
                    w.Block(x, y, 2);
                    w.Block(x + 900000, y + 900000, 1);
                }
                break;
            }
        }
        if (cell % kColumns == kColumns - 1 && (cell / kColumns) % 8 == 0) {
            // The bus along this row: it touches the top pads of every chip.
            w.Select(11);
            w.Block(0, y0 + 4000000, 2);
            w.Block(kColumns * kCell, y0 + 4000000, 1);
        }
    }
    g += "M02*\n";
    return g;
}

void BM_ReadGerberBoard(benchmark::State& state) {
    const std::string text = GenerateBoard();
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("bench_gerber_" + std::to_string(getpid()) + ".gbr");
    std::ofstream(path, std::ios::binary) << text;
    // The reader's console lines would drown the report.
    std::fflush(stdout);
    const int savedOut = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) dup2(devNull, STDOUT_FILENO);
    size_t shapes = 0;
    for (auto _ : state) {
        CGroupShape group;
        int lines = 0;
        CParseGerber parser;
        if (!parser.ParseFile(path.string().c_str(), &group, lines)) {
            state.SkipWithError("the board was not read");
            break;
        }
        shapes = group.GetChildren().size();
        state.PauseTiming();
        group.FreeShapePtr();
        state.ResumeTiming();
    }
    std::fflush(stdout);
    if (savedOut >= 0) dup2(savedOut, STDOUT_FILENO);
    for (int fd : {savedOut, devNull}) {
        if (fd >= 0) close(fd);
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(text.size()) / 1e6 * state.iterations(),
                                                benchmark::Counter::kIsRate);
    state.counters["shapes"] = static_cast<double>(shapes);
}
BENCHMARK(BM_ReadGerberBoard)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

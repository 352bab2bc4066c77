// Fuzzes the SHX font reader and the single-line layout: whatever the font
// file holds, it loads or is refused, every shape reads or is refused with
// finite records, and a text laid out in it (or, when it is refused, in
// TrueType) has finite points.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "morvik/core/runlog.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/text/shx_gen.h"
#include "morvik/text/fonts.h"
#include "morvik/text/shxreader.h"

namespace {

using fuzzsupport::Check;
using fuzzsupport::MemFile;

bool Finite(double v) { return std::isfinite(v); }

// A font folder of the run's own: a good default font, and the text's font
// a link to the input.
struct Setup {
    std::filesystem::path dir;
    explicit Setup(const MemFile& input) {
        dir = std::filesystem::temp_directory_path() / ("fuzz-shx-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir / "font");
        shxgen::StrokeFont(shxgen::kShapes).Write((dir / "font" / "Simtxt.shx").string());
        std::filesystem::remove(dir / "font" / "F.shx");
        std::filesystem::create_symlink(std::filesystem::path(input.Path()), dir / "font" / "F.shx");
        CShxShapeReader::SetFontFolder((dir / "font").wstring());
        RunLog::Instance(nullptr)->SetLogFolder(CString((dir.string() + "/").c_str()));
        SetHost(std::make_shared<RecordingHost>());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemFile input("shx-in");
    static Setup setup(input);
    input.Put(data, size);

    CShxShapeReader reader;
    std::vector<dxfObject*> out;
    if (reader.in(input.Path().c_str()) == 0) {
        const int n = std::min(reader.GetShapeCount(), 300);
        for (int k = 0; k < n; ++k) {
            if (reader.readCharShape(out, 'A', k) != 0) Check(out.empty());
            for (const dxfObject* o : out) {
                if (o->nKind == 1) {
                    const auto* l = static_cast<const dxfLine*>(o);
                    Check(Finite(l->x1) && Finite(l->y1) && Finite(l->x2) && Finite(l->y2));
                } else {
                    const auto* a = static_cast<const dxfArc*>(o);
                    Check(a->nKind == 2 && Finite(a->cx) && Finite(a->cy) && a->radius > 0 && Finite(a->radius));
                }
            }
        }
        CShxShapeReader::FreeObjects(out);
    }

    CFonts text;
    text.nFontType = 1;
    text.parFonts.dHeight = 5.0;
    text.parFonts.dWidthRatio = 100.0;
    text.parFonts.nAlign = size > 0 ? data[0] % 3 : 0;
    text.InitFontsPath({0, 0}, CString(L"aZ1 o-\u6211\uFF1A\nq"), CString(L"F"), false);
    for (const FONTSCHAR* ch : text.GetChars()) {
        Check(ch->points.size() == ch->types.size());
        for (const tagPOINTF& p : ch->points) Check(Finite(p.x) && Finite(p.y));
    }
    return 0;
}

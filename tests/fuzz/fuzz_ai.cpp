// Fuzzes the Illustrator reader (both readings) and checks the segment list:
// every segment is a cubic with finite points, and a segment that does not
// open a path starts where the one before it ended.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "morvik/core/geometry.h"
#include "morvik/import/ai.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzzsupport::Check;

using geom::Finite;

void CheckSegments(const std::vector<tagAIPT>& segs) {
    for (std::size_t i = 0; i < segs.size(); ++i) {
        const tagAIPT& s = segs[i];
        Check(s.cType == 'c' && (s.bStart == 0 || s.bStart == 1));
        Check(Finite(s.p0) && Finite(s.p1) && Finite(s.p2) && Finite(s.p3));
        if (i > 0 && !s.bStart) Check(s.p0 == segs[i - 1].p3);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzzsupport::MemFile input("ai-in");
    static std::string path = input.NarrowPath();
    input.Put(data, size);

    for (int reading = 0; reading < 2; ++reading) {
        CParserAIFile reader;
        if (reading == 0) reader.ParseAI(path.data());
        else reader.ParseAI2(path.data());
        std::vector<tagAIPT> segs;
        reader.GetAiPoint(segs);
        CheckSegments(segs);
    }
    return 0;
}

// Fuzzes the SVG reader through its file entry and checks that whatever it
// makes holds only finite points.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "morvik/compose/group.h"
#include "tests/fuzz/fuzz_support.h"

using fuzzsupport::Check;
using fuzzsupport::MemFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemFile input("svg-in");
    input.Put(data, size);
    CGroupShape* group = CGroupShape::ParserSvgFile(CString(input.Path()));
    if (!group) return 0;
    for (CBaseShape* shape : group->GetChildren()) {
        Check(shape != nullptr);
        std::vector<tagPOINTF> points;
        shape->GetFlattenPathPoints(points, 0.25f);
        for (const tagPOINTF& p : points) Check(std::isfinite(p.x) && std::isfinite(p.y));
    }
    group->FreeShapePtr();
    delete group;
    return 0;
}

// Fuzzes the PLT (HPGL) reader through the group's file entry and checks
// that the file reading agrees with the in-memory reading, that no line is
// empty and that every point is finite.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "morvik/compose/group.h"
#include "morvik/import/plt.h"
#include "tests/fuzz/fuzz_support.h"

using fuzzsupport::Check;
using fuzzsupport::MemFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemFile input("plt-in");
    input.Put(data, size);

    const auto lines = CParsePlt::ParsePltText(reinterpret_cast<const char*>(data), size);
    for (const tagPLTLINE& line : lines) {
        Check(!line.arrPoint.empty());
        for (const tagPOINTF& p : line.arrPoint) Check(std::isfinite(p.x) && std::isfinite(p.y));
    }

    CGroupShape* group = CGroupShape::ParserPltFile(CString(input.Path()));
    Check((group != nullptr) == !lines.empty());
    if (group) {
        Check(group->bImpFromPlt && group->vLines.size() == lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Check(group->vLines[i].nPen == lines[i].nPen);
            Check(group->vLines[i].arrPoint == lines[i].arrPoint);
        }
        group->FreeShapePtr();
        delete group;
    }
    CParsePlt::DestroyInstance();
    return 0;
}

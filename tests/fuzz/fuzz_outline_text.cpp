// Fuzzes the outline text reader through its file entry: every polyline it
// returns has points, and every point is finite.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "morvik/compose/group.h"
#include "morvik/core/polyline.h"
#include "morvik/core/text_utils.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzzsupport::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("outline-in", 0);
    if (fd < 0) std::abort();
    if (ftruncate(fd, 0) != 0) std::abort();
    if (size && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    CIniFile file(CString((L"/proc/self/fd/" + std::to_wstring(fd)).c_str()));
    CGroupShape* group = CGroupShape::ParserTextFile(file, CString());
    if (!group) return 0;
    Check(!group->GetChildren().empty());
    for (CBaseShape* shape : group->GetChildren()) {
        auto* line = dynamic_cast<CPolyLine*>(shape);
        Check(line && !line->arrPoint.empty());
        for (const tagPOINTF& p : line->arrPoint) Check(std::isfinite(p.x) && std::isfinite(p.y));
    }
    group->FreeShapePtr();
    delete group;
    return 0;
}

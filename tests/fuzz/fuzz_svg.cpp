// Fuzzes the SVG reader through its file entry and checks that whatever it
// makes holds only finite points.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "compose/group.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

class MemFile {
public:
    MemFile() : fd_(memfd_create("svg-in", 0)) {
        if (fd_ < 0) std::abort();
        path_ = L"/proc/self/fd/" + std::to_wstring(fd_);
    }
    const std::wstring& Path() const { return path_; }
    void Put(const std::uint8_t* data, std::size_t size) {
        if (ftruncate(fd_, 0) != 0) std::abort();
        if (size && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    }

private:
    int fd_;
    std::wstring path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemFile input;
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

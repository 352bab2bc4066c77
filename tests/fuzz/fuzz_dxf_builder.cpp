// Fuzzes the DXF entity builder: whatever the file holds, every record turns
// into shapes (or is dropped) without crashing, and the shapes it keeps have
// finite rectangles.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "morvik/import/dxf_builder.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzzsupport::MemFile input("dxf-build-in");
    static const auto host = [] {
        auto h = std::make_shared<RecordingHost>();
        SetHost(h);
        return h;
    }();
    host->ClearRecords();
    input.Put(data, size);

    CGroupShape group;
    {
        std::string path = input.NarrowPath();
        CDrawDxfEntity builder;
        // Blocks nested many times over may place far more records than the
        // input holds; a lower limit keeps each run small.
        builder.SetPlacementLimit(20000);
        // The first byte picks the unit so both conversions are exercised.
        builder.InitPara(path.data(), &group, size > 0 && (data[0] & 1), true);
    }
    std::vector<CBaseShape*> leaves;
    group.GetShapeListByTextName(leaves);
    for (CBaseShape* s : leaves) {
        Gdiplus::RectF r;
        s->GetRectangle(r);
        (void)r;
    }
    group.FreeShapePtr();
    return 0;
}

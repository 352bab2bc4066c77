// Fuzzes the Gerber reader with whole files, and checks that whatever it
// builds is finite and can be measured and freed.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/core/runlog.h"
#include "morvik/host/host_services.h"
#include "morvik/import/gerber.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetHost(std::make_shared<fuzzsupport::SilentHost>());
    // The reader's run-log lines are of no interest here.
    RunLog::Instance(nullptr)->SetLogFolder(L"/dev/null/");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzzsupport::MemFile input("gerber-in");
    static const std::string path = input.NarrowPath();
    input.Put(data, size);

    auto* group = new CGroupShape;
    int lines = 0;
    CParseGerber parser;
    // Large panels are legal; under the sanitizer they would only slow the
    // search down.
    parser.m_nMaxRepeatedShapes = 500;
    // A file with nothing of Gerber in it fails, and builds nothing; a file
    // whose step and repeat was refused fails with what it drew.
    if (!parser.ParseFile(path.c_str(), group, lines) && !group->GetChildren().empty() && !parser.RepeatRefused())
        std::abort();
    for (CBaseShape* child : group->GetChildren()) {
        std::vector<tagPOINTF> pts;
        child->GetFlattenPathPoints(pts, 0.05f);
        for (const tagPOINTF& p : pts) fuzzsupport::Check(std::isfinite(p.x) && std::isfinite(p.y));
    }
    Gdiplus::RectF rect;
    group->GetRectangle(rect);
    group->FreeShapePtr();
    delete group;
    return 0;
}

// Feeds arbitrary bytes to the shape-list reader, in both forms, then writes
// what was read and reads it back: neither pass may crash, leak or read out
// of bounds, and the second pass must read the written list whole.
#include <cstdint>
#include <cstdlib>
#include <list>

#include "morvik/core/shapelist.h"
#include "morvik/core/srifile.h"

namespace {

void FreeList(std::list<CBaseShape*>& shapes) {
    for (CBaseShape* s : shapes) {
        s->FreeShapePtr();
        delete s;
    }
    shapes.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    for (bool extended : {false, true}) {
        std::list<CBaseShape*> shapes;
        CVonnSriShapeList reader(&shapes);
        reader.LoadFileFromMem(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), extended);

        std::list<CBaseShape*> records;
        for (CBaseShape* s : shapes) s->SaveShapeChild(nullptr, records);
        SriFile out;
        CVonnSriShapeList writer(&records);
        writer.Save(true, &out);
        const std::vector<uint8_t>& bytes = out.GetWrittenBytes();

        std::list<CBaseShape*> again;
        CVonnSriShapeList rereader(&again);
        if (!rereader.LoadFileFromMem(reinterpret_cast<const char*>(bytes.data()),
                                      static_cast<uint32_t>(bytes.size()), true)) {
            std::abort();
        }
        FreeList(again);
        FreeList(shapes);
    }
    return 0;
}

// A host of a window system: X11's headers and the library's in one source
// file, X11 first or (with OURS_FIRST) last, and a MAX_PATH of the host's own.
// Reads the drawing given and prints how many polylines it marks.
#define MAX_PATH 4096

#ifdef OURS_FIRST
#include <morvik/core/markdata.h>
#include <morvik/core/vectorfile.h>
#include <morvik/gdi/dc.h>
#include <morvik/gdiplus/graphics.h>
#include <morvik/halder/baseshape.h>
#include <morvik/halder/records.h>
#include <morvik/win32/windows.h>
#endif

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#ifndef OURS_FIRST
#include <morvik/core/markdata.h>
#include <morvik/core/vectorfile.h>
#include <morvik/gdi/dc.h>
#include <morvik/gdiplus/graphics.h>
#include <morvik/halder/baseshape.h>
#include <morvik/halder/records.h>
#include <morvik/win32/windows.h>
#endif

#include <cstdio>

static_assert(MAX_PATH == 4096, "the host's MAX_PATH is its own again after the library's headers");

int main(int argc, char** argv) {
    // X11's macros stand as X11 defines them.
    Status status = Success;
    Bool on = True;
    XID window = None;
    if (argc != 2 || status != 0 || on != 1 || window != 0) return 2;
    CBaseShape* drawing = nullptr;
    const bool read = LoadVectorFileCore(Utf8ToWide(argv[1]).c_str(), &drawing, false);
    tagMarkDataPar data;
    tagMarkCtlData control;
    const bool marked = read && drawing->GetMarkData(data, &control);
    size_t lines = 0;
    for (const tagPathData& path : data.arrPaths) lines += path.arrPolylines.size();
    std::printf("%zu polylines\n", lines);
    if (drawing != nullptr) {
        drawing->FreeShapePtr();
        delete drawing;
    }
    return marked && lines > 0 ? 0 : 1;
}

// A host that defines functions of the same names as the library's own
// helpers. The library must keep calling its own: the host's are never
// called while the library reads a DXF drawing with non-ASCII texts and lays
// out a non-ASCII text in a TrueType font.
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>

#include <morvik/core/markdata.h>
#include <morvik/core/vectorfile.h>
#include <morvik/halder/baseshape.h>
#include <morvik/halder/records.h>
#include <morvik/text/fonts.h>
#include <morvik/win32/windows.h>

static int g_calls = 0;

// Wrong on purpose (Latin-1 widening), so that a call would also show.
std::wstring Utf8ToWide(const std::string& s) {
    ++g_calls;
    return std::wstring(s.begin(), s.end());
}
std::string WideToUtf8(const std::wstring& s) {
    ++g_calls;
    return std::string(s.begin(), s.end());
}
std::string WidePathToUtf8(const wchar_t* path) {
    ++g_calls;
    return path == nullptr ? std::string() : std::string(path, path + std::wcslen(path));
}
void Sleep(DWORD) { ++g_calls; }
BOOL ReadFile(HANDLE, void*, DWORD, DWORD*, void*) {
    ++g_calls;
    return FALSE;
}

static size_t Polylines(CBaseShape& shape) {
    tagMarkDataPar data;
    tagMarkCtlData control;
    if (!shape.GetMarkData(data, &control)) return 0;
    size_t n = 0;
    for (const auto* paths : {&data.arrPaths, &data.arrPaths2})
        for (const tagPathData& path : *paths) n += path.arrPolylines.size();
    return n;
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string dxf = std::string(argv[1]) + "/texts.dxf";
    std::ofstream(dxf) << "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1021\n0\nENDSEC\n"
                          "0\nSECTION\n2\nENTITIES\n"
                          "0\nLINE\n8\nK\xC3\xB6rper\n10\n0\n20\n0\n11\n10\n21\n5\n"
                          "0\nTEXT\n8\nK\xC3\xB6rper\n10\n1\n20\n1\n40\n3\n1\nGr\xC3\xBC\xC3\x9F" "e \xE4\xB8\xAD\n"
                          "0\nENDSEC\n0\nEOF\n";
    std::wstring path(dxf.begin(), dxf.end());  // the folder is ASCII
    g_calls = 0;

    CBaseShape* drawing = nullptr;
    const bool read = LoadVectorFileCore(path.c_str(), &drawing, false);
    const size_t drawn = read ? Polylines(*drawing) : 0;
    if (drawing != nullptr) {
        drawing->FreeShapePtr();
        delete drawing;
    }
    CFonts text;
    text.parFonts.dHeight = 5.0;
    text.InitFontsPath({0.0f, 0.0f}, CString(L"Gr\u00FC\u00DFe \u00E9t\u00E9"), CString(L"DejaVu Sans"), false);
    const size_t laid = Polylines(text);

    std::printf("drawing %zu polylines, text %zu polylines, host functions called %d times\n", drawn, laid, g_calls);
    return drawn > 0 && laid > 0 && g_calls == 0 ? 0 : 1;
}

// The history of marked texts and the text-file source of variable texts,
// read from arbitrary files: every line that is read back as a marked text
// is recognised, and recording it again writes one line.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "halder/textelement.h"
#include "text/markrecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzzsupport::MemFile file("history");
    file.Put(data, size);
    const CString path(file.Path().c_str());

    CMarkRecord history;
    history.Open(path, size % 2 == 0, true, false, CTime());
    const size_t loaded = history.GetFileTextCount();
    fuzzsupport::Check(loaded <= size + 1);
    history.AddRecord(CString(L"A\r\nB|C"), true);
    fuzzsupport::Check(history.Contains(CString(L"A\r\nB|C"), false));

    TEXTTXT_PAR lines;
    lines.strFile = path;
    for (int i = 0; i < 4 && lines.GotoNext() != 0; ++i) fuzzsupport::Check(lines.GetText().Find(L'\n') < 0);
    return 0;
}

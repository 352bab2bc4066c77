// The history of marked texts and the text-file source of variable texts,
// read from arbitrary files: every line that is read back as a marked text
// is recognised, recording it again writes one line, any text recorded
// reads back as itself, and the file's lines never hold a line break.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "morvik/halder/textelement.h"
#include "morvik/text/markrecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzzsupport::MemFile file("history");
    static fuzzsupport::MemFile written("written");
    file.Put(data, size);
    const CString path(file.Path().c_str());

    CMarkRecord history;
    history.Open(path, size % 2 == 0, true, false, CTime());
    const size_t loaded = history.GetFileTextCount();
    fuzzsupport::Check(loaded <= size + 1);
    history.AddRecord(CString(L"A\r\nB|C"), true);
    fuzzsupport::Check(history.Contains(CString(L"A\r\nB|C"), false));

    // The input as a marked text (backslashes, CR, LF in any mix): written
    // to an empty file and read back, it is the one text there.
    std::wstring text;
    for (size_t i = 0; i < size && i < 512; ++i)
        if (data[i] != 0) text.push_back(static_cast<wchar_t>(data[i] & 0x7f));
    written.Put(nullptr, 0);
    const CString writtenPath(written.Path().c_str());
    {
        CMarkRecord w;
        // Stamped: an unstamped text that itself starts like a stamp loses it.
        w.Open(writtenPath, true, false, false, CTime());
        w.AddRecord(CString(text.c_str()), true);
    }
    CMarkRecord r;
    r.Open(writtenPath, false, false, false, CTime());
    fuzzsupport::Check(r.GetFileTextCount() == 1);
    fuzzsupport::Check(r.Contains(CString(text.c_str()), true));

    TEXTTXT_PAR lines;
    lines.strFile = path;
    for (int i = 0; i < 4 && lines.GotoNext() != 0; ++i) {
        fuzzsupport::Check(lines.GetText().Find(L'\n') < 0);
        fuzzsupport::Check(lines.GetText().Find(L'\r') < 0);
    }
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    size_t total = 0;
    for (const std::string& line : TEXTTXT_PAR::SplitLines(bytes)) {
        fuzzsupport::Check(line.find_first_of("\r\n") == std::string::npos);
        total += line.size();
    }
    fuzzsupport::Check(total <= size);
    return 0;
}

// Shared by the tests that lay out texts: the text layout writes to the run
// log, which these tests send to a folder of their own for their duration.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "morvik/core/runlog.h"
#include "morvik/halder/baseshape.h"

class CFonts;

namespace text_test {

// Frees a shape the way the library does (its owned objects, then itself).
struct FreeText {
    void operator()(CBaseShape* s) const {
        s->FreeShapePtr();
        delete s;
    }
};
using TextPtr = std::unique_ptr<CFonts, FreeText>;

class TempRunLog {
public:
    explicit TempRunLog(const std::string& name)
        : m_dir(std::filesystem::temp_directory_path() / ("morvik-" + name + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(m_dir);
        m_saved = RunLog::Instance(nullptr)->GetLogFolder();
        RunLog::Instance(nullptr)->SetLogFolder(CString((m_dir.string() + "/").c_str()));
    }
    ~TempRunLog() {
        RunLog::Instance(nullptr)->SetLogFolder(m_saved);
        std::filesystem::remove_all(m_dir);
    }
    TempRunLog(const TempRunLog&) = delete;
    TempRunLog& operator=(const TempRunLog&) = delete;
    const std::filesystem::path& Dir() const { return m_dir; }

private:
    std::filesystem::path m_dir;
    CString m_saved;
};

}  // namespace text_test

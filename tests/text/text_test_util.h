// Shared by the tests that lay out texts: the text layout writes to the run
// log, which these tests send to a folder of their own for their duration.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "morvik/core/runlog.h"
#include "morvik/halder/baseshape.h"
#include "support/shape_support.h"

class CFonts;

namespace text_test {

using FreeText = testsupport::FreeShape;
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

// Everything the run log wrote under the folder, its files in the order met.
inline std::string ReadLogs(const std::filesystem::path& dir) {
    std::string all;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
}

}  // namespace text_test

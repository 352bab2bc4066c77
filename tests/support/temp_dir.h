// A folder of a test's own under the system's temporary folder, removed with
// everything in it when the test is done. Standard library and POSIX only, so
// that every test program can use it.
#ifndef TESTS_SUPPORT_TEMP_DIR_H
#define TESTS_SUPPORT_TEMP_DIR_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "morvik-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        dir_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a trailing separator.
    std::string Dir() const { return dir_.string(); }
    // A name inside the folder.
    std::filesystem::path Path(const std::string& name) const { return dir_ / name; }
    std::string File(const std::string& name) const { return Path(name).string(); }
    std::wstring WPath(const std::string& name) const { return Path(name).wstring(); }
    // Writes the bytes to a file of that name; its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

private:
    std::filesystem::path dir_;
};

// The whole content of a file; empty when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_TEMP_DIR_H

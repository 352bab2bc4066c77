// Helpers of the fuzz targets: a check that aborts, so that the fuzzer
// reports the input, an in-memory file that readers reach by its path, and a
// host that nobody sits at.
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESTS_FUZZ_FUZZ_SUPPORT_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "morvik/host/host_services.h"

namespace fuzzsupport {

inline void Check(bool ok) {
    if (!ok) std::abort();
}

// A file in memory, so that each input costs no disk.
class MemFile {
public:
    explicit MemFile(const char* name) : fd_(memfd_create(name, 0)) {
        if (fd_ < 0) std::abort();
        path_ = L"/proc/self/fd/" + std::to_wstring(fd_);
    }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    const std::wstring& Path() const { return path_; }
    // The same path as narrow text (it is plain ASCII).
    std::string NarrowPath() const { return std::string(path_.begin(), path_.end()); }
    void Put(const std::uint8_t* data, std::size_t size) {
        if (ftruncate(fd_, 0) != 0) std::abort();
        if (size && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    }
    std::string Get() const {
        std::string text(static_cast<std::size_t>(lseek(fd_, 0, SEEK_END)), '\0');
        if (!text.empty() && pread(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
            std::abort();
        return text;
    }

private:
    int fd_;
    std::wstring path_;
};

// A file that a writer replaces: saves go through a temporary file in the
// target's folder, which an in-memory file has not got. A folder of its own
// under the system's temporary folder, removed at exit.
class SavedFile {
public:
    explicit SavedFile(const char* name) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        dir_ = pattern;
        file_ = dir_ + "/" + name;
        path_.assign(file_.begin(), file_.end());
    }
    ~SavedFile() {
        unlink(file_.c_str());
        rmdir(dir_.c_str());
    }
    SavedFile(const SavedFile&) = delete;
    SavedFile& operator=(const SavedFile&) = delete;
    const std::wstring& Path() const { return path_; }
    std::string Get() const {
        std::string text;
        if (FILE* f = std::fopen(file_.c_str(), "rb")) {
            char buf[65536];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
            std::fclose(f);
        }
        return text;
    }

private:
    std::string dir_, file_;
    std::wstring path_;
};

// Questions are declined, dialogs cancelled, nothing is shown.
class SilentHost : public IHostServices {
public:
    int MessageBox(HWND, const std::wstring&, const std::wstring&, UINT) override { return IDCANCEL; }
    BOOL PostMessage(HWND, UINT, WPARAM, LPARAM) override { return TRUE; }
    LRESULT SendMessage(HWND, UINT, WPARAM, LPARAM) override { return 0; }
    HWND FindWindow(const std::wstring&, const std::wstring&) override { return nullptr; }
    HWND GetForegroundWindow() override { return nullptr; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool FileDialog(bool, const std::wstring&, std::wstring&) override { return false; }
};

}  // namespace fuzzsupport

#endif  // TESTS_FUZZ_FUZZ_SUPPORT_H

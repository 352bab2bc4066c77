// Helpers of the fuzz targets: a check that aborts, so that the fuzzer
// reports the input, and an in-memory file that readers reach by its path.
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESTS_FUZZ_FUZZ_SUPPORT_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

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

}  // namespace fuzzsupport

#endif  // TESTS_FUZZ_FUZZ_SUPPORT_H

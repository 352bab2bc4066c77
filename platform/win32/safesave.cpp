#include "morvik/win32/safesave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "morvik/win32/windows.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;
// The temporary name keeps this much of the target's name, so that a long
// name still leaves room for the suffix within NAME_MAX.
constexpr size_t kNameKept = 96;

// The file a path stands for once its links are followed; the path itself
// when it is no link, or a link that leads nowhere (the save then replaces
// the link).
std::string FollowLinks(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int OpenTemporary(const std::string& target, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = FolderOf(target);
    std::string name = NameOf(target).substr(0, kNameKept);
    const auto seed = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 64; ++attempt) {
        const unsigned n = counter.fetch_add(1);
        temp = folder + "/." + name + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(n) + "-" +
               std::to_string((seed >> (attempt % 32)) & 0xFFFFu);
        int fd;
        do {
            fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool WriteAll(int fd, const char* p, size_t size, int& err) {
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            err = n == 0 ? ENOSPC : errno;
            return false;
        }
    }
    return true;
}

}  // namespace

SafeSave::SafeSave(const std::string& target) {
    if (target.empty()) {
        Fail(ENOENT);
        return;
    }
    m_target = FollowLinks(target);
    struct stat st {};
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        Fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return;
    }
    // The rename would replace a file that may not be written, as writing
    // it in place would not.
    if (exists && ::access(m_target.c_str(), W_OK) != 0) {
        Fail(errno);
        return;
    }
    m_fd = OpenTemporary(m_target, m_temp);
    if (m_fd < 0) {
        const int err = errno;
        m_temp.clear();
        Fail(err);
        return;
    }
    // The new file keeps the old one's permissions (and owner, where
    // allowed); a new file gets what the umask leaves, as a plain create.
    if (exists) {
        (void)::fchmod(m_fd, st.st_mode & 07777);
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::fchown(m_fd, st.st_uid, st.st_gid);
    }
    m_buffer.reserve(kBufferSize);
}

SafeSave::~SafeSave() { Abandon(); }

void SafeSave::Fail(int err) {
    if (m_error != 0) return;
    m_error = err != 0 ? err : EIO;
    // The temporary file is made in the target's folder: a missing entry
    // there is a missing folder.
    SetLastError(m_error == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(m_error));
}

void SafeSave::Abandon() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
    m_buffer.clear();
}

bool SafeSave::Drain() {
    if (m_error != 0 || m_fd < 0) return false;
    int err = 0;
    if (!m_buffer.empty() && !WriteAll(m_fd, m_buffer.data(), m_buffer.size(), err)) {
        Fail(err);
        return false;
    }
    m_buffer.clear();
    return true;
}

bool SafeSave::Write(const void* data, size_t size) {
    if (m_error != 0 || m_fd < 0) return false;
    if (size == 0) return true;
    if (data == nullptr) {
        Fail(EINVAL);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    if (m_buffer.size() + size <= kBufferSize) {
        m_buffer.insert(m_buffer.end(), p, p + size);
        return true;
    }
    if (!Drain()) return false;
    if (size >= kBufferSize) {
        int err = 0;
        if (!WriteAll(m_fd, p, size, err)) {
            Fail(err);
            return false;
        }
        return true;
    }
    m_buffer.insert(m_buffer.end(), p, p + size);
    return true;
}

bool SafeSave::Commit() {
    if (m_fd < 0) Fail(EBADF);
    bool ok = Drain();
    if (ok && ::fsync(m_fd) != 0) {
        Fail(errno);
        ok = false;
    }
    if (ok) {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0 && errno != EINTR) {
            Fail(errno);
            ok = false;
        }
    }
    if (ok && ::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        Fail(errno);
        ok = false;
    }
    if (!ok) {
        Abandon();
        return false;
    }
    m_temp.clear();
    // The rename is durable once the folder is synced. A file system that
    // cannot sync a folder still holds the new file: the save stands.
    const int dir = ::open(FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool SafeSave::WriteWhole(const std::string& target, const void* data, size_t size) {
    SafeSave save(target);
    if (!save.IsOpen()) return false;
    save.Write(data, size);
    return save.Commit();
}

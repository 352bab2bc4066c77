// Files behind HANDLEs, and the path of the host executable.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "morvik/win32/kernel_object.h"

namespace {

struct FileObject : KernelObject {
    FileObject(int f, DWORD a) : KernelObject(Kind::File), fd(f), access(a) {}
    ~FileObject() override {
        if (fd >= 0) ::close(fd);
    }
    BOOL OnClose() override {
        std::lock_guard<std::mutex> lock(mutex);
        const int f = fd;
        fd = -1;
        if (::close(f) != 0 && errno != EINTR) {
            SetLastError(Win32ErrorFromErrno(errno));
            return FALSE;
        }
        return TRUE;
    }

    int fd;
    const DWORD access;
    // Reads and writes move one file position; keep each call whole.
    std::mutex mutex;
};

bool ParentFolderExists(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return true;
    const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat st {};
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD OpenError(int err, const std::string& path) {
    // Win32 tells a missing file from a missing folder on the way to it.
    if (err == ENOENT && !ParentFolderExists(path)) return ERROR_PATH_NOT_FOUND;
    return Win32ErrorFromErrno(err);
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition) {
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool wantRead = (access & GENERIC_READ) != 0;
    const bool wantWrite = (access & GENERIC_WRITE) != 0;
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    flags |= wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!wantWrite) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Win32 reports whether CREATE_ALWAYS / OPEN_ALWAYS found the file.
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;

    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastError(OpenError(errno, path));
        return INVALID_HANDLE_VALUE;
    }
    // O_NONBLOCK only kept the open itself from hanging on a FIFO; folders,
    // pipes and sockets are not files to read or write here.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    std::shared_ptr<FileObject> obj;
    try {
        obj = std::make_shared<FileObject>(fd, access);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = win32::RegisterHandle(std::move(obj));
    if (h == nullptr) return INVALID_HANDLE_VALUE;
    const bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

std::shared_ptr<FileObject> LookupFile(HANDLE h) {
    return win32::LookupHandleAs<FileObject>(h, KernelObject::Kind::File);
}

struct ModuleOverride {
    std::mutex mutex;
    std::wstring path;
};

// Never destroyed: threads that outlive main may still ask for the path.
ModuleOverride& Override() {
    static ModuleOverride* o = new ModuleOverride;
    return *o;
}

bool ModulePath(std::wstring& path) {
    {
        ModuleOverride& o = Override();
        std::lock_guard<std::mutex> lock(o.mutex);
        if (!o.path.empty()) {
            path = o.path;
            return true;
        }
    }
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) {
        SetLastError(n < 0 ? Win32ErrorFromErrno(errno) : ERROR_FILE_NOT_FOUND);
        return false;
    }
    path = Utf8ToWide(std::string(buf, static_cast<size_t>(n)));
    return true;
}

}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, void*, DWORD disposition, DWORD, HANDLE) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return OpenFile(path, access, disposition);
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD, void*, DWORD disposition, DWORD, HANDLE) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return OpenFile(WidePathToUtf8(path), access, disposition);
}

namespace {

// fstat of an open handle, the last error set on failure.
bool StatOpenFile(HANDLE file, struct stat& st) {
    auto f = LookupFile(file);
    if (!f) return false;
    std::unique_lock<std::mutex> lock(f->mutex);
    const int statResult = ::fstat(f->fd, &st);
    lock.unlock();
    if (statResult != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace

DWORD GetFileSize(HANDLE file, DWORD* high) {
    struct stat st {};
    if (!StatOpenFile(file, st)) return INVALID_FILE_SIZE;
    const auto size = static_cast<uint64_t>(st.st_size < 0 ? 0 : st.st_size);
    if (high) *high = static_cast<DWORD>(size >> 32);
    // A size whose low word is 0xFFFFFFFF is told from a failure by the
    // cleared last error.
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

DWORD GetFileType(HANDLE file) {
    struct stat st {};
    if (!StatOpenFile(file, st)) return FILE_TYPE_UNKNOWN;
    if (S_ISREG(st.st_mode)) return FILE_TYPE_DISK;
    return S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? FILE_TYPE_CHAR : FILE_TYPE_UNKNOWN;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped) {
    if (read) *read = 0;
    auto f = LookupFile(file);
    if (!f) return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && toRead > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(f->access & GENERIC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(f->mutex);
    auto* p = static_cast<char*>(buffer);
    DWORD done = 0;
    BOOL ok = TRUE;
    while (done < toRead) {
        const ssize_t n = ::read(f->fd, p + done, toRead - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
        } else if (n == 0) {
            break;  // end of file: success with fewer bytes
        } else if (errno != EINTR) {
            SetLastError(errno == EIO ? ERROR_READ_FAULT : Win32ErrorFromErrno(errno));
            ok = FALSE;
            break;
        }
    }
    if (read) *read = done;
    return ok;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped) {
    if (written) *written = 0;
    auto f = LookupFile(file);
    if (!f) return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && toWrite > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(f->access & GENERIC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(f->mutex);
    const auto* p = static_cast<const char*>(buffer);
    DWORD done = 0;
    BOOL ok = TRUE;
    while (done < toWrite) {
        const ssize_t n = ::write(f->fd, p + done, toWrite - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // A full disk shows as written < requested and a failed call.
            SetLastError(n == 0 ? ERROR_DISK_FULL
                                : errno == EIO ? ERROR_WRITE_FAULT : Win32ErrorFromErrno(errno));
            ok = FALSE;
            break;
        }
    }
    if (written) *written = done;
    return ok;
}

DWORD GetModuleFileNameW(HMODULE, wchar_t* buffer, DWORD size) {
    if (buffer == nullptr && size > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring path;
    if (!ModulePath(path)) return 0;
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        std::wmemcpy(buffer, path.data(), path.size());
        buffer[path.size()] = L'\0';
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(path.size());
    }
    // Too small: the path is cut to fit with its terminator, and the full
    // buffer size comes back with ERROR_INSUFFICIENT_BUFFER.
    std::wmemcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

DWORD GetModuleFileNameA(HMODULE, char* buffer, DWORD size) {
    if (buffer == nullptr && size > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring wide;
    if (!ModulePath(wide)) return 0;
    const std::string path = WideToUtf8(wide);
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        std::memcpy(buffer, path.data(), path.size());
        buffer[path.size()] = '\0';
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(path.size());
    }
    // Cut without splitting a UTF-8 sequence.
    size_t keep = size - 1;
    while (keep > 0 && (static_cast<unsigned char>(path[keep]) & 0xC0) == 0x80) --keep;
    std::memcpy(buffer, path.data(), keep);
    buffer[keep] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

void SetModuleFileNameOverride(const std::wstring& exePath) {
    ModuleOverride& o = Override();
    std::lock_guard<std::mutex> lock(o.mutex);
    o.path = exePath;
}

// The handle table, CloseHandle and the thread's last error.
#include <cerrno>
#include <mutex>
#include <new>
#include <unordered_map>

#include "morvik/win32/kernel_object.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

// Handle values are never reused (the counter would take centuries to wrap),
// so a handle used after CloseHandle fails cleanly instead of reaching
// whatever object was created next at the same address.
struct HandleTable {
    std::mutex mutex;
    uintptr_t next = 0x1000;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
};

// Never destroyed: detached threads may still close or look up handles while
// the process runs its exit handlers.
HandleTable& Table() {
    static HandleTable* table = new HandleTable;
    return *table;
}

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD err) { t_lastError = err; }

DWORD Win32ErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EFBIG:
        return ERROR_FILE_TOO_LARGE;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_GEN_FAILURE;
    }
}

namespace win32 {

HANDLE RegisterHandle(std::shared_ptr<KernelObject> obj) {
    if (!obj) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HandleTable& t = Table();
    try {
        std::lock_guard<std::mutex> lock(t.mutex);
        const uintptr_t key = t.next;
        t.objects.emplace(key, std::move(obj));
        t.next += 4;
        return reinterpret_cast<HANDLE>(key);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) {
        HandleTable& t = Table();
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
        if (it != t.objects.end()) return it->second;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

}  // namespace win32

BOOL CloseHandle(HANDLE h) {
    std::shared_ptr<KernelObject> obj;
    if (h != nullptr && h != INVALID_HANDLE_VALUE) {
        HandleTable& t = Table();
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
        if (it != t.objects.end()) {
            obj = std::move(it->second);
            t.objects.erase(it);
        }
    }
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Other references (a running thread, a wait in progress) keep the object
    // until they finish; the handle itself is gone from here on.
    return obj->OnClose();
}

#include "morvik/core/morvik.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "morvik/afx/cstring.h"
#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/host/host_services.h"
#include "morvik/text/mycodebar.h"
#include "morvik/win32/safesave.h"

namespace {

AFX_EXTENSION_MODULE g_morvikModule{};
ULONG_PTR g_gdiplusToken = 0;

void ShowOpenError(const CString& text) { MessageBoxW(nullptr, text, L"Error", MB_OK); }

// Only a regular file is read: a device (or anything else that is no file)
// has no end to read to, and a read from it may never return. Refused at
// once, as an open that failed.
HANDLE OpenRegularForRead(HANDLE h) {
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) == FILE_TYPE_DISK) return h;
    CloseHandle(h);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

bool ReadWholeFile(HANDLE h, void** buffer, DWORD* size) {
    DWORD high = 0;
    DWORD low = GetFileSize(h, &high);
    // size + 1 must fit the 32-bit count: 4 GiB and more is out of reach.
    if (high != 0 || (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    constexpr size_t kLimit = 0xFFFFFFFFu;  // the most bytes a count can tell, and room for the 0 byte
    // The reported size is where reading starts, not where it stops: files
    // of /proc report 0, and a file may grow while it is read. Read to the
    // end.
    size_t capacity = std::min(kLimit, static_cast<size_t>(low) + 1);
    std::unique_ptr<char[]> data(new (std::nothrow) char[capacity]());
    if (data == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    size_t used = 0;
    const auto read = [h](char* into, size_t want, DWORD& done) {
        done = 0;
        if (::ReadFile(h, into, static_cast<DWORD>(want), &done, nullptr)) return true;
        SetLastError(ERROR_READ_FAULT);
        return false;
    };
    for (;;) {
        DWORD done = 0;
        if (used + 1 < capacity) {
            if (!read(data.get() + used, capacity - 1 - used, done)) return false;
            if (done == 0) break;  // the end of the file
            used += done;
            continue;
        }
        // Full: a little more is read aside first, so that a file that ends
        // at its reported size costs no larger buffer.
        char more[4096];
        if (!read(more, sizeof more, done)) return false;
        if (done == 0) break;
        if (capacity == kLimit || used + done + 1 > kLimit) {
            SetLastError(ERROR_FILE_TOO_LARGE);
            return false;
        }
        const size_t grown = std::min(kLimit, std::max(capacity * 2, used + done + 1));
        std::unique_ptr<char[]> bigger(new (std::nothrow) char[grown]);
        if (bigger == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        std::memcpy(bigger.get(), data.get(), used);
        std::memcpy(bigger.get() + used, more, done);
        used += done;
        data = std::move(bigger);
        capacity = grown;
    }
    data[used] = 0;
    *buffer = data.release();
    *size = static_cast<DWORD>(used);
    return true;
}

}  // namespace

__attribute__((constructor)) static void MorvikAttach() {
    if (!AfxInitExtensionModule(g_morvikModule, nullptr)) {
        return;
    }
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr);
    new CDynLinkLibrary(g_morvikModule);
}

__attribute__((destructor)) static void MorvikDetach() {
    Gdiplus::GdiplusShutdown(g_gdiplusToken);
    AfxTermExtensionModule(g_morvikModule);
}

extern "C" CDynLinkLibrary* InitMorvikDLL() { return new (std::nothrow) CDynLinkLibrary(g_morvikModule); }

extern "C" CMyCodebar* GetCodebarInstance() {
    static CMyCodebar instance;
    return &instance;
}

extern "C" bool ReadFileA(const char* path, void** buffer, DWORD* size) {
    if (path == nullptr || buffer == nullptr || size == nullptr) {
        return false;
    }
    HANDLE h = OpenRegularForRead(
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h == INVALID_HANDLE_VALUE) {
        CString text;
        text.Format(L"Func ReadFileA, Open File:%s Fail,Errcode=%x", Utf8ToWide(path).c_str(), GetLastError());
        ShowOpenError(text);
        return false;
    }
    bool ok = ReadWholeFile(h, buffer, size);
    CloseHandle(h);
    return ok;
}

extern "C" bool ReadFileW(const wchar_t* path, void** buffer, DWORD* size) {
    if (path == nullptr || buffer == nullptr || size == nullptr) {
        return false;
    }
    HANDLE h = OpenRegularForRead(
        CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h == INVALID_HANDLE_VALUE) {
        CString text;
        text.Format(L"Func ReadFileW, Open File Fail,Errcode=%x", GetLastError());
        ShowOpenError(text);
        return false;
    }
    bool ok = ReadWholeFile(h, buffer, size);
    CloseHandle(h);
    return ok;
}

namespace {

// The written file replaces the old one only once it is whole on disk: a
// save that fails part way leaves the old file as it was.
bool SaveWhole(const std::string& path, const void* data, DWORD count, const std::wstring& failurePrefix) {
    SafeSave save(path);
    if (!save.IsOpen()) {
        CString text;
        text.Format(L"%sFail,Errcode=%x", failurePrefix.c_str(), GetLastError());
        ShowOpenError(text);
        return false;
    }
    save.Write(data, count);
    return save.Commit();
}

}  // namespace

extern "C" bool WriteFileA(const char* path, void* data, DWORD count) {
    if (path == nullptr || (data == nullptr && count > 0)) {
        return false;
    }
    return SaveWhole(path, data, count, L"Func WriteFileA, Open File:" + Utf8ToWide(path) + L" ");
}

extern "C" bool WriteFileW(const wchar_t* path, void* data, DWORD count) {
    if (path == nullptr || (data == nullptr && count > 0)) {
        return false;
    }
    return SaveWhole(WidePathToUtf8(path), data, count, L"Func WriteFileW, Open File ");
}

const char* MorvikVersion() { return "0.1.0"; }

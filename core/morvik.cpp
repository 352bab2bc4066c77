#include "core/morvik.h"

#include <new>

#include "afx/cstring.h"
#include "gdiplus/gdiplus_types.h"
#include "host/host_services.h"
#include "text/mycodebar.h"

namespace {

AFX_EXTENSION_MODULE g_morvikModule{};
ULONG_PTR g_gdiplusToken = 0;

void ShowOpenError(const CString& text) { MessageBoxW(nullptr, text, L"Error", MB_OK); }

bool ReadWholeFile(HANDLE h, void** buffer, DWORD* size) {
    DWORD high = 0;
    DWORD low = GetFileSize(h, &high);
    // size + 1 must fit the 32-bit count: 4 GiB and more is out of reach.
    if (high != 0 || low == INVALID_FILE_SIZE) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    char* data = new (std::nothrow) char[static_cast<size_t>(low) + 1]();
    if (data == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    DWORD done = 0;
    if (low > 0 && (!::ReadFile(h, data, low, &done, nullptr) || done != low)) {
        delete[] data;
        SetLastError(ERROR_READ_FAULT);
        return false;
    }
    data[low] = 0;
    *buffer = data;
    *size = low;
    return true;
}

bool WriteWholeFile(HANDLE h, const void* data, DWORD count) {
    if (count == 0) {
        return true;
    }
    DWORD done = 0;
    return ::WriteFile(h, data, count, &done, nullptr) && done == count;
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
    HANDLE h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    HANDLE h = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

extern "C" bool WriteFileA(const char* path, void* data, DWORD count) {
    if (path == nullptr || (data == nullptr && count > 0)) {
        return false;
    }
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        CString text;
        text.Format(L"Func WriteFileA, Open File:%s Fail,Errcode=%x", Utf8ToWide(path).c_str(), GetLastError());
        ShowOpenError(text);
        return false;
    }
    bool ok = WriteWholeFile(h, data, count);
    ok = CloseHandle(h) && ok;
    return ok;
}

extern "C" bool WriteFileW(const wchar_t* path, void* data, DWORD count) {
    if (path == nullptr || (data == nullptr && count > 0)) {
        return false;
    }
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        CString text;
        text.Format(L"Func WriteFileW, Open File Fail,Errcode=%x", GetLastError());
        ShowOpenError(text);
        return false;
    }
    bool ok = WriteWholeFile(h, data, count);
    ok = CloseHandle(h) && ok;
    return ok;
}

const char* MorvikVersion() { return "0.1.0"; }

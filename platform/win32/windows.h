// The Win32 subset the shape library is written against, on Linux.
// Types keep their Windows widths: BOOL, LONG and DWORD are 32-bit.
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <cstdint>
#include <string>

using BOOL = int32_t;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using UINT = uint32_t;
using INT = int32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using HRESULT = int32_t;
using COLORREF = uint32_t;
using WCHAR = wchar_t;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPVOID = void*;
using LPCVOID = const void*;
using ULONG_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Kernel objects (events, threads, files) are opaque handles.
struct KernelObject;
using HANDLE = KernelObject*;
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
// The most handles one WaitForMultipleObjects call accepts.
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline HRESULT HRESULT_FROM_WIN32(DWORD e) {
    return e == 0 ? S_OK : static_cast<HRESULT>((e & 0xFFFFu) | 0x80070000u);
}

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

struct MORVIK_API GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::equal(std::begin(a.Data4), std::end(a.Data4), std::begin(b.Data4));
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }
constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

struct MORVIK_API POINT {
    LONG x;
    LONG y;
};
struct MORVIK_API SIZE {
    LONG cx;
    LONG cy;
};
struct MORVIK_API RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct MORVIK_API SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }

constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_SETREDRAW = 0x000B;

// Message box flags and answers.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
constexpr UINT MB_DEFBUTTON1 = 0x0;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFMASK = 0xF00;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_TOPMOST = 0x40000;
constexpr UINT MB_SYSTEMMODAL = 0x1000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// ---- errors -------------------------------------------------------------
DWORD GetLastError();
void SetLastError(DWORD err);
// The Win32 error that best matches a C library errno value.
DWORD Win32ErrorFromErrno(int err);

// ---- events and threads -------------------------------------------------
// Auto-reset and manual-reset events with Win32 semantics. Waits of INFINITE
// never time out. An event is not re-entrant: a thread that waits twice on an
// auto-reset event it already took deadlocks. Event names are not shared:
// every CreateEvent makes a new event. Handle values are never reused, so a
// closed handle fails with ERROR_INVALID_HANDLE (WAIT_FAILED for waits).
// WaitForMultipleObjects takes 1 to MAXIMUM_WAIT_OBJECTS handles; a wait-all
// takes all of its objects at once or none of them.
HANDLE CreateEventW(void* security, BOOL manualReset, BOOL initialState, LPCWSTR name);
HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE h);
BOOL ResetEvent(HANDLE h);
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
BOOL CloseHandle(HANDLE h);

using LPTHREAD_START_ROUTINE = DWORD (*)(void*);
constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD STILL_ACTIVE = 259;
// A thread handle is waitable (signalled when the thread ends). Closing it
// neither stops nor leaks the thread; a thread closed before it was ever
// resumed never runs. An exception escaping the start routine ends that
// thread only, with exit code 0xE06D7363. The stack size is not used.
HANDLE CreateThread(void* security, size_t stackSize, LPTHREAD_START_ROUTINE start, void* param, DWORD flags,
                    DWORD* threadId);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);

// ---- time ---------------------------------------------------------------
DWORD GetTickCount();
ULONGLONG GetTickCount64();
void GetLocalTime(SYSTEMTIME* st);

// ---- GUIDs --------------------------------------------------------------
HRESULT CoCreateGuid(GUID* guid);

// ---- code pages ---------------------------------------------------------
// CP_ACP is one process-wide setting (default 936, GBK). Characters that do
// not convert become '?'; a conversion never fails as a whole. Lengths follow
// Win32: -1 means "up to and including the terminator"; an output size of 0
// asks for the size needed; a buffer too small gives 0 and
// ERROR_INSUFFICIENT_BUFFER. Wide strings are UTF-32 (a UTF-16 surrogate pair
// in one still counts as one character). One '?' (or the caller's default
// character) stands for each wide character the code page lacks, and one '?'
// for each byte of narrow input that does not start a valid character. Flags
// are not used.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, wchar_t* dst, int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* src, int srcLen, char* dst, int dstLen,
                        const char* defaultChar, BOOL* usedDefault);
MORVIK_API UINT GetACP();
// The host sets the ANSI code page (any code page iconv knows as "CP<n>", or 65001).
// An unknown code page leaves the setting unchanged and returns FALSE
// (ERROR_INVALID_PARAMETER).
MORVIK_API BOOL SetACP(UINT codePage);

// Helpers the rest of the platform uses: whole-string conversions.
MORVIK_API std::wstring AnsiToWide(const std::string& s, UINT codePage = CP_ACP);
MORVIK_API std::string WideToAnsi(const std::wstring& s, UINT codePage = CP_ACP);
// Paths are UTF-8 on Linux, whatever the ANSI code page.
MORVIK_API std::string WidePathToUtf8(const wchar_t* path);
MORVIK_API std::wstring Utf8ToWide(const std::string& s);
MORVIK_API std::string WideToUtf8(const std::wstring& s);

// ---- files --------------------------------------------------------------
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
// Narrow paths are UTF-8; wide paths convert to UTF-8. Sharing modes,
// attributes and templates are not used; folders, pipes and sockets cannot be
// opened (ERROR_ACCESS_DENIED). CREATE_ALWAYS and OPEN_ALWAYS leave
// ERROR_ALREADY_EXISTS as the last error when the file was there. ReadFile
// and WriteFile move whole requests (no overlapped I/O) and report the bytes
// actually done; a write the disk could not take fails with ERROR_DISK_FULL
// and fewer bytes written than asked.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                   HANDLE templ);
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                   HANDLE templ);
DWORD GetFileSize(HANDLE file, DWORD* high);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
constexpr DWORD FILE_TYPE_UNKNOWN = 0;
constexpr DWORD FILE_TYPE_DISK = 1;
constexpr DWORD FILE_TYPE_CHAR = 2;
// FILE_TYPE_DISK for a regular file, FILE_TYPE_CHAR for a device (character
// or block), else FILE_TYPE_UNKNOWN (also for a handle that is no file).
DWORD GetFileType(HANDLE file);

// ---- modules ------------------------------------------------------------
// The full path of the host executable (from /proc/self/exe unless the host
// set it), with '/' separators, whatever the module handle. A buffer too small
// receives the cut path with its terminator, and the call returns the buffer
// size with ERROR_INSUFFICIENT_BUFFER. An empty override restores the real path.
MORVIK_API DWORD GetModuleFileNameW(HMODULE module, wchar_t* buffer, DWORD size);
MORVIK_API DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
MORVIK_API void SetModuleFileNameOverride(const std::wstring& exePath);
constexpr DWORD MAX_PATH = 260;

#include "morvik/afx/macros_restore.inc"

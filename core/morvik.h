// The exported free functions of the shape library.
#pragma once

#include "morvik/afx/morvik_api.h"

#include "morvik/afx/extension_module.h"
#include "morvik/win32/windows.h"

class CMyCodebar;

extern "C" {
// Links the library's classes and resources into the caller's chain; the
// chain owns the returned object. Null when it cannot be allocated.
MORVIK_API CDynLinkLibrary* InitMorvikDLL();
// The process-wide barcode engine wrapper, built on the first call.
MORVIK_API CMyCodebar* GetCodebarInstance();
// Reads a whole file into a new[] buffer of size + 1 bytes ending in 0; the
// caller frees it with delete[]. False (out-parameters untouched) when the
// file cannot be opened or read whole.
MORVIK_API bool ReadFileA(const char* path, void** buffer, DWORD* size);
MORVIK_API bool ReadFileW(const wchar_t* path, void** buffer, DWORD* size);
// Creates or truncates the file and writes count bytes; false unless every
// byte was written.
MORVIK_API bool WriteFileA(const char* path, void* data, DWORD count);
MORVIK_API bool WriteFileW(const wchar_t* path, void* data, DWORD count);
}

// The library's version text, for hosts and the sample program.
MORVIK_API const char* MorvikVersion();

// Win32 global memory: movable blocks named by a handle, locked to reach
// their bytes. Pictures travel through it on their way into a stream.
#pragma once

#include <cstddef>

#include "morvik/win32/windows.h"

struct HGLOBAL__;
using HGLOBAL = HGLOBAL__*;
using SIZE_T = size_t;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// The largest block GlobalAlloc hands out, as on a 32-bit system.
constexpr SIZE_T kMaxGlobalBlock = 0x7FFFFFFF;

// A new block of the size (bytes start zeroed whatever the flags); null
// with ERROR_NOT_ENOUGH_MEMORY when the memory cannot be had or the size is
// beyond kMaxGlobalBlock. A size of 0 gives a valid empty block.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// The block's bytes, counting one more lock; null for a handle that is not
// a live block (ERROR_INVALID_HANDLE) and for an empty block.
LPVOID GlobalLock(HGLOBAL mem);
// One lock less; TRUE while locks remain, FALSE (and ERROR_SUCCESS) when the
// block is unlocked now, FALSE with ERROR_NOT_LOCKED when it was not locked.
BOOL GlobalUnlock(HGLOBAL mem);
// Frees the block; null on success, the handle itself when it is not a live
// block. A block is freed even while locked (as Win32 does); its handle is
// never valid again.
HGLOBAL GlobalFree(HGLOBAL mem);
// The block's size; 0 for a handle that is not a live block.
SIZE_T GlobalSize(HGLOBAL mem);

constexpr DWORD ERROR_NOT_LOCKED = 158;

// COM streams: the IStream subset a picture is decoded from, over a block of
// global memory.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>

#include "morvik/com/hglobal.h"
#include "morvik/win32/windows.h"

union LARGE_INTEGER {
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;

constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;
constexpr DWORD STGTY_STREAM = 2;

constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001u);
constexpr HRESULT STG_E_INVALIDPOINTER = static_cast<HRESULT>(0x80030009u);
constexpr HRESULT STG_E_ACCESSDENIED = static_cast<HRESULT>(0x80030005u);

struct MORVIK_API STATSTG {
    DWORD type = 0;
    ULARGE_INTEGER cbSize{};
};

class MORVIK_API IStream {
public:
    virtual ULONG AddRef() = 0;
    // Destroys the stream when the last reference goes.
    virtual ULONG Release() = 0;
    // Reads up to cb bytes from the current position; fewer at the end
    // (S_FALSE when fewer than asked). read may be null.
    virtual HRESULT Read(void* buffer, ULONG cb, ULONG* read) = 0;
    // Moves the position; a position before the start fails
    // (STG_E_INVALIDFUNCTION) and leaves it. A position past the end is
    // allowed and reads nothing. newPosition may be null.
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
    // The stream's type and size.
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;

protected:
    virtual ~IStream() = default;
};

// A stream over the bytes of a global memory block, starting at position 0,
// holding one reference. With deleteOnRelease the stream frees the block
// when it is destroyed; otherwise the caller keeps it. A null block, or a
// handle that is not a live block, fails with E_INVALIDARG (the streams of
// this library only read). The block must stay alive as long as the stream.
HRESULT CreateStreamOnHGlobal(HGLOBAL mem, BOOL deleteOnRelease, IStream** stream);

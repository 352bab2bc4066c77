#include "morvik/com/stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

namespace {

class HGlobalStream final : public IStream {
public:
    HGlobalStream(HGLOBAL mem, bool deleteOnRelease) : m_mem(mem), m_delete(deleteOnRelease) {}

    ULONG AddRef() override { return ++m_refs; }

    ULONG Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

    HRESULT Read(void* buffer, ULONG cb, ULONG* read) override {
        if (read != nullptr) *read = 0;
        if (buffer == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        const SIZE_T size = GlobalSize(m_mem);
        ULONG done = 0;
        if (m_pos < size && cb > 0) {
            done = static_cast<ULONG>(std::min<ULONGLONG>(cb, size - m_pos));
            const unsigned char* data = static_cast<const unsigned char*>(GlobalLock(m_mem));
            if (data == nullptr) return E_FAIL;
            std::memcpy(buffer, data + m_pos, done);
            GlobalUnlock(m_mem);
            m_pos += done;
        }
        if (read != nullptr) *read = done;
        return done < cb ? S_FALSE : S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        long double base = 0;
        switch (origin) {
            case STREAM_SEEK_SET: base = 0; break;
            case STREAM_SEEK_CUR: base = static_cast<long double>(m_pos); break;
            case STREAM_SEEK_END: base = static_cast<long double>(GlobalSize(m_mem)); break;
            default: return STG_E_INVALIDFUNCTION;
        }
        const long double target = base + static_cast<long double>(move.QuadPart);
        if (target < 0 || target > static_cast<long double>(std::numeric_limits<LONGLONG>::max())) {
            return STG_E_INVALIDFUNCTION;
        }
        m_pos = static_cast<ULONGLONG>(target);
        if (newPosition != nullptr) newPosition->QuadPart = m_pos;
        return S_OK;
    }

    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = GlobalSize(m_mem);
        return S_OK;
    }

private:
    ~HGlobalStream() override {
        if (m_delete) GlobalFree(m_mem);
    }

    HGLOBAL m_mem;
    bool m_delete;
    ULONGLONG m_pos = 0;
    std::atomic<ULONG> m_refs{1};
};

}  // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL mem, BOOL deleteOnRelease, IStream** stream) {
    if (stream == nullptr) return E_POINTER;
    *stream = nullptr;
    if (mem == nullptr) return E_INVALIDARG;
    // Size 0 is a live empty block; an unknown handle reports 0 and an error.
    SetLastError(ERROR_SUCCESS);
    if (GlobalSize(mem) == 0 && GetLastError() == ERROR_INVALID_HANDLE) return E_INVALIDARG;
    HGlobalStream* s = new (std::nothrow) HGlobalStream(mem, deleteOnRelease != FALSE);
    if (s == nullptr) return E_OUTOFMEMORY;
    *stream = s;
    return S_OK;
}

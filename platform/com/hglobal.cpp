#include "morvik/com/hglobal.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace {

struct Block {
    std::vector<unsigned char> bytes;
    int locks = 0;
};

// Handles are numbers never reused, so a freed handle never names a newer
// block; every call looks its handle up first.
struct BlockTable {
    std::mutex mutex;
    uintptr_t next = 0x10000;
    std::unordered_map<uintptr_t, std::unique_ptr<Block>> live;
};

BlockTable& Table() {
    static BlockTable table;
    return table;
}

Block* Find(BlockTable& t, HGLOBAL mem) {
    auto it = t.live.find(reinterpret_cast<uintptr_t>(mem));
    return it == t.live.end() ? nullptr : it->second.get();
}

}  // namespace

HGLOBAL GlobalAlloc(UINT, SIZE_T bytes) {
    if (bytes > kMaxGlobalBlock) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::unique_ptr<Block> block(new (std::nothrow) Block());
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        block->bytes.resize(bytes);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    BlockTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const uintptr_t id = t.next++;
    t.live.emplace(id, std::move(block));
    return reinterpret_cast<HGLOBAL>(id);
}

LPVOID GlobalLock(HGLOBAL mem) {
    BlockTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    Block* b = Find(t, mem);
    if (b == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (b->bytes.empty()) return nullptr;
    ++b->locks;
    return b->bytes.data();
}

BOOL GlobalUnlock(HGLOBAL mem) {
    BlockTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    Block* b = Find(t, mem);
    if (b == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (b->locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--b->locks > 0) return TRUE;
    SetLastError(ERROR_SUCCESS);
    return FALSE;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
    std::unique_ptr<Block> doomed;
    BlockTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.live.find(reinterpret_cast<uintptr_t>(mem));
    if (it == t.live.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    doomed = std::move(it->second);
    t.live.erase(it);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL mem) {
    BlockTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    Block* b = Find(t, mem);
    if (b == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return b->bytes.size();
}

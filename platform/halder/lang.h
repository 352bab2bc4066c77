// The language table: user-visible texts looked up by key. A built-in
// English table answers every key the library uses; the host may load
// another table over it.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "morvik/afx/cstring.h"

class MORVIK_API CLang {
public:
    static CLang* Instance();

    // The text of a key; an unknown key answers the key itself, so a missing
    // translation shows up instead of vanishing.
    CString GetString(const char* key) const;
    CString GetString(const CString& key) const;

    // Replaces or adds texts (a host's translation). Safe while other threads
    // read.
    void SetString(const std::string& key, const std::wstring& text);
    // Back to the built-in English table.
    void ResetToDefaults();
    // A number that changes whenever a text changes (SetString,
    // ResetToDefaults): a text looked up after reading it is current until
    // it changes again.
    uint64_t Generation() const { return m_generation.load(std::memory_order_acquire); }

private:
    CLang();
    mutable std::shared_mutex m_lock;
    // Transparent: a lookup by a C string makes no temporary key.
    std::map<std::string, std::wstring, std::less<>> m_table;
    std::atomic<uint64_t> m_generation{0};
};

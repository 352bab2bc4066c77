// The language table: user-visible texts looked up by key. A built-in
// English table answers every key the library uses; the host may load
// another table over it.
#pragma once

#include <map>
#include <shared_mutex>
#include <string>

#include "afx/cstring.h"

class CLang {
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

private:
    CLang();
    mutable std::shared_mutex m_lock;
    std::map<std::string, std::wstring> m_table;
};

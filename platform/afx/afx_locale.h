// Process-independent locales for the MFC subset: numbers are always
// formatted in the C locale, and case mapping does not follow whatever
// locale the host process selected.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <locale.h>

namespace afx_detail {

// The "C" locale, created once and kept for the life of the process.
MORVIK_API locale_t CLocale();
// A locale for wide-character case mapping: "C.UTF-8" when the system has
// it, otherwise "C" (then only ASCII letters change case).
locale_t CaseLocale();

// Makes the calling thread use the C locale until the guard goes out of
// scope; other threads are not affected.
class ScopedCLocale {
public:
    ScopedCLocale() : m_old(uselocale(CLocale())) {}
    ~ScopedCLocale() { uselocale(m_old); }
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

private:
    locale_t m_old;
};

}  // namespace afx_detail

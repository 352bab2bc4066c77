// The printf-style engine behind CString::Format and CStringA::Format.
#pragma once

#include <cstdarg>
#include <string>

namespace afx_detail {

// Appends the formatted text to out. The arguments are read from a copy of
// args, so the caller's list stays usable.
void FormatAppend(std::wstring& out, const wchar_t* format, va_list args);
void FormatAppend(std::string& out, const char* format, va_list args);

}  // namespace afx_detail

// Text and encoding helpers of the shape library: conversions between the
// library's wide strings and narrow text (ANSI code page or UTF-8),
// splitting and trimming, the program's folder, whole-file reads of ANSI
// text, and recognising the encoding of a text file.
//
// Code page 0 is the platform's ANSI code page (CP_ACP), 65001 is UTF-8.
// Narrow paths are UTF-8.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <string>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/win32/windows.h"

// The text in the given code page; empty when the conversion gives nothing.
std::string WideToMultiByteString(const CString& text, UINT codePage);
// The same in the ANSI code page.
std::string WideToAnsiString(const CString& text);

// A terminated ANSI copy from new[], freed by the caller with delete[];
// null for a null text. When memory runs out the process ends (exit code 1),
// after a "malloc error" message box, or silently for the Quiet form.
char* WideToAnsiNew(const wchar_t* text);
char* WideToAnsiNewQuiet(const wchar_t* text);

// Converts text to the ANSI code page into a block from CoTaskMemAlloc that
// the caller frees with CoTaskMemFree. A null text gives *out = null and
// S_OK; out of memory gives E_OUTOFMEMORY; a failed conversion frees the
// block, sets *out to null and returns a failure HRESULT.
HRESULT UnicodeToAnsiCoTask(const wchar_t* text, char** out);

// The wide string of a UTF-8 text; a null text gives an empty string.
CString Utf8ToCString(const char* text);

// Cuts text at every occurrence of the first character of separator and
// appends the non-empty segments to out (cleared first). A null text or
// separator leaves out empty.
void SplitByChar(std::vector<std::string>& out, const char* text, const char* separator);

// Trims text of white space, drops leading separators, and appends to out
// (cleared first) each trimmed non-empty segment between separators.
void SplitCStringBy(std::vector<CString>& out, const CString& text, const CString& separator);

// Skips leading blanks, tabs, carriage returns and line feeds and returns
// the first other character; overwrites trailing blanks, carriage returns and
// line feeds (not tabs) with terminators. A null text returns null.
char* TrimAsciiWhitespace(char* text);

// The folder of the running executable, with its trailing '/'.
CString GetExeFolder();

// A whole text file read as ANSI text.
class MORVIK_API CIniFile {
public:
    CIniFile() = default;
    explicit CIniFile(const CString& path) : m_strFilePath(path) {}

    // Appends the file's text, converted from the ANSI code page, to out and
    // returns 1; returns 0 and leaves out unchanged when the file cannot be
    // opened or read.
    int ReadAnsiTextFile(CString& out);

    CString m_strFilePath;
};

// True when the bytes are well-formed 1- to 3-byte UTF-8 sequences (4-byte
// sequences are not accepted); a sequence cut off by the end counts as
// valid, and an empty buffer is valid.
bool IsValidUtf8(const unsigned char* bytes, size_t length);
// True when the file can be opened and its content passes IsValidUtf8.
bool IsUtf8File(const char* path);

// Encoding codes of DetectTextFileEncoding.
constexpr int TEXT_ENCODING_UTF16LE = 1;
constexpr int TEXT_ENCODING_UTF16BE = 2;
constexpr int TEXT_ENCODING_UTF8 = 3;
constexpr int TEXT_ENCODING_ANSI = 4;
constexpr int TEXT_ENCODING_UNKNOWN = 9;

// 9 when the file cannot be opened or is shorter than 3 bytes; 3 for a
// UTF-8 byte-order mark; 2 and 1 for the UTF-16 big- and little-endian
// marks; otherwise 3 when the content is valid UTF-8 and 4 (ANSI) when not.
int DetectTextFileEncoding(const char* path);
// The same answer for content already read whole (9 when shorter than 3
// bytes).
int DetectTextEncoding(const unsigned char* bytes, size_t size);

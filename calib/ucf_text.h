// Text layer of the UCF file: path conversion, C-locale numbers, and a small
// INI document reader and writer.
//
// UCF files are GBK (code page 936) text. Every byte the format gives meaning
// to ('[', ']', '=', ';', blank, digits, the ASCII keys) is ASCII and never a
// GBK trail byte, so the document works on bytes and carries any other text
// through untouched; no code-page conversion is needed.
#ifndef CALIB_UCF_TEXT_H
#define CALIB_UCF_TEXT_H

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace calib {

// UTF-32 wide path to UTF-8. False for an empty path, a NUL or a value that
// is not a Unicode scalar.
bool WideToUtf8(const std::wstring& in, std::string& out);

// Numbers in the C locale whatever the process locale. The parsers skip
// leading white space and ignore what follows the number, like strtol and
// strtof; they fail for no number, a value out of range or a value that is
// not finite.
bool ParseInt(std::string_view text, int& out) noexcept;
bool ParseFloat(std::string_view text, float& out) noexcept;
bool ParseDouble(std::string_view text, double& out) noexcept;
std::string FormatInt(long long value);
std::string FormatReal(double value);     // rounded to single precision, six significant digits
std::string FormatFixed5(double value);   // five decimals

// Files larger than this are not calibration files and are not read.
inline constexpr std::size_t kMaxUcfBytes = 16u << 20;

// Read-only view of an INI document. Lines end with LF (a CR before it is
// dropped); empty lines and lines starting with ';' are skipped; a line
// starting with '[' opens a section named by the line without its first and
// last characters; any other line holding '=' is an entry split at the first
// '=', nothing trimmed. Entries before the first section are ignored; of
// repeated keys the first counts.
class UcfIniReader {
public:
    // What Load found at the path.
    enum class Source {
        Text,     // a text file, read whole
        Absent,   // no file, or an empty one: nothing to read and nothing to lose
        Unusable  // a folder, a file that cannot be read, is too large or holds NUL bytes
    };
    // Replaces the document by the file's; anything but Text leaves the
    // document empty.
    Source Load(const std::string& utf8Path);

    bool HasSection(std::string_view section) const;
    const std::string_view* Find(std::string_view section, std::string_view key) const;
    int GetInt(std::string_view section, std::string_view key, int def) const;
    float GetFloat(std::string_view section, std::string_view key, float def) const;

private:
    void Parse(std::string text);

    struct Entry {
        std::string_view section, key, value;
    };
    std::string text_;
    std::vector<Entry> entries_;             // sorted by section, then key
    std::vector<std::string_view> sections_;  // every section header, also those without entries
};

// INI document being built for writing; sections and keys come out in
// ascending byte order, as "[name]" and "key=value" lines.
class UcfIniWriter {
public:
    void SetString(const std::string& section, const std::string& key, std::string value);
    void SetInt(const std::string& section, const std::string& key, long long value);
    void SetFloat(const std::string& section, const std::string& key, double value);
    bool Empty() const { return sections_.empty(); }
    std::string Text() const;

private:
    std::map<std::string, std::map<std::string, std::string>> sections_;
};

// Reads a regular file whole; false (and `out` empty) when it cannot be
// opened, is not a regular file, cannot be read or exceeds `limit`. `missing`
// tells whether nothing exists at the path.
bool ReadWholeFile(const std::string& utf8Path, std::string& out, std::size_t limit, bool& missing);
// Replaces the file by `data` through a temporary file in the same folder,
// synced before it is renamed over the target: false, and the old file as it
// was, when anything fails. A target that is not a regular file is refused.
bool WriteWholeFile(const std::string& utf8Path, const std::string& data);

}  // namespace calib

#endif  // CALIB_UCF_TEXT_H

#include "ucf_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

namespace calib {

bool WideToUtf8(const std::wstring& in, std::string& out) {
    out.clear();
    out.reserve(in.size());
    for (wchar_t wc : in) {
        const auto c = static_cast<std::uint32_t>(wc);
        if (c == 0) return false;  // would cut the path short
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c <= 0x10FFFF) {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            return false;
        }
    }
    return !out.empty();
}

namespace {

bool IsSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading white space and an optional '+' as strtod accepts them; from_chars
// takes the rest (it knows '-' but not '+').
std::string_view NumberStart(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    s.remove_prefix(i);
    if (!s.empty() && s[0] == '+') {
        s.remove_prefix(1);
        if (!s.empty() && (s[0] == '-' || s[0] == '+')) return {};
    }
    return s;
}

template <class T>
bool ParseReal(std::string_view text, T& out) noexcept {
    const std::string_view s = NumberStart(text);
    if (s.empty()) return false;
    T v{};
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (r.ec != std::errc{} || !std::isfinite(v)) return false;
    out = v;
    return true;
}

}  // namespace

bool ParseInt(std::string_view text, int& out) noexcept {
    std::string_view s = NumberStart(text);
    bool negative = false;
    if (!s.empty() && s[0] == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    unsigned long long mag = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), mag, 10);
    if (r.ec != std::errc{}) return false;
    const unsigned long long limit =
        negative ? static_cast<unsigned long long>(INT_MAX) + 1u : static_cast<unsigned long long>(INT_MAX);
    if (mag > limit) return false;
    out = negative ? static_cast<int>(-static_cast<long long>(mag)) : static_cast<int>(mag);
    return true;
}

bool ParseFloat(std::string_view text, float& out) noexcept { return ParseReal(text, out); }
bool ParseDouble(std::string_view text, double& out) noexcept { return ParseReal(text, out); }

std::string FormatInt(long long value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string FormatReal(double value) {
    // Single precision first, as the file has always held; a double beyond
    // the float range becomes an infinity rather than an undefined cast.
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const float f = std::isfinite(value) && std::fabs(value) > FLT_MAX ? (value > 0 ? kInf : -kInf)
                                                                      : static_cast<float>(value);
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(f), std::chars_format::general, 6);
    return std::string(buf, r.ptr);
}

std::string FormatFixed5(double value) {
    char buf[400];  // the widest double in fixed notation is 309 digits
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 5);
    if (r.ec != std::errc{}) return "nan";
    return std::string(buf, r.ptr);
}

bool ReadWholeFile(const std::string& utf8Path, std::string& out, std::size_t limit, bool& missing) {
    out.clear();
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(utf8Path, ec);
    missing = st.type() == std::filesystem::file_type::not_found;
    // A folder opens for reading on some systems; it is no file to read.
    if (ec || st.type() != std::filesystem::file_type::regular) return false;
    std::FILE* f = std::fopen(utf8Path.c_str(), "rb");
    if (!f) return false;
    char buf[16384];
    bool ok = true;
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f);
        if (n == 0) break;
        if (out.size() + n > limit) {
            ok = false;
            break;
        }
        out.append(buf, n);
    }
    if (std::ferror(f)) ok = false;
    std::fclose(f);
    if (!ok) out.clear();
    return ok;
}

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// A temporary file beside the target, made with the permissions a plain
// create would give; -1 when none can be made.
int OpenTemporary(const std::string& target, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.find_last_of('/');
    const std::string name = (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 96);
    for (int attempt = 0; attempt < 64; ++attempt) {
        temp = FolderOf(target) + "/." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter.fetch_add(1));
        int fd;
        do {
            fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool WriteAll(int fd, const char* p, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool WriteWholeFile(const std::string& utf8Path, const std::string& data) {
    // A link is followed, so that the file it names is replaced, not the link.
    std::string target = utf8Path;
    if (char* real = ::realpath(utf8Path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    // Not a regular file, or one that may not be written (the rename would
    // replace it all the same).
    if (exists && (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0)) return false;
    std::string temp;
    const int fd = OpenTemporary(target, temp);
    if (fd < 0) return false;
    if (exists) {
        (void)::fchmod(fd, st.st_mode & 07777);
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::fchown(fd, st.st_uid, st.st_gid);
    }
    // The old file stays until the new one is whole on disk.
    bool ok = WriteAll(fd, data.data(), data.size()) && ::fsync(fd) == 0;
    if (::close(fd) != 0 && errno != EINTR) ok = false;
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // A folder that cannot be synced still holds the new file.
    const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

UcfIniReader::Source UcfIniReader::Load(const std::string& utf8Path) {
    std::string text;
    bool missing = false;
    Source source = Source::Text;
    if (!ReadWholeFile(utf8Path, text, kMaxUcfBytes, missing))
        source = missing ? Source::Absent : Source::Unusable;
    else if (text.empty())
        source = Source::Absent;
    else if (text.find('\0') != std::string::npos)
        source = Source::Unusable;  // no text file holds NUL bytes
    Parse(source == Source::Text ? std::move(text) : std::string());
    return source;
}

bool UcfIniReader::HasSection(std::string_view section) const {
    return std::binary_search(sections_.begin(), sections_.end(), section);
}

void UcfIniReader::Parse(std::string text) {
    entries_.clear();
    sections_.clear();
    text_ = std::move(text);
    const std::string_view all(text_);
    std::string_view section;
    bool inSection = false;
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            section = line.size() >= 2 ? line.substr(1, line.size() - 2) : std::string_view();
            inSection = true;
            sections_.push_back(section);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || !inSection) continue;
        entries_.push_back({section, line.substr(0, eq), line.substr(eq + 1)});
    }
    const auto less = [](const Entry& a, const Entry& b) {
        return a.section != b.section ? a.section < b.section : a.key < b.key;
    };
    std::stable_sort(entries_.begin(), entries_.end(), less);
    const auto same = [](const Entry& a, const Entry& b) { return a.section == b.section && a.key == b.key; };
    entries_.erase(std::unique(entries_.begin(), entries_.end(), same), entries_.end());
    std::sort(sections_.begin(), sections_.end());
    sections_.erase(std::unique(sections_.begin(), sections_.end()), sections_.end());
}

const std::string_view* UcfIniReader::Find(std::string_view section, std::string_view key) const {
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), Entry{section, key, {}},
                                     [](const Entry& a, const Entry& b) {
                                         return a.section != b.section ? a.section < b.section : a.key < b.key;
                                     });
    if (it == entries_.end() || it->section != section || it->key != key) return nullptr;
    return &it->value;
}

int UcfIniReader::GetInt(std::string_view section, std::string_view key, int def) const {
    const std::string_view* v = Find(section, key);
    int out;
    return v && ParseInt(*v, out) ? out : def;
}

float UcfIniReader::GetFloat(std::string_view section, std::string_view key, float def) const {
    const std::string_view* v = Find(section, key);
    float out;
    return v && ParseFloat(*v, out) ? out : def;
}

void UcfIniWriter::SetString(const std::string& section, const std::string& key, std::string value) {
    sections_[section][key] = std::move(value);
}

void UcfIniWriter::SetInt(const std::string& section, const std::string& key, long long value) {
    SetString(section, key, FormatInt(value));
}

void UcfIniWriter::SetFloat(const std::string& section, const std::string& key, double value) {
    SetString(section, key, FormatReal(value));
}

std::string UcfIniWriter::Text() const {
    std::string out;
    for (const auto& [name, entries] : sections_) {
        out += '[';
        out += name;
        out += "]\n";
        for (const auto& [key, value] : entries) {
            out += key;
            out += '=';
            out += value;
            out += '\n';
        }
    }
    return out;
}

}  // namespace calib

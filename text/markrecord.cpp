#include "morvik/text/markrecord.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "morvik/core/runlog.h"
#include "morvik/halder/textelement.h"

namespace {

RunLog* Log() { return RunLog::Instance(nullptr); }

std::string ToAnsi(const CString& text) { return WideToAnsi(std::wstring(text.GetString())); }

void LogText(const CString& text, const wchar_t* what) {
    CString line = text;
    line += what;
    Log()->Write(line.GetString());
}

// A line begins with the stamp "YYYY-MM-DD HH:MM:SS|".
bool HasStamp(const std::string& line) {
    static const char kForm[] = "dddd-dd-dd dd:dd:dd|";
    constexpr size_t kLen = sizeof(kForm) - 1;
    if (line.size() < kLen) return false;
    for (size_t i = 0; i < kLen; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (kForm[i] == 'd' ? !digit : line[i] != kForm[i]) return false;
    }
    return true;
}

// Every line break, whichever form, as backslash-n: a raw one would split
// the record's line in two. A backslash is doubled, so that one before an
// 'n' in the text is not read back as a line break.
std::string Escaped(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// A line of the file back to its text: backslash-n is a line break (CR LF),
// a doubled backslash one backslash; any other backslash stands as it is,
// as files written before backslashes were doubled hold them.
std::string Unescaped(const std::string& line) {
    std::string text;
    text.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
            text += "\r\n";
            ++i;
        } else if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '\\') {
            text += '\\';
            ++i;
        } else {
            text += line[i];
        }
    }
    return text;
}

// The text as the history keeps it, its line breaks as CR LF the way a read
// of the file gives them back: a text compares equal however it broke its
// lines.
std::string WithCrLfBreaks(const std::string& text) { return Unescaped(Escaped(text)); }

// One lock per history file for the whole process: every history that
// writes to the file appends under it, so records never interleave.
std::shared_ptr<std::mutex> FileLock(const std::string& path) {
    static std::mutex mapLock;
    static std::map<std::string, std::weak_ptr<std::mutex>> locks;
    std::error_code ec;
    std::string key = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec).string();
    if (key.empty()) key = path;
    std::lock_guard<std::mutex> guard(mapLock);
    // Files no history writes to any more leave the map.
    for (auto it = locks.begin(); it != locks.end();) it = it->second.expired() ? locks.erase(it) : std::next(it);
    std::shared_ptr<std::mutex> lock = locks[key].lock();
    if (!lock) {
        lock = std::make_shared<std::mutex>();
        locks[key] = lock;
    }
    return lock;
}

enum class Append { NoFile, Failed, Whole };

// The whole record in one append, synced to disk, under a lock that other
// processes appending to the file take too; or nothing: a record written in
// part is cut back off at once, so that it never fuses with the next one.
// A file whose last line has no end (a writer killed mid-line, or a file
// edited by hand) gets one before the record, so nothing there is lost and
// the record still stands on a line of its own.
Append AppendWhole(const std::string& path, const std::string& record) {
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) return Append::NoFile;
    struct stat st {};
    // Only a regular file can be cut back: a pipe or a device is no history.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Append::NoFile;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    const off_t start = ::lseek(fd, 0, SEEK_END);
    std::string bytes;
    char last = '\n';
    if (start > 0 && ::pread(fd, &last, 1, start - 1) != 1) last = '\n';
    if (last != '\n' && last != '\r') bytes = "\r\n";
    bytes += record;
    size_t done = 0;
    bool whole = start >= 0;
    while (whole && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) whole = false;
        else done += static_cast<size_t>(n);
    }
    if (whole && ::fdatasync(fd) != 0) whole = false;
    if (!whole && done > 0 && start >= 0) (void)::ftruncate(fd, start);
    ::close(fd);  // releases the lock
    return whole ? Append::Whole : Append::Failed;
}

// Today's date at the time of day of `at`.
CTime TodayAt(const CTime& now, const CTime& at) {
    return CTime(now.GetYear(), now.GetMonth(), now.GetDay(), at.GetHour(), at.GetMinute(), at.GetSecond());
}

// The latest moment, not after now, with the time of day of `at`: when the
// last daily clear was due.
CTime LastDueAt(const CTime& now, const CTime& at) {
    CTime due = TodayAt(now, at);
    if (now < due) due = TodayAt(CTime(now.GetTime() - 86400), at);
    // A day without that time of day (a clock change) still looks back.
    if (now < due) due = CTime(now.GetTime() - 86400);
    return due;
}

// Whether the file was last written before `due` (false when it cannot be
// told: nothing is cleared on a doubt).
bool WrittenBefore(const std::string& path, const CTime& due) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return static_cast<int64_t>(st.st_mtime) < due.GetTime();
}

}  // namespace

CMarkRecord::CMarkRecord() { Open(CString(), false, false, false, CTime()); }

CMarkRecord::~CMarkRecord() {
    if (m_hEvent != nullptr) CloseHandle(m_hEvent);
}

CString CMarkRecord::DefaultPath() {
    CString path = Log()->GetLogFolder();
    path += kDefaultFileName;
    return path;
}

void CMarkRecord::ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    // Scanning goes on after the replacement, so a replacement that holds
    // its pattern cannot loop for ever.
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string CMarkRecord::MakeTimeStamp() {
    const CTime now = VarTextNow();
    if (now.GetYear() == 0) return std::string();
    return ToAnsi(now.Format(L"%Y-%m-%d %H:%M:%S|")).substr(0, 29);
}

void CMarkRecord::RollResetTime() {
    const CTime now = VarTextNow();
    CTime next = TodayAt(now, m_tmReset);
    if (!(now < next)) next = TodayAt(CTime(now.GetTime() + 86400), m_tmReset);
    // A day without that time of day (a clock change) still moves forward.
    if (!(now < next)) next = CTime(now.GetTime() + 86400);
    m_tmReset = next;
}

bool CMarkRecord::Open(CString path, bool stamp, bool check, bool daily, CTime reset) {
    m_recentTexts.clear();
    m_fileTexts.clear();
    m_bStamp = stamp;
    m_bCheck = check;
    m_bDaily = daily;
    m_tmReset = reset;
    // A pass that starts after a reset time that passed unseen (no pass
    // was running then) still owes that day's clear: a file not written
    // since is yesterday's and is cleared; one written since holds what was
    // marked after the clear and is kept.
    std::optional<CTime> dueClear;
    if (m_bDaily && m_tmReset < VarTextNow()) {
        dueClear = LastDueAt(VarTextNow(), m_tmReset);
        RollResetTime();
    }
    if (m_hEvent != nullptr) CloseHandle(m_hEvent);
    m_hEvent = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    m_path.reset();
    if (path.IsEmpty()) return true;

    m_path = WideToAnsi(std::wstring(path.GetString()), CP_UTF8);
    m_fileLock = FileLock(*m_path);
    if (dueClear) {
        std::lock_guard<std::mutex> guard(*m_fileLock);
        if (WrittenBefore(*m_path, *dueClear))
            if (FILE* file = std::fopen(m_path->c_str(), "w+")) std::fclose(file);
    }
    FILE* file = std::fopen(m_path->c_str(), "rb");
    if (file == nullptr) return false;
    std::string line;
    auto take = [this, &line] {
        if (HasStamp(line)) line.erase(0, 20);
        m_fileTexts.insert(Unescaped(line));
        line.clear();
    };
    // Lines end in CR LF, LF or CR alone.
    bool afterCr = false;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c == '\n' && afterCr) {
            afterCr = false;
            continue;
        }
        afterCr = c == '\r';
        if (c == '\n' || c == '\r')
            take();
        else
            line.push_back(static_cast<char>(c));
    }
    if (!line.empty()) take();
    // A folder opens but cannot be read.
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

void CMarkRecord::ClearIfDue() {
    if (!m_bDaily || !(m_tmReset < VarTextNow())) return;
    m_recentTexts.clear();
    m_fileTexts.clear();
    if (m_path) {
        std::lock_guard<std::mutex> guard(*m_fileLock);
        if (FILE* file = std::fopen(m_path->c_str(), "w+")) std::fclose(file);
    }
    RollResetTime();
}

bool CMarkRecord::Contains(CString text, bool useFile) {
    // Yesterday's texts are no repeats once the daily clear is due.
    ClearIfDue();
    const std::string s = WithCrLfBreaks(ToAnsi(text));
    if (useFile && m_path && m_fileTexts.count(s) != 0) return true;
    return m_recentTexts.count(s) != 0;
}

bool CMarkRecord::AddRecord(CString text, bool record) {
    const std::string s = ToAnsi(text);
    const std::string line = (m_bStamp ? MakeTimeStamp() : std::string()) + Escaped(s) + "\r\n";
    if (!record) return true;

    ClearIfDue();
    if (!m_path) {
        LogText(text, L"err5");
        const CString path = DefaultPath();
        RunLog::CreateDirs(path.GetString());
        Open(path, m_bStamp, m_bCheck, m_bDaily, m_tmReset);
    }
    // Recorded after a possible re-open, which would forget it; a text that
    // could not be written is forgotten again, as it is not marked.
    const bool added = m_bCheck && m_recentTexts.insert(WithCrLfBreaks(s)).second;

    LogText(text, L"write start 0");
    WaitForSingleObject(m_hEvent, INFINITE);
    LogText(text, L"write start 1");
    Append result;
    {
        std::lock_guard<std::mutex> guard(*m_fileLock);
        result = AppendWhole(*m_path, line);
    }
    SetEvent(m_hEvent);
    if (result != Append::Whole && added) m_recentTexts.erase(WithCrLfBreaks(s));
    if (result == Append::NoFile) {
        LogText(text, L"fopen err");
        return false;
    }
    LogText(text, result == Append::Whole ? L"write ok" : L"write err");
    return result == Append::Whole;
}

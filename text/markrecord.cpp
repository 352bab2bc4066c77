#include "text/markrecord.h"

#include <cctype>
#include <cstdio>

#include "core/runlog.h"
#include "halder/textelement.h"

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
// the record's line in two.
std::string Escaped(const std::string& text) {
    std::string escaped = text;
    CMarkRecord::ReplaceAll(escaped, "\r\n", "\\n");
    CMarkRecord::ReplaceAll(escaped, "\r", "\\n");
    CMarkRecord::ReplaceAll(escaped, "\n", "\\n");
    return escaped;
}

// The text as the history keeps it, its line breaks as CR LF the way a read
// of the file gives them back: a text compares equal however it broke its
// lines.
std::string WithCrLfBreaks(const std::string& text) {
    std::string kept = Escaped(text);
    CMarkRecord::ReplaceAll(kept, "\\n", "\r\n");
    return kept;
}

// Today's date at the time of day of `at`.
CTime TodayAt(const CTime& now, const CTime& at) {
    return CTime(now.GetYear(), now.GetMonth(), now.GetDay(), at.GetHour(), at.GetMinute(), at.GetSecond());
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
    if (m_bDaily && m_tmReset < VarTextNow()) RollResetTime();
    if (m_hEvent != nullptr) CloseHandle(m_hEvent);
    m_hEvent = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    m_path.reset();
    if (path.IsEmpty()) return true;

    m_path = WideToAnsi(std::wstring(path.GetString()), CP_UTF8);
    FILE* file = std::fopen(m_path->c_str(), "rb");
    if (file == nullptr) return false;
    std::string line;
    auto take = [this, &line] {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (HasStamp(line)) line.erase(0, 20);
        ReplaceAll(line, "\\n", "\r\n");
        m_fileTexts.insert(line);
        line.clear();
    };
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c == '\n')
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

bool CMarkRecord::Contains(CString text, bool useFile) {
    const std::string s = WithCrLfBreaks(ToAnsi(text));
    if (useFile && m_path && m_fileTexts.count(s) != 0) return true;
    return m_recentTexts.count(s) != 0;
}

bool CMarkRecord::AddRecord(CString text, bool record) {
    const std::string s = ToAnsi(text);
    const std::string line = (m_bStamp ? MakeTimeStamp() : std::string()) + Escaped(s) + "\r\n";
    if (!record) return true;

    if (m_bDaily && m_tmReset < VarTextNow()) {
        m_recentTexts.clear();
        m_fileTexts.clear();
        if (m_path) {
            if (FILE* file = std::fopen(m_path->c_str(), "w+")) std::fclose(file);
        }
        RollResetTime();
    }
    if (!m_path) {
        LogText(text, L"err5");
        const CString path = DefaultPath();
        RunLog::CreateDirs(path.GetString());
        Open(path, m_bStamp, m_bCheck, m_bDaily, m_tmReset);
    }
    // Recorded after a possible re-open, which would forget it.
    if (m_bCheck) m_recentTexts.insert(WithCrLfBreaks(s));

    LogText(text, L"write start 0");
    WaitForSingleObject(m_hEvent, INFINITE);
    LogText(text, L"write start 1");
    FILE* file = std::fopen(m_path->c_str(), "ab+");
    if (file == nullptr) {
        SetEvent(m_hEvent);
        LogText(text, L"fopen err");
        return false;
    }
    const size_t written = std::fwrite(line.data(), 1, line.size(), file);
    LogText(text, written == 0 ? L"write err" : L"write ok");
    std::fclose(file);
    SetEvent(m_hEvent);
    return true;
}

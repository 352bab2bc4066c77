#include "morvik/core/runlog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "morvik/core/text_utils.h"
#include "morvik/host/host_services.h"

namespace {
constexpr int kMaxFormatted = 2046;

std::atomic<RunLog*> g_log{nullptr};

// Message boxes of the headless host land in the log, under whatever file
// name the log currently has.
void LogSink(const std::wstring& line) {
    if (RunLog* log = g_log.load()) {
        log->Write(line.c_str());
    }
}
}  // namespace

RunLog* RunLog::Instance(const wchar_t* fileName) {
    static RunLog log;
    CString name = (fileName == nullptr || fileName[0] == 0) ? CString(L"run.log") : CString(fileName);
    std::lock_guard<std::mutex> lock(log.m_nameLock);
    if (log.m_strFileName != name) {
        log.m_strFileName = name;
    }
    return &log;
}

RunLog::RunLog() {
    m_hLock = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    m_strLogFolder = GetExeFolder() + L"Log/";
    m_strFileName = L"run.log";
    g_log.store(this);
    SetHostLogSink(&LogSink);
}

RunLog::~RunLog() {
    SetHostLogSink(nullptr);
    g_log.store(nullptr);
    CloseHandle(m_hLock);
}

void RunLog::SetLogFolder(const CString& folder) {
    WaitForSingleObject(m_hLock, INFINITE);
    m_strLogFolder = folder;
    if (!m_strLogFolder.IsEmpty() && m_strLogFolder.Right(1) != L"/") {
        m_strLogFolder += L"/";
    }
    SetEvent(m_hLock);
}

CString RunLog::GetLogFolder() const { return m_strLogFolder; }

void RunLog::SetClock(std::function<void(SYSTEMTIME*)> clock) {
    WaitForSingleObject(m_hLock, INFINITE);
    m_clock = std::move(clock);
    SetEvent(m_hLock);
}

void RunLog::Write(const wchar_t* text) { WriteLine(CString(text != nullptr ? text : L"")); }

void RunLog::WriteFormat(const wchar_t* format, ...) {
    if (format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    CString text;
    text.FormatV(format, args);
    va_end(args);
    if (text.GetLength() > kMaxFormatted) {
        text = text.Left(kMaxFormatted);
    }
    WriteLine(text);
}

void RunLog::WriteLine(const CString& text) {
    if (WaitForSingleObject(m_hLock, m_timeout) != WAIT_OBJECT_0) {
        return;
    }
    SYSTEMTIME st{};
    if (m_clock) {
        m_clock(&st);
    } else {
        GetLocalTime(&st);
    }
    CString line;
    line.Format(L"[%04d-%02d-%02d %02d:%02d:%02d.%03d]", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                st.wSecond, st.wMilliseconds);
    line += text;

    CString day;
    day.Format(L"%s%04d%02d%02d/", static_cast<const wchar_t*>(m_strLogFolder), st.wYear, st.wMonth, st.wDay);
    CreateDirs(day);
    CString name;
    {
        std::lock_guard<std::mutex> lock(m_nameLock);
        name = m_strFileName;
    }
    CString path = day + (name.IsEmpty() ? CString(L"run.log") : name);
    std::string narrowPath = WidePathToUtf8(path);
    if (FILE* f = std::fopen(narrowPath.c_str(), "a+")) {
        std::string bytes = WideToAnsiString(line);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fputc('\n', f);
        std::fclose(f);
    }
    SetEvent(m_hLock);
}

void RunLog::CreateDirs(const wchar_t* path) {
    if (path == nullptr) {
        return;
    }
    std::string p = WidePathToUtf8(path);
    size_t last = p.find_last_of("/\\");
    if (last == std::string::npos) {
        return;
    }
    std::string folder = p.substr(0, last + 1);
    if (access(folder.c_str(), F_OK) == 0) {
        return;
    }
    for (size_t i = 1; i <= last; ++i) {
        if (p[i] == '/' || p[i] == '\\') {
            mkdir(p.substr(0, i).c_str(), 0777);
        }
    }
}

#include "morvik/core/runlog.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <string>
#include <system_error>
#include <thread>

#include "morvik/core/text_utils.h"
#include "morvik/host/host_services.h"

namespace {
constexpr int kMaxFormatted = 2046;

std::atomic<RunLog*> g_log{nullptr};

using Clock = std::chrono::steady_clock;
// Lines waiting for the writer; more are dropped.
constexpr size_t kMaxQueued = 1024;
// How long one line may keep the writer before it counts as held up
// (callers then do not wait at all), and the longest a caller waits for its
// own line while the writer keeps up (it may not have been scheduled yet).
constexpr auto kStuckAfter = std::chrono::milliseconds(60);
constexpr auto kCallerWait = std::chrono::seconds(1);
// A line the writer has not begun by then is dropped.
constexpr auto kLineBound = std::chrono::seconds(2);

struct PendingLine {
    std::string dayFolder;
    std::string path;
    std::string bytes;
    uint64_t seq = 0;
    Clock::time_point queued;
};

// The writer thread and its queue. Never destroyed: a writer held up in the
// file system may outlive main.
struct LogWriter {
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable done;
    std::deque<PendingLine> queue;
    uint64_t nextSeq = 1;
    uint64_t finished = 0;  // lines are finished (written or dropped) in order
    bool running = false;
    bool busy = false;
    Clock::time_point busySince;
    std::atomic<uint64_t> dropped{0};

    bool Stuck(Clock::time_point now) const { return busy && now - busySince > kStuckAfter; }
};

// The writer of this process. A forked child has the queue but not the
// thread, and the lock and the condition variables it took over may hold
// the parent's waiters: it starts afresh with a writer of its own.
LogWriter* g_writer = nullptr;
LogWriter* g_retired = nullptr;  // the parent's, kept reachable
std::once_flag g_writerOnce;

void BeforeFork() { g_writer->mutex.lock(); }
void AfterForkParent() { g_writer->mutex.unlock(); }
void AfterForkChild() {
    auto* fresh = new LogWriter;
    fresh->dropped.store(g_writer->dropped.load());
    g_retired = g_writer;
    g_writer = fresh;
}

LogWriter& Writer() {
    std::call_once(g_writerOnce, [] {
        g_writer = new LogWriter;
        pthread_atfork(&BeforeFork, &AfterForkParent, &AfterForkChild);
    });
    return *g_writer;
}

void CreateFolders(const std::string& p) {
    const size_t last = p.find_last_of("/\\");
    if (last == std::string::npos) return;
    if (access(p.substr(0, last + 1).c_str(), F_OK) == 0) return;
    for (size_t i = 1; i <= last; ++i) {
        if (p[i] == '/' || p[i] == '\\') mkdir(p.substr(0, i).c_str(), 0777);
    }
}

// The file work of one line; false when the line did not reach the file.
// Only a regular file takes lines: a pipe or a device could hold the writer.
bool AppendToFile(const PendingLine& line) {
    CreateFolders(line.dayFolder);
    const int fd = ::open(line.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    size_t done = 0;
    while (ok && done < line.bytes.size()) {
        const ssize_t n = ::write(fd, line.bytes.data() + done, line.bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    ::close(fd);
    return ok;
}

void WriterLoop(LogWriter* w) {
    std::unique_lock<std::mutex> lock(w->mutex);
    for (;;) {
        w->work.wait(lock, [w] { return !w->queue.empty(); });
        PendingLine line = std::move(w->queue.front());
        w->queue.pop_front();
        const Clock::time_point now = Clock::now();
        bool ok = false;
        if (now - line.queued <= kLineBound) {
            w->busy = true;
            w->busySince = now;
            lock.unlock();
            ok = AppendToFile(line);
            lock.lock();
            w->busy = false;
        }
        if (!ok) w->dropped.fetch_add(1);
        w->finished = line.seq;
        w->done.notify_all();
    }
}

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
    CString name;
    {
        std::lock_guard<std::mutex> lock(m_nameLock);
        name = m_strFileName;
    }
    const CString path = day + (name.IsEmpty() ? CString(L"run.log") : name);
    // The lock guards the log's settings only: the file work is the writer's.
    SetEvent(m_hLock);
    Enqueue(WidePathToUtf8(day), WidePathToUtf8(path), WideToAnsiString(line) + '\n');
}

void RunLog::Enqueue(std::string dayFolder, std::string path, std::string bytes) {
    LogWriter& w = Writer();
    std::unique_lock<std::mutex> lock(w.mutex);
    if (w.queue.size() >= kMaxQueued) {
        w.dropped.fetch_add(1);
        return;
    }
    if (!w.running) {
        try {
            std::thread(WriterLoop, &w).detach();
            w.running = true;
        } catch (const std::system_error&) {
            w.dropped.fetch_add(1);
            return;
        }
    }
    const uint64_t seq = w.nextSeq++;
    const Clock::time_point now = Clock::now();
    w.queue.push_back(PendingLine{std::move(dayFolder), std::move(path), std::move(bytes), seq, now});
    w.work.notify_one();
    // A moment for the line to land, so that it is in the file when the
    // call returns; none once the writer is held up.
    const Clock::time_point until = now + kCallerWait;
    while (w.finished < seq && !w.Stuck(Clock::now()) && Clock::now() < until)
        w.done.wait_for(lock, std::chrono::milliseconds(5));
}

uint64_t RunLog::GetDroppedLines() { return Writer().dropped.load(); }

void RunLog::CreateDirs(const wchar_t* path) {
    if (path == nullptr) {
        return;
    }
    CreateFolders(WidePathToUtf8(path));
}

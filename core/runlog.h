// The process-wide diagnostic log: one text file per day under the host
// executable's folder ("Log/YYYYMMDD/run.log"), each line stamped with the
// local time to the millisecond. Lines from any thread keep their order.
//
// The file work itself (folders, open, write) is done by a writer thread of
// the log, never under the lock and never by the caller: a caller waits for
// its line at most a short moment, and not at all while the writer is stuck
// (a hung share, a pipe nobody reads). A line that cannot be written within
// a short bound is dropped and counted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <mutex>

#include "morvik/afx/cstring.h"
#include "morvik/afx/morvik_api.h"
#include "morvik/win32/windows.h"

class MORVIK_API RunLog {
public:
    // Creates the log on first use and selects the file name (null or empty:
    // "run.log").
    static RunLog* Instance(const wchar_t* fileName);

    void Write(const wchar_t* text);
    // MSVC-style wide format; a text longer than 2046 characters is cut.
    void WriteFormat(const wchar_t* format, ...);
    // Creates every missing folder of the path up to its last separator.
    static void CreateDirs(const wchar_t* path);

    // The folder the dated folders go under (default: "Log/" beside the host
    // executable).
    void SetLogFolder(const CString& folder);
    CString GetLogFolder() const;
    // Where the time comes from; null restores the local clock.
    void SetClock(std::function<void(SYSTEMTIME*)> clock);
    // How long a writer waits for its turn, in milliseconds.
    void SetLockTimeout(DWORD ms) { m_timeout = ms; }
    HANDLE GetLockEvent() const { return m_hLock; }
    // Lines dropped since the process started because the writer could not
    // take or write them in time, or the file could not be written.
    static uint64_t GetDroppedLines();

    ~RunLog();

private:
    RunLog();
    void WriteLine(const CString& text);
    static void Enqueue(std::string dayFolder, std::string path, std::string bytes);

    HANDLE m_hLock = nullptr;
    // Instance() may set the name from any thread while others write.
    mutable std::mutex m_nameLock;
    CString m_strFileName;
    CString m_strLogFolder;
    std::function<void(SYSTEMTIME*)> m_clock;
    DWORD m_timeout = 10000;
};

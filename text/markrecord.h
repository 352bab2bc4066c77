// CMarkRecord: the history of the texts one text shape has marked. It keeps
// the texts marked since the history was opened (for the repeat check) and
// those loaded from its history file, and appends each marked text to that
// file as one line, optionally time-stamped and cleared once a day.
//
// The file is text in the ANSI code page, one record per line ending in
// CR LF (a read takes CR LF, LF and CR alone). A stamped line starts
// "YYYY-MM-DD HH:MM:SS|"; a line break inside a text is written as
// backslash and 'n' and read back as CR LF, and a backslash as two (a lone
// backslash not before an 'n', as older files hold it, reads as itself).
//
// Each record is written whole in one append, synced, under a lock that
// every history of the process writing to the same file shares (and a file
// lock for other processes), or not at all.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "morvik/afx/cstring.h"
#include "morvik/afx/ctime.h"
#include "morvik/win32/windows.h"

class MORVIK_API CMarkRecord {
public:
    // The history file used when a text is recorded while none is set: this
    // name in the run log's folder.
    static constexpr const wchar_t* kDefaultFileName = L"markdata.txt";

    CMarkRecord();
    ~CMarkRecord();
    CMarkRecord(const CMarkRecord&) = delete;
    CMarkRecord& operator=(const CMarkRecord&) = delete;

    // Starts the history afresh with these options and loads the file's
    // texts; an empty path means no file. With the daily clear, a reset
    // time that has passed moves to its next occurrence, and a file last
    // written before the latest passed occurrence is cleared first. False
    // when the file cannot be read (later records still create it).
    bool Open(CString path, bool stamp, bool check, bool daily, CTime reset);
    // Whether the text was marked before: among the texts recorded since
    // Open, or (useFile) among those loaded from the file.
    bool Contains(CString text, bool useFile);
    // Records a marked text (nothing when record is false, which is true).
    // True only when the whole line reached the disk; a line written in
    // part is cut back off, and the text is then no repeat either.
    bool AddRecord(CString text, bool record);
    // The daily clear, when it is due: both sets emptied, the file
    // truncated, the reset time moved on. Contains and AddRecord run it
    // first, so a text is never a repeat of what the clear removed.
    void ClearIfDue();
    // The reset time moves to the next occurrence of its time of day that
    // is still ahead: today when it has not passed yet, else tomorrow.
    void RollResetTime();

    // "YYYY-MM-DD HH:MM:SS|" of the local time now; empty when the time
    // cannot be read.
    static std::string MakeTimeStamp();
    static void ReplaceAll(std::string& text, const std::string& from, const std::string& to);
    static CString DefaultPath();

    CTime GetResetTime() const { return m_tmReset; }
    const std::optional<std::string>& GetPath() const { return m_path; }
    size_t GetFileTextCount() const { return m_fileTexts.size(); }
    size_t GetRecentTextCount() const { return m_recentTexts.size(); }

private:
    HANDLE m_hEvent = nullptr;
    std::set<std::string> m_recentTexts;
    std::set<std::string> m_fileTexts;
    std::optional<std::string> m_path;
    std::shared_ptr<std::mutex> m_fileLock;
    bool m_bStamp = false;
    bool m_bCheck = false;
    bool m_bDaily = false;
    CTime m_tmReset;
};

// COutTxtFile: the record of contents (serial numbers, variable texts) that
// have been marked. Every marked text is numbered in memory; when output is
// switched on it is also appended as one line to a text file in the ANSI
// code page, optionally after a local time stamp:
//
//     text\n
//     YYYY-MM-DD HH:MM:SS|text\n
//
// The same file answers whether a text was already marked, so that the host
// can refuse duplicates. The host owns the object and drives it from one
// thread.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <map>

#include "morvik/afx/cstring.h"

class MORVIK_API COutTxtFile {
public:
    COutTxtFile() = default;
    COutTxtFile(const COutTxtFile&) = default;
    COutTxtFile& operator=(const COutTxtFile&) = default;
    ~COutTxtFile() = default;

    // enable: append each text to the file; stamp: put the local time before
    // each line; flag3 is kept for the host. path is the record file (UTF-8
    // on disk, any length).
    void SetOutFlag(int enable, int stamp, int flag3, const CString& path);

    // Stores the text under the current running number, advances the number
    // and, when output is on and the text is not empty, appends its line.
    // The number advances even when the file cannot be written.
    void SetMapString(const CString& text);

    unsigned int GetCurCnt() const { return m_nCurCnt; }
    void SetCurCnt(int n) { m_nCurCnt = static_cast<unsigned int>(n); }

    // 1 when a line of the file is exactly the text, with or without a time
    // stamp in front; 0 when not or when the file cannot be read.
    int IsMarked(const CString& text) const;

    // The texts numbered so far, by running number.
    const std::map<int, CString>& GetTexts() const { return m_mapTexts; }

private:
    void SaveTxtToFile(const CString& text) const;

    std::map<int, CString> m_mapTexts;
    unsigned int m_nCurCnt = 1;
    CString m_strPath;
    int m_bOutput = 0;
    int m_bTimeStamp = 0;
    int m_nFlag3 = 0;
};

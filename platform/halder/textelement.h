// The elements of a variable text: each gives one piece of the text (a fixed
// text, a serial number, a date, a time, a line of a text file, a text that
// arrived from a TCP/IP or serial-port source) and knows how to move on to
// its next value. A VARTEXT_PAR holds them in order; the text is the
// concatenation of their current values.
//
// When an element moves: kinds 1 (serial number), 6 (date), 7 (time) and the
// fixed text move after each marked piece; kinds 2 (text file), 3
// (keyboard), 4 (TCP/IP), 5 (serial port) and 8 to 10 move before it.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/afx/ctime.h"
#include "morvik/core/params.h"
#include "morvik/halder/sribase.h"

enum TEXT_ELEMENT_KIND {
    TEXT_KIND_FIXED = 0,
    TEXT_KIND_SN = 1,
    TEXT_KIND_TXTFILE = 2,
    TEXT_KIND_KEYBOARD = 3,
    TEXT_KIND_TCPIP = 4,
    TEXT_KIND_COM = 5,
    TEXT_KIND_DATE = 6,
    TEXT_KIND_TIME = 7,
    TEXT_KIND_SQL = 8,
    TEXT_KIND_FILES = 9,
    TEXT_KIND_10 = 10,  // known by its number only: it moves before a piece as the file list does
};

// The marking side holds the clock still for the length of one piece, so
// that what is laid out, recorded and compared was read at one moment. Pins
// nest: the outermost one holds the time.
class MORVIK_API VarTextClockPin {
public:
    VarTextClockPin();
    ~VarTextClockPin();
    VarTextClockPin(const VarTextClockPin&) = delete;
    VarTextClockPin& operator=(const VarTextClockPin&) = delete;

private:
    bool m_outer;
};

// The clock of variable texts and of the marked-text history. Tests and
// hosts that replay a run install their own; null restores the system clock.
CTime VarTextNow();
void SetVarTextClock(std::function<CTime()> clock);

struct MORVIK_API TEXT_ELEMENT : public SriBase {
    int32_t nKind = TEXT_KIND_FIXED;
    tagVarAdv advPar;

    TEXT_ELEMENT() = default;
    explicit TEXT_ELEMENT(int kind) : nKind(kind) {}
    ~TEXT_ELEMENT() override = default;

    // Forgets the values handed out during a marking pass.
    virtual void ClearVector() { m_sent.clear(); }
    // Takes the kind, the options and the current text of another element.
    virtual void Copy(const TEXT_ELEMENT& src);
    virtual CString GetText() { return m_strText; }
    // Moves to the next value: 1, or 0 when the source has none (exhausted,
    // stopped, refused).
    virtual int GotoNext() { return 1; }
    // Whether GotoNext would give a value now, without moving: a piece
    // checks every source first, so that a refused piece takes none.
    virtual bool HasNext() { return true; }
    // After a pass in which n pieces were really marked: the element stands
    // where n moves from the pass's start would have left it.
    virtual void SyncAfterMark(int) {}
    virtual void AddSentStringToVec(CString text) { m_sent.push_back(text); }
    // Notes the current value as the start of the pass.
    virtual void SetArrayMaxSn() {}
    // A marking pass starts: every element that moves notes where it stands,
    // so that SyncAfterMark can bring it back to the pieces really marked.
    virtual void BeginPass() {}
    // Sets the current value from a number (a serial number's count, a
    // file's line), and keeps the current value as the one a later reset
    // returns to.
    virtual void ResetTo(int) {}
    virtual void SaveCurrent() {}
    // A deep copy of the whole element, derived state included.
    virtual std::shared_ptr<TEXT_ELEMENT> CloneElement() const;
    // Takes the whole state of an element of the same class (the base part
    // only from any other).
    virtual void CopyAll(const TEXT_ELEMENT& src) { Copy(src); }

    const std::vector<CString>& GetSent() const { return m_sent; }

    // The text a fixed element gives; the others keep their current value here.
    CString m_strText;

protected:
    std::vector<CString> m_sent;
};

using TEXT_FIXED_PAR = TEXT_ELEMENT;

// A serial number: start, step, limit and zero-padded width; it wraps to the
// start past the limit when bLoop is set, else it is exhausted there. It may
// go back to the start once a day at a set time (nResetMode 1).
struct MORVIK_API TEXT_SN_PAR : public TEXT_ELEMENT {
    int64_t nStart = 1;
    int64_t nStep = 1;
    int64_t nEnd = 999999;
    int64_t nCurrent = 1;
    int32_t nWidth = 0;
    int32_t bLoop = 1;
    // 0 never, 1 daily at the time of day of tmReset.
    int32_t nResetMode = 0;
    CTime tmReset;

    TEXT_SN_PAR() : TEXT_ELEMENT(TEXT_KIND_SN) {}
    CString GetText() override;
    // 0 when the number cannot move on without wrapping: it then stays at
    // its last value, which is spent once marked (see IsSpent).
    int GotoNext() override;
    void SyncAfterMark(int n) override;
    void SetArrayMaxSn() override { m_nPassStart = nCurrent; }
    void ResetTo(int value) override {
        nCurrent = value;
        m_bSpent = false;
    }
    void SaveCurrent() override { nStart = nCurrent; }
    // 2 when a daily reset has just put the number back to its start, else 0.
    int SnResetJudge();
    std::shared_ptr<TEXT_ELEMENT> CloneElement() const override;
    void CopyAll(const TEXT_ELEMENT& src) override;

    // Whether the current value may not be marked: its last value was
    // marked and the number does not wrap, or it stands beyond its limit
    // with nothing to wrap to, or its step is 0 (every piece would repeat
    // the number). A piece refused for this is never recorded.
    bool IsSpent() const;
    // Whether a is beyond b in the direction the number counts.
    bool IsPast(int64_t a, int64_t b) const { return nStep >= 0 ? a > b : a < b; }
    // Undo and restores never issue a number again: when the current value
    // is not past `marked` (the last value marked), it moves to the value
    // after it, or is spent when there is none.
    void KeepPast(int64_t marked);

    // The daily reset's next moment (seconds, 0 until the first judge);
    // saved, so that a document reopened after it resets its number.
    int64_t GetNextReset() const { return m_nNextReset; }
    void SetNextReset(int64_t at) { m_nNextReset = at; }
    bool GetSpentFlag() const { return m_bSpent; }
    void SetSpentFlag(bool spent) { m_bSpent = spent; }

private:
    int64_t m_nPassStart = 1;
    int64_t m_nNextReset = 0;
    bool m_bSpent = false;
};

// The local date or time in a strftime form, days added for dates.
struct MORVIK_API TEXT_DATE_PAR : public TEXT_ELEMENT {
    CString strFormat = L"%Y-%m-%d";
    int32_t nDayOffset = 0;

    TEXT_DATE_PAR() : TEXT_ELEMENT(TEXT_KIND_DATE) {}
    CString GetText() override;
    std::shared_ptr<TEXT_ELEMENT> CloneElement() const override;
    void CopyAll(const TEXT_ELEMENT& src) override;
};

struct MORVIK_API TEXT_TIME_PAR : public TEXT_DATE_PAR {
    TEXT_TIME_PAR() {
        nKind = TEXT_KIND_TIME;
        strFormat = L"%H:%M:%S";
    }
    std::shared_ptr<TEXT_ELEMENT> CloneElement() const override;
};

// The lines of a text file (ANSI code page; lines end in CR LF, LF or CR
// alone), one per piece; past the last line it starts again when bLoop is
// set, else it is exhausted. The file is read again when its size or time
// changed since it was read.
struct MORVIK_API TEXTTXT_PAR : public TEXT_ELEMENT {
    CString strFile;
    int32_t bLoop = 0;
    // The line the next move takes (0-based).
    int32_t nNextLine = 0;

    TEXTTXT_PAR() : TEXT_ELEMENT(TEXT_KIND_TXTFILE) {}
    int GotoNext() override;
    bool HasNext() override;
    void ResetTo(int line) override { nNextLine = line < 0 ? 0 : line; }
    void ClearVector() override;
    void BeginPass() override;
    void SyncAfterMark(int n) override;
    std::shared_ptr<TEXT_ELEMENT> CloneElement() const override;
    void CopyAll(const TEXT_ELEMENT& src) override;
    // The lines of a file's bytes as this element takes them.
    static std::vector<std::string> SplitLines(const std::string& bytes);

private:
    bool Load();
    CString m_strLoaded;
    int64_t m_nLoadedSize = -1;
    int64_t m_nLoadedTime = 0;
    std::vector<CString> m_lines;
    // The pass: where it started and the lines its pieces took.
    int32_t m_nPassLine = 0;
    CString m_strPassText;
    std::vector<int32_t> m_taken;
};

// A live source: texts arrive from outside (Receive, any thread) and each
// move takes the oldest one; a stopped source, or one with nothing waiting,
// gives none and the piece is refused. Texts taken for pieces that were not
// marked go back to the front of the queue when the pass is synced.
struct MORVIK_API TEXT_LIVE_PAR : public TEXT_ELEMENT {
    explicit TEXT_LIVE_PAR(int kind) : TEXT_ELEMENT(kind) {}
    TEXT_LIVE_PAR(const TEXT_LIVE_PAR& src);
    void Receive(const CString& text);
    int GotoNext() override;
    bool HasNext() override;
    void Stop(bool stop);
    bool IsStopped() const;
    size_t Waiting() const;
    void CopyAll(const TEXT_ELEMENT& src) override;
    void ClearVector() override;
    void BeginPass() override;
    void SyncAfterMark(int n) override;

private:
    mutable std::mutex m_lock;
    std::deque<CString> m_queue;
    bool m_bStop = false;
    CString m_strPassText;
    std::vector<CString> m_taken;
};

// Keyboard, SQL and file-list sources: the host feeds them through
// Receive as it feeds the TCP/IP and serial-port sources.
struct MORVIK_API TEXT_KEYBOARD_PAR : public TEXT_LIVE_PAR {
    TEXT_KEYBOARD_PAR() : TEXT_LIVE_PAR(TEXT_KIND_KEYBOARD) {}
    std::shared_ptr<TEXT_ELEMENT> CloneElement() const override;
};
struct MORVIK_API TEXT_SQL_PAR : public TEXT_LIVE_PAR {
    TEXT_SQL_PAR() : TEXT_LIVE_PAR(TEXT_KIND_SQL) {}
    std::shared_ptr<TEXT_ELEMENT> CloneElement() const override;
};
struct MORVIK_API TEXT_FILES_PAR : public TEXT_LIVE_PAR {
    TEXT_FILES_PAR() : TEXT_LIVE_PAR(TEXT_KIND_FILES) {}
    std::shared_ptr<TEXT_ELEMENT> CloneElement() const override;
};

struct MORVIK_API TEXT_TCPIP_PAR : public TEXT_LIVE_PAR {
    TEXT_TCPIP_PAR() : TEXT_LIVE_PAR(TEXT_KIND_TCPIP) {}
    void StopNow(void*) { Stop(true); }
    std::shared_ptr<TEXT_ELEMENT> CloneElement() const override;
};

// The serial port of a serial-port element.
class MORVIK_API CAsnComm {
public:
    explicit CAsnComm(TEXT_LIVE_PAR* owner) : m_owner(owner) {}
    void SetStopFlag() { m_owner->Stop(true); }

private:
    TEXT_LIVE_PAR* m_owner;
};

struct MORVIK_API TEXT_COM_PAR : public TEXT_LIVE_PAR {
    TEXT_COM_PAR() : TEXT_LIVE_PAR(TEXT_KIND_COM), comm(this) {}
    TEXT_COM_PAR(const TEXT_COM_PAR& src) : TEXT_LIVE_PAR(src), comm(this) {}
    CAsnComm comm;
    std::shared_ptr<TEXT_ELEMENT> CloneElement() const override;
};

// The saved form of one element, whatever its kind: a text saves its
// elements as a list of these and makes them again after a read. A live
// source keeps no received texts.
struct MORVIK_API TEXT_ELEMENT_REC : public SriBase {
    int32_t nKind = TEXT_KIND_FIXED;
    tagVarAdv advPar;
    std::wstring wstrText;
    int64_t nStart = 1;
    int64_t nStep = 1;
    int64_t nEnd = 999999;
    int64_t nCurrent = 1;
    int32_t nWidth = 0;
    int32_t bLoop = 1;
    int32_t nResetMode = 0;
    CTime tmReset;
    std::wstring wstrFormat;
    int32_t nDayOffset = 0;
    std::wstring wstrFile;
    int32_t nNextLine = 0;
    // The serial's daily-reset moment and spent state; files written
    // without them read as 0 (the next reset is found on the first piece).
    int64_t nNextReset = 0;
    int32_t bSpent = 0;

    TEXT_ELEMENT_REC() = default;
    explicit TEXT_ELEMENT_REC(const TEXT_ELEMENT& e);
    TEXT_ELEMENT_REC(const TEXT_ELEMENT_REC& src) : SriBase(src) { *this = src; }
    TEXT_ELEMENT_REC& operator=(const TEXT_ELEMENT_REC& src);
    // A new element of the saved kind with the saved values.
    std::shared_ptr<TEXT_ELEMENT> Make() const;
    void AddAllProp(bool extended) override;
};

#include "halder/textelement.h"

#include <fstream>
#include <limits>
#include <string>

#include "win32/windows.h"

namespace {

std::mutex g_clockLock;
std::function<CTime()> g_clock;

// Shared by the deep copies: a fresh object of the same class with the
// whole state of src.
template <class T>
std::shared_ptr<TEXT_ELEMENT> CloneOf(const T& src) {
    auto copy = std::make_shared<T>();
    copy->CopyAll(src);
    return copy;
}

}  // namespace

CTime VarTextNow() {
    std::function<CTime()> clock;
    {
        std::lock_guard<std::mutex> lock(g_clockLock);
        clock = g_clock;
    }
    return clock ? clock() : CTime::GetCurrentTime();
}

void SetVarTextClock(std::function<CTime()> clock) {
    std::lock_guard<std::mutex> lock(g_clockLock);
    g_clock = std::move(clock);
}

// ---- TEXT_ELEMENT ------------------------------------------------------------

void TEXT_ELEMENT::Copy(const TEXT_ELEMENT& src) {
    if (&src == this) return;
    nKind = src.nKind;
    advPar = src.advPar;
    m_strText = src.m_strText;
}

std::shared_ptr<TEXT_ELEMENT> TEXT_ELEMENT::CloneElement() const {
    auto copy = std::make_shared<TEXT_ELEMENT>();
    copy->CopyAll(*this);
    copy->m_sent = m_sent;
    return copy;
}


// ---- serial number -----------------------------------------------------------

CString TEXT_SN_PAR::GetText() {
    const size_t width = static_cast<size_t>(nWidth < 0 ? 0 : (nWidth > 32 ? 32 : nWidth));
    const bool negative = nCurrent < 0;
    // Built by hand: the magnitude of the smallest value has no positive twin.
    std::wstring digits = std::to_wstring(static_cast<unsigned long long>(negative ? -(nCurrent + 1) : nCurrent) +
                                          (negative ? 1ULL : 0ULL));
    if (digits.size() < width) digits.insert(0, width - digits.size(), L'0');
    if (negative) digits.insert(0, 1, L'-');
    return CString(digits.c_str());
}

int TEXT_SN_PAR::GotoNext() {
    // Counted in a wider type: a step near the limits of 64 bits must not
    // wrap around into a value that looks in range.
    const __int128 next = static_cast<__int128>(nCurrent) + nStep;
    const bool past = nStep >= 0 ? next > nEnd : next < nEnd;
    if (!past) {
        nCurrent = static_cast<int64_t>(next);
        return 1;
    }
    if (bLoop == 0) return 0;
    nCurrent = nStart;
    return 1;
}

void TEXT_SN_PAR::SyncAfterMark(int n) {
    // n moves of GotoNext from the pass's start, counted rather than made:
    // a host may report any number of pieces.
    using Wide = __int128;
    const Wide step = nStep;
    const Wide size = step < 0 ? -step : step;
    // How many moves from `from` stay within the limit.
    auto within = [&](Wide from) -> Wide {
        const Wide room = step >= 0 ? Wide(nEnd) - from : from - Wide(nEnd);
        if (room < 0) return 0;
        return size == 0 ? Wide(n) : room / size;
    };
    Wide cur = m_nPassStart;
    Wide left = n < 0 ? 0 : n;
    const Wide first = within(cur);
    if (left <= first) {
        nCurrent = static_cast<int64_t>(cur + left * step);
        return;
    }
    cur += first * step;
    left -= first;
    if (bLoop == 0) {
        nCurrent = static_cast<int64_t>(cur);  // exhausted at its last value
        return;
    }
    // The next move wraps to the start; from there the values repeat.
    --left;
    const Wide cycle = within(nStart) + 1;
    nCurrent = static_cast<int64_t>(Wide(nStart) + (left % cycle) * step);
}

int TEXT_SN_PAR::SnResetJudge() {
    if (nResetMode != 1) return 0;
    const CTime now = VarTextNow();
    auto todayAt = [this](const CTime& day) {
        return CTime(day.GetYear(), day.GetMonth(), day.GetDay(), tmReset.GetHour(), tmReset.GetMinute(),
                     tmReset.GetSecond())
            .GetTime();
    };
    if (m_nNextReset == 0) {
        // The first judge only finds the next reset moment: today's when it
        // is still ahead, otherwise tomorrow's.
        m_nNextReset = todayAt(now);
        if (m_nNextReset <= now.GetTime()) m_nNextReset = todayAt(CTime(now.GetTime() + 86400));
        return 0;
    }
    if (now.GetTime() < m_nNextReset) return 0;
    nCurrent = nStart;
    m_nNextReset = todayAt(CTime(now.GetTime() + 86400));
    if (m_nNextReset <= now.GetTime()) m_nNextReset = now.GetTime() + 86400;
    return 2;
}

void TEXT_SN_PAR::CopyAll(const TEXT_ELEMENT& src) {
    Copy(src);
    if (const auto* sn = dynamic_cast<const TEXT_SN_PAR*>(&src)) {
        nStart = sn->nStart;
        nStep = sn->nStep;
        nEnd = sn->nEnd;
        nCurrent = sn->nCurrent;
        nWidth = sn->nWidth;
        bLoop = sn->bLoop;
        nResetMode = sn->nResetMode;
        tmReset = sn->tmReset;
        m_nPassStart = sn->m_nPassStart;
        m_nNextReset = sn->m_nNextReset;
    }
}

std::shared_ptr<TEXT_ELEMENT> TEXT_SN_PAR::CloneElement() const { return CloneOf(*this); }


// ---- date and time -----------------------------------------------------------

CString TEXT_DATE_PAR::GetText() {
    const int64_t days = nDayOffset;
    return CTime(VarTextNow().GetTime() + days * 86400).Format(strFormat.GetString());
}

void TEXT_DATE_PAR::CopyAll(const TEXT_ELEMENT& src) {
    Copy(src);
    if (const auto* d = dynamic_cast<const TEXT_DATE_PAR*>(&src)) {
        strFormat = d->strFormat;
        nDayOffset = d->nDayOffset;
    }
}

std::shared_ptr<TEXT_ELEMENT> TEXT_DATE_PAR::CloneElement() const { return CloneOf(*this); }
std::shared_ptr<TEXT_ELEMENT> TEXT_TIME_PAR::CloneElement() const { return CloneOf(*this); }

// ---- text file ---------------------------------------------------------------

bool TEXTTXT_PAR::Load() {
    if (!m_lines.empty() && m_strLoaded == strFile) return true;
    m_lines.clear();
    m_strLoaded = strFile;
    std::ifstream in(WideToAnsi(std::wstring(strFile.GetString()), CP_UTF8), std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        m_lines.emplace_back(AnsiToWide(line).c_str());
    }
    return !m_lines.empty();
}

int TEXTTXT_PAR::GotoNext() {
    if (!Load()) return 0;
    if (nNextLine < 0) nNextLine = 0;
    if (static_cast<size_t>(nNextLine) >= m_lines.size()) {
        if (bLoop == 0) return 0;
        nNextLine = 0;
    }
    m_strText = m_lines[static_cast<size_t>(nNextLine)];
    ++nNextLine;
    return 1;
}

void TEXTTXT_PAR::CopyAll(const TEXT_ELEMENT& src) {
    Copy(src);
    if (const auto* t = dynamic_cast<const TEXTTXT_PAR*>(&src)) {
        strFile = t->strFile;
        bLoop = t->bLoop;
        nNextLine = t->nNextLine;
    }
}

std::shared_ptr<TEXT_ELEMENT> TEXTTXT_PAR::CloneElement() const { return CloneOf(*this); }

// ---- live sources ------------------------------------------------------------

TEXT_LIVE_PAR::TEXT_LIVE_PAR(const TEXT_LIVE_PAR& src) : TEXT_ELEMENT(src.nKind) { CopyAll(src); }

void TEXT_LIVE_PAR::Receive(const CString& text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_queue.push_back(text);
}

int TEXT_LIVE_PAR::GotoNext() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bStop || m_queue.empty()) return 0;
    m_strText = m_queue.front();
    m_queue.pop_front();
    return 1;
}

void TEXT_LIVE_PAR::Stop(bool stop) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bStop = stop;
}

bool TEXT_LIVE_PAR::IsStopped() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bStop;
}

void TEXT_LIVE_PAR::CopyAll(const TEXT_ELEMENT& src) {
    Copy(src);
    if (const auto* live = dynamic_cast<const TEXT_LIVE_PAR*>(&src); live != nullptr && live != this) {
        // The received texts stay with their source: a copy takes only the
        // current text and whether the source is stopped.
        const bool stopped = live->IsStopped();
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStop = stopped;
    }
}

std::shared_ptr<TEXT_ELEMENT> TEXT_TCPIP_PAR::CloneElement() const { return CloneOf(*this); }
std::shared_ptr<TEXT_ELEMENT> TEXT_COM_PAR::CloneElement() const { return CloneOf(*this); }

// ---- saved form --------------------------------------------------------------

TEXT_ELEMENT_REC& TEXT_ELEMENT_REC::operator=(const TEXT_ELEMENT_REC& src) {
    if (&src == this) return *this;
    nKind = src.nKind;
    advPar = src.advPar;
    wstrText = src.wstrText;
    nStart = src.nStart;
    nStep = src.nStep;
    nEnd = src.nEnd;
    nCurrent = src.nCurrent;
    nWidth = src.nWidth;
    bLoop = src.bLoop;
    nResetMode = src.nResetMode;
    tmReset = src.tmReset;
    wstrFormat = src.wstrFormat;
    nDayOffset = src.nDayOffset;
    wstrFile = src.wstrFile;
    nNextLine = src.nNextLine;
    return *this;
}

TEXT_ELEMENT_REC::TEXT_ELEMENT_REC(const TEXT_ELEMENT& e) : nKind(e.nKind), advPar(e.advPar) {
    wstrText = e.m_strText.GetString();
    if (const auto* sn = dynamic_cast<const TEXT_SN_PAR*>(&e)) {
        nStart = sn->nStart;
        nStep = sn->nStep;
        nEnd = sn->nEnd;
        nCurrent = sn->nCurrent;
        nWidth = sn->nWidth;
        bLoop = sn->bLoop;
        nResetMode = sn->nResetMode;
        tmReset = sn->tmReset;
    } else if (const auto* d = dynamic_cast<const TEXT_DATE_PAR*>(&e)) {
        wstrFormat = d->strFormat.GetString();
        nDayOffset = d->nDayOffset;
    } else if (const auto* t = dynamic_cast<const TEXTTXT_PAR*>(&e)) {
        wstrFile = t->strFile.GetString();
        bLoop = t->bLoop;
        nNextLine = t->nNextLine;
    }
}

std::shared_ptr<TEXT_ELEMENT> TEXT_ELEMENT_REC::Make() const {
    std::shared_ptr<TEXT_ELEMENT> e;
    switch (nKind) {
        case TEXT_KIND_SN: {
            auto sn = std::make_shared<TEXT_SN_PAR>();
            sn->nStart = nStart;
            sn->nStep = nStep;
            sn->nEnd = nEnd;
            sn->nCurrent = nCurrent;
            sn->nWidth = nWidth;
            sn->bLoop = bLoop;
            sn->nResetMode = nResetMode;
            sn->tmReset = tmReset;
            e = sn;
            break;
        }
        case TEXT_KIND_DATE:
        case TEXT_KIND_TIME: {
            std::shared_ptr<TEXT_DATE_PAR> d;
            if (nKind == TEXT_KIND_TIME)
                d = std::make_shared<TEXT_TIME_PAR>();
            else
                d = std::make_shared<TEXT_DATE_PAR>();
            if (!wstrFormat.empty()) d->strFormat = wstrFormat.c_str();
            d->nDayOffset = nDayOffset;
            e = d;
            break;
        }
        case TEXT_KIND_TXTFILE: {
            auto t = std::make_shared<TEXTTXT_PAR>();
            t->strFile = wstrFile.c_str();
            t->bLoop = bLoop;
            t->ResetTo(nNextLine);
            e = t;
            break;
        }
        case TEXT_KIND_TCPIP: e = std::make_shared<TEXT_TCPIP_PAR>(); break;
        case TEXT_KIND_COM: e = std::make_shared<TEXT_COM_PAR>(); break;
        default: e = std::make_shared<TEXT_ELEMENT>(nKind); break;
    }
    e->advPar = advPar;
    e->m_strText = wstrText.c_str();
    return e;
}

void TEXT_ELEMENT_REC::AddAllProp(bool) {
    AddProp("nKind", &nKind);
    AddProp("advPar", &advPar);
    AddProp("wstrText", &wstrText);
    AddProp("nStart", &nStart);
    AddProp("nStep", &nStep);
    AddProp("nEnd", &nEnd);
    AddProp("nCurrent", &nCurrent);
    AddProp("nWidth", &nWidth);
    AddProp("bLoop", &bLoop);
    AddProp("nResetMode", &nResetMode);
    AddProp("tmReset", &tmReset);
    AddProp("wstrFormat", &wstrFormat);
    AddProp("nDayOffset", &nDayOffset);
    AddProp("wstrFile", &wstrFile);
    AddProp("nNextLine", &nNextLine);
}

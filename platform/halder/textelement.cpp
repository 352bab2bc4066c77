#include "morvik/halder/textelement.h"

#include <sys/stat.h>

#include <cstdio>
#include <limits>
#include <string>

#include "morvik/win32/windows.h"

namespace {

std::mutex g_clockLock;
std::function<CTime()> g_clock;
thread_local int g_pinDepth = 0;
thread_local CTime g_pinned;

// Shared by the deep copies: a fresh object of the same class with the
// whole state of src.
template <class T>
std::shared_ptr<TEXT_ELEMENT> CloneOf(const T& src) {
    auto copy = std::make_shared<T>();
    copy->CopyAll(src);
    return copy;
}

}  // namespace

VarTextClockPin::VarTextClockPin() : m_outer(g_pinDepth == 0) {
    if (m_outer) g_pinned = VarTextNow();
    ++g_pinDepth;
}

VarTextClockPin::~VarTextClockPin() { --g_pinDepth; }

CTime VarTextNow() {
    if (g_pinDepth > 0) return g_pinned;
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
    if (bLoop == 0) {
        m_bSpent = true;
        return 0;
    }
    nCurrent = nStart;
    return 1;
}

bool TEXT_SN_PAR::IsSpent() const {
    if (m_bSpent || nStep == 0) return true;
    return IsPast(nCurrent, nEnd) && (bLoop == 0 || IsPast(nStart, nEnd));
}

void TEXT_SN_PAR::KeepPast(int64_t marked) {
    if (IsPast(nCurrent, marked)) return;
    const __int128 next = static_cast<__int128>(marked) + nStep;
    const bool past = nStep >= 0 ? next > nEnd : next < nEnd;
    if (nStep == 0 || past || next > std::numeric_limits<int64_t>::max() ||
        next < std::numeric_limits<int64_t>::min()) {
        // Nothing after it: a wrap would issue old numbers again.
        nCurrent = marked;
        m_bSpent = true;
        return;
    }
    nCurrent = static_cast<int64_t>(next);
    m_bSpent = false;
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
    m_bSpent = false;
    if (left <= first) {
        nCurrent = static_cast<int64_t>(cur + left * step);
        return;
    }
    cur += first * step;
    left -= first;
    if (bLoop == 0) {
        nCurrent = static_cast<int64_t>(cur);  // its last value was marked
        m_bSpent = true;
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
    m_bSpent = false;
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
        m_bSpent = sn->m_bSpent;
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

std::vector<std::string> TEXTTXT_PAR::SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') continue;
        lines.push_back(bytes.substr(start, i - start));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < bytes.size()) lines.push_back(bytes.substr(start));
    return lines;
}

bool TEXTTXT_PAR::Load() {
    const std::string path = WideToAnsi(std::wstring(strFile.GetString()), CP_UTF8);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        m_lines.clear();
        m_nLoadedSize = -1;
        return false;
    }
    const int64_t time = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (!m_lines.empty() && m_strLoaded == strFile && m_nLoadedSize == st.st_size && m_nLoadedTime == time)
        return true;
    m_lines.clear();
    m_strLoaded = strFile;
    m_nLoadedSize = st.st_size;
    m_nLoadedTime = time;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::string bytes;
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return false;
    for (const std::string& line : SplitLines(bytes)) m_lines.emplace_back(AnsiToWide(line).c_str());
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
    m_taken.push_back(nNextLine);
    ++nNextLine;
    return 1;
}

bool TEXTTXT_PAR::HasNext() {
    if (!Load()) return false;
    const size_t next = nNextLine < 0 ? 0 : static_cast<size_t>(nNextLine);
    return bLoop != 0 || next < m_lines.size();
}

void TEXTTXT_PAR::ClearVector() {
    TEXT_ELEMENT::ClearVector();
    m_taken.clear();
}

void TEXTTXT_PAR::BeginPass() {
    m_taken.clear();
    m_nPassLine = nNextLine;
    m_strPassText = m_strText;
}

void TEXTTXT_PAR::SyncAfterMark(int n) {
    // The first piece not marked gives its line back; the text is that of
    // the last piece marked.
    if (n < 0) n = 0;
    if (static_cast<size_t>(n) >= m_taken.size()) return;
    nNextLine = m_taken[static_cast<size_t>(n)];
    if (n == 0) {
        m_strText = m_strPassText;
    } else {
        const size_t line = static_cast<size_t>(m_taken[static_cast<size_t>(n) - 1]);
        if (line < m_lines.size()) m_strText = m_lines[line];
    }
    m_taken.resize(static_cast<size_t>(n));
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
    m_taken.push_back(m_strText);
    return 1;
}

bool TEXT_LIVE_PAR::HasNext() {
    std::lock_guard<std::mutex> lock(m_lock);
    return !m_bStop && !m_queue.empty();
}

size_t TEXT_LIVE_PAR::Waiting() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_queue.size();
}

void TEXT_LIVE_PAR::ClearVector() {
    TEXT_ELEMENT::ClearVector();
    std::lock_guard<std::mutex> lock(m_lock);
    m_taken.clear();
}

void TEXT_LIVE_PAR::BeginPass() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_taken.clear();
    m_strPassText = m_strText;
}

void TEXT_LIVE_PAR::SyncAfterMark(int n) {
    // Texts taken for pieces that were not marked are offered again first.
    std::lock_guard<std::mutex> lock(m_lock);
    if (n < 0) n = 0;
    const size_t kept = static_cast<size_t>(n);
    if (kept >= m_taken.size()) return;
    m_queue.insert(m_queue.begin(), m_taken.begin() + static_cast<std::ptrdiff_t>(kept), m_taken.end());
    m_strText = kept == 0 ? m_strPassText : m_taken[kept - 1];
    m_taken.resize(kept);
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
std::shared_ptr<TEXT_ELEMENT> TEXT_KEYBOARD_PAR::CloneElement() const { return CloneOf(*this); }
std::shared_ptr<TEXT_ELEMENT> TEXT_SQL_PAR::CloneElement() const { return CloneOf(*this); }
std::shared_ptr<TEXT_ELEMENT> TEXT_FILES_PAR::CloneElement() const { return CloneOf(*this); }

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
    nNextReset = src.nNextReset;
    bSpent = src.bSpent;
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
        nNextReset = sn->GetNextReset();
        bSpent = sn->GetSpentFlag() ? 1 : 0;
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
            sn->SetNextReset(nNextReset);
            sn->SetSpentFlag(bSpent != 0);
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
        case TEXT_KIND_KEYBOARD: e = std::make_shared<TEXT_KEYBOARD_PAR>(); break;
        case TEXT_KIND_SQL: e = std::make_shared<TEXT_SQL_PAR>(); break;
        case TEXT_KIND_FILES: e = std::make_shared<TEXT_FILES_PAR>(); break;
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
    AddProp("nNextReset", &nNextReset);
    AddProp("bSpent", &bSpent);
}

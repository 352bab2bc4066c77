// The text shape on the marking side: its mark data per pen, the variable
// text that moves on from piece to piece, the repeat question and the
// history of marked texts.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "morvik/compose/filledshape.h"
#include "morvik/core/runlog.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/textelement.h"
#include "morvik/host/host_services.h"
#include "morvik/text/fonts.h"
#include "morvik/text/markrecord.h"
#include "morvik/text/vartext.h"

namespace {

RunLog* Log() { return RunLog::Instance(nullptr); }

// The first build with a turning hatch in the process keeps the configured
// angles; every later one turns them.
std::mutex g_turnLock;
int g_firstRotation = 0;

// The first field of the control record asks for serial numbers to move
// right after the rebuild.
constexpr int kEarlySerial = 30;

bool TurnsPerMark(const SHAPE_FILLER_PARAM& set) {
    return set.bEnable != 0 && set.m_fill_rotate != 0 && std::fabs(set.m_fRotateAngle) > 1e-06;
}

void Append(std::vector<tagPathData>& to, std::vector<tagPathData>& from) {
    for (tagPathData& d : from) to.push_back(std::move(d));
}

tagPathData Group(int pen, std::vector<std::vector<tagPOINTF>> lines) {
    tagPathData data;
    data.nPenIndex = pen;
    data.arrPolylines = std::move(lines);
    return data;
}

void AddDots(std::vector<tagPathData>& to, int pen, const std::vector<tagPOINTF>& dots, size_t from, size_t count) {
    for (size_t i = from; i < from + count && i < dots.size(); ++i) to.push_back(Group(pen, {{dots[i]}}));
}

void ReverseBoth(tagMarkDataPar& data) {
    std::reverse(data.arrPaths.begin(), data.arrPaths.end());
    std::reverse(data.arrPaths2.begin(), data.arrPaths2.end());
}

// The sources that move before a piece: the text files and the fed or
// connected ones.
bool MovesBefore(int kind) {
    return kind == TEXT_KIND_TXTFILE || kind == TEXT_KIND_KEYBOARD || kind == TEXT_KIND_TCPIP ||
           kind == TEXT_KIND_COM || kind == TEXT_KIND_SQL || kind == TEXT_KIND_FILES || kind == TEXT_KIND_10;
}

// Keyboard, SQL and file-list elements have their value fed by the host.
bool IsFedKind(int kind) {
    return kind == TEXT_KIND_KEYBOARD || kind == TEXT_KIND_SQL || kind == TEXT_KIND_FILES;
}

// The elements that move before a piece of per-character mark data: the
// file-list source too, which is fed like the others and must not mark a
// value left from before.
bool MovesBeforeChars(int kind) { return MovesBefore(kind) && kind != TEXT_KIND_10; }

// Why a piece is refused, in the run log: the operator finds the reason
// there instead of a piece that silently did not come.
void LogRefusal(size_t index, int kind, const wchar_t* why) {
    Log()->WriteFormat(L"variable text element %d (kind %d): %s; piece refused", static_cast<int>(index), kind, why);
}

// Whether an element that moves before its piece can give it a value; the
// run log says why not.
bool CanMoveForPiece(TEXT_ELEMENT* e, size_t index) {
    if (IsFedKind(e->nKind) && dynamic_cast<TEXT_LIVE_PAR*>(e) == nullptr) {
        LogRefusal(index, e->nKind, L"no source feeds it");
        return false;
    }
    if (e->HasNext()) return true;
    if (auto* file = dynamic_cast<TEXTTXT_PAR*>(e)) {
        CString why;
        why.Format(L"text file \"%s\" cannot be read or has no line left", file->strFile.GetString());
        LogRefusal(index, e->nKind, why.GetString());
    } else {
        LogRefusal(index, e->nKind, L"its source has no value");
    }
    return false;
}

// Moves an element before its piece; a source without a value refuses it.
bool MoveForPiece(TEXT_ELEMENT* e, size_t index) {
    if (!CanMoveForPiece(e, index)) return false;
    if (e->GotoNext() != 0) return true;
    LogRefusal(index, e->nKind, L"its source has no value");
    return false;
}

}  // namespace

void CFonts::ResetFirstRotation() {
    std::lock_guard<std::mutex> lock(g_turnLock);
    g_firstRotation = 0;
}

CMarkRecord* CFonts::GetMarkRecord() {
    // The editor and the marking thread may both be first.
    static std::mutex making;
    std::lock_guard<std::mutex> lock(making);
    if (!m_markRecord) m_markRecord = std::make_shared<CMarkRecord>();
    return m_markRecord.get();
}

void CFonts::GetTxtOutPara(int& outTxt, int& outTm, int& mkFlag, int& timingReset, CTime& tmReset, CString& outName) {
    outTxt = m_bOutTxt;
    outTm = m_bOutTm;
    mkFlag = m_bMkFlag;
    timingReset = m_bTimingReset;
    tmReset = m_tmReset;
    outName = m_strOutName;
}

void CFonts::SetTxtOutPara(int outTxt, int outTm, int mkFlag, int timingReset, CTime tmReset, CString& outName) {
    m_bOutTxt = outTxt;
    m_bOutTm = outTm;
    m_bMkFlag = mkFlag;
    m_bTimingReset = timingReset;
    m_tmReset = tmReset;
    m_strOutName = outName;
}

void CFonts::PrepareBeforeMark(tagMarkCtlData, int) {
    if (parVarText.bEnable != 0) {
        for (const auto& e : parVarText.arrElements) {
            if (e == nullptr) continue;
            e->ClearVector();
            if (e->nKind == TEXT_KIND_SN) {
                e->AddSentStringToVec(e->GetText());
                e->SetArrayMaxSn();
            }
            e->BeginPass();
        }
    }
    GetMarkRecord()->Open(m_bOutTxt != 0 ? m_strOutName : CString(), m_bOutTm != 0, m_bMkFlag != 0,
                          m_bTimingReset != 0, m_tmReset);
}

// ---- helpers of GetMarkData -------------------------------------------------------------------

namespace {

// The question before a text is marked again; true when the operator asks
// to stop (OK, also the answer of a host without a user).
bool StopOnRepeat(CMarkRecord* record, const CString& text, bool markMode, HWND owner) {
    if (!record->Contains(text, true)) return false;
    CBaseFrame* frame = CBaseFrame::GetMainFrame();
    if (frame == nullptr || (frame->GetMarkMode() != 0) != markMode) return false;
    return MessageBoxW(owner, L"文本重复标刻，停止吗？", L"重复标刻提示", MB_OKCANCEL | MB_TOPMOST) == IDOK;
}

// Records the piece's text when recording is on; a text that cannot be
// recorded is not marked, or the history could let it be marked again.
bool CodeWasRefused(bool refused) {
    if (refused) Log()->Write(L"GetMarkData refused: the code of the text was refused by SetFonts");
    return refused;
}

bool RecordOrRefuse(CMarkRecord* record, const CString& text, bool recording) {
    if (record->AddRecord(text, recording)) return true;
    CString line;
    line.Format(L"GetMarkData refused: \"%s\" could not be written to the history of marked texts",
                static_cast<const wchar_t*>(text));
    Log()->Write(line.GetString());
    // Told once the text's event is given back: only the repeat question
    // is asked while it is held.
    CBaseShape::WhenReleased([] {
        MessageBoxW(nullptr, L"The text could not be written to the history of marked texts: the piece is not marked.",
                    L"Error", MB_OK | MB_TOPMOST);
    });
    return false;
}

}  // namespace

bool CFonts::GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) {
    LockShape();
    MarkDataLock lock(this, &out);
    // One reading of the clock for the piece: what is laid out, recorded
    // and compared is the same string.
    VarTextClockPin pin;
    auto finish = [&lock](bool ok) {
        lock.Finish(ok);
        Log()->Write(L"GetMarkData return");
        return ok;
    };
    const bool early = ctl != nullptr && ctl->nPass == kEarlySerial;
    const bool variable = parVarText.bEnable != 0;
    bool turning = false;
    for (const SHAPE_FILLER_PARAM& set : parFill.fillParams) turning = turning || TurnsPerMark(set);
    CMarkRecord* record = GetMarkRecord();
    if (!variable && CodeWasRefused(m_bCodeRefused)) return finish(false);

    if (m_pView != nullptr && !turning && !variable && !m_markCache.IsEmpty() && m_bForce == 0) {
        out = m_markCache;
        if (m_bOutTxt != 0 && m_bMkFlag != 0 && StopOnRepeat(record, m_strText, false, nullptr)) return finish(false);
        if (!RecordOrRefuse(record, m_strText, m_bOutTxt != 0)) return finish(false);
        lock.Leave(true);
        return true;
    }

    StartRebuild(out);
    if (bFilled != 0) TurnHatchPerMark(turning);

    const bool keepValues = m_markCache.bFlag != 0;
    // The string the piece marks: the one its outlines show.
    CString marked = m_strText;
    std::vector<int64_t> serials;
    if (variable) {
        switch (BuildVariablePiece(early, !keepValues, marked, serials)) {
            case MarkStep::Go: break;
            case MarkStep::Fail: return finish(false);
            case MarkStep::FailQuiet: return false;
        }
    }

    // A variable text was laid out again for the piece, or kept a refused one.
    if (variable && CodeWasRefused(m_bCodeRefused)) return finish(false);
    if (m_bOutTxt != 0 && m_bMkFlag != 0 && StopOnRepeat(record, marked, false, nullptr)) return finish(false);

    CollectMarkPaths();
    if (!RecordOrRefuse(record, marked, m_bOutTxt != 0)) return finish(false);
    NoteMarkedSerials(serials);
    if (IsReverseOrder()) ReverseBoth(m_markCache);

    if (variable && !keepValues) AdvanceAfterPiece(early);
    out = m_markCache;
    return finish(true);
}

void CFonts::NoteMarkedSerials(const std::vector<int64_t>& serials) {
    if (m_arrSerialMarked.size() < serials.size()) m_arrSerialMarked.resize(serials.size());
    for (size_t k = 0; k < serials.size(); ++k) {
        SerialMarks& m = m_arrSerialMarked[k];
        m.low = m.any ? std::min(m.low, serials[k]) : serials[k];
        m.high = m.any ? std::max(m.high, serials[k]) : serials[k];
        m.any = true;
    }
}

void CFonts::KeepSerialsPastMarked(VARTEXT_PAR& vartext) const {
    size_t k = 0;
    for (const auto& e : vartext.arrElements) {
        auto* sn = dynamic_cast<TEXT_SN_PAR*>(e.get());
        if (sn == nullptr) continue;
        if (k < m_arrSerialMarked.size() && m_arrSerialMarked[k].any)
            sn->KeepPast(sn->nStep >= 0 ? m_arrSerialMarked[k].high : m_arrSerialMarked[k].low);
        ++k;
    }
}

// The cache starts from the caller's header; its paths never pile up.
void CFonts::StartRebuild(const tagMarkDataPar& out) {
    SetGetDataForce(false);
    m_markCache = out;
    m_markCache.Clear();
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->ClearMarkBuff();
}

// Hatch sets that turn per mark move by their step, except on the first
// such build of the process, and the fill is made again at the new angles.
void CFonts::TurnHatchPerMark(bool turning) {
    bool turned = false;
    {
        std::lock_guard<std::mutex> guard(g_turnLock);
        for (SHAPE_FILLER_PARAM& set : parFill.fillParams) {
            if (!TurnsPerMark(set)) continue;
            if (g_firstRotation != 0) {
                set.fAngle = std::fmod(set.fAngle + set.m_fRotateAngle, 360.0);
                turned = true;
            }
        }
        if (turning) g_firstRotation = 1;
    }
    if (turned) {
        WaitForSingleObject(m_hLayoutEvent, INFINITE);
        DeleteFillHeld();
        SetFillHeld(parFill, false);
        SetEvent(m_hLayoutEvent);
    }
}

// The piece's text from the elements; sources that move before a piece
// move now (unless the values are kept), and the text is laid out again
// when anything changed or the outlines show another string. A spent
// serial number or a source without a value refuses the piece before
// anything is drawn or recorded. `marked` receives the piece's string,
// `serials` the values of its serial numbers in order.
CFonts::MarkStep CFonts::BuildVariablePiece(bool early, bool move, CString& marked, std::vector<int64_t>& serials) {
    CString text;
    bool changed = false;
    CFonts* parent = nullptr;
    if (GetLinkFlag() && m_pDoc != nullptr) parent = dynamic_cast<CFonts*>(m_pDoc->GetShapeByUUID(GetParentBaseID()));
    const auto& elements = parVarText.arrElements;
    // Every element is asked first: a refused piece takes no value from
    // any source. A daily reset comes before the question whether a serial
    // number is spent.
    std::vector<bool> reset(elements.size(), false);
    for (size_t i = 0; move && i < elements.size(); ++i) {
        TEXT_ELEMENT* e = elements[i].get();
        if (e == nullptr) continue;
        if (auto* sn = dynamic_cast<TEXT_SN_PAR*>(e); sn != nullptr && e->nKind == TEXT_KIND_SN) {
            reset[i] = sn->SnResetJudge() == 2;
            if (sn->IsSpent()) {
                LogRefusal(i, e->nKind, sn->nStep == 0 ? L"serial number with step 0" : L"serial number spent");
                return MarkStep::Fail;
            }
        }
        if (!MovesBefore(e->nKind)) continue;
        const bool linked = parent != nullptr && parent != this && i < parent->parVarText.arrElements.size() &&
                            parent->parVarText.arrElements[i] != nullptr && e->nKind != TEXT_KIND_TXTFILE && e->nKind != TEXT_KIND_KEYBOARD;
        if (!linked && !CanMoveForPiece(e, i)) return MarkStep::Fail;
    }
    for (size_t i = 0; i < elements.size(); ++i) {
        TEXT_ELEMENT* e = elements[i].get();
        if (e == nullptr) continue;
        const int kind = e->nKind;
        if (kind == TEXT_KIND_SN) {
            if (reset[i]) {
                changed = true;
                Log()->WriteFormat(L"reset:%s...", text.GetString());
            }
            if (auto* sn = dynamic_cast<TEXT_SN_PAR*>(e)) serials.push_back(sn->nCurrent);
            changed = changed || (move && early);
        } else if (!move) {
        } else if (kind == TEXT_KIND_TXTFILE || kind == TEXT_KIND_KEYBOARD) {
            if (!MoveForPiece(e, i)) return MarkStep::Fail;
            changed = true;
        } else if (MovesBefore(kind)) {
            // A linked text takes what its parent took; a parent that is
            // gone or shorter leaves the element to its own source. A
            // copy that shares the parent's element already holds its
            // value: moving it would skip one for both.
            TEXT_ELEMENT* from = nullptr;
            if (parent != nullptr && parent != this && i < parent->parVarText.arrElements.size())
                from = parent->parVarText.arrElements[i].get();
            if (from == e) {
            } else if (from != nullptr) {
                if (kind == TEXT_KIND_FILES || kind == TEXT_KIND_10)
                    e->Copy(*from);
                else
                    e->CopyAll(*from);
            } else if (!MoveForPiece(e, i)) {
                return MarkStep::Fail;
            }
            changed = true;
        }
        text += e->GetText();
    }
    marked = text;
    if (changed || text != m_strText) {
        TextContent content(this, TextContent::Held{});
        if (content.ApplyHeld(this, text, 1, true) == 0) {
            Log()->Write(L"SetFonts bRet ERROR");
            return MarkStep::FailQuiet;
        }
    }
    if (move && early) {
        // A number that cannot move on is spent after this piece, which
        // still marks its value.
        for (const auto& e : elements)
            if (e != nullptr && e->nKind == TEXT_KIND_SN) e->GotoNext();
    }
    return MarkStep::Go;
}

// The paths of the laid-out text into the cache: fills, dots, barcode bars
// and readable text, or the outlines.
void CFonts::CollectMarkPaths() {
    const float outlineTolerance = std::max(GetSmoothRatio(), 0.1f);
    const int pen = GetPenIndex();
    auto fillData = [this](CFilledShape* fill, const wchar_t* failure) {
        tagMarkDataPar local;
        local.bFlag = m_markCache.bFlag;
        local.nReserved1 = m_markCache.nReserved1;
        fill->GetMarkData(local, nullptr);
        if (local.arrPaths2.empty()) Log()->Write(failure);
        Append(m_markCache.arrPaths2, local.arrPaths2);
        return local;
    };
    // A filled text without fill shapes (single-line fonts make none: their
    // strokes enclose nothing) marks its own strokes, as it does unfilled.
    if (bFilled != 0 && !m_arrFills.empty() && bMatric == 0 && parCodebar.bPointModule == 0) {
        CString failure = m_arrChars.empty() || m_arrChars[0] == nullptr ? CString() : m_arrChars[0]->text;
        failure += L":Get FillPath Fail";
        for (CFilledShape* fill : m_arrFills) {
            if (fill == nullptr) continue;
            const FILLED_PARS par = fill->GetFillParam();
            m_markCache.nReserved1 = par.bOutLineFirst;
            if ((par.bOutLine & 1) != 0) {
                std::vector<CBaseShape*> shapes;
                fill->CGroupShape::GetBasicShapeList(shapes);
                for (CBaseShape* shape : shapes) {
                    if (shape == nullptr || shape->GetCaption().CompareNoCase(L"edge") == 0) continue;
                    std::vector<tagPOINTF> points;
                    shape->GetFlattenPathPoints(points, 0.25f);
                    if (!points.empty()) m_markCache.arrPaths.push_back(Group(shape->GetPenIndex(), {points}));
                }
            }
            tagMarkDataPar local = fillData(fill, failure.GetString());
            if ((par.bOutLine & 1) == 0) Append(m_markCache.arrPaths, local.arrPaths);
        }
    } else if (bMatric != 0) {
        std::vector<tagPOINTF> dots;
        GetMatricPoints(dots);
        AddDots(m_markCache.arrPaths, pen, dots, 0, dots.size());
    } else if (parCodebar.bPointModule != 0) {
        std::vector<tagPOINTF> dots;
        GetMatricPoints(dots);
        const size_t bars = static_cast<size_t>(std::max(0, m_barcodeSize));
        if (bars > 0 && dots.size() > bars) {
            AddDots(m_markCache.arrPaths, pen, dots, 0, bars);
            std::vector<std::vector<tagPOINTF>> lines;
            GetFlattenPathArrays(lines, outlineTolerance);
            m_markCache.arrPaths.push_back(Group(parCodebar.nTextPen, std::move(lines)));
        } else {
            AddDots(m_markCache.arrPaths, pen, dots, 0, dots.size());
        }
    } else {
        bool markSelf = true;
        if (parVarText.bEnable != 0)
            for (const auto& e : parVarText.arrElements)
                if (e != nullptr && e->advPar.bMkSelf == 0) markSelf = false;
        if (markSelf && m_barcodeSize != 0 && nFontType == FONT_TYPE_CODEBAR) {
            // Bars and readable text apart by the bar point count of the
            // layout: flattening may change how many points each keeps.
            std::vector<std::vector<tagPOINTF>> bars, readable;
            CharFigures(0, PT_BAR, bars);
            CharFigures(0, PT_TEXT, readable);
            if (!bars.empty()) m_markCache.arrPaths.push_back(Group(pen, std::move(bars)));
            bool showText = true;
            if (parCodebar.bTextFill != 0 && m_arrFills.size() == 2 && m_arrFills[1] != nullptr) {
                const FILLED_PARS par = m_arrFills[1]->GetFillParam();
                m_markCache.nReserved1 = par.bOutLineFirst;
                fillData(m_arrFills[1], L"codebarText:Get FillPath Fail");
                showText = par.bOutLine != 0;
            }
            if (showText && !readable.empty())
                m_markCache.arrPaths.push_back(Group(parCodebar.nTextPen, std::move(readable)));
        } else if (markSelf) {
            std::vector<std::vector<tagPOINTF>> lines;
            GetFlattenPathArrays(lines, outlineTolerance);
            if (!lines.empty()) m_markCache.arrPaths.push_back(Group(pen, std::move(lines)));
        }
    }
}

// After a piece: the split into fixed texts, then the elements that move
// after a piece move and the next piece is laid out. The piece stands
// whatever happens here: a serial number that cannot move on is spent and
// refuses the next piece.
void CFonts::AdvanceAfterPiece(bool early) {
    if (m_pDoc != nullptr) {
        CProcessVarTxt* split = CProcessVarTxt::Instance();
        if (split->IsVarTxtAdv(m_pDoc->GetShapeList()) != 0) split->DoSplitVarTxt(m_pDoc->GetShapeList(), this);
    }
    bool moved = false;
    for (const auto& e : parVarText.arrElements) {
        if (e == nullptr || MovesBefore(e->nKind) || (e->nKind == TEXT_KIND_SN && early)) continue;
        if (e->GotoNext() != 0) moved = true;
    }
    if (moved) {
        Log()->Write(L"GetMarkData SetFonts");
        TextContent content(this, TextContent::Held{});
        content.ApplyHeld(this, content.text, 1, true);
    }
}

// ---- per character -------------------------------------------------------------------------

bool CFonts::ConvertToShapeList(std::vector<std::vector<CBaseShape*>>& out) {
    const bool filled = bFilled != 0 && !m_arrFills.empty();
    int offset = 0;
    int start = 0;
    const int length = m_strText.GetLength();
    while (start <= length) {
        int end = m_strText.Find(L'\n', start);
        if (end < 0) end = length;
        CString line = m_strText.Mid(start, end - start);
        line.Trim(L"\r\n");
        std::vector<CBaseShape*> group;
        for (int k = 0; k < line.GetLength(); ++k) {
            // A barcode keeps all its bars in one character: there are
            // fewer items than characters.
            const size_t at = static_cast<size_t>(offset + k);
            if (filled) {
                if (at >= m_arrFills.size() || m_arrFills[at] == nullptr) continue;
                CBaseShape* clone = m_arrFills[at]->Clone();
                if (clone == nullptr) continue;
                if (IsSelected() != 0) clone->SetSelectFlag(1, false);
                group.push_back(clone);
            } else {
                if (at >= m_arrChars.size() || m_arrChars[at] == nullptr) continue;
                auto* one = new CFonts();
                one->m_arrChars.push_back(new FONTSCHAR(*m_arrChars[at]));
                one->m_nPenIndex = m_nPenIndex;
                one->SetSmoothRatio(GetSmoothRatio());
                one->nFontType = nFontType;
                one->bMatric = bMatric;
                one->m_barcodeSize = m_barcodeSize;
                one->parCodebar.bPointModule = parCodebar.bPointModule;
                group.push_back(one);
            }
        }
        offset += line.GetLength();
        if (!group.empty()) out.push_back(std::move(group));
        start = end + 1;
    }
    return true;
}

bool CFonts::GetCharsMarkData(std::vector<std::vector<tagMarkDataPar>>& out, bool keepVariables) {
    const ShapeGuard guard(this);
    VarTextClockPin pin;
    const bool variable = parVarText.bEnable != 0;
    const bool advance = variable && !keepVariables;
    auto relayout = [this] {
        TextContent content(this, TextContent::Held{});
        content.ApplyHeld(this, content.text, 1, true);
    };

    CString marked = m_strText;
    std::vector<int64_t> serials;
    if (variable) {
        const auto& elements = parVarText.arrElements;
        // Every element is asked first: a refused piece takes no value
        // from any source.
        for (size_t i = 0; i < elements.size(); ++i) {
            TEXT_ELEMENT* e = elements[i].get();
            if (e == nullptr) continue;
            if (auto* sn = dynamic_cast<TEXT_SN_PAR*>(e)) {
                if (advance && sn->IsSpent()) {
                    LogRefusal(i, e->nKind, sn->nStep == 0 ? L"serial number with step 0" : L"serial number spent");
                    return false;
                }
                serials.push_back(sn->nCurrent);
            }
            if (advance && MovesBeforeChars(e->nKind) && !CanMoveForPiece(e, i)) return false;
        }
        CString text;
        for (size_t i = 0; i < elements.size(); ++i) {
            TEXT_ELEMENT* e = elements[i].get();
            if (e == nullptr) continue;
            if (advance && MovesBeforeChars(e->nKind) && !MoveForPiece(e, i)) return false;
            text += e->GetText();
        }
        marked = text;
        // Laid out anew whenever the outlines show another string.
        if (text != m_strText) {
            TextContent content(this, TextContent::Held{});
            content.ApplyHeld(this, text, 1, true);
        }
    }
    if (CodeWasRefused(m_bCodeRefused)) return false;
    if (m_bOutTxt != 0 && m_bMkFlag != 0) {
        HWND owner = FindWindowW(nullptr, L"MarkStatus");
        if (owner == nullptr) owner = GetForegroundWindowHost();
        if (StopOnRepeat(GetMarkRecord(), marked, true, owner)) return false;
    }

    // What this piece adds to the caller's records, taken back when the
    // piece cannot be recorded.
    const size_t keptRecords = out.empty() ? 0 : out.front().size();
    const bool hadFront = !out.empty();
    std::vector<std::vector<CBaseShape*>> groups;
    ConvertToShapeList(groups);
    const float t = GetSmoothRatio();
    bool markSelf = true;
    if (variable)
        for (const auto& e : parVarText.arrElements)
            if (e != nullptr && e->advPar.bMkSelf == 0) markSelf = false;
    for (std::vector<CBaseShape*>& group : groups) {
        for (CBaseShape* shape : group) {
            tagMarkDataPar record;
            record.bFlag = keepVariables ? 1 : 0;
            if (markSelf) {
                // The items of a filled text are fill shapes whatever the
                // text's mode: they mark through their own mark data.
                auto* one = dynamic_cast<CFonts*>(shape);
                if (one == nullptr) {
                    shape->GetMarkData(record, nullptr);
                } else if (bMatric != 0 || parCodebar.bPointModule != 0) {
                    std::vector<tagPOINTF> dots;
                    one->GetMatricPoints(dots);
                    AddDots(record.arrPaths, GetPenIndex(), dots, 0, dots.size());
                } else {
                    std::vector<std::vector<tagPOINTF>> lines;
                    one->GetFlattenPathArrays(lines, t);
                    record.arrPaths.push_back(Group(GetPenIndex(), std::move(lines)));
                }
                if (IsReverseOrder()) ReverseBoth(record);
            }
            shape->GetRectangle(record.rect);
            if (out.empty()) out.emplace_back();
            out.front().push_back(std::move(record));
        }
    }
    for (std::vector<CBaseShape*>& group : groups) {
        for (CBaseShape* shape : group) {
            if (auto* fill = dynamic_cast<CFilledShape*>(shape)) fill->FreeMembersBeforeDelete();
            delete shape;
        }
    }
    if (!RecordOrRefuse(GetMarkRecord(), marked, m_bOutTxt != 0)) {
        if (!hadFront)
            out.clear();
        else
            out.front().resize(keptRecords);
        return false;
    }
    NoteMarkedSerials(serials);

    if (advance) {
        if (m_pDoc != nullptr) {
            CProcessVarTxt* split = CProcessVarTxt::Instance();
            if (split->IsVarTxtAdv(m_pDoc->GetShapeList()) != 0) split->DoSplitVarTxt(m_pDoc->GetShapeList(), this);
        }
        bool moved = false;
        for (const auto& e : parVarText.arrElements) {
            if (e == nullptr) continue;
            const int kind = e->nKind;
            if (MovesBeforeChars(kind)) continue;
            // The piece stands: a number that cannot move on is spent.
            if (e->GotoNext() != 0) moved = true;
        }
        if (moved) relayout();
    }
    return true;
}

// ---- after a pass, caches, outlines ---------------------------------------------------------

void CFonts::CleanupAfterMark(int from, int to, tagMarkCtlData ctl) {
    const int n = to - from;
    if (n <= 0) return;
    bool variable;
    {
        const ShapeGuard guard(this);
        variable = parVarText.bEnable != 0;
    }
    if (!variable) return;
    // The host is asked, and its view quietened, before the event is taken.
    tagCardPar card;
    if (CBaseFrame* frame = CBaseFrame::GetMainFrame()) frame->GetActiveDocCardPar(card);
    const bool redraw = ctl.bNoRedraw == 0 && !(card.bRedrawOff != 0 && card.nRedrawLimit >= 0);
    HWND wnd = m_pView != nullptr ? m_pView->GetSafeHwnd() : nullptr;
    const bool quiet = !redraw && m_pView != nullptr;
    if (quiet) SendMessageW(wnd, WM_SETREDRAW, 0, 0);
    // The elements move on and the text is laid out again in one step: a
    // marking thread sees the text before or after, never in between.
    const ShapeGuard guard(this);
    if (redraw) {
        for (const auto& e : parVarText.arrElements)
            if (e != nullptr) e->ClearVector();
        return;
    }
    CString text;
    for (const auto& e : parVarText.arrElements) {
        if (e == nullptr) continue;
        e->SyncAfterMark(n);
        text += e->GetText();
        e->ClearVector();
    }
    // The view takes drawing back before the repaint the layout asks for;
    // both wait until the event is given back.
    if (quiet) WhenReleased([wnd] { SendMessageW(wnd, WM_SETREDRAW, 1, 0); });
    TextContent content(this, TextContent::Held{});
    content.ApplyHeld(this, text, 1, false);
}

void CFonts::ClearMarkBuff() {
    // Parent before child: the text, then its fills.
    const ShapeGuard guard(this);
    m_markCache.Clear();
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->ClearMarkBuff();
}

bool CFonts::GetOutLinePath(std::vector<tagPathData>& out) {
    std::vector<std::vector<tagPOINTF>> lines;
    GetFlattenPathArrays(lines, std::max(GetSmoothRatio(), 0.1f));
    out.push_back(Group(GetPenIndex(), std::move(lines)));
    return true;
}

bool CFonts::GetOutLinePath(std::vector<std::vector<tagPOINTF>>& out) {
    GetFlattenPathArrays(out, std::max(GetSmoothRatio(), 0.1f));
    return true;
}

void CFonts::StopCOMCommunication(void* arg) {
    for (const auto& e : parVarText.arrElements) {
        if (auto* com = dynamic_cast<TEXT_COM_PAR*>(e.get()))
            com->comm.SetStopFlag();
        else if (auto* tcp = dynamic_cast<TEXT_TCPIP_PAR*>(e.get()))
            tcp->StopNow(arg);
    }
}

bool CFonts::GetTaiwenHeightOfOne(Gdiplus::RectF& out) {
    for (FONTSCHAR* ch : m_arrChars) {
        if (ch == nullptr || ch->text != CString(L"1") || ch->points.empty()) continue;
        out = CalculateRectangle(ch->points);
        return true;
    }
    return false;
}

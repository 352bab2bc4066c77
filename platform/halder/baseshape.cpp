#include "morvik/halder/baseshape.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_set>

#include "morvik/core/geometry.h"
#include "morvik/core/params.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/lang.h"

IMPLEMENT_SERIAL(CBaseShape, CObject, 1)

namespace {
constexpr double kPi = 3.14159265358979323846;

// The decimal digits of v, written backwards ending at end; returns where
// they start. std::to_wstring goes through the wide formatter, and captions
// are made by the hundred thousand.
wchar_t* DecimalDigits(int v, wchar_t* end) {
    int64_t n = v;
    const bool negative = n < 0;
    if (negative) {
        n = -n;
    }
    wchar_t* p = end;
    do {
        *--p = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
    } while (n != 0);
    if (negative) {
        *--p = L'-';
    }
    return p;
}

// A caption of the default form: the type name up to its first NUL, then the
// running number when withNumber is set; exactly the room it needs (an import
// keeps hundreds of thousands of them).
std::wstring DefaultCaption(const wchar_t* name, int number, bool withNumber) {
    wchar_t digits[24];
    wchar_t* const end = digits + std::size(digits);
    const wchar_t* const p = withNumber ? DecimalDigits(number, end) : end;
    std::wstring caption;
    caption.reserve(std::wcslen(name) + static_cast<size_t>(end - p));
    caption.assign(name);
    caption.append(p, static_cast<size_t>(end - p));
    return caption;
}

// Stamps are only ever compared for equality, so each thread takes them
// from a block of its own: shapes built on several threads at once (a large
// import) then do not all write one shared counter.
uint64_t NextChangeStamp() {
    constexpr uint64_t kBlock = 4096;
    static std::atomic<uint64_t> nextBlock{1};
    thread_local uint64_t next = 0, end = 0;
    if (next == end) {
        next = nextBlock.fetch_add(kBlock, std::memory_order_relaxed);
        end = next + kBlock;
    }
    return next++;
}

// Every type name text ever given, kept for the life of the process: shapes
// refer to them. Never destroyed, so that a shape destroyed late still finds
// its text.
struct TypeNameTexts {
    struct Hash {
        size_t operator()(const CString& s) const {
            return std::hash<std::wstring_view>()(std::wstring_view(s.GetString(), static_cast<size_t>(s.GetLength())));
        }
    };
    std::mutex lock;
    std::unordered_set<CString, Hash> texts;
};

TypeNameTexts& TypeNameRegistry() {
    static TypeNameTexts* registry = new TypeNameTexts();
    return *registry;
}

const CString* SharedText(const CString& text) {
    TypeNameTexts& registry = TypeNameRegistry();
    std::lock_guard<std::mutex> hold(registry.lock);
    return &*registry.texts.insert(text).first;
}

// The language table's text of a type-name key, remembered per thread while
// the table does not change: every shape looks its type name up, and the
// table's lock is shared by every thread that makes shapes.
SharedTypeName TypeName(const char* key) {
    CLang* lang = CLang::Instance();
    SharedTypeName name;
    if (key == nullptr) {
        name = lang->GetString(key);
        return name;
    }
    struct Known {
        std::string key;
        uint64_t generation;
        SharedTypeName text;
    };
    thread_local std::vector<Known> known;
    const uint64_t generation = lang->Generation();
    for (Known& k : known) {
        if (std::strcmp(k.key.c_str(), key) == 0) {
            if (k.generation != generation) {
                k.text = lang->GetString(key);
                k.generation = generation;
            }
            return k.text;
        }
    }
    name = lang->GetString(key);
    known.push_back({key, generation, name});
    return name;
}

uint64_t MixStamp(uint64_t h, uint64_t v) {
    // FNV-1a over the eight bytes of v.
    for (int i = 0; i < 8; ++i) {
        h ^= (v >> (8 * i)) & 0xFF;
        h *= 0x100000001B3ULL;
    }
    return h;
}
}  // namespace

SharedTypeName::SharedTypeName() {
    static const CString* const empty = SharedText(CString());
    m_text = empty;
}

SharedTypeName& SharedTypeName::operator=(const CString& text) {
    m_text = SharedText(text);
    return *this;
}

CShapeCounter& ShapeCounterOf(CAD_SHAPE_TYPE kind) {
    static CShapeCounter counters[SHAPE_DOCPARAM + 1];
    int k = static_cast<int>(kind);
    if (k < 0 || k > SHAPE_DOCPARAM) {
        k = 0;
    }
    return counters[k];
}

std::vector<CBaseShape*> ShapesWithMembers(const std::vector<CBaseShape*>& roots,
                                           const std::unordered_set<CBaseShape*>* skip) {
    std::vector<CBaseShape*> out;
    std::unordered_set<CBaseShape*> seen;
    std::vector<CBaseShape*> pending(roots.rbegin(), roots.rend());
    while (!pending.empty()) {
        CBaseShape* shape = pending.back();
        pending.pop_back();
        if (shape == nullptr || (skip != nullptr && skip->count(shape) != 0) || !seen.insert(shape).second) {
            continue;
        }
        out.push_back(shape);
        const std::vector<CBaseShape*>& members = shape->GetChildren();
        pending.insert(pending.end(), members.rbegin(), members.rend());
    }
    return out;
}

CBaseShape::CBaseShape() {
    m_changeStamp.store(NextChangeStamp(), std::memory_order_relaxed);
    CoCreateGuid(&m_guid);
}

CBaseShape::CBaseShape(const CBaseShape& other) : SriBase(other) {
    *this = other;
    m_changeStamp.store(NextChangeStamp(), std::memory_order_relaxed);
}

CBaseShape& CBaseShape::operator=(const CBaseShape& other) {
    if (this == &other) {
        return *this;
    }
    SriBase::operator=(other);
    // The event and the mark cache belong to this object alone.
    m_markCache = tagMarkDataPar();
    m_cacheStamp = 0;
    m_changeStamp.store(NextChangeStamp(), std::memory_order_relaxed);
    ShapeAttributes::operator=(other);
    m_wstrCaption = other.m_wstrCaption;
    m_bForce = other.m_bForce.load();
    SetShapeRect(other.ShapeRectCopy());
    m_bRectValid = other.m_bRectValid.load();
    // Children are owned by the concrete container classes, which copy them
    // deeply themselves; a plain copy must not share them.
    m_arrChildren.clear();
    m_arrParts.clear();
    return *this;
}

CBaseShape::~CBaseShape() {
    if (HANDLE event = m_hEvent.exchange(nullptr); event != nullptr) {
        CloseHandle(event);
    }
}

HANDLE CBaseShape::GetMarkEvent() const {
    HANDLE event = m_hEvent.load(std::memory_order_acquire);
    if (event != nullptr) {
        return event;
    }
    // Signalled, auto-reset: the first wait takes it. Two threads may race
    // here; the loser closes its own event and both use the winner's.
    HANDLE made = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    if (made == nullptr) {
        return nullptr;
    }
    if (m_hEvent.compare_exchange_strong(event, made, std::memory_order_acq_rel, std::memory_order_acquire)) {
        return made;
    }
    CloseHandle(made);
    return event;
}

void CBaseShape::InitShape(CAD_SHAPE_TYPE kind, const char* typeNameKey, CShapeCounter& counter,
                           const wchar_t* captionFormat) {
    m_nKind = kind;
    m_strTypeName = TypeName(typeNameKey);
    m_nCountNum = counter.Take();
    // The two formats every class uses are put together directly: shapes
    // are made by the ten thousand (a text's character fills, an import),
    // and the general formatter costs more than the rest of a shape.
    const bool withNumber = captionFormat != nullptr && std::wcscmp(captionFormat, L"%s%d") == 0;
    if (withNumber || (captionFormat != nullptr && std::wcscmp(captionFormat, L"%s") == 0)) {
        // %s stops at the first NUL, as the formatter does.
        std::wstring caption = DefaultCaption(static_cast<const wchar_t*>(m_strTypeName), m_nCountNum, withNumber);
        m_wstrCaption = caption;
        m_strCaption = CString(std::move(caption));
        return;
    }
    CString caption;
    caption.Format(captionFormat, static_cast<const wchar_t*>(m_strTypeName), m_nCountNum);
    SetCaption(caption);
}

uint64_t CBaseShape::GetDescendantStamp() {
    uint64_t h = 0xCBF29CE484222325ULL;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        h = MixStamp(h, reinterpret_cast<uintptr_t>(child));
        h = MixStamp(h, child->GetChangeStamp());
        if (!child->GetChildren().empty()) {
            h = MixStamp(h, child->GetDescendantStamp());
        }
    }
    return h;
}

bool CBaseShape::MarkFlattenedPath(tagMarkDataPar& out, MarkEnding ending, bool reversed,
                                   void (*keep)(std::vector<tagPOINTF>&)) {
    if (BeginMarkData(out)) {
        return true;
    }
    MarkDataLock lock(this, &out);
    std::vector<tagPOINTF> points;
    GetFlattenPathPoints(points, kMarkTolerance);
    if (keep != nullptr) {
        keep(points);
    }
    const bool ok = !points.empty();
    if (ok) {
        tagPathData path;
        path.nPenIndex = GetPenIndex();
        path.arrPolylines.push_back(std::move(points));
        m_markCache.arrPaths.push_back(std::move(path));
        if (reversed) {
            std::reverse(m_markCache.arrPaths.begin(), m_markCache.arrPaths.end());
            std::reverse(m_markCache.arrPaths2.begin(), m_markCache.arrPaths2.end());
        }
    }
    if (ending == MarkEnding::kLeaveWithRect) {
        return lock.LeaveWithRect(ok);
    }
    if (ok) {
        out = m_markCache;
    }
    return lock.Finish(ok);
}

bool CBaseShape::BeginMarkData(tagMarkDataPar& out) {
    LockShape();
    // A container's cache must not outlive a change of any of its members,
    // however the member was changed (directly, by an undo, by an edit).
    const uint64_t stamp = m_arrChildren.empty() ? 0 : GetDescendantStamp();
    if (m_pView != nullptr && !m_markCache.IsEmpty() && m_bForce == 0 && stamp == m_cacheStamp) {
        out = m_markCache;
        UnlockShape();
        return true;
    }
    SetGetDataForce(false);
    m_cacheStamp = stamp;
    m_markCache = out;
    m_markCache.Clear();
    return false;
}

namespace {

// The events this thread holds and the host calls waiting for the last one
// to go. Plain numbers on the hot path; the list is touched only when a
// call waits.
thread_local int t_heldEvents = 0;
thread_local bool t_callsWaiting = false;
thread_local bool t_runningCalls = false;

std::vector<std::function<void()>>& WaitingCalls() {
    thread_local std::vector<std::function<void()>> calls;
    return calls;
}

void RunWaitingCalls() {
    if (t_runningCalls) {
        return;  // the loop below takes what a call leaves waiting
    }
    t_runningCalls = true;
    std::vector<std::function<void()>>& calls = WaitingCalls();
    // By index: a call that takes and gives back an event may add more.
    for (size_t i = 0; i < calls.size(); ++i) {
        std::function<void()> call = std::move(calls[i]);
        try {
            call();
        } catch (...) {
            // A host's failure to repaint or tell leaves the shape as it is.
        }
    }
    calls.clear();
    t_callsWaiting = false;
    t_runningCalls = false;
}

}  // namespace

void CBaseShape::WhenReleased(std::function<void()> call) {
    if (!call) {
        return;
    }
    if (t_heldEvents == 0 && !t_runningCalls) {
        call();
        return;
    }
    WaitingCalls().push_back(std::move(call));
    t_callsWaiting = true;
}

void CBaseShape::RepaintViewWhenReleased() {
    if (CBaseView* view = m_pView) {
        WhenReleased([view] { view->Invalidate(TRUE); });
    }
}

void CBaseShape::LockShape() {
    const std::thread::id self = std::this_thread::get_id();
    if (m_lockOwner.load(std::memory_order_relaxed) == self) {
        // Only this thread could release it: report the slip instead of
        // hanging without a trace.
        std::fprintf(stderr, "Morvik: a thread waits a second time on the event of shape %ls it holds\n",
                     m_strCaption.GetString());
        std::abort();
    }
    WaitForSingleObject(GetMarkEvent(), INFINITE);
    m_lockOwner.store(self, std::memory_order_relaxed);
    ++t_heldEvents;
}

void CBaseShape::UnlockShape() {
    m_lockOwner.store(std::thread::id(), std::memory_order_relaxed);
    SetEvent(GetMarkEvent());
    if (t_heldEvents > 0 && --t_heldEvents == 0 && t_callsWaiting) {
        RunWaitingCalls();
    }
}

void CBaseShape::Serialize(CArchive&) {}
void CBaseShape::AssertValid() const {}
void CBaseShape::Dump(CDumpContext&) const {}

void CBaseShape::Save(bool extended, SriFile* file) { SriBase::Save(extended, file); }
void CBaseShape::Read(bool extended, SriFile* file) {
    const ShapeGuard guard(this);
    SriBase::Read(extended, file);
}

void CBaseShape::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("strBaseCaption", &m_wstrCaption);
    AddProp("guidBase", &m_guid);
    AddProp("guidParent", &m_parentGuid);
    AddProp("nPenIndex", &m_nPenIndex);
    AddProp("nBaseID", &m_nID);
    AddProp("bVisible", &m_bVisible);
    AddProp("bReverseOrder", &m_bReverseOrder);
    AddProp("bLink", &m_bLink);
    AddProp("arrLinkIDs", &m_linkedIDs);
    AddProp("nMirrorFlag", &m_nMirrorFlag);
    AddProp("bZoomAntiX", &m_bZoomAntiX);
    AddProp("bZoomAntiY", &m_bZoomAntiY);
    AddProp("bAntiPath", &m_bAntiPath);
}

void CBaseShape::FreeShapePtr() {}
CBaseShape* CBaseShape::ToBezier() { return nullptr; }
CBaseShape* CBaseShape::ToPolyLine() { return nullptr; }
void CBaseShape::SetSubPolyType(int type) { m_nSubPolyType = type; }

CBaseShape* CBaseShape::Clone() {
    // Only a plain base shape can copy itself here; a derived class that
    // leaves Clone alone must not come back sliced.
    if (typeid(*this) == typeid(CBaseShape)) {
        return new CBaseShape(*this);
    }
    return nullptr;
}

void CBaseShape::FillShape(const FILLED_PARS&) {}
FILLED_PARS CBaseShape::GetFillParam() { return FILLED_PARS(); }

int CBaseShape::SetPen(unsigned char pen) {
    const ShapeGuard guard(this);
    SetPenIndex(pen);
    return 1;
}

void CBaseShape::SetPenIndex(unsigned char pen) {
    m_nPenIndex = pen;
    InvalidateGeometry();
}

int CBaseShape::ExportXmlToBuff(tagXmlBuff&) { return 0; }
int CBaseShape::ExportGCodeToBuff(GCodeContext&) { return 0; }
CAD_SHAPE_TYPE CBaseShape::GetShapeKind() { return m_nKind; }
int CBaseShape::DrawSlope(CDC*, DWORD, tagPOINTF, double, double) { return 0; }
int CBaseShape::DrawReSize(CDC*, DWORD, tagPOINTF, double, double) { return 0; }
int CBaseShape::DrawRotate(CDC*, DWORD, double, tagPOINTF) { return 0; }
int CBaseShape::DrawToGraphics(Gdiplus::Graphics*, std::vector<tagPenPar>&, DWORD, int, float, float) { return 0; }
int CBaseShape::Draw(CDC*, int, int, int, int) { return 0; }
int CBaseShape::Draw(CDC*, Gdiplus::Graphics*, DWORD, int, int, int, int, float, float) { return 0; }
int CBaseShape::DrawWnd(CCustWnd*, CDC*, DWORD, int, int, float, float) { return 0; }
int CBaseShape::DrawEditPoints(CDC*) { return 0; }
int CBaseShape::GetEditPoint(std::vector<tagPOINTF>&) { return 0; }
int CBaseShape::ModifyEditPoint(int, tagPOINTF) { return 0; }
int CBaseShape::GetSnapPoint(std::vector<tagPOINTF>&) { return 0; }

void CBaseShape::InvalidateGeometry() {
    m_bRectValid.store(0, std::memory_order_relaxed);
    m_bForce.store(1, std::memory_order_relaxed);
    m_changeStamp.store(NextChangeStamp(), std::memory_order_relaxed);
}

int CBaseShape::Move(float, float) {
    InvalidateGeometry();
    return 1;
}

int CBaseShape::Rotate(double, tagPOINTF) {
    InvalidateGeometry();
    return 1;
}

int CBaseShape::Zoom(tagPOINTF fixed, double sx, double sy) {
    m_bZoomed = true;
    m_lastZoomFixed = fixed;
    m_lastZoomX = sx;
    m_lastZoomY = sy;
    // A negative factor flips the shape; the flip state lets parameter
    // changes be replayed in the shape's unflipped frame.
    if (sx < 0) {
        m_bZoomAntiX = !m_bZoomAntiX;
    }
    if (sy < 0) {
        m_bZoomAntiY = !m_bZoomAntiY;
    }
    InvalidateGeometry();
    return 1;
}

int CBaseShape::Slope(tagPOINTF, double, double) {
    InvalidateGeometry();
    return 1;
}

int CBaseShape::Mirror(tagPOINTF, int) {
    InvalidateGeometry();
    return 1;
}

int CBaseShape::SortPath() { return 0; }
int CBaseShape::IsSelected() { return m_bSelected; }

int CBaseShape::SetSelectFlag(int flag, bool) {
    m_bSelected = flag;
    return 1;
}

int CBaseShape::IsInRect(Gdiplus::RectF& rect) {
    Gdiplus::RectF r;
    GetRectangle(r);
    if (r.Width <= 0 && r.Height <= 0) {
        return 0;
    }
    return (r.X >= rect.X && r.X + r.Width <= rect.X + rect.Width && r.Y <= rect.Y &&
            r.Y - r.Height >= rect.Y - rect.Height)
               ? 1
               : 0;
}

int CBaseShape::IsMe(tagPOINTF) { return 0; }
int CBaseShape::IsMeNew(tagPOINTF point) { return IsMe(point); }
int CBaseShape::IsInClientRectF() { return 1; }

int CBaseShape::GetRectangle(Gdiplus::RectF& rect) {
    rect = ShapeRectCopy();
    return 1;
}

bool CBaseShape::GetOutRectPath(std::vector<tagPathData>& paths) {
    Gdiplus::RectF r;
    GetRectangle(r);
    tagPathData pd;
    pd.nPenIndex = GetPenIndex();
    pd.arrPolylines.push_back({{r.X, r.Y},
                               {r.X + r.Width, r.Y},
                               {r.X + r.Width, r.Y - r.Height},
                               {r.X, r.Y - r.Height},
                               {r.X, r.Y}});
    paths.push_back(std::move(pd));
    return true;
}

bool CBaseShape::GetOutLinePath(std::vector<tagPathData>&) { return false; }
int CBaseShape::GetArcDegree(double&, double&) { return 0; }
int CBaseShape::SetArcDegree(double, double) { return 0; }
int CBaseShape::GetCircleProperty(double&, double&, double&) { return 0; }
int CBaseShape::SetCircleProperty(double, double, double) { return 0; }
int CBaseShape::GetFlattenPathPoints(std::vector<tagPOINTF>&, float) { return 0; }

int CBaseShape::GetFlattenPathFirstPoint(tagPOINTF& point) {
    std::vector<tagPOINTF> pts;
    GetFlattenPathPoints(pts, 0.25f);
    if (pts.empty()) {
        return 0;
    }
    point = pts.front();
    return 1;
}

int CBaseShape::GetFlattenPathLastPoint(tagPOINTF& point) {
    std::vector<tagPOINTF> pts;
    GetFlattenPathPoints(pts, 0.25f);
    if (pts.empty()) {
        return 0;
    }
    point = pts.back();
    return 1;
}

double CBaseShape::GetAngleFrom2Point(tagPOINTF p, tagPOINTF c) { return Angle2P(c, p); }

bool CBaseShape::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    // A plain base shape has nothing to mark: hand back its (empty) cache.
    LockShape();
    out = m_markCache;
    UnlockShape();
    return false;
}

void CBaseShape::SetGetDataForce(bool force) {
    m_bForce = force ? 1 : 0;
    if (force) {
        m_changeStamp.store(NextChangeStamp(), std::memory_order_relaxed);
    }
}

void CBaseShape::SetDocView(CBaseDoc* doc, CBaseView* view) {
    m_pDoc = doc;
    m_pView = view;
}

void CBaseShape::SaveShapeChild(CBaseShape* parent, std::list<CBaseShape*>& out) {
    // The shape adds itself, carrying its parent's GUID (none at top level),
    // so a reader can adopt it when it meets the parent. Containers add their
    // children first, each with the container as parent.
    m_parentGuid = parent != nullptr ? parent->GetBaseID() : GUID_NULL;
    out.push_back(this);
}

CBaseDoc* CBaseShape::GetShapeDoc() { return m_pDoc; }
CBaseView* CBaseShape::GetShapeView() { return m_pView; }
unsigned char CBaseShape::GetPenIndex() const { return m_nPenIndex; }
int CBaseShape::GetArcPath() { return 0; }
void CBaseShape::SetArcPath(int) {}
void CBaseShape::AllDelCountNum() { ShapeCounterOf(m_nKind).Reset(); }

Gdiplus::RectF CBaseShape::GetShapeRect() { return ShapeRectCopy(); }

int CBaseShape::IsSelectedForRect(Gdiplus::RectF& rect) { return IsInRect(rect); }

int CBaseShape::IsIntersectRect(Gdiplus::RectF& rect) {
    Gdiplus::RectF r;
    GetRectangle(r);
    return RectsIntersect(r, rect) ? 1 : 0;
}

void CBaseShape::UpdatePropsValue() { m_wstrCaption = static_cast<const wchar_t*>(m_strCaption); }
void CBaseShape::PrepareBeforeMark(tagMarkCtlData, int) {}
void CBaseShape::CleanupAfterMark(int, int, tagMarkCtlData) {}

void CBaseShape::ClearMarkBuff() {
    LockShape();
    m_markCache.Clear();
    UnlockShape();
}

void CBaseShape::Renumber(int number) {
    if (number == m_nCountNum) {
        return;
    }
    // Whether the caption is the type name and the current number, compared
    // in place: a large import renumbers every shape it made.
    const std::wstring_view name(static_cast<const wchar_t*>(m_strTypeName));
    wchar_t digits[24];
    wchar_t* const end = digits + std::size(digits);
    const wchar_t* const first = DecimalDigits(m_nCountNum, end);
    const std::wstring_view current(first, static_cast<size_t>(end - first));
    const std::wstring_view caption(m_wstrCaption);
    if (caption.size() == name.size() + current.size() && caption.substr(0, name.size()) == name &&
        caption.substr(name.size()) == current) {
        std::wstring renamed = DefaultCaption(name.data(), number, true);
        m_wstrCaption = renamed;
        m_strCaption = CString(std::move(renamed));
    }
    m_nCountNum = number;
}

void CBaseShape::SetCaption(const CString& caption) {
    m_strCaption = caption;
    m_wstrCaption = static_cast<const wchar_t*>(caption);
}

void CBaseShape::KeepMarkingOf(const CBaseShape& src) {
    m_nPenIndex = src.m_nPenIndex;
    m_fSmoothRatio = src.m_fSmoothRatio;
    m_bReverseOrder = src.m_bReverseOrder;
}

void CBaseShape::SetSmoothRatio(float ratio) {
    if (ratio > 0 && std::isfinite(ratio)) {
        m_fSmoothRatio = ratio;
    }
}

COLORREF CBaseShape::GetPenColor(int pen) {
    int index = pen < 0 ? static_cast<int>(m_nPenIndex) : pen;
    return CBaseFrame::GetPenColorOf(index);
}

Gdiplus::RectF CBaseShape::GetStartRectInPoint(Gdiplus::PointF point) {
    const float half = 3.0f;
    return Gdiplus::RectF(point.X - half, point.Y - half, 2 * half, 2 * half);
}

// ---- static point functions ------------------------------------------------

CBaseShape::PointRotator::PointRotator(tagPOINTF centre, double angle) : m_centre(centre) {
    const double rad = angle * kPi / 180.0;
    m_cos = std::cos(rad);
    m_sin = std::sin(rad);
}

tagPOINTF CBaseShape::PointfRotate(tagPOINTF p, tagPOINTF centre, double angle) {
    // Callers turning many points one at a time by one angle: the sine and
    // cosine of the last angle (the same bits) are kept for the next point.
    struct Turn {
        uint64_t bits = 0;
        double c = 1.0;
        double s = 0.0;
    };
    thread_local Turn last;
    const uint64_t bits = std::bit_cast<uint64_t>(angle);
    if (bits != last.bits) {
        const double rad = angle * kPi / 180.0;
        last.c = std::cos(rad);
        last.s = std::sin(rad);
        last.bits = bits;
    }
    return PointRotator::Turn(p, centre, last.c, last.s);
}

tagPOINTF CBaseShape::PointfZoom(tagPOINTF p, double sx, double sy, tagPOINTF fixed) {
    return {static_cast<float>(fixed.x + (static_cast<double>(p.x) - fixed.x) * sx),
            static_cast<float>(fixed.y + (static_cast<double>(p.y) - fixed.y) * sy)};
}

tagPOINTF CBaseShape::PointfSlope(tagPOINTF p, double a, double b, tagPOINTF fixed) {
    double dx = static_cast<double>(p.x) - fixed.x;
    double dy = static_cast<double>(p.y) - fixed.y;
    return {static_cast<float>(p.x - dy * std::tan(a)), static_cast<float>(p.y - dx * std::tan(b))};
}

tagPOINTF CBaseShape::PointfMirrorX(tagPOINTF p, tagPOINTF fixed) { return {2 * fixed.x - p.x, p.y}; }
tagPOINTF CBaseShape::PointfMirrorY(tagPOINTF p, tagPOINTF fixed) { return {p.x, 2 * fixed.y - p.y}; }
tagPOINTF CBaseShape::PointfMirrorXY(tagPOINTF p, tagPOINTF fixed) { return {2 * fixed.x - p.x, 2 * fixed.y - p.y}; }

tagPOINTF CBaseShape::PointfMirror(tagPOINTF p, tagPOINTF fixed, int mode) {
    switch (mode) {
        case 1:
            return PointfMirrorX(p, fixed);
        case 2:
            return PointfMirrorY(p, fixed);
        case 3:
            return PointfMirrorXY(p, fixed);
        default:
            return p;
    }
}

tagPOINTF CBaseShape::CenterPoint(const Gdiplus::RectF& rect) {
    return {rect.X + rect.Width / 2, rect.Y - rect.Height / 2};
}

tagPOINTF CBaseShape::GetMidPointF(tagPOINTF a, tagPOINTF b) { return {(a.x + b.x) / 2, (a.y + b.y) / 2}; }

double CBaseShape::GetSlope(tagPOINTF a, tagPOINTF b) {
    double dx = static_cast<double>(b.x) - a.x;
    double dy = static_cast<double>(b.y) - a.y;
    if (dx == 0) {
        return dy >= 0 ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
    }
    return dy / dx;
}

double CBaseShape::Angle2P(tagPOINTF a, tagPOINTF b) {
    double deg = std::atan2(static_cast<double>(b.y) - a.y, static_cast<double>(b.x) - a.x) * 180.0 / kPi;
    if (deg < 0) {
        deg += 360.0;
    }
    if (deg >= 360.0) {
        deg -= 360.0;
    }
    return deg;
}

Gdiplus::RectF CBaseShape::CalculateRectangle(const std::vector<tagPOINTF>& points) {
    if (points.empty()) {
        return Gdiplus::RectF();
    }
    float minX = points[0].x, maxX = points[0].x, minY = points[0].y, maxY = points[0].y;
    for (const tagPOINTF& p : points) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    return Gdiplus::RectF(minX, maxY, maxX - minX, maxY - minY);
}

bool CBaseShape::GetCircleParamerFrom3P(tagPOINTF p1, tagPOINTF p2, tagPOINTF p3, tagPOINTF& centre,
                                        double& radius) {
    double ax = p1.x, ay = p1.y, bx = p2.x, by = p2.y, cx = p3.x, cy = p3.y;
    double d = 2.0 * (ax * (by - cy) + bx * (cy - ay) + cx * (ay - by));
    double scale = std::max({std::fabs(ax), std::fabs(ay), std::fabs(bx), std::fabs(by), std::fabs(cx),
                             std::fabs(cy), 1.0});
    // Collinear (or coincident) points: no circle passes through them.
    if (std::fabs(d) <= 1e-12 * scale * scale) {
        return false;
    }
    double a2 = ax * ax + ay * ay, b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    double ux = (a2 * (by - cy) + b2 * (cy - ay) + c2 * (ay - by)) / d;
    double uy = (a2 * (cx - bx) + b2 * (ax - cx) + c2 * (bx - ax)) / d;
    centre = {static_cast<float>(ux), static_cast<float>(uy)};
    radius = std::hypot(ax - ux, ay - uy);
    return true;
}

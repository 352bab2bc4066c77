#include "morvik/text/mycodebar.h"

#include <algorithm>
#include <atomic>

#include "morvik/afx/message_box.h"
#include "morvik/codebar/codebar.h"
#include "morvik/core/runlog.h"
#include "morvik/halder/baseshape.h"
#include "morvik/halder/lang.h"

// One engine handle with its lock. alive turns false (under the lock) when
// the handle is freed, so a lease taken afterwards comes back empty.
struct CBarCodeLease::Slot {
    std::mutex lock;
    tag_BarCode* handle = nullptr;
    bool alive = true;
};

namespace {

std::atomic<int> g_instances{0};

// Ids offered in every case, in display order; 125 to 127 follow when the
// engine knows more than 120 symbologies.
constexpr int kFixedIds[] = {8,  25, 59, 60, 61, 20, 121, 122, 123, 16, 13,  10, 34,
                             37, 7,  3,  18, 55, 71, 58, 116, 92,  124, 128};
constexpr int kExtraIds[] = {125, 126, 127};
constexpr int kExtraThreshold = 120;

struct FixedName {
    int id;
    const wchar_t* name;
};
constexpr FixedName kFixedNames[] = {
    {59, L"Code 128A"}, {60, L"Code 128B"}, {61, L"Code 128C"},         {20, L"Code 128Auto"},
    {121, L"EAN 128A"}, {122, L"EAN 128B"}, {123, L"EAN 128C"},         {7, L"Code 25"},
    {3, L"ITF 25"},     {116, L"Chinese-Sensible Code"},               {92, L"Aztec"},
    {128, L"Tolcode"},  {125, L"GM code"},
};

}  // namespace

CMyCodebar::CMyCodebar() {
    m_symbologies = FillSymbologyList();
    m_typeNames = GetEngineTypeNames();
    m_typeCount = BCGetBCCount();
    ++g_instances;
}

// Every wrapper frees the handles it allocated itself: the containers are
// its own, so waiting for the last instance would leak those of the others.
CMyCodebar::~CMyCodebar() {
    --g_instances;
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& [view, slot] : m_views) {
        Release(slot);
    }
    for (auto& slot : m_nullViews) {
        Release(slot);
    }
    m_views.clear();
    m_nullViews.clear();
}

int CMyCodebar::GetInstanceCount() { return g_instances.load(); }

std::shared_ptr<CBarCodeLease::Slot> CMyCodebar::Allocate() {
    tag_BarCode* handle = nullptr;
    if (BCAlloc(&handle) != S_OK || handle == nullptr) {
        const wchar_t* message = L"BCAlloc failed - Barcode not available";
        RunLog::Instance(nullptr)->Write(message);
        // Asked for by a layout that holds its text's event.
        CBaseShape::WhenReleased([message] { AfxMessageBox(message); });
        return nullptr;
    }
    auto slot = std::make_shared<CBarCodeLease::Slot>();
    slot->handle = handle;
    return slot;
}

// Waits for a lease in progress on the handle, then frees it.
void CMyCodebar::Release(std::shared_ptr<CBarCodeLease::Slot> slot) {
    if (!slot) {
        return;
    }
    std::lock_guard<std::mutex> guard(slot->lock);
    if (slot->alive) {
        BCFree(slot->handle);
        slot->alive = false;
    }
}

tag_BarCode* CMyCodebar::GetBarCodeInstance(const CBaseView* view) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (view != nullptr) {
        auto it = m_views.find(view);
        if (it != m_views.end()) {
            return it->second->handle;
        }
    }
    std::shared_ptr<CBarCodeLease::Slot> slot = Allocate();
    if (!slot) {
        return nullptr;
    }
    if (view != nullptr) {
        m_views.emplace(view, slot);
    } else {
        m_nullViews.push_back(slot);
    }
    return slot->handle;
}

void CMyCodebar::FreeViewInstance(const CBaseView* view) {
    std::shared_ptr<CBarCodeLease::Slot> slot;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_views.find(view);
        if (it == m_views.end()) {
            return;
        }
        slot = std::move(it->second);
        m_views.erase(it);
    }
    Release(std::move(slot));
}

void CMyCodebar::FreeNullInstance(tag_BarCode* handle) {
    if (handle == nullptr) {
        return;
    }
    std::shared_ptr<CBarCodeLease::Slot> slot;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = std::find_if(m_nullViews.begin(), m_nullViews.end(),
                               [handle](const auto& s) { return s->handle == handle; });
        if (it == m_nullViews.end()) {
            return;
        }
        slot = std::move(*it);
        m_nullViews.erase(it);
    }
    Release(std::move(slot));
}

CBarCodeLease CMyCodebar::LockBarCode(tag_BarCode* handle) {
    CBarCodeLease lease;
    if (handle == nullptr) {
        return lease;
    }
    std::shared_ptr<CBarCodeLease::Slot> slot;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& [view, s] : m_views) {
            if (s->handle == handle) {
                slot = s;
                break;
            }
        }
        if (!slot) {
            auto it = std::find_if(m_nullViews.begin(), m_nullViews.end(),
                                   [handle](const auto& s) { return s->handle == handle; });
            if (it != m_nullViews.end()) {
                slot = *it;
            }
        }
    }
    if (!slot) {
        return lease;
    }
    // The containers' lock is not held while waiting for the handle, so that
    // a long build on one handle never blocks requests for the others.
    std::unique_lock<std::mutex> lock(slot->lock);
    if (!slot->alive) {
        return lease;
    }
    lease.m_handle = slot->handle;
    lease.m_lock = std::move(lock);
    lease.m_slot = std::move(slot);
    return lease;
}

CString CMyCodebar::GetTypeName(int id) const {
    for (const FixedName& f : kFixedNames) {
        if (f.id == id) {
            return CString(f.name);
        }
    }
    if (id == kEarCode) {
        return CLang::Instance()->GetString("IDS_EAR_CODE");
    }
    if (m_typeNames == nullptr || id < 0 || id >= m_typeCount || m_typeNames[id] == nullptr) {
        return CString();
    }
    return CString(m_typeNames[id]);
}

int CMyCodebar::LookupCode(const CString& name) const {
    for (int id : m_symbologies) {
        if (GetTypeName(id) == name) {
            return id;
        }
    }
    return -1;
}

int CMyCodebar::LookupCode(const CString& name, int savedType) const {
    const int id = LookupCode(name);
    if (id != -1) {
        return id;
    }
    return std::find(m_symbologies.begin(), m_symbologies.end(), savedType) != m_symbologies.end() ? savedType : -1;
}

std::vector<int> CMyCodebar::SymbologyListFor(int engineCount) {
    std::vector<int> ids(std::begin(kFixedIds), std::end(kFixedIds));
    if (engineCount > kExtraThreshold) {
        ids.insert(ids.end(), std::begin(kExtraIds), std::end(kExtraIds));
    }
    return ids;
}

std::vector<int> CMyCodebar::FillSymbologyList() const { return SymbologyListFor(BCGetBCCount()); }

const wchar_t* const* CMyCodebar::GetEngineTypeNames() const { return BCGetBCListW(); }

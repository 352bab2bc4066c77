// The process-wide wrapper of the barcode engine (GetCodebarInstance): it
// owns the engine handles, one per drawing view plus those handed out to
// callers without a view, and the list of offered symbologies with their
// display names.
//
// Threads: the containers are guarded by one lock, and each handle has its
// own lock. A build sets a handle up and draws through it in several engine
// calls; it holds the handle through a CBarCodeLease (LockBarCode) for the
// whole sequence, so that another thread neither sets the same handle up in
// between nor frees it. Freeing a handle waits for the lease that holds it;
// a lease taken after the handle was freed is empty.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "morvik/afx/cstring.h"

class CBaseView;
struct tag_BarCode;

// Exclusive use of one engine handle, for one build and drawing.
class MORVIK_API CBarCodeLease {
public:
    CBarCodeLease() = default;
    CBarCodeLease(CBarCodeLease&&) noexcept = default;
    CBarCodeLease& operator=(CBarCodeLease&&) noexcept = default;
    CBarCodeLease(const CBarCodeLease&) = delete;
    CBarCodeLease& operator=(const CBarCodeLease&) = delete;
    ~CBarCodeLease() = default;

    // The handle, or null when the lease is empty.
    tag_BarCode* Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    friend class CMyCodebar;
    struct Slot;
    std::shared_ptr<Slot> m_slot;
    std::unique_lock<std::mutex> m_lock;
    tag_BarCode* m_handle = nullptr;
};

class MORVIK_API CMyCodebar {
public:
    // Engine symbology ids that the build treats apart.
    static constexpr int kEan13 = 13;
    static constexpr int kEan128 = 16;
    static constexpr int kPdf417 = 55;
    static constexpr int kQrCode = 58;
    static constexpr int kDataMatrix = 71;
    static constexpr int kAztec = 92;
    static constexpr int kHanXin = 116;
    // Own symbology ids (the engine does not know them under these numbers).
    static constexpr int kEan128A = 121;
    static constexpr int kEan128B = 122;
    static constexpr int kEan128C = 123;
    static constexpr int kEarCode = 124;
    static constexpr int kTolcode = 128;

    CMyCodebar();
    ~CMyCodebar();
    CMyCodebar(const CMyCodebar&) = delete;
    CMyCodebar& operator=(const CMyCodebar&) = delete;

    // The handle of a view (allocated on its first request), or for a null
    // view a new handle each time, kept until FreeNullInstance. Null when the
    // engine cannot allocate one (after a message box and a run-log line).
    tag_BarCode* GetBarCodeInstance(const CBaseView* view);
    // Frees and forgets the handle of a view; an unknown view does nothing.
    void FreeViewInstance(const CBaseView* view);
    // Frees a handle handed out for a null view; any other pointer does
    // nothing.
    void FreeNullInstance(tag_BarCode* handle);

    // Locks a handle of this wrapper for one build; empty when the handle is
    // null or not (or no longer) one of this wrapper's.
    CBarCodeLease LockBarCode(tag_BarCode* handle);

    // Display name of a symbology id; "" for an id the engine does not name.
    CString GetTypeName(int id) const;
    // First offered id whose display name equals name exactly, or -1.
    int LookupCode(const CString& name) const;
    // As LookupCode; when the name is not found, savedType when that id is
    // offered (a file saved under another interface language), else -1.
    int LookupCode(const CString& name, int savedType) const;

    // The offered ids, in display order (asks the engine for its count).
    std::vector<int> FillSymbologyList() const;
    // The offered ids for an engine that knows engineCount symbologies.
    static std::vector<int> SymbologyListFor(int engineCount);
    // The list this wrapper filled when it was created.
    const std::vector<int>& GetSymbologyList() const { return m_symbologies; }
    // The engine's own names, indexed by id.
    const wchar_t* const* GetEngineTypeNames() const;

    // Live wrappers in the process: 0 once the process-wide wrapper is gone
    // (at unload), when objects destroyed later must not call it any more.
    static int GetInstanceCount();

private:
    std::shared_ptr<CBarCodeLease::Slot> Allocate();
    void Release(std::shared_ptr<CBarCodeLease::Slot> slot);

    mutable std::mutex m_lock;
    std::map<const CBaseView*, std::shared_ptr<CBarCodeLease::Slot>> m_views;
    std::vector<std::shared_ptr<CBarCodeLease::Slot>> m_nullViews;
    const wchar_t* const* m_typeNames = nullptr;
    int m_typeCount = 0;
    std::vector<int> m_symbologies;
};

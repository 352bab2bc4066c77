#include "morvik/afx/extension_module.h"

#include <algorithm>
#include <atomic>
#include <mutex>

IMPLEMENT_DYNAMIC(CDynLinkLibrary, CObject)

namespace {

std::atomic<bool> g_chainGone{false};

struct LibraryChain {
    std::mutex mutex;
    std::vector<CDynLinkLibrary*> entries;

    // Frees whatever the host left in the chain at process exit.
    ~LibraryChain() {
        std::vector<CDynLinkLibrary*> left;
        {
            std::lock_guard<std::mutex> lock(mutex);
            left.swap(entries);
        }
        g_chainGone = true;
        for (CDynLinkLibrary* p : left) delete p;
    }
};

LibraryChain* Chain() {
    if (g_chainGone) return nullptr;
    static LibraryChain chain;
    return &chain;
}

}  // namespace

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& module, HMODULE instance) {
    module.bInitialized = TRUE;
    module.hModule = instance;
    module.hResource = instance;
    return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& module, BOOL all) {
    std::vector<CDynLinkLibrary*> doomed;
    if (LibraryChain* chain = Chain()) {
        std::lock_guard<std::mutex> lock(chain->mutex);
        auto keep = std::stable_partition(chain->entries.begin(), chain->entries.end(), [&](CDynLinkLibrary* p) {
            return !all && p->m_hModule != module.hModule;
        });
        doomed.assign(keep, chain->entries.end());
        chain->entries.erase(keep, chain->entries.end());
    }
    // Deleted outside the lock: each destructor looks for itself in the chain.
    for (CDynLinkLibrary* p : doomed) delete p;
    module.bInitialized = FALSE;
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& module, BOOL system)
    : m_hModule(module.hModule), m_hResource(module.hResource), m_bSystem(system) {
    if (LibraryChain* chain = Chain()) {
        std::lock_guard<std::mutex> lock(chain->mutex);
        chain->entries.push_back(this);
    }
}

CDynLinkLibrary::~CDynLinkLibrary() {
    if (LibraryChain* chain = Chain()) {
        std::lock_guard<std::mutex> lock(chain->mutex);
        auto it = std::find(chain->entries.begin(), chain->entries.end(), this);
        if (it != chain->entries.end()) chain->entries.erase(it);
    }
}

std::vector<HMODULE> AfxGetLibraryChain() {
    std::vector<HMODULE> modules;
    if (LibraryChain* chain = Chain()) {
        std::lock_guard<std::mutex> lock(chain->mutex);
        for (CDynLinkLibrary* p : chain->entries) modules.push_back(p->m_hModule);
    }
    return modules;
}

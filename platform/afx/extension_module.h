// MFC extension modules: a library that a host links registers itself in
// the process-wide chain of library modules (MFC's resource and class
// chain) with a CDynLinkLibrary. The chain owns its entries: they are freed
// by AfxTermExtensionModule or, at the latest, when the process exits.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/afx/cobject.h"
#include "morvik/win32/windows.h"

struct MORVIK_API AFX_EXTENSION_MODULE {
    BOOL bInitialized = FALSE;
    HMODULE hModule = nullptr;
    HMODULE hResource = nullptr;
};

// Marks the module initialised for the given instance. Always succeeds.
BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& module, HMODULE instance);
// Frees the chain entries of this module (of every module when all is set)
// and marks the module uninitialised.
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& module, BOOL all = FALSE);

class MORVIK_API CDynLinkLibrary : public CObject {
    DECLARE_DYNAMIC(CDynLinkLibrary)

public:
    // Create with new: the entry inserts itself into the chain, which then
    // owns it. Deleting it removes it from the chain.
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& module, BOOL system = FALSE);
    ~CDynLinkLibrary() override;
    CDynLinkLibrary(const CDynLinkLibrary&) = delete;
    CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

    HMODULE m_hModule;
    HMODULE m_hResource;
    BOOL m_bSystem;
};

// The modules of the chain's entries, oldest first.
std::vector<HMODULE> AfxGetLibraryChain();

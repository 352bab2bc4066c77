// Sample host: loads the shape library as a host would and reports what it
// offers.
#include <cstdio>
#include <string>

#include "afx/cobject.h"
#include "core/morvik.h"
#include "halder/baseshape.h"

int main(int argc, char** argv) {
    std::string outDir = argc > 1 ? argv[1] : "demo-output";
    std::printf("Morvik %s\n", MorvikVersion());
    std::printf("registered shape classes:\n");
    for (const CRuntimeClass* rc : CRuntimeClass::AllClasses()) {
        if (rc->m_wSchema == AFX_NO_SCHEMA || !rc->IsDerivedFrom(RUNTIME_CLASS(CBaseShape))) {
            continue;
        }
        std::printf("  %s (schema %u)\n", rc->m_lpszClassName, static_cast<unsigned>(rc->m_wSchema));
    }
    std::printf("output folder: %s (nothing written yet)\n", outDir.c_str());
    return 0;
}

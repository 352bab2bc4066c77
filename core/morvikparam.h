// The process-wide default parameters that the library offers its host.
// Nothing in the library reads them; the host fills and reads them.
#pragma once

#include "morvik/afx/morvik_api.h"

#include "morvik/afx/cstring.h"
#include "morvik/core/params.h"
#include "morvik/halder/records.h"

class MORVIK_API CMorvikParam {
public:
    CMorvikParam() = default;
    CMorvikParam(const CMorvikParam&) = default;
    CMorvikParam& operator=(const CMorvikParam&) = default;
    ~CMorvikParam() = default;

    // The one instance, built on the first call and destroyed at unload
    // (process exit or when the library is unloaded).
    static CMorvikParam* Instance();

    FONTS_PAR m_parFonts;  // default text and font parameters
    CString m_strText;     // the host's own text; empty at first
    FILLED_PARS m_parFill;  // default fill
    SCREW_PAR m_parScrew;   // default spiral line
};

// The process-wide wrapper of the barcode engine. One instance serves the
// whole process (GetCodebarInstance); its operations come with the barcode
// support.
#pragma once

class CMyCodebar {
public:
    CMyCodebar();
    ~CMyCodebar();
    CMyCodebar(const CMyCodebar&) = delete;
    CMyCodebar& operator=(const CMyCodebar&) = delete;
};

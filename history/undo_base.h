// The base of every undo record.
#pragma once

class CCore;

class CUND_Base {
public:
    CUND_Base() = default;
    CUND_Base(const CUND_Base&) = delete;
    CUND_Base& operator=(const CUND_Base&) = delete;
    // Frees the payload; the record itself is deleted after.
    virtual void Destroy() {}
    virtual ~CUND_Base() = default;
    virtual int GetKind() { return 0; }
    virtual int OnEditUndo(CCore*) { return 0; }
    virtual int OnEditRedo(CCore*) { return 0; }
    virtual void OutputLog(CCore*) {}
    virtual void SetVectorFile() {}
};

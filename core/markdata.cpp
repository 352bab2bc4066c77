#include "morvik/core/markdata.h"

#include "morvik/halder/baseshape.h"

MarkDataLock::MarkDataLock(CBaseShape* shape, tagMarkDataPar* record) : m_shape(shape), m_record(record) {}

MarkDataLock::~MarkDataLock() { Release(); }

void MarkDataLock::Release() {
    if (!m_released && m_shape != nullptr) {
        m_shape->UnlockShape();
    }
    m_released = true;
}

bool MarkDataLock::Finish(bool ok) {
    if (ok && m_shape != nullptr) {
        Gdiplus::RectF r;
        m_shape->GetRectangle(r);
        m_shape->GetMarkCache().rect = r;
        if (m_record != nullptr) {
            m_record->rect = r;
        }
    }
    Release();
    return ok;
}

bool MarkDataLock::Leave(bool ok) {
    if (m_shape != nullptr && m_record != nullptr) {
        *m_record = m_shape->GetMarkCache();
    }
    Release();
    return ok;
}

bool MarkDataLock::LeaveWithRect(bool ok) {
    if (ok && m_shape != nullptr) {
        Gdiplus::RectF r;
        m_shape->GetRectangle(r);
        m_shape->GetMarkCache().rect = r;
    }
    return Leave(ok);
}

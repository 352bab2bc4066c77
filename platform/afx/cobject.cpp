#include "morvik/afx/cobject.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

struct ClassRegistry {
    std::mutex mutex;
    std::map<std::string, CRuntimeClass*, std::less<>> byName;
};

// Created on first use, so registration works from any static initialiser.
ClassRegistry& Registry() {
    static ClassRegistry registry;
    return registry;
}

// Class names are ASCII identifiers; anything else matches no class.
bool NarrowName(const wchar_t* name, std::string& out) {
    for (; *name; ++name) {
        if (*name <= 0 || *name >= 0x80) return false;
        out.push_back(static_cast<char>(*name));
    }
    return true;
}

}  // namespace

CRuntimeClass::CRuntimeClass(const char* className, int objectSize, UINT schema, Factory factory,
                             CRuntimeClass* baseClass)
    : m_lpszClassName(className ? className : ""),
      m_nObjectSize(objectSize),
      m_wSchema(schema),
      m_pfnCreateObject(factory),
      m_pBaseClass(baseClass) {
    ClassRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.byName.emplace(m_lpszClassName, this);
}

CRuntimeClass::~CRuntimeClass() {
    // The registry was created before any class registered in it, so it is
    // still alive while the classes are destroyed at exit.
    ClassRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.byName.find(m_lpszClassName);
    if (it != r.byName.end() && it->second == this) r.byName.erase(it);
}

CObject* CRuntimeClass::CreateObject() const {
    return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
    if (!base) return FALSE;
    // The chain is bounded in case a faulty registration made it circular.
    int depth = 0;
    for (const CRuntimeClass* c = this; c && depth < 1024; c = c->m_pBaseClass, ++depth) {
        if (c == base) return TRUE;
    }
    return FALSE;
}

CRuntimeClass* CRuntimeClass::FromName(const char* className) {
    if (!className) return nullptr;
    ClassRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.byName.find(std::string_view(className));
    return it == r.byName.end() ? nullptr : it->second;
}

CRuntimeClass* CRuntimeClass::FromName(const wchar_t* className) {
    std::string name;
    if (!className || !NarrowName(className, name)) return nullptr;
    return FromName(name.c_str());
}

CObject* CRuntimeClass::CreateObject(const char* className) {
    CRuntimeClass* c = FromName(className);
    return c ? c->CreateObject() : nullptr;
}

CObject* CRuntimeClass::CreateObject(const wchar_t* className) {
    CRuntimeClass* c = FromName(className);
    return c ? c->CreateObject() : nullptr;
}

CRuntimeClass* CObject::GetThisClass() {
    static CRuntimeClass rc("CObject", static_cast<int>(sizeof(CObject)), AFX_NO_SCHEMA, nullptr, nullptr);
    return &rc;
}

[[maybe_unused]] static CRuntimeClass* const afxClassInit_CObject = CObject::GetThisClass();

CRuntimeClass* CObject::GetRuntimeClass() const { return CObject::GetThisClass(); }
void CObject::Serialize(CArchive&) {}
void CObject::AssertValid() const {}
void CObject::Dump(CDumpContext&) const {}

BOOL CObject::IsKindOf(const CRuntimeClass* cls) const {
    const CRuntimeClass* mine = GetRuntimeClass();
    return mine ? mine->IsDerivedFrom(cls) : FALSE;
}

BOOL CObject::IsSerializable() const {
    const CRuntimeClass* mine = GetRuntimeClass();
    return mine && mine->m_wSchema != AFX_NO_SCHEMA ? TRUE : FALSE;
}

std::vector<CRuntimeClass*> CRuntimeClass::AllClasses() {
    ClassRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<CRuntimeClass*> out;
    out.reserve(r.byName.size());
    for (const auto& entry : r.byName) {
        out.push_back(entry.second);
    }
    return out;
}

void CArchive::Write(const void* data, size_t size) {
    if (!m_storing || size == 0) return;
    const auto* p = static_cast<const unsigned char*>(data);
    m_buffer.insert(m_buffer.end(), p, p + size);
}

bool CArchive::Read(void* data, size_t size) {
    if (m_storing || !m_good || size > m_buffer.size() - m_pos) {
        m_good = false;
        return false;
    }
    if (size > 0) std::memcpy(data, m_buffer.data() + m_pos, size);
    m_pos += size;
    return true;
}

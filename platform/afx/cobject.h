// MFC's CObject and run-time classes, with our own registry.
//
// Each run-time class names its run-time base explicitly when it is
// implemented (IMPLEMENT_DYNAMIC(class, base) and friends); IsDerivedFrom
// follows that chain, not C++ inheritance. A class's CRuntimeClass is a
// function-local static, so RUNTIME_CLASS works at any time, including
// during the static initialisation of other translation units; the
// registry behind FromName is filled when each class's translation unit is
// initialised (and whenever a class is first used).
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstddef>
#include <vector>

#include "morvik/win32/windows.h"

class CObject;

// A memory archive: the binary form a shape's Serialize stores and loads.
// Values are written little-endian in their native widths. Reading past the
// end fails and leaves the archive failed; nothing is read after that.
class MORVIK_API CArchive {
public:
    enum Mode { load = 1, store = 0 };
    // A storing archive starts empty; a loading one reads a copy of data.
    explicit CArchive(Mode mode) : m_storing(mode == store) {}
    CArchive(const unsigned char* data, size_t size) : m_storing(false), m_buffer(data, data + size) {}

    bool IsStoring() const { return m_storing; }
    bool IsLoading() const { return !m_storing; }
    void Write(const void* data, size_t size);
    // False (and nothing read) when fewer than size bytes remain.
    bool Read(void* data, size_t size);
    bool IsGood() const { return m_good; }
    size_t Remaining() const { return m_buffer.size() - m_pos; }
    const std::vector<unsigned char>& GetBuffer() const { return m_buffer; }

private:
    bool m_storing;
    bool m_good = true;
    size_t m_pos = 0;
    std::vector<unsigned char> m_buffer;
};
class MORVIK_API CDumpContext {};

constexpr UINT AFX_NO_SCHEMA = 0xFFFF;

struct MORVIK_API CRuntimeClass {
    using Factory = CObject* (*)();

    // Registers the class under its name. The first class registered under a
    // name keeps it.
    CRuntimeClass(const char* className, int objectSize, UINT schema, Factory factory, CRuntimeClass* baseClass);
    ~CRuntimeClass();
    CRuntimeClass(const CRuntimeClass&) = delete;
    CRuntimeClass& operator=(const CRuntimeClass&) = delete;

    // A new object of this class, or null when the class has no factory.
    CObject* CreateObject() const;
    // True when this class is base or has it in its chain of run-time bases.
    BOOL IsDerivedFrom(const CRuntimeClass* base) const;

    // Lookup by class name; null when no class of that name is registered.
    static CRuntimeClass* FromName(const char* className);
    static CRuntimeClass* FromName(const wchar_t* className);
    static CObject* CreateObject(const char* className);
    static CObject* CreateObject(const wchar_t* className);
    // Every registered class, ordered by name.
    static std::vector<CRuntimeClass*> AllClasses();

    const char* m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;  // AFX_NO_SCHEMA for classes that are not serialisable
    Factory m_pfnCreateObject;
    CRuntimeClass* m_pBaseClass;
};

class MORVIK_API CObject {
public:
    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    virtual void Serialize(CArchive& ar);
    virtual void AssertValid() const;
    virtual void Dump(CDumpContext& dc) const;

    BOOL IsKindOf(const CRuntimeClass* cls) const;
    BOOL IsSerializable() const;

    static CRuntimeClass* GetThisClass();

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

#define RUNTIME_CLASS(class_name) (class_name::GetThisClass())

#define DECLARE_DYNAMIC(class_name)                     \
public:                                                 \
    static CRuntimeClass* GetThisClass();               \
    CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name)       \
    static CObject* CreateObject();

#define DECLARE_SERIAL(class_name) DECLARE_DYNCREATE(class_name)

#define AFX_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, schema, factory)                             \
    CRuntimeClass* class_name::GetThisClass() {                                                               \
        static CRuntimeClass rc(#class_name, static_cast<int>(sizeof(class_name)), schema, factory,          \
                                RUNTIME_CLASS(base_class_name));                                              \
        return &rc;                                                                                           \
    }                                                                                                         \
    CRuntimeClass* class_name::GetRuntimeClass() const { return class_name::GetThisClass(); }                 \
    [[maybe_unused]] static CRuntimeClass* const afxClassInit_##class_name = class_name::GetThisClass();

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    AFX_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, AFX_NO_SCHEMA, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                        \
    CObject* class_name::CreateObject() { return new class_name; }             \
    AFX_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, AFX_NO_SCHEMA, &class_name::CreateObject)

#define IMPLEMENT_SERIAL(class_name, base_class_name, schema)                   \
    CObject* class_name::CreateObject() { return new class_name; }             \
    AFX_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, static_cast<UINT>(schema), &class_name::CreateObject)

// MFC's growable arrays over std::vector. Element access outside the array
// throws std::out_of_range instead of reading past the end.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "morvik/afx/cobject.h"

template <class TYPE, class ARG_TYPE = const TYPE&>
class MORVIK_API CArray : public CObject {
public:
    CArray() = default;
    CArray(const CArray&) = default;
    CArray& operator=(const CArray&) = default;

    intptr_t GetSize() const { return static_cast<intptr_t>(m_data.size()); }
    intptr_t GetCount() const { return GetSize(); }
    bool IsEmpty() const { return m_data.empty(); }
    intptr_t GetUpperBound() const { return GetSize() - 1; }
    // Negative sizes empty the array; the growth step is ignored.
    void SetSize(intptr_t newSize, intptr_t /*growBy*/ = -1) {
        m_data.resize(newSize > 0 ? static_cast<size_t>(newSize) : 0);
    }
    void RemoveAll() { m_data.clear(); }
    void FreeExtra() { m_data.shrink_to_fit(); }

    const TYPE& GetAt(intptr_t i) const { return m_data.at(Index(i)); }
    TYPE& GetAt(intptr_t i) { return m_data.at(Index(i)); }
    TYPE& ElementAt(intptr_t i) { return m_data.at(Index(i)); }
    void SetAt(intptr_t i, ARG_TYPE e) { m_data.at(Index(i)) = e; }
    const TYPE& operator[](intptr_t i) const { return GetAt(i); }
    TYPE& operator[](intptr_t i) { return GetAt(i); }
    const TYPE* GetData() const { return m_data.data(); }
    TYPE* GetData() { return m_data.data(); }

    // Grows the array when i is past the end.
    void SetAtGrow(intptr_t i, ARG_TYPE e) {
        if (i < 0) return;
        if (static_cast<size_t>(i) >= m_data.size()) m_data.resize(static_cast<size_t>(i) + 1);
        m_data[static_cast<size_t>(i)] = e;
    }
    intptr_t Add(ARG_TYPE e) {
        m_data.push_back(e);
        return GetUpperBound();
    }
    intptr_t Append(const CArray& src) {
        intptr_t first = GetSize();
        m_data.insert(m_data.end(), src.m_data.begin(), src.m_data.end());
        return first;
    }
    void Copy(const CArray& src) { m_data = src.m_data; }
    // Inserting past the end grows the array up to the index first.
    void InsertAt(intptr_t i, ARG_TYPE e, intptr_t count = 1) {
        if (i < 0 || count <= 0) return;
        if (static_cast<size_t>(i) > m_data.size()) m_data.resize(static_cast<size_t>(i));
        m_data.insert(m_data.begin() + i, static_cast<size_t>(count), e);
    }
    // Removes what lies inside the array of [i, i + count).
    void RemoveAt(intptr_t i, intptr_t count = 1) {
        if (i < 0 || count <= 0 || static_cast<size_t>(i) >= m_data.size()) return;
        size_t end = std::min(m_data.size(), static_cast<size_t>(i) + static_cast<size_t>(count));
        m_data.erase(m_data.begin() + i, m_data.begin() + static_cast<intptr_t>(end));
    }

private:
    static size_t Index(intptr_t i) { return i < 0 ? SIZE_MAX : static_cast<size_t>(i); }

    std::vector<TYPE> m_data;
};

using CPtrArray = CArray<void*, void*>;
using CObArray = CArray<CObject*, CObject*>;

// A typed array of pointers; the base names the untyped array it stands for
// in MFC and does not change the storage.
template <class BASE_CLASS, class TYPE>
class MORVIK_API CTypedPtrArray : public CArray<TYPE, TYPE> {};

// SriBase: the base of every persistent record. A record registers its
// persistent fields by key in AddAllProp; Save and Read move the registered
// fields through an SriFile.
//
// Save and Read rebuild the registry themselves (ClearProps, then
// AddAllProp(extended)) and drop it again when done, so callers never call
// AddAllProp by hand, and a derived AddAllProp calls its base's first and
// then registers its own fields in their saved order.
//
// Encoding of one record (all integers little-endian, fixed width):
//
//   u32 body length, then per registered field, in registration order:
//     u32 key length, key bytes (UTF-8)
//     u8  type tag
//     u32 payload length, payload
//
// Payloads: bool, char and 8-bit integers 1 byte; 16/32/64-bit integers,
// float and double their width; tagPOINTF and Gdiplus::PointF two floats;
// Gdiplus::RectF X, Y, Width, Height; GUID Data1, Data2, Data3, Data4; CTime
// its 64-bit seconds; std::wstring u32 unit count and UTF-16LE units
// (characters outside the Basic Multilingual Plane as surrogate pairs);
// std::string u32 byte count and bytes; a nested record u32 length and the
// bytes its own Save writes; a vector u32 count and its elements; a raw block
// its bytes. The extended flag does not change the encoding: it is handed to
// AddAllProp and to nested records.
//
// Reading matches fields by key: the n-th saved occurrence of a key goes to
// the n-th registered field with that key. Unknown keys, a saved type that
// differs from the registered one and payloads that do not decode are
// skipped, and the field keeps its value (a vector or string is replaced only
// when it decodes whole). A registered key absent from the stream keeps its
// value too. Nothing is read past the record, every count is checked against
// the bytes left before anything is allocated, and a record that is truncated
// or whose framing is broken leaves the stream failed (state 3).
//
// Raw blocks (AddProp(key, data, byteCount)): a saved block of another length
// fills min(saved, registered) bytes and leaves the rest as it was.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <concepts>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "morvik/afx/cobject.h"
#include "morvik/afx/ctime.h"
#include "morvik/core/srifile.h"
#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/halder/halder_types.h"
#include "morvik/win32/windows.h"

class SriBase;

namespace sri {

using Bytes = std::vector<uint8_t>;

// Type tags: the low 6 bits name the element type, the top 2 bits count the
// vector levels around it (a vector of vectors of tagPOINTF is kPointF + 2 *
// kVectorStep).
enum Tag : uint8_t {
    kBool = 1,
    kChar = 2,
    kInt8 = 3,
    kUInt8 = 4,
    kInt16 = 5,
    kUInt16 = 6,
    kInt32 = 7,
    kUInt32 = 8,
    kInt64 = 9,
    kUInt64 = 10,
    kFloat = 11,
    kDouble = 12,
    kPointF = 13,  // tagPOINTF
    kGdiPointF = 14,
    kRectF = 15,
    kGuid = 16,
    kWString = 17,
    kString = 18,
    kTime = 19,
    kRecord = 20,
    kRaw = 21,
};
constexpr uint8_t kVectorStep = 0x40;
constexpr int kMaxVectorDepth = 3;

inline void PutLE(Bytes& out, uint64_t v, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutU32(Bytes& out, uint32_t v) { PutLE(out, v, 4); }
inline void PutFloat(Bytes& out, float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    PutLE(out, u, 4);
}
inline void PutDouble(Bytes& out, double d) {
    uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    PutLE(out, u, 8);
}

// A bounded cursor over one payload: every read checks the bytes left.
struct MORVIK_API Reader {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;

    size_t Left() const { return size - pos; }
    bool AtEnd() const { return pos == size; }
    // Pointer to the next n bytes, advancing past them; nullptr when fewer remain.
    const uint8_t* Take(size_t n) {
        if (n > Left()) return nullptr;
        const uint8_t* p = data + pos;
        pos += n;
        return p;
    }
    bool GetLE(uint64_t& v, size_t width) {
        const uint8_t* p = Take(width);
        if (!p) return false;
        v = 0;
        for (size_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
        return true;
    }
    bool GetU32(uint32_t& v) {
        uint64_t u;
        if (!GetLE(u, 4)) return false;
        v = static_cast<uint32_t>(u);
        return true;
    }
    bool GetFloat(float& f) {
        uint32_t u;
        if (!GetU32(u)) return false;
        std::memcpy(&f, &u, sizeof f);
        return true;
    }
    bool GetDouble(double& d) {
        uint64_t u;
        if (!GetLE(u, 8)) return false;
        std::memcpy(&d, &u, sizeof d);
        return true;
    }
};

// A nested record: u32 length and the bytes of the record's own Save.
void PutRecord(Bytes& out, SriBase& record, bool extended);
bool GetRecord(Reader& in, SriBase& record, bool extended);

// UTF-16LE with surrogate pairs. A wchar_t beyond U+10FFFF is written as
// U+FFFD; surrogate values pass through as single units, so an unpaired one
// reads back as it was.
MORVIK_API void PutWString(Bytes& out, const std::wstring& s);
MORVIK_API bool GetWString(Reader& in, std::wstring& s);

// Codec<T>: the tag, the smallest encoded size of one value (to bound counts
// read from a stream) and the encoder and decoder of one supported type.
template <class T>
struct Codec;

template <class T>
concept Encodable = requires {
    { Codec<T>::kTag } -> std::convertible_to<uint8_t>;
    { Codec<T>::kMinSize } -> std::convertible_to<size_t>;
};

template <class T>
concept PlainInteger = std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>;

template <size_t Width, bool Signed>
constexpr uint8_t IntegerTag() {
    if constexpr (Width == 1) return Signed ? kInt8 : kUInt8;
    else if constexpr (Width == 2) return Signed ? kInt16 : kUInt16;
    else if constexpr (Width == 4) return Signed ? kInt32 : kUInt32;
    else return Signed ? kInt64 : kUInt64;
}

template <PlainInteger T>
    requires(sizeof(T) <= 8)
struct Codec<T> {
    static constexpr uint8_t kTag = IntegerTag<sizeof(T), std::is_signed_v<T>>();
    static constexpr size_t kMinSize = sizeof(T);
    static void Put(Bytes& out, T& v, bool) { PutLE(out, static_cast<std::make_unsigned_t<T>>(v), sizeof(T)); }
    static bool Get(Reader& in, T& v, bool) {
        uint64_t u;
        if (!in.GetLE(u, sizeof(T))) return false;
        v = static_cast<T>(static_cast<std::make_unsigned_t<T>>(u));
        return true;
    }
};

template <>
struct Codec<bool> {
    static constexpr uint8_t kTag = kBool;
    static constexpr size_t kMinSize = 1;
    static void Put(Bytes& out, bool& v, bool) { out.push_back(v ? 1 : 0); }
    static bool Get(Reader& in, bool& v, bool) {
        const uint8_t* p = in.Take(1);
        if (!p) return false;
        v = *p != 0;
        return true;
    }
};

template <>
struct Codec<char> {
    static constexpr uint8_t kTag = kChar;
    static constexpr size_t kMinSize = 1;
    static void Put(Bytes& out, char& v, bool) { out.push_back(static_cast<uint8_t>(v)); }
    static bool Get(Reader& in, char& v, bool) {
        const uint8_t* p = in.Take(1);
        if (!p) return false;
        v = static_cast<char>(*p);
        return true;
    }
};

template <>
struct Codec<float> {
    static constexpr uint8_t kTag = kFloat;
    static constexpr size_t kMinSize = 4;
    static void Put(Bytes& out, float& v, bool) { PutFloat(out, v); }
    static bool Get(Reader& in, float& v, bool) { return in.GetFloat(v); }
};

template <>
struct Codec<double> {
    static constexpr uint8_t kTag = kDouble;
    static constexpr size_t kMinSize = 8;
    static void Put(Bytes& out, double& v, bool) { PutDouble(out, v); }
    static bool Get(Reader& in, double& v, bool) { return in.GetDouble(v); }
};

template <>
struct Codec<tagPOINTF> {
    static constexpr uint8_t kTag = kPointF;
    static constexpr size_t kMinSize = 8;
    static void Put(Bytes& out, tagPOINTF& v, bool) {
        PutFloat(out, v.x);
        PutFloat(out, v.y);
    }
    static bool Get(Reader& in, tagPOINTF& v, bool) { return in.GetFloat(v.x) && in.GetFloat(v.y); }
};

template <>
struct Codec<Gdiplus::PointF> {
    static constexpr uint8_t kTag = kGdiPointF;
    static constexpr size_t kMinSize = 8;
    static void Put(Bytes& out, Gdiplus::PointF& v, bool) {
        PutFloat(out, v.X);
        PutFloat(out, v.Y);
    }
    static bool Get(Reader& in, Gdiplus::PointF& v, bool) { return in.GetFloat(v.X) && in.GetFloat(v.Y); }
};

template <>
struct Codec<Gdiplus::RectF> {
    static constexpr uint8_t kTag = kRectF;
    static constexpr size_t kMinSize = 16;
    static void Put(Bytes& out, Gdiplus::RectF& v, bool) {
        PutFloat(out, v.X);
        PutFloat(out, v.Y);
        PutFloat(out, v.Width);
        PutFloat(out, v.Height);
    }
    static bool Get(Reader& in, Gdiplus::RectF& v, bool) {
        return in.GetFloat(v.X) && in.GetFloat(v.Y) && in.GetFloat(v.Width) && in.GetFloat(v.Height);
    }
};

template <>
struct Codec<GUID> {
    static constexpr uint8_t kTag = kGuid;
    static constexpr size_t kMinSize = 16;
    static void Put(Bytes& out, GUID& v, bool) {
        PutLE(out, v.Data1, 4);
        PutLE(out, v.Data2, 2);
        PutLE(out, v.Data3, 2);
        out.insert(out.end(), std::begin(v.Data4), std::end(v.Data4));
    }
    static bool Get(Reader& in, GUID& v, bool) {
        uint64_t d1, d2, d3;
        if (!in.GetLE(d1, 4) || !in.GetLE(d2, 2) || !in.GetLE(d3, 2)) return false;
        const uint8_t* p = in.Take(sizeof v.Data4);
        if (!p) return false;
        v.Data1 = static_cast<uint32_t>(d1);
        v.Data2 = static_cast<uint16_t>(d2);
        v.Data3 = static_cast<uint16_t>(d3);
        std::memcpy(v.Data4, p, sizeof v.Data4);
        return true;
    }
};

template <>
struct Codec<CTime> {
    static constexpr uint8_t kTag = kTime;
    static constexpr size_t kMinSize = 8;
    static void Put(Bytes& out, CTime& v, bool) { PutLE(out, static_cast<uint64_t>(v.GetTime()), 8); }
    static bool Get(Reader& in, CTime& v, bool) {
        uint64_t u;
        if (!in.GetLE(u, 8)) return false;
        v = CTime(static_cast<int64_t>(u));
        return true;
    }
};

template <>
struct Codec<std::wstring> {
    static constexpr uint8_t kTag = kWString;
    static constexpr size_t kMinSize = 4;
    static void Put(Bytes& out, std::wstring& v, bool) { PutWString(out, v); }
    static bool Get(Reader& in, std::wstring& v, bool) { return GetWString(in, v); }
};

template <>
struct Codec<std::string> {
    static constexpr uint8_t kTag = kString;
    static constexpr size_t kMinSize = 4;
    static void Put(Bytes& out, std::string& v, bool) {
        PutU32(out, static_cast<uint32_t>(v.size()));
        out.insert(out.end(), v.begin(), v.end());
    }
    static bool Get(Reader& in, std::string& v, bool) {
        uint32_t n;
        if (!in.GetU32(n)) return false;
        const uint8_t* p = in.Take(n);
        if (!p) return false;
        v.assign(reinterpret_cast<const char*>(p), n);
        return true;
    }
};

template <Encodable T>
    requires((Codec<T>::kTag / kVectorStep) < kMaxVectorDepth && std::default_initializable<T>)
struct Codec<std::vector<T>> {
    static constexpr uint8_t kTag = static_cast<uint8_t>(Codec<T>::kTag + kVectorStep);
    static constexpr size_t kMinSize = 4;
    static void Put(Bytes& out, std::vector<T>& v, bool extended) {
        PutU32(out, static_cast<uint32_t>(v.size()));
        for (size_t i = 0; i < v.size(); ++i) {
            if constexpr (std::is_same_v<T, bool>) {
                bool b = v[i];
                Codec<bool>::Put(out, b, extended);
            } else {
                Codec<T>::Put(out, v[i], extended);
            }
        }
    }
    // Decodes into v, which the caller hands over empty.
    static bool Get(Reader& in, std::vector<T>& v, bool extended) {
        uint32_t n;
        if (!in.GetU32(n)) return false;
        // Every element takes at least kMinSize bytes: a count that the bytes
        // left cannot hold is corrupt and allocates nothing.
        if (n > in.Left() / Codec<T>::kMinSize) return false;
        v.clear();
        v.resize(n);
        for (size_t i = 0; i < n; ++i) {
            if constexpr (std::is_same_v<T, bool>) {
                bool b = false;
                if (!Codec<bool>::Get(in, b, extended)) return false;
                v[i] = b;
            } else {
                if (!Codec<T>::Get(in, v[i], extended)) return false;
            }
        }
        return true;
    }
};

}  // namespace sri

class MORVIK_API SriBase : public CObject {
public:
    SriBase() = default;
    // The registry holds pointers into the object it belongs to: a copy
    // starts with an empty one.
    SriBase(const SriBase&) noexcept {}
    SriBase& operator=(const SriBase&) noexcept { return *this; }
    // Nor is it part of the value: records compare by their fields alone.
    bool operator==(const SriBase&) const noexcept { return true; }
    virtual ~SriBase();

    // Writes this record to the file; a null file does nothing.
    virtual void Save(bool extended, SriFile* file);
    // Reads one record from the file's cursor into the registered fields.
    virtual void Read(bool extended, SriFile* file);
    // Registers the persistent fields; the base registers nothing.
    virtual void AddAllProp(bool extended);

    // Registration of one field. Supported: bool, char, the signed and
    // unsigned 8/16/32/64-bit integers, float, double, tagPOINTF,
    // Gdiplus::PointF, Gdiplus::RectF, GUID, CTime, std::wstring,
    // std::string, nested records (any SriBase-derived type) and std::vector
    // of these up to three levels deep (vector elements must be default
    // constructible). A null key or field registers nothing, nor does a record
    // registered inside itself.
    template <sri::Encodable T>
    void AddProp(const char* key, T* field) {
        if (!key || !field) return;
        if constexpr (std::is_base_of_v<SriBase, T>) {
            if (static_cast<const SriBase*>(field) == this) return;
        }
        m_props.push_back(Prop{key, sri::Codec<T>::kTag, field, 0, &SaveField<T>, &LoadField<T>});
    }
    // A raw block of byteCount bytes, saved as it is. A null block or a
    // negative count registers nothing.
    void AddProp(const char* key, void* data, int byteCount);

    // Forgets every registered field.
    void ClearProps() { m_props.clear(); }
    size_t GetPropCount() const { return m_props.size(); }

private:
    struct Prop {
        std::string key;
        uint8_t tag;
        void* field;
        size_t size;  // raw blocks only
        void (*save)(const Prop&, sri::Bytes&, bool);
        bool (*load)(const Prop&, sri::Reader&, bool);
    };

    template <class T>
    static void SaveField(const Prop& p, sri::Bytes& out, bool extended) {
        sri::Codec<T>::Put(out, *static_cast<T*>(p.field), extended);
    }
    // The payload must decode whole. Records read in place (each of their
    // fields is atomic on its own); other values decode into a fresh value
    // that replaces the field only on success.
    template <class T>
    static bool LoadField(const Prop& p, sri::Reader& in, bool extended) {
        T* field = static_cast<T*>(p.field);
        if constexpr (std::is_base_of_v<SriBase, T>) {
            return sri::Codec<T>::Get(in, *field, extended) && in.AtEnd();
        } else {
            T value{};
            if (!sri::Codec<T>::Get(in, value, extended) || !in.AtEnd()) return false;
            *field = std::move(value);
            return true;
        }
    }
    static void SaveRaw(const Prop& p, sri::Bytes& out, bool extended);
    static bool LoadRaw(const Prop& p, sri::Reader& in, bool extended);

    // Registry of the current Save or Read; empty in between.
    std::vector<Prop> m_props;
};

namespace sri {

// Nested records: u32 length and the record's own bytes; every nested record
// takes at least its length word and its own body-length word.
template <class T>
    requires std::derived_from<T, SriBase>
struct Codec<T> {
    static constexpr uint8_t kTag = kRecord;
    static constexpr size_t kMinSize = 8;
    static void Put(Bytes& out, T& v, bool extended) { PutRecord(out, v, extended); }
    static bool Get(Reader& in, T& v, bool extended) { return GetRecord(in, v, extended); }
};

}  // namespace sri

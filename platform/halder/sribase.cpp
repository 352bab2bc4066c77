#include "morvik/halder/sribase.h"

#include <algorithm>
#include <limits>

namespace {

// Records nest through their registered fields only, so real data stays a
// few levels deep; the limit stops a record type that contains itself (or a
// cycle of back pointers) before the stack runs out.
constexpr int kMaxNesting = 64;
thread_local int t_depth = 0;
// Set when a nested record could not be saved, so the record around it
// fails as a whole instead of writing a broken field.
thread_local bool t_nestedFailed = false;

struct NestingGuard {
    bool ok;
    NestingGuard() : ok(++t_depth <= kMaxNesting) {}
    ~NestingGuard() { --t_depth; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
};

constexpr uint64_t kMaxLength = std::numeric_limits<uint32_t>::max();

void PatchU32(sri::Bytes& out, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutU16(sri::Bytes& out, uint32_t unit) { sri::PutLE(out, unit, 2); }

}  // namespace

namespace sri {

void PutRecord(Bytes& out, SriBase& record, bool extended) {
    SriFile mem;
    record.Save(extended, &mem);
    const Bytes& bytes = mem.GetWrittenBytes();
    if (!mem.IsGood() || bytes.size() > kMaxLength) {
        t_nestedFailed = true;
        PutU32(out, 0);
        return;
    }
    PutU32(out, static_cast<uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

bool GetRecord(Reader& in, SriBase& record, bool extended) {
    uint32_t n;
    if (!in.GetU32(n)) return false;
    const uint8_t* p = in.Take(n);
    if (!p) return false;
    SriFile sub(p, n);
    record.Read(extended, &sub);
    return sub.IsGood() && sub.Remaining() == 0;
}

void PutWString(Bytes& out, const std::wstring& s) {
    const size_t at = out.size();
    PutU32(out, 0);
    uint64_t units = 0;
    for (wchar_t wc : s) {
        const uint32_t c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF) {
            PutU16(out, 0xFFFD);
            units += 1;
        } else if (c >= 0x10000) {
            const uint32_t v = c - 0x10000;
            PutU16(out, 0xD800 + (v >> 10));
            PutU16(out, 0xDC00 + (v & 0x3FF));
            units += 2;
        } else {
            PutU16(out, c);
            units += 1;
        }
    }
    // A string too long for the count makes the payload too long as well,
    // which fails the record; the count itself only needs to fit.
    PatchU32(out, at, static_cast<uint32_t>(std::min<uint64_t>(units, kMaxLength)));
}

bool GetWString(Reader& in, std::wstring& s) {
    uint32_t n;
    if (!in.GetU32(n)) return false;
    if (n > in.Left() / 2) return false;
    const uint8_t* p = in.Take(static_cast<size_t>(n) * 2);
    if (!p) return false;
    auto unitAt = [p](size_t i) { return static_cast<uint32_t>(p[2 * i]) | (static_cast<uint32_t>(p[2 * i + 1]) << 8); };
    s.clear();
    s.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t u = unitAt(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const uint32_t lo = unitAt(i + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                s.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00)));
                ++i;
                continue;
            }
        }
        s.push_back(static_cast<wchar_t>(u));
    }
    return true;
}

}  // namespace sri

SriBase::~SriBase() = default;

void SriBase::AddAllProp(bool) {}

void SriBase::AddProp(const char* key, void* data, int byteCount) {
    if (!key || !data || byteCount < 0) return;
    m_props.push_back(Prop{key, sri::kRaw, data, static_cast<size_t>(byteCount), &SaveRaw, &LoadRaw});
}

void SriBase::SaveRaw(const Prop& p, sri::Bytes& out, bool) {
    const uint8_t* src = static_cast<const uint8_t*>(p.field);
    out.insert(out.end(), src, src + p.size);
}

bool SriBase::LoadRaw(const Prop& p, sri::Reader& in, bool) {
    const size_t n = std::min(in.Left(), p.size);
    if (n > 0) std::memcpy(p.field, in.Take(n), n);
    in.pos = in.size;  // a longer saved block: the rest is not ours
    return true;
}

void SriBase::Save(bool extended, SriFile* file) {
    if (!file) return;
    NestingGuard guard;
    if (!guard.ok) {
        file->SetFailed();
        return;
    }
    ClearProps();
    AddAllProp(extended);
    // Work on a local registry: a nested record may lead back to this object
    // (a back pointer), and its Save must not pull the registry from under us.
    std::vector<Prop> props;
    props.swap(m_props);

    sri::Bytes body;
    for (const Prop& p : props) {
        sri::PutU32(body, static_cast<uint32_t>(std::min<uint64_t>(p.key.size(), kMaxLength)));
        body.insert(body.end(), p.key.begin(), p.key.end());
        body.push_back(p.tag);
        const size_t lengthAt = body.size();
        sri::PutU32(body, 0);
        t_nestedFailed = false;
        p.save(p, body, extended);
        const size_t payload = body.size() - lengthAt - 4;
        if (t_nestedFailed || payload > kMaxLength || p.key.size() > kMaxLength) {
            t_nestedFailed = false;
            file->SetFailed();
            return;
        }
        PatchU32(body, lengthAt, static_cast<uint32_t>(payload));
    }
    if (body.size() > kMaxLength) {
        file->SetFailed();
        return;
    }
    file->WriteLong(static_cast<int32_t>(static_cast<uint32_t>(body.size())));
    file->WriteBytes(body.data(), body.size());
}

void SriBase::Read(bool extended, SriFile* file) {
    if (!file || !file->IsGood()) return;
    NestingGuard guard;
    if (!guard.ok) {
        file->SetFailed();
        return;
    }
    int32_t length = 0;
    if (!file->ReadLong(length)) return;
    const uint32_t bodySize = static_cast<uint32_t>(length);
    const uint8_t* body = file->ReadSpan(bodySize);
    if (!body) return;  // truncated: nothing applied, the stream has failed

    ClearProps();
    AddAllProp(extended);
    std::vector<Prop> props;
    props.swap(m_props);
    std::vector<bool> used(props.size(), false);

    sri::Reader in{body, bodySize, 0};
    while (!in.AtEnd()) {
        uint32_t keyLength = 0, payloadLength = 0;
        const uint8_t* key = nullptr;
        const uint8_t* tag = nullptr;
        const uint8_t* payload = nullptr;
        if (!in.GetU32(keyLength) || !(key = in.Take(keyLength)) || !(tag = in.Take(1)) ||
            !in.GetU32(payloadLength) || !(payload = in.Take(payloadLength))) {
            file->SetFailed();  // the framing is broken: nothing after this can be trusted
            return;
        }
        // The n-th occurrence of a key in the stream goes to the n-th field
        // registered under it.
        for (size_t i = 0; i < props.size(); ++i) {
            const Prop& p = props[i];
            if (used[i] || p.key.size() != keyLength || std::memcmp(p.key.data(), key, keyLength) != 0) continue;
            used[i] = true;
            if (p.tag == *tag) {
                sri::Reader field{payload, payloadLength, 0};
                p.load(p, field, extended);
            }
            break;
        }
    }
}

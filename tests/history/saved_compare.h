// Compares two saved shape lists field by field: the structure, every
// integer, string and raw block byte for byte, floats and doubles within a
// tolerance. Shared by the randomized undo tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "morvik/core/srifile.h"
#include "morvik/halder/sribase.h"

namespace history_test {

using Bytes = std::vector<uint8_t>;

// Walks two saved shape lists in step: the structure, every integer, string
// and raw block must agree byte for byte, every float and double within tol
// (plus the same share of its size). `where` names the first difference.
class SavedCompare {
public:
    // With identityAside the GUIDs, captions and running numbers of the
    // shapes are not compared (a copy against its source).
    explicit SavedCompare(double tol, bool identityAside = false) : m_tol(tol), m_identityAside(identityAside) {}

    bool Lists(const Bytes& a, const Bytes& b) {
        Pair p{{a.data(), a.size()}, {b.data(), b.size()}};
        uint32_t count = 0;
        if (!Same(p, 4, "header") || !Count(p, count, "count")) return false;
        for (uint32_t i = 0; i < count; ++i) {
            const std::string at = "shape " + std::to_string(i);
            if (!Same(p, 4, at + " kind") || !Record(p, at)) return false;
        }
        return p.x.AtEnd() && p.y.AtEnd() ? true : Fail("list length");
    }
    std::string where;

private:
    struct Pair {
        sri::Reader x, y;
    };
    bool Fail(const std::string& at) {
        if (where.empty()) where = at;
        return false;
    }
    bool Same(Pair& p, size_t n, const std::string& at) {
        const uint8_t* a = p.x.Take(n);
        const uint8_t* b = p.y.Take(n);
        return a != nullptr && b != nullptr && std::memcmp(a, b, n) == 0 ? true : Fail(at);
    }
    bool Count(Pair& p, uint32_t& n, const std::string& at) {
        uint32_t other = 0;
        return p.x.GetU32(n) && p.y.GetU32(other) && n == other ? true : Fail(at);
    }
    // The next n bytes of both, as a pair of their own.
    bool Sub(Pair& p, uint32_t n, uint32_t m, Pair& sub) {
        const uint8_t* a = p.x.Take(n);
        const uint8_t* b = p.y.Take(m);
        sub = Pair{{a, a ? n : 0}, {b, b ? m : 0}};
        return a != nullptr && b != nullptr;
    }
    bool Close(double a, double b, const std::string& at) {
        if (std::fabs(a - b) <= m_tol * (1.0 + std::max(std::fabs(a), std::fabs(b)))) return true;
        std::ostringstream text;
        text << at << ": " << a << " vs " << b;
        return Fail(text.str());
    }
    bool Floats(Pair& p, int n, const std::string& at) {
        for (int i = 0; i < n; ++i) {
            float a = 0, b = 0;
            if (!p.x.GetFloat(a) || !p.y.GetFloat(b) || !Close(a, b, at)) return Fail(at);
        }
        return true;
    }
    // A record as SriBase::Save writes it: u32 body length, then per field
    // the key, the type tag and the payload with its length.
    bool Record(Pair& p, const std::string& at) {
        uint32_t n = 0, m = 0;
        Pair body;
        if (!p.x.GetU32(n) || !p.y.GetU32(m) || !Sub(p, n, m, body)) return Fail(at + ": record");
        while (!body.x.AtEnd() || !body.y.AtEnd()) {
            uint32_t keyLength = 0;
            if (!Count(body, keyLength, at + ": key")) return false;
            const std::string key(reinterpret_cast<const char*>(body.x.data + body.x.pos),
                                  std::min<size_t>(keyLength, body.x.Left()));
            const std::string field = at + "." + key;
            uint32_t len = 0, len2 = 0;
            Pair payload;
            if (!Same(body, keyLength + 1, field) || !body.x.GetU32(len) || !body.y.GetU32(len2) ||
                !Sub(body, len, len2, payload)) {
                return Fail(field);
            }
            const uint8_t tag = body.x.data[body.x.pos - len - 5];
            if (m_identityAside && (key == "strBaseCaption" || key == "nBaseID" || (tag & 0x3F) == sri::kGuid))
                continue;
            const bool same = (tag & 0x3F) == sri::kRaw ? len == len2 && Same(payload, len, field)
                                                         : Value(payload, tag >> 6, tag & 0x3F, field);
            if (!same || !payload.x.AtEnd() || !payload.y.AtEnd()) return Fail(field);
        }
        return true;
    }
    bool Value(Pair& p, int depth, uint8_t type, const std::string& at) {
        if (depth > 0) {
            uint32_t count = 0;
            if (!Count(p, count, at + ": count")) return false;
            for (uint32_t i = 0; i < count; ++i) {
                // The index joins the name only on a failure: naming every
                // element would cost more than comparing it.
                if (!Value(p, depth - 1, type, at)) {
                    if (where.rfind(at, 0) == 0) where.insert(at.size(), "[" + std::to_string(i) + "]");
                    return false;
                }
            }
            return true;
        }
        switch (type) {
            case sri::kFloat:
                return Floats(p, 1, at);
            case sri::kPointF:
            case sri::kGdiPointF:
                return Floats(p, 2, at);
            case sri::kRectF:
                return Floats(p, 4, at);
            case sri::kDouble: {
                double a = 0, b = 0;
                return p.x.GetDouble(a) && p.y.GetDouble(b) && Close(a, b, at);
            }
            case sri::kRecord: {
                // u32 length, then the record as its own Save writes it.
                uint32_t n = 0, m = 0;
                Pair inner;
                return p.x.GetU32(n) && p.y.GetU32(m) && Sub(p, n, m, inner) && Record(inner, at) &&
                       inner.x.AtEnd() && inner.y.AtEnd();
            }
            case sri::kWString:
            case sri::kString: {
                uint32_t count = 0;
                return Count(p, count, at) && Same(p, type == sri::kWString ? 2 * size_t{count} : count, at);
            }
            case sri::kBool:
            case sri::kChar:
            case sri::kInt8:
            case sri::kUInt8:
                return Same(p, 1, at);
            case sri::kInt16:
            case sri::kUInt16:
                return Same(p, 2, at);
            case sri::kInt32:
            case sri::kUInt32:
                return Same(p, 4, at);
            case sri::kGuid:
                return Same(p, 16, at);
            default:
                return Same(p, 8, at);
        }
    }
    double m_tol;
    bool m_identityAside = false;
};

}  // namespace history_test

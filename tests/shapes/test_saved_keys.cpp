// The saved vocabulary of every shape kind: the keys each kind saves, in
// order, and every one of them read back and saved again with a value of its
// own, alone and all at once. A key dropped from a save, a key read into the
// wrong field, or a field that a read does not restore changes the bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "morvik/compose/combine.h"
#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/controls.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/picture.h"
#include "morvik/shapes/polygon.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/shapes/screwline.h"
#include "support/shape_support.h"

namespace {

using testsupport::Bytes;
using testsupport::Decode;
using testsupport::Encode;
using testsupport::ReadFrom;
using testsupport::SavedField;
using testsupport::SaveOf;

// The keys the base part of every shape saves, first and in this order.
const std::vector<std::string> kBaseKeys = {
    "strBaseCaption", "guidBase",    "guidParent", "nPenIndex",  "nBaseID",    "bVisible", "bReverseOrder",
    "bLink",          "arrLinkIDs", "nMirrorFlag", "bZoomAntiX", "bZoomAntiY", "bAntiPath"};

struct KindSpec {
    std::string name;
    std::function<std::unique_ptr<CBaseShape>()> make;
    std::vector<std::string> keys;  // the kind's own, after the base's
    // Keys saved from one field: a new value goes to all of them at once.
    std::vector<std::set<std::string>> shared = {};
};

template <class T>
std::function<std::unique_ptr<CBaseShape>()> Plain() {
    return [] { return std::make_unique<T>(); };
}

std::vector<KindSpec> Kinds() {
    return {
        {"polyline", Plain<CPolyLine>(), {"arrPointf"}},
        {"Bezier curve",
         [] {
             auto c = std::make_unique<CBezierCurve>();
             c->arrPointf.resize(1);  // a list of nested records cannot be made up from nothing
             return c;
         },
         {"bClosed", "arrPointf"}},
        {"point", Plain<CPoints>(), {"pointf"}},
        {"circle", Plain<CCircle>(), {"Pointf", "13Pointf", "startDeg", "Radius", "ptCenter", "endDeg", "arcPath"}},
        {"ellipse arc",
         Plain<CEllipseArc>(),
         {"arrPointf", "startDeg", "endDeg", "13pointf", "m_bFILE", "m_ptCenter", "m_rotAngle", "m_axisA", "m_axisB",
          "arcPath"}},
        {"rectangle",
         Plain<CRectangle>(),
         {"perR1", "perR2", "perR3", "perR4", "m_fRotateAngle", "m_PeakPointf0", "m_PeakPointf1", "m_PeakPointf2",
          "m_PeakPointf3", "ArcPointf1", "ArcPointf2", "ArcPointf3", "ArcPointf4", "pointf", "pointfLine"}},
        {"polygon",
         [] {
             auto p = std::make_unique<CPolygon>();
             p->vModifySave.resize(1);
             return p;
         },
         {"angle", "angle2", "angle2_diff", "angle_diff", "center0", "nBorder", "nDragIndex", "radius", "radius2",
          "radius2_rate", "radius_rate", "strCaption", "shape_vmodify"},
         {{"strBaseCaption", "strCaption"}}},
        {"spiral line",
         Plain<CScrewLine>(),
         {"nSize", "shape_filler_param", "screwlinearrPointf", "screwlinearrPointf2"}},
        {"picture",
         Plain<CPicture>(),
         {"rectfPic", "fRotateAngle", "4Pointf", "rotatePointf", "bmWidthBytes", "bmWidth", "bmType", "bmPlanes",
          "bmHeight", "bmBitsPixel", "bmBits", "PICTUREPAR"}},
        {"delayed timer", Plain<CDelayedTimer>(), {"Pointf", "nTime"}},
        {"encoder distance", Plain<CEncoderDistance>(), {"pointf", "fDistance"}},
        {"axis move", Plain<CExeAxi>(), {"iUAxiID", "iRelPos", "fMvDist", "iUnit", "bBackToZero", "pointf"}},
        {"input",
         Plain<CInput>(),
         [] {
             std::vector<std::string> keys = {"pointf"};
             for (int i = 0; i < CInput::kPortCount; ++i) keys.push_back("iPort" + std::to_string(i) + "State");
             keys.push_back("strTip");
             keys.push_back("bEnaleTip");
             return keys;
         }()},
        {"output",
         Plain<COutput>(),
         {"pointf", "iOutPortNo", "iSignal", "iPulse", "iPulseWidth", "iSignalWidth"}},
        {"group",
         [] {
             auto g = std::make_unique<CGroupShape>();
             g->vLines.resize(1);
             return g;
         },
         {"group_bDynaic", "group_nPos", "group_fPosX", "group_fPosY", "group_bFixSizeX", "group_bFixSizeY",
          "group_fSizeCX", "group_fSizeCY", "group_bFix", "group_fPosXOrg", "group_fPosYOrg", "group_strFilename",
          "group_bKeepxySizeRate", "group_bImpFromPlt", "group_vLines"}},
        {"compound shape", Plain<CCombineShape>(), {}},
    };
}

// ---- values of their own --------------------------------------------------

bool Change(uint8_t tag, sri::Reader& in, Bytes& out, int salt);

// A value of the given type from nothing: zero bytes changed as any value
// is. Nested records cannot be made this way (their fields are unknown).
bool MakeUp(uint8_t tag, Bytes& out, int salt) {
    if (tag >= sri::kVectorStep) {
        sri::PutU32(out, 2);
        return MakeUp(tag - sri::kVectorStep, out, salt) && MakeUp(tag - sri::kVectorStep, out, salt + 1);
    }
    size_t width = 0;
    switch (tag) {
        case sri::kRecord: return false;
        case sri::kWString:
        case sri::kString: width = 4; break;
        case sri::kBool: case sri::kChar: case sri::kInt8: case sri::kUInt8: width = 1; break;
        case sri::kInt16: case sri::kUInt16: width = 2; break;
        case sri::kInt32: case sri::kUInt32: case sri::kFloat: width = 4; break;
        case sri::kPointF: case sri::kGdiPointF: case sri::kInt64: case sri::kUInt64: case sri::kDouble:
        case sri::kTime: width = 8; break;
        case sri::kRectF: case sri::kGuid: width = 16; break;
        default: return false;
    }
    const Bytes zero(width, 0);
    sri::Reader in{zero.data(), zero.size(), 0};
    return Change(tag, in, out, salt);
}

void PutFloatChanged(sri::Reader& in, Bytes& out, float step) {
    float f = 0;
    in.GetFloat(f);
    sri::PutFloat(out, std::isfinite(f) ? f + step : step);
}

// Reads one value of the type from `in` and writes a different one of the
// same type to `out`; `salt` keeps the values of different fields apart.
bool Change(uint8_t tag, sri::Reader& in, Bytes& out, int salt) {
    if (tag >= sri::kVectorStep) {
        uint32_t n = 0;
        if (!in.GetU32(n)) return false;
        if (n == 0) return MakeUp(tag, out, salt);
        sri::PutU32(out, n);
        for (uint32_t i = 0; i < n; ++i)
            if (!Change(tag - sri::kVectorStep, in, out, salt + int(i))) return false;
        return true;
    }
    const float step = 1.5f + float(salt);
    uint64_t u = 0;
    switch (tag) {
        case sri::kBool: {
            const uint8_t* b = in.Take(1);
            if (!b) return false;
            out.push_back(*b ? 0 : 1);
            return true;
        }
        case sri::kChar: case sri::kInt8: case sri::kUInt8:
            if (!in.GetLE(u, 1)) return false;
            out.push_back(uint8_t(u + 1 + salt));
            return true;
        case sri::kInt16: case sri::kUInt16:
            if (!in.GetLE(u, 2)) return false;
            sri::PutLE(out, u + 1 + salt, 2);
            return true;
        case sri::kInt32: case sri::kUInt32:
            if (!in.GetLE(u, 4)) return false;
            sri::PutLE(out, u + 1 + salt, 4);
            return true;
        case sri::kInt64: case sri::kUInt64: case sri::kTime:
            if (!in.GetLE(u, 8)) return false;
            sri::PutLE(out, u + 1 + salt, 8);
            return true;
        case sri::kFloat: PutFloatChanged(in, out, step); return true;
        case sri::kDouble: {
            double d = 0;
            if (!in.GetDouble(d)) return false;
            sri::PutDouble(out, std::isfinite(d) ? d + 0.25 + salt : 0.25 + salt);
            return true;
        }
        case sri::kPointF: case sri::kGdiPointF:
            PutFloatChanged(in, out, step);
            PutFloatChanged(in, out, step + 1.0f);
            return in.pos <= in.size;
        case sri::kRectF:
            for (int i = 0; i < 4; ++i) PutFloatChanged(in, out, step + float(i));
            return true;
        case sri::kGuid: {
            if (!in.GetLE(u, 4)) return false;
            sri::PutLE(out, u + 1 + salt, 4);
            const uint8_t* rest = in.Take(12);
            if (!rest) return false;
            out.insert(out.end(), rest, rest + 12);
            return true;
        }
        case sri::kWString: case sri::kString: {
            uint32_t n = 0;
            const size_t unit = tag == sri::kWString ? 2 : 1;
            if (!in.GetU32(n)) return false;
            const uint8_t* text = in.Take(size_t(n) * unit);
            if (!text) return false;
            sri::PutU32(out, n + 1);
            out.insert(out.end(), text, text + size_t(n) * unit);
            sri::PutLE(out, 'a' + salt % 26, unit);
            return true;
        }
        case sri::kRecord: {
            uint32_t n = 0;
            if (!in.GetU32(n)) return false;
            const uint8_t* p = in.Take(n);
            if (!p) return false;
            std::vector<SavedField> fields = Decode(Bytes(p, p + n));
            for (size_t i = 0; i < fields.size(); ++i) {
                Bytes changed;
                sri::Reader sub{fields[i].payload.data(), fields[i].payload.size(), 0};
                if (!Change(fields[i].tag, sub, changed, salt + int(i))) return false;
                fields[i].payload = changed;
            }
            const Bytes body = Encode(fields);
            sri::PutU32(out, uint32_t(body.size()));
            out.insert(out.end(), body.begin(), body.end());
            return true;
        }
        case sri::kRaw: {  // the whole payload
            const size_t n = in.Left();
            const uint8_t* p = in.Take(n);
            for (size_t i = 0; i < n; ++i) out.push_back(uint8_t(p[i] + 1 + salt));
            return true;
        }
        default: return false;
    }
}

Bytes Changed(const SavedField& f, int salt) {
    Bytes out;
    sri::Reader in{f.payload.data(), f.payload.size(), 0};
    EXPECT_TRUE(Change(f.tag, in, out, salt) && in.AtEnd()) << "cannot change the value of " << f.key;
    return out;
}

}  // namespace

TEST(SavedKeys, EveryKindSavesTheBaseKeysThenItsOwnInOrder) {
    for (const KindSpec& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        std::vector<std::string> want = kBaseKeys;
        want.insert(want.end(), kind.keys.begin(), kind.keys.end());
        std::vector<std::string> saved;
        for (const SavedField& f : Decode(SaveOf(*kind.make()))) saved.push_back(f.key);
        EXPECT_EQ(saved, want);
    }
}

TEST(SavedKeys, EveryKeyReadsBackAloneAndAllAtOnce) {
    for (const KindSpec& kind : Kinds()) {
        const std::vector<SavedField> start = Decode(SaveOf(*kind.make()));
        const auto group = [&](size_t i) {
            for (const std::set<std::string>& keys : kind.shared)
                if (keys.count(start[i].key)) return *keys.begin();
            return start[i].key;
        };
        // Pass k changes field k (and the keys saved from the same field);
        // the last pass changes every field.
        for (size_t pass = 0; pass <= start.size(); ++pass) {
            const bool all = pass == start.size();
            SCOPED_TRACE(kind.name + (all ? " all keys" : " key " + start[pass].key));
            std::vector<SavedField> want = start;
            for (size_t i = 0; i < start.size(); ++i) {
                if (!all && group(i) != group(pass)) continue;
                // Keys of one field take one value: the salt of the first.
                size_t first = 0;
                while (group(first) != group(i)) ++first;
                want[i].payload = Changed(start[i], int(first));
            }
            std::unique_ptr<CBaseShape> shape = kind.make();
            ReadFrom(*shape, Encode(want));
            const std::vector<SavedField> got = Decode(SaveOf(*shape));
            ASSERT_EQ(got.size(), want.size());
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].key, want[i].key);
                EXPECT_EQ(got[i].tag, want[i].tag) << want[i].key;
                EXPECT_TRUE(got[i].payload == want[i].payload) << want[i].key << " did not come back";
            }
        }
    }
}

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "morvik/core/srifile.h"
#include "morvik/halder/sribase.h"

namespace {

using Bytes = std::vector<uint8_t>;
#define REG(field) AddProp(#field, &field)

struct Leaf : SriBase {
    int32_t n = 0;
    std::wstring name;
    tagPOINTF at{};
    void AddAllProp(bool extended) override {
        SriBase::AddAllProp(extended);
        REG(n), REG(name), REG(at);
    }
    bool operator==(const Leaf& o) const { return n == o.n && name == o.name && at == o.at; }
};

struct Everything : SriBase {
    bool b = false;
    char c = 0;
    signed char i8 = 0;
    unsigned char u8 = 0;
    int16_t i16 = 0;
    uint16_t u16 = 0;
    int32_t i32 = 0;
    uint32_t u32 = 0;
    int64_t i64 = 0;
    uint64_t u64 = 0;
    float f = 0;
    double d = 0;
    tagPOINTF pt{};
    Gdiplus::PointF gp;
    Gdiplus::RectF rc;
    GUID guid{};
    CTime time;
    std::wstring ws;
    std::string s;
    Leaf leaf;
    uint8_t raw[6] = {};
    std::vector<bool> vb;
    std::vector<double> vd;
    std::vector<std::vector<tagPOINTF>> vvpt;
    std::vector<std::vector<uint8_t>> vvu8;
    std::vector<std::wstring> vws;
    std::vector<GUID> vguid;
    std::vector<Leaf> leaves;

    void AddAllProp(bool extended) override {
        SriBase::AddAllProp(extended);
        REG(b), REG(c), REG(i8), REG(u8), REG(i16), REG(u16), REG(i32), REG(u32), REG(i64), REG(u64);
        REG(f), REG(d), REG(pt), REG(gp), REG(rc), REG(guid), REG(time), REG(ws), REG(s), REG(leaf);
        AddProp("raw", raw, sizeof raw);
        REG(vb), REG(vd), REG(vvpt), REG(vvu8), REG(vws), REG(vguid), REG(leaves);
    }
    void Fill() {
        b = true, c = 'q', i8 = -100, u8 = 200, i16 = -30000, u16 = 60000;
        i32 = -2000000000, u32 = 4000000000u, i64 = INT64_MIN + 1, u64 = UINT64_MAX - 1;
        f = -1.5e-30f, d = 3.141592653589793, pt = {1.25f, -2.5f};
        gp = Gdiplus::PointF(3.5f, 4.5f), rc = Gdiplus::RectF(-1, 2, 30, 40);
        guid = GUID{0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
        time = CTime(1700000000);
        ws = L"caf\u00e9 \u6587\U0001F600\U0010FFFF";
        s = std::string("bytes\0inside", 12);
        leaf.n = 7, leaf.name = L"leaf", leaf.at = {9, 10};
        std::memcpy(raw, "\xde\xad\xbe\xef\x00\x7f", sizeof raw);
        vb = {true, false, true}, vd = {0.5, -0.25};
        vvpt = {{{1, 1}}, {}, {{2, 2}, {3, 3}}}, vvu8 = {{1, 2, 3}, {}, {255}};
        vws = {L"", L"\U0001F4A9", L"two"}, vguid = {guid, GUID_NULL};
        leaves.resize(2);
        leaves[0].name = L"first", leaves[1].n = 2, leaves[1].at = {-1, -1};
    }
    auto Tie() const {
        return std::tie(b, c, i8, u8, i16, u16, i32, u32, i64, u64, f, d, pt, guid, time, ws, s, leaf, vb, vd, vvpt,
                        vvu8, vws, vguid, leaves);
    }
    void ExpectSameAs(const Everything& o) const {
        EXPECT_TRUE(Tie() == o.Tie());
        EXPECT_TRUE(gp.Equals(o.gp));
        EXPECT_TRUE(rc.Equals(o.rc));
        EXPECT_EQ(0, std::memcmp(raw, o.raw, sizeof raw));
    }
};

Bytes SaveToBytes(SriBase& record) {
    SriFile out;
    record.Save(false, &out);
    EXPECT_TRUE(out.IsGood());
    return out.GetWrittenBytes();
}

// Reads from a heap copy of exactly these bytes, so that a read past the end
// is caught by the address sanitizer.
int ReadFromBytes(SriBase& record, const Bytes& bytes) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + 1]);
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    SriFile in(copy.get(), bytes.size());
    record.Read(false, &in);
    return in.IsGood() && in.Remaining() != 0 ? -1 : in.GetState();
}

// Hand-made streams: one field, and a record around a body of fields.
void PutField(Bytes& body, const std::string& key, uint8_t tag, const Bytes& payload) {
    sri::PutU32(body, static_cast<uint32_t>(key.size()));
    body.insert(body.end(), key.begin(), key.end());
    body.push_back(tag);
    sri::PutU32(body, static_cast<uint32_t>(payload.size()));
    body.insert(body.end(), payload.begin(), payload.end());
}
Bytes Record(const Bytes& body) {
    Bytes out;
    sri::PutU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

TEST(SriBaseRoundTrip, EveryTypeComesBackUnchanged) {
    Everything saved;
    saved.Fill();
    const Bytes bytes = SaveToBytes(saved);
    Everything loaded;
    EXPECT_EQ(ReadFromBytes(loaded, bytes), SriFile::kStateGood);
    loaded.ExpectSameAs(saved);

    SriFile extended;
    saved.Save(true, &extended);
    EXPECT_EQ(extended.GetWrittenBytes(), bytes) << "the extended flag does not change the encoding";
}

TEST(SriBaseRoundTrip, WideStringsAreUtf16LittleEndian) {
    struct Text : SriBase {
        std::wstring t;
        void AddAllProp(bool) override { REG(t); }
    } text, back;
    text.t = L"A\U0001F600";
    const Bytes bytes = SaveToBytes(text);
    const Bytes units = {3, 0, 0, 0, 0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE};  // count, 'A', D83D DE00
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), units.begin(), units.end()), bytes.end());

    // A lone surrogate survives as itself; a value beyond Unicode becomes U+FFFD.
    text.t = {L'x', wchar_t(0xD800), L'y', wchar_t(0x110000)};
    ASSERT_EQ(ReadFromBytes(back, SaveToBytes(text)), SriFile::kStateGood);
    EXPECT_EQ(back.t, (std::wstring{L'x', wchar_t(0xD800), L'y', wchar_t(0xFFFD)}));
}

TEST(SriBaseMatching, DuplicateKeysKeepTheirOrder) {
    struct Dups : SriBase {
        int32_t v[3] = {0, 0, 0}, after = 0;
        int used = 3;
        void AddAllProp(bool) override {
            for (int i = 0; i < used; ++i) AddProp("dup", &v[i]);
            REG(after);
        }
    } saved, all, fewer;
    saved.v[0] = 10, saved.v[1] = 20, saved.v[2] = 30, saved.after = 99;
    const Bytes bytes = SaveToBytes(saved);
    ASSERT_EQ(ReadFromBytes(all, bytes), SriFile::kStateGood);
    EXPECT_EQ(std::vector<int32_t>(all.v, all.v + 3), (std::vector<int32_t>{10, 20, 30}));

    // Fewer registered than saved: the surplus is skipped, later keys still land.
    fewer.used = 2;
    ASSERT_EQ(ReadFromBytes(fewer, bytes), SriFile::kStateGood);
    EXPECT_EQ(std::vector<int32_t>(fewer.v, fewer.v + 3), (std::vector<int32_t>{10, 20, 0}));
    EXPECT_EQ(fewer.after, 99);
}

TEST(SriBaseMatching, UnknownAbsentMistypedAndMalformedFieldsKeepValues) {
    struct Target : SriBase {
        int32_t a = -1, z = -1;
        double typed = 0.5;
        // Saved under another type of the same width: not taken either.
        float f4 = 0.25f;
        uint32_t u4 = 7;
        int32_t i4 = -3;
        tagPOINTF pt{1.5f, -2.0f};
        std::wstring absent = L"keep", ws = L"old";
        std::vector<int32_t> vi{5};
        std::vector<Leaf> leaves{Leaf{}};
        void AddAllProp(bool) override {
            REG(a), REG(typed), REG(f4), REG(u4), REG(i4), REG(pt), REG(absent), REG(ws), REG(vi), REG(leaves), REG(z);
        }
    } t;
    t.leaves[0].n = 3;

    Bytes body, badLeaves;
    PutField(body, "a", sri::kInt32, {4, 0, 0, 0});
    PutField(body, "unknown", sri::kWString, {2, 0, 0, 0, 'h', 0, 'i', 0});
    PutField(body, "typed", sri::kInt32, {4, 0, 0, 0});                            // saved as an int
    PutField(body, "f4", sri::kInt32, {0, 0, 0x80, 0x3f});                         // bits of 1.0f
    PutField(body, "u4", sri::kInt32, {0xff, 0xff, 0xff, 0xff});                   // -1
    PutField(body, "i4", sri::kFloat, {0, 0, 0x80, 0x3f});
    PutField(body, "pt", sri::kDouble, {0, 0, 0, 0, 0, 0, 0xf0, 0x3f});           // 1.0, 8 bytes
    PutField(body, "vi", sri::kInt32 + sri::kVectorStep, {0xff, 0xff, 0xff, 0xff}); // hostile count
    PutField(body, "ws", sri::kWString, {9, 0, 0, 0, 'a', 0});                     // count past payload
    sri::PutU32(badLeaves, 2), sri::PutU32(badLeaves, 4), sri::PutU32(badLeaves, 100);  // element cut short
    PutField(body, "leaves", sri::kRecord + sri::kVectorStep, badLeaves);
    PutField(body, "z", sri::kInt32, {1, 0, 0, 0});
    ASSERT_EQ(ReadFromBytes(t, Record(body)), SriFile::kStateGood);
    EXPECT_EQ(t.a, 4);
    EXPECT_EQ(t.typed, 0.5);
    EXPECT_EQ(t.f4, 0.25f);
    EXPECT_EQ(t.u4, 7u);
    EXPECT_EQ(t.i4, -3);
    EXPECT_EQ(t.pt, (tagPOINTF{1.5f, -2.0f}));
    EXPECT_EQ(t.absent, L"keep");
    EXPECT_EQ(t.ws, L"old");
    EXPECT_EQ(t.vi, std::vector<int32_t>{5});
    ASSERT_EQ(t.leaves.size(), 1u);
    EXPECT_EQ(t.leaves[0].n, 3);
    EXPECT_EQ(t.z, 1);
}

TEST(SriBaseRawBlocks, OtherSavedLengthsFillWhatFits) {
    struct Block : SriBase {
        uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        int size;
        explicit Block(int n) : size(n) {}
        void AddAllProp(bool) override { AddProp("blk", data, size); }
    } shortBlock(3), longBlock(8), wide(8), narrow(2);
    std::memset(wide.data, 0xAA, 8);
    std::memset(narrow.data, 0xAA, 8);
    ASSERT_EQ(ReadFromBytes(wide, SaveToBytes(shortBlock)), SriFile::kStateGood);
    ASSERT_EQ(ReadFromBytes(narrow, SaveToBytes(longBlock)), SriFile::kStateGood);
    EXPECT_EQ(Bytes(wide.data, wide.data + 8), (Bytes{1, 2, 3, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(Bytes(narrow.data, narrow.data + 8), (Bytes{1, 2, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
}

TEST(SriBaseDamage, TruncatedOrGarbageStreamsFailCleanly) {
    Everything saved;
    saved.Fill();
    const Bytes good = SaveToBytes(saved);
    for (size_t cut = 0; cut < good.size(); ++cut) {
        Everything loaded;
        loaded.i32 = 12345;
        EXPECT_EQ(ReadFromBytes(loaded, Bytes(good.begin(), good.begin() + cut)), SriFile::kStateFailed) << cut;
        EXPECT_EQ(loaded.i32, 12345) << "a truncated record applies nothing, cut at " << cut;
    }

    Bytes body;  // a key longer than the record breaks the framing
    PutField(body, "n", sri::kInt32, {1, 0, 0, 0});
    sri::PutU32(body, 50), body.push_back('k');
    Leaf leaf;
    EXPECT_EQ(ReadFromBytes(leaf, Record(body)), SriFile::kStateFailed);

    std::mt19937 rng(20240611u);
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes = good;
        if (round % 3 == 0) {
            bytes.resize(rng() % 256);
            for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        } else {
            for (int k = 0; k <= round % 8; ++k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
        }
        Everything loaded;
        ReadFromBytes(loaded, bytes);
    }
}

struct Node : SriBase {
    int32_t id = 0;
    std::vector<Node> kids;
    void AddAllProp(bool) override {
        REG(id), REG(kids);
        AddProp("self", this);  // refused: it would save itself forever
    }
};

TEST(SriBaseNesting, RecursiveRecordsRoundTripAndDeepInputIsBounded) {
    Node root, back, deep;
    root.kids.resize(2);
    root.kids[1].kids.resize(1);
    root.kids[1].kids[0].id = 4;
    ASSERT_EQ(ReadFromBytes(back, SaveToBytes(root)), SriFile::kStateGood);
    ASSERT_EQ(back.kids.size(), 2u);
    ASSERT_EQ(back.kids[1].kids.size(), 1u);
    EXPECT_EQ(back.kids[1].kids[0].id, 4);

    // Nested far deeper than real data: refused without exhausting the stack.
    Bytes rec = Record({});
    for (int depth = 0; depth < 500; ++depth) {
        Bytes kids, body;
        sri::PutU32(kids, 1), sri::PutU32(kids, static_cast<uint32_t>(rec.size()));
        kids.insert(kids.end(), rec.begin(), rec.end());
        PutField(body, "kids", sri::kRecord + sri::kVectorStep, kids);
        rec = Record(body);
    }
    deep.kids.resize(1);
    EXPECT_EQ(ReadFromBytes(deep, rec), SriFile::kStateGood);
    EXPECT_EQ(deep.kids.size(), 1u) << "the too-deep field is dropped whole";
}

TEST(SriBaseRecords, RecordsAreSelfDelimitingAndCopiesDropTheRegistry) {
    Everything big;
    big.Fill();
    Leaf leaf, skipped, second;
    leaf.n = 77, skipped.n = 5;
    SriFile out;
    big.Save(false, &out);
    leaf.Save(false, &out);
    const Bytes bytes = out.GetWrittenBytes();
    // A reader that knows none of the first record's keys still lands on the second.
    SriFile in(bytes.data(), bytes.size());
    skipped.Read(false, &in);
    second.Read(false, &in);
    EXPECT_TRUE(in.IsGood() && in.Remaining() == 0);
    EXPECT_EQ(skipped.n, 5);
    EXPECT_EQ(second.n, 77);

    leaf.AddAllProp(false);  // a registry pointing into leaf
    ASSERT_EQ(leaf.GetPropCount(), 3u);
    Leaf copy(leaf), assigned;
    assigned = leaf;
    EXPECT_EQ(copy.GetPropCount() + assigned.GetPropCount(), 0u);
    Leaf back;  // a save rebuilds the registry instead of adding to the stale one
    ASSERT_EQ(ReadFromBytes(back, SaveToBytes(leaf)), SriFile::kStateGood);
    EXPECT_EQ(back.n, 77);
}

TEST(SriFileStreams, FileRoundTripAndUnreadableSources) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("sribase-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string ascii = dir.string();
    auto path = [&](const std::wstring& name) { return std::wstring(ascii.begin(), ascii.end()) + L"/" + name; };

    Everything saved, loaded;
    saved.Fill();
    const std::wstring file = path(L"r\u00e9cord.orz");
    {
        SriFile out(file.c_str(), true);
        out.WriteLong(0x01020304);
        saved.Save(true, &out);
        EXPECT_TRUE(out.Close());
    }
    SriFile in(file.c_str(), false);
    int32_t header = 0;
    ASSERT_TRUE(in.ReadLong(header));
    EXPECT_EQ(header, 0x01020304);
    loaded.Read(true, &in);
    EXPECT_TRUE(in.IsGood() && in.Remaining() == 0);
    loaded.ExpectSameAs(saved);

    std::ofstream(dir / "empty.orz").close();
    for (const std::wstring& bad : {path(L"empty.orz"), path(L"missing.orz"), path(L".")}) {
        SriFile r(bad.c_str(), false);
        int32_t v = 42;
        EXPECT_FALSE(r.ReadLong(v));
        EXPECT_EQ(v, 42);
        EXPECT_EQ(r.GetState(), SriFile::kStateFailed);
    }
    const std::wstring noDir = path(L"no/such/dir.orz");
    SriFile w(noDir.c_str(), true);
    EXPECT_EQ(w.GetState(), SriFile::kStateFailed);
    EXPECT_FALSE(w.Close());
    std::filesystem::remove_all(dir);
}

TEST(SriFileStreams, MemoryIsLittleEndianAndFailureSticks) {
    SriFile out;
    out.WriteLong(0x01020304);
    out.WriteLong(-2);
    const Bytes bytes = out.GetWrittenBytes();
    EXPECT_EQ(bytes, (Bytes{4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF}));

    SriFile in(bytes.data(), 6);
    int32_t v = 0;
    ASSERT_TRUE(in.ReadLong(v));
    EXPECT_EQ(v, 0x01020304);
    v = 7;
    EXPECT_FALSE(in.ReadLong(v));  // only 2 bytes left
    EXPECT_EQ(v, 7);
    uint8_t two[2] = {9, 9};
    EXPECT_FALSE(in.ReadBytes(two, 2));  // enough bytes, but the stream has failed
    EXPECT_EQ(two[0], 9);

    SriFile reader(bytes.data(), bytes.size());
    reader.WriteLong(1);  // a reader has nowhere to write
    EXPECT_EQ(reader.GetState(), SriFile::kStateFailed);
    SriFile nothing(static_cast<const void*>(nullptr), 100);
    EXPECT_FALSE(nothing.Skip(1));
}

}  // namespace

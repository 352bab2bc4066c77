// Feeds arbitrary bytes to the record reader: first to the raw stream
// operations, then as a sequence of records into a record that registers one
// field of every supported type. Whatever was read must save and read back to
// the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "morvik/core/srifile.h"
#include "morvik/halder/sribase.h"

namespace {

struct Leaf : SriBase {
    int32_t n = 0;
    std::wstring name;
    tagPOINTF at{};
    std::vector<Leaf> kids;  // lets hostile input nest deeply
    void AddAllProp(bool extended) override {
        SriBase::AddAllProp(extended);
        AddProp("n", &n);
        AddProp("name", &name);
        AddProp("at", &at);
        AddProp("kids", &kids);
    }
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
    uint8_t raw[12] = {};
    std::vector<bool> vb;
    std::vector<int32_t> vi;
    std::vector<double> vd;
    std::vector<tagPOINTF> vpt;
    std::vector<std::vector<tagPOINTF>> vvpt;
    std::vector<std::vector<Gdiplus::PointF>> vvgp;
    std::vector<std::vector<uint8_t>> vvu8;
    std::vector<std::wstring> vws;
    std::vector<std::string> vs;
    std::vector<GUID> vguid;
    std::vector<Gdiplus::RectF> vrc;
    std::vector<CTime> vtime;
    std::vector<Leaf> leaves;

    void AddAllProp(bool extended) override {
        SriBase::AddAllProp(extended);
        AddProp("b", &b);
        AddProp("c", &c);
        AddProp("i8", &i8);
        AddProp("u8", &u8);
        AddProp("i16", &i16);
        AddProp("u16", &u16);
        AddProp("i32", &i32);
        AddProp("u32", &u32);
        AddProp("i64", &i64);
        AddProp("u64", &u64);
        AddProp("f", &f);
        AddProp("d", &d);
        AddProp("pt", &pt);
        AddProp("gp", &gp);
        AddProp("rc", &rc);
        AddProp("guid", &guid);
        AddProp("time", &time);
        AddProp("ws", &ws);
        AddProp("s", &s);
        AddProp("leaf", &leaf);
        AddProp("raw", raw, sizeof raw);
        AddProp("vb", &vb);
        AddProp("vi", &vi);
        AddProp("vd", &vd);
        AddProp("vpt", &vpt);
        AddProp("vvpt", &vvpt);
        AddProp("vvgp", &vvgp);
        AddProp("vvu8", &vvu8);
        AddProp("vws", &vws);
        AddProp("vs", &vs);
        AddProp("vguid", &vguid);
        AddProp("vrc", &vrc);
        AddProp("vtime", &vtime);
        AddProp("leaves", &leaves);
        // The same key twice: occurrences are matched in order.
        AddProp("i32", &dupI32);
    }
    int32_t dupI32 = 0;
};

std::vector<uint8_t> Saved(SriBase& record) {
    SriFile out;
    record.Save(false, &out);
    if (!out.IsGood()) std::abort();
    return out.GetWrittenBytes();
}

void StreamOperations(const uint8_t* data, size_t size) {
    SriFile in(data, size);
    uint8_t buf[64];
    size_t i = 0;
    while (in.IsGood() && i < size) {
        const uint8_t op = data[i++];
        int32_t v = 0;
        switch (op % 4) {
            case 0: in.ReadLong(v); break;
            case 1: in.ReadBytes(buf, op % sizeof buf); break;
            case 2: in.Skip(op); break;
            default: in.ReadSpan(op / 4); break;
        }
        if (in.GetPosition() > in.GetSize()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StreamOperations(data, size);

    // A heap copy of exactly the input, so a read past it cannot go unseen.
    std::vector<uint8_t> copy(data, data + size);
    SriFile in(copy.data(), copy.size());
    for (int records = 0; records < 4 && in.IsGood() && in.Remaining() > 0; ++records) {
        Everything e;
        e.Read((records & 1) != 0, &in);
        if (in.GetPosition() > in.GetSize()) std::abort();

        // Whatever was accepted must survive another save and read.
        const std::vector<uint8_t> first = Saved(e);
        Everything again;
        SriFile back(first.data(), first.size());
        again.Read(false, &back);
        if (!back.IsGood() || back.Remaining() != 0) std::abort();
        if (Saved(again) != first) std::abort();
    }
    return 0;
}

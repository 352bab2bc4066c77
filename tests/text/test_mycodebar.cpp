// The barcode engine wrapper: offered symbologies and their names, engine
// handles per view, their locks, and the add-in stand-in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "morvik/codebar/codebar.h"
#include "morvik/core/morvik.h"
#include "morvik/halder/lang.h"
#include "morvik/text/mycodebar.h"
#include "morvik/tolcode/tolcode.h"

namespace {

const CBaseView* View(int& anchor) { return reinterpret_cast<const CBaseView*>(&anchor); }

TEST(MyCodebar, OffersTheSymbologiesUnderUniqueNames) {
    const std::vector<int> small = CMyCodebar::SymbologyListFor(120);
    ASSERT_EQ(small.size(), 24u);
    EXPECT_EQ(small.back(), 128);
    const std::vector<int> large = CMyCodebar::SymbologyListFor(121);
    ASSERT_EQ(large.size(), 27u);
    EXPECT_EQ(std::vector<int>(large.end() - 3, large.end()), (std::vector<int>{125, 126, 127}));

    CMyCodebar* bar = GetCodebarInstance();
    EXPECT_EQ(bar->GetSymbologyList(), large);  // the engine knows 128 ids
    std::set<std::wstring> names;
    for (int id : bar->GetSymbologyList()) {
        const CString name = bar->GetTypeName(id);
        EXPECT_FALSE(name.IsEmpty()) << id;
        EXPECT_TRUE(names.insert(name.GetString()).second) << id;
        EXPECT_EQ(bar->LookupCode(name), id);
    }
    EXPECT_EQ(bar->GetTypeName(124), CLang::Instance()->GetString("IDS_EAR_CODE"));
    EXPECT_EQ(bar->LookupCode(L"EAN 128B"), 122);
    EXPECT_EQ(bar->LookupCode(L"Tolcode"), 128);
    EXPECT_EQ(bar->LookupCode(L"tolcode"), -1);
    EXPECT_EQ(bar->GetTypeName(-1), L"");
    EXPECT_EQ(bar->GetTypeName(100000), L"");
    // A name saved under another language falls back to the saved id.
    EXPECT_EQ(bar->LookupCode(L"Ohrmarke", 124), 124);
    EXPECT_EQ(bar->LookupCode(L"Ohrmarke", 999), -1);
    EXPECT_EQ(bar->LookupCode(L"QR Code", 71), 58);
    EXPECT_GE(CMyCodebar::GetInstanceCount(), 1);
}

TEST(MyCodebar, HandlesPerViewAndWithoutView) {
    CMyCodebar bar;
    int a = 0, b = 0;
    tag_BarCode* va = bar.GetBarCodeInstance(View(a));
    ASSERT_NE(va, nullptr);
    EXPECT_EQ(bar.GetBarCodeInstance(View(a)), va);
    EXPECT_NE(bar.GetBarCodeInstance(View(b)), va);
    tag_BarCode* n1 = bar.GetBarCodeInstance(nullptr);
    tag_BarCode* n2 = bar.GetBarCodeInstance(nullptr);
    EXPECT_NE(n1, n2);

    int unknown = 0;
    bar.FreeViewInstance(View(unknown));
    bar.FreeNullInstance(va);  // not a view-less handle: kept
    EXPECT_TRUE(bar.LockBarCode(va));

    bar.FreeViewInstance(View(a));
    EXPECT_FALSE(bar.LockBarCode(va));
    bar.FreeNullInstance(n1);
    EXPECT_FALSE(bar.LockBarCode(n1));
    CBarCodeLease lease = bar.LockBarCode(n2);
    ASSERT_TRUE(lease);
    EXPECT_EQ(BCSetBCType(lease.Get(), 58), S_OK);
    // n2 and view b are freed by the destructor (the leak check sees it).
}

TEST(MyCodebar, FreeingWaitsForTheBuildThatHoldsTheHandle) {
    CMyCodebar bar;
    tag_BarCode* h = bar.GetBarCodeInstance(nullptr);
    std::atomic<bool> freed{false};
    std::thread freer;
    {
        CBarCodeLease lease = bar.LockBarCode(h);
        ASSERT_TRUE(lease);
        freer = std::thread([&] {
            bar.FreeNullInstance(h);
            freed = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(freed);
        EXPECT_EQ(BCSetTextW(lease.Get(), L"still mine", -1), S_OK);
    }
    freer.join();
    EXPECT_TRUE(freed);
    EXPECT_FALSE(bar.LockBarCode(h));
}

FBarcode* FakeOutline(const char*, Symbology, int, int, int) {
    auto* out = new FBarcode;
    out->nRows = 2;
    out->nCols = 3;
    // (left, top) in thirds of a module: (1, 0), (2, 1) with an uneven top,
    // and two modules outside the 3 x 2 grid.
    for (auto [l, t] : {std::pair{3, 0}, {7, 5}, {9, 0}, {0, 6}}) {
        FBarcodeModule m;
        m.left = l;
        m.top = t;
        out->arrModules.Add(m);
    }
    return out;
}

TEST(Tolcode, NotAvailableUnlessASourceIsInstalled) {
    std::vector<uint8_t> grid;
    EXPECT_EQ(GetBarcodeOutline_Tolcode("123", SymbologyTolcode, 1, -101, 3), nullptr);
    EXPECT_FALSE(TolcodeModuleGrid(nullptr, grid));

    SetTolcodeOutlineSource(FakeOutline);
    FBarcode* outline = GetBarcodeOutline_Tolcode("123", SymbologyTolcode, 1, -101, 3);
    SetTolcodeOutlineSource(nullptr);
    ASSERT_NE(outline, nullptr);
    ASSERT_TRUE(TolcodeModuleGrid(outline, grid));
    EXPECT_EQ(grid, (std::vector<uint8_t>{0, 1, 0, 0, 0, 1}));
    outline->nCols = 0;
    EXPECT_FALSE(TolcodeModuleGrid(outline, grid));
    EXPECT_TRUE(grid.empty());
    FreeBarcode_Tolcode(outline);
}

}  // namespace

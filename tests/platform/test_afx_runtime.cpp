#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>

#include "morvik/afx/afxmt.h"
#include "morvik/afx/carray.h"
#include "morvik/afx/cobject.h"
#include "morvik/afx/cstring.h"
#include "morvik/afx/ctime.h"
#include "morvik/afx/extension_module.h"
#include "morvik/afx/message_box.h"
#include "morvik/host/recording_host.h"

// A small class tree in which one class's run-time base differs from its
// C++ base, as for shapes that reuse another shape's code.
class TestShape : public CObject {
    DECLARE_SERIAL(TestShape)
public:
    int m_nValue = 1;
};
class TestLine : public TestShape {
    DECLARE_SERIAL(TestLine)
};
class TestSpiral : public TestLine {  // C++ base TestLine, run-time base TestShape
    DECLARE_SERIAL(TestSpiral)
};
class TestAbstractish : public CObject {
    DECLARE_DYNAMIC(TestAbstractish)
};

IMPLEMENT_SERIAL(TestShape, CObject, 1)
IMPLEMENT_SERIAL(TestLine, TestShape, 2)
IMPLEMENT_SERIAL(TestSpiral, TestShape, 3)
IMPLEMENT_DYNAMIC(TestAbstractish, CObject)

TEST(AfxRuntimeClass, DerivationFollowsTheRegisteredBase) {
    TestSpiral spiral;
    TestLine line;
    EXPECT_TRUE(spiral.IsKindOf(RUNTIME_CLASS(TestSpiral)));
    EXPECT_TRUE(spiral.IsKindOf(RUNTIME_CLASS(TestShape)));
    EXPECT_TRUE(spiral.IsKindOf(RUNTIME_CLASS(CObject)));
    // It is a TestLine in C++, but not by its run-time class.
    EXPECT_NE(dynamic_cast<TestLine*>(&spiral), nullptr);
    EXPECT_FALSE(spiral.IsKindOf(RUNTIME_CLASS(TestLine)));
    EXPECT_TRUE(line.IsKindOf(RUNTIME_CLASS(TestShape)));
    EXPECT_FALSE(line.IsKindOf(RUNTIME_CLASS(TestSpiral)));
    EXPECT_FALSE(line.IsKindOf(nullptr));
    EXPECT_EQ(RUNTIME_CLASS(TestSpiral)->m_pBaseClass, RUNTIME_CLASS(TestShape));
    EXPECT_EQ(RUNTIME_CLASS(CObject)->m_pBaseClass, nullptr);

    // Virtual dispatch gives the dynamic class through a base pointer.
    CObject* asObject = &spiral;
    EXPECT_EQ(asObject->GetRuntimeClass(), RUNTIME_CLASS(TestSpiral));
    EXPECT_STREQ(asObject->GetRuntimeClass()->m_lpszClassName, "TestSpiral");
    EXPECT_EQ(RUNTIME_CLASS(TestSpiral)->m_wSchema, 3u);
    EXPECT_TRUE(spiral.IsSerializable());
    TestAbstractish plain;
    EXPECT_FALSE(plain.IsSerializable());
}

TEST(AfxRuntimeClass, CreationByName) {
    EXPECT_EQ(CRuntimeClass::FromName("TestSpiral"), RUNTIME_CLASS(TestSpiral));
    EXPECT_EQ(CRuntimeClass::FromName(L"TestLine"), RUNTIME_CLASS(TestLine));
    EXPECT_EQ(CRuntimeClass::FromName("CObject"), RUNTIME_CLASS(CObject));
    EXPECT_EQ(CRuntimeClass::FromName("NoSuchClass"), nullptr);
    EXPECT_EQ(CRuntimeClass::FromName(L"Test\u00C9"), nullptr);
    EXPECT_EQ(CRuntimeClass::FromName(static_cast<const char*>(nullptr)), nullptr);

    std::unique_ptr<CObject> made(CRuntimeClass::CreateObject(L"TestSpiral"));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetRuntimeClass(), RUNTIME_CLASS(TestSpiral));
    auto* spiral = dynamic_cast<TestSpiral*>(made.get());
    ASSERT_NE(spiral, nullptr);
    EXPECT_EQ(spiral->m_nValue, 1);  // constructed, not just allocated

    std::unique_ptr<CObject> line(RUNTIME_CLASS(TestLine)->CreateObject());
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->IsKindOf(RUNTIME_CLASS(TestLine)));

    // Classes without a factory and unknown names give null.
    EXPECT_EQ(RUNTIME_CLASS(TestAbstractish)->CreateObject(), nullptr);
    EXPECT_EQ(CRuntimeClass::CreateObject("CObject"), nullptr);
    EXPECT_EQ(CRuntimeClass::CreateObject("NoSuchClass"), nullptr);
}

TEST(AfxExtensionModule, ChainOwnsItsLibraries) {
    static int anchorA, anchorB;
    auto* hA = reinterpret_cast<HMODULE>(&anchorA);
    auto* hB = reinterpret_cast<HMODULE>(&anchorB);
    AFX_EXTENSION_MODULE a, b;
    ASSERT_TRUE(AfxInitExtensionModule(a, hA));
    ASSERT_TRUE(AfxInitExtensionModule(b, hB));
    EXPECT_TRUE(a.bInitialized);

    const size_t before = AfxGetLibraryChain().size();
    new CDynLinkLibrary(a);
    new CDynLinkLibrary(b);
    new CDynLinkLibrary(a);
    auto chain = AfxGetLibraryChain();
    ASSERT_EQ(chain.size(), before + 3);
    EXPECT_EQ(chain[before], hA);
    EXPECT_EQ(chain[before + 1], hB);

    // Ending module a frees its entries only (LeakSanitizer checks the frees).
    AfxTermExtensionModule(a);
    EXPECT_FALSE(a.bInitialized);
    chain = AfxGetLibraryChain();
    ASSERT_EQ(chain.size(), before + 1);
    EXPECT_EQ(chain[before], hB);

    // A library deleted by hand leaves the chain.
    auto* again = new CDynLinkLibrary(a);
    EXPECT_EQ(AfxGetLibraryChain().size(), before + 2);
    delete again;
    EXPECT_EQ(AfxGetLibraryChain().size(), before + 1);

    AfxTermExtensionModule(b);
    EXPECT_EQ(AfxGetLibraryChain().size(), before);
    // An entry left in the chain is freed at process exit.
    new CDynLinkLibrary(b);
}

TEST(AfxMessageBoxTest, GoesToTheHostWithTheApplicationCaption) {
    auto host = std::make_shared<RecordingHost>();
    host->QueueMessageBoxAnswer(IDCANCEL);
    auto previous = SetHost(host);
    EXPECT_EQ(AfxMessageBox(L"Disk full", MB_OKCANCEL | MB_ICONWARNING), IDCANCEL);
    AfxMessageBox(nullptr);
    SetHost(previous);
    auto boxes = host->MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"Disk full");
    EXPECT_EQ(boxes[0].caption, L"Morvik");
    EXPECT_EQ(boxes[0].type, MB_OKCANCEL | MB_ICONWARNING);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[1].text, L"");
    EXPECT_EQ(boxes[1].type, MB_OK);
}

TEST(AfxCriticalSection, OwnerMayEnterAgain) {
    CCriticalSection cs;
    int counter = 0;
    {
        CSingleLock outer(&cs, TRUE);
        CSingleLock inner(&cs, TRUE);  // re-entry on one thread does not deadlock
        EXPECT_TRUE(inner.IsLocked());
        ++counter;
    }
    // Both locks were released: another thread gets in.
    std::thread other([&] {
        CSingleLock lock(&cs, TRUE);
        ++counter;
    });
    other.join();
    EXPECT_EQ(counter, 2);
}

TEST(AfxTime, LocalPartsAndFormat) {
    CTime t(2024, 2, 29, 7, 5, 9);
    ASSERT_NE(t.GetTime(), 0);
    EXPECT_EQ(t.GetYear(), 2024);
    EXPECT_EQ(t.GetMonth(), 2);
    EXPECT_EQ(t.GetDay(), 29);
    EXPECT_EQ(t.GetHour(), 7);
    EXPECT_EQ(t.GetMinute(), 5);
    EXPECT_EQ(t.GetSecond(), 9);
    EXPECT_EQ(t.GetDayOfWeek(), 5);  // a Thursday; 1 is Sunday
    EXPECT_EQ(CTime(2024, 3, 1, 7, 5, 9).GetTime() - t.GetTime(), 86400);
    EXPECT_STREQ(t.Format(L"%Y-%m-%d %H:%M:%S").GetString(), L"2024-02-29 07:05:09");
    EXPECT_STREQ(t.Format(L"%#d.%#m. %B %A").GetString(), L"29.2. February Thursday");
    EXPECT_STREQ(t.Format(L"%c").GetString(), L"02/29/24 07:05:09");
    EXPECT_TRUE(t.Format(L"").IsEmpty());
    EXPECT_TRUE(t.Format(nullptr).IsEmpty());

    // Dates that do not exist give 0.
    EXPECT_EQ(CTime(2023, 2, 29, 0, 0, 0).GetTime(), 0);
    EXPECT_EQ(CTime(2024, 13, 1, 0, 0, 0).GetTime(), 0);
    EXPECT_EQ(CTime(2024, 1, 1, 24, 0, 0).GetTime(), 0);
    EXPECT_EQ(CTime(-5, 1, 1, 0, 0, 0).GetTime(), 0);

    const int64_t before = CTime::GetCurrentTime().GetTime();
    EXPECT_GT(before, CTime(2020, 1, 1, 0, 0, 0).GetTime());
    EXPECT_TRUE(CTime(5) < CTime(6));
}

TEST(AfxArray, GrowsAndRefusesBadIndexes) {
    CArray<int, int> a;
    a.Add(1);
    a.InsertAt(3, 9);  // past the end: filled up to the index first
    ASSERT_EQ(a.GetSize(), 4);
    EXPECT_EQ(a[2], 0);
    EXPECT_EQ(a[3], 9);
    a.RemoveAt(2, 100);
    a.RemoveAt(-1);
    EXPECT_EQ(a.GetSize(), 2);
    EXPECT_THROW(a.GetAt(2), std::out_of_range);
    EXPECT_THROW(a.SetAt(-1, 0), std::out_of_range);
}

// The replay steps that undo records share.
#include <gtest/gtest.h>

#include "morvik/halder/basedoc.h"
#include "history_test_util.h"

namespace {

TEST(UndoRecordBase, PanelMessageAndMissingShapeReport) {
    HostScope hs;
    CBaseDoc doc;
    CCore core(&doc, nullptr);
    auto* shape = new KindShape();
    doc.AddShape(shape);
    HWND first = reinterpret_cast<HWND>(0x10), second = reinterpret_cast<HWND>(0x20);
    doc.m_hNotifyWnd[0] = first;
    CUND_Base::PostPanelMessage(&core, shape, 1);  // the document has no second window
    doc.m_hNotifyWnd[1] = second;
    CUND_Base::PostPanelMessage(&core, shape, 0);
    CUND_Base::PostPanelMessage(&core, shape, 1);
    auto sent = hs.host->Messages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(sent[0].posted);
    EXPECT_EQ(sent[0].wnd, first);
    EXPECT_EQ(sent[0].msg, 0x46Fu);
    EXPECT_EQ(sent[0].lParam, reinterpret_cast<LPARAM>(shape));
    EXPECT_EQ(sent[1].wnd, second);
    EXPECT_EQ(sent[1].wParam, 1u);

    EXPECT_EQ(CUND_Base::FindShapeOrReport(&core, shape->GetBaseID()), shape);
    EXPECT_EQ(CUND_Base::FindShapeOrReport(&core, GUID{}), nullptr);
    auto boxes = hs.host->MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"Can't found shape by id");
}

TEST(UndoRecordBase, LinkedShapesAreThoseStillThereEachOnce) {
    CBaseDoc doc;
    CCore core(&doc, nullptr);
    auto *main = new KindShape(), *l1 = new KindShape(), *l2 = new KindShape();
    for (auto* s : {main, l1, l2}) doc.AddShape(s);
    GUID gone{42, 0, 0, {}};
    main->GetLinkedIDs() = {l1->GetBaseID(), gone, main->GetBaseID(), l1->GetBaseID(), l2->GetBaseID()};
    EXPECT_TRUE(CUND_Base::LinkedShapes(&core, main).empty());  // link flag clear
    main->SetLinkFlag(true);
    EXPECT_EQ(CUND_Base::LinkedShapes(&core, main), (std::vector<CBaseShape*>{l1, l2}));
}

TEST(UndoRecordBase, FlipNeutralReplayTakesEveryFlipOffAndPutsItBack) {
    CBaseDoc doc;
    doc.SetSelectRect(Gdiplus::RectF(10, 30, 20, 10));  // centre (20, 25)
    CCore core(&doc, nullptr);
    const tagPOINTF c = CUND_Base::MirrorCenterOf(&core);
    KindShape shape;
    shape.SetMirrorFlag(2);
    shape.Zoom(c, -1.0, 1.0);
    shape.Zoom(c, 1.0, -1.0);
    shape.log.clear();
    auto change = [](CBaseShape* s) { static_cast<KindShape*>(s)->log.push_back("change"); };

    CUND_Base::ReplayFlipNeutral(&shape, c, CUND_Base::FlipOrder::AntiXAntiYMirror, change);
    EXPECT_EQ(shape.log, (Journal{"M1@20,25", "Z-1,1@20,25", "Z1,-1@20,25", "change", "Z-1,1@20,25", "Z1,-1@20,25",
                                  "M1@20,25"}));
    shape.log.clear();
    CUND_Base::ReplayFlipNeutral(&shape, c, CUND_Base::FlipOrder::MirrorAntiXAntiY, change);
    EXPECT_EQ(shape.log, (Journal{"M1@20,25", "Z-1,1@20,25", "Z1,-1@20,25", "change", "M1@20,25", "Z-1,1@20,25",
                                  "Z1,-1@20,25"}));
    EXPECT_TRUE(shape.IsZoomAntiX() && shape.IsZoomAntiY());
    EXPECT_EQ(shape.GetMirrorFlag(), 2);

    KindShape plain;
    CUND_Base::ReplayFlipNeutral(&plain, c, CUND_Base::FlipOrder::AntiXAntiYMirror, change);
    EXPECT_EQ(plain.log, (Journal{"change"}));
}

}  // namespace

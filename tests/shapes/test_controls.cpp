// The mark-list control objects: captions, parameters and their checks,
// saving, the host's switch, picking and selection on the anchor, and the
// icon drawn around the anchor's device point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "morvik/core/geometry.h"
#include "morvik/core/shapelist.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/halder/basedoc.h"
#include "morvik/shapes/controls.h"
#include "support/shape_support.h"

namespace {

using testsupport::ViewAt;
using testsupport::SavedShape;

// A host frame that holds the control-object switch, installed for the
// lifetime of the object.
class SwitchFrame : public CBaseFrame, public CCtrlObjHostFrame {
public:
    explicit SwitchFrame(int on, float zoom = 0.0f) : m_zoom(zoom) {
        m_setting.nCtrlObjSwitch = on;
        CBaseFrame::SetMainFrame(this);
    }
    ~SwitchFrame() override { CBaseFrame::SetMainFrame(nullptr); }
    tagCtrlObjSetting* GetCtrlObjSetting() override { return m_hasSetting ? &m_setting : nullptr; }
    float GetActiveZoom() const override { return m_zoom; }

    tagCtrlObjSetting m_setting;
    bool m_hasSetting = true;
    float m_zoom;
};

// Something was drawn, all of it inside the 20 x 20 box centred on (cx, cy)
// and spread across it (so centred there, not in a corner).
void ExpectIconAround(RecordingCanvas& canvas, float cx, float cy) {
    ASSERT_GT(canvas.Count(), 0u);
    float lo = 1e9f, hi = -1e9f;
    for (const CanvasRecord& r : canvas.Records()) {
        for (const Gdiplus::PointF& p : r.points) {
            EXPECT_LE(std::fabs(p.X - cx), 10.01f);
            EXPECT_LE(std::fabs(p.Y - cy), 10.01f);
            lo = std::min(lo, p.X);
            hi = std::max(hi, p.X);
        }
    }
    EXPECT_LT(lo, cx - 5.0f);
    EXPECT_GT(hi, cx + 5.0f);
    canvas.Reset();
}

void ReadBytes(CBaseShape& shape, const std::vector<uint8_t>& bytes) {
    SriFile in(bytes.data(), bytes.size());
    shape.Read(false, &in);
}

bool HasKey(const std::vector<uint8_t>& bytes, const std::string& key) {
    return std::search(bytes.begin(), bytes.end(), key.begin(), key.end()) != bytes.end();
}

std::wstring Caption(CBaseShape& s) { return s.GetCaption().GetString(); }

void ResetCounters() {
    for (CAD_SHAPE_TYPE k : {SHAPE_DELAYEDTIMER, SHAPE_ENCODERDISTANCE, SHAPE_EXEAXI, SHAPE_INPUT, SHAPE_OUTPUT}) {
        ShapeCounterOf(k).Reset();
    }
}

}  // namespace

TEST(ControlObjects, CaptionsFollowTheirParameters) {
    ResetCounters();
    CDelayedTimer timer, timer2;
    EXPECT_EQ(Caption(timer), L"Delay1 - 10 ms");
    EXPECT_EQ(Caption(timer2), L"Delay2 - 10 ms");
    timer.SetParam(250);
    EXPECT_EQ(Caption(timer), L"250 ms");

    CEncoderDistance enc;
    EXPECT_EQ(Caption(enc), L"Move distance1 - 1000 mm");
    enc.SetParam(1500.0f);
    EXPECT_EQ(Caption(enc), L"1.500m");

    CExeAxi axis;
    EXPECT_EQ(Caption(axis), L"Axis move1 - 0");
    CCfgAxit cfg;
    cfg.iUAxiID = 3;
    axis.SetCfgAxi(cfg);
    EXPECT_EQ(Caption(axis), L"Axis move1 - 0");

    CInput in;
    EXPECT_EQ(Caption(in), L"Input1");

    COutput out;
    EXPECT_EQ(Caption(out), L"Output1");
    out.SetProperties(4, 0, 7, 1, 9);
    EXPECT_EQ(Caption(out), L"Output1(4)");
    out.SetProperties(-1, 1, 1, 0, 1);
    EXPECT_EQ(Caption(out), L"Output1");

    // Negative values are the host's to read, and kept.
    enc.SetParam(-250.0f);
    EXPECT_EQ(Caption(enc), L"-0.250m");
    cfg.iUAxiID = -2;
    axis.SetCfgAxi(cfg);
    EXPECT_EQ(axis.GetCfgAxi().iUAxiID, -2);
    EXPECT_EQ(out.SetProperties(-3, -1, -7, -2, -9), 0);
    EXPECT_EQ(Caption(out), L"Output1(-3)");
    int v[5];
    out.GetProperties(v[0], v[1], v[2], v[3], v[4]);
    EXPECT_EQ(std::vector<int>(v, v + 5), std::vector<int>({-3, -1, -7, -2, -9}));

    // A shape-list reader creates them by name.
    std::unique_ptr<CObject> made(CRuntimeClass::CreateObject("CExeAxi"));
    EXPECT_EQ(dynamic_cast<CExeAxi&>(*made).GetShapeKind(), SHAPE_EXEAXI);
}

TEST(ControlObjects, InputRefusesBadStatesAndEmptyTips) {
    CInput in;
    int states[16];
    in.GetPortState(states);
    EXPECT_TRUE(std::all_of(states, states + 16, [](int s) { return s == 2; }));

    // Only the first four ports are checked.
    int good[16] = {0, 1, 2, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    EXPECT_EQ(in.SetPortState(good), 0);
    int bad[16] = {0, 1, 3, 0}, negative[16] = {-1};
    EXPECT_EQ(in.SetPortState(bad), 1);
    EXPECT_EQ(in.SetPortState(negative), 1);
    EXPECT_EQ(in.SetPortState(nullptr), 1);
    in.GetPortState(states);
    EXPECT_TRUE(std::equal(good, good + 16, states));

    CString tip;
    bool enable = true;
    in.GetTipInfo(tip, enable);
    EXPECT_STREQ(tip.GetString(), L"Wait IO input");
    EXPECT_FALSE(enable);
    EXPECT_EQ(in.SetTipInfo(L"Part present", true), 0);
    EXPECT_EQ(in.SetTipInfo(L"", false), 1);
    in.GetTipInfo(tip, enable);
    EXPECT_STREQ(tip.GetString(), L"Part present");
    EXPECT_TRUE(enable);
}

TEST(ControlObjects, ClonesCopyParametersAndTellTheirOwnValues) {
    ResetCounters();
    CDelayedTimer timer;
    timer.InitDelayTimer({3.0f, 4.0f});
    timer.SetParam(250);
    timer.SetVisible(false);
    std::unique_ptr<CBaseShape> tc(timer.Clone());
    auto& t2 = dynamic_cast<CDelayedTimer&>(*tc);
    EXPECT_EQ(t2.nTime, 250u);
    EXPECT_EQ(t2.GetAnchor(), (tagPOINTF{3.0f, 4.0f}));
    EXPECT_FALSE(t2.IsVisible());
    // A new number, but the delay it really has.
    EXPECT_EQ(Caption(t2), L"Delay2 - 250 ms");

    CEncoderDistance enc;
    enc.SetParam(1500.0f);
    std::unique_ptr<CBaseShape> ec(enc.Clone());
    EXPECT_EQ(Caption(*ec), L"Move distance2 - 1500 mm");

    CExeAxi axis;
    CCfgAxit cfg;
    cfg.iUAxiID = 2;
    axis.SetCfgAxi(cfg);
    std::unique_ptr<CBaseShape> ac(axis.Clone());
    EXPECT_EQ(Caption(*ac), L"Axis move2 - 2");

    CInput in;
    int states[16] = {1, 1, 0, 0, 9};
    in.SetPortState(states);
    in.SetTipInfo(L"Door closed", true);
    std::unique_ptr<CBaseShape> ic(in.Clone());
    auto& i2 = dynamic_cast<CInput&>(*ic);
    EXPECT_TRUE(std::equal(states, states + 16, i2.iPortState));
    EXPECT_STREQ(i2.strTip.GetString(), L"Door closed");
    EXPECT_TRUE(i2.bEnaleTip);

    COutput out;
    out.SetProperties(3, 1, 10, 0, 5);
    std::unique_ptr<CBaseShape> oc(out.Clone());
    EXPECT_EQ(Caption(*oc), L"Output2(3)");
    int port = 0, signal = 0, signalWidth = 0, pulse = 0, pulseWidth = 0;
    dynamic_cast<COutput&>(*oc).GetProperties(port, signal, signalWidth, pulse, pulseWidth);
    EXPECT_EQ(std::vector<int>({port, signal, signalWidth, pulse, pulseWidth}), std::vector<int>({3, 1, 10, 0, 5}));

    // Hostile distances never overflow the caption's whole number.
    for (float d : {std::numeric_limits<float>::quiet_NaN(), 1e30f, -1e30f}) {
        enc.fDistance = d;
        std::unique_ptr<CBaseShape> c(enc.Clone());
        EXPECT_NE(Caption(*c).find(L" mm"), std::wstring::npos);
    }
}

TEST(ControlObjects, SavedUnderTheirKeysAndReadBack) {
    CDelayedTimer timer;
    timer.InitDelayTimer({1.5f, -2.0f});
    timer.SetParam(75);
    const auto tb = SavedShape(timer);
    EXPECT_TRUE(HasKey(tb, "Pointf"));
    CDelayedTimer timerBack;
    ReadBytes(timerBack, tb);
    EXPECT_EQ(timerBack.nTime, 75u);
    EXPECT_EQ(timerBack.GetAnchor(), (tagPOINTF{1.5f, -2.0f}));
    EXPECT_EQ(timerBack.m_wstrCaption, L"75 ms");

    CExeAxi axis;
    CCfgAxit cfg;
    cfg.iRelPos = 0;
    cfg.fMvDist = -3.25f;
    cfg.bBackToZero = 1;
    axis.SetCfgAxi(cfg);
    const auto ab = SavedShape(axis);
    for (const char* key : {"iUAxiID", "iRelPos", "fMvDist", "iUnit", "bBackToZero", "pointf"}) {
        EXPECT_TRUE(HasKey(ab, key)) << key;
    }
    CExeAxi axisBack;
    ReadBytes(axisBack, ab);
    EXPECT_EQ(axisBack.GetCfgAxi().iRelPos, 0);
    EXPECT_FLOAT_EQ(axisBack.GetCfgAxi().fMvDist, -3.25f);
    EXPECT_EQ(axisBack.GetCfgAxi().bBackToZero, 1);

    // The tip travels through its saved copy, set back after the read.
    CInput in;
    int states[16] = {0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6};
    in.SetPortState(states);
    in.SetTipInfo(L"Wait for the part", true);
    const auto ib = SavedShape(in);
    for (const char* key : {"iPort0State", "iPort15State", "bEnaleTip", "strTip"}) {
        EXPECT_TRUE(HasKey(ib, key)) << key;
    }
    CInput inBack;
    ReadBytes(inBack, ib);
    inBack.RestoreAfterRead();
    EXPECT_TRUE(std::equal(states, states + 16, inBack.iPortState));
    EXPECT_STREQ(inBack.strTip.GetString(), L"Wait for the part");
    EXPECT_TRUE(inBack.bEnaleTip);

    COutput out;
    out.SetProperties(5, 0, 20, 1, 30);
    COutput outBack;
    ReadBytes(outBack, SavedShape(out));
    int v[5];
    outBack.GetProperties(v[0], v[1], v[2], v[3], v[4]);
    EXPECT_EQ(std::vector<int>(v, v + 5), (std::vector<int>{5, 0, 20, 1, 30}));
}

TEST(ControlObjects, SwitchOffFreezesEditingButNotSavingOrTheRectangle) {
    ViewAt v(4.0f);
    SwitchFrame frame(0);
    RecordingCanvas canvas;
    CDC dc(&canvas);
    Gdiplus::RectF everything(-1000.0f, 1000.0f, 2000.0f, 2000.0f);

    CDelayedTimer timer;
    COutput out;
    for (CControlShape* s : std::initializer_list<CControlShape*>{&timer, &out}) {
        s->SetDocView(&v.doc, &v.view);
        s->pointf = {2.0f, 3.0f};
        EXPECT_EQ(s->Draw(&dc, nullptr, 0, 0, 0, 0, 0, 0.0f, 0.0f), 0);
        EXPECT_EQ(canvas.Count(), 0u);
        s->Move(5.0f, 5.0f);
        s->Mirror({0.0f, 0.0f}, 3);
        EXPECT_EQ(s->GetAnchor(), (tagPOINTF{2.0f, 3.0f}));
        EXPECT_EQ(s->IsMe({2.0f, 3.0f}), 0);
        EXPECT_EQ(s->IsInRect(everything), 0);
        EXPECT_EQ(s->IsSelectedForRect(everything), 0);
        EXPECT_EQ(s->IsInClientRectF(), 0);
        // Still measured, cloned and saved.
        Gdiplus::RectF r = testsupport::RectOf(*s);
        EXPECT_FLOAT_EQ(r.Width, 1.5f);
        EXPECT_NE(std::unique_ptr<CBaseShape>(s->Clone()), nullptr);
        EXPECT_FALSE(SavedShape(*s).empty());
    }

    frame.m_setting.nCtrlObjSwitch = 1;
    timer.Move(1.0f, -1.0f);
    EXPECT_EQ(timer.GetAnchor(), (tagPOINTF{3.0f, 2.0f}));
    EXPECT_EQ(timer.IsMe({3.0f, 2.0f}), 1);
    // The axis keeps the base mirroring: its anchor stays.
    CExeAxi axis;
    axis.pointf = {2.0f, 3.0f};
    axis.Mirror({0.0f, 0.0f}, 1);
    EXPECT_EQ(axis.GetAnchor(), (tagPOINTF{2.0f, 3.0f}));
    out.Mirror({0.0f, 0.0f}, 1);
    EXPECT_EQ(out.GetAnchor(), (tagPOINTF{-2.0f, 3.0f}));
    out.Mirror({0.0f, 1.0f}, 2);
    out.Mirror({0.0f, 0.0f}, 7);
    EXPECT_EQ(out.GetAnchor(), (tagPOINTF{-2.0f, -1.0f}));

    // A frame without a settings record: the timer counts it as off, the
    // others as on.
    frame.m_hasSetting = false;
    EXPECT_EQ(timer.IsCtrlObjEnabled(), 0);
    EXPECT_EQ(out.IsCtrlObjEnabled(), 1);
}

TEST(ControlObjects, WithoutAHostFrameOnlyTheTimerIsOff) {
    CDelayedTimer timer;
    CInput in;
    EXPECT_EQ(timer.IsCtrlObjEnabled(), 0);
    in.Move(1.0f, 2.0f);
    EXPECT_EQ(in.GetAnchor(), (tagPOINTF{1.0f, 2.0f}));
    // No view and no frame zoom: the rectangle shrinks to the anchor.
    Gdiplus::RectF r = testsupport::RectOf(in);
    EXPECT_EQ(r.X + r.Width, 1.0f);
    EXPECT_EQ(r.Y, 2.0f);
}

TEST(ControlObjects, PickingAndRectangleScaleWithTheZoom) {
    ViewAt v(5.0f);
    SwitchFrame frame(1, 2.0f);
    CDelayedTimer timer;
    CInput in;
    timer.SetDocView(&v.doc, &v.view);
    in.SetDocView(&v.doc, &v.view);
    timer.InitDelayTimer({10.0f, 10.0f});
    in.InitInput({10.0f, 10.0f});
    // 2.5 and 3.5 pixels at 5 pixels per millimetre: 0.5 and 0.7 mm.
    EXPECT_EQ(timer.IsMe({10.45f, 10.0f}), 1);
    EXPECT_EQ(timer.IsMe({10.6f, 10.0f}), 0);
    EXPECT_EQ(in.IsMe({10.0f, 10.6f}), 1);
    EXPECT_EQ(in.IsMe({10.0f, 10.75f}), 0);

    Gdiplus::RectF r;
    timer.GetRectangle(r);  // half side 1/5 + 0.5
    EXPECT_NEAR(r.X, 9.3f, 1e-5);
    EXPECT_NEAR(r.Y, 10.7f, 1e-5);
    EXPECT_NEAR(r.Height, 1.4f, 1e-5);
    // Without a view the host frame's zoom decides.
    CEncoderDistance enc;
    enc.InitDelayTimer({0.0f, 0.0f});
    enc.GetRectangle(r);
    EXPECT_FLOAT_EQ(r.Width, 2.0f);
    EXPECT_FLOAT_EQ(r.X, -1.0f);

    Gdiplus::RectF around(9.0f, 11.0f, 2.0f, 2.0f);
    Gdiplus::RectF beside(11.0f, 11.0f, 2.0f, 2.0f);
    EXPECT_EQ(timer.IsInRect(around), 1);
    EXPECT_EQ(timer.IsInRect(beside), 0);

    // The icon box is 20 pixels, 4 mm at this zoom: from 8 to 12 mm. A
    // rectangle touching its edge selects, one further away does not.
    Gdiplus::RectF touching(12.0f, 11.0f, 5.0f, 2.0f);
    Gdiplus::RectF apart(12.1f, 11.0f, 5.0f, 2.0f);
    EXPECT_EQ(timer.IsSelectedForRect(touching), 1);
    EXPECT_EQ(timer.IsSelectedForRect(apart), 0);

    // The view shows x from 0 to 80 and y from 0 down to -80.
    EXPECT_EQ(timer.IsInClientRectF(), 0);
    timer.InitDelayTimer({10.0f, -10.0f});
    EXPECT_EQ(timer.IsInClientRectF(), 1);

    // No geometry: nothing to flatten, but the anchor is both ends.
    std::vector<tagPOINTF> pts = testsupport::Flattened(in, 0.1f);
    EXPECT_TRUE(pts.empty());
    tagPOINTF last;
    in.GetFlattenPathLastPoint(last);
    EXPECT_EQ(last, (tagPOINTF{10.0f, 10.0f}));
}

TEST(ControlObjects, IconsAreDrawnAroundTheAnchor) {
    ViewAt v(4.0f);
    SwitchFrame frame(1);
    RecordingCanvas canvas;
    CDC dc(&canvas);

    CDelayedTimer timer;
    CEncoderDistance enc;
    CExeAxi axis;
    CInput in;
    COutput out;
    std::vector<CControlShape*> all = {&timer, &enc, &axis, &in, &out};
    for (CControlShape* s : all) {
        s->SetDocView(&v.doc, &v.view);
        s->pointf = {5.0f, -2.5f};
        s->Draw(&dc, 0, 0, 0, 0);
        ExpectIconAround(canvas, 20.0f, 10.0f);
    }
    // The five glyphs differ.
    std::vector<std::string> dumps;
    for (CControlShape* s : all) {
        canvas.Reset();
        s->Draw(&dc, 0, 0, 0, 0);
        dumps.push_back(canvas.Dump());
    }
    std::sort(dumps.begin(), dumps.end());
    EXPECT_EQ(std::unique(dumps.begin(), dumps.end()), dumps.end());
    canvas.Reset();

    // Without a view the device point is (x, -y), the timer's included.
    for (CControlShape* s : all) {
        s->SetDocView(nullptr, nullptr);
        s->pointf = {30.0f, -40.0f};
        s->Draw(&dc, nullptr, 0, 0, 0, 0, 0, 0.0f, 0.0f);
        ExpectIconAround(canvas, 30.0f, 40.0f);
    }

    // Previews draw at the transformed anchor and leave the shape alone.
    timer.SetDocView(&v.doc, &v.view);
    timer.pointf = {10.0f, 0.0f};
    timer.DrawRotate(&dc, 0, 90.0, {0.0f, 0.0f});
    ExpectIconAround(canvas, 0.0f, -40.0f);
    timer.DrawReSize(&dc, 0, {0.0f, 0.0f}, 2.0, 1.0);
    ExpectIconAround(canvas, 80.0f, 0.0f);
    EXPECT_EQ(timer.GetAnchor(), (tagPOINTF{10.0f, 0.0f}));
    axis.DrawRotate(&dc, 0, 90.0, {0.0f, 0.0f});
    EXPECT_EQ(canvas.Count(), 0u);

    // Preview windows: the encoder at (dx, dy), the output at its anchor,
    // the input nothing.
    enc.DrawWnd(static_cast<CWnd*>(nullptr), &dc, 0, 0, 0, 50.4f, 60.6f);
    ExpectIconAround(canvas, 50.0f, 61.0f);
    out.SetDocView(&v.doc, &v.view);
    out.pointf = {1.0f, -1.0f};
    out.DrawWnd(static_cast<CWnd*>(nullptr), &dc, 0, 0, 0, 99.0f, 99.0f);
    ExpectIconAround(canvas, 4.0f, 4.0f);
    in.DrawWnd(static_cast<CWnd*>(nullptr), &dc, 0, 0, 0, 0.0f, 0.0f);
    EXPECT_EQ(canvas.Count(), 0u);
}

TEST(ControlObjects, HostileAnchorsNeverOverflow) {
    SwitchFrame frame(1);
    RecordingCanvas canvas;
    CDC dc(&canvas);
    COutput out;
    Gdiplus::RectF sel(0.0f, 0.0f, 1.0f, 1.0f);
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 3e38f,
                      -3e38f}) {
        out.pointf = {bad, -bad};
        out.Draw(&dc, nullptr, 0, 0, 0, 0, 0, 0.0f, 0.0f);
        out.IsSelectedForRect(sel);
        out.IsMe({0.0f, 0.0f});
        testsupport::RectOf(out);
    }
    CEncoderDistance enc;
    enc.DrawWnd(static_cast<CWnd*>(nullptr), &dc, 0, 0, 0, std::numeric_limits<float>::quiet_NaN(), 1e38f);
}

// Every numeric setter and transform of every control object with NaN, both
// infinities, FLT_MAX and 1e30 (an int setting gets -1 for a number that is
// not finite, INT_MAX for the others): a value the object cannot carry out is
// refused with no saved byte changed, and whatever is kept is finite, in the
// anchor, the rectangle and the caption. A file holding such numbers reads
// back without them.
TEST(ControlObjects, ValuesTheObjectCannotCarryOutAreRefused) {
    SwitchFrame frame(1);
    using Make = std::function<std::unique_ptr<CControlShape>()>;
    const std::vector<Make> kinds = {
        [] { auto t = std::make_unique<CDelayedTimer>(); t->InitDelayTimer({1.5f, -2.0f}); return std::unique_ptr<CControlShape>(std::move(t)); },
        [] { auto e = std::make_unique<CEncoderDistance>(); e->InitDelayTimer({-3.0f, 4.5f}); return std::unique_ptr<CControlShape>(std::move(e)); },
        [] { auto a = std::make_unique<CExeAxi>(); a->InitExeAxiPoint({2.5f, 7.0f}); return std::unique_ptr<CControlShape>(std::move(a)); },
        [] { auto i = std::make_unique<CInput>(); i->InitInput({0.25f, 1.0f}); return std::unique_ptr<CControlShape>(std::move(i)); },
        [] { auto o = std::make_unique<COutput>(); o->InitOutput({-6.0f, -0.5f}); return std::unique_ptr<CControlShape>(std::move(o)); },
    };
    auto asInt = [](float v) { return std::isfinite(v) ? INT_MAX : -1; };
    using Op = std::function<int(CControlShape&, float)>;  // 1 when the object reported a refusal
    const std::vector<Op> ops = {
        // The transforms have no failure result (2).
        [](CControlShape& c, float v) { return c.Move(v, 2.0f), 2; },
        [](CControlShape& c, float v) { return c.Move(-1.0f, v), 2; },
        [](CControlShape& c, float v) { return c.Mirror({v, 1.0f}, 1), 2; },
        [](CControlShape& c, float v) { return c.Mirror({0.5f, -v}, 3), 2; },
        [](CControlShape& c, float v) {
            const tagPOINTF p{v, 1.0f};
            if (auto* t = dynamic_cast<CDelayedTimer*>(&c)) return t->InitDelayTimer(p) != 0 ? 1 : 0;
            if (auto* e = dynamic_cast<CEncoderDistance*>(&c)) return e->InitDelayTimer(p) != 0 ? 1 : 0;
            if (auto* a = dynamic_cast<CExeAxi*>(&c)) return a->InitExeAxiPoint(p) != 0 ? 1 : 0;
            if (auto* i = dynamic_cast<CInput*>(&c)) return i->InitInput(p) != 0 ? 1 : 0;
            return dynamic_cast<COutput&>(c).InitOutput(p) != 0 ? 1 : 0;
        },
        [&](CControlShape& c, float v) {
            if (auto* t = dynamic_cast<CDelayedTimer*>(&c)) t->SetParam(asInt(v));
            if (auto* e = dynamic_cast<CEncoderDistance*>(&c)) e->SetParam(v);
            if (auto* a = dynamic_cast<CExeAxi*>(&c)) {
                CCfgAxit cfg = a->GetCfgAxi();
                cfg.fMvDist = v;
                cfg.iUnit = 1;
                a->SetCfgAxi(cfg);
            }
            return 2;  // no result to report
        },
    };
    for (size_t k = 0; k < kinds.size(); ++k) {
        for (size_t op = 0; op < ops.size(); ++op) {
            for (float v : {std::nanf(""), INFINITY, -INFINITY, FLT_MAX, 1e30f}) {
                const std::string what = std::to_string(k) + "/" + std::to_string(op) + " " + std::to_string(v);
                std::unique_ptr<CControlShape> c = kinds[k]();
                const std::vector<uint8_t> before = SavedShape(*c);
                const int result = ops[op](*c, v);
                if (!std::isfinite(v)) {
                    EXPECT_EQ(SavedShape(*c), before) << what;
                }
                if (result != 2) {
                    EXPECT_EQ(result, std::isfinite(v) ? 0 : 1) << what;
                }
                Gdiplus::RectF r = testsupport::RectOf(*c);
                EXPECT_TRUE(geom::Finite(c->GetAnchor()) && geom::Finite(r)) << what;
                std::wstring caption = Caption(*c);
                std::transform(caption.begin(), caption.end(), caption.begin(), ::towlower);
                EXPECT_EQ(caption.find(L"nan"), std::wstring::npos) << what;
                EXPECT_EQ(caption.find(L"inf"), std::wstring::npos) << what;
                if (const size_t dash = caption.find(L" - "); dash != std::wstring::npos) caption.erase(dash, 3);
                EXPECT_EQ(caption.find(L"-"), std::wstring::npos) << what;  // no negative number
            }
        }
    }

    // Numbers put into the members directly and saved: the reader keeps the
    // steps but none of the numbers that are not finite.
    CEncoderDistance enc;
    CExeAxi axis;
    COutput out;
    enc.pointf = {NAN, 1.0f};
    enc.fDistance = -INFINITY;
    axis.pointf = {2.0f, INFINITY};
    out.pointf = {-INFINITY, NAN};
    std::list<CBaseShape*> shapes{&enc, &axis, &out};
    testsupport::Bytes bytes = testsupport::SavedList(shapes);
    // The axis's move distance (5.0, the only one in the file) becomes NaN.
    const float five = 5.0f, nan = NAN;
    uint8_t fiveBytes[4];
    std::memcpy(fiveBytes, &five, 4);
    auto at = std::search(bytes.begin(), bytes.end(), fiveBytes, fiveBytes + 4);
    ASSERT_NE(at, bytes.end());
    ASSERT_EQ(std::search(at + 1, bytes.end(), fiveBytes, fiveBytes + 4), bytes.end());
    std::memcpy(&*at, &nan, 4);
    std::list<CBaseShape*> read;
    ASSERT_TRUE(testsupport::LoadList(bytes, read));
    ASSERT_EQ(read.size(), 3u);
    for (CBaseShape* s : read) {
        auto* c = dynamic_cast<CControlShape*>(s);
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(geom::Finite(c->GetAnchor()));
        if (auto* e = dynamic_cast<CEncoderDistance*>(c)) {
            EXPECT_TRUE(std::isfinite(e->GetParam()));
        }
        if (auto* a = dynamic_cast<CExeAxi*>(c)) {
            EXPECT_TRUE(std::isfinite(a->GetCfgAxi().fMvDist));
        }
        delete s;
    }
}

// Helpers of the hatch tests: outlines, hatch figures, sets, and a fixture
// that keeps the fills' run log in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "morvik/compose/filler.h"
#include "morvik/core/polyline.h"
#include "morvik/core/runlog.h"
#include "support/temp_dir.h"

namespace filler_test {

using Outline = std::vector<tagPOINTF>;
using Figure = std::vector<Gdiplus::PointF>;

inline Outline Rect(float x0, float y0, float x1, float y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }

inline std::vector<Figure> Figures(const Gdiplus::GraphicsPath& path) {
    std::vector<Figure> out;
    const auto& pts = path.PathPoints();
    const auto& types = path.PathTypes();
    for (size_t i = 0; i < pts.size(); ++i) {
        if ((types[i] & 0x07) == 0 || out.empty()) out.emplace_back();
        out.back().push_back(pts[i]);
    }
    return out;
}

inline void ExpectLine(const Figure& f, float x1, float y1, float x2, float y2) {
    ASSERT_EQ(f.size(), 2u);
    EXPECT_NEAR(f[0].X, x1, 1e-5);
    EXPECT_NEAR(f[0].Y, y1, 1e-5);
    EXPECT_NEAR(f[1].X, x2, 1e-5);
    EXPECT_NEAR(f[1].Y, y2, 1e-5);
}

inline CPolyLine* Poly(const Outline& pts) {
    auto* p = new CPolyLine();
    p->arrPoint = pts;
    p->ClosePloyLine();
    return p;
}

inline SHAPE_FILLER_PARAM LineSet(int kind, double spacing, double angle = 0.0) {
    SHAPE_FILLER_PARAM set;
    set.nFillType = kind;
    set.fLineSpacing = spacing;
    set.fAngle = angle;
    set.bArrangeEqually = 0;
    return set;
}

class FillLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = RunLog::Instance(nullptr)->GetLogFolder();
        RunLog::Instance(nullptr)->SetLogFolder(CString((m_dir + "/").c_str()));
        CFillRunner::SetSlowFillAsk(1);
    }
    void TearDown() override {
        RunLog::Instance(nullptr)->SetLogFolder(m_saved);
        CFillRunner::SetSlowFillAsk(1);
    }
    testsupport::TempDir m_tmp{"morvik-fill"};
    std::string m_dir = m_tmp.Dir();
    CString m_saved;
};

}  // namespace filler_test

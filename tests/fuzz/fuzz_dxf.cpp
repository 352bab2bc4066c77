// Fuzzes the DXF reader through its file entry and checks that every record
// it hands out holds finite coordinates.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "morvik/import/dxf_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzzsupport::Check;

void CheckPoint(const Gdiplus::PointF& p) { Check(std::isfinite(p.X) && std::isfinite(p.Y)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzzsupport::MemFile input("dxf-in");
    static const std::string path = input.NarrowPath();
    static const auto host = [] {
        auto h = std::make_shared<RecordingHost>();
        SetHost(h);
        return h;
    }();
    host->ClearRecords();
    input.Put(data, size);

    CParserDxfFile reader;
    // Blocks nested many times over may place far more records than the
    // input holds; a lower limit keeps each run small.
    reader.SetPlacementLimit(200000);
    // The second bit of the first byte reads the file in large mode.
    if (size > 0 && (data[0] & 2)) reader.SetReadMode(CParserDxfFile::ReadMode::Large);
    reader.ParserDxf(path.c_str());

    std::vector<tagLine> lines;
    reader.GetVecLine(lines);
    for (const auto& l : lines)
        for (const auto& p : l.arrPoint) CheckPoint(p);
    std::vector<tagArc> arcs;
    reader.GetVecArc(arcs);
    for (const auto& a : arcs) {
        CheckPoint(a.ptCenter);
        Check(std::isfinite(a.dRadius) && std::isfinite(a.dStartAngle) && std::isfinite(a.dEndAngle));
    }
    std::vector<tagPolyline> polys;
    reader.GetVecPolyline(polys);
    for (const auto& poly : polys)
        for (const auto& v : poly.arrVertex) Check(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.dBulge));
    std::vector<tagSolid> solids;
    reader.GetVecSolid(solids);
    for (const auto& s : solids) {
        Check(!s.arrPoint.empty());
        for (const auto& p : s.arrPoint) CheckPoint(p);
    }
    std::vector<tagText> texts;
    reader.GetVecText(texts);
    for (const auto& t : texts) Check(!t.strText.empty());
    std::vector<tagEllipse> ellipses;
    reader.GetVecEllipse(ellipses);
    std::vector<tagMText> mtexts;
    reader.GetVecMText(mtexts);
    std::vector<tagDxfPt> points;
    reader.GetVecPoint(points);
    for (const auto& p : points) CheckPoint(p.ptPos);
    return 0;
}

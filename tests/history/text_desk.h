// A document for the text history tests: it hands the shapes' records to
// its history, saves its shape list to bytes, reads a saved list back and
// collects the mark data of all its shapes.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "core/markdata.h"
#include "core/shapelist.h"
#include "core/srifile.h"
#include "halder/basedoc.h"
#include "halder/records.h"
#include "history/editing_core.h"
#include "history/saved_compare.h"

namespace history_test {

// The mark data of a whole document: per shape its pen groups and points,
// as one list of numbers (pens and counts are numbers too).
using Marks = std::vector<double>;

struct Desk : CBaseDoc {
    CBaseView view{this};
    CCore core{this, &view};
    Desk() {
        view.SetZoom(4.0f);
        view.SetOrigin({-60, 60});
        view.SetClientSize(480, 480);
    }
    void AddUndo(CUND_Base* record) override { core.AddUndoItem(record); }
    void GetMirrorCenter(tagPOINTF& centre) override { centre = {0, 0}; }
    // As a shape-list file holds the document: every shape with its
    // children before it.
    Bytes Save() {
        std::list<CBaseShape*> all;
        for (CBaseShape* s : GetShapeList()) s->SaveShapeChild(nullptr, all);
        SriFile file;
        CVonnSriShapeList writer(&all);
        writer.Save(true, &file);
        return file.GetWrittenBytes();
    }
    // Where each shape's part of the last Mark begins.
    std::vector<size_t> starts;
    // The shape whose part of the last Mark holds entry i.
    int ShapeAt(size_t i) const {
        int n = -1;
        for (size_t k = 0; k < starts.size() && starts[k] <= i; ++k) n = static_cast<int>(k);
        return n;
    }
    // The shapes of a saved list appended to this document.
    void Load(const Bytes& bytes) {
        SriFile file(bytes.data(), bytes.size());
        std::list<CBaseShape*> shapes;
        CVonnSriShapeList reader(&shapes);
        reader.Read(true, &file);
        for (CBaseShape* s : shapes) {
            AddShape(s);
            s->SetDocView(this, &view);
        }
    }
    Marks Mark() {
        Marks out;
        starts.clear();
        for (CBaseShape* shape : GetShapeList()) {
            starts.push_back(out.size());
            tagMarkDataPar par;
            tagMarkCtlData ctl;
            out.push_back(shape->GetMarkData(par, &ctl) ? 1 : 0);
            for (const auto* list : {&par.arrPaths, &par.arrPaths2}) {
                out.push_back(static_cast<double>(list->size()));
                for (const tagPathData& path : *list) {
                    out.push_back(path.nPenIndex);
                    out.push_back(static_cast<double>(path.arrPolylines.size()));
                    for (const auto& line : path.arrPolylines) {
                        out.push_back(static_cast<double>(line.size()));
                        for (const tagPOINTF& p : line) {
                            out.push_back(p.x);
                            out.push_back(p.y);
                        }
                    }
                }
            }
        }
        return out;
    }
};

// Where two mark data lists first differ, or empty when they agree within
// tol (counts and pens exactly).
inline std::string MarksDiffer(const Marks& got, const Marks& want, double tol) {
    for (size_t i = 0; i < got.size() && i < want.size(); ++i)
        if (std::fabs(got[i] - want[i]) > tol * (1.0 + std::fabs(want[i])))
            return "entry " + std::to_string(i) + ": " + std::to_string(got[i]) + " vs " + std::to_string(want[i]);
    if (got.size() != want.size())
        return "entry " + std::to_string(std::min(got.size(), want.size())) + ": length " +
               std::to_string(got.size()) + " vs " + std::to_string(want.size());
    return {};
}

}  // namespace history_test

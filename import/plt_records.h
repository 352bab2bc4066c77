// The line record of a PLT (HPGL) import: one pen-tagged polyline. A group
// filled by the PLT reader holds these by value instead of child shapes and
// saves them as a vector of records.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <vector>

#include "morvik/halder/halder_types.h"
#include "morvik/halder/sribase.h"

struct MORVIK_API tagPLTLINE : public SriBase {
    // 0 for the plotter's first pen.
    uint8_t nPen = 0;
    // Millimetres, y up.
    std::vector<tagPOINTF> arrPoint;

    tagPLTLINE() = default;
    tagPLTLINE(const tagPLTLINE& other) : SriBase(other), nPen(other.nPen), arrPoint(other.arrPoint) {}
    tagPLTLINE& operator=(const tagPLTLINE& other) {
        nPen = other.nPen;
        arrPoint = other.arrPoint;
        return *this;
    }

    void AddAllProp(bool extended) override {
        SriBase::AddAllProp(extended);
        AddProp("pltline_nPen", &nPen);
        AddProp("pltline_arrPoint", &arrPoint);
    }
};

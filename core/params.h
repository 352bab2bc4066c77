// Parameter records shared by shapes and the host.
#pragma once

#include <cstdint>

#include "halder/sribase.h"

// The fill of a shape: outline switches (the hatch sets come with the fill
// engine).
struct FILLED_PARS : public SriBase {
    uint8_t bOutLine = 1;
    int32_t bOutLineFirst = 1;
    int32_t bKeepSeperate = 0;
    int32_t bDelUngroup = 1;
    void AddAllProp(bool extended) override;
};

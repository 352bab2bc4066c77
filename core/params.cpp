#include "core/params.h"

void FILLED_PARS::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("bOutLine", &bOutLine);
    AddProp("bOutLineFirst", &bOutLineFirst);
    AddProp("bKeepSeperate", &bKeepSeperate);
}

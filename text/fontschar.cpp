#include "morvik/text/fontschar.h"

FONTSCHAR::FONTSCHAR(const FONTSCHAR& src) : SriBase() { *this = src; }

FONTSCHAR& FONTSCHAR::operator=(const FONTSCHAR& src) {
    if (this == &src) return *this;
    types = src.types;
    points = src.points;
    text = src.text;
    strName = src.strName;
    if (text.IsEmpty() && !strName.empty()) text = strName;
    return *this;
}

FONTSCHAR* FONTSCHAR::Clone() const {
    auto* copy = new FONTSCHAR(*this);
    // The text as it stands, even empty, and its saved copy in step.
    copy->text = text;
    copy->strName.assign(text.GetString(), static_cast<size_t>(text.GetLength()));
    return copy;
}

void FONTSCHAR::AddAllProp(bool) {
    strName.assign(text.GetString(), static_cast<size_t>(text.GetLength()));
    AddProp("strName", &strName);
}

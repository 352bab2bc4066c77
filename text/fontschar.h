// One laid-out character of a text shape: the text it draws and its outline
// (or strokes, or dots) as points in drawing units (millimetres, y up) with
// GDI+ point types.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <string>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/halder/halder_types.h"
#include "morvik/halder/sribase.h"

struct MORVIK_API FONTSCHAR : public SriBase {
    // The character or characters this record draws.
    CString text;
    // The saved copy of text, the only field the record itself saves; the
    // points and types are saved by the text shape.
    std::wstring strName;
    std::vector<tagPOINTF> points;
    // One point type per point: start, line or Bezier, with the close and
    // marker flags.
    std::vector<uint8_t> types;

    FONTSCHAR() = default;
    FONTSCHAR(const FONTSCHAR& src);
    // Copies every field; a source read from a file has only strName, and
    // its text then comes from strName.
    FONTSCHAR& operator=(const FONTSCHAR& src);
    ~FONTSCHAR() override = default;

    // A new record owned by the caller, whose strName follows this record's
    // text.
    FONTSCHAR* Clone() const;
    // Brings strName in step with text and registers it.
    void AddAllProp(bool extended) override;
};

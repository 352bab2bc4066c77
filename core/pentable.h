// PenParsInfo: one column of the host's pen table. A column shows one
// parameter of the laser pens (tagPenPar): it knows its header text, its
// width in pixels and how a pen's value is written into a cell.
#pragma once

#include "morvik/afx/morvik_api.h"

#include "morvik/afx/cstring.h"
#include "morvik/halder/lang.h"
#include "morvik/halder/records.h"

// The parameter a column shows. The underlying type is fixed so that any int
// the host stores (16 to 23 and values past the end name no parameter) is a
// valid value of the enumeration.
enum PenParType : int {
    PEN_PAR_ID = 0,
    PEN_PAR_SWITCH = 1,
    PEN_PAR_NAME = 2,
    PEN_PAR_MARK_COUNT = 3,
    PEN_PAR_RUN_SPEED = 4,
    PEN_PAR_LASER_POWER = 5,
    PEN_PAR_POWER_EFFECT_TIME = 6,
    PEN_PAR_CURRENT = 7,
    PEN_PAR_LASER_FREQUENCY = 8,
    PEN_PAR_DUTY_RATIO = 9,
    PEN_PAR_OPEN_DELAY = 10,
    PEN_PAR_SHUT_DELAY = 11,
    PEN_PAR_END_DELAY = 12,
    PEN_PAR_CORNER_DELAY = 13,
    PEN_PAR_STEP_LENGTH = 14,
    PEN_PAR_STEP_DELAY = 15,
    PEN_PAR_CORNER_DELAY_VARIABLE = 24,
    PEN_PAR_MOPA_PULSE_WIDTH = 25,
    PEN_PAR_VOLTAGE_OUTPUT = 26,
};

class MORVIK_API PenParsInfo {
public:
    PenParsInfo() = default;
    PenParsInfo(const PenParsInfo&) = default;
    PenParsInfo& operator=(const PenParsInfo&) = default;

    // The number of column kinds (0 to 26).
    static unsigned int GetLabelCount();
    // The header of a column kind in the current language; empty for kinds
    // that name no parameter. The language argument is not used: headers
    // always come from the language singleton.
    static CString GetLabelName(const PenParType& type, CLang* lang);

    // Stores the kind and takes its width from the table.
    void SetType(const PenParType& type);
    PenParType GetType() const { return m_eType; }
    // The column width in pixels.
    int GetWidth() const { return m_nWidth; }

    // The cell text of this column for one pen; row is the pen's index in the
    // table and only the pen-number column shows it.
    CString GetValue(const tagPenPar& pen, int row) const;
    // The column's header.
    CString GetDescription(CLang* lang) const;

private:
    PenParType m_eType = PEN_PAR_ID;
    int m_nWidth = 40;
};

// Variable-text processing over a document's shape list.
//
// CProcessVarTxt splits the current text of a variable text into pieces by
// its first element's rules and writes each piece into the fixed texts whose
// captions name the rules: the fixed texts after the variable text in the
// list, up to the next variable text. It also lays variable texts out as
// marked or as blank. CResetVarTxt resets or saves the current values of
// every variable text of a list.
//
// Both are process-wide and used by the marking thread and the editor: each
// operation runs under the instance's lock.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <list>
#include <map>
#include <mutex>

#include "morvik/afx/cstring.h"
#include "morvik/core/params.h"
#include "morvik/halder/records.h"

class CBaseShape;
class CFonts;

using ShapeList = std::list<CBaseShape*>;

// Everything a text's GetFonts hands out, to hand back to its SetFonts with
// a new text.
struct MORVIK_API TextContent {
    CString text;
    int type = 0;
    CString face;
    FONTS_PAR fonts;
    CODEBAR_PAR codebar;
    VARTEXT_PAR vartext;
    explicit TextContent(CFonts* shape);
    // For a caller that holds the text's event.
    struct Held {};
    TextContent(CFonts* shape, Held);
    int Apply(CFonts* shape, const CString& newText, int useVarText, bool interactive);
    // Apply for a caller that holds the text's event.
    int ApplyHeld(CFonts* shape, const CString& newText, int useVarText, bool interactive);
};

class MORVIK_API CProcessVarTxt {
public:
    static CProcessVarTxt* Instance();

    // bSplit of the first element of the first variable text with elements;
    // 0 when there is none.
    int IsVarTxtAdv(ShapeList& list);
    // Writes the pieces of shape's text into the fixed texts it fills.
    void DoSplitVarTxt(ShapeList& list, CBaseShape* shape);
    int IsSplitFixTxt(ShapeList& list, CBaseShape* shape);
    // The position of a variable text in the list (every entry counts);
    // -1 when shape is null, not in the list or not a variable text.
    int Position(ShapeList& list, CBaseShape* shape);
    // Matches the fixed texts that shape fills to their rules; 1 when at
    // least one matched.
    int NameIsSame(ShapeList& list, CBaseShape* shape);
    // The piece of the current source text that a rule takes. A position
    // below 1 or past the end gives an empty piece.
    CString GetTxtByRule(CString& fixedText, SPLITRULE& rule);
    void SetFixTxt(ShapeList& list);
    // 1 when the text has a serial number, date or time element (kinds 1, 6,
    // 7); markSelf takes the bMkSelf of the last element examined.
    int IsSerialVar(CBaseShape* shape, int& markSelf);
    // Lays every variable text out as marked (bMkSelf) or as one blank
    // (split and not marked itself).
    void SetMkSelfTxt(ShapeList& list);

    // For tests and hosts: set the source text and separator mode that
    // GetTxtByRule reads.
    void SetSource(const CString& text, int separatorMode);

private:
    CProcessVarTxt() = default;
    static CFonts* VarText(CBaseShape* shape);

    std::recursive_mutex m_lock;
    SPLITRULE m_rule;
    CString m_strSource;
    std::map<int, SPLITRULE> m_rules;
    int m_nSeparatorMode = 0;
};

class MORVIK_API CResetVarTxt {
public:
    static CResetVarTxt* Instance();
    void ResetVarValue(ShapeList& list, int value) { SetAndSaveVarValue(list, 1, value); }
    void SaveVarCurValue(ShapeList& list) { SetAndSaveVarValue(list, 0, 0); }
    void SetAndSaveVarValue(ShapeList& list, int reset, int value);

private:
    CResetVarTxt() = default;
    std::mutex m_lock;
};

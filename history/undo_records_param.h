// Undo records of parameter changes replayed through a shape's own setter
// with a stored parameter record: fills of shapes and texts, spiral-line
// parameters, text and barcode content, and picture parameters. The fill
// records that add or remove filled shapes also swap shape-list snapshots.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/core/params.h"
#include "morvik/halder/records.h"
#include "morvik/history/undo_base.h"
#include "morvik/history/undo_records_list.h"

class CBaseShape;
class CScrewLine;

// ---- payloads ------------------------------------------------------------

// A new filled shape (kind 15) made from the selection.
struct MORVIK_API stFillUndo {
    ShapeListSnapshot before;
    ShapeListSnapshot after;
    FILLED_PARS fillPar;
    std::vector<void*> vecOther;  // kept for the builder; replays ignore it
    CBaseShape* pFilled = nullptr;
};

// The fill that a text linked to the edited one had of its own before the
// edit reached it through the link: it may have had other parameters than
// the edited text, or no fill.
struct MORVIK_API stLinkedFillUndo {
    GUID id{};
    FILLED_PARS parOld;
    BYTE bOldHadFill = 0;
};

// Fill parameters of one filled shape or text changed. vecLinkedOld: the
// texts that the change reached through links, each with its own old fill;
// the record fills it when it is made (right after the change), unless the
// caller did.
struct MORVIK_API stSetFillUndo {
    FILLED_PARS parOld;
    FILLED_PARS parNew;
    CBaseShape* pShape = nullptr;
    std::vector<stLinkedFillUndo> vecLinkedOld;
};

// A text filled (pText is a text shape, kind 13). vecLinkedOld as above.
struct MORVIK_API stFontFillUndo {
    ShapeListSnapshot before;
    ShapeListSnapshot after;
    FILLED_PARS parOld;
    BYTE bOldHadFill = 0;
    FILLED_PARS parNew;
    CBaseShape* pText = nullptr;
    std::vector<stLinkedFillUndo> vecLinkedOld;
};

// Several shapes and texts filled at once. The record owns every entry.
struct MORVIK_API stMultiFillUndo {
    std::vector<stFillUndo*> vecFill;
    std::vector<stFontFillUndo*> vecText;
    std::vector<stSetFillUndo*> vecRefill;
    ShapeListSnapshot before;
    ShapeListSnapshot after;
    FILLED_PARS fillPar;
};

struct MORVIK_API stSetScrewUndo {
    SCREW_PAR parOld;
    SCREW_PAR parNew;
    CScrewLine* pScrew = nullptr;
};

// Text and barcode content of the text ids[0]. "First" and "second" are
// the two strings the text's content setter takes, in its order. The two
// variable-text records hold elements of their own (VARTEXT_PAR::Clone):
// a text that shared them would move them as it marks.
struct MORVIK_API stFontsUndo {
    std::vector<GUID> ids;
    int nNewType = 0;
    int nOldType = 0;
    CString strNewSecond;
    CString strNewFirst;
    CString strOldSecond;
    CString strOldFirst;
    FONTS_PAR fontsNew;
    FONTS_PAR fontsOld;
    CODEBAR_PAR codebarNew;
    CODEBAR_PAR codebarOld;
    VARTEXT_PAR varNew;
    VARTEXT_PAR varOld;
    tagPOINTF ptNew;
    tagPOINTF ptOld;
};

struct MORVIK_API stPictureUndo {
    std::vector<GUID> ids;
    PICTURE_PAR parNew;
    PICTURE_PAR parOld;
};

// ---- records ---------------------------------------------------------------

// Undo restores the list without the filled shape and tells the document the
// fill was undone; redo gives the filled shape its parameters and restores
// the list with it. Both return 1.
class MORVIK_API CUND_Fill : public CUND_Base {
public:
    CUND_Fill() = default;
    explicit CUND_Fill(stFillUndo* payload) : m_pData(payload) {}
    ~CUND_Fill() override;
    LONG GetKind() override { return UND_KIND_FILL; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stFillUndo* m_pData = nullptr;
};

// The old (undo) or new (redo) fill parameters of one filled shape or text.
// An undo gives each text that the change reached through a link its own
// old fill. Both return 1. Made right after the change: the payload's
// linked texts are read then.
class MORVIK_API CUND_SetFill : public CUND_Base {
public:
    CUND_SetFill() = default;
    explicit CUND_SetFill(stSetFillUndo* payload);
    ~CUND_SetFill() override;
    LONG GetKind() override { return UND_KIND_SETFILL; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stSetFillUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

// A text's fill taken back (its old parameters, or no fill) or made again,
// on the text and, with its link flag, on its linked texts, with the list of
// the shapes that the fill added. A linked text gets its own old fill back.
// Both return 1. Made right after the fill: the payload's linked texts are
// read then.
class MORVIK_API CUND_FONTFill : public CUND_Base {
public:
    CUND_FONTFill() = default;
    explicit CUND_FONTFill(stFontFillUndo* payload);
    ~CUND_FONTFill() override;
    LONG GetKind() override { return UND_KIND_FONTFILL; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stFontFillUndo* m_pData = nullptr;
};

// Several fills at once. When the record is destroyed it deletes its entries
// and the filled shapes of its fill entries, except a filled shape that any
// snapshot of the record lists: that one was in the document's list, and the
// document owns it. A record without payload replays as nothing. Both
// return 1.
class MORVIK_API CUND_MutliFill : public CUND_Base {
public:
    CUND_MutliFill() = default;
    explicit CUND_MutliFill(stMultiFillUndo* payload);
    ~CUND_MutliFill() override;
    LONG GetKind() override { return UND_KIND_MUTLIFILL; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stMultiFillUndo* m_pData = nullptr;
};

// The old (undo) or new (redo) parameters of a spiral line. Both return 1.
class MORVIK_API CUND_SetScrew : public CUND_Base {
public:
    CUND_SetScrew() = default;
    explicit CUND_SetScrew(stSetScrewUndo* payload) : m_pData(payload) {}
    ~CUND_SetScrew() override;
    LONG GetKind() override { return UND_KIND_SETSCREW; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stSetScrewUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

// The old (undo) or new (redo) content of one text; only the first GUID is
// used. The content is set in the text's unmirrored frame (a mirrored text
// is flipped back around the document's mirror centre around the setter)
// and on its linked texts. When the first string did not change, the text
// also moves back (undo) or again (redo) by the stored offset. Both return 1.
class MORVIK_API CUND_Fonts : public CUND_Base {
public:
    CUND_Fonts() = default;
    explicit CUND_Fonts(stFontsUndo* payload) : m_pData(payload) {}
    ~CUND_Fonts() override;
    LONG GetKind() override { return UND_KIND_FONTS; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stFontsUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

// The old (undo) or new (redo) parameters of every listed picture. A GUID
// that finds no shape is reported. Undo tells both panel windows and
// repaints; redo tells the first window only. Both return 0.
class MORVIK_API CUND_Picture : public CUND_Base {
public:
    CUND_Picture() = default;
    explicit CUND_Picture(stPictureUndo* payload) : m_pData(payload) {}
    ~CUND_Picture() override;
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stPictureUndo* m_pData = nullptr;

private:
    CBaseShape* Replay(CCore* core, const PICTURE_PAR& par);
};

#include "morvik/text/vartext.h"

#include "morvik/halder/textelement.h"
#include "morvik/text/fonts.h"
#include "morvik/win32/windows.h"

namespace {

CFonts* AsText(CBaseShape* shape) {
    if (shape == nullptr || shape->GetShapeKind() != SHAPE_FONTS) return nullptr;
    return dynamic_cast<CFonts*>(shape);
}

// What the processor reads of a text, taken under the text's layout event:
// SetFonts replaces the element list under it, on whatever thread marks or
// edits that text. The element itself stays alive in the copy.
struct VarInfo {
    bool variable = false;
    std::shared_ptr<TEXT_ELEMENT> first;
};

VarInfo ReadVar(CFonts* text) {
    VarInfo info;
    if (text == nullptr) return info;
    HANDLE layout = text->GetLayoutEvent();
    const bool held = layout != nullptr && WaitForSingleObject(layout, INFINITE) == WAIT_OBJECT_0;
    info.variable = text->parVarText.bEnable != 0;
    if (!text->parVarText.arrElements.empty()) info.first = text->parVarText.arrElements.front();
    if (held) SetEvent(layout);
    return info;
}

std::shared_ptr<TEXT_ELEMENT> FirstElement(CFonts* text) { return ReadVar(text).first; }

}  // namespace

TextContent::TextContent(CFonts* shape) { shape->GetFonts(text, type, face, fonts, codebar, vartext); }

int TextContent::Apply(CFonts* shape, const CString& newText, int useVarText, bool interactive) {
    return shape->SetFonts(newText, type, face, fonts, codebar, vartext, 0, useVarText, interactive);
}

int TextContent::ApplyHeld(CFonts* shape, const CString& newText, int useVarText, bool interactive) {
    return shape->SetFontsHeld(newText, type, face, fonts, codebar, vartext, 0, useVarText, interactive, nullptr);
}

CProcessVarTxt* CProcessVarTxt::Instance() {
    static CProcessVarTxt instance;
    return &instance;
}

CFonts* CProcessVarTxt::VarText(CBaseShape* shape) {
    CFonts* text = AsText(shape);
    return text != nullptr && ReadVar(text).variable ? text : nullptr;
}

void CProcessVarTxt::SetSource(const CString& text, int separatorMode) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_strSource = text;
    m_nSeparatorMode = separatorMode;
}

int CProcessVarTxt::IsVarTxtAdv(ShapeList& list) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (CBaseShape* shape : list) {
        const VarInfo info = ReadVar(AsText(shape));
        if (info.variable && info.first != nullptr) return info.first->advPar.bSplit;
    }
    return 0;
}

void CProcessVarTxt::DoSplitVarTxt(ShapeList& list, CBaseShape* shape) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (shape != nullptr && IsSplitFixTxt(list, shape) != 0) SetFixTxt(list);
}

int CProcessVarTxt::IsSplitFixTxt(ShapeList& list, CBaseShape* shape) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return shape == nullptr ? 0 : NameIsSame(list, shape);
}

int CProcessVarTxt::Position(ShapeList& list, CBaseShape* shape) {
    if (shape == nullptr) return -1;
    int i = 0;
    for (CBaseShape* entry : list) {
        if (entry == shape) return VarText(entry) != nullptr ? i : -1;
        ++i;
    }
    return -1;
}

int CProcessVarTxt::NameIsSame(ShapeList& list, CBaseShape* shape) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const int p = Position(list, shape);
    if (p < 0) return 0;
    CFonts* source = VarText(shape);
    const std::shared_ptr<TEXT_ELEMENT> first = FirstElement(source);
    m_rules.clear();
    int found = 0;
    bool seeking = true;
    int i = -1;
    for (CBaseShape* entry : list) {
        ++i;
        CFonts* text = AsText(entry);
        if (text == nullptr) continue;
        if (ReadVar(text).variable) {
            if (seeking) continue;
            return found;
        }
        if (first == nullptr) continue;
        const std::vector<SPLITRULE> rules = first->advPar.vecSplitRule;
        for (const SPLITRULE& rule : rules) {
            if (rule.strName != text->GetCaption() || i <= p) continue;
            m_strSource = source->parVarText.GetText(false);
            m_rules[i] = rule;
            found = 1;
            seeking = false;
            m_nSeparatorMode = first->advPar.bSpliltStr;
        }
    }
    return found;
}

CString CProcessVarTxt::GetTxtByRule(CString& fixedText, SPLITRULE& rule) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_nSeparatorMode != 0) {
        if (rule.iPos < 1) return CString();
        // A piece ends at a ';': text after the last one is no piece.
        int start = 0;
        for (int piece = 1;; ++piece) {
            const int end = m_strSource.Find(L';', start);
            if (end < 0) return CString();
            if (piece == rule.iPos) return m_strSource.Mid(start, end - start);
            start = end + 1;
        }
    }
    const int length = m_strSource.GetLength();
    CString piece;
    if (rule.iPos >= 1 && rule.iPos <= length && rule.iTotal > 0)
        piece = m_strSource.Mid(rule.iPos - 1, rule.iTotal < length ? rule.iTotal : length);
    if (rule.iMode == 1) return fixedText + piece;
    return piece;
}

void CProcessVarTxt::SetFixTxt(ShapeList& list) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    int i = -1;
    for (CBaseShape* entry : list) {
        ++i;
        auto rule = m_rules.find(i);
        CFonts* text = AsText(entry);
        if (rule == m_rules.end() || text == nullptr) continue;
        TextContent content(text);
        // A rule that appends keeps appending to the fixed text's own text,
        // not to what it wrote there last time.
        CString prefix = content.text;
        if (prefix == text->m_strSplitText) prefix = text->m_strSplitPrefix;
        content.Apply(text, GetTxtByRule(prefix, rule->second), 1, false);
        text->m_strSplitPrefix = prefix;
        text->m_strSplitText = text->GetText();
        text->ClearMarkBuff();
    }
}

int CProcessVarTxt::IsSerialVar(CBaseShape* shape, int& markSelf) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    CFonts* text = VarText(shape);
    if (text == nullptr) return 0;
    for (const auto& element : text->parVarText.arrElements) {
        if (element == nullptr) continue;
        markSelf = element->advPar.bMkSelf;
        const int kind = element->nKind;
        if (kind == TEXT_KIND_SN || kind == TEXT_KIND_DATE || kind == TEXT_KIND_TIME) return 1;
    }
    return 0;
}

void CProcessVarTxt::SetMkSelfTxt(ShapeList& list) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (CBaseShape* entry : list) {
        CFonts* text = VarText(entry);
        const std::shared_ptr<TEXT_ELEMENT> first = FirstElement(text);
        if (first == nullptr) continue;
        TextContent content(text);
        if (first->advPar.bMkSelf != 0) {
            content.Apply(text, content.text, 1, false);
        } else if (first->advPar.bSplit != 0) {
            // Shown as one blank, but the text stays what it was.
            content.Apply(text, CString(L" "), 0, false);
            text->SetTextOnly(content.text);
        }
    }
}

CResetVarTxt* CResetVarTxt::Instance() {
    static CResetVarTxt instance;
    return &instance;
}

void CResetVarTxt::SetAndSaveVarValue(ShapeList& list, int reset, int value) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (CBaseShape* entry : list) {
        CFonts* text = AsText(entry);
        if (text == nullptr || text->parVarText.bEnable == 0) continue;
        TextContent content(text);
        // The copy shares the text's elements: the change reaches the text.
        if (reset != 0)
            content.vartext.ResetVarTxt(value);
        else
            content.vartext.SaveCurVar();
    }
}

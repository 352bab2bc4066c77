#include "morvik/shapes/xmlmarkup.h"

#include <climits>
#include <cstddef>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// "&" followed by a name start (letter, "#", "_", ":" or a character above
// 127), name characters and ";".
bool EntityRefAt(const std::wstring& text, size_t amp) {
    size_t j = amp + 1;
    if (j >= text.size()) {
        return false;
    }
    const wchar_t first = text[j];
    if (!(IsAsciiLetter(first) || first == L'#' || first == L'_' || first == L':' || first > 127)) {
        return false;
    }
    ++j;
    while (j < text.size()) {
        const wchar_t c = text[j];
        if (IsAsciiLetter(c) || IsAsciiDigit(c) || c == L'_' || c == L':' || c == L'-' || c == L'.' || c > 127) {
            ++j;
            continue;
        }
        break;
    }
    return j < text.size() && text[j] == L';';
}

constexpr size_t kMaxDoc = static_cast<size_t>(INT_MAX);

}  // namespace

CXmlMarkup::CXmlMarkup() {
    // Room for a few records; record 0 is the document node.
    m_elems.resize(8);
}

bool CXmlMarkup::IsValidName(const wchar_t* name) {
    if (name == nullptr || *name == L'\0') {
        return false;
    }
    size_t len = 0;
    for (const wchar_t* p = name; *p != L'\0'; ++p, ++len) {
        const wchar_t c = *p;
        if (c <= 0x20 || c == L'<' || c == L'>' || c == L'&' || c == L'"' || c == L'\'' || c == L'/' || c == L'=' ||
            c == L'!' || c == L'?') {
            return false;
        }
    }
    // The end tag "</name>" must fit its 10-bit length field.
    return len + 3 <= XmlElemPos::kMaxEndTag;
}

namespace {

// A character XML can carry; the others are written as '?'.
bool XmlChar(wchar_t c) {
    const auto u = static_cast<uint32_t>(c);
    return u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u < 0xD800) || (u >= 0xE000 && u < 0xFFFE) ||
           (u >= 0x10000 && u <= 0x10FFFF);
}

}  // namespace

std::wstring CXmlMarkup::EscapeText(const std::wstring& text, bool attribute, int flags) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        switch (c) {
            case L'<':
                out += L"&lt;";
                break;
            case L'&':
                if ((flags & MNF_WITHREFS) != 0 && EntityRefAt(text, i)) {
                    out += c;
                } else {
                    out += L"&amp;";
                }
                break;
            case L'>':
                out += L"&gt;";
                break;
            case L'\'':
                if (attribute) {
                    out += L"&apos;";
                } else {
                    out += c;
                }
                break;
            case L'"':
                if (attribute) {
                    out += L"&quot;";
                } else {
                    out += c;
                }
                break;
            // A parser turns a line end or tab inside an attribute into a
            // blank: as character references they come back as they were.
            case L'\n':
            case L'\r':
            case L'\t':
                if (attribute) {
                    out += c == L'\n' ? L"&#10;" : c == L'\r' ? L"&#13;" : L"&#9;";
                } else {
                    out += c;
                }
                break;
            default:
                out += XmlChar(c) ? c : L'?';
                break;
        }
    }
    return out;
}

std::wstring CXmlMarkup::NameOf(int index) const {
    const XmlElemPos& e = m_elems[index];
    const size_t tagEnd = static_cast<size_t>(e.nStart) + e.StartTagLen();
    size_t q = static_cast<size_t>(e.nStart) + 1;
    const size_t begin = q;
    while (q < tagEnd && q < strDoc.size()) {
        const wchar_t c = strDoc[q];
        if (IsBlank(c) || c == L'/' || c == L'>') {
            break;
        }
        ++q;
    }
    return strDoc.substr(begin, q - begin);
}

bool CXmlMarkup::GrowTable() {
    if (static_cast<size_t>(iPosFree) < m_elems.size()) {
        return true;
    }
    if (iPosFree >= INT_MAX - 1) {
        return false;
    }
    size_t grown = static_cast<size_t>(iPosFree) + static_cast<size_t>(iPosFree) / 2;
    if (grown <= static_cast<size_t>(iPosFree)) {
        grown = static_cast<size_t>(iPosFree) + 1;
    }
    if (grown > static_cast<size_t>(INT_MAX)) {
        grown = static_cast<size_t>(INT_MAX);
    }
    m_elems.resize(grown);
    return true;
}

void CXmlMarkup::Splice(int pos, int removeLen, const std::wstring& text, int chain) {
    const size_t needed = strDoc.size() - static_cast<size_t>(removeLen) + text.size();
    if (strDoc.capacity() < needed) {
        strDoc.reserve(needed + needed / 2 + 128);
    }
    strDoc.replace(static_cast<size_t>(pos), static_cast<size_t>(removeLen), text);
    const int delta = static_cast<int>(text.size()) - removeLen;
    if (delta == 0) {
        return;
    }
    // The chain's elements enclose the splice and start before it; every
    // other element that starts at or behind it lies wholly behind it.
    for (int c = chain; c > 0; c = m_elems[c].iElemParent) {
        m_elems[c].nLength += delta;
    }
    for (int i = 1; i < iPosFree; ++i) {
        if (m_elems[i].nStart >= pos) {
            m_elems[i].nStart += delta;
        }
    }
}

bool CXmlMarkup::AddElem(const wchar_t* name, const wchar_t* value, int flags) {
    return AddNode(name, value, flags & ~MNF_CHILD);
}

bool CXmlMarkup::AddChildElem(const wchar_t* name, const wchar_t* value, int flags) {
    return AddNode(name, value, flags | MNF_CHILD);
}

// The element's text: empty, left open, or the name around the escaped (or
// CDATA) value, with the lengths of its start and end tags.
CXmlMarkup::NewElem CXmlMarkup::ElemText(const wchar_t* name, const std::wstring& val, int flags) {
    const std::wstring nm(name);
    NewElem e;
    if (val.empty()) {
        if ((flags & MNF_WITHNOEND) != 0) {
            e.text = L"<" + nm + L">";
            e.flags = XmlElemPos::kLeftOpen;
        } else if ((flags & MNF_WITHXHTMLSPACE) != 0) {
            e.text = L"<" + nm + L" />";
        } else {
            e.text = L"<" + nm + L"/>";
        }
        e.startLen = e.text.size();
    } else {
        const std::wstring open = L"<" + nm + L">";
        const std::wstring close = L"</" + nm + L">";
        std::wstring body;
        if ((flags & MNF_WITHCDATA) != 0) {
            body = L"<![CDATA[";
            size_t from = 0;
            for (size_t hit = val.find(L"]]>"); hit != std::wstring::npos; hit = val.find(L"]]>", from)) {
                body.append(val, from, hit - from);
                body += L"]]]]><![CDATA[>";
                from = hit + 3;
            }
            body.append(val, from, std::wstring::npos);
            for (size_t i = 9; i < body.size(); ++i)
                if (!XmlChar(body[i])) body[i] = L'?';
            body += L"]]>";
        } else {
            body = EscapeText(val, false, flags);
        }
        e.text = open + body + close;
        e.startLen = open.size();
        e.endLen = close.size();
    }
    return e;
}

// Where a new element goes: behind after, or at the end of parent's
// content; expand tells that an empty parent must be opened up around it.
size_t CXmlMarkup::InsertPos(int parent, int after, bool& expand) const {
    const size_t docSize = strDoc.size();
    size_t pos = docSize;
    expand = false;
    if (after != 0) {
        pos = static_cast<size_t>(m_elems[after].End());
        const size_t limit = parent == 0 ? docSize : static_cast<size_t>(m_elems[parent].ContentEnd());
        size_t q = pos;
        while (q < limit && IsBlank(strDoc[q])) {
            ++q;
        }
        if (q == limit || strDoc[q] == L'<') {
            pos = q;
        }
    } else if (parent != 0) {
        const XmlElemPos& p = m_elems[parent];
        if (p.EndTagLen() == 0 && (p.nFlags & XmlElemPos::kLeftOpen) == 0) {
            expand = true;
        } else {
            pos = static_cast<size_t>(p.ContentEnd());
        }
    }
    return pos;
}

// Links element idx into parent's children, behind after or last.
void CXmlMarkup::LinkElem(int idx, int parent, int after) {
    XmlElemPos& e = m_elems[idx];
    if (after != 0) {
        const int next = m_elems[after].iElemNext;
        e.iElemPrev = after;
        e.iElemNext = next;
        if (next != 0) {
            m_elems[next].iElemPrev = idx;
        }
        m_elems[after].iElemNext = idx;
    } else {
        int last = m_elems[parent].iElemChild;
        if (last == 0) {
            m_elems[parent].iElemChild = idx;
        } else {
            while (m_elems[last].iElemNext != 0) {
                last = m_elems[last].iElemNext;
            }
            m_elems[last].iElemNext = idx;
            e.iElemPrev = last;
        }
    }
}

bool CXmlMarkup::AddNode(const wchar_t* name, const wchar_t* value, int flags) {
    if ((nDocFlags & MDF_READFILE) != 0) {
        return false;
    }
    const bool child = (flags & MNF_CHILD) != 0;
    if (child && !ValidIndex(iPos)) {
        return false;
    }
    if (!IsValidName(name)) {
        return false;
    }
    const std::wstring val = value != nullptr ? value : L"";
    if ((flags & MNF_WITHNOEND) != 0 && !val.empty()) {
        return false;
    }
    const int parent = child ? iPos : iPosParent;
    const int after = child ? iPosChild : iPos;
    if (m_elems[parent].Level() >= static_cast<int>(XmlElemPos::kMaxLevel)) {
        return false;
    }

    const NewElem made = ElemText(name, val, flags);
    const std::wstring& text = made.text;
    const size_t startLen = made.startLen, endLen = made.endLen;
    const uint32_t elemFlags = made.flags;
    const std::wstring lineBreak = (flags & MNF_WITHNOLINES) != 0 ? L"" : L"\r\n";

    // Where the element goes; an empty parent is opened up around it.
    const size_t docSize = strDoc.size();
    bool expand = false;
    size_t pos = InsertPos(parent, after, expand);
    std::wstring insert;
    std::wstring parentName;
    size_t newStart = pos;
    if (expand) {
        const XmlElemPos& p = m_elems[parent];
        pos = static_cast<size_t>(p.nStart) + p.StartTagLen() - 2;
        if (p.StartTagLen() < 3 || strDoc.compare(pos, 2, L"/>") != 0) {
            return false;
        }
        parentName = NameOf(parent);
        const std::wstring open = (flags & MNF_WITHNOLINES) != 0 ? L">" : L">\r\n";
        insert = open + text + lineBreak + L"</" + parentName + L">";
        newStart = pos + open.size();
    } else {
        insert = text + lineBreak;
    }
    const size_t removed = expand ? 2 : 0;
    if (docSize - removed + insert.size() > kMaxDoc || startLen > XmlElemPos::kMaxStartTag ||
        endLen > XmlElemPos::kMaxEndTag) {
        return false;
    }
    if (!GrowTable()) {
        return false;
    }

    Splice(static_cast<int>(pos), static_cast<int>(removed), insert, parent);
    if (expand) {
        XmlElemPos& p = m_elems[parent];
        p.SetTagLens(p.StartTagLen() - 1, static_cast<int>(parentName.size() + 3));
    }

    const int idx = iPosFree++;
    XmlElemPos& e = m_elems[idx];
    e = XmlElemPos();
    e.nStart = static_cast<int32_t>(newStart);
    e.nLength = static_cast<int32_t>(text.size());
    e.SetTagLens(static_cast<int>(startLen), static_cast<int>(endLen));
    e.nFlags = static_cast<uint32_t>(m_elems[parent].Level() + 1) | elemFlags;
    e.iElemParent = parent;
    LinkElem(idx, parent, after);
    if (child) {
        iPosChild = idx;
    } else {
        iPos = idx;
        iPosChild = 0;
    }
    nNodeType = 1;
    nNodeOffset = 0;
    nNodeLength = 0;
    return true;
}

bool CXmlMarkup::SetAttribOn(int target, const wchar_t* name, const std::wstring& value, int flags) {
    if ((nDocFlags & MDF_READFILE) != 0 || !ValidIndex(target) || !IsValidName(name)) {
        return false;
    }
    const std::wstring attrName(name);
    const std::wstring esc = EscapeText(value, true, flags);
    const XmlElemPos& e = m_elems[target];
    const size_t tagStart = static_cast<size_t>(e.nStart);
    const size_t tagEnd = tagStart + e.StartTagLen();
    if (tagEnd > strDoc.size() || e.StartTagLen() < 3) {
        return false;
    }

    // Look for the attribute among those the start tag already has.
    size_t q = tagStart + 1 + NameOf(target).size();
    size_t valueStart = 0;
    size_t valueEnd = 0;
    bool found = false;
    while (q < tagEnd) {
        while (q < tagEnd && IsBlank(strDoc[q])) {
            ++q;
        }
        if (q >= tagEnd || strDoc[q] == L'/' || strDoc[q] == L'>') {
            break;
        }
        const size_t nameStart = q;
        while (q < tagEnd && !IsBlank(strDoc[q]) && strDoc[q] != L'=' && strDoc[q] != L'/' && strDoc[q] != L'>') {
            ++q;
        }
        const size_t nameEnd = q;
        while (q < tagEnd && IsBlank(strDoc[q])) {
            ++q;
        }
        if (q >= tagEnd || strDoc[q] != L'=') {
            break;
        }
        ++q;
        while (q < tagEnd && IsBlank(strDoc[q])) {
            ++q;
        }
        if (q >= tagEnd || (strDoc[q] != L'"' && strDoc[q] != L'\'')) {
            break;
        }
        const wchar_t quote = strDoc[q++];
        const size_t vs = q;
        while (q < tagEnd && strDoc[q] != quote) {
            ++q;
        }
        if (q >= tagEnd) {
            break;
        }
        const size_t ve = q++;
        if (strDoc.compare(nameStart, nameEnd - nameStart, attrName) == 0) {
            valueStart = vs;
            valueEnd = ve;
            found = true;
            break;
        }
    }

    size_t pos = 0;
    size_t removed = 0;
    std::wstring insert;
    if (found) {
        pos = valueStart;
        removed = valueEnd - valueStart;
        insert = esc;
    } else {
        // Just before "/>" or ">"; a blank before " />" stays in front of it.
        pos = tagEnd - 1;
        if (strDoc[pos - 1] == L'/' && pos - 1 > tagStart) {
            --pos;
            if (IsBlank(strDoc[pos - 1]) && e.EndTagLen() == 0) {
                --pos;
            }
        }
        insert = L" " + attrName + L"=\"" + esc + L"\"";
    }
    const size_t newStartLen = static_cast<size_t>(e.StartTagLen()) - removed + insert.size();
    if (newStartLen > XmlElemPos::kMaxStartTag || strDoc.size() - removed + insert.size() > kMaxDoc) {
        return false;
    }
    const int endLen = e.EndTagLen();
    Splice(static_cast<int>(pos), static_cast<int>(removed), insert, target);
    m_elems[target].SetTagLens(static_cast<int>(newStartLen), endLen);
    return true;
}

bool CXmlMarkup::SetAttrib(const wchar_t* name, const wchar_t* value, int flags) {
    return SetAttribOn(iPos, name, value != nullptr ? value : L"", flags);
}

bool CXmlMarkup::SetAttrib(const wchar_t* name, int value, int flags) {
    return SetAttribOn(iPos, name, std::to_wstring(value), flags);
}

bool CXmlMarkup::SetChildAttrib(const wchar_t* name, const wchar_t* value, int flags) {
    return SetAttribOn(iPosChild, name, value != nullptr ? value : L"", flags);
}

bool CXmlMarkup::SetChildAttrib(const wchar_t* name, int value, int flags) {
    return SetAttribOn(iPosChild, name, std::to_wstring(value), flags);
}

bool CXmlMarkup::IntoElem() {
    if (!ValidIndex(iPos) || nNodeType != 1) {
        return false;
    }
    iPosParent = iPos;
    iPos = iPosChild;
    iPosChild = 0;
    nNodeType = iPos != 0 ? 1 : 0;
    nNodeOffset = 0;
    nNodeLength = 0;
    return true;
}

bool CXmlMarkup::OutOfElem() {
    if (!ValidIndex(iPosParent)) {
        return false;
    }
    iPosChild = iPos;
    iPos = iPosParent;
    iPosParent = m_elems[iPos].iElemParent;
    nNodeType = 1;
    nNodeOffset = 0;
    nNodeLength = 0;
    return true;
}

// CXmlMarkup: a small in-memory XML writer. The whole document is one wide
// text buffer; a table of element records locates every element inside it by
// offsets. Adding an element or an attribute splices text into the buffer and
// moves the offsets of the records behind the splice, so the buffer is the
// finished document at every moment.
//
// Elements are written one per line ("\r\n" after each), without
// indentation. Every editing call returns false and leaves the text, the
// records and the position unchanged when it cannot be done.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <string>
#include <vector>

// One element's place in the text. Record 0 stands for the document itself.
struct MORVIK_API XmlElemPos {
    // Offset of the element's "<" in the text.
    int32_t nStart = 0;
    // Length of the whole element, from "<" to the end of its end tag.
    int32_t nLength = 0;
    // Low 22 bits: start-tag length; high 10 bits: end-tag length. An empty
    // element ("/>" form) has start-tag length nLength and end-tag length 0.
    uint32_t nTagLengths = 0;
    // Low 16 bits: nesting level; high bits: element flags.
    uint32_t nFlags = 0;
    int32_t iElemParent = 0;
    int32_t iElemChild = 0;
    int32_t iElemNext = 0;
    int32_t iElemPrev = 0;

    static constexpr uint32_t kMaxStartTag = (1u << 22) - 1;
    static constexpr uint32_t kMaxEndTag = (1u << 10) - 1;
    static constexpr uint32_t kMaxLevel = 0xFFFF;
    // The element has no end tag and none will be written.
    static constexpr uint32_t kLeftOpen = 0x100000;

    int StartTagLen() const { return static_cast<int>(nTagLengths & kMaxStartTag); }
    int EndTagLen() const { return static_cast<int>(nTagLengths >> 22); }
    void SetTagLens(int start, int end) {
        nTagLengths = (static_cast<uint32_t>(start) & kMaxStartTag) | (static_cast<uint32_t>(end) << 22);
    }
    int Level() const { return static_cast<int>(nFlags & kMaxLevel); }
    int ContentStart() const { return nStart + StartTagLen(); }
    int ContentEnd() const { return nStart + nLength - EndTagLen(); }
    int End() const { return nStart + nLength; }
};

class MORVIK_API CXmlMarkup {
public:
    // Flags of the adding and attribute calls.
    enum : int {
        MNF_WITHCDATA = 0x01,       // the value goes into a CDATA section
        MNF_WITHNOLINES = 0x02,     // no line break after the element
        MNF_WITHXHTMLSPACE = 0x04,  // an empty element is written "<name />"
        MNF_WITHREFS = 0x08,        // entity references in a value are kept as they are
        MNF_WITHNOEND = 0x10,       // the element is left open (no end tag)
        MNF_CHILD = 0x4000,         // internal: add under the current element
    };
    // Document mode bits; a document built in memory has none.
    enum : unsigned int {
        MDF_READFILE = 0x10,
        MDF_WRITEFILE = 0x20,
    };

    CXmlMarkup();
    ~CXmlMarkup() = default;
    CXmlMarkup(const CXmlMarkup&) = default;
    CXmlMarkup& operator=(const CXmlMarkup&) = default;

    const std::wstring& GetDoc() const { return strDoc; }

    // A null value counts as empty. Names must be non-empty XML names (no
    // blanks, quotes, "<", ">", "&", "/", "=", "!" or "?").
    // Adds an element after the current element, as a sibling; it becomes
    // the current element.
    bool AddElem(const wchar_t* name, const wchar_t* value = nullptr, int flags = 0);
    // Adds an element under the current element, after the current child;
    // it becomes the current child. False without a current element.
    bool AddChildElem(const wchar_t* name, const wchar_t* value = nullptr, int flags = 0);

    // Sets an attribute of the current element (SetAttrib) or of the current
    // child (SetChildAttrib). An attribute that exists keeps its place and
    // gets the new value; a new one goes to the end of the start tag.
    bool SetAttrib(const wchar_t* name, const wchar_t* value, int flags = 0);
    bool SetAttrib(const wchar_t* name, int value, int flags = 0);
    bool SetChildAttrib(const wchar_t* name, const wchar_t* value, int flags = 0);
    bool SetChildAttrib(const wchar_t* name, int value, int flags = 0);

    // The current element becomes the parent and its current child the
    // current element (none when it had none). False without a current
    // element.
    bool IntoElem();
    // The parent becomes the current element and the former current element
    // its current child. False at the top level.
    bool OutOfElem();

    // Escapes a value: "<", "&" and ">" always; "'" and '"' as well when
    // attribute is set. With MNF_WITHREFS an ampersand that already starts an
    // entity reference is kept.
    static std::wstring EscapeText(const std::wstring& text, bool attribute, int flags = 0);

    // ---- state -------------------------------------------------------------
    std::wstring strDoc;
    // Results of parsing and file operations; this writer leaves it empty.
    std::wstring strResult;
    int iPosParent = 0;
    int iPos = 0;
    int iPosChild = 0;
    int iPosFree = 1;
    // 1 when the current node is an element, 0 for none.
    int nNodeType = 0;
    int nNodeOffset = 0;
    int nNodeLength = 0;
    unsigned int nDocFlags = 0;

private:
    bool AddNode(const wchar_t* name, const wchar_t* value, int flags);
    struct NewElem {
        std::wstring text;
        size_t startLen = 0;
        size_t endLen = 0;
        uint32_t flags = 0;
    };
    static NewElem ElemText(const wchar_t* name, const std::wstring& val, int flags);
    size_t InsertPos(int parent, int after, bool& expand) const;
    void LinkElem(int idx, int parent, int after);
    bool SetAttribOn(int target, const wchar_t* name, const std::wstring& value, int flags);
    // Replaces removeLen characters at pos with text and moves the records:
    // chain (the element whose span holds the splice) and its ancestors grow
    // by the difference; every other record starting at or behind pos moves.
    void Splice(int pos, int removeLen, const std::wstring& text, int chain);
    // Makes room for one more record; false when the table cannot grow.
    bool GrowTable();
    // The tag name of an element, read from its start tag.
    std::wstring NameOf(int index) const;
    bool ValidIndex(int index) const { return index > 0 && index < iPosFree; }

    static bool IsValidName(const wchar_t* name);

    std::vector<XmlElemPos> m_elems;
};

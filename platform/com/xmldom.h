// XML DOM: the part of the MSXML document object model that the SVG reader
// walks (documents, elements, attributes, child lists, text), over pugixml.
//
// Nodes and lists are small handles that share ownership of the parsed
// document, so they stay valid after the document object is released.
// As with MSXML's defaults, text nodes made only of white space are not
// listed, element text is trimmed, the document type is skipped and no
// entity besides the predefined ones and character references is expanded
// (so neither external files nor nested entity definitions are ever read).
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/win32/windows.h"

namespace pugi {
struct xml_node_struct;
}

using VARIANT_BOOL = short;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum DOMNodeType {
    NODE_INVALID = 0,
    NODE_ELEMENT = 1,
    NODE_ATTRIBUTE = 2,
    NODE_TEXT = 3,
    NODE_CDATA_SECTION = 4,
    NODE_PROCESSING_INSTRUCTION = 7,
    NODE_COMMENT = 8,
    NODE_DOCUMENT = 9,
    NODE_DOCUMENT_TYPE = 10,
};

namespace xmldom_detail {
struct DocHolder;
}

class IXMLDOMNodeList;

class IXMLDOMNode {
public:
    IXMLDOMNode() = default;
    bool IsNull() const { return m_node == nullptr; }

    // "#text" for text and "#cdata-section" for CDATA nodes, the tag name
    // for elements.
    HRESULT get_nodeName(CString& name) const;
    HRESULT get_nodeType(DOMNodeType* type) const;
    // The text of the node and all its descendants, trimmed.
    HRESULT get_text(CString& text) const;
    HRESULT get_childNodes(IXMLDOMNodeList& list) const;

protected:
    friend class IXMLDOMNodeList;
    friend class IXMLDOMDocument;
    std::shared_ptr<xmldom_detail::DocHolder> m_doc;
    pugi::xml_node_struct* m_node = nullptr;
};

class IXMLDOMElement : public IXMLDOMNode {
public:
    IXMLDOMElement() = default;
    // The element view of a node; a null element when the node is none.
    static IXMLDOMElement FromNode(const IXMLDOMNode& node);

    HRESULT get_tagName(CString& name) const;
    // S_OK with the value when the attribute exists; S_FALSE with an empty
    // value when it does not (MSXML's null variant).
    HRESULT getAttribute(const wchar_t* name, CString& value) const;
};

class IXMLDOMNodeList {
public:
    HRESULT get_length(long* length) const;
    // E_INVALIDARG and a null node for an index outside the list.
    HRESULT get_item(long index, IXMLDOMNode& node) const;

private:
    friend class IXMLDOMNode;
    std::shared_ptr<xmldom_detail::DocHolder> m_doc;
    std::vector<pugi::xml_node_struct*> m_items;
};

class IXMLDOMDocument {
public:
    IXMLDOMDocument();
    ~IXMLDOMDocument();
    IXMLDOMDocument(const IXMLDOMDocument&) = delete;
    IXMLDOMDocument& operator=(const IXMLDOMDocument&) = delete;

    // Accepted for compatibility: external resources are never resolved and
    // nothing is validated.
    HRESULT put_resolveExternals(VARIANT_BOOL on);
    HRESULT put_validateOnParse(VARIANT_BOOL on);
    // Parses the file (UTF-8 path). *ok is VARIANT_TRUE on success; on
    // failure it is VARIANT_FALSE, S_FALSE is returned and the parse error
    // holds a non-zero code. Files above kMaxFileSize are refused.
    HRESULT load(const wchar_t* path, VARIANT_BOOL* ok);
    // As load, from bytes in memory.
    HRESULT loadBuffer(const void* data, size_t size, VARIANT_BOOL* ok);
    // The code of the last load's failure, 0 after a successful one.
    HRESULT get_parseError(long* errorCode) const;
    // S_FALSE and a null element when nothing is loaded.
    HRESULT get_documentElement(IXMLDOMElement& element) const;

    static constexpr size_t kMaxFileSize = 256u * 1024u * 1024u;

private:
    std::shared_ptr<xmldom_detail::DocHolder> m_doc;
    long m_errorCode = 0;
};

// Stand-in for CoCreateInstance of the DOM document class.
HRESULT CreateXMLDOMDocument(std::unique_ptr<IXMLDOMDocument>& out);

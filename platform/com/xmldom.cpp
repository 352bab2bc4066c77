#include "morvik/com/xmldom.h"

#include <cstdio>
#include <new>
#include <pugixml.hpp>
#include <string>

namespace xmldom_detail {
struct DocHolder {
    pugi::xml_document doc;
};
}  // namespace xmldom_detail

namespace {

constexpr long kErrorFile = 1;  // cannot open or read, or too large

pugi::xml_node Wrap(pugi::xml_node_struct* n) { return pugi::xml_node(n); }

bool IsBlank(const char* s) {
    for (; *s; ++s) {
        if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
    }
    return true;
}

// Whether a child is listed: elements, comments, processing instructions
// and text that is not all blank.
bool Listed(const pugi::xml_node& n) {
    switch (n.type()) {
    case pugi::node_element:
    case pugi::node_comment:
    case pugi::node_pi:
        return true;
    case pugi::node_pcdata:
        return !IsBlank(n.value());
    case pugi::node_cdata:
        return true;
    default:
        return false;
    }
}

void CollectText(const pugi::xml_node& n, std::string& out) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
        out += n.value();
        return;
    }
    if (n.type() != pugi::node_element) return;
    // Iterative over depth: hostile documents may nest very deeply.
    pugi::xml_node cur = n.first_child();
    while (cur && cur != n) {
        if (cur.type() == pugi::node_pcdata || cur.type() == pugi::node_cdata) out += cur.value();
        if (cur.type() == pugi::node_element && cur.first_child()) {
            cur = cur.first_child();
            continue;
        }
        while (cur && cur != n && !cur.next_sibling()) cur = cur.parent();
        if (cur && cur != n) cur = cur.next_sibling();
    }
}

CString Trimmed(const std::string& utf8) {
    size_t b = 0;
    size_t e = utf8.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (b < e && blank(utf8[b])) ++b;
    while (e > b && blank(utf8[e - 1])) --e;
    return CString(Utf8ToWide(utf8.substr(b, e - b)).c_str());
}

}  // namespace

HRESULT IXMLDOMNode::get_nodeName(CString& name) const {
    name.Empty();
    if (!m_node) return E_FAIL;
    const pugi::xml_node n = Wrap(m_node);
    switch (n.type()) {
    case pugi::node_pcdata: name = L"#text"; break;
    case pugi::node_cdata: name = L"#cdata-section"; break;
    case pugi::node_comment: name = L"#comment"; break;
    case pugi::node_document: name = L"#document"; break;
    default: name = CString(Utf8ToWide(n.name()).c_str()); break;
    }
    return S_OK;
}

HRESULT IXMLDOMNode::get_nodeType(DOMNodeType* type) const {
    if (!type) return E_INVALIDARG;
    *type = NODE_INVALID;
    if (!m_node) return E_FAIL;
    switch (Wrap(m_node).type()) {
    case pugi::node_element: *type = NODE_ELEMENT; break;
    case pugi::node_pcdata: *type = NODE_TEXT; break;
    case pugi::node_cdata: *type = NODE_CDATA_SECTION; break;
    case pugi::node_comment: *type = NODE_COMMENT; break;
    case pugi::node_pi: *type = NODE_PROCESSING_INSTRUCTION; break;
    case pugi::node_document: *type = NODE_DOCUMENT; break;
    case pugi::node_doctype: *type = NODE_DOCUMENT_TYPE; break;
    default: break;
    }
    return S_OK;
}

HRESULT IXMLDOMNode::get_text(CString& text) const {
    text.Empty();
    if (!m_node) return E_FAIL;
    std::string all;
    CollectText(Wrap(m_node), all);
    text = Trimmed(all);
    return S_OK;
}

HRESULT IXMLDOMNode::get_childNodes(IXMLDOMNodeList& list) const {
    list.m_items.clear();
    list.m_doc = m_doc;
    if (!m_node) return E_FAIL;
    for (pugi::xml_node c = Wrap(m_node).first_child(); c; c = c.next_sibling()) {
        if (Listed(c)) list.m_items.push_back(c.internal_object());
    }
    return S_OK;
}

IXMLDOMElement IXMLDOMElement::FromNode(const IXMLDOMNode& node) {
    IXMLDOMElement e;
    const IXMLDOMElement& src = static_cast<const IXMLDOMElement&>(node);
    if (src.m_node && Wrap(src.m_node).type() == pugi::node_element) {
        e.m_doc = src.m_doc;
        e.m_node = src.m_node;
    }
    return e;
}

HRESULT IXMLDOMElement::get_tagName(CString& name) const {
    name.Empty();
    if (!m_node) return E_FAIL;
    name = CString(Utf8ToWide(Wrap(m_node).name()).c_str());
    return S_OK;
}

HRESULT IXMLDOMElement::getAttribute(const wchar_t* name, CString& value) const {
    value.Empty();
    if (!m_node || !name) return E_INVALIDARG;
    const pugi::xml_attribute a = Wrap(m_node).attribute(WideToUtf8(name).c_str());
    if (!a) return S_FALSE;
    value = CString(Utf8ToWide(a.value()).c_str());
    return S_OK;
}

HRESULT IXMLDOMNodeList::get_length(long* length) const {
    if (!length) return E_INVALIDARG;
    *length = static_cast<long>(m_items.size());
    return S_OK;
}

HRESULT IXMLDOMNodeList::get_item(long index, IXMLDOMNode& node) const {
    node.m_doc.reset();
    node.m_node = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= m_items.size()) return E_INVALIDARG;
    node.m_doc = m_doc;
    node.m_node = m_items[static_cast<size_t>(index)];
    return S_OK;
}

IXMLDOMDocument::IXMLDOMDocument() = default;
IXMLDOMDocument::~IXMLDOMDocument() = default;

HRESULT IXMLDOMDocument::put_resolveExternals(VARIANT_BOOL) { return S_OK; }
HRESULT IXMLDOMDocument::put_validateOnParse(VARIANT_BOOL) { return S_OK; }

HRESULT IXMLDOMDocument::loadBuffer(const void* data, size_t size, VARIANT_BOOL* ok) {
    if (ok) *ok = VARIANT_FALSE;
    m_doc.reset();
    m_errorCode = kErrorFile;
    if ((!data && size) || size > kMaxFileSize) return S_FALSE;
    auto holder = std::make_shared<xmldom_detail::DocHolder>();
    // The document type is skipped, so entity definitions in it are never
    // expanded; only the predefined entities and character references are.
    const unsigned flags = (pugi::parse_default | pugi::parse_comments | pugi::parse_pi) & ~pugi::parse_doctype;
    const pugi::xml_parse_result r =
        holder->doc.load_buffer(data ? data : "", size, flags, pugi::encoding_auto);
    if (!r) {
        m_errorCode = 100 + static_cast<long>(r.status);
        return S_FALSE;
    }
    if (!holder->doc.document_element()) {
        m_errorCode = 100 + static_cast<long>(pugi::status_no_document_element);
        return S_FALSE;
    }
    m_doc = std::move(holder);
    m_errorCode = 0;
    if (ok) *ok = VARIANT_TRUE;
    return S_OK;
}

HRESULT IXMLDOMDocument::load(const wchar_t* path, VARIANT_BOOL* ok) {
    if (ok) *ok = VARIANT_FALSE;
    m_doc.reset();
    m_errorCode = kErrorFile;
    if (!path) return E_INVALIDARG;
    FILE* f = std::fopen(WidePathToUtf8(path).c_str(), "rb");
    if (!f) return S_FALSE;
    std::string bytes;
    char buf[65536];
    size_t n = 0;
    bool tooBig = false;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (bytes.size() + n > kMaxFileSize) {
            tooBig = true;
            break;
        }
        bytes.append(buf, n);
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (tooBig || readError) return S_FALSE;
    return loadBuffer(bytes.data(), bytes.size(), ok);
}

HRESULT IXMLDOMDocument::get_parseError(long* errorCode) const {
    if (!errorCode) return E_INVALIDARG;
    *errorCode = m_errorCode;
    return S_OK;
}

HRESULT IXMLDOMDocument::get_documentElement(IXMLDOMElement& element) const {
    element = IXMLDOMElement();
    if (!m_doc) return S_FALSE;
    const pugi::xml_node root = m_doc->doc.document_element();
    if (!root) return S_FALSE;
    element.m_doc = m_doc;
    element.m_node = root.internal_object();
    return S_OK;
}

HRESULT CreateXMLDOMDocument(std::unique_ptr<IXMLDOMDocument>& out) {
    out.reset(new (std::nothrow) IXMLDOMDocument());
    return out ? S_OK : E_OUTOFMEMORY;
}

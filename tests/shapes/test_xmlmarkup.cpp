// The in-memory XML writer: element placement, attributes, escaping and the
// calls it must refuse without changing the document.
#include <gtest/gtest.h>

#include <string>

#include "morvik/shapes/xmlmarkup.h"

TEST(XmlMarkup, ElementsAndAttributesAreSplicedInPlace) {
    CXmlMarkup xml;
    EXPECT_EQ(xml.GetDoc(), L"");
    ASSERT_TRUE(xml.AddElem(L"A"));
    EXPECT_EQ(xml.GetDoc(), L"<A/>\r\n");
    ASSERT_TRUE(xml.SetAttrib(L"x", 1));
    EXPECT_EQ(xml.GetDoc(), L"<A x=\"1\"/>\r\n");
    // The empty parent opens up around its first child and keeps its own
    // line break after the new end tag.
    ASSERT_TRUE(xml.AddChildElem(L"B"));
    EXPECT_EQ(xml.GetDoc(), L"<A x=\"1\">\r\n<B/>\r\n</A>\r\n");
    ASSERT_TRUE(xml.AddChildElem(L"C"));
    EXPECT_EQ(xml.GetDoc(), L"<A x=\"1\">\r\n<B/>\r\n<C/>\r\n</A>\r\n");
    // An attribute set again keeps its place and takes the new value.
    ASSERT_TRUE(xml.SetAttrib(L"y", L"2"));
    ASSERT_TRUE(xml.SetAttrib(L"x", L"long value"));
    EXPECT_EQ(xml.GetDoc(), L"<A x=\"long value\" y=\"2\">\r\n<B/>\r\n<C/>\r\n</A>\r\n");
    ASSERT_TRUE(xml.SetAttrib(L"x", L""));
    EXPECT_EQ(xml.GetDoc(), L"<A x=\"\" y=\"2\">\r\n<B/>\r\n<C/>\r\n</A>\r\n");
}

TEST(XmlMarkup, OffsetsFollowEverySplice) {
    // Attributes grow tags in front of other elements; every later edit
    // must still land in the right place.
    CXmlMarkup xml;
    ASSERT_TRUE(xml.AddElem(L"R"));
    ASSERT_TRUE(xml.AddChildElem(L"A"));
    ASSERT_TRUE(xml.AddChildElem(L"B"));
    ASSERT_TRUE(xml.IntoElem());  // B is current, R the parent
    ASSERT_TRUE(xml.AddChildElem(L"b1"));
    ASSERT_TRUE(xml.SetChildAttrib(L"k", L"v"));
    ASSERT_TRUE(xml.AddChildElem(L"b2", L"text"));
    ASSERT_TRUE(xml.OutOfElem());  // R current, B its current child
    ASSERT_TRUE(xml.SetChildAttrib(L"z", L"0123456789"));
    ASSERT_TRUE(xml.AddChildElem(L"C"));  // after B
    ASSERT_TRUE(xml.SetAttrib(L"r", 1));
    ASSERT_TRUE(xml.AddElem(L"S"));  // a second top-level element
    ASSERT_TRUE(xml.SetAttrib(L"s", 2));
    EXPECT_FALSE(xml.OutOfElem());
    EXPECT_EQ(xml.GetDoc(),
              L"<R r=\"1\">\r\n<A/>\r\n<B z=\"0123456789\">\r\n<b1 k=\"v\"/>\r\n<b2>text</b2>\r\n</B>\r\n<C/>\r\n"
              L"</R>\r\n<S s=\"2\"/>\r\n");
}

TEST(XmlMarkup, FlagsChangeTheElementText) {
    CXmlMarkup xml;
    ASSERT_TRUE(xml.AddElem(L"A", nullptr, CXmlMarkup::MNF_WITHNOLINES));
    ASSERT_TRUE(xml.AddChildElem(L"B", nullptr, CXmlMarkup::MNF_WITHNOLINES));
    EXPECT_EQ(xml.GetDoc(), L"<A><B/></A>");

    CXmlMarkup spaced;
    ASSERT_TRUE(spaced.AddElem(L"A", nullptr, CXmlMarkup::MNF_WITHXHTMLSPACE));
    ASSERT_TRUE(spaced.SetAttrib(L"x", 1));
    EXPECT_EQ(spaced.GetDoc(), L"<A x=\"1\" />\r\n");

    CXmlMarkup open;
    ASSERT_TRUE(open.AddElem(L"P", nullptr, CXmlMarkup::MNF_WITHNOEND));
    EXPECT_EQ(open.GetDoc(), L"<P>\r\n");
    EXPECT_FALSE(open.AddElem(L"Q", L"value", CXmlMarkup::MNF_WITHNOEND));
    EXPECT_EQ(open.GetDoc(), L"<P>\r\n");

    CXmlMarkup cdata;
    ASSERT_TRUE(cdata.AddElem(L"D", L"a]]>b<", CXmlMarkup::MNF_WITHCDATA));
    EXPECT_EQ(cdata.GetDoc(), L"<D><![CDATA[a]]]]><![CDATA[>b<]]></D>\r\n");
}

TEST(XmlMarkup, Escaping) {
    CXmlMarkup xml;
    ASSERT_TRUE(xml.AddElem(L"A", L"1 < 2 & 'q' \"x\" > 0"));
    ASSERT_TRUE(xml.SetAttrib(L"v", L"a&b<c\"d'e>"));
    EXPECT_EQ(xml.GetDoc(), L"<A v=\"a&amp;b&lt;c&quot;d&apos;e&gt;\">1 &lt; 2 &amp; 'q' \"x\" &gt; 0</A>\r\n");

    // Existing entity references survive only when asked for.
    EXPECT_EQ(CXmlMarkup::EscapeText(L"&amp; &#38; &x1; & b &;", true, CXmlMarkup::MNF_WITHREFS),
              L"&amp; &#38; &x1; &amp; b &amp;;");
    EXPECT_EQ(CXmlMarkup::EscapeText(L"&amp;", true), L"&amp;amp;");
    // Characters XML cannot carry become '?', in text, attributes and CDATA;
    // a tab or line end in an attribute becomes a character reference.
    const std::wstring odd = std::wstring(L"a\x01\tb\n\x1F") + wchar_t(0xFFFE) + wchar_t(0xD800) + L"\u00E9\U0001F600";
    EXPECT_EQ(CXmlMarkup::EscapeText(odd, true), L"a?&#9;b&#10;???\u00E9\U0001F600");
    EXPECT_EQ(CXmlMarkup::EscapeText(odd, false), L"a?\tb\n???\u00E9\U0001F600");
    CXmlMarkup cdata;
    ASSERT_TRUE(cdata.AddElem(L"D", L"x\x02y", CXmlMarkup::MNF_WITHCDATA));
    EXPECT_EQ(cdata.GetDoc(), L"<D><![CDATA[x?y]]></D>\r\n");
}

TEST(XmlMarkup, RefusedCallsChangeNothing) {
    CXmlMarkup xml;
    EXPECT_FALSE(xml.AddChildElem(L"B"));
    EXPECT_FALSE(xml.IntoElem());
    EXPECT_FALSE(xml.OutOfElem());
    EXPECT_FALSE(xml.SetAttrib(L"x", 1));
    EXPECT_FALSE(xml.SetChildAttrib(L"x", 1));
    EXPECT_EQ(xml.GetDoc(), L"");

    ASSERT_TRUE(xml.AddElem(L"A"));
    const std::wstring before = xml.GetDoc();
    for (const wchar_t* bad : {L"", L"a b", L"x\"y", L"<q", L"k=v", L"a/b"}) {
        EXPECT_FALSE(xml.AddElem(bad)) << bad;
        EXPECT_FALSE(xml.AddChildElem(bad)) << bad;
        EXPECT_FALSE(xml.SetAttrib(bad, 1)) << bad;
    }
    EXPECT_FALSE(xml.AddElem(nullptr));
    EXPECT_FALSE(xml.SetAttrib(nullptr, L"v"));
    EXPECT_FALSE(xml.AddElem(std::wstring(2000, L'n').c_str()));  // no room for its end tag
    EXPECT_FALSE(xml.SetChildAttrib(L"x", 1));                     // no current child
    EXPECT_EQ(xml.GetDoc(), before);

    // Into an element without children: no current element afterwards.
    ASSERT_TRUE(xml.IntoElem());
    EXPECT_FALSE(xml.IntoElem());
    EXPECT_FALSE(xml.SetAttrib(L"x", 1));
    ASSERT_TRUE(xml.AddElem(L"K"));  // lands inside A
    EXPECT_EQ(xml.GetDoc(), L"<A>\r\n<K/>\r\n</A>\r\n");

    xml.nDocFlags = CXmlMarkup::MDF_READFILE;
    EXPECT_FALSE(xml.AddElem(L"L"));
    EXPECT_FALSE(xml.SetAttrib(L"x", 1));
    EXPECT_EQ(xml.GetDoc(), L"<A>\r\n<K/>\r\n</A>\r\n");
}

TEST(XmlMarkup, ManyElementsKeepTheirPlaces) {
    // Beyond the first table growths records and offsets stay consistent.
    CXmlMarkup xml;
    ASSERT_TRUE(xml.AddElem(L"L"));
    std::wstring expected = L"<L n=\"100\">\r\n";
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(xml.AddChildElem(L"i"));
        ASSERT_TRUE(xml.SetChildAttrib(L"v", i));
        expected += L"<i v=\"" + std::to_wstring(i) + L"\"/>\r\n";
    }
    ASSERT_TRUE(xml.SetAttrib(L"n", 100));
    expected += L"</L>\r\n";
    EXPECT_EQ(xml.GetDoc(), expected);
}

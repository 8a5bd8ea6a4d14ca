// The XML reader: the update list's shape, declarations, names and
// attributes, escaping, nodes and their order, malformed and hostile text.

#include <gtest/gtest.h>

#include <string>

#include "HostileXml.h"
#include "XMLParserOrvane.h"
#include "XMLSequenceParser.h"

namespace {

std::string Attribute(const CXMLParserOrvane& parser, const CXMLElement* element, const char* name, size_t size = 256)
{
    std::string value(size, '\xAA');
    const int length = parser.GetAttribute(element, name, value.data(), size);
    EXPECT_EQ(value.find('\0'), static_cast<size_t>(length));
    return value.substr(0, static_cast<size_t>(length));
}

TEST(XMLParserOrvaneTest, ReadsTheUpdateListWithNamesInAnyCaseAndAttributesExactly)
{
    CXMLParserOrvane parser;
    EXPECT_EQ(parser.GetRoot(), nullptr);
    parser.Parse(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<update>\r\n"
        "<file>\r\n"
        "\t<QLSDownloadV32.exe ver=\"3.2.0.17\" url=\"http://h/e.7z?a=1&amp;b=2\" hash=\"http://h/e.md4\"/>\r\n"
        "</file>\r\n"
        "<all><all url=\"http://h/all.zip\" hash=\"\" /></all>\r\n"
        "</update>\r\n");
    const CXMLDocument* document = parser.GetDocument();
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->errorFlag, CXMLDocument::kNoError);
    EXPECT_EQ(document->declaration.text, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");

    CXMLElement* root = parser.GetRoot();
    EXPECT_EQ(root->GetName(), "update");
    CXMLElement* file = parser.FindChild(root, "FILE");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(parser.GetChildCount(file), 1);
    CXMLElement* engine = parser.FindChild(file, "qlsdownloadv32.EXE");
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(Attribute(parser, engine, "ver"), "3.2.0.17");
    EXPECT_EQ(Attribute(parser, engine, "url"), "http://h/e.7z?a=1&b=2");
    EXPECT_EQ(Attribute(parser, engine, "VER"), "");
    EXPECT_EQ(Attribute(parser, engine, "ver", 4), "3.2");

    CXMLElement* all = parser.FindChild(parser.FindChild(root, "all"), "ALL");
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(Attribute(parser, all, "url"), "http://h/all.zip");
    EXPECT_EQ(Attribute(parser, all, "hash"), "");

    EXPECT_EQ(parser.FindChild(root, "missing"), nullptr);
    EXPECT_EQ(parser.FindChild(nullptr, "file"), nullptr);
    EXPECT_EQ(parser.FindChild(root, nullptr), nullptr);
    EXPECT_EQ(parser.GetChildCount(nullptr), 0);
    char buffer[8];
    EXPECT_EQ(parser.GetAttribute(nullptr, "url", buffer, sizeof buffer), 0);
}

TEST(XMLParserOrvaneTest, StoresTheDefaultDeclarationWhenTheInputHasNone)
{
    const std::string fallback = CXMLParserOrvane::kDefaultDeclaration;
    CXMLParserOrvane parser;

    parser.Parse("");
    EXPECT_EQ(parser.GetDocument()->declaration.text, fallback);
    EXPECT_EQ(parser.GetDocument()->errorFlag, CXMLDocument::kNoError);
    EXPECT_EQ(parser.GetRoot()->GetName(), "root");

    parser.Parse("<list><item/></list>");
    EXPECT_EQ(parser.GetDocument()->declaration.text, "\xEF\xBB\xBF" + fallback);
    EXPECT_EQ(parser.GetDocument()->errorFlag, CXMLDocument::kNoDeclarationOrElement);
    EXPECT_NE(parser.FindChild(parser.GetRoot(), "item"), nullptr);

    for (const char* text : {"no markup at all", "<?xml version=\"1.0\"?> and only text"}) {
        parser.Parse(text);
        EXPECT_EQ(parser.GetDocument()->errorFlag, CXMLDocument::kNoDeclarationOrElement) << text;
        EXPECT_EQ(parser.GetRoot()->GetName(), "root") << text;
        EXPECT_EQ(parser.GetChildCount(parser.GetRoot()), 0) << text;
    }
}

TEST(XMLParserOrvaneTest, SeparatesNamesAndAttributesOnlyBySpacesAndTabs)
{
    CXMLParserOrvane parser;
    const std::string longName(CXMLParserOrvane::kMaxNameLength, 'n');
    parser.Parse(("<?xml?><r><file\nurl=\"a\"/><item\turl=\"b\"/><q v='x' w=\"y\"/><a&b/><x&#65;/>"
                  "<" +
                  longName + "/><" + longName + "m/></r>")
                     .c_str());
    CXMLElement* root = parser.GetRoot();
    // A line feed after the name belongs to the name.
    EXPECT_EQ(parser.FindChild(root, "file"), nullptr);
    EXPECT_EQ(root->GetChild(0)->GetName(), "file\nurl=");
    EXPECT_EQ(Attribute(parser, parser.FindChild(root, "item"), "url"), "b");
    // Single quotes are ordinary characters: the value runs to the next double quote.
    EXPECT_EQ(Attribute(parser, parser.FindChild(root, "q"), "v"), "'x' w=");
    // Names are stored escaped and read unescaped; "&#" is never escaped.
    EXPECT_EQ(parser.FindChild(root, "A&B")->GetStoredName(), "a&amp;b");
    EXPECT_EQ(parser.FindChild(root, "xa")->GetStoredName(), "x&#65;");
    EXPECT_NE(parser.FindChild(root, longName.c_str()), nullptr);
    EXPECT_EQ(parser.FindChild(root, (longName + "m").c_str()), nullptr);
}

TEST(XMLParserOrvaneTest, UnescapesEntitiesAndCharacterReferences)
{
    CXMLParserOrvane parser;
    parser.Parse("<?xml?><r><e v=\"&amp;&lt;&gt;&apos;&quot;|&#65;&#x4E2D;&#X1F600;|&#0;&#xD800;&#1114112;"
                 "&#99999999999;|&AMP;&bogus;&#;&#x;&#12&\" &amp;n=\"1\"/></r>");
    CXMLElement* e = parser.FindChild(parser.GetRoot(), "e");
    EXPECT_EQ(Attribute(parser, e, "v"), "&<>'\"|A\xE4\xB8\xAD\xF0\x9F\x98\x80||&AMP;&bogus;&#;&#x;&#12&");
    // Attribute names are unescaped before they are compared.
    EXPECT_EQ(Attribute(parser, e, "&n"), "1");
}

TEST(XMLParserOrvaneTest, KeepsTextCommentsAndCDataInOrder)
{
    CXMLParserOrvane parser;
    parser.Parse("<?xml version=\"1.0\"?><!--head--><r>\r\n t0 <!-- c1 --><a/> t1 <![CDATA[<raw>]]>"
                 "<?pi data?><!-- a > b --><b>x</b>  </r><!--tail-->");
    const CXMLDocument* document = parser.GetDocument();
    ASSERT_EQ(document->declaration.nodes.size(), 2u);
    EXPECT_EQ(document->declaration.nodes[0]->text, "head");
    EXPECT_EQ(document->declaration.nodes[0]->position, 0u);
    EXPECT_EQ(document->declaration.nodes[1]->text, "tail");
    EXPECT_EQ(document->declaration.nodes[1]->position, 1u);

    CXMLElement* root = parser.GetRoot();
    ASSERT_EQ(root->GetChildCount(), 2u);
    EXPECT_EQ(root->GetChild(1)->GetName(), "b");
    ASSERT_EQ(root->GetTexts().size(), 3u);
    EXPECT_EQ(root->GetTexts()[0]->text, "t0");
    EXPECT_EQ(root->GetTexts()[0]->position, 0u);
    EXPECT_EQ(root->GetTexts()[1]->text, "t1");
    EXPECT_EQ(root->GetTexts()[1]->position, 1u);
    // A ">" inside a comment ends it; the rest is text.
    EXPECT_EQ(root->GetTexts()[2]->text, "b -->");
    ASSERT_EQ(root->GetCDatas().size(), 1u);
    EXPECT_EQ(root->GetCDatas()[0]->text, "<raw>");
    EXPECT_EQ(root->GetCDatas()[0]->position, 1u);
    // Comment content: after the first four characters, up to two before the ">".
    ASSERT_EQ(root->GetComments().size(), 3u);
    EXPECT_EQ(root->GetComments()[0]->text, " c1 ");
    EXPECT_EQ(root->GetComments()[1]->text, " dat");
    EXPECT_EQ(root->GetComments()[2]->text, " ");
    EXPECT_EQ(root->GetChild(1)->GetTexts()[0]->text, "x");
}

TEST(XMLParserOrvaneTest, MatchesEndTagsByDepthOnly)
{
    CXMLParserOrvane parser;
    // An end tag with another name still closes the element.
    parser.Parse("<?xml?><r><a>1</b><c/></r>");
    EXPECT_EQ(parser.GetChildCount(parser.GetRoot()), 2);
    EXPECT_EQ(parser.FindChild(parser.GetRoot(), "a")->GetTexts()[0]->text, "1");

    // A start tag without an end tag ends the sequence; what was built stays.
    parser.Parse("<?xml?><r><c/></r><tail><x/>");
    EXPECT_EQ(parser.GetDocument()->errorFlag, CXMLDocument::kNoMatchingEndTag);
    EXPECT_EQ(parser.GetRoot()->GetName(), "r");
    EXPECT_NE(parser.FindChild(parser.GetRoot(), "c"), nullptr);

    // A "/" outside quotes makes a start tag count as an empty element: the
    // unquoted address's element is left without its content.
    parser.Parse("<?xml?><r><link href=http://x/y>text</link><z/></r>");
    EXPECT_EQ(parser.GetRoot()->GetName(), "r");
    EXPECT_EQ(parser.FindChild(parser.GetRoot(), "link"), nullptr);
    EXPECT_EQ(parser.GetRoot()->GetTexts()[0]->text, "text");
}

TEST(XMLParserOrvaneTest, HostileDocumentsStayBounded)
{
    CXMLParserOrvane parser;
    parser.Parse(testsupport::DeeplyNestedXml(100000, true).c_str());
    EXPECT_EQ(parser.GetDocument()->errorFlag, CXMLDocument::kTooDeep);
    int depth = 0;
    for (const CXMLElement* e = parser.GetRoot(); e != nullptr; e = parser.FindChild(e, "a"))
        ++depth;
    EXPECT_EQ(depth, CXMLSequenceParser::kMaxDepth + 1);

    parser.Parse(testsupport::DeeplyNestedXml(100000, false).c_str());
    EXPECT_EQ(parser.GetDocument()->errorFlag, CXMLDocument::kNoMatchingEndTag);
    EXPECT_EQ(parser.GetRoot()->GetName(), "root");

    for (const std::string& text : testsupport::LongSearchXmlDocuments(CXMLSequenceParser::kMaxDepth)) {
        parser.Parse(text.c_str());
        EXPECT_NE(parser.GetRoot(), nullptr);
    }
}

} // namespace

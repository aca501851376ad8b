// Loading, the fixed serialised layout and saving of XML documents.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "packing/serialize.h"
#include "packing/xml_document.h"
#include "support/test_files.h"

namespace vemtu::packing {
namespace {

// The serialisation of `xml` after LoadXml, or "<load failed>".
std::string Layout(std::string_view xml, bool auto_trim = true) {
  XmlDocument document;
  if (!document.LoadXml(xml, auto_trim)) return "<load failed>";
  StringBuffer out;
  document.Serialize(out);
  return std::string(out.view());
}

struct LayoutCase {
  const char* what;
  std::string xml;
  std::string expected;
};

TEST(XmlLayout, ExactBytes) {
  const LayoutCase cases[] = {
      {"declaration attributes in order, standalone last",
       "<?xml version=\"1.0\" standalone=\"yes\" encoding=\"utf-8\"?><r/>",
       "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\" ?>\r\n\r\n<r />\r\n"},
      {"text, child, text: joined with one space, before the child",
       "<a>\n  x\n  <b/>\n  y\n</a>", "\r\n<a>x y\r\n    <b />\r\n</a>\r\n"},
      {"predefined references decoded and written back; others kept or escaped",
       "<a>&lt;b&gt; &#65; &nbsp; &foo; &amp;amp; &quot;&apos;</a>",
       "\r\n<a>&lt;b&gt; &#65; &nbsp; &amp;foo; &amp; &quot;&apos;</a>\r\n"},
      {"attribute names sanitised, A in front of a digit; a bare name has an empty value",
       "<my tag 1st='v' -x=\"&lt;&amp;#1\" b\"ad<=\"q\"/>",
       "\r\n<my tag=\"\" A1st=\"v\" A-x=\"&lt;&#1\" bad=\"q\" />\r\n"},
      {"empty CDATA section gives the empty form", "<a><![CDATA[]]></a>", "\r\n<a />\r\n"},
      {"CDATA content holding ]]> is split around it and keeps every byte",
       "<a><![CDATA[x<![CDATA[]]]]><![CDATA[>y]]]]]><![CDATA[>]]></a>",
       "\r\n<a><![CDATA[x<![CDATA[]]]]><![CDATA[>y]]]]]><![CDATA[>]]></a>\r\n"},
      {"CDATA joined to text without a space, children after",
       "<a>t<![CDATA[ c ]]>junk<b>u</b></a>",
       "\r\n<a><![CDATA[t c ]]>\r\n    <b>u</b>\r\n</a>\r\n"},
      {"two top-level elements: the second is the root and the declaration is lost",
       "<?xml version=\"1.0\"?><first/><second/>", "\r\n<second />\r\n"},
      {"tags sanitised, the empty tag written as nothing",
       "<a$b><>x</></a$b>", "\r\n<ab>\r\n    <nothing>x</nothing>\r\n</ab>\r\n"},
      {"stylesheets and prolog text before the root",
       "<?xml-stylesheet href=\"s.xsl\" type=\"text/xsl\"?><!DOCTYPE r [<!ENTITY e \"v\">]>"
       "<?pi data?><!-- c --><r/>",
       "<?xml-stylesheet href=\"s.xsl\" type=\"text/xsl\" ?>\r\n"
       "<!DOCTYPE r [<!ENTITY e \"v\">]>\n<?pi data?>\n\r\n\r\n<r />\r\n"},
      {"end tags are not compared; a missing > still closes",
       "<a><b>1</c><d>2</d</a>", "\r\n<a>\r\n    <b>1</b>\r\n    <d>2</d>\r\n</a>\r\n"},
      {"unclosed elements are closed at the end", "<a><b>text",
       "\r\n<a>\r\n    <b>text</b>\r\n</a>\r\n"},
      {"unclosed comment ends the parse", "<a><b/><!-- no end <c/></a>",
       "\r\n<a>\r\n    <b />\r\n</a>\r\n"},
      {"a NUL byte ends the text", std::string("<a>x</a>\0<b/>", 13), "\r\n<a>x</a>\r\n"},
      {"text with a CR LF end keeps the end tag indented", "<a><![CDATA[x\n]]></a>",
       "\r\n<a><![CDATA[x\n]]></a>\r\n"},
      {"text only", "no element here", "<load failed>"},
  };
  for (const LayoutCase& c : cases) EXPECT_EQ(Layout(c.xml), c.expected) << c.what;
}

TEST(XmlLayout, InstructionsAndAttributeQuirks) {
  const LayoutCase cases[] = {
      {"single-quoted pseudo-attributes, any case of xml",
       "<?XML version='1.0' encoding='x'?><r/>",
       "<?xml version=\"1.0\" encoding=\"x\" ?>\r\n\r\n<r />\r\n"},
      {"a pseudo-attribute without value, references in values",
       "<?xml standalone version=\"&lt;1&gt;\"?><r/>",
       "<?xml version=\"&lt;1&gt;\" standalone=\"\" ?>\r\n\r\n<r />\r\n"},
      {"the later declaration wins", "<?xml version=\"1\"?><?xml version=\"2\"?><r/>",
       "<?xml version=\"2\" ?>\r\n\r\n<r />\r\n"},
      {"a tab after xml makes a plain instruction",
       "<?xml\tversion=\"1.0\"?><r/>", "<?xml\tversion=\"1.0\"?>\n\r\n\r\n<r />\r\n"},
      {"a stylesheet without attributes is not written", "<?xml-stylesheet?><r/>",
       "\r\n<r />\r\n"},
      {"nested brackets in a DOCTYPE of any case", "<!doctype r [<!ELEMENT r ANY>]><r/>",
       "<!doctype r [<!ELEMENT r ANY>]>\n\r\n\r\n<r />\r\n"},
      {"an instruction without its end takes the rest of the text", "<?pi <r/>",
       "<load failed>"},
      {"an unquoted value runs to the next quote", "<a b=c d=\"e\">t</a>",
       "\r\n<a b=\"c d=\" e=\"\">t</a>\r\n"},
      {"attribute references decoded once and escaped again", "<a v=\"&amp;lt;&#9;\"/>",
       "\r\n<a v=\"&amp;lt;&#9;\" />\r\n"},
      {"what follows the root is ignored", "<a>x</a>junk<?pi?>", "\r\n<a>x</a>\r\n"},
      {"a decoded reference is not decoded again when more text joins",
       "<a>&amp;amp;lt;<b/>x</a>", "\r\n<a>&amp;lt; x\r\n    <b />\r\n</a>\r\n"},
      {"CDATA text is never decoded, also when more text joins",
       "<a><![CDATA[&lt;]]><b/>x</a>", "\r\n<a><![CDATA[&lt; x]]>\r\n    <b />\r\n</a>\r\n"},
  };
  for (const LayoutCase& c : cases) EXPECT_EQ(Layout(c.xml), c.expected) << c.what;
}

TEST(XmlLayout, LeadingWhiteSpaceKeptWithoutTrim) {
  EXPECT_EQ(Layout("<a> x <b/> y </a>", false), "\r\n<a> x   y \r\n    <b />\r\n</a>\r\n");
}

TEST(XmlLayout, IndentationStopsAtFiftyLevels) {
  std::string xml;
  for (int i = 0; i < 60; ++i) xml += "<e>";
  xml += "deep";
  std::string out = Layout(xml);
  std::string indent200(200, ' ');
  EXPECT_NE(out.find("\r\n" + indent200 + "<e>deep</e>\r\n"), std::string::npos);
  EXPECT_EQ(out.find(std::string(201, ' ')), std::string::npos);
  // The levels below 50 are indented by four spaces each.
  EXPECT_NE(out.find("\r\n" + std::string(196, ' ') + "<e>\r\n"), std::string::npos);
}

TEST(XmlLayout, HundredThousandLevelsWithoutRecursion) {
  constexpr int kDepth = 100000;
  std::string xml;
  xml.reserve(kDepth * 8);
  for (int i = 0; i < kDepth; ++i) xml += "<n>";
  xml += "x";
  for (int i = 0; i < kDepth; ++i) xml += "</n>";
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml(xml, true));
  StringBuffer out;
  document.Serialize(out);
  EXPECT_NE(out.view().find("<n>x</n>"), std::string_view::npos);
  EXPECT_EQ(out.view().substr(out.size() - 6), "</n>\r\n");
  ASSERT_TRUE(document.ZipTree());
  EXPECT_EQ(document.root()->first_child, nullptr);
}

TEST(XmlParse, FailureTextsAreRecorded) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml("<a><b>1</b <c/><!DOCTYPE x [ <!-- ", true));
  EXPECT_TRUE(document.log().Contains("Error in closing tag"));
  EXPECT_TRUE(document.log().Contains("error_tag: b"));
  EXPECT_TRUE(document.log().Contains("Failed to parse DTD"));
  XmlDocument comment;
  ASSERT_TRUE(comment.LoadXml("<a><!-- open", true));
  EXPECT_TRUE(comment.log().Contains("Unclosed comment"));
}

TEST(XmlParse, FailedLoadKeepsThePreviousTree) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml("<kept a='1'/>", true));
  EXPECT_FALSE(document.LoadXml("   plain text   ", true));
  EXPECT_FALSE(document.LoadXml("", true));
  EXPECT_FALSE(document.LoadXmlFile("/no/such/file.xml", true));
  EXPECT_EQ(document.root()->tag(), "kept");
}

TEST(XmlParse, JunkNeverCrashes) {
  const std::string junk[] = {
      "<",          "<<<<",          "<a",          "<a b",         "<a b=",
      "<a b='",     "<a b=x",        "</a>",        "<?xml ",       "<?xml version='1",
      "<!",         "<!DOCTYPE",     "<![CDATA[",   "<a><![CDATA[", "<a></",
      "<?pi",       "<a/></a></a>",  "<a b=c d='e' f=\"g' h>",      std::string(3, '\0'),
      "\xFF\xFE<\0a\0>\0", "<a>&amp;amp;&&;&#;&lt</a>", "<a =x/ / >", "<?xml ?><?xml ?><x/>",
  };
  for (const std::string& text : junk) {
    XmlDocument document;
    if (document.LoadXml(text, true)) {
      StringBuffer out;
      document.Serialize(out);
      EXPECT_FALSE(out.empty()) << text;
    }
  }
}

TEST(XmlFile, LoadWithoutDeclarationSavesUtf8Declaration) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "in.xml", "<root><v>1</v></root>");
  XmlDocument document;
  ASSERT_TRUE(document.LoadXmlFile("  " + (dir / "in.xml") + "\r\n", true));
  ASSERT_TRUE(document.SaveXml((dir / "out.xml").c_str()));
  EXPECT_EQ(test::ReadFileBytes(dir / "out.xml"),
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<root>\r\n    <v>1</v>\r\n</root>\r\n");
}

TEST(XmlFile, Utf16WithMarkIsDecodedAndSavedAsUtf8) {
  test::TempDir dir;
  std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>\xC3\xA9</r>";
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>\xE9</r>")) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  test::WriteFileBytes(dir / "le.xml", utf16);
  XmlDocument document;
  ASSERT_TRUE(document.LoadXmlFile(dir / "le.xml", true));
  ASSERT_TRUE(document.SaveXml((dir / "out.xml").c_str()));
  EXPECT_EQ(test::ReadFileBytes(dir / "out.xml"),
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<r>\xC3\xA9</r>\r\n");

  // Without the mark the first NUL byte ends the text: no element, no load.
  test::WriteFileBytes(dir / "nomark.xml", utf16.substr(2));
  XmlDocument unmarked;
  EXPECT_FALSE(unmarked.LoadXmlFile(dir / "nomark.xml", true));
}

TEST(XmlFile, DeclaredCharsetIsConvertedOnLoadAndSave) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "latin.xml",
                       "<?xml version='1.0' encoding='ISO-8859-1'?><r a='\xE9'>caf\xE9</r>");
  XmlDocument document;
  ASSERT_TRUE(document.LoadXmlFile(dir / "latin.xml", true));
  EXPECT_EQ(document.root()->content(), "caf\xC3\xA9");
  ASSERT_TRUE(document.SaveXml((dir / "out.xml").c_str()));
  EXPECT_EQ(test::ReadFileBytes(dir / "out.xml"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\r\n\r\n<r a=\"\xE9\">caf\xE9</r>\r\n");

  // A charset the converter does not know leaves the bytes as they are.
  test::WriteFileBytes(dir / "odd.xml", "<?xml encoding=\"x-unknown\"?><r>\xE9</r>");
  XmlDocument odd;
  ASSERT_TRUE(odd.LoadXmlFile(dir / "odd.xml", true));
  EXPECT_EQ(odd.root()->content(), "\xE9");

}

// Every name of a 16- or 32-bit form, read from 8-bit text or after a byte-order mark,
// becomes "utf-8", so nothing is ever saved or packed wide without a mark.
TEST(XmlFile, WideDeclarationsBecomeUtf8) {
  test::TempDir dir;
  for (const char* name : {"utf-16", "UCS-2", "unicode", "utf-16le", "UTF-16BE", "unicodefffe",
                           "utf-32", "utf-32be", "utf16"}) {
    std::string text = std::string("<?xml version=\"1.0\" encoding=\"") + name + "\"?><r>ok</r>";
    std::string expected = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<r>ok</r>\r\n";
    test::WriteFileBytes(dir / "narrow.xml", text);
    std::string marked = "\xFF\xFE";
    for (char c : text) marked += std::string{c, '\0'};
    test::WriteFileBytes(dir / "marked.xml", marked);
    for (const char* file : {"narrow.xml", "marked.xml"}) {
      XmlDocument document;
      ASSERT_TRUE(document.LoadXmlFile(dir / file, true)) << name << " " << file;
      std::string encoding;
      ASSERT_TRUE(document.GetEncoding(&encoding));
      EXPECT_EQ(encoding, "utf-8") << name << " " << file;
      ASSERT_TRUE(document.SaveXml((dir / "out.xml").c_str()));
      EXPECT_EQ(test::ReadFileBytes(dir / "out.xml"), expected) << name << " " << file;
    }
    // A text given in memory keeps its declaration until it is saved, which writes UTF-8.
    XmlDocument in_memory;
    ASSERT_TRUE(in_memory.LoadXml(text, true));
    ASSERT_TRUE(in_memory.SaveXml((dir / "memory.xml").c_str()));
    EXPECT_EQ(test::ReadFileBytes(dir / "memory.xml"), expected) << name;
  }
}

// A file's pages are handed back as the parse passes them: a file of many megabytes,
// with constructs that run across those steps, gives the tree its text gives from memory.
TEST(XmlFile, LargeFileParsesAsItsText) {
  std::string text = "<?xml version=\"1.0\"?><!DOCTYPE r><r>";
  for (int i = 0; text.size() < (13u << 20); ++i) {
    text += "<e n=\"" + std::to_string(i) + "\" v='a&amp;b'>text " + std::to_string(i) + "<!-- c -->";
    if (i % 5000 == 0) text += "<![CDATA[" + std::string(700000, 'c') + "]]>";
    if (i % 7000 == 0) text += std::string(300000, ' ') + "spaced";
    text += "</e>\n";
  }
  text += "</r>";
  test::TempDir dir;
  test::WriteFileBytes(dir / "large.xml", text);
  XmlDocument from_file, from_text;
  ASSERT_TRUE(from_file.LoadXmlFile(dir / "large.xml", true));
  ASSERT_TRUE(from_text.LoadXml(text, true));
  StringBuffer a, b;
  from_file.Serialize(a);
  from_text.Serialize(b);
  EXPECT_TRUE(a.view() == b.view());
  EXPECT_GT(a.size(), text.size() / 2);

  // Saved in pieces as it is serialised: the file holds the whole serialisation.
  ASSERT_TRUE(from_file.SaveXml((dir / "saved.xml").c_str()));
  StringBuffer saved;
  from_file.Serialize(saved);
  EXPECT_TRUE(test::ReadFileBytes(dir / "saved.xml") == saved.view());
}

// Collects what a serialisation hands on, keeping the last byte as the layout needs.
class CollectingDrain : public SerialDrain {
 public:
  std::size_t Threshold() const override { return 1000; }
  void Drain(StringBuffer& out) override {
    collected.append(out.view().substr(0, out.size() - 1));
    out.Erase(out.size() - 1);
  }
  std::string collected;
};

// Long contents are written in slices; a reference across the edge of a slice is still
// judged on the whole text.
TEST(XmlLayout, ContentInSlicesAsWhole) {
  // References that start a few bytes before each 64 KB edge, among plain text.
  std::string content;
  const char* const references[] = {"&nbsp;", "&amp;", "&yuml;", "&#9;", "&e;"};
  for (std::size_t edge = 1; edge <= 5; ++edge) {
    const std::string reference = references[edge - 1];
    content.resize(edge * 65536 - reference.size() + 2, 'x');
    content += reference + "'<>\"";
  }
  for (bool cdata : {false, true}) {
    XmlDocument document;
    ASSERT_TRUE(document.LoadXml("<r><x/></r>", true));
    document.root()->SetContent(content);
    document.root()->cdata = cdata;
    StringBuffer whole;
    whole.Append(cdata ? "\r\n<r><![CDATA[" : "\r\n<r>");
    if (cdata) {
      whole.Append(content);
    } else {
      AppendEscapedText(content, whole);
    }
    whole.Append(cdata ? "]]>\r\n    <x />\r\n</r>\r\n" : "\r\n    <x />\r\n</r>\r\n");
    CollectingDrain drain;
    StringBuffer rest;
    SerializeNode(*document.root(), rest, 0, 0, false, &drain);
    EXPECT_TRUE(drain.collected + std::string(rest.view()) == whole.view()) << cdata;
  }
}

TEST(XmlFile, ShortTextEndingInXmlIsAPath) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "doc.XML", "<fromfile/>");
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml(" " + (dir / "doc.XML") + " ", true));
  EXPECT_EQ(document.root()->tag(), "fromfile");
}

TEST(XmlFile, SaveConvertsToTheDeclaredCharsetOrKeepsUtf8) {
  test::TempDir dir;
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml("<?xml version=\"1.0\" encoding=\"shift_jis\"?>"
                               "<r>\xE6\x97\xA5</r>", true));
  ASSERT_TRUE(document.SaveXml((dir / "sjis.xml").c_str()));
  EXPECT_EQ(test::ReadFileBytes(dir / "sjis.xml"),
            "<?xml version=\"1.0\" encoding=\"shift_jis\" ?>\r\n\r\n<r>\x93\xFA</r>\r\n");

  XmlDocument unknown;
  ASSERT_TRUE(unknown.LoadXml("<?xml encoding=\"x-none\"?><r>\xE6\x97\xA5</r>", true));
  ASSERT_TRUE(unknown.SaveXml((dir / "unknown.xml").c_str()));
  EXPECT_EQ(test::ReadFileBytes(dir / "unknown.xml"),
            "<?xml encoding=\"x-none\" ?>\r\n\r\n<r>\xE6\x97\xA5</r>\r\n");
}

TEST(XmlFile, SaveFailures) {
  test::TempDir dir;
  struct Case {
    const char* path;
    const char* text;
  } cases[] = {
      {nullptr, "NULL filename"},
      {" \t", "zero-length filename"},
  };
  for (const Case& c : cases) {
    XmlDocument document;
    EXPECT_FALSE(document.SaveXml(c.path));
    EXPECT_TRUE(document.log().Contains(c.text)) << c.text;
  }
  // An existing read-only file loses that attribute and is written after all.
  std::string read_only = dir / "read_only.xml";
  test::WriteFileBytes(read_only, "old");
  namespace fs = std::filesystem;
  fs::permissions(read_only, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  XmlDocument saved;
  EXPECT_TRUE(saved.SaveXml(read_only.c_str()));
  EXPECT_EQ(test::ReadFileBytes(read_only),
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<unnamed />\r\n");

  XmlDocument document;
  std::string missing_folder = dir / "no/such/folder/out.xml";
  EXPECT_FALSE(document.SaveXml(missing_folder.c_str()));
  EXPECT_TRUE(document.log().Contains("Failed to write complete file (7)"));
  EXPECT_FALSE(test::FileExists(missing_folder));
}

}  // namespace
}  // namespace vemtu::packing

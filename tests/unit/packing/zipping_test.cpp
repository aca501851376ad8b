// Tree zipping and the packing entry points: every packed output is decoded and inflated
// again and compared with the serialisation it must hold.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>

#include "packing/content_coding.h"
#include "packing/deflate_pipeline.h"
#include "packing/raw_deflate.h"
#include "packing/tree_zipping.h"
#include "packing/xml_document.h"
#include "support/test_files.h"

namespace vemtu::packing {
namespace {

struct Packed {
  std::string head;     // everything before the payload
  std::string payload;  // the base64 text
  std::string tail;     // everything after it
  std::string inner;    // the payload decoded and inflated
};

// Splits a packed document and unpacks its payload, checking the line rule on the way.
Packed Unpack(const std::string& document) {
  Packed p;
  std::size_t open = document.find("<![CDATA[");
  std::size_t close = document.rfind("]]>");
  EXPECT_NE(open, std::string::npos);
  EXPECT_NE(close, std::string::npos);
  if (open == std::string::npos || close == std::string::npos) return p;
  p.head = document.substr(0, open + 9);
  p.payload = document.substr(open + 9, close - open - 9);
  p.tail = document.substr(close);
  std::size_t line_start = 0;
  for (std::size_t at; (at = p.payload.find("\r\n", line_start)) != std::string::npos; line_start = at + 2) {
    EXPECT_LE(at - line_start, 72u);
  }
  EXPECT_EQ(line_start, p.payload.size()) << "payload must end in CR LF";
  std::string compressed;
  EXPECT_TRUE(ContentCoding::DecodeBase64(p.payload, compressed));
  EXPECT_TRUE(InflateRaw(compressed, p.inner));
  return p;
}

// The agreed stream, made here with zlib directly: raw deflate (window bits -15), level 6,
// memory level 8, default strategy, fed in reads of 60000 bytes, the last one finishing.
std::string AgreedDeflate(const std::string& text) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out;
  char block[25000];
  std::size_t at = 0;
  int status = Z_OK;
  do {
    std::size_t take = std::min<std::size_t>(60000, text.size() - at);
    bool last = at + take == text.size();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data() + at));
    z.avail_in = static_cast<uInt>(take);
    at += take;
    do {
      z.next_out = reinterpret_cast<Bytef*>(block);
      z.avail_out = sizeof block;
      status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      out.append(block, sizeof block - z.avail_out);
    } while (z.avail_out == 0 || (last && status != Z_STREAM_END));
  } while (at < text.size());
  EXPECT_EQ(status, Z_STREAM_END);
  deflateEnd(&z);
  return out;
}

std::string SerializedText(std::string_view xml) {
  XmlDocument document;
  EXPECT_TRUE(document.LoadXml(xml, true));
  StringBuffer out;
  document.Serialize(out);
  return std::string(out.view());
}

TEST(ContentCoding, LinesAndPadding) {
  ContentCoding coding;
  struct Case {
    std::size_t bytes;
    std::string ending;
  } cases[] = {
      {54, "AAAA\r\n\r\n"},  // a full line, then the end
      {55, "AAAA\r\nAA==\r\n"},  // the padded group starts a new line and is not counted
      {56, "AAAA\r\nAAA=\r\n"},
      {3, "AAAA\r\n"},
  };
  for (const Case& c : cases) {
    StringBuffer out;
    coding.EncodeBase64(std::string(c.bytes, '\0'), out);
    std::string text(out.view());
    EXPECT_EQ(text.substr(text.size() - c.ending.size()), c.ending) << c.bytes;
    std::string back;
    EXPECT_TRUE(ContentCoding::DecodeBase64(text, back));
    EXPECT_EQ(back, std::string(c.bytes, '\0'));
  }
  StringBuffer empty;
  coding.EncodeBase64("", empty);
  EXPECT_TRUE(empty.empty());
  StringBuffer sample;
  coding.EncodeBase64("\xFB\xFF\xBF", sample);
  EXPECT_EQ(sample.view(), "+/+/\r\n");
  std::string ignored;
  for (const char* bad : {"AB=C", "A===", "ABC", "AB*D", "AA==AAAA"}) {
    EXPECT_FALSE(ContentCoding::DecodeBase64(bad, ignored)) << bad;
  }
}

// Bytes given in pieces of any size give the text that the whole gives at once.
TEST(ContentCoding, PiecesEncodeAsTheWhole) {
  std::string bytes;
  for (int i = 0; i < 260; ++i) bytes.push_back(static_cast<char>(i * 37 + 11));
  for (std::size_t size : {0u, 1u, 2u, 53u, 54u, 55u, 56u, 108u, 259u}) {
    StringBuffer whole;
    ContentCoding().EncodeBase64(std::string_view(bytes).substr(0, size), whole);
    for (std::size_t piece : {1u, 2u, 4u, 54u, 100u}) {
      StringBuffer pieces;
      Base64Writer writer(pieces, ContentCoding::kPackedLineLength);
      for (std::size_t at = 0; at < size; at += piece) {
        writer.Add(std::string_view(bytes).substr(at, std::min(piece, size - at)));
      }
      writer.End();
      EXPECT_EQ(pieces.view(), whole.view()) << size << " in pieces of " << piece;
    }
  }
}

// The compression thread gives the payload that compressing the whole text on this
// thread and encoding it gives, for texts around the size of one read.
TEST(DeflatePipeline, SameBytesAsOneThread) {
  std::string text;
  for (std::size_t i = 0; text.size() < 3 * kDeflateReadSize + 7; ++i) {
    text += "<e n=\"" + std::to_string(i * 7919 % 10007) + "\">line</e>\r\n";
  }
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, kDeflateReadSize - 1, kDeflateReadSize,
                           kDeflateReadSize + 1, text.size()}) {
    std::string_view input = std::string_view(text).substr(0, size);
    DataBuffer compressed;
    ASSERT_TRUE(DeflateRaw(input, compressed));
    StringBuffer expected;
    ContentCoding().EncodeBase64(compressed.view(), expected);

    for (bool own_thread : {true, false}) {
      StringBuffer payload;
      std::string_view rest = input;
      {
        DeflatePipeline pipeline(payload, own_thread);
        while (rest.size() > kDeflateReadSize) {
          ASSERT_TRUE(pipeline.Feed(rest.substr(0, kDeflateReadSize)));
          rest.remove_prefix(kDeflateReadSize);
        }
        ASSERT_TRUE(pipeline.Finish(rest));
      }
      EXPECT_EQ(payload.view(), expected.view()) << size << (own_thread ? " on a worker" : " inline");
    }
  }
}

// An owner that gives up half way (an exception while serialising) ends the worker.
TEST(DeflatePipeline, AbandonedHalfWayEnds) {
  StringBuffer payload;
  {
    DeflatePipeline pipeline(payload);
    const std::string read(kDeflateReadSize, 'x');
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(pipeline.Feed(read));
  }
  SUCCEED();
}

TEST(ZipTree, StatusEnvelopeInnerText) {
  const std::string envelope =
      "<p><regid>R-17</regid><data><![CDATA[<Status a=\"1\">ok</Status>]]></data></p>";
  test::TempDir dir;
  ASSERT_EQ(PackXmlString(envelope, dir / "p.zip"), 1);
  Packed p = Unpack(test::ReadFileBytes(dir / "p.zip"));
  EXPECT_EQ(p.inner,
            "\r\n<p>\r\n    <regid>R-17</regid>\r\n"
            "    <data><![CDATA[<Status a=\"1\">ok</Status>]]></data>\r\n</p>\r\n");
  EXPECT_EQ(p.head, "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<p><![CDATA[");
  EXPECT_EQ(p.tail, "]]></p>\r\n");
}

TEST(ZipTree, RootKeepsTagAttributesAndProlog) {
  const std::string xml =
      "<?xml version=\"1.0\" standalone=\"no\"?><?xml-stylesheet href=\"a.xsl\"?>"
      "<!DOCTYPE r><r z=\"1\" a=\"&lt;2\"><c>text</c><c/></r>";
  test::TempDir dir;
  ASSERT_EQ(PackXmlString(xml, dir / "r.zip"), 1);
  Packed p = Unpack(test::ReadFileBytes(dir / "r.zip"));
  EXPECT_EQ(p.inner, SerializedText(xml));
  EXPECT_EQ(p.head,
            "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\" ?>\r\n"
            "<?xml-stylesheet href=\"a.xsl\" ?>\r\n<!DOCTYPE r>\n\r\n\r\n"
            "<r z=\"1\" a=\"&lt;2\"><![CDATA[");
  // The inner declaration is the source's, without the encoding the save added.
  EXPECT_EQ(p.inner.substr(0, 45), "<?xml version=\"1.0\" standalone=\"no\" ?>\r\n<?xml");
}

TEST(ZipTree, PayloadIsRawDeflateOnly) {
  test::TempDir dir;
  ASSERT_EQ(PackXmlString("<a>payload payload payload</a>", dir / "a.zip"), 1);
  Packed p = Unpack(test::ReadFileBytes(dir / "a.zip"));
  std::string compressed;
  ASSERT_TRUE(ContentCoding::DecodeBase64(p.payload, compressed));
  for (int window_bits : {15, 31}) {  // zlib, then gzip wrapping
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, window_bits), Z_OK);
    char out[4096];
    z.next_in = reinterpret_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    z.next_out = reinterpret_cast<Bytef*>(out);
    z.avail_out = sizeof out;
    EXPECT_NE(inflate(&z, Z_FINISH), Z_STREAM_END) << window_bits;
    inflateEnd(&z);
  }
}

TEST(ZipTree, FileIsPackedAsUtf8KeepingItsDeclaredCharset) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "in.xml", "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><r>\xE9</r>");
  ASSERT_EQ(PackXmlFile(dir / "in.xml", dir / "in.zip"), 1);
  Packed p = Unpack(test::ReadFileBytes(dir / "in.zip"));
  EXPECT_EQ(p.inner,
            "<?xml version=\"1.0\" encoding=\"iso-8859-1\" ?>\r\n\r\n<r>\xC3\xA9</r>\r\n");
}

TEST(ZipTree, LargeDocumentSpansManyReads) {
  std::string xml = "<log>";
  for (int i = 0; i < 20000; ++i) {
    xml += "<e id=\"" + std::to_string(i) + "\" k=\"v" + std::to_string(i * 7919 % 1000) +
           "\">message " + std::to_string(i * 31 % 977) + "</e>";
  }
  xml += "</log>";
  test::TempDir dir;
  ASSERT_EQ(PackXmlString(xml, dir / "big.zip"), 1);
  Packed p = Unpack(test::ReadFileBytes(dir / "big.zip"));
  EXPECT_GT(p.inner.size(), kDeflateReadSize * 3);
  EXPECT_EQ(p.inner, SerializedText(xml));
  // Streamed while serialising, the compressor sees the same reads as from one buffer.
  std::string streamed;
  ASSERT_TRUE(ContentCoding::DecodeBase64(p.payload, streamed));
  DataBuffer whole;
  ASSERT_TRUE(DeflateRaw(p.inner, whole));
  EXPECT_EQ(streamed, whole.view());
  // Level, window, memory level and strategy are the agreed ones.
  EXPECT_TRUE(streamed == AgreedDeflate(p.inner)) << "compressed bytes differ";
}

TEST(ZipTree, PackingTwicePacksThePackedDocument) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml("<a><b/></a>", true));
  ASSERT_TRUE(document.ZipTree());
  StringBuffer once;
  document.Serialize(once);
  ASSERT_TRUE(document.ZipTree());
  StringBuffer twice;
  document.Serialize(twice);
  Packed p = Unpack(std::string(twice.view()));
  EXPECT_EQ(p.inner, once.view());
}

TEST(PackEntryPoints, FailedLoadWritesNothing) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "text.xml", "no element at all");
  struct Case {
    const char* what;
    int result;
  } cases[] = {
      {"missing file", PackXmlFile(dir / "missing.xml", dir / "1.zip")},
      {"file without element", PackXmlFile(dir / "text.xml", dir / "2.zip")},
      {"text without element", PackXmlString("just text", dir / "3.zip")},
      {"empty text", PackXmlString("", dir / "4.zip")},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, 0) << c.what;
  for (const char* name : {"1.zip", "2.zip", "3.zip", "4.zip"}) {
    EXPECT_FALSE(test::FileExists(dir / name)) << name;
  }
  EXPECT_EQ(PackXmlString("<a/>", dir / "no/folder/5.zip"), 0);
}

// The entry points pack while they parse; whenever the loaded tree turns out other than
// what was packed ahead, the tree is packed anew. Either way the document is the one that
// loading, zipping and saving step by step gives.
TEST(PackEntryPoints, PackingWhileParsingGivesTheStepByStepDocument) {
  std::string many = "<?xml version=\"1.0\"?><r a=\"1\">";
  for (int i = 0; i < 20000; ++i) many += "<e i=\"" + std::to_string(i) + "\"><f>x &amp; y</f></e>";
  many += "</r>";
  const std::string cases[] = {
      many,
      "<?xml version=\"1.0\"?><!DOCTYPE r><?pi x?><r><a>1</a><b/><c><d/></c></r>",
      "<r><a/>text of the root after a child</r>",                     // root content
      "<r><a/></r><s><b/></s>",                                         // a second root
      "<r><a/><?xml version=\"1.1\" encoding=\"utf-8\"?><b/></r>",  // declaration inside
      "<?xml version=\"1.0\" encoding=\"utf-16\"?><r><a/></r>",     // declaration changed on load
      "<r><a/><b><c>unclosed",                                         // children left open
      "<r>only text</r>",
      "<r/>",
      "<r><?xml-stylesheet href=\"late.xsl\"?><a/></r>",
  };
  test::TempDir dir;
  for (const std::string& text : cases) {
    test::WriteFileBytes(dir / "in.xml", text);
    ASSERT_EQ(PackXmlFile(dir / "in.xml", dir / "file.zip"), 1) << text.substr(0, 60);
    ASSERT_EQ(PackXmlString(text, dir / "text.zip"), 1) << text.substr(0, 60);
    XmlDocument from_file, from_text;
    ASSERT_TRUE(from_file.LoadXmlFile(dir / "in.xml", true));
    ASSERT_TRUE(from_file.ZipTree());
    ASSERT_TRUE(from_file.SaveXml((dir / "file_steps.zip").c_str()));
    ASSERT_TRUE(from_text.LoadXml(text, true));
    ASSERT_TRUE(from_text.ZipTree());
    ASSERT_TRUE(from_text.SaveXml((dir / "text_steps.zip").c_str()));
    EXPECT_TRUE(test::ReadFileBytes(dir / "file.zip") == test::ReadFileBytes(dir / "file_steps.zip"))
        << text.substr(0, 60);
    EXPECT_TRUE(test::ReadFileBytes(dir / "text.zip") == test::ReadFileBytes(dir / "text_steps.zip"))
        << text.substr(0, 60);
  }
}

}  // namespace
}  // namespace vemtu::packing

// vemtu-pack and vemtu-unpack as support engineers run them: the native tools, and the
// Windows tools under wine. The packing library in this process is the reference.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "packing/content_coding.h"
#include "packing/raw_deflate.h"
#include "packing/tree_zipping.h"
#include "support/agent_runner.h"
#include "support/test_files.h"

namespace vemtu::test {
namespace {

std::string ToolPath(const std::string& name) {
  if (UnderWine()) return EnvOr("VEMTU_WINDOWS_BIN", ".") + "/" + name + ".exe";
  return EnvOr("VEMTU_BIN", ".") + "/" + name;
}

// Runs a tool with `args`, its standard output sent to `output` when given.
int RunTool(const std::string& name, const std::vector<std::string>& args,
            const std::string& output = "/dev/null") {
  std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" >\"$OUT\" 2>/dev/null", "sh"};
  std::string wrapper = EnvOr("VEMTU_AGENT_WRAPPER", "");
  if (!wrapper.empty()) argv.push_back(wrapper);
  argv.push_back(ToolPath(name));
  argv.insert(argv.end(), args.begin(), args.end());
  setenv("OUT", output.c_str(), 1);
  return RunProgram(argv, 120000);
}

// The inner text of a packed document, decoded here without the tools.
std::string InnerText(const std::string& packed) {
  std::size_t open = packed.rfind("<![CDATA[");  // the last section: the prolog may hold one
  std::size_t close = packed.find("]]>", open);
  if (open == std::string::npos || close == std::string::npos) return "<not packed>";
  std::string compressed, inner;
  if (!packing::ContentCoding::DecodeBase64(packed.substr(open + 9, close - open - 9), compressed))
    return "<not base64>";
  if (!packing::InflateRaw(compressed, inner)) return "<not deflate>";
  return inner;
}

const char kResult[] =
    "<?xml version=\"1.0\"?>\r\n<Result id=\"7\"><Item name=\"a &amp; b\">text</Item>"
    "<Item/><![CDATA[raw < data]]></Result>\r\n";

TEST(PackTools, PackAndUnpackAgreeWithTheLibraryByteForByte) {
  TempDir dir;
  WriteFileBytes(dir / "ABC_Y_1.xml", kResult);
  ASSERT_EQ(packing::PackXmlFile(dir / "ABC_Y_1.xml", dir / "library.zip"), 1);
  ASSERT_EQ(RunTool("vemtu-pack", {dir / "ABC_Y_1.xml", dir / "tool.zip"}), 0);
  std::string by_library = ReadFileBytes(dir / "library.zip");
  EXPECT_EQ(ReadFileBytes(dir / "tool.zip"), by_library);

  ASSERT_EQ(RunTool("vemtu-unpack", {dir / "tool.zip"}, dir / "inner.txt"), 0);
  EXPECT_EQ(ReadFileBytes(dir / "inner.txt"), InnerText(by_library));
  EXPECT_NE(InnerText(by_library).find("<Item name=\"a &amp; b\">"), std::string::npos);
}

TEST(PackTools, UnpackFindsThePayloadAfterAPrologThatMentionsCdata) {
  TempDir dir;
  // The instruction and the DOCTYPE are kept as prolog text, in front of the payload.
  WriteFileBytes(dir / "prolog.xml",
                 "<?note <![CDATA[ is only text here ?><!DOCTYPE r [<!ENTITY e \"]]>\">]>"
                 "<r><c>one</c><c>two</c></r>");
  ASSERT_EQ(RunTool("vemtu-pack", {dir / "prolog.xml", dir / "prolog.zip"}), 0);
  ASSERT_EQ(RunTool("vemtu-unpack", {dir / "prolog.zip"}, dir / "inner.txt"), 0);
  std::string inner = ReadFileBytes(dir / "inner.txt");
  EXPECT_EQ(inner, InnerText(ReadFileBytes(dir / "prolog.zip")));
  EXPECT_EQ(inner.substr(0, 39), "<?note <![CDATA[ is only text here ?>\n<");
  EXPECT_NE(inner.find("<c>two</c>"), std::string::npos);
}

TEST(PackTools, TextModeHandsTheBytesToTheStringPacker) {
  TempDir dir;
  const std::string envelope = "<PSTAT><regid>R1</regid><data><![CDATA[x]]></data></PSTAT>";
  WriteFileBytes(dir / "envelope.txt", envelope);
  ASSERT_EQ(packing::PackXmlString(envelope, dir / "library.zip"), 1);
  ASSERT_EQ(RunTool("vemtu-pack", {"--text", dir / "envelope.txt", dir / "tool.zip"}), 0);
  EXPECT_EQ(ReadFileBytes(dir / "tool.zip"), ReadFileBytes(dir / "library.zip"));
}

TEST(PackTools, FailuresExitOneAndLeaveNoOutput) {
  TempDir dir;
  EXPECT_EQ(RunTool("vemtu-pack", {dir / "missing.xml", dir / "out.zip"}), 1);
  EXPECT_FALSE(FileExists(dir / "out.zip"));

  WriteFileBytes(dir / "plain.xml", kResult);
  EXPECT_EQ(RunTool("vemtu-unpack", {dir / "plain.xml"}), 1);
  WriteFileBytes(dir / "garbled.zip", "<R><![CDATA[%%%not base64%%%]]></R>");
  EXPECT_EQ(RunTool("vemtu-unpack", {dir / "garbled.zip"}), 1);
  EXPECT_EQ(RunTool("vemtu-unpack", {dir / "missing.zip"}), 1);
}

TEST(PackTools, UnpackRefusesWhatIsNoPackedDocument) {
  TempDir dir;
  // A folder, an empty file, a payload cut short and one with bytes after its stream.
  std::filesystem::create_directory(dir / "folder.zip");
  WriteFileBytes(dir / "empty.zip", "");
  ASSERT_EQ(packing::PackXmlString("<r><v>some text to pack</v></r>", dir / "good.zip"), 1);
  std::string good = ReadFileBytes(dir / "good.zip");
  std::size_t open = good.rfind("<![CDATA[") + 9;
  std::string compressed;
  ASSERT_TRUE(packing::ContentCoding::DecodeBase64(
      good.substr(open, good.find("]]>", open) - open), compressed));
  auto packed = [](const std::string& bytes) {
    packing::StringBuffer text;
    packing::ContentCoding().EncodeBase64(bytes, text);
    return "<r><![CDATA[" + std::string(text.view()) + "]]></r>";
  };
  WriteFileBytes(dir / "cut.zip", packed(compressed.substr(0, compressed.size() / 2)));
  WriteFileBytes(dir / "trailing.zip", packed(compressed + "xyz"));
  for (const char* name : {"folder.zip", "empty.zip", "cut.zip", "trailing.zip"}) {
    EXPECT_EQ(RunTool("vemtu-unpack", {dir / name}), 1) << name;
  }
  EXPECT_EQ(RunTool("vemtu-unpack", {dir / "good.zip"}), 0);
  EXPECT_EQ(RunTool("vemtu-unpack", {"--help"}, dir / "help.txt"), 0);
  EXPECT_EQ(ReadFileBytes(dir / "help.txt").rfind("usage: vemtu-unpack", 0), 0u);
  EXPECT_EQ(RunTool("vemtu-unpack", {}), 2);
}

// 180 MB of inner text from a payload of under a megabyte: the tool inflates it straight to
// its output in bounded steps, so an address-space limit far below the text is no bar.
TEST(PackTools, UnpackStreamsADecompressionBomb) {
  TempDir dir;
  packing::DataBuffer compressed;
  {
    packing::RawDeflater deflater(compressed);
    const std::string zeros(packing::kDeflateReadSize, '0');
    for (int i = 0; i < 3000; ++i) ASSERT_TRUE(deflater.Feed(zeros));
    ASSERT_TRUE(deflater.Finish(""));
  }
  packing::StringBuffer text;
  packing::ContentCoding().EncodeBase64(compressed.view(), text);
  WriteFileBytes(dir / "bomb.zip", "<r><![CDATA[" + std::string(text.view()) + "]]></r>");
#if defined(__SANITIZE_ADDRESS__)
  const bool limit = false;  // the sanitizer reserves far more address space than the limit
#else
  const bool limit = !UnderWine();  // wine maps more than the limit before the tool runs
#endif
  if (!limit) std::printf("the bomb is unpacked without an address-space limit here\n");
  std::vector<std::string> argv = {
      "/bin/sh", "-c", std::string(limit ? "ulimit -v 102400 && " : "") + "exec \"$@\" >/dev/null 2>&1",
      "sh"};
  std::string wrapper = EnvOr("VEMTU_AGENT_WRAPPER", "");
  if (!wrapper.empty()) argv.push_back(wrapper);
  argv.push_back(ToolPath("vemtu-unpack"));
  argv.push_back(dir / "bomb.zip");
  EXPECT_EQ(RunProgram(argv, 300000), 0);
}

}  // namespace
}  // namespace vemtu::test

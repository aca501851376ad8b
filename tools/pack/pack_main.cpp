// vemtu-pack SOURCE PACKED         packs SOURCE as the agent packs a result file
// vemtu-pack --text SOURCE PACKED  hands SOURCE's bytes to the in-memory packing instead
// Exit code 0 when packing succeeded; 1, with no PACKED left behind and the failing step
// named, otherwise.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "packing/tree_zipping.h"
#include "packing/xml_document.h"
#include "tool_version.h"

namespace {

const char kUsage[] =
    "usage: vemtu-pack [--text] SOURCE PACKED\n"
    "Packs SOURCE as the agent packs a result file before posting it: the document is\n"
    "parsed, its whole serialisation deflated and base64-encoded into the root element,\n"
    "and the result saved as PACKED in the declared encoding.\n"
    "  --text  hand SOURCE's bytes to the in-memory packing instead of the file reader\n"
    "Exit code 0 when packing succeeded; 1, with no PACKED left behind, otherwise (the\n"
    "step that failed on standard error); 2 for misuse.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Why packing failed: the load and zip steps write nothing, so they are run again on a
// document of their own to find the one that fails, with the parser's own texts.
std::string WhyPackingFailed(const std::string& source, const std::string* text) {
  vemtu::packing::XmlDocument document;
  bool loaded = text ? document.LoadXml(*text, true) : document.LoadXmlFile(source, true);
  std::string why;
  if (!loaded)
    why =
        "it cannot be read, or is not a document the parser takes (empty, no root element, "
        "or broken markup)";
  else if (!document.ZipTree())
    why = "the document has nothing to pack, or the compressor failed";
  else
    why = "the packed document could not be written (folder missing, or no right to write)";
  for (const std::string& entry : document.log().entries())
    if (!entry.empty() && entry[0] != '<') why += "\n  parser: " + entry;  // not a context mark
  return why;
}

}  // namespace

int main(int argc, char** argv) {
  if (vemtu::tools::AsksVersion(argc, argv)) return vemtu::tools::PrintVersion("vemtu-pack");
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  bool text = argc == 4 && std::strcmp(argv[1], "--text") == 0;
  if (argc != (text ? 4 : 3)) return Usage();
  const std::string source = argv[text ? 2 : 1];
  const std::string packed = argv[text ? 3 : 2];
  std::error_code ec;
  const bool existed = std::filesystem::exists(packed, ec);

  int result;
  std::string bytes;
  if (text) {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "vemtu-pack: cannot read %s\n", source.c_str());
      return 1;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    result = vemtu::packing::PackXmlString(bytes, packed);
  } else {
    result = vemtu::packing::PackXmlFile(source, packed);
  }
  if (result == 1) return 0;
  if (!existed) std::filesystem::remove(packed, ec);  // a partly written file
  std::fprintf(stderr, "vemtu-pack: packing %s failed: %s\n", source.c_str(),
               WhyPackingFailed(source, text ? &bytes : nullptr).c_str());
  return 1;
}

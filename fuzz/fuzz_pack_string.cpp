// PackXmlString on arbitrary bytes, which packs while it parses, against loading, zipping
// and saving step by step: both must write the same document.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "packing/tree_zipping.h"
#include "packing/xml_document.h"
#include "platform/process.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Files of this process only, so that parallel runs do not overwrite each other's.
  static const std::string stem =
      (std::filesystem::temp_directory_path() /
       ("vemtu-fuzz-pack-string-" + std::to_string(vemtu::platform::CurrentProcessId())))
          .string();
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::filesystem::remove(stem + ".a");
  std::filesystem::remove(stem + ".b");
  int packed = vemtu::packing::PackXmlString(text, stem + ".a");
  vemtu::packing::XmlDocument document;
  bool stepped = document.LoadXml(text, true) && document.ZipTree() && document.SaveXml((stem + ".b").c_str());
  if ((packed == 1) != stepped) __builtin_trap();
  if (stepped && ReadAll(stem + ".a") != ReadAll(stem + ".b")) __builtin_trap();
  return 0;
}

// LoadXmlFile on arbitrary bytes behind a byte-order mark or a declared charset chosen
// by the first byte, then saving in the declared charset.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "packing/xml_document.h"
#include "platform/process.h"

namespace {

const char* const kStarts[] = {
    "",
    "\xFF\xFE",
    "\xFE\xFF",
    "\xEF\xBB\xBF",
    "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>",
    "<?xml version=\"1.0\" encoding=\"shift_jis\"?>",
    "<?xml version=\"1.0\" encoding=\"utf-7\"?>",
    "<?xml version=\"1.0\" encoding=\"iso-2022-jp\"?>",
    "<?xml version=\"1.0\" encoding=\"iso-2022-kr\"?>",
    "<?xml version=\"1.0\" encoding=\"utf-32be\"?>",
    "<?xml version=\"1.0\" encoding=\"x-mac-arabic\"?>",
    "<?xml version=\"1.0\" encoding=\"ibm037\"?>",
    "<?xml version=\"1.0\" encoding=\"euc-kr\"?>",
    "<?xml version=\"1.0\" encoding=\"utf-16\"?>",
    "<?xml version=\"1.0\" encoding=\"ansi\"?>",
    "<?xml version='1.0' encoding='unicodefffe'?>",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // Files of this process only, so that parallel runs do not overwrite each other's.
  static const std::string stem =
      (std::filesystem::temp_directory_path() /
       ("vemtu-fuzz-load-xml-file-" + std::to_string(vemtu::platform::CurrentProcessId())))
          .string();
  static const std::string in_path = stem + ".in.xml";
  static const std::string out_path = stem + ".out.xml";
  {
    std::ofstream file(in_path, std::ios::binary | std::ios::trunc);
    file << kStarts[data[0] % (sizeof kStarts / sizeof kStarts[0])];
    file.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  vemtu::packing::XmlDocument document;
  if (document.LoadXmlFile(in_path, true)) document.SaveXml(out_path.c_str());
  return 0;
}

// LoadXml on arbitrary bytes, then serialising and packing whatever tree it built.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "packing/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  bool trim = size > 0 && (data[0] & 1);
  vemtu::packing::XmlDocument document;
  if (!document.LoadXml(text, trim)) return 0;
  vemtu::packing::StringBuffer out;
  document.Serialize(out);
  document.ZipTree();
  return 0;
}

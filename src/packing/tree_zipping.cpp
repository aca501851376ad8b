#include "packing/tree_zipping.h"

#include "packing/xml_document.h"

namespace vemtu::packing {
namespace {

template <typename Load>
int Pack(Load load, const std::string& packed) {
  try {
    XmlDocument document;
    document.PackWhileLoading();
    if (!load(document)) return 0;
    if (!document.ZipTree()) return 0;
    return document.SaveXml(packed.c_str()) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace

int PackXmlFile(const std::string& source, const std::string& packed) {
  return Pack([&](XmlDocument& d) { return d.LoadXmlFile(source, true); }, packed);
}

int PackXmlString(std::string_view text, const std::string& packed) {
  return Pack([&](XmlDocument& d) { return d.LoadXml(text, true); }, packed);
}

}  // namespace vemtu::packing

#include "packing/tree_zipping.h"

#include <new>

#include "packing/xml_document.h"

namespace vemtu::packing {
namespace {

template <typename Load>
PackResult Pack(Load load, const std::string& packed) {
  try {
    XmlDocument document;
    document.PackWhileLoading();
    if (!load(document) || !document.ZipTree()) {
      return document.OutOfMemory() ? PackResult::kNotSaved : PackResult::kNotADocument;
    }
    return document.SaveXml(packed.c_str()) ? PackResult::kPacked : PackResult::kNotSaved;
  } catch (const std::bad_alloc&) {
    return PackResult::kNotSaved;
  } catch (...) {
    return PackResult::kNotADocument;
  }
}

}  // namespace

PackResult PackFile(const std::string& source, const std::string& packed) {
  return Pack([&](XmlDocument& d) { return d.LoadXmlFile(source, true); }, packed);
}

PackResult PackFile(const platform::File& source, const std::string& source_path,
                    const std::string& packed) {
  return Pack([&](XmlDocument& d) { return d.LoadXmlFile(source, source_path, true); }, packed);
}

PackResult PackText(std::string_view text, const std::string& packed) {
  return Pack([&](XmlDocument& d) { return d.LoadXml(text, true); }, packed);
}

int PackXmlFile(const std::string& source, const std::string& packed) {
  return PackFile(source, packed) == PackResult::kPacked ? 1 : 0;
}

int PackXmlString(std::string_view text, const std::string& packed) {
  return PackText(text, packed) == PackResult::kPacked ? 1 : 0;
}

}  // namespace vemtu::packing

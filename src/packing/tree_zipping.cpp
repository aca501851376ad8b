#include "packing/tree_zipping.h"

#include <new>

#include "packing/xml_document.h"

namespace vemtu::packing {
namespace {

template <typename Load, typename Save>
PackResult Pack(Load load, Save save) {
  try {
    XmlDocument document;
    document.PackWhileLoading();
    if (!load(document) || !document.ZipTree()) {
      return document.OutOfMemory() ? PackResult::kNotSaved : PackResult::kNotADocument;
    }
    return save(document) ? PackResult::kPacked : PackResult::kNotSaved;
  } catch (const std::bad_alloc&) {
    return PackResult::kNotSaved;
  } catch (...) {
    return PackResult::kNotADocument;
  }
}

// Saves at a path.
auto SaveAt(const std::string& packed) {
  return [&packed](XmlDocument& d) { return d.SaveXml(packed.c_str()); };
}

// Saves into an open file.
auto SaveInto(platform::File& packed, const std::string& packed_path) {
  return [&packed, &packed_path](XmlDocument& d) { return d.SaveXml(packed, packed_path); };
}

}  // namespace

PackResult PackFile(const std::string& source, const std::string& packed) {
  return Pack([&](XmlDocument& d) { return d.LoadXmlFile(source, true); }, SaveAt(packed));
}

PackResult PackFile(const platform::File& source, const std::string& source_path,
                    platform::File& packed, const std::string& packed_path) {
  return Pack([&](XmlDocument& d) { return d.LoadXmlFile(source, source_path, true); },
              SaveInto(packed, packed_path));
}

PackResult PackText(std::string_view text, const std::string& packed) {
  return Pack([&](XmlDocument& d) { return d.LoadXml(text, true); }, SaveAt(packed));
}

PackResult PackText(std::string_view text, platform::File& packed,
                    const std::string& packed_path) {
  return Pack([&](XmlDocument& d) { return d.LoadXml(text, true); },
              SaveInto(packed, packed_path));
}

int PackXmlFile(const std::string& source, const std::string& packed) {
  return PackFile(source, packed) == PackResult::kPacked ? 1 : 0;
}

int PackXmlString(std::string_view text, const std::string& packed) {
  return PackText(text, packed) == PackResult::kPacked ? 1 : 0;
}

}  // namespace vemtu::packing

// The packing entry points of the posting pipeline: a result file or a text in memory
// turned into the packed document, whose root holds the deflated, base64-encoded
// serialisation of the whole source document.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace vemtu::packing {

// What became of one packing call.
enum class PackResult {
  kPacked,        // the packed document was written at the packed path
  kNotADocument,  // the input could not be loaded as a document, or its tree not zipped
  kNotSaved,      // the packed document could not be written (no space, a write error),
                  // or memory ran out: the input may be good and is tried again later
};

// Loads `source` (trimmed, converted to UTF-8), zips the tree and saves it at `packed`,
// and says which step failed. Nothing is thrown.
PackResult PackFile(const std::string& source, const std::string& packed);

// The same for `source` held open already (at `source_path`), read from its start, saved
// into `packed` (open for writing and empty, at `packed_path`). A file left incomplete is
// the caller's to remove.
PackResult PackFile(const platform::File& source, const std::string& source_path,
                    platform::File& packed, const std::string& packed_path);

// The same for a text in memory (up to its first NUL byte), taken as it is.
PackResult PackText(std::string_view text, const std::string& packed);
PackResult PackText(std::string_view text, platform::File& packed,
                    const std::string& packed_path);

// Loads `source` (trimmed, converted to UTF-8), zips the tree and saves it at `packed`.
// Returns 1 when all three steps succeeded, else 0; `packed` is written only by the save
// step. Nothing is thrown.
int PackXmlFile(const std::string& source, const std::string& packed);

// The same for a text in memory (up to its first NUL byte), taken as it is.
int PackXmlString(std::string_view text, const std::string& packed);

}  // namespace vemtu::packing

// Packed documents as the agent sends them, made independently of the simulator's reader.
#pragma once

#include <string>

namespace dcsim {

// A raw DEFLATE stream (no wrapper) of `text` at level 6.
std::string DeflateRaw(const std::string& text);

// Base64 with a line break after every 72 characters, as packed documents carry it.
std::string Base64Lines(const std::string& bytes);

// `<?xml ...?><root><![CDATA[base64 of the deflated inner text]]></root>`.
std::string PackedSample(const std::string& root, const std::string& inner);

}  // namespace dcsim

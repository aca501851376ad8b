#include "request_store.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "packed_document.h"
#include "reply_rules.h"

namespace dcsim {

RequestStore::RequestStore(std::string folder) : folder_(std::move(folder)) {
  std::error_code ignored;
  std::filesystem::create_directories(folder_, ignored);
}

unsigned long RequestStore::Next() {
  std::lock_guard<std::mutex> hold(mutex_);
  return ++last_;
}

static void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void RequestStore::Record(unsigned long number, const Received& request, const std::string& prefix,
                          int status, const std::string& reply, bool dropped) {
  char stem[32];
  std::snprintf(stem, sizeof stem, "%06lu", number);
  std::string base = folder_ + "/" + stem;
  WriteWhole(base + ".head", request.head);
  WriteWhole(base + ".body", request.body);
  std::string inner;
  bool packed = UnpackDocument(request.body, inner);
  if (packed) WriteWhole(base + ".unpacked", inner);

  std::string line = std::string(stem) + "\t" + request.via + "\t" + request.method + "\t" +
                     Escape(request.target) + "\t" + Escape(prefix) + "\t" +
                     std::to_string(request.body.size()) + "\t" + (packed ? "1" : "0") + "\t" +
                     (dropped ? std::string("drop") : std::to_string(status)) + "\t" +
                     Escape(reply) + "\n";
  std::lock_guard<std::mutex> hold(mutex_);
  if (std::FILE* index = std::fopen((folder_ + "/index.txt").c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), index);
    std::fclose(index);
  }
}

}  // namespace dcsim

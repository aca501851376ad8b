#include "request_store.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "packed_document.h"
#include "reply_rules.h"

namespace dcsim {

namespace {

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string LocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

}  // namespace

RequestStore::RequestStore(std::string folder) : folder_(std::move(folder)) {
  std::error_code ignored;
  std::filesystem::create_directories(folder_, ignored);
}

unsigned long RequestStore::Next() {
  std::lock_guard<std::mutex> hold(mutex_);
  return ++last_;
}

void RequestStore::Record(unsigned long number, const Received& request, const std::string& prefix,
                          int status, const std::string& reply, bool dropped) {
  char stem[32];
  std::snprintf(stem, sizeof stem, "%06lu", number);
  std::string base = folder_ + "/" + stem;
  WriteWhole(base + ".head", request.head);
  WriteWhole(base + ".body", request.body);
  Seen seen;
  seen.packed = UnpackDocument(request.body, seen.unpacked);
  if (seen.packed) WriteWhole(base + ".unpacked", seen.unpacked);
  if (seen.unpacked.size() > kPageTextLimit) seen.unpacked.resize(kPageTextLimit);
  seen.number = stem;
  seen.via = request.via;
  seen.method = request.method;
  seen.target = request.target;
  seen.prefix = prefix;
  seen.body_bytes = request.body.size();
  seen.status = dropped ? std::string("drop") : std::to_string(status);
  seen.reply = reply;
  Append(std::move(seen));
}

void RequestStore::RecordUnserved(const Received& request, const std::string& status,
                                  const std::string& reply) {
  Seen seen;
  seen.number = "-";
  seen.via = request.via;
  seen.method = request.method.empty() ? "-" : request.method;
  seen.target = request.target.empty() ? "-" : request.target;
  seen.body_bytes = request.body.size();
  seen.status = status;
  seen.reply = reply;
  Append(std::move(seen));
}

void RequestStore::Append(Seen seen) {
  seen.time = LocalTime();
  std::string line = seen.number + "\t" + seen.via + "\t" + seen.method + "\t" +
                     Escape(seen.target) + "\t" + Escape(seen.prefix) + "\t" +
                     std::to_string(seen.body_bytes) + "\t" + (seen.packed ? "1" : "0") + "\t" +
                     seen.status + "\t" + Escape(seen.reply) + "\t" + seen.time + "\n";
  std::lock_guard<std::mutex> hold(mutex_);
  if (std::FILE* index = std::fopen((folder_ + "/index.txt").c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), index);
    std::fclose(index);
  }
  latest_.push_back(std::move(seen));
  if (latest_.size() > kPageEntries) latest_.pop_front();
}

std::vector<Seen> RequestStore::Latest() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return {latest_.begin(), latest_.end()};
}

}  // namespace dcsim

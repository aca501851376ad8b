// Where the simulated data centre keeps what it received: one numbered set of files per
// request under the output folder and one line per request in "index.txt".
//   NNNNNN.head      the request line and headers as received
//   NNNNNN.body      the body as received
//   NNNNNN.unpacked  the inner text, when the body is a packed document
// index.txt: number, via, method, target, prefix, body bytes, packed (0/1), status and
// reply text (escaped), separated by TABs.
#pragma once

#include <mutex>
#include <string>

namespace dcsim {

struct Received {
  std::string via;  // "http", "https", "proxy" (absolute form) or "tunnel" (CONNECT)
  std::string head;
  std::string method;
  std::string target;  // origin form: path and query
  std::string body;
};

class RequestStore {
 public:
  explicit RequestStore(std::string folder);
  const std::string& folder() const { return folder_; }
  // Numbers the request (1, 2, ...).
  unsigned long Next();
  // Writes the request's files and its index line before the reply is sent, so that a
  // reply the client saw always has its record.
  void Record(unsigned long number, const Received& request, const std::string& prefix, int status,
              const std::string& reply, bool dropped);

 private:
  std::string folder_;
  std::mutex mutex_;
  unsigned long last_ = 0;
};

}  // namespace dcsim

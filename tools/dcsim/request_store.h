// Where the simulated data centre keeps what it received: one numbered set of files per
// request that reached the data centre, and one line in "index.txt" for every request or
// connection it saw.
//   NNNNNN.head      the request line and headers as received
//   NNNNNN.body      the body as received
//   NNNNNN.unpacked  the inner text, when the body is a packed document
// index.txt: number, via, method, target, prefix, body bytes, packed (0/1), status, reply
// text (escaped) and local time, separated by TABs. Requests the data centre never
// served have the number "-": the proxy's 407 answers, tunnels opened by CONNECT,
// requests the client cut short ("cut") and TLS handshakes that failed ("tls").
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace dcsim {

struct Received {
  std::string via;  // "http", "https", "proxy" (absolute form) or "tunnel" (CONNECT)
  std::string head;
  std::string method;
  std::string target;  // origin form: path and query
  std::string body;
};

// One line of the index as the status page shows it.
struct Seen {
  std::string time;    // local "YYYY-MM-DD HH:MM:SS"
  std::string number;  // "000001", or "-" when the data centre did not serve it
  std::string via, method, target, prefix;
  std::size_t body_bytes = 0;
  bool packed = false;
  std::string status;    // HTTP status, "drop", "cut" or "tls"
  std::string reply;     // what was answered (or why nothing was)
  std::string unpacked;  // inner text of a packed body, cut at kPageTextLimit
};

class RequestStore {
 public:
  static constexpr std::size_t kPageTextLimit = 64 * 1024;
  static constexpr std::size_t kPageEntries = 500;

  explicit RequestStore(std::string folder);
  const std::string& folder() const { return folder_; }
  // Numbers the request (1, 2, ...).
  unsigned long Next();
  // Writes the request's files and its index line before the reply is sent, so that a
  // reply the client saw always has its record.
  void Record(unsigned long number, const Received& request, const std::string& prefix, int status,
              const std::string& reply, bool dropped);
  // An index line for what the data centre did not serve (number "-", no files).
  void RecordUnserved(const Received& request, const std::string& status, const std::string& reply);
  // The latest entries, oldest first, for the status page.
  std::vector<Seen> Latest() const;

 private:
  void Append(Seen seen);

  std::string folder_;
  mutable std::mutex mutex_;
  unsigned long last_ = 0;
  std::deque<Seen> latest_;
};

}  // namespace dcsim

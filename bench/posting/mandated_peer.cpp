// The mandated-work peer: one posting run that does what any implementation of the agent
// must do for the benchmark's files, and nothing else, so that the agent's whole run can
// be weighed against the work itself. Per run: the clean-up of leftover "*.zip" copies
// and nine listings of the category folder. Per file: open, fstat and read it; for a
// "_Y_" file parse, serialise, raw DEFLATE at level 6, base64 at 72 columns and write the
// ".zip" copy; the transfer log's five lines of a first-method success and the data copy,
// each an append-mode open, an fstat for the size rule, a write and a close; one POST with
// libcurl on a new connection; then the copy and the file are removed.
//
// The parser covers what the benchmark's files hold (a declaration, comments, elements,
// attributes and text); the benchmark checks the peer's requests and log lines against
// the agent's byte for byte.
//
// Usage: bench_mandated_peer AGENT_FOLDER CATEGORY SITE_URL QUERY
//   e.g. /tmp/a ATPostLogs http://127.0.0.1:8080/dc "mmid=M1&sid=S1&rid=R1&rty=T1"
#include <curl/curl.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kListings = 9;
constexpr const char* kMethod = "SendWinHTTPPOST";

// ---- XML: the tree, a parser with trimming, and the serialiser's fixed layout.

struct Node {
  std::string tag, content;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<std::unique_ptr<Node>> children;
  bool has_children_list = false;
};

struct Document {
  std::vector<std::pair<std::string, std::string>> declaration;
  bool has_declaration = false;
  std::unique_ptr<Node> root;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void ReplaceAll(std::string& text, const char* from, const char* to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += std::strlen(to))
    text.replace(at, std::strlen(from), to);
}

void Unescape(std::string& text) {
  ReplaceAll(text, "&lt;", "<");
  ReplaceAll(text, "&apos;", "'");
  ReplaceAll(text, "&gt;", ">");
  ReplaceAll(text, "&quot;", "\"");
  ReplaceAll(text, "&amp;", "&");
}

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  bool Parse(Document& doc) {
    std::vector<Node*> open;
    while (p_ < s_.size()) {
      if (!open.empty()) {
        SkipSpace();
        std::size_t end = s_.find('<', p_);
        if (end == std::string::npos) end = s_.size();
        std::size_t last = end;
        while (last > p_ && IsSpace(s_[last - 1])) --last;
        if (last > p_) {
          std::string run = s_.substr(p_, last - p_);
          Node& node = *open.back();
          if (!node.content.empty()) node.content += ' ';
          node.content += run;
          Unescape(node.content);
        }
        p_ = end + 1;
        if (end >= s_.size()) break;
      } else {
        std::size_t next = s_.find('<', p_);
        if (next == std::string::npos) break;
        p_ = next + 1;
      }
      if (s_.compare(p_, 3, "!--") == 0) {
        std::size_t end = s_.find("-->", p_);
        if (end == std::string::npos) break;
        p_ = end + 3;
      } else if (s_.compare(p_, 4, "?xml") == 0) {
        p_ += 4;
        doc.has_declaration = true;
        doc.declaration = Attributes("?>");
        p_ = s_.find('>', p_);
        if (p_ == std::string::npos) return false;
        ++p_;
      } else if (s_[p_] == '/') {
        std::size_t end = s_.find('>', p_);
        if (end == std::string::npos) return false;
        p_ = end + 1;
        if (!open.empty()) open.pop_back();
        if (open.empty() && doc.root) return true;
      } else {
        auto node = std::make_unique<Node>();
        while (p_ < s_.size() && !IsSpace(s_[p_]) && s_[p_] != '/' && s_[p_] != '>')
          node->tag += s_[p_++];
        node->attributes = Attributes("/>");
        bool empty = p_ < s_.size() && s_[p_] == '/';
        p_ = s_.find('>', p_);
        if (p_ == std::string::npos) return false;
        ++p_;
        Node* raw = node.get();
        if (open.empty()) {
          doc.root = std::move(node);
        } else {
          open.back()->has_children_list = true;
          open.back()->children.push_back(std::move(node));
        }
        if (!empty) open.push_back(raw);
        if (empty && open.empty()) return true;
      }
    }
    return doc.root != nullptr;
  }

 private:
  void SkipSpace() {
    while (p_ < s_.size() && IsSpace(s_[p_])) ++p_;
  }

  std::vector<std::pair<std::string, std::string>> Attributes(const char* stops) {
    std::vector<std::pair<std::string, std::string>> result;
    for (;;) {
      SkipSpace();
      if (p_ >= s_.size() || std::strchr(stops, s_[p_])) return result;
      std::string name;
      while (p_ < s_.size() && !IsSpace(s_[p_]) && s_[p_] != '=' && !std::strchr(stops, s_[p_]))
        name += s_[p_++];
      SkipSpace();
      std::string value;
      if (p_ < s_.size() && s_[p_] == '=') {
        ++p_;
        SkipSpace();
        const char quote = p_ < s_.size() ? s_[p_] : '"';
        std::size_t end = s_.find(quote, ++p_);
        if (end == std::string::npos) end = s_.size();
        value = s_.substr(p_, end - p_);
        Unescape(value);
        p_ = end + 1;
      }
      if (!name.empty()) result.emplace_back(name, value);
    }
  }

  const std::string& s_;
  std::size_t p_ = 0;
};

void EscapeInto(std::string& out, const std::string& text, bool attribute) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') out += "&quot;";
    else if (c == '\'') out += "&apos;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&' && !(i + 1 < text.size() && text[i + 1] == '#') &&
             (attribute || text.find(';', i) == std::string::npos))
      out += "&amp;";
    else out += c;
  }
}

void WriteAttributes(std::string& out, const std::vector<std::pair<std::string, std::string>>& list) {
  for (const auto& [name, value] : list) {
    out += ' ' + name + "=\"";
    EscapeInto(out, value, true);
    out += '"';
  }
}

void Serialise(std::string& out, const Node& node, std::size_t index, int depth, bool cdata) {
  if (index == 0) out += "\r\n";
  const std::string indent(4 * depth, ' ');
  out += indent + "<" + node.tag;
  WriteAttributes(out, node.attributes);
  if (node.content.empty() && !node.has_children_list) {
    out += " />\r\n";
    return;
  }
  out += '>';
  if (cdata) out += "<![CDATA[" + node.content + "]]>";
  else EscapeInto(out, node.content, false);
  for (std::size_t i = 0; i < node.children.size(); ++i)
    Serialise(out, *node.children[i], i, depth + 1, false);
  if (node.has_children_list || out.back() == '\n') out += indent;
  out += "</" + node.tag + ">\r\n";
}

std::string SerialiseDocument(const Document& doc, bool packed) {
  std::string out;
  if (doc.has_declaration || packed) {
    auto declaration = doc.declaration;
    if (!doc.has_declaration) declaration.emplace_back("version", "1.0");
    bool has_encoding = false;
    for (const auto& attribute : declaration) has_encoding |= attribute.first == "encoding";
    if (packed && !has_encoding) declaration.emplace_back("encoding", "utf-8");
    out += "<?xml";
    WriteAttributes(out, declaration);
    out += " ?>\r\n";
  }
  Serialise(out, *doc.root, 0, 0, packed);
  return out;
}

// ---- Packing: raw DEFLATE at level 6, base64 at 72 columns.

bool RawDeflate(const std::string& in, std::string& out) {
  z_stream stream{};
  if (deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out.resize(deflateBound(&stream, in.size()));
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  stream.avail_in = static_cast<uInt>(in.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return rc == Z_STREAM_END;
}

std::string Base64Lines(const std::string& in) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  if (in.empty()) return out;
  out.reserve(in.size() * 4 / 3 + in.size() / 27 + 8);
  const auto* b = reinterpret_cast<const unsigned char*>(in.data());
  std::size_t i = 0, column = 0;
  for (; i + 3 <= in.size(); i += 3) {
    const unsigned v = (b[i] << 16) | (b[i + 1] << 8) | b[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
    if ((column += 4) == 72) {
      out += "\r\n";
      column = 0;
    }
  }
  if (in.size() - i == 1) {
    out += kAlphabet[b[i] >> 2];
    out += kAlphabet[(b[i] & 3) << 4];
    out += "==";
  } else if (in.size() - i == 2) {
    out += kAlphabet[b[i] >> 2];
    out += kAlphabet[((b[i] & 3) << 4) | (b[i + 1] >> 4)];
    out += kAlphabet[(b[i + 1] & 15) << 2];
    out += '=';
  }
  out += "\r\n";
  return out;
}

bool Pack(const std::string& text, std::string& packed) {
  Document doc;
  if (!Parser(text).Parse(doc)) return false;
  std::string compressed;
  if (!RawDeflate(SerialiseDocument(doc, false), compressed)) return false;
  doc.root->children.clear();
  doc.root->content = Base64Lines(compressed);
  packed = SerialiseDocument(doc, true);
  return true;
}

// ---- Files and logs.

bool ReadWhole(const std::string& path, std::string& data) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  data.resize(ok ? static_cast<std::size_t>(st.st_size) : 0);
  std::size_t got = 0;
  while (ok && got < data.size()) {
    const ssize_t n = read(fd, &data[got], data.size() - got);
    ok = n > 0;
    if (ok) got += static_cast<std::size_t>(n);
  }
  close(fd);
  return ok;
}

bool WriteWhole(const std::string& path, const std::string& data) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  return close(fd) == 0 && ok;
}

// One append, as the log writer makes it: open, fstat for the size rule, write, close.
void Append(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0) (void)!write(fd, text.data(), text.size());
  close(fd);
}

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%m/%d/%Y %I:%M:%S %p", &local);
  return text;
}

std::string LogLine(const std::string& message, const std::string& detail1 = "",
                    const std::string& detail2 = "", const std::string& detail3 = "") {
  return Timestamp() + "\t9999\t\t0\t0\t" + message + "\t\t" + detail1 + "\t" + detail2 + "\t" +
         detail3 + "\t\r\n";
}

// ---- The run.

size_t Collect(char* data, size_t size, size_t count, void* reply) {
  static_cast<std::string*>(reply)->append(data, size * count);
  return size * count;
}

struct Site {
  std::string url;    // up to the page, e.g. http://host:port/dc
  std::string query;  // the identity values
  std::string host;   // host:port for the Host line
};

// Posts `body` on a new connection with the head the agent's first method sends; the
// reply text, or "" when the post failed.
std::string Post(CURL* curl, const Site& site, const std::string& prefix, const std::string& body) {
  const std::string url = site.url + "/tfr_" + prefix + ".asp?" + site.query;
  std::string reply;
  curl_slist* head = nullptr;
  // As the agent's first method sends it: curl's own Host, Accept, Expect and form type
  // lines cleared, the agent's lines in the agent's order.
  for (const std::string& line :
       {std::string("Host:"), std::string("Content-Type:"), std::string("Accept:"),
        std::string("Expect:"), std::string("User-Agent: Microsoft Internet Explorer"),
        "Host: " + site.host, "Content-Length: " + std::to_string(body.size()),
        std::string("Connection: Keep-Alive")}) {
    head = curl_slist_append(head, line.c_str());
  }
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, head);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  const bool ok = curl_easy_perform(curl) == CURLE_OK;
  curl_slist_free_all(head);
  return ok ? reply : std::string();
}

std::vector<std::string> List(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_type == DT_REG) names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  return names;
}

bool EndsWith(const std::string& text, const char* tail) {
  const std::size_t n = std::strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

void PostFile(CURL* curl, const Site& site, const std::string& folder, const std::string& logs,
              const std::string& name) {
  const std::string path = folder + "/" + name;
  const std::string prefix = name.substr(0, name.find('_'));
  std::string body;
  if (!ReadWhole(path, body)) return;
  std::string copy;
  if (name.find("_Y_") != std::string::npos) {
    std::string packed;
    if (!Pack(body, packed)) return;
    copy = path.substr(0, path.rfind('.')) + ".zip";
    if (!WriteWhole(copy, packed)) return;
    body.swap(packed);
  }
  const std::string log = logs + "/tfr_" + prefix + ".log";
  const std::string page = site.url + "/tfr_" + prefix + ".asp";
  Append(log, LogLine("MSG: WebPosting File", page, path));
  Append(log, LogLine("MSG: Web Post Data"));
  Append(log, body + "\r\n");
  Append(log, LogLine(std::string("MSG: Started ") + kMethod));
  const std::string reply = Post(curl, site, prefix, body);
  Append(log, LogLine(std::string("MSG: Return text from ") + kMethod, reply));
  if (reply != "1") return;
  Append(log, LogLine("MSG: Successfully WebPosted File", path));
  if (!copy.empty()) unlink(copy.c_str());
  unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s AGENT_FOLDER CATEGORY SITE_URL QUERY\n", argv[0]);
    return 2;
  }
  const std::string agent = argv[1];
  const std::string folder = agent + "/" + argv[2];
  const std::string logs = agent + "/ApplicationLog/WebPost/WebPostExe";
  Site site{argv[3], argv[4], ""};
  const std::size_t host_at = site.url.find("//") + 2;
  site.host = site.url.substr(host_at, site.url.find('/', host_at) - host_at);
  std::string made;
  for (const char* part : {"/ApplicationLog", "/WebPost", "/WebPostExe"}) {
    made += part;
    mkdir((agent + made).c_str(), 0755);
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURL* curl = curl_easy_init();
  for (const std::string& name : List(folder)) {
    if (EndsWith(name, ".zip")) unlink((folder + "/" + name).c_str());
  }
  for (int listing = 0; listing < kListings; ++listing) {
    for (const std::string& name : List(folder)) {
      if (name.find('_') != std::string::npos && !EndsWith(name, ".zip"))
        PostFile(curl, site, folder, logs, name);
    }
  }
  curl_easy_cleanup(curl);
  curl_global_cleanup();
  return 0;
}

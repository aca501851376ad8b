// Posting rate and large-body throughput of SendWinHTTPPOST and SendPOST beside a plain
// libcurl loop that opens a new connection for every POST, all against one loopback
// server in the same run. Memory: the growth of the resident set while a 200 MB file is
// posted (sampled every millisecond).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "common/run_context.h"
#include "platform/agent_folder.h"
#include "support/scripted_server.h"
#include "support/test_files.h"
#include "transport/send_procedures.h"
#include "transport/winhttp_connect.h"

// The Linux stand-in's declarations, for the bare-calls floor.
#include <wininet.h>

namespace {

using vemtu::test::Reply;
using vemtu::test::ScriptedServer;

constexpr std::size_t kSmallBody = 2048;
constexpr std::size_t kLargeBody = 200u << 20;

struct Bench {
  Bench() : server(Options()) {
    server.SetDefault(Reply::Status(200, "1"));
    ctx.transfer_log_path = dir / "tfr_bench.log";
    ctx.error_folder = dir / "Error";
    // Held as a run holds its agent folder: every per-file step acts relative to it.
    ctx.folder = std::make_shared<vemtu::platform::AgentFolder>(
        vemtu::platform::AgentFolder::Open(dir.path().string()));
    winhttp.ZLoadWinHttp();
    small = std::string(kSmallBody, 'x');
    large_path = dir / "large.xml";
  }
  static ScriptedServer::Options Options() {
    ScriptedServer::Options options;
    options.body_keep_limit = 0;  // the server only counts the bytes
    return options;
  }
  void MakeLarge() {
    if (vemtu::test::FileExists(large_path)) return;
    std::ofstream out(large_path, std::ios::binary);
    std::string block(1 << 20, 'L');
    for (std::size_t i = 0; i < kLargeBody / block.size(); ++i) out.write(block.data(), block.size());
  }

  vemtu::test::TempDir dir;
  ScriptedServer server;
  vemtu::RunContext ctx;
  vemtu::CZWinHTTPConnect winhttp{30000};
  std::string small;
  std::string large_path;
};

Bench& Shared() {
  static Bench bench;
  return bench;
}

// Resident set size in bytes.
long long Rss() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

// Samples the resident set while it lives; Growth() is the peak over the start.
class RssWatch {
 public:
  RssWatch() : base_(Rss()), peak_(base_) {
    thread_ = std::thread([this] {
      while (!stop_.load()) {
        long long now = Rss();
        if (now > peak_.load()) peak_.store(now);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  ~RssWatch() { Stop(); }
  void Stop() {
    if (thread_.joinable()) {
      stop_.store(true);
      thread_.join();
    }
  }
  long long Growth() const { return peak_.load() - base_; }

 private:
  long long base_;
  std::atomic<long long> peak_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// --- the plain libcurl peer: a new handle and connection for every POST ---

size_t CurlReadFile(char* buffer, size_t size, size_t count, void* file) {
  return std::fread(buffer, 1, size * count, static_cast<std::FILE*>(file));
}
size_t CurlCollect(char* data, size_t size, size_t count, void* reply) {
  static_cast<std::string*>(reply)->append(data, size * count);
  return size * count;
}

bool CurlPost(const std::string& url, const std::string& path, long long length) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  CURL* curl = curl_easy_init();
  std::string reply;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, CurlReadFile);
  curl_easy_setopt(curl, CURLOPT_READDATA, file);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CurlCollect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  // No "Expect: 100-continue" round trip: the procedures do not wait for one either.
  curl_slist* headers = curl_slist_append(nullptr, "Expect:");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  CURLcode code = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  curl_slist_free_all(headers);
  std::fclose(file);
  return code == CURLE_OK && reply == "1";
}

// --- 2,000 files of 2 KB ---

enum class Peer { kWinHttp, kWinInet, kCurl };

// Writes the small file anew. The procedures delete a file once it is accepted and curl
// does not: a peer that overwrote the file the other left would pay for the file
// system flushing the replaced blocks, so every peer starts from a new file.
void PrepareSmall(Bench& b, const std::string& file) {
  std::remove(file.c_str());
  vemtu::test::WriteFileBytes(file, b.small);
}

// Posts the small file once through `peer`; true when the reply was "1".
bool PostSmallOnce(Bench& b, Peer peer, const std::string& file, const std::string& url) {
  switch (peer) {
    case Peer::kWinHttp:
      return vemtu::SendWinHTTPPOST(b.ctx, b.winhttp, "127.0.0.1", "/tfr_K.asp?mmid=1&sid=2&rid=3&rty=4",
                                    "HTTP", file, nullptr, nullptr, b.server.port()) == 1;
    case Peer::kWinInet:
      return vemtu::SendPOST(b.ctx, "127.0.0.1", "/tfr_K.asp?mmid=1&sid=2&rid=3&rty=4", "HTTP", file,
                             nullptr, nullptr, b.server.port(), 30000) == 1;
    case Peer::kCurl:
      return CurlPost(url, file, static_cast<long long>(b.small.size()));
  }
  return false;
}

void PostSmallFiles(benchmark::State& state, Peer peer) {
  Bench& b = Shared();
  b.server.SetDefault(Reply::Status(200, "1"));
  std::string file = b.dir / "K_1.xml";
  std::string url = b.server.BaseUrl() + "/tfr_K.asp?mmid=1&sid=2&rid=3&rty=4";
  std::size_t failures = 0;
  std::size_t connections_before = b.server.ConnectionCount();
  for (auto _ : state) {
    PrepareSmall(b, file);
    bool ok = PostSmallOnce(b, peer, file, url);
    if (!ok) ++failures;
  }
  std::remove(b.ctx.transfer_log_path.c_str());
  state.counters["failures"] = static_cast<double>(failures);
  state.counters["connections_per_post"] =
      static_cast<double>(b.server.ConnectionCount() - connections_before) /
      static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(kSmallBody));
}

void BM_Small_SendWinHTTPPOST(benchmark::State& s) { PostSmallFiles(s, Peer::kWinHttp); }
void BM_Small_SendPOST(benchmark::State& s) { PostSmallFiles(s, Peer::kWinInet); }
void BM_Small_Curl(benchmark::State& s) { PostSmallFiles(s, Peer::kCurl); }
BENCHMARK(BM_Small_Curl)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Small_SendWinHTTPPOST)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Small_SendPOST)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The three peers in turn, file after file, so that all of them meet the same load on a
// shared machine; the counters give each procedure's rate as a share of curl's.
void BM_Small_SideBySide(benchmark::State& state) {
  Bench& b = Shared();
  b.server.SetDefault(Reply::Status(200, "1"));
  std::string file = b.dir / "K_1.xml";
  std::string url = b.server.BaseUrl() + "/tfr_K.asp?mmid=1&sid=2&rid=3&rty=4";
  using Clock = std::chrono::steady_clock;
  Clock::duration spent[3] = {};
  std::size_t failures = 0;
  // The six orders in turn: each peer goes first as often as the others, and follows
  // each other peer as often (the one after another meets the server still closing the
  // previous connection, unless that peer kept its connection).
  Peer order[] = {Peer::kCurl, Peer::kWinHttp, Peer::kWinInet};
  for (auto _ : state) {
    std::next_permutation(std::begin(order), std::end(order));
    for (Peer peer : order) {
      PrepareSmall(b, file);  // not counted: the same for every peer
      auto start = Clock::now();
      if (!PostSmallOnce(b, peer, file, url)) ++failures;
      spent[static_cast<int>(peer)] += Clock::now() - start;
    }
  }
  std::remove(b.ctx.transfer_log_path.c_str());
  auto rate = [&](Peer peer) {
    double seconds = std::chrono::duration<double>(spent[static_cast<int>(peer)]).count();
    return static_cast<double>(state.iterations()) / seconds;
  };
  state.counters["curl_per_s"] = rate(Peer::kCurl);
  state.counters["winhttp_per_s"] = rate(Peer::kWinHttp);
  state.counters["wininet_per_s"] = rate(Peer::kWinInet);
  state.counters["winhttp_vs_curl"] = rate(Peer::kWinHttp) / rate(Peer::kCurl);
  state.counters["wininet_vs_curl"] = rate(Peer::kWinInet) / rate(Peer::kCurl);
  state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_Small_SideBySide)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The floor under SendPOST: the same exchange as bare library calls on this thread,
// without worker threads, transfer log entries or a body file.
void BM_Small_WinInetCallsOnly(benchmark::State& state) {
  Bench& b = Shared();
  b.server.SetDefault(Reply::Status(200, "1"));
  char reply[4096];
  for (auto _ : state) {
    HINTERNET session = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(b.server.port()),
                                            nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestA(connection, "POST", "/tfr_K.asp", "HTTP/1.0", nullptr,
                                         nullptr, 0x84400000, 0);
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(kSmallBody);
    HttpSendRequestExA(request, &buffers, nullptr, HSR_INITIATE, 0);
    DWORD count = 0;
    InternetWriteFile(request, b.small.data(), static_cast<DWORD>(kSmallBody), &count);
    HttpEndRequestA(request, nullptr, 0, 0);
    do {
      DWORD available = 0;
      InternetQueryDataAvailable(request, &available, 0, 0);
      count = 0;
      if (!InternetReadFile(request, reply, sizeof reply, &count)) break;
    } while (count > 0);
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Small_WinInetCallsOnly)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// --- one file of 200 MB (the reply "0" keeps it for the next round) ---

void PostLargeFile(benchmark::State& state, Peer peer) {
  Bench& b = Shared();
  b.MakeLarge();
  b.server.SetDefault(Reply::Status(200, "0"));
  std::string url = b.server.BaseUrl() + "/tfr_L.asp";
  long long growth = 0;
  for (auto _ : state) {
    RssWatch watch;
    switch (peer) {
      case Peer::kWinHttp:
        vemtu::SendWinHTTPPOST(b.ctx, b.winhttp, "127.0.0.1", "/tfr_L.asp", "HTTP", b.large_path,
                               nullptr, nullptr, b.server.port());
        break;
      case Peer::kWinInet:
        vemtu::SendPOST(b.ctx, "127.0.0.1", "/tfr_L.asp", "HTTP", b.large_path, nullptr, nullptr,
                        b.server.port(), 30000);
        break;
      case Peer::kCurl:
        CurlPost(url, b.large_path, static_cast<long long>(kLargeBody));
        break;
    }
    watch.Stop();
    if (watch.Growth() > growth) growth = watch.Growth();
    // Only whole bodies count.
    auto requests = b.server.Requests();
    if (requests.empty() || !requests.back().body_complete ||
        requests.back().body_size != kLargeBody) {
      state.SkipWithError("the server did not receive the whole body");
      break;
    }
  }
  std::remove(b.ctx.transfer_log_path.c_str());
  state.counters["rss_growth_KB"] = static_cast<double>(growth) / 1024.0;
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(kLargeBody));
}

void BM_Large_SendWinHTTPPOST(benchmark::State& s) { PostLargeFile(s, Peer::kWinHttp); }
void BM_Large_SendPOST(benchmark::State& s) { PostLargeFile(s, Peer::kWinInet); }
void BM_Large_Curl(benchmark::State& s) { PostLargeFile(s, Peer::kCurl); }
BENCHMARK(BM_Large_Curl)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_SendWinHTTPPOST)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_SendPOST)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

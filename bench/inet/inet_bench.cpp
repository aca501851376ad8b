// Posting through the WinINet and WinHTTP stand-ins beside a plain libcurl loop that
// opens a new connection per post, in the same run and against the same loopback
// server: 2,000 bodies of 2 KB, and one body of 200 MB written in 4096-byte chunks.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstring>
#include <string>

#include "platform/library.h"
#include "support/scripted_server.h"
#include "winhttp.h"
#include "wininet.h"

namespace {

using vemtu::test::Reply;
using vemtu::test::ScriptedServer;

constexpr int kSmallPosts = 2000;
constexpr std::size_t kSmallBody = 2048;
constexpr std::size_t kLargeBody = 200u << 20;
constexpr std::size_t kChunk = 4096;

ScriptedServer& Server() {
  static ScriptedServer* server = [] {
    ScriptedServer::Options options;
    options.body_keep_limit = 0;
    auto* s = new ScriptedServer(options);
    s->SetDefault(Reply::Status(200, "1"));
    return s;
  }();
  return *server;
}

// ---- Plain libcurl: a new handle (and connection) per post ----

struct Source {
  std::size_t left;
  const std::string* chunk;
};

// Fills curl's whole buffer each time: the fastest a caller can feed it.
size_t ReadChunks(char* buffer, size_t size, size_t count, void* data) {
  auto* source = static_cast<Source*>(data);
  std::size_t take = std::min(size * count, source->left);
  for (std::size_t done = 0; done < take;) {
    std::size_t part = std::min(take - done, source->chunk->size());
    std::memcpy(buffer + done, source->chunk->data(), part);
    done += part;
  }
  source->left -= take;
  return take;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

bool CurlPost(const std::string& url, std::size_t length, const std::string& chunk) {
  CURL* easy = curl_easy_init();
  Source source{length, &chunk};
  curl_slist* headers = curl_slist_append(nullptr, "Expect:");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length));
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, ReadChunks);
  curl_easy_setopt(easy, CURLOPT_READDATA, &source);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  bool ok = curl_easy_perform(easy) == CURLE_OK;
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  return ok;
}

// ---- The stand-ins, driven as the transport drives them ----

bool WinInetPost(int port, std::size_t length, const std::string& chunk) {
  HINTERNET session = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connection = InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(port),
                                          nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = HttpOpenRequestA(connection, "POST", "/post", "HTTP/1.0", nullptr, nullptr,
                                       0x84400000, 0);
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = static_cast<DWORD>(length);
  bool ok = HttpSendRequestExA(request, &buffers, nullptr, HSR_INITIATE, 0);
  for (std::size_t sent = 0; ok && sent < length; sent += chunk.size()) {
    DWORD written = 0;
    ok = InternetWriteFile(request, chunk.data(),
                           static_cast<DWORD>(std::min(chunk.size(), length - sent)), &written);
  }
  ok = ok && HttpEndRequestA(request, nullptr, 0, 0);
  char reply[4096];
  DWORD got = 1;
  while (ok && got > 0) ok = InternetReadFile(request, reply, sizeof reply, &got);
  InternetCloseHandle(request);
  InternetCloseHandle(connection);
  InternetCloseHandle(session);
  return ok;
}

struct WinHttpApi {
  vemtu::platform::Library library = vemtu::platform::Library::Load("WinHttp.dll");
  template <typename F>
  F Get(const char* name) const { return reinterpret_cast<F>(library.Resolve(name)); }
  decltype(&::WinHttpOpen) Open = Get<decltype(Open)>("WinHttpOpen");
  decltype(&::WinHttpConnect) Connect = Get<decltype(Connect)>("WinHttpConnect");
  decltype(&::WinHttpOpenRequest) OpenRequest = Get<decltype(OpenRequest)>("WinHttpOpenRequest");
  decltype(&::WinHttpSendRequest) Send = Get<decltype(Send)>("WinHttpSendRequest");
  decltype(&::WinHttpWriteData) Write = Get<decltype(Write)>("WinHttpWriteData");
  decltype(&::WinHttpReceiveResponse) Receive = Get<decltype(Receive)>("WinHttpReceiveResponse");
  decltype(&::WinHttpReadData) Read = Get<decltype(Read)>("WinHttpReadData");
  decltype(&::WinHttpCloseHandle) Close = Get<decltype(Close)>("WinHttpCloseHandle");
};

bool WinHttpPost(const WinHttpApi& api, int port, std::size_t length, const std::string& chunk) {
  HINTERNET session = api.Open(u"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = api.Connect(session, u"127.0.0.1", static_cast<INTERNET_PORT>(port), 0);
  HINTERNET request = api.OpenRequest(connection, u"POST", u"/post", nullptr, nullptr, nullptr, 0);
  bool ok = api.Send(request, nullptr, 0, nullptr, 0, static_cast<DWORD>(length), 0);
  for (std::size_t sent = 0; ok && sent < length; sent += chunk.size()) {
    DWORD written = 0;
    ok = api.Write(request, chunk.data(),
                   static_cast<DWORD>(std::min(chunk.size(), length - sent)), &written);
  }
  ok = ok && api.Receive(request, nullptr);
  char reply[4096];
  DWORD got = 1;
  while (ok && got > 0) ok = api.Read(request, reply, sizeof reply, &got);
  api.Close(request);
  api.Close(connection);
  api.Close(session);
  return ok;
}

enum Client { kCurl, kWinInet, kWinHttp };

void Post(benchmark::State& state, Client client, std::size_t length, int posts) {
  static const WinHttpApi api;
  std::string chunk(std::min(length, kChunk), 'x');
  int port = Server().port();
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/post";
  for (auto _ : state) {
    for (int i = 0; i < posts; ++i) {
      bool ok = client == kCurl      ? CurlPost(url, length, chunk)
                : client == kWinInet ? WinInetPost(port, length, chunk)
                                     : WinHttpPost(api, port, length, chunk);
      if (!ok) state.SkipWithError("post failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * posts);
  state.SetBytesProcessed(state.iterations() * posts * static_cast<std::int64_t>(length));
}

void BM_SmallPosts(benchmark::State& state) {
  Post(state, static_cast<Client>(state.range(0)), kSmallBody, kSmallPosts);
}
void BM_LargeBody(benchmark::State& state) {
  Post(state, static_cast<Client>(state.range(0)), kLargeBody, 1);
}

// 0: plain libcurl, 1: WinINet stand-in, 2: WinHTTP stand-in.
BENCHMARK(BM_SmallPosts)->Arg(kCurl)->Arg(kWinInet)->Arg(kWinHttp)->Arg(kCurl)->Iterations(1)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LargeBody)->Arg(kCurl)->Arg(kWinInet)->Arg(kWinHttp)->Iterations(2)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

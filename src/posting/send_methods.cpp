// The cascade's seven rows over the transport's six send procedures.
#include "posting/dispatch_post.h"
#include "transport/send_procedures.h"

namespace vemtu {

namespace {

// The WinHTTP rows need the process-wide connection; without it they fail.
template <typename Send>
int WithWinHttp(PostingSession& session, Send send) {
  return session.winhttp ? send(*session.winhttp) : 0;
}

}  // namespace

SendMethodTable StandardSendMethods() {
  return SendMethodTable{{
      {1, "SendWinHTTPPOST",
       [](PostingSession& s, const SendTarget& t) {
         return WithWinHttp(s, [&](CZWinHTTPConnect& w) {
           return SendWinHTTPPOST(s.ctx, w, t.host, t.request_path, t.scheme, t.file_path, nullptr,
                                  nullptr, t.port, t.body);
         });
       },
       true},
      {2, "SendProxyWinHTTPPOST",
       [](PostingSession& s, const SendTarget& t) {
         return WithWinHttp(s, [&](CZWinHTTPConnect& w) {
           return SendProxyWinHTTPPOST(s.ctx, w, t.host, t.request_path, t.scheme, t.file_path,
                                       nullptr, nullptr, t.port, 0, t.body);
         });
       },
       true},
      {3, "SendDefaultProxyWinHTTPPOST",
       [](PostingSession& s, const SendTarget& t) {
         return WithWinHttp(s, [&](CZWinHTTPConnect& w) {
           return SendDefaultProxyWinHTTPPOST(s.ctx, w, t.host, t.request_path, t.scheme,
                                              t.file_path, nullptr, nullptr, t.port, t.body);
         });
       },
       true},
      {4, "SendProxyWinHTTPPOST",
       [](PostingSession& s, const SendTarget& t) {
         return WithWinHttp(s, [&](CZWinHTTPConnect& w) {
           return SendProxyWinHTTPPOST(s.ctx, w, t.host, t.request_path, t.scheme, t.file_path,
                                       nullptr, nullptr, t.port, 1, t.body);
         });
       },
       true},
      {5, "SendPOST",
       [](PostingSession& s, const SendTarget& t) {
         return SendPOST(s.ctx, t.host, t.request_path, t.scheme, t.file_path, nullptr, nullptr,
                         t.port, kWorkerTimeoutMs, t.body);
       },
       false},
      {6, "SendProxyPOST",
       [](PostingSession& s, const SendTarget& t) {
         return SendProxyPOST(s.ctx, t.host, t.request_path, t.scheme, t.file_path, nullptr,
                              nullptr, t.port, kWorkerTimeoutMs, t.body);
       },
       false},
      {7, "SendDefaultProxyPOST",
       [](PostingSession& s, const SendTarget& t) {
         return SendDefaultProxyPOST(s.ctx, t.host, t.request_path, t.scheme, t.file_path, nullptr,
                                     nullptr, t.port, kWorkerTimeoutMs, t.retry_rename, t.body);
       },
       false},
  }};
}

}  // namespace vemtu

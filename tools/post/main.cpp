// vemtu-post: posts one file through one send procedure, exactly as the agent would,
// and reports the procedure's result. The transfer log lines go to --log.
//
//   vemtu-post --method N|NAME --host H --port P --path REQUEST_PATH --file FILE
//              --log TRANSFER_LOG [--scheme HTTP|HTTPS] [--proxy-address A]
//              [--proxy-port P] [--proxy-user U] [--proxy-password W]
//              [--error-folder DIR] [--timeout MS] [--config-ini INI]
//              [--prefix TEXT] [--suffix TEXT]
//              [--winhttp-library NAME] [--winhttp-fallback NAME]
//              [--wininet-check-certificates 0|1]
//
// Methods by number as the agent's cascade counts them: 1 SendWinHTTPPOST,
// 2 SendProxyWinHTTPPOST, 3 SendDefaultProxyWinHTTPPOST, 4 SendProxyWinHTTPPOST with
// the proxy also set on the request, 5 SendPOST, 6 SendProxyPOST, 7 SendDefaultProxyPOST.
// Exit code: 0 when the procedure returned 1, 1 when it returned 0, 2 for a usage error.
// The last line says what happened, from the lines the procedure wrote to the log:
// accepted, refused (a reply other than "1") or not delivered (an error number).
#include <cstdio>
#include <map>
#include <string>

#include "common/fixed_text.h"
#include "common/run_context.h"
#include "log_reader.h"
#include "platform/files.h"
#include "transport/send_procedures.h"
#include "transport/winhttp_connect.h"
#include "tool_version.h"

namespace {

using vemtu::CZWinHTTPConnect;
using vemtu::RunContext;

struct Arguments {
  std::map<std::string, std::string> values;
  std::string Get(const std::string& key, const std::string& fallback = "") const {
    auto it = values.find(key);
    return it == values.end() ? fallback : it->second;
  }
  bool Has(const std::string& key) const { return values.count(key) != 0; }
};

const char* const kMethodNames[] = {"SendWinHTTPPOST",      "SendProxyWinHTTPPOST",
                                    "SendDefaultProxyWinHTTPPOST", "SendProxyWinHTTPPOST",
                                    "SendPOST",             "SendProxyPOST",
                                    "SendDefaultProxyPOST"};

// 1 to 7, or 0 when the text names no method.
int MethodNumber(const std::string& text) {
  long long number = vemtu::LeadingNumber(text);
  if (number >= 1 && number <= 7 && std::to_string(number) == text) return static_cast<int>(number);
  for (int i = 0; i < 7; ++i) {
    if (text == kMethodNames[i]) return i + 1;
  }
  return 0;
}

const char kUsage[] =
    "usage: vemtu-post --method N|NAME --host H --port P --path REQUEST_PATH\n"
    "                  --file FILE --log TRANSFER_LOG [--scheme HTTP|HTTPS]\n"
    "                  [--proxy-address A] [--proxy-port P] [--proxy-user U]\n"
    "                  [--proxy-password W] [--error-folder DIR] [--timeout MS]\n"
    "                  [--config-ini INI] [--prefix TEXT] [--suffix TEXT]\n"
    "                  [--winhttp-library NAME] [--winhttp-fallback NAME]\n"
    "                  [--wininet-check-certificates 0|1]\n"
    "\n"
    "Posts FILE once through one send procedure, exactly as the agent would: the reply 1\n"
    "deletes FILE, and the procedure's log lines go to TRANSFER_LOG. REQUEST_PATH is the\n"
    "object name and query, e.g. /dc/tfr_ABC.asp?mmid=1001&sid=42&rid=REG-0001&rty=TVQA.\n"
    "The proxy user name and password are given in clear text here.\n"
    "\n"
    "Methods, numbered in the agent's cascade order:\n"
    "  1 SendWinHTTPPOST              WinHTTP, direct\n"
    "  2 SendProxyWinHTTPPOST         WinHTTP, the configured proxy (else the default one)\n"
    "  3 SendDefaultProxyWinHTTPPOST  WinHTTP, the system's default proxy\n"
    "  4 SendProxyWinHTTPPOST         as 2, with the proxy also set on the request\n"
    "  5 SendPOST                     WinINet, direct\n"
    "  6 SendProxyPOST                WinINet, the configured proxy (else the default one)\n"
    "  7 SendDefaultProxyPOST         WinINet, the default proxy; renames a refused file\n"
    "                                 (X.xml -> X.xml1 ... X.xml5, then --error-folder)\n"
    "\n"
    "The last line says what happened: accepted; refused (the reply was not \"1\", or an\n"
    "HTTP status of 300 or more); or not delivered (an error number, its step and text).\n"
    "Exit code: 0 when the procedure returned 1, 1 when it returned 0, 2 for misuse.\n";

long long LogSize(const std::string& path) {
  auto file = vemtu::platform::File::Open(path, vemtu::platform::OpenMode::kReadExisting);
  return file.IsOpen() ? file.Size() : 0;
}

// The verdict on one attempt, from the log lines it added after `start`.
std::string Verdict(const std::string& log, long long start, int result) {
  std::string text = vemtu::check::ReadLogTail(log, 4 * 1024 * 1024);
  long long size = LogSize(log);
  // The log restarts past 2 MiB: then all of it is new.
  std::size_t from = start <= size && size - start <= static_cast<long long>(text.size())
                         ? text.size() - static_cast<std::size_t>(size - start)
                         : 0;
  std::string reply, failure;
  for (const auto& e : vemtu::check::ParseLogText(std::string_view(text).substr(from))) {
    if (e.message.rfind("MSG: Return text from ", 0) == 0) reply = e.detail1;
    if (e.event != 0) continue;
    std::string step = e.message.rfind("ERR\t", 0) == 0 ? e.message.substr(4) : e.message;
    if (e.detail2 == "No text returned") {
      reply.clear();
      failure = "refused: no reply text";
    } else if (e.error >= 300 && e.error < 600) {
      failure = "refused: HTTP status " + std::to_string(e.error) +
                (e.detail3.empty() ? "" : ", page \"" + e.detail3 + "\"");
    } else {
      failure = "not delivered: error " + std::to_string(e.error) + " at " + step +
                (e.error_text.empty() ? "" : ": " + e.error_text);
    }
  }
  if (result == 1) return "accepted: the reply was \"1\"; the file is deleted";
  if (!failure.empty()) return failure;
  if (!reply.empty()) return "refused: the reply was \"" + reply + "\", not \"1\"";
  return "not delivered (no log line tells why)";
}

int Usage(const char* why) {
  std::fprintf(stderr, "vemtu-post: %s\n%s", why, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (vemtu::tools::AsksVersion(argc, argv)) return vemtu::tools::PrintVersion("vemtu-post");
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    std::string key = argv[i];
    if (key == "--help" || key == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (key.rfind("--", 0) != 0 || i + 1 >= argc) return Usage(("unexpected " + key).c_str());
    args.values[key.substr(2)] = argv[++i];
  }
  int method = MethodNumber(args.Get("method"));
  if (method == 0) return Usage("--method must be 1 to 7 or a procedure name");
  for (const char* required : {"host", "port", "path", "file", "log"}) {
    if (!args.Has(required)) return Usage((std::string("--") + required + " is required").c_str());
  }

  RunContext ctx;
  ctx.transfer_log_path = args.Get("log");
  ctx.error_folder = args.Get("error-folder");
  ctx.proxy_address = args.Get("proxy-address");
  ctx.proxy_port = args.Get("proxy-port");
  ctx.proxy_user_name = args.Get("proxy-user");
  ctx.proxy_password = args.Get("proxy-password");
  // As the agent INI's WinInetCheckCertificates: 1 makes the WinINet methods check.
  ctx.wininet_checks_certificates = vemtu::LeadingNumber(args.Get("wininet-check-certificates")) != 0;

  unsigned long timeout = vemtu::kWorkerTimeoutMs;
  if (args.Has("timeout")) timeout = static_cast<unsigned long>(vemtu::LeadingNumber(args.Get("timeout")));
  std::string host = args.Get("host");
  std::string path = args.Get("path");
  std::string scheme = args.Get("scheme", "HTTP");
  std::string file = args.Get("file");
  std::string prefix = args.Get("prefix");
  std::string suffix = args.Get("suffix");
  const char* prefix_text = args.Has("prefix") ? prefix.c_str() : nullptr;
  const char* suffix_text = args.Has("suffix") ? suffix.c_str() : nullptr;
  int port = static_cast<int>(vemtu::LeadingNumber(args.Get("port")));

  CZWinHTTPConnect winhttp(timeout, args.Get("winhttp-library", "WinHttp.dll"),
                           args.Get("winhttp-fallback", "WinHttp5.dll"));
  if (method <= 4) {
    if (!winhttp.ZLoadWinHttp()) std::fprintf(stderr, "vemtu-post: WinHTTP cannot be bound\n");
    if (args.Has("config-ini")) winhttp.ZReadWriteDataSettings(args.Get("config-ini"));
  }

  const long long log_start = LogSize(ctx.transfer_log_path.str());
  int result = 0;
  switch (method) {
    case 1:
      result = vemtu::SendWinHTTPPOST(ctx, winhttp, host, path, scheme, file, prefix_text, suffix_text, port);
      break;
    case 2:
    case 4:
      result = vemtu::SendProxyWinHTTPPOST(ctx, winhttp, host, path, scheme, file, prefix_text,
                                           suffix_text, port, method == 4 ? 1 : 0);
      break;
    case 3:
      result = vemtu::SendDefaultProxyWinHTTPPOST(ctx, winhttp, host, path, scheme, file,
                                                  prefix_text, suffix_text, port);
      break;
    case 5:
      result = vemtu::SendPOST(ctx, host, path, scheme, file, prefix_text, suffix_text, port, timeout);
      break;
    case 6:
      result = vemtu::SendProxyPOST(ctx, host, path, scheme, file, prefix_text, suffix_text, port, timeout);
      break;
    case 7:
      result = vemtu::SendDefaultProxyPOST(ctx, host, path, scheme, file, prefix_text, suffix_text,
                                           port, timeout);
      break;
  }
  std::printf("%s returned %d\n%s\n", kMethodNames[method - 1], result,
              Verdict(ctx.transfer_log_path.str(), log_start, result).c_str());
  std::fflush(stdout);
  return result == 1 ? 0 : 1;
}

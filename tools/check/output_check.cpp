#include "output_check.h"

#include "platform/errors.h"
#include "posting/dispatch_post.h"
#include "posting/post_names.h"
#include "transport/send_procedures.h"
#include "transport/winhttp_connect.h"
#include "transport/xml_encryption_client.h"
#include "transport_errors.h"

namespace vemtu::check {

namespace {

constexpr unsigned long kProxyAuthenticationRequired = 407;
// A GET meets this where the data centre serves POSTs only: the way there is open.
constexpr unsigned long kMethodNotAllowed = 405;

// Method 4 is procedure 2 with the proxy also set on the request.
constexpr int kRequestProxyMethod = 4;

void Decipher(AgentSetup& agent, std::vector<std::string>& notes) {
  std::string user = agent.Value("ProxyUserName");
  if (user.empty()) return;
  CXMLEncryptionClient client;
  if (!client.CreateComponent()) {
    notes.push_back(
        "the cipher component cannot be created: a run would end before posting; "
        "the proxy is tried without credentials");
    return;
  }
  client.DecryptText(user, agent.ctx.proxy_user_name);
  std::string password = agent.Value("ProxyPassword");
  if (!password.empty()) client.DecryptText(password, agent.ctx.proxy_password);
  if (agent.ctx.proxy_user_name.empty())
    notes.push_back("ProxyUserName cannot be deciphered: the proxy is tried without credentials");
}

// The way a method goes: through the configured proxy, through the default proxy, or
// direct (methods 1 and 5).
std::string Route(const AgentSetup& agent, int method) {
  if (method == 1 || method == 5) return {};
  const bool named = !agent.ctx.proxy_address.empty() && (method == 2 || method == 4 || method == 6);
  return named ? "the proxy " + agent.ctx.proxy_address.str() + ":" + agent.ctx.proxy_port.str()
               : "the default proxy";
}

// Words for what a probe found; `route` is the proxy the method goes through, if any.
void Describe(const ProbeOutcome& outcome, const std::string& route, MethodProbe& row) {
  row.error = outcome.error;
  if (outcome.replied && outcome.error == kProxyAuthenticationRequired) {
    row.outcome = "the proxy refused the credentials (HTTP 407)";
    return;
  }
  if (outcome.replied) {
    row.usable = true;
    if (outcome.error == kMethodNotAllowed)
      row.outcome = "reached (the server answers POSTs only)";
    else
      row.outcome = outcome.error
                        ? "reached the data centre (HTTP " + std::to_string(outcome.error) + ")"
                        : "reached the data centre";
    return;
  }
  row.error_text = platform::ErrorText(static_cast<int>(outcome.error));
  const SendFailure failure = ClassifySendError(static_cast<long long>(outcome.error));
  const bool way_closed = failure == SendFailure::kUnreachable;
  // Through a proxy, only the proxy itself can fail to connect: one that cannot reach
  // the site answers with an HTTP status instead.
  if (way_closed && !route.empty() && route != "the default proxy")
    row.outcome = route + " does not answer (at " + outcome.step + ")";
  else if (way_closed && !route.empty())
    row.outcome = "no way through " + route + ", or direct when none is set (at " + outcome.step + ")";
  else if (failure == SendFailure::kCertificate)
    row.outcome = "the server's certificate is not trusted (at " + outcome.step + ")";
  else
    row.outcome = "failed at " + outcome.step;
}

}  // namespace

std::vector<MethodProbe> CheckOutput(AgentSetup& agent, unsigned long timeout_ms,
                                     std::vector<std::string>& notes) {
  Decipher(agent, notes);
  CZWinHTTPConnect winhttp(timeout_ms);
  bool winhttp_bound = winhttp.ZLoadWinHttp() == 1;
  if (!winhttp_bound) notes.push_back("WinHTTP cannot be loaded: a run skips methods 1 to 4");

  std::vector<MethodProbe> rows;
  for (const char* key : {"ControllerPSite", "ControllerSSite"}) {
    std::string site = agent.Value(key);
    if (site.empty()) continue;
    UrlParts parts;
    if (!SplitUrl(site, parts)) {
      notes.push_back(std::string(key) + " \"" + site +
                      "\" is malformed (not scheme://host[:port]/path): nothing is posted to it");
      continue;
    }
    std::string path = "/" + parts.base_path.str();
    for (const SendMethod& method : StandardSendMethods()) {
      MethodProbe row;
      row.number = method.number;
      row.name = method.name;
      row.site = site;
      if (method.needs_winhttp && !winhttp_bound) {
        row.outcome = "skipped: WinHTTP not available";
      } else {
        Describe(ProbeSendProcedure(method.name, method.number == kRequestProxyMethod, agent.ctx,
                                    &winhttp, parts.host.str(), path, parts.scheme.str(),
                                    parts.port, "GET", timeout_ms),
                 Route(agent, method.number), row);
      }
      rows.push_back(row);
    }
  }
  if (winhttp_bound) winhttp.ZUnloadWinHttp();
  return rows;
}

}  // namespace vemtu::check

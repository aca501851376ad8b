#include "output_check.h"

#include "platform/errors.h"
#include "posting/dispatch_post.h"
#include "posting/post_names.h"
#include "transport/send_procedures.h"
#include "transport/winhttp_connect.h"
#include "transport/xml_encryption_client.h"

namespace vemtu::check {

namespace {

constexpr unsigned long kProxyAuthenticationRequired = 407;

// Method 4 is procedure 2 with the proxy also set on the request.
constexpr int kRequestProxyMethod = 4;

void Decipher(AgentFolder& agent, std::vector<std::string>& notes) {
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

// Words for what a probe found.
void Describe(const ProbeOutcome& outcome, MethodProbe& row) {
  row.error = outcome.error;
  if (outcome.replied && outcome.error == kProxyAuthenticationRequired) {
    row.outcome = "the proxy refused the credentials (HTTP 407)";
    return;
  }
  if (outcome.replied) {
    row.usable = true;
    row.outcome = outcome.error
                      ? "reached the data centre (HTTP " + std::to_string(outcome.error) + ")"
                      : "reached the data centre";
    return;
  }
  row.outcome = "failed at " + outcome.step;
  row.error_text = platform::ErrorText(static_cast<int>(outcome.error));
}

}  // namespace

std::vector<MethodProbe> CheckOutput(AgentFolder& agent, unsigned long timeout_ms,
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
      notes.push_back(std::string(key) + " \"" + site + "\" is not a URL: nothing is posted to it");
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
                 row);
      }
      rows.push_back(row);
    }
  }
  if (winhttp_bound) winhttp.ZUnloadWinHttp();
  return rows;
}

}  // namespace vemtu::check

// dcsim: a stand-in for the data centre that the posting agent sends its files to.
// Serves POSTs at <path>/tfr_<prefix>.asp?mmid=..&sid=..&rid=..&rty=.. over HTTP, HTTPS
// and a forward proxy, stores every request under the output folder and answers "1"
// unless a rule says otherwise. Runs until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "reply_rules.h"
#include "request_store.h"
#include "server.h"
#include "tool_version.h"

namespace {

const char kUsage[] =
    "usage: dcsim --out DIR [options]\n"
    "\n"
    "A stand-in for the data centre on this machine. It answers the agent's POSTs to\n"
    "<path>/tfr_<prefix>.asp?mmid=..&sid=..&rid=..&rty=.. on three ports of one address:\n"
    "plain HTTP, HTTPS (a fresh self-signed certificate unless --cert/--key), and a forward\n"
    "proxy that serves absolute-form requests and CONNECT tunnels itself, whatever host\n"
    "they name (so a site such as http://127.0.0.9/dc, where nothing listens, is reached\n"
    "through the proxy only). It prints \"http=PORT https=PORT proxy=PORT\" and runs until\n"
    "SIGINT or SIGTERM.\n"
    "\n"
    "Options:\n"
    "  --out DIR              folder for what was received (created if missing)\n"
    "  --bind ADDR            listening address (default 127.0.0.1)\n"
    "  --http-port N          plain HTTP port (default: any free port)\n"
    "  --https-port N         HTTPS port (default: any free port)\n"
    "  --proxy-port N         forward-proxy port (default: any free port)\n"
    "  --proxy-user U         the proxy demands Basic credentials U and --proxy-password\n"
    "  --proxy-password P     (without --proxy-user the proxy asks for none)\n"
    "  --expect-query Q       the query must equal Q byte for byte (else 400)\n"
    "  --script FILE          reply rules, reread whenever the file changes\n"
    "  --rule 'RULE'          one reply rule (repeatable), e.g. --rule 'prefix=ABC reply=0'\n"
    "  --cert FILE --key FILE TLS identity in PEM\n"
    "  --cert-out FILE        write the certificate in use (PEM), e.g. for a trust store\n"
    "  --ports-file FILE      write the ports line to FILE once listening\n"
    "  --idle-seconds N       close a connection silent for N seconds (default 5)\n"
    "  --help                 this text\n"
    "\n"
    "Replies. A request is answered 1 (status 200) unless a rule says otherwise. Rules come\n"
    "from --rule options and from the --script file, one per line (blank lines and lines\n"
    "starting with # are ignored):\n"
    "  SELECTOR SETTING...\n"
    "  selectors: default        every request no other rule takes\n"
    "             prefix=NAME    pages tfr_NAME.asp (letter case ignored)\n"
    "             request=N      the Nth request the data centre served (1 = first)\n"
    "  settings:  reply=TEXT     the reply body (page=TEXT is the same)\n"
    "             status=CODE    the HTTP status (default 200)\n"
    "             delay=MS       wait before answering\n"
    "             drop           close the connection without answering\n"
    "             times=N        the rule serves its first N matches only, then steps aside\n"
    "  escapes in texts: \\s space, \\t, \\r, \\n, \\\\, \\xHH\n"
    "Precedence: a request=N rule wins over a prefix= rule, which wins over default; among\n"
    "rules of one kind, --rule options (in their order) come before the script's lines (in\n"
    "theirs), and the first that still has matches left answers. A request that is not a\n"
    "POST gets 405, a page other than tfr_<prefix>.asp 404, a query without the four keys\n"
    "mmid, sid, rid, rty in that order 400, before any rule is asked.\n"
    "\n"
    "Example script:\n"
    "  # refuse alerts twice, then accept them; the third request gets a server error\n"
    "  prefix=ALRT reply=0 times=2\n"
    "  request=3 status=500 page=busy\n"
    "  default delay=200\n"
    "\n"
    "What it keeps, in DIR:\n"
    "  NNNNNN.head, NNNNNN.body  each request the data centre served, as received\n"
    "  NNNNNN.unpacked           the inner text of a packed document\n"
    "  index.txt                 one line per request or connection seen, TAB-separated:\n"
    "      number, way (http, https, proxy, tunnel), method, target, prefix, body bytes,\n"
    "      packed (0/1), status, reply (escaped), local time.\n"
    "      Number \"-\" marks what the data centre did not serve: the proxy's 407 answers,\n"
    "      CONNECT tunnels, requests cut short (status cut) and failed TLS handshakes\n"
    "      (status tls, with OpenSSL's reason). Status drop: closed by a drop rule.\n"
    "A browser pointed at http://127.0.0.1:HTTP-PORT/ sees the same as a page (time, path\n"
    "and query, method, size, reply and the unpacked text of packed documents), reloaded\n"
    "every 2 seconds; page views are not recorded.\n";

// A whole number from 0 to `most` (a port: 0 for any free one); exits with a message otherwise.
int NumberValue(const std::string& option, const std::string& text, long most = 65535) {
  char* end = nullptr;
  long number = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || number < 0 || number > most) {
    std::fprintf(stderr, "dcsim: %s needs a number from 0 to %ld, not '%s'\n", option.c_str(), most,
                 text.c_str());
    std::exit(2);
  }
  return static_cast<int>(number);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "dcsim: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (vemtu::tools::AsksVersion(argc, argv)) return vemtu::tools::PrintVersion("dcsim");
  dcsim::ServerOptions options;
  dcsim::ReplyScript script;
  std::string out, ports_file, error;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "dcsim: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--out")
      out = value();
    else if (arg == "--bind")
      options.bind_address = value();
    else if (arg == "--http-port")
      options.http_port = NumberValue(arg, value());
    else if (arg == "--https-port")
      options.https_port = NumberValue(arg, value());
    else if (arg == "--proxy-port")
      options.proxy_port = NumberValue(arg, value());
    else if (arg == "--proxy-user")
      options.proxy_user = value();
    else if (arg == "--proxy-password")
      options.proxy_password = value();
    else if (arg == "--expect-query")
      options.expected_query = value();
    else if (arg == "--script")
      options.script_file = value();
    else if (arg == "--cert")
      options.cert_file = value();
    else if (arg == "--key")
      options.key_file = value();
    else if (arg == "--cert-out")
      options.cert_out = value();
    else if (arg == "--idle-seconds")
      options.idle_seconds = std::max(1, NumberValue(arg, value(), 3600));
    else if (arg == "--ports-file")
      ports_file = value();
    else if (arg == "--rule") {
      if (!script.AddFixed(value(), error)) return Fail(error);
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fputs(kUsage, stderr);
      return Fail("unknown option " + arg);
    }
  }
  if (out.empty()) {
    std::fputs(kUsage, stderr);
    return Fail("--out is required");
  }

  // The signals that end the simulator are taken by sigwait below, in no other thread.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  dcsim::RequestStore store(out);
  dcsim::Server server(options, script, store);
  dcsim::Ports ports;
  if (!server.Start(ports, error)) return Fail(error);

  char line[128];
  std::snprintf(line, sizeof line, "http=%d https=%d proxy=%d\n", ports.http, ports.https,
                ports.proxy);
  std::fputs(line, stdout);
  std::fflush(stdout);
  if (!ports_file.empty()) {
    // Written whole under a temporary name, so a reader never sees half a line.
    std::string temporary = ports_file + ".tmp";
    if (std::FILE* f = std::fopen(temporary.c_str(), "wb")) {
      std::fputs(line, f);
      std::fclose(f);
      std::rename(temporary.c_str(), ports_file.c_str());
    }
  }

  int signal_number = 0;
  sigwait(&stop, &signal_number);
  // Connection threads are detached and may still be serving: ending here, without
  // destroying the server under them (or stopping them all for a leak check), ends at once.
  std::fflush(nullptr);
  std::_Exit(0);
}

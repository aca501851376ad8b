// dcsim: a stand-in for the data centre that the posting agent sends its files to.
// Serves POSTs at <path>/tfr_<prefix>.asp?mmid=..&sid=..&rid=..&rty=.. over HTTP, HTTPS
// and a forward proxy, stores every request under the output folder and answers "1"
// unless a rule says otherwise. Runs until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "reply_rules.h"
#include "request_store.h"
#include "server.h"

namespace {

const char kUsage[] =
    "usage: dcsim --out DIR [options]\n"
    "  --out DIR              folder for the received requests (index.txt, NNNNNN.*)\n"
    "  --bind ADDR            listening address (default 127.0.0.1)\n"
    "  --http-port N          plain HTTP port (default: any free port)\n"
    "  --https-port N         HTTPS port (default: any free port)\n"
    "  --proxy-port N         forward-proxy port (default: any free port)\n"
    "  --proxy-user U         the proxy demands Basic credentials U and --proxy-password\n"
    "  --proxy-password P\n"
    "  --expect-query Q       the query must equal Q exactly (else 400)\n"
    "  --script FILE          reply rules, reread whenever the file changes\n"
    "  --rule 'RULE'          one reply rule (repeatable), e.g. 'prefix=ABC reply=0'\n"
    "  --cert FILE --key FILE TLS identity (default: a fresh self-signed certificate)\n"
    "  --cert-out FILE        write the self-signed certificate (PEM)\n"
    "  --ports-file FILE      write the ports line to FILE once listening\n"
    "Rules: default | prefix=NAME | request=N, then reply=TEXT status=CODE page=TEXT\n"
    "       delay=MS drop times=N (escapes in texts: \\s \\t \\r \\n \\\\ \\xHH).\n";

// A port number 0 to 65535 (0: any free port); exits with a message otherwise.
int PortValue(const std::string& option, const std::string& text) {
  char* end = nullptr;
  long port = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || port < 0 || port > 65535) {
    std::fprintf(stderr, "dcsim: %s needs a port number, not '%s'\n", option.c_str(), text.c_str());
    std::exit(2);
  }
  return static_cast<int>(port);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "dcsim: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
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
      options.http_port = PortValue(arg, value());
    else if (arg == "--https-port")
      options.https_port = PortValue(arg, value());
    else if (arg == "--proxy-port")
      options.proxy_port = PortValue(arg, value());
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
  return 0;
}

// kestrum-sandbox: a payment host on 127.0.0.1 for trying the component, its utility and its tests.
#include "sbcrypto.h"
#include "sbhost.h"
#include "sbhttp.h"
#include "sbstate.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: kestrum-sandbox --state DIR [--port N] [--tls] [--quiet]\n"
    "  --state DIR  state directory (created when missing)\n"
    "  --port N     port on 127.0.0.1; 0 or none: any free port\n"
    "  --tls        serve https with a certificate signed by DIR/ca.pem\n"
    "  --quiet      no log lines on standard error\n"
    "Prints its base URL as the first line of standard output and serves until SIGTERM or "
    "SIGINT.\n";

int Fail(const std::string& text)
{
  fprintf(stderr, "kestrum-sandbox: %s\n", text.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv)
{
  std::string stateDir;
  long port = 0;
  bool tls = false, quiet = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--tls") {
      tls = true;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if ((arg == "--state" || arg == "--port") && i + 1 < argc) {
      std::string value = argv[++i];
      if (arg == "--state") {
        stateDir = value;
      } else {
        char* end = nullptr;
        port = strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || port < 0 || port > 65535) {
          fprintf(stderr, "kestrum-sandbox: --port needs a number from 0 to 65535\n%s", kUsage);
          return 2;
        }
      }
    } else {
      fprintf(stderr, "kestrum-sandbox: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (stateDir.empty()) {
    fprintf(stderr, "kestrum-sandbox: --state DIR is required\n%s", kUsage);
    return 2;
  }

  // Termination arrives through a descriptor the accept loop polls, so every thread started later
  // inherits the blocked mask and a signal never interrupts a worker.
  signal(SIGPIPE, SIG_IGN);
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  if (pthread_sigmask(SIG_BLOCK, &mask, nullptr) != 0)
    return Fail("cannot block SIGTERM and SIGINT");
  int stopFd = signalfd(-1, &mask, SFD_CLOEXEC);
  if (stopFd < 0)
    return Fail("signalfd failed");

  std::string error;
  sandbox::State state;
  if (!state.Open(stateDir, error))
    return Fail(error);
  sandbox::HttpServer server;
  if (tls) {
    if (!sandbox::EnsureTlsMaterial(state.Dir(), error) ||
        !server.EnableTls(state.Dir() + "/server.pem", state.Dir() + "/server.key", error))
      return Fail(error);
  }
  if (!server.Listen(static_cast<int>(port), error))
    return Fail(error);

  const std::string baseUrl =
      std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(server.Port());
  printf("%s\n", baseUrl.c_str());
  fflush(stdout);

  sandbox::Host host(state, baseUrl, quiet);
  server.Run(stopFd, [&host](const sandbox::HttpRequest& req) { return host.Handle(req); });
  close(stopFd);
  if (!quiet)
    fprintf(stderr, "kestrum-sandbox: stopped\n");
  return 0;
}

// Runs the built kestrum program as a user would and collects what it wrote and its exit status.
#ifndef KESTRUM_RUNNER_H
#define KESTRUM_RUNNER_H

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace clitest {

constexpr int kRunSeconds = 120;  // a run that takes longer is killed (sanitizer builds are slow)

struct Outcome
{
  std::string out, err;
  int status = -1;  // exit status, or -1 when the program did not end normally
};

// Changes to the program's environment: a value sets the variable, a null value removes it.
using EnvChanges = std::vector<std::pair<std::string, const char*>>;

// Another user to run the program as (the test must run as root to use it).
struct RunAs
{
  uid_t uid;
  gid_t gid;
  // A directory with copies of kestrum and its library, run instead of the build's, which that user
  // may not reach (a clone in root's home, mode 0700); empty: the build's.
  std::string copies = {};
};

inline Outcome RunKestrum(const std::vector<std::string>& args, const EnvChanges& env = {},
                          const RunAs* user = nullptr)
{
  Outcome result;
  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0)
    return result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    for (int fd = 3; fd < 1024; ++fd)
      ::close(fd);
    // No password of the test machine's user leaks into a case that checks its absence.
    ::unsetenv("KESTRUM_PASSWORD");
    ::unsetenv("TBXDEBUG");
    if (user != nullptr &&
        (::setgroups(0, nullptr) != 0 || ::setgid(user->gid) != 0 || ::setuid(user->uid) != 0))
      ::_exit(126);
    for (const auto& change : env) {
      if (change.second != nullptr)
        ::setenv(change.first.c_str(), change.second, 1);
      else
        ::unsetenv(change.first.c_str());
    }
    std::vector<char*> argv;
    std::string program = KESTRUM_BIN;
    if (user != nullptr && !user->copies.empty()) {
      program = user->copies + "/kestrum";
      ::setenv("LD_LIBRARY_PATH", user->copies.c_str(), 1);
    }
    argv.push_back(&program[0]);
    std::vector<std::string> copy(args);
    for (auto& a : copy)
      argv.push_back(&a[0]);
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunSeconds);
  bool killed = false;
  while (open > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (::poll(fds, 2, 200) <= 0)
      continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& p : fds)
    if (p.fd >= 0)
      ::close(p.fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!killed && WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  return result;
}

inline std::string ReadFile(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text)
{
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline bool Exists(const std::string& path)
{
  return ::access(path.c_str(), F_OK) == 0;
}

}  // namespace clitest

#endif

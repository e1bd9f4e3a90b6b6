// Programs a test starts and stops by process id: each child leads a process group of its
// own, writes to files, is killed with the test process if that dies, and is stopped with
// SIGINT, then SIGKILL after a grace period. Also free loopback ports and scratch folders.
#ifndef LITTERPOSE_TESTS_SUPPORT_PROCESSES_H
#define LITTERPOSE_TESTS_SUPPORT_PROCESSES_H

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace processes {

using Millis = std::chrono::milliseconds;

class Child {
public:
  // argv[0] is a path; standard output and error go to out_path and err_path.
  Child(const std::vector<std::string>& argv, const std::string& out_path,
        const std::string& err_path) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      ::setpgid(0, 0);
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::signal(SIGINT, SIG_DFL);  // a shell's background job would pass it on ignored
      if (::getppid() != parent) ::_exit(127);
      const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0) ::_exit(127);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      const int null = ::open("/dev/null", O_RDONLY);
      if (null >= 0) ::dup2(null, STDIN_FILENO);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::setpgid(pid_, pid_);  // also from here, so that the group exists before any kill
  }
  ~Child() { stop(Millis(5000)); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }

  bool running() {
    if (status_) return false;
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) == pid_) status_ = decode(raw);
    return !status_;
  }

  // The exit status, or minus the signal that ended it, once it has ended within timeout.
  std::optional<int> wait(Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(Millis(20));
    return status_;
  }

  // SIGINT to the group; SIGKILL when it has not ended after grace. The exit status, or
  // minus the signal.
  int stop(Millis grace) {
    if (!running()) return *status_;
    ::kill(-pid_, SIGINT);
    if (wait(grace)) return *status_;
    ::kill(-pid_, SIGKILL);
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    status_ = decode(raw);
    return *status_;
  }

private:
  static int decode(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw); }

  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
inline int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (s >= 0) ::close(s);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  ::close(s);
  return ntohs(address.sin_port);
}

// Whether something accepts connections on 127.0.0.1:port.
inline bool listening(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(s);
  return ok;
}

// A new folder under TMPDIR (or /tmp).
inline std::string scratchFolder(const std::string& stem) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + "_XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

}  // namespace processes

#endif

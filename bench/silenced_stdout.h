// Standard output, where the estimator logs through printf and std::cout alike, goes to
// /dev/null while a SilencedStdout lives, so that benchmarks time the work, not the terminal;
// while a PipedStdout lives it goes to a pipe that another process reads, as when a host's
// log is collected.
#ifndef LITTERPOSE_BENCH_SILENCED_STDOUT_H
#define LITTERPOSE_BENCH_SILENCED_STDOUT_H

#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

class SilencedStdout {
public:
  SilencedStdout() {
    flush();
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  ~SilencedStdout() {
    flush();
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  SilencedStdout(const SilencedStdout&) = delete;
  SilencedStdout& operator=(const SilencedStdout&) = delete;

private:
  static void flush() {
    std::cout.flush();
    std::fflush(stdout);
  }
  int saved_ = -1;
};

class PipedStdout {
public:
  PipedStdout() {
    flush();
    reader_ = ::popen("cat >/dev/null", "w");
    saved_ = ::dup(STDOUT_FILENO);
    if (reader_ != nullptr) ::dup2(::fileno(reader_), STDOUT_FILENO);
  }
  ~PipedStdout() {
    flush();
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    if (reader_ != nullptr) ::pclose(reader_);
  }
  PipedStdout(const PipedStdout&) = delete;
  PipedStdout& operator=(const PipedStdout&) = delete;

private:
  static void flush() {
    std::cout.flush();
    std::fflush(stdout);
  }
  std::FILE* reader_ = nullptr;
  int saved_ = -1;
};

#endif

// Standard output, where the estimator logs through printf and std::cout alike, goes to
// /dev/null while a SilencedStdout lives, so that benchmarks time the work, not the terminal.
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

#endif

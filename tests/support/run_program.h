// Runs a program through the shell and collects its exit status and both output streams.
#ifndef LITTERPOSE_TESTS_SUPPORT_RUN_PROGRAM_H
#define LITTERPOSE_TESTS_SUPPORT_RUN_PROGRAM_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace run_program {

struct Outcome {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Single-quotes a word for the shell.
inline std::string quote(const std::string& word) {
  std::string q = "'";
  for (char c : word) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// The shell words that start a program of this build: through the emulator when the tests
// run under one (a cross build; see tests/CMakeLists.txt), directly otherwise.
inline std::string program(const std::string& path) {
  return LITTERPOSE_PROGRAM_LAUNCHER + quote(path);
}

// A folder of this test process's own under the test temporary directory. The process that
// made it removes it, with everything in it, when it exits; children it forks leave it alone.
inline const std::string& scratchFolder() {
  struct Folder {
    std::string path;
    pid_t owner = ::getpid();
    ~Folder() {
      std::error_code ignored;
      if (::getpid() == owner) std::filesystem::remove_all(path, ignored);
    }
  };
  static const Folder folder{[] {
    std::string pattern = testing::TempDir() + "litterpose_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
    return pattern + "/";
  }()};
  return folder.path;
}

// A new path in the scratch folder, ending in stem.
inline std::string scratchPath(const std::string& stem) {
  static int counter = 0;
  return scratchFolder() + std::to_string(counter++) + "_" + stem;
}

// command is shell text; its words must already be quoted.
inline Outcome run(const std::string& command) {
  const std::string out = scratchPath("stdout"), err = scratchPath("stderr");
  const int raw = std::system((command + " >" + quote(out) + " 2>" + quote(err)).c_str());
  Outcome o;
  if (raw != -1 && WIFEXITED(raw)) o.status = WEXITSTATUS(raw);
  o.out = slurp(out);
  o.err = slurp(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return o;
}

}  // namespace run_program

#endif

// What the tests' estimators and arm models print goes to one stream per thread, for the
// test to read back: standard output is never touched.
#ifndef LITTERPOSE_TESTS_SUPPORT_CONSOLE_H
#define LITTERPOSE_TESTS_SUPPORT_CONSOLE_H

#include <sstream>
#include <string>
#include <utility>

namespace support {

// The stream; support::printing() is a console sink into it.
inline std::ostringstream& printed() {
  thread_local std::ostringstream stream;
  return stream;
}

// Runs f and returns what was printed to that stream meanwhile.
template <typename F>
std::string printed_by(F&& f) {
  printed().str("");
  std::forward<F>(f)();
  std::string text = printed().str();
  printed().str("");
  return text;
}

}  // namespace support

#endif

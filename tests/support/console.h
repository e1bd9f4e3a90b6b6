// What an estimator or an arm model prints, caught through its own console sink or line
// hook while a function runs: standard output is never touched.
#ifndef LITTERPOSE_TESTS_SUPPORT_CONSOLE_H
#define LITTERPOSE_TESTS_SUPPORT_CONSOLE_H

#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <quorvin_kinematics.h>

namespace support {

// Runs f with the estimator's lines going to a string, byte for byte, and returns them;
// the estimator's sink is put back afterwards, also when f throws. (A template, so that
// the arm-only tests need not see the estimator.)
template <typename Estimator, typename F>
std::string printed_by(Estimator& estimator, F&& f) {
  using Sink = std::decay_t<decltype(estimator.consoleSink())>;
  struct Restore {
    Estimator& estimator;
    Sink previous;
    ~Restore() { estimator.setConsoleSink(std::move(previous)); }
  };
  std::ostringstream out;
  Restore restore{estimator, estimator.consoleSink()};
  estimator.setConsoleSink(Sink::toStream(out));
  std::forward<F>(f)();
  return out.str();
}

// The same for the lines of an arm model, each with its line end.
template <typename F>
std::string printed_by(QuorvinKinematics& arm, F&& f) {
  struct Restore {
    QuorvinKinematics& arm;
    QuorvinKinematics::LineHook previous;
    ~Restore() { arm.set_line_hook(std::move(previous)); }
  };
  std::string out;
  Restore restore{arm, arm.line_hook()};
  arm.set_line_hook([&out](std::string_view line) {
    out.append(line);
    out += '\n';
  });
  std::forward<F>(f)();
  return out;
}

// The printed lines with the milliseconds of the cost lines ("... cost 0.123 ms") replaced
// by '#', so that two runs compare equal.
inline std::string withoutCosts(const std::string& printed) {
  std::string out;
  out.reserve(printed.size());
  std::size_t i = 0;
  while (i < printed.size()) {
    const std::size_t at = printed.find(" cost ", i);
    if (at == std::string::npos) {
      out.append(printed, i, std::string::npos);
      break;
    }
    const std::size_t number = at + 6;
    out.append(printed, i, number - i);
    std::size_t end = number;
    while (end < printed.size() && std::strchr("0123456789.e+-", printed[end]) != nullptr) ++end;
    if (printed.compare(end, 3, " ms") == 0) {
      out += '#';
      i = end;
    } else {
      i = number;
    }
  }
  return out;
}

}  // namespace support

#endif

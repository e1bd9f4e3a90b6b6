// Log lines of the estimator: colour, text, reset, end of line, on standard output.
#ifndef LITTERPOSE_INTERNAL_CONSOLE_H
#define LITTERPOSE_INTERNAL_CONSOLE_H

#include <chrono>
#include <iostream>

#include "litterpose.h"

namespace litterpose::console {

// colour, the values as the stream writes them, RESET_FORMAT, end of line.
template <typename... Values>
void line(const char* colour, const Values&... values) {
  std::cout << colour;
  (std::cout << ... << values);
  std::cout << RESET_FORMAT << '\n';
}

// The stray RESET_FORMAT without a line end that several steps write after their lines.
inline void reset() { std::cout << RESET_FORMAT; }

// Wall-clock start of a timed step; cost_ms gives whole microseconds as milliseconds.
using Clock = std::chrono::system_clock;
inline double cost_ms(Clock::time_point start) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  return static_cast<double>(us.count()) / 1000.0;
}

}  // namespace litterpose::console

#endif

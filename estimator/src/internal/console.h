// Log lines of the estimator, written to its console sink: a coloured line is colour, text,
// reset, end of line; a numeric line is formatted as printf formats it. A sink that takes
// nothing gets nothing formatted.
#ifndef LITTERPOSE_INTERNAL_CONSOLE_H
#define LITTERPOSE_INTERNAL_CONSOLE_H

#include <chrono>
#include <ostream>
#include <sstream>

#include "litterpose.h"
#include "litterpose_console.h"

namespace litterpose::console {

// The values as a stream with default formatting writes them, nothing added.
template <typename... Values>
void write(GrabPoseEstimate& e, const Values&... values) {
  ConsoleSink& sink = e.consoleSink();
  if (std::ostream* out = sink.stream()) {
    (*out << ... << values);
  } else if (sink.enabled()) {
    std::ostringstream text;
    (text << ... << values);
    sink.write(text.str());
  }
}

// colour, the values as the stream writes them, RESET_FORMAT, end of line.
template <typename... Values>
void line(GrabPoseEstimate& e, const char* colour, const Values&... values) {
  write(e, colour, values..., RESET_FORMAT, '\n');
}

// The stray RESET_FORMAT without a line end that several steps write after their lines.
inline void reset(GrabPoseEstimate& e) { write(e, RESET_FORMAT); }

// Formatted as std::printf formats it.
void printf(GrabPoseEstimate& e, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Wall-clock start of a timed step; cost_ms gives whole microseconds as milliseconds.
using Clock = std::chrono::system_clock;
inline double cost_ms(Clock::time_point start) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  return static_cast<double>(us.count()) / 1000.0;
}

}  // namespace litterpose::console

#endif

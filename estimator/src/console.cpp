// The estimator's console: its sink, the kinematics' lines joined to it, and the numeric
// lines formatted into it.
#include "internal/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "quorvin_kinematics.h"

GrabPoseEstimate::GrabPoseEstimate(std::string config_path)
    : GrabPoseEstimate(std::move(config_path), litterpose::ConsoleSink()) {}

void GrabPoseEstimate::setConsoleSink(litterpose::ConsoleSink sink) {
  console_sink_ = std::move(sink);
  connectKinematicsToSink();
}

// The kinematics prints during an estimate (a joint over its limit, a singular pose); its
// lines join the estimator's. A sink that takes nothing leaves them unformatted.
void GrabPoseEstimate::connectKinematicsToSink() {
  if (!kinematics_) return;
  if (!console_sink_.enabled()) {
    kinematics_->set_line_hook(nullptr);
    return;
  }
  kinematics_->set_line_hook([this](std::string_view line) { console_sink_.line(line); });
}

namespace litterpose::console {

void printf(GrabPoseEstimate& e, const char* format, ...) {
  ConsoleSink& sink = e.consoleSink();
  if (!sink.enabled()) return;
  // Every numeric line fits here; a %f of a huge number is formatted again at its length.
  char buffer[256];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof buffer) {
    sink.write(std::string_view(buffer, static_cast<std::size_t>(n)));
  } else if (n >= 0) {
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    text.pop_back();
    sink.write(text);
  }
  va_end(again);
}

}  // namespace litterpose::console

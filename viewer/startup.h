// Start-up of litterview: its process-wide estimator and its command line.
#ifndef LITTERPOSE_VIEWER_STARTUP_H
#define LITTERPOSE_VIEWER_STARTUP_H

#include <memory>
#include <optional>
#include <string>

#include <litterpose.h>

namespace litterview {

// Holds the viewer's one estimator. Construction never throws: a configuration that
// cannot be loaded, or data directories that cannot be created, are kept as a message
// for main to report, because an exception during static initialisation would end the
// program without saying which file was at fault.
class EstimatorSlot {
public:
  explicit EstimatorSlot(const std::string& config_path) noexcept { build(config_path); }

  // Replaces the estimator by one built from another configuration.
  void rebuild(const std::string& config_path) noexcept;

  GrabPoseEstimate* get() const { return estimator_.get(); }
  // Names the file and the cause; empty while get() is not null.
  const std::string& error() const { return error_; }
  // Whether the configuration was loaded and its values refused (a non-finite or
  // meaningless number, a key given twice), rather than not loaded at all.
  bool refused() const { return refused_; }

private:
  void build(const std::string& config_path) noexcept;

  std::unique_ptr<GrabPoseEstimate> estimator_;
  std::string error_;
  bool refused_ = false;
};

struct Arguments {
  std::optional<std::string> config;
  std::optional<std::string> cloud;
  std::optional<std::string> screenshot;
  bool help = false;  // --help or -h: the usage, and nothing else
};

// litterview [--screenshot FILE.png] [CONFIG [CLOUD]], CLOUD a PLY or PCD file. On a wrong
// command line, returns nullopt after a message on standard error.
std::optional<Arguments> parseArguments(int argc, const char* const* argv);
extern const char kUsage[];

}  // namespace litterview

#endif

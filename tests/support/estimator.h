// Estimators for tests: built from the project's configuration with edits, printing into
// support::printed() (see support/console.h).
#ifndef LITTERPOSE_TESTS_SUPPORT_ESTIMATOR_H
#define LITTERPOSE_TESTS_SUPPORT_ESTIMATOR_H

#include <gtest/gtest.h>
#include <litterpose.h>
#include <litterpose_console.h>
#include <yaml-cpp/yaml.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "support/console.h"
#include "support/run_program.h"

namespace support {

inline litterpose::ConsoleSink printing() { return litterpose::ConsoleSink::toStream(printed()); }

inline std::string default_config_path() {
  return std::string(LITTERPOSE_SOURCE_DIR) + "/config/grab_pose_estimate_config.yaml";
}

// The default configuration after edit(), written to a new temporary file.
inline std::string write_config(const std::function<void(YAML::Node&)>& edit) {
  YAML::Node config = YAML::LoadFile(default_config_path());
  if (edit) edit(config);
  const std::string path = run_program::scratchPath("config.yaml");
  std::ofstream(path) << config;
  return path;
}

inline std::unique_ptr<GrabPoseEstimate> make_estimator(
    const std::function<void(YAML::Node&)>& edit = nullptr) {
  const std::string path = edit ? write_config(edit) : default_config_path();
  return std::make_unique<GrabPoseEstimate>(path, printing());
}

}  // namespace support

#endif

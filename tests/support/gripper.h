// The gripper model for tests: its map switched on in the configuration, and grasp poses
// from straight above or from the side.
#ifndef LITTERPOSE_TESTS_SUPPORT_GRIPPER_H
#define LITTERPOSE_TESTS_SUPPORT_GRIPPER_H

#include <litterpose.h>
#include <yaml-cpp/yaml.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/grasp.h"

namespace support {

using GripperKeys = std::vector<std::pair<std::string, double>>;

// A configuration edit: the map gripper enabled, with these keys set.
inline std::function<void(YAML::Node&)> gripper_on(const GripperKeys& keys = {}) {
  return [keys](YAML::Node& config) {
    config["gripper"]["enable"] = true;
    for (const auto& [key, value] : keys) {
      if (key == "stray_points") config["gripper"][key] = static_cast<int>(value);
      else if (key == "finger2tcp") config["grab_pose_estimate"][key] = value;
      else config["gripper"][key] = value;
    }
  };
}

// The tool centre point at p, the tool pointing straight down (its y, the closing axis,
// along the base y axis).
inline GrabPoseEstimate::Pose6D from_above(const Eigen::Vector3f& p) { return {p, D()}; }
// The tool horizontal, approaching along +x (its x axis straight down, y along base y).
inline GrabPoseEstimate::Pose6D from_the_side(const Eigen::Vector3f& p) { return {p, S()}; }

}  // namespace support

#endif

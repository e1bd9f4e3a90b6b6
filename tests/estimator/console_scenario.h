// Estimates that print every kind of line the estimator has (coloured lines, lines
// formatted as printf formats them, stray colour resets, the kinematics' refusals), shared
// by the console tests and the program they run.
#ifndef LITTERPOSE_TESTS_ESTIMATOR_CONSOLE_SCENARIO_H
#define LITTERPOSE_TESTS_ESTIMATOR_CONSOLE_SCENARIO_H

#include <memory>
#include <string>

#include <litterpose.h>
#include <litterpose_console.h>

#include "support/clouds.h"

namespace console_scenario {

inline std::string configPath() {
  return std::string(LITTERPOSE_SOURCE_DIR) + "/config/grab_pose_estimate_config.yaml";
}

// A bottle lying on the floor at a distance, 10 degrees to the side.
inline clouds::CloudPtr bottle(float distance) {
  return clouds::lying_rod(clouds::at_bearing(distance, 10.0f), 30.0f, 0.22f, 0.035f, 2000);
}

// Each round: a reachable bottle through the common entry; one out of the arm's reach
// (within a widened window) through the main entry and the common entry, whose candidates
// the kinematics refuses one by one.
inline void run(GrabPoseEstimate& e, int rounds) {
  e.grab_vertical_distance_max_ = 1.2f;
  for (int i = 0; i < rounds; ++i) {
    auto near = bottle(0.35f);
    e.trash_type_ = 3;
    e.CommonGrabPoseFunc(near);
    auto far = bottle(0.75f);
    e.trash_type_ = 1;
    e.GrabPoseEstimateFunc(far);
    far = bottle(0.75f);
    e.CommonGrabPoseFunc(far);
  }
}

}  // namespace console_scenario

#endif

// Whether a two-finger gripper fits at a returned grasp, judged against the scene's true
// solids and true floor (slope, offset and relief included), independently of the
// estimator's gripper model and of the cloud it saw.
#ifndef LITTERPOSE_TOOLS_EVAL_GRIPPER_JUDGE_H
#define LITTERPOSE_TOOLS_EVAL_GRIPPER_JUDGE_H

#include <string>

#include <Eigen/Dense>

#include "scenes.h"

namespace litterpose_eval {

// The gripper the configuration describes (the map gripper and finger2tcp), metres; a key
// the file leaves out has the estimator's default, whether or not the map is enabled.
struct GripperSize {
  double max_opening = 0.0;
  double finger_length = 0.0;
  double finger_width = 0.0;      // along the tool x axis
  double finger_thickness = 0.0;  // along the closing axis (tool y)
  double palm_width = 0.0;        // along the closing axis
  double palm_depth = 0.0;        // along the tool x axis
  double palm_height = 0.0;       // along the approach (tool z), behind the fingers
  double clearance = 0.0;
  double finger_to_tcp = 0.0;     // fingertips beyond the tool centre point along the approach
};
// Throws the YAML library's exception for a file it cannot read.
GripperSize readGripper(const std::string& config_path);

// The grasped band is the run of the object's material across the closing axis, between
// the fingers' paths, that holds the tool centre point (or lies nearest to it), gaps a
// finger with its clearance cannot enter bridged. The fingers open symmetrically to clear
// it by the clearance, as far as they open. The clearance is the estimator's margin: the
// judge asks only that the band fits between the fingers opened in full.
struct GripperJudgement {
  bool fits = true;        // the band within the opening
  bool collides = false;   // a finger or the palm in the floor, or in the object's material
  double band_width = 0.0;
  std::string what = "no grasp";  // "fits", "too wide", "finger in the floor", ... (the
                                 // first found)
};

// The grasp: tool centre point and tool axes (columns x, y = closing, z = approach) in the
// base frame. Touching counts as free: a solid may reach kContact into the floor or the
// object, and a band measured to kStep may exceed the opening by that step.
inline constexpr double kContact = 0.002;
inline constexpr double kStep = 0.001;
GripperJudgement judgeGripper(const capture_sim::Scene& scene, double floor_z,
                              const GripperSize& gripper, const Eigen::Vector3d& position,
                              const Eigen::Matrix3d& tool);

}  // namespace litterpose_eval

#endif

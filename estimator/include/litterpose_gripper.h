// The gripper model: what the check of one grasp pose against the gripper's fingers and palm
// finds (litterpose::checkGripper in litterpose.h, and GrabPoseEstimate::isCollided, which
// refuses a pose the check does not find free).
#ifndef LITTERPOSE_GRIPPER_H
#define LITTERPOSE_GRIPPER_H

#include <array>
#include <string>

#include <Eigen/Dense>
#include <Eigen/Geometry>

namespace litterpose {

// One solid of the gripper at a grasp pose: a box centred at `centre` (arm base frame,
// metres), turned as the tool is, with sides `size` along the tool's x, y (closing) and z
// (approach) axes.
struct GripperBox {
  Eigen::Vector3f centre = Eigen::Vector3f::Zero();
  Eigen::Quaternionf orientation = Eigen::Quaternionf::Identity();
  Eigen::Vector3f size = Eigen::Vector3f::Zero();
};

// The first of the tests a pose fails, in the order they run; kFree when it fails none.
enum class GripperVerdict : int {
  kFree = 0,
  kUnsoundPose = 1,     // the pose is not finite or its orientation not a rotation
  kTooWide = 2,         // the object, with the clearance on both sides, exceeds the opening
  kFingersInFloor = 3,  // a finger reaches into the floor
  kPalmInFloor = 4,     // the palm reaches into the floor
  kFingersInCloud = 5,  // a finger holds more of the cloud's points than are taken for noise
  kPalmInCloud = 6,     // so does the palm
};

// The check of one grasp pose: the object's width between the fingers, how far the fingers
// open around it, and where the fingers and the palm then are.
struct GripperCheck {
  GripperVerdict verdict = GripperVerdict::kFree;
  float object_width = 0.0f;  // the grasped band's extent across the closing axis, metres
  float opening = 0.0f;       // between the fingers' inner faces, metres
  float floor_depth = 0.0f;   // how far the fingers or the palm reach below the floor,
                              // metres; 0 clear of it
  int finger_points = 0;      // the cloud's points in the finger that holds more of them
  int palm_points = 0;        // the cloud's points in the palm
  int tolerated_points = 0;   // points inside a finger or the palm taken for noise
  float max_opening = 0.0f;   // the gripper's widest opening, metres
  float clearance = 0.0f;     // kept between each finger and the object, metres
  GripperBox palm;
  std::array<GripperBox, 2> fingers;  // at -y and +y of the tool
};

// What the check found, as the estimator's reason says it: "fits: object 0.06 m wide,
// gripper opens 0.07 m", "object 0.17 m wide, gripper opens 0.11 m", "fingers in the floor,
// 4.0 mm deep", "palm in the cloud, 31 points (5 tolerated)", "grasp pose is not finite".
std::string describeGripperCheck(const GripperCheck& check);

}  // namespace litterpose

#endif  // LITTERPOSE_GRIPPER_H

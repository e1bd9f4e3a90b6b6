// Feasibility of a grasp point or pose: workspace sector, grab-space window, reachability
// through the arm's inverse kinematics, and the collision hook (the gripper model).
#include <cmath>
#include <stdexcept>

#include "internal/console.h"
#include "internal/grasp_checks.h"
#include "internal/orientation.h"
#include "litterpose.h"
#include "quorvin_kinematics.h"

namespace {

using litterpose::checks::Window;
namespace console = litterpose::console;

// The solver works in millimetres; the estimator in metres.
constexpr float kMillimetresPerMetre = 1000.0f;
// The TCP lies this far ahead of the flange along the tool z axis, in millimetres.
constexpr double kFlangeToTcpMm = 156.0;
constexpr double kDegreesPerRadian = 180.0 / M_PI;

// The nearest and farthest grasp distances grow with the object's height above the floor:
// a higher grasp point is reached from farther away.
struct GrabWindowSlopes {
  double nearest;
  double farthest;
};
constexpr GrabWindowSlopes kVerticalSlopes{0.9473684210526315, 0.6842105263157895};
constexpr GrabWindowSlopes kParallelSlopes{0.125, 0.33333333333333337};

float widened_bound(float bound, double slope, float height) {
  return static_cast<float>(bound + slope * height);
}

void refuse(GrabPoseEstimate& e, Window w) {
  console::line(e, RED_BOLD, litterpose::checks::message(w));
  console::reset(e);
}

}  // namespace

namespace litterpose::checks {

std::optional<Bounds> grab_space(const GrabPoseEstimate& e, MainAxisType type, float height) {
  const bool vertical = grasped_from_above(type);
  const bool parallel = type == VERTICAL || type == TILTED_HIGH;
  if (!vertical && !parallel) return std::nullopt;
  const GrabWindowSlopes& slopes = vertical ? kVerticalSlopes : kParallelSlopes;
  return Bounds{
      widened_bound(vertical ? e.grab_vertical_distance_min_ : e.grab_parallel_distance_min_,
                    slopes.nearest, height),
      widened_bound(vertical ? e.grab_vertical_distance_max_ : e.grab_parallel_distance_max_,
                    slopes.farthest, height),
      vertical ? e.grab_vertical_angle_min_ : e.grab_parallel_angle_min_,
      vertical ? e.grab_vertical_angle_max_ : e.grab_parallel_angle_max_};
}

}  // namespace litterpose::checks

bool GrabPoseEstimate::IsInWorkspace(const Eigen::Vector3f& point) {
  const float r = std::sqrt(point.x() * point.x() + point.y() * point.y());
  const float dr = r - workspace_center_r_;
  const float dz = point.z() - workspace_center_z_;
  grab_distance_ = std::sqrt(dr * dr + dz * dz);
  grab_angle_ = litterpose::orientation::bearing_deg(
      litterpose::orientation::bearing(point.x(), point.y()));
  console::line(*this, PURPLE_BOLD, "grab_distance_: ", grab_distance_);
  console::line(*this, PURPLE_BOLD, "grab_angle_: ", grab_angle_);
  const Window w = litterpose::checks::judge(grab_distance_, grab_angle_, workspace_r_min_,
                                             workspace_r_max_, workspace_angle_min_,
                                             workspace_angle_max_);
  if (w == Window::inside) return true;
  refuse(*this, w);
  return false;
}

bool GrabPoseEstimate::isInGrabSpace(MainAxisType type, Eigen::Vector3f point) {
  grab_distance_ = std::sqrt(point.x() * point.x() + point.y() * point.y());
  grab_angle_ = litterpose::orientation::bearing_deg(
      litterpose::orientation::bearing(point.x(), point.y()));
  const auto bounds = litterpose::checks::grab_space(*this, type, point.z() + base_height_);
  if (!bounds) {
    console::reset(*this);
    return true;
  }
  const Window w = litterpose::checks::judge(grab_distance_, grab_angle_, *bounds);
  if (w == Window::inside) {
    console::reset(*this);
    return true;
  }
  if (w == Window::too_far && litterpose::checks::grasped_from_above(type))
    console::line(*this, RED_BOLD, "grab_distance_: ", grab_distance_);
  refuse(*this, w);
  return false;
}

bool GrabPoseEstimate::isIKSolved(Pose6D pose) {
  const Eigen::Quaterniond& q = pose.orientation;
  console::printf(*this, "grab_pose.position: %f  %f  %f\n", pose.position.x(),
                  pose.position.y(), pose.position.z());
  console::printf(*this, "grab_pose.orientation: %f  %f  %f  %f\n", q.w(), q.x(), q.y(), q.z());

  Eigen::MatrixXd tcp = Eigen::MatrixXd::Identity(4, 4);
  tcp.block<3, 3>(0, 0) = q.toRotationMatrix();
  tcp.block<3, 1>(0, 3) = (kMillimetresPerMetre * pose.position).cast<double>();
  Eigen::MatrixXd tcp_to_flange = Eigen::MatrixXd::Identity(4, 4);
  tcp_to_flange(2, 3) = -kFlangeToTcpMm;
  const Eigen::MatrixXd flange = tcp * tcp_to_flange;

  double joints[6];
  if (!kinematics_)
    throw std::logic_error("GrabPoseEstimate::kinematics_ is empty: no arm model to ask");
  ik_code_ = kinematics_->inverse_kinematics(flange, ik_ref_joints_, joints);
  if (ik_code_ != QuorvinKinematics::kSolved) {
    console::line(*this, YELLOW_BOLD,
                  "-------------------当前抓取位姿求逆解失败，请调整机器人位置------------------");
    return false;
  }
  console::line(*this, GREEN_BOLD,
                "-----------------------当前抓取位姿求逆解成功-----------------------");
  console::printf(*this, "逆解为：%f  %f  %f  %f  %f  %f \n\n", joints[0] * kDegreesPerRadian,
                  joints[1] * kDegreesPerRadian, joints[2] * kDegreesPerRadian,
                  joints[3] * kDegreesPerRadian, joints[4] * kDegreesPerRadian,
                  joints[5] * kDegreesPerRadian);
  return true;
}

// Without the gripper model every pose is free; with it, a pose the gripper does not fit.
bool GrabPoseEstimate::isCollided(Pose6D pose) {
  if (!gripper_.enable) return false;
  gripper_check_ = litterpose::checkGripper(*this, pose);
  if (gripper_check_.verdict == litterpose::GripperVerdict::kFree) return false;
  console::line(*this, YELLOW_BOLD, "gripper refuses the pose: ",
                litterpose::describeGripperCheck(gripper_check_), "!!!");
  return true;
}

void GrabPoseEstimate::AssignGrabPose(const Eigen::Vector3f& position,
                                      const Eigen::Quaterniond& orientation, Pose6D& pose) {
  pose.position = position;
  pose.orientation = orientation;
  console::line(*this, GREEN_BOLD, "grab_pose_.position: ", position.x(), "  ", position.y(),
                "  ", position.z());
  console::line(*this, GREEN_BOLD, "grab_pose_.orientation: ", orientation.w(), "  ",
                orientation.x(), "  ", orientation.y(), "  ", orientation.z());
}

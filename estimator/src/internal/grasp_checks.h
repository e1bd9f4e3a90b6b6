// Rules shared by the entries and the feasibility checks: the distance and bearing
// window with its four refusals, the point minimums, and the soundness of a pose.
#ifndef LITTERPOSE_INTERNAL_GRASP_CHECKS_H
#define LITTERPOSE_INTERNAL_GRASP_CHECKS_H

#include <cmath>
#include <cstddef>
#include <optional>

#include "internal/console.h"
#include "litterpose.h"

namespace litterpose::checks {

// Below these counts the shape analysis says too little about the object to grasp it.
constexpr std::size_t kMinPointsMainEntry = 10;
constexpr std::size_t kMinPointsCommonEntries = 100;

constexpr char kTooFewPoints[] = "处理后点云数量太少-------------";
constexpr char kCannotGraspVertically[] = "当前位置无法竖直抓取!!!";
constexpr char kCannotGraspSideways[] = "当前位置无法水平抓取!!!";
constexpr char kCannotGrasp[] = "当前位置无法抓取!!!";

enum class Window { inside, too_near, too_far, too_far_left, too_far_right };

// A distance window (metres) and a bearing window (degrees).
struct Bounds {
  float distance_min, distance_max, angle_min, angle_max;
};

// The first failing test in the order near, far, left, right; a value on a bound passes,
// and so does a non-number (the soundness tests below catch those).
inline Window judge(float distance, float angle_deg, float distance_min, float distance_max,
                    float angle_min, float angle_max) {
  if (distance < distance_min) return Window::too_near;
  if (distance > distance_max) return Window::too_far;
  if (angle_deg < angle_min) return Window::too_far_left;
  if (angle_deg > angle_max) return Window::too_far_right;
  return Window::inside;
}
inline Window judge(float distance, float angle_deg, const Bounds& b) {
  return judge(distance, angle_deg, b.distance_min, b.distance_max, b.angle_min, b.angle_max);
}

// The window of isInGrabSpace for a main-axis class, at a grasp point this high above the
// floor; none for a value that is no class.
std::optional<Bounds> grab_space(const GrabPoseEstimate& e, MainAxisType type, float height);
// Whether the class is grasped from above (its grab space is the vertical one).
inline bool grasped_from_above(MainAxisType type) {
  return type == HORIZONTAL || type == TILTED_LOW;
}

// Offset of a refusal within its result family (family + 1 ... family + 4).
inline int offset(Window w) { return static_cast<int>(w); }

inline const char* message(Window w) {
  switch (w) {
    case Window::too_near: return "垃圾位置太近了！！！";
    case Window::too_far: return "垃圾位置太远了！！！";
    case Window::too_far_left: return "垃圾位置太靠左了！！！";
    case Window::too_far_right: return "垃圾位置太靠右了！！！";
    case Window::inside: break;
  }
  return "";
}

// A cloud holding non-finite coordinates (kept by the preparation's fallback, or not
// prepared at all) has a non-finite centroid, and one with coordinates so large that its
// covariance overflows has non-finite axes or extents: no grasp can be derived from it,
// and the boxes and the footprint rectangle would be computed from non-numbers.
inline bool shape_is_finite(const GrabPoseEstimate& e) {
  return e.pca_center_.head<3>().allFinite() && e.pca_vectors_.allFinite() &&
         e.pca_lengths_.allFinite();
}
inline void report_non_finite_shape(GrabPoseEstimate& e) {
  console::line(e, RED_BOLD,
                "cloud shape is not finite: the cloud holds non-finite or overflowing coordinates!!!");
}

// A pose may be offered to the solver or to the host only when every number in it is
// finite and the orientation is a rotation.
constexpr double kUnitQuaternionTolerance = 1e-6;
inline bool is_sound(const GrabPoseEstimate::Pose6D& pose) {
  return pose.position.allFinite() && pose.orientation.coeffs().allFinite() &&
         std::fabs(pose.orientation.norm() - 1.0) <= kUnitQuaternionTolerance;
}
inline void report_unsound_pose(GrabPoseEstimate& e) {
  console::line(e, RED_BOLD, "grasp pose is not finite, refused!!!");
}

// The orientation line both entries print for the candidates they name.
inline void print_q_grab(GrabPoseEstimate& e, const Eigen::Quaterniond& q) {
  console::printf(e, "q_grab: %f  %f  %f  %f\n", q.w(), q.x(), q.y(), q.z());
}

// A null cloud is taken as an empty one, so that it meets the same point minimums.
inline void replace_null_cloud(GrabPoseEstimate::CloudPtr& cloud) {
  if (!cloud) cloud = std::make_shared<GrabPoseEstimate::Cloud>();
}

// Unit direction of the camera ray through p, from the camera origin (translation column
// of the camera-to-base transform); zero when p is the camera origin itself.
inline Eigen::Vector3f camera_ray(const Eigen::Matrix4f& camera_extrinsic,
                                  const Eigen::Vector3f& p) {
  Eigen::Vector3f u = p - camera_extrinsic.block<3, 1>(0, 3);
  if (u.squaredNorm() > 0.0f) u.normalize();
  return u;
}

}  // namespace litterpose::checks

#endif

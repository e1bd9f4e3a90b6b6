// The main estimation entry: classify the object's main axis, choose a grasp style by
// trash type, and try a fixed sequence of candidate poses until the arm reaches one.
#include <cmath>
#include <optional>

#include "internal/console.h"
#include "internal/grasp_checks.h"
#include "internal/gripper_fit.h"
#include "internal/orientation.h"
#include "internal/preparation.h"
#include "internal/reason.h"
#include "internal/robust_preparation.h"
#include "internal/shape_analysis.h"
#include "litterpose.h"

namespace {

namespace console = litterpose::console;
namespace checks = litterpose::checks;
namespace ori = litterpose::orientation;
namespace reason = litterpose::reason;
using litterpose::Reason;
using ori::Quat;

// Result families of the window tests; a refusal adds 1 to 4.
constexpr int kFamilyTrashType1 = 100;
constexpr int kFamilyTrashType2 = 200;
constexpr int kFamilyLying = 300;
constexpr int kFamilyStanding = 310;

// Tilts of the retries, in degrees.
constexpr int kVerticalTilts[] = {10, 20, 30, 40, 50, 60};
constexpr int kLyingTilts[] = {10, 20, 30};
constexpr int kStandingTilts[] = {10, 20, 30};

// The steepest tilt of each retry sequence grasps a little higher, so that the tilted
// fingers clear the ground: a step at the last tilt, not a ramp.
constexpr int kVerticalRaiseTilt = 60;
constexpr double kVerticalRaise = 0.003;
constexpr int kLyingRaiseTilt = 30;
constexpr double kLyingRaisePositive = 0.01;
constexpr double kLyingRaiseNegative = 0.013;

// Trash type 3: push along the camera ray, proportional for thin objects.
constexpr double kThinExtentLimit = 0.06;
constexpr float kThickObjectExtension = 0.036f;
constexpr double kFloorClearance = 0.01;

float raised(float z, int tilt, int raise_tilt, double raise) {
  return static_cast<float>(z + raise * (tilt / raise_tilt));
}

// One estimate of GrabPoseEstimateFunc; works on the estimator's members.
class MainStrategy {
public:
  // centre and axis: where the robust preparation puts the grasp point and the long axis,
  // seen from above.
  MainStrategy(GrabPoseEstimate& e, std::optional<Eigen::Vector2f> centre,
               std::optional<Eigen::Vector2f> axis)
      : e_(e), centre_(centre), axis_(axis) {}

  int run() {
    switch (e_.trash_type_) {
      case 1: return vertical(kFamilyTrashType1);
      case 2: return vertical(kFamilyTrashType2);
      case 3: return trash_type_3();
      default:
        reason::set(e_, Reason::kUnknownTrashType,
                    reason::format("unknown trash type %d: strategies exist for 1, 2 and 3",
                                   e_.trash_type_));
        return litterpose::kUnknownTrashType;
    }
  }

private:
  float cx() const { return e_.pca_center_.x(); }
  float cy() const { return e_.pca_center_.y(); }
  float cz() const { return e_.pca_center_.z(); }
  // The long axis seen from above: the principal axis, or the robust preparation's.
  float axis_yaw() const {
    if (axis_) return ori::axis_yaw(axis_->x(), axis_->y());
    return ori::axis_yaw(e_.pca_vectors_(0, 0), e_.pca_vectors_(1, 0));
  }
  float bearing() const { return ori::bearing(cx(), cy()); }

  // 0 inside the window, else family + 1 to 4.
  int window(int family, const char* name, const checks::Bounds& bounds) {
    e_.grab_distance_ = std::sqrt(cx() * cx() + cy() * cy());
    e_.grab_angle_ = ori::bearing_deg(bearing());
    const checks::Window w = checks::judge(e_.grab_distance_, e_.grab_angle_, bounds);
    if (w == checks::Window::inside) return 0;
    console::line(e_, RED_BOLD, checks::message(w));
    reason::outside(e_, Reason::kOutsideWindow, w, name, "the axis", e_.grab_distance_,
                    e_.grab_angle_, bounds);
    return family + checks::offset(w);
  }
  int vertical_window(int family) {
    return window(family, "vertical window",
                  {e_.grab_vertical_distance_min_, e_.grab_vertical_distance_max_,
                   e_.grab_vertical_angle_min_, e_.grab_vertical_angle_max_});
  }
  int parallel_window(int family) {
    return window(family, "parallel window",
                  {e_.grab_parallel_distance_min_, e_.grab_parallel_distance_max_,
                   e_.grab_parallel_angle_min_, e_.grab_parallel_angle_max_});
  }

  // The candidate becomes grab_pose_ and is kept there when the arm reaches it.
  bool reached(const Quat& q, float z) {
    e_.grab_pose_.position = Eigen::Vector3f(cx(), cy(), z);
    e_.grab_pose_.orientation = q;
    return candidates_.offer(e_);
  }

  int found() {
    candidates_.found(e_);
    return litterpose::kGrabFound;
  }

  int no_grasp() {
    console::line(e_, RED_BOLD, checks::kCannotGrasp);
    candidates_.none_taken(e_);
    return litterpose::kNoGrasp;
  }

  int grab_mode_off() {
    reason::set(e_, Reason::kGrabModeOff,
                reason::format("grab mode %d is off: only grab mode 1 grasps", e_.grab_mode_));
    return litterpose::kNoGrasp;
  }

  int vertical(int family) {
    if (e_.grab_mode_ != 1) return grab_mode_off();
    if (const int refused = vertical_window(family)) return refused;
    const bool type2 = family == kFamilyTrashType2;
    const float yaw = axis_yaw();
    if (type2)
      console::printf(e_, "pca_vectors_ x y: %f   %f\n", e_.pca_vectors_(0, 0),
                      e_.pca_vectors_(1, 0));
    console::printf(e_, "rot_z: %f\n", yaw);
    const Quat first = ori::vertical_grasp(yaw);
    if (type2) checks::print_q_grab(e_, first);
    if (reached(first, cz())) return found();
    console::line(e_, YELLOW_BOLD, checks::kCannotGraspVertically);

    const Quat towards_object = ori::down() * ori::rot_z(bearing());
    for (const int tilt : kVerticalTilts) {
      const Quat q = towards_object * ori::rot_y_deg(tilt);
      if (!type2) checks::print_q_grab(e_, q);
      if (reached(q, raised(cz(), tilt, kVerticalRaiseTilt, kVerticalRaise))) return found();
    }
    return no_grasp();
  }

  // Pushes the grasp point away from the camera: the camera sees the near side of the
  // object, so the centroid of the visible points lies short of the object's middle.
  void extend_along_camera_ray() {
    const Eigen::Vector3f u = checks::camera_ray(e_.camera_extrinsic_, e_.pca_center_.head<3>());
    const float thin = e_.pca_lengths_[2];
    const float length = thin < kThinExtentLimit ? thin * e_.extra_length_ratio_
                                                 : kThickObjectExtension;
    e_.extend_length_ = length;
    e_.pca_center_.head<3>() += length * u;
    const double floor =
        e_.finger2tcp_ + litterpose::preparation::floorBelow(e_, cx(), cy()) + kFloorClearance;
    if (e_.pca_center_.z() < floor) e_.pca_center_.z() = static_cast<float>(floor);
    if (centre_) e_.pca_center_.head<2>() = *centre_;
  }

  int trash_type_3() {
    if (e_.enable_pcacenter_extend_) extend_along_camera_ray();
    if (e_.grab_mode_ != 1) return grab_mode_off();
    switch (e_.main_axis_type_) {
      case HORIZONTAL: return lying();
      case VERTICAL: return standing();
      default:
        reason::no_strategy(e_);
        return litterpose::kNoGrasp;
    }
  }

  int lying() {
    if (const int refused = vertical_window(kFamilyLying)) return refused;
    const float yaw = axis_yaw();
    console::printf(e_, "pca_vectors_ x y: %f   %f\n", e_.pca_vectors_(0, 0),
                    e_.pca_vectors_(1, 0));
    console::printf(e_, "rot_z: %f\n", yaw);
    const Quat first = ori::vertical_grasp(yaw);
    checks::print_q_grab(e_, first);
    if (reached(first, cz())) return found();
    console::line(e_, YELLOW_BOLD, checks::kCannotGraspVertically);
    if (!e_.is_grab_slanted_) {
      if (candidates_.refused_by_gripper()) {
        candidates_.none_taken(e_, "; slanted retries are off");
        return litterpose::kNoGrasp;
      }
      reason::set(e_, Reason::kSlantedRetriesOff,
                  "vertical candidate not reachable (" + candidates_.summary() +
                      ") and slanted retries are off");
      return litterpose::kNoGrasp;
    }

    for (const int tilt : kLyingTilts) {
      if (reached(first * ori::rot_x_deg(tilt),
                  raised(cz(), tilt, kLyingRaiseTilt, kLyingRaisePositive)))
        return found();
      if (reached(first * ori::rot_x_deg(-tilt),
                  raised(cz(), tilt, kLyingRaiseTilt, kLyingRaiseNegative)))
        return found();
    }
    return no_grasp();
  }

  int standing() {
    if (const int refused = parallel_window(kFamilyStanding)) return refused;
    const Quat first = ori::side_grasp(bearing());
    checks::print_q_grab(e_, first);
    if (reached(first, cz())) return found();
    console::line(e_, YELLOW_BOLD, checks::kCannotGraspSideways);
    for (const int tilt : kStandingTilts) {
      if (reached(first * ori::rot_y_deg(-tilt), cz())) return found();
    }
    return no_grasp();
  }

  GrabPoseEstimate& e_;
  std::optional<Eigen::Vector2f> centre_;
  std::optional<Eigen::Vector2f> axis_;
  reason::Candidates candidates_;
};

}  // namespace

int GrabPoseEstimate::GrabPoseEstimateFunc(CloudPtr& cloud) {
  reason::begin(*this);
  checks::replace_null_cloud(cloud);
  litterpose::gripper::keepCloud(*this, cloud);  // prepared in place below
  using litterpose::shape::CloudShape;
  using litterpose::shape::CloudSums;
  // PclProcessFunc, with the first pass of the shape analysis made as it keeps the points.
  CloudSums sums(false);
  litterpose::preparation::Prepared prepared;
  if (enable_process_cloud_) {
    prepared = litterpose::preparation::prepare(*this, cloud, cloud, &sums,
                                                checks::kMinPointsMainEntry);
    console::line(*this, CYAN_BOLD, "处理后点云数量：", cloud->size());
    if (cloud->size() < checks::kMinPointsMainEntry) {
      console::line(*this, RED_BOLD, checks::kTooFewPoints);
      reason::too_few_points(*this, cloud->size(), checks::kMinPointsMainEntry);
      return litterpose::kTooFewPoints;
    }
  } else {
    floor_fitted_ = false;
  }
  // PCAFunc, OBBFunc and MinAreaRectFunc, sharing their passes over the cloud.
  const CloudSums::Result prepared_sums = sums.finish();
  CloudShape shape(*cloud, CloudShape::kPrincipal | CloudShape::kOriented | CloudShape::kFootprint,
                   prepared.summed ? &prepared_sums : nullptr);
  litterpose::shape::principalSection(*this, cloud, shape);
  if (!checks::shape_is_finite(*this)) {
    checks::report_non_finite_shape(*this);
    reason::non_finite_shape(*this);
    return litterpose::kTooFewPoints;
  }
  if (robust_preparation_.enable && litterpose::robust::refuseDegenerateShape(*this))
    return litterpose::kTooFewPoints;
  litterpose::shape::orientedBoxSection(*this, shape);
  litterpose::shape::footprintSection(*this, shape);
  // With the robust preparation, the grasp point stands over the footprint's centre; or over
  // the centroid of an object not told from the floor (a sheet of paper), which the camera
  // sees whole: neither is pushed away from the camera.
  std::optional<Eigen::Vector2f> centre, axis;
  if (prepared.lying || prepared.standing) {
    centre = litterpose::robust::graspCentre(*this, *cloud);
    pca_center_.head<2>() = *centre;
  } else if (prepared.robust) {
    centre = pca_center_.head<2>();
  }
  if (centre) axis = prepared.axis ? prepared.axis : litterpose::robust::graspAxis(*this, *cloud);

  ori::classify_main_axis(pca_vectors_, main_axis_type_);
  litterpose::robust::standUpright(*this, prepared);
  litterpose::robust::layFlat(*this, prepared);
  console::line(*this, PURPLE_BOLD, "main_axis_type_:", main_axis_type_);
  console::line(*this, PURPLE_BOLD, "Trash Type:", trash_type_);
  return MainStrategy(*this, centre, axis).run();
}

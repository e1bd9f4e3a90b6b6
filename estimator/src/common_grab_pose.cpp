// The common and initial estimation entries: a grasp point corrected against the
// object's lowest point, a grasp direction from the footprint rectangle, and for
// CommonGrabPoseFunc the proof of reachability with tilted retries.
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

enum class Entry { common, initial };

// Objects longer than this, and taller than the configured threshold, are grasped
// beyond their visible centroid.
constexpr double kLongObjectExtent = 0.1;
// A grasp point this close above the lowest point is taken down to the lowest point.
constexpr double kLowGraspPoint = 0.015;
// The lowered grasp point of a tall object stays this far above its lowest point.
constexpr double kLoweredClearance = 0.005;
// The extended grasp point stays this far above the lowest point.
constexpr double kExtendedClearance = 0.008;

// Outward tilts of the vertical retries of trash types 1 and 2, in degrees; the grasp
// point rises with the sine of the tilt.
constexpr int kTiltStep = 5;
constexpr int kTiltMax = 80;
constexpr double kTiltRaise = 0.01;
// Slants of the vertical retries of trash type 3, in degrees.
constexpr int kSlantStep = -5;
constexpr int kSlantMax = -25;
// Tilts of the side retries, in degrees.
constexpr int kSideTilts[] = {10, 20, 30};

// The reset on a line of its own that closes an entry without a grasp.
void reset_line(GrabPoseEstimate& e) { console::write(e, RESET_FORMAT, '\n'); }

void print_grab_mainaxis(GrabPoseEstimate& e, const Eigen::Vector3f& g) {
  console::line(e, YELLOW_BOLD, "grab_mainaxis_: ", g.x(), " ", g.y(), " ", g.z());
}

class CommonStrategy {
public:
  CommonStrategy(GrabPoseEstimate& e, Entry entry) : e_(e), entry_(entry) {}

  int run(GrabPoseEstimate::CloudPtr& cloud) {
    const bool common = entry_ == Entry::common;
    reason::begin(e_);
    console::line(e_, PURPLE_BOLD,
                  common ? "-------------------CommonGrabPoseFunc-----------------------"
                         : "------------------------GetInitialGrabPose--------------------------");
    checks::replace_null_cloud(cloud);
    litterpose::gripper::keepCloud(e_, cloud);  // prepared in place below
    // PclProcessFunc, with the first pass of the shape analysis made as it keeps the points.
    using litterpose::shape::CloudShape;
    using litterpose::shape::CloudSums;
    CloudSums sums(false);
    const litterpose::preparation::Prepared prepared = litterpose::preparation::prepare(
        e_, cloud, cloud, &sums, checks::kMinPointsCommonEntries);
    console::line(e_, CYAN_BOLD, "处理后点云数量：", cloud->size());
    if (cloud->size() < checks::kMinPointsCommonEntries) {
      console::line(e_, RED_BOLD, common ? checks::kTooFewPoints : "处理后点云数量太少!!!");
      reason::too_few_points(e_, cloud->size(), checks::kMinPointsCommonEntries);
      return litterpose::kTooFewPoints;
    }
    // PCAFunc, OBBFunc, AABBFunc and MinAreaRectFunc, sharing their passes over the cloud.
    const CloudSums::Result prepared_sums = sums.finish();
    CloudShape shape(*cloud,
                     CloudShape::kPrincipal | CloudShape::kOriented | CloudShape::kAligned |
                         CloudShape::kFootprint,
                     prepared.summed ? &prepared_sums : nullptr);
    litterpose::shape::principalSection(e_, cloud, shape);
    if (!checks::shape_is_finite(e_)) {
      checks::report_non_finite_shape(e_);
      reason::non_finite_shape(e_);
      return litterpose::kTooFewPoints;
    }
    if (e_.robust_preparation_.enable && litterpose::robust::refuseDegenerateShape(e_))
      return litterpose::kTooFewPoints;
    litterpose::shape::orientedBoxSection(e_, shape);
    litterpose::shape::alignedBoxSection(e_, shape);
    litterpose::shape::footprintSection(e_, shape);
    if (prepared.lying || prepared.standing) {
      footprint_ = litterpose::robust::graspCentre(e_, *cloud);
      e_.pca_center_.head<2>() = *footprint_;
    }
    // What stands is grasped from the side, along no axis seen from above.
    if (prepared.lying) axis_ = litterpose::robust::graspAxis(e_, *cloud);
    if (prepared.axis) axis_ = prepared.axis;

    e_.grab_tcp_ = e_.pca_center_.head<3>();
    if (!e_.IsInWorkspace(e_.grab_tcp_)) {
      reason::outside(e_, Reason::kOutsideWorkspace,
                      checks::judge(e_.grab_distance_, e_.grab_angle_, workspace()), "workspace",
                      "the workspace centre", e_.grab_distance_, e_.grab_angle_, workspace());
      return litterpose::kOutsideWorkspace;
    }
    e_.GetMainaxisType(e_.pca_vectors_, e_.main_axis_type_);
    litterpose::robust::standUpright(e_, prepared);
    litterpose::robust::layFlat(e_, prepared);
    switch (e_.main_axis_type_) {
      case HORIZONTAL:
      case TILTED_LOW: return from_above();
      case VERTICAL:
      case TILTED_HIGH: return from_side();
    }
    reset_line(e_);
    reason::no_strategy(e_);
    return litterpose::kNoGrasp;
  }

private:
  Eigen::Vector3f& tcp() { return e_.grab_tcp_; }

  checks::Bounds workspace() const {
    return {e_.workspace_r_min_, e_.workspace_r_max_, e_.workspace_angle_min_,
            e_.workspace_angle_max_};
  }

  // isInGrabSpace for the grasp point; on a refusal, the reason names the bound.
  bool in_grab_space() {
    if (e_.isInGrabSpace(e_.main_axis_type_, tcp())) return true;
    const bool above = checks::grasped_from_above(e_.main_axis_type_);
    const checks::Bounds bounds =
        *checks::grab_space(e_, e_.main_axis_type_, tcp().z() + e_.base_height_);
    reason::outside(e_, Reason::kOutsideWindow,
                    checks::judge(e_.grab_distance_, e_.grab_angle_, bounds),
                    above ? "vertical grab space" : "horizontal grab space", "the axis",
                    e_.grab_distance_, e_.grab_angle_, bounds);
    return false;
  }

  // The candidate in grab_pose_ is taken when the arm reaches it and the gripper fits.
  bool accepted() { return candidates_.offer(e_); }

  bool try_candidate(const Quat& q) {
    e_.AssignGrabPose(tcp(), q, e_.grab_pose_);
    return accepted();
  }

  int found() {
    candidates_.found(e_);
    return litterpose::kGrabFound;
  }

  // GetInitialGrabPose offers its first candidate without asking the arm; the gripper
  // model, when on, must find that the gripper fits there.
  int offer_initial() {
    if (!checks::is_sound(e_.grab_pose_)) {
      checks::report_unsound_pose(e_);
      reason::set(e_, Reason::kUnsoundPose, "grasp pose is not finite");
      return litterpose::kNoGrasp;
    }
    if (!candidates_.fits(e_)) {
      candidates_.none_taken(e_);
      return litterpose::kNoGrasp;
    }
    reason::set(e_, Reason::kFound, "first candidate, not checked against the arm");
    return litterpose::kGrabFound;
  }

  int no_grasp(const std::string& note = "") {
    console::line(e_, RED_BOLD, checks::kCannotGrasp);
    console::reset(e_);
    reset_line(e_);
    candidates_.none_taken(e_, note);
    return litterpose::kNoGrasp;
  }

  void correct_height() {
    const float lowest = e_.trash_lowest_z_;
    if (e_.pca_lengths_[0] > kLongObjectExtent && e_.trash_height_ > e_.extend_height_threshold_)
      e_.ExtendGrabTCP(tcp());
    if (tcp().z() - lowest < kLowGraspPoint) {
      console::line(e_, YELLOW_BOLD, "grab_tcp_.z()-trash_lowest_z_ < 0.015!!!");
      tcp().z() = lowest;
      console::line(e_, YELLOW_BOLD, "grab_tcp_.z() = trash_lowest_z_!!!");
    }
    if (e_.trash_height_ > e_.tcp_ajust_threshold_ && tcp().z() - lowest > kLowGraspPoint) {
      tcp().z() -= e_.tcp_ajust_value_;
      console::line(e_, YELLOW_BOLD, "grab_tcp_.z() -= tcp_ajust_value_;");
      if (tcp().z() < lowest + kLoweredClearance) {
        console::line(e_, YELLOW_BOLD, "grab_tcp_.z() < (trash_lowest_z_ + 0.005)!!!");
        tcp().z() = static_cast<float>(lowest + kLoweredClearance);
        console::line(e_, MAGENTA_BOLD, "grab_tcp_.z() = (trash_lowest_z_ + 0.005)!!!");
      }
    }
    // A flying pixel under the floor drags the lowest point, and with it the grasp point,
    // below the floor, where the gripper must never be sent.
    const float floor = litterpose::preparation::floorBelow(e_, tcp().x(), tcp().y());
    if (tcp().z() < floor) {
      console::line(e_, YELLOW_BOLD, "grab_tcp_.z() < -base_height_!!!");
      tcp().z() = floor;
    }
    if (e_.is_on_floor_) tcp().z() = floor;
    if (footprint_) tcp().head<2>() = *footprint_;
  }

  int from_above() {
    const bool common = entry_ == Entry::common;
    e_.grab_mainaxis_.z() = 0.0f;
    e_.OptMainAxisDirection(e_.grab_mainaxis_);
    if (axis_) e_.grab_mainaxis_.head<2>() = *axis_;
    print_grab_mainaxis(e_, e_.grab_mainaxis_);
    if (common && !in_grab_space()) return litterpose::kType1TooNear;
    correct_height();
    const float yaw = ori::axis_yaw(e_.grab_mainaxis_.x(), e_.grab_mainaxis_.y());
    if (common) console::line(e_, CYAN_BOLD, "rot_z: ", yaw);
    const Quat first = ori::vertical_grasp(yaw);
    e_.AssignGrabPose(tcp(), first, e_.grab_pose_);
    if (!common) return offer_initial();
    if (accepted()) return found();

    console::line(e_, YELLOW_BOLD, checks::kCannotGraspVertically);
    switch (e_.trash_type_) {
      case 1:
      case 2:
        if (tilted_outward()) return found();
        break;
      case 3:
        if (slanted(yaw)) return found();
        break;
      default:
        return no_grasp(reason::format("; no retries for trash type %d", e_.trash_type_));
    }
    return no_grasp();
  }

  bool tilted_outward() {
    const Quat towards_object =
        ori::down() * ori::rot_z(ori::bearing(e_.grab_pose_.position.x(), e_.grab_pose_.position.y()));
    const float z0 = tcp().z();
    for (int tilt = kTiltStep; tilt <= kTiltMax; tilt += kTiltStep) {
      tcp().z() = static_cast<float>(z0 + kTiltRaise * std::sin(tilt * M_PI / 180.0));
      if (try_candidate(towards_object * ori::rot_y_deg(tilt))) return true;
    }
    return false;
  }

  // Slants about the horizontal axis across the bearing, expressed in the frame of Rz(yaw).
  bool slanted(float yaw) {
    Eigen::Vector3d across(tcp().y(), tcp().x(), 0.0);
    if (across.squaredNorm() > 0.0) across.normalize();
    const Eigen::Matrix3d turn = ori::rot_z(yaw).toRotationMatrix();
    const Eigen::Vector3d axis = turn.inverse() * across;
    const Quat first = ori::vertical_grasp(yaw);
    for (int slant = kSlantStep; slant >= kSlantMax; slant += kSlantStep) {
      Quat qs;
      e_.SlantGrabPose(qs, axis, static_cast<float>(slant));
      if (try_candidate(first * qs)) return true;
    }
    return false;
  }

  int from_side() {
    const bool common = entry_ == Entry::common;
    e_.grab_mainaxis_ = Eigen::Vector3f(0.0f, 0.0f, -1.0f);
    print_grab_mainaxis(e_, e_.grab_mainaxis_);
    e_.ExtendGrabTCP(tcp());
    Eigen::Vector3f radial(tcp().x(), tcp().y(), 0.0f);
    if (radial.squaredNorm() > 0.0f) radial.normalize();
    // The gripper closes around a standing object from the side; its fingers reach past
    // the visible front surface.
    tcp().x() += e_.tcp_ajust_value_ * radial.x();
    tcp().y() += e_.tcp_ajust_value_ * radial.y();
    console::line(e_, MAGENTA_BOLD, "grab_tcp_.x() += tcp_ajust_value_ * v_tcp.x() !");
    console::line(e_, MAGENTA_BOLD, "grab_tcp_.y() += tcp_ajust_value_ * v_tcp.y() !");
    if (footprint_) tcp().head<2>() = *footprint_;
    if (common && !in_grab_space()) return litterpose::kStandingTooNear;

    const Quat first = ori::side_grasp(ori::bearing(tcp().x(), tcp().y()));
    if (common) checks::print_q_grab(e_, first);
    e_.AssignGrabPose(tcp(), first, e_.grab_pose_);
    if (!common) return offer_initial();
    if (accepted()) return found();

    console::line(e_, YELLOW_BOLD, checks::kCannotGraspSideways);
    for (const int tilt : kSideTilts) {
      if (try_candidate(first * ori::rot_y_deg(-tilt))) return found();
    }
    return no_grasp();
  }

  GrabPoseEstimate& e_;
  Entry entry_;
  reason::Candidates candidates_;
  // The centre over which a lying object's grasp point stands.
  std::optional<Eigen::Vector2f> footprint_;
  // The long axis seen from above, where the preparation tells it from the footprint
  // rectangle's long side.
  std::optional<Eigen::Vector2f> axis_;
};

}  // namespace

int GrabPoseEstimate::CommonGrabPoseFunc(CloudPtr& cloud) {
  return CommonStrategy(*this, Entry::common).run(cloud);
}

int GrabPoseEstimate::GetInitialGrabPose(CloudPtr& cloud) {
  return CommonStrategy(*this, Entry::initial).run(cloud);
}

void GrabPoseEstimate::GetMainaxisType(Eigen::Matrix3f& vectors, MainAxisType& type) {
  ori::classify_main_axis(vectors, type);
  console::line(*this, MAGENTA_BOLD, "main_axis_type_:", type);
  console::line(*this, MAGENTA_BOLD, "trash_type_:", trash_type_);
  console::reset(*this);
}

void GrabPoseEstimate::OptMainAxisDirection(Eigen::Vector3f& direction) {
  direction.x() = rect_direction_.x();
  direction.y() = rect_direction_.y();
}

void GrabPoseEstimate::ExtendGrabTCP(Eigen::Vector3f& point) {
  const Eigen::Vector3f u = checks::camera_ray(camera_extrinsic_, point);
  const float thin = pca_lengths_[2];
  extend_length_ = thin < extend_lenth_threshold_ ? thin * extra_length_ratio_ : extend_length_max_;
  point += extend_length_ * u;
  if (point.z() < trash_lowest_z_ + kExtendedClearance) {
    console::line(*this, YELLOW_BOLD, "grab_tcp_.z() < (trash_lowest_z_ + 0.008)!!!");
    point.z() = static_cast<float>(trash_lowest_z_ + kExtendedClearance);
  }
  console::line(*this, MAGENTA_BOLD, "GrabTCP Extended!");
  console::reset(*this);
}

void GrabPoseEstimate::SlantGrabPose(Eigen::Quaterniond& q, Eigen::Vector3d axis, float angle_deg) {
  const float half = static_cast<float>(angle_deg * M_PI / 180.0) * 0.5f;
  const float s = std::sin(half);
  const float c = std::cos(half);
  q = Quat(c, axis.x() * s, axis.y() * s, axis.z() * s);
}

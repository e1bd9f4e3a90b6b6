#include "litterpose_ros/estimation.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

#include <litterpose_result.h>

namespace litterpose_ros {
namespace {

// While one lives, file descriptor 1, where the estimator's printf and std::cout write,
// points at /dev/null. When the descriptors cannot be set up, output stays where it was.
class SilencedStdout {
public:
  explicit SilencedStdout(bool silence) {
    if (!silence) return;
    flush();
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDOUT_FILENO);
    if (null >= 0) ::close(null);
  }
  ~SilencedStdout() {
    if (saved_ < 0) return;
    flush();
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  SilencedStdout(const SilencedStdout&) = delete;
  SilencedStdout& operator=(const SilencedStdout&) = delete;

private:
  static void flush() {
    std::cout.flush();
    std::fflush(stdout);
  }
  int saved_ = -1;
};

}  // namespace

// Every member an estimate writes, as construction left it.
struct Estimation::State {
  explicit State(const GrabPoseEstimate& e)
      : pass_ajust_value(e.pass_ajust_value_),
        extend_length(e.extend_length_),
        trash_lowest_z(e.trash_lowest_z_),
        trash_highest_z(e.trash_highest_z_),
        trash_height(e.trash_height_),
        grab_distance(e.grab_distance_),
        grab_angle(e.grab_angle_),
        main_axis_type(e.main_axis_type_),
        pca_vectors(e.pca_vectors_),
        pca_center(e.pca_center_),
        pca_lengths(e.pca_lengths_),
        grab_mainaxis(e.grab_mainaxis_),
        grab_tcp(e.grab_tcp_),
        grab_pose(e.grab_pose_),
        obb_position(e.obb_position_),
        obb_orientation(e.obb_orientation_),
        obb_min_point(e.obb_min_point_),
        obb_max_point(e.obb_max_point_),
        aabb_center(e.aabb_center_),
        aabb_min_point(e.aabb_min_point_),
        aabb_max_point(e.aabb_max_point_),
        rect_direction(e.rect_direction_) {
    for (int i = 0; i < 4; ++i) rect_points[i] = e.rect_points_[i];
  }

  void restore(GrabPoseEstimate& e) const {
    e.pass_ajust_value_ = pass_ajust_value;
    e.extend_length_ = extend_length;
    e.trash_lowest_z_ = trash_lowest_z;
    e.trash_highest_z_ = trash_highest_z;
    e.trash_height_ = trash_height;
    e.grab_distance_ = grab_distance;
    e.grab_angle_ = grab_angle;
    e.main_axis_type_ = main_axis_type;
    e.pca_vectors_ = pca_vectors;
    e.pca_center_ = pca_center;
    e.pca_lengths_ = pca_lengths;
    e.grab_mainaxis_ = grab_mainaxis;
    e.grab_tcp_ = grab_tcp;
    e.grab_pose_ = grab_pose;
    e.obb_position_ = obb_position;
    e.obb_orientation_ = obb_orientation;
    e.obb_min_point_ = obb_min_point;
    e.obb_max_point_ = obb_max_point;
    e.aabb_center_ = aabb_center;
    e.aabb_min_point_ = aabb_min_point;
    e.aabb_max_point_ = aabb_max_point;
    for (int i = 0; i < 4; ++i) e.rect_points_[i] = rect_points[i];
    e.rect_direction_ = rect_direction;
  }

  float pass_ajust_value, extend_length, trash_lowest_z, trash_highest_z, trash_height;
  float grab_distance, grab_angle;
  MainAxisType main_axis_type;
  Eigen::Matrix3f pca_vectors;
  Eigen::Vector4f pca_center;
  Eigen::Vector3f pca_lengths, grab_mainaxis, grab_tcp;
  GrabPoseEstimate::Pose6D grab_pose;
  Eigen::Vector3f obb_position;
  Eigen::Quaternionf obb_orientation;
  pcl::PointXYZ obb_min_point, obb_max_point;
  Eigen::Vector3f aabb_center;
  pcl::PointXYZ aabb_min_point, aabb_max_point;
  cv::Point2f rect_points[4];
  Eigen::Vector2f rect_direction;
};

std::optional<Entry> parseEntry(std::string_view name) {
  if (name == "common") return Entry::common;
  if (name == "main") return Entry::main;
  if (name == "initial") return Entry::initial;
  return std::nullopt;
}

Estimation::Estimation(const std::string& config_path, Entry entry, bool quiet)
    : entry_(entry), quiet_(quiet) {
  {
    const SilencedStdout silenced(quiet_);
    estimator_ = std::make_unique<GrabPoseEstimate>(config_path);
  }
  if (!estimator_->camera_extrinsic_.allFinite())
    throw std::invalid_argument("the camera extrinsic has an element that is not a finite number");
  configured_ = std::make_unique<State>(*estimator_);
}

Estimation::~Estimation() = default;

EstimateOutcome Estimation::estimate(const GrabPoseEstimate::CloudPtr& camera_cloud,
                                     int trash_type) {
  const SilencedStdout silenced(quiet_);
  EstimateOutcome outcome;
  try {
    GrabPoseEstimate& e = *estimator_;
    configured_->restore(e);
    e.trash_type_ = trash_type;
    GrabPoseEstimate::CloudPtr input = camera_cloud;
    auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
    e.PclTransform(input, cloud, e.camera_extrinsic_);
    switch (entry_) {
      case Entry::common: outcome.result = e.CommonGrabPoseFunc(cloud); break;
      case Entry::main: outcome.result = e.GrabPoseEstimateFunc(cloud); break;
      case Entry::initial: outcome.result = e.GetInitialGrabPose(cloud); break;
    }
  } catch (const std::exception& error) {
    outcome = {litterpose::kTooFewPoints, true, error.what()};
  } catch (...) {
    outcome = {litterpose::kTooFewPoints, true, "an exception of unknown type"};
  }
  return outcome;
}

}  // namespace litterpose_ros

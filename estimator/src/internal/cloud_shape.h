// The passes over one prepared cloud that the shape analysis makes, shared by the principal
// axes, the two boxes and the footprint rectangle of one estimate. The numbers are those of
// the libraries' own analyses to the bit (the Point Cloud Library's PCA and
// moment-of-inertia estimator, OpenCV's minimum-area rectangle): the same sums in the same
// order, without the passes, copies and unused results those analyses make.
#ifndef LITTERPOSE_INTERNAL_CLOUD_SHAPE_H
#define LITTERPOSE_INTERNAL_CLOUD_SHAPE_H

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include <Eigen/Dense>

#include "litterpose.h"

namespace litterpose::shape {

using Cloud = GrabPoseEstimate::Cloud;

class CloudShape {
public:
  explicit CloudShape(const Cloud& cloud) : cloud_(cloud) {}

  const Cloud& cloud() const { return cloud_; }

  struct Principal {
    Eigen::Vector4f mean;     // (x, y, z, 1); zero when no point is finite
    Eigen::Matrix3f vectors;  // columns by decreasing eigenvalue, right-handed
    Eigen::Vector3f lengths;  // extent along each column
  };
  // Needs three points.
  const Principal& principal();

  struct Box {
    pcl::PointXYZ min_point{0.0f, 0.0f, 0.0f};
    pcl::PointXYZ max_point{0.0f, 0.0f, 0.0f};
    pcl::PointXYZ position{0.0f, 0.0f, 0.0f};
    Eigen::Matrix3f rotation = Eigen::Matrix3f::Identity();
  };
  // The oriented box; needs one point.
  const Box& oriented();
  // The axis-aligned box; needs one point.
  const Box& aligned();

  // The footprint points (x and y finite) that may lie on its convex hull: all but those
  // strictly inside the polygon of its extreme points, in cloud order.
  std::vector<cv::Point2f> footprintHullCandidates();

private:
  // One pass: the sums of the coordinates (of all points, and of the finite ones), the
  // axis-aligned box, and the extreme points of the footprint.
  struct Sums {
    Eigen::Vector3f all = Eigen::Vector3f::Zero();
    Eigen::Vector3f finite = Eigen::Vector3f::Zero();
    std::size_t finite_count = 0;
    pcl::PointXYZ min_point, max_point;
    std::array<std::ptrdiff_t, 8> extremes{};  // -1 without a footprint point
  };
  const Sums& sums();
  // Mean of the moment-of-inertia estimator: every point, finite or not.
  Eigen::Vector3f momentsMean();
  Eigen::Matrix3f momentsCovariance(const Eigen::Vector3f& mean);

  const Cloud& cloud_;
  std::optional<Sums> sums_;
  std::optional<Principal> principal_;
  std::optional<Eigen::Matrix3f> moments_covariance_;  // made with the principal axes
  std::optional<Box> oriented_;
  std::optional<Box> aligned_;
};

}  // namespace litterpose::shape

#endif

// The passes over one prepared cloud that the shape analysis makes, shared by the principal
// axes, the two boxes and the footprint rectangle of one estimate. The numbers are those of
// the libraries' own analyses to the bit (the Point Cloud Library's PCA and
// moment-of-inertia estimator, OpenCV's minimum-area rectangle): the same sums in the same
// order, without the passes, copies and unused results those analyses make.
#ifndef LITTERPOSE_INTERNAL_SHAPE_PASSES_H
#define LITTERPOSE_INTERNAL_SHAPE_PASSES_H

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <vector>

#include <Eigen/Dense>

#include "litterpose.h"

namespace litterpose::shape {

using Cloud = GrabPoseEstimate::Cloud;

// The first pass over a cloud, point by point in cloud order: the sums of the coordinates
// (of every point, and of the finite ones when they are told apart), the axis-aligned box,
// and the footprint's extreme points in eight directions.
class CloudSums {
public:
  struct Result {
    Eigen::Vector3f all = Eigen::Vector3f::Zero();
    Eigen::Vector3f finite = Eigen::Vector3f::Zero();
    std::size_t finite_count = 0;
    pcl::PointXYZ min_point, max_point;
    // +x, +x+y, +y, -x+y, -x, -x-y, -y, +x-y; -1 without a footprint point
    std::array<std::ptrdiff_t, 8> extremes;
  };

  // Without finite_apart every point counts as finite (the caller knows they all are).
  explicit CloudSums(bool finite_apart) : finite_apart_(finite_apart) {
    extremes_.fill(-1);
    for (float& b : best_) b = -std::numeric_limits<float>::infinity();
  }

  void add(const pcl::PointXYZ& p) {
    ax_ += p.x;
    ay_ += p.y;
    az_ += p.z;
    if (finite_apart_ && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) {
      fx_ += p.x;
      fy_ += p.y;
      fz_ += p.z;
      ++finite_count_;
    }
    // The comparisons of the moment-of-inertia estimator: ties go to the later point,
    // non-numbers never win.
    lo_.x = p.x <= lo_.x ? p.x : lo_.x;
    lo_.y = p.y <= lo_.y ? p.y : lo_.y;
    lo_.z = p.z <= lo_.z ? p.z : lo_.z;
    hi_.x = p.x >= hi_.x ? p.x : hi_.x;
    hi_.y = p.y >= hi_.y ? p.y : hi_.y;
    hi_.z = p.z >= hi_.z ? p.z : hi_.z;
    if (std::isfinite(p.x) && std::isfinite(p.y)) {
      const float keys[4] = {p.x, p.x + p.y, p.y, p.y - p.x};
      for (int d = 0; d < 4; ++d) {
        if (keys[d] > best_[d]) {
          best_[d] = keys[d];
          extremes_[d] = static_cast<std::ptrdiff_t>(count_);
        }
        if (-keys[d] > best_[d + 4]) {
          best_[d + 4] = -keys[d];
          extremes_[d + 4] = static_cast<std::ptrdiff_t>(count_);
        }
      }
    }
    ++count_;
  }

  Result finish() const {
    Result r;
    r.all = Eigen::Vector3f(ax_, ay_, az_);
    r.finite = finite_apart_ ? Eigen::Vector3f(fx_, fy_, fz_) : r.all;
    r.finite_count = finite_apart_ ? finite_count_ : count_;
    r.min_point = lo_;
    r.max_point = hi_;
    r.extremes = extremes_;
    return r;
  }

private:
  static constexpr float kMax = std::numeric_limits<float>::max();
  bool finite_apart_;
  std::size_t count_ = 0;
  float ax_ = 0.0f, ay_ = 0.0f, az_ = 0.0f;
  float fx_ = 0.0f, fy_ = 0.0f, fz_ = 0.0f;
  std::size_t finite_count_ = 0;
  pcl::PointXYZ lo_{kMax, kMax, kMax}, hi_{-kMax, -kMax, -kMax};
  std::array<float, 8> best_;
  std::array<std::ptrdiff_t, 8> extremes_;
};

class CloudShape {
public:
  // The results an estimate will ask for; what one pass over the points can give them
  // all is made in that pass.
  enum Result : unsigned { kPrincipal = 1, kOriented = 2, kAligned = 4, kFootprint = 8 };

  // `sums`, when given, are those of this cloud's points, made as it was prepared.
  CloudShape(const Cloud& cloud, unsigned wanted, const CloudSums::Result* sums = nullptr)
      : cloud_(cloud), wanted_(wanted) {
    if (sums != nullptr) sums_ = *sums;
  }

  const Cloud& cloud() const { return cloud_; }

  struct Principal {
    Eigen::Vector4f mean;     // (x, y, z, 1); zero when no point is finite
    Eigen::Matrix3f vectors;  // columns by decreasing eigenvalue, right-handed
    Eigen::Vector3f lengths;  // extent along each column
  };
  // pcl::PCA with the extents of the projected cloud; needs three points.
  const Principal& principal();

  struct Box {
    pcl::PointXYZ min_point{0.0f, 0.0f, 0.0f};
    pcl::PointXYZ max_point{0.0f, 0.0f, 0.0f};
    pcl::PointXYZ position{0.0f, 0.0f, 0.0f};
    Eigen::Matrix3f rotation = Eigen::Matrix3f::Identity();
  };
  // The boxes of pcl::MomentOfInertiaEstimation; need one point.
  const Box& oriented();
  const Box& aligned();

  // The footprint points (x and y finite) that may lie on its convex hull: all but those
  // strictly inside the polygon of its extreme points, in cloud order.
  const std::vector<cv::Point2f>& footprintHullCandidates();

private:
  using Sums = CloudSums::Result;
  const Sums& sums();

  // The axes of the oriented box and the extremes of the points along them.
  struct Axes {
    Eigen::Vector3f major, middle, minor;
  };
  struct Extremes {
    pcl::PointXYZ min_point, max_point;
  };
  Eigen::Vector3f momentsMean();
  Eigen::Matrix3f momentsCovariance(const Eigen::Vector3f& mean);
  static Axes momentAxes(const Eigen::Matrix3f& covariance);

  // The last pass: the projections onto the principal axes, onto the box axes and the
  // footprint filter, for those of them that are given.
  void project(Principal* principal, const Axes* axes, Extremes* extremes,
               std::vector<cv::Point2f>* candidates);

  const Cloud& cloud_;
  unsigned wanted_;
  std::optional<Sums> sums_;
  std::optional<Principal> principal_;
  std::optional<Eigen::Matrix3f> moments_covariance_;  // made with the principal axes
  std::optional<Axes> axes_;
  std::optional<Extremes> extremes_;
  std::optional<Box> oriented_;
  std::optional<Box> aligned_;
  std::optional<std::vector<cv::Point2f>> candidates_;
};

}  // namespace litterpose::shape

#endif

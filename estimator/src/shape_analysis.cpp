// Shape analysis of a prepared object cloud: principal axes and extents, oriented and
// axis-aligned bounding boxes, and the minimum-area rectangle of the footprint.
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <pcl/common/pca.h>
#include <pcl/features/moment_of_inertia_estimation.h>

#include "internal/console.h"
#include "litterpose.h"

namespace {

using litterpose::console::line;
using litterpose::console::reset;

// The boxes come from the mean and the eigenvectors, computed before the estimator's
// sweep of axis directions; one step this wide leaves a sweep of a single direction.
constexpr float kSingleDirectionAngleStep = 1000.0f;

// Direction reported for a footprint without a long side (all points on one vertical line).
const Eigen::Vector2f kDirectionOfPointFootprint(1.0f, 0.0f);

// A null cloud is analysed as a cloud without points.
const GrabPoseEstimate::Cloud& points_of(const GrabPoseEstimate::CloudPtr& cloud) {
  static const GrabPoseEstimate::Cloud no_points;
  return cloud ? *cloud : no_points;
}

}  // namespace

void GrabPoseEstimate::PCAFunc(const CloudPtr& cloud) {
  line(PURPLE_BOLD, "------------------------------PCA-----------------------------------");
  const auto start = litterpose::console::Clock::now();

  // Only the basis is needed here; the library's coefficients would be a second
  // projection of the whole cloud.
  pcl::PCA<pcl::PointXYZ> pca(true);
  pca.setInputCloud(cloud);
  const Eigen::Matrix3f vectors = pca.getEigenVectors();  // throws below three points
  pca_vectors_ = vectors;
  pca_center_ = pca.getMean();
  line(CYAN_BOLD, "点云中心点坐标：", pca_center_[0], " ", pca_center_[1], " ", pca_center_[2],
       " ", pca_center_[3]);

  constexpr float kMax = std::numeric_limits<float>::max();
  Eigen::Vector3f lowest = Eigen::Vector3f::Constant(kMax);
  Eigen::Vector3f highest = Eigen::Vector3f::Constant(-kMax);
  // The library's projection of a cloud leaves out non-finite points unless it is dense.
  const bool dense = cloud->is_dense;
  pcl::PointXYZ projected;
  for (const auto& p : cloud->points) {
    if (!dense && !(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z))) continue;
    pca.project(p, projected);
    const Eigen::Vector3f c = projected.getVector3fMap();
    for (int i = 0; i < 3; ++i) {
      if (c[i] < lowest[i]) lowest[i] = c[i];
      if (c[i] > highest[i]) highest[i] = c[i];
    }
  }
  pca_lengths_ = highest - lowest;
  line(MAGENTA_BOLD, "点云在各个特征向量方向上的长度为：", MAGENTA_BOLD, pca_lengths_[0], " ",
       MAGENTA_BOLD, pca_lengths_[1], " ", MAGENTA_BOLD, pca_lengths_[2], " ");
  line(RED_BOLD, "PcaFunc cost ", litterpose::console::cost_ms(start), " ms");
}

void GrabPoseEstimate::OBBFunc(const CloudPtr& cloud) {
  line(PURPLE_BOLD, "------------------------------OBB-----------------------------------");
  pcl::PointXYZ min_point(0.0f, 0.0f, 0.0f), max_point(0.0f, 0.0f, 0.0f), position(0.0f, 0.0f, 0.0f);
  Eigen::Matrix3f rotation = Eigen::Matrix3f::Identity();
  // The estimator only reads its input, so the caller's cloud needs no copy.
  if (!points_of(cloud).empty()) {
    pcl::MomentOfInertiaEstimation<pcl::PointXYZ> estimator;
    estimator.setAngleStep(kSingleDirectionAngleStep);
    estimator.setInputCloud(cloud);
    estimator.compute();
    estimator.getOBB(min_point, max_point, position, rotation);
  }
  line(CYAN_BOLD, "OBB包围盒的长宽高尺寸为:", max_point.x - min_point.x, " x ",
       max_point.y - min_point.y, " x ", max_point.z - min_point.z);
  line("", "OBB包围盒的位置:", position.x, " ", position.y, " ", position.z);
  obb_orientation_ = Eigen::Quaternionf(rotation);
  obb_position_ = position.getVector3fMap();
  obb_min_point_ = min_point;
  obb_max_point_ = max_point;
  reset();
}

void GrabPoseEstimate::AABBFunc(const CloudPtr& cloud) {
  line(PURPLE_BOLD, "------------------------------AABB----------------------------------");
  const Cloud& points = points_of(cloud);
  pcl::PointXYZ min_point(0.0f, 0.0f, 0.0f), max_point(0.0f, 0.0f, 0.0f);
  if (!points.empty()) {
    // The comparisons of the moment-of-inertia estimator, so that the box is the same to
    // the bit (ties go to the later point, non-numbers never win).
    constexpr float kMax = std::numeric_limits<float>::max();
    min_point = pcl::PointXYZ(kMax, kMax, kMax);
    max_point = pcl::PointXYZ(-kMax, -kMax, -kMax);
    for (const auto& p : points.points) {
      if (p.x <= min_point.x) min_point.x = p.x;
      if (p.y <= min_point.y) min_point.y = p.y;
      if (p.z <= min_point.z) min_point.z = p.z;
      if (p.x >= max_point.x) max_point.x = p.x;
      if (p.y >= max_point.y) max_point.y = p.y;
      if (p.z >= max_point.z) max_point.z = p.z;
    }
  }
  const Eigen::Vector3f size = max_point.getVector3fMap() - min_point.getVector3fMap();
  const Eigen::Vector3f centre = min_point.getVector3fMap() + 0.5f * size;
  line(CYAN_BOLD, "AABB包围盒的长宽高尺寸为:", size.x(), " x ", size.y(), " x ", size.z());
  line("", "AABB包围盒的位置:", centre.x(), " ", centre.y(), " ", centre.z());
  aabb_center_ = centre;
  aabb_min_point_ = min_point;
  aabb_max_point_ = max_point;
  reset();
}

void GrabPoseEstimate::MinAreaRectFunc(const CloudPtr& cloud) {
  line(PURPLE_BOLD, "---------------------------MinAreaRect------------------------------");
  const Cloud& points = points_of(cloud);
  // Non-finite points are left out: they have no place in a footprint, and the convex
  // hull's sorting is undefined on them.
  std::vector<cv::Point2f> footprint;
  footprint.reserve(points.size());
  for (const auto& p : points.points) {
    if (std::isfinite(p.x) && std::isfinite(p.y)) footprint.emplace_back(p.x, p.y);
  }
  // An empty footprint gets the degenerate rectangle at the origin.
  const cv::RotatedRect rect = footprint.empty() ? cv::RotatedRect() : cv::minAreaRect(footprint);
  line(CYAN_BOLD, "Angle: ", rect.angle);
  rect.points(rect_points_);

  // Corner 1 - corner 0 runs along the height, corner 2 - corner 1 along the width.
  const cv::Point2f d = rect.size.width < rect.size.height ? rect_points_[1] - rect_points_[0]
                                                           : rect_points_[2] - rect_points_[1];
  const double dx = d.x, dy = d.y;
  const double length = std::sqrt(dx * dx + dy * dy);
  if (length > 0.0 && std::isfinite(length)) {
    rect_direction_ = Eigen::Vector2f(static_cast<float>(dx / length),
                                      static_cast<float>(dy / length));
  } else {
    rect_direction_ = kDirectionOfPointFootprint;
  }
  if (rect_direction_.x() < 0.0f) rect_direction_ = -rect_direction_;
  line(GREEN_BOLD, "Adjusted unit vector: (", rect_direction_.x(), ", ", rect_direction_.y(), ")");
  reset();
}

void GrabPoseEstimate::get_obb_pose(Pose6D& obb_pose, Pose6D& base_pose,
                                    Eigen::Matrix<float, 3, 1>& position,
                                    Eigen::Matrix<float, 3, 3>& rotation) {
  line(PURPLE_BOLD, "--------------------------GetObbBoxPose-----------------------------");
  const Eigen::Quaterniond base2obbQuaternion(Eigen::Matrix3d(rotation.cast<double>()));
  line(CYAN_BOLD, "base2obbQuaternion: ", base2obbQuaternion.w(), "  ", base2obbQuaternion.x(),
       "  ", base2obbQuaternion.y(), "  ", base2obbQuaternion.z());

  Eigen::Affine3d base = Eigen::Affine3d::Identity();
  base.linear() = base_pose.orientation.toRotationMatrix();
  base.translation() = base_pose.position.cast<double>();
  Eigen::Affine3d box = Eigen::Affine3d::Identity();
  box.linear() = base2obbQuaternion.toRotationMatrix();
  box.translation() = position.cast<double>();
  const Eigen::Affine3d relative = base.inverse(Eigen::Affine) * box;

  // Written only now: the caller may pass one pose as both base and result.
  obb_pose.position = relative.translation().cast<float>();
  obb_pose.orientation = Eigen::Quaterniond(relative.linear());
  line(CYAN_BOLD, "trash obb_pose.position: ", obb_pose.position.x(), "  ", obb_pose.position.y(),
       "  ", obb_pose.position.z());
  line(CYAN_BOLD, "trash obb_pose.orientation: ", obb_pose.orientation.w(), "  ",
       obb_pose.orientation.x(), "  ", obb_pose.orientation.y(), "  ", obb_pose.orientation.z());
  reset();
}

// Shape analysis of a prepared object cloud: principal axes and extents, oriented and
// axis-aligned bounding boxes, and the minimum-area rectangle of the footprint.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <pcl/common/pca.h>

#include "internal/cloud_shape.h"
#include "internal/console.h"
#include "internal/shape_sections.h"
#include "litterpose.h"

namespace litterpose::shape {
namespace {

using console::line;
using console::reset;

// Direction reported for a footprint without a long side (all points on one vertical line).
const Eigen::Vector2f kDirectionOfPointFootprint(1.0f, 0.0f);

}  // namespace

// ---------------------------------------------------------------------------------------
// The printed sections and the members they fill.

void principalSection(GrabPoseEstimate& e, const GrabPoseEstimate::CloudPtr& cloud,
                      CloudShape& shape) {
  line(e, PURPLE_BOLD, "------------------------------PCA-----------------------------------");
  const auto start = console::Clock::now();
  if (!cloud || cloud->size() < 3) {
    // The library's own refusal: its initialisation-failure exception and message.
    pcl::PCA<pcl::PointXYZ> pca(true);
    pca.setInputCloud(cloud);
    pca.getEigenVectors();
  }
  const CloudShape::Principal& p = shape.principal();
  e.pca_vectors_ = p.vectors;
  e.pca_center_ = p.mean;
  line(e, CYAN_BOLD, "点云中心点坐标：", e.pca_center_[0], " ", e.pca_center_[1], " ", e.pca_center_[2],
       " ", e.pca_center_[3]);
  e.pca_lengths_ = p.lengths;
  line(e, MAGENTA_BOLD, "点云在各个特征向量方向上的长度为：", MAGENTA_BOLD, e.pca_lengths_[0], " ",
       MAGENTA_BOLD, e.pca_lengths_[1], " ", MAGENTA_BOLD, e.pca_lengths_[2], " ");
  line(e, RED_BOLD, "PcaFunc cost ", console::cost_ms(start), " ms");
}

void orientedBoxSection(GrabPoseEstimate& e, CloudShape& shape) {
  line(e, PURPLE_BOLD, "------------------------------OBB-----------------------------------");
  CloudShape::Box box;
  if (!shape.cloud().empty()) box = shape.oriented();
  line(e, CYAN_BOLD, "OBB包围盒的长宽高尺寸为:", box.max_point.x - box.min_point.x, " x ",
       box.max_point.y - box.min_point.y, " x ", box.max_point.z - box.min_point.z);
  line(e, "", "OBB包围盒的位置:", box.position.x, " ", box.position.y, " ", box.position.z);
  e.obb_orientation_ = Eigen::Quaternionf(box.rotation);
  e.obb_position_ = box.position.getVector3fMap();
  e.obb_min_point_ = box.min_point;
  e.obb_max_point_ = box.max_point;
  reset(e);
}

void alignedBoxSection(GrabPoseEstimate& e, CloudShape& shape) {
  line(e, PURPLE_BOLD, "------------------------------AABB----------------------------------");
  pcl::PointXYZ min_point(0.0f, 0.0f, 0.0f), max_point(0.0f, 0.0f, 0.0f);
  if (!shape.cloud().empty()) {
    min_point = shape.aligned().min_point;
    max_point = shape.aligned().max_point;
  }
  const Eigen::Vector3f size = max_point.getVector3fMap() - min_point.getVector3fMap();
  const Eigen::Vector3f centre = min_point.getVector3fMap() + 0.5f * size;
  line(e, CYAN_BOLD, "AABB包围盒的长宽高尺寸为:", size.x(), " x ", size.y(), " x ", size.z());
  line(e, "", "AABB包围盒的位置:", centre.x(), " ", centre.y(), " ", centre.z());
  e.aabb_center_ = centre;
  e.aabb_min_point_ = min_point;
  e.aabb_max_point_ = max_point;
  reset(e);
}

void footprintSection(GrabPoseEstimate& e, CloudShape& shape) {
  line(e, PURPLE_BOLD, "---------------------------MinAreaRect------------------------------");
  // Only the points that can lie on the footprint's convex hull go to the rectangle: the
  // hull, and with it the rectangle, is that of every footprint point. Non-finite points
  // have no place in a footprint, and the hull's sorting is undefined on them.
  const std::vector<cv::Point2f>& footprint = shape.footprintHullCandidates();
  // An empty footprint gets the degenerate rectangle at the origin.
  const cv::RotatedRect rect = footprint.empty() ? cv::RotatedRect() : cv::minAreaRect(footprint);
  line(e, CYAN_BOLD, "Angle: ", rect.angle);
  rect.points(e.rect_points_);

  // Corner 1 - corner 0 runs along the height, corner 2 - corner 1 along the width.
  const cv::Point2f d = rect.size.width < rect.size.height ? e.rect_points_[1] - e.rect_points_[0]
                                                           : e.rect_points_[2] - e.rect_points_[1];
  const double dx = d.x, dy = d.y;
  const double length = std::sqrt(dx * dx + dy * dy);
  if (length > 0.0 && std::isfinite(length)) {
    e.rect_direction_ =
        Eigen::Vector2f(static_cast<float>(dx / length), static_cast<float>(dy / length));
  } else {
    e.rect_direction_ = kDirectionOfPointFootprint;
  }
  if (e.rect_direction_.x() < 0.0f) e.rect_direction_ = -e.rect_direction_;
  line(e, GREEN_BOLD, "Adjusted unit vector: (", e.rect_direction_.x(), ", ", e.rect_direction_.y(),
       ")");
  reset(e);
}

}  // namespace litterpose::shape

namespace {

namespace shape = litterpose::shape;

// A null cloud is analysed as a cloud without points.
const GrabPoseEstimate::Cloud& points_of(const GrabPoseEstimate::CloudPtr& cloud) {
  static const GrabPoseEstimate::Cloud no_points;
  return cloud ? *cloud : no_points;
}

}  // namespace

void GrabPoseEstimate::PCAFunc(const CloudPtr& cloud) {
  shape::CloudShape analysis(points_of(cloud), shape::CloudShape::kPrincipal);
  shape::principalSection(*this, cloud, analysis);
}

void GrabPoseEstimate::OBBFunc(const CloudPtr& cloud) {
  shape::CloudShape analysis(points_of(cloud), shape::CloudShape::kOriented);
  shape::orientedBoxSection(*this, analysis);
}

void GrabPoseEstimate::AABBFunc(const CloudPtr& cloud) {
  shape::CloudShape analysis(points_of(cloud), shape::CloudShape::kAligned);
  shape::alignedBoxSection(*this, analysis);
}

void GrabPoseEstimate::MinAreaRectFunc(const CloudPtr& cloud) {
  shape::CloudShape analysis(points_of(cloud), shape::CloudShape::kFootprint);
  shape::footprintSection(*this, analysis);
}

void GrabPoseEstimate::get_obb_pose(Pose6D& obb_pose, Pose6D& base_pose,
                                    Eigen::Matrix<float, 3, 1>& position,
                                    Eigen::Matrix<float, 3, 3>& rotation) {
  using litterpose::console::line;
  line(*this, PURPLE_BOLD, "--------------------------GetObbBoxPose-----------------------------");
  const Eigen::Quaterniond base2obbQuaternion(Eigen::Matrix3d(rotation.cast<double>()));
  line(*this, CYAN_BOLD, "base2obbQuaternion: ", base2obbQuaternion.w(), "  ",
       base2obbQuaternion.x(), "  ", base2obbQuaternion.y(), "  ", base2obbQuaternion.z());

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
  line(*this, CYAN_BOLD, "trash obb_pose.position: ", obb_pose.position.x(), "  ",
       obb_pose.position.y(), "  ", obb_pose.position.z());
  line(*this, CYAN_BOLD, "trash obb_pose.orientation: ", obb_pose.orientation.w(), "  ",
       obb_pose.orientation.x(), "  ", obb_pose.orientation.y(), "  ", obb_pose.orientation.z());
  litterpose::console::reset(*this);
}

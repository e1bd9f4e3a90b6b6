// The oriented and the axis-aligned bounding boxes of a prepared object cloud (OBBFunc,
// AABBFunc), and the pose of the oriented box relative to another pose (get_obb_pose).
#include "internal/console.h"
#include "internal/shape_analysis.h"
#include "litterpose.h"

namespace litterpose::shape {

using console::line;
using console::reset;

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

}  // namespace litterpose::shape

void GrabPoseEstimate::OBBFunc(const CloudPtr& cloud) {
  litterpose::shape::CloudShape analysis(litterpose::shape::pointsOf(cloud), litterpose::shape::CloudShape::kOriented);
  litterpose::shape::orientedBoxSection(*this, analysis);
}

void GrabPoseEstimate::AABBFunc(const CloudPtr& cloud) {
  litterpose::shape::CloudShape analysis(litterpose::shape::pointsOf(cloud), litterpose::shape::CloudShape::kAligned);
  litterpose::shape::alignedBoxSection(*this, analysis);
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

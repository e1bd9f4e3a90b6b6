#include "litterpose_ros/grasp_messages.h"

#include <Eigen/Geometry>

namespace litterpose_ros {
namespace {

using visualization_msgs::Marker;

// Colours and widths as litterview draws: a white box, a green footprint, the grasp in
// magenta; the closing axis, which litterview does not show, in cyan.
constexpr double kLineWidth = 0.003;
constexpr double kArrowShaft = 0.006;
constexpr double kArrowHead = 0.012;
constexpr double kArrowHeadLength = 0.02;
constexpr float kBoxOpacity = 0.35f;
constexpr float kGripperOpacity = 0.6f;  // the palm orange, the fingers yellow

geometry_msgs::Point point(const Eigen::Vector3d& p) {
  geometry_msgs::Point out;
  out.x = p.x();
  out.y = p.y();
  out.z = p.z();
  return out;
}

geometry_msgs::Quaternion quaternion(const Eigen::Quaterniond& q) {
  geometry_msgs::Quaternion out;
  out.x = q.x();
  out.y = q.y();
  out.z = q.z();
  out.w = q.w();
  return out;
}

Marker marker(const std_msgs::Header& header, int id, int type, float r, float g, float b) {
  Marker m;
  m.header = header;
  m.ns = kMarkerNamespace;
  m.id = id;
  m.type = type;
  m.action = Marker::ADD;
  m.pose.orientation.w = 1.0;
  m.color.r = r;
  m.color.g = g;
  m.color.b = b;
  m.color.a = 1.0f;
  return m;
}

}  // namespace

geometry_msgs::PoseStamped toPoseStamped(const GrabPoseEstimate::Pose6D& pose,
                                         const std_msgs::Header& header) {
  geometry_msgs::PoseStamped out;
  out.header = header;
  out.pose.position = point(pose.position.cast<double>());
  out.pose.orientation = quaternion(pose.orientation);
  return out;
}

visualization_msgs::MarkerArray graspMarkers(const GrabPoseEstimate& e,
                                             const std_msgs::Header& header) {
  visualization_msgs::MarkerArray array;

  Marker box = marker(header, kOrientedBoxMarker, Marker::CUBE, 1.0f, 1.0f, 1.0f);
  box.color.a = kBoxOpacity;
  box.pose.position = point(e.obb_position_.cast<double>());
  box.pose.orientation = quaternion(e.obb_orientation_.cast<double>().normalized());
  box.scale.x = e.obb_max_point_.x - e.obb_min_point_.x;
  box.scale.y = e.obb_max_point_.y - e.obb_min_point_.y;
  box.scale.z = e.obb_max_point_.z - e.obb_min_point_.z;
  array.markers.push_back(box);

  Marker footprint = marker(header, kFootprintMarker, Marker::LINE_STRIP, 0.0f, 1.0f, 0.0f);
  footprint.scale.x = kLineWidth;
  const double floor_z = -e.base_height_;
  for (int i = 0; i <= 4; ++i) {
    const cv::Point2f& corner = e.rect_points_[i % 4];
    footprint.points.push_back(point(Eigen::Vector3d(corner.x, corner.y, floor_z)));
  }
  array.markers.push_back(footprint);

  const Eigen::Vector3d grasp = e.grab_pose_.position.cast<double>();
  const Eigen::Matrix3d tool = e.grab_pose_.orientation.normalized().toRotationMatrix();

  Marker approach = marker(header, kApproachMarker, Marker::ARROW, 1.0f, 0.0f, 1.0f);
  approach.scale.x = kArrowShaft;
  approach.scale.y = kArrowHead;
  approach.scale.z = kArrowHeadLength;
  approach.points = {point(grasp - kApproachLength * tool.col(2)), point(grasp)};
  array.markers.push_back(approach);

  Marker closing = marker(header, kClosingAxisMarker, Marker::LINE_LIST, 0.0f, 1.0f, 1.0f);
  closing.scale.x = kLineWidth;
  closing.points = {point(grasp - kClosingHalfLength * tool.col(1)),
                    point(grasp + kClosingHalfLength * tool.col(1))};
  array.markers.push_back(closing);

  if (e.gripper_.enable) {
    const litterpose::GripperCheck fit = litterpose::checkGripper(e, e.grab_pose_);
    const litterpose::GripperBox* boxes[3] = {&fit.palm, &fit.fingers[0], &fit.fingers[1]};
    for (int i = 0; i < 3; ++i) {
      Marker solid = marker(header, kGripperPalmMarker + i, Marker::CUBE, 1.0f,
                            i == 0 ? 0.5f : 1.0f, 0.0f);
      solid.color.a = kGripperOpacity;
      solid.pose.position = point(boxes[i]->centre.cast<double>());
      solid.pose.orientation = quaternion(boxes[i]->orientation.cast<double>().normalized());
      solid.scale.x = boxes[i]->size.x();
      solid.scale.y = boxes[i]->size.y();
      solid.scale.z = boxes[i]->size.z();
      array.markers.push_back(solid);
    }
  }
  return array;
}

visualization_msgs::MarkerArray deleteAllMarkers(const std_msgs::Header& header) {
  Marker clear;
  clear.header = header;
  clear.ns = kMarkerNamespace;
  clear.action = Marker::DELETEALL;
  clear.pose.orientation.w = 1.0;
  visualization_msgs::MarkerArray array;
  array.markers.push_back(clear);
  return array;
}

geometry_msgs::TransformStamped cameraTransform(const Eigen::Matrix4f& camera_to_base,
                                                const std_msgs::Header& base_header,
                                                const std::string& camera_frame) {
  const Eigen::Matrix4d t = camera_to_base.cast<double>();
  geometry_msgs::TransformStamped out;
  out.header = base_header;
  out.child_frame_id = camera_frame;
  out.transform.translation.x = t(0, 3);
  out.transform.translation.y = t(1, 3);
  out.transform.translation.z = t(2, 3);
  const Eigen::Matrix3d rotation = t.block<3, 3>(0, 0);
  out.transform.rotation = quaternion(Eigen::Quaterniond(rotation).normalized());
  return out;
}

}  // namespace litterpose_ros

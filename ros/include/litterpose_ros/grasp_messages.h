// Messages made from the estimator's results: the grasp pose, the markers that show an
// estimate in rviz (or clear them), and the camera's mounting as a transform.
#ifndef LITTERPOSE_ROS_GRASP_MESSAGES_H
#define LITTERPOSE_ROS_GRASP_MESSAGES_H

#include <string>

#include <Eigen/Dense>
#include <geometry_msgs/PoseStamped.h>
#include <geometry_msgs/TransformStamped.h>
#include <litterpose.h>
#include <std_msgs/Header.h>
#include <visualization_msgs/MarkerArray.h>

namespace litterpose_ros {

// Marker ids in the namespace kMarkerNamespace; each estimate replaces the four (seven with
// the gripper model on).
inline constexpr char kMarkerNamespace[] = "litterpose";
enum MarkerId : int {
  kOrientedBoxMarker = 0,  // the object's oriented bounding box
  kFootprintMarker = 1,    // the footprint rectangle, on the floor
  kApproachMarker = 2,     // arrow along the tool z axis, ending at the grasp point
  kClosingAxisMarker = 3,  // segment along the tool y axis, across the grasp point
  // With the gripper model on: its solids at the grasp, boxes turned as the tool is.
  kGripperPalmMarker = 4,
  kGripperFingerMarker = 5,  // the finger at -y of the tool; the one at +y is 6
};
inline constexpr double kApproachLength = 0.1;       // metres
inline constexpr double kClosingHalfLength = 0.05;   // metres

geometry_msgs::PoseStamped toPoseStamped(const GrabPoseEstimate::Pose6D& pose,
                                         const std_msgs::Header& header);

// The estimate's oriented box, footprint rectangle and grasp pose, in the base frame of
// header; read from the estimator after an estimate that returned 1. With the gripper model
// on, also the palm and the open fingers as the model places them at the grasp.
visualization_msgs::MarkerArray graspMarkers(const GrabPoseEstimate& estimator,
                                             const std_msgs::Header& header);

// One DELETEALL marker: rviz drops the markers of the last grasp when an answer has none.
visualization_msgs::MarkerArray deleteAllMarkers(const std_msgs::Header& header);

// The pose of the camera in the base frame, from the camera-to-base transform.
geometry_msgs::TransformStamped cameraTransform(const Eigen::Matrix4f& camera_to_base,
                                                const std_msgs::Header& base_header,
                                                const std::string& camera_frame);

}  // namespace litterpose_ros

#endif

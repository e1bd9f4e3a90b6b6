// Where a cloud stands relative to the arm: the frame ids a cloud may carry, and the
// camera-to-base transform that brings it into the base frame, from the configuration or
// from tf2.
#ifndef LITTERPOSE_ROS_FRAMES_H
#define LITTERPOSE_ROS_FRAMES_H

#include <optional>
#include <string>
#include <string_view>

#include <Eigen/Dense>
#include <geometry_msgs/Transform.h>
#include <std_msgs/Header.h>
#include <tf2_ros/buffer_interface.h>

#include "litterpose_ros/refusals.h"

namespace litterpose_ros {

// Where the camera's mounting comes from (~camera_tf).
enum class CameraTf {
  publish,  // the configured extrinsic, also published on /tf_static as base -> camera frame
  none,     // the configured extrinsic; the camera's driver publishes the camera's frames
  lookup,   // tf2: base <- the cloud's frame at the cloud's stamp, for every cloud
};

// "publish", "none" or "lookup"; nothing for another name.
std::optional<CameraTf> cameraTfNamed(std::string_view name);
const char* cameraTfName(CameraTf mode);

// A frame id as it is compared: without surrounding blanks and a leading '/', as tf2 takes
// "/base_link" for "base_link".
std::string normalisedFrameId(std::string_view frame_id);

// The rigid transform as a homogeneous matrix; its rotation is normalised first. Nothing
// when it holds a number that is not finite, a zero rotation, or (in float) a translation
// beyond float.
std::optional<Eigen::Matrix4d> toMatrixDouble(const geometry_msgs::Transform& transform);
std::optional<Eigen::Matrix4f> toMatrix(const geometry_msgs::Transform& transform);

// The transform that brings a cloud into the base frame, or why there is none.
struct Placement {
  std::optional<Eigen::Matrix4f> camera_to_base;
  // The same in double, when tf2 gave it: float64 coordinates are brought into the base
  // frame with it (see toPclCloud).
  std::optional<Eigen::Matrix4d> looked_up;
  Refusal refusal = Refusal::kUnknownFrame;  // when there is none
  std::string error;
};

class CloudFrames {
public:
  struct Settings {
    CameraTf camera_tf = CameraTf::none;
    std::string base_frame;    // normalised
    std::string camera_frame;  // normalised; taken for a cloud without a frame id
    double lookup_timeout = 0.1;  // seconds
  };

  // tf is used with CameraTf::lookup only, and must then outlive this.
  CloudFrames(Settings settings, const Eigen::Matrix4f& configured_extrinsic,
              const tf2_ros::BufferInterface* tf = nullptr);

  // A cloud with the header's frame (none: the camera frame) and stamp. The base frame is
  // refused in every mode: the estimate takes the cloud's frame as the camera's, whose rays
  // it follows. Without lookup only the camera frame has a transform, the configured one;
  // with lookup tf2 gives the frame's at the stamp (stamp 0: its latest), waiting for it at
  // most the timeout.
  Placement place(const std_msgs::Header& header) const;

  const Settings& settings() const { return settings_; }

private:
  Settings settings_;
  Eigen::Matrix4f configured_extrinsic_;
  const tf2_ros::BufferInterface* tf_;
};

}  // namespace litterpose_ros

#endif

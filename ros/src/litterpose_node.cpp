// litterpose_node: grasp poses for the segmented object clouds of a depth camera.
//
// Subscribes cloud (sensor_msgs/PointCloud2, camera frame) and trash_type
// (std_msgs/Int32); publishes for every cloud grasp_result (std_msgs/Int32) and, on result
// 1, grasp_pose (geometry_msgs/PoseStamped) and grasp_markers
// (visualization_msgs/MarkerArray) in ~base_frame; the camera's mounting goes to
// /tf_static. Parameters: ~config (required), ~entry, ~trash_type, ~base_frame,
// ~camera_frame, ~quiet.
#include <memory>
#include <string>
#include <vector>

#include <geometry_msgs/PoseStamped.h>
#include <litterpose_result.h>
#include <pcl/console/print.h>
#include <ros/ros.h>
#include <sensor_msgs/PointCloud2.h>
#include <std_msgs/Int32.h>
#include <tf2_ros/static_transform_broadcaster.h>
#include <visualization_msgs/MarkerArray.h>

#include "litterpose_ros/estimation.h"
#include "litterpose_ros/grasp_messages.h"
#include "litterpose_ros/point_cloud.h"

namespace {

using litterpose_ros::Entry;

struct Settings {
  std::string config;
  Entry entry = Entry::CommonGrabPoseFunc;
  std::string entry_name = "common";
  int trash_type = 3;
  std::string base_frame = "base_link";
  std::string camera_frame = "camera_depth_optical_frame";
  bool quiet = true;
};

// An exception's text on one log line.
std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

template <typename T>
bool optionalParam(const ros::NodeHandle& private_nh, const std::string& name, T& value,
                   const char* what) {
  if (!private_nh.hasParam(name) || private_nh.getParam(name, value)) return true;
  ROS_FATAL("parameter ~%s must be %s", name.c_str(), what);
  return false;
}

// False after one ROS_FATAL line naming what is wrong.
bool readSettings(const ros::NodeHandle& private_nh, Settings& s) {
  if (!private_nh.getParam("config", s.config) || s.config.empty()) {
    ROS_FATAL("parameter ~config (the path of the estimator's YAML configuration) is required");
    return false;
  }
  if (!optionalParam(private_nh, "entry", s.entry_name, "common, main or initial") ||
      !optionalParam(private_nh, "trash_type", s.trash_type, "an integer") ||
      !optionalParam(private_nh, "base_frame", s.base_frame, "a frame name") ||
      !optionalParam(private_nh, "camera_frame", s.camera_frame, "a frame name") ||
      !optionalParam(private_nh, "quiet", s.quiet, "true or false"))
    return false;
  const auto entry = litterpose::entryNamed(s.entry_name);
  if (!entry) {
    ROS_FATAL("parameter ~entry must be common, main or initial, not '%s'", s.entry_name.c_str());
    return false;
  }
  s.entry = *entry;
  if (s.base_frame.empty() || s.camera_frame.empty() || s.base_frame == s.camera_frame) {
    ROS_FATAL("parameters ~base_frame ('%s') and ~camera_frame ('%s') must be two frame names",
              s.base_frame.c_str(), s.camera_frame.c_str());
    return false;
  }
  return true;
}

class GraspNode {
public:
  GraspNode(ros::NodeHandle& nh, const Settings& settings,
            std::unique_ptr<litterpose_ros::Estimation> estimation)
      : settings_(settings), trash_type_(settings.trash_type), estimation_(std::move(estimation)) {
    result_pub_ = nh.advertise<std_msgs::Int32>("grasp_result", 10);
    pose_pub_ = nh.advertise<geometry_msgs::PoseStamped>("grasp_pose", 10);
    markers_pub_ = nh.advertise<visualization_msgs::MarkerArray>("grasp_markers", 10);
    announceCameraFrame(settings_.camera_frame);
    // Only the newest cloud waits while an estimate runs: the arm wants the latest view.
    cloud_sub_ = nh.subscribe("cloud", 1, &GraspNode::onCloud, this,
                              ros::TransportHints().tcpNoDelay());
    trash_type_sub_ = nh.subscribe("trash_type", 1, &GraspNode::onTrashType, this);
  }

private:
  // The camera's mounting under the configured name and, when clouds name their frame
  // differently, under that name too, so that rviz shows the clouds where the arm sees them.
  void announceCameraFrame(const std::string& cloud_frame) {
    if (cloud_frame == announced_frame_) return;
    std_msgs::Header base;
    base.frame_id = settings_.base_frame;
    base.stamp = ros::Time::now();
    const Eigen::Matrix4f& extrinsic = estimation_->estimator().camera_extrinsic_;
    // The broadcaster keeps every child frame it was given and publishes them all, latched.
    std::vector<geometry_msgs::TransformStamped> transforms{
        litterpose_ros::cameraTransform(extrinsic, base, settings_.camera_frame)};
    if (cloud_frame != settings_.camera_frame)
      transforms.push_back(litterpose_ros::cameraTransform(extrinsic, base, cloud_frame));
    tf_static_.sendTransform(transforms);
    announced_frame_ = cloud_frame;
  }

  void publishResult(int code) {
    std_msgs::Int32 result;
    result.data = code;
    result_pub_.publish(result);
  }

  void onTrashType(const std_msgs::Int32::ConstPtr& message) {
    if (message->data != trash_type_) ROS_INFO("trash type %d", message->data);
    trash_type_ = message->data;
  }

  void onCloud(const sensor_msgs::PointCloud2::ConstPtr& message) {
    const std::string& frame =
        message->header.frame_id.empty() ? settings_.camera_frame : message->header.frame_id;
    if (frame == settings_.base_frame) {
      ROS_ERROR("refused a cloud in the base frame '%s': clouds come in the camera frame",
                frame.c_str());
      publishResult(litterpose::kTooFewPoints);
      return;
    }
    announceCameraFrame(frame);

    const litterpose_ros::ConvertedCloud converted = litterpose_ros::toPclCloud(*message);
    if (!converted.cloud) {
      ROS_ERROR("refused a cloud: %s", converted.error.c_str());
      publishResult(litterpose::kTooFewPoints);
      return;
    }
    const litterpose_ros::EstimateOutcome outcome =
        estimation_->estimate(converted.cloud, trash_type_);
    if (outcome.raised)
      ROS_ERROR("the estimate of a cloud of %zu points raised: %s", converted.cloud->size(),
                oneLine(outcome.error).c_str());
    ROS_DEBUG("cloud of %zu points (%zu not finite), trash type %d: %d, %s",
              converted.cloud->size(), converted.non_finite_points, trash_type_, outcome.result,
              litterpose::describeResult(outcome.result, settings_.entry));

    if (outcome.result == litterpose::kGrabFound) {
      std_msgs::Header header;
      header.stamp = message->header.stamp;
      header.frame_id = settings_.base_frame;
      const GrabPoseEstimate& estimator = estimation_->estimator();
      pose_pub_.publish(litterpose_ros::toPoseStamped(estimator.grab_pose_, header));
      markers_pub_.publish(litterpose_ros::graspMarkers(estimator, header));
    }
    publishResult(outcome.result);
  }

  Settings settings_;
  int trash_type_;
  std::unique_ptr<litterpose_ros::Estimation> estimation_;
  std::string announced_frame_;
  ros::Publisher result_pub_, pose_pub_, markers_pub_;
  tf2_ros::StaticTransformBroadcaster tf_static_;
  ros::Subscriber cloud_sub_, trash_type_sub_;
};

}  // namespace

int main(int argc, char** argv) {
  litterpose_ros::logInUtf8();
  ros::init(argc, argv, "litterpose_node");
  ros::NodeHandle nh;
  ros::NodeHandle private_nh("~");

  Settings settings;
  if (!readSettings(private_nh, settings)) return 1;

  // The Point Cloud Library prints its own warnings (an empty cloud, say) to standard
  // error, past rosconsole; quiet, they go nowhere either.
  if (settings.quiet) pcl::console::setVerbosityLevel(pcl::console::L_ALWAYS);

  std::unique_ptr<litterpose_ros::Estimation> estimation;
  try {
    estimation = std::make_unique<litterpose_ros::Estimation>(
        settings.config, settings.entry, litterpose_ros::estimatorLog(settings.quiet));
  } catch (const std::exception& e) {
    ROS_FATAL("cannot load the configuration '%s': %s", settings.config.c_str(),
              oneLine(e.what()).c_str());
    return 1;
  }

  GraspNode node(nh, settings, std::move(estimation));
  ROS_INFO("ready: entry %s, trash type %d, base frame %s, camera frame %s, configuration %s",
           settings.entry_name.c_str(), settings.trash_type, settings.base_frame.c_str(),
           settings.camera_frame.c_str(), settings.config.c_str());
  ros::spin();
  return 0;
}

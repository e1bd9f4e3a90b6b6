// litterpose_node: grasp poses for the segmented object clouds of a depth camera.
//
// Serves ~estimate (litterpose_msgs/EstimateGrasp), and answers every
// litterpose_msgs/ObjectCloud on object with a litterpose_msgs/GraspResult on grasp. The
// older pair stays: cloud (sensor_msgs/PointCloud2) with the trash type last received on
// trash_type (std_msgs/Int32), answered on grasp_result (std_msgs/Int32) and, on result 1,
// grasp_pose (geometry_msgs/PoseStamped). Every answer also renews grasp_markers
// (visualization_msgs/MarkerArray); /diagnostics tells rates, latencies and refusals.
// Parameters: ~config (required), ~entry, ~trash_type, ~base_frame, ~camera_frame,
// ~camera_tf, ~tf_timeout, ~quiet.
#include <chrono>
#include <memory>
#include <string>

#include <diagnostic_updater/diagnostic_updater.h>
#include <litterpose_msgs/EstimateGrasp.h>
#include <litterpose_msgs/GraspResult.h>
#include <litterpose_msgs/ObjectCloud.h>
#include <litterpose_result.h>
#include <pcl/console/print.h>
#include <ros/callback_queue.h>
#include <ros/ros.h>
#include <sensor_msgs/PointCloud2.h>
#include <std_msgs/Int32.h>
#include <tf2_ros/static_transform_broadcaster.h>
#include <tf2_ros/transform_listener.h>

#include "litterpose_ros/checked_callbacks.h"
#include "litterpose_ros/estimation.h"
#include "litterpose_ros/frames.h"
#include "litterpose_ros/grasp_messages.h"
#include "litterpose_ros/grasp_server.h"
#include "litterpose_ros/message_lengths.h"
#include "litterpose_ros/refusals.h"
#include "litterpose_ros/untrusted_text.h"

namespace {

using litterpose_ros::CameraTf;
using litterpose_ros::Entry;
using litterpose_ros::LengthCheck;
using Clock = std::chrono::steady_clock;

// The longest wait for a transform that ~tf_timeout accepts, in seconds: a lookup holds up
// every request behind it.
constexpr double kLongestTfTimeout = 10.0;
// ObjectClouds that wait while an estimate runs: a detector's objects of one frame come in
// a burst, and each wants its answer.
constexpr int kObjectQueue = 5;
// Trash types wait for the next cloud in their own queue, all of them in arrival order.
constexpr int kTrashTypeQueue = 100;
// How often the diagnostic updater is asked whether its period is over.
constexpr double kDiagnosticsPoll = 0.25;
// A change of trash type is logged at most once in this period: a publisher may change it
// with every message.
constexpr std::chrono::seconds kTrashTypeLogPeriod{1};

struct Settings {
  std::string config;
  Entry entry = Entry::CommonGrabPoseFunc;
  std::string entry_name = "common";
  int trash_type = 3;
  std::string base_frame = "base_link";
  std::string camera_frame = "camera_depth_optical_frame";
  CameraTf camera_tf = CameraTf::none;
  std::string camera_tf_name = "none";
  double tf_timeout = 0.1;
  bool quiet = true;
};

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
      !optionalParam(private_nh, "camera_tf", s.camera_tf_name, "publish, none or lookup") ||
      !optionalParam(private_nh, "tf_timeout", s.tf_timeout, "a number of seconds") ||
      !optionalParam(private_nh, "quiet", s.quiet, "true or false"))
    return false;
  const auto entry = litterpose::entryNamed(s.entry_name);
  if (!entry) {
    ROS_FATAL("parameter ~entry must be common, main or initial, not '%s'",
              litterpose_ros::printableExcerpt(s.entry_name).c_str());
    return false;
  }
  s.entry = *entry;
  const auto camera_tf = litterpose_ros::cameraTfNamed(s.camera_tf_name);
  if (!camera_tf) {
    ROS_FATAL("parameter ~camera_tf must be publish, none or lookup, not '%s'",
              litterpose_ros::printableExcerpt(s.camera_tf_name).c_str());
    return false;
  }
  s.camera_tf = *camera_tf;
  if (!(s.tf_timeout >= 0.0 && s.tf_timeout <= kLongestTfTimeout)) {
    ROS_FATAL("parameter ~tf_timeout must be 0 to %g seconds, not %g", kLongestTfTimeout,
              s.tf_timeout);
    return false;
  }
  s.base_frame = litterpose_ros::normalisedFrameId(s.base_frame);
  s.camera_frame = litterpose_ros::normalisedFrameId(s.camera_frame);
  if (s.base_frame.empty() || s.camera_frame.empty() || s.base_frame == s.camera_frame) {
    ROS_FATAL("parameters ~base_frame ('%s') and ~camera_frame ('%s') must be two frame names",
              litterpose_ros::printableExcerpt(s.base_frame).c_str(),
              litterpose_ros::printableExcerpt(s.camera_frame).c_str());
    return false;
  }
  return true;
}

class GraspNode {
public:
  GraspNode(ros::NodeHandle& nh, ros::NodeHandle& private_nh, const Settings& settings,
            std::unique_ptr<litterpose_ros::Estimation> estimation)
      : trash_type_(settings.trash_type), diagnostics_(nh, private_nh) {
    if (settings.camera_tf == CameraTf::lookup)
      tf_listener_ = std::make_unique<tf2_ros::TransformListener>(tf_buffer_, nh);
    const Eigen::Matrix4f extrinsic = estimation->configuredExtrinsic();
    litterpose_ros::CloudFrames frames(
        {settings.camera_tf, settings.base_frame, settings.camera_frame, settings.tf_timeout},
        extrinsic, &tf_buffer_);
    server_ = std::make_unique<litterpose_ros::GraspServer>(std::move(estimation), frames);

    if (settings.camera_tf == CameraTf::publish) {
      std_msgs::Header base;
      base.frame_id = settings.base_frame;
      base.stamp = ros::Time::now();
      tf_static_ = std::make_unique<tf2_ros::StaticTransformBroadcaster>();
      tf_static_->sendTransform(
          litterpose_ros::cameraTransform(extrinsic, base, settings.camera_frame));
    }

    diagnostics_.setHardwareID("litterpose");
    diagnostics_.add("estimates", server_.get(), &litterpose_ros::GraspServer::diagnose);
    diagnostics_timer_ = nh.createTimer(ros::Duration(kDiagnosticsPoll),
                                        [this](const ros::TimerEvent&) { diagnostics_.update(); });

    grasp_pub_ = nh.advertise<litterpose_msgs::GraspResult>("grasp", 10);
    result_pub_ = nh.advertise<std_msgs::Int32>("grasp_result", 10);
    pose_pub_ = nh.advertise<geometry_msgs::PoseStamped>("grasp_pose", 10);
    markers_pub_ = nh.advertise<visualization_msgs::MarkerArray>("grasp_markers", 10);

    // Each message is checked against its size before roscpp reads it (message_lengths.h).
    using litterpose_msgs::EstimateGrasp;
    ros::AdvertiseServiceOptions estimate = litterpose_ros::checkedService<EstimateGrasp>(
        "estimate",
        [this](EstimateGrasp::Request& request, EstimateGrasp::Response& response) {
          return onEstimate(request, response);
        },
        litterpose_ros::checkEstimateGraspRequest,
        [this](const LengthCheck& check) { return onUnreadableRequest(check); });
    service_ = private_nh.advertiseService(estimate);
    ros::SubscribeOptions objects =
        litterpose_ros::checkedSubscription<litterpose_msgs::ObjectCloud>(
        "object", kObjectQueue,
        [this](const litterpose_msgs::ObjectCloud::ConstPtr& object) { onObject(object); },
        litterpose_ros::checkObjectCloud,
        [this](const LengthCheck& check) { onUnreadableObject(check); });
    objects.transport_hints = ros::TransportHints().tcpNoDelay();
    object_sub_ = nh.subscribe(objects);
    ros::SubscribeOptions trash_types = ros::SubscribeOptions::create<std_msgs::Int32>(
        "trash_type", kTrashTypeQueue,
        [this](const std_msgs::Int32::ConstPtr& m) { onTrashType(m); }, ros::VoidPtr(),
        &trash_type_queue_);
    trash_type_sub_ = nh.subscribe(trash_types);
    // Only the newest cloud waits while an estimate runs: the arm wants the latest view.
    ros::SubscribeOptions clouds = litterpose_ros::checkedSubscription<sensor_msgs::PointCloud2>(
        "cloud", 1, [this](const sensor_msgs::PointCloud2::ConstPtr& cloud) { onCloud(cloud); },
        litterpose_ros::checkPointCloud2,
        [this](const LengthCheck& check) { onUnreadableCloud(check); });
    clouds.transport_hints = ros::TransportHints().tcpNoDelay();
    cloud_sub_ = nh.subscribe(clouds);
  }

private:
  bool onEstimate(litterpose_msgs::EstimateGrasp::Request& request,
                  litterpose_msgs::EstimateGrasp::Response& response) {
    response.result =
        server_->answer(request.cloud, request.cloud.header, request.trash_type, request.entry);
    markers_pub_.publish(server_->markers(response.result));
    return true;
  }

  litterpose_msgs::EstimateGrasp::Response onUnreadableRequest(const LengthCheck& check) {
    litterpose_msgs::EstimateGrasp::Response response;
    response.result = server_->unreadable(check.header.value_or(std_msgs::Header()), 0,
                                          *check.refusal);
    markers_pub_.publish(server_->markers(response.result));
    return response;
  }

  void onObject(const litterpose_msgs::ObjectCloud::ConstPtr& object) {
    publishObjectAnswer(server_->answer(object->cloud, object->header, object->trash_type));
  }

  // Without a header there is no stamp to pair an answer with: the refusal is only counted
  // and logged.
  void onUnreadableObject(const LengthCheck& check) {
    const litterpose_msgs::GraspResult answer = server_->unreadable(
        check.header.value_or(std_msgs::Header()), check.trash_type.value_or(0), *check.refusal);
    if (check.header) publishObjectAnswer(answer);
  }

  void publishObjectAnswer(const litterpose_msgs::GraspResult& answer) {
    markers_pub_.publish(server_->markers(answer));
    grasp_pub_.publish(answer);
  }

  void onTrashType(const std_msgs::Int32::ConstPtr& message) {
    if (message->data != trash_type_) logTrashType(message->data);
    trash_type_ = message->data;
  }

  void logTrashType(int trash_type) {
    const auto left_out = trash_type_log_.admit("trash type", Clock::now());
    if (!left_out) return;
    const std::string more = *left_out == 0 ? std::string()
                                            : " (" + std::to_string(*left_out) +
                                                  " more changes since the last such line)";
    ROS_INFO("trash type %d%s", trash_type, more.c_str());
  }

  void onCloud(const sensor_msgs::PointCloud2::ConstPtr& cloud) {
    // Every trash type received before this cloud is processed applies to it, whichever
    // connection the poll thread happened to read first.
    trash_type_queue_.callAvailable();
    publishOldAnswer(server_->answer(*cloud, cloud->header, trash_type_));
  }

  void onUnreadableCloud(const LengthCheck& check) {
    trash_type_queue_.callAvailable();
    publishOldAnswer(server_->unreadable(check.header.value_or(std_msgs::Header()), trash_type_,
                                         *check.refusal));
  }

  void publishOldAnswer(const litterpose_msgs::GraspResult& answer) {
    markers_pub_.publish(server_->markers(answer));
    if (answer.status == litterpose_msgs::GraspResult::OK && answer.code == litterpose::kGrabFound)
      pose_pub_.publish(litterpose_ros::toPoseStamped(answer));
    std_msgs::Int32 code;
    code.data = litterpose_ros::resultCode(answer);
    result_pub_.publish(code);
  }

  int trash_type_;
  litterpose_ros::RefusalThrottle trash_type_log_{kTrashTypeLogPeriod};
  tf2_ros::Buffer tf_buffer_;
  std::unique_ptr<tf2_ros::TransformListener> tf_listener_;
  std::unique_ptr<tf2_ros::StaticTransformBroadcaster> tf_static_;
  std::unique_ptr<litterpose_ros::GraspServer> server_;
  diagnostic_updater::Updater diagnostics_;
  ros::Timer diagnostics_timer_;
  ros::CallbackQueue trash_type_queue_;
  ros::Publisher grasp_pub_, result_pub_, pose_pub_, markers_pub_;
  ros::ServiceServer service_;
  ros::Subscriber object_sub_, trash_type_sub_, cloud_sub_;
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
              litterpose_ros::oneLine(e.what()).c_str());
    return 1;
  }

  GraspNode node(nh, private_nh, settings, std::move(estimation));
  ROS_INFO("ready: entry %s, trash type %d, base frame %s, camera frame %s, camera_tf %s, "
           "configuration %s",
           settings.entry_name.c_str(), settings.trash_type, settings.base_frame.c_str(),
           settings.camera_frame.c_str(), settings.camera_tf_name.c_str(),
           settings.config.c_str());
  ros::spin();
  return 0;
}

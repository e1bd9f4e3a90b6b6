// litterpose_node end to end, on a ROS master of its own (127.0.0.1, a free port): a bottle
// lying 0.35 m ahead seen as 10k points in the camera frame.
//
//   one at a time:   latency from publishing a cloud on cloud to receiving its grasp_pose;
//   service:         latency of a call of ~estimate, on one persistent connection and on
//                    a new connection per call;
//   object -> grasp: latency from publishing an ObjectCloud to receiving its GraspResult;
//   flooded:         clouds offered on cloud every 0.1 ms for a while; the clouds per
//                    second the node answers, and the latency of those it answers (the
//                    queue of one drops the rest).
//
// bench_ros_node [POINTS] [SECONDS]   defaults 10000 and 10
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <geometry_msgs/PoseStamped.h>
#include <litterpose.h>
#include <litterpose_msgs/EstimateGrasp.h>
#include <litterpose_msgs/GraspResult.h>
#include <litterpose_msgs/ObjectCloud.h>
#include <pcl/common/transforms.h>
#include <pcl_conversions/pcl_conversions.h>
#include <ros/ros.h>
#include <std_msgs/Int32.h>

#include "support/clouds.h"
#include "support/processes.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string configPath() {
  return std::string(LITTERPOSE_SOURCE_DIR) + "/config/grab_pose_estimate_config.yaml";
}

// Poses and results as they arrive, with the receiving time of each pose's stamp.
struct Receiver {
  void onPose(const geometry_msgs::PoseStamped::ConstPtr& m) {
    const double latency = (ros::Time::now() - m->header.stamp).toSec() * 1000.0;
    std::lock_guard<std::mutex> lock(mutex);
    latencies_ms.push_back(latency);
    last_pose_stamp = m->header.stamp;
  }
  void onResult(const std_msgs::Int32::ConstPtr& m) {
    ++results;
    last_result = m->data;
  }
  void onGrasp(const litterpose_msgs::GraspResult::ConstPtr& m) {
    const double latency = (ros::Time::now() - m->header.stamp).toSec() * 1000.0;
    std::lock_guard<std::mutex> lock(mutex);
    grasp_latencies_ms.push_back(latency);
    last_grasp_stamp = m->header.stamp;
    last_grasp_code = m->code;
  }
  std::mutex mutex;
  std::vector<double> latencies_ms, grasp_latencies_ms;
  ros::Time last_pose_stamp, last_grasp_stamp;
  int last_grasp_code = 0;
  std::atomic<int> results{0};
  std::atomic<int> last_result{0};
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p / 100.0 * v.size()));
  return v[i];
}

void report(const char* what, const std::vector<double>& latencies) {
  std::printf("%-24s %6zu answers   latency median %7.2f ms   p99 %7.2f ms   max %7.2f ms\n", what,
              latencies.size(), percentile(latencies, 50), percentile(latencies, 99),
              percentile(latencies, 100));
}

int run(int points, double seconds, const std::string& folder) {
  ::setenv("ROS_HOME", (folder + "/ros_home").c_str(), 1);
  ::setenv("ROS_LOG_DIR", (folder + "/log").c_str(), 1);
  ::setenv("ROS_IP", "127.0.0.1", 1);
  const int port = processes::freePort();
  processes::Child master({ROSMASTER_PROGRAM, "--core", "-p", std::to_string(port)},
                          folder + "/master.out", folder + "/master.err");
  for (auto end = Clock::now() + 60s; !processes::listening(port); std::this_thread::sleep_for(50ms))
    if (!master.running() || Clock::now() > end) {
      std::fprintf(stderr, "bench_ros_node: rosmaster did not start\n");
      return 1;
    }
  ::setenv("ROS_MASTER_URI", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);

  ros::init(ros::M_string(), "bench_ros_node", ros::init_options::NoSigintHandler);
  ros::NodeHandle nh;
  ros::AsyncSpinner spinner(2);
  spinner.start();
  ros::param::set("/litterpose_node/config", configPath());
  processes::Child node({LITTERPOSE_NODE_PROGRAM, "__name:=litterpose_node"}, folder + "/node.out",
                        folder + "/node.err");

  Receiver receiver;
  ros::Publisher cloud_pub = nh.advertise<sensor_msgs::PointCloud2>("cloud", 1);
  ros::Subscriber pose_sub = nh.subscribe("grasp_pose", 100, &Receiver::onPose, &receiver,
                                          ros::TransportHints().tcpNoDelay());
  ros::Subscriber result_sub = nh.subscribe("grasp_result", 100, &Receiver::onResult, &receiver,
                                            ros::TransportHints().tcpNoDelay());
  ros::Publisher object_pub = nh.advertise<litterpose_msgs::ObjectCloud>("object", 1);
  ros::Subscriber grasp_sub = nh.subscribe("grasp", 100, &Receiver::onGrasp, &receiver,
                                           ros::TransportHints().tcpNoDelay());
  const std::string service = "/litterpose_node/estimate";
  for (auto end = Clock::now() + 60s;
       cloud_pub.getNumSubscribers() == 0 || pose_sub.getNumPublishers() == 0 ||
       result_sub.getNumPublishers() == 0 || object_pub.getNumSubscribers() == 0 ||
       grasp_sub.getNumPublishers() == 0 || !ros::service::exists(service, false);
       std::this_thread::sleep_for(20ms))
    if (!node.running() || Clock::now() > end) {
      std::fprintf(stderr, "bench_ros_node: litterpose_node did not connect\n");
      return 1;
    }

  // The bottle in the base frame, seen from the camera.
  const Eigen::Matrix4f extrinsic =
      GrabPoseEstimate(configPath(), litterpose::ConsoleSink::none()).camera_extrinsic_;
  const auto base_cloud =
      clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.22f, 0.035f, points);
  pcl::PointCloud<pcl::PointXYZ> camera_cloud;
  pcl::transformPointCloud(*base_cloud, camera_cloud, Eigen::Matrix4f(extrinsic.inverse()));
  sensor_msgs::PointCloud2 message;
  pcl::toROSMsg(camera_cloud, message);
  message.header.frame_id = "camera_depth_optical_frame";

  const auto publish = [&] {
    message.header.stamp = ros::Time::now();
    cloud_pub.publish(message);
    return message.header.stamp;
  };

  // One at a time.
  constexpr int kSequential = 300;
  for (int i = 0; i < kSequential; ++i) {
    const int before = receiver.results;
    const ros::Time stamp = publish();
    for (auto end = Clock::now() + 30s; receiver.results == before; std::this_thread::sleep_for(50us))
      if (Clock::now() > end) {
        std::fprintf(stderr, "bench_ros_node: no answer\n");
        return 1;
      }
    if (receiver.last_result != 1) {
      std::fprintf(stderr, "bench_ros_node: the bottle was not grasped (result %d)\n",
                   receiver.last_result.load());
      return 1;
    }
    // The pose comes on its own connection; wait for it too.
    for (auto end = Clock::now() + 30s;; std::this_thread::sleep_for(50us)) {
      std::lock_guard<std::mutex> lock(receiver.mutex);
      if (receiver.last_pose_stamp == stamp || Clock::now() > end) break;
    }
  }
  std::vector<double> sequential;
  {
    std::lock_guard<std::mutex> lock(receiver.mutex);
    sequential.swap(receiver.latencies_ms);
  }

  // The service, on one connection and on a new one per call.
  std::vector<double> persistent_ms, reconnecting_ms;
  for (const bool persistent : {true, false}) {
    ros::ServiceClient client = nh.serviceClient<litterpose_msgs::EstimateGrasp>(service, persistent);
    litterpose_msgs::EstimateGrasp call;
    call.request.cloud = message;
    call.request.trash_type = 3;
    for (int i = 0; i < kSequential; ++i) {
      call.request.cloud.header.stamp = ros::Time::now();
      const auto start = Clock::now();
      if (!client.call(call) || call.response.result.code != 1) {
        std::fprintf(stderr, "bench_ros_node: the service did not grasp the bottle\n");
        return 1;
      }
      (persistent ? persistent_ms : reconnecting_ms)
          .push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }

  // The topic pair, one object at a time.
  litterpose_msgs::ObjectCloud object;
  object.cloud = message;
  object.header.frame_id = message.header.frame_id;
  object.trash_type = 3;
  for (int i = 0; i < kSequential; ++i) {
    object.header.stamp = ros::Time::now();
    object_pub.publish(object);
    for (auto end = Clock::now() + 30s;; std::this_thread::sleep_for(50us)) {
      std::lock_guard<std::mutex> lock(receiver.mutex);
      if (receiver.last_grasp_stamp == object.header.stamp) {
        if (receiver.last_grasp_code == 1) break;
        std::fprintf(stderr, "bench_ros_node: object: result %d\n", receiver.last_grasp_code);
        return 1;
      }
      if (Clock::now() > end) {
        std::fprintf(stderr, "bench_ros_node: no answer on grasp\n");
        return 1;
      }
    }
  }
  std::vector<double> paired;
  {
    std::lock_guard<std::mutex> lock(receiver.mutex);
    paired.swap(receiver.grasp_latencies_ms);
  }

  // Flooded.
  const int results_before = receiver.results;
  int offered = 0;
  const auto start = Clock::now();
  const auto stop = start + std::chrono::duration<double>(seconds);
  while (Clock::now() < stop) {
    publish();
    ++offered;
    std::this_thread::sleep_for(100us);
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const int answered = receiver.results - results_before;
  std::this_thread::sleep_for(500ms);
  std::vector<double> flooded;
  {
    std::lock_guard<std::mutex> lock(receiver.mutex);
    flooded = receiver.latencies_ms;
  }

  std::printf("litterpose_node, %d-point clouds (entry common, quiet)\n", points);
  report("one at a time", sequential);
  report("service", persistent_ms);
  report("service, new connection", reconnecting_ms);
  report("object -> grasp", paired);
  report("flooded", flooded);
  std::printf("flooded: %d clouds offered in %.1f s (%.0f/s), %d answered: %.1f clouds/s\n",
              offered, elapsed, offered / elapsed, answered, answered / elapsed);

  spinner.stop();
  ros::shutdown();
  const int node_status = node.stop(10s);
  master.stop(10s);
  return node_status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int points = argc > 1 ? std::atoi(argv[1]) : 10000;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
  if (points < 100 || seconds <= 0) {
    std::fprintf(stderr, "usage: bench_ros_node [POINTS >= 100] [SECONDS > 0]\n");
    return 2;
  }
  const std::string folder = processes::scratchFolder("bench_ros_node");
  const int status = run(points, seconds, folder);
  if (status == 0) std::filesystem::remove_all(folder);
  else std::fprintf(stderr, "bench_ros_node: logs kept in %s\n", folder.c_str());
  return status;
}

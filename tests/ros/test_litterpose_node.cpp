// litterpose_node on a ROS master of its own (rosmaster on a free port of 127.0.0.1, its
// ROS_HOME and logs in a scratch folder), four nodes at once:
//   /picker  camera_tf none (the default), entry common: the service, the topic pair, the
//            old topics, refusals, frame ids, markers, diagnostics, the Python client;
//   /shown   camera_tf publish: the configured mounting on /tf_static, and nothing else;
//   /looker  camera_tf lookup: the camera frame from a tf2 tree this process publishes;
//   /racer   entry main, whose strategy depends on the trash type: the old topics' race.
// Every process started here is stopped by its id within a time limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/property_tree/json_parser.hpp>
#include <diagnostic_msgs/DiagnosticArray.h>
#include <geometry_msgs/PoseStamped.h>
#include <litterpose_msgs/EstimateGrasp.h>
#include <litterpose_msgs/GraspResult.h>
#include <litterpose_msgs/ObjectCloud.h>
#include <pcl/common/transforms.h>
#include <pcl_conversions/pcl_conversions.h>
#include <ros/ros.h>
#include <std_msgs/Int32.h>
#include <tf2_msgs/TFMessage.h>
#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>
#include <visualization_msgs/MarkerArray.h>

#include <litterpose.h>
#include <litterpose_result.h>

#include "support/bundled_clouds.h"
#include "support/clouds.h"
#include "support/processes.h"
#include "support/run_program.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using litterpose_msgs::GraspResult;
using boost::property_tree::ptree;

// Generous: the sanitizer build on a machine shared with other builds.
constexpr auto kTimeout = 90s;
constexpr double kTolerance = 1e-6;
constexpr int kTooFewPoints = 11;
constexpr int kUnknownTrashType = 111;
const std::string kCamera = "camera_depth_optical_frame";

std::string sourcePath(const std::string& relative) {
  return std::string(LITTERPOSE_SOURCE_DIR) + "/" + relative;
}
const std::string kConfig = sourcePath("config/grab_pose_estimate_config.yaml");

sensor_msgs::PointCloud2 toMessage(const pcl::PointCloud<pcl::PointXYZ>& cloud,
                                   const std::string& frame = kCamera) {
  sensor_msgs::PointCloud2 message;
  pcl::toROSMsg(cloud, message);
  message.header.frame_id = frame;
  return message;
}
sensor_msgs::PointCloud2 cloudMessage(const std::string& ply) {
  return toMessage(*support::readBundledCloud(ply));
}

Eigen::Matrix4f configuredExtrinsic() {
  return GrabPoseEstimate(kConfig, litterpose::ConsoleSink::none()).camera_extrinsic_;
}

// litterpose-estimate's JSON line for each file.
struct Expected {
  int result = 0;
  std::vector<double> pose;  // position, then orientation w, x, y, z; on result 1
  std::string reason, reason_name;
  int main_axis_type = 0;    // 0 for null
};
std::map<std::string, Expected> estimates(const std::vector<std::string>& files,
                                          const std::string& entry = "common",
                                          int trash_type = 3) {
  std::string command = run_program::program(LITTERPOSE_ESTIMATE_PROGRAM) + " --quiet --config " +
                        run_program::quote(kConfig) + " --entry " + entry + " --trash-type " +
                        std::to_string(trash_type);
  for (const std::string& f : files) command += " " + run_program::quote(f);
  const auto outcome = run_program::run(command);
  if (outcome.status != 0) throw std::runtime_error("litterpose-estimate: " + outcome.err);
  std::map<std::string, Expected> by_file;
  std::istringstream lines(outcome.out);
  for (std::string line; std::getline(lines, line);) {
    ptree record;
    std::istringstream text(line);
    boost::property_tree::read_json(text, record);
    Expected& e = by_file[record.get<std::string>("file")];
    e.result = record.get<int>("result");
    e.reason = record.get<std::string>("reason");
    e.reason_name = record.get<std::string>("reason_name");
    e.main_axis_type = record.get<int>("main_axis_type", 0);
    if (e.result != 1) continue;
    for (const auto& v : record.get_child("position")) e.pose.push_back(v.second.get_value<double>());
    for (const char* k : {"w", "x", "y", "z"})
      e.pose.push_back(record.get<double>(std::string("orientation.") + k));
  }
  return by_file;
}

std::vector<double> poseOf(const geometry_msgs::Pose& p) {
  return {p.position.x,    p.position.y,    p.position.z,   p.orientation.w,
          p.orientation.x, p.orientation.y, p.orientation.z};
}

void expectPose(const std::vector<double>& got, const std::vector<double>& expected,
                double tolerance, const std::string& what) {
  ASSERT_EQ(got.size(), expected.size()) << what;
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_NEAR(got[i], expected[i], tolerance) << what << " " << i;
}

void expectAnswer(const Expected& expected, const GraspResult& got, const std::string& what) {
  ASSERT_EQ(got.status, GraspResult::OK) << what << ": " << got.reason;
  ASSERT_EQ(got.code, expected.result) << what;
  EXPECT_EQ(got.reason, expected.reason) << what;
  EXPECT_EQ(got.reason_name, expected.reason_name) << what;
  EXPECT_EQ(got.main_axis_type, expected.main_axis_type) << what;
  EXPECT_EQ(got.header.frame_id, "base_link") << what;
  if (expected.result == 1) expectPose(poseOf(got.pose), expected.pose, kTolerance, what);
}

// Messages of one topic as they arrive, with their arrival times.
template <typename M>
struct Inbox {
  void receive(const typename M::ConstPtr& m) {
    std::lock_guard<std::mutex> lock(mutex);
    messages.push_back({*m, Clock::now()});
    arrived.notify_all();
  }
  std::optional<std::pair<M, Clock::time_point>> nextArrival(Clock::duration timeout = kTimeout) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!arrived.wait_for(lock, timeout, [&] { return !messages.empty(); })) return std::nullopt;
    auto m = messages.front();
    messages.pop_front();
    return m;
  }
  std::optional<M> next(Clock::duration timeout = kTimeout) {
    auto m = nextArrival(timeout);
    if (!m) return std::nullopt;
    return m->first;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex);
    messages.clear();
  }
  bool empty() {
    std::lock_guard<std::mutex> lock(mutex);
    return messages.empty();
  }
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<std::pair<M, Clock::time_point>> messages;
  ros::Subscriber subscriber;
};

template <typename M>
void subscribe(ros::NodeHandle& nh, Inbox<M>& inbox, const std::string& topic) {
  inbox.subscriber = nh.subscribe(topic, 100, &Inbox<M>::receive, &inbox);
}

// The nodes, by namespace, with the parameters each gets beside ~config.
const std::map<std::string, std::map<std::string, std::string>> kNodes = {
    {"picker", {}},
    {"shown", {{"camera_tf", "publish"}, {"camera_frame", "/shown_camera "}}},
    {"looker", {{"camera_tf", "lookup"}, {"camera_frame", "looker_camera"}, {"tf_timeout", "0.3"}}},
    {"racer", {{"entry", "main"}}},
};

class LitterposeNode : public testing::Test {
protected:
  static void SetUpTestSuite() {
    folder_ = processes::scratchFolder("litterpose_node_test");
    ::setenv("ROS_HOME", (folder_ + "/ros_home").c_str(), 1);
    ::setenv("ROS_LOG_DIR", (folder_ + "/log").c_str(), 1);
    ::setenv("ROS_IP", "127.0.0.1", 1);
    ::unsetenv("ROS_HOSTNAME");
    ::unsetenv("ROS_NAMESPACE");
    // The port may be taken between the probe and the master's bind: then another.
    for (int attempt = 0; attempt < 3 && !master_; ++attempt) {
      const int port = processes::freePort();
      master_ = std::make_unique<processes::Child>(
          std::vector<std::string>{ROSMASTER_PROGRAM, "--core", "-p", std::to_string(port)},
          folder_ + "/master.out", folder_ + "/master.err");
      for (const auto end = Clock::now() + kTimeout;
           master_->running() && !processes::listening(port) && Clock::now() < end;)
        std::this_thread::sleep_for(50ms);
      if (master_->running() && processes::listening(port))
        ::setenv("ROS_MASTER_URI", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
      else
        master_.reset();
    }
    if (!master_) return;

    ros::init(ros::M_string(), "litterpose_node_test", ros::init_options::NoSigintHandler);
    nh_ = std::make_unique<ros::NodeHandle>();
    spinner_ = std::make_unique<ros::AsyncSpinner>(2);
    spinner_->start();
    publishTfTree();

    cloud_pub_ = nh_->advertise<sensor_msgs::PointCloud2>("/picker/cloud", 10);
    object_pub_ = nh_->advertise<litterpose_msgs::ObjectCloud>("/picker/object", 10);
    racer_cloud_pub_ = nh_->advertise<sensor_msgs::PointCloud2>("/racer/cloud", 10);
    racer_type_pub_ = nh_->advertise<std_msgs::Int32>("/racer/trash_type", 10);
    subscribe(*nh_, results_, "/picker/grasp_result");
    subscribe(*nh_, poses_, "/picker/grasp_pose");
    subscribe(*nh_, grasps_, "/picker/grasp");
    subscribe(*nh_, markers_, "/picker/grasp_markers");
    subscribe(*nh_, racer_results_, "/racer/grasp_result");
    subscribe(*nh_, diagnostics_, "/diagnostics");

    for (const auto& [ns, params] : kNodes) {
      ros::param::set("/" + ns + "/litterpose_node/config", kConfig);
      for (const auto& [name, value] : params) {
        const std::string key = "/" + ns + "/litterpose_node/" + name;
        if (name == "tf_timeout") ros::param::set(key, std::stod(value));
        else ros::param::set(key, value);
      }
      nodes_[ns] = startNode({"__ns:=/" + ns}, ns);
    }
    const auto end = Clock::now() + kTimeout;
    for (const auto& [ns, params] : kNodes)
      ros::service::waitForService(service(ns), ros::Duration(std::chrono::seconds(kTimeout).count()));
    while (Clock::now() < end &&
           (cloud_pub_.getNumSubscribers() == 0 || object_pub_.getNumSubscribers() == 0 ||
            racer_cloud_pub_.getNumSubscribers() == 0 || racer_type_pub_.getNumSubscribers() == 0 ||
            results_.subscriber.getNumPublishers() == 0 || poses_.subscriber.getNumPublishers() == 0 ||
            grasps_.subscriber.getNumPublishers() == 0 || markers_.subscriber.getNumPublishers() == 0 ||
            racer_results_.subscriber.getNumPublishers() == 0))
      std::this_thread::sleep_for(50ms);
  }

  static void TearDownTestSuite() {
    nodes_.clear();  // stops those a test has not
    if (spinner_) spinner_->stop();
    for (auto* s : {&results_.subscriber, &poses_.subscriber, &grasps_.subscriber,
                    &markers_.subscriber, &racer_results_.subscriber, &diagnostics_.subscriber})
      *s = ros::Subscriber();
    for (auto* p : {&cloud_pub_, &object_pub_, &racer_cloud_pub_, &racer_type_pub_, &tf_pub_})
      *p = ros::Publisher();
    nh_.reset();
    if (ros::isInitialized()) ros::shutdown();
    master_.reset();
    if (testing::UnitTest::GetInstance()->Passed()) std::filesystem::remove_all(folder_);
    else std::fprintf(stderr, "ROS logs kept in %s\n", folder_.c_str());
  }

  void SetUp() override {
    ASSERT_TRUE(master_) << "rosmaster did not start: " << run_program::slurp(folder_ + "/master.err");
    for (auto& [ns, node] : nodes_)
      ASSERT_TRUE(node->running()) << ns << "'s litterpose_node ended: " << err(ns);
    ASSERT_GT(cloud_pub_.getNumSubscribers(), 0u) << "litterpose_node did not subscribe";
  }

  static std::unique_ptr<processes::Child> startNode(std::vector<std::string> args,
                                                     const std::string& name) {
    args.insert(args.begin(), {LITTERPOSE_NODE_PROGRAM, "__name:=litterpose_node"});
    return std::make_unique<processes::Child>(args, folder_ + "/" + name + ".out",
                                              folder_ + "/" + name + ".err");
  }
  static std::string err(const std::string& name) {
    return run_program::slurp(folder_ + "/" + name + ".err");
  }
  static std::string service(const std::string& ns) { return "/" + ns + "/litterpose_node/estimate"; }

  static ros::Time newStamp() {
    static std::uint32_t asked = 0;
    return ros::Time(1000 + ++asked, 0);
  }

  // The node's answer through its service, for the cloud under a new stamp, which the
  // answer must carry.
  static std::optional<GraspResult> estimate(const std::string& ns, sensor_msgs::PointCloud2 cloud,
                                             int trash_type = 3, const std::string& entry = "") {
    cloud.header.stamp = newStamp();
    litterpose_msgs::EstimateGrasp call;
    call.request.cloud = cloud;
    call.request.trash_type = trash_type;
    call.request.entry = entry;
    if (!ros::service::call(service(ns), call)) return std::nullopt;
    EXPECT_EQ(call.response.result.header.stamp, cloud.header.stamp);
    EXPECT_EQ(call.response.result.trash_type, trash_type);
    return call.response.result;
  }

  // The answer on the old topics to the cloud, published under a new stamp: the result
  // and, on result 1, the pose, which must carry that stamp.
  static std::pair<std::optional<int>, std::optional<geometry_msgs::PoseStamped>> ask(
      sensor_msgs::PointCloud2 cloud) {
    cloud.header.stamp = newStamp();
    cloud_pub_.publish(cloud);
    const auto result = results_.next();
    if (!result) return {std::nullopt, std::nullopt};
    if (result->data != 1) return {result->data, std::nullopt};
    auto pose = poses_.next();
    if (pose && pose->header.stamp != cloud.header.stamp) pose.reset();
    return {result->data, pose};
  }

  // base_link -> looker_mount -> looker_camera on /tf_static, latched, as a camera driver
  // or a launch file would publish them: the configured camera turned 4 degrees about the
  // arm's axis and moved 2 cm, split into a translation and a rotation.
  static void publishTfTree() {
    const Eigen::Affine3d moved = lookerExtrinsic();
    geometry_msgs::TransformStamped mount, camera;
    mount.header.frame_id = "base_link";
    mount.child_frame_id = "looker_mount";
    mount.transform.translation.x = moved.translation().x();
    mount.transform.translation.y = moved.translation().y();
    mount.transform.translation.z = moved.translation().z();
    mount.transform.rotation.w = 1.0;
    camera.header.frame_id = "looker_mount";
    camera.child_frame_id = "looker_camera";
    const Eigen::Quaterniond q(moved.rotation());
    camera.transform.rotation.w = q.w();
    camera.transform.rotation.x = q.x();
    camera.transform.rotation.y = q.y();
    camera.transform.rotation.z = q.z();
    tf2_msgs::TFMessage tree;
    tree.transforms = {mount, camera};
    tf_pub_ = nh_->advertise<tf2_msgs::TFMessage>("/tf_static", 1, true);
    tf_pub_.publish(tree);
  }
  static Eigen::Affine3d lookerExtrinsic() {
    Eigen::Affine3d moved(Eigen::AngleAxisd(0.07, Eigen::Vector3d::UnitZ()));
    moved.translation() = Eigen::Vector3d(0.01, -0.02, 0.0);
    return moved * Eigen::Affine3d(configuredExtrinsic().cast<double>());
  }

  static std::string folder_;
  static std::unique_ptr<processes::Child> master_;
  static std::map<std::string, std::unique_ptr<processes::Child>> nodes_;
  static std::unique_ptr<ros::NodeHandle> nh_;
  static std::unique_ptr<ros::AsyncSpinner> spinner_;
  static ros::Publisher cloud_pub_, object_pub_, racer_cloud_pub_, racer_type_pub_, tf_pub_;
  static Inbox<std_msgs::Int32> results_, racer_results_;
  static Inbox<geometry_msgs::PoseStamped> poses_;
  static Inbox<GraspResult> grasps_;
  static Inbox<visualization_msgs::MarkerArray> markers_;
  static Inbox<diagnostic_msgs::DiagnosticArray> diagnostics_;
};
std::string LitterposeNode::folder_;
std::unique_ptr<processes::Child> LitterposeNode::master_;
std::map<std::string, std::unique_ptr<processes::Child>> LitterposeNode::nodes_;
std::unique_ptr<ros::NodeHandle> LitterposeNode::nh_;
std::unique_ptr<ros::AsyncSpinner> LitterposeNode::spinner_;
ros::Publisher LitterposeNode::cloud_pub_, LitterposeNode::object_pub_,
    LitterposeNode::racer_cloud_pub_, LitterposeNode::racer_type_pub_, LitterposeNode::tf_pub_;
Inbox<std_msgs::Int32> LitterposeNode::results_, LitterposeNode::racer_results_;
Inbox<geometry_msgs::PoseStamped> LitterposeNode::poses_;
Inbox<GraspResult> LitterposeNode::grasps_;
Inbox<visualization_msgs::MarkerArray> LitterposeNode::markers_;
Inbox<diagnostic_msgs::DiagnosticArray> LitterposeNode::diagnostics_;

TEST_F(LitterposeNode, ServiceAnswersEveryRecordedCloudAsLitterposeEstimate) {
  const auto files = support::bundledCloudPaths();
  for (const char* entry : {"", "main"}) {
    const auto expected = estimates(files, *entry ? entry : "common");
    int grasps = 0;
    for (const std::string& file : files) {
      const auto answer = estimate("picker", cloudMessage(file), 3, entry);
      ASSERT_TRUE(answer) << file << ": the service call failed";
      EXPECT_EQ(answer->entry, *entry ? entry : "common");
      expectAnswer(expected.at(file), *answer, file + " " + entry);
      grasps += answer->code == 1;
    }
    EXPECT_GT(grasps, 0) << entry;  // both kinds of answer were compared
    EXPECT_LT(grasps, static_cast<int>(files.size())) << entry;
  }
}

// A burst of objects, each with its own trash type, each answered on grasp with its stamp
// and its type, as litterpose-estimate answers the same cloud and type.
TEST_F(LitterposeNode, ThePairedTopicsAnswerEachObjectWithItsStampAndTrashType) {
  const auto files = support::bundledCloudPaths();
  const std::map<int, std::map<std::string, Expected>> expected = {
      {3, estimates(files, "common", 3)}, {1, estimates(files, "common", 1)}};
  grasps_.clear();
  std::map<ros::Time, std::pair<std::string, int>> sent;
  for (std::size_t i = 0; i < 4; ++i) {
    litterpose_msgs::ObjectCloud object;
    object.cloud = cloudMessage(files[i]);
    object.cloud.header = std_msgs::Header();  // not read: the object's header counts
    object.header.frame_id = kCamera;
    object.header.stamp = newStamp();
    object.trash_type = i % 2 ? 1 : 3;
    sent[object.header.stamp] = {files[i], object.trash_type};
    object_pub_.publish(object);
  }
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const auto answer = grasps_.next();
    ASSERT_TRUE(answer) << "no GraspResult on grasp";
    ASSERT_EQ(sent.count(answer->header.stamp), 1u) << answer->header.stamp;
    const auto& [file, trash_type] = sent.at(answer->header.stamp);
    EXPECT_EQ(answer->trash_type, trash_type);
    expectAnswer(expected.at(trash_type).at(file), *answer, file);
  }
}

TEST_F(LitterposeNode, OldTopicsAnswerEveryRecordedCloudAsLitterposeEstimate) {
  const auto files = support::bundledCloudPaths();
  const auto expected = estimates(files);
  for (const std::string& file : files) {
    const auto [result, pose] = ask(cloudMessage(file));
    ASSERT_TRUE(result) << file << ": no grasp_result";
    ASSERT_EQ(*result, expected.at(file).result) << file;
    if (*result != 1) continue;
    ASSERT_TRUE(pose) << file << ": no grasp_pose with the cloud's stamp";
    EXPECT_EQ(pose->header.frame_id, "base_link");
    expectPose(poseOf(pose->pose), expected.at(file).pose, kTolerance, file);
  }
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(poses_.empty()) << "a pose for a cloud without a grasp";
}

// While the racer estimates a large cloud, the camera's next view arrives, then a new
// trash type and, 10 ms later, the view after: the newest view, which replaces the one
// waiting, is estimated for the new type (7, which the main entry has no strategy for), not
// the one before.
TEST_F(LitterposeNode, OldTopicsTakeATrashTypePublishedWhileALargeEstimateRuns) {
  const auto small = cloudMessage(support::bundledCloudPaths().front());
  pcl::PointCloud<pcl::PointXYZ> large;
  pcl::transformPointCloud(
      *clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.22f, 0.035f, 1 << 21), large,
      Eigen::Matrix4f(configuredExtrinsic().inverse()));
  const auto large_message = toMessage(large);
  const auto publishType = [](int type) {
    std_msgs::Int32 m;
    m.data = type;
    racer_type_pub_.publish(m);
  };
  racer_results_.clear();
  publishType(3);
  std::this_thread::sleep_for(50ms);
  racer_cloud_pub_.publish(small);
  const auto before = racer_results_.next();
  ASSERT_TRUE(before) << "no answer";
  ASSERT_NE(before->data, kUnknownTrashType);

  for (int round = 0; round < 3; ++round) {
    publishType(3);
    racer_cloud_pub_.publish(large_message);
    // Long enough for the large cloud to arrive and its estimate to start.
    std::this_thread::sleep_for(100ms);
    racer_cloud_pub_.publish(small);
    std::this_thread::sleep_for(10ms);
    publishType(7);
    std::this_thread::sleep_for(10ms);
    racer_cloud_pub_.publish(small);
    const auto published = Clock::now();
    const auto large_answer = racer_results_.nextArrival();
    ASSERT_TRUE(large_answer) << "no answer";
    // Else the race was not run: the large estimate ended before the views came.
    EXPECT_GT(large_answer->second, published) << "round " << round;
    // The view before the type may have been answered on its own, for type 3 or 7.
    auto newest = racer_results_.next();
    if (newest && newest->data != kUnknownTrashType) newest = racer_results_.next(2s);
    ASSERT_TRUE(newest) << "round " << round << ": no answer for the newest view";
    EXPECT_EQ(newest->data, kUnknownTrashType) << "round " << round;
    racer_results_.clear();
  }
}

// A malformed cloud is answered with its status on each interface, and the node serves the
// next request; on the old topic as 11, as before.
TEST_F(LitterposeNode, AnUnreadableCloudIsAnsweredWithItsStatusAndTheNodeServesOn) {
  const std::string file = support::bundledCloudPaths().front();
  const sensor_msgs::PointCloud2 good = cloudMessage(file);
  const Expected expected = estimates({file}).at(file);
  std::vector<std::pair<const char*, sensor_msgs::PointCloud2>> malformed(5, {"", good});
  malformed[0].first = "no z field";
  malformed[0].second.fields.pop_back();
  malformed[1].first = "data shorter than its rows";
  malformed[1].second.data.resize(good.data.size() - 5);
  malformed[2].first = "four billion points claimed";
  malformed[2].second.width = malformed[2].second.height = 1u << 16;
  malformed[3].first = "a field name of a megabyte";
  malformed[3].second.fields[1].name = std::string(1 << 20, 'y');
  malformed[4].first = "an empty layout";
  malformed[4].second = sensor_msgs::PointCloud2();

  grasps_.clear();
  for (const auto& [what, message] : malformed) {
    const auto by_service = estimate("picker", message);
    ASSERT_TRUE(by_service) << what << ": the service call failed";
    EXPECT_EQ(by_service->status, GraspResult::CLOUD_UNREADABLE) << what;
    EXPECT_EQ(by_service->reason_name, "unreadable_cloud") << what;

    litterpose_msgs::ObjectCloud object;
    object.header.stamp = newStamp();
    object.cloud = message;
    object_pub_.publish(object);
    const auto by_topic = grasps_.next();
    ASSERT_TRUE(by_topic) << what << ": no answer on grasp";
    EXPECT_EQ(by_topic->header.stamp, object.header.stamp) << what;
    EXPECT_EQ(by_topic->status, GraspResult::CLOUD_UNREADABLE) << what;

    const auto [result, pose] = ask(message);
    ASSERT_TRUE(result) << what << ": no grasp_result";
    EXPECT_EQ(*result, kTooFewPoints) << what;
  }
  EXPECT_NE(err("picker").find("no z field (fields present: x, y)"), std::string::npos)
      << err("picker");
  EXPECT_EQ(err("picker").find("yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy"),
            std::string::npos);

  const auto after = estimate("picker", good);
  ASSERT_TRUE(after);
  expectAnswer(expected, *after, "the good cloud after the refusals");
  EXPECT_EQ(ask(good).first, expected.result);
}

// Fields a publisher outside the project may fill as it likes: trash types at the ends of
// int32, an entry name that is no name, points that are no numbers, an extreme stamp.
TEST_F(LitterposeNode, HostileFieldsGetAnAnswerNotACrash) {
  const sensor_msgs::PointCloud2 good = cloudMessage(support::bundledCloudPaths().front());
  for (const int trash_type : {INT_MIN, -1, 0, 4, INT_MAX}) {
    const auto answer = estimate("picker", good, trash_type, "main");
    ASSERT_TRUE(answer) << trash_type;
    EXPECT_EQ(answer->status, GraspResult::OK) << trash_type;
    EXPECT_EQ(answer->code, kUnknownTrashType) << trash_type;
  }
  const auto entry = estimate("picker", good, 3, std::string("common\0\xff", 8));
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->status, GraspResult::INVALID_REQUEST);
  EXPECT_EQ(entry->reason_name, "unknown_entry");

  pcl::PointCloud<pcl::PointXYZ> unmeasured(500, 1, pcl::PointXYZ(NAN, INFINITY, 0.5f));
  const auto nan = estimate("picker", toMessage(unmeasured));
  ASSERT_TRUE(nan);
  EXPECT_EQ(nan->status, GraspResult::OK);
  EXPECT_EQ(nan->code, kTooFewPoints);

  litterpose_msgs::EstimateGrasp call;
  call.request.cloud = good;
  call.request.cloud.header.stamp = ros::Time(UINT_MAX, 999999999);
  call.request.trash_type = 3;
  ASSERT_TRUE(ros::service::call(service("looker"), call));
  EXPECT_EQ(call.response.result.status, GraspResult::CLOUD_UNREADABLE);
  EXPECT_EQ(call.response.result.header.stamp, call.request.cloud.header.stamp);
}

// Variants of the camera frame's id are the camera frame; variants of the base frame's are
// refused as such; any other frame, whatever its case, is not the camera's.
TEST_F(LitterposeNode, FrameIdsAreComparedWithoutBlanksAndALeadingSlash) {
  const std::string file = support::bundledCloudPaths().front();
  const Expected expected = estimates({file}).at(file);
  const std::pair<std::string, const char*> cases[] = {
      {kCamera, nullptr},       {"/" + kCamera, nullptr},           {" " + kCamera + "\t", nullptr},
      {"", nullptr},            {"/base_link", "base_frame_cloud"}, {"base_link ", "base_frame_cloud"},
      {"BASE_LINK", "unknown_frame"}, {"camera_link", "unknown_frame"},
  };
  for (const auto& [frame, refusal] : cases) {
    sensor_msgs::PointCloud2 cloud = cloudMessage(file);
    cloud.header.frame_id = frame;
    const auto answer = estimate("picker", cloud);
    ASSERT_TRUE(answer) << "'" << frame << "'";
    if (!refusal) {
      expectAnswer(expected, *answer, "'" + frame + "'");
      continue;
    }
    EXPECT_EQ(answer->status, GraspResult::CLOUD_UNREADABLE) << "'" << frame << "'";
    EXPECT_EQ(answer->reason_name, refusal) << "'" << frame << "'";
  }
}

TEST_F(LitterposeNode, MarkersAreDeletedOnEveryAnswerThatIsNotAGrasp) {
  const auto files = support::bundledCloudPaths();
  const auto expected = estimates(files);
  const auto with_grasp = std::find_if(files.begin(), files.end(),
                                       [&](const std::string& f) { return expected.at(f).result == 1; });
  const auto without = std::find_if(files.begin(), files.end(),
                                    [&](const std::string& f) { return expected.at(f).result != 1; });
  ASSERT_TRUE(with_grasp != files.end() && without != files.end());
  sensor_msgs::PointCloud2 unreadable = cloudMessage(*with_grasp);
  unreadable.fields.clear();

  const std::pair<sensor_msgs::PointCloud2, bool> answers[] = {
      {cloudMessage(*with_grasp), true}, {unreadable, false},
      {cloudMessage(*with_grasp), true}, {cloudMessage(*without), false}};
  markers_.clear();
  for (const auto& [cloud, grasp] : answers) {
    ASSERT_TRUE(estimate("picker", cloud));
    const auto markers = markers_.next();
    ASSERT_TRUE(markers) << "no markers";
    if (grasp) {
      EXPECT_EQ(markers->markers.size(), 4u);
      for (const auto& m : markers->markers) EXPECT_EQ(m.action, visualization_msgs::Marker::ADD);
    } else {
      ASSERT_EQ(markers->markers.size(), 1u);
      EXPECT_EQ(markers->markers[0].action, visualization_msgs::Marker::DELETEALL);
    }
  }
}

// camera_tf publish: rviz's frames find the configured mounting under the normalised
// ~camera_frame; clouds in other frames add nothing to /tf_static. camera_tf none: the
// node publishes nothing there.
TEST_F(LitterposeNode, OnlyThePublishingNodePutsOnlyItsCameraFrameOnTfStatic) {
  for (const char* frame : {"other_frame", "/shown_camera", "camera_depth_optical_frame"}) {
    sensor_msgs::PointCloud2 cloud = cloudMessage(support::bundledCloudPaths().front());
    cloud.header.frame_id = frame;
    ASSERT_TRUE(estimate("shown", cloud));
  }
  tf2_ros::Buffer buffer;
  tf2_ros::TransformListener listener(buffer, *nh_);
  geometry_msgs::TransformStamped mounting;
  try {
    mounting = buffer.lookupTransform("base_link", "shown_camera", ros::Time(0),
                                      ros::Duration(std::chrono::seconds(kTimeout).count()));
  } catch (const tf2::TransformException& e) {
    FAIL() << "no camera mounting on /tf_static: " << e.what();
  }
  const Eigen::Matrix4f configured = configuredExtrinsic();
  const auto& t = mounting.transform;
  const Eigen::Quaterniond q(t.rotation.w, t.rotation.x, t.rotation.y, t.rotation.z);
  const Eigen::Vector3d translation(t.translation.x, t.translation.y, t.translation.z);
  EXPECT_TRUE(translation.isApprox(configured.block<3, 1>(0, 3).cast<double>(), 1e-6))
      << translation.transpose();
  EXPECT_TRUE(q.toRotationMatrix().isApprox(configured.block<3, 3>(0, 0).cast<double>(), 1e-6))
      << q.toRotationMatrix();

  // The latched messages on /tf_static, by publisher.
  std::mutex mutex;
  std::map<std::string, tf2_msgs::TFMessage> latched;
  ros::Subscriber tf_static = nh_->subscribe<tf2_msgs::TFMessage>(
      "/tf_static", 10,
      boost::function<void(const ros::MessageEvent<tf2_msgs::TFMessage const>&)>(
          [&](const ros::MessageEvent<tf2_msgs::TFMessage const>& event) {
            std::lock_guard<std::mutex> lock(mutex);
            latched[event.getPublisherName()] = *event.getMessage();
          }));
  for (const auto end = Clock::now() + 5s; Clock::now() < end;) {
    std::this_thread::sleep_for(100ms);
    std::lock_guard<std::mutex> lock(mutex);
    if (latched.size() >= 2) break;
  }
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(latched.count("/shown/litterpose_node"), 1u);
  const auto& shown = latched.at("/shown/litterpose_node").transforms;
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].header.frame_id, "base_link");
  EXPECT_EQ(shown[0].child_frame_id, "shown_camera");
  for (const char* quiet : {"/picker/litterpose_node", "/looker/litterpose_node", "/racer/litterpose_node"})
    EXPECT_EQ(latched.count(quiet), 0u) << quiet;
}

// camera_tf lookup: the camera frame published by another node (this one), found through a
// tree of two transforms, replaces the configured extrinsic: each cloud is answered as an
// estimator with that extrinsic answers it. A frame tf2 does not know is answered within
// the timeout as unreadable.
TEST_F(LitterposeNode, LookupTakesTheCameraFrameFromTheTf2Tree) {
  const Eigen::Matrix4f extrinsic = lookerExtrinsic().matrix().cast<float>();
  int grasps = 0;
  for (const std::string& file : support::bundledCloudPaths()) {
    GrabPoseEstimate fresh(kConfig, litterpose::ConsoleSink::none());
    fresh.camera_extrinsic_ = extrinsic;
    fresh.trash_type_ = 3;
    auto camera_cloud = support::readBundledCloud(file);
    auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
    fresh.PclTransform(camera_cloud, cloud, fresh.camera_extrinsic_);
    const int code = fresh.CommonGrabPoseFunc(cloud);

    sensor_msgs::PointCloud2 message = cloudMessage(file);
    message.header.frame_id = grasps % 2 ? "/looker_camera" : "";
    const auto answer = estimate("looker", message);
    ASSERT_TRUE(answer) << file;
    ASSERT_EQ(answer->status, GraspResult::OK) << file << ": " << answer->reason;
    ASSERT_EQ(answer->code, code) << file;
    if (code != 1) continue;
    ++grasps;
    const auto& p = fresh.grab_pose_;
    expectPose(poseOf(answer->pose),
               {p.position.x(), p.position.y(), p.position.z(), p.orientation.w(),
                p.orientation.x(), p.orientation.y(), p.orientation.z()},
               1e-5, file);
  }
  EXPECT_GT(grasps, 0);

  sensor_msgs::PointCloud2 elsewhere = cloudMessage(support::bundledCloudPaths().front());
  elsewhere.header.frame_id = "nowhere";
  const auto start = Clock::now();
  const auto answer = estimate("looker", elsewhere);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, GraspResult::CLOUD_UNREADABLE);
  EXPECT_EQ(answer->reason_name, "no_transform");
  EXPECT_NE(answer->reason.find("'nowhere'"), std::string::npos) << answer->reason;
  EXPECT_LT(Clock::now() - start, 10s);
}

// After the refusals above, /diagnostics tells them by cause, with a rate and a latency.
TEST_F(LitterposeNode, DiagnosticsCountRefusalsByCause) {
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(estimate("picker", sensor_msgs::PointCloud2()));
  diagnostics_.clear();
  std::map<std::string, std::string> values;
  for (const auto end = Clock::now() + kTimeout; values.empty() && Clock::now() < end;) {
    const auto array = diagnostics_.next(end - Clock::now());
    if (!array) break;
    for (const auto& status : array->status)
      if (status.name.find("picker/litterpose_node") != std::string::npos &&
          status.name.find("estimates") != std::string::npos)
        for (const auto& kv : status.values) values[kv.key] = kv.value;
  }
  ASSERT_FALSE(values.empty()) << "no diagnostics of /picker/litterpose_node";
  EXPECT_GE(std::stoi(values["refusals: unreadable_cloud"]), 2);
  EXPECT_GE(std::stoi(values["answers"]), 2);
  EXPECT_EQ(values.count("rate (answers/s)"), 1u);
  EXPECT_EQ(values.count("latency median (ms)"), 1u);
  EXPECT_NE(values["last error"].find("unreadable_cloud"), std::string::npos) << values["last error"];
}

// The README's rospy client, with the generated messages, asks the service for a recorded
// cloud and gets litterpose-estimate's answer.
TEST_F(LitterposeNode, ThePythonClientGetsTheAnswerOfLitterposeEstimate) {
  const std::string file = support::bundledCloudPaths().front();
  const Expected expected = estimates({file}).at(file);
  const std::string points = folder_ + "/points.txt";
  {
    std::ofstream out(points);
    char line[96];
    for (const auto& p : support::readBundledCloud(file)->points) {
      std::snprintf(line, sizeof line, "%.9g %.9g %.9g\n", p.x, p.y, p.z);
      out << line;
    }
  }
  const auto outcome = run_program::run(
      "PYTHONPATH=" + run_program::quote(LITTERPOSE_MSGS_PYTHONPATH) + " /usr/bin/python3 " +
      run_program::quote(GRASP_CLIENT) + " --service " + service("picker") + " " +
      run_program::quote(points));
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  ptree answer;
  std::istringstream text(outcome.out);
  boost::property_tree::read_json(text, answer);
  EXPECT_EQ(answer.get<int>("status"), 0);
  ASSERT_EQ(answer.get<int>("code"), expected.result);
  EXPECT_EQ(answer.get<std::string>("reason"), expected.reason);
  EXPECT_EQ(answer.get<std::string>("frame_id"), "base_link");
  if (expected.result != 1) return;
  std::vector<double> pose;
  for (const auto& v : answer.get_child("position")) pose.push_back(v.second.get_value<double>());
  for (const char* k : {"w", "x", "y", "z"})
    pose.push_back(answer.get<double>(std::string("orientation.") + k));
  expectPose(pose, expected.pose, kTolerance, "grasp_client.py");

  const auto absent = run_program::run("PYTHONPATH=" + run_program::quote(LITTERPOSE_MSGS_PYTHONPATH) +
                                       " /usr/bin/python3 " + run_program::quote(GRASP_CLIENT) +
                                       " --timeout 0.5 --service /nobody/estimate " +
                                       run_program::quote(points));
  EXPECT_EQ(absent.status, 1) << absent.err;
}

TEST_F(LitterposeNode, EndsWithOneFatalLineOnAnUnusableConfiguration) {
  struct Case {
    const char* name;
    const char* param;  // set to value under the namespace, beside a good ~config
    const char* value;
    const char* said;
  };
  const Case cases[] = {
      {"no_config", nullptr, nullptr, "~config"},
      {"missing_config", "config", "no_such_config.yaml", "no_such_config.yaml"},
      {"bad_camera_tf", "camera_tf", "static", "~camera_tf must be publish, none or lookup"},
      {"bad_frames", "camera_frame", " /base_link", "~camera_frame"},
  };
  for (const Case& c : cases) {
    const std::string prefix = std::string("/") + c.name + "/litterpose_node/";
    if (c.param) {
      ros::param::set(prefix + "config", kConfig);
      ros::param::set(prefix + c.param, std::string(c.value));
    }
    auto node = startNode({std::string("__ns:=/") + c.name}, c.name);
    const auto status = node->wait(kTimeout);
    const std::string printed = err(c.name);
    ASSERT_TRUE(status) << c.name << " did not end";
    EXPECT_EQ(*status, 1) << c.name << ":\n" << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    EXPECT_NE(printed.find("[FATAL]"), std::string::npos) << printed;
    EXPECT_NE(printed.find(c.said), std::string::npos) << printed;
  }
}

// Quiet (the default), an empty cloud is answered without the Point Cloud Library's warning
// about it on standard error.
TEST_F(LitterposeNode, AnEmptyCloudIsAnsweredWithoutALibraryWarning) {
  sensor_msgs::PointCloud2 empty = cloudMessage(support::bundledCloudPaths().front());
  empty.width = 0;
  empty.row_step = 0;
  empty.data.clear();
  const auto [result, pose] = ask(empty);
  ASSERT_TRUE(result) << "no grasp_result";
  EXPECT_EQ(*result, kTooFewPoints);
  EXPECT_EQ(err("picker").find("new_width"), std::string::npos) << err("picker");
}

TEST_F(LitterposeNode, StopsCleanlyOnSigint) {
  for (auto& [ns, node] : nodes_) EXPECT_EQ(node->stop(20s), 0) << ns << ": " << err(ns);
}

}  // namespace

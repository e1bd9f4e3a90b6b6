// litterpose_node on a ROS master of its own (rosmaster on a free port of 127.0.0.1, its
// ROS_HOME and logs in a scratch folder): the node answers the recorded clouds as
// litterpose-estimate does, refuses malformed ones and keeps serving, and ends with
// status 1 and one fatal line on an unusable configuration. Every process started here is
// stopped by its id within a time limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/property_tree/json_parser.hpp>
#include <geometry_msgs/PoseStamped.h>
#include <pcl/io/ply_io.h>
#include <pcl_conversions/pcl_conversions.h>
#include <ros/ros.h>
#include <std_msgs/Int32.h>
#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>

#include <litterpose.h>

#include "support/bundled_clouds.h"
#include "support/processes.h"
#include "support/run_program.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: the sanitizer build on a machine shared with other builds.
constexpr auto kTimeout = 90s;
constexpr double kTolerance = 1e-6;
constexpr int kTooFewPoints = 11;

std::string sourcePath(const std::string& relative) {
  return std::string(LITTERPOSE_SOURCE_DIR) + "/" + relative;
}
const std::string kConfig = sourcePath("config/grab_pose_estimate_config.yaml");

sensor_msgs::PointCloud2 cloudMessage(const std::string& ply) {
  sensor_msgs::PointCloud2 message;
  pcl::toROSMsg(*support::readBundledCloud(ply), message);
  message.header.frame_id = "camera_depth_optical_frame";
  return message;
}

// litterpose-estimate's JSON line for each file: result, and position and orientation
// (w, x, y, z) on result 1.
struct Expected {
  int result = 0;
  std::vector<double> pose;
};
std::map<std::string, Expected> estimates(const std::vector<std::string>& files) {
  std::string command = run_program::program(LITTERPOSE_ESTIMATE_PROGRAM) + " --quiet --config " +
                        run_program::quote(kConfig);
  for (const std::string& f : files) command += " " + run_program::quote(f);
  const auto outcome = run_program::run(command);
  if (outcome.status != 0) throw std::runtime_error("litterpose-estimate: " + outcome.err);
  std::map<std::string, Expected> by_file;
  std::istringstream lines(outcome.out);
  for (std::string line; std::getline(lines, line);) {
    boost::property_tree::ptree record;
    std::istringstream text(line);
    boost::property_tree::read_json(text, record);
    Expected& e = by_file[record.get<std::string>("file")];
    e.result = record.get<int>("result");
    if (e.result != 1) continue;
    for (const auto& v : record.get_child("position")) e.pose.push_back(v.second.get_value<double>());
    for (const char* k : {"w", "x", "y", "z"})
      e.pose.push_back(record.get<double>(std::string("orientation.") + k));
  }
  return by_file;
}

// Messages of one topic as they arrive.
template <typename M>
struct Inbox {
  void receive(const typename M::ConstPtr& m) {
    std::lock_guard<std::mutex> lock(mutex);
    messages.push_back(*m);
    arrived.notify_all();
  }
  std::optional<M> next() {
    std::unique_lock<std::mutex> lock(mutex);
    if (!arrived.wait_for(lock, kTimeout, [&] { return !messages.empty(); })) return std::nullopt;
    M m = messages.front();
    messages.pop_front();
    return m;
  }
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<M> messages;
  ros::Subscriber subscriber;
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
    spinner_ = std::make_unique<ros::AsyncSpinner>(1);
    spinner_->start();
    cloud_pub_ = nh_->advertise<sensor_msgs::PointCloud2>("/picker/cloud", 1);
    results_.subscriber = nh_->subscribe("/picker/grasp_result", 100, &Inbox<std_msgs::Int32>::receive, &results_);
    poses_.subscriber = nh_->subscribe("/picker/grasp_pose", 100,
                                       &Inbox<geometry_msgs::PoseStamped>::receive, &poses_);
    ros::param::set("/picker/litterpose_node/config", kConfig);
    node_ = startNode({"__ns:=/picker"}, "picker");
    for (const auto end = Clock::now() + kTimeout;
         node_->running() && Clock::now() < end &&
         (cloud_pub_.getNumSubscribers() == 0 || results_.subscriber.getNumPublishers() == 0 ||
          poses_.subscriber.getNumPublishers() == 0);)
      std::this_thread::sleep_for(50ms);
  }

  static void TearDownTestSuite() {
    node_.reset();  // stops it if a test has not
    if (spinner_) spinner_->stop();
    results_.subscriber = poses_.subscriber = ros::Subscriber();
    cloud_pub_ = ros::Publisher();
    nh_.reset();
    if (ros::isInitialized()) ros::shutdown();
    master_.reset();
    if (testing::UnitTest::GetInstance()->Passed()) std::filesystem::remove_all(folder_);
    else std::fprintf(stderr, "ROS logs kept in %s\n", folder_.c_str());
  }

  void SetUp() override {
    ASSERT_TRUE(master_) << "rosmaster did not start: " << run_program::slurp(folder_ + "/master.err");
    ASSERT_TRUE(node_->running()) << "litterpose_node ended: " << err("picker");
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

  // The node's answer to the cloud, published under a new stamp: the result and, on
  // result 1, the pose, which must carry that stamp.
  static std::pair<std::optional<int>, std::optional<geometry_msgs::PoseStamped>> ask(
      sensor_msgs::PointCloud2 cloud) {
    static int asked = 0;
    cloud.header.stamp = ros::Time(1000 + ++asked, 0);
    cloud_pub_.publish(cloud);
    const auto result = results_.next();
    if (!result) return {std::nullopt, std::nullopt};
    if (result->data != 1) return {result->data, std::nullopt};
    auto pose = poses_.next();
    if (pose && pose->header.stamp != cloud.header.stamp) pose.reset();
    return {result->data, pose};
  }

  static void expectAnswer(const Expected& expected, const sensor_msgs::PointCloud2& cloud,
                           const std::string& what) {
    const auto [result, pose] = ask(cloud);
    ASSERT_TRUE(result) << what << ": no grasp_result";
    ASSERT_EQ(*result, expected.result) << what;
    if (expected.result != 1) return;
    ASSERT_TRUE(pose) << what << ": no grasp_pose with the cloud's stamp";
    EXPECT_EQ(pose->header.frame_id, "base_link");
    const auto& p = pose->pose;
    const double got[7] = {p.position.x,    p.position.y,    p.position.z,   p.orientation.w,
                           p.orientation.x, p.orientation.y, p.orientation.z};
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(got[i], expected.pose.at(i), kTolerance) << what << " " << i;
  }

  static std::string folder_;
  static std::unique_ptr<processes::Child> master_, node_;
  static std::unique_ptr<ros::NodeHandle> nh_;
  static std::unique_ptr<ros::AsyncSpinner> spinner_;
  static ros::Publisher cloud_pub_;
  static Inbox<std_msgs::Int32> results_;
  static Inbox<geometry_msgs::PoseStamped> poses_;
};
std::string LitterposeNode::folder_;
std::unique_ptr<processes::Child> LitterposeNode::master_, LitterposeNode::node_;
std::unique_ptr<ros::NodeHandle> LitterposeNode::nh_;
std::unique_ptr<ros::AsyncSpinner> LitterposeNode::spinner_;
ros::Publisher LitterposeNode::cloud_pub_;
Inbox<std_msgs::Int32> LitterposeNode::results_;
Inbox<geometry_msgs::PoseStamped> LitterposeNode::poses_;

TEST_F(LitterposeNode, AnswersEveryRecordedCloudAsLitterposeEstimate) {
  const auto files = support::bundledCloudPaths();
  const auto expected = estimates(files);
  int grasps = 0;
  for (const std::string& file : files) {
    grasps += expected.at(file).result == 1;
    expectAnswer(expected.at(file), cloudMessage(file), file);
  }
  EXPECT_GT(grasps, 0);  // both kinds of answer were compared
  EXPECT_LT(grasps, static_cast<int>(files.size()));
  std::this_thread::sleep_for(500ms);
  std::lock_guard<std::mutex> lock(poses_.mutex);
  EXPECT_TRUE(poses_.messages.empty()) << "a pose for a cloud without a grasp";
}

TEST_F(LitterposeNode, RefusesMalformedCloudsAndKeepsServing) {
  const std::string file = support::bundledCloudPaths().front();
  const sensor_msgs::PointCloud2 good = cloudMessage(file);
  std::vector<std::pair<const char*, sensor_msgs::PointCloud2>> malformed(4, {"", good});
  malformed[0].first = "no z field";
  malformed[0].second.fields.pop_back();
  malformed[1].first = "data shorter than its rows";
  malformed[1].second.data.resize(good.data.size() - 5);
  malformed[2].first = "four billion points claimed";
  malformed[2].second.width = malformed[2].second.height = 1u << 16;
  malformed[3].first = "a cloud in the base frame";
  malformed[3].second.header.frame_id = "base_link";
  for (const auto& [what, message] : malformed) {
    const auto [result, pose] = ask(message);
    ASSERT_TRUE(result) << what << ": no answer";
    EXPECT_EQ(*result, kTooFewPoints) << what;
  }
  EXPECT_NE(err("picker").find("no z field (fields present: x, y)"), std::string::npos)
      << err("picker");
  expectAnswer(estimates({file}).at(file), good, "the good cloud after the refusals");
}

TEST_F(LitterposeNode, EndsWithOneFatalLineOnAnUnusableConfiguration) {
  const std::pair<const char*, const char*> cases[] = {
      {"no_config", "~config"}, {"missing_config", "no_such_config.yaml"}};
  ros::param::set("/missing_config/litterpose_node/config", folder_ + "/no_such_config.yaml");
  for (const auto& [name, said] : cases) {
    auto node = startNode({std::string("__ns:=/") + name}, name);
    const auto status = node->wait(kTimeout);
    const std::string printed = err(name);
    ASSERT_TRUE(status) << name << " did not end";
    EXPECT_EQ(*status, 1) << name << ":\n" << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    EXPECT_NE(printed.find("[FATAL]"), std::string::npos) << printed;
    EXPECT_NE(printed.find(said), std::string::npos) << printed;
  }
}

TEST_F(LitterposeNode, PublishesTheCameraMountingOnTfStatic) {
  tf2_ros::Buffer buffer;
  tf2_ros::TransformListener listener(buffer, *nh_);
  geometry_msgs::TransformStamped mounting;
  try {
    mounting = buffer.lookupTransform("base_link", "camera_depth_optical_frame", ros::Time(0),
                                      ros::Duration(std::chrono::seconds(kTimeout).count()));
  } catch (const tf2::TransformException& e) {
    FAIL() << "no camera mounting on /tf_static: " << e.what();
  }
  const Eigen::Matrix4f configured =
      GrabPoseEstimate(kConfig, litterpose::ConsoleSink::none()).camera_extrinsic_;
  const auto& t = mounting.transform;
  const Eigen::Quaterniond q(t.rotation.w, t.rotation.x, t.rotation.y, t.rotation.z);
  const Eigen::Vector3d translation(t.translation.x, t.translation.y, t.translation.z);
  EXPECT_TRUE(translation.isApprox(configured.block<3, 1>(0, 3).cast<double>(), 1e-6))
      << translation.transpose();
  EXPECT_TRUE(q.toRotationMatrix().isApprox(configured.block<3, 3>(0, 0).cast<double>(), 1e-6))
      << q.toRotationMatrix();
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

TEST_F(LitterposeNode, StopsCleanlyOnSigint) { EXPECT_EQ(node_->stop(20s), 0) << err("picker"); }

}  // namespace

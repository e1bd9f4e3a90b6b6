// litterpose_node on a ROS master of its own (rosmaster on a free port of 127.0.0.1, its
// ROS_HOME and logs in a scratch folder): the node answers the recorded clouds as
// litterpose-estimate does, refuses malformed ones and keeps serving, publishes the camera
// mounting, follows its parameters, and ends with status 1 on an unusable configuration.
// Every process started here is stopped by its id within a time limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
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
#include <boost/property_tree/ptree.hpp>
#include <geometry_msgs/PoseStamped.h>
#include <litterpose.h>
#include <pcl/io/ply_io.h>
#include <pcl_conversions/pcl_conversions.h>
#include <ros/ros.h>
#include <std_msgs/Int32.h>
#include <tf2_msgs/TFMessage.h>
#include <visualization_msgs/MarkerArray.h>

#include "support/processes.h"
#include "tools/run_program.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: the sanitizer build on a machine shared with other builds.
constexpr auto kStartTimeout = 90s;
constexpr auto kAnswerTimeout = 60s;
constexpr auto kStopGrace = 20s;
constexpr double kTolerance = 1e-6;
constexpr int kTooFewPoints = 11;
constexpr char kCameraFrame[] = "camera_depth_optical_frame";

std::string sourcePath(const std::string& relative) {
  return std::string(LITTERPOSE_SOURCE_DIR) + "/" + relative;
}
std::string configPath() { return sourcePath("config/grab_pose_estimate_config.yaml"); }

std::vector<std::string> recordedFiles() {
  std::vector<std::string> files;
  for (const auto& f : std::filesystem::directory_iterator(sourcePath("data")))
    if (f.path().extension() == ".ply") files.push_back(f.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// Messages of one topic as they arrive.
template <typename M>
class Inbox {
public:
  void subscribe(ros::NodeHandle& nh, const std::string& topic) {
    subscriber_ = nh.subscribe(topic, 100, &Inbox::receive, this);
  }
  ros::Subscriber& subscriber() { return subscriber_; }

  // Removes and returns the first message that accept takes, waiting up to timeout.
  template <typename Accept>
  std::optional<M> take(Accept accept, Clock::duration timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<M> found;
    cv_.wait_for(lock, timeout, [&] {
      for (auto it = messages_.begin(); it != messages_.end(); ++it) {
        if (accept(*it)) {
          found = *it;
          messages_.erase(it);
          return true;
        }
      }
      return false;
    });
    return found;
  }
  std::optional<M> next(Clock::duration timeout) {
    return take([](const M&) { return true; }, timeout);
  }
  std::size_t size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
  }

private:
  void receive(const typename M::ConstPtr& message) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(*message);
    }
    cv_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<M> messages_;
  ros::Subscriber subscriber_;
};

// What litterpose-estimate says about one file.
struct Expected {
  int result = 0;
  double position[3] = {0, 0, 0};
  double orientation[4] = {0, 0, 0, 0};  // w, x, y, z
};

std::map<std::string, Expected> estimates(const std::vector<std::string>& files,
                                          const std::string& options = "") {
  std::string command = run_program::quote(LITTERPOSE_ESTIMATE_PROGRAM) + " --config " +
                        run_program::quote(configPath()) + " --quiet " + options;
  for (const std::string& f : files) command += " " + run_program::quote(f);
  const run_program::Outcome outcome = run_program::run(command);
  if (outcome.status != 0) throw std::runtime_error("litterpose-estimate failed: " + outcome.err);
  std::map<std::string, Expected> by_file;
  std::istringstream lines(outcome.out);
  std::string line;
  while (std::getline(lines, line)) {
    boost::property_tree::ptree record;
    std::istringstream text(line);
    boost::property_tree::read_json(text, record);
    Expected e;
    e.result = record.get<int>("result");
    if (e.result == 1) {
      int i = 0;
      for (const auto& v : record.get_child("position")) e.position[i++] = v.second.get_value<double>();
      const char* keys[4] = {"w", "x", "y", "z"};
      for (int k = 0; k < 4; ++k)
        e.orientation[k] = record.get<double>(std::string("orientation.") + keys[k]);
    }
    by_file[record.get<std::string>("file")] = e;
  }
  if (by_file.size() != files.size()) throw std::runtime_error("litterpose-estimate: " + outcome.out);
  return by_file;
}

sensor_msgs::PointCloud2 cloudMessage(const std::string& ply, const std::string& frame) {
  pcl::PointCloud<pcl::PointXYZ> cloud;
  if (pcl::PLYReader().read(ply, cloud) < 0) throw std::runtime_error("cannot read " + ply);
  sensor_msgs::PointCloud2 message;
  pcl::toROSMsg(cloud, message);
  message.header.frame_id = frame;
  return message;
}

std::string slurp(const std::string& path) { return run_program::slurp(path); }

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// One litterpose_node and the test's ends of its topics.
class NodeUnderTest {
public:
  NodeUnderTest(const std::string& ns, const std::string& folder) : ns_(ns) {
    out_ = folder + "/" + ns.substr(1) + ".out";
    err_ = folder + "/" + ns.substr(1) + ".err";
  }

  void start(ros::NodeHandle& nh) {
    child_ = std::make_unique<processes::Child>(
        std::vector<std::string>{LITTERPOSE_NODE_PROGRAM, "__name:=litterpose_node", "__ns:=" + ns_},
        out_, err_);
    cloud_pub_ = nh.advertise<sensor_msgs::PointCloud2>(ns_ + "/cloud", 1);
    trash_type_pub_ = nh.advertise<std_msgs::Int32>(ns_ + "/trash_type", 1, true);
    results.subscribe(nh, ns_ + "/grasp_result");
    poses.subscribe(nh, ns_ + "/grasp_pose");
    markers.subscribe(nh, ns_ + "/grasp_markers");
  }

  // Connected both ways, or the reason it is not.
  std::optional<std::string> waitConnected() {
    const auto end = Clock::now() + kStartTimeout;
    while (Clock::now() < end) {
      if (!child_->running()) return "litterpose_node ended at start:\n" + slurp(err_);
      if (cloud_pub_.getNumSubscribers() > 0 && trash_type_pub_.getNumSubscribers() > 0 &&
          results.subscriber().getNumPublishers() > 0 && poses.subscriber().getNumPublishers() > 0 &&
          markers.subscriber().getNumPublishers() > 0)
        return std::nullopt;
      std::this_thread::sleep_for(50ms);
    }
    return std::string("litterpose_node did not connect:\n") + slurp(err_);
  }

  struct Reply {
    std::optional<int> result;
    std::optional<geometry_msgs::PoseStamped> pose;
    std::optional<visualization_msgs::MarkerArray> markers;
  };

  // Publishes the cloud under a new stamp and collects the answer to it.
  Reply ask(sensor_msgs::PointCloud2 cloud) {
    cloud.header.stamp = ros::Time(1000 + ++asked_, 500);
    cloud_pub_.publish(cloud);
    Reply reply;
    if (const auto r = results.next(kAnswerTimeout)) reply.result = r->data;
    if (reply.result == 1) {
      const auto same_stamp = [&](const auto& m) { return stampOf(m) == cloud.header.stamp; };
      reply.pose = poses.take(same_stamp, kAnswerTimeout);
      reply.markers = markers.take(same_stamp, kAnswerTimeout);
    }
    return reply;
  }

  void setTrashType(int type) {
    std_msgs::Int32 message;
    message.data = type;
    trash_type_pub_.publish(message);
  }

  bool running() { return child_ && child_->running(); }
  int stop() { return child_->stop(kStopGrace); }
  std::string out() const { return slurp(out_); }
  std::string err() const { return slurp(err_); }

  Inbox<std_msgs::Int32> results;
  Inbox<geometry_msgs::PoseStamped> poses;
  Inbox<visualization_msgs::MarkerArray> markers;

private:
  static ros::Time stampOf(const geometry_msgs::PoseStamped& m) { return m.header.stamp; }
  static ros::Time stampOf(const visualization_msgs::MarkerArray& m) {
    return m.markers.empty() ? ros::Time() : m.markers.front().header.stamp;
  }

  std::string ns_, out_, err_;
  std::unique_ptr<processes::Child> child_;
  ros::Publisher cloud_pub_, trash_type_pub_;
  int asked_ = 0;
};

void expectAnswer(const Expected& expected, const NodeUnderTest::Reply& reply,
                  const std::string& base_frame, const std::string& what) {
  ASSERT_TRUE(reply.result) << what << ": no grasp_result";
  ASSERT_EQ(*reply.result, expected.result) << what;
  if (expected.result != 1) return;
  ASSERT_TRUE(reply.pose) << what << ": no grasp_pose";
  ASSERT_TRUE(reply.markers) << what << ": no grasp_markers";
  const auto& pose = reply.pose->pose;
  EXPECT_EQ(reply.pose->header.frame_id, base_frame) << what;
  EXPECT_NEAR(pose.position.x, expected.position[0], kTolerance) << what;
  EXPECT_NEAR(pose.position.y, expected.position[1], kTolerance) << what;
  EXPECT_NEAR(pose.position.z, expected.position[2], kTolerance) << what;
  EXPECT_NEAR(pose.orientation.w, expected.orientation[0], kTolerance) << what;
  EXPECT_NEAR(pose.orientation.x, expected.orientation[1], kTolerance) << what;
  EXPECT_NEAR(pose.orientation.y, expected.orientation[2], kTolerance) << what;
  EXPECT_NEAR(pose.orientation.z, expected.orientation[3], kTolerance) << what;
  EXPECT_EQ(reply.markers->markers.size(), 4u) << what;
  for (const auto& m : reply.markers->markers) EXPECT_EQ(m.header.frame_id, base_frame) << what;
}

class LitterposeNode : public testing::Test {
protected:
  static void SetUpTestSuite() {
    folder_ = new std::string(processes::scratchFolder("litterpose_node_test"));
    ::setenv("ROS_HOME", (*folder_ + "/ros_home").c_str(), 1);
    ::setenv("ROS_LOG_DIR", (*folder_ + "/log").c_str(), 1);
    ::setenv("ROS_IP", "127.0.0.1", 1);
    ::unsetenv("ROS_HOSTNAME");
    ::unsetenv("ROS_NAMESPACE");
    ::setenv("ROSCONSOLE_STDOUT_LINE_BUFFERED", "1", 1);

    // The port may be taken between the probe and the master's bind: then try another.
    for (int attempt = 0; attempt < 3 && !master_; ++attempt) {
      const int port = processes::freePort();
      auto master = std::make_unique<processes::Child>(
          std::vector<std::string>{ROSMASTER_PROGRAM, "--core", "-p", std::to_string(port)},
          *folder_ + "/master.out", *folder_ + "/master.err");
      const auto end = Clock::now() + kStartTimeout;
      while (master->running() && !processes::listening(port) && Clock::now() < end)
        std::this_thread::sleep_for(50ms);
      if (master->running() && processes::listening(port)) {
        master_ = master.release();
        ::setenv("ROS_MASTER_URI", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
      }
    }
    if (!master_) {
      startup_error_ = new std::string("rosmaster did not start:\n" + slurp(*folder_ + "/master.err"));
      return;
    }

    ros::init(ros::M_string(), "litterpose_node_test", ros::init_options::NoSigintHandler);
    nh_ = new ros::NodeHandle;
    spinner_ = new ros::AsyncSpinner(2);
    spinner_->start();

    ros::param::set("/picker/litterpose_node/config", configPath());
    picker_ = new NodeUnderTest("/picker", *folder_);
    picker_->start(*nh_);
    if (auto error = picker_->waitConnected()) startup_error_ = new std::string(*error);
  }

  static void TearDownTestSuite() {
    delete picker_;  // stops the node if a test has not
    if (spinner_) spinner_->stop();
    delete spinner_;
    delete nh_;
    if (ros::isInitialized()) ros::shutdown();
    delete master_;  // stops the master
    if (!testing::UnitTest::GetInstance()->Passed())
      std::fprintf(stderr, "ROS logs kept in %s\n", folder_->c_str());
    else
      std::filesystem::remove_all(*folder_);
    delete folder_;
    delete startup_error_;
  }

  void SetUp() override { ASSERT_EQ(startup_error_, nullptr) << *startup_error_; }

  static std::string* folder_;
  static std::string* startup_error_;
  static processes::Child* master_;
  static ros::NodeHandle* nh_;
  static ros::AsyncSpinner* spinner_;
  static NodeUnderTest* picker_;
};
std::string* LitterposeNode::folder_ = nullptr;
std::string* LitterposeNode::startup_error_ = nullptr;
processes::Child* LitterposeNode::master_ = nullptr;
ros::NodeHandle* LitterposeNode::nh_ = nullptr;
ros::AsyncSpinner* LitterposeNode::spinner_ = nullptr;
NodeUnderTest* LitterposeNode::picker_ = nullptr;

TEST_F(LitterposeNode, AnswersEveryRecordedCloudAsLitterposeEstimate) {
  const std::vector<std::string> files = recordedFiles();
  const auto expected = estimates(files);
  int grasps = 0;
  for (const std::string& file : files) {
    const Expected& e = expected.at(file);
    grasps += e.result == 1;
    expectAnswer(e, picker_->ask(cloudMessage(file, kCameraFrame)), "base_link", file);
  }
  // Both kinds of answer were compared.
  EXPECT_GT(grasps, 0);
  EXPECT_LT(grasps, static_cast<int>(files.size()));
  // No pose or markers for a cloud without a grasp.
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(picker_->poses.size(), 0u);
  EXPECT_EQ(picker_->markers.size(), 0u);
}

TEST_F(LitterposeNode, RefusesMalformedCloudsAndKeepsServing) {
  const std::string file = recordedFiles().front();
  const sensor_msgs::PointCloud2 good = cloudMessage(file, kCameraFrame);

  std::vector<std::pair<std::string, sensor_msgs::PointCloud2>> malformed;
  sensor_msgs::PointCloud2 m = good;
  m.fields.erase(m.fields.begin() + 2);  // z
  malformed.emplace_back("no z field", m);
  m = good;
  m.data.resize(m.data.size() - 5);
  malformed.emplace_back("data shorter than its rows", m);
  m = good;
  m.point_step = 8;  // z lies at offset 8
  m.row_step = m.width * m.point_step;
  m.data.resize(m.row_step);
  malformed.emplace_back("point step shorter than the fields", m);
  m = good;
  m.width = 1u << 16;
  m.height = 1u << 16;
  malformed.emplace_back("four billion points claimed", m);
  m = good;
  m.header.frame_id = "base_link";
  malformed.emplace_back("a cloud in the base frame", m);

  for (const auto& [what, message] : malformed) {
    const auto reply = picker_->ask(message);
    ASSERT_TRUE(reply.result) << what << ": no answer";
    EXPECT_EQ(*reply.result, kTooFewPoints) << what;
  }
  EXPECT_TRUE(picker_->running());
  EXPECT_NE(picker_->err().find("no z field (fields present: x, y)"), std::string::npos)
      << picker_->err();
  expectAnswer(estimates({file}).at(file), picker_->ask(good), "base_link", "after the refusals");
}

TEST_F(LitterposeNode, PublishesTheCameraMountingOnTfStatic) {
  Eigen::Matrix4f extrinsic;
  {
    testing::internal::CaptureStdout();
    extrinsic = GrabPoseEstimate(configPath()).camera_extrinsic_;
    testing::internal::GetCapturedStdout();
  }
  Inbox<tf2_msgs::TFMessage> tf_static;
  tf_static.subscribe(*nh_, "/tf_static");
  const auto names = [](const std::string& child) {
    return [child](const tf2_msgs::TFMessage& m) {
      return std::any_of(m.transforms.begin(), m.transforms.end(),
                         [&](const auto& t) { return t.child_frame_id == child; });
    };
  };
  const auto expectMounting = [&](const tf2_msgs::TFMessage& message, const std::string& child) {
    for (const auto& t : message.transforms) {
      if (t.child_frame_id != child) continue;
      EXPECT_EQ(t.header.frame_id, "base_link");
      const Eigen::Quaterniond q(t.transform.rotation.w, t.transform.rotation.x,
                                 t.transform.rotation.y, t.transform.rotation.z);
      EXPECT_TRUE(q.toRotationMatrix().isApprox(
          extrinsic.block<3, 3>(0, 0).cast<double>(), kTolerance));
      EXPECT_NEAR(t.transform.translation.x, extrinsic(0, 3), kTolerance);
      EXPECT_NEAR(t.transform.translation.y, extrinsic(1, 3), kTolerance);
      EXPECT_NEAR(t.transform.translation.z, extrinsic(2, 3), kTolerance);
    }
  };

  const auto latched = tf_static.take(names(kCameraFrame), kAnswerTimeout);
  ASSERT_TRUE(latched) << "nothing on /tf_static";
  expectMounting(*latched, kCameraFrame);

  // A cloud that names another frame for the camera: rviz gets that frame too.
  const auto reply = picker_->ask(cloudMessage(recordedFiles().front(), "head_camera_optical"));
  ASSERT_TRUE(reply.result);
  const auto renamed = tf_static.take(names("head_camera_optical"), kAnswerTimeout);
  ASSERT_TRUE(renamed) << "the cloud's frame was not published";
  expectMounting(*renamed, "head_camera_optical");
  EXPECT_TRUE(names(kCameraFrame)(*renamed));
}

// A second node in its own namespace: the main entry, another base frame, its estimator
// printing, and trash types from its topic. The first node must not answer its clouds.
TEST_F(LitterposeNode, AnotherNodeFollowsItsParametersAndTrashTypeTopic) {
  ros::param::set("/loud/litterpose_node/config", configPath());
  ros::param::set("/loud/litterpose_node/entry", std::string("main"));
  ros::param::set("/loud/litterpose_node/base_frame", std::string("arm_base"));
  ros::param::set("/loud/litterpose_node/quiet", false);
  NodeUnderTest loud("/loud", *folder_);
  loud.start(*nh_);
  const auto not_connected = loud.waitConnected();
  ASSERT_FALSE(not_connected) << *not_connected;

  const std::vector<std::string> files = recordedFiles();
  const auto type3 = estimates(files, "--entry main --trash-type 3");
  const auto type9 = estimates(files, "--entry main --trash-type 9");
  const auto grasped = std::find_if(files.begin(), files.end(),
                                    [&](const std::string& f) { return type3.at(f).result == 1; });
  ASSERT_NE(grasped, files.end()) << "no recorded cloud is grasped by the main entry";

  expectAnswer(type3.at(*grasped), loud.ask(cloudMessage(*grasped, kCameraFrame)), "arm_base",
               *grasped + ", trash type 3");
  loud.setTrashType(9);
  const auto end = Clock::now() + kAnswerTimeout;
  while (loud.out().find("trash type 9") == std::string::npos && Clock::now() < end)
    std::this_thread::sleep_for(50ms);
  expectAnswer(type9.at(*grasped), loud.ask(cloudMessage(*grasped, kCameraFrame)), "arm_base",
               *grasped + ", trash type 9");

  EXPECT_EQ(loud.stop(), 0) << loud.err();
  EXPECT_EQ(picker_->results.size(), 0u);
  // Quiet or not: the estimator's lines on the node's standard output, the node's own in both.
  EXPECT_NE(loud.out().find("Trash Type:"), std::string::npos);
  EXPECT_NE(loud.out().find("ready: entry main"), std::string::npos);
  EXPECT_EQ(picker_->out().find("CommonGrabPoseFunc"), std::string::npos);
  EXPECT_NE(picker_->out().find("ready: entry common"), std::string::npos);
}

TEST_F(LitterposeNode, EndsWithOneFatalLineOnAnUnusableConfiguration) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> params;
    const char* said;
  };
  const std::string missing = *folder_ + "/no_such_config.yaml";
  const Case cases[] = {
      {"no_config", {}, "~config"},
      {"missing_config", {{"config", missing}}, "no_such_config.yaml"},
      {"not_yaml", {{"config", sourcePath("data/stick_reach_0.42m_-5deg.ply")}}, "stick_reach"},
      {"bad_entry", {{"config", configPath()}, {"entry", "sideways"}}, "~entry"},
  };
  for (const Case& c : cases) {
    for (const auto& [key, value] : c.params)
      ros::param::set(std::string("/") + c.name + "/" + key, value);
    processes::Child node({LITTERPOSE_NODE_PROGRAM, std::string("__name:=") + c.name},
                          *folder_ + "/" + c.name + ".out", *folder_ + "/" + c.name + ".err");
    const auto status = node.wait(kStartTimeout);
    const std::string err = slurp(*folder_ + "/" + c.name + ".err");
    ASSERT_TRUE(status) << c.name << " did not end";
    EXPECT_EQ(*status, 1) << c.name << ":\n" << err;
    EXPECT_EQ(count(err, "[FATAL]"), 1) << c.name << ":\n" << err;
    EXPECT_EQ(count(err, "\n"), 1) << c.name << ":\n" << err;
    EXPECT_NE(err.find(c.said), std::string::npos) << c.name << ":\n" << err;
  }
}

TEST_F(LitterposeNode, StopsCleanlyOnSigint) { EXPECT_EQ(picker_->stop(), 0) << picker_->err(); }

}  // namespace

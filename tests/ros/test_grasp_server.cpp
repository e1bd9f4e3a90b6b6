// The answer to one object's cloud, without a master: each field of GraspResult against a
// fresh estimator, every refusal with its status and cause, the markers that show or clear
// an answer, and refusal lines that stay few.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <litterpose_result.h>
#include <pcl_conversions/pcl_conversions.h>

#include "litterpose_ros/grasp_server.h"
#include "support/bundled_clouds.h"
#include "support/estimator.h"
#include "support/ros_log.h"

namespace {

using litterpose_msgs::GraspResult;
using litterpose_ros::Entry;
using visualization_msgs::Marker;

const litterpose::ConsoleSink kNowhere = litterpose::ConsoleSink::none();

std::unique_ptr<litterpose_ros::GraspServer> server(const char* camera_frame = "camera") {
  auto estimation = std::make_unique<litterpose_ros::Estimation>(
      support::default_config_path(), Entry::CommonGrabPoseFunc, kNowhere);
  litterpose_ros::CloudFrames frames(
      {litterpose_ros::CameraTf::none, "base_link", camera_frame, 0.0},
      estimation->configuredExtrinsic());
  return std::make_unique<litterpose_ros::GraspServer>(std::move(estimation), frames);
}

sensor_msgs::PointCloud2 message(const std::string& ply) {
  sensor_msgs::PointCloud2 m;
  pcl::toROSMsg(*support::readBundledCloud(ply), m);
  return m;
}

std_msgs::Header header(const std::string& frame, ros::Time stamp = ros::Time(1700000000, 5)) {
  std_msgs::Header h;
  h.frame_id = frame;
  h.stamp = stamp;
  return h;
}

bool poseIsZero(const geometry_msgs::Pose& p) {
  return p.position.x == 0 && p.position.y == 0 && p.position.z == 0 && p.orientation.w == 0 &&
         p.orientation.x == 0 && p.orientation.y == 0 && p.orientation.z == 0;
}

// Every recorded cloud, answered in turn by one server, as a fresh estimator answers it.
TEST(GraspServer, AnswersEachRecordedCloudAsAFreshEstimator) {
  auto s = server();
  int grasps = 0;
  for (const std::string& file : support::bundledCloudPaths()) {
    for (const int trash_type : {3, 1}) {
      GrabPoseEstimate fresh(support::default_config_path(), kNowhere);
      fresh.trash_type_ = trash_type;
      auto camera_cloud = support::readBundledCloud(file);
      auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
      fresh.PclTransform(camera_cloud, cloud, fresh.camera_extrinsic_);
      const int code = fresh.CommonGrabPoseFunc(cloud);

      const GraspResult a = s->answer(message(file), header(" /camera"), trash_type);
      const std::string what = file + " type " + std::to_string(trash_type);
      EXPECT_EQ(a.header.frame_id, "base_link") << what;
      EXPECT_EQ(a.header.stamp, ros::Time(1700000000, 5)) << what;
      ASSERT_EQ(a.status, GraspResult::OK) << what << ": " << a.reason;
      ASSERT_EQ(a.code, code) << what;
      EXPECT_EQ(a.meaning, litterpose::describeResult(code, Entry::CommonGrabPoseFunc));
      EXPECT_EQ(a.reason, fresh.reason_text_) << what;
      EXPECT_EQ(a.reason_name, litterpose::reasonName(fresh.reason_)) << what;
      EXPECT_EQ(a.entry, "common");
      EXPECT_EQ(a.trash_type, trash_type);
      EXPECT_EQ(a.main_axis_type, litterpose::classifiesMainAxis(code) ? fresh.main_axis_type_ : 0)
          << what;
      EXPECT_GT(a.elapsed, ros::Duration(0)) << what;
      if (code != litterpose::kGrabFound) {
        EXPECT_TRUE(poseIsZero(a.pose)) << what;
        continue;
      }
      ++grasps;
      const auto& p = fresh.grab_pose_;
      EXPECT_EQ(a.pose.position.x, p.position.x());
      EXPECT_EQ(a.pose.position.z, p.position.z());
      EXPECT_EQ(a.pose.orientation.w, p.orientation.w());
      EXPECT_EQ(a.pose.orientation.y, p.orientation.y());
    }
  }
  EXPECT_GT(grasps, 0);
}

// Every request the node cannot estimate gets its status and cause, a zero code and pose,
// and a DELETEALL for the markers; the next good cloud is answered with markers.
TEST(GraspServer, RefusesWhatItCannotEstimateWithStatusAndCause) {
  const std::string file = support::bundledCloudPaths().front();
  const sensor_msgs::PointCloud2 good = message(file);
  sensor_msgs::PointCloud2 no_z = good;
  no_z.fields.pop_back();
  struct Case {
    const char* what;
    sensor_msgs::PointCloud2 cloud;
    std::string frame;
    std::string entry;
    std::uint8_t status;
    const char* reason_name;
    const char* said;
  };
  const Case cases[] = {
      {"no z field", no_z, "camera", "", GraspResult::CLOUD_UNREADABLE, "unreadable_cloud",
       "no z field"},
      {"base frame", good, "/base_link ", "", GraspResult::CLOUD_UNREADABLE, "base_frame_cloud",
       "base frame 'base_link'"},
      {"another frame", good, "BASE_LINK", "", GraspResult::CLOUD_UNREADABLE, "unknown_frame",
       "'BASE_LINK' is not the camera frame 'camera'"},
      {"unknown entry", good, "camera", "Main\n\xe2\x80\x8b", GraspResult::INVALID_REQUEST,
       "unknown_entry", "no entry named 'Main\?\?\?\?'"},
  };
  auto s = server();
  for (const Case& c : cases) {
    const GraspResult a = s->answer(c.cloud, header(c.frame), 2, c.entry);
    EXPECT_EQ(a.status, c.status) << c.what;
    EXPECT_EQ(a.reason_name, c.reason_name) << c.what;
    EXPECT_NE(a.reason.find(c.said), std::string::npos) << c.what << ": " << a.reason;
    EXPECT_EQ(a.code, 0) << c.what;
    EXPECT_EQ(a.meaning, litterpose_ros::statusMeaning(c.status)) << c.what;
    EXPECT_EQ(a.trash_type, 2) << c.what;
    EXPECT_EQ(a.header.frame_id, "base_link") << c.what;
    EXPECT_TRUE(poseIsZero(a.pose)) << c.what;
    EXPECT_EQ(litterpose_ros::resultCode(a), litterpose::kTooFewPoints) << c.what;
    const auto markers = s->markers(a).markers;
    ASSERT_EQ(markers.size(), 1u) << c.what;
    EXPECT_EQ(markers[0].action, Marker::DELETEALL) << c.what;
  }

  const GraspResult found = s->answer(good, header(""), 3, "common");
  ASSERT_EQ(found.code, litterpose::kGrabFound) << found.reason;
  EXPECT_EQ(litterpose_ros::resultCode(found), litterpose::kGrabFound);
  const auto markers = s->markers(found).markers;
  ASSERT_EQ(markers.size(), 4u);
  for (const Marker& m : markers) EXPECT_EQ(m.action, Marker::ADD);
  EXPECT_EQ(litterpose_ros::toPoseStamped(found).pose, found.pose);

  // An estimate without a grasp clears them too: the main entry has no strategy for type 7.
  const GraspResult none = s->answer(good, header(""), 7, "main");
  ASSERT_EQ(none.status, GraspResult::OK);
  ASSERT_NE(none.code, litterpose::kGrabFound);
  EXPECT_EQ(litterpose_ros::resultCode(none), none.code);
  EXPECT_EQ(s->markers(none).markers.at(0).action, Marker::DELETEALL);
}

// A burst of the same fault logs one warning line; another cause has a line of its own.
TEST(GraspServer, RefusalsOfABurstLogOneLinePerCause) {
  auto s = server();
  sensor_msgs::PointCloud2 empty_layout;
  support::RosLogRecorder log;
  for (int i = 0; i < 50; ++i) s->answer(empty_layout, header("camera"), 3);
  for (int i = 0; i < 50; ++i) s->answer(message(support::bundledCloudPaths().front()),
                                         header("elsewhere"), 3);
  std::vector<std::string> warnings;
  for (const auto& [level, text] : log.lines)
    if (level == ros::console::levels::Warn) warnings.push_back(text);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("[unreadable_cloud]"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("[unknown_frame]"), std::string::npos) << warnings[1];
}

}  // namespace

// One Estimation serving many clouds answers each as a fresh estimator would, whatever
// came before; the estimator's lines go to rosconsole's debug level, in UTF-8, or nowhere;
// unusable input gets a code, not a crash.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <litterpose_configuration.h>
#include <litterpose_result.h>
#include <ros/console.h>

#include "litterpose_ros/estimation.h"
#include "support/bundled_clouds.h"
#include "support/estimator.h"
#include "support/ros_log.h"

namespace {

using litterpose_ros::Entry;
using litterpose_ros::Estimation;

const litterpose::ConsoleSink kNowhere = litterpose::ConsoleSink::none();

// The recorded clouds (camera frame), in file name order.
std::vector<GrabPoseEstimate::CloudPtr> recordedClouds() {
  std::vector<GrabPoseEstimate::CloudPtr> clouds;
  for (const auto& path : support::bundledCloudPaths())
    clouds.push_back(support::readBundledCloud(path));
  return clouds;
}

// What litterpose-estimate does for one file: a new estimator, the cloud brought into the
// base frame, the common entry for trash type 3. The result, and the pose on result 1.
std::pair<int, GrabPoseEstimate::Pose6D> freshAnswer(GrabPoseEstimate::CloudPtr camera_cloud) {
  GrabPoseEstimate e(support::default_config_path(), kNowhere);
  e.trash_type_ = 3;
  auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
  e.PclTransform(camera_cloud, cloud, e.camera_extrinsic_);
  return {e.CommonGrabPoseFunc(cloud), e.grab_pose_};
}

TEST(Estimation, EachRecordedCloudAfterEveryOtherIsAnsweredAsByAFreshEstimator) {
  const auto clouds = recordedClouds();
  ASSERT_GE(clouds.size(), 2u);
  std::vector<std::pair<int, GrabPoseEstimate::Pose6D>> fresh;
  for (const auto& cloud : clouds) fresh.push_back(freshAnswer(cloud));

  Estimation estimation(support::default_config_path(), Entry::CommonGrabPoseFunc, kNowhere);
  for (std::size_t before = 0; before < clouds.size(); ++before) {
    for (std::size_t i = 0; i < clouds.size(); ++i) {
      estimation.estimate(clouds[before], 3);
      const auto outcome = estimation.estimate(clouds[i], 3);
      const std::string what = "cloud " + std::to_string(i) + " after " + std::to_string(before);
      EXPECT_FALSE(outcome.raised) << what << ": " << outcome.error;
      ASSERT_EQ(outcome.result, fresh[i].first) << what;
      if (outcome.result != litterpose::kGrabFound) continue;
      const auto& pose = estimation.estimator().grab_pose_;
      EXPECT_EQ(pose.position, fresh[i].second.position) << what;
      EXPECT_EQ(pose.orientation.coeffs(), fresh[i].second.orientation.coeffs()) << what;
    }
  }
}

// The camera turned 4 degrees about the arm's axis and moved: each recorded cloud, with the
// main entry and trash type 3, is answered as by a fresh estimator whose extrinsic is that
// transform, which both brings the cloud into the base frame and starts the camera ray that
// trash type 3 pushes the grasp point along.
TEST(Estimation, AGivenTransformStandsInForTheConfiguredExtrinsic) {
  Estimation estimation(support::default_config_path(), Entry::CommonGrabPoseFunc, kNowhere);
  Eigen::Matrix4f moved = Eigen::Matrix4f::Identity();
  moved.block<3, 3>(0, 0) = Eigen::AngleAxisf(0.07f, Eigen::Vector3f::UnitZ()).toRotationMatrix();
  moved.block<3, 1>(0, 3) = Eigen::Vector3f(0.01f, -0.02f, 0.0f);
  moved = moved * estimation.configuredExtrinsic();

  int differ = 0;
  for (auto camera_cloud : recordedClouds()) {
    GrabPoseEstimate fresh(support::default_config_path(), kNowhere);
    fresh.camera_extrinsic_ = moved;
    fresh.trash_type_ = 3;
    auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
    fresh.PclTransform(camera_cloud, cloud, fresh.camera_extrinsic_);
    const int expected = fresh.GrabPoseEstimateFunc(cloud);

    const int configured = estimation.estimate(camera_cloud, 3, Entry::GrabPoseEstimateFunc,
                                               estimation.configuredExtrinsic()).result;
    const Eigen::Vector3f configured_position = estimation.estimator().grab_pose_.position;
    const auto outcome = estimation.estimate(camera_cloud, 3, Entry::GrabPoseEstimateFunc, moved);
    ASSERT_EQ(outcome.result, expected);
    EXPECT_EQ(estimation.estimator().camera_extrinsic_, moved);
    if (expected != litterpose::kGrabFound) continue;
    EXPECT_EQ(estimation.estimator().grab_pose_.position, fresh.grab_pose_.position);
    EXPECT_EQ(estimation.estimator().grab_pose_.orientation.coeffs(),
              fresh.grab_pose_.orientation.coeffs());
    differ += configured != expected || configured_position != fresh.grab_pose_.position;
  }
  EXPECT_GT(differ, 0) << "the transform made no difference to any cloud";
  // And the configured extrinsic is back for the estimate that does not give one.
  estimation.estimate(recordedClouds().front(), 3);
  EXPECT_EQ(estimation.estimator().camera_extrinsic_, estimation.configuredExtrinsic());
}

void setEstimatorLogLevel(ros::console::Level level) {
  ros::console::set_logger_level("ros.litterpose.estimator", level);
  ros::console::notifyLoggerLevelsChanged();
}

TEST(Estimation, TheEstimatorsLinesAreDebugLinesWithoutColoursOrNowhereWhenQuiet) {
  litterpose_ros::logInUtf8();
  setEstimatorLogLevel(ros::console::levels::Debug);
  for (const bool quiet : {true, false}) {
    support::RosLogRecorder recorder;
    Estimation(support::default_config_path(), Entry::CommonGrabPoseFunc,
               litterpose_ros::estimatorLog(quiet))
        .estimate(recordedClouds().front(), 3);
    ASSERT_EQ(recorder.lines.empty(), quiet);
    for (const auto& [level, text] : recorder.lines) {
      EXPECT_EQ(level, ros::console::levels::Debug) << text;
      EXPECT_EQ(text, litterpose::stripColours(text));
      EXPECT_FALSE(text.empty());
    }
    if (!quiet) {
      EXPECT_EQ(recorder.lines.front().second, "相机外参齐次变换矩阵：");
    }
  }
  setEstimatorLogLevel(ros::console::levels::Info);
}

TEST(Estimation, CloudsWithoutAFinitePointAreTooFewPoints) {
  Estimation estimation(support::default_config_path(), Entry::CommonGrabPoseFunc, kNowhere);
  auto unmeasured = std::make_shared<GrabPoseEstimate::Cloud>(
      200, 1, pcl::PointXYZ(std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.5f));
  for (const auto& cloud : {unmeasured, GrabPoseEstimate::CloudPtr()}) {
    const auto outcome = estimation.estimate(cloud, 3);
    EXPECT_FALSE(outcome.raised) << outcome.error;
    EXPECT_EQ(outcome.result, litterpose::kTooFewPoints);
  }
}

TEST(Estimation, RefusesAConfigurationWithANonFiniteExtrinsic) {
  const std::string path = support::write_config([](YAML::Node& c) {
    c["camera_extrinsic"]["Rxyz"][0] = std::numeric_limits<double>::quiet_NaN();
  });
  EXPECT_THROW(Estimation(path, Entry::CommonGrabPoseFunc, kNowhere), litterpose::ConfigurationError);
}

}  // namespace

// One Estimation serving many clouds answers each as a fresh estimator would, whatever
// came before; the estimator's lines go to rosconsole's debug level, in UTF-8, or nowhere;
// unusable input gets a code, not a crash.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include <litterpose_configuration.h>
#include <litterpose_result.h>
#include <ros/console.h>

#include "litterpose_ros/estimation.h"
#include "support/bundled_clouds.h"
#include "support/estimator.h"

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

// What rosconsole logs while one lives.
struct Recorder : ros::console::LogAppender {
  Recorder() { ros::console::register_appender(this); }
  ~Recorder() override { ros::console::deregister_appender(this); }
  void log(ros::console::Level level, const char* text, const char*, const char*, int) override {
    lines.push_back({level, text});
  }
  std::vector<std::pair<ros::console::Level, std::string>> lines;
};

void setEstimatorLogLevel(ros::console::Level level) {
  ros::console::set_logger_level("ros.litterpose.estimator", level);
  ros::console::notifyLoggerLevelsChanged();
}

TEST(Estimation, TheEstimatorsLinesAreDebugLinesWithoutColoursOrNowhereWhenQuiet) {
  litterpose_ros::logInUtf8();
  setEstimatorLogLevel(ros::console::levels::Debug);
  for (const bool quiet : {true, false}) {
    Recorder recorder;
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

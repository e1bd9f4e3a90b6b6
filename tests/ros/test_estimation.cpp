// One Estimation serving many clouds answers each as a fresh estimator would, whatever
// came before; quiet silences the estimator; unusable input gets a code, not a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <litterpose_configuration.h>
#include <litterpose_result.h>
#include <pcl/io/ply_io.h>

#include "litterpose_ros/estimation.h"
#include "support/estimator.h"

namespace {

using litterpose_ros::Entry;
using litterpose_ros::Estimation;

// The recorded clouds (camera frame), in file name order.
std::vector<GrabPoseEstimate::CloudPtr> recordedClouds() {
  std::vector<std::filesystem::path> files;
  for (const auto& f : std::filesystem::directory_iterator(std::string(LITTERPOSE_SOURCE_DIR) + "/data"))
    if (f.path().extension() == ".ply") files.push_back(f.path());
  std::sort(files.begin(), files.end());
  std::vector<GrabPoseEstimate::CloudPtr> clouds;
  for (const auto& file : files) {
    clouds.push_back(std::make_shared<GrabPoseEstimate::Cloud>());
    if (pcl::PLYReader().read(file.string(), *clouds.back()) < 0)
      throw std::runtime_error("cannot read " + file.string());
  }
  return clouds;
}

// What litterpose-estimate does for one file: a new estimator, the cloud brought into the
// base frame, the common entry for trash type 3. The result, and the pose on result 1.
std::pair<int, GrabPoseEstimate::Pose6D> freshAnswer(GrabPoseEstimate::CloudPtr camera_cloud) {
  std::pair<int, GrabPoseEstimate::Pose6D> answer;
  support::printed_by([&] {
    GrabPoseEstimate e(support::default_config_path());
    e.trash_type_ = 3;
    auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
    e.PclTransform(camera_cloud, cloud, e.camera_extrinsic_);
    answer = {e.CommonGrabPoseFunc(cloud), e.grab_pose_};
  });
  return answer;
}

TEST(Estimation, EachRecordedCloudAfterEveryOtherIsAnsweredAsByAFreshEstimator) {
  const auto clouds = recordedClouds();
  ASSERT_GE(clouds.size(), 2u);
  std::vector<std::pair<int, GrabPoseEstimate::Pose6D>> fresh;
  for (const auto& cloud : clouds) fresh.push_back(freshAnswer(cloud));

  Estimation estimation(support::default_config_path(), Entry::CommonGrabPoseFunc, true);
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

TEST(Estimation, QuietSendsTheEstimatorsLinesNowhere) {
  const auto cloud = recordedClouds().front();
  for (const bool quiet : {true, false}) {
    const std::string printed = support::printed_by([&] {
      Estimation estimation(support::default_config_path(), Entry::CommonGrabPoseFunc, quiet);
      estimation.estimate(cloud, 3);
    });
    EXPECT_EQ(printed.empty(), quiet) << printed;
  }
}

TEST(Estimation, CloudsWithoutAFinitePointAreTooFewPoints) {
  Estimation estimation(support::default_config_path(), Entry::CommonGrabPoseFunc, true);
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
  EXPECT_THROW(Estimation(path, Entry::CommonGrabPoseFunc, true), litterpose::ConfigurationError);
}

}  // namespace

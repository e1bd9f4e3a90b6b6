// One Estimation serving many clouds answers each as a fresh estimator would, whatever
// came before; quiet silences the estimator; unusable input gets a code, not a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <litterpose_result.h>
#include <pcl/io/ply_io.h>

#include "litterpose_ros/estimation.h"
#include "support/estimator.h"

namespace {

using litterpose_ros::Entry;
using litterpose_ros::Estimation;

struct Recorded {
  std::string name;
  GrabPoseEstimate::CloudPtr camera_cloud;
};

std::vector<Recorded> recordedClouds() {
  std::vector<Recorded> found;
  for (const auto& file : std::filesystem::directory_iterator(std::string(LITTERPOSE_SOURCE_DIR) + "/data")) {
    if (file.path().extension() != ".ply") continue;
    auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
    if (pcl::PLYReader().read(file.path().string(), *cloud) < 0)
      throw std::runtime_error("cannot read " + file.path().string());
    found.push_back({file.path().filename().string(), cloud});
  }
  std::sort(found.begin(), found.end(),
            [](const Recorded& a, const Recorded& b) { return a.name < b.name; });
  return found;
}

struct Answer {
  int result;
  GrabPoseEstimate::Pose6D pose;
};

// What litterpose-estimate does for one file: a new estimator, the cloud brought into the
// base frame, one entry for trash type 3.
Answer freshAnswer(const GrabPoseEstimate::CloudPtr& camera_cloud, Entry entry) {
  Answer answer{};
  support::printed_by([&] {
    GrabPoseEstimate e(support::default_config_path());
    e.trash_type_ = 3;
    GrabPoseEstimate::CloudPtr input = camera_cloud;
    auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
    e.PclTransform(input, cloud, e.camera_extrinsic_);
    answer.result = entry == Entry::main      ? e.GrabPoseEstimateFunc(cloud)
                    : entry == Entry::initial ? e.GetInitialGrabPose(cloud)
                                              : e.CommonGrabPoseFunc(cloud);
    answer.pose = e.grab_pose_;
  });
  return answer;
}

void expectSameAnswer(const Answer& expected, const litterpose_ros::EstimateOutcome& outcome,
                      const GrabPoseEstimate& e, const std::string& what) {
  EXPECT_FALSE(outcome.raised) << what << ": " << outcome.error;
  ASSERT_EQ(outcome.result, expected.result) << what;
  if (outcome.result != litterpose::kGrabFound) return;
  EXPECT_EQ(e.grab_pose_.position, expected.pose.position) << what;
  EXPECT_EQ(e.grab_pose_.orientation.coeffs(), expected.pose.orientation.coeffs()) << what;
}

class RecordedClouds : public testing::Test {
protected:
  static void SetUpTestSuite() { clouds_ = new std::vector<Recorded>(recordedClouds()); }
  static void TearDownTestSuite() { delete clouds_; }
  static std::vector<Recorded>* clouds_;
};
std::vector<Recorded>* RecordedClouds::clouds_ = nullptr;

TEST_F(RecordedClouds, EachCloudAfterEveryOtherIsAnsweredAsByAFreshEstimator) {
  ASSERT_GE(clouds_->size(), 2u);
  std::vector<Answer> fresh;
  for (const Recorded& r : *clouds_) fresh.push_back(freshAnswer(r.camera_cloud, Entry::common));

  Estimation estimation(support::default_config_path(), Entry::common, true);
  for (const Recorded& before : *clouds_) {
    for (std::size_t i = 0; i < clouds_->size(); ++i) {
      estimation.estimate(before.camera_cloud, 3);
      const auto outcome = estimation.estimate((*clouds_)[i].camera_cloud, 3);
      expectSameAnswer(fresh[i], outcome, estimation.estimator(),
                       (*clouds_)[i].name + " after " + before.name);
    }
  }
}

TEST_F(RecordedClouds, TheMainAndInitialEntriesInSequence) {
  for (const Entry entry : {Entry::main, Entry::initial}) {
    Estimation estimation(support::default_config_path(), entry, true);
    std::vector<std::size_t> order(clouds_->size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    for (int pass = 0; pass < 2; ++pass) {
      for (const std::size_t i : order) {
        const auto outcome = estimation.estimate((*clouds_)[i].camera_cloud, 3);
        expectSameAnswer(freshAnswer((*clouds_)[i].camera_cloud, entry), outcome,
                         estimation.estimator(), (*clouds_)[i].name);
      }
      std::reverse(order.begin(), order.end());
    }
  }
}

TEST_F(RecordedClouds, QuietSendsTheEstimatorsLinesNowhere) {
  const auto& cloud = clouds_->front().camera_cloud;
  const std::string quiet = support::printed_by([&] {
    Estimation estimation(support::default_config_path(), Entry::common, true);
    estimation.estimate(cloud, 3);
  });
  EXPECT_EQ(quiet, "");
  const std::string loud = support::printed_by([&] {
    Estimation estimation(support::default_config_path(), Entry::common, false);
    estimation.estimate(cloud, 3);
  });
  EXPECT_NE(loud.find("CommonGrabPoseFunc"), std::string::npos);
}

TEST(Estimation, CloudsWithoutAFinitePointAreTooFewPoints) {
  Estimation estimation(support::default_config_path(), Entry::common, true);
  auto unmeasured = std::make_shared<GrabPoseEstimate::Cloud>(
      200, 1, pcl::PointXYZ(std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.5f));
  for (const auto& cloud : {unmeasured, std::make_shared<GrabPoseEstimate::Cloud>(),
                            GrabPoseEstimate::CloudPtr()}) {
    const auto outcome = estimation.estimate(cloud, 3);
    EXPECT_FALSE(outcome.raised) << outcome.error;
    EXPECT_EQ(outcome.result, litterpose::kTooFewPoints);
  }
}

TEST(Estimation, RefusesAConfigurationWithANonFiniteExtrinsic) {
  const std::string path = support::write_config([](YAML::Node& c) {
    c["camera_extrinsic"]["Rxyz"][0] = std::numeric_limits<double>::quiet_NaN();
  });
  EXPECT_THROW(Estimation(path, Entry::common, true), std::invalid_argument);
}

}  // namespace

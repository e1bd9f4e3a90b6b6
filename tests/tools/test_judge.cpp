// The judge of litterpose-eval: the codes a scene should give, from the configuration's
// windows, the arm's reach and the object's own points; its rules against the estimator's
// own tests; the success criterion of one estimate.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "evaluation.h"
#include "support/estimator.h"

namespace {

using capture_sim::Expected;
using capture_sim::Litter;
using litterpose::Entry;
using litterpose_eval::Criteria;

constexpr double kDegree = M_PI / 180.0;

class Judging : public testing::Test {
protected:
  void SetUp() override {
    e_ = support::make_estimator();
    testing::internal::CaptureStdout();
  }
  void TearDown() override { testing::internal::GetCapturedStdout(); }
  capture_sim::GroundTruth place(Litter kind, double distance, double bearing) {
    return capture_sim::groundTruth(kind, capture_sim::standardDimensions(kind),
                                    {distance, bearing, 30.0}, -e_->base_height_);
  }
  // The judge of a configuration, asked about an object of that many points.
  auto judge(const std::string& config = support::default_config_path()) {
    return [j = litterpose_eval::makeJudge(litterpose_eval::readWindows(config),
                                           litterpose_eval::armOf(*e_))](
               const capture_sim::GroundTruth& t, int points) {
      return j(t, [points] { return points; });
    };
  }
  std::unique_ptr<GrabPoseEstimate> e_;
};

struct Case {
  const char* what;
  Litter kind;
  double distance, bearing;
  int points;
  std::optional<Expected> expected;  // GrabPoseEstimateFunc, CommonGrabPoseFunc, GetInitialGrabPose
};

TEST_F(Judging, TheWindowsTheReachAndThePointsOfTheConfiguration) {
  const Case cases[] = {
      {"within reach from above", Litter::kStick, 0.33, 0.0, 2000, Expected{1, 1, 1}},
      {"beyond the straight-down reach, within a 20-degree tilt", Litter::kStick, 0.50, 0.0, 2000,
       Expected{1, 1, 1}},
      {"beyond the vertical window", Litter::kStick, 0.72, 0.0, 2000, Expected{302, 101, 1}},
      {"beyond the workspace too", Litter::kStick, 0.95, 0.0, 2000, Expected{302, 41, 41}},
      {"standing, short of the side window", Litter::kCanStanding, 0.3, 0.0, 2000,
       Expected{311, 311, 1}},
      {"standing, within it", Litter::kCanStanding, 0.6, 0.0, 2000, Expected{1, 1, 1}},
      {"beyond the bearing window", Litter::kCartonBox, 0.35, 75.0, 2000,
       Expected{304, 41, 41}},
      {"on the edge of the near bound", Litter::kCartonBox, 0.2, 0.0, 2000, std::nullopt},
      {"a round object", Litter::kTunaCan, 0.4, -20.0, 2000, Expected{1, 1, 1}},
      {"too few points for the common entries", Litter::kCigaretteButt, 0.35, 0.0, 40,
       Expected{1, 11, 11}},
      {"too few for every entry, the place no matter", Litter::kCigaretteButt, 0.95, 0.0, 5,
       Expected{11, 11, 11}},
      {"too near the common entries' minimum to say", Litter::kBottleCap, 0.35, 0.0, 120,
       std::nullopt},
      {"too near the main entry's minimum to say", Litter::kBottleCap, 0.35, 0.0, 12,
       std::nullopt},
  };
  const auto j = judge();
  for (const Case& c : cases)
    EXPECT_EQ(j(place(c.kind, c.distance, c.bearing), c.points), c.expected) << c.what;
}

TEST_F(Judging, ReadsItsWindowsFromTheFile) {
  // A vertical window reaching past the arm: within it, no grasp is reachable.
  const auto wide = judge(support::write_config([](YAML::Node& c) {
    c["grab_pose_estimate"]["grab_vertical_distance_max"] = 0.9;
  }));
  EXPECT_EQ(wide(place(Litter::kStick, 0.72, 0.0), 2000), (Expected{1111, 1111, 1}));
  // Without preparation GrabPoseEstimateFunc counts no points.
  const auto unprepared = judge(support::write_config([](YAML::Node& c) {
    c["debug_choice"]["enable_process_cloud"] = false;
  }));
  EXPECT_EQ(unprepared(place(Litter::kCigaretteButt, 0.35, 0.0), 5), (Expected{1, 11, 11}));
}

// The judge's own workspace and grab-space rules give the estimator's answers, on points
// clear of the bounds (the estimator computes in single precision).
TEST_F(Judging, ItsRulesAnswerAsTheEstimatorsTests) {
  const auto w = litterpose_eval::readWindows(support::default_config_path());
  int inside = 0, outside = 0;
  for (double d = 0.013; d < 1.1; d += 0.05) {
    for (double bearing = -87.3; bearing < 90.0; bearing += 9.0) {
      for (double z : {-0.176, -0.12, -0.03, 0.1, 0.3}) {
        const Eigen::Vector3d p(-d * std::cos(bearing * kDegree), d * std::sin(bearing * kDegree),
                                z);
        const Eigen::Vector3f q = p.cast<float>();
        const bool workspace = litterpose_eval::inWorkspace(w, p);
        EXPECT_EQ(workspace, e_->IsInWorkspace(q)) << p.transpose();
        EXPECT_EQ(litterpose_eval::inGrabSpace(w, true, p), e_->isInGrabSpace(HORIZONTAL, q))
            << p.transpose();
        EXPECT_EQ(litterpose_eval::inGrabSpace(w, false, p), e_->isInGrabSpace(VERTICAL, q))
            << p.transpose();
        (workspace ? inside : outside) += 1;
      }
    }
  }
  EXPECT_GT(inside, 100);
  EXPECT_GT(outside, 100);
}

// Wherever the estimator's first candidate from above (straight down, gripper along the long
// axis) is reachable, so is some grasp the judge samples; where nothing within 20 degrees
// of straight down is, neither is that candidate.
TEST_F(Judging, ItsReachCoversTheEstimatorsStraightDownCandidate) {
  const litterpose_eval::Reach reach(litterpose_eval::armOf(*e_));
  const Criteria k;
  int reached = 0, unreached = 0;
  for (double d = 0.1; d < 0.8; d += 0.03) {
    for (double bearing : {-50.0, -10.0, 25.0}) {
      const auto t = place(Litter::kStick, d, bearing);
      const Eigen::Vector3d p(t.centre.x(), t.centre.y(), -e_->base_height_ + 0.01);
      const double yaw = std::atan2(-t.long_axis.y(), std::abs(t.long_axis.x()));
      const GrabPoseEstimate::Pose6D down{
          p.cast<float>(), Eigen::Quaterniond(0, 0, 1, 0) *
                               Eigen::Quaterniond(Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitZ()))};
      const bool judged = litterpose_eval::graspReachable(reach, t, p, k);
      if (e_->isIKSolved(down)) {
        EXPECT_TRUE(judged) << d << " m, " << bearing << " deg";
      }
      (judged ? reached : unreached) += 1;
    }
  }
  EXPECT_GT(reached, 10);
  EXPECT_GT(unreached, 10);
}

TEST_F(Judging, AGraspSucceedsWithinEveryCriterion) {
  capture_sim::Scene scene;
  scene.truth = place(Litter::kBottleLying, 0.35, 10.0);  // long axis at 30 deg
  scene.expected = {1, 1, 1};
  const Criteria k;
  const auto pose = [&](double dx, double yaw_deg, double tilt_deg) {
    // Tool down, tool x along the long axis, tilted about the tool x axis.
    e_->grab_pose_.position = (scene.truth.centre + Eigen::Vector3d(dx, 0, 0)).cast<float>();
    e_->grab_pose_.orientation =
        Eigen::Quaterniond(0, 0, 1, 0) *
        Eigen::Quaterniond(Eigen::AngleAxisd(-yaw_deg * kDegree, Eigen::Vector3d::UnitZ())) *
        Eigen::Quaterniond(Eigen::AngleAxisd(tilt_deg * kDegree, Eigen::Vector3d::UnitX()));
    return litterpose_eval::score(scene, Entry::CommonGrabPoseFunc, 1, *e_, 0.0, k);
  };
  const auto ideal = pose(0.0, 30.0, 0.0);
  EXPECT_TRUE(ideal.success);
  EXPECT_NEAR(ideal.axis_error, 0.0, 1e-6);
  EXPECT_NEAR(ideal.approach_error, 0.0, 1e-6);
  EXPECT_TRUE(pose(0.029, 44.0, 19.0).success);
  EXPECT_FALSE(pose(0.031, 30.0, 0.0).success);
  EXPECT_FALSE(pose(0.0, 46.0, 0.0).success);
  EXPECT_FALSE(pose(0.0, 30.0, 21.0).success);
  EXPECT_TRUE(pose(0.0, 210.0, 0.0).success);  // the gripper is symmetric
  const auto refused = litterpose_eval::score(scene, Entry::CommonGrabPoseFunc, 101, *e_, 0.0, k);
  EXPECT_FALSE(refused.in_family);
  EXPECT_FALSE(refused.success);

  // A round object has no long axis to close across: any turn of the gripper will do.
  scene.truth = place(Litter::kBottleCap, 0.35, 10.0);
  const auto round = pose(0.0, 77.0, 10.0);
  EXPECT_TRUE(round.success);
  EXPECT_TRUE(std::isnan(round.axis_error));

  scene.expected = {302, 101, 1};
  EXPECT_TRUE(
      litterpose_eval::score(scene, Entry::GrabPoseEstimateFunc, 304, *e_, 0.0, k).in_family);
  EXPECT_TRUE(litterpose_eval::score(scene, Entry::CommonGrabPoseFunc, 101, *e_, 0.0, k).in_family);
}

}  // namespace

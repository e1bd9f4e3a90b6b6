// litterpose-eval as a user runs it: a small seeded set, its table, JSON, chart and
// details; the judging and scoring of scenes; configurations it must refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "evaluation.h"
#include "support/estimator.h"
#include "support/run_program.h"

namespace {

using litterpose::Entry;
using litterpose_eval::Criteria;
using run_program::quote;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

run_program::Outcome evaluate(const std::string& config, const std::string& arguments) {
  return run_program::run(run_program::program(LITTERPOSE_EVAL_PROGRAM) + " --config " +
                          quote(config) + " " + arguments);
}

// The table without its last column (the timings).
std::string withoutTimings(const std::string& out) {
  std::istringstream lines(out);
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] == '|') line = line.substr(0, line.rfind('|', line.size() - 2));
    kept += line + "\n";
  }
  return kept;
}

TEST(LitterposeEval, SmallSeededRunWritesTableJsonChartAndDetails) {
  const std::string json = run_program::scratchPath("eval.json");
  const std::string png = run_program::scratchPath("eval.png");
  const std::string details = run_program::scratchPath("details.jsonl");
  const auto r = evaluate(support::default_config_path(),
                          "--scenes 14 --seed 5 --json " + quote(json) + " --chart " + quote(png) +
                              " --details " + quote(details));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "realistic captures (default / robust preparation)"));
  EXPECT_TRUE(contains(r.out, "clean captures (default / robust preparation)"));
  EXPECT_TRUE(contains(r.out, "| stick | CommonGrabPoseFunc | 2 |")) << r.out;

  const std::string table = run_program::scratchPath("table.txt");
  std::ofstream(table) << r.out;
  const auto check = run_program::run(quote(PYTHON_PROGRAM) + " " + quote(EVAL_REPORT_CHECKER) +
                                      " " + quote(json) + " " + quote(table) + " 14");
  EXPECT_EQ(check.status, 0) << check.err << check.out;

  const std::string image = run_program::slurp(png);
  ASSERT_GT(image.size(), 8u);
  EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  // One line per scene, entry and preparation, for both profiles.
  std::istringstream lines(run_program::slurp(details));
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += line.rfind("{\"artefacts\":", 0) == 0;
  EXPECT_EQ(count, 2 * 14 * 3 * 2);

  // The same seed gives the same figures.
  const auto again = evaluate(support::default_config_path(), "--scenes 14 --seed 5");
  ASSERT_EQ(again.status, 0);
  EXPECT_EQ(withoutTimings(again.out), withoutTimings(r.out));
}

TEST(LitterposeEval, RefusesWhatItCannotDo) {
  const std::string nan_extrinsic = support::write_config(
      [](YAML::Node& c) { c["camera_extrinsic"]["Rxyz"][0] = ".nan"; });
  const std::string no_focal = support::write_config(
      [](YAML::Node& c) { c["camera_intrinsic"]["fx"] = 0.0; });
  for (const auto& [config, reason] :
       {std::pair{nan_extrinsic, std::string("camera_extrinsic.Rxyz[0] = .nan: not finite")},
        std::pair{no_focal, std::string("camera_intrinsic.fx = 0: not above 0")}}) {
    const auto r = evaluate(config, "--scenes 7");
    EXPECT_EQ(r.status, 2) << config;
    EXPECT_TRUE(contains(r.err, config)) << r.err;
    EXPECT_TRUE(contains(r.err, reason)) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  for (const std::string args : {"--scenes none", "--artefacts noisy", "--image 640", "--bogus"})
    EXPECT_EQ(evaluate(support::default_config_path(), args).status, 2) << args;
  const auto chart = evaluate(support::default_config_path(),
                              "--scenes 7 --artefacts clean --chart " +
                                  quote(testing::TempDir() + "no_dir/chart.png"));
  EXPECT_EQ(chart.status, 1);
  EXPECT_TRUE(contains(chart.err, "cannot draw the chart")) << chart.err;
}

class Judging : public testing::Test {
protected:
  void SetUp() override { e_ = support::make_estimator(); }
  capture_sim::GroundTruth place(capture_sim::Litter kind, double distance, double bearing) {
    return capture_sim::groundTruth(kind, capture_sim::standardDimensions(kind),
                                    {distance, bearing, 30.0}, -e_->base_height_);
  }
  std::unique_ptr<GrabPoseEstimate> e_;
};

// Codes per entry: GrabPoseEstimateFunc, CommonGrabPoseFunc, GetInitialGrabPose.
TEST_F(Judging, TheWindowsAndTheReachOfTheConfiguration) {
  const auto judge = litterpose_eval::makeJudge(*e_);
  using capture_sim::Litter;
  // Within reach from above.
  EXPECT_EQ(judge(place(Litter::kStick, 0.33, 0.0)), (capture_sim::Expected{1, 1, 1}));
  // Within the windows but beyond the straight-down reach; slanted by 20 degrees it is not.
  EXPECT_EQ(judge(place(Litter::kStick, 0.52, 0.0)), (capture_sim::Expected{1111, 1, 1}));
  // Beyond the vertical window and the workspace.
  EXPECT_EQ(judge(place(Litter::kStick, 0.95, 0.0)), (capture_sim::Expected{302, 41, 41}));
  // A standing can short of the window of side grasps.
  EXPECT_EQ(judge(place(Litter::kCanStanding, 0.3, 0.0)), (capture_sim::Expected{311, 311, 1}));
  // Beyond the bearing window.
  EXPECT_EQ(judge(place(Litter::kCartonBox, 0.35, 75.0)), (capture_sim::Expected{304, 41, 41}));
  // On the edge of the near bound: too near to say.
  EXPECT_FALSE(judge(place(Litter::kCartonBox, 0.2, 0.0)));
}

TEST_F(Judging, AGraspSucceedsWithinEveryCriterion) {
  capture_sim::Scene scene;
  scene.truth = place(capture_sim::Litter::kBottleLying, 0.35, 10.0);  // long axis at 30 deg
  scene.expected = {1, 1, 1};
  const Criteria k;
  const auto pose = [&](double dx, double yaw_deg, double tilt_deg) {
    // Tool down, tool x along the long axis, tilted about the tool x axis.
    e_->grab_pose_.position = (scene.truth.centre + Eigen::Vector3d(dx, 0, 0)).cast<float>();
    e_->grab_pose_.orientation =
        Eigen::Quaterniond(0, 0, 1, 0) *
        Eigen::Quaterniond(Eigen::AngleAxisd(-yaw_deg * M_PI / 180, Eigen::Vector3d::UnitZ())) *
        Eigen::Quaterniond(Eigen::AngleAxisd(tilt_deg * M_PI / 180, Eigen::Vector3d::UnitX()));
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
  scene.expected = {302, 101, 1};
  EXPECT_TRUE(
      litterpose_eval::score(scene, Entry::GrabPoseEstimateFunc, 304, *e_, 0.0, k).in_family);
  EXPECT_TRUE(litterpose_eval::score(scene, Entry::CommonGrabPoseFunc, 101, *e_, 0.0, k).in_family);
}

TEST(GoalTests, ExactBinomialTail) {
  EXPECT_NEAR(litterpose_eval::binomialAtMost(14, 15, 0.97), 1.0 - std::pow(0.97, 15), 1e-12);
  EXPECT_NEAR(litterpose_eval::binomialAtMost(2, 4, 0.5), 11.0 / 16.0, 1e-12);
  EXPECT_EQ(litterpose_eval::binomialAtMost(15, 15, 0.97), 1.0);
  // One miss in fifteen is no evidence against 97 %; four are.
  EXPECT_GT(litterpose_eval::binomialAtMost(14, 15, 0.97), 0.05);
  EXPECT_LT(litterpose_eval::binomialAtMost(11, 15, 0.97), 0.05);
}

}  // namespace

// litterpose-eval as a user runs it: a small seeded set, its table, JSON, chart and
// details; a run compared with a recorded report; configurations it must refuse; the
// judging of scenes, against the estimator's own tests, and the scoring of estimates.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "evaluation.h"
#include "support/estimator.h"
#include "support/run_program.h"

namespace {

using capture_sim::Expected;
using capture_sim::Litter;
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

// The tables without their last column and the run times.
std::string withoutTimings(const std::string& out) {
  std::istringstream lines(out);
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (line.rfind("Run time", 0) == 0) continue;
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
  for (const char* profile : {"realistic", "clean", "field"}) {
    EXPECT_TRUE(contains(r.out, std::string(profile) + " captures (default / robust preparation)"));
    EXPECT_TRUE(contains(r.out, std::string(profile) + " captures, robust preparation: the "
                                                       "gripper model off / on"));
  }
  EXPECT_TRUE(contains(r.out, "| stick | CommonGrabPoseFunc | 2 |")) << r.out;
  EXPECT_TRUE(contains(r.out, "| cigarette butt | CommonGrabPoseFunc | 1 |")) << r.out;

  const std::string table = run_program::scratchPath("table.txt");
  std::ofstream(table) << r.out;
  const auto check = run_program::run(quote(PYTHON_PROGRAM) + " " + quote(EVAL_REPORT_CHECKER) +
                                      " " + quote(json) + " " + quote(table) + " 14");
  EXPECT_EQ(check.status, 0) << check.err << check.out;

  const std::string image = run_program::slurp(png);
  ASSERT_GT(image.size(), 8u);
  EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  // One line per scene, entry and preparation (the gripper model's run one of them), for the
  // three profiles.
  std::istringstream lines(run_program::slurp(details));
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += line.rfind("{\"artefacts\":", 0) == 0;
  EXPECT_EQ(count, 3 * 14 * 3 * 3);

  // The same seed gives the same figures.
  const auto again = evaluate(support::default_config_path(), "--scenes 14 --seed 5");
  ASSERT_EQ(again.status, 0);
  EXPECT_EQ(withoutTimings(again.out), withoutTimings(r.out));
}

// A report whose scene 1 holds another result for its first estimate.
std::string withAnotherResult(std::string report) {
  const std::size_t scene = report.find("{\"scene\":1,");
  const std::size_t estimate = report.find("\"default\":[[", scene) + 12;
  return report.replace(estimate, report.find(',', estimate) - estimate, "999");
}

// A report whose scene 1 (a standing can, grasped) has its first grasp with the robust
// preparation `mm` farther from the centre.
std::string withMovedCentre(std::string report, double mm) {
  const std::size_t robust = report.find("\"robust\":[", report.find("{\"scene\":1,"));
  const std::size_t at = report.find(",true,", robust) + 6;
  const std::size_t end = report.find(']', at);
  return report.replace(at, end - at, std::to_string(std::stod(report.substr(at, end - at)) + mm));
}

// A report without scene 1's outcomes (one line of them), listed among the scenes left out
// where `said`.
std::string withSceneOneLeftOut(std::string report, bool said) {
  const std::size_t scene = report.find("{\"scene\":1,");
  report.erase(scene, report.find('\n', scene) + 1 - scene);
  if (said) report.replace(report.find("\"scenes_left_out\":[]"), 20, "\"scenes_left_out\":[1]");
  return report;
}

TEST(LitterposeEval, ComparesARunWithARecordedReport) {
  const std::string record = run_program::scratchPath("record.json");
  const auto made = evaluate(support::default_config_path(),
                             "--scenes 4 --artefacts field --json " + quote(record));
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string changed = run_program::scratchPath("changed.json");
  std::ofstream(changed) << withAnotherResult(run_program::slurp(record));
  const std::string near = run_program::scratchPath("near.json");
  std::ofstream(near) << withMovedCentre(withAnotherResult(run_program::slurp(record)), 0.5);
  const std::string far = run_program::scratchPath("far.json");
  std::ofstream(far) << withMovedCentre(withAnotherResult(run_program::slurp(record)), 2.0);
  const std::string left_out = run_program::scratchPath("left_out.json");
  std::ofstream(left_out) << withSceneOneLeftOut(run_program::slurp(record), true);
  const std::string lost = run_program::scratchPath("lost.json");
  std::ofstream(lost) << withSceneOneLeftOut(run_program::slurp(record), false);

  struct Case {
    const char* what;
    std::string arguments;
    int status;
    const char* says;  // on standard output or error
  };
  const Case cases[] = {
      {"the whole record", "--scenes 4 --compare " + quote(record), 0, "0 differ; 0 figures"},
      {"its first scenes", "--scenes 2 --compare " + quote(record), 0, "the first 2 scenes"},
      {"a changed outcome", "--scenes 2 --compare " + quote(changed), 1,
       "field, scene 1, GrabPoseEstimateFunc, default preparation: [999,"},
      {"a changed outcome, tolerated", "--scenes 2 --compare " + quote(changed) + " --tolerate 1",
       0, "1 differ (0 by a centre within 1 mm; 1 more tolerated): the same."},
      // A cross build: a centre moved by a fraction of a millimetre is not counted against
      // the tolerated estimates; one moved farther is, and none passes without tolerance.
      {"and a centre moved 0.5 mm", "--scenes 2 --compare " + quote(near), 1, "2 differ: NOT"},
      {"and a centre moved 0.5 mm, cross build",
       "--scenes 2 --compare " + quote(near) + " --tolerate 1", 0,
       "2 differ (1 by a centre within 1 mm; 1 more tolerated): the same."},
      {"and a centre moved 2 mm, cross build",
       "--scenes 2 --compare " + quote(far) + " --tolerate 1", 1,
       "2 differ (0 by a centre within 1 mm; 1 more tolerated): NOT the same."},
      // Scenes are paired by number: one that the record left out is one difference.
      {"a scene left out when recorded", "--scenes 4 --compare " + quote(left_out), 1,
       "field, scene 1: left out when recorded, placed now"},
      {"its scenes before it", "--scenes 1 --compare " + quote(left_out), 0, "0 differ"},
      {"a scene's outcomes lost", "--scenes 2 --compare " + quote(lost), 2,
       "lacks the outcomes of its scenes"},
      {"more scenes than recorded", "--scenes 5 --compare " + quote(record), 2,
       "holds 4 scenes per profile"},
      {"another seed", "--scenes 2 --seed 9 --compare " + quote(record), 2, "another seed"},
      {"another depth camera", "--scenes 2 --depth-step 0.003 --compare " + quote(record), 2,
       "another depth camera"},
      {"a profile it lacks", "--scenes 2 --artefacts clean --compare " + quote(record), 2,
       "no clean profile"},
  };
  for (const Case& c : cases) {
    const auto r = evaluate(support::default_config_path(), "--artefacts field " + c.arguments);
    EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.err;
    EXPECT_TRUE(contains(r.out + r.err, c.says)) << c.what << "\n" << r.out << r.err;
  }
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
  for (const std::string args : {"--scenes none", "--artefacts noisy", "--image 640", "--bogus",
                                  "--depth-step -0.001", "--depth-step 1mm", "--depth-noise 0"})
    EXPECT_EQ(evaluate(support::default_config_path(), args).status, 2) << args;
  const auto chart = evaluate(support::default_config_path(),
                              "--scenes 7 --artefacts clean --chart " +
                                  quote(testing::TempDir() + "no_dir/chart.png"));
  EXPECT_EQ(chart.status, 1);
  EXPECT_TRUE(contains(chart.err, "cannot draw the chart")) << chart.err;
  EXPECT_TRUE(contains(chart.err, "it cannot be written: No such file or directory")) << chart.err;
  EXPECT_FALSE(contains(chart.err, "Traceback")) << chart.err;
}

class Judging : public testing::Test {
protected:
  void SetUp() override { e_ = support::make_estimator(); }
  capture_sim::GroundTruth place(capture_sim::Litter kind, double distance, double bearing) {
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
      // GrabPoseEstimateFunc grasps a lying object straight down only: is_grab_slanted is off.
      {"beyond the straight-down reach, within a 20-degree tilt", Litter::kStick, 0.50, 0.0, 2000,
       Expected{1111, 1, 1}},
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
      {"too near a minimum to say", Litter::kBottleCap, 0.35, 0.0, 120, std::nullopt},
  };
  const auto j = judge();
  for (const Case& c : cases)
    EXPECT_EQ(j(place(c.kind, c.distance, c.bearing), c.points), c.expected) << c.what;
}

TEST_F(Judging, ReadsItsWindowsFromTheFile) {
  // A vertical window reaching past the arm: within it, no grasp is reachable. Without
  // preparation GrabPoseEstimateFunc counts no points.
  const auto edited = judge(support::write_config([](YAML::Node& c) {
    c["grab_pose_estimate"]["grab_vertical_distance_max"] = 0.9;
    c["debug_choice"]["enable_process_cloud"] = false;
  }));
  EXPECT_EQ(edited(place(Litter::kStick, 0.72, 0.0), 2000), (Expected{1111, 1111, 1}));
  EXPECT_EQ(edited(place(Litter::kCigaretteButt, 0.35, 0.0), 5), (Expected{1, 11, 11}));
}

// The judge's own workspace and grab-space rules give the estimator's answers, on points
// clear of the bounds (the estimator computes in single precision).
TEST_F(Judging, ItsRulesAnswerAsTheEstimatorsTests) {
  const auto w = litterpose_eval::readWindows(support::default_config_path());
  int inside = 0;
  for (double d = 0.013; d < 1.1; d += 0.05)
    for (double bearing = -87.3; bearing < 90.0; bearing += 9.0)
      for (double z : {-0.176, -0.12, -0.03, 0.1, 0.3}) {
        const double b = bearing * M_PI / 180;
        const Eigen::Vector3d p(-d * std::cos(b), d * std::sin(b), z);
        const Eigen::Vector3f q = p.cast<float>();
        inside += litterpose_eval::inWorkspace(w, p);
        EXPECT_EQ(litterpose_eval::inWorkspace(w, p), e_->IsInWorkspace(q)) << p.transpose();
        EXPECT_EQ(litterpose_eval::inGrabSpace(w, true, p), e_->isInGrabSpace(HORIZONTAL, q))
            << p.transpose();
        EXPECT_EQ(litterpose_eval::inGrabSpace(w, false, p), e_->isInGrabSpace(VERTICAL, q))
            << p.transpose();
      }
  EXPECT_GT(inside, 100);
}

// Wherever the estimator's first candidate from above (straight down, gripper along the long
// axis) is reachable, so is some grasp the judge samples; where nothing within 20 degrees
// of straight down is, neither is that candidate.
TEST_F(Judging, ItsReachCoversTheEstimatorsStraightDownCandidate) {
  const litterpose_eval::Reach reach(litterpose_eval::armOf(*e_));
  int reached = 0, unreached = 0;
  for (double d = 0.1; d < 0.8; d += 0.03) {
    for (double bearing : {-50.0, -10.0, 25.0}) {
      const auto t = place(Litter::kStick, d, bearing);
      const Eigen::Vector3d p(t.centre.x(), t.centre.y(), -e_->base_height_ + 0.01);
      const double yaw = std::atan2(-t.long_axis.y(), std::abs(t.long_axis.x()));
      const bool judged = litterpose_eval::graspReachable(reach, t, p, Criteria{}, 0.0);
      const Eigen::Quaterniond down(Eigen::AngleAxisd(M_PI, Eigen::Vector3d::UnitY()) *
                                    Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitZ()));
      const bool candidate = e_->isIKSolved({p.cast<float>(), down});
      EXPECT_TRUE(judged || !candidate) << d << " m, " << bearing << " deg";
      (judged ? reached : unreached) += 1;
    }
  }
  EXPECT_GT(reached, 10);
  EXPECT_GT(unreached, 10);
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

TEST(GoalTests, ExactBinomialTail) {
  EXPECT_NEAR(litterpose_eval::binomialAtMost(14, 15, 0.97), 1.0 - std::pow(0.97, 15), 1e-12);
  EXPECT_NEAR(litterpose_eval::binomialAtMost(2, 4, 0.5), 11.0 / 16.0, 1e-12);
  EXPECT_EQ(litterpose_eval::binomialAtMost(15, 15, 0.97), 1.0);
  // One miss in fifteen is no evidence against 97 %; four are.
  EXPECT_GT(litterpose_eval::binomialAtMost(14, 15, 0.97), 0.05);
  EXPECT_LT(litterpose_eval::binomialAtMost(11, 15, 0.97), 0.05);
}

}  // namespace

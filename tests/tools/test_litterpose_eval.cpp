// litterpose-eval as a user runs it: a small seeded set, its table, JSON, chart and
// details; a run compared with a recorded report; configurations it must refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "evaluation.h"
#include "support/estimator.h"
#include "tools/run_program.h"

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

// The tables without their last column, the run times and the blank lines.
std::string withoutTimings(const std::string& out) {
  std::istringstream lines(out);
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (line.empty() || line.rfind("Run time", 0) == 0 || line.rfind("Compared with", 0) == 0)
      continue;
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
  for (const char* profile : {"realistic", "clean", "field"})
    EXPECT_TRUE(contains(r.out, std::string(profile) + " captures (default / robust preparation)"));
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
  // One line per scene, entry and preparation, for the three profiles.
  std::istringstream lines(run_program::slurp(details));
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += line.rfind("{\"artefacts\":", 0) == 0;
  EXPECT_EQ(count, 3 * 14 * 3 * 2);

  // The same seed gives the same figures, and the same outcomes scene by scene.
  const auto again =
      evaluate(support::default_config_path(), "--scenes 14 --seed 5 --compare " + quote(json));
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(contains(again.out, "the first 14 scenes of each, 252 estimates: 0 differ; 0 "
                                  "figures of the cells differ: the same."))
      << again.out;
  EXPECT_EQ(withoutTimings(again.out), withoutTimings(r.out));
}

// A report whose scene 1 holds another result for its first estimate.
std::string withAnotherResult(std::string report) {
  const std::size_t scene = report.find("{\"scene\":1,");
  const std::size_t estimate = report.find("\"default\":[[", scene) + 12;
  return report.replace(estimate, report.find(',', estimate) - estimate, "999");
}

TEST(LitterposeEval, ComparesARunWithARecordedReport) {
  const std::string record = run_program::scratchPath("record.json");
  const auto made = evaluate(support::default_config_path(),
                             "--scenes 4 --artefacts field --json " + quote(record));
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string changed = run_program::scratchPath("changed.json");
  std::ofstream(changed) << withAnotherResult(run_program::slurp(record));

  struct Case {
    const char* what;
    std::string arguments;
    int status;
    const char* says;  // on standard output (status 0, 1) or error (2)
  };
  const Case cases[] = {
      {"the whole record", "--scenes 4 --compare " + quote(record), 0, "0 differ; 0 figures"},
      {"its first scenes", "--scenes 2 --compare " + quote(record), 0, "the first 2 scenes"},
      {"a changed outcome", "--scenes 2 --compare " + quote(changed), 1,
       "1 differ: NOT the same."},
      {"a changed outcome, tolerated", "--scenes 2 --compare " + quote(changed) + " --tolerate 1",
       0, "1 differ (1 tolerated): the same."},
      {"more scenes than recorded", "--scenes 5 --compare " + quote(record), 2,
       "holds 4 scenes per profile"},
      {"another seed", "--scenes 2 --seed 9 --compare " + quote(record), 2, "another seed"},
      {"a profile it lacks", "--scenes 2 --artefacts clean --compare " + quote(record), 2,
       "no clean profile"},
      {"no report", "--scenes 2 --compare " + quote(testing::TempDir() + "none.json"), 2,
       "cannot compare"},
  };
  for (const Case& c : cases) {
    const auto r = evaluate(support::default_config_path(), "--artefacts field " + c.arguments);
    EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.err;
    EXPECT_TRUE(contains(c.status == 2 ? r.err : r.out, c.says)) << c.what << "\n"
                                                                 << r.out << r.err;
  }
  // A difference names the scene, the entry and both outcomes.
  const auto r = evaluate(support::default_config_path(),
                          "--scenes 2 --artefacts field --compare " + quote(changed));
  EXPECT_TRUE(contains(r.err, "field, scene 1, GrabPoseEstimateFunc, default preparation: [999,"))
      << r.err;
}

TEST(LitterposeEval, RefusesWhatItCannotDo) {
  const std::string nan_extrinsic = support::write_config(
      [](YAML::Node& c) { c["camera_extrinsic"]["Rxyz"][0] = ".nan"; });
  const std::string no_focal = support::write_config(
      [](YAML::Node& c) { c["camera_intrinsic"]["fx"] = 0.0; });
  for (const auto& [config, reason] : {std::pair{nan_extrinsic, std::string("non-finite")},
                                       std::pair{no_focal, std::string("cannot be simulated")}}) {
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

TEST(GoalTests, ExactBinomialTail) {
  EXPECT_NEAR(litterpose_eval::binomialAtMost(14, 15, 0.97), 1.0 - std::pow(0.97, 15), 1e-12);
  EXPECT_NEAR(litterpose_eval::binomialAtMost(2, 4, 0.5), 11.0 / 16.0, 1e-12);
  EXPECT_EQ(litterpose_eval::binomialAtMost(15, 15, 0.97), 1.0);
  // One miss in fifteen is no evidence against 97 %; four are.
  EXPECT_GT(litterpose_eval::binomialAtMost(14, 15, 0.97), 0.05);
  EXPECT_LT(litterpose_eval::binomialAtMost(11, 15, 0.97), 0.05);
}

}  // namespace

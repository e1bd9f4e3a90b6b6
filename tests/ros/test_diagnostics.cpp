// The node's diagnostic status from the answers of a period: rate, latency, refusals by
// cause, the last error, and the level that tells a person whether to look.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include <diagnostic_msgs/DiagnosticStatus.h>

#include "litterpose_ros/diagnostics.h"

namespace {

using diagnostic_msgs::DiagnosticStatus;
using litterpose_msgs::GraspResult;
using litterpose_ros::Statistics;
using namespace std::chrono_literals;

GraspResult answer(std::uint8_t status, int code, const char* reason_name, double ms) {
  GraspResult a;
  a.status = status;
  a.code = code;
  a.reason_name = reason_name;
  a.reason = std::string("because of ") + reason_name;
  a.elapsed = ros::Duration(ms / 1000.0);
  return a;
}

std::map<std::string, std::string> values(const diagnostic_updater::DiagnosticStatusWrapper& s) {
  std::map<std::string, std::string> out;
  for (const auto& kv : s.values) out[kv.key] = kv.value;
  return out;
}

TEST(Statistics, APeriodsAnswersGiveRateLatencyAndCausesAndTheLevel) {
  const auto start = Statistics::Clock::now();
  Statistics statistics(start);

  // Two seconds of grasps and estimator refusals only: all is well.
  for (const double ms : {1.0, 3.0, 2.0}) statistics.record(answer(GraspResult::OK, 1, "found", ms));
  statistics.record(answer(GraspResult::OK, 1111, "no_candidate_reachable", 9.0));
  diagnostic_updater::DiagnosticStatusWrapper first;
  statistics.report(first, start + 2s);
  EXPECT_EQ(first.level, DiagnosticStatus::OK) << first.message;
  auto v = values(first);
  EXPECT_EQ(v["rate (answers/s)"], "2.00");
  EXPECT_EQ(v["latency median (ms)"], "3.000");
  EXPECT_EQ(v["latency max (ms)"], "9.000");
  EXPECT_EQ(v["answers"], "4");
  EXPECT_EQ(v["grasps"], "3");
  EXPECT_EQ(v["refusals: no_candidate_reachable"], "1");
  EXPECT_EQ(v["last error"], "none");

  // A cloud not estimated warns; the estimator raising is an error; both are counted.
  const std::pair<GraspResult, std::uint8_t> periods[] = {
      {answer(GraspResult::CLOUD_UNREADABLE, 0, "unreadable_cloud", 0.1), DiagnosticStatus::WARN},
      {answer(GraspResult::ESTIMATOR_ERROR, 0, "estimator_error", 0.5), DiagnosticStatus::ERROR},
  };
  auto now = start + 2s;
  for (const auto& [refused, level] : periods) {
    statistics.record(refused);
    diagnostic_updater::DiagnosticStatusWrapper status;
    statistics.report(status, now += 1s);
    EXPECT_EQ(status.level, level) << status.message;
    EXPECT_EQ(values(status)["refusals: " + refused.reason_name], "1");
    EXPECT_EQ(values(status)["last error"], refused.reason_name + ": " + refused.reason);
    EXPECT_EQ(values(status)["rate (answers/s)"], "1.00");
  }

  // A quiet period is well again, and the totals stay.
  diagnostic_updater::DiagnosticStatusWrapper quiet;
  statistics.report(quiet, now + 1s);
  EXPECT_EQ(quiet.level, DiagnosticStatus::OK);
  v = values(quiet);
  EXPECT_EQ(v["rate (answers/s)"], "0.00");
  EXPECT_EQ(v["answers"], "6");
  EXPECT_EQ(v["last error"], "estimator_error: because of estimator_error");
}

}  // namespace

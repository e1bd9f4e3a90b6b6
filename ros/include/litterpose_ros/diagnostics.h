// What the node reports on /diagnostics through diagnostic_updater: how many clouds it
// answers per second and how long they take, its refusals by cause, and the last error.
#ifndef LITTERPOSE_ROS_DIAGNOSTICS_H
#define LITTERPOSE_ROS_DIAGNOSTICS_H

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <diagnostic_updater/DiagnosticStatusWrapper.h>
#include <litterpose_msgs/GraspResult.h>

namespace litterpose_ros {

class Statistics {
public:
  using Clock = std::chrono::steady_clock;
  // The median is taken over this many of a period's latest answers.
  static constexpr std::size_t kMostLatencySamples = 4096;

  explicit Statistics(Clock::time_point start) : period_start_(start) {}

  void record(const litterpose_msgs::GraspResult& answer);

  // The period since the last report (answers per second, median and longest time spent on
  // an answer) and the totals since the start (answers, grasps, refusals by cause: the
  // estimator's reason for its result code, or why the node did not estimate; the last
  // error); a new period starts. The level is ERROR when the period saw the estimator raise,
  // WARN when it saw a cloud not estimated, OK otherwise: the estimator's refusals are
  // answers like any other.
  void report(diagnostic_updater::DiagnosticStatusWrapper& status, Clock::time_point now);

private:
  Clock::time_point period_start_;
  std::uint64_t period_answers_ = 0;
  std::uint64_t period_not_estimated_ = 0;
  std::uint64_t period_errors_ = 0;
  std::vector<double> period_latencies_ms_;
  double period_longest_ms_ = 0.0;

  std::uint64_t answers_ = 0;
  std::uint64_t grasps_ = 0;
  std::map<std::string, std::uint64_t> refusals_;
  std::string last_error_;
};

}  // namespace litterpose_ros

#endif

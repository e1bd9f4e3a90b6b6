#include "litterpose_ros/diagnostics.h"

#include <algorithm>
#include <cstdio>

#include <diagnostic_msgs/DiagnosticStatus.h>

namespace litterpose_ros {

using litterpose_msgs::GraspResult;

void Statistics::record(const GraspResult& answer) {
  ++answers_;
  ++period_answers_;
  const double ms = answer.elapsed.toSec() * 1000.0;
  if (period_latencies_ms_.size() < kMostLatencySamples) period_latencies_ms_.push_back(ms);
  else period_latencies_ms_[period_answers_ % kMostLatencySamples] = ms;
  period_longest_ms_ = std::max(period_longest_ms_, ms);

  if (answer.status == GraspResult::OK && answer.code == 1) {
    ++grasps_;
    return;
  }
  ++refusals_[answer.reason_name];
  if (answer.status == GraspResult::OK) return;
  ++period_not_estimated_;
  if (answer.status == GraspResult::ESTIMATOR_ERROR) ++period_errors_;
  last_error_ = answer.reason_name + ": " + answer.reason;
}

void Statistics::report(diagnostic_updater::DiagnosticStatusWrapper& status,
                        Clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - period_start_).count();
  const double rate = seconds > 0.0 ? period_answers_ / seconds : 0.0;
  double median = 0.0;
  if (!period_latencies_ms_.empty()) {
    auto middle = period_latencies_ms_.begin() + period_latencies_ms_.size() / 2;
    std::nth_element(period_latencies_ms_.begin(), middle, period_latencies_ms_.end());
    median = *middle;
  }

  using diagnostic_msgs::DiagnosticStatus;
  if (period_errors_ > 0)
    status.summaryf(DiagnosticStatus::ERROR, "the estimator raised on %llu of %llu clouds",
                    static_cast<unsigned long long>(period_errors_),
                    static_cast<unsigned long long>(period_answers_));
  else if (period_not_estimated_ > 0)
    status.summaryf(DiagnosticStatus::WARN, "%llu of %llu clouds not estimated",
                    static_cast<unsigned long long>(period_not_estimated_),
                    static_cast<unsigned long long>(period_answers_));
  else
    status.summaryf(DiagnosticStatus::OK, "%.1f clouds answered per second", rate);

  status.addf("rate (answers/s)", "%.2f", rate);
  status.addf("latency median (ms)", "%.3f", median);
  status.addf("latency max (ms)", "%.3f", period_longest_ms_);
  status.add("answers", answers_);
  status.add("grasps", grasps_);
  for (const auto& [cause, count] : refusals_) status.add("refusals: " + cause, count);
  status.add("last error", last_error_.empty() ? std::string("none") : last_error_);

  period_start_ = now;
  period_answers_ = period_not_estimated_ = period_errors_ = 0;
  period_latencies_ms_.clear();
  period_longest_ms_ = 0.0;
}

}  // namespace litterpose_ros

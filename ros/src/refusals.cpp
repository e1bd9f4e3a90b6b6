#include "litterpose_ros/refusals.h"

#include <litterpose_msgs/GraspResult.h>

namespace litterpose_ros {

using litterpose_msgs::GraspResult;

const char* refusalName(Refusal refusal) {
  switch (refusal) {
    case Refusal::kUnreadableCloud: return "unreadable_cloud";
    case Refusal::kBaseFrameCloud: return "base_frame_cloud";
    case Refusal::kUnknownFrame: return "unknown_frame";
    case Refusal::kNoTransform: return "no_transform";
    case Refusal::kEstimatorError: return "estimator_error";
    case Refusal::kUnknownEntry: return "unknown_entry";
  }
  return "unknown";
}

std::uint8_t refusalStatus(Refusal refusal) {
  switch (refusal) {
    case Refusal::kEstimatorError: return GraspResult::ESTIMATOR_ERROR;
    case Refusal::kUnknownEntry: return GraspResult::INVALID_REQUEST;
    default: return GraspResult::CLOUD_UNREADABLE;
  }
}

const char* statusMeaning(std::uint8_t status) {
  switch (status) {
    case GraspResult::OK: return "estimated";
    case GraspResult::CLOUD_UNREADABLE: return "cloud unreadable";
    case GraspResult::ESTIMATOR_ERROR: return "estimator error";
    case GraspResult::INVALID_REQUEST: return "invalid request";
    default: return "unknown status";
  }
}

std::optional<std::uint64_t> RefusalThrottle::admit(const std::string& cause,
                                                    Clock::time_point now) {
  const auto [it, first] = causes_.try_emplace(cause);
  Cause& c = it->second;
  if (!first && now - c.last_logged < period_) {
    ++c.left_out;
    return std::nullopt;
  }
  const std::uint64_t left_out = c.left_out;
  c.last_logged = now;
  c.left_out = 0;
  return left_out;
}

}  // namespace litterpose_ros

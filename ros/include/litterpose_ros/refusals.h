// Why the node answered a cloud without an estimate, or the estimator raised: each cause
// with its GraspResult status and name, and the rule that keeps their log lines few when a
// publisher sends the same fault many times a second.
#ifndef LITTERPOSE_ROS_REFUSALS_H
#define LITTERPOSE_ROS_REFUSALS_H

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace litterpose_ros {

enum class Refusal {
  kUnreadableCloud,  // the PointCloud2's layout cannot be read safely
  kBaseFrameCloud,   // the cloud lies in the base frame; clouds come in a camera frame
  kUnknownFrame,     // a frame that is not the camera's, and frames are not looked up
  kNoTransform,      // tf2 gave no finite transform from the cloud's frame to the base frame
  kEstimatorError,   // the estimator raised
  kUnknownEntry,     // the request names no entry
};

// Its name in GraspResult.reason_name, the logs and the diagnostics: "unreadable_cloud",
// "base_frame_cloud", "unknown_frame", "no_transform", "estimator_error", "unknown_entry".
const char* refusalName(Refusal refusal);

// The GraspResult status it answers with: CLOUD_UNREADABLE, ESTIMATOR_ERROR or
// INVALID_REQUEST.
std::uint8_t refusalStatus(Refusal refusal);

// A GraspResult status in words: "estimated", "cloud unreadable", "estimator error",
// "invalid request"; "unknown status" for another value.
const char* statusMeaning(std::uint8_t status);

// One log line per cause and period: the first refusal of a cause is logged, and then the
// first one after each period, saying how many of that cause were left out since its last
// line.
class RefusalThrottle {
public:
  using Clock = std::chrono::steady_clock;
  explicit RefusalThrottle(Clock::duration period) : period_(period) {}

  // How many refusals of the cause went unlogged before this one, when this one is to be
  // logged; nothing when it is not.
  std::optional<std::uint64_t> admit(const std::string& cause, Clock::time_point now);

private:
  struct Cause {
    Clock::time_point last_logged;
    std::uint64_t left_out = 0;
  };
  Clock::duration period_;
  std::map<std::string, Cause> causes_;
};

}  // namespace litterpose_ros

#endif

#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

#include "internal/console.h"
#include "internal/reason.h"
#include "litterpose_result.h"

namespace litterpose {

const char* reasonName(Reason reason) {
  switch (reason) {
    case Reason::kNone: return "none";
    case Reason::kFound: return "found";
    case Reason::kTooFewPoints: return "too_few_points";
    case Reason::kNonFiniteShape: return "non_finite_shape";
    case Reason::kOutsideWorkspace: return "outside_workspace";
    case Reason::kOutsideWindow: return "outside_window";
    case Reason::kUnknownTrashType: return "unknown_trash_type";
    case Reason::kGrabModeOff: return "grab_mode_off";
    case Reason::kNoStrategy: return "no_strategy";
    case Reason::kNoCandidateReachable: return "no_candidate_reachable";
    case Reason::kSlantedRetriesOff: return "slanted_retries_off";
    case Reason::kUnsoundPose: return "unsound_pose";
    case Reason::kDegenerateCloud: return "degenerate_cloud";
    case Reason::kGripperDoesNotFit: return "gripper_does_not_fit";
    case Reason::kGripperCollides: return "gripper_collides";
  }
  return "unknown";
}

}  // namespace litterpose

namespace litterpose::reason {
namespace {

// A gripper model's refusal as the summary of the candidates counts it.
const char* gripper_refusal_name(GripperVerdict verdict) {
  switch (verdict) {
    case GripperVerdict::kFree: return "free";
    case GripperVerdict::kUnsoundPose: return "not finite";
    case GripperVerdict::kTooWide: return "too wide";
    case GripperVerdict::kFingersInFloor: return "fingers in the floor";
    case GripperVerdict::kPalmInFloor: return "palm in the floor";
    case GripperVerdict::kFingersInCloud: return "fingers in the cloud";
    case GripperVerdict::kPalmInCloud: return "palm in the cloud";
  }
  return "refused by the gripper";
}

const char* axis_class_name(MainAxisType type) {
  switch (type) {
    case HORIZONTAL: return "horizontal";
    case VERTICAL: return "vertical";
    case TILTED_LOW:
    case TILTED_HIGH: return "tilted";
  }
  return "no class";
}

}  // namespace

void set(GrabPoseEstimate& e, Reason reason, std::string text) {
  e.reason_ = reason;
  e.reason_text_ = std::move(text);
}

std::string format(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(n > 0 ? static_cast<std::size_t>(n) + 1 : 1, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.pop_back();
  return text;
}

void begin(GrabPoseEstimate& e) {
  set(e, Reason::kNone, "the estimate did not return");
}

void too_few_points(GrabPoseEstimate& e, std::size_t points, std::size_t minimum) {
  set(e, Reason::kTooFewPoints,
      format("too few points: %zu after preparation, at least %zu", points, minimum));
}

void non_finite_shape(GrabPoseEstimate& e) {
  set(e, Reason::kNonFiniteShape,
      "cloud shape is not finite: the cloud holds non-finite or overflowing coordinates");
}

void outside(GrabPoseEstimate& e, Reason reason, checks::Window w, const char* window,
             const char* from, float distance, float angle_deg, const checks::Bounds& b) {
  const bool by_distance = w == checks::Window::too_near || w == checks::Window::too_far;
  set(e, reason,
      by_distance
          ? format("grasp point %.2f m from %s, %s %.2f-%.2f m", distance, from, window,
                   b.distance_min, b.distance_max)
          : format("grasp point at bearing %.1f deg, %s %.1f to %.1f deg", angle_deg, window,
                   b.angle_min, b.angle_max));
}

void no_strategy(GrabPoseEstimate& e) {
  set(e, Reason::kNoStrategy,
      format("main-axis class %d (%s): no strategy for trash type %d",
             static_cast<int>(e.main_axis_type_), axis_class_name(e.main_axis_type_),
             e.trash_type_));
}

bool Candidates::offer(GrabPoseEstimate& e) {
  ++tried_;
  if (!checks::is_sound(e.grab_pose_)) {
    checks::report_unsound_pose(e);
    ++unsound_;
    return false;
  }
  if (!e.isIKSolved(e.grab_pose_)) {
    ++ik_codes_[e.ik_code_];
    return false;
  }
  if (e.isCollided(e.grab_pose_)) {
    refuse_by_gripper(e);
    return false;
  }
  return true;
}

bool Candidates::fits(GrabPoseEstimate& e) {
  ++tried_;
  if (!e.isCollided(e.grab_pose_)) return true;
  refuse_by_gripper(e);
  return false;
}

void Candidates::refuse_by_gripper(const GrabPoseEstimate& e) {
  const GripperVerdict verdict = e.gripper_check_.verdict;
  ++gripper_refusals_[verdict];
  (verdict == GripperVerdict::kTooWide ? last_too_wide_ : last_collision_) =
      describeGripperCheck(e.gripper_check_);
}

void Candidates::found(GrabPoseEstimate& e) const {
  set(e, Reason::kFound, format("candidate %d reached", tried_));
}

std::string Candidates::summary() const {
  if (tried_ == 0) return "no candidate tried";
  std::vector<std::string> parts;
  for (const auto& [code, count] : ik_codes_) parts.push_back(format("%d on %d", code, count));
  if (unsound_ > 0) parts.push_back(format("not finite on %d", unsound_));
  for (const auto& [verdict, count] : gripper_refusals_)
    parts.push_back(format("%s on %d", gripper_refusal_name(verdict), count));
  if (parts.size() == 1) {
    const std::string what =
        !ik_codes_.empty() ? format("IK %d", ik_codes_.begin()->first)
        : unsound_ > 0     ? std::string("not finite")
                           : std::string(gripper_refusal_name(gripper_refusals_.begin()->first));
    return tried_ == 1 ? what : what + format(" on all %d", tried_);
  }
  std::string text = ik_codes_.empty() ? "" : "IK ";
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i > 0 ? ", " : "") + parts[i];
  return text + format(" of %d", tried_);
}

void Candidates::none_taken(GrabPoseEstimate& e, const std::string& note) const {
  if (tried_ > 0 && unsound_ == tried_) {
    set(e, Reason::kUnsoundPose,
        (tried_ == 1 ? std::string("grasp pose is not finite")
                     : format("grasp pose is not finite in all %d candidates", tried_)) +
            note);
    return;
  }
  if (refused_by_gripper()) {
    const bool collided = !last_collision_.empty();
    const std::string& said = collided ? last_collision_ : last_too_wide_;
    set(e, collided ? Reason::kGripperCollides : Reason::kGripperDoesNotFit,
        (tried_ == 1 ? said : said + "; " + summary()) + note);
    return;
  }
  set(e, Reason::kNoCandidateReachable, "no candidate reachable: " + summary() + note);
}

}  // namespace litterpose::reason

// The reason an estimate gives for its result: set on every return of every entry, with
// the numbers that decided it.
#ifndef LITTERPOSE_INTERNAL_REASON_H
#define LITTERPOSE_INTERNAL_REASON_H

#include <map>
#include <string>

#include "internal/grasp_checks.h"
#include "litterpose.h"

namespace litterpose::reason {

void set(GrabPoseEstimate& e, Reason reason, std::string text);

// Text formatted as std::printf formats it.
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// An entry begins: until it returns, the estimator holds no decision (an entry that raises
// leaves it so).
void begin(GrabPoseEstimate& e);

// "too few points: 7 after preparation, at least 10"
void too_few_points(GrabPoseEstimate& e, std::size_t points, std::size_t minimum);
void non_finite_shape(GrabPoseEstimate& e);

// The grasp point outside a window, naming the bound it fails: "grasp point 0.65 m from the
// axis, vertical window 0.20-0.60 m" or "grasp point at bearing 72.3 deg, vertical window
// -60.0 to 60.0 deg". `from` names where the distance is measured from.
void outside(GrabPoseEstimate& e, Reason reason, checks::Window w, const char* window,
             const char* from, float distance, float angle_deg, const checks::Bounds& bounds);

// "main-axis class 4 (tilted): no strategy for trash type 3"
void no_strategy(GrabPoseEstimate& e);

// The candidate poses an entry offers the arm, and what became of each.
class Candidates {
public:
  // Checks the candidate in grab_pose_ as the entries do: refused when it is not sound,
  // else handed to isIKSolved and then to isCollided. True when it is taken.
  bool offer(GrabPoseEstimate& e);
  // The same without the arm: only whether the gripper fits (isCollided).
  bool fits(GrabPoseEstimate& e);

  // reason kFound: "candidate 3 reached"
  void found(GrabPoseEstimate& e) const;
  // reason kNoCandidateReachable ("no candidate reachable: IK -1003 on all 7", "... IK -1003
  // on 5, -1006 on 1, not finite on 1 of 7"), kUnsoundPose when none was finite, or, when the
  // gripper model refused a candidate the arm reaches, kGripperDoesNotFit or
  // kGripperCollides with the model's last refusal of that kind ("object 0.17 m wide,
  // gripper opens 0.11 m (0.005 m clearance each side); IK -1003 on 5, too wide on 2 of 7").
  void none_taken(GrabPoseEstimate& e, const std::string& note = "") const;
  // "IK -1003" for one refused candidate, "IK -1003 on all 7" for several.
  std::string summary() const;
  bool refused_by_gripper() const { return !gripper_refusals_.empty(); }

private:
  void refuse_by_gripper(const GrabPoseEstimate& e);

  int tried_ = 0;
  int unsound_ = 0;
  std::map<int, int> ik_codes_;  // refusing code -> candidates
  std::map<GripperVerdict, int> gripper_refusals_;  // verdict -> candidates
  std::string last_too_wide_;    // the gripper model's last refusals, as it says them
  std::string last_collision_;
};

}  // namespace litterpose::reason

#endif

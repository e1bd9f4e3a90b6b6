// Result codes of the estimation entries of GrabPoseEstimate.
#ifndef LITTERPOSE_RESULT_H
#define LITTERPOSE_RESULT_H

#include <optional>
#include <string_view>

namespace litterpose {

enum GrabResult : int {
  kGrabFound = 1,            // grasp pose stored in grab_pose_
  kTooFewPoints = 11,        // too few points after preparation
  kOutsideWorkspace = 41,    // grasp point outside the workspace sector
  kType1TooNear = 101,       // trash type 1 too near; CommonGrabPoseFunc: outside the vertical grab space
  kType1TooFar = 102,
  kType1TooFarLeft = 103,
  kType1TooFarRight = 104,
  kUnknownTrashType = 111,
  kType2TooNear = 201,
  kType2TooFar = 202,
  kType2TooFarLeft = 203,
  kType2TooFarRight = 204,
  kLyingTooNear = 301,       // trash type 3, near-horizontal main axis
  kLyingTooFar = 302,
  kLyingTooFarLeft = 303,
  kLyingTooFarRight = 304,
  kStandingTooNear = 311,    // trash type 3, near-vertical main axis; CommonGrabPoseFunc: outside the horizontal grab space
  kStandingTooFar = 312,
  kStandingTooFarLeft = 313,
  kStandingTooFarRight = 314,
  kNoGrasp = 1111,           // no reachable candidate, or no strategy applies
};

// The estimation entries of GrabPoseEstimate; 101 and 311 mean different things in
// GrabPoseEstimateFunc and CommonGrabPoseFunc.
enum class Entry : int { GrabPoseEstimateFunc, CommonGrabPoseFunc, GetInitialGrabPose };
inline constexpr int kEntryCount = 3;

// The entry of its short name, as the programs and the ROS node take it: "main"
// (GrabPoseEstimateFunc), "common" (CommonGrabPoseFunc) or "initial" (GetInitialGrabPose);
// none for any other name.
std::optional<Entry> entryNamed(std::string_view name);

// The short name of an entry: "main", "common" or "initial".
const char* entryShortName(Entry entry);

// Short English text of a result code of any entry (101 and 311 give both meanings);
// "unknown result" for any other value.
const char* describeResult(int code);

// Short English text of a result code as the given entry returns it; "unknown result"
// for a code that entry never returns.
const char* describeResult(int code, Entry entry);

// Whether an estimate that returned the code got as far as classifying the object's main
// axis into main_axis_type_: every code but too few points (11) and outside the workspace
// (41), which end an estimate before.
bool classifiesMainAxis(int code);

// What the last estimate decided, beside its result code: a result code can stand for
// several decisions (1111 is both "no candidate reachable" and "no strategy for this main
// axis"). Every entry renews the estimator's reason_ and reason_text_ on every return; the
// text gives the numbers, for example "grasp point 0.65 m from the axis, vertical window
// 0.20-0.60 m", "main-axis class 4 (tilted): no strategy for trash type 3" or "no candidate
// reachable: IK -1003 on all 7". New reasons are appended, so the values stay as they are.
enum class Reason : int {
  kNone = 0,                // no estimate has returned since the estimator was built
                            // or since the current one began (it raised)
  kFound = 1,               // a grasp pose is in grab_pose_
  kTooFewPoints = 2,        // fewer points than the entry's minimum after preparation
  kNonFiniteShape = 3,      // the cloud's centroid, axes or extents are not finite
  kOutsideWorkspace = 4,    // the grasp point lies outside the workspace sector
  kOutsideWindow = 5,       // outside a distance or bearing window of the grasp style
  kUnknownTrashType = 6,    // a trash type that has no strategy at all
  kGrabModeOff = 7,         // grab_mode_ is not 1
  kNoStrategy = 8,          // no strategy for this main-axis class and trash type
  kNoCandidateReachable = 9,  // the arm reaches none of the candidate poses
  kSlantedRetriesOff = 10,  // the first candidate is out of reach and slanted retries are off
  kUnsoundPose = 11,        // the grasp pose is not finite or not a rotation
  kDegenerateCloud = 12,    // robust preparation: the points coincide or lie on a line
  kGripperDoesNotFit = 13,  // the gripper model refused every candidate the arm reaches: the
                            // object is wider than the gripper opens
  kGripperCollides = 14,    // the gripper model refused every candidate the arm reaches, some
                            // for fingers or palm in the floor or in the cloud
};

// The reason's name, as the programs write it: "found", "too_few_points",
// "non_finite_shape", "outside_workspace", "outside_window", "unknown_trash_type",
// "grab_mode_off", "no_strategy", "no_candidate_reachable", "slanted_retries_off",
// "unsound_pose", "degenerate_cloud", "gripper_does_not_fit", "gripper_collides", or "none";
// "unknown" for any other value.
const char* reasonName(Reason reason);

}  // namespace litterpose

#endif  // LITTERPOSE_RESULT_H

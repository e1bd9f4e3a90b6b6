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

// Short English text of a result code of any entry (101 and 311 give both meanings);
// "unknown result" for any other value.
const char* describeResult(int code);

// Short English text of a result code as the given entry returns it; "unknown result"
// for a code that entry never returns.
const char* describeResult(int code, Entry entry);

}  // namespace litterpose

#endif  // LITTERPOSE_RESULT_H

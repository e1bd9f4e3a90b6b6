#include "litterpose_result.h"

namespace litterpose {

const char* describeResult(int code) {
  switch (code) {
    case kGrabFound: return "grasp pose found";
    case kTooFewPoints: return "too few points after preparation";
    case kOutsideWorkspace: return "outside the workspace sector";
    case kType1TooNear: return "too near (trash type 1), or outside the vertical grab space";
    case kType1TooFar: return "too far (trash type 1)";
    case kType1TooFarLeft: return "too far left (trash type 1)";
    case kType1TooFarRight: return "too far right (trash type 1)";
    case kUnknownTrashType: return "unknown trash type";
    case kType2TooNear: return "too near (trash type 2)";
    case kType2TooFar: return "too far (trash type 2)";
    case kType2TooFarLeft: return "too far left (trash type 2)";
    case kType2TooFarRight: return "too far right (trash type 2)";
    case kLyingTooNear: return "too near (trash type 3, lying)";
    case kLyingTooFar: return "too far (trash type 3, lying)";
    case kLyingTooFarLeft: return "too far left (trash type 3, lying)";
    case kLyingTooFarRight: return "too far right (trash type 3, lying)";
    case kStandingTooNear: return "too near (trash type 3, standing), or outside the horizontal grab space";
    case kStandingTooFar: return "too far (trash type 3, standing)";
    case kStandingTooFarLeft: return "too far left (trash type 3, standing)";
    case kStandingTooFarRight: return "too far right (trash type 3, standing)";
    case kNoGrasp: return "no reachable grasp";
    default: return "unknown result";
  }
}

const char* describeResult(int code, Entry entry) {
  constexpr const char* kUnknown = "unknown result";
  switch (entry) {
    case Entry::GrabPoseEstimateFunc:
      switch (code) {
        case kOutsideWorkspace: return kUnknown;
        case kType1TooNear: return "too near (trash type 1)";
        case kStandingTooNear: return "too near (trash type 3, standing)";
        default: return describeResult(code);
      }
    case Entry::CommonGrabPoseFunc:
    case Entry::GetInitialGrabPose: {
      const bool common = entry == Entry::CommonGrabPoseFunc;
      switch (code) {
        case kGrabFound:
        case kTooFewPoints:
        case kOutsideWorkspace:
        case kNoGrasp: return describeResult(code);
        case kType1TooNear: return common ? "outside the vertical grab space" : kUnknown;
        case kStandingTooNear: return common ? "outside the horizontal grab space" : kUnknown;
        default: return kUnknown;
      }
    }
  }
  return kUnknown;
}

bool classifiesMainAxis(int code) { return code != kTooFewPoints && code != kOutsideWorkspace; }

}  // namespace litterpose

#include "litterpose.h"

#include <stdexcept>
#include <string>

namespace litterpose {

std::optional<Entry> entryNamed(std::string_view name) {
  if (name == "main") return Entry::GrabPoseEstimateFunc;
  if (name == "common") return Entry::CommonGrabPoseFunc;
  if (name == "initial") return Entry::GetInitialGrabPose;
  return std::nullopt;
}

const char* entryShortName(Entry entry) {
  switch (entry) {
    case Entry::GrabPoseEstimateFunc: return "main";
    case Entry::CommonGrabPoseFunc: return "common";
    case Entry::GetInitialGrabPose: return "initial";
  }
  return "unknown";
}

int runEntry(GrabPoseEstimate& estimator, Entry entry, GrabPoseEstimate::CloudPtr& cloud) {
  switch (entry) {
    case Entry::GrabPoseEstimateFunc: return estimator.GrabPoseEstimateFunc(cloud);
    case Entry::CommonGrabPoseFunc: return estimator.CommonGrabPoseFunc(cloud);
    case Entry::GetInitialGrabPose: return estimator.GetInitialGrabPose(cloud);
  }
  throw std::invalid_argument("runEntry: no entry " + std::to_string(static_cast<int>(entry)));
}

ConfiguredState::ConfiguredState(const GrabPoseEstimate& estimator)
    : pass_ajust_value_(estimator.pass_ajust_value_),
      main_axis_type_(estimator.main_axis_type_) {}

void ConfiguredState::restore(GrabPoseEstimate& estimator) const {
  estimator.pass_ajust_value_ = pass_ajust_value_;
  estimator.main_axis_type_ = main_axis_type_;
}

}  // namespace litterpose

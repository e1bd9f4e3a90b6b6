#include "litterpose_ros/estimation.h"

#include <clocale>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include <litterpose_console.h>
#include <litterpose_result.h>
#include <ros/console.h>

namespace litterpose_ros {

litterpose::ConsoleSink estimatorLog(bool quiet) {
  if (quiet) return litterpose::ConsoleSink::none();
  // The condition is evaluated only while the logger takes debug lines.
  return litterpose::ConsoleSink::toCallback([](std::string_view line) {
    ROS_DEBUG_COND_NAMED(!litterpose::stripColours(line).empty(), "estimator", "%s",
                         litterpose::stripColours(line).c_str());
  });
}

void logInUtf8() {
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "");
}

Estimation::Estimation(const std::string& config_path, Entry entry,
                       litterpose::ConsoleSink log)
    : entry_(entry),
      estimator_(std::make_unique<GrabPoseEstimate>(config_path, std::move(log))),
      configured_(*estimator_),
      configured_extrinsic_(estimator_->camera_extrinsic_) {}

EstimateOutcome Estimation::estimate(const GrabPoseEstimate::CloudPtr& camera_cloud,
                                     int trash_type) {
  return estimate(camera_cloud, trash_type, entry_, configured_extrinsic_);
}

EstimateOutcome Estimation::estimate(const GrabPoseEstimate::CloudPtr& camera_cloud,
                                     int trash_type, Entry entry,
                                     const Eigen::Matrix4f& camera_to_base) {
  return run(camera_cloud, false, trash_type, entry, camera_to_base);
}

EstimateOutcome Estimation::estimateInBaseFrame(const GrabPoseEstimate::CloudPtr& base_cloud,
                                                int trash_type, Entry entry,
                                                const Eigen::Matrix4f& camera_to_base) {
  return run(base_cloud, true, trash_type, entry, camera_to_base);
}

EstimateOutcome Estimation::run(const GrabPoseEstimate::CloudPtr& cloud, bool in_base_frame,
                                int trash_type, Entry entry,
                                const Eigen::Matrix4f& camera_to_base) {
  EstimateOutcome outcome;
  try {
    GrabPoseEstimate& e = *estimator_;
    configured_.restore(e);
    e.camera_extrinsic_ = camera_to_base;
    e.trash_type_ = trash_type;
    GrabPoseEstimate::CloudPtr base_cloud = cloud;
    if (!in_base_frame) {
      GrabPoseEstimate::CloudPtr input = cloud;
      base_cloud = std::make_shared<GrabPoseEstimate::Cloud>();
      e.PclTransform(input, base_cloud, e.camera_extrinsic_);
    }
    outcome.result = litterpose::runEntry(e, entry, base_cloud);
  } catch (const std::exception& error) {
    outcome = {litterpose::kTooFewPoints, true, error.what()};
  } catch (...) {
    outcome = {litterpose::kTooFewPoints, true, "an exception of unknown type"};
  }
  return outcome;
}

}  // namespace litterpose_ros

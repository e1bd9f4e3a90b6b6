#include "litterpose_ros/grasp_server.h"

#include <string>
#include <utility>

#include <litterpose_result.h>
#include <ros/console.h>

#include "litterpose_ros/grasp_messages.h"
#include "litterpose_ros/point_cloud.h"
#include "litterpose_ros/untrusted_text.h"

namespace litterpose_ros {

using litterpose_msgs::GraspResult;

GraspServer::GraspServer(std::unique_ptr<Estimation> estimation, CloudFrames frames)
    : estimation_(std::move(estimation)), frames_(std::move(frames)) {}

GraspResult GraspServer::answer(const sensor_msgs::PointCloud2& cloud,
                                const std_msgs::Header& header, std::int32_t trash_type,
                                std::string_view entry_name) {
  const auto start = Clock::now();
  GraspResult answer = addressed(header, trash_type);

  litterpose::Entry entry = estimation_->entry();
  if (!entry_name.empty()) {
    const auto named = litterpose::entryNamed(entry_name);
    if (!named)
      return finish(refuse(answer, Refusal::kUnknownEntry,
                           "no entry named '" + printableExcerpt(entry_name) +
                               "': main, common or initial"),
                    start);
    entry = *named;
  }
  answer.entry = litterpose::entryShortName(entry);

  ConvertedCloud converted = toPclCloud(cloud);
  if (!converted.cloud)
    return finish(refuse(answer, Refusal::kUnreadableCloud, converted.error), start);
  const Placement placement = frames_.place(header);
  if (!placement.camera_to_base)
    return finish(refuse(answer, placement.refusal, placement.error), start);

  // Float64 coordinates in a frame of tf2's are placed in double; float32 ones and the
  // configured extrinsic take the estimator's own transform, as litterpose-estimate does.
  const bool precise = placement.looked_up && hasFloat64Coordinates(cloud);
  if (precise) converted = toPclCloud(cloud, *placement.looked_up);
  const EstimateOutcome outcome =
      precise ? estimation_->estimateInBaseFrame(converted.cloud, trash_type, entry,
                                                 *placement.camera_to_base)
              : estimation_->estimate(converted.cloud, trash_type, entry,
                                      *placement.camera_to_base);
  if (outcome.raised)
    return finish(refuse(answer, Refusal::kEstimatorError,
                         "the estimate of a cloud of " + std::to_string(converted.cloud->size()) +
                             " points raised: " + oneLine(outcome.error)),
                  start);

  const GrabPoseEstimate& e = estimation_->estimator();
  answer.status = GraspResult::OK;
  answer.code = outcome.result;
  answer.meaning = litterpose::describeResult(outcome.result, entry);
  answer.reason = e.reason_text_;
  answer.reason_name = litterpose::reasonName(e.reason_);
  if (outcome.result == litterpose::kGrabFound)
    answer.pose = toPoseStamped(e.grab_pose_, answer.header).pose;
  if (litterpose::classifiesMainAxis(outcome.result))
    answer.main_axis_type = static_cast<std::int8_t>(e.main_axis_type_);
  ROS_DEBUG("cloud of %zu points (%zu not finite), trash type %d, entry %s: %d, %s; %s",
            converted.cloud->size(), converted.non_finite_points, trash_type,
            answer.entry.c_str(), answer.code, answer.meaning.c_str(), answer.reason.c_str());
  return finish(answer, start);
}

GraspResult GraspServer::unreadable(const std_msgs::Header& header, std::int32_t trash_type,
                                    std::string why) {
  const auto start = Clock::now();
  GraspResult answer = addressed(header, trash_type);
  return finish(refuse(answer, Refusal::kUnreadableCloud, std::move(why)), start);
}

GraspResult GraspServer::addressed(const std_msgs::Header& header, std::int32_t trash_type) const {
  GraspResult answer;
  answer.header.stamp = header.stamp;
  answer.header.frame_id = frames_.settings().base_frame;
  answer.trash_type = trash_type;
  return answer;
}

GraspResult& GraspServer::refuse(GraspResult& answer, Refusal refusal, std::string why) {
  answer.status = refusalStatus(refusal);
  answer.code = 0;
  answer.meaning = statusMeaning(answer.status);
  answer.reason = std::move(why);
  answer.reason_name = refusalName(refusal);
  if (const auto left_out = throttle_.admit(answer.reason_name, Clock::now())) {
    const std::string more =
        *left_out == 0 ? std::string()
                       : " (" + std::to_string(*left_out) + " more since the last such line)";
    if (refusal == Refusal::kEstimatorError)
      ROS_ERROR("%s [%s]%s", answer.reason.c_str(), answer.reason_name.c_str(), more.c_str());
    else
      ROS_WARN("refused a cloud: %s [%s]%s", answer.reason.c_str(), answer.reason_name.c_str(),
               more.c_str());
  }
  return answer;
}

GraspResult& GraspServer::finish(GraspResult& answer, Clock::time_point start) {
  answer.elapsed = ros::Duration(std::chrono::duration<double>(Clock::now() - start).count());
  statistics_.record(answer);
  return answer;
}

visualization_msgs::MarkerArray GraspServer::markers(const GraspResult& answer) const {
  if (answer.status == GraspResult::OK && answer.code == litterpose::kGrabFound)
    return graspMarkers(estimation_->estimator(), answer.header);
  return deleteAllMarkers(answer.header);
}

void GraspServer::diagnose(diagnostic_updater::DiagnosticStatusWrapper& status) {
  statistics_.report(status, Clock::now());
}

std::int32_t resultCode(const GraspResult& answer) {
  return answer.status == GraspResult::OK ? answer.code : litterpose::kTooFewPoints;
}

geometry_msgs::PoseStamped toPoseStamped(const GraspResult& answer) {
  geometry_msgs::PoseStamped pose;
  pose.header = answer.header;
  pose.pose = answer.pose;
  return pose;
}

}  // namespace litterpose_ros

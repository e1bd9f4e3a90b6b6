// The node's answer to one object's cloud, whichever way it came (the service ~estimate,
// the topic object, the topic cloud): the entry chosen, the message read, the cloud's frame
// placed, the estimate run, its GraspResult built, refusals logged within limits and
// everything counted for the diagnostics. No node handle in here: the node publishes.
#ifndef LITTERPOSE_ROS_GRASP_SERVER_H
#define LITTERPOSE_ROS_GRASP_SERVER_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <geometry_msgs/PoseStamped.h>
#include <litterpose_msgs/GraspResult.h>
#include <sensor_msgs/PointCloud2.h>
#include <std_msgs/Header.h>
#include <visualization_msgs/MarkerArray.h>

#include "litterpose_ros/diagnostics.h"
#include "litterpose_ros/estimation.h"
#include "litterpose_ros/frames.h"
#include "litterpose_ros/refusals.h"

namespace litterpose_ros {

// A refusal of one cause is logged at most once in this period, with the number left out.
inline constexpr std::chrono::seconds kRefusalLogPeriod{10};

class GraspServer {
public:
  GraspServer(std::unique_ptr<Estimation> estimation, CloudFrames frames);

  // The answer to the cloud with the header's stamp and frame (the cloud's own header is
  // not read), for the trash type, by the named entry (empty: the configured one). The
  // answer's header has the stamp and the base frame.
  litterpose_msgs::GraspResult answer(const sensor_msgs::PointCloud2& cloud,
                                      const std_msgs::Header& header, std::int32_t trash_type,
                                      std::string_view entry = {});

  // The answer to a message that could not be read at all (its reason says why), with the
  // header's stamp: refused as unreadable_cloud, counted and logged as any refusal.
  litterpose_msgs::GraspResult unreadable(const std_msgs::Header& header,
                                          std::int32_t trash_type, std::string why);

  // The markers that show the last answer: its estimate's on a grasp, a DELETEALL otherwise.
  visualization_msgs::MarkerArray markers(const litterpose_msgs::GraspResult& answer) const;

  // Fills the node's diagnostic status and starts a new period.
  void diagnose(diagnostic_updater::DiagnosticStatusWrapper& status);

  const Estimation& estimation() const { return *estimation_; }
  const CloudFrames& frames() const { return frames_; }

private:
  using Clock = std::chrono::steady_clock;
  // An answer with the request's stamp and trash type, in the base frame.
  litterpose_msgs::GraspResult addressed(const std_msgs::Header& header,
                                         std::int32_t trash_type) const;
  litterpose_msgs::GraspResult& refuse(litterpose_msgs::GraspResult& answer, Refusal refusal,
                                       std::string why);
  litterpose_msgs::GraspResult& finish(litterpose_msgs::GraspResult& answer,
                                       Clock::time_point start);

  std::unique_ptr<Estimation> estimation_;
  CloudFrames frames_;
  RefusalThrottle throttle_{kRefusalLogPeriod};
  Statistics statistics_{Clock::now()};
};

// What the topic grasp_result carries for the answer: the entry's code, and 11 (too few
// points), as always, when the cloud was not estimated.
std::int32_t resultCode(const litterpose_msgs::GraspResult& answer);

// The answer's grasp pose with its header, for grasp_pose.
geometry_msgs::PoseStamped toPoseStamped(const litterpose_msgs::GraspResult& answer);

}  // namespace litterpose_ros

#endif

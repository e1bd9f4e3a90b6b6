// One estimator serving a stream of camera-frame clouds, each answered as a fresh
// estimator built from the same configuration would answer it (as litterpose-estimate
// does per file): an estimate leaves state behind (the preparation may overwrite its
// configured z margin, an exactly vertical main axis keeps the previous class), so before
// every estimate those members get back the values construction gave them. No ROS in here.
#ifndef LITTERPOSE_ROS_ESTIMATION_H
#define LITTERPOSE_ROS_ESTIMATION_H

#include <memory>
#include <string>

#include <litterpose.h>
#include <litterpose_console.h>
#include <litterpose_result.h>

namespace litterpose_ros {

using Entry = litterpose::Entry;

// The estimator's console lines for a node: nowhere when quiet, else each line without its
// colours as a rosconsole debug line of the logger ros.<package>.estimator (empty lines,
// the estimator's bare colour resets, left out).
litterpose::ConsoleSink estimatorLog(bool quiet);

// rosconsole turns what it logs into text by the character set of the process's locale,
// which is ASCII until the program chooses one: the estimator's lines are UTF-8, many of
// them Chinese, and would come out as question marks. Sets the character set to UTF-8;
// call it before anything is logged.
void logInUtf8();

struct EstimateOutcome {
  int result = 0;       // the entry's code; kTooFewPoints when the estimate raised
  bool raised = false;
  std::string error;    // what the estimate raised
};

class Estimation {
public:
  // Loads the configuration; throws what the estimator's constructor throws (among it
  // litterpose::ConfigurationError for a calibration it cannot work with). What the
  // estimator prints, from its construction on, goes to the log.
  Estimation(const std::string& config_path, Entry entry, litterpose::ConsoleSink log);
  Estimation(const Estimation&) = delete;
  Estimation& operator=(const Estimation&) = delete;

  // Brings the cloud (camera frame) into the base frame with the configured extrinsic and
  // runs the configured entry for the trash type. Exceptions are caught and reported in the
  // outcome.
  EstimateOutcome estimate(const GrabPoseEstimate::CloudPtr& camera_cloud, int trash_type);

  // The same with the given entry and camera-to-base transform, which stands in for the
  // configured extrinsic in this estimate, also as the camera's pose whose rays it follows.
  EstimateOutcome estimate(const GrabPoseEstimate::CloudPtr& camera_cloud, int trash_type,
                           Entry entry, const Eigen::Matrix4f& camera_to_base);

  // The same for a cloud the caller has brought into the base frame already; the transform
  // gives the camera's pose only.
  EstimateOutcome estimateInBaseFrame(const GrabPoseEstimate::CloudPtr& base_cloud,
                                      int trash_type, Entry entry,
                                      const Eigen::Matrix4f& camera_to_base);

  Entry entry() const { return entry_; }
  const Eigen::Matrix4f& configuredExtrinsic() const { return configured_extrinsic_; }

  // The estimator, holding the results of the last estimate.
  const GrabPoseEstimate& estimator() const { return *estimator_; }

private:
  EstimateOutcome run(const GrabPoseEstimate::CloudPtr& cloud, bool in_base_frame,
                      int trash_type, Entry entry, const Eigen::Matrix4f& camera_to_base);

  Entry entry_;
  std::unique_ptr<GrabPoseEstimate> estimator_;
  // The values an estimate may leave behind for the next one, as construction set them;
  // everything else an estimate reads it has written first, or is given.
  litterpose::ConfiguredState configured_;
  Eigen::Matrix4f configured_extrinsic_;
};

}  // namespace litterpose_ros

#endif

#include "litterpose_ros/estimation.h"

#include <cstdio>
#include <exception>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

#include <litterpose_result.h>

namespace litterpose_ros {
namespace {

// While one lives, file descriptor 1, where the estimator's printf and std::cout write,
// points at /dev/null. When the descriptors cannot be set up, output stays where it was.
class SilencedStdout {
public:
  explicit SilencedStdout(bool silence) {
    if (!silence) return;
    flush();
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDOUT_FILENO);
    if (null >= 0) ::close(null);
  }
  ~SilencedStdout() {
    if (saved_ < 0) return;
    flush();
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  SilencedStdout(const SilencedStdout&) = delete;
  SilencedStdout& operator=(const SilencedStdout&) = delete;

private:
  static void flush() {
    std::cout.flush();
    std::fflush(stdout);
  }
  int saved_ = -1;
};

}  // namespace

Estimation::Estimation(const std::string& config_path, Entry entry, bool quiet)
    : entry_(entry), quiet_(quiet) {
  {
    const SilencedStdout silenced(quiet_);
    estimator_ = std::make_unique<GrabPoseEstimate>(config_path);
  }
  configured_pass_ajust_value_ = estimator_->pass_ajust_value_;
  configured_main_axis_type_ = estimator_->main_axis_type_;
}

EstimateOutcome Estimation::estimate(const GrabPoseEstimate::CloudPtr& camera_cloud,
                                     int trash_type) {
  const SilencedStdout silenced(quiet_);
  EstimateOutcome outcome;
  try {
    GrabPoseEstimate& e = *estimator_;
    e.pass_ajust_value_ = configured_pass_ajust_value_;
    e.main_axis_type_ = configured_main_axis_type_;
    e.trash_type_ = trash_type;
    GrabPoseEstimate::CloudPtr input = camera_cloud;
    auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
    e.PclTransform(input, cloud, e.camera_extrinsic_);
    outcome.result = litterpose::runEntry(e, entry_, cloud);
  } catch (const std::exception& error) {
    outcome = {litterpose::kTooFewPoints, true, error.what()};
  } catch (...) {
    outcome = {litterpose::kTooFewPoints, true, "an exception of unknown type"};
  }
  return outcome;
}

}  // namespace litterpose_ros

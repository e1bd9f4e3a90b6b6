// The refusal of a configuration that the estimator cannot work with.
#ifndef LITTERPOSE_CONFIGURATION_H
#define LITTERPOSE_CONFIGURATION_H

#include <string>

#include <yaml-cpp/exceptions.h>

namespace litterpose {

// Thrown by the GrabPoseEstimate constructor for a value that would make its answers
// meaningless (a number that is not finite, a negative length, a window whose minimum
// exceeds its maximum, focal lengths that are not positive, an extrinsic that is not a
// rigid transform, a sequence of the wrong length, a key given twice, ...). what() names
// the key as written in the file, its value, the rule and the line. A member of yaml-cpp's
// exception family, like the constructor's other configuration failures (a missing file or
// key, YAML that does not parse): a host that catches YAML::Exception catches it too.
class ConfigurationError : public YAML::RepresentationException {
public:
  ConfigurationError(const YAML::Mark& mark, std::string key, const std::string& problem);
  ConfigurationError(const ConfigurationError&) = default;
  ~ConfigurationError() noexcept override;

  // The key as the file writes it: "grab_pose_estimate.workspace_r_max",
  // "camera_extrinsic.Rxyz[0]".
  std::string key;
};

}  // namespace litterpose

#endif

// The refusal of a configuration that the estimator cannot work with.
#ifndef LITTERPOSE_CONFIGURATION_H
#define LITTERPOSE_CONFIGURATION_H

#include <string>

#include <yaml-cpp/exceptions.h>
#include <yaml-cpp/node/node.h>

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

// A configuration file that cannot be read: it is missing, unreadable, or not a regular
// file. what() is yaml-cpp's "bad file: " with the path and the reason; a host that
// catches YAML::BadFile catches it too.
class ConfigurationFileError : public YAML::BadFile {
public:
  ConfigurationFileError(const std::string& path, std::string reason, int error_number);
  ConfigurationFileError(const ConfigurationFileError&) = default;
  ~ConfigurationFileError() noexcept override;

  std::string reason;  // "No such file or directory", "it is a FIFO (named pipe)", ...
  int error_number;    // the errno value that tells the cause (ENOENT, EISDIR, ...)
};

// The configuration file's YAML document (a null node for an empty file). The path must
// name a regular file: a FIFO, a device or a directory is refused at once, without waiting
// on it, and the file is opened once. Throws ConfigurationFileError when it cannot be read,
// YAML::ParserException for text that is not YAML, and ConfigurationError for a second
// document that holds anything (it would be ignored).
YAML::Node loadConfigurationFile(const std::string& path);

}  // namespace litterpose

#endif

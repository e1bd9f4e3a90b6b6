// The check of a configuration document before the constructor reads it: every key the
// constructor will read is present, of its type and within its rule, so that no read fails
// with yaml-cpp's bare "bad conversion" and no estimator runs on values that make its
// answers meaningless.
#ifndef LITTERPOSE_INTERNAL_CONFIGURATION_CHECK_H
#define LITTERPOSE_INTERNAL_CONFIGURATION_CHECK_H

#include <string>

#include <yaml-cpp/yaml.h>

namespace litterpose::configuration {

// The document's maps (no key twice) and the camera calibration: camera_extrinsic, the keys
// of the branch that is_eye_on_hand and is_use_euler choose, and camera_intrinsic.
// A key or map that is missing raises YAML::RepresentationException naming it and the line
// of its map; a value that is refused, litterpose::ConfigurationError.
void checkCalibration(const YAML::Node& config);

// grab_pose_estimate and debug_choice; sor2_meank_value against robust_preparation.enable,
// and that flag's type; the map gripper (checkGripperMap).
void checkSettings(const YAML::Node& config);

// The optional map gripper: no key twice, none it does not know, enable true or false,
// stray_points a count, the sizes above 0, the clearance 0 or more and less than half the
// opening.
void checkGripperMap(const YAML::Node& config);

// The value as a float, or litterpose::ConfigurationError naming `key` (as the file writes
// it) when it is not a number, for keys that construction checks as it reads them.
float decodedNumber(const YAML::Node& node, const std::string& key);

}  // namespace litterpose::configuration

#endif

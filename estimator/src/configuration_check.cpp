// The rules of the configuration's values, checked on the document before the constructor
// reads it. Each key the estimator reads is one row: its name as the file writes it and
// the rule its value keeps beyond being a finite number of its type.
#include "internal/configuration_check.h"

#include <cmath>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Dense>

#include "litterpose.h"
#include "litterpose_configuration.h"

namespace litterpose {

ConfigurationError::ConfigurationError(const YAML::Mark& mark, std::string key_name,
                                       const std::string& problem)
    : YAML::RepresentationException(mark, problem), key(std::move(key_name)) {}

ConfigurationError::~ConfigurationError() noexcept = default;

namespace configuration {
namespace {

// Angles taken by sine and cosine (Euler angles, the tilt of the bottom cut) beyond a full
// turn either way are no setting anyone measured: of `Rxyz: [1e30, 0, 90]` only the
// rounding of sine and cosine is left.
constexpr double kMostAngle = 360.0;
// How far an extrinsic's rotation may be from orthonormal: the rounding of a matrix written
// with a few decimals, not a scale or a shear, which would move every grasp.
constexpr double kRotationTolerance = 1e-4;
// A length on an arm that reaches under a metre, and a correction of its grasp point: a
// value beyond them is one written in millimetres, not metres (`extend_length_max_: 12`
// would move a grasp 12 m).
constexpr float kMostLength = 10.0f;
constexpr float kMostCorrection = 1.0f;
// The share of an object's thickness a grasp point is pushed by.
constexpr float kMostRatio = 10.0f;

const char* const kMaps[] = {"camera_extrinsic", "camera_intrinsic", "grab_pose_estimate",
                             "debug_choice"};
// Optional, read and checked by the constructor itself; here only for its keys' uniqueness,
// the types of its values and robust_preparation.enable.
const char kRobustPreparation[] = "robust_preparation";

// What a number must be beyond finite.
enum class Rule {
  finite,
  non_negative,  // a length, a height, a margin, a ratio
  positive,      // focal lengths and principal point
  angle,         // an Euler angle of a calibration
  size,          // a side of a solid
  length,        // a length of the arm's set-up (metres)
  correction,    // a push of the grasp point (metres)
  ratio,         // a share of an object's extent
};

struct NumberKey {
  const char* key;
  Rule rule;
};

// Distances of the grab windows are offsets of a bound that grows with the object's height
// (isInGrabSpace), so they may be negative; every window's minimum is checked against its
// maximum below.
const NumberKey kGrabPoseEstimate[] = {
    {"base_height", Rule::length},
    {"finger2tcp", Rule::correction},
    {"extra_length_ratio", Rule::ratio},
    {"workspace_r_min", Rule::non_negative},
    {"workspace_r_max", Rule::non_negative},
    {"workspace_angle_min", Rule::finite},
    {"workspace_angle_max", Rule::finite},
    {"grab_vertical_distance_min", Rule::finite},
    {"grab_vertical_distance_max", Rule::finite},
    {"grab_vertical_angle_min", Rule::finite},
    {"grab_vertical_angle_max", Rule::finite},
    {"grab_parallel_distance_min", Rule::finite},
    {"grab_parallel_distance_max", Rule::finite},
    {"grab_parallel_angle_min", Rule::finite},
    {"grab_parallel_angle_max", Rule::finite},
    {"pass_ajust_value", Rule::non_negative},
    {"tcp_ajust_value", Rule::correction},
    {"tcp_ajust_threshold", Rule::non_negative},
    {"extend_height_threshold", Rule::non_negative},
    {"extend_lenth_threshold", Rule::non_negative},
    {"extend_length_max_", Rule::correction},
    {"remove_cloud_angle", Rule::angle},
    {"remove_bottom_height_threshold_1", Rule::non_negative},
    {"remove_bottom_height_threshold_2", Rule::non_negative},
    {"remove_bottom_height_threshold_3", Rule::non_negative},
};

// Windows of grab_pose_estimate: minimum and maximum. A window of one value is allowed.
const std::pair<const char*, const char*> kWindows[] = {
    {"workspace_r_min", "workspace_r_max"},
    {"workspace_angle_min", "workspace_angle_max"},
    {"grab_vertical_distance_min", "grab_vertical_distance_max"},
    {"grab_vertical_angle_min", "grab_vertical_angle_max"},
    {"grab_parallel_distance_min", "grab_parallel_distance_max"},
    {"grab_parallel_angle_min", "grab_parallel_angle_max"},
};

const NumberKey kCameraIntrinsic[] = {
    {"fx", Rule::positive}, {"fy", Rule::positive}, {"cx", Rule::positive}, {"cy", Rule::positive}};

// Optional: the gripper model. Every key may be left out (the estimator's defaults); one of
// another name is refused, so that a misspelt key cannot leave a size as it was.
const char kGripper[] = "gripper";
const char kGripperFlag[] = "enable";
const char kGripperStrays[] = "stray_points";
const NumberKey kGripperNumbers[] = {
    {"max_opening", Rule::size},     {"finger_length", Rule::size},
    {"finger_width", Rule::size},    {"finger_thickness", Rule::size},
    {"palm_width", Rule::size},      {"palm_depth", Rule::size},
    {"palm_height", Rule::size},     {"clearance", Rule::non_negative},
};

const char* const kDebugFlags[] = {"is_grab_slanted", "enable_process_cloud",
                                   "enable_pcacenter_extend", "is_on_floor"};
const char* const kDebugTexts[] = {"trash_code", "trash_test_pose", "file_name_suffix"};

std::string lineOf(const YAML::Node& node) { return std::to_string(node.Mark().line + 1); }

// A value as the file writes it.
std::string shown(const YAML::Node& node) {
  if (!node.IsDefined() || node.IsNull()) return "(nothing)";
  if (node.IsScalar()) return node.Scalar();
  if (node.IsMap()) return "(a map)";
  std::string items;
  for (const auto& item : node) {
    if (!item.IsScalar()) return "(a sequence of " + std::to_string(node.size()) + ")";
    items += (items.empty() ? "" : ", ") + item.Scalar();
  }
  return "[" + items + "]";
}

[[noreturn]] void refuse(const YAML::Node& node, const std::string& key,
                         const std::string& problem) {
  throw ConfigurationError(node.Mark(), key, key + " = " + shown(node) + ": " + problem);
}

// No key twice in a map: yaml-cpp keeps both, and a lookup finds only the first.
void checkUnique(const YAML::Node& map, const std::string& prefix) {
  std::map<std::string, YAML::Mark> seen;
  for (const auto& entry : map) {
    if (!entry.first.IsScalar()) continue;
    const std::string key = entry.first.Scalar();
    const auto [first, fresh] = seen.emplace(key, entry.first.Mark());
    if (!fresh)
      throw ConfigurationError(entry.first.Mark(), prefix + key,
                               prefix + key + " is given a second time (first on line " +
                                   std::to_string(first->second.line + 1) +
                                   ", which alone would be read)");
  }
}

YAML::Node mapNamed(const YAML::Node& config, const char* name) {
  const YAML::Node map = config[name];
  if (!map)
    throw YAML::RepresentationException(config.Mark(),
                                        std::string("the map ") + name + " is missing");
  if (!map.IsMap()) refuse(map, name, "not a map of keys");
  return map;
}

YAML::Node keyOf(const YAML::Node& map, const std::string& map_name, const char* key) {
  const YAML::Node node = map[key];
  if (!node)
    throw YAML::RepresentationException(
        map.Mark(), map_name + "." + key + " is missing (" + map_name + " needs it)");
  // An empty value's place is where the next token starts: the key's line is the one meant.
  if (node.IsNull())
    for (const auto& entry : map)
      if (entry.first.IsScalar() && entry.first.Scalar() == key)
        throw ConfigurationError(entry.first.Mark(), map_name + "." + key,
                                 map_name + "." + key + " = (nothing): the key has no value");
  return node;
}

float number(const YAML::Node& node, const std::string& key, Rule rule) {
  const float value = decodedNumber(node, key);
  if (!std::isfinite(value)) refuse(node, key, "not finite");
  switch (rule) {
    case Rule::non_negative:
      if (value < 0.0f)
        refuse(node, key, "negative (a length, height, margin or ratio is 0 or more)");
      break;
    case Rule::positive:
      if (!(value > 0.0f)) refuse(node, key, "not above 0 (focal lengths and principal point are)");
      break;
    case Rule::size:
      if (!(value > 0.0f)) refuse(node, key, "not above 0 (a side of a solid is)");
      break;
    case Rule::length:
    case Rule::correction:
    case Rule::ratio: {
      const float most = rule == Rule::length ? kMostLength
                         : rule == Rule::correction ? kMostCorrection
                                                    : kMostRatio;
      if (value < 0.0f)
        refuse(node, key, "negative (a length, height, margin or ratio is 0 or more)");
      if (value > most) {
        std::ostringstream limit;
        limit << most;
        refuse(node, key,
               rule == Rule::ratio ? "above " + limit.str() + " (a share of the object's extent)"
                                   : "above " + limit.str() + " m (metres are meant, not millimetres)");
      }
      break;
    }
    case Rule::angle:
      if (std::abs(value) > kMostAngle)
        refuse(node, key, "outside -360 to 360 degrees (an angle lies within a turn either way)");
      break;
    case Rule::finite: break;
  }
  return value;
}

std::vector<float> numbers(const YAML::Node& map, const std::string& map_name, const char* key,
                           std::size_t count, Rule rule) {
  const YAML::Node node = keyOf(map, map_name, key);
  const std::string name = map_name + "." + key;
  const std::string needs = "it needs " + std::to_string(count) + " numbers";
  if (!node.IsSequence()) refuse(node, name, "not a sequence (" + needs + ")");
  if (node.size() != count)
    refuse(node, name, "holds " + std::to_string(node.size()) + " values (" + needs + ")");
  std::vector<float> values;
  for (std::size_t i = 0; i < count; ++i)
    values.push_back(number(node[i], name + "[" + std::to_string(i) + "]", rule));
  return values;
}

bool flag(const YAML::Node& map, const std::string& map_name, const char* key) {
  const YAML::Node node = keyOf(map, map_name, key);
  bool value = false;
  if (!node.IsScalar() || !YAML::convert<bool>::decode(node, value))
    refuse(node, map_name + "." + key, "not true or false");
  return value;
}

// Sixteen numbers, row by row, that the estimator uses as a camera pose: a rotation (within
// rounding) and a translation, over the row 0 0 0 1.
void checkRigid(const YAML::Node& map, const std::string& map_name, const char* key) {
  const std::vector<float> m = numbers(map, map_name, key, 16, Rule::finite);
  const YAML::Node node = map[key];
  const std::string name = map_name + "." + key;
  for (std::size_t k = 12; k < 16; ++k)
    if (m[k] != (k == 15 ? 1.0f : 0.0f))
      refuse(node[k], name + "[" + std::to_string(k) + "]",
             std::string("not ") + (k == 15 ? "1" : "0") +
                 " (a rigid transform's last row is 0 0 0 1)");
  Eigen::Matrix3d rotation;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rotation(i, j) = m[static_cast<std::size_t>(4 * i + j)];
  const double off =
      (rotation.transpose() * rotation - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff();
  if (off > kRotationTolerance) {
    std::ostringstream how_far;
    how_far << std::setprecision(3) << off;
    refuse(node, name,
           "not a rigid transform: its rotation is " + how_far.str() +
               " off orthonormal (at most 1e-4; a scale or shear would move every grasp)");
  }
  if (rotation.determinant() < 0.0)
    refuse(node, name,
           "not a rigid transform: its rotation is a reflection (determinant -1), which "
           "would mirror every grasp");
}

bool robustPreparationEnabled(const YAML::Node& config) {
  const YAML::Node robust = config[kRobustPreparation];
  bool enabled = false;
  return robust && robust.IsMap() && robust["enable"] &&
         YAML::convert<bool>::decode(robust["enable"], enabled) && enabled;
}

void checkDocument(const YAML::Node& config) {
  std::string maps;
  for (const char* name : kMaps) maps += (maps.empty() ? "" : ", ") + std::string(name);
  if (!config || config.IsNull())
    throw YAML::RepresentationException(config.Mark(),
                                        "the configuration is empty; it needs the maps " + maps);
  if (!config.IsMap())
    throw YAML::RepresentationException(config.Mark(), "the configuration is " + shown(config) +
                                                           ", not a map holding the maps " + maps);
  checkUnique(config, "");
  for (const char* name : kMaps) checkUnique(mapNamed(config, name), std::string(name) + ".");
  const YAML::Node robust = config[kRobustPreparation];
  if (robust && robust.IsMap()) checkUnique(robust, std::string(kRobustPreparation) + ".");
}

std::string gripperKeys() {
  std::string keys = std::string(kGripperFlag) + ", " + kGripperStrays;
  for (const auto& [key, rule] : kGripperNumbers) keys += std::string(", ") + key;
  return keys;
}

}  // namespace

void checkGripperMap(const YAML::Node& config) {
  const YAML::Node map = config[kGripper];
  if (!map || map.IsNull()) return;
  if (!map.IsMap()) refuse(map, kGripper, "not a map of keys");
  checkUnique(map, std::string(kGripper) + ".");
  const GrabPoseEstimate::Gripper defaults;
  float max_opening = defaults.max_opening;
  float clearance = defaults.clearance;
  for (const auto& entry : map) {
    const std::string key = entry.first.IsScalar() ? entry.first.Scalar() : shown(entry.first);
    const std::string name = std::string(kGripper) + "." + key;
    if (key == kGripperFlag) {
      flag(map, kGripper, kGripperFlag);
      continue;
    }
    if (key == kGripperStrays) {
      int strays = 0;
      if (!entry.second.IsScalar() || !YAML::convert<int>::decode(entry.second, strays))
        refuse(entry.second, name, "not an integer");
      if (strays < 0) refuse(entry.second, name, "negative (a count of points is 0 or more)");
      continue;
    }
    const NumberKey* known = nullptr;
    for (const NumberKey& k : kGripperNumbers)
      if (key == k.key) known = &k;
    if (known == nullptr)
      refuse(entry.second, name, "not a key of the gripper (its keys: " + gripperKeys() + ")");
    const float value = number(entry.second, name, known->rule);
    if (key == "max_opening") max_opening = value;
    if (key == "clearance") clearance = value;
  }
  if (!(2 * clearance < max_opening)) {
    const YAML::Node at = map["clearance"] ? map["clearance"] : map["max_opening"];
    std::ostringstream why;
    why << "twice the clearance (" << clearance << ") leaves nothing of the opening ("
        << max_opening << ") for an object";
    refuse(at, std::string(kGripper) + (map["clearance"] ? ".clearance" : ".max_opening"),
           why.str());
  }
}

float decodedNumber(const YAML::Node& node, const std::string& key) {
  float value = 0.0f;
  if (!node.IsScalar() || !YAML::convert<float>::decode(node, value))
    refuse(node, key, "not a number (or not one that a float holds)");
  return value;
}

void checkCalibration(const YAML::Node& config) {
  checkDocument(config);
  const std::string extrinsic_name = "camera_extrinsic";
  const YAML::Node extrinsic = config[extrinsic_name];
  const bool on_arm = flag(extrinsic, extrinsic_name, "is_eye_on_hand");
  const bool euler = flag(extrinsic, extrinsic_name, "is_use_euler");
  if (on_arm) {
    numbers(extrinsic, extrinsic_name, "base2flange_euler", 3, Rule::angle);
    numbers(extrinsic, extrinsic_name, "base2flange_T", 3, Rule::finite);
  }
  if (euler) {
    numbers(extrinsic, extrinsic_name, on_arm ? "flange2camera_euler" : "Rxyz", 3, Rule::angle);
    numbers(extrinsic, extrinsic_name, on_arm ? "flange2camera_T" : "Txyz", 3, Rule::finite);
  } else {
    checkRigid(extrinsic, extrinsic_name, on_arm ? "flange2camera" : "data");
  }
  const std::string intrinsic_name = "camera_intrinsic";
  const YAML::Node intrinsic = config[intrinsic_name];
  for (const auto& [key, rule] : kCameraIntrinsic)
    number(keyOf(intrinsic, intrinsic_name, key), intrinsic_name + "." + key, rule);
}

void checkSettings(const YAML::Node& config) {
  const std::string grab_name = "grab_pose_estimate";
  const YAML::Node grab = config[grab_name];
  for (const auto& [key, rule] : kGrabPoseEstimate)
    number(keyOf(grab, grab_name, key), grab_name + "." + key, rule);
  for (const auto& [min_key, max_key] : kWindows) {
    const YAML::Node min = grab[min_key], max = grab[max_key];
    if (min.as<float>() > max.as<float>())
      refuse(min, grab_name + "." + min_key,
             "above " + grab_name + "." + max_key + " = " + max.Scalar() + " (line " + lineOf(max) +
                 "); a window's minimum cannot exceed its maximum");
  }
  const YAML::Node neighbours = keyOf(grab, grab_name, "sor2_meank_value");
  int k = 0;
  if (!neighbours.IsScalar() || !YAML::convert<int>::decode(neighbours, k))
    refuse(neighbours, grab_name + ".sor2_meank_value", "not an integer");
  if (k < 1 && robustPreparationEnabled(config))
    refuse(neighbours, grab_name + ".sor2_meank_value",
           "below 1, and robust_preparation.enable is true (its outlier test needs a neighbour)");

  // The robust preparation's own reading refuses unknown keys and values out of range, and
  // takes its numbers through decodedNumber.
  const YAML::Node robust = config[kRobustPreparation];
  if (robust && robust.IsMap() && robust["enable"])
    flag(robust, kRobustPreparation, "enable");

  checkGripperMap(config);

  const std::string debug_name = "debug_choice";
  const YAML::Node debug = config[debug_name];
  for (const char* key : kDebugFlags) flag(debug, debug_name, key);
  for (const char* key : kDebugTexts) {
    const YAML::Node node = keyOf(debug, debug_name, key);
    if (!node.IsScalar()) refuse(node, debug_name + "." + key, "not a text");
  }
  // The names make a directory (trash_code) and a file (the three joined) under the data
  // roots, and must stay there.
  std::string joined;
  for (const char* key : kDebugTexts) {
    const YAML::Node node = debug[key];
    joined += node.Scalar();
    const std::string path = "/" + joined + "/";
    if (joined.find('\0') != std::string::npos || path.find("/../") != std::string::npos)
      refuse(node, debug_name + "." + key,
             "the data recording names must make a path under the data directories (no "
             "'..' part, no null byte)");
  }
}

}  // namespace configuration
}  // namespace litterpose

// The configuration check at construction: nonsense values are refused with the key as the
// file writes it, the value, the rule and the line; every value the behaviour depends on
// stays accepted.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <litterpose_configuration.h>

#include "support/estimator.h"

namespace {

using Edits = std::vector<std::pair<std::string, std::string>>;

// The shipped configuration's text with each (old, new) replaced once, in a new file.
std::string editedConfig(const Edits& edits) {
  std::ifstream shipped(support::default_config_path());
  std::stringstream text;
  text << shipped.rdbuf();
  std::string config = text.str();
  for (const auto& [from, to] : edits) {
    const auto at = config.find(from);
    if (at == std::string::npos) ADD_FAILURE() << "the configuration holds no " << from;
    else config.replace(at, from.size(), to);
  }
  const std::string path = run_program::scratchPath("checked.yaml");
  std::ofstream(path) << config;
  return path;
}

// The number of the line on which the file first holds the text.
std::size_t lineOf(const std::string& path, const std::string& text) {
  std::ifstream file(path);
  std::string line;
  for (std::size_t number = 1; std::getline(file, line); ++number)
    if (line.find(text) != std::string::npos) return number;
  return 0;
}

// Constructs from the file with the printed lines swallowed; the refusal's key and text,
// or empty when the construction succeeded. Other exceptions pass.
template <typename Refusal>
std::pair<std::string, std::string> refusalOf(const std::string& path) {
  std::pair<std::string, std::string> refusal;
  support::printed_by([&] {
    try {
      GrabPoseEstimate estimator(path);
    } catch (const Refusal& e) {
      if constexpr (std::is_same_v<Refusal, litterpose::ConfigurationError>) refusal.first = e.key;
      refusal.second = e.what();
    }
  });
  return refusal;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const std::pair<std::string, std::string> kMatrixForm = {"is_use_euler: true", "is_use_euler: false"};
const std::pair<std::string, std::string> kCameraOnArm = {"is_eye_on_hand: false", "is_eye_on_hand: true"};

TEST(ConfigurationCheck, NonsenseIsRefusedNamingKeyValueRuleAndLine) {
  const struct {
    const char* rule;
    Edits edits;
    std::string key;
    std::string words;
    std::string line;   // text on the line the refusal names
  } nonsense[] = {
      {"not a number", {{"workspace_r_max: 0.9", "workspace_r_max: .nan"}}, "grab_pose_estimate.workspace_r_max", ".nan: not finite", "workspace_r_max: .nan"},
      {"infinite", {{"base_height: 0.176", "base_height: -.inf"}}, "grab_pose_estimate.base_height", "-.inf: not finite", "base_height: -.inf"},
      {"negative length", {{"finger2tcp: 0.0", "finger2tcp: -1"}}, "grab_pose_estimate.finger2tcp", "-1: negative", "finger2tcp"},
      {"a correction in millimetres", {{"extend_length_max_: 0.012", "extend_length_max_: 12"}}, "grab_pose_estimate.extend_length_max_", "12: above 1 m (metres are meant, not millimetres)", "extend_length_max_: 12"},
      {"a push beyond any reach", {{"tcp_ajust_value: 0.008", "tcp_ajust_value: 1e30"}}, "grab_pose_estimate.tcp_ajust_value", "1e30: above 1 m", "tcp_ajust_value"},
      {"a base height in millimetres", {{"base_height: 0.176", "base_height: 176"}}, "grab_pose_estimate.base_height", "176: above 10 m", "base_height: 176"},
      {"a ratio beyond the object", {{"extra_length_ratio: 0.8", "extra_length_ratio: 80"}}, "grab_pose_estimate.extra_length_ratio", "80: above 10 (a share of the object's extent)", "extra_length_ratio"},
      {"negative threshold", {{"tcp_ajust_threshold: 0.02", "tcp_ajust_threshold: -0.02"}}, "grab_pose_estimate.tcp_ajust_threshold", "-0.02: negative", "tcp_ajust_threshold"},
      {"window upside down", {{"grab_vertical_distance_min: 0.2", "grab_vertical_distance_min: 0.61"}}, "grab_pose_estimate.grab_vertical_distance_min", "0.61: above grab_pose_estimate.grab_vertical_distance_max = 0.6", "grab_vertical_distance_min"},
      {"focal length 0", {{"fx: 385.5", "fx: 0"}}, "camera_intrinsic.fx", "0: not above 0", "fx:"},
      {"principal point -1", {{"cy: 238.7", "cy: -1"}}, "camera_intrinsic.cy", "-1: not above 0", "cy:"},
      {"not a number at all", {{"fy: 385.5", "fy: wide"}}, "camera_intrinsic.fy", "wide: not a number", "fy:"},
      {"angle far beyond a turn", {{"Rxyz: [-135.0,", "Rxyz: [1e30,"}}, "camera_extrinsic.Rxyz[0]", "1e30: outside -360 to 360 degrees", "Rxyz"},
      {"a fourth angle", {{"90.0]", "90.0, 5.0]"}}, "camera_extrinsic.Rxyz", "[-135.0, 0.0, 90.0, 5.0]: holds 4 values", "Rxyz"},
      {"translation not finite", {{"Txyz: [0.15, 0.0,", "Txyz: [0.15, .nan,"}}, "camera_extrinsic.Txyz[1]", ".nan: not finite", "Txyz"},
      {"reflected extrinsic", {kMatrixForm, {"1.0,  0.0,         0.0,        0.0,", "-1.0, 0.0,         0.0,        0.0,"}}, "camera_extrinsic.data", "not a rigid transform: its rotation is a reflection", "data:"},
      {"sheared extrinsic", {kMatrixForm, {"0.0, -0.70710678, -0.70710678", "0.0, -0.70710678, -0.60710678"}}, "camera_extrinsic.data", "not a rigid transform: its rotation is 0.", "data:"},
      {"bottom row", {kMatrixForm, {"0.0,        1.0 ]", "0.5,        1.0 ]"}}, "camera_extrinsic.data[14]", "0.5: not 0 (a rigid transform's last row is 0 0 0 1)", "1.0 ]"},
      {"a 17th matrix number", {kMatrixForm, {"1.0 ]", "1.0, 0.0 ]"}}, "camera_extrinsic.data", "holds 17 values", "data:"},
      {"flange angle", {kCameraOnArm, {"base2flange_euler: [0.0, 0.0, 0.0]", "base2flange_euler: [0.0, 0.0, 400]"}}, "camera_extrinsic.base2flange_euler[2]", "400: outside -360 to 360", "base2flange_euler"},
      {"flange matrix scaled", {kCameraOnArm, kMatrixForm, {"flange2camera: [1.0,", "flange2camera: [2.0,"}}, "camera_extrinsic.flange2camera", "not a rigid transform", "flange2camera:"},
      {"a key twice", {{"workspace_r_min: 0.2", "workspace_r_min: 0.2\n  workspace_r_min: 0.3"}}, "grab_pose_estimate.workspace_r_min", "", "workspace_r_min: 0.3"},
      {"robust preparation without neighbours", {{"enable: false", "enable: true"}, {"sor2_meank_value: 50", "sor2_meank_value: 0"}}, "grab_pose_estimate.sor2_meank_value", "0: below 1", "sor2_meank_value"},
      {"not an integer", {{"sor2_meank_value: 50", "sor2_meank_value: 50.5"}}, "grab_pose_estimate.sor2_meank_value", "50.5: not an integer", "sor2_meank_value"},
      {"not a flag", {{"is_on_floor: false", "is_on_floor: perhaps"}}, "debug_choice.is_on_floor", "perhaps: not true or false", "is_on_floor"},
      {"a key without a value", {{"workspace_r_min: 0.2", "workspace_r_min:"}}, "grab_pose_estimate.workspace_r_min", "(nothing): the key has no value", "workspace_r_min:"},
      {"a recording name that climbs", {{"trash_test_pose: \"test_pose\"", "trash_test_pose: \"/../../etc\""}}, "debug_choice.trash_test_pose", "/../../etc: the data recording names must make a path under the data directories", "trash_test_pose"},
      {"robust preparation, not a number", {{"std_dev_mul: 3.0", "std_dev_mul: many"}}, "robust_preparation.std_dev_mul", "many: not a number", "std_dev_mul: many"},
      {"gripper key misspelt", {{"max_opening: 0.11", "max_openin: 0.11"}}, "gripper.max_openin", "0.11: not a key of the gripper", "max_openin: 0.11"},
      {"clearance leaves no opening", {{"\n  clearance: 0.005", "\n  clearance: 0.055"}}, "gripper.clearance", "0.055: twice the clearance (0.055) leaves nothing", "clearance: 0.055"},
      {"stray points not a count", {{"stray_points: 5", "stray_points: 2.5"}}, "gripper.stray_points", "2.5: not an integer", "stray_points: 2.5"},
      {"finger of no thickness", {{"finger_thickness: 0.01", "finger_thickness: 0"}}, "gripper.finger_thickness", "0: not above 0", "finger_thickness: 0"},
  };
  for (const auto& n : nonsense) {
    SCOPED_TRACE(n.rule);
    const std::string path = editedConfig(n.edits);
    const auto [key, what] = refusalOf<litterpose::ConfigurationError>(path);
    ASSERT_FALSE(what.empty()) << "accepted";
    EXPECT_EQ(key, n.key);
    EXPECT_TRUE(contains(what, n.key + (n.words.empty() ? "" : " = "))) << what;
    EXPECT_TRUE(contains(what, n.words)) << what;
    EXPECT_TRUE(contains(what, "line " + std::to_string(lineOf(path, n.line)) + ",")) << what;
  }
}

TEST(ConfigurationCheck, MissingPartsAreNamedWithTheLineOfTheirMap) {
  const struct {
    Edits edits;
    std::string words;
  } missing[] = {
      {{{"extend_length_max_:", "extend_length_max:"}}, "grab_pose_estimate.extend_length_max_ is missing"},
      {{{"  fx: 385.5\n", ""}}, "camera_intrinsic.fx is missing"},
      {{{"debug_choice:", "debug_choices:"}}, "the map debug_choice is missing"},
  };
  for (const auto& m : missing) {
    SCOPED_TRACE(m.words);
    const std::string what = refusalOf<YAML::RepresentationException>(editedConfig(m.edits)).second;
    EXPECT_TRUE(contains(what, m.words)) << what;
    EXPECT_TRUE(contains(what, "line ")) << what;
  }
  const std::string empty = run_program::scratchPath("empty.yaml");
  std::ofstream(empty).flush();
  const std::string what = refusalOf<YAML::RepresentationException>(empty).second;
  EXPECT_TRUE(contains(what, "the configuration is empty")) << what;
}

TEST(ConfigurationCheck, EveryValueTheBehaviourDependsOnIsAccepted) {
  const Edits accepted[] = {
      {},  // the shipped configuration
      {{"workspace_angle_min: -60.0", "workspace_angle_min: -180"}, {"grab_parallel_angle_max: 60.0", "grab_parallel_angle_max: -10"}},
      {{"grab_parallel_distance_min: 0.5", "grab_parallel_distance_min: 0.7"}},  // a window of one value
      {{"grab_vertical_distance_min: 0.2", "grab_vertical_distance_min: -0.1"}},  // an offset of a bound that grows with height
      {{"sor2_meank_value: 50", "sor2_meank_value: -1"}},  // unused while robust preparation is off
      {{"enable: false", "enable: true"}, {"sor2_meank_value: 50", "sor2_meank_value: 1"}},
      {{"remove_cloud_angle: 15.0", "remove_cloud_angle: -30"}},
      {{"remove_bottom_height_threshold_1: 0.024", "remove_bottom_height_threshold_1: 0.1"}},  // bands out of order
      {{"Rxyz: [-135.0, 0.0, 90.0]", "Rxyz: [-360, 0, 360]"}},
      {kMatrixForm},
      {kCameraOnArm, kMatrixForm},
      {kCameraOnArm, {"base2flange_euler: [0.0, 0.0, 0.0]", "base2flange_euler: [-90, 45, 180]"}},
      {{"is_grab_slanted: false", "is_grab_slanted: yes"}},
  };
  for (const auto& edits : accepted) {
    const std::string path = editedConfig(edits);
    std::string failure;
    support::printed_by([&] {
      try {
        GrabPoseEstimate estimator(path);
      } catch (const std::exception& e) {
        failure = e.what();
      }
    });
    EXPECT_EQ(failure, "") << path;
  }
}

// Hosts catch configuration failures as yaml-cpp's exceptions; the refusals are among them.
TEST(ConfigurationCheck, RefusalsAreYamlExceptions) {
  const std::string path = editedConfig({{"base_height: 0.176", "base_height: .nan"}});
  support::printed_by([&] { EXPECT_THROW(GrabPoseEstimate{path}, YAML::Exception); });
}

// The calibration check that the programs made before construction did.
TEST(NonFiniteCalibration, NamesTheNumberThatIsNotFinite) {
  const struct {
    std::function<void(YAML::Node&)> edit;
    std::string key;
  } cases[] = {
      {[](YAML::Node& c) { c["camera_extrinsic"]["Txyz"][1] = ".nan"; }, "camera_extrinsic.Txyz[1]"},
      {[](YAML::Node& c) { c["camera_intrinsic"]["fy"] = "-.inf"; }, "camera_intrinsic.fy"},
  };
  for (const auto& c : cases) {
    const auto [key, what] = refusalOf<litterpose::ConfigurationError>(support::write_config(c.edit));
    EXPECT_EQ(key, c.key);
    EXPECT_TRUE(contains(what, "not finite")) << what;
  }
}

}  // namespace

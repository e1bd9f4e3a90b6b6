// Construction of the estimator: configuration, camera calibration, data directories.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <utility>

#include <boost/filesystem.hpp>
#include <yaml-cpp/yaml.h>

#include "internal/configuration_check.h"
#include "litterpose_configuration.h"
#include "internal/console.h"
#include "internal/robust_preparation.h"
#include "litterpose.h"
#include "quorvin_kinematics.h"

namespace {

const std::string kDataRoot = "/opt/halvanepro/trash_detect_data/";
const std::string kMissingDetectRoot = "/opt/halvanepro/trash_detect_data/mising_detect/";

// 4 x 4 homogeneous transform from a rotation and a translation.
Eigen::Matrix4f homogeneous(const Eigen::Matrix3f& rotation, const Eigen::Vector3f& translation) {
  Eigen::Matrix4f h = Eigen::Matrix4f::Identity();
  h.block<3, 3>(0, 0) = rotation;
  h.block<3, 1>(0, 3) = translation;
  return h;
}

Eigen::Matrix3f euler_rotation(const Eigen::Vector3f& degrees) {
  return eulerToRotationMatrix(degrees.x(), degrees.y(), degrees.z());
}

// A 16-element sequence, row by row.
Eigen::Matrix4f read_matrix(YAML::Node node) {
  Eigen::Matrix4f m;
  for (int k = 0; k < 16; ++k) m(k / 4, k % 4) = node[k].as<float>();
  return m;
}

// The optional map robust_preparation: absent, null or without a key, the member keeps its
// defaults. A key of another name is refused, so that a misspelt key cannot leave the
// preparation silently as it was; so is a value out of its range.
void read_robust_preparation(const YAML::Node& map, GrabPoseEstimate::RobustPreparation& r) {
  if (!map || map.IsNull()) return;
  if (!map.IsMap())
    throw YAML::RepresentationException(map.Mark(), "robust_preparation must be a map");
  struct Limit {
    const char* key;
    float* member;
    float low;
    bool low_included;
    float high;
  };
  constexpr float kNoLimit = std::numeric_limits<float>::max();
  const Limit floats[] = {
      {"below_floor_margin", &r.below_floor_margin, 0.0f, true, kNoLimit},
      {"std_dev_mul", &r.std_dev_mul, 0.0f, false, kNoLimit},
      {"voxel_size", &r.voxel_size, 0.0f, false, kNoLimit},
      {"floor_clearance", &r.floor_clearance, 0.0f, true, kNoLimit},
      {"bottom_share", &r.bottom_share, 0.0f, true, 1.0f},
      {"leaf_pixels", &r.leaf_pixels, 0.0f, true, kNoLimit},
      {"leaf_size", &r.leaf_size, 0.0f, true, kNoLimit},
      {"footprint_trim", &r.footprint_trim, 0.0f, true, 0.5f},
      {"footprint_margin", &r.footprint_margin, 0.0f, true, kNoLimit},
      {"floor_height_tolerance", &r.floor_height_tolerance, 0.0f, true, kNoLimit},
      {"floor_tilt_tolerance", &r.floor_tilt_tolerance, 0.0f, true, 90.0f},
  };
  for (const auto& entry : map) {
    if (!entry.first.IsScalar())
      throw litterpose::ConfigurationError(entry.first.Mark(), "robust_preparation",
                                           "robust_preparation: a key must be a name, not a "
                                           "sequence or a map");
    const std::string key = entry.first.Scalar();
    const std::string written = "robust_preparation." + key + " = " +
                                (entry.second.IsScalar() ? entry.second.Scalar() : "(not a value)");
    if (key == "enable") {
      if (!YAML::convert<bool>::decode(entry.second, r.enable))
        throw litterpose::ConfigurationError(entry.second.Mark(), "robust_preparation.enable",
                                             written + ": not true or false");
      continue;
    }
    const auto* limit = std::find_if(std::begin(floats), std::end(floats),
                                     [&](const Limit& l) { return key == l.key; });
    if (limit == std::end(floats))
      throw YAML::RepresentationException(entry.first.Mark(),
                                          "robust_preparation has no key '" + key + "'");
    const float value =
        litterpose::configuration::decodedNumber(entry.second, "robust_preparation." + key);
    const bool above = limit->low_included ? value >= limit->low : value > limit->low;
    if (!std::isfinite(value) || !above || !(value < limit->high || limit->high == kNoLimit)) {
      std::ostringstream why;
      why << written << ": " << key << " must be a number "
          << (limit->low_included ? "from " : "above ") << limit->low;
      if (limit->high != kNoLimit) why << " and below " << limit->high;
      throw litterpose::ConfigurationError(entry.second.Mark(), "robust_preparation." + key,
                                           why.str());
    }
    *limit->member = value;
  }
}

// The optional map gripper, checked before (configuration::checkGripperMap): a key left out
// keeps the member's default.
void read_gripper(const YAML::Node& map, GrabPoseEstimate::Gripper& g) {
  if (!map || map.IsNull()) return;
  if (const YAML::Node enable = map["enable"]) g.enable = enable.as<bool>();
  const std::pair<const char*, float*> sizes[] = {
      {"max_opening", &g.max_opening},   {"finger_length", &g.finger_length},
      {"finger_width", &g.finger_width}, {"finger_thickness", &g.finger_thickness},
      {"palm_width", &g.palm_width},     {"palm_depth", &g.palm_depth},
      {"palm_height", &g.palm_height},   {"clearance", &g.clearance},
  };
  for (const auto& [key, member] : sizes)
    if (const YAML::Node value = map[key]) *member = value.as<float>();
  if (const YAML::Node strays = map["stray_points"]) g.stray_points = strays.as<int>();
}

// Two 3-element sequences of a pair, read element by element in turn.
void read_pair(YAML::Node first_node, YAML::Node second_node, Eigen::Vector3f& first,
               Eigen::Vector3f& second) {
  for (int k = 0; k < 3; ++k) {
    first[k] = first_node[k].as<float>();
    second[k] = second_node[k].as<float>();
  }
}

}  // namespace

Eigen::Matrix3f eulerToRotationMatrix(double rx, double ry, double rz) {
  constexpr double kPi = 3.141592653589793;
  const double a = rx * kPi / 180.0, b = ry * kPi / 180.0, c = rz * kPi / 180.0;
  const double sa = std::sin(a), ca = std::cos(a);
  const double sb = std::sin(b), cb = std::cos(b);
  const double sc = std::sin(c), cc = std::cos(c);
  Eigen::Matrix3d r;
  r << cb * cc, sa * sb * cc - ca * sc, ca * sb * cc + sa * sc,
      cb * sc, sa * sb * sc + ca * cc, ca * sb * sc - sa * cc,
      -sb, sa * cb, ca * cb;
  return r.cast<float>();
}

GrabPoseEstimate::GrabPoseEstimate(std::string config_path, litterpose::ConsoleSink sink)
    : console_sink_(std::move(sink)) {
  kinematics_ = std::make_unique<QuorvinKinematics>(dh_d_, dh_a_, dh_alpha_, dh_offset_);
  connectKinematicsToSink();

  YAML::Node config = litterpose::loadConfigurationFile(config_path);
  litterpose::configuration::checkCalibration(config);

  YAML::Node extrinsic = config["camera_extrinsic"];
  is_eye_on_hand_ = extrinsic["is_eye_on_hand"].as<bool>();
  is_use_euler_ = extrinsic["is_use_euler"].as<bool>();
  if (!is_eye_on_hand_) {
    if (!is_use_euler_) {
      camera_extrinsic_ = read_matrix(extrinsic["data"]);
    } else {
      read_pair(extrinsic["Rxyz"], extrinsic["Txyz"], Rxyz_, Txyz_);
      camera_extrinsic_ = homogeneous(euler_rotation(Rxyz_), Txyz_);
    }
  } else {
    read_pair(extrinsic["base2flange_euler"], extrinsic["base2flange_T"], base2flange_euler_,
              base2flange_T_);
    base2flange_ = homogeneous(euler_rotation(base2flange_euler_), base2flange_T_);
    if (!is_use_euler_) {
      flange2camera_ = read_matrix(extrinsic["flange2camera"]);
    } else {
      Eigen::Vector3f euler, translation;
      read_pair(extrinsic["flange2camera_euler"], extrinsic["flange2camera_T"], euler,
                translation);
      flange2camera_ = homogeneous(euler_rotation(euler), translation);
    }
    camera_extrinsic_ = base2flange_ * flange2camera_;
  }
  litterpose::console::write(*this, "相机外参齐次变换矩阵：", RESET_FORMAT, '\n');
  litterpose::console::write(*this, camera_extrinsic_, RESET_FORMAT, '\n');

  YAML::Node intrinsic = config["camera_intrinsic"];
  fx_ = intrinsic["fx"].as<float>();
  fy_ = intrinsic["fy"].as<float>();
  cx_ = intrinsic["cx"].as<float>();
  cy_ = intrinsic["cy"].as<float>();
  litterpose::console::write(*this, "相机内参： ", "fx:", static_cast<double>(fx_), "  ", "fy:",
                             static_cast<double>(fy_), "  ", "cx:", static_cast<double>(cx_),
                             "  ", "cy:", static_cast<double>(cy_), RESET_FORMAT, '\n');
  console_sink_.flush();

  litterpose::configuration::checkSettings(config);
  YAML::Node grab = config["grab_pose_estimate"];
  const std::pair<const char*, float*> windows[] = {
      {"base_height", &base_height_},
      {"finger2tcp", &finger2tcp_},
      {"extra_length_ratio", &extra_length_ratio_},
      {"workspace_r_min", &workspace_r_min_},
      {"workspace_r_max", &workspace_r_max_},
      {"workspace_angle_min", &workspace_angle_min_},
      {"workspace_angle_max", &workspace_angle_max_},
      {"grab_vertical_distance_min", &grab_vertical_distance_min_},
      {"grab_vertical_distance_max", &grab_vertical_distance_max_},
      {"grab_vertical_angle_min", &grab_vertical_angle_min_},
      {"grab_vertical_angle_max", &grab_vertical_angle_max_},
      {"grab_parallel_distance_min", &grab_parallel_distance_min_},
      {"grab_parallel_distance_max", &grab_parallel_distance_max_},
      {"grab_parallel_angle_min", &grab_parallel_angle_min_},
      {"grab_parallel_angle_max", &grab_parallel_angle_max_},
  };
  for (const auto& [key, member] : windows) *member = grab[key].as<float>();
  sor2_meank_value_ = grab["sor2_meank_value"].as<int>();
  const std::pair<const char*, float*> adjustments[] = {
      {"pass_ajust_value", &pass_ajust_value_},
      {"tcp_ajust_value", &tcp_ajust_value_},
      {"tcp_ajust_threshold", &tcp_ajust_threshold_},
      {"extend_height_threshold", &extend_height_threshold_},
      {"extend_lenth_threshold", &extend_lenth_threshold_},
      {"extend_length_max_", &extend_length_max_},
      {"remove_cloud_angle", &remove_cloud_angle_},
      {"remove_bottom_height_threshold_1", &remove_bottom_height_threshold_1_},
      {"remove_bottom_height_threshold_2", &remove_bottom_height_threshold_2_},
      {"remove_bottom_height_threshold_3", &remove_bottom_height_threshold_3_},
  };
  for (const auto& [key, member] : adjustments) *member = grab[key].as<float>();

  YAML::Node debug = config["debug_choice"];
  is_grab_slanted_ = debug["is_grab_slanted"].as<bool>();
  enable_process_cloud_ = debug["enable_process_cloud"].as<bool>();
  enable_pcacenter_extend_ = debug["enable_pcacenter_extend"].as<bool>();
  is_on_floor_ = debug["is_on_floor"].as<bool>();
  trash_code_ = debug["trash_code"].as<std::string>();
  trash_test_pose_ = debug["trash_test_pose"].as<std::string>();
  file_name_suffix_ = debug["file_name_suffix"].as<std::string>();

  read_robust_preparation(config["robust_preparation"], robust_preparation_);
  read_gripper(config["gripper"], gripper_);
  floor_plane_ = Eigen::Vector4f(0.0f, 0.0f, 1.0f, base_height_);

  trash_data_dir_ = kDataRoot + trash_code_;
  const std::string missing_dir = kMissingDetectRoot + trash_code_;
  boost::filesystem::create_directories(trash_data_dir_);
  boost::filesystem::create_directories(missing_dir);
  const std::string file_name = trash_code_ + trash_test_pose_ + file_name_suffix_;
  trash_data_path_ = trash_data_dir_ + "/" + file_name;
  mising_detect_path_ = missing_dir + "/" + file_name;
}

GrabPoseEstimate::~GrabPoseEstimate() = default;

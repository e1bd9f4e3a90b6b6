#include "gripper_judge.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <litterpose.h>
#include <litterpose_configuration.h>
#include <yaml-cpp/yaml.h>

namespace litterpose_eval {
namespace {

// The band is sought this far beyond the fingers' widest reach: a part farther out cannot
// be in a finger's way.
constexpr double kBandReach = 0.03;
// Spacing of the points sampled in the fingers and the palm.
constexpr double kFingerSpacing = 0.003;
constexpr double kPalmSpacing = 0.005;

// An axis-aligned box of the tool frame.
struct Box {
  Eigen::Vector3d low, high;
};

class Grasp {
public:
  Grasp(const capture_sim::Scene& scene, double floor_z, const Eigen::Vector3d& position,
        const Eigen::Matrix3d& tool)
      : scene_(scene), floor_z_(floor_z) {
    const Eigen::Isometry3d base_to_level = scene.conditions.levelToBase(floor_z).inverse();
    rotation_ = base_to_level.linear() * tool;
    origin_ = base_to_level * position;
  }

  bool material(const Eigen::Vector3d& tool_point) const {
    return capture_sim::inside(level(tool_point), scene_.object);
  }
  // How far below the true floor (relief included) the point lies.
  double belowFloor(const Eigen::Vector3d& tool_point) const {
    const Eigen::Vector3d p = level(tool_point);
    return floor_z_ + scene_.options.roughness.height(p.head<2>()) - p.z();
  }

  // Points on a grid through the box, faces included, at most `spacing` apart.
  template <typename Visit>
  static bool anyPoint(const Box& b, double spacing, const Visit& visit) {
    int n[3];
    for (int k = 0; k < 3; ++k)
      n[k] = std::max(1, static_cast<int>(std::ceil((b.high[k] - b.low[k]) / spacing)));
    for (int i = 0; i <= n[0]; ++i)
      for (int j = 0; j <= n[1]; ++j)
        for (int k = 0; k <= n[2]; ++k) {
          const Eigen::Vector3d t(static_cast<double>(i) / n[0], static_cast<double>(j) / n[1],
                                  static_cast<double>(k) / n[2]);
          if (visit(b.low + (b.high - b.low).cwiseProduct(t))) return true;
        }
    return false;
  }

  bool inFloor(const Box& b, double spacing) const {
    return anyPoint(b, spacing, [&](const Eigen::Vector3d& q) { return belowFloor(q) > kContact; });
  }
  bool inObject(Box b, double spacing) const {
    b.low.array() += kContact;
    b.high.array() -= kContact;
    if ((b.low.array() > b.high.array()).any()) return false;
    return anyPoint(b, spacing, [&](const Eigen::Vector3d& q) { return material(q); });
  }

private:
  Eigen::Vector3d level(const Eigen::Vector3d& tool_point) const {
    return rotation_ * tool_point + origin_;
  }

  const capture_sim::Scene& scene_;
  double floor_z_;
  Eigen::Matrix3d rotation_;
  Eigen::Vector3d origin_;
};

}  // namespace

GripperSize readGripper(const std::string& config_path) {
  const YAML::Node root = litterpose::loadConfigurationFile(config_path);
  const GrabPoseEstimate::Gripper defaults;
  const YAML::Node map = root["gripper"];
  const auto size = [&](const char* key, float fallback) {
    return map && map[key] ? map[key].as<double>() : static_cast<double>(fallback);
  };
  GripperSize g;
  g.max_opening = size("max_opening", defaults.max_opening);
  g.finger_length = size("finger_length", defaults.finger_length);
  g.finger_width = size("finger_width", defaults.finger_width);
  g.finger_thickness = size("finger_thickness", defaults.finger_thickness);
  g.palm_width = size("palm_width", defaults.palm_width);
  g.palm_depth = size("palm_depth", defaults.palm_depth);
  g.palm_height = size("palm_height", defaults.palm_height);
  g.clearance = size("clearance", defaults.clearance);
  g.finger_to_tcp = root["grab_pose_estimate"]["finger2tcp"].as<double>();
  return g;
}

GripperJudgement judgeGripper(const capture_sim::Scene& scene, double floor_z,
                              const GripperSize& g, const Eigen::Vector3d& position,
                              const Eigen::Matrix3d& tool) {
  const Grasp grasp(scene, floor_z, position, tool);
  const double tip = g.finger_to_tcp;
  const double root = tip - g.finger_length;
  const double half_width = g.finger_width / 2;

  // The material across the closing axis, a slice of kStep at a time, in the fingers' path.
  const double reach = g.max_opening / 2 + g.finger_thickness + kBandReach;
  const int slices = static_cast<int>(std::ceil(2 * reach / kStep));
  std::vector<double> occupied;
  for (int s = 0; s <= slices; ++s) {
    const double y = -reach + s * kStep;
    const Box slice{{-half_width, y, root}, {half_width, y, tip}};
    if (Grasp::anyPoint(slice, kFingerSpacing,
                        [&](const Eigen::Vector3d& q) { return grasp.material(q); }))
      occupied.push_back(y);
  }
  // Runs of it, gaps narrower than a finger with its clearance bridged; the band is the run
  // nearest to the tool centre point.
  const double bridge = g.finger_thickness + 2 * g.clearance;
  double low = 0.0, high = 0.0, best = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < occupied.size();) {
    std::size_t j = i;
    while (j + 1 < occupied.size() && occupied[j + 1] - occupied[j] < bridge) ++j;
    const double distance = occupied[i] > 0 ? occupied[i] : occupied[j] < 0 ? -occupied[j] : 0;
    if (distance < best) {
      best = distance;
      low = occupied[i];
      high = occupied[j];
    }
    i = j + 1;
  }

  GripperJudgement j;
  j.band_width = high - low;
  j.fits = j.band_width <= g.max_opening + kStep;
  const double opening =
      j.fits ? std::min(g.max_opening, 2 * std::max(std::abs(low), std::abs(high)) + 2 * g.clearance)
             : g.max_opening;
  const double inner = opening / 2, outer = inner + g.finger_thickness;
  const Box fingers[2] = {{{-half_width, -outer, root}, {half_width, -inner, tip}},
                          {{-half_width, inner, root}, {half_width, outer, tip}}};
  const Box palm{{-g.palm_depth / 2, -g.palm_width / 2, root - g.palm_height},
                 {g.palm_depth / 2, g.palm_width / 2, root}};

  const auto found = [&j](const char* what) {
    j.collides = true;
    j.what = what;
  };
  if (grasp.inFloor(fingers[0], kFingerSpacing) || grasp.inFloor(fingers[1], kFingerSpacing))
    found("finger in the floor");
  else if (grasp.inFloor(palm, kPalmSpacing))
    found("palm in the floor");
  else if (grasp.inObject(fingers[0], kFingerSpacing) ||
           grasp.inObject(fingers[1], kFingerSpacing))
    found("finger in the object");
  else if (grasp.inObject(palm, kPalmSpacing))
    found("palm in the object");
  if (!j.fits) j.what = "too wide";
  else if (!j.collides) j.what = "fits";
  return j;
}

}  // namespace litterpose_eval

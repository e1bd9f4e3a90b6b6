// The gripper model: whether a two-finger parallel gripper fits at a grasp pose. The object
// must fit between the fingers, and the fingers, opened around it, and the palm behind them
// must keep out of the floor and of the cloud's other points. Every test is exact on the
// gripper's boxes: a box against the floor plane by its deepest corner, the cloud's points
// against the boxes in the tool frame, where the boxes' sides lie along the axes.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "internal/grasp_checks.h"
#include "internal/gripper_fit.h"
#include "internal/reason.h"
#include "litterpose.h"

namespace litterpose::gripper {
namespace {

// Points less than this above the floor are the floor's own (its noise at arm's length, the
// layer the robust preparation cuts): the floor is tested as a plane, not by its points.
constexpr float kFloorLayer = 0.005f;
// A finger or the palm set down on the floor may reach this far below the floor's estimate
// without counting as in it: the estimate's own error.
constexpr float kFloorContact = 0.002f;
// The grasped band orders its coordinates on at most this many bins (half the bridged gap
// wide, unless the points spread farther than that many of them).
constexpr std::size_t kMostBins = 4096;
// The height of a band is this quantile of its points' heights above the floor (the highest
// are the noisiest).
constexpr double kHeightQuantile = 0.95;
// An approach within 45 degrees of straight down comes from above.
constexpr float kCosFromAbove = 0.70710678f;

// The sizes a host may have set in code, past the configuration's check: a box of no or
// negative size, or of a non-number, fits anything.
void requireUsableSizes(const GrabPoseEstimate& e) {
  const GrabPoseEstimate::Gripper& g = e.gripper_;
  const std::pair<const char*, float> sides[] = {
      {"max_opening", g.max_opening},   {"finger_length", g.finger_length},
      {"finger_width", g.finger_width}, {"finger_thickness", g.finger_thickness},
      {"palm_width", g.palm_width},     {"palm_depth", g.palm_depth},
      {"palm_height", g.palm_height}};
  for (const auto& [name, value] : sides)
    if (!(std::isfinite(value) && value > 0.0f))
      throw std::invalid_argument(std::string("gripper_.") + name + " = " +
                                  std::to_string(value) + ": not a size above 0");
  if (!(std::isfinite(g.clearance) && g.clearance >= 0.0f))
    throw std::invalid_argument("gripper_.clearance = " + std::to_string(g.clearance) +
                                ": not a length of 0 or more");
  if (!(std::isfinite(e.finger2tcp_) && e.finger2tcp_ >= 0.0f))
    throw std::invalid_argument("finger2tcp_ = " + std::to_string(e.finger2tcp_) +
                                ": not a length of 0 or more");
}

}  // namespace

ToolFrame::ToolFrame(const GrabPoseEstimate::Pose6D& pose)
    : rotation(pose.orientation.normalized().toRotationMatrix().cast<float>()),
      origin(pose.position) {}

Eigen::Vector4f ToolFrame::planeToTool(const Eigen::Vector4f& plane) const {
  const Eigen::Vector3f normal = plane.head<3>();
  Eigen::Vector4f tool;
  tool.head<3>() = rotation.transpose() * normal;
  tool[3] = normal.dot(origin) + plane[3];
  return tool;
}

GripperBox ToolFrame::toBase(const Eigen::Vector3f& centre, const Eigen::Vector3f& size) const {
  return {rotation * centre + origin, Eigen::Quaternionf(rotation), size};
}

float depthBelow(const ToolBox& box, const Eigen::Vector4f& plane) {
  const Eigen::Vector3f normal = plane.head<3>();
  const float lowest = normal.dot(box.centre) + plane[3] - normal.cwiseAbs().dot(box.half);
  return -lowest;
}

Shape::Shape(const GrabPoseEstimate::Gripper& g, float finger_to_tcp)
    : tip(finger_to_tcp),
      root(finger_to_tcp - g.finger_length),
      half_finger_width(g.finger_width / 2),
      finger_thickness(g.finger_thickness),
      palm{Eigen::Vector3f(0.0f, 0.0f, root - g.palm_height / 2),
           Eigen::Vector3f(g.palm_depth / 2, g.palm_width / 2, g.palm_height / 2)} {}

ToolBox Shape::finger(int side, float opening) const {
  const float y = opening / 2 + finger_thickness / 2;
  return {Eigen::Vector3f(0.0f, side == 0 ? -y : y, (tip + root) / 2),
          Eigen::Vector3f(half_finger_width, finger_thickness / 2, (tip - root) / 2)};
}

float Interval::symmetricOpening(float clearance) const {
  if (empty) return 2 * clearance;
  return 2 * std::max(std::abs(low), std::abs(high)) + 2 * clearance;
}

Interval graspedBand(const std::vector<float>& along, float bridge) {
  Interval band;
  if (along.empty()) return band;
  const auto [lowest, highest] = std::minmax_element(along.begin(), along.end());
  const float from = *lowest;
  const float spread = *highest - from;
  const float bin = std::max(bridge / 2, spread / kMostBins);
  const std::size_t bins =
      bin > 0.0f ? std::min(kMostBins, static_cast<std::size_t>(spread / bin) + 1) : 1;
  std::vector<float> low(bins, std::numeric_limits<float>::max());
  std::vector<float> high(bins, std::numeric_limits<float>::lowest());
  for (const float y : along) {
    const std::size_t k =
        bins == 1 ? 0 : std::min(bins - 1, static_cast<std::size_t>((y - from) / bin));
    low[k] = std::min(low[k], y);
    high[k] = std::max(high[k], y);
  }
  // Runs of occupied bins in order; gaps within a bin are narrower than the bridge.
  float best_distance = std::numeric_limits<float>::max();
  Interval run;
  const auto close = [&] {
    const float distance = run.low > 0.0f ? run.low : run.high < 0.0f ? -run.high : 0.0f;
    if (distance < best_distance) {
      best_distance = distance;
      band = run;
    }
  };
  for (std::size_t k = 0; k < bins; ++k) {
    if (low[k] > high[k]) continue;
    if (!run.empty && low[k] - run.high < bridge) {
      run.high = high[k];
      continue;
    }
    if (!run.empty) close();
    run = {low[k], high[k], false};
  }
  close();
  return band;
}

float bandHeight(const std::vector<float>& along, const std::vector<float>& heights,
                 const Interval& band) {
  std::vector<float> within;
  if (!band.empty)
    for (std::size_t i = 0; i < along.size(); ++i)
      if (along[i] >= band.low && along[i] <= band.high) within.push_back(heights[i]);
  if (within.empty()) return std::nanf("");
  const auto at =
      within.begin() + static_cast<std::ptrdiff_t>(kHeightQuantile * (within.size() - 1));
  std::nth_element(within.begin(), at, within.end());
  return *at;
}

Interval withHiddenSide(const Interval& band, float height) {
  if (band.empty || !(height > band.width())) return band;
  const float middle = (band.low + band.high) / 2;
  return {std::min(band.low, middle - height / 2), std::max(band.high, middle + height / 2),
          false};
}

Eigen::Vector4f floorPlane(const GrabPoseEstimate& e) {
  return e.floor_fitted_ ? e.floor_plane_ : Eigen::Vector4f(0.0f, 0.0f, 1.0f, e.base_height_);
}

void keepCloud(GrabPoseEstimate& e, const GrabPoseEstimate::CloudPtr& cloud) {
  e.gripper_cloud_ = e.gripper_.enable ? cloud : nullptr;
}

}  // namespace litterpose::gripper

namespace litterpose {

GripperCheck checkGripper(const GrabPoseEstimate& e, const GrabPoseEstimate::Pose6D& pose) {
  using namespace litterpose::gripper;
  const GrabPoseEstimate::Gripper& g = e.gripper_;
  requireUsableSizes(e);
  GripperCheck check;
  check.tolerated_points = g.stray_points;
  check.max_opening = g.max_opening;
  check.clearance = g.clearance;
  if (!checks::is_sound(pose)) {
    check.verdict = GripperVerdict::kUnsoundPose;
    return check;
  }
  const ToolFrame tool(pose);
  const Shape shape(g, e.finger2tcp_);
  const Eigen::Vector4f floor = tool.planeToTool(floorPlane(e));

  // One pass over the cloud: the points between (and beyond) the fingers measure the band;
  // those above the floor's own layer may also stand in a finger's way, or in the palm's.
  // A lying object taken from above is as wide as it is tall, whatever its visible side:
  // the heights of the points between the fingers measure it.
  const bool lying_from_above =
      tool.rotation(2, 2) <= -kCosFromAbove && e.main_axis_type_ == HORIZONTAL;
  std::vector<float> between, between_heights, between_above_floor;
  int palm_points = 0;
  if (e.gripper_cloud_) {
    for (const pcl::PointXYZ& p : e.gripper_cloud_->points) {
      const Eigen::Vector3f q = tool.toTool(p.getVector3fMap());
      const bool in_slab = shape.inFingerSlab(q);
      if (!in_slab && !shape.palm.contains(q)) continue;
      const float height = floor.head<3>().dot(q) + floor[3];
      const bool above_floor = height >= kFloorLayer;
      if (in_slab) {
        between.push_back(q.y());
        if (lying_from_above) between_heights.push_back(height);
        if (above_floor) between_above_floor.push_back(q.y());
      } else if (above_floor) {
        ++palm_points;
      }
    }
  }

  const Interval seen = graspedBand(between, g.finger_thickness + 2 * g.clearance);
  const Interval band = lying_from_above
                            ? withHiddenSide(seen, bandHeight(between, between_heights, seen))
                            : seen;
  check.object_width = band.width();
  const bool too_wide = check.object_width + 2 * g.clearance > g.max_opening;
  check.opening = too_wide ? g.max_opening
                           : std::min(g.max_opening, band.symmetricOpening(g.clearance));

  const ToolBox fingers[2] = {shape.finger(0, check.opening), shape.finger(1, check.opening)};
  for (int side = 0; side < 2; ++side)
    check.fingers[side] = tool.toBase(fingers[side].centre, 2 * fingers[side].half);
  check.palm = tool.toBase(shape.palm.centre, 2 * shape.palm.half);

  const float finger_depth =
      std::max(depthBelow(fingers[0], floor), depthBelow(fingers[1], floor));
  const float palm_depth = depthBelow(shape.palm, floor);
  check.floor_depth = std::max(0.0f, std::max(finger_depth, palm_depth));

  const float inner = check.opening / 2;
  const float outer = inner + g.finger_thickness;
  int in_finger[2] = {0, 0};
  for (const float y : between_above_floor) {
    const float off = std::abs(y);
    if (off >= inner && off <= outer) ++in_finger[y > 0.0f ? 1 : 0];
  }
  check.finger_points = std::max(in_finger[0], in_finger[1]);
  check.palm_points = palm_points;

  if (too_wide) check.verdict = GripperVerdict::kTooWide;
  else if (finger_depth > kFloorContact) check.verdict = GripperVerdict::kFingersInFloor;
  else if (palm_depth > kFloorContact) check.verdict = GripperVerdict::kPalmInFloor;
  else if (check.finger_points > g.stray_points) check.verdict = GripperVerdict::kFingersInCloud;
  else if (check.palm_points > g.stray_points) check.verdict = GripperVerdict::kPalmInCloud;
  return check;
}

namespace {

// Metres to the millimetre, without the zeros a reader does not need: "0.17", "0.105".
std::string metres(float value) {
  std::string text = reason::format("%.3f", value);
  while (text.size() > 4 && text.back() == '0' && text[text.size() - 3] != '.') text.pop_back();
  return text;
}

}  // namespace

std::string describeGripperCheck(const GripperCheck& c) {
  using reason::format;
  const double mm = 1000.0 * c.floor_depth;
  switch (c.verdict) {
    case GripperVerdict::kFree:
      return "fits: object " + metres(c.object_width) + " m wide, fingers open to " +
             metres(c.opening) + " m of " + metres(c.max_opening) + " m";
    case GripperVerdict::kUnsoundPose: return "grasp pose is not finite";
    case GripperVerdict::kTooWide:
      return "object " + metres(c.object_width) + " m wide, gripper opens " +
             metres(c.max_opening) + " m (" + metres(c.clearance) + " m clearance each side)";
    case GripperVerdict::kFingersInFloor: return format("fingers in the floor, %.1f mm deep", mm);
    case GripperVerdict::kPalmInFloor: return format("palm in the floor, %.1f mm deep", mm);
    case GripperVerdict::kFingersInCloud:
      return format("fingers in the cloud, %d points (%d tolerated)", c.finger_points,
                    c.tolerated_points);
    case GripperVerdict::kPalmInCloud:
      return format("palm in the cloud, %d points (%d tolerated)", c.palm_points,
                    c.tolerated_points);
  }
  return "unknown verdict";
}

}  // namespace litterpose

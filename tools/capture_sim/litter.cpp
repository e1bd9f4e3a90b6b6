#include "litter.h"

#include <cmath>

namespace capture_sim {
namespace {

constexpr double kDegree = M_PI / 180.0;

// Solids of one object in its own frame: floor at z = 0, long side along x.
Object shape(Litter kind) {
  const Eigen::Vector3d x = Eigen::Vector3d::UnitX();
  const Eigen::Vector3d z = Eigen::Vector3d::UnitZ();
  Object o;
  switch (kind) {
    case Litter::kBottleLying:  // 0.5 l bottle: body and neck
      o.cylinders.push_back({{0.0, 0.0, 0.033}, x, 0.033, 0.08});
      o.cylinders.push_back({{0.105, 0.0, 0.033}, x, 0.014, 0.025});
      break;
    case Litter::kCanStanding:  // 0.33 l can
      o.cylinders.push_back({{0.0, 0.0, 0.061}, z, 0.033, 0.061});
      break;
    case Litter::kCartonBox:
      o.boxes.push_back({{0.0, 0.0, 0.03}, 0.0, {0.08, 0.05, 0.03}});
      break;
    case Litter::kPaperSheet:  // A5, flat
      o.boxes.push_back({{0.0, 0.0, 0.00075}, 0.0, {0.105, 0.074, 0.00075}});
      break;
    case Litter::kCupOnSide:
      o.cylinders.push_back({{0.0, 0.0, 0.04}, x, 0.04, 0.0475});
      break;
    case Litter::kStick:
      o.cylinders.push_back({{0.0, 0.0, 0.01}, x, 0.01, 0.175});
      break;
  }
  return o;
}

}  // namespace

Object makeLitter(Litter kind, const Placement& at, double floor_z) {
  const double bearing = at.bearing_deg * kDegree;
  const double yaw = at.yaw_deg * kDegree;
  const Eigen::Vector3d place(-at.distance * std::cos(bearing), at.distance * std::sin(bearing),
                              floor_z);
  const Eigen::Matrix3d turn = Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  Object o = shape(kind);
  for (Box& b : o.boxes) {
    b.centre = place + turn * b.centre;
    b.yaw += yaw;
  }
  for (Cylinder& c : o.cylinders) {
    c.centre = place + turn * c.centre;
    c.axis = turn * c.axis;
  }
  return o;
}

const std::vector<Capture>& sampleCaptures() {
  static const std::vector<Capture> captures = {
      // The viewer's default cloud.
      {"B001PA420231018-1[0].ply", Litter::kBottleLying, {0.38, 0.0, 75.0}},
      {"bottle-lying_reach_0.42m_-20deg.ply", Litter::kBottleLying, {0.42, -20.0, 30.0}},
      {"can-standing_0.35m_+5deg.ply", Litter::kCanStanding, {0.35, 5.0, 0.0}},
      {"can-standing_side-grasp_0.56m_+10deg.ply", Litter::kCanStanding, {0.56, 10.0, 0.0}},
      {"carton-box_reach_0.40m_-10deg.ply", Litter::kCartonBox, {0.40, -10.0, 20.0}},
      {"paper-sheet_reach_0.35m_+5deg.ply", Litter::kPaperSheet, {0.35, 5.0, 100.0}},
      {"cup-on-side_reach_0.40m_+20deg.ply", Litter::kCupOnSide, {0.40, 20.0, 60.0}},
      {"stick_reach_0.42m_-5deg.ply", Litter::kStick, {0.42, -5.0, 60.0}},
      {"carton-box_too-near_0.15m_0deg.ply", Litter::kCartonBox, {0.15, 0.0, 90.0}},
      {"bottle-lying_too-far_0.80m_0deg.ply", Litter::kBottleLying, {0.80, 0.0, 90.0}},
      {"cup-on-side_too-far-left_0.38m_-70deg.ply", Litter::kCupOnSide, {0.38, -70.0, 0.0}},
      {"stick_too-far-right_0.40m_+70deg.ply", Litter::kStick, {0.40, 70.0, 120.0}},
  };
  return captures;
}

}  // namespace capture_sim

#include "litter.h"

#include <cmath>

namespace capture_sim {
namespace {

constexpr double kDegree = M_PI / 180.0;
// Wall and bottom of a standing cup.
constexpr double kCupWall = 0.002;
// A cup's handle: a grip as high as this share of the cup, held out from the wall by two
// arms at its ends; grip and arms are this thick (radially, and vertically) and this wide.
constexpr double kHandleHeightShare = 0.55;
constexpr double kHandleBar = 0.007;
constexpr double kHandleWidth = 0.012;

// A cup's handle on its +x side.
void addHandle(Object& o, const Dimensions& d) {
  const double r = d.width / 2;
  const double grip = kHandleHeightShare * d.height;
  const double middle = d.height / 2;
  o.boxes.push_back({{r + d.gap + kHandleBar / 2, 0.0, middle}, 0.0,
                     {kHandleBar / 2, kHandleWidth / 2, grip / 2}});
  // The arms reach into the wall, so that the handle is one solid with the cup.
  const double arm = d.gap + kCupWall;
  for (const double end : {-1.0, 1.0})
    o.boxes.push_back({{r - kCupWall + arm / 2, 0.0, middle + end * (grip - kHandleBar) / 2},
                       0.0,
                       {arm / 2, kHandleWidth / 2, kHandleBar / 2}});
}

// Solids of one object in its own frame: floor at z = 0, long side along x.
Object shape(Litter kind, const Dimensions& d) {
  const Eigen::Vector3d x = Eigen::Vector3d::UnitX();
  const Eigen::Vector3d z = Eigen::Vector3d::UnitZ();
  const double half = d.length / 2;
  const double r = d.width / 2;
  Object o;
  switch (kind) {
    case Litter::kBottleLying:  // body and neck, the neck towards +x
      o.cylinders.push_back({{0.0, 0.0, r}, x, r, half});
      o.cylinders.push_back({{half + d.neck_length / 2, 0.0, r}, x, d.neck_radius,
                             d.neck_length / 2});
      break;
    case Litter::kCanStanding:
    case Litter::kBottleCap:
    case Litter::kTunaCan:
      o.cylinders.push_back({{0.0, 0.0, d.height / 2}, z, r, d.height / 2});
      break;
    case Litter::kCupStanding:
      o.cylinders.push_back({{0.0, 0.0, d.height / 2}, z, r, d.height / 2, kCupWall});
      break;
    case Litter::kCupWithHandle:
      o.cylinders.push_back({{0.0, 0.0, d.height / 2}, z, r, d.height / 2, kCupWall});
      addHandle(o, d);
      break;
    case Litter::kBottleFolded:  // the neck bent back at the shoulder, lying beside the body
      o.cylinders.push_back({{0.0, 0.0, r}, x, r, half});
      o.cylinders.push_back({{half - d.neck_length / 2, r + d.gap + d.neck_radius, d.neck_radius},
                             x, d.neck_radius, d.neck_length / 2});
      break;
    case Litter::kCartonWide:
    case Litter::kCartonBox:
    case Litter::kPaperSheet:
    case Litter::kCartonStanding:
      o.boxes.push_back({{0.0, 0.0, d.height / 2}, 0.0, {half, d.width / 2, d.height / 2}});
      break;
    case Litter::kCupOnSide:
    case Litter::kStick:
    case Litter::kCanLying:
    case Litter::kCigaretteButt:
      o.cylinders.push_back({{0.0, 0.0, r}, x, r, half});
      break;
  }
  return o;
}

}  // namespace

Dimensions standardDimensions(Litter kind) {
  switch (kind) {
    case Litter::kBottleLying: return {0.16, 0.066, 0.066, 0.05, 0.014};  // 0.5 l bottle
    case Litter::kCanStanding: return {0.066, 0.066, 0.122};             // 0.33 l can
    case Litter::kCartonBox: return {0.16, 0.10, 0.06};
    case Litter::kPaperSheet: return {0.21, 0.148, 0.0015};  // A5, flat
    case Litter::kCupOnSide: return {0.095, 0.08, 0.08};
    case Litter::kStick: return {0.35, 0.02, 0.02};
    case Litter::kCanLying: return {0.122, 0.066, 0.066};
    case Litter::kCartonStanding: return {0.07, 0.065, 0.17};  // 0.5 l drinks carton
    case Litter::kCigaretteButt: return {0.035, 0.008, 0.008};
    case Litter::kBottleCap: return {0.03, 0.03, 0.012};
    case Litter::kCupStanding: return {0.08, 0.08, 0.11};  // coffee to go
    case Litter::kTunaCan: return {0.085, 0.085, 0.04};
    case Litter::kCartonWide: return {0.24, 0.16, 0.05};
    case Litter::kCupWithHandle: return {0.08, 0.08, 0.10, 0.0, 0.0, 0.02};
    case Litter::kBottleFolded: return {0.14, 0.066, 0.066, 0.07, 0.013, 0.015};
  }
  return {};
}

Object makeLitter(Litter kind, const Placement& at, double floor_z) {
  return makeLitter(kind, standardDimensions(kind), at, floor_z);
}

Object makeLitter(Litter kind, const Dimensions& size, const Placement& at, double floor_z) {
  const double bearing = at.bearing_deg * kDegree;
  const double yaw = at.yaw_deg * kDegree;
  const Eigen::Vector3d place(-at.distance * std::cos(bearing), at.distance * std::sin(bearing),
                              floor_z);
  const Eigen::Matrix3d turn = Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  Object o = shape(kind, size);
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

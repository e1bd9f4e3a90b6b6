// Orientation algebra of the grasp strategies: unit quaternions in double precision,
// Hamilton products, the elementary rotations, the downward orientation D and the side
// turn S, and the bearing of a point.
#ifndef LITTERPOSE_INTERNAL_ORIENTATION_H
#define LITTERPOSE_INTERNAL_ORIENTATION_H

#include <cmath>

#include <Eigen/Geometry>

#include "litterpose.h"

namespace litterpose::orientation {

using Quat = Eigen::Quaterniond;

// Half a turn about the base y axis: the tool z axis points straight down.
inline Quat down() { return Quat(0.0, 0.0, 1.0, 0.0); }
// A quarter turn about y: from D, the tool z axis turns horizontal.
inline Quat side() { return Quat(0.7071067811865476, 0.0, 0.7071067811865475, 0.0); }

// Elementary rotations by an angle in radians.
inline Quat rot_x(double a) { return Quat(std::cos(a / 2), std::sin(a / 2), 0.0, 0.0); }
inline Quat rot_y(double a) { return Quat(std::cos(a / 2), 0.0, std::sin(a / 2), 0.0); }
inline Quat rot_z(double a) { return Quat(std::cos(a / 2), 0.0, 0.0, std::sin(a / 2)); }

// Half angle of an integer tilt in degrees, phi * pi / 360.
inline double half_tilt(int degrees) { return degrees * M_PI / 360.0; }
inline Quat rot_x_deg(int degrees) {
  const double h = half_tilt(degrees);
  return Quat(std::cos(h), std::sin(h), 0.0, 0.0);
}
inline Quat rot_y_deg(int degrees) {
  const double h = half_tilt(degrees);
  return Quat(std::cos(h), 0.0, std::sin(h), 0.0);
}

// Bearing of a point from the arm's forward direction (-x), growing towards +y; radians.
inline float bearing(float x, float y) { return std::atan2(y, -x); }
// A bearing in radians as degrees: the product in single precision, the quotient in double.
inline float bearing_deg(float bearing_rad) {
  return static_cast<float>(bearing_rad * 180.0f / M_PI);
}
// Yaw of a main axis v, atan2(-v.y, v.x); radians.
inline float axis_yaw(float vx, float vy) { return std::atan2(-vy, vx); }

// D * Rz(psi): tool down, tool x axis along the horizontal projection of the main axis.
inline Quat vertical_grasp(float yaw) { return down() * rot_z(yaw); }
// D * S * Rx(-beta): tool z horizontal, from the base towards the object.
inline Quat side_grasp(float bearing_rad) { return down() * side() * rot_x(-bearing_rad); }

// Classifies the main axis, column 0 of vectors, by the angle between it and the
// horizontal, and turns it into the half-space the strategies expect: near-horizontal
// axes point towards +x, steep ones downwards. An axis exactly vertical (or not a number)
// gives no class; type and column then stay as they were.
inline void classify_main_axis(Eigen::Matrix3f& vectors, MainAxisType& type) {
  constexpr double kCos75 = 0.25881904510252074;
  constexpr double kCos45 = 0.7071067811865475;
  constexpr double kCos15 = 0.9659258262890683;
  auto v = vectors.col(0);
  const float a = std::fabs(v.z());
  if (a < kCos75) {
    type = HORIZONTAL;
    if (v.x() < 0) v = -v;
  } else if (a < kCos45) {
    type = TILTED_LOW;
    if (v.x() < 0) v = -v;
  } else if (a < kCos15) {
    type = TILTED_HIGH;
    if (v.z() > 0) v = -v;
  } else if (a < 1.0f) {
    type = VERTICAL;
    if (v.z() > 0) v = -v;
  }
}

// No non-number and no infinity among the four components.
inline bool is_finite(const Quat& q) { return q.coeffs().allFinite(); }

}  // namespace litterpose::orientation

#endif

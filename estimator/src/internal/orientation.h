// Orientation algebra of the grasp strategies: unit quaternions in double precision,
// Hamilton products, the elementary rotations, the downward orientation D and the side
// turn S, and the bearing of a point.
#ifndef LITTERPOSE_INTERNAL_ORIENTATION_H
#define LITTERPOSE_INTERNAL_ORIENTATION_H

#include <cmath>

#include <Eigen/Geometry>

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
// Yaw of a main axis v, atan2(-v.y, v.x); radians.
inline float axis_yaw(float vx, float vy) { return std::atan2(-vy, vx); }

// D * Rz(psi): tool down, tool x axis along the horizontal projection of the main axis.
inline Quat vertical_grasp(float yaw) { return down() * rot_z(yaw); }
// D * S * Rx(-beta): tool z horizontal, from the base towards the object.
inline Quat side_grasp(float bearing_rad) { return down() * side() * rot_x(-bearing_rad); }

// No non-number and no infinity among the four components.
inline bool is_finite(const Quat& q) { return q.coeffs().allFinite(); }

}  // namespace litterpose::orientation

#endif

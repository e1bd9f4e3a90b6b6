// The floor under an object, fitted from the floor band that a segmentation mask leaves
// around the object's foot: the configured floor is the prior, and a plane far from it, or
// no plane at all (a tight mask), leaves the configured floor in place.
#ifndef LITTERPOSE_INTERNAL_FLOOR_FIT_H
#define LITTERPOSE_INTERNAL_FLOOR_FIT_H

#include <cstddef>

#include <Eigen/Dense>

#include "litterpose.h"

namespace litterpose::floor {

// A plane that holds the floor: height(p) = normal . p + offset, the normal of unit length
// with a positive z, so that the height is the signed distance above the plane.
struct Plane {
  Eigen::Vector3d normal = Eigen::Vector3d::UnitZ();
  double offset = 0.0;

  static Plane level(double z) { return {Eigen::Vector3d::UnitZ(), -z}; }
  double height(const pcl::PointXYZ& p) const {
    return normal.x() * p.x + normal.y() * p.y + normal.z() * p.z + offset;
  }
  // The plane's z above (x, y).
  double zAt(double x, double y) const {
    return -(normal.x() * x + normal.y() * y + offset) / normal.z();
  }
  double tiltDeg() const;
  // (a, b, c, d) with a x + b y + c z + d = 0, as GrabPoseEstimate::floor_plane_ holds it.
  Eigen::Vector4f coefficients() const;
};

struct Prior {
  Plane plane;  // the configured floor
  // The floor may lie this far above or below the prior's where the robot stands (the
  // anchor, x and y in metres), and tilt this much about it: on a slope the floor under an
  // object far away lies higher or lower by the distance times the slope.
  Eigen::Vector2d anchor = Eigen::Vector2d::Zero();
  double height_tolerance = 0.05;
  double tilt_tolerance_deg = 10.0;
};

struct Fit {
  Plane plane;             // the fitted plane, or the prior's when not fitted
  bool fitted = false;
  std::size_t inliers = 0;  // points within the inlier distance of the fitted plane
  double rms = 0.0;         // their root mean square distance from it
  const char* refusal = "";  // why no plane was taken, when not fitted
};

// Fits the floor to the flat, low patches of the cloud (RANSAC over one representative
// point per patch, scored by the points it holds against the points it leaves below it,
// then least squares over every point near it, its tilt held towards the prior's where
// the patches do not span it). A plane is taken when it holds enough points, leaves
// almost none below it, is tilted within the prior's tolerance, and lies under `object_xy`
// within the floors the prior's tolerances allow there.
// `patch` is the side of the square patches (metres); `inlier_distance` the plane's
// thickness. Deterministic: the same cloud gives the same plane on every machine.
Fit fitFloor(const GrabPoseEstimate::Cloud& cloud, const Prior& prior,
             const Eigen::Vector2d& object_xy, double patch, double inlier_distance);

}  // namespace litterpose::floor

#endif

// Object clouds built in code, in the arm base frame (metres, z up, forward along -x,
// floor at z = -0.176 with the default configuration).
#ifndef LITTERPOSE_TESTS_SUPPORT_CLOUDS_H
#define LITTERPOSE_TESTS_SUPPORT_CLOUDS_H

#include <cmath>
#include <memory>
#include <random>

#include <Eigen/Dense>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace clouds {

using Cloud = pcl::PointCloud<pcl::PointXYZ>;
using CloudPtr = std::shared_ptr<Cloud>;

constexpr float kFloorZ = -0.176f;

// Point at a horizontal distance from the base axis and a bearing in degrees
// (0 straight ahead along -x, positive towards +y).
inline Eigen::Vector2f at_bearing(float distance, float bearing_deg) {
  const float b = bearing_deg * static_cast<float>(M_PI) / 180.0f;
  return {-distance * std::cos(b), distance * std::sin(b)};
}

inline CloudPtr empty() { return std::make_shared<Cloud>(); }

inline void add(Cloud& cloud, const Eigen::Vector3f& p) {
  cloud.push_back(pcl::PointXYZ(p.x(), p.y(), p.z()));
}

// Surface points of a solid cylinder (rod) from centre along a unit axis.
inline CloudPtr rod(const Eigen::Vector3f& centre, Eigen::Vector3f axis, float length,
                    float radius, int n, unsigned seed = 1) {
  axis.normalize();
  Eigen::Vector3f u = axis.unitOrthogonal();
  Eigen::Vector3f v = axis.cross(u);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> along(-length / 2, length / 2);
  std::uniform_real_distribution<float> turn(0.0f, 2.0f * static_cast<float>(M_PI));
  CloudPtr cloud = empty();
  for (int i = 0; i < n; ++i) {
    const float t = turn(rng);
    add(*cloud, centre + along(rng) * axis + radius * (std::cos(t) * u + std::sin(t) * v));
  }
  return cloud;
}

// Rod lying on the floor: axis horizontal at yaw_deg from the x axis.
inline CloudPtr lying_rod(const Eigen::Vector2f& xy, float yaw_deg, float length, float radius,
                          int n, float floor_z = kFloorZ) {
  const float y = yaw_deg * static_cast<float>(M_PI) / 180.0f;
  return rod({xy.x(), xy.y(), floor_z + radius}, {std::cos(y), std::sin(y), 0.0f}, length,
             radius, n);
}

// Cylinder standing on the floor (axis vertical), surface points.
inline CloudPtr standing_cylinder(const Eigen::Vector2f& xy, float height, float radius, int n,
                                  float floor_z = kFloorZ) {
  return rod({xy.x(), xy.y(), floor_z + height / 2}, {0.0f, 0.0f, 1.0f}, height, radius, n);
}

// Points spread uniformly through a box of the given size, turned by yaw_deg about z.
inline CloudPtr box(const Eigen::Vector3f& centre, const Eigen::Vector3f& size, float yaw_deg,
                    int n, unsigned seed = 2) {
  const Eigen::Matrix3f r =
      Eigen::AngleAxisf(yaw_deg * static_cast<float>(M_PI) / 180.0f, Eigen::Vector3f::UnitZ())
          .toRotationMatrix();
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(-0.5f, 0.5f);
  CloudPtr cloud = empty();
  for (int i = 0; i < n; ++i) {
    // At most one draw among a call's arguments: the order in which they are evaluated is
    // the compiler's choice (last first with GCC on x86-64, first first on 64-bit ARM), and
    // the tests were written against the clouds drawn z first.
    const float z = unit(rng) * size.z();
    const float y = unit(rng) * size.y();
    const Eigen::Vector3f local(unit(rng) * size.x(), y, z);
    add(*cloud, centre + r * local);
  }
  return cloud;
}

// Box resting on the floor.
inline CloudPtr floor_box(const Eigen::Vector2f& xy, const Eigen::Vector3f& size, float yaw_deg,
                          int n, float floor_z = kFloorZ) {
  return box({xy.x(), xy.y(), floor_z + size.z() / 2}, size, yaw_deg, n);
}

// n points stacked in a vertical column from z0 upwards in steps of dz.
inline CloudPtr column(float x, float y, float z0, float dz, int n) {
  CloudPtr cloud = empty();
  for (int i = 0; i < n; ++i) cloud->push_back(pcl::PointXYZ(x, y, z0 + dz * i));
  return cloud;
}

// Floor points on a grid of the given spacing in the rectangular ring between a rectangle
// of half sizes `inner` about xy and the one `width` wider, at height z plus the bumps of
// `relief` (a smooth height field: amplitude times sin x sin y, 10 cm wavelengths).
inline void add_floor_band(Cloud& cloud, const Eigen::Vector2f& xy, const Eigen::Vector2f& inner,
                           float width, float spacing, float z, float relief = 0.0f) {
  const Eigen::Vector2f outer = inner + Eigen::Vector2f(width, width);
  for (float dx = -outer.x(); dx <= outer.x(); dx += spacing)
    for (float dy = -outer.y(); dy <= outer.y(); dy += spacing) {
      if (std::abs(dx) < inner.x() && std::abs(dy) < inner.y()) continue;
      const float x = xy.x() + dx, y = xy.y() + dy;
      const float bump = relief * std::sin(x * 62.8f) * std::sin(y * 62.8f);
      cloud.push_back(pcl::PointXYZ(x, y, z + bump));
    }
}

// The cloud turned about the horizontal line through `pivot` perpendicular to the
// direction downhill_deg (from +x towards +y), so that a level floor through the pivot
// becomes a slope of slope_deg falling towards that direction.
inline void tilt(Cloud& cloud, const Eigen::Vector3f& pivot, float slope_deg, float downhill_deg) {
  const float d = downhill_deg * static_cast<float>(M_PI) / 180.0f;
  const Eigen::Vector3f downhill(std::cos(d), std::sin(d), 0.0f);
  const Eigen::Vector3f axis = Eigen::Vector3f::UnitZ().cross(downhill);
  const Eigen::Matrix3f r =
      Eigen::AngleAxisf(slope_deg * static_cast<float>(M_PI) / 180.0f, axis).toRotationMatrix();
  for (auto& p : cloud) p.getVector3fMap() = pivot + r * (p.getVector3fMap() - pivot);
}

}  // namespace clouds

#endif

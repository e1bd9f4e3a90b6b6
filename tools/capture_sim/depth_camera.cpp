#include "depth_camera.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace capture_sim {
namespace {

constexpr double kParallel = 1e-12;

void keepNearest(std::optional<double>& best, std::optional<double> candidate) {
  if (candidate && (!best || *candidate < *best)) best = candidate;
}

Eigen::Matrix3d yawRotation(double yaw) {
  return Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitZ()).toRotationMatrix();
}

double distanceToSegment(const Eigen::Vector2d& p, const Eigen::Vector2d& a,
                         const Eigen::Vector2d& b) {
  const Eigen::Vector2d ab = b - a;
  const double len2 = ab.squaredNorm();
  const double s = len2 > 0 ? std::clamp((p - a).dot(ab) / len2, 0.0, 1.0) : 0.0;
  return (p - (a + s * ab)).norm();
}

}  // namespace

std::optional<double> intersect(const Ray& ray, const Box& box) {
  const Eigen::Matrix3d r = yawRotation(box.yaw);
  const Eigen::Vector3d o = r.transpose() * (ray.origin - box.centre);
  const Eigen::Vector3d d = r.transpose() * ray.direction;
  double t_near = -std::numeric_limits<double>::infinity();
  double t_far = std::numeric_limits<double>::infinity();
  for (int i = 0; i < 3; ++i) {
    const double h = box.half_size[i];
    if (std::abs(d[i]) < kParallel) {
      if (std::abs(o[i]) > h) return std::nullopt;
      continue;
    }
    double t1 = (-h - o[i]) / d[i];
    double t2 = (h - o[i]) / d[i];
    if (t1 > t2) std::swap(t1, t2);
    t_near = std::max(t_near, t1);
    t_far = std::min(t_far, t2);
  }
  if (t_near > t_far || t_far <= 0) return std::nullopt;
  // A camera inside a box sees its inside faces.
  return t_near > 0 ? t_near : t_far;
}

std::optional<double> intersect(const Ray& ray, const Cylinder& c) {
  const Eigen::Vector3d w = ray.origin - c.centre;
  const double da = ray.direction.dot(c.axis);
  const double wa = w.dot(c.axis);
  const Eigen::Vector3d dp = ray.direction - da * c.axis;
  const Eigen::Vector3d wp = w - wa * c.axis;
  std::optional<double> best;

  const double a = dp.squaredNorm();
  if (a > kParallel) {
    const double b = 2.0 * dp.dot(wp);
    const double k = wp.squaredNorm() - c.radius * c.radius;
    const double disc = b * b - 4.0 * a * k;
    if (disc >= 0) {
      const double root = std::sqrt(disc);
      for (double t : {(-b - root) / (2.0 * a), (-b + root) / (2.0 * a)}) {
        if (t > 0 && std::abs(wa + t * da) <= c.half_length) keepNearest(best, t);
      }
    }
  }
  if (std::abs(da) > kParallel) {
    for (double side : {-1.0, 1.0}) {
      const double t = (side * c.half_length - wa) / da;
      if (t > 0 && (wp + t * dp).squaredNorm() <= c.radius * c.radius) keepNearest(best, t);
    }
  }
  return best;
}

std::optional<double> intersect(const Ray& ray, const Object& object) {
  std::optional<double> best;
  for (const Box& b : object.boxes) keepNearest(best, intersect(ray, b));
  for (const Cylinder& c : object.cylinders) keepNearest(best, intersect(ray, c));
  return best;
}

double footprintDistance(const Eigen::Vector2d& xy, const Object& object) {
  double best = std::numeric_limits<double>::infinity();
  for (const Box& b : object.boxes) {
    const Eigen::Vector2d q =
        Eigen::Rotation2Dd(-b.yaw) * (xy - b.centre.head<2>());
    const double dx = std::max(std::abs(q.x()) - b.half_size.x(), 0.0);
    const double dy = std::max(std::abs(q.y()) - b.half_size.y(), 0.0);
    best = std::min(best, std::hypot(dx, dy));
  }
  for (const Cylinder& c : object.cylinders) {
    // The shadow of the axis widened by the radius: exact for upright and lying cylinders.
    const Eigen::Vector2d a = (c.centre - c.half_length * c.axis).head<2>();
    const Eigen::Vector2d b = (c.centre + c.half_length * c.axis).head<2>();
    best = std::min(best, std::max(distanceToSegment(xy, a, b) - c.radius, 0.0));
  }
  return best;
}

Ray Camera::pixelRay(int u, int v) const {
  const Eigen::Vector3d in_camera((u - cx) / fx, (v - cy) / fy, 1.0);
  return {camera_to_base.block<3, 1>(0, 3), camera_to_base.block<3, 3>(0, 0) * in_camera};
}

pcl::PointCloud<pcl::PointXYZ> capture(const Camera& camera, const Object& object,
                                       const CaptureOptions& options) {
  struct Hit {
    Eigen::Vector3d in_camera;  // unit depth
    double depth;
    bool on_object;
  };
  std::vector<Hit> hits;
  for (int v = 0; v < camera.height; ++v) {
    for (int u = 0; u < camera.width; ++u) {
      const Ray ray = camera.pixelRay(u, v);
      const Eigen::Vector3d in_camera((u - camera.cx) / camera.fx, (v - camera.cy) / camera.fy,
                                      1.0);
      std::optional<double> floor_t;
      if (ray.direction.z() < -kParallel) {
        const double t = (options.floor_z - ray.origin.z()) / ray.direction.z();
        if (t > 0) floor_t = t;
      }
      const std::optional<double> object_t = intersect(ray, object);
      if (object_t && (!floor_t || *object_t < *floor_t)) {
        hits.push_back({in_camera, *object_t, true});
      } else if (floor_t) {
        const Eigen::Vector3d p = ray.origin + *floor_t * ray.direction;
        if (footprintDistance(p.head<2>(), object) <= options.floor_margin)
          hits.push_back({in_camera, *floor_t, false});
      }
    }
  }

  std::mt19937 rng(options.seed);
  std::normal_distribution<double> unit_normal(0.0, 1.0);
  for (Hit& h : hits) h.depth += unit_normal(rng) * options.depth_noise_per_m2 * h.depth * h.depth;

  std::vector<std::size_t> on_object;
  for (std::size_t i = 0; i < hits.size(); ++i)
    if (hits[i].on_object) on_object.push_back(i);
  if (!on_object.empty()) {
    std::uniform_int_distribution<std::size_t> pick(0, on_object.size() - 1);
    std::uniform_real_distribution<double> shift(options.outlier_min, options.outlier_max);
    std::bernoulli_distribution farther(0.5);
    for (int k = 0; k < options.outliers; ++k) {
      Hit& h = hits[on_object[pick(rng)]];
      h.depth += farther(rng) ? shift(rng) : -shift(rng);
    }
  }

  pcl::PointCloud<pcl::PointXYZ> cloud;
  cloud.reserve(hits.size());
  for (const Hit& h : hits) {
    const Eigen::Vector3d p = h.depth * h.in_camera;
    cloud.push_back(pcl::PointXYZ(static_cast<float>(p.x()), static_cast<float>(p.y()),
                                  static_cast<float>(p.z())));
  }
  return cloud;
}

}  // namespace capture_sim

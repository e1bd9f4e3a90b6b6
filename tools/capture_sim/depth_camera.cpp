#include "depth_camera.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <utility>

#include <opencv2/imgproc.hpp>

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

  // The mantle of the given radius between two places along the axis.
  const auto mantle = [&](double radius, double axial_min, double axial_max) {
    const double a = dp.squaredNorm();
    if (a <= kParallel) return;
    const double b = 2.0 * dp.dot(wp);
    const double k = wp.squaredNorm() - radius * radius;
    const double disc = b * b - 4.0 * a * k;
    if (disc < 0) return;
    const double root = std::sqrt(disc);
    for (double t : {(-b - root) / (2.0 * a), (-b + root) / (2.0 * a)}) {
      const double axial = wa + t * da;
      if (t > 0 && axial >= axial_min && axial <= axial_max) keepNearest(best, t);
    }
  };
  // The disc, or ring, across the axis at a place along it.
  const auto across = [&](double axial, double radius_min, double radius_max) {
    if (std::abs(da) <= kParallel) return;
    const double t = (axial - wa) / da;
    const double r2 = (wp + t * dp).squaredNorm();
    if (t > 0 && r2 <= radius_max * radius_max && r2 >= radius_min * radius_min)
      keepNearest(best, t);
  };

  const double inner = c.wall > 0.0 ? c.radius - c.wall : 0.0;
  mantle(c.radius, -c.half_length, c.half_length);
  across(-c.half_length, 0.0, c.radius);
  across(c.half_length, inner, c.radius);  // the rim of a cup
  if (c.wall > 0.0) {
    const double floor = -c.half_length + c.wall;
    mantle(inner, floor, c.half_length);
    across(floor, 0.0, inner);
  }
  return best;
}

std::optional<double> intersect(const Ray& ray, const Object& object) {
  std::optional<double> best;
  for (const Box& b : object.boxes) keepNearest(best, intersect(ray, b));
  for (const Cylinder& c : object.cylinders) keepNearest(best, intersect(ray, c));
  return best;
}

bool inside(const Eigen::Vector3d& p, const Object& object) {
  for (const Box& b : object.boxes) {
    const Eigen::Vector3d q = yawRotation(b.yaw).transpose() * (p - b.centre);
    if ((q.cwiseAbs().array() <= b.half_size.array()).all()) return true;
  }
  for (const Cylinder& c : object.cylinders) {
    const double along = (p - c.centre).dot(c.axis);
    const double off = (p - c.centre - along * c.axis).norm();
    if (std::abs(along) > c.half_length || off > c.radius) continue;
    // A cup's material: its wall, and its bottom at the -axis end.
    if (c.wall <= 0.0 || off >= c.radius - c.wall || along <= -c.half_length + c.wall)
      return true;
  }
  return false;
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

Bounds bounds(const Object& object) {
  Bounds b{Eigen::Vector3d::Constant(std::numeric_limits<double>::infinity()),
           Eigen::Vector3d::Constant(-std::numeric_limits<double>::infinity())};
  for (const Box& box : object.boxes) {
    const Eigen::Matrix3d r = yawRotation(box.yaw);
    const Eigen::Vector3d reach = r.cwiseAbs() * box.half_size;
    b.low = b.low.cwiseMin(box.centre - reach);
    b.high = b.high.cwiseMax(box.centre + reach);
  }
  for (const Cylinder& c : object.cylinders) {
    Eigen::Vector3d reach;
    for (int i = 0; i < 3; ++i)
      reach[i] = std::abs(c.axis[i]) * c.half_length +
                 c.radius * std::sqrt(std::max(0.0, 1.0 - c.axis[i] * c.axis[i]));
    b.low = b.low.cwiseMin(c.centre - reach);
    b.high = b.high.cwiseMax(c.centre + reach);
  }
  return b;
}

std::pair<double, double> extent(const Object& object, const Eigen::Vector3d& direction) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const Box& box : object.boxes) {
    const double centre = direction.dot(box.centre);
    const double reach =
        (yawRotation(box.yaw).transpose() * direction).cwiseAbs().dot(box.half_size);
    low = std::min(low, centre - reach);
    high = std::max(high, centre + reach);
  }
  for (const Cylinder& c : object.cylinders) {
    const double centre = direction.dot(c.centre);
    const double along = std::abs(direction.dot(c.axis));
    const double across = (direction - direction.dot(c.axis) * c.axis).norm();
    const double reach = along * c.half_length + across * c.radius;
    low = std::min(low, centre - reach);
    high = std::max(high, centre + reach);
  }
  return {low, high};
}

double Roughness::amplitude() const {
  double sum = 0.0;
  for (const Wave& w : waves) sum += std::abs(w.amplitude);
  return sum;
}

double Roughness::height(const Eigen::Vector2d& xy) const {
  double h = 0.0;
  for (const Wave& w : waves) h += w.amplitude * std::sin(w.k.dot(xy) + w.phase);
  return h;
}

namespace {

// Steps of the search for a rough floor along a ray, per shortest wavelength: a crest that
// the ray grazes by less than about half a percent of its height may be passed.
constexpr double kStepsPerWave = 32.0;
// A rough floor is found to this height, metres.
constexpr double kFloorTolerance = 1e-9;
constexpr int kMaxRefinements = 100;

}  // namespace

std::optional<double> floorHit(const Ray& ray, double floor_z, const Roughness& relief) {
  if (!(ray.direction.z() < -kParallel)) return std::nullopt;
  if (relief.waves.empty()) {
    const double t = (floor_z - ray.origin.z()) / ray.direction.z();
    return t > 0 ? std::optional<double>(t) : std::nullopt;
  }
  // Above the floor where this is positive. The ray goes down, so it meets the floor between
  // the planes of the relief's highest and lowest points; it is searched there in steps
  // short against the waves, and the first crossing is refined (Illinois).
  const auto above = [&](double t) {
    const Eigen::Vector3d p = ray.origin + t * ray.direction;
    return p.z() - floor_z - relief.height(p.head<2>());
  };
  const double a = relief.amplitude();
  const double start = std::max(0.0, (floor_z + a - ray.origin.z()) / ray.direction.z());
  const double end = (floor_z - a - ray.origin.z()) / ray.direction.z();
  if (!(end > 0)) return std::nullopt;
  double shortest = std::numeric_limits<double>::infinity();
  for (const Roughness::Wave& w : relief.waves)
    if (w.k.norm() > 0) shortest = std::min(shortest, 2.0 * M_PI / w.k.norm());
  const double across = ray.direction.head<2>().norm() * (end - start);
  const int steps =
      std::isfinite(shortest)
          ? std::max(1, static_cast<int>(std::ceil(kStepsPerWave * across / shortest)))
          : 1;
  double lo = start, f_lo = above(start);
  if (f_lo <= 0) return start > 0 ? std::optional<double>(start) : std::nullopt;
  for (int i = 1; i <= steps; ++i) {
    double t = start + (end - start) * i / steps;
    double f = above(t);
    if (f > 0) {
      lo = t;
      f_lo = f;
      continue;
    }
    double hi = t, f_hi = f;
    int kept_side = 0;
    for (int k = 0; k < kMaxRefinements && std::abs(f) > kFloorTolerance; ++k) {
      t = (lo * f_hi - hi * f_lo) / (f_hi - f_lo);
      f = above(t);
      if (f > 0) {
        lo = t;
        f_lo = f;
        if (kept_side == 1) f_hi /= 2;
        kept_side = 1;
      } else {
        hi = t;
        f_hi = f;
        if (kept_side == -1) f_lo /= 2;
        kept_side = -1;
      }
    }
    return t;
  }
  return end;
}

Ray Camera::pixelRay(int u, int v) const {
  const Eigen::Vector3d in_camera((u - cx) / fx, (v - cy) / fy, 1.0);
  return {camera_to_base.block<3, 1>(0, 3), camera_to_base.block<3, 3>(0, 0) * in_camera};
}

Eigen::Vector3d Camera::project(const Eigen::Vector3d& base_point) const {
  const Eigen::Vector3d q = camera_to_base.block<3, 3>(0, 0).inverse() *
                            (base_point - camera_to_base.block<3, 1>(0, 3));
  return {fx * q.x() / q.z() + cx, fy * q.y() / q.z() + cy, q.z()};
}

Camera cameraOf(const GrabPoseEstimate& estimator) {
  Camera camera;
  camera.fx = estimator.fx_;
  camera.fy = estimator.fy_;
  camera.cx = estimator.cx_;
  camera.cy = estimator.cy_;
  camera.camera_to_base = estimator.camera_extrinsic_.cast<double>();
  return camera;
}

namespace {

// Mean focal length: pixels per metre across the ray at unit depth.
double focal(const Camera& camera) { return 0.5 * (std::abs(camera.fx) + std::abs(camera.fy)); }

// Nearest depth at which a point of the box can lie in front of the camera.
constexpr double kNearestDepth = 1e-3;

}  // namespace

PixelWindow pixelsNear(const Camera& camera, const Object& object,
                       const CaptureOptions& options) {
  const PixelWindow whole{0, 0, camera.width - 1, camera.height - 1};
  Bounds b = bounds(object);
  if (!b.low.allFinite() || !b.high.allFinite()) return whole;
  // footprintDistance measures from a cylinder's axis shadow widened by its radius, which
  // reaches past the solid's own box beyond the caps.
  for (const Cylinder& c : object.cylinders) {
    for (double end : {-1.0, 1.0}) {
      const Eigen::Vector3d e = c.centre + end * c.half_length * c.axis;
      for (int i = 0; i < 2; ++i) {
        b.low[i] = std::min(b.low[i], e[i] - c.radius);
        b.high[i] = std::max(b.high[i], e[i] + c.radius);
      }
    }
  }
  b.low.head<2>().array() -= options.floor_margin;
  b.high.head<2>().array() += options.floor_margin;
  b.low.z() = std::min(b.low.z(), options.floor_z - options.roughness.amplitude());
  double u0 = std::numeric_limits<double>::infinity(), v0 = u0, u1 = -u0, v1 = -u0;
  double nearest = u0;
  for (int corner = 0; corner < 8; ++corner) {
    const Eigen::Vector3d p((corner & 1) ? b.high.x() : b.low.x(),
                            (corner & 2) ? b.high.y() : b.low.y(),
                            (corner & 4) ? b.high.z() : b.low.z());
    const Eigen::Vector3d uvz = camera.project(p);
    if (!(uvz.z() > kNearestDepth) || !uvz.allFinite()) return whole;
    u0 = std::min(u0, uvz.x());
    u1 = std::max(u1, uvz.x());
    v0 = std::min(v0, uvz.y());
    v1 = std::max(v1, uvz.y());
    nearest = std::min(nearest, uvz.z());
  }
  // The band reaches farthest in the image where the floor is nearest to the camera,
  // and never nearer than the object's own nearest point; one pixel more for rounding
  // and one for the neighbours of the edge pixels.
  const double reach = options.band_width * focal(camera) / nearest + 2.0;
  PixelWindow w;
  w.u0 = static_cast<int>(std::max(0.0, std::floor(u0 - reach)));
  w.v0 = static_cast<int>(std::max(0.0, std::floor(v0 - reach)));
  w.u1 = static_cast<int>(std::min<double>(camera.width - 1, std::ceil(u1 + reach)));
  w.v1 = static_cast<int>(std::min<double>(camera.height - 1, std::ceil(v1 + reach)));
  return w;
}

namespace {

enum class Seen : std::uint8_t { nothing, object, floor };

// What one pixel's ray meets first.
struct Pixel {
  Seen seen = Seen::nothing;
  double depth = 0.0;        // of what it meets
  double floor_depth = 0.0;  // of the floor behind it, 0 when the ray never meets the floor
  bool kept = false;         // part of the cloud
};

// The pixels of a window, row by row.
class PixelGrid {
public:
  explicit PixelGrid(const PixelWindow& w)
      : w_(w), cols_(w.u1 - w.u0 + 1), rows_(w.v1 - w.v0 + 1),
        pixels_(static_cast<std::size_t>(std::max(0, cols_) * std::max(0, rows_))) {}
  int cols() const { return cols_; }
  int rows() const { return rows_; }
  int u(int col) const { return w_.u0 + col; }
  int v(int row) const { return w_.v0 + row; }
  Pixel& at(int col, int row) { return pixels_[static_cast<std::size_t>(row) * cols_ + col]; }
  bool inside(int col, int row) const { return col >= 0 && row >= 0 && col < cols_ && row < rows_; }

private:
  PixelWindow w_;
  int cols_, rows_;
  std::vector<Pixel> pixels_;
};

void castRays(const Camera& camera, const Object& object, const CaptureOptions& options,
              PixelGrid& grid) {
  for (int row = 0; row < grid.rows(); ++row) {
    for (int col = 0; col < grid.cols(); ++col) {
      const Ray ray = camera.pixelRay(grid.u(col), grid.v(row));
      Pixel& px = grid.at(col, row);
      if (const auto t = floorHit(ray, options.floor_z, options.roughness)) px.floor_depth = *t;
      const std::optional<double> object_t = intersect(ray, object);
      if (object_t && (px.floor_depth == 0.0 || *object_t < px.floor_depth)) {
        px.seen = Seen::object;
        px.depth = *object_t;
        px.kept = true;
      } else if (px.floor_depth > 0.0) {
        px.seen = Seen::floor;
        px.depth = px.floor_depth;
        const Eigen::Vector3d p = ray.origin + px.floor_depth * ray.direction;
        px.kept = footprintDistance(p.head<2>(), object) <= options.floor_margin;
      }
    }
  }
}

// Drops the given share of the object's pixels: those lowest along a random direction.
void dropPartOfMask(double share, PixelGrid& grid, std::mt19937& rng) {
  std::vector<std::pair<double, Pixel*>> object;
  const double angle = std::uniform_real_distribution<double>(0.0, 2.0 * M_PI)(rng);
  for (int row = 0; row < grid.rows(); ++row)
    for (int col = 0; col < grid.cols(); ++col)
      if (grid.at(col, row).seen == Seen::object)
        object.push_back({col * std::cos(angle) + row * std::sin(angle), &grid.at(col, row)});
  const auto drop = static_cast<std::size_t>(std::lround(share * object.size()));
  std::sort(object.begin(), object.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < drop && i < object.size(); ++i) object[i].second->kept = false;
}

// Keeps floor pixels within the band around the kept object pixels.
void keepFloorBand(const Camera& camera, const CaptureOptions& options, PixelGrid& grid,
                   std::mt19937& rng) {
  if (grid.cols() <= 0 || grid.rows() <= 0) return;
  cv::Mat outside(grid.rows(), grid.cols(), CV_8U);
  for (int row = 0; row < grid.rows(); ++row)
    for (int col = 0; col < grid.cols(); ++col) {
      const Pixel& px = grid.at(col, row);
      outside.at<std::uint8_t>(row, col) = px.seen == Seen::object && px.kept ? 0 : 255;
    }
  cv::Mat distance;  // pixels to the nearest kept object pixel
  cv::distanceTransform(outside, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
  std::bernoulli_distribution keep(std::clamp(options.band_density, 0.0, 1.0));
  const double f = focal(camera);
  for (int row = 0; row < grid.rows(); ++row)
    for (int col = 0; col < grid.cols(); ++col) {
      Pixel& px = grid.at(col, row);
      if (px.seen != Seen::floor || px.kept) continue;
      if (distance.at<float>(row, col) <= options.band_width * f / px.depth && keep(rng))
        px.kept = true;
    }
}

// Mixes the depth of object pixels at a depth edge with the background's.
void mixEdgePixels(double share, PixelGrid& grid, std::mt19937& rng) {
  std::bernoulli_distribution mixed(std::clamp(share, 0.0, 1.0));
  std::uniform_real_distribution<double> weight(0.0, 1.0);
  const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  for (int row = 0; row < grid.rows(); ++row)
    for (int col = 0; col < grid.cols(); ++col) {
      Pixel& px = grid.at(col, row);
      if (px.seen != Seen::object || !px.kept) continue;
      double background = 0.0;
      for (const auto& s : steps) {
        if (!grid.inside(col + s[0], row + s[1])) continue;
        const Pixel& n = grid.at(col + s[0], row + s[1]);
        if (n.seen == Seen::floor && n.depth > px.depth + kMixedPixelStep)
          background = std::max(background, n.depth);
      }
      if (background > 0.0 && mixed(rng)) {
        const double w = weight(rng);
        px.depth = w * px.depth + (1.0 - w) * background;
      }
    }
}

}  // namespace

namespace {

// The artefacts' own random stream.
std::mt19937 artefactStream(unsigned seed) {
  std::seed_seq artefact_seed{seed, 0x5eedu};
  return std::mt19937(artefact_seed);
}

// What each pixel near the object sees, and which of the object's pixels the mask keeps.
PixelGrid objectMask(const Camera& camera, const Object& object, const CaptureOptions& options,
                     std::mt19937& artefacts) {
  PixelGrid grid(pixelsNear(camera, object, options));
  castRays(camera, object, options, grid);
  if (options.mask_drop_share > 0.0) dropPartOfMask(options.mask_drop_share, grid, artefacts);
  return grid;
}

}  // namespace

int objectPoints(const Camera& camera, const Object& object, const CaptureOptions& options) {
  std::mt19937 artefacts = artefactStream(options.seed);
  PixelGrid grid = objectMask(camera, object, options, artefacts);
  int count = 0;
  for (int row = 0; row < grid.rows(); ++row)
    for (int col = 0; col < grid.cols(); ++col) {
      const Pixel& px = grid.at(col, row);
      count += px.seen == Seen::object && px.kept;
    }
  return count;
}

pcl::PointCloud<pcl::PointXYZ> capture(const Camera& camera, const Object& object,
                                       const CaptureOptions& options) {
  std::mt19937 artefacts = artefactStream(options.seed);
  PixelGrid grid = objectMask(camera, object, options, artefacts);
  if (options.band_width > 0.0) keepFloorBand(camera, options, grid, artefacts);
  if (options.mixed_pixel_share > 0.0) mixEdgePixels(options.mixed_pixel_share, grid, artefacts);

  struct Hit {
    Eigen::Vector3d in_camera;  // unit depth
    double depth;
    bool on_object;
  };
  std::vector<Hit> hits;
  for (int row = 0; row < grid.rows(); ++row) {
    for (int col = 0; col < grid.cols(); ++col) {
      const Pixel& px = grid.at(col, row);
      if (!px.kept) continue;
      const Eigen::Vector3d in_camera((grid.u(col) - camera.cx) / camera.fx,
                                      (grid.v(row) - camera.cy) / camera.fy, 1.0);
      hits.push_back({in_camera, px.depth, px.seen == Seen::object});
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

  if (options.outlier_share > 0.0 && !hits.empty()) {
    const auto count = static_cast<std::size_t>(
        std::lround(std::clamp(options.outlier_share, 0.0, 1.0) * hits.size()));
    std::vector<std::size_t> order(hits.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), artefacts);
    std::normal_distribution<double> moved(0.0, options.outlier_sigma);
    for (std::size_t k = 0; k < count; ++k) hits[order[k]].depth += moved(artefacts);
  }
  if (options.depth_step > 0.0)
    for (Hit& h : hits) h.depth = std::round(h.depth / options.depth_step) * options.depth_step;

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

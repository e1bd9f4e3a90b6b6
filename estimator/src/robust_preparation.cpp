// Robust preparation: points that cannot belong to the object (not finite, far above the
// floor) and statistical outliers are removed; the floor is fitted to the floor band around
// the object's foot (the configured floor when there is none); what lies below the floor is
// removed and the object is measured from it; the floor around it is cut, and for an
// object longer than it is tall the lowest share of its height; one point is kept per leaf
// of a few pixels' footprint, and strays beside the footprint are trimmed. A removal that
// would leave too few points is skipped.
#include "internal/robust_preparation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>

#include <pcl/common/io.h>

#include "internal/console.h"
#include "internal/floor_fit.h"
#include "internal/voxel_grid.h"

namespace litterpose::robust {
namespace {

using Cloud = GrabPoseEstimate::Cloud;
using console::line;

// Fewer points than this after a removal of what is not the object, and it is not made.
constexpr std::size_t kMinPreparedPoints = 100;
// Nothing above this height (base frame) belongs to an object to pick up.
constexpr float kPassUpperLimit = 1.0f;
// A footprint's length leaves out this share of its points at either end.
constexpr double kExtentQuantile = 0.05;
// A neighbourhood of k points spans about this many voxels. Voxels are resized when that
// needs a change of size beyond kResizeBeyond, by at most kMaxVoxelResize either way.
constexpr double kVoxelsPerNeighbourhood = 6.0;
constexpr double kResizeBeyond = 1.5;
constexpr double kMaxVoxelResize = 4.0;
constexpr std::size_t kDensitySample = 4;
// Rings of cells searched around a voxel for its neighbours.
constexpr int kMaxRing = 2;
// Neighbour distances are divided by the range from the camera, taken at least this long.
constexpr double kNearestRange = 0.05;
// The floor is fitted on patches of this many pixels' footprint, at least kMinPatch wide.
constexpr double kPatchPixels = 3.0;
constexpr double kMinPatch = 0.005;
// Without usable intrinsics a pixel is taken to cover this much at one metre.
constexpr double kDefaultPixelAtOneMetre = 0.0026;
// The volume under a lying object is measured on cells of this many pixels' footprint.
constexpr double kHeightMapPixels = 4.0;
// A prepared cloud narrower than this across its main axis has no shape to grasp.
constexpr float kMinSpanAcross = 0.003f;

bool finite(const pcl::PointXYZ& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Keeps, in order and in place, the points whose flag is set (and the flags' companions).
template <typename Flag>
std::size_t keepFlagged(Cloud& cloud, std::vector<float>* heights, const std::vector<Flag>& keep) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < cloud.size(); ++i)
    if (keep[i]) {
      cloud.points[kept] = cloud.points[i];
      if (heights != nullptr) (*heights)[kept] = (*heights)[i];
      ++kept;
    }
  cloud.points.resize(kept);
  if (heights != nullptr) heights->resize(kept);
  cloud.width = static_cast<std::uint32_t>(kept);
  cloud.height = 1;
  return kept;
}

std::size_t count(const std::vector<bool>& flags) {
  return static_cast<std::size_t>(std::count(flags.begin(), flags.end(), true));
}

Eigen::Vector3d centroid(const Cloud& cloud, const std::vector<float>* heights, float above) {
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  std::size_t n = 0;
  for (std::size_t i = 0; i < cloud.size(); ++i)
    if (heights == nullptr || (*heights)[i] >= above) {
      sum += Eigen::Vector3d(cloud[i].x, cloud[i].y, cloud[i].z);
      ++n;
    }
  return n > 0 ? Eigen::Vector3d(sum / static_cast<double>(n)) : Eigen::Vector3d::Zero();
}

// Extent of the points at least `cut` above the floor along the main direction of their
// footprint, between the kExtentQuantile-th points at either end.
double footprintLength(const Cloud& cloud, const std::vector<float>& heights, float cut) {
  Eigen::Vector2d mean = Eigen::Vector2d::Zero();
  std::size_t n = 0;
  for (std::size_t i = 0; i < cloud.size(); ++i)
    if (heights[i] >= cut) {
      mean += Eigen::Vector2d(cloud[i].x, cloud[i].y);
      ++n;
    }
  if (n < 3) return 0.0;
  mean /= static_cast<double>(n);
  Eigen::Matrix2d cov = Eigen::Matrix2d::Zero();
  for (std::size_t i = 0; i < cloud.size(); ++i)
    if (heights[i] >= cut) {
      const Eigen::Vector2d d = Eigen::Vector2d(cloud[i].x, cloud[i].y) - mean;
      cov += d * d.transpose();
    }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> axes(cov);
  const Eigen::Vector2d main = axes.eigenvectors().col(1);
  std::vector<double> along;
  along.reserve(n);
  for (std::size_t i = 0; i < cloud.size(); ++i)
    if (heights[i] >= cut) along.push_back(main.dot(Eigen::Vector2d(cloud[i].x, cloud[i].y) - mean));
  const auto end = static_cast<std::ptrdiff_t>(kExtentQuantile * static_cast<double>(n - 1));
  const auto last = static_cast<std::ptrdiff_t>(n) - 1 - end;
  std::nth_element(along.begin(), along.begin() + last, along.end());
  const double high = along[static_cast<std::size_t>(last)];
  std::nth_element(along.begin(), along.begin() + end, along.begin() + last);
  return high - along[static_cast<std::size_t>(end)];
}

// Points outside the footprint's bulk: beyond the given share of the points at either end
// of the footprint's two principal directions, by more than the margin.
std::vector<bool> insideFootprint(const Cloud& cloud, double trim_share, float margin) {
  std::vector<bool> keep(cloud.size(), true);
  if (cloud.size() < 3 || trim_share <= 0.0) return keep;
  Eigen::Vector2d mean = Eigen::Vector2d::Zero();
  for (const auto& p : cloud) mean += Eigen::Vector2d(p.x, p.y);
  mean /= static_cast<double>(cloud.size());
  Eigen::Matrix2d cov = Eigen::Matrix2d::Zero();
  for (const auto& p : cloud) {
    const Eigen::Vector2d d = Eigen::Vector2d(p.x, p.y) - mean;
    cov += d * d.transpose();
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> axes(cov);
  if (axes.info() != Eigen::Success) return keep;
  std::vector<double> along(cloud.size()), sorted(cloud.size());
  for (int axis = 0; axis < 2; ++axis) {
    const Eigen::Vector2d direction = axes.eigenvectors().col(axis);
    for (std::size_t i = 0; i < cloud.size(); ++i)
      along[i] = direction.dot(Eigen::Vector2d(cloud[i].x, cloud[i].y) - mean);
    sorted = along;
    const auto lo = static_cast<std::size_t>(trim_share * static_cast<double>(sorted.size() - 1));
    const std::size_t hi = sorted.size() - 1 - lo;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(lo),
                     sorted.end());
    const double low = sorted[lo];
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(hi),
                     sorted.end());
    const double high = sorted[hi];
    for (std::size_t i = 0; i < cloud.size(); ++i)
      if (along[i] < low - margin || along[i] > high + margin) keep[i] = false;
  }
  return keep;
}

Eigen::Vector3d cameraOrigin(const GrabPoseEstimate& e) {
  return e.camera_extrinsic_.block<3, 1>(0, 3).cast<double>();
}

floor::Prior floorPrior(const GrabPoseEstimate& e) {
  floor::Prior prior;
  prior.plane = floor::Plane::level(-static_cast<double>(e.base_height_));
  prior.height_tolerance = e.robust_preparation_.floor_height_tolerance;
  prior.tilt_tolerance_deg = e.robust_preparation_.floor_tilt_tolerance;
  return prior;
}

}  // namespace

std::optional<double> pixelFootprint(const GrabPoseEstimate& e, double range) {
  const double focal = 0.5 * (static_cast<double>(e.fx_) + static_cast<double>(e.fy_));
  if (!(e.fx_ > 0.0f && e.fy_ > 0.0f && std::isfinite(focal))) return std::nullopt;
  return range / focal;
}

std::vector<bool> statisticalInliers(const Cloud& cloud, int k, float std_dev_mul,
                                     float voxel_size, const Eigen::Vector3f& viewpoint) {
  if (cloud.empty() || k < 1 || !(voxel_size > 0.0f)) return std::vector<bool>(cloud.size(), true);
  std::vector<bool> keep(cloud.size(), false);

  // Voxels of the configured size, or resized (points lie on surfaces: a voxel's count
  // grows with its area) when a voxel holds far more or far less than about a
  // kVoxelsPerNeighbourhood-th of a neighbourhood: a neighbourhood is then a few voxels of
  // the 27 around a point's own, whatever the camera's resolution and distance.
  // The density is measured on every kDensitySample-th point, so that one grid of all
  // the points is built, of the size it needs.
  double size = voxel_size;
  {
    Cloud sample;
    sample.reserve(cloud.size() / kDensitySample + 1);
    for (std::size_t i = 0; i < cloud.size(); i += kDensitySample) sample.push_back(cloud[i]);
    const VoxelGrid probe(sample, size);
    if (probe.voxels().empty()) return keep;
    const double per_voxel =
        static_cast<double>(kDensitySample * probe.points()) / probe.voxels().size();
    const double scale = std::sqrt(static_cast<double>(k) / kVoxelsPerNeighbourhood / per_voxel);
    if (scale > kResizeBeyond || scale < 1.0 / kResizeBeyond)
      size *= std::clamp(scale, 1.0 / kMaxVoxelResize, kMaxVoxelResize);
  }
  const auto grid = std::make_unique<VoxelGrid>(cloud, size);
  const VoxelGrid& g = *grid;
  const std::size_t voxel_count = g.voxels().size();
  const std::size_t wanted = std::min<std::size_t>(static_cast<std::size_t>(k), g.points() - 1);

  // Mean distance of a voxel's points to their k nearest neighbours: its other points, then
  // the points of the surrounding voxels, nearest first, each voxel's at the root mean
  // square distance between its points and the voxel's own: the 26 voxels around, or the
  // 124 when those hold too few; neighbours still missing count at the edge of the cells
  // searched, which marks the point isolated.
  std::vector<double> mean_distance(voxel_count, 0.0);
  std::vector<std::pair<double, std::size_t>> near;  // distance, points
  std::vector<std::size_t> around;
  for (std::size_t v = 0; v < voxel_count && wanted > 0; ++v) {
    const auto& voxel = g.voxels()[v];
    near.clear();
    near.push_back({g.pointDistance(v, v), voxel.points - 1});
    std::size_t available = voxel.points - 1;
    int ring = 1;
    for (; ring <= kMaxRing; ++ring) {
      around.clear();
      g.shell(v, ring, around);
      for (const std::size_t n : around) {
        near.push_back({g.pointDistance(v, n), g.voxels()[n].points});
        available += g.voxels()[n].points;
      }
      if (available >= wanted) break;
    }
    std::sort(near.begin(), near.end());
    double sum = 0.0;
    std::size_t counted = 0;
    for (const auto& [distance, points] : near) {
      const std::size_t take = std::min(points, wanted - counted);
      sum += static_cast<double>(take) * distance;
      counted += take;
      if (counted == wanted) break;
    }
    sum += static_cast<double>(wanted - counted) * (std::min(ring, kMaxRing) + 0.5) * g.size();
    // In the camera's angular units: points twice as far are twice as sparse.
    const double range = std::max((g.centroid(v) - viewpoint.cast<double>()).norm(), kNearestRange);
    mean_distance[v] = sum / static_cast<double>(wanted) / range;
  }

  // Mean and standard deviation over the points (each voxel weighs its point count).
  double mean = 0.0;
  for (std::size_t v = 0; v < voxel_count; ++v)
    mean += static_cast<double>(g.voxels()[v].points) * mean_distance[v];
  mean /= static_cast<double>(g.points());
  double variance = 0.0;
  for (std::size_t v = 0; v < voxel_count; ++v)
    variance += static_cast<double>(g.voxels()[v].points) * (mean_distance[v] - mean) *
                (mean_distance[v] - mean);
  variance /= static_cast<double>(std::max<std::size_t>(g.points() - 1, 1));
  const double limit = mean + std_dev_mul * std::sqrt(variance);
  for (std::size_t i = 0; i < cloud.size(); ++i)
    keep[i] = g.voxelOf(i) != VoxelGrid::kNone && mean_distance[g.voxelOf(i)] <= limit;
  return keep;
}

preparation::Prepared prepare(GrabPoseEstimate& e, GrabPoseEstimate::CloudPtr& input,
                              GrabPoseEstimate::CloudPtr& output, shape::CloudSums* sums,
                              std::size_t min_points) {
  preparation::Prepared prepared;
  prepared.robust = true;
  const auto start = console::Clock::now();
  if (!input || !output) return prepared;
  const GrabPoseEstimate::RobustPreparation& config = e.robust_preparation_;
  const Eigen::Vector3d camera = cameraOrigin(e);
  const std::size_t enough = std::max(min_points, kMinPreparedPoints);

  // Never part of an object: non-numbers and points far above the floor.
  Cloud cloud;
  cloud.reserve(input->size());
  for (const auto& p : *input)
    if (finite(p) && p.z <= kPassUpperLimit) cloud.push_back(p);
  const std::size_t stray = input->size() - cloud.size();

  std::size_t outliers = 0;
  {
    const std::vector<bool> inliers = statisticalInliers(
        cloud, e.sor2_meank_value_, config.std_dev_mul, config.voxel_size, camera.cast<float>());
    const std::size_t kept = count(inliers);
    if (kept >= kMinPreparedPoints && kept < cloud.size()) {
      outliers = cloud.size() - kept;
      keepFlagged(cloud, nullptr, inliers);
    }
  }
  line(CYAN_BOLD, "robust preparation: removed ", stray, " points not finite or above 1 m, ",
       outliers, " statistical outliers");

  // The floor: fitted to the flat patches around the object's foot, or the configured one.
  const Eigen::Vector3d middle = centroid(cloud, nullptr, 0.0f);
  const double pixel =
      pixelFootprint(e, (middle - camera).norm()).value_or(kDefaultPixelAtOneMetre);
  const floor::Prior prior = floorPrior(e);
  floor::Fit fit;
  fit.plane = prior.plane;
  if (prior.height_tolerance > 0.0 || prior.tilt_tolerance_deg > 0.0) {
    fit = floor::fitFloor(cloud, prior, middle.head<2>(), std::max(kMinPatch, kPatchPixels * pixel),
                          config.floor_clearance);
  } else {
    fit.refusal = "fitting is off";
  }
  e.floor_plane_ = fit.plane.coefficients();
  e.floor_fitted_ = fit.fitted;
  if (fit.fitted) {
    line(CYAN_BOLD, "robust preparation: floor fitted to ", fit.inliers, " points, ",
         fit.plane.zAt(middle.x(), middle.y()) - prior.plane.zAt(middle.x(), middle.y()),
         " m from the configured floor under the object, tilted ", fit.plane.tiltDeg(), " deg");
  } else {
    line(YELLOW_BOLD, "robust preparation: the configured floor (", fit.refusal, ")");
  }

  // Below the floor: nothing of an object.
  std::vector<float> heights(cloud.size());
  for (std::size_t i = 0; i < cloud.size(); ++i)
    heights[i] = static_cast<float>(fit.plane.height(cloud[i]));
  {
    std::vector<bool> above(cloud.size());
    for (std::size_t i = 0; i < cloud.size(); ++i)
      above[i] = heights[i] >= -config.below_floor_margin;
    const std::size_t kept = count(above);
    if (kept < cloud.size()) {
      if (kept >= kMinPreparedPoints) {
        line(CYAN_BOLD, "robust preparation: removed ", cloud.size() - kept,
             " points below the floor");
        keepFlagged(cloud, &heights, above);
      } else {
        line(YELLOW_BOLD, "robust preparation: ", cloud.size() - kept,
             " points below the floor, too many to remove");
      }
    }
  }

  // The object's extent above the floor under it.
  if (cloud.empty()) {
    e.trash_lowest_z_ = e.trash_highest_z_ = e.trash_height_ = std::nanf("");
  } else {
    const float height = *std::max_element(heights.begin(), heights.end());
    const Eigen::Vector3d object = centroid(cloud, &heights, config.floor_clearance);
    e.trash_lowest_z_ = static_cast<float>(fit.plane.zAt(object.x(), object.y()));
    e.trash_highest_z_ = e.trash_lowest_z_ + height;
    e.trash_height_ = height;
  }
  line(MAGENTA_BOLD, "trash_lowest_z_: ", e.trash_lowest_z_);
  line(MAGENTA_BOLD, "trash_highest_z_: ", e.trash_highest_z_);
  line(MAGENTA_BOLD, "trash_height_:", e.trash_height_);
  if (e.is_on_floor_) line(MAGENTA_BOLD, "is_on_floor_ !", "  ", "trash_lowest_z_: ", e.trash_lowest_z_);

  // The floor layer; for an object longer than it is tall also the lowest share of its
  // height, which the camera sees on its near side only and which would draw the centroid
  // and the axes towards the camera. Kept only where the object keeps the entry's minimum.
  if (cloud.size() >= min_points && e.trash_height_ > 0.0f) {
    float cut = config.floor_clearance;
    prepared.lying = e.trash_height_ < footprintLength(cloud, heights, cut);
    if (prepared.lying) cut = std::max(cut, config.bottom_share * e.trash_height_);
    std::vector<bool> above(cloud.size());
    for (std::size_t i = 0; i < cloud.size(); ++i) above[i] = heights[i] >= cut;
    const std::size_t left = count(above);
    if (left >= min_points) {
      line(CYAN_BOLD, "robust preparation: removed ", cloud.size() - left,
           " points of the floor and the object's bottom, below ", cut, " m above the floor");
      keepFlagged(cloud, &heights, above);
    } else {
      line(YELLOW_BOLD, "去z坐标 ", cut, " 以下点云后数量太少-------------");
    }
  }

  // One point per leaf, the centroid of its points: the camera samples near surfaces more
  // densely than far ones, and the shape analysis weighs every point alike. The leaf covers
  // a few pixels at the object's range, so that small litter keeps its points.
  double leaf = config.leaf_size;
  if (leaf < 0.0) {
    const double range = (centroid(cloud, nullptr, 0.0f) - camera).norm();
    leaf = config.leaf_pixels * pixelFootprint(e, range).value_or(kDefaultPixelAtOneMetre * range);
  }
  if (leaf > 0.0 && cloud.size() >= enough) {
    const VoxelGrid leaves(cloud, leaf);
    if (leaves.voxels().size() >= enough && leaves.voxels().size() < cloud.size()) {
      Cloud even;
      even.reserve(leaves.voxels().size());
      for (const auto& v : leaves.voxels())
        even.push_back(pcl::PointXYZ(static_cast<float>(v.centroid.x()),
                                     static_cast<float>(v.centroid.y()),
                                     static_cast<float>(v.centroid.z())));
      line(CYAN_BOLD, "robust preparation: ", cloud.size(), " points thinned to ", even.size(),
           ", one per leaf of ", leaf, " m");
      cloud.swap(even);
    }
  }

  const std::vector<bool> inside =
      insideFootprint(cloud, config.footprint_trim, config.footprint_margin);
  if (count(inside) >= enough && count(inside) < cloud.size()) {
    line(CYAN_BOLD, "robust preparation: removed ", cloud.size() - count(inside),
         " points beyond the footprint");
    keepFlagged(cloud, nullptr, inside);
  }

  // The input's layout stays the host's: its header and sensor pose.
  cloud.header = input->header;
  cloud.sensor_origin_ = input->sensor_origin_;
  cloud.sensor_orientation_ = input->sensor_orientation_;
  cloud.is_dense = true;
  if (cloud.size() >= min_points) {
    output->swap(cloud);
    if (sums != nullptr)
      for (const auto& p : *output) sums->add(p);
    prepared.summed = true;
  } else {
    line(YELLOW_BOLD, "robust preparation: ", cloud.size(), " points left, the entry cloud is kept");
    if (input.get() != output.get()) pcl::copyPointCloud(*input, *output);
    prepared.lying = false;
  }
  line(RED_BOLD, "PclProcessFunc cost ", console::cost_ms(start), " ms");
  return prepared;
}

std::optional<std::string> degenerateShape(const GrabPoseEstimate& e) {
  const Eigen::Vector3f& lengths = e.pca_lengths_;
  if (!(lengths[0] >= kMinSpanAcross)) {
    std::ostringstream why;
    why << "its points span " << lengths[0] * 1000.0f << " mm";
    return why.str();
  }
  if (!(lengths[1] >= kMinSpanAcross)) {
    std::ostringstream why;
    why << "its points lie on a line (" << lengths[1] * 1000.0f << " mm across)";
    return why.str();
  }
  return std::nullopt;
}

bool refuseDegenerateShape(const GrabPoseEstimate& e) {
  const auto why = degenerateShape(e);
  if (why) line(RED_BOLD, "no shape to grasp: ", *why, "!!!");
  return why.has_value();
}

Eigen::Vector2f graspCentre(const GrabPoseEstimate& e, const Cloud& cloud) {
  Eigen::Vector2f rect = Eigen::Vector2f::Zero();
  for (const auto& corner : e.rect_points_) rect += Eigen::Vector2f(corner.x, corner.y);
  rect /= 4.0f;
  if (cloud.empty() || !rect.allFinite()) return rect;
  // Along the footprint's long side, the centre of the volume under the points: a bottle's
  // neck weighs less than its body.
  const Eigen::Vector2d u = e.rect_direction_.cast<double>().normalized();
  const Eigen::Vector2d origin = rect.cast<double>();
  const Eigen::Vector3d camera = cameraOrigin(e);
  const double range = (centroid(cloud, nullptr, 0.0f) - camera).norm();
  const double cell = kHeightMapPixels * pixelFootprint(e, range).value_or(kDefaultPixelAtOneMetre * range);
  const floor::Plane floor{e.floor_plane_.head<3>().cast<double>().normalized(),
                           static_cast<double>(e.floor_plane_[3])};
  // Cells along the long side only: the volume's profile.
  double low = 0.0, high = 0.0;
  for (const auto& p : cloud) {
    const double t = u.dot(Eigen::Vector2d(p.x, p.y) - origin);
    low = std::min(low, t);
    high = std::max(high, t);
  }
  const Eigen::Vector2d v(-u.y(), u.x());
  const double across_cell = cell;
  double across_low = 0.0, across_high = 0.0;
  for (const auto& p : cloud) {
    const double w = v.dot(Eigen::Vector2d(p.x, p.y) - origin);
    across_low = std::min(across_low, w);
    across_high = std::max(across_high, w);
  }
  const int columns = std::min(4096, static_cast<int>((high - low) / cell) + 1);
  const int rows = std::min(4096, static_cast<int>((across_high - across_low) / across_cell) + 1);
  std::vector<float> top(static_cast<std::size_t>(columns) * rows, 0.0f);
  for (const auto& p : cloud) {
    const Eigen::Vector2d d = Eigen::Vector2d(p.x, p.y) - origin;
    const int c = std::clamp(static_cast<int>((u.dot(d) - low) / cell), 0, columns - 1);
    const int r = std::clamp(static_cast<int>((v.dot(d) - across_low) / across_cell), 0, rows - 1);
    float& h = top[static_cast<std::size_t>(r) * columns + c];
    h = std::max(h, static_cast<float>(floor.height(p)));
  }
  double weighted = 0.0, volume = 0.0;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      const double h = top[static_cast<std::size_t>(r) * columns + c];
      weighted += (low + (c + 0.5) * cell) * h;
      volume += h;
    }
  if (!(volume > 0.0)) return rect;
  return (origin + (weighted / volume) * u).cast<float>();
}

}  // namespace litterpose::robust

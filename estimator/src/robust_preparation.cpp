// Robust preparation: points that cannot belong to the object (not finite, below the floor,
// far above it) and statistical outliers are removed before anything is measured; the
// object is measured on what remains; the floor around it is cut, and for an object longer
// than it is tall the lowest share of its height; one point is kept per leaf, and strays
// beside the footprint are trimmed. A removal that would leave too few points is skipped.
#include "internal/robust_preparation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>

#include "internal/console.h"

namespace litterpose::robust {
namespace {

using Cloud = GrabPoseEstimate::Cloud;
using console::line;

// As the default preparation: fewer points than this and a removal is not made, and
// nothing above this height (base frame) belongs to an object to pick up.
constexpr std::size_t kMinPreparedPoints = 100;
constexpr float kPassUpperLimit = 1.0f;
// The lowest layer of points starts at the height below which this share of them lies.
constexpr double kFloorQuantile = 0.02;
// A footprint's length leaves out this share of its points at either end.
constexpr double kExtentQuantile = 0.05;
// A neighbourhood of k points spans about this many voxels. Voxels are resized when that
// needs a change of size beyond kResizeBeyond, by at most kMaxVoxelResize either way.
constexpr double kVoxelsPerNeighbourhood = 6.0;
constexpr double kResizeBeyond = 1.5;
constexpr double kMaxVoxelResize = 4.0;
// Rings of cells searched around a voxel for its neighbours.
constexpr int kMaxRing = 2;
// Neighbour distances are divided by the range from the camera, taken at least this long.
constexpr double kNearestRange = 0.05;

bool finite(const pcl::PointXYZ& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Keeps the points whose flag is set; the order is kept.
Cloud select(const Cloud& cloud, const std::vector<bool>& keep) {
  Cloud kept;
  kept.reserve(cloud.size());
  for (std::size_t i = 0; i < cloud.size(); ++i)
    if (keep[i]) kept.push_back(cloud[i]);
  return kept;
}

std::size_t count(const std::vector<bool>& flags) {
  return static_cast<std::size_t>(std::count(flags.begin(), flags.end(), true));
}

// The floor level under the object: the median height of the lowest layer of points (those
// within the clearance above the kFloorQuantile-th height), which for the floor around an
// object is the floor's own height whatever its noise, and for an object seen without the
// floor lies a little above its lowest points.
float floorLevel(const Cloud& cloud, float clearance) {
  std::vector<float> z;
  z.reserve(cloud.size());
  for (const auto& p : cloud) z.push_back(p.z);
  const auto at = static_cast<std::ptrdiff_t>(kFloorQuantile * static_cast<double>(z.size() - 1));
  std::nth_element(z.begin(), z.begin() + at, z.end());
  const float low = z[static_cast<std::size_t>(at)];
  std::vector<float> layer;
  for (float v : z)
    if (v >= low && v <= low + clearance) layer.push_back(v);
  const auto mid = layer.begin() + static_cast<std::ptrdiff_t>(layer.size() / 2);
  std::nth_element(layer.begin(), mid, layer.end());
  return *mid;
}

// Extent of the points above z = cut along the main direction of their footprint, between
// the kExtentQuantile-th points at either end.
double footprintLength(const Cloud& cloud, float cut) {
  Eigen::Vector2d mean = Eigen::Vector2d::Zero();
  std::size_t n = 0;
  for (const auto& p : cloud)
    if (p.z >= cut) {
      mean += Eigen::Vector2d(p.x, p.y);
      ++n;
    }
  if (n < 3) return 0.0;
  mean /= static_cast<double>(n);
  Eigen::Matrix2d cov = Eigen::Matrix2d::Zero();
  for (const auto& p : cloud)
    if (p.z >= cut) {
      const Eigen::Vector2d d = Eigen::Vector2d(p.x, p.y) - mean;
      cov += d * d.transpose();
    }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> axes(cov);
  const Eigen::Vector2d main = axes.eigenvectors().col(1);
  std::vector<double> along;
  along.reserve(n);
  for (const auto& p : cloud)
    if (p.z >= cut) along.push_back(main.dot(Eigen::Vector2d(p.x, p.y) - mean));
  const auto end = static_cast<std::ptrdiff_t>(kExtentQuantile * static_cast<double>(n - 1));
  const auto last = static_cast<std::ptrdiff_t>(n) - 1 - end;
  std::nth_element(along.begin(), along.begin() + last, along.end());
  const double high = along[static_cast<std::size_t>(last)];
  std::nth_element(along.begin(), along.begin() + end, along.begin() + last);
  return high - along[static_cast<std::size_t>(end)];
}

// Height below which points are the floor or the object's bottom: the floor layer and its
// noise; for an object longer than it is tall (lying), also the lowest bottom_share of its
// height, which the camera sees on its near side only and which would draw the shape
// analysis (centroid, main axis) towards the camera.
float bottomCut(const Cloud& cloud, std::optional<float> known_floor, float highest,
                const GrabPoseEstimate::RobustPreparation& config) {
  const float level = known_floor ? *known_floor : floorLevel(cloud, config.floor_clearance);
  float cut = level + config.floor_clearance;
  const float height = highest - level;
  if (height > 0.0f && height < footprintLength(cloud, cut))
    cut = std::max(cut, level + config.bottom_share * height);
  return cut;
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
  for (int axis = 0; axis < 2; ++axis) {
    const Eigen::Vector2d direction = axes.eigenvectors().col(axis);
    std::vector<double> along(cloud.size());
    for (std::size_t i = 0; i < cloud.size(); ++i)
      along[i] = direction.dot(Eigen::Vector2d(cloud[i].x, cloud[i].y) - mean);
    std::vector<double> sorted = along;
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

}  // namespace

namespace {

// Points of a cloud binned into cubic voxels.
class VoxelGrid {
public:
  VoxelGrid(const Cloud& cloud, double size) : size_(size), voxel_of_(cloud.size(), kNone) {
    index_of_.reserve(cloud.size() / 2 + 1);
    for (std::size_t i = 0; i < cloud.size(); ++i) {
      const auto& p = cloud[i];
      std::int64_t cell[3];
      if (!finite(p) || !cellOf(p, cell)) continue;
      const auto [it, added] = index_of_.try_emplace(key(cell), voxels_.size());
      if (added) voxels_.push_back({{cell[0], cell[1], cell[2]}, 0, Eigen::Vector3d::Zero(), 0.0});
      Voxel& v = voxels_[it->second];
      voxel_of_[i] = it->second;
      ++v.points;
      const Eigen::Vector3d q(p.x, p.y, p.z);
      v.sum += q;
      v.spread += q.squaredNorm();
      ++points_;
    }
    for (Voxel& v : voxels_) {  // now the centroid and the mean squared distance to it
      v.sum /= static_cast<double>(v.points);
      v.spread = std::max(0.0, v.spread / static_cast<double>(v.points) - v.sum.squaredNorm());
    }
    indexDensely();
  }

  static constexpr std::size_t kNone = SIZE_MAX;
  struct Voxel {
    std::int64_t cell[3];
    std::size_t points;
    Eigen::Vector3d sum;
    double spread;
  };
  double size() const { return size_; }
  std::size_t points() const { return points_; }
  const std::vector<Voxel>& voxels() const { return voxels_; }
  std::size_t voxelOf(std::size_t point) const { return voxel_of_[point]; }
  const Eigen::Vector3d& centroid(std::size_t v) const { return voxels_[v].sum; }
  // Root mean square distance between the points of voxels a and b (a == b: within a).
  double pointDistance(std::size_t a, std::size_t b) const {
    const double centres = a == b ? 0.0 : (centroid(a) - centroid(b)).squaredNorm();
    return std::sqrt(centres + voxels_[a].spread + voxels_[b].spread);
  }
  // The voxel of a cell, or kNone.
  std::size_t at(const std::int64_t cell[3]) const {
    if (!dense_.empty()) {
      std::size_t at = 0;
      for (int axis = 0; axis < 3; ++axis) {
        const std::int64_t c = cell[axis] - low_[axis];
        if (c < 0 || c >= extent_[axis]) return kNone;
        at = at * static_cast<std::size_t>(extent_[axis]) + static_cast<std::size_t>(c);
      }
      return dense_[at] == kEmptyCell ? kNone : dense_[at];
    }
    const auto it = index_of_.find(key(cell));
    return it == index_of_.end() ? kNone : it->second;
  }

private:
  // Cells of points farther than this many voxels from the origin do not fit the key;
  // such points join no voxel and are removed as outliers.
  static constexpr std::int64_t kMaxCell = (std::int64_t{1} << 20) - 1;

  bool cellOf(const pcl::PointXYZ& p, std::int64_t cell[3]) const {
    const float coordinates[3] = {p.x, p.y, p.z};
    for (int axis = 0; axis < 3; ++axis) {
      const double c = std::floor(coordinates[axis] / size_);
      if (!(std::fabs(c) < static_cast<double>(kMaxCell))) return false;
      cell[axis] = static_cast<std::int64_t>(c);
    }
    return true;
  }
  static std::int64_t key(const std::int64_t cell[3]) {
    std::int64_t k = 0;
    for (int axis = 0; axis < 3; ++axis) k = (k << 21) | ((cell[axis] + kMaxCell) & 0x1FFFFF);
    return k;
  }

  // When the cells span a small box, a table over the box answers at() without hashing.
  static constexpr std::size_t kMaxDenseCells = std::size_t{1} << 18;
  static constexpr std::uint32_t kEmptyCell = UINT32_MAX;
  void indexDensely() {
    if (voxels_.empty() || voxels_.size() >= kEmptyCell) return;
    std::int64_t high[3];
    for (int axis = 0; axis < 3; ++axis) low_[axis] = high[axis] = voxels_[0].cell[axis];
    for (const Voxel& v : voxels_)
      for (int axis = 0; axis < 3; ++axis) {
        low_[axis] = std::min(low_[axis], v.cell[axis]);
        high[axis] = std::max(high[axis], v.cell[axis]);
      }
    std::size_t cells = 1;
    for (int axis = 0; axis < 3; ++axis) {
      extent_[axis] = high[axis] - low_[axis] + 1;
      if (extent_[axis] > static_cast<std::int64_t>(kMaxDenseCells)) return;
      cells *= static_cast<std::size_t>(extent_[axis]);
      if (cells > kMaxDenseCells) return;
    }
    dense_.assign(cells, kEmptyCell);
    for (std::size_t i = 0; i < voxels_.size(); ++i) {
      std::size_t at = 0;
      for (int axis = 0; axis < 3; ++axis)
        at = at * static_cast<std::size_t>(extent_[axis]) +
             static_cast<std::size_t>(voxels_[i].cell[axis] - low_[axis]);
      dense_[at] = static_cast<std::uint32_t>(i);
    }
  }

  double size_;
  std::int64_t low_[3] = {0, 0, 0};
  std::int64_t extent_[3] = {0, 0, 0};
  std::vector<std::uint32_t> dense_;
  std::unordered_map<std::int64_t, std::size_t> index_of_;
  std::vector<Voxel> voxels_;
  std::vector<std::size_t> voxel_of_;
  std::size_t points_ = 0;
};

}  // namespace

std::vector<bool> statisticalInliers(const Cloud& cloud, int k, float std_dev_mul,
                                     float voxel_size, const Eigen::Vector3f& viewpoint) {
  if (cloud.empty() || k < 1 || !(voxel_size > 0.0f)) return std::vector<bool>(cloud.size(), true);
  std::vector<bool> keep(cloud.size(), false);

  // Voxels of the configured size, or resized (points lie on surfaces: a voxel's count
  // grows with its area) when a voxel holds far more or far less than about a
  // kVoxelsPerNeighbourhood-th of a neighbourhood: a neighbourhood is then a few voxels of
  // the 27 around a point's own, whatever the camera's resolution and distance.
  auto grid = std::make_unique<VoxelGrid>(cloud, voxel_size);
  if (grid->voxels().empty()) return keep;
  const double per_voxel = static_cast<double>(grid->points()) / grid->voxels().size();
  const double scale = std::sqrt(static_cast<double>(k) / kVoxelsPerNeighbourhood / per_voxel);
  if (scale > kResizeBeyond || scale < 1.0 / kResizeBeyond)
    grid = std::make_unique<VoxelGrid>(
        cloud, voxel_size * std::clamp(scale, 1.0 / kMaxVoxelResize, kMaxVoxelResize));
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
  for (std::size_t v = 0; v < voxel_count && wanted > 0; ++v) {
    const auto& voxel = g.voxels()[v];
    near.clear();
    near.push_back({g.pointDistance(v, v), voxel.points - 1});
    std::size_t available = voxel.points - 1;
    int ring = 1;
    for (; ring <= kMaxRing; ++ring) {
      std::int64_t cell[3];
      for (std::int64_t dx = -ring; dx <= ring; ++dx)
        for (std::int64_t dy = -ring; dy <= ring; ++dy)
          for (std::int64_t dz = -ring; dz <= ring; ++dz) {
            if (std::max({std::abs(dx), std::abs(dy), std::abs(dz)}) != ring) continue;
            cell[0] = voxel.cell[0] + dx;
            cell[1] = voxel.cell[1] + dy;
            cell[2] = voxel.cell[2] + dz;
            const std::size_t n = g.at(cell);
            if (n == VoxelGrid::kNone) continue;
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

bool prepare(GrabPoseEstimate& e, GrabPoseEstimate::CloudPtr& input,
             GrabPoseEstimate::CloudPtr& output, shape::CloudSums* sums) {
  const auto start = console::Clock::now();
  if (!input || !output) return false;
  const GrabPoseEstimate::RobustPreparation& config = e.robust_preparation_;
  const float floor = -e.base_height_;

  // Never part of an object: non-numbers, points below the floor and far above it.
  std::vector<bool> keep(output->size());
  for (std::size_t i = 0; i < output->size(); ++i) {
    const auto& p = (*output)[i];
    keep[i] = finite(p) && p.z >= floor - config.below_floor_margin && p.z <= kPassUpperLimit;
  }
  Cloud cloud = select(*output, keep);
  const std::size_t stray = output->size() - cloud.size();

  std::size_t outliers = 0;
  const std::vector<bool> inliers =
      statisticalInliers(cloud, e.sor2_meank_value_, config.std_dev_mul, config.voxel_size,
                         e.camera_extrinsic_.block<3, 1>(0, 3));
  if (count(inliers) >= kMinPreparedPoints) {
    outliers = cloud.size() - count(inliers);
    cloud = select(cloud, inliers);
  }
  line(e, CYAN_BOLD, "robust preparation: removed ", stray,
       " points not finite, below the floor or above 1 m, ", outliers, " statistical outliers");

  // The object's extent on what remains.
  if (cloud.empty()) {
    e.trash_lowest_z_ = e.trash_highest_z_ = e.trash_height_ = std::nanf("");
  } else {
    const auto [low, high] = std::minmax_element(
        cloud.begin(), cloud.end(), [](const auto& a, const auto& b) { return a.z < b.z; });
    e.trash_lowest_z_ = low->z;
    e.trash_highest_z_ = high->z;
    e.trash_height_ = e.trash_highest_z_ - e.trash_lowest_z_;
  }
  line(e, MAGENTA_BOLD, "trash_lowest_z_: ", e.trash_lowest_z_);
  line(e, MAGENTA_BOLD, "trash_highest_z_: ", e.trash_highest_z_);
  line(e, MAGENTA_BOLD, "trash_height_:", e.trash_height_);
  if (e.is_on_floor_) {
    e.trash_lowest_z_ = floor;
    line(e, MAGENTA_BOLD, "is_on_floor_ !", "  ", "trash_lowest_z_: ", e.trash_lowest_z_);
  }

  if (cloud.size() >= kMinPreparedPoints) {
    const float cut = bottomCut(cloud, e.is_on_floor_ ? std::optional<float>(floor) : std::nullopt,
                                e.trash_highest_z_, config);
    std::vector<bool> above(cloud.size());
    for (std::size_t i = 0; i < cloud.size(); ++i) above[i] = cloud[i].z >= cut;
    const std::size_t left = count(above);
    if (left >= kMinPreparedPoints) {
      line(e, CYAN_BOLD, "robust preparation: removed ", cloud.size() - left,
           " points of the floor and the object's bottom, below z ", cut);
      cloud = select(cloud, above);
    } else {
      line(e, YELLOW_BOLD, "去z坐标 ", cut, " 以下点云后数量太少-------------");
    }
  }

  // One point per leaf, the centroid of its points: the camera samples near surfaces more
  // densely than far ones, and the shape analysis weighs every point alike.
  if (config.leaf_size > 0.0f && cloud.size() >= kMinPreparedPoints) {
    const VoxelGrid leaves(cloud, config.leaf_size);
    if (leaves.voxels().size() >= kMinPreparedPoints) {
      Cloud even;
      even.reserve(leaves.voxels().size());
      for (std::size_t v = 0; v < leaves.voxels().size(); ++v) {
        const Eigen::Vector3d& c = leaves.centroid(v);
        even.push_back(pcl::PointXYZ(static_cast<float>(c.x()), static_cast<float>(c.y()),
                                     static_cast<float>(c.z())));
      }
      line(e, CYAN_BOLD, "robust preparation: ", cloud.size(), " points thinned to ", even.size(),
           ", one per leaf of ", config.leaf_size, " m");
      cloud.swap(even);
    }
  }

  const std::vector<bool> inside =
      insideFootprint(cloud, config.footprint_trim, config.footprint_margin);
  if (count(inside) >= kMinPreparedPoints && count(inside) < cloud.size()) {
    line(e, CYAN_BOLD, "robust preparation: removed ", cloud.size() - count(inside),
         " points beyond the footprint");
    cloud = select(cloud, inside);
  }

  cloud.is_dense = true;
  output->swap(cloud);
  if (sums != nullptr)
    for (const auto& p : *output) sums->add(p);
  line(e, RED_BOLD, "PclProcessFunc cost ", console::cost_ms(start), " ms");
  return true;
}

}  // namespace litterpose::robust

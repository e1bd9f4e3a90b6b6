#include "internal/statistical_outliers.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace litterpose::robust {
namespace {

using Cloud = GrabPoseEstimate::Cloud;

// A neighbourhood of k points spans about this many voxels. Voxels are resized when that
// needs a change of size beyond kResizeBeyond, by at most kMaxVoxelResize either way.
constexpr double kVoxelsPerNeighbourhood = 6.0;
constexpr double kResizeBeyond = 1.5;
constexpr double kMaxVoxelResize = 4.0;
// Voxels merged into cells of a neighbourhood: at most this many along each axis.
constexpr double kMaxMerge = 8.0;
// The density is measured on every kDensitySample-th point.
constexpr std::size_t kDensitySample = 4;
// Rings of cells searched around a voxel for its neighbours.
constexpr int kMaxRing = 2;
// Neighbour distances are divided by the range from the camera, taken at least this long.
constexpr double kNearestRange = 0.05;

// Scale of a voxel holding per_voxel points to one holding a kVoxelsPerNeighbourhood-th of
// a neighbourhood (points lie on surfaces: a voxel's count grows with its area).
double neighbourhoodScale(int k, double per_voxel) {
  return std::sqrt(static_cast<double>(k) / kVoxelsPerNeighbourhood / per_voxel);
}

}  // namespace

int cellsHoldingANeighbourhood(int k, double per_voxel) {
  // Points lie on surfaces: a cell's count grows with its area.
  const double scale = std::sqrt((k + 1.0) / per_voxel);
  return static_cast<int>(std::clamp(std::ceil(scale), 1.0, kMaxMerge));
}

std::vector<bool> inlierVoxels(VoxelGrid& g, int k, float std_dev_mul,
                               const Eigen::Vector3f& viewpoint) {
  g.indexNeighbours();
  const std::size_t voxel_count = g.voxels().size();
  std::vector<bool> keep(voxel_count, true);
  if (voxel_count == 0 || k < 1 || g.points() < 2) return keep;
  const std::size_t wanted = std::min<std::size_t>(static_cast<std::size_t>(k), g.points() - 1);

  // Neighbours still missing after the 26 voxels around, or the 124, count at the edge of
  // the cells searched, which marks the point isolated.
  std::vector<double> mean_distance(voxel_count, 0.0);
  std::vector<std::pair<double, std::size_t>> near;  // squared distance, points
  std::vector<std::size_t> around;
  for (std::size_t v = 0; v < voxel_count; ++v) {
    const auto& voxel = g.voxels()[v];
    near.clear();
    near.push_back({2.0 * voxel.spread, voxel.points - 1});
    std::size_t available = voxel.points - 1;
    // A voxel that holds a neighbourhood of its own is not searched around.
    int ring = available >= wanted ? 0 : 1;
    for (; ring >= 1 && ring <= kMaxRing; ++ring) {
      around.clear();
      g.shell(v, ring, around);
      for (const std::size_t n : around) {
        const auto& other = g.voxels()[n];
        near.push_back({(voxel.centroid - other.centroid).squaredNorm() + voxel.spread + other.spread,
                        other.points});
        available += other.points;
      }
      if (available >= wanted) break;
    }
    std::sort(near.begin(), near.end());
    double sum = 0.0;
    std::size_t counted = 0;
    for (const auto& [squared, points] : near) {
      const std::size_t take = std::min(points, wanted - counted);
      sum += static_cast<double>(take) * std::sqrt(squared);
      counted += take;
      if (counted == wanted) break;
    }
    sum += static_cast<double>(wanted - counted) * (std::min(ring, kMaxRing) + 0.5) * g.size();
    // In the camera's angular units: points twice as far are twice as sparse.
    const double range = std::max((voxel.centroid - viewpoint.cast<double>()).norm(), kNearestRange);
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
  for (std::size_t v = 0; v < voxel_count; ++v) keep[v] = mean_distance[v] <= limit;
  return keep;
}

std::vector<bool> statisticalInliers(const Cloud& cloud, int k, float std_dev_mul,
                                     float voxel_size, const Eigen::Vector3f& viewpoint) {
  if (cloud.empty() || k < 1 || !(voxel_size > 0.0f)) return std::vector<bool>(cloud.size(), true);
  std::vector<bool> keep(cloud.size(), false);
  // The density, measured on a sample, resizes the voxels, so that one grid of all the
  // points is built, of the size it needs.
  double size = voxel_size;
  {
    Cloud sample;
    sample.reserve(cloud.size() / kDensitySample + 1);
    for (std::size_t i = 0; i < cloud.size(); i += kDensitySample) sample.push_back(cloud[i]);
    const VoxelGrid probe(sample, size);
    if (probe.voxels().empty()) return keep;
    const double per_voxel =
        static_cast<double>(kDensitySample * probe.points()) / probe.voxels().size();
    const double scale = neighbourhoodScale(k, per_voxel);
    if (scale > kResizeBeyond || scale < 1.0 / kResizeBeyond)
      size *= std::clamp(scale, 1.0 / kMaxVoxelResize, kMaxVoxelResize);
  }
  VoxelGrid grid(cloud, size);
  const std::vector<bool> voxels = inlierVoxels(grid, k, std_dev_mul, viewpoint);
  for (std::size_t i = 0; i < cloud.size(); ++i)
    keep[i] = grid.voxelOf(i) != VoxelGrid::kNone && voxels[grid.voxelOf(i)];
  return keep;
}

}  // namespace litterpose::robust

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
#include <sstream>

#include <pcl/common/io.h>

#include "internal/console.h"
#include "internal/floor_fit.h"
#include "internal/reason.h"
#include "internal/statistical_outliers.h"
#include "internal/voxel_grid.h"

namespace litterpose::robust {
namespace {

using Cloud = GrabPoseEstimate::Cloud;
using console::line;

// Fewer points than this after a removal of what is not the object, and it is not made.
constexpr std::size_t kMinPreparedPoints = 100;
// Nothing above this height (base frame), nor farther from the camera than this, belongs
// to an object to pick up.
constexpr float kPassUpperLimit = 1.0f;
constexpr double kMaxRange = 10.0;
// A footprint's length leaves out this share of its points at either end.
constexpr double kExtentQuantile = 0.05;
// The object's upper part: at least this share of its height above the floor, and this many
// floor clearances, but never above kCoreTopShare of its height (small litter).
constexpr float kCoreShare = 0.5f;
constexpr float kCoreClearances = 2.0f;
constexpr float kCoreTopShare = 0.75f;
// Lying or standing is told from the footprint of the points this many times the fitted
// floor's scatter above it (at least the floor clearance): on rough ground, or through a
// noisy camera, the floor around an object reaches above the clearance and widens it.
constexpr double kFloorScatters = 3.0;
constexpr double kHalfNormalMedian = 0.6745;
constexpr std::size_t kMinScatterPoints = 10;
constexpr double kMaxFootprintCells = 1024.0;
constexpr std::size_t kCellsPerPoint = 4;
constexpr std::size_t kMinFootprintCells = 4096;
// What is left above the floor cut is the object only where it makes up at least this share
// of the points over its own footprint: the few flying pixels or bumps above a sheet of
// paper make up a tenth, a cigarette butt more than a quarter, larger litter two thirds.
constexpr double kStandOutShare = 0.2;
// Points that stand out of a floor band kept around them give a long axis from this many,
// where their footprint is this many times longer than wide (as standard deviations).
constexpr std::size_t kMinAxisPoints = 10;
constexpr double kMinAxisElongation = 2.0;
// Quantiles of a footprint are measured on about this many points.
constexpr std::size_t kQuantileSample = 4096;
// The floor is fitted to at most about kFloorSample of the points, on patches of this many
// times their spacing, at least kMinPatch wide.
constexpr std::size_t kFloorSample = 4096;
constexpr double kPatchPixels = 3.0;
constexpr double kMinPatch = 0.005;
// Leaves that follow the pixels are never finer than this: finer detail moves no grasp.
constexpr double kMinLeaf = 0.001;
// Without usable intrinsics a pixel is taken to cover this much at one metre.
constexpr double kDefaultPixelAtOneMetre = 0.0026;
// A prepared cloud narrower than this across its main axis has no shape to grasp.
constexpr float kMinSpanAcross = 0.003f;

// The height above the floor from which up a point belongs to the object's upper part.
float upperPart(float height, float floor_clearance) {
  return std::min(std::max(kCoreClearances * floor_clearance, kCoreShare * height), kCoreTopShare * height);
}

bool finite(const pcl::PointXYZ& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

std::size_t count(const Flags& flags) {
  std::size_t n = 0;
  for (const std::uint8_t f : flags) n += f;
  return n;
}

// The centroid of the points at least `above` the floor (of all, without heights).
Eigen::Vector3d centroid(const Points& points, float above) {
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  std::size_t n = 0;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (points.heights.empty() || points.heights[i] >= above) {
      const auto& p = points.cloud[i];
      sum += Eigen::Vector3d(p.x, p.y, p.z);
      ++n;
    }
  return n > 0 ? Eigen::Vector3d(sum / static_cast<double>(n)) : Eigen::Vector3d::Zero();
}

// Extent of the points at least `cut` above the floor along the main direction of their
// footprint, between the kExtentQuantile-th points at either end; measured on an even
// sample of at most about kQuantileSample of them.
double footprintLength(const Points& points, float cut) {
  const Cloud& cloud = points.cloud;
  const std::size_t stride = cloud.size() / kQuantileSample + 1;
  std::vector<Eigen::Vector2d> xy;
  xy.reserve(cloud.size() / stride + 1);
  for (std::size_t i = 0; i < cloud.size(); i += stride)
    if (points.heights[i] >= cut) xy.emplace_back(cloud[i].x, cloud[i].y);
  const std::size_t n = xy.size();
  if (n < 3) return 0.0;
  Eigen::Vector2d mean = Eigen::Vector2d::Zero();
  for (const auto& q : xy) mean += q;
  mean /= static_cast<double>(n);
  Eigen::Matrix2d cov = Eigen::Matrix2d::Zero();
  for (const auto& q : xy) cov += (q - mean) * (q - mean).transpose();
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> axes(cov);
  const Eigen::Vector2d main = axes.eigenvectors().col(1);
  std::vector<double> along;
  along.reserve(n);
  for (const auto& q : xy) along.push_back(main.dot(q - mean));
  const auto end = static_cast<std::ptrdiff_t>(kExtentQuantile * static_cast<double>(n - 1));
  const auto last = static_cast<std::ptrdiff_t>(n) - 1 - end;
  std::nth_element(along.begin(), along.begin() + last, along.end());
  const double high = along[static_cast<std::size_t>(last)];
  std::nth_element(along.begin(), along.begin() + end, along.begin() + last);
  return high - along[static_cast<std::size_t>(end)];
}

// The floor's scatter about a plane fitted through it: its points below the plane are the
// floor's alone (nothing of an object lies under the floor), the lower half of a scatter
// symmetric about the plane, whose median depth is kHalfNormalMedian of its standard
// deviation. Measured on an even sample of at most about kQuantileSample points; 0 with
// fewer than kMinScatterPoints below the plane.
double floorScatter(const std::vector<float>& heights) {
  const std::size_t stride = heights.size() / kQuantileSample + 1;
  std::vector<float> depths;
  for (std::size_t i = 0; i < heights.size(); i += stride)
    if (heights[i] < 0.0f) depths.push_back(-heights[i]);
  if (depths.size() < kMinScatterPoints) return 0.0;
  const auto middle = depths.begin() + static_cast<std::ptrdiff_t>(depths.size() / 2);
  std::nth_element(depths.begin(), middle, depths.end());
  return *middle / kHalfNormalMedian;
}

// Points outside the footprint's bulk: beyond the given share of the points at either end
// of the footprint's two principal directions, by more than the margin. The directions and
// the shares are measured on an even sample of at most about kQuantileSample points.
Flags insideFootprint(const Cloud& cloud, double trim_share, float margin) {
  Flags keep(cloud.size(), 1);
  if (cloud.size() < 3 || trim_share <= 0.0) return keep;
  const std::size_t stride = cloud.size() / kQuantileSample + 1;
  std::vector<Eigen::Vector2d> xy;
  xy.reserve(cloud.size() / stride + 1);
  for (std::size_t i = 0; i < cloud.size(); i += stride) xy.emplace_back(cloud[i].x, cloud[i].y);
  Eigen::Vector2d mean = Eigen::Vector2d::Zero();
  for (const auto& q : xy) mean += q;
  mean /= static_cast<double>(xy.size());
  Eigen::Matrix2d cov = Eigen::Matrix2d::Zero();
  for (const auto& q : xy) cov += (q - mean) * (q - mean).transpose();
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> axes(cov);
  if (axes.info() != Eigen::Success) return keep;
  std::vector<double> along(xy.size());
  for (int axis = 0; axis < 2; ++axis) {
    const Eigen::Vector2d direction = axes.eigenvectors().col(axis);
    for (std::size_t i = 0; i < xy.size(); ++i) along[i] = direction.dot(xy[i] - mean);
    const auto lo = static_cast<std::size_t>(trim_share * static_cast<double>(along.size() - 1));
    const std::size_t hi = along.size() - 1 - lo;
    std::nth_element(along.begin(), along.begin() + static_cast<std::ptrdiff_t>(lo), along.end());
    const double low = along[lo];
    std::nth_element(along.begin(), along.begin() + static_cast<std::ptrdiff_t>(hi), along.end());
    const double high = along[hi];
    for (std::size_t i = 0; i < cloud.size(); ++i) {
      const double t = direction.dot(Eigen::Vector2d(cloud[i].x, cloud[i].y) - mean);
      if (t < low - margin || t > high + margin) keep[i] = 0;
    }
  }
  return keep;
}

// Square cells over the footprint of the points at least `above` the floor, grown by
// `margin` cells on every side; at most about kCellsPerPoint cells per point (and
// kMaxFootprintCells a side), the cells growing beyond the side asked for where needed.
class FootprintGrid {
public:
  FootprintGrid(const Points& points, float above, double cell, int margin) : cell_(cell) {
    // The bounds in scalars, which stay in registers through the loop (vectors of Eigen's
    // went through memory at every point, which cost more than the rest of the pass).
    double low_x = std::numeric_limits<double>::max(), low_y = low_x;
    double high_x = -low_x, high_y = -low_x;
    std::size_t n = 0;
    for (std::size_t i = 0; i < points.size(); ++i)
      if (points.heights[i] >= above) {
        const double x = points.cloud[i].x, y = points.cloud[i].y;
        low_x = std::min(low_x, x);
        low_y = std::min(low_y, y);
        high_x = std::max(high_x, x);
        high_y = std::max(high_y, y);
        ++n;
      }
    if (n == 0) return;
    const Eigen::Vector2d low(low_x, low_y);
    const Eigen::Vector2d extent = Eigen::Vector2d(high_x, high_y) - low;
    const double limit = static_cast<double>(std::max(kMinFootprintCells, kCellsPerPoint * n));
    cell_ = std::max({cell_, extent.x() / kMaxFootprintCells, extent.y() / kMaxFootprintCells,
                      std::sqrt(extent.x() * extent.y() / limit)});
    origin_ = low.array() - margin * cell_;
    columns_ = static_cast<int>(extent.x() / cell_) + 1 + 2 * margin;
    rows_ = static_cast<int>(extent.y() / cell_) + 1 + 2 * margin;
  }
  bool empty() const { return columns_ == 0; }
  int columns() const { return columns_; }
  int rows() const { return rows_; }
  std::size_t cells() const { return static_cast<std::size_t>(columns_) * rows_; }
  std::size_t at(int column, int row) const { return static_cast<std::size_t>(row) * columns_ + column; }
  // The cell of a point, or kOutside.
  std::size_t cellOf(const pcl::PointXYZ& p) const {
    const double c = (p.x - origin_.x()) / cell_;
    const double r = (p.y - origin_.y()) / cell_;
    if (!(c >= 0.0 && r >= 0.0 && c < columns_ && r < rows_)) return kOutside;
    return at(static_cast<int>(c), static_cast<int>(r));
  }
  static constexpr std::size_t kOutside = std::numeric_limits<std::size_t>::max();

private:
  double cell_;
  Eigen::Vector2d origin_ = Eigen::Vector2d::Zero();
  int columns_ = 0;
  int rows_ = 0;
};

// The points at least `core` above the floor, and those below it that lie over the
// footprint of the first (on square cells of the given side, grown by one cell).
Flags nearCore(const Points& points, float core, double cell) {
  Flags keep(points.size(), 1);
  const FootprintGrid grid(points, core, cell, 2);
  if (grid.empty()) return keep;
  std::vector<std::uint8_t> occupied(grid.cells(), 0);
  for (std::size_t i = 0; i < points.size(); ++i)
    if (points.heights[i] >= core) {
      const std::size_t c = grid.cellOf(points.cloud[i]);
      if (c != FootprintGrid::kOutside) occupied[c] = 1;
    }
  // The cells of the core and their eight neighbours.
  std::vector<std::uint8_t> covered(occupied.size(), 0);
  for (int r = 0; r < grid.rows(); ++r)
    for (int c = 0; c < grid.columns(); ++c) {
      if (!occupied[grid.at(c, r)]) continue;
      for (int rr = std::max(0, r - 1); rr <= std::min(grid.rows() - 1, r + 1); ++rr)
        for (int cc = std::max(0, c - 1); cc <= std::min(grid.columns() - 1, c + 1); ++cc)
          covered[grid.at(cc, rr)] = 1;
    }
  for (std::size_t i = 0; i < points.size(); ++i)
    if (points.heights[i] < core) {
      const std::size_t c = grid.cellOf(points.cloud[i]);
      keep[i] = c != FootprintGrid::kOutside && covered[c];
    }
  return keep;
}

// Of the points over the footprint of those at least `cut` above the floor (on square cells
// of the given side), the share that are: an object stands out of the floor under it, a
// few stray points above a sheet of paper do not.
double shareAbove(const Points& points, float cut, double cell) {
  const FootprintGrid grid(points, cut, cell, 0);
  if (grid.empty()) return 0.0;
  std::vector<std::uint8_t> occupied(grid.cells(), 0);
  std::size_t above = 0;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (points.heights[i] >= cut) {
      const std::size_t c = grid.cellOf(points.cloud[i]);
      if (c != FootprintGrid::kOutside) occupied[c] = 1;
      ++above;
    }
  std::size_t over = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const std::size_t c = grid.cellOf(points.cloud[i]);
    over += c != FootprintGrid::kOutside && occupied[c];
  }
  return over > 0 ? static_cast<double>(above) / static_cast<double>(over) : 0.0;
}

// The long axis, seen from above, of the points at least `cut` above the floor: the main
// direction of their footprint, where it is clearly longer than wide and they are enough
// to tell; nullopt otherwise (a bottle cap is round).
std::optional<Eigen::Vector2f> longAxisAbove(const Points& points, float cut) {
  Eigen::Vector2d mean = Eigen::Vector2d::Zero();
  std::size_t n = 0;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (points.heights[i] >= cut) {
      mean += Eigen::Vector2d(points.cloud[i].x, points.cloud[i].y);
      ++n;
    }
  if (n < kMinAxisPoints) return std::nullopt;
  mean /= static_cast<double>(n);
  Eigen::Matrix2d cov = Eigen::Matrix2d::Zero();
  for (std::size_t i = 0; i < points.size(); ++i)
    if (points.heights[i] >= cut) {
      const Eigen::Vector2d d = Eigen::Vector2d(points.cloud[i].x, points.cloud[i].y) - mean;
      cov += d * d.transpose();
    }
  const auto along = longAxisOf(cov, kMinAxisElongation);
  if (!along) return std::nullopt;
  Eigen::Vector2f axis = along->cast<float>().normalized();
  if (axis.x() < 0.0f) axis = -axis;
  return axis;
}

// One point per leaf that holds a point: the centroid of its points.
Cloud thinned(const Points& points, std::size_t leaf_count) {
  std::vector<Eigen::Vector3d> sums(leaf_count, Eigen::Vector3d::Zero());
  std::vector<std::uint32_t> counts(leaf_count, 0);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const auto& p = points.cloud[i];
    sums[points.leaves[i]] += Eigen::Vector3d(p.x, p.y, p.z);
    ++counts[points.leaves[i]];
  }
  Cloud even;
  for (std::size_t v = 0; v < leaf_count; ++v)
    if (counts[v] > 0) {
      const Eigen::Vector3d c = sums[v] / static_cast<double>(counts[v]);
      even.push_back(pcl::PointXYZ(static_cast<float>(c.x()), static_cast<float>(c.y()),
                                   static_cast<float>(c.z())));
    }
  return even;
}

}  // namespace

void Points::clear() {
  cloud.clear();
  heights.clear();
  leaves.clear();
}

void Points::keep(const Flags& flags) {
  // Every point is written to the next place and the place moves on when it is kept: which
  // points a removal takes follows the object's outline, which no branch predictor guesses.
  const bool with_heights = !heights.empty(), with_leaves = !leaves.empty();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    cloud.points[kept] = cloud.points[i];
    if (with_heights) heights[kept] = heights[i];
    if (with_leaves) leaves[kept] = leaves[i];
    kept += flags[i] != 0;
  }
  cloud.points.resize(kept);
  if (!heights.empty()) heights.resize(kept);
  if (!leaves.empty()) leaves.resize(kept);
  cloud.width = static_cast<std::uint32_t>(kept);
  cloud.height = 1;
}

Eigen::Vector3d cameraOrigin(const GrabPoseEstimate& e) {
  return e.camera_extrinsic_.block<3, 1>(0, 3).cast<double>();
}

std::optional<double> pixelFootprint(const GrabPoseEstimate& e, double range) {
  const double focal = 0.5 * (static_cast<double>(e.fx_) + static_cast<double>(e.fy_));
  if (!(e.fx_ > 0.0f && e.fy_ > 0.0f && std::isfinite(focal))) return std::nullopt;
  return range / focal;
}

double pixelFootprintOr(const GrabPoseEstimate& e, double range) {
  return pixelFootprint(e, range).value_or(kDefaultPixelAtOneMetre * range);
}

float topHeight(const Points& points, double patch) {
  const std::vector<float>& heights = points.heights;
  std::vector<std::size_t> top;  // highest first
  top.reserve(kTopCandidates + 1);
  for (std::size_t i = 0; i < heights.size(); ++i) {
    if (top.size() == kTopCandidates && !(heights[i] > heights[top.back()])) continue;
    auto at = top.end();
    while (at != top.begin() && heights[i] > heights[*(at - 1)]) --at;
    top.insert(at, i);
    if (top.size() > kTopCandidates) top.pop_back();
  }
  if (top.empty()) return std::nanf("");
  const double reach = patch * patch;
  // Only the points less than a patch below the lowest candidate can be a candidate's
  // neighbours: the slab, in the cloud's order (the top of a lying object holds a few of
  // its points; a stray above it would otherwise be looked around in all of them).
  const float floor_of_search = heights[top.back()] - static_cast<float>(patch);
  std::vector<std::uint32_t> slab;
  for (std::size_t i = 0; i < heights.size(); ++i)
    if (heights[i] >= floor_of_search) slab.push_back(static_cast<std::uint32_t>(i));
  const std::size_t n = slab.size();
  const auto near = [&](std::size_t at_slab, const Eigen::Vector3f& at) {
    return (points.cloud[slab[at_slab]].getVector3fMap() - at).cast<double>().squaredNorm() <= reach;
  };
  for (const std::size_t candidate : top) {
    const Eigen::Vector3f at = points.cloud[candidate].getVector3fMap();
    const std::size_t middle = static_cast<std::size_t>(
        std::lower_bound(slab.begin(), slab.end(), static_cast<std::uint32_t>(candidate)) - slab.begin());
    // Outwards from the candidate: a capture's neighbours in space are mostly its
    // neighbours in the image, and so in the cloud's order.
    std::size_t found = 0;
    for (std::size_t step = 1; found < kTopNeighbours && (step <= middle || middle + step < n);
         ++step) {
      if (step <= middle) found += near(middle - step, at);
      if (middle + step < n && found < kTopNeighbours) found += near(middle + step, at);
    }
    if (found >= kTopNeighbours) return heights[candidate];
  }
  return heights[top.back()];
}

// The steps of the preparation, in their order. Each removal keeps one rule: it is made only
// where it leaves at least its minimum of points, and skipped (with a word in the log)
// where it would not.
namespace {

using RobustConfig = GrabPoseEstimate::RobustPreparation;

enum class Removal { kNothing, kMade, kTooFew };

// Removes the points whose flag is not set, unless that leaves fewer than `minimum`.
Removal removeUnflagged(Points& points, const Flags& keep, std::size_t minimum) {
  const std::size_t kept = count(keep);
  if (kept == points.size()) return Removal::kNothing;
  if (kept < minimum) return Removal::kTooFew;
  points.keep(keep);
  return Removal::kMade;
}

// Never part of an object: non-numbers, points far above the floor, and points farther from
// the camera than any depth camera sees. Always removed; their number.
std::size_t keepPlausible(const Cloud& input, const Eigen::Vector3d& camera, Points& points) {
  points.clear();
  points.cloud.reserve(input.size());
  for (const auto& p : input)
    if (finite(p) && p.z <= kPassUpperLimit &&
        (p.getVector3fMap().cast<double>() - camera).squaredNorm() <= kMaxRange * kMaxRange)
      points.cloud.push_back(p);
  return input.size() - points.size();
}

// The side of the leaves: the configured one, or a few pixels at the object's range (never
// finer than kMinLeaf); 0 for none.
double leafSide(const RobustConfig& config, double pixel) {
  if (config.leaf_size >= 0.0f) return config.leaf_size;
  return config.leaf_pixels > 0.0f ? std::max(kMinLeaf, config.leaf_pixels * pixel) : 0.0;
}

// The leaf of every point (points.leaves), in the grid given; nullptr for no leaves.
const VoxelGrid* buildLeaves(GrabPoseEstimate& e, Points& points, double leaf, VoxelGrid& grid) {
  if (!(leaf > 0.0) || points.cloud.empty()) return nullptr;
  grid.build(points.cloud, leaf);
  grid.swapVoxelsOf(points.leaves);
  // Points the leaves' key range does not reach (a leaf of micrometres, or a camera
  // kilometres from the arm) are still points of the object: no leaves, rather than fewer
  // points.
  if (grid.points() < points.size()) {
    line(e, YELLOW_BOLD, "robust preparation: leaves of ", leaf, " m do not reach ",
         points.size() - grid.points(), " points, none used");
    points.leaves.clear();
    return nullptr;
  }
  return &grid;
}

// Statistical outliers, their neighbourhoods counted on whole numbers of leaves where there
// are leaves (merged into `cells`, in the memory of the estimate before). Their number: 0
// where removing them would leave fewer than kMinPreparedPoints.
std::size_t removeOutliers(const GrabPoseEstimate& e, Points& points, const VoxelGrid* leaves,
                           const Eigen::Vector3d& camera, VoxelGrid& cells) {
  const RobustConfig& config = e.robust_preparation_;
  Flags inliers;
  if (leaves && !leaves->voxels().empty()) {
    // Cells of whole leaves that hold a neighbourhood each, so that only the cells at the
    // cloud's edges and the strays' are searched around; and few enough that their box has
    // a table of its own.
    const double per_leaf = static_cast<double>(leaves->points()) / leaves->voxels().size();
    const auto extent = leaves->cellExtent();
    const double box = static_cast<double>(extent[0] + 4) * (extent[1] + 4) * (extent[2] + 4);
    const int merge = std::max(cellsHoldingANeighbourhood(e.sor2_meank_value_, per_leaf),
                               static_cast<int>(std::ceil(std::cbrt(box / VoxelGrid::kMaxDenseCells))));
    cells.merge(*leaves, merge);
    const std::vector<bool> kept = inlierVoxels(cells, e.sor2_meank_value_, config.std_dev_mul,
                                                camera.cast<float>());
    inliers.resize(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
      inliers[i] = kept[cells.voxelOf(points.leaves[i])];
  } else {
    const std::vector<bool> kept = statisticalInliers(
        points.cloud, e.sor2_meank_value_, config.std_dev_mul, config.voxel_size, camera.cast<float>());
    inliers.assign(kept.begin(), kept.end());
  }
  const std::size_t before = points.size();
  removeUnflagged(points, inliers, kMinPreparedPoints);
  return before - points.size();
}

floor::Prior floorPrior(const GrabPoseEstimate& e) {
  floor::Prior prior;
  prior.plane = floor::Plane::level(-static_cast<double>(e.base_height_));
  prior.height_tolerance = e.robust_preparation_.floor_height_tolerance;
  prior.tilt_tolerance_deg = e.robust_preparation_.floor_tilt_tolerance;
  return prior;
}

// The floor: fitted to the flat patches around the object's foot (`middle`), on an even
// sample of the points (the floor band holds thousands of them), or the configured one.
// Written to floor_plane_ and floor_fitted_, and said in the log.
floor::Fit findFloor(GrabPoseEstimate& e, const Points& points, const Eigen::Vector3d& middle,
                     double pixel) {
  const floor::Prior prior = floorPrior(e);
  floor::Fit fit;
  fit.plane = prior.plane;
  fit.refusal = "fitting is off";
  if (prior.height_tolerance > 0.0 || prior.tilt_tolerance_deg > 0.0) {
    const std::size_t stride = points.size() / kFloorSample + 1;
    Cloud sample;
    sample.reserve(points.size() / stride + 1);
    for (std::size_t i = 0; i < points.size(); i += stride) sample.push_back(points.cloud[i]);
    const double spacing = pixel * std::sqrt(static_cast<double>(stride));
    fit = floor::fitFloor(sample, prior, middle.head<2>(), std::max(kMinPatch, kPatchPixels * spacing),
                          e.robust_preparation_.floor_clearance);
  }
  e.floor_plane_ = fit.plane.coefficients();
  e.floor_fitted_ = fit.fitted;
  if (fit.fitted) {
    line(e, CYAN_BOLD, "robust preparation: floor fitted to ", fit.inliers, " points, ",
         fit.plane.zAt(0.0, 0.0) - prior.plane.zAt(0.0, 0.0),
         " m from the configured floor at the arm, tilted ", fit.plane.tiltDeg(), " deg");
  } else {
    line(e, YELLOW_BOLD, "robust preparation: the configured floor (", fit.refusal, ")");
  }
  return fit;
}

// Every point's height above the floor.
void measureHeights(Points& points, const floor::Plane& floor) {
  points.heights.resize(points.size());
  for (std::size_t i = 0; i < points.size(); ++i)
    points.heights[i] = static_cast<float>(floor.height(points.cloud[i]));
}

// Below the floor by more than the margin: nothing of an object.
void removeBelowFloor(GrabPoseEstimate& e, Points& points) {
  const float margin = e.robust_preparation_.below_floor_margin;
  Flags above(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) above[i] = points.heights[i] >= -margin;
  const std::size_t before = points.size();
  const Removal removal = removeUnflagged(points, above, kMinPreparedPoints);
  if (removal == Removal::kMade)
    line(e, CYAN_BOLD, "robust preparation: removed ", before - points.size(), " points below the floor");
  else if (removal == Removal::kTooFew)
    line(e, YELLOW_BOLD, "robust preparation: ", before - count(above),
         " points below the floor, too many to remove");
}

// The object's extent above the floor under it: trash_lowest_z_, trash_highest_z_ and
// trash_height_ (NaN without points), said in the log.
void measureObject(GrabPoseEstimate& e, const Points& points, const floor::Plane& floor, double pixel) {
  if (points.cloud.empty()) {
    e.trash_lowest_z_ = e.trash_highest_z_ = e.trash_height_ = std::nanf("");
  } else {
    const float height = topHeight(points, std::max(kMinPatch, kPatchPixels * pixel));
    const Eigen::Vector3d object = centroid(points, e.robust_preparation_.floor_clearance);
    e.trash_lowest_z_ = static_cast<float>(floor.zAt(object.x(), object.y()));
    e.trash_highest_z_ = e.trash_lowest_z_ + height;
    e.trash_height_ = height;
  }
  line(e, MAGENTA_BOLD, "trash_lowest_z_: ", e.trash_lowest_z_);
  line(e, MAGENTA_BOLD, "trash_highest_z_: ", e.trash_highest_z_);
  line(e, MAGENTA_BOLD, "trash_height_:", e.trash_height_);
  if (e.is_on_floor_) line(e, MAGENTA_BOLD, "is_on_floor_ !", "  ", "trash_lowest_z_: ", e.trash_lowest_z_);
}

// Lying (its footprint longer than it is tall) or standing. The footprint is measured on the
// object's upper part where that lies above the floor layer (`floor_top`) and holds the
// entry's minimum of points: a fitted floor that leans against the ground under the object
// (a bump beside it) lifts the floor farther away above the layer. A flat object has no
// points above the floor layer: its footprint is that of them all.
bool liesOnTheFloor(const GrabPoseEstimate& e, const Points& points, float floor_top,
                    std::size_t min_points) {
  const float upper = upperPart(e.trash_height_, e.robust_preparation_.floor_clearance);
  const bool upper_holds = upper > floor_top &&
      static_cast<std::size_t>(std::count_if(points.heights.begin(), points.heights.end(),
                                             [upper](float h) { return h >= upper; })) >= min_points;
  double length = footprintLength(points, upper_holds ? upper : floor_top);
  if (length == 0.0) length = footprintLength(points, -std::numeric_limits<float>::infinity());
  return e.trash_height_ < length;
}

// The floor layer (as thick as the floor clearance, or kFloorScatters times the fitted
// floor's `scatter`); for an object longer than it is tall also the lowest share of its
// height, which the camera sees on its near side only and which would draw the centroid and
// the axes towards the camera. Made only where the object keeps the entry's minimum and
// stands out of the floor around it; otherwise the object is neither lying nor standing.
// True when made.
bool cutFloor(GrabPoseEstimate& e, Points& points, double scatter, double pixel,
              std::size_t min_points, preparation::Prepared& prepared) {
  if (points.size() < min_points || !(e.trash_height_ > 0.0f)) return false;
  const RobustConfig& config = e.robust_preparation_;
  float cut = config.floor_clearance;
  const float floor_top = std::max(cut, static_cast<float>(kFloorScatters * scatter));
  prepared.lying = liesOnTheFloor(e, points, floor_top, min_points);
  prepared.standing = !prepared.lying;
  if (prepared.lying) cut = std::max(cut, config.bottom_share * e.trash_height_);
  Flags above(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) above[i] = points.heights[i] >= cut;
  const std::size_t left = count(above);
  if (left < min_points) {
    line(e, YELLOW_BOLD, "去z坐标 ", cut, " 以下点云后数量太少-------------");
    // Their long axis, where they stand out of the floor under them: not a few stray
    // points above a sheet of paper.
    if (shareAbove(points, cut, std::max(kMinPatch, kPatchPixels * pixel)) >= kStandOutShare)
      prepared.axis = longAxisAbove(points, cut);
    if (prepared.axis)
      line(e, CYAN_BOLD, "robust preparation: the ", left, " points above ", cut,
           " m give the long axis (", prepared.axis->x(), ", ", prepared.axis->y(), ")");
  } else {
    // At least left of all the points are above the cut; the footprint is looked at only
    // where that alone does not settle it.
    const double share = static_cast<double>(left) >= kStandOutShare * static_cast<double>(points.size())
                             ? 1.0
                             : shareAbove(points, cut, std::max(kMinPatch, kPatchPixels * pixel));
    if (share >= kStandOutShare) {
      line(e, CYAN_BOLD, "robust preparation: removed ", points.size() - left,
           " points of the floor and the object's bottom, below ", cut, " m above the floor");
      points.keep(above);
      return true;
    }
    line(e, YELLOW_BOLD, "robust preparation: the ", left, " points above ", cut, " m make up ",
         share, " of the points over their footprint, no object");
  }
  // Not told from the floor around it (a sheet of paper): it has no footprint of its own.
  prepared.lying = prepared.standing = false;
  return false;
}

// The floor farther from the object: low points outside the footprint of its upper part
// (the floor that a mask drawn too wide takes behind a standing object, which a tilt of the
// fitted floor lifts above the cut, and the bumps of uneven ground beside it).
void removeBesideUpperPart(GrabPoseEstimate& e, Points& points, double pixel, std::size_t min_points) {
  const float core = upperPart(e.trash_height_, e.robust_preparation_.floor_clearance);
  const Flags inside = nearCore(points, core, std::max(kMinPatch, kPatchPixels * pixel));
  const std::size_t before = points.size();
  if (removeUnflagged(points, inside, min_points) == Removal::kMade)
    line(e, CYAN_BOLD, "robust preparation: removed ", before - points.size(), " points lower than ",
         core, " m beside the object's upper part");
}

// One point per leaf, the centroid of its points: the camera samples near surfaces more
// densely than far ones, and the shape analysis weighs every point alike. The points
// themselves (moved out) without leaves, or where that would leave fewer than `minimum`.
Cloud thinToLeaves(GrabPoseEstimate& e, Points& points, const VoxelGrid* leaves, std::size_t minimum) {
  Cloud cloud;
  if (leaves && points.size() >= minimum) {
    Cloud even = thinned(points, leaves->voxels().size());
    if (even.size() >= minimum && even.size() < points.size()) {
      line(e, CYAN_BOLD, "robust preparation: ", points.size(), " points thinned to ", even.size(),
           ", one per leaf of ", leaves->size(), " m");
      cloud.swap(even);
    }
  }
  if (cloud.empty()) cloud.swap(points.cloud);
  return cloud;
}

// Strays beside the footprint's bulk.
void trimToFootprint(GrabPoseEstimate& e, Cloud& cloud, std::size_t minimum) {
  const RobustConfig& config = e.robust_preparation_;
  const Flags inside = insideFootprint(cloud, config.footprint_trim, config.footprint_margin);
  Points trimmed{std::move(cloud), {}, {}};
  const std::size_t before = trimmed.size();
  if (removeUnflagged(trimmed, inside, minimum) == Removal::kMade)
    line(e, CYAN_BOLD, "robust preparation: removed ", before - trimmed.size(),
         " points beyond the footprint");
  cloud.swap(trimmed.cloud);
}

}  // namespace

preparation::Prepared prepare(GrabPoseEstimate& e, GrabPoseEstimate::CloudPtr& input,
                              GrabPoseEstimate::CloudPtr& output, shape::CloudSums* sums,
                              std::size_t min_points) {
  preparation::Prepared prepared;
  prepared.robust = true;
  const auto start = console::Clock::now();
  if (!input || !output) return prepared;
  const Eigen::Vector3d camera = cameraOrigin(e);
  const std::size_t enough = std::max(min_points, kMinPreparedPoints);

  // The memory of the estimates before, while their clouds were not much larger.
  if (!e.preparation_memory_ ||
      e.preparation_memory_->last_input > PreparationMemory::kShrinkBelow * input->size())
    e.preparation_memory_ = std::make_unique<PreparationMemory>();
  PreparationMemory& memory = *e.preparation_memory_;
  memory.last_input = input->size();
  // Worked on as a local, whose buffers the compiler keeps at hand through the loops, and
  // handed back at the end.
  Points points = std::move(memory.points);

  const std::size_t stray = keepPlausible(*input, camera, points);
  // Leaves and the floor's patches a few pixels wide at the object's range.
  const Eigen::Vector3d middle = centroid(points, 0.0f);
  const double pixel = pixelFootprintOr(e, (middle - camera).norm());
  const VoxelGrid* leaves = buildLeaves(e, points, leafSide(e.robust_preparation_, pixel), memory.leaves);
  const std::size_t outliers = removeOutliers(e, points, leaves, camera, memory.cells);
  line(e, CYAN_BOLD, "robust preparation: removed ", stray,
       " points not finite, above 1 m or beyond 10 m of the camera, ",
       outliers, " statistical outliers");

  const floor::Fit fit = findFloor(e, points, middle, pixel);
  measureHeights(points, fit.plane);
  const double scatter = fit.fitted ? floorScatter(points.heights) : 0.0;
  removeBelowFloor(e, points);
  measureObject(e, points, fit.plane, pixel);
  if (cutFloor(e, points, scatter, pixel, min_points, prepared))
    removeBesideUpperPart(e, points, pixel, min_points);
  Cloud cloud = thinToLeaves(e, points, leaves, enough);
  trimToFootprint(e, cloud, enough);

  // The input's layout stays the host's: its header and sensor pose.
  cloud.width = static_cast<std::uint32_t>(cloud.size());
  cloud.height = 1;
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
    line(e, YELLOW_BOLD, "robust preparation: ", cloud.size(), " points left, the entry cloud is kept");
    if (input.get() != output.get()) pcl::copyPointCloud(*input, *output);
    prepared.lying = prepared.standing = false;
  }
  memory.points = std::move(points);
  line(e, RED_BOLD, "PclProcessFunc cost ", console::cost_ms(start), " ms");
  return prepared;
}

std::optional<std::string> degenerateShape(const GrabPoseEstimate& e) {
  const Eigen::Vector3f& lengths = e.pca_lengths_;
  std::ostringstream why;
  if (!(lengths[0] >= kMinSpanAcross)) {
    why << "its points span " << lengths[0] * 1000.0f << " mm";
    return why.str();
  }
  if (!(lengths[1] >= kMinSpanAcross)) {
    why << "its points lie on a line (" << lengths[1] * 1000.0f << " mm across)";
    return why.str();
  }
  return std::nullopt;
}

void standUpright(GrabPoseEstimate& e, const preparation::Prepared& prepared) {
  if (!prepared.standing || e.main_axis_type_ == VERTICAL) return;
  e.main_axis_type_ = VERTICAL;
  line(e, PURPLE_BOLD, "robust preparation: the object stands on the floor, main_axis_type_:",
       e.main_axis_type_);
}

void layFlat(GrabPoseEstimate& e, const preparation::Prepared& prepared) {
  if (!prepared.lying || (e.main_axis_type_ != TILTED_LOW && e.main_axis_type_ != TILTED_HIGH))
    return;
  e.main_axis_type_ = HORIZONTAL;
  line(e, PURPLE_BOLD, "robust preparation: the object lies on the floor, main_axis_type_:",
       e.main_axis_type_);
}

bool refuseDegenerateShape(GrabPoseEstimate& e) {
  const auto why = degenerateShape(e);
  if (!why) return false;
  line(e, RED_BOLD, "no shape to grasp: ", *why, "!!!");
  reason::set(e, Reason::kDegenerateCloud, "no shape to grasp: " + *why);
  return true;
}

}  // namespace litterpose::robust

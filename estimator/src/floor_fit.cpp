// The floor under an object: RANSAC over the cloud's flat low patches, then a least-squares
// plane through every point near the chosen one, checked against the configured floor.
#include "internal/floor_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <vector>

namespace litterpose::floor {
namespace {

constexpr double kPi = 3.141592653589793;
// Fewer points near the plane than this and the plane says too little.
constexpr std::size_t kMinFloorPoints = 30;
// A patch's lowest layer is this many plane thicknesses deep, and must hold at least this
// many points.
constexpr double kFlatSpan = 2.0;
constexpr std::size_t kMinPatchPoints = 3;
// A patch whose lowest layer holds this share of its points is mostly floor.
constexpr double kFloorShare = 0.75;
// Points more than this many plane thicknesses below the plane count against it; a floor
// leaves at most this share of the cloud below it (strays the outlier test kept).
constexpr double kBelowDistance = 2.0;
constexpr double kMaxShareBelow = 0.05;
// A patch left below a hypothesis weighs this many patches it holds.
constexpr double kBelowPenalty = 3.0;
constexpr double kPenalty[2] = {0.0, kBelowPenalty};  // for a patch not below, and below
// RANSAC: hypotheses scored, drawn in at most kMaxDraws tries (three patches of a narrow
// band around a small object often lie nearly on a line or make a plane beyond the tilt
// tolerance), and the patches scored for each (spread over the cloud).
constexpr int kHypotheses = 48;
constexpr int kMaxDraws = 16 * kHypotheses;
constexpr std::size_t kScoredPatches = 128;
// The second and third points of a hypothesis are drawn within this many patches of the
// first, and three points closer to a line than this sine of their angle make none.
constexpr int kNeighbourhood = 4;
constexpr double kMinSine = 0.2;
// A hypothesis is refitted to the scored patches within this many inlier distances of it.
constexpr double kLocalWidth = 2.0;
// The patch grid holds at most this many cells per point (more and the patches grow).
constexpr std::size_t kCellsPerPoint = 4;
constexpr std::size_t kMinCells = 4096;
constexpr std::uint32_t kSeed = 20240917;
constexpr std::uint32_t kNoCell = UINT32_MAX;
// Least squares: rounds of inlier selection, the first ones wider (a hypothesis from a
// narrow band is tilted a little, and a wider first round takes in the floor farther
// away, which holds the tilt).
constexpr double kRefinementWidths[] = {3.0, 2.0, 1.0};
// Searches for a plane below one that leaves too many points under it.
constexpr int kSearchRounds = 3;
// The floor's own roughness, assumed at least.
constexpr double kMinResidual = 0.001;

struct Patch {
  double low = std::numeric_limits<double>::max();  // height of its lowest point over the prior
  double high = std::numeric_limits<double>::lowest();  // and of its highest
  Eigen::Vector3d lowest = Eigen::Vector3d::Zero();
  std::size_t lowest_index = 0;
  std::size_t points = 0;  // in its lowest layer
  std::size_t all = 0;     // in it
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();  // of its lowest layer

  Eigen::Vector3d layerMean() const { return sum / static_cast<double>(points); }
};

// The sums of points and of their products, for a least-squares plane: the products' six
// distinct sums (their matrix is symmetric), each added in the points' order.
struct Moments {
  std::size_t n = 0;
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  double xx = 0.0, xy = 0.0, xz = 0.0, yy = 0.0, yz = 0.0, zz = 0.0;

  void add(const Eigen::Vector3d& q) {
    ++n;
    sum += q;
    xx += q.x() * q.x();
    xy += q.x() * q.y();
    xz += q.x() * q.z();
    yy += q.y() * q.y();
    yz += q.y() * q.z();
    zz += q.z() * q.z();
  }
  Eigen::Matrix3d products() const {
    Eigen::Matrix3d m;
    m << xx, xy, xz, xy, yy, yz, xz, yz, zz;
    return m;
  }
};

bool finite(const pcl::PointXYZ& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Square cells over the cloud's footprint.
class PatchGrid {
public:
  PatchGrid(const GrabPoseEstimate::Cloud& cloud, double patch) : size_(patch) {
    // The bounds in scalars, which stay in registers through the loop.
    double low_x = std::numeric_limits<double>::max(), low_y = low_x;
    double high_x = -low_x, high_y = -low_x;
    for (const auto& p : cloud)
      if (finite(p)) {
        const double x = p.x, y = p.y;
        low_x = std::min(low_x, x);
        low_y = std::min(low_y, y);
        high_x = std::max(high_x, x);
        high_y = std::max(high_y, y);
      }
    if (!(low_x <= high_x)) return;
    const Eigen::Vector2d low(low_x, low_y), high(high_x, high_y);
    const double limit = static_cast<double>(std::max(kMinCells, kCellsPerPoint * cloud.size()));
    const Eigen::Vector2d extent = high - low;
    const double cells = (extent.x() / size_ + 1.0) * (extent.y() / size_ + 1.0);
    if (cells > limit) size_ *= std::sqrt(cells / limit);
    origin_ = low;
    columns_ = static_cast<int>(extent.x() / size_) + 1;
    rows_ = static_cast<int>(extent.y() / size_) + 1;
  }
  bool empty() const { return columns_ == 0; }
  int columns() const { return columns_; }
  int rows() const { return rows_; }
  std::size_t cells() const { return static_cast<std::size_t>(columns_) * rows_; }
  // The cell of a finite point.
  std::size_t cellOf(const pcl::PointXYZ& p) const {
    const int c = std::clamp(static_cast<int>((p.x - origin_.x()) / size_), 0, columns_ - 1);
    const int r = std::clamp(static_cast<int>((p.y - origin_.y()) / size_), 0, rows_ - 1);
    return static_cast<std::size_t>(r) * columns_ + c;
  }

private:
  double size_;
  Eigen::Vector2d origin_ = Eigen::Vector2d::Zero();
  int columns_ = 0;
  int rows_ = 0;
};

// The cloud binned into patches: each patch's lowest point and the mean of its lowest
// layer, the points within `layer` above its lowest (the floor beside a wall, the
// wall's foot, or a top face); every point's patch (kNoCell for one that is not finite) and
// height over the prior.
struct Binned {
  std::vector<Patch> patches;
  std::vector<std::uint32_t> cell_of;
  std::vector<float> above_prior;
  std::size_t finite_points = 0;
};

Binned bin(const GrabPoseEstimate::Cloud& cloud, const PatchGrid& grid, const Prior& prior,
           double layer) {
  Binned b;
  b.patches.resize(grid.cells());
  b.cell_of.assign(cloud.size(), kNoCell);
  b.above_prior.assign(cloud.size(), 0.0f);
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    const auto& p = cloud[i];
    if (!finite(p)) continue;
    ++b.finite_points;
    b.cell_of[i] = static_cast<std::uint32_t>(grid.cellOf(p));
    Patch& c = b.patches[b.cell_of[i]];
    ++c.all;
    const double h = prior.plane.height(p);
    b.above_prior[i] = static_cast<float>(h);
    if (h < c.low) {
      c.low = h;
      c.lowest = Eigen::Vector3d(p.x, p.y, p.z);
      c.lowest_index = i;
    }
    c.high = std::max(c.high, h);
  }
  // The lowest layers, once every patch's lowest point is known.
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    if (b.cell_of[i] == kNoCell) continue;
    Patch& c = b.patches[b.cell_of[i]];
    if (b.above_prior[i] > c.low + layer) continue;
    ++c.points;
    c.sum += Eigen::Vector3d(cloud[i].x, cloud[i].y, cloud[i].z);
  }
  return b;
}

double tiltSlope(const Prior& prior) { return std::tan(prior.tilt_tolerance_deg * kPi / 180.0); }

// The candidates (flagged): patches whose lowest layer holds a few points, within the
// prior's reach (its height tolerance, and its tilt tolerance over the distance from the
// anchor). `lows` gets every patch's lowest point, which can count against a plane that
// leaves it below.
std::vector<std::uint8_t> flatPatches(const std::vector<Patch>& patches, const Prior& prior,
                                      double inlier_distance, std::vector<Eigen::Vector3d>& lows) {
  const double tilt_slope = tiltSlope(prior);
  std::vector<std::uint8_t> is_flat(patches.size(), 0);
  for (std::size_t i = 0; i < patches.size(); ++i) {
    const Patch& c = patches[i];
    if (c.points == 0) continue;
    lows.push_back(c.lowest);
    if (c.points < kMinPatchPoints) continue;
    const Eigen::Vector3d mean = c.layerMean();
    const double reach = prior.height_tolerance + inlier_distance +
                         tilt_slope * (mean.head<2>() - prior.anchor).norm();
    const double h = prior.plane.normal.dot(mean) + prior.plane.offset;
    is_flat[i] = std::fabs(h) <= reach;
  }
  return is_flat;
}

// An even selection of at most about kScoredPatches of them.
std::vector<Eigen::Vector3d> evenSelection(const std::vector<Eigen::Vector3d>& all) {
  std::vector<Eigen::Vector3d> some;
  const std::size_t step = std::max<std::size_t>(1, all.size() / kScoredPatches);
  for (std::size_t i = 0; i < all.size(); i += step) some.push_back(all[i]);
  return some;
}

Plane through(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
              bool& valid) {
  const Eigen::Vector3d u = b - a, v = c - a;
  Eigen::Vector3d n = u.cross(v);
  const double scale = u.norm() * v.norm();
  valid = scale > 0.0 && n.norm() >= kMinSine * scale;
  if (!valid) return {};
  if (n.z() < 0.0) n = -n;
  n.normalize();
  return {n, -n.dot(a)};
}

// The least-squares plane through the patches within `width` of a plane; nullopt with fewer
// than three.
std::optional<Plane> refitToPatches(const Plane& plane, const std::vector<Eigen::Vector3d>& patches,
                                    double width) {
  Moments moments;
  for (const auto& q : patches)
    if (std::fabs(plane.normal.dot(q) + plane.offset) <= width) moments.add(q);
  if (moments.n < 3) return std::nullopt;
  const double n = static_cast<double>(moments.n);
  const Eigen::Vector3d mean = moments.sum / n;
  const Eigen::Matrix3d scatter = moments.products() / n - mean * mean.transpose();
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(scatter);
  if (solver.info() != Eigen::Success) return std::nullopt;
  Eigen::Vector3d normal = solver.eigenvectors().col(0);
  if (!normal.allFinite() || normal.norm() == 0.0) return std::nullopt;
  if (normal.z() < 0.0) normal = -normal;
  normal.normalize();
  return Plane{normal, -normal.dot(mean)};
}

// The best plane of a RANSAC over the flat patches (flags per patch).
struct Search {
  Plane best;          // the best-scored hypothesis, whatever its score
  bool found = false;  // it holds more than it leaves below
  std::size_t flat = 0;  // flat patches
  int hypotheses = 0;    // scored
};

Search searchPlane(const std::vector<Patch>& patches, const std::vector<std::uint8_t>& is_flat,
                   const PatchGrid& grid, const Prior& prior,
                   const std::vector<Eigen::Vector3d>& scored_lows, double inlier_distance) {
  Search search;
  std::vector<Eigen::Vector3d> flat;
  std::vector<int> flat_at(patches.size(), -1);
  std::vector<std::size_t> flat_cell;
  for (std::size_t i = 0; i < patches.size(); ++i)
    if (is_flat[i]) {
      flat_at[i] = static_cast<int>(flat.size());
      flat.push_back(patches[i].layerMean());
      flat_cell.push_back(i);
    }
  search.flat = flat.size();
  if (flat.size() < 3) return search;
  // Hypotheses are scored on an even selection of the patches.
  std::vector<Eigen::Vector3d> scored_flat;
  const std::size_t step = std::max<std::size_t>(1, flat.size() / kScoredPatches);
  for (std::size_t i = 0; i < flat.size(); i += step) scored_flat.push_back(flat[i]);
  const double tilt_tolerance = prior.tilt_tolerance_deg * kPi / 180.0;
  const double below = kBelowDistance * inlier_distance;
  std::mt19937 rng(kSeed);
  const auto draw = [&rng](int n) {
    return static_cast<int>(rng() % static_cast<std::uint32_t>(n));
  };
  // The flat patches within kNeighbourhood patches of a cell's, itself left out.
  // Written for every cell looked at and counted for the flat ones, without a branch that
  // the patches' pattern would make a guess.
  std::array<int, (2 * kNeighbourhood + 1) * (2 * kNeighbourhood + 1)> near;
  std::size_t near_count = 0;
  const auto neighbours = [&](std::size_t cell) {
    near_count = 0;
    const int column = static_cast<int>(cell % grid.columns());
    const int row = static_cast<int>(cell / grid.columns());
    for (int r = std::max(0, row - kNeighbourhood); r <= std::min(grid.rows() - 1, row + kNeighbourhood); ++r)
      for (int c = std::max(0, column - kNeighbourhood);
           c <= std::min(grid.columns() - 1, column + kNeighbourhood); ++c) {
        const std::size_t at = static_cast<std::size_t>(r) * grid.columns() + c;
        near[near_count] = flat_at[at];
        near_count += (flat_at[at] >= 0) & (at != cell);
      }
  };
  // Each inlier counts by how well it fits (MSAC): near a small object many planes hold
  // the same patches within the inlier distance, and the one through them wins.
  const auto score = [&](const Plane& candidate) {
    double sum = 0.0;
    // Without branches: whether a patch is in or out is as good as a coin toss to the
    // processor. 1 - d^2 is negative exactly where |d| > 1, where nothing is added.
    for (const auto& q : scored_flat) {
      const double d = (candidate.normal.dot(q) + candidate.offset) / inlier_distance;
      sum += std::max(0.0, 1.0 - d * d);
    }
    for (const auto& q : scored_lows)
      sum -= kPenalty[candidate.normal.dot(q) + candidate.offset < -below];
    return sum;
  };
  double best_score = -std::numeric_limits<double>::infinity();
  for (int draws = 0; draws < kMaxDraws && search.hypotheses < kHypotheses; ++draws) {
    const std::size_t first = flat_cell[static_cast<std::size_t>(draw(static_cast<int>(flat.size())))];
    neighbours(first);
    if (near_count < 2) continue;
    const int second = near[static_cast<std::size_t>(draw(static_cast<int>(near_count)))];
    int third = near[static_cast<std::size_t>(draw(static_cast<int>(near_count) - 1))];
    if (third == second) third = near[near_count - 1];
    bool valid = false;
    const Plane plane = through(flat[static_cast<std::size_t>(flat_at[first])],
                                flat[static_cast<std::size_t>(second)],
                                flat[static_cast<std::size_t>(third)], valid);
    if (!valid || std::acos(std::min(1.0, plane.normal.dot(prior.plane.normal))) > tilt_tolerance)
      continue;
    ++search.hypotheses;
    // Three patches a few centimetres apart tilt the plane through them by degrees, which
    // over a band around a wide object leaves its far side below: the plane through the
    // patches near the hypothesis is scored too (local optimisation).
    double hypothesis_score = score(plane);
    Plane hypothesis = plane;
    if (const auto refitted = refitToPatches(plane, scored_flat, kLocalWidth * inlier_distance);
        refitted &&
        std::acos(std::min(1.0, refitted->normal.dot(prior.plane.normal))) <= tilt_tolerance) {
      const double refitted_score = score(*refitted);
      if (refitted_score > hypothesis_score) {
        hypothesis_score = refitted_score;
        hypothesis = *refitted;
      }
    }
    if (hypothesis_score > best_score) {
      best_score = hypothesis_score;
      search.best = hypothesis;
    }
  }
  search.found = best_score > 0.0;
  return search;
}

// Least squares over the points of flat patches near the plane, its slope held towards
// the prior's with the weight of the floor's roughness against the tilt tolerance.
// `count` is the number of points the last round took.
Plane refine(const Plane& start, const GrabPoseEstimate::Cloud& cloud, const Binned& binned,
             const std::vector<std::uint8_t>& is_flat, const Prior& prior, double inlier_distance,
             std::size_t& count) {
  const std::vector<Patch>& patches = binned.patches;
  const std::vector<std::uint32_t>& cell_of = binned.cell_of;
  const std::vector<float>& above_prior = binned.above_prior;
  const double prior_a = -prior.plane.normal.x() / prior.plane.normal.z();
  const double prior_b = -prior.plane.normal.y() / prior.plane.normal.z();
  const double slope_sigma = tiltSlope(prior) / 2.0;
  const double layer = kFlatSpan * inlier_distance;
  // The lowest layers of the flat patches that are mostly floor: flat through and through,
  // or with most of their points in it (the narrow band around a small object shares its
  // patches with the object's foot; the flank of an object without a band has its points
  // spread up the patch). Where those are too few (a band narrower than a patch, whose
  // every patch holds a wall's foot), the lowest layers of all flat patches; and where those
  // are, the lowest point of each flat patch. The rounds take nothing more than the inlier
  // distance above the plane, so the points just above a wall's foot do not lift it.
  std::vector<std::uint32_t> candidates;
  const auto lowest_layers = [&](bool floor_patches_only) {
    candidates.clear();
    for (std::size_t i = 0; i < cloud.size(); ++i) {
      if (cell_of[i] == kNoCell || !is_flat[cell_of[i]]) continue;
      const Patch& c = patches[cell_of[i]];
      const bool floor_patch = c.high - c.low <= layer || c.points >= kFloorShare * c.all;
      if ((floor_patch || !floor_patches_only) && above_prior[i] <= c.low + layer)
        candidates.push_back(static_cast<std::uint32_t>(i));
    }
  };
  lowest_layers(true);
  if (candidates.size() < kMinFloorPoints) lowest_layers(false);
  if (candidates.size() < kMinFloorPoints) {
    candidates.clear();
    for (std::size_t c = 0; c < patches.size(); ++c)
      if (is_flat[c]) candidates.push_back(static_cast<std::uint32_t>(patches[c].lowest_index));
  }
  Plane plane = start;
  count = 0;
  for (const double width : kRefinementWidths) {
    Moments moments;
    double squared_distance = 0.0;
    for (const std::uint32_t i : candidates) {
      const double h = plane.height(cloud[i]);
      if (h < -width * inlier_distance || h > inlier_distance) continue;
      moments.add(Eigen::Vector3d(cloud[i].x, cloud[i].y, cloud[i].z));
      squared_distance += h * h;
    }
    count = moments.n;
    if (count < kMinFloorPoints) break;
    const double n = static_cast<double>(count);
    const Eigen::Vector3d mean = moments.sum / n;
    const Eigen::Matrix3d scatter = moments.products() - n * mean * mean.transpose();
    const double residual = std::max(kMinResidual, std::sqrt(squared_distance / n));
    const double weight = residual * residual / (slope_sigma * slope_sigma);
    Eigen::Matrix2d normal_matrix;
    normal_matrix << scatter(0, 0) + weight, scatter(0, 1), scatter(0, 1), scatter(1, 1) + weight;
    const Eigen::Vector2d rhs(scatter(0, 2) + weight * prior_a, scatter(1, 2) + weight * prior_b);
    const Eigen::Vector2d slope = normal_matrix.ldlt().solve(rhs);
    Eigen::Vector3d normal(-slope.x(), -slope.y(), 1.0);
    normal.normalize();
    plane = {normal, -normal.dot(mean)};
  }
  return plane;
}

// The prior's plane moved to the median height of the flat patches' lowest layers; nullopt
// without a flat patch.
std::optional<Plane> priorThroughPatches(const Prior& prior, const std::vector<Patch>& patches,
                                         const std::vector<std::uint8_t>& is_flat) {
  std::vector<double> heights;
  for (std::size_t i = 0; i < patches.size(); ++i)
    if (is_flat[i])
      heights.push_back(prior.plane.normal.dot(patches[i].layerMean()) + prior.plane.offset);
  if (heights.empty()) return std::nullopt;
  const auto middle = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2);
  std::nth_element(heights.begin(), middle, heights.end());
  return Plane{prior.plane.normal, prior.plane.offset - *middle};
}

bool leavesTooManyBelow(const Plane& plane, const GrabPoseEstimate::Cloud& cloud,
                        std::size_t finite_points, double below) {
  std::size_t under = 0;
  for (const auto& p : cloud)
    if (finite(p)) under += plane.height(p) < -below;
  return static_cast<double>(under) > kMaxShareBelow * static_cast<double>(finite_points);
}

// Leaves flagged only the flat patches clearly below the plane; false when none is left.
bool dropOnAndAbove(const Plane& plane, const std::vector<Patch>& patches,
                    std::vector<std::uint8_t>& is_flat, double below) {
  bool any = false;
  for (std::size_t i = 0; i < patches.size(); ++i) {
    if (!is_flat[i]) continue;
    const Eigen::Vector3d mean = patches[i].layerMean();
    is_flat[i] = plane.normal.dot(mean) + plane.offset < -below;
    any = any || is_flat[i];
  }
  return any;
}

// The plane of the search, refined; or why there is none.
struct Rounds {
  Plane plane;
  bool too_many_below = false;
  const char* refusal = nullptr;
};

// A plane whose refinement leaves too many points below it lies on the object (the top of
// a wide carton holds more flat patches than a narrow floor band): the search goes on among
// the flat patches below it, for at most kSearchRounds rounds. The last plane is kept, with
// too_many_below set, when every round's does.
Rounds searchRounds(const GrabPoseEstimate::Cloud& cloud, const Binned& binned,
                    std::vector<std::uint8_t>& is_flat, const PatchGrid& grid, const Prior& prior,
                    const std::vector<Eigen::Vector3d>& scored_lows, double inlier_distance) {
  const double below = kBelowDistance * inlier_distance;
  Rounds rounds;
  std::size_t count = 0;
  for (int round = 0;; ++round) {
    const Search search =
        searchPlane(binned.patches, is_flat, grid, prior, scored_lows, inlier_distance);
    if (search.flat < 3) {
      rounds.refusal = round == 0 ? "no flat patch near the configured floor"
                                  : "no flat patch below the object's top";
      return rounds;
    }
    const bool last = round + 1 == kSearchRounds;
    if (!search.found) {
      if (last || search.hypotheses == 0 ||
          !dropOnAndAbove(search.best, binned.patches, is_flat, below)) {
        rounds.refusal = "no plane holds more points than it leaves below";
        return rounds;
      }
      continue;
    }
    rounds.plane = refine(search.best, cloud, binned, is_flat, prior, inlier_distance, count);
    // The best of the hypotheses from a narrow band that the camera sees through noise as
    // thick as the inlier distance can tilt by degrees and hold few of the band's points:
    // the configured floor's slope, through the flat patches' middle height, is refined
    // instead.
    if (count < kMinFloorPoints)
      if (const auto level = priorThroughPatches(prior, binned.patches, is_flat))
        rounds.plane = refine(*level, cloud, binned, is_flat, prior, inlier_distance, count);
    if (count < kMinFloorPoints) {
      rounds.refusal = "too few points near the plane";
      return rounds;
    }
    rounds.too_many_below = leavesTooManyBelow(rounds.plane, cloud, binned.finite_points, below);
    if (!rounds.too_many_below || last ||
        !dropOnAndAbove(rounds.plane, binned.patches, is_flat, below))
      return rounds;
  }
}

// The points within the inlier distance of the plane, and their root mean square distance.
void measureInliers(const GrabPoseEstimate::Cloud& cloud, const Plane& plane,
                    double inlier_distance, Fit& fit) {
  std::size_t inliers = 0;
  double squared = 0.0;
  for (const auto& p : cloud) {
    if (!finite(p)) continue;
    const double h = plane.height(p);
    if (std::fabs(h) <= inlier_distance) {
      ++inliers;
      squared += h * h;
    }
  }
  fit.inliers = inliers;
  fit.rms = inliers > 0 ? std::sqrt(squared / static_cast<double>(inliers)) : 0.0;
}

// Why the plane of the search is not the floor, or nullptr. Under the object the plane is
// known best (its tilt is known less well from a narrow band): it must lie within the
// floors the tolerances allow there.
const char* refusalOf(const Rounds& rounds, const Prior& prior, const Eigen::Vector2d& object_xy) {
  const Plane& plane = rounds.plane;
  const double offset =
      plane.zAt(object_xy.x(), object_xy.y()) - prior.plane.zAt(object_xy.x(), object_xy.y());
  const double allowed =
      prior.height_tolerance + tiltSlope(prior) * (object_xy - prior.anchor).norm();
  if (rounds.too_many_below) return "the plane leaves too many points below it";
  if (!(std::fabs(offset) <= allowed)) return "the plane lies beyond the height tolerance";
  if (!(plane.tiltDeg() <= prior.tilt_tolerance_deg))
    return "the plane is tilted beyond the tolerance";
  return nullptr;
}

}  // namespace

double Plane::tiltDeg() const { return std::acos(std::clamp(normal.z(), -1.0, 1.0)) * 180.0 / kPi; }

Eigen::Vector4f Plane::coefficients() const {
  return Eigen::Vector4f(static_cast<float>(normal.x()), static_cast<float>(normal.y()),
                         static_cast<float>(normal.z()), static_cast<float>(offset));
}

Fit fitFloor(const GrabPoseEstimate::Cloud& cloud, const Prior& prior,
             const Eigen::Vector2d& object_xy, double patch, double inlier_distance) {
  Fit fit;
  fit.plane = prior.plane;
  const PatchGrid grid(cloud, patch);
  if (cloud.size() < kMinFloorPoints || grid.empty()) {
    fit.refusal = "too few points";
    return fit;
  }
  const Binned binned = bin(cloud, grid, prior, kFlatSpan * inlier_distance);
  std::vector<Eigen::Vector3d> lows;
  std::vector<std::uint8_t> is_flat = flatPatches(binned.patches, prior, inlier_distance, lows);
  const Rounds rounds =
      searchRounds(cloud, binned, is_flat, grid, prior, evenSelection(lows), inlier_distance);
  if (rounds.refusal) {
    fit.refusal = rounds.refusal;
    return fit;
  }
  measureInliers(cloud, rounds.plane, inlier_distance, fit);
  if (const char* refusal = refusalOf(rounds, prior, object_xy)) {
    fit.refusal = refusal;
  } else {
    fit.plane = rounds.plane;
    fit.fitted = true;
  }
  return fit;
}

}  // namespace litterpose::floor

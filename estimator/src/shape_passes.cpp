// The numbers of the shape analysis, in as few passes over the cloud as the results asked
// for allow: the sums, the covariances, and the projections with the footprint filter.
#include "internal/shape_passes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <Eigen/Eigenvalues>

namespace litterpose::shape {
namespace {

constexpr float kMax = std::numeric_limits<float>::max();

bool finite(const pcl::PointXYZ& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Eigen computes a product of a 3 x n by an n x 3 matrix coefficient by coefficient as a
// plain sum when n is small, and otherwise as a matrix product that sums the depth in
// blocks sized to the level-1 cache, scaling and adding each block's sum into the result.
constexpr std::size_t kCoefficientProductBelow = 14;
// The blocks of the machine the estimator's behaviour was recorded on (48 KiB of level-1
// data cache, 8 x 4 float register blocks), fixed so that every machine sums alike.
std::size_t covarianceDepthBlock(std::size_t depth) {
  constexpr std::ptrdiff_t kL1 = 48 * 1024, kRows = 8, kCols = 4, kPeeling = 8;
  constexpr std::ptrdiff_t kPerDepth = (kRows + kCols) * sizeof(float);
  constexpr std::ptrdiff_t kRegisterBlock = kRows * kCols * sizeof(float);
  constexpr std::ptrdiff_t kMaxBlock =
      std::max<std::ptrdiff_t>(((kL1 - kRegisterBlock) / kPerDepth) & ~(kPeeling - 1), 1);
  auto k = static_cast<std::ptrdiff_t>(depth);
  if (k < 48 || k <= kMaxBlock) return depth;
  k = (k % kMaxBlock) == 0 ? kMaxBlock
                           : kMaxBlock - kPeeling * ((kMaxBlock - 1 - (k % kMaxBlock)) /
                                                     (kPeeling * (k / kMaxBlock + 1)));
  return static_cast<std::size_t>(k);
}

// The factor of the moment-of-inertia estimator's covariance: 1 / (n - 1), 1 for one point.
float momentsFactor(std::size_t n) {
  const auto count = static_cast<unsigned int>(n);
  return 1.0f / static_cast<float>((count - 1 > 0) ? (count - 1) : 1);
}

Eigen::Matrix3f symmetric(const std::array<float, 6>& c) {  // xx, xy, xz, yy, yz, zz
  Eigen::Matrix3f m;
  m << c[0], c[1], c[2], c[1], c[3], c[4], c[2], c[4], c[5];
  return m;
}

// Drops a footprint point when it lies to the left of every edge of the extreme points'
// polygon by more than the rounding of the test can reach: it is then strictly inside the
// convex hull and can be no corner of it. Whatever the order of the polygon's corners, a
// point left of every edge is inside their hull. Unused edges hold every point inside.
class FootprintFilter {
public:
  static constexpr int kEdges = 8;

  FootprintFilter(const Cloud& cloud, const std::array<std::ptrdiff_t, 8>& extremes) {
    a_.fill(0.0f);
    b_.fill(0.0f);
    c_.fill(-1.0f);
    margin_.fill(0.0f);
    std::vector<Eigen::Vector2d> polygon;
    for (const std::ptrdiff_t i : extremes) {
      if (i < 0) return;
      const auto& p = cloud.points[static_cast<std::size_t>(i)];
      const Eigen::Vector2d v(p.x, p.y);
      if (polygon.empty() || polygon.back() != v) polygon.push_back(v);
    }
    while (polygon.size() > 1 && polygon.front() == polygon.back()) polygon.pop_back();
    if (polygon.size() < 3) return;
    double scale = 0.0;
    for (const auto& v : polygon) scale = std::max({scale, std::fabs(v.x()), std::fabs(v.y())});
    for (std::size_t k = 0; k < polygon.size(); ++k) {
      const Eigen::Vector2d& from = polygon[k];
      const Eigen::Vector2d& to = polygon[(k + 1) % polygon.size()];
      const double a = -(to.y() - from.y());
      const double b = to.x() - from.x();
      a_[k] = static_cast<float>(a);
      b_[k] = static_cast<float>(b);
      c_[k] = static_cast<float>(a * from.x() + b * from.y());
      // Some hundred times what single-precision rounding of the test and its
      // coefficients can move a point near the polygon.
      margin_[k] = static_cast<float>(1e-5 * (std::fabs(a) + std::fabs(b)) * scale);
    }
    active_ = true;
  }

  bool mayBeOnHull(float x, float y) const {
    if (!active_) return true;
    for (int k = 0; k < kEdges; ++k)
      if (!(a_[k] * x + b_[k] * y - c_[k] > margin_[k])) return true;
    return false;
  }

  bool active() const { return active_; }
  float a(int k) const { return a_[k]; }
  float b(int k) const { return b_[k]; }
  float c(int k) const { return c_[k]; }
  float margin(int k) const { return margin_[k]; }

private:
  // strictly inside: a x + b y - c > margin for every edge
  std::array<float, kEdges> a_, b_, c_, margin_;
  bool active_ = false;
};

}  // namespace

const CloudShape::Sums& CloudShape::sums() {
  if (!sums_) {
    CloudSums sums(!cloud_.is_dense);
    for (const auto& p : cloud_.points) sums.add(p);
    sums_ = sums.finish();
  }
  return *sums_;
}

Eigen::Vector3f CloudShape::momentsMean() {
  const Sums& s = sums();
  const auto count = static_cast<unsigned int>(std::max<std::size_t>(cloud_.size(), 1));
  Eigen::Vector3f mean = s.all;
  mean(0) /= count;
  mean(1) /= count;
  mean(2) /= count;
  return mean;
}

Eigen::Matrix3f CloudShape::momentsCovariance(const Eigen::Vector3f& mean) {
  std::array<float, 6> c{};
  for (const auto& p : cloud_.points) {
    const float dx = p.x - mean(0), dy = p.y - mean(1), dz = p.z - mean(2);
    c[0] += dx * dx;
    c[1] += dx * dy;
    c[2] += dx * dz;
    c[3] += dy * dy;
    c[4] += dy * dz;
    c[5] += dz * dz;
  }
  Eigen::Matrix3f covariance = symmetric(c);
  covariance *= momentsFactor(cloud_.size());
  return covariance;
}

// pcl::MomentOfInertiaEstimation's axes: the eigenvectors of the general eigen-solver,
// sorted by eigenvalue, normalised, the major one turned so that the basis is right-handed.
CloudShape::Axes CloudShape::momentAxes(const Eigen::Matrix3f& covariance) {
  Eigen::EigenSolver<Eigen::Matrix3f> solver;
  solver.compute(covariance);
  if (solver.info() != Eigen::Success) {
    // A covariance beyond float's range (coordinates of 1e19 m and more) has no axes: the
    // box is not a number, and no grasp is taken from it.
    const Eigen::Vector3f none = Eigen::Vector3f::Constant(std::numeric_limits<float>::quiet_NaN());
    return {none, none, none};
  }
  const auto values = solver.eigenvalues();
  const auto vectors = solver.eigenvectors();
  unsigned int major = 0, middle = 1, minor = 2;
  if (values.real()(major) < values.real()(middle)) std::swap(major, middle);
  if (values.real()(major) < values.real()(minor)) std::swap(major, minor);
  if (values.real()(middle) < values.real()(minor)) std::swap(minor, middle);
  Axes axes{vectors.col(major).real(), vectors.col(middle).real(), vectors.col(minor).real()};
  axes.major.normalize();
  axes.middle.normalize();
  axes.minor.normalize();
  if (axes.major.dot(axes.middle.cross(axes.minor)) <= 0.0f) axes.major = -axes.major;
  return axes;
}

const CloudShape::Principal& CloudShape::principal() {
  if (principal_) return *principal_;
  const Sums& s = sums();
  const std::size_t n = cloud_.size();
  Principal result;

  // The centroid of pcl::compute3DCentroid: of every point of a dense cloud, else of the
  // finite ones; left at zero when there is none.
  result.mean = Eigen::Vector4f::Zero();
  if (cloud_.is_dense) {
    result.mean.head<3>() = s.all;
    result.mean /= static_cast<float>(n);
    result.mean[3] = 1.0f;
  } else if (s.finite_count > 0) {
    result.mean.head<3>() = s.finite;
    result.mean /= static_cast<float>(s.finite_count);
    result.mean[3] = 1.0f;
  }

  // The covariance of pcl::PCA, demeaned * demeaned^T / (n - 1) over every point, summed
  // as Eigen's product sums it, without a demeaned copy of the cloud. The
  // moment-of-inertia estimator demeans every point with its own mean; where the two means
  // are the same numbers, its covariance sums are made in the same pass.
  const bool same_mean =
      std::memcmp(momentsMean().data(), result.mean.data(), 3 * sizeof(float)) == 0;
  const float scale = 1.f / (static_cast<float>(n) - 1.f);
  const auto& points = cloud_.points;
  std::array<float, 6> pca{}, moments{};  // xx, xy, xz, yy, yz, zz
  const auto products = [&](const pcl::PointXYZ& p) {
    const float dx = p.x - result.mean[0];
    const float dy = p.y - result.mean[1];
    const float dz = p.z - result.mean[2];
    return std::array<float, 6>{dx * dx, dx * dy, dx * dz, dy * dy, dy * dz, dz * dz};
  };
  if (n < kCoefficientProductBelow) {
    std::array<float, 6> sum = products(points[0]);  // a plain sum from its first term
    moments = sum;
    for (std::size_t i = 1; i < n; ++i) {
      const auto d = products(points[i]);
      for (int k = 0; k < 6; ++k) {
        sum[k] = sum[k] + d[k];
        moments[k] += d[k];
      }
    }
    for (int k = 0; k < 6; ++k) pca[k] = scale * sum[k];
  } else {
    const std::size_t block_length = covarianceDepthBlock(n);
    for (std::size_t begin = 0; begin < n; begin += block_length) {
      const std::size_t end = std::min(n, begin + block_length);
      std::array<float, 6> block{};
      for (std::size_t i = begin; i < end; ++i) {
        const auto d = products(points[i]);
        for (int k = 0; k < 6; ++k) {
          block[k] = d[k] + block[k];
          moments[k] += d[k];
        }
      }
      for (int k = 0; k < 6; ++k) pca[k] += scale * block[k];
    }
  }
  if (same_mean) {
    Eigen::Matrix3f covariance = symmetric(moments);
    covariance *= momentsFactor(n);
    moments_covariance_ = covariance;
  }

  // pcl::PCA: the eigenvectors by decreasing eigenvalue, the third made the cross product
  // of the first two.
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3f> evd(symmetric(pca));
  for (int i = 0; i < 3; ++i) result.vectors.col(i) = evd.eigenvectors().col(2 - i);
  result.vectors.col(2) = result.vectors.col(0).cross(result.vectors.col(1));

  // The projections, with the oriented box's and the footprint's when they are wanted too.
  if ((wanted_ & kOriented) && moments_covariance_ && !axes_)
    axes_ = momentAxes(*moments_covariance_);
  Extremes extremes;
  std::vector<cv::Point2f> candidates;
  const bool with_box = (wanted_ & kOriented) && axes_ && !extremes_;
  const bool with_footprint = (wanted_ & kFootprint) && !candidates_;
  project(&result, with_box ? &*axes_ : nullptr, with_box ? &extremes : nullptr,
          with_footprint ? &candidates : nullptr);
  if (with_box) extremes_ = extremes;
  if (with_footprint) candidates_ = std::move(candidates);
  principal_ = result;
  return *principal_;
}

void CloudShape::project(Principal* principal, const Axes* axes, Extremes* extremes,
                         std::vector<cv::Point2f>* candidates) {
  // Extents along the principal axes; the library's projection leaves out non-finite
  // points of a cloud that is not dense. The oriented box: the estimator starts its maxima
  // at the smallest positive float, not at the lowest one.
  constexpr float kStart = std::numeric_limits<float>::min();
  const bool dense = cloud_.is_dense;
  const Eigen::Vector3f mean = axes != nullptr ? momentsMean() : Eigen::Vector3f::Zero();
  std::optional<FootprintFilter> filter;
  if (candidates != nullptr) filter.emplace(cloud_, sums().extremes);
  const auto& points = cloud_.points;
  const std::size_t n = points.size();

  struct Running {
    std::array<float, 3> lowest{kMax, kMax, kMax}, highest{-kMax, -kMax, -kMax};  // PCA
    std::array<float, 3> lo{kMax, kMax, kMax}, hi{kStart, kStart, kStart};       // box
  } run;
  // The arithmetic of pcl::PCA::project (Eigen sums V^T d as d0 v0 + (d1 v1 + d2 v2)) and of
  // the moment-of-inertia estimator's computeOBB, point by point.
  const auto point = [&](const pcl::PointXYZ& p, Running& r) {
    if (principal != nullptr && (dense || finite(p))) {
      const Eigen::Matrix3f& v = principal->vectors;
      const float dx = p.x - principal->mean[0];
      const float dy = p.y - principal->mean[1];
      const float dz = p.z - principal->mean[2];
      for (int k = 0; k < 3; ++k) {
        const float c = v(0, k) * dx + (v(1, k) * dy + v(2, k) * dz);
        r.lowest[k] = c < r.lowest[k] ? c : r.lowest[k];
        r.highest[k] = c > r.highest[k] ? c : r.highest[k];
      }
    }
    if (axes != nullptr) {
      const float dx = p.x - mean(0), dy = p.y - mean(1), dz = p.z - mean(2);
      const Eigen::Vector3f* a[3] = {&axes->major, &axes->middle, &axes->minor};
      for (int k = 0; k < 3; ++k) {
        const float c = dx * (*a[k])(0) + dy * (*a[k])(1) + dz * (*a[k])(2);
        r.lo[k] = c <= r.lo[k] ? c : r.lo[k];
        r.hi[k] = c >= r.hi[k] ? c : r.hi[k];
      }
    }
  };
  const auto footprint = [&](const pcl::PointXYZ& p) {
    if (std::isfinite(p.x) && std::isfinite(p.y) && filter->mayBeOnHull(p.x, p.y))
      candidates->emplace_back(p.x, p.y);
  };

  std::size_t i = 0;
#if defined(__GNUC__) && !defined(__clang__)
  // Four points at a time, each lane doing the same operations as the point above. The
  // minima and maxima of the lanes are combined by value; they may differ from the
  // point-by-point result only in the sign of a zero, which is then made again below.
  using v4f = float __attribute__((vector_size(16)));
  using v4i = std::int32_t __attribute__((vector_size(16)));
  const auto splat = [](float f) { return v4f{f, f, f, f}; };
  const v4f nan = splat(std::numeric_limits<float>::quiet_NaN());
  v4f lowest[3], highest[3], lo[3], hi[3];
  for (int k = 0; k < 3; ++k) {
    lowest[k] = splat(kMax);
    highest[k] = splat(-kMax);
    lo[k] = splat(kMax);
    hi[k] = splat(kStart);
  }
  v4f pv[3][3], pm[3], am[3], av[3][3];
  if (principal != nullptr) {
    for (int r = 0; r < 3; ++r) {
      pm[r] = splat(principal->mean[r]);
      for (int k = 0; k < 3; ++k) pv[r][k] = splat(principal->vectors(r, k));
    }
  }
  if (axes != nullptr) {
    const Eigen::Vector3f* a[3] = {&axes->major, &axes->middle, &axes->minor};
    for (int r = 0; r < 3; ++r) {
      am[r] = splat(mean(r));
      for (int k = 0; k < 3; ++k) av[k][r] = splat((*a[k])(r));
    }
  }
  for (; i + 4 <= n; i += 4) {
    const pcl::PointXYZ* q = &points[i];
    const v4f x{q[0].x, q[1].x, q[2].x, q[3].x};
    const v4f y{q[0].y, q[1].y, q[2].y, q[3].y};
    const v4f z{q[0].z, q[1].z, q[2].z, q[3].z};
    const v4i finite_xy = ((x - x) == 0) & ((y - y) == 0);
    if (principal != nullptr) {
      const v4i valid = dense ? v4i{-1, -1, -1, -1} : finite_xy & ((z - z) == 0);
      const v4f dx = x - pm[0], dy = y - pm[1], dz = z - pm[2];
      for (int k = 0; k < 3; ++k) {
        v4f c = pv[0][k] * dx + (pv[1][k] * dy + pv[2][k] * dz);
        c = valid ? c : nan;
        lowest[k] = c < lowest[k] ? c : lowest[k];
        highest[k] = c > highest[k] ? c : highest[k];
      }
    }
    if (axes != nullptr) {
      const v4f dx = x - am[0], dy = y - am[1], dz = z - am[2];
      for (int k = 0; k < 3; ++k) {
        const v4f c = dx * av[k][0] + dy * av[k][1] + dz * av[k][2];
        lo[k] = c <= lo[k] ? c : lo[k];
        hi[k] = c >= hi[k] ? c : hi[k];
      }
    }
    if (candidates != nullptr) {
      v4i inside = filter->active() ? v4i{-1, -1, -1, -1} : v4i{0, 0, 0, 0};
      for (int k = 0; k < FootprintFilter::kEdges; ++k)
        inside &= (filter->a(k) * x + filter->b(k) * y - filter->c(k)) > filter->margin(k);
      const v4i keep = finite_xy & ~inside;
      for (int j = 0; j < 4; ++j)
        if (keep[j]) candidates->emplace_back(q[j].x, q[j].y);
    }
  }
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 4; ++j) {
      run.lowest[k] = lowest[k][j] < run.lowest[k] ? lowest[k][j] : run.lowest[k];
      run.highest[k] = highest[k][j] > run.highest[k] ? highest[k][j] : run.highest[k];
      run.lo[k] = lo[k][j] <= run.lo[k] ? lo[k][j] : run.lo[k];
      run.hi[k] = hi[k][j] >= run.hi[k] ? hi[k][j] : run.hi[k];
    }
  }
#endif
  for (; i < n; ++i) {
    point(points[i], run);
    if (candidates != nullptr) footprint(points[i]);
  }
  const auto has_zero = [](const std::array<float, 3>& a) {
    return a[0] == 0.0f || a[1] == 0.0f || a[2] == 0.0f;
  };
  if (has_zero(run.lowest) || has_zero(run.highest) || has_zero(run.lo) || has_zero(run.hi)) {
    run = Running();
    for (const auto& p : points) point(p, run);
  }
  if (principal != nullptr) {
    principal->lengths = Eigen::Vector3f(run.highest[0] - run.lowest[0],
                                         run.highest[1] - run.lowest[1],
                                         run.highest[2] - run.lowest[2]);
  }
  if (extremes != nullptr) {
    *extremes = {pcl::PointXYZ(run.lo[0], run.lo[1], run.lo[2]),
                 pcl::PointXYZ(run.hi[0], run.hi[1], run.hi[2])};
  }
}

const CloudShape::Box& CloudShape::oriented() {
  if (oriented_) return *oriented_;
  if (!axes_) {
    const Eigen::Vector3f mean = momentsMean();
    axes_ = momentAxes(moments_covariance_ ? *moments_covariance_ : momentsCovariance(mean));
  }
  if (!extremes_) {
    Extremes extremes;
    project(nullptr, &*axes_, &extremes, nullptr);
    extremes_ = extremes;
  }
  // pcl::MomentOfInertiaEstimation::computeOBB: the box centred on the middle of the
  // extremes, its position that middle in the cloud's frame.
  const Axes& a = *axes_;
  Box box;
  box.min_point = extremes_->min_point;
  box.max_point = extremes_->max_point;
  if (!(a.major.allFinite() && a.middle.allFinite() && a.minor.allFinite())) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    box.min_point = box.max_point = pcl::PointXYZ(nan, nan, nan);  // no axes, no extents
  }
  box.rotation << a.major(0), a.middle(0), a.minor(0), a.major(1), a.middle(1), a.minor(1),
      a.major(2), a.middle(2), a.minor(2);
  const Eigen::Vector3f shift((box.max_point.x + box.min_point.x) / 2.0f,
                              (box.max_point.y + box.min_point.y) / 2.0f,
                              (box.max_point.z + box.min_point.z) / 2.0f);
  box.min_point.x -= shift(0);
  box.min_point.y -= shift(1);
  box.min_point.z -= shift(2);
  box.max_point.x -= shift(0);
  box.max_point.y -= shift(1);
  box.max_point.z -= shift(2);
  const Eigen::Vector3f position = momentsMean() + box.rotation * shift;
  box.position = pcl::PointXYZ(position(0), position(1), position(2));
  oriented_ = box;
  return *oriented_;
}

const CloudShape::Box& CloudShape::aligned() {
  if (aligned_) return *aligned_;
  const Sums& s = sums();
  Box box;
  box.min_point = s.min_point;
  box.max_point = s.max_point;
  aligned_ = box;
  return *aligned_;
}

const std::vector<cv::Point2f>& CloudShape::footprintHullCandidates() {
  if (!candidates_) {
    std::vector<cv::Point2f> candidates;
    project(nullptr, nullptr, nullptr, &candidates);
    candidates_ = std::move(candidates);
  }
  return *candidates_;
}

}  // namespace litterpose::shape

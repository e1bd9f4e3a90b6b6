// Shape analysis of a prepared object cloud: principal axes and extents, oriented and
// axis-aligned bounding boxes, and the minimum-area rectangle of the footprint.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <Eigen/Eigenvalues>
#include <opencv2/imgproc.hpp>
#include <pcl/common/pca.h>

#include "internal/cloud_shape.h"
#include "internal/console.h"
#include "internal/shape_sections.h"
#include "litterpose.h"

namespace litterpose::shape {
namespace {

using console::line;
using console::reset;

constexpr float kMax = std::numeric_limits<float>::max();

// Direction reported for a footprint without a long side (all points on one vertical line).
const Eigen::Vector2f kDirectionOfPointFootprint(1.0f, 0.0f);

bool finite(const pcl::PointXYZ& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// The eight directions in which the footprint's extreme points are sought, in
// counter-clockwise order: +x, +x+y, +y, -x+y, -x, -x-y, -y, +x-y.
float extent(int direction, float x, float y) {
  switch (direction) {
    case 0: return x;
    case 1: return x + y;
    case 2: return y;
    case 3: return y - x;
    case 4: return -x;
    case 5: return -x - y;
    case 6: return -y;
    default: return x - y;
  }
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
  constexpr std::ptrdiff_t kMaxBlock = std::max<std::ptrdiff_t>(
      ((kL1 - kRegisterBlock) / kPerDepth) & ~(kPeeling - 1), 1);
  auto k = static_cast<std::ptrdiff_t>(depth);
  if (k < 48 || k <= kMaxBlock) return depth;
  k = (k % kMaxBlock) == 0
          ? kMaxBlock
          : kMaxBlock - kPeeling * ((kMaxBlock - 1 - (k % kMaxBlock)) / (kPeeling * (k / kMaxBlock + 1)));
  return static_cast<std::size_t>(k);
}

}  // namespace

const CloudShape::Sums& CloudShape::sums() {
  if (sums_) return *sums_;
  Sums s;
  s.min_point = pcl::PointXYZ(kMax, kMax, kMax);
  s.max_point = pcl::PointXYZ(-kMax, -kMax, -kMax);
  std::array<float, 8> best;
  best.fill(-std::numeric_limits<float>::infinity());
  s.extremes.fill(-1);
  float ax = 0.0f, ay = 0.0f, az = 0.0f;  // every point, as the moment-of-inertia estimator sums
  float fx = 0.0f, fy = 0.0f, fz = 0.0f;  // the finite points, as PCA's centroid of a non-dense cloud
  const auto& points = cloud_.points;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const pcl::PointXYZ& p = points[i];
    ax += p.x;
    ay += p.y;
    az += p.z;
    if (finite(p)) {
      fx += p.x;
      fy += p.y;
      fz += p.z;
      ++s.finite_count;
    }
    // The comparisons of the moment-of-inertia estimator: ties go to the later point,
    // non-numbers never win.
    if (p.x <= s.min_point.x) s.min_point.x = p.x;
    if (p.y <= s.min_point.y) s.min_point.y = p.y;
    if (p.z <= s.min_point.z) s.min_point.z = p.z;
    if (p.x >= s.max_point.x) s.max_point.x = p.x;
    if (p.y >= s.max_point.y) s.max_point.y = p.y;
    if (p.z >= s.max_point.z) s.max_point.z = p.z;
    if (std::isfinite(p.x) && std::isfinite(p.y)) {
      for (int d = 0; d < 8; ++d) {
        const float e = extent(d, p.x, p.y);
        if (e > best[d]) {
          best[d] = e;
          s.extremes[d] = static_cast<std::ptrdiff_t>(i);
        }
      }
    }
  }
  s.all = Eigen::Vector3f(ax, ay, az);
  s.finite = Eigen::Vector3f(fx, fy, fz);
  sums_ = s;
  return *sums_;
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

  // The covariance of pcl::PCA, demeaned(0..2) * demeaned(0..2)^T / (n - 1), summed as
  // Eigen's matrix product sums it, without the demeaned copy of the cloud. The
  // moment-of-inertia estimator demeans every point with its own mean; where the two
  // means are the same numbers, its covariance sums are made in the same pass.
  const Eigen::Vector3f moments_mean = momentsMean();
  const bool same_mean =
      std::memcmp(moments_mean.data(), result.mean.data(), 3 * sizeof(float)) == 0;
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
    // A plain sum from its first term.
    std::array<float, 6> sum = products(points[0]);
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
  const auto symmetric = [](const std::array<float, 6>& c) {
    Eigen::Matrix3f m;
    m << c[0], c[1], c[2], c[1], c[3], c[4], c[2], c[4], c[5];
    return m;
  };
  if (same_mean) {
    Eigen::Matrix3f covariance = symmetric(moments);
    const auto count = static_cast<unsigned int>(n);
    covariance *= 1.0f / static_cast<float>((count - 1 > 0) ? (count - 1) : 1);
    moments_covariance_ = covariance;
  }
  const Eigen::Matrix3f alpha = symmetric(pca);

  // pcl::PCA: the eigenvectors by decreasing eigenvalue, the third made the cross product
  // of the first two.
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3f> evd(alpha);
  for (int i = 0; i < 3; ++i) result.vectors.col(i) = evd.eigenvectors().col(2 - i);
  result.vectors.col(2) = result.vectors.col(0).cross(result.vectors.col(1));

  // Extents along the axes; the library's projection leaves out non-finite points of a
  // cloud that is not dense.
  Eigen::Vector3f lowest = Eigen::Vector3f::Constant(kMax);
  Eigen::Vector3f highest = Eigen::Vector3f::Constant(-kMax);
  const bool dense = cloud_.is_dense;
  for (const auto& p : cloud_.points) {
    if (!dense && !finite(p)) continue;
    const Eigen::Vector3f demean_input = p.getVector3fMap() - result.mean.head<3>();
    const Eigen::Vector3f c = result.vectors.transpose() * demean_input;
    for (int i = 0; i < 3; ++i) {
      if (c[i] < lowest[i]) lowest[i] = c[i];
      if (c[i] > highest[i]) highest[i] = c[i];
    }
  }
  result.lengths = highest - lowest;
  principal_ = result;
  return *principal_;
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
  Eigen::Matrix3f covariance = Eigen::Matrix3f::Zero();
  for (const auto& p : cloud_.points) {
    Eigen::Vector3f d(p.x - mean(0), p.y - mean(1), p.z - mean(2));
    covariance += d * d.transpose();
  }
  const auto count = static_cast<unsigned int>(cloud_.size());
  covariance *= 1.0f / static_cast<float>((count - 1 > 0) ? (count - 1) : 1);
  return covariance;
}

const CloudShape::Box& CloudShape::oriented() {
  if (oriented_) return *oriented_;
  // pcl::MomentOfInertiaEstimation's oriented box: the eigenvectors of its covariance,
  // sorted by eigenvalue, normalised and made right-handed, and the extremes of the points
  // along them.
  const Eigen::Vector3f mean = momentsMean();
  const Eigen::Matrix3f covariance =
      moments_covariance_ ? *moments_covariance_ : momentsCovariance(mean);
  Eigen::EigenSolver<Eigen::Matrix3f> solver;
  solver.compute(covariance);
  const auto values = solver.eigenvalues();
  const auto vectors = solver.eigenvectors();
  unsigned int major = 0, middle = 1, minor = 2;
  if (values.real()(major) < values.real()(middle)) std::swap(major, middle);
  if (values.real()(major) < values.real()(minor)) std::swap(major, minor);
  if (values.real()(middle) < values.real()(minor)) std::swap(minor, middle);
  Eigen::Vector3f major_axis = vectors.col(major).real();
  Eigen::Vector3f middle_axis = vectors.col(middle).real();
  Eigen::Vector3f minor_axis = vectors.col(minor).real();
  major_axis.normalize();
  middle_axis.normalize();
  minor_axis.normalize();
  if (major_axis.dot(middle_axis.cross(minor_axis)) <= 0.0f) major_axis = -major_axis;

  Box box;
  // The estimator starts its maxima at the smallest positive float, not at the lowest.
  box.min_point = pcl::PointXYZ(kMax, kMax, kMax);
  constexpr float kStart = std::numeric_limits<float>::min();
  box.max_point = pcl::PointXYZ(kStart, kStart, kStart);
  for (const auto& p : cloud_.points) {
    const float x = (p.x - mean(0)) * major_axis(0) + (p.y - mean(1)) * major_axis(1) +
                    (p.z - mean(2)) * major_axis(2);
    const float y = (p.x - mean(0)) * middle_axis(0) + (p.y - mean(1)) * middle_axis(1) +
                    (p.z - mean(2)) * middle_axis(2);
    const float z = (p.x - mean(0)) * minor_axis(0) + (p.y - mean(1)) * minor_axis(1) +
                    (p.z - mean(2)) * minor_axis(2);
    if (x <= box.min_point.x) box.min_point.x = x;
    if (y <= box.min_point.y) box.min_point.y = y;
    if (z <= box.min_point.z) box.min_point.z = z;
    if (x >= box.max_point.x) box.max_point.x = x;
    if (y >= box.max_point.y) box.max_point.y = y;
    if (z >= box.max_point.z) box.max_point.z = z;
  }
  box.rotation << major_axis(0), middle_axis(0), minor_axis(0), major_axis(1), middle_axis(1),
      minor_axis(1), major_axis(2), middle_axis(2), minor_axis(2);
  const Eigen::Vector3f shift((box.max_point.x + box.min_point.x) / 2.0f,
                              (box.max_point.y + box.min_point.y) / 2.0f,
                              (box.max_point.z + box.min_point.z) / 2.0f);
  box.min_point.x -= shift(0);
  box.min_point.y -= shift(1);
  box.min_point.z -= shift(2);
  box.max_point.x -= shift(0);
  box.max_point.y -= shift(1);
  box.max_point.z -= shift(2);
  const Eigen::Vector3f position = mean + box.rotation * shift;
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

std::vector<cv::Point2f> CloudShape::footprintHullCandidates() {
  const Sums& s = sums();
  const auto& points = cloud_.points;

  // The distinct extreme points, counter-clockwise: a polygon inside the convex hull.
  std::vector<Eigen::Vector2d> polygon;
  for (const std::ptrdiff_t i : s.extremes) {
    if (i < 0) break;
    const auto& p = points[static_cast<std::size_t>(i)];
    const Eigen::Vector2d v(p.x, p.y);
    if (polygon.empty() || polygon.back() != v) polygon.push_back(v);
  }
  while (polygon.size() > 1 && polygon.front() == polygon.back()) polygon.pop_back();

  // A point is dropped when it lies to the left of every edge by more than the rounding of
  // the test can reach: it is then strictly inside the hull and cannot be on it.
  struct Edge {
    double a, b, c, margin;  // inside: a x + b y - c > margin
  };
  std::vector<Edge> edges;
  if (polygon.size() >= 3) {
    double scale = 0.0;
    for (const auto& v : polygon) scale = std::max({scale, std::fabs(v.x()), std::fabs(v.y())});
    for (std::size_t k = 0; k < polygon.size(); ++k) {
      const Eigen::Vector2d& from = polygon[k];
      const Eigen::Vector2d& to = polygon[(k + 1) % polygon.size()];
      const double a = -(to.y() - from.y());
      const double b = to.x() - from.x();
      const double c = a * from.x() + b * from.y();
      edges.push_back({a, b, c, 1e-9 * (std::fabs(a) + std::fabs(b)) * scale * 4.0});
    }
  }

  std::vector<cv::Point2f> candidates;
  for (const auto& p : points) {
    if (!(std::isfinite(p.x) && std::isfinite(p.y))) continue;
    bool inside = !edges.empty();
    for (const Edge& e : edges) {
      if (!(e.a * p.x + e.b * p.y - e.c > e.margin)) {
        inside = false;
        break;
      }
    }
    if (!inside) candidates.emplace_back(p.x, p.y);
  }
  return candidates;
}

// ---------------------------------------------------------------------------------------
// The printed sections and the members they fill.

void principalSection(GrabPoseEstimate& e, const GrabPoseEstimate::CloudPtr& cloud,
                      CloudShape& shape) {
  line(PURPLE_BOLD, "------------------------------PCA-----------------------------------");
  const auto start = console::Clock::now();
  if (!cloud || cloud->size() < 3) {
    // The library's own refusal: its initialisation-failure exception and message.
    pcl::PCA<pcl::PointXYZ> pca(true);
    pca.setInputCloud(cloud);
    pca.getEigenVectors();
  }
  const CloudShape::Principal& p = shape.principal();
  e.pca_vectors_ = p.vectors;
  e.pca_center_ = p.mean;
  line(CYAN_BOLD, "点云中心点坐标：", e.pca_center_[0], " ", e.pca_center_[1], " ", e.pca_center_[2],
       " ", e.pca_center_[3]);
  e.pca_lengths_ = p.lengths;
  line(MAGENTA_BOLD, "点云在各个特征向量方向上的长度为：", MAGENTA_BOLD, e.pca_lengths_[0], " ",
       MAGENTA_BOLD, e.pca_lengths_[1], " ", MAGENTA_BOLD, e.pca_lengths_[2], " ");
  line(RED_BOLD, "PcaFunc cost ", console::cost_ms(start), " ms");
}

void orientedBoxSection(GrabPoseEstimate& e, CloudShape& shape) {
  line(PURPLE_BOLD, "------------------------------OBB-----------------------------------");
  CloudShape::Box box;
  if (!shape.cloud().empty()) box = shape.oriented();
  line(CYAN_BOLD, "OBB包围盒的长宽高尺寸为:", box.max_point.x - box.min_point.x, " x ",
       box.max_point.y - box.min_point.y, " x ", box.max_point.z - box.min_point.z);
  line("", "OBB包围盒的位置:", box.position.x, " ", box.position.y, " ", box.position.z);
  e.obb_orientation_ = Eigen::Quaternionf(box.rotation);
  e.obb_position_ = box.position.getVector3fMap();
  e.obb_min_point_ = box.min_point;
  e.obb_max_point_ = box.max_point;
  reset();
}

void alignedBoxSection(GrabPoseEstimate& e, CloudShape& shape) {
  line(PURPLE_BOLD, "------------------------------AABB----------------------------------");
  pcl::PointXYZ min_point(0.0f, 0.0f, 0.0f), max_point(0.0f, 0.0f, 0.0f);
  if (!shape.cloud().empty()) {
    min_point = shape.aligned().min_point;
    max_point = shape.aligned().max_point;
  }
  const Eigen::Vector3f size = max_point.getVector3fMap() - min_point.getVector3fMap();
  const Eigen::Vector3f centre = min_point.getVector3fMap() + 0.5f * size;
  line(CYAN_BOLD, "AABB包围盒的长宽高尺寸为:", size.x(), " x ", size.y(), " x ", size.z());
  line("", "AABB包围盒的位置:", centre.x(), " ", centre.y(), " ", centre.z());
  e.aabb_center_ = centre;
  e.aabb_min_point_ = min_point;
  e.aabb_max_point_ = max_point;
  reset();
}

void footprintSection(GrabPoseEstimate& e, CloudShape& shape) {
  line(PURPLE_BOLD, "---------------------------MinAreaRect------------------------------");
  // Only the points that can lie on the footprint's convex hull go to the rectangle: the
  // hull, and with it the rectangle, is that of every footprint point. Non-finite points
  // have no place in a footprint, and the hull's sorting is undefined on them.
  const std::vector<cv::Point2f> footprint = shape.footprintHullCandidates();
  // An empty footprint gets the degenerate rectangle at the origin.
  const cv::RotatedRect rect = footprint.empty() ? cv::RotatedRect() : cv::minAreaRect(footprint);
  line(CYAN_BOLD, "Angle: ", rect.angle);
  rect.points(e.rect_points_);

  // Corner 1 - corner 0 runs along the height, corner 2 - corner 1 along the width.
  const cv::Point2f d = rect.size.width < rect.size.height ? e.rect_points_[1] - e.rect_points_[0]
                                                           : e.rect_points_[2] - e.rect_points_[1];
  const double dx = d.x, dy = d.y;
  const double length = std::sqrt(dx * dx + dy * dy);
  if (length > 0.0 && std::isfinite(length)) {
    e.rect_direction_ =
        Eigen::Vector2f(static_cast<float>(dx / length), static_cast<float>(dy / length));
  } else {
    e.rect_direction_ = kDirectionOfPointFootprint;
  }
  if (e.rect_direction_.x() < 0.0f) e.rect_direction_ = -e.rect_direction_;
  line(GREEN_BOLD, "Adjusted unit vector: (", e.rect_direction_.x(), ", ", e.rect_direction_.y(),
       ")");
  reset();
}

}  // namespace litterpose::shape

namespace {

namespace shape = litterpose::shape;

// A null cloud is analysed as a cloud without points.
const GrabPoseEstimate::Cloud& points_of(const GrabPoseEstimate::CloudPtr& cloud) {
  static const GrabPoseEstimate::Cloud no_points;
  return cloud ? *cloud : no_points;
}

}  // namespace

void GrabPoseEstimate::PCAFunc(const CloudPtr& cloud) {
  shape::CloudShape analysis(points_of(cloud));
  shape::principalSection(*this, cloud, analysis);
}

void GrabPoseEstimate::OBBFunc(const CloudPtr& cloud) {
  shape::CloudShape analysis(points_of(cloud));
  shape::orientedBoxSection(*this, analysis);
}

void GrabPoseEstimate::AABBFunc(const CloudPtr& cloud) {
  shape::CloudShape analysis(points_of(cloud));
  shape::alignedBoxSection(*this, analysis);
}

void GrabPoseEstimate::MinAreaRectFunc(const CloudPtr& cloud) {
  shape::CloudShape analysis(points_of(cloud));
  shape::footprintSection(*this, analysis);
}

void GrabPoseEstimate::get_obb_pose(Pose6D& obb_pose, Pose6D& base_pose,
                                    Eigen::Matrix<float, 3, 1>& position,
                                    Eigen::Matrix<float, 3, 3>& rotation) {
  using litterpose::console::line;
  line(PURPLE_BOLD, "--------------------------GetObbBoxPose-----------------------------");
  const Eigen::Quaterniond base2obbQuaternion(Eigen::Matrix3d(rotation.cast<double>()));
  line(CYAN_BOLD, "base2obbQuaternion: ", base2obbQuaternion.w(), "  ", base2obbQuaternion.x(),
       "  ", base2obbQuaternion.y(), "  ", base2obbQuaternion.z());

  Eigen::Affine3d base = Eigen::Affine3d::Identity();
  base.linear() = base_pose.orientation.toRotationMatrix();
  base.translation() = base_pose.position.cast<double>();
  Eigen::Affine3d box = Eigen::Affine3d::Identity();
  box.linear() = base2obbQuaternion.toRotationMatrix();
  box.translation() = position.cast<double>();
  const Eigen::Affine3d relative = base.inverse(Eigen::Affine) * box;

  // Written only now: the caller may pass one pose as both base and result.
  obb_pose.position = relative.translation().cast<float>();
  obb_pose.orientation = Eigen::Quaterniond(relative.linear());
  line(CYAN_BOLD, "trash obb_pose.position: ", obb_pose.position.x(), "  ", obb_pose.position.y(),
       "  ", obb_pose.position.z());
  line(CYAN_BOLD, "trash obb_pose.orientation: ", obb_pose.orientation.w(), "  ",
       obb_pose.orientation.x(), "  ", obb_pose.orientation.y(), "  ", obb_pose.orientation.z());
  litterpose::console::reset();
}

#include "litterpose_points.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <pcl/common/transforms.h>

namespace litterpose {
namespace {

// A double beyond float's range becomes an infinity of its sign rather than an undefined
// conversion.
float narrow(double value) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  if (value > std::numeric_limits<float>::max()) return kInfinity;
  if (value < -std::numeric_limits<float>::max()) return -kInfinity;
  return static_cast<float>(value);
}

// Coordinates may lie anywhere, so they are copied out rather than dereferenced.
template <typename Scalar>
float coordinate(const std::uint8_t* at) {
  Scalar value;
  std::memcpy(&value, at, sizeof value);
  if constexpr (sizeof(Scalar) == sizeof(double)) return narrow(value);
  else return value;
}

template <typename Scalar>
void fill(const PointsView& view, const Eigen::Matrix4f* transform,
          GrabPoseEstimate::Cloud& cloud) {
  // The transform PclTransform applies (pcl::transformPointCloud's), so that both give the
  // same bits on every machine; it keeps the matrix in registers, read from aligned storage.
  const Eigen::Matrix4f matrix = transform ? *transform : Eigen::Matrix4f::Identity();
  const pcl::detail::Transformer<float> transformer(matrix);
  const auto* row = static_cast<const std::uint8_t*>(view.data);
  const std::ptrdiff_t step = view.coordinate_stride;
  // Each point is written once: appended, not default-constructed and then overwritten.
  auto& points = cloud.points;
  points.clear();
  points.reserve(view.count);
  bool dense = true;
  for (std::size_t i = 0; i < view.count; ++i, row += view.point_stride) {
    pcl::PointXYZ p(coordinate<Scalar>(row), coordinate<Scalar>(row + step),
                    coordinate<Scalar>(row + 2 * step));
    const bool finite = std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
    if (transform && finite) transformer.se3(p.data, p.data);
    // Finite after the transform too (a transform holding a non-number makes none).
    dense = dense && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
    points.push_back(p);
  }
  cloud.is_dense = dense;
}

}  // namespace

void cloudFromPoints(const PointsView& points, const Eigen::Matrix4f* transform,
                     GrabPoseEstimate::Cloud& cloud) {
  if (points.scalar == PointsView::Scalar::float64) fill<double>(points, transform, cloud);
  else fill<float>(points, transform, cloud);
  cloud.width = static_cast<std::uint32_t>(points.count);
  cloud.height = 1;
}

}  // namespace litterpose

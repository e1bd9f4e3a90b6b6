// Points that live in another library's memory (an array of a scripting language, a
// message's buffer) made into the estimator's cloud in one pass, without an intermediate
// cloud: read where they lie, whatever their layout, and brought into the arm base frame on
// the way.
#ifndef LITTERPOSE_POINTS_H
#define LITTERPOSE_POINTS_H

#include <cstddef>

#include <Eigen/Core>

#include "litterpose.h"

namespace litterpose {

// count points of three coordinates (x, y, z), each a float or a double; coordinate k of
// point i lies at data + i * point_stride + k * coordinate_stride. Strides are in bytes and
// may be of any sign or zero; nothing needs to be aligned.
struct PointsView {
  enum class Scalar { float32, float64 };

  const void* data = nullptr;
  std::size_t count = 0;
  Scalar scalar = Scalar::float32;
  std::ptrdiff_t point_stride = 0;
  std::ptrdiff_t coordinate_stride = 0;
};

// Makes the cloud hold the points, in their order, as one row: doubles rounded to the
// nearest float (beyond float's range, an infinity of its sign); with a transform, each
// finite point then transformed exactly as PclTransform transforms it, and non-finite points
// kept as they are, as PclTransform keeps them. The cloud is dense when every point is
// finite. One pass over the points, each written once.
void cloudFromPoints(const PointsView& points, const Eigen::Matrix4f* transform,
                     GrabPoseEstimate::Cloud& cloud);

}  // namespace litterpose

#endif  // LITTERPOSE_POINTS_H

// The cloud preparation of PclProcessFunc, for the entries that go on to the shape analysis.
#ifndef LITTERPOSE_INTERNAL_PREPARATION_H
#define LITTERPOSE_INTERNAL_PREPARATION_H

#include <cstddef>
#include <optional>

#include <Eigen/Core>

#include "internal/shape_passes.h"
#include "litterpose.h"

namespace litterpose::preparation {

// What a preparation tells the entry that runs it.
struct Prepared {
  bool summed = false;  // the sums are those of the prepared cloud
  bool robust = false;  // the robust preparation ran
  // robust, when the object was told from the floor around it:
  bool lying = false;     // it is longer than it is tall
  bool standing = false;  // it is taller than it is long
  // robust, when the floor around the object had to be kept (small litter, whose own points
  // are fewer than the entry needs): the long axis, seen from above, of the points that
  // stand out of the floor, where they have one. The footprint of the floor band kept
  // around them follows the camera's pixels, not the object.
  std::optional<Eigen::Vector2f> axis;
};

// PclProcessFunc. With `sums`, the first pass of the shape analysis is made over the points
// as the filter keeps them (Prepared::summed; after the fallback to the entry cloud they
// are not). `min_points` is the entry's own minimum: the robust preparation keeps its cuts
// only where the object keeps that many points.
Prepared prepare(GrabPoseEstimate& e, GrabPoseEstimate::CloudPtr& input,
                 GrabPoseEstimate::CloudPtr& output, shape::CloudSums* sums,
                 std::size_t min_points);

// The floor's height under (x, y): the plane the last preparation found, or the configured
// floor, -base_height_, exactly, when it found none.
float floorBelow(const GrabPoseEstimate& e, float x, float y);

}  // namespace litterpose::preparation

#endif

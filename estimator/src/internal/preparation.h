// The cloud preparation of PclProcessFunc, for the entries that go on to the shape analysis.
#ifndef LITTERPOSE_INTERNAL_PREPARATION_H
#define LITTERPOSE_INTERNAL_PREPARATION_H

#include <cstddef>

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

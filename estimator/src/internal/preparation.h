// The cloud preparation of PclProcessFunc, for the entries that go on to the shape analysis.
#ifndef LITTERPOSE_INTERNAL_PREPARATION_H
#define LITTERPOSE_INTERNAL_PREPARATION_H

#include "internal/cloud_shape.h"
#include "litterpose.h"

namespace litterpose::preparation {

// PclProcessFunc. With `sums`, the first pass of the shape analysis is made over the points
// as the filter keeps them; true when the filter was applied, and so the sums are those of
// the prepared cloud (after the fallback to the entry cloud they are not).
bool prepare(GrabPoseEstimate& e, GrabPoseEstimate::CloudPtr& input,
             GrabPoseEstimate::CloudPtr& output, shape::CloudSums* sums);

}  // namespace litterpose::preparation

#endif

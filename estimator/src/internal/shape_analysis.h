// The shape analysis steps of an estimate, each printing its section and filling its
// members, over one CloudShape so that the steps share their passes over the cloud: the
// principal axes (principal_axes.cpp), the boxes (bounding_boxes.cpp) and the footprint
// rectangle (footprint_rectangle.cpp).
#ifndef LITTERPOSE_INTERNAL_SHAPE_ANALYSIS_H
#define LITTERPOSE_INTERNAL_SHAPE_ANALYSIS_H

#include "internal/shape_passes.h"
#include "litterpose.h"

namespace litterpose::shape {

// PCAFunc: throws the library's initialisation failure below three points (or without a
// cloud), changing no member.
void principalSection(GrabPoseEstimate& e, const GrabPoseEstimate::CloudPtr& cloud,
                      CloudShape& shape);
void orientedBoxSection(GrabPoseEstimate& e, CloudShape& shape);  // OBBFunc
void alignedBoxSection(GrabPoseEstimate& e, CloudShape& shape);   // AABBFunc
void footprintSection(GrabPoseEstimate& e, CloudShape& shape);    // MinAreaRectFunc

// A null cloud is analysed as a cloud without points.
inline const GrabPoseEstimate::Cloud& pointsOf(const GrabPoseEstimate::CloudPtr& cloud) {
  static const GrabPoseEstimate::Cloud no_points;
  return cloud ? *cloud : no_points;
}

}  // namespace litterpose::shape

#endif

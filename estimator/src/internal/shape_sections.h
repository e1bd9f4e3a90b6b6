// The shape analysis steps of an estimate, each printing its section and filling its
// members, over one CloudShape so that the steps share their passes over the cloud.
#ifndef LITTERPOSE_INTERNAL_SHAPE_SECTIONS_H
#define LITTERPOSE_INTERNAL_SHAPE_SECTIONS_H

#include "internal/cloud_shape.h"
#include "litterpose.h"

namespace litterpose::shape {

// PCAFunc: throws the library's initialisation failure below three points (or without a
// cloud), changing no member.
void principalSection(GrabPoseEstimate& e, const GrabPoseEstimate::CloudPtr& cloud,
                      CloudShape& shape);
void orientedBoxSection(GrabPoseEstimate& e, CloudShape& shape);  // OBBFunc
void alignedBoxSection(GrabPoseEstimate& e, CloudShape& shape);   // AABBFunc
void footprintSection(GrabPoseEstimate& e, CloudShape& shape);    // MinAreaRectFunc

}  // namespace litterpose::shape

#endif

// The robust preparation of PclProcessFunc (robust_preparation.enable): it removes what a
// real capture adds to an object's cloud before the object is measured.
#ifndef LITTERPOSE_INTERNAL_ROBUST_PREPARATION_H
#define LITTERPOSE_INTERNAL_ROBUST_PREPARATION_H

#include <cstddef>
#include <vector>

#include "internal/cloud_shape.h"
#include "litterpose.h"

namespace litterpose::robust {

// Prepares the output cloud in place, as PclProcessFunc does, and writes the measured
// trash_lowest_z_, trash_highest_z_ and trash_height_ of what remains. Every point left is
// handed to `sums`, when given; false for a null cloud, true otherwise.
bool prepare(GrabPoseEstimate& e, GrabPoseEstimate::CloudPtr& input,
             GrabPoseEstimate::CloudPtr& output, shape::CloudSums* sums);

// Statistical outlier test of every point: the mean distance to its k nearest neighbours,
// divided by the point's range from the viewpoint (the camera sees far surfaces more
// sparsely), against the mean and standard deviation of that figure over the cloud.
// Neighbourhoods are counted on voxels of about the given size (each voxel's points at its
// centroid), so that the cost grows with the number of voxels, not of points.
// true: the point is kept.
std::vector<bool> statisticalInliers(const GrabPoseEstimate::Cloud& cloud, int k,
                                     float std_dev_mul, float voxel_size,
                                     const Eigen::Vector3f& viewpoint);

}  // namespace litterpose::robust

#endif

// Statistical outlier test of a cloud's points, counted on voxels so that its cost grows
// with the number of voxels, not of points.
#ifndef LITTERPOSE_INTERNAL_STATISTICAL_OUTLIERS_H
#define LITTERPOSE_INTERNAL_STATISTICAL_OUTLIERS_H

#include <vector>

#include <Eigen/Dense>

#include "internal/voxel_grid.h"
#include "litterpose.h"

namespace litterpose::robust {

// The mean distance of each point to its k nearest neighbours, divided by the point's
// range from the viewpoint (the camera sees far surfaces more sparsely), against the mean
// and standard deviation of that figure over the cloud: a point is an outlier above mean +
// std_dev_mul * deviation. Each voxel's points stand at its centroid with its spread; a
// voxel's neighbours are its own other points, then those of the voxels around it, nearest
// first. true: the voxel's points are kept.
std::vector<bool> inlierVoxels(VoxelGrid& grid, int k, float std_dev_mul,
                               const Eigen::Vector3f& viewpoint);

// The same test for every point of a cloud, on voxels of about voxel_size, resized to the
// cloud's density so that a neighbourhood spans a few voxels of the 27 around a point's
// own. true: the point is kept.
std::vector<bool> statisticalInliers(const GrabPoseEstimate::Cloud& cloud, int k,
                                     float std_dev_mul, float voxel_size,
                                     const Eigen::Vector3f& viewpoint);

// The whole number of fine voxels, holding `per_voxel` points each, that a cell spans along
// each axis to hold a neighbourhood of k points of a surface (the point and k others).
int cellsHoldingANeighbourhood(int k, double per_voxel);

}  // namespace litterpose::robust

#endif

// The robust preparation of PclProcessFunc (robust_preparation.enable): it removes what a
// real capture adds to an object's cloud, finds the floor under the object and measures
// the object from that floor.
#ifndef LITTERPOSE_INTERNAL_ROBUST_PREPARATION_H
#define LITTERPOSE_INTERNAL_ROBUST_PREPARATION_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "internal/shape_passes.h"
#include "internal/voxel_grid.h"
#include "internal/preparation.h"
#include "litterpose.h"

namespace litterpose::robust {

// A flag per point: kept or not.
using Flags = std::vector<std::uint8_t>;

// The points being prepared, each with its height above the floor and its leaf.
struct Points {
  GrabPoseEstimate::Cloud cloud;
  std::vector<float> heights;
  std::vector<std::uint32_t> leaves;

  std::size_t size() const { return cloud.size(); }
  void clear();  // keeps the memory
  // Keeps, in order and in place, the points whose flag is set.
  void keep(const Flags& flags);
};

}  // namespace litterpose::robust

namespace litterpose {

// What the robust preparation keeps from one estimate to the next: the pages of a large
// cloud's buffers, fresh from the system, cost more than the work on them. Released when a
// cloud comes that is much smaller than the last.
struct PreparationMemory {
  static constexpr std::size_t kShrinkBelow = 4;  // times smaller than the last cloud
  std::size_t last_input = 0;
  robust::Points points;
  robust::VoxelGrid leaves;
  robust::VoxelGrid cells;  // the leaves merged into cells of a neighbourhood
};

}  // namespace litterpose

namespace litterpose::robust {

// Prepares the input cloud into the output (the same cloud or another), as PclProcessFunc
// does, and writes trash_lowest_z_, trash_highest_z_, trash_height_, floor_plane_ and
// floor_fitted_. A removal that would leave fewer than `min_points` points (the entry's own
// minimum; 100 for the cuts that take what is not the object) is skipped, and a result
// below `min_points` falls back to the input. Every point left is handed to `sums`, when
// given.
preparation::Prepared prepare(GrabPoseEstimate& e, GrabPoseEstimate::CloudPtr& input,
                              GrabPoseEstimate::CloudPtr& output, shape::CloudSums* sums,
                              std::size_t min_points);

// Height above the floor of the object's top: of the highest point that lies on a surface,
// with kTopNeighbours others within `patch` of it. A point moved along its ray far above
// the object, alone there, is no top, though it passes the outlier test when the object
// is near. Of the kTopCandidates highest points; when none lies on a surface, the lowest
// of them. NaN without points.
constexpr std::size_t kTopNeighbours = 3;
constexpr std::size_t kTopCandidates = 16;
float topHeight(const Points& points, double patch);

// Side of the square that one pixel of the configured camera covers at the given range,
// metres; nullopt for intrinsics that are not positive.
std::optional<double> pixelFootprint(const GrabPoseEstimate& e, double range);
// The same, or that of a common depth camera's pixel without usable intrinsics.
double pixelFootprintOr(const GrabPoseEstimate& e, double range);
// The camera's origin in the base frame (the extrinsic's translation).
Eigen::Vector3d cameraOrigin(const GrabPoseEstimate& e);

// Why a prepared cloud tells nothing about an object's shape: its points coincide, lie on
// a line, or span less than a few millimetres across. nullopt for a cloud with a shape.
// Reads the principal extents the shape analysis left in pca_lengths_.
std::optional<std::string> degenerateShape(const GrabPoseEstimate& e);
// The same, said on the console and as the estimate's reason: true when the cloud is
// refused.
bool refuseDegenerateShape(GrabPoseEstimate& e);

// An object that the preparation found standing on the floor (taller than its footprint
// is long) is grasped from the side, whatever its principal axis says (an open cup's rim
// and inside, or a box's top seen at a slant, lean the axis): its main-axis class becomes
// VERTICAL, and the log says so.
void standUpright(GrabPoseEstimate& e, const preparation::Prepared& prepared);

// An object that the preparation found lying on the floor (its footprint longer than it is
// tall) is grasped from above, whatever its principal axis says: the walls the camera sees
// lean it (a tuna can's side, a cup's inside, a bottle's neck folded beside it), and the grasp
// turns to the footprint's long side anyway. A tilted main-axis class becomes HORIZONTAL,
// and the log says so.
void layFlat(GrabPoseEstimate& e, const preparation::Prepared& prepared);

// The direction of the larger spread of a footprint's second moments (about its mean),
// where its standard deviation is at least `ratio` times the other's; nullopt otherwise.
std::optional<Eigen::Vector2d> longAxisOf(const Eigen::Matrix2d& moments, double ratio);

// The direction of the object's long axis seen from above, which the fingers close across:
// the footprint rectangle's long side (rect_direction_), which the density of the visible
// faces does not turn; where the rectangle is nearly square, the principal axis of the
// footprint of the object's upper part, since a few points beyond the object's bulk (the
// tip of a bottle's neck folded beside it) decide which side is the longer; on fewer points than
// kMinRectanglePoints (small litter) the principal axis (pca_vectors_), since a rectangle
// around a few dozen points turns with each stray one.
Eigen::Vector2f graspAxis(const GrabPoseEstimate& e, const GrabPoseEstimate::Cloud& cloud);

// Where a lying object's grasp point stands, seen from above: across its footprint, the
// centre of its footprint rectangle (rect_points_, of the prepared points), drawn towards
// the centre of the volume under the points where that lies well to one side (a bottle's
// neck folded beside its body); along it, the centre of that volume (a bottle's neck weighs
// less than its body). Not the mean of the points the camera sees, which leans towards the
// camera.
Eigen::Vector2f graspCentre(const GrabPoseEstimate& e, const GrabPoseEstimate::Cloud& cloud);

}  // namespace litterpose::robust

#endif

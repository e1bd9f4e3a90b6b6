// The steps of the gripper model's check (checkGripper): the gripper's solids in the tool
// frame, the band of the object the fingers hold, a box against the floor plane, and the
// cloud's points in the band, the fingers and the palm.
#ifndef LITTERPOSE_INTERNAL_GRIPPER_FIT_H
#define LITTERPOSE_INTERNAL_GRIPPER_FIT_H

#include <cmath>
#include <vector>

#include <Eigen/Dense>

#include "litterpose.h"

namespace litterpose::gripper {

// The tool frame of a grasp pose: x along the object's long side, y the closing axis, z the
// approach, its origin the tool centre point.
struct ToolFrame {
  Eigen::Matrix3f rotation;  // columns: the tool's axes in the base frame
  Eigen::Vector3f origin;

  explicit ToolFrame(const GrabPoseEstimate::Pose6D& pose);
  Eigen::Vector3f toTool(const Eigen::Vector3f& base_point) const {
    return rotation.transpose() * (base_point - origin);
  }
  // The plane a x + b y + c z + d = 0 of the base frame, written in the tool frame.
  Eigen::Vector4f planeToTool(const Eigen::Vector4f& plane) const;
  GripperBox toBase(const Eigen::Vector3f& centre, const Eigen::Vector3f& size) const;
};

// A box whose sides lie along the tool's axes: its centre and half its sides, tool frame.
struct ToolBox {
  Eigen::Vector3f centre;
  Eigen::Vector3f half;

  // Faces included.
  bool contains(const Eigen::Vector3f& q) const {
    return ((q - centre).cwiseAbs().array() <= half.array()).all();
  }
};

// How far the box reaches below the plane (a, b, c unit, pointing to the free side): the
// depth of its deepest corner; 0 or less when it keeps out (0: a face or corner touches).
float depthBelow(const ToolBox& box, const Eigen::Vector4f& plane);

// The gripper's solids, tool frame: the fingertips at z = tip, the fingers reaching back to
// z = root, where the palm begins.
struct Shape {
  float tip;
  float root;
  float half_finger_width;  // along x
  float finger_thickness;   // along y
  ToolBox palm;

  Shape(const GrabPoseEstimate::Gripper& g, float finger_to_tcp);
  // Between the fingers' inner faces, or beyond them along y: the slab the fingers sweep.
  bool inFingerSlab(const Eigen::Vector3f& q) const {
    return std::abs(q.x()) <= half_finger_width && q.z() >= root && q.z() <= tip;
  }
  // The finger at -y (side 0) or +y (side 1) opened to `opening` between their inner faces.
  ToolBox finger(int side, float opening) const;
};

// A closed interval along the closing axis; empty when nothing was measured.
struct Interval {
  float low = 0.0f;
  float high = 0.0f;
  bool empty = true;

  float width() const { return empty ? 0.0f : high - low; }
  // The opening of fingers that close symmetrically about 0 and clear it by `clearance`.
  float symmetricOpening(float clearance) const;
};

// The band of the object the fingers hold: of the coordinates along the closing axis of the
// points between the fingers, the run around 0 (or nearest to it) in which no gap is as wide
// as `bridge` (a finger with its clearance fits only into a wider one); the coordinates
// beyond such a gap belong to another part. The order of the coordinates does not matter.
Interval graspedBand(const std::vector<float>& along_closing_axis, float bridge);

// The band widened, about its own middle, to at least `height`: what a lying object is
// across a grasp from above, though the camera sees only its near side. An object lies on a
// face at least as wide as it is tall, or is round (the far side of a bottle, a can or a cup
// on its side is hidden below its top). An empty band, or a height that is not a number,
// leaves it as it is.
Interval withHiddenSide(const Interval& band, float height);

// The height above the floor of the points within the band (their coordinates along the
// closing axis and their heights, pair by pair): a high quantile of theirs, not a number
// when none lies within it.
float bandHeight(const std::vector<float>& along, const std::vector<float>& heights,
                 const Interval& band);

// The floor under the last estimate's object: the plane its preparation fitted, or the
// configured floor z = -base_height_.
Eigen::Vector4f floorPlane(const GrabPoseEstimate& e);

// With the model on, keeps the prepared cloud (shared, not copied) for isCollided; drops it
// with the model off.
void keepCloud(GrabPoseEstimate& e, const GrabPoseEstimate::CloudPtr& cloud);

}  // namespace litterpose::gripper

#endif

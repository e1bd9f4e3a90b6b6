// What litterview shows: one estimate on a base-frame cloud and the estimator's results
// drawn into a PCLVisualizer, kept apart from main so that a test can build the scene.
#ifndef LITTERPOSE_VIEWER_SCENE_H
#define LITTERPOSE_VIEWER_SCENE_H

#include <array>
#include <cstddef>
#include <string>

#include <Eigen/Dense>
#include <litterpose.h>
#include <pcl/visualization/pcl_visualizer.h>

namespace litterview {

// Clouds with fewer points are not estimated at all.
inline constexpr std::size_t kFewestPointsToEstimate = 100;
inline constexpr int kTrashType = 3;

struct Segment {
  Eigen::Vector3f from;
  Eigen::Vector3f to;
};

// The drawn lines as given to the visualiser.
struct DrawnLines {
  Segment grab_mainaxis;
  std::array<Segment, 4> rect;
};

struct SceneOutcome {
  bool estimated = false;  // false: too few points, nothing drawn
  int result = 0;          // the estimate's code when estimated
  DrawnLines lines;
};

// Prints the point count and, with enough points, estimates for trash type 3 with
// CommonGrabPoseFunc (the cloud is prepared in place), prints the code and draws.
SceneOutcome estimateAndDraw(pcl::visualization::PCLVisualizer& viewer,
                             GrabPoseEstimate& estimator, GrabPoseEstimate::CloudPtr& cloud);

// Replaces the per-estimate elements and adds all twelve from the estimator's members,
// whatever the estimate returned; with the gripper model on and a grasp found, also the
// palm (orange) and the open fingers (yellow) as boxes at the grasp.
DrawnLines drawEstimate(pcl::visualization::PCLVisualizer& viewer,
                        const GrabPoseEstimate& estimator,
                        const GrabPoseEstimate::CloudPtr& cloud);

// A view from behind and to the side of the arm onto the object and the arm base.
void aimCamera(pcl::visualization::PCLVisualizer& viewer, const GrabPoseEstimate& estimator);

}  // namespace litterview

#endif

#include "scene.h"

#include <string>

#include <pcl/visualization/point_cloud_color_handlers.h>

namespace litterview {
namespace {

using Visualizer = pcl::visualization::PCLVisualizer;
using pcl::visualization::PointCloudColorHandlerCustom;

// Floor-plane marker: a square at the height of the base frame's origin, 0.25 m to
// 0.75 m ahead of the arm.
GrabPoseEstimate::CloudPtr planeMarker() {
  auto plane = std::make_shared<GrabPoseEstimate::Cloud>();
  plane->width = 4;
  plane->height = 1;
  plane->points = {{-0.25f, -0.25f, 0.0f}, {-0.75f, -0.25f, 0.0f}, {-0.75f, 0.25f, 0.0f},
                   {-0.25f, 0.25f, 0.0f}};
  return plane;
}

pcl::PointXYZ point(const Eigen::Vector3f& v) { return {v.x(), v.y(), v.z()}; }

std::string rectId(int i) { return "rect" + std::to_string(i); }

// The gripper model's solids at the grasp: the palm, and the fingers opened around the
// object as the model found them.
const char* const kGripperIds[3] = {"gripper_palm", "gripper_finger0", "gripper_finger1"};

void drawGripper(Visualizer& viewer, const GrabPoseEstimate& estimator) {
  const litterpose::GripperCheck fit = litterpose::checkGripper(estimator, estimator.grab_pose_);
  const litterpose::GripperBox* boxes[3] = {&fit.palm, &fit.fingers[0], &fit.fingers[1]};
  for (int i = 0; i < 3; ++i) {
    const litterpose::GripperBox& b = *boxes[i];
    viewer.addCube(b.centre, b.orientation, b.size.x(), b.size.y(), b.size.z(), kGripperIds[i]);
    viewer.setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_COLOR, 1.0,
                                       i == 0 ? 0.5 : 1.0, 0.0, kGripperIds[i]);
  }
}

}  // namespace

SceneOutcome estimateAndDraw(Visualizer& viewer, GrabPoseEstimate& estimator,
                             GrabPoseEstimate::CloudPtr& cloud) {
  SceneOutcome outcome;
  // The viewer's lines join the estimator's, where its sink sends them.
  litterpose::ConsoleSink& log = estimator.consoleSink();
  log.line(MAGENTA_BOLD + ("原始点云数量：" + std::to_string(cloud->size())));
  log.flush();
  if (cloud->size() < kFewestPointsToEstimate) {
    log.line(std::string(RED_BOLD) + "原始点云数量太少，请重新检测");
    log.flush();
    return outcome;
  }
  estimator.trash_type_ = kTrashType;
  outcome.result = estimator.CommonGrabPoseFunc(cloud);
  outcome.estimated = true;
  log.line(MAGENTA_BOLD + ("flash_estimate: " + std::to_string(outcome.result)) + RESET_FORMAT);
  log.flush();
  outcome.lines = drawEstimate(viewer, estimator, cloud);
  return outcome;
}

DrawnLines drawEstimate(Visualizer& viewer, const GrabPoseEstimate& estimator,
                        const GrabPoseEstimate::CloudPtr& cloud) {
  // Elements of an earlier estimate in the same viewer give way to this one's.
  viewer.removePointCloud("cloud_trash", 0);
  viewer.removeCoordinateSystem("pca_transform", 0);
  viewer.removeShape("grab_mainaxis", 0);
  viewer.removeShape("OBB", 0);
  for (int i = 0; i < 4; ++i) viewer.removeShape(rectId(i), 0);
  for (const char* id : kGripperIds) viewer.removeShape(id, 0);

  // This overload draws the points through an XYZ geometry handler.
  const PointCloudColorHandlerCustom<pcl::PointXYZ> cloud_colour(cloud, 255, 255, 255);
  viewer.addPointCloud<pcl::PointXYZ>(cloud, cloud_colour, "cloud_trash");
  viewer.setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_COLOR, 0, 0, 1,
                                          "cloud_trash");

  viewer.addCoordinateSystem(0.3, "arm_base");
  viewer.addCoordinateSystem(0.15, Eigen::Affine3f(estimator.camera_extrinsic_), "camera_base");

  Eigen::Matrix4f pca = Eigen::Matrix4f::Identity();
  pca.block<3, 3>(0, 0) = estimator.pca_vectors_;
  pca.block<3, 1>(0, 3) = estimator.pca_center_.head<3>();
  viewer.addCoordinateSystem(0.05, Eigen::Affine3f(pca), "pca_transform");

  DrawnLines lines;
  lines.grab_mainaxis.from = estimator.grab_tcp_;
  lines.grab_mainaxis.to =
      (estimator.grab_tcp_.cast<double>() + 0.1 * estimator.grab_mainaxis_.cast<double>())
          .cast<float>();
  viewer.addLine(point(lines.grab_mainaxis.from), point(lines.grab_mainaxis.to), 255, 0, 255,
                 "grab_mainaxis");

  const pcl::PointXYZ& obb_min = estimator.obb_min_point_;
  const pcl::PointXYZ& obb_max = estimator.obb_max_point_;
  viewer.addCube(estimator.obb_position_, estimator.obb_orientation_, obb_max.x - obb_min.x,
                 obb_max.y - obb_min.y, obb_max.z - obb_min.z, "OBB");
  viewer.setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_REPRESENTATION,
                                     pcl::visualization::PCL_VISUALIZER_REPRESENTATION_WIREFRAME,
                                     "OBB");

  const pcl::PointXYZ& aabb_min = estimator.aabb_min_point_;
  const pcl::PointXYZ& aabb_max = estimator.aabb_max_point_;
  viewer.addCube(aabb_min.x, aabb_max.x, aabb_min.y, aabb_max.y, aabb_min.z, aabb_max.z, 1.0,
                 0.0, 0.0, "AABB");
  viewer.setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_REPRESENTATION,
                                     pcl::visualization::PCL_VISUALIZER_REPRESENTATION_WIREFRAME,
                                     "AABB");

  const GrabPoseEstimate::CloudPtr plane = planeMarker();
  const PointCloudColorHandlerCustom<pcl::PointXYZ> plane_colour(plane, 255, 0, 255);
  viewer.addPointCloud<pcl::PointXYZ>(plane, plane_colour, "plane");
  viewer.setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, 10,
                                          "plane");

  // The footprint rectangle is drawn on the floor, where the object stands.
  const float floor_z = -estimator.base_height_;
  for (int i = 0; i < 4; ++i) {
    const cv::Point2f& a = estimator.rect_points_[i];
    const cv::Point2f& b = estimator.rect_points_[(i + 1) % 4];
    lines.rect[i] = {{a.x, a.y, floor_z}, {b.x, b.y, floor_z}};
    viewer.addLine(point(lines.rect[i].from), point(lines.rect[i].to), 0, 255, 0, rectId(i));
  }
  if (estimator.gripper_.enable && estimator.reason_ == litterpose::Reason::kFound)
    drawGripper(viewer, estimator);
  return lines;
}

void aimCamera(Visualizer& viewer, const GrabPoseEstimate& estimator) {
  const double floor_z = -estimator.base_height_;
  viewer.setCameraPosition(0.1, 0.55, 0.3,            // beside the arm, to its +y side, above
                           -0.35, 0.0, floor_z + 0.05,  // onto the middle of its reach on the floor
                           0.0, 0.0, 1.0);
}

}  // namespace litterview

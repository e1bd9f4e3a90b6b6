// A simulated depth camera: per-pixel rays cast against analytic solids resting on a
// floor, as the fixed camera of the arm sees them. Only what a real capture would
// deliver comes back: the visible surfaces, depth noise that grows with range, a few
// flying pixels, and the floor right around the object that segmentation leaves behind.
#ifndef LITTERPOSE_TOOLS_CAPTURE_SIM_DEPTH_CAMERA_H
#define LITTERPOSE_TOOLS_CAPTURE_SIM_DEPTH_CAMERA_H

#include <optional>
#include <vector>

#include <Eigen/Dense>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace capture_sim {

struct Ray {
  Eigen::Vector3d origin;
  Eigen::Vector3d direction;  // not necessarily unit length; hits are ray parameters
};

// A cuboid turned about the vertical axis.
struct Box {
  Eigen::Vector3d centre;
  double yaw = 0.0;  // radians about +z
  Eigen::Vector3d half_size;
};

// A capped solid cylinder in any orientation.
struct Cylinder {
  Eigen::Vector3d centre;
  Eigen::Vector3d axis;  // unit
  double radius = 0.0;
  double half_length = 0.0;
};

// One piece of litter, built from solids.
struct Object {
  std::vector<Box> boxes;
  std::vector<Cylinder> cylinders;
};

// Nearest hit with t > 0, as the ray parameter.
std::optional<double> intersect(const Ray& ray, const Box& box);
std::optional<double> intersect(const Ray& ray, const Cylinder& cylinder);
std::optional<double> intersect(const Ray& ray, const Object& object);

// Horizontal distance from (x, y) to the object's vertical shadow on the floor; 0 inside.
double footprintDistance(const Eigen::Vector2d& xy, const Object& object);

struct Camera {
  double fx = 0, fy = 0, cx = 0, cy = 0;
  int width = 640;
  int height = 480;
  Eigen::Matrix4d camera_to_base = Eigen::Matrix4d::Identity();

  // Ray through the centre of pixel (u, v), in the base frame, its direction scaled so
  // that the ray parameter is the depth along the optical axis.
  Ray pixelRay(int u, int v) const;
};

struct CaptureOptions {
  double floor_z = -0.176;          // base frame
  double depth_noise_per_m2 = 0.001;  // depth sigma = this * depth^2, metres
  int outliers = 3;                 // flying pixels, displaced along their ray
  double outlier_min = 0.01;
  double outlier_max = 0.04;
  double floor_margin = 0.02;       // floor kept this far around the footprint
  unsigned seed = 1;
};

// The object's cloud as the camera reports it: camera frame (x right, y down, z forward),
// unorganised, metres.
pcl::PointCloud<pcl::PointXYZ> capture(const Camera& camera, const Object& object,
                                       const CaptureOptions& options);

}  // namespace capture_sim

#endif

// A simulated depth camera: per-pixel rays cast against analytic solids resting on a
// floor, as the fixed camera of the arm sees them. Only what a real capture would
// deliver comes back: the visible surfaces, depth noise that grows with range, a few
// flying pixels, and the floor right around the object that segmentation leaves behind.
#ifndef LITTERPOSE_TOOLS_CAPTURE_SIM_DEPTH_CAMERA_H
#define LITTERPOSE_TOOLS_CAPTURE_SIM_DEPTH_CAMERA_H

#include <optional>
#include <utility>
#include <vector>

#include <Eigen/Dense>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <litterpose.h>

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

// A capped solid cylinder in any orientation; with a wall, a cup open at the +axis end.
struct Cylinder {
  Eigen::Vector3d centre;
  Eigen::Vector3d axis;  // unit
  double radius = 0.0;
  double half_length = 0.0;
  double wall = 0.0;  // > 0: hollow, open at the +axis end, its wall and bottom this thick
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

// Whether the point lies in the material of one of the object's solids (surfaces included;
// a cup's inside is not its material).
bool inside(const Eigen::Vector3d& p, const Object& object);

// Horizontal distance from (x, y) to the object's vertical shadow on the floor; 0 inside.
double footprintDistance(const Eigen::Vector2d& xy, const Object& object);

// Axis-aligned box around the object's solids, base frame.
struct Bounds {
  Eigen::Vector3d low;
  Eigen::Vector3d high;
};
Bounds bounds(const Object& object);

// Least and greatest value of direction . p over the points p of the object's solids.
std::pair<double, double> extent(const Object& object, const Eigen::Vector3d& direction);

// A smooth random relief of the floor: a sum of plane waves, no height beyond the sum of
// their amplitudes.
struct Roughness {
  struct Wave {
    Eigen::Vector2d k = Eigen::Vector2d::Zero();  // wave vector, radians per metre
    double amplitude = 0.0;
    double phase = 0.0;
  };
  std::vector<Wave> waves;  // none: a flat floor

  double amplitude() const;  // the greatest height it can reach above or below the floor
  double height(const Eigen::Vector2d& xy) const;
};

// Ray parameter of the first point where the ray meets the floor z = floor_z +
// relief.height(x, y), if it does in front of its origin.
std::optional<double> floorHit(const Ray& ray, double floor_z, const Roughness& relief);

struct Camera {
  double fx = 0, fy = 0, cx = 0, cy = 0;
  int width = 640;
  int height = 480;
  Eigen::Matrix4d camera_to_base = Eigen::Matrix4d::Identity();

  // Ray through the centre of pixel (u, v), in the base frame, its direction scaled so
  // that the ray parameter is the depth along the optical axis.
  Ray pixelRay(int u, int v) const;

  // Pixel coordinates (u, v) and depth of a base-frame point; the depth is not positive
  // for a point behind the camera.
  Eigen::Vector3d project(const Eigen::Vector3d& base_point) const;
};

// The camera as the estimator read it from its configuration (intrinsics and mounting),
// with the default image size.
Camera cameraOf(const GrabPoseEstimate& estimator);

struct CaptureOptions {
  double floor_z = -0.176;          // base frame
  double depth_noise_per_m2 = 0.001;  // depth sigma = this * depth^2, metres
  int outliers = 3;                 // flying pixels, displaced along their ray
  double outlier_min = 0.01;
  double outlier_max = 0.04;
  double floor_margin = 0.02;       // floor kept this far around the footprint
  unsigned seed = 1;
  Roughness roughness;              // of the floor about floor_z; none by default

  // Artefacts of real captures, all off by default. They draw from a random stream of
  // their own, so that switching one on leaves the noise of every other pixel as it was.

  // A segmentation mask drawn too wide: floor pixels within band_width of the object's
  // outline in the image (metres across the ray at the floor pixel's depth), each kept
  // with probability band_density.
  double band_width = 0.0;
  double band_density = 1.0;
  // Share of the object's depth-edge pixels (next to a background pixel more than
  // kMixedPixelStep farther away) whose depth is a random mix of the two: the flying
  // pixels that time-of-flight and stereo cameras give at depth edges.
  double mixed_pixel_share = 0.0;
  // Share of the points moved along their ray by a normal distance of sigma
  // outlier_sigma; those pushed away from the camera may end below the floor.
  double outlier_share = 0.0;
  double outlier_sigma = 0.02;
  // Depth delivered in steps of this size (a 16-bit millimetre depth image: 0.001).
  double depth_step = 0.0;
  // Share of the object's pixels missing from the mask, all on one side of a line through
  // the object in the image (a segmentation that misses part of the object).
  double mask_drop_share = 0.0;
};

// Depth difference across an edge that mixes pixels.
inline constexpr double kMixedPixelStep = 0.01;

// Inclusive pixel rectangle.
struct PixelWindow {
  int u0 = 0, v0 = 0, u1 = -1, v1 = -1;
};

// The pixels a capture must look at: every pixel whose ray can meet the object, the floor
// within floor_margin of its footprint, or the floor band around its outline. The whole
// image when part of the object lies behind the camera.
PixelWindow pixelsNear(const Camera& camera, const Object& object, const CaptureOptions& options);

// The object's cloud as the camera reports it: camera frame (x right, y down, z forward),
// unorganised, metres.
pcl::PointCloud<pcl::PointXYZ> capture(const Camera& camera, const Object& object,
                                       const CaptureOptions& options);

// How many points of the object itself (not of the floor) that capture delivers.
int objectPoints(const Camera& camera, const Object& object, const CaptureOptions& options);

}  // namespace capture_sim

#endif

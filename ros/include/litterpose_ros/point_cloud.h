// A sensor_msgs/PointCloud2 as the estimator's cloud: x, y and z (float32 or float64)
// become float coordinates, every other field is ignored, organised clouds keep their
// width and height, and points with non-number or infinite coordinates are kept as they
// are (the estimator leaves them out). A message whose layout does not hold together is
// refused with a reason instead of being read. A field's count beyond 1 is allowed: its
// first value is read.
#ifndef LITTERPOSE_ROS_POINT_CLOUD_H
#define LITTERPOSE_ROS_POINT_CLOUD_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <Eigen/Core>
#include <litterpose.h>
#include <sensor_msgs/PointCloud2.h>

namespace litterpose_ros {

// More points than a 1920 x 1080 depth frame is no view of one object; converting such a
// cloud would cost more memory than the board has to spare.
inline constexpr std::uint64_t kMaxCloudPoints = std::uint64_t{1} << 21;

struct ConvertedCloud {
  GrabPoseEstimate::CloudPtr cloud;  // null when the message was refused
  std::string error;                 // why it was refused
  std::size_t non_finite_points = 0;
};

ConvertedCloud toPclCloud(const sensor_msgs::PointCloud2& message);

// The cloud brought into another frame by the transform, each point read and transformed
// in double and narrowed to float after: a float64 cloud in a frame far from the base (UTM
// coordinates, millions of metres) keeps its millimetres, which float coordinates lose.
ConvertedCloud toPclCloud(const sensor_msgs::PointCloud2& message,
                          const Eigen::Matrix4d& transform);

// Whether x, y or z is a float64 field.
bool hasFloat64Coordinates(const sensor_msgs::PointCloud2& message);

}  // namespace litterpose_ros

#endif

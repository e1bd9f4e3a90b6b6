// Whether a serialized message holds what its length prefixes declare, checked before
// roscpp reads it. roscpp's generated readers size an array to its declared length before
// they find that the bytes are not there: a message of a few kilobytes that declares 10^8
// point fields or 4 GB of point data costs gigabytes and seconds before it is dropped.
// Each check walks the message with ros::serialization::IStream, allocating nothing in
// proportion to what is declared.
#ifndef LITTERPOSE_ROS_MESSAGE_LENGTHS_H
#define LITTERPOSE_ROS_MESSAGE_LENGTHS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <std_msgs/Header.h>

namespace litterpose_ros {

// The fewest bytes a serialized sensor_msgs/PointField takes: its name's length (of an
// empty name), offset, datatype and count.
inline constexpr std::size_t kLeastPointFieldBytes = 13;

struct LengthCheck {
  // Why the message cannot be read ("the request declares 100000000 point fields in 3712
  // bytes"); nothing when every length it declares fits in the bytes that follow it.
  std::optional<std::string> refusal;
  // What could be read before the fault: the header (of the message, or of the request's
  // cloud) and the ObjectCloud's trash type.
  std::optional<std_msgs::Header> header;
  std::optional<std::int32_t> trash_type;
};

// The serialized bytes of a sensor_msgs/PointCloud2, a litterpose_msgs/ObjectCloud and an
// EstimateGrasp request (without roscpp's length prefix).
LengthCheck checkPointCloud2(std::uint8_t* bytes, std::uint32_t size);
LengthCheck checkObjectCloud(std::uint8_t* bytes, std::uint32_t size);
LengthCheck checkEstimateGraspRequest(std::uint8_t* bytes, std::uint32_t size);

}  // namespace litterpose_ros

#endif

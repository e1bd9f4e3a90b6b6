// A message's serialized bytes, patched as a test likes and sent as they are: published
// under the message's type (its MD5 sum, name and definition), so that a subscriber takes
// them for that message, or sent as a service request through ServiceClient.
#ifndef LITTERPOSE_TESTS_SUPPORT_RAW_ROS_MESSAGE_H
#define LITTERPOSE_TESTS_SUPPORT_RAW_ROS_MESSAGE_H

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <ros/message_traits.h>
#include <ros/serialization.h>

namespace raw_ros_message {

template <typename M>
struct Raw {
  std::vector<std::uint8_t> bytes;

  // The uint32 at the offset (a length prefix) set to the value, as roscpp writes it.
  void patch(std::size_t offset, std::uint32_t value) {
    if (offset + sizeof value > bytes.size()) throw std::out_of_range("no uint32 at the offset");
    std::memcpy(&bytes[offset], &value, sizeof value);
  }
};

template <typename M>
Raw<M> serialized(const M& message) {
  Raw<M> raw;
  raw.bytes.resize(ros::serialization::serializationLength(message));
  ros::serialization::OStream stream(raw.bytes.data(),
                                     static_cast<std::uint32_t>(raw.bytes.size()));
  ros::serialization::serialize(stream, message);
  return raw;
}

}  // namespace raw_ros_message

namespace ros {
namespace message_traits {
template <typename M>
struct MD5Sum<raw_ros_message::Raw<M>> {
  static const char* value() { return MD5Sum<M>::value(); }
  static const char* value(const raw_ros_message::Raw<M>&) { return value(); }
};
template <typename M>
struct DataType<raw_ros_message::Raw<M>> {
  static const char* value() { return DataType<M>::value(); }
  static const char* value(const raw_ros_message::Raw<M>&) { return value(); }
};
template <typename M>
struct Definition<raw_ros_message::Raw<M>> {
  static const char* value() { return Definition<M>::value(); }
  static const char* value(const raw_ros_message::Raw<M>&) { return value(); }
};
}  // namespace message_traits

namespace serialization {
template <typename M>
struct Serializer<raw_ros_message::Raw<M>> {
  template <typename Stream>
  static void write(Stream& stream, const raw_ros_message::Raw<M>& raw) {
    std::memcpy(stream.advance(static_cast<std::uint32_t>(raw.bytes.size())), raw.bytes.data(),
                raw.bytes.size());
  }
  static std::uint32_t serializedLength(const raw_ros_message::Raw<M>& raw) {
    return static_cast<std::uint32_t>(raw.bytes.size());
  }
};
}  // namespace serialization
}  // namespace ros

#endif

// A message's serialized bytes, patched as a test likes and published as that message.
#ifndef LITTERPOSE_TESTS_SUPPORT_RAW_ROS_MESSAGE_H
#define LITTERPOSE_TESTS_SUPPORT_RAW_ROS_MESSAGE_H

#include <cstdint>
#include <cstring>
#include <vector>

#include <ros/message_traits.h>
#include <ros/serialization.h>

namespace raw_ros_message {

template <typename M>
struct Raw {
  std::vector<std::uint8_t> bytes;
  void patch(std::size_t offset, std::uint32_t value) {  // a length prefix, as roscpp writes it
    std::memcpy(&bytes.at(offset), &value, sizeof value);
  }
};

template <typename M>
Raw<M> serialized(const M& message) {
  Raw<M> raw{std::vector<std::uint8_t>(ros::serialization::serializationLength(message))};
  ros::serialization::OStream stream(raw.bytes.data(),
                                     static_cast<std::uint32_t>(raw.bytes.size()));
  ros::serialization::serialize(stream, message);
  return raw;
}

}  // namespace raw_ros_message

namespace ros::message_traits {
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
};
}  // namespace ros::message_traits

namespace ros::serialization {
template <typename M>
struct Serializer<raw_ros_message::Raw<M>> {
  template <typename Stream>
  static void write(Stream& stream, const raw_ros_message::Raw<M>& raw) {
    std::memcpy(stream.advance(serializedLength(raw)), raw.bytes.data(), raw.bytes.size());
  }
  static std::uint32_t serializedLength(const raw_ros_message::Raw<M>& raw) {
    return static_cast<std::uint32_t>(raw.bytes.size());
  }
};
}  // namespace ros::serialization

#endif

// A serialized message's declared lengths against its size: valid messages pass, each
// patched length is refused with what it declares, the header read before it kept.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include <litterpose_msgs/EstimateGrasp.h>
#include <litterpose_msgs/ObjectCloud.h>

#include "litterpose_ros/message_lengths.h"
#include "support/raw_ros_message.h"

namespace {

TEST(MessageLengths, RefusesEachLengthBeyondTheBytesThatFollowIt) {
  namespace ser = ros::serialization;
  litterpose_msgs::EstimateGrasp::Request request;  // starts with its cloud's bytes
  auto& cloud = request.cloud;
  cloud.header.stamp = ros::Time(5, 6);
  cloud.header.frame_id = "camera";
  cloud.fields.resize(3);  // unnamed: 13 bytes each
  cloud.data.assign(24, 0);
  request.entry = "main";
  litterpose_msgs::ObjectCloud object;
  std::tie(object.header.stamp, object.cloud) = std::make_tuple(ros::Time(7, 8), cloud);
  const std::size_t fields = ser::serializationLength(cloud.header) + 8, data = fields + 52,
                    in_object = ser::serializationLength(object.header) + 4,
                    entry = ser::serializationLength(request) - 8;

  enum Kind { kCloud, kObject, kRequest };
  const std::tuple<Kind, std::size_t, std::uint32_t, std::size_t, const char*, bool> cases[] = {
      // what is sent, the length patched, its value, bytes cut at the end, what is said,
      // whether the header is read
      {kCloud, 0, 0, 0, nullptr, true},
      {kObject, 0, 0, 0, nullptr, true},
      {kRequest, 0, 0, 0, nullptr, true},
      {kCloud, fields, 100000000, 0, "the message declares 100000000 point fields in 111 bytes",
       true},
      {kRequest, fields, 0xFFFFFFFF, 0, "the request declares 4294967295 point fields in", true},
      {kCloud, data, 25, 0, "the message of 111 bytes ends inside its is_dense flag", true},
      {kCloud, data, 26, 0, "declares 26 bytes of point data in 111 bytes", true},
      {kObject, in_object + data, 0xFFFFFFFF, 0, "declares 4294967295 bytes of point data", true},
      {kCloud, 12, 0xFFFFFFFF, 0, "the message declares a frame id of 4294967295 bytes", false},
      {kRequest, fields + 4, 1000, 0, "declares a point field name of 1000 bytes", true},
      {kRequest, entry, 0xFFFFFFFF, 0, "declares an entry name of 4294967295 bytes", true},
      {kObject, 0, 0, ser::serializationLength(object) - 10, "of 10 bytes ends inside its header",
       false},
      {kRequest, 0, 0, 12, "ends inside its trash type", true},
  };
  for (const auto& [kind, at, value, cut, said, header_read] : cases) {
    auto raw = kind == kCloud    ? raw_ros_message::serialized(cloud).bytes
               : kind == kObject ? raw_ros_message::serialized(object).bytes
                                 : raw_ros_message::serialized(request).bytes;
    if (at > 0) std::memcpy(&raw.at(at), &value, sizeof value);
    raw.resize(raw.size() - cut);
    const auto check = (kind == kCloud    ? litterpose_ros::checkPointCloud2
                        : kind == kObject ? litterpose_ros::checkObjectCloud
                                          : litterpose_ros::checkEstimateGraspRequest)(
        raw.data(), static_cast<std::uint32_t>(raw.size()));
    const std::string what = std::to_string(kind) + " at " + std::to_string(at);
    const std::string refusal = check.refusal.value_or("(readable)");
    if (said == nullptr) {
      EXPECT_FALSE(check.refusal) << what << ": " << refusal;
    } else {
      EXPECT_NE(refusal.find(said), std::string::npos) << what << ": " << refusal;
    }
    ASSERT_EQ(check.header.has_value(), header_read) << what;
    if (header_read) {
      EXPECT_EQ(check.header->stamp, kind == kObject ? object.header.stamp : cloud.header.stamp);
    }
    EXPECT_EQ(check.trash_type.has_value(), kind == kObject && header_read) << what;
  }
}

}  // namespace

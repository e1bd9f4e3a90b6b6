// A serialized message's declared lengths against its size: valid messages pass, each
// patched length is refused with what it declares, and what came before it is kept.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <litterpose_msgs/EstimateGrasp.h>
#include <litterpose_msgs/ObjectCloud.h>
#include <ros/serialization.h>

#include "litterpose_ros/message_lengths.h"

namespace {

namespace ser = ros::serialization;
using litterpose_ros::LengthCheck;
using sensor_msgs::PointCloud2;

template <typename M>
std::vector<std::uint8_t> serialized(const M& message) {
  std::vector<std::uint8_t> bytes(ser::serializationLength(message));
  ser::OStream stream(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  ser::serialize(stream, message);
  return bytes;
}

PointCloud2 twoPoints() {
  PointCloud2 cloud;
  cloud.header.stamp = ros::Time(5, 6);
  cloud.header.frame_id = "camera";
  for (const char* name : {"x", "y", "z"}) {
    sensor_msgs::PointField field;
    field.name = name;
    field.offset = 4 * static_cast<std::uint32_t>(cloud.fields.size());
    field.datatype = sensor_msgs::PointField::FLOAT32;
    field.count = 1;
    cloud.fields.push_back(field);
  }
  cloud.width = 2;
  cloud.height = 1;
  cloud.point_step = 12;
  cloud.row_step = 24;
  cloud.data.assign(24, 0);
  return cloud;
}

// Where a cloud's lengths sit in its bytes: the fields' count after the header, height and
// width; a field's name at its start; the data's after is_bigendian, point_step, row_step.
std::size_t fieldsAt(const PointCloud2& c) { return ser::serializationLength(c.header) + 8; }
std::size_t dataAt(const PointCloud2& c) {
  std::size_t at = fieldsAt(c) + 4;
  for (const auto& f : c.fields) at += ser::serializationLength(f);
  return at + 9;
}

enum class Kind { cloud, object, request };

TEST(MessageLengths, RefusesEachLengthBeyondTheBytesThatFollowIt) {
  const PointCloud2 cloud = twoPoints();
  litterpose_msgs::ObjectCloud object;
  object.header.stamp = ros::Time(7, 8);
  object.trash_type = 2;
  object.cloud = cloud;
  litterpose_msgs::EstimateGrasp::Request request;
  request.cloud = cloud;
  request.entry = "main";
  const std::size_t in_object = ser::serializationLength(object.header) + 4;
  const std::size_t entry_at = ser::serializationLength(request) - 4 - request.entry.size();

  struct Case {
    const char* what;
    Kind kind;
    std::size_t at;          // the length patched
    std::uint32_t value;
    std::size_t cut;         // bytes left out at the end
    const char* said;        // nullptr: readable
    bool header_read;
  };
  const Case cases[] = {
      {"a valid cloud", Kind::cloud, 0, 0, 0, nullptr, true},
      {"a valid object", Kind::object, 0, 0, 0, nullptr, true},
      {"a valid request", Kind::request, 0, 0, 0, nullptr, true},
      {"10^8 fields", Kind::cloud, fieldsAt(cloud), 100000000, 0,
       "the message declares 100000000 point fields in 114 bytes", true},
      {"2^32 - 1 fields", Kind::request, fieldsAt(cloud), 0xFFFFFFFF, 0,
       "the request declares 4294967295 point fields in", true},
      // Four fields of 13 bytes fit in the bytes after the count; the fourth is read from
      // is_bigendian (0), point_step (12) and row_step: a name of 12 << 8 bytes.
      {"one field more", Kind::cloud, fieldsAt(cloud), 4, 0,
       "the message declares a point field name of 3072 bytes in 114 bytes", true},
      {"data of 2^32 - 1 bytes", Kind::object, in_object + dataAt(cloud), 0xFFFFFFFF, 0,
       "the message declares 4294967295 bytes of point data in", true},
      {"data taking the is_dense flag", Kind::cloud, dataAt(cloud), 25, 0,
       "the message of 114 bytes ends inside its is_dense flag", true},
      {"data one byte beyond the message", Kind::cloud, dataAt(cloud), 26, 0,
       "declares 26 bytes of point data", true},
      {"a frame id of 2^32 - 1 bytes", Kind::cloud, 12, 0xFFFFFFFF, 0,
       "the message declares a frame id of 4294967295 bytes", false},
      {"a field name of 1000 bytes", Kind::request, fieldsAt(cloud) + 4, 1000, 0,
       "a point field name of 1000 bytes", true},
      {"an entry name of 2^32 - 1 bytes", Kind::request, entry_at, 0xFFFFFFFF, 0,
       "an entry name of 4294967295 bytes", true},
      {"an object cut in its header", Kind::object, 0, 0, ser::serializationLength(object) - 10,
       "the message of 10 bytes ends inside its header", false},
      {"a request cut before its trash type", Kind::request, 0, 0, 4 + 4 + request.entry.size(),
       "ends inside its trash type", true},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = c.kind == Kind::cloud    ? serialized(cloud)
                                      : c.kind == Kind::object ? serialized(object)
                                                               : serialized(request);
    if (c.at > 0) std::memcpy(&bytes[c.at], &c.value, sizeof c.value);  // little-endian host
    bytes.resize(bytes.size() - c.cut);
    const auto size = static_cast<std::uint32_t>(bytes.size());
    const auto checker = c.kind == Kind::cloud    ? litterpose_ros::checkPointCloud2
                         : c.kind == Kind::object ? litterpose_ros::checkObjectCloud
                                                  : litterpose_ros::checkEstimateGraspRequest;
    const LengthCheck check = checker(bytes.data(), size);
    if (c.said == nullptr) {
      EXPECT_FALSE(check.refusal) << c.what << ": " << check.refusal.value_or("");
    } else {
      ASSERT_TRUE(check.refusal) << c.what;
      EXPECT_NE(check.refusal->find(c.said), std::string::npos)
          << c.what << ": '" << *check.refusal << "' does not say '" << c.said << "'";
    }
    ASSERT_EQ(check.header.has_value(), c.header_read) << c.what;
    const ros::Time stamp = c.kind == Kind::object ? object.header.stamp : cloud.header.stamp;
    if (c.header_read) {
      EXPECT_EQ(check.header->stamp, stamp) << c.what;
    }
    EXPECT_EQ(check.trash_type.has_value(), c.kind == Kind::object && c.header_read) << c.what;
  }
}

}  // namespace

// PointCloud2 to the estimator's cloud: what is read, what is ignored, what is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <pcl_conversions/pcl_conversions.h>
#include <sensor_msgs/PointField.h>

#include "litterpose_ros/point_cloud.h"

namespace {

using litterpose_ros::toPclCloud;
using sensor_msgs::PointCloud2;
using sensor_msgs::PointField;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Field {
  std::string name;
  std::uint32_t offset;
  std::uint8_t datatype;
};

// A message with the given layout and all data bytes 0x5a.
PointCloud2 layout(const std::vector<Field>& fields, std::uint32_t point_step,
                   std::uint32_t width, std::uint32_t height, std::uint32_t row_padding = 0) {
  PointCloud2 m;
  for (const Field& f : fields) {
    PointField field;
    field.name = f.name;
    field.offset = f.offset;
    field.datatype = f.datatype;
    field.count = 1;
    m.fields.push_back(field);
  }
  m.point_step = point_step;
  m.width = width;
  m.height = height;
  m.row_step = width * point_step + row_padding;
  m.data.assign(std::size_t{m.row_step} * height, 0x5a);
  return m;
}

template <typename T>
void put(PointCloud2& m, std::uint32_t row, std::uint32_t column, std::uint32_t offset, T value) {
  std::memcpy(&m.data[row * m.row_step + column * m.point_step + offset], &value, sizeof value);
}

std::vector<Field> float32Xyz() {
  return {{"x", 0, PointField::FLOAT32}, {"y", 4, PointField::FLOAT32},
          {"z", 8, PointField::FLOAT32}};
}

// Fields of another type, in the order PCL writes them, are ignored; the cloud keeps its
// organisation, and a point without a measurement stays one.
TEST(PointCloudConversion, TakesXyzOfAnOrganisedPclCloudWithOtherFields) {
  pcl::PointCloud<pcl::PointXYZI> source(3, 2);
  for (std::size_t i = 0; i < source.size(); ++i)
    source[i] = pcl::PointXYZI(0.1f * i - 0.2f, 0.03f * i, 1.0f - 0.25f * i, 100.0f + i);
  source[4].x = source[4].y = source[4].z = kNaN;
  source.is_dense = false;
  PointCloud2 message;
  pcl::toROSMsg(source, message);
  ASSERT_EQ(message.fields.size(), 4u);

  const auto converted = toPclCloud(message);
  ASSERT_TRUE(converted.cloud) << converted.error;
  const auto& cloud = *converted.cloud;
  EXPECT_EQ(cloud.width, 3u);
  EXPECT_EQ(cloud.height, 2u);
  ASSERT_EQ(cloud.size(), 6u);
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    if (i == 4) continue;
    EXPECT_EQ(cloud[i].x, source[i].x) << i;
    EXPECT_EQ(cloud[i].y, source[i].y) << i;
    EXPECT_EQ(cloud[i].z, source[i].z) << i;
  }
  EXPECT_TRUE(std::isnan(cloud[4].x) && std::isnan(cloud[4].y) && std::isnan(cloud[4].z));
  EXPECT_EQ(converted.non_finite_points, 1u);
  EXPECT_FALSE(cloud.is_dense);
}

// float64 coordinates at unaligned offsets behind a byte field, rows with padding; values
// beyond float's range are infinite, and the cloud says it is not dense.
TEST(PointCloudConversion, ReadsFloat64CoordinatesAtAnyOffset) {
  PointCloud2 m = layout({{"ring", 0, PointField::UINT8}, {"z", 1, PointField::FLOAT64},
                          {"x", 9, PointField::FLOAT64}, {"y", 17, PointField::FLOAT64}},
                         25, 2, 2, 3);
  const double values[4][3] = {
      {0.1, -0.25, 1.5}, {-0.375, 2.0, 0.001}, {1e300, 0.5, 0.5}, {0.5, -1e300, 0.5}};
  for (std::uint32_t i = 0; i < 4; ++i) {
    put(m, i / 2, i % 2, 9, values[i][0]);
    put(m, i / 2, i % 2, 17, values[i][1]);
    put(m, i / 2, i % 2, 1, values[i][2]);
  }

  const auto converted = toPclCloud(m);
  ASSERT_TRUE(converted.cloud) << converted.error;
  const auto& cloud = *converted.cloud;
  ASSERT_EQ(cloud.size(), 4u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(cloud[i].x, static_cast<float>(values[i][0]));
    EXPECT_EQ(cloud[i].y, static_cast<float>(values[i][1]));
    EXPECT_EQ(cloud[i].z, static_cast<float>(values[i][2]));
  }
  EXPECT_EQ(cloud[2].x, std::numeric_limits<float>::infinity());
  EXPECT_EQ(cloud[3].y, -std::numeric_limits<float>::infinity());
  EXPECT_EQ(converted.non_finite_points, 2u);
  EXPECT_FALSE(cloud.is_dense);
}

TEST(PointCloudConversion, AnEmptyCloudIsAnEmptyCloud) {
  const auto converted = toPclCloud(layout(float32Xyz(), 12, 0, 0));
  ASSERT_TRUE(converted.cloud) << converted.error;
  EXPECT_TRUE(converted.cloud->empty());
}

// Each refusal names what is wrong; the message's data is never read.
TEST(PointCloudConversion, RefusesMessagesThatCannotBeReadSafely) {
  struct Case {
    const char* what;
    PointCloud2 message;
    std::vector<std::string> said;
  };
  std::vector<Case> cases;
  cases.push_back({"no z", layout({{"x", 0, PointField::FLOAT32}, {"y", 4, PointField::FLOAT32},
                                   {"intensity", 8, PointField::FLOAT32}}, 12, 4, 1),
                   {"no z field", "fields present: x, y, intensity"}});
  cases.push_back({"no fields", layout({}, 12, 4, 1), {"no x, y, z fields", "fields present: none"}});
  cases.push_back({"integer x", layout({{"x", 0, PointField::INT16}, {"y", 2, PointField::INT16},
                                        {"z", 4, PointField::INT16}}, 6, 4, 1),
                   {"field x is int16"}});
  cases.push_back({"point step shorter than the z field", layout(float32Xyz(), 10, 4, 1),
                   {"field z at offset 8", "10 bytes"}});
  {
    PointCloud2 m = layout(float32Xyz(), 16, 4, 2);
    m.row_step = 48;  // four points need 64 bytes
    m.data.resize(96);
    cases.push_back({"row step shorter than a row", m, {"row step of 48 bytes"}});
  }
  {
    PointCloud2 m = layout(float32Xyz(), 16, 4, 2);
    m.data.resize(m.data.size() - 1);
    cases.push_back({"data one byte short", m, {"holds 127 bytes", "2 rows of 64 bytes"}});
  }
  {
    PointCloud2 m = layout(float32Xyz(), 16, 4, 2);
    m.data.resize(m.data.size() + 16);
    cases.push_back({"data longer than its rows", m, {"holds 144 bytes"}});
  }
  {
    PointCloud2 m = layout(float32Xyz(), 16, 0, 0);
    m.width = 65536;  // 2^32 points: no 32-bit product may wrap to a small count
    m.height = 65536;
    cases.push_back({"width x height beyond 32 bits", m, {"4294967296 points", "more than"}});
  }
  {
    PointCloud2 m = layout(float32Xyz(), 16, 0, 1);
    m.width = static_cast<std::uint32_t>(litterpose_ros::kMaxCloudPoints + 1);
    m.row_step = m.width * 16;
    cases.push_back({"more points than a depth frame", m, {"more than"}});
  }
  {
    PointCloud2 m = layout(float32Xyz(), 16, 4, 1);
    m.is_bigendian = true;
    cases.push_back({"big-endian data", m, {"big-endian"}});
  }

  for (const Case& c : cases) {
    const auto converted = toPclCloud(c.message);
    EXPECT_FALSE(converted.cloud) << c.what;
    for (const std::string& text : c.said)
      EXPECT_NE(converted.error.find(text), std::string::npos)
          << c.what << ": '" << converted.error << "' does not say '" << text << "'";
  }
}

}  // namespace

// PointCloud2 to the estimator's cloud: what is read, what is ignored, what is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Geometry>
#include <sensor_msgs/PointField.h>

#include "litterpose_ros/point_cloud.h"

namespace {

using litterpose_ros::toPclCloud;
using sensor_msgs::PointCloud2;
using sensor_msgs::PointField;

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

// An organised cloud (2 x 2, rows padded) of float64 coordinates at unaligned offsets
// behind a byte field: other fields ignored, a point without a measurement kept as one,
// values beyond float's range infinite, and the cloud not dense.
TEST(PointCloudConversion, ReadsFloat64CoordinatesOfAnOrganisedCloudAtAnyOffset) {
  PointCloud2 m = layout({{"ring", 0, PointField::UINT8}, {"z", 1, PointField::FLOAT64},
                          {"x", 9, PointField::FLOAT64}, {"y", 17, PointField::FLOAT64}},
                         25, 2, 2, 3);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double values[4][3] = {{0.1, -0.25, 1.5}, {nan, nan, nan}, {1e300, 0.5, 0.5}, {0.5, -1e300, 0.5}};
  for (std::uint32_t i = 0; i < 4; ++i) {
    put(m, i / 2, i % 2, 9, values[i][0]);
    put(m, i / 2, i % 2, 17, values[i][1]);
    put(m, i / 2, i % 2, 1, values[i][2]);
  }

  const auto converted = toPclCloud(m);
  ASSERT_TRUE(converted.cloud) << converted.error;
  const auto& cloud = *converted.cloud;
  EXPECT_EQ(cloud.width, 2u);
  EXPECT_EQ(cloud.height, 2u);
  ASSERT_EQ(cloud.size(), 4u);
  EXPECT_EQ(cloud[0].x, 0.1f);
  EXPECT_EQ(cloud[0].y, -0.25f);
  EXPECT_EQ(cloud[0].z, 1.5f);
  EXPECT_TRUE(std::isnan(cloud[1].x) && std::isnan(cloud[1].y) && std::isnan(cloud[1].z));
  EXPECT_EQ(cloud[2].x, std::numeric_limits<float>::infinity());
  EXPECT_EQ(cloud[3].y, -std::numeric_limits<float>::infinity());
  EXPECT_EQ(converted.non_finite_points, 3u);
  EXPECT_FALSE(cloud.is_dense);
}

// Each refusal names what is wrong; the message's data is never read.
TEST(PointCloudConversion, RefusesMessagesThatCannotBeReadSafely) {
  struct Case {
    const char* what;
    PointCloud2 message;
    std::vector<std::string> said;
  };
  const auto with = [](PointCloud2 m, auto change) {
    change(m);
    return m;
  };
  const PointCloud2 good = layout(float32Xyz(), 16, 4, 2);
  const Case cases[] = {
      {"no z", layout({{"x", 0, PointField::FLOAT32}, {"y", 4, PointField::FLOAT32},
                       {"intensity", 8, PointField::FLOAT32}}, 12, 4, 1),
       {"no z field", "fields present: x, y, intensity"}},
      {"integer x", layout({{"x", 0, PointField::INT16}, {"y", 2, PointField::INT16},
                            {"z", 4, PointField::INT16}}, 6, 4, 1),
       {"field x is int16"}},
      {"point step shorter than the z field", layout(float32Xyz(), 10, 4, 1),
       {"field z at offset 8", "10 bytes"}},
      {"row step shorter than a row",
       with(good, [](PointCloud2& m) { m.row_step = 48; m.data.resize(96); }),
       {"row step of 48 bytes"}},
      {"data one byte short", with(good, [](PointCloud2& m) { m.data.pop_back(); }),
       {"holds 127 bytes", "2 rows of 64 bytes"}},
      // 2^32 points: no 32-bit product may wrap to a small count.
      {"width x height beyond 32 bits",
       with(good, [](PointCloud2& m) { m.width = m.height = 65536; }),
       {"4294967296 points", "more than"}},
      {"big-endian data", with(good, [](PointCloud2& m) { m.is_bigendian = true; }),
       {"big-endian"}},
      {"y of count 0", with(good, [](PointCloud2& m) { m.fields[1].count = 0; }),
       {"field y has a count of 0"}},
  };

  for (const Case& c : cases) {
    const auto converted = toPclCloud(c.message);
    EXPECT_FALSE(converted.cloud) << c.what;
    for (const std::string& text : c.said)
      EXPECT_NE(converted.error.find(text), std::string::npos)
          << c.what << ": '" << converted.error << "' does not say '" << text << "'";
  }
}

// No points, whatever rows are declared (a few bytes may declare four billion of them):
// an empty cloud, at once.
TEST(PointCloudConversion, ACloudOfNoPointsIsEmptyWhateverItsRows) {
  for (const auto& [width, height] : {std::pair{0u, 4000000000u}, std::pair{640u, 0u}}) {
    const PointCloud2 m = layout(float32Xyz(), 16, width, height);
    const auto converted = toPclCloud(m);
    ASSERT_TRUE(converted.cloud) << converted.error;
    EXPECT_TRUE(converted.cloud->empty());
    EXPECT_EQ(converted.cloud->width, 0u);
    EXPECT_EQ(converted.cloud->height, 1u);
  }
}

// Brought into the base frame from a frame millions of metres away (UTM coordinates), a
// float64 point keeps its millimetres (float has half a metre's resolution out there): it
// lands where the same point given in the camera frame lands.
TEST(PointCloudConversion, TransformsFloat64CoordinatesOfAFarFrameInDouble) {
  const Eigen::Vector3d in_camera(0.1, -0.2, 0.45);
  const Eigen::Affine3d camera_to_base(Eigen::AngleAxisd(2.0, Eigen::Vector3d(0.6, 0.8, 0.0)));
  for (const Eigen::Vector3d& shift : {Eigen::Vector3d(0, 0, 0), Eigen::Vector3d(4.5e5, 5.4e6, 30),
                                      Eigen::Vector3d(3e6, 9e6, -30)}) {
    PointCloud2 m = layout({{"x", 0, PointField::FLOAT64}, {"y", 8, PointField::FLOAT64},
                            {"z", 16, PointField::FLOAT64}}, 24, 1, 1);
    for (std::uint32_t k = 0; k < 3; ++k) put(m, 0, 0, 8 * k, in_camera[k] + shift[k]);
    const auto converted = toPclCloud(m, (camera_to_base * Eigen::Translation3d(-shift)).matrix());
    ASSERT_TRUE(converted.cloud) << converted.error;
    EXPECT_LT(((*converted.cloud)[0].getVector3fMap().cast<double>() - camera_to_base * in_camera)
                  .norm(), 1e-6) << shift.transpose();
  }
}

}  // namespace

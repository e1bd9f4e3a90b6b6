// Reading recorded clouds: PLY and PCD, coordinates stored as float or double, and the
// files that must be refused (missing coordinates, wrong types, truncated, not a cloud).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "cloud_file.h"
#include "support/estimator.h"
#include "tools/run_program.h"

namespace {

using Cloud = GrabPoseEstimate::Cloud;

// Coordinates that a float cannot hold exactly, and a non-number.
const std::vector<double> kCoordinates = {0.1,  -0.37, 0.45,  1.0 / 3.0, 2e-7, -12.5,
                                          -0.2, 0.25,  1e-40, 0.5,       -0.5, 7.0};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

template <typename T>
void append(std::string& bytes, T value) {
  bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A binary little-endian PLY of the coordinates, three per vertex, with the given property
// type ("float", "double", "int") and names; `cut` bytes are left off the end.
std::string writePly(const std::string& type, const std::vector<std::string>& names,
                     std::size_t cut = 0) {
  const std::size_t n = kCoordinates.size() / 3;
  std::string text = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                     std::to_string(n) + "\n";
  for (const auto& name : names) text += "property " + type + " " + name + "\n";
  text += "property uchar intensity\nend_header\n";
  for (std::size_t v = 0; v < n; ++v) {
    for (std::size_t k = 0; k < names.size(); ++k) {
      const double c = kCoordinates[3 * v + k % 3];
      if (type == "double") append(text, c);
      else if (type == "float") append(text, static_cast<float>(c));
      else append(text, static_cast<std::int32_t>(c));
    }
    append(text, static_cast<std::uint8_t>(v));
  }
  text.resize(text.size() - cut);
  const std::string path = run_program::scratchPath(type + ".ply");
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// A PCD of the coordinates, organised as 2 x 2, its last point a non-number.
std::string writePcd(const std::string& data, int size, std::size_t cut = 0) {
  std::string text = "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS x y z\n";
  text += "SIZE " + std::to_string(size) + " " + std::to_string(size) + " " +
          std::to_string(size) + "\nTYPE F F F\nCOUNT 1 1 1\nWIDTH 2\nHEIGHT 2\n"
          "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 4\nDATA " + data + "\n";
  for (std::size_t i = 0; i < kCoordinates.size(); ++i) {
    const double c = i >= 9 ? std::numeric_limits<double>::quiet_NaN() : kCoordinates[i];
    if (data == "ascii") {
      char number[40];
      std::snprintf(number, sizeof number, "%.17g", c);
      text += number;
      text += i % 3 == 2 ? "\n" : " ";
    } else if (size == 8) {
      append(text, c);
    } else {
      append(text, static_cast<float>(c));
    }
  }
  text.resize(text.size() - cut);
  const std::string path = run_program::scratchPath(data + std::to_string(size) + ".pcd");
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(ReadCloud, FloatAndDoubleCoordinatesOfPlyFiles) {
  for (const std::string type : {"float", "double"}) {
    SCOPED_TRACE(type);
    Cloud cloud;
    const auto error = litterpose_io::readCloud(writePly(type, {"x", "y", "z"}), cloud);
    ASSERT_FALSE(error) << *error;
    ASSERT_EQ(cloud.size(), 4u);
    for (std::size_t v = 0; v < cloud.size(); ++v) {
      // A float is kept bit for bit, a double rounded to the nearest float.
      const float expected[3] = {static_cast<float>(kCoordinates[3 * v]),
                                 static_cast<float>(kCoordinates[3 * v + 1]),
                                 static_cast<float>(kCoordinates[3 * v + 2])};
      EXPECT_EQ(std::memcmp(&cloud[v].x, expected, sizeof expected), 0) << "vertex " << v;
    }
    EXPECT_TRUE(cloud.is_dense);
  }
}

TEST(ReadCloud, PcdFilesKeepTheirOrganisationAndNonNumbers) {
  for (const auto& [data, size] :
       {std::pair{"ascii", 4}, std::pair{"binary", 4}, std::pair{"binary", 8}}) {
    SCOPED_TRACE(std::string(data) + " " + std::to_string(size));
    Cloud cloud;
    const auto error = litterpose_io::readCloud(writePcd(data, size), cloud);
    ASSERT_FALSE(error) << *error;
    ASSERT_EQ(cloud.size(), 4u);
    EXPECT_EQ(cloud.width, 2u);
    EXPECT_EQ(cloud.height, 2u);
    EXPECT_EQ(cloud[1].y, static_cast<float>(kCoordinates[4]));
    EXPECT_EQ(cloud[2].z, static_cast<float>(kCoordinates[8]));
    EXPECT_TRUE(std::isnan(cloud[3].x));
    EXPECT_FALSE(cloud.is_dense);
  }
}

TEST(ReadCloud, TheFormatIsTakenFromTheContentNotTheName) {
  const std::string ply = writePly("float", {"x", "y", "z"});
  const std::string misnamed = run_program::scratchPath("cloud.pcd");
  std::ofstream(misnamed, std::ios::binary) << run_program::slurp(ply);
  Cloud cloud;
  EXPECT_FALSE(litterpose_io::readCloud(misnamed, cloud));
  EXPECT_EQ(cloud.size(), 4u);
}

TEST(ReadCloud, FilesThatCannotServeAreRefusedWithTheReason) {
  const std::string not_a_cloud = run_program::scratchPath("notes.ply");
  std::ofstream(not_a_cloud) << "these are notes\n";
  const std::string empty = run_program::scratchPath("empty.ply");
  std::ofstream(empty).flush();
  const struct {
    std::string path;
    std::vector<std::string> reasons;
  } cases[] = {
      {writePly("float", {"x", "y"}), {"no vertex property z", "x, y, intensity"}},
      {writePly("float", {"a", "b", "c"}), {"no vertex properties x, y, z"}},
      {writePly("int", {"x", "y", "z"}), {"'x' is stored as int32"}},
      {writePly("float", {"x", "y", "z"}, 7), {"PLY file is truncated or malformed"}},
      {writePly("double", {"x", "y", "z"}, 30), {"PLY file is truncated or malformed"}},
      {writePcd("binary", 4, 5), {"PCD file is truncated or malformed"}},
      {writePcd("ascii", 4, 12), {"PCD file is truncated or malformed"}},
      {not_a_cloud, {"neither a PLY nor a PCD file"}},
      {empty, {"neither a PLY nor a PCD file"}},
      {testing::TempDir() + "no such cloud.ply", {"No such file or directory"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Cloud cloud;
    cloud.push_back(pcl::PointXYZ(1, 2, 3));
    const auto error = litterpose_io::readCloud(c.path, cloud);
    ASSERT_TRUE(error);
    EXPECT_TRUE(contains(*error, "'" + c.path + "'")) << *error;
    for (const auto& reason : c.reasons) EXPECT_TRUE(contains(*error, reason)) << *error;
    EXPECT_TRUE(cloud.empty());
  }
}

}  // namespace

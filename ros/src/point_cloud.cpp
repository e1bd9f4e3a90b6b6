#include "litterpose_ros/point_cloud.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include <Eigen/Core>

#include <sensor_msgs/PointField.h>

#include "litterpose_ros/untrusted_text.h"

namespace litterpose_ros {
namespace {

using sensor_msgs::PointField;

// Field names are listed up to this many; a message may carry any number of them.
constexpr std::size_t kMostNamesListed = 16;

struct Coordinate {
  std::uint32_t offset;
  std::uint8_t datatype;
};

std::size_t sizeOf(std::uint8_t datatype) { return datatype == PointField::FLOAT64 ? 8 : 4; }

const char* typeName(std::uint8_t datatype) {
  switch (datatype) {
    case PointField::INT8: return "int8";
    case PointField::UINT8: return "uint8";
    case PointField::INT16: return "int16";
    case PointField::UINT16: return "uint16";
    case PointField::INT32: return "int32";
    case PointField::UINT32: return "uint32";
    case PointField::FLOAT32: return "float32";
    case PointField::FLOAT64: return "float64";
    default: return "of unknown type";
  }
}

std::string fieldNames(const sensor_msgs::PointCloud2& message) {
  if (message.fields.empty()) return "none";
  std::string names;
  for (std::size_t i = 0; i < message.fields.size() && i < kMostNamesListed; ++i) {
    if (i > 0) names += ", ";
    names += printableExcerpt(message.fields[i].name);
  }
  if (message.fields.size() > kMostNamesListed)
    names += " and " + std::to_string(message.fields.size() - kMostNamesListed) + " more";
  return names;
}

const PointField* findField(const sensor_msgs::PointCloud2& message, const char* name) {
  for (const PointField& field : message.fields)
    if (field.name == name) return &field;
  return nullptr;
}

bool hostIsBigEndian() {
  const std::uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 0;
}

// A float64 beyond float's range becomes an infinity of its sign, as for any other
// coordinate that is no measurement, rather than an undefined conversion.
float narrow(double value) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  if (value > std::numeric_limits<float>::max()) return kInfinity;
  if (value < -std::numeric_limits<float>::max()) return -kInfinity;
  return static_cast<float>(value);
}

// Fields may sit at any offset, so they are copied out rather than dereferenced.
double readDouble(const std::uint8_t* point, const Coordinate& c) {
  if (c.datatype == PointField::FLOAT64) {
    double value;
    std::memcpy(&value, point + c.offset, sizeof value);
    return value;
  }
  float value;
  std::memcpy(&value, point + c.offset, sizeof value);
  return value;
}

// A float is read as it is: widened and narrowed again it keeps its value.
float read(const std::uint8_t* point, const Coordinate& c) { return narrow(readDouble(point, c)); }

// The x, y and z fields, or the reason the message's layout cannot be read.
std::optional<std::string> checkLayout(const sensor_msgs::PointCloud2& m,
                                       std::array<Coordinate, 3>& xyz) {
  const char* names[3] = {"x", "y", "z"};
  std::string missing;
  int missing_count = 0;
  for (int i = 0; i < 3; ++i) {
    const PointField* field = findField(m, names[i]);
    if (field == nullptr) {
      missing += missing.empty() ? names[i] : std::string(", ") + names[i];
      ++missing_count;
      continue;
    }
    if (field->count == 0)
      return std::string("field ") + names[i] + " has a count of 0: it holds no value";
    if (field->datatype != PointField::FLOAT32 && field->datatype != PointField::FLOAT64)
      return std::string("field ") + names[i] + " is " + typeName(field->datatype) +
             "; x, y and z must be float32 or float64";
    if (std::uint64_t{field->offset} + sizeOf(field->datatype) > m.point_step)
      return std::string("field ") + names[i] + " at offset " + std::to_string(field->offset) +
             " does not fit in a point of " + std::to_string(m.point_step) + " bytes";
    xyz[i] = {field->offset, field->datatype};
  }
  if (!missing.empty())
    return "the cloud has no " + missing + (missing_count > 1 ? " fields" : " field") +
           " (fields present: " + fieldNames(m) + ")";
  if ((m.is_bigendian != 0) != hostIsBigEndian())
    return std::string("the cloud's data is ") + (m.is_bigendian ? "big" : "little") +
           "-endian, this machine's is not";

  const std::uint64_t points = std::uint64_t{m.width} * m.height;
  if (points > kMaxCloudPoints)
    return "the cloud has " + std::to_string(points) + " points (" + std::to_string(m.width) +
           " x " + std::to_string(m.height) + "), more than " + std::to_string(kMaxCloudPoints);
  if (std::uint64_t{m.width} * m.point_step > m.row_step)
    return "a row of " + std::to_string(m.width) + " points of " + std::to_string(m.point_step) +
           " bytes does not fit in the row step of " + std::to_string(m.row_step) + " bytes";
  if (std::uint64_t{m.row_step} * m.height != m.data.size())
    return "the cloud's data holds " + std::to_string(m.data.size()) + " bytes, not " +
           std::to_string(m.height) + " rows of " + std::to_string(m.row_step) + " bytes";
  return std::nullopt;
}

// The cloud as it is, or by the transform.
ConvertedCloud convert(const sensor_msgs::PointCloud2& message, const Eigen::Matrix4d* transform) {
  ConvertedCloud converted;
  std::array<Coordinate, 3> xyz{};
  if (auto error = checkLayout(message, xyz)) {
    converted.error = std::move(*error);
    return converted;
  }

  auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
  const std::size_t points = std::size_t{message.width} * message.height;
  cloud->points.resize(points);
  // A cloud of no points is an empty one, whatever its rows: a message may declare billions
  // of empty rows in a few bytes, and walking them took seconds.
  const std::uint32_t rows = points > 0 ? message.height : 0;
  cloud->width = points > 0 ? message.width : 0;
  cloud->height = points > 0 ? message.height : 1;
  std::size_t i = 0;
  for (std::uint32_t row = 0; row < rows; ++row) {
    const std::uint8_t* point = message.data.data() + std::size_t{row} * message.row_step;
    for (std::uint32_t column = 0; column < message.width; ++column, point += message.point_step) {
      pcl::PointXYZ& p = cloud->points[i++];
      if (transform == nullptr) {
        p.x = read(point, xyz[0]);
        p.y = read(point, xyz[1]);
        p.z = read(point, xyz[2]);
      } else {
        const Eigen::Vector3d moved =
            transform->topLeftCorner<3, 3>() *
                Eigen::Vector3d(readDouble(point, xyz[0]), readDouble(point, xyz[1]),
                                readDouble(point, xyz[2])) +
            transform->topRightCorner<3, 1>();
        p.x = narrow(moved.x());
        p.y = narrow(moved.y());
        p.z = narrow(moved.z());
      }
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
        ++converted.non_finite_points;
    }
  }
  cloud->is_dense = converted.non_finite_points == 0;
  converted.cloud = std::move(cloud);
  return converted;
}

}  // namespace

ConvertedCloud toPclCloud(const sensor_msgs::PointCloud2& message) {
  return convert(message, nullptr);
}

ConvertedCloud toPclCloud(const sensor_msgs::PointCloud2& message,
                          const Eigen::Matrix4d& transform) {
  return convert(message, &transform);
}

bool hasFloat64Coordinates(const sensor_msgs::PointCloud2& message) {
  for (const char* name : {"x", "y", "z"}) {
    const PointField* field = findField(message, name);
    if (field != nullptr && field->datatype == PointField::FLOAT64) return true;
  }
  return false;
}

}  // namespace litterpose_ros

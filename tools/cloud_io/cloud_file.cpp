#include "cloud_file.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include <pcl/PCLPointCloud2.h>
#include <pcl/console/print.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>

namespace litterpose_io {
namespace {

enum class Format { ply, pcd, unknown };

// PLY files open with "ply"; PCD files with a "# .PCD" comment or their first keyword.
Format formatOf(const std::string& head) {
  if (head.rfind("ply", 0) == 0) return Format::ply;
  if (head.rfind("# .PCD", 0) == 0 || head.rfind("VERSION", 0) == 0 ||
      head.rfind("FIELDS", 0) == 0)
    return Format::pcd;
  return Format::unknown;
}

const char* typeName(std::uint8_t datatype) {
  switch (datatype) {
    case pcl::PCLPointField::INT8: return "int8";
    case pcl::PCLPointField::UINT8: return "uint8";
    case pcl::PCLPointField::INT16: return "int16";
    case pcl::PCLPointField::UINT16: return "uint16";
    case pcl::PCLPointField::INT32: return "int32";
    case pcl::PCLPointField::UINT32: return "uint32";
    case pcl::PCLPointField::FLOAT32: return "float";
    case pcl::PCLPointField::FLOAT64: return "double";
    default: return "an unknown type";
  }
}

// The library prints its own parse errors; the caller gets one message of ours instead.
class QuietLibrary {
public:
  QuietLibrary() : saved_(pcl::console::getVerbosityLevel()) {
    pcl::console::setVerbosityLevel(pcl::console::L_ALWAYS);
  }
  ~QuietLibrary() { pcl::console::setVerbosityLevel(saved_); }
  QuietLibrary(const QuietLibrary&) = delete;
  QuietLibrary& operator=(const QuietLibrary&) = delete;

private:
  pcl::console::VERBOSITY_LEVEL saved_;
};

// Reads one coordinate as float: a float is copied bit for bit, a double rounded.
float coordinate(const std::uint8_t* at, std::uint8_t datatype) {
  if (datatype == pcl::PCLPointField::FLOAT32) {
    float f;
    std::memcpy(&f, at, sizeof f);
    return f;
  }
  double d;
  std::memcpy(&d, at, sizeof d);
  return static_cast<float>(d);
}

}  // namespace

std::optional<std::string> readCloud(const std::string& path, GrabPoseEstimate::Cloud& cloud) {
  cloud.clear();
  const std::string prefix = "cannot read the cloud file '" + path + "': ";
  std::ifstream file(path, std::ios::binary);
  if (!file) return prefix + std::strerror(errno);
  std::string head(16, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  const Format format = formatOf(head);
  if (format == Format::unknown) return prefix + "neither a PLY nor a PCD file";
  const char* kind = format == Format::ply ? "PLY" : "PCD";

  pcl::PCLPointCloud2 raw;
  int status = 0;
  {
    const QuietLibrary quiet;
    status = format == Format::ply ? pcl::PLYReader().read(path, raw)
                                   : pcl::PCDReader().read(path, raw);
  }
  if (status < 0) return prefix + "the " + kind + " file is truncated or malformed";

  const bool ply = format == Format::ply;
  const pcl::PCLPointField* xyz[3] = {nullptr, nullptr, nullptr};
  std::string missing, found;
  for (const auto& field : raw.fields) {
    found += (found.empty() ? "" : ", ") + field.name;
    for (int axis = 0; axis < 3; ++axis)
      if (field.name == std::string(1, static_cast<char>('x' + axis))) xyz[axis] = &field;
  }
  for (int axis = 0; axis < 3; ++axis)
    if (xyz[axis] == nullptr) missing += (missing.empty() ? "" : ", ") + std::string(1, 'x' + axis);
  if (!missing.empty()) {
    const bool several = missing.size() > 1;
    const std::string what = ply ? (several ? "vertex properties " : "vertex property ")
                                 : (several ? "fields " : "field ");
    return prefix + "no " + what + missing + " (the points carry: " +
           (found.empty() ? "nothing" : found) + ")";
  }
  for (const auto* field : xyz) {
    const bool real = field->datatype == pcl::PCLPointField::FLOAT32 ||
                      field->datatype == pcl::PCLPointField::FLOAT64;
    if (!real || field->count != 1)
      return prefix + "'" + field->name + "' is stored as " +
             (real ? "a list" : typeName(field->datatype)) +
             "; x, y and z must each be one float or double";
    const std::size_t size = field->datatype == pcl::PCLPointField::FLOAT32 ? 4 : 8;
    if (field->offset + size > raw.point_step)
      return prefix + "the " + kind + " file is malformed ('" + field->name +
             "' lies outside the point)";
  }

  const std::uint64_t points = static_cast<std::uint64_t>(raw.width) * raw.height;
  if (raw.point_step == 0 && points > 0) return prefix + "the " + kind + " file is malformed";
  if (points > 0 && raw.data.size() / raw.point_step < points)
    return prefix + "the " + kind + " file is truncated";

  cloud.resize(static_cast<std::size_t>(points));
  bool dense = true;
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    const std::uint8_t* row = raw.data.data() + i * raw.point_step;
    pcl::PointXYZ& p = cloud[i];
    p.x = coordinate(row + xyz[0]->offset, xyz[0]->datatype);
    p.y = coordinate(row + xyz[1]->offset, xyz[1]->datatype);
    p.z = coordinate(row + xyz[2]->offset, xyz[2]->datatype);
    dense = dense && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
  }
  cloud.width = raw.width;
  cloud.height = raw.height;
  cloud.is_dense = dense;
  return std::nullopt;
}

std::optional<std::string> nonFiniteCalibration(const GrabPoseEstimate& e) {
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 4; ++col)
      if (!std::isfinite(e.camera_extrinsic_(row, col))) {
        std::ostringstream s;
        s << "the camera extrinsic holds a non-finite number (row " << row << ", column " << col
          << ": " << e.camera_extrinsic_(row, col) << ")";
        return s.str();
      }
  const std::pair<const char*, float> intrinsics[] = {
      {"fx", e.fx_}, {"fy", e.fy_}, {"cx", e.cx_}, {"cy", e.cy_}};
  for (const auto& [name, value] : intrinsics)
    if (!std::isfinite(value)) {
      std::ostringstream s;
      s << "the camera intrinsic " << name << " is not finite (" << value << ")";
      return s.str();
    }
  return std::nullopt;
}

}  // namespace litterpose_io

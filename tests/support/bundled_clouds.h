// The recorded clouds bundled in data/ (camera frame, PLY), for the tests that run the
// estimator, the programs or the node on all of them.
#ifndef LITTERPOSE_TESTS_SUPPORT_BUNDLED_CLOUDS_H
#define LITTERPOSE_TESTS_SUPPORT_BUNDLED_CLOUDS_H

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <pcl/io/ply_io.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace support {

inline std::string bundledCloudFolder() { return std::string(LITTERPOSE_SOURCE_DIR) + "/data"; }

// The full paths of data/*.ply, in name order.
inline std::vector<std::string> bundledCloudPaths() {
  std::vector<std::string> paths;
  for (const auto& f : std::filesystem::directory_iterator(bundledCloudFolder()))
    if (f.path().extension() == ".ply") paths.push_back(f.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The default cloud of the viewer and the documentation: a bottle lying 0.38 m ahead.
inline std::string defaultBundledCloudPath() {
  return bundledCloudFolder() + "/B001PA420231018-1[0].ply";
}

// The cloud of a file, in the camera frame; throws std::runtime_error when it cannot be read.
inline std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>> readBundledCloud(const std::string& path) {
  auto cloud = std::make_shared<pcl::PointCloud<pcl::PointXYZ>>();
  if (pcl::PLYReader().read(path, *cloud) < 0) throw std::runtime_error("cannot read " + path);
  return cloud;
}

}  // namespace support

#endif

// The recorded clouds bundled in data/ (camera frame, PLY).
#ifndef LITTERPOSE_TESTS_SUPPORT_BUNDLED_CLOUDS_H
#define LITTERPOSE_TESTS_SUPPORT_BUNDLED_CLOUDS_H

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <pcl/io/ply_io.h>

namespace support {

// Their full paths, in name order.
inline std::vector<std::string> bundledCloudPaths() {
  std::vector<std::string> paths;
  for (const auto& f : std::filesystem::directory_iterator(LITTERPOSE_SOURCE_DIR "/data"))
    if (f.path().extension() == ".ply") paths.push_back(f.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// One of them; throws std::runtime_error when it cannot be read.
inline std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>> readBundledCloud(const std::string& path) {
  auto cloud = std::make_shared<pcl::PointCloud<pcl::PointXYZ>>();
  if (pcl::PLYReader().read(path, *cloud) < 0) throw std::runtime_error("cannot read " + path);
  return cloud;
}

}  // namespace support

#endif

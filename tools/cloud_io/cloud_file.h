// Reading recorded clouds, for the programs that estimate on recorded or simulated
// captures (litterview, litterpose-estimate, litterpose-eval) and for the tests. A file
// that cannot be used is reported, never estimated as an empty or zero cloud.
#ifndef LITTERPOSE_TOOLS_CLOUD_IO_CLOUD_FILE_H
#define LITTERPOSE_TOOLS_CLOUD_IO_CLOUD_FILE_H

#include <optional>
#include <string>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace litterpose_io {

// Reads a PLY (ASCII, binary little or big endian) or PCD (ASCII, binary or
// binary_compressed) file, told apart by their first bytes whatever the file is called,
// whose points carry x, y and z, each stored as one float or double: floats are kept bit
// for bit, doubles rounded to the nearest float. Other properties and fields are ignored;
// points are kept in file order, non-finite ones included, and an organised cloud keeps its
// width and height.
// Only a regular file is read, through one descriptor; every declared size is checked
// against the file before anything is allocated for it, and every header line and number
// is checked. Returns nullopt on success; otherwise the cloud is left empty and the message
// names the file, the line or byte where it is wrong, and what was expected.
std::optional<std::string> readCloud(const std::string& path,
                                     pcl::PointCloud<pcl::PointXYZ>& cloud);

}  // namespace litterpose_io

#endif

// Internal to the cloud reader: the PLY and PCD readers over a file's bytes. Each fills the
// cloud's points, width and height or throws ReadError saying where the file is wrong.
#ifndef LITTERPOSE_TOOLS_CLOUD_IO_FORMATS_H
#define LITTERPOSE_TOOLS_CLOUD_IO_FORMATS_H

#include <string_view>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace litterpose_io::detail {

using Cloud = pcl::PointCloud<pcl::PointXYZ>;

// [begin, end) is the whole file, its first line "ply".
void readPly(const char* begin, const char* end, Cloud& cloud);

// [begin, end) is the whole file, a PCD file by its first line.
void readPcd(const char* begin, const char* end, Cloud& cloud);

// The PCD header keywords, upper case, as the format has them.
bool isPcdKeyword(std::string_view word);

}  // namespace litterpose_io::detail

#endif

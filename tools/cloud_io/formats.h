// Internal to the cloud reader: the PLY and PCD readers over a file's bytes. Each fills the
// cloud's points, width and height or throws ReadError saying where the file is wrong.
#ifndef LITTERPOSE_TOOLS_CLOUD_IO_FORMATS_H
#define LITTERPOSE_TOOLS_CLOUD_IO_FORMATS_H

#include <cstddef>
#include <string_view>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "regular_file.h"

namespace litterpose_io::detail {

using Cloud = pcl::PointCloud<pcl::PointXYZ>;

// The most text one value of an ASCII row can take, spaces around it included (a double
// written to the last digit of its exact decimal value takes some 770); lines longer than
// their values can take are refused before they are read to their end.
constexpr std::size_t kMostValueBytes = 1024;
// The most items of a list in an ASCII PLY row, for the same bound (a face has a few).
constexpr std::size_t kMostListItems = 1000;

// The file's first line is "ply"; its first kMostHeaderBytes (or all) are loaded.
void readPly(RegularFile& file, Cloud& cloud);

// The file is a PCD file by its first lines; its first kMostHeaderBytes (or all) are loaded.
void readPcd(RegularFile& file, Cloud& cloud);

// The PCD header keywords, upper case, as the format has them.
bool isPcdKeyword(std::string_view word);

}  // namespace litterpose_io::detail

#endif

// Reading recorded clouds and checking a configuration's camera calibration, for the
// programs that estimate on recorded or simulated captures (litterview, litterpose-estimate,
// litterpose-eval). A file that cannot be used is reported, never estimated as an empty or
// zero cloud.
#ifndef LITTERPOSE_TOOLS_CLOUD_IO_CLOUD_FILE_H
#define LITTERPOSE_TOOLS_CLOUD_IO_CLOUD_FILE_H

#include <optional>
#include <string>

#include <litterpose.h>

namespace litterpose_io {

// Reads a PLY or PCD file (told apart by their first bytes, whatever the file is called)
// whose points carry x, y and z, each stored as a float or a double; doubles are rounded
// to the nearest float. Other fields are ignored; points are kept in file order, non-finite
// ones included, and an organised cloud keeps its width and height.
// Returns nullopt on success; otherwise the cloud is left empty and the message names the
// file and what is wrong with it.
std::optional<std::string> readCloud(const std::string& path, GrabPoseEstimate::Cloud& cloud);

// A message saying which number of the camera calibration (extrinsic transform or
// intrinsics) is not finite, or nullopt when all are: with such a calibration every point
// of a transformed cloud would be a non-number.
std::optional<std::string> nonFiniteCalibration(const GrabPoseEstimate& estimator);

}  // namespace litterpose_io

#endif

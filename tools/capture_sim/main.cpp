// Writes the bundled sample clouds: each piece of litter as the configured fixed camera
// captures it, in the camera frame, as binary PLY.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <boost/filesystem.hpp>
#include <litterpose.h>
#include <pcl/io/ply_io.h>

#include "depth_camera.h"
#include "litter.h"

namespace {

void usage(std::FILE* to) {
  std::fprintf(to,
               "usage: litterpose-capture-sim --config FILE --out DIR [--seed N]\n"
               "Renders the sample litter captures of the configured fixed camera into DIR.\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string config, out;
  unsigned seed = capture_sim::kSampleSeed;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      usage(stdout);
      return 0;
    }
    if ((arg == "--config" || arg == "--out" || arg == "--seed") && i + 1 < argc) {
      const char* value = argv[++i];
      if (arg == "--config") config = value;
      else if (arg == "--out") out = value;
      else seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
      continue;
    }
    std::fprintf(stderr, "litterpose-capture-sim: unexpected argument '%s'\n", arg.c_str());
    usage(stderr);
    return 2;
  }
  if (config.empty() || out.empty()) {
    usage(stderr);
    return 2;
  }

  try {
    // The estimator's own reading of the calibration, so that the clouds match what it expects.
    const GrabPoseEstimate estimator(config);
    capture_sim::Camera camera;
    camera.fx = estimator.fx_;
    camera.fy = estimator.fy_;
    camera.cx = estimator.cx_;
    camera.cy = estimator.cy_;
    camera.camera_to_base = estimator.camera_extrinsic_.cast<double>();

    boost::filesystem::create_directories(out);
    const auto& captures = capture_sim::sampleCaptures();
    for (std::size_t i = 0; i < captures.size(); ++i) {
      const capture_sim::Capture& c = captures[i];
      capture_sim::CaptureOptions options;
      options.floor_z = -estimator.base_height_;
      options.seed = seed + static_cast<unsigned>(i);
      const auto object = capture_sim::makeLitter(c.kind, c.at, options.floor_z);
      const auto cloud = capture_sim::capture(camera, object, options);
      const std::string path = out + "/" + c.file_name;
      // No camera element: the cloud is already in the camera frame.
      if (pcl::PLYWriter().write(path, cloud, /*binary=*/true, /*use_camera=*/false) != 0) {
        std::fprintf(stderr, "litterpose-capture-sim: cannot write %s\n", path.c_str());
        return 1;
      }
      std::printf("%s: %zu points\n", path.c_str(), cloud.size());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "litterpose-capture-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}

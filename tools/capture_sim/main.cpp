// Writes the bundled sample clouds: each piece of litter as the configured fixed camera
// captures it, in the camera frame, as binary PLY.
#include <cerrno>
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
  std::fprintf(
      to,
      "usage: litterpose-capture-sim --config FILE --out DIR [--seed N] [ARTEFACT VALUE]...\n"
      "Renders the sample litter captures of the configured fixed camera into DIR.\n"
      "Artefacts of real captures (all off by default, which gives the clouds of data/):\n"
      "  --band-width M       floor within M metres of the object's outline in the image\n"
      "  --band-density S     share of those floor pixels kept (default 1)\n"
      "  --mixed-pixels S     share of depth-edge pixels mixed with the floor behind them\n"
      "  --outlier-share S    share of points moved along their ray (sigma --outlier-sigma M,\n"
      "                       default 0.02)\n"
      "  --depth-noise K      depth noise sigma K * depth^2 (default 0.001)\n"
      "  --depth-step M       depth delivered in steps of M metres\n"
      "  --mask-drop S        share of the object's pixels missing from the mask\n"
      "  --floor-margin M     floor kept within M metres of the footprint (default 0.02)\n");
}

// The artefact options and the member each sets.
struct Artefact {
  const char* flag;
  double capture_sim::CaptureOptions::*member;
  double low, high;
};
const Artefact kArtefacts[] = {
    {"--band-width", &capture_sim::CaptureOptions::band_width, 0.0, 1.0},
    {"--band-density", &capture_sim::CaptureOptions::band_density, 0.0, 1.0},
    {"--mixed-pixels", &capture_sim::CaptureOptions::mixed_pixel_share, 0.0, 1.0},
    {"--outlier-share", &capture_sim::CaptureOptions::outlier_share, 0.0, 1.0},
    {"--outlier-sigma", &capture_sim::CaptureOptions::outlier_sigma, 0.0, 1.0},
    {"--depth-noise", &capture_sim::CaptureOptions::depth_noise_per_m2, 0.0, 1.0},
    {"--depth-step", &capture_sim::CaptureOptions::depth_step, 0.0, 1.0},
    {"--mask-drop", &capture_sim::CaptureOptions::mask_drop_share, 0.0, 1.0},
    {"--floor-margin", &capture_sim::CaptureOptions::floor_margin, 0.0, 1.0},
};

}  // namespace

int main(int argc, char** argv) {
  std::string config, out;
  unsigned seed = capture_sim::kSampleSeed;
  capture_sim::CaptureOptions artefacts;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    const Artefact* artefact = nullptr;
    for (const Artefact& a : kArtefacts)
      if (arg == a.flag) artefact = &a;
    if (artefact != nullptr && i + 1 < argc) {
      char* end = nullptr;
      const double value = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(value >= artefact->low && value <= artefact->high)) {
        std::fprintf(stderr, "litterpose-capture-sim: %s needs a number from %g to %g, not '%s'\n",
                     arg.c_str(), artefact->low, artefact->high, argv[i]);
        return 2;
      }
      artefacts.*(artefact->member) = value;
      continue;
    }
    if ((arg == "--config" || arg == "--out" || arg == "--seed") && i + 1 < argc) {
      const char* value = argv[++i];
      if (arg == "--config") config = value;
      else if (arg == "--out") out = value;
      else {
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(value, &end, 10);
        if (*value < '0' || *value > '9' || *end != '\0' || errno == ERANGE ||
            n > 0xffffffffULL) {
          std::fprintf(stderr,
                       "litterpose-capture-sim: --seed needs a number from 0 to 4294967295, "
                       "not '%s'\n", value);
          return 2;
        }
        seed = static_cast<unsigned>(n);
      }
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
    const capture_sim::Camera camera = capture_sim::cameraOf(estimator);

    boost::filesystem::create_directories(out);
    const auto& captures = capture_sim::sampleCaptures();
    for (std::size_t i = 0; i < captures.size(); ++i) {
      const capture_sim::Capture& c = captures[i];
      capture_sim::CaptureOptions options = artefacts;
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

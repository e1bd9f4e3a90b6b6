#include "scenes.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace capture_sim {
namespace {

constexpr double kDegree = M_PI / 180.0;

// Pixels kept free around an object in view.
constexpr double kViewMargin = 8.0;
// Places tried for one scene before giving up.
constexpr int kAttempts = 20000;

double uniform(std::mt19937& rng, double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(rng);
}

}  // namespace

const std::vector<Litter>& sceneClasses() {
  static const std::vector<Litter> classes = {
      Litter::kBottleLying, Litter::kCanStanding, Litter::kCanLying, Litter::kCartonBox,
      Litter::kPaperSheet,  Litter::kCupOnSide,   Litter::kStick};
  return classes;
}

const char* litterName(Litter kind) {
  switch (kind) {
    case Litter::kBottleLying: return "bottle lying";
    case Litter::kCanStanding: return "can standing";
    case Litter::kCanLying: return "can lying";
    case Litter::kCartonBox: return "carton";
    case Litter::kPaperSheet: return "paper sheet";
    case Litter::kCupOnSide: return "cup on its side";
    case Litter::kStick: return "stick";
  }
  return "?";
}

bool isLying(Litter kind) { return kind != Litter::kCanStanding; }

GroundTruth groundTruth(Litter kind, const Dimensions& size, const Placement& at,
                        double floor_z) {
  GroundTruth t;
  t.kind = kind;
  t.size = size;
  t.at = at;
  const double bearing = at.bearing_deg * kDegree;
  const double yaw = at.yaw_deg * kDegree;
  const Eigen::Vector2d place(-at.distance * std::cos(bearing), at.distance * std::sin(bearing));
  t.long_axis = Eigen::Vector2d(std::cos(yaw), std::sin(yaw));
  // The neck moves a bottle's centre of mass towards it.
  double along = 0.0;
  if (kind == Litter::kBottleLying) {
    const double r = size.width / 2;
    const double body = r * r * size.length;
    const double neck = size.neck_radius * size.neck_radius * size.neck_length;
    along = neck * (size.length + size.neck_length) / 2 / (body + neck);
  }
  t.height = size.height;
  const Eigen::Vector2d xy = place + along * t.long_axis;
  t.centre = Eigen::Vector3d(xy.x(), xy.y(), floor_z + size.height / 2);
  return t;
}

Dimensions randomDimensions(Litter kind, std::mt19937& rng) {
  Dimensions d;
  switch (kind) {
    case Litter::kBottleLying:
      d.length = uniform(rng, 0.12, 0.22);
      d.width = d.height = 2 * uniform(rng, 0.028, 0.045);
      d.neck_length = uniform(rng, 0.03, 0.06);
      d.neck_radius = uniform(rng, 0.011, 0.016);
      break;
    case Litter::kCanStanding:
      d.length = d.width = 2 * uniform(rng, 0.026, 0.034);
      d.height = uniform(rng, 0.11, 0.17);
      break;
    case Litter::kCanLying:
      d.width = d.height = 2 * uniform(rng, 0.026, 0.034);
      d.length = uniform(rng, 0.11, 0.17);
      break;
    case Litter::kCartonBox:
      d.length = uniform(rng, 0.10, 0.22);
      d.width = uniform(rng, 0.05, 0.75 * d.length);
      d.height = uniform(rng, 0.025, 0.07);
      break;
    case Litter::kPaperSheet:
      d.length = uniform(rng, 0.15, 0.30);
      d.width = uniform(rng, 0.10, 0.75 * d.length);
      d.height = uniform(rng, 0.0005, 0.002);
      break;
    case Litter::kCupOnSide:
      d.width = d.height = 2 * uniform(rng, 0.03, 0.042);
      d.length = d.width * uniform(rng, 1.34, 1.6);
      break;
    case Litter::kStick:
      d.width = d.height = 2 * uniform(rng, 0.006, 0.015);
      d.length = uniform(rng, 0.20, 0.40);
      break;
  }
  return d;
}

const char* artefactsName(Artefacts a) { return a == Artefacts::clean ? "clean" : "realistic"; }

CaptureOptions captureOptions(Artefacts artefacts, double floor_z, unsigned seed,
                              std::mt19937& rng) {
  CaptureOptions o;
  o.floor_z = floor_z;
  o.seed = seed;
  if (artefacts == Artefacts::clean) return o;
  o.depth_noise_per_m2 = uniform(rng, 0.001, 0.003);
  o.depth_step = 0.001;
  o.outliers = 0;
  o.outlier_share = uniform(rng, 0.001, 0.004);
  o.outlier_sigma = 0.02;
  o.floor_margin = 0.0;
  o.band_width = uniform(rng, 0.005, 0.02);
  o.band_density = uniform(rng, 0.5, 1.0);
  o.mixed_pixel_share = uniform(rng, 0.0, 0.6);
  o.mask_drop_share = uniform(rng, 0.0, 1.0) < 0.3 ? uniform(rng, 0.02, 0.10) : 0.0;
  return o;
}

bool inView(const Camera& camera, const Object& object, const CaptureOptions& options) {
  Bounds b = bounds(object);
  const double reach = options.band_width + options.floor_margin;
  b.low.head<2>().array() -= reach;
  b.high.head<2>().array() += reach;
  b.low.z() = std::min(b.low.z(), options.floor_z);
  for (int corner = 0; corner < 8; ++corner) {
    const Eigen::Vector3d p((corner & 1) ? b.high.x() : b.low.x(),
                            (corner & 2) ? b.high.y() : b.low.y(),
                            (corner & 4) ? b.high.z() : b.low.z());
    const Eigen::Vector3d uvz = camera.project(p);
    if (!uvz.allFinite() || !(uvz.z() > 0.0)) return false;
    if (uvz.x() < kViewMargin || uvz.x() > camera.width - 1 - kViewMargin ||
        uvz.y() < kViewMargin || uvz.y() > camera.height - 1 - kViewMargin)
      return false;
  }
  return true;
}

std::vector<Scene> randomScenes(const SceneSetOptions& options, const Camera& camera,
                                double floor_z, const Judge& judge) {
  const auto& classes = sceneClasses();
  std::vector<Scene> scenes;
  scenes.reserve(static_cast<std::size_t>(std::max(0, options.count)));
  for (int i = 0; i < options.count; ++i) {
    std::seed_seq seed{options.seed, static_cast<unsigned>(i)};
    std::mt19937 rng(seed);
    Scene s;
    s.index = i;
    const Litter kind = classes[static_cast<std::size_t>(i) % classes.size()];
    const bool reachable = uniform(rng, 0.0, 1.0) < options.reachable_share;
    const Dimensions size = randomDimensions(kind, rng);
    s.options = captureOptions(options.artefacts, floor_z, static_cast<unsigned>(rng()), rng);
    const PlaceRange& range =
        !reachable ? options.range : isLying(kind) ? options.lying_reach : options.standing_reach;
    bool found = false;
    for (int attempt = 0; attempt < kAttempts && !found; ++attempt) {
      const Placement at{uniform(rng, range.distance_min, range.distance_max),
                         uniform(rng, range.bearing_min, range.bearing_max),
                         uniform(rng, 0.0, 360.0)};
      s.truth = groundTruth(kind, size, at, floor_z);
      s.object = makeLitter(kind, size, at, floor_z);
      if (!inView(camera, s.object, s.options)) continue;
      const std::optional<Expected> expected = judge(s.truth);
      if (!expected) continue;
      const bool found_by_common =
          (*expected)[static_cast<int>(litterpose::Entry::CommonGrabPoseFunc)] ==
          litterpose::kGrabFound;
      // Past half the attempts any clear place will do: some mounts see no place of
      // the wanted kind.
      if (found_by_common != reachable && attempt < kAttempts / 2) continue;
      s.expected = *expected;
      found = true;
    }
    if (!found)
      throw std::runtime_error(std::string("no place for a ") + litterName(kind) +
                               " is both in view of the camera and clear of the grasp "
                               "windows' edges");
    scenes.push_back(std::move(s));
  }
  return scenes;
}

}  // namespace capture_sim

#include "scenes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace capture_sim {
namespace {

constexpr double kDegree = M_PI / 180.0;

// Pixels kept free around an object in view.
constexpr double kViewMargin = 8.0;
// Places tried for one scene before giving up.
constexpr int kAttempts = 20000;
// Waves of a rough floor's relief.
constexpr int kReliefWaves = 6;
// The relief under an object's footprint is sampled this finely, metres.
constexpr double kFootprintStep = 0.003;

double uniform(std::mt19937& rng, double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(rng);
}

Eigen::Vector3d uniformDirection(std::mt19937& rng) {
  std::normal_distribution<double> normal(0.0, 1.0);
  Eigen::Vector3d v;
  do {
    for (int i = 0; i < 3; ++i) v[i] = normal(rng);
  } while (!(v.norm() > 0.0));
  return v.normalized();
}

}  // namespace

const std::vector<Litter>& sceneClasses(Artefacts profile) {
  static const std::vector<Litter> classes = {
      Litter::kBottleLying, Litter::kCanStanding, Litter::kCanLying, Litter::kCartonBox,
      Litter::kPaperSheet,  Litter::kCupOnSide,   Litter::kStick};
  static const std::vector<Litter> field = {
      Litter::kBottleLying,     Litter::kCanStanding,   Litter::kCanLying,
      Litter::kCartonBox,       Litter::kPaperSheet,    Litter::kCupOnSide,
      Litter::kStick,           Litter::kCartonStanding, Litter::kCigaretteButt,
      Litter::kBottleCap,       Litter::kCupStanding,   Litter::kTunaCan,
      Litter::kCartonWide,      Litter::kCupWithHandle, Litter::kBottleFolded};
  return profile == Artefacts::field ? field : classes;
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
    case Litter::kCartonStanding: return "carton standing";
    case Litter::kCigaretteButt: return "cigarette butt";
    case Litter::kBottleCap: return "bottle cap";
    case Litter::kCupStanding: return "cup standing";
    case Litter::kTunaCan: return "tuna can";
    case Litter::kCartonWide: return "carton wide";
    case Litter::kCupWithHandle: return "cup with handle";
    case Litter::kBottleFolded: return "bottle folded";
  }
  return "?";
}

bool isLying(Litter kind) {
  return kind != Litter::kCanStanding && kind != Litter::kCartonStanding &&
         kind != Litter::kCupStanding && kind != Litter::kCupWithHandle;
}

bool hasLongAxis(Litter kind) {
  return isLying(kind) && kind != Litter::kBottleCap && kind != Litter::kTunaCan;
}

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
  // The neck moves a bottle's centre of mass towards it: along the body, or across it when
  // it lies folded beside the body.
  double along = 0.0, across = 0.0;
  if (kind == Litter::kBottleLying || kind == Litter::kBottleFolded) {
    const double r = size.width / 2;
    const double body = r * r * size.length;
    const double neck = size.neck_radius * size.neck_radius * size.neck_length;
    const double share = neck / (body + neck);
    if (kind == Litter::kBottleLying) {
      along = share * (size.length + size.neck_length) / 2;
    } else {
      along = share * (size.length - size.neck_length) / 2;
      across = share * (r + size.gap + size.neck_radius);
    }
  }
  t.height = size.height;
  const Eigen::Vector2d xy = place + along * t.long_axis +
                             across * Eigen::Vector2d(-t.long_axis.y(), t.long_axis.x());
  t.centre = Eigen::Vector3d(xy.x(), xy.y(), floor_z + size.height / 2);
  t.low_z = floor_z;
  t.high_z = floor_z + size.height;
  return t;
}

GroundTruth inBaseFrame(const GroundTruth& level, const Object& object,
                        const Eigen::Isometry3d& level_to_base) {
  GroundTruth t = level;
  t.centre = level_to_base * level.centre;
  const Eigen::Vector2d axis =
      (level_to_base.linear() * Eigen::Vector3d(level.long_axis.x(), level.long_axis.y(), 0.0))
          .head<2>();
  if (axis.norm() > 0.0) t.long_axis = axis.normalized();
  const auto [low, high] =
      extent(object, level_to_base.linear().transpose() * Eigen::Vector3d::UnitZ());
  t.low_z = low + level_to_base.translation().z();
  t.high_z = high + level_to_base.translation().z();
  return t;
}

Eigen::Isometry3d Conditions::levelToBase(double floor_z) const {
  const Eigen::Vector3d foot(0.0, 0.0, floor_z);
  const double downhill = downhill_deg * kDegree;
  const Eigen::Vector3d fall(-std::cos(downhill), std::sin(downhill), 0.0);
  // Turning about this axis lowers the floor along fall.
  const Eigen::Vector3d axis = Eigen::Vector3d::UnitZ().cross(fall);
  Eigen::Isometry3d g = Eigen::Isometry3d::Identity();
  g.translate(foot + floor_offset * Eigen::Vector3d::UnitZ());
  g.rotate(Eigen::AngleAxisd(slope_deg * kDegree, axis));
  g.translate(-foot);
  return g;
}

Eigen::Matrix4d Conditions::trueMounting(const Eigen::Matrix4d& camera_to_base) const {
  Eigen::Matrix4d m = camera_to_base;
  const double angle = camera_turn.norm();
  if (angle > 0.0)
    m.block<3, 3>(0, 0) = Eigen::AngleAxisd(angle, camera_turn / angle).toRotationMatrix() *
                          camera_to_base.block<3, 3>(0, 0);
  m.block<3, 1>(0, 3) += camera_shift;
  return m;
}

Conditions randomConditions(const ConditionLimits& limits, std::mt19937& rng) {
  Conditions c;
  c.floor_offset = uniform(rng, -limits.floor_offset, limits.floor_offset);
  c.slope_deg = uniform(rng, 0.0, limits.slope_deg);
  c.downhill_deg = uniform(rng, -180.0, 180.0);
  // One draw after the other: the order of a product's operands is the compiler's.
  const double shift = uniform(rng, 0.0, limits.camera_shift);
  c.camera_shift = shift * uniformDirection(rng);
  const double turn = uniform(rng, 0.0, limits.camera_turn_deg) * kDegree;
  c.camera_turn = turn * uniformDirection(rng);
  return c;
}

Roughness randomRoughness(const ConditionLimits& limits, std::mt19937& rng) {
  Roughness r;
  const double amplitude = uniform(rng, 0.0, limits.roughness);
  double total = 0.0;
  for (int i = 0; i < kReliefWaves; ++i) {
    Roughness::Wave w;
    w.amplitude = uniform(rng, 0.5, 1.0);
    const double direction = uniform(rng, 0.0, 2.0 * M_PI);
    const double wavelength = 2.0 * uniform(rng, limits.bump_width_min, limits.bump_width_max);
    w.k = 2.0 * M_PI / wavelength * Eigen::Vector2d(std::cos(direction), std::sin(direction));
    w.phase = uniform(rng, 0.0, 2.0 * M_PI);
    total += w.amplitude;
    r.waves.push_back(w);
  }
  for (Roughness::Wave& w : r.waves) w.amplitude *= amplitude / total;
  return r;
}

Camera renderingCamera(const Camera& configured, const Conditions& conditions, double floor_z) {
  Camera c = configured;
  c.camera_to_base = conditions.levelToBase(floor_z).inverse().matrix() *
                     conditions.trueMounting(configured.camera_to_base);
  return c;
}

double restingLift(const Object& object, const Roughness& relief) {
  if (relief.waves.empty()) return 0.0;
  const Bounds b = bounds(object);
  double highest = -std::numeric_limits<double>::infinity();
  for (double x = b.low.x(); x <= b.high.x(); x += kFootprintStep)
    for (double y = b.low.y(); y <= b.high.y(); y += kFootprintStep)
      if (footprintDistance({x, y}, object) <= 0.0)
        highest = std::max(highest, relief.height({x, y}));
  // A footprint thinner than the step: its middle.
  return std::isfinite(highest) ? highest : relief.height(0.5 * (b.low + b.high).head<2>());
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
    case Litter::kCartonStanding:  // 0.2 to 1 l drinks cartons
      d.width = uniform(rng, 0.04, 0.07);
      d.length = uniform(rng, d.width, 0.10);
      d.height = uniform(rng, std::max(0.10, 1.5 * d.length), 0.25);
      break;
    case Litter::kCigaretteButt:
      d.width = d.height = uniform(rng, 0.007, 0.009);
      d.length = uniform(rng, 0.025, 0.04);
      break;
    case Litter::kBottleCap:
      d.length = d.width = uniform(rng, 0.026, 0.038);
      d.height = d.width * uniform(rng, 0.3, 0.5);
      break;
    case Litter::kCupStanding:
      d.length = d.width = uniform(rng, 0.06, 0.085);
      d.height = d.width * uniform(rng, 1.3, 1.7);
      break;
    case Litter::kTunaCan:
      d.length = d.width = uniform(rng, 0.075, 0.10);
      d.height = d.width * uniform(rng, 0.35, 0.55);
      break;
    case Litter::kCartonWide:  // cereal and shoe boxes, flattened cartons
      d.width = uniform(rng, 0.12, 0.20);
      d.length = uniform(rng, 4.0 / 3.0 * d.width, 0.32);
      d.height = uniform(rng, 0.02, 0.06);
      break;
    case Litter::kCupWithHandle:  // a mug
      d.length = d.width = uniform(rng, 0.06, 0.085);
      d.height = d.width * uniform(rng, 1.3, 1.7);
      d.gap = uniform(rng, 0.012, 0.03);
      break;
    case Litter::kBottleFolded:
      d.width = d.height = 2 * uniform(rng, 0.028, 0.04);
      d.length = uniform(rng, std::max(0.10, 4.0 / 3.0 * d.width), 0.16);
      d.neck_radius = uniform(rng, 0.011, 0.016);
      d.neck_length = d.length / 2 * uniform(rng, 0.9, 1.3);
      d.gap = uniform(rng, 0.005, 0.03);
      break;
  }
  return d;
}

const char* artefactsName(Artefacts a) {
  switch (a) {
    case Artefacts::clean: return "clean";
    case Artefacts::realistic: return "realistic";
    case Artefacts::field: return "field";
  }
  return "?";
}

CaptureOptions captureOptions(Artefacts artefacts, double floor_z, unsigned seed,
                              std::mt19937& rng, const DepthCamera& depth) {
  CaptureOptions o;
  o.floor_z = floor_z;
  o.seed = seed;
  if (artefacts == Artefacts::clean) return o;
  o.depth_noise_per_m2 = uniform(rng, 0.001, depth.noise);
  o.depth_step = depth.step;
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
  b.low.z() = std::min(b.low.z(), options.floor_z - options.roughness.amplitude());
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
  const auto& classes = sceneClasses(options.artefacts);
  const bool in_the_field = options.artefacts == Artefacts::field;
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
    s.options =
        captureOptions(options.artefacts, floor_z, static_cast<unsigned>(rng()), rng, options.depth);
    // The other profiles see the configured floor through the configured camera itself.
    s.camera = camera;
    if (in_the_field) {
      s.conditions = randomConditions(options.limits, rng);
      s.options.roughness = randomRoughness(options.limits, rng);
      s.camera = renderingCamera(camera, s.conditions, floor_z);
    }
    const Eigen::Isometry3d level_to_base = s.conditions.levelToBase(floor_z);
    const PlaceRange& range =
        !reachable ? options.range : isLying(kind) ? options.lying_reach : options.standing_reach;
    bool found = false;
    for (int attempt = 0; attempt < kAttempts && !found; ++attempt) {
      const Placement at{uniform(rng, range.distance_min, range.distance_max),
                         uniform(rng, range.bearing_min, range.bearing_max),
                         uniform(rng, 0.0, 360.0)};
      const double rest =
          floor_z + restingLift(makeLitter(kind, size, at, floor_z), s.options.roughness);
      s.object = makeLitter(kind, size, at, rest);
      s.truth = groundTruth(kind, size, at, rest);
      if (in_the_field) s.truth = inBaseFrame(s.truth, s.object, level_to_base);
      if (!inView(s.camera, s.object, s.options)) continue;
      std::optional<int> counted;
      const PointCount points = [&] {
        if (!counted) counted = static_cast<int>(capture(s.camera, s.object, s.options).size());
        return *counted;
      };
      const std::optional<Expected> expected = judge(s.truth, points);
      if (!expected) continue;
      s.truth.capture_points = points();
      s.truth.object_points = objectPoints(s.camera, s.object, s.options);
      // Too few points say nothing of the place: it is kept as drawn.
      const int common = (*expected)[static_cast<int>(litterpose::Entry::CommonGrabPoseFunc)];
      const bool found_by_common = common == litterpose::kGrabFound;
      // Past half the attempts any clear place will do: some mounts see no place of
      // the wanted kind.
      if (common != litterpose::kTooFewPoints && found_by_common != reachable &&
          attempt < kAttempts / 2)
        continue;
      s.expected = *expected;
      found = true;
    }
    // A mount or a floor of the field that leaves no such place for this scene (a
    // cigarette butt seen from high up, its points always near an entry's minimum) leaves
    // this scene out, not the run.
    if (found) scenes.push_back(std::move(s));
  }
  if (scenes.empty() && options.count > 0)
    throw std::runtime_error(
        "no scene has a place both in view of the camera and clear of the grasp windows' edges");
  return scenes;
}

}  // namespace capture_sim

#include "evaluation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include <litterpose_configuration.h>
#include <quorvin_kinematics.h>
#include <yaml-cpp/yaml.h>

namespace litterpose_eval {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDegree = M_PI / 180.0;
// The image sizes of depth cameras are multiples of this.
constexpr int kImageSizeStep = 16;
// Scenes are placed this far beyond the windows, in distance and in bearing.
constexpr double kBeyondWindows = 0.3;
constexpr double kBeyondBearings = 30.0;
// A side grasp must point from the base towards the object within this angle.
constexpr double kSideBearingTolerance = 45.0;
// The lowest grasp point of a lying object the judge proves reachable, above its bottom.
constexpr double kLowestGrasp = 0.005;
// Angles are compared with this slack: a 20-degree tilt is a 20-degree tilt, whatever the
// last bit of its quaternion.
constexpr double kAngleSlack = 1e-6;

// The workspace sector is measured from a circle about the arm's axis (no configuration
// key: a property of the arm).
constexpr double kWorkspaceCircleHeight = 0.1555;
constexpr double kWorkspaceCircleRadius = 0.01125;
// The grab space's distance bounds grow with the grasp point's height above the floor.
constexpr double kVerticalNearPerHeight = 0.9473684210526315;
constexpr double kVerticalFarPerHeight = 0.6842105263157895;
constexpr double kParallelNearPerHeight = 0.125;
constexpr double kParallelFarPerHeight = 0.33333333333333337;
// From the flange to the tool centre point, along the tool's z axis.
constexpr double kToolOffsetMm = 156.0;
constexpr double kMillimetresPerMetre = 1000.0;

// Least points after preparation: GrabPoseEstimateFunc (when it prepares), the others.
constexpr int kMainEntryLeastPoints = 10;
constexpr int kOtherEntriesLeastPoints = 100;
// An object's own point count in this band about a minimum is too near it to say: the
// preparation may drop some points, the floor around it may make up for them.
constexpr double kUndecidedFrom = 0.75;
constexpr double kUndecidedTo = 1.5;

// The approach cone is sampled in tilts of this step, at this many azimuths; the turn about
// the approach in this step.
constexpr double kConeStepDeg = 5.0;
constexpr int kConeAzimuths = 8;
constexpr double kTurnStepDeg = 30.0;

double degrees(double radians) { return radians / kDegree; }

// Angle between two directions, degrees; 90 when either has no length.
double angleBetween(const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  const double n = a.norm() * b.norm();
  if (!(n > 0.0)) return 90.0;
  return degrees(std::acos(std::clamp(a.dot(b) / n, -1.0, 1.0)));
}

double median(std::vector<double> v) {
  if (v.empty()) return kNaN;
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  if (v.size() % 2 == 1) return *mid;
  return 0.5 * (*mid + *std::max_element(v.begin(), mid));
}

int roundedImageSize(double principal_point) {
  const long steps = std::lround(2.0 * principal_point / kImageSizeStep);
  return static_cast<int>(std::max(1L, steps) * kImageSizeStep);
}

bool isSmallLitter(capture_sim::Litter kind) {
  return kind == capture_sim::Litter::kCigaretteButt || kind == capture_sim::Litter::kBottleCap;
}

}  // namespace

const char* entryName(Entry entry) {
  switch (entry) {
    case Entry::GrabPoseEstimateFunc: return "GrabPoseEstimateFunc";
    case Entry::CommonGrabPoseFunc: return "CommonGrabPoseFunc";
    case Entry::GetInitialGrabPose: return "GetInitialGrabPose";
  }
  return "?";
}

const char* preparationName(Preparation p) {
  switch (p) {
    case Preparation::standard: return "default";
    case Preparation::robust: return "robust";
    case Preparation::gripper: return "gripper";
  }
  return "?";
}

capture_sim::Camera cameraOf(const GrabPoseEstimate& e, int width, int height) {
  capture_sim::Camera c = capture_sim::cameraOf(e);
  c.width = width > 0 ? width : roundedImageSize(e.cx_);
  c.height = height > 0 ? height : roundedImageSize(e.cy_);
  return c;
}

ConfiguredWindows readWindows(const std::string& config_path) {
  const YAML::Node root = litterpose::loadConfigurationFile(config_path);
  const YAML::Node g = root["grab_pose_estimate"];
  const auto window = [&](const std::string& distance, const std::string& angle) {
    return Window{g[distance + "_min"].as<double>(), g[distance + "_max"].as<double>(),
                  g[angle + "_min"].as<double>(), g[angle + "_max"].as<double>()};
  };
  ConfiguredWindows w;
  w.base_height = g["base_height"].as<double>();
  w.workspace = window("workspace_r", "workspace_angle");
  w.vertical = window("grab_vertical_distance", "grab_vertical_angle");
  w.parallel = window("grab_parallel_distance", "grab_parallel_angle");
  w.main_entry_prepares = root["debug_choice"]["enable_process_cloud"].as<bool>();
  w.main_entry_slants = root["debug_choice"]["is_grab_slanted"].as<bool>();
  return w;
}

void placeScenes(const ConfiguredWindows& w, capture_sim::SceneSetOptions& set) {
  capture_sim::PlaceRange& r = set.range;
  r.distance_min = 0.05;
  r.distance_max = std::max(w.vertical.distance_max, w.parallel.distance_max) + kBeyondWindows;
  const double low = std::min({w.vertical.angle_min, w.parallel.angle_min, w.workspace.angle_min});
  const double high =
      std::max({w.vertical.angle_max, w.parallel.angle_max, w.workspace.angle_max});
  r.bearing_min = std::max(-180.0, low - kBeyondBearings);
  r.bearing_max = std::min(180.0, high + kBeyondBearings);
  set.lying_reach = {w.vertical.distance_min, w.vertical.distance_max, w.vertical.angle_min,
                     w.vertical.angle_max};
  set.standing_reach = {w.parallel.distance_min, w.parallel.distance_max, w.parallel.angle_min,
                        w.parallel.angle_max};
}

int windowCode(const Window& w, double distance, double bearing_deg, int family) {
  if (distance < w.distance_min) return family + 1;
  if (distance > w.distance_max) return family + 2;
  if (bearing_deg < w.angle_min) return family + 3;
  if (bearing_deg > w.angle_max) return family + 4;
  return 0;
}

namespace {

double bearingDeg(const Eigen::Vector3d& p) { return degrees(std::atan2(p.y(), -p.x())); }

bool withinBearings(const Window& w, double bearing_deg) {
  return bearing_deg >= w.angle_min && bearing_deg <= w.angle_max;
}

}  // namespace

bool inWorkspace(const ConfiguredWindows& w, const Eigen::Vector3d& p) {
  const double from_circle = std::hypot(p.head<2>().norm() - kWorkspaceCircleRadius,
                                        p.z() - kWorkspaceCircleHeight);
  return from_circle >= w.workspace.distance_min && from_circle <= w.workspace.distance_max &&
         withinBearings(w.workspace, bearingDeg(p));
}

bool inGrabSpace(const ConfiguredWindows& w, bool from_above, const Eigen::Vector3d& p) {
  const double height = p.z() + w.base_height;
  const Window& window = from_above ? w.vertical : w.parallel;
  const double nearest =
      window.distance_min +
      (from_above ? kVerticalNearPerHeight : kParallelNearPerHeight) * height;
  const double farthest =
      window.distance_max + (from_above ? kVerticalFarPerHeight : kParallelFarPerHeight) * height;
  const double d = p.head<2>().norm();
  return d >= nearest && d <= farthest && withinBearings(window, bearingDeg(p));
}

Arm armOf(const GrabPoseEstimate& e) {
  Arm arm;
  for (int i = 0; i < 6; ++i) {
    arm.d[i] = e.dh_d_[i];
    arm.a[i] = e.dh_a_[i];
    arm.alpha[i] = e.dh_alpha_[i];
    arm.offset[i] = e.dh_offset_[i];
    arm.reference[i] = e.ik_ref_joints_[i];
  }
  return arm;
}

Reach::Reach(const Arm& arm)
    : kinematics_(std::make_unique<QuorvinKinematics>(arm.d.data(), arm.a.data(),
                                                      arm.alpha.data(), arm.offset.data())),
      reference_(arm.reference) {
  // The judge asks thousands of poses the arm cannot take; their lines are not its output.
  kinematics_->set_line_hook(nullptr);
}

Reach::~Reach() = default;

bool Reach::reaches(const Eigen::Vector3d& p, const Eigen::Matrix3d& tool) const {
  Eigen::MatrixXd flange = Eigen::MatrixXd::Identity(4, 4);
  flange.block<3, 3>(0, 0) = tool;
  flange.block<3, 1>(0, 3) = kMillimetresPerMetre * p - kToolOffsetMm * tool.col(2);
  double joints[6];
  return kinematics_->inverse_kinematics(flange, reference_.data(), joints) ==
         QuorvinKinematics::kSolved;
}

OrientationErrors orientationErrors(const capture_sim::GroundTruth& t,
                                    const Eigen::Matrix3d& tool) {
  OrientationErrors e;
  const Eigen::Vector3d tool_z = tool.col(2);
  const Eigen::Vector3d tool_x = tool.col(0);
  e.axis_deg = kNaN;
  if (capture_sim::isLying(t.kind)) {
    e.approach_deg = angleBetween(tool_z, -Eigen::Vector3d::UnitZ());
    if (capture_sim::hasLongAxis(t.kind)) {
      const double a = angleBetween(Eigen::Vector3d(tool_x.x(), tool_x.y(), 0.0),
                                    Eigen::Vector3d(t.long_axis.x(), t.long_axis.y(), 0.0));
      e.axis_deg = std::min(a, 180.0 - a);
    }
  } else {
    e.approach_deg = std::abs(degrees(std::asin(std::clamp(tool_z.z(), -1.0, 1.0))));
    e.towards_object = angleBetween(Eigen::Vector3d(tool_z.x(), tool_z.y(), 0.0),
                                    Eigen::Vector3d(t.centre.x(), t.centre.y(), 0.0)) <=
                       kSideBearingTolerance;
  }
  return e;
}

bool orientationMeets(const capture_sim::GroundTruth& t, const OrientationErrors& errors,
                      const Criteria& criteria) {
  return errors.approach_deg <= criteria.approach_tolerance_deg + kAngleSlack &&
         errors.towards_object &&
         (!capture_sim::hasLongAxis(t.kind) ||
          errors.axis_deg <= criteria.axis_tolerance_deg + kAngleSlack);
}

bool graspReachable(const Reach& reach, const capture_sim::GroundTruth& t,
                    const Eigen::Vector3d& p, const Criteria& criteria, double max_tilt_deg) {
  const bool lying = capture_sim::isLying(t.kind);
  const Eigen::Vector3d outward(p.x(), p.y(), 0.0);
  // From above, or horizontally from the base towards the object (straight ahead when it
  // stands on the arm's axis).
  const Eigen::Vector3d ideal = lying ? Eigen::Vector3d(-Eigen::Vector3d::UnitZ())
                                : outward.norm() > 0.0 ? Eigen::Vector3d(outward.normalized())
                                                       : Eigen::Vector3d(-Eigen::Vector3d::UnitX());
  const Eigen::Vector3d across = lying ? Eigen::Vector3d::UnitX() : Eigen::Vector3d::UnitZ();
  const Eigen::Vector3d across_too = ideal.cross(across);
  const Eigen::Vector3d long_axis(t.long_axis.x(), t.long_axis.y(), 0.0);
  for (double tilt = 0.0; tilt <= std::min(max_tilt_deg, criteria.approach_tolerance_deg) + kAngleSlack;
       tilt += kConeStepDeg) {
    for (int k = 0; k < (tilt > 0.0 ? kConeAzimuths : 1); ++k) {
      const double azimuth = 2.0 * M_PI * k / kConeAzimuths;
      const Eigen::Vector3d tilt_axis = std::cos(azimuth) * across + std::sin(azimuth) * across_too;
      const Eigen::Vector3d z = Eigen::AngleAxisd(tilt * kDegree, tilt_axis) * ideal;
      // The turn is counted from the long axis where the gripper must close across it.
      const Eigen::Vector3d from = capture_sim::hasLongAxis(t.kind) ? long_axis : across;
      const Eigen::Vector3d x0 = (from - from.dot(z) * z).normalized();
      for (double turn = 0.0; turn < 360.0; turn += kTurnStepDeg) {
        Eigen::Matrix3d tool;
        tool.col(0) = Eigen::AngleAxisd(turn * kDegree, z) * x0;
        tool.col(2) = z;
        tool.col(1) = z.cross(tool.col(0));
        if (!orientationMeets(t, orientationErrors(t, tool), criteria)) continue;
        if (reach.reaches(p, tool)) return true;
      }
    }
  }
  return false;
}

capture_sim::Judge makeJudge(const ConfiguredWindows& windows, const Arm& arm,
                             const Criteria& criteria, const Margins& margins) {
  auto reach = std::make_shared<const Reach>(arm);
  return [windows, reach, criteria, margins](const capture_sim::GroundTruth& t,
                                             const capture_sim::PointCount& points)
             -> std::optional<capture_sim::Expected> {
    constexpr int kMain = static_cast<int>(Entry::GrabPoseEstimateFunc);
    constexpr int kCommon = static_cast<int>(Entry::CommonGrabPoseFunc);
    constexpr int kInitial = static_cast<int>(Entry::GetInitialGrabPose);

    const bool lying = capture_sim::isLying(t.kind);
    const double d = t.centre.head<2>().norm();
    const double bearing = std::atan2(t.centre.y(), -t.centre.x());
    const double lateral = d > margins.lateral ? std::asin(margins.lateral / d) : M_PI / 2;
    const auto at = [&](double r, double b, double z) {
      return Eigen::Vector3d(-r * std::cos(b), r * std::sin(b), z);
    };

    // The windows, from the object's lowest to its highest point, all around the centre.
    std::optional<capture_sim::Expected> seen;
    for (double dd : {-margins.distance, 0.0, margins.distance}) {
      for (double db : {-lateral, 0.0, lateral}) {
        for (double z : {t.low_z, t.high_z}) {
          const double r = std::max(0.0, d + dd);
          const Eigen::Vector3d p = at(r, bearing + db, z);
          capture_sim::Expected codes{};
          const int window = windowCode(lying ? windows.vertical : windows.parallel, r,
                                        bearingDeg(p), lying ? 300 : 310);
          codes[kMain] = window == 0 ? litterpose::kGrabFound : window;
          const bool in_workspace = inWorkspace(windows, p);
          const int outside_grab_space =
              lying ? litterpose::kType1TooNear : litterpose::kStandingTooNear;
          codes[kCommon] = !in_workspace                     ? litterpose::kOutsideWorkspace
                           : !inGrabSpace(windows, lying, p) ? outside_grab_space
                                                             : litterpose::kGrabFound;
          codes[kInitial] = in_workspace ? litterpose::kGrabFound : litterpose::kOutsideWorkspace;
          if (seen && *seen != codes) return std::nullopt;
          seen = codes;
        }
      }
    }
    capture_sim::Expected codes = *seen;

    // Each entry counts the points before anything else: too few decide its code.
    std::array<bool, litterpose::kEntryCount> too_few{};
    const int count = points();
    for (int e = 0; e < litterpose::kEntryCount; ++e) {
      const int least = e != kMain                     ? kOtherEntriesLeastPoints
                        : windows.main_entry_prepares ? kMainEntryLeastPoints
                                                      : 0;
      too_few[e] = count < kUndecidedFrom * least;
      if (!too_few[e] && count < kUndecidedTo * least) return std::nullopt;
    }

    // Within the windows, the entries that prove reachability should find a grasp only where
    // the arm reaches one that meets the criteria. The grasp point is taken just above the
    // object's bottom and at its middle (from above), or at a quarter and at three quarters
    // of its height (from the side).
    const bool proves_reach = (codes[kMain] == litterpose::kGrabFound && !too_few[kMain]) ||
                              (codes[kCommon] == litterpose::kGrabFound && !too_few[kCommon]);
    if (proves_reach) {
      const double z = t.centre.z(), h = t.height;
      const std::array<double, 2> heights =
          lying ? std::array<double, 2>{z - h / 2 + kLowestGrasp, z}
                : std::array<double, 2>{z - h / 4, z + h / 4};
      // A lying object is grasped straight down by GrabPoseEstimateFunc unless it may tilt.
      const bool main_upright = lying && !windows.main_entry_slants;
      for (int e : {kMain, kCommon}) {
        if (codes[e] != litterpose::kGrabFound) continue;
        const double max_tilt = e == kMain && main_upright ? 0.0 : criteria.approach_tolerance_deg;
        std::optional<bool> reached;
        for (double dd : {-margins.reach, 0.0, margins.reach}) {
          for (double height : heights) {
            const bool any = graspReachable(
                *reach, t, at(std::max(0.0, d + dd), bearing, height), criteria, max_tilt);
            if (reached && *reached != any) return std::nullopt;
            reached = any;
          }
        }
        if (!*reached) codes[e] = litterpose::kNoGrasp;
      }
    }
    for (int e = 0; e < litterpose::kEntryCount; ++e)
      if (too_few[e]) codes[e] = litterpose::kTooFewPoints;
    return codes;
  };
}

std::vector<int> family(int expected, Entry entry) {
  if (entry == Entry::GrabPoseEstimateFunc && expected > 300 && expected < 315) {
    const int base = expected < 310 ? 300 : 310;
    return {base + 1, base + 2, base + 3, base + 4};
  }
  return {expected};
}

Outcome score(const capture_sim::Scene& scene, Entry entry, int code,
              const GrabPoseEstimate& after, double ms, const Criteria& criteria) {
  Outcome o;
  o.code = code;
  o.expected = scene.expected[static_cast<int>(entry)];
  o.ms = ms;
  const std::vector<int> right = family(o.expected, entry);
  o.in_family = std::find(right.begin(), right.end(), code) != right.end();
  o.reachable = o.expected == litterpose::kGrabFound;
  o.centre_error = o.approach_error = o.axis_error = kNaN;
  if (code != litterpose::kGrabFound) return o;

  const auto& t = scene.truth;
  const Eigen::Vector3d position = after.grab_pose_.position.cast<double>();
  const Eigen::Matrix3d rotation = after.grab_pose_.orientation.normalized().toRotationMatrix();
  o.centre_error = (position.head<2>() - t.centre.head<2>()).norm();
  const OrientationErrors errors = orientationErrors(t, rotation);
  o.approach_error = errors.approach_deg;
  o.axis_error = errors.axis_deg;
  o.success = o.reachable && o.centre_error <= criteria.centre_tolerance &&
              orientationMeets(t, errors, criteria);
  return o;
}

void Cell::add(const Outcome& o) {
  ++scenes;
  in_family += o.in_family;
  total_ms += o.ms;
  gripper_refusals += o.refused_by_gripper;
  if (o.code == litterpose::kGrabFound) {
    ++grasps;
    bad_grasps += o.collides || !o.fits;
    too_wide += !o.fits;
  }
  if (!o.reachable) return;
  ++reachable;
  successes += o.success;
  if (std::isfinite(o.centre_error)) centre_errors.push_back(o.centre_error);
  if (std::isfinite(o.axis_error)) axis_errors.push_back(o.axis_error);
}

double Cell::badGraspShare() const {
  return grasps > 0 ? static_cast<double>(bad_grasps) / grasps : kNaN;
}

void Cell::compare(const Outcome& mine, const Outcome& other) {
  if (!mine.reachable) return;
  lost_to_other += other.success && !mine.success;
  won_from_other += mine.success && !other.success;
}

double binomialAtMost(int successes, int n, double p) {
  if (successes >= n) return 1.0;
  if (successes < 0) return 0.0;
  double total = 0.0;
  for (int i = 0; i <= successes; ++i)
    total += std::exp(std::lgamma(n + 1.0) - std::lgamma(i + 1.0) - std::lgamma(n - i + 1.0) +
                      i * std::log(p) + (n - i) * std::log1p(-p));
  return std::min(1.0, total);
}

double Cell::codeAccuracy() const {
  return scenes ? static_cast<double>(in_family) / scenes : kNaN;
}
double Cell::graspSuccess() const {
  return reachable ? static_cast<double>(successes) / reachable : kNaN;
}
double Cell::medianCentreError() const { return median(centre_errors); }
double Cell::medianAxisError() const { return median(axis_errors); }
double Cell::msPerEstimate() const { return scenes ? total_ms / scenes : kNaN; }

std::vector<GoalCheck> checkGoals(const std::vector<ProfileResult>& results, const Goals& goals) {
  std::vector<GoalCheck> checks;
  const auto percent = [](double share) {
    std::ostringstream s;
    s.precision(1);
    s << std::fixed << 100.0 * share << " %";
    return s.str();
  };
  const auto millimetres = [](double metres) {
    std::ostringstream s;
    s.precision(1);
    s << std::fixed << 1000.0 * metres << " mm";
    return s.str();
  };
  for (const ProfileResult& r : results) {
    const bool field = r.artefacts == capture_sim::Artefacts::field;
    for (std::size_t c = 0; c < r.classes.size(); ++c) {
      const capture_sim::Litter kind = r.classes[c];
      for (std::size_t e = 0; e < kEntries.size(); ++e) {
        const Cell& standard = r.cells[c][e][0];
        const Cell& robust = r.cells[c][e][1];
        if (robust.reachable == 0) continue;
        const std::string where = std::string(capture_sim::artefactsName(r.artefacts)) + ", " +
                                  capture_sim::litterName(kind) + ", " + entryName(kEntries[e]) +
                                  ": robust ";
        const std::string success = where + "grasp success " + percent(robust.graspSuccess());
        const bool lying_goal =
            r.artefacts == capture_sim::Artefacts::realistic && capture_sim::isLying(kind);
        if (lying_goal || field) {
          const double least = !field               ? goals.lying_grasp_success
                               : isSmallLitter(kind) ? goals.small_litter_grasp_success
                                                     : goals.field_grasp_success;
          GoalCheck g{success + " >= " + percent(least)};
          g.met = robust.graspSuccess() >= least;
          g.significant =
              !g.met && binomialAtMost(robust.successes, robust.reachable, least) <
                            goals.significance;
          checks.push_back(g);
        }
        if (field && capture_sim::isLying(kind)) {
          const double centre = robust.medianCentreError();
          GoalCheck g{where + "median centre error " + millimetres(centre) + " <= " +
                      millimetres(goals.field_median_centre_error)};
          g.met = centre <= goals.field_median_centre_error;
          g.significant = !g.met;
          checks.push_back(g);
        }
        // Both preparations see the same scenes: compare the discordant pairs.
        GoalCheck g{success + " >= default " + percent(standard.graspSuccess())};
        g.met = robust.successes >= standard.successes;
        const int discordant = robust.lost_to_other + robust.won_from_other;
        g.significant = !g.met && 1.0 - binomialAtMost(robust.lost_to_other - 1, discordant, 0.5) <
                                      goals.significance;
        checks.push_back(g);
      }
    }
  }
  return checks;
}

}  // namespace litterpose_eval

#include "evaluation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

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
// The lowest grasp point the judge proves reachable, above the floor.
constexpr double kLowestGrasp = 0.005;
// Angles are compared with this slack: the estimator's own 20-degree candidate is a
// 20-degree candidate, whatever the last bit of its quaternion.
constexpr double kAngleSlack = 1e-6;

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

// The window test of GrabPoseEstimateFunc: 0 inside, else family + 1 (near) to 4 (right).
int windowCode(double distance, double bearing_deg, double d_min, double d_max, double a_min,
               double a_max, int family) {
  if (distance < d_min) return family + 1;
  if (distance > d_max) return family + 2;
  if (bearing_deg < a_min) return family + 3;
  if (bearing_deg > a_max) return family + 4;
  return 0;
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
  return p == Preparation::standard ? "default" : "robust";
}

capture_sim::Camera cameraOf(const GrabPoseEstimate& e, int width, int height) {
  capture_sim::Camera c = capture_sim::cameraOf(e);
  c.width = width > 0 ? width : roundedImageSize(e.cx_);
  c.height = height > 0 ? height : roundedImageSize(e.cy_);
  return c;
}

void placeScenes(const GrabPoseEstimate& e, capture_sim::SceneSetOptions& set) {
  capture_sim::PlaceRange& r = set.range;
  r.distance_min = 0.05;
  r.distance_max =
      std::max(e.grab_vertical_distance_max_, e.grab_parallel_distance_max_) + kBeyondWindows;
  const double low = std::min({e.grab_vertical_angle_min_, e.grab_parallel_angle_min_,
                               e.workspace_angle_min_});
  const double high = std::max({e.grab_vertical_angle_max_, e.grab_parallel_angle_max_,
                                e.workspace_angle_max_});
  r.bearing_min = std::max(-180.0, low - kBeyondBearings);
  r.bearing_max = std::min(180.0, high + kBeyondBearings);
  set.lying_reach = {e.grab_vertical_distance_min_, e.grab_vertical_distance_max_,
                     e.grab_vertical_angle_min_, e.grab_vertical_angle_max_};
  set.standing_reach = {e.grab_parallel_distance_min_, e.grab_parallel_distance_max_,
                        e.grab_parallel_angle_min_, e.grab_parallel_angle_max_};
}

namespace {

using Quat = Eigen::Quaterniond;

Quat turn(double degrees_, const Eigen::Vector3d& axis) {
  return Quat(Eigen::AngleAxisd(degrees_ * kDegree, axis.normalized()));
}

// The candidates an entry tries for trash type 3 at a grasp point (in its order), kept to
// those that meet the approach criterion: a grasp found with any other could not succeed.
std::vector<Quat> candidatesWithinTolerance(const GrabPoseEstimate& e, Entry entry, bool lying,
                                            const Eigen::Vector3d& p,
                                            const Eigen::Vector2d& long_axis,
                                            double tolerance_deg) {
  std::vector<std::pair<double, Quat>> tilted;  // tilt in degrees, orientation
  const Quat down(0.0, 0.0, 1.0, 0.0);
  if (lying) {
    Eigen::Vector2d v = long_axis;
    if (v.x() < 0) v = -v;
    const Quat first = down * turn(degrees(std::atan2(-v.y(), v.x())), Eigen::Vector3d::UnitZ());
    tilted.push_back({0.0, first});
    if (entry == Entry::CommonGrabPoseFunc) {
      // Slanted outward about the horizontal axis across the bearing.
      const Eigen::Vector3d across(-p.y(), p.x(), 0.0);
      for (int n = 5; n <= 25; n += 5)
        if (across.squaredNorm() > 0.0)
          tilted.push_back({static_cast<double>(n), turn(-n, across) * first});
    } else if (e.is_grab_slanted_) {
      for (int phi = 10; phi <= 30; phi += 10) {
        tilted.push_back({static_cast<double>(phi), first * turn(phi, Eigen::Vector3d::UnitX())});
        tilted.push_back({static_cast<double>(phi), first * turn(-phi, Eigen::Vector3d::UnitX())});
      }
    }
  } else {
    const Quat side(0.7071067811865476, 0.0, 0.7071067811865475, 0.0);
    const Quat first =
        down * side * turn(-degrees(std::atan2(p.y(), -p.x())), Eigen::Vector3d::UnitX());
    tilted.push_back({0.0, first});
    for (int phi = 10; phi <= 30; phi += 10)
      tilted.push_back({static_cast<double>(phi), first * turn(-phi, Eigen::Vector3d::UnitY())});
  }
  std::vector<Quat> kept;
  for (const auto& [tilt, q] : tilted)
    if (tilt <= tolerance_deg + kAngleSlack) kept.push_back(q);
  return kept;
}

}  // namespace

capture_sim::Judge makeJudge(GrabPoseEstimate& oracle, const Criteria& criteria,
                             const Margins& margins) {
  return [&oracle, criteria, margins](const capture_sim::GroundTruth& t)
             -> std::optional<capture_sim::Expected> {
    const bool lying = capture_sim::isLying(t.kind);
    const double floor = -oracle.base_height_;
    const double d = t.centre.head<2>().norm();
    const double bearing = std::atan2(t.centre.y(), -t.centre.x());
    const double lateral = d > margins.lateral ? std::asin(margins.lateral / d) : M_PI / 2;
    const auto at = [&](double r, double b, double z) {
      return Eigen::Vector3f(static_cast<float>(-r * std::cos(b)),
                             static_cast<float>(r * std::sin(b)), static_cast<float>(z));
    };

    // The windows, from the floor to the object's top, all around the centre.
    std::optional<capture_sim::Expected> seen;
    for (double dd : {-margins.distance, 0.0, margins.distance}) {
      for (double db : {-lateral, 0.0, lateral}) {
        for (double z : {floor, floor + t.height}) {
          const double r = std::max(0.0, d + dd);
          const double b = bearing + db;
          const Eigen::Vector3f p = at(r, b, z);
          capture_sim::Expected codes{};
          const int window =
              lying ? windowCode(r, degrees(b), oracle.grab_vertical_distance_min_,
                                 oracle.grab_vertical_distance_max_,
                                 oracle.grab_vertical_angle_min_, oracle.grab_vertical_angle_max_,
                                 300)
                    : windowCode(r, degrees(b), oracle.grab_parallel_distance_min_,
                                 oracle.grab_parallel_distance_max_,
                                 oracle.grab_parallel_angle_min_, oracle.grab_parallel_angle_max_,
                                 310);
          codes[static_cast<int>(Entry::GrabPoseEstimateFunc)] = window == 0 ? 1 : window;
          const bool in_workspace = oracle.IsInWorkspace(p);
          const bool in_grab_space =
              in_workspace && oracle.isInGrabSpace(lying ? HORIZONTAL : VERTICAL, p);
          codes[static_cast<int>(Entry::CommonGrabPoseFunc)] =
              !in_workspace ? litterpose::kOutsideWorkspace
              : !in_grab_space ? (lying ? litterpose::kType1TooNear : litterpose::kStandingTooNear)
                               : litterpose::kGrabFound;
          codes[static_cast<int>(Entry::GetInitialGrabPose)] =
              in_workspace ? litterpose::kGrabFound : litterpose::kOutsideWorkspace;
          if (seen && *seen != codes) return std::nullopt;
          seen = codes;
        }
      }
    }

    // Within the windows, the entries that prove reachability find a grasp only where the
    // arm reaches one of their candidates that meets the criterion; elsewhere they answer
    // that no grasp is reachable. The grasp point is taken from just above the floor to
    // mid-height (from above), or around the middle (from the side).
    for (const Entry entry : {Entry::GrabPoseEstimateFunc, Entry::CommonGrabPoseFunc}) {
      int& code = (*seen)[static_cast<int>(entry)];
      if (code != litterpose::kGrabFound) continue;
      std::optional<bool> reached;
      for (double dd : {-margins.reach, 0.0, margins.reach}) {
        for (double level : {0.0, 1.0}) {
          const double z = lying ? floor + (level == 0.0 ? kLowestGrasp : t.height / 2)
                                 : floor + t.height * (level == 0.0 ? 0.25 : 0.75);
          const Eigen::Vector3f p = at(std::max(0.0, d + dd), bearing, z);
          bool any = false;
          for (const Quat& q : candidatesWithinTolerance(oracle, entry, lying, p.cast<double>(),
                                                          t.long_axis,
                                                          criteria.approach_tolerance_deg))
            if (oracle.isIKSolved({p, q})) {
              any = true;
              break;
            }
          if (reached && *reached != any) return std::nullopt;
          reached = any;
        }
      }
      if (!*reached) code = litterpose::kNoGrasp;
    }
    return seen;
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
  const Eigen::Vector3d tool_z = rotation.col(2);
  const Eigen::Vector3d tool_x = rotation.col(0);
  o.centre_error = (position.head<2>() - t.centre.head<2>()).norm();
  const bool lying = capture_sim::isLying(t.kind);
  bool approach_ok;
  if (lying) {
    o.approach_error = angleBetween(tool_z, -Eigen::Vector3d::UnitZ());
    approach_ok = o.approach_error <= criteria.approach_tolerance_deg + kAngleSlack;
    const Eigen::Vector3d gripper(tool_x.x(), tool_x.y(), 0.0);
    const Eigen::Vector3d axis(t.long_axis.x(), t.long_axis.y(), 0.0);
    const double a = angleBetween(gripper, axis);
    o.axis_error = std::min(a, 180.0 - a);
  } else {
    o.approach_error = std::abs(degrees(std::asin(std::clamp(tool_z.z(), -1.0, 1.0))));
    const Eigen::Vector3d towards(t.centre.x(), t.centre.y(), 0.0);
    approach_ok = o.approach_error <= criteria.approach_tolerance_deg + kAngleSlack &&
                  angleBetween(Eigen::Vector3d(tool_z.x(), tool_z.y(), 0.0), towards) <=
                      kSideBearingTolerance;
  }
  o.success = o.reachable && o.centre_error <= criteria.centre_tolerance && approach_ok &&
              (!lying || o.axis_error <= criteria.axis_tolerance_deg + kAngleSlack);
  return o;
}

void Cell::add(const Outcome& o) {
  ++scenes;
  in_family += o.in_family;
  total_ms += o.ms;
  if (!o.reachable) return;
  ++reachable;
  successes += o.success;
  if (std::isfinite(o.centre_error)) centre_errors.push_back(o.centre_error);
  if (std::isfinite(o.axis_error)) axis_errors.push_back(o.axis_error);
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
  const auto& classes = capture_sim::sceneClasses();
  const auto percent = [](double share) {
    std::ostringstream s;
    s.precision(1);
    s << std::fixed << 100.0 * share << " %";
    return s.str();
  };
  for (const ProfileResult& r : results) {
    for (std::size_t c = 0; c < classes.size(); ++c) {
      for (std::size_t e = 0; e < kEntries.size(); ++e) {
        const Cell& standard = r.cells[c][e][0];
        const Cell& robust = r.cells[c][e][1];
        if (robust.reachable == 0) continue;
        const std::string where = std::string(capture_sim::artefactsName(r.artefacts)) + ", " +
                                  capture_sim::litterName(classes[c]) + ", " +
                                  entryName(kEntries[e]) + ": robust grasp success " +
                                  percent(robust.graspSuccess());
        if (r.artefacts == capture_sim::Artefacts::realistic && capture_sim::isLying(classes[c])) {
          GoalCheck g{where + " >= " + percent(goals.lying_grasp_success)};
          g.met = robust.graspSuccess() >= goals.lying_grasp_success;
          g.significant = !g.met && binomialAtMost(robust.successes, robust.reachable,
                                                   goals.lying_grasp_success) < goals.significance;
          checks.push_back(g);
        }
        // Both preparations see the same scenes: compare the discordant pairs.
        GoalCheck g{where + " >= default " + percent(standard.graspSuccess())};
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

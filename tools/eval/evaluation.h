// Grasp quality of the estimation entries over randomised scenes: what each scene should
// give (judged from its geometry, the configured windows and the arm's reach, independently
// of the estimator), how an estimate is scored against the scene's ground truth, and the
// figures per class, entry and preparation.
#ifndef LITTERPOSE_TOOLS_EVAL_EVALUATION_H
#define LITTERPOSE_TOOLS_EVAL_EVALUATION_H

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <litterpose.h>
#include <litterpose_result.h>

#include "scenes.h"

namespace litterpose_eval {

using litterpose::Entry;

inline constexpr std::array<Entry, 3> kEntries = {
    Entry::GrabPoseEstimateFunc, Entry::CommonGrabPoseFunc, Entry::GetInitialGrabPose};
const char* entryName(Entry entry);

// The robust preparation also runs with the gripper model on (the map gripper enabled,
// whatever the configuration's enable says).
enum class Preparation { standard, robust, gripper };
inline constexpr std::array<Preparation, 3> kPreparations = {
    Preparation::standard, Preparation::robust, Preparation::gripper};
const char* preparationName(Preparation p);  // "default", "robust", "gripper"

// The success criterion of one estimate of a scene in which the entry should grasp.
struct Criteria {
  double centre_tolerance = 0.03;  // grasp point to true centre, horizontally, metres
  double approach_tolerance_deg = 20.0;  // tool z from straight down (lying) or horizontal
  double axis_tolerance_deg = 15.0;      // lying: gripper x axis from the long axis
};

// Distance and lateral margins by which a scene's centre must clear every window edge,
// and the distance by which it must clear the edge of the arm's reach.
struct Margins {
  double distance = 0.04;
  double lateral = 0.04;
  double reach = 0.02;
};

// The camera the configuration describes; the image is twice the principal point, rounded
// to a multiple of 16 pixels, unless width and height are given.
capture_sim::Camera cameraOf(const GrabPoseEstimate& e, int width = 0, int height = 0);

// A distance window (metres) and a bearing window (degrees, atan2(y, -x)).
struct Window {
  double distance_min = 0.0;
  double distance_max = 0.0;
  double angle_min = 0.0;
  double angle_max = 0.0;
};

// What the judge takes from the configuration file, read from the file itself.
struct ConfiguredWindows {
  double base_height = 0.0;
  Window workspace;  // distance from the workspace's reference circle
  Window vertical;   // grasps from above
  Window parallel;   // grasps from the side
  bool main_entry_prepares = true;  // enable_process_cloud: GrabPoseEstimateFunc counts points
  // is_grab_slanted: GrabPoseEstimateFunc may tilt a grasp from above; without it, it grasps
  // a lying object straight down or not at all.
  bool main_entry_slants = false;
};
// Throws the YAML library's exception for a file it cannot read or a key it lacks.
ConfiguredWindows readWindows(const std::string& config_path);

// Where scenes are placed: around the configured windows, and (reachable scenes) within
// the vertical or the parallel window.
void placeScenes(const ConfiguredWindows& w, capture_sim::SceneSetOptions& set);

// The window test of GrabPoseEstimateFunc: 0 inside, else family + 1 (too near), + 2 (too
// far), + 3 (too far left) or + 4 (too far right); a value on a bound is inside.
int windowCode(const Window& w, double distance, double bearing_deg, int family);
// The workspace sector of CommonGrabPoseFunc and GetInitialGrabPose at a grasp point.
bool inWorkspace(const ConfiguredWindows& w, const Eigen::Vector3d& p);
// The grab space of CommonGrabPoseFunc: the vertical (from above) or the parallel window,
// whose distances grow with the point's height above the floor.
bool inGrabSpace(const ConfiguredWindows& w, bool from_above, const Eigen::Vector3d& p);

// The arm as the estimator builds its kinematics (Denavit-Hartenberg values), and the
// posture its inverse kinematics starts from.
struct Arm {
  std::array<double, 6> d{}, a{}, alpha{}, offset{}, reference{};
};
Arm armOf(const GrabPoseEstimate& e);

// Whether the arm holds the tool centre point at p (metres, base frame) with the tool
// turned by `tool` (columns: the tool's x, y and z axes in the base frame).
class Reach {
public:
  explicit Reach(const Arm& arm);
  ~Reach();
  bool reaches(const Eigen::Vector3d& p, const Eigen::Matrix3d& tool) const;

private:
  std::unique_ptr<QuorvinKinematics> kinematics_;
  std::array<double, 6> reference_;
};

// Errors of a grasp orientation against an object's: the tool z axis from straight down
// (lying) or from horizontal (standing), degrees; the gripper's x axis from the long axis
// (lying objects with one; NaN otherwise), degrees; for standing objects whether the tool
// points from the base towards the object.
struct OrientationErrors {
  double approach_deg = 0.0;
  double axis_deg = 0.0;
  bool towards_object = true;
};
OrientationErrors orientationErrors(const capture_sim::GroundTruth& t,
                                    const Eigen::Matrix3d& tool);
bool orientationMeets(const capture_sim::GroundTruth& t, const OrientationErrors& errors,
                      const Criteria& criteria);

// Whether some grasp at p whose orientation meets the criteria is within the arm's reach:
// the approach sampled over its cone, the tool's turn about it around the circle.
// The approach leans at most max_tilt_deg from straight down (or from horizontal).
bool graspReachable(const Reach& reach, const capture_sim::GroundTruth& t,
                    const Eigen::Vector3d& p, const Criteria& criteria, double max_tilt_deg);

// The codes each entry should give for trash type 3, judged from the scene's geometry: the
// configured windows, workspace and grab space at the true centre (between the object's
// lowest and highest point); the capture's point count against the entries' minimums
// (10 points for GrabPoseEstimateFunc when it prepares the cloud, 100 for the others;
// undecided from 0.75 to 1.5 times the minimum: a preparation that cannot cut the floor
// band from an object too small estimates on both); and where GrabPoseEstimateFunc and
// CommonGrabPoseFunc should find a grasp, the arm's reach of a grasp that meets the
// orientation criteria there (1111 when it reaches none; GrabPoseEstimateFunc grasps a lying
// object straight down only, unless is_grab_slanted lets it tilt). nullopt when moving the centre by
// the margins, or between the object's lowest and highest point, changes a code, or when
// the point count is undecided: the scene lies too near an edge to say.
capture_sim::Judge makeJudge(const ConfiguredWindows& windows, const Arm& arm,
                             const Criteria& criteria = {}, const Margins& margins = {});

// The codes that count as right when `expected` is: the expected code, and for a window
// refusal of GrabPoseEstimateFunc any refusal of that window.
std::vector<int> family(int expected, Entry entry);

struct Outcome {
  int code = 0;
  int expected = 0;
  bool in_family = false;
  bool reachable = false;       // expected == 1
  bool success = false;         // reachable, found, and within the criteria
  double centre_error = 0.0;    // metres; NaN without a pose
  double approach_error = 0.0;  // degrees; NaN without a pose
  double axis_error = 0.0;      // degrees, lying classes with a long axis; NaN otherwise
  double ms = 0.0;
  // The gripper judged at the returned grasp (judgeGripper); both true without one.
  bool fits = true;
  bool collides = false;
  bool refused_by_gripper = false;  // the estimator's gripper model refused it (its reason)
};

Outcome score(const capture_sim::Scene& scene, Entry entry, int code,
              const GrabPoseEstimate& after, double ms, const Criteria& criteria);

// Figures of one class, entry and preparation.
struct Cell {
  int scenes = 0;
  int in_family = 0;
  int reachable = 0;
  int successes = 0;
  std::vector<double> centre_errors;  // of reachable scenes with a found pose
  std::vector<double> axis_errors;
  double total_ms = 0.0;
  // Robust cells: reachable scenes that only the other preparation grasped, and the
  // reverse (the discordant pairs of a paired comparison).
  int lost_to_other = 0;
  int won_from_other = 0;
  // Returned grasps, those the gripper judge finds colliding or too wide (or both), and
  // estimates the gripper model refused.
  int grasps = 0;
  int bad_grasps = 0;
  int too_wide = 0;
  int gripper_refusals = 0;

  void add(const Outcome& o);
  void compare(const Outcome& mine, const Outcome& other);
  double codeAccuracy() const;   // share of scenes with a code of the expected family
  double graspSuccess() const;   // share of reachable scenes grasped within the criteria
  double medianCentreError() const;  // metres, NaN when none
  double medianAxisError() const;    // degrees, NaN when none
  double msPerEstimate() const;
  double badGraspShare() const;  // of the returned grasps, NaN when none
};

// cells[class][entry][preparation], classes in the order of the profile's classes.
using Cells = std::vector<std::array<std::array<Cell, 3>, 3>>;

// What one scene should give and what each entry gave, per preparation.
struct SceneRecord {
  int index = 0;
  capture_sim::Litter kind = capture_sim::Litter::kBottleLying;
  capture_sim::Expected expected{};
  std::array<std::array<Outcome, 3>, 3> outcomes{};  // [entry][preparation]
};

struct ProfileResult {
  capture_sim::Artefacts artefacts = capture_sim::Artefacts::realistic;
  std::vector<capture_sim::Litter> classes;
  Cells cells;
  std::vector<SceneRecord> scenes;
  std::vector<int> left_out;  // scenes with no place in view and clear of the windows' edges
  double seconds = 0.0;  // wall time of the whole profile
};

// The goals of the robust preparation, for every class and entry: on realistic captures
// a grasp success of at least lying_grasp_success for every lying class; in the field a
// grasp success of at least field_grasp_success for every class (small_litter_grasp_success
// for cigarette butts and bottle caps) and a median centre error of at most
// field_median_centre_error for every lying class; on every profile a grasp success not
// below the default preparation's.
struct Goals {
  double lying_grasp_success = 0.97;
  double field_grasp_success = 0.97;
  double small_litter_grasp_success = 0.95;
  double field_median_centre_error = 0.010;
  // A miss is significant when a sample this unlikely or less would arise from a
  // preparation that meets the goal (one-sided exact binomial and sign tests): a small
  // set tells a real shortfall from the luck of a few scenes. (A median has no such test:
  // any miss counts.)
  double significance = 0.05;
};

struct GoalCheck {
  std::string what;
  bool met = false;          // the figures meet the goal
  bool significant = false;  // missed, and by more than chance explains
};
std::vector<GoalCheck> checkGoals(const std::vector<ProfileResult>& results, const Goals& goals);

// P(X <= successes) for X binomial with n trials of probability p.
double binomialAtMost(int successes, int n, double p);

}  // namespace litterpose_eval

#endif

// Grasp quality of the estimation entries over randomised scenes: what each scene should
// give (judged with the configuration's own window tests), how an estimate is scored
// against the scene's ground truth, and the figures per class, entry and preparation.
#ifndef LITTERPOSE_TOOLS_EVAL_EVALUATION_H
#define LITTERPOSE_TOOLS_EVAL_EVALUATION_H

#include <array>
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

enum class Preparation { standard, robust };
inline constexpr std::array<Preparation, 2> kPreparations = {Preparation::standard,
                                                             Preparation::robust};
const char* preparationName(Preparation p);  // "default", "robust"

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

// Where scenes are placed: around the configured windows, and (reachable scenes) within
// the vertical or the parallel window.
void placeScenes(const GrabPoseEstimate& e, capture_sim::SceneSetOptions& set);

// The codes each entry should give for trash type 3, judged at the scene's centre with the
// configuration's own window, workspace and grab-space tests, run on the given estimator
// (which logs to standard output). Within the windows, GrabPoseEstimateFunc and
// CommonGrabPoseFunc should find a grasp (1) only where the arm reaches one of their
// candidates that meets the approach criterion, and answer 1111 elsewhere. nullopt when
// moving the centre by the margins, or between the floor and the object's top, changes a
// code: the scene lies too near an edge to say.
capture_sim::Judge makeJudge(GrabPoseEstimate& oracle, const Criteria& criteria = {},
                             const Margins& margins = {});

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
  double axis_error = 0.0;      // degrees, lying classes; NaN otherwise
  double ms = 0.0;
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

  void add(const Outcome& o);
  void compare(const Outcome& mine, const Outcome& other);
  double codeAccuracy() const;   // share of scenes with a code of the expected family
  double graspSuccess() const;   // share of reachable scenes grasped within the criteria
  double medianCentreError() const;  // metres, NaN when none
  double medianAxisError() const;    // degrees, NaN when none
  double msPerEstimate() const;
};

// cells[class][entry][preparation], classes in the order of capture_sim::sceneClasses().
using Cells = std::vector<std::array<std::array<Cell, 2>, 3>>;

struct ProfileResult {
  capture_sim::Artefacts artefacts = capture_sim::Artefacts::realistic;
  Cells cells;
};

// The goals of the robust preparation, for every class and entry: on realistic captures
// a grasp success of at least lying_grasp_success for every lying class, and on both
// profiles a grasp success not below the default preparation's.
struct Goals {
  double lying_grasp_success = 0.97;
  // A miss is significant when a sample this unlikely or less would arise from a
  // preparation that meets the goal (one-sided exact binomial and sign tests): a small
  // set tells a real shortfall from the luck of a few scenes.
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

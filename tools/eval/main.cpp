// litterpose-eval: grasp quality of the estimation entries over seeded, randomised scenes
// rendered through the configured camera, with the default and the robust preparation.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <litterpose.h>
#include <litterpose_console.h>

#include "comparison.h"
#include "evaluation.h"
#include "gripper_judge.h"
#include "json_line.h"
#include "report.h"

namespace {

using namespace litterpose_eval;

constexpr int kFailed = 1;
constexpr int kUsageOrInputError = 2;
constexpr unsigned kDefaultSeed = 20240917;

const char kUsage[] =
    "usage: litterpose-eval --config FILE [--scenes N] [--seed N]\n"
    "                       [--artefacts realistic|clean|field|both|all] [--image WxH]\n"
    "                       [--json FILE] [--chart FILE.png] [--details FILE] [--check-goals]\n"
    "                       [--compare REPORT.json [--tolerate N]]\n"
    "                       [--depth-step M] [--depth-noise K]\n"
    "Renders N seeded scenes per capture profile (default 1000; all three profiles, 'both'\n"
    "being realistic and clean) of litter on the floor through the configured camera,\n"
    "estimates each with GrabPoseEstimateFunc, CommonGrabPoseFunc and GetInitialGrabPose\n"
    "(trash type 3), with the default preparation, the robust one, and the robust one with\n"
    "the gripper model on (the configuration's map gripper, enabled), and scores every\n"
    "estimate against the scene's ground truth; every returned grasp is also judged against\n"
    "the scene's true solids and floor: does the object fit the opening, do the open fingers\n"
    "or the palm enter the floor or the object. The field profile adds a floor that is off,\n"
    "sloped and rough, a camera mounting off from its calibration, and more classes (among\n"
    "them a carton wider than a gripper opens, a cup with a handle, a bottle with its neck\n"
    "folded beside it). Prints two tables per profile (class x entry: grasp quality, and the\n"
    "gripper model off and on) on standard output; --json writes the same\n"
    "figures and every scene's outcomes, --chart a PNG of the grasp success per class,\n"
    "--details one JSON line per estimate. --check-goals exits 1 when the robust preparation\n"
    "falls below a goal by more than the luck of a few scenes explains (one-sided exact test\n"
    "at 5 %). --compare exits 1 when the run differs from a report written by --json with the\n"
    "same configuration and seed (timings aside): scene by scene for the first N scenes, and\n"
    "cell by cell when N is all the report holds; --tolerate lets N estimates differ (a build\n"
    "whose floating point differs from the one that wrote the report), not counting those\n"
    "whose centre error alone moved, by at most 1 mm. --depth-step and --depth-noise model\n"
    "another depth camera in the realistic and field profiles: depth in steps of M metres\n"
    "(default 0.001, 0 for none) and noise drawn per scene from 0.001 up to K metres per\n"
    "square metre of depth (default 0.003).\n"
    "Exit status: 0 done (and goals held, and the run matched), 1 a goal missed, the run\n"
    "differs from the report, or an output not written, 2 wrong arguments, an unusable\n"
    "configuration, or a report that cannot be compared.\n";

struct Options {
  std::string config;
  int scenes = 1000;
  unsigned seed = kDefaultSeed;
  std::vector<capture_sim::Artefacts> profiles = {capture_sim::Artefacts::realistic,
                                                  capture_sim::Artefacts::clean,
                                                  capture_sim::Artefacts::field};
  int width = 0, height = 0;
  std::string json, chart, details, compare;
  int tolerate = 0;
  bool check_goals = false;
  capture_sim::DepthCamera depth;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "litterpose-eval: %s\n%s", message.c_str(), kUsage);
  return kUsageOrInputError;
}

bool parseNumber(const std::string& text, double low, double high, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && value >= low && value <= high;
}

bool parseCount(const std::string& text, long low, long high, long& value) {
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && value >= low && value <= high;
}

int parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--check-goals") {
      o.check_goals = true;
      continue;
    }
    const bool takes_value = arg == "--config" || arg == "--scenes" || arg == "--seed" ||
                             arg == "--artefacts" || arg == "--image" || arg == "--json" ||
                             arg == "--chart" || arg == "--details" || arg == "--compare" ||
                             arg == "--tolerate" || arg == "--depth-step" ||
                             arg == "--depth-noise";
    if (!takes_value) return usageError("unknown argument '" + arg + "'");
    if (i + 1 >= argc) return usageError(arg + " needs a value");
    const std::string value = argv[++i];
    long n = 0;
    if (arg == "--config") {
      o.config = value;
    } else if (arg == "--scenes") {
      if (!parseCount(value, 1, 1000000, n))
        return usageError("--scenes needs a count, not '" + value + "'");
      o.scenes = static_cast<int>(n);
    } else if (arg == "--seed") {
      if (!parseCount(value, 0, 4294967295L, n))
        return usageError("--seed needs a number, not '" + value + "'");
      o.seed = static_cast<unsigned>(n);
    } else if (arg == "--artefacts") {
      using capture_sim::Artefacts;
      if (value == "realistic") o.profiles = {Artefacts::realistic};
      else if (value == "clean") o.profiles = {Artefacts::clean};
      else if (value == "field") o.profiles = {Artefacts::field};
      else if (value == "both") o.profiles = {Artefacts::realistic, Artefacts::clean};
      else if (value == "all")
        o.profiles = {Artefacts::realistic, Artefacts::clean, Artefacts::field};
      else
        return usageError("--artefacts must be realistic, clean, field, both or all, not '" +
                          value + "'");
    } else if (arg == "--tolerate") {
      if (!parseCount(value, 0, 1000000000L, n))
        return usageError("--tolerate needs a count, not '" + value + "'");
      o.tolerate = static_cast<int>(n);
    } else if (arg == "--compare") {
      o.compare = value;
    } else if (arg == "--depth-step") {
      if (!parseNumber(value, 0.0, 0.05, o.depth.step))
        return usageError("--depth-step needs metres from 0 to 0.05, not '" + value + "'");
    } else if (arg == "--depth-noise") {
      if (!parseNumber(value, 0.001, 0.1, o.depth.noise))
        return usageError("--depth-noise needs metres per square metre from 0.001 to 0.1, not '" +
                          value + "'");
    } else if (arg == "--image") {
      const auto x = value.find('x');
      long w = 0, h = 0;
      if (x == std::string::npos || !parseCount(value.substr(0, x), 1, 100000, w) ||
          !parseCount(value.substr(x + 1), 1, 100000, h))
        return usageError("--image needs WIDTHxHEIGHT in pixels, not '" + value + "'");
      o.width = static_cast<int>(w);
      o.height = static_cast<int>(h);
    } else if (arg == "--json") {
      o.json = value;
    } else if (arg == "--chart") {
      o.chart = value;
    } else {
      o.details = value;
    }
  }
  if (o.config.empty()) return usageError("--config FILE is required");
  if (o.tolerate > 0 && o.compare.empty()) return usageError("--tolerate needs --compare");
  return 0;
}

// The estimators print nothing: standard output holds the report.
std::unique_ptr<GrabPoseEstimate> build(const std::string& config, std::string& error) {
  try {
    return std::make_unique<GrabPoseEstimate>(config, litterpose::ConsoleSink::none());
  } catch (const std::exception& ex) {
    error = ex.what();
    return nullptr;
  }
}

// What every scene of a run is estimated and judged with: an estimator per preparation, and
// one never used to estimate, which holds the configuration's values that each estimate
// starts from.
struct Run {
  std::unique_ptr<GrabPoseEstimate> oracle, standard, robust, gripping;
  capture_sim::Camera camera;
  ConfiguredWindows windows;
  GripperSize gripper;
  Criteria criteria;
  Margins margins;
  Goals goals;
  capture_sim::Judge judge;  // what each scene should give
  double floor_z = 0.0;

  GrabPoseEstimate& estimator(std::size_t preparation) const {
    GrabPoseEstimate* estimators[3] = {standard.get(), robust.get(), gripping.get()};
    return *estimators[preparation];
  }
};

// The run of the configuration; 0, or the exit status after a line on standard error.
int prepareRun(const Options& o, Run& run) {
  std::string error;
  run.oracle = build(o.config, error);
  run.standard = run.oracle ? build(o.config, error) : nullptr;
  run.robust = run.standard ? build(o.config, error) : nullptr;
  run.gripping = run.robust ? build(o.config, error) : nullptr;
  if (!run.gripping) {
    std::fprintf(stderr, "litterpose-eval: cannot load the configuration file '%s': %s\n",
                 o.config.c_str(), error.c_str());
    return kUsageOrInputError;
  }
  // Any camera built constructs: construction refuses non-finite numbers, focal lengths
  // that are not positive and an extrinsic that is not a rigid transform.
  run.camera = cameraOf(*run.oracle, o.width, o.height);
  try {
    run.windows = readWindows(o.config);
    run.gripper = readGripper(o.config);
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "litterpose-eval: cannot read the windows of '%s': %s\n",
                 o.config.c_str(), ex.what());
    return kUsageOrInputError;
  }
  run.standard->robust_preparation_.enable = false;
  run.robust->robust_preparation_.enable = true;
  run.robust->gripper_.enable = false;
  run.gripping->robust_preparation_.enable = true;
  run.gripping->gripper_.enable = true;
  run.floor_z = -run.oracle->base_height_;
  run.judge = makeJudge(run.windows, armOf(*run.oracle), run.criteria, run.margins);
  return 0;
}

// One estimate of a scene's capture, scored against the scene and judged against its solids.
struct Estimate {
  int code = -1;
  double ms = 0.0;
  Outcome outcome;
  GripperJudgement judged;
  litterpose::Reason reason = litterpose::Reason::kNone;
};

Estimate estimateScene(const Run& run, std::size_t preparation, Entry entry,
                       const capture_sim::Scene& scene, GrabPoseEstimate::CloudPtr capture,
                       int& failures) {
  GrabPoseEstimate& estimator = run.estimator(preparation);
  auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
  estimator.PclTransform(capture, cloud, estimator.camera_extrinsic_);
  // Each estimate as from a fresh estimator: an estimate may leave the preparation's
  // margin and the main axis class behind for the next one.
  estimator.pass_ajust_value_ = run.oracle->pass_ajust_value_;
  estimator.main_axis_type_ = run.oracle->main_axis_type_;
  estimator.trash_type_ = 3;
  Estimate e;
  const auto start = std::chrono::steady_clock::now();
  try {
    e.code = litterpose::runEntry(estimator, entry, cloud);
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "litterpose-eval: scene %d, %s: %s\n", scene.index, entryName(entry),
                 ex.what());
    ++failures;
  }
  e.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  e.outcome = score(scene, entry, e.code, estimator, e.ms, run.criteria);
  if (e.code == litterpose::kGrabFound) {
    e.judged = judgeGripper(scene, run.floor_z, run.gripper,
                            estimator.grab_pose_.position.cast<double>(),
                            estimator.grab_pose_.orientation.normalized().toRotationMatrix());
    e.outcome.fits = e.judged.fits;
    e.outcome.collides = e.judged.collides;
  }
  e.reason = estimator.reason_;
  e.outcome.refused_by_gripper = e.reason == litterpose::Reason::kGripperDoesNotFit ||
                                 e.reason == litterpose::Reason::kGripperCollides;
  return e;
}

// The --details line of one estimate.
std::string detailsLine(capture_sim::Artefacts artefacts, const capture_sim::Scene& scene,
                        Entry entry, Preparation preparation, std::size_t points,
                        const Estimate& e) {
  using litterpose_estimate::JsonLine;
  const auto& t = scene.truth;
  const auto& c = scene.conditions;
  const auto& capture = scene.options;
  return JsonLine()
      .text("artefacts", capture_sim::artefactsName(artefacts))
      .integer("scene", scene.index)
      .text("class", capture_sim::litterName(t.kind))
      .text("entry", entryName(entry))
      .text("preparation", preparationName(preparation))
      .numbers("centre", {t.centre.x(), t.centre.y(), t.centre.z()})
      .number("distance", t.at.distance, 6)
      .number("bearing_deg", t.at.bearing_deg, 6)
      .number("yaw_deg", t.at.yaw_deg, 6)
      .numbers("size", {t.size.length, t.size.width, t.size.height})
      .integer("points", static_cast<long long>(points))
      .integer("object_points", t.object_points)
      .json("capture", JsonLine()
                           .number("depth_noise_per_m2", capture.depth_noise_per_m2, 4)
                           .number("depth_step", capture.depth_step, 4)
                           .number("band_width", capture.band_width, 4)
                           .number("band_density", capture.band_density, 4)
                           .number("mixed_pixel_share", capture.mixed_pixel_share, 4)
                           .number("outlier_share", capture.outlier_share, 4)
                           .number("mask_drop_share", capture.mask_drop_share, 4)
                           .str())
      .json("conditions",
            JsonLine()
                .number("floor_offset_m", c.floor_offset, 4)
                .number("slope_deg", c.slope_deg, 4)
                .number("downhill_deg", c.downhill_deg, 4)
                .number("roughness_m", capture.roughness.amplitude(), 4)
                .numbers("camera_shift_m", {c.camera_shift.x(), c.camera_shift.y(), c.camera_shift.z()})
                .number("camera_turn_deg", c.camera_turn.norm() * 180.0 / M_PI, 4)
                .str())
      .integer("expected", e.outcome.expected)
      .integer("result", e.code)
      .json("success", e.outcome.success ? "true" : "false")
      .number("centre_error_m", e.outcome.centre_error, 6)
      .number("approach_error_deg", e.outcome.approach_error, 6)
      .number("axis_error_deg", e.outcome.axis_error, 6)
      .text("gripper_judged", e.judged.what)
      .text("reason", litterpose::reasonName(e.reason))
      .number("ms", e.ms, 4)
      .str();
}

// The indices below `count` that no scene has.
std::vector<int> leftOut(const std::vector<capture_sim::Scene>& scenes, int count) {
  std::vector<int> missing;
  std::size_t next = 0;
  for (int i = 0; i < count; ++i) {
    if (next < scenes.size() && scenes[next].index == i) ++next;
    else missing.push_back(i);
  }
  return missing;
}

// Every scene of a profile through every entry and preparation; false, after a line on
// standard error, when its scenes cannot be built.
bool runProfile(const Options& o, const Run& run, capture_sim::Artefacts artefacts,
                std::ofstream& details, ProfileResult& result, int& failures) {
  const auto profile_start = std::chrono::steady_clock::now();
  capture_sim::SceneSetOptions set;
  set.count = o.scenes;
  set.seed = o.seed;
  set.artefacts = artefacts;
  set.depth = o.depth;
  placeScenes(run.windows, set);
  std::vector<capture_sim::Scene> scenes;
  try {
    scenes = capture_sim::randomScenes(set, run.camera, run.floor_z, run.judge);
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "litterpose-eval: cannot build the scenes: %s\n", ex.what());
    return false;
  }
  result.artefacts = artefacts;
  result.left_out = leftOut(scenes, o.scenes);
  if (!result.left_out.empty())
    std::fprintf(stderr,
                 "litterpose-eval: %s: %zu of %d scenes left out, no place for them is both in "
                 "view of the camera and clear of the grasp windows' edges: %s\n",
                 capture_sim::artefactsName(artefacts), result.left_out.size(), o.scenes,
                 indexList(result.left_out).c_str());
  result.classes = capture_sim::sceneClasses(artefacts);
  result.cells.resize(result.classes.size());
  for (const capture_sim::Scene& scene : scenes) {
    const std::size_t class_index = static_cast<std::size_t>(scene.index) % result.classes.size();
    SceneRecord record;
    record.index = scene.index;
    record.kind = scene.truth.kind;
    record.expected = scene.expected;
    auto capture = std::make_shared<GrabPoseEstimate::Cloud>(
        capture_sim::capture(scene.camera, scene.object, scene.options));
    for (std::size_t e = 0; e < kEntries.size(); ++e) {
      for (std::size_t p = 0; p < kPreparations.size(); ++p) {
        const Estimate estimate = estimateScene(run, p, kEntries[e], scene, capture, failures);
        result.cells[class_index][e][p].add(estimate.outcome);
        record.outcomes[e][p] = estimate.outcome;
        if (details)
          details << detailsLine(artefacts, scene, kEntries[e], kPreparations[p], capture->size(),
                                 estimate)
                  << '\n';
      }
      result.cells[class_index][e][1].compare(record.outcomes[e][1], record.outcomes[e][0]);
    }
    result.scenes.push_back(record);
  }
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - profile_start).count();
  return true;
}

// The tables and the goals on standard output; the number of goals missed by more than
// chance explains.
int printReport(const Options& o, const Run& run, const std::vector<ProfileResult>& results,
                const std::vector<GoalCheck>& checks) {
  std::fprintf(stdout,
               "litterpose-eval: %d scenes per profile, seed %u, configuration %s\n"
               "Success: result 1, grasp point within %.0f mm of the true centre (horizontally),\n"
               "tool z within %.0f° of straight down (lying) or of horizontal towards the object\n"
               "(standing), gripper x axis within %.0f° of the long axis (lying, where it has\n"
               "one).\n",
               o.scenes, o.seed, o.config.c_str(), 1000 * run.criteria.centre_tolerance,
               run.criteria.approach_tolerance_deg, run.criteria.axis_tolerance_deg);
  for (const ProfileResult& r : results) {
    printTable(stdout, r);
    printGripperTable(stdout, r);
  }
  int missed = 0, significant = 0;
  for (const GoalCheck& g : checks) {
    missed += !g.met;
    significant += g.significant;
  }
  std::fprintf(stdout,
               "\nGoals of the robust preparation: %zu checked, %d missed, %d of them by more "
               "than chance explains (one-sided exact test, %.0f %% level)\n",
               checks.size(), missed, significant, 100 * run.goals.significance);
  for (const GoalCheck& g : checks)
    if (!g.met)
      std::fprintf(stdout, "  missed%s: %s\n", g.significant ? " (significant)" : "",
                   g.what.c_str());
  std::fflush(stdout);
  return significant;
}

// The run against the report it is compared with: 0 when it matches, or the exit status
// after lines on standard error.
int compareRun(const Options& o, const std::string& json) {
  const Comparison c = compareWithRecord(json, o.compare);
  if (!c.comparable) {
    std::fprintf(stderr, "litterpose-eval: cannot compare with '%s': %s\n", o.compare.c_str(),
                 c.why_not.c_str());
    return kUsageOrInputError;
  }
  std::printf("\n%s\n", c.summary(o.compare, o.tolerate).c_str());
  std::fflush(stdout);
  for (const std::string& d : c.differences)
    std::fprintf(stderr, "litterpose-eval: %s\n", d.c_str());
  if (c.matches(o.tolerate)) return 0;
  std::fprintf(stderr,
               "litterpose-eval: the run differs from '%s' (scripts/grasp-quality.sh "
               "writes it anew)\n",
               o.compare.c_str());
  return kFailed;
}

// The chart of the report, drawn from --json's file or a scratch copy; false after a line
// on standard error.
bool chartRun(const Options& o, const std::string& json) {
  std::string json_path = o.json;
  if (json_path.empty()) {
    char scratch[] = "/tmp/litterpose-eval-XXXXXX";
    const int fd = ::mkstemp(scratch);
    if (fd >= 0) {
      ::close(fd);
      json_path = scratch;
      std::ofstream(json_path) << json;
    }
  }
  const std::string why = json_path.empty()
                              ? "no place for the report it is drawn from"
                              : drawChart(LITTERPOSE_PLOT_PYTHON, json_path, o.chart);
  if (json_path != o.json && !json_path.empty()) std::remove(json_path.c_str());
  if (why.empty()) return true;
  std::fprintf(stderr, "litterpose-eval: cannot draw the chart '%s': %s\n", o.chart.c_str(),
               why.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int status = parse(argc, argv, o); status != 0) return status;
  Run run;
  if (const int status = prepareRun(o, run); status != 0) return status;
  std::ofstream details;
  if (!o.details.empty()) {
    details.open(o.details);
    if (!details) {
      std::fprintf(stderr, "litterpose-eval: cannot write '%s'\n", o.details.c_str());
      return kFailed;
    }
  }

  std::vector<ProfileResult> results;
  int failures = 0;
  for (const capture_sim::Artefacts artefacts : o.profiles) {
    results.emplace_back();
    if (!runProfile(o, run, artefacts, details, results.back(), failures)) return kFailed;
  }
  const std::vector<GoalCheck> checks = checkGoals(results, run.goals);
  const int significant = printReport(o, run, results, checks);

  int status = 0;
  const RunInfo info{o.config, o.seed, o.scenes, run.criteria, run.margins, run.goals, o.depth};
  const std::string json = toJson(info, results, checks);
  if (!o.json.empty()) {
    std::ofstream out(o.json);
    out << json;
    if (!out) {
      std::fprintf(stderr, "litterpose-eval: cannot write '%s'\n", o.json.c_str());
      status = kFailed;
    }
  }
  if (!o.compare.empty()) {
    const int compared = compareRun(o, json);
    if (compared == kUsageOrInputError) return compared;
    if (compared != 0) status = compared;
  }
  if (!o.chart.empty() && !chartRun(o, json)) status = kFailed;
  if (failures > 0) {
    std::fprintf(stderr, "litterpose-eval: the estimator raised on %d estimates\n", failures);
    status = kFailed;
  }
  if (o.check_goals && significant > 0) {
    std::fprintf(stderr, "litterpose-eval: the robust preparation fell below %d of its goals\n",
                 significant);
    status = kFailed;
  }
  return status;
}

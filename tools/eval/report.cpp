#include "report.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>

#include "eval_chart_script.h"
#include "json_line.h"

namespace litterpose_eval {
namespace {

using litterpose_estimate::JsonLine;

std::string percent(double share) {
  if (!std::isfinite(share)) return "–";
  char s[16];
  std::snprintf(s, sizeof s, "%.1f", 100.0 * share);
  return s;
}

std::string fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "–";
  char s[32];
  std::snprintf(s, sizeof s, "%.*f", decimals, value);
  return s;
}

std::string pair(const std::string& standard, const std::string& robust) {
  return standard + " / " + robust;
}

std::string array(const std::vector<std::string>& items) {
  std::string s = "[";
  for (const auto& item : items) s += (s.size() > 1 ? "," : "") + item;
  return s + "]";
}

std::string cellJson(const Cell& c) {
  return JsonLine()
      .integer("scenes", c.scenes)
      .integer("reachable", c.reachable)
      .integer("code_in_family", c.in_family)
      .integer("grasped", c.successes)
      .number("code_accuracy", c.codeAccuracy(), 6)
      .number("grasp_success", c.graspSuccess(), 6)
      .number("median_centre_error_m", c.medianCentreError(), 6)
      .number("median_axis_error_deg", c.medianAxisError(), 6)
      .number("ms_per_estimate", c.msPerEstimate(), 6)
      .integer("grasps", c.grasps)
      .integer("gripper_colliding_or_too_wide", c.bad_grasps)
      .integer("gripper_too_wide", c.too_wide)
      .integer("refused_by_gripper", c.gripper_refusals)
      .str();
}

// One estimate as the scene outcomes hold it: result, grasped, centre error in millimetres
// to a tenth (null without a pose).
std::string estimateJson(const Outcome& o) {
  const double tenths = std::round(10000.0 * o.centre_error) / 10.0;
  return "[" + std::to_string(o.code) + "," + (o.success ? "true" : "false") + "," +
         litterpose_estimate::jsonNumber(tenths) + "]";
}

std::string sceneJson(const SceneRecord& r) {
  std::vector<std::string> expected, estimates[3];
  for (int code : r.expected) expected.push_back(std::to_string(code));
  for (std::size_t p = 0; p < kPreparations.size(); ++p)
    for (std::size_t e = 0; e < kEntries.size(); ++e)
      estimates[p].push_back(estimateJson(r.outcomes[e][p]));
  return JsonLine()
      .integer("scene", r.index)
      .text("class", capture_sim::litterName(r.kind))
      .json("expected", array(expected))
      .json("default", array(estimates[0]))
      .json("robust", array(estimates[1]))
      .json("gripper", array(estimates[2]))
      .str();
}

std::string quote(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

std::string indexList(const std::vector<int>& indices) {
  std::string s;
  for (const int i : indices) s += (s.empty() ? "" : ",") + std::to_string(i);
  return s;
}

void printTable(std::FILE* out, const ProfileResult& result) {
  const auto& classes = result.classes;
  std::fprintf(out, "\n%s captures (default / robust preparation)\n\n",
               capture_sim::artefactsName(result.artefacts));
  std::fprintf(out,
               "| class | entry | scenes | to grasp | code ok %% | grasp ok %% | "
               "median centre error mm | median axis error ° | ms per estimate |\n"
               "|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (std::size_t c = 0; c < classes.size(); ++c) {
    for (std::size_t e = 0; e < kEntries.size(); ++e) {
      const Cell& d = result.cells[c][e][0];
      const Cell& r = result.cells[c][e][1];
      std::fprintf(out, "| %s | %s | %d | %d | %s | %s | %s | %s | %s |\n",
                   capture_sim::litterName(classes[c]), entryName(kEntries[e]), d.scenes,
                   d.reachable, pair(percent(d.codeAccuracy()), percent(r.codeAccuracy())).c_str(),
                   pair(percent(d.graspSuccess()), percent(r.graspSuccess())).c_str(),
                   pair(fixed(1000.0 * d.medianCentreError(), 1),
                        fixed(1000.0 * r.medianCentreError(), 1)).c_str(),
                   capture_sim::hasLongAxis(classes[c])
                       ? pair(fixed(d.medianAxisError(), 1), fixed(r.medianAxisError(), 1)).c_str()
                       : "–",
                   pair(fixed(d.msPerEstimate(), 2), fixed(r.msPerEstimate(), 2)).c_str());
    }
  }
  std::fprintf(out, "\nRun time: %zu scenes in %.1f s\n", result.scenes.size(), result.seconds);
  if (!result.left_out.empty())
    std::fprintf(out, "Scenes left out, without a place in view and clear of the windows' "
                 "edges: %s\n", indexList(result.left_out).c_str());
}

void printGripperTable(std::FILE* out, const ProfileResult& result) {
  const auto& classes = result.classes;
  std::fprintf(out,
               "\n%s captures, robust preparation: the gripper model off / on (grasps judged "
               "against the true solids)\n\n",
               capture_sim::artefactsName(result.artefacts));
  std::fprintf(out,
               "| class | entry | grasps | colliding or too wide %% | too wide | grasp ok %% | "
               "refused by the gripper | ms per estimate |\n"
               "|---|---|---:|---:|---:|---:|---:|---:|\n");
  for (std::size_t c = 0; c < classes.size(); ++c) {
    for (std::size_t e = 0; e < kEntries.size(); ++e) {
      const Cell& off = result.cells[c][e][1];
      const Cell& on = result.cells[c][e][2];
      std::fprintf(out, "| %s | %s | %s | %s | %s | %s | %d | %s |\n",
                   capture_sim::litterName(classes[c]), entryName(kEntries[e]),
                   pair(std::to_string(off.grasps), std::to_string(on.grasps)).c_str(),
                   pair(percent(off.badGraspShare()), percent(on.badGraspShare())).c_str(),
                   pair(std::to_string(off.too_wide), std::to_string(on.too_wide)).c_str(),
                   pair(percent(off.graspSuccess()), percent(on.graspSuccess())).c_str(),
                   on.gripper_refusals,
                   pair(fixed(off.msPerEstimate(), 2), fixed(on.msPerEstimate(), 2)).c_str());
    }
  }
}

std::string toJson(const RunInfo& info, const std::vector<ProfileResult>& results,
                   const std::vector<GoalCheck>& goals) {
  std::vector<std::string> profiles;
  for (const ProfileResult& r : results) {
    const auto& classes = r.classes;
    std::vector<std::string> class_items;
    for (std::size_t c = 0; c < classes.size(); ++c) {
      std::vector<std::string> entry_items;
      for (std::size_t e = 0; e < kEntries.size(); ++e)
        entry_items.push_back(JsonLine()
                                  .text("entry", entryName(kEntries[e]))
                                  .json("default", cellJson(r.cells[c][e][0]))
                                  .json("robust", cellJson(r.cells[c][e][1]))
                                  .json("gripper", cellJson(r.cells[c][e][2]))
                                  .str());
      class_items.push_back(JsonLine()
                                .text("class", capture_sim::litterName(classes[c]))
                                .json("lying", capture_sim::isLying(classes[c]) ? "true" : "false")
                                .json("long_axis",
                                      capture_sim::hasLongAxis(classes[c]) ? "true" : "false")
                                .json("entries", array(entry_items))
                                .str());
    }
    // One scene a line, so that a report written anew differs from the old one in the
    // lines of the scenes that changed.
    std::string outcomes = "[";
    for (const SceneRecord& scene : r.scenes)
      outcomes += (outcomes.size() > 1 ? ",\n" : "\n") + sceneJson(scene);
    outcomes += "\n]";
    profiles.push_back(JsonLine()
                           .text("artefacts", capture_sim::artefactsName(r.artefacts))
                           .number("seconds", r.seconds, 4)
                           .json("scenes_left_out", "[" + indexList(r.left_out) + "]")
                           .json("classes", array(class_items))
                           .json("scene_outcomes", outcomes)
                           .str());
  }
  std::vector<std::string> goal_items;
  for (const GoalCheck& g : goals)
    goal_items.push_back(JsonLine()
                             .text("goal", g.what)
                             .json("met", g.met ? "true" : "false")
                             .json("significant_miss", g.significant ? "true" : "false")
                             .str());
  const Criteria& k = info.criteria;
  // Another depth camera's scenes are other scenes: named, so that a comparison sees it.
  JsonLine head;
  head.text("config", info.config).integer("seed", info.seed).integer("scenes", info.scenes);
  if (!(info.depth == capture_sim::DepthCamera{}))
    head.json("depth_camera", JsonLine()
                                  .number("step_m", info.depth.step)
                                  .number("noise_up_to_m_per_m2", info.depth.noise)
                                  .str());
  return head
             .json("criteria", JsonLine()
                                   .number("centre_tolerance_m", k.centre_tolerance)
                                   .number("approach_tolerance_deg", k.approach_tolerance_deg)
                                   .number("axis_tolerance_deg", k.axis_tolerance_deg)
                                   .str())
             .json("window_margins", JsonLine()
                                         .number("distance_m", info.margins.distance)
                                         .number("lateral_m", info.margins.lateral)
                                         .str())
             .number("goal_lying_grasp_success", info.goals.lying_grasp_success)
             .number("goal_field_grasp_success", info.goals.field_grasp_success)
             .number("goal_small_litter_grasp_success", info.goals.small_litter_grasp_success)
             .number("goal_field_median_centre_error_m", info.goals.field_median_centre_error)
             .number("goal_significance", info.goals.significance)
             .json("profiles", array(profiles))
             .json("goals", array(goal_items))
             .str() +
         "\n";
}

std::string drawChart(const std::string& python, const std::string& json_path,
                      const std::string& png_path) {
  // The file first: a chart that cannot be written is no matter of matplotlib.
  if (std::FILE* file = std::fopen(png_path.c_str(), "wb")) std::fclose(file);
  else return std::string("it cannot be written: ") + std::strerror(errno);
  const std::string command =
      quote(python) + " - " + quote(json_path) + " " + quote(png_path) + " 1>&2";
  // A Python that ends before reading the script must not end this program.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  std::FILE* pipe = ::popen(command.c_str(), "w");
  if (pipe == nullptr) {
    std::signal(SIGPIPE, previous);
    return "cannot start " + python;
  }
  std::fputs(kChartScript, pipe);
  const int status = ::pclose(pipe);
  std::signal(SIGPIPE, previous);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return python + " could not draw it (it needs matplotlib: Debian's python3-matplotlib)";
  return "";
}

}  // namespace litterpose_eval

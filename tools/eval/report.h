// The evaluation's figures as a table for people, as JSON for machines, and as a chart.
#ifndef LITTERPOSE_TOOLS_EVAL_REPORT_H
#define LITTERPOSE_TOOLS_EVAL_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "evaluation.h"

namespace litterpose_eval {

struct RunInfo {
  std::string config;
  unsigned seed = 0;
  int scenes = 0;
  Criteria criteria;
  Margins margins;
  Goals goals;
  capture_sim::DepthCamera depth;  // written to the report when not the default
};

// Scene indices as "3,17,40".
std::string indexList(const std::vector<int>& indices);

// One Markdown table per profile: a row per class and entry, default and robust side by side.
void printTable(std::FILE* out, const ProfileResult& result);
// One Markdown table per profile: a row per class and entry, the robust preparation with the
// gripper model off and on side by side: the grasps returned, the share of them the gripper
// judge finds colliding or too wide, the grasp success, and the model's refusals.
void printGripperTable(std::FILE* out, const ProfileResult& result);

std::string toJson(const RunInfo& info, const std::vector<ProfileResult>& results,
                   const std::vector<GoalCheck>& goals);

// Draws the chart of a JSON report into a PNG with the given Python (which needs
// matplotlib); returns an empty string, or why the chart could not be drawn.
std::string drawChart(const std::string& python, const std::string& json_path,
                      const std::string& png_path);

}  // namespace litterpose_eval

#endif

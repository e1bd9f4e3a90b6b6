// The golden record of the estimator: every bundled cloud and a fixed set of seeded random
// clouds, through the three entries with trash types 1 to 3 (the main entry with the
// preparation on and off), each run on a fresh estimator. A run is recorded as one line:
// the result code, every result member as its exact bits, a digest of the prepared cloud
// and a digest of the printed lines with the numbers of the cost lines left out.
#ifndef LITTERPOSE_TESTS_GOLDEN_GOLDEN_CASES_H
#define LITTERPOSE_TESTS_GOLDEN_GOLDEN_CASES_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <litterpose.h>

namespace golden {

// Switches of the configuration that a case sets after construction.
struct Settings {
  bool is_on_floor = false;
  bool is_grab_slanted = false;
  bool enable_pcacenter_extend = true;
};

// One cloud in the arm base frame, made on demand (the large ones are not all kept).
struct CloudCase {
  std::string id;
  Settings settings;
  // Builds the cloud for an estimator made from the project's configuration.
  std::function<GrabPoseEstimate::CloudPtr(GrabPoseEstimate&)> make;
};

std::vector<CloudCase> cloudCases();

enum class Entry { main, common, initial };

struct Run {
  Entry entry;
  int trash_type;
  bool prepare;  // enable_process_cloud_, read by the main entry only
  bool robust = false;  // robust_preparation.enable
};

// The runs made for every cloud.
std::vector<Run> runs();

// "<cloud id>|<entry>|<trash type>|<prepared or not>", and "|robust" for robust runs
std::string runId(const CloudCase& cloud, const Run& run);

// The names of the fields of a recorded line, in order; the first is the run id.
const std::vector<std::string>& fieldNames();

// Makes the cloud, runs the estimate on a fresh estimator and returns its line.
std::string recordRun(const CloudCase& cloud, const Run& run);

// A recorded line as field name -> text; empty when the line does not have every field.
std::map<std::string, std::string> parseLine(const std::string& line);

// The record of the project: tests/golden/estimates.golden.
std::string recordPath();

}  // namespace golden

#endif

// A run of litterpose-eval against a report it wrote before (--json): the same scenes must
// give the same outcomes. Timings are left out; everything else is compared as written.
#ifndef LITTERPOSE_TOOLS_EVAL_COMPARISON_H
#define LITTERPOSE_TOOLS_EVAL_COMPARISON_H

#include <string>
#include <vector>

namespace litterpose_eval {

// Centre errors this close count as near (see Comparison::near_estimates).
constexpr double kNearCentreMm = 1.0;

struct Comparison {
  bool comparable = true;
  std::string why_not;  // when not comparable
  int profiles = 0;
  int scenes = 0;  // per profile
  int estimates = 0;
  // An estimate differs in its code, its success or its centre error; a scene whose class
  // or expected codes differ counts all its estimates.
  int differing_estimates = 0;
  // Of those, the ones with the same code and success whose centre error moved by at most
  // kNearCentreMm: a build whose floating point differs moves a centre by a fraction of a
  // millimetre without changing what the estimate decided.
  int near_estimates = 0;
  bool cells_compared = false;  // the run covers every scene of the report
  int differing_figures = 0;
  std::vector<std::string> differences;  // one line each

  // At most `tolerated` estimates differ more than near; with none tolerated, none differs
  // and no figure of a cell either.
  bool matches(int tolerated) const;
  std::string summary(const std::string& record_path, int tolerated) const;
};

// Compares this run's report (the JSON text) with the report in record_path: the settings
// (seed, criteria, margins), then per profile of the run the first scenes (as many as the
// run has) one by one, and when the run has as many scenes as the record, the figures of
// every cell but its timing. Not comparable: a record that cannot be read, was made with
// other settings, lacks a profile of the run or holds fewer scenes.
Comparison compareWithRecord(const std::string& report_json, const std::string& record_path);

}  // namespace litterpose_eval

#endif

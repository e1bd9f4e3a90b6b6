// Makes the golden record: golden_record [FILE] (default: the project's record).
// Run it only when the estimator's behaviour is meant to change, and say why in the commit.
#include <cstdio>
#include <fstream>
#include <string>

#include "golden_cases.h"

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : golden::recordPath();
  std::ofstream out(path);
  if (!out) {
    std::fprintf(stderr, "golden_record: cannot write %s\n", path.c_str());
    return 1;
  }
  out << "#";
  for (const auto& name : golden::fieldNames()) out << ' ' << name;
  out << '\n';
  int lines = 0;
  for (const auto& c : golden::cloudCases()) {
    for (const auto& r : golden::runs()) {
      out << golden::recordRun(c, r) << '\n';
      ++lines;
    }
  }
  out.close();
  if (!out) {
    std::fprintf(stderr, "golden_record: writing %s failed\n", path.c_str());
    return 1;
  }
  std::fprintf(stderr, "golden_record: %d runs written to %s\n", lines, path.c_str());
  return 0;
}

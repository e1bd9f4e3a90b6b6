// Reading the candidate poses an estimate printed, and the grasp orientations written
// independently of the estimator: each elementary turn as an Eigen angle-axis.
#ifndef LITTERPOSE_TESTS_SUPPORT_GRASP_H
#define LITTERPOSE_TESTS_SUPPORT_GRASP_H

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <gtest/gtest.h>

namespace support {

// One pose handed to the inverse kinematics, as its two printed lines give it.
struct Candidate {
  Eigen::Vector3d position;
  Eigen::Quaterniond orientation;
};

inline std::vector<Candidate> candidates_in(const std::string& printed) {
  std::vector<Candidate> found;
  std::istringstream lines(printed);
  std::string line;
  while (std::getline(lines, line)) {
    double x, y, z, w;
    if (std::sscanf(line.c_str(), "grab_pose.position: %lf %lf %lf", &x, &y, &z) == 3) {
      found.push_back({{x, y, z}, Eigen::Quaterniond::Identity()});
    } else if (std::sscanf(line.c_str(), "grab_pose.orientation: %lf %lf %lf %lf", &w, &x, &y,
                           &z) == 4 &&
               !found.empty()) {
      found.back().orientation = Eigen::Quaterniond(w, x, y, z);
    }
  }
  return found;
}

inline int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
    ++n;
  return n;
}

// A coloured log line exactly as the estimator writes it.
inline std::string coloured(const char* colour, const std::string& text) {
  return std::string(colour) + text + "\x1b[0m\n";
}

// Orientation formulas in (w, x, y, z), built from angle-axis turns.
inline Eigen::Quaterniond turn(double angle, const Eigen::Vector3d& axis) {
  return Eigen::Quaterniond(Eigen::AngleAxisd(angle, axis.normalized()));
}
inline Eigen::Quaterniond Rx(double a) { return turn(a, Eigen::Vector3d::UnitX()); }
inline Eigen::Quaterniond Ry(double a) { return turn(a, Eigen::Vector3d::UnitY()); }
inline Eigen::Quaterniond Rz(double a) { return turn(a, Eigen::Vector3d::UnitZ()); }
inline double deg(double d) { return d * M_PI / 180.0; }
// Tool pointing straight down: half a turn about y.
inline Eigen::Quaterniond D() { return Ry(M_PI); }
// Quarter turn about y that lays the downward tool horizontal.
inline Eigen::Quaterniond S() { return Ry(M_PI / 2); }

// Bearing of a point from the arm's forward direction (-x), towards +y.
inline double bearing_of(double x, double y) { return std::atan2(y, -x); }

// Printed candidates carry six decimals.
constexpr double kPrintedTolerance = 2e-6;

inline void expect_candidate(const Candidate& c, const Eigen::Vector3d& position,
                             const Eigen::Quaterniond& orientation, const std::string& which) {
  SCOPED_TRACE(which);
  EXPECT_NEAR(c.position.x(), position.x(), kPrintedTolerance);
  EXPECT_NEAR(c.position.y(), position.y(), kPrintedTolerance);
  EXPECT_NEAR(c.position.z(), position.z(), kPrintedTolerance);
  EXPECT_NEAR(c.orientation.w(), orientation.w(), kPrintedTolerance);
  EXPECT_NEAR(c.orientation.x(), orientation.x(), kPrintedTolerance);
  EXPECT_NEAR(c.orientation.y(), orientation.y(), kPrintedTolerance);
  EXPECT_NEAR(c.orientation.z(), orientation.z(), kPrintedTolerance);
}

inline void expect_same_orientation(const Eigen::Quaterniond& actual,
                                    const Eigen::Quaterniond& expected, double tolerance) {
  EXPECT_NEAR(actual.w(), expected.w(), tolerance);
  EXPECT_NEAR(actual.x(), expected.x(), tolerance);
  EXPECT_NEAR(actual.y(), expected.y(), tolerance);
  EXPECT_NEAR(actual.z(), expected.z(), tolerance);
}

}  // namespace support

#endif

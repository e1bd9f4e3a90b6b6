// The arm the estimator configures, shared by the kinematics tests.
#ifndef LITTERPOSE_TESTS_KINEMATICS_ARM_H
#define LITTERPOSE_TESTS_KINEMATICS_ARM_H

#include <quorvin_kinematics.h>

#include <cmath>
#include <random>
#include <string_view>

#include "support/console.h"

namespace test_arm {
constexpr double kD[6] = {240.5, 0, 0, 210, 0, 144};
constexpr double kA[6] = {0, 256, 0, 0, 0, 0};
constexpr double kAlpha[6] = {M_PI / 2, 0, M_PI / 2, -M_PI / 2, M_PI / 2, 0};
constexpr double kOffset[6] = {0, M_PI / 2, M_PI / 2, 0, 0, 0};

// Its lines go to support::printed().
inline QuorvinKinematics make() {
  QuorvinKinematics arm(kD, kA, kAlpha, kOffset);
  arm.set_line_hook([](std::string_view line) { support::printed() << line << '\n'; });
  return arm;
}

// Joint vectors in [-pi, pi] kept away from the wrist and shoulder singularities.
struct RandomJoints {
  std::mt19937 rng{20261207};
  std::uniform_real_distribution<double> angle{-M_PI, M_PI};
  void next(double* q) {
    for (;;) {
      for (int i = 0; i < 6; ++i) q[i] = angle(rng);
      if (std::fabs(std::sin(q[4])) < 0.05) continue;   // straight or folded wrist
      if (std::fabs(std::sin(q[2])) < 0.05) continue;   // stretched or folded elbow
      const double rho = -256 * std::sin(q[1]) - 210 * std::sin(q[1] + q[2]);
      if (std::fabs(rho) < 5.0) continue;               // wrist centre over joint 1
      return;
    }
  }
};
}  // namespace test_arm

#endif

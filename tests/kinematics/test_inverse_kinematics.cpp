#include <gtest/gtest.h>

#include <set>

#include "arm.h"

namespace {

constexpr double kQ[6] = {0.5, 0.3, -0.4, 0.2, 1.0, -0.6};

double wrap(double angle) { return std::remainder(angle, 2 * M_PI); }

struct Solve {
  int code;
  std::string printed;
};

Solve solve_ref(const QuorvinKinematics& arm, const Eigen::MatrixXd& pose, const double* ref,
                double* out) {
  support::printed().str("");
  const int code = arm.inverse_kinematics(pose, ref, out);
  return {code, support::printed().str()};
}

Solve solve_flags(const QuorvinKinematics& arm, const Eigen::MatrixXd& pose, const int* flags,
                  double* out) {
  support::printed().str("");
  const int code = arm.inverse_kinematics(pose, flags, out);
  return {code, support::printed().str()};
}

void expect_untouched(const double* out) {
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], 42.0) << "joint " << i + 1;
}

TEST(InverseKinematics, ReferenceRoundTripReturnsTheJointsItCameFrom) {
  QuorvinKinematics arm = test_arm::make();
  test_arm::RandomJoints joints;
  for (int n = 0; n < 5000; ++n) {
    double q[6], out[6];
    joints.next(q);
    const Eigen::MatrixXd pose = arm.forward_kinematics(q);
    ASSERT_EQ(arm.inverse_kinematics(pose, q, out), QuorvinKinematics::kSolved) << n;
    for (int i = 0; i < 6; ++i) ASSERT_NEAR(out[i], q[i], 1e-7) << "sample " << n << " joint " << i;
  }
}

TEST(InverseKinematics, FlagRoundTripCoversAllEightConfigurations) {
  QuorvinKinematics arm = test_arm::make();
  test_arm::RandomJoints joints;
  std::set<int> seen;
  for (int n = 0; n < 5000; ++n) {
    double q[6], out[6];
    int flags[4];
    joints.next(q);
    arm.get_arm_type(q, flags);
    seen.insert((flags[0] + 1) * 2 + (flags[1] + 1) + (flags[2] + 1) / 2);
    ASSERT_EQ(arm.inverse_kinematics(arm.forward_kinematics(q), flags, out), 0) << n;
    for (int i = 0; i < 6; ++i) ASSERT_NEAR(out[i], q[i], 1e-7) << "sample " << n << " joint " << i;
  }
  EXPECT_EQ(seen.size(), 8u);
}

TEST(InverseKinematics, EightSolutionsOfOnePoseAllReproduceIt) {
  QuorvinKinematics arm = test_arm::make();
  const Eigen::MatrixXd pose = arm.forward_kinematics(kQ);
  std::vector<std::vector<double>> solutions;
  for (int s : {1, -1})
    for (int e : {1, -1})
      for (int w : {1, -1}) {
        const int flags[3] = {s, e, w};
        double out[6];
        ASSERT_EQ(arm.inverse_kinematics(pose, flags, out), 0);
        EXPECT_TRUE(arm.forward_kinematics(out).isApprox(pose, 1e-9));
        for (const auto& other : solutions) {
          double diff = 0;
          for (int i = 0; i < 6; ++i) diff += std::fabs(wrap(other[i] - out[i]));
          EXPECT_GT(diff, 1e-3);
        }
        solutions.emplace_back(out, out + 6);
      }

  const int front_up[3] = {1, 1, 1};
  const int back_down[3] = {-1, -1, 1};
  double out[6];
  arm.inverse_kinematics(pose, front_up, out);
  const double expected_a[6] = {-2.6416, 0.0600, -0.4, -2.8283, 0.5733, -0.7567};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], expected_a[i], 1e-4) << i;
  arm.inverse_kinematics(pose, back_down, out);
  const double expected_b[6] = {0.5, -0.0600, 0.4, 0.3133, 0.5733, -0.7567};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], expected_b[i], 1e-4) << i;
}

TEST(InverseKinematics, JointSixFollowsTheReferenceTurn) {
  QuorvinKinematics arm = test_arm::make();
  const Eigen::MatrixXd pose = arm.forward_kinematics(kQ);
  double ref[6], out[6];
  std::copy(kQ, kQ + 6, ref);

  ref[5] = kQ[5] + 2 * M_PI;
  ASSERT_EQ(arm.inverse_kinematics(pose, ref, out), 0);
  EXPECT_NEAR(out[5], kQ[5] + 2 * M_PI, 1e-9);
  ref[5] = kQ[5] - 2 * M_PI;
  ASSERT_EQ(arm.inverse_kinematics(pose, ref, out), 0);
  EXPECT_NEAR(out[5], kQ[5] - 2 * M_PI, 1e-9);

  // Joints 1 and 4 out of [-pi, pi] come back reduced by whole turns; joint 6 keeps its turn.
  const double far[6] = {0.5 + 2 * M_PI, 0.3, -0.4, 0.2 - 2 * M_PI, 1.0, -0.6 + 2 * M_PI};
  ASSERT_EQ(arm.inverse_kinematics(arm.forward_kinematics(far), far, out), 0);
  EXPECT_NEAR(out[0], 0.5, 1e-9);
  EXPECT_NEAR(out[3], 0.2, 1e-9);
  EXPECT_NEAR(out[5], far[5], 1e-9);

  std::fill(out, out + 6, 42.0);
  ref[5] = kQ[5] + 3 * M_PI + 0.1;
  const Solve r = solve_ref(arm, pose, ref, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kJoint6TurnError);
  EXPECT_EQ(r.printed, "slove j6 error!!!\n");
  expect_untouched(out);
}

TEST(InverseKinematics, JointSixHalfATurnFromTheReferenceIsKept) {
  // Tool straight down, straight ahead of the base: joint 6 comes out at exactly pi, as far
  // from a reference of 0 as its other turn -pi. The pose is reachable and must be solved.
  QuorvinKinematics arm = test_arm::make();
  Eigen::MatrixXd pose = Eigen::MatrixXd::Identity(4, 4);
  pose(0, 0) = -1;
  pose(2, 2) = -1;
  pose(0, 3) = -400;
  pose(2, 3) = 100;
  const double ref[6] = {0, 0.6891, 1.5223, 0, 0.9253, 0};
  double out[6];
  ASSERT_EQ(arm.inverse_kinematics(pose, ref, out), 0);
  EXPECT_DOUBLE_EQ(std::fabs(out[5]), M_PI);
  EXPECT_TRUE(arm.forward_kinematics(out).isApprox(pose, 1e-9));
}

TEST(InverseKinematics, WristThreshold) {
  QuorvinKinematics arm = test_arm::make();
  const Eigen::MatrixXd pose = arm.forward_kinematics(kQ);
  double out[6];
  std::fill(out, out + 6, 42.0);
  arm.set_singular_threshold(0, 0, 1.2);
  const Solve r = solve_ref(arm, pose, kQ, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kWristSingularity);
  EXPECT_EQ(r.printed, "j5 singularity error!!!\n");
  expect_untouched(out);
  arm.set_singular_threshold(0, 0, 0.9);
  EXPECT_EQ(arm.inverse_kinematics(pose, kQ, out), 0);
}

TEST(InverseKinematics, StraightWristSplitsTheTurnBetweenJointsFourAndSix) {
  QuorvinKinematics arm = test_arm::make();
  const double q[6] = {0.5, 0.3, -0.4, 0.2, 0.0, -0.6};
  const Eigen::MatrixXd pose = arm.forward_kinematics(q);
  double out[6];
  ASSERT_EQ(arm.inverse_kinematics(pose, q, out), 0);
  EXPECT_EQ(out[4], 0.0);
  EXPECT_NEAR(wrap(out[3] + out[5]), -0.4, 1e-9);
  EXPECT_TRUE(arm.forward_kinematics(out).isApprox(pose, 1e-9));

  arm.set_singular_threshold(0, 0, 1e-6);
  std::fill(out, out + 6, 42.0);
  const Solve r = solve_ref(arm, pose, q, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kWristSingularity);
  EXPECT_EQ(r.printed, "j5 singularity error!!!\n");
  expect_untouched(out);
}

TEST(InverseKinematics, FoldedWristStillReproducesThePose) {
  QuorvinKinematics arm = test_arm::make();
  for (double q4 : {M_PI, -M_PI}) {
    const double q[6] = {0.5, 0.3, -0.4, 0.2, q4, -0.6};
    const Eigen::MatrixXd pose = arm.forward_kinematics(q);
    double out[6];
    ASSERT_EQ(arm.inverse_kinematics(pose, q, out), 0);
    EXPECT_NEAR(std::fabs(out[4]), M_PI, 1e-12);
    EXPECT_TRUE(arm.forward_kinematics(out).isApprox(pose, 1e-9));
  }
}

TEST(InverseKinematics, OverheadSingularity) {
  QuorvinKinematics arm = test_arm::make();
  const double zero[6] = {0, 0, 0, 0, 0, 0};
  const Eigen::MatrixXd pose = arm.forward_kinematics(zero);
  double out[6];
  std::fill(out, out + 6, 42.0);
  arm.set_singular_threshold(1e-3, 0, 0);
  Solve r = solve_ref(arm, pose, zero, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kOverheadSingularity);
  EXPECT_EQ(r.printed, "overhead singularity error!!!\n");
  expect_untouched(out);

  // With the guard off, a wrist centre exactly on the joint-1 axis makes the closed form
  // meet 0/0: refused, not returned.
  arm.set_singular_threshold(0, 0, 0);
  Eigen::MatrixXd upright = Eigen::MatrixXd::Identity(4, 4);
  upright(0, 0) = upright(1, 1) = -1;
  upright(2, 3) = 850.5;
  r = solve_ref(arm, upright, zero, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kNonFiniteSolution);
  EXPECT_EQ(r.printed, "singular pose without a finite solution!!!\n");
  expect_untouched(out);
}

TEST(InverseKinematics, OutOfReachAndElbowThreshold) {
  QuorvinKinematics arm = test_arm::make();
  const double zero[6] = {0, 0, 0, 0, 0, 0};
  Eigen::MatrixXd pose = arm.forward_kinematics(zero);
  pose(0, 3) = 700;
  double out[6];
  std::fill(out, out + 6, 42.0);
  Solve r = solve_ref(arm, pose, zero, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kElbowSingularity);
  EXPECT_EQ(r.printed, "j3 singularity error!!!\n");
  expect_untouched(out);

  // An elbow bent by 0.4 rad has |cos| = cos(0.4); a margin beyond 1 - cos(0.4) refuses it.
  const Eigen::MatrixXd bent = arm.forward_kinematics(kQ);
  arm.set_singular_threshold(0, 1 - std::cos(0.4) + 1e-3, 0);
  EXPECT_EQ(solve_ref(arm, bent, kQ, out).code, QuorvinKinematics::kElbowSingularity);
  arm.set_singular_threshold(0, 1 - std::cos(0.4) - 1e-3, 0);
  EXPECT_EQ(arm.inverse_kinematics(bent, kQ, out), 0);
}

TEST(InverseKinematics, WristCosineBeyondOne) {
  QuorvinKinematics arm = test_arm::make();
  // A wrist nearly straight, and an approach axis lengthened within what a pose of
  // single precision holds (the wrist centre kept where it was): the cosine passes 1.
  const double q[6] = {0.5, 0.3, -0.4, 0.2, 0.001, -0.6};
  Eigen::MatrixXd pose = arm.forward_kinematics(q);
  const Eigen::Vector3d z = pose.block<3, 1>(0, 2);
  pose.block<3, 1>(0, 2) = (1.0 + 4e-5) * z;
  pose.block<3, 1>(0, 3) += 144 * 4e-5 * z;
  double out[6];
  std::fill(out, out + 6, 42.0);
  const Solve r = solve_ref(arm, pose, q, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kWristCosineOutOfRange);
  EXPECT_EQ(r.printed, "cosTheta05 value is larger than 1!!!\n");
  expect_untouched(out);
}

TEST(InverseKinematics, SolutionOutsideLimitsIsReturnedAndRefused) {
  QuorvinKinematics arm = test_arm::make();
  Eigen::MatrixXd limits(6, 2);
  limits << -180, 180, -180, 180, -10, 10, -180, 180, -30, 30, -180, 180;
  arm.set_joint_limit_angle_to_rad(limits);
  double out[6];
  const Solve r = solve_ref(arm, arm.forward_kinematics(kQ), kQ, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kJointOverLimit);
  EXPECT_EQ(r.printed, "***********joint3 is over limit!!!***********\n");
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], kQ[i], 1e-9);
}

TEST(InverseKinematics, MalformedPosesAreRefusedWithoutReadingThem) {
  QuorvinKinematics arm = test_arm::make();
  double out[6];
  std::fill(out, out + 6, 42.0);
  const int flags[3] = {1, 1, 1};

  Solve r = solve_ref(arm, Eigen::MatrixXd::Identity(3, 3), kQ, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kInvalidPose);
  EXPECT_EQ(r.printed, "pose is not a finite 4x4 transform!!!\n");
  r = solve_flags(arm, Eigen::MatrixXd(), flags, out);
  EXPECT_EQ(r.code, QuorvinKinematics::kInvalidPose);

  Eigen::MatrixXd pose = arm.forward_kinematics(kQ);
  for (double bad : {NAN, INFINITY, -INFINITY}) {
    Eigen::MatrixXd broken = pose;
    broken(1, 2) = bad;
    EXPECT_EQ(solve_ref(arm, broken, kQ, out).code, QuorvinKinematics::kInvalidPose);
    broken = pose;
    broken(2, 3) = bad;
    EXPECT_EQ(solve_flags(arm, broken, flags, out).code, QuorvinKinematics::kInvalidPose);
  }
  // Finite, but no rotation and translation: scaled, mirrored, sheared, a projective row.
  const auto scaled = [&](double s) {
    Eigen::MatrixXd m = pose;
    m.topLeftCorner(3, 3) *= s;
    return m;
  };
  Eigen::MatrixXd mirrored = pose, sheared = pose, projective = pose;
  mirrored.col(0) *= -1.0;
  sheared(0, 1) += 0.01;
  projective(3, 0) = 1e-3;
  for (const Eigen::MatrixXd& m : {scaled(0.0), scaled(2.0), scaled(1.001), mirrored, sheared, projective}) {
    support::printed().str("");
    EXPECT_EQ(solve_ref(arm, m, kQ, out).code, QuorvinKinematics::kInvalidPose);
    EXPECT_EQ(support::printed().str(), "pose is not a rigid transform!!!\n");
  }
  // What a single-precision quaternion gives is still a pose.
  EXPECT_EQ(solve_ref(arm, scaled(1.0 + 1e-6), kQ, out).code, QuorvinKinematics::kSolved);
  std::fill(out, out + 6, 42.0);
  expect_untouched(out);
  EXPECT_STREQ(QuorvinKinematics::describe(QuorvinKinematics::kInvalidPose),
               "pose is not a finite rigid 4x4 transform");
}

TEST(ReachSphere, StrictAboutTheShoulder) {
  QuorvinKinematics arm = test_arm::make();
  const double zero[6] = {0, 0, 0, 0, 0, 0};
  const double no_tool[3] = {0, 0, 0};
  const double tool[3] = {0, 0, 1};
  Eigen::MatrixXd pose = arm.forward_kinematics(zero);
  EXPECT_FALSE(arm.check_in_robot_space(pose, no_tool));  // exactly on the sphere
  EXPECT_TRUE(arm.check_in_robot_space(pose, tool));
  pose(2, 3) -= 1e-6;
  EXPECT_TRUE(arm.check_in_robot_space(pose, no_tool));
  pose(0, 3) = 611;
  pose(2, 3) = 240.5;
  EXPECT_FALSE(arm.check_in_robot_space(pose, no_tool));
  support::printed().str("");
  EXPECT_FALSE(arm.check_in_robot_space(Eigen::MatrixXd::Identity(2, 2), tool));
  EXPECT_EQ(support::printed().str(), "pose is not a finite 4x4 transform!!!\n");
}

}  // namespace

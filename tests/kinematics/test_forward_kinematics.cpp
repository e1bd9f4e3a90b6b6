#include <gtest/gtest.h>

#include <sstream>

#include "arm.h"

namespace {

Eigen::Vector3d position(const Eigen::MatrixXd& t) { return t.block<3, 1>(0, 3); }
Eigen::Vector3d column(const Eigen::MatrixXd& t, int c) { return t.block<3, 1>(0, c); }

Eigen::MatrixXd quiet_slow(const QuorvinKinematics& arm, const double* q) {
  support::printed().str("");
  Eigen::MatrixXd t = arm.forward_kinematics_slow(q);
  support::printed().str();
  return t;
}

TEST(ArmModel, ConstructorDerivesReachAndTwists) {
  QuorvinKinematics arm = test_arm::make();
  EXPECT_DOUBLE_EQ(arm.reach_radius_, 610.0);
  EXPECT_NEAR(arm.cos_alpha_[0], 0.0, 1e-15);
  EXPECT_DOUBLE_EQ(arm.sin_alpha_[3], -1.0);
  EXPECT_EQ(arm.joint_limit_.rows(), 0);
  EXPECT_TRUE(arm.transform_.isApprox(Eigen::MatrixXd::Identity(4, 4)));
}

TEST(ForwardKinematics, KnownPoses) {
  QuorvinKinematics arm = test_arm::make();
  const double zero[6] = {0, 0, 0, 0, 0, 0};
  Eigen::MatrixXd t = arm.forward_kinematics(zero);
  EXPECT_TRUE(position(t).isApprox(Eigen::Vector3d(0, 0, 850.5), 1e-12));
  EXPECT_TRUE(column(t, 0).isApprox(Eigen::Vector3d(-1, 0, 0), 1e-12));
  EXPECT_TRUE(column(t, 1).isApprox(Eigen::Vector3d(0, -1, 0), 1e-12));
  EXPECT_TRUE(column(t, 2).isApprox(Eigen::Vector3d(0, 0, 1), 1e-12));
  EXPECT_TRUE(t.isApprox(quiet_slow(arm, zero), 1e-12));

  const double bent[6] = {0, 0, 0, 0, M_PI / 2, 0};
  t = arm.forward_kinematics(bent);
  EXPECT_LT((position(t) - Eigen::Vector3d(-144, 0, 706.5)).norm(), 1e-9);
  EXPECT_LT((column(t, 2) - Eigen::Vector3d(-1, 0, 0)).norm(), 1e-12);

  const double q[6] = {0.5, 0.3, -0.4, 0.2, 1.0, -0.6};
  t = arm.forward_kinematics(q);
  EXPECT_LT((position(t) - Eigen::Vector3d(-133.3335, -100.2716, 783.2877)).norm(), 1e-3);
  EXPECT_LT((column(t, 2) - Eigen::Vector3d(-0.5926, -0.5143, 0.6199)).norm(), 1e-3);
  EXPECT_TRUE(arm.transform_.isApprox(t));
}

TEST(ForwardKinematics, AgreesWithDhChainOnRandomJoints) {
  QuorvinKinematics arm = test_arm::make();
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> angle(-2 * M_PI, 2 * M_PI);
  for (int n = 0; n < 2000; ++n) {
    double q[6];
    for (double& v : q) v = angle(rng);
    const Eigen::MatrixXd fast = arm.forward_kinematics(q);
    const Eigen::MatrixXd slow = quiet_slow(arm, q);
    ASSERT_LT((fast - slow).cwiseAbs().maxCoeff(), 1e-9) << "sample " << n;
  }
}

TEST(ForwardKinematics, ClosedFormIgnoresParametersOutsideItsPattern) {
  double d[6], a[6];
  std::copy(test_arm::kD, test_arm::kD + 6, d);
  std::copy(test_arm::kA, test_arm::kA + 6, a);
  d[1] = 30;
  a[4] = 12;
  QuorvinKinematics odd(d, a, test_arm::kAlpha, test_arm::kOffset);
  odd.set_line_hook(nullptr);
  QuorvinKinematics arm = test_arm::make();
  const double q[6] = {0.5, 0.3, -0.4, 0.2, 1.0, -0.6};
  EXPECT_TRUE(odd.forward_kinematics(q).isApprox(arm.forward_kinematics(q), 1e-12));
  EXPECT_GT((quiet_slow(odd, q) - quiet_slow(arm, q)).cwiseAbs().maxCoeff(), 1.0);
}

TEST(ForwardKinematics, SlowPrintsThePoseInEigenFormat) {
  QuorvinKinematics arm = test_arm::make();
  const double q[6] = {0.5, 0.3, -0.4, 0.2, 1.0, -0.6};
  support::printed().str("");
  const Eigen::MatrixXd t = arm.forward_kinematics_slow(q);
  const std::string printed = support::printed().str();
  std::ostringstream expected;
  expected << t << "\n";
  EXPECT_EQ(printed, expected.str());
}

TEST(ForwardKinematics, ToolOffsetIsInTheFlangeFrame) {
  QuorvinKinematics arm = test_arm::make();
  const double zero[6] = {0, 0, 0, 0, 0, 0};
  const double tool[3] = {0, 0, 100};
  EXPECT_LT((position(arm.forward_kinematics_with_tool(zero, tool)) -
             Eigen::Vector3d(0, 0, 950.5)).norm(), 1e-9);

  const double q[6] = {0.5, 0.3, -0.4, 0.2, 1.0, -0.6};
  const double offset[3] = {10, -20, 30};
  const Eigen::MatrixXd flange = arm.forward_kinematics(q);
  const Eigen::MatrixXd with_tool = arm.forward_kinematics_with_tool(q, offset);
  const Eigen::Vector3d expected =
      position(flange) + flange.block<3, 3>(0, 0) * Eigen::Vector3d(10, -20, 30);
  EXPECT_LT((position(with_tool) - expected).norm(), 1e-9);
  EXPECT_TRUE((with_tool.block<3, 3>(0, 0).isApprox(flange.block<3, 3>(0, 0))));
}

TEST(ArmType, FlagsFollowTheJointSigns) {
  QuorvinKinematics arm = test_arm::make();
  int flags[4];
  const double q[6] = {0.5, 0.3, -0.4, 0.2, 1.0, -0.6};
  arm.get_arm_type(q, flags);
  EXPECT_EQ(flags[0], -1);
  EXPECT_EQ(flags[1], 1);
  EXPECT_EQ(flags[2], 1);
  EXPECT_EQ(flags[3], 0);

  const double edges[6] = {0, -0.5, 0, 0, 0, M_PI};
  arm.get_arm_type(edges, flags);
  EXPECT_EQ(flags[0], 1);  // wrist centre in front of joint 1
  EXPECT_EQ(flags[1], -1);
  EXPECT_EQ(flags[2], 1);
  EXPECT_EQ(flags[3], 1);

  const double turned[6] = {0, 0, 0.1, 0, -0.1, -M_PI};
  arm.get_arm_type(turned, flags);
  EXPECT_EQ(flags[1], -1);
  EXPECT_EQ(flags[2], -1);
  EXPECT_EQ(flags[3], -1);
}

TEST(JointLimits, InclusiveBoundsAndFirstOffenderDecides) {
  QuorvinKinematics arm = test_arm::make();
  const double wild[6] = {10, -10, 10, -10, 10, -10};
  EXPECT_EQ(arm.check_joint_limit(wild), 0);  // no limits yet

  Eigen::MatrixXd limits(6, 2);
  limits << -180, 180, -90, 90, -150, 150, -180, 180, -120, 120, -360, 360;
  arm.set_joint_limit_angle_to_rad(limits);
  EXPECT_DOUBLE_EQ(arm.joint_limit_(0, 1), M_PI);
  EXPECT_DOUBLE_EQ(arm.joint_limit_(1, 0), -90 * M_PI / 180);

  const double on_limits[6] = {M_PI, -90 * M_PI / 180, 150 * M_PI / 180, -M_PI,
                               120 * M_PI / 180, 2 * M_PI};
  EXPECT_EQ(arm.check_joint_limit(on_limits), 0);
  const double two_and_five[6] = {0, 1.6, 0, 0, 2.2, 0};
  EXPECT_EQ(arm.check_joint_limit(two_and_five), 2);
  const double six[6] = {0, 0, 0, 0, 0, 6.3};
  EXPECT_EQ(arm.check_joint_limit(six), 6);
  const double nan_joint[6] = {NAN, 0, 0, 0, 0, 0};
  EXPECT_EQ(arm.check_joint_limit(nan_joint), 0);
}

TEST(JointLimits, SmallerMatrixIsRejectedAndPreviousLimitsKept) {
  QuorvinKinematics arm = test_arm::make();
  Eigen::MatrixXd limits = Eigen::MatrixXd::Constant(6, 2, 90);
  limits.col(0) *= -1;
  arm.set_joint_limit_angle_to_rad(limits);

  support::printed().str("");
  arm.set_joint_limit_angle_to_rad(Eigen::MatrixXd::Constant(5, 2, 1));
  arm.set_joint_limit_angle_to_rad(Eigen::MatrixXd::Constant(6, 1, 1));
  const std::string printed = support::printed().str();
  EXPECT_EQ(printed,
            "joint limit matrix is 5x2, expected 6x2; previous limits kept!!!\n"
            "joint limit matrix is 6x1, expected 6x2; previous limits kept!!!\n");
  ASSERT_EQ(arm.joint_limit_.rows(), 6);
  EXPECT_DOUBLE_EQ(arm.joint_limit_(5, 1), M_PI / 2);
  const double q[6] = {0, 0, 0, 0, 0, 2.0};
  EXPECT_EQ(arm.check_joint_limit(q), 6);
}

}  // namespace

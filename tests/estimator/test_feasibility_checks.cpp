// Workspace sector, grab-space window, reachability and pose assignment.
#include <gtest/gtest.h>
#include <litterpose.h>
#include <quorvin_kinematics.h>

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/clouds.h"
#include "support/estimator.h"
#include "support/grasp.h"

namespace {

using support::coloured;
using support::printed_by;

const std::string kReset = "\x1b[0m";

// The joint angles (degrees) of the printed solution line; empty when there is none.
std::vector<double> printed_joints(const std::string& out) {
  const std::string tag = "逆解为：";
  const auto at = out.find(tag);
  if (at == std::string::npos) return {};
  std::vector<double> joints(6);
  std::sscanf(out.c_str() + at + tag.size(), "%lf %lf %lf %lf %lf %lf", &joints[0], &joints[1],
              &joints[2], &joints[3], &joints[4], &joints[5]);
  return joints;
}

void expect_joints(const std::string& out, const double* radians) {
  const std::vector<double> joints = printed_joints(out);
  ASSERT_EQ(joints.size(), 6u) << out;
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(joints[i], radians[i] * 180.0 / M_PI, 2e-6) << i;
}

// A refusal of the workspace or grab-space test: its red line, then a stray reset.
std::string refusal(const char* text) { return coloured(RED_BOLD, text) + kReset; }

class WorkspaceTest : public testing::Test {
protected:
  std::unique_ptr<GrabPoseEstimate> e = support::make_estimator();
};

TEST_F(WorkspaceTest, PointAheadAtReferenceHeightIsInside) {
  bool inside = false;
  const std::string out = printed_by([&] { inside = e->IsInWorkspace({-0.5f, 0.0f, 0.1555f}); });
  EXPECT_TRUE(inside);
  EXPECT_NEAR(e->grab_distance_, 0.48875f, 1e-6f);
  EXPECT_EQ(e->grab_angle_, 0.0f);
  EXPECT_EQ(out, coloured(PURPLE_BOLD, "grab_distance_: 0.48875") +
                     coloured(PURPLE_BOLD, "grab_angle_: 0"));
}

TEST_F(WorkspaceTest, BearingGrowsTowardsPlusYAndIsHalfATurnBehind) {
  printed_by([&] { e->IsInWorkspace({-0.5f, 0.2f, 0.0f}); });
  EXPECT_NEAR(e->grab_angle_, std::atan2(0.2, 0.5) * 180.0 / M_PI, 1e-4);
  EXPECT_GT(e->grab_angle_, 0.0f);
  bool inside = true;
  const std::string out = printed_by([&] { inside = e->IsInWorkspace({0.5f, 0.0f, 0.0f}); });
  EXPECT_NEAR(std::fabs(e->grab_angle_), 180.0f, 1e-4f);
  EXPECT_FALSE(inside);
}

TEST_F(WorkspaceTest, RefusalsComeInTheOrderNearFarLeftRight) {
  struct Case {
    Eigen::Vector3f p;
    const char* message;
  };
  const Case cases[] = {
      {{-0.05f, 0.0f, 0.1555f}, "垃圾位置太近了！！！"},
      {{-1.0f, 0.0f, 0.1555f}, "垃圾位置太远了！！！"},
      {{-0.3f, -0.6f, 0.1555f}, "垃圾位置太靠左了！！！"},
      {{-0.3f, 0.6f, 0.1555f}, "垃圾位置太靠右了！！！"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    bool inside = true;
    const std::string out = printed_by([&] { inside = e->IsInWorkspace(c.p); });
    EXPECT_FALSE(inside);
    const std::string tail = refusal(c.message);
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_EQ(support::occurrences(out, RED_BOLD), 1);
  }
  // Too near and too far left at once: nearness is reported.
  const std::string out = printed_by([&] { e->IsInWorkspace({-0.02f, -0.1f, 0.1555f}); });
  EXPECT_NE(out.find("垃圾位置太近了！！！"), std::string::npos);
  EXPECT_EQ(out.find("垃圾位置太靠左了！！！"), std::string::npos);
}

TEST_F(WorkspaceTest, ValuesOnTheBoundsPass) {
  const Eigen::Vector3f p(-0.4f, 0.1f, 0.0f);
  printed_by([&] { e->IsInWorkspace(p); });
  e->workspace_r_min_ = e->workspace_r_max_ = e->grab_distance_;
  e->workspace_angle_min_ = e->workspace_angle_max_ = e->grab_angle_;
  bool inside = false;
  printed_by([&] { inside = e->IsInWorkspace(p); });
  EXPECT_TRUE(inside);
}

class GrabSpaceTest : public testing::Test {
protected:
  std::unique_ptr<GrabPoseEstimate> e = support::make_estimator();
  // A point at the given distance straight ahead, at height h above the floor.
  Eigen::Vector3f ahead(float distance, float h) const {
    return {-distance, 0.0f, h - e->base_height_};
  }
};

TEST_F(GrabSpaceTest, ParallelWindowWidensWithHeight) {
  const float h = 0.3f;
  // Bounds as the rule gives them, with a margin well above rounding.
  const double nearest = e->grab_parallel_distance_min_ + 0.125 * h;
  const double farthest = e->grab_parallel_distance_max_ + h / 3.0;
  for (MainAxisType type : {VERTICAL, TILTED_HIGH}) {
    SCOPED_TRACE(type);
    bool ok = false;
    std::string out = printed_by([&] { ok = e->isInGrabSpace(type, ahead(nearest + 1e-4, h)); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, kReset);
    printed_by([&] { ok = e->isInGrabSpace(type, ahead(farthest - 1e-4, h)); });
    EXPECT_TRUE(ok);
    out = printed_by([&] { ok = e->isInGrabSpace(type, ahead(nearest - 1e-4, h)); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, refusal("垃圾位置太近了！！！"));
    out = printed_by([&] { ok = e->isInGrabSpace(type, ahead(farthest + 1e-4, h)); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, refusal("垃圾位置太远了！！！"));
  }
}

TEST_F(GrabSpaceTest, VerticalWindowWidensWithHeightAndNamesTheDistanceWhenTooFar) {
  const float h = 0.1f;
  const double nearest = e->grab_vertical_distance_min_ + 0.9473684210526315 * h;
  const double farthest = e->grab_vertical_distance_max_ + 0.6842105263157895 * h;
  for (MainAxisType type : {HORIZONTAL, TILTED_LOW}) {
    SCOPED_TRACE(type);
    bool ok = false;
    printed_by([&] { ok = e->isInGrabSpace(type, ahead(nearest + 1e-4, h)); });
    EXPECT_TRUE(ok);
    std::string out = printed_by([&] { ok = e->isInGrabSpace(type, ahead(nearest - 1e-4, h)); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, refusal("垃圾位置太近了！！！"));
    const Eigen::Vector3f far = ahead(farthest + 1e-4, h);
    out = printed_by([&] { ok = e->isInGrabSpace(type, far); });
    EXPECT_FALSE(ok);
    std::ostringstream distance;
    distance << -far.x();
    EXPECT_EQ(out, coloured(RED_BOLD, "grab_distance_: " + distance.str()) +
                       refusal("垃圾位置太远了！！！"));
  }
}

TEST_F(GrabSpaceTest, BearingBoundsAndWrittenMembers) {
  bool ok = true;
  const Eigen::Vector2f left = clouds::at_bearing(0.4f, -70.0f);
  std::string out = printed_by([&] { ok = e->isInGrabSpace(HORIZONTAL, {left.x(), left.y(), -0.1f}); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, refusal("垃圾位置太靠左了！！！"));
  EXPECT_NEAR(e->grab_angle_, -70.0f, 1e-3f);
  EXPECT_NEAR(e->grab_distance_, 0.4f, 1e-6f);
  const Eigen::Vector2f right = clouds::at_bearing(0.6f, 70.0f);
  out = printed_by([&] { ok = e->isInGrabSpace(VERTICAL, {right.x(), right.y(), -0.1f}); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, refusal("垃圾位置太靠右了！！！"));
}

TEST_F(GrabSpaceTest, UnknownClassPassesButStillMeasures) {
  bool ok = false;
  const std::string out = printed_by(
      [&] { ok = e->isInGrabSpace(static_cast<MainAxisType>(7), {3.0f, 4.0f, 0.0f}); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, kReset);
  EXPECT_FLOAT_EQ(e->grab_distance_, 5.0f);
  EXPECT_NEAR(e->grab_angle_, std::atan2(4.0, -3.0) * 180.0 / M_PI, 1e-4);
}

// The reachability test asks the solver for the flange 156 mm behind the TCP; an
// independent solver of the same arm, given that flange pose, must agree.
class ReachabilityTest : public testing::Test {
protected:
  std::unique_ptr<GrabPoseEstimate> e = support::make_estimator();
  QuorvinKinematics arm{e->dh_d_, e->dh_a_, e->dh_alpha_, e->dh_offset_};
  ReachabilityTest() { arm.set_line_hook(nullptr); }

  // Independent flange pose: TCP transform times a step of -156 mm along the tool z axis.
  int solve_independently(const GrabPoseEstimate::Pose6D& pose, double* joints) {
    // Millimetres in single precision, as the solver's caller converts them.
    Eigen::Affine3d tcp = Eigen::Translation3d((pose.position * 1000.0f).cast<double>()) *
                          pose.orientation.toRotationMatrix();
    const Eigen::Affine3d flange = tcp * Eigen::Translation3d(0.0, 0.0, -156.0);
    Eigen::MatrixXd m = flange.matrix();
    int code = 0;
    printed_by([&] { code = arm.inverse_kinematics(m, e->ik_ref_joints_, joints); });
    return code;
  }
};

TEST_F(ReachabilityTest, DownwardToolPutsTheFlangeAboveTheTcp) {
  struct Case {
    GrabPoseEstimate::Pose6D pose;
    Eigen::Vector3d flange_mm;  // 156 mm straight above the TCP
    const char* printed;
  };
  const Case cases[] = {
      {{{0.5f, 0.0f, 0.2f}, Eigen::Quaterniond(0.0, 0.0, 1.0, 0.0)},
       {500.0, 0.0, 356.0},
       "grab_pose.position: 0.500000  0.000000  0.200000\n"
       "grab_pose.orientation: 0.000000  0.000000  1.000000  0.000000\n"},
      // Well inside the reach of the arm: 300 mm out, the wrist 300 mm above the TCP.
      {{{-0.3f, 0.05f, 0.0f}, support::D() * support::Rz(0.4)},
       {-300.0, 50.0, 156.0},
       nullptr},
  };
  int reached = 0;
  for (const Case& c : cases) {
    Eigen::MatrixXd flange = Eigen::MatrixXd::Identity(4, 4);
    flange.block<3, 3>(0, 0) = c.pose.orientation.toRotationMatrix();
    flange.col(3).head<3>() = c.flange_mm;
    double expected[6] = {0, 0, 0, 0, 0, 0};
    int code = 0;
    printed_by([&] { code = arm.inverse_kinematics(flange, e->ik_ref_joints_, expected); });

    bool solved = false;
    const std::string out = printed_by([&] { solved = e->isIKSolved(c.pose); });
    EXPECT_EQ(solved, code == 0);
    if (c.printed) {
      EXPECT_EQ(out.rfind(c.printed, 0), 0u) << out;
    }
    if (code == 0) {
      ++reached;
      expect_joints(out, expected);
      EXPECT_NE(out.find(" \n\n"), std::string::npos);
    }
  }
  EXPECT_EQ(reached, 1);
}

TEST_F(ReachabilityTest, AgreesWithTheSolverOnReachableAndUnreachablePoses) {
  const GrabPoseEstimate::Pose6D poses[] = {
      {{-0.35f, 0.1f, -0.15f}, support::D() * support::Rz(0.4)},
      {{-0.45f, -0.12f, -0.10f}, support::D() * support::Rz(-0.8) * support::Ry(0.3)},
      {{-0.30f, 0.0f, 0.05f}, support::D() * support::S() * support::Rx(-0.2)},
      {{-0.95f, 0.0f, -0.15f}, support::D() * support::Rz(0.4)},
  };
  int reachable = 0, unreachable = 0;
  for (const auto& pose : poses) {
    double joints[6];
    const int code = solve_independently(pose, joints);
    bool solved = false;
    const std::string out = printed_by([&] { solved = e->isIKSolved(pose); });
    EXPECT_EQ(solved, code == 0);
    if (solved) {
      ++reachable;
      EXPECT_NE(out.find(coloured(GREEN_BOLD,
                                  "-----------------------当前抓取位姿求逆解成功-----------------------")),
                std::string::npos);
      expect_joints(out, joints);
    } else {
      ++unreachable;
      EXPECT_NE(out.find(coloured(YELLOW_BOLD,
                                  "-------------------当前抓取位姿求逆解失败，请调整机器人位置------------------")),
                std::string::npos);
      EXPECT_EQ(out.find("逆解为："), std::string::npos);
    }
  }
  EXPECT_GE(reachable, 2);
  EXPECT_GE(unreachable, 1);
}

TEST_F(ReachabilityTest, TheReferenceJointsChooseTheSolution) {
  const GrabPoseEstimate::Pose6D pose{{-0.35f, 0.1f, -0.15f}, support::D() * support::Rz(0.4)};
  double with_default[6];
  ASSERT_EQ(solve_independently(pose, with_default), 0);
  // A reference with the elbow on the other side of its straight position.
  const double other_elbow[6] = {0.0, -0.3, -1.5, 0.0, 0.9, 0.0};
  std::copy(other_elbow, other_elbow + 6, e->ik_ref_joints_);
  double joints[6];
  ASSERT_EQ(solve_independently(pose, joints), 0);
  ASSERT_GT(std::fabs(joints[2] - with_default[2]), 0.1);
  const std::string out = printed_by([&] { EXPECT_TRUE(e->isIKSolved(pose)); });
  expect_joints(out, joints);
}

TEST(CollisionHook, NeverReportsACollision) {
  auto e = support::make_estimator();
  const GrabPoseEstimate::Pose6D poses[] = {
      {{0.0f, 0.0f, 0.0f}, Eigen::Quaterniond::Identity()},
      {{-0.4f, 0.1f, -0.17f}, Eigen::Quaterniond(0.0, 0.0, 1.0, 0.0)},
      {{NAN, INFINITY, 1e30f}, Eigen::Quaterniond(NAN, 0.0, 0.0, 0.0)},
  };
  for (const auto& pose : poses) EXPECT_FALSE(e->isCollided(pose));
}

TEST(AssignGrabPose, OverwritesTheDestinationAndLogsItWFirst) {
  auto e = support::make_estimator();
  GrabPoseEstimate::Pose6D pose{{9.0f, 9.0f, 9.0f}, Eigen::Quaterniond::Identity()};
  const Eigen::Vector3f position(-0.25f, 0.125f, -0.5f);
  const Eigen::Quaterniond orientation(0.5, -0.5, 0.5, 0.5);
  const std::string out = printed_by([&] { e->AssignGrabPose(position, orientation, pose); });
  EXPECT_EQ(pose.position, position);
  EXPECT_EQ(pose.orientation.coeffs(), orientation.coeffs());
  EXPECT_EQ(out, coloured(GREEN_BOLD, "grab_pose_.position: -0.25  0.125  -0.5") +
                     coloured(GREEN_BOLD, "grab_pose_.orientation: 0.5  -0.5  0.5  0.5"));
}

}  // namespace

// The main estimation entry: preparation switch, main-axis classes, dispatch on the trash
// type, window refusals, and the candidate sequences of each grasp style.
#include <gtest/gtest.h>
#include <litterpose.h>
#include <pcl/exceptions.h>

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "support/clouds.h"
#include "support/estimator.h"
#include "support/grasp.h"

namespace {

using support::Candidate;
using support::coloured;
using support::D;
using support::deg;
using support::occurrences;
using support::Rx;
using support::Ry;
using support::Rz;
using support::S;
using Eigen::Quaterniond;
using Eigen::Vector3d;

const char kCannotGraspVertically[] = "当前位置无法竖直抓取!!!";
const char kCannotGraspSideways[] = "当前位置无法水平抓取!!!";
const char kCannotGrasp[] = "当前位置无法抓取!!!";
const char kReached[] = "-----------------------当前抓取位姿求逆解成功-----------------------";

struct Outcome {
  int code = 0;
  std::string out;
  std::vector<Candidate> candidates;
};

struct Expected {
  Vector3d position;
  Quaterniond orientation;
};

Outcome estimate(GrabPoseEstimate& e, clouds::CloudPtr cloud, int trash_type) {
  Outcome o;
  e.trash_type_ = trash_type;
  o.out = support::printed_by([&] { o.code = e.GrabPoseEstimateFunc(cloud); });
  o.candidates = support::candidates_in(o.out);
  return o;
}

// A grasp pose no estimate produces, to see whether a call wrote grab_pose_.
const GrabPoseEstimate::Pose6D kUntouched{{7.0f, 8.0f, 9.0f}, Quaterniond(0.5, 0.5, 0.5, 0.5)};

// Preparation off unless a test needs it: the shape analysis then sees exactly the cloud.
std::unique_ptr<GrabPoseEstimate> unprepared() {
  auto e = support::make_estimator();
  e->enable_process_cloud_ = false;
  e->grab_pose_ = kUntouched;
  return e;
}

void expect_untouched(const GrabPoseEstimate& e) {
  EXPECT_EQ(e.grab_pose_.position, kUntouched.position);
  EXPECT_EQ(e.grab_pose_.orientation.coeffs(), kUntouched.orientation.coeffs());
}

Vector3d centre_of(const GrabPoseEstimate& e) { return e.pca_center_.head<3>().cast<double>(); }
double axis_yaw(const GrabPoseEstimate& e) {
  return std::atan2(-double(e.pca_vectors_(1, 0)), double(e.pca_vectors_(0, 0)));
}
double bearing(const GrabPoseEstimate& e) {
  return support::bearing_of(e.pca_center_.x(), e.pca_center_.y());
}

// The candidates handed to the solver are the expected ones, in order; the call stopped at
// the first reachable one or tried them all.
void expect_sequence(const Outcome& o, const std::vector<Expected>& want) {
  ASSERT_FALSE(o.candidates.empty());
  ASSERT_LE(o.candidates.size(), want.size());
  for (size_t i = 0; i < o.candidates.size(); ++i)
    support::expect_candidate(o.candidates[i], want[i].position, want[i].orientation,
                              "candidate " + std::to_string(i));
  if (o.code == litterpose::kGrabFound) {
    EXPECT_EQ(occurrences(o.out, kReached), 1);
  } else {
    EXPECT_EQ(o.candidates.size(), want.size());
    EXPECT_EQ(occurrences(o.out, kReached), 0);
  }
}

// grab_pose_ holds the last candidate handed to the solver.
void expect_pose_is_last_candidate(const GrabPoseEstimate& e, const Outcome& o) {
  ASSERT_FALSE(o.candidates.empty());
  const Candidate& last = o.candidates.back();
  EXPECT_NEAR(e.grab_pose_.position.x(), last.position.x(), 1e-6);
  EXPECT_NEAR(e.grab_pose_.position.y(), last.position.y(), 1e-6);
  EXPECT_NEAR(e.grab_pose_.position.z(), last.position.z(), 1e-6);
  support::expect_same_orientation(e.grab_pose_.orientation, last.orientation, 1e-6);
}

// Object clouds ahead of the arm.
clouds::CloudPtr lying(float distance, float bearing_deg, float yaw_deg = 30.0f) {
  return clouds::lying_rod(clouds::at_bearing(distance, bearing_deg), yaw_deg, 0.2f, 0.015f, 600);
}
clouds::CloudPtr standing(float distance, float bearing_deg) {
  return clouds::standing_cylinder(clouds::at_bearing(distance, bearing_deg), 0.2f, 0.03f, 600);
}
// A thin rod through a point at the given distance and bearing, 0.05 m above the floor.
clouds::CloudPtr thin_rod(const Eigen::Vector3f& axis, float distance = 0.4f) {
  const Eigen::Vector2f xy = clouds::at_bearing(distance, 10.0f);
  return clouds::rod({xy.x(), xy.y(), clouds::kFloorZ + 0.05f}, axis, 0.3f, 0.002f, 500);
}

// ---------------------------------------------------------------------------------------

TEST(MainEntryPreparation, NinePointsAreTooFewTenGoOn) {
  auto e = support::make_estimator();
  const Eigen::Vector2f xy = clouds::at_bearing(0.4f, 0.0f);
  Outcome o = estimate(*e, clouds::column(xy.x(), xy.y(), -0.17f, 0.001f, 9), 1);
  EXPECT_EQ(o.code, litterpose::kTooFewPoints);
  EXPECT_NE(o.out.find(coloured(CYAN_BOLD, "处理后点云数量：9")), std::string::npos);
  EXPECT_NE(o.out.find(coloured(RED_BOLD, "处理后点云数量太少-------------")), std::string::npos);
  EXPECT_EQ(o.out.find("PCA"), std::string::npos);

  o = estimate(*e, clouds::column(xy.x(), xy.y(), -0.17f, 0.001f, 10), 0);
  EXPECT_NE(o.out.find(coloured(CYAN_BOLD, "处理后点云数量：10")), std::string::npos);
  EXPECT_EQ(o.out.find("处理后点云数量太少"), std::string::npos);
  EXPECT_EQ(o.code, litterpose::kUnknownTrashType);
}

TEST(MainEntryPreparation, OffMeansNoCountAndTheAnalysisThrowsBelowThreePoints) {
  auto e = unprepared();
  clouds::CloudPtr two = clouds::column(-0.4f, 0.0f, -0.17f, 0.01f, 2);
  e->trash_type_ = 1;
  EXPECT_THROW(e->GrabPoseEstimateFunc(two), pcl::InitFailedException);

  const Outcome o = estimate(*e, clouds::column(-0.4f, 0.0f, -0.17f, 0.01f, 5), 0);
  EXPECT_EQ(o.out.find("处理后点云数量"), std::string::npos);
  EXPECT_EQ(o.code, litterpose::kUnknownTrashType);
}

// ---------------------------------------------------------------------------------------

struct AxisCase {
  Eigen::Vector3f direction;
  MainAxisType type;
  bool points_to_plus_x;  // else the axis is turned to point down
};

void PrintTo(const AxisCase& c, std::ostream* os) {
  *os << "axis (" << c.direction.transpose() << ")";
}

class MainAxisClassTest : public testing::TestWithParam<AxisCase> {};

TEST_P(MainAxisClassTest, ClassAndSignOfTheMainAxis) {
  const AxisCase& c = GetParam();
  auto e = unprepared();
  const Outcome o = estimate(*e, thin_rod(c.direction), 0);
  EXPECT_EQ(o.code, litterpose::kUnknownTrashType);
  EXPECT_EQ(e->main_axis_type_, c.type);
  const Eigen::Vector3f v = e->pca_vectors_.col(0);
  EXPECT_GT(std::fabs(v.dot(c.direction.normalized())), 0.999f);
  if (c.points_to_plus_x) {
    EXPECT_GT(v.x(), 0.0f);
  } else {
    EXPECT_LT(v.z(), 0.0f);
  }
  const std::string lines = coloured(PURPLE_BOLD, "main_axis_type_:" + std::to_string(c.type)) +
                            coloured(PURPLE_BOLD, "Trash Type:0");
  // Nothing follows the two lines for an unknown trash type.
  ASSERT_GE(o.out.size(), lines.size());
  EXPECT_EQ(o.out.substr(o.out.size() - lines.size()), lines);
}

INSTANTIATE_TEST_SUITE_P(
    Directions, MainAxisClassTest,
    testing::Values(AxisCase{{-0.9f, 0.1f, 0.2f}, HORIZONTAL, true},
                    AxisCase{{0.9f, -0.3f, -0.1f}, HORIZONTAL, true},
                    AxisCase{{0.1f, 0.0f, 0.99f}, VERTICAL, false},
                    AxisCase{{-0.05f, 0.1f, -0.99f}, VERTICAL, false},
                    AxisCase{{-0.8f, 0.2f, 0.5f}, TILTED_LOW, true},
                    AxisCase{{0.5f, 0.2f, 0.8f}, TILTED_HIGH, false},
                    AxisCase{{-0.4f, -0.3f, -0.85f}, TILTED_HIGH, false}));

TEST(MainAxisClass, ExactlyVerticalAxisKeepsThePreviousClassAndSign) {
  auto e = unprepared();
  // Coordinates whose sums are exact in single precision: the covariance is exactly diagonal.
  clouds::CloudPtr column = clouds::column(-0.5f, 0.25f, -0.125f, 0.0078125f, 32);
  auto reference = unprepared();
  support::printed_by([&] { reference->PCAFunc(column); });
  ASSERT_EQ(std::fabs(reference->pca_vectors_(2, 0)), 1.0f);

  for (MainAxisType before : {HORIZONTAL, TILTED_HIGH}) {
    e->main_axis_type_ = before;
    estimate(*e, column, 0);
    EXPECT_EQ(e->main_axis_type_, before);
    EXPECT_EQ(e->pca_vectors_.col(0), reference->pca_vectors_.col(0));
  }
}

// ---------------------------------------------------------------------------------------

TEST(MainEntryDispatch, UnknownTrashTypesAreRefusedAfterTheAnalysis) {
  for (int type : {0, 4, -1}) {
    SCOPED_TRACE(type);
    auto e = unprepared();
    const Outcome o = estimate(*e, lying(0.35f, 10.0f), type);
    EXPECT_EQ(o.code, litterpose::kUnknownTrashType);
    EXPECT_NE(o.out.find("MinAreaRect"), std::string::npos);
    const std::string tail = coloured(PURPLE_BOLD, "Trash Type:" + std::to_string(type));
    EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
    EXPECT_TRUE(o.candidates.empty());
    expect_untouched(*e);
  }
}

TEST(MainEntryDispatch, OtherGrabModesGraspNothingBeforeAnyWindowTest) {
  for (int type : {1, 2, 3}) {
    SCOPED_TRACE(type);
    auto e = unprepared();
    e->grab_mode_ = 2;
    e->extend_length_ = -1.0f;
    // Far too near for any window: a window test would say so.
    clouds::CloudPtr cloud = lying(0.05f, 0.0f);
    const Outcome o = estimate(*e, cloud, type);
    EXPECT_EQ(o.code, litterpose::kNoGrasp);
    EXPECT_EQ(o.out.find("垃圾位置"), std::string::npos);
    EXPECT_TRUE(o.candidates.empty());
    expect_untouched(*e);
    if (type == 3) {
      EXPECT_GT(e->extend_length_, 0.0f);  // the extension ran first
    } else {
      EXPECT_EQ(e->extend_length_, -1.0f);
    }
  }
}

// ---------------------------------------------------------------------------------------

struct WindowCase {
  int trash_type;
  bool standing;
  float distance;
  float bearing_deg;
  int code;
  const char* message;
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << "expecting " << c.code; }

class WindowRefusalTest : public testing::TestWithParam<WindowCase> {};

TEST_P(WindowRefusalTest, CodeMessageAndMeasuredPoint) {
  const WindowCase& c = GetParam();
  auto e = unprepared();
  const Outcome o = estimate(
      *e, c.standing ? standing(c.distance, c.bearing_deg) : lying(c.distance, c.bearing_deg),
      c.trash_type);
  EXPECT_EQ(o.code, c.code);
  EXPECT_EQ(e->main_axis_type_, c.standing ? VERTICAL : HORIZONTAL);
  const std::string tail = coloured(RED_BOLD, c.message);
  ASSERT_GE(o.out.size(), tail.size());
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
  EXPECT_EQ(occurrences(o.out, "垃圾位置"), 1);
  EXPECT_TRUE(o.candidates.empty());
  expect_untouched(*e);
  const double x = e->pca_center_.x(), y = e->pca_center_.y();
  EXPECT_NEAR(e->grab_distance_, std::hypot(x, y), 1e-6);
  EXPECT_NEAR(e->grab_angle_, bearing(*e) * 180.0 / M_PI, 1e-4);
}

const char kNear[] = "垃圾位置太近了！！！";
const char kFar[] = "垃圾位置太远了！！！";
const char kLeft[] = "垃圾位置太靠左了！！！";
const char kRight[] = "垃圾位置太靠右了！！！";

INSTANTIATE_TEST_SUITE_P(
    Families, WindowRefusalTest,
    testing::Values(WindowCase{1, false, 0.1f, 0.0f, 101, kNear},
                    WindowCase{1, false, 0.8f, 0.0f, 102, kFar},
                    WindowCase{1, false, 0.4f, -75.0f, 103, kLeft},
                    WindowCase{1, false, 0.4f, 75.0f, 104, kRight},
                    WindowCase{2, false, 0.1f, 0.0f, 201, kNear},
                    WindowCase{2, true, 0.8f, 0.0f, 202, kFar},
                    WindowCase{2, false, 0.4f, -75.0f, 203, kLeft},
                    WindowCase{2, true, 0.4f, 75.0f, 204, kRight},
                    WindowCase{3, false, 0.1f, 0.0f, 301, kNear},
                    WindowCase{3, false, 0.8f, 0.0f, 302, kFar},
                    WindowCase{3, false, 0.4f, -75.0f, 303, kLeft},
                    WindowCase{3, false, 0.4f, 75.0f, 304, kRight},
                    WindowCase{3, true, 0.3f, 0.0f, 311, kNear},
                    WindowCase{3, true, 0.9f, 0.0f, 312, kFar},
                    WindowCase{3, true, 0.6f, -75.0f, 313, kLeft},
                    WindowCase{3, true, 0.6f, 75.0f, 314, kRight}));

TEST(MainEntryWindow, NearIsReportedBeforeFarAndBoundsPass) {
  auto e = unprepared();
  clouds::CloudPtr cloud = lying(0.4f, 20.0f);
  e->grab_vertical_distance_min_ = 0.5f;
  e->grab_vertical_distance_max_ = 0.3f;
  e->grab_vertical_angle_min_ = 30.0f;  // too far left as well
  EXPECT_EQ(estimate(*e, cloud, 1).code, 101);

  // Every bound equal to the measured value: the window lets the point through.
  e->grab_vertical_distance_min_ = e->grab_vertical_distance_max_ = e->grab_distance_;
  e->grab_vertical_angle_min_ = e->grab_vertical_angle_max_ = e->grab_angle_;
  const Outcome o = estimate(*e, cloud, 1);
  EXPECT_EQ(o.out.find("垃圾位置"), std::string::npos);
  EXPECT_FALSE(o.candidates.empty());
}

// ---------------------------------------------------------------------------------------

// The vertical style: D * Rz(yaw), then D * Rz(bearing) * Ry(tilt), 10 to 60 degrees,
// 3 mm higher at 60 degrees only.
std::vector<Expected> vertical_sequence(const GrabPoseEstimate& e) {
  const Vector3d c = centre_of(e);
  std::vector<Expected> want{{c, D() * Rz(axis_yaw(e))}};
  for (int tilt = 10; tilt <= 60; tilt += 10) {
    const double z = c.z() + (tilt == 60 ? 0.003 : 0.0);
    want.push_back({{c.x(), c.y(), z}, D() * Rz(bearing(e)) * Ry(deg(tilt))});
  }
  return want;
}

// The orientations printed on "q_grab:" lines, in order.
std::vector<Quaterniond> q_grab_lines(const std::string& out) {
  std::vector<Quaterniond> found;
  for (auto at = out.find("q_grab: "); at != std::string::npos; at = out.find("q_grab: ", at + 1)) {
    double w, x, y, z;
    if (std::sscanf(out.c_str() + at, "q_grab: %lf %lf %lf %lf", &w, &x, &y, &z) == 4)
      found.emplace_back(w, x, y, z);
  }
  return found;
}

void expect_q_grab_lines(const std::string& out, const std::vector<Quaterniond>& want) {
  const std::vector<Quaterniond> got = q_grab_lines(out);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i)
    support::expect_same_orientation(got[i], want[i], support::kPrintedTolerance);
}

TEST(VerticalStyle, UnreachableObjectTriesSevenCandidatesInOrder) {
  for (int type : {1, 2}) {
    SCOPED_TRACE(type);
    auto e = unprepared();
    e->grab_vertical_distance_max_ = 1.2f;
    const Outcome o = estimate(*e, lying(0.8f, 20.0f), type);
    EXPECT_EQ(o.code, litterpose::kNoGrasp);
    const std::vector<Expected> want = vertical_sequence(*e);
    expect_sequence(o, want);
    expect_pose_is_last_candidate(*e, o);

    const auto yellow = o.out.find(coloured(YELLOW_BOLD, kCannotGraspVertically));
    ASSERT_NE(yellow, std::string::npos);
    EXPECT_GT(yellow, o.out.find("grab_pose.position"));
    const std::string tail = coloured(RED_BOLD, kCannotGrasp);
    EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);

    char line[160];
    std::snprintf(line, sizeof line, "rot_z: %f\n", float(axis_yaw(*e)));
    EXPECT_EQ(occurrences(o.out, line), 1);
    std::snprintf(line, sizeof line, "pca_vectors_ x y: %f   %f\n", e->pca_vectors_(0, 0),
                  e->pca_vectors_(1, 0));
    EXPECT_EQ(occurrences(o.out, line), type == 2 ? 1 : 0);
    // Trash type 2 names its first orientation, trash type 1 each retry.
    std::vector<Quaterniond> named;
    for (size_t i = type == 2 ? 0 : 1; i < (type == 2 ? 1 : want.size()); ++i)
      named.push_back(want[i].orientation);
    expect_q_grab_lines(o.out, named);
  }
}

TEST(VerticalStyle, ReachableObjectIsGraspedWithTheFirstCandidate) {
  auto e = unprepared();
  const Outcome o = estimate(*e, lying(0.35f, 20.0f), 1);
  EXPECT_EQ(o.code, litterpose::kGrabFound);
  ASSERT_EQ(o.candidates.size(), 1u);
  expect_sequence(o, vertical_sequence(*e));
  EXPECT_EQ(o.out.find(kCannotGraspVertically), std::string::npos);
  const Vector3d c = centre_of(*e);
  EXPECT_EQ(e->grab_pose_.position, e->pca_center_.head<3>());
  support::expect_same_orientation(e->grab_pose_.orientation, D() * Rz(axis_yaw(*e)), 1e-6);
  EXPECT_NEAR(e->grab_distance_, std::hypot(c.x(), c.y()), 1e-6);
}

TEST(VerticalStyle, ATiltedRetryReachesWhatTheFirstCandidateCannot) {
  auto e = unprepared();
  const Outcome o = estimate(*e, lying(0.55f, 20.0f), 2);
  EXPECT_EQ(o.code, litterpose::kGrabFound);
  EXPECT_GE(o.candidates.size(), 2u);
  expect_sequence(o, vertical_sequence(*e));
  expect_pose_is_last_candidate(*e, o);
  EXPECT_EQ(o.out.find(kCannotGrasp), std::string::npos);
}

// ---------------------------------------------------------------------------------------

// Centroid of the cloud, in double precision.
Vector3d mean_of(const clouds::Cloud& cloud) {
  Vector3d sum = Vector3d::Zero();
  for (const auto& p : cloud.points) sum += p.getVector3fMap().cast<double>();
  return sum / double(cloud.size());
}

TEST(TrashType3Extension, PushesTheGraspPointAlongTheCameraRay) {
  struct Case {
    clouds::CloudPtr cloud;
    bool thin;
  };
  // On a table 0.1 m above the floor, so that the push stays clear of the floor rule.
  const float table = clouds::kFloorZ + 0.1f;
  const Case cases[] = {
      {clouds::lying_rod(clouds::at_bearing(0.4f, 10.0f), 30.0f, 0.2f, 0.015f, 600, table), true},
      {clouds::floor_box(clouds::at_bearing(0.4f, 10.0f), {0.12f, 0.1f, 0.08f}, 20.0f, 800, table),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.thin);
    auto e = unprepared();
    e->grab_mode_ = 0;  // stop right after the extension
    estimate(*e, c.cloud, 3);
    const Vector3d centroid = mean_of(*c.cloud);
    const Vector3d camera = e->camera_extrinsic_.block<3, 1>(0, 3).cast<double>();
    const Vector3d ray = (centroid - camera).normalized();
    const float thinnest = e->pca_lengths_[2];
    EXPECT_EQ(thinnest < 0.06f, c.thin);
    const float length = c.thin ? thinnest * e->extra_length_ratio_ : 0.036f;
    EXPECT_FLOAT_EQ(e->extend_length_, length);
    const Vector3d moved = centroid + length * ray;
    EXPECT_NEAR(e->pca_center_.x(), moved.x(), 1e-5);
    EXPECT_NEAR(e->pca_center_.y(), moved.y(), 1e-5);
    EXPECT_NEAR(e->pca_center_.z(), moved.z(), 1e-5);
  }
}

TEST(TrashType3Extension, FloorAndSwitch) {
  auto e = unprepared();
  e->grab_mode_ = 0;
  e->finger2tcp_ = 0.1f;
  estimate(*e, lying(0.4f, 10.0f), 3);
  EXPECT_EQ(e->pca_center_.z(), float(double(0.1f) - double(0.176f) + 0.01));

  auto off = unprepared();
  off->grab_mode_ = 0;
  off->enable_pcacenter_extend_ = false;
  off->extend_length_ = -1.0f;
  clouds::CloudPtr cloud = lying(0.4f, 10.0f);
  estimate(*off, cloud, 3);
  EXPECT_EQ(off->extend_length_, -1.0f);
  EXPECT_TRUE(off->pca_center_.head<3>().cast<double>().isApprox(mean_of(*cloud), 1e-5));
}

// The lying style of trash type 3: D * Rz(yaw), then Rx(+tilt) and Rx(-tilt) after it,
// 10, 20, 30 degrees; only the 30-degree pair is raised, by 10 mm and 13 mm.
std::vector<Expected> lying_sequence(const GrabPoseEstimate& e) {
  const Vector3d c = centre_of(e);
  const Quaterniond first = D() * Rz(axis_yaw(e));
  std::vector<Expected> want{{c, first}};
  for (int tilt = 10; tilt <= 30; tilt += 10) {
    const bool raised = tilt == 30;
    want.push_back({{c.x(), c.y(), c.z() + (raised ? 0.01 : 0.0)}, first * Rx(deg(tilt))});
    want.push_back({{c.x(), c.y(), c.z() + (raised ? 0.013 : 0.0)}, first * Rx(deg(-tilt))});
  }
  return want;
}

TEST(LyingStyle, WithoutSlantingOneCandidateAndTheYellowLineOnly) {
  auto e = unprepared();
  e->grab_vertical_distance_max_ = 1.2f;
  const Outcome o = estimate(*e, lying(0.8f, -15.0f), 3);
  EXPECT_EQ(o.code, litterpose::kNoGrasp);
  ASSERT_EQ(o.candidates.size(), 1u);
  support::expect_candidate(o.candidates[0], centre_of(*e), D() * Rz(axis_yaw(*e)), "first");
  const std::string tail = coloured(YELLOW_BOLD, kCannotGraspVertically);
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
  EXPECT_EQ(o.out.find(kCannotGrasp), std::string::npos);
  expect_q_grab_lines(o.out, {D() * Rz(axis_yaw(*e))});
  EXPECT_EQ(occurrences(o.out, "pca_vectors_ x y: "), 1);
  EXPECT_EQ(occurrences(o.out, "rot_z: "), 1);
}

TEST(LyingStyle, SlantedRetriesComeInPairsAndRiseAtThirtyDegrees) {
  auto e = unprepared();
  e->is_grab_slanted_ = true;
  e->grab_vertical_distance_max_ = 1.2f;
  const Outcome o = estimate(*e, lying(0.8f, -15.0f), 3);
  EXPECT_EQ(o.code, litterpose::kNoGrasp);
  expect_sequence(o, lying_sequence(*e));
  expect_pose_is_last_candidate(*e, o);
  const std::string tail = coloured(RED_BOLD, kCannotGrasp);
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
}

TEST(LyingStyle, ReachableObjectAndTiltedClassesOfTrashType3) {
  auto e = unprepared();
  const Outcome o = estimate(*e, lying(0.35f, -15.0f), 3);
  EXPECT_EQ(o.code, litterpose::kGrabFound);
  expect_sequence(o, lying_sequence(*e));
  EXPECT_EQ(o.candidates.size(), 1u);

  for (const Eigen::Vector3f& axis : {Eigen::Vector3f(-0.8f, 0.2f, 0.5f), Eigen::Vector3f(0.5f, 0.2f, 0.8f)}) {
    auto tilted = unprepared();
    const Outcome t = estimate(*tilted, thin_rod(axis), 3);
    EXPECT_EQ(t.code, litterpose::kNoGrasp);
    const std::string tail = coloured(PURPLE_BOLD, "Trash Type:3");
    EXPECT_EQ(t.out.substr(t.out.size() - tail.size()), tail);
  }
}

// The side style: D * S * Rx(-bearing), then Ry(-tilt) after it, 10, 20, 30 degrees.
std::vector<Expected> side_sequence(const GrabPoseEstimate& e) {
  const Vector3d c = centre_of(e);
  const Quaterniond first = D() * S() * Rx(-bearing(e));
  std::vector<Expected> want{{c, first}};
  for (int tilt = 10; tilt <= 30; tilt += 10) want.push_back({c, first * Ry(deg(-tilt))});
  return want;
}

TEST(SideStyle, UnreachableStandingObjectTriesFourCandidates) {
  auto e = unprepared();
  e->grab_parallel_distance_max_ = 1.2f;
  const Outcome o = estimate(*e, standing(0.85f, 25.0f), 3);
  EXPECT_EQ(o.code, litterpose::kNoGrasp);
  const std::vector<Expected> want = side_sequence(*e);
  expect_sequence(o, want);
  expect_pose_is_last_candidate(*e, o);
  expect_q_grab_lines(o.out, {want[0].orientation});
  EXPECT_NE(o.out.find(coloured(YELLOW_BOLD, kCannotGraspSideways)), std::string::npos);
  const std::string tail = coloured(RED_BOLD, kCannotGrasp);
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
}

TEST(SideStyle, ReachableStandingObject) {
  auto e = unprepared();
  const Outcome o = estimate(*e, standing(0.55f, 25.0f), 3);
  EXPECT_EQ(o.code, litterpose::kGrabFound);
  expect_sequence(o, side_sequence(*e));
  expect_pose_is_last_candidate(*e, o);
  // The tool z axis points horizontally from the base towards the object.
  const Vector3d tool_z = e->grab_pose_.orientation.toRotationMatrix().col(2);
  ASSERT_EQ(o.candidates.size(), 1u);
  EXPECT_NEAR(tool_z.z(), 0.0, 1e-9);
  const Vector3d c = centre_of(*e);
  EXPECT_GT(tool_z.head<2>().dot(c.head<2>()), 0.99 * c.head<2>().norm());
}

}  // namespace

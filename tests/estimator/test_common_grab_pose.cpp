// The common and initial entries and their supporting operations: point minimum,
// workspace and grab-space refusals, grasp-point corrections, extension, radial push,
// and the retry sequences of CommonGrabPoseFunc.
#include <gtest/gtest.h>
#include <litterpose.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
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
using support::printed_by;
using support::Rx;
using support::Ry;
using support::Rz;
using support::S;
using Eigen::Quaterniond;
using Eigen::Vector3d;
using Eigen::Vector3f;

const std::string kReset = "\x1b[0m";
const char kReached[] = "-----------------------当前抓取位姿求逆解成功-----------------------";

// ---------------------------------------------------------------------------------------

TEST(SlantGrabPose, AxisAngleInSinglePrecisionTrigonometry) {
  auto e = support::make_estimator();
  Quaterniond q;
  e->SlantGrabPose(q, Vector3d(1.0, 0.0, 0.0), -90.0f);
  const float h = static_cast<float>(-90.0f * M_PI / 180.0) * 0.5f;
  EXPECT_EQ(q.w(), double(std::cos(h)));
  EXPECT_EQ(q.x(), double(std::sin(h)));
  EXPECT_EQ(q.y(), 0.0);
  EXPECT_EQ(q.z(), 0.0);
  EXPECT_NEAR(q.w(), std::cos(M_PI / 4), 1e-7);
  EXPECT_NEAR(q.x(), -std::sin(M_PI / 4), 1e-7);

  // The axis is used as given, without normalisation.
  e->SlantGrabPose(q, Vector3d(0.0, 2.0, 0.0), 30.0f);
  const float h30 = static_cast<float>(30.0f * M_PI / 180.0) * 0.5f;
  EXPECT_EQ(q.y(), 2.0 * std::sin(h30));
  EXPECT_EQ(q.w(), double(std::cos(h30)));
}

struct ClassCase {
  Vector3f v;
  MainAxisType type;
  Vector3f after;
};

TEST(GetMainaxisType, ClassesSignsAndLines) {
  const float s26 = std::sqrt(1.0f - 0.26f * 0.26f), s70 = std::sqrt(1.0f - 0.7f * 0.7f);
  const float s71 = std::sqrt(1.0f - 0.71f * 0.71f), s97 = std::sqrt(1.0f - 0.97f * 0.97f);
  const ClassCase cases[] = {
      {{-0.9f, 0.1f, 0.2f}, HORIZONTAL, {0.9f, -0.1f, -0.2f}},
      {{0.1f, 0.0f, 0.99f}, VERTICAL, {-0.1f, 0.0f, -0.99f}},
      {{0.25f, 0.0f, 0.968f}, VERTICAL, {-0.25f, 0.0f, -0.968f}},
      {{-s26, 0.0f, 0.26f}, TILTED_LOW, {s26, 0.0f, -0.26f}},
      {{s70, 0.0f, -0.7f}, TILTED_LOW, {s70, 0.0f, -0.7f}},
      {{-s71, 0.0f, 0.71f}, TILTED_HIGH, {s71, 0.0f, -0.71f}},
      {{-s71, 0.0f, -0.71f}, TILTED_HIGH, {-s71, 0.0f, -0.71f}},
      {{s97, 0.0f, -0.97f}, VERTICAL, {s97, 0.0f, -0.97f}},
  };
  auto e = support::make_estimator();
  e->trash_type_ = 2;
  for (const ClassCase& c : cases) {
    SCOPED_TRACE(c.type);
    Eigen::Matrix3f m;
    m << c.v.x(), 1.0f, 2.0f, c.v.y(), 3.0f, 4.0f, c.v.z(), 5.0f, 6.0f;
    const Eigen::Matrix3f before = m;
    MainAxisType type = static_cast<MainAxisType>(0);
    const std::string out = printed_by([&] { e->GetMainaxisType(m, type); });
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(Vector3f(m.col(0)), c.after);
    EXPECT_EQ(m.rightCols<2>(), before.rightCols<2>());
    EXPECT_EQ(out, coloured(MAGENTA_BOLD, "main_axis_type_:" + std::to_string(c.type)) +
                       coloured(MAGENTA_BOLD, "trash_type_:2") + kReset);
  }
}

TEST(GetMainaxisType, ExactlyVerticalOrNotANumberKeepsTypeAndAxis) {
  auto e = support::make_estimator();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const Vector3f& v : {Vector3f(0, 0, 1), Vector3f(0, 0, -1), Vector3f(nan, 0, nan)}) {
    Eigen::Matrix3f m = Eigen::Matrix3f::Identity();
    m.col(0) = v;
    MainAxisType type = TILTED_LOW;
    printed_by([&] { e->GetMainaxisType(m, type); });
    EXPECT_EQ(type, TILTED_LOW);
    EXPECT_TRUE(m.col(0) == v || v.hasNaN());
    EXPECT_EQ(m(2, 0) == v.z(), !v.hasNaN());
  }
}

TEST(OptMainAxisDirection, TakesTheRectangleDirectionAndKeepsZ) {
  auto e = support::make_estimator();
  e->rect_direction_ = Eigen::Vector2f(0.6f, -0.8f);
  Vector3f v(5.0f, 5.0f, 0.25f);
  e->OptMainAxisDirection(v);
  EXPECT_EQ(v, Vector3f(0.6f, -0.8f, 0.25f));
}

class ExtendGrabTcpTest : public testing::Test {
protected:
  std::unique_ptr<GrabPoseEstimate> e = support::make_estimator();
  void SetUp() override {
    e->camera_extrinsic_.block<3, 1>(0, 3) = Vector3f(0.1f, 0.0f, 0.4f);
    e->trash_lowest_z_ = -0.176f;
  }
  const std::string done = coloured(MAGENTA_BOLD, "GrabTCP Extended!") + kReset;
};

TEST_F(ExtendGrabTcpTest, ThinObjectsMoveInProportionThickOnesByTheMaximum) {
  for (const float thinnest : {0.03f, 0.05f}) {
    SCOPED_TRACE(thinnest);
    e->pca_lengths_ = Vector3f(0.2f, 0.1f, thinnest);
    Vector3f p(-0.3f, 0.1f, -0.1f);
    const Vector3d ray = (p.cast<double>() - Vector3d(0.1, 0.0, 0.4)).normalized();
    const std::string out = printed_by([&] { e->ExtendGrabTCP(p); });
    const double length = thinnest < e->extend_lenth_threshold_
                              ? double(thinnest * e->extra_length_ratio_)
                              : double(e->extend_length_max_);
    EXPECT_NEAR(e->extend_length_, length, 1e-9);
    EXPECT_TRUE(p.cast<double>().isApprox(Vector3d(-0.3, 0.1, -0.1) + length * ray, 1e-6));
    EXPECT_EQ(out, done);
  }
}

TEST_F(ExtendGrabTcpTest, GraspPointStaysAboveTheLowestPoint) {
  e->pca_lengths_ = Vector3f(0.2f, 0.1f, 0.05f);
  Vector3f p(-0.3f, 0.1f, -0.174f);
  const std::string out = printed_by([&] { e->ExtendGrabTCP(p); });
  EXPECT_EQ(p.z(), float(double(-0.176f) + 0.008));
  EXPECT_EQ(out, coloured(YELLOW_BOLD, "grab_tcp_.z() < (trash_lowest_z_ + 0.008)!!!") + done);
}

TEST_F(ExtendGrabTcpTest, PointOnTheCameraOriginOnlyMeetsTheFloor) {
  e->pca_lengths_ = Vector3f(0.2f, 0.1f, 0.05f);
  e->trash_lowest_z_ = 0.5f;
  Vector3f p(0.1f, 0.0f, 0.4f);
  const std::string out = printed_by([&] { e->ExtendGrabTCP(p); });
  EXPECT_EQ(p.x(), 0.1f);
  EXPECT_EQ(p.y(), 0.0f);
  EXPECT_EQ(p.z(), float(double(0.5f) + 0.008));
  EXPECT_NE(out.find("GrabTCP Extended!"), std::string::npos);
}

// ---------------------------------------------------------------------------------------

enum class Entry { common, initial };

struct Outcome {
  int code = 0;
  std::string out;
  std::vector<Candidate> candidates;
};

Outcome run(GrabPoseEstimate& e, Entry entry, clouds::CloudPtr cloud, int trash_type) {
  Outcome o;
  e.trash_type_ = trash_type;
  o.out = printed_by([&] {
    o.code = entry == Entry::common ? e.CommonGrabPoseFunc(cloud) : e.GetInitialGrabPose(cloud);
  });
  o.candidates = support::candidates_in(o.out);
  return o;
}

const char* header(Entry entry) {
  return entry == Entry::common
             ? "-------------------CommonGrabPoseFunc-----------------------"
             : "------------------------GetInitialGrabPose--------------------------";
}

// A flat box on the floor: its centroid lies 0.01 m above its lowest point.
clouds::CloudPtr flat_box(float distance, float bearing_deg, int n = 800) {
  return clouds::floor_box(clouds::at_bearing(distance, bearing_deg), {0.12f, 0.05f, 0.02f}, 25.0f, n);
}
clouds::CloudPtr standing(float distance, float bearing_deg) {
  return clouds::standing_cylinder(clouds::at_bearing(distance, bearing_deg), 0.2f, 0.03f, 1500);
}

class BothEntries : public testing::TestWithParam<Entry> {};

TEST_P(BothEntries, NinetyNinePointsAreTooFewAHundredGoOnWhateverTheSwitch) {
  const Entry entry = GetParam();
  auto e = support::make_estimator();
  e->enable_process_cloud_ = false;
  Outcome o = run(*e, entry, flat_box(0.35f, 10.0f, 99), 1);
  EXPECT_EQ(o.code, litterpose::kTooFewPoints);
  EXPECT_EQ(o.out.rfind(coloured(PURPLE_BOLD, header(entry)), 0), 0u);
  EXPECT_NE(o.out.find("PclProcessFunc cost"), std::string::npos);
  EXPECT_NE(o.out.find(coloured(CYAN_BOLD, "处理后点云数量：99")), std::string::npos);
  const std::string tail = coloured(
      RED_BOLD, entry == Entry::common ? "处理后点云数量太少-------------" : "处理后点云数量太少!!!");
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);

  o = run(*e, entry, flat_box(0.35f, 10.0f, 100), 1);
  EXPECT_NE(o.out.find(coloured(CYAN_BOLD, "处理后点云数量：100")), std::string::npos);
  EXPECT_EQ(o.out.find("处理后点云数量太少"), std::string::npos);
  EXPECT_EQ(o.code, litterpose::kGrabFound);
}

TEST_P(BothEntries, OutsideTheWorkspaceSector) {
  auto e = support::make_estimator();
  const Outcome o = run(*e, GetParam(), flat_box(1.0f, 0.0f), 1);
  EXPECT_EQ(o.code, litterpose::kOutsideWorkspace);
  const std::string tail = coloured(RED_BOLD, "垃圾位置太远了！！！") + kReset;
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
  EXPECT_EQ(e->grab_tcp_, e->pca_center_.head<3>());
  EXPECT_TRUE(o.candidates.empty());
}

TEST_P(BothEntries, LowGraspPointGoesDownToTheLowestPoint) {
  const Entry entry = GetParam();
  auto e = support::make_estimator();
  const Outcome o = run(*e, entry, flat_box(0.35f, 10.0f), 3);
  ASSERT_LT(e->pca_center_.z() - e->trash_lowest_z_, 0.015f);
  EXPECT_EQ(e->grab_tcp_.z(), e->trash_lowest_z_);
  EXPECT_NE(o.out.find(coloured(YELLOW_BOLD, "grab_tcp_.z()-trash_lowest_z_ < 0.015!!!") +
                       coloured(YELLOW_BOLD, "grab_tcp_.z() = trash_lowest_z_!!!")),
            std::string::npos);
  EXPECT_EQ(o.out.find("GrabTCP Extended!"), std::string::npos);

  // From above, the tool x axis along the footprint's long side.
  EXPECT_EQ(e->grab_mainaxis_, Vector3f(e->rect_direction_.x(), e->rect_direction_.y(), 0.0f));
  std::ostringstream axis;
  axis << "grab_mainaxis_: " << e->grab_mainaxis_.x() << " " << e->grab_mainaxis_.y() << " 0";
  EXPECT_NE(o.out.find(coloured(YELLOW_BOLD, axis.str())), std::string::npos);
  const double yaw = std::atan2(-double(e->rect_direction_.y()), double(e->rect_direction_.x()));
  EXPECT_EQ(e->grab_pose_.position, e->grab_tcp_);
  support::expect_same_orientation(e->grab_pose_.orientation, D() * Rz(yaw), 1e-6);
  EXPECT_EQ(o.code, litterpose::kGrabFound);
  EXPECT_EQ(o.candidates.size(), entry == Entry::common ? 1u : 0u);

  // The last window measured: the grab space (common) or the workspace sector (initial).
  const double x = e->pca_center_.x(), y = e->pca_center_.y(), z = e->pca_center_.z();
  const double distance = entry == Entry::common
                              ? std::hypot(x, y)
                              : std::hypot(std::hypot(x, y) - 0.01125, z - 0.1555);
  EXPECT_NEAR(e->grab_distance_, distance, 1e-6);
  EXPECT_NEAR(e->grab_angle_, support::bearing_of(x, y) * 180.0 / M_PI, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Entries, BothEntries, testing::Values(Entry::common, Entry::initial));

TEST(CommonGrabSpace, RefusalsOfTheVerticalAndTheHorizontalBranch) {
  auto e = support::make_estimator();
  e->grab_vertical_distance_min_ = 0.45f;
  Outcome o = run(*e, Entry::common, flat_box(0.35f, 10.0f), 1);
  EXPECT_EQ(o.code, 101);
  std::string tail = coloured(RED_BOLD, "垃圾位置太近了！！！") + kReset;
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
  EXPECT_EQ(e->main_axis_type_, HORIZONTAL);
  EXPECT_EQ(o.out.find("grab_tcp_.z()"), std::string::npos);  // before the corrections

  o = run(*e, Entry::common, standing(0.3f, 0.0f), 3);
  EXPECT_EQ(o.code, 311);
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
  EXPECT_EQ(e->main_axis_type_, VERTICAL);
  EXPECT_NE(o.out.find("GrabTCP Extended!"), std::string::npos);  // after the extension

  // The initial pose asks neither window.
  for (auto cloud : {flat_box(0.35f, 10.0f), standing(0.3f, 0.0f)})
    EXPECT_EQ(run(*e, Entry::initial, cloud, 1).code, litterpose::kGrabFound);
}

TEST(GraspPointCorrections, TallObjectIsGraspedLowerAndLiftedBackWhenTooLow) {
  const clouds::CloudPtr box = clouds::floor_box(clouds::at_bearing(0.35f, 0.0f),
                                                 {0.08f, 0.06f, 0.032f}, 10.0f, 1500);
  for (const float lowering : {0.008f, 0.02f}) {
    SCOPED_TRACE(lowering);
    auto e = support::make_estimator();
    e->tcp_ajust_value_ = lowering;
    const Outcome o = run(*e, Entry::initial, std::make_shared<clouds::Cloud>(*box), 1);
    ASSERT_EQ(o.code, litterpose::kGrabFound);
    ASSERT_GT(e->trash_height_, e->tcp_ajust_threshold_);
    const float lowest = e->trash_lowest_z_;
    ASSERT_GT(e->pca_center_.z() - lowest, 0.015f);
    const float lowered = e->pca_center_.z() - lowering;
    EXPECT_NE(o.out.find(coloured(YELLOW_BOLD, "grab_tcp_.z() -= tcp_ajust_value_;")),
              std::string::npos);
    const bool lifted = lowered < lowest + 0.005;
    EXPECT_EQ(lifted, lowering == 0.02f);
    EXPECT_EQ(e->grab_tcp_.z(), lifted ? float(double(lowest) + 0.005) : lowered);
    EXPECT_EQ(o.out.find(coloured(YELLOW_BOLD, "grab_tcp_.z() < (trash_lowest_z_ + 0.005)!!!") +
                         coloured(MAGENTA_BOLD, "grab_tcp_.z() = (trash_lowest_z_ + 0.005)!!!")) !=
                  std::string::npos,
              lifted);
    EXPECT_EQ(e->grab_pose_.position.z(), e->grab_tcp_.z());
  }
}

TEST(GraspPointCorrections, OnTheFloorTheGraspHeightIsTheFloor) {
  auto e = support::make_estimator();
  e->is_on_floor_ = true;
  run(*e, Entry::initial,
      clouds::floor_box(clouds::at_bearing(0.35f, 0.0f), {0.08f, 0.06f, 0.032f}, 10.0f, 1500), 1);
  EXPECT_EQ(e->grab_tcp_.z(), -e->base_height_);
  EXPECT_EQ(e->grab_pose_.position.z(), -e->base_height_);
}

TEST(GraspPointCorrections, AFlyingPixelUnderTheFloorDoesNotTakeTheGraspBelowIt) {
  auto e = support::make_estimator();
  clouds::CloudPtr cloud = flat_box(0.35f, 10.0f);
  const Eigen::Vector2f xy = clouds::at_bearing(0.35f, 10.0f);
  cloud->push_back(pcl::PointXYZ(xy.x(), xy.y(), clouds::kFloorZ - 0.03f));
  const Outcome o = run(*e, Entry::initial, cloud, 1);
  ASSERT_LT(e->trash_lowest_z_, -e->base_height_);
  EXPECT_EQ(e->grab_tcp_.z(), -e->base_height_);
  EXPECT_EQ(e->grab_pose_.position.z(), -e->base_height_);
  EXPECT_NE(o.out.find(coloured(YELLOW_BOLD, "grab_tcp_.z() < -base_height_!!!")),
            std::string::npos);
}

TEST(GraspPointCorrections, LongTallObjectsAreExtendedAlongTheCameraRay) {
  auto e = support::make_estimator();
  const Outcome o = run(
      *e, Entry::initial,
      clouds::floor_box(clouds::at_bearing(0.35f, 0.0f), {0.2f, 0.05f, 0.045f}, 30.0f, 3000), 1);
  ASSERT_GT(e->pca_lengths_[0], 0.1f);
  ASSERT_GT(e->trash_height_, e->extend_height_threshold_);
  EXPECT_NE(o.out.find("GrabTCP Extended!"), std::string::npos);
  const float thinnest = e->pca_lengths_[2];
  EXPECT_FLOAT_EQ(e->extend_length_, thinnest < e->extend_lenth_threshold_
                                         ? thinnest * e->extra_length_ratio_
                                         : e->extend_length_max_);
  const Vector3d c = e->pca_center_.head<3>().cast<double>();
  const Vector3d ray = (c - e->camera_extrinsic_.block<3, 1>(0, 3).cast<double>()).normalized();
  EXPECT_NEAR(e->grab_tcp_.x(), c.x() + e->extend_length_ * ray.x(), 1e-6);
  EXPECT_NEAR(e->grab_tcp_.y(), c.y() + e->extend_length_ * ray.y(), 1e-6);
}

TEST(CommonMainAxis, AClassOutsideOneToFourGraspsNothing) {
  for (Entry entry : {Entry::common, Entry::initial}) {
    auto e = support::make_estimator();
    e->main_axis_type_ = static_cast<MainAxisType>(0);
    // An exactly vertical line (sums exact in single precision) leaves the class as it was.
    const Outcome o =
        run(*e, entry, clouds::column(-0.5f, 0.25f, -0.17f, 0.001953125f, 150), 1);
    EXPECT_EQ(o.code, litterpose::kNoGrasp);
    EXPECT_EQ(e->main_axis_type_, 0);
    const std::string tail = coloured(MAGENTA_BOLD, "main_axis_type_:0") +
                             coloured(MAGENTA_BOLD, "trash_type_:1") + kReset + kReset + "\n";
    EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
  }
}

// ---------------------------------------------------------------------------------------

// A far object, inside the windows once the vertical window is widened, so that every
// candidate is out of the arm's reach.
std::unique_ptr<GrabPoseEstimate> far_reaching() {
  auto e = support::make_estimator();
  e->grab_vertical_distance_max_ = 1.2f;
  e->grab_parallel_distance_max_ = 1.2f;
  return e;
}

void expect_candidates(const Outcome& o, const std::vector<std::pair<Vector3d, Quaterniond>>& want,
                       double tolerance = support::kPrintedTolerance) {
  ASSERT_EQ(o.candidates.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(o.candidates[i].position.isApprox(want[i].first, 1e-5));
    support::expect_same_orientation(o.candidates[i].orientation, want[i].second, tolerance);
  }
}

void expect_no_grasp_ending(const Outcome& o, const char* yellow) {
  EXPECT_EQ(o.code, litterpose::kNoGrasp);
  EXPECT_EQ(occurrences(o.out, kReached), 0);
  EXPECT_NE(o.out.find(coloured(YELLOW_BOLD, yellow)), std::string::npos);
  const std::string tail = coloured(RED_BOLD, "当前位置无法抓取!!!") + kReset + kReset + "\n";
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
}

void expect_pose_is_last(const GrabPoseEstimate& e, const Outcome& o) {
  ASSERT_FALSE(o.candidates.empty());
  EXPECT_TRUE(e.grab_pose_.position.cast<double>().isApprox(o.candidates.back().position, 1e-5));
  support::expect_same_orientation(e.grab_pose_.orientation, o.candidates.back().orientation,
                                   support::kPrintedTolerance);
}

TEST(CommonVerticalRetries, TrashTypes1And2TiltOutwardSixteenTimesRisingWithTheSine) {
  for (int type : {1, 2}) {
    SCOPED_TRACE(type);
    auto e = far_reaching();
    const Outcome o = run(*e, Entry::common, flat_box(0.75f, -20.0f), type);
    const double z0 = e->trash_lowest_z_;  // the low box is grasped at its lowest point
    const Vector3d at(e->pca_center_.x(), e->pca_center_.y(), z0);
    const double yaw = std::atan2(-double(e->grab_mainaxis_.y()), double(e->grab_mainaxis_.x()));
    const double b = support::bearing_of(at.x(), at.y());
    std::vector<std::pair<Vector3d, Quaterniond>> want{{at, D() * Rz(yaw)}};
    for (int tilt = 5; tilt <= 80; tilt += 5)
      want.push_back({{at.x(), at.y(), z0 + 0.01 * std::sin(deg(tilt))}, D() * Rz(b) * Ry(deg(tilt))});
    expect_candidates(o, want);
    expect_no_grasp_ending(o, "当前位置无法竖直抓取!!!");
    expect_pose_is_last(*e, o);
    EXPECT_NEAR(e->grab_tcp_.z(), z0 + 0.01 * std::sin(deg(80)), 1e-7);
    std::ostringstream rot_z;
    rot_z << "rot_z: " << float(yaw);
    EXPECT_NE(o.out.find(coloured(CYAN_BOLD, rot_z.str())), std::string::npos);
  }
}

TEST(CommonVerticalRetries, TrashType3SlantsAboutTheAxisAcrossTheBearing) {
  auto e = far_reaching();
  const Outcome o = run(*e, Entry::common, flat_box(0.75f, 25.0f), 3);
  const Vector3d at = e->grab_tcp_.cast<double>();
  const double yaw = std::atan2(-double(e->grab_mainaxis_.y()), double(e->grab_mainaxis_.x()));
  const Quaterniond first = D() * Rz(yaw);
  const Vector3d across(-at.y(), at.x(), 0.0);
  std::vector<std::pair<Vector3d, Quaterniond>> want{{at, first}};
  for (int slant = -5; slant >= -25; slant -= 5)
    want.push_back({at, support::turn(deg(slant), across) * first});
  // The slant is turned in single precision.
  expect_candidates(o, want, 5e-6);
  expect_no_grasp_ending(o, "当前位置无法竖直抓取!!!");
  expect_pose_is_last(*e, o);

  // Each slant tilts the tool z axis away from the base, towards the bearing of the point.
  const Vector3d outward = Vector3d(at.x(), at.y(), 0.0).normalized();
  const Vector3d tool_z = e->grab_pose_.orientation.toRotationMatrix().col(2);
  EXPECT_NEAR(tool_z.dot(outward), std::sin(deg(25)), 1e-5);
}

TEST(CommonVerticalRetries, OtherTrashTypesHaveNoRetries) {
  auto e = far_reaching();
  const Outcome o = run(*e, Entry::common, flat_box(0.75f, 25.0f), 7);
  EXPECT_EQ(o.candidates.size(), 1u);
  expect_no_grasp_ending(o, "当前位置无法竖直抓取!!!");
}

TEST(CommonVerticalRetries, ReachableObjectTakesTheFirstCandidate) {
  auto e = support::make_estimator();
  const Outcome o = run(*e, Entry::common, flat_box(0.35f, -20.0f), 1);
  EXPECT_EQ(o.code, litterpose::kGrabFound);
  EXPECT_EQ(o.candidates.size(), 1u);
  EXPECT_EQ(occurrences(o.out, kReached), 1);
  EXPECT_EQ(o.out.find("当前位置无法竖直抓取!!!"), std::string::npos);
  expect_pose_is_last(*e, o);
}

// Centroid, pushed along the camera ray, floored, then pushed radially by the adjustment.
Vector3d side_grasp_point(const GrabPoseEstimate& e) {
  Vector3d p = e.pca_center_.head<3>().cast<double>();
  const Vector3d ray = (p - e.camera_extrinsic_.block<3, 1>(0, 3).cast<double>()).normalized();
  p += double(e.extend_length_) * ray;
  p.z() = std::max(p.z(), double(e.trash_lowest_z_) + 0.008);
  const Vector3d radial = Vector3d(p.x(), p.y(), 0.0).normalized();
  return p + double(e.tcp_ajust_value_) * radial;
}

TEST(CommonHorizontalBranch, StandingObjectFromTheSideWithThreeRetries) {
  auto e = far_reaching();
  const Outcome o = run(*e, Entry::common, standing(0.8f, 15.0f), 2);
  EXPECT_EQ(e->main_axis_type_, VERTICAL);
  EXPECT_LT(e->pca_vectors_(2, 0), 0.0f);
  EXPECT_EQ(e->grab_mainaxis_, Vector3f(0.0f, 0.0f, -1.0f));
  EXPECT_NE(o.out.find(coloured(YELLOW_BOLD, "grab_mainaxis_: 0 0 -1")), std::string::npos);
  EXPECT_NE(o.out.find(coloured(MAGENTA_BOLD, "grab_tcp_.x() += tcp_ajust_value_ * v_tcp.x() !") +
                       coloured(MAGENTA_BOLD, "grab_tcp_.y() += tcp_ajust_value_ * v_tcp.y() !")),
            std::string::npos);
  const Vector3d at = side_grasp_point(*e);
  EXPECT_TRUE(e->grab_tcp_.cast<double>().isApprox(at, 1e-6));

  const Quaterniond first = D() * S() * Rx(-support::bearing_of(at.x(), at.y()));
  std::vector<std::pair<Vector3d, Quaterniond>> want{{at, first}};
  for (int tilt = 10; tilt <= 30; tilt += 10) want.push_back({at, first * Ry(deg(-tilt))});
  expect_candidates(o, want);
  expect_no_grasp_ending(o, "当前位置无法水平抓取!!!");
  expect_pose_is_last(*e, o);
  EXPECT_EQ(occurrences(o.out, "q_grab: "), 1);
}

TEST(CommonHorizontalBranch, InitialPoseIsOfferedWithoutAskingTheArm) {
  auto e = far_reaching();
  const Outcome o = run(*e, Entry::initial, standing(0.8f, 15.0f), 2);
  EXPECT_EQ(o.code, litterpose::kGrabFound);
  EXPECT_TRUE(o.candidates.empty());
  EXPECT_EQ(o.out.find("q_grab"), std::string::npos);
  const Vector3d at = side_grasp_point(*e);
  EXPECT_TRUE(e->grab_pose_.position.cast<double>().isApprox(at, 1e-6));
  support::expect_same_orientation(e->grab_pose_.orientation,
                                   D() * S() * Rx(-support::bearing_of(at.x(), at.y())), 1e-6);
}

}  // namespace

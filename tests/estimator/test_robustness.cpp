// Adversarial clouds through every entry: no crash, exceptions only where the shape
// analysis cannot start, and never a "found" result with a pose that is not a finite
// position and a unit orientation.
#include <gtest/gtest.h>
#include <litterpose.h>
#include <pcl/exceptions.h>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "support/clouds.h"
#include "support/estimator.h"
#include "support/grasp.h"

namespace {

using clouds::CloudPtr;
using support::coloured;
using support::printed_by;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

const char kNonFiniteShape[] =
    "cloud shape is not finite: the cloud holds non-finite or overflowing coordinates!!!";
const char kUnsoundPose[] = "grasp pose is not finite, refused!!!";

enum class Entry { main, common, initial };

int call(GrabPoseEstimate& e, Entry entry, CloudPtr& cloud) {
  switch (entry) {
    case Entry::main: return e.GrabPoseEstimateFunc(cloud);
    case Entry::common: return e.CommonGrabPoseFunc(cloud);
    case Entry::initial: return e.GetInitialGrabPose(cloud);
  }
  return 0;
}

const std::set<int>& codes_of(Entry entry) {
  static const std::set<int> main{1,   11,  101, 102, 103, 104, 111, 201, 202, 203, 204,
                                  301, 302, 303, 304, 311, 312, 313, 314, 1111};
  static const std::set<int> common{1, 11, 41, 101, 311, 1111};
  static const std::set<int> initial{1, 11, 41, 1111};
  return entry == Entry::main ? main : entry == Entry::common ? common : initial;
}

void expect_sound_if_found(const GrabPoseEstimate& e, int code) {
  if (code != litterpose::kGrabFound) return;
  EXPECT_TRUE(e.grab_pose_.position.allFinite()) << e.grab_pose_.position.transpose();
  EXPECT_TRUE(e.grab_pose_.orientation.coeffs().allFinite());
  EXPECT_NEAR(e.grab_pose_.orientation.norm(), 1.0, 1e-9);
}

CloudPtr object() {
  return clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.2f, 0.015f, 600);
}

CloudPtr with_points(CloudPtr cloud, int n, const pcl::PointXYZ& p) {
  for (int i = 0; i < n; ++i) cloud->push_back(p);
  return cloud;
}

struct Adversary {
  const char* name;
  std::function<CloudPtr()> make;
};

const std::vector<Adversary>& adversaries() {
  static const std::vector<Adversary> all{
      {"empty", [] { return clouds::empty(); }},
      {"one point", [] { return clouds::column(-0.4f, 0.0f, -0.17f, 0.01f, 1); }},
      {"two points", [] { return clouds::column(-0.4f, 0.0f, -0.17f, 0.01f, 2); }},
      {"three points", [] { return clouds::column(-0.4f, 0.05f, -0.17f, 0.01f, 3); }},
      {"all points equal", [] { return with_points(clouds::empty(), 300, {-0.4f, 0.1f, -0.17f}); }},
      {"collinear",
       [] { return clouds::rod({-0.4f, 0.1f, -0.15f}, {1.0f, 0.5f, 0.0f}, 0.2f, 0.0f, 300); }},
      {"coplanar",
       [] { return clouds::box({-0.4f, 0.1f, -0.17f}, {0.1f, 0.08f, 0.0f}, 15.0f, 300); }},
      {"vertical line", [] { return clouds::column(-0.45f, 0.05f, -0.176f, 0.001f, 300); }},
      {"some NaN", [] { return with_points(object(), 40, {kNaN, 0.0f, kNaN}); }},
      {"some infinite", [] { return with_points(object(), 40, {kInf, -kInf, 0.0f}); }},
      {"mostly NaN", [] {
         CloudPtr c = clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.2f, 0.015f, 60);
         return with_points(c, 80, {kNaN, kNaN, kNaN});
       }},
      {"all NaN", [] { return with_points(clouds::empty(), 300, {kNaN, kNaN, kNaN}); }},
      {"all NaN, not dense", [] {
         CloudPtr c = with_points(clouds::empty(), 300, {kNaN, kNaN, kNaN});
         c->is_dense = false;
         return c;
       }},
      {"huge coordinates", [] {
         CloudPtr c = object();
         for (auto& p : c->points) p.getVector3fMap() *= 1e30f;
         return c;
       }},
      {"huge outliers around an object", [] {
         CloudPtr c = with_points(object(), 5, {1e20f, 1e20f, 0.0f});
         return with_points(c, 5, {-1e20f, -1e20f, 0.0f});
       }},
      {"200000 points",
       [] { return clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.2f, 0.015f, 200000); }},
  };
  return all;
}

struct Scenario {
  Entry entry;
  int trash_type;
  bool prepare;
};

void PrintTo(const Scenario& s, std::ostream* os) {
  *os << "entry " << static_cast<int>(s.entry) << ", trash type " << s.trash_type
      << (s.prepare ? ", prepared" : ", unprepared");
}

class AdversarialCloudTest : public testing::TestWithParam<Scenario> {};

TEST_P(AdversarialCloudTest, ClearResultOrTheAnalysisException) {
  const Scenario& r = GetParam();
  for (const Adversary& a : adversaries()) {
    SCOPED_TRACE(a.name);
    auto e = support::make_estimator();
    e->enable_process_cloud_ = r.prepare;
    e->trash_type_ = r.trash_type;
    CloudPtr cloud = a.make();
    const size_t points = cloud->size();
    // Only the main entry skips the point minimum, and only without preparation.
    const bool analysis_cannot_start = r.entry == Entry::main && !r.prepare && points < 3;
    int code = 0;
    if (analysis_cannot_start) {
      EXPECT_THROW(call(*e, r.entry, cloud), pcl::InitFailedException);
      continue;
    }
    const std::string out =
        printed_by([&] { EXPECT_NO_THROW(code = call(*e, r.entry, cloud)); });
    EXPECT_EQ(codes_of(r.entry).count(code), 1u) << code;
    expect_sound_if_found(*e, code);
    if (std::string(a.name).find("NaN") != std::string::npos ||
        std::string(a.name).find("infinite") != std::string::npos) {
      // Non-finite points either leave with the preparation or end in a refusal.
      const bool kept = out.find(kNonFiniteShape) != std::string::npos;
      if (kept) {
        EXPECT_EQ(code, litterpose::kTooFewPoints);
      }
    }
  }
}

std::string name_of(const testing::TestParamInfo<Scenario>& info) {
  const char* entry = info.param.entry == Entry::main     ? "Main"
                      : info.param.entry == Entry::common ? "Common"
                                                          : "Initial";
  return std::string(entry) + "Type" + std::to_string(info.param.trash_type) +
         (info.param.prepare ? "Prepared" : "Unprepared");
}

std::vector<Scenario> all_runs() {
  std::vector<Scenario> runs;
  for (Entry entry : {Entry::main, Entry::common, Entry::initial})
    for (int type : {1, 2, 3})
      for (bool prepare : {true, false}) runs.push_back({entry, type, prepare});
  return runs;
}

INSTANTIATE_TEST_SUITE_P(EveryEntry, AdversarialCloudTest, testing::ValuesIn(all_runs()), name_of);

// ---------------------------------------------------------------------------------------

TEST(NonFiniteInput, UnpreparedNaNPointsEndInTooFewPoints) {
  for (int type : {1, 2, 3}) {
    auto e = support::make_estimator();
    e->enable_process_cloud_ = false;
    e->trash_type_ = type;
    CloudPtr cloud = with_points(object(), 3, {kNaN, 0.0f, 0.0f});
    int code = 0;
    const std::string out = printed_by([&] { code = e->GrabPoseEstimateFunc(cloud); });
    EXPECT_EQ(code, litterpose::kTooFewPoints);
    const std::string tail = coloured(RED_BOLD, kNonFiniteShape);
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_EQ(out.find("grab_pose."), std::string::npos);
    // Refused before the boxes and the footprint are computed from non-numbers.
    EXPECT_EQ(out.find("OBB"), std::string::npos);
    EXPECT_EQ(out.find("MinAreaRect"), std::string::npos);
  }
}

TEST(NonFiniteInput, OverflowingCoordinatesAreRefusedBeforeTheBoxes) {
  auto e = support::make_estimator();
  e->enable_process_cloud_ = false;
  e->trash_type_ = 3;
  CloudPtr cloud = object();
  for (auto& p : cloud->points) p.getVector3fMap() *= 1e30f;
  int code = 0;
  const std::string out = printed_by([&] { code = e->GrabPoseEstimateFunc(cloud); });
  EXPECT_EQ(code, litterpose::kTooFewPoints);
  EXPECT_NE(out.find(coloured(RED_BOLD, kNonFiniteShape)), std::string::npos);
  EXPECT_EQ(out.find("OBB"), std::string::npos);
}

TEST(NonFiniteInput, ThePreparationFallbackKeepsNaNPointsAndTheCommonEntriesRefuse) {
  for (bool initial : {false, true}) {
    auto e = support::make_estimator();
    e->trash_type_ = 1;
    // Too few finite points for the filtered cloud: the preparation falls back to all.
    CloudPtr cloud = with_points(
        clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.2f, 0.015f, 60), 60,
        {kNaN, kNaN, kNaN});
    int code = 0;
    const std::string out = printed_by(
        [&] { code = initial ? e->GetInitialGrabPose(cloud) : e->CommonGrabPoseFunc(cloud); });
    EXPECT_EQ(code, litterpose::kTooFewPoints);
    EXPECT_NE(out.find(coloured(RED_BOLD, kNonFiniteShape)), std::string::npos);
  }
}

// An infinite extension ratio turns the grasp point into infinities and non-numbers after
// the shape analysis: no candidate may reach the solver or the host.
TEST(NonFiniteInput, NonFiniteCandidatesAreNeverOfferedNorSolved) {
  for (bool initial : {false, true}) {
    SCOPED_TRACE(initial);
    auto e = support::make_estimator();
    e->extra_length_ratio_ = kInf;
    e->extend_lenth_threshold_ = 1.0f;
    e->trash_type_ = 2;
    CloudPtr cloud = clouds::standing_cylinder(clouds::at_bearing(0.6f, 10.0f), 0.2f, 0.03f, 800);
    int code = 0;
    const std::string out = printed_by(
        [&] { code = initial ? e->GetInitialGrabPose(cloud) : e->CommonGrabPoseFunc(cloud); });
    EXPECT_EQ(code, litterpose::kNoGrasp);
    EXPECT_EQ(out.find("grab_pose.position"), std::string::npos);
    EXPECT_EQ(support::occurrences(out, coloured(RED_BOLD, kUnsoundPose)), initial ? 1 : 4);
  }

  // The main entry, with a calibration that is not a number.
  auto e = support::make_estimator();
  e->enable_process_cloud_ = false;
  e->camera_extrinsic_(0, 3) = kNaN;
  e->trash_type_ = 3;
  CloudPtr cloud = clouds::standing_cylinder(clouds::at_bearing(0.6f, 10.0f), 0.2f, 0.03f, 800);
  int code = 0;
  const std::string out = printed_by([&] { code = e->GrabPoseEstimateFunc(cloud); });
  EXPECT_EQ(code, litterpose::kNoGrasp);
  EXPECT_EQ(out.find("grab_pose.position"), std::string::npos);
  EXPECT_EQ(support::occurrences(out, coloured(RED_BOLD, kUnsoundPose)), 4);
}

TEST(NullCloud, IsTakenAsAnEmptyCloud) {
  for (Entry entry : {Entry::main, Entry::common, Entry::initial}) {
    auto e = support::make_estimator();
    e->trash_type_ = 1;
    CloudPtr cloud;
    int code = 0;
    printed_by([&] { code = call(*e, entry, cloud); });
    EXPECT_EQ(code, litterpose::kTooFewPoints);
    ASSERT_NE(cloud, nullptr);
    EXPECT_TRUE(cloud->empty());
  }
  auto e = support::make_estimator();
  e->enable_process_cloud_ = false;
  CloudPtr cloud;
  EXPECT_THROW(e->GrabPoseEstimateFunc(cloud), pcl::InitFailedException);
}

}  // namespace

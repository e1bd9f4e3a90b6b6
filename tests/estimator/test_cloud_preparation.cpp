// Cloud preparation: measurement, height bands, bottom cut, pass-through and fallback,
// the plane cut and the nearest/farthest point helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <regex>
#include <sstream>
#include <string>

#include "support/clouds.h"
#include "support/estimator.h"

namespace {

using clouds::Cloud;
using clouds::CloudPtr;

const std::string kReset = "\x1b[0m";
const char kBand1[] = "(trash_highest_z_ - trash_lowest_z_) < remove_bottom_height_threshold_1_";
const char kBand2[] = "(trash_highest_z_ - trash_lowest_z_) < remove_bottom_height_threshold_2_";
const char kBand3[] = "(trash_highest_z_ - trash_lowest_z_) < remove_bottom_height_threshold_3_";
const char kBand4[] = "trash_height_ > remove_bottom_height_threshold_3_";

template <typename T>
std::string coloured(const char* colour, const std::string& text, const T& value) {
  std::ostringstream s;
  s << colour << text << value << kReset << '\n';
  return s.str();
}
std::string coloured(const char* colour, const std::string& text) {
  return std::string(colour) + text + kReset + "\n";
}

bool contains(const std::string& out, const std::string& part) {
  return out.find(part) != std::string::npos;
}

// n points in a small patch at x = -0.4, with z spread evenly from bottom to top (both
// ends exact, so that the measured height is top - bottom to the bit).
CloudPtr slab(float bottom, float top, int n) {
  CloudPtr cloud = clouds::empty();
  for (int i = 0; i < n; ++i) {
    const float z = i == n - 1 ? top : bottom + (top - bottom) * i / (n - 1);
    cloud->push_back(pcl::PointXYZ(-0.4f + 0.001f * (i % 10), 0.001f * (i % 7), z));
  }
  return cloud;
}

struct Prepared {
  std::string out;
  CloudPtr cloud;
};

Prepared prepare(GrabPoseEstimate& e, CloudPtr cloud) {
  Prepared p{"", cloud};
  p.out = support::printed_by([&] { e.PclProcessFunc(p.cloud, p.cloud); });
  return p;
}

bool same_points(const Cloud& a, const Cloud& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(float) * 3) != 0) return false;
  }
  return true;
}

int band_of(const std::string& out) {
  int band = 0, found = 0;
  const char* messages[] = {kBand1, kBand2, kBand3, kBand4};
  for (int b = 0; b < 4; ++b) {
    if (contains(out, coloured(YELLOW_BOLD, messages[b]))) {
      band = b + 1;
      ++found;
    }
  }
  return found > 1 ? -1 : band;
}

}  // namespace

TEST(PclProcessMeasurement, PrintsTheMeasurementAndCostInOrder) {
  auto e = support::make_estimator();
  const Prepared p = prepare(*e, slab(-0.1f, 0.2f, 200));
  EXPECT_EQ(e->trash_lowest_z_, -0.1f);
  EXPECT_EQ(e->trash_highest_z_, 0.2f);
  EXPECT_EQ(e->trash_height_, 0.2f - -0.1f);
  const std::string expected_start = coloured(MAGENTA_BOLD, "trash_lowest_z_: ", -0.1f) +
                                     coloured(MAGENTA_BOLD, "trash_highest_z_: ", 0.2f) +
                                     coloured(MAGENTA_BOLD, "trash_height_:", e->trash_height_) +
                                     coloured(YELLOW_BOLD, kBand4);
  EXPECT_EQ(p.out.substr(0, expected_start.size()), expected_start) << p.out;
  EXPECT_TRUE(contains(expected_start, "trash_height_:0.3\x1b[0m"));
  const std::regex cost("\x1b\\[1;31mPclProcessFunc cost [0-9.e+-]+ ms\x1b\\[0m\n$");
  EXPECT_TRUE(std::regex_search(p.out, cost)) << p.out;
}

TEST(PclProcessMeasurement, OnFloorMovesTheLowestPointButNotTheHeight) {
  auto e = support::make_estimator([](YAML::Node& c) { c["debug_choice"]["is_on_floor"] = true; });
  // 0.04 high: band 2, margin 0.012 above the floor, not above the object's lowest point.
  CloudPtr cloud = slab(-0.17f, -0.13f, 400);
  const Prepared p = prepare(*e, cloud);
  EXPECT_EQ(e->trash_lowest_z_, -0.176f);
  EXPECT_EQ(e->trash_highest_z_, -0.13f);
  EXPECT_EQ(e->trash_height_, -0.13f - -0.17f);
  EXPECT_EQ(band_of(p.out), 2);
  EXPECT_TRUE(contains(p.out, coloured(MAGENTA_BOLD, "is_on_floor_ !  trash_lowest_z_: ", -0.176f)));
  float lowest_kept = std::numeric_limits<float>::max();
  for (const auto& q : *p.cloud) lowest_kept = std::min(lowest_kept, q.z);
  EXPECT_GE(lowest_kept, -0.176f + 0.012f);
  EXPECT_LT(lowest_kept, -0.17f + 0.012f) << "filtered from the object's own lowest point";
}

// Height relative to the thresholds (0.024, 0.05, 0.07), the band it falls in, and
// pass_ajust_value_ afterwards (configured 0.003).
struct BandCase {
  float height;
  int band;
  float margin_after;
};

class HeightBands : public testing::TestWithParam<BandCase> {};

TEST_P(HeightBands, StrictComparisonsInOrder) {
  const BandCase c = GetParam();
  auto e = support::make_estimator();
  const Prepared p = prepare(*e, slab(0.0f, c.height, 300));
  EXPECT_EQ(e->trash_height_, c.height);
  EXPECT_EQ(band_of(p.out), c.band) << p.out;
  EXPECT_EQ(e->pass_ajust_value_, c.margin_after);
}

INSTANTIATE_TEST_SUITE_P(
    AroundEachThreshold, HeightBands,
    testing::Values(BandCase{0.01f, 1, 0.0f},
                    BandCase{std::nextafter(0.024f, 0.0f), 1, 0.0f},
                    BandCase{0.024f, 2, 0.012f},
                    BandCase{std::nextafter(0.05f, 0.0f), 2, 0.012f},
                    BandCase{0.05f, 3, 0.003f},
                    BandCase{std::nextafter(0.07f, 0.0f), 3, 0.003f},
                    BandCase{0.07f, 0, 0.003f},
                    BandCase{std::nextafter(0.07f, 1.0f), 4, 0.003f},
                    BandCase{0.3f, 4, 0.003f}));

TEST(HeightBandsState, MarginOfBandOneSticksForLaterCalls) {
  auto e = support::make_estimator();
  prepare(*e, slab(0.0f, 0.01f, 200));
  ASSERT_EQ(e->pass_ajust_value_, 0.0f);
  // Band 3 now filters 0.001 above the lowest point, which the configured 0.003 would drop.
  CloudPtr cloud = slab(0.0f, 0.06f, 200);
  cloud->push_back(pcl::PointXYZ(-0.4f, 0.0f, 0.001f));
  const Prepared p = prepare(*e, cloud);
  EXPECT_EQ(band_of(p.out), 3);
  EXPECT_EQ(p.cloud->size(), 201u);
}

TEST(HeightBandsState, OutOfOrderThresholdsFirstTrueTestDecides) {
  auto e = support::make_estimator([](YAML::Node& c) {
    c["grab_pose_estimate"]["remove_bottom_height_threshold_1"] = 0.1;
    c["grab_pose_estimate"]["remove_bottom_height_threshold_2"] = 0.02;
  });
  EXPECT_EQ(band_of(prepare(*e, slab(0.0f, 0.06f, 200)).out), 1);
}

TEST(HeightBandsState, EmptyCloudStaysEmptyAndChangesNoMargin) {
  auto e = support::make_estimator();
  const Prepared p = prepare(*e, clouds::empty());
  EXPECT_TRUE(p.cloud->empty());
  EXPECT_EQ(band_of(p.out), 0) << p.out;
  EXPECT_EQ(e->pass_ajust_value_, 0.003f);
  EXPECT_TRUE(std::isnan(e->trash_height_));
  EXPECT_TRUE(contains(p.out, "以下点云后数量太少-------------"));
}

TEST(PassThrough, DropsPointsAboveOneMetreAndNonFinitePoints) {
  auto e = support::make_estimator();
  CloudPtr cloud = slab(0.5f, 0.55f, 200);  // band 3
  cloud->push_back(pcl::PointXYZ(-0.4f, 0.0f, 1.0f));
  cloud->push_back(pcl::PointXYZ(-0.4f, 0.0f, 1.0001f));
  cloud->push_back(pcl::PointXYZ(std::nanf(""), 0.0f, 0.52f));
  cloud->push_back(pcl::PointXYZ(-0.4f, std::numeric_limits<float>::infinity(), 0.52f));
  // The measurement ignores the non-finite points, and with them 1.0001 is the top.
  const Prepared p = prepare(*e, cloud);
  EXPECT_EQ(e->trash_highest_z_, 1.0001f);
  EXPECT_EQ(band_of(p.out), 4);
  for (const auto& q : *p.cloud) {
    EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z));
    EXPECT_LE(q.z, 1.0f);
  }
  bool kept_one_metre = false;
  for (const auto& q : *p.cloud) kept_one_metre = kept_one_metre || q.z == 1.0f;
  EXPECT_TRUE(kept_one_metre) << "the upper limit is inclusive";
}

TEST(Fallback, HundredPointsAreEnoughNinetyNineAreNot) {
  for (int kept : {100, 99}) {
    auto e = support::make_estimator();
    CloudPtr cloud = slab(0.01f, 0.06f, kept);
    for (int i = 0; i < 5; ++i) cloud->push_back(pcl::PointXYZ(-0.4f, 0.0f, 0.0f));
    const Cloud entry = *cloud;
    const Prepared p = prepare(*e, cloud);
    ASSERT_EQ(band_of(p.out), 3);
    const std::string fallback_line =
        std::string(YELLOW_BOLD) + "去z坐标 0.003 以下点云后数量太少-------------" + kReset + "\n";
    if (kept == 100) {
      EXPECT_EQ(p.cloud->size(), 100u);
      EXPECT_FALSE(contains(p.out, "以下点云后数量太少"));
    } else {
      EXPECT_TRUE(same_points(*p.cloud, entry));
      EXPECT_TRUE(contains(p.out, fallback_line)) << p.out;
    }
  }
}

TEST(Fallback, RestoresTheCloudCutByTheBottomCut) {
  auto e = support::make_estimator();
  CloudPtr cloud = slab(0.0f, 0.2f, 150);  // band 4; the cut and the margin leave too few
  for (auto& q : *cloud) q.x = q.z < 0.15f ? -1.0f : -0.4f;
  cloud->header.frame_id = "base";
  const Cloud entry = *cloud;
  const Prepared p = prepare(*e, cloud);
  ASSERT_EQ(band_of(p.out), 4);
  EXPECT_TRUE(contains(p.out, "以下点云后数量太少"));
  EXPECT_TRUE(same_points(*p.cloud, entry));
  EXPECT_EQ(p.cloud->header.frame_id, "base");
  EXPECT_EQ(e->trash_height_, 0.2f);
}

TEST(Fallback, SeparateOutputIsCleanedOrReceivesTheInput) {
  auto e = support::make_estimator();
  CloudPtr input = slab(0.0f, 0.06f, 150);
  const Cloud entry = *input;
  CloudPtr output = slab(0.0f, 0.3f, 300);
  support::printed_by([&] { e->PclProcessFunc(input, output); });
  EXPECT_EQ(e->trash_height_, 0.3f) << "the output is measured";
  EXPECT_TRUE(same_points(*input, entry)) << "the input is only read";
  EXPECT_GE(output->size(), 100u);
  EXPECT_LT(output->size(), 300u);

  output = slab(0.0f, 0.3f, 50);
  const std::string out = support::printed_by([&] { e->PclProcessFunc(input, output); });
  EXPECT_TRUE(contains(out, "以下点云后数量太少"));
  EXPECT_TRUE(same_points(*output, entry));
  EXPECT_TRUE(same_points(*input, entry));
}

TEST(Fallback, NullCloudIsLeftAlone) {
  auto e = support::make_estimator();
  CloudPtr none;
  CloudPtr cloud = slab(0.0f, 0.3f, 300);
  EXPECT_EQ(support::printed_by([&] { e->PclProcessFunc(none, none); }), "");
  EXPECT_EQ(support::printed_by([&] { e->PclProcessFunc(none, cloud); }), "");
  EXPECT_EQ(cloud->size(), 300u);
}

TEST(BottomCut, TiltedPlaneThroughTheNearestPoint) {
  auto e = support::make_estimator();
  // A standing box whose near face is at x = -0.4; the plane rises by tan 15 degrees per
  // metre towards -x from z = lowest at the nearest point.
  CloudPtr cloud = clouds::floor_box(Eigen::Vector2f(-0.45f, 0.0f), Eigen::Vector3f(0.1f, 0.1f, 0.12f),
                                     0.0f, 4000);
  const pcl::PointXYZ nearest = e->GetMinPointXY(cloud);
  const Prepared p = prepare(*e, cloud);
  ASSERT_EQ(band_of(p.out), 4);
  const float lowest = e->trash_lowest_z_;
  const double slope = std::tan(15.0 * M_PI / 180.0);
  int far_low = 0;
  for (const auto& q : *p.cloud) {
    EXPECT_GE(q.z - lowest, slope * (nearest.x - q.x) - 1e-6) << q;
    far_low += q.x < -0.48f && q.z < lowest + 0.003f + 0.005f;
  }
  EXPECT_EQ(far_low, 0) << "the far, low points go with the cut, not just the margin";
  EXPECT_GT(p.cloud->size(), 100u);
}

TEST(BottomCut, FlatAtAngleZeroTiltedOtherwise) {
  auto e = support::make_estimator();
  CloudPtr cloud = slab(-0.05f, 0.05f, 101);
  const Cloud entry = *cloud;
  e->RemoveBottomCloud(cloud, -0.05f, 0.0f);
  EXPECT_TRUE(same_points(*cloud, entry)) << "nothing lies below the cloud's own lowest z";
  e->RemoveBottomCloud(cloud, 0.0f, 0.0f);
  EXPECT_EQ(cloud->size(), 51u);

  cloud = clouds::empty();
  cloud->push_back(pcl::PointXYZ(-0.3f, 0.0f, 0.5f));      // nearest to the axis: the plane point
  cloud->push_back(pcl::PointXYZ(-0.3f, 0.05f, 0.001f));   // just above the plane there
  cloud->push_back(pcl::PointXYZ(-0.3f, 0.05f, -0.001f));  // just below
  cloud->push_back(pcl::PointXYZ(-0.4f, 0.0f, 0.02f));     // plane at 0.1 tan 15 = 0.0268
  cloud->push_back(pcl::PointXYZ(-0.4f, 0.0f, 0.035f));
  e->RemoveBottomCloud(cloud, 0.0f, 15.0f);
  ASSERT_EQ(cloud->size(), 3u);
  EXPECT_EQ((*cloud)[0].z, 0.5f);
  EXPECT_EQ((*cloud)[1].z, 0.001f);
  EXPECT_EQ((*cloud)[2].z, 0.035f);
}

TEST(PlaneCut, KeepsPointsOnAndBehindThePlaneAndNonNumbers) {
  auto e = support::make_estimator();
  CloudPtr cloud = clouds::empty();
  cloud->header.frame_id = "base";
  cloud->push_back(pcl::PointXYZ(0.0f, 0.0f, 0.25f));   // on the plane: s = 0
  cloud->push_back(pcl::PointXYZ(0.0f, 0.0f, 0.5f));    // s < 0
  cloud->push_back(pcl::PointXYZ(0.0f, 0.0f, 0.0f));    // s > 0
  cloud->push_back(pcl::PointXYZ(std::nanf(""), 1.0f, 1.0f));
  cloud->push_back(pcl::PointXYZ(5.0f, -3.0f, 0.3f));   // x, y do not count for this direction
  CloudPtr same = cloud;
  e->RemovePointsInDirection(cloud, pcl::PointXYZ(1.0f, 2.0f, 0.25f), Eigen::Vector3f(0, 0, -2));
  EXPECT_EQ(cloud, same) << "the caller's object is overwritten, the pointer kept";
  ASSERT_EQ(cloud->size(), 4u);
  EXPECT_EQ((*cloud)[0].z, 0.25f);
  EXPECT_EQ((*cloud)[1].z, 0.5f);
  EXPECT_TRUE(std::isnan((*cloud)[2].x));
  EXPECT_EQ((*cloud)[3].x, 5.0f);
  EXPECT_EQ(cloud->width, 4u);
  EXPECT_EQ(cloud->height, 1u);
  EXPECT_EQ(cloud->header.frame_id, "");
  EXPECT_FALSE(cloud->is_dense) << "a kept non-number is not hidden behind the dense flag";
}

TEST(PlaneCut, EverythingRemovedLeavesANewEmptyCloud) {
  auto e = support::make_estimator();
  CloudPtr cloud = slab(0.0f, 1.0f, 20);
  e->RemovePointsInDirection(cloud, pcl::PointXYZ(0, 0, 2.0f), Eigen::Vector3f(0, 0, -1));
  EXPECT_TRUE(cloud->empty());
  EXPECT_EQ(cloud->width, 0u);
  EXPECT_EQ(cloud->height, 0u);
  EXPECT_TRUE(cloud->is_dense);
  CloudPtr none;
  e->RemovePointsInDirection(none, pcl::PointXYZ(0, 0, 0), Eigen::Vector3f(0, 0, 1));
  EXPECT_EQ(none, nullptr);
}

TEST(NearestAndFarthest, TiesKeepTheEarlierPoint) {
  auto e = support::make_estimator();
  CloudPtr cloud = clouds::empty();
  cloud->push_back(pcl::PointXYZ(std::nanf(""), 0.0f, 9.0f));
  cloud->push_back(pcl::PointXYZ(0.3f, 0.4f, 1.0f));
  cloud->push_back(pcl::PointXYZ(0.4f, 0.3f, 2.0f));
  cloud->push_back(pcl::PointXYZ(-0.6f, 0.8f, 3.0f));
  cloud->push_back(pcl::PointXYZ(0.8f, -0.6f, 4.0f));
  cloud->push_back(pcl::PointXYZ(0.5f, 0.5f, 5.0f));
  const pcl::PointXYZ nearest = e->GetMinPointXY(cloud);
  EXPECT_EQ(nearest.x, 0.3f);
  EXPECT_EQ(nearest.z, 1.0f);
  const pcl::PointXYZ farthest = e->GetMaxPointXY(cloud);
  EXPECT_EQ(farthest.x, -0.6f);
  EXPECT_EQ(farthest.z, 3.0f);
}

TEST(NearestAndFarthest, NoQualifyingPointGivesTheOrigin) {
  auto e = support::make_estimator();
  for (const CloudPtr& cloud : {clouds::empty(), CloudPtr(), clouds::column(0, 0, 0.1f, 0.1f, 5)}) {
    const pcl::PointXYZ far = e->GetMaxPointXY(cloud);
    EXPECT_EQ(far.getVector3fMap(), Eigen::Vector3f::Zero());
  }
  for (const CloudPtr& cloud : {clouds::empty(), CloudPtr()}) {
    EXPECT_EQ(e->GetMinPointXY(cloud).getVector3fMap(), Eigen::Vector3f::Zero());
  }
  // On the axis the nearest point is found, z included.
  EXPECT_EQ(e->GetMinPointXY(clouds::column(0, 0, 0.1f, 0.1f, 5)).z, 0.1f);
}

TEST(Transform, AppliesTheHomogeneousTransformInPlaceOrIntoAnotherCloud) {
  auto e = support::make_estimator();
  const Eigen::Matrix4f t = e->camera_extrinsic_;
  CloudPtr cloud = slab(0.1f, 0.5f, 30);
  const Cloud entry = *cloud;
  CloudPtr other;
  e->PclTransform(cloud, other, t);
  ASSERT_NE(other, nullptr);
  e->PclTransform(cloud, cloud, t);
  ASSERT_EQ(cloud->size(), entry.size());
  for (std::size_t i = 0; i < entry.size(); ++i) {
    const Eigen::Vector3f expected =
        t.block<3, 3>(0, 0) * entry[i].getVector3fMap() + t.block<3, 1>(0, 3);
    EXPECT_TRUE((*cloud)[i].getVector3fMap().isApprox(expected, 1e-6f));
    EXPECT_EQ((*other)[i].getVector3fMap(), (*cloud)[i].getVector3fMap());
  }
}

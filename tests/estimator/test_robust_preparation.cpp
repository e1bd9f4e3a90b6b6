// The robust preparation: its configuration, its outlier test against the Point Cloud
// Library's, and what it leaves of objects captured with the floor around them, flying
// pixels and points below the floor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <sstream>
#include <tuple>
#include <vector>
#include <functional>
#include <map>

#include <pcl/filters/statistical_outlier_removal.h>
#include <yaml-cpp/yaml.h>

#include "internal/robust_preparation.h"
#include "internal/statistical_outliers.h"
#include "internal/voxel_grid.h"
#include "support/clouds.h"
#include "support/estimator.h"

namespace {

using clouds::Cloud;
using clouds::CloudPtr;
using Robust = GrabPoseEstimate::RobustPreparation;

constexpr float kFloor = clouds::kFloorZ;

std::unique_ptr<GrabPoseEstimate> robust_estimator() {
  return support::make_estimator([](YAML::Node& c) { c["robust_preparation"]["enable"] = true; });
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Floor points on a grid around (x, y), from `inner` to `outer` metres away, with noise.
void add_floor_ring(Cloud& cloud, const Eigen::Vector2f& xy, float inner, float outer,
                    float sigma, unsigned seed = 5) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, sigma);
  for (float dx = -outer; dx <= outer; dx += 0.003f)
    for (float dy = -outer; dy <= outer; dy += 0.003f)
      if (std::max(std::abs(dx), std::abs(dy)) >= inner)
        cloud.push_back(pcl::PointXYZ(xy.x() + dx, xy.y() + dy, kFloor + noise(rng)));
}

Eigen::Vector2f centroid_xy(const Cloud& cloud) {
  Eigen::Vector2f c = Eigen::Vector2f::Zero();
  for (const auto& p : cloud) c += Eigen::Vector2f(p.x, p.y);
  return c / static_cast<float>(cloud.size());
}

TEST(RobustPreparationConfig, AbsentNullOrOffMapLeavesTheDefaults) {
  const Robust defaults;
  for (const auto& edit : std::vector<std::function<void(YAML::Node&)>>{
           nullptr,
           [](YAML::Node& c) { c["robust_preparation"] = YAML::Node(YAML::NodeType::Null); },
           [](YAML::Node& c) { c["robust_preparation"]["enable"] = false; }}) {
    const auto e = support::make_estimator(edit);
    const Robust& r = e->robust_preparation_;
    EXPECT_FALSE(r.enable);
    EXPECT_EQ(std::tie(r.below_floor_margin, r.std_dev_mul, r.voxel_size, r.floor_clearance,
                       r.bottom_share, r.leaf_size, r.footprint_trim, r.footprint_margin),
              std::tie(defaults.below_floor_margin, defaults.std_dev_mul, defaults.voxel_size,
                       defaults.floor_clearance, defaults.bottom_share, defaults.leaf_size,
                       defaults.footprint_trim, defaults.footprint_margin));
  }
}

TEST(RobustPreparationConfig, EveryKeyFillsItsMember) {
  const auto e = support::make_estimator([](YAML::Node& c) {
    YAML::Node r = c["robust_preparation"];
    r["enable"] = true;
    r["below_floor_margin"] = 0.02;
    r["std_dev_mul"] = 2.5;
    r["voxel_size"] = 0.01;
    r["floor_clearance"] = 0.004;
    r["bottom_share"] = 0.2;
    r["leaf_size"] = 0.0;
    r["footprint_trim"] = 0.05;
    r["footprint_margin"] = 0.002;
  });
  const Robust& r = e->robust_preparation_;
  EXPECT_TRUE(r.enable);
  EXPECT_FLOAT_EQ(r.below_floor_margin, 0.02f);
  EXPECT_FLOAT_EQ(r.std_dev_mul, 2.5f);
  EXPECT_FLOAT_EQ(r.voxel_size, 0.01f);
  EXPECT_FLOAT_EQ(r.floor_clearance, 0.004f);
  EXPECT_FLOAT_EQ(r.bottom_share, 0.2f);
  EXPECT_FLOAT_EQ(r.leaf_size, 0.0f);
  EXPECT_FLOAT_EQ(r.footprint_trim, 0.05f);
  EXPECT_FLOAT_EQ(r.footprint_margin, 0.002f);
}

TEST(RobustPreparationConfig, MisspeltKeysAndValuesOutOfRangeAreRefused) {
  const std::pair<const char*, std::function<void(YAML::Node&)>> cases[] = {
      {"no key 'enabled'", [](YAML::Node& r) { r["enabled"] = true; }},
      {"voxel_size must be a number above 0", [](YAML::Node& r) { r["voxel_size"] = 0.0; }},
      {"bottom_share must be a number from 0 and below 1",
       [](YAML::Node& r) { r["bottom_share"] = 1.0; }},
      {"floor_clearance must be a number from 0",
       [](YAML::Node& r) { r["floor_clearance"] = ".nan"; }},
      {"robust_preparation.enable = perhaps: not true or false",
       [](YAML::Node& r) { r["enable"] = "perhaps"; }},
      {"robust_preparation.std_dev_mul = -5: std_dev_mul must be a number above 0",
       [](YAML::Node& r) { r["std_dev_mul"] = -5; }},
      {"robust_preparation: a key must be a name", [](YAML::Node& r) { r[YAML::Load("[a]")] = 1; }},
  };
  for (const auto& [message, edit] : cases) {
    SCOPED_TRACE(message);
    const std::string path = support::write_config([&](YAML::Node& c) {
      YAML::Node r = c["robust_preparation"];
      edit(r);
    });
    try {
      GrabPoseEstimate e(path, support::printing());
      ADD_FAILURE() << "constructed";
    } catch (const YAML::Exception& ex) {
      EXPECT_TRUE(contains(ex.what(), message)) << ex.what();
    }
  }
  const std::string scalar =
      support::write_config([](YAML::Node& c) { c["robust_preparation"] = "on"; });
  EXPECT_THROW((GrabPoseEstimate{scalar, support::printing()}), YAML::Exception);
}

// Mean distance to 50 neighbours against the library's statistical outlier removal, on a
// box's surface far from the viewpoint (so that ranges are all alike) with outliers off it.
TEST(RobustStatisticalOutliers, RemovesWhatTheLibraryRemovesAtAFractionOfTheCost) {
  Cloud cloud;
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> along(-0.08f, 0.08f), across(-0.05f, 0.05f);
  for (int i = 0; i < 6000; ++i)
    cloud.push_back(pcl::PointXYZ(-0.4f + along(rng), across(rng), -0.12f));
  for (int i = 0; i < 2000; ++i)
    cloud.push_back(pcl::PointXYZ(-0.4f + along(rng), -0.05f, -0.12f - 0.0003f * (i % 200)));
  const std::size_t surface = cloud.size();
  std::uniform_real_distribution<float> off(0.02f, 0.06f);
  for (int i = 0; i < 40; ++i)
    cloud.push_back(pcl::PointXYZ(-0.4f + along(rng), across(rng), -0.12f + off(rng)));

  pcl::StatisticalOutlierRemoval<pcl::PointXYZ> sor;
  sor.setInputCloud(std::make_shared<Cloud>(cloud));
  sor.setMeanK(50);
  sor.setStddevMulThresh(3.0);
  pcl::Indices library_kept;
  sor.filter(library_kept);
  const std::set<int> library(library_kept.begin(), library_kept.end());

  const std::vector<bool> ours = litterpose::robust::statisticalInliers(
      cloud, 50, 3.0f, 0.008f, Eigen::Vector3f(100.0f, 0.0f, 0.0f));
  std::size_t agreed = 0;
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    if (i >= surface) {
      EXPECT_FALSE(ours[i]) << "outlier " << i - surface;
      EXPECT_EQ(library.count(static_cast<int>(i)), 0u) << "the scene: outlier " << i - surface;
    }
    agreed += ours[i] && library.count(static_cast<int>(i));
  }
  EXPECT_GE(static_cast<double>(agreed), 0.98 * library.size());
}

// A strip that the camera sees ever more sparsely with distance: in metres its far end is
// sparse, in the camera's angular units it is not. The library's test removes the far
// end; the robust one removes no more there than near.
TEST(RobustStatisticalOutliers, FarSparseSurfacesAreNotOutliers) {
  const Eigen::Vector3f camera(0.15f, 0.0f, 0.45f);
  Cloud strip;
  for (float x = -0.2f; x > -0.8f;) {
    const float step = 0.002f * (camera - Eigen::Vector3f(x, 0, kFloor)).norm() / 0.5f;
    for (float y = -0.05f; y <= 0.05f; y += step) strip.push_back(pcl::PointXYZ(x, y, kFloor));
    x -= step;
  }
  const std::vector<bool> ours =
      litterpose::robust::statisticalInliers(strip, 50, 3.0f, 0.008f, camera);
  pcl::StatisticalOutlierRemoval<pcl::PointXYZ> sor;
  sor.setInputCloud(std::make_shared<Cloud>(strip));
  sor.setMeanK(50);
  sor.setStddevMulThresh(3.0);
  pcl::Indices library_kept;
  sor.filter(library_kept);
  std::vector<bool> library(strip.size(), false);
  for (const auto i : library_kept) library[static_cast<std::size_t>(i)] = true;

  // Removed points in the near and the far half of the strip.
  const auto removed = [&](const std::vector<bool>& kept, bool far) {
    int n = 0;
    for (std::size_t i = 0; i < strip.size(); ++i) n += !kept[i] && (strip[i].x < -0.5f) == far;
    return n;
  };
  EXPECT_LE(removed(ours, true), removed(ours, false));
  EXPECT_GT(removed(library, true), 3 * removed(ours, true));
  EXPECT_LT(removed(ours, true) + removed(ours, false), static_cast<int>(strip.size() / 20));
}

// The voxel grid against a map of cells, on clouds that cross the blocks of cells at
// negative and positive coordinates (a small and a large one, which the grid finds through
// blocks of cells), that scatter one point per block, that reach the ends
// of the cells' range (and beyond, or are not numbers: no voxel), and in scan order; and
// built again in the memory of the grid before. Voxels are numbered in the order their
// first points come, and each one's sums are added in the points' order.
TEST(RobustVoxelGrid, AgreesWithAMapOfCells) {
  using litterpose::robust::VoxelGrid;
  constexpr double kSize = 0.001;
  constexpr double kEnd = (1 << 20) - 2;  // the last cell each way that a point may have
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> near(-0.0042f, 0.0042f), wide(-2.0f, 2.0f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto random = [&](std::uniform_real_distribution<float>& d) {
    Cloud c;
    for (int i = 0; i < 3000; ++i) c.push_back(pcl::PointXYZ(d(rng), d(rng), d(rng)));
    return c;
  };
  const std::vector<std::function<Cloud()>> clouds = {
      [&] { return random(near); },
      [&] { return random(wide); },
      [&] {  // large enough for the table of blocks
        Cloud c;
        for (float y = -0.013f; y < 0.013f; y += 0.00005f)
          for (float x = -0.013f; x < 0.013f; x += 0.00005f)
            c.push_back(pcl::PointXYZ(x, y, 0.3f * x - 0.2f));
        return c;
      },
      [&] {
        Cloud c;
        for (const double end : {-kEnd - 0.5, kEnd + 0.5, kEnd + 3.0, -kEnd - 3.0})
          c.push_back(pcl::PointXYZ(static_cast<float>(end * kSize), 0.0f,
                                    static_cast<float>(-end * kSize)));
        c.push_back(pcl::PointXYZ(nan, 0.0f, 0.0f));
        c.push_back(pcl::PointXYZ(0.0f, 0.0f, 0.0f));
        return c;
      }};
  VoxelGrid reused;  // built again on every cloud, in the memory of the one before
  VoxelGrid reused_merged;  // and merged so
  for (std::size_t k = 0; k < clouds.size(); ++k) {
    Cloud cloud = clouds[k]();
    cloud.push_back(cloud.front());  // it ends in the block it starts in
    struct Cell {
      std::size_t number = 0, points = 0;
      double x = 0.0, y = 0.0, z = 0.0, squares = 0.0;
    };
    std::map<std::array<std::int64_t, 3>, Cell> model;
    std::vector<std::array<std::int64_t, 3>> cell_of(cloud.size());
    std::vector<bool> binned(cloud.size(), false);
    for (std::size_t i = 0; i < cloud.size(); ++i) {
      const auto& p = cloud[i];
      for (int axis = 0; axis < 3; ++axis)
        cell_of[i][axis] = static_cast<std::int64_t>(std::floor(p.data[axis] / kSize));
      binned[i] = std::isfinite(p.x) && std::fabs(p.x / kSize) < kEnd + 1 &&
                  std::fabs(p.z / kSize) < kEnd + 1;
      if (!binned[i]) continue;
      const std::size_t number = model.size();
      Cell& c = model[cell_of[i]];
      if (c.points++ == 0) c.number = number;
      const double x = p.x, y = p.y, z = p.z;
      c.x += x;
      c.y += y;
      c.z += z;
      c.squares += x * x + y * y + z * z;
    }
    VoxelGrid grid(cloud, kSize);
    ASSERT_EQ(grid.voxels().size(), model.size()) << k;
    for (std::size_t i = 0; i < cloud.size(); ++i) {
      ASSERT_EQ(grid.voxelOf(i) != VoxelGrid::kNone, binned[i]) << k << " point " << i;
      if (!binned[i]) continue;
      const auto& voxel = grid.voxels()[grid.voxelOf(i)];
      const Cell& c = model[cell_of[i]];
      EXPECT_TRUE(std::equal(voxel.cell, voxel.cell + 3, cell_of[i].begin())) << k << " at " << i;
      EXPECT_EQ(grid.voxelOf(i), c.number) << k << " at " << i;
      EXPECT_EQ(voxel.points, c.points) << k;
      const double n = static_cast<double>(c.points);
      const Eigen::Vector3d centroid(c.x / n, c.y / n, c.z / n);
      EXPECT_EQ(voxel.centroid, centroid) << k << " at " << i;
      EXPECT_EQ(voxel.spread, std::max(0.0, c.squares / n - centroid.squaredNorm())) << k;
      EXPECT_EQ(grid.at(cell_of[i].data()), grid.voxelOf(i)) << k;
    }
    for (int round = 0; round < 2; ++round) reused.build(cloud, kSize);
    ASSERT_EQ(reused.voxels().size(), grid.voxels().size()) << k;
    for (std::size_t i = 0; i < cloud.size(); ++i)
      EXPECT_EQ(reused.voxelOf(i), grid.voxelOf(i)) << k << " rebuilt, at " << i;
    grid.indexNeighbours();  // the table over the cells' box, where it is small enough
    for (std::size_t i = 0; i < cloud.size(); ++i) {
      if (!binned[i]) continue;
      EXPECT_EQ(grid.at(cell_of[i].data()), grid.voxelOf(i)) << k << " indexed";
    }
    const VoxelGrid merged(grid, 3);
    std::map<std::array<std::int64_t, 3>, std::size_t> merged_model;
    for (const auto& [cell, c] : model) {
      std::array<std::int64_t, 3> coarse;
      for (int axis = 0; axis < 3; ++axis)
        coarse[axis] = static_cast<std::int64_t>(std::floor(cell[axis] / 3.0));
      merged_model[coarse] += c.points;
    }
    ASSERT_EQ(merged.voxels().size(), merged_model.size()) << k;
    for (const auto& voxel : merged.voxels()) {
      const std::array<std::int64_t, 3> cell = {voxel.cell[0], voxel.cell[1], voxel.cell[2]};
      EXPECT_EQ(voxel.points, merged_model[cell]) << k;
    }
    reused_merged.merge(grid, 3);
    ASSERT_EQ(reused_merged.voxels().size(), merged.voxels().size()) << k;
    for (std::size_t v = 0; v < grid.voxels().size(); ++v) {
      EXPECT_EQ(reused_merged.voxelOf(v), merged.voxelOf(v)) << k << " merged again, at " << v;
      EXPECT_EQ(reused_merged.voxels()[reused_merged.voxelOf(v)].centroid,
                merged.voxels()[merged.voxelOf(v)].centroid) << k;
    }
  }
}

class RobustPreparation : public testing::Test {
protected:
  void SetUp() override { e_ = robust_estimator(); }
  std::string prepare(CloudPtr& cloud) {
    return support::printed_by([&] { e_->PclProcessFunc(cloud, cloud); });
  }
  std::unique_ptr<GrabPoseEstimate> e_;
};

// One estimator keeps the preparation's memory from cloud to cloud: clouds of other shapes,
// larger and smaller, and one much smaller (which releases the memory), are each prepared
// as a fresh estimator prepares them.
TEST(RobustPreparationMemory, EachCloudIsPreparedAsByAFreshEstimator) {
  const Eigen::Vector2f xy = clouds::at_bearing(0.4f, -10.0f);
  const auto with_floor = [&](CloudPtr cloud) {
    add_floor_ring(*cloud, xy, 0.0f, 0.2f, 0.0005f);
    return cloud;
  };
  const std::vector<CloudPtr> sequence = {
      with_floor(clouds::lying_rod(xy, 40.0f, 0.3f, 0.01f, 20000)),
      with_floor(clouds::lying_rod(xy, -30.0f, 0.2f, 0.02f, 60000)),
      with_floor(clouds::floor_box(xy, {0.16f, 0.1f, 0.05f}, 20.0f, 20000)),
      clouds::standing_cylinder(xy, 0.12f, 0.03f, 2000),
      clouds::floor_box(xy, {0.05f, 0.04f, 0.03f}, 0.0f, 3000),
      clouds::floor_box(xy, {0.05f, 0.04f, 0.03f}, 0.0f, 300),
      with_floor(clouds::lying_rod(xy, 40.0f, 0.3f, 0.01f, 20000))};
  const auto kept = robust_estimator();
  const litterpose::ConfiguredState configured(*kept);
  for (std::size_t k = 0; k < sequence.size(); ++k) {
    const auto fresh = robust_estimator();
    configured.restore(*kept);
    CloudPtr ours = std::make_shared<Cloud>(*sequence[k]), theirs = std::make_shared<Cloud>(*ours);
    kept->PclProcessFunc(ours, ours);
    fresh->PclProcessFunc(theirs, theirs);
    ASSERT_EQ(ours->size(), theirs->size()) << k;
    for (std::size_t i = 0; i < ours->size(); ++i)
      ASSERT_EQ((*ours)[i].getVector3fMap(), (*theirs)[i].getVector3fMap()) << k << " at " << i;
    EXPECT_EQ(kept->trash_height_, fresh->trash_height_) << k;
    EXPECT_EQ(kept->floor_plane_, fresh->floor_plane_) << k;
  }
}

// A stick on the floor with the floor around it, flying pixels above it and below the
// floor: the height is the stick's, the floor and the strays are gone.
TEST_F(RobustPreparation, StickAmongFloorAndFlyingPixels) {
  const Eigen::Vector2f xy = clouds::at_bearing(0.4f, -10.0f);
  CloudPtr cloud = clouds::lying_rod(xy, 40.0f, 0.3f, 0.01f, 4000);
  add_floor_ring(*cloud, xy, 0.0f, 0.2f, 0.0005f);
  cloud->push_back(pcl::PointXYZ(xy.x(), xy.y(), kFloor + 0.09f));   // flying pixel above
  cloud->push_back(pcl::PointXYZ(xy.x(), xy.y(), kFloor - 0.05f));   // and below the floor
  cloud->push_back(pcl::PointXYZ(std::nanf(""), 0.0f, 0.0f));
  const std::string out = prepare(cloud);

  EXPECT_NEAR(e_->trash_height_, 0.02f, 0.003f);
  EXPECT_NEAR(e_->trash_lowest_z_, kFloor, 0.003f);  // four sigma of noise below
  for (const auto& p : *cloud) {
    ASSERT_GT(p.z, kFloor + e_->robust_preparation_.floor_clearance - 0.0005f);
    ASSERT_LT(p.z, kFloor + 0.021f);
  }
  EXPECT_TRUE(cloud->is_dense);
  EXPECT_LT((centroid_xy(*cloud) - xy).norm(), 0.005f);
  EXPECT_TRUE(contains(out, "robust preparation: removed 1 points not finite, above 1 m or beyond 10 m of the camera"));
  EXPECT_TRUE(contains(out, "PclProcessFunc cost "));
}

// The printed measurement lines are those of the default preparation, on what remains.
TEST_F(RobustPreparation, MeasurementLinesNameWhatRemains) {
  e_->robust_preparation_.floor_height_tolerance = e_->robust_preparation_.floor_tilt_tolerance = 0;
  const Eigen::Vector2f xy = clouds::at_bearing(0.35f, 5.0f);
  CloudPtr cloud = clouds::floor_box(xy, {0.16f, 0.1f, 0.05f}, 20.0f, 3000);
  cloud->push_back(pcl::PointXYZ(xy.x(), xy.y(), kFloor + 0.15f));
  const std::string out = prepare(cloud);
  std::ostringstream lines;
  lines << MAGENTA_BOLD << "trash_lowest_z_: " << e_->trash_lowest_z_ << RESET_FORMAT << '\n'
        << MAGENTA_BOLD << "trash_highest_z_: " << e_->trash_highest_z_ << RESET_FORMAT << '\n'
        << MAGENTA_BOLD << "trash_height_:" << e_->trash_height_ << RESET_FORMAT << '\n';
  EXPECT_TRUE(contains(out, lines.str())) << out;
  EXPECT_NEAR(e_->trash_height_, 0.05f, 0.002f);
}

// Lying objects lose their lowest part, which the camera sees on its near side only;
// standing ones keep all but the floor layer.
TEST_F(RobustPreparation, BottomCutOfLyingAndStandingObjects) {
  const Eigen::Vector2f xy = clouds::at_bearing(0.5f, 0.0f);
  CloudPtr lying = clouds::floor_box(xy, {0.2f, 0.1f, 0.06f}, 0.0f, 4000);
  prepare(lying);
  const float share = e_->robust_preparation_.bottom_share;
  for (const auto& p : *lying) ASSERT_GE(p.z, kFloor + share * 0.06f - 0.002f);

  // Standing, also where the floor's scatter (a noisy camera) reaches above the clearance.
  for (const float scatter : {0.0f, 0.004f, 0.008f}) {
    CloudPtr standing = clouds::standing_cylinder(xy, 0.1f, 0.03f, 1500);
    if (scatter > 0.0f) add_floor_ring(*standing, xy, 0.035f, 0.1f, scatter);
    prepare(standing);
    float lowest = std::numeric_limits<float>::max();
    for (const auto& p : *standing) lowest = std::min(lowest, p.z);
    EXPECT_LT(lowest, kFloor + 0.015f) << scatter;  // far below the bottom share of 0.1 m
  }
}

// A sheet of paper is as low as the floor around it: the floor cannot be cut, and the
// preparation says so as the default one does.
TEST_F(RobustPreparation, FlatObjectKeepsTheFloorLayerAndSaysSo) {
  const Eigen::Vector2f xy = clouds::at_bearing(0.3f, 0.0f);
  CloudPtr sheet = clouds::floor_box(xy, {0.2f, 0.14f, 0.001f}, 30.0f, 3000);
  add_floor_ring(*sheet, xy, 0.12f, 0.14f, 0.0003f);
  e_->robust_preparation_.leaf_pixels = 0.0f;  // every point kept
  const std::size_t before = sheet->size();
  const std::string out = prepare(sheet);
  EXPECT_TRUE(contains(out, " 以下点云后数量太少-------------")) << out;
  EXPECT_GT(sheet->size(), before / 3);
}

TEST_F(RobustPreparation, OneOutputPointPerLeaf) {
  CloudPtr cloud = clouds::lying_rod(clouds::at_bearing(0.3f, 0.0f), 0.0f, 0.25f, 0.03f, 20000);
  const float leaf = e_->robust_preparation_.leaf_size = 0.003f;
  prepare(cloud);
  std::set<std::tuple<long, long, long>> leaves;
  for (const auto& p : *cloud)
    leaves.insert({std::lround(std::floor(p.x / leaf)), std::lround(std::floor(p.y / leaf)),
                   std::lround(std::floor(p.z / leaf))});
  EXPECT_EQ(leaves.size(), cloud->size());
  EXPECT_LT(cloud->size(), 20000u / 2);
}

// A leaf whose cells cannot reach the object (a micrometre leaf) loses no point: no leaves.
TEST_F(RobustPreparation, LeavesThatDoNotReachThePointsAreNotUsed) {
  CloudPtr rod = clouds::lying_rod(clouds::at_bearing(0.35f, 0.0f), 0.0f, 0.25f, 0.03f, 6000);
  e_->robust_preparation_.leaf_size = 1e-9f;
  const std::string out = prepare(rod);
  EXPECT_TRUE(contains(out, "leaves of 1e-09 m do not reach 6000 points, none used")) << out;
  EXPECT_TRUE(contains(out, "removed 0 points not finite")) << out;
}

// A clump of strays beside the footprint would turn the footprint rectangle.
TEST_F(RobustPreparation, StraysBesideTheFootprintAreTrimmed) {
  const Eigen::Vector2f xy = clouds::at_bearing(0.35f, 0.0f);
  CloudPtr rod = clouds::lying_rod(xy, 0.0f, 0.3f, 0.015f, 6000);
  for (int i = 0; i < 20; ++i)
    rod->push_back(pcl::PointXYZ(xy.x() + 0.002f * (i % 5), xy.y() + 0.06f + 0.002f * (i / 5),
                                 kFloor + 0.02f));
  prepare(rod);
  for (const auto& p : *rod) ASSERT_LT(std::abs(p.y - xy.y()), 0.03f);
  e_->MinAreaRectFunc(rod);
  EXPECT_GT(std::abs(e_->rect_direction_.x()), std::cos(3.0 * M_PI / 180.0));
}

// A bump of the ground beside a standing can rises above the floor cut: the low points
// beside the can's upper part go, the can's own lower wall stays.
TEST_F(RobustPreparation, LowPointsBesideTheUpperPartAreRemoved) {
  const Eigen::Vector2f xy = clouds::at_bearing(0.4f, 0.0f);
  CloudPtr can = clouds::standing_cylinder(xy, 0.1f, 0.03f, 3000);
  add_floor_ring(*can, xy, 0.04f, 0.1f, 0.0005f);
  const Eigen::Vector2f bump = xy + Eigen::Vector2f(0.0f, 0.07f);
  for (int i = 0; i < 64; ++i)
    can->push_back(pcl::PointXYZ(bump.x() + 0.0012f * (i % 8), bump.y() + 0.0012f * (i / 8),
                                 kFloor + 0.015f));
  const std::string out = prepare(can);
  EXPECT_TRUE(contains(out, "robust preparation: removed 64 points lower than ")) << out;
  std::size_t lower_wall = 0;
  for (const auto& p : *can) {
    const float from_axis = (Eigen::Vector2f(p.x, p.y) - xy).norm();
    ASSERT_LT(from_axis, 0.04f) << p;
    lower_wall += p.z < kFloor + 0.03f;
  }
  EXPECT_GT(lower_wall, 0u);
}

// The rule every removal keeps: made where it leaves 100 points, skipped, as the log says,
// where it would leave 99. Shown on the points below the floor and on the floor cut, with
// the configured floor.
TEST_F(RobustPreparation, ARemovalLeavesAHundredPointsOrIsSkipped) {
  const struct {
    int kept, on_floor, below;
    const char* line;
  } cases[] = {{100, 0, 50, "robust preparation: removed 50 points below the floor"},
               {99, 0, 50, "robust preparation: 50 points below the floor, too many to remove"},
               {100, 50, 0, "robust preparation: removed 50 points of the floor and the object's bottom"},
               {99, 50, 0, " 以下点云后数量太少-------------"}};
  Robust& config = e_->robust_preparation_;
  config.floor_height_tolerance = config.floor_tilt_tolerance = 0;
  config.std_dev_mul = 1000.0f;  // no outliers
  const Eigen::Vector2f xy = clouds::at_bearing(0.4f, 0.0f);
  for (const auto& c : cases) {
    CloudPtr cloud = clouds::empty();
    const auto add = [&](int n, float z) {
      for (int i = 0; i < n; ++i)
        cloud->push_back(pcl::PointXYZ(xy.x() + 0.002f * (i % 10), xy.y() + 0.002f * (i / 10), z));
    };
    add(c.kept, kFloor + 0.03f);
    add(c.on_floor, kFloor);
    add(c.below, kFloor - 0.05f);
    const std::string out = prepare(cloud);
    EXPECT_TRUE(contains(out, "10 m of the camera, 0 statistical outliers")) << out;
    EXPECT_TRUE(contains(out, c.line)) << c.kept << out;
  }
}

// Thinning keeps the same rule: one point per leaf where that leaves 100 points, every
// point where it would leave 99.
TEST_F(RobustPreparation, ThinningLeavesAHundredPointsOrIsSkipped) {
  Robust& config = e_->robust_preparation_;
  config.floor_height_tolerance = config.floor_tilt_tolerance = 0;
  config.std_dev_mul = 1000.0f;  // no outliers
  config.leaf_size = 0.002f;
  for (const int leaves : {100, 99}) {
    CloudPtr cloud = clouds::empty();
    for (int k = 0; k < leaves; ++k) {  // four points in the middle of each leaf
      const float x = -0.4f + 0.002f * (k % 10) + 0.001f, y = 0.002f * (k / 10) + 0.001f;
      for (const float dx : {-0.0004f, 0.0004f})
        for (const float dy : {-0.0004f, 0.0004f})
          cloud->push_back(pcl::PointXYZ(x + dx, y + dy, kFloor + 0.03f));
    }
    const std::string out = prepare(cloud);
    EXPECT_EQ(contains(out, " thinned to "), leaves == 100) << out;
    if (leaves == 100) {
      EXPECT_TRUE(contains(out, "400 points thinned to 100, one per leaf of 0.002 m")) << out;
    }
    EXPECT_EQ(cloud->size(), leaves == 100 ? 100u : 396u) << out;
  }
}

TEST_F(RobustPreparation, OnTheFloorTheConfiguredFloorIsTheLowestPoint) {
  e_->is_on_floor_ = true;
  e_->robust_preparation_.floor_height_tolerance = e_->robust_preparation_.floor_tilt_tolerance = 0;
  CloudPtr cloud =
      clouds::floor_box(clouds::at_bearing(0.4f, 0.0f), {0.1f, 0.1f, 0.05f}, 0.0f, 2000);
  const std::string out = prepare(cloud);
  EXPECT_EQ(e_->trash_lowest_z_, -e_->base_height_);
  EXPECT_TRUE(contains(out, "is_on_floor_ !  trash_lowest_z_: "));
}

TEST_F(RobustPreparation, NullAndEmptyClouds) {
  CloudPtr none;
  EXPECT_EQ(prepare(none), "");
  CloudPtr empty = clouds::empty();
  const std::string out = prepare(empty);
  EXPECT_TRUE(empty->empty());
  EXPECT_TRUE(std::isnan(e_->trash_height_));
  EXPECT_TRUE(contains(out, "PclProcessFunc cost "));
  CloudPtr entry_cloud = clouds::empty();
  int code = 0;
  support::printed_by([&] { code = e_->CommonGrabPoseFunc(entry_cloud); });
  EXPECT_EQ(code, litterpose::kTooFewPoints);
}

}  // namespace

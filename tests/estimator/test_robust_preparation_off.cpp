// Switched off, the robust preparation leaves the estimator as it always was: an off map
// behaves as an absent one, to the bit. (That an absent map gives today's estimates the
// golden record of tests/golden proves.)
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/bundled_clouds.h"
#include "support/estimator.h"

namespace {

namespace fs = std::filesystem;
using Cloud = GrabPoseEstimate::Cloud;

std::vector<double> members_of(const GrabPoseEstimate& e, const Cloud& prepared) {
  std::vector<double> m = {e.trash_lowest_z_, e.trash_highest_z_, e.trash_height_,
                           e.pass_ajust_value_, static_cast<double>(e.main_axis_type_),
                           e.grab_distance_, e.grab_angle_};
  for (int i = 0; i < 9; ++i) m.push_back(e.pca_vectors_(i % 3, i / 3));
  for (int i = 0; i < 4; ++i) m.push_back(e.pca_center_[i]);
  for (int i = 0; i < 3; ++i) {
    m.push_back(e.pca_lengths_[i]);
    m.push_back(e.grab_mainaxis_[i]);
    m.push_back(e.grab_tcp_[i]);
    m.push_back(e.grab_pose_.position[i]);
    m.push_back(e.obb_position_[i]);
    m.push_back(e.aabb_center_[i]);
  }
  for (int i = 0; i < 4; ++i) {
    m.push_back(e.grab_pose_.orientation.coeffs()[i]);
    m.push_back(e.obb_orientation_.coeffs()[i]);
    m.push_back(e.rect_points_[i].x);
    m.push_back(e.rect_points_[i].y);
  }
  for (const auto& p : {e.obb_min_point_, e.obb_max_point_, e.aabb_min_point_, e.aabb_max_point_}) {
    m.push_back(p.x);
    m.push_back(p.y);
    m.push_back(p.z);
  }
  m.push_back(e.rect_direction_.x());
  m.push_back(e.rect_direction_.y());
  // The prepared cloud: its size and the sums of its coordinates.
  double sx = 0, sy = 0, sz = 0;
  for (const auto& p : prepared) {
    sx += p.x;
    sy += p.y;
    sz += p.z;
  }
  m.push_back(static_cast<double>(prepared.size()));
  m.insert(m.end(), {sx, sy, sz});
  return m;
}

// Switched off, the robust preparation's map changes nothing: with it absent, or present
// with enable false and every other key changed, each estimate prints the same lines (the
// timings aside) and leaves the same members and prepared cloud, to the bit.
TEST(RobustPreparationOff, AnOffMapChangesNothing) {
  const std::string absent = support::write_config(
      [](YAML::Node& c) { c.remove("robust_preparation"); });
  const std::string off = support::write_config([](YAML::Node& c) {
    YAML::Node r = c["robust_preparation"];
    r["enable"] = false;
    r["below_floor_margin"] = 0.5;
    r["std_dev_mul"] = 0.1;
    r["voxel_size"] = 0.1;
    r["floor_clearance"] = 0.2;
    r["bottom_share"] = 0.9;
    r["leaf_size"] = 0.05;
    r["footprint_trim"] = 0.4;
    r["footprint_margin"] = 0.1;
  });
  const auto timings = [](std::string text) {
    for (const char* cost : {"PclProcessFunc cost ", "PcaFunc cost "}) {
      for (auto at = text.find(cost); at != std::string::npos; at = text.find(cost, at + 1)) {
        const auto from = at + std::string(cost).size();
        text.erase(from, text.find(" ms", from) - from);
      }
    }
    return text;
  };
  for (const std::string& path : support::bundledCloudPaths()) {
    const Cloud camera = *support::readBundledCloud(path);
    const std::string file = fs::path(path).filename().string();
    for (int entry = 0; entry < 3; ++entry) {
      SCOPED_TRACE(file + " entry " + std::to_string(entry));
      std::string printed[2];
      std::vector<double> members[2];
      Cloud prepared[2];
      for (int k = 0; k < 2; ++k) {
        GrabPoseEstimate e(k == 0 ? absent : off, support::printing());
        ASSERT_FALSE(e.robust_preparation_.enable);
        auto cloud = std::make_shared<Cloud>();
        auto input = std::make_shared<Cloud>(camera);
        e.PclTransform(input, cloud, e.camera_extrinsic_);
        e.trash_type_ = 3;
        printed[k] = timings(support::printed_by([&] {
          if (entry == 0) e.GrabPoseEstimateFunc(cloud);
          else if (entry == 1) e.CommonGrabPoseFunc(cloud);
          else e.GetInitialGrabPose(cloud);
        }));
        members[k] = members_of(e, *cloud);
        prepared[k] = *cloud;
      }
      EXPECT_EQ(printed[0], printed[1]);
      ASSERT_EQ(members[0].size(), members[1].size());
      EXPECT_EQ(
          std::memcmp(members[0].data(), members[1].data(), members[0].size() * sizeof(double)), 0);
      ASSERT_EQ(prepared[0].size(), prepared[1].size());
      for (std::size_t i = 0; i < prepared[0].size(); ++i)
        ASSERT_EQ(std::memcmp(&prepared[0][i], &prepared[1][i], 3 * sizeof(float)), 0);
    }
  }
}

}  // namespace

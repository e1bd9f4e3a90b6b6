// Construction: configuration reading, the camera-to-base transform, the printed
// calibration, data directories, and eulerToRotationMatrix.
#include <gtest/gtest.h>
#include <litterpose_configuration.h>
#include <quorvin_kinematics.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem.hpp>
#include <Eigen/Geometry>

#include <sys/stat.h>
#include <unistd.h>

#include "support/estimator.h"

namespace {

const std::string kRoot = "/opt/halvanepro/trash_detect_data/";
const std::string kMissingRoot = "/opt/halvanepro/trash_detect_data/mising_detect/";

YAML::Node sequence(const std::vector<double>& values) {
  YAML::Node node;
  for (double v : values) node.push_back(v);
  return node;
}

void fixed_camera_euler(YAML::Node& c, const std::vector<double>& r, const std::vector<double>& t) {
  c["camera_extrinsic"]["is_eye_on_hand"] = false;
  c["camera_extrinsic"]["is_use_euler"] = true;
  c["camera_extrinsic"]["Rxyz"] = sequence(r);
  c["camera_extrinsic"]["Txyz"] = sequence(t);
}

// Constructing from the edited configuration must throw a YAML error.
void expect_yaml_failure(const std::function<void(YAML::Node&)>& edit) {
  const std::string path = support::write_config(edit);
  EXPECT_THROW((GrabPoseEstimate{path, support::printing()}), YAML::Exception);
}

}  // namespace

TEST(CameraExtrinsic, EulerZerosGiveIdentity) {
  auto e = support::make_estimator([](YAML::Node& c) { fixed_camera_euler(c, {0, 0, 0}, {0, 0, 0}); });
  EXPECT_TRUE(e->camera_extrinsic_.isApprox(Eigen::Matrix4f::Identity(), 0.0f));
}

TEST(CameraExtrinsic, FixedEulerStoresAnglesAndTranslation) {
  auto e = support::make_estimator(
      [](YAML::Node& c) { fixed_camera_euler(c, {10, -20, 30}, {0.1, 0.2, 0.3}); });
  EXPECT_EQ(e->Rxyz_, Eigen::Vector3f(10, -20, 30));
  EXPECT_EQ(e->Txyz_, Eigen::Vector3f(0.1f, 0.2f, 0.3f));
  EXPECT_EQ(e->camera_extrinsic_.topLeftCorner(3, 3), eulerToRotationMatrix(10, -20, 30));
  EXPECT_EQ(e->camera_extrinsic_.col(3).head(3), Eigen::Vector3f(0.1f, 0.2f, 0.3f));
  EXPECT_EQ(e->camera_extrinsic_.row(3), Eigen::RowVector4f(0, 0, 0, 1));
  // The camera-on-arm members keep their initial state.
  EXPECT_EQ(e->base2flange_, Eigen::Matrix4f::Identity());
  EXPECT_EQ(e->flange2camera_, Eigen::Matrix4f::Identity());
}

TEST(CameraExtrinsic, MatrixIsReadRowByRow) {
  // A rigid transform (construction refuses any other) whose elements tell rows from
  // columns: a rotation by a signed permutation and a translation of 4, 8, 12.
  const std::vector<double> values = {0, -1, 0, 4, 0, 0, -1, 8, 1, 0, 0, 12, 0, 0, 0, 1};
  auto e = support::make_estimator([&](YAML::Node& c) {
    c["camera_extrinsic"]["is_use_euler"] = false;
    c["camera_extrinsic"]["data"] = sequence(values);
  });
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_EQ(e->camera_extrinsic_(i, j), values[4 * i + j]);
  EXPECT_EQ(e->camera_extrinsic_(0, 3), 4.0f);
  EXPECT_EQ(e->camera_extrinsic_(2, 0), 1.0f);
}

TEST(CameraExtrinsic, EulerAndMatrixFormsOfTheShippedConfigurationAgree) {
  auto euler = support::make_estimator();
  auto matrix = support::make_estimator(
      [](YAML::Node& c) { c["camera_extrinsic"]["is_use_euler"] = false; });
  EXPECT_TRUE(euler->camera_extrinsic_.isApprox(matrix->camera_extrinsic_, 1e-6f))
      << euler->camera_extrinsic_ << "\n\n" << matrix->camera_extrinsic_;
}

TEST(CameraExtrinsic, OnlyTheKeysOfTheTakenBranchAreNeeded) {
  auto e = support::make_estimator([](YAML::Node& c) {
    YAML::Node extrinsic;
    extrinsic["is_eye_on_hand"] = false;
    extrinsic["is_use_euler"] = false;
    extrinsic["data"] = sequence({1, 0, 0, 0.5, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    c["camera_extrinsic"] = extrinsic;
  });
  EXPECT_EQ(e->camera_extrinsic_(0, 3), 0.5f);
}

TEST(CameraExtrinsic, CameraOnArmMatrixForm) {
  auto lifted = support::make_estimator([](YAML::Node& c) {
    c["camera_extrinsic"]["is_eye_on_hand"] = true;
    c["camera_extrinsic"]["is_use_euler"] = false;
    c["camera_extrinsic"]["base2flange_euler"] = sequence({0, 0, 0});
    c["camera_extrinsic"]["base2flange_T"] = sequence({0, 0, 0.5});
  });
  EXPECT_EQ(lifted->camera_extrinsic_.col(3).head(3), Eigen::Vector3f(0, 0, 0.5f));
  EXPECT_EQ(lifted->base2flange_T_, Eigen::Vector3f(0, 0, 0.5f));

  // Base-to-flange on the left: the camera offset is turned by the flange rotation.
  auto turned = support::make_estimator([](YAML::Node& c) {
    c["camera_extrinsic"]["is_eye_on_hand"] = true;
    c["camera_extrinsic"]["is_use_euler"] = false;
    c["camera_extrinsic"]["base2flange_euler"] = sequence({0, 0, 90});
    c["camera_extrinsic"]["base2flange_T"] = sequence({1, 2, 3});
    c["camera_extrinsic"]["flange2camera"] =
        sequence({1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  });
  EXPECT_TRUE(turned->camera_extrinsic_.col(3).head(3).isApprox(Eigen::Vector3f(1, 3, 3), 1e-6f))
      << turned->camera_extrinsic_;
  EXPECT_EQ(turned->base2flange_euler_, Eigen::Vector3f(0, 0, 90));
  EXPECT_EQ(turned->flange2camera_(0, 3), 1.0f);
  EXPECT_EQ(turned->Rxyz_, Eigen::Vector3f::Zero());
}

TEST(CameraExtrinsic, CameraOnArmEulerForm) {
  auto e = support::make_estimator([](YAML::Node& c) {
    c["camera_extrinsic"]["is_eye_on_hand"] = true;
    c["camera_extrinsic"]["is_use_euler"] = true;
    c["camera_extrinsic"]["base2flange_euler"] = sequence({0, 0, 90});
    c["camera_extrinsic"]["base2flange_T"] = sequence({0.2, 0, 0});
    c["camera_extrinsic"]["flange2camera_euler"] = sequence({90, 0, 0});
    c["camera_extrinsic"]["flange2camera_T"] = sequence({0, 0, 0.1});
  });
  const Eigen::Matrix3d expected_rotation =
      (Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitZ()) *
       Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitX()))
          .toRotationMatrix();
  EXPECT_TRUE(e->camera_extrinsic_.topLeftCorner(3, 3).cast<double>().isApprox(expected_rotation, 1e-6));
  EXPECT_TRUE(e->camera_extrinsic_.col(3).head(3).isApprox(Eigen::Vector3f(0.2f, 0, 0.1f), 1e-6f))
      << e->camera_extrinsic_;
  // The flange-to-camera triples are not kept; the fixed-camera members stay untouched.
  EXPECT_EQ(e->Rxyz_, Eigen::Vector3f::Zero());
  EXPECT_EQ(e->Txyz_, Eigen::Vector3f::Zero());
}

TEST(ConfigurationValues, EveryKeyFillsItsMember) {
  using E = GrabPoseEstimate;
  const std::vector<std::pair<const char*, float E::*>> keys = {
      {"base_height", &E::base_height_}, {"finger2tcp", &E::finger2tcp_},
      {"extra_length_ratio", &E::extra_length_ratio_}, {"workspace_r_min", &E::workspace_r_min_},
      {"workspace_r_max", &E::workspace_r_max_}, {"workspace_angle_min", &E::workspace_angle_min_},
      {"workspace_angle_max", &E::workspace_angle_max_},
      {"grab_vertical_distance_min", &E::grab_vertical_distance_min_},
      {"grab_vertical_distance_max", &E::grab_vertical_distance_max_},
      {"grab_vertical_angle_min", &E::grab_vertical_angle_min_},
      {"grab_vertical_angle_max", &E::grab_vertical_angle_max_},
      {"grab_parallel_distance_min", &E::grab_parallel_distance_min_},
      {"grab_parallel_distance_max", &E::grab_parallel_distance_max_},
      {"grab_parallel_angle_min", &E::grab_parallel_angle_min_},
      {"grab_parallel_angle_max", &E::grab_parallel_angle_max_},
      {"pass_ajust_value", &E::pass_ajust_value_}, {"tcp_ajust_value", &E::tcp_ajust_value_},
      {"tcp_ajust_threshold", &E::tcp_ajust_threshold_},
      {"extend_height_threshold", &E::extend_height_threshold_},
      {"extend_lenth_threshold", &E::extend_lenth_threshold_},
      {"extend_length_max_", &E::extend_length_max_},
      {"remove_cloud_angle", &E::remove_cloud_angle_},
      {"remove_bottom_height_threshold_1", &E::remove_bottom_height_threshold_1_},
      {"remove_bottom_height_threshold_2", &E::remove_bottom_height_threshold_2_},
      {"remove_bottom_height_threshold_3", &E::remove_bottom_height_threshold_3_},
  };
  auto e = support::make_estimator([&](YAML::Node& c) {
    for (std::size_t k = 0; k < keys.size(); ++k) c["grab_pose_estimate"][keys[k].first] = 0.5 + k / 64.0;
    c["grab_pose_estimate"]["sor2_meank_value"] = 7;
    c["debug_choice"]["is_grab_slanted"] = true;
    c["debug_choice"]["enable_process_cloud"] = false;
    c["debug_choice"]["enable_pcacenter_extend"] = false;
    c["debug_choice"]["is_on_floor"] = true;
    c["debug_choice"]["trash_test_pose"] = "_lying";
    c["debug_choice"]["file_name_suffix"] = ".ply";
    c["camera_intrinsic"]["fx"] = 1.5;
    c["camera_intrinsic"]["fy"] = 2.5;
    c["camera_intrinsic"]["cx"] = 3.5;
    c["camera_intrinsic"]["cy"] = 4.5;
  });
  for (std::size_t k = 0; k < keys.size(); ++k)
    EXPECT_EQ((*e).*keys[k].second, static_cast<float>(0.5 + k / 64.0)) << keys[k].first;
  EXPECT_EQ(e->sor2_meank_value_, 7);
  EXPECT_TRUE(e->is_grab_slanted_);
  EXPECT_FALSE(e->enable_process_cloud_);
  EXPECT_FALSE(e->enable_pcacenter_extend_);
  EXPECT_TRUE(e->is_on_floor_);
  EXPECT_EQ(e->trash_test_pose_, "_lying");
  EXPECT_EQ(e->file_name_suffix_, ".ply");
  EXPECT_EQ(Eigen::Vector4f(e->fx_, e->fy_, e->cx_, e->cy_), Eigen::Vector4f(1.5f, 2.5f, 3.5f, 4.5f));
  // Constants that no key may reach.
  EXPECT_EQ(e->workspace_center_z_, 0.1555f);
  EXPECT_EQ(e->workspace_center_r_, 0.01125f);
  EXPECT_EQ(e->grab_mode_, 1);
  EXPECT_NE(e->kinematics_, nullptr);
}

TEST(ConfigurationOutput, CalibrationBlocksByteForByte) {
  const std::string path = support::write_config([](YAML::Node& c) {
    c["camera_extrinsic"]["is_use_euler"] = false;
    c["camera_extrinsic"]["data"] = sequence({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    c["camera_intrinsic"]["fx"] = 385.5;
    c["camera_intrinsic"]["fy"] = 385.25;
    c["camera_intrinsic"]["cx"] = 321.2;
    c["camera_intrinsic"]["cy"] = 0.0000125;
  });
  const std::string out =
      support::printed_by([&] { GrabPoseEstimate e(path, support::printing()); });
  EXPECT_EQ(out,
            "相机外参齐次变换矩阵：\x1b[0m\n"
            "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\x1b[0m\n"
            "相机内参： fx:385.5  fy:385.25  cx:321.2  cy:1.25e-05\x1b[0m\n");
}

TEST(ConfigurationFailure, MissingKeyFailsAfterBothCalibrationBlocks) {
  const std::string path = support::write_config([](YAML::Node& c) {
    c["grab_pose_estimate"].remove("extend_length_max_");
    c["grab_pose_estimate"]["extend_length_max"] = 0.012;
  });
  std::string out;
  out = support::printed_by(
      [&] { EXPECT_THROW((GrabPoseEstimate{path, support::printing()}), YAML::Exception); });
  EXPECT_NE(out.find("相机外参齐次变换矩阵："), std::string::npos);
  EXPECT_NE(out.find("相机内参： fx:"), std::string::npos);
}

TEST(ConfigurationFailure, BadValuesAndShapes) {
  expect_yaml_failure([](YAML::Node& c) { c["camera_intrinsic"]["fx"] = "wide"; });
  expect_yaml_failure([](YAML::Node& c) { c["debug_choice"]["is_on_floor"] = "perhaps"; });
  expect_yaml_failure([](YAML::Node& c) { c["grab_pose_estimate"]["sor2_meank_value"] = 50.5; });
  expect_yaml_failure([](YAML::Node& c) { c["camera_extrinsic"]["Txyz"] = sequence({0.1, 0.2}); });
  expect_yaml_failure([](YAML::Node& c) { c["camera_extrinsic"]["Rxyz"] = 5; });
  expect_yaml_failure([](YAML::Node& c) {
    c["camera_extrinsic"]["is_use_euler"] = false;
    c["camera_extrinsic"]["data"] = sequence({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0});
  });
  expect_yaml_failure([](YAML::Node& c) { c.remove("debug_choice"); });
  expect_yaml_failure([](YAML::Node& c) { c["debug_choice"].remove("file_name_suffix"); });
  expect_yaml_failure([](YAML::Node& c) { c["camera_extrinsic"].remove("is_use_euler"); });
}

TEST(ConfigurationFailure, MissingOrBrokenFile) {
  const std::string missing = "/nonexistent/grab_pose_estimate_config.yaml";
  EXPECT_THROW((GrabPoseEstimate{missing, support::printing()}), YAML::BadFile);
  const std::string broken = run_program::scratchPath("broken.yaml");
  std::ofstream(broken) << "camera_extrinsic: [unclosed\n";
  EXPECT_THROW((GrabPoseEstimate{broken, support::printing()}), YAML::ParserException);
}

// Only a regular file is read, and at once: a FIFO without a writer would block an open.
TEST(ConfigurationFailure, WhatIsNotARegularFileIsRefusedNamingWhy) {
  const std::string fifo = run_program::scratchPath("config.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Larger than any configuration: refused before it is read (sparse, it takes no disk).
  const std::string large = run_program::scratchPath("large.yaml");
  std::ofstream(large) << "camera_intrinsic:\n";
  ASSERT_EQ(::truncate(large.c_str(), (1 << 20) + 1), 0);
  const struct {
    std::string path;
    std::string reason;
    int error_number;
  } cases[] = {{"/nonexistent/config.yaml", "No such file or directory", ENOENT},
               {run_program::scratchFolder(), "it is a directory", EISDIR},
               {fifo, "it is a FIFO (named pipe)", EINVAL},
               {"/dev/null", "it is a character device", EINVAL},
               {large, "it is 1048577 bytes long; a configuration is at most 1048576 (1 MiB)",
                EFBIG}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto construction = std::async(std::launch::async, [&] {
      try {
        GrabPoseEstimate estimator(c.path, litterpose::ConsoleSink::none());
      } catch (const litterpose::ConfigurationFileError& e) {
        return std::make_pair(e.reason + "|" + e.what(), e.error_number);
      }
      return std::make_pair(std::string("constructed"), 0);
    });
    ASSERT_EQ(construction.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto [text, number] = construction.get();
    EXPECT_EQ(text, c.reason + "|bad file: " + c.path + ": " + c.reason);
    EXPECT_EQ(number, c.error_number);
  }
}

// One document is read: a second that holds anything is refused (yaml-cpp would ignore it),
// an empty one after the configuration is harmless, and a token that starts no node (a ','
// outside brackets) is refused where it stands, not read as endless empty documents.
TEST(ConfigurationFailure, OneDocumentIsRead) {
  std::stringstream text;
  text << std::ifstream(support::default_config_path()).rdbuf();
  const std::string config = text.str();
  const std::string after = "line " + std::to_string(std::count(config.begin(), config.end(), '\n') + 2);
  const struct {
    std::string text;
    std::string refusal;  // empty: accepted
  } cases[] = {
      {config + "---\ncamera_intrinsic:\n  fx: 1000\n", after + ", column 1: the file holds a second"},
      {config + "---\n# nothing more\n", ""},
      {"{camera_intrinsic: {fx: 1}}\n{fx: 2}\n", "line 2, column 1: the file holds a second"},
      {",", "line 1, column 1: ',' starts no YAML node here"},
      {"# a comment\n  , after it\n", "line 2, column 3: ',' starts no YAML node here"},
      {config + "---\n,\n", after + ", column 1: ',' starts no YAML node here"},
  };
  const std::string path = run_program::scratchPath("documents.yaml");
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::trunc) << c.text;
    try {
      GrabPoseEstimate e(path, litterpose::ConsoleSink::none());
      EXPECT_EQ(c.refusal, "") << "accepted";
    } catch (const litterpose::ConfigurationError& error) {
      const std::string what = error.what();
      EXPECT_TRUE(!c.refusal.empty() && what.find(c.refusal) != std::string::npos) << what;
    }
  }
}

TEST(DataDirectories, PathsAreBuiltFromTheNames) {
  auto e = support::make_estimator([](YAML::Node& c) {
    c["debug_choice"]["trash_code"] = "litterpose_test_can";
    c["debug_choice"]["trash_test_pose"] = "_upright";
    c["debug_choice"]["file_name_suffix"] = "_1.pcd";
  });
  EXPECT_EQ(e->trash_data_dir_, kRoot + "litterpose_test_can");
  EXPECT_EQ(e->trash_data_path_, kRoot + "litterpose_test_can/litterpose_test_can_upright_1.pcd");
  EXPECT_EQ(e->mising_detect_path_,
            kMissingRoot + "litterpose_test_can/litterpose_test_can_upright_1.pcd");
  EXPECT_TRUE(boost::filesystem::is_directory(kRoot + "litterpose_test_can"));
  EXPECT_TRUE(boost::filesystem::is_directory(kMissingRoot + "litterpose_test_can"));
}

TEST(DataDirectories, EmptyTrashCodeUsesTheRoots) {
  auto e = support::make_estimator([](YAML::Node& c) {
    c["debug_choice"]["trash_code"] = "";
    c["debug_choice"]["trash_test_pose"] = "pose";
    c["debug_choice"]["file_name_suffix"] = ".ply";
  });
  EXPECT_EQ(e->trash_data_dir_, kRoot);
  EXPECT_EQ(e->trash_data_path_, kRoot + "/pose.ply");
  EXPECT_EQ(e->mising_detect_path_, kMissingRoot + "/pose.ply");
  EXPECT_TRUE(boost::filesystem::is_directory(kMissingRoot));
}

TEST(DataDirectories, ConstructingTwiceSucceeds) {
  auto first = support::make_estimator();
  std::unique_ptr<GrabPoseEstimate> second;
  EXPECT_NO_THROW(second = support::make_estimator());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->trash_data_path_, second->trash_data_path_);
  EXPECT_TRUE(boost::filesystem::is_directory(first->trash_data_dir_));
}

TEST(EulerToRotationMatrix, QuarterTurns) {
  const Eigen::Matrix3f rx = eulerToRotationMatrix(90, 0, 0);
  EXPECT_TRUE(rx.col(1).isApprox(Eigen::Vector3f::UnitZ(), 1e-6f)) << rx;
  const Eigen::Matrix3f rz = eulerToRotationMatrix(0, 0, 90);
  EXPECT_TRUE(rz.col(0).isApprox(Eigen::Vector3f::UnitY(), 1e-6f)) << rz;
  const Eigen::Matrix3f ry = eulerToRotationMatrix(0, 90, 0);
  EXPECT_TRUE(ry.col(2).isApprox(Eigen::Vector3f::UnitX(), 1e-6f)) << ry;
  EXPECT_EQ(eulerToRotationMatrix(0, 0, 0), Eigen::Matrix3f::Identity());
}

TEST(EulerToRotationMatrix, FixedAxesXThenYThenZ) {
  const double angles[][3] = {{-135, 0, 90}, {30, -40, 75}, {179, 89, -179}, {0.5, -0.25, 360}};
  for (const auto& a : angles) {
    const double k = M_PI / 180;
    const Eigen::Matrix3d expected = (Eigen::AngleAxisd(a[2] * k, Eigen::Vector3d::UnitZ()) *
                                      Eigen::AngleAxisd(a[1] * k, Eigen::Vector3d::UnitY()) *
                                      Eigen::AngleAxisd(a[0] * k, Eigen::Vector3d::UnitX()))
                                         .toRotationMatrix();
    const Eigen::Matrix3f r = eulerToRotationMatrix(a[0], a[1], a[2]);
    EXPECT_LT((r.cast<double>() - expected).cwiseAbs().maxCoeff(), 1e-6) << r;
    EXPECT_NEAR(r.determinant(), 1.0f, 1e-6f);
  }
}

// Hosts that model the arm on their own take QuorvinArm: it is the arm the estimator builds.
TEST(Construction, TheEstimatorsArmIsQuorvinArm) {
  const auto e = support::make_estimator();
  const std::pair<const double*, const double*> arrays[] = {
      {e->dh_d_, QuorvinArm::dh_d},
      {e->dh_a_, QuorvinArm::dh_a},
      {e->dh_alpha_, QuorvinArm::dh_alpha},
      {e->dh_offset_, QuorvinArm::dh_offset},
      {e->ik_ref_joints_, QuorvinArm::reference_joints},
      {e->kinematics_->dh_d_, QuorvinArm::dh_d}};
  for (const auto& [member, arm] : arrays)
    for (int i = 0; i < 6; ++i) EXPECT_EQ(member[i], arm[i]) << "element " << i;
}

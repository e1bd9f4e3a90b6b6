// The litterview program as a user starts it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <pcl/io/ply_io.h>
#include <sys/stat.h>
#include <yaml-cpp/yaml.h>

#include "support/estimator.h"
#include "support/run_program.h"

namespace {

using run_program::quote;

const std::string kProgram = LITTERVIEW_PROGRAM;
const std::string kConfig = support::default_config_path();
const std::string kDefaultCloud =
    std::string(LITTERPOSE_SOURCE_DIR) + "/data/B001PA420231018-1[0].ply";
const std::string kFixedConfig =
    "/home/halvane/WorkSpace/onWorking/halvanepro/src/halvanepro_pose_estimate/config/"
    "grab_pose_estimate_config.yaml";

bool exists(const std::string& path) {
  struct stat s;
  return ::stat(path.c_str(), &s) == 0;
}

run_program::Outcome litterview(const std::string& arguments) {
  return run_program::run(run_program::program(kProgram) + " " + arguments);
}

TEST(LitterviewProgram, MissingConfigurationNamesTheFileAndExitsOne) {
  const std::string missing = testing::TempDir() + "no_such_dir/litterpose.yaml";
  const auto r = litterview(quote(missing));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("原始点云数量"), std::string::npos);  // main never got to the cloud
}

TEST(LitterviewProgram, WithoutArgumentsAMissingFixedConfigurationExitsOne) {
  if (exists(kFixedConfig)) GTEST_SKIP() << "the fixed configuration exists on this machine";
  const auto r = litterview("");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(kFixedConfig), std::string::npos) << r.err;
}

TEST(LitterviewProgram, IncompleteConfigurationSaysAKeyIsMissing) {
  const std::string path = support::write_config(
      [](YAML::Node& c) { c["grab_pose_estimate"].remove("extend_length_max_"); });
  const auto r = litterview(quote(path));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("a mandatory key is missing"), std::string::npos) << r.err;
  // Both calibration blocks came before the failing key.
  EXPECT_NE(r.out.find("相机内参： "), std::string::npos);
}

TEST(LitterviewProgram, ConfigurationThatIsNotYamlExitsOne) {
  const std::string path = run_program::scratchPath("broken.yaml");
  std::ofstream(path) << "camera_extrinsic: [unclosed\n";
  const auto r = litterview(quote(path));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("not valid YAML"), std::string::npos) << r.err;
}

TEST(LitterviewProgram, DataDirectoryThatCannotBeCreatedExitsOne) {
  // A name longer than a directory's name can be.
  const std::string code(300, 'c');
  const std::string path =
      support::write_config([&](YAML::Node& c) { c["debug_choice"]["trash_code"] = code; });
  const auto r = litterview(quote(path));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("File name too long"), std::string::npos) << r.err;
}

TEST(LitterviewProgram, WrongCommandLineExitsTwo) {
  EXPECT_EQ(litterview("--no-such-flag").status, 2);
  EXPECT_EQ(litterview("--screenshot").status, 2);
  EXPECT_EQ(litterview("a.yaml b.ply c").status, 2);
}

TEST(LitterviewProgram, HelpPrintsTheUsageAndExitsZero) {
  for (const std::string option : {"--help", "-h"}) {
    const auto r = litterview(option + " " + quote(kDefaultCloud));
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_NE(r.out.find("usage: litterview"), std::string::npos) << r.out;
  }
}

TEST(LitterviewProgram, ScreenshotOfTheDefaultCloud) {
  const std::string png = run_program::scratchPath("litterview.png");
  const auto r = litterview("--screenshot " + quote(png) + " " + quote(kConfig) + " " +
                            quote(kDefaultCloud));
  ASSERT_EQ(r.status, 0) << r.err;

  pcl::PointCloud<pcl::PointXYZ> read;
  ASSERT_EQ(pcl::PLYReader().read(kDefaultCloud, read), 0);
  const std::string count_line =
      std::string(MAGENTA_BOLD) + "原始点云数量：" + std::to_string(read.size()) + "\n";
  EXPECT_NE(r.out.find(count_line), std::string::npos);
  EXPECT_NE(r.out.find("flash_estimate: 1"), std::string::npos);

  const std::string image = run_program::slurp(png);
  ASSERT_GT(image.size(), 8u);
  EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

// Without an X server VTK would abort: the viewer says so and exits 1 instead.
TEST(LitterviewProgram, NoDisplayExitsOneSayingSo) {
  const std::string args = "--screenshot " + quote(run_program::scratchPath("none.png")) + " " +
                           quote(kConfig) + " " + quote(kDefaultCloud);
  for (const std::string display : {"env -u DISPLAY ", "env DISPLAY=:nowhere "}) {
    const auto r = run_program::run(display + run_program::program(kProgram) + " " + args);
    EXPECT_EQ(r.status, 1) << display << r.err;
    EXPECT_NE(r.err.find("X display"), std::string::npos) << r.err;
  }
}

// A cloud that cannot be used is reported by name and reason; no window, no estimate.
TEST(LitterviewProgram, CloudThatCannotBeReadExitsTwo) {
  const std::string no_z = run_program::scratchPath("no_z.ply");
  std::ofstream(no_z) << "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                         "property float y\nend_header\n0 0\n";
  const std::string missing = testing::TempDir() + "missing.ply";
  for (const auto& [cloud, reason] : {std::pair{missing, std::string("No such file or directory")},
                                      std::pair{no_z, std::string("no vertex property z")}}) {
    const std::string png = run_program::scratchPath("unused.png");
    const auto r = litterview("--screenshot " + quote(png) + " " + quote(kConfig) + " " +
                              quote(cloud));
    EXPECT_EQ(r.status, 2) << cloud;
    EXPECT_NE(r.err.find(cloud), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("flash_estimate"), std::string::npos);
    EXPECT_FALSE(exists(png));
  }
}

TEST(LitterviewProgram, ConfigurationWithNonFiniteExtrinsicExitsTwo) {
  const std::string path = support::write_config(
      [](YAML::Node& c) { c["camera_extrinsic"]["Txyz"][2] = ".inf"; });
  const auto r = litterview(quote(path) + " " + quote(kDefaultCloud));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("camera_extrinsic.Txyz[2] = .inf: not finite"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("原始点云数量"), std::string::npos);
}

TEST(LitterviewProgram, ScreenshotThatCannotBeWrittenExitsOne) {
  const auto r = litterview("--screenshot " + quote(testing::TempDir() + "no_dir/x.png") + " " +
                            quote(kConfig) + " " + quote(kDefaultCloud));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no_dir/x.png"), std::string::npos) << r.err;
}

}  // namespace

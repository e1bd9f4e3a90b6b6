// litterpose-estimate run on the bundled clouds, as a user tunes a configuration.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>

#include "support/bundled_clouds.h"
#include "support/estimator.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;
using run_program::quote;

const std::string kData = std::string(LITTERPOSE_SOURCE_DIR) + "/data/";
const std::string kDefaultCloud = kData + "B001PA420231018-1[0].ply";

struct Record {
  std::string file;
  std::string result;  // the code, or "error"
  std::string main_axis;
  std::string reason;  // its name, or "None" for an error
};

run_program::Outcome estimate(const std::string& arguments) {
  return run_program::run(run_program::program(LITTERPOSE_ESTIMATE_PROGRAM) + " --config " +
                          quote(support::default_config_path()) + " " + arguments);
}

std::string quoted(const std::vector<std::string>& words) {
  std::string s;
  for (const auto& w : words) s += " " + quote(w);
  return s;
}

std::string unhex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// The records of standard output after a strict check of every line; fails the test
// when a line is not a valid record.
std::vector<Record> records(const std::string& out) {
  const std::string path = run_program::scratchPath("estimates.json");
  std::ofstream(path, std::ios::binary) << out;
  const auto check = run_program::run(quote(PYTHON_PROGRAM) + " " + quote(JSON_LINES_CHECKER) +
                                      " estimates " + quote(path));
  EXPECT_EQ(check.status, 0) << check.err;
  std::vector<Record> result;
  std::istringstream lines(check.out);
  std::string hex;
  Record r;
  while (lines >> hex >> r.result >> r.main_axis >> r.reason) {
    r.file = unhex(hex);
    result.push_back(r);
  }
  return result;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(LitterposeEstimate, BundledCloudsGiveTheCodesTheirPlacesCallFor) {
  const auto files = support::bundledCloudPaths();
  ASSERT_GE(files.size(), 10u);
  const auto r = estimate("--quiet" + quoted(files));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto recs = records(r.out);
  ASSERT_EQ(recs.size(), files.size());

  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string name = fs::path(files[i]).filename().string();
    SCOPED_TRACE(name);
    EXPECT_EQ(recs[i].file, files[i]);
    // Within reach of a grasp from above or, for the upright can, from the side.
    if (name == "B001PA420231018-1[0].ply" || contains(name, "_reach_") ||
        contains(name, "_side-grasp_"))
      EXPECT_EQ(recs[i].result, "1");
    // Bearings beyond 60 degrees leave the workspace sector.
    else if (contains(name, "too-far-left") || contains(name, "too-far-right"))
      EXPECT_EQ(recs[i].result, "41");
    // Lying objects outside the distance window of grasps from above.
    else if (contains(name, "too-near") || contains(name, "too-far_"))
      EXPECT_EQ(recs[i].result, "101");
    // Upright but nearer than the window of grasps from the side.
    else if (contains(name, "can-standing"))
      EXPECT_EQ(recs[i].result, "311");
    else
      ADD_FAILURE() << "no expectation for this cloud";
    const std::map<std::string, std::string> reasons = {
        {"1", "found"}, {"41", "outside_workspace"}, {"101", "outside_window"},
        {"311", "outside_window"}};
    EXPECT_EQ(recs[i].reason, reasons.at(recs[i].result));
  }
}

TEST(LitterposeEstimate, EveryEntryAnswersWithItsOwnCodes) {
  const auto files = support::bundledCloudPaths();
  const std::set<std::string> initial_codes = {"1", "11", "41", "1111"};
  const std::set<std::string> main_codes = {"1",   "11",  "101", "102", "103", "104",
                                            "111", "201", "202", "203", "204", "301",
                                            "302", "303", "304", "311", "312", "313",
                                            "314", "1111"};
  for (const auto& [entry, codes] :
       {std::pair{"initial", initial_codes}, std::pair{"main", main_codes}}) {
    SCOPED_TRACE(entry);
    const auto r = estimate(std::string("--quiet --entry ") + entry + quoted(files));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& rec : records(r.out)) EXPECT_EQ(codes.count(rec.result), 1u) << rec.file;
  }
}

TEST(LitterposeEstimate, TrashTypeReachesTheEstimator) {
  // No strategy exists for trash type 7: the main entry says so after the shape analysis.
  const auto r = estimate("--quiet --entry main --trash-type 7 " + quote(kDefaultCloud));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto recs = records(r.out);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].result, "111");
  EXPECT_EQ(recs[0].main_axis, "1");  // the lying bottle
  EXPECT_EQ(recs[0].reason, "unknown_trash_type");
  EXPECT_TRUE(contains(r.out, "\"reason\":\"unknown trash type 7:")) << r.out;
}

TEST(LitterposeEstimate, LibraryLogGoesToStandardErrorOrNowhere) {
  const auto loud = estimate(quote(kDefaultCloud));
  ASSERT_EQ(loud.status, 0) << loud.err;
  EXPECT_EQ(records(loud.out).size(), 1u);  // standard output is JSON only
  EXPECT_TRUE(contains(loud.err, "CommonGrabPoseFunc"));
  EXPECT_TRUE(contains(loud.err, "相机外参齐次变换矩阵："));
  EXPECT_TRUE(contains(loud.err, "grab_pose.orientation: "));  // printf lines too

  const auto quiet = estimate("--quiet " + quote(kDefaultCloud));
  ASSERT_EQ(quiet.status, 0);
  EXPECT_EQ(records(quiet.out).size(), 1u);
  EXPECT_FALSE(contains(quiet.err, "CommonGrabPoseFunc"));
  EXPECT_FALSE(contains(quiet.err, "grab_pose.orientation: "));
}

TEST(LitterposeEstimate, OddFileNamesStayValidJson) {
  const std::string dir = run_program::scratchPath("odd") + "/";
  fs::create_directories(dir);
  const std::string odd = dir + "odd \"quote\" back\\slash\ttab\nline ä.ply";
  const std::string not_utf8 = dir + "latin1 \xe9t\xe9.ply";
  fs::copy_file(kDefaultCloud, odd);
  fs::copy_file(kDefaultCloud, not_utf8);

  const auto r = estimate("--quiet " + quote(odd) + " " + quote(not_utf8));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto recs = records(r.out);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].file, odd);
  EXPECT_EQ(recs[0].result, "1");
  EXPECT_EQ(recs[1].file, dir + "latin1 \xef\xbf\xbdt\xef\xbf\xbd.ply");
  EXPECT_EQ(recs[1].result, "1");
}

TEST(LitterposeEstimate, UnreadableFileIsReportedAndTheOthersStillRun) {
  const std::string missing = testing::TempDir() + "no such cloud.ply";
  const std::string not_ply = run_program::scratchPath("not.ply");
  std::ofstream(not_ply) << "this is not a point cloud\n";
  const auto r = estimate("--quiet " + quote(missing) + " " + quote(not_ply) + " " +
                          quote(kDefaultCloud));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, missing)) << r.err;
  EXPECT_TRUE(contains(r.err, not_ply)) << r.err;
  const auto recs = records(r.out);
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[0].result, "error");
  EXPECT_EQ(recs[1].result, "error");
  EXPECT_EQ(recs[2].result, "1");
}

TEST(LitterposeEstimate, AnExceptionOfTheEstimatorIsRecordedAndExitsOne) {
  // Without preparation the main entry takes any cloud to the principal component
  // analysis, which throws for fewer than three points.
  const std::string config = support::write_config(
      [](YAML::Node& c) { c["debug_choice"]["enable_process_cloud"] = false; });
  const std::string two_points = run_program::scratchPath("two.ply");
  std::ofstream(two_points) << "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n"
                               "property float y\nproperty float z\nend_header\n"
                               "0 0 0.5\n0.01 0 0.5\n";
  const auto r = run_program::run(run_program::program(LITTERPOSE_ESTIMATE_PROGRAM) +
                                  " --quiet --config " + quote(config) + " --entry main " +
                                  quote(two_points) + " " + quote(kDefaultCloud));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, two_points)) << r.err;
  const auto recs = records(r.out);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].result, "error");
  EXPECT_NE(recs[1].result, "error");
}

TEST(LitterposeEstimate, WrongArgumentsExitTwoWithAMessage) {
  const std::string program = run_program::program(LITTERPOSE_ESTIMATE_PROGRAM);
  const std::string cloud = quote(kDefaultCloud);
  for (const std::string& args :
       {std::string("--entry sideways ") + cloud, std::string("--trash-type three ") + cloud,
        std::string("--trash-type 2147483648 ") + cloud, std::string("--bogus ") + cloud,
        std::string(""), std::string("--entry")}) {
    const auto r = estimate(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_TRUE(contains(r.err, "litterpose-estimate: ")) << args;
    EXPECT_TRUE(r.out.empty()) << args;
  }
  // Every trash type an int holds is one to ask for (the ROS messages carry an int32).
  const auto lowest = estimate("--quiet --trash-type -2147483648 " + cloud);
  EXPECT_EQ(lowest.status, 0) << lowest.err;
  EXPECT_TRUE(contains(lowest.out, "\"trash_type\":-2147483648,")) << lowest.out;
  const auto no_config = run_program::run(program + " " + cloud);
  EXPECT_EQ(no_config.status, 2);
  EXPECT_TRUE(contains(no_config.err, "--config"));

  const std::string missing = testing::TempDir() + "missing.yaml";
  const auto bad_config =
      run_program::run(program + " --quiet --config " + quote(missing) + " " + cloud);
  EXPECT_EQ(bad_config.status, 2);
  EXPECT_TRUE(contains(bad_config.err, missing)) << bad_config.err;
  EXPECT_TRUE(bad_config.out.empty());
}

TEST(LitterposeEstimate, HelpPrintsTheUsageAndExitsZero) {
  for (const std::string option : {"--help", "-h"}) {
    const auto r = run_program::run(run_program::program(LITTERPOSE_ESTIMATE_PROGRAM) + " " + option);
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_EQ(r.out.rfind("usage: litterpose-estimate", 0), 0u) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
  }
}

// The default cloud with its coordinates stored as doubles, as numpy and Open3D write.
std::string doublePly() {
  pcl::PointCloud<pcl::PointXYZ> cloud;
  EXPECT_EQ(pcl::PLYReader().read(kDefaultCloud, cloud), 0);
  std::string text = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                     std::to_string(cloud.size()) +
                     "\nproperty double x\nproperty double y\nproperty double z\nend_header\n";
  for (const auto& p : cloud)
    for (const double c : {double{p.x}, double{p.y}, double{p.z}})
      text.append(reinterpret_cast<const char*>(&c), sizeof c);
  const std::string path = run_program::scratchPath("double.ply");
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string lineOf(const std::string& out, std::size_t index) {
  std::istringstream lines(out);
  std::string line;
  for (std::size_t i = 0; i <= index; ++i) std::getline(lines, line);
  return line;
}

// The same capture stored as float PLY, double PLY and PCD is the same estimate.
TEST(LitterposeEstimate, DoubleAndPcdCloudsAreEstimatedLikeTheFloatOriginal) {
  pcl::PointCloud<pcl::PointXYZ> cloud;
  ASSERT_EQ(pcl::PLYReader().read(kDefaultCloud, cloud), 0);
  const std::string pcd = run_program::scratchPath("cloud.pcd");
  ASSERT_EQ(pcl::PCDWriter().writeBinary(pcd, cloud), 0);

  const auto r = estimate("--quiet " + quote(kDefaultCloud) + " " + quote(doublePly()) + " " +
                          quote(pcd));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto recs = records(r.out);
  ASSERT_EQ(recs.size(), 3u);
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(recs[i].result, "1");
    // Everything after the file name is the same, elapsed time aside.
    std::string original = lineOf(r.out, 0), copy = lineOf(r.out, i);
    const auto tail = [](const std::string& line) {
      return line.substr(line.find("\"entry\""),
                         line.find("\"elapsed_ms\"") - line.find("\"entry\""));
    };
    EXPECT_EQ(tail(copy), tail(original));
  }
}

TEST(LitterposeEstimate, CloudWithoutCoordinatesIsAnErrorNotAnEstimate) {
  const std::string no_z = run_program::scratchPath("no_z.ply");
  std::ofstream(no_z) << "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n"
                         "property float y\nend_header\n0 0\n1 1\n";
  const auto r = estimate("--quiet " + quote(no_z) + " " + quote(kDefaultCloud));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, no_z)) << r.err;
  EXPECT_TRUE(contains(r.err, "no vertex property z")) << r.err;
  const auto recs = records(r.out);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].result, "error");
  EXPECT_TRUE(contains(lineOf(r.out, 0), "no vertex property z"));
  EXPECT_EQ(recs[1].result, "1");
}

TEST(LitterposeEstimate, ConfigurationWithNonFiniteCalibrationIsRefused) {
  for (const auto& [map, key] : {std::pair{"camera_extrinsic", "Rxyz"},
                                 std::pair{"camera_intrinsic", "fx"}}) {
    SCOPED_TRACE(key);
    const std::string config = support::write_config([&](YAML::Node& c) {
      if (c[map][key].IsSequence()) c[map][key][0] = ".nan";
      else c[map][key] = ".inf";
    });
    const auto r = run_program::run(run_program::program(LITTERPOSE_ESTIMATE_PROGRAM) +
                                    " --quiet --config " + quote(config) + " " +
                                    quote(kDefaultCloud));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, config)) << r.err;
    EXPECT_TRUE(contains(r.err, "not finite") || contains(r.err, "non-finite")) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

TEST(LitterposeEstimate, MeaningFollowsTheEntry) {
  const std::string too_near = kData + "carton-box_too-near_0.15m_0deg.ply";
  const auto common = estimate("--quiet " + quote(too_near));
  ASSERT_EQ(common.status, 0) << common.err;
  EXPECT_TRUE(
      contains(common.out, "\"result\":101,\"meaning\":\"outside the vertical grab space\""))
      << common.out;
  const auto main = estimate("--quiet --entry main " + quote(too_near));
  ASSERT_EQ(main.status, 0) << main.err;
  EXPECT_TRUE(contains(main.out, "\"result\":301,\"meaning\":\"too near (trash type 3, lying)\""))
      << main.out;
}

}  // namespace
